// A small matrix for tests, addressed m[row][col] like the model's grids:
// rows lo..hi, columns 0..cols, one contiguous block.
#pragma once

#include <cstddef>
#include <vector>

namespace velmo::test {

class test_matrix {
 public:
  test_matrix(int lo, int hi, int cols, double fill = 0.0)
      : rows_(static_cast<size_t>(hi) + 1, nullptr),
        data_(static_cast<size_t>(hi - lo + 1) * static_cast<size_t>(cols + 1), fill) {
    for (int r = lo; r <= hi; ++r)
      rows_[static_cast<size_t>(r)] = &data_[static_cast<size_t>(r - lo) * (cols + 1)];
  }
  double** get() { return rows_.data(); }
  double* operator[](int r) { return rows_[static_cast<size_t>(r)]; }

 private:
  std::vector<double*> rows_;
  std::vector<double> data_;
};

}  // namespace velmo::test
