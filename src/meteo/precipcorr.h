// Precipitation correction ("[precipitation_correction]"): raises measured
// precipitation by the catch loss of the gauges, a factor linear in wind
// speed with one pair of coefficients for rain and one for snow.
//
//   [precipitation_correction]
//   1       do_it (0: off)
//   0.0     threshold temperature, °C: snow at or below it
//   1.05    rain constant
//   0.02    rain slope per unit of wind speed
//   1.2     snow constant
//   0.1     snow slope per unit of wind speed
//
// Station mode corrects the station values of the "precipitation"
// interpolator before it interpolates (and refits its altitude regression
// for methods 2, 3, 10 and 11); grid mode corrects the grid "precipitation"
// after the interpolation and the regional superposition. Grid mode holds
// when "precipitation" is no interpolated variable, when "temperature" or
// "wind_speed" is only a grid, or when one of the three interpolators reads
// grids (method 9). Without any temperature the rain pair applies, without
// any wind speed the speed is 0.
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "meteo/catch_correction.h"
#include "meteo/computed_cells.h"

namespace velmo {

class meteointerpol;
struct model_settings;

inline constexpr const char* kPrecipitationCorrectionName = "precipitation_correction";

class precicorrclass : public modelobject {
 public:
  // Reads the section and decides the mode. `interpolators` holds the
  // interpolator of each variable of settings.meteo_names (index
  // 1..meteo_count; null for a variable without one). `routing_only` switches
  // the correction off. Failures write their entry and throw their code.
  precicorrclass(MessageStream* stream, const std::vector<meteointerpol*>& interpolators,
                 const model_settings& settings, grid_table* shared_grids, bool routing_only = false);

  void CleanUp() override;
  // Station mode: corrects the current record's station values and refits
  // the regression of region 1. Nothing in grid mode or when off.
  virtual void CorrectStationValues();
  // Corrects the grid "precipitation" on the computed cells (also in station
  // mode: the application calls it when the superposition is on).
  virtual void CorrectGrid();
  virtual void SetMaxElevation(double elevation) { max_elevation = elevation; }

  const catch_correction_parameters& Parameters() const { return parameters; }
  bool GridMode() const { return grid_mode; }
  bool NoTemperature() const { return no_temperature; }
  bool NoWind() const { return no_wind; }

 private:
  void ReadSection();
  // Index (1..) of the first variable named `variable`, or 0.
  int FindVariable(const std::string& variable) const;
  meteointerpol* InterpolatorAt(int index) const;
  void PrepareStations();
  // Refits the altitude regression of region 1 of the precipitation
  // interpolator to its values corrected by the factor at each altitude.
  void RefitRegression();
  // Temperature and wind speed at a point of the correction's interpolators,
  // with missing results replaced (rain, calm).
  double TemperatureAt(double x, double y, double z);
  double WindAt(double x, double y, double z);

  catch_correction_parameters parameters;
  bool routing_only = false;
  bool grid_mode = false;
  bool no_temperature = false;
  bool no_wind = false;
  double max_elevation = 0.0;  // m

  std::vector<meteointerpol*> interpolators;  // 1..meteo_count
  std::vector<std::string> variables;         // 1..meteo_count
  // The interpolators of the three variables; null for none (a grid only, or
  // no such variable).
  meteointerpol* precipitation = nullptr;
  meteointerpol* temperature = nullptr;
  meteointerpol* wind = nullptr;
  catch_missing_limits limits{};

  // Borrowed grids; temperature and wind null without them.
  double** precipitation_grid = nullptr;
  double** temperature_grid = nullptr;
  double** wind_grid = nullptr;

  // Station mode: station count of the correction (1 for methods 2 and 10),
  // the temperature and wind speed at each station (1..n) and the scratch of
  // the point interpolation (one per station plus one, for the largest of
  // the three interpolators).
  int station_count = 0;
  std::vector<double> station_temperature;
  std::vector<double> station_wind;
  std::vector<double> point_scratch;

  // Grid mode: the computed cells, fixed once "MPIRegions" is found.
  bool regions_found = false;
  bool runs_built = false;
  std::vector<cell_run> runs;
};

}  // namespace velmo
