// The section "[<variable>]" of an interpolator, read into its parameter
// struct and checked value by value.
#include <charconv>
#include <cmath>
#include <sstream>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "meteo/meteoint.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

constexpr const char* kMethodPrompt =
    "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic spline] 8 "
    "[SPLINERES] 9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station data] 12 [Thiessen "
    "combines with elevation gradient] for ";
constexpr std::string_view kAdditionalColumnsKey = "AdditionalColumns=";
constexpr std::string_view kPTypeWord = "P-type";
// Values of a scenario row: x, y and the twelve months.
constexpr int kScenarioRowValues = 2 + kMonths;
constexpr double kPercent = 100.0;

// Reads the leading tokens of `tokens` with the kinds of `kinds` ('d' a whole
// number, 'f' a number) into `values` until one does not fit; returns how
// many fitted.
int ScanTokens(const std::vector<std::string_view>& tokens, std::string_view kinds,
               std::vector<double>& values) {
  values.clear();
  for (size_t i = 0; i < kinds.size() && i < tokens.size(); ++i) {
    double value = 0.0;
    if (kinds[i] == 'd') {
      std::string_view token = tokens[i];
      if (!token.empty() && token.front() == '+') token.remove_prefix(1);
      int whole = 0;
      const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), whole);
      if (error != std::errc() || end != token.data() + token.size()) break;
      value = whole;
    } else if (!ParseGridNumber(tokens[i], value)) {
      break;
    }
    values.push_back(value);
  }
  return static_cast<int>(values.size());
}

bool ReadWholeLineOf(std::FILE* file, std::string& line) { return file && ReadWholeLine(file, line); }

std::string Text(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

void meteointerpol::ReadSection() {
  OpenControlFile();
  if (!control_file)
    RaiseFatal(messages, "FATAL: error opening " + control_file_name, kControlFileOpenErrorCode);
  FindSection("[" + name + "]", true);

  std::string rest;
  auto read_int = [&](const std::string& prompt) {
    int value = 0;
    ReadValue(control_file, value, prompt, rest);
    return value;
  };
  // Numbers must be finite: a NaN would pass every range test unseen.
  auto read_double = [&](const std::string& prompt) {
    double value = 0.0;
    ReadValue(control_file, value, prompt, rest);
    if (!std::isfinite(value)) RaiseControlFileError(prompt, name);
    return value;
  };
  auto read_word = [&](const std::string& prompt) {
    std::string value;
    ReadValue(control_file, value, prompt, rest);
    return value;
  };

  // 1.
  section.method = read_int(kMethodPrompt);

  // 2.
  const int file_count =
      (section.method == kBilinearGradientMethod || section.method == kSplineGradientMethod) ? 2 : 1;
  section.station_files.assign(static_cast<size_t>(file_count), {});
  for (int j = 0; j < file_count; ++j) {
    std::string line;
    const bool read = ReadWholeLineOf(control_file, line);
    const std::vector<std::string_view> tokens = SplitStationLine(line);
    if (!read || tokens.empty())
      RaiseFatal(messages,
                 "FATAL: error reading station data file name nr. " + std::to_string(j) +
                     " for interpolation of " + name,
                 kMethodLineCode);
    auto& file = section.station_files[static_cast<size_t>(j)];
    file.name = std::string(tokens[0]);
    if (const size_t at = line.find(kAdditionalColumnsKey); at != std::string::npos) {
      const char* first = line.data() + at + kAdditionalColumnsKey.size();
      const char* last = line.data() + line.size();
      while (first != last && (*first == ' ' || *first == '\t')) ++first;
      const auto [end, error] = std::from_chars(first, last, file.additional_columns);
      if (error != std::errc() || file.additional_columns < 0 || (end != last && *end != ' ' && *end != '\t'))
        RaiseControlFileError(
            std::string(kAdditionalColumnsKey) + " of station data file nr. " + std::to_string(j) + " in ",
            name);
    }
  }

  // 3.
  std::vector<double> values;
  switch (section.method) {
    case kGridListMethod: {
      std::string line;
      ReadWholeLineOf(control_file, line);
      if (ScanTokens(SplitStationLine(line), "ffdff", values) < 5)
        RaiseFatal(
            messages,
            "FATAL: error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), x1 "
            "(0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for interpolation of " +
                name,
            kMethodLineCode);
      section.gif_factor1 = values[0];
      section.gif_exponent1 = values[1];
      section.gif_threshold = static_cast<int>(values[2]);
      section.gif_factor2 = values[3];
      section.gif_exponent2 = values[4];
      break;
    }
    case kStationRegressionMethod:
    case kIdwStationRegressionMethod: {
      std::string line;
      ReadWholeLineOf(control_file, line);
      const int count = ScanTokens(SplitStationLine(line), "fffdff", values);
      const std::string entry =
          "FATAL: error reading the required 5 or 6 regression parameters <lower inversion> <upper "
          "inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above upper inversion>] for "
          "interpolation of " +
          name;
      if (count < 5) RaiseFatal(messages, entry, kMethodLineCode);
      // An inversion layer upside down has no middle segment to fit.
      if (values[1] < values[0])
        RaiseFatal(messages,
                   entry + "\n(the upper inversion " + Text(values[1]) + " lies below the lower inversion " +
                       Text(values[0]) + ")",
                   kMethodLineCode);
      section.lower_inversion = values[0];
      section.upper_inversion = values[1];
      section.tolerance = values[2];
      section.overlap = static_cast<int>(values[3]);
      section.cluster_range = values[4];
      section.regression_upper_lapse_rate = count == 6 ? values[5] : kNoInversion;
      break;
    }
    case kLapseRateMethod: {
      std::string line;
      ReadWholeLineOf(control_file, line);
      const std::vector<std::string_view> tokens = SplitStationLine(line);
      const int count = ScanTokens(tokens, "fff", values);
      if (count == 0 || count == 2)
        RaiseFatal(messages,
                   "FATAL: error reading the required parameter \"lapse rate\" and/or optional parameters "
                   "inversion_hight and fix upper lapse rate for interpolation of " +
                       name,
                   kMethodLineCode);
      section.lapse_rate = values[0];
      section.inversion_height = count == 3 ? values[1] : kNoInversion;
      section.upper_lapse_rate = count == 3 ? values[2] : kNoInversion;
      section.p_type =
          count == 3 && tokens.size() > 3 && tokens[3].find(kPTypeWord) != std::string_view::npos;
      break;
    }
    default:
      section.regression_file = read_word("name of the regression file in ");
      break;
  }

  // 4. to 13.
  section.result_file = read_word("name of the result grid in ");
  section.write_code = read_int("grid write code for result grid in ");
  section.scaling_factor = read_double("scaling factor for ");
  ReadTwoValues(control_file, "%s%d", &section.statistics_file, &section.statistics_code,
                "name of the statistic result file in ", rest);
  section.nodata = read_double("nodata value in ");
  section.nodata_whole = static_cast<int>(section.nodata);
  section.idw_weight = read_double("idw-weight in ");
  section.idw_fraction = read_double("fraction of idw on weighted interpolation (method 3)");
  section.max_distance = read_double("maximum distance in ");
  section.anisotropy_slope = read_double("slope of the main axis of the anisotropy ellipse in ");
  section.anisotropy_ratio = read_double("anisotropy b/a in ");

  // 14. to 17.: the replacement of a result below the lower limit stands
  // under the prompt of the upper limit, and the other way round.
  section.limits.lower = read_double("lower limit of results in ");
  section.limits.lower_replacement = read_double("upper limit of results in ");
  section.limits.upper = read_double("lower replacement for limit-exceeding results in ");
  section.limits.upper_replacement = read_double("upper replacement for limit-exceeding results in ");

  // 18. and 19.
  section.scenario_use = read_int("SzenUse in ");
  if (section.scenario_use == 1) {
    section.scenario_method = read_int("SzenMeth in ");
    if (IsGridScenario(section.scenario_method)) {
      section.scenario_grid_files.assign(kMonths + 1, std::string());
      for (int m = 1; m <= kMonths; ++m) {
        std::string line;
        const bool read = ReadWholeLineOf(control_file, line);
        const std::vector<std::string_view> tokens = SplitStationLine(line);
        if (!read || tokens.empty())
          RaiseFatal(
              messages,
              "FATAL: error in control file: scenario grid for month " + std::to_string(m) + " in " + name +
                  " not found!\nThere have to be exactly 12 filenames after the sceario application "
                  "mode\nreferring to each of the 12 months if using scenario method 5.\nHowever, if "
                  "methods 0..4 are used, NO FILENAMES are allowed there\n (for backwards compatibility "
                  "reasons)",
              kControlFileErrorCode);
        section.scenario_grid_files[static_cast<size_t>(m)] = std::string(tokens[0]);
      }
    } else {
      const int row_count = read_int("SzenNum in ");
      if (row_count < 0) RaiseControlFileError("SzenNum in ", name);
      for (int j = 1; j <= row_count; ++j) {
        std::string line;
        ReadWholeLineOf(control_file, line);
        const std::vector<std::string_view> tokens = SplitStationLine(line);
        const int count = ScanTokens(tokens, std::string(kScenarioRowValues, 'f'), values);
        if (count < kScenarioRowValues)
          RaiseFatal(messages,
                     "FATAL: error! scenario-data row " + std::to_string(j) + ", column " +
                         std::to_string(count + 1) + " in " + name + ": read error!",
                     kScenarioRowCode);
        scenario_row row;
        row.x = values[0];
        row.y = values[1];
        for (int m = 1; m <= kMonths; ++m) {
          const double v = values[static_cast<size_t>(m) + 1];
          row.month[static_cast<size_t>(m)] =
              section.scenario_method == kPercentScenarioMethod ? v / kPercent + 1.0 : v;
        }
        section.scenario_rows.push_back(row);
      }
    }
  }

  if (std::fclose(control_file) != 0) {
    control_file = nullptr;
    RaiseFatal(messages, "FATAL: error closing " + control_file_name, kControlFileCloseErrorCode);
  }
  control_file = nullptr;

  if (section.idw_weight == 2.0) section.max_distance *= section.max_distance;
}

}  // namespace velmo
