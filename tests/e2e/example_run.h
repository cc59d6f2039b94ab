// The example catchment run in-process, so that a test can read the grids
// and the modules' states in memory after construction and after every pass
// of the time loop; and the reading of the statistics tables it writes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/bodenmod.h"
#include "support/test_support.h"

namespace velmo::test {

// The example in a directory of its own.
class example_run {
 public:
  example_run() { CopyExample(dir); }
  // Replaces the first `from` of the control file by `to`.
  void Change(const std::string& from, const std::string& to) {
    ReplaceInFile(dir / "example.ctl", from, to);
  }
  // Builds the application in the example's directory, calls `built` on it,
  // runs the time loop with `after_pass` called after every pass, calls
  // `after_run` and clears it. Returns the result of the time loop; a thrown
  // code fails the test, unless `thrown` takes it.
  int Run(const std::function<void(ModellApplication&)>& built,
          const ModellApplication::pass_observer& after_pass,
          const std::function<void(ModellApplication&)>& after_run = {}, int* thrown = nullptr) {
    const WorkingDirectory working(dir.path());
    std::ostringstream console;
    int result = -1;
    try {
      MessageStream messages(dir / "diag.xml", kInfo, console);
      std::string program = "velmo", control = "example.ctl";
      char* argv[] = {program.data(), control.data(), nullptr};
      ModellApplication application(&messages, 2, argv, 1);
      if (built) built(application);
      application.InstallPassObserver(after_pass);
      result = application.run();
      if (after_run) after_run(application);
      application.ClearMemory();
    } catch (ErrorCode code) {
      if (thrown) {
        *thrown = code;
      } else {
        ADD_FAILURE() << "the example ended with code " << code << "\n" << console.str();
      }
    }
    transcript = console.str();
    return result;
  }
  // Runs the real program on the example; its exit status.
  int Velmo(const std::string& out = "out.txt") {
    return RunVelmo(dir.path().string(), "example.ctl", dir / out);
  }

  TempDir dir;
  std::string transcript;
};

// Data of the grid `name` of the application's grid table, or null without it.
inline double** OptionalGridOf(ModellApplication& application, const std::string& name) {
  const grid_table& table = *application.grids;
  for (int i = 1; i < kGridTableLimit && table[i].in_use(); ++i)
    if (table[i].name == name) return table[i].data;
  return nullptr;
}

// The same; a grid that is not there fails the test.
inline double** GridOf(ModellApplication& application, const std::string& name) {
  double** data = OptionalGridOf(application, name);
  if (!data) ADD_FAILURE() << "no grid " << name;
  return data;
}

// The water of a cell's soil (mm): the root zone, the drainage and interflow
// storages, and the inactive soil below the roots counted by its water.
inline double CellSoilWater(const bodenmodellklasse& soil, int r, int c) { return soil.CellSoilWater(r, c); }

// The example's snow section is that of method 1; from method 5 on it also
// has the lines of the energy balance (with the pack and surface
// temperature tables) and of the slides.
inline const char* const kSnowReadgridLine =
    "0       readgrid: 1 reads the initial cover from the grid files above\n";
inline const char* const kEnergyBalanceLines =
    "0       readgrid: 1 reads the initial cover from the grid files above\n"
    "snowtemp.asc\n0\nsnowtemp.stat 2001\nsurftemp.asc\n0\nsurftemp.stat 2001\n"
    "input_mass.asc\n0\ninput_mass.stat 0\nmobile_mass.asc\n0\nmobile_mass.stat 0\n"
    "deposition.asc\n0\ndeposition.stat 0\n55\n1\n30\n0.01\n1.0\n1.0\n1.0\n";
// The interception section's end for methods above 20: the snow canopy,
// which the forest's canopy holds (its leaf area is above 3, its roughness
// above 0.5 m) and the meadow's does not, and the canopy's energy balance.
inline const char* const kCanopyStoresLine = "0       the stores start empty\n";
inline const char* const kSnowCanopyLines =
    "0       the stores start empty\n"
    "scn_temperature.asc\n0\nscn_temperature.stat 0\nscn_rh.asc\n0\nscn_rh.stat 0\n"
    "scn_rad.asc\n0\nscn_rad.stat 0\nscn_wind.asc\n0\nscn_wind.stat 0\n"
    "scn_load.asc\n0\nscn_load.stat 2001\nscn_age.asc\n0\nscn_age.stat 0\n"
    "scn_albedo.asc\n0\nscn_albedo.stat 0\nscn_sublim.asc\n0\nscn_sublim.stat 2001\n"
    "scn_unload_solid.asc\n0\nscn_unload_solid.stat 0\nscn_unload_liquid.asc\n0\nscn_unload_liquid.stat 0\n"
    "3.0     minimum leaf area index of a snow canopy\n"
    "0.5     minimum roughness length (m) of a snow canopy\n"
    "1.0     leaf area index scaling\n"
    "ceb_balance.asc\n0\nceb_balance.stat 0\nceb_temperature.asc\n0\nceb_temperature.stat 2001\n"
    "ceb_temperature_old.asc\n0\nceb_temperature_old.stat 0\nceb_dummy.asc\n0\nceb_dummy.stat 0\n";

// The example made ready for a warm start: Hamon in place of
// Penman-Monteith (which depends on the snow's albedo), the radiation
// correction recomputed every step and land uses without dynamic phenology
// (as the example has them), grids written as binary doubles, and every
// state grid written at the end of the run.
inline void WarmStartConfiguration(example_run& run) {
  run.Change("WriteAsciiGrids = 1", "WriteDoubleGrids = 1");
  run.Change("1       method: Penman-Monteith", "2       method: Hamon");
  for (const char* grid : {"sd.asc  saturation deficit", "suz.asc drainage storage",
                           "sif.asc interflow storage", "sbia.asc inactive soil moisture",
                           "nfkia.asc inactive field capacity", "ssp.asc saturated soil partition"})
    run.Change(std::string(grid) + "\n0       write code", std::string(grid) + "\n3       at the end");
  run.Change("starts at 0.8\n0       write code", "starts at 0.8\n3       write code: at the end");
  for (const char* grid :
       {"snowdays.asc                snow days grid", "snowage.asc                 snow age grid",
        "snowsolid.asc               solid storage", "snowliquid.asc              liquid storage"})
    run.Change(std::string(grid) + "\n0", std::string(grid) + "\n3");
  run.Change("snowtotal.asc               whole cover\n4", "snowtotal.asc               whole cover\n3");
  run.Change("si.asc  interception storage\n0       not written", "si.asc  interception storage\n3");
}

// The run starts from the state that an earlier run of the configuration
// above left in its directory: the state grids and the state file.
inline void ReadStoredState(example_run& run) {
  run.Change("0       read mode of the stored state: none", "1       read mode: the state grids and file");
  run.Change("0       read code: created from the default value", "1       read code: from its file");
  run.Change("0       readgrid: 1 reads the initial cover", "1       readgrid: 1 reads the initial cover");
  run.Change("0       the stores start empty", "1       the stores from their grids");
}

// One row of a statistics table: its date fields and its values as written.
struct table_row {
  std::vector<int> date;
  std::vector<std::string> values;
};

// The rows of a statistics table after its three header lines, up to the
// first line that is not a dated row (the efficiency block of a discharge
// table).
inline std::vector<table_row> TableRows(const std::string& path, int date_fields = 4) {
  std::istringstream in(ReadFile(path));
  std::vector<table_row> rows;
  std::string line;
  for (int header = 0; header < 3 && std::getline(in, line); ++header) {
  }
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    table_row row;
    std::string field;
    while (fields >> field) {
      if (static_cast<int>(row.date.size()) < date_fields) {
        if (field.find_first_not_of("0123456789") != std::string::npos) return rows;
        row.date.push_back(std::stoi(field));
      } else {
        row.values.push_back(field);
      }
    }
    if (!row.values.empty()) rows.push_back(row);
  }
  return rows;
}

// Half a unit of the last decimal a table printed `text` with.
inline double PrintedPrecision(const std::string& text) {
  const std::size_t point = text.find('.');
  const int decimals = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
  double unit = 1.0;
  for (int d = 0; d < decimals; ++d) unit /= 10.0;
  return 0.5 * unit;
}

}  // namespace velmo::test
