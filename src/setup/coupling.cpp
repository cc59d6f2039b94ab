// The section "[ExternalCoupling]": reading and checking the coupling with an external model.
#include "setup/coupling.h"

#include <cstdio>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"

namespace velmo {
namespace {

constexpr const char* kCouplingSection = "[ExternalCoupling]";

constexpr const char* kUnitError =
    "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid ";
constexpr const char* kReadGridError =
    "error reading external (read) grid name/entity/fill code/rename code ";
constexpr const char* kWriteGridError = "error reading external (write) grid name/entity/Writecode";
constexpr const char* kStatisticError = "error reading external (write) Statfile name/entity/writecode";

[[noreturn]] void RaiseCouplingFormatError(MessageStream* messages, const char* what,
                                           const std::string& module) {
  *messages << "FATAL: -----------------error------------\n"
            << what << module
            << "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block"
            << "[end-entry]";
  throw ErrorCode{kCouplingFormatErrorCode};
}

bool ReadInteger(std::FILE* file, int& value) { return ScanWholeValue(file, value) == 1; }

// A group of words followed by whole numbers, as white space allows across
// lines; false when any value is missing or malformed.
bool ReadReadGridGroup(std::FILE* file, external_read_grid& grid) {
  return ReadToken(file, grid.grid_name) && ReadToken(file, grid.entity) &&
         ReadInteger(file, grid.fill_code) && ReadInteger(file, grid.rename_code);
}

bool ReadWordTriple(std::FILE* file, std::string& first, std::string& second, std::string& third) {
  return ReadToken(file, first) && ReadToken(file, second) && ReadToken(file, third);
}

}  // namespace

bool NeedsAccumulationGrid(const std::string& write_code_word) {
  return write_code_word == "Mean" || write_code_word == "Sum" || write_code_word.starts_with("SumTotal");
}

void ClearAccumulationGrid(double** accumulation, double** zone, int first_row, int last_row, int ncols,
                           double nodata) {
  for (int r = first_row; r <= last_row; ++r) {
    double* row = accumulation[r];
    const double* zone_row = zone ? zone[r] : nullptr;
    for (int c = 1; c <= ncols; ++c) row[c] = (zone_row && zone_row[c] == nodata) ? nodata : 0.0;
  }
}

void defaultini::GetCouplingParameters() {
  OpenControlFile();
  if (!control_file) {
    *messages << "FATAL: error opening " << control_file_name << "[end-entry]";
    throw ErrorCode{kCouplingOpenErrorCode};
  }
  if (!FindSection(kCouplingSection, false)) return;

  std::FILE* file = control_file;
  std::string rest;
  ReadValue(file, coupling.coupling_mode, "Coupling mode ", rest);
  if (coupling.coupling_mode == 0) return;
  ReadValue(file, coupling.semaphore_file, "name of the semaphore file ", rest);
  ReadValue(file, "%ld", &coupling.scan_wait_interval, "wait interval for scanning for external grids ",
            rest);
  // The unit must open its line: a leading blank is read as the unit.
  char unit = 0;
  ReadValue(file, "%c", &unit, "Coupling mode for external grids (I, H, D, M or Y) ", rest);
  if (!IsExchangeUnit(unit)) RaiseCouplingFormatError(messages, kUnitError, name);
  coupling.exchange_unit = unit;
  ReadValue(file, coupling.external_time_step, "the external model's timestep in minutes ", rest);

  // A negative count would silently read nothing; it is a malformed value.
  auto read_count = [&](const char* prompt) {
    int count = 0;
    ReadValue(file, count, prompt, rest);
    if (count < 0) RaiseControlFileError(prompt, name);
    return count;
  };

  const int read_count_value = read_count("number external grids (to read)");
  for (int i = 0; i < read_count_value; ++i) {
    external_read_grid grid;
    if (!ReadReadGridGroup(file, grid)) RaiseCouplingFormatError(messages, kReadGridError, name);
    coupling.read_grids.push_back(std::move(grid));
  }
  if (read_count_value > 0) ReadRestOfLine(file, rest);

  const int write_count = read_count("number external grids (to write)");
  double** zone = grids ? (*grids)[1].data : nullptr;
  for (int i = 0; i < write_count; ++i) {
    external_write_grid grid;
    if (!ReadWordTriple(file, grid.grid_name, grid.entity, grid.write_code_word))
      RaiseCouplingFormatError(messages, kWriteGridError, name);
    if (NeedsAccumulationGrid(grid.write_code_word)) {
      grid.accumulation = owned_matrix(matrix(1, nrows, 1, ncols, 0));
      ClearAccumulationGrid(grid.accumulation.get(), zone, first_row, last_row, ncols, nodata_value);
    }
    coupling.write_grids.push_back(std::move(grid));
  }
  if (write_count > 0) ReadRestOfLine(file, rest);

  const int statistic_count = read_count("number external Stats (to write)");
  for (int i = 0; i < statistic_count; ++i) {
    external_statistic statistic;
    if (!ReadWordTriple(file, statistic.file_name, statistic.entity, statistic.write_code_word))
      RaiseCouplingFormatError(messages, kStatisticError, name);
    coupling.statistics.push_back(std::move(statistic));
  }
  if (statistic_count > 0) ReadRestOfLine(file, rest);

  ReadValue(file, coupling.inform_semaphore_file, "semaphore file name for informing the external model ",
            rest);
  ReadValue(file, coupling.inform_semaphore_content, "semaphore Content for informing the external model ",
            rest);
}

void defaultini::ReleaseCoupling() { coupling = external_coupling{}; }

}  // namespace velmo
