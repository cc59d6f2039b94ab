// Records of the parameter tables: land uses with their vegetation parameters
// over the year, soil types, and multilayer land-use types. Grid cells refer
// to a record by its position 1..n in its table; record 0 is a header whose
// code holds n.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

namespace velmo {

class MessageStream;

// ---- error codes of the tables
inline constexpr int kTableReadErrorCode = 29;         // a record or value could not be read
inline constexpr int kSoilLayerCountErrorCode = 30;    // soil types with different layer counts
inline constexpr int kGrainSizeErrorCode = 110;        // grain-size fractions inconsistent
inline constexpr int kMultilayerCountErrorCode = 111;  // multilayer types with different layer counts
inline constexpr int kDayOfYearErrorCode = 150;        // date gives no day of the year
inline constexpr int kAltitudeCorrectionErrorCode = 152;
inline constexpr int kMonthErrorCode = 154;  // month outside 1..12 in the monthly values

// ---- land-use methods
inline constexpr int kMethodMonthly = 1;  // positional form with monthly resistances
inline constexpr int kMethodVariableDayCount = 2;
inline constexpr int kMethodDynamicPhenology1 = 3;
inline constexpr int kMethodDynamicPhenology2 = 4;
inline constexpr int kMethodDynamicPhenology3 = 5;
inline constexpr int kMethodDynamicPhenology4 = 6;

// Bits of `internal_mask`: the parameter grids that are set from the table.
inline constexpr int kMaskRoughnessLength = 128;
inline constexpr int kMaskRootDepth = 64;
inline constexpr int kMaskVegetationCover = 32;
inline constexpr int kMaskLeafAreaIndex = 16;
inline constexpr int kMaskInterceptionResistance = 8;
inline constexpr int kMaskCanopyResistance = 4;
inline constexpr int kMaskEvaporationResistance = 2;
inline constexpr int kMaskAlbedo = 1;

// Altitude at which the fix-point days hold as given.
inline constexpr double kFixPointReferenceAltitude = 400.0;  // m

// Per-layer grids of the set-up object that the phenology methods read per
// cell; index 1..layer count (entry 0 unused). The lists belong to the set-up
// object, which fills the later layers after handing them over.
using layer_grid_list = std::vector<double**>;
using layer_stack_list = std::vector<double***>;

// Values of a land use per fix point, index 0..n with entry 0 = entry n (the
// last fix point of the previous year). The three resistances of the
// positional form hold 14 monthly values instead: 0 = December of the previous
// year, 1..12 = January..December, 13 = January of the next year.
struct landuse_fix_point_lists {
  std::vector<double> rsc;
  std::vector<double> rs_interception;
  std::vector<double> rs_evaporation;
  std::vector<double> Albedo;
  std::vector<double> LAI;
  std::vector<double> Z0;
  std::vector<double> VCF;
  std::vector<double> RootDepth;
  std::vector<double> AltDep;            // days per metre above kFixPointReferenceAltitude
  std::vector<double> ForcingThreshold;  // DynamicPhenology_3 only
  std::vector<double> SR_StemDiameter;
  std::vector<double> SR_ResidCovrg;
  std::vector<double> n_factor;
};

// A fix point whose day, corrected to a cell, lies outside -1..366.
struct fix_point_day_failure {
  int point = 0;     // 1..n; 0: every day lies within
  double day = 0.0;  // its corrected day (nan for a nan altitude)
};

// A land use at one cell on one day: what its parameters are looked up
// from (LanduseCellDay fills one). The set-up object's vegetation grids read
// every parameter of the day from it, at the start date and every day.
struct landuse_cell_day {
  int day = 0;
  int month = 0;
  int day_of_year = 0;
  std::array<int, 13> month_lengths{};  // of the monthly values: 0 December before, February of the year
  const double* start_times = nullptr;  // the cell's start-time list (methods 5 and 6), else null
  double forcing_sum = 0.0;             // the cell's forcing sum, read with a start-time list
  std::span<const int> fix_point_days;  // entries 0..n corrected to the cell, without a start-time list
};

// One land use of "[landuse_table]".
struct landuse_table_entry {
  std::string name;
  int code = 0;
  int method = 0;
  int fix_point_count = 0;
  int start_time_levels = 0;
  int veg_start_point = 0;
  int veg_stop_point = 1000;
  int veg_reset_day = 1;
  int veg_write_day = 0;
  int internal_mask = 255;
  std::string internal_mask_text = "11111111";
  const layer_stack_list* start_time_lists = nullptr;
  const layer_grid_list* pheno_start_grids = nullptr;
  const layer_grid_list* fstar_grids = nullptr;
  const layer_grid_list* forcing_sum_grids = nullptr;
  int start_offset = 0;
  int start_point = 0;
  std::vector<int> fix_days;
  landuse_fix_point_lists lists;
  double RootDist = 0.0;
  double HReduDry = 0.0;
  double TReduWet = 0.0;
  double LimitReduWet = 0.0;
  double ETPHamonFactor = 1.0;
  double F_star = 0.0;  // "F*"
  int JDReset_TStart = 0;
  int DP1_t1_dorm = 0;
  double DP1_T_Bf = 0.0;
  int DP2_t0_dorm = 0;
  int DP2_t1_dorm = 0;
  double DP2_T_Bc = 0.0;
  double DP2_T_Bf = 0.0;
  double DP2_Par_a = 0.0;
  double DP2_Par_b = 0.0;
  double DP2_Offset_1 = 0.0;
  double DP2_Offset_2 = 0.0;
  int DP4_t0_dorm = 0;
  int DP4_t1_dorm = 0;
  double DP4_T0 = 0.0;
  double DP4_T1 = 0.0;
  double DP4_Par_a = 0.0;
  double DP4_Par_b = 0.0;
  double DP4_T_xylstop = 0.0;
  int DP4_t_xs1 = 0;
  int DP4_SPSLF = 0;
  int maxStartJDforDP1 = 0;
  bool forcing_active = false;
  double StressFactorDynPhen = 0.0;
  double IntercepCap = -1.0;                // negative: the interception module uses its own capacity
  std::vector<int> tillage_days = {-9999};  // 1..count; entry 0 = last day - 366
  int tillage_day_count = 0;
  int cultivation = 0;  // 1 conserving, 2 nonconserving, 3 other
  double SR_CropDistX = 0.0;
  double SR_CropDistY = 0.0;
  double SR_K_ST = 0.0;
  double SR_C_WR = 0.0;
  std::array<double, 4> SR_rough_coeff1 = {0.0, 0.0198, 0.712, 0.142};  // coefficients in 1..3
  std::array<double, 4> SR_rough_coeff2 = {0.0, 0.0198, 0.712, 0.142};
  double nf_freezing = -9999.9;
  double nf_thawing = -9999.9;
  // Index 1..12 January..December, 0 December of the previous year; February
  // follows the year of the last date evaluated.
  std::array<int, 13> month_lengths = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

  // ---- reading (failures write their entries and throw the code)
  // Key block form; `method_keyword` is "VariableDayCount" or
  // "DynamicPhenology_1".."DynamicPhenology_4".
  void ParseKeyBlock(MessageStream* messages, const std::string& entry_text,
                     const std::string& method_keyword);
  void ParsePositional(MessageStream* messages, const std::string& line);
  // Reads `count` numbers of `key` into entries 1..count of `list` (created
  // with count + 1 entries) and copies entry count into entry 0. Returns false
  // when the block has no such key.
  bool ReadValueList(MessageStream* messages, const std::string& block, const std::string& key,
                     std::vector<double>& list, int count);
  void ReadFixPointDays(MessageStream* messages, const std::string& block);
  void ReadTillageDays(MessageStream* messages, const std::string& block);
  void Release();

  // ---- look-ups
  const std::string& Name() const { return name; }
  int Code() const { return code; }
  int Method() const { return method; }
  int FixPointCount() const { return fix_point_count; }
  int FixPointDay(int i) const;
  double AltitudeDependence(int i) const;
  double ForcingThresholdAt(int i) const;
  double FStar() const { return F_star; }
  int StartOffset() const { return start_offset; }
  int UsesInternalParameter(int bits) const { return internal_mask & bits; }
  bool UsesStartHold() const;  // methods whose vegetation start is found per cell

  // ---- hand-over of the per-cell phenology grids
  void SetForcingActive(bool flag) { forcing_active = flag; }
  void SetStartTimeLists(const layer_stack_list* lists_by_layer, int levels);
  void SetPhenoStartGrids(const layer_grid_list* grids) { pheno_start_grids = grids; }
  void SetFStarGrids(const layer_grid_list* grids) { fstar_grids = grids; }
  void SetForcingSumGrids(const layer_grid_list* grids) { forcing_sum_grids = grids; }

  // ---- parameters by day
  // Writes `month_lengths`[2]; a date without day of the year ends with
  // kDayOfYearErrorCode.
  int DayOfYear(MessageStream* messages, int day, int month, int year);
  void InitializeStart(MessageStream* messages, int day, int month, int year);

  // ---- parameters at a cell on a day, leaving the record unchanged
  // A value list of the record, e.g. &landuse_fix_point_lists::Albedo.
  using value_list = std::vector<double> landuse_fix_point_lists::*;
  // The fix point whose value holds until the cell's vegetation start
  // (methods 3, 4 and 6), else 0.
  int StartHoldPoint() const;
  // The fix-point days at a cell of `altitude` whose vegetation start is
  // `start_day` (-1: not yet found), into `corrected` (n + 1 entries).
  fix_point_day_failure CorrectDays(double altitude, int start_day, std::span<int> corrected) const;
  // The cell's values in the per-cell grids handed over: its vegetation
  // start (-1 without), start-time list (null without) and forcing sum.
  int CellStartDay(int layer, int row, int col) const;
  const double* CellStartTimes(int layer, int row, int col) const;
  double CellForcingSum(int layer, int row, int col) const;
  // Fills the cell part of `at` (whose date part is set) for the cell at
  // (layer, row, col) and `altitude`; the fix-point days go to `days`, which
  // holds n + 1 entries or more.
  fix_point_day_failure AtCell(int layer, int row, int col, double altitude, std::span<int> days,
                               landuse_cell_day& at) const;
  double ValueOn(value_list list, const landuse_cell_day& at) const;
  // The resistances: monthly values for the positional form.
  double ResistanceOn(value_list list, const landuse_cell_day& at) const;
  double VegetationStartOn(const landuse_cell_day& at) const;
  double VegetationStopOn(const landuse_cell_day& at) const;
  // The entry that names the cell whose root depth failed.
  void WriteCellEntry(MessageStream* messages, int row, int col, int layer, double altitude,
                      int day_of_year) const;

  // Writes the specific entry (when given) and the record's generic entry with
  // the block text, then throws kTableReadErrorCode.
  [[noreturn]] void RaiseReadFailure(MessageStream* messages, const std::string& block,
                                     const std::string& specific) const;

 private:
  double ValueFromStartTimes(value_list list, const double* start_times, int day_of_year,
                             double forcing_sum) const;
  int StartTimeInterval(const double* start_times, int day_of_year) const;
  bool HoldsMonthlyValues(const std::vector<double>& values) const;
};

// ---- soil table

inline constexpr int kGrainFractionCount = 7;  // sand, silt, clay, stones1..stones4
inline constexpr int kSuParCount = 11;         // "SU_PAR00".."SU_PAR10"

// Field capacity (vol-%) times root depth (m) gives mm of water.
inline constexpr double kPercentMetresToMillimetres = 10.0;

// One soil type of "[soil_table]". Per-layer arrays are indexed 0..n_L with
// element 0 a copy of layer 1.
struct soil_table_entry {
  std::string name;
  int code = 0;
  double FCap = 0.0;  // vol-%
  // The root zone's capacity per metre of roots, mm/m.
  double CapacityPerMetre() const { return FCap * kPercentMetresToMillimetres; }
  double mSB = 0.0;  // vol-%
  double drainable_porosity = 0.0;
  double ksat_topmodel = 0.0;
  double suction = 0.0;
  int total_layers = 0;
  int horizon_count = 0;
  std::vector<int> horizon_layers;  // 1..n_H; element 0 holds n_L
  std::vector<double> ksat;
  std::vector<double> thickness;
  std::vector<double> theta_sat;
  std::vector<double> theta_res;
  std::vector<double> Par_n;
  std::vector<double> Par_m;
  std::vector<double> alpha;
  std::vector<double> Par_tau;
  std::vector<double> k_recession;
  double maxratio = 0.0;
  double EvapMaxDepth = 0.1;
  double MaxInterflowDepth = 0.0;
  double ThicknessScaling = 0.0;
  double total_depth = 0.0;
  double PMacroThresh = 1.0;
  double MacroCapacity = 0.0;
  double MacroDepth = 0.0;
  double CapacityRedu = 1.0;
  std::array<double, kGrainFractionCount> grain_fractions = {0.3333, 0.3333, 0.3334, 0.0, 0.0, 0.0, 0.0};
  std::array<double, kSuParCount> SU_PAR{};
  std::vector<double> DryHeatCapacity;
  std::vector<double> DryDensity;
  std::vector<double> DryThermalConduct;
  double KMinFrozenSoil = -1.0;
  double log_KMinFrozenSoil = -20.0;

  void ParseSingleLine(MessageStream* messages, const std::string& line);
  void ParseHorizons(MessageStream* messages, const std::string& record_text);
  // Reads one value per horizon of `key` into the layers of each horizon
  // (horizons after the last number take the last number). For "layers" it
  // reads the horizon structure instead and returns the layer count. Returns
  // -1 when the block has no such key.
  int ReadHorizonValues(MessageStream* messages, const std::string& block, const std::string& key,
                        std::vector<double>& target, int horizons);
  void ReadGrainSizes(MessageStream* messages, const std::string& block);

  int Code() const { return code; }
  int LayerCount() const { return total_layers; }
  double DrainablePorosity() const { return drainable_porosity; }

  [[noreturn]] void RaiseReadFailure(MessageStream* messages, const std::string& text,
                                     const std::string& specific) const;
};

// Reads the first number of a scalar key. Returns false when the key is
// absent; throws std::invalid_argument when its value is no number.
bool ReadSoilScalar(const std::string& block, const std::string& key, double& target);

// ---- multilayer land-use table

inline constexpr int kNoLayerCode = -9999;

// One multilayer land-use type of "[multilayer_landuse]".
struct multilayer_landuse_entry {
  std::string name;
  int code = 0;
  std::vector<int> layer_codes;  // element 0 holds k, 1..k the land use of each layer
  int layer_code_count = 1;
  std::vector<int> layer_codes_read;  // the codes as read
  double k_extinct = 0.3;
  double LAI_scale = 10.0;

  void Parse(MessageStream* messages, const std::string& record_text);

  int Code() const { return code; }
  int LayerCount() const { return layer_code_count; }
  int LayerCode(int layer) const;
};

// Reads the layer codes of `key` (items separated by commas, semicolons or
// white space) into elements 1..k of `target`, element 0 = k; returns k, or -1
// when the key is absent. Throws std::invalid_argument for an item that is no
// whole number.
int ReadLayerCodes(const std::string& record_text, const std::string& key, std::vector<int>& target,
                   int& target_count);

// ---- pure helpers of the parameters by day (setup/landuse_days.cpp)

inline constexpr int kNoDayOfYear = -1;
inline constexpr int kLastValidDay = 366;
inline constexpr int kDaysPerYearWrap = 366;  // a fix point of the previous year lies 366 days earlier
inline constexpr int kMonthlyListSize = 14;   // December before, January..December, January after

// Integer part of a grid value (towards zero), kept within the range of int.
int CellInteger(double value);

// Day of the year of a date with the given month lengths (index 1..12); the
// months before `month` are summed, at most January..November.
int DayOfYearFrom(const std::array<int, 13>& month_lengths, int day, int month);
// Day of the year of a date, February of its own year; kNoDayOfYear when the
// month lies outside 1..12 or the result outside 0..366.
int DayOfYearOfDate(int day, int month, int year);
// Month lengths of the monthly values in `year`: index 1..12 January..December,
// 0 December of the previous year.
std::array<int, 13> LanduseMonthLengths(int year);
// Fix-point day shifted by the altitude: fix_day + trunc(alt_dep * (altitude - 400)).
double AltitudeCorrectedDay(int fix_day, double alt_dep, double altitude);
// Linear interpolation by day between two fix points; holds the value of the
// nearer fix point outside them and the first value when they coincide or the
// second lies before the first.
double InterpolateByDay(double day_a, double value_a, double day_b, double value_b, double day);
// Monthly values standing for the 15th of each month (index 0 December of the
// previous year, 13 January of the next), interpolated for a day of `month`.
double MonthlyValue(const std::vector<double>& values, const std::array<int, 13>& month_lengths, int day,
                    int month);

// The days of a land use's fix points at one cell, entries 0..n with
// n = fix_days.size() - 1: fix_days[i] shifted by the altitude with
// alt_dep[i] (0 where alt_dep has no entry i). With a start hold at
// `hold_point` (0: none) that fix point lies on `start_day` and the next one
// counts from it. Entry 0 is the last fix point of the previous year,
// uncorrected. Stops at the first day outside -1..366 and names it.
fix_point_day_failure CorrectFixPointDays(std::span<const int> fix_days, std::span<const double> alt_dep,
                                          double altitude, int hold_point, int start_day,
                                          std::span<int> corrected);
// First fix point i in 1..n whose corrected day is not before `day_of_year`,
// or not yet found (negative); n + 1 after the last one.
int FixPointInterval(std::span<const int> fix_point_days, int day_of_year);

// The date of a look-up, found once for every cell: its day of the year
// (kNoDayOfYear for a date without one) and the month lengths of its year.
landuse_cell_day LanduseDay(int day, int month, int year);
// A land use at a cell of `layer` and `altitude` on `date` (of `year`), its
// fix-point days going to `days` (n + 1 entries or more): what every
// parameter of the day is looked up from. A date without a day of the year
// ends with 150, a fix-point day outside the year with 152 and the record's
// entries; `name_cell` adds the entry naming the cell (as a root depth does).
landuse_cell_day LanduseCellDay(MessageStream* messages, const landuse_table_entry& record,
                                const landuse_cell_day& date, int year, int layer, int row, int col,
                                double altitude, std::span<int> days, bool name_cell);
// The date of method 1's monthly resistances, which need no fix-point days;
// a month outside 1..12 ends with 154 and the record's entry.
const landuse_cell_day& LanduseMonthDay(MessageStream* messages, const landuse_table_entry& record,
                                        const landuse_cell_day& date, int year);
// The value of a fix-point list (0..n or longer) on a day of the year, interpolated
// between the fix-point days (0..n, corrected to the cell); days after the
// last fix point lie before the first of the next year. Before the vegetation
// start (the fix point `hold_point`, 0: none) the value before it holds. Pure
// and cheap: a module may call it per cell and step.
double FixPointValue(std::span<const double> values, std::span<const int> fix_point_days, int day_of_year,
                     int hold_point);
// The vegetation period for balances between the fix points `start_point`
// and `stop_point`: the day when the period started (stopped) by it, else -1.
double VegetationStartOnDay(std::span<const int> fix_point_days, int day_of_year, int start_point,
                            int stop_point);
double VegetationStopOnDay(std::span<const int> fix_point_days, int day_of_year, int stop_point);

// The entries of a failed look-up, as the record's operations write them.
void WriteDayOfYearFailure(MessageStream* messages, int code, int day, int month, int year);
void WriteFixPointDayFailure(MessageStream* messages, const fix_point_day_failure& failure);

}  // namespace velmo
