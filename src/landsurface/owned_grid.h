// A grid a land-surface module owns: its matrix, its grid-table entry and its
// zone statistics, with the creation of the statistics and the clean-up that
// the evapotranspiration and interception models share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/zonalstat.h"
#include "setup/teilmod.h"

namespace velmo {

struct owned_grid {
  owned_matrix data;
  // Another grid's matrix that this one shows in place of a matrix of its
  // own, where the two always hold the same values (one vegetation layer and
  // its totals): one matrix to write and read instead of two.
  double** shared = nullptr;
  int index = 0;
  std::vector<zone_record> zones;
  std::unique_ptr<zonalstatistic> statistics;
  double** rows() const { return data ? data.get() : shared; }
  double* operator[](int row) const { return rows()[row]; }
};

// Zone statistics of `grid` over its own copy of the module's zone table
// (sums cleared), with the header written; none when the module has no
// zones. Throws the writer's code when the table cannot be set up.
void CreateOwnedGridStatistics(teilmodellklasse& module, owned_grid& grid, const std::string& file_name,
                               int code, int precision, const std::string& header, const std::string& title);

// Releases the grid-table entry, while it still holds this grid, and the matrix.
void ReleaseOwnedGrid(teilmodellklasse& module, owned_grid& grid);

// Closes the statistics of `grid` (the first failing code is kept in
// `failure`, so every grid is still released) and releases the grid.
void CleanUpOwnedGrid(teilmodellklasse& module, owned_grid& grid, int& failure);

}  // namespace velmo
