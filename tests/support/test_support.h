// Helpers shared by the test programs.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "framework/modelobject.h"

namespace velmo::test {

// A fresh, empty directory under the system's temporary directory, removed
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // Leaves the directory in place (for a failing test's files).
  void Keep() { keep_ = true; }

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

// Makes `directory` the working directory while it lives.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& directory);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path before_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Number of table rows in a statistics file (after its three header lines).
int StatisticsRows(const std::string& path);
// Copies the example catchment of examples/ into `dir`.
void CopyExample(const TempDir& dir);

// Replaces the first `from` in `text` (or in the file) by `to`; a text
// without `from` fails the test.
void Replace(std::string& text, const std::string& from, const std::string& to);
void ReplaceInFile(const std::string& path, const std::string& from, const std::string& to);

// Values of a grid, row by row from the north; every row as long as the
// first.
using Rows = std::vector<std::vector<double>>;

// The one row builder: a matrix [row][col] from 1 holding `rows`.
owned_matrix MatrixOf(const Rows& rows);
// Rows of a matrix [row][col] from 1.
Rows RowsOf(double** matrix, int nrows, int ncols);
// `nrows` rows of `ncols` times `value`.
Rows Filled(int nrows, int ncols, double value);

// A forked child process, killed and reaped when this goes unless Wait saw
// it end.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // fork(): 0 in the child, the child's id in the parent, -1 on failure.
  pid_t Fork();
  void Signal(int signal_number);
  // The child's exit status; -1 when it did not exit within `timeout`, was
  // killed or never started.
  int Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Addresses within the memory of matrices and stacks (the first and last value
// of every row), to tell after they are freed whether the process still maps
// any of it: a block returned with too small a size leaves its tail mapped.
class HeldMemory {
 public:
  void AddMatrix(double* const* matrix, int row_lo, int row_hi, int col_hi);
  void AddStack(double* const* const* stack, int i_lo, int i_hi, int j_hi, int k_hi);
  int size() const { return static_cast<int>(addresses_.size()); }
  // How many of the addresses lie in a mapping of the process now (from
  // /proc/self/maps).
  int StillMapped() const;

 private:
  std::vector<std::uintptr_t> addresses_;
};

// A file read through `inner` whose close reports a failure (and closes
// `inner`).
std::FILE* WithFailingClose(std::FILE* inner);

// Runs the velmo binary with `arguments` in `directory`; returns its exit
// status. Standard output goes to `stdout_path` when given.
int RunVelmo(const std::string& directory, const std::string& arguments, const std::string& stdout_path = "",
             const std::string& stdin_path = "");

// Runs `action`, expects it to throw `code`, and returns what `console` got
// meanwhile. `label` names the case in a failure.
template <typename F>
std::string ExpectCode(std::ostringstream& console, int code, F action, const std::string& label = {}) {
  console.str("");
  try {
    action();
    ADD_FAILURE() << "no code thrown, expected " << code << (label.empty() ? "" : " for:\n") << label;
  } catch (ErrorCode thrown) {
    EXPECT_EQ(thrown, code) << label;
  }
  return console.str();
}

// The code `action` throws; 0 when it throws none.
template <typename F>
int ThrownCode(F action) {
  try {
    action();
  } catch (ErrorCode code) {
    return code;
  }
  return 0;
}

// A temporary directory and a message stream whose diagnostics file lies in
// it; the console transcript goes to `console`.
struct MessageCapture {
  TempDir dir;
  std::ostringstream console;
  MessageStream ms{dir / "diag.xml", kDebug, console};

  // Runs `action`, expects it to throw `code`, and returns what the console
  // got meanwhile.
  template <typename F>
  std::string ExpectCode(int code, F action, const std::string& label = {}) {
    return test::ExpectCode(console, code, action, label);
  }
};

// The same as a test fixture.
struct MessagesTest : ::testing::Test, MessageCapture {};

// A model object on a domain of its own, with a grid table of its own, for
// tests of the grid files and the grid table below the set-up. Matrices made
// by Grid() or handed to Own() are freed with the fixture.
class ModelObjectTest : public MessagesTest {
 protected:
  ModelObjectTest();

  void SetDomain(int ncols, int nrows, double xllcorner, double yllcorner, double cellsize,
                 double nodata = -9999.0);
  // Takes a matrix of the domain over (one the grid reader allocated).
  double** Own(double** matrix);
  double** Grid(const Rows& rows);
  Rows Values(double** matrix) const { return RowsOf(matrix, object.nrows, object.ncols); }
  // Reads `file` into a new matrix of the domain, without progress entries;
  // its cells row by row from the north.
  std::vector<double> ReadCells(const std::string& file);

  grid_table table{&ms};
  modelobject object{&ms, "none"};
  std::vector<owned_matrix> owned;
};

}  // namespace velmo::test
