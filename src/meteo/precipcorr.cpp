// Precipitation correction: the section, the choice between station and grid
// mode, the correction of the station values and of the grid.
#include "meteo/precipcorr.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "meteo/meteoint.h"
#include "setup/section_reader.h"
#include "setup/settings.h"
#include "setup/teilmod.h"

namespace velmo {
namespace {

constexpr const char* kPrecipitationName = "precipitation";
constexpr const char* kTemperatureName = "temperature";
constexpr const char* kWindName = "wind_speed";
constexpr const char* kMpiRegionsName = "MPIRegions";
// A missing temperature counts as rain: this far above the threshold (°C).
constexpr double kRainAboveThreshold = 1.0;
// Number given to RaiseAllocationError for the station buffers.
constexpr int kStationBufferAllocation = 1;

// The lowest valid value of a grid that no interpolator made: anything above
// the domain's nodata value.
double AboveNodata(double nodata_value) {
  return std::nextafter(nodata_value, std::numeric_limits<double>::infinity());
}

bool UsesStationRegression(int method) {
  return method == kRegressionMethod || method == kIdwRegressionMethod ||
         method == kStationRegressionMethod || method == kIdwStationRegressionMethod;
}

}  // namespace

precicorrclass::precicorrclass(MessageStream* stream, const std::vector<meteointerpol*>& interpolator_list,
                               const model_settings& settings, grid_table* shared_grids,
                               bool routing_only_switch)
    : modelobject(stream, settings.control_file_name, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.WriteNetcdfGrids, settings.InitialStateDirectory, settings.DefaultOutputDirectory),
      routing_only(routing_only_switch),
      interpolators(interpolator_list),
      variables(settings.meteo_names) {
  name = kPrecipitationCorrectionName;
  grids = shared_grids;
  TakeDomain(*this, settings);
  region_count = settings.region_count;

  ReadSection();
  if (routing_only) parameters.do_it = 0;
  if (parameters.do_it == 0) return;

  precipitation = InterpolatorAt(FindVariable(kPrecipitationName));
  if (!precipitation) grid_mode = true;
  precipitation_grid = RequiredGridData(kPrecipitationName);

  temperature = InterpolatorAt(FindVariable(kTemperatureName));
  if (!temperature) {
    if (FindGrid(kTemperatureName, true) > 0) {
      grid_mode = true;
    } else {
      no_temperature = true;
    }
  }
  if (!no_temperature) temperature_grid = RequiredGridData(kTemperatureName);

  wind = InterpolatorAt(FindVariable(kWindName));
  if (!wind) {
    if (FindGrid(kWindName, true) > 0) {
      grid_mode = true;
    } else {
      no_wind = true;
    }
  }
  if (!no_wind) wind_grid = RequiredGridData(kWindName);

  // Values below these are missing: below -N of the interpolator that made
  // them, else at or below the domain's nodata value.
  const double above_nodata = AboveNodata(nodata_value);
  limits.precipitation = precipitation ? -precipitation->Section().nodata : above_nodata;
  limits.temperature = temperature ? -temperature->Section().nodata : above_nodata;
  limits.wind = wind ? -wind->Section().nodata : above_nodata;

  if (no_temperature)
    *messages
        << "INFO: " << name
        << ": neither an interpolator nor a grid \"temperature\" exists, so every precipitation value is "
           "corrected with the rain factors"
        << "[end-entry]";
  if (no_wind)
    *messages
        << "INFO: " << name
        << ": neither an interpolator nor a grid \"wind_speed\" exists, so the wind speed is taken as 0 "
           "and the factors are the constants"
        << "[end-entry]";

  if ((temperature && temperature->GetMethod() == kGridListMethod) ||
      (wind && wind->GetMethod() == kGridListMethod))
    grid_mode = true;
  if (grid_mode) return;
  PrepareStations();
}

void precicorrclass::ReadSection() {
  section_reader in(*this, "[" + name + "]", {.section_in_prompts = false});
  parameters.do_it = in.Integer("do_it fuer ");
  parameters.threshold = in.Number("Grenztemperatur fuer ");
  parameters.rain_constant = in.Number("Konstante Regen fuer ");
  parameters.rain_slope = in.Number("Anstieg Regen fuer ");
  parameters.snow_constant = in.Number("Konstante Schnee fuer ");
  parameters.snow_slope = in.Number("Anstieg Schnee fuer ");
  in.Close("FATAL: error closing" + control_file_name);
}

int precicorrclass::FindVariable(const std::string& variable) const {
  for (std::size_t k = 1; k < variables.size(); ++k)
    if (variables[k] == variable) return static_cast<int>(k);
  return 0;
}

meteointerpol* precicorrclass::InterpolatorAt(int index) const {
  if (index < 1 || static_cast<std::size_t>(index) >= interpolators.size()) return nullptr;
  return interpolators[static_cast<std::size_t>(index)];
}

void precicorrclass::PrepareStations() {
  const int method = precipitation->GetMethod();
  if (method == kGridListMethod) {
    grid_mode = true;
    return;
  }
  // Methods 2 and 10 correct no station value; the refit samples altitudes.
  const bool regression_only = method == kRegressionMethod || method == kStationRegressionMethod;
  station_count = regression_only ? 1 : precipitation->GetStationCount();
  int largest = precipitation->GetStationCount();
  if (temperature) largest = std::max(largest, temperature->GetStationCount());
  if (wind) largest = std::max(largest, wind->GetStationCount());
  try {
    station_temperature.assign(static_cast<std::size_t>(station_count) + 1, 0.0);
    station_wind.assign(static_cast<std::size_t>(station_count) + 1, 0.0);
    point_scratch.assign(static_cast<std::size_t>(largest) + 1, 0.0);
  } catch (const std::bad_alloc&) {
    RaiseAllocationError(kStationBufferAllocation);
  }
}

double precicorrclass::TemperatureAt(double x, double y, double z) {
  const double rain = parameters.threshold + kRainAboveThreshold;
  if (!temperature) return rain;
  const double t = temperature->InterpolateAtPoint(point_scratch.data(), x, y, z);
  return t < limits.temperature ? rain : t;
}

double precicorrclass::WindAt(double x, double y, double z) {
  if (!wind) return 0.0;
  const double u = wind->InterpolateAtPoint(point_scratch.data(), x, y, z);
  return u < limits.wind ? 0.0 : u;
}

void precicorrclass::CorrectStationValues() {
  if (parameters.do_it == 0 || grid_mode) return;
  const int method = precipitation->GetMethod();
  if (method != kRegressionMethod && method != kStationRegressionMethod) {
    double* values = precipitation->GetStationValues();
    const double* x = precipitation->GetStationX();
    const double* y = precipitation->GetStationY();
    const double* z = precipitation->GetStationAltitudes();
    for (int i = 1; i <= station_count; ++i) {
      station_temperature[static_cast<std::size_t>(i)] = TemperatureAt(x[i], y[i], z[i]);
      station_wind[static_cast<std::size_t>(i)] = WindAt(x[i], y[i], z[i]);
    }
    for (int i = 1; i <= station_count; ++i) {
      const double factor = CatchFactor(parameters, station_temperature[static_cast<std::size_t>(i)],
                                        station_wind[static_cast<std::size_t>(i)]);
      values[i] = CorrectedPrecipitation(values[i], factor, limits.precipitation);
    }
    // Equal raw values corrected by different factors are no longer equal.
    precipitation->StationValuesChanged();
  }
  if (UsesStationRegression(method)) RefitRegression();
}

void precicorrclass::RefitRegression() {
  altitude_segments segments;
  precipitation->GetRegression(kRegressionIndex, segments.h1, segments.h2, segments.a, segments.b);
  // The temperature and wind speed at an altitude, without location.
  const double no_location = nodata_value;
  auto factor = [&](double z) {
    return CatchFactor(parameters, TemperatureAt(no_location, no_location, z),
                       WindAt(no_location, no_location, z));
  };
  const altitude_segments refit =
      RefitSegments(segments, precipitation->Section().nodata, max_elevation, factor);
  precipitation->SetRegression(kRegressionIndex, refit.a, refit.b, refit.h2);
}

void precicorrclass::CorrectGrid() {
  if (parameters.do_it == 0) return;
  // "MPIRegions" is looked up until it exists; the cells follow it.
  if (!regions_found) {
    if (FindGrid(kMpiRegionsName, true) > 0) {
      mpi_regions_data = RequiredGridData(kMpiRegionsName);
      regions_found = true;
      runs_built = false;
    }
    if (!runs_built) {
      runs = ComputedCellRuns((*grids)[1].data, mpi_regions_data, nodata_value, row_ranges, first_row,
                              last_row, ncols);
      runs_built = true;
    }
  }
  for (const cell_run& run : runs) {
    const int r = run.row;
    const int c = run.first_col;
    CorrectCells(parameters, limits, precipitation_grid[r] + c,
                 temperature_grid ? temperature_grid[r] + c : nullptr, wind_grid ? wind_grid[r] + c : nullptr,
                 run.count);
  }
}

void precicorrclass::CleanUp() {
  std::vector<double>().swap(station_temperature);
  std::vector<double>().swap(station_wind);
  std::vector<double>().swap(point_scratch);
  runs.clear();
  modelobject::CleanUp();
}

}  // namespace velmo
