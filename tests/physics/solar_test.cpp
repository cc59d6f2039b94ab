// Solar geometry: incidence on a slope and the day and night parts of a step.
#include "physics/solar.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmo {
namespace {

TEST(SolarGeometry, CosIncidence) {
  struct Case {
    double azimuth, zenith, aspect, inclination, expected;
  };
  const Case cases[] = {
      {1.0, 0.7, 2.5, 0.0, std::cos(0.7)},  // a flat cell sees the sun's zenith angle
      {2.0, 0.6, 2.0, 0.6, 1.0},            // sun along the slope normal
      {0.0, kPi / 4, kPi, kPi / 4, 0.0},    // sun grazing a slope facing away
      {kPi, kPi / 3, kPi, kPi / 6, std::cos(kPi / 6)},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(CosIncidenceAngle(c.azimuth, c.zenith, c.aspect, c.inclination), c.expected, 1e-12);
  }
}

TEST(SolarGeometry, DaylightParts) {
  const sun_times six_to_eighteen{6.0, 18.0, polar_state::none};
  struct Case {
    const char* what;
    sun_times sun;
    double step_end, interval;
    double before, after, night;
    int is_night;
  };
  const Case cases[] = {
      {"daily step", six_to_eighteen, 24.0, 1440.0, 6.0, 6.0, 0.5, 0},
      {"hour at noon", six_to_eighteen, 13.0, 60.0, 0.0, 0.0, 0.0, 0},
      {"hour at night", six_to_eighteen, 3.0, 60.0, 0.0, 1.0, 1.0, 1},
      {"hour with sunrise", six_to_eighteen, 6.5, 60.0, 0.5, 0.0, 0.5, 0},
      {"hour with sunset", six_to_eighteen, 18.25, 60.0, 0.0, 0.25, 0.25, 0},
      {"clock times brought into a day", {-18.0, 42.0, polar_state::none}, 24.0, 1440.0, 6.0, 6.0, 0.5, 0},
      {"polar day, daily", {0.0, 24.0, polar_state::polar_day}, 24.0, 1440.0, 0.0, 0.0, 0.0, 0},
      {"polar day, midnight hour", {0.0, 24.0, polar_state::polar_day}, 0.0, 60.0, 0.0, 0.0, 0.0, 0},
      {"polar night, daily", {24.0, 0.0, polar_state::polar_night}, 24.0, 1440.0, 24.0, 0.0, 1.0, 1},
      {"polar night, noon hour", {24.0, 0.0, polar_state::polar_night}, 12.0, 60.0, 1.0, 0.0, 1.0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const daylight_parts parts = DaylightParts(c.sun, c.step_end, c.interval);
    EXPECT_DOUBLE_EQ(parts.night_before_sunrise, c.before);
    EXPECT_DOUBLE_EQ(parts.night_after_sunset, c.after);
    EXPECT_DOUBLE_EQ(parts.night_fraction, c.night);
    EXPECT_DOUBLE_EQ(parts.day_fraction, 1.0 - c.night);
    EXPECT_EQ(parts.is_night, c.is_night);
  }
}

}  // namespace
}  // namespace velmo
