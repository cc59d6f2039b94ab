// Clock units and the unit conversions that several subsystems share. Use these
// in place of re-typed factors:
//   CelsiusToKelvin, KelvinToCelsius    temperature, 0 °C = 273.15 K
//   MeanFluxOfStep, EnergyOfStep        radiation: Wh/m² per step <-> mean W/m²
//   DischargeToDepth, DepthToDischarge  m³/s <-> mm per step over an area in km²
//   DepthToVolume, VolumeToDepth        mm over an area in km² <-> m³ (exact)
// Constants: kMinutesPerHour, kHoursPerDay, kMinutesPerDay, kSecondsPerMinute,
// kZeroCelsius (273.15 K), kTriplePointOfWater (273.16 K).
#pragma once

namespace velmo {

// ---------------------------------------------------------------- clock

inline constexpr int kMinutesPerHour = 60;
inline constexpr int kHoursPerDay = 24;
inline constexpr int kMinutesPerDay = kHoursPerDay * kMinutesPerHour;
inline constexpr double kSecondsPerMinute = 60.0;

// ---------------------------------------------------------------- temperature

// 0 °C in kelvin: evapotranspiration and the canopy energy balance.
inline constexpr double kZeroCelsius = 273.15;  // K
// The snow and canopy-snow models take their melting point, and with it 0 °C,
// as the triple point of water.
inline constexpr double kTriplePointOfWater = 273.16;  // K

constexpr double CelsiusToKelvin(double celsius) { return celsius + kZeroCelsius; }
constexpr double KelvinToCelsius(double kelvin) { return kelvin - kZeroCelsius; }

// ---------------------------------------------------------------- radiation

// Radiation grids hold the energy of one step in Wh/m²; energy balances work
// with the mean flux of the step in W/m². Step length in minutes (> 0).
constexpr double MeanFluxOfStep(double energy_wh_per_m2, double step_minutes) {
  return energy_wh_per_m2 * kMinutesPerHour / step_minutes;
}
constexpr double EnergyOfStep(double flux_w_per_m2, double step_minutes) {
  return flux_w_per_m2 * step_minutes / kMinutesPerHour;
}

// ---------------------------------------------------------------- runoff

// A depth in mm per step over an area in km² and a discharge in m³/s: one mm
// on one km² is 1000 m³, a minute 60 s. The routing tables are built with
// both factors as written here (the second is 1/0.06 to seven decimals), so a
// round trip is exact to about 1e-8, not to the last bit.
inline constexpr double kDischargeToDepthFactor = 0.06;        // mm·km² per (m³/s·min)
inline constexpr double kDepthToDischargeFactor = 16.6666667;  // (m³/s·min) per mm·km²

constexpr double DischargeToDepth(double discharge_m3_per_s, double area_km2, double step_minutes) {
  return discharge_m3_per_s * kDischargeToDepthFactor * step_minutes / area_km2;
}
constexpr double DepthToDischarge(double depth_mm, double area_km2, double step_minutes) {
  return depth_mm * area_km2 * kDepthToDischargeFactor / step_minutes;
}

// Volumes of stores (reservoirs, abstractions) from and to depths, with the
// exact factor, so that water passed between a depth and a store keeps its
// volume to round-off. A discharge of a step is the volume over
// step_minutes * kSecondsPerMinute.
inline constexpr double kCubicMetresPerMillimetreSquareKilometre = 1000.0;
constexpr double DepthToVolume(double depth_mm, double area_km2) {
  return depth_mm * area_km2 * kCubicMetresPerMillimetreSquareKilometre;
}
constexpr double VolumeToDepth(double volume_m3, double area_km2) {
  return volume_m3 / (area_km2 * kCubicMetresPerMillimetreSquareKilometre);
}

}  // namespace velmo
