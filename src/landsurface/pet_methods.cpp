// Potential evapotranspiration methods and their radiation relations.
#include "landsurface/pet_methods.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "physics/heat.h"
#include "physics/solar.h"
#include "physics/units.h"

namespace velmo {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// exp(x·ln b) in place of pow(b, x): the same number, at a third of the cost.
const double kLogCanopyLightBase = std::log(kCanopyLightBase);

// Cloudiness as a quadratic of the radiation ratio.
constexpr double kCloudinessBase = 0.997;
constexpr double kCloudinessLinear = 0.4473;
constexpr double kCloudinessQuadratic = -1.4059;

// Mid-month interpolation of the Hamon factors and of the amplitudes.
constexpr int kMidMonthDay = 16;
constexpr double kHamonHalfMonth = 15.0;
constexpr double kHamonMonth = 30.0;
constexpr double kAmplitudeHalfMonth = 15.5;
constexpr double kAmplitudeDayOffset = 15.0;

// Linear interpolation between (x1, y1) and (x2, y2); y1 when x1 = x2.
double Between(double x1, double y1, double x2, double y2, double x) {
  if (x2 - x1 == 0.0) return y1;
  return (x2 - x) / (x2 - x1) * y1 + (x - x1) / (x2 - x1) * y2;
}

}  // namespace

// ---------------------------------------------------------------- Penman-Monteith

double LongwaveLoss(double vapour_pressure, double relative_sunshine, double diffuse_fraction,
                    double temperature, double step_minutes, double fraction) {
  const double emissivity = kLongwaveEmissivityBase - kLongwaveEmissivityVapour * std::sqrt(vapour_pressure);
  const double cloud_term = diffuse_fraction + (1.0 - diffuse_fraction) * relative_sunshine;
  return emissivity * cloud_term * EnergyOfStep(BlackBodyFlux(CelsiusToKelvin(temperature)), step_minutes) *
         fraction;
}

pm_part_terms PenmanMonteithPart(const pm_part_input& part) {
  pm_part_terms terms;
  const double water_equivalent = EvaporationEnergyPerMillimetre(part.temperature);
  if (part.net_radiation_given) {
    terms.net_energy = part.net_radiation * part.fraction / water_equivalent;
  } else {
    const double longwave = LongwaveLoss(part.vapour_pressure, part.relative_sunshine, part.diffuse_fraction,
                                         part.temperature, part.step_minutes, part.fraction);
    terms.net_energy = part.daylight
                           ? kNetRadiationShare * (part.absorbed_shortwave - longwave) / water_equivalent
                           : -longwave / water_equivalent;
  }
  terms.delta_over_gamma = SaturationVapourPressureSlopeTetens(part.temperature) /
                           PsychrometricConstant(part.pressure, part.temperature);
  const double deficit = std::max(0.0, part.saturation_vapour_pressure - part.vapour_pressure);
  // Aerodynamic term times ra; the layer divides by its own ra.
  terms.aerodynamic_numerator =
      AerodynamicTerm(deficit, part.temperature, 1.0, part.step_minutes, part.fraction);
  return terms;
}

namespace {

double ResistanceFromProfile(double roughness_length, double log_profile, double wind_speed) {
  if (roughness_length > kTallRoughnessLength) return kTallCanopyResistance;
  return kAerodynamicResistanceFactor * log_profile * log_profile /
         (1.0 + kAerodynamicWindFactor * wind_speed);
}

double ResistanceFromLight(double canopy_resistance, double leaf_area_index, double coverage, bool night_form,
                           double light_term) {
  if (canopy_resistance <= 0.0) return 0.0;
  if (leaf_area_index <= 0.0 || coverage <= 0.0) return kClosedStomataResistance;
  if (night_form) return kClosedStomataResistance / (leaf_area_index * coverage);
  return canopy_resistance / (1.0 - light_term);
}

}  // namespace

double AerodynamicResistance(double roughness_length, double wind_speed) {
  return ResistanceFromProfile(roughness_length, std::log(kResistanceReferenceHeight / roughness_length),
                               wind_speed);
}

double SurfaceResistance(double canopy_resistance, double leaf_area_index, double coverage, bool night_form) {
  return ResistanceFromLight(canopy_resistance, leaf_area_index, coverage, night_form,
                             std::exp(kLogCanopyLightBase * leaf_area_index * coverage));
}

void UpdateVegetationTerms(const pm_layer_input& layer, pm_vegetation_terms& terms) {
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
  }
}

double AerodynamicTerm(double vapour_pressure_deficit, double temperature, double ra, double step_minutes,
                       double fraction) {
  return kAerodynamicTermFactor * kSecondsPerMinute * step_minutes * fraction * vapour_pressure_deficit /
         ((kZeroCelsius + temperature) * ra);
}

double PenmanMonteithRate(double energy, double delta_over_gamma, double aerodynamic_term,
                          double surface_resistance, double ra) {
  return (energy * delta_over_gamma + aerodynamic_term) / (surface_resistance / ra + delta_over_gamma + 1.0);
}

pm_layer_result PenmanMonteithLayer(const pm_part_terms& terms, const pm_layer_input& layer, bool daylight,
                                    pm_layer_state& state) {
  pm_vegetation_terms vegetation;
  UpdateVegetationTerms(layer, vegetation);
  return PenmanMonteithLayer(terms, layer, vegetation, daylight, state);
}

pm_layer_result PenmanMonteithLayer(const pm_part_terms& terms, const pm_layer_input& layer,
                                    const pm_vegetation_terms& vegetation, bool daylight,
                                    pm_layer_state& state) {
  // Energy: the uppermost layer takes the net radiation, each layer below
  // what the layers above left; the canopy absorbs its share.
  const double canopy_share = layer.coverage * (1.0 - vegetation.canopy_transmission);
  const double incoming = layer.top ? terms.net_energy : state.energy;
  const double absorbed = canopy_share * incoming;
  const double remaining = std::max(0.0, incoming - absorbed);
  state.energy = remaining;

  if (layer.top)
    state.top_resistance =
        ResistanceFromProfile(layer.roughness_length, vegetation.log_profile, layer.wind_speed);
  const double ra =
      layer.top ? state.top_resistance : layer.leaf_area_above * layer.leaf_area_scale + state.top_resistance;

  // Open water keeps its daytime (zero) resistance at night.
  const bool night_form = !daylight && !(layer.lowest && layer.lake);
  const double rs = ResistanceFromLight(layer.canopy_resistance, layer.leaf_area_index, layer.coverage,
                                        night_form, vegetation.light_term);
  // The three rates share ra, Δ/γ and the aerodynamic term.
  const double inverse_ra = 1.0 / ra;
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

// ---------------------------------------------------------------- Hamon, Wendling, Haude

void WrapMonthlyTable(monthly_table& table) {
  table[0] = table[12];
  table[13] = table[1];
}

double HamonMonthlyFactor(const monthly_table& factors, int day, int month,
                          const std::array<int, 13>& month_lengths) {
  const auto m = static_cast<std::size_t>(month);
  if (day < kMidMonthDay)
    return (kHamonHalfMonth - day) / kHamonMonth * factors[m - 1] +
           (day + kHamonHalfMonth) / kHamonMonth * factors[m];
  return Between(kMidMonthDay, factors[m], month_lengths[m] + kMidMonthDay, factors[m + 1], day);
}

double HamonPotentialEvapotranspiration(double temperature, double day_fraction, double factor,
                                        double step_minutes) {
  const double daylight_hours_by_twelve = 2.0 * day_fraction;
  const double saturation = SaturationVapourPressureTetens(temperature);
  return kHamonCoefficient * factor * daylight_hours_by_twelve * kAbsoluteHumidityFactor * saturation /
         (temperature + kHamonKelvinOffset) * (step_minutes / kMinutesPerDay);
}

double WendlingPotentialEvapotranspiration(double global_radiation, double albedo, double coast_factor,
                                           double temperature, double step_minutes) {
  const double energy = global_radiation * kWendlingRadiationFactor * (kWendlingAlbedoBase - albedo) +
                        kWendlingCoastTerm * coast_factor;
  return energy * (temperature + kWendlingTemperatureOffset) /
         ((temperature + kWendlingTemperatureDivisor) * kWendlingDivisor) * (step_minutes / kMinutesPerDay);
}

double HaudePotentialEvapotranspiration(double temperature, double relative_humidity, double factor,
                                        double step_minutes) {
  const double daily = factor * SaturationVapourPressureHaude(temperature) * (1.0 - relative_humidity);
  return std::min(daily, kHaudeDailyMaximum) * (step_minutes / kMinutesPerDay);
}

// ---------------------------------------------------------------- radiation and sunshine

int QuadraticRoots(double p, double q, double& x1, double& x2) {
  const double d = p * p / 4.0 - q;
  if (d > 0.0) {
    x1 = -p / 2.0 - std::sqrt(d);
    x2 = std::sqrt(d) - p / 2.0;
    return 2;
  }
  if (d == 0.0) {
    x1 = x2 = -p / 2.0;
    return 1;
  }
  x1 = x2 = 0.0;
  return 0;
}

sunshine_threshold SunshineThreshold(const std::array<double, 4>& cs) {
  sunshine_threshold result;
  double x1 = 0.0;
  double x2 = 0.0;
  int roots = 0;
  if (cs[3] != 0.0) {
    // The minimum of the cubic: a root of its derivative.
    roots = QuadraticRoots(2.0 * cs[2] / (3.0 * cs[3]), cs[1] / (3.0 * cs[3]), x1, x2);
  } else if (cs[2] != 0.0) {
    roots = QuadraticRoots(cs[1] / cs[2], cs[0] / cs[2], x1, x2);
  } else if (cs[1] != 0.0) {
    x1 = x2 = -cs[0] / cs[1];
    roots = 1;
  } else {
    result.fault = sunshine_threshold_fault::no_relationship;
    return result;
  }
  const auto in_range = [](double x) { return x >= 0.0 && x <= 1.0; };
  if (roots == 2 && in_range(x2)) {
    result.r0 = x2;
  } else if (roots >= 1 && in_range(x1)) {
    result.r0 = x1;
  } else {
    result.fault = sunshine_threshold_fault::no_root_in_range;
  }
  return result;
}

double Cubic(const std::array<double, 4>& c, double x) { return c[0] + x * (c[1] + x * (c[2] + x * c[3])); }

double RelativeSunshine(double ratio, const std::array<double, 4>& cs, double r0) {
  const double s = ratio > r0 ? Cubic(cs, ratio) : 0.0;
  return std::clamp(s, 0.0, 1.0);
}

double Cloudiness(double ratio) {
  if (ratio > 1.0) return 0.0;
  return std::min(1.0, kCloudinessBase + kCloudinessLinear * ratio + kCloudinessQuadratic * ratio * ratio);
}

double Transmissivity(double mean, double amplitude, int day, int month) {
  const double day_number = kMeanMonthLength * (month - 1) + kTransmissivityDayOffset + day;
  return mean + amplitude * std::cos(kTwoPi * day_number / kDaysPerYear);
}

double ClearSkyRadiation(const double* cos_zenith, int count, double h, double log_transmissivity,
                         double pressure) {
  const double relative_pressure = pressure / kReferencePressure;
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    const double cz = cos_zenith[i];
    if (cz <= 0.0) continue;
    sum += std::exp(log_transmissivity * relative_pressure / cz) * kSolarConstant * h * cz;
  }
  return sum;
}

double MonthlyAmplitude(const monthly_table& amplitudes, int day, int month,
                        const std::array<int, 13>& month_lengths) {
  const auto m = static_cast<std::size_t>(month);
  if (day < kMidMonthDay)
    return (day + kAmplitudeHalfMonth) / kMeanMonthLength * amplitudes[m] +
           (kAmplitudeDayOffset - day) / kMeanMonthLength * amplitudes[m - 1];
  return Between(kMidMonthDay, amplitudes[m], month_lengths[m] + kAmplitudeDayOffset, amplitudes[m + 1], day);
}

temperature_cycle DailyTemperatureCycle(double elevation, double scale_height, double amplitude, double ratio,
                                        double day_share, double variability) {
  const double x = std::exp(-elevation / scale_height) * amplitude * ratio;
  return {(day_share + variability) * x, ((1.0 - day_share) - variability) * x};
}

}  // namespace velmo
