// Division of the domain among instances: row runs, river links, regions, halo and cell counts.
#include "setup/partition.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "setup/derived.h"

namespace velmo {

// A river-link value that is no usable whole number, like an invalid zone code.
constexpr int kInvalidRiverLinkCode = 3;

namespace {

constexpr const char* kRegionsName = "MPIRegions";
constexpr const char* kHelperName = "MPIHelper";
constexpr const char* kHaloName = "MPIHalo";

void FillMatrix(double** m, int nrows, int col_hi, double value) {
  for (int r = 1; r <= nrows; ++r) std::fill(m[r], m[r] + col_hi + 1, value);
}

}  // namespace

void RiverLink::SetCells(std::vector<river_link_record> new_cells) {
  cells = std::move(new_cells);
  cell_count = static_cast<int>(cells.size());
}

void RiverLink::AddCell(const river_link_record& record) {
  cells.push_back(record);
  ++cell_count;
}

int WriteRowRuns(const double* region_row, int ncols, double nodata, double* helper_row) {
  std::fill(helper_row, helper_row + HelperColumns(ncols) + 1, 0.0);
  int runs = 0;
  int length_column = 0;  // the leading nodata run counts in column 0
  double previous = nodata;
  for (int c = 1; c <= ncols; ++c) {
    const double value = region_row[c];
    if (value != previous) {
      ++runs;
      helper_row[2 * runs - 1] = value;
      length_column = 2 * runs;
    }
    helper_row[length_column] += 1.0;
    previous = value;
  }
  return runs;
}

river_cell_scan ScanRiverCells(double** zone, double** river_links, double** elevation, int nrows, int ncols,
                               double nodata) {
  river_cell_scan scan;
  for (int r = 1; r <= nrows; ++r) {
    const double* zone_row = zone[r];
    const double* link_row = river_links ? river_links[r] : nullptr;
    for (int c = 1; c <= ncols; ++c) {
      if (!InCatchment(zone_row[c], nodata)) continue;
      if (link_row && link_row[c] > 0.0) {
        if (!(link_row[c] < static_cast<double>(std::numeric_limits<int>::max()))) {
          if (scan.bad_row == 0) {
            scan.bad_row = r;
            scan.bad_col = c;
            scan.bad_value = link_row[c];
          }
          continue;
        }
        river_link_record record;
        record.row = r;
        record.col = c;
        record.link_code = static_cast<int>(link_row[c]);
        record.elevation = elevation[r][c];
        scan.river_cells.push_back(record);
      } else {
        ++scan.regular_cells;
      }
    }
  }
  return scan;
}

std::vector<RiverLink> GroupRiverLinks(std::vector<river_link_record> records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const river_link_record& a, const river_link_record& b) {
                     if (a.link_code != b.link_code) return a.link_code < b.link_code;
                     return a.elevation > b.elevation;
                   });
  std::vector<RiverLink> links;
  for (const river_link_record& record : records) {
    if (links.empty() || links.back().link_code != record.link_code) links.emplace_back(record.link_code);
    links.back().AddCell(record);
  }
  std::stable_sort(links.begin(), links.end(),
                   [](const RiverLink& a, const RiverLink& b) { return a.cell_count > b.cell_count; });
  return links;
}

link_assignment AssignRiverLinks(std::vector<RiverLink>& links, int total_cells, int instance) {
  link_assignment result;
  result.budget = total_cells;
  for (size_t i = 0; i < links.size(); ++i) {
    RiverLink& link = links[i];
    result.budget -= link.cell_count;
    link.partition = instance;
    for (river_link_record& record : link.cells) record.link_partition = instance;
    ++result.links_taken;
    result.link_cells += link.cell_count;
    if (result.budget <= 0) result.budget = 1;
    const bool next_fits = i + 1 < links.size() && result.budget - links[i + 1].cell_count > 0;
    if (!next_fits) break;
  }
  return result;
}

void FillRegions(double** zone, double** regions, int nrows, int ncols, double nodata, int instance) {
  for (int r = 1; r <= nrows; ++r) {
    const double* zone_row = zone[r];
    double* region_row = regions[r];
    for (int c = 1; c <= ncols; ++c) region_row[c] = InCatchment(zone_row[c], nodata) ? instance : nodata;
  }
}

void FillHalo(double** regions, double** halo, int nrows, int ncols, double nodata, int instance) {
  const double own = instance;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (regions[r][c] != own) continue;
      for (int nr = std::max(1, r - 1); nr <= std::min(nrows, r + 1); ++nr) {
        for (int nc = std::max(1, c - 1); nc <= std::min(ncols, c + 1); ++nc) {
          const double neighbour = regions[nr][nc];
          if (neighbour != own && neighbour != nodata) halo[nr][nc] = neighbour;
        }
      }
    }
  }
}

std::vector<int> CountPartitionCells(double** zone, double** regions, int nrows, int ncols, double nodata,
                                     int process_count) {
  std::vector<int> counts(static_cast<size_t>(std::max(process_count, 0)), 0);
  for (int r = 1; r <= nrows; ++r) {
    const double* zone_row = zone[r];
    const double* region_row = regions[r];
    for (int c = 1; c <= ncols; ++c) {
      if (!(zone_row[c] > nodata && region_row[c] > nodata)) continue;
      const int instance = static_cast<int>(region_row[c]);
      if (instance >= 0 && instance < process_count) ++counts[static_cast<size_t>(instance)];
    }
  }
  return counts;
}

void defaultini::PartitionDomain(std::vector<int>& cell_counts, std::vector<int>& send_list,
                                 std::vector<int>& receive_list, int& row_first, int& row_last) {
  row_first = 1;
  row_last = nrows;

  // The grids, in three consecutive entries from the first free one.
  const int first_free = FreeEntryOrRaise(
      grids, messages, "FATAL: when trying to create MPI-Regions: no free grid found in memory (at position ",
      ")", kNoFreeGridCode);
  const int helper_columns = HelperColumns(ncols);
  mpi_regions = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  FillMatrix(mpi_regions.get(), nrows, ncols, nodata_value);
  mpi_regions_index = first_free;
  RegisterGrid(mpi_regions_index, "", mpi_regions.get(), nullptr, 0, kRegionsName, 0, 1, nrows);
  ++grid_count;
  mpi_helper = owned_matrix(matrix(1, nrows, 1, helper_columns, 0));
  mpi_helper_index = first_free + 1;
  RegisterGrid(mpi_helper_index, "", mpi_helper.get(), nullptr, 0, kHelperName, 0, 1, nrows);
  ++grid_count;
  mpi_halo = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  FillMatrix(mpi_halo.get(), nrows, ncols, nodata_value);
  mpi_halo_index = first_free + 2;
  RegisterGrid(mpi_halo_index, "", mpi_halo.get(), nullptr, 0, kHaloName, 0, 1, nrows);
  ++grid_count;

  double** zone = (*grids)[1].data;
  double** elevation = (*grids)[2].data;
  const int links_index = FindGrid(kRiverLinksName, true);
  double** river_links = links_index > 0 ? (*grids)[links_index].data : nullptr;

  river_cell_scan scan = ScanRiverCells(zone, river_links, elevation, nrows, ncols, nodata_value);
  if (scan.bad_row != 0) {
    *messages << "FATAL: invalid river link code " << scan.bad_value << " at row " << scan.bad_row
              << ", column " << scan.bad_col << " in grid river_links!"
              << "[end-entry]";
    throw ErrorCode{kInvalidRiverLinkCode};
  }
  const int regular_cells = scan.regular_cells;
  const int river_cells = static_cast<int>(scan.river_cells.size());
  river_link_list = GroupRiverLinks(std::move(scan.river_cells));
  *messages << "MPI regular cells: " << regular_cells << "\nMPI river cells: " << river_cells
            << "[end-entry]";

  const link_assignment taken = AssignRiverLinks(river_link_list, regular_cells + river_cells, process_index);
  *messages << "MPI num cells: " << taken.budget << " for instance: " << process_index << "[end-entry]";
  for (int i = 0; i < taken.links_taken; ++i) {
    const RiverLink& link = river_link_list[static_cast<size_t>(i)];
    *messages << " + link cells: " << link.cell_count << " for river link " << link.link_code
              << "[end-entry]";
  }
  if (taken.link_cells > 0) {
    *messages << "        total: " << taken.budget + taken.link_cells << " for instance " << process_index
              << "[end-entry]";
  }

  FillRegions(zone, mpi_regions.get(), nrows, ncols, nodata_value, process_index);
  for (RiverLink& link : river_link_list) {
    int position = 0;
    for (river_link_record& record : link.cells) {
      record.cell_partition = static_cast<int>(mpi_regions[record.row][record.col]);
      record.position = position++;
    }
  }
  for (int r = 1; r <= nrows; ++r) WriteRowRuns(mpi_regions[r], ncols, nodata_value, mpi_helper[r]);
  FillHalo(mpi_regions.get(), mpi_halo.get(), nrows, ncols, nodata_value, process_index);

  cell_counts = CountPartitionCells(zone, mpi_regions.get(), nrows, ncols, nodata_value, process_count);
  send_list.clear();
  receive_list.clear();

  // Modules that test the region read these.
  mpi_regions_data = mpi_regions.get();
  mpi_helper_data = mpi_helper.get();
}

void defaultini::ReleasePartition() {
  river_link_list.clear();
  const std::pair<int, double**> entries[] = {{mpi_regions_index, mpi_regions.get()},
                                              {mpi_helper_index, mpi_helper.get()},
                                              {mpi_halo_index, mpi_halo.get()}};
  for (const auto& [index, data] : entries) {
    if (grids && index > 0 && data && (*grids)[index].data == data) (*grids)[index].data = nullptr;
  }
  mpi_regions_index = mpi_helper_index = mpi_halo_index = 0;
  mpi_regions.reset();
  mpi_helper.reset();
  mpi_halo.reset();
  mpi_regions_data = nullptr;
  mpi_helper_data = nullptr;
  partition_cell_counts.clear();
  halo_send_list.clear();
  halo_receive_list.clear();
}

}  // namespace velmo
