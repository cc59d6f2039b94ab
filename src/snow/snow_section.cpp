// Reading "[snow_model]" into its parameter struct, each value checked as it is read.
#include "snow/snow_section.h"

#include <cmath>
#include <string>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr double kSteepest = 90.0;        // degrees
constexpr double kLargestLongWave = 3.0;  // correction factor
// Numbers of a monthly line.
constexpr std::size_t kMonthlyValues = 12;
// The first word of the snow-temperature line needs a line of this many
// characters, its line end counted.
constexpr std::size_t kShortestMethodLine = 3;

void ReadMethod(section_reader& in, snow_parameters& p) {
  p.method = in.Integer("method for ");
  p.kind = SnowMethodKind(p.method);
  if (!p.kind.defined) {
    *in.Module().messages << "FATAL: error in control file, " << in.Section() << ": snow method " << p.method
                          << " is not defined (methods 1 to 14)"
                          << "[end-entry]";
    throw ErrorCode{kControlFileErrorCode};
  }
}

// One line of monthly values, one for the whole year or twelve; a line
// without any number names its table, a number that is none as a whole its
// token, a line of another count the line.
void ReadMonthly(section_reader& in, const std::string& table_name, monthly_table& table) {
  const std::string prompt = table_name + " (a line of 12 monthly values) for ";
  std::string line;
  const leading_numbers numbers = in.Line(line) ? LeadingNumbers(line, kMonthlyValues) : leading_numbers{};
  if (!numbers.bad_token.empty()) in.RaiseUnreadable(prompt, numbers.bad_token, kNoFiniteNumber);
  const int count = static_cast<int>(numbers.values.size());
  if (count == 0) in.Module().RaiseControlFileError(prompt + in.Section(), in.Module().name);
  in.Check(FillMonthlyTable(numbers.values.data(), count, table),
           "FATAL: error in control file, " + prompt + in.Section() + ": the line \"" + line +
               "\" holds one value for every month or twelve, one per month, not ",
           count, kControlFileErrorCode);
}

// The line naming the snow-temperature grid: its first word.
std::string FirstWordOfLine(section_reader& in) {
  std::string line;
  const bool read = in.Line(line);
  const std::size_t length = line.size() + (read && !in.AtEnd() ? 1 : 0);
  const std::size_t start = line.find_first_not_of(" \t");
  if (!read || length < kShortestMethodLine || start == std::string::npos) {
    RaiseFatal(in.Module().messages,
               "FATAL: cannot read additional parameters for snow model methods 5 to 11 from " +
                   in.Module().control_file_name,
               kSnowMethodLinesCode);
  }
  const std::size_t end = line.find_first_of(" \t", start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Lines of methods 5 and above: the grids of the energy balance and the
// slides, the slide parameters and the long-wave corrections.
void ReadMethodLines(section_reader& in, snow_parameters& p) {
  p.snow_temperature_grid.file = FirstWordOfLine(in);
  p.snow_temperature_grid.write_code = in.Integer("Writegrid of the snow pack temperature grid for ");
  p.snow_temperature_statistics = in.Statistics("Name of the snow pack temperature statistics for ");
  p.surface_temperature_grid = in.Grid("Name of the snow surface temperature grid for ",
                                       "Writegrid of the snow surface temperature grid for ");
  p.surface_temperature_statistics = in.Statistics("Name of the snow surface temperature statistics for ");
  p.input_mass_grid = in.Grid("Name of the input mass grid for ", "Writegrid of the input mass grid for ");
  p.input_mass_statistics = in.Statistics("Name of the input mass statistics for ");
  p.mobile_mass_grid = in.Grid("Name of the mobile mass grid for ", "Writegrid of the mobile mass grid for ");
  p.mobile_mass_statistics = in.Statistics("Name of the mobile mass statistics for ");
  p.deposition_grid = in.Grid("Name of the deposition grid for ", "Writegrid of the deposition grid for ");
  p.deposition_statistics = in.Statistics("Name of the deposition statistics for ");

  p.maxDepositionSlope = in.Number("maximum slope for deposition for ");
  in.Check(p.maxDepositionSlope >= 0.0 && p.maxDepositionSlope <= kSteepest,
           "FATAL: maxDepositionSlope not within parameter bounds of [0...90] Here: ", p.maxDepositionSlope,
           kMaxDepositionSlopeCode);
  p.maxDepositionFactor = in.Number("maximum deposition factor for ");
  in.Check(p.maxDepositionFactor > 0.0,
           "FATAL: maxDepositionFactor not within parameter bounds of (0...inf). Here: ",
           p.maxDepositionFactor, kMaxDepositionFactorCode);
  p.minSlideSlope = in.Number("minimum slope for slides for ");
  in.Check(p.minSlideSlope > 0.0 && p.minSlideSlope <= kSteepest,
           "FATAL: minSlideSlope not within parameter bounds of [0...90]. Here: ", p.minSlideSlope,
           kMinSlideSlopeCode);
  p.slideMassFrac = in.Number("slide mass fraction for ");
  in.Check(p.slideMassFrac > 0.0 && p.slideMassFrac <= 1.0,
           "FATAL: slideMassFrac not within parameter bounds of (0...1.0]. Here: ", p.slideMassFrac,
           kSlideParameterCode);
  p.LWINcorr = in.Number("incoming long wave radiation correction factor for ");
  in.Check(p.LWINcorr > 0.0 && p.LWINcorr <= kLargestLongWave,
           "FATAL: incoming long wave radiation correction factor LWINcorr not within parameter bounds of "
           "(0...3.0]. Here: ",
           p.LWINcorr, kSlideParameterCode);
  p.LWOUTcorr = in.Number("outgoing long wave radiation correction factor for ");
  in.Check(p.LWOUTcorr > 0.0 && p.LWOUTcorr <= kLargestLongWave,
           "FATAL: outgoing long wave radiation correction factor LWOUTcorr not within parameter bounds of "
           "(0...3.0]. Here: ",
           p.LWOUTcorr, kSlideParameterCode);

  if (!in.OptionalNumber("EnBalScaling for ", p.EnBalScaling)) {
    // The diagnostics file is UTF-8, so is the ö.
    *in.Module().messages
        << "WARNING: \n------------- warning: -------------\n"
        << "Could not read the optional parameter EnBalScaling (double),\n"
        << "for snow melt methods with energy ba\xC3\xB6"
        << "ance that will be used for scaling the energy balance (i.e. affect melt rates)\n"
        << "Setting default values of 1.0"
        << "[end-entry]";
  }
}

}  // namespace

void ReadSnowSection(section_reader& in, snow_parameters& p) {
  ReadMethod(in, p);
  p.transzone = in.Number("transzone for ");
  p.T0R = in.Number("T0R for ");
  p.T0 = in.Number("T0 for ");
  p.CWH = in.Number("CWH for ");
  p.CRFR = in.Number("CRFR for ");
  ReadMonthly(in, "DDF", p.DDF);
  ReadMonthly(in, "c0", p.c0);
  ReadMonthly(in, "c1", p.c1);
  p.z0 = in.Number("z0 for ");
  p.RMFMIN = in.Number("RMFMIN for ");
  p.RMFMAX = in.Number("RMFMAX for ");
  p.ALBsnow_min = in.Number("ALBsnow_min for ");
  p.ALBsnow_max = in.Number("ALBsnow_max for ");

  p.rain_grid = in.Grid("Name of the rain-grid for ", "Writegrid of rain-grid for ");
  p.rain_statistics = in.Statistics("Name of the rain statistics for ");
  p.snow_grid = in.Grid("Name of the snow grid for ", "Writegrid of the snow grid for ");
  p.snow_statistics = in.Statistics("Name of the snow statistics for ");
  p.snow_days_grid = in.Grid("Name of the snowdays grid for ", "Writegrid of the snowdays grid for ");
  p.snow_days_statistics = in.Statistics("Name of the snowdays statistics for ");
  p.snow_age_grid = in.Grid("Name of the snow age grid for ", "Writegrid of the snow age grid for ");
  p.snow_age_statistics = in.Statistics("Name of the snow age statistics for ");
  p.albedo_statistics = in.Statistics("name of the albedo statistics for ");
  p.outflow_grid = in.Grid("Name of the snow outflow grid for ", "Writegrid of the snow outflow grid for ");
  p.outflow_statistics = in.Statistics("Name of the snow outflow statistics for ");
  p.melt_grid = in.Grid("Name of the snow melt only outflow grid for ",
                        "Writegrid of the snow melt only outflow grid for ");
  p.melt_statistics = in.Statistics("Name of the snow melt only outflow statistics for ");
  p.solid_grid = in.Grid("Name of the snow storage grids for ", "Writegrid of the snow storage grids for ");
  p.liquid_grid =
      in.Grid("Name of the liquid storage grids for ", "Writegrid of the liquid storage grids for ");
  p.storage_statistics = in.Statistics("Name of the total snow storage statistics for ");
  p.total_grid =
      in.Grid("name of the total snow storage grid for ", "Writegrid of the total snow storage grid for ");
  p.readgrid = in.Integer("readgrid forr storage grids for ");

  if (p.method >= 5) ReadMethodLines(in, p);
}

}  // namespace velmo
