// Derived grids: file names, cell sizes, coordinates, soil grids, slope and aspect, a full table.
#include "setup/derived.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr double N = -9999.0;
using test::Rows;

// ---- formulas

TEST(DerivedFileName, CutsAtTheLastDotOfTheFileNameOnly) {
  const struct {
    const char* source;
    const char* suffix;
    const char* expected;
  } cases[] = {
      {"soil.asc", ".intern.fk", "soil.intern.fk"},
      {"soil", ".intern.fk", "soil.intern.fk"},
      {"soil.v2.asc", ".intern.k", "soil.v2.intern.k"},
      {"data.v2/soil", ".intern.na", "data.v2/soil.intern.na"},
      {"data.v2\\soil", ".intern.na", "data.v2\\soil.intern.na"},
      {"data.v2/soil.asc", ".intern.na", "data.v2/soil.intern.na"},
      {"c:\\grids.old\\dem.grd", ".intern.sl", "c:\\grids.old\\dem.intern.sl"},
      // A created region grid's weights carry ".intern" twice.
      {"zone.intern.r1", ".intern.w1", "zone.intern.intern.w1"},
  };
  for (const auto& c : cases) EXPECT_EQ(DerivedFileName(c.source, c.suffix), c.expected) << c.source;
}

TEST(SlopeAndAspect, TiltedPlanesFaceDownslope) {
  // Neighbours N, S, W, E of a cell of size 1 on planes rising 1 per cell.
  const struct {
    const char* label;
    double north, south, west, east;
    double slope, aspect;
  } cases[] = {
      {"rising east", 0, 0, -1, 1, 45.0, 270.0},
      {"rising west", 0, 0, 1, -1, 45.0, 90.0},
      {"rising north", 1, -1, 0, 0, 45.0, 180.0},
      {"rising south", -1, 1, 0, 0, 45.0, 0.0},
      {"rising north-east", 1, -1, -1, 1, std::atan(std::sqrt(2.0)) * kSlopeDegreesPerRadian, 225.0},
      {"flat", 3, 3, 3, 3, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    const slope_and_aspect result = SlopeAndAspect(c.north, c.south, c.west, c.east, 1.0);
    EXPECT_NEAR(result.slope, c.slope, 1e-9) << c.label;
    EXPECT_NEAR(result.aspect, c.aspect, 1e-9) << c.label;
  }
  // The cell size scales the gradient: 2 m over two 100 m cells is 1 %.
  EXPECT_NEAR(SlopeAndAspect(0, 0, 0, 2, 100.0).slope, std::atan(0.01) * kSlopeDegreesPerRadian, 1e-12);
}

TEST(CompleteCellSizes, FillsWhatWasNotGiven) {
  constexpr double c = 10.0;
  const struct {
    const char* label;
    cell_sizes in;
    bool x, y, area;
    cell_size_fault fault;
    cell_sizes out;
  } cases[] = {
      {"nothing given", {0, 0, 0}, false, false, false, cell_size_fault::none, {10, 10, 1}},
      {"area 4", {0, 0, 4}, false, false, true, cell_size_fault::none, {20, 20, 4}},
      {"x and area", {20, 0, 3}, true, false, true, cell_size_fault::none, {20, 15, 3}},
      {"y and area", {0, 5, 2}, false, true, true, cell_size_fault::none, {40, 5, 2}},
      {"x and y", {20, 5, 0}, true, true, false, cell_size_fault::none, {20, 5, 1}},
      {"all consistent", {20, 5, 1.000005}, true, true, true, cell_size_fault::none, {20, 5, 1.000005}},
      {"area too large", {20, 5, 1.00002}, true, true, true, cell_size_fault::inconsistent_area, {}},
      {"area too small", {20, 5, 0.99998}, true, true, true, cell_size_fault::inconsistent_area, {}},
      {"x zero", {0, 5, 1}, true, true, true, cell_size_fault::zero_x, {}},
      {"y zero", {0, 0, 1}, false, true, true, cell_size_fault::zero_y, {}},
      // One size alone: the other is the regular one, never 0.
      {"x alone", {20, 0, 0}, true, false, false, cell_size_fault::none, {20, 10, 2}},
      {"y alone", {0, 5, 0}, false, true, false, cell_size_fault::none, {10, 5, 0.5}},
  };
  for (const auto& t : cases) {
    cell_sizes cell = t.in;
    EXPECT_EQ(CompleteCellSizes(cell, t.x, t.y, t.area, c), t.fault) << t.label;
    if (t.fault != cell_size_fault::none) continue;
    EXPECT_NEAR(cell.x, t.out.x, 1e-12) << t.label;
    EXPECT_NEAR(cell.y, t.out.y, 1e-12) << t.label;
    EXPECT_NEAR(cell.relative_area, t.out.relative_area, 1e-12) << t.label;
  }
}

// ---- the set-up object

// A 4 x 5 domain, cellsize 10, lower-left corner (1000, 2000). The grid
// files live in a directory with a "." in its name.
constexpr int kRows = 4;
constexpr int kCols = 5;
constexpr double kCell = 10.0;
// Row 3, column 2 is a hole inside its row's range.
const Rows kZone = {{N, 1, 1, 1, N}, {1, 1, 2, 2, N}, {1, N, 2, 2, 2}, {N, N, 2, 2, N}};

struct DerivedFixture : test::SmallDomainTest {
  DerivedFixture()
      : SmallDomainTest({.zone = kZone,
                         .elevation = {},
                         .landuse = {},
                         .soil = {},
                         .cellsize = kCell,
                         .xllcorner = 1000.0,
                         .yllcorner = 2000.0,
                         .grid_directory = "grids.v1",
                         .set_up = false}) {}
  ~DerivedFixture() override { setup.ReleaseDerivedGrids(); }

  std::string Path(const std::string& file) const { return domain.Path(file); }
  // Registers a grid read from `file` in the next free entry.
  double** Add(const std::string& file, const std::string& name, const Rows& rows) {
    return domain.AddGrid(name, rows, Path(file));
  }
  Rows Uniform(double value) const { return domain.Filled(value); }

  double** Data(const std::string& name) {
    const int index = setup.FindGrid(name, true);
    return index > 0 ? table[index].data : nullptr;
  }
  bool Written(const std::string& file) const { return std::filesystem::exists(Path(file)); }

  // Every table entry up to 999 in use.
  void FillTable() {
    for (int i = table.FirstFreeEntry(); i < kGridTableLimit; ++i)
      table[i].name = "filler" + std::to_string(i);
  }
};

TEST_F(DerivedFixture, RegularCellSizesAndCoordinatesAreWrittenBesideTheZoneGrid) {
  setup.MakeCellSizes();
  setup.MakeCoordinates();

  EXPECT_EQ(setup.grid_count, 5);
  EXPECT_FALSE(setup.cell_size_x_given || setup.cell_size_y_given || setup.rel_cell_area_given);
  EXPECT_EQ(setup.cell_weights, nullptr);  // a computed relative area is no cell weight
  EXPECT_EQ(table[2].name, "CellSizeX");
  EXPECT_EQ(table[3].name, "CellSizeY");
  EXPECT_EQ(table[4].name, "RelCellArea");
  EXPECT_EQ(table[5].name, "CoordX");
  EXPECT_EQ(table[6].name, "CoordY");
  EXPECT_EQ(table[2].file_name, Path("zone.intern.csx"));
  for (const char* file :
       {"zone.intern.csx", "zone.intern.csy", "zone.intern.rca", "zone.intern.cx", "zone.intern.cy"})
    EXPECT_TRUE(Written(file)) << file;
  for (int i = 2; i <= 6; ++i) EXPECT_EQ(table[i].write_code, 0) << i;

  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      const bool valid = kZone[r - 1][c - 1] != N;
      EXPECT_EQ(setup.cell_size_x[r][c], valid ? kCell : N) << r << "," << c;
      EXPECT_EQ(setup.cell_size_y[r][c], valid ? kCell : N) << r << "," << c;
      EXPECT_EQ(setup.rel_cell_area[r][c], valid ? 1.0 : N) << r << "," << c;
      EXPECT_EQ(setup.coord_x[r][c], valid ? 1000.0 + (c - 1) * kCell : N) << r << "," << c;
      EXPECT_EQ(setup.coord_y[r][c], valid ? 2000.0 + (kRows - r) * kCell : N) << r << "," << c;
    }
  }
  EXPECT_THAT(console.str(), HasSubstr("Checking cell sizes for variable Cells..."));
}

TEST_F(DerivedFixture, GivenRelativeAreaWidensCellsAndShiftsCoordinates) {
  Rows area = Uniform(1.0);
  area[1][1] = 4.0;  // row 2, column 2
  setup.cell_weights = Add("area.asc", "RelCellArea", area);
  setup.MakeCellSizes();
  setup.MakeCoordinates();

  EXPECT_TRUE(setup.rel_cell_area_given);
  EXPECT_FALSE(Written("zone.intern.rca"));
  EXPECT_TRUE(Written("zone.intern.csx"));
  EXPECT_EQ(setup.cell_size_x[2][2], 2 * kCell);
  EXPECT_EQ(setup.cell_size_y[2][2], 2 * kCell);
  EXPECT_EQ(setup.cell_weights[1][1], N);  // outside the catchment
  // Columns after the wide cell move right; the row above it moves up.
  EXPECT_EQ(setup.coord_x[2][3], 1000.0 + 3 * kCell);
  EXPECT_EQ(setup.coord_x[3][3], 1000.0 + 2 * kCell);
  EXPECT_EQ(setup.coord_y[1][2], 2000.0 + 4 * kCell);
  EXPECT_EQ(setup.coord_y[2][2], 2000.0 + 2 * kCell);
}

TEST_F(DerivedFixture, OneGivenCellSizeLeavesTheOtherRegular) {
  Add("csx.asc", "CellSizeX", Uniform(20.0));
  setup.MakeCellSizes();
  EXPECT_TRUE(setup.cell_size_x_given);
  EXPECT_FALSE(setup.cell_size_y_given);
  EXPECT_FALSE(Written("zone.intern.csx"));
  EXPECT_EQ(setup.cell_size_y[3][3], kCell);
  EXPECT_EQ(setup.rel_cell_area[3][3], 2.0);
  EXPECT_EQ(setup.cell_size_x[1][1], N);
}

TEST_F(DerivedFixture, OnlyCellSizesNothingElseReadsAreReleasedAfterSetUp) {
  // Given: the grid belongs to its reader here, not to the set-up object.
  Add("csx.asc", "CellSizeX", Uniform(20.0));
  setup.MakeCellSizes();
  setup.MakeCoordinates();
  const int y = setup.cell_size_y_index;
  ASSERT_EQ(table[y].name, "CellSizeY");
  // Kept while anything writes it or binds it by name.
  for (auto keep :
       {+[](grid_entry& e) { e.write_code = 1; }, +[](grid_entry& e) { e.read_in_steps = true; }}) {
    keep(table[y]);
    setup.ReleaseSetUpOnlyGrids();
    EXPECT_FALSE(table[y].released);
    EXPECT_EQ(setup.FindGrid("CellSizeY", false), y);
    table[y].write_code = 0;
    table[y].read_in_steps = false;
  }
  // Nor while another entry borrows its matrix.
  const int alias = table.FirstFreeEntry();
  table[alias].name = "alias";
  table[alias].data = table[y].data;
  setup.ReleaseSetUpOnlyGrids();
  EXPECT_FALSE(table[y].released);
  table[alias].name.clear();
  table[alias].data = nullptr;
  setup.ReleaseSetUpOnlyGrids();
  EXPECT_TRUE(table[y].released);
  EXPECT_EQ(setup.cell_size_y, nullptr);
  EXPECT_FALSE(table[setup.cell_size_x_index].released);
  EXPECT_EQ(setup.FindGrid("CellSizeX", false), setup.cell_size_x_index);
  // The grids after it are still found, the released one is not.
  EXPECT_EQ(setup.FindGrid("CellSizeY", true), 0);
  EXPECT_EQ(Data("CoordY"), setup.coord_y);
  EXPECT_EQ(setup.coord_y[4][3], 2000.0);
}

TEST(ReleasedGrids, GiveBackTheirWholeMappings) {
  // Rows of 320 KB: every block of the cell-size grids is mapped.
  test::SmallDomain domain(
      {.zone = test::Filled(2, 40000, 1.0), .elevation = {}, .landuse = {}, .soil = {}, .set_up = false});
  defaultini& setup = domain.setup();
  setup.map_large_blocks = true;  // also under the sanitizer, which keeps the heap otherwise
  setup.MakeCellSizes();
  test::HeldMemory released;
  test::HeldMemory kept;
  released.AddMatrix(setup.cell_size_x, 1, 2, setup.ncols);
  released.AddMatrix(setup.cell_size_y, 1, 2, setup.ncols);
  kept.AddMatrix(setup.rel_cell_area, 1, 2, setup.ncols);
  ASSERT_EQ(released.StillMapped(), released.size());

  setup.ReleaseSetUpOnlyGrids();
  ASSERT_TRUE(domain.grids()[setup.cell_size_x_index].released);
  ASSERT_TRUE(domain.grids()[setup.cell_size_y_index].released);
  EXPECT_EQ(released.StillMapped(), 0);
  EXPECT_EQ(kept.StillMapped(), kept.size());
  setup.ReleaseDerivedGrids();
  EXPECT_EQ(kept.StillMapped(), 0);
}

TEST_F(DerivedFixture, CellSizeErrorsNameTheCellAndTheFiles) {
  Rows x = Uniform(10.0);
  x[0][0] = 0.0;  // outside the catchment: no error
  double** size_x = Add("csx.asc", "CellSizeX", x);
  Add("csy.asc", "CellSizeY", Uniform(10.0));
  Rows area = Uniform(1.0);
  area[3][2] = 0.9;
  setup.cell_weights = Add("area.asc", "RelCellArea", area);
  std::string out = ExpectCode(66, [&] { setup.MakeCellSizes(); });
  EXPECT_THAT(out, HasSubstr("Cell size Y (10, from " + Path("csy.asc") + ") times\ncell size X (10, from " +
                             Path("csx.asc") +
                             ") \ndivided by the mean cell area is 1 and differs from \n"
                             "the relative grid cell size 0.9 (from " +
                             Path("area.asc") + ") by more than 0.001%%"));

  setup.cell_weights[4][3] = 1.0;
  const int count = setup.grid_count;
  setup.MakeCellSizes();
  EXPECT_EQ(setup.grid_count, count);  // all three given: nothing registered

  size_x[2][3] = 0.0;
  out = ExpectCode(66, [&] { setup.MakeCellSizes(); });
  EXPECT_THAT(out, HasSubstr("cell size in x direction is zero at row 2, column 3,\nread from file " +
                             Path("csx.asc")));
}

TEST_F(DerivedFixture, OnlyCellSizeYGivenAsZeroIsAnError) {
  Rows y = Uniform(10.0);
  y[2][0] = 0.0;
  Add("csy.asc", "CellSizeY", y);
  const std::string out = ExpectCode(66, [&] { setup.MakeCellSizes(); });
  EXPECT_THAT(out, HasSubstr("cell size in y direction is zero at row 3, column 1,\nread from file " +
                             Path("csy.asc")));
}

TEST_F(DerivedFixture, GridMaximumLooksInsideTheRowRanges) {
  Rows dem = Uniform(100.0);
  dem[0][0] = 5000.0;  // row 1 has no valid column
  dem[2][4] = 700.0;
  dem[3][4] = 900.0;  // outside the range of row 4
  const int index = table.FirstFreeEntry();
  Add("dem.asc", "[elevation_model]", dem);
  EXPECT_EQ(setup.GridMaximum(index), 700.0);

  const int empty = table.FirstFreeEntry();
  Add("empty.asc", "empty", Uniform(-20000.0));
  EXPECT_EQ(setup.GridMaximum(empty), N);
}

// ---- soil grids

struct SoilFixture : DerivedFixture {
  SoilFixture() {
    setup.soil_table.resize(3);
    setup.soil_table[0].code = 2;
    const double values[3][3] = {{0, 0, 0}, {30, 40, 1e-5}, {20, 10, 2e-6}};  // FCap, mSB, ksat
    for (int i = 1; i <= 2; ++i) {
      setup.soil_table[i].FCap = values[i][0];
      setup.soil_table[i].mSB = values[i][1];
      setup.soil_table[i].ksat_topmodel = values[i][2];
    }
    // Positions 1 and 2 (the codes already replaced); nodata outside.
    Rows soil = kZone;
    for (auto& row : soil)
      for (double& v : row)
        if (v != N) v = v == 1 ? 1 : 2;
    Add("soil.asc", "soil_types", soil);
    Add("root.asc", "root_depth1", Uniform(0.5));
  }
};

TEST_F(SoilFixture, SoilGridsComeFromTheTableAtEachCellsPosition) {
  setup.make_nFK_kWert_and_Na();
  EXPECT_TRUE(Written("soil.intern.fk"));
  EXPECT_TRUE(Written("soil.intern.k"));
  EXPECT_TRUE(Written("soil.intern.na"));
  const struct {
    double** grid;
    double soil1, soil2;
  } expected[] = {
      {setup.available_soil_moisture, 30 * 0.5 * 10, 20 * 0.5 * 10},
      {setup.hydraulic_conductivity, 1e-5, 2e-6},
      {setup.fillable_porosity, 0.4, 0.1},
  };
  for (const auto& e : expected) {
    ASSERT_NE(e.grid, nullptr);
    EXPECT_DOUBLE_EQ(e.grid[2][2], e.soil1);
    EXPECT_DOUBLE_EQ(e.grid[2][3], e.soil2);
    EXPECT_EQ(e.grid[1][1], 0.0);  // outside the row range
    EXPECT_EQ(e.grid[4][5], 0.0);
    EXPECT_EQ(e.grid[3][2], N);  // inside the range, outside the catchment
  }
}

TEST_F(SoilFixture, AReadSoilGridIsUsedUnchanged) {
  double** given = Add("nfk.asc", "available_soil_moisture", Uniform(77.0));
  setup.make_nFK_kWert_and_Na();
  EXPECT_EQ(setup.available_soil_moisture, given);
  EXPECT_EQ(given[2][2], 77.0);
  EXPECT_FALSE(Written("soil.intern.fk"));
  EXPECT_TRUE(Written("soil.intern.k"));
}

TEST_F(SoilFixture, SoilErrors) {
  // The soil moisture needs the root depth of layer 1.
  const int root = setup.FindGrid("root_depth1", true);
  table[root].name = "root_depth2";
  std::string out = ExpectCode(33, [&] { setup.make_nFK_kWert_and_Na(); });
  EXPECT_THAT(out, HasSubstr("root_depth1 not found in memory"));
  table[root].name = "root_depth1";

  // A position that names no record (a fractional code is never replaced).
  Data("soil_types")[3][3] = 10.5;
  out = ExpectCode(32, [&] { setup.make_nFK_kWert_and_Na(); });
  EXPECT_THAT(out, HasSubstr("soil type 10.5 at row 3, column 3 in grid " + Path("soil.asc")));
}

TEST_F(DerivedFixture, WithoutSoilTypesNoSoilGridIsMade) {
  setup.make_nFK_kWert_and_Na();
  EXPECT_EQ(setup.grid_count, 0);
  EXPECT_EQ(setup.available_soil_moisture, nullptr);
}

// ---- slope and aspect

TEST_F(DerivedFixture, SlopeAndAspectOfAPlaneRisingEastIncludingTheBorder) {
  Rows dem(kRows, std::vector<double>(kCols));
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) dem[r][c] = 500.0 + kCell * c;  // 1 m per m eastward
  dem[3][0] = N;
  Add("dem.asc", "[elevation_model]", dem);
  setup.make_Slope_and_Aspect();

  EXPECT_EQ(table[setup.slope_index].name, "slope_angle");
  EXPECT_EQ(setup.aspect_index, setup.slope_index + 1);
  EXPECT_TRUE(Written("dem.intern.sl"));
  EXPECT_TRUE(Written("dem.intern.ex"));
  EXPECT_THAT(console.str(), HasSubstr("calculating the lokal topography (aspect, slope ...).. "));
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      if (dem[r - 1][c - 1] == N) {
        EXPECT_EQ(setup.slope_angle[r][c], N);
        EXPECT_EQ(setup.slope_aspect[r][c], N);
        continue;
      }
      // The interior directly, the border from its neighbours' means.
      EXPECT_NEAR(setup.slope_angle[r][c], 45.0, 1e-9) << r << "," << c;
      EXPECT_NEAR(setup.slope_aspect[r][c], 270.0, 1e-9) << r << "," << c;
    }
  }
}

TEST_F(DerivedFixture, BorderCellsTakeTheMeanOfTheirValidNeighbours) {
  Add("dem.asc", "[elevation_model]", {{0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}});
  setup.make_Slope_and_Aspect();
  const double a22 = SlopeAndAspect(1, 0, 0, 2, kCell).aspect;
  const double a23 = SlopeAndAspect(2, 0, 1, 3, kCell).aspect;
  ASSERT_NE(a22, a23);
  EXPECT_NEAR(setup.slope_aspect[2][2], a22, 1e-9);
  EXPECT_NEAR(setup.slope_aspect[2][3], a23, 1e-9);
  // The corner has one computed neighbour; the next cell counts the corner
  // filled just before it.
  EXPECT_NEAR(setup.slope_aspect[1][1], a22, 1e-9);
  EXPECT_NEAR(setup.slope_aspect[1][2], (a23 + a22 + a22) / 3.0, 1e-9);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) EXPECT_NE(setup.slope_angle[r][c], N) << r << "," << c;
}

TEST(SlopeAndAspectGrids, AConeFacesAwayFromItsApexAllRound) {
  // A 5 x 5 cone with its apex in the centre, falling 10 m per 10 m of
  // distance from it. Row 1 is the north edge of the grid.
  constexpr int kSize = 5;
  constexpr int kApex = 3;
  test::Rows cone;
  for (int r = 1; r <= kSize; ++r) {
    cone.emplace_back();
    for (int c = 1; c <= kSize; ++c) cone.back().push_back(100.0 - kCell * std::hypot(r - kApex, c - kApex));
  }
  test::SmallDomain domain{{.zone = test::Filled(kSize, kSize, 1.0),
                            .elevation = cone,
                            .landuse = {},
                            .soil = {},
                            .cellsize = kCell,
                            .set_up = false}};
  defaultini& setup = domain.setup();
  setup.make_Slope_and_Aspect();
  ASSERT_NE(setup.slope_aspect, nullptr);

  const struct {
    const char* label;
    int r, c;
    double aspect;
  } cases[] = {
      {"north", 2, 3, 0.0},        {"east", 3, 4, 90.0},        {"south", 4, 3, 180.0},
      {"west", 3, 2, 270.0},       {"north-east", 2, 4, 45.0},  {"south-east", 4, 4, 135.0},
      {"south-west", 4, 2, 225.0}, {"north-west", 2, 2, 315.0},
  };
  for (const auto& k : cases) EXPECT_NEAR(setup.slope_aspect[k.r][k.c], k.aspect, 1e-9) << k.label;
  // The axis cells all fall 20 m over two cells: 45 degrees each.
  const double north_slope = setup.slope_angle[2][3];
  EXPECT_NEAR(north_slope, 45.0, 1e-9);
  EXPECT_EQ(setup.slope_angle[3][4], north_slope);
  EXPECT_EQ(setup.slope_angle[4][3], north_slope);
  EXPECT_EQ(setup.slope_angle[3][2], north_slope);
  // The apex is flat.
  EXPECT_EQ(setup.slope_angle[kApex][kApex], 0.0);
  setup.ReleaseDerivedGrids();
}

TEST_F(DerivedFixture, AGivenSlopeIsKeptAndOnlyTheAspectComputed) {
  Add("dem.asc", "[elevation_model]", Uniform(300.0));
  double** slope = Add("slope.asc", "slope_angle", Uniform(12.0));
  setup.make_Slope_and_Aspect();
  EXPECT_EQ(setup.slope_angle, slope);
  EXPECT_EQ(slope[2][2], 12.0);
  EXPECT_FALSE(Written("dem.intern.sl"));
  EXPECT_TRUE(Written("dem.intern.ex"));
  EXPECT_EQ(setup.slope_aspect[2][2], 0.0);  // flat

  const int count = setup.grid_count;
  Add("aspect.asc", "slope_aspect", Uniform(5.0));
  // Both given now (the first "slope_aspect" computed above is found first).
  console.str("");
  setup.make_Slope_and_Aspect();
  EXPECT_EQ(setup.grid_count, count + 1);
  EXPECT_THAT(console.str(), Not(HasSubstr("calculating the lokal topography")));
}

// ---- ice and firn, full table

TEST_F(DerivedFixture, IceFirnCheckNamesTheFirstFreePosition) {
  Add("dem.asc", "[elevation_model]", Uniform(300.0));
  setup.check_ice_firn_grid();
  EXPECT_THAT(console.str(), HasSubstr("ice-grid not found in memory (at position 3)"));
  Add("ice.asc", "ice_firn", Uniform(1.0));
  console.str("");
  setup.check_ice_firn_grid();
  EXPECT_EQ(console.str(), "");
}

TEST_F(DerivedFixture, AFullGridTableEndsTheRunWithCode12) {
  Add("dem.asc", "[elevation_model]", Uniform(300.0));
  FillTable();
  const struct {
    const char* label;
    std::function<void()> step;
    const char* message;
  } cases[] = {
      {"cell sizes", [&] { setup.MakeCellSizes(); }, "no free grid found in memory (at position 1000)"},
      {"coordinates", [&] { setup.MakeCoordinates(); }, "no free grid found in memory (at position 1000)"},
      {"slope", [&] { setup.make_Slope_and_Aspect(); }, "no free grid found in memeory (at position 1000)"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(ExpectCode(12, c.step), HasSubstr(c.message)) << c.label;
  }
}

}  // namespace
}  // namespace velmo
