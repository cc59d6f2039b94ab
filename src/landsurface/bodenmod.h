// The saturation-deficit soil model (TOPMODEL type). Every subbasin of the
// grid "zonegrid_soilmodel" has a mean saturation deficit; a cell's deficit
// follows from its topographic index. Each step the cells take the input
// water into root zone, drainage and interflow storages, and the subbasin
// gives direct runoff (through travel-time zones and a linear store),
// interflow, baseflow and, with method 2, delayed baseflow. Their sum per
// subbasin is row 0 of `subbasin_runoff`, which the routing model reads.
//
// A glacierised cell (share g of "GlacierizedCells", else of "ice_firn")
// takes only the glacier-free share's input water: the snow model
// drains the glacier share through its glacier storages and hands their
// runoff in through row 1 of `subbasin_runoff`, which the step adds to its
// own in row 0 and then clears. A fully glacierised cell holds no soil, nor
// does a lake cell: the groundwater lies under the soil cells, so the mean
// deficit, baseflow and delayed baseflow are those of the soil cells, and
// the runoff takes them by the soil cells' share of the subbasin.
//
// The model is built only as the base of the infiltration model
// (landsurface/infilt.h): one object is both.
#pragma once

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/memory.h"
#include "framework/zonalstat.h"
#include "landsurface/soil_processes.h"
#include "landsurface/soil_section.h"
#include "physics/glacier_share.h"
#include "setup/statefile.h"
#include "setup/teilmod.h"

namespace velmo {

// Codes of the soil model.
inline constexpr int kSoilLogErrorCode = 5;              // "modell.log" cannot be opened
inline constexpr int kFlowTimeCellsErrorCode = 6;        // a subbasin without cells in the flow-time grid
inline constexpr int kEmptyFirstTimeZoneErrorCode = 61;  // no cell of a subbasin in travel-time zone 1
inline constexpr int kCapillaryFlowErrorCode = 55;       // capillary rise cannot be computed
inline constexpr int kLakeMethodErrorCode = 211;         // lake method other than 1 or 2
inline constexpr int kSoilInputCellErrorCode = 68;       // a computed cell without usable input
inline constexpr int kStoredStateOpenErrorCode = 64;     // the state file cannot be opened for reading
inline constexpr int kStoredStateErrorCode = 71;         // the soil block is missing or does not fit
inline constexpr const char* kSoilModelName = "soil_model";
// A marker at or above this counts as a surface saturated in the step before.
inline constexpr double kSaturatedMarker = 0.5;
// Log of the travel-time distribution and of a capillary failure, in the
// working directory.
inline constexpr const char* kSoilLogName = "modell.log";

// Whether a parameter stored in the state file matches the control file's:
// a stored 0 only an exact 0, any other stored value s a control value c
// with |(s - c) / s| <= 1e-5.
bool StoredValueMatches(double stored, double control);

// One travel-time zone of a subbasin: the area and direct runoff still on
// their way to the outlet from the zone's distance.
struct travel_zone {
  double n = 0.0;           // cells in transit
  double sx = 0.0;          // direct runoff in transit, weighted sum
  double zonenwert = 0.0;   // the zone number k
  double rel = 0.0;         // share of the subbasin's cells in zone k
  double RelCellSum = 0.0;  // weight in transit
};

// The per-subbasin states and results of the soil model.
struct subbasin_state {
  double QD = 0.0;        // direct runoff after the linear store
  double QDin = 0.0;      // direct runoff arriving at the outlet
  double QI = 0.0;        // interflow
  double QB = 0.0;        // baseflow
  double QBB = 0.0;       // delayed baseflow
  double QBBin = 0.0;     // delayed-baseflow recharge
  double recharge = 0.0;  // mean drainage from the drainage storage
  double SDmean = 0.0;    // mean saturation deficit
  double lambda = 0.0;    // mean topographic index
  double Q0 = 0.0;        // baseflow at zero deficit
  // QB, QBB, QBBin, recharge and SDmean are depths over the soil cells,
  // which make up this share of the subbasin's weight (1 without lake and
  // fully glacierised cells).
  double soil_share = 1.0;
  double weight = 0.0;  // Σ cell weight of all the subbasin's cells
  int maxzeit = 1;      // travel-time zones
  int first_zone = 0;   // position of zone 0 in travel_zones
};

// What the step adds up per subbasin, over its soil cells.
struct subbasin_sums {
  double weight = 0.0;
  double drainage = 0.0;   // qb
  double deficit = 0.0;    // SD
  double interflow = 0.0;  // interflow
  double delayed = 0.0;    // qbb
  // Σ weight × topographic deviation of the cells without soil: the soil
  // cells' deviations sum to its negative instead of to 0.
  double special_deviation = 0.0;
};

class bodenmodellklasse : public teilmodellklasse {
 public:
  // Reads "[soil_model]" and, when the model is on, builds it: subbasins,
  // parameter rows, travel-time zones, statistics tables, grids and initial
  // states. Failures throw their code after their entry.
  bodenmodellklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);
  ~bodenmodellklasse() override;

  // Writes the peakflow grid and the remaining statistics rows, releases the
  // grids and tables.
  void CleanUp() override;
  // The soil block of the state file (landsurface/soil_state.cpp). Written
  // at clean-up to the state file in the output directory, after the blocks
  // that this run wrote to it before; read at the end of construction when
  // the read mode is not 0, from the state file in the input directory:
  // the parameter rows are checked against the section, then the water in
  // transit of the travel-time zones and the direct-runoff storage QD are
  // taken over. Codes 64 (no file) and 71 (no block, or one that does not
  // fit).
  virtual void WriteStorageFile();
  virtual void ReadStorageFile();
  // Reads the next number of the block and compares it with the control
  // value (StoredValueMatches); a mismatch ends the run (71).
  void CheckStoredValue(state_file_reader& reader, double control, const std::string& item);
  // The rest of the line must be `label` (state_file_reader::ReadLabel);
  // else the entry names `item` and the line, and the run ends (71).
  void CheckStoredLabel(state_file_reader& reader, std::string_view label, const std::string& item);
  [[noreturn]] void RaiseStorageMismatch(const std::string& item, double control, double stored);
  // The state file's name when the model is on, else null.
  virtual const std::string* GetStorageFileName();
  // `subbasin_runoff` when the flow control parameter is 1, else null.
  virtual double** GetSubbasinRunoff();
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  virtual void FlushBuffers();
  // Lake cells from the lake section `section` ("[lake_model]").
  virtual void InitLakeModel(const std::string& section);
  // Chooses the input-water grid; `interception_first` when interception
  // runs before snow.
  virtual void LinkInputGrids(bool interception_first);
  // The subbasins the model works on, which the routing model takes.
  velmo::subbasin_zones Subbasins() {
    return {subbasin_zones.data(), subbasin_code_map.data(), subbasin_count, largest_subbasin_code};
  }
  // How the state file is read (0: not), which the snow and routing models
  // follow.
  int StorageReadMode() const { return storage_read_mode; }

  // ---- the model's state, which the checks of its balance read
  soil_section section;
  int method = 1;
  state_file_session* state_files = nullptr;  // of the run
  // Subbasins: ranked "zonegrid_soilmodel", index 1..n.
  std::vector<zone_record> subbasin_zones;  // 0..n; also the zones of the subbasin-value tables
  int subbasin_count = 0;
  std::vector<int> code;  // 0..n: the code of each subbasin
  std::vector<subbasin_parameters> parameters;
  std::vector<subbasin_state> states;
  owned_matrix subbasin_runoff;  // rows 0..1, columns 0..n+1; row 1: glacier runoff handed in
  travel_zone* zoneFZT(int subbasin) {
    return travel_zones.data() + states[static_cast<size_t>(subbasin)].first_zone;
  }
  // The grids the model registers (saturation_deficite .. peakflow).
  enum own_grid : int {
    kDeficitGrid,
    kDrainageGrid,
    kInterflowStoreGrid,
    kInactiveMoistureGrid,
    kInactiveCapacityGrid,
    kSaturatedPartitionGrid,
    kSoilStorageOldGrid,
    kDirectflowGrid,
    kInterflowGrid,
    kPeakflowGrid,
    kOwnGridCount
  };
  double** grid(own_grid g) const { return own_grids[static_cast<size_t>(g)].get(); }
  // Grids looked up (borrowed).
  double** soil_storage = nullptr;
  double** available_soil_moisture = nullptr;
  double** input_water = nullptr;
  // The water of a cell's soil (mm): the root zone, the drainage and
  // interflow storages, and the inactive soil below the roots counted by its
  // water.
  double CellSoilWater(int r, int c) const {
    return soil_storage[r][c] * available_soil_moisture[r][c] + grid(kDrainageGrid)[r][c] +
           grid(kInterflowStoreGrid)[r][c] +
           grid(kInactiveMoistureGrid)[r][c] * grid(kInactiveCapacityGrid)[r][c];
  }
  // The subbasin index of a cell (0: not computed).
  int CellSubbasin(int r, int c) const { return cell_subbasin[static_cast<size_t>(r) * (ncols + 1) + c]; }
  // The subbasin index of a subbasin code.
  int SubbasinIndex(int code_of_subbasin) const {
    return subbasin_code_map[static_cast<size_t>(code_of_subbasin)];
  }
  // A cell of a lake (which has no soil) when lakes are modelled.
  bool IsLakeCell(int r, int c) const {
    return lake_modelling && std::trunc(lake_codes[r][c]) != nodata_value;
  }
  // The statistics tables, in the order of soil_table_kind.
  std::array<std::unique_ptr<zonalstatistic>, kSoilTableKinds> tables;

 protected:
  int storage_read_mode = 0;
  std::string storage_file_name;
  int layer_count = 1;  // vegetation layers
  double** subbasin_grid = nullptr;
  std::vector<int> subbasin_code_map;  // 0..largest code
  int largest_subbasin_code = 0;
  std::vector<soil_cell_parameters> cell_parameters;  // the part the cell step reads
  std::vector<travel_zone> travel_zones;              // zones 0..maxzeit of every subbasin, one block each
  std::vector<subbasin_sums> sums;
  std::array<owned_matrix, kOwnGridCount> own_grids;
  std::array<int, kOwnGridCount> own_grid_index{};

  double** conductivity = nullptr;    // "hydraulic_conductivity", mm per step after construction
  double** topographic = nullptr;     // "topographic_faktor", m * (TI - lambda) after construction
  std::vector<double**> root_depths;  // layers 1..L (element 0 unused)
  double** soil_types = nullptr;
  double** solid_snow = nullptr;      // "snowstorage_solid"
  double** flow_times = nullptr;      // whole steps after construction
  double** glacier_shares = nullptr;  // "GlacierizedCells", else "ice_firn"
  double** lake_codes = nullptr;
  // The ponded water of the lakes ("ponding_storage", else
  // "ponding_storage_top"): a lake cell's input water goes there.
  double** ponding = nullptr;
  bool lake_modelling = false;
  // The canopy's input water when the input is the total throughfall of an
  // interception after the snow: it passes the glacier shares unchanged.
  double** canopy_input = nullptr;
  bool interception_first = false;
  double** infiltration_excess = nullptr;  // set by the infiltration model
  // Slope stability: all seven grids or none.
  bool stability_on = false;
  double** root_cohesion = nullptr;
  double** soil_cohesion = nullptr;
  double** wet_soil_density = nullptr;
  double** friction_angle = nullptr;
  double** soil_depth = nullptr;
  double** stability_index = nullptr;
  double** slope_angle = nullptr;

  // Per cell (row stride ncols + 1): the subbasin index (0: not computed)
  // and the position of its travel-time zone in travel_zones (0: none);
  // per position, the subbasin.
  std::vector<int> cell_subbasin;
  std::vector<int> cell_slot;
  std::vector<int> slot_subbasin;
  // Adds the cells cols of row r that lie in a subbasin to `table`, with their `values`.
  void AddSubbasinRow(zonalstatistic& table, int r, const row_range& cols, const double* values) const;
  // Drainable porosity and suction of every soil record (by position).
  std::vector<double> drainable_porosity;
  std::vector<double> soil_suction;

  // The tables of cell values (SB, SUZ, SIF) sum into zone records of their
  // own, so that one pass over the cells feeds them side by side; the
  // records outlive the tables.
  static constexpr std::array<soil_table_kind, 3> kCellTables = {kSoilStorageTable, kDrainageTable,
                                                                 kInterflowStoreTable};
  std::array<std::vector<zone_record>, kCellTables.size()> cell_table_zones;
  std::vector<table_row> cell_table_rows;  // scratch of WriteStatistics

  // Green-Ampt infiltration, which the infiltration model runs in the soil
  // model's pass over the cells, each cell before its soil step.
  struct cell_infiltration {
    double** fillable_porosity = nullptr;
    double** marker = nullptr;  // the excess goes to infiltration_excess
    double macropore_fraction = 0.0;
  };
  cell_infiltration infiltration_cells;
  bool infiltrate_in_step = false;

  // The soil record (position) of a cell whose "soil_types" value is `soil`.
  int SoilRecordAt(int r, int c, double soil) const;
  bool HasSoilRecord(double soil) const {
    return soil >= 1.0 && soil < static_cast<double>(drainable_porosity.size());
  }
  // The glacier share of a cell, 0..1.
  double GlacierShareAt(int r, int c) const {
    if (!glacier_shares) return 0.0;
    return CellGlacierShare(glacier_shares[r][c]);
  }
  bool IsGlacierCell(int r, int c) const { return FullyGlacierised(GlacierShareAt(r, c)); }
  // The glacier grid of the cells' shares, as the snow model's.
  void LookUpGlacierShares();
  // Cells that turned between soil and glacier since the last step carry
  // their water across: a soil cell under ice hands its soil water to the
  // runoff, a cell the ice left starts its soil from its subbasin's start
  // values (counted against the runoff), and the groundwater and delayed
  // baseflow keep their water over the new soil share.
  void CarrySoilAcrossGlacierChanges();
  std::vector<char> glacier_cells;  // per cell (row stride ncols + 1): fully glacierised in the last step
  std::vector<double> glacier_handover;    // per subbasin: mm over it, to its runoff of the step
  std::vector<double> soil_weight_change;  // per subbasin: scratch of the carry-over
  // Lake and fully glacierised cells take no water and hold fixed states.
  bool IsSpecialCell(int r, int c) const {
    return IsGlacierCell(r, c) || (lake_modelling && std::trunc(lake_codes[r][c]) != nodata_value);
  }
  [[noreturn]] void RaiseCellInput(int r, int c, const char* grid_name, const char* fault,
                                   double value) const;

 private:
  void WarnOfUnusedInitialBaseflow();
  // Construction, in its order.
  void LookUpGrids();
  void CheckCellInputs();
  void CheckSoilCells();
  void BuildTravelTimeZones();
  void CreateStatisticsTables();
  void RegisterStateGrids();
  void RegisterFlowGrids();
  void InitialiseSubbasins();
  void LookUpStabilityGrids();
  int RegisterOwnGrid(own_grid g, const std::string& file_name, const std::string& grid_name, int write_code,
                      double initial, bool subbasin_cells_only);
  void AppendToSoilLog(const std::string& text);

  // Step parts.
  void AdvanceTravelZones();
  template <bool kInfiltrate>
  void CellLoop();
  void SpecialCell(int r, int c, int z, double w, double deviation);
  void SubbasinResults();
  void WriteStatistics();
  // The step's cell deficits do not hold its groundwater fluxes (baseflow,
  // drainage, delayed-baseflow recharge), which only the mean deficit takes:
  // the grid is written with them, so that a written grid's mean over the
  // soil cells, which a warm start reads back, is the mean deficit the step
  // leaves. The grid the steps go on with stays as it is.
  void WriteDeficitGrid();
  owned_matrix written_deficit;  // made when the deficit grid has output
  [[noreturn]] void RaiseMissingStoredValue(const std::string& item, const state_file_reader& reader);
  [[noreturn]] void RaiseNotFiniteCell(int r, int c, const soil_cell& cell, double direct) const;
  [[noreturn]] void RaiseCapillaryFailure(int r, int c, const capillary_failure& failure, double SSP,
                                          double nFK, double SB, double SD);
};

}  // namespace velmo
