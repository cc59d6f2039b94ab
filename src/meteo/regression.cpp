// Elevation regressions: the value at a point, the three-segment fit to a
// station record and its horizontal trend plane.
#include "meteo/regression.h"

#include <cmath>

namespace velmo {
namespace {

// Start values of the search for the altitudes next to L (m).
constexpr double kNoAltitudeBelow = -1e8;
constexpr double kNoAltitudeAbove = 1e9;
// Fewest stations for a trend plane: with three it would pass through every
// residual.
constexpr int kFewestTrendStations = 4;
// Points whose normal-equation determinant is this small relative to the
// spreads are taken to lie on one line (rounding keeps it from being 0).
constexpr double kCollinearRelative = 1e-9;

struct altitude_point {
  double z = 0.0;
  double v = 0.0;
};

// The stations of one altitude group with their altitude range.
struct altitude_group {
  std::vector<altitude_point> points;
  double min_z = 0.0;
  double max_z = 0.0;

  int size() const { return static_cast<int>(points.size()); }
  void Add(const altitude_point& p) {
    if (points.empty()) {
      min_z = max_z = p.z;
    } else {
      min_z = std::fmin(min_z, p.z);
      max_z = std::fmax(max_z, p.z);
    }
    points.push_back(p);
  }
  void Reset(const std::vector<altitude_point>& replacement) {
    points.clear();
    for (const altitude_point& p : replacement) Add(p);
  }
  altitude_point Mean() const {
    altitude_point mean;
    for (const altitude_point& p : points) {
      mean.z += p.z;
      mean.v += p.v;
    }
    mean.z /= size();
    mean.v /= size();
    return mean;
  }
};

// Least-squares line v = a + b·z on sums centred at the group's mean; a group
// at one altitude gives a denominator of exactly 0 (no line).
bool FitLine(const altitude_group& group, double& a, double& b) {
  const int n = group.size();
  const double z_ref = group.points.front().z;
  const double v_ref = group.points.front().v;
  double mean_dz = 0.0;
  double mean_dv = 0.0;
  for (const altitude_point& p : group.points) {
    mean_dz += p.z - z_ref;
    mean_dv += p.v - v_ref;
  }
  mean_dz /= n;
  mean_dv /= n;
  double szz = 0.0;
  double szv = 0.0;
  for (const altitude_point& p : group.points) {
    const double dz = p.z - z_ref - mean_dz;
    szz += dz * dz;
    szv += dz * (p.v - v_ref - mean_dv);
  }
  if (szz == 0.0) return false;
  b = szv / szz;
  a = (v_ref + mean_dv) - b * (z_ref + mean_dz);
  return true;
}

}  // namespace

station_regression RegressionFromRecord(const std::array<double, kRegressionRecordValues>& v) {
  station_regression r;
  r.a[1] = v[0];
  r.b[1] = v[1];
  r.h1 = v[2];
  r.a[2] = v[3];
  r.b[2] = v[4];
  r.h2 = v[5];
  r.a[3] = v[6];
  r.b[3] = v[7];
  r.e = v[8];
  r.f = v[9];
  r.g = v[10];
  return r;
}

bool IsRegressionMissing(const station_regression& r, double nodata) {
  for (int k = 1; k <= 3; ++k) {
    if (!(r.a[k] >= -nodata) || !(r.b[k] >= -nodata)) return true;
  }
  return false;
}

double RegressionValue(const station_regression& r, double nodata, double domain_nodata, double x, double y,
                       double z) {
  if (IsRegressionMissing(r, nodata)) return -nodata - 1.0;
  return RegressionAt(r, HasTrend(r, nodata), domain_nodata, x, y, z);
}

bool FitTrendPlane(const std::vector<trend_point>& points, trend_plane& plane) {
  const int n = static_cast<int>(points.size());
  if (n < 3) return false;
  // Mean coordinates, taken relative to the first point so that equal
  // coordinates give spreads of exactly 0.
  const double x_ref = points.front().x;
  const double y_ref = points.front().y;
  double mean_dx = 0.0;
  double mean_dy = 0.0;
  for (const trend_point& p : points) {
    mean_dx += p.x - x_ref;
    mean_dy += p.y - y_ref;
  }
  mean_dx /= n;
  mean_dy /= n;

  double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0, sr = 0.0, sxr = 0.0, syr = 0.0;
  for (const trend_point& p : points) {
    const double x = p.x - x_ref - mean_dx;
    const double y = p.y - y_ref - mean_dy;
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
    sr += p.r;
    sxr += x * p.r;
    syr += y * p.r;
  }
  const std::array<double, 3> col_1{static_cast<double>(n), sx, sy};
  const std::array<double, 3> col_x{sx, sxx, sxy};
  const std::array<double, 3> col_y{sy, sxy, syy};
  const std::array<double, 3> rhs{sr, sxr, syr};
  const double det = Determinant3(col_1, col_x, col_y);
  if (std::fabs(det) <= kCollinearRelative * n * sxx * syy) return false;

  const double e_centred = Determinant3(rhs, col_x, col_y) / det;
  plane.f = Determinant3(col_1, rhs, col_y) / det;
  plane.g = Determinant3(col_1, col_x, rhs) / det;
  plane.e = e_centred - plane.f * (x_ref + mean_dx) - plane.g * (y_ref + mean_dy);
  return true;
}

station_regression ComputeStationRegression(const regression_stations& s, const regression_fit_parameters& p,
                                            double nodata) {
  const double missing = -nodata - 1.0;
  const double lower = p.lower_inversion;
  auto valid = [&](int i) { return s.values[i] > -nodata; };

  station_regression r;
  r.a = {0.0, missing, missing, missing};
  r.b = {0.0, missing, missing, missing};
  r.h1 = r.h2 = missing;
  r.e = r.f = r.g = missing;

  // Groups below and above L.
  altitude_group low;
  altitude_group high;
  for (int i = 1; i <= s.count; ++i) {
    if (!valid(i)) continue;
    (s.altitude[i] <= lower ? low : high).Add({s.altitude[i], s.values[i]});
  }

  // Overlap: the stations next to L, valid or not, decide which altitudes
  // may join the other group.
  double below = kNoAltitudeBelow;
  double above = kNoAltitudeAbove;
  for (int i = 1; i <= s.count; ++i) {
    const double z = s.altitude[i];
    if (z < lower && z > below) below = z;
    if (z > lower && z < above) above = z;
  }
  for (int i = 1; i <= s.count; ++i) {
    if (!valid(i)) continue;
    const altitude_point point{s.altitude[i], s.values[i]};
    if (point.z == below && (p.overlap > 0 || high.size() == 1)) high.Add(point);
    if (point.z == above && (p.overlap > 0 || low.size() == 1)) low.Add(point);
  }

  // Clusters: a group within the cluster range is one point.
  for (altitude_group* group : {&low, &high}) {
    if (group->size() > 1 && group->max_z - group->min_z < p.cluster_range) group->Reset({group->Mean()});
  }

  // Two single points far enough apart give one line through both.
  if (low.size() == 1 && high.size() == 1) {
    const altitude_point pl = low.points.front();
    const altitude_point ph = high.points.front();
    if (ph.z - pl.z >= p.cluster_range) {
      low.Reset({pl, ph});
      high.Reset({pl, ph});
    } else {
      high.Reset({});
    }
  }
  if (low.size() == 0 && high.size() == 0) return r;

  // Straight lines, and the single points joined to the other group's line.
  double a1 = missing, b1 = missing, a2 = missing, b2 = missing;
  const bool low_line = low.size() > 1 && FitLine(low, a1, b1);
  const bool high_line = high.size() > 1 && FitLine(high, a2, b2);
  if (low.size() == 0 && high.size() == 1) {
    a1 = a2 = high.points.front().v;
    b1 = b2 = 0.0;
  } else if (low.size() == 0 && high.size() > 1) {
    a1 = a2;
    b1 = b2;
  } else if (low.size() == 1 && high.size() == 0) {
    a1 = a2 = low.points.front().v;
    b1 = b2 = 0.0;
  } else if (low.size() == 1 && high_line) {
    const altitude_point q = low.points.front();
    if (q.z == lower) {  // the line through it would divide by 0: continue the upper one
      a1 = a2;
      b1 = b2;
    } else {
      b1 = (b2 * lower + a2 - q.v) / (lower - q.z);
      a1 = (b2 - b1) * lower + a2;
    }
  } else if (low.size() > 1 && high.size() == 0) {
    a2 = a1;
    b2 = b1;
  } else if (low_line && high.size() == 1) {
    const altitude_point q = high.points.front();
    if (q.z == lower) {
      a2 = a1;
      b2 = b1;
    } else {
      b2 = (b1 * lower + a1 - q.v) / (lower - q.z);
      a2 = (b1 - b2) * lower + a1;
    }
  }

  // Layer bounds: where the lines meet, unless that is too far outside L..U.
  double h1 = 0.0;
  double h2 = (a2 < -nodata || b1 == b2) ? lower : (a2 - a1) / (b1 - b2);
  if (h2 < lower - p.tolerance || h2 > p.upper_inversion + p.tolerance) {
    h1 = lower;
    h2 = p.upper_inversion;
  }

  // Segments.
  double a3 = a2;
  double b3 = b2;
  if (h1 <= 0.0) {
    // The lower line holds from altitude 0 to h2; below 0 the value is a1.
    a2 = a1;
    b2 = b1;
    b1 = 0.0;
  } else if (h2 == h1) {
    // A fixed layer of no thickness.
    b2 = 0.0;
    a2 = a1 + b1 * h1;
  } else {
    b2 = (b3 * h2 + a3 - a1 - b1 * h1) / (h2 - h1);
    a2 = (b1 - b2) * h1 + a1;
  }
  if (p.upper_lapse_rate > kNoUpperLapseRateBelow) {
    a3 = b3 * h2 + a3 - p.upper_lapse_rate * h2;
    b3 = p.upper_lapse_rate;
  }
  r.h1 = h1;
  r.h2 = h2;
  r.a = {r.a[0], a1, a2, a3};
  r.b = {r.b[0], b1, b2, b3};
  if (IsRegressionMissing(r, nodata)) return r;

  // Horizontal trend of the residuals; it carries a1.
  std::vector<trend_point> points;
  for (int i = 1; i <= s.count; ++i) {
    if (!valid(i)) continue;
    points.push_back({s.x[i], s.y[i], a1 + s.values[i] - SegmentValue(r, s.altitude[i])});
  }
  trend_plane plane;
  if (static_cast<int>(points.size()) >= kFewestTrendStations && FitTrendPlane(points, plane)) {
    r.e = plane.e;
    r.f = plane.f;
    r.g = plane.g;
  }
  return r;
}

}  // namespace velmo
