// Snow evaporation and real evapotranspiration of the evapotranspiration
// model: the potential rates of the step become water taken from the snow
// cover, from a lake's ponded water and from the soil.
#include <algorithm>
#include <cmath>
#include <utility>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/etpetr.h"
#include "landsurface/evaporation_withdrawal.h"
#include "landsurface/layer_names.h"
#include "physics/glacier_share.h"
#include "physics/snow_methods.h"

namespace velmo {
namespace {

constexpr const char* kSnowProgressText = "snow_evaporation";
constexpr const char* kRealProgressText = "real evapotranspir.";
constexpr const char* kInterceptionTotalName = "interception_evaporation0";
constexpr int kEndStepFlag = 1;
// The lake switch under which lake cells evaporate from their ponded water.
constexpr int kOpenWaterLakeModel = 1;

// Stores `value` only where the cell holds another one, so that cells that
// keep their value step after step are only read.
inline void Keep(double& cell, double value) {
  if (cell != value) cell = value;
}

double GlacierisedShare(const double* glacier_row, int c) {
  return glacier_row ? CellGlacierShare(glacier_row[c]) : 0.0;
}

}  // namespace

// ---------------------------------------------------------------- snow evaporation

bool verdunstungsmodellklasse::SnowStopsEvaporation() const {
  return SnowMethodKind(snow_method).melt == snow_melt_kind::energy_balance;
}

bool verdunstungsmodellklasse::SnowEvaporationStepWrites() const {
  return snow_storage && !SnowStopsEvaporation();
}

verdunstungsmodellklasse::domain_row verdunstungsmodellklasse::StartRealRow(int r) {
  FillLayerRows(r);
  return DomainRow(r);
}

verdunstungsmodellklasse::domain_row verdunstungsmodellklasse::DomainRow(int r) const {
  domain_row row;
  row.zone = zone_grid[r];
  row.region = mpi_regions_data ? mpi_regions_data[r] : nullptr;
  row.glacier = glacier ? glacier[r] : nullptr;
  row.nodata = nodata_value;
  row.process = process_index;
  return row;
}

void verdunstungsmodellklasse::LookUpGlacierSnowGrids() {
  glacier_snow_looked_up = true;
  const int evaporation_index = FindGrid("SnowEvaporation_onGlacier", false);
  if (evaporation_index <= 0 || FindGrid("TotalSnowStorage_onGlacier", false) <= 0) return;
  glacier_snow_evaporation = (*grids)[evaporation_index].data;
  const int storage_index = FindGrid("SolidSnowStorage_onGlacier", false);
  if (storage_index > 0) glacier_snow_storage = (*grids)[storage_index].data;
}

void verdunstungsmodellklasse::SnowEvaporation(int minute, int hour, int day, int month, int year) {
  if (flow_control_parameter == 0 || !snow_storage) return;
  ReportProgress(minute, hour, day, month, year, kSnowProgressText);
  if (!glacier_snow_looked_up) LookUpGlacierSnowGrids();
  const bool snow_stops = SnowStopsEvaporation();
  // The energy balance of those methods sublimates the snow within the snow
  // step: their snow evaporation is written after it, with the real
  // evapotranspiration.
  if (!snow_stops) StartSnowEvaporationOutputs();
  for (int r = first_row; r <= last_row; ++r) SnowEvaporationRow(r, snow_stops);
  if (!snow_stops) EndSnowEvaporationOutputs();
}

void verdunstungsmodellklasse::StartSnowEvaporationOutputs() {
  if (snow_evaporation.statistics) snow_evaporation.statistics->StartStep();
}

void verdunstungsmodellklasse::EndSnowEvaporationOutputs() {
  const model_date& d = current_date;
  if (snow_evaporation.statistics)
    snow_evaporation.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
  WriteGridOutput(snow_evaporation.index, 1, false);
}

// The snow evaporation of a row into its table. The value of a glacierised
// cell is a depth over its glacier-free share: it weighs 1 - w, its glacier
// share w adds 0.
void verdunstungsmodellklasse::AddSnowEvaporationRow(int r, const domain_row& row) {
  zonalstatistic* const statistics = snow_evaporation.statistics.get();
  if (!statistics || !statistics->IsOn()) return;
  const int* const zones = ZoneIndexRow(r);
  const double* const evaporation_row = snow_evaporation[r];
  if (!row.glacier) {
    statistics->AddRow(
        r, FirstColumn(r), LastColumn(r), [&](int c) { return row.Computed(c) ? zones[c] : -1; },
        [&](int c) { return evaporation_row[c]; });
    return;
  }
  for (int c = FirstColumn(r), last = LastColumn(r); c <= last; ++c) {
    if (!row.Computed(c)) continue;
    const double w = GlacierisedShare(row.glacier, c);
    statistics->AddCell(r, c, zones[c], evaporation_row[c], 1.0 - w);
    if (w != 0.0) statistics->AddCell(r, c, zones[c], 0.0, w);
  }
}

void verdunstungsmodellklasse::SnowEvaporationRow(int r, bool snow_stops) {
  const domain_row row = StartRealRow(r);
  const int L = layer_count;
  const layer_rows* const layers = rows_of_layer.data();
  const double nodata = nodata_value;
  double* const snow_row = snow_storage[r];
  double* const soil_row = potential_evaporation[r];
  double* const evaporation_row = snow_evaporation[r];
  double* const glacier_evaporation_row = glacier_snow_evaporation ? glacier_snow_evaporation[r] : nullptr;
  double* const glacier_snow_row = glacier_snow_storage ? glacier_snow_storage[r] : nullptr;
  for (int c = FirstColumn(r), last = LastColumn(r); c <= last; ++c) {
    if (!row.Computed(c)) continue;
    const double w = GlacierisedShare(row.glacier, c);
    double& snow = snow_row[c];
    if (snow_stops) {
      if (snow > 0.0) {
        for (int l = 1; l <= L; ++l)
          if (layers[l].landuse[c] > nodata) layers[l].transpiration[c] = 0.0;
        soil_row[c] = 0.0;
      }
    } else {
      double evaporation = 0.0;
      if (w < 1.0 && snow > 0.0) {
        // Without snow of its own on the glacier share (a static glacier's
        // cell), the cover lies over the whole cell and only the
        // glacier-free share evaporates from it.
        const double free = glacier_snow_row ? 1.0 : 1.0 - w;
        for (int l = 1; l <= L; ++l)
          if (layers[l].landuse[c] > nodata)
            evaporation += TakeFromCoverOfShare(snow, layers[l].transpiration[c], free);
        evaporation += TakeFromCoverOfShare(snow, soil_row[c], free);
      }
      Keep(evaporation_row[c], evaporation);
      // The glacier's snow meets the rates that are left, without lowering them.
      double glacier_evaporation = 0.0;
      if (w > 0.0 && glacier_snow_row && glacier_evaporation_row) {
        double& glacier_snow = glacier_snow_row[c];
        for (int l = 1; l <= L; ++l) {
          if (!(layers[l].landuse[c] > nodata)) continue;
          double rate = layers[l].transpiration[c];
          glacier_evaporation += TakeFromStore(glacier_snow, rate);
        }
        double soil_rate = soil_row[c];
        glacier_evaporation += TakeFromStore(glacier_snow, soil_rate);
      }
      if (glacier_evaporation_row) Keep(glacier_evaporation_row[c], glacier_evaporation);
    }
  }
  if (!snow_stops) AddSnowEvaporationRow(r, row);
}

// ---------------------------------------------------------------- real evapotranspiration

void verdunstungsmodellklasse::RealEvapotranspiration(int minute, int hour, int day, int month, int year) {
  if (flow_control_parameter == 0) return;
  BeginRealEvapotranspiration(minute, hour, day, month, year);
  const bool zero_under_ice = std::exchange(potential_step_ran, false);
  // The snow evaporation of the energy balance, as the snow step left it.
  const bool sublimation = snow_storage && SnowStopsEvaporation();
  if (sublimation) StartSnowEvaporationOutputs();
  for (int r = first_row; r <= last_row; ++r) {
    RealEvapotranspirationRow(r, zero_under_ice);
    if (sublimation) AddSnowEvaporationRow(r, DomainRow(r));
  }
  if (sublimation) EndSnowEvaporationOutputs();
  EndRealEvapotranspiration();
}

void verdunstungsmodellklasse::BeginRealEvapotranspiration(int minute, int hour, int day, int month,
                                                           int year) {
  ReportProgress(minute, hour, day, month, year, kRealProgressText);
  layer_tables.assign(real_transpiration.size(), nullptr);
  if (!interception_evaporation) {
    const int index = FindGrid(kInterceptionTotalName, false);
    if (index > 0) interception_evaporation = (*grids)[index].data;
  }
  for (owned_grid& grid : real_transpiration)
    if (grid.statistics) grid.statistics->StartStep();
  if (real_evaporation.statistics) real_evaporation.statistics->StartStep();
}

void verdunstungsmodellklasse::RealEvapotranspirationRow(int r, bool zero_under_ice) {
  const domain_row row = StartRealRow(r);
  const int L = layer_count;
  const layer_rows* const layers = rows_of_layer.data();
  const double nodata = nodata_value;
  const bool soil_linked = soil_storage && available_soil_moisture;
  double* const theta_row = soil_linked ? soil_storage[r] : nullptr;
  const double* const capacity_row = soil_linked ? available_soil_moisture[r] : nullptr;
  const bool open_water_model = lake.flow_control == kOpenWaterLakeModel && lake_codes && ponding;
  const double* const lake_row = open_water_model ? lake_codes[r] : nullptr;
  double* const pond_row = open_water_model ? ponding[r] : nullptr;
  double* const soil_potential_row = potential_evaporation[r];
  double* const soil_real_row = real_evaporation[r];
  const double* const snow_row = snow_evaporation[r];
  const double* const interception_row = interception_evaporation ? interception_evaporation[r] : nullptr;
  // The tables that are written; without any, no zone is looked up.
  const auto written = [](const owned_grid& grid) {
    return grid.statistics && grid.statistics->IsOn() ? grid.statistics.get() : nullptr;
  };
  zonalstatistic* const soil_statistics = written(real_evaporation);
  zonalstatistic* const total_statistics = written(real_transpiration[0]);
  bool statistics = soil_statistics || total_statistics;
  for (int l = 1; l <= L; ++l) {
    layer_tables[static_cast<std::size_t>(l)] = written(real_transpiration[static_cast<std::size_t>(l)]);
    statistics = statistics || layer_tables[static_cast<std::size_t>(l)];
  }
  const auto open_water = [&](int c) {
    return lake_row && lake_row[c] != nodata && pond_row[c] > kOpenWaterEvaporationPonding;
  };
  const int* const zones = statistics ? ZoneIndexRow(r) : nullptr;
  // Without glaciers the tables take the row's values after the cells;
  // with them each cell's value weighs 1 - w and its glacierised share w
  // adds nothing (a share of 0 adds zeros, which leaves the sums as they
  // are).
  const bool cell_by_cell = statistics && row.glacier;
  const auto add = [r](zonalstatistic* table, int c, int zone, double value, double w) {
    table->AddCell(r, c, zone, value, 1.0 - w);
    if (w != 0.0) table->AddCell(r, c, zone, 0.0, w);
  };

  for (int c = FirstColumn(r), last = LastColumn(r); c <= last; ++c) {
    if (!row.Computed(c)) {
      for (int l = 0; l <= L; ++l) layers[l].real[c] = nodata;
      continue;
    }
    const double w = GlacierisedShare(row.glacier, c);
    // A cell under ice takes nothing: the rates of a pass whose potential
    // step ran are 0.
    if (w >= 1.0) {
      if (zero_under_ice) {
        for (int l = 0; l <= L; ++l) Keep(layers[l].real[c], 0.0);
        Keep(soil_real_row[c], 0.0);
      }
      continue;
    }
    const int zone = cell_by_cell ? zones[c] : 0;
    // The soil feeds the glacier-free share's rates (depths over that share).
    const double free = 1.0 - w;
    const double capacity = capacity_row ? capacity_row[c] : 0.0;
    double theta = capacity > 0.0 ? theta_row[c] : 1.0;
    // A lake cell evaporates its ponded water only: the soil model keeps the
    // lake's bed saturated, a soil that holds no water of its own.
    const bool lake_bed = lake_row && lake_row[c] != nodata;

    double transpiration = 0.0;
    bool vegetated = false;
    for (int l = 1; l <= L; ++l) {
      const layer_rows& rows = layers[l];
      zonalstatistic* const table = layer_tables[static_cast<std::size_t>(l)];
      if (!(rows.landuse[c] > nodata)) {
        Keep(rows.real[c], 0.0);
        if (cell_by_cell && table) table->AddCell(r, c, zone, 0.0, 1.0);
        continue;
      }
      vegetated = true;
      double taken = 0.0;
      if (open_water(c)) {
        taken = TakeFromStore(pond_row[c], rows.transpiration[c]);
      } else if (!lake_bed) {
        const soil_withdrawal soil = WithdrawFromSoilOfShare(
            MoistureLimitedTranspiration(rows.transpiration[c], theta), theta, capacity, free);
        taken = soil.taken;
        theta = soil.theta;
      }
      Keep(rows.real[c], taken);
      transpiration += taken;
      if (cell_by_cell && table) add(table, c, zone, taken, w);
    }

    // The soil evaporates once per cell, after every layer has transpired.
    double soil_evaporation = 0.0;
    if (vegetated && !lake_bed) {
      const soil_withdrawal soil = WithdrawFromSoilOfShare(soil_potential_row[c], theta, capacity, free);
      soil_evaporation = soil.taken;
      theta = soil.theta;
    }
    Keep(soil_real_row[c], soil_evaporation);
    if (capacity > 0.0) Keep(theta_row[c], theta);
    if (cell_by_cell && soil_statistics) add(soil_statistics, c, zone, soil_evaporation, w);

    double total = transpiration + snow_row[c] + soil_evaporation;
    if (interception_row && interception_row[c] != nodata) total += interception_row[c];
    if (!std::isfinite(total)) [[unlikely]]
      RaiseNotFinite(LayerGridName("real_transpiration", 0), r, c, total);
    Keep(layers[0].real[c], total);
    if (cell_by_cell && total_statistics) add(total_statistics, c, zone, total, w);
  }
  if (!statistics || cell_by_cell) return;
  const auto zone_of = [&](int c) { return row.Computed(c) ? zones[c] : -1; };
  fed_tables.clear();
  const auto feed = [&](zonalstatistic* table, const double* values) {
    if (table) fed_tables.push_back({table, values});
  };
  for (int l = 1; l <= L; ++l) feed(layer_tables[static_cast<std::size_t>(l)], layers[l].real);
  feed(soil_statistics, soil_real_row);
  feed(total_statistics, layers[0].real);
  AddRowToTables(fed_tables, r, FirstColumn(r), LastColumn(r), zone_of);
}

void verdunstungsmodellklasse::EndRealEvapotranspiration() {
  const model_date& d = current_date;
  for (owned_grid& grid : real_transpiration) {
    if (grid.statistics) grid.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
    WriteGridOutput(grid.index, 1, false);
  }
  if (real_evaporation.statistics)
    real_evaporation.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
  WriteGridOutput(real_evaporation.index, 1, false);
}

}  // namespace velmo
