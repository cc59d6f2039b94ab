// Energy-balance snow melt: shared terms, the cold surface iteration, the wet-bulb search and one part of a
// step.
#include "snow/snow_energy_balance.h"

#include <algorithm>
#include <cmath>

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

}  // namespace

// A part at or below the melt threshold once its surface search has run.
snow_balance_result FinishColdPart(const snow_balance_constants& k, const snow_balance_start& start,
                                   const snow_surface_balance& balance, double weight,
                                   snow_balance_cell& cell) {
  const surface_residual& surface = start.search.balance;
  const double air = surface.air;
  double x = balance.temperature;
  double latent = balance.latent;
  if (!start.prescribed) {
    if (air - x > kLargestSurfaceDeficit) {
      x = air - kLargestSurfaceDeficit;
      latent = surface.At(x).latent;
    }
    if (x > kMeltingPoint) {
      latent = surface.latent * (surface.vapour - kIceVapourPressureAtMelt);
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

namespace {

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

snow_surface_balance SurfaceBalance(const snow_balance_constants& k, const snow_balance_terms& t,
                                    double t_air, double x) {
  return surface_residual(k, t, t_air).At(x);
}

namespace {

// The searches of `L` cells in lock-step: each pass evaluates every cell
// still searching, then moves each; a cell that closed its balance keeps
// its result and takes no further pass.
template <int L>
void SurfaceSearchLanes(const surface_search* in, snow_surface_balance* out) {
  double x[L];
  double step[L];
  double previous[L];
  bool halving[L];
  bool searching[L];
  for (int i = 0; i < L; ++i) {
    x[i] = in[i].start;
    step[i] = kFirstSurfaceStep;
    previous[i] = 0.0;
    halving[i] = false;
    searching[i] = true;
  }
  int left = L;
  for (int pass = 1; left > 0; ++pass) {
    snow_surface_balance b[L];
    for (int i = 0; i < L; ++i)
      if (searching[i]) b[i] = in[i].balance.At(x[i]);
    for (int i = 0; i < L; ++i) {
      if (!searching[i]) continue;
      const double g = b[i].residual;
      if (std::fabs(g) <= kBalanceTolerance || pass >= kMostSurfacePasses) {
        b[i].passes = pass;
        out[i] = b[i];
        searching[i] = false;
        --left;
        continue;
      }
      double factor = 1.0;
      const bool crossed = (g < 0.0 && previous[i] > 0.0) || (g >= 0.0 && previous[i] <= 0.0);
      if (pass > 1 && crossed) {
        // The root lies behind: step back by the share of the last step
        // that a straight line puts it at (at most half of it).
        factor = std::fabs(g / (g - previous[i]));
        if (factor >= 1.0) factor = 0.5;
        factor = -factor;
        halving[i] = true;
      } else if (pass == 1 && g >= 0.0) {
        factor = -1.0;
      } else {
        factor = halving[i] ? 0.5 : 1.0;
      }
      step[i] *= factor;
      x[i] += step[i];
      previous[i] = g;
    }
  }
}

snow_surface_balance Search(const surface_search& search, bool iterate) {
  snow_surface_balance b;
  if (iterate) {
    SurfaceSearchLanes<1>(&search, &b);
  } else {
    b = search.balance.At(search.start);
    b.passes = 1;
  }
  return b;
}

}  // namespace

snow_surface_balance IterateSurfaceTemperature(const snow_balance_constants& k, const snow_balance_terms& t,
                                               double t_air, double start, bool iterate) {
  return Search({surface_residual(k, t, t_air), start}, iterate);
}

void IterateSurfaceTemperatures(int n, const surface_search* searches, snow_surface_balance* out) {
  constexpr int kLanes = 4;
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) SurfaceSearchLanes<kLanes>(searches + i, out + i);
  for (; i < n; ++i) SurfaceSearchLanes<1>(searches + i, out + i);
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

snow_balance_start StartSnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_forcing& f,
                                              double weight, snow_balance_cell& cell) {
  snow_balance_start start;
  if (!(f.t_air >= kAbsoluteZeroCelsius)) return start;
  const double air = f.t_air + kMeltingPoint;
  if (!HasTemperature(cell.surface_temperature, k.nodata))
    cell.surface_temperature = air - kSurfaceStartBelowAir;
  if (f.prescribed_surface) cell.surface_temperature = PrescribedKelvin(f.surface_temperature);
  if (!HasTemperature(cell.pack_temperature, k.nodata)) cell.pack_temperature = std::min(air, kMeltingPoint);
  double x = std::min(kMeltingPoint, cell.surface_temperature);

  const snow_balance_terms t = SnowBalanceTerms(k, f);
  if (f.t_air <= k.t0) {
    // A part at or below the melt threshold searches its surface temperature.
    if (!(cell.solid > 0.0)) {
      ClearTemperatures(cell, k.nodata);
      return start;
    }
    if (cell.liquid > 0.0 || air > kMeltingPoint + kWarmAirAboveMelt) {
      x = kMeltingPoint;
    } else if (!f.prescribed_surface) {
      x = air - kIterationStartBelowAir;
    }
    start.cold = true;
    start.iterate = !(cell.liquid > 0.0) && !f.prescribed_surface;
    start.prescribed = f.prescribed_surface;
    start.search = {surface_residual(k, t, f.t_air), x};
    return start;
  }
  if (cell.solid > 0.0) {
    start.result = WarmPart(k, f, t, weight, x, cell);
    return start;
  }
  ClearTemperatures(cell, k.nodata);
  return start;
}

snow_balance_result SnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_forcing& f,
                                          double weight, snow_balance_cell& cell) {
  return EndSnowEnergyBalancePart(k, StartSnowEnergyBalancePart(k, f, weight, cell), weight, cell);
}

snow_balance_result EndSnowEnergyBalancePart(const snow_balance_constants& k, const snow_balance_start& start,
                                             double weight, snow_balance_cell& cell) {
  if (!start.cold) return start.result;
  return FinishColdPart(k, start, Search(start.search, start.iterate), weight, cell);
}

}  // namespace velmo
