// Level-volume table of a lake and its look-ups.
#include "routing/level_volume.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace velmo {
namespace {

// Whole steps of `step` in `depth`; the depths are differences of levels
// given to the centimetre, so a count a hair short of a whole is that whole.
int StepCount(double depth, double step) {
  constexpr double kCountTolerance = 1e-6;
  return depth > 0.0 ? static_cast<int>(std::floor(depth / step + kCountTolerance)) : 0;
}

// The entry `to` at `x` on the falling column `from` (same length).
double Interpolate(const std::vector<double>& from, const std::vector<double>& to, double x) {
  const int n = static_cast<int>(from.size());
  if (n == 1) return to[0];
  // First entry below x, then the interval above it, kept inside the table.
  const int below =
      static_cast<int>(std::upper_bound(from.begin(), from.end(), x, std::greater<double>()) - from.begin());
  const size_t i = static_cast<size_t>(std::clamp(below - 1, 0, n - 2));
  const double span = from[i] - from[i + 1];
  if (span == 0.0) return to[i];
  return ((from[i] - x) * to[i + 1] + (x - from[i + 1]) * to[i]) / span;
}

}  // namespace

level_volume_table BuildLevelVolumeTable(std::vector<double> elevations, double top, double cell_area) {
  std::sort(elevations.begin(), elevations.end());
  const double bottom = elevations.front();
  // Volume below a level: the cells below it times the level, less their
  // elevations (prefix sums over the sorted elevations).
  std::vector<double> below(elevations.size() + 1, 0.0);
  for (size_t i = 0; i < elevations.size(); ++i) below[i + 1] = below[i] + elevations[i];
  auto volume = [&](double level) {
    const size_t cells = static_cast<size_t>(std::lower_bound(elevations.begin(), elevations.end(), level) -
                                             elevations.begin());
    return cell_area * (static_cast<double>(cells) * level - below[cells]);
  };

  const double depth = top - bottom;
  const double fine = std::min(kFineBandDepth, depth);
  const double middle = std::min(kMiddleBandDepth, depth - fine);
  const double coarse = depth - fine - middle;
  level_volume_table table;
  auto add = [&](double level) {
    table.level.push_back(level);
    table.volume.push_back(volume(level));
  };
  const int fine_steps = std::max(1, StepCount(fine, kFineLevelStep));
  for (int i = 0; i < fine_steps; ++i) add(top - i * kFineLevelStep);
  for (int i = 0; i < StepCount(middle, kMiddleLevelStep); ++i) add(top - fine - i * kMiddleLevelStep);
  for (int i = 0; i < StepCount(coarse, kCoarseLevelStep); ++i)
    add(top - fine - middle - i * kCoarseLevelStep);
  table.level.push_back(bottom);
  table.volume.push_back(0.0);
  return table;
}

double VolumeToLevel(const level_volume_table& table, double volume) {
  return Interpolate(table.volume, table.level, volume);
}

double LevelToVolume(const level_volume_table& table, double level) {
  return Interpolate(table.level, table.volume, level);
}

}  // namespace velmo
