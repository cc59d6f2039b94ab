// Regional superposition ("[RegionalSuperposition]"): new grids, the
// entities, as sums of existing grids whose weights differ from one
// regression region to the next and blend across region borders.
//
//   [RegionalSuperposition]
//   1       flow control parameter (0: off; then the precipitation
//           correction works on the stations)
//   60      time interval in minutes
//   NumberOfEntities = 1;
//   precipitation {
//     entityinputgrid = rain; regions = 1, 2; weights = 1.0, 1.2;
//     entityinputgrid = snow; regions = 1, 2; weights = 0.5, 0.8;
//     outputgrid = precipitation.asc; writecode = 0;
//     outputtable = precipitation.stat; statcode = 0;
//   }
//
// Every input lists the codes of every region of "regression_regions" in
// ascending order and one weight per code. A cell adds, for each of its
// region layers, the weight of the layer's region times the layer weight
// ("regression_weights1" to "regression_weights3") times the input. The
// output grid is registered under the entity's name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "meteo/computed_cells.h"
#include "meteo/superposition_weights.h"
#include "setup/teilmod.h"

namespace velmo {

class section_reader;

class zonalstatistic;

inline constexpr const char* kSuperpositionModuleName = "RegionalSuperposition";
// Codes of the superposition.
inline constexpr int kEntityCountCode = 133;
inline constexpr int kRegionListCode = 134;
inline constexpr int kWeightListCode = 135;
// Decimals of the entities' statistics tables.
inline constexpr int kSuperpositionStatisticsPrecision = 4;

// One input of an entity as listed.
struct superposition_input {
  std::string grid;
  std::vector<int> regions;     // region codes, ascending
  std::vector<double> weights;  // one per region code
};

// One entity block as read.
struct superposition_block {
  std::string entity;
  std::vector<superposition_input> inputs;
  std::string output_grid;
  int write_code = 0;
  std::string output_table;
  int statistics_code = 0;
};

// The count of "NumberOfEntities = n;" on `line`: the value after the first
// "=" (KeyLineValue). False without the key or when the value is not one
// whole number >= 0.
bool ReadEntityCount(const std::string& line, int& count);

// Reads the block of entity `entity_number` (its lines from the name through
// the closing "}"). A keyword or value that is missing, no whole number or
// out of order is a control-file error (17) naming the keyword and the
// entity; a region code that is no whole number gives 134, a weight that is
// no number 135. Each is written to `messages` before its code is thrown.
superposition_block ParseSuperpositionBlock(const std::string& text, int entity_number,
                                            MessageStream* messages);

// Entries (without their level) of an input whose region list does not fit
// the region grid (134) and whose weights do not fit its regions (135).
std::string RegionListEntry(const std::string& entity, const std::string& grid,
                            const region_list_fault& fault, int listed_count, int region_count);
std::string WeightCountEntry(const std::string& entity, const std::string& grid, int region_count,
                             int weight_count);

class RegionalSuperposition;

// One entity: its output grid, computed every step, and its statistics table.
class cSuperposition {
 public:
  // Reads the block, looks up the inputs and the region layers, registers
  // the output grid in the first free entry and writes the statistics
  // header. Failures write their entry and throw their code.
  cSuperposition(RegionalSuperposition& owner, const std::string& block_text, int entity_number);
  virtual ~cSuperposition();
  cSuperposition(const cSuperposition&) = delete;
  cSuperposition& operator=(const cSuperposition&) = delete;

  // Computes the output grid on the computed cells.
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  // Writes the grid as its write code asks and ends the statistics step.
  virtual void WriteOutputs();
  virtual void FlushBuffers();
  // Frees the output grid and its table entry and the statistics table.
  virtual void CleanUp();

  const superposition_block& Block() const { return block; }
  int OutputEntry() const { return output_entry; }
  double** OutputGrid() const { return output.get(); }

 private:
  void LookUpInputs();
  void RegisterOutputGrid();
  void CreateStatistics();
  void LookUpRegionLayers();
  void PrepareCells();
  void ReleaseEntry();

  RegionalSuperposition& owner;
  superposition_block block;
  model_date date;
  std::vector<double**> input_data;  // per input
  std::vector<int> input_entries;
  owned_matrix output;
  int output_entry = 0;
  std::vector<zone_record> zone_accumulators;  // 0..zone count
  std::unique_ptr<zonalstatistic> statistics;
  // Region layers in use (1..3): grids "regression_regions<l>" and
  // "regression_weights<l>".
  int layer_count = 0;
  double** layer_regions[kMaxRegionLayers] = {};
  double** layer_weights[kMaxRegionLayers] = {};

  // What the run does not change, fixed at construction: the computed cells
  // as runs along the rows, each cell's zone index, and per input each
  // cell's weight over its region layers.
  std::vector<cell_run> runs;
  std::vector<int> cell_zones;
  std::vector<std::vector<double>> input_weights;  // [input][cell]
  std::vector<const double*> row_values;           // per input, for a run
  std::vector<const double*> run_weights;
};

class RegionalSuperposition : public teilmodellklasse {
 public:
  // Reads the section head and, when on, "NumberOfEntities" and the entity
  // blocks. Catches nothing: a failure's code leaves the constructor.
  RegionalSuperposition(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);

  // Stores the date; when on, every entity computes its grid.
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  virtual void WriteOutputs();
  virtual void FlushBuffers();
  void CleanUp() override;

  int entity_count = 0;
  std::vector<std::unique_ptr<cSuperposition>> entities;  // in block order

 private:
  void ReadEntities(section_reader& in);
};

}  // namespace velmo
