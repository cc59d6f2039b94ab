// The interception model: per step and cell, the canopy store of every
// vegetation layer fills from the water that reaches it, passes the rest on
// as throughfall, spills what exceeds its capacity and evaporates at the
// evapotranspiration model's potential rate, which it lowers in place. The
// total throughfall "throughfall0" is the water input of the later modules;
// the glacierised share of a cell passes its input straight on. Methods 21
// and above first hold snow in the canopy (the snow canopy, with its own
// grids that the snow model takes), from 31 on with the canopy energy
// balance; the water leaving the snowy canopy is what the layers receive.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/memory.h"
#include "framework/zonalstat.h"
#include "landsurface/grid_stack.h"
#include "landsurface/interception_bucket.h"
#include "landsurface/owned_grid.h"
#include "landsurface/snow_canopy.h"
#include "setup/output_settings.h"
#include "setup/teilmod.h"

namespace velmo {

class section_reader;

// A method number that is not supported.
inline constexpr int kInterceptionMethodCode = 1161;
// A grid the canopy energy balance needs is missing.
inline constexpr int kCanopyBalanceInputCode = 1160;
// The snow canopy's grids need the first free grid-table entry below this.
inline constexpr int kLastSnowCanopyEntry = 986;

// Where the input water comes from: after the snow model its outflow (or the
// precipitation without one), before it the precipitation.
enum class interception_input { after_snow, before_snow };

// What a method number m = 10·a + b stands for.
struct interception_method_traits {
  bool known = false;  // one of 1, 2, 11, 12, 21, 22, 31, 32
  interception_input input = interception_input::after_snow;
  interception_limit limit = interception_limit::potential_transpiration;
  bool snow_canopy = false;     // a >= 2
  bool energy_balance = false;  // a >= 3
};
interception_method_traits InterceptionMethodTraits(int method);

// The grids of the snow canopy, in the order they are registered.
enum snow_canopy_grid : int {
  kCanopyLoad,                   // "Snow_canopy_load", mm
  kCanopyAlbedo,                 // "Snow_canopy_albedo"
  kCanopyAge,                    // "Snow_canopy_age", days
  kCanopySublimation,            // "Snow_canopy_sublim", mm per step
  kCanopyUnloadSolid,            // "Snow_canopy_unload_solid", mm per step
  kCanopyUnloadLiquid,           // "Snow_canopy_unload_liquid", mm per step
  kCanopyTemperature,            // "Snow_canopy_temperature", °C below the canopy
  kCanopyHumidity,               // "Snow_canopy_rh", fraction
  kCanopyRadiation,              // "Snow_canopy_rad", Wh/m² per step
  kCanopyWind,                   // "Snow_canopy_wind", m/s
  kCanopyLongwave,               // "Snow_canopy_IR_radiation", W/m²
  kCanopyBalance,                // "Canopy_Energy_balance", W/m² (methods 31, 32)
  kCanopyBalanceTemperature,     // "CEB_Canopy_Temperature", K
  kCanopyBalanceTemperatureOld,  // "CEB_Canopy_Temperature_Old", K
  kCanopyBalanceDifference,      // "CEB_DUMMY", K
  kSnowCanopyGridCount
};
inline constexpr int kSnowCanopyGridsWithoutBalance = kCanopyBalance;

// The values of "[interception_model]" after its head.
struct interception_parameters {
  int method = 0;
  output_grid throughfall_grid;
  statistics_file throughfall_statistics;
  output_grid evaporation_grid;
  statistics_file evaporation_statistics;
  output_grid storage_grid;
  statistics_file storage_statistics;
  double max_thickness = 0.0;  // mm of water per unit of leaf area
  int read_grids = 0;          // 1: the stores start from their grid files

  // Snow canopy (methods 21 and above); the file of the long-wave grid is
  // fixed.
  std::array<output_grid, kSnowCanopyGridCount> canopy_outputs;
  std::array<statistics_file, kSnowCanopyGridCount> canopy_statistics;
  double min_leaf_area_index = 0.0;  // Lmin: the snow canopy needs more
  double min_roughness = 0.0;        // z0min, m: the snow canopy needs more
  double leaf_area_scale = 1.0;      // fL
};

class interzeptionsmodellklasse : public teilmodellklasse {
 public:
  // Reads "[interception_model]", looks up the input grids and registers the
  // module's grids and statistics. Failures throw their code.
  interzeptionsmodellklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);
  ~interzeptionsmodellklasse() override;

  void CleanUp() override;
  // The base's storages, then each tracer's input concentration: the first
  // of its flux grids of "snow_model", "irrigation" and "input" (33 without).
  void SetUpTracers(int& error, int count, const std::vector<tracer_description>* descriptions) override;
  void FreeTracers() override;
  virtual void FlushBuffers();
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  // The method number when the module is on, else 0.
  virtual int GetMethod();

  int LayerCount() const { return layer_count; }

  // The snow model's rain/snow transition range (K) and threshold
  // temperature (°C), handed over when interception runs first.
  void SetSnowParameters(double snow_transzone, double snow_T0R) {
    transzone = snow_transzone;
    T0R = snow_T0R;
  }

  interception_parameters parameters;
  interception_method_traits traits;

  std::vector<owned_grid> storage;      // layers 0..L, mm
  std::vector<owned_grid> evaporation;  // layers 0..L, mm per step
  std::vector<owned_grid> throughfall;  // layers 0..L, mm per step

 private:
  double transzone = 0.0;  // K
  double T0R = 0.0;        // °C

  void ReadSection();
  void LookUpGrids();
  void RegisterGrids();
  // A grid of the module from the first free entry: read from its file, or
  // `initial` inside the domain; nodata outside. With `shared` it shows that
  // matrix, which holds the same values, instead of a matrix of its own.
  void RegisterOwnGrid(owned_grid& grid, const std::string& grid_name, const std::string& file_name,
                       int write_code, bool from_file, double initial = 0.0, double** shared = nullptr);
  void CreateStatistics(owned_grid& grid, const std::string& file_name, int code, const std::string& header);

  // Step.
  // The canopy stores are depths over the glacier-free share of a cell: a
  // cell whose share has changed since the last step keeps their water over
  // the new share, and a cell the ice now covers throughout keeps it as a
  // depth over the cell, which its throughfall drops in this step.
  void CarryCanopyAcrossGlacierChanges();
  void StartStatistics();
  template <interception_limit Limit>
  void OneLayerCells();
  template <interception_limit Limit>
  void LayeredCells();
  void TracerCell(int r, int c, int zone, double glacier_share, double storage_before,
                  const canopy_fill& fill);
  void GlacierTracerCell(int r, int c, double glacier_share, double canopy_throughfall);
  void TracerStatisticsCell(int r, int c, int zone, double weight);
  void AddLayerStatistics(int layer, int r, int c, int zone, double weight);
  void AddZeroStatistics(int layer, int r, int c, int zone, double weight);
  // Whether `table` takes its sums from its layer's table this step.
  bool IsTwin(const zonalstatistic* table) const;
  // Every table of row r, from the grid rows after the cells (no glaciers).
  void AddRowStatistics(int r, const int* zones);
  void EndStep();
  // A canopy whose water is NaN or infinite ends the run.
  [[noreturn]] void RaiseNotFiniteCanopy(int r, int c, double stored, double throughfall) const;

  // Snow canopy (interzep_canopy.cpp).
  void ReadSnowCanopySection(section_reader& in);
  void LookUpSnowCanopyGrids();
  void RegisterSnowCanopyGrids();
  void StartSnowCanopyStep();
  // The snow canopy of cell (r, c) with input water `input` and glacierised
  // share w; returns the water that leaves the canopy as liquid.
  double SnowCanopyCell(int r, int c, int zone, double input, double w);
  void EndSnowCanopyStep();
  void FlushSnowCanopy();
  void CleanUpSnowCanopy(int& failure);
  void FillSnowCanopyRows(int r);

  bool Active() const { return flow_control_parameter > 0; }
  bool Computed(int row, int col) const {
    return zone_grid[row][col] != nodata_value &&
           (!mpi_regions_data || mpi_regions_data[row][col] == process_index);
  }
  int FirstColumn(int row) const;
  int LastColumn(int row) const;
  // The current row of one layer's grids (layer 0: the totals only).
  struct canopy_rows {
    const double* landuse = nullptr;
    const double* leaf_area_index = nullptr;
    const double* coverage = nullptr;
    double* storage = nullptr;
    double* evaporation = nullptr;
    double* throughfall = nullptr;
    double* transpiration = nullptr;       // potential, lowered by the evaporation
    const double* interception = nullptr;  // potential interception evaporation
    const double* roughness = nullptr;     // with the snow canopy only
  };
  struct canopy_parameters {
    double capacity = 0.0;  // mm
    double coverage = 0.0;
  };
  void FillRows(int r);
  // What both cell loops read of a row besides the layers' rows.
  struct input_row {
    const double* zone = nullptr;
    const double* region = nullptr;   // none without partitions
    const double* glacier = nullptr;  // none without glaciers
    const double* water = nullptr;
    const int* zones = nullptr;    // none when no table, tracer or canopy table takes cells
    bool cell_statistics = false;  // with glaciers the tables take the cells one by one
    bool Skipped(int c, double nodata, double process) const {
      return zone[c] == nodata || (region && region[c] != process);
    }
  };
  // Fills the layers' rows of row r and returns its inputs.
  input_row StartRow(int r, bool zones_needed);
  // The glacierised share, the input, the zone and the water reaching the
  // layers of cell c (after the snow canopy, where there is one).
  struct cell_input {
    double w = 0.0;
    double input = 0.0;
    int zone = 0;
    double reaching = 0.0;
  };
  cell_input CellInput(const input_row& row, int r, int c, bool snow_canopy);
  // Capacity and coverage of a layer in column c; none (0, 0) where the
  // layer is absent, so that it passes on what reaches it. The cell loops
  // keep a copy, so that the values stay in registers while they store.
  struct canopy_lookup {
    const landuse_table_entry* table = nullptr;
    double nodata = 0.0;
    double max_thickness = 0.0;
    canopy_parameters At(const canopy_rows& rows, int c) const;
  };
  canopy_lookup CanopyLookup() const { return {landuse_table, nodata_value, parameters.max_thickness}; }

  // The layer tables that are written and the grid rows they take, gathered
  // per row: those of layer l at fed_begin[l] .. fed_begin[l + 1] - 1.
  std::vector<table_row> fed_tables;
  std::vector<std::size_t> fed_begin;  // layers 0..L + 1
  // One layer without glaciers: the totals' grids hold the layer's values,
  // so each totals' table takes the sums of its layer's table (total, layer).
  std::vector<std::pair<zonalstatistic*, const zonalstatistic*>> twin_tables;

  int layer_count = 1;
  bool statistics_on = false;              // some layer table is written
  std::vector<canopy_rows> rows_of_layer;  // layers 0..L
  int day_of_year = 0;
  model_date previous_date{-1, -1, -1, -1, -1};

  // Borrowed grids, looked up once.
  double** input_water = nullptr;
  double** elevation = nullptr;
  double** glacier = nullptr;
  // Per cell (row stride ncols + 1): the glacier share the canopy stores
  // were depths over in the last step; empty before the first step.
  std::vector<double> canopy_glacier_shares;
  std::vector<double**> landuse;  // layers 1..L
  std::vector<double**> leaf_area_index;
  std::vector<double**> coverage;
  std::vector<double**> roughness_length;
  std::vector<double**> canopy_resistance;
  std::vector<double**> interception_resistance;
  std::vector<double**> potential_transpiration;  // layers 0..L
  std::vector<double**> potential_interception;
  std::vector<double**> real_transpiration;

  // The snow canopy's grids (index snow_canopy_grid; the energy-balance
  // ones only from method 31 on), the tables that are written, and the
  // daily temperatures.
  std::vector<owned_grid> canopy_grids;
  std::vector<std::pair<int, zonalstatistic*>> canopy_tables;
  std::unique_ptr<GridStack> temperature_stack;
  struct canopy_inputs {
    double** temperature = nullptr;  // °C
    double** radiation = nullptr;    // "AspectCorrectedGlobalRadiation", Wh/m² per step
    double** wind = nullptr;
    double** humidity = nullptr;  // fraction
    double** cloudiness = nullptr;
    double** albedo = nullptr;               // of the ground, energy balance
    double** snow_storage = nullptr;         // "snow_storage_total", energy balance
    double** surface_temperature = nullptr;  // "surftemp", K, energy balance
  } canopy_in;
  // The current row of each of them.
  struct canopy_rows_of_step {
    double* grid[kSnowCanopyGridCount] = {};
    const double* temperature = nullptr;
    const double* radiation = nullptr;
    const double* wind = nullptr;
    const double* humidity = nullptr;
    const double* cloudiness = nullptr;
    const double* albedo = nullptr;
    const double* snow_storage = nullptr;
    const double* surface_temperature = nullptr;
    unsigned char* settled = nullptr;
  } canopy_row;
  // Per cell (row-major, ncols + 1 a row): whether the canopy held snow in
  // the last step, was bare for one step or has been bare longer.
  std::vector<unsigned char> canopy_settled;
  // The canopy of the cell being computed, reused from cell to cell: a fresh
  // one would be filled from its defaults each time, and it keeps the last
  // cell's terms for the next one of the same leaf area.
  SnowCanopyPoint canopy_point;
};

}  // namespace velmo
