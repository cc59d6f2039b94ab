// Radiation on sloped and shaded terrain: slope and sun terms, sub-step
// daylight, beam radiation, corrected temperature and the shadow march.
#include "landsurface/radiation_geometry.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmo {
namespace {

constexpr double kRadiansPerDegree = kPi / 180.0;
// Quadrant limits of the azimuth for the march directions.
constexpr double kQuarterTurn = 1.570796326795;
constexpr double kHalfTurn = 3.14159265359;
constexpr double kThreeQuarterTurn = 4.7123889803850005;
// Above this |cos a| the march steps along the rows.
constexpr double kDiagonalCosine = 0.707106781;

double WrapHours(double hours) { return hours - kHoursPerDay * std::floor(hours / kHoursPerDay); }

}  // namespace

slope_terms SlopeTerms(double inclination_degrees, double aspect_degrees) {
  const double beta = inclination_degrees * kRadiansPerDegree;
  const double alpha = aspect_degrees * kRadiansPerDegree;
  return {std::sin(beta) * std::cos(alpha), std::sin(beta) * std::sin(alpha), std::cos(beta)};
}

sun_terms SunTerms(double azimuth, double zenith) {
  return {std::sin(zenith) * std::cos(azimuth), std::sin(zenith) * std::sin(azimuth), std::cos(zenith)};
}

substep_daylight SubStepDaylight(const sun_times& sun, double lo, double hi) {
  substep_daylight part;
  if (sun.polar == polar_state::polar_day) return part;
  if (sun.polar == polar_state::polar_night) {
    part.night_fraction = 1.0;
    part.day_fraction = 0.0;
    part.is_night = true;
    return part;
  }
  const double h = hi - lo;
  const double sr = WrapHours(sun.sunrise);
  const double ss = WrapHours(sun.sunset);
  const double before = (lo <= sr && sr < hi) ? sr - lo : 0.0;
  double after = 0.0;
  if (ss > sr) {
    if (ss > hi && hi > sr) {
      after = 0.0;
    } else if (lo < ss && ss < hi) {
      after = hi - ss;
    } else {
      after = h;
    }
  } else {
    // Sunset falls before sunrise on the clock (far from the reference meridian).
    if (ss > hi) {
      after = 0.0;
    } else if (ss > lo) {
      after = hi - ss;
    } else {
      after = sr > hi ? h : 0.0;
    }
  }
  double night = (before + after) / h;
  if (night > 1.0) night -= 1.0;
  if (night > kSubStepFullNight) night = 1.0;
  part.night_before_sunrise = before;
  part.night_fraction = night;
  part.day_fraction = 1.0 - night;
  part.is_night = part.day_fraction < kSubStepNightDaylight;
  return part;
}

double BeamRadiation(double elevation, double day_fraction, double hours) {
  if (!(elevation > kMinimumSunElevation)) return 0.0;
  const double cos_zenith = std::cos(kPi * 0.5 - elevation);
  return kSolarConstant * std::pow(kBeamTransmission, kBeamAirMassExponent / cos_zenith) * day_fraction *
         hours;
}

double CorrectedTemperature(double temperature, double factor, double scaling, double relative_sunshine,
                            bool sunlit) {
  if (factor > kWeakCorrectionFactor) return temperature + std::log(factor) * scaling * relative_sunshine;
  return temperature - scaling * kWeakCorrectionCooling * relative_sunshine * (sunlit ? 1.0 : 0.0);
}

void CastShadows(const shadow_terrain& terrain, double azimuth, double elevation, double** shadow) {
  const int nrows = terrain.nrows;
  const int ncols = terrain.ncols;
  if (nrows < 1 || ncols < 1) return;
  // Directions towards the sun: dx = 1 east, dy = 1 north; rays run away from it.
  int dx = -1;
  int dy = 1;
  if (azimuth <= kQuarterTurn) {
    dx = 1;
    dy = 1;
  } else if (azimuth <= kHalfTurn) {
    dx = 1;
    dy = -1;
  } else if (azimuth <= kThreeQuarterTurn) {
    dx = -1;
    dy = -1;
  }
  const int column_step = -dx;
  const int row_step = dy;

  const double cos_a = std::cos(azimuth);
  const double sin_a = std::sin(azimuth);
  const bool along_rows = std::fabs(cos_a) > kDiagonalCosine;
  const int major = along_rows ? nrows : ncols;
  const int minor = along_rows ? static_cast<int>(std::fabs(nrows * sin_a / cos_a))
                               : static_cast<int>(std::fabs(ncols * cos_a / sin_a));
  const double drop =
      (along_rows ? std::fabs(terrain.cellsize / cos_a) : std::fabs(terrain.cellsize / sin_a)) *
      std::tan(elevation);
  double** const height = terrain.elevation;
  double** const zone = terrain.zone;
  const double nodata = terrain.nodata;
  const int edge_row = dy == 1 ? 1 : nrows;
  const int edge_column = dx == 1 ? ncols : 1;

  // A ray that reaches a valid cell shades it when it runs above the ground,
  // else lights it and continues from the ground.
  const auto reach = [&](double& h, const double* zone_row, const double* height_row, double* shadow_row,
                         int c) {
    if (zone_row[c] == nodata) return;
    const double ground = height_row[c];
    if (h > ground) {
      shadow_row[c] = 1.0;
    } else {
      shadow_row[c] = 0.0;
      h = ground;
    }
  };

  if (!along_rows) {
    // Bresenham line from a start cell away from the sun, one column per
    // step along the row in memory; the ray sinks by `drop` per step.
    const auto march = [&](int r, int c) {
      double h = height[r][c];
      int error = -(major / 2);
      for (;;) {
        c += column_step;
        if (h > nodata) h -= drop;
        error += minor;
        if (error >= 0) {
          error -= major;
          r += row_step;
        }
        if (r < 1 || r > nrows || c < 1 || c > ncols) return;
        reach(h, zone[r], height[r], shadow[r], c);
      }
    };
    // Start cells: the side column facing the sun in every row from the far
    // edge on, then the whole edge row facing the sun.
    for (int i = 0; i < nrows; ++i) {
      const int r = dy == 1 ? nrows - i : 1 + i;
      if (r != edge_row) {
        march(r, edge_column);
        continue;
      }
      for (int j = 0; j < ncols; ++j) march(r, dx == 1 ? 1 + j : ncols - j);
    }
    return;
  }

  // Rays one row per step. Every ray has moved the same number of columns
  // after k steps, so all rays are advanced together row by row, which reads
  // each row once and in order. In each row the rays from the side column
  // come first, the later-started ones after the earlier, then those from
  // the edge row: the order in which ray after ray would reach the row.
  std::vector<int> shift(static_cast<std::size_t>(nrows) + 1, 0);
  int error = -(major / 2);
  for (int k = 1; k <= nrows; ++k) {
    error += minor;
    const bool moves = error >= 0;
    if (moves) error -= major;
    shift[static_cast<std::size_t>(k)] = shift[static_cast<std::size_t>(k) - 1] + (moves ? 1 : 0);
  }
  std::vector<double> side_height(static_cast<std::size_t>(nrows) + 1, 0.0);  // by start row
  for (int r = 1; r <= nrows; ++r) side_height[static_cast<std::size_t>(r)] = height[r][edge_column];
  std::vector<double> edge_height(static_cast<std::size_t>(ncols) + 1, 0.0);  // by start column
  for (int c = 1; c <= ncols; ++c) edge_height[static_cast<std::size_t>(c)] = height[edge_row][c];

  for (int k = 1; k < nrows; ++k) {
    const int r = edge_row + k * row_step;
    const double* zone_row = zone[r];
    const double* height_row = height[r];
    double* shadow_row = shadow[r];
    // Side rays started j rows back, j = 1 .. k - 1 (not on the edge row).
    for (int j = 1; j < k; ++j) {
      const int c = edge_column + column_step * shift[static_cast<std::size_t>(j)];
      if (c < 1 || c > ncols) break;  // this ray and every older one have left
      double& h = side_height[static_cast<std::size_t>(r - j * row_step)];
      h -= drop;
      reach(h, zone_row, height_row, shadow_row, c);
    }
    // Edge rays; they never meet one another.
    const int offset = column_step * shift[static_cast<std::size_t>(k)];
    const int first = std::max(1, 1 - offset);
    const int last = std::min(ncols, ncols - offset);
    for (int start = first; start <= last; ++start) {
      double& h = edge_height[static_cast<std::size_t>(start)];
      h -= drop;
      reach(h, zone_row, height_row, shadow_row, start + offset);
    }
  }
}

}  // namespace velmo
