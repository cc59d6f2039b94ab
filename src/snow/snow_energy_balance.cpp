// Energy-balance snow melt: shared terms, the cold surface iteration, the wet-bulb search and one part of a
// step.
#include "snow/snow_energy_balance.h"

#include <algorithm>
#include <cmath>

#include "physics/heat.h"
#include "physics/moist_air.h"
#include "physics/units.h"

namespace velmo {
namespace {

constexpr double kMeltingPoint = kTriplePointOfWater;  // K, 0 °C of the snow model
// Below this the air temperature is a missing value.
constexpr double kAbsoluteZeroCelsius = -273.15;

bool HasTemperature(double value, double nodata) { return value != nodata && value != 0.0; }

// The cover ends a step without snow: it has no temperatures.
void ClearTemperatures(snow_balance_cell& cell, double nodata) {
  cell.pack_temperature = nodata;
  cell.surface_temperature = nodata;
}

double PrescribedKelvin(double value) { return value < kKelvinFrom ? value + kMeltingPoint : value; }

// A part at or below the melt threshold.
snow_balance_result ColdPart(const snow_balance_constants& k, const snow_balance_forcing& f,
                             const snow_balance_terms& t, double weight, double x, snow_balance_cell& cell) {
  const double air = f.t_air + kMeltingPoint;
  if (!(cell.solid > 0.0)) {
    ClearTemperatures(cell, k.nodata);
    return {};
  }
  if (cell.liquid > 0.0 || air > kMeltingPoint + kWarmAirAboveMelt) {
    x = kMeltingPoint;
  } else if (!f.prescribed_surface) {
    x = air - kIterationStartBelowAir;
  }
  const bool iterate = !(cell.liquid > 0.0) && !f.prescribed_surface;
  snow_surface_balance balance = IterateSurfaceTemperature(k, t, f.t_air, x, iterate);
  x = balance.temperature;
  double latent = balance.latent;
  if (!f.prescribed_surface) {
    if (air - x > kLargestSurfaceDeficit) {
      x = air - kLargestSurfaceDeficit;
      latent = SurfaceBalance(k, t, f.t_air, x).latent;
    }
    if (x > kMeltingPoint) {
      latent = kLatentTransfer * t.transfer * (t.vapour_pressure - kIceVapourPressureAtMelt);
      x = kMeltingPoint;
    }
  }

  // Heat conducted between surface and pack over the step part; the pack
  // moves towards the surface but not past it, and not above melt.
  const double seconds = k.step_minutes * kSecondsPerMinute * weight;
  const double total = cell.solid + cell.liquid;
  const double tp = cell.pack_temperature;
  const double conducted =
      tp + seconds * 2.0 * kSnowConductivity * kSnowDensity * (x - tp) / (total * total * kSpecificHeatIce);
  double pack = tp >= x ? std::max(x, conducted) : std::min(x, conducted);
  pack = std::min(kMeltingPoint, pack);

  // Sublimation (negative) or deposition, never more than the solid storage.
  double deposited = seconds * latent / kLatentHeatSublimation;
  cell.solid += deposited;
  if (cell.solid < 0.0) {
    deposited -= cell.solid;
    cell.solid = 0.0;
  }

  // An energy deficit refreezes liquid water; beyond the liquid the latent
  // heat of what froze warms the pack.
  const double refreezing = seconds * balance.residual / -kLatentHeatFusion;
  if (refreezing > 0.0 && cell.liquid > 0.0) {
    if (refreezing <= cell.liquid) {
      cell.liquid -= refreezing;
      cell.solid += refreezing;
    } else {
      const double frozen = cell.liquid;
      cell.solid += frozen;
      cell.liquid = 0.0;
      pack = std::max(
          x - kRefrozenPackBelowSurface,
          std::min(kMeltingPoint, pack + frozen * kLatentHeatFusion / (cell.solid * kSpecificHeatIce)));
    }
  }

  cell.evaporation -= deposited;
  cell.surface_temperature = x;
  cell.pack_temperature = pack;
  if (cell.solid + cell.liquid <= 0.0) ClearTemperatures(cell, k.nodata);
  return {};
}

// A part above the melt threshold with snow on the cell.
snow_balance_result WarmPart(const snow_balance_constants& k, const snow_balance_forcing& f,
                             const snow_balance_terms& t, double weight, double x, snow_balance_cell& cell) {
  if (!f.prescribed_surface) x = kMeltingPoint;
  const double air = f.t_air + kMeltingPoint;
  const double latent = kLatentTransfer * t.transfer * (t.vapour_pressure - kIceVapourPressureAtMelt);
  double energy =
      (t.shortwave + t.longwave_in - k.lw_out * BlackBodyFlux(x) +
       kSensibleTransfer * t.transfer * (air - x) + latent + t.precipitation_heat + kGroundHeatFlux) *
      k.scaling;
  const double seconds = k.step_minutes * kSecondsPerMinute * weight;
  double sublimated = seconds * latent / kLatentHeatSublimation;
  if (energy > 0.0)
    cell.pack_temperature +=
        seconds * energy / (kSpecificHeatWater * cell.liquid + kSpecificHeatIce * cell.solid);

  double melt = 0.0;
  if (WetBulbTemperature(f.t_air, t.vapour_pressure, f.air_pressure) > 0.0) {
    // The warming of the pack beyond melt is what melts; it already holds
    // the part's weight.
    melt = (cell.pack_temperature - kMeltingPoint) * kSpecificHeatIce * cell.solid / kLatentHeatFusion;
  } else {
    // Air too dry to melt: the energy sublimates.
    sublimated = seconds * (latent - energy) / kLatentHeatSublimation;
    energy = 0.0;
  }
  cell.pack_temperature = kMeltingPoint;

  // Condensation leaves the cover as it is.
  if (sublimated < 0.0) {
    cell.solid += sublimated;
    if (cell.solid < 0.0) {
      sublimated -= cell.solid;
      cell.solid = 0.0;
    }
    cell.evaporation -= sublimated;
  }
  cell.surface_temperature = x;
  if (cell.solid + cell.liquid <= 0.0) ClearTemperatures(cell, k.nodata);
  return {std::max(0.0, melt), energy};
}

}  // namespace

snow_balance_terms SnowBalanceTerms(const snow_balance_constants& k, const snow_balance_forcing& f) {
  snow_balance_terms t;
  const double air = f.t_air + kMeltingPoint;
  t.saturation = air <= kMeltingPoint ? SaturationVapourPressureIceSnowBalance(f.t_air)
                                      : SaturationVapourPressureSnowBalance(f.t_air);
  // Dry air and a missing value have no vapour; saturation is the most.
  t.vapour_pressure = std::clamp(f.humidity, 0.0, 1.0) * t.saturation;
  if (f.input_water != 0.0) {
    t.cloud_factor = kCloudFactorPrecipitation;
  } else if (f.cloudiness >= kOvercastFrom) {
    t.cloud_factor = kCloudFactorOvercast;
  } else if (f.cloudiness <= kClearUpTo) {
    t.cloud_factor = kCloudFactorClear;
  } else {
    t.cloud_factor = kCloudFactorBetween;
  }
  const double emissivity =
      kBruntConstant + kBruntSlope * std::sqrt(std::max(t.vapour_pressure, kSmallestVapourPressure));
  t.longwave_in =
      emissivity * k.lw_in * BlackBodyFlux(air) * (1.0 + t.cloud_factor * f.cloudiness * f.cloudiness);
  const double measured = f.longwave_in * k.lw_in;
  if (measured > 0.0) t.longwave_in = measured;
  t.transfer = kTransferCalm + kTransferPerWind * f.wind_speed;
  const double seconds = k.step_minutes * kSecondsPerMinute;
  t.precipitation_heat = f.t_air * (kSpecificHeatIce * f.snowfall + kSpecificHeatWater * f.rain) / seconds;
  t.shortwave = (1.0 - f.albedo) * MeanFluxOfStep(f.radiation, k.step_minutes);
  return t;
}

namespace {

// The surface balance of a cell's step with the terms free of the surface
// temperature summed once: a pass of the iteration then adds only what
// moves with it, and the chain from one pass's saturation pressure to the
// next surface temperature is shorter.
struct surface_residual {
  double fixed = 0.0;     // W/m²: shortwave, incoming long-wave, heat of precipitation, ground
  double emission = 0.0;  // LWOUTcorr
  double sensible = 0.0;  // W/m² per K
  double latent = 0.0;    // W/m² per hPa
  double vapour = 0.0;    // hPa
  double air = 0.0;       // K

  surface_residual(const snow_balance_constants& k, const snow_balance_terms& t, double t_air)
      : fixed(t.shortwave + t.longwave_in + t.precipitation_heat + kGroundHeatFlux),
        emission(k.lw_out),
        sensible(kSensibleTransfer * t.transfer),
        latent(kLatentTransfer * t.transfer),
        vapour(t.vapour_pressure),
        air(t_air + kMeltingPoint) {}

  snow_surface_balance At(double x) const {
    snow_surface_balance b;
    b.temperature = x;
    b.latent = latent * (vapour - SaturationVapourPressureIceSnowBalance(x - kMeltingPoint));
    b.residual = (fixed - emission * BlackBodyFlux(x) + sensible * (air - x)) + b.latent;
    return b;
  }
};

}  // namespace

snow_surface_balance SurfaceBalance(const snow_balance_constants& k, const snow_balance_terms& t,
                                    double t_air, double x) {
  return surface_residual(k, t, t_air).At(x);
}

snow_surface_balance IterateSurfaceTemperature(const snow_balance_constants& k, const snow_balance_terms& t,
                                               double t_air, double start, bool iterate) {
  const surface_residual balance(k, t, t_air);
  double x = start;
  double step = kFirstSurfaceStep;
  double previous = 0.0;
  bool halving = false;
  for (int pass = 1;; ++pass) {
    snow_surface_balance b = balance.At(x);
    b.passes = pass;
    const double g = b.residual;
    if (std::fabs(g) <= kBalanceTolerance || !iterate || pass >= kMostSurfacePasses) return b;
    double factor = 1.0;
    const bool crossed = (g < 0.0 && previous > 0.0) || (g >= 0.0 && previous <= 0.0);
    if (pass > 1 && crossed) {
      // The root lies behind: step back by the share of the last step that
      // a straight line puts it at (at most half of it).
      factor = std::fabs(g / (g - previous));
      if (factor >= 1.0) factor = 0.5;
      factor = -factor;
      halving = true;
    } else if (pass == 1 && g >= 0.0) {
      factor = -1.0;
    } else {
      factor = halving ? 0.5 : 1.0;
    }
    step *= factor;
    x += step;
    previous = g;
  }
}

double WetBulbTemperature(double t_air, double e, double air_pressure) {
  const double frost_point = FrostPointWmo(std::max(e, kSmallestVapourPressure));
  double wet_bulb = (frost_point + 2.0 * t_air) / 3.0;
  double step = (wet_bulb + t_air) / 2.0;
  for (int pass = 0; pass < kMostWetBulbPasses; ++pass) {
    const double psychrometer = kPsychrometerCoefficient * air_pressure * (t_air - wet_bulb) *
                                (1.0 + kPsychrometerTemperatureTerm * wet_bulb);
    if (SaturationVapourPressureIceWetBulb(wet_bulb) - psychrometer > e) {
      step = -step;
    } else {
      step = std::fabs(step) / 2.0;
    }
    wet_bulb += step;
    if (std::fabs(step) <= kWetBulbResolution) break;
  }
  return wet_bulb;
}

snow_balance_result SnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_forcing& f,
                                          double weight, snow_balance_cell& cell) {
  if (!(f.t_air >= kAbsoluteZeroCelsius)) return {};
  const double air = f.t_air + kMeltingPoint;
  if (!HasTemperature(cell.surface_temperature, k.nodata))
    cell.surface_temperature = air - kSurfaceStartBelowAir;
  if (f.prescribed_surface) cell.surface_temperature = PrescribedKelvin(f.surface_temperature);
  if (!HasTemperature(cell.pack_temperature, k.nodata)) cell.pack_temperature = std::min(air, kMeltingPoint);
  const double x = std::min(kMeltingPoint, cell.surface_temperature);

  const snow_balance_terms t = SnowBalanceTerms(k, f);
  if (f.t_air <= k.t0) return ColdPart(k, f, t, weight, x, cell);
  if (cell.solid > 0.0) return WarmPart(k, f, t, weight, x, cell);
  ClearTemperatures(cell, k.nodata);
  return {};
}

}  // namespace velmo
