// Water vapour and air: saturation vapour pressure, its slope, latent heat of
// vaporisation, the psychrometric constant and air pressure at an elevation.
// The model's processes use different coefficient sets; each set is one
// function here, named by its set, listed with the process that uses it. Call
// the one your process names instead of re-typing its coefficients.
//
// Saturation vapour pressure, temperature in °C, result in hPa:
//   SaturationVapourPressureTetens       water   evapotranspiration (Penman-Monteith, Hamon)
//   SaturationVapourPressureIceTetens    ice     snow melt by the rain-on-snow index
//   SaturationVapourPressureWmo          water   canopy snow (from 0 °C)
//   SaturationVapourPressureIceWmo       ice     canopy snow (below 0 °C)
//   SaturationVapourPressureHaude        both    Haude evapotranspiration (water from 0 °C, else ice)
//   SaturationVapourPressureSnowBalance  water   energy-balance snow melt (air above 0 °C)
//   SaturationVapourPressureIceSnowBalance ice   energy-balance snow melt (air and snow surface)
//   SaturationVapourPressureIceWetBulb   ice     wet-bulb temperature of the energy-balance snow melt
//   SaturationVapourPressureIceBuckPa    ice     canopy snow sublimation (kelvin in, Pa out)
// Inverse:
//   FrostPointWmo                        frost point (°C) of a vapour pressure, the WMO ice set
// Other terms:
//   SaturationVapourPressureSlopeTetens  hPa/K   Penman-Monteith (Δ)
//   LatentHeatOfVaporisation             kJ/kg   Penman-Monteith (psychrometric constant)
//   EvaporationEnergyPerMillimetre       Wh/m²   Penman-Monteith (energy that evaporates 1 mm)
//   PsychrometricConstant                hPa/K   Penman-Monteith (γ)
//   AirPressureBarometric                hPa     evapotranspiration without an air-pressure grid
//   RelativeAirPressureBarometric        1       the same over the sea-level pressure (clear sky)
//   AirPressureStandardAtmosphere        hPa     energy-balance snow melt (wet-bulb temperature)
//   VapourDensity                        kg/m³   canopy snow sublimation
#pragma once

#include <cmath>

#include "physics/units.h"

namespace velmo {

// Ratio of the molar masses of water vapour and dry air.
inline constexpr double kMolarMassRatio = 0.622;
// Gas constant of dry air.
inline constexpr double kGasConstantDryAir = 287.0;  // J/(kg·K)

namespace detail {
// The Magnus form shared by every set: e0·exp(a·t/(t + b)).
inline double Magnus(double e0, double a, double b, double t) { return e0 * std::exp(a * t / (t + b)); }
}  // namespace detail

// ---------------------------------------------------------------- saturation vapour pressure

// Tetens over water (10-based exponent 7.5 written with e).
inline constexpr double kTetensPressure = 6.1078;  // hPa at 0 °C
inline constexpr double kTetensWaterA = 17.269;
inline constexpr double kTetensWaterB = 237.3;  // °C
inline double SaturationVapourPressureTetens(double t_celsius) {
  return detail::Magnus(kTetensPressure, kTetensWaterA, kTetensWaterB, t_celsius);
}

// Tetens over ice (exponent 9.5 written with e).
inline constexpr double kTetensIceA = 21.874;
inline constexpr double kTetensIceB = 265.5;  // °C
inline double SaturationVapourPressureIceTetens(double t_celsius) {
  return detail::Magnus(kTetensPressure, kTetensIceA, kTetensIceB, t_celsius);
}

// Magnus coefficients of the WMO guide to instruments (Sonntag 1990).
inline constexpr double kWmoPressure = 6.112;  // hPa at 0 °C
inline constexpr double kWmoWaterA = 17.62;
inline constexpr double kWmoWaterB = 243.12;  // °C
inline constexpr double kWmoIceA = 22.46;
inline constexpr double kWmoIceB = 272.62;  // °C
inline double SaturationVapourPressureWmo(double t_celsius) {
  return detail::Magnus(kWmoPressure, kWmoWaterA, kWmoWaterB, t_celsius);
}
inline double SaturationVapourPressureIceWmo(double t_celsius) {
  return detail::Magnus(kWmoPressure, kWmoIceA, kWmoIceB, t_celsius);
}
// Temperature at which ice is saturated at the vapour pressure `e_hpa` (> 0).
inline double FrostPointWmo(double e_hpa) {
  const double y = std::log(e_hpa / kWmoPressure);
  return kWmoIceB * y / (kWmoIceA - y);
}

// Haude's method: the WMO exponents with 6.11 hPa, and 272.46 °C over ice.
inline constexpr double kHaudePressure = 6.11;  // hPa at 0 °C
inline constexpr double kHaudeIceB = 272.46;    // °C
inline double SaturationVapourPressureHaude(double t_celsius) {
  return t_celsius >= 0.0 ? detail::Magnus(kHaudePressure, kWmoWaterA, kWmoWaterB, t_celsius)
                          : detail::Magnus(kHaudePressure, kWmoIceA, kHaudeIceB, t_celsius);
}

// The pair of the energy-balance snow melt. The ice form's denominator is
// 272.44 °C; 172.44 would put es(-10 °C) at 1.53 hPa instead of 2.60.
inline constexpr double kSnowBalanceWaterPressure = 6.1078;  // hPa at 0 °C
inline constexpr double kSnowBalanceWaterA = 17.08085;
inline constexpr double kSnowBalanceWaterB = 234.175;      // °C
inline constexpr double kSnowBalanceIcePressure = 6.1071;  // hPa at 0 °C
inline constexpr double kSnowBalanceIceA = 22.4429;
inline constexpr double kSnowBalanceIceB = 272.44;  // °C
inline double SaturationVapourPressureSnowBalance(double t_celsius) {
  return detail::Magnus(kSnowBalanceWaterPressure, kSnowBalanceWaterA, kSnowBalanceWaterB, t_celsius);
}
inline double SaturationVapourPressureIceSnowBalance(double t_celsius) {
  return detail::Magnus(kSnowBalanceIcePressure, kSnowBalanceIceA, kSnowBalanceIceB, t_celsius);
}

// Buck (1981) over ice, the WMO ice exponents with Buck's 6.1115 hPa: what the
// wet-bulb search of the energy-balance snow melt compares with.
inline constexpr double kBuckIcePressure = 6.1115;  // hPa at 0 °C
inline double SaturationVapourPressureIceWetBulb(double t_celsius) {
  return detail::Magnus(kBuckIcePressure, kWmoIceA, kWmoIceB, t_celsius);
}

// Buck (1981) over ice in the canopy-snow model's own units: temperature in
// kelvin, pressure in Pa. (T - 0.61 K is t + 272.55 °C.)
inline constexpr double kBuckIcePressurePa = 611.15;  // Pa at 0 °C
inline constexpr double kBuckIceA = 22.452;
inline constexpr double kBuckIceOffset = 0.61;  // K
inline double SaturationVapourPressureIceBuckPa(double t_kelvin) {
  return kBuckIcePressurePa *
         std::exp(kBuckIceA * (t_kelvin - kTriplePointOfWater) / (t_kelvin - kBuckIceOffset));
}

// ---------------------------------------------------------------- Penman-Monteith terms

// Slope of the Tetens curve, Δ = de/dT (the numerator 6.1078·17.27·237.3
// rounded, with 17.26 in the exponent).
inline constexpr double kTetensSlopeNumerator = 25029.0;  // hPa·K
inline constexpr double kTetensSlopeA = 17.26;
inline double SaturationVapourPressureSlopeTetens(double t_celsius) {
  const double d = t_celsius + kTetensWaterB;
  return kTetensSlopeNumerator * std::exp(kTetensSlopeA * t_celsius / d) / (d * d);
}

// Latent heat of vaporisation, falling linearly with temperature.
inline constexpr double kLatentHeatAtZero = 2500.8;  // kJ/kg
inline constexpr double kLatentHeatSlope = 2.372;    // kJ/(kg·K)
constexpr double LatentHeatOfVaporisation(double t_celsius) {
  return kLatentHeatAtZero - kLatentHeatSlope * t_celsius;
}

// The same latent heat as the energy that evaporates 1 mm of water from 1 m²
// (kJ/kg divided by 3.6), which turns radiation in Wh/m² into mm.
inline constexpr double kEvaporationEnergyAtZero = 694.67;  // Wh/(m²·mm)
inline constexpr double kEvaporationEnergySlope = 0.6589;   // Wh/(m²·mm·K)
constexpr double EvaporationEnergyPerMillimetre(double t_celsius) {
  return kEvaporationEnergyAtZero - kEvaporationEnergySlope * t_celsius;
}

// γ = c_p·p/(ε·λ), with c_p/ε of dry air.
inline constexpr double kPsychrometricCoefficient = 1.6158;  // kJ/(kg·K)
constexpr double PsychrometricConstant(double pressure_hpa, double t_celsius) {
  return kPsychrometricCoefficient * pressure_hpa / LatentHeatOfVaporisation(t_celsius);
}

// ---------------------------------------------------------------- air pressure and density

// Barometric height formula with the air temperature in the scale height
// (29.33 m/K·(T + 272.45 K)).
inline constexpr double kReferencePressure = 1013.0;         // hPa at sea level
inline constexpr double kScaleHeightPerKelvin = 29.33;       // m/K
inline constexpr double kScaleHeightAtZeroCelsius = 7991.0;  // m
// The same as a share of the sea-level pressure.
inline double RelativeAirPressureBarometric(double elevation_m, double t_celsius) {
  return std::exp(-elevation_m / (kScaleHeightPerKelvin * t_celsius + kScaleHeightAtZeroCelsius));
}
inline double AirPressureBarometric(double elevation_m, double t_celsius) {
  return kReferencePressure * RelativeAirPressureBarometric(elevation_m, t_celsius);
}

// ICAO standard atmosphere (troposphere).
inline constexpr double kStandardPressure = 1013.25;    // hPa at sea level
inline constexpr double kStandardLapseRate = 0.0065;    // K/m
inline constexpr double kStandardTemperature = 288.15;  // K at sea level
inline constexpr double kStandardPressureExponent = 5.255;
inline double AirPressureStandardAtmosphere(double elevation_m) {
  return kStandardPressure *
         std::pow(1.0 - kStandardLapseRate * elevation_m / kStandardTemperature, kStandardPressureExponent);
}

// Density of water vapour at the vapour pressure `e_pa` (Pa) and temperature
// `t_kelvin`: ε·e/(R_d·T).
constexpr double VapourDensity(double e_pa, double t_kelvin) {
  return kMolarMassRatio * e_pa / (kGasConstantDryAir * t_kelvin);
}

}  // namespace velmo
