// The model-object base: control-file tokens, values and sections, the model log, dates, statistics.
#include "framework/modelobject.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/netcdfgrid.h"
#include "framework/output_cells.h"
#include "framework/texthelpers.h"

namespace velmo {
namespace {

// ctime's text of the local time, without its newline.
std::string CtimeNow() {
  std::time_t now = std::time(nullptr);
  char buffer[32];
  ctime_r(&now, buffer);
  std::string text(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Reads up to the next line end, keeping at most `limit` characters, and drops
// a CR before the LF. False when the file was already at its end.
bool ReadLineKeeping(std::FILE* file, std::string& line, size_t limit) {
  line.clear();
  int c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    if (line.size() < limit) line.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace

bool ReadToken(std::FILE* file, std::string& token) {
  token.clear();
  int c;
  while ((c = std::fgetc(file)) != EOF && std::isspace(c)) {
  }
  if (c == EOF) return false;
  do {
    token.push_back(static_cast<char>(c));
  } while ((c = std::fgetc(file)) != EOF && !std::isspace(c));
  if (c != EOF) std::ungetc(c, file);
  return true;
}

bool ReadRestOfLine(std::FILE* file, std::string& rest) {
  return ReadLineKeeping(file, rest, static_cast<size_t>(kLineLength));
}

bool ReadWholeLine(std::FILE* file, std::string& line) {
  return ReadLineKeeping(file, line, std::string::npos);
}

std::string ModelLogName(int process_index) { return "modell_" + std::to_string(process_index) + ".log"; }

modelobject::modelobject(MessageStream* stream, const std::string& control_file_name_in,
                         bool write_ascii_grids, bool write_double_grids, bool write_netcdf_grids,
                         const std::string* initial_state_directory,
                         const std::string* default_output_directory)
    : memory_handling(stream),
      control_file_name(control_file_name_in),
      WriteAsciiGrids(write_ascii_grids),
      WriteDoubleGrids(write_double_grids),
      WriteNetcdfGrids(write_netcdf_grids),
      netcdf_writer(std::make_unique<NetcdfGridWriter>(stream)),
      netcdf_reader(std::make_unique<NetcdfGridReader>(stream)) {
  if (initial_state_directory)
    InitialStateDirectory = std::make_unique<std::string>(*initial_state_directory);
  if (default_output_directory)
    DefaultOutputDirectory = std::make_unique<std::string>(*default_output_directory);
}

modelobject::~modelobject() {
  if (control_file) std::fclose(control_file);
}

void modelobject::OpenControlFile(const std::string& file_name) {
  if (control_file) std::fclose(control_file);
  control_file = std::fopen(file_name.c_str(), "rt");
}

void modelobject::CloseControlFile(const std::string& entry, int code) {
  if (!control_file) return;
  const int closed = std::fclose(control_file);
  control_file = nullptr;
  if (closed != 0) RaiseFatal(messages, entry, code);
}

void modelobject::WriteModelLog(const std::string& text) {
  if (process_index != 0) return;
  std::ofstream log(ModelLogName(process_index), std::ios::app);
  log << CtimeNow() << ": " << text << "\n";
}

void modelobject::SetEndDate(int year, int month, int day, int hour, int minute) {
  end_date = model_date{minute, hour, day, month, year};
  end_date_key = date_key(end_date, date_key_factors);
}

void modelobject::RaiseControlFileError(const std::string& text1, const std::string& text2) {
  *messages << "FATAL: error in control file, " << text1 << "; " << text2 << "not found!"
            << "[end-entry]";
  throw ErrorCode{kControlFileErrorCode};
}

void modelobject::RaiseWriteError(const std::string& file, int number) {
  *messages << "FATAL: write error " << file << " ! (" << number << ")"
            << "[end-entry]";
  throw ErrorCode{kWriteErrorCode};
}

void modelobject::RaiseReadError(const std::string& file, int number) {
  *messages << "FATAL: read error " << file << " ! (" << number << ")"
            << "[end-entry]";
  throw ErrorCode{kReadErrorCode};
}

namespace {

// The conversions a control-file value may be read with.
enum class Conversion { kInt, kLong, kDouble, kString, kChar };

// Splits a format such as "%d", "%lf" or "%s%d" into its conversions; an
// unknown conversion leaves the list empty.
std::vector<Conversion> ParseConversions(const char* format) {
  std::vector<Conversion> conversions;
  std::string_view rest(format);
  while (!rest.empty()) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) break;
    Conversion conversion;
    if (rest.starts_with("%d") || rest.starts_with("%i")) {
      conversion = Conversion::kInt;
      rest.remove_prefix(2);
    } else if (rest.starts_with("%ld")) {
      conversion = Conversion::kLong;
      rest.remove_prefix(3);
    } else if (rest.starts_with("%lf")) {
      conversion = Conversion::kDouble;
      rest.remove_prefix(3);
    } else if (rest.starts_with("%s")) {
      conversion = Conversion::kString;
      rest.remove_prefix(2);
    } else if (rest.starts_with("%c")) {
      conversion = Conversion::kChar;
      rest.remove_prefix(2);
    } else {
      return {};
    }
    conversions.push_back(conversion);
  }
  return conversions;
}

// Reads the next token as a number of type T, the whole token (see
// ParseNumber): "12abc", "3,5", "1e309" or a whole number beyond T are
// refused, never read by their first characters. A refused token is left in
// the file, so that the error shows it.
template <typename T>
int ScanNumber(std::FILE* file, T& value) {
  const long start = std::ftell(file);
  std::string token;
  if (!ReadToken(file, token)) return EOF;
  if (ParseNumber(token, value)) return 1;
  if (start >= 0) std::fseek(file, start, SEEK_SET);
  return 0;
}

int ScanOne(std::FILE* file, Conversion conversion, void* target) {
  switch (conversion) {
    case Conversion::kInt:
      return ScanNumber(file, *static_cast<int*>(target));
    case Conversion::kLong:
      return ScanNumber(file, *static_cast<long*>(target));
    case Conversion::kDouble:
      return ScanNumber(file, *static_cast<double*>(target));
    case Conversion::kString: {
      std::string token;
      if (!ReadToken(file, token)) return EOF;
      *static_cast<std::string*>(target) = token;
      return 1;
    }
    case Conversion::kChar:
      return std::fscanf(file, "%c", static_cast<char*>(target));
  }
  return 0;
}

// Reads the targets with the conversions of `format`: one conversion serves
// every target, two take one target each. Returns the number of values read.
int ScanValues(std::FILE* file, const char* format, std::initializer_list<void*> targets) {
  const std::vector<Conversion> conversions = ParseConversions(format);
  if (!file || conversions.empty() || (conversions.size() != 1 && conversions.size() != targets.size()))
    return 0;
  int count = 0;
  size_t i = 0;
  for (void* target : targets) {
    const Conversion conversion = conversions.size() == 1 ? conversions[0] : conversions[i];
    const int read = ScanOne(file, conversion, target);
    if (read != 1) return count == 0 ? read : count;
    ++count;
    ++i;
  }
  return count;
}

}  // namespace

int ScanWholeValue(std::FILE* file, int& value) { return ScanNumber(file, value); }
int ScanWholeValue(std::FILE* file, double& value) { return ScanNumber(file, value); }

int modelobject::ReadValue(std::FILE* file, const char* format, void* target, const std::string& prompt,
                           std::string& rest_of_line) {
  const int count = ScanValues(file, format, {target});
  if (count != 1) {
    *messages << "--> In .\n  Next line in Velmo control file: "
              << "[end-entry]";
    std::string token;
    if (file) ReadToken(file, token);
    *messages << token << "[end-entry]";
    RaiseControlFileError(prompt, name);
  }
  ReadRestOfLine(file, rest_of_line);
  return count;
}

int modelobject::ReadTwoValues(std::FILE* file, const char* format, void* target1, void* target2,
                               const std::string& prompt, std::string& rest_of_line) {
  const int count = ScanValues(file, format, {target1, target2});
  if (count != 2) RaiseControlFileError(prompt, name);
  ReadRestOfLine(file, rest_of_line);
  return count;
}

bool modelobject::FindSection(const std::string& section, bool report) {
  if (control_file) {
    std::rewind(control_file);
    std::string token, rest;
    // A header on the last line without a line end is not found: the end of
    // the file is reached while its line is skipped.
    while (ReadToken(control_file, token) && ReadRestOfLine(control_file, rest)) {
      if (token == section) return true;
    }
  }
  if (report) RaiseControlFileError(section, "(EOF)");
  return false;
}

void modelobject::ResetStatistics(double threshold) {
  stat_threshold = threshold;
  stat_weight_sum = stat_min = stat_max = stat_sum = stat_sum_squares = 0.0;
  stat_started = false;
}

void modelobject::AddToStatistics(double value, double weight) {
  if (!(value > stat_threshold + 1.0)) return;
  stat_sum += value * weight;
  stat_weight_sum += weight;
  stat_sum_squares += value * value * weight;
  if (!stat_started) {
    stat_min = stat_max = value;
    stat_started = true;
  } else if (value < stat_min) {
    stat_min = value;
  } else if (value > stat_max) {
    stat_max = value;
  }
}

void modelobject::GetStatistics(double& weight_sum, double& min, double& max, double& sum, double& mean,
                                double& deviation) {
  weight_sum = stat_weight_sum;
  min = stat_min;
  max = stat_max;
  sum = stat_sum;
  mean = stat_weight_sum > 0.0 ? stat_sum / stat_weight_sum : -9999.0;
  if (stat_weight_sum > 2.0) {
    const double variance =
        (stat_sum_squares - stat_sum * stat_sum / stat_weight_sum) / (stat_weight_sum - 1.0);
    // Rounding can make a zero variance slightly negative.
    deviation = variance > 0.0 ? std::sqrt(variance) : 0.0;
  } else {
    deviation = -9999.0;
  }
}

double modelobject::Interpolate(double x1, double y1, double x2, double y2, double x) {
  if (x2 - x1 == 0.0) return y1;
  return (x2 - x) / (x2 - x1) * y1 + (x - x1) / (x2 - x1) * y2;
}

void modelobject::PrefixPath(const std::string* directory, std::string& name) {
  if (!directory) return;
  const size_t drive = name.find(":\\");
  const size_t drive_slash = name.find(":/");
  const size_t first_drive = std::min(drive, drive_slash);
  if (first_drive == 1) return;
  if (name.starts_with("\\\\") || name.starts_with("/")) return;
  name = *directory + name;
}

void modelobject::SetSourceGeoreference(double x, double y, double size, double** mask) {
  source_xllcorner = x;
  source_yllcorner = y;
  source_cellsize = size;
  source_mask = mask;
}

void modelobject::RaiseNotFinite(const std::string& grid, int row, int col, double value) const {
  if (messages)
    *messages << "FATAL: " << name << ": the grid " << grid << " holds " << value << " at row " << row
              << ", column " << col << ", which is not a number the water balance can take"
              << "[end-entry]";
  throw ErrorCode{kNotFiniteCode};
}

void modelobject::RaiseNotFiniteSubbasin(const std::string& what, int subbasin, double value) const {
  if (messages)
    *messages << "FATAL: " << name << ": the " << what << " of subbasin " << subbasin << " is " << value
              << ", which is not a number the water balance can take"
              << "[end-entry]";
  throw ErrorCode{kNotFiniteCode};
}

void modelobject::CheckStateGrid(const std::string& file, double** grid) const {
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) {
      const double value = grid[r][c];
      if (value == nodata_value || std::fabs(value) <= kLargestStateValue) continue;
      if (messages)
        *messages << "FATAL: " << name << ": the state grid " << file << " holds " << value << " at row " << r
                  << ", column " << c << ", more than any store of a cell (at most " << kLargestStateValue
                  << " mm)"
                  << "[end-entry]";
      throw ErrorCode{kGridReadErrorCode};
    }
}

void modelobject::CleanUp() {
  if (messages) *messages << "DEBUG: deleting module " << name << "[end-entry]";
  netcdf_writer.reset();
  if (netcdf_reader) netcdf_reader->CloseAll();
  netcdf_reader.reset();
  cleaned_up = true;
}

}  // namespace velmo
