// A stack of the last grids of a variable with the running sum of its cells.
#include "landsurface/grid_stack.h"

#include <algorithm>

#include "physics/units.h"

namespace velmo {

int GridStackCapacity(double step_minutes) {
  const int per_day = step_minutes > 0.0 ? static_cast<int>(kMinutesPerDay / step_minutes) : 1;
  return std::clamp(per_day, 1, kHoursPerDay);
}

GridStack::GridStack(int capacity, int first_row, int last_row, int ncols)
    : capacity_(std::max(capacity, 1)), first_row_(first_row), last_row_(last_row), ncols_(ncols) {
  sum_ = owned_matrix(matrix(first_row, last_row, 1, ncols, last_row));
}

owned_matrix GridStack::Spare() {
  if (count_ < capacity_) return owned_matrix(matrix(first_row_, last_row_, 1, ncols_, last_row_));
  owned_matrix oldest = std::move(grids_.front());
  grids_.pop_front();
  --count_;
  Add(oldest, -1.0);
  return oldest;
}

void GridStack::Push(owned_matrix grid) {
  Add(grid, 1.0);
  grids_.push_back(std::move(grid));
  ++count_;
  if (count_ > capacity_) {
    Add(grids_.front(), -1.0);
    grids_.pop_front();
    --count_;
  }
}

void GridStack::Add(const owned_matrix& grid, double sign) {
  for (int r = first_row_; r <= last_row_; ++r) {
    double* sum = sum_[r];
    const double* values = grid[r];
    for (int c = 1; c <= ncols_; ++c) sum[c] += sign * values[c];
  }
}

}  // namespace velmo
