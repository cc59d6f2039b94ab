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
  // code fails the test.
  int Run(const std::function<void(ModellApplication&)>& built,
          const ModellApplication::pass_observer& after_pass,
          const std::function<void(ModellApplication&)>& after_run = {}) {
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
      ADD_FAILURE() << "the example ended with code " << code << "\n" << console.str();
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

// Data of the grid `name` of the application's grid table; fails the test
// and returns null without it.
inline double** GridOf(ModellApplication& application, const std::string& name) {
  const grid_table& table = *application.grids;
  for (int i = 1; i < kGridTableLimit && table[i].in_use(); ++i)
    if (table[i].name == name) return table[i].data;
  ADD_FAILURE() << "no grid " << name;
  return nullptr;
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
