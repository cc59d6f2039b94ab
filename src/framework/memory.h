// Root of the model-object class tree: matrices of doubles addressed
// m[row][col] (and m[i][j][k]) with checked, zeroed allocation.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velmo {

class MessageStream;

// Largest single block a matrix may allocate.
inline constexpr long long kMaxBlockBytes = 2147480000LL;
// Bookkeeping bytes the block sizing reserves per block.
inline constexpr long long kBlockOverhead = 24;

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

 private:
  [[noreturn]] void Fatal(const char* text, int code);
};

}  // namespace velmo
