// Elevation regressions of the meteorological interpolator: a variable as a
// function of altitude in three segments (a lower line, an inversion layer,
// an upper line) plus an optional horizontal trend plane. The record is read
// from regression files (methods 2 and 3) or fitted to the stations of each
// record (methods 10 and 11); the precipitation correction rewrites it.
// Numbers in, numbers out.
//
// N is the interpolator's nodata value: a value below -N is missing, and
// -N - 1 marks a missing value or result.
#pragma once

#include <array>
#include <vector>

namespace velmo {

// Values of a regression-file record, in file order.
inline constexpr int kRegressionRecordValues = 11;

struct station_regression {
  double h1 = 0.0;  // lower bound of the middle segment (altitude)
  double h2 = 0.0;  // upper bound of the middle segment
  // Intercepts and slopes per unit of altitude: 1 lower, 2 middle, 3 upper
  // segment; index 0 is carried along and not used.
  std::array<double, 4> a{};
  std::array<double, 4> b{};
  // Horizontal trend e + f·x + g·y; e below -N means no trend.
  double e = 0.0;
  double f = 0.0;
  double g = 0.0;
};

// The record from the eleven values a1, b1, h1, a2, b2, h2, a3, b3, e, f, g.
station_regression RegressionFromRecord(const std::array<double, kRegressionRecordValues>& values);

// A regression is missing when any intercept or slope of the three segments
// is: a slope of -N - 1 would otherwise reach the cells.
bool IsRegressionMissing(const station_regression& r, double nodata);
inline bool HasTrend(const station_regression& r, double nodata) { return r.e >= -nodata; }

// The regression without trend at altitude z: lower line below h1, upper
// line above h2, the middle segment in between.
inline double SegmentValue(const station_regression& r, double z) {
  if (z > r.h2) return r.a[3] + r.b[3] * z;
  if (z < r.h1) return r.a[1] + r.b[1] * z;
  return r.a[2] + r.b[2] * z;
}

// The regression at (x, y, z) when it is not missing, with the trend when
// `trend` (HasTrend) and the point has a location.
inline double RegressionAt(const station_regression& r, bool trend, double domain_nodata, double x, double y,
                           double z) {
  const double value = SegmentValue(r, z);
  if (!trend || x == domain_nodata || y == domain_nodata) return value;
  // The trend plane carries the lower intercept a1.
  return value + (r.e + r.f * x + r.g * y - r.a[1]);
}

// The regression at a point (x, y, z): -N - 1 when it is missing; the trend
// takes part when it is given and neither x nor y is the domain's nodata
// value `domain_nodata` (a point without location).
double RegressionValue(const station_regression& r, double nodata, double domain_nodata, double x, double y,
                       double z);

// Parameters of the fit (methods 10 and 11).
struct regression_fit_parameters {
  double lower_inversion = 0.0;       // L: stations at or below it form the low group
  double upper_inversion = 0.0;       // U: top of the inversion layer when it is fixed
  double tolerance = 0.0;             // τ: how far the lines may meet outside L..U
  int overlap = 0;                    // o > 0: the stations next to L join both groups
  double cluster_range = 0.0;         // c: a group within this altitude range is one point
  double upper_lapse_rate = -9999.0;  // Γu above h2; at or below -9998 not used
};
inline constexpr double kNoUpperLapseRateBelow = -9998.0;

// The stations of one record, counted 1..count: value, altitude and the
// (unrotated) coordinates of the trend.
struct regression_stations {
  const double* values = nullptr;
  const double* altitude = nullptr;
  const double* x = nullptr;
  const double* y = nullptr;
  int count = 0;
};

// Fits the three segments and the trend to the stations whose value is
// above -N. Without any such station the segments are missing; with three
// or fewer, or with stations on one line, the trend is.
station_regression ComputeStationRegression(const regression_stations& stations,
                                            const regression_fit_parameters& p, double nodata);

// Determinant of the 3x3 matrix with columns p, q and s.
inline double Determinant3(const std::array<double, 3>& p, const std::array<double, 3>& q,
                           const std::array<double, 3>& s) {
  return p[0] * (q[1] * s[2] - s[1] * q[2]) - q[0] * (p[1] * s[2] - s[1] * p[2]) +
         s[0] * (p[1] * q[2] - q[1] * p[2]);
}

// A point of the trend fit: coordinates and residual.
struct trend_point {
  double x = 0.0;
  double y = 0.0;
  double r = 0.0;
};
struct trend_plane {
  double e = 0.0;
  double f = 0.0;
  double g = 0.0;
};
// Least-squares plane r = e + f·x + g·y through the points, solved by
// Cramer's rule around the points' mean coordinates (with map coordinates in
// the millions, raw sums lose about seven digits) and then moved back. False
// when the points lie on one line (or fewer than three are given).
bool FitTrendPlane(const std::vector<trend_point>& points, trend_plane& plane);

}  // namespace velmo
