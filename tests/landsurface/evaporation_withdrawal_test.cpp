// Tests of the withdrawals of evaporation from snow, open water and soil
// against hand-computed numbers.
#include "landsurface/evaporation_withdrawal.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

constexpr double kTol = 1e-12;

TEST(EvaporationWithdrawal, StoreGivesWhatItHolds) {
  struct Case {
    double store, demand;
    double taken, store_after, demand_after;
  };
  const Case cases[] = {
      {2.0, 3.0, 2.0, 0.0, 1.0},          // snow 2 mm, potential 3 mm
      {5.0, 3.0, 3.0, 2.0, 0.0},          // the potential goes
      {10.0, 4.0, 4.0, 6.0, 0.0},         // ponding 10 mm, potential 4 mm
      {0.0, 1.0, 0.0, 0.0, 1.0},          // nothing stored
      {2.0, -9999.0, 0.0, 2.0, -9999.0},  // a missing potential takes nothing
  };
  for (const Case& k : cases) {
    double store = k.store;
    double demand = k.demand;
    EXPECT_NEAR(TakeFromStore(store, demand), k.taken, kTol) << k.store << " " << k.demand;
    EXPECT_NEAR(store, k.store_after, kTol);
    EXPECT_NEAR(demand, k.demand_after, kTol);
  }
}

TEST(EvaporationWithdrawal, SoilMoistureLimitsTranspirationAndWithdrawal) {
  struct Case {
    const char* label;
    double potential, theta, capacity;
    double transpiration, theta_after;
  };
  const Case cases[] = {
      {"moist soil transpires the potential", 2.0, 0.7, 100.0, 2.0, 0.68},
      {"theta 0.3 halves it", 2.0, 0.3, 100.0, 1.0, 0.29},
      {"theta 0.005", 2.0, 0.005, 100.0, 2.0 / 120.0, 0.005 - 2.0 / 12000.0},
      {"the soil runs dry", 60.0, 0.005, 100.0, 0.5, 0.0},
      {"no capacity", 2.0, 0.3, 0.0, 0.0, 0.3},
      {"no water", 2.0, 0.0, 100.0, 0.0, 0.0},
  };
  for (const Case& k : cases) {
    const soil_withdrawal w =
        WithdrawFromSoil(MoistureLimitedTranspiration(k.potential, k.theta), k.theta, k.capacity);
    EXPECT_NEAR(w.taken, k.transpiration, kTol) << k.label;
    EXPECT_NEAR(w.theta, k.theta_after, kTol) << k.label;
    EXPECT_NEAR((k.theta - w.theta) * k.capacity, w.taken, kTol) << k.label;
  }
  // Soil evaporation after the transpiration: no moisture limit.
  const soil_withdrawal evaporation = WithdrawFromSoil(0.5, 0.29, 100.0);
  EXPECT_NEAR(evaporation.taken, 0.5, kTol);
  EXPECT_NEAR(evaporation.theta, 0.285, kTol);
  // More than the soil holds.
  const soil_withdrawal dry = WithdrawFromSoil(3.0, 0.01, 100.0);
  EXPECT_NEAR(dry.taken, 1.0, kTol);
  EXPECT_EQ(dry.theta, 0.0);
}

TEST(EvaporationWithdrawal, GlacierFreeShareTakesItsPartOfTheWholeCellsStores) {
  // Rates and what is taken are depths over the glacier-free share; the
  // stores hold depths over the whole cell.
  struct Case {
    const char* label;
    double free, theta, demand;
    double taken, theta_after;
  };
  const Case soils[] = {
      {"the whole cell", 1.0, 0.3, 1.0, 1.0, 0.29},
      {"a quarter of it", 0.25, 0.3, 1.0, 1.0, 0.2975},
      {"a quarter running dry", 0.25, 0.001, 1.0, 0.4, 0.0},
  };
  for (const Case& k : soils) {
    const soil_withdrawal w = WithdrawFromSoilOfShare(k.demand, k.theta, 100.0, k.free);
    EXPECT_NEAR(w.taken, k.taken, kTol) << k.label;
    EXPECT_NEAR(w.theta, k.theta_after, kTol) << k.label;
  }
  struct CoverCase {
    const char* label;
    double free, cover, demand;
    double taken, cover_after, demand_after;
  };
  const CoverCase covers[] = {
      {"the whole cell", 1.0, 2.0, 3.0, 2.0, 0.0, 1.0},
      {"half of it", 0.5, 2.0, 3.0, 2.0, 1.0, 1.0},
      {"half of it, the rate goes", 0.5, 2.0, 1.5, 1.5, 1.25, 0.0},
  };
  for (const CoverCase& k : covers) {
    double cover = k.cover;
    double demand = k.demand;
    EXPECT_NEAR(TakeFromCoverOfShare(cover, demand, k.free), k.taken, kTol) << k.label;
    EXPECT_NEAR(cover, k.cover_after, kTol) << k.label;
    EXPECT_NEAR(demand, k.demand_after, kTol) << k.label;
  }
}

}  // namespace
}  // namespace velmo
