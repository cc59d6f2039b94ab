// The section "[<variable>]" of an interpolator, read into its parameter
// struct and checked value by value.
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/texthelpers.h"
#include "meteo/meteoint.h"
#include "meteo/station_files.h"
#include "setup/section_reader.h"

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
// A nodata value whose missing-date marker -N - 1 still fits an int.
constexpr double kLargestNodata = std::numeric_limits<int>::max();

// The leading numbers of a line's tokens with the kinds of `kinds` ('d' a
// whole number, 'f' a finite number), as far as they fit. A token that does
// not start as a number ends them; one that starts as a number but is none
// of its kind as a whole is the bad token, whose note ends the line's entry.
struct line_numbers {
  std::vector<double> values;
  std::string bad_note;  // empty when no token was bad
};
line_numbers ScanTokens(const std::vector<std::string_view>& tokens, std::string_view kinds) {
  line_numbers numbers;
  for (size_t i = 0; i < kinds.size() && i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    double value = 0.0;
    int whole = 0;
    const bool fits = kinds[i] == 'd' ? ParseNumber(token, whole) : ParseGridNumber(token, value);
    if (!fits) {
      if (StartsAsNumber(token))
        numbers.bad_note = "\n(\"" + std::string(token) + "\" is " +
                           (kinds[i] == 'd' ? kNoWholeNumber : kNoFiniteNumber) + ")";
      break;
    }
    numbers.values.push_back(kinds[i] == 'd' ? whole : value);
  }
  return numbers;
}

std::string Text(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Method 9: the GIF mapping of the grid reader.
void ParseGifMappingLine(const std::string& line, const std::string& name, MessageStream* messages,
                         interpolation_section& section) {
  const line_numbers numbers = ScanTokens(SplitStationLine(line), "ffdff");
  if (numbers.values.size() < 5 || !numbers.bad_note.empty())
    RaiseFatal(messages,
               "FATAL: error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), x1 "
               "(0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for interpolation of " +
                   name + numbers.bad_note,
               kMethodLineCode);
  const std::vector<double>& v = numbers.values;
  section.gif_factor1 = v[0];
  section.gif_exponent1 = v[1];
  section.gif_threshold = static_cast<int>(v[2]);
  section.gif_factor2 = v[3];
  section.gif_exponent2 = v[4];
}

// Methods 10 and 11: the inversion layer, tolerance, overlap, cluster range
// and the optional lapse rate above the upper inversion.
void ParseRegressionLine(const std::string& line, const std::string& name, MessageStream* messages,
                         interpolation_section& section) {
  const line_numbers numbers = ScanTokens(SplitStationLine(line), "fffdff");
  const std::vector<double>& v = numbers.values;
  const std::string entry =
      "FATAL: error reading the required 5 or 6 regression parameters <lower inversion> <upper "
      "inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above upper inversion>] for "
      "interpolation of " +
      name;
  if (v.size() < 5 || !numbers.bad_note.empty())
    RaiseFatal(messages, entry + numbers.bad_note, kMethodLineCode);
  // An inversion layer upside down has no middle segment to fit.
  if (v[1] < v[0])
    RaiseFatal(messages,
               entry + "\n(the upper inversion " + Text(v[1]) + " lies below the lower inversion " +
                   Text(v[0]) + ")",
               kMethodLineCode);
  section.lower_inversion = v[0];
  section.upper_inversion = v[1];
  section.tolerance = v[2];
  section.overlap = static_cast<int>(v[3]);
  section.cluster_range = v[4];
  section.regression_upper_lapse_rate = v.size() == 6 ? v[5] : kNoInversion;
}

// Method 12: the lapse rate, optionally the inversion height and the lapse
// rate above it, and "P-type" after them.
void ParseLapseRateLine(const std::string& line, const std::string& name, MessageStream* messages,
                        interpolation_section& section) {
  const std::vector<std::string_view> tokens = SplitStationLine(line);
  const line_numbers numbers = ScanTokens(tokens, "fff");
  const std::size_t count = numbers.values.size();
  if (count == 0 || count == 2 || !numbers.bad_note.empty())
    RaiseFatal(messages,
               "FATAL: error reading the required parameter \"lapse rate\" and/or optional parameters "
               "inversion_hight and fix upper lapse rate for interpolation of " +
                   name + numbers.bad_note,
               kMethodLineCode);
  section.lapse_rate = numbers.values[0];
  section.inversion_height = count == 3 ? numbers.values[1] : kNoInversion;
  section.upper_lapse_rate = count == 3 ? numbers.values[2] : kNoInversion;
  section.p_type = count == 3 && tokens.size() > 3 && tokens[3].find(kPTypeWord) != std::string_view::npos;
}

}  // namespace

void meteointerpol::ReadSection() {
  section_reader in(*this, "[" + name + "]", {.section_in_prompts = false});

  // 1.
  section.method = in.Integer(kMethodPrompt);

  // 2.
  const int file_count =
      (section.method == kBilinearGradientMethod || section.method == kSplineGradientMethod) ? 2 : 1;
  section.station_files.assign(static_cast<size_t>(file_count), {});
  for (int j = 0; j < file_count; ++j) {
    std::string line;
    const bool read = in.Line(line);
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
  std::string line;
  switch (section.method) {
    case kGridListMethod:
      in.Line(line);
      ParseGifMappingLine(line, name, messages, section);
      break;
    case kStationRegressionMethod:
    case kIdwStationRegressionMethod:
      in.Line(line);
      ParseRegressionLine(line, name, messages, section);
      break;
    case kLapseRateMethod:
      in.Line(line);
      ParseLapseRateLine(line, name, messages, section);
      break;
    default:
      section.regression_file = in.Word("name of the regression file in ");
      break;
  }

  // 4. to 13.
  section.result.file = in.Word("name of the result grid in ");
  section.result.write_code = in.Integer("grid write code for result grid in ");
  section.scaling_factor = in.Number("scaling factor for ");
  section.statistics = in.Statistics("name of the statistic result file in ");
  section.nodata = in.Number("nodata value in ");
  // The marker of a missing date, -N - 1, is a whole number of the dates.
  in.Check(std::fabs(section.nodata) < kLargestNodata,
           "FATAL: error in control file, nodata value in " + name +
               " lies beyond the whole numbers of the dates: ",
           section.nodata, kControlFileErrorCode);
  section.nodata_whole = static_cast<int>(section.nodata);
  section.idw_weight = in.Number("idw-weight in ");
  in.Check(std::fabs(section.idw_weight) <= kLargestIdwWeight,
           "FATAL: error in control file, idw-weight in " + name + " lies beyond -1e6 to 1e6: ",
           section.idw_weight, kControlFileErrorCode);
  section.idw_fraction = in.Number("fraction of idw on weighted interpolation (method 3)");
  section.max_distance = in.Number("maximum distance in ");
  section.anisotropy_slope = in.Number("slope of the main axis of the anisotropy ellipse in ");
  section.anisotropy_ratio = in.Number("anisotropy b/a in ");

  // 14. to 17.: the replacement of a result below the lower limit stands
  // under the prompt of the upper limit, and the other way round.
  section.limits.lower = in.Number("lower limit of results in ");
  section.limits.lower_replacement = in.Number("upper limit of results in ");
  section.limits.upper = in.Number("lower replacement for limit-exceeding results in ");
  section.limits.upper_replacement = in.Number("upper replacement for limit-exceeding results in ");

  // 18. and 19.
  section.scenario_use = in.Integer("SzenUse in ");
  if (section.scenario_use == 1) {
    section.scenario_method = in.Integer("SzenMeth in ");
    if (IsGridScenario(section.scenario_method)) {
      section.scenario_grid_files.assign(kMonths + 1, std::string());
      for (int m = 1; m <= kMonths; ++m) {
        const bool read = in.Line(line);
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
      const int row_count = in.Integer("SzenNum in ");
      if (row_count < 0) RaiseControlFileError("SzenNum in ", name);
      for (int j = 1; j <= row_count; ++j) {
        in.Line(line);
        const line_numbers numbers = ScanTokens(SplitStationLine(line), std::string(kScenarioRowValues, 'f'));
        const std::vector<double>& v = numbers.values;
        if (static_cast<int>(v.size()) < kScenarioRowValues)
          RaiseFatal(messages,
                     "FATAL: error! scenario-data row " + std::to_string(j) + ", column " +
                         std::to_string(v.size() + 1) + " in " + name + ": read error!" + numbers.bad_note,
                     kScenarioRowCode);
        scenario_row row;
        row.x = v[0];
        row.y = v[1];
        for (int m = 1; m <= kMonths; ++m) {
          const double value = v[static_cast<size_t>(m) + 1];
          row.month[static_cast<size_t>(m)] =
              section.scenario_method == kPercentScenarioMethod ? value / kPercent + 1.0 : value;
        }
        section.scenario_rows.push_back(row);
      }
    }
  }

  in.Close();

  if (section.idw_weight == 2.0) section.max_distance *= section.max_distance;
}

}  // namespace velmo
