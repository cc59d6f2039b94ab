// The snow model "snow_model": splits the input water into rain and snow,
// keeps the snow cover of every cell (solid and liquid storage), melts it by
// a temperature-index method or an energy balance of the snow surface (with
// its pack and surface temperatures and sublimation), lets the liquid water
// beyond the holding capacity flow out as "snowcover_outflow", ages the snow
// and sets the cell albedo; the slide methods move snow downhill once per
// step. It writes its grids and zone statistics and the snow block of the
// state file.
//
// Built by the model application after the evapotranspiration model; linked
// through SetRadiationCorrectionGrid, GetSnowStorageGrid/GetMethod (to the
// evapotranspiration model), LinkInputGrids, SetUpTracers, InitLakeModel,
// SetSubbasinRunoff and ReadStorageFile. Each step: RunTimeStep, then
// RunGlacierStep.
//
// The deposition-index methods raise the snowfall by the index; what that
// adds is the grid "deposition_index_gain" (mm per step), written and
// summed like the snowfall, to files named after the snowfall's with
// "_deposition_index" before their extension.
//
// With the grid "ice_firn" or "GlacierizedCells" the module also runs
// glaciers ("[ice_firn]"): every cell with a glacier share takes the glacier
// branch of the cell step (snow, firn and ice melt), the melt of each
// subbasin passes three linear storages into the runoff of the subbasin, and
// the dynamic methods update the glaciers once a year. With the grids
// "ThawCoeffPermaFrost" and "PermafrostThawDepth" it keeps the permafrost
// thaw depth ("[permafrost]"), which limits "root_depth1".
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/zonalstat.h"
#include "setup/root_zone.h"
#include "setup/teilmod.h"
#include "snow/glacier.h"
#include "snow/glacier_geometry.h"
#include "snow/permafrost.h"
#include "snow/snow_energy_balance.h"
#include "snow/snow_section.h"
#include "snow/snow_slides.h"

namespace velmo {

class state_file_session;

// Codes of the snow model.
inline constexpr int kSnowStateFileCode = 71;  // state block missing or not matching the run
inline constexpr int kLakeSetUpCode = 28;      // control file not opened, no pond grid

// The values of a cell the module's zone statistics take, one table each.
enum cover_value : int {
  kCoverStorage,         // solid + liquid
  kCoverOutflow,         // "snowcover_outflow"
  kCoverMelt,            // "melt_from_snowcover"
  kCoverSnowDays,        // "days_snow"
  kCoverSnowAge,         // "snow_age"
  kCoverSnowfall,        // "snow_fraction"
  kCoverRain,            // "rain_fraction"
  kCoverAlbedo,          // "albedo"
  kCoverDepositionGain,  // "deposition_index_gain" (deposition-index methods)
  kCoverInputMass,       // slide methods
  kCoverMobileMass,
  kCoverDeposition,
  kCoverValueCount
};
inline constexpr int kCoverValuesWithoutSlides = kCoverInputMass;

// The outflows (mm per step) of the three glacier linear storages of a subbasin.
struct glacier_outflow {
  double ice = 0.0;   // Qice_slr
  double firn = 0.0;  // Qfirn_slr
  double snow = 0.0;  // Qsnow_slr
};

// What a warm start needs to go on with the permafrost of a cell: its thaw
// state and the root zone that the thaw depth cut.
struct permafrost_state_cell {
  int row = 0;
  int col = 0;
  permafrost_cell thaw;
  double root_depth = 0.0;  // "root_depth1", m
  double capacity = 0.0;    // "available_soil_moisture", mm
};

// The snow block of the state file as text: "[snow_model_v2]", the subbasin
// count, the time interval, three lines per subbasin (index, tab, value with
// 17 significant digits, label) and an empty line. Without outflows (no
// glaciers) every value is 0. A run with permafrost (`permafrost` not null)
// writes before the empty line the count of its permafrost cells and a line
// per cell: row, column, thaw depth, snow-free days, snow-cover days, root
// depth and capacity of the root zone (17 significant digits), label.
std::string FormatSnowStateBlock(int subbasin_count, double time_interval,
                                 const std::vector<glacier_outflow>& outflows,
                                 const std::vector<permafrost_state_cell>* permafrost = nullptr);

// Whether a value read from the state file differs from the run's: for a
// stored 0 any other value, else a relative difference above 1e-5.
bool StoredValueDiffers(double stored, double control);

class schneemodellklasse : public teilmodellklasse {
 public:
  // Reads "[snow_model]" (it must exist) and sets the module up: statistics
  // files, input grids, the registered grids and, for the slide methods, the
  // elevation order. Failures write their entry and throw their code.
  schneemodellklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);
  ~schneemodellklasse() override;

  // Appends the state block when ready, closes the statistics tables and
  // releases the registered grids, then the base clean-up.
  void CleanUp() override;
  // Base set-up (its code is thrown), then each tracer's input
  // concentration grid: "concflux_tracer_<k>_irrigation", else
  // "concflux_tracer_<k>_input".
  void SetUpTracers(int& error, int count, const std::vector<tracer_description>* descriptions) override;
  void FreeTracers() override;

  // First half of the step: snow, melt, albedo of every computed cell.
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  // Second half: slides, statistics rows, output grids.
  virtual void RunGlacierStep(int minute, int hour, int day, int month, int year);
  virtual void FlushBuffers();
  // Links.
  virtual void SetRadiationCorrectionGrid(double** grid);
  virtual double** GetSnowStorageGrid();
  virtual void SetSubbasinRunoff(double** runoff);
  virtual double SeasonalMeltFactor(int day, int month);
  // Seasonal factors Aice and Asnow of the glacier radiation index.
  virtual double SeasonalIceFactor(int day, int month);
  virtual double SeasonalSnowFactor(int day, int month);
  virtual double SaturationVapourPressureIce(double t_celsius);
  virtual void InitLakeModel(const std::string& section);
  // State block: reads it (read mode 1) or only keeps the name for writing
  // (read mode 0); modes 2 and 4 neither read nor write it.
  virtual void ReadStorageFile(const std::string& file_name, int read_mode);
  virtual void WriteStorageFile(int append);
  [[noreturn]] virtual void ReportStateMismatch(const std::string& item, double control_value,
                                                double stored_value);
  // Reads the next number of the state file being read and compares it.
  virtual void CompareStoredValue(double control_value, const std::string& item);
  virtual int GetMethod();
  virtual void LinkInputGrids(bool interception_first);
  virtual void SetTemperatureStackFlag(bool flag) { temperature_stack_ = flag; }
  virtual bool GetTemperatureStackFlag() { return temperature_stack_; }
  virtual bool GetLayeredSnowFlag() { return false; }

  // A cold energy-balance part of the ordinary cover stopped before its
  // surface search, so that the searches of a row run together; `pending`
  // tells it was stopped.
  struct deferred_part {
    bool pending = false;
    snow_balance_start start;
    snow_balance_cell cell;
    double weight = 0.0;
  };

  // One part (weight w) of the step of cell (row, col) at air temperature T,
  // with the input water the cell had before the step: adds its snowfall
  // and rain to the cover and, weighted, to "snow_fraction" and
  // "rain_fraction" (which the first part of a step starts from 0), raises
  // the input water by the deposition-index snow and returns the melt, not
  // yet taken from the solid storage. With `defer`, an energy-balance part
  // that searches its surface temperature stops before the search and is
  // kept there.
  double CellSnowStep(int row, int col, double t_air, double weight, double input_water, double& solid,
                      double& liquid, double extra_solid, bool second_part = false,
                      deferred_part* defer = nullptr);

  // The glacier list from "GlacierCodes", with volumes, old areas and bands.
  void BuildGlacierList();
  // The yearly update of the glacier shares by the volume-area relation, and
  // the mass balance of lost shares spread over the cells the glaciers keep.
  void UpdateGlacierGeometry();
  void RedistributeGlacierBalance();

  // The two values the interception model takes over when it runs first.
  double GetTransZone() const { return parameters.transzone; }
  double GetT0R() const { return parameters.T0R; }

  snow_parameters parameters;
  // Outflows of the glacier linear storages per subbasin, index
  // 1..subbasin_count; empty without glaciers.
  std::vector<glacier_outflow> glacier_outflows;
  int subbasin_count = 0;
  int layer_count = 1;
  // The storage grids exist over these rows (every row with slides).
  int storage_first_row = 0;
  int storage_last_row = 0;
  std::string state_file_name;  // empty: no state block is written

  // Glaciers: on with a glacier grid. Per subbasin (index 1..subbasin_count)
  // whether it has glaciers, the sum of its cells' glacier shares and the
  // sum of their glacier-free shares.
  struct glacier_fraction {
    bool glacierised = false;
    double glacier_area = 0.0;
    double free_area = 0.0;
    // The glacier share of the subbasin its storages drained in the last
    // step (their outflows are depths over it).
    double drained_share = 0.0;
    double Share() const {
      const double area = glacier_area + free_area;
      return area > 0.0 ? glacier_area / area : 0.0;
    }
  };
  bool glaciers_on = false;
  glacier_parameters glacier;
  std::vector<glacier_fraction> glacier_fractions;
  glacier_list glaciers;  // dynamic methods
  int firn_levels = 0;
  bool permafrost_on = false;
  permafrost_parameters permafrost;

 private:
  // A grid the module uses by name: its data and entry, and whether the
  // module registered it (and so writes and releases it) or found it.
  struct module_grid {
    double** data = nullptr;
    int index = 0;
    bool registered = false;
  };
  struct statistics_table {
    std::vector<zone_record> zones;
    std::unique_ptr<zonalstatistic> table;
  };
  // The step's input grids, looked up once.
  struct input_grids {
    double** water = nullptr;
    double** temperature = nullptr;
    double** night_temperature = nullptr;
    double** wind = nullptr;
    double** vapour_pressure = nullptr;
    double** deposition_index = nullptr;
    double** canopy_unload = nullptr;
    double** radiation_correction = nullptr;
    double** lake_codes = nullptr;
    double** pond = nullptr;
  };

  // What a glacierised cell hands back to the cell loop.
  struct glacier_cell_outcome {
    double outflow = 0.0;  // of the ordinary cover
    double melt_outflow = 0.0;
    double glacier_outflow = 0.0;  // of the snow on the glacier share
    double firn_melt = 0.0;
    double ice_melt = 0.0;
  };
  // Per-step sums of a subbasin's glacier tables, as AddCell would sum them
  // (value × cell weight × weight): melt values weigh g, their glacier-free
  // rest 0 with weight 1 − g, so each cell weighs 1 in all.
  struct glacier_subbasin_sums {
    double cells = 0.0;
    double divisor = 0.0;  // Σ cell weight
    double ice = 0.0;
    double firn = 0.0;
    double snow = 0.0;
    double firn_water = 0.0;
    double balance = 0.0;
    double shares = 0.0;         // Σ g, the weights of the glacier-part table
    double share_divisor = 0.0;  // Σ cell weight × g
  };
  struct zone_sums {
    double cells = 0.0;
    double divisor = 0.0;
    double value = 0.0;
  };

  void SetUpModule();
  // Glacier set-up before and after the snow grids, permafrost after them.
  void SetUpGlaciers();
  void CheckGlacierGrids();
  void CreateGlacierStatistics();
  void ComputeGlacierFractions();
  void RegisterGlacierGrids();
  void SetUpFirnStack();
  module_grid ReadOrOwnGrid(const std::string& name, const output_grid& output, int rows_first, int rows_last,
                            bool read_initial);
  void SetUpPermafrost();
  glacier_grids GeometryGrids();
  glacier_geometry_parameters GeometryParameters() const;
  // Subbasin index of a "zonegrid_soilmodel" value (0: none).
  int SubbasinOf(double value) const;
  // The step's parts of the glaciers.
  // The glacier grids of a row (null where a method has none).
  struct glacier_row {
    const double* shares = nullptr;
    const double* subbasins = nullptr;
    double* firn_melt = nullptr;
    double* ice_melt = nullptr;
    double* snowfall = nullptr;
    double* rain = nullptr;
    const double* radiation = nullptr;
    const double* debris = nullptr;
    double* solid = nullptr;  // snow on the glacier share
    double* liquid = nullptr;
    double* total = nullptr;
    double* snow_melt = nullptr;
    double* firn_sum = nullptr;
    double* balance = nullptr;
    const double* evaporation = nullptr;  // from the snow on the glacier share
    double** firn = nullptr;              // levels of each cell
  };
  class glacier_run;
  glacier_row GlacierRow(int r) const;
  glacier_cell_outcome GlacierCell(const glacier_row& g, int r, int c, double t_first, double first_weight,
                                   double t_air, bool two_parts, double input_water, double unload,
                                   double& solid, double& liquid);
  // One part of the step for the snow on the glacier share (method 13).
  double GlacierSnowPart(int r, int c, double t_air, double weight, double input_water, double& solid,
                         double& liquid);
  void FeedGlacierTables();
  void ClearGlacierFreeCells();
  void PermafrostCell(int r, int c, int zone, double cell_weight, double cover, double step_days);
  // A cover whose water is NaN or infinite ends the run.
  [[noreturn]] void RaiseNotFiniteCover(int r, int c, double solid, double liquid, double outflow) const;
  void RunGlacierStorages();
  // Keeps the water of subbasin i's storages when its glacier share has
  // changed since they last drained; returns what they hand to the runoff
  // (mm over the subbasin) when the share is gone.
  double KeepGlacierStorageWater(std::size_t i);
  // Keeps the water of the cells whose glacier share the yearly update
  // changed: the firn over the new glacier share, the ordinary cover and
  // the step's outflow from it over the new glacier-free share.
  void CarryCoversAcrossShares();
  void EvaluateGlacierYear();
  void RecomputeGlacierFractions();
  void WriteGlacierOutputs();
  void CreateStatistics();
  // A table over the model zones, or over the subbasins when `subbasins`.
  zonalstatistic* AddStatistics(const statistics_file& table_file, const std::string& label, int precision,
                                bool subbasins = false);
  void FindConstructionGrids();
  void RegisterSnowGrids();
  module_grid StorageGrid(const std::string& name, const output_grid& output, int rows_first, int rows_last,
                          bool read_initial);
  module_grid OwnGrid(const std::string& name, const std::string& file_name, int write_code, int rows_first,
                      int rows_last, bool fill_zero);
  void SetUpSlides();
  // Closes the control file after one of the module's sections.
  void CloseSection(section_reader& in);
  double** RequiredData(const std::string& name);
  double** DataOf(int index, const std::string& name);

  bool HasDate(int day, int month);
  void RefreshSnowFreeAlbedo(int hour, int day, int month, int year);
  void StartStatistics();
  void AccumulateStatistics();
  void AddTracerStatistics(int r, int c, int zone);
  void EndStatistics(int minute, int hour, int day, int month, int year);
  void WriteOutputs();
  void TracersBeforeStep(int r, int c, double input_water, double cover);
  void TracersAfterStep(int r, int c, double outflow, double cover);
  void ReadStateBlock(std::FILE* file, const std::string& path);
  // The permafrost of the state file: its cells, written and read in the
  // order of the step; a block without it (a run without permafrost wrote
  // it) leaves the thaw to the grids, with a WARNING naming them.
  bool IsPermafrostCell(int r, int c) const;
  std::vector<permafrost_state_cell> PermafrostState();
  void ReadPermafrostState(std::FILE* file, const std::string& path);

  // Energy-balance methods (snow_energy_step.cpp).
  struct energy_balance_inputs {
    double** humidity = nullptr;   // "Snow_canopy_rh", else "air_humidity"; fraction
    double** radiation = nullptr;  // "Snow_canopy_rad", else "AspectCorrectedGlobalRadiation"
    double** longwave = nullptr;   // "Snow_canopy_IR_radiation", optional
    double** cloudiness = nullptr;
    double** surface = nullptr;  // "surfacetemperature", optional
  };
  // The grids of a cover the balance changes: the ordinary cover's or the
  // snow's on the glacier share.
  struct balance_cover {
    double** pack = nullptr;
    double** surface = nullptr;
    double** evaporation = nullptr;  // none: the sublimation is not reported
  };
  bool EnergyBalance() const { return parameters.kind.melt == snow_melt_kind::energy_balance; }
  void FindEnergyBalanceGrids();
  void RegisterEnergyBalanceGrids();
  void RegisterGlacierEnergyBalanceGrids();
  module_grid TemperatureGrid(const std::string& grid_name, const output_grid& output, bool read_initial);
  module_grid ReadTemperatureGrid(const std::string& grid_name, const output_grid& output, int rows_first,
                                  int rows_last);
  void LinkEnergyBalanceInputs();
  // A cell of a row between its step up to the search and the rest.
  struct row_cell {
    double solid = 0.0;
    double liquid = 0.0;
    double melt = 0.0;
    int deferred = -1;  // index of its deferred part, or none
  };
  double EnergyBalanceCellPart(int row, int col, const snow_cell_forcing& f, const snow_part_result& part,
                               double weight, double& solid, double& liquid, const balance_cover& cover,
                               deferred_part* defer = nullptr);
  // Puts the cover of a cell back into its grids and storages.
  void StoreBalanceCell(int row, int col, const snow_balance_cell& cell, const balance_cover& cover,
                        double& solid, double& liquid);
  void AddTemperatureStatistics(int r, int c, int zone);

  snow_step_constants constants_;
  double rmf_mean_ = 0.0;
  double rmf_amplitude_ = 0.0;
  double** elevation_ = nullptr;
  double** regions_ = nullptr;  // "MPIRegions" when some cells belong to another region
  double** subbasin_grid_ = nullptr;
  std::vector<zone_record> subbasins_;
  std::vector<int> subbasin_code_map_;
  int max_subbasin_code_ = 0;

  double** albedo_ = nullptr;
  double** snow_evaporation_ = nullptr;  // replaced by the energy-balance methods' sublimation
  std::vector<double**> landuse_;        // index 1..layer_count
  double** slide_fraction_[kSlideNeighbourCount] = {};
  double** slope_ = nullptr;
  input_grids in_;
  bool linked_ = false;
  bool lakes_on_ = false;
  double** subbasin_runoff_ = nullptr;  // the soil model's, not owned; row 0 takes glacier runoff
  state_file_session* state_files_ = nullptr;

  module_grid solid_, liquid_, total_, snow_days_, snow_age_;
  module_grid max_deposition_, order_row_, order_col_, input_mass_, mobile_mass_, deposition_;
  module_grid snow_fraction_, rain_fraction_, outflow_, melt_;
  // Deposition-index methods: the snowfall the index adds to the cover, a
  // gain of water that the precipitation does not show.
  module_grid deposition_gain_;
  module_grid snow_temperature_, surface_temperature_, energy_balance_;
  // Dynamic glaciers: the same of the snow on the glacier share.
  module_grid snow_temperature_on_glacier_, surface_temperature_on_glacier_, energy_balance_on_glacier_;
  std::vector<owned_matrix> matrices_;  // the module's own grids
  std::vector<slide_cell> slide_order_;

  // Land-use albedo of every computed cell, refreshed once a day.
  owned_matrix snow_free_albedo_;
  date_key_t albedo_date_ = -1;
  bool albedo_follows_phenology_ = false;
  std::vector<int> fix_point_days_;

  std::vector<std::unique_ptr<statistics_table>> statistics_;
  // The tables of the cover's values, in the order of cover_value (null
  // for those the method does not have).
  std::array<zonalstatistic*, kCoverValueCount> cover_tables_{};
  // "snowtemp____" and "surftemp____" of the energy-balance methods.
  std::array<zonalstatistic*, 2> temperature_tables_{};
  energy_balance_inputs balance_in_;
  balance_cover balance_cover_;             // the ordinary cover
  balance_cover balance_cover_on_glacier_;  // the snow on the glacier share (glacier method 13)
  // A row's deferred parts, their searches and what each found; per column.
  std::vector<deferred_part> deferred_;
  std::vector<surface_search> searches_;
  std::vector<snow_surface_balance> found_;
  std::vector<row_cell> row_cells_;
  snow_balance_constants balance_;
  owned_matrix air_pressure_;  // hPa of the active rows, from the elevation

  // Glaciers.
  double** glacier_shares_ = nullptr;  // "ice_firn" (static) or "GlacierizedCells"
  double** glacier_codes_ = nullptr;   // "GlacierCodes"
  std::string glacier_codes_file_;
  double** debris_ = nullptr;
  double** radiation_ = nullptr;  // "global_radiation" or "Ieff_max"
  module_grid firn_melt_, ice_melt_, firn_sum_, mass_balance_, old_mass_balance_;
  module_grid solid_on_glacier_, liquid_on_glacier_, total_on_glacier_;
  module_grid old_shares_, old_codes_, snow_melt_on_glacier_, snow_evaporation_on_glacier_;
  owned_stack firn_stack_;
  double a_snow_mean_ = 0.0;
  double a_snow_amplitude_ = 0.0;
  double a_ice_mean_ = 0.0;
  double a_ice_amplitude_ = 0.0;
  glacier_step_constants glacier_constants_;
  snow_step_constants glacier_snow_constants_;  // the snow method without deposition index
  // The cells without glacier share still have to be cleared of glacier
  // values (at the start and after each yearly update).
  bool glacier_cells_changed_ = true;
  zonalstatistic* firn_melt_table_ = nullptr;
  zonalstatistic* ice_melt_table_ = nullptr;
  zonalstatistic* snow_melt_table_ = nullptr;
  zonalstatistic* total_melt_table_ = nullptr;
  zonalstatistic* storage_without_glaciers_table_ = nullptr;
  zonalstatistic* firn_table_ = nullptr;
  zonalstatistic* mass_balance_table_ = nullptr;
  zonalstatistic* glacier_mass_balance_table_ = nullptr;
  std::vector<glacier_subbasin_sums> glacier_sums_;       // index 0..subbasin_count
  std::vector<zone_sums> storage_without_glaciers_sums_;  // index 0..zone_count

  // Permafrost.
  module_grid snow_free_days_, snow_cover_days_;
  double** thaw_coefficient_ = nullptr;
  double** thaw_depth_ = nullptr;
  double** root_depth_ = nullptr;
  // The root zone the thaw depth cuts: the roots of every layer (1..L) and
  // the soil model's root-zone grids, found at the first use (none without
  // a soil model).
  std::vector<double**> root_layers_;
  root_zone_grids root_zone_;
  bool root_zone_found_ = false;
  void FindRootZone();
  void CutRootZone(int r, int c, double depth);
  zonalstatistic* thaw_depth_table_ = nullptr;
  std::vector<zone_sums> thaw_depth_sums_;

  std::FILE* state_file_being_read_ = nullptr;
  bool temperature_stack_ = false;
  bool undated_step_reported_ = false;
};

}  // namespace velmo
