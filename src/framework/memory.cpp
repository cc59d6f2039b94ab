// Matrices and stacks of doubles: block sizing, checked zeroed allocation, freeing, owning handles.
#include "framework/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "framework/diagnostics.h"

namespace velmo {
namespace {

constexpr int kMatrixAllocationCode = 1;

// Large blocks come straight from the kernel, mapped and zeroed in one call:
// the heap would either clear them again (a block it reuses) or take one page
// fault per 4 KiB while the grid is first filled, and a freed block goes back
// to the system at once. Builds under the address sanitizer keep the heap,
// which is what catches a read of a freed grid there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBlocks = false;
#else
constexpr bool kMapLargeBlocks = true;
#endif
#else
constexpr bool kMapLargeBlocks = true;
#endif

// What a block knows of itself, in the cache line before its data: a mapping
// must be returned with its exact size, and the rows tell a matrix's free
// where the next block starts. A cache line keeps the data as aligned as the
// rows of a block need.
struct block_header {
  std::size_t bytes;  // taken, the header included
  int rows;           // of the matrix held in the block
  bool mapped;
};
constexpr std::size_t kBlockHeaderBytes = 64;
static_assert(sizeof(block_header) <= kBlockHeaderBytes);

// A zeroed block of `data_bytes` after its header, holding `rows` rows; null
// when there is no memory for it.
double* AllocateBlock(std::size_t data_bytes, int rows, bool map_large) {
  const std::size_t bytes = data_bytes + kBlockHeaderBytes;
  const bool mapped = map_large && data_bytes >= kMappedBlockBytes;
  void* memory = nullptr;
  if (mapped) {
    memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
  } else {
    memory = std::calloc(bytes, 1);
    if (!memory) return nullptr;
  }
  ::new (memory) block_header{bytes, rows, mapped};
  return reinterpret_cast<double*>(static_cast<char*>(memory) + kBlockHeaderBytes);
}

block_header* HeaderOf(double* block) {
  return std::launder(reinterpret_cast<block_header*>(reinterpret_cast<char*>(block) - kBlockHeaderBytes));
}

// Frees a block of AllocateBlock as it was taken.
void FreeBlock(double* block) {
  if (!block) return;
  block_header* header = HeaderOf(block);
  if (header->mapped) {
    munmap(header, header->bytes);
  } else {
    std::free(header);
  }
}

// The entries a pointer table of a matrix or stack uses, kept before its
// first entry so that freeing walks exactly what was made.
struct table_header {
  int first;
  int last;
};
constexpr std::size_t kTableHeaderBytes = 16;
static_assert(sizeof(table_header) <= kTableHeaderBytes);

// A zeroed table of `entries` pointers of type T that uses entries
// first..last; null when there is no memory for it.
template <typename T>
T* AllocateTable(std::size_t entries, int first, int last) {
  void* memory = std::calloc(entries * sizeof(T) + kTableHeaderBytes, 1);
  if (!memory) return nullptr;
  ::new (memory) table_header{first, last};
  return reinterpret_cast<T*>(static_cast<char*>(memory) + kTableHeaderBytes);
}

template <typename T>
table_header* TableHeaderOf(T* table) {
  return std::launder(reinterpret_cast<table_header*>(reinterpret_cast<char*>(table) - kTableHeaderBytes));
}

template <typename T>
void FreeTable(T* table) {
  std::free(TableHeaderOf(table));
}

// Frees the blocks of a matrix, also one whose blocks were not all made.
void FreeMatrixBlocks(double** table) {
  if (!table) return;
  const table_header rows = *TableHeaderOf(table);
  for (int row = rows.first; row <= rows.last && table[row];) {
    double* block = table[row];
    row += HeaderOf(block)->rows;
    FreeBlock(block);
  }
  FreeTable(table);
}

// Frees a stack, also one whose rows were not all made.
void FreeStack(double*** table) {
  if (!table) return;
  const table_header rows = *TableHeaderOf(table);
  for (int i = rows.first; i <= rows.last; ++i) {
    if (!table[i]) continue;
    FreeBlock(table[i][0]);
    std::free(table[i]);
  }
  FreeTable(table);
}

long long PowerOfTwo(double exponent) { return 1LL << static_cast<int>(exponent); }

double HalvingsOf(double x) {
  double n = 0;
  while (x > 1.0) {
    x /= 2.0;
    n += 1.0;
  }
  return n;
}

}  // namespace

std::vector<int> MatrixBlockRows(int row_lo, int row_hi, int col_hi) {
  const long long row_bytes = 8LL * (col_hi + 1);
  std::vector<int> blocks;
  if (static_cast<unsigned long long>(row_bytes + kBlockOverhead) >
      static_cast<unsigned long long>(kMaxBlockBytes))
    return blocks;
  const long long total = row_bytes * (row_hi - row_lo + 2);
  const long long tenth = static_cast<long long>(total * 0.1);
  long long remaining = total;
  int row = row_lo;
  while (row <= row_hi) {
    const long long k = static_cast<long long>(HalvingsOf(static_cast<double>(remaining + kBlockOverhead)));
    const long long half = k > 0 ? PowerOfTwo(static_cast<double>(k - 1)) : 0;
    if ((remaining <= tenth && PowerOfTwo(static_cast<double>(k)) < kMaxBlockBytes) ||
        row_bytes + kBlockOverhead > half) {
      blocks.push_back(row_hi - row + 1);
      break;
    }
    int rows = static_cast<int>(std::min(half - kBlockOverhead, kMaxBlockBytes) / row_bytes);
    rows = std::min(rows, row_hi - row + 1);
    blocks.push_back(rows);
    row += rows;
    remaining = static_cast<long long>(row_hi - row + 1) * row_bytes;
    if (remaining <= 0) break;
  }
  return blocks;
}

void RaiseMemoryError(MessageStream* messages, const std::string& owner, const std::string& what) {
  if (messages) *messages << "FATAL: memory allocation error in " << owner << " (" << what << ")[end-entry]";
  throw ErrorCode{kMemoryErrorCode};
}

double memory_handling::CountHalvings(double x) { return HalvingsOf(x); }

bool memory_handling::LargeBlocksMappedByDefault() { return kMapLargeBlocks; }

namespace {

std::string MatrixText(long long rows, long long values) {
  return "matrix of " + std::to_string(rows) + " rows of " + std::to_string(values) + " values";
}

}  // namespace

double** memory_handling::matrix(int row_lo, int row_hi, int /*col_lo*/, int col_hi, int table_hi) {
  const std::vector<int> blocks = MatrixBlockRows(row_lo, row_hi, col_hi);
  if (blocks.empty() && row_lo <= row_hi)
    RaiseFatal(messages, "FATAL: too long matrix rows", kMatrixAllocationCode);
  const int top = std::max(row_hi, table_hi);
  auto** table = AllocateTable<double*>(static_cast<size_t>(top) + 1, row_lo, row_hi);
  const long long row_count = std::max(row_hi - row_lo + 1, 0);
  if (!table) RaiseMemoryError(messages, name, MatrixText(row_count, col_hi + 1LL));
  const size_t row_length = static_cast<size_t>(col_hi) + 1;
  int row = row_lo;
  for (int rows : blocks) {
    double* block =
        AllocateBlock(static_cast<size_t>(rows) * row_length * sizeof(double), rows, map_large_blocks);
    if (!block) {
      // The blocks made so far go, so that the report can be written.
      FreeMatrixBlocks(table);
      RaiseMemoryError(messages, name, MatrixText(row_count, col_hi + 1LL));
    }
    for (int r = 0; r < rows; ++r) table[row + r] = block + static_cast<size_t>(r) * row_length;
    row += rows;
  }
  return table;
}

void memory_handling::FreeMatrix(double** table) { FreeMatrixBlocks(table); }

double*** memory_handling::Matrix3D(int i_lo, int i_hi, int /*j_lo*/, int j_hi, int k_hi, int table_hi) {
  const int top = std::max(i_hi, table_hi);
  auto*** table = AllocateTable<double**>(static_cast<size_t>(top) + 1, i_lo, i_hi);
  const auto failed = [&](double*** allocated) {
    FreeStack(allocated);
    RaiseMemoryError(messages, name,
                     "stack of " + std::to_string(std::max(i_hi - i_lo + 1, 0)) + " rows of " +
                         std::to_string(j_hi + 1LL) + " columns of " + std::to_string(k_hi + 1LL) +
                         " levels");
  };
  if (!table) failed(nullptr);
  const size_t depth = static_cast<size_t>(k_hi) + 1;
  const size_t block_bytes = (static_cast<size_t>(j_hi) + 1) * depth * sizeof(double);
  for (int i = i_lo; i <= i_hi; ++i) {
    auto** rows = static_cast<double**>(std::calloc(static_cast<size_t>(j_hi) + 1, sizeof(double*)));
    if (!rows) failed(table);
    double* block = AllocateBlock(block_bytes, 1, map_large_blocks);
    if (!block) {
      std::free(rows);
      failed(table);
    }
    // Entry 0 owns the block; entries 1.. address it by column.
    for (int j = 0; j <= j_hi; ++j) rows[j] = block + static_cast<size_t>(j) * depth;
    table[i] = rows;
  }
  return table;
}

void memory_handling::Free3DMatrix(double*** table) { FreeStack(table); }

void* memory_handling::AllocateZeroed(std::size_t byte_count, int error_number) {
  void* memory = std::calloc(byte_count, 1);
  if (!memory) RaiseAllocationError(error_number);
  return memory;
}

void memory_handling::RaiseAllocationError(int error_number) {
  if (messages)
    *messages << "FATAL: memory allocation error in " << name << " (" << error_number << "[end-entry]";
  throw ErrorCode{kMemoryErrorCode};
}

owned_matrix& owned_matrix::operator=(owned_matrix&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

void owned_matrix::reset() { FreeMatrixBlocks(std::exchange(data_, nullptr)); }

owned_stack& owned_stack::operator=(owned_stack&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

void owned_stack::reset() { FreeStack(std::exchange(data_, nullptr)); }

}  // namespace velmo
