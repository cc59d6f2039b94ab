// The real program run on a copy of a test case: the copy of a data folder
// (or of the example) in a fresh directory, edits of its files, the run on one
// control file with its standard output kept in "out.txt".
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace velmo::test {

// Copies the files of tests/data/<folder> into `dir`: all of them, or only
// `files`.
inline void CopyTestData(const TempDir& dir, const std::string& folder,
                         const std::vector<std::string>& files = {}) {
  const std::filesystem::path data = std::filesystem::path(VELMO_TEST_DATA) / folder;
  if (files.empty()) {
    for (const auto& file : std::filesystem::directory_iterator(data))
      std::filesystem::copy_file(file.path(), dir / file.path().filename().string());
  } else {
    for (const std::string& file : files) std::filesystem::copy_file(data / file, dir / file);
  }
}

// A directory of its own and the program run there on `control`.
struct ControlRun {
  explicit ControlRun(std::string control_file) : control(std::move(control_file)) {}

  int Velmo() const { return Velmo(control); }
  int Velmo(const std::string& arguments) const {
    return RunVelmo(dir.path().string(), arguments, dir / "out.txt");
  }
  std::string Transcript() const { return ReadFile(dir / "out.txt"); }
  // Replaces the first `from` by `to` in the control file (or in `file`).
  void Edit(const std::string& from, const std::string& to) const { ReplaceInFile(dir / control, from, to); }
  void Edit(const std::string& file, const std::string& from, const std::string& to) const {
    ReplaceInFile(dir / file, from, to);
  }

  TempDir dir;
  std::string control;
};

// The same as a fixture on a copy of tests/data/<folder> (all files, or only
// `files`); an empty folder copies the example.
class ControlRunTest : public ::testing::Test, public ControlRun {
 protected:
  ControlRunTest(std::string folder, std::string control_file, std::vector<std::string> files = {})
      : ControlRun(std::move(control_file)), folder_(std::move(folder)), files_(std::move(files)) {}
  void SetUp() override {
    if (folder_.empty())
      CopyExample(dir);
    else
      CopyTestData(dir, folder_, files_);
  }

 private:
  std::string folder_;
  std::vector<std::string> files_;
};

// The outputs of the example run in `dir`: every file it wrote, without its
// inputs and logs.
inline std::vector<std::string> Outputs(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name == "example.ctl" || name.ends_with(".intern") ||
        name == "Velmo_Diag.xml" || name == "out.txt" || name == "modell_0.log")
      continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The values of the rows of a statistics table (after its three header
// lines), the `date_columns` date columns left out.
inline std::vector<std::vector<double>> TableValues(const std::string& path, int date_columns = 4) {
  std::istringstream in(ReadFile(path));
  std::vector<std::vector<double>> rows;
  std::string line;
  for (int header = 0; header < 3 && std::getline(in, line); ++header) {
  }
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::vector<double> row;
    double v = 0.0;
    for (int i = 0; cells >> v; ++i)
      if (i >= date_columns) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

}  // namespace velmo::test
