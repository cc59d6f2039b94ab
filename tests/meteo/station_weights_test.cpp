// Distance weighting, Thiessen, lapse rate, rotation, anisotropy checks and
// mesh orientation against hand-computed numbers.
#include "meteo/station_weights.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace velmo {
namespace {

constexpr double kN = 9999.0;  // nodata value N of the cases
constexpr double kMissing = -10000.0;

// Stations 1..n from (x, y, value) triples, altitude 0 unless given.
struct stations {
  std::vector<double> x{0.0}, y{0.0}, z{0.0}, v{0.0};
  stations(std::initializer_list<std::array<double, 3>> list) {
    for (const auto& s : list) Add(s[0], s[1], s[2], 0.0);
  }
  void Add(double xs, double ys, double value, double altitude) {
    x.push_back(xs);
    y.push_back(ys);
    v.push_back(value);
    z.push_back(altitude);
  }
  station_arrays arrays() const {
    return {x.data(), y.data(), z.data(), v.data(), static_cast<int>(x.size()) - 1};
  }
};

TEST(InverseDistance, HandComputedCases) {
  struct Case {
    const char* what;
    stations s;
    double w;
    double max_distance;  // as read
    double expected;
  };
  const Case cases[] = {
      {"w = 2", {{1000, 0, 10}, {2000, 0, 20}}, 2, 1e6, 12.0},
      {"w = 1", {{1000, 0, 10}, {2000, 0, 20}}, 1, 1e6, 13.0 + 1.0 / 3.0},
      {"w = 3", {{1000, 0, 10}, {2000, 0, 20}}, 3, 1e6, 100.0 / 9.0},
      {"w = 1, a station on the point counts at distance 1",
       {{0, 0, 5}, {1000, 0, 15}},
       1,
       1e6,
       5.00999000999},
      {"w = 3, a station on the point counts at distance 1",
       {{0, 0, 5}, {1000, 0, 15}},
       3,
       1e6,
       (5.0 + 15e-9) / (1.0 + 1e-9)},
      {"w = 2, the station beyond the maximum distance weighs 0",
       {{9000, 0, 10}, {11000, 0, 20}},
       2,
       10000,
       10.0},
      {"a missing station is left out",
       {{1000, 0, 10}, {0, 1414.2, 30}, {500, 0, -10001}},
       2,
       1e6,
       (10e-6 + 30 / (1414.2 * 1414.2)) / (1e-6 + 1 / (1414.2 * 1414.2))},
      {"nothing in reach", {{9000, 0, 10}}, 2, 1000, kMissing},
  };
  for (const Case& c : cases) {
    const double stored = c.w == 2.0 ? c.max_distance * c.max_distance : c.max_distance;
    EXPECT_NEAR(InverseDistance(c.s.arrays(), 0, 0, WeightCode(c.w), c.w, stored, kN), c.expected, 1e-9)
        << c.what;
  }
  // The rounded number for the missing-station case.
  EXPECT_NEAR(InverseDistance(cases[6].s.arrays(), 0, 0, 2000, 2, 1e12, kN), 16.6667, 1e-4);
}

TEST(InverseDistance, WeightsOfEveryStation) {
  const stations s{{9000, 0, 10}, {11000, 0, 20}, {1, 0, -20000}};
  std::vector<double> weights(4, -1.0);
  InverseDistance(s.arrays(), 0, 0, kSquareWeightCode, 2, 1e8, kN, weights.data());
  EXPECT_DOUBLE_EQ(weights[1], 1.0 / 81000000.0);
  EXPECT_EQ(weights[2], 0.0);
  EXPECT_EQ(weights[3], 0.0);  // missing value
}

TEST(InverseDistance, AnisotropyStretchesAlongTheMainAxis) {
  // Stations 1000 m east (10) and north (20); in the rotated frame of slope
  // 0 the east offset shrinks by the ratio.
  const stations s{{1000, 0, 10}, {0, 1000, 20}};
  EXPECT_NEAR(AnisotropicInverseDistance(s.arrays(), 0, 0, 0.5, kSquareWeightCode, 2, 1e12, kN), 12.0, 1e-12);
  EXPECT_NEAR(AnisotropicInverseDistance(s.arrays(), 0, 0, 1.0, kSquareWeightCode, 2, 1e12, kN), 15.0, 1e-12);
}

TEST(Thiessen, NearestValidStationTheLaterOnATie) {
  const stations s{{1000, 0, 1}, {0, 1000, 2}, {-500, 0, -10001}};
  EXPECT_EQ(Thiessen(s.arrays(), 0, 0, kN), 2.0);  // tie: the later station
  EXPECT_EQ(Thiessen(s.arrays(), 10, 0, kN), 1.0);
  const stations none{{0, 0, -10001}};
  EXPECT_EQ(Thiessen(none.arrays(), 0, 0, kN), kMissing);
}

TEST(ThiessenLapseRate, FiveCasesOfTheInversion) {
  struct Case {
    double station_altitude, altitude, height, upper, expected;
  };
  const Case cases[] = {
      {500, 800, 1000, 0.002, 8.05},
      {500, 1500, 1000, 0.002, 7.75},
      {1500, 2000, 1000, 0.002, 11.0},
      {1500, 500, 1000, 0.002, 12.25},
      {500, 1500, kNoInversion, kNoInversion, 3.5},
  };
  for (const Case& c : cases) {
    stations s{};
    s.Add(0, 0, 10, c.station_altitude);
    EXPECT_NEAR(ThiessenLapseRate(s.arrays(), 0, 0, c.altitude, -0.0065, c.height, c.upper, false, kN),
                c.expected, 1e-12)
        << c.station_altitude << " -> " << c.altitude;
  }
}

TEST(ThiessenLapseRate, EarlierStationOnATieAndPType) {
  stations s{};
  s.Add(1000, 0, 10, 0);
  s.Add(-1000, 0, 0, 1000);
  s.Add(0, 50, -10001, 0);  // nearest, but missing
  EXPECT_NEAR(ThiessenLapseRate(s.arrays(), 0, 0, 100, -0.0065, kNoInversion, kNoInversion, false, kN), 9.35,
              1e-12);
  // P-type: a nearest value of exactly 0 stays 0 at any altitude.
  EXPECT_EQ(ThiessenLapseRate(s.arrays(), -900, 0, 3000, -0.0065, kNoInversion, kNoInversion, true, kN), 0.0);
  EXPECT_NEAR(ThiessenLapseRate(s.arrays(), -900, 0, 3000, -0.0065, kNoInversion, kNoInversion, false, kN),
              -13.0, 1e-12);
}

TEST(Rotation, TurnsAboutTheCornerByMinusTheSlope) {
  double x = 0, y = 0;
  RotatePoint(110, 200, 100, 200, std::numbers::pi / 2, x, y);
  EXPECT_NEAR(x, 100, 1e-9);
  EXPECT_NEAR(y, 190, 1e-9);
  RotatePoint(100, 210, 100, 200, std::numbers::pi / 2, x, y);  // straight north: dx = 0
  EXPECT_NEAR(x, 110, 1e-9);
  EXPECT_NEAR(y, 200, 1e-9);
}

TEST(Anisotropy, RangeChecks) {
  EXPECT_EQ(CheckAnisotropyRange(0.0, 1.0), anisotropy_fault::kNone);
  EXPECT_EQ(CheckAnisotropyRange(-kMaxAnisotropySlope, 0.1), anisotropy_fault::kNone);
  EXPECT_EQ(CheckAnisotropyRange(120 * kRadiansPerDegree, 1.0), anisotropy_fault::kSlope);
  EXPECT_EQ(CheckAnisotropyRange(0.0, 1.2), anisotropy_fault::kRatio);
  EXPECT_EQ(CheckAnisotropyRange(0.0, 0.0), anisotropy_fault::kRatio);
  EXPECT_EQ(CheckAnisotropyRange(0.0, std::nan("")), anisotropy_fault::kRatio);
  EXPECT_EQ(WeightCode(2.0), kSquareWeightCode);
  EXPECT_EQ(WeightCode(1.0), kLinearWeightCode);
  EXPECT_EQ(WeightCode(2.5), 2500);
}

TEST(MeshOrientation, AxesAndATurnedMesh) {
  // A 4 x 3 mesh of 1000 m (1100 m northward), then the same turned by 30
  // degrees about the origin.
  std::vector<double> x{0.0}, y{0.0}, tx{0.0}, ty{0.0};
  const double turn = 30 * std::numbers::pi / 180;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 4; ++i) {
      const double px = 1000.0 * i, py = 1100.0 * j;
      x.push_back(px);
      y.push_back(py);
      tx.push_back(px * std::cos(turn) - py * std::sin(turn));
      ty.push_back(px * std::sin(turn) + py * std::cos(turn));
    }
  const mesh_orientation axes = DetectMeshOrientation(x.data(), y.data(), 12);
  EXPECT_EQ(axes.slope_degrees, 0.0);
  EXPECT_EQ(axes.ratio, 1.0);
  const mesh_orientation turned = DetectMeshOrientation(tx.data(), ty.data(), 12);
  EXPECT_NEAR(turned.slope_degrees, 30.0, 5e-4);
  EXPECT_EQ(turned.ratio, 0.995);
}

}  // namespace
}  // namespace velmo
