// The meteorological interpolator: one object per variable of
// "[meteo_names]". It reads the variable's section, positions its station file
// (or the grid list of method 9) at the model start date, registers its
// result grid under the variable's name and, once per pass of the time loop,
// turns the current record into the grid by one of twelve methods (distance
// weighting, elevation regressions read or fitted, Thiessen, bilinear and
// spline station meshes, grids read from files, Thiessen with a lapse rate),
// then applies scaling, limits, scenarios and the zone statistics.
//
// Files: meteoint.cpp (construction, clean-up, accessors), meteoint_section.cpp
// (the section), meteoint_files.cpp (station files and grid list),
// meteoint_step.cpp (the step and the point value), meteoint_regression.cpp
// (regressions and regression files), meteoint_mesh.cpp (station meshes and
// splines). Pure pieces: station_files.h, station_weights.h, scenarios.h,
// regression.h, regression_file.h, station_mesh.h, splines.h.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/modelobject.h"
#include "meteo/regression.h"
#include "meteo/regression_file.h"
#include "meteo/scenarios.h"
#include "meteo/splines.h"
#include "meteo/station_files.h"
#include "meteo/station_mesh.h"
#include "meteo/station_weights.h"
#include "setup/output_settings.h"

namespace velmo {

class zonalstatistic;
struct model_settings;

// Interpolation methods.
enum interpolation_method : int {
  kIdwMethod = 1,
  kRegressionMethod = 2,
  kIdwRegressionMethod = 3,
  kThiessenMethod = 4,
  kBilinearMethod = 5,
  kBilinearGradientMethod = 6,
  kSplineMethod = 7,
  kSplineGradientMethod = 8,
  kGridListMethod = 9,
  kStationRegressionMethod = 10,
  kIdwStationRegressionMethod = 11,
  kLapseRateMethod = 12,
};
inline constexpr int kLastMethod = 12;

// Codes of the interpolator.
inline constexpr int kMethodLineCode = 49;  // also a station file name line
inline constexpr int kScenarioRowCode = 48;
inline constexpr int kMethodCode = 53;
inline constexpr int kAnisotropyCode = 54;
inline constexpr int kNoCellAreaCode = 74;
inline constexpr int kShortStepRegressionCode = 1302;
inline constexpr int kNoGridNameCode = 1050;
// Shortest time step (minutes) of the regression-file methods.
inline constexpr int kRegressionMethodsShortestStep = 60;
// Decimals of the statistics tables.
inline constexpr int kInterpolatorStatisticsPrecision = 3;
// Memory the per-cell station weights of one interpolator may take; beyond
// it the weights are computed anew every step.
inline constexpr long long kWeightCacheBudgetBytes = 256LL << 20;
// Nearest stations kept per cell for Thiessen and the lapse-rate method.
inline constexpr int kNearestStationsKept = 4;
// Missing marker of the spline meshes.
inline constexpr double kMeshMissing = -9999.0;
// The regression index the system uses.
inline constexpr int kRegressionIndex = 1;

// The section "[<variable>]" as read.
struct interpolation_section {
  struct input_file {
    std::string name;
    int additional_columns = 0;
  };
  int method = 0;
  std::vector<input_file> station_files;  // 2 for methods 6 and 8, else 1
  // Method 9: the GIF mapping of the grid reader.
  double gif_factor1 = 0.0;
  double gif_exponent1 = 0.0;
  int gif_threshold = 0;
  double gif_factor2 = 0.0;
  double gif_exponent2 = 0.0;
  // Methods 10 and 11.
  double lower_inversion = 0.0;
  double upper_inversion = 0.0;
  double tolerance = 0.0;
  int overlap = 0;
  double cluster_range = 0.0;
  double regression_upper_lapse_rate = kNoInversion;
  // Method 12: change per metre of the elevation model, inversion height (m)
  // and the change above it; kNoInversion when not given.
  double lapse_rate = 0.0;
  double inversion_height = kNoInversion;
  double upper_lapse_rate = kNoInversion;
  bool p_type = false;          // a station value of 0 stays 0
  std::string regression_file;  // methods 1 to 8
  output_grid result;
  double scaling_factor = 1.0;
  statistics_file statistics;
  double nodata = 0.0;  // N: values below -N are missing
  int nodata_whole = 0;
  double idw_weight = 0.0;
  double idw_fraction = 0.0;
  double max_distance = 0.0;      // squared when idw_weight is 2
  double anisotropy_slope = 0.0;  // degrees as read, radians once constructed
  double anisotropy_ratio = 1.0;
  result_limits limits;
  int scenario_use = 0;  // scenarios on when 1
  int scenario_method = 0;
  std::vector<std::string> scenario_grid_files;  // months 1..12 (index 0 unused)
  std::vector<scenario_row> scenario_rows;
};

// One station file (or the grid list, which has one column) with its
// current record and its block of records.
struct station_file {
  std::string name;
  int additional_columns = 0;
  bool has_minutes = false;
  int count = 0;
  // Stations 1..count (element 0 unused); rotated_* are the coordinates in
  // the frame of the anisotropy ellipse.
  std::vector<double> altitude, x, y, values, rotated_x, rotated_y;
  model_date date;               // of the current record
  long long start_position = 0;  // before the start record's date
  long long next_position = 0;   // where the next block begins
  long long next_line = 0;       // its line number
  int capacity = 1;
  std::vector<model_date> block_dates;
  std::vector<double> block_values;  // capacity x count
  int block_count = 0;
  int read_index = 0;
  bool data_ended = false;  // no further block
  bool all_valid_equal = false;
  unreadable_values unreadable;

  // Whether a record of `tokens` tokens lacks values the header declares.
  bool ShortRecord(size_t tokens) const {
    return tokens < static_cast<size_t>(FirstValueToken(has_minutes, additional_columns) + count);
  }

  station_arrays Arrays() const {
    return station_arrays{x.data(), y.data(), altitude.data(), values.data(), count};
  }
  station_arrays RotatedArrays() const {
    return station_arrays{rotated_x.data(), rotated_y.data(), altitude.data(), values.data(), count};
  }
};

// What the statistics header of an interpolator names.
struct statistics_header_parts {
  int method = 0;
  std::string variable;
  std::vector<interpolation_section::input_file> files;
  std::string regression_file;
  std::string zone_file;
  std::string control_file;
  double weight = 0.0;
  double fraction = 0.0;
  double shown_distance = 0.0;  // the maximum distance as given
};
// The title line of the statistics table, by method; empty for a method
// outside 1..12.
std::string StatisticsHeaderText(const statistics_header_parts& parts);

// Progress rule of the interpolators: every step with an interval of 1; with
// k > 1 when the shifted minute of the day is a multiple of k hours, never at
// hour 0; none with an interval of 0 or less.
bool InterpolatorProgressDue(int interval, double shift_hours, int minute, int hour);

// The cells an interpolator computes, per row from its first row: the
// columns of the active cells and of those it sets to nodata, each list with
// its start per row and one more at the end.
struct interpolated_cells {
  int first_row = 0;
  std::vector<int> active_begin;
  std::vector<int> active_cols;
  std::vector<int> inactive_begin;
  std::vector<int> inactive_cols;
  bool operator==(const interpolated_cells&) const = default;
};

// Inverse-distance weights of an interpolator's active cells (station-major
// within a row) and their sums per cell, with everything they were computed
// from: interpolators whose inputs are equal share one copy.
struct idw_weight_cache {
  struct inputs {
    std::shared_ptr<const interpolated_cells> cells;  // equal lists are one object
    std::vector<double> station_x;                    // stations 1..n, rotated when anisotropic
    std::vector<double> station_y;
    double** weighting_x = nullptr;
    double** weighting_y = nullptr;
    double anisotropy_ratio = 1.0;
    int weight_code = 0;
    double idw_weight = 0.0;
    double max_distance = 0.0;
    bool operator==(const inputs&) const = default;
  };
  inputs from;
  std::vector<double> weights;
  std::vector<double> sums;
};

// What a run's interpolators have built that the next one may share.
struct interpolator_pool {
  std::vector<std::weak_ptr<const interpolated_cells>> cells;
  std::vector<std::weak_ptr<const idw_weight_cache>> weights;
};

class meteointerpol : public modelobject {
 public:
  // Builds the interpolator of `variable` with its result grid in grid-table
  // entry `result_entry`. A failure is stored in `error_code` and thrown
  // again (103 for anything that is no code).
  meteointerpol(int& error_code, MessageStream* messages, const std::string& variable,
                const model_settings& settings, grid_table* grids, int result_entry);
  ~meteointerpol() override;

  void CleanUp() override;
  virtual void SetStationWarning(int on) { station_warning = on; }
  virtual void SetIntervalEndShift(double hours) { interval_end_shift = hours; }
  // Cell lists and weight caches are taken from and offered to `pool`
  // (none: each builds its own).
  void ShareThrough(std::shared_ptr<interpolator_pool> pool) { shared_pool = std::move(pool); }
  const interpolated_cells* Cells() const { return cells.get(); }
  const idw_weight_cache* WeightCache() const { return weight_cache.get(); }
  virtual void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year);
  // Interpolates the current record, which must be of the pass date; returns
  // 1 when a statistics row was completed.
  virtual int InterpolateStep(int minute, int hour, int day, int month, int year);
  virtual void ReadNextRecord();
  virtual bool IsEndOfData() { return end_of_data != 0; }
  // Whether the input ends with the current record although the end date
  // lies later (a file that ends early or holds the end mark); logs the
  // WARNING that names the file and its last record.
  virtual bool InputEndsWithCurrentRecord();
  virtual void SetEndDateToCurrent();
  virtual void FlushBuffers();
  // Returns every input file to its start record.
  virtual void Rewind();
  virtual void RefillStationBlock(int file);
  virtual void NextStationRecord(int file);
  virtual void NextGridListRecord();
  virtual void ReadSection();
  virtual void ReadStationHeader(int file);
  virtual void FindStationStart(int file);
  virtual void FindGridListStart();
  virtual void DetectMeshOrientation();
  virtual void CreateRotatedCoordinates();
  virtual void CheckAnisotropy();
  virtual double ScenarioValue(int row, int col, double x, double y);
  virtual double InverseDistance(int file, double x, double y, double* scratch);
  virtual double AnisotropicInverseDistance(int file, double x, double y, double* scratch);
  virtual double Thiessen(int file, double x, double y, double* scratch);
  virtual double ThiessenLapseRate(double x, double y, double z, double lapse_rate, double inversion_height,
                                   double upper_lapse_rate);
  virtual int WriteOutputs();

  // Regression files (methods 2 and 3); only file 0 exists. Its blocks are
  // read as the records are taken.
  virtual void FindRegressionStart(int file);
  virtual void NextRegressionRecord(int file);
  // Station meshes (construction of methods 5 to 8).
  virtual void ComputeStationSpacing(int file);
  virtual void ChooseLookupStations(int file_count);
  virtual void BuildSplineMesh(int file);
  // The bilinear value of a station file at (x, y) between the corners of
  // cell (row, col), or distance weighting where they do not serve.
  virtual double Bilinear(int file, int row, int col, double x, double y, double* scratch);
  // The regression at a cell; -N - 1 when it is missing.
  virtual double RegressionValue(int row, int col, double x, double y, double z);
  // Fits the regression of methods 10 and 11 to the current record; the
  // model application calls it before every pass's interpolation.
  virtual void ComputeStationRegression(int flag);

  // The regression of `index` (1) for methods 2, 3, 10 and 11; for the other
  // methods every value is -N - 1. SetRegression leaves h1 as it is.
  void GetRegression(int index, double& h1, double& h2, std::array<double, 4>& a,
                     std::array<double, 4>& b) const;
  void SetRegression(int index, const std::array<double, 4>& a, const std::array<double, 4>& b, double h2);

  // The value of the current record at a point, scaled, limited and with
  // scenarios; a missing value (below -N) is returned unchanged. `scratch`
  // holds one double per station plus one.
  double InterpolateAtPoint(double* scratch, double x, double y, double z);

  // The first station file's arrays (stations 1..count).
  double* GetStationAltitudes() { return files[0].altitude.data(); }
  double* GetStationX() { return files[0].x.data(); }
  double* GetStationY() { return files[0].y.data(); }
  double* GetStationValues() { return files[0].values.data(); }
  // To be called after the values of the current record were changed in
  // place (the precipitation correction): whether every cell can simply take
  // the one valid value is decided again.
  void StationValuesChanged();
  int GetMethod() const { return section.method; }
  int GetStationCount() const { return files.empty() ? 0 : files[0].count; }

  const interpolation_section& Section() const { return section; }
  const station_file& File(int index) const { return files[static_cast<size_t>(index)]; }
  int ResultEntry() const { return result_entry; }
  double** ResultGrid() const { return result.get(); }
  int WeightCodeInUse() const { return weight_code; }
  const std::string& StatisticsHeader() const { return statistics_header; }
  const std::string& CurrentGridName() const { return current_grid_name; }
  model_date CurrentRecordDate() const { return record_date; }
  const station_regression& Regression() const { return regression; }
  const station_spacing& Spacing() const { return spacing; }
  const station_mesh& SplineMesh() const { return spline_mesh; }

 private:
  void Construct(const model_settings& settings, int entry);
  void RefuseShortStepRegression();
  void PositionStationFiles();
  void PositionRegressionFile();
  void AdvanceStationFiles();
  void AdvanceRegressionFile();
  void PositionGridList();
  void CreateStatistics();
  std::string ComposeStatisticsHeader() const;
  void RegisterScenarioGrid(int month);
  void ReleaseScenarioGrid();
  void ReleaseEntries();

  // Step pieces (meteoint_step.cpp).
  void CheckStepDate(const model_date& pass) const;
  void WriteProgressLine() const;
  void UpdateScenarios();
  void ReadListedGrid();
  void BuildActiveCells();
  void BuildWeightCache();
  void BuildNearestCache(bool later_wins);
  void StepRow(int row, int kind, double equal_value);
  void IdwRow(int row, const char* warning);
  void NearestRow(int row, bool lapse);
  // The regression of the row's active cells into `values`.
  void RegressionRow(int row, double* values);
  void FindLocatedRows();
  void FindActiveZones();
  void RegressionIdwRow(int row);
  void BilinearRow(int row);
  void SplineRow(int row);
  void PrepareSquares();
  void RunSplines();
  void FillMeshValues(int file);
  // Distance weighting at (x, y) of a station file, plain or anisotropic.
  double CellInverseDistance(int file, double x, double y);
  // The x and y of the distance weighting at a cell of the domain; its
  // georeferenced corner where the grids hold none.
  void WeightingPoint(int row, int col, double& x, double& y) const;
  int CornerKey(int row, int col) const;
  void StoreRow(int row);
  void CountRow(int row);
  double AdjustValue(double value, int row, int col, double x, double y);

  // File helpers (meteoint_files.cpp).
  [[noreturn]] void RaiseRecordError(const station_file& file, long long line) const;
  [[noreturn]] void RaiseShortRecord(const station_file& file, long long line, int given) const;
  // Whether a record follows the current one (the next block of a station
  // file is read when the current block is used up).
  bool StationFileHasNextRecord(int file);
  bool GridListHasNextRecord() const;
  void CloseGridList();

  interpolation_section section;
  std::vector<station_file> files;
  int result_entry = 0;
  int output_list_count = 0;
  std::vector<int> output_list;  // subbasin codes 1..output_list_count
  owned_matrix result;
  int result_first_row = 0;
  int result_last_row = 0;
  int station_warning = 0;
  short end_of_data = 0;
  model_date record_date;
  int weight_code = 0;
  bool first_step = true;

  // Borrowed grids.
  double** zone_grid = nullptr;
  double** elevation = nullptr;
  double** coord_x = nullptr;
  double** coord_y = nullptr;
  double** weighting_x = nullptr;  // CoordX or its rotation
  double** weighting_y = nullptr;
  double** scaling_grid = nullptr;

  // Rotated coordinate grids (anisotropy ratio below 1).
  owned_matrix rotated_x_grid;
  owned_matrix rotated_y_grid;
  int rotated_x_entry = 0;
  int rotated_y_entry = 0;

  // Scenario grid of methods 5 and 6.
  owned_matrix scenario_grid;
  int scenario_entry = 0;
  int scenario_month = 0;

  // Grid list of method 9; the file stays open between steps.
  std::FILE* grid_list = nullptr;
  std::string current_grid_name;
  std::string last_valid_grid_name;

  std::vector<zone_record> statistics_zones;
  std::unique_ptr<zonalstatistic> statistics;
  std::string statistics_header;

  // What the run does not change, built at the first step: the active cells
  // per row, and per active cell the station weights (station-major within
  // a row, so that a step sums each cell's stations in station order while
  // running along the row) or the nearest stations (rank-major).
  std::shared_ptr<const interpolated_cells> cells;
  bool weight_cache_checked = false;
  bool weights_cached = false;
  std::shared_ptr<const idw_weight_cache> weight_cache;
  std::shared_ptr<interpolator_pool> shared_pool;
  int nearest_depth = 0;
  std::vector<int> nearest_stations;  // [rank * active cells + cell]; 0 ends a list
  // Per step: station values with missing ones as 0 and their 0/1 mask.
  std::vector<double> step_values;
  std::vector<double> step_mask;
  bool step_all_valid = false;
  std::vector<double> row_values;      // the method's values of a row's active cells
  std::vector<double> row_regression;  // their regression values (methods 3 and 11)
  // Per active row: whether every active cell has both coordinates (built
  // at the first regression step).
  std::vector<char> located_rows;
  // Per active cell: its zone's index in the statistics table (built at the
  // first step that feeds the table).
  std::vector<int> active_zones;
  std::vector<double> row_numerator;
  std::vector<double> row_denominator;

  // Elevation regression (methods 2, 3, 10, 11), read or fitted; whether it
  // serves this step.
  station_regression regression;
  bool regression_usable = false;
  std::unique_ptr<regression_file> regression_input;  // methods 2 and 3

  // Station meshes (methods 5 to 8), in the frame of the mesh.
  station_spacing spacing;
  // Bilinear methods: per cell of the active rows (row-major, ncols per row)
  // the key of its corners, and per key and station file the square of the
  // current record.
  std::unique_ptr<corner_lookup> corners;
  std::vector<int> corner_keys;
  std::array<std::vector<bilinear_square>, 2> squares;
  // Spline methods: the stations in mesh rows and columns, their x', y',
  // current values and second derivatives, the splines, and for method 8 the
  // grid of the second station file.
  station_mesh spline_mesh;
  owned_matrix mesh_x;
  owned_matrix mesh_y;
  owned_matrix mesh_values;
  owned_matrix mesh_y2;
  std::unique_ptr<TSplines> splines;
  owned_matrix second_spline_grid;
};

}  // namespace velmo
