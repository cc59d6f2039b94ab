// The evapotranspiration model: construction (grids and statistics), links,
// the potential evapotranspiration step, flushing and clean-up.
#include "landsurface/etpetr.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/layer_names.h"
#include "setup/tables.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "etpetr";
constexpr const char* kModuleName = "evapotranspiration";
constexpr const char* kProgressText = "pot. evaptranspir.";
// Steps longer than this run the daily temperature cycle and read the night
// temperature of the radiation correction; shorter ones keep the mean
// relative sunshine of the last daylight period.
constexpr double kLongStepMinutes = 720.0;
// A part of the step shorter than this share is not computed.
constexpr double kMinimumPartFraction = 0.01;
// A step with more daylight than this share opens or continues a daylight period.
constexpr double kDaylightPeriodFraction = 0.05;
// Initial relative sunshine of "SSDTemp".
constexpr double kInitialMeanSunshine = 0.5;
constexpr double kNightCloudiness = 0.5;
// Hamon on open water: ponding above this depth (mm) marks a lake cell.
constexpr double kOpenWaterPonding = 5.0;
// Offset that makes the daylight sub-step count ceil(D) also for whole hours.
constexpr double kSubStepRounding = 0.001;
constexpr int kStatisticsPrecision = 5;
constexpr int kRadiationStatisticsPrecision = 2;
constexpr int kEndStepFlag = 1;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

const char* MethodLabel(int method) {
  switch (method) {
    case kPenmanMonteith:
      return "(Penman/Monteith)_";
    case kHamon:
      return "(HAMON)_";
    case kWendling:
      return "(WENDLING)_";
    case kHaude:
      return "(HAUDE)_";
    default:
      return "(unknown_method)_";
  }
}

// Stores `value` only where the cell holds another one: grids that keep the
// same value step after step (night radiation, the rates of later steps set
// back to 0) are then only read.
inline void Keep(double& cell, double value) {
  if (cell != value) cell = value;
}

// The record of a table addressed by a cell's position value, or null.
template <typename Record>
const Record* RecordAt(const Record* table, double value) {
  if (!table || !(value >= 1.0)) return nullptr;
  const double count = table[0].code;
  if (value > count) return nullptr;
  return &table[static_cast<int>(value)];
}

}  // namespace

verdunstungsmodellklasse::verdunstungsmodellklasse(MessageStream* stream, const model_settings& settings,
                                                   grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kModuleName, shared_grids) {
  if (flow_control_parameter == 0) return;
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  layer_count = VegetationLayerCount();
  mpi_regions_data = OptionalGridData("MPIRegions", false);

  ReadSection();
  LookUpGrids();
  RegisterGrids();
  cos_zenith.reserve(static_cast<std::size_t>(std::ceil(time_interval / kMinutesPerHour)) + 1);
  vegetation_terms.assign(static_cast<std::size_t>(layer_count) + 1, pm_vegetation_terms{});
  radiation_row.assign(static_cast<std::size_t>(ncols) + 1, cell_radiation{});
  rows_of_layer.assign(static_cast<std::size_t>(layer_count) + 1, layer_rows{});
}

verdunstungsmodellklasse::~verdunstungsmodellklasse() {
  // Not cleaned up: the grid table must not keep the grids freed here.
  for (std::vector<owned_grid>* list :
       {&potential_transpiration, &real_transpiration, &potential_interception})
    for (owned_grid& grid : *list) ReleaseOwnedGrid(*this, grid);
  for (owned_grid* grid : {&potential_evaporation, &real_evaporation, &snow_evaporation, &corrected_radiation,
                           &cloudiness, &mean_sunshine})
    ReleaseOwnedGrid(*this, *grid);
}

// ---------------------------------------------------------------- grids

double** verdunstungsmodellklasse::Optional(const std::string& grid_name, int bit) {
  const int index = FindGrid(grid_name, false);
  if (index <= 0) return nullptr;
  availability |= bit;
  return (*grids)[index].data;
}

pet_method_inputs PetMethodInputs(int method) {
  pet_method_inputs needs;
  needs.defined = true;
  switch (method) {
    case kPenmanMonteith:
      needs.radiation = needs.humidity = needs.albedo = needs.wind = needs.night = true;
      break;
    case kHamon:
      break;
    case kWendling:
      needs.radiation = needs.albedo = true;
      break;
    case kHaude:
      needs.humidity = needs.afternoon = true;
      break;
    default:
      return pet_method_inputs{};
  }
  return needs;
}

void verdunstungsmodellklasse::LookUpGrids() {
  const pet_method_inputs needs = PetMethodInputs(parameters.method);
  if (needs.defined) Optional("landuse0", kLayerZeroBit);
  if (needs.wind) {
    Optional("air_pressure", kAirPressureBit);
    Optional("wind_speed", kWindSpeedBit);
  }
  const char* const humidity_grid = needs.afternoon ? "air_humidity_14" : "air_humidity";
  const char* const vapour_pressure_grid = needs.afternoon ? "vapor_pressure_14" : "vapor_pressure";
  if (needs.humidity) {
    Optional(humidity_grid, kHumidityBit);
    Optional(vapour_pressure_grid, kVapourPressureBit);
  }
  if (needs.radiation) {
    if (Optional("net_radiation", kRadiationBit)) {
      net_radiation = true;
    } else {
      Optional("global_radiation", kRadiationBit);
    }
    Optional("sunshine_duration", kSunshineBit);
  }

  // A method that is not defined reads no radiation either, and ends here.
  if ((needs.radiation || !needs.defined) && !(availability & (kRadiationBit | kSunshineBit))) {
    *messages << "FATAL: --------------------------- ERROR ----------------------------------------\n"
              << "Evapotranspiration requires at least one of the following entities\n"
              << "erlative sunshine duration (SSD, in 1/1)  or global radiation  (RG, in Wh/m^2).\n"
              << "or net radiation (RN, in Wh/m^2) (either RG or RN!)\n"
              << "-------------------------------------------------------------------\n"
              << "[end-entry]";
    throw ErrorCode{kEtpInputGridCode};
  }
  if (needs.humidity && !(availability & (kHumidityBit | kVapourPressureBit))) {
    *messages << "FATAL: ---------------------------- ERROR ---------------------------------------\n"
              << "Evapotranspiration requires at least one of the following entities\n"
              << "vapor pressure (e, in mbar) or relative air humidity (RLF, in 1/1).\n"
              << "-------------------------------------------------------------------\n"
              << "[end-entry]";
    throw ErrorCode{kEtpInputGridCode};
  }

  if (needs.afternoon) {
    temperature = RequiredGridData("temperature_14");
  } else {
    temperature = (*grids)[FindOneOfThreeGrids("corr_temperature", "temperature", "temperature")].data;
  }
  availability |= kTemperatureBit;
  elevation = RequiredGridData("[elevation_model]");
  if (layer_count > 1) multilayer_landuse = RequiredGridData("landuse");
  const auto layers = static_cast<std::size_t>(layer_count) + 1;
  for (auto* list : {&landuse, &leaf_area_index, &root_depth, &coverage, &canopy_resistance,
                     &interception_resistance, &roughness_length})
    list->assign(layers, nullptr);
  for (int l = 1; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    landuse[i] = RequiredGridData(LayerGridName("landuse", l));
    leaf_area_index[i] = RequiredGridData(LayerGridName("leaf_area_index", l));
    root_depth[i] = RequiredGridData(LayerGridName("root_depth", l));
    coverage[i] = RequiredGridData(LayerGridName("vegetation_coverage_degree", l));
    canopy_resistance[i] = RequiredGridData(LayerGridName("SurfaceCanopyResistance", l));
    interception_resistance[i] = RequiredGridData(LayerGridName("SurfaceIntercepResistance", l));
    roughness_length[i] = RequiredGridData(LayerGridName("RoughnessLength", l));
  }
  if (needs.wind) {
    wind_speed = RequiredGridData("wind_speed");
    soil_resistance = RequiredGridData("SurfaceEvaporationResistance");
  }
  if (needs.albedo) albedo = RequiredGridData("albedo");
  night_temperature =
      needs.night && time_interval > kLongStepMinutes ? RequiredGridData("temperature_night") : temperature;

  if (availability & kRadiationBit)
    radiation = RequiredGridData(net_radiation ? "net_radiation" : "global_radiation");
  if (availability & kSunshineBit) sunshine = RequiredGridData("sunshine_duration");
  if (availability & kVapourPressureBit) vapour_pressure = RequiredGridData(vapour_pressure_grid);
  if (availability & kHumidityBit) humidity = RequiredGridData(humidity_grid);
  if (availability & kAirPressureBit) air_pressure = RequiredGridData("air_pressure");

  int glacier_index = FindGrid("GlacierizedCells", false);
  if (glacier_index <= 0) glacier_index = FindGrid("ice_firn", false);
  if (glacier_index > 0) glacier = (*grids)[glacier_index].data;
}

void verdunstungsmodellklasse::RegisterOwnGrid(owned_grid& grid, const std::string& grid_name,
                                               const std::string& file_name, int write_code,
                                               double inside_value, double** shared) {
  if (shared) {
    grid.shared = shared;
  } else {
    grid.data = owned_matrix(matrix(first_row, last_row, 1, ncols, nrows));
    for (int r = first_row; r <= last_row; ++r)
      for (int c = 1; c <= ncols; ++c) grid[r][c] = Computed(r, c) ? inside_value : nodata_value;
  }
  grid.index = grids->FirstFreeEntry();
  RegisterGrid(grid.index, file_name, grid.rows(), nullptr, 0, grid_name, write_code, first_row, last_row);
}

void verdunstungsmodellklasse::CreateStatistics(owned_grid& grid, const std::string& file_name, int code,
                                                int precision, const std::string& header,
                                                const std::string& title) {
  CreateOwnedGridStatistics(*this, grid, file_name, code, precision, header, title);
  if (grid.statistics) statistics_on = statistics_on || grid.statistics->IsOn();
}

void verdunstungsmodellklasse::RegisterGrids() {
  const etp_parameters& p = parameters;
  const auto layers = static_cast<std::size_t>(layer_count) + 1;
  potential_transpiration.resize(layers);
  real_transpiration.resize(layers);
  potential_interception.resize(layers);

  // Registration stops at entry 1000, naming the maximum.
  const auto reserve = [&](const char* text, const char* tail) {
    if (grids->FirstFreeEntry() < kGridTableLimit) return;
    *messages << text << kGridTableLimit << tail << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  };
  const auto layer_file = [](const std::string& file, int l) {
    return l == 0 ? file : LayerFileName(file, l);
  };

  for (int l = 0; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    reserve("FATAL: no free grid left", "");
    const std::string etp_name = LayerGridName("pot_transpiration", l);
    // Hamon, Wendling and Haude give their one layer and the total the same
    // rate, and what later steps take off the layer's the interception makes
    // the total's too: one matrix for both. Penman-Monteith's total adds the
    // soil's rate.
    double** const transpiration_total = l == 1 && layer_count == 1 && p.method != kPenmanMonteith
                                             ? potential_transpiration[0].rows()
                                             : nullptr;
    RegisterOwnGrid(potential_transpiration[i], etp_name, layer_file(p.potential_transpiration_grid.file, l),
                    p.potential_transpiration_grid.write_code, 0.0, transpiration_total);
    CreateStatistics(potential_transpiration[i], layer_file(p.potential_transpiration_statistics.file, l),
                     p.potential_transpiration_statistics.code, kStatisticsPrecision,
                     etp_name + MethodLabel(p.method), name);

    reserve("FATAL: no free grid left of ", "!\n");
    const std::string etr_name = LayerGridName("real_transpiration", l);
    RegisterOwnGrid(real_transpiration[i], etr_name, layer_file(p.real_transpiration_grid.file, l),
                    p.real_transpiration_grid.write_code, 0.0);
    CreateStatistics(real_transpiration[i], layer_file(p.real_transpiration_statistics.file, l),
                     p.real_transpiration_statistics.code, kStatisticsPrecision,
                     l == 0 ? "total_Evapotranspiration_as_sum_of_ETR1..n_EI1..n_EVAR_and_EVRS_" : etr_name,
                     name);

    reserve("FATAL: no free ghrid left of ", "!\n");
    const std::string eip_name = LayerGridName("potential_InterceptionEvap", l);
    // With one layer the total is the layer's own interception: one matrix for both.
    double** const shared = l == 1 && layer_count == 1 ? potential_interception[0].rows() : nullptr;
    RegisterOwnGrid(potential_interception[i], eip_name, layer_file(p.interception_grid.file, l),
                    p.interception_grid.write_code, 0.0, shared);
    CreateStatistics(potential_interception[i], layer_file(p.interception_statistics.file, l),
                     p.interception_statistics.code, kStatisticsPrecision, eip_name, name);
  }

  RegisterOwnGrid(potential_evaporation, "potential_evaporation", p.potential_evaporation_grid.file,
                  p.potential_evaporation_grid.write_code, 0.0);
  RegisterOwnGrid(real_evaporation, "real_evaporation", p.real_evaporation_grid.file,
                  p.real_evaporation_grid.write_code, 0.0);
  RegisterOwnGrid(snow_evaporation, "snow_evaporation", p.snow_evaporation_grid.file,
                  p.snow_evaporation_grid.write_code, 0.0);
  RegisterOwnGrid(corrected_radiation, "AspectCorrectedGlobalRadiation", "correctedradiation", 0, 0.0);
  RegisterOwnGrid(cloudiness, "cloudiness", "cloudiness", 0, 0.0);
  RegisterOwnGrid(mean_sunshine, "SSDTemp", "SSDTemp", 0, kInitialMeanSunshine);

  CreateStatistics(potential_evaporation, p.potential_evaporation_statistics.file,
                   p.potential_evaporation_statistics.code, kStatisticsPrecision, "potential_evaporation",
                   "");
  CreateStatistics(real_evaporation, p.real_evaporation_statistics.file, p.real_evaporation_statistics.code,
                   kStatisticsPrecision, "real_evaporation", "");
  CreateStatistics(snow_evaporation, p.snow_evaporation_statistics.file, p.snow_evaporation_statistics.code,
                   kStatisticsPrecision, "snow_evaporation", "");
  CreateStatistics(corrected_radiation, p.radiation_statistics.file, p.radiation_statistics.code,
                   kRadiationStatisticsPrecision, "Global_Radiation_corrected_by_Exposition_", name);
  CreateStatistics(cloudiness, p.cloudiness_statistics.file, p.cloudiness_statistics.code,
                   kRadiationStatisticsPrecision, "cloudiness", name);
}

int verdunstungsmodellklasse::FirstColumn(int row) const {
  return row_ranges ? std::max(row_ranges[row].first, 1) : 1;
}
int verdunstungsmodellklasse::LastColumn(int row) const {
  return row_ranges ? std::min(row_ranges[row].last, ncols) : ncols;
}

// ---------------------------------------------------------------- links

int verdunstungsmodellklasse::QuadraticRoots(double p, double q, double& x1, double& x2) {
  return velmo::QuadraticRoots(p, q, x1, x2);
}

double verdunstungsmodellklasse::SaturationVapourPressure(double t) {
  return SaturationVapourPressureTetens(t);
}

void verdunstungsmodellklasse::LinkSoilGrids() {
  if (flow_control_parameter == 0) return;
  soil_storage = RequiredGridData("soil_storage");
  available_soil_moisture = RequiredGridData("available_soil_moisture");
}

void verdunstungsmodellklasse::SetSnowStorageGrid(double** grid) {
  if (flow_control_parameter != 0) snow_storage = grid;
}

void verdunstungsmodellklasse::SetRadiationCorrectionGrid(double** grid) {
  if (flow_control_parameter != 0) correction = grid;
}

void verdunstungsmodellklasse::SetSnowMethod(int method) { snow_method = method; }

// ---------------------------------------------------------------- step

void verdunstungsmodellklasse::PotentialEvapotranspiration(int minute, int hour, int day, int month,
                                                           int year) {
  if (flow_control_parameter == 0) return;
  if (!BeginStep(minute, hour, day, month, year)) return;
  potential_step_ran = true;
  switch (parameters.method) {
    case kPenmanMonteith:
      ComputeCells<kPenmanMonteith>();
      break;
    case kHamon:
      ComputeCells<kHamon>();
      break;
    case kWendling:
      ComputeCells<kWendling>();
      break;
    case kHaude:
      ComputeCells<kHaude>();
      break;
    default:
      break;
  }
  EndStep();
}

bool verdunstungsmodellklasse::BeginStep(int minute, int hour, int day, int month, int year) {
  ReportProgress(minute, hour, day, month, year, kProgressText);
  if (month < 1 || month > 12 || day < 1) {
    // A pass without meteorological input has no date to place the sun.
    if (!date_warning_given)
      *messages << "WARNING: " << name << " has no calendar date for the step (" << day << "." << month << "."
                << year << "); no evapotranspiration is computed"
                << "[end-entry]";
    date_warning_given = true;
    return false;
  }
  for (std::size_t l = 0; l < potential_transpiration.size(); ++l) {
    for (owned_grid* grid : {&potential_transpiration[l], &potential_interception[l]})
      if (grid->statistics) grid->statistics->StartStep();
  }
  for (owned_grid* grid : {&potential_evaporation, &corrected_radiation, &cloudiness})
    if (grid->statistics) grid->statistics->StartStep();

  DaylightFraction();
  // The seasonal terms of a step that ends at 00:00 are those of the day it ends.
  const model_date step = EndOfDayForm(current_date, interval_end_shift);
  day = step.day;
  month = step.month;
  const int method = parameters.method;
  night = is_night != 0 || method == kHamon || method == kHaude;
  daylight_steps = 0;
  if (!night && !(radiation && sunshine)) SetUpSubSteps();
  log_transmissivity = std::log(
      Transmissivity(parameters.transmissivity_mean, parameters.transmissivity_amplitude, day, month));
  clear_sky_substeps.resize(cos_zenith.size());
  clear_sky_steps = ClearSkySubsteps(cos_zenith.data(), daylight_steps, daylight_step_hours,
                                     log_transmissivity, clear_sky_substeps.data());
  if (time_interval < kLongStepMinutes) UpdateMeanSunshine();
  if (method == kPenmanMonteith && time_interval > kLongStepMinutes) {
    amplitude = MonthlyAmplitude(parameters.amplitudes, day, month, month_lengths);
    variability = parameters.amplitude_variability *
                  std::cos(kTwoPi * DayOfYear(day, month, month_lengths) / kDaysPerYear);
  }
  unrough_cells = 0;
  return true;
}

void verdunstungsmodellklasse::SetUpSubSteps() {
  const double step_hours = time_interval / kMinutesPerHour;
  const double daylight_hours = day_fraction * step_hours;
  daylight_steps = std::max(1, static_cast<int>(std::ceil(daylight_hours - kSubStepRounding)));
  daylight_step_hours = daylight_hours / daylight_steps;
  cos_zenith.resize(static_cast<std::size_t>(daylight_steps));
  // A step that ends at 00:00 lies in the day it ends.
  const model_date step = EndOfDayForm(current_date, interval_end_shift);
  const double start = step.hour + time_shift + interval_end_shift - step_hours + night_before_sunrise;
  for (int i = 0; i < daylight_steps; ++i) {
    double azimuth = 0.0;
    double elevation_angle = 0.0;
    SunPosition(step.day, step.month, latitude, longitude, start + (i + 0.5) * daylight_step_hours, azimuth,
                elevation_angle);
    cos_zenith[static_cast<std::size_t>(i)] = std::cos(pi * 0.5 - elevation_angle);
  }
}

void verdunstungsmodellklasse::UpdateMeanSunshine() {
  const auto for_computed = [&](auto action) {
    for (int r = first_row; r <= last_row; ++r)
      for (int c = FirstColumn(r); c <= LastColumn(r); ++c)
        if (Computed(r, c)) action(mean_sunshine[r][c]);
  };
  if (day_fraction > kDaylightPeriodFraction) {
    if (!daylight_started) {
      for_computed([](double& s) { s = 0.0; });
      sunshine_steps = 1;
      daylight_started = true;
    } else {
      ++sunshine_steps;
    }
  } else if (daylight_started) {
    const double steps = sunshine_steps;
    if (steps < 1.0) {
      for_computed([](double& s) { s = kInitialMeanSunshine; });
    } else {
      for_computed([steps](double& s) { s /= steps; });
    }
    daylight_started = false;
  }
}

template <int Method>
void verdunstungsmodellklasse::ComputeCells() {
  // Row by row, each stage over the whole row before the next: the cells of
  // a stage do not wait for one another.
  for (int r = first_row; r <= last_row; ++r) {
    RadiationRow<Method>(r);
    if constexpr (Method == kPenmanMonteith) {
      // One layer, the common case, lets the compiler fold the layer loops.
      layer_count == 1 ? PenmanMonteithRow<1>(r) : PenmanMonteithRow<0>(r);
    } else {
      SingleLayerRow<Method>(r);
    }
    if (statistics_on) StatisticsRow(r, Method == kPenmanMonteith ? layer_count : 0);
  }
}

// Steps 1 and 2 of a row: radiation, relative sunshine and cloudiness of
// every computed cell (into the row's scratch), the soil and snow rates set
// to 0, and nodata in the potential grids of the other cells.
template <int Method>
void verdunstungsmodellklasse::RadiationRow(int r) {
  const etp_parameters& p = parameters;
  const double dt = time_interval;
  const double radiation_cap = kMaximumGlobalRadiation * (dt / kMinutesPerHour) * day_fraction;
  const bool clear_sky = !night && !(radiation && sunshine) && daylight_steps > 0 &&
                         cos_zenith[static_cast<std::size_t>(daylight_steps / 2)] > kLowSunCosine;
  const bool keeps_mean_sunshine = dt < kLongStepMinutes;
  const std::array<double, 4> a = p.radiation_coefficients;
  const std::array<double, 4> cs = p.sunshine_coefficients;
  const double r0 = p.sunshine_threshold;
  const int first = FirstColumn(r);
  const int last = LastColumn(r);
  FillLayerRows(r);

  // Rows of the grids, fetched once: the calls below could otherwise make
  // the compiler fetch them again for every cell.
  const double* const zone_row = zone_grid[r];
  const double* const region_row = mpi_regions_data ? mpi_regions_data[r] : nullptr;
  const double* const temperature_row = temperature[r];
  const double* const elevation_row = elevation[r];
  const double* const pressure_row = air_pressure ? air_pressure[r] : nullptr;
  double* const radiation_grid_row = radiation ? radiation[r] : nullptr;
  const double* const sunshine_row = sunshine ? sunshine[r] : nullptr;
  const double* const correction_row = correction ? correction[r] : nullptr;
  const double* const albedo_row = albedo ? albedo[r] : nullptr;
  const double* const lake_row = lake_codes ? lake_codes[r] : nullptr;
  const double* const pond_row = ponding ? ponding[r] : nullptr;
  double* const mean_sunshine_row = mean_sunshine[r];
  double* const global_row = corrected_radiation[r];
  double* const cloudiness_row = cloudiness[r];
  double* const soil_row = potential_evaporation[r];
  // The real rates are the real step's; the snow evaporation is 0 unless
  // the snow evaporation step writes it.
  double* const snow_row = SnowEvaporationStepWrites() ? nullptr : snow_evaporation[r];
  const double nodata = nodata_value;
  const double region = process_index;
  const double lake_albedo = lake.albedo;
  const clear_sky_substep* const substeps = clear_sky_substeps.data();
  const int steps = clear_sky_steps;

  for (int c = first; c <= last; ++c) {
    cell_radiation& cell = radiation_row[static_cast<std::size_t>(c)];
    cell.computed = zone_row[c] != nodata && (!region_row || region_row[c] == region);
    if (!cell.computed) {
      for (const layer_rows& rows : rows_of_layer) {
        rows.transpiration[c] = nodata;
        rows.interception[c] = nodata;
      }
      soil_row[c] = nodata;
      continue;
    }
    const double t = temperature_row[c];
    // A lake cell: lake code above 0 and water ponded on it.
    cell.lake = lake_row && pond_row && lake_row[c] > 0.0 && pond_row[c] > 0.0;
    cell.albedo = cell.lake ? lake_albedo : albedo_row ? albedo_row[c] : 0.0;
    cell.ratio = 0.0;
    cell.sunshine = 0.0;
    cell.global = 0.0;
    cell.absorbed = 0.0;
    cell.cloudiness = kNightCloudiness;
    // The air pressure at the cell's temperature, when it is needed here,
    // serves Penman-Monteith too (0: not known).
    cell.pressure = 0.0;
    if (!night) {
      double clear = 0.0;
      if (clear_sky) {
        double relative_pressure = 0.0;
        if (pressure_row) {
          cell.pressure = pressure_row[c];
          relative_pressure = cell.pressure / kReferencePressure;
        } else {
          relative_pressure = RelativeAirPressureBarometric(elevation_row[c], t);
          cell.pressure = kReferencePressure * relative_pressure;
        }
        clear = ClearSkyRadiation(substeps, steps, relative_pressure);
      }
      if (!sunshine_row) {
        if (clear > 0.0) {
          cell.ratio = std::clamp(radiation_grid_row[c] / clear, 0.0, 1.0);
          cell.sunshine = RelativeSunshine(cell.ratio, cs, r0);
        }
      } else {
        cell.sunshine = sunshine_row[c];
        cell.ratio = Cubic(a, cell.sunshine);
      }
      double global = 0.0;
      if (!radiation_grid_row) {
        global = correction_row ? (correction_row[c] * (Cubic(a, cell.sunshine) - a[0]) + a[0]) * clear
                                : cell.ratio * clear;
      } else if (correction_row) {
        global = ((1.0 - a[0]) * cell.sunshine * (correction_row[c] - 1.0) + 1.0) * radiation_grid_row[c];
        radiation_grid_row[c] = global;
      } else {
        global = radiation_grid_row[c];
      }
      if (keeps_mean_sunshine) mean_sunshine_row[c] += cell.sunshine;
      cell.global = std::min(global, radiation_cap);
      cell.absorbed = (1.0 - cell.albedo) * cell.global;
      cell.cloudiness = Cloudiness(cell.ratio);
    } else if constexpr (Method == kPenmanMonteith) {
      // Only Penman-Monteith uses the sunshine of a night step.
      cell.sunshine = mean_sunshine_row[c];
    }
    Keep(global_row[c], cell.global);
    Keep(cloudiness_row[c], cell.cloudiness);
    soil_row[c] = 0.0;
    if (snow_row) Keep(snow_row[c], 0.0);
  }
}

// Steps 4 to 7 of a row for Hamon, Wendling and Haude: one value per cell
// for the single layer.
template <int Method>
void verdunstungsmodellklasse::SingleLayerRow(int r) {
  const etp_parameters& p = parameters;
  const double dt = time_interval;
  const double fd = day_fraction;
  const model_date step = EndOfDayForm(current_date, interval_end_shift);
  const int month = step.month;
  const double hamon_factor =
      Method == kHamon ? MidMonthValue(p.hamon_factors, step.day, month, month_lengths) : 0.0;
  const double haude_factor = p.haude_factors[static_cast<std::size_t>(month)];
  const double open_water_factor = p.hamon_open_water_factor;
  const double coast_factor = p.coast_factor;
  const bool lake_model = lake.flow_control != 0 && lake_codes && ponding;
  const double* const temperature_row = temperature[r];
  const double* const landuse_row = landuse[1][r];
  const double* const coverage_row = coverage[1][r];
  const double* const humidity_row = humidity ? humidity[r] : nullptr;
  const double* const vapour_row = vapour_pressure ? vapour_pressure[r] : nullptr;
  const double* const lake_row = lake_model ? lake_codes[r] : nullptr;
  const double* const pond_row = lake_model ? ponding[r] : nullptr;
  double* const soil_row = potential_evaporation[r];
  const layer_rows rows[2] = {rows_of_layer[0], rows_of_layer[1]};
  // Where the layer shows the total's matrix (RegisterGrids), one store serves both.
  const bool transpiration_shared = rows[0].transpiration == rows[1].transpiration;
  const bool interception_shared = rows[0].interception == rows[1].interception;
  const double nodata = nodata_value;
  const landuse_table_entry* const table = landuse_table;

  for (int c = FirstColumn(r); c <= LastColumn(r); ++c) {
    const cell_radiation& cell = radiation_row[static_cast<std::size_t>(c)];
    if (!cell.computed) continue;
    const double t = temperature_row[c];
    double e = 0.0;
    if constexpr (Method == kHamon) {
      e = HamonPotentialEvapotranspiration(t, fd, hamon_factor, dt);
      const landuse_table_entry* record = RecordAt(table, landuse_row[c]);
      double land_factor = record ? record->ETPHamonFactor : 1.0;
      if (land_factor == 1.0 && lake_row && pond_row[c] > kOpenWaterPonding && lake_row[c] != nodata)
        land_factor = open_water_factor;
      e *= land_factor;
    } else if constexpr (Method == kWendling) {
      e = WendlingPotentialEvapotranspiration(cell.global, cell.albedo, coast_factor, t, dt);
    } else {
      const double relative_humidity =
          humidity_row ? humidity_row[c]
                       : std::clamp(vapour_row[c] / SaturationVapourPressureHaude(t), 0.0, 1.0);
      e = HaudePotentialEvapotranspiration(t, relative_humidity, haude_factor, dt);
    }
    // Evaporation is never negative, also not from the soil.
    e = std::max(0.0, e);
    soil_row[c] = (1.0 - coverage_row[c]) * e;
    rows[1].transpiration[c] = e;
    rows[1].interception[c] = e;
    if (!transpiration_shared) rows[0].transpiration[c] = e;
    if (!interception_shared) rows[0].interception[c] = e;
  }
}

// Step 3 of a row: the temperature cycle of long steps and the terms of the
// day and night parts of every cell, then the layers of every cell.
template <int Layers>
void verdunstungsmodellklasse::PenmanMonteithRow(int r) {
  const etp_parameters& p = parameters;
  const double dt = time_interval;
  const int L = Layers > 0 ? Layers : layer_count;
  const int first = FirstColumn(r);
  const int last = LastColumn(r);
  const bool day_part = day_fraction >= kMinimumPartFraction;
  const bool night_part = night_fraction >= kMinimumPartFraction;
  const double fd = day_fraction;
  const double fn = night_fraction;
  const bool long_step = dt > kLongStepMinutes;
  const double nodata = nodata_value;
  const double* const elevation_row = elevation[r];
  double* const temperature_row = temperature[r];
  double* const night_temperature_row = night_temperature[r];
  const double* const pressure_row = air_pressure ? air_pressure[r] : nullptr;
  const double* const vapour_row = vapour_pressure ? vapour_pressure[r] : nullptr;
  const double* const humidity_row = humidity ? humidity[r] : nullptr;
  const double* const radiation_grid_row = net_radiation ? radiation[r] : nullptr;
  const double* const wind_row = wind_speed[r];
  const double* const soil_resistance_row = soil_resistance[r];
  const double* const multilayer_row = L > 1 ? multilayer_landuse[r] : nullptr;
  double* const soil_row = potential_evaporation[r];
  const layer_rows* const layers = rows_of_layer.data();
  // Where the layer shows the total's matrix (RegisterGrids), one store serves both.
  const bool interception_shared = layers[0].interception == layers[1].interception;
  pm_part_input part;
  part.step_minutes = dt;
  part.net_radiation_given = net_radiation;
  part.diffuse_fraction = p.radiation_coefficients[0];

  for (int c = first; c <= last; ++c) {
    cell_radiation& cell = radiation_row[static_cast<std::size_t>(c)];
    if (!cell.computed) continue;
    const double z = elevation_row[c];
    // Daily temperature cycle of long steps, in the shared grids.
    if (long_step) {
      const temperature_cycle cycle = DailyTemperatureCycle(z, p.amplitude_scale_height, amplitude,
                                                            cell.ratio, p.amplitude_day_share, variability);
      temperature_row[c] += cycle.day_rise;
      night_temperature_row[c] -= cycle.night_drop;
    }
    // The uppermost and lowest layers present in the cell.
    cell.top_layer = 0;
    cell.lowest_layer = 0;
    for (int l = 1; l <= L; ++l) {
      if (layers[l].landuse[c] == nodata) continue;
      if (cell.top_layer == 0) cell.top_layer = l;
      if (l == 1 || layers[l].leaf_area_index[c] != nodata) cell.lowest_layer = l;
    }
    if (cell.top_layer == 0) continue;

    // The pressure found for the radiation holds for the day part while the
    // temperature is unchanged (steps of 720 minutes or less).
    const bool pressure_known = cell.pressure > 0.0 && !long_step;
    part.net_radiation = radiation_grid_row ? radiation_grid_row[c] : 0.0;
    part.absorbed_shortwave = cell.absorbed;
    part.relative_sunshine = cell.sunshine;
    struct part_air {
      double temperature;
      double pressure;
      double saturation_vapour_pressure;
      pm_air_terms terms;
    };
    const auto air_at = [&](bool daylight, double t) {
      part_air air;
      air.temperature = t;
      if (pressure_row) {
        air.pressure = pressure_row[c];
      } else {
        air.pressure = daylight && pressure_known ? cell.pressure : AirPressureBarometric(z, t);
      }
      air.saturation_vapour_pressure = SaturationVapourPressureTetens(t);
      air.terms = PenmanMonteithAir(t, air.pressure);
      return air;
    };
    const auto part_terms = [&](bool daylight, double fraction, const part_air& air) {
      part.daylight = daylight;
      part.fraction = fraction;
      part.temperature = air.temperature;
      part.pressure = air.pressure;
      part.saturation_vapour_pressure = air.saturation_vapour_pressure;
      part.vapour_pressure = vapour_row ? vapour_row[c] : humidity_row[c] * air.saturation_vapour_pressure;
      return PenmanMonteithPart(part, air.terms);
    };
    const double day_temperature = temperature_row[c];
    const double night_temperature = night_temperature_row[c];
    if (day_part) {
      const part_air day_air = air_at(true, day_temperature);
      cell.day_terms = part_terms(true, fd, day_air);
      // A night part at the day's temperature (every step but long ones) has
      // the day's pressure too, and so its air terms and exponentials.
      if (night_part)
        cell.night_terms = part_terms(
            false, fn, night_temperature == day_temperature ? day_air : air_at(false, night_temperature));
    } else if (night_part) {
      cell.night_terms = part_terms(false, fn, air_at(false, night_temperature));
    }
  }

  double extinction = kDefaultExtinction;
  double leaf_area_scale = kDefaultLeafAreaScale;
  pm_vegetation_terms* const vegetation_of_layer = vegetation_terms.data();
  const double lake_roughness = lake.roughness_length;
  long long unrough = 0;
  for (int c = first; c <= last; ++c) {
    const cell_radiation& cell = radiation_row[static_cast<std::size_t>(c)];
    if (!cell.computed) continue;
    if (multilayer_row) {
      const multilayer_landuse_entry* record = RecordAt(multilayer_table, multilayer_row[c]);
      extinction = record ? record->k_extinct : kDefaultExtinction;
      leaf_area_scale = record ? record->LAI_scale : kDefaultLeafAreaScale;
    }
    pm_layer_state day_state;
    pm_layer_state night_state;
    double leaf_area_above = 0.0;
    double soil = 0.0;
    double total_transpiration = 0.0;
    double total_interception = 0.0;
    for (int l = 1; l <= L; ++l) {
      const layer_rows& rows = layers[l];
      if (rows.landuse[c] == nodata) {
        rows.transpiration[c] = 0.0;
        rows.interception[c] = 0.0;
        continue;
      }
      pm_layer_input layer;
      layer.top = l == cell.top_layer;
      layer.lowest = l == cell.lowest_layer;
      layer.lake = layer.lowest && cell.lake;
      layer.coverage = rows.coverage[c];
      layer.leaf_area_index = rows.leaf_area_index[c];
      layer.canopy_resistance = rows.canopy_resistance[c];
      layer.interception_resistance = rows.interception_resistance[c];
      layer.roughness_length = rows.roughness_length[c];
      layer.soil_resistance = layer.lowest ? soil_resistance_row[c] : 0.0;
      if (layer.lake) {
        layer.coverage = 0.0;
        layer.leaf_area_index = 0.0;
        layer.canopy_resistance = 0.0;
        layer.roughness_length = lake_roughness;
      }
      if (layer.top && !(layer.roughness_length > 0.0)) {
        layer.roughness_length = kMinimumRoughnessLength;
        ++unrough;
      }
      layer.wind_speed = wind_row[c];
      layer.extinction = extinction;
      layer.leaf_area_scale = leaf_area_scale;
      layer.leaf_area_above = leaf_area_above;

      pm_vegetation_terms& vegetation = vegetation_of_layer[l];
      UpdateVegetationTerms(layer, vegetation);
      pm_layer_result day;
      pm_layer_result night_result;
      if (night_part)
        night_result = PenmanMonteithLayer(cell.night_terms, layer, vegetation, false, night_state);
      if (day_part) day = PenmanMonteithLayer(cell.day_terms, layer, vegetation, true, day_state);
      const double transpiration = std::max(0.0, day.transpiration + night_result.transpiration);
      const double interception = std::max(0.0, day.interception + night_result.interception);
      rows.transpiration[c] = transpiration;
      rows.interception[c] = interception;
      soil += day.soil + night_result.soil;
      total_transpiration += transpiration;
      total_interception += interception;
      if (layer.leaf_area_index > 0.0) leaf_area_above += layer.leaf_area_index;
    }
    soil = std::max(0.0, soil);
    soil_row[c] = soil;
    layers[0].transpiration[c] = total_transpiration + soil;
    if (!interception_shared) layers[0].interception[c] = total_interception;
  }
  unrough_cells += unrough;
}

// The rows of the per-layer grids for row `r`; layer 0 holds the output
// grids of the totals only.
void verdunstungsmodellklasse::FillLayerRows(int r) {
  for (int l = 0; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    layer_rows& rows = rows_of_layer[i];
    rows.transpiration = potential_transpiration[i][r];
    rows.interception = potential_interception[i][r];
    rows.real = real_transpiration[i][r];
    if (l == 0) continue;
    rows.landuse = landuse[i][r];
    rows.leaf_area_index = leaf_area_index[i][r];
    rows.coverage = coverage[i][r];
    rows.canopy_resistance = canopy_resistance[i][r];
    rows.interception_resistance = interception_resistance[i][r];
    rows.roughness_length = roughness_length[i][r];
  }
}

// Step 8 of a row: the layer-0 totals (and with `layers` the layers 1..L),
// the potential soil evaporation, the corrected radiation and the cloudiness.
void verdunstungsmodellklasse::StatisticsRow(int r, int layers) {
  // The tables that are written, with the rows they take.
  fed_tables.clear();
  const auto feed = [&](const owned_grid& grid) {
    if (grid.statistics && grid.statistics->IsOn()) fed_tables.push_back({grid.statistics.get(), grid[r]});
  };
  for (int l = layers; l >= 0; --l) {
    feed(potential_transpiration[static_cast<std::size_t>(l)]);
    feed(potential_interception[static_cast<std::size_t>(l)]);
  }
  for (const owned_grid* grid : {&potential_evaporation, &corrected_radiation, &cloudiness}) feed(*grid);
  const int* const zones = ZoneIndexRow(r);
  const cell_radiation* const cells = radiation_row.data();
  AddRowToTables(fed_tables, r, FirstColumn(r), LastColumn(r),
                 [cells, zones](int c) { return cells[c].computed ? zones[c] : -1; });
}

void verdunstungsmodellklasse::EndStep() {
  const model_date& d = current_date;
  const auto end = [&](owned_grid& grid, bool write) {
    if (grid.statistics) grid.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
    if (write) WriteGridOutput(grid.index, 1, false);
  };
  for (std::size_t l = 0; l < potential_transpiration.size(); ++l) {
    end(potential_transpiration[l], true);
    end(potential_interception[l], true);
  }
  end(potential_evaporation, true);
  end(corrected_radiation, false);
  end(cloudiness, false);

  if (unrough_cells > 0 && !roughness_warning_given) {
    *messages << "WARNING: " << unrough_cells << " cells of " << name
              << " have a RoughnessLength1 of 0 m or less on " << d.day << "." << d.month << "." << d.year
              << " " << d.hour << " h; it is taken as " << kMinimumRoughnessLength
              << " m there and in later steps without further warning"
              << "[end-entry]";
    roughness_warning_given = true;
  }
}

// ---------------------------------------------------------------- end of run

void verdunstungsmodellklasse::FlushBuffers() {
  if (flow_control_parameter == 0) return;
  const auto flush = [](owned_grid& grid) {
    if (grid.statistics) grid.statistics->FlushRows();
  };
  for (std::size_t l = 0; l < potential_transpiration.size(); ++l) {
    flush(potential_transpiration[l]);
    flush(potential_interception[l]);
    flush(real_transpiration[l]);
  }
  for (owned_grid* grid :
       {&corrected_radiation, &cloudiness, &real_evaporation, &potential_evaporation, &snow_evaporation})
    flush(*grid);
}

void verdunstungsmodellklasse::CleanUp() {
  if (cleaned_up) return;
  int failure = 0;
  const auto release = [&](owned_grid& grid) { CleanUpOwnedGrid(*this, grid, failure); };
  if (flow_control_parameter > 0) {
    for (std::vector<owned_grid>* list :
         {&potential_transpiration, &real_transpiration, &potential_interception}) {
      for (owned_grid& grid : *list) release(grid);
      list->clear();
    }
    for (owned_grid* grid : {&potential_evaporation, &real_evaporation, &snow_evaporation,
                             &corrected_radiation, &cloudiness, &mean_sunshine})
      release(*grid);
  }
  modelobject::CleanUp();
  if (failure != 0) throw ErrorCode{failure};
}

}  // namespace velmo
