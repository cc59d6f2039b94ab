// The snow model's energy-balance methods 5, 6, 7 and 11: their input grids, pack and surface temperature
// grids, statistics and the energy-balance part of a cell step.
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "physics/moist_air.h"
#include "snow/snowmod.h"

namespace velmo {
namespace {

// A cell of a temperature grid read from its file without a value starts at melt.
constexpr double kMissingTemperature = 273.16;  // K
constexpr int kFillWithDefault = 2;

}  // namespace

void schneemodellklasse::FindEnergyBalanceGrids() {
  balance_in_.cloudiness = RequiredData("cloudiness");
  balance_in_.surface = OptionalGridData("surfacetemperature", true);
}

// A temperature grid read from its file, registered over the rows given.
schneemodellklasse::module_grid schneemodellklasse::ReadTemperatureGrid(const std::string& grid_name,
                                                                        const output_grid& output,
                                                                        int rows_first, int rows_last) {
  double** data = nullptr;
  ReadGrid(output.file, data, kFillWithDefault, true, false, kMissingTemperature, false);
  matrices_.emplace_back(data);
  const int index = grids->FirstFreeEntry();
  RegisterGrid(index, output.file, data, nullptr, 0, grid_name, output.write_code, rows_first, rows_last);
  return {data, index, true};
}

// A temperature grid of the cover: a grid of that name already in the table
// is used as it is; otherwise the module's own, without a value in any cell
// or read from its file.
schneemodellklasse::module_grid schneemodellklasse::TemperatureGrid(const std::string& grid_name,
                                                                    const output_grid& output,
                                                                    bool read_initial) {
  const int existing = FindGrid(grid_name, true);
  if (existing > 0 && (*grids)[existing].data) return {(*grids)[existing].data, existing, false};
  if (read_initial) return ReadTemperatureGrid(grid_name, output, first_row, last_row);
  module_grid grid =
      OwnGrid(grid_name, output.file, output.write_code, storage_first_row, storage_last_row, false);
  for (int r = storage_first_row; r <= storage_last_row; ++r)
    for (int c = 1; c <= ncols; ++c) grid.data[r][c] = nodata_value;
  return grid;
}

void schneemodellklasse::RegisterEnergyBalanceGrids() {
  const bool read = parameters.readgrid == 1;
  snow_temperature_ = TemperatureGrid("snowtemp", parameters.snow_temperature_grid, read);
  surface_temperature_ = TemperatureGrid("surftemp", parameters.surface_temperature_grid, read);
  const int existing = FindGrid("EnergyBalance", true);
  if (existing > 0 && (*grids)[existing].data) {
    energy_balance_ = {(*grids)[existing].data, existing, false};
    return;
  }
  energy_balance_ = OwnGrid("EnergyBalance", "EnergyBalance", 0, storage_first_row, storage_last_row, false);
  for (int r = storage_first_row; r <= storage_last_row; ++r)
    for (int c = 1; c <= ncols; ++c) energy_balance_.data[r][c] = 0.0;
}

// The snow on the glacier share of dynamic glaciers has its own pack and
// surface temperatures (read with the glacier grids, or kept when present, or
// starting without any: 0) and energy balance.
void schneemodellklasse::RegisterGlacierEnergyBalanceGrids() {
  const glacier_parameters& p = glacier;
  const auto kept_or_own = [this](const std::string& grid_name, const output_grid& output) -> module_grid {
    const int existing = FindGrid(grid_name, true);
    if (existing > 0 && (*grids)[existing].data) return {(*grids)[existing].data, existing, false};
    return OwnGrid(grid_name, output.file, output.write_code, storage_first_row, storage_last_row, true);
  };
  if (p.readgrid == 1) {
    surface_temperature_on_glacier_ =
        ReadTemperatureGrid("surftemp_onGlacier", p.surface_temperature_on_glacier_grid, first_row, last_row);
    snow_temperature_on_glacier_ =
        ReadTemperatureGrid("snowtemp_onGlacier", p.snow_temperature_on_glacier_grid, first_row, last_row);
  } else {
    surface_temperature_on_glacier_ =
        kept_or_own("surftemp_onGlacier", p.surface_temperature_on_glacier_grid);
    snow_temperature_on_glacier_ = kept_or_own("snowtemp_onGlacier", p.snow_temperature_on_glacier_grid);
  }
  energy_balance_on_glacier_ = kept_or_own("EnergyBalance_onGlacier", {"EnergyBalance_onGlacier", 0});
}

void schneemodellklasse::LinkEnergyBalanceInputs() {
  balance_in_.humidity = OptionalGridData("Snow_canopy_rh", true);
  if (!balance_in_.humidity) balance_in_.humidity = RequiredData("air_humidity");
  balance_in_.radiation = OptionalGridData("Snow_canopy_rad", true);
  if (!balance_in_.radiation) balance_in_.radiation = RequiredData("AspectCorrectedGlobalRadiation");
  balance_in_.longwave = OptionalGridData("Snow_canopy_IR_radiation", true);
  // The air pressure of a cell depends on its elevation only.
  air_pressure_ = owned_matrix(matrix(first_row, last_row, 1, ncols, last_row));
  for (int r = first_row; r <= last_row; ++r)
    for (int c = 1; c <= ncols; ++c) air_pressure_[r][c] = AirPressureStandardAtmosphere(elevation_[r][c]);
  balance_cover_ = {snow_temperature_.data, surface_temperature_.data, snow_evaporation_};
  balance_cover_on_glacier_ = {snow_temperature_on_glacier_.data, surface_temperature_on_glacier_.data,
                               snow_evaporation_on_glacier_.data};
  const auto columns = static_cast<std::size_t>(ncols) + 1;
  deferred_.resize(columns);
  searches_.resize(columns);
  found_.resize(columns);
  row_cells_.resize(columns);
}

double schneemodellklasse::EnergyBalanceCellPart(int row, int col, const snow_cell_forcing& f,
                                                 const snow_part_result& part, double weight, double& solid,
                                                 double& liquid, const balance_cover& cover,
                                                 deferred_part* defer) {
  // A cell of the prescribed surface temperature without a value has its
  // surface temperature computed.
  const double prescribed = balance_in_.surface ? balance_in_.surface[row][col] : nodata_value;
  const bool has_prescribed = prescribed != nodata_value;
  // Every field is given here: a forcing built field by field is zeroed
  // first, and the balance's first reads of it then wait for that store.
  const snow_balance_forcing b{f.t_air,
                               balance_in_.humidity[row][col],
                               f.wind_speed,
                               balance_in_.cloudiness[row][col],
                               balance_in_.radiation[row][col],
                               albedo_[row][col],
                               f.input_water,
                               part.solid_input,
                               part.rain,
                               air_pressure_[row][col],
                               balance_in_.longwave ? balance_in_.longwave[row][col] : 0.0,
                               has_prescribed,
                               has_prescribed ? prescribed : 0.0};
  double* evaporation = cover.evaporation ? &cover.evaporation[row][col] : nullptr;
  snow_balance_cell cell{solid, liquid, cover.pack[row][col], cover.surface[row][col],
                         evaporation ? *evaporation : 0.0};
  const snow_balance_start start = StartSnowEnergyBalancePart(balance_, b, weight, cell);
  if (defer && start.cold && start.iterate) {
    *defer = {true, start, cell, weight};
    return 0.0;
  }
  const snow_balance_result result = EndSnowEnergyBalancePart(balance_, start, weight, cell);
  StoreBalanceCell(row, col, cell, cover, solid, liquid);
  return result.melt;
}

void schneemodellklasse::StoreBalanceCell(int row, int col, const snow_balance_cell& cell,
                                          const balance_cover& cover, double& solid, double& liquid) {
  solid = cell.solid;
  liquid = cell.liquid;
  cover.pack[row][col] = cell.pack_temperature;
  cover.surface[row][col] = cell.surface_temperature;
  if (cover.evaporation) cover.evaporation[row][col] = cell.evaporation;
}

void schneemodellklasse::AddTemperatureStatistics(int r, int c, int zone) {
  const double above = nodata_value + 1.0;
  const double pack = snow_temperature_.data[r][c];
  const double surface = surface_temperature_.data[r][c];
  if (temperature_tables_[0] && pack > above) temperature_tables_[0]->AddCell(r, c, zone, pack, 1.0);
  if (temperature_tables_[1] && surface > above) temperature_tables_[1]->AddCell(r, c, zone, surface, 1.0);
}

}  // namespace velmo
