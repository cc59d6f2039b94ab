// The radiation correction: per cell and step the factor by which the
// radiation on the sloped, possibly shaded surface differs from that on a
// horizontal one ("radiation_correction"), the terrain shadows of each
// sub-step ("Shadow"), the radiation summed on the slope ("Ieff_max"), an
// exposure-corrected air temperature ("corr_temperature") and the night
// temperature of long steps ("temperature_night").
#pragma once

#include <string>
#include <vector>

#include "framework/memory.h"
#include "landsurface/radiation_geometry.h"
#include "setup/output_settings.h"
#include "setup/teilmod.h"

namespace velmo {

// The values of "[radiation_correction]" after its head.
struct radiation_correction_parameters {
  int method = 2;
  output_grid temperature_grid;  // "corr_temperature"
  double temperature_scaling = 0.0;
  output_grid correction_grid;  // "radiation_correction"
  output_grid shadow_grid;      // "Shadow"
  int recompute_interval = 1;   // steps
  int sub_steps = 1;            // per step
};

// What a method number does; numbers outside 1..4 run as method 2.
struct radiation_correction_method {
  int method = 2;
  bool casts_shadows = true;
  bool corrects_temperature = true;
};
radiation_correction_method RadiationCorrectionMethod(int method);

class expokorrklasse : public teilmodellklasse {
 public:
  // Reads the section "[radiation_correction]", looks up its input grids and
  // registers its own. Failures throw their code.
  expokorrklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);
  ~expokorrklasse() override;

  void CleanUp() override;
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  // The factor grid when the flow control parameter is exactly 1, else null.
  virtual double** GetCorrectionGrid();

  radiation_correction_parameters parameters;
  radiation_correction_method features;

  // Grid-table indices of the own grids (0: not registered).
  int correction_index = 0;
  int shadow_index = 0;
  int sloped_radiation_index = 0;
  int temperature_index = 0;
  int night_temperature_index = 0;

  // Horizontal radiation of the last computed step, Wh/m².
  double horizontal_radiation = 0.0;

 private:
  void ReadSection();
  void LookUpGrids();
  void RegisterGrids();
  int RegisterOwnGrid(owned_matrix& grid, const std::string& file_name, const std::string& grid_name,
                      int write_code, int row_lo, int row_hi);
  void CopyNightTemperature();
  void PrepareSlopeTerms();
  void ClearShadows();
  void ComputeStep(int day, int month, int hour, int minute);
  void SumShadedSubSteps();
  void FinishStep();
  bool InRegion(int row, int col) const {
    return zone_grid[row][col] != nodata_value &&
           (!mpi_regions_data || mpi_regions_data[row][col] == process_index);
  }
  int FirstColumn(int row) const;
  int LastColumn(int row) const;

  // Borrowed input grids.
  double** elevation = nullptr;
  double** slope_aspect = nullptr;
  double** slope_angle = nullptr;
  double** sunshine = nullptr;
  double** temperature = nullptr;

  // Own grids.
  owned_matrix correction;
  owned_matrix shadow;
  owned_matrix sloped_radiation;
  owned_matrix corrected_temperature;
  owned_matrix night_temperature;
  int shadow_first_row = 1;
  int shadow_last_row = 0;

  // Slope terms of every cell, [row * (ncols + 1) + col], made at the first
  // computed step (the soil model's lake set-up may still change the slopes
  // while the modules are built).
  std::vector<slope_terms> slopes;
  // The sun of each sub-step of the step, and those with beam radiation.
  struct sub_step_sun {
    bool daylight = false;
    double azimuth = 0.0;    // radians
    double elevation = 0.0;  // radians
    sun_terms sun;
    double beam = 0.0;
  };
  std::vector<sub_step_sun> sub_steps;
  std::vector<sub_step_sun> beamed;
  int countdown = 0;
  bool date_warning_given = false;
};

}  // namespace velmo
