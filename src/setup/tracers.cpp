// Tracer descriptions: reading the lines of "[substance_transport]".
#include "setup/tracers.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"

namespace velmo {
namespace {

constexpr const char* kSectionName = "[substance_transport]";
constexpr std::size_t kShortNameLength = 3;

// -1 / ln 2: turns a half-life into the time constant of exponential decay.
constexpr double kHalfLifeToTimeConstant = -1.442695041111;

// Unit words "max_conc" may carry; the value is kept as written.
constexpr const char* kConcentrationUnits[] = {"mg/l", "g/l", "kg/kg", "Kg/Kg"};
constexpr const char* kDefaultConcentrationUnit = "kg/kg";

// ---- scanf-like reads from a position of a line; each skips blanks first.

bool ScanDouble(const std::string& text, std::size_t& pos, double& value) {
  pos = SkipSpace(text, pos);
  if (pos >= text.size()) return false;
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  const double read = std::strtod(start, &end);
  if (end == start) return false;
  value = read;
  pos += static_cast<std::size_t>(end - start);
  return true;
}

bool ScanInt(const std::string& text, std::size_t& pos, int& value) {
  pos = SkipSpace(text, pos);
  if (pos >= text.size()) return false;
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  const long read = std::strtol(start, &end, 10);
  if (end == start || read < INT_MIN || read > INT_MAX) return false;
  value = static_cast<int>(read);
  pos += static_cast<std::size_t>(end - start);
  return true;
}

bool ScanWord(const std::string& text, std::size_t& pos, std::string& word) {
  pos = SkipSpace(text, pos);
  std::size_t end = pos;
  while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  if (end == pos) return false;
  word = text.substr(pos, end - pos);
  pos = end;
  return true;
}

std::string Number(int value) { return std::to_string(value); }

std::string ParametersFault(int tracer) {
  return "FATAL: error reading parameters for tracer " + Number(tracer) + ":";
}

// ---- one keyword group each; a non-empty result is the FATAL entry text.

std::string ReadRadioactivity(const std::string& line, int tracer, int tracer_count, tracer_description& d) {
  const std::string number = Number(tracer);
  if (line.find("non_radioactive") != std::string::npos) {
    d.radioactive = 0;
    d.half_time = kNoHalfTime;
    return {};
  }
  if (line.find("radioactive") == std::string::npos) {
    return ParametersFault(tracer) + "\n need a key word \"radioactive\" or \"non_radioactive\"\n" +
           "(may be, the number of tracers (" + Number(tracer_count) + ") is wrong?\n";
  }
  d.radioactive = 1;
  const std::size_t key = line.find("half_time");
  if (key == std::string::npos) {
    return "FATAL: error in tracer_info_table tracer " + number + ": need a \"half_time = xxxx d\" sequence!";
  }
  const std::size_t equals = line.find('=', key);
  if (equals == std::string::npos) {
    return "FATAL: error reading half_time for tracer " + number + ": no \"half_time =\" found!";
  }
  std::size_t pos = equals + 1;
  std::string measure;
  if (!ScanDouble(line, pos, d.half_time) || !ScanWord(line, pos, measure)) {
    return "FATAL: error reading half_time for tracer " + number;
  }
  if (measure != "d") {
    return "FATAL: error reading half_time for tracer " + number + ": no \"d\" for measure found!";
  }
  if (!(d.half_time > 0.0)) {
    return "FATAL: error in half_time for tracer " + number + ": must be greater than 0!";
  }
  return {};
}

std::string ReadEvaporation(const std::string& line, int tracer, int tracer_count, tracer_description& d) {
  if (line.find("non_evaporating") != std::string::npos) {
    d.evaporating = 0;
  } else if (line.find("evaporating") != std::string::npos) {
    d.evaporating = 1;
  } else {
    return ParametersFault(tracer) + "\n need a key word \"evaporating\" or \"non_evaporating\"\n" +
           "(may be, the number of tracers (" + Number(tracer_count) + ") is wrong?";
  }
  return {};
}

// Finds `keyword` and the first "=" after it; returns the position after the
// "=", or sets `fault`.
std::size_t FindAssignment(const std::string& line, const std::string& keyword, int tracer,
                           std::string& fault) {
  const std::size_t key = line.find(keyword);
  if (key == std::string::npos) {
    fault = ParametersFault(tracer) + "\nneed a key word \"" + keyword + " = xxxx\"";
    return std::string::npos;
  }
  const std::size_t equals = line.find('=', key);
  if (equals == std::string::npos) {
    fault = "FATAL: error reading " + keyword + " for tracer " + Number(tracer) + ": no \"" + keyword +
            " =\" found!";
    return std::string::npos;
  }
  return equals + 1;
}

// "min_conc", "soilini", "gwini": a number after the "=". Only the message for
// an unreadable "min_conc" lacks the closing "!".
std::string ReadConcentration(const std::string& line, const std::string& keyword, int tracer,
                              double& value) {
  std::string fault;
  std::size_t pos = FindAssignment(line, keyword, tracer, fault);
  if (pos == std::string::npos) return fault;
  if (!ScanDouble(line, pos, value)) {
    return "FATAL: error reading " + keyword + " for tracer " + Number(tracer) +
           (keyword == "min_conc" ? "" : "!");
  }
  return {};
}

std::string ReadMaxConcentration(const std::string& line, int tracer, tracer_description& d) {
  std::string fault;
  std::size_t pos = FindAssignment(line, "max_conc", tracer, fault);
  if (pos == std::string::npos) return fault;
  // An unreadable limit would otherwise pass silently as 0.
  if (!ScanDouble(line, pos, d.max_conc)) return "FATAL: error reading max_conc for tracer " + Number(tracer);
  std::string unit = kDefaultConcentrationUnit;
  ScanWord(line, pos, unit);
  for (const char* allowed : kConcentrationUnits) {
    if (unit == allowed) return {};
  }
  return "FATAL: error reading max_conc for tracer " + Number(tracer) +
         ":\nwrong measure (only mg/l, g/l or kg/kg resp. no measure are allowed!)\nread here: " + unit;
}

// "statcode", "gridcode", "path", "statext", "gridext": the value follows
// "<key> =" directly (blanks before it are skipped).
std::size_t FindExactAssignment(const std::string& line, const std::string& key, int tracer,
                                std::string& fault) {
  const std::string text = key + " =";
  const std::size_t found = line.find(text);
  if (found == std::string::npos) {
    fault = "FATAL: error reading " + key + " for tracer " + Number(tracer) + ":\nneed a key word \"" + key +
            " = xxxx\"";
    return std::string::npos;
  }
  return found + text.size();
}

std::string UnreadableValue(const std::string& key, int tracer) {
  return "FATAL: error reading " + key + " for tracer " + Number(tracer) + "!";
}

std::string ReadCode(const std::string& line, const std::string& key, int tracer, int& code) {
  std::string fault;
  std::size_t pos = FindExactAssignment(line, key, tracer, fault);
  if (pos == std::string::npos) return fault;
  if (!ScanInt(line, pos, code)) return UnreadableValue(key, tracer);
  return {};
}

std::string ReadText(const std::string& line, const std::string& key, int tracer, std::string& text) {
  std::string fault;
  std::size_t pos = FindExactAssignment(line, key, tracer, fault);
  if (pos == std::string::npos) return fault;
  if (!ScanWord(line, pos, text)) return UnreadableValue(key, tracer);
  if (text.size() > kMaxTracerTextLength) {
    return "FATAL: error reading " + key + " for tracer " + Number(tracer) + ": more than " +
           std::to_string(kMaxTracerTextLength) + " characters!";
  }
  return {};
}

}  // namespace

double TracerDecayFactor(double half_time_days, double time_step_minutes) {
  return std::exp(time_step_minutes / kMinutesPerDay / (half_time_days * kHalfLifeToTimeConstant));
}

std::string TracerShortName(const std::string& line) {
  std::size_t pos = SkipSpace(line, 0);
  std::string name;
  while (pos < line.size() && name.size() < kShortNameLength &&
         !std::isspace(static_cast<unsigned char>(line[pos]))) {
    const char c = line[pos++];
    name.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  name.resize(kShortNameLength, '_');
  return name;
}

std::string ParseTracerKeywords(const std::string& line, int tracer, int tracer_count,
                                tracer_description& d) {
  std::string fault = ReadRadioactivity(line, tracer, tracer_count, d);
  if (fault.empty()) fault = ReadEvaporation(line, tracer, tracer_count, d);
  if (fault.empty()) fault = ReadConcentration(line, "min_conc", tracer, d.min_conc);
  if (fault.empty()) fault = ReadMaxConcentration(line, tracer, d);
  if (fault.empty()) fault = ReadConcentration(line, "soilini", tracer, d.soilini);
  if (fault.empty()) fault = ReadConcentration(line, "gwini", tracer, d.gwini);
  if (fault.empty()) fault = ReadCode(line, "statcode", tracer, d.statcode);
  if (fault.empty()) fault = ReadCode(line, "gridcode", tracer, d.gridcode);
  if (fault.empty()) fault = ReadText(line, "path", tracer, d.path);
  if (fault.empty()) fault = ReadText(line, "statext", tracer, d.statext);
  if (fault.empty()) fault = ReadText(line, "gridext", tracer, d.gridext);
  return fault;
}

tracer_ini_class::tracer_ini_class(int& error, MessageStream* stream, const std::string& control_file_name_in,
                                   bool write_ascii_grids, bool write_double_grids, bool write_netcdf_grids,
                                   const std::string* initial_state_directory,
                                   const std::string* default_output_directory)
    : modelobject(stream, control_file_name_in, write_ascii_grids, write_double_grids, write_netcdf_grids,
                  initial_state_directory, default_output_directory) {
  name = "tracer_ini";
  error = 0;
  try {
    ReadSection();
  } catch (ErrorCode code) {
    error = code;
  } catch (...) {
    error = kUnexpectedErrorCode;
  }
}

void tracer_ini_class::ReadSection() {
  OpenControlFile();
  if (!control_file) {
    *messages << "FATAL: error opening " << control_file_name << "[end-entry]";
    throw ErrorCode{kControlFileOpenErrorCode};
  }
  FindSection(kSectionName, true);
  int count = 0;
  std::string comment;
  ReadValue(control_file, "%i", &count, " number of tracers in ", comment);
  if (count > kMaxTracers) {
    *messages << "FATAL: not more than " << kMaxTracers << " tracer species are allowed at one time"
              << "\n(every tracer takes two concentration grids of the whole domain and a statistics table"
              << " in each module that carries it)"
              << "[end-entry]";
    throw ErrorCode{kTooManyTracersCode};
  }

  if (count > 0) {
    std::vector<tracer_description> descriptions(static_cast<std::size_t>(count) + 1);
    std::string line;
    for (int i = 1; i <= count; ++i) {
      *messages << "reading parameters for tracer " << i << " ..."
                << "[end-entry]";
      if (!ReadWholeLine(control_file, line)) {
        *messages << "FATAL: error reading parameters for tracer " << i << ":\nthe control file ends in "
                  << kSectionName << " before the line of this tracer\n(may be, the number of tracers ("
                  << count << ") is wrong?"
                  << "[end-entry]";
        throw ErrorCode{kTracerParameterErrorCode};
      }
      tracer_description& d = descriptions[static_cast<std::size_t>(i)];
      d.name = TracerShortName(line);
      for (int j = 1; j < i; ++j) {
        const std::string& earlier = descriptions[static_cast<std::size_t>(j)].name;
        if (earlier != d.name) continue;
        *messages << "FATAL: \n----------- ERROR in substance_transport ---------\n\nsubstance #" << i
                  << " and substance #" << j << " have the same\nfirst 3 chars (lowercase) in its name ("
                  << d.name << " <-> " << earlier
                  << ")\n\n--------------------------------------------------\n"
                  << "[end-entry]";
        throw ErrorCode{kDuplicateTracerNameCode};
      }
      const std::string fault = ParseTracerKeywords(line, i, count, d);
      if (!fault.empty()) {
        *messages << fault << "[end-entry]";
        throw ErrorCode{kTracerParameterErrorCode};
      }
      *messages << "done."
                << "[end-entry]";
    }
    tracer_descriptions = std::move(descriptions);
    tracer_count = count;
  }

  CloseControlFile("FATAL: error closing " + control_file_name);
}

void tracer_ini_class::CleanUp() {
  tracer_descriptions.clear();
  tracer_descriptions.shrink_to_fit();
  tracer_count = 0;
  modelobject::CleanUp();
}

}  // namespace velmo
