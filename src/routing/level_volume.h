// The level-volume relation of a lake: from the elevations of its cells and
// the common level of its full surface, a table of levels (falling from the
// top to the lowest cell in steps of 1 cm for the first 4 m, 2 cm for the
// next 10 m and 5 cm below, and every cell's bed) and the volumes below
// them, and the linear look-ups in it both ways (by bisection). With the
// beds among the levels the volume is linear between entries, so each
// look-up is the exact inverse of the other. Numbers in, numbers out.
#pragma once

#include <vector>

namespace velmo {

// Level steps of the table and the depth bands they cover (m).
inline constexpr double kFineLevelStep = 0.01;
inline constexpr double kMiddleLevelStep = 0.02;
inline constexpr double kCoarseLevelStep = 0.05;
inline constexpr double kFineBandDepth = 4.0;
inline constexpr double kMiddleBandDepth = 10.0;

// Levels (m a.s.l.) and volumes (m3), both falling; the last entry is the
// lowest cell's elevation with volume 0. The first is the top, or a step
// above the top (or the highest bed) when a bed lies less than a step below
// the top or above it.
struct level_volume_table {
  std::vector<double> level;
  std::vector<double> volume;
  int Entries() const { return static_cast<int>(level.size()); }
};

// The table of a lake with cells of area `cell_area` (m2) at `elevations`
// (m a.s.l., at least one), full at level `top`.
level_volume_table BuildLevelVolumeTable(std::vector<double> elevations, double top, double cell_area);

// Linear interpolation in the table; beyond its ends the first or last
// interval is continued.
double VolumeToLevel(const level_volume_table& table, double volume);
double LevelToVolume(const level_volume_table& table, double level);

// The volume (m3) at `level` of a reservoir without a table: its walls are
// upright, so from the initial level and volume it grows by the area (m2)
// for each metre.
inline double PrismaticVolume(double level, double initial_level, double initial_volume, double area) {
  return initial_volume + (level - initial_level) * area;
}

}  // namespace velmo
