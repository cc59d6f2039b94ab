// Snow in the tree canopy of a cell: loading, albedo, sublimation, melt release, the climate below, and the
// canopy energy balance solved for the canopy temperature.
#include "landsurface/snow_canopy.h"

#include <algorithm>
#include <cmath>

#include "physics/heat.h"
#include "physics/moist_air.h"
#include "physics/units.h"

namespace velmo {
namespace {

constexpr double kMeltingPoint = kTriplePointOfWater;  // K
constexpr double kSecondsPerDay = kMinutesPerDay * kSecondsPerMinute;
constexpr double kSecondsPerHour = kMinutesPerHour * kSecondsPerMinute;
constexpr double kPercent = 100.0;
// Vapour pressure below which the emissivity's square root is not taken.
constexpr double kSmallestVapourPressure = 0.01;  // hPa
// A surface temperature not above this is none.
constexpr double kNoSurfaceTemperature = -9999.0;  // K

// Vapour pressure (hPa) of air at `t_kelvin` and `humidity_percent`: over
// water from 0 °C, over ice below.
double VapourPressure(double t_kelvin, double humidity_percent) {
  const double t = KelvinToCelsius(t_kelvin);
  const double saturation =
      t_kelvin >= kZeroCelsius ? SaturationVapourPressureWmo(t) : SaturationVapourPressureIceWmo(t);
  return saturation * humidity_percent / kPercent;
}

// Cloud factor of the incoming long-wave radiation: with precipitation, and
// otherwise by the cloudiness of an overcast, a clear and an in-between sky.
constexpr double kCloudFactorPrecipitation = 0.24;
constexpr double kCloudFactorOvercast = 0.2;
constexpr double kCloudFactorClear = 0.08;
constexpr double kCloudFactorBetween = 0.17;
constexpr double kOvercastFrom = 0.6;
constexpr double kClearUpTo = 0.2;
double CloudFactor(double precipitation, double cloudiness) {
  if (precipitation != 0.0) return kCloudFactorPrecipitation;
  if (cloudiness >= kOvercastFrom) return kCloudFactorOvercast;
  if (cloudiness <= kClearUpTo) return kCloudFactorClear;
  return kCloudFactorBetween;
}
// Brunt's emissivity of clear air, 0.61 + 0.05·sqrt(e), e in hPa.
constexpr double kBruntConstant = 0.61;
constexpr double kBruntSlope = 0.05;

// Incoming long-wave radiation of clear air at `t_kelvin` with vapour
// pressure `e`, raised by the clouds.
double ClearSkyLongwave(double t_kelvin, double e, double cloud_factor, double cloudiness) {
  const double emissivity = kBruntConstant + kBruntSlope * std::sqrt(std::max(e, kSmallestVapourPressure));
  return (cloud_factor * cloudiness * cloudiness + 1.0) * emissivity * BlackBodyFlux(t_kelvin);
}

// x^1.75 as x·sqrt(x)·sqrt(sqrt(x)), at a fraction of the cost of pow.
double PowerOneAndThreeQuarters(double x) {
  const double root = std::sqrt(x);
  return x * root * std::sqrt(root);
}

double Closure(double leaf_area_index, double offset) {
  return std::clamp(kClosurePerLogLeafArea * std::log(leaf_area_index) + offset, 0.0, 1.0);
}

// The canopy balance with every term that does not depend on the canopy
// temperature taken once: residual(Tc) = absorbed − emission·Tc⁴ −
// sensible·(Tc − Ta) − storage·(Tc − Tc_prev), kept as
// constant − emission·Tc⁴ − slope·Tc for the bisection.
struct canopy_balance {
  double longwave_in = 0.0;
  double constant = 0.0;  // W/m²
  double emission = 0.0;  // W/(m²·K⁴)
  double slope = 0.0;     // W/(m²·K)

  double Residual(double tc) const {
    const double tc2 = tc * tc;
    return constant - emission * tc2 * tc2 - slope * tc;
  }
};

// The point's terms must fit it (SnowCanopyPoint::RefreshTerms).
canopy_balance BalanceOf(const SnowCanopyPoint& p) {
  canopy_balance b;
  const double e = VapourPressure(p.air_temperature_above, p.humidity_above);
  b.longwave_in =
      ClearSkyLongwave(p.air_temperature_above, e, CloudFactor(p.precipitation, p.cloudiness), p.cloudiness);
  const double a = 1.0 - p.terms.transmission;
  // Shortwave the canopy snow absorbs, once directly and once reflected
  // from the snow below.
  const double as = p.surface_albedo;
  const double ac = p.previous_albedo;
  const double shortwave = ((1.0 - a) * as / (1.0 - a * ac * as) + 1.0) * (1.0 - ac) * p.radiation_above * a;
  const double surface = p.surface_temperature > kNoSurfaceTemperature ? p.surface_temperature
                                                                       : p.temperature - kSurfaceBelowAir;
  const double resistance = p.terms.resistance_wind / (p.wind_above != 0.0 ? p.wind_above : kCalmWind);
  const double sensible = kAirDensity * kSpecificHeatAir / resistance;
  const double storage = p.terms.heat_capacity_rate;
  b.constant = (BlackBodyFlux(surface) + b.longwave_in) * a + shortwave + sensible * p.air_temperature_above +
               storage * p.previous_canopy_temperature;
  b.emission = 2.0 * kStefanBoltzmann * a;
  b.slope = sensible + storage;
  return b;
}

}  // namespace

double CanopyAerodynamicResistance(double height, double wind) {
  return CanopyTerms(1.0, height, 1.0).resistance_wind / (wind != 0.0 ? wind : kCalmWind);
}

canopy_terms CanopyTerms(double leaf_area_index, double height, double time_step) {
  canopy_terms t;
  t.leaf_area_index = leaf_area_index;
  t.height = height;
  t.time_step = time_step;
  t.transmission = std::exp(-kCanopyShortwaveExtinction * leaf_area_index);
  t.wind_factor = std::exp((kCanopyWindShape - 1.0) * kCanopyWindScale * leaf_area_index);
  t.closure = Closure(leaf_area_index, kClosureOffset);
  t.longwave_share = Closure(leaf_area_index, kLongwaveShareOffset);
  t.most_load = kLoadPerLeafArea * leaf_area_index;
  const double days = time_step / kSecondsPerDay;
  t.albedo_decay_warm = std::exp(-kCanopyAlbedoDecayWarm * days);
  t.albedo_decay_cold = std::exp(-kCanopyAlbedoDecayCold * days);
  const double profile =
      std::log((kReferenceHeight - kDisplacementPerHeight * height) / (kRoughnessPerHeight * height));
  t.resistance_wind = profile * profile / kKarmanSquared;
  t.heat_capacity_rate = (kWoodPerHeight * height + kWoodPerLeafArea * leaf_area_index) * kWoodDensity *
                         kWoodHeatCapacity / time_step;
  return t;
}

void SnowCanopyPoint::RefreshTerms() {
  if (terms.leaf_area_index != leaf_area_index || terms.height != height || terms.time_step != time_step)
    terms = CanopyTerms(leaf_area_index, height, time_step);
}

double CanopySnowFraction(double t_celsius, double t0r, double half_width) {
  if (t_celsius <= t0r - half_width) return 1.0;
  if (t_celsius <= t0r + half_width) return (half_width + t0r - t_celsius) / (2.0 * half_width);
  return 0.0;
}

void SnowCanopyPoint::CanopySnowStep() {
  RefreshTerms();
  const double days = time_step / kSecondsPerDay;
  // Fresh snow renews the albedo; otherwise the snow ages and its albedo
  // decays, faster at melt.
  if (snowfall / time_step > kFreshCanopySnowRate) {
    albedo = kCanopyAlbedoMinimum + kCanopyFreshAlbedoIncrement;
    age = 0.0;
  } else {
    if (albedo > kCanopyAlbedoMinimum && age > 0.0) {
      const double decay = temperature >= kMeltingPoint ? terms.albedo_decay_warm : terms.albedo_decay_cold;
      albedo = kCanopyAlbedoMinimum + (albedo - kCanopyAlbedoMinimum) * decay;
    }
    age += days;
  }

  const double incoming = shortwave;
  const double below = terms.transmission * incoming;

  // Long-wave radiation below: the sky's through the gaps, the canopy's at
  // air temperature under its closure.
  const double closure = terms.closure;
  const double e = VapourPressure(temperature, humidity);
  const double air_emission = BlackBodyFlux(temperature);
  longwave =
      ClearSkyLongwave(temperature, e, CloudFactor(precipitation, cloudiness), cloudiness) * (1.0 - closure) +
      closure * air_emission;

  air_temperature_above = temperature;
  humidity_above = humidity;
  wind_above = wind_speed;
  wind_speed *= terms.wind_factor;
  const double reynolds =
      std::clamp(wind_speed * kParticleDiameter / kAirViscosity, kSmallestReynolds, kLargestReynolds);
  const double sherwood = kSherwoodConstant + kSherwoodSlope * std::sqrt(reynolds);

  humidity = std::min(kPercent, (1.0 + kHumidityRisePerClosure * closure) * humidity);
  const double mixed = kSubCanopyTemperatureWeight * (temperature - daily_mean_temperature) +
                       daily_mean_temperature - temperature_offset;
  temperature -= closure * (temperature - mixed);

  // Loading: the canopy takes part of the room it has left.
  const double most = terms.most_load;
  previous_load = load;
  // Without snowfall the load stays (1 − exp(0) is 0).
  const double intercepted = snowfall != 0.0 ? previous_load + kLoadingEfficiency * (most - previous_load) *
                                                                   (1.0 - std::exp(-snowfall / most))
                                             : previous_load;
  load = intercepted;
  sublimation = 0.0;

  if (intercepted > 0.0) {
    // Mass loss of an ice sphere (Pomeroy) scaled to the canopy's load.
    const double t = temperature;
    const double vapour_density = VapourDensity(SaturationVapourPressureIceBuckPa(t), t);
    const double diffusivity = kVapourDiffusivity * PowerOneAndThreeQuarters(t / kDiffusivityReference);
    const double omega =
        (kSublimationLatentMolar / (kGasConstant * t) - 1.0) / (kAirConductivity * t * sherwood);
    const double rate = ((humidity / kPercent - 1.0) * kParticleCircumference -
                         (1.0 - albedo) * kParticleCrossSection * incoming * omega) /
                        (1.0 / (vapour_density * diffusivity * sherwood) + kLatentHeatSublimation * omega);
    const double lost = -(rate / kParticleMass) * kExposureCoefficient *
                        std::pow(intercepted / most, kLoadShapeExponent) * intercepted * time_step;
    sublimation = std::min(intercepted, lost);
    load = intercepted - sublimation;
  }

  double released = 0.0;
  if (temperature > kMeltingPoint) {
    const double melt = (kCanopyTemperatureMelt / kSecondsPerHour * (temperature - kMeltingPoint) +
                         kCanopyRadiationMelt / kSecondsPerHour * (1.0 - albedo) * below) *
                        std::trunc(time_step);
    released = std::clamp(kReleasePerMelt * melt, 0.0, load);
    if (released > 0.0) humidity = kPercent;
    load -= released;
  }

  snowfall = snowfall - (intercepted - previous_load) + kReleasedAsSnow / kReleasePerMelt * released;
  rain += released / kReleasePerMelt;
  if (load == 0.0) {
    albedo = kCanopyAlbedoMinimum;
    age = 0.0;
  }
  shortwave = below;
}

double SnowCanopyPoint::EnergyResidual() {
  RefreshTerms();
  const canopy_balance b = BalanceOf(*this);
  longwave = b.longwave_in;
  return b.Residual(canopy_temperature);
}

void SnowCanopyPoint::SolveCanopyTemperature() {
  RefreshTerms();
  const canopy_balance b = BalanceOf(*this);
  longwave = b.longwave_in;
  const double at_lowest = b.Residual(kCanopyLowest);
  const double at_highest = b.Residual(kCanopyHighest);
  if (at_lowest * at_highest >= 0.0) {
    // No root between the bounds: the canopy takes the air below it.
    canopy_temperature = temperature;
    residual = kNoCanopyRoot;
  } else {
    double low = kCanopyLowest;
    double high = kCanopyHighest;
    for (int midpoint = 1; midpoint <= kMostCanopyMidpoints; ++midpoint) {
      const double middle = 0.5 * (low + high);
      const double f = b.Residual(middle);
      if (f * at_lowest < 0.0) {
        high = middle;
      } else {
        low = middle;
      }
      canopy_temperature = middle;
      residual = f;
      if (high - low <= kCanopyWidth || std::fabs(f) < kCanopyResidual) break;
    }
  }
  canopy_air_difference = canopy_temperature - air_temperature_above;
  const double share = terms.longwave_share;
  const double t2 = canopy_temperature * canopy_temperature;
  longwave = kCanopyEmission * t2 * t2 * share + (1.0 - share) * longwave;
}

}  // namespace velmo
