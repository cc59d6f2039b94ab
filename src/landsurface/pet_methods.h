// Potential evapotranspiration methods as plain functions of numbers:
// Penman-Monteith per vegetation layer (with its energy and resistance
// terms), Hamon, Wendling and Haude, and the radiation and sunshine relations
// they share (clear-sky radiation, radiation ratio and relative sunshine,
// cloudiness, the daily temperature cycle). Energies are water equivalents in
// mm per step, radiation in Wh/m² per step, resistances in s/m, pressures in
// hPa, temperatures in °C. The properties of moist air (saturation vapour
// pressure and its slope, psychrometric constant, latent heat, barometric
// pressure) come from physics/moist_air.h. What runs for every cell and step
// is defined here, inline, so that the cell loops keep their values in
// registers.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "physics/heat.h"
#include "physics/moist_air.h"
#include "physics/monthly.h"
#include "physics/solar.h"
#include "physics/units.h"

namespace velmo {

// ---------------------------------------------------------------- Penman-Monteith

inline constexpr double kLongwaveEmissivityBase = 0.48;       // 1
inline constexpr double kLongwaveEmissivityVapour = 0.065;    // per √hPa
inline constexpr double kNetRadiationShare = 0.9;             // of the net shortwave minus longwave
inline constexpr double kTallRoughnessLength = 2.0;           // m; above it ra is fixed
inline constexpr double kTallCanopyResistance = 25.0;         // s/m
inline constexpr double kResistanceReferenceHeight = 20.0;    // m
inline constexpr double kAerodynamicResistanceFactor = 4.72;  // s/m
inline constexpr double kAerodynamicWindFactor = 0.54;        // s/m
inline constexpr double kNightConductancePerLeafArea = 4e-4;  // m/s
inline constexpr double kClosedStomataResistance = 1.0 / kNightConductancePerLeafArea;  // s/m
inline constexpr double kCanopyLightBase = 0.6;                                         // 1
inline constexpr double kAerodynamicTermFactor = 0.216876;  // mm K (s/m) per hPa and s
inline constexpr double kDefaultExtinction = 0.3;           // light extinction of a single layer
inline constexpr double kDefaultLeafAreaScale = 10.0;       // s/m per unit of leaf area above
// A roughness length of 0 or less has no aerodynamic resistance; it is taken as this.
inline constexpr double kMinimumRoughnessLength = 0.001;  // m

// What one part of a step (daylight or night) brings to the layers of a cell.
struct pm_part_input {
  bool daylight = true;                     // false: the night part
  double fraction = 1.0;                    // share of the step, fD or fN
  double temperature = 0.0;                 // °C
  double step_minutes = 1440.0;             // Δt
  double pressure = kReferencePressure;     // hPa
  double vapour_pressure = 0.0;             // hPa
  double saturation_vapour_pressure = 0.0;  // hPa at the temperature
  bool net_radiation_given = false;
  double net_radiation = 0.0;       // Wh/m² per step, with net_radiation_given
  double absorbed_shortwave = 0.0;  // Wh/m² per step, (1 - albedo) · global radiation
  double relative_sunshine = 0.0;   // 0..1
  double diffuse_fraction = 0.0;    // a0
};

// The layer-independent terms of one part.
struct pm_part_terms {
  double net_energy = 0.0;             // mm, the energy the uppermost layer receives
  double delta_over_gamma = 0.0;       // Δ/γ
  double aerodynamic_numerator = 0.0;  // mm s/m: the aerodynamic term times ra
};

// Longwave loss of a part, Wh/m² per step.
inline double LongwaveLoss(double vapour_pressure, double relative_sunshine, double diffuse_fraction,
                           double temperature, double step_minutes, double fraction) {
  const double emissivity = kLongwaveEmissivityBase - kLongwaveEmissivityVapour * std::sqrt(vapour_pressure);
  const double cloud_term = diffuse_fraction + (1.0 - diffuse_fraction) * relative_sunshine;
  return emissivity * cloud_term * EnergyOfStep(BlackBodyFlux(CelsiusToKelvin(temperature)), step_minutes) *
         fraction;
}

// Aerodynamic term in mm for one part.
inline double AerodynamicTerm(double vapour_pressure_deficit, double temperature, double ra,
                              double step_minutes, double fraction) {
  return kAerodynamicTermFactor * kSecondsPerMinute * step_minutes * fraction * vapour_pressure_deficit /
         ((kZeroCelsius + temperature) * ra);
}

// What a part's terms take from its temperature and air pressure alone: the
// day and night parts of a step at one temperature share them. The terms
// share one reciprocal: the energy divides by the latent heat as water
// equivalent w, the aerodynamic term by the air temperature in kelvin k, and
// Δ/γ = Δ·λ/(c_p/ε·p) by g = (t + 237.3)²·c_p/ε·p; 1/(w·k·g) times the other
// two factors stands for each division.
struct pm_air_terms {
  double water_equivalent = 0.0;         // w, Wh/m² per mm
  double kelvin = 0.0;                   // k
  double gamma_denominator = 0.0;        // g
  double reciprocal = 0.0;               // 1/(w·k·g)
  double slope_times_latent_heat = 0.0;  // Δ·(t + 237.3)²·λ
};
inline pm_air_terms PenmanMonteithAir(double t, double pressure) {
  pm_air_terms air;
  air.water_equivalent = EvaporationEnergyPerMillimetre(t);
  air.kelvin = kZeroCelsius + t;
  const double d = t + kTetensWaterB;
  air.gamma_denominator = d * d * kPsychrometricCoefficient * pressure;
  air.reciprocal = 1.0 / (air.water_equivalent * air.kelvin * air.gamma_denominator);
  air.slope_times_latent_heat =
      kTetensSlopeNumerator * std::exp(kTetensSlopeA * t / d) * LatentHeatOfVaporisation(t);
  return air;
}

// The terms of a part whose air terms are known (`air` at its temperature and pressure).
inline pm_part_terms PenmanMonteithPart(const pm_part_input& part, const pm_air_terms& air) {
  const double t = part.temperature;
  const double water_equivalent = air.water_equivalent;
  const double kelvin = air.kelvin;
  const double gamma_denominator = air.gamma_denominator;
  const double reciprocal = air.reciprocal;

  double energy = 0.0;  // Wh/m², times 1/w gives mm
  if (part.net_radiation_given) {
    energy = part.net_radiation * part.fraction;
  } else {
    const double longwave = LongwaveLoss(part.vapour_pressure, part.relative_sunshine, part.diffuse_fraction,
                                         t, part.step_minutes, part.fraction);
    energy = part.daylight ? kNetRadiationShare * (part.absorbed_shortwave - longwave) : -longwave;
  }
  const double deficit = std::max(0.0, part.saturation_vapour_pressure - part.vapour_pressure);
  const double slope_times_latent_heat = air.slope_times_latent_heat;

  pm_part_terms terms;
  terms.net_energy = energy * (kelvin * gamma_denominator) * reciprocal;
  terms.delta_over_gamma = slope_times_latent_heat * (water_equivalent * kelvin) * reciprocal;
  // Aerodynamic term times ra; the layer divides by its own ra.
  terms.aerodynamic_numerator = kAerodynamicTermFactor * kSecondsPerMinute * part.step_minutes *
                                part.fraction * deficit * (water_equivalent * gamma_denominator) * reciprocal;
  return terms;
}
inline pm_part_terms PenmanMonteithPart(const pm_part_input& part) {
  return PenmanMonteithPart(part, PenmanMonteithAir(part.temperature, part.pressure));
}

// ln 0.6: 0.6^x is taken as exp(x·ln 0.6), the same number at a third of the cost.
inline const double kLogCanopyLightBase = std::log(kCanopyLightBase);

namespace detail {
inline double ResistanceFromProfile(double roughness_length, double log_profile, double wind_speed) {
  if (roughness_length > kTallRoughnessLength) return kTallCanopyResistance;
  return kAerodynamicResistanceFactor * log_profile * log_profile /
         (1.0 + kAerodynamicWindFactor * wind_speed);
}
// 1/ra from 1/(4.72·ln²(20 m/z0)), which depends on the land use alone: the
// wind then only multiplies.
inline double InverseResistanceFromProfile(double roughness_length, double inverse_profile,
                                           double wind_speed) {
  if (roughness_length > kTallRoughnessLength) return 1.0 / kTallCanopyResistance;
  return (1.0 + kAerodynamicWindFactor * wind_speed) * inverse_profile;
}

inline double ResistanceFromLight(double canopy_resistance, double leaf_area_index, double coverage,
                                  bool night_form, double light_term) {
  if (canopy_resistance <= 0.0) return 0.0;
  if (leaf_area_index <= 0.0 || coverage <= 0.0) return kClosedStomataResistance;
  if (night_form) return kClosedStomataResistance / (leaf_area_index * coverage);
  return canopy_resistance / (1.0 - light_term);
}
}  // namespace detail

// Aerodynamic resistance of the uppermost layer.
inline double AerodynamicResistance(double roughness_length, double wind_speed) {
  return detail::ResistanceFromProfile(roughness_length,
                                       std::log(kResistanceReferenceHeight / roughness_length), wind_speed);
}

// Surface resistance of a layer; `night_form` for an upper layer at night.
inline double SurfaceResistance(double canopy_resistance, double leaf_area_index, double coverage,
                                bool night_form) {
  return detail::ResistanceFromLight(canopy_resistance, leaf_area_index, coverage, night_form,
                                     std::exp(kLogCanopyLightBase * leaf_area_index * coverage));
}

// The Penman-Monteith combination: (energy·Δ/γ + Aa)/(r_surface/ra + Δ/γ + 1).
inline double PenmanMonteithRate(double energy, double delta_over_gamma, double aerodynamic_term,
                                 double surface_resistance, double ra) {
  return (energy * delta_over_gamma + aerodynamic_term) / (surface_resistance / ra + delta_over_gamma + 1.0);
}

// One vegetation layer of a cell.
struct pm_layer_input {
  bool top = true;     // uppermost present layer: takes the radiation and sets ra
  bool lowest = true;  // lowest present layer: the soil below evaporates
  bool lake = false;   // open water (only in the lowest layer)
  double coverage = 0.0;
  double leaf_area_index = 0.0;
  double canopy_resistance = 0.0;        // rsc
  double interception_resistance = 0.0;  // rsi
  double soil_resistance = 0.0;          // rse, lowest layer
  double roughness_length = 0.0;         // m, uppermost layer (> 0)
  double wind_speed = 0.0;               // m/s
  double extinction = kDefaultExtinction;
  double leaf_area_scale = kDefaultLeafAreaScale;
  double leaf_area_above = 0.0;
};

// What passes from layer to layer within one part: the aerodynamic
// resistance of the uppermost layer and the energy the layers above left.
struct pm_layer_state {
  double top_resistance = 0.0;  // s/m; set by an uppermost layer with layers below
  double energy = 0.0;          // mm
};

struct pm_layer_result {
  double transpiration = 0.0;  // mm
  double interception = 0.0;   // mm
  double soil = 0.0;           // mm
};

// The exponentials and the logarithm of a layer's vegetation: the light
// passing the canopy, the light term of the daytime surface resistance and
// the logarithmic wind profile, and the surface resistances of day and night
// made from them. They depend on the land use alone, so a caller that keeps
// them from cell to cell recomputes them only where the values change.
struct pm_vegetation_terms {
  static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();  // equals no value
  double extinction_leaf_area = kNone;                                       // k·LAI they were computed for
  double canopy_transmission = 1.0;                                          // exp(-k·LAI)
  double active_leaf_area = kNone;                                           // LAI·coverage
  double light_term = 1.0;                                                   // 0.6^(LAI·coverage)
  double roughness_length = kNone;                                           // z0 of the uppermost layer
  double log_profile = 0.0;                                                  // ln(20 m / z0)
  double inverse_profile = 0.0;  // 1/(4.72 s/m · ln²(20 m / z0))
  // rsc, LAI and coverage the resistances were made for.
  double canopy_resistance = kNone;
  double leaf_area_index = kNone;
  double coverage = kNone;
  double day_resistance = 0.0;    // s/m
  double night_resistance = 0.0;  // s/m, the night form of an upper layer
};
// Brings `terms` up to the layer's values.
inline void UpdateVegetationTerms(const pm_layer_input& layer, pm_vegetation_terms& terms) {
  const double extinction_leaf_area = layer.extinction * layer.leaf_area_index;
  if (extinction_leaf_area != terms.extinction_leaf_area) {
    terms.extinction_leaf_area = extinction_leaf_area;
    terms.canopy_transmission = std::exp(-extinction_leaf_area);
  }
  const double active_leaf_area = layer.leaf_area_index * layer.coverage;
  if (active_leaf_area != terms.active_leaf_area) {
    terms.active_leaf_area = active_leaf_area;
    terms.light_term = std::exp(kLogCanopyLightBase * active_leaf_area);
  }
  if (layer.top && layer.roughness_length != terms.roughness_length) {
    terms.roughness_length = layer.roughness_length;
    terms.log_profile = std::log(kResistanceReferenceHeight / layer.roughness_length);
    terms.inverse_profile = 1.0 / (kAerodynamicResistanceFactor * terms.log_profile * terms.log_profile);
  }
  if (layer.canopy_resistance != terms.canopy_resistance || layer.leaf_area_index != terms.leaf_area_index ||
      layer.coverage != terms.coverage) {
    terms.canopy_resistance = layer.canopy_resistance;
    terms.leaf_area_index = layer.leaf_area_index;
    terms.coverage = layer.coverage;
    terms.day_resistance = detail::ResistanceFromLight(layer.canopy_resistance, layer.leaf_area_index,
                                                       layer.coverage, false, terms.light_term);
    terms.night_resistance = detail::ResistanceFromLight(layer.canopy_resistance, layer.leaf_area_index,
                                                         layer.coverage, true, terms.light_term);
  }
}

// The layer computation with terms already up to date.
inline pm_layer_result PenmanMonteithLayer(const pm_part_terms& terms, const pm_layer_input& layer,
                                           const pm_vegetation_terms& vegetation, bool daylight,
                                           pm_layer_state& state) {
  // Energy: the uppermost layer takes the net radiation, each layer below
  // what the layers above left; the canopy absorbs its share.
  const double canopy_share = layer.coverage * (1.0 - vegetation.canopy_transmission);
  const double incoming = layer.top ? terms.net_energy : state.energy;
  const double absorbed = canopy_share * incoming;
  const double remaining = std::max(0.0, incoming - absorbed);
  state.energy = remaining;

  // The rates take 1/ra; the uppermost layer has it without a division and
  // makes ra itself only for the layers below.
  double inverse_ra = 0.0;
  if (layer.top) {
    inverse_ra = detail::InverseResistanceFromProfile(layer.roughness_length, vegetation.inverse_profile,
                                                      layer.wind_speed);
    if (!layer.lowest) state.top_resistance = 1.0 / inverse_ra;
  } else {
    inverse_ra = 1.0 / (layer.leaf_area_above * layer.leaf_area_scale + state.top_resistance);
  }

  // Open water keeps its daytime (zero) resistance at night.
  const bool night_form = !daylight && !(layer.lowest && layer.lake);
  const double rs = night_form ? vegetation.night_resistance : vegetation.day_resistance;
  // The three rates share 1/ra, Δ/γ and the aerodynamic term.
  const double aerodynamic = terms.aerodynamic_numerator * inverse_ra;
  const double dg = terms.delta_over_gamma;
  const auto rate = [&](double energy, double surface_resistance) {
    return (energy * dg + aerodynamic) / (surface_resistance * inverse_ra + dg + 1.0);
  };

  const double canopy_energy = layer.lake ? remaining + absorbed : absorbed;
  const double soil_energy = layer.lake ? 0.0 : remaining;
  pm_layer_result result;
  if (layer.lowest && !layer.lake) result.soil = rate(soil_energy, layer.soil_resistance);
  if (!layer.lake) result.interception = rate(canopy_energy, layer.interception_resistance);
  result.transpiration = rate(canopy_energy, rs);
  return result;
}

// The same for one layer alone, its vegetation terms computed afresh.
inline pm_layer_result PenmanMonteithLayer(const pm_part_terms& terms, const pm_layer_input& layer,
                                           bool daylight, pm_layer_state& state) {
  pm_vegetation_terms vegetation;
  UpdateVegetationTerms(layer, vegetation);
  return PenmanMonteithLayer(terms, layer, vegetation, daylight, state);
}

// ---------------------------------------------------------------- Hamon, Wendling, Haude

inline constexpr double kHamonCoefficient = 0.1651;       // mm per (g/m³) and day
inline constexpr double kAbsoluteHumidityFactor = 216.7;  // g K per (m³ hPa)
inline constexpr double kHamonKelvinOffset = 273.3;       // K
inline constexpr double kHoursPerHalfDay = 12.0;

// Hamon potential evapotranspiration in mm per step.
double HamonPotentialEvapotranspiration(double temperature, double day_fraction, double factor,
                                        double step_minutes);

inline constexpr double kWendlingRadiationFactor = 0.36;  // per Wh/m², before the divisor
inline constexpr double kWendlingAlbedoBase = 1.1;
inline constexpr double kWendlingCoastTerm = 93.0;
inline constexpr double kWendlingTemperatureOffset = 22.0;    // °C
inline constexpr double kWendlingTemperatureDivisor = 123.0;  // °C
inline constexpr double kWendlingDivisor = 150.0;

// Wendling potential evapotranspiration in mm per step from the corrected
// global radiation (Wh/m² per step), which enters the daily formula as its
// daily rate.
double WendlingPotentialEvapotranspiration(double global_radiation, double albedo, double coast_factor,
                                           double temperature, double step_minutes);

inline constexpr double kHaudeDailyMaximum = 7.0;  // mm per day

// Haude potential evapotranspiration in mm per step.
double HaudePotentialEvapotranspiration(double temperature, double relative_humidity, double factor,
                                        double step_minutes);

// ---------------------------------------------------------------- radiation and sunshine

inline constexpr double kLowSunCosine = 0.017;             // below it no clear-sky radiation
inline constexpr double kMaximumGlobalRadiation = 1260.0;  // W/m² of daylight
inline constexpr double kDaysPerYear = 365.0;
inline constexpr double kMeanMonthLength = 30.5;          // days
inline constexpr double kTransmissivityDayOffset = 10.0;  // days

// Roots of x² + p·x + q = 0: returns their number (2, 1 or 0); x1 <= x2.
// Without a root both are 0.
int QuadraticRoots(double p, double q, double& x1, double& x2);

enum class sunshine_threshold_fault { none, no_relationship, no_root_in_range };
struct sunshine_threshold {
  double r0 = 0.0;
  sunshine_threshold_fault fault = sunshine_threshold_fault::none;
};
// The radiation ratio r0 below which the relative sunshine is 0, from the
// coefficients of s(r) = cs0 + cs1·r + cs2·r² + cs3·r³; it must lie in 0..1.
sunshine_threshold SunshineThreshold(const std::array<double, 4>& cs);

inline double Cubic(const std::array<double, 4>& c, double x) {
  return c[0] + x * (c[1] + x * (c[2] + x * c[3]));
}

// Relative sunshine from the radiation ratio r (0 at or below r0), in 0..1.
inline double RelativeSunshine(double ratio, const std::array<double, 4>& cs, double r0) {
  const double s = ratio > r0 ? Cubic(cs, ratio) : 0.0;
  return std::clamp(s, 0.0, 1.0);
}

// Cloudiness as a quadratic of the radiation ratio.
inline constexpr double kCloudinessBase = 0.997;
inline constexpr double kCloudinessLinear = 0.4473;
inline constexpr double kCloudinessQuadratic = -1.4059;
// Cloudiness from the radiation ratio, at most 1.
inline double Cloudiness(double ratio) {
  if (ratio > 1.0) return 0.0;
  return std::min(1.0, kCloudinessBase + kCloudinessLinear * ratio + kCloudinessQuadratic * ratio * ratio);
}
// Atmospheric transmissivity of the day.
double Transmissivity(double mean, double amplitude, int day, int month);
// What one daylight sub-step with the sun above the horizon gives the
// clear-sky radiation of every cell: ln τ / cos z and S0·h·cos z. They are
// the same for all cells of a step, so the cells only multiply and take exp.
struct clear_sky_substep {
  double log_transmission = 0.0;  // ln τ / cos z, per unit of relative pressure
  double energy = 0.0;            // Wh/m², S0·h·cos z
};
// The sub-steps of length h hours with the given zenith cosines, for ln of
// the day's transmissivity; sub-steps with the sun below the horizon add
// nothing and are left out. Returns their number.
inline int ClearSkySubsteps(const double* cos_zenith, int count, double h, double log_transmissivity,
                            clear_sky_substep* substeps) {
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const double cz = cos_zenith[i];
    if (cz <= 0.0) continue;
    substeps[kept++] = {log_transmissivity / cz, kSolarConstant * h * cz};
  }
  return kept;
}
// Clear-sky radiation (Wh/m²) summed over the sub-steps at the pressure
// p/1013 hPa.
inline double ClearSkyRadiation(const clear_sky_substep* substeps, int count, double relative_pressure) {
  double sum = 0.0;
  for (int i = 0; i < count; ++i)
    sum += std::exp(substeps[i].log_transmission * relative_pressure) * substeps[i].energy;
  return sum;
}
// The same from the zenith cosines of the daylight sub-steps, at `pressure` hPa.
inline double ClearSkyRadiation(const double* cos_zenith, int count, double h, double log_transmissivity,
                                double pressure) {
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    clear_sky_substep substep;
    if (ClearSkySubsteps(cos_zenith + i, 1, h, log_transmissivity, &substep) == 1)
      sum += ClearSkyRadiation(&substep, 1, pressure / kReferencePressure);
  }
  return sum;
}

// Daily temperature amplitude of the day: linear between mid-months (index
// as monthly_table).
double MonthlyAmplitude(const monthly_table& amplitudes, int day, int month,
                        const std::array<int, 13>& month_lengths);

// Shifts of the day and night temperatures by the daily cycle.
struct temperature_cycle {
  double day_rise = 0.0;
  double night_drop = 0.0;
};
// z (m), scale height H (m, > 0), amplitude A (K), radiation ratio r, the day
// share fd of the amplitude and the day's variability v.
temperature_cycle DailyTemperatureCycle(double elevation, double scale_height, double amplitude, double ratio,
                                        double day_share, double variability);

}  // namespace velmo
