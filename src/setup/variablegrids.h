// Variable grids ("[variable_grids]") and the periodic re-reading of standard
// grids from dated files: the pure pieces. The file and grid-table work is
// done by defaultini (setup/variablegrids.cpp).
//
// "[variable_grids]" holds the number of grids n, then three lines per grid:
//   <file> <identifier> <fillcode> <defaultvalue>   [comment]
//   <writecode>                                     [comment]
//   <readcode>                                      [comment]
// Read code 1 reads the file; any other read code creates the grid with the
// default value inside the catchment.
//
// A standard grid with "periodicity = <count> <unit> <offset>" is replaced
// from "<file>_YYYYMMDDHH" when <count> cycles of the unit have begun and the
// tracked date component has taken <offset> values in the current cycle. The
// unit word is searched for the capitals H, D, M, Y in this order:
//   H: hourly cycles, tracks the minute     D: daily cycles, tracks the hour
//   M: monthly cycles, tracks the day       Y: yearly cycles, tracks the month
// A word with none of them is never re-read.
#pragma once

#include <string>
#include <vector>

#include "framework/types.h"

namespace velmo {

inline constexpr const char* kVariableGridsSection = "[variable_grids]";
// Identifier of the variable grid that the vegetation update needs.
inline constexpr const char* kSoilStorageName = "soil_storage";
// Read code of a variable grid that is read from its file.
inline constexpr int kReadVariableGridFile = 1;
// Fill value of the holes of a variable grid read from its file.
inline constexpr double kVariableGridFillValue = 0.0;

// Date component a periodic grid counts, chosen by its unit word.
enum class tracked_component { none, minute, hour, day, month };

tracked_component TrackedComponent(const std::string& unit_word);
// The value of `component` in `date` (0 for none).
int TrackedValue(tracked_component component, const model_date& date);

// Counts one step whose tracked value is `value`: a larger value than the
// last one is one more unit of the current cycle, a smaller one (a new day,
// month or year, and the first step) begins a new cycle at unit 1.
void CountPeriodStep(int value, int& last_unit_value, int& elapsed_units, int& elapsed_periods);
// True when the re-read of a grid falls due.
constexpr bool PeriodDue(int elapsed_periods, int elapsed_units, int period_length, int period_offset) {
  return elapsed_periods == period_length && elapsed_units == period_offset;
}

// "<file_name>_YYYYMMDDHH", the name of the dated file of `date`.
std::string DatedFileName(const std::string& file_name, const model_date& date);

// Whether a periodicity can fire with a time step of `step_minutes` minutes.
enum class period_feasibility {
  fires,            // can fire (or cannot be judged from the step alone)
  first_step_only,  // the tracked value never changes: due at the first step only
  never,
};
period_feasibility CheckPeriodFeasibility(tracked_component component, int period_length, int period_offset,
                                          int step_minutes);

// Calendar minutes from `from` to `to`; 0 when a month lies outside 1..12.
long long MinutesBetween(const model_date& from, const model_date& to);

// Copies `source` into `target` for the valid columns of rows first..last
// (`rows` indexed by row; null: columns 1..ncols of every row).
void RestoreRowRanges(double** target, double** source, const row_range* rows, int first_row, int last_row,
                      int ncols);

// What changes with a re-read or restored grid beyond its own cells.
enum class periodic_grid_kind { plain, landuse, soil };

struct periodic_grid {
  int index = 0;  // grid-table entry
  tracked_component component = tracked_component::none;
  periodic_grid_kind kind = periodic_grid_kind::plain;
};

// The periodic grids of a run, found once at its first step, and what the
// check of their periods against the run's time step needs.
struct periodic_reread_plan {
  bool listed = false;
  std::vector<periodic_grid> grids;
  bool checked = false;  // the periods have been checked against the time step
  int steps_seen = 0;
  model_date first_step_date;
};

}  // namespace velmo
