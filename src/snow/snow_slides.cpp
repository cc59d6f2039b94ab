// Snow slides: elevation order of the cells, deposition limits and the slides of one step.
#include "snow/snow_slides.h"

#include <algorithm>

#include "snow/glacier.h"

namespace velmo {
namespace {

// Row and column offsets of the neighbours, in the order of slide_neighbour.
constexpr int kRowOffset[kSlideNeighbourCount] = {-1, 0, 0, 1};
constexpr int kColOffset[kSlideNeighbourCount] = {0, -1, 1, 0};

// Zone cells compare by their whole code, as the statistics count them.
int CodeOf(double zone_value) { return static_cast<int>(zone_value); }

std::uint8_t NeighboursInZone(double** zone, int nrows, int ncols, double nodata, int r, int c) {
  std::uint8_t mask = 0;
  const int code = CodeOf(zone[r][c]);
  for (int k = 0; k < kSlideNeighbourCount; ++k) {
    const int nr = r + kRowOffset[k];
    const int nc = c + kColOffset[k];
    if (nr < 1 || nr > nrows || nc < 1 || nc > ncols) continue;
    const double neighbour = zone[nr][nc];
    if (neighbour == nodata || CodeOf(neighbour) != code) continue;
    mask = static_cast<std::uint8_t>(mask | (1u << k));
  }
  return mask;
}

// Adds `amount` to the deposition of a cell up to its limit; the rest stays
// mobile there.
void Deposit(double amount, double& deposition, double& mobile, double limit) {
  const double wanted = deposition + amount;
  if (wanted > limit) {
    mobile += wanted - limit;
    deposition = limit;
  } else {
    deposition = wanted;
  }
}

// Scales the liquid storage with the new total; the rest of the total is solid.
void SetTotal(double new_total, double old_total, double& solid, double& liquid) {
  liquid = new_total * (liquid / old_total);
  solid = new_total - liquid;
}

// Deposited snow joins a cover; a bare cover takes it as solid.
void AddToCover(double added, double& solid, double& liquid, double& total) {
  const double before = solid + liquid;
  if (before > 0.0) {
    SetTotal(before + added, before, solid, liquid);
    total = before + added;
  } else {
    liquid = 0.0;
    solid = added;
    total = added;
  }
}

}  // namespace

std::vector<slide_cell> ElevationOrder(double** zone, double** elevation, int nrows, int ncols,
                                       double nodata) {
  std::vector<elevation_order_cell> cells;
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (zone[r][c] != nodata) cells.push_back({r, c, elevation[r][c]});
  std::stable_sort(cells.begin(), cells.end());

  std::vector<slide_cell> order;
  order.reserve(cells.size());
  for (auto it = cells.rbegin(); it != cells.rend(); ++it)
    order.push_back({it->row, it->col, NeighboursInZone(zone, nrows, ncols, nodata, it->row, it->col)});
  return order;
}

void WriteElevationOrder(const std::vector<slide_cell>& order, double** zone, int nrows, int ncols,
                         double nodata, double** order_row, double** order_col) {
  std::size_t k = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (zone[r][c] == nodata || k >= order.size()) {
        order_row[r][c] = order_col[r][c] = nodata;
        continue;
      }
      order_row[r][c] = order[k].row;
      order_col[r][c] = order[k].col;
      ++k;
    }
  }
}

double MaxDeposition(double slope_degrees, double max_slope_degrees, double factor) {
  if (slope_degrees >= max_slope_degrees) return 0.0;
  return std::max(0.0, factor * (1.0 - slope_degrees / max_slope_degrees));
}

void RunSnowSlides(const slide_grids& g, const slide_parameters& p, const std::vector<slide_cell>& order,
                   int nrows, int ncols, const row_range* row_ranges, double nodata) {
  auto columns_of = [&](int r) { return row_ranges ? row_ranges[r] : row_range{1, ncols}; };
  for (int r = 1; r <= nrows; ++r) {
    const row_range cols = columns_of(r);
    for (int c = cols.first; c <= cols.last; ++c) {
      const double value = g.zone[r][c] == nodata ? nodata : 0.0;
      g.input_mass[r][c] = g.mobile_mass[r][c] = g.deposition[r][c] = value;
    }
  }

  const double keep = 1.0 - p.slide_mass_fraction;
  for (const slide_cell& cell : order) {
    const int r = cell.row;
    const int c = cell.col;
    // A negative share takes nothing: the others must not pass on more than
    // the cell released.
    double share[kSlideNeighbourCount] = {};
    double sum = 0.0;
    for (int k = 0; k < kSlideNeighbourCount; ++k) {
      if ((cell.neighbours & (1u << k)) == 0) continue;
      share[k] = std::max(0.0, g.fraction[k][r][c]);
      sum += share[k];
    }

    double& solid = g.solid[r][c];
    double& liquid = g.liquid[r][c];
    const double total = solid + liquid;
    const double glacier = g.glacier_share ? CellGlacierShare(g.glacier_share[r][c]) : 0.0;
    const double glacier_total = glacier > 0.0 ? g.solid_on_glacier[r][c] + g.liquid_on_glacier[r][c] : 0.0;
    double released = 0.0;
    if ((total > 0.0 || glacier_total > 0.0) && g.slope[r][c] >= p.min_slide_slope) {
      if (glacier < 1.0 && total > 0.0) {
        released = total * p.slide_mass_fraction * (1.0 - glacier);
        const double remaining = total * keep;
        SetTotal(remaining, total, solid, liquid);
        g.total[r][c] = remaining;
      }
      if (glacier_total > 0.0) {
        released += glacier_total * p.slide_mass_fraction * glacier;
        const double remaining = glacier_total * keep;
        SetTotal(remaining, glacier_total, g.solid_on_glacier[r][c], g.liquid_on_glacier[r][c]);
        g.total_on_glacier[r][c] = remaining;
      }
    }
    g.input_mass[r][c] = released;

    double& mobile = g.mobile_mass[r][c];
    if (!(sum > 0.0)) {
      mobile += released;
      continue;
    }
    const double moving = released + mobile;
    mobile = 0.0;
    for (int k = 0; k < kSlideNeighbourCount; ++k) {
      if (!(share[k] > 0.0)) continue;
      const int nr = r + kRowOffset[k];
      const int nc = c + kColOffset[k];
      Deposit(moving * (share[k] / sum), g.deposition[nr][nc], g.mobile_mass[nr][nc],
              g.max_deposition[nr][nc]);
    }
  }

  for (int r = 1; r <= nrows; ++r) {
    const row_range cols = columns_of(r);
    for (int c = cols.first; c <= cols.last; ++c) {
      if (g.zone[r][c] == nodata) continue;
      const double added = g.deposition[r][c] + g.mobile_mass[r][c];
      if (added == 0.0) continue;
      const double glacier = g.glacier_share ? CellGlacierShare(g.glacier_share[r][c]) : 0.0;
      if (glacier < 1.0) AddToCover(added, g.solid[r][c], g.liquid[r][c], g.total[r][c]);
      if (glacier > 0.0)
        AddToCover(added, g.solid_on_glacier[r][c], g.liquid_on_glacier[r][c], g.total_on_glacier[r][c]);
    }
  }
}

}  // namespace velmo
