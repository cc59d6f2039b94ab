// Threshold abstraction, connection flow and the level-volume table of a lake, against hand-worked numbers.
#include "routing/storage_processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "physics/units.h"
#include "routing/level_volume.h"

namespace velmo {
namespace {

TEST(ThresholdAbstraction, Amounts) {
  struct Case {
    double base, taken, threshold, fraction, maximum, amount;
  };
  const Case cases[] = {
      {10, 0, 2, 0.5, 3, 3},     // the maximum
      {10, 7, 2, 0.5, 3, 1},     // the threshold stays in place
      {10, 0, 12, 0.5, 3, 0},    // below the threshold
      {4, 1, 1, 0.25, 5, 0.75},  // the fraction
      {5, 0, 0, 1, 100, 5},      // everything up to the maximum
      {5, 0, 0, 1, 0, 0},        // a maximum of 0 takes nothing
      {5, 0, 0, 1, -2, 0},       // nor does a negative one
      {5, 6, 0, 1, 10, 0},       // nothing left
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(ThresholdAbstraction(c.base, c.taken, c.threshold, c.fraction, c.maximum), c.amount)
        << c.base << " " << c.taken << " " << c.threshold << " " << c.fraction << " " << c.maximum;
  // Discharges as depths: 2 m3/s over 25 km2 in 60 minutes.
  EXPECT_NEAR(DischargeToDepth(2, 25, 60), 0.288, 1e-15);
}

TEST(ConnectionFlow, LevelsOnBothSides) {
  // Bottom 100 m, 1000 m long, 10 m wide, Strickler 30.
  auto flow = [](double level, double target) { return ConnectionFlow(level, target, 100, 1000, 10, 30); };
  EXPECT_NEAR(flow(101, 100.5), 5.94044, 5e-6);
  EXPECT_NEAR(flow(100.2, 100.5), -1.53593, 5e-6);    // back from the other side
  EXPECT_NEAR(flow(101, 99), flow(101, 100), 1e-12);  // a target below the bottom: the bottom's slope
  EXPECT_NEAR(flow(99, 101), -flow(101, 99), 1e-12);
  EXPECT_EQ(flow(99, 98), 0.0);
  EXPECT_EQ(flow(100.5, 100.5), 0.0);
}

TEST(LevelVolumeTable, ThreeCells) {
  // Cells of 100 m at 500.0, 500.5 and 501.2 m, full at 503 m.
  const level_volume_table table = BuildLevelVolumeTable({500.5, 500.0, 501.2}, 503.0, 1e4);
  ASSERT_EQ(table.Entries(), 301);
  EXPECT_DOUBLE_EQ(table.level.front(), 503.0);
  EXPECT_NEAR(table.volume.front(), 73000, 1e-6);
  EXPECT_DOUBLE_EQ(table.level.back(), 500.0);
  EXPECT_EQ(table.volume.back(), 0.0);
  EXPECT_NEAR(table.level[1], 502.99, 1e-12);
  EXPECT_NEAR(LevelToVolume(table, 501.555), 29650, 1e-6);
  EXPECT_NEAR(VolumeToLevel(table, 43000), 502.0, 1e-9);
  EXPECT_NEAR(VolumeToLevel(table, 0), 500.0, 1e-12);
  // Beyond the ends the end intervals go on (three cells: 300 m3 per cm).
  EXPECT_NEAR(VolumeToLevel(table, 76000), 503.1, 1e-9);
  EXPECT_NEAR(LevelToVolume(table, 503.1), 76000, 1e-6);
}

TEST(LevelVolumeTable, StepsOfTheDepthBands) {
  struct Case {
    double depth;
    int entries;
  };
  // 16 m: 400 steps of 1 cm, 500 of 2 cm, 40 of 5 cm and the bottom; a
  // lake shallower than a centimetre keeps one step.
  for (const Case& c : {Case{16.0, 941}, Case{3.0, 301}, Case{14.0, 901}, Case{0.004, 2}, Case{4.3, 416}}) {
    const level_volume_table table = BuildLevelVolumeTable({500.0}, 500.0 + c.depth, 1.0);
    EXPECT_EQ(table.Entries(), c.entries) << c.depth;
    for (int i = 1; i < table.Entries(); ++i)
      ASSERT_LT(table.level[i], table.level[i - 1]) << c.depth << " " << i;
  }
  const level_volume_table deep = BuildLevelVolumeTable({500.0}, 516.0, 1.0);
  EXPECT_NEAR(deep.level[400], 512.0, 1e-9);
  EXPECT_NEAR(deep.level[900], 502.0, 1e-9);
  EXPECT_NEAR(deep.level[939], 500.05, 1e-9);
}

TEST(LevelVolumeTable, TheLevelOfAVolumePondsThatVolume) {
  // Cells of 100 m; the ponding below the level found for a volume holds
  // that volume, and the volume of that level is the volume again, with
  // beds between the table's levels in each depth band, a bed at the top
  // (flooded only above it) and above it.
  struct Case {
    std::vector<double> beds;
    double top;
  };
  const Case cases[] = {
      {{500.0, 500.437, 501.2063, 502.99999}, 503.0},        // 1 cm steps
      {{500.0, 500.5, 501.2}, 503.0},                        // beds on levels
      {{490.0, 491.234, 497.1111, 500.0, 503.3333}, 505.0},  // 5, 2 and 1 cm steps
      {{500.0, 500.7777, 501.5}, 501.5},                     // a bed at the top
      {{500.0, 501.0, 501.5051}, 501.5},                     // a bed above it
      {{500.0}, 500.0},                                      // no depth
      {{500.0, 500.00000000001, 500.123}, 500.5},            // two beds a hair apart
  };
  constexpr double kCellArea = 1e4;  // m2
  // Up to a metre above the table the look-ups extrapolate, which costs a
  // few digits.
  constexpr double kRoundOff = 1e-11;
  for (const Case& c : cases) {
    const level_volume_table table = BuildLevelVolumeTable(c.beds, c.top, kCellArea);
    for (int i = 1; i < table.Entries(); ++i)
      ASSERT_LT(table.level[i], table.level[i - 1]) << c.top << " " << i;
    const double highest = std::max(c.top, *std::max_element(c.beds.begin(), c.beds.end()));
    const double full = kCellArea * static_cast<double>(c.beds.size()) * (highest + 1.0 - c.beds.front());
    constexpr int kVolumes = 5000;
    for (int k = 0; k <= kVolumes; ++k) {
      const double volume = full * k / kVolumes;
      const double level = VolumeToLevel(table, volume);
      double ponded = 0.0;
      for (double bed : c.beds) ponded += kCellArea * std::max(0.0, level - bed);
      ASSERT_NEAR(ponded, volume, kRoundOff * full) << c.top << ": " << volume << " m3 at " << level << " m";
      ASSERT_NEAR(LevelToVolume(table, level), volume, kRoundOff * full) << c.top << ": " << level << " m";
    }
  }
}

}  // namespace
}  // namespace velmo
