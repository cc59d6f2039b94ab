// Permafrost under the snow model: the thaw depth grows with the square root
// of the snow-free days, and a long enough snow cover lets the ground freeze
// again; the thaw depth limits the root zone ("root_depth1"): when it cuts
// the roots, the root zone's capacity shrinks with them and its water goes
// to the inactive soil below, from where deeper roots take it back.
//
//   [permafrost]
//   1       method: alpha·sqrt(snow-free days)
//   10      Min_Snow_Age_Refreeze (days of snow cover that refreeze the ground)
//   5       Max_SWE_SnowFree (mm; a cover up to this counts as snow-free)
//   thaw.stat 0      statistics of the thaw depth
//   1e-7    reduced k_sat (m/s)
#pragma once

#include <cmath>

#include "snow/snow_section.h"

namespace velmo {

class modelobject;

struct permafrost_parameters {
  int method = 0;
  double Min_Snow_Age_Refreeze = 0.0;  // days
  double Max_SWE_SnowFree = 0.0;       // mm
  statistics_file thaw_depth_statistics;
  double reduced_k_sat = 0.0;  // m/s
};

// Reads "[permafrost]" from the control file of `module`, which it opens
// again and closes. Failures write their entry and throw: the control file
// not opened 28, a missing section or value 17, a method other than 1 80,
// the close 11.
void ReadPermafrostSection(modelobject& module, permafrost_parameters& p);

// The permafrost of a cell after a step of `step_days`: the days of snow
// cover grow while the cover exceeds Max_SWE_SnowFree, and are 0 otherwise;
// snow-free days thaw the ground to coefficient·sqrt(snow-free days), a cover
// of Min_Snow_Age_Refreeze days or more freezes it again. (The root zone
// reaches no deeper than the thaw depth: the snow model cuts it.)
struct permafrost_cell {
  double snow_cover_days = 0.0;
  double snow_free_days = 0.0;
  double thaw_depth = 0.0;  // m
};
inline void PermafrostStep(const permafrost_parameters& p, double cover, double thaw_coefficient,
                           double step_days, permafrost_cell& cell) {
  if (cover > p.Max_SWE_SnowFree) {
    cell.snow_cover_days += step_days;
  } else {
    cell.snow_cover_days = 0.0;
  }
  if (cell.snow_cover_days == 0.0) {
    cell.snow_free_days += step_days;
    if (cell.snow_free_days > 0.0) cell.thaw_depth = thaw_coefficient * std::sqrt(cell.snow_free_days);
  } else if (cell.snow_cover_days >= p.Min_Snow_Age_Refreeze) {
    cell.snow_free_days = 0.0;
    cell.thaw_depth = 0.0;
  }
}

}  // namespace velmo
