// Code checks of the land-use and soil grids, the land-use layer grids, and
// the vegetation parameter grids with their daily update and the dynamic
// phenology.
#include "setup/vegparams.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "setup/derived.h"

namespace velmo {
namespace {

constexpr const char* kSeparatorLine =
    "-----------------------------------------------------------------------";
constexpr const char* kNoAlbedoMessage =
    "FATAL: Albedo Grid not found for use within Landuse-Table.\n This grid must be read in as standard or "
    "variable grid (there, it can be created automatically)";
constexpr const char* kNoTemperatureMessage =
    "FATAL: could not find grid with label \"temperature\". \nThis grid must be present (either by "
    "interpolating or by reading or as standard grid) for using dynamic phenology";

// Sigmoid forcing unit: 28.4 / (1 + exp(-0.185 (T - Tb - 18.4))).
constexpr double kForcingUnitMax = 28.4;
constexpr double kForcingUnitSlope = -0.185;   // 1/K
constexpr double kForcingUnitMidpoint = 18.4;  // K above the base temperature
constexpr double kNotYet = -1.0;               // day or sum not yet set
constexpr int kProgressLabelWidth = 20;
constexpr int kFirstDayOfYear = 1;
// Lower limits of the root depth and roughness length grids.
constexpr double kMinRootDepth = 0.01;        // m
constexpr double kMinRoughnessLength = 0.01;  // m

bool IsDynamicMethod(int method) {
  return method == kMethodDynamicPhenology1 || method == kMethodDynamicPhenology2 ||
         method == kMethodDynamicPhenology3 || method == kMethodDynamicPhenology4;
}
bool UsesStartTimeLists(int method) {
  return method == kMethodDynamicPhenology3 || method == kMethodDynamicPhenology4;
}
bool HoldsStart(int method) {
  return method == kMethodDynamicPhenology1 || method == kMethodDynamicPhenology2 ||
         method == kMethodDynamicPhenology4;
}

std::string LayerName(const char* base, int layer) { return base + std::to_string(layer); }

// Month lengths with February of `year`.
std::array<int, 13> MonthLengthsOf(int year) {
  std::array<int, 13> lengths = kMonthLengths;
  lengths[2] = DaysInMonth(2, year);
  return lengths;
}

// Full four-digit write code of an entry, as it was registered.
int FullWriteCode(const grid_entry& entry) {
  const int extremes = entry.min_flag + 2 * entry.max_flag;
  return entry.write_code + 10 * entry.period_code + 100 * extremes + 1000 * entry.vegetation_code;
}

int NextFreeEntry(const grid_table& grids, MessageStream* messages) {
  // Free means no name: the partitioning grids hold no file name but are in
  // use all the same.
  return FreeEntryOrRaise(&grids, messages, kNoFreeGrid, ")\n", kParameterGridErrorCode);
}

// Rows a process computes, widened by one row on each side where the domain
// allows.
struct row_span {
  int first;
  int last;
};
row_span WidenedRows(const defaultini& setup) {
  return {std::max(1, setup.first_row - 1), std::min(setup.nrows, setup.last_row + 1)};
}

// Everything a cell loop needs, found once.
struct domain_view {
  double** zone = nullptr;
  double** elevation = nullptr;
  double** regions = nullptr;  // "MPIRegions"; null: every cell belongs to the process
  double nodata = -9999.0;
  double process = 0.0;

  bool Inside(int r, int c) const { return zone[r][c] > nodata; }
  bool InProcess(int r, int c) const { return Inside(r, c) && (!regions || regions[r][c] == process); }
};
domain_view ViewOf(defaultini& setup) {
  domain_view view;
  view.zone = (*setup.grids)[1].data;
  view.elevation = (*setup.grids)[2].data;
  view.regions = setup.mpi_regions_data ? setup.mpi_regions_data : setup.mpi_regions.get();
  view.nodata = setup.nodata_value;
  view.process = setup.process_index;
  return view;
}

// ---- code checks

struct code_check_texts {
  const char* first_entry;
  const char* second_entry;
  const char* subject;  // "land use " / "soil type "
  const char* where;    // what the code is missing from
  int code;
};

constexpr code_check_texts kLanduseCheck = {"1.: checking codes in land use grid",
                                            "2.:replacing codes in land use grid ", "land use ",
                                            "the land use table in the control file", kLanduseCodeErrorCode};
constexpr code_check_texts kMultilayerCheck = {
    "1.: checking codes in land use grid", "2.:replacing codes in land use grid ", "land use ",
    "the multilayer-landuse-table in the control file", kMultilayerCodeErrorCode};
constexpr code_check_texts kSoilCheck = {"1.: checking soil type codes", "2.:replacing soil type codes ",
                                         "soil type ", "the control file", kSoilCodeErrorCode};

// Tests every cell inside the domain against the codes of `table` (records
// 1..n) and replaces each code by its record's position. A value with a
// fractional part has no record. Each cell is replaced from its old value, so
// no cell is replaced twice. `shown_file` names the grid's file in the error;
// the progress entries are written only when `report` is set.
template <typename Table>
void CheckAndReplaceCodes(defaultini& setup, int index, const Table& table, const code_check_texts& texts,
                          const std::string& shown_file, bool report) {
  MessageStream* messages = setup.messages;
  grid_entry& entry = (*setup.grids)[index];
  double** grid = entry.data;
  double** zone = (*setup.grids)[1].data;
  const double nodata = setup.nodata_value;
  const int nrows = setup.nrows;
  const int ncols = setup.ncols;

  if (report) *messages << texts.first_entry << "[end-entry]";
  std::unordered_map<int, int> known;  // code -> first position
  for (std::size_t k = table.size(); k-- > 1;) known[table[k].code] = static_cast<int>(k);
  for (int r = 1; r <= nrows; ++r) {
    const double* row = grid[r];
    const double* zone_row = zone[r];
    for (int c = 1; c <= ncols; ++c) {
      if (!(zone_row[c] > nodata)) continue;
      const double value = row[c];
      const int code = CellInteger(value);
      if (static_cast<double>(code) == value && known.count(code)) continue;
      *messages << "FATAL: \n"
                << kSeparatorLine << "\n"
                << texts.subject << value << " in grid " << shown_file << " (" << entry.name
                << ")\nis not present in " << texts.where << " \n"
                << kSeparatorLine << "\n\n"
                << "[end-entry]";
      throw ErrorCode{texts.code};
    }
  }
  if (report) *messages << texts.second_entry << entry.file_name << "[end-entry]";

  // A later record with the same code replaces what an earlier one did.
  std::unordered_map<int, int> replacement;
  for (std::size_t k = 1; k < table.size(); ++k) {
    const int code = table[k].code;
    if (code == static_cast<int>(k)) continue;
    if (report) {
      *messages << code << " replaced by " << static_cast<int>(k) << " ..."
                << "[end-entry]";
    }
    replacement[code] = static_cast<int>(k);
  }
  if (replacement.empty()) return;
  for (int r = 1; r <= nrows; ++r) {
    double* row = grid[r];
    for (int c = 1; c <= ncols; ++c) {
      const int code = CellInteger(row[c]);
      if (static_cast<double>(code) != row[c]) continue;
      const auto found = replacement.find(code);
      if (found != replacement.end()) row[c] = found->second;
    }
  }
}

// ---- parameter grids

// Rows a grid made for the entry `found` (0: none) must cover: `rows`, and
// the rows the entry was registered with, which its output reads.
row_span CoveringRows(const defaultini& setup, int found, row_span rows) {
  if (found <= 0) return rows;
  const grid_entry& entry = (*setup.grids)[found];
  if (entry.first_row < 1 || entry.last_row < entry.first_row) return rows;
  return {std::max(1, std::min(rows.first, entry.first_row)),
          std::min(setup.nrows, std::max(rows.last, entry.last_row))};
}

// Puts a grid the set-up object made into the table under `name`. An entry
// `found` that has the name but no grid takes it, as a look-up by name finds
// the first entry of a name; otherwise the grid goes to the next free entry
// and counts in grid_count. A stack holds levels 0..`last_level`. Returns the
// entry's index.
int AttachOrRegister(defaultini& setup, int found, const std::string& name, double** data, double*** layers,
                     int last_level, int write_code, row_span rows) {
  if (found > 0) {
    grid_entry& entry = (*setup.grids)[found];
    entry.data = data;
    if (layers) {
      entry.layers = layers;
      entry.layer_count = last_level;
    }
    return found;
  }
  const int index = NextFreeEntry(*setup.grids, setup.messages);
  setup.RegisterGrid(index, name, data, layers, last_level, name, write_code, rows.first, rows.last);
  ++setup.grid_count;
  return index;
}

// Finds the grid `name` or creates it over `rows`.
struct grid_handle {
  double** data = nullptr;
  int index = 0;
  bool created = false;
};
grid_handle FindOrCreate(defaultini& setup, const std::string& name, row_span rows) {
  grid_handle handle;
  const int found = setup.FindGrid(name, true);
  if (found > 0 && (*setup.grids)[found].data) {
    handle.index = found;
    handle.data = (*setup.grids)[found].data;
    return handle;
  }
  const row_span allocated = CoveringRows(setup, found, rows);
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  lists.created_grids.emplace_back(setup.matrix(allocated.first, allocated.last, 1, setup.ncols, 0));
  handle.data = lists.created_grids.back().get();
  handle.index = AttachOrRegister(setup, found, name, handle.data, nullptr, 0, 0, rows);
  handle.created = true;
  return handle;
}

void Fill(double** grid, row_span rows, int ncols, double value) {
  for (int r = rows.first; r <= rows.last; ++r) std::fill(grid[r] + 1, grid[r] + ncols + 1, value);
}

// Start-time list of a cell at the start of the run: each fix point's day
// corrected for the altitude, or -1 where a forcing threshold still has to
// be reached; level 0 the threshold last reached.
void InitialStartTimes(const landuse_table_entry& record, double* q, int levels, int start_day,
                       double altitude, double nodata) {
  q[0] = 0.0;
  for (int s = 1; s <= levels; ++s) {
    if (s > record.FixPointCount()) {
      q[s] = nodata;
      continue;
    }
    const double threshold = record.ForcingThresholdAt(s);
    const int fix_day = record.FixPointDay(s);
    if (threshold >= 0.0 && start_day < fix_day) {
      q[s] = kNotYet;
    } else {
      q[s] = AltitudeCorrectedDay(fix_day, record.AltitudeDependence(s), altitude);
    }
    if (start_day >= fix_day && threshold > 0.0) q[0] = threshold;
  }
}

// The record at a layer grid's value, or null for no land use.
landuse_table_entry* RecordAt(std::vector<landuse_table_entry>& table, double value, double nodata) {
  if (!(value > nodata)) return nullptr;
  const int position = CellInteger(value);
  if (position < 1 || static_cast<std::size_t>(position) >= table.size()) return nullptr;
  return &table[static_cast<std::size_t>(position)];
}

void LimitParameters(std::array<double*, kLayerGridKinds>& g, int c) {
  double& root = g[kRootDepthGrid][c];
  if (root < kMinRootDepth) root = kMinRootDepth;
  double& cover = g[kVegetationCoverGrid][c];
  cover = std::clamp(cover, 0.0, 1.0);
  for (int kind : {kLeafAreaIndexGrid, kCanopyResistanceGrid, kInterceptionResistanceGrid}) {
    if (g[static_cast<std::size_t>(kind)][c] < 0.0) g[static_cast<std::size_t>(kind)][c] = 0.0;
  }
  double& roughness = g[kRoughnessLengthGrid][c];
  if (roughness < kMinRoughnessLength) roughness = kMinRoughnessLength;
}

}  // namespace

// ======================================================================
// pure helpers

double SigmoidForcingUnit(double temperature, double base_temperature) {
  if (!(temperature > base_temperature)) return 0.0;
  return kForcingUnitMax /
         (1.0 + std::exp(kForcingUnitSlope * (temperature - base_temperature - kForcingUnitMidpoint)));
}

double TriangularChillingUnit(double temperature, double offset_1, double base_chilling, double offset_2) {
  if (temperature <= offset_1) return 0.0;
  // A slope without width cannot be reached (the temperature would have to
  // lie both above and at its lower end); it gives 0 all the same.
  if (temperature <= base_chilling && temperature < offset_2) {
    const double width = base_chilling - offset_1;
    return width != 0.0 ? (temperature - offset_1) / width : 0.0;
  }
  if (temperature < offset_2) {
    const double width = base_chilling - offset_2;
    return width != 0.0 ? (temperature - offset_2) / width : 0.0;
  }
  return 0.0;
}

double ChillingDayThreshold(double chilling_days, double par_a, double par_b) {
  if (chilling_days <= 0.0) return par_a;
  return par_a + par_b * std::log(chilling_days);
}

int StartListSearch(const double* q, int fix_point_count, int day, double nodata) {
  int i = 1;
  if (!(day > q[1])) return i;
  // The list has levels up to n + 1; the search never looks beyond them.
  while (i <= fix_point_count) {
    if (q[i] <= 0.0 || q[i + 1] <= nodata + 1.0) break;
    ++i;
    if (!(day > q[i])) break;
  }
  return i;
}

void ResetStartList(double* q, const landuse_table_entry& record, int day) {
  const int n = record.FixPointCount();
  for (int k = 1; k <= n; ++k) {
    const int fix_day = record.FixPointDay(k);
    const bool waits =
        record.Method() == kMethodDynamicPhenology3 && record.ForcingThresholdAt(k) >= 0.0 && day < fix_day;
    q[k] = waits ? kNotYet : fix_day;
  }
}

namespace {

// The vegetation start found on `day`: the fix point after it counts from
// the start.
void MarkStartInList(const landuse_table_entry& record, int day, phenology_cell& cell) {
  if (!cell.start_times) return;
  double* q = cell.start_times;
  const int i = StartListSearch(q, record.FixPointCount(), day, cell.nodata);
  if (i > record.FixPointCount()) return;
  q[i] = day;
  q[i + 1] = record.FixPointDay(i + 1) + day;
}

void ResetSeason(const landuse_table_entry& record, int day, phenology_cell& cell) {
  *cell.forcing_sum = 0.0;
  *cell.pheno_start = kNotYet;
  if (cell.leaf_fall_day) *cell.leaf_fall_day = 0.0;
  if (cell.start_times) ResetStartList(cell.start_times, record, day);
}

}  // namespace

void ForcingStartStep(const landuse_table_entry& record, int day, phenology_cell& cell) {
  if (*cell.pheno_start < 0.0 && day >= record.DP1_t1_dorm) {
    *cell.forcing_sum += SigmoidForcingUnit(cell.temperature, record.DP1_T_Bf);
    if (*cell.forcing_sum > record.FStar()) {
      *cell.pheno_start = day;
      if (record.Method() == kMethodDynamicPhenology4) MarkStartInList(record, day, cell);
    }
  }
  if (day == record.JDReset_TStart) ResetSeason(record, day, cell);
}

void ChillingStep(const landuse_table_entry& record, int day, phenology_cell& cell) {
  if (*cell.pheno_start < 0.0 && day >= record.DP2_t1_dorm) {
    *cell.forcing_sum += SigmoidForcingUnit(cell.temperature, record.DP2_T_Bf);
    if (*cell.forcing_sum > *cell.forcing_threshold) *cell.pheno_start = day;
  }
  // The chilling period runs over the turn of the year.
  if (day >= record.DP2_t0_dorm || day < record.DP2_t1_dorm) {
    *cell.chilling_sum +=
        TriangularChillingUnit(cell.temperature, record.DP2_Offset_1, record.DP2_T_Bc, record.DP2_Offset_2);
  }
  if (day == record.JDReset_TStart) {
    *cell.forcing_sum = 0.0;
    *cell.pheno_start = kNotYet;
  }
  if (day == record.DP2_t0_dorm - 1) *cell.chilling_sum = 0.0;
  if (day == record.DP2_t1_dorm - 1) {
    *cell.forcing_threshold = record.DP2_Par_a * std::exp(record.DP2_Par_b * *cell.chilling_sum);
  }
}

void ForcingThresholdStep(const landuse_table_entry& record, int day, phenology_cell& cell) {
  double* q = cell.start_times;
  if (!q) return;
  const int n = record.FixPointCount();
  const int i = StartListSearch(q, n, day, cell.nodata);
  const double threshold = record.ForcingThresholdAt(i);  // -1 outside 0..n
  if (i >= 0 && i <= n && record.FixPointDay(i) <= day && threshold > 0.0) {
    // The base day of a threshold is the latest day of its fix point.
    q[i] = record.FixPointDay(i);
    q[0] = threshold;
  }
  if (cell.temperature > record.DP1_T_Bf) *cell.forcing_sum += cell.temperature - record.DP1_T_Bf;
  if (q[i] < 0.0 && threshold <= *cell.forcing_sum) {
    q[i] = day;
    q[0] = threshold;
  }
  if (day == kFirstDayOfYear) {
    *cell.forcing_sum = 0.0;
    q[0] = 0.0;
    for (int k = 1; k <= n; ++k) {
      const int fix_day = record.FixPointDay(k);
      q[k] = record.ForcingThresholdAt(k) >= 0.0 && fix_day > kFirstDayOfYear ? kNotYet : fix_day;
    }
  }
}

void ChillingDayStep(const landuse_table_entry& record, int day, phenology_cell& cell) {
  if (*cell.pheno_start < 0.0 && day >= record.DP4_t1_dorm) {
    if (cell.temperature >= record.DP4_T1) *cell.forcing_sum += cell.temperature - record.DP4_T1;
    if (*cell.forcing_sum > *cell.forcing_threshold) {
      *cell.pheno_start = day;
      MarkStartInList(record, day, cell);
    }
  }
  if ((day >= record.DP4_t0_dorm || *cell.pheno_start < 0.0) && cell.temperature <= record.DP4_T0) {
    *cell.chilling_sum += 1.0;
  }
  if (day == record.JDReset_TStart) ResetSeason(record, day, cell);
  if (day == record.DP4_t0_dorm - 1) *cell.chilling_sum = 0.0;
  if (day >= record.DP4_t1_dorm - 1 && *cell.pheno_start < 0.0) {
    *cell.forcing_threshold = ChillingDayThreshold(*cell.chilling_sum, record.DP4_Par_a, record.DP4_Par_b);
  }

  // Leaf fall after enough cold days, or at the table's day of the fix point.
  if (!cell.leaf_fall_day || !cell.cold_days) return;
  if (!(day >= record.DP4_t_xs1 && *cell.leaf_fall_day <= 0.0 && *cell.pheno_start > 0.0)) return;
  // The count belongs to the cell: it advances once a day, however many of
  // the cell's layers test for leaf fall.
  if (!cell.cold_days_counted || !*cell.cold_days_counted) {
    *cell.cold_days = record.DP4_T_xylstop <= cell.moving_average ? 0.0 : *cell.cold_days + 1.0;
    if (cell.cold_days_counted) *cell.cold_days_counted = true;
  }
  const int k = record.DP4_SPSLF;
  if (!(*cell.cold_days >= kLeafFallColdDays || day >= record.FixPointDay(k))) return;
  if (double* q = cell.start_times; q && k >= 1 && k <= record.FixPointCount()) {
    q[k + 1] = day + q[k + 1] - q[k];
    q[k] = day;
    for (int m = 1; m < k; ++m) {
      if (day < q[m] || q[m] < 0.0 || q[m] < q[m - 1]) q[m] = day - 1;
    }
  }
  *cell.leaf_fall_day = day;
}

void PhenologyStep(const landuse_table_entry& record, int day, phenology_cell& cell) {
  if (record.Method() == kMethodDynamicPhenology1 || record.forcing_active) {
    ForcingStartStep(record, day, cell);
    return;
  }
  switch (record.Method()) {
    case kMethodDynamicPhenology2:
      ChillingStep(record, day, cell);
      break;
    case kMethodDynamicPhenology3:
      ForcingThresholdStep(record, day, cell);
      break;
    case kMethodDynamicPhenology4:
      ChillingDayStep(record, day, cell);
      break;
    default:
      break;
  }
}

// ======================================================================
// grid handles

void vegetation_grid_lists::Release() {
  for (auto& list : layer_data) list.clear();
  for (auto& list : layer_index) list.clear();
  albedo = evaporation_resistance = temperature_avg = leaf_fall_day = temperature_movavg7 = nullptr;
  movavg7_stack = nullptr;
  evaporation_resistance_index = temperature_avg_index = temperature_movavg7_index = 0;
  start_times.clear();
  start_times_index.clear();
  start_times1_index = 0;
  dynamic_phenology = start_time_lists_used = false;
  max_fix_point_count = 0;
  temperature = available_soil_moisture = soil_storage = soil_types = nullptr;
  root_zone_grids_found = false;
  mean_day_count = 0;
  created_grids.clear();
  created_stacks.clear();
}

// ======================================================================
// code checks

void defaultini::ReplaceCodesByPositions(int index, bool soil, const std::string& shown_file, bool report) {
  if (soil) {
    CheckAndReplaceCodes(*this, index, soil_table, kSoilCheck, shown_file, report);
  } else if (!multilayer_table.empty()) {
    CheckAndReplaceCodes(*this, index, multilayer_table, kMultilayerCheck, shown_file, report);
  } else {
    CheckAndReplaceCodes(*this, index, landuse_table, kLanduseCheck, shown_file, report);
  }
}

void defaultini::CheckLanduseCodes(int landuse_index) {
  if (landuse_index <= 0) return;
  ReplaceCodesByPositions(landuse_index, false, (*grids)[landuse_index].file_name, true);
  if (multilayer_table.empty()) return;

  // Layer codes of the multilayer records: land uses of the land-use table.
  const double nodata = nodata_value;
  for (std::size_t r = 1; r < multilayer_table.size(); ++r) {
    const multilayer_landuse_entry& record = multilayer_table[r];
    for (int i = 1; i <= record.LayerCount(); ++i) {
      const int layer_code = record.LayerCode(i);
      if (layer_code > nodata) {
        if (PositionOfCode(landuse_table, layer_code) > 0) continue;
        *messages
            << "FATAL: \n"
            << kSeparatorLine << "\nError: not all layer codes from landuse " << record.Code()
            << " from MultiLayer_Landuse-Table\nare present in the landuse-table in the control file: Here, "
               "code "
            << layer_code << " is missing.\n"
            << kSeparatorLine << "\n\n"
            << "[end-entry]";
        throw ErrorCode{kLayerCodeErrorCode};
      }
      if (i == 1) {
        *messages
            << "FATAL: \n\n"
            << kSeparatorLine
            << "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a valid entry (not "
               "9999 or larger):\nHere, line "
            << static_cast<int>(r) << " contains " << layer_code << " as first layer code.\n"
            << kSeparatorLine << "\n\n"
            << "[end-entry]";
        throw ErrorCode{kLayerCodeErrorCode};
      }
    }
  }
  if (landuse_table.size() < 2) return;
  for (std::size_t k = 1; k < landuse_table.size(); ++k) {
    const int code = landuse_table[k].Code();
    if (code == static_cast<int>(k)) continue;
    for (std::size_t r = 1; r < multilayer_table.size(); ++r) {
      multilayer_landuse_entry& record = multilayer_table[r];
      for (int i = 1; i <= record.LayerCount(); ++i) {
        const auto layer = static_cast<std::size_t>(i);
        if (layer >= record.layer_codes_read.size() || record.layer_codes_read[layer] != code) continue;
        record.layer_codes[layer] = static_cast<int>(k);
        *messages << "Code replacement in MultiLayer-Landuse " << static_cast<int>(r)
                  << ": changed Layer-Code #" << i << " from " << code << " to " << static_cast<int>(k)
                  << "[end-entry]";
      }
    }
  }
}

void defaultini::check_SOIL_Codes(int soil_index) {
  if (soil_index <= 0) return;
  ReplaceCodesByPositions(soil_index, true, (*grids)[soil_index].file_name, true);
}

// ======================================================================
// land-use layer grids

void defaultini::CreateLanduseLayerGrids() {
  const int landuse_index = FindGrid("landuse", true);
  if (landuse_index <= 0 || !(*grids)[landuse_index].data) return;
  const int layers = multilayer_table.size() > 1 ? std::max(1, multilayer_table[1].LayerCount()) : 1;
  landuse_layer_count = layers;
  double** landuse = (*grids)[landuse_index].data;
  landuse_layer_grids.assign(static_cast<std::size_t>(layers) + 1, nullptr);
  landuse_layer_grids[0] = landuse;

  for (int l = 1; l <= layers; ++l) {
    // A second call (after the land-use grid was read again) refills the
    // grids it made the first time.
    const std::string name = LayerName("landuse", l);
    const int index = FindGrid(name, true);
    double** layer = index > 0 ? (*grids)[index].data : nullptr;
    if (!layer) {
      parameter_grid_lists.created_grids.emplace_back(matrix(1, nrows, 1, ncols, 0));
      layer = parameter_grid_lists.created_grids.back().get();
      AttachOrRegister(*this, index, name, layer, nullptr, 0, 0, {1, nrows});
    }
    landuse_layer_grids[static_cast<std::size_t>(l)] = layer;
    FillLanduseLayerGrid(layer, landuse, l, false);
  }
}

void defaultini::FillLanduseLayerGrid(double** layer_grid, double** landuse, int layer,
                                      bool row_ranges_only) {
  // Land-use position of the layer by multilayer record position.
  std::vector<double> layer_codes(multilayer_table.size(), nodata_value);
  for (std::size_t p = 1; p < multilayer_table.size(); ++p)
    layer_codes[p] = multilayer_table[p].LayerCode(layer);
  const int records = static_cast<int>(multilayer_table.size()) - 1;

  const domain_view view = ViewOf(*this);
  const int top = row_ranges_only ? first_row : 1;
  const int bottom = row_ranges_only ? last_row : nrows;
  const bool bounded = row_ranges_only && row_ranges;
  for (int r = top; r <= bottom; ++r) {
    const int first = bounded ? std::max(row_ranges[r].first, 1) : 1;
    const int last = bounded ? std::min(row_ranges[r].last, ncols) : ncols;
    const double* landuse_row = landuse[r];
    double* layer_row = layer_grid[r];
    for (int c = first; c <= last; ++c) {
      const int position = CellInteger(landuse_row[c]);
      const bool known = view.InProcess(r, c) && position >= 1 && position <= records;
      layer_row[c] = known ? layer_codes[static_cast<std::size_t>(position)] : nodata_value;
    }
  }
}

// ======================================================================
// parameter grids for the start date

namespace {

// Which methods the land uses need: the phenology grids, the start-time
// lists and their length.
void SurveyLanduseMethods(defaultini& setup) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  lists.max_fix_point_count = 0;
  lists.dynamic_phenology = lists.start_time_lists_used = false;
  for (std::size_t k = 1; k < setup.landuse_table.size(); ++k) {
    const landuse_table_entry& record = setup.landuse_table[k];
    lists.max_fix_point_count = std::max(lists.max_fix_point_count, record.FixPointCount());
    lists.dynamic_phenology = lists.dynamic_phenology || IsDynamicMethod(record.Method());
    lists.start_time_lists_used = lists.start_time_lists_used || UsesStartTimeLists(record.Method());
  }
}

// "albedo" is read, not made here: without it the run stops.
void FindAlbedoGrid(defaultini& setup) {
  const int albedo_index = setup.FindGrid("albedo", true);
  if (albedo_index <= 0 || !(*setup.grids)[albedo_index].data) {
    *setup.messages << kNoAlbedoMessage << "[end-entry]";
    throw ErrorCode{kParameterGridErrorCode};
  }
  setup.parameter_grid_lists.albedo = (*setup.grids)[albedo_index].data;
}

// "TemperatureMOVAVG7" with its 8-level stack of the last days' means. A grid
// made here starts at 0 inside the domain, in the grid and every level; a
// grid that was given keeps its values.
void FindOrCreateMovingAverage(defaultini& setup, row_span rows) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const row_span process_rows{setup.first_row, setup.last_row};
  const int ncols = setup.ncols;
  double** zone = ViewOf(setup).zone;
  const auto start_empty = [&](double** grid, double*** stack) {
    for (int r = process_rows.first; r <= process_rows.last; ++r) {
      for (int c = 1; c <= ncols; ++c) {
        const double value = zone[r][c] == setup.nodata_value ? setup.nodata_value : 0.0;
        if (grid) grid[r][c] = value;
        std::fill(stack[r][c], stack[r][c] + kMovingAverageLevels, value);
      }
    }
  };
  const auto new_stack = [&] {
    lists.created_stacks.emplace_back(
        setup.Matrix3D(process_rows.first, process_rows.last, 1, ncols, kMovingAverageDays, 0));
    return lists.created_stacks.back().get();
  };
  const int found = setup.FindGrid("TemperatureMOVAVG7", true);
  const grid_entry* existing = found > 0 ? &(*setup.grids)[found] : nullptr;
  if (existing && existing->data) {
    lists.temperature_movavg7 = existing->data;
    lists.temperature_movavg7_index = found;
    const bool holds_all_days = existing->layers && existing->layer_count >= kMovingAverageDays;
    lists.movavg7_stack = holds_all_days ? existing->layers : nullptr;
    if (!lists.movavg7_stack) {
      // Found without its 8-level stack: the moving average keeps its days
      // in a stack of its own.
      lists.movavg7_stack = new_stack();
      start_empty(nullptr, lists.movavg7_stack);
    }
    return;
  }
  const row_span allocated = CoveringRows(setup, found, rows);
  lists.created_grids.emplace_back(setup.matrix(allocated.first, allocated.last, 1, ncols, 0));
  lists.temperature_movavg7 = lists.created_grids.back().get();
  lists.movavg7_stack = new_stack();
  lists.temperature_movavg7_index =
      AttachOrRegister(setup, found, "TemperatureMOVAVG7", lists.temperature_movavg7, lists.movavg7_stack,
                       kMovingAverageDays, FullWriteCode((*setup.grids)[lists.temperature_avg_index]), rows);
  start_empty(lists.temperature_movavg7, lists.movavg7_stack);
}

// The grids of no particular layer: "SurfaceEvaporationResistance" and the
// daily temperatures of the dynamic phenology.
void FindOrCreateSharedGrids(defaultini& setup, row_span rows) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  grid_handle handle = FindOrCreate(setup, "SurfaceEvaporationResistance", rows);
  lists.evaporation_resistance = handle.data;
  lists.evaporation_resistance_index = handle.index;
  if (!lists.dynamic_phenology) return;
  handle = FindOrCreate(setup, "TemperatureAVG", rows);
  lists.temperature_avg = handle.data;
  lists.temperature_avg_index = handle.index;
  lists.leaf_fall_day = FindOrCreate(setup, "StartDayOfLeaveFall", rows).data;
  FindOrCreateMovingAverage(setup, rows);
}

void StartLayerLists(vegetation_grid_lists& lists, int layer_count) {
  const auto size = static_cast<std::size_t>(layer_count) + 1;
  for (auto& list : lists.layer_data) list.assign(size, nullptr);
  for (auto& list : lists.layer_index) list.assign(size, 0);
  lists.start_times.assign(size, nullptr);
  lists.start_times_index.assign(size, 0);
}

// The nine grids of a layer, and with dynamic phenology its four season
// grids. Returns which of them were given rather than made here.
std::array<bool, kLayerGridKinds> FindOrCreateLayerGrids(defaultini& setup, int l, row_span rows) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const auto layer = static_cast<std::size_t>(l);
  const int kinds = lists.dynamic_phenology ? kLayerGridKinds : kLayerParameterGridKinds;
  std::array<bool, kLayerGridKinds> given{};
  for (int kind = 0; kind < kinds; ++kind) {
    const auto k = static_cast<std::size_t>(kind);
    const grid_handle handle = FindOrCreate(setup, LayerName(kLayerGridNames[k], l), rows);
    // A vegetation start that was not given is not yet found; the sums and
    // the threshold start at 0.
    if (handle.created && kind == kPhenoStartGrid) Fill(handle.data, rows, setup.ncols, kNotYet);
    given[k] = !handle.created;
    lists.layer_data[k][layer] = handle.data;
    lists.layer_index[k][layer] = handle.index;
  }
  return given;
}

// "MultipleStartTimes<l>": a stack given as input carries the lists of an
// earlier run; a stack made here starts from the table's days at each cell.
void FindOrCreateStartTimeLists(defaultini& setup, int l, row_span rows) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const auto layer = static_cast<std::size_t>(l);
  const int levels = lists.max_fix_point_count;
  const std::string name = LayerName("MultipleStartTimes", l);
  const int found = setup.FindGrid(name, true);
  const grid_entry* existing = found > 0 ? &(*setup.grids)[found] : nullptr;
  if (existing && existing->layers && existing->layer_count >= levels + 1) {
    lists.start_times[layer] = existing->layers;
    lists.start_times_index[layer] = found;
    return;
  }
  lists.created_stacks.emplace_back(setup.Matrix3D(1, setup.nrows, 1, setup.ncols, levels + 1, 0));
  double*** stack = lists.created_stacks.back().get();
  lists.start_times[layer] = stack;
  if (existing) {
    lists.start_times_index[layer] = found;
  } else {
    const int index = NextFreeEntry(*setup.grids, setup.messages);
    lists.created_grids.emplace_back(setup.matrix(rows.first, rows.last, 1, setup.ncols, 0));
    setup.RegisterGrid(index, name, lists.created_grids.back().get(), stack, levels + 1, name, 3, 1,
                       setup.nrows);
    ++setup.grid_count;
    lists.start_times_index[layer] = index;
  }
  const model_date& start = setup.start_date;
  const int start_day_number = DayOfYearFrom(MonthLengthsOf(start.year), start.day, start.month);
  const domain_view view = ViewOf(setup);
  double** landuse = setup.landuse_layer_grids[layer];
  for (int r = rows.first; r <= rows.last; ++r) {
    for (int c = 1; c <= setup.ncols; ++c) {
      double* q = stack[r][c];
      const landuse_table_entry* record =
          view.InProcess(r, c) ? RecordAt(setup.landuse_table, landuse[r][c], setup.nodata_value) : nullptr;
      if (!record) {
        std::fill(q + 1, q + levels + 1, setup.nodata_value);
        continue;
      }
      InitialStartTimes(*record, q, levels, start_day_number, view.elevation[r][c], setup.nodata_value);
    }
  }
}

// The land uses of the phenology methods read their cells' season from the
// lists, which are filled for the later layers as they are made.
void HandPhenologyGridsToLanduses(defaultini& setup) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  for (std::size_t k = 1; k < setup.landuse_table.size(); ++k) {
    landuse_table_entry& record = setup.landuse_table[k];
    if (!IsDynamicMethod(record.Method())) continue;
    record.SetPhenoStartGrids(&lists.layer_data[kPhenoStartGrid]);
    record.SetFStarGrids(&lists.layer_data[kFStarGrid]);
    record.SetForcingSumGrids(&lists.layer_data[kForcingSumGrid]);
    record.SetStartTimeLists(&lists.start_times, lists.max_fix_point_count);
  }
}

// A cell's season grids where its land use finds the vegetation start per
// cell. Only a given grid carries a chilling sum or a threshold over from an
// earlier season.
void StartSeasonOfCell(landuse_table_entry& record, const std::array<double*, kLayerGridKinds>& row, int c,
                       const std::array<bool, kLayerGridKinds>& given) {
  if (row[kForcingSumGrid][c] < 0.0) row[kForcingSumGrid][c] = 0.0;
  if (row[kPhenoStartGrid][c] < 0.0) row[kPhenoStartGrid][c] = record.StartOffset();
  if (!given[kChillingSumGrid] || row[kChillingSumGrid][c] < 0.0) {
    row[kChillingSumGrid][c] = 0.0;
  } else {
    record.SetForcingActive(false);  // a chilling sum carried over: the record's own season runs
  }
  if (!given[kFStarGrid] || row[kFStarGrid][c] < 0.0) row[kFStarGrid][c] = record.FStar();
}

// Table values of the start date a cell takes, each found when first needed.
enum start_date_value : int {
  kStartRootDepth,
  kStartLeafAreaIndex,
  kStartVegetationCover,
  kStartCanopyResistance,
  kStartInterceptionResistance,
  kStartRoughnessLength,
  kStartEvaporationResistance,
  kStartAlbedo,
  kStartVegetationStart,
  kStartDateValues
};
struct start_date_values {
  std::optional<landuse_cell_day> at;
  std::vector<int> days;  // the corrected fix-point days `at` refers to
  std::array<std::optional<double>, kStartDateValues> values;

  explicit start_date_values(int fix_point_count) : days(static_cast<std::size_t>(fix_point_count) + 1) {}
  void Clear() {
    at.reset();
    values.fill(std::nullopt);
  }
};

// A land use without a phenology of its own and without altitude dependence
// has the same day, and so the same values, at every cell of finite
// elevation: they are found once and shared.
bool SameAtEveryCell(const landuse_table_entry& record) {
  if (IsDynamicMethod(record.Method())) return false;
  return std::all_of(record.lists.AltDep.begin(), record.lists.AltDep.end(),
                     [](double days_per_metre) { return days_per_metre == 0.0; });
}

// The grids of layer `l` at every cell for the start date. The table's value
// replaces a grid's only where the land use's mask has the grid's bit; the
// limits hold whatever the mask.
void FillStartDateParameters(defaultini& setup, int l, row_span rows,
                             const std::array<bool, kLayerGridKinds>& given) {
  using lists_of = landuse_fix_point_lists;
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const auto layer = static_cast<std::size_t>(l);
  const int kinds = lists.dynamic_phenology ? kLayerGridKinds : kLayerParameterGridKinds;
  const domain_view view = ViewOf(setup);
  const double nodata = setup.nodata_value;
  const model_date& start = setup.start_date;
  const landuse_cell_day date = LanduseDay(start.day, start.month, start.year);
  // Per land use, the values it shares among its cells; a land use whose
  // values differ by cell finds them again at every cell.
  std::vector<start_date_values> shared(setup.landuse_table.size(),
                                        start_date_values(lists.max_fix_point_count));
  std::vector<char> shares(setup.landuse_table.size(), 0);
  for (std::size_t k = 1; k < setup.landuse_table.size(); ++k)
    shares[k] = SameAtEveryCell(setup.landuse_table[k]) ? 1 : 0;
  start_date_values own(lists.max_fix_point_count);
  double** landuse = setup.landuse_layer_grids[layer];
  double** evaporation = lists.evaporation_resistance;
  double** albedo = lists.albedo;
  for (int r = rows.first; r <= rows.last; ++r) {
    std::array<double*, kLayerGridKinds> row{};
    for (int kind = 0; kind < kinds; ++kind)
      row[static_cast<std::size_t>(kind)] = lists.layer_data[static_cast<std::size_t>(kind)][layer][r];
    for (int c = 1; c <= setup.ncols; ++c) {
      const bool inside = view.InProcess(r, c);
      landuse_table_entry* record = inside ? RecordAt(setup.landuse_table, landuse[r][c], nodata) : nullptr;
      if (!record) {
        for (int kind = 0; kind < kinds; ++kind) row[static_cast<std::size_t>(kind)][c] = nodata;
        if (l == 1) {
          evaporation[r][c] = nodata;
          if (inside) albedo[r][c] = nodata;
        }
        continue;
      }
      if (HoldsStart(record->Method())) StartSeasonOfCell(*record, row, c, given);
      const double elevation = view.elevation[r][c];
      const auto position = static_cast<std::size_t>(record - setup.landuse_table.data());
      start_date_values& cell = shares[position] && std::isfinite(elevation) ? shared[position] : own;
      if (&cell == &own) own.Clear();
      // The cell's day is found at the first value the land use takes from
      // the table; a fix-point day out of the year names the cell when that
      // is the root depth.
      const auto cell_day = [&]() -> const landuse_cell_day& {
        if (!cell.at)
          cell.at = LanduseCellDay(setup.messages, *record, date, start.year, l, r, c, elevation, cell.days,
                                   record->UsesInternalParameter(kMaskRootDepth) != 0);
        return *cell.at;
      };
      const auto value = [&](start_date_value slot, const auto& find) {
        std::optional<double>& held = cell.values[static_cast<std::size_t>(slot)];
        if (!held) held = find();
        return *held;
      };
      const auto take = [&](int bits, start_date_value slot, double& target,
                            landuse_table_entry::value_list list) {
        if (record->UsesInternalParameter(bits))
          target = value(slot, [&] { return record->ValueOn(list, cell_day()); });
      };
      // The monthly resistances need no fix-point days.
      const auto take_resistance = [&](int bits, start_date_value slot, double& target,
                                       landuse_table_entry::value_list list) {
        if (!record->UsesInternalParameter(bits)) return;
        target = value(slot, [&] {
          return record->Method() == kMethodMonthly
                     ? record->ResistanceOn(list, LanduseMonthDay(setup.messages, *record, date, start.year))
                     : record->ResistanceOn(list, cell_day());
        });
      };
      take(kMaskRootDepth, kStartRootDepth, row[kRootDepthGrid][c], &lists_of::RootDepth);
      take(kMaskLeafAreaIndex, kStartLeafAreaIndex, row[kLeafAreaIndexGrid][c], &lists_of::LAI);
      take(kMaskVegetationCover, kStartVegetationCover, row[kVegetationCoverGrid][c], &lists_of::VCF);
      take_resistance(kMaskCanopyResistance, kStartCanopyResistance, row[kCanopyResistanceGrid][c],
                      &lists_of::rsc);
      take_resistance(kMaskInterceptionResistance, kStartInterceptionResistance,
                      row[kInterceptionResistanceGrid][c], &lists_of::rs_interception);
      take(kMaskRoughnessLength, kStartRoughnessLength, row[kRoughnessLengthGrid][c], &lists_of::Z0);
      if (l == 1) {
        take_resistance(kMaskEvaporationResistance, kStartEvaporationResistance, evaporation[r][c],
                        &lists_of::rs_evaporation);
        take(kMaskAlbedo, kStartAlbedo, albedo[r][c], &lists_of::Albedo);
        if (evaporation[r][c] < 0.0) evaporation[r][c] = 0.0;
      }
      if (row[kVegetationStartGrid][c] <= 0.0)
        row[kVegetationStartGrid][c] = record->veg_start_point == 0 ? 0.0 : value(kStartVegetationStart, [&] {
          return record->VegetationStartOn(cell_day());
        });
      row[kVegetationDurationGrid][c] = 0.0;
      row[kVegetationStopGrid][c] = kNotYet;
      LimitParameters(row, c);
    }
  }
}

}  // namespace

void defaultini::generateMultiLayerParameterGrids(int layer_count) {
  *messages << "1"
            << "[end-entry]";
  if (landuse_layer_grids.empty()) return;
  const int L = std::min(layer_count, static_cast<int>(landuse_layer_grids.size()) - 1);

  SurveyLanduseMethods(*this);
  for (std::size_t k = 1; k < landuse_table.size(); ++k)
    landuse_table[k].InitializeStart(messages, start_date.day, start_date.month, start_date.year);
  FindAlbedoGrid(*this);
  NextFreeEntry(*grids, messages);

  const row_span rows = WidenedRows(*this);
  FindOrCreateSharedGrids(*this, rows);
  StartLayerLists(parameter_grid_lists, L);
  for (int l = 1; l <= L; ++l) {
    const std::array<bool, kLayerGridKinds> given = FindOrCreateLayerGrids(*this, l, rows);
    if (parameter_grid_lists.start_time_lists_used) {
      FindOrCreateStartTimeLists(*this, l, rows);
      if (l == 1) parameter_grid_lists.start_times1_index = parameter_grid_lists.start_times_index[1];
    }
    if (l == 1) HandPhenologyGridsToLanduses(*this);
    FillStartDateParameters(*this, l, rows, given);
  }
}

// ======================================================================
// daily update

void defaultini::UpdatePhenology(int day_number, int layer_count) {
  vegetation_grid_lists& lists = parameter_grid_lists;
  for (std::size_t k = 1; k < landuse_table.size(); ++k) {
    landuse_table_entry& record = landuse_table[k];
    if ((record.Method() == kMethodDynamicPhenology2 && day_number == record.DP2_t0_dorm) ||
        (record.Method() == kMethodDynamicPhenology4 && day_number == record.DP4_t0_dorm)) {
      record.SetForcingActive(false);  // the record's own chilling period begins
    }
  }
  if (!lists.temperature_avg || landuse_layer_grids.empty()) return;
  const int L = std::min({layer_count, static_cast<int>(landuse_layer_grids.size()) - 1,
                          static_cast<int>(lists.layer_data[kPhenoStartGrid].size()) - 1});
  const domain_view view = ViewOf(*this);
  for (int r = first_row; r <= last_row; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      if (!view.Inside(r, c)) continue;
      bool cold_days_counted = false;
      for (int l = 1; l <= L; ++l) {
        const auto layer = static_cast<std::size_t>(l);
        landuse_table_entry* record = RecordAt(landuse_table, landuse_layer_grids[layer][r][c], nodata_value);
        if (!record || !IsDynamicMethod(record->Method())) continue;
        phenology_cell cell;
        cell.temperature = lists.temperature_avg[r][c];
        cell.forcing_sum = &lists.layer_data[kForcingSumGrid][layer][r][c];
        cell.pheno_start = &lists.layer_data[kPhenoStartGrid][layer][r][c];
        cell.chilling_sum = &lists.layer_data[kChillingSumGrid][layer][r][c];
        cell.forcing_threshold = &lists.layer_data[kFStarGrid][layer][r][c];
        if (layer < lists.start_times.size() && lists.start_times[layer])
          cell.start_times = lists.start_times[layer][r][c];
        cell.leaf_fall_day = lists.leaf_fall_day ? &lists.leaf_fall_day[r][c] : nullptr;
        cell.cold_days = lists.movavg7_stack ? &lists.movavg7_stack[r][c][0] : nullptr;
        cell.moving_average = lists.temperature_movavg7 ? lists.temperature_movavg7[r][c] : 0.0;
        cell.cold_days_counted = &cold_days_counted;
        cell.nodata = nodata_value;
        PhenologyStep(*record, day_number, cell);
      }
    }
  }
}

namespace {

// A stored date that nothing has set yet: the set-up object's date before
// its first step was written out.
bool IsUnsetDate(const model_date& date) { return date.day == 0 && date.month == 0 && date.year == 0; }

// "TemperatureAVG" sums the step's share of the day, so that it holds the
// daily mean at the end of the day.
void AddToDailyMeanTemperature(defaultini& setup, double time_step_minutes) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  if (!lists.temperature) {
    const int index = setup.FindGrid("temperature", true);
    if (index <= 0 || !(*setup.grids)[index].data) {
      *setup.messages << kNoTemperatureMessage << "[end-entry]";
      throw ErrorCode{kTemperatureGridErrorCode};
    }
    lists.temperature = (*setup.grids)[index].data;
  }
  const domain_view view = ViewOf(setup);
  const double weight = time_step_minutes / kMinutesPerDay;
  for (int r = setup.first_row; r <= setup.last_row; ++r) {
    double* average = lists.temperature_avg[r];
    const double* temperature = lists.temperature[r];
    for (int c = 1; c <= setup.ncols; ++c)
      if (view.Inside(r, c)) average[c] += weight * temperature[c];
  }
}

void ResetDailyMeanTemperature(defaultini& setup) {
  const domain_view view = ViewOf(setup);
  double** average = setup.parameter_grid_lists.temperature_avg;
  for (int r = setup.first_row; r <= setup.last_row; ++r)
    for (int c = 1; c <= setup.ncols; ++c)
      if (view.Inside(r, c)) average[r][c] = 0.0;
}

void WriteParameterProgress(defaultini& setup, int hour, int day, int month, int year) {
  const int shift = static_cast<int>(setup.interval_end_shift);
  const model_date& stored = setup.current_date;
  const std::string label(kProgressLabelWidth - std::string("actual parameters").size(), ' ');
  if (setup.message_interval == 1) {
    *setup.messages << "INFO: " << label + "actual parameters"
                    << " " << day << "." << month << "." << year << " " << hour << ". h"
                    << "[end-entry]";
  } else if (setup.message_interval > 0 && (stored.hour + shift) % setup.message_interval == 0) {
    *setup.messages << "INFO: " << label + "actual parameters"
                    << " " << stored.day << "." << stored.month << "." << stored.year << " " << stored.hour
                    << ". h "
                    << "(time of meteo data)"
                    << "[end-entry]";
  }
}

// The day's mean joins the last seven in the "TemperatureMOVAVG7" stack,
// whose mean is then written out.
void UpdateMovingAverage(defaultini& setup) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const domain_view view = ViewOf(setup);
  lists.mean_day_count = std::min(lists.mean_day_count + 1, kMovingAverageDays);
  for (int r = setup.first_row; r <= setup.last_row; ++r) {
    for (int c = 1; c <= setup.ncols; ++c) {
      if (!view.Inside(r, c)) continue;
      double* days = lists.movavg7_stack[r][c];
      std::copy_backward(days + 1, days + kMovingAverageDays, days + kMovingAverageDays + 1);
      days[1] = lists.temperature_avg[r][c];
      double sum = 0.0;
      for (int d = 1; d <= kMovingAverageDays; ++d) sum += days[d];
      lists.temperature_movavg7[r][c] = sum / lists.mean_day_count;
    }
  }
  setup.WriteGridOutput(lists.temperature_movavg7_index, 1, false);
}

// The deepest roots of a cell before the day's update, and their layer.
struct deepest_roots {
  double depth = 0.0;
  int layer = 1;
};

// Parameter step of one valid cell: the day's values of every layer's land
// use, with their limits, and the vegetation period for balances.
deepest_roots UpdateCellParameters(defaultini& setup, const landuse_cell_day& date, int year, int L, int r,
                                   int c, double z, std::vector<int>& days) {
  using lists_of = landuse_fix_point_lists;
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  std::array<std::vector<double**>, kLayerGridKinds>& data = lists.layer_data;
  const double nodata = setup.nodata_value;

  const landuse_table_entry* first =
      RecordAt(setup.landuse_table, setup.landuse_layer_grids[1][r][c], nodata);
  // The day of the first layer's land use serves that layer too.
  landuse_cell_day first_day;
  if (!first) {
    lists.albedo[r][c] = nodata;
    lists.evaporation_resistance[r][c] = nodata;
  } else {
    first_day = LanduseCellDay(setup.messages, *first, date, year, 1, r, c, z, days, false);
    lists.albedo[r][c] = first->ValueOn(&lists_of::Albedo, first_day);
    lists.evaporation_resistance[r][c] = first->ResistanceOn(&lists_of::rs_evaporation, first_day);
  }

  deepest_roots deepest{data[kRootDepthGrid][1][r][c], 1};
  for (int l = 1; l <= L; ++l) {
    const auto layer = static_cast<std::size_t>(l);
    std::array<double*, kLayerGridKinds> row{};
    for (int kind = 0; kind < kLayerParameterGridKinds; ++kind)
      row[static_cast<std::size_t>(kind)] = data[static_cast<std::size_t>(kind)][layer][r];
    const landuse_table_entry* record =
        RecordAt(setup.landuse_table, setup.landuse_layer_grids[layer][r][c], nodata);
    if (!record) {
      for (int kind = 0; kind < kVegetationDurationGrid; ++kind)
        row[static_cast<std::size_t>(kind)][c] = nodata;
      continue;
    }
    if (row[kRootDepthGrid][c] > deepest.depth) deepest = {row[kRootDepthGrid][c], l};
    const landuse_cell_day at = l == 1 && record == first ? first_day
                                                          : LanduseCellDay(setup.messages, *record, date,
                                                                           year, l, r, c, z, days, true);
    row[kRootDepthGrid][c] = record->ValueOn(&lists_of::RootDepth, at);
    row[kLeafAreaIndexGrid][c] = record->ValueOn(&lists_of::LAI, at);
    row[kVegetationCoverGrid][c] = record->ValueOn(&lists_of::VCF, at);
    row[kCanopyResistanceGrid][c] = record->ResistanceOn(&lists_of::rsc, at);
    row[kInterceptionResistanceGrid][c] = record->ResistanceOn(&lists_of::rs_interception, at);
    row[kRoughnessLengthGrid][c] = record->ValueOn(&lists_of::Z0, at);
    if (record->veg_reset_day == date.day_of_year) {
      row[kVegetationStartGrid][c] = kNotYet;
      row[kVegetationStopGrid][c] = kNotYet;
      row[kVegetationDurationGrid][c] = 0.0;
    }
    if (row[kVegetationStartGrid][c] < 0.0) row[kVegetationStartGrid][c] = record->VegetationStartOn(at);
    if (row[kVegetationStopGrid][c] < 0.0) row[kVegetationStopGrid][c] = record->VegetationStopOn(at);
    LimitParameters(row, c);
  }
  return deepest;
}

// Root-zone step of one valid cell: its capacity follows the new depth of
// the layer whose roots were deepest.
void UpdateCellRootZone(defaultini& setup, const root_zone_grids& soil, deepest_roots deepest, int r, int c) {
  const vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const double new_depth = lists.layer_data[kRootDepthGrid][static_cast<std::size_t>(deepest.layer)][r][c];
  // Frozen ground can leave a root zone without capacity; it grows back by
  // the field capacity of the cell's soil.
  double per_metre = 0.0;
  if (!(soil.capacity[r][c] > 0.0) && lists.soil_types) {
    const double position = lists.soil_types[r][c];
    if (position >= 1.0 && position < static_cast<double>(setup.soil_table.size()))
      per_metre = setup.soil_table[static_cast<std::size_t>(position)].CapacityPerMetre();
  }
  UpdateRootZone(soil, r, c, deepest.depth, new_depth, per_metre);
}

// The parameter grids of every valid cell for the day, then its root zone.
void UpdateParameterGrids(defaultini& setup, int day, int month, int year, int L, root_zone_grids soil) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  if (!lists.root_zone_grids_found) {
    const int moisture = setup.FindGrid("available_soil_moisture", true);
    const int storage = setup.FindGrid("soil_storage", true);
    const int soils = setup.FindGrid(kSoilTypesName, true);
    lists.available_soil_moisture = moisture > 0 ? (*setup.grids)[moisture].data : nullptr;
    lists.soil_storage = storage > 0 ? (*setup.grids)[storage].data : nullptr;
    lists.soil_types = soils > 0 ? (*setup.grids)[soils].data : nullptr;
    lists.root_zone_grids_found = true;
  }
  soil.capacity = lists.available_soil_moisture;
  soil.storage = lists.soil_storage;
  const bool root_zone = soil.Complete();
  const landuse_cell_day date = LanduseDay(day, month, year);
  std::vector<int> days(static_cast<std::size_t>(lists.max_fix_point_count) + 1);
  const domain_view view = ViewOf(setup);
  for (int r = setup.first_row; r <= setup.last_row; ++r) {
    for (int c = 1; c <= setup.ncols; ++c) {
      if (!view.Inside(r, c)) continue;
      const deepest_roots deepest =
          UpdateCellParameters(setup, date, year, L, r, c, view.elevation[r][c], days);
      if (root_zone) UpdateCellRootZone(setup, soil, deepest, r, c);
    }
  }
}

// On the table's reset day the per-step output of every grid resets its
// vegetation-period sums; on its write day it writes them. A stored date that
// nothing has set yet is no day.
void MarkVegetationPeriodOutput(defaultini& setup) {
  if (setup.landuse_table.empty() || IsUnsetDate(setup.current_date)) return;
  landuse_table_entry& header = setup.landuse_table[0];
  const model_date& stored = setup.current_date;
  const int d = header.DayOfYear(setup.messages, stored.day, stored.month, stored.year);
  const int free_entry = setup.grids->FirstFreeEntry();
  if (d == header.veg_reset_day) {
    for (int index = 1; index < free_entry; ++index) (*setup.grids)[index].vegetation_started = 1;
  } else if (d == header.veg_write_day) {
    for (int index = 1; index < free_entry; ++index) (*setup.grids)[index].vegetation_ended = 1;
  }
}

// Time steps within the vegetation period, every step.
void CountVegetationPeriodSteps(defaultini& setup, int L) {
  vegetation_grid_lists& lists = setup.parameter_grid_lists;
  const domain_view view = ViewOf(setup);
  for (int l = 1; l <= L; ++l) {
    const auto layer = static_cast<std::size_t>(l);
    double** start = lists.layer_data[kVegetationStartGrid][layer];
    double** stop = lists.layer_data[kVegetationStopGrid][layer];
    double** duration = lists.layer_data[kVegetationDurationGrid][layer];
    for (int r = setup.first_row; r <= setup.last_row; ++r) {
      for (int c = 1; c <= setup.ncols; ++c) {
        if (!view.Inside(r, c)) {
          duration[r][c] = setup.nodata_value;
        } else if (start[r][c] >= 0.0 && stop[r][c] <= 0.0) {
          duration[r][c] += 1.0;
        }
      }
    }
  }
}

}  // namespace

void defaultini::UpdateVegetationParameters(int minute, int hour, int day, int month, int year,
                                            double time_step_minutes, double** soil_storage_old,
                                            double** saturated_soil_partition,
                                            double** inaktive_field_capacity,
                                            double** inaktive_soil_moisture) {
  // A step that ends at 00:00 ends the day before: the day's update is due.
  const model_date step = EndOfDayForm(model_date{minute, hour, day, month, year}, interval_end_shift);
  hour = step.hour;
  day = step.day;
  month = step.month;
  year = step.year;
  vegetation_grid_lists& lists = parameter_grid_lists;
  const bool dynamic = lists.dynamic_phenology && lists.temperature_avg;
  // The root zone's capacity and moisture are found at the first update.
  root_zone_grids soil;
  soil.storage_old = soil_storage_old;
  soil.inactive_capacity = inaktive_field_capacity;
  soil.inactive_moisture = inaktive_soil_moisture;
  soil.saturated_partition = saturated_soil_partition;
  if (dynamic) AddToDailyMeanTemperature(*this, time_step_minutes);

  const int L = std::min(landuse_layer_count, static_cast<int>(lists.layer_data[kRootDepthGrid].size()) - 1);
  if (hour + static_cast<int>(interval_end_shift) == kHoursPerDay) {
    WriteParameterProgress(*this, hour, day, month, year);
    if (dynamic) UpdateMovingAverage(*this);
    if (L >= 1 && soil.storage_old && soil.inactive_capacity && soil.inactive_moisture &&
        soil.saturated_partition) {
      const int day_number = DayOfYearFrom(MonthLengthsOf(year), day, month);
      current_date.hour = hour;
      current_date.day = day;
      current_date.month = month;
      current_date.year = year;
      if (dynamic) UpdatePhenology(day_number, L);
      UpdateParameterGrids(*this, day, month, year, L, soil);
    }
    if (dynamic) ResetDailyMeanTemperature(*this);
    MarkVegetationPeriodOutput(*this);
  }
  CountVegetationPeriodSteps(*this, L);
}

// ======================================================================
// clean-up

void defaultini::ReleaseVegetationGrids() {
  vegetation_grid_lists& lists = parameter_grid_lists;
  if (lists.start_time_lists_used && lists.start_times1_index > 0 && lists.start_times.size() > 1 &&
      lists.start_times[1] && grids) {
    WriteStack((*grids)[lists.start_times1_index].file_name + "_End", lists.start_times[1],
               lists.max_fix_point_count + 1, WriteAsciiGrids, WriteDoubleGrids, WriteNetcdfGrids);
  }
  if (grids) {
    for (int index = 1; index < kGridTableLimit; ++index) {
      grid_entry& entry = (*grids)[index];
      for (const owned_matrix& m : lists.created_grids)
        if (entry.data && entry.data == m.get()) entry.data = nullptr;
      for (const owned_stack& s : lists.created_stacks)
        if (entry.layers && entry.layers == s.get()) entry.layers = nullptr;
    }
  }
  landuse_layer_grids.clear();
  lists.Release();
  for (landuse_table_entry& record : landuse_table) {
    record.SetPhenoStartGrids(nullptr);
    record.SetFStarGrids(nullptr);
    record.SetForcingSumGrids(nullptr);
    record.SetStartTimeLists(nullptr, 0);
  }
}

}  // namespace velmo
