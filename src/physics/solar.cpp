// Solar geometry: declination, equation of time, sun position, sunrise and
// sunset, incidence on a slope and the day and night parts of a step.
#include "physics/solar.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace velmo {
namespace {

constexpr double kRadiansPerDegree = kPi / 180.0;
constexpr double kNoonHour = 12.0;
// A step whose day part stays below this counts as night.
constexpr double kNightDayFraction = 0.05;
// A night part above this counts as the whole step.
constexpr double kFullNightFraction = 0.95;

// Brings a clock time into 0..24.
double WrapHours(double hours) { return hours - kHoursPerDay * std::floor(hours / kHoursPerDay); }

double ClampCosine(double c) { return std::clamp(c, -1.0, 1.0); }

}  // namespace

double SolarDeclinationDegrees(int day_of_year) {
  return -kMaxDeclination * std::cos((day_of_year + kDeclinationDayOffset) / kDaysPerRadianOfYear);
}

double EquationOfTimeHours(int day, int month, const std::array<int, 13>& month_lengths,
                           const std::array<double, 14>& table) {
  assert(month >= 1 && month <= 12);
  const double length = month_lengths[static_cast<size_t>(month)];
  const double at_first = table[static_cast<size_t>(month)] / kMinutesPerHour;
  const double at_next_first = table[static_cast<size_t>(month) + 1] / kMinutesPerHour;
  return (length - day + 1.0) / length * at_first + (day - 1.0) / length * at_next_first;
}

double SolarTimeHours(double hour, double longitude, double reference_meridian, double eot_hours) {
  return hour - (reference_meridian - longitude) / kDegreesPerHour + eot_hours;
}

double SolarElevationDegrees(double declination, double latitude, double solar_time) {
  const double hour_angle = (kNoonHour - solar_time) * kDegreesPerHour * kRadiansPerDegree;
  const double phi = latitude * kRadiansPerDegree;
  const double delta = declination * kRadiansPerDegree;
  const double c = std::cos(hour_angle) * std::cos(phi) * std::cos(delta) + std::sin(phi) * std::sin(delta);
  const double zenith = std::acos(ClampCosine(c)) * kDegreesPerRadian;
  return c >= 0.0 ? 90.0 - zenith : zenith - 90.0;
}

sun_position SunPositionRadians(double declination, double latitude, double solar_time) {
  const double s = std::fmod(solar_time + kHoursPerDay, kHoursPerDay);
  const double phi = std::fmod(latitude, kFullCircleDegrees) * kRadiansPerDegree;
  const double delta = declination * kRadiansPerDegree;
  const double cos_hour_angle = std::cos((kNoonHour - s) / kNoonHour * kPi);
  const double c =
      ClampCosine(std::cos(phi) * std::cos(delta) * cos_hour_angle + std::sin(phi) * std::sin(delta));
  const double north = std::sin(delta) * std::cos(phi) - std::sin(phi) * std::cos(delta) * cos_hour_angle;

  sun_position position;
  position.elevation = kPi * 0.5 - std::acos(c);
  // With the sun in the zenith or nadir the azimuth is undefined: take south.
  const double horizontal = std::sqrt(1.0 - c * c);
  position.azimuth = horizontal > 0.0 ? std::acos(ClampCosine(north / horizontal)) : kPi;
  if (s > kNoonHour) position.azimuth = 2.0 * kPi - position.azimuth;
  return position;
}

double CosIncidenceAngle(double sun_azimuth, double sun_zenith, double slope_aspect,
                         double slope_inclination) {
  return std::sin(sun_zenith) * std::sin(slope_inclination) * std::cos(slope_aspect - sun_azimuth) +
         std::cos(sun_zenith) * std::cos(slope_inclination);
}

sun_times SunriseSunsetHours(double declination, double eot_hours, double latitude, double longitude,
                             double reference_meridian) {
  const double lambda = std::fmod(longitude, kFullCircleDegrees);
  const double phi = std::fmod(latitude, kFullCircleDegrees) * kRadiansPerDegree;
  const double x = std::tan(phi) * std::tan(declination * kRadiansPerDegree);
  if (x > 1.0) return {0.0, kHoursPerDay, polar_state::polar_day};
  if (x < -1.0) return {kHoursPerDay, 0.0, polar_state::polar_night};
  // Hours from sunrise to noon (and noon to sunset) in solar time.
  const double half_day = std::acos(x) * kNoonHour / kPi;
  const double clock_offset = (reference_meridian - lambda) / kDegreesPerHour - eot_hours;
  return {half_day + clock_offset, kHoursPerDay - half_day + clock_offset, polar_state::none};
}

daylight_parts DaylightParts(const sun_times& sun, double step_end, double time_interval) {
  const double step_hours = std::min<double>(kMinutesPerDay, time_interval) / kMinutesPerHour;
  daylight_parts parts;
  if (sun.polar == polar_state::polar_day) {
    parts.sunrise = 0.0;
    parts.sunset = kHoursPerDay;
    parts.day_fraction = 1.0;
    return parts;
  }
  if (sun.polar == polar_state::polar_night) {
    parts.sunrise = kHoursPerDay;
    parts.sunset = 0.0;
    parts.night_before_sunrise = step_hours;
    parts.night_fraction = 1.0;
    parts.is_night = 1;
    return parts;
  }

  const double rise = WrapHours(sun.sunrise);
  const double set = WrapHours(sun.sunset);
  const double te = step_end;
  const double ts = time_interval > kMinutesPerDay ? te - kHoursPerDay : te - time_interval / kMinutesPerHour;
  const double interval_hours = time_interval / kMinutesPerHour;

  parts.sunrise = rise;
  parts.sunset = set;
  parts.night_before_sunrise = (ts <= rise && rise < te) ? rise - ts : 0.0;
  if (set > rise) {
    if (set > te && te > rise) {
      parts.night_after_sunset = 0.0;
    } else if (set <= ts || te <= set) {
      parts.night_after_sunset = interval_hours;
    } else {
      parts.night_after_sunset = te - set;
    }
  } else {
    // Sunset falls before sunrise on the clock (far from the reference meridian).
    if (set > te) {
      parts.night_after_sunset = 0.0;
    } else if (set > ts) {
      parts.night_after_sunset = te - set;
    } else if (rise <= te) {
      parts.night_after_sunset = 0.0;
    } else {
      parts.night_after_sunset = interval_hours;
    }
  }

  double night = (parts.night_before_sunrise + parts.night_after_sunset) / step_hours;
  if (night > 1.0) night -= 1.0;
  if (night > kFullNightFraction) night = 1.0;
  parts.night_fraction = night;
  parts.day_fraction = 1.0 - night;
  parts.is_night = parts.day_fraction < kNightDayFraction ? 1 : 0;
  return parts;
}

}  // namespace velmo
