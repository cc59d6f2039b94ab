// Base class of every submodel (radiation correction, evapotranspiration,
// snow, interception, infiltration and soil, routing, regional superposition,
// data assimilation, special output): the head of the module's section, the
// solar geometry the modules share, the per-step progress line and the ranking
// of the subbasin grid "zonegrid_soilmodel".
//
// The solar geometry lives in small free functions of numbers
// (physics/solar.h); the members of teilmodellklasse only feed them the
// object's dates, coordinates and tables.
#pragma once

#include <array>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "framework/modelobject.h"
#include "physics/solar.h"
#include "setup/section_reader.h"
#include "setup/settings.h"
#include "setup/tracerstorage.h"

namespace velmo {

struct tracer_description;

// Codes of the submodel base.
inline constexpr int kTimeIntervalErrorCode =
    63;  // time interval shorter than min_to_int_end, not positive, not whole or not the model's step

// A module's time interval without a "timestep" of the run: a year at most.
inline constexpr double kLongestTimeInterval = 525600.0;  // minutes
// Codes of the subbasin ranking.
inline constexpr int kZoneCodeRangeCode = 3;
inline constexpr int kTooManyZonesCode = 4;
inline constexpr int kNoValidZoneCellCode = 7;
// Any other failure of a tracer set-up.
inline constexpr int kTracerSetUpErrorCode = 103;

// Copies the model domain of `settings` into `object`: rows and columns,
// the row ranges, corner, cell size and nodata value.
void TakeDomain(modelobject& object, const model_settings& settings);

// ---------------------------------------------------------------- day of the year, progress line

// Day of the year (1 January = 1); month 1..12.
int DayOfYear(int day, int month, const std::array<int, 13>& month_lengths);

// Whether the progress line is due at this call. A message interval of 0 or
// less shows none.
bool ProgressLineDue(int message_interval, double time_interval, double interval_end_shift, int minute,
                     int hour);

// ---------------------------------------------------------------- subbasin ranking

inline constexpr int kMaxZoneCode = 32767;
inline constexpr int kMaxRankedZones = 16000;  // distinct codes while ranking
inline constexpr int kMaxSubbasins = 10000;    // zones a submodel can work with
inline constexpr double kSquareMetresPerSquareKilometre = 1.0e6;

// Zone code of a cell value: rounded to the nearest whole number, halves up.
int ZoneCodeOf(double value);

// A zone table in the form of the set-up object's zone ranking.
struct zone_ranking {
  std::vector<zone_record> zones;  // 0..zone_count; record 0 holds the totals
  std::vector<int> code_map;       // 0..max_code: zone index of each code, 0 for none
  int zone_count = 0;
  int max_code = 0;
};

enum class zone_ranking_fault { none, code_out_of_range, too_many_codes, no_valid_cell };

// Subbasins a module works on: the soil model's ranking of
// "zonegrid_soilmodel", which the routing model takes in place of the
// global zone table.
struct subbasin_zones {
  zone_record* zones = nullptr;  // 0..count, record 0 the total area in km2
  int* code_map = nullptr;       // code 0..max_code -> zone index, 0 for none
  int count = 0;
  int max_code = 0;
};

// Ranks the valid cells of `grid` (rows 1..nrows, columns of each row's range)
// into zones in ascending code order. Cell weights, when given, replace the
// count of 1 per cell in weight_sum and mean_divisor. On a fault `result` is
// incomplete.
// Without row ranges every row spans columns 1..ncols.
zone_ranking_fault RankZones(double** grid, int nrows, int ncols, const row_range* row_ranges,
                             double nodata_value, double** cell_weights, double cellsize,
                             zone_ranking& result);

// ---------------------------------------------------------------- submodel base
//
// Construction failures: a constructor that fails logs its FATAL entry and
// throws its code (ErrorCode). It never catches a code to hand it back through
// an argument, since a module's constructor could not catch its base's throw
// anyway. The model application builds every module with BuildModule
// (app/module_builder.h), which turns any other exception into the module's
// code (103; the special output 104) and stores the module.
//
// The set-up object, the tracer description and the zone statistics writer
// still hand their code back through a leading `int& error`: their callers
// construct them by value and read that code, and the tests of the latter two
// look at what a failure leaves (an empty tracer table, a writer switched off).
// MakeHandingBackCode (app/module_builder.h) turns that code into a throw.

class teilmodellklasse : public modelobject {
 public:
  // Copies the model-wide settings, opens the preprocessed control file and
  // reads the head of the section "[module_name]": the flow control parameter
  // and the time interval in minutes. A missing section is fatal (code 17)
  // when `section_required`; otherwise the module is off. A flow control
  // parameter below 0 or above `highest_flow_control` ends the run (17), and
  // so does an interval of a module that is on which is no positive whole
  // number of minutes, is shorter than min_to_int_end, or is not the run's
  // "timestep" (a year at most without one) (63). Failures throw their
  // integer code.
  teilmodellklasse(MessageStream* stream, const model_settings& settings, const std::string& module_name,
                   grid_table* shared_grids, bool section_required = true,
                   int highest_flow_control = kAnyFlowControl);
  ~teilmodellklasse() override = default;

  virtual int GetFlowControlParameter() { return flow_control_parameter; }
  // Time interval in whole minutes (0 for an interval of a module that is
  // off beyond the range of int).
  virtual int GetTimeInterval() { return time_step; }
  virtual int GetModuleFlag() { return module_flag; }
  virtual void SetModuleFlag(int flag) { module_flag = flag; }
  virtual void ReportFloatingPointError(int i1, int i2, int i3, int i4, double a1, double a2, double a3,
                                        double a4, double a5);

  // Solar geometry for a day and month (1..12) of the object's month table.
  // Angles passed in are degrees.
  virtual double SolarDeclination(int day, int month);                                     // degrees
  virtual double EquationOfTime(int day, int month);                                       // hours
  virtual double SolarElevation(int day, int month, double lat, double lon, double hour);  // degrees
  // Azimuth (from north through east) and elevation in radians.
  virtual void SunPosition(int day, int month, double lat, double lon, double hour, double& azimuth,
                           double& elevation);
  virtual double CosIncidence(double a, double b, double c, double d);
  // Clock hours; polar day gives 0 and 24, polar night 24 and 0.
  virtual void SunriseSunset(int day, int month, double lat, double lon, double& sunrise_out,
                             double& sunset_out);
  // Fills sunrise, sunset and the day and night parts of the step of
  // current_date at the object's coordinates.
  virtual void DaylightFraction();

  // Tracer storages (setup/tracerstorage.cpp). SetUpTracers creates one
  // storage per description (records 1..count of `descriptions`) and never
  // throws: `error` receives 0 or the code that ended it. With a count of 0
  // or less nothing is set up.
  virtual void SetUpTracers(int& error, int count, const std::vector<tracer_description>* descriptions);
  virtual double TracerMass(double concentration, double volume);
  virtual double MixConcentration(double ca, double cb, double va, double vb);
  virtual double ConcentrateByLoss(double concentration, double volume, double loss);
  // Writes the remaining statistics rows, releases the grid-table entries and
  // frees every storage; throws a write failure's code after all is freed.
  virtual void FreeTracers();

  // Sets current_date and, when due, writes the progress line of the step.
  // An empty text stands for the module name.
  virtual void ReportProgress(int minute, int hour, int day, int month, int year, std::string_view text = {},
                              std::string_view suffix = {});

  // Ranks the grid "zonegrid_soilmodel" into a zone table of the caller's
  // own (the soil and snow models work on these subbasins). Throws 33 when
  // the grid is missing, 3 for a code outside 0..32767, 4 for too many zones,
  // 7 when no cell is valid.
  void RankZoneGrid(double**& grid_data, std::vector<zone_record>& zones, std::vector<int>& code_map,
                    int& zone_count_out, int& max_code_out);

  // Zone indices (into the zone table of the settings) of the cells of row
  // `row` (first_row..last_row) of the zone grid, columns 1..ncols: the zone
  // of the cell's code (ZoneCodeOf), 0 where no zone has that code. Built at
  // the first call, since the zone grid keeps its values through a run; a
  // cell loop that feeds zone tables takes its zones from here.
  const int* ZoneIndexRow(int row);

  // Vegetation layers of the land uses: those of the multi-layer table's first
  // entry when it has land uses, at least 1; 1 without such a table.
  int VegetationLayerCount() const;

  int flow_control_parameter = 0;  // 0 = module off
  double time_interval = 0.0;      // minutes
  double steps_per_day = 0.0;
  int module_flag = 1;
  int fpe_state = 0;
  double latitude = 0.0;            // degrees
  double longitude = 0.0;           // degrees
  double reference_meridian = 0.0;  // degrees
  double day_fraction = 0.0;
  double night_fraction = 0.0;
  double night_before_sunrise = 0.0;  // hours
  double night_after_sunset = 0.0;    // hours
  int is_night = 0;
  double sunrise = 0.0;  // hours, 0..24
  double sunset = 0.0;   // hours, 0..24
  double pi = kPi;
  double degrees_per_radian = kDegreesPerRadian;
  std::array<double, 14> eot_table = kEquationOfTimeTable;  // minutes
  double** zone_grid = nullptr;                             // data of grid-table entry 1, borrowed
  double time_shift = 0.0;

  // Output list of the settings; element 0 holds the count when the list exists.
  int output_list_count = 0;
  std::vector<int> output_list;

  // Tables and partitioning settings (not owned).
  landuse_table_entry* landuse_table = nullptr;
  soil_table_entry* soil_table = nullptr;
  multilayer_landuse_entry* multilayer_table = nullptr;
  int* partition_cell_counts = nullptr;
  std::vector<int>* halo_send_list = nullptr;
  std::vector<int>* halo_receive_list = nullptr;

  // Tracer storages; none without tracers.
  int tracer_count = 0;
  const std::vector<tracer_description>* tracer_descriptions = nullptr;
  std::vector<tracer_storage> tracer_storages;  // index 1..tracer_count; record 0 holds nothing

 private:
  void ReadSectionHead(bool section_required, int highest_flow_control, int run_time_step);

  std::vector<int> cell_zone_indices;  // rows first_row..last_row of ncols + 1 columns
};

}  // namespace velmo
