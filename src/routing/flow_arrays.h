// The flow arrays that connect the routing elements, owned by the routing
// model, and its table of subbasin areas.
#pragma once

#include <cstddef>
#include <vector>

namespace velmo {

// Flow arrays shared by the elements, owned by the routing model. A position
// is a subbasin outlet (1..zone_count, its zone index) or an inflow
// (zone_count + inflow number). Water is a depth in mm per step over the area
// that belongs to the position.
struct flow_arrays {
  int positions = 0;                // zone_count + inflows
  int subintervals = 1;             // S
  std::vector<double> step;         // value of the step, by position
  std::vector<double> subinterval;  // by position, then sub-interval 0..S

  void Allocate(int position_count, int extra, int subinterval_count);
  double* Sub(int position) {
    return subinterval.data() + static_cast<size_t>(position) * (subintervals + 1);
  }
  const double* Sub(int position) const {
    return subinterval.data() + static_cast<size_t>(position) * (subintervals + 1);
  }
};

// Per zone index 0..zone_count: the area fraction (entry 0 the total area in
// km2) and the area divisor. An element rewrites its outlet's entries to the
// fraction of its whole upstream area and its divisor.
struct area_table {
  std::vector<double> fraction;
  std::vector<double> divisor;

  // Area (km2) over which the depth at subbasin position `zone` lies.
  double PositionArea(int zone) const {
    const size_t z = static_cast<size_t>(zone);
    return fraction[z] * fraction[0] / divisor[z];
  }
};

}  // namespace velmo
