// Channel hydraulics: w-q tables, classes, sub-channels, Manning velocity, linear storages.
#include "routing/channel_hydraulics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmo {
namespace {

// Channel 2, 10, 10, 50, <depth>, 30, 20, 0.001, 10000, 100 with qmin 1,
// qmax 1000, 30 intervals, 4 sub-intervals and hourly steps.
wq_table ReferenceTable(double depth) {
  return BuildWqTable(ChannelValues({2, 10, 10, 50, depth, 30, 20, 0.001, 10000, 100}),
                      wq_settings{1, 1000, 30, 4}, 60, 1);
}

TEST(WqTable, ReferenceChannel) {
  struct Case {
    double depth;
    int sub_channels;
    int storage_elements;  // without the S entries of the line's end
    double share_at_qmax;
    double depth_at_qmax;  // main channel
  };
  const Case cases[] = {{10, 17, 136, 0.0, 5.53}, {1, 16, 128, 0.650, 2.58}};
  for (const Case& c : cases) {
    const wq_table t = ReferenceTable(c.depth);
    EXPECT_EQ(t.classes, 31);
    EXPECT_EQ(t.sub_channels, c.sub_channels) << c.depth;
    EXPECT_EQ(t.storage_elements, c.storage_elements) << c.depth;
    // Class 1 carries qmin and class n+1 qmax.
    EXPECT_NEAR(t.q_ls[1], 1.0, 1e-12);
    EXPECT_NEAR(t.q_ls[31], 1000.0, 1e-9);
    EXPECT_NEAR(t.q_mm[31], 3.6, 1e-12);
    EXPECT_NEAR(t.Q[31], 100.0, 1e-9);
    // Class 1: 0.06 m deep, 0.15 m/s, 18.41 h through 10 km, delay 4.
    EXPECT_NEAR(t.dm[1], 0.06, 0.005);
    EXPECT_NEAR(t.v[1], 0.15, 0.005);
    EXPECT_NEAR(t.t[1], 18.41, 0.005);
    EXPECT_EQ(t.delay[1], 4);
    EXPECT_EQ(t.delay[31], 0);
    EXPECT_NEAR(t.share[31], c.share_at_qmax, 0.0005) << c.depth;
    EXPECT_NEAR(t.dm[31], c.depth_at_qmax, 0.005) << c.depth;
  }
  // Below the bank the flood plain carries nothing and the mean velocity is
  // the main channel's.
  const wq_table deep = ReferenceTable(10);
  for (int j = 1; j <= deep.classes; ++j) {
    EXPECT_EQ(deep.share[j], 0.0);
    EXPECT_EQ(deep.vf[j], 0.0);
    EXPECT_DOUBLE_EQ(deep.v[j], deep.vm[j]);
  }
}

TEST(WqTable, ClassIndex) {
  const wq_table t = ReferenceTable(10);
  struct Case {
    double depth;
    int index;
  };
  const Case cases[] = {{0.5, 22},
                        {0.0, 1},
                        {-3.0, 1},
                        {1e6, 31},
                        {3.6, 31},
                        {0.0036, 1},
                        {std::numeric_limits<double>::quiet_NaN(), 1}};
  for (const Case& c : cases) EXPECT_EQ(ClassIndex(t, c.depth), c.index) << c.depth;

  // qmin = qmax: one class for every depth.
  const wq_table fixed = BuildWqTable(ChannelValues({3, 3, 10, 50, 5, 30, 20, 0.001, 10000, 50}),
                                      wq_settings{100, 100, 30, 2}, 60, 1);
  for (double depth : {0.0, 0.36, 1e9}) EXPECT_EQ(ClassIndex(fixed, depth), 1);
  EXPECT_EQ(fixed.sub_channels, 1);
  EXPECT_EQ(fixed.delay[1], 7);
}

TEST(WqTable, ClassLookUpAgreesWithTheFormula) {
  const wq_table tables[] = {
      ReferenceTable(10),
      BuildWqTable(ChannelValues({1, 1, 10, 50, 2, 30, 20, 0.001, 5000, 20}), wq_settings{0.5, 2000, 7.5, 3},
                   15, 2),
      BuildWqTable(ChannelValues({1, 1, 10, 50, 2, 30, 20, 0.001, 5000, 20}), wq_settings{3, 3.0001, 200, 1},
                   1440, 1),
  };
  for (const wq_table& t : tables) {
    auto formula = [&](double depth) {
      const double qs = std::max(1e-07, 16666.668 / t.dt * depth);
      return static_cast<int>(std::clamp(std::ceil(std::log(qs / t.qmin) / t.dlog), 1.0, double(t.classes)));
    };
    std::vector<double> depths;
    for (int j = 0; j <= t.classes + 1; ++j) {
      // Depths at every class end and right beside it.
      double end = t.qmin * std::exp(j * t.dlog) * t.dt / 16666.668;
      for (double f : {1.0, 1 - 1e-8, 1 + 1e-8, 1 - 1e-10, 1 + 1e-10}) depths.push_back(end * f);
      for (int k = 0; k < 4; ++k) {
        end = std::nextafter(end, 0.0);
        depths.push_back(end);
      }
    }
    for (int i = 0; i <= 20000; ++i) depths.push_back(1e-6 * std::pow(10.0, i * 1e-3 * 9));
    for (double depth : depths) ASSERT_EQ(ClassIndex(t, depth), formula(depth)) << depth << " dt " << t.dt;
  }
}

TEST(WqTable, RoughFloodPlainMakesHighDischargesSlower) {
  // A narrow main channel beside a wide, very rough flood plain: above the
  // bank the flow time rises, so the longest delay is not that of class 1.
  const wq_table t = BuildWqTable(ChannelValues({1, 1, 2, 2000, 0.2, 30, 1, 0.001, 10000, 100}),
                                  wq_settings{1, 1000, 10, 2}, 60, 1);
  const int longest = *std::max_element(t.delay.begin() + 1, t.delay.begin() + t.classes + 1);
  EXPECT_GT(longest, t.delay[1]);
  EXPECT_EQ(t.max_delay, longest);
  EXPECT_EQ(t.storage_elements, (2 + longest) * t.sub_channels);
}

TEST(WqTable, AbsurdChannelIsRefusedBeforeAllocation) {
  // 10^9 m at the slowest flow: the delay line would exceed every memory.
  const wq_table t = BuildWqTable(ChannelValues({1, 1, 10, 50, 5, 30, 20, 0.001, 1e9, 1e-6}),
                                  wq_settings{0.001, 1000, 30, 100}, 60, 1);
  EXPECT_TRUE(t.oversized);
}

TEST(WqTable, TableOfNoFiniteValuesIsRefusedBeforeItsDelays) {
  // A subnormal qmin makes qmax / qmin infinite and every class a NaN; huge
  // channel values overflow the discharge.
  const channel_values plain = ChannelValues({1, 1, 10, 50, 5, 30, 20, 0.001, 1000, 10});
  const struct {
    channel_values channel;
    wq_settings settings;
  } cases[] = {
      {plain, wq_settings{1e-310, 1000, 30, 2}},
      {plain, wq_settings{4.9e-324, 1000, 30, 2}},
      {ChannelValues({1, 1, 1e-300, 50, 5, 30, 20, 0.001, 1000, 1e308}), wq_settings{1, 1e300, 30, 2}},
  };
  for (const auto& c : cases) {
    const wq_table t = BuildWqTable(c.channel, c.settings, 60, 1);
    EXPECT_TRUE(t.oversized) << c.settings.qmin << " " << c.settings.qmax;
    EXPECT_TRUE(t.class_bounds.empty());
  }
  EXPECT_FALSE(BuildWqTable(plain, wq_settings{0.001, 1000, 30, 2}, 60, 1).oversized);
}

TEST(ChannelValues, ValuesOfZeroOrLessAreReplaced) {
  const channel_values c = ChannelValues({0, -1, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(c.storage_main, 0.01);
  EXPECT_EQ(c.storage_flood, 0.01);
  EXPECT_EQ(c.width_main, 0.1);
  EXPECT_EQ(c.width_flood, 0.1);
  EXPECT_EQ(c.depth_main, 0.1);
  EXPECT_EQ(c.manning_main, 1.0);
  EXPECT_EQ(c.manning_flood, 1.0);
  EXPECT_EQ(c.slope_root, 0.0316);
  EXPECT_EQ(c.length, 1.0);
  EXPECT_EQ(c.area, 1e-06);
  EXPECT_DOUBLE_EQ(ChannelValues({1, 1, 1, 1, 1, 1, 1, 0.0004, 1, 1}).slope_root, 0.02);
}

TEST(Manning, VelocityIsAFixedPointOfTheFormula) {
  // 10 m3/s in a 10 m wide channel, n = 1/30, slope 0.001.
  const manning_result r = ManningVelocity(10, 10, 1.0, 30, std::sqrt(0.001));
  const double area = 10 / r.velocity;
  const double depth = area / 10;
  const double formula = std::pow(area / (2 * depth + 10), kManningExponent) * 30 * std::sqrt(0.001);
  EXPECT_NEAR(r.velocity, formula, kManningTolerance);
  EXPECT_NEAR(r.depth, depth, 0.01);
  EXPECT_EQ(ManningVelocity(0, 10, 1.0, 30, 0.03).velocity, 0.0);
}

TEST(SubChannels, SpreadOfTheFlowTimesWithinOneStep) {
  struct Case {
    double slowest, fastest, dt;
    int count;
  };
  const Case cases[] = {{18.41, 1.54, 60, 17}, {3.0, 2.5, 60, 1}, {3.0, 1.0, 60, 2},
                        {3.0, 1.0, 30, 4},     {2.0, 3.0, 60, 1}, {std::nan(""), 1.0, 60, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(SubChannelCount(c.slowest, c.fastest, c.dt), c.count) << c.slowest << " " << c.fastest;
}

TEST(Conversions, DepthAndDischarge) {
  EXPECT_NEAR(DepthToDischarge(3.6, 1.0, 60), 1.0, 1e-8);  // 3.6 mm per hour on 1 km2
  EXPECT_NEAR(DischargeToDepth(1.0, 1.0, 60), 3.6, 1e-12);
  EXPECT_NEAR(DischargeToDepth(2.0, 50.0, 30), 0.072, 1e-12);
  EXPECT_NEAR(StorageConstant(RecessionFactor(3.0)), 3.0, 1e-12);
  EXPECT_EQ(StorageConstant(1.0), 0.0);
  EXPECT_EQ(StorageConstant(0.0), -9999.0);
}

TEST(LinearStore, EquilibriumAndRecession) {
  const double rh = RecessionFactor(3), rv = RecessionFactor(5);
  // An outflow equal to the inflow stays, whatever the shares.
  EXPECT_NEAR(LinearStoreOutflow(2.0, 0.3, 2.0, 0.3, rh, rv), 2.0, 1e-15);
  // From empty storages the first outflow is the unretained part.
  EXPECT_NEAR(LinearStoreOutflow(1.0, 0.0, 0.0, 0.0, rh, rv), 1 - rh, 1e-15);
  EXPECT_NEAR(LinearStoreOutflow(1.0, 1.0, 0.0, 1.0, rh, rv), 1 - rv, 1e-15);
  // Without inflow each part recedes by its own factor.
  EXPECT_NEAR(LinearStoreOutflow(0.0, 0.5, 4.0, 0.25, rh, rv), rh * 3.0 + rv * 1.0, 1e-15);
}

}  // namespace
}  // namespace velmo
