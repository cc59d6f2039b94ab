// The radiation correction module: section, grids and the per-step factor
// with sub-steps, shadows and the corrected temperature.
#include "landsurface/expokorr.h"

#include <algorithm>
#include <cmath>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "expokorr";
constexpr const char* kModuleName = "radiation_correction";
// Steps longer than this keep a night temperature of their own.
constexpr double kLongStepMinutes = 720.0;
constexpr int kDefaultMethod = 2;

constexpr const char* kNightTemperatureName = "temperature_night";
constexpr const char* kNightTemperatureFile = "$$temperature_night$$";
constexpr const char* kSlopedRadiationName = "Ieff_max";

}  // namespace

radiation_correction_method RadiationCorrectionMethod(int method) {
  switch (method) {
    case 1:
      return {1, true, false};
    case 3:
      return {3, false, false};
    case 4:
      return {4, false, true};
    default:
      return {kDefaultMethod, true, true};
  }
}

expokorrklasse::expokorrklasse(MessageStream* stream, const model_settings& settings,
                               grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kModuleName, shared_grids) {
  mpi_regions_data = OptionalGridData("MPIRegions", false);

  if (flow_control_parameter != 0) {
    *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__
              << "[end-entry]";
    ReadSection();
    LookUpGrids();
  }
  // The temperature is looked up, and a long step's night temperature made,
  // also when the module is off: the other modules read it.
  int found = FindGrid("temperature", false);
  if (found <= 0) found = FindGrid("temperature_14", false);
  if (found > 0) temperature = (*grids)[found].data;
  RegisterGrids();
}

expokorrklasse::~expokorrklasse() = default;

void expokorrklasse::ReadSection() {
  section_reader in(*this, kReadingOn);
  parameters.method = in.Integer("methode of correction for ");
  parameters.temperature_grid = in.Grid("name of the TKORR-Grid for", "Writegrid EXKORR for ");
  parameters.temperature_scaling = in.Number("scaling factor for Tkorr for ");
  parameters.correction_grid = in.Grid("name of the EXKORR-Grids for", "Writegrid EXKORR for ");
  parameters.shadow_grid = in.Grid("name of the SHAPE-Grid for", "Writegrid SHAPE for ");
  parameters.recompute_interval = in.Integer("number if timesteps for ");
  parameters.sub_steps = in.Integer("number of splittings for ");

  // Counts below 1 would never compute or divide by zero.
  const auto at_least_one = [&](int& value, const char* prompt) {
    if (value >= 1) return;
    *messages << "WARNING: " << prompt << section_buffer << " is " << value << ", taken as 1"
              << "[end-entry]";
    value = 1;
  };
  at_least_one(parameters.recompute_interval, "number if timesteps for ");
  at_least_one(parameters.sub_steps, "number of splittings for ");

  features = RadiationCorrectionMethod(parameters.method);
  parameters.method = features.method;

  in.Close("FATAL: error closing control file " + control_file_name);
  countdown = parameters.recompute_interval;  // the first call computes
}

void expokorrklasse::LookUpGrids() {
  elevation = RequiredGridData("[elevation_model]");
  slope_aspect = RequiredGridData("slope_aspect");
  slope_angle = RequiredGridData("slope_angle");
  const int sunshine_index = FindGrid("sunshine_duration", false);
  if (sunshine_index > 0) sunshine = (*grids)[sunshine_index].data;
}

int expokorrklasse::RegisterOwnGrid(owned_matrix& grid, const std::string& file_name,
                                    const std::string& grid_name, int write_code, int row_lo, int row_hi) {
  const int index = grids->FirstFreeEntry();
  if (index >= kGridTableLimit) {
    *messages << "FATAL: no free grid left" << kGridTableLimit << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  grid = owned_matrix(matrix(row_lo, row_hi, 1, ncols, nrows));
  for (int r = row_lo; r <= row_hi; ++r)
    for (int c = 1; c <= ncols; ++c) grid[r][c] = zone_grid[r][c] == nodata_value ? nodata_value : 0.0;
  RegisterGrid(index, file_name, grid.get(), nullptr, 0, grid_name, write_code, row_lo, row_hi);
  return index;
}

void expokorrklasse::RegisterGrids() {
  if (flow_control_parameter != 0) {
    correction_index = RegisterOwnGrid(correction, parameters.correction_grid.file, kModuleName,
                                       parameters.correction_grid.write_code, first_row, last_row);
    // Shadows are cast over the whole domain.
    shadow_first_row = features.casts_shadows && process_index == 0 ? 1 : first_row;
    shadow_last_row = features.casts_shadows && process_index == 0 ? nrows : last_row;
    shadow_index = RegisterOwnGrid(shadow, parameters.shadow_grid.file, "Shadow",
                                   parameters.shadow_grid.write_code, shadow_first_row, shadow_last_row);
    sloped_radiation_index =
        RegisterOwnGrid(sloped_radiation, kSlopedRadiationName, kSlopedRadiationName, 0, first_row, last_row);
    if (features.corrects_temperature && temperature)
      temperature_index =
          RegisterOwnGrid(corrected_temperature, parameters.temperature_grid.file, "corr_temperature",
                          parameters.temperature_grid.write_code, first_row, last_row);
  }
  if (time_interval > kLongStepMinutes && temperature)
    night_temperature_index = RegisterOwnGrid(night_temperature, kNightTemperatureFile, kNightTemperatureName,
                                              0, first_row, last_row);
}

int expokorrklasse::FirstColumn(int row) const { return row_ranges ? std::max(row_ranges[row].first, 1) : 1; }
int expokorrklasse::LastColumn(int row) const {
  return row_ranges ? std::min(row_ranges[row].last, ncols) : ncols;
}

double** expokorrklasse::GetCorrectionGrid() {
  return flow_control_parameter == 1 ? correction.get() : nullptr;
}

void expokorrklasse::CopyNightTemperature() {
  for (int r = first_row; r <= last_row; ++r) {
    const double* t = temperature[r];
    double* night = night_temperature[r];
    for (int c = FirstColumn(r); c <= LastColumn(r); ++c)
      if (InRegion(r, c)) night[c] = t[c];
  }
}

// Cells outside the catchment or the region get no slope at all (all three
// terms 0): their incidence is 0, so the sub-steps add nothing to them and
// the cell loop needs no test of its own.
void expokorrklasse::PrepareSlopeTerms() {
  const int stride = ncols + 1;
  slopes.assign(static_cast<std::size_t>(nrows + 1) * static_cast<std::size_t>(stride),
                slope_terms{0.0, 0.0, 0.0});
  for (int r = first_row; r <= last_row; ++r)
    for (int c = FirstColumn(r); c <= LastColumn(r); ++c)
      if (InRegion(r, c))
        slopes[static_cast<std::size_t>(r) * stride + c] = SlopeTerms(slope_angle[r][c], slope_aspect[r][c]);
}

void expokorrklasse::ClearShadows() {
  for (int r = shadow_first_row; r <= shadow_last_row; ++r) {
    const double* zone = zone_grid[r];
    double* shade = shadow[r];
    for (int c = FirstColumn(r); c <= LastColumn(r); ++c)
      if (zone[c] != nodata_value) shade[c] = 0.0;
  }
}

void expokorrklasse::RunTimeStep(int minute, int hour, int day, int month, int year) {
  if (night_temperature) CopyNightTemperature();
  if (flow_control_parameter == 0) return;
  if (countdown < parameters.recompute_interval) {
    ++countdown;
    return;
  }
  countdown = 1;

  ReportProgress(minute, hour, day, month, year);
  if (month < 1 || month > 12 || day < 1) {
    // A pass without meteorological input has no date to place the sun.
    if (!date_warning_given)
      *messages << "WARNING: " << name << " has no calendar date for the step (" << day << "." << month << "."
                << year << "); the factor is not computed"
                << "[end-entry]";
    date_warning_given = true;
    return;
  }
  if (slopes.empty()) PrepareSlopeTerms();
  // A step that ends at 00:00 lies in the day it ends.
  const model_date step = EndOfDayForm(model_date{minute, hour, day, month, year}, interval_end_shift);
  ComputeStep(step.day, step.month, step.hour, step.minute);
  FinishStep();
}

void expokorrklasse::ComputeStep(int day, int month, int hour, int minute) {
  // The sun of every sub-step first: the cells need only its terms.
  const sun_times sun = SunriseSunsetHours(SolarDeclination(day, month), EquationOfTime(day, month), latitude,
                                           longitude, reference_meridian);
  const int count = parameters.sub_steps;
  const double step_hours = time_interval / kMinutesPerHour;
  const double h = step_hours / count;
  const double step_end = hour + interval_end_shift + minute / static_cast<double>(kMinutesPerHour);
  const double first_centre = step_end - (1.0 - 0.5 / count) * step_hours + time_shift;
  horizontal_radiation = 0.0;
  sub_steps.assign(static_cast<std::size_t>(count), sub_step_sun{});
  for (int i = 0; i < count; ++i) {
    // Clock hour of the centre; a centre before midnight belongs to the
    // previous day's same hour.
    const double centre = first_centre + i * h;
    const double clock = centre - kHoursPerDay * std::floor(centre / kHoursPerDay);
    const substep_daylight part = SubStepDaylight(sun, clock - h / 2.0, clock + h / 2.0);
    sub_step_sun& step = sub_steps[static_cast<std::size_t>(i)];
    if (part.is_night) continue;
    SunPosition(day, month, latitude, longitude,
                clock + part.night_before_sunrise - part.night_fraction * h / 2.0, step.azimuth,
                step.elevation);
    step.daylight = true;
    step.sun = SunTerms(step.azimuth, pi * 0.5 - step.elevation);
    step.beam = BeamRadiation(step.elevation, part.day_fraction, h);
    horizontal_radiation += step.beam * step.sun.up;
  }

  if (features.casts_shadows && process_index == 0) {
    SumShadedSubSteps();
  } else {
    // Without shadows every cell's sum is made in one pass at the end.
    for (int i = 0; i < count; ++i) WriteGridOutput(shadow_index, 1, true);
  }
}

// With shadows each sub-step's march marks the cells in the shade before the
// cells add their share of its beam.
void expokorrklasse::SumShadedSubSteps() {
  for (int r = first_row; r <= last_row; ++r) {
    for (int c = FirstColumn(r); c <= LastColumn(r); ++c) {
      if (!InRegion(r, c)) continue;
      correction[r][c] = 0.0;
    }
  }
  const shadow_terrain terrain{elevation, zone_grid, nrows, ncols, nodata_value, cellsize};
  const int stride = ncols + 1;
  for (const sub_step_sun& step : sub_steps) {
    ClearShadows();
    if (step.daylight) CastShadows(terrain, step.azimuth, step.elevation, shadow.get());
    // A sub-step without beam radiation adds nothing to any cell.
    if (step.beam > 0.0) {
      for (int r = first_row; r <= last_row; ++r) {
        const double* shade = shadow[r];
        const double* dull_row = sunshine ? sunshine[r] : nullptr;
        const slope_terms* slope_row = slopes.data() + static_cast<std::size_t>(r) * stride;
        double* sum = correction[r];
        for (int c = FirstColumn(r); c <= LastColumn(r); ++c) {
          if (shade[c] >= 0.5) continue;
          const bool dull = dull_row && dull_row[c] < kDullSunshine;
          sum[c] += step.beam * IncidenceFactor(IncidenceCosine(slope_row[c], step.sun), step.sun.up, dull);
        }
      }
    }
    WriteGridOutput(shadow_index, 1, true);
  }
}

// The cell's radiation on the slope, its factor and the corrected
// temperature. Without shadows the sum over the sub-steps is made here, added
// in sub-step order from 0 as the shaded sum is.
void expokorrklasse::FinishStep() {
  const double sum = horizontal_radiation;
  const bool sunlit = sum > 0.0;
  const bool correct_temperature = temperature_index > 0 && temperature;
  const bool summed = features.casts_shadows && process_index == 0;
  const int stride = ncols + 1;
  beamed.clear();
  for (const sub_step_sun& step : sub_steps)
    if (step.beam > 0.0) beamed.push_back(step);
  const sub_step_sun* const first_beam = beamed.data();
  const sub_step_sun* const end_beam = first_beam + beamed.size();
  for (int r = first_row; r <= last_row; ++r) {
    double* factor = correction[r];
    double* sloped = sloped_radiation[r];
    double* corrected = correct_temperature ? corrected_temperature[r] : nullptr;
    const double* t = correct_temperature ? temperature[r] : nullptr;
    const double* sun = sunshine ? sunshine[r] : nullptr;
    const slope_terms* slope_row = slopes.data() + static_cast<std::size_t>(r) * stride;
    const int first = FirstColumn(r);
    const int last = LastColumn(r);
    if (corrected) {
      for (int c = 1; c < first; ++c) corrected[c] = nodata_value;
      for (int c = last + 1; c <= ncols; ++c) corrected[c] = nodata_value;
    }
    for (int c = first; c <= last; ++c) {
      if (!InRegion(r, c)) {
        if (corrected) corrected[c] = nodata_value;
        continue;
      }
      double on_slope = 0.0;
      if (summed) {
        on_slope = factor[c];
      } else {
        const bool dull = sun && sun[c] < kDullSunshine;
        for (const sub_step_sun* step = first_beam; step != end_beam; ++step)
          on_slope +=
              step->beam * IncidenceFactor(IncidenceCosine(slope_row[c], step->sun), step->sun.up, dull);
      }
      sloped[c] = on_slope;
      factor[c] = sunlit ? on_slope / sum : 0.0;
      if (corrected) {
        const double relative_sunshine = sun ? sun[c] : kDefaultRelativeSunshine;
        corrected[c] =
            CorrectedTemperature(t[c], factor[c], parameters.temperature_scaling, relative_sunshine, sunlit);
      }
    }
  }
  WriteGridOutput(correction_index, 1, false);
  if (temperature_index > 0) WriteGridOutput(temperature_index, 1, false);
}

void expokorrklasse::CleanUp() {
  if (cleaned_up) return;
  const auto release = [&](owned_matrix& grid, int& index) {
    if (index > 0) ReleaseGrid(index);
    index = 0;
    grid.reset();
  };
  release(night_temperature, night_temperature_index);
  if (flow_control_parameter != 0) {
    release(corrected_temperature, temperature_index);
    release(shadow, shadow_index);
    release(correction, correction_index);
    release(sloped_radiation, sloped_radiation_index);
  }
  modelobject::CleanUp();
}

}  // namespace velmo
