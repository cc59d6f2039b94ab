// The global sections of the control file, "[radiation_correction]",
// "[model_time]" and the hand-over of the model settings.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "setup/defltuzr.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr int kOutputListOrderCode = 97;
constexpr int kModelTimeKeysCode = 1301;

// Largest shift from the data time stamp to the step end that is taken: one
// leap year of minutes. Larger shifts (or inf, nan) make no sense and would
// overflow the integer date arithmetic downstream.
constexpr double kMaxMinToIntEnd = 366.0 * 24.0 * 60.0;  // minutes

// Years written with fewer than four digits count from 1900 ("95" is 1995).
constexpr int kShortYearLimit = 1000;
constexpr int kShortYearBase = 1900;

// Largest magnitude of a geographic latitude.
constexpr double kMaxLatitude = 90.0;  // degrees

// Names reserved before the first is read: the count is only a claim, so the
// list grows as names arrive and a huge count in a short section ends in the
// missing-name error instead of an allocation of its size.
constexpr int kNamesReservedUpFront = 64;

// Error number of the allocation entry when the list of names cannot grow.
constexpr int kMeteoNamesAllocationNumber = 1;

std::string_view WithoutLeadingBlanks(std::string_view line) {
  size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  return line.substr(start);
}

// Next line of the control file, its leading blanks and tabs removed; false
// at the end of the file.
bool NextKeyLine(std::FILE* file, std::string& line) {
  std::string raw;
  if (!ReadRestOfLine(file, raw)) return false;
  line = std::string(WithoutLeadingBlanks(raw));
  return true;
}

// The output-interval keys in the order a line is tested: a line that holds
// more than one of them sets the first.
enum class output_key { ascii, binary_double, netcdf, initial_state_dir, output_dir, timestep };

struct output_key_text {
  std::string_view text;
  output_key key;
};

constexpr output_key_text kOutputKeys[] = {
    {"WriteAsciiGrids", output_key::ascii},
    {"WriteDoubleGrids", output_key::binary_double},
    {"WriteNetcdfGrids", output_key::netcdf},
    {"InitialStateDirectory", output_key::initial_state_dir},
    {"DefaultOutputDirectory", output_key::output_dir},
    {"timestep", output_key::timestep},
};

// The first key of the order that occurs anywhere in `line`, or nullptr.
const output_key_text* FindOutputKey(std::string_view line) {
  for (const output_key_text& key : kOutputKeys) {
    if (line.find(key.text) != std::string_view::npos) return &key;
  }
  return nullptr;
}

// The ten keys of "[model_time]" in the order they are tested, with the date
// part each sets.
struct time_key {
  std::string_view text;
  bool start;  // of the start date, else of the end date
  int model_date::*part;
};

constexpr time_key kTimeKeys[] = {
    {"startminute", true, &model_date::minute}, {"starthour", true, &model_date::hour},
    {"startday", true, &model_date::day},       {"startmonth", true, &model_date::month},
    {"startyear", true, &model_date::year},     {"endminute", false, &model_date::minute},
    {"endhour", false, &model_date::hour},      {"endday", false, &model_date::day},
    {"endmonth", false, &model_date::month},    {"endyear", false, &model_date::year},
};

void CorrectYear(int& year) {
  if (year < kShortYearLimit) year += kShortYearBase;
}

void ClampMonth(int& month) {
  if (month < 1) month = 1;
  if (month > 12) month = 12;
}

void ClampDay(model_date& date) {
  const int length = DaysInMonth(date.month, date.year);
  if (date.day < 1) date.day = 1;
  if (date.day > length) date.day = length;
}

}  // namespace

bool ReadKeyInteger(const std::string& line, int& value, std::string& word) {
  // The whole token: "1e309", "1,5" or "12abc" is no value, not its first digits.
  return ReadKeyWord(line, word) && ParseNumber(word, value);
}

bool ReadKeyWord(const std::string& line, std::string& word) {
  const size_t equals = line.find('=');
  word = equals == std::string::npos ? std::string() : std::string(FirstToken(KeyLineValue(line, equals)));
  return !word.empty();
}

namespace {

// After a token was refused as a number: reads it and tells whether it only
// starts as one ("inf", "1e309", "30x") rather than being a word.
bool RefusedTokenStartsAsNumber(std::FILE* file) {
  std::string token;
  if (!ReadToken(file, token)) return false;
  char* end = nullptr;
  std::strtod(token.c_str(), &end);
  return end != token.c_str();
}

}  // namespace

void CorrectModelTime(model_date& start, model_date& end) {
  CorrectYear(start.year);
  CorrectYear(end.year);
  ClampMonth(start.month);
  ClampMonth(end.month);
  ClampDay(end);
  ClampDay(start);
}

void defaultini::ReadGlobalSections(const std::string& file_name) {
  OpenControlFile(file_name);
  if (!control_file) {
    *messages << "FATAL: Error opening " << file_name << "[end-entry]";
    throw ErrorCode{kControlFileOpenErrorCode};
  }
  globals = global_sections{};
  WriteAsciiGrids = WriteDoubleGrids = WriteNetcdfGrids = false;
  InitialStateDirectory.reset();
  DefaultOutputDirectory.reset();

  std::string rest;
  auto skip_line = [&] { ReadRestOfLine(control_file, rest); };
  // A value the run cannot do without; its absence names `text`.
  // A token that only starts as a number ("nan", "1e309", "3x") is named by
  // `bad_number_text` where the value has one.
  auto required = [&](auto& target, const std::string& text, const std::string& bad_number_text = "") {
    const int read = ScanWholeValue(control_file, target);
    if (read == 1) return;
    if (read == 0 && !bad_number_text.empty() && RefusedTokenStartsAsNumber(control_file))
      RaiseControlFileError(bad_number_text, "");
    RaiseControlFileError(text, "");
  };

  FindSection("[output_interval]", true);
  required(globals.message_interval, "output control");
  skip_line();
  // The switches and the shift have defaults; out-of-range values are set
  // back silently.
  ScanWholeValue(control_file, globals.station_warning);
  if (globals.station_warning < 0 || globals.station_warning > 1) globals.station_warning = 1;
  skip_line();
  ScanWholeValue(control_file, globals.routing_output_unit);
  if (globals.routing_output_unit < 0 || globals.routing_output_unit > 1) globals.routing_output_unit = 0;
  skip_line();
  // A word leaves the default; a token that only starts as a number
  // ("inf", "1e309", "30x") is a shift the run cannot take.
  const bool shift_unreadable =
      ScanWholeValue(control_file, globals.min_to_int_end) == 0 && RefusedTokenStartsAsNumber(control_file);
  if (shift_unreadable || std::fabs(globals.min_to_int_end) > kMaxMinToIntEnd)
    RaiseControlFileError("[output_interval] min_to_int_end (minutes, finite, magnitude at most " +
                              std::to_string(static_cast<int>(kMaxMinToIntEnd)) + ")",
                          "");
  if (globals.min_to_int_end < 0.0) globals.min_to_int_end = 0.0;
  skip_line();

  // Key lines follow the fourth value without a gap; the first empty line
  // ends them.
  std::string line;
  while (NextKeyLine(control_file, line) && !line.empty()) {
    const output_key_text* found = FindOutputKey(line);
    if (!found) continue;
    const output_key key = found->key;
    int number = 0;
    std::string word;
    const bool is_directory = key == output_key::initial_state_dir || key == output_key::output_dir;
    const bool read = is_directory ? ReadKeyWord(line, word) : ReadKeyInteger(line, number, word);
    if (!read) {
      const std::string prompt = "[output_interval] " + std::string(found->text);
      if (word.empty()) RaiseControlFileError(prompt, "");
      RaiseFatal(messages,
                 "FATAL: error in control file, " + prompt + "; not found! (\"" + word + "\" is " +
                     kNoWholeNumber + ")",
                 kControlFileErrorCode);
    }
    switch (key) {
      case output_key::ascii:
        WriteAsciiGrids = number != 0;
        break;
      case output_key::binary_double:
        WriteDoubleGrids = number != 0;
        break;
      case output_key::netcdf:
        WriteNetcdfGrids = number != 0;
        break;
      case output_key::initial_state_dir:
        InitialStateDirectory = std::make_unique<std::string>(word);
        break;
      case output_key::output_dir:
        DefaultOutputDirectory = std::make_unique<std::string>(word);
        break;
      case output_key::timestep:
        globals.timestep = number;
        time_step = number;
        break;
    }
  }

  FindSection("[output_list]", true);
  required(globals.output_list_count, "number of subbasins in output list");
  if (globals.output_list_count > 0) {
    // Grown code by code: a count far beyond the codes given ends at the
    // first missing code, not in an allocation of the count.
    globals.output_list.assign(1, 0);
    for (int i = 1; i <= globals.output_list_count; ++i) {
      int code = 0;
      required(code, "codes in output-list");
      globals.output_list.push_back(code);
      skip_line();
    }
    for (int i = 2; i <= globals.output_list_count; ++i) {
      if (globals.output_list[static_cast<size_t>(i)] <= globals.output_list[static_cast<size_t>(i) - 1]) {
        *messages << "FATAL: \nError in control file: order of subbasin codes in output_list!\n"
                     "if output should be written for a specified set of subbasins,\n"
                     "(specified by a statcode of 5 for averaging in time or 6 for summing in time)\n"
                     "than the codes has to be arranged in ascendend order\n.look in [output_list]\n"
                  << "[end-entry]";
        throw ErrorCode{kOutputListOrderCode};
      }
    }
  }

  FindSection("[coordinates]", true);
  // The solar geometry of every module takes these as they are; an
  // impossible position would give nonsense days and nights, not an error.
  required(globals.latitude, "geographic latitude",
           "[coordinates] geographic latitude (degrees, finite, between -90 and 90)");
  if (std::fabs(globals.latitude) > kMaxLatitude)
    RaiseControlFileError("[coordinates] geographic latitude (degrees, finite, between -90 and 90)", "");
  skip_line();
  required(globals.longitude, "geographic longitude", "[coordinates] geographic longitude (degrees, finite)");
  skip_line();
  required(globals.reference_meridian, "reference meridian");
  skip_line();
  required(globals.time_shift, "time shift of data time to lokal time");
  skip_line();

  FindSection("[meteo_data_count]", true);
  required(globals.meteo_count, "number of meteorological variables");
  // A negative count cannot size the list of names.
  if (globals.meteo_count < 0) RaiseControlFileError("number of meteorological variables", "");

  FindSection("[meteo_names]", true);
  ReadMeteoNames();

  CloseControlFile("FATAL: error closing " + file_name);
}

void defaultini::ReadMeteoNames() {
  const int count = globals.meteo_count;
  std::vector<std::string>& names = globals.meteo_names;
  try {
    names.clear();
    names.reserve(static_cast<size_t>(std::min(count, kNamesReservedUpFront)) + 1);
    names.emplace_back();
    std::string name, rest;
    for (int i = 1; i <= count; ++i) {
      // One name per line, the rest of the line is its comment; the names
      // end with the section.
      if (!ReadToken(control_file, name) || IsSectionName(name))
        RaiseControlFileError("[meteo_names] name " + std::to_string(i) + " of " + std::to_string(count), "");
      names.push_back(std::move(name));
      ReadRestOfLine(control_file, rest);
    }
  } catch (const std::bad_alloc&) {
    RaiseAllocationError(kMeteoNamesAllocationNumber);
  }
}

void defaultini::ReadRadiationSwitch() {
  FindSection("[radiation_correction]", true);
  // Only the radiation correction uses this section; its own reader reports
  // a bad value.
  ScanWholeValue(control_file, radiation_switch);
}

void defaultini::ReadModelTime() {
  FindSection("[model_time]", true);
  start_date = model_date{};
  end_date = model_date{};
  std::string rest;

  if (globals.timestep == 0) {
    // Positional form: hours, days, months and years; the minutes stay 0.
    struct positional_value {
      model_date* date;
      int model_date::*part;
      const char* prompt;
    };
    const positional_value values[] = {
        {&start_date, &model_date::hour, "starting hour in "},
        {&start_date, &model_date::day, "starting day in "},
        {&start_date, &model_date::month, "starting month in "},
        {&start_date, &model_date::year, "starting year in "},
        {&end_date, &model_date::hour, "end hour in "},
        {&end_date, &model_date::day, "and day in "},
        {&end_date, &model_date::month, "end month in "},
        {&end_date, &model_date::year, "end year in "},
    };
    for (const positional_value& value : values) {
      long number = 0;
      ReadValue(control_file, "%ld", &number, value.prompt, rest);
      if (number < INT_MIN || number > INT_MAX) RaiseControlFileError(value.prompt, name);
      value.date->*value.part = static_cast<int>(number);
    }
  } else {
    bool found[std::size(kTimeKeys)] = {};
    // The first value that is there but no whole number, named in the entry.
    std::string refused;
    std::string line, word;
    while (NextKeyLine(control_file, line) && !IsBlankLine(line)) {
      for (size_t k = 0; k < std::size(kTimeKeys); ++k) {
        if (line.find(kTimeKeys[k].text) == std::string::npos) continue;
        model_date& date = kTimeKeys[k].start ? start_date : end_date;
        // A value that cannot be read counts as missing.
        found[k] = ReadKeyInteger(line, date.*kTimeKeys[k].part, word);
        if (!found[k] && !word.empty() && refused.empty())
          refused = "\n\"" + std::string(kTimeKeys[k].text) + "\": \"" + word + "\" is " + kNoWholeNumber;
      }
    }
    for (bool key_found : found) {
      if (key_found) continue;
      *messages << "ERROR: one or more values of start and end time couldn't be read in section ["
                << "[model_time]"
                << "]\n"
                << "when using the optional parameter timestep in section [output_interval], the start and "
                   "end date/time must be provided in the new format of key = value pairs like this:\n"
                << "[model_time]"
                << "\n"
                << "startminute = $startminute\n"
                << "starthour = $starthour\n"
                << "startday = $startday\n"
                << "startmonth = $startmonth\n"
                << "startyear = $startyear\n"
                << "endminute = $endminute\n"
                << "endhour = $endhour\n"
                << "endday = $endday\n"
                << "endmonth = $endmonth\n"
                << "endyear = $endyear\n"
                << "\n(or, of course, by using the actual values without using variables)" << refused
                << "[end-entry]";
      throw ErrorCode{kModelTimeKeysCode};
    }
  }

  CorrectModelTime(start_date, end_date);
  // The per-step writers and the phenology take February from here.
  month_lengths[2] = DaysInMonth(2, end_date.year);
}

model_settings defaultini::GetSettings() {
  model_settings s;
  s.control_file_name = control_file_name;
  s.message_interval = globals.message_interval;
  s.station_warning = globals.station_warning;
  s.routing_output_unit = globals.routing_output_unit;
  s.min_to_int_end = globals.min_to_int_end;
  s.timestep = globals.timestep;
  s.meteo_count = globals.meteo_count;
  s.latitude = globals.latitude;
  s.longitude = globals.longitude;
  s.reference_meridian = globals.reference_meridian;
  s.time_shift = globals.time_shift;
  s.meteo_names = globals.meteo_names;
  s.output_list_count = globals.output_list_count;
  s.output_list = globals.output_list;
  s.grid_count = grid_count;
  s.zone_code_map = zone_code_map;
  s.zone_table = zone_table;
  s.row_ranges = row_ranges;
  s.zone_count = zone_count;
  s.max_zone_code = max_zone_code;
  s.region_table = region_table;
  s.region_count = region_count;
  s.max_region_code = max_region_code;
  s.region_code_map = region_code_map;
  s.ncols = ncols;
  s.nrows = nrows;
  s.first_row = first_row;
  s.last_row = last_row;
  s.xllcorner = xllcorner;
  s.yllcorner = yllcorner;
  s.cellsize = cellsize;
  s.nodata_value = nodata_value;
  s.startminute = start_date.minute;
  s.starthour = start_date.hour;
  s.startday = start_date.day;
  s.startmonth = start_date.month;
  s.startyear = start_date.year;
  s.endminute = end_date.minute;
  s.endhour = end_date.hour;
  s.endday = end_date.day;
  s.endmonth = end_date.month;
  s.endyear = end_date.year;
  s.landuse_table = landuse_table.empty() ? nullptr : landuse_table.data();
  s.soil_table = soil_table.empty() ? nullptr : soil_table.data();
  s.irrigation_table = nullptr;
  s.multilayer_table = multilayer_table.empty() ? nullptr : multilayer_table.data();
  s.WriteAsciiGrids = WriteAsciiGrids;
  s.WriteDoubleGrids = WriteDoubleGrids;
  s.WriteNetcdfGrids = WriteNetcdfGrids;
  s.InitialStateDirectory = InitialStateDirectory.get();
  s.DefaultOutputDirectory = DefaultOutputDirectory.get();
  s.partition_cell_counts = partition_cell_counts.empty() ? nullptr : partition_cell_counts.data();
  s.halo_send_list = &halo_send_list;
  s.halo_receive_list = &halo_receive_list;
  return s;
}

}  // namespace velmo
