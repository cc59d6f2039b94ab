// Level-volume table of a lake and its look-ups.
#include "routing/level_volume.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
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

// A bed this close to a level of the table is taken as that level (m).
constexpr double kSameLevel = 1e-9;

}  // namespace

level_volume_table BuildLevelVolumeTable(std::vector<double> elevations, double top, double cell_area) {
  std::sort(elevations.begin(), elevations.end());
  const double bottom = elevations.front();
  // Volume below a level: the cells below it times the level, less their
  // elevations (prefix sums over the sorted elevations), both taken from the
  // bottom so that the round-off is that of the depths, not of the altitudes.
  std::vector<double> below(elevations.size() + 1, 0.0);
  for (size_t i = 0; i < elevations.size(); ++i) below[i + 1] = below[i] + (elevations[i] - bottom);
  auto volume = [&](double level) {
    const size_t cells = static_cast<size_t>(std::lower_bound(elevations.begin(), elevations.end(), level) -
                                             elevations.begin());
    return cell_area * (static_cast<double>(cells) * (level - bottom) - below[cells]);
  };

  const double depth = top - bottom;
  const double fine = std::min(kFineBandDepth, depth);
  const double middle = std::min(kMiddleBandDepth, depth - fine);
  const double coarse = depth - fine - middle;
  std::vector<double> steps;  // falling, without the bottom
  const int fine_steps = std::max(1, StepCount(fine, kFineLevelStep));
  for (int i = 0; i < fine_steps; ++i) steps.push_back(top - i * kFineLevelStep);
  for (int i = 0; i < StepCount(middle, kMiddleLevelStep); ++i)
    steps.push_back(top - fine - i * kMiddleLevelStep);
  for (int i = 0; i < StepCount(coarse, kCoarseLevelStep); ++i)
    steps.push_back(top - fine - middle - i * kCoarseLevelStep);
  // A lake without depth has its bottom for its only level.
  if (steps.back() <= bottom) steps.pop_back();

  // Between two entries the volume is linear only when no bed lies between
  // them: every bed above the bottom becomes an entry (taking the place of a
  // step a hair away from it), so that the look-ups both ways are one
  // relation and the ponding of a level holds the volume it was found from.
  std::vector<double> levels;
  size_t step = 0;
  for (auto bed = elevations.rbegin(); bed != elevations.rend() && *bed > bottom; ++bed) {
    if (!levels.empty() && levels.back() == *bed) continue;
    while (step < steps.size() && steps[step] > *bed + kSameLevel) levels.push_back(steps[step++]);
    if (step < steps.size() && steps[step] >= *bed - kSameLevel) ++step;
    levels.push_back(*bed);
  }
  levels.insert(levels.end(), steps.begin() + static_cast<std::ptrdiff_t>(step), steps.end());
  // Above the table its first interval goes on: it must flood every cell,
  // and be a whole step long, or its slope carries the round-off far. A bed
  // above the top or less than a step below it gets a level a step above.
  const double highest = elevations.back();
  if (levels.empty() || highest >= levels.front() ||
      (highest > bottom && highest > levels.front() - kFineLevelStep))
    levels.insert(levels.begin(), (levels.empty() ? highest : levels.front()) + kFineLevelStep);

  level_volume_table table;
  for (double level : levels) {
    table.level.push_back(level);
    table.volume.push_back(volume(level));
  }
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
