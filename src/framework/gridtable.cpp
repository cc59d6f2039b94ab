// The grid table: entries, look-ups, registration and release.
#include "framework/gridtable.h"

#include <iterator>
#include <new>

#include "framework/diagnostics.h"
#include "framework/memory.h"
#include "framework/modelobject.h"

namespace velmo {
namespace {

// Allocation error number of a registration that cannot copy its texts.
constexpr int kRegistrationAllocationNumber = 1;

// The accumulators an entry can own, with the file-name copy of each.
struct accumulator_slot {
  double** grid_entry::*grid;
  std::string grid_entry::*file_name;
};
constexpr accumulator_slot kAccumulators[] = {
    {&grid_entry::sum_grid, &grid_entry::sum_file_name},
    {&grid_entry::min_grid, &grid_entry::min_file_name},
    {&grid_entry::max_grid, &grid_entry::max_file_name},
    {&grid_entry::vegetation_grid, &grid_entry::vegetation_file_name},
};

// Frees every accumulator the entry holds with the period value counts, and
// clears its file-name copy.
void FreeAccumulators(memory_handling& memory, grid_entry& entry) {
  for (const accumulator_slot& slot : kAccumulators) {
    double**& grid = entry.*slot.grid;
    memory.FreeMatrix(grid);
    grid = nullptr;
    (entry.*slot.file_name).clear();
  }
  std::vector<int>().swap(entry.period_value_counts);
  entry.period_cells = 0;
  entry.period_steps = 0;
}

// Index of `grid_name` among entries 1..999, searched up to the first free
// entry and past released ones; 0 when absent. Shared by the look-ups that
// do not look at data.
int FindInUseEntry(const grid_table* grids, const std::string& grid_name) {
  if (!grids) return 0;
  for (int index = 1; index < kGridTableLimit; ++index) {
    const grid_entry& entry = (*grids)[index];
    if (!entry.in_use()) return 0;
    if (!entry.released && entry.name == grid_name) return index;
  }
  return 0;
}

// "a, b or c": the names of a failed multiple look-up.
std::string ListAlternatives(const std::vector<std::string>& names) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += (i + 1 == names.size()) ? " or " : ", ";
    list += names[i];
  }
  return list;
}

// The period files an entry writes, one bit per form of name: each period
// code, the minimum, the maximum, the vegetation-period sum and mean. Two
// entries overwrite each other's files only where their stems and a bit agree.
constexpr unsigned kMinimumFile = 1u << 10;
constexpr unsigned kMaximumFile = 1u << 11;
constexpr unsigned kVegetationSumFile = 1u << 12;
constexpr unsigned kVegetationMeanFile = 1u << 13;
constexpr int kVegetationMeanCode = 2;

unsigned PeriodFileKinds(const grid_entry& entry) {
  unsigned kinds = 0;
  // Period codes are one digit; anything else shares bit 0.
  const int code = entry.period_code;
  if (code != 0) kinds |= 1u << (code > 0 && code < 10 ? code : 0);
  if (entry.min_flag != 0) kinds |= kMinimumFile;
  if (entry.max_flag != 0) kinds |= kMaximumFile;
  if (entry.vegetation_code != 0)
    kinds |= entry.vegetation_code == kVegetationMeanCode ? kVegetationMeanFile : kVegetationSumFile;
  return kinds;
}

// The name an entry's period files are named from; empty when it has none.
const std::string& PeriodSource(const grid_entry& entry) {
  for (const accumulator_slot& slot : kAccumulators)
    if (!(entry.*slot.file_name).empty()) return entry.*slot.file_name;
  return entry.sum_file_name;
}

// Another entry whose period files would carry the same names as those named
// from `source` with `kinds`; 0 when there is none.
int PeriodNameOwner(const grid_table& table, int index, const std::string& source, unsigned kinds) {
  const std::string stem = PeriodFileStem(source);
  for (int other = 1; other < kGridTableLimit; ++other) {
    const grid_entry& entry = table[other];
    if (other == index || !entry.in_use() || (PeriodFileKinds(entry) & kinds) == 0) continue;
    const std::string& other_source = PeriodSource(entry);
    if (!other_source.empty() && PeriodFileStem(other_source) == stem) return other;
  }
  return 0;
}

// The table, or the table object itself, cannot be had.
[[noreturn]] void RaiseTableAllocationError(MessageStream* messages) {
  RaiseMemoryError(messages, "ModellApplication",
                   "grid table of " + std::to_string(kGridTableSize) + " entries");
}

}  // namespace

void grid_entry::SetInitialState() {
  *this = grid_entry{};
  layer_count = 1;
  step_count = 1.0;
  period_length = -1;
  elapsed_periods = -1;
  persistent = true;
  readcode = 1;
  defaultValue = 0.0;
}

void SplitWriteCode(int write_code, grid_entry& entry) {
  const int code = write_code % 10000;  // digits above the fourth do not count
  entry.write_code = code % 10;
  entry.period_code = (code / 10) % 10;
  const int extremes = (code / 100) % 10;
  entry.min_flag = (extremes == 1 || extremes == 3) ? 1 : 0;
  entry.max_flag = (extremes == 2 || extremes == 3) ? 1 : 0;
  entry.vegetation_code = code / 1000;
}

grid_table::grid_table(MessageStream* messages) {
  try {
    entries.resize(kGridTableSize);
  } catch (const std::bad_alloc&) {
    RaiseTableAllocationError(messages);
  }
  for (int index = 1; index < kGridTableSize; ++index) entries[static_cast<size_t>(index)].SetInitialState();
}

grid_table::~grid_table() {
  // Accumulators left by owners that never released their entries.
  memory_handling memory;
  for (grid_entry& entry : entries) FreeAccumulators(memory, entry);
}

std::unique_ptr<grid_table> grid_table::Create(MessageStream* messages) {
  try {
    return std::make_unique<grid_table>(messages);
  } catch (const std::bad_alloc&) {
    RaiseTableAllocationError(messages);
  }
}

bool grid_entry::ReleasableAfterSetup() const {
  const bool output = write_code != 0 || period_code != 0 || min_flag != 0 || max_flag != 0 ||
                      vegetation_code != 0 || !statfile.empty() || statistics != nullptr;
  const bool reread = period_length > 0 || !persistent || persistence_grid != nullptr;
  return in_use() && data != nullptr && !released && !read_in_steps && !output && !reread;
}

void grid_table::MarkReleased(int index) {
  grid_entry& entry = (*this)[index];
  entry.data = nullptr;
  entry.layers = nullptr;
  entry.released = true;
}

int grid_table::FirstFreeEntry() const {
  for (int index = 1; index < kGridTableLimit; ++index) {
    if (!(*this)[index].in_use()) return index;
  }
  return kGridTableLimit;
}

int modelobject::FindGrid(const std::string& grid_name, bool look_past_empty) {
  if (!grids) return 0;
  // Entry 1 (the zone grid) is matched even before its data are read.
  const grid_entry& first = (*grids)[1];
  if (!first.in_use()) return 0;
  if (first.name == grid_name) return 1;
  for (int index = 2; index < kGridTableLimit; ++index) {
    const grid_entry& entry = (*grids)[index];
    // A released entry is passed over, not an end of the search.
    if (entry.released) continue;
    if (!entry.data && !look_past_empty) return 0;
    if (!entry.in_use()) return 0;
    if (entry.name == grid_name) return index;
  }
  return 0;
}

int modelobject::FindRequiredGrid(const std::string& grid_name) {
  const int index = FindInUseEntry(grids, grid_name);
  if (index > 0) return index;
  if (messages) {
    *messages << "FATAL: \n---------------- !!! ERROR !!!  --------------------------\n"
              << grid_name << " not found in memory,\nThese data are needed within " << name
              << " \nif they are interpolated data, please specify an interpolator for\n"
              << grid_name
              << " in the control file or read it in as a standardfile,\n"
                 "-----------------------------------------------------------\n"
              << "[end-entry]";
  }
  throw ErrorCode{kMissingGridCode};
}

double** modelobject::RequiredGridData(const std::string& grid_name) {
  return (*grids)[FindRequiredGrid(grid_name)].data;
}

double** modelobject::OptionalGridData(const std::string& grid_name, bool look_past_empty) {
  const int index = FindGrid(grid_name, look_past_empty);
  return index > 0 ? (*grids)[index].data : nullptr;
}

namespace {

// Index of the first name (in the given order) that the table holds; none
// present is fatal.
int FindFirstPresent(const grid_table* grids, const std::vector<std::string>& names, MessageStream* messages,
                     const std::string& module_name) {
  for (const std::string& candidate : names) {
    const int index = FindInUseEntry(grids, candidate);
    if (index > 0) return index;
  }
  if (messages) {
    const std::string list = ListAlternatives(names);
    *messages << "FATAL: \n---------------- !!! ERROR !!!  ------------------------------------\n"
              << "Wether " << list << " \nwhere found in memory,\n"
              << "One of these data sets has to be present within " << module_name << " \n"
              << "If the data are to be interpolated, please specify an interpolatior for\n"
              << list << " in the control file,\n"
              << "or read it as a standard grid \n"
              << "-----------------------------------------------------------------------\n"
              << "[end-entry]";
  }
  throw ErrorCode{kMissingGridCode};
}

}  // namespace

int modelobject::FindOneOfThreeGrids(const std::string& name1, const std::string& name2,
                                     const std::string& name3) {
  return FindFirstPresent(grids, {name1, name2, name3}, messages, name);
}

int modelobject::FindOneOfFourGrids(const std::string& name1, const std::string& name2,
                                    const std::string& name3, const std::string& name4) {
  return FindFirstPresent(grids, {name1, name2, name3, name4}, messages, name);
}

void modelobject::RegisterGrid(int index, const std::string& file_name, double** data, double*** layers,
                               int layer_count, const std::string& grid_name, int write_code, int row_lo,
                               int row_hi) {
  // Index 0 is never used and nothing lies beyond 1000: both are refused
  // like the reserved entry 1000 rather than written out of place.
  if (!grids || index < 1 || index >= kGridTableLimit) {
    if (messages)
      *messages << "FATAL: no free grid in memory,(max. " << kGridTableLimit << ")!"
                << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  grid_entry& entry = (*grids)[index];
  // A second registration into the same entry must not leak the
  // accumulators of the first.
  FreeAccumulators(*this, entry);
  try {
    entry.file_name = file_name;
    if (entry.outname.empty()) {
      entry.outname = entry.file_name;
      entry.outname_owned = 1;
    }
    entry.name = grid_name;
  } catch (const std::bad_alloc&) {
    RaiseAllocationError(kRegistrationAllocationNumber);
  }
  entry.data = data;
  entry.layers = layers;
  entry.layer_count = layer_count;
  entry.released = false;
  SplitWriteCode(write_code, entry);
  entry.first_row = row_lo;
  entry.last_row = row_hi;
  entry.step_count = 0.0;
  entry.extremes_started = 0;

  const bool wanted[] = {entry.period_code != 0, entry.min_flag != 0, entry.max_flag != 0,
                         entry.vegetation_code != 0};
  const std::string& period_source = PeriodFileSource(index);
  for (size_t i = 0; i < std::size(kAccumulators); ++i) {
    if (!wanted[i]) continue;
    entry.*kAccumulators[i].grid = matrix(row_lo, row_hi, 1, ncols, 0);
    try {
      entry.*kAccumulators[i].file_name = period_source;
    } catch (const std::bad_alloc&) {
      RaiseAllocationError(kRegistrationAllocationNumber);
    }
  }
}

const std::string& modelobject::PeriodFileSource(int index) {
  const grid_entry& entry = (*grids)[index];
  const unsigned kinds = PeriodFileKinds(entry);
  if (kinds == 0) return entry.file_name;
  const int owner = PeriodNameOwner(*grids, index, entry.file_name, kinds);
  if (owner == 0) return entry.file_name;
  // Two grids read from one file: the later one's period files would
  // silently overwrite the earlier one's.
  const grid_entry& earlier = (*grids)[owner];
  if (messages) {
    *messages << "WARNING: grids " << earlier.name << " (entry " << owner << ") and " << entry.name
              << " (entry " << index << ") both name their period files from " << entry.file_name
              << "; those of " << entry.name << " are named from its outname " << entry.outname;
    if (PeriodNameOwner(*grids, index, entry.outname, kinds) != 0)
      *messages << ", which is taken as well: give " << entry.name << " an outname of its own";
    *messages << "[end-entry]";
  }
  return entry.outname;
}

void modelobject::ReleaseGrid(int index) {
  if (!grids || index < 1 || index > kGridTableLimit) return;
  grid_entry& entry = (*grids)[index];
  entry.file_name.clear();
  entry.name.clear();
  entry.write_code = 0;
  entry.layer_count = 0;
  entry.data = nullptr;  // its owner frees it
  entry.layers = nullptr;
  entry.released = false;
  entry.read_in_steps = false;
  entry.step_count = 0.0;
  FreeAccumulators(*this, entry);
  if (entry.outname_owned == 1) {
    entry.outname.clear();
    entry.outname_owned = 0;
  }
}

std::string FileNameWithMarker(const std::string& name, const std::string& marker) {
  const std::size_t separator = name.find_last_of("/\\");
  const std::size_t file_start = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot < file_start) return name + marker;
  return name.substr(0, dot) + marker + name.substr(dot);
}

}  // namespace velmo
