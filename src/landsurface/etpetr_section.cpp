// Reading "[evapotranspiration]" into etp_parameters, with the checks of the
// values, and the lake section of the module.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/texthelpers.h"
#include "landsurface/etpetr.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr int kMonths = 12;
// Methods 2 to 4 are meant for steps of a day or more.
constexpr double kDailyStepMinutes = 1440.0;
// Steps longer than this run the daily temperature cycle.
constexpr double kLongStepMinutes = 720.0;
// Bounds of the diffuse fraction a0 and the tolerance of the sum a0..a3 = 1.
constexpr double kMinimumDiffuseFraction = 0.05;
constexpr double kMaximumDiffuseFraction = 0.5;
constexpr double kCoefficientSumTolerance = 0.01;
// A cloudiness statistics line of at most this many characters names no table.
constexpr std::size_t kEmptyLineLength = 2;
constexpr const char* kOpenWaterKey = "HamonCorrectionOpenWater";

constexpr const char* kModelFrameHead =
    "FATAL: \n---------------------- error in evapotranspiration model ------------------- \n";
constexpr const char* kFrameTail =
    "\n\n-----------------------------------------------------------------------\n";
constexpr const char* kLakeFrameHead =
    "FATAL: \n=======================================\n!!!! ERROR !!!! \n\n";
constexpr const char* kLakeFrameTail = "\n\n=======================================\n";

// The `count` numbers a line of the section starts with, into `target`; the
// rest of the line is its comment. A token that is no number as a whole ends
// the run, named under `prompt`, and so does a line with fewer numbers: a
// value left out is no value of 0.
void ReadLineNumbers(section_reader& in, const std::string& prompt, double* target, std::size_t count) {
  std::string line;
  in.Line(line);
  const leading_numbers numbers = LeadingNumbers(line, count);
  if (!numbers.bad_token.empty()) in.RaiseUnreadable(prompt, numbers.bad_token, kNoFiniteNumber);
  in.Check(numbers.values.size() == count,
           "FATAL: error in control file, " + prompt + in.Section() + ": " + std::to_string(count) +
               (count == 1 ? " number is" : " numbers are") + " due, not ",
           static_cast<double>(numbers.values.size()), kControlFileErrorCode);
  std::copy(numbers.values.begin(), numbers.values.end(), target);
}

std::string CoefficientList(const std::array<double, 4>& cs) {
  std::ostringstream text;
  text << "CS[0]=" << cs[0] << ", CS[1]=" << cs[1] << ", CS[2]=" << cs[2] << ", CS[3]=" << cs[3];
  return text.str();
}

}  // namespace

bool ReadOpenWaterFactor(const std::string& line, double& factor, std::string& token) {
  const std::size_t key = line.find(kOpenWaterKey);
  const std::size_t equals = line.find('=', key == std::string::npos ? 0 : key);
  if (key == std::string::npos || equals == std::string::npos) return true;
  token = FirstToken(KeyLineValue(line, equals));
  return ParseNumber(token, factor);
}

void verdunstungsmodellklasse::ReadSection() {
  section_reader in(*this, kReadingOn);
  etp_parameters& p = parameters;

  p.method = in.Integer("Methode fuer ");
  if (p.method > kPenmanMonteith && layer_count > 1) {
    *messages << kModelFrameHead
              << "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE is only possible\n"
                 "for unlayered Vegetation. Actual parameters: method: "
              << p.method << ", number of layers: " << layer_count << kFrameTail << "[end-entry]";
    throw ErrorCode{kEtpLayeredMethodCode};
  }
  if (p.method > kPenmanMonteith && time_interval < kDailyStepMinutes) {
    *messages << "WARNING: \n---------------------- error in evapotranspiration model ------------------- \n"
              << "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE should only be used\n"
                 "for daily time steps or larger. The actual time step is less than 1440 min.\n"
                 "actual parameters: method: "
              << p.method << ", timestep: " << time_interval << " minutes" << kFrameTail << "[end-entry]";
  }

  // Twelve numbers, wherever their lines end: the Haude values follow the
  // Hamon values directly, no comment may stand between them.
  const auto monthly = [&](monthly_table& table, const char* parameter, const char* method) {
    std::string token;
    for (int m = 1; m <= kMonths; ++m) {
      if (in.Token(token) && ParseNumber(token, table[static_cast<std::size_t>(m)])) continue;
      *messages << kModelFrameHead << "there have to be 12 (monthly) values for the " << parameter
                << " for \n"
                << method << "-evaporation in the control file.\n"
                << (token.empty() ? "" : "\"" + token + "\" is " + kNoFiniteNumber + ".\n") << kFrameTail
                << "[end-entry]";
      throw ErrorCode{kEtpMonthlyValuesCode};
    }
    WrapMonthlyTable(table);
  };
  monthly(p.hamon_factors, "PEC-parameter", "HAMON");
  monthly(p.haude_factors, "fh-parameter", "HAUDE");
  p.coast_factor = in.Number("fk - Coastfactor (WENDLING) for");

  const auto output = [&](output_grid& grid, statistics_file& statistics, const std::string& grid_prompt,
                          const std::string& code_prompt, const std::string& statistics_prompt) {
    grid = in.Grid(grid_prompt, code_prompt);
    statistics = in.Statistics(statistics_prompt);
  };
  output(p.potential_transpiration_grid, p.potential_transpiration_statistics, "Name of the ETP-Grids for ",
         "Writegrid ETP for ", "Name of ETP-stat.file for ");
  output(p.real_transpiration_grid, p.real_transpiration_statistics, "Name of the ETR-Grids for ",
         "Writegrid ETR for    ", "Name of the ETR-stat.file for ");
  output(p.potential_evaporation_grid, p.potential_evaporation_statistics,
         "Name of the evaporation_potential-grid for ", "Writegrid EVAP for    ",
         "Name of the evaporation_potential-stat.files for ");
  output(p.real_evaporation_grid, p.real_evaporation_statistics, "Name of the evaporation_real grid for ",
         "Writegrid evaporation real for    ", "Name of the evaporation_real-stat.files for ");
  output(p.snow_evaporation_grid, p.snow_evaporation_statistics, "Name of the snow evaporation grid for ",
         "Writegrid snow evaporation for    ", "Name of the evaporation_real-stat.files for ");
  output(p.interception_grid, p.interception_statistics, "Name of the EIP-Grids for ", "Writegrid ETP for ",
         "Name of EIP-stat.file for ");
  p.radiation_statistics = in.Statistics("Name of the RGEX-stat.file for ");

  // Lines of numbers, each with all of its values.
  ReadLineNumbers(in, "coefficients a0..a3 of the global radiation for ", p.radiation_coefficients.data(), 4);
  ReadLineNumbers(in, "coefficients CS of the relative sunshine for ", p.sunshine_coefficients.data(), 4);
  double transmissivity[2] = {};
  ReadLineNumbers(in, "atmospheric transmissivity (mean and amplitude) for ", transmissivity, 2);
  p.transmissivity_mean = transmissivity[0];
  p.transmissivity_amplitude = transmissivity[1];
  ReadLineNumbers(in, "elevation scale of the daily temperature amplitude for ", &p.amplitude_scale_height,
                  1);
  // Twelve amplitudes, wherever their lines end, then the rest of the line
  // of the last; a month left out is no amplitude of 0.
  const std::string amplitudes_prompt = "daily temperature amplitudes for ";
  int months = 0;
  while (months < kMonths &&
         in.FollowingNumber(amplitudes_prompt, p.amplitudes[static_cast<std::size_t>(months) + 1]))
    ++months;
  in.Check(months == kMonths,
           "FATAL: error in control file, " + amplitudes_prompt + section_buffer +
               ": 12 numbers, one per month, are due, not ",
           months, kControlFileErrorCode);
  WrapMonthlyTable(p.amplitudes);
  std::string line;
  in.Line(line);

  in.Line(line);
  const leading_numbers shares = LeadingNumbers(line, 2);
  if (shares.values.size() < 2) {
    *messages << "FATAL: error reading fraction for temperature amplitude for day/night\n"
              << "or the annual variability\n"
              << (shares.bad_token.empty() ? "" : "\"" + shares.bad_token + "\" is " + kNoFiniteNumber + "\n")
              << "[end-entry]";
    throw ErrorCode{kEtpParameterErrorCode};
  }
  p.amplitude_day_share = shares.values[0];
  p.amplitude_variability = shares.values[1];

  in.Line(line);
  if (line.size() > kEmptyLineLength) {
    const std::string prompt = "statistics file and code of the cloudiness for ";
    std::istringstream words(line);
    std::string file, code;
    if (!(words >> file >> code)) in.RaiseUnreadable(prompt, {}, {});
    if (!ParseNumber(code, p.cloudiness_statistics.code)) in.RaiseUnreadable(prompt, code, kNoWholeNumber);
    p.cloudiness_statistics.file = file;
  }

  in.Line(line);
  std::string token;
  if (!ReadOpenWaterFactor(line, p.hamon_open_water_factor, token))
    in.RaiseUnreadable(std::string(kOpenWaterKey) + " for ", token, kNoFiniteNumber);

  CheckParameters();
  in.Close();
}

void verdunstungsmodellklasse::CheckParameters() {
  etp_parameters& p = parameters;
  const auto fail = [&](const std::string& text) {
    *messages << text << "[end-entry]";
    throw ErrorCode{kEtpParameterErrorCode};
  };

  if (!(p.amplitude_day_share >= 0.0 && p.amplitude_day_share <= 1.0)) {
    std::ostringstream text;
    text << "FATAL: \n---------------------------- error in control file --------------------\n\n"
            "The splitting of the temperature amplitude between day and night\n"
            "has to be done in a way that the fraction for the bright day is between 0..1\n"
            "read: amplitude_fraction_day: "
         << p.amplitude_day_share << kFrameTail;
    fail(text.str());
  }
  p.amplitude_night_share = 1.0 - p.amplitude_day_share;

  const std::array<double, 4>& a = p.radiation_coefficients;
  if (!(a[0] >= kMinimumDiffuseFraction)) {
    std::ostringstream text;
    text << "FATAL: fraction of diffuse radiation is too small: " << a[0] << " (should be 0.05 ... 0.5)\n";
    fail(text.str());
  }
  if (!(a[0] <= kMaximumDiffuseFraction)) {
    std::ostringstream text;
    text << "FATAL: fraction of diffuse radiation is too large: " << a[0] << " (should be 0.05 ... 0.5)\n";
    fail(text.str());
  }
  const double sum = a[0] + a[1] + a[2] + a[3];
  if (!(std::fabs(sum - 1.0) <= kCoefficientSumTolerance)) {
    std::ostringstream text;
    text << "FATAL: die Koeffizienten fuer die Modellierung der Globalstrahlung muessen in ihrer Summe 1 "
            "ergeben\n"
         << " derzeitige Summe: " << a[0] << " + " << a[1] << " + " << a[2] << " + " << a[3] << " = " << sum;
    fail(text.str());
  }

  const sunshine_threshold threshold = SunshineThreshold(p.sunshine_coefficients);
  switch (threshold.fault) {
    case sunshine_threshold_fault::none:
      p.sunshine_threshold = threshold.r0;
      break;
    case sunshine_threshold_fault::no_relationship:
      fail(
          "FATAL: The coefficients for sunshine duration modelling are wrong!\n"
          "There must be at minimum a linear relationship\nbetween radiation and sunshine duration\n" +
          CoefficientList(p.sunshine_coefficients) + "\n\n");
      break;
    case sunshine_threshold_fault::no_root_in_range:
      fail(
          "FATAL: \n----------------------------!! Error !! -----------------------\n"
          "The coefficients for sunshine duration modelling are wrong!\n"
          "No null point (root) was found between 0 and 1!\n" +
          CoefficientList(p.sunshine_coefficients) +
          "\n\nuse e.g.: CS[0]=0.072, CS[1]=-0.808, CS[2]=1.749, CS[3]=-0.239\n"
          "----------------------------------------------------------------");
      break;
  }

  // The clear-sky radiation raises the transmissivity to a power: it must
  // stay within 0..1 on every day of the year.
  const bool clear_sky_methods = p.method == kPenmanMonteith || p.method == kWendling;
  const double swing = std::fabs(p.transmissivity_amplitude);
  if (clear_sky_methods && !(p.transmissivity_mean - swing >= 0.0 && p.transmissivity_mean + swing <= 1.0)) {
    std::ostringstream text;
    text << "FATAL: the atmospheric transmissivity of " << section_buffer
         << " must stay within 0..1 over the year, read: mean " << p.transmissivity_mean << ", amplitude "
         << p.transmissivity_amplitude;
    fail(text.str());
  }

  // exp(-z/H) of the daily temperature cycle needs a positive scale.
  if (p.method == kPenmanMonteith && time_interval > kLongStepMinutes && !(p.amplitude_scale_height > 0.0)) {
    std::ostringstream text;
    text << "FATAL: the elevation scale of the daily temperature amplitude in " << section_buffer
         << " must be above 0 m for steps longer than 720 minutes, read: " << p.amplitude_scale_height;
    fail(text.str());
  }
}

void verdunstungsmodellklasse::InitLakeModel(const std::string& section) {
  if (flow_control_parameter == 0) return;
  const int lake_index = FindGrid("lake_codes", false);
  if (lake_index <= 0) {
    *messages << "INFO: no LAKE-grid was found in " << name << "\n"
              << "Lake modelling is switched off for " << name << ".\n"
              << "[end-entry]";
    return;
  }
  lake = ReadLakeSection(*this, section, lake_values::open_water);
  if (lake.flow_control == 0) return;
  const auto fail = [&](const std::string& text) {
    *messages << kLakeFrameHead << text << kLakeFrameTail << "[end-entry]";
    throw ErrorCode{kEtpLakeSetUpCode};
  };
  int pond_index = FindGrid("ponding_storage", false);
  if (pond_index <= 0) pond_index = FindGrid("ponding_storage_top", false);
  if (pond_index <= 0)
    fail(
        "\nLAKE-grid was found, but no POND-Grid. For using lakes,"
        "\nboth grids as well as the MAXPOND grid must be present.");
  if (lake.initialization_method != 1 && lake.initialization_method != 2)
    fail("Error in initialization method for " + section +
         ".\n"
         "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
         "In either case, theta_soil will be set to saturated, if the cell is marked as lake and POND is > "
         "0.");
  // The aerodynamic resistance of open water takes the logarithm of z0.
  if (!(lake.roughness_length > 0.0)) {
    std::ostringstream text;
    text << "z0_OpenWater for " << section << " must be above 0 m, read: " << lake.roughness_length;
    fail(text.str());
  }
  lake_codes = (*grids)[lake_index].data;
  ponding = (*grids)[pond_index].data;
}

}  // namespace velmo
