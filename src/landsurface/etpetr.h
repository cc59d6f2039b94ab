// The evapotranspiration model: per step and cell the potential
// transpiration, interception evaporation and soil evaporation of every
// vegetation layer by one of four methods (Penman-Monteith per layer with a
// day and a night part, Hamon, Wendling, Haude), the global radiation
// corrected for exposure, a cloudiness estimate and the mean relative
// sunshine of the last daylight period. The grids of snow evaporation and
// real evapotranspiration are registered here for the steps that fill them.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/zonalstat.h"
#include "landsurface/owned_grid.h"
#include "landsurface/pet_methods.h"
#include "setup/lake_section.h"
#include "setup/output_settings.h"
#include "setup/teilmod.h"

namespace velmo {

enum etp_method : int { kPenmanMonteith = 1, kHamon = 2, kWendling = 3, kHaude = 4 };

// What a method takes of the input grids. Each "one of" input needs at least
// one of its grids.
struct pet_method_inputs {
  bool defined = false;    // methods 1 to 4
  bool radiation = false;  // one of net or global radiation and the sunshine duration
  bool humidity = false;   // one of the relative humidity and the vapour pressure
  bool afternoon = false;  // the 14 h readings of temperature, humidity and vapour pressure
  bool albedo = false;
  bool wind = false;   // wind speed, the soil's surface resistance and (optional) air pressure
  bool night = false;  // the night temperature of steps longer than 720 minutes
};
// The one place where a method number says what it takes.
pet_method_inputs PetMethodInputs(int method);

// The last line of the section: "HamonCorrectionOpenWater = <f>" sets
// `factor`; a line without the key and an "=" leaves it. False, with the
// value's token in `token`, when that value is no number as a whole.
bool ReadOpenWaterFactor(const std::string& line, double& factor, std::string& token);

// Codes of the module.
inline constexpr int kEtpParameterErrorCode = 10;
inline constexpr int kEtpLayeredMethodCode = 44;
inline constexpr int kEtpMonthlyValuesCode = 45;
inline constexpr int kEtpInputGridCode = 46;
inline constexpr int kEtpLakeSetUpCode = 211;

// Availability bits of the optional input grids.
inline constexpr int kAirPressureBit = 1;
inline constexpr int kLayerZeroBit = 2;  // a grid "landuse0"; not used
inline constexpr int kRadiationBit = 4;
inline constexpr int kSunshineBit = 8;
inline constexpr int kWindSpeedBit = 16;
inline constexpr int kHumidityBit = 32;
inline constexpr int kVapourPressureBit = 64;
inline constexpr int kTemperatureBit = 128;

// The values of "[evapotranspiration]" after its head.
struct etp_parameters {
  int method = kPenmanMonteith;
  monthly_table hamon_factors{};             // "PEC-parameter"
  monthly_table haude_factors{};             // "fh-parameter"
  double coast_factor = 0.0;                 // fk of Wendling
  output_grid potential_transpiration_grid;  // ETP
  statistics_file potential_transpiration_statistics;
  output_grid real_transpiration_grid;  // ETR
  statistics_file real_transpiration_statistics;
  output_grid potential_evaporation_grid;  // EVAP, of the soil
  statistics_file potential_evaporation_statistics;
  output_grid real_evaporation_grid;
  statistics_file real_evaporation_statistics;
  output_grid snow_evaporation_grid;
  statistics_file snow_evaporation_statistics;
  output_grid interception_grid;  // EIP
  statistics_file interception_statistics;
  statistics_file radiation_statistics;            // RGEX
  std::array<double, 4> radiation_coefficients{};  // a0..a3: RG/R0 from the relative sunshine
  std::array<double, 4> sunshine_coefficients{};   // CS: relative sunshine from RG/R0
  double sunshine_threshold = 0.0;                 // r0
  double transmissivity_mean = 0.0;
  double transmissivity_amplitude = 0.0;
  double amplitude_scale_height = 0.0;  // m
  monthly_table amplitudes{};           // K
  double amplitude_day_share = 0.0;     // fd
  double amplitude_night_share = 0.0;   // 1 - fd
  double amplitude_variability = 0.0;   // va
  statistics_file cloudiness_statistics{"cloudiness", 0};
  double hamon_open_water_factor = 1.0;  // "HamonCorrectionOpenWater"
};

class verdunstungsmodellklasse : public teilmodellklasse {
 public:
  // Reads "[evapotranspiration]", looks up the input grids and registers the
  // module's grids and statistics. Failures throw their code.
  verdunstungsmodellklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);
  ~verdunstungsmodellklasse() override;

  void CleanUp() override;
  virtual void FlushBuffers();
  virtual int QuadraticRoots(double p, double q, double& x1, double& x2);
  virtual double SaturationVapourPressure(double temperature);
  // "soil_storage" and "available_soil_moisture"; code 33 when missing.
  virtual void LinkSoilGrids();
  virtual void SetSnowStorageGrid(double** grid);
  virtual void SetRadiationCorrectionGrid(double** grid);
  virtual void PotentialEvapotranspiration(int minute, int hour, int day, int month, int year);
  // Where a cell has snow, the potential rates of the step are taken from it
  // first, on its glacierised share from the glacier's snow
  // (etpetr_real.cpp). Needs the snow model's storage grid. With the
  // energy-balance snow methods the snow model puts the sublimation of its
  // step into "snow_evaporation" (negative for deposition), whose table and
  // grid are then written with the real evapotranspiration.
  virtual void SnowEvaporation(int minute, int hour, int day, int month, int year);
  // After the soil step: transpiration limited by the soil moisture and the
  // soil evaporation leave the soil (or a lake's ponded water), and
  // "real_transpiration0" sums the cell's real evapotranspiration. On a
  // glacierised cell the rates are depths over its glacier-free share, the
  // only share the soil feeds, and the tables weigh them by that share.
  virtual void RealEvapotranspiration(int minute, int hour, int day, int month, int year);
  // Reads the lake section `section` when a grid "lake_codes" exists.
  virtual void InitLakeModel(const std::string& section);
  virtual void SetSnowMethod(int method);

  int LayerCount() const { return layer_count; }
  int Availability() const { return availability; }
  bool NetRadiation() const { return net_radiation; }

  etp_parameters parameters;
  lake_section lake;

  std::vector<owned_grid> potential_transpiration;  // layers 0..L
  std::vector<owned_grid> real_transpiration;       // layers 0..L
  std::vector<owned_grid> potential_interception;   // layers 0..L
  owned_grid potential_evaporation;
  owned_grid real_evaporation;
  owned_grid snow_evaporation;
  owned_grid corrected_radiation;
  owned_grid cloudiness;
  owned_grid mean_sunshine;  // "SSDTemp"

 private:
  void ReadSection();
  void CheckParameters();
  void LookUpGrids();
  void RegisterGrids();
  void RegisterOwnGrid(owned_grid& grid, const std::string& grid_name, const std::string& file_name,
                       int write_code, double inside_value, double** shared = nullptr);
  void CreateStatistics(owned_grid& grid, const std::string& file_name, int code, int precision,
                        const std::string& header, const std::string& title);
  double** Optional(const std::string& grid_name, int bit);

  // Step.
  bool BeginStep(int minute, int hour, int day, int month, int year);
  void SetUpSubSteps();
  void UpdateMeanSunshine();
  template <int Method>
  void ComputeCells();
  template <int Method>
  void RadiationRow(int r);
  template <int Method>
  void SingleLayerRow(int r);
  // `Layers`: the number of vegetation layers when known at compile time, 0 otherwise.
  template <int Layers>
  void PenmanMonteithRow(int r);
  void FillLayerRows(int r);
  void LookUpGlacierSnowGrids();
  // The rows that tell the cells of the snow and real steps apart.
  struct domain_row {
    const double* zone = nullptr;
    const double* region = nullptr;   // none without partitions
    const double* glacier = nullptr;  // none without glaciers
    double nodata = 0.0;
    double process = 0.0;
    bool Computed(int c) const { return zone[c] != nodata && (!region || region[c] == process); }
  };
  // Fills the layers' rows of row r and returns its domain rows.
  domain_row StartRealRow(int r);
  domain_row DomainRow(int r) const;
  // The snow cover of an energy-balance method stops transpiration and soil
  // evaporation without evaporating itself in the snow evaporation step
  // (its snow balance has its own sublimation).
  bool SnowStopsEvaporation() const;
  // Whether the snow evaporation step writes the snow evaporation of every
  // computed cell.
  bool SnowEvaporationStepWrites() const;
  void SnowEvaporationRow(int r, bool snow_stops_evaporation);
  void StartSnowEvaporationOutputs();
  void AddSnowEvaporationRow(int r, const domain_row& row);
  void EndSnowEvaporationOutputs();
  void BeginRealEvapotranspiration(int minute, int hour, int day, int month, int year);
  void RealEvapotranspirationRow(int r, bool zero_under_ice);
  void EndRealEvapotranspiration();
  void StatisticsRow(int r, int layers);
  void EndStep();
  bool Computed(int row, int col) const {
    return zone_grid[row][col] != nodata_value &&
           (!mpi_regions_data || mpi_regions_data[row][col] == process_index);
  }
  int FirstColumn(int row) const;
  int LastColumn(int row) const;

  int layer_count = 1;
  int availability = 0;
  bool net_radiation = false;
  int snow_method = 0;
  // Whether the potential step of this pass ran: the real step then sets
  // the rates of cells under ice to 0, which it does not compute.
  bool potential_step_ran = false;

  // Borrowed input grids.
  double** temperature = nullptr;
  double** night_temperature = nullptr;
  double** elevation = nullptr;
  double** air_pressure = nullptr;
  double** radiation = nullptr;  // net or global
  double** sunshine = nullptr;
  double** humidity = nullptr;
  double** vapour_pressure = nullptr;
  double** wind_speed = nullptr;
  double** albedo = nullptr;
  double** soil_resistance = nullptr;  // "SurfaceEvaporationResistance"
  double** multilayer_landuse = nullptr;
  std::vector<double**> landuse;  // per layer 1..L
  std::vector<double**> leaf_area_index;
  std::vector<double**> root_depth;
  std::vector<double**> coverage;
  std::vector<double**> canopy_resistance;
  std::vector<double**> interception_resistance;
  std::vector<double**> roughness_length;
  double** glacier = nullptr;
  double** lake_codes = nullptr;
  double** ponding = nullptr;
  double** soil_storage = nullptr;
  double** available_soil_moisture = nullptr;
  double** snow_storage = nullptr;
  // The snow model's glacier snow, looked up at the first snow evaporation.
  bool glacier_snow_looked_up = false;
  double** glacier_snow_evaporation = nullptr;  // "SnowEvaporation_onGlacier"
  double** glacier_snow_storage = nullptr;      // "SolidSnowStorage_onGlacier"
  // The interception model's total evaporation, looked up until found.
  double** interception_evaporation = nullptr;
  // The real-transpiration tables of the layers that are written, per row.
  std::vector<zonalstatistic*> layer_tables;  // layers 0..L
  // The tables a row feeds and the grid rows they take, gathered per row.
  std::vector<table_row> fed_tables;
  double** correction = nullptr;

  // What the stages of a row hand on, per column.
  struct cell_radiation {
    bool computed = false;
    bool lake = false;
    double albedo = 0.0;
    double ratio = 0.0;     // RG/R0
    double sunshine = 0.0;  // relative sunshine
    double global = 0.0;    // corrected global radiation, Wh/m²
    double absorbed = 0.0;  // absorbed shortwave, Wh/m²
    double cloudiness = 0.0;
    double pressure = 0.0;  // hPa at the cell's temperature, 0: not known
    int top_layer = 0;      // uppermost and lowest present layer, 0: none
    int lowest_layer = 0;
    pm_part_terms day_terms;
    pm_part_terms night_terms;
  };
  std::vector<cell_radiation> radiation_row;  // columns 0..ncols
  // The current row of each layer's grids (layer 0: the totals only).
  struct layer_rows {
    double* transpiration = nullptr;  // potential
    double* interception = nullptr;   // potential
    double* real = nullptr;           // real transpiration
    const double* landuse = nullptr;
    const double* leaf_area_index = nullptr;
    const double* coverage = nullptr;
    const double* canopy_resistance = nullptr;
    const double* interception_resistance = nullptr;
    const double* roughness_length = nullptr;
  };
  std::vector<layer_rows> rows_of_layer;  // layers 0..L

  // The vegetation terms of the last cell, per layer.
  std::vector<pm_vegetation_terms> vegetation_terms;

  // Per-step scratch.
  std::vector<double> cos_zenith;                     // daylight sub-steps
  std::vector<clear_sky_substep> clear_sky_substeps;  // those with the sun up
  int clear_sky_steps = 0;                            // of them in use
  int daylight_steps = 0;                             // K
  double daylight_step_hours = 0.0;
  bool night = false;
  double log_transmissivity = 0.0;  // of the day
  double amplitude = 0.0;
  double variability = 0.0;
  int sunshine_steps = 0;
  bool daylight_started = false;
  bool statistics_on = false;   // some table of the module is written
  long long unrough_cells = 0;  // cells of the step with a roughness length of 0 or less
  bool roughness_warning_given = false;
  bool date_warning_given = false;
};

}  // namespace velmo
