// Radiation on sloped and shaded terrain as plain functions: the slope and
// sun terms whose products give the cosine of incidence, the daylight part
// of a sub-step, the beam radiation of a sub-step, the capped incidence
// factor, the exposure-corrected temperature and the terrain shadow march.
#pragma once

#include "physics/solar.h"

namespace velmo {

inline constexpr double kBeamTransmission = 0.86;      // per unit of air mass
inline constexpr double kBeamAirMassExponent = 0.9;    // 1
inline constexpr double kMinimumSunElevation = 0.017;  // rad; lower suns give no radiation
inline constexpr double kMaximumIncidenceRatio = 5.0;  // cap of the factor per sub-step, times cos z
inline constexpr double kDullSunshine = 0.1;           // relative sunshine below which slopes count as flat
inline constexpr double kSubStepFullNight = 0.95;      // a night part above it is the whole sub-step
inline constexpr double kSubStepNightDaylight = 0.05;  // a daylight part below it is night
inline constexpr double kWeakCorrectionFactor =
    0.2;  // factor at or below which the temperature cools by a fixed amount
inline constexpr double kWeakCorrectionCooling = 1.6094;  // -ln(kWeakCorrectionFactor)
inline constexpr double kDefaultRelativeSunshine = 0.5;   // without a sunshine grid

// Slope of a cell: sin β cos α, sin β sin α and cos β of inclination β and
// aspect α (clockwise from north).
struct slope_terms {
  double north = 0.0;
  double east = 0.0;
  double up = 1.0;
};
slope_terms SlopeTerms(double inclination_degrees, double aspect_degrees);

// Sun of a sub-step: sin z cos a, sin z sin a and cos z of zenith angle z and
// azimuth a (radians, clockwise from north).
struct sun_terms {
  double north = 0.0;
  double east = 0.0;
  double up = 1.0;
};
sun_terms SunTerms(double azimuth, double zenith);

// Cosine of the angle between the sun and the slope normal: three products.
inline double IncidenceCosine(const slope_terms& slope, const sun_terms& sun) {
  return slope.north * sun.north + slope.east * sun.east + slope.up * sun.up;
}

// Night and daylight parts of the sub-step [lo, hi] (clock hours).
struct substep_daylight {
  double night_before_sunrise = 0.0;  // hours
  double night_fraction = 0.0;
  double day_fraction = 1.0;
  bool is_night = false;
};
substep_daylight SubStepDaylight(const sun_times& sun, double lo, double hi);

// Beam radiation of a sub-step of `hours` with daylight fraction D at sun
// elevation e (rad), Wh/m² normal to the sun; 0 for a sun at or below
// kMinimumSunElevation.
double BeamRadiation(double elevation, double day_fraction, double hours);

// Share of the beam a cell receives: the cosine of incidence (0 when the
// slope faces away), cos z on a dull sub-step, at most 5·cos z.
inline double IncidenceFactor(double cos_incidence, double cos_zenith, bool dull) {
  double f = cos_incidence > 0.0 ? cos_incidence : 0.0;
  if (f > 0.0 && dull) f = cos_zenith;
  const double cap = kMaximumIncidenceRatio * cos_zenith;
  return f < cap ? f : cap;
}

// Air temperature corrected for exposure with the step's correction factor
// and relative sunshine; `sunlit` is false when the step had no radiation.
double CorrectedTemperature(double temperature, double factor, double scaling, double relative_sunshine,
                            bool sunlit);

// The terrain a shadow march runs over; rows 1..nrows, row 1 the northern edge.
struct shadow_terrain {
  double** elevation = nullptr;
  double** zone = nullptr;  // cells holding nodata are neither marked nor lower a ray
  int nrows = 0;
  int ncols = 0;
  double nodata = -9999.0;
  double cellsize = 0.0;
};
// Marks every valid cell that the terrain towards the sun hides 1.0 and every
// other one it reaches 0; the sun at azimuth a and elevation e (radians).
void CastShadows(const shadow_terrain& terrain, double azimuth, double elevation, double** shadow);

}  // namespace velmo
