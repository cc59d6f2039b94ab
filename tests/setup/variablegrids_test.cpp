// Variable grids and the periodic re-reading of standard grids.
#include "setup/variablegrids.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "setup/zonegrids.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::ThrownCode;
using test::WriteFile;

constexpr double N = -9999.0;
constexpr int kRows = 3;
constexpr int kCols = 4;
using test::Rows;

// Zone grid: valid cells in the middle of rows 1 and 3, the whole of row 2.
const Rows kZone = {{N, 1, 1, N}, {1, 1, 2, 2}, {N, 2, 2, N}};
const std::vector<row_range> kRowRanges = {{0, -1}, {2, 3}, {1, 4}, {2, 3}};  // index 0 unused

Rows Filled(double value) { return test::Filled(kRows, kCols, value); }

std::string AsciiGrid(const Rows& rows) {
  std::ostringstream text;
  text << "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
  for (const auto& row : rows) {
    for (double v : row) text << v << " ";
    text << "\n";
  }
  return text.str();
}

model_date Date(int year, int month, int day, int hour = 0, int minute = 0) {
  return model_date{minute, hour, day, month, year};
}

// A set-up object on a 3 x 4 domain whose zone grid and elevation model are
// in place; grid files are read from the temporary directory.
struct SetupRig {
  test::SmallDomain domain{
      {.zone = kZone, .elevation = Filled(500.0), .landuse = {}, .soil = {}, .set_up = false}};
  const TempDir& dir = domain.dir();
  std::ostringstream& console = domain.console();
  grid_table& table = domain.grids();
  defaultini& setup = domain.setup();

  SetupRig() {
    setup.InitialStateDirectory = std::make_unique<std::string>(dir / "in/");
    setup.DefaultOutputDirectory = std::make_unique<std::string>(dir.path().string() + "/");
  }

  double** Grid(const Rows& rows) { return domain.Matrix(rows); }

  // A standard grid as stage 8 leaves it, with the re-read state of its
  // periodicity; a non-persistent one gets its set-up copy.
  grid_entry& AddPeriodicGrid(int index, const std::string& name, const std::string& file, const Rows& values,
                              int length, const std::string& unit, int offset, bool persistent = true,
                              int steps = 0) {
    setup.RegisterGrid(index, file, Grid(values), nullptr, 0, name, 0, 1, kRows);
    grid_entry& e = table[index];
    e.period_length = length;
    e.period_unit = unit;
    e.period_offset = offset;
    e.elapsed_periods = 0;
    e.elapsed_units = 0;
    e.last_unit_value = kInitialLastUnitValue;
    e.persistent = persistent;
    e.persistence_steps = steps;
    if (!persistent) e.persistence_grid = Grid(values);
    setup.grid_count = std::max(setup.grid_count, index - 2);
    return e;
  }

  // Relative names lie in the input directory "in/".
  void WriteDated(const std::string& file, const model_date& date, const Rows& values) {
    const std::string name = DatedFileName(file, date);
    const std::string path = name[0] == '/' ? name : dir / ("in/" + name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, AsciiGrid(values));
  }

  void Step(const model_date& d) { setup.ReadPeriodicGrids(d.minute, d.hour, d.day, d.month, d.year, 1440); }

  double Cell(int index, int row, int col) { return table[index].data[row][col]; }
};

// ---- pure pieces

TEST(PeriodicPieces, UnitWordsCountTheirComponent) {
  const struct {
    const char* unit;
    tracked_component component;
  } cases[] = {
      {"H", tracked_component::minute},   {"Hour", tracked_component::minute},
      {"D", tracked_component::hour},     {"M", tracked_component::day},
      {"Month", tracked_component::day},  {"Y", tracked_component::month},
      {"Year", tracked_component::month}, {"month", tracked_component::none},
      {"d", tracked_component::none},     {"", tracked_component::none},
  };
  for (const auto& c : cases) EXPECT_EQ(TrackedComponent(c.unit), c.component) << c.unit;
  EXPECT_EQ(TrackedValue(tracked_component::hour, Date(2001, 3, 4, 5, 6)), 5);
  EXPECT_EQ(TrackedValue(tracked_component::minute, Date(2001, 3, 4, 5, 6)), 6);
}

TEST(PeriodicPieces, DatedNamesKeepPathAndExtension) {
  EXPECT_EQ(DatedFileName("grids/sub/landuse.asc", Date(2003, 4, 5, 6)), "grids/sub/landuse.asc_2003040506");
  EXPECT_EQ(DatedFileName("c:\\in\\lu", Date(987, 12, 31, 23)), "c:\\in\\lu_0987123123");
  EXPECT_EQ(MinutesBetween(Date(2000, 2, 28, 23), Date(2000, 3, 1, 0)), 25 * 60);  // leap year
  EXPECT_EQ(MinutesBetween(Date(2001, 12, 31, 23, 30), Date(2002, 1, 1, 0, 15)), 45);
  EXPECT_EQ(MinutesBetween(Date(-9999, -9999, -9999), Date(2000, 1, 1)), 0);
}

TEST(PeriodicPieces, PeriodsThatCanNeverFireWithTheStep) {
  using enum period_feasibility;
  const struct {
    const char* unit;
    int length, offset, step;
    period_feasibility expected;
  } cases[] = {
      {"D", 1, 1, 60, fires},
      {"D", 1, 24, 60, fires},
      {"D", 1, 25, 60, never},  // a day has 24 hours
      {"D", 1, 0, 60, never},   // units count from 1
      {"D", 1, 9, 180, never},  // 3-hourly steps see 8 hours a day
      {"D", 1, 8, 180, fires},
      {"D", 1, 24, 1500, fires},  // 25-hour steps: one hour later each step
      {"D", 1, 1, 1440, first_step_only},
      {"D", 3, 1, 1440, never},
      {"D", 1, 2, 2880, never},
      {"H", 1, 1, 15, fires},
      {"H", 1, 4, 15, fires},
      {"H", 1, 5, 15, never},
      {"H", 2, 1, 60, never},  // the minute of hourly steps never changes
      {"M", 1, 31, 1440, fires},
      {"M", 1, 32, 1440, never},
      {"M", 1, 6, 7 * 1440, never},  // weekly steps: at most 5 days a month
      {"M", 1, 5, 7 * 1440, fires},
      {"M", 1, 2, 30 * 1440, fires},  // cannot be judged from the step
      {"Y", 1, 12, 1440, fires},
      {"Y", 1, 13, 1440, never},
      {"x", 1, 1, 60, never},
      {"D", 1, 25, 0, never},  // step unknown: only what needs no step
      {"D", 5, 1, 0, fires},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckPeriodFeasibility(TrackedComponent(c.unit), c.length, c.offset, c.step), c.expected)
        << c.length << " " << c.unit << " " << c.offset << " step " << c.step;
  }
}

// ---- [variable_grids]

struct VariableGrids : ::testing::Test {
  SetupRig rig;
  defaultini& setup = rig.setup;
  grid_table& table = rig.table;

  VariableGrids() {
    // A standard grid, then three grids with names but no files, as the
    // partitioning leaves them: the variable grids go behind them.
    setup.RegisterGrid(3, "landuse.asc", rig.Grid(Filled(1.0)), nullptr, 0, "landuse", 0, 1, kRows);
    const char* partition[] = {"MPIRegions", "MPIHelper", "MPIHalo"};
    for (int i = 0; i < 3; ++i)
      setup.RegisterGrid(4 + i, "", rig.Grid(Filled(0.0)), nullptr, 0, partition[i], 0, 1, kRows);
    setup.grid_count = 4;
  }
};

TEST_F(VariableGrids, ReadsFilledAndCreatedGridsBehindTheSetUpGrids) {
  setup.control_file_name = VELMO_TEST_DATA "/variablegrids/forms.intern";
  setup.InitialStateDirectory = std::make_unique<std::string>(VELMO_TEST_DATA "/variablegrids/");
  setup.ReadVariableGrids();

  EXPECT_EQ(setup.first_variable_grid, 7);
  EXPECT_EQ(setup.variable_grid_count, 3);
  EXPECT_EQ(setup.grid_count, 7);
  EXPECT_EQ(setup.variable_grid_readcodes, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(setup.control_file, nullptr);  // the copy is closed again
  EXPECT_EQ(table[7].name, "soil_storage");
  EXPECT_EQ(table[8].name, "albedo");
  EXPECT_EQ(table[9].name, "snow_depth");
  EXPECT_EQ(table[7].file_name, "storage.asc");
  EXPECT_EQ(setup.soil_storage_grid, table[7].data);
  EXPECT_EQ(setup.FindGrid("snow_depth", false), 9);

  // Read with fill code 2: the hole inside the catchment gets 0, not the
  // default value 5.5.
  const Rows storage = {{N, 3, 4, N}, {5, 0, 7, 8}, {N, 9, 10, N}};
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      const bool inside = kZone[r - 1][c - 1] > N;
      EXPECT_EQ(rig.Cell(7, r, c), storage[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(rig.Cell(8, r, c), inside ? 0.25 : N) << r << "," << c;  // read code 2: not read
      EXPECT_EQ(rig.Cell(9, r, c), inside ? -1.5 : N) << r << "," << c;
    }
  }
  EXPECT_EQ(table[7].write_code, 1);
  EXPECT_EQ(table[9].write_code, 4);
  EXPECT_EQ(table[9].period_code, 3);
  EXPECT_EQ(table[9].max_flag, 1);
  EXPECT_EQ(table[9].vegetation_code, 1);
  EXPECT_EQ(table[10].name, "");
}

TEST_F(VariableGrids, NoGridsLeaveTheTableAlone) {
  WriteFile(rig.dir / "control.intern", "[variable_grids]\n0 number of variable grids\nstray.asc x 0 0\n");
  setup.control_file_name = rig.dir / "control.intern";
  setup.ReadVariableGrids();
  EXPECT_EQ(setup.variable_grid_count, 0);
  EXPECT_EQ(setup.first_variable_grid, 0);
  EXPECT_EQ(setup.grid_count, 4);
  EXPECT_FALSE(table[7].in_use());
}

TEST_F(VariableGrids, WritesOnlyTheVariableGrids) {
  WriteFile(rig.dir / "control.intern", "[variable_grids]\n1\nout_var.asc var 0 2.0\n1\n0\n");
  setup.control_file_name = rig.dir / "control.intern";
  setup.ReadVariableGrids();
  SplitWriteCode(1, table[3]);  // the standard grid would be written by WriteStandardGrids
  setup.WriteVariableGrids(0, 12, 3, 5, 2001);
  EXPECT_EQ(setup.current_date.day, 3);
  EXPECT_TRUE(std::filesystem::exists(rig.dir / "out_var.asc"));
  EXPECT_FALSE(std::filesystem::exists(rig.dir / "landuse.asc"));
}

TEST_F(VariableGrids, FaultsEndTheRunWithTheirCodes) {
  const struct {
    const char* label;
    const char* control;  // nullptr: no control file
    int code;
    const char* message;
  } cases[] = {
      {"no section", "[standard_grids]\n0\n", 17, "error in control file, [variable_grids]; (EOF)not found!"},
      {"count", "[variable_grids]\nmany\n", 17, " number of variable grids ; defaultsnot found!"},
      {"short line", "[variable_grids]\n1\na.asc id 0 none\n1\n0\n", 17,
       "\nfile for vargrid 1 or the identifier or the fillcode or the defaultvalue (which is new in version "
       "7.7) "
       "in ; defaultsnot found!"},
      {"second line", "[variable_grids]\n2\na.asc a 0 0\n0\n0\nb.asc b x 0\n0\n0\n", 17,
       "file for vargrid 2 "},
      {"write code", "[variable_grids]\n1\na.asc id 0 0\nnone\n0\n", 17,
       "Writegrid for a variable grid ; defaults"},
      {"read code", "[variable_grids]\n1\na.asc id 0 0\n0\n", 17, "Readgrid for a variable grid ; defaults"},
      {"missing file", "[variable_grids]\n1\nmissing.asc id 0 0\n0\n1\n", 21, "still error opening "},
      {"no control file", nullptr, 28, "error opening "},
  };
  for (const auto& c : cases) {
    SetupRig local;
    const std::string control = local.dir / "control.intern";
    if (c.control) WriteFile(control, c.control);
    local.setup.control_file_name = control;
    EXPECT_EQ(ThrownCode([&] { local.setup.ReadVariableGrids(); }), c.code) << c.label;
    EXPECT_NE(local.console.str().find(c.message), std::string::npos) << c.label << ":\n"
                                                                      << local.console.str();
    EXPECT_EQ(local.setup.control_file, nullptr) << c.label;
  }
}

TEST_F(VariableGrids, AFullTableIsFatal) {
  for (int i = 7; i < kGridTableLimit; ++i) table[i].name = "g" + std::to_string(i);
  WriteFile(rig.dir / "control.intern", "[variable_grids]\n1\na.asc id 0 0\n0\n0\n");
  setup.control_file_name = rig.dir / "control.intern";
  EXPECT_EQ(ThrownCode([&] { setup.ReadVariableGrids(); }), kNoFreeGridCode);
  EXPECT_NE(rig.console.str().find("no free grid found in memory (an Position 1000)\n"), std::string::npos)
      << rig.console.str();
}

// ---- periodic re-reading

// Records 1.. of a land-use or soil table with the given codes; record 0 is
// left as it is.
template <typename Record>
void SetCodes(std::vector<Record>& table, const std::vector<int>& codes) {
  table.resize(codes.size() + 1);
  for (size_t i = 0; i < codes.size(); ++i) table[i + 1].code = codes[i];
}

// Marker value of the dated file of grid g at a date.
double Marker(int g, const model_date& d) {
  return 1000000.0 * g + 10000.0 * d.month + 100.0 * d.day + d.hour;
}

TEST(PeriodicGrids, StandardGridsAreReReadFromTheirDatedFiles) {
  SetupRig rig;
  const struct {
    const char* name;
    std::string file;
    int length;
    const char* unit;
    int offset;
  } grids[] = {
      {"monthly", "m.asc", 1, "M", 1},
      {"unit_word", "sub/month.asc", 1, "Month", 1},       // "Month" holds M
      {"lower_case", "lower.asc", 1, "month", 1},          // holds no capital: never
      {"second_month", rig.dir / "abs/y.asc", 1, "Y", 2},  // absolute: not prefixed
      {"every_other", "two.asc", 2, "M", 1},
  };
  const model_date dates[] = {Date(2000, 1, 15), Date(2000, 1, 16), Date(2000, 1, 31),
                              Date(2000, 2, 1),  Date(2000, 2, 2),  Date(2000, 3, 1)};
  // Index into `dates` of the file each grid holds after each step; -1: its
  // set-up values. Only these dated files exist.
  const std::vector<std::vector<int>> holds = {
      {0, 0, 0, 3, 3, 5},    {0, 0, 0, 3, 3, 5},    {-1, -1, -1, -1, -1, -1},
      {-1, -1, -1, 3, 3, 3}, {-1, -1, -1, 3, 3, 3},
  };
  for (int g = 0; g < 5; ++g) {
    rig.AddPeriodicGrid(3 + g, grids[g].name, grids[g].file, Filled(g), grids[g].length, grids[g].unit,
                        grids[g].offset);
    for (int s = 0; s < 6; ++s) {
      if (holds[g][s] == s) rig.WriteDated(grids[g].file, dates[s], Filled(Marker(g, dates[s])));
    }
  }

  for (int s = 0; s < 6; ++s) {
    rig.Step(dates[s]);
    for (int g = 0; g < 5; ++g) {
      const double expected = holds[g][s] < 0 ? g : Marker(g, dates[holds[g][s]]);
      EXPECT_EQ(rig.Cell(3 + g, 2, 2), expected) << grids[g].name << " step " << s;
    }
  }
  EXPECT_EQ(rig.table[3].dated_file_name, "m.asc_2000030100");
}

TEST(PeriodicGrids, TemporaryValuesLastTheirStepsWithinTheRowRanges) {
  SetupRig rig;
  const Rows setup_values = Filled(7.0);
  rig.AddPeriodicGrid(3, "three_steps", "t.asc", setup_values, 1, "D", 1, false, 3);
  rig.AddPeriodicGrid(4, "no_duration", "z.asc", setup_values, 1, "D", 1, false, 0);
  const model_date dates[] = {Date(2000, 1, 1, 22), Date(2000, 1, 1, 23), Date(2000, 1, 2, 0),
                              Date(2000, 1, 2, 1),  Date(2000, 1, 2, 2),  Date(2000, 1, 2, 3),
                              Date(2000, 1, 2, 4)};
  for (const char* file : {"t.asc", "z.asc"}) {
    rig.WriteDated(file, dates[0], Filled(Marker(0, dates[0])));
    rig.WriteDated(file, dates[2], Filled(Marker(0, dates[2])));
  }
  // The re-read at midnight restarts the three steps of the first one; the
  // grid without a duration keeps its values until its next re-read.
  const std::vector<int> three_steps = {0, 0, 2, 2, 2, -1, -1};
  const std::vector<int> no_duration = {0, 0, 2, 2, 2, 2, 2};
  for (int s = 0; s < 7; ++s) {
    rig.Step(dates[s]);
    const double expected3 = three_steps[s] < 0 ? 7.0 : Marker(0, dates[three_steps[s]]);
    const double expected4 = Marker(0, dates[no_duration[s]]);
    EXPECT_EQ(rig.Cell(3, 2, 2), expected3) << "step " << s;
    EXPECT_EQ(rig.Cell(4, 2, 2), expected4) << "step " << s;
  }
  EXPECT_FALSE(rig.table[3].persistence_running);
  EXPECT_TRUE(rig.table[4].persistence_running);
  // Cells outside the row ranges keep the values last read.
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      const bool in_range = c >= kRowRanges[r].first && c <= kRowRanges[r].last;
      EXPECT_EQ(rig.Cell(3, r, c), in_range ? 7.0 : Marker(0, dates[2])) << r << "," << c;
    }
  }
}

// Land use: multilayer records with codes 10 and 20 and the land-use
// positions of their layers, as the set-up leaves them.
std::vector<multilayer_landuse_entry> MultilayerTable() {
  std::vector<multilayer_landuse_entry> table(3);
  table[0].code = 2;
  table[1].code = 10;
  table[1].layer_codes = {2, 5, 6};
  table[1].layer_code_count = 2;
  table[2].code = 20;
  table[2].layer_codes = {1, 8};
  table[2].layer_code_count = 1;
  return table;
}

TEST(PeriodicGrids, ReReadLandUseAndSoilGridsHoldTablePositions) {
  SetupRig rig;
  defaultini& setup = rig.setup;
  setup.multilayer_table = MultilayerTable();
  SetCodes(setup.soil_table, {7, 3});

  // The set-up copy of the land use holds codes, the grid positions.
  const Rows codes_at_setup = {{N, 10, 10, N}, {10, 10, 10, 10}, {N, 10, 10, N}};
  grid_entry& landuse = rig.AddPeriodicGrid(3, "landuse", "lu.asc", Filled(1.0), 1, "M", 1, false, 1);
  landuse.persistence_grid = rig.Grid(codes_at_setup);
  setup.RegisterGrid(4, "landuse1", rig.Grid(Filled(-1.0)), nullptr, 0, "landuse1", 0, 1, kRows);
  setup.RegisterGrid(5, "landuse2", rig.Grid(Filled(-1.0)), nullptr, 0, "landuse2", 0, 1, kRows);
  setup.landuse_layer_grids = {landuse.data, rig.table[4].data, rig.table[5].data};
  setup.landuse_layer_count = 2;
  rig.AddPeriodicGrid(6, "soil_types", "soil.asc", Filled(1.0), 1, "M", 1);

  const model_date first = Date(2000, 1, 15);
  rig.WriteDated("lu.asc", first, {{N, 10, 20, N}, {20, 10, 20, 10}, {N, 20, 10, N}});
  rig.WriteDated("soil.asc", first, {{N, 3, 7, N}, {7, 7, 3, 3}, {N, 3, 3, N}});

  rig.Step(first);
  const Rows positions = {{N, 1, 2, N}, {2, 1, 2, 1}, {N, 2, 1, N}};
  const Rows layer1 = {{-1, 5, 8, -1}, {8, 5, 8, 5}, {-1, 8, 5, -1}};  // outside the row ranges: untouched
  const Rows layer2 = {{-1, 6, N, -1}, {N, 6, N, 6}, {-1, N, 6, -1}};  // record 2 has one layer
  const Rows soil = {{N, 2, 1, N}, {1, 1, 2, 2}, {N, 2, 2, N}};
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      EXPECT_EQ(rig.Cell(3, r, c), positions[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(rig.Cell(4, r, c), layer1[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(rig.Cell(5, r, c), layer2[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(rig.Cell(6, r, c), soil[r - 1][c - 1]) << r << "," << c;
    }
  }

  // The restored set-up values are codes too: all 10, record 1.
  rig.Step(Date(2000, 1, 16));
  EXPECT_EQ(rig.Cell(3, 2, 3), 1.0);
  EXPECT_EQ(rig.Cell(4, 2, 3), 5.0);
  EXPECT_EQ(rig.Cell(5, 2, 3), 6.0);
}

TEST(PeriodicGrids, ReReadLandUseOnAnotherRasterIsNotBlended) {
  // Without a multilayer table the land-use grid carries the name of its
  // only layer by now; a blend of 10 and 20 would be no land use.
  SetupRig rig;
  defaultini& setup = rig.setup;
  SetCodes(setup.landuse_table, {10, 20});
  setup.landuse_table[0].code = 2;
  grid_entry& landuse = rig.AddPeriodicGrid(3, "landuse1", "lu.asc", Filled(1.0), 1, "M", 1);
  setup.landuse_layer_grids = {landuse.data};
  setup.landuse_layer_count = 1;

  // A quarter cell south-west of the domain: target cell (r, c) lies in file
  // cell (r + 1, c).
  const model_date first = Date(2000, 1, 15);
  std::filesystem::create_directories(rig.dir / "in");
  WriteFile(rig.dir / ("in/" + DatedFileName("lu.asc", first)),
            "ncols 5\nnrows 4\nxllcorner -25\nyllcorner -25\ncellsize 100\nnodata_value -9999\n"
            "20 20 20 20 20\n10 10 20 20 20\n10 20 10 20 10\n20 20 10 10 10\n");
  ASSERT_EQ(ThrownCode([&] { rig.Step(first); }), 0) << rig.console.str();
  const Rows positions = {{N, 1, 2, N}, {1, 2, 1, 2}, {N, 2, 1, N}};
  for (int r = 1; r <= kRows; ++r)
    for (int c = kRowRanges[r].first; c <= kRowRanges[r].last; ++c)
      EXPECT_EQ(rig.Cell(3, r, c), positions[r - 1][c - 1]) << r << "," << c;
}

TEST(PeriodicGrids, ReReadCodesTakeThePositionsTheSetUpCheckGives) {
  // Code 7 stands twice in the soil table: the set-up check gives its cells
  // the later record, and a re-read of the same codes must do the same.
  SetupRig rig;
  defaultini& setup = rig.setup;
  SetCodes(setup.soil_table, {7, 3, 7});
  // Outside the catchment a value far beyond any int stays as it is.
  const Rows codes = {{1e30, 3, 7, N}, {7, 7, 3, 3}, {N, 3, 7, N}};
  const Rows positions = {{1e30, 2, 3, N}, {3, 3, 2, 2}, {N, 2, 3, N}};
  rig.AddPeriodicGrid(3, "soil_types", "soil.asc", codes, 1, "M", 1);
  setup.check_SOIL_Codes(3);
  const model_date first = Date(2000, 1, 15);
  rig.WriteDated("soil.asc", first, codes);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      EXPECT_EQ(rig.Cell(3, r, c), positions[r - 1][c - 1]) << r << "," << c;
      rig.table[3].data[r][c] = 0.0;  // the re-read must bring the values back
    }

  rig.Step(first);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) EXPECT_EQ(rig.Cell(3, r, c), positions[r - 1][c - 1]) << r << "," << c;
}

TEST(PeriodicGrids, ReReadCodesMissingFromTheirTableAreFatal) {
  const struct {
    const char* label;
    bool multilayer;
    const char* grid_name;
    int code;
    const char* message;
  } cases[] = {
      {"multilayer", true, "landuse", 311,
       "land use 30 in grid lu.asc_2000011500 (landuse)\nis not present in the multilayer-landuse-table in "
       "the "
       "control file \n"},
      // Without a multilayer table the land-use grid is the grid of layer 1.
      {"landuse table", false, "landuse1", 31,
       "land use 30 in grid lu.asc_2000011500 (landuse1)\nis not present in the land use table in the "
       "control "
       "file \n"},
      {"soil", false, "soil_types", 32,
       "soil type 30 in grid lu.asc_2000011500 (soil_types)\nis not present"},
  };
  for (const auto& c : cases) {
    SetupRig rig;
    defaultini& setup = rig.setup;
    if (c.multilayer) setup.multilayer_table = MultilayerTable();
    SetCodes(setup.landuse_table, {10, 20});
    SetCodes(setup.soil_table, {10, 20});
    grid_entry& e = rig.AddPeriodicGrid(3, c.grid_name, "lu.asc", Filled(1.0), 1, "M", 1);
    if (std::string(c.grid_name) != "soil_types") setup.landuse_layer_grids = {e.data, e.data};
    // A code outside the catchment is not checked.
    rig.WriteDated("lu.asc", Date(2000, 1, 15), {{55, 10, 20, N}, {20, 10, 30, 10}, {N, 20, 10, N}});
    EXPECT_EQ(ThrownCode([&] { rig.Step(Date(2000, 1, 15)); }), c.code) << c.label;
    EXPECT_NE(rig.console.str().find(c.message), std::string::npos) << c.label << ":\n" << rig.console.str();
  }
}

TEST(PeriodicGrids, PeriodsThatCanNeverFireAreReportedAtTheStart) {
  const struct {
    int time_step;    // 0: taken from the first two steps
    int step_length;  // minutes between the two steps
    const char* unit;
    int length, offset;
    const char* warning;  // nullptr: none
  } cases[] = {
      {1440, 1440, "D", 2, 1,
       "standard grid g (g.asc) is never re-read: its periodicity 2 D 1 can never fire with a time step of "
       "1440 "
       "minutes"},
      {1440, 1440, "D", 1, 1,
       "standard grid g (g.asc) is re-read at the first step only: its periodicity 1 D 1 can never fire "
       "again "
       "with a time step of 1440 minutes"},
      {0, 180, "D", 1, 9,
       "is never re-read: its periodicity 1 D 9 can never fire with a time step of 180 minutes"},
      {60, 60, "d", 1, 1,
       "is never re-read: its periodicity 1 d 1 has a unit holding none of the capitals H, D, M and Y"},
      {60, 60, "D", 1, 24, nullptr},
      {0, 60, "M", 1, 31, nullptr},
  };
  for (const auto& c : cases) {
    SetupRig rig;
    rig.setup.time_step = c.time_step;
    rig.AddPeriodicGrid(3, "g", "g.asc", Filled(1.0), c.length, c.unit, c.offset);
    const model_date first = Date(2000, 1, 1);
    const model_date second = Date(2000, 1, 1 + c.step_length / 1440, (c.step_length % 1440) / 60);
    rig.WriteDated("g.asc", first, Filled(2.0));
    rig.Step(first);
    rig.Step(second);
    rig.Step(Date(2000, 1, 5));  // reported once only
    const std::string diag = ReadFile(rig.dir / "diag.xml");
    const std::string label = std::to_string(c.length) + c.unit + std::to_string(c.offset);
    if (c.warning) {
      const size_t at = diag.find(c.warning);
      ASSERT_NE(at, std::string::npos) << label << ":\n" << diag;
      EXPECT_NE(diag.rfind("<line level=\"2\" description= \"standard grid g", at), std::string::npos)
          << label;
      EXPECT_EQ(diag.find(c.warning, at + 1), std::string::npos) << label;
    } else {
      EXPECT_EQ(diag.find("standard grid g"), std::string::npos) << label << ":\n" << diag;
    }
  }
}

}  // namespace
}  // namespace velmo
