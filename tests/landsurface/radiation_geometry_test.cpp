// Radiation on sloped and shaded terrain: incidence, sub-step daylight, beam
// radiation, corrected temperature and the shadow march.
#include "landsurface/radiation_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace velmo {
namespace {

constexpr double kDeg = kPi / 180.0;

// Factor of a slope for one sub-step: the share it receives over that of a
// horizontal surface.
double SubStepFactor(double slope_deg, double aspect_deg, double azimuth_deg, double zenith_deg,
                     bool dull = false) {
  const sun_terms sun = SunTerms(azimuth_deg * kDeg, zenith_deg * kDeg);
  return IncidenceFactor(IncidenceCosine(SlopeTerms(slope_deg, aspect_deg), sun), sun.up, dull) / sun.up;
}

TEST(Incidence, FactorOfOneSubStep) {
  struct Case {
    double slope, aspect, azimuth, zenith;
    bool dull;
    double factor;
  };
  const Case cases[] = {
      {0.0, 0.0, 135.0, 40.0, false, 1.0},         // flat
      {30.0, 180.0, 180.0, 40.0, false, 1.28558},  // facing the sun
      {30.0, 0.0, 180.0, 40.0, false, 0.44648},    // facing away
      {60.0, 200.0, 200.0, 85.0, false, 5.0},      // 10.40 capped at 5
      {80.0, 0.0, 180.0, 40.0, false, 0.0},        // sun behind the slope
      {30.0, 180.0, 180.0, 40.0, true, 1.0},       // dull: like flat ground
      {80.0, 0.0, 180.0, 40.0, true, 0.0},         // dull, but still in its own shade
  };
  for (const Case& c : cases)
    EXPECT_NEAR(SubStepFactor(c.slope, c.aspect, c.azimuth, c.zenith, c.dull), c.factor, 5e-6)
        << c.slope << " " << c.aspect << " " << c.azimuth << " " << c.zenith;

  // The three products equal the angle formula of the submodel base.
  for (double slope : {0.0, 12.0, 47.0})
    for (double aspect : {0.0, 95.0, 260.0})
      for (double azimuth : {10.0, 170.0, 300.0}) {
        const double zenith = 55.0;
        EXPECT_NEAR(IncidenceCosine(SlopeTerms(slope, aspect), SunTerms(azimuth * kDeg, zenith * kDeg)),
                    CosIncidenceAngle(azimuth * kDeg, zenith * kDeg, aspect * kDeg, slope * kDeg), 1e-12);
      }
}

TEST(SubStep, DaylightParts) {
  const sun_times sun{6.0, 18.0, polar_state::none};
  struct Case {
    double lo, hi;
    double before, night;
    bool is_night;
  };
  const Case cases[] = {
      {11.0, 12.0, 0.0, 0.0, false},                                   // midday
      {3.0, 4.0, 0.0, 1.0, true},                                      // before sunrise
      {5.5, 6.5, 0.5, 0.5, false},                                     // sunrise inside
      {17.75, 18.75, 0.0, 0.75, false},                                // sunset inside
      {20.0, 21.0, 0.0, 1.0, true},                                    // after sunset
      {5.97, 6.97, 0.03, 0.03, false},  {0.0, 24.0, 6.0, 0.5, false},  // the whole day
  };
  for (const Case& c : cases) {
    const substep_daylight part = SubStepDaylight(sun, c.lo, c.hi);
    EXPECT_NEAR(part.night_before_sunrise, c.before, 1e-12) << c.lo;
    EXPECT_NEAR(part.night_fraction, c.night, 1e-12) << c.lo;
    EXPECT_NEAR(part.day_fraction, 1.0 - c.night, 1e-12) << c.lo;
    EXPECT_EQ(part.is_night, c.is_night) << c.lo;
  }
  // A night part above 0.95 is the whole sub-step.
  EXPECT_TRUE(SubStepDaylight(sun, 17.96, 18.96).is_night);
  EXPECT_EQ(SubStepDaylight(sun, 17.96, 18.96).night_fraction, 1.0);
  // Polar night and day.
  EXPECT_TRUE(SubStepDaylight({24.0, 0.0, polar_state::polar_night}, 11.0, 12.0).is_night);
  EXPECT_EQ(SubStepDaylight({0.0, 24.0, polar_state::polar_day}, 1.0, 2.0).night_fraction, 0.0);
}

TEST(SubStep, BeamRadiationAndCorrectedTemperature) {
  EXPECT_EQ(BeamRadiation(0.017, 1.0, 1.0), 0.0);
  EXPECT_EQ(BeamRadiation(-0.3, 1.0, 1.0), 0.0);
  EXPECT_NEAR(BeamRadiation(kPi / 2.0, 1.0, 1.0), 1367.0 * std::pow(0.86, 0.9), 1e-9);
  EXPECT_NEAR(BeamRadiation(kPi / 2.0, 0.5, 2.0), 1367.0 * std::pow(0.86, 0.9), 1e-9);
  EXPECT_LT(BeamRadiation(0.2, 1.0, 1.0), BeamRadiation(0.6, 1.0, 1.0));

  EXPECT_NEAR(CorrectedTemperature(10.0, 1.28558, 1.0, kDefaultRelativeSunshine, true), 10.12560, 5e-6);
  EXPECT_NEAR(CorrectedTemperature(10.0, 0.44648, 2.0, 1.0, true), 10.0 + 2.0 * std::log(0.44648), 1e-12);
  // A weak factor cools by a fixed amount, a step without sun not at all.
  EXPECT_NEAR(CorrectedTemperature(10.0, 0.1, 1.0, 0.5, true), 10.0 - 0.8047, 1e-12);
  EXPECT_EQ(CorrectedTemperature(10.0, 0.0, 1.0, 0.5, false), 10.0);
}

// A grid addressed [row][col] from 1.
struct Grid {
  Grid(int nrows, int ncols, double value)
      : cells(static_cast<size_t>(nrows + 1) * (ncols + 1), value), rows(static_cast<size_t>(nrows + 1)) {
    for (int r = 0; r <= nrows; ++r)
      rows[static_cast<size_t>(r)] = cells.data() + static_cast<size_t>(r) * (ncols + 1);
  }
  double** data() { return rows.data(); }
  double* operator[](int r) { return rows[static_cast<size_t>(r)]; }
  std::vector<double> cells;
  std::vector<double*> rows;
};

TEST(Shadows, RidgeShadesTheCellsBehindItAtLowSun) {
  const int nrows = 3, ncols = 7;
  Grid dem(nrows, ncols, 0.0), zone(nrows, ncols, 1.0), shadow(nrows, ncols, 0.0);
  for (int r = 1; r <= nrows; ++r) dem[r][3] = 100.0;  // a north-south ridge
  zone[2][1] = -9999.0;                                // outside the catchment
  const shadow_terrain terrain{dem.data(), zone.data(), nrows, ncols, -9999.0, 100.0};

  // Evening sun from the west, 10° high: the ray sinks 17.6 m per cell, so
  // the ridge hides the cells east of it up to five cells away.
  CastShadows(terrain, 270.0 * kDeg, 10.0 * kDeg, shadow.data());
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(shadow[r][c], 0.0) << r << " " << c;
    for (int c = 4; c <= 7; ++c) EXPECT_EQ(shadow[r][c], 1.0) << r << " " << c;
  }
  // Morning sun from the east: the two cells west of the ridge lie in its
  // shadow; the cell outside the catchment is not marked.
  for (double& v : shadow.cells) v = 0.0;
  CastShadows(terrain, 90.0 * kDeg, 10.0 * kDeg, shadow.data());
  for (int r = 1; r <= nrows; ++r) {
    EXPECT_EQ(shadow[r][2], 1.0) << r;
    EXPECT_EQ(shadow[r][1], r == 2 ? 0.0 : 1.0) << r;
    for (int c = 3; c <= 7; ++c) EXPECT_EQ(shadow[r][c], 0.0) << r << " " << c;
  }
  // A high sun leaves only a short shadow: 100 m - 567 m per cell.
  for (double& v : shadow.cells) v = 0.0;
  CastShadows(terrain, 90.0 * kDeg, 80.0 * kDeg, shadow.data());
  for (double v : shadow.cells) EXPECT_EQ(v, 0.0);
}

TEST(Shadows, TowerCastsItsShadowAwayFromTheSun) {
  const int n = 9;
  Grid dem(n, n, 0.0), zone(n, n, 1.0), shadow(n, n, 0.0);
  dem[5][5] = 100.0;
  const shadow_terrain terrain{dem.data(), zone.data(), n, n, -9999.0, 10.0};
  struct Case {
    double azimuth;
    int row_sign, col_sign;  // where the shadow must lie
  };
  // South-east, north-east, north-west and south-west suns; both march axes.
  const Case cases[] = {{120.0, -1, -1}, {30.0, 1, -1}, {300.0, 1, 1}, {200.0, -1, 1}};
  for (const Case& c : cases) {
    for (double& v : shadow.cells) v = 0.0;
    CastShadows(terrain, c.azimuth * kDeg, 45.0 * kDeg, shadow.data());
    int shaded = 0;
    for (int r = 1; r <= n; ++r)
      for (int col = 1; col <= n; ++col) {
        if (shadow[r][col] == 0.0) continue;
        ++shaded;
        EXPECT_TRUE((r - 5) * c.row_sign >= 0 && (col - 5) * c.col_sign >= 0 && !(r == 5 && col == 5))
            << "azimuth " << c.azimuth << ": cell " << r << " " << col;
      }
    EXPECT_GT(shaded, 0) << c.azimuth;
    EXPECT_LE(shaded, 12) << c.azimuth;
  }
}

// The march ray after ray, as the rays are defined: the start cells of the
// side column from the far edge on, then the edge row; each ray marks the
// valid cells it reaches. CastShadows must give the same marks.
void ReferenceShadows(const shadow_terrain& t, double azimuth, double elevation, double** shadow) {
  int dx = -1, dy = 1;
  if (azimuth <= 1.570796326795) {
    dx = 1;
  } else if (azimuth <= 3.14159265359) {
    dx = 1;
    dy = -1;
  } else if (azimuth <= 4.7123889803850005) {
    dy = -1;
  }
  const bool along_rows = std::fabs(std::cos(azimuth)) > 0.707106781;
  const int major = along_rows ? t.nrows : t.ncols;
  const int minor = static_cast<int>(along_rows ? std::fabs(t.nrows * std::sin(azimuth) / std::cos(azimuth))
                                                : std::fabs(t.ncols * std::cos(azimuth) / std::sin(azimuth)));
  const double drop =
      std::fabs(t.cellsize / (along_rows ? std::cos(azimuth) : std::sin(azimuth))) * std::tan(elevation);
  const auto march = [&](int r, int c) {
    double h = t.elevation[r][c];
    int error = -(major / 2);
    for (;;) {
      if (along_rows) {
        r += dy;
        h -= drop;
      } else {
        c -= dx;
        if (h > t.nodata) h -= drop;
      }
      error += minor;
      if (error >= 0) {
        error -= major;
        if (along_rows) {
          c -= dx;
        } else {
          r += dy;
        }
      }
      if (r < 1 || r > t.nrows || c < 1 || c > t.ncols) return;
      if (t.zone[r][c] == t.nodata) continue;
      if (h > t.elevation[r][c]) {
        shadow[r][c] = 1.0;
      } else {
        shadow[r][c] = 0.0;
        h = t.elevation[r][c];
      }
    }
  };
  const int edge_row = dy == 1 ? 1 : t.nrows;
  for (int i = 0; i < t.nrows; ++i) {
    const int r = dy == 1 ? t.nrows - i : 1 + i;
    if (r != edge_row) {
      march(r, dx == 1 ? t.ncols : 1);
      continue;
    }
    for (int j = 0; j < t.ncols; ++j) march(r, dx == 1 ? 1 + j : t.ncols - j);
  }
}

TEST(Shadows, SameMarksAsRayAfterRay) {
  const int nrows = 37, ncols = 23;
  Grid dem(nrows, ncols, 0.0), zone(nrows, ncols, 1.0);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> ground(0.0, 400.0);
  std::uniform_int_distribution<int> outside(0, 9);
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      dem[r][c] = ground(random);
      if (outside(random) == 0) zone[r][c] = -9999.0;
    }
  const shadow_terrain terrain{dem.data(), zone.data(), nrows, ncols, -9999.0, 25.0};
  for (double azimuth : {0.0, 10.0, 44.0, 46.0, 90.0, 100.0, 135.0, 150.0, 180.0, 199.0, 225.0, 260.0, 270.0,
                         300.0, 330.0, 359.0}) {
    for (double elevation : {3.0, 20.0, 60.0}) {
      Grid expected(nrows, ncols, -1.0), marked(nrows, ncols, -1.0);
      ReferenceShadows(terrain, azimuth * kDeg, elevation * kDeg, expected.data());
      CastShadows(terrain, azimuth * kDeg, elevation * kDeg, marked.data());
      int shaded = 0;
      for (int r = 1; r <= nrows; ++r)
        for (int c = 1; c <= ncols; ++c) {
          EXPECT_EQ(marked[r][c], expected[r][c]) << azimuth << " " << elevation << ": " << r << " " << c;
          shaded += expected[r][c] == 1.0;
        }
      if (elevation == 3.0) {
        EXPECT_GT(shaded, 0) << azimuth;
      }
    }
  }
}

}  // namespace
}  // namespace velmo
