// Per-step output of grid-table entries: the grid itself at the times its
// write code asks for, the period sum or mean, the run minimum and maximum and
// the vegetation-period accumulator, each written when its period ends.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "framework/column_runs.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/output_cells.h"

namespace velmo {
namespace {

constexpr int kLastMonth = 12;
constexpr int kLastDayOfDecember = 31;
// Year and vegetation-period file names carry the year modulo 100.
constexpr long kYearsPerCentury = 100;
// A date-stamped stack name keeps at most this many characters of its base.
constexpr size_t kStackBaseLength = 4;
// Vegetation code whose file holds the mean over the period; every other
// non-zero code gives the sum.
constexpr int kVegetationMeanCode = 2;
// Marks the layer number in an output name ("..._Layer_2.asc").
constexpr std::string_view kLayerMarker = "_Layer_";
constexpr std::string_view kDefaultLayer = "1";

// Digit 1 of the write code: when the grid itself is written.
enum grid_write_code : int {
  kWriteEveryCall = 1,
  kWriteStampedEveryCall = 2,
  kWriteAtRunEnd = 3,
  kWriteDaily = 4,
  kWriteStampedDaily = 5,
  kWriteStampedMonthly = 6,
  kWriteStampedYearly = 7,
  kWriteFilledOnce = 8,
};

// Digit 2 of the write code: codes 1 to 4 are sums, 5 to 8 the means over the
// same periods.
enum period_code : int {
  kRunSum = 1,
  kYearSum = 2,
  kMonthSum = 3,
  kDaySum = 4,
  kRunMean = 5,
  kYearMean = 6,
  kMonthMean = 7,
  kDayMean = 8,
};

// The interval ends a date falls on.
struct interval_ends {
  bool run_end = false;
  bool day_end = false;
  bool month_end = false;
  bool year_end = false;
};

// The step ends a day when its end, shifted by interval_end_shift hours, is
// midnight (`date` in its end-of-day form).
bool IsEndOfDay(const model_date& date, double interval_end_shift) {
  const int shifted_minute = static_cast<int>(date.minute + kMinutesPerHour * interval_end_shift);
  return shifted_minute + kMinutesPerHour * date.hour == kMinutesPerDay;
}

// `day_form`: the step's date in its end-of-day form (EndOfDayForm).
interval_ends IntervalEnds(const model_date& step, const model_date& day_form, double interval_end_shift,
                           const model_date& end_date) {
  interval_ends ends;
  ends.run_end = AtOrAfter(step, end_date);
  const model_date& date = day_form;
  ends.day_end = IsEndOfDay(date, interval_end_shift);
  const bool valid_month = date.month >= 1 && date.month <= kLastMonth;
  ends.month_end = ends.day_end && valid_month && date.day == DaysInMonth(date.month, date.year);
  ends.year_end = ends.day_end && date.day == kLastDayOfDecember && date.month == kLastMonth;
  return ends;
}

bool GridWriteDue(int write_code, const interval_ends& ends) {
  switch (write_code) {
    case kWriteEveryCall:
    case kWriteStampedEveryCall:
    case kWriteFilledOnce:
      return true;
    case kWriteAtRunEnd:
      return ends.run_end;
    case kWriteDaily:
    case kWriteStampedDaily:
      return ends.day_end;
    case kWriteStampedMonthly:
      return ends.month_end;
    case kWriteStampedYearly:
      return ends.year_end;
    default:
      return false;
  }
}

bool StackWriteDue(int write_code, const interval_ends& ends) {
  switch (write_code) {
    case kWriteEveryCall:
    case kWriteStampedEveryCall:
      return true;
    case kWriteAtRunEnd:
      return ends.run_end;
    case kWriteDaily:
    case kWriteStampedDaily:
      return ends.day_end;
    default:
      return false;
  }
}

// Codes written under the plain output name; the others are date-stamped
// (or filled) and get a plain copy at the run end.
bool WritesPlainName(int write_code) {
  return write_code == kWriteEveryCall || write_code == kWriteAtRunEnd || write_code == kWriteDaily;
}

bool PeriodEnded(int code, const interval_ends& ends) {
  switch (code) {
    case kRunSum:
    case kRunMean:
      return ends.run_end;
    case kYearSum:
    case kYearMean:
      return ends.year_end;
    case kMonthSum:
    case kMonthMean:
      return ends.month_end;
    case kDaySum:
    case kDayMean:
      return ends.day_end;
    default:
      return false;
  }
}

bool IsPeriodMean(int code) { return code >= kRunMean && code <= kDayMean; }

// --- file names

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
  std::array<char, 64> buffer{};
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
  va_end(arguments);
  return std::string(buffer.data(), static_cast<size_t>(std::max(length, 0)));
}

// Directory part (through the last "/" or "\") and file part of a name.
struct path_parts {
  std::string_view directory;
  std::string_view file;
};

path_parts SplitPath(std::string_view name) {
  const size_t separator = name.find_last_of("/\\");
  if (separator == std::string_view::npos) return {{}, name};
  return {name.substr(0, separator + 1), name.substr(separator + 1)};
}

// The file part up to its first "." (all of it when it has none).
std::string_view BaseOf(std::string_view file) { return file.substr(0, file.find('.')); }

// Directory part of `source` + `base` + `suffix`: the form of every
// date-stamped and period name.
std::string DerivedName(std::string_view source, std::string_view base, std::string_view suffix) {
  std::string name(SplitPath(source).directory);
  name += base;
  name += suffix;
  return name;
}

std::string DerivedName(std::string_view source, std::string_view suffix) {
  return DerivedName(source, BaseOf(SplitPath(source).file), suffix);
}

long Year2(const model_date& date) { return date.year % kYearsPerCentury; }

// "_001", "_002", ... for the second, third, ... date-stamped write at the
// same date; empty for the first. Keeps the entry's repeat bookkeeping.
std::string RepeatSuffix(grid_entry& entry, const model_date& date) {
  const std::array<int, 5> stamp = {date.year, date.month, date.day, date.hour, date.minute};
  std::string suffix;
  if (stamp == entry.last_write_date) {
    ++entry.same_date_count;
    suffix = Format("_%.03ld", static_cast<long>(entry.same_date_count));
  } else {
    entry.same_date_count = 0;
  }
  entry.last_write_date = stamp;
  return suffix;
}

std::string DatedGridName(grid_entry& entry, const std::string& source, const model_date& date) {
  std::string stamp =
      Format("_%04ld%02ld%02ld.%02ld%02ld", static_cast<long>(date.year), static_cast<long>(date.month),
             static_cast<long>(date.day), static_cast<long>(date.hour), static_cast<long>(date.minute));
  stamp += RepeatSuffix(entry, date);
  return DerivedName(source, stamp);
}

std::string DatedStackName(grid_entry& entry, const std::string& source, const model_date& date) {
  const std::string_view base = BaseOf(SplitPath(source).file);
  std::string stamp =
      Format("_%04ld%02ld%02ld.%03ld", static_cast<long>(date.year), static_cast<long>(date.month),
             static_cast<long>(date.day), static_cast<long>(date.hour));
  stamp += RepeatSuffix(entry, date);
  return DerivedName(source, base.substr(0, std::min(base.size(), kStackBaseLength)), stamp);
}

std::string PeriodFileName(const std::string& source, int code, const model_date& date) {
  const long year = date.year;
  const long month = date.month;
  const long day = date.day;
  switch (code) {
    case kRunSum:
      return DerivedName(source, ".sum");
    case kRunMean:
      return DerivedName(source, ".mit");
    case kYearSum:
      return DerivedName(source, Format("_%04ld00.sum", Year2(date)));
    case kYearMean:
      return DerivedName(source, Format("_%04ld00.mit", Year2(date)));
    case kMonthSum:
      return DerivedName(source, Format("_%04ld%02ld.sum", year, month));
    case kMonthMean:
      return DerivedName(source, Format("_%04ld%02ld.mit", year, month));
    case kDaySum:
      return DerivedName(source, Format("_%04ld%02ld.%02lds", Year2(date), month, day));
    default:
      return DerivedName(source, Format("_%04ld%02ld.%02ldm", Year2(date), month, day));
  }
}

std::string VegetationFileName(const std::string& source, int vegetation_code, const model_date& date) {
  const char* format = vegetation_code == kVegetationMeanCode ? "_%04ld_vegper.mit" : "_%04ld_vegper.sum";
  return DerivedName(source, Format(format, Year2(date)));
}

// Layer number of the vegetation grids that belong to an output name: the
// text after its first "_Layer_" up to the next ".", else "1".
std::string VegetationLayerSuffix(const std::string& outname) {
  const size_t marker = outname.find(kLayerMarker);
  if (marker == std::string::npos) return std::string(kDefaultLayer);
  const size_t start = marker + kLayerMarker.size();
  const size_t dot = outname.find('.', start);
  return outname.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

// --- cells

// One row of the cells an entry's accumulators cover: the columns of its row
// range and the runs of valid columns within them.
struct mask_row {
  int first = 1;
  int last = 0;
  const output_cell_run* runs = nullptr;
  const output_cell_run* runs_end = nullptr;

  // Calls valid(a, b) for each run of valid columns a..b and invalid(a, b)
  // for the columns of the range between them, from left to right.
  template <typename Valid, typename Invalid>
  void ForEach(Valid valid, Invalid invalid) const {
    int c = first;
    for (const output_cell_run* run = runs; run != runs_end; ++run) {
      if (run->first > c) invalid(c, run->first - 1);
      valid(run->first, run->last);
      c = run->last + 1;
    }
    if (c <= last) invalid(c, last);
  }
  template <typename Valid>
  void ForEachValid(Valid valid) const {
    for (const output_cell_run* run = runs; run != runs_end; ++run) valid(run->first, run->last);
  }
};

// Whether cell c of a row is valid: inside the catchment (no zone grid:
// every cell of the range) and computed by this process (no region grid:
// every cell).
bool IsValidCell(const double* zone, const double* region, double nodata, double process, int c) {
  return (!zone || zone[c] > nodata) && (!region || region[c] == process);
}

// The runs of valid columns of rows row_lo..row_hi, made anew when the grids
// or bounds they come from are not those of `runs`.
void MakeCellRuns(output_cell_runs& runs, double** zone, double** region, const row_range* ranges,
                  double nodata, double process, int ncols, int row_lo, int row_hi) {
  const bool same_grids = runs.zone == zone && runs.region == region && runs.ranges == ranges &&
                          runs.nodata == nodata && runs.process == process && runs.ncols == ncols;
  if (same_grids && runs.row_lo <= row_lo && runs.row_hi >= row_hi) return;
  // Entries of other rows share the runs: they cover them all.
  if (same_grids && runs.row_lo <= runs.row_hi) {
    row_lo = std::min(row_lo, runs.row_lo);
    row_hi = std::max(row_hi, runs.row_hi);
  }
  runs.zone = zone;
  runs.region = region;
  runs.ranges = ranges;
  runs.nodata = nodata;
  runs.process = process;
  runs.ncols = ncols;
  runs.row_lo = row_lo;
  runs.row_hi = row_hi;
  runs.row_begin.assign(static_cast<size_t>(std::max(row_hi - row_lo + 1, 0)) + 1, 0);
  runs.runs.clear();
  for (int r = row_lo; r <= row_hi; ++r) {
    runs.row_begin[static_cast<size_t>(r - row_lo)] = static_cast<int>(runs.runs.size());
    const int first = ranges ? std::max(1, ranges[r].first) : 1;
    const int last = ranges ? std::min(ncols, ranges[r].last) : ncols;
    const double* zone_row = zone ? zone[r] : nullptr;
    const double* region_row = region ? region[r] : nullptr;
    ForEachColumnRun(
        first, last, [&](int c) { return IsValidCell(zone_row, region_row, nodata, process, c); },
        [&](int start, int end) {
          runs.runs.push_back({start, end});
        });
  }
  runs.row_begin.back() = static_cast<int>(runs.runs.size());
}

// The rows an entry's accumulators cover and their valid cells.
struct cell_mask {
  int row_lo = 1;
  int row_hi = 0;
  int ncols = 0;
  const row_range* ranges = nullptr;
  double** zone = nullptr;
  double** region = nullptr;
  double nodata = 0.0;
  const output_cell_runs* runs = nullptr;

  mask_row Row(int r) const {
    mask_row row;
    row.first = 1;
    row.last = ncols;
    if (ranges) {
      row.first = std::max(1, ranges[r].first);
      row.last = std::min(ncols, ranges[r].last);
    }
    const size_t at = static_cast<size_t>(r - runs->row_lo);
    row.runs = runs->runs.data() + runs->row_begin[at];
    row.runs_end = runs->runs.data() + runs->row_begin[at + 1];
    return row;
  }
  int RowCount() const { return std::max(0, row_hi - row_lo + 1); }
  bool Covers(int r) const { return r >= row_lo && r <= row_hi; }
  // Stride of per-cell side arrays laid out row by row, columns 0..ncols.
  size_t Stride() const { return static_cast<size_t>(ncols) + 1; }
};

// The mask of the entry's rows from the given grids (the owner keeps its runs).
cell_mask MakeCellMask(modelobject& owner, const grid_entry& entry, double** zone, double** region,
                       const row_range* ranges) {
  cell_mask mask;
  mask.row_lo = std::max(entry.first_row, 1);
  mask.row_hi = std::min(entry.last_row, owner.nrows);
  mask.ncols = owner.ncols;
  mask.ranges = ranges;
  mask.zone = zone;
  mask.region = region;
  mask.nodata = owner.nodata_value;
  if (!owner.output_cells) owner.output_cells = std::make_unique<output_cell_runs>();
  MakeCellRuns(*owner.output_cells, mask.zone, mask.region, mask.ranges, mask.nodata, owner.process_index,
               mask.ncols, mask.row_lo, mask.row_hi);
  mask.runs = owner.output_cells.get();
  return mask;
}

cell_mask MakeCellMask(modelobject& owner, const grid_entry& entry, bool restrict_to_region) {
  // A single process without "MPIRegions" computes the whole domain.
  return MakeCellMask(owner, entry, (*owner.grids)[1].data,
                      restrict_to_region ? owner.mpi_regions_data : nullptr, owner.row_ranges);
}

// Sets the valid cells of row r to `valid_value(cell value, r, c)` and the
// other cells of its range to nodata.
template <typename ValidValue>
void MapRangeRow(const cell_mask& mask, int r, double* cells, ValidValue valid_value) {
  const double nodata = mask.nodata;
  mask.Row(r).ForEach(
      [&](int a, int b) {
        for (int c = a; c <= b; ++c) cells[c] = valid_value(cells[c], r, c);
      },
      [&](int a, int b) { std::fill(cells + a, cells + b + 1, nodata); });
}

template <typename ValidValue>
void MapRangeCells(const cell_mask& mask, double** grid, ValidValue valid_value) {
  for (int r = mask.row_lo; r <= mask.row_hi; ++r) MapRangeRow(mask, r, grid[r], valid_value);
}

void CopyFirstLayer(const cell_mask& mask, double** data, double*** layers) {
  for (int r = mask.row_lo; r <= mask.row_hi; ++r) {
    double* cells = data[r];
    double** stack = layers[r];
    mask.Row(r).ForEachValid([&](int a, int b) {
      for (int c = a; c <= b; ++c) cells[c] = stack[c][1];
    });
  }
}

// The per-cell counts of row r of the mask.
template <typename Count>
Count* RowCounts(const cell_mask& mask, int r, Count* counts) {
  return counts + static_cast<size_t>(r - mask.row_lo) * mask.Stride();
}

// Gives every valid cell of the mask its count of the period so far: the
// period's steps, less this one where its row (from `row` on) has not taken
// it yet. From here on the cells count for themselves.
void MakeValueCounts(const cell_mask& mask, grid_entry& entry, int row) {
  entry.period_value_counts.assign(static_cast<size_t>(mask.RowCount()) * mask.Stride(), 0);
  int* const counts = entry.period_value_counts.data();
  for (int r = mask.row_lo; r <= mask.row_hi; ++r) {
    const int steps = r < row ? entry.period_steps : entry.period_steps - 1;
    int* const row_counts = RowCounts(mask, r, counts);
    mask.Row(r).ForEachValid([&](int a, int b) { std::fill(row_counts + a, row_counts + b + 1, steps); });
  }
}

// Adds the values of valid cells of row r that are not nodata to the period
// sum and counts them; the other cells of the row's range hold nodata. While
// no valid cell has met nodata every cell takes the period's steps and no
// count is kept per cell. A sum starts at +0 and so is never -0: adding +0 in
// place of a nodata value leaves it as it is.
void AccumulatePeriodRow(const cell_mask& mask, grid_entry& entry, int r, const double* values,
                         double* sums) {
  const double nodata = mask.nodata;
  const mask_row row = mask.Row(r);
  int* row_counts =
      entry.period_value_counts.empty() ? nullptr : RowCounts(mask, r, entry.period_value_counts.data());
  bool met_nodata = false;
  row.ForEach(
      [&](int a, int b) {
        if (row_counts) {
          for (int c = a; c <= b; ++c) {
            const bool taken = values[c] != nodata;
            sums[c] += taken ? values[c] : 0.0;
            row_counts[c] += taken ? 1 : 0;
          }
          return;
        }
        bool missing = false;
        for (int c = a; c <= b; ++c) {
          const bool taken = values[c] != nodata;
          sums[c] += taken ? values[c] : 0.0;
          missing |= !taken;
        }
        met_nodata = met_nodata || missing;
      },
      [&](int a, int b) { std::fill(sums + a, sums + b + 1, nodata); });
  if (!met_nodata) return;
  MakeValueCounts(mask, entry, r);
  row_counts = RowCounts(mask, r, entry.period_value_counts.data());
  row.ForEachValid([&](int a, int b) {
    for (int c = a; c <= b; ++c) row_counts[c] += values[c] != nodata ? 1 : 0;
  });
}

// Turns the period sums of row r into the file's values: the sum, or the mean
// over the values taken; nodata where a cell took none.
void FinishPeriodRow(const cell_mask& mask, const grid_entry& entry, int r, double* sums, bool mean) {
  const double nodata = mask.nodata;
  if (entry.period_value_counts.empty()) {
    const int taken = entry.period_steps;
    MapRangeRow(mask, r, sums, [&](double value, int, int) {
      if (taken == 0) return nodata;
      return mean ? value / taken : value;
    });
    return;
  }
  const int* row_counts = RowCounts(mask, r, entry.period_value_counts.data());
  MapRangeRow(mask, r, sums, [&](double value, int, int c) {
    const int taken = row_counts[c];
    if (taken == 0) return nodata;
    return mean ? value / taken : value;
  });
}

void ResetValidRow(const cell_mask& mask, int r, double* cells, double value) {
  mask.Row(r).ForEachValid([&](int a, int b) { std::fill(cells + a, cells + b + 1, value); });
}

// Starts the extremes of row r from the first step: data at valid cells,
// nodata at the others of the row's range.
void StartExtremesRow(const cell_mask& mask, int r, const double* values, double* cells) {
  const double nodata = mask.nodata;
  mask.Row(r).ForEach([&](int a, int b) { std::copy(values + a, values + b + 1, cells + a); },
                      [&](int a, int b) { std::fill(cells + a, cells + b + 1, nodata); });
}

// A nodata extreme means the cell has taken no value yet; a nodata value is
// never taken.
template <typename Better>
void UpdateExtremesRow(const cell_mask& mask, int r, const double* values, double* cells, Better better) {
  const double nodata = mask.nodata;
  mask.Row(r).ForEachValid([&](int a, int b) {
    for (int c = a; c <= b; ++c) {
      const double v = values[c];
      if (v == nodata) continue;
      if (cells[c] == nodata || better(v, cells[c])) cells[c] = v;
    }
  });
}

// Adds valid, non-nodata values to the vegetation accumulator where the
// vegetation period runs (started, not yet stopped).
void AccumulateVegetation(const cell_mask& mask, const grid_entry& entry) {
  const double nodata = mask.nodata;
  for (int r = mask.row_lo; r <= mask.row_hi; ++r) {
    const double* values = entry.data[r];
    const double* start = entry.vegetation_start_grid[r];
    const double* stop = entry.vegetation_stop_grid[r];
    double* sums = entry.vegetation_grid[r];
    mask.Row(r).ForEachValid([&](int a, int b) {
      for (int c = a; c <= b; ++c)
        if (start[c] >= 0.0 && stop[c] <= 0.0 && values[c] != nodata) sums[c] += values[c];
    });
  }
}

// Looks up the vegetation start, stop and duration grids of the entry's layer
// (fatal when one is missing); the entry keeps their data.
void FindVegetationGrids(modelobject& owner, grid_entry& entry) {
  const std::string layer = VegetationLayerSuffix(entry.outname);
  grid_table& table = *owner.grids;
  entry.vegetation_start_grid = table[owner.FindRequiredGrid("VegetationStart" + layer)].data;
  entry.vegetation_stop_grid = table[owner.FindRequiredGrid("VegetationStop" + layer)].data;
  entry.vegetation_duration_grid = table[owner.FindRequiredGrid("VegetationDuration" + layer)].data;
}

bool HasVegetationGrids(const grid_entry& entry) {
  return entry.vegetation_start_grid && entry.vegetation_stop_grid && entry.vegetation_duration_grid;
}

void UpdateVegetationPeriod(modelobject& owner, grid_entry& entry, const cell_mask& mask) {
  if (!HasVegetationGrids(entry)) FindVegetationGrids(owner, entry);
  // Grids registered without data yet: looked up again at the next call.
  if (!HasVegetationGrids(entry)) {
    entry.vegetation_start_grid = entry.vegetation_stop_grid = entry.vegetation_duration_grid = nullptr;
    return;
  }
  AccumulateVegetation(mask, entry);

  if (entry.vegetation_ended == 1) {
    entry.vegetation_ended = 0;
    const bool mean = entry.vegetation_code == kVegetationMeanCode;
    double** duration = entry.vegetation_duration_grid;
    const double nodata = mask.nodata;
    MapRangeCells(mask, entry.vegetation_grid, [&](double value, int r, int c) {
      if (!mean) return value;
      // A period of no days has no mean.
      return duration[r][c] > 0.0 ? value / duration[r][c] : nodata;
    });
    owner.WriteMaskedGrid(
        VegetationFileName(entry.vegetation_file_name, entry.vegetation_code, owner.current_date),
        entry.vegetation_grid, owner.WriteAsciiGrids, owner.WriteDoubleGrids, owner.WriteNetcdfGrids);
  }
  if (entry.vegetation_started == 1) {
    MapRangeCells(mask, entry.vegetation_grid, [](double, int, int) { return 0.0; });
    entry.vegetation_started = 0;
  }
}

// Caches the data of "MPIRegions" and "MPIHelper" when they are in the table
// at the object's first grid output; without them it computes the whole domain.
void CacheRegionGrids(modelobject& owner) {
  if (owner.region_grids_looked_up) return;
  owner.region_grids_looked_up = true;
  if (!owner.mpi_regions_data) owner.mpi_regions_data = owner.OptionalGridData("MPIRegions", false);
  if (!owner.mpi_helper_data) {
    const int index = owner.FindGrid("MPIHelper", false);
    if (index > 0) owner.mpi_helper_data = (*owner.grids)[index].data;
  }
}

bool IndexInTable(int index) { return index >= 1 && index <= kGridTableLimit; }

}  // namespace

std::string PeriodFileStem(const std::string& source_name) { return DerivedName(source_name, ""); }

void modelobject::WriteGridOutput(int index, int restrict_to_region, bool skip_period_files) {
  if (!grids || !IndexInTable(index)) return;
  grid_entry& entry = (*grids)[index];
  if (!entry.HasOutput() || !entry.data) return;

  CacheRegionGrids(*this);
  entry.step_count += 1.0;
  const cell_mask mask = MakeCellMask(*this, entry, restrict_to_region != 0);
  const bool accumulates = entry.period_code > 0 || entry.min_flag > 0 || entry.max_flag > 0;
  if (entry.layers && accumulates) CopyFirstLayer(mask, entry.data, entry.layers);

  // The period sums and the extremes of this step, one row at a time: in the
  // pass that writes the grid when that is due, else on their own.
  const bool sums = entry.period_code != 0 && entry.sum_grid;
  bool period_starts = false;
  if (sums) {
    const size_t cells = static_cast<size_t>(mask.RowCount()) * mask.Stride();
    // The first step of a period (also after a new registration) starts the
    // counts and sums afresh, whatever an earlier period left in cells that
    // were not valid then.
    if (entry.period_cells != cells || entry.step_count == 1.0) {
      std::vector<int>().swap(entry.period_value_counts);
      entry.period_steps = 0;
      entry.period_cells = cells;
      entry.period_zone = mask.zone;
      entry.period_region = mask.region;
      entry.period_ranges = mask.ranges;
      period_starts = true;
    } else if (entry.period_value_counts.empty() &&
               (entry.period_zone != mask.zone || entry.period_region != mask.region ||
                entry.period_ranges != mask.ranges)) {
      // Cells the period's mask left out took nothing so far.
      const cell_mask before =
          MakeCellMask(*this, entry, entry.period_zone, entry.period_region, entry.period_ranges);
      MakeValueCounts(before, entry, before.row_hi + 1);
      // The owner keeps one set of runs, now the old mask's: `mask` reads
      // them, so they are made again for this step's grids.
      MakeCellMask(*this, entry, mask.zone, mask.region, mask.ranges);
      entry.period_zone = mask.zone;
      entry.period_region = mask.region;
      entry.period_ranges = mask.ranges;
    }
    ++entry.period_steps;
  }
  double* const* min_grid = entry.min_flag && entry.min_grid ? entry.min_grid : nullptr;
  double* const* max_grid = entry.max_flag && entry.max_grid ? entry.max_grid : nullptr;
  const bool start_extremes = entry.extremes_started == 0;
  if (entry.min_flag || entry.max_flag) entry.extremes_started = 1;
  grid_row_work accumulate;
  if (sums || min_grid || max_grid) {
    accumulate.before = [&](int r) {
      if (!mask.Covers(r)) return;
      const double* values = entry.data[r];
      if (sums) {
        if (period_starts) ResetValidRow(mask, r, entry.sum_grid[r], 0.0);
        AccumulatePeriodRow(mask, entry, r, values, entry.sum_grid[r]);
      }
      if (start_extremes) {
        if (min_grid) StartExtremesRow(mask, r, values, min_grid[r]);
        if (max_grid) StartExtremesRow(mask, r, values, max_grid[r]);
      } else {
        if (min_grid)
          UpdateExtremesRow(mask, r, values, min_grid[r], [](double v, double m) { return v < m; });
        if (max_grid)
          UpdateExtremesRow(mask, r, values, max_grid[r], [](double v, double m) { return v > m; });
      }
    };
  }
  const model_date day_form = EndOfDayForm(current_date, interval_end_shift);
  const interval_ends ends = IntervalEnds(current_date, day_form, interval_end_shift, end_date);
  const int code = entry.write_code;
  const bool write_due = GridWriteDue(code, ends);
  if (accumulate.before && !write_due)
    for (int r = mask.row_lo; r <= mask.row_hi; ++r) accumulate.before(r);

  if (entry.vegetation_code != 0 && entry.vegetation_grid) UpdateVegetationPeriod(*this, entry, mask);

  if (write_due) {
    std::string file = entry.outname;
    if (code == kWriteFilledOnce) {
      file += ".filled";
      entry.write_code = 0;
    } else if (!WritesPlainName(code)) {
      file = DatedGridName(entry, entry.outname, current_date);
    }
    WriteGridRows(file, entry.data, WriteAsciiGrids, WriteDoubleGrids, WriteNetcdfGrids, false, accumulate);
    if (!WritesPlainName(code) && ends.run_end)
      WriteGrid(entry.outname, entry.data, WriteAsciiGrids, WriteDoubleGrids, WriteNetcdfGrids);
  }

  if (skip_period_files) return;
  if (ends.run_end) {
    if (entry.min_flag == 1 && entry.min_grid)
      WriteMaskedGrid(DerivedName(entry.min_file_name, ".min"), entry.min_grid, WriteAsciiGrids,
                      WriteDoubleGrids, WriteNetcdfGrids);
    if (entry.max_flag == 1 && entry.max_grid)
      WriteMaskedGrid(DerivedName(entry.max_file_name, ".max"), entry.max_grid, WriteAsciiGrids,
                      WriteDoubleGrids, WriteNetcdfGrids);
  }
  if (sums && PeriodEnded(entry.period_code, ends)) {
    // Each row is finished just before it is written and starts the next
    // period just after.
    const bool mean = IsPeriodMean(entry.period_code);
    grid_row_work finish;
    finish.before = [&](int r) {
      if (mask.Covers(r)) FinishPeriodRow(mask, entry, r, entry.sum_grid[r], mean);
    };
    finish.after = [&](int r) {
      if (mask.Covers(r)) ResetValidRow(mask, r, entry.sum_grid[r], 0.0);
    };
    // Named after the period that ends, also when its last step is stamped 00:00.
    WriteGridRows(PeriodFileName(entry.sum_file_name, entry.period_code, day_form), entry.sum_grid,
                  WriteAsciiGrids, WriteDoubleGrids, WriteNetcdfGrids, true, finish);
    entry.step_count = 0.0;
  }
}

void modelobject::WriteStackOutput(int index) {
  if (!grids || !IndexInTable(index)) return;
  grid_entry& entry = (*grids)[index];
  if ((entry.write_code == 0 && entry.period_code == 0) || !entry.layers) return;

  const interval_ends ends = IntervalEnds(current_date, EndOfDayForm(current_date, interval_end_shift),
                                          interval_end_shift, end_date);
  const int code = entry.write_code;
  if (!StackWriteDue(code, ends)) return;
  const std::string file =
      WritesPlainName(code) ? entry.file_name : DatedStackName(entry, entry.file_name, current_date);
  WriteStack(file, entry.layers, entry.layer_count, WriteAsciiGrids, WriteDoubleGrids, WriteNetcdfGrids);
  if (!WritesPlainName(code) && ends.run_end)
    WriteStack(entry.file_name, entry.layers, entry.layer_count, WriteAsciiGrids, WriteDoubleGrids,
               WriteNetcdfGrids);
}

}  // namespace velmo
