// The interception model's snow canopy (methods 21 and above) and canopy energy balance (31 and above): its
// section lines, inputs, grids and tables, the daily temperatures, the cell step and the step's end.
#include <algorithm>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/interzep.h"
#include "physics/units.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr double kMeltingPoint = kTriplePointOfWater;  // K, 0 °C of the canopy snow
constexpr double kPercent = 100.0;
// Below this an air temperature is a missing value.
constexpr double kLowestAirTemperature = -273.15;  // °C
// A canopy temperature of the last step of 0 is none.
constexpr double kNoCanopyTemperature = 0.0;
// The canopy starts its energy balance this much above the air below it.
constexpr double kCanopyStartAboveAir = 0.5;  // K
// Albedo of a canopy without snow.
constexpr double kBareCanopyAlbedo = 0.2;
// The long-wave grid has a fixed file and is not written.
constexpr const char* kLongwaveFile = "SCN_IR";

struct canopy_grid_kind {
  const char* name;
  const char* header;  // of its table; none for the long-wave grid
  bool from_file;      // read from its file with the read-grid switch
  double initial;
};
constexpr canopy_grid_kind kCanopyGrids[kSnowCanopyGridCount] = {
    {"Snow_canopy_load", "SCN_LOAD_in_mm", true, 0.0},
    {"Snow_canopy_albedo", "SCN_ALBEDO_Dimensionless", true, kBareCanopyAlbedo},
    {"Snow_canopy_age", "SCN_AGE_Number_of_time_steps_per_day", true, 0.0},
    {"Snow_canopy_sublim", "SCN_SUBLIMATION_mm_per_time_step", false, 0.0},
    {"Snow_canopy_unload_solid", "SCN_SNOW_Throughfall_mm_per_time_step", false, 0.0},
    {"Snow_canopy_unload_liquid", "SCN_Output_rain_mm_per_time_step", false, 0.0},
    {"Snow_canopy_temperature", "SCN_sub-canopy_temperature", false, 0.0},
    {"Snow_canopy_rh", "SCN_sub-canopy_relative_humidity", false, 0.0},
    {"Snow_canopy_rad", "SCN_sub-canopy_shortwave_radiation", false, 0.0},
    {"Snow_canopy_wind", "SCN_sub-canopy_windspeed", false, 0.0},
    {"Snow_canopy_IR_radiation", nullptr, false, 0.0},
    {"Canopy_Energy_balance", "CEB_canopy_energy_balance", false, 0.0},
    {"CEB_Canopy_Temperature", "CEB_canopy_temperature", false, 0.0},
    {"CEB_Canopy_Temperature_Old", "CEB_canopy_temperature_old", true, 0.0},
    {"CEB_DUMMY", "CEB_dummy", false, 0.0},
};

// What a cell's canopy did in the steps before: held snow, was bare for one
// step (its load fell then), or has been bare since.
constexpr unsigned char kHeldSnow = 0;
constexpr unsigned char kBareSettled = 2;

}  // namespace

void interzeptionsmodellklasse::ReadSnowCanopySection(section_reader& in) {
  interception_parameters& p = parameters;
  const auto output = [&](snow_canopy_grid k, const std::string& grid_prompt,
                          const std::string& statistics_prompt) {
    p.canopy_outputs[k] =
        in.Grid("name " + grid_prompt + " grid for ", "write code " + grid_prompt + " grid for ");
    p.canopy_statistics[k] = in.Statistics("name " + statistics_prompt + " file for ");
  };
  output(kCanopyTemperature, "sub-canopy temperature", "sub-canopy stemperature statistics");
  output(kCanopyHumidity, "sub-canopy relative humidity", "sub-canopy relative humidity statistics");
  output(kCanopyRadiation, "sub-canopy shortwave radiation", "sub-canopy shortwave radiation statistics");
  output(kCanopyWind, "sub-canopy windspeed", "sub-canopy windspeed statistics");
  for (snow_canopy_grid k : {kCanopyLoad, kCanopyAge, kCanopyAlbedo, kCanopySublimation})
    output(k, "snow canopy load", "snow canopy load statistics");
  output(kCanopyUnloadSolid, "snow canopy unload (snow)", "snow canopy unload (snow) statistics");
  output(kCanopyUnloadLiquid, "snow canopy liquid water output",
         "snow canopy liquid water output statistics");
  p.min_leaf_area_index =
      in.Number("minimum LAI value above which the snow canopy model will be started for");
  p.min_roughness = in.Number("minimum z0 value above which the snow canopy model will be started for");
  p.leaf_area_scale = in.Number("LAI scaling factor for the snow canopy model for");
  p.canopy_outputs[kCanopyLongwave].file = kLongwaveFile;
  if (!traits.energy_balance) return;
  for (snow_canopy_grid k :
       {kCanopyBalance, kCanopyBalanceTemperature, kCanopyBalanceTemperatureOld, kCanopyBalanceDifference})
    output(k, "canopy energy balance", "canopy energy balance output statistics");
}

void interzeptionsmodellklasse::LookUpSnowCanopyGrids() {
  canopy_in.temperature =
      (*grids)[FindOneOfThreeGrids("corr_temperature", "temperature", "temperature_14")].data;
  canopy_in.radiation = RequiredGridData("AspectCorrectedGlobalRadiation");
  canopy_in.wind = RequiredGridData("wind_speed");
  canopy_in.humidity = RequiredGridData("air_humidity");
  canopy_in.cloudiness = RequiredGridData("cloudiness");
  if (!traits.energy_balance) return;
  const auto snow_grid = [&](const char* grid_name, const char* missing) {
    const int index = FindGrid(grid_name, true);
    double** data = index > 0 ? (*grids)[index].data : nullptr;
    if (!data) RaiseFatal(messages, missing, kCanopyBalanceInputCode);
    return data;
  };
  canopy_in.albedo =
      snow_grid("albedo",
                "FATAL: Albedo not available in advanced snow interception model with canopy energy "
                "balance (should be available when an extended snow model is used)");
  canopy_in.snow_storage = snow_grid("snow_storage_total",
                                     "FATAL: total snow storage not available in advanced snow interception "
                                     "model with canopy energy balance "
                                     "(use any snow model to have this grid been created for you)");
  canopy_in.surface_temperature = snow_grid(
      "surftemp",
      "FATAL: snow surface temperatur not available in advanced snow interception model with canopy energy "
      "balance (in snow model, an energy balance approach should be used)");
}

void interzeptionsmodellklasse::RegisterSnowCanopyGrids() {
  if (grids->FirstFreeEntry() >= kLastSnowCanopyEntry) {
    *messages << "FATAL: no free grid left" << kGridTableLimit << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  const int count = traits.energy_balance ? kSnowCanopyGridCount : kSnowCanopyGridsWithoutBalance;
  canopy_grids.resize(static_cast<std::size_t>(count));
  const bool read = parameters.read_grids == 1;
  for (int k = 0; k < count; ++k) {
    const canopy_grid_kind& kind = kCanopyGrids[k];
    const output_grid& out = parameters.canopy_outputs[static_cast<std::size_t>(k)];
    owned_grid& grid = canopy_grids[static_cast<std::size_t>(k)];
    RegisterOwnGrid(grid, kind.name, out.file, out.write_code, read && kind.from_file, kind.initial);
  }
  for (int k = 0; k < count; ++k) {
    const canopy_grid_kind& kind = kCanopyGrids[k];
    if (!kind.header) continue;
    const statistics_file& table = parameters.canopy_statistics[static_cast<std::size_t>(k)];
    owned_grid& grid = canopy_grids[static_cast<std::size_t>(k)];
    CreateStatistics(grid, table.file, table.code, kind.header);
    if (grid.statistics && grid.statistics->IsOn()) canopy_tables.emplace_back(k, grid.statistics.get());
  }
  temperature_stack =
      std::make_unique<GridStack>(GridStackCapacity(time_interval), first_row, last_row, ncols);
  canopy_settled.assign(static_cast<std::size_t>(nrows + 1) * static_cast<std::size_t>(ncols + 1), kHeldSnow);
}

void interzeptionsmodellklasse::FillSnowCanopyRows(int r) {
  for (std::size_t k = 0; k < canopy_grids.size(); ++k) canopy_row.grid[k] = canopy_grids[k][r];
  canopy_row.settled =
      canopy_settled.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols + 1);
  canopy_row.temperature = canopy_in.temperature[r];
  canopy_row.radiation = canopy_in.radiation[r];
  canopy_row.wind = canopy_in.wind[r];
  canopy_row.humidity = canopy_in.humidity[r];
  canopy_row.cloudiness = canopy_in.cloudiness[r];
  if (!traits.energy_balance) return;
  canopy_row.albedo = canopy_in.albedo[r];
  canopy_row.snow_storage = canopy_in.snow_storage[r];
  canopy_row.surface_temperature = canopy_in.surface_temperature[r];
}

// The air temperature of every new hour joins the stack of the day.
void interzeptionsmodellklasse::StartSnowCanopyStep() {
  const model_date& d = current_date;
  const model_date& p = previous_date;
  if (d.hour != p.hour || d.day != p.day || d.month != p.month || d.year != p.year) {
    double** const temperature = canopy_in.temperature;
    temperature_stack->PushCells(
        [this, temperature](int r, int c) { return Computed(r, c) ? temperature[r][c] : 0.0; });
  }
  for (owned_grid& grid : canopy_grids)
    if (grid.statistics) grid.statistics->StartStep();
}

double interzeptionsmodellklasse::SnowCanopyCell(int r, int c, int zone, double input, double w) {
  double* const* g = canopy_row.grid;
  const double t = canopy_row.temperature[c];
  // The layers' leaf area and roughness.
  double leaf_area = 0.0;
  double roughness = 0.0;
  for (int l = 1; l <= layer_count; ++l) {
    const canopy_rows& layer = rows_of_layer[static_cast<std::size_t>(l)];
    if (!(layer.landuse[c] > nodata_value)) continue;
    leaf_area += layer.leaf_area_index[c];
    roughness = std::max(roughness, layer.roughness[c]);
  }
  const double effective = parameters.leaf_area_scale * leaf_area;
  // The glacierised part of a cell has no canopy; neither has a cell of
  // small trees. A missing air temperature passes the weather on.
  const bool snowy = w < 1.0 && leaf_area > parameters.min_leaf_area_index &&
                     roughness > parameters.min_roughness && effective > 0.0 && t >= kLowestAirTemperature;
  double liquid = input;
  if (snowy) {
    SnowCanopyPoint& p = canopy_point;
    p.precipitation = input;
    p.temperature = t + kMeltingPoint;
    p.daily_mean_temperature = temperature_stack->CellMean(r, c) + kMeltingPoint;
    p.temperature_offset = std::clamp((p.daily_mean_temperature - kMeltingPoint) / kDailyOffsetDivisor,
                                      -kLargestDailyOffset, kLargestDailyOffset);
    p.humidity = kPercent * canopy_row.humidity[c];
    const double radiation = MeanFluxOfStep(canopy_row.radiation[c], time_interval);
    p.shortwave = radiation;
    p.wind_speed = canopy_row.wind[c];
    p.cloudiness = canopy_row.cloudiness[c];
    p.time_step = kSecondsPerMinute * time_interval;
    p.leaf_area_index = effective;
    p.albedo = g[kCanopyAlbedo][c];
    p.load = g[kCanopyLoad][c];
    p.age = g[kCanopyAge][c];
    const double snow = CanopySnowFraction(t, T0R, transzone);
    p.snowfall = input * snow;
    p.rain = input * (1.0 - snow);
    p.CanopySnowStep();
    if (traits.energy_balance) {
      p.surface_temperature = canopy_row.surface_temperature[c];
      p.radiation_above = radiation;
      p.surface_albedo = canopy_row.albedo[c];
      p.previous_albedo = g[kCanopyAlbedo][c];
      p.canopy_temperature = p.temperature + kCanopyStartAboveAir;
      const double old = g[kCanopyBalanceTemperatureOld][c];
      p.previous_canopy_temperature =
          old != kNoCanopyTemperature ? old : p.temperature + kCanopyStartAboveAir;
      if (canopy_row.snow_storage[c] > 0.0) {
        p.SolveCanopyTemperature();
        g[kCanopyBalance][c] = p.residual;
      } else {
        g[kCanopyBalance][c] = 0.0;
        p.canopy_temperature = p.temperature;
        p.canopy_air_difference = 0.0;
      }
      g[kCanopyBalanceTemperature][c] = p.canopy_temperature;
      g[kCanopyBalanceTemperatureOld][c] = p.canopy_temperature;
      g[kCanopyBalanceDifference][c] = p.canopy_air_difference;
    }
    liquid = p.rain;
    g[kCanopyUnloadLiquid][c] = p.rain;
    g[kCanopyUnloadSolid][c] = p.snowfall;
    g[kCanopyTemperature][c] = p.temperature - kMeltingPoint;
    g[kCanopyHumidity][c] = p.humidity / kPercent;
    g[kCanopyRadiation][c] = EnergyOfStep(p.shortwave, time_interval);
    g[kCanopyWind][c] = p.wind_speed;
    g[kCanopyLongwave][c] = p.longwave;
    g[kCanopyAlbedo][c] = p.albedo;
    g[kCanopyLoad][c] = p.load;
    g[kCanopyAge][c] = p.age;
    g[kCanopySublimation][c] = p.sublimation;
    canopy_row.settled[c] = kHeldSnow;
  } else {
    // The weather passes unchanged.
    g[kCanopyUnloadLiquid][c] = input;
    g[kCanopyTemperature][c] = t;
    g[kCanopyHumidity][c] = canopy_row.humidity[c];
    g[kCanopyRadiation][c] = canopy_row.radiation[c];
    g[kCanopyWind][c] = canopy_row.wind[c];
    if (traits.energy_balance) {
      g[kCanopyBalanceTemperature][c] = CelsiusToKelvin(t);
      g[kCanopyBalanceTemperatureOld][c] = CelsiusToKelvin(t);
    }
    // Snow a canopy still held when it stopped qualifying falls through;
    // from its second step without snow a bare canopy's other grids keep
    // their values.
    unsigned char& settled = canopy_row.settled[c];
    if (settled != kBareSettled) {
      double& load = g[kCanopyLoad][c];
      g[kCanopyUnloadSolid][c] = load;
      load = 0.0;
      g[kCanopyLongwave][c] = 0.0;
      g[kCanopyAlbedo][c] = kBareCanopyAlbedo;
      g[kCanopyAge][c] = 0.0;
      g[kCanopySublimation][c] = 0.0;
      if (traits.energy_balance) {
        g[kCanopyBalance][c] = 0.0;
        g[kCanopyBalanceDifference][c] = 0.0;
      }
      ++settled;
    }
  }
  if (w < 1.0)
    for (const auto& [k, table] : canopy_tables) table->AddCell(r, c, zone, g[k][c], 1.0 - w);
  return liquid;
}

void interzeptionsmodellklasse::EndSnowCanopyStep() {
  const model_date& d = current_date;
  for (std::size_t k = 0; k < canopy_grids.size(); ++k) {
    owned_grid& grid = canopy_grids[k];
    if (grid.statistics) grid.statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, 1);
    if (static_cast<int>(k) != kCanopyLongwave) WriteGridOutput(grid.index, 1, false);
  }
}

void interzeptionsmodellklasse::FlushSnowCanopy() {
  for (owned_grid& grid : canopy_grids)
    if (grid.statistics) grid.statistics->FlushRows();
}

void interzeptionsmodellklasse::CleanUpSnowCanopy(int& failure) {
  temperature_stack.reset();
  canopy_tables.clear();
  for (owned_grid& grid : canopy_grids) CleanUpOwnedGrid(*this, grid, failure);
  canopy_grids.clear();
}

}  // namespace velmo
