// Root of the model-object class tree: matrices of doubles addressed
// m[row][col] (and m[i][j][k]) with checked, zeroed allocation, and handles
// that free such a matrix or stack when they go.
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
  virtual void Free3DMatrix(double*** table, int i_lo, int i_hi, int j_lo, int j_hi, int k_hi, int table_hi);
  virtual double** matrix(int row_lo, int row_hi, int col_lo, int col_hi, int table_hi);
  virtual void FreeMatrix(double** table, int row_lo, int row_hi, int col_lo, int col_hi, int table_hi);
  virtual void* AllocateZeroed(std::size_t byte_count, int error_number);
  [[noreturn]] virtual void RaiseAllocationError(int error_number);
  virtual double CountHalvings(double x);

  int ready = 0;
  MessageStream* messages = nullptr;
  std::string name;
};

// A matrix of memory_handling::matrix (rows row_lo..row_hi, columns 0..col_hi)
// that frees itself with the bounds it was made with.
class owned_matrix {
 public:
  owned_matrix() = default;
  owned_matrix(double** data, int row_lo, int row_hi, int col_hi)
      : data_(data), row_lo_(row_lo), row_hi_(row_hi), col_hi_(col_hi) {}
  ~owned_matrix() { reset(); }
  owned_matrix(const owned_matrix&) = delete;
  owned_matrix& operator=(const owned_matrix&) = delete;
  owned_matrix(owned_matrix&& other) noexcept { *this = std::move(other); }
  owned_matrix& operator=(owned_matrix&& other) noexcept;

  double** get() const { return data_; }
  double* operator[](int row) const { return data_[row]; }
  int col_hi() const { return col_hi_; }
  explicit operator bool() const { return data_ != nullptr; }
  void reset();
  // Hands the matrix over to the caller, who frees it with the same bounds.
  double** release() { return std::exchange(data_, nullptr); }

 private:
  double** data_ = nullptr;
  int row_lo_ = 0;
  int row_hi_ = 0;
  int col_hi_ = 0;
};

// A [row][column][level] stack of memory_handling::Matrix3D that frees itself
// with the bounds it was made with.
class owned_stack {
 public:
  owned_stack() = default;
  owned_stack(double*** data, int row_lo, int row_hi, int col_hi, int level_hi)
      : data_(data), row_lo_(row_lo), row_hi_(row_hi), col_hi_(col_hi), level_hi_(level_hi) {}
  ~owned_stack() { reset(); }
  owned_stack(const owned_stack&) = delete;
  owned_stack& operator=(const owned_stack&) = delete;
  owned_stack(owned_stack&& other) noexcept { *this = std::move(other); }
  owned_stack& operator=(owned_stack&& other) noexcept;

  double*** get() const { return data_; }
  void reset();
  // Hands the stack over to the caller, who frees it with the same bounds.
  double*** release() { return std::exchange(data_, nullptr); }

 private:
  double*** data_ = nullptr;
  int row_lo_ = 0;
  int row_hi_ = 0;
  int col_hi_ = 0;
  int level_hi_ = 0;
};

}  // namespace velmo
