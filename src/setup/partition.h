// Division of the model domain among instances: river links, the grids
// "MPIRegions", "MPIHelper" and "MPIHalo", and the cell counts per instance.
//
// The system runs as one instance (index 0), so one region holds every cell
// of the catchment; the grids are built all the same because modules restrict
// their cell loops with them.
//
// "MPIHelper" is the run-length form of each row of "MPIRegions": column 0
// counts the cells of a leading nodata run, then run k (k = 1, 2, ...) keeps
// its value in column 2k-1 and its length in column 2k; unused columns are 0.
// A row of n cells has at most n runs, so its helper row has the columns
// 0 .. 2n (HelperColumns) and no row of any pattern can overrun it.
#pragma once

#include <vector>

namespace velmo {

// One cell of a river link.
struct river_link_record {
  int row = 0;
  int col = 0;
  int link_code = 0;       // "river_links" value of the cell, truncated
  int cell_partition = 0;  // instance whose region holds the cell
  int link_partition = 0;  // instance the whole link is assigned to
  double elevation = 0.0;
  int position = 0;  // 0-based place in its link, highest cell first
};

// All cells with one link code; a link is kept on one instance.
class RiverLink {
 public:
  explicit RiverLink(int code) : link_code(code) {}
  virtual ~RiverLink() = default;
  RiverLink(const RiverLink&) = default;
  RiverLink& operator=(const RiverLink&) = default;
  RiverLink(RiverLink&&) = default;
  RiverLink& operator=(RiverLink&&) = default;

  // Replaces the cells by `new_cells`.
  virtual void SetCells(std::vector<river_link_record> new_cells);
  virtual std::vector<river_link_record>& GetCells() { return cells; }
  // The last cell; the link must hold one.
  virtual river_link_record& LastCell() { return cells.back(); }
  virtual void AddCell(const river_link_record& record);

  int link_code = 0;
  int partition = 0;
  int cell_count = 0;
  std::vector<river_link_record> cells;
};

// Cells of the catchment by kind: river cells become records, the others
// are only counted.
struct river_cell_scan {
  int regular_cells = 0;
  std::vector<river_link_record> river_cells;  // row-major order
  // The first cell whose link value does not fit a whole number (row 0: none).
  int bad_row = 0;
  int bad_col = 0;
  double bad_value = 0.0;
};

// The links taken by one instance and its remaining cell budget.
struct link_assignment {
  int budget = 0;
  int links_taken = 0;  // the first links of the list
  int link_cells = 0;   // cells of the taken links
};

// Columns 0 .. HelperColumns(ncols) hold every run of a row of ncols cells.
constexpr int HelperColumns(int ncols) { return 2 * ncols; }

// A cell belongs to the catchment when its zone value exceeds nodata.
constexpr bool InCatchment(double zone_value, double nodata) { return zone_value > nodata; }

// Writes the runs of region_row[1..ncols] into helper_row[0..HelperColumns(ncols)]
// (unused columns 0) and returns the number of runs after the leading nodata run.
int WriteRowRuns(const double* region_row, int ncols, double nodata, double* helper_row);

// Visits rows 1..nrows of the catchment; `river_links` may be null.
river_cell_scan ScanRiverCells(double** zone, double** river_links, double** elevation, int nrows, int ncols,
                               double nodata);

// Sorts the records by link code, then from the highest to the lowest cell
// (equal cells keep their order), and groups them into links listed from the
// largest to the smallest (equal sizes by ascending code).
std::vector<RiverLink> GroupRiverLinks(std::vector<river_link_record> records);

// Gives links to `instance` from the front of the list while its budget of
// `total_cells` allows; the first link is always taken.
link_assignment AssignRiverLinks(std::vector<RiverLink>& links, int total_cells, int instance);

// Sets `regions` to `instance` in the catchment cells and nodata elsewhere.
void FillRegions(double** zone, double** regions, int nrows, int ncols, double nodata, int instance);

// Marks in `halo` every cell of another instance that touches (eight
// neighbours) a cell of `instance`, with that other instance's index.
void FillHalo(double** regions, double** halo, int nrows, int ncols, double nodata, int instance);

// Catchment cells per instance 0..process_count-1, by their "MPIRegions" value.
std::vector<int> CountPartitionCells(double** zone, double** regions, int nrows, int ncols, double nodata,
                                     int process_count);

}  // namespace velmo
