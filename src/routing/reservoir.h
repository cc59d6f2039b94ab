// A reservoir ("SP" part of a routing description) at the outlet of a
// routing element: it takes the outlet's discharge, keeps the balance of its
// volume, releases an outflow by its operating rule (or through a channel to
// another reservoir, driven by the two levels), lets the abstractions that
// draw from it take their share, and writes a result table. With lake
// modelling on it is a lake: its volume is the ponded water of the cells that
// carry its code in "lake_codes", its level follows from a level-volume table
// of those cells, and its balance holds precipitation, evaporation and
// groundwater exchange over them.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "framework/types.h"
#include "routing/level_volume.h"
#include "routing/operating_rule.h"
#include "routing/routing_description.h"

namespace velmo {

class MessageStream;
class AL_class;
class state_file_reader;
struct flow_arrays;

// Codes of the reservoirs.
inline constexpr int kReservoirFileCode = 37;         // result table cannot be created
inline constexpr int kLakeAltitudeCode = 213;         // lake cells of different full levels
inline constexpr int kLakeOutsideSubbasinCode = 224;  // lake cells outside the element's subbasin, or none
inline constexpr int kLakeTableFileCode = 225;        // level-volume file cannot be written

// The grids of lake modelling, looked up once by the routing model.
struct lake_grids {
  double** codes = nullptr;          // "lake_codes"
  double** ponding = nullptr;        // "ponding_storage" (or "ponding_storage_top"), mm
  double** max_ponding = nullptr;    // "max_ponding_storage", mm
  double** zones = nullptr;          // "zonegrid_soilmodel"
  double** elevation = nullptr;      // "[elevation_model]", m a.s.l.
  double** transpiration = nullptr;  // "real_transpiration0", mm per step
  // What of it did not leave the ponded water (each optional, mm per step):
  // "interception_evaporation0", "snow_evaporation", "real_evaporation".
  double** interception = nullptr;
  double** snow_evaporation = nullptr;
  double** soil_evaporation = nullptr;
  double** downward = nullptr;       // "q_downext" (optional)
  double** baseflow = nullptr;       // "baseflow" (optional)
  double** precipitation = nullptr;  // "PrecOnLakes", mm per step
  int nrows = 0;
  int ncols = 0;
  double cellsize = 0.0;
  double nodata = -9999.0;
};

// The evaporation from the ponded water of lake cell (r, c): its total real
// evapotranspiration less what came from its canopy, snow and soil.
double PondedWaterEvaporation(const lake_grids& g, int r, int c);

// What a reservoir needs of its element and the routing model.
struct reservoir_context {
  MessageStream* messages = nullptr;
  int outlet_code = 0;  // TG of the element
  double dt = 0.0;      // minutes
  std::string output_directory;
  double interval_end_shift = 0.0;   // hours
  const lake_grids* lake = nullptr;  // lake modelling on
  bool volume_from_ponding = false;  // lakes take their volume from the ponding grid
};

// What hydraulic connections read of the reservoir they lead to.
struct reservoir_entry {
  const double* level = nullptr;
  const double* volume = nullptr;
  const double* area = nullptr;
};
using reservoir_map = std::map<int, reservoir_entry>;

// The terms of a step's balance, in the order of the result table.
enum balance_term : int {
  kInflowTerm,
  kOutflowTerm,
  kIrrigationTerm,
  kGroundwaterTerm,
  kEvaporationTerm,
  kPrecipitationTerm,
  kVolumeChangeTerm,
  kAbstractionTerm,
  kBalanceErrorTerm,
  kBalanceTerms
};
// A term as volume (m3), depth over the reservoir's area (mm) and rate (m3/s).
struct balance_value {
  double volume = 0.0;
  double depth = 0.0;
  double rate = 0.0;
};

class SP_class {
 public:
  SP_class(const reservoir_context& context, const reservoir_part& part);
  virtual ~SP_class() = default;
  SP_class(const SP_class&) = delete;
  SP_class& operator=(const SP_class&) = delete;

  // Set-up from the description: the lake's level-volume table, the result
  // table's head, the initial volume (from the ponding grid when asked) and
  // the level.
  virtual void SetUp();
  // The rule section "[abstraction_rule_reservoir_<code>]" and its
  // hydraulic connection.
  virtual void ReadRules(const control_lines& control);
  virtual void RegisterReservoir(reservoir_map& map);
  // Whether the reservoir leads through a channel to another one.
  bool Connected() const { return connected_; }
  // The reservoir a connection leads to must be another registered one
  // (code 29).
  virtual void CheckConnection(const reservoir_map& map) const;
  // The outflow before the first step, from the initial volume.
  virtual void InitOutflow(const flow_arrays& flows, const model_date& start);

  // The step: inflow (m3/s) in, `abstraction` (m3, taken by the element's
  // abstractions from this reservoir) out, the outflow by the rule, the
  // withdrawals of `draws` (mode 8). Year 0 (initialisation passes) leaves
  // the volume as it is.
  virtual void Balance(double irrigation, double abstraction, const flow_arrays& flows, double inflow,
                       const std::vector<AL_class*>& draws, const model_date& date);
  // Outflow of the step (m3/s); sets the withdrawal of every abstraction of
  // `draws`.
  virtual double ComputeOutflow(const flow_arrays& flows, const std::vector<AL_class*>& draws, double inflow,
                                const model_date& date);

  virtual void AddResultRow(const model_date& date);
  // Writes the buffered rows (with flag > 0). A file that cannot be written is
  // code 65.
  virtual void FlushResults(int flag);

  // Its lines of the routing block of the state file (reservoir `index` of
  // its element): the volume, the length of its running average and the
  // volumes in it.
  virtual void WriteState(std::FILE* file, int index) const;
  // Reads them back: the volume, and the level from it (a lake's from its
  // table, another's from the initial level and area); the running-average
  // lines, missing in older files, keep the volumes that fit the current
  // length. Each line must end in its label. Returns what was wrong, empty
  // when nothing was.
  virtual std::string ReadState(state_file_reader& reader, int index);

  // Lakes only (0 otherwise).
  virtual double VolumeToLevel(double volume) const;
  virtual double LevelToVolume(double level) const;
  // The level of a volume and the ponding of every lake cell below it;
  // returns the number of flooded cells.
  virtual int SetLevelFromVolume(double volume);
  // Volume of the ponded water (m3) of the lake's cells; returns the number
  // of wet cells.
  virtual int LakeVolumeFromPonding(double& volume) const;
  virtual void InitLakeVolume();

  int Code() const { return part_.code; }
  bool IsLake() const { return context_.lake != nullptr; }
  const reservoir_part& Parameters() const { return part_; }
  const operating_rule& Rule() const { return rule_; }
  const hydraulic_connection& Connection() const { return connection_; }
  const level_volume_table& LevelVolume() const { return table_; }
  const std::string& ResultPath() const { return result_path_; }
  const balance_value& Term(balance_term term) const { return terms_[term]; }
  int SubSteps() const { return substeps_; }
  // Number of volumes the running average keeps.
  int RunningAverageLength() const;

  // State, set directly by the data assimilation and the state file.
  double volume = 0.0;                 // m3
  double level = 0.0;                  // m a.s.l.
  double area = 0.0;                   // m2
  double outflow = 0.0;                // m3/s
  std::deque<double> running_average;  // volumes (m3) at the starts of the last steps

 private:
  void BuildLevelVolumeTable();
  void WriteResultHeader();
  void LakeFluxes(double seconds);
  double RuleOutflow(const flow_arrays& flows, const std::vector<AL_class*>& draws, double inflow,
                     const model_date& date);
  double ConnectionOutflow(const flow_arrays& flows, const std::vector<AL_class*>& draws, double inflow,
                           const model_date& date);
  // The rule volume: the mean of the running average, or NaN for the volume
  // of each sub-step.
  double AveragedVolume();

  reservoir_context context_;
  reservoir_part part_;
  operating_rule rule_;
  hydraulic_connection connection_;
  bool connected_ = false;
  const reservoir_map* reservoirs_ = nullptr;
  int substeps_ = 0;
  double substep_seconds_ = 0.0;
  bool minute_column_ = false;

  // Lake.
  struct lake_cell {
    int row = 0;
    int col = 0;
    double elevation = 0.0;
  };
  std::vector<lake_cell> cells_;
  level_volume_table table_;
  double cell_area_ = 0.0;  // m2

  balance_value terms_[kBalanceTerms];
  double previous_volume_ = 0.0;
  model_date date_;

  std::string result_path_;
  std::vector<double> rows_;
  int row_capacity_ = 1;
  std::vector<double> withdrawals_;  // scratch per drawing abstraction
};

}  // namespace velmo
