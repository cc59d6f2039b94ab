// What evaporation can actually take: from the snow cover, from ponded open
// water and from the soil, whose relative moisture limits transpiration.
// Numbers in, numbers out; depths in mm per step.
#pragma once

namespace velmo {

// Relative soil moisture from which plants transpire at the potential rate;
// below it transpiration falls in proportion.
inline constexpr double kUnstressedSoilMoisture = 0.6;
// Open water evaporates from ponding above this depth (mm).
inline constexpr double kOpenWaterEvaporationPonding = 1.0;

// Takes `demand` from `store` as far as the store goes; both fall by the
// amount taken, which is returned. A demand of 0 or less (or missing) takes
// nothing.
double TakeFromStore(double& store, double& demand);

// Transpiration the relative soil moisture `theta` lets through of
// `potential`: all of it from kUnstressedSoilMoisture on, else the share
// theta / kUnstressedSoilMoisture.
double MoistureLimitedTranspiration(double potential, double theta);

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
soil_withdrawal WithdrawFromSoil(double demand, double theta, double capacity);

}  // namespace velmo
