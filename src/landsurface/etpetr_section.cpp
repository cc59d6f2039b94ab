// Reading "[evapotranspiration]" into etp_parameters, with the checks of the
// values, and the lake section of the module.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/etpetr.h"

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

// Reads up to `count` numbers, each by itself (they may span lines); stops
// at the first that cannot be read. Returns how many were read.
int ScanNumbers(std::FILE* file, double* target, int count) {
  for (int i = 0; i < count; ++i) {
    double value = 0.0;
    if (std::fscanf(file, "%lf", &value) != 1 || !std::isfinite(value)) return i;
    target[i] = value;
  }
  return count;
}

// The numbers at the start of a line, up to `count`; the rest of the line is
// a comment. Returns how many were read.
int LineNumbers(const std::string& line, double* target, int count) {
  const char* p = line.c_str();
  for (int i = 0; i < count; ++i) {
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    if (end == p || !std::isfinite(value)) return i;
    target[i] = value;
    p = end;
  }
  return count;
}

// The next line of the file; empty at the end of the file.
std::string NextLine(std::FILE* file) {
  std::string line;
  if (!ReadWholeLine(file, line)) line.clear();
  return line;
}

std::string CoefficientList(const std::array<double, 4>& cs) {
  std::ostringstream text;
  text << "CS[0]=" << cs[0] << ", CS[1]=" << cs[1] << ", CS[2]=" << cs[2] << ", CS[3]=" << cs[3];
  return text.str();
}

}  // namespace

void verdunstungsmodellklasse::ReadSection() {
  std::FILE* file = control_file;
  const std::string& s = section_buffer;
  etp_parameters& p = parameters;
  std::string rest;

  ReadValue(file, p.method, "Methode fuer " + s, rest);
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

  // The Haude values follow the Hamon values directly: no comment may
  // stand between them.
  const auto monthly = [&](monthly_table& table, const char* parameter, const char* method) {
    if (ScanNumbers(file, &table[1], kMonths) == kMonths) {
      WrapMonthlyTable(table);
      return;
    }
    *messages << kModelFrameHead << "there have to be 12 (monthly) values for the " << parameter << " for \n"
              << method << "-evaporation in the control file.\n"
              << kFrameTail << "[end-entry]";
    throw ErrorCode{kEtpMonthlyValuesCode};
  };
  monthly(p.hamon_factors, "PEC-parameter", "HAMON");
  monthly(p.haude_factors, "fh-parameter", "HAUDE");
  ReadValue(file, p.coast_factor, "fk - Coastfactor (WENDLING) for" + s, rest);

  const auto output = [&](etp_output& out, const std::string& grid_prompt, const std::string& code_prompt,
                          const std::string& stat_prompt) {
    ReadValue(file, out.grid_file, grid_prompt + s, rest);
    ReadValue(file, out.write_code, code_prompt + s, rest);
    ReadTwoValues(file, "%s%d", &out.stat_file, &out.stat_code, stat_prompt + s, rest);
  };
  output(p.potential_transpiration, "Name of the ETP-Grids for ", "Writegrid ETP for ",
         "Name of ETP-stat.file for ");
  output(p.real_transpiration, "Name of the ETR-Grids for ", "Writegrid ETR for    ",
         "Name of the ETR-stat.file for ");
  output(p.potential_evaporation, "Name of the evaporation_potential-grid for ", "Writegrid EVAP for    ",
         "Name of the evaporation_potential-stat.files for ");
  output(p.real_evaporation, "Name of the evaporation_real grid for ", "Writegrid evaporation real for    ",
         "Name of the evaporation_real-stat.files for ");
  output(p.snow_evaporation, "Name of the snow evaporation grid for ", "Writegrid snow evaporation for    ",
         "Name of the evaporation_real-stat.files for ");
  output(p.interception, "Name of the EIP-Grids for ", "Writegrid ETP for ", "Name of EIP-stat.file for ");
  ReadTwoValues(file, "%s%d", &p.radiation_stat_file, &p.radiation_stat_code,
                "Name of the RGEX-stat.file for " + s, rest);

  // Raw lines: values that are absent keep 0.
  LineNumbers(NextLine(file), p.radiation_coefficients.data(), 4);
  LineNumbers(NextLine(file), p.sunshine_coefficients.data(), 4);
  double transmissivity[2] = {0.0, 0.0};
  LineNumbers(NextLine(file), transmissivity, 2);
  p.transmissivity_mean = transmissivity[0];
  p.transmissivity_amplitude = transmissivity[1];
  LineNumbers(NextLine(file), &p.amplitude_scale_height, 1);
  ScanNumbers(file, &p.amplitudes[1], kMonths);
  WrapMonthlyTable(p.amplitudes);
  ReadRestOfLine(file, rest);

  double shares[2] = {0.0, 0.0};
  if (LineNumbers(NextLine(file), shares, 2) < 2) {
    *messages << "FATAL: error reading fraction for temperature amplitude for day/night\n"
              << "or the annual variability\n"
              << "[end-entry]";
    throw ErrorCode{kEtpParameterErrorCode};
  }
  p.amplitude_day_share = shares[0];
  p.amplitude_variability = shares[1];

  const std::string cloudiness_line = NextLine(file);
  if (cloudiness_line.size() > kEmptyLineLength) {
    std::istringstream words(cloudiness_line);
    if (!(words >> p.cloudiness_stat_file >> p.cloudiness_stat_code))
      RaiseControlFileError("statistics file and code of the cloudiness for " + s, name);
  }

  const std::string open_water_line = NextLine(file);
  const std::size_t key = open_water_line.find(kOpenWaterKey);
  const std::size_t equals = open_water_line.find('=', key == std::string::npos ? 0 : key);
  if (key != std::string::npos && equals != std::string::npos) {
    const char* start = open_water_line.c_str() + equals + 1;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start || !std::isfinite(value))
      RaiseControlFileError(std::string(kOpenWaterKey) + " for " + s, name);
    p.hamon_open_water_factor = value;
  }

  CheckParameters();

  const int closed = std::fclose(control_file);
  control_file = nullptr;
  if (closed != 0) {
    *messages << "FATAL: error closing " << control_file_name << "[end-entry]";
    throw ErrorCode{kControlFileCloseErrorCode};
  }
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
  OpenControlFile();
  if (!control_file) {
    *messages << "FATAL: error opening " << control_file_name << "[end-entry]";
    throw ErrorCode{kControlFileOpenErrorCode};
  }
  FindSection(section, true);
  std::string rest;
  ReadValue(control_file, lake.flow_control, "flow control parameter for " + section, rest);
  if (lake.flow_control != 0) {
    ReadValue(control_file, lake.initialization_method, "initialization method for " + section, rest);
    ReadValue(control_file, lake.albedo, "Albedo_OpenWater for " + section, rest);
    ReadValue(control_file, lake.roughness_length, "z0_OpenWater for " + section, rest);
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
  const int closed = std::fclose(control_file);
  control_file = nullptr;
  if (closed != 0) {
    *messages << "FATAL: error closing " << control_file_name << "after reading initialization method for "
              << section << "[end-entry]";
    throw ErrorCode{kControlFileCloseErrorCode};
  }
}

}  // namespace velmo
