// Root of the model-object class tree: matrices of doubles addressed
// m[row][col] (and m[i][j][k]) with checked, zeroed allocation, and handles
// that free such a matrix or stack when they go. A matrix or stack records
// its own bounds and block sizes, so freeing takes nothing but the pointer.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace velmo {

class MessageStream;

// Largest single block a matrix may allocate.
inline constexpr long long kMaxBlockBytes = 2147480000LL;
// Bookkeeping bytes the block sizing reserves per block.
inline constexpr long long kBlockOverhead = 24;
// Blocks of at least this size are mapped from the system rather than taken
// from the heap (where `memory_handling::map_large_blocks` allows it).
inline constexpr std::size_t kMappedBlockBytes = std::size_t{256} * 1024;

// Code of a run that ends because memory could not be allocated.
inline constexpr int kMemoryErrorCode = 81;

// Logs "FATAL: memory allocation error in <owner> (<what>)" and throws 81:
// the one report of every allocation that fails, naming the module and what
// was being allocated.
[[noreturn]] void RaiseMemoryError(MessageStream* messages, const std::string& owner,
                                   const std::string& what);

// Number of rows per data block that `memory_handling::matrix` uses for a
// matrix of rows row_lo..row_hi with col_hi + 1 doubles per row. Returns an
// empty list when a single row is too long.
std::vector<int> MatrixBlockRows(int row_lo, int row_hi, int col_hi);

class memory_handling {
 public:
  memory_handling() = default;
  explicit memory_handling(MessageStream* stream) : messages(stream) {}
  virtual ~memory_handling() = default;
  memory_handling(const memory_handling&) = delete;
  memory_handling& operator=(const memory_handling&) = delete;

  virtual double*** Matrix3D(int i_lo, int i_hi, int j_lo, int j_hi, int k_hi, int table_hi);
  // Frees a stack of Matrix3D; null does nothing.
  virtual void Free3DMatrix(double*** table);
  virtual double** matrix(int row_lo, int row_hi, int col_lo, int col_hi, int table_hi);
  // Frees a matrix of `matrix`; null does nothing.
  virtual void FreeMatrix(double** table);
  virtual void* AllocateZeroed(std::size_t byte_count, int error_number);
  [[noreturn]] virtual void RaiseAllocationError(int error_number);
  virtual double CountHalvings(double x);

  int ready = 0;
  MessageStream* messages = nullptr;
  std::string name;
  // Whether blocks of kMappedBlockBytes and more that this object makes are
  // mapped from the system. Builds under the address sanitizer take them
  // from the heap, where a read of a freed grid is caught; a test sets this
  // to try the mapped blocks there as well. Freeing does not depend on it.
  bool map_large_blocks = LargeBlocksMappedByDefault();

 private:
  static bool LargeBlocksMappedByDefault();
};

// A matrix of memory_handling::matrix that frees itself when it goes.
class owned_matrix {
 public:
  owned_matrix() = default;
  explicit owned_matrix(double** data) : data_(data) {}
  ~owned_matrix() { reset(); }
  owned_matrix(const owned_matrix&) = delete;
  owned_matrix& operator=(const owned_matrix&) = delete;
  owned_matrix(owned_matrix&& other) noexcept { *this = std::move(other); }
  owned_matrix& operator=(owned_matrix&& other) noexcept;

  double** get() const { return data_; }
  double* operator[](int row) const { return data_[row]; }
  explicit operator bool() const { return data_ != nullptr; }
  void reset();
  // Hands the matrix over to the caller, who frees it with FreeMatrix.
  double** release() { return std::exchange(data_, nullptr); }

 private:
  double** data_ = nullptr;
};

// A [row][column][level] stack of memory_handling::Matrix3D that frees itself
// when it goes.
class owned_stack {
 public:
  owned_stack() = default;
  explicit owned_stack(double*** data) : data_(data) {}
  ~owned_stack() { reset(); }
  owned_stack(const owned_stack&) = delete;
  owned_stack& operator=(const owned_stack&) = delete;
  owned_stack(owned_stack&& other) noexcept { *this = std::move(other); }
  owned_stack& operator=(owned_stack&& other) noexcept;

  double*** get() const { return data_; }
  void reset();
  // Hands the stack over to the caller, who frees it with Free3DMatrix.
  double*** release() { return std::exchange(data_, nullptr); }

 private:
  double*** data_ = nullptr;
};

}  // namespace velmo
