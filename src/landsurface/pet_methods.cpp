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
// Mid-month interpolation of the amplitudes.
constexpr double kAmplitudeHalfMonth = 15.5;
constexpr double kAmplitudeDayOffset = 15.0;

}  // namespace

// ---------------------------------------------------------------- Hamon, Wendling, Haude

double HamonPotentialEvapotranspiration(double temperature, double day_fraction, double factor,
                                        double step_minutes) {
  const double daylight_hours_by_twelve = 2.0 * day_fraction;
  const double saturation = SaturationVapourPressureTetens(temperature);
  return kHamonCoefficient * factor * daylight_hours_by_twelve * kAbsoluteHumidityFactor * saturation /
         (temperature + kHamonKelvinOffset) * (step_minutes / kMinutesPerDay);
}

double WendlingPotentialEvapotranspiration(double global_radiation, double albedo, double coast_factor,
                                           double temperature, double step_minutes) {
  // The formula is one of daily values: the radiation of a step of another
  // length enters as its daily rate, so that the steps of a day sum to it.
  const double daily_radiation = global_radiation * (kMinutesPerDay / step_minutes);
  const double energy = daily_radiation * kWendlingRadiationFactor * (kWendlingAlbedoBase - albedo) +
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

double Transmissivity(double mean, double amplitude, int day, int month) {
  const double day_number = kMeanMonthLength * (month - 1) + kTransmissivityDayOffset + day;
  return mean + amplitude * std::cos(kTwoPi * day_number / kDaysPerYear);
}

double MonthlyAmplitude(const monthly_table& amplitudes, int day, int month,
                        const std::array<int, 13>& month_lengths) {
  const auto m = static_cast<std::size_t>(month);
  if (day < kMonthValueDay)
    return (day + kAmplitudeHalfMonth) / kMeanMonthLength * amplitudes[m] +
           (kAmplitudeDayOffset - day) / kMeanMonthLength * amplitudes[m - 1];
  return LinearBetween(kMonthValueDay, amplitudes[m], month_lengths[m] + kAmplitudeDayOffset,
                       amplitudes[m + 1], day);
}

temperature_cycle DailyTemperatureCycle(double elevation, double scale_height, double amplitude, double ratio,
                                        double day_share, double variability) {
  const double x = std::exp(-elevation / scale_height) * amplitude * ratio;
  return {(day_share + variability) * x, ((1.0 - day_share) - variability) * x};
}

}  // namespace velmo
