// The grid table: creation, look-ups by name, registration and release of entries.
#include "framework/gridtable.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;

constexpr int kRows = 3;
constexpr int kCols = 4;

struct GridTableFixture : test::MessagesTest {
  grid_table table{&ms};
  modelobject object{&ms, "none"};
  // A grid owned by the test, as a module owns its grids.
  double** grid = nullptr;

  GridTableFixture() {
    object.grids = &table;
    object.ncols = kCols;
    object.nrows = kRows;
    object.name = "snow_model";
    grid = object.matrix(1, kRows, 1, kCols, 0);
  }
  ~GridTableFixture() override { object.FreeMatrix(grid); }

  void Register(int index, const std::string& grid_name, int write_code = 0) {
    object.RegisterGrid(index, grid_name + ".asc", grid, nullptr, 0, grid_name, write_code, 1, kRows);
  }
};

TEST_F(GridTableFixture, FreshTableHoldsInitialStateFromEntryOne) {
  for (int index : {1, 500, 1000}) {
    const grid_entry& e = table[index];
    EXPECT_FALSE(e.in_use());
    EXPECT_EQ(e.data, nullptr);
    EXPECT_EQ(e.layer_count, 1);
    EXPECT_EQ(e.step_count, 1.0);
    EXPECT_EQ(e.period_length, -1);
    EXPECT_EQ(e.elapsed_periods, -1);
    EXPECT_TRUE(e.persistent);
    EXPECT_EQ(e.readcode, 1);
    EXPECT_EQ(e.defaultValue, 0.0);
    EXPECT_EQ(e.write_code, 0);
  }
  EXPECT_EQ(table.entries.size(), static_cast<size_t>(kGridTableSize));
  EXPECT_EQ(table[0].layer_count, 0);
  EXPECT_FALSE(table[0].persistent);
  EXPECT_EQ(table.FirstFreeEntry(), 1);
}

TEST_F(GridTableFixture, LookUpsFindTheLowestIndexOfAName) {
  Register(1, "[zone_grid]");
  Register(2, "b");
  Register(3, "a");
  Register(4, "a");
  Register(5, "c");
  struct Case {
    const char* name;
    int index;
  } cases[] = {{"[zone_grid]", 1}, {"a", 3}, {"b", 2}, {"c", 5}, {"A", 0}, {"a ", 0}, {"", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(object.FindGrid(c.name, false), c.index);
    EXPECT_EQ(object.FindGrid(c.name, true), c.index);
    if (c.index > 0) {
      EXPECT_EQ(object.FindRequiredGrid(c.name), c.index);
    }
  }
  // The order of the names is the priority, whatever the table order.
  EXPECT_EQ(object.FindOneOfThreeGrids("a", "b", "c"), 3);
  EXPECT_EQ(object.FindOneOfThreeGrids("x", "c", "b"), 5);
  EXPECT_EQ(object.FindOneOfFourGrids("x", "y", "z", "b"), 2);
  EXPECT_EQ(object.FindOneOfFourGrids("c", "y", "z", "b"), 5);
}

TEST_F(GridTableFixture, FindGridStopsAtAnEntryWithoutDataUnlessLookingPast) {
  Register(1, "[zone_grid]");
  object.RegisterGrid(2, "later.asc", nullptr, nullptr, 0, "unread", 0, 1, kRows);
  Register(3, "behind");
  EXPECT_EQ(object.FindGrid("behind", false), 0);
  EXPECT_EQ(object.FindGrid("behind", true), 3);
  EXPECT_EQ(object.FindRequiredGrid("behind"), 3);
  // Entry 1 needs no data to be found: the zone grid is named before it is read.
  table[1].data = nullptr;
  EXPECT_EQ(object.FindGrid("[zone_grid]", false), 1);
}

TEST_F(GridTableFixture, LookUpsEndAtTheFirstFreeEntry) {
  // Nothing in entry 1: no look-up reads past it.
  Register(2, "two");
  EXPECT_EQ(object.FindGrid("two", true), 0);
  Register(1, "one");
  Register(3, "three");
  EXPECT_EQ(object.FindGrid("three", true), 3);
  object.ReleaseGrid(2);
  EXPECT_EQ(object.FindGrid("three", true), 0);
  ExpectCode(kMissingGridCode, [&] { object.FindRequiredGrid("three"); });
  EXPECT_EQ(table.FirstFreeEntry(), 2);
}

TEST_F(GridTableFixture, ReleasedEntriesArePassedOverByEveryLookUp) {
  Register(1, "[zone_grid]");
  Register(2, "halo");
  Register(3, "behind");
  Register(4, "twin");
  Register(5, "twin");
  table.MarkReleased(2);
  table.MarkReleased(4);
  EXPECT_TRUE(table[2].in_use());
  EXPECT_EQ(table[2].data, nullptr);
  // Not an end of the search, and never found itself; a later entry of the
  // same name is found in its place.
  for (bool look_past_empty : {false, true}) {
    SCOPED_TRACE(look_past_empty);
    EXPECT_EQ(object.FindGrid("behind", look_past_empty), 3);
    EXPECT_EQ(object.FindGrid("halo", look_past_empty), 0);
    EXPECT_EQ(object.OptionalGridData("halo", look_past_empty), nullptr);
    EXPECT_EQ(object.FindGrid("twin", look_past_empty), 5);
  }
  EXPECT_EQ(object.FindRequiredGrid("twin"), 5);
  EXPECT_EQ(object.FindOneOfThreeGrids("halo", "x", "behind"), 3);
  // A module asking for it meets the missing-grid FATAL, not a null grid.
  EXPECT_NE(
      ExpectCode(kMissingGridCode, [&] { object.RequiredGridData("halo"); }).find("halo not found in memory"),
      std::string::npos);
  ExpectCode(kMissingGridCode, [&] { object.FindOneOfFourGrids("halo", "x", "y", "z"); });
  // Its place stays taken; a new registration or a release ends the state.
  EXPECT_EQ(table.FirstFreeEntry(), 6);
  Register(4, "twin");
  EXPECT_EQ(object.FindGrid("twin", false), 4);
  object.ReleaseGrid(2);
  EXPECT_FALSE(table[2].released);
  EXPECT_EQ(table.FirstFreeEntry(), 2);
}

TEST_F(GridTableFixture, OnlyEntriesNothingReadsAfterSetUpAreReleasable) {
  struct Case {
    const char* what;
    int write_code;
    void (*change)(grid_entry&);
    bool releasable;
  } cases[] = {
      {"plain", 0, [](grid_entry&) {}, true},
      {"written", 1, [](grid_entry&) {}, false},
      {"period sums", 20, [](grid_entry&) {}, false},
      {"extremes", 300, [](grid_entry&) {}, false},
      {"vegetation period", 1000, [](grid_entry&) {}, false},
      {"statistics", 0, [](grid_entry& e) { e.statfile = "halo.stat"; }, false},
      {"re-read", 0, [](grid_entry& e) { e.period_length = 1; }, false},
      {"not persistent", 0, [](grid_entry& e) { e.persistent = false; }, false},
      {"bound by name", 0, [](grid_entry& e) { e.read_in_steps = true; }, false},
      {"no data", 0, [](grid_entry& e) { e.data = nullptr; }, false},
      {"released", 0, [](grid_entry& e) { e.released = true; }, false},
  };
  Register(1, "[zone_grid]");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    table[2].SetInitialState();
    Register(2, "halo", c.write_code);
    c.change(table[2]);
    EXPECT_EQ(table[2].ReleasableAfterSetup(), c.releasable);
    object.ReleaseGrid(2);
  }
}

TEST_F(GridTableFixture, EntriesAreTakenInOrderAndReusedAfterRelease) {
  const char* names[] = {"[zone_grid]", "[elevation_model]", "landuse", "soil_types"};
  int expected = 1;
  for (const char* n : names) {
    const int index = table.FirstFreeEntry();
    EXPECT_EQ(index, expected++);
    Register(index, n);
  }
  object.ReleaseGrid(4);
  EXPECT_EQ(table.FirstFreeEntry(), 4);
  Register(4, "albedo");
  EXPECT_EQ(object.FindRequiredGrid("albedo"), 4);
  EXPECT_EQ(object.FindGrid("soil_types", true), 0);
}

TEST_F(GridTableFixture, LastUsableEntryIs999AndEntry1000IsRefused) {
  for (int index = 1; index < kGridTableLimit; ++index) Register(index, "g" + std::to_string(index));
  EXPECT_EQ(object.FindRequiredGrid("g999"), 999);
  EXPECT_EQ(object.FindGrid("g999", false), 999);
  EXPECT_EQ(table.FirstFreeEntry(), kGridTableLimit);
  // Even a name placed in entry 1000 by hand is never returned.
  table[1000].name = "g1000";
  table[1000].data = grid;
  EXPECT_EQ(object.FindGrid("g1000", true), 0);
  ExpectCode(kMissingGridCode, [&] { object.FindRequiredGrid("g1000"); });
  table[1000].name.clear();

  for (int index : {1000, 0, -1, 1001}) {
    SCOPED_TRACE(index);
    const std::string text = ExpectCode(kNoFreeGridCode, [&] { Register(index, "extra"); });
    EXPECT_EQ(text, "no free grid in memory,(max. 1000)!\n");
  }
  EXPECT_FALSE(table[1000].in_use());
  EXPECT_FALSE(table[0].in_use());
}

TEST_F(GridTableFixture, MissingGridsAreFatalWithCode33) {
  Register(1, "[zone_grid]");
  EXPECT_EQ(ExpectCode(kMissingGridCode, [&] { object.FindRequiredGrid("temperature"); }),
            "\n---------------- !!! ERROR !!!  --------------------------\n"
            "temperature not found in memory,\nThese data are needed within snow_model \n"
            "if they are interpolated data, please specify an interpolator for\n"
            "temperature in the control file or read it in as a standardfile,\n"
            "-----------------------------------------------------------\n\n");
  const std::string head = "\n---------------- !!! ERROR !!!  ------------------------------------\nWether ";
  const std::string middle =
      " \nwhere found in memory,\nOne of these data sets has to be present within snow_model \n"
      "If the data are to be interpolated, please specify an interpolatior for\n";
  const std::string tail =
      " in the control file,\nor read it as a standard grid \n"
      "-----------------------------------------------------------------------\n\n";
  EXPECT_EQ(ExpectCode(kMissingGridCode, [&] { object.FindOneOfThreeGrids("x", "y", "z"); }),
            head + "x, y or z" + middle + "x, y or z" + tail);
  EXPECT_EQ(ExpectCode(kMissingGridCode, [&] { object.FindOneOfFourGrids("w", "x", "y", "z"); }),
            head + "w, x, y or z" + middle + "w, x, y or z" + tail);
}

TEST_F(GridTableFixture, WriteCodeIsSplitIntoItsDigits) {
  struct Case {
    int code;
    int write, period, min, max, vegetation;
  } cases[] = {
      {0, 0, 0, 0, 0, 0},      {1234, 4, 3, 0, 1, 1}, {12345, 5, 4, 1, 1, 2}, {100, 0, 0, 1, 0, 0},
      {200, 0, 0, 0, 1, 0},    {300, 0, 0, 1, 1, 0},  {400, 0, 0, 0, 0, 0},   {9010, 0, 1, 0, 0, 9},
      {987654, 4, 5, 0, 0, 7}, {2008, 8, 0, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Register(1, "g", c.code);
    const grid_entry& e = table[1];
    EXPECT_EQ(e.write_code, c.write);
    EXPECT_EQ(e.period_code, c.period);
    EXPECT_EQ(e.min_flag, c.min);
    EXPECT_EQ(e.max_flag, c.max);
    EXPECT_EQ(e.vegetation_code, c.vegetation);
    // An accumulator, with its file-name copy, exactly for each digit that asks for one.
    EXPECT_EQ(e.sum_grid != nullptr, c.period != 0);
    EXPECT_EQ(e.min_grid != nullptr, c.min != 0);
    EXPECT_EQ(e.max_grid != nullptr, c.max != 0);
    EXPECT_EQ(e.vegetation_grid != nullptr, c.vegetation != 0);
    EXPECT_EQ(e.sum_file_name, c.period ? "g.asc" : "");
    EXPECT_EQ(e.min_file_name, c.min ? "g.asc" : "");
    EXPECT_EQ(e.max_file_name, c.max ? "g.asc" : "");
    EXPECT_EQ(e.vegetation_file_name, c.vegetation ? "g.asc" : "");
    object.ReleaseGrid(1);
  }
}

TEST_F(GridTableFixture, RegistrationFillsTheEntryAndZeroesTheAccumulators) {
  double*** stack = object.Matrix3D(1, kRows, 1, kCols, 2, 0);
  table[7].step_count = 5.0;
  table[7].extremes_started = 1;
  object.RegisterGrid(7, "out/snow.asc", grid, stack, 2, "snow_depth", 1351, 1, kRows);
  const grid_entry& e = table[7];
  EXPECT_EQ(e.name, "snow_depth");
  EXPECT_EQ(e.file_name, "out/snow.asc");
  EXPECT_EQ(e.outname, "out/snow.asc");
  EXPECT_EQ(e.outname_owned, 1);
  EXPECT_EQ(e.data, grid);
  EXPECT_EQ(e.layers, stack);
  EXPECT_EQ(e.layer_count, 2);
  EXPECT_EQ(e.first_row, 1);
  EXPECT_EQ(e.last_row, kRows);
  EXPECT_EQ(e.step_count, 0.0);
  EXPECT_EQ(e.extremes_started, 0);
  for (double** acc : {e.sum_grid, e.min_grid, e.max_grid, e.vegetation_grid}) {
    ASSERT_NE(acc, nullptr);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) EXPECT_EQ(acc[r][c], 0.0);
  }
  object.ReleaseGrid(7);
  object.Free3DMatrix(stack);
}

TEST_F(GridTableFixture, AConfiguredOutputNameIsKeptThroughRegistrationAndRelease) {
  table[3].outname = "results/landuse.asc";
  Register(3, "landuse", 1);
  EXPECT_EQ(table[3].outname, "results/landuse.asc");
  EXPECT_EQ(table[3].outname_owned, 0);
  object.ReleaseGrid(3);
  EXPECT_EQ(table[3].outname, "results/landuse.asc");
}

TEST_F(GridTableFixture, ReleaseFreesNamesAndAccumulatorsButLeavesTheData) {
  grid[2][3] = 42.0;
  Register(2, "runoff", 1311);
  object.ReleaseGrid(2);
  const grid_entry& e = table[2];
  EXPECT_FALSE(e.in_use());
  EXPECT_EQ(e.file_name, "");
  EXPECT_EQ(e.outname, "");
  EXPECT_EQ(e.outname_owned, 0);
  EXPECT_EQ(e.data, nullptr);
  EXPECT_EQ(e.layers, nullptr);
  EXPECT_EQ(e.layer_count, 0);
  EXPECT_EQ(e.write_code, 0);
  EXPECT_EQ(e.step_count, 0.0);
  for (double** acc : {e.sum_grid, e.min_grid, e.max_grid, e.vegetation_grid}) EXPECT_EQ(acc, nullptr);
  EXPECT_EQ(e.sum_file_name, "");
  EXPECT_EQ(e.vegetation_file_name, "");
  // The other digits stay until the next registration sets them.
  EXPECT_EQ(e.period_code, 1);
  EXPECT_EQ(e.min_flag, 1);
  EXPECT_EQ(e.vegetation_code, 1);
  // The owner's grid is intact and still its own (the fixture frees it).
  EXPECT_EQ(grid[2][3], 42.0);
  grid[1][1] = 1.0;

  // Releasing a free entry, or one outside the table, changes nothing.
  object.ReleaseGrid(2);
  object.ReleaseGrid(1001);
  object.ReleaseGrid(0);
  EXPECT_FALSE(table[2].in_use());
}

TEST_F(GridTableFixture, ReRegistrationAndUnreleasedEntriesDoNotLeakAccumulators) {
  // Under a leak checker these would report; here they must simply not crash.
  Register(5, "again", 1111);
  Register(5, "again", 12);
  EXPECT_EQ(table[5].min_grid, nullptr);
  EXPECT_EQ(table[5].vegetation_grid, nullptr);
  EXPECT_NE(table[5].sum_grid, nullptr);
  EXPECT_EQ(table[5].sum_file_name, "again.asc");
  Register(6, "kept", 2222);  // left for the table's destructor
}

struct MappedAccumulators : test::MessagesTest {};

TEST_F(MappedAccumulators, GiveBackTheirWholeMappingsOnReleaseReRegistrationAndAtTheTablesEnd) {
  constexpr int kWideColumns = 40000;  // rows of 320 KB: every block is mapped
  auto grids = std::make_unique<grid_table>(&ms);
  modelobject object{&ms, "none"};
  object.map_large_blocks = true;  // also under the sanitizer, which keeps the heap otherwise
  object.grids = grids.get();
  object.ncols = kWideColumns;
  object.nrows = 5;
  test::HeldMemory held;
  const auto registered = [&](int index, int write_code, int row_lo, int row_hi) {
    object.RegisterGrid(index, "wide" + std::to_string(index) + ".asc", nullptr, nullptr, 0, "wide",
                        write_code, row_lo, row_hi);
    const grid_entry& e = (*grids)[index];
    for (double** acc : {e.sum_grid, e.min_grid, e.max_grid, e.vegetation_grid})
      if (acc) held.AddMatrix(acc, row_lo, row_hi, kWideColumns);
  };
  registered(2, 1311, 1, 5);
  object.ReleaseGrid(2);
  registered(3, 1311, 2, 4);
  registered(3, 20, 1, 5);  // frees the accumulators of the first registration
  registered(4, 2322, 3, 3);
  ASSERT_GT(held.size(), 0);
  ASSERT_GT(held.StillMapped(), 0);

  object.ReleaseGrid(3);
  object.grids = nullptr;
  grids.reset();  // entry 4 is left to the table's end
  EXPECT_EQ(held.StillMapped(), 0);
}

TEST(GridTableCreate, CreateReturnsAnInitialisedTable) {
  auto table = grid_table::Create(nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ((*table)[1].readcode, 1);
  EXPECT_EQ(table->entries[999].period_length, -1);
}

}  // namespace
}  // namespace velmo
