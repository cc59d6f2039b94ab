// Vegetation parameter grids of the set-up object: the per-layer grids that
// the land-use table fills for every cell, the dynamic-phenology grids, and
// the per-cell formulas of the daily phenology and root-zone steps.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "setup/root_zone.h"
#include "setup/tables.h"

namespace velmo {

// ---- error codes
inline constexpr int kLanduseCodeErrorCode = 31;      // land-use code not in the land-use table
inline constexpr int kMultilayerCodeErrorCode = 311;  // land-use code not in the multilayer table
inline constexpr int kLayerCodeErrorCode = 312;       // multilayer record with a bad layer code
inline constexpr int kSoilCodeErrorCode = 32;         // soil code not in the soil table
inline constexpr int kParameterGridErrorCode = 12;    // no "albedo" grid or no free grid-table entry
inline constexpr int kTemperatureGridErrorCode = 33;  // no "temperature" grid for dynamic phenology

// Levels of the "TemperatureMOVAVG7" stack: 0 = cold-day count, 1..7 = the
// daily means of the last seven days (1 = most recent).
inline constexpr int kMovingAverageDays = 7;
inline constexpr int kMovingAverageLevels = kMovingAverageDays + 1;
// Consecutive cold days (7-day mean below the xylem-stop temperature) that
// trigger leaf fall.
inline constexpr int kLeafFallColdDays = 5;

// Per-layer grids, in the order they are created.
enum layer_grid_kind : int {
  kRootDepthGrid,
  kVegetationCoverGrid,
  kLeafAreaIndexGrid,
  kCanopyResistanceGrid,
  kInterceptionResistanceGrid,
  kRoughnessLengthGrid,
  kVegetationStartGrid,
  kVegetationStopGrid,
  kVegetationDurationGrid,
  // dynamic phenology only
  kForcingSumGrid,
  kPhenoStartGrid,
  kChillingSumGrid,
  kFStarGrid,
  kLayerGridKinds
};
inline constexpr int kLayerParameterGridKinds = kForcingSumGrid;  // the nine that always exist
inline constexpr std::array<const char*, kLayerGridKinds> kLayerGridNames = {"root_depth",
                                                                             "vegetation_coverage_degree",
                                                                             "leaf_area_index",
                                                                             "SurfaceCanopyResistance",
                                                                             "SurfaceIntercepResistance",
                                                                             "RoughnessLength",
                                                                             "VegetationStart",
                                                                             "VegetationStop",
                                                                             "VegetationDuration",
                                                                             "SumOfForcingUnits",
                                                                             "Pheno_start",
                                                                             "SumOfChillingUnits",
                                                                             "FStar_ForcingThreshold"};

// The set-up object's handles on the vegetation parameter grids. Data are
// not owned except for the grids the set-up object created itself
// (`created_grids`, `created_stacks`); grids found in the table belong to
// whoever registered them.
struct vegetation_grid_lists {
  // [kind][layer 1..L]: data and grid-table index
  std::array<layer_grid_list, kLayerGridKinds> layer_data;
  std::array<std::vector<int>, kLayerGridKinds> layer_index;
  double** albedo = nullptr;
  double** evaporation_resistance = nullptr;  // "SurfaceEvaporationResistance"
  int evaporation_resistance_index = 0;
  double** temperature_avg = nullptr;  // "TemperatureAVG"
  int temperature_avg_index = 0;
  double** leaf_fall_day = nullptr;  // "StartDayOfLeaveFall"
  double** temperature_movavg7 = nullptr;
  double*** movavg7_stack = nullptr;  // levels 0..7
  int temperature_movavg7_index = 0;
  layer_stack_list start_times;  // "MultipleStartTimes<l>" stacks, layer 1..L
  std::vector<int> start_times_index;
  int start_times1_index = 0;

  bool dynamic_phenology = false;      // some land use has method 3, 4, 5 or 6
  bool start_time_lists_used = false;  // some land use has method 5 or 6
  int max_fix_point_count = 0;

  double** temperature = nullptr;  // "temperature", found at the first update
  int mean_day_count = 0;          // daily means in the moving average, 0..7
  // Root-zone grids, found at the first daily update (null: not present).
  double** available_soil_moisture = nullptr;
  double** soil_storage = nullptr;
  double** soil_types = nullptr;  // soil table positions
  bool root_zone_grids_found = false;

  std::vector<owned_matrix> created_grids;
  std::vector<owned_stack> created_stacks;

  // Drops every handle and frees the created grids.
  void Release();
};

// ---- per-cell formulas

// Code check: the position 1..n of the record whose code is `value`, or 0
// when no record has it or the value is not whole.
template <typename Table>
int PositionOfCode(const Table& table, double value) {
  const int code = CellInteger(value);
  if (static_cast<double>(code) != value) return 0;
  for (std::size_t k = 1; k < table.size(); ++k)
    if (table[k].code == code) return static_cast<int>(k);
  return 0;
}

// Sigmoid forcing unit of a daily mean temperature above a base temperature.
double SigmoidForcingUnit(double temperature, double base_temperature);
// Triangular chilling unit of method 4: rises from `offset_1` to 1 at
// `base_chilling` and falls back to 0 at `offset_2`.
double TriangularChillingUnit(double temperature, double offset_1, double base_chilling, double offset_2);
// Forcing threshold of method 6 from the count of chilling days.
double ChillingDayThreshold(double chilling_days, double par_a, double par_b);

// Search over a cell's start-time list q (levels 0..n+1): the first fix
// point not yet passed on `day`, stopping at a fix point not yet reached.
int StartListSearch(const double* start_times, int fix_point_count, int day, double nodata);
// Back to the table's days on the reset day (method 5: fix points with a
// forcing threshold whose day lies ahead wait for their threshold again).
void ResetStartList(double* start_times, const landuse_table_entry& record, int day);

// One cell and layer of the daily phenology step. Pointers that a method
// does not need may be null.
struct phenology_cell {
  double temperature = 0.0;             // daily mean, "TemperatureAVG"
  double* forcing_sum = nullptr;        // "SumOfForcingUnits<l>"
  double* pheno_start = nullptr;        // "Pheno_start<l>"
  double* chilling_sum = nullptr;       // "SumOfChillingUnits<l>"
  double* forcing_threshold = nullptr;  // "FStar_ForcingThreshold<l>"
  double* start_times = nullptr;        // "MultipleStartTimes<l>" list of the cell
  double* leaf_fall_day = nullptr;      // "StartDayOfLeaveFall"
  double* cold_days = nullptr;          // level 0 of the "TemperatureMOVAVG7" stack
  double moving_average = 0.0;          // "TemperatureMOVAVG7"
  bool* cold_days_counted = nullptr;    // the cell's cold-day count has advanced today
  double nodata = -9999.0;
};
// The record's methods, one step per day `day`: forcing to the vegetation
// start (method 3 and the first season of 4 and 6), chilling-based threshold
// (4), forcing thresholds per fix point (5), chilling days and leaf fall (6).
void ForcingStartStep(const landuse_table_entry& record, int day, phenology_cell& cell);
void ChillingStep(const landuse_table_entry& record, int day, phenology_cell& cell);
void ForcingThresholdStep(const landuse_table_entry& record, int day, phenology_cell& cell);
void ChillingDayStep(const landuse_table_entry& record, int day, phenology_cell& cell);
// Dispatch on the record's method; methods 1 and 2 do nothing.
void PhenologyStep(const landuse_table_entry& record, int day, phenology_cell& cell);

}  // namespace velmo
