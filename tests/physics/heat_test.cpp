// Black-body flux and the consistency of the heat constants.
#include "physics/heat.h"

#include <gtest/gtest.h>

#include "physics/moist_air.h"
#include "physics/units.h"

namespace velmo {
namespace {

TEST(Heat, BlackBodyFlux) {
  // About 316 W/m² from a surface at 0 °C; 390 W/m² from the earth's mean
  // surface at 288 K (Kiehl and Trenberth 1997).
  EXPECT_NEAR(BlackBodyFlux(kZeroCelsius), 315.6, 0.1);
  EXPECT_NEAR(BlackBodyFlux(288.0), 390.0, 0.5);
}

TEST(Heat, SublimationIsFusionPlusVaporisation) {
  // At 0 °C the three latent heats close within the rounding of the snow
  // model's values; the sublimation heat meets the textbook 2834 kJ/kg.
  constexpr double kJoulesPerKilojoule = 1000.0;
  const double vaporisation = LatentHeatOfVaporisation(0.0) * kJoulesPerKilojoule;
  EXPECT_NEAR(kLatentHeatFusion + vaporisation, kLatentHeatSublimation, 0.0015 * kLatentHeatSublimation);
  EXPECT_NEAR(kLatentHeatSublimation, 2834.0 * kJoulesPerKilojoule, 0.001 * kLatentHeatSublimation);
  // The psychrometric coefficient is c_p of air over ε (kJ against J).
  EXPECT_NEAR(kPsychrometricCoefficient * kJoulesPerKilojoule, kSpecificHeatAir / kMolarMassRatio, 0.1);
}

}  // namespace
}  // namespace velmo
