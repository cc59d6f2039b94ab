// The section "[snow_model]" as a plain struct of parameters, read and
// checked value by value.
//
//   [snow_model]
//   1     flow control parameter (0: off)          (read by the submodel base)
//   60    time interval in minutes                 (read by the submodel base)
//   1     method: 1 degree-day, 2 temperature-wind, 3/4 rain-on-snow index,
//         5 energy balance; 6, 7, 8, 9, 12, 14 with slides; 7, 9, 10, 11,
//         13, 14 with the deposition index
//   1.0   transzone (K), 0.0 T0R (°C), 0.0 T0 (°C), 0.1 CWH, 0.5 CRFR
//   3 3 3 3 3 3 3 3 3 3 3 3     DDF, January to December (one number: all months)
//   2 ...                       c0
//   0.5 ...                     c1
//   0.01  z0, 1.0 RMFMIN, 3.0 RMFMAX, 0.4 ALBsnow_min, 0.9 ALBsnow_max
//   then file names, write codes and statistics (name and code) of the grids,
//   and the readgrid flag; methods 5 and above add the lines of the pack and
//   surface temperatures, the slides and the long-wave corrections.
#pragma once

#include <string>

#include "setup/output_settings.h"
#include "snow/snow_melt.h"

namespace velmo {

class section_reader;

// Codes of the snow model's section.
inline constexpr int kSnowMethodLinesCode = 404;      // the lines of methods 5 and above missing
inline constexpr int kMaxDepositionSlopeCode = 405;   // outside [0, 90]
inline constexpr int kMaxDepositionFactorCode = 406;  // not above 0
inline constexpr int kMinSlideSlopeCode = 407;        // outside (0, 90]
inline constexpr int kSlideParameterCode = 408;       // slide mass fraction, long-wave corrections

struct snow_parameters {
  int method = 0;
  snow_method_kind kind;
  double transzone = 0.0;  // K, half width of the rain/snow transition
  double T0R = 0.0;        // °C, rain/snow threshold
  double T0 = 0.0;         // °C, melt threshold
  double CWH = 0.0;        // liquid water the cover holds, share of the solid storage
  double CRFR = 0.0;       // refreezing coefficient
  monthly_table DDF{};     // mm/(°C·day)
  monthly_table c0{};      // mm/(°C·day)
  monthly_table c1{};      // mm/(°C·day·m/s)
  double z0 = 0.0;         // m
  double RMFMIN = 0.0;     // mm/(°C·day)
  double RMFMAX = 0.0;
  double ALBsnow_min = 0.0;
  double ALBsnow_max = 0.0;

  output_grid rain_grid;  // "rain_fraction"
  statistics_file rain_statistics;
  output_grid snow_grid;  // "snow_fraction"
  statistics_file snow_statistics;
  output_grid snow_days_grid;  // "days_snow"
  statistics_file snow_days_statistics;
  output_grid snow_age_grid;  // "snow_age"
  statistics_file snow_age_statistics;
  statistics_file albedo_statistics;
  output_grid outflow_grid;  // "snowcover_outflow"
  statistics_file outflow_statistics;
  output_grid melt_grid;  // "melt_from_snowcover"
  statistics_file melt_statistics;
  output_grid solid_grid;   // "snowstorage_solid"
  output_grid liquid_grid;  // "snowstorage_liquid"
  statistics_file storage_statistics;
  output_grid total_grid;  // "snow_storage_total"
  int readgrid = 0;        // 1: the initial cover is read from the grid files

  // Methods 5 and above.
  output_grid snow_temperature_grid;  // "snowtemp"
  statistics_file snow_temperature_statistics;
  output_grid surface_temperature_grid;  // "surftemp"
  statistics_file surface_temperature_statistics;
  output_grid input_mass_grid;  // "input_mass"
  statistics_file input_mass_statistics;
  output_grid mobile_mass_grid;  // "mobile_mass"
  statistics_file mobile_mass_statistics;
  output_grid deposition_grid;  // "deposition"
  statistics_file deposition_statistics;
  double maxDepositionSlope = 55.0;  // degrees
  double maxDepositionFactor = 1.0;
  double minSlideSlope = 30.0;  // degrees
  double slideMassFrac = 0.01;
  double LWINcorr = 1.0;
  double LWOUTcorr = 1.0;
  double EnBalScaling = 1.0;
};

// Reads the values after the time interval with a reader on the module's
// open control file, positioned after the time-interval line. Failures write their FATAL
// entry and throw: an unreadable value 17 (with its prompt), a method outside
// 1..14 or a monthly line without any number 17, the range checks 404..408.
// A missing EnBalScaling keeps 1.0 with a WARNING.
void ReadSnowSection(section_reader& in, snow_parameters& p);

}  // namespace velmo
