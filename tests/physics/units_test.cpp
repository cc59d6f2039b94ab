// Unit conversions against their defining quantities.
#include "physics/units.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(Units, Conversions) {
  struct Case {
    const char* what;
    double value, expected, tolerance;
  };
  const Case cases[] = {
      // 1 m³/s drained from 1 km² for a day is 86.4 mm.
      {"discharge to depth, a day", DischargeToDepth(1.0, 1.0, kMinutesPerDay), 86.4, 1e-12},
      {"discharge to depth, an hour on 10 km²", DischargeToDepth(10.0, 10.0, 60.0), 3.6, 1e-12},
      {"depth to discharge, a day", DepthToDischarge(86.4, 1.0, kMinutesPerDay), 1.0, 1e-8},
      {"depth to discharge, round trip", DepthToDischarge(DischargeToDepth(7.5, 12.0, 15.0), 12.0, 15.0), 7.5,
       1e-7},
      // FAO-56: 1 W/m² for a day is 0.0864 MJ/m², that is 24 Wh/m².
      {"flux of a day's energy", MeanFluxOfStep(24.0, kMinutesPerDay), 1.0, 1e-15},
      {"energy of an hour's flux", EnergyOfStep(1367.0, 60.0), 1367.0, 1e-12},
      {"energy of a quarter hour", EnergyOfStep(400.0, 15.0), 100.0, 1e-12},
      {"water freezes", CelsiusToKelvin(0.0), 273.15, 0.0},
      {"and back", KelvinToCelsius(CelsiusToKelvin(-12.5)), -12.5, 1e-12},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.value, c.expected, c.tolerance) << c.what;
}

}  // namespace
}  // namespace velmo
