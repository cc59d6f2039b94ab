// The set-up object: preprocesses the control file and reads everything that
// belongs to no single module (global sections, model time, grids, tables).
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/zonalstat.h"
#include "setup/coupling.h"
#include "setup/partition.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "setup/variablegrids.h"
#include "setup/vegparams.h"

namespace velmo {

// Grids the set-up object's stages look up by name.
inline constexpr const char* kSoilTypesName = "soil_types";
inline constexpr const char* kRiverLinksName = "river_links";

// Whether the grid of this name (grid-table name or identifier) holds codes
// of classes, which are never blended when a file is resampled: the zone
// grids, land uses, soil types, regions, river links, lakes and glaciers.
grid_content ContentOfGrid(const std::string& grid_name);

class defaultini : public modelobject {
 public:
  // Never throws: a thrown code lands in `error` (103 for anything else).
  // `unused` is passed as 1 by the application; `table` is the application's
  // grid table, which the set-up object fills.
  defaultini(int& error, MessageStream* stream, const std::string& control_file_name, int unused,
             grid_table* table);
  ~defaultini() override = default;

  // ---- stage machine (setup/defltuzr.cpp)
  // Runs the next initialisation stage and returns the new stage number; the
  // call after the last stage sets `done`. Failures are thrown as codes.
  int InitializeStage(bool& done);
  // Frees everything the set-up object built (after every module's clean-up).
  void CleanUp() override;
  int stage = 0;       // next stage to run, 0..23
  int table_mode = 1;  // passed to the table readers
  std::string control_file_name_copy;
  double** zone_grid = nullptr;       // data of entry 1
  double** elevation_grid = nullptr;  // data of entry 2
  // Grids read or created by stages 6 and 8 (zone grid, elevation model,
  // "river_links", standard grids) and the set-up copies of non-persistent
  // periodic grids; the table entries only borrow them.
  std::vector<owned_matrix> input_grids;
  std::vector<owned_matrix> persistence_copies;
  // Runs the stage `stage_number`; InitializeStage drives it.
  void RunStage(int stage_number);
  // Stage 6 and stage 8 reading of one entry.
  void ReadDomainGrid(int index, bool report_fills, int spare);
  void ReadOrCreateStandardGrid(int index);
  // Closes control_file, which must be open; a failure is fatal (code 11).
  void CloseSetUpFile();

  // ---- grid output and statistics (setup/gridstats.cpp)
  // One zonalstatistic per grid of entries 2..grid_count+2 with a statfile.
  void CreateGridStatistics();
  // Adds this step's values of those grids to their statistics.
  void AccumulateGridStatistics();
  // Hands the elevation model and the standard/derived grids to the output
  // writer at the end of the step `minute, hour, day, month, year`.
  virtual void WriteStandardGrids(int minute, int hour, int day, int month, int year);
  // Writes the buffered rows of every grid statistics table.
  void FlushBuffers();
  // The statistics writers of CreateGridStatistics; the entries point at them.
  std::vector<std::unique_ptr<zonalstatistic>> grid_statistics;

  // ---- variable grids and periodic re-reading (setup/variablegrids.cpp).
  // Stage 8: reads "[variable_grids]" from a copy of the control file opened
  // for it and places the grids in the first free entries (their matrices
  // go to input_grids).
  virtual void ReadVariableGrids();
  // Hands every variable grid to the output writer at the end of the step.
  virtual void WriteVariableGrids(int minute, int hour, int day, int month, int year);
  // Once per step, before the modules compute: re-reads the periodic
  // standard grids that fall due from their dated files and restores the
  // non-persistent ones whose time is up. The periods are checked against
  // the run's time step once (a WARNING for one that can never fire).
  // `interval` (minutes) is not used.
  virtual void ReadPeriodicGrids(int minute, int hour, int day, int month, int year, int interval);
  int variable_grid_count = 0;
  int first_variable_grid = 0;               // table index of the first variable grid, 0: none
  std::vector<int> variable_grid_readcodes;  // per variable grid, in table order
  double** soil_storage_grid = nullptr;      // data of the variable grid "soil_storage"
  periodic_reread_plan periodic_plan;
  void ListPeriodicGrids();
  void CheckPeriodsAgainstTimeStep(const model_date& date);
  // After a re-read or a restore: a land-use or soil grid gets its codes
  // replaced by table positions again (`source_file` names the file in the
  // error), and with a multilayer table the land-use layer grids follow.
  void RebindPeriodicGrid(const periodic_grid& grid, const std::string& source_file);

  // ---- control-file preprocessing (.intern copy)
  // Writes the preprocessed copy "<source_name>.intern" (comments cut, $set
  // symbols substituted, "//" joins removed) and leaves its name in intern_name.
  virtual void CompileSymbols(const std::string& source_name, std::string& intern_name);
  // Comment, references and joins of one line, in place; a fault is logged and
  // thrown with its code. defining_symbol (1-based, 0 for none) is the symbol
  // whose value `line` is: a reference back to it is a self-reference.
  virtual std::string& SubstituteSymbols(std::string& line, int line_number,
                                         const std::vector<std::string>& symbol_names,
                                         const std::vector<std::string>& symbol_values, int symbol_count,
                                         int defining_symbol);

  // ---- global sections, model settings, model time
  // Reads the global sections from the control file `file_name` (opened and
  // closed here) into `globals`, the grid-format switches, the directory
  // prefixes and time_step.
  virtual void ReadGlobalSections(const std::string& file_name);
  // The globals.meteo_count names of "[meteo_names]" from the open control
  // file, read from the line after the section header; fewer names before the
  // next section or the end of the file are a control-file error.
  void ReadMeteoNames();
  // First value of "[radiation_correction]" from the open control file.
  virtual void ReadRadiationSwitch();
  // "[model_time]" from the open control file into start_date and end_date,
  // corrected; February of month_lengths follows the end year.
  virtual void ReadModelTime();
  virtual double GetMaxElevation() { return max_elevation; }
  // The model-wide values, in the order the model application takes them;
  // the tables and lists stay the set-up object's.
  model_settings GetSettings();

  global_sections globals;
  int radiation_switch = 0;    // nothing uses it
  double max_elevation = 0.0;  // maximum of the elevation model over its valid cells

  // ---- land-use, soil and multilayer tables
  // "[multilayer_landuse]" (optional), "[landuse_table]" and "[soil_table]"
  // from the open control file; failures write their entries and throw.
  virtual void ReadMultilayerLanduse(int table_mode = 1);
  virtual void ReadLanduseTable(int table_mode = 1);
  virtual void ReadSoilTable(int table_mode = 1);

  // Records 0..n; record 0 holds n in its code. An empty multilayer table
  // means the section is absent (one vegetation layer).
  std::vector<landuse_table_entry> landuse_table;
  std::vector<soil_table_entry> soil_table;
  std::vector<multilayer_landuse_entry> multilayer_table;

  // Code checks and vegetation parameter grids (setup/vegparams.cpp).
  // Replace the codes of "landuse" (grid-table index, 0 = none) and of
  // "soil_types" by the positions of their records; a code missing from its
  // table, or with a fractional part, is fatal (31 / 311 / 312 / 32).
  virtual void CheckLanduseCodes(int landuse_index);
  virtual void check_SOIL_Codes(int soil_index);
  // "landuse1".."landuse<L>" from "landuse" and the multilayer table.
  virtual void CreateLanduseLayerGrids();
  // The code check of the two above, also run after a periodic re-read:
  // tests the codes of grid `index` against the soil table (`soil`) or the
  // land-use table (the multilayer table when there is one) and replaces them
  // by the positions of their records. `shown_file` names the file in the
  // error; `report` writes the set-up's progress entries.
  void ReplaceCodesByPositions(int index, bool soil, const std::string& shown_file, bool report);
  // Fills the grid of layer `layer` (1..L) from the positions in `landuse`:
  // at a cell of the process, the land-use position of that layer of the
  // cell's multilayer record (-9999 where the record has no such layer); the
  // nodata value elsewhere. `row_ranges_only` visits only the valid columns
  // of rows first_row..last_row; otherwise every cell.
  void FillLanduseLayerGrid(double** layer_grid, double** landuse, int layer, bool row_ranges_only);
  // Finds or creates the per-layer parameter grids and fills them for the
  // start date; hands the phenology grids to the records that need them.
  virtual void generateMultiLayerParameterGrids(int layer_count);
  // Daily phenology step (J = day number of the year).
  virtual void UpdatePhenology(int day_number, int layer_count);
  // Per-step update; the four grids are the soil model's (null: no daily
  // parameter step).
  virtual void UpdateVegetationParameters(int minute, int hour, int day, int month, int year,
                                          double time_step_minutes, double** soil_storage_old,
                                          double** saturated_soil_partition, double** inaktive_field_capacity,
                                          double** inaktive_soil_moisture);

  // Layer count (layer count of multilayer record 1, or 1) and the land-use
  // layer grids 0..L (0 = "landuse"); the data belong to the grid table.
  int landuse_layer_count = 1;
  std::vector<double**> landuse_layer_grids;
  vegetation_grid_lists parameter_grid_lists;
  // Clean-up of the above (in place of freeing the lists): writes the
  // "MultipleStartTimes" stack of layer 1 as "<file name>_End" when there is
  // one, frees the grids created here and empties their grid-table entries'
  // data, so the clean-up of the entries never frees them a second time.
  void ReleaseVegetationGrids();

  // ---- stages, grids, partitioning, coupling
  // Grid table entries 3 .. grid_count+2 belong to the set-up object.
  int grid_count = 0;

  // Zone grid, elevation model and standard grids (setup/zonegrids.cpp).
  // Stage 1: "[zone_grid]", "[elevation_model]" and "[standard_grids]" from
  // the open control file into entries 1, 2 and 3 .. grid_count+2 (names,
  // file names and every key; nothing is read from the grid files).
  virtual void ReadGridSections();
  // Stage 6: the header of the zone grid's file (entry 1, prefixed with
  // InitialStateDirectory like every grid read), before any grid is read.
  virtual void ReadDomainHeader(int& header_ncols, int& header_nrows, double& header_xllcorner,
                                double& header_yllcorner, double& header_cellsize,
                                double& header_nodata_value);
  // Stage 7: ranks the zone grid held by entry 1 of `table` into the zone
  // table, code map and row ranges below, and points the base's zone_table,
  // zone_code_map, row_ranges, zone_count and max_zone_code at them.
  virtual void RankZones(grid_table& table, const grid_header& domain);

  std::vector<zone_record> zone_records;  // 0..zone_count; zone_table points here
  std::vector<int> zone_codes;            // 0..max_zone_code; zone_code_map points here
  std::vector<row_range> row_range_list;  // 1..nrows; row_ranges points here

  // Derived grids (setup/derived.cpp). A grid of the same name read as a
  // standard or variable grid is used unchanged (given); otherwise the grid
  // is computed into the first free entry, counted in grid_count and written
  // once beside its source grid's file.
  // Stage 9: cell_weights := the data of a "RelCellArea" grid that was read.
  void FindCellWeights();
  virtual void MakeCellSizes();           // stage 10
  virtual void MakeCoordinates();         // stage 11
  virtual double GridMaximum(int index);  // stage 12, on entry 2
  virtual void make_nFK_kWert_and_Na();   // stage 17
  virtual void make_Slope_and_Aspect();   // stage 18
  // Replaces cell (row, col) of `grid` by the mean of its valid neighbours.
  virtual void NeighbourMean(int row, int col, double** grid);
  virtual void check_ice_firn_grid();  // stage 19
  // Frees the computed grids; their table entries lose their data first, so
  // the clean-up of the other entries never frees them twice.
  void ReleaseDerivedGrids();
  // Once every module is built: frees the grids only the set-up itself reads
  // (the halo of the domain division, the cell sizes, whose products live on
  // in "RelCellArea" and the coordinates) where nothing writes, sums, counts,
  // re-reads or binds them by name; their entries are marked released.
  void ReleaseSetUpOnlyGrids();

  int cell_size_x_index = 0;
  int cell_size_y_index = 0;
  int rel_cell_area_index = 0;
  double** cell_size_x = nullptr;
  double** cell_size_y = nullptr;
  double** rel_cell_area = nullptr;
  bool cell_size_x_given = false;
  bool cell_size_y_given = false;
  bool rel_cell_area_given = false;
  int coord_x_index = 0;
  int coord_y_index = 0;
  double** coord_x = nullptr;
  double** coord_y = nullptr;
  int slope_index = 0;
  int aspect_index = 0;
  double** slope_angle = nullptr;
  double** slope_aspect = nullptr;
  double** available_soil_moisture = nullptr;
  double** hydraulic_conductivity = nullptr;
  double** fillable_porosity = nullptr;
  std::vector<owned_matrix> derived_grids;  // the computed grids (not the given ones)

  // Regression regions (setup/regions.cpp), stage 20: reads
  // "[region_transition_distance]", ranks the regions of "regression_regions"
  // (created as one region when not read) and fills the weight grids.
  virtual void MakeRegionWeightGrids();
  virtual void RankRegions(int index);
  virtual void MakeRegionWeights();
  // Forgets the region table and frees the created region and weight grids
  // (their table entries lose their data first).
  void ReleaseRegions();

  double transition_distance = 0.0;           // map units, > 0
  std::vector<region_record> region_records;  // 0..region_count; region_table points here
  std::vector<int> region_codes;              // 0..max_region_code; region_code_map points here
  int region_grid_index = 0;
  int region_weights1_index = 0;
  int region_regions2_index = 0;  // 0 with fewer than 2 regions
  int region_weights2_index = 0;
  int region_regions3_index = 0;  // 0 with fewer than 3 regions
  int region_weights3_index = 0;
  std::vector<owned_matrix> region_grids;  // the created region, region and weight grids

  // Registers a new zeroed grid of the domain in the first free entry under
  // `grid_name` and `file_name` (write code 0) and counts it in grid_count;
  // without a free entry `no_free_message` + 1000 + `no_free_end` is fatal
  // (code 12). The matrix goes to `owner`.
  int RegisterComputedGrid(const std::string& grid_name, const std::string& file_name,
                           std::vector<owned_matrix>& owner, const char* no_free_message,
                           const char* no_free_end);
  // Writes the grid of `index` once under its output name.
  void WriteGridOnce(int index);

  // Domain division (setup/partition.cpp), run once zone grid, elevation
  // model and "river_links" are registered: registers "MPIRegions",
  // "MPIHelper" and "MPIHalo" in the first free entries, builds the river
  // links and counts the cells per instance.
  void PartitionDomain(std::vector<int>& cell_counts, std::vector<int>& send_list,
                       std::vector<int>& receive_list, int& row_first, int& row_last);
  // Frees the river links and the three grids and empties the lists. The
  // grids' table entries lose their data here, so the clean-up of the other
  // entries never frees them (the "MPIHelper" rows are wider than a grid's).
  void ReleasePartition();

  std::vector<RiverLink> river_link_list;
  int mpi_regions_index = 0;
  int mpi_helper_index = 0;
  int mpi_halo_index = 0;
  owned_matrix mpi_regions;
  owned_matrix mpi_helper;  // columns 0 .. HelperColumns(ncols)
  owned_matrix mpi_halo;
  std::vector<int> partition_cell_counts;  // index 0 .. process_count-1
  std::vector<int> halo_send_list;
  std::vector<int> halo_receive_list;

  // "[ExternalCoupling]" (setup/coupling.cpp): opens the control-file copy
  // again and leaves it open.
  virtual void GetCouplingParameters();
  // Frees the coupling lists and texts.
  void ReleaseCoupling();
  external_coupling coupling;
};

}  // namespace velmo
