// Solar geometry of a point and a day: declination, equation of time, solar
// time, sun elevation and position, incidence on a slope, sunrise and sunset,
// and the day and night parts of a step. Pure functions of numbers; the
// submodel base (setup/teilmod.h) feeds them its dates and coordinates.
//   SolarDeclinationDegrees, EquationOfTimeHours, SolarTimeHours,
//   SolarElevationDegrees, SunPositionRadians, CosIncidenceAngle,
//   SunriseSunsetHours, DaylightParts
// Constants: kPi, kDegreesPerRadian, kFullCircleDegrees, kSolarConstant,
// kEquationOfTimeTable.
#pragma once

#include <array>
#include <numbers>

#include "physics/units.h"

namespace velmo {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kDegreesPerRadian = 180.0 / kPi;
inline constexpr double kFullCircleDegrees = 360.0;
// Radiation of the sun outside the atmosphere: radiation correction and
// clear-sky radiation of the evapotranspiration.
inline constexpr double kSolarConstant = 1367.0;  // W/m²
inline constexpr double kDegreesPerHour = 15.0;   // rotation of the earth, degrees per hour
inline constexpr double kMaxDeclination = 23.4;   // degrees
inline constexpr double kDaysPerRadianOfYear = 365.0 / (2.0 * kPi);  // days
inline constexpr double kDeclinationDayOffset = 10.0;  // days from the winter solstice to 1 January

// Equation of time in minutes at the first day of each month: index m is the
// 1st of month m (1..12), index 13 the 1st of the next January, index 0 the
// 1st of December.
inline constexpr std::array<double, 14> kEquationOfTimeTable = {11.3, -3.2, -13.6, -12.6, -4.2, 2.8,  2.5,
                                                                -3.5, -6.3, -0.3,  10.0,  16.4, 11.3, -3.2};

// Declination of the sun in degrees on the given day of the year.
double SolarDeclinationDegrees(int day_of_year);
// Equation of time (apparent minus mean solar time) in hours: linear between
// the first of the month and the first of the next month. Month 1..12.
double EquationOfTimeHours(int day, int month, const std::array<int, 13>& month_lengths,
                           const std::array<double, 14>& table = kEquationOfTimeTable);
// Solar time in hours of the clock hour `hour` at `longitude`, with the time
// zone's reference meridian and the equation of time `eot_hours`.
double SolarTimeHours(double hour, double longitude, double reference_meridian, double eot_hours);
// Angle between sun and horizon in degrees, positive on both sides of the
// horizon (the magnitude of the elevation). Angles in degrees.
double SolarElevationDegrees(double declination, double latitude, double solar_time);

// Sun position in radians: azimuth from north through east (0..2π) and
// elevation (negative below the horizon).
struct sun_position {
  double azimuth = 0.0;
  double elevation = 0.0;
};
// Declination and latitude in degrees, solar time in hours (any value; taken
// modulo 24).
sun_position SunPositionRadians(double declination, double latitude, double solar_time);

// Cosine of the angle between the sun (azimuth a, zenith angle b) and the
// normal of a slope (aspect c, inclination d); all in radians.
double CosIncidenceAngle(double sun_azimuth, double sun_zenith, double slope_aspect,
                         double slope_inclination);

enum class polar_state { none, polar_day, polar_night };
// Clock hours of sunrise and sunset. Under polar day sunrise is 0 and sunset
// 24 (full daylight); under polar night sunrise is 24 and sunset 0 (none).
struct sun_times {
  double sunrise = 0.0;
  double sunset = 0.0;
  polar_state polar = polar_state::none;
};
// Angles in degrees; the times are clock times of the reference meridian's
// zone, so they may lie outside 0..24 far from that meridian.
sun_times SunriseSunsetHours(double declination, double eot_hours, double latitude, double longitude,
                             double reference_meridian);

// Day and night parts of one time step.
struct daylight_parts {
  double sunrise = 0.0;               // 0..24
  double sunset = 0.0;                // 0..24
  double night_before_sunrise = 0.0;  // hours
  double night_after_sunset = 0.0;    // hours
  double night_fraction = 0.0;
  double day_fraction = 0.0;
  int is_night = 0;
};
// The step ends at `step_end` (clock hours) and lasts `time_interval`
// minutes (> 0); steps longer than a day are taken as the last day.
daylight_parts DaylightParts(const sun_times& sun, double step_end, double time_interval);

}  // namespace velmo
