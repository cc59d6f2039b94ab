// The submodel base: section head, solar geometry, progress line and subbasin ranking.
#include "setup/teilmod.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <iomanip>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/section_reader.h"
#include "setup/tables.h"

namespace velmo {
namespace {

// Tolerance of the comparison of the module's interval with min_to_int_end (hours).
constexpr double kIntervalTolerance = 0.00001;
// Width of the module title in the progress line.
constexpr int kProgressTitleWidth = 20;
constexpr const char* kSubbasinGridName = "zonegrid_soilmodel";
constexpr const char* kCellAreaGridName = "RelCellArea";

}  // namespace

void TakeDomain(modelobject& object, const model_settings& settings) {
  object.row_ranges = settings.row_ranges;
  object.ncols = settings.ncols;
  object.nrows = settings.nrows;
  object.first_row = settings.first_row;
  object.last_row = settings.last_row;
  object.xllcorner = settings.xllcorner;
  object.yllcorner = settings.yllcorner;
  object.cellsize = settings.cellsize;
  object.nodata_value = settings.nodata_value;
}

// ---------------------------------------------------------------- day of the year, progress line

int DayOfYear(int day, int month, const std::array<int, 13>& month_lengths) {
  assert(month >= 1 && month <= 12);
  return DayOfYearFrom(month_lengths, day, month);
}

bool ProgressLineDue(int message_interval, double time_interval, double interval_end_shift, int minute,
                     int hour) {
  if (message_interval <= 0) return false;
  if (message_interval == 1) return true;
  const bool sub_hourly = time_interval > 0.0 && time_interval < kMinutesPerHour;
  if (sub_hourly) {
    const int minutes =
        static_cast<int>(kMinutesPerHour * interval_end_shift) + minute + kMinutesPerHour * hour;
    return minutes % (kMinutesPerHour * message_interval) == 0 && hour != 0;
  }
  return (static_cast<int>(interval_end_shift) + hour) % message_interval == 0;
}

// ---------------------------------------------------------------- subbasin ranking

int ZoneCodeOf(double value) { return static_cast<int>(std::floor(value + 0.5)); }

int teilmodellklasse::VegetationLayerCount() const {
  return multilayer_table && multilayer_table[0].code >= 1 ? std::max(1, multilayer_table[1].LayerCount())
                                                           : 1;
}

const int* teilmodellklasse::ZoneIndexRow(int row) {
  const auto width = static_cast<size_t>(ncols) + 1;
  if (cell_zone_indices.empty()) {
    cell_zone_indices.assign(static_cast<size_t>(std::max(0, last_row - first_row + 1)) * width, 0);
    for (int r = first_row; r <= last_row && zone_grid && zone_code_map; ++r) {
      int* zones = cell_zone_indices.data() + static_cast<size_t>(r - first_row) * width;
      for (int c = 1; c <= ncols; ++c) {
        const int code = ZoneCodeOf(zone_grid[r][c]);
        zones[c] = code >= 0 && code <= max_zone_code ? zone_code_map[code] : 0;
      }
    }
  }
  return cell_zone_indices.data() + static_cast<size_t>(row - first_row) * width;
}

zone_ranking_fault RankZones(double** grid, int nrows, int ncols, const row_range* row_ranges,
                             double nodata_value, double** cell_weights, double cellsize,
                             zone_ranking& result) {
  result = zone_ranking{};
  auto columns_of = [&](int row) { return row_ranges ? row_ranges[row] : row_range{1, ncols}; };

  // Record 0 holds the totals; its code is 1 by convention of the submodels.
  result.zones.push_back(zone_record{0.0, 0.0, 1.0, 0.0, 0.0});
  std::vector<int> code_map(static_cast<size_t>(kMaxZoneCode) + 1, 0);
  if (grid) {
    for (int r = 1; r <= nrows; ++r) {
      const row_range cols = columns_of(r);
      const double* row = grid[r];
      for (int c = cols.first; c <= cols.last; ++c) {
        const double v = row[c];
        if (v == nodata_value) continue;
        const double rounded = std::floor(v + 0.5);
        if (!(rounded >= 0.0 && rounded <= kMaxZoneCode))
          return zone_ranking_fault::code_out_of_range;  // or NaN
        const int code = static_cast<int>(rounded);
        if (code_map[static_cast<size_t>(code)] != 0) continue;
        if (result.zone_count + 1 > kMaxRankedZones) return zone_ranking_fault::too_many_codes;
        ++result.zone_count;
        result.max_code = std::max(result.max_code, code);
        code_map[static_cast<size_t>(code)] = result.zone_count;
        result.zones.push_back(zone_record{0.0, 0.0, v, 0.0, 0.0});
      }
    }
  }

  // Distinct rounded codes order their cell values alike, so sorting by the
  // stored value gives ascending codes.
  std::sort(result.zones.begin() + 1, result.zones.end(),
            [](const zone_record& a, const zone_record& b) { return a.code < b.code; });
  for (int z = 1; z <= result.zone_count; ++z) {
    code_map[static_cast<size_t>(ZoneCodeOf(result.zones[static_cast<size_t>(z)].code))] = z;
  }
  result.code_map.assign(code_map.begin(), code_map.begin() + result.max_code + 1);

  for (int r = 1; grid && r <= nrows; ++r) {
    const row_range cols = columns_of(r);
    const double* row = grid[r];
    const double* weights = cell_weights ? cell_weights[r] : nullptr;
    for (int c = cols.first; c <= cols.last; ++c) {
      if (row[c] == nodata_value) continue;
      zone_record& zone =
          result.zones[static_cast<size_t>(result.code_map[static_cast<size_t>(ZoneCodeOf(row[c]))])];
      const double weight = weights ? weights[c] : 1.0;
      zone.value_sum += 1.0;
      zone.weight_sum += weight;
      zone.mean_divisor += weight;
    }
  }

  // The total stays unrounded so that fractional weights give fractions summing to 1.
  double total = 0.0;
  for (int z = 1; z <= result.zone_count; ++z) total += result.zones[static_cast<size_t>(z)].weight_sum;
  if (result.zone_count == 0 || !(total > 0.0)) return zone_ranking_fault::no_valid_cell;
  for (int z = 1; z <= result.zone_count; ++z) {
    zone_record& zone = result.zones[static_cast<size_t>(z)];
    zone.area_fraction = zone.weight_sum / total;
  }
  result.zones[0].area_fraction = cellsize * total * cellsize / kSquareMetresPerSquareKilometre;
  return zone_ranking_fault::none;
}

// ---------------------------------------------------------------- submodel base

teilmodellklasse::teilmodellklasse(MessageStream* stream, const model_settings& settings,
                                   const std::string& module_name, grid_table* shared_grids,
                                   bool section_required, int highest_flow_control)
    : modelobject(stream, settings.control_file_name, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.WriteNetcdfGrids, settings.InitialStateDirectory,
                  settings.DefaultOutputDirectory) {
  // Settings of the run.
  min_to_int_end = settings.min_to_int_end;
  message_interval = settings.message_interval;
  output_list_count = settings.output_list_count;
  output_list = settings.output_list;
  if (!output_list.empty()) output_list[0] = output_list_count;
  grids = shared_grids;
  zone_code_map = settings.zone_code_map;
  zone_table = settings.zone_table;
  zone_count = settings.zone_count;
  max_zone_code = settings.max_zone_code;
  TakeDomain(*this, settings);
  start_date = settings.StartDate();
  end_date = settings.EndDate();
  end_date_key = date_key(end_date);
  landuse_table = settings.landuse_table;
  soil_table = settings.soil_table;
  multilayer_table = settings.multilayer_table;
  partition_cell_counts = settings.partition_cell_counts;
  halo_send_list = settings.halo_send_list;
  halo_receive_list = settings.halo_receive_list;
  if (grids) zone_grid = (*grids)[1].data;

  if (grids && FindGrid(kCellAreaGridName, false) > 0) cell_weights = RequiredGridData(kCellAreaGridName);

  latitude = settings.latitude;
  longitude = settings.longitude;
  reference_meridian = settings.reference_meridian;
  time_shift = settings.time_shift;
  name = module_name;

  *messages << "DEBUG: initializing module " << name << "[end-entry]";
  ReadSectionHead(section_required, highest_flow_control, settings.timestep);
}

void teilmodellklasse::ReadSectionHead(bool section_required, int highest_flow_control, int run_time_step) {
  section_buffer = "[" + name + "]";
  section_reader head(*this, section_buffer, {.required = section_required});
  if (!head.Found()) {
    // An optional module without its section is simply off; that is no error.
    flow_control_parameter = 0;
    *messages << "INFO: no section " << section_buffer << " in " << control_file_name << ", the module "
              << name << " is switched off"
              << "[end-entry]";
    head.Close();
    return;
  }

  flow_control_parameter = head.FlowControl(highest_flow_control);
  time_interval = head.Number("time interval for ");
  // An interval of a module that is off is never used; it need not fit an int.
  time_step = std::fabs(time_interval) <= kLongestTimeInterval ? static_cast<int>(time_interval) : 0;
  interval_end_shift = min_to_int_end / kMinutesPerHour;

  if (min_to_int_end / kMinutesPerHour > time_interval / kMinutesPerHour + kIntervalTolerance) {
    *messages << "FATAL: \n-------- error --------\n\nthe time step " << time_interval
              << " minutes as given in the section for the module " << name
              << " \nis shorter than the parameter min_to_int_end with " << min_to_int_end
              << " minutes\nfrom the [program_output]-section which gives the shift from \n"
                 "the hour entry of meteo-data to the time step end\n"
                 "this parameter (the 4-th in the section [program_output])\n"
                 "should be set to 0 if the hour markes the end of the time step\n"
                 "e.g. like in \"1984 01 01 24\" for daily time steps -> parameter set to 0\n"
                 "and it should set to the variable $time, if the hour marks the time step start\n"
              << "[end-entry]";
    throw ErrorCode{kTimeIntervalErrorCode};
  }
  // Steps per day, day parts and progress lines all divide by the interval,
  // dates move by it, and a module steps once in every step of the run.
  const bool fits =
      run_time_step > 0 ? time_interval == run_time_step : time_interval <= kLongestTimeInterval;
  head.Check(
      flow_control_parameter == 0 ||
          (time_interval > 0.0 && time_interval == std::floor(time_interval) && fits),
      "FATAL: the time interval for " + section_buffer +
          " must be a positive number of minutes, a whole one " +
          (run_time_step > 0
               ? "equal to the time step of the run (timestep = " + std::to_string(run_time_step) + ")"
               : "of a year at most (" + std::to_string(static_cast<int>(kLongestTimeInterval)) + ")") +
          ", not ",
      time_interval, kTimeIntervalErrorCode);
  steps_per_day = time_interval > 0.0 ? kMinutesPerDay / time_interval : 0.0;

  if (flow_control_parameter == 0) head.Close();
}

void teilmodellklasse::ReportFloatingPointError(int i1, int i2, int i3, int i4, double a1, double a2,
                                                double a3, double a4, double a5) {
  if (fpe_state == 1) {
    *messages << "INFO: fpe in i1: " << i1 << ", i2: " << i2 << ", i3: " << i3 << ", i4: " << i4
              << "\na1: " << a1 << " a2: " << a2 << " a3: " << a3 << " a4: " << a4 << " a5: " << a5
              << "[end-entry]";
    fpe_state = 2;
  } else {
    fpe_state = 0;
  }
}

double teilmodellklasse::SolarDeclination(int day, int month) {
  return SolarDeclinationDegrees(DayOfYear(day, month, month_lengths));
}

double teilmodellklasse::EquationOfTime(int day, int month) {
  return EquationOfTimeHours(day, month, month_lengths, eot_table);
}

double teilmodellklasse::SolarElevation(int day, int month, double lat, double lon, double hour) {
  const double solar_time = SolarTimeHours(hour, lon, reference_meridian, EquationOfTime(day, month));
  return SolarElevationDegrees(SolarDeclination(day, month), lat, solar_time);
}

void teilmodellklasse::SunPosition(int day, int month, double lat, double lon, double hour, double& azimuth,
                                   double& elevation) {
  const double solar_time = SolarTimeHours(hour, std::fmod(lon, kFullCircleDegrees), reference_meridian,
                                           EquationOfTime(day, month));
  const sun_position position = SunPositionRadians(SolarDeclination(day, month), lat, solar_time);
  azimuth = position.azimuth;
  elevation = position.elevation;
}

double teilmodellklasse::CosIncidence(double a, double b, double c, double d) {
  return CosIncidenceAngle(a, b, c, d);
}

void teilmodellklasse::SunriseSunset(int day, int month, double lat, double lon, double& sunrise_out,
                                     double& sunset_out) {
  const sun_times sun = SunriseSunsetHours(SolarDeclination(day, month), EquationOfTime(day, month), lat, lon,
                                           reference_meridian);
  sunrise_out = sun.sunrise;
  sunset_out = sun.sunset;
}

void teilmodellklasse::DaylightFraction() {
  if (!(time_interval > 0.0)) return;  // a module that is off has no steps
  // A step that ends at 00:00 takes the sun of the day it ends.
  const model_date step = EndOfDayForm(current_date, interval_end_shift);
  const int day = step.day;
  const int month = step.month;
  const sun_times sun = SunriseSunsetHours(SolarDeclination(day, month), EquationOfTime(day, month), latitude,
                                           longitude, reference_meridian);
  const daylight_parts parts = DaylightParts(sun, step.hour + interval_end_shift, time_interval);
  sunrise = parts.sunrise;
  sunset = parts.sunset;
  night_before_sunrise = parts.night_before_sunrise;
  night_after_sunset = parts.night_after_sunset;
  night_fraction = parts.night_fraction;
  day_fraction = parts.day_fraction;
  is_night = parts.is_night;
}

void teilmodellklasse::ReportProgress(int minute, int hour, int day, int month, int year,
                                      std::string_view text, std::string_view suffix) {
  if (flow_control_parameter == 0) return;
  current_date = model_date{minute, hour, day, month, year};
  if (!ProgressLineDue(message_interval, time_interval, interval_end_shift, minute, hour)) return;

  const bool sub_hourly = time_interval > 0.0 && time_interval < kMinutesPerHour;
  const std::string title(text.empty() ? std::string_view(name) : text);
  *messages << std::setw(kProgressTitleWidth) << title << " " << day << "." << month << "." << year << " "
            << hour;
  if (sub_hourly) {
    *messages << ":" << minute << " h ";
  } else {
    *messages << ". h ";
  }
  *messages << "(time of meteo data)" + std::string(suffix) << "[end-entry]";
}

void teilmodellklasse::RankZoneGrid(double**& grid_data, std::vector<zone_record>& zones,
                                    std::vector<int>& code_map, int& zone_count_out, int& max_code_out) {
  grid_data = nullptr;
  zones.clear();
  code_map.clear();
  zone_count_out = 0;
  max_code_out = 0;

  const int index = FindRequiredGrid(kSubbasinGridName);
  const grid_entry& entry = (*grids)[index];
  grid_data = entry.data;
  const std::string& file = entry.file_name;
  *messages << "ranking zones from " << file << " for " << name << "[end-entry]";

  zone_ranking ranking;
  switch (RankZones(entry.data, nrows, ncols, row_ranges, nodata_value, cell_weights, cellsize, ranking)) {
    case zone_ranking_fault::none:
      break;
    case zone_ranking_fault::code_out_of_range:
      *messages << "FATAL: wrong zone index in " << file << "!\n Zones have to range from 0 to "
                << kMaxZoneCode << "!"
                << "[end-entry]";
      throw ErrorCode{kZoneCodeRangeCode};
    case zone_ranking_fault::too_many_codes:
      *messages << "FATAL: too much zones in " << file << ", (max. " << kMaxRankedZones << "!)"
                << "[end-entry]";
      throw ErrorCode{kTooManyZonesCode};
    case zone_ranking_fault::no_valid_cell:
      *messages << "FATAL: all cells in " << file << " are NODATA!"
                << "[end-entry]";
      throw ErrorCode{kNoValidZoneCellCode};
  }
  if (ranking.zone_count > kMaxSubbasins) {
    *messages << "FATAL: too much subbasins (" << ranking.zone_count << ") in " << name << " (max. "
              << kMaxSubbasins << "). Ende!"
              << "[end-entry]";
    throw ErrorCode{kTooManyZonesCode};
  }
  zones = std::move(ranking.zones);
  code_map = std::move(ranking.code_map);
  zone_count_out = ranking.zone_count;
  max_code_out = ranking.max_code;
}

}  // namespace velmo
