// A small domain for the soil and infiltration models: a message stream, a
// grid table with the zone grid in entry 1 and the input grids registered by
// hand, model settings with a soil table, and the control-file sections of
// the two models built from parameter columns. The test runs in its own
// directory, where the models append to "modell.log".
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "landsurface/infilt.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "support/test_support.h"

namespace velmo::test {

inline constexpr double N = -9999.0;

// The parameter rows of one subbasin column, as written in the control file
// (m in metres, storage constants in hours, rates per hour).
struct soil_column {
  double m = 0.02;
  double Tkorr = 1.0e-5;
  double Kkorr = 0.5;
  double k_ELS_QD = 2.0;
  double SHmax = 10.0;
  double k_ELS_QI = 5.0;
  double k_ELS_QBB = 50.0;
  double alpha = 0.05;
  double QBBini = 0.0;
  double SUZini = 0.0;
  double SDini = 0.5;
  double Pgrenz = 4.0;
  double Rrueck = 0.5;
  double QDsnow = 0.3;
};

// What the sections of the two models hold.
struct soil_control {
  int flow = 1;
  double interval = 60.0;
  int method = 1;
  std::string codes = "1";
  std::vector<soil_column> columns = {soil_column{}};
  int table_code = 0;  // statistics code of every soil table (0: none)
  int read_mode = 0;
  int infiltration = 0;
  double infiltration_interval = 60.0;
  double P = 0.0;
  std::string lake;  // the "[lake_model]" section's values, empty for none
};

inline std::string SoilControlText(const soil_control& s) {
  std::ostringstream t;
  t.precision(17);
  t << "[soil_model]\n" << s.flow << " flow control\n" << s.interval << " minutes\n";
  if (s.flow != 0) {
    t << s.method << " method\n";
    const char* grids[] = {"sd", "suz", "sif", "sbia", "nfkia", "ssp", "qd", "qi"};
    for (const char* g : grids) t << g << ".asc name\n0 write code\n";
    t << "peak.asc\n";
    const char* tables[] = {"qd", "qi", "qb", "qbb", "qg", "sb", "suz", "sif", "sd"};
    for (const char* table : tables) t << table << ".stat " << s.table_code << "\n";
    t << s.codes << " codes\n";
    for (int row = 0; row < kParameterRowCount; ++row) {
      for (const soil_column& c : s.columns) {
        const std::array<double, kParameterRowCount> v = {
            c.m,     c.Tkorr,  c.Kkorr,  c.k_ELS_QD, c.SHmax,  c.k_ELS_QI, c.k_ELS_QBB,
            c.alpha, c.QBBini, c.SUZini, c.SDini,    c.Pgrenz, c.Rrueck,   c.QDsnow};
        t << v[static_cast<size_t>(row)] << " ";
      }
      t << kParameterRowNames[static_cast<size_t>(row)] << "\n";
    }
    t << s.read_mode << " read mode\nstate.txt state file\n";
  }
  t << "[infiltration_model]\n" << s.infiltration << " switch\n";
  if (s.infiltration != 0) {
    t << s.infiltration_interval << " minutes\ninfex.asc\n0\ninfex.stat " << s.table_code << "\nsat.asc\n0\n"
      << s.P << " P\n";
  }
  if (!s.lake.empty()) t << "[lake_model]\n" << s.lake;
  return t.str();
}

// The domain works in its own directory while it lives.
class soil_domain {
 public:
  soil_domain() : previous_directory_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir.path());
    settings.control_file_name = dir / "control.intern";
    settings.message_interval = 24;
    // Two soil records: loam (drainable porosity 0.2, suction 300 mm) and
    // sand (0.1, 100 mm).
    soil_records.resize(3);
    soil_records[0].code = 2;
    soil_records[1].drainable_porosity = 0.2;
    soil_records[1].suction = 300.0;
    soil_records[2].drainable_porosity = 0.1;
    soil_records[2].suction = 100.0;
    settings.soil_table = soil_records.data();
  }
  ~soil_domain() { std::filesystem::current_path(previous_directory_); }
  soil_domain(const soil_domain&) = delete;
  soil_domain& operator=(const soil_domain&) = delete;

  // A domain of nrows x ncols cells; `zones` (row by row) is the zone grid,
  // and also "zonegrid_soilmodel" unless that is registered separately. The
  // elevation model (entry 2) is 500 m everywhere.
  void Domain(int nrows, int ncols, const std::vector<double>& zones) {
    settings.nrows = settings.last_row = nrows;
    settings.first_row = 1;
    settings.ncols = ncols;
    settings.nodata_value = N;
    settings.cellsize = 100.0;
    ranges.assign(static_cast<size_t>(nrows) + 1, row_range{1, ncols});
    settings.row_ranges = ranges.data();
    Grid("[zone_grid]", zones);
    Grid("[elevation_model]", {500.0});
  }
  int Rows() const { return settings.nrows; }
  int Cols() const { return settings.ncols; }

  // Registers `name` in the first free entry with `values` row by row (one
  // value: every cell).
  double** Grid(const std::string& name, const std::vector<double>& values) {
    const int nrows = Rows(), ncols = Cols();
    test::Rows rows(static_cast<size_t>(nrows));
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        rows[r - 1].push_back(values.size() == 1 ? values[0]
                                                 : values[static_cast<size_t>((r - 1) * ncols + c - 1)]);
    owned.push_back(MatrixOf(rows));
    double** data = owned.back().get();
    const int index = table.FirstFreeEntry();
    table[index].name = name;
    table[index].data = data;
    table[index].file_name = name + ".asc";
    return data;
  }

  // The grids every soil model needs, uniform unless given before; the
  // subbasins are the zones.
  void StandardGrids(double precipitation = 0.0) {
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, double>>{{"zonegrid_soilmodel", 0.0},
                                                     {"hydraulic_conductivity", 1.0e-6},
                                                     {"topographic_faktor", 8.0},
                                                     {"soil_storage", 0.5},
                                                     {"available_soil_moisture", 100.0},
                                                     {"root_depth1", 0.5},
                                                     {"soil_types", 1.0},
                                                     {"fillable_porosity", 0.3},
                                                     {"precipitation", precipitation}}) {
      if (Find(name)) continue;
      if (name == "zonegrid_soilmodel") {
        std::vector<double> zones;
        for (int r = 1; r <= Rows(); ++r)
          for (int c = 1; c <= Cols(); ++c) zones.push_back(table[1].data[r][c]);
        Grid(name, zones);
      } else {
        Grid(name, {value});
      }
    }
  }

  double** Find(const std::string& name) {
    for (int i = 1; i < kGridTableLimit && table[i].in_use(); ++i)
      if (table[i].name == name) return table[i].data;
    return nullptr;
  }

  std::unique_ptr<infiltrationsmodellklasse> Build(const soil_control& control) {
    WriteFile(settings.control_file_name, SoilControlText(control));
    auto model = std::make_unique<infiltrationsmodellklasse>(&ms, settings, &table);
    model->LinkInputGrids(false);
    return model;
  }
  // Builds the model with `control`, sets it ready and cleans it up, which
  // writes its block of the state file "state.txt"; returns that file.
  std::string WrittenState(const soil_control& control) {
    auto model = Build(control);
    model->SetReady(1);
    model->CleanUp();
    return ReadFile(dir / "state.txt");
  }
  // The code the construction throws (0: none) and what the console got.
  int BuildCode(const soil_control& control, std::string& text) {
    WriteFile(settings.control_file_name, SoilControlText(control));
    console.str("");
    const int code = ThrownCode([&] { infiltrationsmodellklasse model(&ms, settings, &table); });
    text = console.str();
    return code;
  }

  TempDir dir;
  std::filesystem::path previous_directory_;
  std::ostringstream console;
  MessageStream ms{dir / "diag.xml", kDebug, console};
  grid_table table{&ms};
  model_settings settings;
  std::vector<row_range> ranges;
  std::vector<soil_table_entry> soil_records;
  std::vector<owned_matrix> owned;
};

}  // namespace velmo::test
