// Stations as the nodes of a regular, possibly turned mesh (methods 5 to 8):
// the average spacing, neighbours found in boxes around a station, the four
// corner stations around a point with the bilinear value between them, and
// the arrangement of the stations into mesh columns for the splines.
//
// Every function works on the station coordinates in the frame of the mesh
// (x', y': the stations turned by the mesh slope), arrays counted 1..count.
#pragma once

#include <cstddef>
#include <vector>

namespace velmo {

// Code of stations that do not form mesh columns of equal length.
inline constexpr int kUnevenMeshCode = 70;
// A spacing without any station in its direction.
inline constexpr double kNoSpacing = -9999.0;
// Neighbour boxes reach this fraction of the spacing around the expected spot.
inline constexpr double kMeshBoxTolerance = 0.25;

struct station_xy {
  const double* x = nullptr;
  const double* y = nullptr;
  int count = 0;
};

// Mean distance from each station to its nearest station eastward (|dy| at
// most |dx|) and northward (|dy| above |dx|); kNoSpacing when no station has
// one.
struct station_spacing {
  double horizontal = kNoSpacing;
  double vertical = kNoSpacing;
};
station_spacing ComputeStationSpacing(const station_xy& s);

// The first station, in station order, strictly inside the box
// x0 + a1 < x' < x0 + a2, y0 + b1 < y' < y0 + b2; 0 when none.
int FindStationInBox(const station_xy& s, double x0, double y0, double a1, double a2, double b1, double b2);

enum class mesh_direction { kEast, kWest, kNorth, kSouth };
// The station one spacing away from `station` in a direction, within the
// box tolerance; 0 when none, and when `station` is 0 itself.
int MeshNeighbour(const station_xy& s, const station_spacing& spacing, int station, mesh_direction direction);

// The nearest station to a point (the first one at equal distance); 0 when
// there are none.
int NearestStation(const station_xy& s, double x, double y);

// The four corners of the mesh square around a point, 0 where not found.
struct mesh_corners {
  int north_east = 0;
  int north_west = 0;
  int south_west = 0;
  int south_east = 0;
};
// The corners around (x, y): the nearest station is the corner on the
// point's side, and the others are searched from it through the boxes.
mesh_corners ChooseCorners(const station_xy& s, const station_spacing& spacing, double x, double y);

// Corners looked up once per nearest station and side: cells sharing both
// share their corners, so a grid needs at most four searches per station.
class corner_lookup {
 public:
  corner_lookup(const station_xy& s, const station_spacing& spacing);
  // Key of a point: the nearest station and its side of the point.
  int KeyAt(double x, double y);
  const mesh_corners& Corners(int key) const { return corners_[static_cast<std::size_t>(key)]; }
  int KeyCount() const { return static_cast<int>(corners_.size()); }

 private:
  station_xy stations_;
  station_spacing spacing_;
  std::vector<mesh_corners> corners_;
  std::vector<char> known_;
};

// A mesh square prepared for one record: bilinear in (x, y) between its four
// corner values, or not usable (a corner missing or the square degenerate).
struct bilinear_square {
  bool usable = false;
  double x_west = 0.0;
  double x_scale = 0.0;  // 1 / (x_east - x_west); 0 when all corners are one station
  double y_north = 0.0;
  double y_scale = 0.0;  // 1 / (y_south - y_north)
  double north_west = 0.0, north_east = 0.0, south_west = 0.0, south_east = 0.0;
};
// `values` are the current station values; a corner whose value is below -N
// counts as not found.
bilinear_square PrepareSquare(const station_xy& s, const double* values, double nodata,
                              const mesh_corners& c);

inline double BilinearValue(const bilinear_square& q, double x, double y) {
  const double a = (x - q.x_west) * q.x_scale;
  const double b = (y - q.y_north) * q.y_scale;
  return (1.0 - a) * (1.0 - b) * q.north_west + a * (1.0 - b) * q.north_east + (1.0 - a) * b * q.south_west +
         a * b * q.south_east;
}

// The bilinear value at (x, y) between the corners; false when the caller
// falls back to distance weighting.
bool Bilinear(const station_xy& s, const double* values, double nodata, const mesh_corners& c, double x,
              double y, double& value);

// The stations in mesh columns, each listed north to south, the columns by
// rising x' of the station they started from: station(r, c) for rows 1..rows
// and columns 1..cols.
struct station_mesh {
  int rows = 0;
  int cols = 0;
  std::vector<int> stations;  // row-major
  int station(int r, int c) const { return stations[static_cast<std::size_t>((r - 1) * cols + (c - 1))]; }
};
// False when the columns differ in length.
bool BuildSplineMesh(const station_xy& s, const station_spacing& spacing, station_mesh& mesh);

// 1 if any of the elements 1..n is non-zero, else 0.
int AnyNonZero(const int* values, int n);

}  // namespace velmo
