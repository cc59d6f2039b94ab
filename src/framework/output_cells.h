// The cells a grid output's accumulators cover, as runs of valid columns per
// row: what the per-step period sums and extremes would otherwise decide for
// every cell of every step from the zone and region grids, which the run
// does not change.
#pragma once

#include <vector>

#include "framework/types.h"

namespace velmo {

// Columns first..last of a row, all valid. (Named apart from the meteorological
// modules' cell_run: one name, one layout in the whole program.)
struct output_cell_run {
  int first = 0;
  int last = 0;
};

struct output_cell_runs {
  // What the runs were made from; other grids or bounds make them anew.
  double** zone = nullptr;
  double** region = nullptr;
  const row_range* ranges = nullptr;
  double nodata = 0.0;
  double process = 0.0;
  int ncols = 0;
  int row_lo = 1;
  int row_hi = 0;
  // Per row from row_lo, the index of its first run; one more at the end.
  std::vector<int> row_begin;
  std::vector<output_cell_run> runs;
};

}  // namespace velmo
