// Station meshes: spacing, neighbour boxes, corner stations, bilinear values
// and mesh columns for the splines.
#include "meteo/station_mesh.h"

#include <cmath>
#include <deque>

namespace velmo {
namespace {

// Spacings at or below this take no part in the mean.
constexpr double kSpacingCountsAbove = -1000.0;

// The side of a point on which its nearest station N lies.
enum corner_side : int { kNorthEastSide = 0, kNorthWestSide = 1, kSouthWestSide = 2, kSouthEastSide = 3 };
inline constexpr int kSides = 4;

corner_side SideOf(double dx, double dy) {
  if (dx <= 0.0) return dy <= 0.0 ? kSouthWestSide : kNorthWestSide;
  return dy <= 0.0 ? kSouthEastSide : kNorthEastSide;
}

mesh_corners CornersFrom(const station_xy& s, const station_spacing& sp, int nearest, corner_side side) {
  auto go = [&](int from, mesh_direction d) { return MeshNeighbour(s, sp, from, d); };
  mesh_corners c;
  switch (side) {
    case kSouthWestSide:
      c.south_west = nearest;
      c.north_west = go(nearest, mesh_direction::kNorth);
      c.north_east = go(c.north_west, mesh_direction::kEast);
      c.south_east = go(nearest, mesh_direction::kEast);
      break;
    case kNorthWestSide:
      c.north_west = nearest;
      c.south_west = go(nearest, mesh_direction::kSouth);
      c.south_east = go(c.south_west, mesh_direction::kEast);
      c.north_east = go(nearest, mesh_direction::kEast);
      break;
    case kSouthEastSide:
      c.south_east = nearest;
      c.south_west = go(nearest, mesh_direction::kWest);
      c.north_west = go(c.south_west, mesh_direction::kNorth);
      c.north_east = go(nearest, mesh_direction::kNorth);
      break;
    case kNorthEastSide:
      c.north_east = nearest;
      c.north_west = go(nearest, mesh_direction::kWest);
      c.south_west = go(c.north_west, mesh_direction::kSouth);
      c.south_east = go(nearest, mesh_direction::kSouth);
      break;
  }
  return c;
}

}  // namespace

station_spacing ComputeStationSpacing(const station_xy& s) {
  double h_sum = 0.0, v_sum = 0.0;
  int h_count = 0, v_count = 0;
  for (int i = 1; i <= s.count; ++i) {
    double horizontal = kNoSpacing;
    double vertical = kNoSpacing;
    for (int j = 1; j <= s.count; ++j) {
      if (j == i) continue;
      const double dx = s.x[j] - s.x[i];
      const double dy = s.y[j] - s.y[i];
      const double d = std::sqrt(dx * dx + dy * dy);
      if (std::fabs(dy) <= std::fabs(dx)) {
        if (dx > 0.0 && (horizontal == kNoSpacing || d < horizontal)) horizontal = d;
      } else if (dy > 0.0 && (vertical == kNoSpacing || d < vertical)) {
        vertical = d;
      }
    }
    if (horizontal > kSpacingCountsAbove) {
      h_sum += horizontal;
      ++h_count;
    }
    if (vertical > kSpacingCountsAbove) {
      v_sum += vertical;
      ++v_count;
    }
  }
  station_spacing result;
  if (h_count > 0) result.horizontal = h_sum / h_count;
  if (v_count > 0) result.vertical = v_sum / v_count;
  return result;
}

int FindStationInBox(const station_xy& s, double x0, double y0, double a1, double a2, double b1, double b2) {
  for (int i = 1; i <= s.count; ++i) {
    if (x0 + a1 < s.x[i] && s.x[i] < x0 + a2 && y0 + b1 < s.y[i] && s.y[i] < y0 + b2) return i;
  }
  return 0;
}

int MeshNeighbour(const station_xy& s, const station_spacing& sp, int station, mesh_direction direction) {
  if (station <= 0) return 0;
  const double t = kMeshBoxTolerance;
  const double h = sp.horizontal;
  const double v = sp.vertical;
  const double x = s.x[station];
  const double y = s.y[station];
  switch (direction) {
    case mesh_direction::kEast:
      return FindStationInBox(s, x, y, (1 - t) * h, (1 + t) * h, -t * v, t * v);
    case mesh_direction::kWest:
      return FindStationInBox(s, x, y, -(1 + t) * h, -(1 - t) * h, -t * v, t * v);
    case mesh_direction::kNorth:
      return FindStationInBox(s, x, y, -t * h, t * h, (1 - t) * v, (1 + t) * v);
    case mesh_direction::kSouth:
      return FindStationInBox(s, x, y, -t * h, t * h, -(1 + t) * v, -(1 - t) * v);
  }
  return 0;
}

int NearestStation(const station_xy& s, double x, double y) {
  int best = 0;
  double best_d2 = 0.0;
  for (int i = 1; i <= s.count; ++i) {
    const double dx = s.x[i] - x;
    const double dy = s.y[i] - y;
    const double d2 = dx * dx + dy * dy;
    if (best == 0 || d2 < best_d2) {
      best = i;
      best_d2 = d2;
    }
  }
  return best;
}

mesh_corners ChooseCorners(const station_xy& s, const station_spacing& spacing, double x, double y) {
  const int nearest = NearestStation(s, x, y);
  if (nearest == 0) return {};
  return CornersFrom(s, spacing, nearest, SideOf(s.x[nearest] - x, s.y[nearest] - y));
}

corner_lookup::corner_lookup(const station_xy& s, const station_spacing& spacing)
    : stations_(s),
      spacing_(spacing),
      corners_(static_cast<size_t>(s.count + 1) * kSides),
      known_(corners_.size(), 0) {}

int corner_lookup::KeyAt(double x, double y) {
  const int nearest = NearestStation(stations_, x, y);
  if (nearest == 0) return 0;  // key 0 keeps no corners
  const corner_side side = SideOf(stations_.x[nearest] - x, stations_.y[nearest] - y);
  const int key = nearest * kSides + side;
  if (!known_[static_cast<size_t>(key)]) {
    corners_[static_cast<size_t>(key)] = CornersFrom(stations_, spacing_, nearest, side);
    known_[static_cast<size_t>(key)] = 1;
  }
  return key;
}

bilinear_square PrepareSquare(const station_xy& s, const double* values, double nodata,
                              const mesh_corners& c) {
  auto found = [&](int station) { return station > 0 && values[station] >= -nodata; };
  bilinear_square q;
  if (c.north_east == c.north_west && c.north_east == c.south_west && c.north_east == c.south_east) {
    if (!found(c.north_east)) return q;
    q.usable = true;
    q.north_west = q.north_east = q.south_west = q.south_east = values[c.north_east];
    return q;
  }
  if (!found(c.north_east) || !found(c.north_west) || !found(c.south_west) || !found(c.south_east)) return q;
  const double x_west = s.x[c.north_west];
  const double x_east = s.x[c.north_east];
  const double y_north = s.y[c.north_west];
  const double y_south = s.y[c.south_west];
  if (x_east == x_west || y_south == y_north) return q;
  q.usable = true;
  q.x_west = x_west;
  q.x_scale = 1.0 / (x_east - x_west);
  q.y_north = y_north;
  q.y_scale = 1.0 / (y_south - y_north);
  q.north_west = values[c.north_west];
  q.north_east = values[c.north_east];
  q.south_west = values[c.south_west];
  q.south_east = values[c.south_east];
  return q;
}

bool Bilinear(const station_xy& s, const double* values, double nodata, const mesh_corners& c, double x,
              double y, double& value) {
  const bilinear_square q = PrepareSquare(s, values, nodata, c);
  if (!q.usable) return false;
  value = BilinearValue(q, x, y);
  return true;
}

bool BuildSplineMesh(const station_xy& s, const station_spacing& spacing, station_mesh& mesh) {
  std::vector<int> unplaced(static_cast<size_t>(s.count) + 1, 1);
  unplaced[0] = 0;
  std::vector<std::deque<int>> columns;
  while (AnyNonZero(unplaced.data(), s.count)) {
    int start = 0;
    for (int i = 1; i <= s.count; ++i) {
      if (unplaced[static_cast<size_t>(i)] && (start == 0 || s.x[i] < s.x[start])) start = i;
    }
    std::deque<int>& column = columns.emplace_back();
    for (int k = start; k > 0 && unplaced[static_cast<size_t>(k)];
         k = MeshNeighbour(s, spacing, k, mesh_direction::kSouth)) {
      column.push_back(k);
      unplaced[static_cast<size_t>(k)] = 0;
    }
    for (int k = MeshNeighbour(s, spacing, start, mesh_direction::kNorth);
         k > 0 && unplaced[static_cast<size_t>(k)];
         k = MeshNeighbour(s, spacing, k, mesh_direction::kNorth)) {
      column.push_front(k);
      unplaced[static_cast<size_t>(k)] = 0;
    }
  }
  mesh = station_mesh{};
  if (columns.empty()) return true;
  const size_t rows = columns.front().size();
  for (const std::deque<int>& column : columns) {
    if (column.size() != rows) return false;
  }
  mesh.rows = static_cast<int>(rows);
  mesh.cols = static_cast<int>(columns.size());
  mesh.stations.resize(rows * columns.size());
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < columns.size(); ++c) mesh.stations[r * columns.size() + c] = columns[c][r];
  }
  return true;
}

int AnyNonZero(const int* values, int n) {
  for (int i = 1; i <= n; ++i) {
    if (values[i] != 0) return 1;
  }
  return 0;
}

}  // namespace velmo
