// Heat constants of water, ice and air, and black-body radiation.
//   BlackBodyFlux   σ·T⁴ in W/m² (long-wave emission and incoming long-wave terms)
// Constants, with their users:
//   kStefanBoltzmann         W/(m²·K⁴)  evapotranspiration (per step: EnergyOfStep of it),
//                                       energy-balance snow melt, canopy snow
//   kLatentHeatFusion        J/kg       energy-balance snow melt (refreezing, melt)
//   kLatentHeatSublimation   J/kg       energy-balance snow melt, canopy snow sublimation
//   kSpecificHeatIce, kSpecificHeatWater  J/(kg·K)  energy-balance snow melt (pack warming,
//                                       heat of precipitation)
//   kSpecificHeatAir, kAirDensity       canopy energy balance (sensible heat)
// The latent heat of vaporisation depends on temperature: see physics/moist_air.h.
#pragma once

namespace velmo {

inline constexpr double kStefanBoltzmann = 5.67e-8;  // W/(m²·K⁴)

// Flux emitted by a black body at `t_kelvin`.
constexpr double BlackBodyFlux(double t_kelvin) {
  const double t2 = t_kelvin * t_kelvin;
  return kStefanBoltzmann * t2 * t2;
}

// The snow model's values (slightly above the textbook 333.6 kJ/kg for fusion).
inline constexpr double kLatentHeatFusion = 337500.0;        // J/kg
inline constexpr double kLatentHeatSublimation = 2835500.0;  // J/kg

inline constexpr double kSpecificHeatIce = 2100.0;    // J/(kg·K)
inline constexpr double kSpecificHeatWater = 4180.0;  // J/(kg·K)
inline constexpr double kSpecificHeatAir = 1005.0;    // J/(kg·K), dry air at constant pressure
inline constexpr double kAirDensity = 1.257;          // kg/m³, near 0 °C at sea level

}  // namespace velmo
