// The last grids of a variable, one per hour at most, for the mean of each
// cell over them (the snow canopy's daily mean temperature). The mean comes
// from a running sum, so a cell costs one division however many grids the
// stack holds.
#pragma once

#include <deque>

#include "framework/memory.h"

namespace velmo {

// Grids a stack keeps for steps of `step_minutes`: one a step over a day,
// at least one and, since it takes one grid an hour, at most 24.
int GridStackCapacity(double step_minutes);

class GridStack : public memory_handling {
 public:
  // A stack of at most `capacity` (at least 1) grids of rows
  // first_row..last_row and columns 1..ncols.
  GridStack(int capacity, int first_row, int last_row, int ncols);

  // The matrix to fill for the next Push: when the stack is full its oldest
  // grid (which leaves the stack), else a new one.
  owned_matrix Spare();
  // Appends `grid`; beyond the capacity the oldest grid is dropped.
  void Push(owned_matrix grid);
  // Appends a grid of value(row, col) for every cell, as Spare, filling and
  // Push would, in one pass over the cells instead of three.
  template <typename CellValue>
  void PushCells(CellValue value);
  // Mean of the cell over the grids held (0 without any).
  double CellMean(int row, int col) const { return count_ > 0 ? sum_[row][col] / count_ : 0.0; }
  int Count() const { return count_; }
  int Capacity() const { return capacity_; }

 private:
  void Add(const owned_matrix& grid, double sign);

  int capacity_;
  int first_row_;
  int last_row_;
  int ncols_;
  int count_ = 0;
  std::deque<owned_matrix> grids_;  // oldest first
  owned_matrix sum_;
};

template <typename CellValue>
void GridStack::PushCells(CellValue value) {
  const bool full = count_ >= capacity_;
  owned_matrix grid;
  if (full) {
    grid = std::move(grids_.front());
    grids_.pop_front();
    --count_;
  } else {
    grid = owned_matrix(matrix(first_row_, last_row_, 1, ncols_, last_row_));
  }
  for (int r = first_row_; r <= last_row_; ++r) {
    double* sum = sum_[r];
    double* cells = grid[r];
    for (int c = 1; c <= ncols_; ++c) {
      const double v = value(r, c);
      // The oldest leaves the sum before the newest joins it, as in Spare
      // and Push, so the sum is the same to the last bit.
      if (full) sum[c] -= cells[c];
      sum[c] += v;
      cells[c] = v;
    }
  }
  grids_.push_back(std::move(grid));
  ++count_;
}

}  // namespace velmo
