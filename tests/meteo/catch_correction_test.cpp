// Catch-loss factors of precipitation gauges, their application to cells with
// missing inputs, and the refit of a corrected altitude line.
#include "meteo/catch_correction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velmo {
namespace {

// Rain 1.05 + 0.02·u, snow 1.2 + 0.1·u, threshold 0 °C.
catch_correction_parameters Factors() {
  catch_correction_parameters p;
  p.threshold = 0.0;
  p.rain_constant = 1.05;
  p.rain_slope = 0.02;
  p.snow_constant = 1.2;
  p.snow_slope = 0.1;
  return p;
}

TEST(CatchCorrection, FactorByTemperatureAndWind) {
  const struct {
    const char* what;
    double temperature, wind, corrected_10mm;
  } cases[] = {
      {"rain", 5.0, 3.0, 11.1},
      {"snow", -3.0, 3.0, 15.0},
      {"at the threshold: snow", 0.0, 3.0, 15.0},
      {"just above the threshold: rain", 1e-9, 3.0, 11.1},
      {"calm rain", 5.0, 0.0, 10.5},
  };
  const catch_correction_parameters p = Factors();
  for (const auto& c : cases)
    EXPECT_NEAR(CorrectedPrecipitation(10.0, CatchFactor(p, c.temperature, c.wind), -999.0), c.corrected_10mm,
                1e-12)
        << c.what;
  EXPECT_NEAR(RainFactor(p, 3.0), 1.11, 1e-12);

  catch_correction_parameters falling = p;  // a negative slope in a storm
  falling.snow_slope = -0.2;
  EXPECT_EQ(CatchFactor(falling, -3.0, 10.0), 0.0);
  EXPECT_EQ(CorrectedPrecipitation(-1000.0, 1.5, -999.0), -1000.0);  // missing stays missing
}

TEST(CatchCorrection, CellsWithMissingInputs) {
  const catch_correction_parameters p = Factors();
  const catch_missing_limits limits{-999.0, -999.0, -999.0};
  // Per cell: precipitation, temperature, wind speed, corrected value.
  struct cell {
    const char* what;
    double p, t, u, expected;
  };
  const cell cells[] = {
      {"rain", 10, 5, 3, 11.1},
      {"snow", 10, -3, 3, 15.0},
      {"missing temperature counts as rain", 10, -1000, 3, 11.1},
      {"missing wind counts as calm, not as -10000 m/s", 5, -3, -10000, 6.0},
      {"missing precipitation stays", -1000, -3, 3, -1000},
      {"no precipitation", 0, -3, 3, 0},
  };
  const int n = static_cast<int>(std::size(cells));
  std::vector<double> precipitation, temperature, wind;
  for (const cell& c : cells) {
    precipitation.push_back(c.p);
    temperature.push_back(c.t);
    wind.push_back(c.u);
  }
  std::vector<double> corrected = precipitation;
  CorrectCells(p, limits, corrected.data(), temperature.data(), wind.data(), n);
  for (int k = 0; k < n; ++k) EXPECT_NEAR(corrected[k], cells[k].expected, 1e-12) << cells[k].what;

  // Without a temperature the rain pair, without a wind speed the constants.
  corrected = precipitation;
  CorrectCells(p, limits, corrected.data(), nullptr, wind.data(), n);
  EXPECT_NEAR(corrected[1], 11.1, 1e-12);
  corrected = precipitation;
  CorrectCells(p, limits, corrected.data(), temperature.data(), nullptr, n);
  EXPECT_NEAR(corrected[0], 10.5, 1e-12);
  EXPECT_NEAR(corrected[1], 12.0, 1e-12);
}

TEST(CatchCorrection, RefitLineThroughCorrectedSamples) {
  // A constant factor scales the line.
  const line_fit scaled = RefitLine(2.0, 0.002, 0.0, 100.0, 1000.0, 101, [](double) { return 1.1; });
  EXPECT_EQ(scaled.samples, 11);
  EXPECT_NEAR(scaled.intercept, 2.2, 1e-12);
  EXPECT_NEAR(scaled.slope, 0.0022, 1e-15);

  // Rain (1.1) up to 1500 m and snow (1.4) above: the fit of the samples at
  // 1000, 1100, ..., 2000 m.
  const line_fit mixed =
      RefitLine(3.0, 0.001, 1000.0, 100.0, 2000.0, 101, [](double z) { return z < 1538.46 ? 1.1 : 1.4; });
  EXPECT_EQ(mixed.samples, 11);
  EXPECT_NEAR(mixed.intercept, 0.968182, 1e-6);
  EXPECT_NEAR(mixed.slope, 0.0030909, 1e-7);

  auto one = [](double) { return 1.0; };
  // Tenths that do not add up exactly still reach the end.
  EXPECT_EQ(RefitLine(1.0, 1.0, 0.0, 0.3 / 10, 0.3, 101, one).samples, 11);
  EXPECT_EQ(RefitLine(1.0, 1.0, 0.0, 0.7 / 10, 0.7, 101, one).samples, 11);
  // An upper segment from 1000 m to twice that in steps of 0.1 m stops at 101.
  EXPECT_EQ(RefitLine(1.0, 1.0, 1000.0, 0.1, 2000.0, 101, one).samples, 101);
  // No step, no refit.
  const line_fit none = RefitLine(1.0, 2.0, 0.0, 0.0, 0.0, 101, one);
  EXPECT_EQ(none.samples, 0);
  EXPECT_EQ(none.intercept, 1.0);
  EXPECT_EQ(none.slope, 2.0);
}

// Temperature 10 - 0.0065·z against a threshold of 0 °C: rain (1.1) below
// 1538.46 m, snow (1.4) above.
double FactorByAltitude(double z) { return 10.0 - 0.0065 * z > 0.0 ? 1.1 : 1.4; }

TEST(CatchCorrection, RefitOfTheAltitudeSegments) {
  altitude_segments record;
  record.h1 = 0.0;
  record.h2 = 1000.0;
  record.a = {0.0, 2.0, 2.0, 3.0};
  record.b = {0.0, 0.0, 0.002, 0.001};
  const altitude_segments refit = RefitSegments(record, 999.0, 2000.0, FactorByAltitude);
  EXPECT_NEAR(refit.a[2], 2.2, 1e-12);
  EXPECT_NEAR(refit.b[2], 0.0022, 1e-15);
  EXPECT_NEAR(refit.a[3], 0.968182, 1e-6);
  EXPECT_NEAR(refit.b[3], 0.0030909, 1e-7);
  EXPECT_NEAR(refit.h2, 1382.653, 1e-3);  // where the two lines now cross
  EXPECT_EQ(refit.a[1], 2.0);             // segment 1 is not used below h1 = 0
  EXPECT_NEAR(refit.a[2] + refit.b[2] * 500.0, 3.3, 1e-12);
  EXPECT_NEAR(refit.a[3] + refit.b[3] * 2000.0, 7.15, 1e-12);

  // With h1 > 0 the middle segment joins the refitted outer two.
  altitude_segments layered = record;
  layered.h1 = 400.0;
  layered.b[1] = 0.001;
  const altitude_segments joined = RefitSegments(layered, 999.0, 2000.0, FactorByAltitude);
  EXPECT_NEAR(joined.a[1], 2.2, 1e-12);
  EXPECT_NEAR(joined.b[1], 0.0011, 1e-15);
  EXPECT_NEAR(joined.a[1] + joined.b[1] * 400.0, joined.a[2] + joined.b[2] * 400.0, 1e-12);
  EXPECT_NEAR(joined.a[3] + joined.b[3] * 1000.0, joined.a[2] + joined.b[2] * 1000.0, 1e-12);
  EXPECT_EQ(joined.h2, 1000.0);
}

TEST(CatchCorrection, RefitEdgeCases) {
  altitude_segments record;
  record.h2 = 1000.0;
  record.a = {0.0, 2.0, 2.0, 3.0};
  record.b = {0.0, 0.0, 0.002, 0.002};  // parallel: h2 stays
  auto one = [](double) { return 1.3; };
  struct edge {
    const char* what;
    std::function<void(altitude_segments&)> change;
    double max_elevation;
    std::function<void(const altitude_segments&)> check;
  };
  const edge edges[] = {
      {"slopes within 0.0001: h2 stays", [](altitude_segments&) {}, 2000.0,
       [](const altitude_segments& r) {
         EXPECT_EQ(r.h2, 1000.0);
         EXPECT_NEAR(r.a[3], 3.9, 1e-12);
       }},
      {"h2 = 0: no lower refit and no endless sampling",
       [](altitude_segments& r) {
         r.h2 = 0.0;
         r.b[3] = 0.0;
       },
       2000.0, [](const altitude_segments& r) { EXPECT_EQ(r.a[2], 2.0); }},
      {"highest cell below h2: no upper refit", [](altitude_segments&) {}, 900.0,
       [](const altitude_segments& r) {
         EXPECT_EQ(r.a[3], 3.0);
         EXPECT_NEAR(r.a[2], 2.6, 1e-12);
       }},
      {"missing regression: no refit", [](altitude_segments& r) { r.a[1] = -1000.0; }, 2000.0,
       [](const altitude_segments& r) {
         EXPECT_EQ(r.a[2], 2.0);
         EXPECT_EQ(r.a[3], 3.0);
       }},
      {"h1 = h2: no join (no division by 0)",
       [](altitude_segments& r) {
         r.h1 = 1000.0;
         r.b[1] = 0.001;
       },
       2000.0,
       [](const altitude_segments& r) { EXPECT_TRUE(std::isfinite(r.a[2]) && std::isfinite(r.b[2])); }},
  };
  for (const edge& e : edges) {
    altitude_segments changed = record;
    e.change(changed);
    SCOPED_TRACE(e.what);
    e.check(RefitSegments(changed, 999.0, e.max_elevation, one));
  }
}

}  // namespace
}  // namespace velmo
