// Shared test helpers: files, the row builder, a model object on a domain, child processes, velmo runs.
#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace velmo::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("velmo_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  if (keep_) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

WorkingDirectory::WorkingDirectory(const std::filesystem::path& directory)
    : before_(std::filesystem::current_path()) {
  std::filesystem::current_path(directory);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(before_, ignored);
}

namespace {
struct failing_close_cookie {
  std::FILE* inner;
};
}  // namespace

std::FILE* WithFailingClose(std::FILE* inner) {
  cookie_io_functions_t functions{};
  functions.read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
    return static_cast<ssize_t>(
        std::fread(buffer, 1, size, static_cast<failing_close_cookie*>(cookie)->inner));
  };
  functions.seek = [](void* cookie, off64_t* position, int whence) -> int {
    std::FILE* file = static_cast<failing_close_cookie*>(cookie)->inner;
    if (fseeko(file, *position, whence) != 0) return -1;
    *position = ftello(file);
    return 0;
  };
  functions.close = [](void* cookie) -> int {
    auto* c = static_cast<failing_close_cookie*>(cookie);
    std::fclose(c->inner);
    delete c;
    return -1;
  };
  return fopencookie(new failing_close_cookie{inner}, "r", functions);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

int StatisticsRows(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::string line;
  int lines = 0;
  while (std::getline(in, line))
    if (!line.empty()) ++lines;
  return lines - 3;
}

void CopyExample(const TempDir& dir) {
  // Only the example's own files: a run of the example leaves its results
  // (and appended logs) beside the control file.
  const std::filesystem::path examples = VELMO_EXAMPLES;
  std::filesystem::copy(examples / "example.ctl", dir.path());
  for (const char* folder : {"grids", "meteo", "discharge"}) {
    std::filesystem::create_directories(dir.path() / folder);
    for (const auto& entry : std::filesystem::directory_iterator(examples / folder))
      if (entry.path().filename().string().find(".intern") == std::string::npos)
        std::filesystem::copy(entry.path(), dir.path() / folder / entry.path().filename());
  }
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

void ReplaceInFile(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = ReadFile(path);
  Replace(text, from, to);
  WriteFile(path, text);
}

owned_matrix MatrixOf(const Rows& rows) {
  const int nrows = static_cast<int>(rows.size());
  const int ncols = rows.empty() ? 0 : static_cast<int>(rows[0].size());
  memory_handling memory;
  owned_matrix m(memory.matrix(1, nrows, 1, ncols, 0));
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) m[r][c] = rows.at(r - 1).at(c - 1);
  return m;
}

Rows RowsOf(double** matrix, int nrows, int ncols) {
  Rows rows(nrows, std::vector<double>(ncols));
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) rows[r - 1][c - 1] = matrix[r][c];
  return rows;
}

Rows Filled(int nrows, int ncols, double value) { return Rows(nrows, std::vector<double>(ncols, value)); }

ModelObjectTest::ModelObjectTest() {
  object.grids = &table;
  object.name = "tester";
  object.open_retry_wait_ms = 0;
}

void ModelObjectTest::SetDomain(int ncols, int nrows, double xllcorner, double yllcorner, double cellsize,
                                double nodata) {
  object.ncols = ncols;
  object.nrows = nrows;
  object.last_row = nrows;
  object.xllcorner = xllcorner;
  object.yllcorner = yllcorner;
  object.cellsize = cellsize;
  object.nodata_value = nodata;
}

double** ModelObjectTest::Own(double** matrix) {
  owned.emplace_back(matrix);
  return matrix;
}

double** ModelObjectTest::Grid(const Rows& rows) {
  owned.push_back(MatrixOf(rows));
  return owned.back().get();
}

std::vector<double> ModelObjectTest::ReadCells(const std::string& file) {
  double** m = nullptr;
  object.ReadGrid(file, m, 0, true, false, 0.0, false);
  Own(m);
  std::vector<double> cells;
  for (int r = 1; r <= object.nrows; ++r)
    for (int c = 1; c <= object.ncols; ++c) cells.push_back(m[r][c]);
  return cells;
}

void HeldMemory::AddMatrix(double* const* matrix, int row_lo, int row_hi, int col_hi) {
  for (int r = row_lo; r <= row_hi; ++r) {
    addresses_.push_back(reinterpret_cast<std::uintptr_t>(matrix[r]));
    addresses_.push_back(reinterpret_cast<std::uintptr_t>(matrix[r] + col_hi));
  }
}

void HeldMemory::AddStack(double* const* const* stack, int i_lo, int i_hi, int j_hi, int k_hi) {
  for (int i = i_lo; i <= i_hi; ++i) AddMatrix(stack[i], 0, j_hi, k_hi);
}

int HeldMemory::StillMapped() const {
  std::ifstream maps("/proc/self/maps");
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> ranges;
  std::string line;
  while (std::getline(maps, line)) {
    const size_t dash = line.find('-');
    ranges.emplace_back(std::stoull(line.substr(0, dash), nullptr, 16),
                        std::stoull(line.substr(dash + 1), nullptr, 16));
  }
  int mapped = 0;
  for (std::uintptr_t address : addresses_) {
    for (const auto& [start, end] : ranges) {
      if (address >= start && address < end) {
        ++mapped;
        break;
      }
    }
  }
  return mapped;
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || reaped_) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

pid_t ChildProcess::Fork() {
  pid_ = fork();
  return pid_;
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (ended != pid_) return -1;
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunVelmo(const std::string& directory, const std::string& arguments, const std::string& stdout_path,
             const std::string& stdin_path) {
  std::string command = "cd '" + directory + "' && '" VELMO_BINARY "' " + arguments;
  command += " > " + (stdout_path.empty() ? std::string("/dev/null") : "'" + stdout_path + "'");
  command += " 2>&1";
  command += " < " + (stdin_path.empty() ? std::string("/dev/null") : "'" + stdin_path + "'");
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace velmo::test
