// The routing model: turns the runoff of the subbasins into discharge at
// their outlets. It reads "[routing_model]" (w-q table settings, statistics
// and observed-discharge files, routing descriptions), builds one routing
// element per description, routes every step through them in description
// order, writes the discharge of every outlet to its statistics table and
// compares it with observed discharge, writing the efficiency block at the
// end of the run. It also fills "PrecOnLakes" with the water falling on lake
// cells when lake modelling is on. Its clean-up writes the routing block of
// the state file, which the next run reads while it links the model, so
// that the channels go on from where they stood.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/routstat.h"
#include "routing/observed.h"
#include "routing/reach.h"
#include "routing/routing_description.h"
#include "setup/teilmod.h"

namespace velmo {

class section_reader;
class SP_class;

inline constexpr const char* kRoutingModuleName = "routing_model";
// Flow control: 0 off, 1 on, 2 on with every channel's substitution of
// observed discharge.
inline constexpr int kHighestRoutingFlowControl = 2;
inline constexpr const char* kLakeSection = "[lake_model]";
inline constexpr const char* kPrecipitationOnLakesGrid = "PrecOnLakes";

// Codes of the routing model.
inline constexpr int kDescriptionReadCode = 38;  // a description cannot be read
inline constexpr int kDescriptionCodeErrorCode = 41;
inline constexpr int kNoRunoffCode = 43;
inline constexpr int kStateFileOpenErrorCode = 64;
// Internal abstractions and inflows.
inline constexpr int kInflowConnectedTwiceCode = 300;
inline constexpr int kSameOutletConnectionCode = 301;
inline constexpr int kUnconnectedInflowCode = 302;
inline constexpr int kUnconnectedAbstractionCode = 303;

class abflussmodellklasse : public teilmodellklasse {
 public:
  // Reads the section and builds every element, the statistics table and
  // the observed-discharge window; throws the code of a failure. With the
  // flow control parameter 0 (or no section) the module stays off.
  abflussmodellklasse(MessageStream* stream, const model_settings& settings, grid_table* shared_grids,
                      const subbasin_zones& subbasins, int storage_read_mode);
  ~abflussmodellklasse() override;

  // Writes the routing block of the state file and the efficiency block
  // (when the model was linked, and for the latter the observed table was
  // opened), the remaining rows and releases everything.
  void CleanUp() override;
  // Keeps the name of the state file (for writing at the end) and, unless
  // the name is empty or the read mode is 0, 2 or 4, reads the routing block
  // of that file in the input directory: "[routing_model_v2]" with the time
  // step of the run that wrote it, else the older "[routing_model]". Codes 64
  // (the file cannot be opened) and 71 (no block, or one that does not fit).
  virtual void ReadStorageFile(const std::string& file_name, int read_mode);
  // Writes the routing block to the kept state file in the output directory,
  // or to "storage.ftz" without a name; the run's first block of that file.
  virtual void WriteStorageFile();
  // Fills the flow arrays and channels from the first runoff, checks the
  // internal inflows and runs the initialisation passes.
  virtual void InitializeRouting();
  // The soil model's runoff matrix (row 0: depth per subbasin, columns
  // 1..zone count); none ends the run with code 43.
  virtual void SetSubbasinRunoff(double** runoff);
  // No export records are handed in this system.
  virtual void SetChannelStateRecords() {}
  virtual void FlushBuffers();
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  virtual void InitLakeModel(const std::string& section);
  virtual void LinkInputGrids(bool interception_first);
  // Appends the reservoirs of every element (none without reservoir parts).
  virtual void CollectReservoirs(std::vector<SP_class*>& reservoirs);
  // "PrecOnLakes" takes the input water of every lake cell.
  void CopyInputOnLakes();

  // Discharge of subbasin `zone` (zone index) in the step just routed, in
  // the output unit (mm per step, or m3/s with unit 1).
  double SimulatedDischarge(int zone) const;

  int ElementCount() const { return static_cast<int>(elements_.size()); }
  const routingclass& Element(int number) const { return *elements_[static_cast<size_t>(number) - 1]; }
  const flow_arrays& Flows() const { return flows_; }
  const area_table& Areas() const { return areas_; }
  const routing_parameters& Parameters() const { return parameters_; }
  int OutputUnit() const { return output_unit_; }
  int InitializationPasses() const { return initialization_passes_; }
  int LakeSwitch() const { return lake_switch_; }
  int SkipInitialization() const { return skip_initialization_; }
  const std::string& StateFileName() const { return state_file_name_; }
  const observed_discharge* Observed() const { return observed_.get(); }
  const comparison_sums& LinearSums() const { return *linear_sums_; }
  const comparison_sums& LogarithmicSums() const { return *log_sums_; }
  const std::vector<int>& ColumnMap() const { return column_map_; }

 private:
  // abfluss_section.cpp: lines 3 to the end of the descriptions, which are
  // parsed and their inflows checked as they are read.
  void ReadSection(section_reader& in);
  void ReadColumnDescriptors(section_reader& in, int count);
  void ReadDescriptions(section_reader& in);
  void LogCounts() const;

  void Construct(const subbasin_zones& subbasins);
  void RegisterPrecipitationOnLakes();
  void BuildElement(int number, const routing_description& d);
  // Refuses (41) a reservoir code or a result file that an earlier
  // reservoir or abstraction has.
  void CheckStorageNames(int number, const routing_description& d);
  // Zone index of a subbasin code, 0 when the code names none.
  int ZoneIndex(int code) const;
  void CheckTributary(int number, const routing_description& d, int channel, int code, bool summed);
  // Construction step 12: rules, maps and initial outflows of the
  // reservoirs, the abstractions' rules.
  void SetUpStorages();
  void LookUpLakeGrids();
  // Ties every internal abstraction to the internal inflow of its number.
  void ConnectAbstractions();
  void OpenStatistics();
  void ReadOutputUnit();
  void CompareWithObserved();
  void WriteStatistics(int minute, int hour, int day, int month, int year);

  routing_parameters parameters_;
  bool observed_substitution_ = false;
  area_table areas_;
  std::vector<int> tributaries_;     // zone indices in description order
  std::vector<int> downstream_;      // per zone index: zone index of its outlet, 0 for none
  std::vector<int> element_number_;  // per zone index: element whose outlet it is, 0 for none
  // Reservoir codes and result file names, with the part that has them.
  std::map<int, std::string> reservoir_owners_;
  std::map<std::string, std::string> result_file_owners_;
  std::vector<int> column_map_;  // per zone index: observed column, 0 for none
  std::vector<std::unique_ptr<routingclass>> elements_;
  reservoir_map reservoir_map_;
  connection_flags connection_flags_;  // per zone index
  lake_grids lake_grids_;
  flow_arrays flows_;
  double** runoff_ = nullptr;  // the soil model's, read only
  int inflow_count_ = 0;

  std::unique_ptr<observed_discharge> observed_;
  std::unique_ptr<comparison_sums> linear_sums_;
  std::unique_ptr<comparison_sums> log_sums_;
  int compared_steps_ = 0;
  std::vector<zone_record> statistics_zones_;  // the statistics table's own copy
  std::unique_ptr<routstatistic> statistics_;
  int output_unit_ = 0;  // 0: mm per step, 1: m3/s
  int initialization_passes_ = 0;

  int lake_switch_ = 0;          // L
  int skip_initialization_ = 0;  // R: no initialisation passes when not 0
  owned_matrix precipitation_on_lakes_;
  int precipitation_on_lakes_index_ = 0;
  double** lake_codes_ = nullptr;
  double** lake_input_ = nullptr;
  double** regions_ = nullptr;
  std::vector<long> lake_cells_;  // per region

  std::string state_file_name_;
  state_file_session* state_files_ = nullptr;  // of the run
};

}  // namespace velmo
