// Reading the values of a section of the control file in order, each with
// its prompt (which names the section in the error entry), as the snow
// model's sections "[snow_model]", "[ice_firn]" and "[permafrost]" need it.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "framework/diagnostics.h"
#include "setup/teilmod.h"
#include "snow/snow_section.h"

namespace velmo {

// Numbers of a monthly line.
inline constexpr int kMonthlyValues = 12;
// The first word of the snow-temperature line needs a line of this many
// characters, its line end counted.
inline constexpr std::size_t kShortestMethodLine = 3;

// Reads the values of one section in order; the prompt of each value names
// the section, as the control-file errors show it.
class section_reader {
 public:
  // Reads from the module's open control file; `section` ends every prompt
  // (the module's own section when empty).
  explicit section_reader(teilmodellklasse& module, const std::string& section = {})
      : m_(module), section_(section.empty() ? module.section_buffer : section) {}

  int Integer(const std::string& prompt) {
    int value = 0;
    m_.ReadValue(m_.control_file, value, prompt + section_, rest_);
    return value;
  }
  double Number(const std::string& prompt) {
    double value = 0.0;
    m_.ReadValue(m_.control_file, value, prompt + section_, rest_);
    // "nan" and "inf" read as numbers but are no parameter values.
    if (!std::isfinite(value)) m_.RaiseControlFileError(prompt + section_, m_.name);
    return value;
  }
  std::string Word(const std::string& prompt) {
    std::string value;
    m_.ReadValue(m_.control_file, value, prompt + section_, rest_);
    return value;
  }
  snow_grid_file Grid(const std::string& name_prompt, const std::string& code_prompt) {
    snow_grid_file grid;
    grid.name = Word(name_prompt);
    grid.write_code = Integer(code_prompt);
    return grid;
  }
  snow_statistics_file Statistics(const std::string& prompt) {
    snow_statistics_file file;
    m_.ReadTwoValues(m_.control_file, "%s%d", &file.name, &file.code, prompt + section_, rest_);
    return file;
  }
  // One line of monthly values; a line without any number names its table.
  void Monthly(const std::string& table_name, monthly_table& table) {
    std::string line;
    double numbers[kMonthlyValues] = {};
    const int count =
        ReadRestOfLine(m_.control_file, line) ? ScanLeadingNumbers(line.c_str(), numbers, kMonthlyValues) : 0;
    if (!FillMonthlyTable(numbers, count, table))
      m_.RaiseControlFileError(table_name + " (a line of 12 monthly values) for " + section_, m_.name);
  }
  // The line naming the snow-temperature grid: its first word.
  std::string FirstWordOfLine() {
    std::string line;
    const bool read = ReadRestOfLine(m_.control_file, line);
    const std::size_t length = line.size() + (read && !std::feof(m_.control_file) ? 1 : 0);
    const std::size_t start = line.find_first_not_of(" \t");
    if (!read || length < kShortestMethodLine || start == std::string::npos) {
      RaiseFatal(m_.messages,
                 "FATAL: cannot read additional parameters for snow model methods 5 to 11 from " +
                     m_.control_file_name,
                 kSnowMethodLinesCode);
    }
    const std::size_t end = line.find_first_of(" \t", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  // A number that may follow; false (and the file left where it was) when none does.
  bool OptionalNumber(double& value) {
    double read = 0.0;
    if (std::fscanf(m_.control_file, "%lf", &read) != 1 || !std::isfinite(read)) return false;
    value = read;
    ReadRestOfLine(m_.control_file, rest_);
    return true;
  }

  void Check(bool within, const std::string& text, double value, int code) {
    if (within) return;
    *m_.messages << text << value << "[end-entry]";
    throw ErrorCode{code};
  }

  teilmodellklasse& m_;

 private:
  std::string section_;
  std::string rest_;
};

// Opens the module's control file at `section`, which must be there.
inline void OpenSection(teilmodellklasse& module, const std::string& section) {
  module.OpenControlFile();
  if (!module.control_file)
    RaiseFatal(module.messages, "FATAL: error opening " + module.control_file_name,
               kControlFileOpenErrorCode);
  module.FindSection(section, true);
}

// Closes the control file once a section has been read.
inline void CloseSection(teilmodellklasse& module) {
  const int closed = std::fclose(module.control_file);
  module.control_file = nullptr;
  if (closed != 0)
    RaiseFatal(module.messages, "FATAL: cannot close " + module.control_file_name,
               kControlFileCloseErrorCode);
}

}  // namespace velmo
