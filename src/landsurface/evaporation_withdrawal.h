// What evaporation can actually take: from the snow cover, from ponded open
// water and from the soil, whose relative moisture limits transpiration.
// Numbers in, numbers out; depths in mm per step. They run for every cell of
// every step, so they are inline.
#pragma once

#include <algorithm>

namespace velmo {

// Relative soil moisture from which plants transpire at the potential rate;
// below it transpiration falls in proportion.
inline constexpr double kUnstressedSoilMoisture = 0.6;
// Open water evaporates from ponding above this depth (mm).
inline constexpr double kOpenWaterEvaporationPonding = 1.0;

// Takes `demand` from `store` as far as the store goes; both fall by the
// amount taken, which is returned. A demand of 0 or less (or missing) takes
// nothing.
inline double TakeFromStore(double& store, double& demand) {
  if (!(demand > 0.0) || !(store > 0.0)) return 0.0;
  const double taken = std::min(store, demand);
  store -= taken;
  demand -= taken;
  return taken;
}

// Transpiration the relative soil moisture `theta` lets through of
// `potential`: all of it from kUnstressedSoilMoisture on, else the share
// theta / kUnstressedSoilMoisture.
inline double MoistureLimitedTranspiration(double potential, double theta) {
  if (theta >= kUnstressedSoilMoisture) return potential;
  return potential * theta / kUnstressedSoilMoisture;
}

// A withdrawal from the soil.
struct soil_withdrawal {
  double taken = 0.0;  // mm
  double theta = 0.0;  // relative soil moisture afterwards
};

// Withdraws `demand` (mm) from a soil of relative moisture `theta` and
// `capacity` (mm): theta falls by demand / capacity, but not below 0, and
// what the soil did not hold is not taken. A soil without capacity or
// without water (0 or less) gives nothing and keeps its theta; so does a
// demand of 0 or less.
inline soil_withdrawal WithdrawFromSoil(double demand, double theta, double capacity) {
  soil_withdrawal result{0.0, theta};
  if (!(capacity > 0.0) || !(demand > 0.0) || !(theta > 0.0)) return result;
  result.theta = theta - demand / capacity;
  result.taken = demand;
  if (result.theta < 0.0) {
    // Only what the soil held leaves it.
    result.taken += capacity * result.theta;
    result.theta = 0.0;
  }
  result.taken = std::max(result.taken, 0.0);
  return result;
}

// The same for a cell whose glacier-free share is `free` (0 < free <= 1):
// the soil's depths are over the whole cell, the demand and what is taken a
// depth over the glacier-free share, which the soil feeds alone.
inline soil_withdrawal WithdrawFromSoilOfShare(double demand, double theta, double capacity, double free) {
  // A cell without glacier: the same numbers without the multiplication and
  // division by 1.
  if (free == 1.0) return WithdrawFromSoil(demand, theta, capacity);
  soil_withdrawal result = WithdrawFromSoil(demand * free, theta, capacity);
  result.taken /= free;
  return result;
}

// Takes `demand` (a depth over the glacier-free share `free` of a cell) from
// a snow cover that lies evenly over the whole cell, as the cover of a
// static glacier's cell does: the share takes at most the cover's depth, and
// the cover loses that over the share only. Returns what the share took.
inline double TakeFromCoverOfShare(double& cover, double& demand, double free) {
  if (!(demand > 0.0) || !(cover > 0.0)) return 0.0;
  const double taken = std::min(cover, demand);
  cover -= taken * free;
  demand -= taken;
  return taken;
}

}  // namespace velmo
