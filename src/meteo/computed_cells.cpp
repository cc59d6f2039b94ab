// Runs of the cells a meteorological module computes.
#include "meteo/computed_cells.h"

#include "framework/column_runs.h"

namespace velmo {
namespace {

// Region of the cells this process computes.
constexpr double kOwnRegion = 0.0;

}  // namespace

std::vector<cell_run> ComputedCellRuns(double** zones, double** regions, double nodata_value,
                                       const row_range* row_ranges, int first_row, int last_row, int ncols) {
  auto computed = [&](int r, int c) {
    return zones[r][c] != nodata_value && (!regions || regions[r][c] == kOwnRegion);
  };
  std::vector<cell_run> runs;
  int offset = 0;
  for (int r = first_row; r <= last_row; ++r) {
    const int first = row_ranges ? row_ranges[r].first : 1;
    const int last = row_ranges ? row_ranges[r].last : ncols;
    ForEachColumnRun(
        first, last, [&](int c) { return computed(r, c); },
        [&](int begin, int end) {
          runs.push_back(cell_run{r, begin, end - begin + 1, offset});
          offset += end - begin + 1;
        });
  }
  return runs;
}

}  // namespace velmo
