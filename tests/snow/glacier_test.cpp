// Glacier physics of a cell: snow, firn and ice melt of the index methods, the two covers of a glacierised
// cell, the firn stack, the move of deep snow onto the glacier share, the storages' recession, the table
// name of the static methods and whether a run's steps ever end at midnight.
#include "snow/glacier.h"

#include <gtest/gtest.h>

#include <vector>

#include "framework/types.h"
#include "snow/snow_melt.h"

namespace velmo {
namespace {

constexpr double kHourly = 24.0;  // steps per day
constexpr double kNodata = -9999.0;

glacier_parameters Method(int method) {
  glacier_parameters p;
  p.method = method;
  p.kind = GlacierMethodKind(method);
  p.DDFice = 6.0;
  p.DDFfirn = 4.0;
  p.DDFsnow = 3.0;
  p.MF = 2.0;
  p.Aice_min = 0.0005;
  p.Aice_max = 0.001;
  p.Asnow_min = 0.0003;
  p.Asnow_max = 0.0006;
  return p;
}

TEST(GlacierMethodKind, NumbersMapToStaticDynamicAndRadiation) {
  for (int method : {0, 3, 10, 14}) EXPECT_FALSE(GlacierMethodKind(method).defined) << method;
  struct {
    int method;
    bool dynamic, radiation, snow_method;
  } cases[] = {{1, false, false, false},
               {2, false, true, false},
               {11, true, false, false},
               {12, true, true, false},
               {13, true, true, true}};
  for (const auto& c : cases) {
    const glacier_method_kind k = GlacierMethodKind(c.method);
    EXPECT_TRUE(k.defined);
    EXPECT_EQ(k.dynamic, c.dynamic) << c.method;
    EXPECT_EQ(k.radiation, c.radiation) << c.method;
    EXPECT_EQ(k.snow_method, c.snow_method) << c.method;
  }
}

TEST(GlacierMelt, IndexMethodsMeltFirnAndIceByTheirFactors) {
  // Hourly steps at 5 °C above T0 = 0.
  const glacier_step_constants degree_day = GlacierStepConstants(Method(1), kHourly, 0.0, 0.0);
  struct {
    bool firn;
    double debris, scaling, snow_melt, solid_left, firn_melt, ice_melt;
  } cases[] = {
      {false, 1.0, 1.0, 0.0, 0.0, 0.0, 1.25},        // DDFice 6
      {false, 0.5, 1.0, 0.0, 0.0, 0.0, 0.625},       // debris halves the ice melt
      {false, 0.5, 2.0, 0.0, 0.0, 0.0, 1.25},        // and the global scaling doubles it
      {true, 0.5, 1.0, 0.0, 0.0, 0.833333333, 0.0},  // DDFfirn 4, no debris on firn
      {false, 1.0, 1.0, 0.3, 0.0, 0.0, 0.95},        // the snow melt of the step comes first
      {false, 1.0, 1.0, 0.625, 0.5, 0.0, 0.0},       // snow left: no ice melts
      {false, 1.0, 1.0, 1.3, 0.0, 0.0, 0.0},         // more snow melt than the index: nothing
  };
  for (const auto& c : cases) {
    glacier_step_constants k = degree_day;
    k.debris_scaling = c.scaling;
    const firn_ice_melt melt = FirnAndIceMelt(k, 5.0, c.solid_left, c.firn, c.debris, 0.0, c.snow_melt);
    EXPECT_NEAR(melt.firn, c.firn_melt, 1e-9) << c.firn << " " << c.debris << " " << c.snow_melt;
    EXPECT_NEAR(melt.ice, c.ice_melt, 1e-12) << c.firn << " " << c.debris << " " << c.snow_melt;
  }
  // At T0 nothing melts.
  const firn_ice_melt cold = FirnAndIceMelt(degree_day, 0.0, 0.0, false, 1.0, 0.0, 0.0);
  EXPECT_EQ(cold.ice + cold.firn, 0.0);

  // Radiation index on 10 March (n = 72): Aice 0.000715680, Asnow 0.000429408, I 500.
  const std::array<int, 13> lengths = kMonthLengths;
  const glacier_parameters p = Method(2);
  const double a_ice = SeasonalFactor(0.00075, 0.00025, 10, 3, lengths);
  const double a_snow = SeasonalFactor(0.00045, 0.00015, 10, 3, lengths);
  EXPECT_NEAR(a_ice, 0.000715680, 1e-9);
  EXPECT_NEAR(a_snow, 0.000429408, 1e-9);
  const glacier_step_constants radiation = GlacierStepConstants(p, kHourly, a_snow, a_ice);
  EXPECT_NEAR(FirnAndIceMelt(radiation, 5.0, 0.0, false, 1.0, 500.0, 0.0).ice, 2.205867, 1e-6);
  EXPECT_NEAR(FirnAndIceMelt(radiation, 5.0, 0.0, true, 1.0, 500.0, 0.0).firn, 1.490187, 1e-6);
}

TEST(GlacierCovers, BothCoversTakeTheWholeFallAndMeltByTheGlacierSnowIndex) {
  glacier_step_constants k = GlacierStepConstants(Method(11), kHourly, 0.0, 0.0);
  k.transzone = 1.0;
  k.cwh = 0.1;
  // 0.3 mm of snow on the glacier and 10 mm on the ordinary cover, 2 mm of
  // input at 5 °C (all rain), 1 mm unloaded from the canopy.
  double solid = 10.0, liquid = 0.0, glacier_solid = 0.3, glacier_liquid = 0.0;
  const glacier_cover_result r =
      GlacierIndexCovers(k, 5.0, 2.0, 1.0, 0.0, solid, liquid, &glacier_solid, &glacier_liquid);
  EXPECT_EQ(r.rain, 2.0);
  EXPECT_EQ(r.snowfall, 0.0);
  EXPECT_DOUBLE_EQ(r.glacier_melt, 0.3);  // DDFsnow 3: 0.625 possible, 0.3 there
  EXPECT_DOUBLE_EQ(glacier_solid, 0.0);
  EXPECT_DOUBLE_EQ(r.glacier_outflow, 2.3);
  // The ordinary cover keeps the unloaded snow; 0.625 melts, CWH holds 1.0375.
  EXPECT_DOUBLE_EQ(solid, 11.0 - 0.625);
  EXPECT_DOUBLE_EQ(liquid, 0.1 * solid);
  EXPECT_DOUBLE_EQ(r.outflow, 2.625 - liquid);
  EXPECT_DOUBLE_EQ(r.melt_outflow, r.outflow);

  // Cold rain on a bare cell flows out as well; static methods count the
  // ordinary cover's outflow as the snow melt on the glacier.
  solid = liquid = 0.0;
  const glacier_cover_result cold =
      GlacierIndexCovers(k, -0.5, 4.0, 0.0, 0.0, solid, liquid, nullptr, nullptr);
  EXPECT_DOUBLE_EQ(cold.rain, 1.0);
  EXPECT_DOUBLE_EQ(solid, 3.0);
  EXPECT_DOUBLE_EQ(cold.outflow, 0.7);
  EXPECT_EQ(cold.glacier_outflow, cold.outflow);
  EXPECT_EQ(cold.glacier_melt, 0.0);
  EXPECT_EQ(cold.melt_outflow, 0.0);
}

TEST(FirnStack, MeltTakesTheYoungestFirstAndTheYearMovesEveryLevelDown) {
  // Levels 1..3; level 2 without value.
  std::vector<double> levels = {0.0, 2.0, kNodata, 5.0};
  EXPECT_EQ(FirnSum(levels.data(), 3, kNodata), 7.0);
  EXPECT_DOUBLE_EQ(TakeFromFirn(levels.data(), 3, 3.0, kNodata), 0.0);
  EXPECT_EQ(levels, (std::vector<double>{4.0, 0.0, kNodata, 4.0}));
  EXPECT_DOUBLE_EQ(TakeFromFirn(levels.data(), 3, 6.5, kNodata), 2.5);
  EXPECT_EQ(levels[0], 0.0);

  levels = {6.0, 1.0, 2.0, 3.0};
  EXPECT_EQ(AgeFirnStack(levels.data(), 3, 10.0, kNodata), 13.0);
  EXPECT_EQ(levels, (std::vector<double>{13.0, 10.0, 1.0, 2.0}));

  EXPECT_EQ(InitialFirnLevel(3000.0, 2500.0, 0.2), 100.0);
  EXPECT_EQ(InitialFirnLevel(2400.0, 2500.0, 0.2), 0.0);
}

TEST(GlacierExcess, DeepSnowMovesOntoTheGlacierShareAndTheCellKeepsItsWater) {
  // A new glacier cell of share 0.25 with 1300 mm (1040 solid, 260 liquid):
  // the snow on the glacier takes the cover, then the excess.
  double solid = 1040.0, liquid = 260.0, glacier_solid = 1040.0, glacier_liquid = 260.0;
  EXPECT_DOUBLE_EQ(MoveExcessToGlacier(1000.0, 0.25, solid, liquid, glacier_solid, glacier_liquid), 300.0);
  EXPECT_DOUBLE_EQ(solid + liquid, 1000.0);
  EXPECT_DOUBLE_EQ(liquid, 200.0);
  EXPECT_DOUBLE_EQ(glacier_solid + glacier_liquid, 2200.0);
  EXPECT_DOUBLE_EQ(0.75 * (solid + liquid) + 0.25 * (glacier_solid + glacier_liquid), 1300.0);
  // Not above the threshold: nothing moves.
  EXPECT_EQ(MoveExcessToGlacier(1000.0, 0.5, solid, liquid, glacier_solid, glacier_liquid), 0.0);
  EXPECT_DOUBLE_EQ(solid + liquid, 1000.0);
}

TEST(GlacierStorage, RecessionOfALinearStorage) {
  // 1 mm per step into a storage of 10 hours, hourly.
  const double e = StorageRecession(1.0, 10.0);
  double q = 0.0;
  const double expected[] = {0.0951626, 0.1812692, 0.2591818};
  for (double value : expected) {
    q = LinearStorageOutflow(1.0, q, e);
    EXPECT_NEAR(q, value, 1e-7);
  }
  // A constant of 0 passes the inflow on.
  EXPECT_EQ(StorageRecession(1.0, 0.0), 0.0);
  EXPECT_EQ(LinearStorageOutflow(2.5, 7.0, 0.0), 2.5);
}

TEST(GlacierNames, TheStaticSnowTableIsNamedFromTheQglacTable) {
  EXPECT_EQ(SnowOnGlacierTableName("q.txt"), "q_qsgl_.txt");
  EXPECT_EQ(SnowOnGlacierTableName("out/q.melt.txt"), "out/q.melt_qsgl_.txt");
  EXPECT_EQ(SnowOnGlacierTableName("q"), "q_qsgl_");
  EXPECT_EQ(SnowOnGlacierTableName("out.d/q"), "out.d/q_qsgl_");
}

TEST(GlacierEvaluation, StepsEndAtMidnightOnlyWhenTheirTimesReachIt) {
  struct {
    int interval, shift, start;
    bool midnight;
  } cases[] = {
      {60, 0, 0, true},     {1440, 0, 0, true},   {60, 30, 0, false}, {60, 30, 30, true},
      {720, 0, 360, false}, {720, 0, 0, true},    {45, 0, 0, true},   {1440, 60, 1380, true},
      {1440, 60, 0, false}, {60, 2000, 0, false}, {0, 0, 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StepsEndAtMidnight(c.interval, c.shift, c.start), c.midnight)
        << c.interval << " " << c.shift << " " << c.start;
}

}  // namespace
}  // namespace velmo
