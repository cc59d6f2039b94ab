// The snow model: construction, links, the cell loop of the step, slides, statistics, outputs and clean-up.
#include "snow/snowmod.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/lake_section.h"
#include "setup/section_reader.h"
#include "setup/settings.h"
#include "setup/statefile.h"
#include "setup/tables.h"
#include "setup/tracers.h"
#include "setup/vegparams.h"

namespace velmo {
namespace {

constexpr const char* kModuleName = "snow_model";
constexpr const char* kSourceModule = "snowmod";
// Steps longer than this run the cell step for the night and the day part.
constexpr double kLongestSinglePart = 720.0;  // minutes
// Decimals of the outflow tables and of the others.
constexpr int kOutflowPrecision = 4;
constexpr int kStatisticsPrecision = 3;
constexpr int kLastMonth = 12;
constexpr int kLongestMonth = 31;
// The files of the deposition index's gain are the snowfall's with this
// before their extension.
constexpr const char* kDepositionGainMarker = "_deposition_index";

// The statistics of a run of cells of one zone, summed as AddCell would add
// them cell by cell, for N tables that take the same cells.
template <int N>
class zone_run {
 public:
  zone_run(const std::array<zonalstatistic*, kCoverValueCount>& tables, double nodata)
      : tables_(tables), nodata_(nodata) {}
  ~zone_run() { Flush(); }
  zone_run(const zone_run&) = delete;
  zone_run& operator=(const zone_run&) = delete;

  // Cell (r, c) of zone index `zone` with statistics weight `weight`.
  void Add(int r, int c, int zone, double weight, const std::array<double, N>& values) {
    bool has_nodata = false;
    for (int k = 0; k < N; ++k) has_nodata |= values[static_cast<std::size_t>(k)] == nodata_;
    if (has_nodata) {
      AddEach(r, c, zone, values);
      return;
    }
    if (zone != zone_) {
      Flush();
      zone_ = zone;
    }
    count_ += 1.0;
    divisor_ += weight;
    for (int k = 0; k < N; ++k)
      sums_[static_cast<std::size_t>(k)] += weight * values[static_cast<std::size_t>(k)];
  }
  // The rare paths stay out of the cell loop.
  [[gnu::noinline]] void AddEach(int r, int c, int zone, const std::array<double, N>& values) {
    // Each table leaves a nodata value out on its own.
    for (int k = 0; k < N; ++k)
      if (tables_[static_cast<std::size_t>(k)])
        tables_[static_cast<std::size_t>(k)]->AddCell(r, c, zone, values[static_cast<std::size_t>(k)], 1.0);
  }
  [[gnu::noinline]] void Flush() {
    if (count_ > 0.0) {
      for (int k = 0; k < N; ++k)
        if (tables_[static_cast<std::size_t>(k)])
          tables_[static_cast<std::size_t>(k)]->AddZoneSums(zone_, count_, sums_[static_cast<std::size_t>(k)],
                                                            divisor_);
    }
    count_ = divisor_ = 0.0;
    sums_.fill(0.0);
  }

 private:
  const std::array<zonalstatistic*, kCoverValueCount>& tables_;
  double nodata_;
  int zone_ = -1;
  double count_ = 0.0;
  double divisor_ = 0.0;
  std::array<double, N> sums_{};
};

}  // namespace

// ================================================================ construction

schneemodellklasse::schneemodellklasse(MessageStream* stream, const model_settings& settings,
                                       grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kModuleName, shared_grids, true) {
  storage_first_row = first_row;
  storage_last_row = last_row;
  state_files_ = settings.state_files;
  if (flow_control_parameter == 0) return;
  SetUpModule();
}

schneemodellklasse::~schneemodellklasse() = default;

void schneemodellklasse::SetUpModule() {
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  elevation_ = (*grids)[2].data;
  RankZoneGrid(subbasin_grid_, subbasins_, subbasin_code_map_, subbasin_count, max_subbasin_code_);
  if (!mpi_regions_data) {
    mpi_regions_data = OptionalGridData("MPIRegions", true);
    mpi_helper_data = OptionalGridData("MPIHelper", true);
  }
  // Cells of other regions are left out; when there are none, the cell
  // loops need not read the region grid.
  regions_ = nullptr;
  for (int r = first_row; mpi_regions_data && r <= last_row && !regions_; ++r)
    for (int c = 1; c <= ncols; ++c)
      if (zone_grid[r][c] != nodata_value && static_cast<int>(mpi_regions_data[r][c]) != process_index) {
        regions_ = mpi_regions_data;
        break;
      }
  layer_count = multilayer_table ? std::max(1, multilayer_table[1].LayerCount()) : 1;

  section_reader in(*this, kReadingOn);
  ReadSnowSection(in, parameters);
  if (parameters.kind.slides) {
    storage_first_row = 1;
    storage_last_row = nrows;
  }
  CloseSection(in);
  CreateStatistics();
  rmf_mean_ = parameters.RMFMIN + (parameters.RMFMAX - parameters.RMFMIN) / 2.0;
  rmf_amplitude_ = (parameters.RMFMAX - parameters.RMFMIN) / 2.0;

  FindConstructionGrids();
  if (parameters.method == 4) in_.vapour_pressure = RequiredData("vapor_pressure");
  if (time_interval > kLongestSinglePart) in_.night_temperature = RequiredData("temperature_night");
  if (grids->FirstFreeEntry() >= kGridTableLimit) {
    *messages
        << "FATAL: no free grid left. Please contact the author to set the number of available grids to a "
           "larger number "
        << kGridTableLimit << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  if (parameters.kind.slides) {
    for (int k = 0; k < kSlideNeighbourCount; ++k)
      slide_fraction_[k] = RequiredData("slidefraction" + std::to_string(k + 1));
    slope_ = RequiredData("slope_angle");
  }
  if (parameters.kind.deposition_index) in_.deposition_index = RequiredData("deposition_index");
  if (EnergyBalance()) FindEnergyBalanceGrids();
  RegisterSnowGrids();
  if (glaciers_on) RegisterGlacierGrids();
  if (FindGrid("ThawCoeffPermaFrost", true) > 0 && FindGrid("PermafrostThawDepth", true) > 0)
    SetUpPermafrost();
  if (parameters.T0 > parameters.T0R) {
    *messages << "ERROR: \n-----------------------------------------------------------------------\n"
              << "   T0R (threshold temperature rain/snow) < T0 (threshold temperature snow melt)  \n"
              << "   because these thresholds are contradicting each other, T0R was set to T0!               "
                 "     \n"
              << "-----------------------------------------------------------------------"
              << "[end-entry]";
    parameters.T0R = parameters.T0;
  }

  constants_.kind = parameters.kind;
  constants_.t0r = parameters.T0R;
  constants_.transzone = parameters.transzone;
  constants_.t0 = parameters.T0;
  constants_.crfr = parameters.CRFR;
  constants_.steps_per_day = steps_per_day;
  balance_ = snow_balance_constants{parameters.T0,           parameters.LWINcorr, parameters.LWOUTcorr,
                                    parameters.EnBalScaling, time_interval,       nodata_value};
  ready = 0;
}

void schneemodellklasse::CloseSection(section_reader& in) {
  in.Close("FATAL: cannot close " + control_file_name);
}

double** schneemodellklasse::RequiredData(const std::string& grid_name) {
  return DataOf(FindRequiredGrid(grid_name), grid_name);
}

// The data of an entry found by a required look-up; an entry without data is
// as good as none.
double** schneemodellklasse::DataOf(int index, const std::string& grid_name) {
  double** data = (*grids)[index].data;
  if (!data)
    RaiseFatal(messages, "FATAL: the grid " + grid_name + " needed within " + name + " holds no data",
               kMissingGridCode);
  return data;
}

zonalstatistic* schneemodellklasse::AddStatistics(const statistics_file& table_file, const std::string& label,
                                                  int precision, bool subbasins) {
  auto table = std::make_unique<statistics_table>();
  if (subbasins) {
    table->zones = subbasins_;
  } else {
    table->zones.assign(zone_table, zone_table + zone_count + 1);
  }
  for (zone_record& zone : table->zones) zone.weight_sum = zone.value_sum = zone.mean_divisor = 0.0;
  const int count = static_cast<int>(table->zones.size()) - 1;
  std::string file_name = table_file.file;
  int error = 0;
  table->table = std::make_unique<zonalstatistic>(
      error, messages, nodata_value, cell_weights, nrows, ncols, table->zones.data(), count, table_file.code,
      precision, file_name, DefaultOutputDirectory.get(), output_list_count,
      output_list.empty() ? nullptr : output_list.data(), time_interval < kMinutesPerHour);
  if (error != 0) throw ErrorCode{error};
  table->table->WriteHeader(label, name);
  zonalstatistic* result = table->table.get();
  statistics_.push_back(std::move(table));
  return result;
}

void schneemodellklasse::CreateStatistics() {
  const snow_parameters& p = parameters;
  cover_tables_[kCoverOutflow] = AddStatistics(
      p.outflow_statistics, "snow_melt_(effective_outflow_from_snow_cover)___", kOutflowPrecision);
  cover_tables_[kCoverMelt] = AddStatistics(
      p.melt_statistics, "snow_melt_only(effective_outflow_from_snow_cover)___", kOutflowPrecision);
  cover_tables_[kCoverStorage] =
      AddStatistics(p.storage_statistics, "snow_storage_in_mm___", kStatisticsPrecision);
  cover_tables_[kCoverSnowDays] =
      AddStatistics(p.snow_days_statistics, "snow_days____", kStatisticsPrecision);
  cover_tables_[kCoverSnowAge] = AddStatistics(p.snow_age_statistics, "snow_age____", kStatisticsPrecision);
  cover_tables_[kCoverSnowfall] = AddStatistics(p.snow_statistics, "p_snow____", kStatisticsPrecision);
  cover_tables_[kCoverRain] = AddStatistics(p.rain_statistics, "p_rain____", kStatisticsPrecision);
  cover_tables_[kCoverAlbedo] = AddStatistics(p.albedo_statistics, "albedo____", kStatisticsPrecision);
  if (p.kind.deposition_index)
    cover_tables_[kCoverDepositionGain] = AddStatistics(
        {FileNameWithMarker(p.snow_statistics.file, kDepositionGainMarker), p.snow_statistics.code},
        "deposition_index_gain____", kStatisticsPrecision);
  if (EnergyBalance()) {
    temperature_tables_[0] =
        AddStatistics(p.snow_temperature_statistics, "snowtemp____", kStatisticsPrecision);
    temperature_tables_[1] =
        AddStatistics(p.surface_temperature_statistics, "surftemp____", kStatisticsPrecision);
  }
  if (p.kind.slides) {
    cover_tables_[kCoverInputMass] =
        AddStatistics(p.input_mass_statistics, "input_mass____", kStatisticsPrecision);
    cover_tables_[kCoverMobileMass] =
        AddStatistics(p.mobile_mass_statistics, "mobile_mass____", kStatisticsPrecision);
    cover_tables_[kCoverDeposition] =
        AddStatistics(p.deposition_statistics, "deposition____", kStatisticsPrecision);
  }
}

void schneemodellklasse::FindConstructionGrids() {
  albedo_ = RequiredData("albedo");
  snow_evaporation_ = OptionalGridData("snow_evaporation", true);
  landuse_.assign(static_cast<std::size_t>(layer_count) + 1, nullptr);
  for (int l = 1; l <= layer_count; ++l)
    landuse_[static_cast<std::size_t>(l)] = RequiredData("landuse" + std::to_string(l));

  if (FindGrid("ice_firn", true) > 0 || FindGrid("GlacierizedCells", true) > 0) SetUpGlaciers();
}

// A grid of the snow cover: a grid of that name already in the table (a
// standard grid) is used as it is; otherwise the module's own, read from its
// file or starting at 0 inside the zone grid.
schneemodellklasse::module_grid schneemodellklasse::StorageGrid(const std::string& grid_name,
                                                                const output_grid& output, int rows_first,
                                                                int rows_last, bool read_initial) {
  const int existing = FindGrid(grid_name, true);
  if (existing > 0 && (*grids)[existing].data) return {(*grids)[existing].data, existing, false};
  if (!read_initial) return OwnGrid(grid_name, output.file, output.write_code, rows_first, rows_last, true);

  double** data = nullptr;
  // Cells of the zone grid without data in the file start without snow.
  constexpr int kFillWithDefault = 2;
  ReadGrid(output.file, data, kFillWithDefault, true, false, 0.0, false);
  matrices_.emplace_back(data);
  CheckStateGrid(output.file, data);
  const int index = grids->FirstFreeEntry();
  RegisterGrid(index, output.file, data, nullptr, 0, grid_name, output.write_code, rows_first, rows_last);
  return {data, index, true};
}

schneemodellklasse::module_grid schneemodellklasse::OwnGrid(const std::string& grid_name,
                                                            const std::string& file_name, int write_code,
                                                            int rows_first, int rows_last, bool fill_zero) {
  double** data = matrix(rows_first, rows_last, 1, ncols, rows_last);
  matrices_.emplace_back(data);
  if (fill_zero) {
    for (int r = rows_first; r <= rows_last; ++r)
      for (int c = 1; c <= ncols; ++c) data[r][c] = zone_grid[r][c] == nodata_value ? nodata_value : 0.0;
  }
  const int index = grids->FirstFreeEntry();
  RegisterGrid(index, file_name, data, nullptr, 0, grid_name, write_code, rows_first, rows_last);
  return {data, index, true};
}

void schneemodellklasse::RegisterSnowGrids() {
  const snow_parameters& p = parameters;
  const bool read = p.readgrid == 1;
  const int s0 = storage_first_row;
  const int s1 = storage_last_row;
  solid_ = StorageGrid("snowstorage_solid", p.solid_grid, s0, s1, read);
  liquid_ = StorageGrid("snowstorage_liquid", p.liquid_grid, s0, s1, read);
  total_ = StorageGrid("snow_storage_total", p.total_grid, s0, s1, read);
  snow_days_ = StorageGrid("days_snow", p.snow_days_grid, read ? first_row : s0, read ? last_row : s1, read);
  snow_age_ = StorageGrid("snow_age", p.snow_age_grid, read ? first_row : s0, read ? last_row : s1, read);
  if (EnergyBalance()) RegisterEnergyBalanceGrids();
  if (p.kind.slides) SetUpSlides();
  snow_fraction_ =
      OwnGrid("snow_fraction", p.snow_grid.file, p.snow_grid.write_code, first_row, last_row, true);
  rain_fraction_ =
      OwnGrid("rain_fraction", p.rain_grid.file, p.rain_grid.write_code, first_row, last_row, true);
  if (p.kind.deposition_index)
    deposition_gain_ =
        OwnGrid("deposition_index_gain", FileNameWithMarker(p.snow_grid.file, kDepositionGainMarker),
                p.snow_grid.write_code, first_row, last_row, true);
  outflow_ =
      OwnGrid("snowcover_outflow", p.outflow_grid.file, p.outflow_grid.write_code, first_row, last_row, true);
  melt_ = OwnGrid("melt_from_snowcover", p.melt_grid.file, p.melt_grid.write_code, first_row, last_row, true);
  snow_free_albedo_ = owned_matrix(matrix(first_row, last_row, 1, ncols, last_row));
}

void schneemodellklasse::SetUpSlides() {
  const snow_parameters& p = parameters;
  const int existing = FindGrid("max_deposition", true);
  if (existing > 0 && (*grids)[existing].data) {
    max_deposition_ = {(*grids)[existing].data, existing, false};
  } else {
    max_deposition_ = OwnGrid("max_deposition", "", 0, 1, nrows, false);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        max_deposition_.data[r][c] =
            zone_grid[r][c] == nodata_value
                ? nodata_value
                : MaxDeposition(slope_[r][c], p.maxDepositionSlope, p.maxDepositionFactor);
  }
  slide_order_ = ElevationOrder(zone_grid, elevation_, nrows, ncols, nodata_value);
  order_row_ = OwnGrid("elev_order_row", "", 0, 1, nrows, false);
  order_col_ = OwnGrid("elev_order_col", "", 0, 1, nrows, false);
  WriteElevationOrder(slide_order_, zone_grid, nrows, ncols, nodata_value, order_row_.data, order_col_.data);
  const int s0 = storage_first_row;
  const int s1 = storage_last_row;
  input_mass_ = OwnGrid("input_mass", p.input_mass_grid.file, p.input_mass_grid.write_code, s0, s1, true);
  mobile_mass_ = OwnGrid("mobile_mass", p.mobile_mass_grid.file, p.mobile_mass_grid.write_code, s0, s1, true);
  deposition_ = OwnGrid("deposition", p.deposition_grid.file, p.deposition_grid.write_code, s0, s1, true);
}

// ================================================================ links

void schneemodellklasse::SetRadiationCorrectionGrid(double** grid) {
  if (flow_control_parameter != 0) in_.radiation_correction = grid;
}

double** schneemodellklasse::GetSnowStorageGrid() {
  return flow_control_parameter != 0 ? solid_.data : nullptr;
}

void schneemodellklasse::SetSubbasinRunoff(double** runoff) {
  if (flow_control_parameter == 0) return;
  subbasin_runoff_ = runoff;
  ready = 1;
}

int schneemodellklasse::GetMethod() { return flow_control_parameter > 0 ? parameters.method : 0; }

void schneemodellklasse::LinkInputGrids(bool interception_first) {
  if (flow_control_parameter == 0 || linked_) return;
  in_.water = interception_first ? OptionalGridData("throughfall0", true) : nullptr;
  if (!in_.water) in_.water = RequiredData("precipitation");
  in_.canopy_unload = OptionalGridData("Snow_canopy_unload_solid", true);
  if (parameters.kind.needs_wind) {
    in_.wind = OptionalGridData("Snow_canopy_wind", true);
    if (!in_.wind) in_.wind = RequiredData("wind_speed");
  }
  in_.temperature = DataOf(
      FindOneOfFourGrids("Snow_canopy_temperature", "corr_temperature", "temperature", "temperature_14"),
      "temperature");
  if (EnergyBalance()) LinkEnergyBalanceInputs();
  linked_ = true;
}

void schneemodellklasse::InitLakeModel(const std::string& section) {
  if (flow_control_parameter == 0) return;
  if (FindGrid("lake_codes", true) <= 0) {
    *messages << "INFO: no LAKE-grid was found in " << name << "\n"
              << "Lake modelling is switched off for " << name << "."
              << "[end-entry]";
    return;
  }
  if (ReadLakeSection(*this, section, lake_values::flow_control).flow_control == 0) return;
  in_.lake_codes = OptionalGridData("lake_codes", true);
  in_.pond = OptionalGridData("ponding_storage", true);
  if (!in_.pond) in_.pond = OptionalGridData("ponding_storage_top", true);
  if (!in_.lake_codes || !in_.pond) {
    *messages << "FATAL: \n\n=======================================\n"
              << "!!!! ERROR !!!! \n\n"
              << "\nLAKE-grid was found, but no POND-Grid. For using lakes,"
              << "\nboth grids as well as the MAXPOND grid must be present."
              << "\n\n=======================================\n"
              << "[end-entry]";
    throw ErrorCode{kLakeSetUpCode};
  }
  lakes_on_ = true;
}

void schneemodellklasse::SetUpTracers(int& error, int count,
                                      const std::vector<tracer_description>* descriptions) {
  error = 0;
  if (flow_control_parameter == 0) return;
  teilmodellklasse::SetUpTracers(error, count, descriptions);
  if (error != 0) throw ErrorCode{error};
  for (int k = 1; k <= tracer_count; ++k) {
    const std::string number = std::to_string(k);
    const int index = FindOneOfThreeGrids("concflux_tracer_" + number + "_irrigation",
                                          "concflux_tracer_" + number + "_input", "!!_no_entry_!!");
    tracer_storages[static_cast<std::size_t>(k)].input_grid = (*grids)[index].data;
  }
}

void schneemodellklasse::FreeTracers() {
  if (flow_control_parameter != 0) teilmodellklasse::FreeTracers();
}

double schneemodellklasse::SeasonalMeltFactor(int day, int month) {
  return SeasonalFactor(rmf_mean_, rmf_amplitude_, day, month, month_lengths);
}

double schneemodellklasse::SaturationVapourPressureIce(double t_celsius) {
  return SaturationVapourPressureIceTetens(t_celsius);
}

// ================================================================ the step

bool schneemodellklasse::HasDate(int day, int month) {
  if (month >= 1 && month <= kLastMonth && day >= 1 && day <= kLongestMonth) return true;
  // A run without meteorological input makes one pass without a date.
  if (!undated_step_reported_) {
    *messages << "WARNING: " << name << ": the step of " << day << "." << month
              << " has no date of the year, so no snow is computed in it"
              << "[end-entry]";
    undated_step_reported_ = true;
  }
  return false;
}

// The land-use albedo of every cell for the day. Land uses whose fix points
// do not move with the altitude or the cell's phenology have one value for
// all their cells. When the set-up object's daily update may move the
// phenology of a cell, its step is refreshed too.
void schneemodellklasse::RefreshSnowFreeAlbedo(int hour, int day, int month, int year) {
  const date_key_t key = date_key(year, month, day, 0, 0);
  const bool daily_update =
      albedo_follows_phenology_ && hour + static_cast<int>(interval_end_shift) == kHoursPerDay;
  if (key == albedo_date_ && !daily_update) return;
  albedo_date_ = key;

  const int record_count = landuse_table ? landuse_table[0].code : 0;
  landuse_cell_day date;
  date.day = day;
  date.month = month;
  date.day_of_year = DayOfYearOfDate(day, month, year);
  date.month_lengths = LanduseMonthLengths(year);
  auto day_failure = [&](const landuse_table_entry& record) {
    WriteDayOfYearFailure(messages, record.Code(), day, month, year);
    throw ErrorCode{kDayOfYearErrorCode};
  };

  std::size_t longest = 1;
  for (int k = 1; k <= record_count; ++k)
    longest = std::max(longest, static_cast<std::size_t>(landuse_table[k].FixPointCount()) + 1);
  fix_point_days_.resize(longest);

  // The value of a land use for all its cells; NaN where it varies by cell.
  std::vector<double> common(static_cast<std::size_t>(record_count) + 1,
                             std::numeric_limits<double>::quiet_NaN());
  albedo_follows_phenology_ = false;
  for (int k = 1; k <= record_count; ++k) {
    const landuse_table_entry& record = landuse_table[k];
    const bool phenology = record.Method() >= kMethodDynamicPhenology1;
    albedo_follows_phenology_ = albedo_follows_phenology_ || phenology;
    bool moves = phenology;
    for (std::size_t i = 0; i < record.lists.AltDep.size() && !moves; ++i)
      moves = record.lists.AltDep[i] != 0.0;
    if (moves) continue;
    if (date.day_of_year == kNoDayOfYear) day_failure(record);
    landuse_cell_day at = date;
    const fix_point_day_failure failure =
        record.AtCell(1, 1, 1, kFixPointReferenceAltitude, fix_point_days_, at);
    if (failure.point > 0) {
      WriteFixPointDayFailure(messages, failure);
      throw ErrorCode{kAltitudeCorrectionErrorCode};
    }
    common[static_cast<std::size_t>(k)] = record.ValueOn(&landuse_fix_point_lists::Albedo, at);
  }

  double** landuse = landuse_[1];
  for (int r = first_row; r <= last_row; ++r) {
    double* out = snow_free_albedo_[r];
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (zone_grid[r][c] == nodata_value) continue;
      const double value = landuse[r][c];
      const int k = value > nodata_value && value < record_count + 1.0 ? static_cast<int>(value) : 0;
      if (k < 1) {
        out[c] = nodata_value;
        continue;
      }
      const double shared = common[static_cast<std::size_t>(k)];
      if (!std::isnan(shared)) {
        out[c] = shared;
        continue;
      }
      const landuse_table_entry& record = landuse_table[k];
      if (date.day_of_year == kNoDayOfYear) day_failure(record);
      landuse_cell_day at = date;
      const fix_point_day_failure failure = record.AtCell(1, r, c, elevation_[r][c], fix_point_days_, at);
      if (failure.point > 0) {
        WriteFixPointDayFailure(messages, failure);
        throw ErrorCode{kAltitudeCorrectionErrorCode};
      }
      out[c] = record.ValueOn(&landuse_fix_point_lists::Albedo, at);
    }
  }
}

double schneemodellklasse::CellSnowStep(int row, int col, double t_air, double weight, double input_water,
                                        double& solid, double& liquid, double extra_solid, bool second_part,
                                        deferred_part* defer) {
  snow_cell_forcing f;
  f.t_air = t_air;
  f.input_water = input_water;
  f.canopy_unload = extra_solid;
  if (in_.wind) f.wind_speed = in_.wind[row][col];
  if (in_.vapour_pressure) f.vapour_pressure = in_.vapour_pressure[row][col];
  if (in_.deposition_index) f.deposition_index = in_.deposition_index[row][col];
  if (in_.radiation_correction) f.radiation_factor = RadiationMeltFactor(in_.radiation_correction[row][col]);
  f.lake = lakes_on_ && in_.lake_codes[row][col] > 0.0 && in_.pond[row][col] > 0.0;
  const snow_part_result part = SnowStepPart(constants_, f, weight, solid, liquid);
  // The step's snowfall and rain are those of its parts, each by its weight.
  double& snowfall = snow_fraction_.data[row][col];
  double& rain = rain_fraction_.data[row][col];
  snowfall = (second_part ? snowfall : 0.0) + weight * part.snowfall;
  rain = (second_part ? rain : 0.0) + weight * part.rain;
  // Only the deposition-index methods change the input water; the others
  // leave its grid untouched, unwritten.
  if (constants_.kind.deposition_index) {
    in_.water[row][col] += part.extra_input;
    double& gain = deposition_gain_.data[row][col];
    gain = (second_part ? gain : 0.0) + part.extra_input;
  }
  if (constants_.kind.melt == snow_melt_kind::energy_balance)
    return EnergyBalanceCellPart(row, col, f, part, weight, solid, liquid, balance_cover_, defer);
  return part.melt;
}

double schneemodellklasse::GlacierSnowPart(int r, int c, double t_air, double weight, double input_water,
                                           double& solid, double& liquid) {
  snow_cell_forcing f;
  f.t_air = t_air;
  f.input_water = input_water;
  if (in_.wind) f.wind_speed = in_.wind[r][c];
  if (in_.vapour_pressure) f.vapour_pressure = in_.vapour_pressure[r][c];
  if (in_.radiation_correction) f.radiation_factor = RadiationMeltFactor(in_.radiation_correction[r][c]);
  const snow_part_result part = SnowStepPart(glacier_snow_constants_, f, weight, solid, liquid);
  if (glacier_snow_constants_.kind.melt == snow_melt_kind::energy_balance)
    return EnergyBalanceCellPart(r, c, f, part, weight, solid, liquid, balance_cover_on_glacier_);
  return part.melt;
}

schneemodellklasse::glacier_row schneemodellklasse::GlacierRow(int r) const {
  glacier_row g;
  g.shares = glacier_shares_[r];
  g.subbasins = subbasin_grid_[r];
  g.firn_melt = firn_melt_.data[r];
  g.ice_melt = ice_melt_.data[r];
  g.snowfall = snow_fraction_.data[r];
  g.rain = rain_fraction_.data[r];
  g.radiation = radiation_ ? radiation_[r] : nullptr;
  g.debris = debris_ ? debris_[r] : nullptr;
  if (!glacier.kind.dynamic) return g;
  g.solid = solid_on_glacier_.data[r];
  g.liquid = liquid_on_glacier_.data[r];
  g.total = total_on_glacier_.data[r];
  g.snow_melt = snow_melt_on_glacier_.data[r];
  g.firn_sum = firn_sum_.data[r];
  g.balance = mass_balance_.data[r];
  g.evaporation = snow_evaporation_on_glacier_.data[r];
  g.firn = firn_stack_.get()[r];
  return g;
}

// The glacier branch of the cell step: both covers, then firn or ice.
inline schneemodellklasse::glacier_cell_outcome schneemodellklasse::GlacierCell(
    const glacier_row& g, int r, int c, double t_first, double first_weight, double t_air, bool two_parts,
    double input_water, double unload, double& solid, double& liquid) {
  glacier_cell_outcome o;
  const bool dynamic = glacier.kind.dynamic;
  double* glacier_solid = dynamic ? &g.solid[c] : nullptr;
  double* glacier_liquid = dynamic ? &g.liquid[c] : nullptr;
  const double radiation = g.radiation ? g.radiation[c] : 0.0;
  double snow_melt = 0.0;
  if (!glacier.kind.snow_method) {
    const glacier_cover_result cover =
        GlacierIndexCovers(glacier_constants_, t_air, input_water, unload, radiation, solid, liquid,
                           glacier_solid, glacier_liquid);
    g.snowfall[c] = cover.snowfall;
    g.rain[c] = cover.rain;
    // The glacier's index methods take the snowfall as it fell.
    if (deposition_gain_.data) deposition_gain_.data[r][c] = 0.0;
    o.outflow = cover.outflow;
    o.melt_outflow = cover.melt_outflow;
    o.glacier_outflow = cover.glacier_outflow;
    snow_melt = cover.glacier_melt;
  } else {
    // Method 13: both covers by the snow method, with its night and day parts.
    double melt = CellSnowStep(r, c, t_first, first_weight, input_water, solid, liquid, unload);
    if (two_parts) melt += CellSnowStep(r, c, t_air, day_fraction, input_water, solid, liquid, unload, true);
    // The deposition index adds to the ordinary cover, which lies over the
    // glacier-free share.
    if (deposition_gain_.data) deposition_gain_.data[r][c] *= 1.0 - CellGlacierShare(g.shares[c]);
    const snow_release release = ReleaseLiquid(melt, parameters.CWH, solid, liquid);
    o.outflow = release.outflow;
    o.melt_outflow = release.melt_outflow;
    // The energy balance reports what the parts of this step sublimate from
    // the snow on the glacier share.
    if (EnergyBalance()) snow_evaporation_on_glacier_.data[r][c] = 0.0;
    double glacier_melt =
        GlacierSnowPart(r, c, t_first, first_weight, input_water, *glacier_solid, *glacier_liquid);
    if (two_parts)
      glacier_melt +=
          GlacierSnowPart(r, c, t_air, day_fraction, input_water, *glacier_solid, *glacier_liquid);
    snow_melt = glacier_melt < *glacier_solid ? glacier_melt : *glacier_solid;
    o.glacier_outflow = ReleaseLiquid(snow_melt, parameters.CWH, *glacier_solid, *glacier_liquid).outflow;
  }

  // Firn shows where the stack holds some (static: "ice_firn" code 2).
  constexpr long kFirnCode = 2;
  const bool firn_surface = dynamic ? g.firn_sum[c] > 0.0 : std::lround(g.shares[c]) == kFirnCode;
  const double debris = g.debris ? DebrisFactor(g.debris[c], nodata_value) : 1.0;
  firn_ice_melt melt = FirnAndIceMelt(glacier_constants_, t_air, dynamic ? *glacier_solid : solid,
                                      firn_surface, debris, radiation, snow_melt);
  if (dynamic && melt.firn > 0.0) {
    // What the firn cannot supply melts from the ice below it.
    double* levels = g.firn[c];
    const double rest = TakeFromFirn(levels, firn_levels, melt.firn, nodata_value);
    melt.firn -= rest;
    melt.ice += rest;
    g.firn_sum[c] = levels[0];
  }
  o.firn_melt = melt.firn;
  o.ice_melt = melt.ice;
  // Most cells melt as much as in the step before, or nothing.
  if (g.firn_melt[c] != melt.firn) g.firn_melt[c] = melt.firn;
  if (g.ice_melt[c] != melt.ice) g.ice_melt[c] = melt.ice;
  if (dynamic) {
    const double total = *glacier_solid + *glacier_liquid;
    if (g.snow_melt[c] != o.glacier_outflow) g.snow_melt[c] = o.glacier_outflow;
    if (g.total[c] != total) g.total[c] = total;
  }
  return o;
}

// Sums of the glacier tables over a run of cells of one subbasin and one
// zone, in registers; they go to the module's sums when the run ends.
class schneemodellklasse::glacier_run {
 public:
  explicit glacier_run(schneemodellklasse& m) : m_(m) {}
  ~glacier_run() { Flush(); }
  glacier_run(const glacier_run&) = delete;
  glacier_run& operator=(const glacier_run&) = delete;

  // Cell `c` of the row `g` in model zone `zone`, after its step; the
  // dynamic methods first add the step to its mass balance (`slide_gain`:
  // what the slides brought).
  void Add(const glacier_row& g, int c, int zone, double cell_weight, double share, double cover,
           const glacier_cell_outcome& o, double slide_gain) {
    const double subbasin_value = g.subbasins[c];
    if (subbasin_value != subbasin_value_ || zone != zone_) Change(subbasin_value, zone);
    sum_.cells += 1.0;
    sum_.divisor += cell_weight;
    zone_sum_.value += cell_weight * cover * (1.0 - share);
    if (!(share > 0.0)) return;
    const double w = cell_weight * share;
    const double firn = g.firn_sum ? g.firn_sum[c] : 0.0;
    sum_.ice += w * o.ice_melt;
    // The snow melt of a firn cell counts with the firn.
    if (firn > 0.0) {
      sum_.firn += w * (o.firn_melt + o.glacier_outflow);
    } else {
      sum_.firn += w * o.firn_melt;
      sum_.snow += w * o.glacier_outflow;
    }
    if (!g.balance) return;
    // The snow evaporation of the glacier share left before the step.
    double& balance = g.balance[c];
    balance += g.rain[c] + g.snowfall[c] - o.glacier_outflow - o.firn_melt - o.ice_melt + slide_gain -
               g.evaporation[c];
    sum_.firn_water += w * firn;
    sum_.balance += w * balance;
    sum_.shares += share;
    sum_.share_divisor += w;
  }

 private:
  [[gnu::noinline]] void Change(double subbasin_value, int zone) {
    Flush();
    subbasin_value_ = subbasin_value;
    subbasin_ = m_.SubbasinOf(subbasin_value);
    zone_ = zone;
  }
  void Flush() {
    if (sum_.cells == 0.0) return;
    glacier_subbasin_sums& to = m_.glacier_sums_[static_cast<std::size_t>(subbasin_)];
    to.cells += sum_.cells;
    to.divisor += sum_.divisor;
    to.ice += sum_.ice;
    to.firn += sum_.firn;
    to.snow += sum_.snow;
    to.firn_water += sum_.firn_water;
    to.balance += sum_.balance;
    to.shares += sum_.shares;
    to.share_divisor += sum_.share_divisor;
    if (!m_.storage_without_glaciers_sums_.empty()) {
      zone_sums& z = m_.storage_without_glaciers_sums_[static_cast<std::size_t>(zone_)];
      z.cells += sum_.cells;
      z.divisor += sum_.divisor;
      z.value += zone_sum_.value;
    }
    sum_ = glacier_subbasin_sums{};
    zone_sum_ = zone_sums{};
  }

  schneemodellklasse& m_;
  double subbasin_value_ = std::numeric_limits<double>::quiet_NaN();
  int subbasin_ = 0;
  int zone_ = -1;
  glacier_subbasin_sums sum_;
  zone_sums zone_sum_;
};

// Flattened so that the cell step and the statistics of a cell are inlined
// into the cell loop.
[[gnu::flatten]] void schneemodellklasse::RunTimeStep(int minute, int hour, int day, int month, int year) {
  ReportProgress(minute, hour, day, month, year);
  if (flow_control_parameter == 0 || !HasDate(day, month)) return;
  if (!linked_) LinkInputGrids(false);

  // The seasonal terms of a step that ends at 00:00 are those of the day it ends.
  const model_date step = EndOfDayForm(model_date{minute, hour, day, month, year}, interval_end_shift);
  constants_.ddf = MidMonthValue(parameters.DDF, step.day, step.month, month_lengths);
  constants_.c0 = MidMonthValue(parameters.c0, step.day, step.month, month_lengths);
  constants_.c1 = MidMonthValue(parameters.c1, step.day, step.month, month_lengths);
  constants_.rmf = SeasonalMeltFactor(step.day, step.month);
  if (glaciers_on) {
    if (glacier_cells_changed_) ClearGlacierFreeCells();
    glacier_constants_ =
        GlacierStepConstants(glacier, steps_per_day, SeasonalSnowFactor(step.day, step.month),
                             SeasonalIceFactor(step.day, step.month));
    glacier_constants_.t0 = parameters.T0;
    glacier_constants_.t0r = parameters.T0R;
    glacier_constants_.transzone = parameters.transzone;
    glacier_constants_.cwh = parameters.CWH;
    glacier_snow_constants_ = constants_;
    glacier_snow_constants_.kind.deposition_index = false;
  }
  DaylightFraction();
  RefreshSnowFreeAlbedo(step.hour, step.day, step.month, step.year);
  StartStatistics();

  const bool two_parts = time_interval > kLongestSinglePart;
  const double first_weight = two_parts ? night_fraction : 1.0;
  const double step_days = 1.0 / steps_per_day;
  const double cwh = parameters.CWH;
  const double t0r = parameters.T0R;
  const double transzone = parameters.transzone;
  const bool statistics_here = !parameters.kind.slides;
  const bool tracers = tracer_count > 0;
  const bool energy_balance = EnergyBalance();
  // Without a table of the pack or surface temperature no cell visits them.
  const bool temperature_statistics = energy_balance && (temperature_tables_[0] || temperature_tables_[1]);
  const bool glaciers = glaciers_on;
  zone_run<kCoverValuesWithoutSlides> statistics(cover_tables_, nodata_value);
  glacier_run glacier_statistics(*this);
  snow_albedo_decay decay(parameters.ALBsnow_min, parameters.ALBsnow_max);

  // With one part per step and neither glaciers nor tracers, the surface
  // searches of a row's cold parts run together: a first pass steps each
  // cell up to its search, a second finishes them.
  const bool row_searches = energy_balance && !two_parts && !glaciers && !tracers;

  for (int r = first_row; r <= last_row; ++r) {
    const double* zone_row = zone_grid[r];
    const double* region_row = regions_ ? regions_[r] : nullptr;
    const double* temperature_row = in_.temperature[r];
    const double* first_temperature_row = two_parts ? in_.night_temperature[r] : temperature_row;
    const double* unload_row = in_.canopy_unload ? in_.canopy_unload[r] : nullptr;
    const double* snow_free_row = snow_free_albedo_[r];
    double* water_row = in_.water[r];
    double* solid_row = solid_.data[r];
    double* liquid_row = liquid_.data[r];
    double* total_row = total_.data[r];
    double* days_row = snow_days_.data[r];
    double* age_row = snow_age_.data[r];
    double* albedo_row = albedo_[r];
    double* snowfall_row = snow_fraction_.data[r];
    double* rain_row = rain_fraction_.data[r];
    const double* gain_row = deposition_gain_.data ? deposition_gain_.data[r] : nullptr;
    double* outflow_row = outflow_.data[r];
    double* melt_row = melt_.data[r];
    const glacier_row glacier_cells = glaciers ? GlacierRow(r) : glacier_row{};
    const double* share_row = glacier_cells.shares;
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    const auto skipped = [&](int c) {
      return zone_row[c] == nodata_value || (region_row && static_cast<int>(region_row[c]) != process_index);
    };
    // The balance takes the albedo before the melt; the cell's snow
    // evaporation is what the parts of this step sublimate.
    const auto start_balance = [&](int c, double cover, double t_air) {
      albedo_row[c] =
          cover > kSnowAlbedoThresholdBeforeMelt ? decay.Albedo(age_row[c], t_air) : snow_free_row[c];
      if (snow_evaporation_) snow_evaporation_[r][c] = 0.0;
    };
    // The cell after its snow step: storages, albedo and statistics.
    const auto finish_cell = [&](int c, double t_air, double solid, double liquid,
                                 const snow_release& release, double share,
                                 const glacier_cell_outcome& glacier_cell) {
      const double input_after = water_row[c];
      outflow_row[c] = release.outflow;
      melt_row[c] = release.melt_outflow;
      const double cover = solid + liquid;
      if (!std::isfinite(cover + release.outflow)) [[unlikely]]
        RaiseNotFiniteCover(r, c, solid, liquid, release.outflow);

      // The cell's albedo is the one after the melt.
      const cover_after_step after = CoverAfterStep(age_row[c], t_air, t0r, transzone, input_after, cover,
                                                    step_days, snow_free_row[c], decay);
      days_row[c] = after.days;
      age_row[c] = after.age;
      albedo_row[c] = after.albedo;
      solid_row[c] = solid;
      liquid_row[c] = liquid;
      total_row[c] = cover;
      const int zone_index = zone_code_map[static_cast<int>(zone_row[c])];
      const double cell_weight = StatisticsCellWeight(cell_weights, r, c, nrows, ncols);
      if (permafrost_on) PermafrostCell(r, c, zone_index, cell_weight, cover, step_days);
      if (!statistics_here) return;
      statistics.Add(r, c, zone_index, cell_weight,
                     {cover, release.outflow, release.melt_outflow, after.days, after.age, snowfall_row[c],
                      rain_row[c], after.albedo, gain_row ? gain_row[c] : 0.0});
      if (temperature_statistics) AddTemperatureStatistics(r, c, zone_index);
      if (glaciers)
        glacier_statistics.Add(glacier_cells, c, zone_index, cell_weight, share, cover, glacier_cell, 0.0);
      if (tracers && share <= 0.0) AddTracerStatistics(r, c, zone_index);
    };

    if (row_searches) {
      int searching = 0;
      for (int c = cols.first; c <= cols.last; ++c) {
        if (skipped(c)) continue;
        double solid = solid_row[c];
        double liquid = liquid_row[c];
        start_balance(c, solid + liquid, temperature_row[c]);
        deferred_part& part = deferred_[static_cast<std::size_t>(searching)];
        part.pending = false;
        const double melt = CellSnowStep(r, c, first_temperature_row[c], first_weight, water_row[c], solid,
                                         liquid, unload_row ? unload_row[c] : 0.0, false, &part);
        row_cell& cell = row_cells_[static_cast<std::size_t>(c)];
        cell = {solid, liquid, melt, -1};
        if (!part.pending) continue;
        searches_[static_cast<std::size_t>(searching)] = part.start.search;
        cell.deferred = searching++;
      }
      IterateSurfaceTemperatures(searching, searches_.data(), found_.data());
      for (int c = cols.first; c <= cols.last; ++c) {
        if (skipped(c)) continue;
        const row_cell& cell = row_cells_[static_cast<std::size_t>(c)];
        double solid = cell.solid;
        double liquid = cell.liquid;
        double melt = cell.melt;
        if (cell.deferred >= 0) {
          const auto i = static_cast<std::size_t>(cell.deferred);
          deferred_part& part = deferred_[i];
          melt = FinishColdPart(balance_, part.start, found_[i], part.weight, part.cell).melt;
          StoreBalanceCell(r, c, part.cell, balance_cover_, solid, liquid);
        }
        const snow_release release = ReleaseLiquid(melt, cwh, solid, liquid);
        finish_cell(c, temperature_row[c], solid, liquid, release, 0.0, glacier_cell_outcome{});
      }
      continue;
    }

    for (int c = cols.first; c <= cols.last; ++c) {
      if (skipped(c)) continue;

      const double input_water = water_row[c];
      const double unload = unload_row ? unload_row[c] : 0.0;
      double solid = solid_row[c];
      double liquid = liquid_row[c];
      const double t_air = temperature_row[c];
      if (energy_balance) start_balance(c, solid + liquid, t_air);
      const double share = share_row ? CellGlacierShare(share_row[c]) : 0.0;
      glacier_cell_outcome glacier_cell;
      snow_release release;
      if (share > 0.0) {
        glacier_cell = GlacierCell(glacier_cells, r, c, first_temperature_row[c], first_weight, t_air,
                                   two_parts, input_water, unload, solid, liquid);
        release = {glacier_cell.outflow, glacier_cell.melt_outflow};
      } else {
        if (tracers) TracersBeforeStep(r, c, input_water, solid + liquid);
        // Steps over 720 minutes: the night part first, then the day part.
        double melt =
            CellSnowStep(r, c, first_temperature_row[c], first_weight, input_water, solid, liquid, unload);
        if (two_parts)
          melt += CellSnowStep(r, c, t_air, day_fraction, input_water, solid, liquid, unload, true);
        release = ReleaseLiquid(melt, cwh, solid, liquid);
        if (tracers) TracersAfterStep(r, c, release.outflow, solid + liquid);
      }
      finish_cell(c, t_air, solid, liquid, release, share, glacier_cell);
    }
  }
}

void schneemodellklasse::RaiseNotFiniteCover(int r, int c, double solid, double liquid,
                                             double outflow) const {
  if (!std::isfinite(solid)) RaiseNotFinite("snowstorage_solid", r, c, solid);
  if (!std::isfinite(liquid)) RaiseNotFinite("snowstorage_liquid", r, c, liquid);
  RaiseNotFinite("snowcover_outflow", r, c, outflow);
}

[[gnu::noinline]] void schneemodellklasse::PermafrostCell(int r, int c, int zone, double cell_weight,
                                                          double cover, double step_days) {
  const double coefficient = thaw_coefficient_[r][c];
  // Without a thaw coefficient a cell has no permafrost.
  if (coefficient == nodata_value) return;
  permafrost_cell cell{snow_cover_days_.data[r][c], snow_free_days_.data[r][c], thaw_depth_[r][c]};
  PermafrostStep(permafrost, cover, coefficient, step_days, cell);
  snow_cover_days_.data[r][c] = cell.snow_cover_days;
  snow_free_days_.data[r][c] = cell.snow_free_days;
  thaw_depth_[r][c] = cell.thaw_depth;
  if (cell.thaw_depth < root_depth_[r][c]) CutRootZone(r, c, cell.thaw_depth);
  zone_sums& sum = thaw_depth_sums_[static_cast<std::size_t>(zone)];
  sum.cells += 1.0;
  sum.divisor += cell_weight;
  sum.value += cell_weight * cell.thaw_depth;
}

void schneemodellklasse::FindRootZone() {
  root_zone_found_ = true;
  root_layers_.assign(static_cast<std::size_t>(layer_count) + 1, nullptr);
  for (int l = 1; l <= layer_count; ++l)
    root_layers_[static_cast<std::size_t>(l)] = OptionalGridData("root_depth" + std::to_string(l), true);
  root_layers_[1] = root_depth_;
  root_zone_.capacity = OptionalGridData("available_soil_moisture", true);
  root_zone_.storage = OptionalGridData("soil_storage", true);
  root_zone_.storage_old = OptionalGridData("soil_storage_old", true);
  root_zone_.inactive_capacity = OptionalGridData("inaktive_field_capacity", true);
  root_zone_.inactive_moisture = OptionalGridData("inaktive_soil_moisture", true);
  root_zone_.saturated_partition = OptionalGridData("saturated_soil_partition", true);
}

// The roots of layer 1 end at `depth`; when that shallows the root zone (the
// deepest roots of the layers) its capacity shrinks as with any change of
// root depth, and the water of that capacity goes to the inactive soil.
[[gnu::noinline]] void schneemodellklasse::CutRootZone(int r, int c, double depth) {
  if (!root_zone_found_) FindRootZone();
  const auto deepest = [&] {
    double roots = root_depth_[r][c];
    for (std::size_t l = 2; l < root_layers_.size(); ++l)
      if (root_layers_[l] && root_layers_[l][r][c] > roots) roots = root_layers_[l][r][c];
    return roots;
  };
  const double before = deepest();
  root_depth_[r][c] = depth;
  const double after = deepest();
  if (after < before && root_zone_.Complete()) UpdateRootZone(root_zone_, r, c, before, after);
}

void schneemodellklasse::RunGlacierStep(int minute, int hour, int day, int month, int year) {
  // The progress line of the step was written by RunTimeStep.
  current_date = model_date{minute, hour, day, month, year};
  if (flow_control_parameter == 0 || !HasDate(day, month)) return;
  if (parameters.kind.slides) {
    slide_grids g;
    g.zone = zone_grid;
    for (int k = 0; k < kSlideNeighbourCount; ++k) g.fraction[k] = slide_fraction_[k];
    g.slope = slope_;
    g.max_deposition = max_deposition_.data;
    g.solid = solid_.data;
    g.liquid = liquid_.data;
    g.total = total_.data;
    g.input_mass = input_mass_.data;
    g.mobile_mass = mobile_mass_.data;
    g.deposition = deposition_.data;
    if (glaciers_on && glacier.kind.dynamic) {
      g.glacier_share = glacier_shares_;
      g.solid_on_glacier = solid_on_glacier_.data;
      g.liquid_on_glacier = liquid_on_glacier_.data;
      g.total_on_glacier = total_on_glacier_.data;
    }
    RunSnowSlides(g, slide_parameters{parameters.minSlideSlope, parameters.slideMassFrac}, slide_order_,
                  nrows, ncols, row_ranges, nodata_value);
    AccumulateStatistics();
  }
  if (glaciers_on) {
    FeedGlacierTables();
    RunGlacierStorages();
  }
  if (permafrost_on) {
    for (int z = 1; z <= zone_count; ++z) {
      const zone_sums& sum = thaw_depth_sums_[static_cast<std::size_t>(z)];
      thaw_depth_table_->AddZoneSums(z, sum.cells, sum.value, sum.divisor);
    }
  }
  EndStatistics(minute, hour, day, month, year);
  // A step that ends at 00:00 ends the day before.
  const model_date step = EndOfDayForm(model_date{minute, hour, day, month, year}, interval_end_shift);
  const bool evaluation_day = step.day == glacier.GMBEvalDay && step.month == glacier.GMBEvalMonth;
  const int step_end = step.hour * kMinutesPerHour + step.minute + static_cast<int>(min_to_int_end);
  if (glaciers_on && glacier.kind.dynamic && evaluation_day && step_end == kMinutesPerDay)
    EvaluateGlacierYear();
  WriteOutputs();
}

// ================================================================ tracers

[[gnu::noinline]] void schneemodellklasse::TracersBeforeStep(int r, int c, double input_water, double cover) {
  for (int k = 1; k <= tracer_count; ++k) {
    tracer_storage& storage = tracer_storages[static_cast<std::size_t>(k)];
    const tracer_description& tracer = (*tracer_descriptions)[static_cast<std::size_t>(k)];
    double& stored = storage.storage_grid[r][c];
    if (tracer.radioactive == 1) stored *= storage.decay_factor;
    if (!(input_water > 0.0) || !storage.input_grid) continue;
    const double input = storage.input_grid[r][c];
    // An evaporating tracer is kept as a concentration, any other as the mass
    // the cover holds.
    stored = tracer.evaporating == 1 ? MixedConcentration(stored, input, cover, input_water)
                                     : stored + input * input_water;
  }
}

[[gnu::noinline]] void schneemodellklasse::TracersAfterStep(int r, int c, double outflow, double cover) {
  for (int k = 1; k <= tracer_count; ++k) {
    tracer_storage& storage = tracer_storages[static_cast<std::size_t>(k)];
    const tracer_description& tracer = (*tracer_descriptions)[static_cast<std::size_t>(k)];
    double& stored = storage.storage_grid[r][c];
    double& flux = storage.flux_grid[r][c];
    if (tracer.evaporating == 1) {
      flux = stored;
      continue;
    }
    const double water = outflow + cover;
    const double share = water > 0.0 ? stored * outflow / water : 0.0;
    const double removed = std::min(outflow * tracer.max_conc, share);
    stored -= removed;
    flux = outflow > 0.0 ? removed / outflow : 0.0;
  }
}

// ================================================================ statistics and outputs

void schneemodellklasse::StartStatistics() {
  for (auto& table : statistics_) table->table->StartStep();
  std::fill(glacier_sums_.begin(), glacier_sums_.end(), glacier_subbasin_sums{});
  std::fill(storage_without_glaciers_sums_.begin(), storage_without_glaciers_sums_.end(), zone_sums{});
  std::fill(thaw_depth_sums_.begin(), thaw_depth_sums_.end(), zone_sums{});
  for (int k = 1; k <= tracer_count; ++k) {
    zonalstatistic* table = tracer_storages[static_cast<std::size_t>(k)].statistics.get();
    if (table) table->StartStep();
  }
}

[[gnu::noinline]] void schneemodellklasse::AddTracerStatistics(int r, int c, int zone) {
  for (int k = 1; k <= tracer_count; ++k) {
    tracer_storage& storage = tracer_storages[static_cast<std::size_t>(k)];
    if (!storage.statistics) continue;
    const double stored = storage.storage_grid[r][c];
    // An evaporating tracer's concentration is weighted by the water of the
    // cover, any other tracer's mass counts per cell.
    const bool evaporating = (*tracer_descriptions)[static_cast<std::size_t>(k)].evaporating == 1;
    storage.statistics->AddCell(r, c, zone, stored,
                                evaporating ? solid_.data[r][c] + liquid_.data[r][c] : 1.0);
  }
}

// The statistics of the cells after the slides.
void schneemodellklasse::AccumulateStatistics() {
  zone_run<kCoverValueCount> statistics(cover_tables_, nodata_value);
  glacier_run glacier_statistics(*this);
  for (int r = first_row; r <= last_row; ++r) {
    const double* zone_row = zone_grid[r];
    const double* region_row = regions_ ? regions_[r] : nullptr;
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      const double zone = zone_row[c];
      if (zone == nodata_value) continue;
      if (region_row && static_cast<int>(region_row[c]) != process_index) continue;
      const int zone_index = zone_code_map[static_cast<int>(zone)];
      const double cell_weight = StatisticsCellWeight(cell_weights, r, c, nrows, ncols);
      const double cover = solid_.data[r][c] + liquid_.data[r][c];
      statistics.Add(r, c, zone_index, cell_weight,
                     {cover, outflow_.data[r][c], melt_.data[r][c], snow_days_.data[r][c],
                      snow_age_.data[r][c], snow_fraction_.data[r][c], rain_fraction_.data[r][c],
                      albedo_[r][c], deposition_gain_.data ? deposition_gain_.data[r][c] : 0.0,
                      input_mass_.data[r][c], mobile_mass_.data[r][c], deposition_.data[r][c]});
      if (EnergyBalance()) AddTemperatureStatistics(r, c, zone_index);
      const double share = glaciers_on ? CellGlacierShare(glacier_shares_[r][c]) : 0.0;
      if (glaciers_on) {
        const glacier_row g = GlacierRow(r);
        glacier_cell_outcome o;
        if (share > 0.0) {
          o.firn_melt = g.firn_melt[c];
          o.ice_melt = g.ice_melt[c];
          o.glacier_outflow = g.snow_melt ? g.snow_melt[c] : outflow_.data[r][c];
        }
        const double slide_gain = mobile_mass_.data[r][c] + deposition_.data[r][c] - input_mass_.data[r][c];
        glacier_statistics.Add(g, c, zone_index, cell_weight, share, cover, o, slide_gain);
      }
      if (tracer_count > 0 && share <= 0.0) AddTracerStatistics(r, c, zone_index);
    }
  }
}

void schneemodellklasse::EndStatistics(int minute, int hour, int day, int month, int year) {
  constexpr int kEndStepFlag = 1;
  for (auto& table : statistics_) table->table->EndStep(year, month, day, hour, minute, kEndStepFlag);
}

void schneemodellklasse::WriteOutputs() {
  for (const module_grid* grid : {&total_, &solid_, &liquid_, &snow_days_, &snow_age_, &snow_fraction_,
                                  &rain_fraction_, &deposition_gain_, &outflow_, &melt_, &input_mass_,
                                  &mobile_mass_, &deposition_, &snow_temperature_, &surface_temperature_}) {
    if (grid->registered) WriteGridOutput(grid->index, 1, false);
  }
  if (glaciers_on) WriteGlacierOutputs();
  const model_date& d = current_date;
  for (int k = 1; k <= tracer_count; ++k) {
    tracer_storage& storage = tracer_storages[static_cast<std::size_t>(k)];
    if (storage.statistics) storage.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, 1);
    if (storage.storage_grid_index > 0) WriteGridOutput(storage.storage_grid_index, 1, false);
  }
}

void schneemodellklasse::FlushBuffers() {
  if (flow_control_parameter == 0) return;
  for (auto& table : statistics_) table->table->FlushRows();
  for (int k = 1; k <= tracer_count; ++k) {
    zonalstatistic* table = tracer_storages[static_cast<std::size_t>(k)].statistics.get();
    if (table) table->FlushRows();
  }
}

// ================================================================ clean-up

void schneemodellklasse::CleanUp() {
  if (cleaned_up) return;
  if (flow_control_parameter >= 1) {
    if (ready) WriteStorageFile(1);
    // Every table is closed even when one cannot be written; the first
    // failure is reported afterwards.
    ErrorCode failure = 0;
    for (auto& table : statistics_) {
      try {
        table->table->CleanUp();
      } catch (ErrorCode code) {
        if (failure == 0) failure = code;
      }
    }
    statistics_.clear();
    cover_tables_.fill(nullptr);
    temperature_tables_.fill(nullptr);
    for (module_grid* grid : {&solid_,
                              &liquid_,
                              &total_,
                              &snow_days_,
                              &snow_age_,
                              &max_deposition_,
                              &order_row_,
                              &order_col_,
                              &input_mass_,
                              &mobile_mass_,
                              &deposition_,
                              &snow_fraction_,
                              &rain_fraction_,
                              &deposition_gain_,
                              &outflow_,
                              &melt_,
                              &firn_melt_,
                              &ice_melt_,
                              &firn_sum_,
                              &mass_balance_,
                              &old_mass_balance_,
                              &solid_on_glacier_,
                              &liquid_on_glacier_,
                              &total_on_glacier_,
                              &old_shares_,
                              &old_codes_,
                              &snow_melt_on_glacier_,
                              &snow_evaporation_on_glacier_,
                              &snow_free_days_,
                              &snow_cover_days_,
                              &snow_temperature_,
                              &surface_temperature_,
                              &energy_balance_,
                              &snow_temperature_on_glacier_,
                              &surface_temperature_on_glacier_,
                              &energy_balance_on_glacier_}) {
      if (grid->registered) ReleaseGrid(grid->index);
      grid->registered = false;
    }
    firn_melt_table_ = ice_melt_table_ = snow_melt_table_ = total_melt_table_ = nullptr;
    storage_without_glaciers_table_ = firn_table_ = mass_balance_table_ = glacier_mass_balance_table_ =
        nullptr;
    thaw_depth_table_ = nullptr;
    glaciers.records.clear();
    glaciers.positions.clear();
    if (failure != 0) {
      modelobject::CleanUp();
      throw ErrorCode{failure};
    }
  }
  modelobject::CleanUp();
}

}  // namespace velmo
