// The infiltration model: its section, the Green-Ampt step over the cells, its grids and table.
#include "landsurface/infilt.h"

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "infilt";
constexpr const char* kExcessTitle = "Infiltrationueberschuss in mm je Zone  ";
constexpr int kTableDecimals = 5;

}  // namespace

infiltrationsmodellklasse::infiltrationsmodellklasse(MessageStream* stream, const model_settings& settings,
                                                     grid_table* shared_grids, const std::string& module_name)
    : bodenmodellklasse(stream, settings, shared_grids), second_name(module_name) {
  BuildInfiltration();
}

infiltrationsmodellklasse::~infiltrationsmodellklasse() = default;

void infiltrationsmodellklasse::BuildInfiltration() {
  *messages << "initialisieren " << second_name << "[end-entry]";
  const std::string infiltration_section_name = "[" + second_name + "]";
  section_reader in(*this, infiltration_section_name, {.open_entry = "ERROR: error opening "});
  infiltration = ReadInfiltrationSection(in);
  const bool soil_on = flow_control_parameter != 0;

  if (!soil_on && infiltration.switch_value == kInfiltrationOn) {
    *messages << "ERROR: ------------ Fehler in der Steuerdatei! ----------------\n"
              << "Das Infiltrationsmodell kann nur ausgefuehrt werden, wenn\n"
              << "auch das Bodenmodell ausgefuehrt wird. Da hier das Bodenmodell\n"
              << "nicht ausgefuehrt werden soll, kann das Modell nicht ordentlich\n"
              << "abgearbeitet werden. Ende..."
              << "[end-entry]";
    throw ErrorCode{kInfiltrationWithoutSoilCode};
  }
  // Without the soil model there are no subbasins to register grids on and
  // nothing is computed: a section that only reads is left at that.
  if (infiltration.switch_value != 0 && soil_on) {
    *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__
              << "[end-entry]";
    // Both models run in the same step, so their steps must be alike; the
    // soil model converted its parameters with its own interval.
    if (infiltration.time_interval != time_interval) {
      *messages << "FATAL: the time interval of " << infiltration_section_name << " ("
                << infiltration.time_interval << " minutes) differs from the time interval of "
                << section_buffer << " (" << time_interval
                << " minutes); the infiltration and the soil model run in one step with one interval"
                << "[end-entry]";
      throw ErrorCode{kIntervalMismatchCode};
    }
    time_interval = infiltration.time_interval;
    steps_per_day = kMinutesPerDay / time_interval;
    fillable_porosity = RequiredGridData("fillable_porosity");
    excess_index = RegisterInfiltrationGrid(excess_grid, infiltration.excess, "infiltration_excess");
    saturation_index =
        RegisterInfiltrationGrid(saturation_grid, infiltration.saturation, "infiltration_saturation");
    infiltration_excess = excess_grid.get();

    int error = 0;
    excess_table = std::make_unique<zonalstatistic>(
        error, messages, nodata_value, cell_weights, nrows, ncols, subbasin_zones.data(), subbasin_count,
        infiltration.table.code, kTableDecimals, infiltration.table.file, DefaultOutputDirectory.get(),
        output_list_count, output_list.empty() ? nullptr : output_list.data(),
        time_interval < kMinutesPerHour);
    if (error != 0) throw ErrorCode{error};
    excess_table->WriteHeader(kExcessTitle, second_name);
  }

  in.Close("ERROR: error closing " + control_file_name);
  LookUpGlacierShares();
}

int infiltrationsmodellklasse::RegisterInfiltrationGrid(owned_matrix& data, const output_grid& setting,
                                                        const char* grid_name) {
  const int index = grids->FirstFreeEntry();
  if (index >= kGridTableLimit) {
    *messages << "ERROR: no free grid in memeory at " << kGridTableLimit << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  data = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) data[r][c] = subbasin_grid[r][c] != nodata_value ? 0.0 : nodata_value;
  RegisterGrid(index, setting.file, data.get(), nullptr, 0, grid_name, setting.write_code, 1, nrows);
  return index;
}

// ============================================================== time step

// The Green-Ampt step of every cell runs in the soil model's pass over the
// cells, right before the cell's soil step, so that both models go over the
// cells once.
void infiltrationsmodellklasse::RunTimeStep(int minute, int hour, int day, int month, int year) {
  infiltrate_in_step = infiltration.switch_value == kInfiltrationOn;
  if (infiltrate_in_step) {
    ReportProgress(minute, hour, day, month, year, second_name);
    infiltration_cells = {fillable_porosity, saturation_grid.get(), infiltration.macropore_fraction};
  }
  bodenmodellklasse::RunTimeStep(minute, hour, day, month, year);
  if (!infiltrate_in_step) return;
  infiltrate_in_step = false;

  if (excess_table->IsOn()) {
    excess_table->StartStep();
    for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
      const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
      AddSubbasinRow(*excess_table, r, cols, excess_grid[r]);
    }
    excess_table->EndStep(year, month, day, hour, minute, 1);
  }
  WriteGridOutput(excess_index, 1, false);
  WriteGridOutput(saturation_index, 1, false);
  // The soil step took no water from lake cells: their excess goes too.
  if (lake_modelling) {
    for (int r = std::max(first_row, 1); r <= std::min(last_row, nrows); ++r) {
      const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
      for (int c = cols.first; c <= cols.last; ++c)
        if (CellSubbasin(r, c) != 0 && IsSpecialCell(r, c)) excess_grid[r][c] = 0.0;
    }
  }
}

// ============================================================== end of run

void infiltrationsmodellklasse::FlushBuffers() {
  if (infiltration.switch_value > 0 && excess_table) excess_table->FlushRows();
  bodenmodellklasse::FlushBuffers();
}

void infiltrationsmodellklasse::CleanUp() {
  if (cleaned_up) return;
  if (excess_table) {
    excess_table->CleanUp();
    excess_table.reset();
  }
  for (auto [index, data] :
       {std::pair{&saturation_index, &saturation_grid}, std::pair{&excess_index, &excess_grid}}) {
    if (*index > 0 && (*grids)[*index].data == data->get()) ReleaseGrid(*index);
    *index = 0;
    data->reset();
  }
  infiltration_excess = nullptr;
  bodenmodellklasse::CleanUp();
}

}  // namespace velmo
