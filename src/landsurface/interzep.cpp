// The interception model: construction (grids and statistics), tracers, the
// step over the cells for one and for several layers, flushing and clean-up.
#include "landsurface/interzep.h"

#include <algorithm>
#include <cmath>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/layer_names.h"
#include "physics/glacier_share.h"
#include "setup/section_reader.h"
#include "setup/tables.h"
#include "setup/tracers.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "interzep";
constexpr const char* kModuleName = "interception_model";
constexpr int kStatisticsPrecision = 5;
constexpr int kEndStepFlag = 1;
// Fill mode of ReadGrid: holes inside the zone grid take the default value.
constexpr int kFillWithDefault = 2;
// Name that stands for "no third choice" in the look-up of the input water.
constexpr const char* kNoGridName = "ungueltiger_Name";

std::string LayerFile(const std::string& file, int layer) {
  return layer == 0 ? file : LayerFileName(file, layer);
}

// Stores `value` only where the cell holds another one, so that cells that
// keep their value step after step are only read.
inline void Keep(double& cell, double value) {
  if (cell != value) cell = value;
}

// The land-use record at a cell's value of a layer grid, or null for none.
const landuse_table_entry* LanduseAt(const landuse_table_entry* table, double value, double nodata) {
  if (!table || !(value > nodata) || !(value >= 1.0)) return nullptr;
  if (value > table[0].code) return nullptr;
  return &table[static_cast<int>(value)];
}

}  // namespace

interzeptionsmodellklasse::interzeptionsmodellklasse(MessageStream* stream, const model_settings& settings,
                                                     grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kModuleName, shared_grids) {
  if (!Active()) {
    // A negative flow control parameter leaves the file open after the head.
    section_reader(*this, kReadingOn).Close();
    return;
  }
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  layer_count = VegetationLayerCount();
  mpi_regions_data = OptionalGridData("MPIRegions", false);

  ReadSection();
  LookUpGrids();
  RegisterGrids();
}

interzeptionsmodellklasse::~interzeptionsmodellklasse() {
  // Not cleaned up: the grid table must not keep the grids freed here.
  for (std::vector<owned_grid>* list : {&evaporation, &storage, &throughfall, &canopy_grids})
    for (owned_grid& grid : *list) ReleaseOwnedGrid(*this, grid);
}

int interzeptionsmodellklasse::GetMethod() { return Active() ? parameters.method : 0; }

// ---------------------------------------------------------------- grids

void interzeptionsmodellklasse::LookUpGrids() {
  const auto layers = static_cast<std::size_t>(layer_count) + 1;
  for (auto* list :
       {&landuse, &leaf_area_index, &coverage, &roughness_length, &canopy_resistance,
        &interception_resistance, &potential_transpiration, &potential_interception, &real_transpiration})
    list->assign(layers, nullptr);
  for (int l = 1; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    landuse[i] = RequiredGridData(LayerGridName("landuse", l));
    leaf_area_index[i] = RequiredGridData(LayerGridName("leaf_area_index", l));
    coverage[i] = RequiredGridData(LayerGridName("vegetation_coverage_degree", l));
    roughness_length[i] = RequiredGridData(LayerGridName("RoughnessLength", l));
    canopy_resistance[i] = RequiredGridData(LayerGridName("SurfaceCanopyResistance", l));
    interception_resistance[i] = RequiredGridData(LayerGridName("SurfaceIntercepResistance", l));
  }
  for (int l = 0; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    potential_transpiration[i] = RequiredGridData(LayerGridName("pot_transpiration", l));
    potential_interception[i] = RequiredGridData(LayerGridName("potential_InterceptionEvap", l));
    real_transpiration[i] = RequiredGridData(LayerGridName("real_transpiration", l));
  }
  switch (traits.input) {
    case interception_input::after_snow:
      input_water = (*grids)[FindOneOfThreeGrids("snowcover_outflow", "precipitation", kNoGridName)].data;
      break;
    case interception_input::before_snow:
      input_water = RequiredGridData("precipitation");
      break;
  }
  elevation = RequiredGridData("[elevation_model]");
  if (traits.snow_canopy) LookUpSnowCanopyGrids();
}

void interzeptionsmodellklasse::RegisterOwnGrid(owned_grid& grid, const std::string& grid_name,
                                                const std::string& file_name, int write_code, bool from_file,
                                                double initial, double** shared) {
  if (shared) {
    grid.shared = shared;
  } else {
    grid.data = owned_matrix(matrix(1, nrows, 1, ncols, nrows));
    if (from_file) {
      double** target = grid.data.get();
      ReadGrid(file_name, target, kFillWithDefault, false, true, initial, false);
      CheckStateGrid(file_name, target);
    }
    for (int r = 1; r <= nrows; ++r) {
      for (int c = 1; c <= ncols; ++c) {
        double& cell = grid[r][c];
        if (!Computed(r, c)) {
          cell = nodata_value;
        } else if (!from_file) {
          cell = initial;
        }
      }
    }
  }
  grid.index = grids->FirstFreeEntry();
  if (grid.index >= kGridTableLimit) {
    *messages << "FATAL: no free grid left" << kGridTableLimit << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  RegisterGrid(grid.index, file_name, grid.rows(), nullptr, 0, grid_name, write_code, first_row, last_row);
}

void interzeptionsmodellklasse::CreateStatistics(owned_grid& grid, const std::string& file_name, int code,
                                                 const std::string& header) {
  CreateOwnedGridStatistics(*this, grid, file_name, code, kStatisticsPrecision, header, name);
}

void interzeptionsmodellklasse::RegisterGrids() {
  const interception_parameters& p = parameters;
  const auto layers = static_cast<std::size_t>(layer_count) + 1;
  storage.resize(layers);
  evaporation.resize(layers);
  throughfall.resize(layers);
  const bool from_file = p.read_grids == 1;
  int glacier_index = FindGrid("GlacierizedCells", false);
  if (glacier_index <= 0) glacier_index = FindGrid("ice_firn", false);
  if (glacier_index > 0) glacier = (*grids)[glacier_index].data;
  // One layer: its grids show the totals' matrices wherever the two hold the
  // same values, that is always but for stores read from two files and the
  // throughfall of glacierised cells.
  const bool one_layer = layer_count == 1;
  const auto totals = [&](const std::vector<owned_grid>& list, bool same) {
    return one_layer && same ? list[0].rows() : nullptr;
  };
  for (int l = 0; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    const bool layer = l > 0;
    RegisterOwnGrid(storage[i], LayerGridName("interception_storage", l), LayerFile(p.storage_grid.file, l),
                    p.storage_grid.write_code, from_file, 0.0, totals(storage, layer && !from_file));
    RegisterOwnGrid(evaporation[i], LayerGridName("interception_evaporation", l),
                    LayerFile(p.evaporation_grid.file, l), p.evaporation_grid.write_code, false, 0.0,
                    totals(evaporation, layer));
    RegisterOwnGrid(throughfall[i], LayerGridName("throughfall", l), LayerFile(p.throughfall_grid.file, l),
                    p.throughfall_grid.write_code, false, 0.0, totals(throughfall, layer && !glacier));
  }
  for (int l = 0; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    const std::string layer_tail = std::to_string(l) + "_";
    CreateStatistics(evaporation[i], LayerFile(p.evaporation_statistics.file, l),
                     p.evaporation_statistics.code, "interception_evaporation_in_mm_layer_" + layer_tail);
    CreateStatistics(storage[i], LayerFile(p.storage_statistics.file, l), p.storage_statistics.code,
                     "interception_storage_in_mm_layer_" + layer_tail);
    CreateStatistics(throughfall[i], LayerFile(p.throughfall_statistics.file, l),
                     p.throughfall_statistics.code, "throughfall_in_mm_layer_" + layer_tail);
  }
  for (std::vector<owned_grid>* list : {&evaporation, &storage, &throughfall})
    for (owned_grid& grid : *list)
      statistics_on = statistics_on || (grid.statistics && grid.statistics->IsOn());
  rows_of_layer.assign(layers, canopy_rows{});
  if (traits.snow_canopy) RegisterSnowCanopyGrids();
}

int interzeptionsmodellklasse::FirstColumn(int row) const {
  return row_ranges ? std::max(row_ranges[row].first, 1) : 1;
}
int interzeptionsmodellklasse::LastColumn(int row) const {
  return row_ranges ? std::min(row_ranges[row].last, ncols) : ncols;
}

// ---------------------------------------------------------------- tracers

void interzeptionsmodellklasse::SetUpTracers(int& error, int count,
                                             const std::vector<tracer_description>* descriptions) {
  error = 0;
  if (!Active()) return;
  teilmodellklasse::SetUpTracers(error, count, descriptions);
  if (error != 0) return;
  try {
    for (int i = 1; i <= tracer_count; ++i) {
      const auto name_of = [i](const char* module) {
        return "concflux_tracer_" + std::to_string(i) + "_" + module;
      };
      const int index = FindOneOfThreeGrids(name_of("snow_model"), name_of("irrigation"), name_of("input"));
      tracer_storages[static_cast<std::size_t>(i)].input_grid = (*grids)[index].data;
    }
  } catch (ErrorCode code) {
    error = code;
  } catch (...) {
    error = kTracerSetUpErrorCode;
  }
}

void interzeptionsmodellklasse::FreeTracers() {
  if (Active()) teilmodellklasse::FreeTracers();
}

void interzeptionsmodellklasse::TracerCell(int r, int c, int zone, double glacier_share,
                                           double storage_before, const canopy_fill& fill) {
  for (int t = 1; t <= tracer_count; ++t) {
    tracer_storage& s = tracer_storages[static_cast<std::size_t>(t)];
    const tracer_description& d = (*tracer_descriptions)[static_cast<std::size_t>(t)];
    const canopy_tracer_rules rules{d.evaporating == 1, s.decay_factor, d.max_conc};
    const canopy_tracer result =
        CanopyTracerStep(rules, s.storage_grid[r][c], storage_before, s.input_grid[r][c], fill);
    s.storage_grid[r][c] = result.stored;
    s.flux_grid[r][c] = result.throughfall_concentration;
  }
  TracerStatisticsCell(r, c, zone, 1.0 - glacier_share);
}

void interzeptionsmodellklasse::GlacierTracerCell(int r, int c, double glacier_share,
                                                  double canopy_throughfall) {
  for (int t = 1; t <= tracer_count; ++t) {
    tracer_storage& s = tracer_storages[static_cast<std::size_t>(t)];
    double& flux = s.flux_grid[r][c];
    flux = CellThroughfallConcentration(input_water[r][c], s.input_grid[r][c], glacier_share,
                                        canopy_throughfall, flux);
  }
}

// The stored concentration, by the stored water for an evaporating tracer
// and by cell for the others.
void interzeptionsmodellklasse::TracerStatisticsCell(int r, int c, int zone, double weight) {
  for (int t = 1; t <= tracer_count; ++t) {
    tracer_storage& s = tracer_storages[static_cast<std::size_t>(t)];
    if (!s.statistics) continue;
    const bool evaporating = (*tracer_descriptions)[static_cast<std::size_t>(t)].evaporating == 1;
    const double cell_weight = evaporating ? weight * storage[0][r][c] : weight;
    s.statistics->AddCell(r, c, zone, s.storage_grid[r][c], cell_weight);
  }
}

// ---------------------------------------------------------------- step

void interzeptionsmodellklasse::RunTimeStep(int minute, int hour, int day, int month, int year) {
  if (!Active()) return;
  ReportProgress(minute, hour, day, month, year);
  day_of_year = month >= 1 && month <= 12 ? DayOfYear(day, month, month_lengths) : 0;
  if (glacier) CarryCanopyAcrossGlacierChanges();
  StartStatistics();
  if (traits.snow_canopy) StartSnowCanopyStep();
  // One place for the variants: the layer count and the evaporation limit.
  const bool one_layer = layer_count == 1;
  switch (traits.limit) {
    case interception_limit::potential_transpiration:
      one_layer ? OneLayerCells<interception_limit::potential_transpiration>()
                : LayeredCells<interception_limit::potential_transpiration>();
      break;
    case interception_limit::potential_interception:
      one_layer ? OneLayerCells<interception_limit::potential_interception>()
                : LayeredCells<interception_limit::potential_interception>();
      break;
  }
  EndStep();
}

void interzeptionsmodellklasse::CarryCanopyAcrossGlacierChanges() {
  const bool first_step = canopy_glacier_shares.empty();
  if (first_step) canopy_glacier_shares.resize(static_cast<std::size_t>(nrows + 1) * (ncols + 1));
  for (int r = first_row; r <= last_row; ++r) {
    for (int c = FirstColumn(r), last = LastColumn(r); c <= last; ++c) {
      if (!Computed(r, c)) continue;
      double& before = canopy_glacier_shares[static_cast<std::size_t>(r) * (ncols + 1) + c];
      const double after = CellGlacierShare(glacier[r][c]);
      if (first_step) before = after;
      if (after == before) continue;
      const double scale = after < 1.0 ? (1.0 - before) / (1.0 - after) : 1.0 - before;
      for (int l = 0; l <= layer_count; ++l) {
        // One layer may show the totals' matrix: scaled once.
        if (l > 0 && storage[static_cast<std::size_t>(l)].rows() == storage[0].rows()) continue;
        storage[static_cast<std::size_t>(l)][r][c] *= scale;
      }
      before = after;
    }
  }
}

void interzeptionsmodellklasse::StartStatistics() {
  for (std::vector<owned_grid>* list : {&evaporation, &storage, &throughfall})
    for (owned_grid& grid : *list)
      if (grid.statistics) grid.statistics->StartStep();
  for (int t = 1; t <= tracer_count; ++t)
    if (auto& s = tracer_storages[static_cast<std::size_t>(t)].statistics) s->StartStep();
}

void interzeptionsmodellklasse::AddLayerStatistics(int layer, int r, int c, int zone, double weight) {
  const auto l = static_cast<std::size_t>(layer);
  for (std::size_t k = fed_begin[l]; k < fed_begin[l + 1]; ++k)
    fed_tables[k].table->AddCell(r, c, zone, fed_tables[k].values[c], weight);
}

void interzeptionsmodellklasse::AddRowStatistics(int r, const int* zones) {
  const double* const zone_row = zone_grid[r];
  const double* const region_row = mpi_regions_data ? mpi_regions_data[r] : nullptr;
  const double nodata = nodata_value;
  const double region = process_index;
  const auto zone_of = [&](int c) {
    return zone_row[c] != nodata && (!region_row || region_row[c] == region) ? zones[c] : -1;
  };
  AddRowToTables(fed_tables, r, FirstColumn(r), LastColumn(r), zone_of);
}

bool interzeptionsmodellklasse::IsTwin(const zonalstatistic* table) const {
  for (const auto& twin : twin_tables)
    if (twin.first == table) return true;
  return false;
}

void interzeptionsmodellklasse::AddZeroStatistics(int layer, int r, int c, int zone, double weight) {
  const auto l = static_cast<std::size_t>(layer);
  for (std::size_t k = fed_begin[l]; k < fed_begin[l + 1]; ++k)
    fed_tables[k].table->AddCell(r, c, zone, 0.0, weight);
}

inline interzeptionsmodellklasse::canopy_parameters interzeptionsmodellklasse::canopy_lookup::At(
    const canopy_rows& rows, int c) const {
  const landuse_table_entry* record = LanduseAt(table, rows.landuse[c], nodata);
  if (!record) return {};
  return {CanopyCapacity(rows.leaf_area_index[c], record->IntercepCap, max_thickness), rows.coverage[c]};
}

void interzeptionsmodellklasse::FillRows(int r) {
  fed_tables.clear();
  fed_begin.resize(static_cast<std::size_t>(layer_count) + 2);
  for (int l = 0; l <= layer_count; ++l) {
    const auto i = static_cast<std::size_t>(l);
    canopy_rows& rows = rows_of_layer[i];
    rows.storage = storage[i][r];
    rows.evaporation = evaporation[i][r];
    rows.throughfall = throughfall[i][r];
    rows.transpiration = potential_transpiration[i][r];
    rows.interception = potential_interception[i][r];
    fed_begin[i] = fed_tables.size();
    for (owned_grid* grid : {&evaporation[i], &storage[i], &throughfall[i]})
      if (grid->statistics && grid->statistics->IsOn() && !IsTwin(grid->statistics.get()))
        fed_tables.push_back({grid->statistics.get(), (*grid)[r]});
    fed_begin[i + 1] = fed_tables.size();
    if (l == 0) continue;
    rows.landuse = landuse[i][r];
    rows.leaf_area_index = leaf_area_index[i][r];
    rows.coverage = coverage[i][r];
    if (traits.snow_canopy) rows.roughness = roughness_length[i][r];
  }
  if (traits.snow_canopy) FillSnowCanopyRows(r);
}

interzeptionsmodellklasse::input_row interzeptionsmodellklasse::StartRow(int r, bool zones_needed) {
  FillRows(r);
  input_row row;
  row.zone = zone_grid[r];
  row.region = mpi_regions_data ? mpi_regions_data[r] : nullptr;
  row.glacier = glacier ? glacier[r] : nullptr;
  row.water = input_water[r];
  row.zones = zones_needed ? ZoneIndexRow(r) : nullptr;
  // Without glaciers the tables take the row's values after the cells.
  row.cell_statistics = statistics_on && row.glacier;
  return row;
}

inline interzeptionsmodellklasse::cell_input interzeptionsmodellklasse::CellInput(const input_row& row, int r,
                                                                                  int c, bool snow_canopy) {
  cell_input cell;
  cell.w = row.glacier ? CellGlacierShare(row.glacier[c]) : 0.0;
  cell.input = row.water[c];
  cell.zone = row.zones ? row.zones[c] : 0;
  cell.reaching = snow_canopy ? SnowCanopyCell(r, c, cell.zone, cell.input, cell.w) : cell.input;
  return cell;
}

template <interception_limit Limit>
void interzeptionsmodellklasse::OneLayerCells() {
  const double nodata = nodata_value;
  const double region = process_index;
  const bool tracers = tracer_count > 0;
  const bool snow_canopy = traits.snow_canopy;
  const bool canopy_statistics = !canopy_tables.empty();
  const canopy_lookup canopy_of = CanopyLookup();
  twin_tables.clear();
  if (statistics_on && !glacier) {
    for (std::vector<owned_grid>* list : {&evaporation, &storage, &throughfall}) {
      zonalstatistic* const totals = (*list)[0].statistics.get();
      const zonalstatistic* const layer = (*list)[1].statistics.get();
      if (totals && layer && totals->IsOn() && totals->FeedsLike(*layer))
        twin_tables.emplace_back(totals, layer);
    }
  }
  for (int r = first_row; r <= last_row; ++r) {
    const input_row row = StartRow(r, statistics_on || tracers || canopy_statistics);
    // Copies of the rows: the stores below cannot change them.
    const canopy_rows one = rows_of_layer[1];
    const canopy_rows total = rows_of_layer[0];
    // The evapotranspiration model may give the layer and the total one matrix.
    const bool transpiration_shared = one.transpiration == total.transpiration;
    const int* const zones = row.zones;
    const bool statistics = row.cell_statistics;
    for (int c = FirstColumn(r), last = LastColumn(r); c <= last; ++c) {
      if (row.Skipped(c, nodata, region)) {
        one.evaporation[c] = total.evaporation[c] = one.throughfall[c] = total.throughfall[c] = nodata;
        continue;
      }
      const auto [w, input, zone, reaching] = CellInput(row, r, c, snow_canopy);
      if (w < 1.0) {
        const canopy_parameters canopy = canopy_of.At(one, c);
        const double before = one.storage[c];
        const canopy_fill fill = FillCanopy(reaching, canopy.coverage, canopy.capacity, before);
        const canopy_evaporation ev =
            EvaporateCanopy(Limit, fill.storage, one.transpiration[c], one.interception[c]);
        const double stored = fill.storage - ev.evaporation;
        if (!std::isfinite(stored + fill.throughfall)) [[unlikely]]
          RaiseNotFiniteCanopy(r, c, stored, fill.throughfall);
        Keep(one.storage[c], stored);
        Keep(total.storage[c], stored);
        Keep(one.evaporation[c], ev.evaporation);
        Keep(total.evaporation[c], ev.evaporation);
        Keep(one.throughfall[c], fill.throughfall);
        Keep(total.throughfall[c], fill.throughfall);
        if (ev.transpiration_cut != 0.0) one.transpiration[c] -= ev.transpiration_cut;
        if (!transpiration_shared) Keep(total.transpiration[c], one.transpiration[c]);
        if (tracers) TracerCell(r, c, zone, w, before, fill);
        if (statistics) {
          AddLayerStatistics(1, r, c, zone, 1.0 - w);
          AddLayerStatistics(0, r, c, zone, 1.0 - w);
        }
      }
      if (w > 0.0) {
        // What the canopy of a cell the ice has just covered held drips onto it.
        double dropped = 0.0;
        if (w >= 1.0) {
          dropped = total.storage[c];
          total.storage[c] = one.storage[c] = 0.0;
          total.evaporation[c] = one.evaporation[c] = 0.0;
          total.throughfall[c] = one.throughfall[c] = 0.0;
        }
        const double canopy_throughfall = total.throughfall[c];
        total.throughfall[c] = CellThroughfall(input, w, canopy_throughfall) + dropped;
        if (tracers) GlacierTracerCell(r, c, w, canopy_throughfall);
        if (statistics) {
          AddZeroStatistics(1, r, c, zone, w);
          AddZeroStatistics(0, r, c, zone, w);
        }
      }
    }
    if (statistics_on && !row.glacier) AddRowStatistics(r, zones);
  }
  for (const auto& [totals, layer] : twin_tables) totals->TakeStepSums(*layer);
  twin_tables.clear();
}

template <interception_limit Limit>
void interzeptionsmodellklasse::LayeredCells() {
  const int L = layer_count;
  const double nodata = nodata_value;
  const double region = process_index;
  const bool tracers = tracer_count > 0;
  const bool snow_canopy = traits.snow_canopy;
  const bool canopy_statistics = !canopy_tables.empty();
  const canopy_rows* const layers = rows_of_layer.data();
  const canopy_rows& total = layers[0];
  const canopy_lookup canopy_of = CanopyLookup();
  for (int r = first_row; r <= last_row; ++r) {
    const input_row row = StartRow(r, statistics_on || tracers || canopy_statistics);
    const int* const zones = row.zones;
    const bool statistics = row.cell_statistics;
    for (int c = FirstColumn(r), last = LastColumn(r); c <= last; ++c) {
      if (row.Skipped(c, nodata, region)) {
        for (int l = 0; l <= L; ++l) layers[l].evaporation[c] = layers[l].throughfall[c] = nodata;
        continue;
      }
      const auto [w, input, zone, reaching] = CellInput(row, r, c, snow_canopy);
      if (w < 1.0) {
        double water = reaching;
        double evaporation_total = 0.0;
        double storage_total = 0.0;
        for (int l = 1; l <= L; ++l) {
          const canopy_rows& layer = layers[l];
          const canopy_parameters canopy = canopy_of.At(layer, c);
          const canopy_fill fill = FillCanopy(water, canopy.coverage, canopy.capacity, layer.storage[c]);
          const canopy_evaporation ev =
              EvaporateCanopy(Limit, fill.storage, layer.transpiration[c], layer.interception[c]);
          Keep(layer.storage[c], fill.storage - ev.evaporation);
          Keep(layer.evaporation[c], ev.evaporation);
          Keep(layer.throughfall[c], fill.throughfall);
          if (ev.transpiration_cut != 0.0) {
            layer.transpiration[c] -= ev.transpiration_cut;
            total.transpiration[c] -= ev.transpiration_cut;
          }
          evaporation_total += ev.evaporation;
          storage_total += layer.storage[c];
          water = fill.throughfall;
          if (statistics) AddLayerStatistics(l, r, c, zone, 1.0 - w);
        }
        if (!std::isfinite(storage_total + water)) [[unlikely]]
          RaiseNotFiniteCanopy(r, c, storage_total, water);
        Keep(total.evaporation[c], evaporation_total);
        Keep(total.storage[c], storage_total);
        Keep(total.throughfall[c], water);
        if (statistics) AddLayerStatistics(0, r, c, zone, 1.0 - w);
        // The tracers of several layers keep their grids.
        if (tracers) TracerStatisticsCell(r, c, zone, 1.0 - w);
      }
      if (w > 0.0) {
        // What the canopy of a cell the ice has just covered held drips onto it.
        double dropped = 0.0;
        if (w >= 1.0) {
          dropped = total.storage[c];
          for (int l = 0; l <= L; ++l)
            layers[l].storage[c] = layers[l].evaporation[c] = layers[l].throughfall[c] = 0.0;
        }
        total.throughfall[c] = CellThroughfall(input, w, total.throughfall[c]) + dropped;
        if (statistics)
          for (int l = 0; l <= L; ++l) AddZeroStatistics(l, r, c, zone, w);
      }
    }
    if (statistics_on && !row.glacier) AddRowStatistics(r, zones);
  }
}

void interzeptionsmodellklasse::RaiseNotFiniteCanopy(int r, int c, double stored, double throughfall) const {
  if (!std::isfinite(stored)) RaiseNotFinite(LayerGridName("interception_storage", 0), r, c, stored);
  RaiseNotFinite(LayerGridName("throughfall", 0), r, c, throughfall);
}

void interzeptionsmodellklasse::EndStep() {
  const model_date& d = current_date;
  for (std::size_t l = 0; l < storage.size(); ++l) {
    for (owned_grid* grid : {&evaporation[l], &storage[l], &throughfall[l]})
      if (grid->statistics) grid->statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
    WriteGridOutput(throughfall[l].index, 1, false);
    WriteGridOutput(evaporation[l].index, 1, false);
    WriteGridOutput(storage[l].index, 1, false);
  }
  for (int t = 1; t <= tracer_count; ++t) {
    tracer_storage& s = tracer_storages[static_cast<std::size_t>(t)];
    if (s.statistics) s.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
    WriteGridOutput(s.storage_grid_index, 1, false);
  }
  if (traits.snow_canopy) EndSnowCanopyStep();
  previous_date = d;
}

// ---------------------------------------------------------------- end of run

void interzeptionsmodellklasse::FlushBuffers() {
  if (!Active()) return;
  for (std::size_t l = 0; l < storage.size(); ++l)
    for (owned_grid* grid : {&evaporation[l], &storage[l], &throughfall[l]})
      if (grid->statistics) grid->statistics->FlushRows();
  for (int t = 1; t <= tracer_count; ++t)
    if (auto& s = tracer_storages[static_cast<std::size_t>(t)].statistics) s->FlushRows();
  if (traits.snow_canopy) FlushSnowCanopy();
}

void interzeptionsmodellklasse::CleanUp() {
  if (cleaned_up) return;
  int failure = 0;
  if (Active()) {
    for (std::vector<owned_grid>* list : {&evaporation, &storage, &throughfall}) {
      for (owned_grid& grid : *list) CleanUpOwnedGrid(*this, grid, failure);
      list->clear();
    }
    if (traits.snow_canopy) CleanUpSnowCanopy(failure);
  }
  modelobject::CleanUp();
  if (failure != 0) throw ErrorCode{failure};
}

}  // namespace velmo
