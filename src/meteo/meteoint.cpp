// The meteorological interpolator: construction, station geometry, statistics
// table, clean-up and the date operations.
#include "meteo/meteoint.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/zonalstat.h"
#include "meteo/station_files.h"
#include "setup/settings.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "meteoint";
constexpr const char* kCellAreaName = "RelCellArea";
constexpr const char* kCoordXName = "CoordX";
constexpr const char* kCoordYName = "CoordY";
constexpr const char* kScalingGridPrefix = "ScalingGrid";

bool IsStationMethod(int method) {
  return method == kIdwMethod || (method >= kIdwRegressionMethod && method <= kSplineGradientMethod) ||
         (method >= kStationRegressionMethod && method <= kLapseRateMethod);
}
bool IsMeshMethod(int method) { return method >= kBilinearMethod && method <= kSplineGradientMethod; }
bool UsesRegressionFile(int method) { return method == kRegressionMethod || method == kIdwRegressionMethod; }

std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(static_cast<size_t>(std::max(size, 0)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

}  // namespace

bool InterpolatorProgressDue(int interval, double shift_hours, int minute, int hour) {
  if (interval <= 0) return false;
  if (interval == 1) return true;
  const int minutes = static_cast<int>(shift_hours * kMinutesPerHour + minute) + kMinutesPerHour * hour;
  return minutes % (kMinutesPerHour * interval) == 0 && hour != 0;
}

std::string StatisticsHeaderText(const statistics_header_parts& p) {
  const char* first = p.files.empty() ? "" : p.files[0].name.c_str();
  const int first_columns = p.files.empty() ? 0 : p.files[0].additional_columns;
  const char* second = p.files.size() > 1 ? p.files[1].name.c_str() : "";
  const int second_columns = p.files.size() > 1 ? p.files[1].additional_columns : 0;
  const char* name = p.variable.c_str();
  const char* zones = p.zone_file.c_str();
  const char* control = p.control_file.c_str();
  switch (p.method) {
    case kIdwMethod:
      return Printf(
          "%s interpolated with idw from %s, zones from %s, weighting = %4.1f,  maxentf = %8.0f, control "
          "file "
          "%s, additional columns: %d",
          name, first, zones, p.weight, p.shown_distance, control, first_columns);
    case kRegressionMethod: {
      std::string text = Printf("%s interpolated with regression from ", name);
      text = Printf("%s %s,", text.c_str(), p.regression_file.c_str());
      return Printf("%s zones from %s, control file: %s", text.c_str(), zones, control);
    }
    case kIdwRegressionMethod:
      return Printf(
          "%s interpolated with idw+regression from %s, zones from %s,weighting = %4.1f, fraction distance: "
          "= "
          "%4.1f max distance = %8.0f, control file %s, additional columns: %d",
          name, first, zones, p.weight, p.fraction, p.shown_distance, control, first_columns);
    case kThiessenMethod:
      return Printf(
          "%s interpolated with Thiessen from %s, zones from %s, control file %s, additional columns: %d",
          name, first, zones, control, first_columns);
    case kBilinearMethod:
      return Printf(
          "%s interpolated with bilinear interpolation from %s, zones from %s, control file %s, additional "
          "columns: %d",
          name, first, zones, control, first_columns);
    case kBilinearGradientMethod:
      return Printf(
          "%s interpolated with bilinear interpolation of gradients (%s, add. col.: %d) and residuals (%s, "
          "add. "
          "col.: %d), linearly combined, zones from %s, control file %s",
          name, first, first_columns, second, second_columns, zones, control);
    case kSplineMethod:
      return Printf(
          "%s interpolated with bicubic spline interpolation (%s, add. col.: %d), zones from %s, control "
          "file %s",
          name, first, first_columns, zones, control);
    case kSplineGradientMethod:
      return Printf(
          "%s interpolated with bicubic spline interpolation of gradients (%s, add. col.: %d) and residuals "
          "(%s, "
          "add. col.: %d), linearly combined, zones from %s, control file %s",
          name, first, first_columns, second, second_columns, zones, control);
    case kGridListMethod:
      return Printf(
          "%s read in from grids containing already interpolated data (%s, add. col.: %d) zones from %s, "
          "control "
          "file %s",
          name, first, first_columns, zones, control);
    case kStationRegressionMethod:
      return Printf(
          "%s interpolated with elevation dependent regression for values taken from %s, control file %s",
          name, first, control);
    case kIdwStationRegressionMethod:
      return Printf(
          "%s interpolated with elevation dependent regression + idw, all values taken from %s, control file "
          "%s",
          name, first, control);
    case kLapseRateMethod:
      return Printf(
          "%s interpolated with Thiessen plus elevation lapserate, all values taken from %s, control file %s",
          name, first, control);
    default:
      return {};
  }
}

// ============================================================== construction

meteointerpol::meteointerpol(int& error_code, MessageStream* stream, const std::string& variable,
                             const model_settings& settings, grid_table* shared_grids, int entry)
    : modelobject(stream, settings.control_file_name, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.WriteNetcdfGrids, settings.InitialStateDirectory,
                  settings.DefaultOutputDirectory) {
  error_code = 0;
  name = variable;
  grids = shared_grids;
  try {
    Construct(settings, entry);
  } catch (ErrorCode code) {
    error_code = code;
    throw;
  } catch (const std::bad_alloc&) {
    error_code = kMemoryErrorCode;
    RaiseMemoryError(messages, name, "while it is built");
  } catch (...) {
    error_code = kUnexpectedErrorCode;
    throw ErrorCode{kUnexpectedErrorCode};
  }
}

meteointerpol::~meteointerpol() {
  CloseGridList();
  // An interpolator deleted without its clean-up must not leave the table
  // pointing at its grids.
  if (!cleaned_up) ReleaseEntries();
}

void meteointerpol::Construct(const model_settings& settings, int entry) {
  // 1.
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  *messages << "DEBUG: initializing interpolator for " << name << "[end-entry]";

  // 2.
  result_entry = entry;
  message_interval = settings.message_interval;
  min_to_int_end = settings.min_to_int_end;
  time_step = settings.timestep;
  output_list_count = settings.output_list_count;
  zone_table = settings.zone_table;
  zone_code_map = settings.zone_code_map;
  zone_count = settings.zone_count;
  max_zone_code = settings.max_zone_code;
  region_table = settings.region_table;
  region_count = settings.region_count;
  max_region_code = settings.max_region_code;
  region_code_map = settings.region_code_map;
  row_ranges = settings.row_ranges;
  ncols = settings.ncols;
  nrows = settings.nrows;
  first_row = settings.first_row;
  last_row = settings.last_row;
  xllcorner = settings.xllcorner;
  yllcorner = settings.yllcorner;
  cellsize = settings.cellsize;
  nodata_value = settings.nodata_value;
  start_date = settings.StartDate();
  end_date = settings.EndDate();
  end_date_key = date_key(end_date, date_key_factors);
  output_list = settings.output_list;
  if (grids) {
    zone_grid = (*grids)[1].data;
    elevation = (*grids)[2].data;
  }

  // 3.
  const int cell_area = FindGrid(kCellAreaName, true);
  if (cell_area == 0)
    RaiseFatal(
        messages,
        "FATAL: \n-----------------------------------------------------------\nVelmo-ORB no longer works "
        "without a RelCellArea-Grid.\nIf this message appears, then something is wrong with the code,\nso "
        "please contact the author.\n-----------------------------------------------------------\n\n",
        kNoCellAreaCode);
  cell_weights = (*grids)[cell_area].data;
  coord_x = RequiredGridData(kCoordXName);
  coord_y = RequiredGridData(kCoordYName);
  weighting_x = coord_x;
  weighting_y = coord_y;

  // 5.
  ReadSection();
  if (section.scenario_use == 1 && !IsGridScenario(section.scenario_method) && section.scenario_rows.empty())
    *messages << "WARNING: the scenarios of " << name << " (method " << section.scenario_method
              << ") have no scenario rows: its values stay as they are interpolated"
              << "[end-entry]";
  RefuseShortStepRegression();
  // No regression until one is read or fitted.
  const double missing = MissingResult(section.nodata);
  regression.a = {0.0, missing, missing, missing};
  regression.b = {0.0, missing, missing, missing};
  regression.h1 = regression.h2 = regression.e = regression.f = regression.g = missing;

  // 6.
  const bool grid_list_method = section.method == kGridListMethod;
  result_first_row = grid_list_method ? 1 : first_row;
  result_last_row = grid_list_method ? nrows : last_row;
  result = owned_matrix(matrix(result_first_row, result_last_row, 1, ncols, 0));
  RegisterGrid(result_entry, section.result.file, result.get(), nullptr, 0, name, section.result.write_code,
               result_first_row, result_last_row);
  for (int r = result_first_row; r <= result_last_row; ++r)
    for (int c = 1; c <= ncols; ++c) result[r][c] = nodata_value;

  // 7.
  if (section.scenario_use == 1 && IsGridScenario(section.scenario_method))
    RegisterScenarioGrid(start_date.month);

  // 8.
  const int unset = -section.nodata_whole - 1;
  files.resize(section.station_files.size());
  for (size_t j = 0; j < files.size(); ++j) {
    files[j].name = section.station_files[j].name;
    files[j].additional_columns = section.station_files[j].additional_columns;
    files[j].date = model_date{unset, unset, unset, unset, unset};
  }
  record_date = model_date{record_date.minute, unset, unset, unset, unset};

  // 9. to 11.
  if (IsStationMethod(section.method)) PositionStationFiles();
  if (UsesRegressionFile(section.method)) PositionRegressionFile();
  if (grid_list_method) PositionGridList();

  // 12.
  end_of_data = 0;

  // 13.
  statistics_header_parts parts;
  parts.method = section.method;
  parts.variable = name;
  parts.files = section.station_files;
  parts.regression_file = section.regression_file;
  parts.zone_file = grids ? (*grids)[1].file_name : std::string();
  parts.control_file = control_file_name;
  parts.weight = section.idw_weight;
  parts.fraction = section.idw_fraction;
  parts.shown_distance = section.idw_weight == 2.0 ? std::sqrt(section.max_distance) : section.max_distance;
  statistics_header = StatisticsHeaderText(parts);
  if (section.method < kIdwMethod || section.method > kLastMethod)
    RaiseFatal(messages,
               "FATAL: error! interpolation method has to range from 1..12 (here: " +
                   std::to_string(section.method) + ")\n",
               kMethodCode);

  // 14.
  CreateStatistics();

  // 15.
  const int scaling = FindGrid(std::string(kScalingGridPrefix) + "_" + name, true);
  if (scaling > 0) scaling_grid = (*grids)[scaling].data;
}

// Refused before any input file is opened.
void meteointerpol::RefuseShortStepRegression() {
  if (UsesRegressionFile(section.method) && time_step < kRegressionMethodsShortestStep)
    RaiseFatal(
        messages,
        "FATAL: interpolation method 2 or 3 with externally prepared regression files does not work for "
        "time steps less than one hour - please use interpolation methods 10 or 11 instead",
        kShortStepRegressionCode);
}

void meteointerpol::PositionStationFiles() {
  for (int j = 0; j < static_cast<int>(files.size()); ++j) {
    ReadStationHeader(j);
    station_file& file = files[static_cast<size_t>(j)];
    if (j >= 1) {
      const station_file& first = files[0];
      if (file.count != first.count)
        RaiseFatal(
            messages,
            "FATAL: \n------- Error 73 in Interpolation input data ---------\nmeteorological station files " +
                file.name + " \nand " + first.name + " contain a different number of stations \n(" +
                std::to_string(file.count) + " and " + std::to_string(first.count) +
                ", resp.)\nthese data has to be identical in both files for interpolation method 6\n"
                "------- Program terminated due to input data error ---------\n\n",
            kInputFilesDifferCode);
      for (int k = 1; k <= file.count; ++k) {
        if (file.altitude[k] == first.altitude[k] && file.x[k] == first.x[k] && file.y[k] == first.y[k])
          continue;
        *messages << "FATAL: \n------- Error 73 in Interpolation input data ---------\n"
                  << "Altitude and/or coordinates of station " << k
                  << " are different in\nmeteorological station files " << file.name
                  << "\nH: " << file.altitude[k] << ",\tX: " << file.x[k] << "\tY: " << file.y[k] << "\nand\n"
                  << first.name << "\nH: " << first.altitude[k] << ",\tX: " << first.x[k]
                  << "\tY: " << first.y[k]
                  << "These data has to be identical in both files for interpolation method 6\n"
                     "------- Program terminated due to input data error ---------\n\n"
                  << "[end-entry]";
        throw ErrorCode{kInputFilesDifferCode};
      }
    }
    FindStationStart(j);
    file.capacity = StationBlockCapacity(file.count);
    file.block_dates.assign(static_cast<size_t>(file.capacity), model_date{});
    file.block_values.assign(static_cast<size_t>(file.capacity) * static_cast<size_t>(file.count), 0.0);
    file.block_count = 0;
    file.read_index = 0;
  }
  DetectMeshOrientation();
  section.anisotropy_slope *= kRadiansPerDegree;
  CreateRotatedCoordinates();
  CheckAnisotropy();
  ComputeStationSpacing(0);
  if (section.method == kBilinearMethod || section.method == kBilinearGradientMethod)
    ChooseLookupStations(static_cast<int>(files.size()));
  if (section.method == kSplineMethod || section.method == kSplineGradientMethod) BuildSplineMesh(0);
  record_date = files[0].date;
}

void meteointerpol::PositionGridList() {
  current_grid_name.clear();
  last_valid_grid_name.clear();
  ReadStationHeader(0);
  FindGridListStart();
  const station_file& list = files[0];
  SetSourceGeoreference(list.x[1], list.y[1], list.altitude[1], zone_grid);
  gif_factor1 = section.gif_factor1;
  gif_exponent1 = section.gif_exponent1;
  gif_threshold = section.gif_threshold;
  gif_factor2 = section.gif_factor2;
  gif_exponent2 = section.gif_exponent2;
  record_date = list.date;
}

void meteointerpol::CreateStatistics() {
  statistics_zones.assign(static_cast<size_t>(std::max(zone_count, 0)) + 1, zone_record{});
  if (zone_table) {
    for (size_t k = 0; k < statistics_zones.size(); ++k) {
      statistics_zones[k] = zone_table[k];
      statistics_zones[k].weight_sum = 0.0;
      statistics_zones[k].value_sum = 0.0;
    }
  }
  std::string file_name = section.statistics.file;
  const bool with_minutes = !files.empty() && files[0].has_minutes;
  const bool listed = output_list_count > 0 && !output_list.empty();
  int error = 0;
  statistics = std::make_unique<zonalstatistic>(
      error, messages, nodata_value, cell_weights, nrows, ncols, statistics_zones.data(), zone_count,
      section.statistics.code, kInterpolatorStatisticsPrecision, file_name, DefaultOutputDirectory.get(),
      listed ? output_list_count : 0, listed ? output_list.data() : nullptr, with_minutes);
  if (error != 0) throw ErrorCode{error};
  statistics->WriteHeader(statistics_header, name);
}

void meteointerpol::RegisterScenarioGrid(int month) {
  const std::string& file = section.scenario_grid_files[static_cast<size_t>(month)];
  double** grid = nullptr;
  ReadGrid(file, grid, 0, true, true, 0.0, false);
  scenario_grid = owned_matrix(grid);
  if (scenario_entry == 0) {
    scenario_entry = grids->FirstFreeEntry();
    if (scenario_entry >= kGridTableLimit)
      RaiseFatal(messages,
                 "FATAL: no more free grids in memeory, (max. " + std::to_string(kGridTableLimit) + ")!",
                 kNoFreeGridCode);
  }
  RegisterGrid(scenario_entry, file, scenario_grid.get(), nullptr, 0, "scenariogrid_" + name, 0, first_row,
               last_row);
  scenario_month = month;
}

void meteointerpol::ReleaseScenarioGrid() {
  if (scenario_entry > 0) ReleaseGrid(scenario_entry);
  scenario_grid.reset();
}

// ============================================================== station geometry

void meteointerpol::DetectMeshOrientation() {
  if (!IsMeshMethod(section.method) || files.empty()) return;
  const station_file& file = files[0];
  const mesh_orientation mesh = velmo::DetectMeshOrientation(file.x.data(), file.y.data(), file.count);
  section.anisotropy_slope = mesh.slope_degrees;
  section.anisotropy_ratio = mesh.ratio;
}

void meteointerpol::CreateRotatedCoordinates() {
  if (!(section.anisotropy_ratio < 1.0) || !IsStationMethod(section.method)) return;
  auto free_entry = [this] {
    const int index = grids->FirstFreeEntry();
    if (index >= kGridTableLimit)
      RaiseFatal(messages,
                 "FATAL: no more free grids in memeory, (max. " + std::to_string(kGridTableLimit) + ")!",
                 kNoFreeGridCode);
    return index;
  };
  rotated_x_grid = owned_matrix(matrix(first_row, last_row, 1, ncols, 0));
  rotated_y_grid = owned_matrix(matrix(first_row, last_row, 1, ncols, 0));
  const std::string x_name = "CoordXRot_" + name;
  const std::string y_name = "CoordYRot_" + name;
  rotated_x_entry = free_entry();
  RegisterGrid(rotated_x_entry, x_name, rotated_x_grid.get(), nullptr, 0, x_name, 0, first_row, last_row);
  rotated_y_entry = free_entry();
  RegisterGrid(rotated_y_entry, y_name, rotated_y_grid.get(), nullptr, 0, y_name, 0, first_row, last_row);
  for (int r = first_row; r <= last_row; ++r) {
    for (int c = row_ranges[r].first; c <= row_ranges[r].last; ++c) {
      if (coord_x[r][c] == nodata_value) {
        rotated_x_grid[r][c] = nodata_value;
        rotated_y_grid[r][c] = nodata_value;
      } else {
        RotatePoint(coord_x[r][c], coord_y[r][c], xllcorner, yllcorner, section.anisotropy_slope,
                    rotated_x_grid[r][c], rotated_y_grid[r][c]);
      }
    }
  }
  weighting_x = rotated_x_grid.get();
  weighting_y = rotated_y_grid.get();
}

void meteointerpol::CheckAnisotropy() {
  weight_code = WeightCode(section.idw_weight);
  if (!IsStationMethod(section.method)) return;
  for (station_file& file : files) {
    switch (CheckAnisotropyRange(section.anisotropy_slope, section.anisotropy_ratio)) {
      case anisotropy_fault::kSlope:
        RaiseFatal(messages, "FATAL: anisotropy slope has to range from -90 to +90 degree \n",
                   kAnisotropyCode);
      case anisotropy_fault::kRatio:
        RaiseFatal(messages, "FATAL: ratio of anisotropy has to range from +1 to >0 liegen", kAnisotropyCode);
      case anisotropy_fault::kNone:
        break;
    }
    file.rotated_x = file.x;
    file.rotated_y = file.y;
    if (section.anisotropy_ratio == 1.0) continue;
    for (int k = 1; k <= file.count; ++k)
      RotatePoint(file.x[k], file.y[k], xllcorner, yllcorner, section.anisotropy_slope, file.rotated_x[k],
                  file.rotated_y[k]);
  }
}

// ============================================================== dates

void meteointerpol::GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) {
  minute = record_date.minute;
  hour = record_date.hour;
  day = record_date.day;
  month = record_date.month;
  year = record_date.year;
}

void meteointerpol::SetEndDateToCurrent() {
  end_date = record_date;
  end_date_key = date_key(end_date, date_key_factors);
}

bool meteointerpol::InputEndsWithCurrentRecord() {
  if (end_of_data != 0 || AtOrAfter(record_date, end_date)) return false;
  std::string ended;
  if (section.method == kGridListMethod) {
    if (!GridListHasNextRecord()) ended = files[0].name;
  } else {
    if (IsStationMethod(section.method)) {
      for (int j = 0; j < static_cast<int>(files.size()) && ended.empty(); ++j)
        if (!StationFileHasNextRecord(j)) ended = files[static_cast<size_t>(j)].name;
    }
    if (ended.empty() && UsesRegressionFile(section.method) && !regression_input->HasNext())
      ended = regression_input->FileName();
  }
  if (ended.empty()) return false;
  const auto date_text = [](const model_date& d) {
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d %02d:%02d", d.day, d.month, d.year, d.hour, d.minute);
    return std::string(text);
  };
  *messages << "WARNING: the data of " << name << " end with the record of " << date_text(record_date)
            << " in " << ended << ", before the end date " << date_text(end_date)
            << ": the run ends with this record, and every output due at the end of the run is written for it"
            << "[end-entry]";
  return true;
}

void meteointerpol::ReadNextRecord() {
  if (section.method == kGridListMethod) {
    NextGridListRecord();
    record_date = files[0].date;
    return;
  }
  if (IsStationMethod(section.method)) AdvanceStationFiles();
  if (end_of_data == 0 && UsesRegressionFile(section.method)) AdvanceRegressionFile();
}

void meteointerpol::AdvanceStationFiles() {
  for (int j = 0; j < static_cast<int>(files.size()); ++j) NextStationRecord(j);
  record_date = files[0].date;
  if (end_of_data != 0) return;
  bool differ = false;
  for (const station_file& file : files) {
    const model_date& d = file.date;
    differ = differ || d.minute != record_date.minute || d.hour != record_date.hour ||
             d.day != record_date.day || d.month != record_date.month || d.year != record_date.year;
  }
  if (!differ) return;
  *messages << "FATAL: error reading date from stationfiles:"
            << "[end-entry]";
  for (const station_file& file : files)
    *messages << "file " << file.name << ": YYYY=" << file.date.year << ", MM=" << file.date.month
              << ", DD=" << file.date.day << ", HH=" << file.date.hour << " mm=" << file.date.minute
              << "[end-entry]";
  throw ErrorCode{kInputFilesDifferCode};
}

void meteointerpol::Rewind() {
  end_of_data = 0;
  if (regression_input) {
    regression_input->Rewind();
    regression = RegressionFromRecord(regression_input->Current().values);
    if (section.method == kRegressionMethod) record_date = regression_input->Current().date;
  }
  if (section.method == kGridListMethod) {
    CloseGridList();
    FindGridListStart();
    record_date = files[0].date;
    return;
  }
  if (!IsStationMethod(section.method)) return;
  for (int j = 0; j < static_cast<int>(files.size()); ++j) {
    station_file& file = files[static_cast<size_t>(j)];
    FindStationStart(j);
    file.block_count = 0;
    file.read_index = 0;
    file.data_ended = false;
  }
  record_date = files[0].date;
}

// ============================================================== outputs and clean-up

void meteointerpol::FlushBuffers() {
  if (statistics) statistics->FlushRows();
}

int meteointerpol::WriteOutputs() {
  WriteGridOutput(result_entry, 1, false);
  return 0;
}

void meteointerpol::ReleaseEntries() {
  if (!grids) return;
  if (section.scenario_use == 1 && scenario_entry > 0) ReleaseGrid(scenario_entry);
  if (result_entry > 0 && result) ReleaseGrid(result_entry);
  if (rotated_x_entry > 0) ReleaseGrid(rotated_x_entry);
  if (rotated_y_entry > 0) ReleaseGrid(rotated_y_entry);
  scenario_entry = result_entry = rotated_x_entry = rotated_y_entry = 0;
}

void meteointerpol::CleanUp() {
  for (station_file& file : files) file.unreadable.Report(messages, file.name);
  if (regression_input) regression_input->ReportUnreadableValues();
  *messages << "DEBUG: deleting interpolator for " << name << "[end-entry]";
  ReleaseEntries();
  splines.reset();
  scenario_grid.reset();
  section.scenario_rows.clear();
  result.reset();
  rotated_x_grid.reset();
  rotated_y_grid.reset();
  if (statistics) statistics->CleanUp();
  statistics.reset();
  CloseGridList();
  for (station_file& file : files) {
    std::vector<model_date>().swap(file.block_dates);
    std::vector<double>().swap(file.block_values);
  }
  weight_cache.reset();
  cells.reset();
  std::vector<int>().swap(nearest_stations);
  regression_input.reset();
  corners.reset();
  std::vector<int>().swap(corner_keys);
  for (std::vector<bilinear_square>& file_squares : squares)
    std::vector<bilinear_square>().swap(file_squares);
  splines.reset();
  mesh_x.reset();
  mesh_y.reset();
  mesh_values.reset();
  mesh_y2.reset();
  second_spline_grid.reset();
  modelobject::CleanUp();
}

}  // namespace velmo
