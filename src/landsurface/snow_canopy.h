// Snow held in the tree canopy of one cell for one step: loading from the
// snowfall, the albedo of the canopy snow and its ageing, sublimation of the
// intercepted snow, melt that releases snow and water, and the climate below
// the canopy (temperature, humidity, shortwave and long-wave radiation,
// wind). The canopy energy balance solves for the canopy temperature where
// the ground below has snow. Temperatures in K, water in mm, fluxes W/m².
#pragma once

namespace velmo {

// ---------------------------------------------------------------- canopy snow

inline constexpr double kCanopyShortwaveExtinction = 0.41;  // per unit of leaf area
// Canopy closure 0.29·ln(LAI) + 0.55, and the canopy's share of the
// long-wave radiation below it with 0.35 in place of 0.55; both within [0, 1].
inline constexpr double kClosurePerLogLeafArea = 0.29;
inline constexpr double kClosureOffset = 0.55;
inline constexpr double kLongwaveShareOffset = 0.35;
// Wind below the canopy u·exp((0.6 − 1)·0.9·LAI).
inline constexpr double kCanopyWindShape = 0.6;
inline constexpr double kCanopyWindScale = 0.9;
// Particle Reynolds number of a 1 mm snow particle in air, within [0.7, 10],
// and the Sherwood number 1.79 + 0.606·sqrt(Re).
inline constexpr double kParticleDiameter = 0.001;  // m
inline constexpr double kAirViscosity = 1.3e-5;     // m²/s, kinematic
inline constexpr double kSmallestReynolds = 0.7;
inline constexpr double kLargestReynolds = 10.0;
inline constexpr double kSherwoodConstant = 1.79;
inline constexpr double kSherwoodSlope = 0.606;
// Below the canopy the humidity rises by 10 % of the closure, the air moves
// towards 0.8 of its difference from the daily mean.
inline constexpr double kHumidityRisePerClosure = 0.1;
inline constexpr double kSubCanopyTemperatureWeight = 0.8;
inline constexpr double kLargestDailyOffset = 2.0;  // K, (daily mean − melt)/3 within ±2
inline constexpr double kDailyOffsetDivisor = 3.0;
// Intercepted snow: at most 4.4 mm per unit of leaf area, 0.7 of the room
// left loads.
inline constexpr double kLoadPerLeafArea = 4.4;  // mm
inline constexpr double kLoadingEfficiency = 0.7;
// Albedo of canopy snow: minimum 0.1, fresh snow 0.7 above it (from a
// snowfall above 0.5 mm an hour), decaying by 0.3 a day at or above melt and
// by 0.1 a day below.
inline constexpr double kCanopyAlbedoMinimum = 0.1;
inline constexpr double kCanopyFreshAlbedoIncrement = 0.7;
inline constexpr double kFreshCanopySnowRate = 1.389e-4;  // mm/s
inline constexpr double kCanopyAlbedoDecayWarm = 0.3;     // 1/day
inline constexpr double kCanopyAlbedoDecayCold = 0.1;     // 1/day
// Sublimation of an ice sphere of 500 µm (Pomeroy's model): diffusivity of
// vapour 2.06e-5·(T/273)^1.75 m²/s, thermal conductivity of air, molar mass
// of water over the gas constant, 2π·r, the radiation cross-section π·r²,
// the particle's mass, the exposure coefficient 0.01 and the shape exponent
// −0.4 of the canopy's load.
inline constexpr double kVapourDiffusivity = 2.06e-5;   // m²/s at 273 K
inline constexpr double kDiffusivityReference = 273.0;  // K, the exponent is 1.75
inline constexpr double kAirConductivity = 0.024;       // W/(m·K)
inline constexpr double kSublimationLatentMolar =
    51067.355;                                 // J/mol: latent heat of sublimation × molar mass
inline constexpr double kGasConstant = 8.313;  // J/(mol·K)
inline constexpr double kParticleCircumference = 0.00314159;   // m, 2π·r
inline constexpr double kParticleCrossSection = 7.853975e-7;   // m², π·r²
inline constexpr double kParticleMass = 4.801396716666667e-7;  // kg
inline constexpr double kExposureCoefficient = 0.01;
inline constexpr double kLoadShapeExponent = -0.4;
// Melt of canopy snow: 0.025 mm per K and hour above melt, 0.005 mm per
// W/m² of absorbed shortwave and hour; 3.3 times the melt is released, 1
// part as water and 2.3 parts as snow.
inline constexpr double kCanopyTemperatureMelt = 0.025;  // mm/(K·h)
inline constexpr double kCanopyRadiationMelt = 0.005;    // mm/(W/m²·h)
inline constexpr double kReleasePerMelt = 3.3;
inline constexpr double kReleasedAsSnow = 2.3;

// ---------------------------------------------------------------- canopy energy balance

// Aerodynamic resistance above a canopy of height h at 15 m:
// (ln((15 − 0.67·h)/(0.123·h)))²/(0.16·u), 0.16 the squared Kármán constant.
inline constexpr double kReferenceHeight = 15.0;  // m
inline constexpr double kDisplacementPerHeight = 0.67;
inline constexpr double kRoughnessPerHeight = 0.123;
inline constexpr double kKarmanSquared = 0.16;
inline constexpr double kCalmWind = 0.01;  // m/s in place of a wind of 0
// Heat capacity of the canopy: (0.0015·h + 0.001·LAI) m of wood of 900 kg/m³
// and 2800 J/(kg·K).
inline constexpr double kWoodPerHeight = 0.0015;     // m/m
inline constexpr double kWoodPerLeafArea = 0.001;    // m
inline constexpr double kWoodDensity = 900.0;        // kg/m³
inline constexpr double kWoodHeatCapacity = 2800.0;  // J/(kg·K)
// The canopy emits with emissivity 0.98 (σ·0.98).
inline constexpr double kCanopyEmission = 5.5566e-8;  // W/(m²·K⁴)
// The surface below without a temperature is this much below the air.
inline constexpr double kSurfaceBelowAir = 0.5;  // K
// Bisection bounds, interval width and residual at which it stops, passes.
inline constexpr double kCanopyLowest = 240.0;   // K
inline constexpr double kCanopyHighest = 350.0;  // K
inline constexpr double kCanopyWidth = 1e-8;     // K
inline constexpr double kCanopyResidual = 1.0;   // W/m²
inline constexpr int kMostCanopyMidpoints = 300;
// The residual stored when the bounds do not enclose a root.
inline constexpr double kNoCanopyRoot = 666.0;

// What a canopy's leaf area and height and the step length fix. Cells that
// share them share these terms: a point computes them only when its own
// values differ from those they were made for.
struct canopy_terms {
  double leaf_area_index = -1.0;
  double height = -1.0;       // m
  double time_step = -1.0;    // s
  double transmission = 0.0;  // of the shortwave radiation, exp(−0.41·LAI)
  double wind_factor = 0.0;   // wind below over wind above
  double closure = 0.0;
  double longwave_share = 0.0;     // the canopy's in the long-wave radiation below it
  double most_load = 0.0;          // mm
  double albedo_decay_warm = 0.0;  // factor of the albedo above its minimum per step
  double albedo_decay_cold = 0.0;
  double resistance_wind = 0.0;     // aerodynamic resistance times wind speed, m
  double heat_capacity_rate = 0.0;  // canopy heat capacity per step length, W/(m²·K)
};
canopy_terms CanopyTerms(double leaf_area_index, double height, double time_step);

// The canopy of one cell in one step. Set the inputs, call CanopySnowStep,
// then (with the energy balance) set its inputs and call
// SolveCanopyTemperature; read the results from the same fields.
struct SnowCanopyPoint {
  // Weather of the step; temperature, humidity, shortwave and wind become
  // the values below the canopy.
  double temperature = 273.16;             // K
  double daily_mean_temperature = 273.16;  // K
  double temperature_offset = 0.0;         // K
  double humidity = 90.0;                  // %
  double precipitation = 0.0;              // mm of the step
  double snowfall = 0.0;                   // mm of the step; afterwards the snow leaving the canopy
  double rain = 0.0;                       // mm of the step; afterwards the water leaving the canopy
  double shortwave = 0.0;                  // W/m²
  double wind_speed = 0.0;                 // m/s
  double longwave = 316.0;                 // W/m² below the canopy
  double cloudiness = 0.0;                 // 0..1
  double time_step = 3600.0;               // s
  // The canopy.
  double leaf_area_index = 4.0;
  double height = 10.0;  // m
  double albedo = 0.2;   // of the canopy snow
  double load = 0.0;     // mm of snow held
  double previous_load = 0.0;
  double sublimation = 0.0;  // mm; negative: deposition
  double age = 0.0;          // days since fresh snow
  // Energy balance.
  double previous_albedo = 0.1;         // canopy snow albedo of the last step
  double surface_albedo = 0.75;         // of the snow below
  double surface_temperature = 273.16;  // K of the snow below; not above −9999: none
  double canopy_temperature = 273.16;   // K
  double previous_canopy_temperature = 273.15;
  double radiation_above = 0.0;  // W/m²
  // Air above the canopy, kept by CanopySnowStep.
  double air_temperature_above = 272.16;
  double humidity_above = 90.0;
  double wind_above = 0.0;
  double residual = -2000.0;           // W/m²
  double canopy_air_difference = 0.0;  // K
  // Terms of the leaf area, height and step length (taken over from a
  // neighbouring cell or computed when they do not fit).
  canopy_terms terms;

  // Loads, ages, sublimates and melts the canopy snow and sets the climate
  // below the canopy.
  void CanopySnowStep();
  // Energy balance of the canopy at its current temperature (W/m²); stores
  // the incoming long-wave radiation above the canopy in `longwave`.
  double EnergyResidual();
  // Bisects the canopy temperature between 240 and 350 K, keeps the residual
  // and the canopy-air difference, and mixes the canopy's emission into the
  // long-wave radiation below it.
  void SolveCanopyTemperature();
  // Computes `terms` when they were made for another leaf area, height or step.
  void RefreshTerms();
};

// Aerodynamic resistance (s/m) above a canopy of `height` m at a wind speed
// of `wind` m/s (0: calm, taken as 0.01 m/s).
double CanopyAerodynamicResistance(double height, double wind);

// Share of the input water of a cell that falls as snow at `t_celsius`: 1 up
// to T0R − X, falling linearly to 0 at T0R + X.
double CanopySnowFraction(double t_celsius, double t0r, double half_width);

}  // namespace velmo
