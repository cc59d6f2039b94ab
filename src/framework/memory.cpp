// Matrices and stacks of doubles: block sizing, checked zeroed allocation, freeing, owning handles.
#include "framework/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

#include "framework/diagnostics.h"

namespace velmo {
namespace {

constexpr int kMatrixAllocationCode = 1;

// Blocks of at least this size come straight from the kernel, mapped and
// zeroed in one call: the heap would either clear them again (a block it
// reuses) or take one page fault per 4 KiB while the grid is first filled,
// and a freed block goes back to the system at once. Builds under the
// address sanitizer keep the heap, which is what catches a read of a freed
// grid there.
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
constexpr std::size_t kMappedBlockBytes = std::size_t{256} * 1024;

// A zeroed block of `bytes`, null when there is no memory for it.
double* AllocateBlock(std::size_t bytes) {
  if (kMapLargeBlocks && bytes >= kMappedBlockBytes) {
    void* block =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return block == MAP_FAILED ? nullptr : static_cast<double*>(block);
  }
  return static_cast<double*>(std::calloc(bytes, 1));
}

// Frees a block of AllocateBlock with the size it was made with.
void FreeBlock(double* block, std::size_t bytes) {
  if (!block) return;
  if (kMapLargeBlocks && bytes >= kMappedBlockBytes) {
    munmap(block, bytes);
    return;
  }
  std::free(block);
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
  auto** table = static_cast<double**>(std::calloc(static_cast<size_t>(top) + 1, sizeof(double*)));
  const long long row_count = std::max(row_hi - row_lo + 1, 0);
  if (!table) RaiseMemoryError(messages, name, MatrixText(row_count, col_hi + 1LL));
  const size_t row_length = static_cast<size_t>(col_hi) + 1;
  int row = row_lo;
  const auto block_bytes = [&](int rows) { return static_cast<size_t>(rows) * row_length * sizeof(double); };
  for (int rows : blocks) {
    double* block = AllocateBlock(block_bytes(rows));
    if (!block) {
      // The blocks made so far go (each is owned by its first row), so that
      // the report can be written.
      for (int first = row_lo, k = 0; first < row; first += blocks[static_cast<size_t>(k++)])
        FreeBlock(table[first], block_bytes(blocks[static_cast<size_t>(k)]));
      std::free(table);
      RaiseMemoryError(messages, name, MatrixText(row_count, col_hi + 1LL));
    }
    for (int r = 0; r < rows; ++r) table[row + r] = block + static_cast<size_t>(r) * row_length;
    row += rows;
  }
  return table;
}

void memory_handling::FreeMatrix(double** table, int row_lo, int row_hi, int /*col_lo*/, int col_hi,
                                 int /*table_hi*/) {
  if (!table) return;
  const std::vector<int> blocks = MatrixBlockRows(row_lo, row_hi, col_hi);
  if (blocks.empty() && row_lo <= row_hi)
    RaiseFatal(messages, "FATAL: too long matrix rows", kMatrixAllocationCode);
  const size_t row_length = static_cast<size_t>(col_hi) + 1;
  int row = row_lo;
  for (int rows : blocks) {
    FreeBlock(table[row], static_cast<size_t>(rows) * row_length * sizeof(double));
    table[row] = nullptr;
    row += rows;
  }
  if (row_lo > 0) std::free(table[0]);
  std::free(table);
}

double*** memory_handling::Matrix3D(int i_lo, int i_hi, int /*j_lo*/, int j_hi, int k_hi, int table_hi) {
  const int top = std::max(i_hi, table_hi);
  auto*** table = static_cast<double***>(std::calloc(static_cast<size_t>(top) + 1, sizeof(double**)));
  const auto failed = [&](double*** allocated) {
    Free3DMatrix(allocated, i_lo, i_hi, 0, j_hi, k_hi, table_hi);
    RaiseMemoryError(messages, name,
                     "stack of " + std::to_string(std::max(i_hi - i_lo + 1, 0)) + " rows of " +
                         std::to_string(j_hi + 1LL) + " columns of " + std::to_string(k_hi + 1LL) +
                         " levels");
  };
  if (!table) failed(nullptr);
  const size_t depth = static_cast<size_t>(k_hi) + 1;
  for (int i = i_lo; i <= i_hi; ++i) {
    auto** rows = static_cast<double**>(std::calloc(static_cast<size_t>(j_hi) + 1, sizeof(double*)));
    if (!rows) failed(table);
    auto* block = static_cast<double*>(std::calloc((static_cast<size_t>(j_hi) + 1) * depth, sizeof(double)));
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

void memory_handling::Free3DMatrix(double*** table, int i_lo, int i_hi, int /*j_lo*/, int /*j_hi*/,
                                   int /*k_hi*/, int /*table_hi*/) {
  if (!table) return;
  for (int i = i_lo; i <= i_hi; ++i) {
    if (!table[i]) continue;
    std::free(table[i][0]);
    std::free(table[i]);
    table[i] = nullptr;
  }
  if (i_lo > 0 && table[0]) std::free(table[0]);
  std::free(table);
}

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
    row_lo_ = other.row_lo_;
    row_hi_ = other.row_hi_;
    col_hi_ = other.col_hi_;
  }
  return *this;
}

void owned_matrix::reset() {
  if (!data_) return;
  memory_handling memory;
  memory.FreeMatrix(data_, row_lo_, row_hi_, 0, col_hi_, 0);
  data_ = nullptr;
}

owned_stack& owned_stack::operator=(owned_stack&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    row_lo_ = other.row_lo_;
    row_hi_ = other.row_hi_;
    col_hi_ = other.col_hi_;
    level_hi_ = other.level_hi_;
  }
  return *this;
}

void owned_stack::reset() {
  if (!data_) return;
  memory_handling memory;
  memory.Free3DMatrix(data_, row_lo_, row_hi_, 1, col_hi_, level_hi_, 0);
  data_ = nullptr;
}

}  // namespace velmo
