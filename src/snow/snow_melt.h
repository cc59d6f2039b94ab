// Temperature-index snow physics as plain functions of numbers: the rain/snow
// split, the melt of the temperature-index methods, refreezing, the liquid
// water the cover releases, snow age and albedo, and the seasonal and monthly
// factors of the day. Water amounts are mm, temperatures °C, n the steps per
// day. The functions the cell loop calls are inline.
#pragma once

#include <array>
#include <cmath>

#include "physics/moist_air.h"
#include "physics/monthly.h"
#include "physics/snow_methods.h"

namespace velmo {

// ---------------------------------------------------------------- monthly and seasonal values

// Fills a table from the numbers of a line: twelve or more give the months
// (the first twelve), one gives every month the same. Returns false for any
// other count (none, or a month or more left out), leaving `table` unchanged.
bool FillMonthlyTable(const double* numbers, int count, monthly_table& table);

// Seasonal factor of a day: mean + amplitude·sin((n − 80)·ω), where n is the
// day plus (month − 1) times the length of that month (not the day of the
// year: 10 March gives 72).
inline constexpr double kSeasonalAngularFrequency = 0.017214206;  // 1/day, 2π/365 to nine decimals
inline constexpr double kSeasonalPhase = -80.0;                   // days
double SeasonalFactor(double mean, double amplitude, int day, int month,
                      const std::array<int, 13>& month_lengths);

// ---------------------------------------------------------------- rain and snow

// Share of the input water that falls as snow: 1 up to T0R − transzone,
// falling linearly to 0 at T0R + transzone. With transzone 0, T ≤ T0R is snow.
inline double SnowFraction(double t_air, double t0r, double transzone) {
  if (t_air > t0r + transzone) return 0.0;
  if (t_air > t0r - transzone) return (t0r + transzone - t_air) / (2.0 * transzone);
  return 1.0;
}

// ---------------------------------------------------------------- melt and refreezing

// Melt of a whole step (mm), before the weight of a day or night part; only
// for air above the melt threshold T0.
inline double DegreeDayMelt(double ddf, double t_air, double t0, double steps_per_day) {
  return ddf * (t_air - t0) / steps_per_day;
}
inline double TemperatureWindMelt(double c0, double c1, double wind_speed, double t_air, double t0,
                                  double steps_per_day) {
  return (c0 + c1 * wind_speed) * (t_air - t0) / steps_per_day;
}

// Rain-on-snow index (methods 3 and 4). With more input water than 2.4 mm a
// day the melt comes from the turbulent exchange of the temperature-wind index
// k = c0 + c1·u (vapour pressure in hPa: the ice saturation pressure at T for
// method 3, the air's for method 4) and the heat of the rain; otherwise from
// the seasonal factor RMF times the radiation factor f.
inline constexpr double kRainOnSnowThreshold = 2.4;           // mm per day of input water
inline constexpr double kRainOnSnowReferencePressure = 6.11;  // hPa over melting snow
inline constexpr double kRainOnSnowPsychrometric = 0.662;     // hPa/K
inline constexpr double kRainOnSnowConvective = 0.6;          // mm/(°C·day)
inline constexpr double kRainOnSnowRainHeat = 0.006;          // mm of melt per mm of rain and °C
inline double RainOnSnowMelt(double c0, double c1, double wind_speed, double vapour_pressure, double t_air,
                             double t0, double input_water, double rmf, double radiation_factor,
                             double steps_per_day) {
  if (input_water > kRainOnSnowThreshold / steps_per_day) {
    const double k = c0 + c1 * wind_speed;
    return k * (vapour_pressure - kRainOnSnowReferencePressure) / (kRainOnSnowPsychrometric * steps_per_day) +
           (k * t_air + kRainOnSnowConvective * t_air) / steps_per_day +
           kRainOnSnowRainHeat * input_water * t_air;
  }
  return rmf * radiation_factor * (t_air - t0) / steps_per_day;
}
// f of the seasonal index from a radiation-correction factor.
constexpr double RadiationMeltFactor(double correction) { return (1.0 + correction) / 2.0; }

// Liquid water that may refreeze in a step part of weight w at or below T0
// (methods 3 and 4): |RMF·CRFR·(T − T0)/n|·w.
inline double RefreezingCapacity(double rmf, double crfr, double t_air, double t0, double steps_per_day,
                                 double weight) {
  return std::fabs(rmf * crfr * (t_air - t0) / steps_per_day) * weight;
}

// ---------------------------------------------------------------- one part of a step

// The day's values and parameters a cell step needs.
struct snow_step_constants {
  snow_method_kind kind;
  double t0r = 0.0;        // °C, rain/snow threshold (not below t0)
  double transzone = 0.0;  // K
  double t0 = 0.0;         // °C, melt threshold
  double crfr = 0.0;
  double ddf = 0.0;  // values of the day
  double c0 = 0.0;
  double c1 = 0.0;
  double rmf = 0.0;
  double steps_per_day = 1.0;
};

// What a cell has in one step.
struct snow_cell_forcing {
  double t_air = 0.0;        // °C of the part
  double input_water = 0.0;  // mm of the step, as it was before the step
  double wind_speed = 0.0;
  double vapour_pressure = 0.0;  // hPa, method 4
  double deposition_index = 0.0;
  double canopy_unload = 0.0;     // mm of the step
  double radiation_factor = 1.0;  // f of the seasonal index
  bool lake = false;              // lake cell: all rain
};

// One part of a step: what fell and what melts.
struct snow_part_result {
  double snowfall = 0.0;     // mm of the step, before the deposition index
  double rain = 0.0;         // mm of the step
  double extra_input = 0.0;  // mm the deposition index adds to the input water in this part
  double solid_input = 0.0;  // mm of the step: snowfall, its deposition-index gain and the canopy's unload
  double melt = 0.0;         // mm of this part, not yet taken from the solid storage
};

// Adds the snowfall and rain of a part of weight w to the cover, refreezes or
// computes the melt. The deposition index scales the snowfall of the step's
// own input water, so the cover gains in every part exactly what the input
// water grows by.
inline snow_part_result SnowStepPart(const snow_step_constants& k, const snow_cell_forcing& f, double weight,
                                     double& solid, double& liquid) {
  snow_part_result result;
  const double p = f.lake ? 0.0 : SnowFraction(f.t_air, k.t0r, k.transzone);
  result.snowfall = f.input_water * p;
  result.rain = (1.0 - p) * f.input_water;
  double snow = result.snowfall;
  if (k.kind.deposition_index) {
    const double extra = f.deposition_index * result.snowfall;
    result.extra_input = extra * weight;
    snow += extra;
  }
  snow += f.canopy_unload;
  result.solid_input = snow;
  solid += snow * weight;
  liquid += result.rain * weight;

  if (f.t_air <= k.t0) {
    if (k.kind.refreezes) {
      const double capacity = RefreezingCapacity(k.rmf, k.crfr, f.t_air, k.t0, k.steps_per_day, weight);
      const double frozen = liquid >= capacity ? capacity : liquid;
      liquid -= frozen;
      solid += frozen;
    }
    return result;
  }
  if (!(solid > 0.0)) return result;
  double melt = 0.0;
  switch (k.kind.melt) {
    case snow_melt_kind::degree_day:
      melt = DegreeDayMelt(k.ddf, f.t_air, k.t0, k.steps_per_day);
      break;
    case snow_melt_kind::temperature_wind:
      melt = TemperatureWindMelt(k.c0, k.c1, f.wind_speed, f.t_air, k.t0, k.steps_per_day);
      break;
    case snow_melt_kind::rain_on_snow:
      melt = RainOnSnowMelt(k.c0, k.c1, f.wind_speed, SaturationVapourPressureIceTetens(f.t_air), f.t_air,
                            k.t0, f.input_water, k.rmf, f.radiation_factor, k.steps_per_day);
      break;
    case snow_melt_kind::rain_on_snow_humidity:
      melt = RainOnSnowMelt(k.c0, k.c1, f.wind_speed, f.vapour_pressure, f.t_air, k.t0, f.input_water, k.rmf,
                            f.radiation_factor, k.steps_per_day);
      break;
    case snow_melt_kind::energy_balance:
      break;
  }
  result.melt = melt * weight;
  return result;
}

// ---------------------------------------------------------------- the cover after melt

// Water the cover lets go of in a step.
struct snow_release {
  double outflow = 0.0;       // "snowcover_outflow"
  double melt_outflow = 0.0;  // "melt_from_snowcover": the outflow of a step with melt
};

// Takes the melt (at most the solid storage) into the liquid storage and
// releases what exceeds CWH times the solid storage.
inline snow_release ReleaseLiquid(double melt, double cwh, double& solid, double& liquid) {
  snow_release release;
  const double m = melt < solid ? melt : solid;
  liquid += m;
  solid -= m;
  const double capacity = solid * cwh;
  if (liquid > capacity) {
    release.outflow = liquid - capacity;
    if (m > 0.0) release.melt_outflow = release.outflow;
    liquid = capacity;
  }
  return release;
}

// A cover above this holds snow for snow days, age and the final albedo.
inline constexpr double kSnowCoverThreshold = 5.0;  // mm
// A cover above this has snow albedo before the melt.
inline constexpr double kSnowAlbedoThresholdBeforeMelt = 2.5;  // mm
// Input water above this resets the snow age when it falls as snow.
inline constexpr double kFreshSnowInput = 1.0;  // mm per step

// Albedo of snow `age_days` old: from ALBsnow_max down to ALBsnow_min, faster
// (0.12 per day) while the air is at or below 0 °C than above it (0.05).
inline constexpr double kAlbedoDecayWarm = -0.05;  // 1/day, air above 0 °C
inline constexpr double kAlbedoDecayCold = -0.12;  // 1/day
// The exponent of that decay, and the albedo from its exp.
inline double AlbedoDecayExponent(double age_days, double t_air) {
  return (t_air > 0.0 ? kAlbedoDecayWarm : kAlbedoDecayCold) * age_days;
}
inline double SnowAlbedoOfDecay(double albedo_min, double albedo_max, double decay) {
  return albedo_min + (albedo_max - albedo_min) * decay;
}
inline double SnowAlbedo(double albedo_min, double albedo_max, double age_days, double t_air) {
  return SnowAlbedoOfDecay(albedo_min, albedo_max, std::exp(AlbedoDecayExponent(age_days, t_air)));
}
// Albedo of a cell: snow albedo when the cover exceeds `threshold`, else the
// albedo of its land use.
inline double CellAlbedo(double cover, double threshold, double albedo_min, double albedo_max,
                         double age_days, double t_air, double snow_free_albedo) {
  return cover > threshold ? SnowAlbedo(albedo_min, albedo_max, age_days, t_air) : snow_free_albedo;
}

// Snow age after a step of `step_days`: 0 after fresh snow (air not above
// T0R + transzone, input above 1 mm, a cover above 5 mm), else one step older.
inline double SnowAgeAfterStep(double age_days, double t_air, double t0r, double transzone,
                               double input_water, double cover, double step_days) {
  if (t_air <= t0r + transzone && input_water > kFreshSnowInput && cover > kSnowCoverThreshold) return 0.0;
  return age_days + step_days;
}

// The albedo of snow from its age and the air temperature, as SnowAlbedo.
// Neighbouring cells mostly share the age of their snow and the sign of their
// temperature: the exp of the last call is kept.
class snow_albedo_decay {
 public:
  snow_albedo_decay(double albedo_min, double albedo_max) : min_(albedo_min), max_(albedo_max) {}
  double Albedo(double age_days, double t_air) {
    const double exponent = AlbedoDecayExponent(age_days, t_air);
    if (exponent != last_exponent_) {
      last_exponent_ = exponent;
      last_decay_ = std::exp(exponent);
    }
    return SnowAlbedoOfDecay(min_, max_, last_decay_);
  }

 private:
  double min_;
  double max_;
  double last_exponent_ = 0.0;
  double last_decay_ = 1.0;
};

// A cell's cover after a step: its snow days of the step, its snow age and
// its albedo (the snow-free albedo when `cover` holds no snow). `age_days` is
// the age before the step, `input_water` what reached the cell in it.
struct cover_after_step {
  double days = 0.0;
  double age = 0.0;  // days
  double albedo = 0.0;
};
inline cover_after_step CoverAfterStep(double age_days, double t_air, double t0r, double transzone,
                                       double input_water, double cover, double step_days,
                                       double snow_free_albedo, snow_albedo_decay& decay) {
  const bool snow = cover > kSnowCoverThreshold;
  const double age = SnowAgeAfterStep(age_days, t_air, t0r, transzone, input_water, cover, step_days);
  return {snow ? step_days : 0.0, age, snow ? decay.Albedo(age, t_air) : snow_free_albedo};
}

}  // namespace velmo
