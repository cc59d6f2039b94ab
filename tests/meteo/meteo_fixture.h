// A small domain for interpolator tests: 3 x 2 cells of 1000 m from (0, 0),
// one zone, the grids the set-up object would register, and helpers that
// write a control file with one interpolator section and its station file.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "meteo/meteoint.h"
#include "setup/settings.h"
#include "support/test_support.h"

namespace velmo::test {

inline constexpr int kColumns = 3;
inline constexpr int kRows = 2;
inline constexpr double kCell = 1000.0;

// Value of a cell of the domain, [row][col] from 1.
using cell_values = std::function<double(int r, int c)>;

// One station: x, y, altitude.
struct station {
  double x, y, z;
};

class MeteoDomain : public MessagesTest {
 public:
  MeteoDomain() {
    auto grid = [this](const char* grid_name, int index, const Rows& rows) {
      owned.push_back(MatrixOf(rows));
      table[index].name = grid_name;
      table[index].file_name = std::string(grid_name) + ".asc";
      table[index].data = owned.back().get();
    };
    grid("zones", 1, Filled(kRows, kColumns, 1.0));
    grid("dem", 2, {{200, 300, 400}, {300, 400, 500}});  // 100 m times (row + column)
    grid("RelCellArea", 3, Filled(kRows, kColumns, 1.0));
    // The cells' centres.
    grid("CoordX", 4, {{500, 1500, 2500}, {500, 1500, 2500}});
    grid("CoordY", 5, {{1500, 1500, 1500}, {500, 500, 500}});

    zones[1].code = 1;
    zones[1].area_fraction = 1.0;
    for (int r = 1; r <= kRows; ++r) ranges[r] = {1, kColumns};
    settings.control_file_name = dir / "meteo.ctl";
    settings.timestep = 60;
    settings.message_interval = 0;
    settings.zone_table = zones;
    settings.zone_code_map = zone_map;
    settings.zone_count = 1;
    settings.max_zone_code = 1;
    settings.row_ranges = ranges;
    settings.ncols = kColumns;
    settings.nrows = kRows;
    settings.first_row = 1;
    settings.last_row = kRows;
    settings.cellsize = kCell;
    settings.nodata_value = -9999.0;
    settings.WriteAsciiGrids = true;
    SetPeriod({0, 1, 1, 1, 2000}, {0, 3, 1, 1, 2000});
  }

  // Registers a grid of the domain in the first free entry.
  double** AddGrid(const std::string& grid_name, const cell_values& value) {
    Rows rows(kRows, std::vector<double>(kColumns));
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kColumns; ++c) rows[r - 1][c - 1] = value(r, c);
    owned.push_back(MatrixOf(rows));
    const int index = table.FirstFreeEntry();
    table[index].name = grid_name;
    table[index].file_name = grid_name + ".asc";
    table[index].data = owned.back().get();
    return owned.back().get();
  }

  void SetPeriod(model_date start, model_date end) {
    settings.startminute = start.minute;
    settings.starthour = start.hour;
    settings.startday = start.day;
    settings.startmonth = start.month;
    settings.startyear = start.year;
    settings.endminute = end.minute;
    settings.endhour = end.hour;
    settings.endday = end.day;
    settings.endmonth = end.month;
    settings.endyear = end.year;
  }

  // A station file: header lines 1 to 5, then `records` verbatim.
  std::string StationFile(const std::vector<station>& stations, const std::string& records,
                          const std::string& labels = "YY MM DD HH") {
    std::string text = "station file\n";
    for (int line = 0; line < 3; ++line) {
      text += labels;
      for (const station& s : stations) text += " " + Number(line == 0 ? s.z : line == 1 ? s.x : s.y);
      text += "\n";
    }
    return text + labels + " names\n" + records;
  }
  static std::string Number(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
  }

  // The section of `variable` with method `method`; `method_lines` are the
  // station file line and the method line, `rest` overrides lines 4 onward.
  static std::string Section(const std::string& variable, int method, const std::string& method_lines,
                             const std::string& rest = "") {
    const std::string standard =
        "result.asc      result grid\n"
        "0               write code\n"
        "1.0             scaling factor\n"
        "stat.txt 0      statistics\n"
        "9999            nodata value\n"
        "2               idw weight\n"
        "1               fraction\n"
        "100000          maximum distance\n"
        "0               anisotropy slope\n"
        "1               anisotropy ratio\n"
        "-1e9            lower limit\n"
        "-1e9            lower replacement\n"
        "1e9             upper limit\n"
        "1e9             upper replacement\n"
        "0               scenarios\n";
    return "[" + variable + "]\n" + std::to_string(method) + "  method\n" + method_lines +
           (rest.empty() ? standard : rest);
  }

  void WriteControlFile(const std::string& sections) { WriteFile(dir / "meteo.ctl", sections); }

  // Builds the interpolator of `variable` with its grid in the first free entry.
  std::unique_ptr<meteointerpol> Build(const std::string& variable = "rain") {
    int error = -1;
    auto interpolator =
        std::make_unique<meteointerpol>(error, &ms, variable, settings, &table, table.FirstFreeEntry());
    EXPECT_EQ(error, 0);
    return interpolator;
  }
  // The code the construction throws (and stores), 0 when none.
  int BuildCode(const std::string& variable = "rain") {
    int error = -1;
    const int code = ThrownCode(
        [&] { meteointerpol interpolator(error, &ms, variable, settings, &table, table.FirstFreeEntry()); });
    EXPECT_EQ(error, code);
    return code;
  }
  int FindGridIndex(const std::string& grid_name) const {
    for (int i = 1; i < kGridTableLimit; ++i)
      if (table[i].name == grid_name) return i;
    return 0;
  }
  static int Step(meteointerpol& m) {
    int minute, hour, day, month, year;
    m.GetCurrentDate(minute, hour, day, month, year);
    return m.InterpolateStep(minute, hour, day, month, year);
  }

  grid_table table{&ms};
  std::vector<owned_matrix> owned;
  zone_record zones[2];
  int zone_map[2] = {0, 1};
  row_range ranges[kRows + 1];
  model_settings settings;
};

}  // namespace velmo::test
