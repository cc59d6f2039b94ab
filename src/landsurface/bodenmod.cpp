// The soil model: construction, lake set-up, input water, time step, statistics and clean-up.
#include "landsurface/bodenmod.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/lake_section.h"
#include "setup/section_reader.h"
#include "setup/tables.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "bodenmod";
// Titles of the statistics tables, in the order of soil_table_kind.
constexpr std::array<const char*, kSoilTableKinds> kTableTitles = {
    "gebildeter Direktabfluss in mm je Zone (QD)",
    "gebildeter Interflow in mm je Zone (Summe aus QBB, QB und QI)",
    "gebildeter schneller Basisabfluss in mm je Zone (Summe aus QBB und QB)",
    "gebildeter verzoegerter Basisabfluss in mm je Zone (QBB)",
    "gebildeter Gesamtabfluss in mm je Zone (Summe aus QBB, QB, QI und QD)",
    "Bodenspeicher in 1/1 je Zone ",
    "Drainspeicher in mm je Zone ",
    "Interflowspeicher in mm je Zone ",
    "Saettigungsdefizit in mm je Zone  "};
constexpr int kTableDecimals = 5;
// Peakflow is written at the end of the run only.
constexpr int kPeakflowWriteCode = 3;
constexpr const char* kSoilStorageOldFile = "$$sbold_grid$$";
// Travel times beyond this many steps are taken as a broken flow-time grid.
constexpr double kMaxTravelSteps = 1.0e6;
constexpr int kLakeMethodUnchanged = 1;
constexpr int kLakeMethodLowerElevation = 2;
constexpr int kElevationEntry = 2;

constexpr const char* kNoFlowTimesInfo =
    "INFO: \n------------------------------------------------------------------------\n\nWarning! There was "
    "no "
    "flow travel time grid for surface runoff read in\nAll surface runoof will be routed immediately to the "
    "outlet of the sub-basin\n(except the effects of a linear reservoir).\nA flow travel time grid may be "
    "created by QUANDRA, writing the\nflow travel times for each grid cell to the sub basins outlet in "
    "secounds\nwhich are reclassified into model time steps in "
    "Velmo.\n\n---------------------------------------"
    "---------------------------------\n";

std::string Formatted(const char* format, auto... values) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

}  // namespace

// ============================================================== construction

// The delayed baseflow storage starts empty whatever QBBini says: one warning
// for the run, naming the first subbasin that gives another value.
void bodenmodellklasse::WarnOfUnusedInitialBaseflow() {
  for (size_t i = 1; i < parameters.size(); ++i) {
    if (parameters[i].QBBini == 0.0) continue;
    *messages << "WARNING: QBBini of subbasin " << code[i] << " is " << parameters[i].QBBini << " in "
              << section_buffer << ", but the delayed baseflow storage starts empty: QBBini is not used"
              << "[end-entry]";
    return;
  }
}

bodenmodellklasse::bodenmodellklasse(MessageStream* stream, const model_settings& settings,
                                     grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kSoilModelName, shared_grids, true) {
  if (flow_control_parameter == 0) return;
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  layer_count = multilayer_table ? std::max(multilayer_table[1].LayerCount(), 1) : 1;

  section_reader in(*this, kReadingOn);
  section = ReadSoilSectionValues(in);
  method = section.method;

  RankZoneGrid(subbasin_grid, subbasin_zones, subbasin_code_map, subbasin_count, largest_subbasin_code);
  code.assign(static_cast<size_t>(subbasin_count) + 1, 0);
  for (int i = 1; i <= subbasin_count; ++i)
    code[static_cast<size_t>(i)] = ZoneCodeOf(subbasin_zones[static_cast<size_t>(i)].code);
  cell_subbasin.assign(static_cast<size_t>(nrows + 1) * (ncols + 1), 0);
  cell_slot.assign(cell_subbasin.size(), 0);
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      const double value = subbasin_grid[r][c];
      if (value == nodata_value) continue;
      const size_t cell = static_cast<size_t>(r) * (ncols + 1) + c;
      cell_subbasin[cell] = subbasin_code_map[static_cast<size_t>(ZoneCodeOf(value))];
      cell_slot[cell] = 1;  // travel-time zone 1 until the flow times say otherwise
    }
  }

  LookUpGrids();
  CheckCellInputs();
  BuildTravelTimeZones();
  CreateStatisticsTables();

  states.resize(static_cast<size_t>(subbasin_count) + 1);
  sums.resize(static_cast<size_t>(subbasin_count) + 1);
  subbasin_runoff = owned_matrix(matrix(0, 1, 0, subbasin_count + 1, 0));

  parameters =
      ReadSubbasinParameters(in, code, subbasin_code_map.data(), largest_subbasin_code, time_interval);
  WarnOfUnusedInitialBaseflow();
  // The subbasin values the cell step uses, side by side.
  cell_parameters.resize(parameters.size());
  for (size_t i = 1; i < parameters.size(); ++i) {
    const subbasin_parameters& p = parameters[i];
    cell_parameters[i] = {p.m, p.Kkorr, p.SHmax, p.k_ELS_QI, p.alpha, p.Pgrenz, p.Rrueck, p.QDsnow};
  }
  ReadStateSettings(in, section);
  storage_read_mode = section.read_mode;
  storage_file_name = section.storage_file;
  state_files = settings.state_files;
  in.Close();

  RegisterStateGrids();
  if ((*grids)[own_grid_index[kDeficitGrid]].HasOutput())
    written_deficit = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  RegisterFlowGrids();
  // The subbasins' means are over the soil cells, so the lake cells come first.
  InitLakeModel("[lake_model]");
  InitialiseSubbasins();
  CheckSoilCells();
  if (glacier_shares) {
    glacier_cells.assign(cell_subbasin.size(), 0);
    glacier_handover.assign(static_cast<size_t>(subbasin_count) + 1, 0.0);
    soil_weight_change.assign(static_cast<size_t>(subbasin_count) + 1, 0.0);
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        glacier_cells[static_cast<size_t>(r) * (ncols + 1) + c] =
            CellSubbasin(r, c) != 0 && IsGlacierCell(r, c);
  }
  if (storage_read_mode != 0) ReadStorageFile();
  LookUpStabilityGrids();
}

bodenmodellklasse::~bodenmodellklasse() = default;

void bodenmodellklasse::LookUpGrids() {
  conductivity = RequiredGridData("hydraulic_conductivity");
  topographic = RequiredGridData("topographic_faktor");
  soil_storage = RequiredGridData("soil_storage");
  available_soil_moisture = RequiredGridData("available_soil_moisture");
  root_depths.assign(static_cast<size_t>(layer_count) + 1, nullptr);
  for (int l = 1; l <= layer_count; ++l)
    root_depths[static_cast<size_t>(l)] = RequiredGridData("root_depth" + std::to_string(l));
  soil_types = RequiredGridData("soil_types");
  auto optional = [this](const char* grid_name) -> double** {
    const int index = FindGrid(grid_name, true);
    return index > 0 ? (*grids)[index].data : nullptr;
  };
  solid_snow = optional("snowstorage_solid");
  flow_times = optional("flow_times");
  if (!flow_times) *messages << kNoFlowTimesInfo << "[end-entry]";
  LookUpGlacierShares();

  // The soil records by position (the set-up object has replaced the codes
  // of "soil_types" by positions).
  const int records = soil_table ? soil_table[0].code : 0;
  drainable_porosity.assign(static_cast<size_t>(records) + 1, 0.0);
  soil_suction.assign(static_cast<size_t>(records) + 1, 0.0);
  for (int k = 1; k <= records; ++k) {
    drainable_porosity[static_cast<size_t>(k)] = soil_table[k].DrainablePorosity();
    soil_suction[static_cast<size_t>(k)] = soil_table[k].suction;
  }
}

// The subbasin means take the topographic index and the root zone's capacity
// of every cell: nodata there would spread through the whole subbasin.
void bodenmodellklasse::CheckCellInputs() {
  const std::array<std::pair<const char*, double**>, 2> inputs = {
      {{"topographic_faktor", topographic}, {"available_soil_moisture", available_soil_moisture}}};
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (CellSubbasin(r, c) == 0) continue;
      for (const auto& [grid_name, data] : inputs)
        if (data[r][c] == nodata_value)
          RaiseCellInput(r, c, grid_name, "holds no value (nodata)", data[r][c]);
    }
  }
}

// The soil cells (not lake or glacier cells) also need a soil record, a soil
// moisture and a conductivity.
void bodenmodellklasse::CheckSoilCells() {
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (CellSubbasin(r, c) == 0 || IsSpecialCell(r, c)) continue;
      if (!HasSoilRecord(soil_types[r][c]))
        RaiseCellInput(r, c, "soil_types", "names no record of the soil table", soil_types[r][c]);
      if (soil_storage[r][c] == nodata_value)
        RaiseCellInput(r, c, "soil_storage", "holds no value (nodata)", soil_storage[r][c]);
      // Converted to mm per step by now: nodata turned negative as well.
      if (!(conductivity[r][c] >= 0.0))
        RaiseCellInput(r, c, "hydraulic_conductivity", "holds no value or a negative one",
                       conductivity[r][c] / ConductivityPerStep(1.0, time_interval));
    }
  }
}

void bodenmodellklasse::RaiseCellInput(int r, int c, const char* grid_name, const char* fault,
                                       double value) const {
  *messages << "FATAL: the grid " << grid_name << " " << fault << " at row " << r << ", column " << c << " ("
            << value << "), a cell of subbasin " << ZoneCodeOf(subbasin_grid[r][c]) << " of " << name
            << "[end-entry]";
  throw ErrorCode{kSoilInputCellErrorCode};
}

void bodenmodellklasse::AppendToSoilLog(const std::string& text) {
  std::FILE* log = std::fopen(kSoilLogName, "a");
  if (!log) {
    *messages << "FATAL: logdatei laesst sich nicht oeffnen"
              << "[end-entry]";
    throw ErrorCode{kSoilLogErrorCode};
  }
  std::fwrite(text.data(), 1, text.size(), log);
  std::fclose(log);
}

void bodenmodellklasse::BuildTravelTimeZones() {
  *messages << "looking for longest flow travel time"
            << "[end-entry]";
  const size_t n = static_cast<size_t>(subbasin_count);
  std::vector<int> maxzeit(n + 1, flow_times ? 0 : 1);
  if (flow_times) {
    // A cell without a travel time, or one of 0 steps, reaches the outlet
    // within the step: its runoff must not stay behind in a zone 0.
    long lifted = 0;
    for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
      const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
      for (int c = cols.first; c <= cols.last; ++c) {
        const int z = CellSubbasin(r, c);
        if (z == 0) continue;
        double steps =
            flow_times[r][c] == nodata_value ? 0.0 : TravelTimeSteps(flow_times[r][c], time_interval);
        if (!(steps <= kMaxTravelSteps)) {
          *messages << "FATAL: the travel time " << flow_times[r][c] << " s at row " << r << ", column " << c
                    << " of the grid flow_times is more than " << kMaxTravelSteps << " steps of "
                    << time_interval << " minutes for " << name << "[end-entry]";
          throw ErrorCode{kSoilInputCellErrorCode};
        }
        if (steps < 1.0) {
          steps = 1.0;
          ++lifted;
        }
        flow_times[r][c] = steps;
        const int t = static_cast<int>(steps);
        cell_slot[static_cast<size_t>(r) * (ncols + 1) + c] = t;
        maxzeit[static_cast<size_t>(z)] = std::max(maxzeit[static_cast<size_t>(z)], t);
      }
    }
    if (lifted > 0)
      *messages << "WARNING: " << lifted
                << " cells of the grid flow_times hold no travel time or less than one "
                << "step; their runoff reaches the outlet of the subbasin after 1 step"
                << "[end-entry]";
  }

  // Zones 0..maxzeit of each subbasin in one block; slot 0 stands for no zone.
  size_t total = 1;
  for (size_t i = 1; i <= n; ++i) total += static_cast<size_t>(maxzeit[i]) + 1;
  travel_zones.assign(total, travel_zone{});
  slot_subbasin.assign(total, 0);
  states.resize(n + 1);
  size_t offset = 1;
  for (size_t i = 1; i <= n; ++i) {
    states[i].maxzeit = maxzeit[i];
    states[i].first_zone = static_cast<int>(offset);
    std::fill_n(slot_subbasin.begin() + static_cast<long>(offset), maxzeit[i] + 1, static_cast<int>(i));
    offset += static_cast<size_t>(maxzeit[i]) + 1;
  }
  for (size_t cell = 0; cell < cell_slot.size(); ++cell) {
    const int z = cell_subbasin[cell];
    if (z != 0) cell_slot[cell] += states[static_cast<size_t>(z)].first_zone;
  }

  if (!flow_times) {
    for (int i = 1; i <= subbasin_count; ++i) zoneFZT(i)[1].rel = 1.0;
    AppendToSoilLog("Fliesszeitverteilung wird nicht berechnet (kein FZT-Grid eingelesen)\n");
  } else {
    for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
      const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
      for (int c = cols.first; c <= cols.last; ++c) {
        const int z = CellSubbasin(r, c);
        if (z == 0) continue;
        travel_zone& zone =
            travel_zones[static_cast<size_t>(cell_slot[static_cast<size_t>(r) * (ncols + 1) + c])];
        zone.n += 1.0;
        zone.RelCellSum += cell_weights ? cell_weights[r][c] : 1.0;
      }
      *messages << ".";
    }
    *messages << "[end-entry]";

    std::string log = "Fliesszeitverteilung:\n";
    for (int i = 1; i <= subbasin_count; ++i) {
      const int zones = states[static_cast<size_t>(i)].maxzeit;
      travel_zone* fzt = zoneFZT(i);
      log += Formatted("TG\t%4d\t(%3d\tZonen):", code[static_cast<size_t>(i)], zones);
      double cells = 0.0;
      for (int k = 1; k <= zones; ++k) cells += fzt[k].n;
      if (zones < 1 || cells == 0.0) {
        AppendToSoilLog(log);
        *messages << "FATAL: all cells in flow time grid " << (*grids)[FindGrid("flow_times", true)].file_name
                  << ", sub basin " << code[static_cast<size_t>(i)] << " are NODATA!"
                  << "[end-entry]";
        throw ErrorCode{kFlowTimeCellsErrorCode};
      }
      for (int k = 1; k <= zones; ++k) {
        fzt[k].rel = fzt[k].n / cells;
        fzt[k].zonenwert = k;
        log += Formatted("\t%5.3f", fzt[k].rel);
      }
      if (!(fzt[1].rel > 0.0)) {
        AppendToSoilLog(log);
        *messages << "FATAL: Error in flow-travel-time grid: the first time zone of subbasin " << i
                  << " has no cells!"
                  << "[end-entry]";
        throw ErrorCode{kEmptyFirstTimeZoneErrorCode};
      }
      log += "\n";
    }
    AppendToSoilLog(log);
  }

  // From the far end: the area still in transit when runoff starts.
  for (int i = 1; i <= subbasin_count; ++i) {
    travel_zone* fzt = zoneFZT(i);
    for (int k = states[static_cast<size_t>(i)].maxzeit; k >= 2; --k) {
      fzt[k - 1].n += fzt[k].n;
      fzt[k - 1].RelCellSum += fzt[k].RelCellSum;
    }
  }
}

void bodenmodellklasse::CreateStatisticsTables() {
  const bool with_minutes = time_interval < kMinutesPerHour;
  for (int t = 0; t < kSoilTableKinds; ++t) {
    if (t == kDelayedBaseflowTable && method != kDelayedBaseflowMethod) continue;
    statistics_file& setting = section.tables[static_cast<size_t>(t)];
    zone_record* records = subbasin_zones.data();
    for (size_t k = 0; k < kCellTables.size(); ++k) {
      if (kCellTables[k] != t) continue;
      cell_table_zones[k] = subbasin_zones;
      records = cell_table_zones[k].data();
    }
    int error = 0;
    auto table = std::make_unique<zonalstatistic>(
        error, messages, nodata_value, cell_weights, nrows, ncols, records, subbasin_count, setting.code,
        kTableDecimals, setting.file, DefaultOutputDirectory.get(), output_list_count,
        output_list.empty() ? nullptr : output_list.data(), with_minutes);
    if (error != 0) throw ErrorCode{error};
    table->WriteHeader(kTableTitles[static_cast<size_t>(t)], name);
    tables[static_cast<size_t>(t)] = std::move(table);
  }
}

int bodenmodellklasse::RegisterOwnGrid(own_grid g, const std::string& file_name, const std::string& grid_name,
                                       int write_code, double initial, bool subbasin_cells_only) {
  const int index = grids->FirstFreeEntry();
  if (index >= kGridTableLimit) {
    *messages << "FATAL: no free grid left in memory at position " << kGridTableLimit << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  owned_matrix& data = own_grids[static_cast<size_t>(g)];
  if (!data) {
    data = owned_matrix(matrix(1, nrows, 1, ncols, 0));
    for (int r = 1; r <= nrows; ++r) {
      for (int c = 1; c <= ncols; ++c) {
        const bool valid =
            subbasin_cells_only ? subbasin_grid[r][c] != nodata_value : zone_grid[r][c] != nodata_value;
        data[r][c] = valid ? initial : nodata_value;
      }
    }
  }
  RegisterGrid(index, file_name, data.get(), nullptr, 0, grid_name, write_code, 1, nrows);
  own_grid_index[static_cast<size_t>(g)] = index;
  return index;
}

void bodenmodellklasse::RegisterStateGrids() {
  struct state_grid {
    own_grid kind;
    const output_grid* setting;
    const char* grid_name;
    double initial;
  };
  const std::array<state_grid, 6> state_grids = {{
      {kDeficitGrid, &section.saturation_deficit, "saturation_deficite", 0.0},
      {kDrainageGrid, &section.drainage_storage, "unsaturated_zone_storage", 0.0},
      {kInterflowStoreGrid, &section.interflow_storage, "interflow_storage", 0.0},
      {kInactiveMoistureGrid, &section.inactive_moisture, "inaktive_soil_moisture", 1.0},
      {kInactiveCapacityGrid, &section.inactive_capacity, "inaktive_field_capacity", 0.0},
      {kSaturatedPartitionGrid, &section.saturated_partition, "saturated_soil_partition", 0.0},
  }};
  for (const state_grid& s : state_grids) {
    if (storage_read_mode == 1) {
      double** data = nullptr;
      ReadGrid(s.setting->file, data, 0, true, true, 0.0, false);
      own_grids[static_cast<size_t>(s.kind)] = owned_matrix(data);
      CheckStateGrid(s.setting->file, data);
    }
    RegisterOwnGrid(s.kind, s.setting->file, s.grid_name, s.setting->write_code, s.initial, false);
  }
  if (storage_read_mode == 1) return;
  // The deficit and the interflow storage start from the subbasin's values.
  double** sd = grid(kDeficitGrid);
  double** sif = grid(kInterflowStoreGrid);
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (zone_grid[r][c] == nodata_value) continue;
      const int z = CellSubbasin(r, c);
      if (z == 0) {
        sd[r][c] = sif[r][c] = nodata_value;
        continue;
      }
      const subbasin_parameters& p = parameters[static_cast<size_t>(z)];
      sd[r][c] = p.SDini * available_soil_moisture[r][c];
      sif[r][c] = p.SUZini;
    }
  }
}

void bodenmodellklasse::RegisterFlowGrids() {
  owned_matrix& old = own_grids[kSoilStorageOldGrid];
  old = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) old[r][c] = soil_storage[r][c];
  RegisterOwnGrid(kSoilStorageOldGrid, kSoilStorageOldFile, "soil_storage_old", 0, 0.0, false);
  RegisterOwnGrid(kDirectflowGrid, section.directflow.file, "directflow", section.directflow.write_code, 0.0,
                  true);
  RegisterOwnGrid(kInterflowGrid, section.interflow.file, "interflow", section.interflow.write_code, 0.0,
                  true);
  RegisterOwnGrid(kPeakflowGrid, section.peakflow_file, "peakflow", kPeakflowWriteCode, 0.0, true);
}

void bodenmodellklasse::InitialiseSubbasins() {
  const size_t n = static_cast<size_t>(subbasin_count);
  const double dt = time_interval;
  auto for_each_cell = [this](auto&& visit) {
    for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
      const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
      for (int c = cols.first; c <= cols.last; ++c) {
        const int z = CellSubbasin(r, c);
        if (z != 0) visit(r, c, static_cast<size_t>(z), cell_weights ? cell_weights[r][c] : 1.0);
      }
    }
  };

  // Conductivity in mm per step.
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c)
      conductivity[r][c] =
          subbasin_grid[r][c] == nodata_value ? nodata_value : ConductivityPerStep(conductivity[r][c], dt);
  }

  // Mean topographic index and baseflow at zero deficit.
  std::vector<double> weight(n + 1, 0.0), value(n + 1, 0.0);
  for_each_cell([&](int r, int c, size_t z, double w) {
    weight[z] += w;
    value[z] += topographic[r][c] * w;
  });
  for (size_t i = 1; i <= n; ++i) {
    if (!(weight[i] > 0.0)) {
      *messages << "FATAL: the cells of subbasin " << code[i] << " of " << name
                << " carry no weight (RelCellArea), so it has no mean topographic index (weight sum "
                << weight[i] << ")"
                << "[end-entry]";
      throw ErrorCode{kNonPositiveParameterCode};
    }
    states[i].lambda = value[i] / weight[i];
    states[i].Q0 = BaseflowAtZeroDeficit(parameters[i].Tkorr, states[i].lambda, dt);
  }

  // Topographic deviations, mean deficit (of the soil cells) and baseflow.
  double** sd = grid(kDeficitGrid);
  std::vector<double> soil_weight(n + 1, 0.0);
  std::fill(value.begin(), value.end(), 0.0);
  for_each_cell([&](int r, int c, size_t z, double w) {
    topographic[r][c] = (topographic[r][c] - states[z].lambda) * parameters[z].m;
    if (IsSpecialCell(r, c)) return;
    value[z] += sd[r][c] * w;
    soil_weight[z] += w;
  });
  for (size_t i = 1; i <= n; ++i) {
    subbasin_state& st = states[i];
    st.weight = weight[i];
    st.soil_share = soil_weight[i] / weight[i];
    st.SDmean = soil_weight[i] > 0.0 ? value[i] / soil_weight[i] : 0.0;
    st.QB = soil_weight[i] > 0.0 ? std::exp(-st.SDmean / parameters[i].m) * st.Q0 : 0.0;
  }

  // Cell deficits from the mean, and the first runoff: interflow and baseflow.
  double** sif = grid(kInterflowStoreGrid);
  std::fill(value.begin(), value.end(), 0.0);
  for_each_cell([&](int r, int c, size_t z, double w) {
    sd[r][c] = states[z].SDmean - topographic[r][c];
    if (!IsSpecialCell(r, c)) value[z] += (1.0 - parameters[z].k_ELS_QI) * sif[r][c] * w;
  });
  for (size_t i = 1; i <= n; ++i)
    subbasin_runoff[0][i] = value[i] / weight[i] + states[i].soil_share * states[i].QB;
}

void bodenmodellklasse::LookUpGlacierShares() {
  int index = FindGrid("GlacierizedCells", true);
  if (index <= 0) index = FindGrid("ice_firn", true);
  glacier_shares = index > 0 ? (*grids)[index].data : nullptr;
}

void bodenmodellklasse::LookUpStabilityGrids() {
  constexpr std::array<const char*, 7> kStabilityGrids = {
      "root_cohesion", "soil_cohesion",        "wet_soil_density", "internal_friction_angle",
      "soil_depth",    "soil_stability_index", "slope_angle"};
  for (const char* grid_name : kStabilityGrids)
    if (FindGrid(grid_name, true) == 0) return;
  root_cohesion = RequiredGridData("root_cohesion");
  soil_cohesion = RequiredGridData("soil_cohesion");
  wet_soil_density = RequiredGridData("wet_soil_density");
  friction_angle = RequiredGridData("internal_friction_angle");
  soil_depth = RequiredGridData("soil_depth");
  stability_index = RequiredGridData("soil_stability_index");
  slope_angle = RequiredGridData("slope_angle");
  stability_on = true;
}

// ============================================================== lakes and input water

void bodenmodellklasse::InitLakeModel(const std::string& lake_section_name) {
  if (flow_control_parameter == 0) return;
  if (FindGrid("lake_codes", true) == 0) {
    *messages << "INFO: --> no LAKE-grid was found in " << name << "\n"
              << "Lake modelling is switched off for " << name << "[end-entry]";
    return;
  }
  const lake_section lake = ReadLakeSection(*this, lake_section_name, lake_values::initialization_method);
  const int lake_switch = lake.flow_control;
  const int lake_method = lake.initialization_method;
  if (lake_switch == 0) return;

  lake_codes = RequiredGridData("lake_codes");
  lake_modelling = true;
  if (lake_method != kLakeMethodUnchanged && lake_method != kLakeMethodLowerElevation) {
    *messages << "\n\n=======================================\n"
              << "!!!! ERROR !!!! \n\n "
              << "Error in initialization method for " << lake_section_name << ".\n"
              << "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
              << "In either case, theta_soil will be set to saturation,\n"
              << "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n"
              << "will be set to 0."
              << "\n\n=======================================\n"
              << "[end-entry]";
    throw ErrorCode{kLakeMethodErrorCode};
  }
  const int top = FindRequiredGrid("ponding_storage_top");
  ponding = OptionalGridData("ponding_storage", false);
  if (!ponding) ponding = (*grids)[top].data;
  double** max_ponding = RequiredGridData("max_ponding_storage");

  // Metres to mm where there is a depth (nodata stays nodata).
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c)
      if (subbasin_grid[r][c] != nodata_value && max_ponding[r][c] != nodata_value)
        max_ponding[r][c] *= kMillimetresPerMetre;
  }
  if (lake_method != kLakeMethodLowerElevation) return;
  double** elevation = (*grids)[kElevationEntry].data;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (subbasin_grid[r][c] == nodata_value || lake_codes[r][c] < 0.0 ||
          max_ponding[r][c] == nodata_value || elevation[r][c] == nodata_value)
        continue;
      elevation[r][c] -= max_ponding[r][c] / kMillimetresPerMetre;
    }
  }
}

void bodenmodellklasse::LinkInputGrids(bool interception_before_snow) {
  if (flow_control_parameter == 0) return;
  interception_first = interception_before_snow;
  if (input_water) return;
  const std::string throughfall = "throughfall" + std::to_string(0);
  const int index = interception_first
                        ? FindOneOfThreeGrids("snowcover_outflow", throughfall, "precipitation")
                        : FindOneOfThreeGrids(throughfall, "snowcover_outflow", "precipitation");
  input_water = (*grids)[index].data;
  if (glacier_shares && !interception_first && (*grids)[index].name == throughfall) {
    canopy_input = OptionalGridData("snowcover_outflow", false);
    if (!canopy_input) canopy_input = OptionalGridData("precipitation", false);
  }
}

// ============================================================== state file (blocks: soil_state.cpp)

const std::string* bodenmodellklasse::GetStorageFileName() {
  return flow_control_parameter != 0 ? &storage_file_name : nullptr;
}

double** bodenmodellklasse::GetSubbasinRunoff() {
  return flow_control_parameter == 1 ? subbasin_runoff.get() : nullptr;
}

// ============================================================== time step

int bodenmodellklasse::SoilRecordAt(int r, int c, double soil) const {
  if (HasSoilRecord(soil)) return static_cast<int>(soil);
  // Only a re-read soil grid or a melted glacier can bring a cell the
  // construction did not check.
  RaiseCellInput(r, c, "soil_types", "names no record of the soil table", soil);
}

void bodenmodellklasse::RunTimeStep(int minute, int hour, int day, int month, int year) {
  if (flow_control_parameter == 0) return;
  ReportProgress(minute, hour, day, month, year);
  if (!input_water) LinkInputGrids(interception_first);
  std::fill(sums.begin(), sums.end(), subbasin_sums{});
  if (glacier_shares) CarrySoilAcrossGlacierChanges();
  AdvanceTravelZones();
  if (infiltrate_in_step) {
    CellLoop<true>();
  } else {
    CellLoop<false>();
  }
  SubbasinResults();
  WriteStatistics();
  for (own_grid g : {kDrainageGrid, kInterflowStoreGrid, kSaturatedPartitionGrid, kDeficitGrid,
                     kDirectflowGrid, kInterflowGrid, kInactiveMoistureGrid, kInactiveCapacityGrid}) {
    if (g == kDeficitGrid) {
      WriteDeficitGrid();
    } else {
      WriteGridOutput(own_grid_index[static_cast<size_t>(g)], 1, false);
    }
  }
}

void bodenmodellklasse::WriteDeficitGrid() {
  const int index = own_grid_index[kDeficitGrid];
  if (!written_deficit) {
    WriteGridOutput(index, 1, false);
    return;
  }
  double** sd = grid(kDeficitGrid);
  double** written = written_deficit.get();
  for (int r = 1; r <= nrows; ++r) std::copy(sd[r] + 1, sd[r] + ncols + 1, written[r] + 1);
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      const int z = CellSubbasin(r, c);
      if (z == 0 || IsSpecialCell(r, c)) continue;
      const subbasin_sums& s = sums[static_cast<size_t>(z)];
      if (s.weight > 0.0) written[r][c] += states[static_cast<size_t>(z)].SDmean - s.deficit / s.weight;
    }
  }
  // The entry points at the written grid for the write only.
  grid_entry& entry = (*grids)[index];
  struct restore_data {
    grid_entry& entry;
    double** data;
    ~restore_data() { entry.data = data; }
  } restore{entry, entry.data};
  entry.data = written;
  WriteGridOutput(index, 1, false);
}

void bodenmodellklasse::CarrySoilAcrossGlacierChanges() {
  std::fill(glacier_handover.begin(), glacier_handover.end(), 0.0);
  std::fill(soil_weight_change.begin(), soil_weight_change.end(), 0.0);
  bool changed = false;
  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      const size_t cell = static_cast<size_t>(r) * (ncols + 1) + c;
      const int z = cell_subbasin[cell];
      if (z == 0) continue;
      const bool glacier = IsGlacierCell(r, c);
      if (static_cast<bool>(glacier_cells[cell]) == glacier) continue;
      glacier_cells[cell] = glacier;
      // A lake cell has no soil, under ice or not.
      if (IsLakeCell(r, c)) continue;
      changed = true;
      const double w = cell_weights ? cell_weights[r][c] : 1.0;
      if (glacier) {
        glacier_handover[static_cast<size_t>(z)] += w * CellSoilWater(r, c);
        soil_weight_change[static_cast<size_t>(z)] -= w;
        continue;
      }
      // Bare ground: an empty root zone and drainage storage, no inactive
      // soil, the subbasin's initial interflow storage.
      soil_storage[r][c] = grid(kSoilStorageOldGrid)[r][c] = 0.0;
      grid(kDrainageGrid)[r][c] = 0.0;
      grid(kInterflowStoreGrid)[r][c] = parameters[static_cast<size_t>(z)].SUZini;
      grid(kInactiveMoistureGrid)[r][c] = 1.0;
      grid(kInactiveCapacityGrid)[r][c] = 0.0;
      grid(kSaturatedPartitionGrid)[r][c] = 0.0;
      glacier_handover[static_cast<size_t>(z)] -= w * CellSoilWater(r, c);
      soil_weight_change[static_cast<size_t>(z)] += w;
    }
  }
  if (!changed) return;
  for (int i = 1; i <= subbasin_count; ++i) {
    subbasin_state& st = states[static_cast<size_t>(i)];
    glacier_handover[static_cast<size_t>(i)] /= st.weight;
    // The groundwater and the delayed baseflow are depths over the soil
    // cells: a soil share that grows or shrinks spreads the same water.
    const double before = st.soil_share * st.weight;
    const double after = before + soil_weight_change[static_cast<size_t>(i)];
    if (before > 0.0 && after > 0.0 && after != before) {
      st.SDmean *= before / after;
      st.QBB *= before / after;
    }
  }
}

void bodenmodellklasse::AdvanceTravelZones() {
  for (int i = 1; i <= subbasin_count; ++i) {
    travel_zone* fzt = zoneFZT(i);
    const int last = states[static_cast<size_t>(i)].maxzeit;
    for (int k = 1; k < last; ++k) {
      fzt[k].n = fzt[k + 1].n;
      fzt[k].sx = fzt[k + 1].sx;
      fzt[k].RelCellSum = fzt[k + 1].RelCellSum;
    }
    fzt[last].n = fzt[last].sx = fzt[last].RelCellSum = 0.0;
  }
}

void bodenmodellklasse::SpecialCell(int r, int c, int z, double w, double deviation) {
  // Within the one pass of both models the lake cells keep their excess
  // until the infiltration model has written it.
  if (infiltration_excess && !infiltrate_in_step) infiltration_excess[r][c] = 0.0;
  grid(kDirectflowGrid)[r][c] = 0.0;
  grid(kPeakflowGrid)[r][c] = 0.0;
  grid(kInterflowGrid)[r][c] = 0.0;
  soil_storage[r][c] = 1.0;
  grid(kDrainageGrid)[r][c] = 0.0;
  grid(kDeficitGrid)[r][c] = 0.0;
  grid(kInactiveCapacityGrid)[r][c] = 1.0;
  grid(kInactiveMoistureGrid)[r][c] = 1.0;
  grid(kSoilStorageOldGrid)[r][c] = 1.0;
  grid(kInterflowStoreGrid)[r][c] = 0.0;
  grid(kSaturatedPartitionGrid)[r][c] = 1.0;
  if (stability_on) stability_index[r][c] = 0.0;
  // The cell has no groundwater: it takes no part in the mean deficit.
  sums[static_cast<size_t>(z)].special_deviation += deviation * w;
  travel_zone& zone = travel_zones[static_cast<size_t>(cell_slot[static_cast<size_t>(r) * (ncols + 1) + c])];
  zone.n += 1.0;
  zone.RelCellSum += w;
}

template <bool kInfiltrate>
void bodenmodellklasse::CellLoop() {
  const bool delayed = method == kDelayedBaseflowMethod;
  const int row_stride = ncols + 1;
  const double P = kInfiltrate ? infiltration_cells.macropore_fraction : 0.0;
  const int* slot_zone = slot_subbasin.data();
  travel_zone* zones = travel_zones.data();

  for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    const int* slot_row = cell_slot.data() + static_cast<size_t>(r) * row_stride;
    const double* weight_row = cell_weights ? cell_weights[r] : nullptr;
    const double* tf = topographic[r];
    const double* nfk = available_soil_moisture[r];
    const double* k = conductivity[r];
    const double* soil = soil_types[r];
    const double* root_depth_row = root_depths[1][r];
    double* sd = grid(kDeficitGrid)[r];
    double* suz = grid(kDrainageGrid)[r];
    double* sif = grid(kInterflowStoreGrid)[r];
    double* sb = soil_storage[r];
    double* sbold = grid(kSoilStorageOldGrid)[r];
    double* sbia = grid(kInactiveMoistureGrid)[r];
    double* nfkia = grid(kInactiveCapacityGrid)[r];
    double* ssp = grid(kSaturatedPartitionGrid)[r];
    double* directflow = grid(kDirectflowGrid)[r];
    double* interflow = grid(kInterflowGrid)[r];
    double* peakflow = grid(kPeakflowGrid)[r];
    double* water = input_water[r];
    const double* glacier_row = glacier_shares ? glacier_shares[r] : nullptr;
    const double* snow = solid_snow ? solid_snow[r] : nullptr;
    double* excess_row = infiltration_excess ? infiltration_excess[r] : nullptr;
    double* fp_row = kInfiltrate ? infiltration_cells.fillable_porosity[r] : nullptr;
    double* marker_row = kInfiltrate ? infiltration_cells.marker[r] : nullptr;

    for (int c = cols.first; c <= cols.last; ++c) {
      const int slot = slot_row[c];
      if (slot == 0) continue;
      const int z = slot_zone[slot];
      const double w = weight_row ? weight_row[c] : 1.0;
      const bool glacier = IsGlacierCell(r, c);
      const bool special = glacier || IsLakeCell(r, c);
      const double capacity = nfk[c];
      double root_depth = root_depth_row[c];  // the deepest roots of the layers
      for (int l = 2; l <= layer_count; ++l)
        root_depth = std::max(root_depth, root_depths[static_cast<size_t>(l)][r][c]);
      // The glacier share's water drains through the snow model's glacier storages.
      const double share = glacier_row ? GlacierShareAt(r, c) : 0.0;
      double input = share > 0.0
                         ? GlacierFreeInput(water[c], share, canopy_input ? &canopy_input[r][c] : nullptr)
                         : water[c];
      // Looked up once for both models; only cells that compute a soil need it.
      int record = 0;

      if constexpr (kInfiltrate) {
        // Green-Ampt at the start of the step, on the states the step found.
        // Glaciers and lakes take up nothing.
        if (special) {
          if (excess_row[c] != 0.0) excess_row[c] = 0.0;
          if (marker_row[c] != 0.0) marker_row[c] = 0.0;
        } else {
          record = SoilRecordAt(r, c, soil[c]);
          const double fp = FillablePorosity(sd[c], suz[c], drainable_porosity[static_cast<size_t>(record)],
                                             sb[c], capacity, root_depth);
          fp_row[c] = fp;
          const green_ampt_result result =
              GreenAmptStep(input, k[c], fp, soil_suction[static_cast<size_t>(record)],
                            marker_row[c] >= kSaturatedMarker, P);
          // Mostly unchanged (no ponding): untouched lines need no write-back.
          if (excess_row[c] != result.excess) excess_row[c] = result.excess;
          if (marker_row[c] != result.marker) marker_row[c] = result.marker;
          if (result.water != input) water[c] = input = result.water;
        }
      }

      if (special) {
        // A lake's water is its ponded water.
        if (!glacier) {
          ponding[r][c] += input;
        } else if (input != 0.0) {
          // What a cell's canopy dropped when the ice covered it runs off.
          glacier_handover[static_cast<size_t>(z)] += w * input / states[static_cast<size_t>(z)].weight;
        }
        SpecialCell(r, c, z, w, tf[c]);
        continue;
      }
      const soil_cell_parameters& p = cell_parameters[static_cast<size_t>(z)];
      subbasin_sums& s = sums[static_cast<size_t>(z)];
      const double old_sbia = sbia[c];
      const double old_nfkia = nfkia[c];
      soil_cell cell{states[static_cast<size_t>(z)].SDmean - tf[c],
                     suz[c],
                     sif[c],
                     sb[c],
                     sbold[c],
                     old_sbia,
                     old_nfkia,
                     ssp[c]};
      if (!kInfiltrate) record = SoilRecordAt(r, c, soil[c]);
      const double dp = drainable_porosity[static_cast<size_t>(record)];

      Reinfiltrate(cell, capacity, p.SHmax, p.Rrueck);
      const capillary_failure failure =
          GroundwaterContact(cell, capacity, RootReach(dp, root_depth, p.Rrueck));
      if (failure.failed) RaiseCapillaryFailure(r, c, failure, ssp[c], capacity, cell.SB, cell.SD);
      s.deficit += cell.SD * w;

      double snowmelt_runoff = 0.0;
      if (snow) {
        snowmelt_runoff = SnowmeltRunoff(input, snow[c], p.QDsnow);
        if (snowmelt_runoff != 0.0) water[c] = input -= snowmelt_runoff;
      }
      SoilInput(cell, input, capacity, p.Pgrenz);
      SoilOverflow(cell, capacity);
      cell.SBold = cell.SB;

      const interflow_flows flows = Interflow(cell, p.SHmax, p.fI);
      s.interflow += flows.interflow * w;
      interflow[c] = flows.interflow;

      const double direct = snowmelt_runoff + flows.excess + (excess_row ? excess_row[c] : 0.0);
      travel_zone& zone = zones[slot];
      zone.sx += direct * w;
      zone.n += 1.0;
      zone.RelCellSum += w;
      // No direct runoff for many steps running: untouched lines need no write-back.
      if (directflow[c] != direct) directflow[c] = direct;
      if (direct > peakflow[c]) peakflow[c] = direct;

      const double factor = DeficitFactor(cell.SD, p.m);
      s.drainage += Drainage(cell, k[c], p.Kkorr, factor) * w;
      if (delayed) s.delayed += p.alpha * factor * w;
      s.weight += w;

      if (stability_on)
        stability_index[r][c] = SlopeStabilityIndex(slope_angle[r][c], friction_angle[r][c], soil_depth[r][c],
                                                    wet_soil_density[r][c], soil_cohesion[r][c],
                                                    root_cohesion[r][c], cell.SD, dp);

      // The water of the cell in one test; a value that is no number stops the run here.
      if (!std::isfinite(cell.SD + cell.SUZ + cell.SIF + cell.SB + cell.SBia + cell.nFKia + direct))
          [[unlikely]]
        RaiseNotFiniteCell(r, c, cell, direct);
      sd[c] = cell.SD;
      suz[c] = cell.SUZ;
      sif[c] = cell.SIF;
      sb[c] = cell.SB;
      sbold[c] = cell.SBold;
      ssp[c] = cell.SSP;
      // The inactive soil changes seldom: untouched cache lines need no write-back.
      if (cell.SBia != old_sbia) sbia[c] = cell.SBia;
      if (cell.nFKia != old_nfkia) nfkia[c] = cell.nFKia;
    }
  }
}

void bodenmodellklasse::RaiseNotFiniteCell(int r, int c, const soil_cell& cell, double direct) const {
  const std::array<std::pair<const char*, double>, 7> values = {{{"saturation_deficite", cell.SD},
                                                                 {"unsaturated_zone_storage", cell.SUZ},
                                                                 {"interflow_storage", cell.SIF},
                                                                 {"soil_storage", cell.SB},
                                                                 {"inaktive_soil_moisture", cell.SBia},
                                                                 {"inaktive_field_capacity", cell.nFKia},
                                                                 {"directflow", direct}}};
  for (const auto& [grid_name, value] : values)
    if (!std::isfinite(value)) RaiseNotFinite(grid_name, r, c, value);
  // Finite values whose sum is not: the largest of them is beyond any water.
  const auto largest = std::max_element(values.begin(), values.end(), [](const auto& a, const auto& b) {
    return std::abs(a.second) < std::abs(b.second);
  });
  RaiseNotFinite(largest->first, r, c, largest->second);
}

void bodenmodellklasse::RaiseCapillaryFailure(int r, int c, const capillary_failure& failure, double SSP,
                                              double nFK, double SB, double SD) {
  *messages << "FATAL: Fehler bei Kapillarflow in Zelle " << r << "," << c
            << "dump: SSPneu = " << failure.SSPneu << ", kapillarflow = " << failure.base << " \n"
            << "      SSP[" << r << "][" << c << "] = " << SSP << ", nFK[" << r << "][" << c << "] = " << nFK
            << "\n"
            << "      SB[" << r << "][" << c << "]  = " << SB << ", SD[" << r << "][" << c << "] = " << SD
            << "\n"
            << "[end-entry]";
  std::FILE* log = std::fopen(kSoilLogName, "a");
  if (!log) {
    *messages << "FATAL: error opening log file modell.log"
              << "[end-entry]";
    throw ErrorCode{kSoilLogErrorCode};
  }
  std::fprintf(log, "\nFehler bei Kapillarflow in Zelle %d, %d\n", r, c);
  std::fprintf(log,
               "dump: SSPneu = %lf, kapillarflow = %lf \n      SSP[%d][%d] = %lf, nFK[%d][%d] = %lf\n      "
               "SB[%d][%d]  = %lf, SD[%d][%d] = %lf\n\n",
               failure.SSPneu, failure.base, r, c, SSP, r, c, nFK, r, c, SB, r, c, SD);
  std::fclose(log);
  throw ErrorCode{kCapillaryFlowErrorCode};
}

void bodenmodellklasse::SubbasinResults() {
  const double dt = time_interval;
  for (int i = 1; i <= subbasin_count; ++i) {
    subbasin_state& st = states[static_cast<size_t>(i)];
    const subbasin_parameters& p = parameters[static_cast<size_t>(i)];
    const subbasin_sums& s = sums[static_cast<size_t>(i)];
    const travel_zone& outlet = zoneFZT(i)[1];
    st.QDin = outlet.sx / outlet.RelCellSum;
    st.QD = LinearStoreOutflow(st.QDin, st.QD, RecessionFactor(dt, p.k_ELS_QD));
    st.QI = s.interflow / st.weight;
    st.soil_share = s.weight / st.weight;
    if (s.weight > 0.0) {
      st.recharge = s.drainage / s.weight;
      st.QB = std::exp(-st.SDmean / p.m) * st.Q0;
      if (method == kDelayedBaseflowMethod) {
        st.QBBin = s.delayed / s.weight;
        st.QBB = LinearStoreOutflow(st.QBBin, st.QBB, RecessionFactor(dt, p.k_ELS_QBB));
      } else {
        st.QBB = st.QBBin = 0.0;
      }
      // The cells' deficits follow the mean by their deviations, which sum
      // to 0 over the soil cells only without cells that have no soil.
      st.SDmean = (s.deficit - s.special_deviation) / s.weight + st.QB - st.recharge + st.QBBin;
    } else {
      // Without a soil cell there is no groundwater to run off.
      st.recharge = st.QB = st.QBB = st.QBBin = 0.0;
    }
    subbasin_runoff[0][i] =
        st.QI + st.QD + st.soil_share * st.QB + st.soil_share * st.QBB + subbasin_runoff[1][i];
    if (!glacier_handover.empty()) subbasin_runoff[0][i] += glacier_handover[static_cast<size_t>(i)];
    subbasin_runoff[1][i] = 0.0;
    if (!std::isfinite(subbasin_runoff[0][i])) [[unlikely]]
      RaiseNotFiniteSubbasin("runoff", code[static_cast<size_t>(i)], subbasin_runoff[0][i]);
    if (!std::isfinite(st.SDmean)) [[unlikely]]
      RaiseNotFiniteSubbasin("mean saturation deficit", code[static_cast<size_t>(i)], st.SDmean);
  }
}

void bodenmodellklasse::AddSubbasinRow(zonalstatistic& table, int r, const row_range& cols,
                                       const double* values) const {
  const int* subbasin_row = cell_subbasin.data() + static_cast<size_t>(r) * (ncols + 1);
  table.AddRow(
      r, cols.first, cols.last, [subbasin_row](int c) { return subbasin_row[c] != 0 ? subbasin_row[c] : -1; },
      [values](int c) { return values[c]; });
}

void bodenmodellklasse::WriteStatistics() {
  const model_date& d = current_date;
  auto per_subbasin = [&](soil_table_kind kind, auto&& value_of) {
    zonalstatistic* table = tables[static_cast<size_t>(kind)].get();
    if (!table || !table->IsOn()) return;
    table->StartStep();
    for (int i = 1; i <= subbasin_count; ++i) table->AddCell(0, 0, i, value_of(i), 1.0);
    table->EndStep(d.year, d.month, d.day, d.hour, d.minute, 1);
  };
  // The tables of cell values, side by side over the cells.
  const auto cell_tables = [&] {
    cell_table_rows.clear();
    std::array<double**, kCellTables.size()> values{};
    for (const soil_table_kind kind : kCellTables) {
      zonalstatistic* table = tables[static_cast<size_t>(kind)].get();
      if (!table || !table->IsOn()) continue;
      values[cell_table_rows.size()] = kind == kSoilStorageTable ? soil_storage
                                       : kind == kDrainageTable  ? grid(kDrainageGrid)
                                                                 : grid(kInterflowStoreGrid);
      table->StartStep();
      cell_table_rows.push_back({table, nullptr});
    }
    for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows) && !cell_table_rows.empty(); ++r) {
      const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
      const int* subbasin_row = cell_subbasin.data() + static_cast<size_t>(r) * (ncols + 1);
      for (size_t k = 0; k < cell_table_rows.size(); ++k) cell_table_rows[k].values = values[k][r];
      AddRowToTables(cell_table_rows, r, cols.first, cols.last,
                     [subbasin_row](int c) { return subbasin_row[c] != 0 ? subbasin_row[c] : -1; });
    }
    for (const table_row& fed : cell_table_rows)
      fed.table->EndStep(d.year, d.month, d.day, d.hour, d.minute, 1);
  };
  auto state = [this](int i) -> const subbasin_state& { return states[static_cast<size_t>(i)]; };
  // The runoff tables are depths over the subbasin, the baseflows come from its soil cells.
  auto soil = [&](int i, double value) { return state(i).soil_share * value; };
  per_subbasin(kDirectRunoffTable, [&](int i) { return state(i).QD; });
  per_subbasin(kInterflowTable,
               [&](int i) { return state(i).QI + soil(i, state(i).QB) + soil(i, state(i).QBB); });
  per_subbasin(kBaseflowTable, [&](int i) { return soil(i, state(i).QBB) + soil(i, state(i).QB); });
  per_subbasin(kDelayedBaseflowTable, [&](int i) { return soil(i, state(i).QBB); });
  per_subbasin(kTotalRunoffTable, [&](int i) { return subbasin_runoff[0][i]; });
  per_subbasin(kDeficitTable, [&](int i) { return state(i).SDmean; });
  cell_tables();
}

// ============================================================== end of run

void bodenmodellklasse::FlushBuffers() {
  if (flow_control_parameter == 0) return;
  for (auto& table : tables)
    if (table) table->FlushRows();
}

void bodenmodellklasse::CleanUp() {
  if (cleaned_up) return;
  if (flow_control_parameter != 0) {
    if (ready && own_grid_index[kPeakflowGrid] > 0) WriteGridOutput(own_grid_index[kPeakflowGrid], 1, false);
    if (ready) WriteStorageFile();
    for (auto& table : tables) {
      if (table) table->CleanUp();
      table.reset();
    }
    for (int g = 0; g < kOwnGridCount; ++g) {
      const int index = own_grid_index[static_cast<size_t>(g)];
      if (index > 0 && (*grids)[index].data == own_grids[static_cast<size_t>(g)].get()) ReleaseGrid(index);
      own_grid_index[static_cast<size_t>(g)] = 0;
      own_grids[static_cast<size_t>(g)].reset();
    }
    written_deficit.reset();
    parameters.clear();
    cell_parameters.clear();
    states.clear();
    sums.clear();
    travel_zones.clear();
    subbasin_runoff.reset();
    cell_subbasin.clear();
    cell_slot.clear();
    slot_subbasin.clear();
    root_depths.clear();
  }
  modelobject::CleanUp();
}

}  // namespace velmo
