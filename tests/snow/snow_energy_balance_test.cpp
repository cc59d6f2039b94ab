// Energy-balance snow melt against hand-computed cases: the shared terms, melt of a warm hour and of the
// parts of a day, the wet-bulb test with its sublimation, the cold surface iteration with deposition and
// refreezing, a prescribed surface, and inputs that must not give NaN.
#include "snow/snow_energy_balance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "physics/moist_air.h"

namespace velmo {
namespace {

constexpr double kNodata = -9999.0;
constexpr double kMelt = 273.16;

snow_balance_constants Hourly() {
  snow_balance_constants k;
  k.step_minutes = 60.0;
  k.nodata = kNodata;
  return k;
}

// 5 °C, humidity 0.7, wind 2 m/s, cloudiness 0.5, 300 Wh/m², albedo 0.6 at 1000 m.
snow_balance_forcing WarmHour() {
  snow_balance_forcing f;
  f.t_air = 5.0;
  f.humidity = 0.7;
  f.wind_speed = 2.0;
  f.cloudiness = 0.5;
  f.radiation = 300.0;
  f.albedo = 0.6;
  f.air_pressure = AirPressureStandardAtmosphere(1000.0);
  return f;
}

snow_balance_cell Cover(double solid, double liquid, double pack, double surface = kNodata) {
  return {solid, liquid, pack, surface, 0.0};
}

TEST(SnowEnergyBalance, WarmTermsAndWetBulb) {
  const snow_balance_forcing f = WarmHour();
  EXPECT_NEAR(f.air_pressure, 898.764, 5e-4);
  const snow_balance_terms t = SnowBalanceTerms(Hourly(), f);
  EXPECT_NEAR(t.saturation, 8.7290, 5e-5);
  EXPECT_NEAR(t.longwave_in, 259.594, 5e-4);
  EXPECT_DOUBLE_EQ(t.cloud_factor, 0.17);
  EXPECT_DOUBLE_EQ(t.transfer, 0.376);
  EXPECT_NEAR(WetBulbTemperature(5.0, t.vapour_pressure, f.air_pressure), 2.600, 5e-4);
  // A long-wave grid replaces the computed radiation when it has a value.
  snow_balance_forcing measured = f;
  measured.longwave_in = 300.0;
  snow_balance_constants k = Hourly();
  k.lw_in = 0.9;
  EXPECT_DOUBLE_EQ(SnowBalanceTerms(k, measured).longwave_in, 270.0);
  measured.longwave_in = 0.0;
  EXPECT_NEAR(SnowBalanceTerms(k, measured).longwave_in, 0.9 * 259.594, 5e-4);
}

TEST(SnowEnergyBalance, WarmPartMeltsWhatThePackWarmingHolds) {
  struct warm_case {
    const char* label;
    double step_minutes, radiation, weight, liquid, scaling, melt;
  } cases[] = {
      {"hour", 60, 300, 1.0, 5.0, 1.0, 0.973876},
      {"hour without liquid: Q·3600/337500", 60, 300, 1.0, 0.0, 1.0, 1.070800},
      {"hour scaled by 2", 60, 300, 1.0, 5.0, 2.0, 1.947752},
      {"day", 1440, 7200, 1.0, 5.0, 1.0, 23.3730},
      {"day part of half the day", 1440, 7200, 0.5, 5.0, 1.0, 11.6865},
  };
  for (const warm_case& c : cases) {
    SCOPED_TRACE(c.label);
    snow_balance_constants k = Hourly();
    k.step_minutes = c.step_minutes;
    k.scaling = c.scaling;
    snow_balance_forcing f = WarmHour();
    f.radiation = c.radiation;
    snow_balance_cell cell = Cover(100.0, c.liquid, kMelt);
    const snow_balance_result r = SnowEnergyBalancePart(k, f, c.weight, cell);
    EXPECT_NEAR(r.energy, 100.387 * c.scaling, 5e-4 * c.scaling);
    EXPECT_NEAR(r.melt, c.melt, c.melt * 2e-6);
    // Condensation onto the melting cover is not counted.
    EXPECT_EQ(cell.solid, 100.0);
    EXPECT_EQ(cell.evaporation, 0.0);
    EXPECT_EQ(cell.pack_temperature, kMelt);
    EXPECT_EQ(cell.surface_temperature, kMelt);
  }
}

TEST(SnowEnergyBalance, DryWarmAirSublimatesInsteadOfMelting) {
  snow_balance_forcing f = WarmHour();
  f.t_air = 1.0;
  f.humidity = 0.3;
  f.radiation = 400.0;
  const snow_balance_terms t = SnowBalanceTerms(Hourly(), f);
  EXPECT_NEAR(WetBulbTemperature(1.0, t.vapour_pressure, f.air_pressure), -3.420, 5e-4);
  snow_balance_cell cell = Cover(100.0, 0.0, kMelt);
  cell.evaporation = 0.25;  // a first part of the step sublimated already
  const snow_balance_result r = SnowEnergyBalancePart(Hourly(), f, 1.0, cell);
  EXPECT_EQ(r.melt, 0.0);
  EXPECT_EQ(r.energy, 0.0);
  EXPECT_NEAR(cell.evaporation, 0.25 + 0.100997, 5e-7);
  EXPECT_NEAR(cell.solid, 100.0 - 0.100997, 5e-7);
  EXPECT_DOUBLE_EQ(cell.solid + cell.evaporation, 100.25);

  // Never more than the cover holds.
  cell = Cover(0.04, 0.0, kMelt);
  SnowEnergyBalancePart(Hourly(), f, 1.0, cell);
  EXPECT_EQ(cell.solid, 0.0);
  EXPECT_DOUBLE_EQ(cell.evaporation, 0.04);
  EXPECT_EQ(cell.pack_temperature, kNodata);
  EXPECT_EQ(cell.surface_temperature, kNodata);
}

// -5 °C, humidity 0.8, wind 1 m/s, cloudiness 0.3, night, albedo 0.8.
snow_balance_forcing ColdNight() {
  snow_balance_forcing f;
  f.t_air = -5.0;
  f.humidity = 0.8;
  f.wind_speed = 1.0;
  f.cloudiness = 0.3;
  f.albedo = 0.8;
  f.air_pressure = AirPressureStandardAtmosphere(1000.0);
  return f;
}

TEST(SnowEnergyBalance, ColdPartIteratesTheSurfaceAndDeposits) {
  snow_balance_cell cell = Cover(50.0, 0.0, 268.0);
  const snow_balance_result r = SnowEnergyBalancePart(Hourly(), ColdNight(), 1.0, cell);
  EXPECT_EQ(r.melt, 0.0);
  EXPECT_EQ(r.energy, 0.0);
  EXPECT_NEAR(cell.surface_temperature, 260.399038, 5e-7);
  EXPECT_NEAR(cell.pack_temperature, 267.061824, 5e-7);
  EXPECT_NEAR(cell.evaporation, -0.013720, 5e-7);
  EXPECT_DOUBLE_EQ(cell.solid, 50.0 - cell.evaporation);

  // The iteration from 2 K below the air converges within its tolerance.
  const snow_balance_terms t = SnowBalanceTerms(Hourly(), ColdNight());
  const snow_surface_balance b = IterateSurfaceTemperature(Hourly(), t, -5.0, 273.16 - 7.0, true);
  EXPECT_LE(std::fabs(b.residual), kBalanceTolerance);
  EXPECT_LT(b.passes, 10);
  EXPECT_NEAR(b.temperature, 260.399038, 5e-7);
}

// Searches run four at a time in lock-step (and the rest alone) end each
// where it ends alone, bit for bit: cells that close their balance at the
// first pass, after a few or after many, from below or above the root.
TEST(SnowEnergyBalance, SearchesInLockStepEndAsEachAlone) {
  struct search_case {
    double t_air, wind, radiation, start_below_air;
  };
  const search_case cases[] = {
      {-5.0, 1.0, 0.0, 2.0},  {-12.0, 4.0, 0.0, 0.5},     {-1.0, 0.2, 400.0, 8.0},
      {-5.0, 1.0, 0.0, 60.0}, {-5.0, 1.0, 0.0, 7.760962}, {-3.0, 6.0, 200.0, -30.0},
  };
  const snow_balance_constants k = Hourly();
  std::vector<surface_search> searches;
  std::vector<snow_surface_balance> alone;
  for (const search_case& c : cases) {
    snow_balance_forcing f = ColdNight();
    f.t_air = c.t_air;
    f.wind_speed = c.wind;
    f.radiation = c.radiation;
    const snow_balance_terms t = SnowBalanceTerms(k, f);
    const double start = c.t_air + kMelt - c.start_below_air;
    searches.push_back({surface_residual(k, t, c.t_air), start});
    alone.push_back(IterateSurfaceTemperature(k, t, c.t_air, start, true));
  }
  std::vector<snow_surface_balance> together(searches.size());
  IterateSurfaceTemperatures(static_cast<int>(searches.size()), searches.data(), together.data());
  int fewest = kMostSurfacePasses, most = 0;
  for (std::size_t i = 0; i < searches.size(); ++i) {
    EXPECT_EQ(together[i].temperature, alone[i].temperature) << i;
    EXPECT_EQ(together[i].residual, alone[i].residual) << i;
    EXPECT_EQ(together[i].latent, alone[i].latent) << i;
    EXPECT_EQ(together[i].passes, alone[i].passes) << i;
    fewest = std::min(fewest, alone[i].passes);
    most = std::max(most, alone[i].passes);
  }
  // The lanes stop at different passes.
  EXPECT_EQ(fewest, 1);
  EXPECT_GT(most, 5);
}

TEST(SnowEnergyBalance, LiquidWaterRefreezesAtOneEvaluationAtMelt) {
  const snow_balance_terms t = SnowBalanceTerms(Hourly(), ColdNight());
  const snow_surface_balance at_melt = SurfaceBalance(Hourly(), t, -5.0, kMelt);
  EXPECT_NEAR(at_melt.residual, -159.045, 5e-4);

  snow_balance_cell cell = Cover(50.0, 2.0, 268.0);
  SnowEnergyBalancePart(Hourly(), ColdNight(), 1.0, cell);
  EXPECT_EQ(cell.surface_temperature, kMelt);
  EXPECT_NEAR(cell.liquid, 2.0 - 1.696481, 5e-7);
  EXPECT_NEAR(cell.solid + cell.liquid + cell.evaporation, 52.0, 1e-12);

  // More deficit than liquid: all of it freezes and its heat warms the pack,
  // never above melt and never below the surface minus 3 K.
  struct refreeze_case {
    double liquid, pack, expected_pack;
  } cases[] = {
      {0.5, 268.0, 270.216630},  // warmed within the bounds
      {0.5, 262.0, 270.16},      // held at the surface minus 3 K
      {1.5, 272.0, 273.16},      // held at melt
  };
  for (const refreeze_case& c : cases) {
    snow_balance_cell small = Cover(50.0, c.liquid, c.pack);
    SnowEnergyBalancePart(Hourly(), ColdNight(), 1.0, small);
    EXPECT_EQ(small.liquid, 0.0) << c.liquid;
    EXPECT_NEAR(small.solid + small.evaporation, 50.0 + c.liquid, 1e-12);
    EXPECT_NEAR(small.pack_temperature, c.expected_pack, 5e-7) << c.liquid << " " << c.pack;
  }
}

TEST(SnowEnergyBalance, APrescribedSurfaceIsNeitherIteratedNorClamped) {
  snow_balance_forcing f = ColdNight();
  f.prescribed_surface = true;
  f.surface_temperature = -25.0;  // °C: 248.16 K, more than 13 K below the air
  snow_balance_cell cell = Cover(50.0, 0.0, 268.0, 265.0);
  SnowEnergyBalancePart(Hourly(), f, 1.0, cell);
  EXPECT_DOUBLE_EQ(cell.surface_temperature, 248.16);
  const snow_balance_terms t = SnowBalanceTerms(Hourly(), f);
  EXPECT_NEAR(cell.evaporation, -3600.0 * SurfaceBalance(Hourly(), t, -5.0, 248.16).latent / 2835500.0,
              1e-15);
  // In kelvin from 100 on.
  f.surface_temperature = 250.0;
  cell = Cover(50.0, 0.0, 268.0);
  SnowEnergyBalancePart(Hourly(), f, 1.0, cell);
  EXPECT_EQ(cell.surface_temperature, 250.0);
}

TEST(SnowEnergyBalance, TemperaturesOfANewAndOfAVanishedCover) {
  // A cover without temperatures starts at the air (pack, at most melt) and
  // 3 K below it (surface); snow-free cells have none.
  snow_balance_forcing f = ColdNight();
  f.t_air = -1.0;
  f.radiation = 0.0;
  snow_balance_cell fresh = Cover(3.0, 0.0, kNodata, 0.0);
  SnowEnergyBalancePart(Hourly(), f, 1.0, fresh);
  EXPECT_GT(fresh.surface_temperature, 250.0);
  EXPECT_LE(fresh.pack_temperature, kMelt);
  EXPECT_GE(fresh.pack_temperature, fresh.surface_temperature);

  for (double t_air : {-3.0, 4.0}) {
    f.t_air = t_air;
    snow_balance_cell bare = Cover(0.0, 0.0, 270.0, 268.0);
    EXPECT_EQ(SnowEnergyBalancePart(Hourly(), f, 1.0, bare).melt, 0.0);
    EXPECT_EQ(bare.pack_temperature, kNodata) << t_air;
    EXPECT_EQ(bare.surface_temperature, kNodata) << t_air;
  }
}

TEST(SnowEnergyBalance, ScalingActsOnTheWarmBalanceOnly) {
  snow_balance_constants scaled = Hourly();
  scaled.scaling = 3.0;
  snow_balance_cell plain = Cover(50.0, 0.0, 268.0);
  snow_balance_cell other = plain;
  SnowEnergyBalancePart(Hourly(), ColdNight(), 1.0, plain);
  SnowEnergyBalancePart(scaled, ColdNight(), 1.0, other);
  EXPECT_EQ(plain.surface_temperature, other.surface_temperature);
  EXPECT_EQ(plain.evaporation, other.evaporation);
}

TEST(SnowEnergyBalance, MissingOrOutOfRangeInputsGiveNoNaN) {
  // Dry air and a missing humidity: the vapour pressure is floored for the
  // square root and the frost point; humidity above 1 counts as 1.
  for (double humidity : {0.0, -9999.0, 1.7}) {
    for (const snow_balance_forcing& base : {WarmHour(), ColdNight()}) {
      snow_balance_forcing f = base;
      f.humidity = humidity;
      snow_balance_cell cell = Cover(30.0, 1.0, 270.0);
      const snow_balance_result r = SnowEnergyBalancePart(Hourly(), f, 1.0, cell);
      EXPECT_TRUE(std::isfinite(r.melt) && std::isfinite(cell.solid) && std::isfinite(cell.evaporation) &&
                  std::isfinite(cell.surface_temperature) && std::isfinite(cell.pack_temperature))
          << humidity << " at " << f.t_air;
      EXPECT_NEAR(cell.solid + cell.liquid + cell.evaporation, 31.0, 1e-12);
    }
  }
  snow_balance_forcing humid = WarmHour();
  humid.humidity = 1.7;
  snow_balance_forcing saturated = WarmHour();
  saturated.humidity = 1.0;
  EXPECT_EQ(SnowBalanceTerms(Hourly(), humid).vapour_pressure,
            SnowBalanceTerms(Hourly(), saturated).vapour_pressure);

  // A missing air temperature keeps the cover as it is.
  snow_balance_forcing missing = WarmHour();
  missing.t_air = -9999.0;
  snow_balance_cell cell = Cover(30.0, 1.0, 270.0, 265.0);
  const snow_balance_result r = SnowEnergyBalancePart(Hourly(), missing, 1.0, cell);
  EXPECT_EQ(r.melt, 0.0);
  EXPECT_EQ(cell.solid, 30.0);
  EXPECT_EQ(cell.liquid, 1.0);
  EXPECT_EQ(cell.pack_temperature, 270.0);
  EXPECT_EQ(cell.surface_temperature, 265.0);
  EXPECT_EQ(cell.evaporation, 0.0);
}

}  // namespace
}  // namespace velmo
