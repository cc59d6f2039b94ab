// Distance weighting, Thiessen, lapse rate, rotation and mesh orientation.
#include "meteo/station_weights.h"

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace velmo {
namespace {

// Mesh orientation: a neighbour nearer by more than this factor is taken even
// when it has already chosen the station itself.
constexpr double kMutualNeighbourMargin = 1.01;
constexpr double kMeshPi = 3.14159265359;
constexpr int kSectorCount = 36;              // 10-degree sectors counted
constexpr int kHalfTurnSectors = 18;          // sectors of a half turn
constexpr double kSectorWidth = 10.0;         // degrees
constexpr double kSectorHalfWidth = 5.0;      // degrees
constexpr double kSectorOffset = 365.0;       // degrees; centres sector 0 on 0 degrees
constexpr double kTurnedMeshLimit = 45.0;     // degrees; steeper axes are taken from the other axis
constexpr double kUnturnedMeshSlope = 0.001;  // degrees
constexpr double kTurnedMeshRatio = 0.995;

template <typename Distance>
double WeightedMean(const station_arrays& s, int code, double exponent, double max_distance, double nodata,
                    double* weights, Distance distance) {
  double weight_sum = 0.0;
  double value_sum = 0.0;
  for (int i = 1; i <= s.count; ++i) {
    double w = 0.0;
    const double v = s.values[i];
    if (IsValidValue(v, nodata)) {
      w = InverseDistanceWeight(distance(i), code, exponent, max_distance);
      if (w > 0.0) {
        weight_sum += w;
        value_sum += w * v;
      }
    }
    if (weights) weights[i] = w;
  }
  return weight_sum == 0.0 ? MissingResult(nodata) : value_sum / weight_sum;
}

}  // namespace

int WeightCode(double weight_exponent) { return static_cast<int>(std::floor(1000.0 * weight_exponent)); }

double InverseDistance(const station_arrays& s, double x, double y, int code, double exponent,
                       double max_distance, double nodata, double* weights) {
  return WeightedMean(s, code, exponent, max_distance, nodata, weights,
                      [&](int i) { return SquaredDistance(s.x[i], s.y[i], x, y); });
}

double AnisotropicInverseDistance(const station_arrays& s, double x, double y, double ratio, int code,
                                  double exponent, double max_distance, double nodata, double* weights) {
  return WeightedMean(s, code, exponent, max_distance, nodata, weights,
                      [&](int i) { return AnisotropicSquaredDistance(s.x[i], s.y[i], x, y, ratio); });
}

double Thiessen(const station_arrays& s, double x, double y, double nodata, double* squared_distances) {
  double best = kThiessenFarthest;
  double result = MissingResult(nodata);
  for (int i = 1; i <= s.count; ++i) {
    const double v = s.values[i];
    if (!IsValidValue(v, nodata)) continue;
    const double d2 = SquaredDistance(s.x[i], s.y[i], x, y);
    if (squared_distances) squared_distances[i] = d2;
    if (d2 <= best) {
      best = d2;
      result = v;
    }
  }
  return result;
}

double LapseRateValue(double vs, double zs, double z, double lapse, double height, double upper) {
  if (height <= kNoInversionBelow) return vs + lapse * (z - zs);
  if (zs <= height) {
    if (z <= height) return vs + lapse * (z - zs);
    return vs + lapse * (height - zs) + upper * (z - height);
  }
  if (z > height) return vs + upper * (z - zs);
  return vs + upper * (height - zs) + lapse * (z - height);
}

double ThiessenLapseRate(const station_arrays& s, double x, double y, double z, double lapse, double height,
                         double upper, bool p_type, double nodata) {
  double best = std::numeric_limits<double>::infinity();
  int nearest = 0;
  for (int i = 1; i <= s.count; ++i) {
    if (!IsValidValue(s.values[i], nodata)) continue;
    const double d2 = SquaredDistance(s.x[i], s.y[i], x, y);
    if (nearest == 0 || d2 < best) {
      best = d2;
      nearest = i;
    }
  }
  if (nearest == 0) return MissingResult(nodata);
  const double vs = s.values[nearest];
  if (p_type && vs == 0.0) return 0.0;
  return LapseRateValue(vs, s.altitude[nearest], z, lapse, height, upper);
}

void RotatePoint(double x, double y, double x0, double y0, double slope, double& rotated_x,
                 double& rotated_y) {
  const double dx = x - x0;
  const double dy = y - y0;
  const double r = std::sqrt(dx * dx + dy * dy);
  double angle;
  if (dx == 0.0) {
    angle = dy > 0.0 ? std::numbers::pi / 2.0 : -std::numbers::pi / 2.0;
  } else {
    angle = std::atan2(dy, dx);
  }
  const double turned = angle - slope;
  rotated_x = r * std::cos(turned) + x0;
  rotated_y = r * std::sin(turned) + y0;
}

anisotropy_fault CheckAnisotropyRange(double slope_radians, double ratio) {
  if (!(slope_radians >= -kMaxAnisotropySlope && slope_radians <= kMaxAnisotropySlope))
    return anisotropy_fault::kSlope;
  if (!(ratio > 0.0 && ratio <= 1.0)) return anisotropy_fault::kRatio;
  return anisotropy_fault::kNone;
}

mesh_orientation DetectMeshOrientation(const double* x, const double* y, int n) {
  // 1. Every station's neighbour: the nearest station that has not chosen
  // it already, unless one that has is nearer by more than the margin.
  std::vector<int> neighbour(static_cast<size_t>(n) + 1, 0);
  std::vector<double> neighbour_d2(static_cast<size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) {
    int pending = 0;
    double pending_d2 = 0.0;
    for (int j = 1; j <= n; ++j) {
      if (j == i) continue;
      const double d2 = SquaredDistance(x[j], y[j], x[i], y[i]);
      if (neighbour[i] == 0 || d2 < neighbour_d2[i]) {
        pending = j;
        pending_d2 = d2;
        if (neighbour[j] != i) {
          neighbour[i] = j;
          neighbour_d2[i] = d2;
        }
      }
    }
    if (neighbour[i] != 0 && pending != 0 && pending_d2 * kMutualNeighbourMargin < neighbour_d2[i]) {
      neighbour[i] = pending;
      neighbour_d2[i] = pending_d2;
    }
  }

  // 2. Link angles folded into [-90, 90] degrees, counted in 10-degree sectors.
  std::vector<double> degrees(static_cast<size_t>(n) + 1, 0.0);
  std::array<int, kSectorCount> sectors{};
  for (int i = 1; i <= n; ++i) {
    if (neighbour[i] == 0) continue;
    const int k = neighbour[i];
    double angle = std::atan2(y[k] - y[i], x[k] - x[i]);
    if (angle > kMeshPi / 2.0) angle -= kMeshPi;
    if (angle < -kMeshPi / 2.0) angle += kMeshPi;
    degrees[i] = angle * 180.0 / kMeshPi;
    const double sector = std::trunc(std::fmod(degrees[i] + kSectorOffset, 360.0) / kSectorWidth);
    ++sectors[static_cast<size_t>(std::fmod(sector, kHalfTurnSectors))];
  }

  // 3. The fullest sector (the first on a tie); 4. the mean angle in it.
  int winner = 0;
  for (int k = 1; k < kSectorCount; ++k)
    if (sectors[k] > sectors[winner]) winner = k;
  double sum = 0.0;
  int taking_part = 0;
  for (int i = 1; i <= n; ++i) {
    if (neighbour[i] == 0) continue;
    double d = std::fmod(degrees[i] + 360.0, 180.0);
    if (winner == 0 && d > kSectorHalfWidth) d -= 180.0;
    if (d >= kSectorWidth * winner - kSectorHalfWidth && d <= kSectorWidth * winner + kSectorHalfWidth) {
      sum += d;
      ++taking_part;
    }
  }
  mesh_orientation result;
  result.slope_degrees = taking_part > 0 ? sum / taking_part : 0.0;
  // 5., 6.
  if (result.slope_degrees > kTurnedMeshLimit) result.slope_degrees -= 90.0;
  if (std::fabs(result.slope_degrees) > kUnturnedMeshSlope) {
    result.ratio = kTurnedMeshRatio;
  } else {
    result.slope_degrees = 0.0;
    result.ratio = 1.0;
  }
  return result;
}

bool AllValidValuesEqual(const double* values, int count, double nodata) {
  double smallest = 0.0, largest = 0.0;
  bool any = false;
  for (int i = 0; i < count; ++i) {
    const double v = values[i];
    if (!IsValidValue(v, nodata)) continue;
    if (!any || v < smallest) smallest = v;
    if (!any || v > largest) largest = v;
    any = true;
  }
  return smallest == largest;
}

}  // namespace velmo
