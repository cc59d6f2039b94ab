// Snow slides: the order of the cells from the highest to the lowest, the
// deposition limit of a cell from its slope, and one step of slides that moves
// a share of the snow of steep cells downhill to their neighbours.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/types.h"

namespace velmo {

// One cell while the elevation order is built.
struct elevation_order_cell {
  int row = 0;
  int col = 0;
  double elevation = 0.0;
  // Orders by elevation only.
  bool operator<(const elevation_order_cell& other) const { return elevation < other.elevation; }
};

// Neighbours of a cell, in the order they receive snow.
enum slide_neighbour : int { kSlideAbove = 0, kSlideLeft = 1, kSlideRight = 2, kSlideBelow = 3 };
inline constexpr int kSlideNeighbourCount = 4;

// A cell in the order the slides visit them, with the neighbours that may
// receive its snow (bit k for neighbour k: inside the grid and in its zone).
struct slide_cell {
  int row = 0;
  int col = 0;
  std::uint8_t neighbours = 0;
};

// The cells with a zone value (rows 1..nrows, columns 1..ncols) from the
// highest to the lowest; of equal elevations the one later in row-major order
// comes first (a stable sort by rising elevation, read from its end).
std::vector<slide_cell> ElevationOrder(double** zone, double** elevation, int nrows, int ncols,
                                       double nodata);

// Writes the order into the grids "elev_order_row" and "elev_order_col": the
// k-th cell with a zone value in row-major order holds the row and column of
// the k-th cell of the order; cells without zone value hold nodata.
void WriteElevationOrder(const std::vector<slide_cell>& order, double** zone, int nrows, int ncols,
                         double nodata, double** order_row, double** order_col);

// Snow (mm) a cell of slope `slope_degrees` takes up in a step:
// factor·(1 − slope/max_slope) below max_slope, else 0; never negative.
double MaxDeposition(double slope_degrees, double max_slope_degrees, double factor);

// The grids one step of slides reads and writes, [row][col] from 1.
struct slide_grids {
  double** zone = nullptr;
  double** fraction[kSlideNeighbourCount] = {};  // "slidefraction1".."slidefraction4"
  double** slope = nullptr;                      // degrees
  double** max_deposition = nullptr;             // mm per step
  double** solid = nullptr;
  double** liquid = nullptr;
  double** total = nullptr;
  double** input_mass = nullptr;   // snow leaving a cell
  double** mobile_mass = nullptr;  // snow passing through or held as mobile
  double** deposition = nullptr;   // snow a cell took up from its neighbours
  // With snow on glacier shares: the share g of each cell ("GlacierizedCells",
  // clamped to 0..1) and the snow on it, a depth over g as the ordinary cover
  // is one over 1 − g. Null without.
  double** glacier_share = nullptr;
  double** solid_on_glacier = nullptr;
  double** liquid_on_glacier = nullptr;
  double** total_on_glacier = nullptr;
};

struct slide_parameters {
  double min_slide_slope = 30.0;      // degrees; steeper cells (or as steep) release snow
  double slide_mass_fraction = 0.01;  // share of the cover released
};

// One step of slides over the cells of `order`: every cell with snow as steep
// as the minimum slope or steeper releases a share of its cover; the released
// and the mobile snow go to the neighbours by their shares, each taking up to
// its deposition limit and passing the rest on as mobile snow; at the end the
// deposited and the mobile snow join the cover of the cell where they lie.
// On a glacierised cell both covers release and both receive, each by its
// share of the cell.
// `row_ranges` (null: every column) bounds the reset of the three result
// grids.
void RunSnowSlides(const slide_grids& g, const slide_parameters& p, const std::vector<slide_cell>& order,
                   int nrows, int ncols, const row_range* row_ranges, double nodata);

}  // namespace velmo
