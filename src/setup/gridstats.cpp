// Zone statistics and per-step output of the grids the set-up object holds
// (elevation model, standard grids and the grids it derives from them).
#include <algorithm>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"

namespace velmo {
namespace {

// Decimals of the values in the grid statistics tables.
constexpr int kGridStatisticsPrecision = 5;
// Title of the tables in their second header line.
constexpr const char* kGridStatisticsTitle = "(default)";
// Steps shorter than an hour get a minute column in the tables.
constexpr int kFirstMinuteStep = 1;
constexpr int kLastMinuteStep = 59;

}  // namespace

void defaultini::CreateGridStatistics() {
  if (!grids || !zone_table) return;
  const bool with_minutes = globals.timestep >= kFirstMinuteStep && globals.timestep <= kLastMinuteStep;
  const int last_entry = std::min(grid_count + 2, kGridTableLimit - 1);
  for (int i = 2; i <= last_entry; ++i) {
    grid_entry& entry = (*grids)[i];
    if (entry.statfile.empty() || entry.statistics) continue;

    entry.zone_accumulators.assign(zone_table, zone_table + zone_count + 1);
    for (zone_record& zone : entry.zone_accumulators) {
      zone.weight_sum = 0.0;
      zone.value_sum = 0.0;
    }
    // The writer prefixes the output directory to its own copy of the name.
    std::string file_name = entry.statfile;
    int error = 0;
    // No output list: tables of the listed zones show the total only.
    auto statistics = std::make_unique<zonalstatistic>(
        error, messages, nodata_value, cell_weights, nrows, ncols, entry.zone_accumulators.data(), zone_count,
        entry.statcode, kGridStatisticsPrecision, file_name, DefaultOutputDirectory.get(), 0, nullptr,
        with_minutes);
    if (error != 0) throw ErrorCode{error};
    entry.statistics = statistics.get();
    grid_statistics.push_back(std::move(statistics));
    entry.statistics->WriteHeader(entry.name, kGridStatisticsTitle);
  }
}

void defaultini::AccumulateGridStatistics() {
  const int last_entry = std::min(grid_count + 2, kGridTableLimit - 1);
  for (int i = 2; i <= last_entry; ++i) {
    const grid_entry& entry = (*grids)[i];
    zonalstatistic* statistics = entry.statistics;
    if (!statistics || !entry.data) continue;
    double** data = entry.data;
    for (int r = 1; r <= nrows; ++r) {
      const double* zone_row = zone_grid[r];
      const double* value_row = data[r];
      for (int c = row_ranges[r].first; c <= row_ranges[r].last; ++c) {
        const double zone = zone_row[c];
        if (zone == nodata_value) continue;
        // A cell holding nodata is left out by the statistics themselves.
        statistics->AddCell(r, c, zone_code_map[static_cast<int>(zone)], value_row[c], 1.0);
      }
    }
  }
}

void defaultini::FlushBuffers() {
  const int last_entry = std::min(grid_count + 2, kGridTableLimit - 1);
  for (int i = 2; i <= last_entry; ++i) {
    if (zonalstatistic* statistics = (*grids)[i].statistics) statistics->FlushRows();
  }
}

void defaultini::WriteStandardGrids(int minute, int hour, int day, int month, int year) {
  current_date = model_date{minute, hour, day, month, year};
  // Every grid of the set-up object except the variable grids (written by
  // WriteVariableGrids) and "TemperatureMOVAVG7" (written by the vegetation
  // update): so each reaches the writer exactly once per step, including the
  // grids registered after the variable grids and the last ones of the range.
  const int last_entry = std::min(grid_count + 2, kGridTableLimit - 1);
  const int first_variable = variable_grid_count > 0 ? first_variable_grid : 0;
  const int last_variable = variable_grid_count > 0 ? first_variable_grid + variable_grid_count - 1 : -1;
  const int moving_average = parameter_grid_lists.temperature_movavg7_index;
  for (int i = 2; i <= last_entry; ++i) {
    if (i >= first_variable && i <= last_variable) continue;
    if (i == moving_average) continue;
    WriteGridOutput(i, 1, false);
  }
}

}  // namespace velmo
