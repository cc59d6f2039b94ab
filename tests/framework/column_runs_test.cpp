// Runs of valid columns along a row, as the grid output and the meteorological modules take them.
#include "framework/column_runs.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace velmo {
namespace {

// Runs of the '#' columns of `row` (column 1 is its first character) within from..to.
std::vector<std::pair<int, int>> RunsOf(const std::string& row, int from, int to) {
  std::vector<std::pair<int, int>> runs;
  ForEachColumnRun(
      from, to, [&](int c) { return row[static_cast<size_t>(c - 1)] == '#'; },
      [&](int first, int last) { runs.emplace_back(first, last); });
  return runs;
}

TEST(ColumnRuns, MaximalRunsWithinTheRange) {
  using runs = std::vector<std::pair<int, int>>;
  struct row_case {
    std::string row;
    int from, to;
    runs expected;
  };
  const std::vector<row_case> cases = {
      {"....", 1, 4, {}},
      {"####", 1, 4, {{1, 4}}},
      {"#..#", 1, 4, {{1, 1}, {4, 4}}},
      {".##.###", 1, 7, {{2, 3}, {5, 7}}},
      {"######", 2, 4, {{2, 4}}},  // the range cuts the run at both ends
      {"##.##", 3, 2, {}},         // empty range
  };
  for (const row_case& c : cases) EXPECT_EQ(RunsOf(c.row, c.from, c.to), c.expected) << c.row;
}

}  // namespace
}  // namespace velmo
