// The stack of the last grids: its capacity by step length, the mean of a cell over the grids held, and the
// oldest grid leaving when the stack is full, filled by parts or in one pass.
#include "landsurface/grid_stack.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(GridStack, CapacityIsOneGridAnHourOfADay) {
  struct {
    double minutes;
    int capacity;
  } cases[] = {{60, 24}, {15, 24}, {180, 8}, {720, 2}, {1440, 1}, {2880, 1}, {700, 2}};
  for (const auto& c : cases) EXPECT_EQ(GridStackCapacity(c.minutes), c.capacity) << c.minutes;
}

TEST(GridStack, MeanOverTheGridsHeldAndTheOldestLeaves) {
  GridStack stack(3, 2, 3, 2);
  EXPECT_EQ(stack.CellMean(2, 1), 0.0);
  const double values[] = {1.0, 2.0, 4.0, 8.0, -16.0};
  const double means[] = {1.0, 1.5, 7.0 / 3.0, 14.0 / 3.0, -4.0 / 3.0};
  for (int k = 0; k < 5; ++k) {
    owned_matrix grid = stack.Spare();
    for (int r = 2; r <= 3; ++r)
      for (int c = 1; c <= 2; ++c) grid[r][c] = values[k] * (r == 3 && c == 2 ? 10.0 : 1.0);
    stack.Push(std::move(grid));
    EXPECT_EQ(stack.Count(), std::min(k + 1, 3));
    EXPECT_NEAR(stack.CellMean(2, 1), means[k], 1e-15) << k;
    EXPECT_NEAR(stack.CellMean(3, 2), 10.0 * means[k], 1e-14) << k;
  }
  // Pushing a grid of its own beyond the capacity drops the oldest too.
  owned_matrix extra(stack.matrix(2, 3, 1, 2, 3));
  for (int r = 2; r <= 3; ++r)
    for (int c = 1; c <= 2; ++c) extra[r][c] = 1.0;
  stack.Push(std::move(extra));
  EXPECT_EQ(stack.Count(), 3);
  EXPECT_NEAR(stack.CellMean(2, 2), (8.0 - 16.0 + 1.0) / 3.0, 1e-15);
}

// Filling in one pass gives the sums of Spare, filling and Push to the last
// bit, before and after the stack is full, so a run's daily means do not
// depend on which way the step fills the stack.
TEST(GridStack, PushCellsMatchesSpareAndPushBitForBit) {
  GridStack by_parts(4, 1, 2, 3);
  GridStack in_one_pass(4, 1, 2, 3);
  for (int k = 0; k < 11; ++k) {
    const auto value = [k](int r, int c) { return 0.1 * k * r - 3.7 / (c + k) + 1e-9 * k * k; };
    owned_matrix grid = by_parts.Spare();
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) grid[r][c] = value(r, c);
    by_parts.Push(std::move(grid));
    in_one_pass.PushCells(value);
    EXPECT_EQ(in_one_pass.Count(), by_parts.Count());
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) EXPECT_EQ(in_one_pass.CellMean(r, c), by_parts.CellMean(r, c)) << k;
  }
}

}  // namespace
}  // namespace velmo
