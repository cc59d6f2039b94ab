// The cells a meteorological module computes: inside the catchment (zone
// grid not nodata) and of this process ("MPIRegions" 0, or every cell
// without that grid), as runs of neighbouring columns along the rows, so that
// a step works along contiguous memory without a test per cell.
#pragma once

#include <vector>

#include "framework/types.h"

namespace velmo {

struct cell_run {
  int row = 0;
  int first_col = 0;
  int count = 0;
  int offset = 0;  // of its first cell among all computed cells
};

// Runs of rows first_row..last_row within each row's range (1..ncols without
// `row_ranges`). `regions` may be null.
std::vector<cell_run> ComputedCellRuns(double** zones, double** regions, double nodata_value,
                                       const row_range* row_ranges, int first_row, int last_row, int ncols);

}  // namespace velmo
