// Variable grids ("[variable_grids]"), their per-step output, and the
// periodic re-reading of standard grids from dated files.
#include "setup/variablegrids.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/controlcopy.h"
#include "setup/defltuzr.h"
#include "setup/derived.h"

namespace velmo {
namespace {

// Values a tracked date component can take within one cycle.
constexpr int kMaxDaysPerMonth = 31;
constexpr int kMonthsPerYear = 12;
// Cycle lengths in minutes.
constexpr int kShortestMonthMinutes = 28 * kMinutesPerDay;
constexpr int kLongestMonthMinutes = kMaxDaysPerMonth * kMinutesPerDay;
constexpr int kShortestYearMinutes = 365 * kMinutesPerDay;
constexpr int kLongestYearMinutes = 366 * kMinutesPerDay;

int CeilDiv(int a, int b) { return (a + b - 1) / b; }

// File name, identifier, fill code and default value ("%s%s%d%lf").
bool ReadVariableGridLine(std::FILE* file, std::string& file_name, std::string& identifier, int& fill_code,
                          double& default_value) {
  return ReadToken(file, file_name) && ReadToken(file, identifier) && ScanWholeValue(file, fill_code) == 1 &&
         ScanWholeValue(file, default_value) == 1;
}

// `value` inside the catchment (zone value above nodata), nodata elsewhere.
void FillInsideCatchment(double** grid, double** zones, int nrows, int ncols, double nodata, double value) {
  for (int r = 1; r <= nrows; ++r) {
    const double* zone_row = zones[r];
    double* row = grid[r];
    for (int c = 1; c <= ncols; ++c) row[c] = zone_row[c] > nodata ? value : nodata;
  }
}

}  // namespace

// ---- pure pieces

tracked_component TrackedComponent(const std::string& unit_word) {
  if (unit_word.find('H') != std::string::npos) return tracked_component::minute;
  if (unit_word.find('D') != std::string::npos) return tracked_component::hour;
  if (unit_word.find('M') != std::string::npos) return tracked_component::day;
  if (unit_word.find('Y') != std::string::npos) return tracked_component::month;
  return tracked_component::none;
}

int TrackedValue(tracked_component component, const model_date& date) {
  switch (component) {
    case tracked_component::minute:
      return date.minute;
    case tracked_component::hour:
      return date.hour;
    case tracked_component::day:
      return date.day;
    case tracked_component::month:
      return date.month;
    case tracked_component::none:
      break;
  }
  return 0;
}

void CountPeriodStep(int value, int& last_unit_value, int& elapsed_units, int& elapsed_periods) {
  if (value > last_unit_value) {
    ++elapsed_units;
  } else if (value < last_unit_value) {
    ++elapsed_periods;
    elapsed_units = 1;
  }
  last_unit_value = value;
}

std::string DatedFileName(const std::string& file_name, const model_date& date) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d%02d", date.year, date.month, date.day, date.hour);
  return file_name + stamp;
}

period_feasibility CheckPeriodFeasibility(tracked_component component, int period_length, int period_offset,
                                          int step_minutes) {
  // Units are counted from 1 in every cycle, so an offset below 1 is never
  // met; nor is one beyond the values the component can take.
  int max_values = 0;
  switch (component) {
    case tracked_component::none:
      return period_feasibility::never;
    case tracked_component::minute:
      max_values = kMinutesPerHour;
      break;
    case tracked_component::hour:
      max_values = kHoursPerDay;
      break;
    case tracked_component::day:
      max_values = kMaxDaysPerMonth;
      break;
    case tracked_component::month:
      max_values = kMonthsPerYear;
      break;
  }
  if (period_offset < 1 || period_offset > max_values) return period_feasibility::never;
  if (step_minutes <= 0) return period_feasibility::fires;

  int values_per_cycle = max_values;
  switch (component) {
    case tracked_component::minute:
    case tracked_component::hour: {
      // Fixed cycles: the value moves by the step modulo the cycle.
      const int cycle = component == tracked_component::minute ? kMinutesPerHour : kMinutesPerDay;
      const int advance = step_minutes % cycle;
      if (advance == 0) {
        // The value never changes again: only the first step begins a cycle.
        return period_length == 1 && period_offset == 1 ? period_feasibility::first_step_only
                                                        : period_feasibility::never;
      }
      values_per_cycle = std::min(max_values, CeilDiv(cycle, advance));
      break;
    }
    case tracked_component::day:
      // Months differ in length: steps of four weeks or more cannot be judged.
      if (step_minutes >= kShortestMonthMinutes) return period_feasibility::fires;
      values_per_cycle = std::min(max_values, CeilDiv(kLongestMonthMinutes, step_minutes));
      break;
    case tracked_component::month:
      if (step_minutes >= kShortestYearMinutes) return period_feasibility::fires;
      values_per_cycle = std::min(max_values, CeilDiv(kLongestYearMinutes, step_minutes));
      break;
    case tracked_component::none:
      break;
  }
  return period_offset > values_per_cycle ? period_feasibility::never : period_feasibility::fires;
}

long long MinutesBetween(const model_date& from, const model_date& to) {
  using namespace std::chrono;
  auto minutes_of = [](const model_date& d) {
    const sys_days first_of_month =
        year_month_day{year{d.year}, month{static_cast<unsigned>(d.month)}, day{1}};
    return (first_of_month.time_since_epoch().count() + d.day - 1) * 1440LL + d.hour * 60LL + d.minute;
  };
  auto valid = [](const model_date& d) { return d.month >= 1 && d.month <= kMonthsPerYear; };
  if (!valid(from) || !valid(to)) return 0;
  return minutes_of(to) - minutes_of(from);
}

void RestoreRowRanges(double** target, double** source, const row_range* rows, int first_row, int last_row,
                      int ncols) {
  for (int r = first_row; r <= last_row; ++r) {
    const int first = rows ? std::max(rows[r].first, 1) : 1;
    const int last = rows ? std::min(rows[r].last, ncols) : ncols;
    if (first > last) continue;
    std::copy(source[r] + first, source[r] + last + 1, target[r] + first);
  }
}

// ---- the set-up object's operations

void defaultini::ReadVariableGrids() {
  variable_grid_count = 0;
  first_variable_grid = 0;
  variable_grid_readcodes.clear();

  ControlFileCopy copy(*this);
  std::FILE* file = copy.file();
  FindSection(kVariableGridsSection, true);
  std::string rest;
  int count = 0;
  ReadValue(file, count, " number of variable grids ", rest);
  if (count <= 0) return;

  const int first = FreeEntryOrRaise(grids, messages, "FATAL: no free grid found in memory (an Position ",
                                     ")\n", kNoFreeGridCode);
  double** zones = (*grids)[1].data;
  for (int i = 1; i <= count; ++i) {
    std::string file_name, identifier;
    int fill_code = 0;
    double default_value = 0.0;
    if (!ReadVariableGridLine(file, file_name, identifier, fill_code, default_value)) {
      RaiseControlFileError(
          "\nfile for vargrid " + std::to_string(i) +
              " or the identifier or the fillcode or the defaultvalue (which is new in version "
              "7.7) in ",
          name);
    }
    ReadRestOfLine(file, rest);
    int write_code = 0;
    int read_code = 0;
    ReadValue(file, write_code, "Writegrid for a variable grid ", rest);
    ReadValue(file, read_code, "Readgrid for a variable grid ", rest);

    const int index = first + i - 1;
    RegisterGrid(index, file_name, nullptr, nullptr, 0, identifier, write_code, 1, nrows);
    double** data = nullptr;
    if (read_code == kReadVariableGridFile) {
      ReadGrid(file_name, data, fill_code, true, true, kVariableGridFillValue, true, true, 0, true,
               ContentOfGrid(identifier));
      input_grids.emplace_back(data);
    } else {
      data = matrix(1, nrows, 1, ncols, 0);
      input_grids.emplace_back(data);
      FillInsideCatchment(data, zones, nrows, ncols, nodata_value, default_value);
    }
    (*grids)[index].data = data;
    variable_grid_readcodes.push_back(read_code);
    if (identifier == kSoilStorageName) soil_storage_grid = data;
    if (i == 1) first_variable_grid = index;
    variable_grid_count = i;
  }
  copy.Close();  // read only: nothing is lost when closing fails
  grid_count += count;
}

void defaultini::WriteVariableGrids(int minute, int hour, int day, int month, int year) {
  current_date = model_date{minute, hour, day, month, year};
  for (int i = 0; i < variable_grid_count; ++i) WriteGridOutput(first_variable_grid + i, 1, false);
}

void defaultini::ListPeriodicGrids() {
  periodic_reread_plan& plan = periodic_plan;
  plan.listed = true;
  plan.grids.clear();
  double** landuse = landuse_layer_grids.empty() ? nullptr : landuse_layer_grids[0];
  const int soil = FindGrid(kSoilTypesName, true);
  const int last = std::min(grid_count + 2, kGridTableLimit - 1);
  for (int i = 3; i <= last; ++i) {
    const grid_entry& entry = (*grids)[i];
    if (entry.period_length <= 0) continue;
    periodic_grid grid;
    grid.index = i;
    grid.component = TrackedComponent(entry.period_unit);
    // The set-up replaced the codes of these two grids by table positions.
    if (landuse && entry.data == landuse) {
      grid.kind = periodic_grid_kind::landuse;
    } else if (i == soil && !soil_table.empty()) {
      grid.kind = periodic_grid_kind::soil;
    }
    plan.grids.push_back(grid);
  }
}

void defaultini::CheckPeriodsAgainstTimeStep(const model_date& date) {
  periodic_reread_plan& plan = periodic_plan;
  if (plan.checked) return;
  int step = time_step;
  if (step <= 0) {
    // Without a configured time step, the first two steps of the run show it.
    if (plan.steps_seen++ == 0) {
      plan.first_step_date = date;
      return;
    }
    step = static_cast<int>(MinutesBetween(plan.first_step_date, date));
  }
  plan.checked = true;
  if (step <= 0) return;

  for (const periodic_grid& grid : plan.grids) {
    const grid_entry& entry = (*grids)[grid.index];
    const period_feasibility feasibility =
        CheckPeriodFeasibility(grid.component, entry.period_length, entry.period_offset, step);
    if (feasibility == period_feasibility::fires) continue;
    *messages << "WARNING: standard grid " << entry.name << " (" << entry.file_name << ") is "
              << (feasibility == period_feasibility::never ? "never re-read"
                                                           : "re-read at the first step only")
              << ": its periodicity " << entry.period_length << " " << entry.period_unit << " "
              << entry.period_offset;
    if (grid.component == tracked_component::none) {
      *messages << " has a unit holding none of the capitals H, D, M and Y";
    } else {
      *messages << " can never fire" << (feasibility == period_feasibility::never ? "" : " again")
                << " with a time step of " << step << " minutes";
    }
    *messages << "[end-entry]";
  }
}

void defaultini::RebindPeriodicGrid(const periodic_grid& grid, const std::string& source_file) {
  if (grid.kind == periodic_grid_kind::plain) return;
  const bool landuse = grid.kind == periodic_grid_kind::landuse;
  ReplaceCodesByPositions(grid.index, !landuse, source_file, false);

  // Without a multilayer table the land-use grid is itself the grid of its
  // only layer.
  if (!landuse || multilayer_table.empty()) return;
  double** codes = (*grids)[grid.index].data;
  for (int l = 1; l <= landuse_layer_count && l < static_cast<int>(landuse_layer_grids.size()); ++l) {
    double** layer = landuse_layer_grids[static_cast<size_t>(l)];
    if (!layer || layer == codes) continue;
    FillLanduseLayerGrid(layer, codes, l, true);
  }
}

void defaultini::ReadPeriodicGrids(int minute, int hour, int day, int month, int year, int /*interval*/) {
  if (!periodic_plan.listed) ListPeriodicGrids();
  if (periodic_plan.grids.empty()) return;
  const model_date date{minute, hour, day, month, year};
  CheckPeriodsAgainstTimeStep(date);

  for (const periodic_grid& grid : periodic_plan.grids) {
    grid_entry& entry = (*grids)[grid.index];
    if (grid.component != tracked_component::none) {
      CountPeriodStep(TrackedValue(grid.component, date), entry.last_unit_value, entry.elapsed_units,
                      entry.elapsed_periods);
    }
    if (PeriodDue(entry.elapsed_periods, entry.elapsed_units, entry.period_length, entry.period_offset)) {
      entry.dated_file_name = DatedFileName(entry.file_name, date);
      // The land-use grid may have been renamed to its layer's name by now.
      const grid_content content =
          grid.kind == periodic_grid_kind::plain ? ContentOfGrid(entry.name) : grid_content::codes;
      ReadGrid(entry.dated_file_name, entry.data, entry.fillcode, false, true, entry.defaultValue, true, true,
               0, true, content);
      RebindPeriodicGrid(grid, entry.dated_file_name);
      entry.elapsed_periods = 0;
      entry.elapsed_units = 0;
      if (!entry.persistent) {
        entry.persistence_count = 0;
        entry.persistence_running = true;
      }
    } else if (entry.persistence_running) {
      ++entry.persistence_count;
      if (entry.persistence_count == entry.persistence_steps) {
        if (entry.persistence_grid) {
          RestoreRowRanges(entry.data, entry.persistence_grid, row_ranges, first_row, last_row, ncols);
          RebindPeriodicGrid(grid, entry.file_name);
        }
        entry.persistence_running = false;
      }
    }
  }
}

}  // namespace velmo
