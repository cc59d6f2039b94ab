// Re-splitting a cell's snow storages to a new total, off and on its glacier.
#include "routing/snow_split.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(SnowSplit, KeepsTheProportionOrTakesTheDefaultPercentage) {
  struct Case {
    double total;
    snow_pair current;
    double percentage;
    snow_pair expected;
  };
  const Case cases[] = {
      {100, {10, 30}, 10, {25, 75}},
      {80, {5, 0}, 10, {8, 72}},  // no solid snow: the default, not the
                                  // all-liquid share
      {60, {0, 40}, 10, {0, 60}},
      {50, {0, 0}, 0, {0, 50}},
      {0, {10, 30}, 10, {0, 0}},
  };
  for (const Case& c : cases) {
    const snow_pair split = SplitSnowTotal(c.total, c.current, c.percentage);
    EXPECT_DOUBLE_EQ(split.liquid, c.expected.liquid) << c.total << " " << c.current.liquid;
    EXPECT_DOUBLE_EQ(split.solid, c.expected.solid) << c.total << " " << c.current.liquid;
    // The storages hold the new total, no more and no less.
    EXPECT_NEAR(split.liquid + split.solid, c.total, 1e-12);
  }
}

TEST(SnowSplit, GlacierShareDecidesWhichPairKeepsSnow) {
  const cell_snow current{{10, 30}, {5, 15}, 20};
  struct Case {
    double glacierized;
    cell_snow expected;
  };
  const Case cases[] = {
      {1.0, {{0, 0}, {25, 75}, 100}},
      {0.0, {{25, 75}, {0, 0}, 0}},
      // Each pair is a depth over its own part of the cell: both hold the total.
      {0.4, {{25, 75}, {25, 75}, 100}},
  };
  for (const Case& c : cases) {
    const cell_snow split = SplitSnowTotalOverGlacier(100, current, c.glacierized, 10);
    EXPECT_DOUBLE_EQ(split.off_glacier.liquid, c.expected.off_glacier.liquid) << c.glacierized;
    EXPECT_DOUBLE_EQ(split.off_glacier.solid, c.expected.off_glacier.solid) << c.glacierized;
    EXPECT_DOUBLE_EQ(split.on_glacier.liquid, c.expected.on_glacier.liquid) << c.glacierized;
    EXPECT_DOUBLE_EQ(split.on_glacier.solid, c.expected.on_glacier.solid) << c.glacierized;
    EXPECT_DOUBLE_EQ(split.glacier_total, c.expected.glacier_total) << c.glacierized;
  }
}

}  // namespace
}  // namespace velmo
