// The potential evapotranspiration methods against hand-computed and
// textbook numbers (FAO-56 Example 18).
#include "landsurface/pet_methods.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "framework/types.h"

namespace velmo {
namespace {

// FAO-56 Example 18 (Uccle, 6 July): 13.28 MJ/m² net radiation at 16.9 °C,
// 1001 hPa, a deficit of 5.89 hPa, rs 70 and ra 100.1 s/m over a day.
constexpr double kFaoTemperature = 16.9;
constexpr double kFaoPressure = 1001.0;
constexpr double kFaoNetRadiation = 13.28 / 0.0036;  // Wh/m²
constexpr double kFaoDeficit = 5.89;
constexpr double kFaoSurfaceResistance = 70.0;
constexpr double kFaoAerodynamicResistance = 100.1;

pm_part_input FaoPart(double fraction) {
  pm_part_input part;
  part.fraction = fraction;
  part.temperature = kFaoTemperature;
  part.step_minutes = kMinutesPerDay;
  part.pressure = kFaoPressure;
  part.saturation_vapour_pressure = SaturationVapourPressureTetens(kFaoTemperature);
  part.vapour_pressure = part.saturation_vapour_pressure - kFaoDeficit;
  part.net_radiation_given = true;
  part.net_radiation = kFaoNetRadiation;
  return part;
}

double FaoRate(const pm_part_terms& terms) {
  return PenmanMonteithRate(terms.net_energy, terms.delta_over_gamma,
                            terms.aerodynamic_numerator / kFaoAerodynamicResistance, kFaoSurfaceResistance,
                            kFaoAerodynamicResistance);
}

TEST(PenmanMonteith, FaoExample18) {
  EXPECT_NEAR(SaturationVapourPressureSlopeTetens(kFaoTemperature), 1.2202, 5e-5);
  EXPECT_NEAR(PsychrometricConstant(kFaoPressure, kFaoTemperature), 0.65730, 5e-6);
  EXPECT_NEAR(kFaoNetRadiation, 3688.89, 5e-3);
  EXPECT_NEAR(kFaoNetRadiation / EvaporationEnergyPerMillimetre(kFaoTemperature), 5.3968, 5e-5);
  EXPECT_NEAR(AerodynamicTerm(kFaoDeficit, kFaoTemperature, kFaoAerodynamicResistance, kMinutesPerDay, 1.0),
              3.8013, 5e-5);

  const double whole_day = FaoRate(PenmanMonteithPart(FaoPart(1.0)));
  EXPECT_NEAR(whole_day, 3.8867, 5e-5);
  // FAO-56 eq. 6 with the example's own values (kPa, MJ) gives 3.879; the
  // method's constants differ slightly but stay within the printed 3.9.
  const double delta = 0.122, gamma = 0.0666, u2 = 2.078, deficit = 0.589;
  const double fao = (0.408 * delta * 13.28 + gamma * 900.0 / (kFaoTemperature + 273.0) * u2 * deficit) /
                     (delta + gamma * (1.0 + 0.34 * u2));
  EXPECT_NEAR(fao, 3.879, 5e-4);
  EXPECT_NEAR(whole_day, 3.9, 0.05);

  // A day and a night part each take their share of the net radiation, so
  // the step counts it once.
  const double day = FaoRate(PenmanMonteithPart(FaoPart(0.62)));
  const double night = FaoRate(PenmanMonteithPart(FaoPart(0.38)));
  EXPECT_NEAR(day, 2.4098, 5e-5);
  EXPECT_NEAR(night, 1.4770, 5e-5);
  EXPECT_NEAR(day + night, whole_day, 1e-12);
  pm_part_input whole_day_radiation = FaoPart(0.62);
  whole_day_radiation.net_radiation /= 0.62;
  pm_part_input whole_night_radiation = FaoPart(0.38);
  whole_night_radiation.net_radiation /= 0.38;
  EXPECT_NEAR(
      FaoRate(PenmanMonteithPart(whole_day_radiation)) + FaoRate(PenmanMonteithPart(whole_night_radiation)),
      6.7044, 5e-5);
}

TEST(PenmanMonteith, Resistances) {
  EXPECT_DOUBLE_EQ(AerodynamicResistance(3.0, 0.0), 25.0);
  EXPECT_DOUBLE_EQ(AerodynamicResistance(3.0, 12.0), 25.0);
  EXPECT_NEAR(AerodynamicResistance(0.1, 2.0), 63.702, 5e-4);

  struct Case {
    double rsc, lai, coverage;
    bool night;
    double rs;
  };
  const Case cases[] = {
      {50.0, 3.0, 0.8, false, 70.768}, {50.0, 3.0, 0.8, true, 1041.67}, {50.0, 0.0, 0.8, false, 2500.0},
      {50.0, 3.0, 0.0, true, 2500.0},  {0.0, 3.0, 0.8, false, 0.0},     {-1.0, 3.0, 0.8, true, 0.0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(SurfaceResistance(c.rsc, c.lai, c.coverage, c.night), c.rs, 5e-3)
        << c.rsc << " " << c.lai << " " << c.coverage << " " << c.night;
}

// Two layers: the upper canopy absorbs its share of the net radiation, the
// lower layer works with what is left and the leaf area above it.
TEST(PenmanMonteith, LayersShareEnergyAndResistance) {
  pm_part_input input = FaoPart(1.0);
  const pm_part_terms terms = PenmanMonteithPart(input);
  const double dg = terms.delta_over_gamma;

  pm_layer_input upper;
  upper.top = true;
  upper.lowest = false;
  upper.coverage = 1.0;
  upper.leaf_area_index = std::log(2.0) / kDefaultExtinction;  // absorbs half
  upper.canopy_resistance = 50.0;
  upper.interception_resistance = 10.0;
  upper.roughness_length = 0.1;
  upper.wind_speed = 2.0;
  pm_layer_state state;
  const pm_layer_result top = PenmanMonteithLayer(terms, upper, true, state);
  const double ra1 = AerodynamicResistance(0.1, 2.0);
  const double half = terms.net_energy / 2.0;
  EXPECT_DOUBLE_EQ(state.top_resistance, ra1);
  EXPECT_NEAR(state.energy, half, 1e-12);
  EXPECT_EQ(top.soil, 0.0);
  const double rs1 = SurfaceResistance(50.0, upper.leaf_area_index, 1.0, false);
  EXPECT_NEAR(top.transpiration, PenmanMonteithRate(half, dg, terms.aerodynamic_numerator / ra1, rs1, ra1),
              1e-12);
  EXPECT_NEAR(top.interception, PenmanMonteithRate(half, dg, terms.aerodynamic_numerator / ra1, 10.0, ra1),
              1e-12);

  pm_layer_input lower = upper;
  lower.top = false;
  lower.lowest = true;
  lower.coverage = 0.5;
  lower.leaf_area_index = 1.0;
  lower.soil_resistance = 300.0;
  lower.leaf_area_above = upper.leaf_area_index;
  const pm_layer_result ground = PenmanMonteithLayer(terms, lower, true, state);
  const double ra2 = upper.leaf_area_index * kDefaultLeafAreaScale + ra1;
  const double absorbed = half * 0.5 * (1.0 - std::exp(-kDefaultExtinction));
  const double aa2 = terms.aerodynamic_numerator / ra2;
  EXPECT_NEAR(state.energy, half - absorbed, 1e-12);
  EXPECT_NEAR(ground.soil, PenmanMonteithRate(half - absorbed, dg, aa2, 300.0, ra2), 1e-12);
  EXPECT_NEAR(ground.transpiration,
              PenmanMonteithRate(absorbed, dg, aa2, SurfaceResistance(50.0, 1.0, 0.5, false), ra2), 1e-12);
}

TEST(PenmanMonteith, NightAndOpenWater) {
  pm_part_input input = FaoPart(0.5);
  input.daylight = false;
  input.net_radiation_given = false;
  input.relative_sunshine = 0.4;
  input.diffuse_fraction = 0.2;
  const pm_part_terms night = PenmanMonteithPart(input);
  // The night part only loses longwave radiation.
  const double longwave = LongwaveLoss(input.vapour_pressure, 0.4, 0.2, kFaoTemperature, kMinutesPerDay, 0.5);
  EXPECT_GT(longwave, 0.0);
  EXPECT_NEAR(night.net_energy, -longwave / EvaporationEnergyPerMillimetre(kFaoTemperature), 1e-12);

  pm_layer_input canopy;
  canopy.coverage = 0.8;
  canopy.leaf_area_index = 3.0;
  canopy.canopy_resistance = 50.0;
  canopy.interception_resistance = 10.0;
  canopy.soil_resistance = 300.0;
  canopy.roughness_length = 0.1;
  pm_layer_state state;
  const pm_layer_result land = PenmanMonteithLayer(night, canopy, false, state);
  // Negative energy stays with the canopy; the soil below gets none.
  EXPECT_EQ(state.energy, 0.0);
  const double ra = AerodynamicResistance(0.1, 0.0);
  const double aa = night.aerodynamic_numerator / ra;
  EXPECT_NEAR(land.soil, PenmanMonteithRate(0.0, night.delta_over_gamma, aa, 300.0, ra), 1e-12);
  EXPECT_NEAR(land.transpiration,
              PenmanMonteithRate(night.net_energy * 0.8 * (1.0 - std::exp(-0.9)), night.delta_over_gamma, aa,
                                 1041.6666666666667, ra),
              1e-9);

  // Open water keeps a zero surface resistance at night and has neither
  // interception nor soil evaporation.
  pm_layer_input lake = canopy;
  lake.lake = true;
  lake.coverage = 0.0;
  lake.leaf_area_index = 0.0;
  lake.canopy_resistance = 0.0;
  pm_layer_state lake_state;
  const pm_layer_result water = PenmanMonteithLayer(night, lake, false, lake_state);
  EXPECT_EQ(water.soil, 0.0);
  EXPECT_EQ(water.interception, 0.0);
  EXPECT_NEAR(water.transpiration, PenmanMonteithRate(0.0, night.delta_over_gamma, aa, 0.0, ra), 1e-12);
}

// Terms kept from cell to cell give what fresh terms give, as the values
// change, repeat and come back.
TEST(PenmanMonteith, KeptVegetationTermsFollowTheValues) {
  const pm_part_terms terms = PenmanMonteithPart(FaoPart(1.0));
  struct Cell {
    double lai, coverage, z0, extinction;
    bool top;
    double canopy_resistance;
  };
  const Cell cells[] = {
      {3.0, 0.8, 0.1, 0.3, true, 50.0},  {3.0, 0.8, 0.1, 0.3, true, 50.0}, {2.0, 0.8, 0.1, 0.3, true, 50.0},
      {2.0, 0.5, 0.1, 0.3, true, 50.0},  {2.0, 0.5, 0.5, 0.3, true, 50.0}, {2.0, 0.5, 0.5, 0.6, true, 50.0},
      {3.0, 0.8, 0.1, 0.3, false, 50.0}, {3.0, 0.8, 0.7, 0.3, true, 50.0}, {0.0, 0.0, 3.0, 0.3, true, 50.0},
      {3.0, 0.8, 0.7, 0.3, true, 80.0},  {3.0, 0.8, 0.7, 0.3, true, 0.0},  {3.0, 0.8, 0.7, 0.3, true, 50.0}};
  for (const bool daylight : {true, false}) {
    pm_vegetation_terms kept;
    for (const Cell& cell : cells) {
      pm_layer_input layer;
      layer.top = cell.top;
      layer.coverage = cell.coverage;
      layer.leaf_area_index = cell.lai;
      layer.extinction = cell.extinction;
      layer.roughness_length = cell.z0;
      layer.canopy_resistance = cell.canopy_resistance;
      layer.interception_resistance = 10.0;
      layer.soil_resistance = 300.0;
      layer.wind_speed = 2.0;
      pm_layer_state fresh_state, kept_state;
      fresh_state.top_resistance = kept_state.top_resistance = 40.0;
      fresh_state.energy = kept_state.energy = 2.0;
      const pm_layer_result fresh = PenmanMonteithLayer(terms, layer, daylight, fresh_state);
      UpdateVegetationTerms(layer, kept);
      const pm_layer_result reused = PenmanMonteithLayer(terms, layer, kept, daylight, kept_state);
      EXPECT_EQ(reused.transpiration, fresh.transpiration)
          << daylight << " " << cell.lai << " " << cell.coverage << " " << cell.canopy_resistance;
      EXPECT_EQ(reused.interception, fresh.interception) << cell.lai;
      EXPECT_EQ(reused.soil, fresh.soil) << cell.lai;
      EXPECT_EQ(kept_state.energy, fresh_state.energy) << cell.lai;
      EXPECT_EQ(kept_state.top_resistance, fresh_state.top_resistance) << cell.z0;
    }
  }
}

TEST(Hamon, DailyValuesAndMonthlyFactor) {
  EXPECT_NEAR(HamonPotentialEvapotranspiration(0.0, 0.5, 1.0, kMinutesPerDay), 0.79956, 5e-6);
  const double warm = HamonPotentialEvapotranspiration(20.0, 0.6, 1.0, kMinutesPerDay);
  EXPECT_NEAR(warm, 3.42235, 5e-6);
  EXPECT_NEAR(HamonPotentialEvapotranspiration(20.0, 0.6, 1.2, kMinutesPerDay), 4.10682, 5e-6);
  EXPECT_NEAR((1.0 - 0.7) * warm, 1.02670, 5e-6);  // the soil's share under a coverage of 0.7
  EXPECT_NEAR(HamonPotentialEvapotranspiration(20.0, 0.6, 1.0, 60.0), warm / 24.0, 1e-12);
}

TEST(HaudeAndWendling, DailyValues) {
  EXPECT_NEAR(SaturationVapourPressureHaude(20.0), 23.3183, 5e-5);
  // Below 0 °C the ice form: 272.46 in place of 272.62 lowers es at -5 °C by 0.025 %.
  EXPECT_NEAR(SaturationVapourPressureHaude(-5.0), 4.01505, 5e-5);
  EXPECT_NEAR(HaudePotentialEvapotranspiration(20.0, 0.5, 0.3, kMinutesPerDay), 3.4977, 5e-5);
  EXPECT_NEAR(HaudePotentialEvapotranspiration(20.0, 0.5, 0.3, 60.0), 0.14574, 5e-6);
  EXPECT_DOUBLE_EQ(HaudePotentialEvapotranspiration(20.0, 0.5, 1.0, kMinutesPerDay), 7.0);

  EXPECT_NEAR(WendlingPotentialEvapotranspiration(5000.0, 0.2, 1.0, 15.0, kMinutesPerDay), 3.06188, 5e-6);
}

TEST(Wendling, TheStepsOfADaySumToItsDailyValue) {
  // A day's radiation spread over its steps (a half sine over the daylight
  // hours) at the day's temperature: steps of any length sum to the daily
  // value, the radiation entering as its daily rate.
  struct Case {
    const char* label;
    double radiation, daylight_hours, temperature, step_minutes;
  };
  const Case cases[] = {
      {"a clear summer day by the hour", 7000.0, 15.0, 18.0, 60.0},
      {"a dull day in March by the hour", 1200.0, 11.0, 3.0, 60.0},
      {"a frosty day in three-hour steps", 1500.0, 9.0, -8.0, 180.0},
      {"a clear summer day in halves", 7000.0, 15.0, 18.0, 720.0},
  };
  constexpr double kPi = 3.14159265358979;
  for (const Case& k : cases) {
    const int steps = static_cast<int>(kMinutesPerDay / k.step_minutes);
    const double hours = k.step_minutes / 60.0;
    double sum = 0.0;
    for (int s = 0; s < steps; ++s) {
      // The share of the day's radiation between the step's start and end.
      const auto before = [&](double hour) {
        const double x = std::clamp((hour - 12.0) / k.daylight_hours, -0.5, 0.5);
        return (std::sin(kPi * x) + 1.0) / 2.0;
      };
      const double radiation = k.radiation * (before((s + 1) * hours) - before(s * hours));
      sum += WendlingPotentialEvapotranspiration(radiation, 0.2, 1.0, k.temperature, k.step_minutes);
    }
    const double daily =
        WendlingPotentialEvapotranspiration(k.radiation, 0.2, 1.0, k.temperature, kMinutesPerDay);
    EXPECT_NEAR(sum, daily, 1e-9 * daily) << k.label;
  }
}

TEST(Sunshine, ThresholdAndRelativeSunshine) {
  double x1 = 0.0, x2 = 0.0;
  EXPECT_EQ(QuadraticRoots(-3.0, 2.0, x1, x2), 2);
  EXPECT_DOUBLE_EQ(x1, 1.0);
  EXPECT_DOUBLE_EQ(x2, 2.0);
  EXPECT_EQ(QuadraticRoots(-2.0, 1.0, x1, x2), 1);
  EXPECT_DOUBLE_EQ(x1, 1.0);
  EXPECT_EQ(QuadraticRoots(0.0, 1.0, x1, x2), 0);
  EXPECT_EQ(x1, 0.0);
  EXPECT_EQ(x2, 0.0);

  struct Case {
    std::array<double, 4> cs;
    sunshine_threshold_fault fault;
    double r0;
  };
  const Case cases[] = {
      {{0.072, -0.808, 1.749, -0.239}, sunshine_threshold_fault::none, 0.24310},
      {{-0.2, 1.0, 0.0, 0.0}, sunshine_threshold_fault::none, 0.2},
      {{0.5, 1.0, 0.0, 0.0}, sunshine_threshold_fault::no_root_in_range, 0.0},
      {{-0.25, 0.0, 1.0, 0.0}, sunshine_threshold_fault::none, 0.5},  // root of the quadratic itself
      {{0.0, 1.0, 0.0, 1.0}, sunshine_threshold_fault::no_root_in_range, 0.0},  // derivative without root
      {{0.3, 0.0, 0.0, 0.0}, sunshine_threshold_fault::no_relationship, 0.0},
  };
  for (const Case& c : cases) {
    const sunshine_threshold t = SunshineThreshold(c.cs);
    EXPECT_EQ(t.fault, c.fault) << c.cs[0] << " " << c.cs[1] << " " << c.cs[2] << " " << c.cs[3];
    if (c.fault == sunshine_threshold_fault::none) {
      EXPECT_NEAR(t.r0, c.r0, 5e-6);
    }
  }

  const std::array<double, 4> cs = {0.072, -0.808, 1.749, -0.239};
  const double r0 = SunshineThreshold(cs).r0;
  EXPECT_EQ(RelativeSunshine(0.2, cs, r0), 0.0);   // below the threshold
  EXPECT_EQ(RelativeSunshine(0.25, cs, r0), 0.0);  // above it, the cubic still below 0
  EXPECT_NEAR(RelativeSunshine(1.0, cs, r0), 0.774, 1e-12);
  EXPECT_EQ(RelativeSunshine(1.0, {0.5, 1.0, 0.0, 0.0}, 0.0), 1.0);
}

TEST(Radiation, CloudinessTransmissivityAndClearSky) {
  EXPECT_NEAR(Cloudiness(0.6), 0.75926, 5e-6);
  EXPECT_DOUBLE_EQ(Cloudiness(0.0), 0.997);
  EXPECT_EQ(Cloudiness(1.2), 0.0);
  EXPECT_NEAR(Transmissivity(0.7, 0.05, 21, 6), 0.65001, 5e-6);

  const double overhead[] = {1.0};
  EXPECT_NEAR(ClearSkyRadiation(overhead, 1, 1.0, std::log(0.7), kReferencePressure), 0.7 * 1367.0, 1e-9);
  // Sub-steps with the sun below the horizon add nothing (not a negative sum).
  const double mixed[] = {1.0, 0.0, -0.2};
  EXPECT_NEAR(ClearSkyRadiation(mixed, 3, 1.0, std::log(0.7), kReferencePressure), 0.7 * 1367.0, 1e-9);
  // Thinner air lets more through.
  EXPECT_GT(ClearSkyRadiation(overhead, 1, 1.0, std::log(0.7), AirPressureBarometric(2000.0, 10.0)),
            0.7 * 1367.0);
}

TEST(TemperatureCycle, AmplitudeOfTheDayAndShifts) {
  monthly_table amplitudes{};
  amplitudes[12] = 4.0;
  amplitudes[1] = 6.0;
  amplitudes[2] = 8.0;
  WrapMonthlyTable(amplitudes);
  EXPECT_NEAR(MonthlyAmplitude(amplitudes, 1, 1, kMonthLengths), 5.08197, 5e-6);
  EXPECT_NEAR(MonthlyAmplitude(amplitudes, 16, 1, kMonthLengths), 6.0, 1e-12);
  EXPECT_NEAR(MonthlyAmplitude(amplitudes, 46 - 15, 1, kMonthLengths), 6.0 + 2.0 * 15.0 / 30.0, 1e-12);

  const temperature_cycle cycle = DailyTemperatureCycle(0.0, 1000.0, 10.0, 0.5, 0.6, 0.0);
  EXPECT_NEAR(cycle.day_rise, 3.0, 1e-12);
  EXPECT_NEAR(cycle.night_drop, 2.0, 1e-12);
  const temperature_cycle high = DailyTemperatureCycle(1000.0, 1000.0, 10.0, 0.5, 0.6, 0.1);
  EXPECT_NEAR(high.day_rise, 0.7 * 5.0 / std::exp(1.0), 1e-12);
  EXPECT_NEAR(high.night_drop, 0.3 * 5.0 / std::exp(1.0), 1e-12);
}
}  // namespace
}  // namespace velmo
