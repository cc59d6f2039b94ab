// The three-segment altitude fit, its trend plane and the value at a point,
// against hand-computed lines.
#include "meteo/regression.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace velmo {
namespace {

constexpr double kNodata = 9999.0;
constexpr double kMissing = -kNodata - 1.0;
constexpr double kDomainNodata = -9999.0;

// Stations counted from 1, at (x, y) = (0, 0) unless given.
struct station_set {
  std::vector<double> z{0.0}, v{0.0}, x{0.0}, y{0.0};
  station_set& Add(double altitude, double value, double sx = 0.0, double sy = 0.0) {
    z.push_back(altitude);
    v.push_back(value);
    x.push_back(sx);
    y.push_back(sy);
    return *this;
  }
  regression_stations View() const {
    return {v.data(), z.data(), x.data(), y.data(), static_cast<int>(z.size()) - 1};
  }
};

regression_fit_parameters Params(double lower, double upper, double tolerance, int overlap, double cluster,
                                 double upper_rate = -9999.0) {
  return {lower, upper, tolerance, overlap, cluster, upper_rate};
}

double At(const station_regression& r, double z) {
  return RegressionValue(r, kNodata, kDomainNodata, 0, 0, z);
}

// Slope of the least-squares line on raw sums, for the groups of a few
// stations the cases below use.
double RawSlope(const std::vector<std::pair<double, double>>& points) {
  double n = 0, sz = 0, sv = 0, szz = 0, szv = 0;
  for (auto [z, v] : points) {
    n += 1;
    sz += z;
    sv += v;
    szz += z * z;
    szv += z * v;
  }
  return (szv - sv * sz / n) / (szz - sz * sz / n);
}

TEST(StationRegression, ThreeSegmentsWithAFixedInversionLayer) {
  station_set s;
  s.Add(300, 12).Add(500, 11).Add(700, 10).Add(1200, 9).Add(1600, 6).Add(2000, 4);
  const station_regression r = ComputeStationRegression(s.View(), Params(800, 1500, 100, 0, 50), kNodata);
  EXPECT_NEAR(r.a[1], 13.5, 1e-9);
  EXPECT_NEAR(r.b[1], -0.005, 1e-12);
  EXPECT_EQ(r.h1, 800.0);
  EXPECT_EQ(r.h2, 1500.0);
  EXPECT_NEAR(r.a[2], 12.404762, 1e-6);
  EXPECT_NEAR(r.b[2], -0.0036310, 1e-7);
  EXPECT_NEAR(r.a[3], 16.333333, 1e-6);
  EXPECT_NEAR(r.b[3], -0.00625, 1e-12);
  EXPECT_NEAR(At(r, 1000), 8.773810, 1e-6);
  EXPECT_NEAR(At(r, 1800), 5.083333, 1e-6);
  // The middle segment joins both lines.
  EXPECT_NEAR(At(r, 800), 9.5, 1e-9);
  EXPECT_NEAR(At(r, 1500), 16.333333333 - 0.00625 * 1500, 1e-9);
  // Six stations in a vertical line: no trend.
  EXPECT_LT(r.e, -kNodata);

  const station_regression upper =
      ComputeStationRegression(s.View(), Params(800, 1500, 100, 0, 50, -0.006), kNodata);
  EXPECT_NEAR(upper.a[3], 15.958333, 1e-6);
  EXPECT_EQ(upper.b[3], -0.006);
  EXPECT_NEAR(At(upper, 1800), 5.158333, 1e-6);
  EXPECT_NEAR(At(upper, 1000), At(r, 1000), 1e-12);
}

TEST(StationRegression, FewStationsGiveSimpleLines) {
  struct Case {
    const char* label;
    station_set stations;
    regression_fit_parameters params;
    std::vector<std::pair<double, double>> expected;  // (z, value)
  };
  const regression_fit_parameters base = Params(800, 1500, 100, 0, 50);
  const Case cases[] = {
      {"only below L: the lower line from 0 m, a1 below",
       station_set{}.Add(300, 12).Add(500, 11).Add(700, 10),
       base,
       {{-50, 13.5}, {0, 13.5}, {500, 11.0}, {1000, 8.5}, {2000, 3.5}}},
      {"a cluster below L is one point",
       station_set{}.Add(600, 5).Add(610, 7),
       base,
       {{-100, 6.0}, {600, 6.0}, {3000, 6.0}}},
      {"one station each side: the line through both",
       station_set{}.Add(600, 8).Add(1000, 6),
       base,
       {{-10, 11.0}, {0, 11.0}, {600, 8.0}, {1000, 6.0}, {2000, 1.0}}},
      {"only above L: the upper line everywhere from 0 m",
       station_set{}.Add(1000, 9).Add(1400, 7),
       base,
       {{-10, 14.0}, {500, 11.5}, {1400, 7.0}}},
      {"one station: constant", station_set{}.Add(1200, 4), base, {{0, 4.0}, {3000, 4.0}}},
      {"the high group takes its neighbour below L while it has one member",
       station_set{}.Add(300, 12).Add(500, 11).Add(700, 10).Add(1200, 9),
       Params(800, 1500, 200, 0, 50),
       {{500, 11.0}, {700, 10.0}, {1000, 9.4}, {1200, 9.0}}},
      {"a cluster and a single point far enough apart: one line",
       station_set{}.Add(600, 5).Add(610, 7).Add(700, -10000).Add(900, 4),
       base,
       {{605, 6.0}, {900, 4.0}}},
      {"a cluster and a single point too close: the low point alone",
       station_set{}.Add(600, 5).Add(610, 7).Add(700, -10000).Add(900, 4),
       Params(800, 1500, 100, 0, 300),
       {{605, 6.0}, {900, 6.0}}},
  };
  for (const Case& c : cases) {
    const station_regression r = ComputeStationRegression(c.stations.View(), c.params, kNodata);
    for (auto [z, value] : c.expected) EXPECT_NEAR(At(r, z), value, 1e-9) << c.label << " at z = " << z;
  }
}

TEST(StationRegression, OverlapPutsTheStationsNextToLIntoBothGroups) {
  station_set s;
  s.Add(300, 12).Add(700, 10).Add(1200, 9).Add(1600, 6).Add(900, -10000);
  const station_regression without =
      ComputeStationRegression(s.View(), Params(800, 2500, 5000, 0, 50), kNodata);
  const station_regression with = ComputeStationRegression(s.View(), Params(800, 2500, 5000, 1, 50), kNodata);
  // Without overlap each group has two members and keeps them; the invalid
  // station at 900 m is the neighbour above L, so 1200 m joins nothing.
  EXPECT_NEAR(without.b[3], RawSlope({{1200, 9}, {1600, 6}}), 1e-12);
  EXPECT_NEAR(with.b[3], RawSlope({{700, 10}, {1200, 9}, {1600, 6}}), 1e-12);
  // The lines meet within the wide tolerance: the lower line holds from 0 m.
  EXPECT_NEAR(without.b[2], RawSlope({{300, 12}, {700, 10}}), 1e-12);
  EXPECT_NEAR(with.b[2], RawSlope({{300, 12}, {700, 10}}), 1e-12);
}

TEST(StationRegression, DegenerateFitsNeverDivideByZero) {
  // A single low station exactly at L: the lower line continues the upper.
  const station_regression at_l = ComputeStationRegression(
      station_set{}.Add(800, 9.5).Add(1000, -10000).Add(1200, 8).Add(1600, 6).Add(2000, 4).View(),
      Params(800, 1500, 100, 0, 50), kNodata);
  ASSERT_FALSE(IsRegressionMissing(at_l, kNodata));
  const double slope = RawSlope({{1200, 8}, {1600, 6}, {2000, 4}});
  EXPECT_NEAR(at_l.b[2], slope, 1e-12);
  EXPECT_NEAR(At(at_l, 1400), 8 + slope * 200, 1e-9);

  // U = L with lines meeting far away: the layer has no thickness and the
  // lower line goes on to it.
  station_set far;
  far.Add(300, 12).Add(500, 11).Add(700, 10).Add(1200, 9).Add(1600, 6).Add(2000, 4);
  const station_regression thin = ComputeStationRegression(far.View(), Params(800, 800, 100, 0, 50), kNodata);
  ASSERT_FALSE(IsRegressionMissing(thin, kNodata));
  EXPECT_EQ(thin.b[2], 0.0);
  EXPECT_NEAR(At(thin, 800), 9.5, 1e-12);
  EXPECT_NEAR(At(thin, 1000), 16.3333333333 - 6.25, 1e-9);

  // A high group at one altitude (no cluster range) has no line: the
  // regression is missing rather than carrying a slope of -N - 1.
  const station_regression flat =
      ComputeStationRegression(station_set{}.Add(300, 12).Add(500, 11).Add(1500, 6).Add(1500, 7).View(),
                               Params(800, 1500, 100, 0, 0), kNodata);
  EXPECT_TRUE(IsRegressionMissing(flat, kNodata));
  EXPECT_EQ(At(flat, 2000), kMissing);

  // No valid station at all.
  const station_regression none =
      ComputeStationRegression(station_set{}.Add(500, -10000).View(), Params(800, 1500, 100, 0, 50), kNodata);
  EXPECT_TRUE(IsRegressionMissing(none, kNodata));
  EXPECT_EQ(RegressionValue(none, kNodata, kDomainNodata, 1, 1, 100), kMissing);
}

TEST(StationRegression, TrendPlaneAtMapOffsets) {
  // Values 10 - 0.005 z + 0.001 dx - 0.002 dy.
  auto value = [](double dx, double dy, double z) { return 10 - 0.005 * z + 0.001 * dx - 0.002 * dy; };
  for (auto [x0, y0] : {std::pair{0.0, 0.0}, std::pair{500000.0, 5200000.0}}) {
    station_set s;
    for (auto [dx, dy, z] :
         {std::tuple{0.0, 0.0, 100.0}, {1000.0, 0.0, 300.0}, {0.0, 1000.0, 300.0}, {1000.0, 1000.0, 100.0}})
      s.Add(z, value(dx, dy, z), x0 + dx, y0 + dy);
    const station_regression r = ComputeStationRegression(s.View(), Params(1000, 1500, 100, 0, 50), kNodata);
    ASSERT_TRUE(HasTrend(r, kNodata)) << x0;
    EXPECT_NEAR(RegressionValue(r, kNodata, kDomainNodata, x0 + 500, y0 + 500, 1000), 4.5, 1e-9) << x0;
    EXPECT_NEAR(RegressionValue(r, kNodata, kDomainNodata, x0 + 3000, y0 - 2000, 50), value(3000, -2000, 50),
                1e-9)
        << x0;
    // A point without location gets the regression without trend.
    EXPECT_EQ(RegressionValue(r, kNodata, kDomainNodata, kDomainNodata, y0, 1000), SegmentValue(r, 1000));

    // Three stations: no trend.
    station_set three;
    for (int k = 1; k <= 3; ++k) three.Add(s.z[k], s.v[k], s.x[k], s.y[k]);
    EXPECT_FALSE(
        HasTrend(ComputeStationRegression(three.View(), Params(1000, 1500, 100, 0, 50), kNodata), kNodata));
  }
}

TEST(TrendPlane, PointsOnOneLineHaveNoPlane) {
  trend_plane plane;
  EXPECT_FALSE(FitTrendPlane({{0, 0, 1}, {100, 100, 2}, {300, 300, 4}, {700, 700, 5}}, plane));
  EXPECT_FALSE(FitTrendPlane(
      {{5e5, 5.2e6, 1}, {5e5, 5.2e6 + 10, 2}, {5e5, 5.2e6 + 30, 3}, {5e5, 5.2e6 + 70, 1}}, plane));
  ASSERT_TRUE(FitTrendPlane({{0, 0, 1}, {100, 0, 2}, {0, 100, 3}, {100, 100, 4.5}}, plane));
  // The least-squares plane of a saddle: the mean and the two edge slopes.
  EXPECT_NEAR(plane.e, 0.875, 1e-12);
  EXPECT_NEAR(plane.f, 0.0125, 1e-12);
  EXPECT_NEAR(plane.g, 0.0225, 1e-12);
}

TEST(Determinant3, ColumnsOfAKnownMatrix) {
  EXPECT_EQ(Determinant3({2, 0, 1}, {1, 3, 2}, {1, 1, 4}), 18.0);
  EXPECT_EQ(Determinant3({1, 2, 3}, {4, 5, 6}, {7, 8, 9}), 0.0);
}

TEST(RegressionValue, RecordsInFileOrderAndMissingCoefficients) {
  const station_regression r =
      RegressionFromRecord({10, -0.005, 500, 9, -0.003, 1500, 14, -0.006, -10000, 0, 0});
  EXPECT_EQ(At(r, 100), 10 - 0.5);
  EXPECT_EQ(At(r, 1000), 9 - 3.0);
  EXPECT_EQ(At(r, 2000), 14 - 12.0);
  EXPECT_FALSE(HasTrend(r, kNodata));
  // a1 = -9999 with N = 9999 is a value; -10000 is missing, and so is any
  // segment with a missing slope.
  EXPECT_FALSE(IsRegressionMissing(RegressionFromRecord({-9999, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), kNodata));
  EXPECT_TRUE(IsRegressionMissing(RegressionFromRecord({-10000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), kNodata));
  EXPECT_TRUE(IsRegressionMissing(RegressionFromRecord({10, 0, 0, 0, 0, 0, 0, -10000, 0, 0, 0}), kNodata));
}

}  // namespace
}  // namespace velmo
