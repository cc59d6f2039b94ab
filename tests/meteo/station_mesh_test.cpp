// Station meshes: spacing, neighbour boxes, corners and bilinear values on a
// small regular mesh, and the mesh columns of the splines.
#include "meteo/station_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace velmo {
namespace {

constexpr double kNodata = 9999.0;

// Stations counted from 1.
struct stations {
  std::vector<double> x{0.0}, y{0.0}, v{0.0};
  stations& Add(double sx, double sy, double value = 0.0) {
    x.push_back(sx);
    y.push_back(sy);
    v.push_back(value);
    return *this;
  }
  station_xy View() const { return {x.data(), y.data(), static_cast<int>(x.size()) - 1}; }
};

double Field(double x, double y) { return 10 + 0.002 * x - 0.001 * y; }

// Three columns (x 50, 1050, 2050) of four stations (y 50 ... 3050), listed
// in an order that is neither by row nor by column.
stations RegularMesh(bool without_one = false) {
  stations s;
  const int order[] = {5, 0, 11, 7, 2, 9, 4, 1, 10, 6, 3, 8};
  for (int k : order) {
    const double x = 50.0 + 1000.0 * (k % 3);
    const double y = 50.0 + 1000.0 * (k / 3);
    if (without_one && k == 7) continue;
    s.Add(x, y, Field(x, y));
  }
  return s;
}

TEST(StationMesh, SpacingAndSplineColumns) {
  const stations s = RegularMesh();
  const station_spacing spacing = ComputeStationSpacing(s.View());
  EXPECT_DOUBLE_EQ(spacing.horizontal, 1000.0);
  EXPECT_DOUBLE_EQ(spacing.vertical, 1000.0);

  station_mesh mesh;
  ASSERT_TRUE(BuildSplineMesh(s.View(), spacing, mesh));
  ASSERT_EQ(mesh.rows, 4);
  ASSERT_EQ(mesh.cols, 3);
  for (int r = 1; r <= 4; ++r) {
    for (int c = 1; c <= 3; ++c) {
      const int k = mesh.station(r, c);
      EXPECT_EQ(s.x[static_cast<size_t>(k)], 50.0 + 1000.0 * (c - 1)) << r << ", " << c;
      EXPECT_EQ(s.y[static_cast<size_t>(k)], 3050.0 - 1000.0 * (r - 1)) << r << ", " << c;
    }
  }

  // A station missing from the middle column.
  const stations gap = RegularMesh(true);
  EXPECT_FALSE(BuildSplineMesh(gap.View(), ComputeStationSpacing(gap.View()), mesh));

  // One row of stations has no vertical spacing.
  const stations row = stations{}.Add(0, 0).Add(500, 0).Add(1000, 0);
  const station_spacing flat = ComputeStationSpacing(row.View());
  EXPECT_DOUBLE_EQ(flat.horizontal, 500.0);
  EXPECT_EQ(flat.vertical, kNoSpacing);
}

TEST(StationMesh, NeighboursLieInsideOpenBoxes) {
  const station_spacing spacing{1000.0, 1000.0};
  struct Case {
    double x, y;
    mesh_direction direction;
    bool found;
  };
  const Case cases[] = {
      {1200, 0, mesh_direction::kEast, true},   {1250, 0, mesh_direction::kEast, false},
      {1300, 0, mesh_direction::kEast, false},  {750, 0, mesh_direction::kEast, false},
      {1000, 249, mesh_direction::kEast, true}, {1000, 250, mesh_direction::kEast, false},
      {-900, 0, mesh_direction::kWest, true},   {0, 800, mesh_direction::kNorth, true},
      {0, -1100, mesh_direction::kSouth, true}, {0, 1100, mesh_direction::kSouth, false},
  };
  for (const Case& c : cases) {
    const stations s = stations{}.Add(0, 0).Add(c.x, c.y);
    EXPECT_EQ(MeshNeighbour(s.View(), spacing, 1, c.direction), c.found ? 2 : 0) << c.x << ", " << c.y;
    // A station that was not found has no neighbours either.
    EXPECT_EQ(MeshNeighbour(s.View(), spacing, 0, c.direction), 0);
  }
  // The first station in order wins.
  const stations two = stations{}.Add(0, 0).Add(1100, 10).Add(1000, 0);
  EXPECT_EQ(FindStationInBox(two.View(), 0, 0, 750, 1250, -250, 250), 2);
}

TEST(StationMesh, BilinearInsideTheMeshAndFallbacks) {
  const stations s = RegularMesh();
  const station_spacing spacing = ComputeStationSpacing(s.View());
  corner_lookup lookup(s.View(), spacing);
  for (double y = 50; y < 3500; y += 100) {
    for (double x = 50; x < 2500; x += 100) {
      const mesh_corners c = ChooseCorners(s.View(), spacing, x, y);
      const mesh_corners& cached = lookup.Corners(lookup.KeyAt(x, y));
      EXPECT_TRUE(c.north_east == cached.north_east && c.north_west == cached.north_west &&
                  c.south_west == cached.south_west && c.south_east == cached.south_east);
      double value = 0.0;
      const bool inside = x < 2050 && y < 3050;
      ASSERT_EQ(Bilinear(s.View(), s.v.data(), kNodata, c, x, y, value), inside) << x << ", " << y;
      if (inside) {
        EXPECT_NEAR(value, Field(x, y), 1e-9) << x << ", " << y;
      }
    }
  }
  double value = 0.0;
  const mesh_corners c = ChooseCorners(s.View(), spacing, 1250, 1250);
  EXPECT_TRUE(Bilinear(s.View(), s.v.data(), kNodata, c, 1250, 1250, value));
  EXPECT_NEAR(value, 11.25, 1e-12);

  // A corner whose value is missing.
  std::vector<double> missing = s.v;
  missing[static_cast<size_t>(c.south_east)] = -kNodata - 1;
  EXPECT_FALSE(Bilinear(s.View(), missing.data(), kNodata, c, 1250, 1250, value));
  // Four corners of one station give its value; of a station without value
  // none.
  const mesh_corners one{4, 4, 4, 4};
  EXPECT_TRUE(Bilinear(s.View(), s.v.data(), kNodata, one, 1250, 1250, value));
  EXPECT_EQ(value, s.v[4]);
  EXPECT_FALSE(Bilinear(s.View(), missing.data(), kNodata,
                        {c.south_east, c.south_east, c.south_east, c.south_east}, 1250, 1250, value));
  // North-west and north-east corners at the same x'.
  const stations skew = stations{}.Add(0, 1000, 1).Add(0, 1000, 2).Add(0, 0, 3).Add(1000, 0, 4);
  EXPECT_FALSE(Bilinear(skew.View(), skew.v.data(), kNodata, {1, 2, 3, 4}, 500, 500, value));
}

}  // namespace
}  // namespace velmo
