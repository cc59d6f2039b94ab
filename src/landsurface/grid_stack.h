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

}  // namespace velmo
