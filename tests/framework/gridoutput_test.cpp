// Per-step grid and stack output: when grids are written, under which names,
// and the period, extreme and vegetation-period files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;

constexpr int kRows = 3;
constexpr int kCols = 4;
constexpr double ND = -9999.0;

struct written_file {
  std::string kind;  // "grid", "masked" or "stack"
  std::string name;
  std::vector<double> values;  // rows 1..kRows, columns 1..kCols, row by row
};

// Records what would be written instead of writing it.
class recording_object : public modelobject {
 public:
  using modelobject::modelobject;
  std::vector<written_file> written;

  void WriteGrid(const std::string& grid_name, double** grid, bool, bool, bool) override {
    Record("grid", grid_name, grid);
  }
  void WriteMaskedGrid(const std::string& grid_name, double** grid, bool, bool, bool) override {
    Record("masked", grid_name, grid);
  }
  void WriteGridRows(const std::string& grid_name, double** grid, bool, bool, bool, bool masked,
                     const grid_row_work& work) override {
    for (int r = 1; r <= kRows; ++r)
      if (work.before) work.before(r);
    Record(masked ? "masked" : "grid", grid_name, grid);
    for (int r = 1; r <= kRows; ++r)
      if (work.after) work.after(r);
  }
  void WriteStack(const std::string& stack_name, double***, int, bool, bool, bool) override {
    written.push_back({"stack", stack_name, {}});
  }

  // Names written since the last call.
  std::vector<std::string> TakeNames() {
    std::vector<std::string> names;
    for (const written_file& f : written) names.push_back(f.name);
    written.clear();
    return names;
  }
  const written_file* Find(const std::string& file) const {
    for (const written_file& f : written)
      if (f.name == file) return &f;
    return nullptr;
  }

 private:
  void Record(const char* kind, const std::string& file, double** grid) {
    written_file f{kind, file, {}};
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) f.values.push_back(grid[r][c]);
    written.push_back(std::move(f));
  }
};

using Names = std::vector<std::string>;

struct GridOutputFixture : test::MessagesTest {
  grid_table table{&ms};
  recording_object object{&ms, "none"};
  std::vector<row_range> ranges;
  std::vector<owned_matrix> owned;

  // Zone grid: (2,2) lies outside the catchment; row 3 has the range 2..3.
  GridOutputFixture() {
    object.grids = &table;
    object.ncols = kCols;
    object.nrows = kRows;
    object.nodata_value = ND;
    object.name = "test_model";
    object.interval_end_shift = 1.0;  // hourly steps: 23:00 ends the day
    ranges = {{0, -1}, {1, 4}, {1, 4}, {2, 3}};
    object.row_ranges = ranges.data();
    object.SetEndDate(2030, 1, 1, 0, 0);
    double** zone = NewGrid(1.0);
    zone[2][2] = ND;
    object.RegisterGrid(1, "zone.asc", zone, nullptr, 1, "[zone_grid]", 0, 1, kRows);
  }
  double** NewGrid(double value) {
    owned.push_back(test::MatrixOf(test::Filled(kRows, kCols, value)));
    return owned.back().get();
  }
  // Registers a grid in the next free entry; returns its index.
  int Register(const std::string& file, double** data, int write_code, const std::string& name = "") {
    const int index = table.FirstFreeEntry();
    object.RegisterGrid(index, file, data, nullptr, 1, name.empty() ? file : name, write_code, 1, kRows);
    return index;
  }
  void At(int year, int month, int day, int hour, int minute = 0) {
    object.current_date = model_date{minute, hour, day, month, year};
  }
  static double Cell(const written_file& f, int r, int c) {
    return f.values[static_cast<size_t>((r - 1) * kCols + (c - 1))];
  }
};

struct dated_call {
  int year, month, day, hour;
};
// Mid-day, end of a day, end of a month, end of the year (the run end).
constexpr dated_call kA{2023, 11, 12, 10}, kB{2023, 11, 12, 23}, kC{2023, 11, 30, 23}, kD{2023, 12, 31, 23};

TEST_F(GridOutputFixture, WriteCodesWriteTheGridAtTheirIntervalEnds) {
  struct Case {
    int code;
    std::vector<Names> per_call;  // at kA, kB, kC, kD
  };
  const Case cases[] = {
      {1, {{"g.asc"}, {"g.asc"}, {"g.asc"}, {"g.asc"}}},
      {2, {{"g_20231112.1000"}, {"g_20231112.2300"}, {"g_20231130.2300"}, {"g_20231231.2300", "g.asc"}}},
      {3, {{}, {}, {}, {"g.asc"}}},
      {4, {{}, {"g.asc"}, {"g.asc"}, {"g.asc"}}},
      {5, {{}, {"g_20231112.2300"}, {"g_20231130.2300"}, {"g_20231231.2300", "g.asc"}}},
      {6, {{}, {}, {"g_20231130.2300"}, {"g_20231231.2300", "g.asc"}}},
      {7, {{}, {}, {}, {"g_20231231.2300", "g.asc"}}},
      {8, {{"g.asc.filled"}, {}, {}, {}}},
      {9, {{}, {}, {}, {}}},
  };
  object.SetEndDate(2023, 12, 31, 23, 0);
  double** data = NewGrid(1.0);
  for (const Case& c : cases) {
    SCOPED_TRACE("write code " + std::to_string(c.code));
    const int index = Register("g.asc", data, c.code);
    const dated_call calls[] = {kA, kB, kC, kD};
    for (size_t i = 0; i < 4; ++i) {
      At(calls[i].year, calls[i].month, calls[i].day, calls[i].hour);
      object.WriteGridOutput(index, 1, false);
      for (const written_file& f : object.written) EXPECT_EQ(f.kind, "grid");
      EXPECT_EQ(object.TakeNames(), c.per_call[i]) << "call " << i;
    }
  }
}

TEST_F(GridOutputFixture, FilledFormIsWrittenOnceAndPlainAtTheRunEnd) {
  double** data = NewGrid(1.0);
  object.SetEndDate(2023, 11, 12, 10, 0);
  const int index = Register("g.asc", data, 8);
  At(2023, 11, 12, 10);
  object.WriteGridOutput(index, 1, false);
  EXPECT_EQ(object.TakeNames(), (Names{"g.asc.filled", "g.asc"}));
  EXPECT_EQ(table[index].write_code, 0);
  object.WriteGridOutput(index, 1, false);
  EXPECT_TRUE(object.TakeNames().empty());
}

TEST_F(GridOutputFixture, DateStampsCountRepeatsAndKeepTheDirectory) {
  double** data = NewGrid(1.0);
  struct Case {
    std::string outname;
    std::string stem;  // expected directory + base
  };
  const Case cases[] = {
      {"out\\qsim.asc", "out\\qsim"},
      {"out/qsim.asc", "out/qsim"},
      {"./out/q.asc", "./out/q"},
      {"c:\\runs.v2\\out\\q.x.asc", "c:\\runs.v2\\out\\q"},
      {"qsim", "qsim"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outname);
    const int index = Register(c.outname, data, 2);
    At(2023, 11, 12, 12);
    object.WriteGridOutput(index, 1, false);
    object.WriteGridOutput(index, 1, false);
    object.WriteGridOutput(index, 1, false);
    At(2023, 11, 12, 13);
    object.WriteGridOutput(index, 1, false);
    At(2023, 11, 12, 12);
    object.WriteGridOutput(index, 1, false);
    EXPECT_EQ(object.TakeNames(),
              (Names{c.stem + "_20231112.1200", c.stem + "_20231112.1200_001", c.stem + "_20231112.1200_002",
                     c.stem + "_20231112.1300", c.stem + "_20231112.1200"}));
  }
}

TEST_F(GridOutputFixture, PeriodFilesAreNamedAfterTheirPeriod) {
  struct Case {
    std::string file;
    int code;
    dated_call end;
    bool run_end;
    Names expected;
  };
  const Case cases[] = {
      {"tempr.asc", 20, kD, false, {"tempr_002300.sum"}},
      {"tempr.asc", 60, kD, false, {"tempr_002300.mit"}},
      {"tempr.asc", 20, {2005, 12, 31, 23}, false, {"tempr_000500.sum"}},
      {"tempr.asc", 30, kC, false, {"tempr_202311.sum"}},
      {"tempr.asc", 70, kC, false, {"tempr_202311.mit"}},
      {"tempr.asc", 40, kB, false, {"tempr_002311.12s"}},
      {"tempr.asc", 80, kB, false, {"tempr_002311.12m"}},
      {"tempr.asc", 10, kA, true, {"tempr.sum"}},
      {"tempr.asc", 50, kA, true, {"tempr.mit"}},
      {"tempr.asc", 100, kA, true, {"tempr.min"}},
      {"tempr.asc", 200, kA, true, {"tempr.max"}},
      {"tempr.asc", 310, kA, true, {"tempr.min", "tempr.max", "tempr.sum"}},
      {"tempr", 10, kA, true, {"tempr.sum"}},
      {".hidden", 10, kA, true, {".sum"}},
      {"a.b.c", 10, kA, true, {"a.sum"}},
      {"./out/q.asc", 30, kC, false, {"./out/q_202311.sum"}},
      {"out\\q.asc", 40, kB, false, {"out\\q_002311.12s"}},
      {"out/q.asc", 100, kA, true, {"out/q.min"}},
  };
  double** data = NewGrid(1.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " code " + std::to_string(c.code));
    if (c.run_end) {
      object.SetEndDate(c.end.year, c.end.month, c.end.day, c.end.hour, 0);
    } else {
      object.SetEndDate(2030, 1, 1, 0, 0);
    }
    const int index = Register(c.file, data, c.code);
    At(2023, 11, 12, 9);  // ends no period
    object.WriteGridOutput(index, 1, false);
    EXPECT_TRUE(object.TakeNames().empty());
    At(c.end.year, c.end.month, c.end.day, c.end.hour);
    object.WriteGridOutput(index, 1, false);
    for (const written_file& f : object.written) EXPECT_EQ(f.kind, "masked");
    EXPECT_EQ(object.TakeNames(), c.expected);
  }
}

TEST_F(GridOutputFixture, StepsStampedAtMidnightNameTheirFilesAfterTheDayBefore) {
  struct Case {
    int code;
    dated_call end;
    Names expected;
  };
  const Case cases[] = {
      {40, {2023, 11, 13, 0}, {"tempr_002311.12s"}},
      {30, {2023, 12, 1, 0}, {"tempr_202311.sum"}},
      {20, {2024, 1, 1, 0}, {"tempr_002300.sum"}},
  };
  object.interval_end_shift = 0.0;
  double** data = NewGrid(1.0);
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    const int index = Register("tempr.asc", data, c.code);
    At(c.end.year, c.end.month, c.end.day, c.end.hour);
    object.WriteGridOutput(index, 1, false);
    EXPECT_EQ(object.TakeNames(), c.expected);
  }
}

TEST_F(GridOutputFixture, TheRunEndIsComparedInRealTime) {
  // 30 April 24:00 is the end date 1 May 00:00; one step earlier is not.
  object.SetEndDate(2023, 5, 1, 0, 0);
  const int index = Register("g.asc", NewGrid(1.0), 3);
  At(2023, 4, 30, 23);
  object.WriteGridOutput(index, 1, false);
  EXPECT_TRUE(object.TakeNames().empty());
  At(2023, 4, 30, 24);
  object.WriteGridOutput(index, 1, false);
  EXPECT_EQ(object.TakeNames(), Names{"g.asc"});
}

TEST_F(GridOutputFixture, GridsReadFromOneFileKeepTheirPeriodFilesApart) {
  struct Case {
    std::string first_file;
    int first_code;
    std::string second_file;
    int second_code;
    std::string second_outname;
    Names first_names, second_names;
    std::string warning_end;  // empty: no warning
  };
  const Case cases[] = {
      {"q.asc", 50, "q.asc", 50, "out/q2.asc", {"q.mit"}, {"out/q2.mit"}, "out/q2.asc\n"},
      // Files of other periods carry other names: nothing changes.
      {"r.asc", 100, "r.asc", 50, "r2.asc", {"r.min"}, {"r.mit"}, ""},
      // Another file of the same base gives the same names; an outname of
      // that base cannot help.
      {"s.asc",
       310,
       "s.flt",
       150,
       "s.out",
       {"s.min", "s.max", "s.sum"},
       {"s.min", "s.mit"},
       "s.out, which is taken as well: give second an outname of its own\n"},
  };
  object.SetEndDate(2023, 11, 12, 10, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_file);
    const int first = Register(c.first_file, NewGrid(1.0), c.first_code, "first");
    const int second = table.FirstFreeEntry();
    table[second].outname = c.second_outname;
    console.str("");
    Register(c.second_file, NewGrid(2.0), c.second_code, "second");
    EXPECT_EQ(console.str(), c.warning_end.empty()
                                 ? ""
                                 : "grids first (entry " + std::to_string(first) + ") and second (entry " +
                                       std::to_string(second) + ") both name their period files from " +
                                       c.second_file + "; those of second are named from its outname " +
                                       c.warning_end);
    At(2023, 11, 12, 10);
    object.WriteGridOutput(first, 1, false);
    EXPECT_EQ(object.TakeNames(), c.first_names);
    object.WriteGridOutput(second, 1, false);
    EXPECT_EQ(object.TakeNames(), c.second_names);
  }
}

TEST_F(GridOutputFixture, IntervalEndsFollowTheShiftAndTheCalendar) {
  struct Case {
    int year, month, day, hour, minute;
    double shift;  // hours
    bool day_end, month_end, year_end;
  };
  const Case cases[] = {
      {2023, 11, 12, 23, 0, 1.0, true, false, false},
      {2023, 11, 12, 22, 0, 1.0, false, false, false},
      {2023, 11, 12, 23, 30, 0.5, true, false, false},
      {2023, 11, 12, 23, 0, 0.5, false, false, false},
      {2023, 11, 13, 0, 0, 24.0, true, false, false},
      {2023, 11, 12, 23, 0, 59.9 / 60, false, false, false},
      {2023, 11, 30, 23, 0, 1.0, true, true, false},
      {2023, 2, 28, 23, 0, 1.0, true, true, false},
      {2024, 2, 28, 23, 0, 1.0, true, false, false},
      {2024, 2, 29, 23, 0, 1.0, true, true, false},
      {1900, 2, 28, 23, 0, 1.0, true, true, false},
      {2000, 2, 29, 23, 0, 1.0, true, true, false},
      {2023, 12, 31, 23, 0, 1.0, true, true, true},
      {2023, 12, 31, 22, 0, 1.0, false, false, false},
      // A step stamped 00:00 ends the day, month and year before it.
      {2023, 11, 13, 0, 0, 0.0, true, false, false},
      {2023, 12, 1, 0, 0, 0.0, true, true, false},
      {2024, 3, 1, 0, 0, 0.0, true, true, false},
      {2024, 1, 1, 0, 0, 0.0, true, true, true},
      {2023, 11, 13, 0, 30, 0.0, false, false, false},
  };
  double** data = NewGrid(1.0);
  const int daily = Register("d.asc", data, 4);
  const int monthly = Register("m.asc", data, 6);
  const int yearly = Register("y.asc", data, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day) + " " +
                 std::to_string(c.hour) + ":" + std::to_string(c.minute) + " shift " +
                 std::to_string(c.shift));
    object.interval_end_shift = c.shift;
    At(c.year, c.month, c.day, c.hour, c.minute);
    object.WriteGridOutput(daily, 1, false);
    EXPECT_EQ(object.TakeNames().size(), c.day_end ? 1u : 0u);
    object.WriteGridOutput(monthly, 1, false);
    EXPECT_EQ(object.TakeNames().size(), c.month_end ? 1u : 0u);
    object.WriteGridOutput(yearly, 1, false);
    EXPECT_EQ(object.TakeNames().size(), c.year_end ? 1u : 0u);
  }
}

// Cells of the fixture's zone grid: (1,1) always has a value, (1,2) misses
// one step, (1,3) has none, (1,4) misses the first; (2,2) lies outside.
struct NodataSeries : GridOutputFixture {
  double** data = NewGrid(0.0);
  const std::vector<std::vector<double>> steps = {
      // (1,1) (1,2) (1,3) (1,4) (2,2) other
      {1, 1, ND, ND, 7, 4},
      {2, ND, ND, 5, 7, 4},
      {3, 3, ND, 2, 7, 4},
  };
  void Fill(const std::vector<double>& v) {
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) data[r][c] = v[5];
    for (int c = 1; c <= 4; ++c) data[1][c] = v[static_cast<size_t>(c - 1)];
    data[2][2] = v[4];
  }
};

TEST_F(NodataSeries, PeriodStatisticsSkipNodataValues) {
  object.SetEndDate(2023, 11, 12, 12, 0);
  const int mean_extremes = Register("tempr.asc", data, 350);
  const int sum = Register("sum.asc", data, 10);
  for (size_t s = 0; s < steps.size(); ++s) {
    Fill(steps[s]);
    At(2023, 11, 12, 10 + static_cast<int>(s));
    object.WriteGridOutput(mean_extremes, 1, false);
    object.WriteGridOutput(sum, 1, false);
  }
  struct Expect {
    std::string file;
    double c11, c12, c13, c14, other;
  };
  // The mean divides by the values a cell took, not by the steps.
  const Expect expected[] = {
      {"tempr.mit", 2.0, 2.0, ND, 3.5, 4.0},
      {"tempr.min", 1.0, 1.0, ND, 2.0, 4.0},
      {"tempr.max", 3.0, 3.0, ND, 5.0, 4.0},
      {"sum.sum", 6.0, 4.0, ND, 7.0, 12.0},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.file);
    const written_file* f = object.Find(e.file);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kind, "masked");
    EXPECT_DOUBLE_EQ(Cell(*f, 1, 1), e.c11);
    EXPECT_DOUBLE_EQ(Cell(*f, 1, 2), e.c12);
    EXPECT_DOUBLE_EQ(Cell(*f, 1, 3), e.c13);
    EXPECT_DOUBLE_EQ(Cell(*f, 1, 4), e.c14);
    EXPECT_DOUBLE_EQ(Cell(*f, 2, 2), ND);  // outside the catchment
    EXPECT_DOUBLE_EQ(Cell(*f, 3, 2), e.other);
    EXPECT_DOUBLE_EQ(Cell(*f, 3, 3), e.other);
  }
}

TEST_F(NodataSeries, EachPeriodStartsAfresh) {
  const int index = Register("tempr.asc", data, 80);  // daily mean
  Fill(steps[0]);
  At(2023, 11, 12, 22);
  object.WriteGridOutput(index, 1, false);
  Fill(steps[1]);
  At(2023, 11, 12, 23);
  object.WriteGridOutput(index, 1, false);
  EXPECT_EQ(table[index].step_count, 0.0);
  // The next day: one step only, in which (1,2) is nodata.
  Fill(steps[1]);
  At(2023, 11, 13, 23);
  object.WriteGridOutput(index, 1, false);
  ASSERT_EQ(object.written.size(), 2u);
  const written_file& first = object.written[0];
  EXPECT_EQ(first.name, "tempr_002311.12m");
  EXPECT_DOUBLE_EQ(Cell(first, 1, 1), 1.5);
  EXPECT_DOUBLE_EQ(Cell(first, 1, 2), 1.0);
  EXPECT_DOUBLE_EQ(Cell(first, 1, 4), 5.0);
  const written_file& second = object.written[1];
  EXPECT_EQ(second.name, "tempr_002311.13m");
  EXPECT_DOUBLE_EQ(Cell(second, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(Cell(second, 1, 2), ND);
  EXPECT_DOUBLE_EQ(Cell(second, 1, 4), 5.0);
}

TEST_F(NodataSeries, TheWritingPassKeepsWhatSeparatePassesKeep) {
  // The real writer accumulates in the pass that writes the grid (written
  // every call) and finishes the period in the pass that writes its file:
  // its files hold what the recorder took in separate passes, with nodata
  // outside the row ranges.
  TempDir dir;
  modelobject writer(&ms, "none");
  writer.grids = &table;
  writer.ncols = kCols;
  writer.nrows = kRows;
  writer.nodata_value = ND;
  writer.row_ranges = ranges.data();
  writer.interval_end_shift = 1.0;
  writer.WriteAsciiGrids = true;
  writer.DefaultOutputDirectory = std::make_unique<std::string>(dir.path().string() + "/");
  object.SetEndDate(2023, 11, 12, 12, 0);
  writer.SetEndDate(2023, 11, 12, 12, 0);
  const int recorded = Register("tempr.asc", data, 351);
  const int written = table.FirstFreeEntry();
  writer.RegisterGrid(written, "tempr.asc", data, nullptr, 1, "tempr_written", 351, 1, kRows);
  for (size_t s = 0; s < steps.size(); ++s) {
    Fill(steps[s]);
    At(2023, 11, 12, 10 + static_cast<int>(s));
    writer.current_date = object.current_date;
    object.WriteGridOutput(recorded, 1, false);
    writer.WriteGridOutput(written, 1, false);
  }
  for (const char* file : {"tempr.mit", "tempr.min", "tempr.max"}) {
    SCOPED_TRACE(file);
    const written_file* f = object.Find(file);
    ASSERT_NE(f, nullptr);
    std::istringstream text(test::ReadFile(dir / file));
    std::string line;
    for (int header = 0; header < 6; ++header) std::getline(text, line);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        double value = 0.0;
        ASSERT_TRUE(text >> value);
        const bool in_range =
            c >= ranges[static_cast<size_t>(r)].first && c <= ranges[static_cast<size_t>(r)].last;
        EXPECT_EQ(value, in_range ? Cell(*f, r, c) : ND) << r << "," << c;
      }
  }
}

TEST_F(GridOutputFixture, SkippingPeriodFilesWritesOnlyTheGrid) {
  object.SetEndDate(2023, 11, 12, 10, 0);
  double** data = NewGrid(2.0);
  const int index = Register("tempr.asc", data, 311);
  At(2023, 11, 12, 10);
  object.WriteGridOutput(index, 1, true);
  EXPECT_EQ(object.TakeNames(), (Names{"tempr.asc"}));
  // The accumulation went on: the next call that may write them does.
  object.WriteGridOutput(index, 1, false);
  EXPECT_EQ(object.TakeNames(), (Names{"tempr.asc", "tempr.min", "tempr.max", "tempr.sum"}));
}

TEST_F(GridOutputFixture, RegionRestrictionLeavesOutOtherProcessesCells) {
  object.SetEndDate(2023, 11, 12, 10, 0);
  double** regions = NewGrid(0.0);
  regions[1][1] = 1.0;  // computed by another process
  Register("", regions, 0, "MPIRegions");
  double** data = NewGrid(2.0);
  const int index = Register("tempr.asc", data, 10);
  At(2023, 11, 12, 10);
  object.WriteGridOutput(index, 1, false);
  EXPECT_EQ(object.mpi_regions_data, regions);
  ASSERT_EQ(object.written.size(), 1u);
  EXPECT_DOUBLE_EQ(Cell(object.written[0], 1, 1), ND);
  EXPECT_DOUBLE_EQ(Cell(object.written[0], 1, 2), 2.0);
  object.written.clear();
  object.WriteGridOutput(index, 0, false);
  ASSERT_EQ(object.written.size(), 1u);
  EXPECT_DOUBLE_EQ(Cell(object.written[0], 1, 1), 2.0);
}

TEST_F(GridOutputFixture, ACellThatJoinsWithinAPeriodCountsOnlyTheValuesItTook) {
  // Restricted to this process in the first step, not in the second: cell
  // (1,1) of the other process joins the daily mean in the second step,
  // with what the first left in its sum (nodata).
  double** regions = NewGrid(0.0);
  regions[1][1] = 1.0;
  Register("", regions, 0, "MPIRegions");
  double** data = NewGrid(2.0);
  const int index = Register("tempr.asc", data, 80);
  At(2023, 11, 12, 22);
  object.WriteGridOutput(index, 1, false);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) data[r][c] = 4.0;
  At(2023, 11, 12, 23);
  object.WriteGridOutput(index, 0, false);
  ASSERT_EQ(object.written.size(), 1u);
  const written_file& mean = object.written[0];
  EXPECT_DOUBLE_EQ(Cell(mean, 1, 2), 3.0);
  EXPECT_DOUBLE_EQ(Cell(mean, 3, 3), 3.0);
  EXPECT_DOUBLE_EQ(Cell(mean, 1, 1), ND + 4.0);
  EXPECT_DOUBLE_EQ(Cell(mean, 2, 2), ND);
}

TEST_F(GridOutputFixture, LayeredEntryAccumulatesItsFirstLayer) {
  object.SetEndDate(2023, 11, 12, 10, 0);
  double** data = NewGrid(0.0);
  double*** layers = object.Matrix3D(1, kRows, 1, kCols, 2, 0);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      layers[r][c][1] = 5.0;
      layers[r][c][2] = 9.0;
    }
  const int index = table.FirstFreeEntry();
  object.RegisterGrid(index, "swe.asc", data, layers, 2, "swe", 10, 1, kRows);
  At(2023, 11, 12, 10);
  object.WriteGridOutput(index, 1, false);
  const written_file* f = object.Find("swe.sum");
  ASSERT_NE(f, nullptr);
  EXPECT_DOUBLE_EQ(Cell(*f, 1, 1), 5.0);
  EXPECT_DOUBLE_EQ(data[1][1], 5.0);
  object.Free3DMatrix(layers);
}

TEST_F(GridOutputFixture, VegetationPeriodFilesSumOrAverageTheSeason) {
  double** start = NewGrid(1.0);
  start[1][1] = -1.0;  // the season has not started there
  double** stop = NewGrid(0.0);
  double** duration = NewGrid(2.0);
  duration[1][2] = 0.0;  // a season of no days
  Register("", start, 0, "VegetationStart1");
  Register("", stop, 0, "VegetationStop1");
  Register("", duration, 0, "VegetationDuration1");
  double** data = NewGrid(0.0);
  const int sum = Register("tempr.asc", data, 1000);
  const int mean = Register("tmean.asc", data, 2000);
  const int entries[] = {sum, mean};

  // Day 1 starts the season: its values are dropped by the reset.
  At(2023, 6, 1, 23);
  for (int i : entries) table[i].vegetation_started = 1;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) data[r][c] = 100.0;
  for (int i : entries) object.WriteGridOutput(i, 1, false);
  EXPECT_TRUE(object.written.empty());
  for (int i : entries) EXPECT_EQ(table[i].vegetation_started, 0);

  At(2023, 6, 2, 23);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) data[r][c] = 1.0;
  for (int i : entries) object.WriteGridOutput(i, 1, false);

  At(2023, 6, 3, 23);
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) data[r][c] = 3.0;
  data[1][3] = ND;
  for (int i : entries) table[i].vegetation_ended = 1;
  for (int i : entries) object.WriteGridOutput(i, 1, false);
  for (int i : entries) EXPECT_EQ(table[i].vegetation_ended, 0);

  ASSERT_EQ(object.written.size(), 2u);
  struct Expect {
    std::string file;
    double not_started, no_days, one_nodata, outside, other;
  };
  const Expect expected[] = {
      {"tempr_0023_vegper.sum", 0.0, 4.0, 1.0, ND, 4.0},
      {"tmean_0023_vegper.mit", 0.0, ND, 0.5, ND, 2.0},
  };
  for (size_t i = 0; i < 2; ++i) {
    const Expect& e = expected[i];
    const written_file& f = object.written[i];
    SCOPED_TRACE(e.file);
    EXPECT_EQ(f.name, e.file);
    EXPECT_EQ(f.kind, "masked");
    EXPECT_DOUBLE_EQ(Cell(f, 1, 1), e.not_started);
    EXPECT_DOUBLE_EQ(Cell(f, 1, 2), e.no_days);
    EXPECT_DOUBLE_EQ(Cell(f, 1, 3), e.one_nodata);
    EXPECT_DOUBLE_EQ(Cell(f, 2, 2), e.outside);
    EXPECT_DOUBLE_EQ(Cell(f, 3, 2), e.other);
  }
}

TEST_F(GridOutputFixture, VegetationGridsFollowTheLayerOfTheOutputName) {
  for (const char* grid : {"VegetationStart2", "VegetationStop2", "VegetationDuration2"})
    Register("", NewGrid(0.0), 0, grid);
  double** data = NewGrid(1.0);
  const int layer2 = Register("swe.asc", data, 1000);
  table[layer2].outname = "out.v1/swe_Layer_2.asc";
  At(2023, 6, 1, 12);
  object.WriteGridOutput(layer2, 1, false);
  EXPECT_EQ(table[layer2].vegetation_start_grid, table[object.FindGrid("VegetationStart2", false)].data);

  // Layer 1 is the default, and its grids are missing here.
  const int layer1 = Register("swe1.asc", data, 1000);
  const std::string shown =
      test::ExpectCode(console, kMissingGridCode, [&] { object.WriteGridOutput(layer1, 1, false); });
  EXPECT_NE(shown.find("VegetationStart1 not found in memory"), std::string::npos) << shown;
}

TEST_F(GridOutputFixture, StacksAreWrittenUnderShortDateStamps) {
  double*** layers = object.Matrix3D(1, kRows, 1, kCols, 2, 0);
  struct Case {
    std::string file;
    int code;
    bool run_end;
    dated_call when;
    Names expected;
  };
  const dated_call morning{2023, 11, 12, 7};
  const Case cases[] = {
      {"snowlayers.stk", 2, false, morning, {"snow_20231112.007"}},
      {"out/snowlayers.stk", 2, true, morning, {"out/snow_20231112.007", "out/snowlayers.stk"}},
      {"out\\ab.stk", 2, false, morning, {"out\\ab_20231112.007"}},
      {"layers", 5, false, kB, {"laye_20231112.023"}},
      {"snowlayers.stk", 1, false, morning, {"snowlayers.stk"}},
      {"snowlayers.stk", 3, false, morning, {}},
      {"snowlayers.stk", 3, true, morning, {"snowlayers.stk"}},
      {"snowlayers.stk", 4, false, morning, {}},
      {"snowlayers.stk", 4, false, kB, {"snowlayers.stk"}},
      {"snowlayers.stk", 6, true, kD, {}},
      {"snowlayers.stk", 10, true, kD, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " code " + std::to_string(c.code));
    object.SetEndDate(c.run_end ? c.when.year : 2030, c.when.month, c.when.day, c.when.hour, 0);
    const int index = table.FirstFreeEntry();
    object.RegisterGrid(index, c.file, nullptr, layers, 2, "stack", c.code, 1, kRows);
    At(c.when.year, c.when.month, c.when.day, c.when.hour);
    object.WriteStackOutput(index);
    EXPECT_EQ(object.TakeNames(), c.expected);
  }
  // A second write at the same date counts as a repeat.
  const int index = table.FirstFreeEntry();
  object.RegisterGrid(index, "snowlayers.stk", nullptr, layers, 2, "stack", 2, 1, kRows);
  object.SetEndDate(2030, 1, 1, 0, 0);
  At(2023, 11, 12, 7);
  object.WriteStackOutput(index);
  object.WriteStackOutput(index);
  EXPECT_EQ(object.TakeNames(), (Names{"snow_20231112.007", "snow_20231112.007_001"}));
  object.Free3DMatrix(layers);
}

TEST_F(GridOutputFixture, CallsWithoutAnythingToWriteDoNothing) {
  object.SetEndDate(2023, 11, 12, 10, 0);
  At(2023, 11, 12, 10);
  const int no_data = table.FirstFreeEntry();
  object.RegisterGrid(no_data, "a.asc", nullptr, nullptr, 1, "a", 311, 1, kRows);
  for (int index : {-1, 0, 1001, no_data, no_data + 1}) {
    object.WriteGridOutput(index, 1, false);
    object.WriteStackOutput(index);
  }
  EXPECT_TRUE(object.written.empty());
}

// The writers themselves, with the output directory in front of every name.
TEST(GridOutputFiles, NamesLandInTheOutputDirectory) {
  TempDir dir;
  std::ostringstream console;
  MessageStream ms{dir / "diag.xml", 4, console};
  grid_table table{&ms};
  modelobject object{&ms, "none", true, false, false, nullptr, nullptr};
  object.grids = &table;
  object.ncols = 2;
  object.nrows = 1;
  object.interval_end_shift = 1.0;
  object.DefaultOutputDirectory = std::make_unique<std::string>(dir.path().string() + "/");
  std::filesystem::create_directory(dir.path() / "out");
  const owned_matrix zone = test::MatrixOf({{1.0, 1.0}});
  const owned_matrix data = test::MatrixOf({{2.5, ND}});
  object.RegisterGrid(1, "zone.asc", zone.get(), nullptr, 1, "[zone_grid]", 0, 1, 1);
  object.RegisterGrid(2, "out/qsim.asc", data.get(), nullptr, 1, "qsim", 12, 1, 1);
  object.SetEndDate(2023, 11, 12, 12, 0);
  object.current_date = model_date{0, 12, 12, 11, 2023};
  object.WriteGridOutput(2, 1, false);
  for (const char* file : {"out/qsim_20231112.1200", "out/qsim.asc", "out/qsim.sum"})
    EXPECT_TRUE(std::filesystem::exists(dir.path() / file)) << file;
  const std::string sum = test::ReadFile(dir / "out/qsim.sum");
  EXPECT_NE(sum.find("nodata_value\t-9999"), std::string::npos) << sum;
  EXPECT_NE(sum.find("2.5\t-9999\n"), std::string::npos) << sum;
}

}  // namespace
}  // namespace velmo
