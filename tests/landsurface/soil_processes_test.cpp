// The soil model's and the infiltration's formulas against hand-computed numbers, and
// the water each cell process keeps.
#include "landsurface/soil_processes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace velmo {
namespace {

TEST(SoilConversions, HandComputedValues) {
  struct Case {
    const char* what;
    double value;
    double expected;
  };
  const Case cases[] = {
      {"storage constant 0 h", StorageConstantMinutes(0.0), 60.0},
      {"storage constant below 0.001 h", StorageConstantMinutes(0.0009), 60.0},
      {"storage constant 0.001 h", StorageConstantMinutes(0.001), 0.06},
      {"storage constant 2 h", StorageConstantMinutes(2.0), 120.0},
      {"macropore threshold per day", MacroporeThresholdPerStep(1.0, 1440.0), 6.7317301},
      {"macropore threshold per hour", MacroporeThresholdPerStep(5.0, 60.0), 5.0},
      {"alpha per 15 minutes", RatePerStep(2.0, 15.0), 0.5},
      {"1e-5 m/s per hour", ConductivityPerStep(1.0e-5, 60.0), 36.0},
      {"3600 s at 60 min", TravelTimeSteps(3600.0, 60.0), 1.0},
      {"3601 s at 60 min", TravelTimeSteps(3601.0, 60.0), 2.0},
      {"0 s", TravelTimeSteps(0.0, 60.0), 0.0},
      {"Q0 of Tkorr 1e-5 and lambda 9", BaseflowAtZeroDeficit(1.0e-5, 9.0, 60.0), 4.4427554},
      {"recession of 1 h at 60 min", RecessionFactor(60.0, 60.0), std::exp(-1.0)},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.value, c.expected, 1e-6 * std::max(1.0, c.expected)) << c.what;
}

TEST(LinearStore, UnitPulseRecedesAndItsContentBalances) {
  const double e = RecessionFactor(60.0, StorageConstantMinutes(2.0));
  double outflow = 0.0;
  double content = 0.0;
  const double expected[] = {0.393469, 0.238651, 0.144749};
  for (int step = 0; step < 3; ++step) {
    const double inflow = step == 0 ? 1.0 : 0.0;
    outflow = LinearStoreOutflow(inflow, outflow, e);
    EXPECT_NEAR(outflow, expected[step], 1e-6) << "step " << step + 1;
    // In - out = change of the content the outflow stands for.
    const double new_content = LinearStoreContent(outflow, e);
    EXPECT_NEAR(inflow - outflow, new_content - content, 1e-15);
    content = new_content;
  }
}

TEST(GreenAmpt, HandComputedSteps) {
  // K 1 mm per step, fillable porosity 0.1, suction 300 mm: the front's
  // suction head is 30 mm.
  struct Case {
    const char* what;
    double W;
    bool saturated;
    double P;
    double excess;
    double water;
    double marker;
  };
  const Case cases[] = {
      {"ponding after a third of the step", 10.0, false, 0.0, 2.35610, 7.64390, 1.0},
      {"half of the excess through macropores", 10.0, false, 0.5, 1.17805, 8.82195, 1.0},
      {"all of it through macropores", 10.0, false, 1.0, 0.0, 10.0, 1.0},
      {"ponding from the start of the step", 10.0, true, 0.0, 1.73791, 8.26209, 1.0},
      {"ponding exactly at the end of the step", 6.0, false, 0.0, 0.0, 6.0, 1.0},
      {"no ponding within the step", 2.0, false, 0.0, 0.0, 2.0, 0.0},
      {"input not above the conductivity", 1.0, true, 0.0, 0.0, 1.0, 0.0},
  };
  for (const Case& c : cases) {
    const green_ampt_result r = GreenAmptStep(c.W, 1.0, 0.1, 300.0, c.saturated, c.P);
    EXPECT_NEAR(r.excess, c.excess, 1e-5) << c.what;
    EXPECT_NEAR(r.water, c.water, 1e-5) << c.what;
    EXPECT_EQ(r.marker, c.marker) << c.what;
    EXPECT_NEAR(r.excess + r.water, c.W, 1e-12) << c.what;
  }
  // No conductivity or no fillable pore space: nothing happens.
  for (const auto& [K, fp] : {std::pair{0.0, 0.1}, std::pair{1.0, 0.0}}) {
    const green_ampt_result r = GreenAmptStep(10.0, K, fp, 300.0, true, 0.0);
    EXPECT_EQ(r.excess, 0.0);
    EXPECT_EQ(r.water, 10.0);
    EXPECT_EQ(r.marker, 0.0);
  }
}

TEST(GreenAmpt, TheStepTrailsTheExactSolutionByLittle) {
  // Exact Green-Ampt for the same case: the infiltrated depth after ponding
  // solves F - Fs - S ln((S + F)/(S + Fs)) = K (t - ts).
  const double K = 1.0, S = 30.0, W = 10.0;
  const double ts = (S / W) / (W / K - 1.0);
  const double Fs = W * ts;
  double F = Fs;
  for (int i = 0; i < 200; ++i) F = Fs + S * std::log((S + F) / (S + Fs)) + K * (1.0 - ts);
  EXPECT_NEAR(F, 7.666, 1e-3);
  const double step = W - GreenAmptStep(W, K, 0.1, 300.0, false, 0.0).excess;
  EXPECT_NEAR((F - step) / F, 0.003, 0.0005);
}

TEST(FillablePorosity, DrainablePoresAboveTheWaterTableAndTheRootZone) {
  EXPECT_DOUBLE_EQ(FillablePorosity(100.0, 20.0, 0.2, 0.5, 100.0, 0.5),
                   0.8 * 0.2 + 0.5 * 100.0 / 1000.0 / 0.5);
  EXPECT_DOUBLE_EQ(FillablePorosity(0.0, 20.0, 0.2, 0.5, 100.0, 0.5), 0.1);
  EXPECT_DOUBLE_EQ(FillablePorosity(100.0, 0.0, 0.2, 0.5, 100.0, 0.0), 0.2);
  // A root zone without capacity adds nothing.
  EXPECT_DOUBLE_EQ(FillablePorosity(100.0, 0.0, 0.2, 0.5, 0.0, 0.5), 0.2);
  EXPECT_DOUBLE_EQ(FillablePorosity(100.0, 0.0, 0.2, 0.5, -5.0, 0.5), 0.2);
}

TEST(SlopeStability, InfiniteSlopeFactorOfSafety) {
  struct Case {
    const char* what;
    double slope;
    double cohesion;
    double deficit;
    double depth;
    double expected;
  };
  const Case cases[] = {
      {"water table below the soil", 30.0, 0.0, 300.0, 1.0, 1.18496},
      {"half saturated", 30.0, 0.0, 100.0, 1.0, 0.888809},
      {"saturated to the surface", 30.0, 0.0, 0.0, 1.0, 0.592658},
      {"waterlogged slope", 30.0, 0.0, -50.0, 1.0, 0.592658},
      {"cohesion on a dry slope", 30.0, 5000.0, 300.0, 1.0, 1.69464},
      {"flat", 0.0, 0.0, 300.0, 1.0, -1.0},
      {"vertical", 90.0, 0.0, 300.0, 1.0, -1.0},
      {"no soil", 30.0, 0.0, 300.0, 0.0, -1.0},
  };
  for (const Case& c : cases) {
    const double index = SlopeStabilityIndex(c.slope, 0.6, c.depth, 2000.0, c.cohesion, 0.0, c.deficit, 0.2);
    EXPECT_NEAR(index, c.expected, 1e-5) << c.what;
  }
  EXPECT_NEAR(SlopeStabilityIndex(30.0, 0.6, 1.0, 2000.0, 0.0, 0.0, 300.0, 0.2),
              std::tan(0.6) / std::tan(std::numbers::pi / 6.0), 1e-12);
}

// Water of a cell as the soil step keeps it: the stores less the deficit,
// the inactive soil counted by its water SBia * nFKia.
double Water(const soil_cell& c, double nFK) { return c.SB * nFK + c.SUZ + c.SIF + c.SBia * c.nFKia - c.SD; }

// Every cell process moves water between the stores (or out of the cell, as
// it reports) and makes or loses none, whatever the state, also without a
// root-zone capacity.
TEST(SoilCell, EveryProcessKeepsTheWater) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto between = [&](double low, double high) { return low + (high - low) * unit(random); };
  for (int sample = 0; sample < 20000; ++sample) {
    const double nFK = sample % 10 == 0 ? 0.0 : between(10.0, 300.0);
    soil_cell start{between(-20.0, 400.0), between(0.0, 50.0), between(0.0, 30.0), between(0.0, 1.2),
                    between(0.0, 1.0),     between(0.0, 1.2),  between(0.0, 80.0), between(-0.5, 1.0)};
    if (sample % 7 == 0) start.nFKia = 0.0;
    const double X = sample % 5 == 0 ? 0.0 : between(0.0, 500.0);
    const double W = between(0.0, 40.0);
    const double SHmax = between(0.0, 30.0);
    const double scale = std::abs(Water(start, nFK)) + 1000.0;

    soil_cell c = start;
    double before = Water(c, nFK);
    Reinfiltrate(c, nFK, SHmax, between(0.0, 1.0));
    EXPECT_NEAR(Water(c, nFK), before, 1e-13 * scale) << "reinfiltration, sample " << sample;

    before = Water(c, nFK);
    ASSERT_FALSE(GroundwaterContact(c, nFK, X).failed) << sample;
    EXPECT_NEAR(Water(c, nFK), before, 1e-13 * scale) << "groundwater contact, sample " << sample;

    before = Water(c, nFK);
    SoilInput(c, W, nFK, between(0.0, 20.0));
    EXPECT_NEAR(Water(c, nFK), before + W, 1e-13 * scale) << "input, sample " << sample;

    before = Water(c, nFK);
    SoilOverflow(c, nFK);
    EXPECT_NEAR(Water(c, nFK), before, 1e-13 * scale) << "overflow, sample " << sample;
    if (nFK > 0.0) {
      EXPECT_LE(c.SB, 1.0) << sample;
    }

    before = Water(c, nFK);
    const interflow_flows flows = Interflow(c, SHmax, between(0.0, 1.0));
    EXPECT_NEAR(Water(c, nFK), before - flows.excess - flows.interflow, 1e-13 * scale)
        << "interflow, " << sample;
    EXPECT_GE(flows.excess, 0.0);

    before = Water(c, nFK);
    const double qb = Drainage(c, between(0.0, 30.0), 1.0, DeficitFactor(c.SD, 20.0));
    EXPECT_NEAR(Water(c, nFK), before - qb, 1e-13 * scale) << "drainage, sample " << sample;

    for (double v : {c.SD, c.SUZ, c.SIF, c.SB, c.SBia, c.nFKia, c.SSP})
      ASSERT_TRUE(std::isfinite(v)) << sample;
  }
}

TEST(SoilCell, CapillaryRiseFillsByTheSaturatedShare) {
  // Water table within the roots' reach (X 200 > SD 100): the saturated share
  // of the root zone grows from 0.25 to 0.5, and the rise fills the dry part
  // of the root zone in proportion.
  soil_cell c{100.0, 0.0, 0.0, 0.4, 0.6, 0.5, 40.0, 0.25};
  ASSERT_FALSE(GroundwaterContact(c, 100.0, 200.0).failed);
  const double base = (0.6 - 0.4) * 100.0 * 0.25;
  const double flux = ((1.0 - 0.4) * 100.0 - base) * (0.5 - 0.25) / 0.75 + base;
  EXPECT_DOUBLE_EQ(c.SSP, 0.5);
  EXPECT_DOUBLE_EQ(c.SB, 0.4 + flux / 100.0);
  // The inactive soil joins the saturated zone with its water.
  EXPECT_DOUBLE_EQ(c.SD, 100.0 + flux - 0.5 * 40.0);
  EXPECT_EQ(c.nFKia, 0.0);
  EXPECT_EQ(c.SBia, 1.0);
  // Deficit at most 0.1 mm: the root zone fills.
  c = {0.1, 0.0, 0.0, 0.4, 0.6, 1.0, 0.0, 0.25};
  GroundwaterContact(c, 100.0, 200.0);
  EXPECT_DOUBLE_EQ(c.SB, 1.0);
  EXPECT_DOUBLE_EQ(c.SSP, 1.0);
  // A saturated share that cannot grow from 1 is a failure, reported with
  // what it needed.
  c = {100.0, 0.0, 0.0, 0.4, 0.6, 1.0, 0.0, std::nan("")};
  const capillary_failure failure = GroundwaterContact(c, 100.0, 200.0);
  EXPECT_TRUE(failure.failed);
  EXPECT_DOUBLE_EQ(failure.SSPneu, 0.5);
}

TEST(SoilCell, TheInactiveSoilKeepsItsWater) {
  // Water table beyond the roots' reach (X 50 mm, SD 60 mm) and 130 mm of
  // inactive soil at 0.4 left by shrinking roots: it shrinks to the 20 mm
  // beyond the reach, and the 110 mm given up join the saturated zone with
  // their 44 mm of water.
  soil_cell c{60.0, 0.0, 0.0, 0.5, 0.5, 0.4, 130.0, 0.0};
  ASSERT_FALSE(GroundwaterContact(c, 100.0, 50.0).failed);
  EXPECT_DOUBLE_EQ(c.nFKia, 20.0);
  EXPECT_DOUBLE_EQ(c.SD, 16.0);
  EXPECT_DOUBLE_EQ(c.SSP, -0.2);
  // A root zone 30 mm over its capacity fills the inactive soil (12 mm of
  // room) and the rest drains; the filled inactive soil stays.
  c.SB = 1.3;
  SoilOverflow(c, 100.0);
  EXPECT_DOUBLE_EQ(c.SB, 1.0);
  EXPECT_DOUBLE_EQ(c.SBia, 1.0);
  EXPECT_DOUBLE_EQ(c.nFKia, 20.0);
  EXPECT_NEAR(c.SUZ, 18.0, 1e-12);
}

TEST(SoilCell, WithoutRootZoneCapacityTheWaterDrains) {
  soil_cell c{50.0, 3.0, 0.0, 0.7, 0.7, 1.0, 0.0, 0.0};
  SoilInput(c, 12.0, 0.0, 5.0);
  EXPECT_EQ(c.SUZ, 15.0);
  EXPECT_EQ(c.SB, 0.7);
  SoilInput(c, 12.0, -3.0, 5.0);
  EXPECT_EQ(c.SUZ, 27.0);
  // Input at the threshold goes wholly into the soil; above it the rest drains.
  c = {50.0, 0.0, 0.0, 0.5, 0.5, 1.0, 0.0, 0.0};
  SoilInput(c, 5.0, 100.0, 5.0);
  EXPECT_DOUBLE_EQ(c.SB, 0.55);
  EXPECT_EQ(c.SUZ, 0.0);
  SoilInput(c, 7.0, 100.0, 5.0);
  EXPECT_DOUBLE_EQ(c.SB, 0.6);
  EXPECT_DOUBLE_EQ(c.SUZ, 2.0);
}

TEST(SoilCell, ReinfiltrationFromTheInterflowStorage) {
  // 6 of 10 mm of SHmax filled: 6 mm fit into the root zone, and the share
  // 0.6 of it times Rrueck 0.5 reinfiltrates.
  soil_cell c{50.0, 0.0, 6.0, 0.5, 0.5, 1.0, 0.0, 0.0};
  Reinfiltrate(c, 100.0, 10.0, 0.5);
  EXPECT_DOUBLE_EQ(c.SIF, 6.0 - 1.8);
  EXPECT_DOUBLE_EQ(c.SB, 0.5 + 0.018);
  // Less room than water: the room limits it.
  c = {50.0, 0.0, 6.0, 0.98, 0.5, 1.0, 0.0, 0.0};
  Reinfiltrate(c, 100.0, 10.0, 0.5);
  EXPECT_DOUBLE_EQ(c.SIF, 6.0 - 2.0 * 0.6 * 0.5);
  // SHmax at or below 0.001 mm switches it off.
  c = {50.0, 0.0, 6.0, 0.5, 0.5, 1.0, 0.0, 0.0};
  Reinfiltrate(c, 100.0, 0.001, 0.5);
  EXPECT_EQ(c.SIF, 6.0);
}

TEST(SoilCell, SaturatedFlowsShareOneDeficitFactor) {
  EXPECT_EQ(DeficitFactor(-5.0, 20.0), 1.0);
  EXPECT_DOUBLE_EQ(DeficitFactor(20.0, 20.0), std::exp(-1.0));
  soil_cell c{};
  c.SUZ = 100.0;
  EXPECT_DOUBLE_EQ(Drainage(c, 10.0, 0.5, DeficitFactor(-1.0, 20.0)), 5.0);
  c.SUZ = 2.0;
  EXPECT_DOUBLE_EQ(Drainage(c, 10.0, 0.5, 1.0), 2.0);
  EXPECT_EQ(c.SUZ, 0.0);
  // Snow storage of exactly 10 mm sends nothing off.
  EXPECT_EQ(SnowmeltRunoff(10.0, 10.0, 0.3), 0.0);
  EXPECT_DOUBLE_EQ(SnowmeltRunoff(10.0, 10.5, 0.3), 3.0);
  EXPECT_EQ(SnowmeltRunoff(0.0, 50.0, 0.3), 0.0);
}

TEST(SoilCell, AGlacierisedCellsSoilTakesTheGlacierFreeShare) {
  // 0.4 of the cell under ice: 10 mm of snow cover outflow (a depth over
  // the glacier-free share) give 6 mm over the cell; a canopy that kept 2
  // of the 10 mm over that share passes the glacier share's 10 mm on, so
  // the total throughfall 0.4 * 10 + 0.6 * 8 = 8.8 mm holds 4.8 for the soil.
  EXPECT_DOUBLE_EQ(GlacierFreeInput(10.0, 0.4, nullptr), 6.0);
  const double canopy_input = 10.0;
  EXPECT_NEAR(GlacierFreeInput(8.8, 0.4, &canopy_input), 4.8, 1e-12);
}

TEST(CodeRow, ColumnsServeTheCodesUpToTheNextListedOne) {
  // Codes 1..8 and 14, at indices 1..9.
  std::vector<int> map(15, 0);
  for (int code = 1; code <= 8; ++code) map[static_cast<size_t>(code)] = code;
  map[14] = 9;
  struct Case {
    const char* what;
    std::vector<int> listed;
    code_row::result last;
    std::vector<int> reading;  // indices that read a value
  };
  using result = code_row::result;
  const Case cases[] = {
      {"every code", {1, 2, 3, 4, 5, 6, 7, 8, 14}, result::complete, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"first and last", {1, 14}, result::complete, {1, 9}},
      {"first code above the smallest", {3, 8, 14}, result::complete, {1, 8, 9}},
      {"second code first", {2, 14}, result::complete, {1, 9}},
      {"largest alone", {14}, result::complete, {1}},
      {"short of the largest", {1, 8}, result::more, {1, 8}},
      {"no such code", {1, 9}, result::no_subbasin, {1}},
      {"code 0", {0}, result::no_subbasin, {}},
      {"above the largest", {1, 15}, result::no_subbasin, {1}},
      {"falling", {1, 5, 3}, result::not_rising, {1, 5}},
      {"repeated", {1, 5, 5}, result::not_rising, {1, 5}},
  };
  for (const Case& c : cases) {
    code_row row(map.data(), 9, 14);
    result last = result::more;
    for (int code : c.listed) {
      last = row.Add(code);
      if (last != result::more) break;
    }
    EXPECT_EQ(last, c.last) << c.what;
    std::vector<int> reading;
    for (int i = 1; i <= 9; ++i)
      if (row.Reads()[static_cast<size_t>(i)]) reading.push_back(i);
    EXPECT_EQ(reading, c.reading) << c.what;
  }
}

}  // namespace
}  // namespace velmo
