// Regional superposition: the section with its entities, and each entity's
// output grid, computed per step from its inputs and the region layers.
#include "meteo/superposition.h"

#include <algorithm>
#include <new>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/texthelpers.h"
#include "framework/zonalstat.h"
#include "setup/regions.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr const char* kMpiRegionsName = "MPIRegions";
constexpr const char* kMpiHelperName = "MPIHelper";
// Region and weight grids of the layers, from the set-up.
constexpr const char* kLayerRegionNames[kMaxRegionLayers] = {kRegionGridName, "regression_regions2",
                                                             "regression_regions3"};
constexpr const char* kLayerWeightNames[kMaxRegionLayers] = {"regression_weights1", "regression_weights2",
                                                             "regression_weights3"};
// Weight of a cell in the zone statistics.
constexpr double kCellWeight = 1.0;
// Last argument of zonalstatistic::EndStep (not used by the writer).
constexpr int kEndStepFlag = 1;
// Number given to RaiseAllocationError for the zone accumulators.
constexpr int kAccumulatorAllocation = 1;

}  // namespace

// ============================================================== entity

cSuperposition::cSuperposition(RegionalSuperposition& owner_object, const std::string& block_text,
                               int entity_number)
    : owner(owner_object) {
  block = ParseSuperpositionBlock(block_text, entity_number, owner.messages);
  if (const int regions = owner.FindGrid(kMpiRegionsName, true); regions > 0)
    owner.mpi_regions_data = (*owner.grids)[regions].data;
  if (const int helper = owner.FindGrid(kMpiHelperName, true); helper > 0)
    owner.mpi_helper_data = (*owner.grids)[helper].data;
  LookUpInputs();
  RegisterOutputGrid();
  CreateStatistics();
  LookUpRegionLayers();
  PrepareCells();
}

cSuperposition::~cSuperposition() {
  // An entity deleted without its clean-up must not leave the table
  // pointing at its grid.
  ReleaseEntry();
}

void cSuperposition::LookUpInputs() {
  const int region_count = owner.region_count;
  for (const superposition_input& input : block.inputs) {
    const int index = owner.FindRequiredGrid(input.grid);
    double** data = (*owner.grids)[index].data;
    if (!data)
      RaiseFatal(owner.messages,
                 "FATAL: the input grid " + input.grid + " of " + kSuperpositionModuleName + " entity " +
                     block.entity + " holds no data",
                 kMissingGridCode);
    const region_list_fault fault =
        CheckRegionList(input.regions, region_count, owner.region_code_map, owner.max_region_code);
    if (fault.kind != region_list_fault::kNone)
      RaiseFatal(owner.messages,
                 "FATAL: " + RegionListEntry(block.entity, input.grid, fault,
                                             static_cast<int>(input.regions.size()), region_count),
                 kRegionListCode);
    if (input.weights.size() != input.regions.size())
      RaiseFatal(
          owner.messages,
          "FATAL: " + WeightCountEntry(block.entity, input.grid, static_cast<int>(input.regions.size()),
                                       static_cast<int>(input.weights.size())),
          kWeightListCode);
    (*owner.grids)[index].read_in_steps = true;
    input_entries.push_back(index);
    input_data.push_back(data);
  }
}

void cSuperposition::RegisterOutputGrid() {
  // A later look-up of the entity's name would find the older grid.
  if (owner.FindGrid(block.entity, true) > 0)
    RaiseFatal(owner.messages,
               "FATAL: " + std::string(kSuperpositionModuleName) + " entity " + block.entity +
                   " has the name of a grid that exists already; its output grid would never be found "
                   "under that name. Please give the entity another name.",
               kNoFreeGridCode);
  const int entry = owner.grids->FirstFreeEntry();
  if (entry >= kGridTableLimit)
    RaiseFatal(
        owner.messages,
        "FATAL: no free grid anymore, allowed number of grids is " + std::to_string(kGridTableLimit) + "!",
        kNoFreeGridCode);
  const int first = owner.first_row;
  const int last = owner.last_row;
  const int columns = owner.ncols;
  output = owned_matrix(owner.matrix(first, last, 1, columns, 0));
  owner.RegisterGrid(entry, block.output_grid, output.get(), nullptr, 0, block.entity, block.write_code,
                     first, last);
  output_entry = entry;
  const double nodata = owner.nodata_value;
  double** zones = owner.zone_grid;
  for (int r = first; r <= last; ++r)
    for (int c = 1; c <= columns; ++c) output[r][c] = zones[r][c] == nodata ? nodata : 0.0;
}

void cSuperposition::CreateStatistics() {
  try {
    zone_accumulators.assign(static_cast<std::size_t>(std::max(owner.zone_count, 0)) + 1, zone_record{});
  } catch (const std::bad_alloc&) {
    owner.RaiseAllocationError(kAccumulatorAllocation);
  }
  if (owner.zone_table) {
    for (std::size_t k = 0; k < zone_accumulators.size(); ++k) {
      zone_accumulators[k] = owner.zone_table[k];
      zone_accumulators[k].weight_sum = 0.0;
      zone_accumulators[k].value_sum = 0.0;
    }
  }
  std::string file_name = block.output_table;
  const bool listed = owner.output_list_count > 0 && !owner.output_list.empty();
  const bool with_minutes = owner.time_interval < kMinutesPerHour;
  int error = 0;
  statistics = std::make_unique<zonalstatistic>(
      error, owner.messages, owner.nodata_value, owner.cell_weights, owner.nrows, owner.ncols,
      zone_accumulators.data(), owner.zone_count, block.statistics_code, kSuperpositionStatisticsPrecision,
      file_name, owner.DefaultOutputDirectory.get(), listed ? owner.output_list_count : 0,
      listed ? owner.output_list.data() : nullptr, with_minutes);
  if (error != 0) throw ErrorCode{error};
  statistics->WriteHeader(block.entity, kSuperpositionModuleName);
}

void cSuperposition::LookUpRegionLayers() {
  layer_count = std::min(owner.region_count, kMaxRegionLayers);
  for (int l = 0; l < layer_count; ++l) {
    layer_regions[l] = owner.RequiredGridData(kLayerRegionNames[l]);
    layer_weights[l] = owner.RequiredGridData(kLayerWeightNames[l]);
  }
}

void cSuperposition::PrepareCells() {
  double** zones = owner.zone_grid;
  runs = ComputedCellRuns(zones, owner.mpi_regions_data, owner.nodata_value, owner.row_ranges,
                          owner.first_row, owner.last_row, owner.ncols);
  const int offset = runs.empty() ? 0 : runs.back().offset + runs.back().count;
  const std::size_t cells = static_cast<std::size_t>(offset);
  const std::size_t inputs = block.inputs.size();
  std::vector<std::vector<double>> by_rank;
  for (const superposition_input& input : block.inputs) by_rank.push_back(WeightsByRank(input.weights));
  try {
    cell_zones.assign(cells, 0);
    input_weights.assign(inputs, std::vector<double>(cells, 0.0));
  } catch (const std::bad_alloc&) {
    owner.RaiseAllocationError(kAccumulatorAllocation);
  }
  const int* zone_map = owner.zone_code_map;
  for (const cell_run& run : runs) {
    for (int k = 0; k < run.count; ++k) {
      const int c = run.first_col + k;
      const std::size_t cell = static_cast<std::size_t>(run.offset + k);
      const double zone = zones[run.row][c];
      if (zone_map && zone >= 0.0 && zone < owner.max_zone_code + 1.0)
        cell_zones[cell] = zone_map[static_cast<int>(zone)];
      int ranks[kMaxRegionLayers] = {};
      double weights[kMaxRegionLayers] = {};
      for (int l = 0; l < layer_count; ++l) {
        ranks[l] = RegionRank(layer_regions[l][run.row][c], owner.region_code_map, owner.max_region_code);
        weights[l] = layer_weights[l][run.row][c];
      }
      for (std::size_t g = 0; g < inputs; ++g)
        input_weights[g][cell] = CellInputWeight(by_rank[g].data(), ranks, weights, layer_count);
    }
  }
  row_values.assign(inputs, nullptr);
  run_weights.assign(inputs, nullptr);
}

void cSuperposition::RunTimeStep(int minute, int hour, int day, int month, int year) {
  date = model_date{minute, hour, day, month, year};
  if (statistics) statistics->StartStep();
  const int inputs = static_cast<int>(input_data.size());
  const double nodata = owner.nodata_value;
  for (const cell_run& run : runs) {
    for (int g = 0; g < inputs; ++g) {
      row_values[static_cast<std::size_t>(g)] =
          input_data[static_cast<std::size_t>(g)][run.row] + run.first_col;
      run_weights[static_cast<std::size_t>(g)] =
          input_weights[static_cast<std::size_t>(g)].data() + run.offset;
    }
    SuperposeCells(row_values.data(), run_weights.data(), inputs, run.count, nodata,
                   output[run.row] + run.first_col);
  }
}

void cSuperposition::WriteOutputs() {
  owner.WriteGridOutput(output_entry, 1, false);
  if (!statistics) return;
  if (statistics->IsOn()) {
    for (const cell_run& run : runs) {
      const double* out = output[run.row];
      for (int k = 0; k < run.count; ++k) {
        const int c = run.first_col + k;
        statistics->AddCell(run.row, c, cell_zones[static_cast<std::size_t>(run.offset + k)], out[c],
                            kCellWeight);
      }
    }
  }
  statistics->EndStep(date.year, date.month, date.day, date.hour, date.minute, kEndStepFlag);
}

void cSuperposition::FlushBuffers() {
  if (statistics) statistics->FlushRows();
}

void cSuperposition::ReleaseEntry() {
  if (output_entry > 0 && owner.grids && (*owner.grids)[output_entry].data == output.get())
    owner.ReleaseGrid(output_entry);
  output_entry = 0;
}

void cSuperposition::CleanUp() {
  ReleaseEntry();
  output.reset();
  if (statistics) statistics->CleanUp();
  statistics.reset();
  std::vector<zone_record>().swap(zone_accumulators);
  std::vector<std::vector<double>>().swap(input_weights);
  std::vector<int>().swap(cell_zones);
  runs.clear();
}

// ============================================================== module

RegionalSuperposition::RegionalSuperposition(MessageStream* stream, const model_settings& settings,
                                             grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kSuperpositionModuleName, shared_grids) {
  region_table = settings.region_table;
  region_count = settings.region_count;
  max_region_code = settings.max_region_code;
  region_code_map = settings.region_code_map;
  if (flow_control_parameter == 0) return;
  section_reader in(*this, kReadingOn);
  ReadEntities(in);
  in.Close();
}

void RegionalSuperposition::ReadEntities(section_reader& in) {
  // Regions are ranked by the set-up whenever it runs; without them no cell
  // would have a weight.
  if (!region_code_map || region_count < 1)
    RaiseFatal(messages,
               "FATAL: " + section_buffer +
                   " needs the regression regions of the set-up, but no region has been ranked",
               kRegionListCode);

  std::string line;
  if (!in.FilledLine(line) || !ReadEntityCount(line, entity_count)) {
    *messages << "FATAL: could not read \"NumberOfEntities\" keyword in section [" << name << "]\n\n"
              << "[end-entry]";
    throw ErrorCode{kEntityCountCode};
  }

  for (int k = 1; k <= entity_count; ++k) {
    BraceBlockCollector block;
    if (!in.Block(block))
      RaiseFatal(messages,
                 "FATAL: error in control file, " + section_buffer + ": the section ends before entity " +
                     std::to_string(k) + " of NumberOfEntities = " + std::to_string(entity_count) +
                     " is complete",
                 kControlFileErrorCode);
    entities.push_back(std::make_unique<cSuperposition>(*this, block.text(), k));
  }
  // An entity beyond the count would never be read.
  if (in.LaterLine(HoldsBlock, line)) {
    *messages << "FATAL: more entities than the count (NumberOfEntities = " << entity_count << "): \"" << line
              << "\" follows the last entity in " << section_buffer << "[end-entry]";
    throw ErrorCode{kEntityCountCode};
  }
}

void RegionalSuperposition::RunTimeStep(int minute, int hour, int day, int month, int year) {
  current_date = model_date{minute, hour, day, month, year};
  if (flow_control_parameter == 0) return;
  for (auto& entity : entities) entity->RunTimeStep(minute, hour, day, month, year);
}

void RegionalSuperposition::WriteOutputs() {
  if (flow_control_parameter == 0) return;
  for (auto& entity : entities) entity->WriteOutputs();
}

void RegionalSuperposition::FlushBuffers() {
  if (flow_control_parameter == 0) return;
  for (auto& entity : entities) entity->FlushBuffers();
}

void RegionalSuperposition::CleanUp() {
  if (flow_control_parameter != 0) {
    for (auto& entity : entities) entity->CleanUp();
    entities.clear();
  }
  modelobject::CleanUp();
}

}  // namespace velmo
