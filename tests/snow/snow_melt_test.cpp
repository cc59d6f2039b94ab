// Temperature-index snow physics: rain/snow split, melt of each method, refreezing, the deposition index over
// a step of two parts, the liquid water released, monthly and seasonal values of the day, snow albedo and
// age.
#include "snow/snow_melt.h"

#include <gtest/gtest.h>

#include "framework/texthelpers.h"
#include "framework/types.h"

namespace velmo {
namespace {

constexpr double kHourly = 24.0;  // steps per day

TEST(SnowFraction, FallsLinearlyThroughTheTransitionZone) {
  struct {
    double t, t0r, transzone, snow;
  } cases[] = {
      {0.5, 0.0, 1.0, 0.25}, {1.0, 0.0, 1.0, 0.0}, {-1.0, 0.0, 1.0, 1.0}, {0.0, 0.0, 1.0, 0.5},
      {5.0, 0.0, 1.0, 0.0},  {0.0, 0.0, 0.0, 1.0}, {0.01, 0.0, 0.0, 0.0}, {-3.0, -2.0, 0.5, 1.0},
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(SnowFraction(c.t, c.t0r, c.transzone), c.snow)
        << c.t << " " << c.t0r << " " << c.transzone;
}

TEST(SnowMelt, MethodsGiveTheirHandComputedMelt) {
  // Degree-day: 3 mm/(°C day) at 5 °C over an hour.
  EXPECT_DOUBLE_EQ(DegreeDayMelt(3.0, 5.0, 0.0, kHourly), 0.625);
  EXPECT_DOUBLE_EQ(TemperatureWindMelt(2.0, 0.5, 3.0, 2.0, 0.0, kHourly), 3.5 * 2.0 / 24.0);
  // Rain-on-snow index at 2 °C with 5 mm input and 3 m/s wind (k = 3.5).
  const double es = SaturationVapourPressureIceTetens(2.0);
  EXPECT_NEAR(RainOnSnowMelt(2.0, 0.5, 3.0, es, 2.0, 0.0, 5.0, 1.86272, 1.0, kHourly), 0.640246, 1e-6);
  // Without input: the seasonal index, scaled by the radiation correction 1.4.
  EXPECT_NEAR(RainOnSnowMelt(2.0, 0.5, 3.0, es, 2.0, 0.0, 0.0, 1.86272, RadiationMeltFactor(1.4), kHourly),
              0.186272, 1e-6);
  // Below 2.4 mm a day of input the seasonal index holds.
  EXPECT_DOUBLE_EQ(RainOnSnowMelt(2.0, 0.5, 3.0, es, 2.0, 0.0, 0.09, 1.0, 1.0, kHourly), 2.0 / 24.0);
  EXPECT_NEAR(SaturationVapourPressureIceTetens(0.0), 6.1078, 1e-12);
  EXPECT_NEAR(SaturationVapourPressureIceTetens(-5.0), 4.0137, 5e-5);
  EXPECT_NEAR(RefreezingCapacity(1.86272, 0.5, -4.0, 0.0, kHourly, 1.0), 0.155227, 1e-6);
}

TEST(SnowMethodKind, NumbersMapToMeltSlidesAndDepositionIndex) {
  for (int method : {0, 15, -1}) EXPECT_FALSE(SnowMethodKind(method).defined) << method;
  const int slides[] = {6, 7, 8, 9, 12, 14};
  const int deposition[] = {7, 9, 10, 11, 13, 14};
  for (int m = 1; m <= 14; ++m) {
    const snow_method_kind k = SnowMethodKind(m);
    EXPECT_TRUE(k.defined);
    EXPECT_EQ(k.slides, std::find(std::begin(slides), std::end(slides), m) != std::end(slides)) << m;
    EXPECT_EQ(k.deposition_index,
              std::find(std::begin(deposition), std::end(deposition), m) != std::end(deposition))
        << m;
    EXPECT_EQ(k.refreezes, m == 3 || m == 4) << m;
    EXPECT_EQ(k.needs_wind, m != 1 && m != 8 && m != 9 && m != 10) << m;
  }
  EXPECT_EQ(SnowMethodKind(9).melt, snow_melt_kind::degree_day);
  EXPECT_EQ(SnowMethodKind(14).melt, snow_melt_kind::temperature_wind);
  EXPECT_EQ(SnowMethodKind(4).melt, snow_melt_kind::rain_on_snow_humidity);
  EXPECT_EQ(SnowMethodKind(11).melt, snow_melt_kind::energy_balance);
}

snow_step_constants Constants(int method) {
  snow_step_constants k;
  k.kind = SnowMethodKind(method);
  k.t0r = 0.0;
  k.transzone = 1.0;
  k.t0 = 0.0;
  k.crfr = 0.5;
  k.ddf = 3.0;
  k.c0 = 2.0;
  k.c1 = 0.5;
  k.rmf = 1.86272;
  k.steps_per_day = kHourly;
  return k;
}

TEST(SnowStepPart, DegreeDayCellsOfOneHour) {
  const snow_step_constants k = Constants(1);
  snow_cell_forcing f;
  // 100 mm of snow at 5 °C melts 0.625 mm into the liquid storage, no outflow.
  f.t_air = 5.0;
  double solid = 100.0, liquid = 0.0;
  snow_part_result part = SnowStepPart(k, f, 1.0, solid, liquid);
  EXPECT_DOUBLE_EQ(part.melt, 0.625);
  snow_release release = ReleaseLiquid(part.melt, 0.1, solid, liquid);
  EXPECT_DOUBLE_EQ(liquid, 0.625);
  EXPECT_DOUBLE_EQ(solid, 99.375);
  EXPECT_EQ(release.outflow, 0.0);

  // A bare cell with 10 mm at 5 °C: all rain, all of it flows out, no melt.
  solid = liquid = 0.0;
  f.input_water = 10.0;
  part = SnowStepPart(k, f, 1.0, solid, liquid);
  release = ReleaseLiquid(part.melt, 0.1, solid, liquid);
  EXPECT_EQ(part.rain, 10.0);
  EXPECT_EQ(part.snowfall, 0.0);
  EXPECT_EQ(release.outflow, 10.0);
  EXPECT_EQ(release.melt_outflow, 0.0);

  // At T0 nothing melts; a lake cell takes all as rain.
  f.t_air = 0.0;
  solid = 100.0;
  liquid = 0.0;
  EXPECT_EQ(SnowStepPart(k, f, 1.0, solid, liquid).melt, 0.0);
  f.t_air = -10.0;
  f.input_water = 5.0;
  f.lake = true;
  part = SnowStepPart(k, f, 1.0, solid, liquid);
  EXPECT_EQ(part.rain, 5.0);
  EXPECT_EQ(part.snowfall, 0.0);
}

TEST(SnowStepPart, ADayRunsANightAndADayPart) {
  const snow_step_constants k = [] {
    snow_step_constants daily = Constants(1);
    daily.steps_per_day = 1.0;
    return daily;
  }();
  snow_cell_forcing f;
  f.input_water = 10.0;
  double solid = 50.0, liquid = 0.0;
  f.t_air = -2.0;
  double melt = SnowStepPart(k, f, 0.5, solid, liquid).melt;
  f.t_air = 6.0;
  melt += SnowStepPart(k, f, 0.5, solid, liquid).melt;
  EXPECT_DOUBLE_EQ(melt, 9.0);
  const snow_release release = ReleaseLiquid(melt, 0.1, solid, liquid);
  EXPECT_DOUBLE_EQ(release.outflow, 9.4);
  EXPECT_DOUBLE_EQ(release.melt_outflow, 9.4);
  EXPECT_DOUBLE_EQ(solid, 46.0);
  EXPECT_DOUBLE_EQ(liquid, 4.6);
}

TEST(SnowStepPart, DepositionIndexRaisesInputAndCoverAlike) {
  // 10 mm of snow with DI 0.2 in two parts of weight 0.5: both gain 2 mm.
  const snow_step_constants k = Constants(10);
  snow_cell_forcing f;
  f.t_air = -5.0;
  f.input_water = 10.0;
  f.deposition_index = 0.2;
  double solid = 0.0, liquid = 0.0, input_raise = 0.0;
  for (int part = 0; part < 2; ++part) input_raise += SnowStepPart(k, f, 0.5, solid, liquid).extra_input;
  EXPECT_DOUBLE_EQ(input_raise, 2.0);
  EXPECT_DOUBLE_EQ(solid, 12.0);
  // Methods without the index ignore it; canopy unload joins the snow.
  f.canopy_unload = 1.5;
  solid = 0.0;
  const snow_part_result plain = SnowStepPart(Constants(1), f, 1.0, solid, liquid);
  EXPECT_EQ(plain.extra_input, 0.0);
  EXPECT_DOUBLE_EQ(solid, 11.5);
  EXPECT_DOUBLE_EQ(plain.snowfall, 10.0);
}

TEST(SnowStepPart, OnlyTheRainOnSnowMethodsRefreeze) {
  snow_cell_forcing f;
  f.t_air = -4.0;
  for (int method : {3, 4}) {
    double solid = 20.0, liquid = 0.1;
    SnowStepPart(Constants(method), f, 1.0, solid, liquid);
    EXPECT_EQ(liquid, 0.0) << method;
    EXPECT_DOUBLE_EQ(solid, 20.1) << method;
  }
  // More liquid than may refreeze keeps the rest.
  double solid = 20.0, liquid = 1.0;
  SnowStepPart(Constants(3), f, 1.0, solid, liquid);
  EXPECT_NEAR(liquid, 1.0 - 0.155227, 1e-6);
  for (int method : {1, 2, 8, 9, 10, 12, 13, 14}) {
    solid = 20.0;
    liquid = 1.0;
    SnowStepPart(Constants(method), f, 1.0, solid, liquid);
    EXPECT_EQ(liquid, 1.0) << method;
  }
  // Above T0 without snow nothing melts.
  f.t_air = 3.0;
  solid = 0.0;
  liquid = 0.0;
  EXPECT_EQ(SnowStepPart(Constants(2), f, 1.0, solid, liquid).melt, 0.0);
}

TEST(SnowRelease, HoldsCwhTimesTheSolidStorage) {
  double solid = 10.0, liquid = 0.5;
  // No melt: the outflow is no melt outflow.
  snow_release release = ReleaseLiquid(0.0, 0.01, solid, liquid);
  EXPECT_DOUBLE_EQ(release.outflow, 0.4);
  EXPECT_EQ(release.melt_outflow, 0.0);
  // Melt beyond the solid storage takes what there is.
  solid = 2.0;
  liquid = 0.0;
  release = ReleaseLiquid(5.0, 0.1, solid, liquid);
  EXPECT_EQ(solid, 0.0);
  EXPECT_EQ(liquid, 0.0);
  EXPECT_DOUBLE_EQ(release.outflow, 2.0);
  EXPECT_DOUBLE_EQ(release.melt_outflow, 2.0);
}

TEST(MonthlyValues, LinesFillTheTable) {
  monthly_table table{};
  leading_numbers line = LeadingNumbers("  1 2 3 4 5 6 7 8 9 10 11 12 13 comment", 12);
  EXPECT_EQ(line.values.size(), 12u);
  ASSERT_TRUE(FillMonthlyTable(line.values.data(), 12, table));
  EXPECT_EQ(table[0], 12.0);
  EXPECT_EQ(table[13], 1.0);

  line = LeadingNumbers("2.5 x 4", 12);
  EXPECT_EQ(line.values.size(), 1u);
  ASSERT_TRUE(FillMonthlyTable(line.values.data(), 1, table));
  for (double v : table) EXPECT_EQ(v, 2.5);
  EXPECT_TRUE(LeadingNumbers("DDF 1 2", 12).values.empty());
  EXPECT_TRUE(LeadingNumbers("nan 1", 12).values.empty());
  // No number, or a month or more left out: nothing is filled.
  EXPECT_FALSE(FillMonthlyTable(nullptr, 0, table));
  line = LeadingNumbers("1 2 3 4 5 6 7 8 9 10 11", 12);
  EXPECT_FALSE(FillMonthlyTable(line.values.data(), 11, table));
  EXPECT_FALSE(FillMonthlyTable(line.values.data(), 2, table));
  EXPECT_EQ(table[5], 2.5);
}

TEST(SeasonalFactor, CountsDaysByTheLengthOfTheMonthGiven) {
  // 10 March: n = 10 + 2·31 = 72.
  EXPECT_NEAR(SeasonalFactor(2.0, 1.0, 10, 3, kMonthLengths), 1.86272, 1e-5);
  // 31 January and 1 February give n = 31 and 29.
  EXPECT_DOUBLE_EQ(SeasonalFactor(2.0, 1.0, 31, 1, kMonthLengths),
                   2.0 + std::sin((31.0 - 80.0) * kSeasonalAngularFrequency));
  EXPECT_DOUBLE_EQ(SeasonalFactor(2.0, 1.0, 1, 2, kMonthLengths),
                   2.0 + std::sin((29.0 - 80.0) * kSeasonalAngularFrequency));
}

TEST(SnowAlbedoAndAge, DecayFasterInTheColdAndThresholdsExclusive) {
  EXPECT_NEAR(SnowAlbedo(0.4, 0.9, 10.0, 1.0), 0.703265, 1e-6);
  EXPECT_NEAR(SnowAlbedo(0.4, 0.9, 10.0, -1.0), 0.550597, 1e-6);
  EXPECT_NEAR(SnowAlbedo(0.4, 0.9, 10.0, 0.0), 0.550597, 1e-6);
  // 5 mm is no snow cover after the melt; before it, 2.5 mm is the threshold.
  EXPECT_EQ(CellAlbedo(5.0, kSnowCoverThreshold, 0.4, 0.9, 0.0, -1.0, 0.2), 0.2);
  EXPECT_EQ(CellAlbedo(5.0001, kSnowCoverThreshold, 0.4, 0.9, 0.0, -1.0, 0.2), 0.9);
  EXPECT_EQ(CellAlbedo(3.0, kSnowAlbedoThresholdBeforeMelt, 0.4, 0.9, 0.0, -1.0, 0.2), 0.9);
  const double hour = 1.0 / 24.0;
  struct {
    double t, input, cover, age;
  } cases[] = {{-1.0, 2.0, 6.0, 0.0},
               {-1.0, 2.0, 5.0, 3.0 + hour},
               {-1.0, 1.0, 6.0, 3.0 + hour},
               {1.0, 2.0, 6.0, 0.0},
               {1.01, 2.0, 6.0, 3.0 + hour}};
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(SnowAgeAfterStep(3.0, c.t, 0.0, 1.0, c.input, c.cover, hour), c.age)
        << c.t << " " << c.cover;
}

// The cover after a step: days, age and albedo together; the kept exp of the
// decay gives what SnowAlbedo gives for every cell in turn.
TEST(SnowAlbedoAndAge, CoverAfterAStepTakesItsAgeForTheAlbedo) {
  const double hour = 1.0 / 24.0;
  snow_albedo_decay decay(0.4, 0.9);
  struct {
    double age, t, input, cover;
  } cells[] = {{10.0, 1.0, 0.0, 50.0}, {10.0, 1.0, 0.0, 50.0}, {10.0, -1.0, 0.0, 50.0},
               {3.0, -1.0, 2.0, 50.0}, {3.0, -1.0, 0.0, 4.0},  {10.0, 1.0, 0.0, 50.0}};
  for (const auto& k : cells) {
    const cover_after_step after = CoverAfterStep(k.age, k.t, 0.0, 1.0, k.input, k.cover, hour, 0.2, decay);
    const double age = SnowAgeAfterStep(k.age, k.t, 0.0, 1.0, k.input, k.cover, hour);
    EXPECT_EQ(after.age, age);
    EXPECT_EQ(after.days, k.cover > kSnowCoverThreshold ? hour : 0.0);
    EXPECT_DOUBLE_EQ(after.albedo, k.cover > kSnowCoverThreshold ? SnowAlbedo(0.4, 0.9, age, k.t) : 0.2);
  }
}

}  // namespace
}  // namespace velmo
