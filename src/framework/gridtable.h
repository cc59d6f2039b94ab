// The one shared table of grids in memory.
//
// Usage:
//   grid_table* grids = ...;              // modelobject::grids
//   double** zone = grids->entries[1].data;   // or (*grids)[1].data
//   if ((*grids)[i].in_use()) ...
//
// Indices run 0..1000; 0 is never used, 1..999 can hold grids, 1000 exists
// but is never returned by a look-up and refuses registration (code 12).
// Entry 1 holds the zone grid, entry 2 the elevation model, then the standard
// grids, the partitioning grids, the variable grids, the set-up object's
// derived grids and the modules' grids, each in the first free entry.
//
// An entry is free while its `name` is empty. Text fields that may be absent
// are empty strings when absent (`outname`, `statfile`, ...).
//
// Released entries: a grid that nothing reads once set-up is over may have
// its data freed by its owner then (`MarkReleased`). The entry keeps its name
// and stays in use, so the entries after it stay reachable and keep their
// places; every look-up by name passes over it as if it were not there, so a
// module asking for it meets the missing-grid FATAL (code 33), never a null
// grid. Objects that read a grid by index in their steps whatever its name
// (special output points, data-assimilation rules, superposition inputs) mark
// it `read_in_steps`, which keeps it.
//
// Ownership: an entry never owns `data`, `layers` or the borrowed vegetation
// grids; their owners free them. The accumulators that registration
// allocates (`sum_grid`, `min_grid`, `max_grid`, `vegetation_grid`) belong
// to the entry: ReleaseGrid frees them, and the table frees any that are
// still held when it is destroyed. `statistics` is a non-owning pointer; the
// set-up object, which creates the statistics writers, deletes them.
// `persistence_grid` belongs to the set-up object that makes it.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "framework/types.h"

namespace velmo {

class MessageStream;
class zonalstatistic;

// Number of entries including the unused entry 0.
inline constexpr int kGridTableSize = 1001;
// First index that can never hold a grid; searches end below it.
inline constexpr int kGridTableLimit = 1000;

// Codes of the grid table.
inline constexpr int kNoFreeGridCode = 12;
inline constexpr int kMissingGridCode = 33;

struct grid_entry {
  double** data = nullptr;  // the grid; not owned
  double** sum_grid = nullptr;
  // The steps the period sum has taken since its period began: the number of
  // values each valid cell took while none took nodata (the divisor of
  // period means).
  int period_steps = 0;
  // Per cell of the output mask, the number of values the period sum has
  // taken (nodata values are not taken): made only once a valid cell meets
  // nodata, else empty.
  std::vector<int> period_value_counts;
  // The mask the period started with (its cell count, 0: no period yet, and
  // its grids); another mask within the period gives each cell its count.
  std::size_t period_cells = 0;
  double** period_zone = nullptr;
  double** period_region = nullptr;
  const row_range* period_ranges = nullptr;
  double** min_grid = nullptr;
  double** max_grid = nullptr;
  double*** layers = nullptr;  // [row][column][layer], layers from 1; not owned
  int layer_count = 0;
  std::string file_name;
  std::string sum_file_name;
  std::string min_file_name;
  std::string max_file_name;
  std::string name;  // empty: the entry is free
  int write_code = 0;
  int period_code = 0;
  int min_flag = 0;
  int max_flag = 0;
  int extremes_started = 0;
  int fillcode = 0;
  double step_count = 0.0;
  int vegetation_code = 0;
  double** vegetation_grid = nullptr;
  std::string vegetation_file_name;
  int vegetation_ended = 0;
  int vegetation_started = 0;
  double** vegetation_start_grid = nullptr;     // borrowed
  double** vegetation_stop_grid = nullptr;      // borrowed
  double** vegetation_duration_grid = nullptr;  // borrowed
  int period_length = 0;
  int elapsed_periods = 0;
  int period_offset = 0;
  int elapsed_units = 0;
  int last_unit_value = 0;
  std::string period_unit;
  std::string dated_file_name;
  bool persistent = false;
  bool persistence_running = false;
  double** persistence_grid = nullptr;
  int persistence_steps = 0;
  int persistence_count = 0;
  double defaultValue = 0.0;
  std::string outname;
  int statcode = 0;
  std::string statfile;  // empty: no statistics
  std::vector<zone_record> zone_accumulators;
  zonalstatistic* statistics = nullptr;  // not owned
  int readcode = 0;
  int outname_owned = 0;
  int same_date_count = 0;
  std::array<int, 5> last_write_date{};  // year, month, day, hour, minute
  int first_row = 0;
  int last_row = 0;
  bool has_latitude_grid = false;   // entry 1 only
  bool has_longitude_grid = false;  // entry 1 only
  int latitude_grid_index = 0;      // entry 1 only
  int longitude_grid_index = 0;     // entry 1 only

  // The data were freed after set-up; see "Released entries" above.
  bool released = false;
  // Read by index in the steps of an object that bound it by a configured
  // name: never released.
  bool read_in_steps = false;

  bool in_use() const { return !name.empty(); }
  // Any output asked of the grid: the grid itself, period sums, extremes or a vegetation period.
  bool HasOutput() const {
    return write_code != 0 || period_code != 0 || min_flag != 0 || max_flag != 0 || vegetation_code != 0;
  }
  // Holds data nothing writes, sums, counts or re-reads after set-up, and no
  // object bound it by a configured name: its owner may release it.
  bool ReleasableAfterSetup() const;
  // Puts the entry into the state of a freshly created table entry.
  void SetInitialState();
};

class grid_table {
 public:
  // Allocates the 1001 entries and sets entries 1..1000 to their initial
  // state. When the memory cannot be had, `messages` receives the FATAL entry
  // and code 1 is thrown.
  explicit grid_table(MessageStream* messages);
  ~grid_table();
  grid_table(const grid_table&) = delete;
  grid_table& operator=(const grid_table&) = delete;

  // The same, for callers that hold the table through a pointer; the
  // allocation of the table object itself is checked as well.
  static std::unique_ptr<grid_table> Create(MessageStream* messages);

  grid_entry& operator[](int index) { return entries[static_cast<size_t>(index)]; }
  const grid_entry& operator[](int index) const { return entries[static_cast<size_t>(index)]; }

  // Lowest index from 1 upward whose entry is free, or kGridTableLimit when
  // entries 1..999 are all in use.
  int FirstFreeEntry() const;

  // The owner of entry `index` has freed its data after set-up: the entry
  // keeps its name and place but no look-up finds it any more.
  void MarkReleased(int index);

  std::vector<grid_entry> entries;  // indices 0..1000
};

// Directory part and base (the file part up to its first ".") of a name:
// what every period file named from it begins with.
std::string PeriodFileStem(const std::string& source_name);

// A file name with `marker` before the last "." of its file part ("et.grd"
// and "_Layer_1" give "et_Layer_1.grd"), or appended when that part has none:
// the name of a file that goes with the one named.
std::string FileNameWithMarker(const std::string& name, const std::string& marker);

// Splits a four-digit write code d4 d3 d2 d1 into the entry's write_code
// (d1), period_code (d2), min_flag/max_flag (d3: 1 min, 2 max, 3 both) and
// vegetation_code (d4); digits above the fourth are ignored.
void SplitWriteCode(int write_code, grid_entry& entry);

}  // namespace velmo
