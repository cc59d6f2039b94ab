// Zone statistics tables: one field per step becomes one row of zone means
// (and the catchment mean) per statistics interval. Rows are buffered in
// memory (at most about 2 MB per table, grown as rows come) and appended to
// the file in blocks.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/types.h"

namespace velmo {

class MessageStream;

// One dated row of a table: its date and its values (the row layout of the
// time-series tables). The statistics tables buffer their rows flat instead
// (zonalstatistic::row_values), so that a buffer is one block of memory.
struct dated_row {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  std::vector<double> values;
};

// Budget of one row buffer, and the bookkeeping bytes counted per row.
inline constexpr long kRowBufferBytes = 2097152;
inline constexpr long kRowDateBytes = 24;
// Rows of a table that holds only the catchment column.
inline constexpr int kTotalOnlyRows = 65536;
// Precision from which values are written in the general ("%.6g") format.
inline constexpr int kGeneralFormatPrecision = 99;
// Cell weights at or below it are ignored.
inline constexpr double kCellWeightThreshold = -9999.0;
// Statistics codes below it switch a table off.
inline constexpr int kFirstStatisticsCode = 1001;

inline constexpr int kOpenErrorCode = 15;
inline constexpr int kCloseErrorCode = 16;
inline constexpr int kConstructionErrorCode = 1;

// The weight AddCell gives cell (row, col) of an nrows x ncols domain: its
// value in `cell_weights` when there is one above kCellWeightThreshold, else 1.
inline double StatisticsCellWeight(double** cell_weights, int row, int col, int nrows, int ncols) {
  if (!cell_weights || row < 1 || row > nrows || col < 1 || col > ncols) return 1.0;
  const double w = cell_weights[row][col];
  return w > kCellWeightThreshold ? w : 1.0;
}

// Rows per buffer for a statistics type with the given numbers of zones and
// listed zones (at least 1).
int RowCapacity(int type, int zone_count, int selected_count);

// Appends one row as a table line: the date columns ("%2ld", the minute only
// with `with_minutes`) and values[0..value_count-1] ("\t%.*f", or "\t%.6g"
// from precision 99 on).
void FormatRow(const model_date& date, const double* values, int value_count, bool with_minutes,
               int precision, std::string& out);

// The statistics table of one field. Statistics code = type * 1000 + interval
// (steps per row). Types 1, 2, 5 average over the interval, the others sum the
// step means; types 2 and 4 have a column per zone, 5 and 6 one per listed
// zone, all a final "tot_average" column. A cell holding the nodata value
// counts for nothing, so a zone mean is the (cell-weighted) mean of its cells
// that hold data, and a zone without any shows the nodata value.
class zonalstatistic {
 public:
  // `error_code` is 0 on success and 1 when construction failed (the entry is
  // written). `file_name` receives the output directory prefix in place.
  // `zones` (records 0..zone_count) are the accumulators, owned by the
  // caller. `cell_weights` ([row][col] from 1, nrows x ncols) may be null.
  // `selected_codes` are the codes of the output list, index
  // 1..selected_count (null when there are none).
  zonalstatistic(int& error_code, MessageStream* messages, double nodata_value, double** cell_weights,
                 int nrows, int ncols, zone_record* zones, int zone_count, int statistics_code, int precision,
                 std::string& file_name, const std::string* output_directory, int selected_count,
                 const int* selected_codes, bool with_minutes);
  virtual ~zonalstatistic();
  zonalstatistic(const zonalstatistic&) = delete;
  zonalstatistic& operator=(const zonalstatistic&) = delete;

  // Opens file_name with `mode`; throws 15 when it cannot.
  virtual void OpenFile(const char* mode);
  // Closes the file; throws 16 when a write or the close failed.
  virtual void CloseFile();
  // Appends the buffered rows to the file (rows are written once, also when
  // writing fails; while the run is being closed a failure is noted, not
  // thrown: WriteOutputFile).
  virtual void FlushRows();

  // Adds one cell of zone index `zone` with value `value` and weight `weight`.
  // Runs for every cell of every step, so it is inline and not virtual.
  void AddCell(int row, int col, int zone, double value, double weight) {
    if (type < 0 || value == nodata_value) return;
    if (static_cast<unsigned>(zone) > static_cast<unsigned>(zone_count)) return;
    zone_record& z = zones[zone];
    z.weight_sum += weight;
    if (cell_weights && row >= 1 && row <= nrows && col >= 1 && col <= ncols) {
      const double w = cell_weights[row][col];
      if (w > weight_threshold) {
        z.mean_divisor += w * weight;
        z.value_sum += w * value * weight;
        return;
      }
    }
    z.mean_divisor += weight;
    z.value_sum += value * weight;
  }

  // Adds the cells first..last of row `row` in column order, each as
  // AddCell(row, c, zone_of(c), value_of(c), 1.0) would add it; a cell whose
  // zone index is negative is left out. The sums of the zone at hand stay in
  // registers while the cells stay in it, so a table fed row by row after a
  // module's cell loop costs an addition per sum and cell. A table whose zone
  // records another table shares must not be fed between its rows.
  template <typename ZoneOf, typename ValueOf>
  void AddRow(int row, int first, int last, ZoneOf zone_of, ValueOf value_of) {
    AddCells(row, first, last + 1, zone_of, value_of, [](int c) { return c; });
  }
  // The same for the cells (row, column_of(k)), k = begin..end - 1, in that
  // order, their zones and values given by k (zone_of(k), value_of(k)).
  template <typename ZoneOf, typename ValueOf, typename ColumnOf>
  void AddCells(int row, int begin, int end, ZoneOf zone_of, ValueOf value_of, ColumnOf column_of) {
    if (type < 0) return;
    const double* row_weights = cell_weights && row >= 1 && row <= nrows ? cell_weights[row] : nullptr;
    const auto count = static_cast<unsigned>(zone_count);
    const int last_weighted = ncols;
    const double threshold = weight_threshold;
    const double nodata = nodata_value;
    for (int k = begin; k < end;) {
      const int zone = zone_of(k);
      if (zone < 0 || static_cast<unsigned>(zone) > count) {
        ++k;
        continue;
      }
      // The run of cells of this zone; a cell left out ends it. Its cells
      // are counted and added to the weight sum at its end.
      zone_record& z = zones[zone];
      double mean_divisor = z.mean_divisor;
      double value_sum = z.value_sum;
      int cells = 0;
      for (; k < end; ++k) {
        if (zone_of(k) != zone) break;
        const double value = value_of(k);
        if (value == nodata) continue;
        ++cells;
        const int c = column_of(k);
        const double w = row_weights && c >= 1 && c <= last_weighted ? row_weights[c] : threshold;
        if (w > threshold) {
          mean_divisor += w;
          value_sum += w * value;
        } else {
          mean_divisor += 1.0;
          value_sum += value;
        }
      }
      z.value_sum = value_sum;
      z.mean_divisor = mean_divisor;
      z.weight_sum = PlusOnes(z.weight_sum, cells);
    }
  }

  // `sum` + 1.0 + 1.0 + ... (`ones` times, one after the other): at once
  // where that is exact, a whole number well below 2^53 (a count of cells).
  static double PlusOnes(double sum, int ones) {
    constexpr double kExactBelow = 4503599627370496.0;  // 2^52
    if (sum >= 0.0 && sum < kExactBelow && static_cast<double>(static_cast<long long>(sum)) == sum)
      return sum + ones;
    for (int i = 0; i < ones; ++i) sum += 1.0;
    return sum;
  }

  // Adds the cells first..last of row `row` to each of the N tables as
  // AddRow would, value_of(t, c) being cell c's value for table t; the sums
  // of the tables run side by side. The tables must share their cell
  // weights, grid, zone count and nodata value (as the tables of one module
  // do, see FeedsLike), each with zone records of its own.
  template <std::size_t N, typename ZoneOf, typename ValueOf>
  static void AddRowToEach(const std::array<zonalstatistic*, N>& tables, int row, int first, int last,
                           ZoneOf zone_of, ValueOf value_of) {
    const zonalstatistic& lead = *tables[0];
    const double* row_weights =
        lead.cell_weights && row >= 1 && row <= lead.nrows ? lead.cell_weights[row] : nullptr;
    const auto count = static_cast<unsigned>(lead.zone_count);
    const int last_weighted = lead.ncols;
    const double threshold = lead.weight_threshold;
    const double nodata = lead.nodata_value;
    for (int c = first; c <= last;) {
      const int zone = zone_of(c);
      if (zone < 0 || static_cast<unsigned>(zone) > count) {
        ++c;
        continue;
      }
      std::array<int, N> cells{};
      std::array<double, N> mean_divisor;
      std::array<double, N> value_sum;
      for (std::size_t t = 0; t < N; ++t) {
        const zone_record& z = tables[t]->zones[zone];
        mean_divisor[t] = z.mean_divisor;
        value_sum[t] = z.value_sum;
      }
      for (; c <= last && zone_of(c) == zone; ++c) {
        const double cell_weight = row_weights && c >= 1 && c <= last_weighted ? row_weights[c] : threshold;
        const bool weighted = cell_weight > threshold;
        const double w = weighted ? cell_weight : 1.0;
        for (std::size_t t = 0; t < N; ++t) {
          const double value = value_of(t, c);
          if (value == nodata) continue;
          ++cells[t];
          mean_divisor[t] += w;
          value_sum[t] += weighted ? w * value : value;
        }
      }
      for (std::size_t t = 0; t < N; ++t) {
        zone_record& z = tables[t]->zones[zone];
        z.weight_sum = PlusOnes(z.weight_sum, cells[t]);
        z.mean_divisor = mean_divisor[t];
        z.value_sum = value_sum[t];
      }
    }
  }
  // Whether this table can be fed side by side with `other` (AddRowToEach).
  bool FeedsLike(const zonalstatistic& other) const {
    return type >= 0 && other.type >= 0 && cell_weights == other.cell_weights && nrows == other.nrows &&
           ncols == other.ncols && zone_count == other.zone_count &&
           weight_threshold == other.weight_threshold && nodata_value == other.nodata_value &&
           zones != other.zones;
  }

  // Takes this step's sums from `twin`, a table fed like this one (FeedsLike)
  // whose grid holds the same values in every cell it counts: feeding this
  // table would add the same numbers in the same order.
  void TakeStepSums(const zonalstatistic& twin) {
    if (type < 0) return;
    for (int z = 0; z <= zone_count; ++z) {
      zones[z].weight_sum = twin.zones[z].weight_sum;
      zones[z].mean_divisor = twin.zones[z].mean_divisor;
      zones[z].value_sum = twin.zones[z].value_sum;
    }
  }

  // Adds cells of zone index `zone` that the caller summed as AddCell would
  // add them one by one: `weight_sum` the sum of their weights, `value_sum`
  // of value × cell weight × weight, `mean_divisor` of cell weight × weight
  // (StatisticsCellWeight). A module that feeds several tables from one cell
  // loop keeps such sums over the cells of a zone in registers.
  void AddZoneSums(int zone, double weight_sum, double value_sum, double mean_divisor) {
    if (type < 0) return;
    if (static_cast<unsigned>(zone) > static_cast<unsigned>(zone_count)) return;
    zone_record& z = zones[zone];
    z.weight_sum += weight_sum;
    z.mean_divisor += mean_divisor;
    z.value_sum += value_sum;
  }

  virtual void StartStep();
  // Ends a step; at the end of an interval the row is buffered, and a full
  // buffer is written. Returns 1 when a row was completed, else 0. `flag` is
  // not used.
  virtual int EndStep(int year, int month, int day, int hour, int minute, int flag);
  // Creates (empties) the file and writes the three header lines.
  virtual void WriteHeader(const std::string& name, const std::string& title);
  // Writes the remaining rows and frees the buffers; the table is off
  // afterwards, so nothing is written twice.
  virtual void CleanUp();

  bool IsOn() const { return type >= 0; }
  int Type() const { return type; }
  int Interval() const { return interval; }
  int BufferedRows() const { return row_count; }
  int BufferCapacity() const { return row_capacity; }
  const std::string& FileName() const { return file_name; }

 protected:
  void AppendRows();
  bool Averages() const { return type == 1 || type == 2 || type == 5; }
  bool HasZoneColumns() const { return type == 2 || type == 4; }
  bool HasListedColumns() const { return type == 5 || type == 6; }
  // Mean of one zone's (or the catchment's) sums of a step.
  static double StepMean(double weight_sum, double value_sum, double mean_divisor);
  // The value of record `record` (0: the catchment) for the interval so far,
  // given its step mean and weight: summing types add both to their carried
  // sums. The nodata value when no cell held data in the interval.
  double IntervalValue(double mean, double weight_sum, int record);
  // Zone indices of the header and row columns, in column order.
  std::vector<int> ColumnZones() const;
  // Buffers a new row dated `date` (writing a full buffer first) and returns
  // the place of its row_width values.
  double* NextRow(const model_date& date);

  int ready = 0;
  bool with_minutes = false;
  MessageStream* messages = nullptr;
  zone_record* zones = nullptr;
  // The row buffer: the date of row r (from 0) and its values at
  // row_values[r * row_width ..], the zone columns, then the catchment. It
  // grows with the rows up to row_capacity, so that a short run holds only
  // the rows it writes.
  std::vector<model_date> row_dates;
  std::vector<double> row_values;
  int row_width = 0;
  int row_capacity = 0;
  int row_count = 0;
  int value_count = 0;
  double** cell_weights = nullptr;
  int nrows = 0;
  int ncols = 0;
  double weight_threshold = kCellWeightThreshold;
  double nodata_value = -9999.0;
  int zone_count = 0;
  int precision = 0;
  int type = -1;
  int interval = 0;
  int selected_count = 0;
  std::vector<int> selected_codes;  // index 1..selected_count
  std::string file_name;
  std::FILE* file = nullptr;
  int step_counter = 0;
  // Types 1, 2, 5: the sums of the earlier steps of the interval. Types 3, 4,
  // 6 and above: carried_value holds the sum of the earlier step means and
  // carried_weight that of their weights (index 0 the catchment's).
  std::vector<double> carried_weight;
  std::vector<double> carried_value;
  std::vector<double> carried_divisor;
  std::vector<int> selected_index;  // index 1..selected_count
  std::vector<double> step_means;   // scratch, index 0..zone_count
};

// A table and the row of values a module's cell loop hands it.
struct table_row {
  zonalstatistic* table = nullptr;
  const double* values = nullptr;
};

// Adds the cells first..last of row `row` to every table of `rows` with its
// values, as AddRow would: up to four tables that can be fed side by side
// (FeedsLike) at a time.
template <typename ZoneOf>
void AddRowToTables(const std::vector<table_row>& rows, int row, int first, int last, ZoneOf zone_of) {
  constexpr std::size_t kSideBySide = 4;
  std::size_t begin = 0;
  while (begin < rows.size()) {
    std::size_t end = begin + 1;
    while (end < rows.size() && end - begin < kSideBySide && rows[begin].table->FeedsLike(*rows[end].table)) {
      bool fits = true;
      for (std::size_t k = begin + 1; k < end; ++k) fits = fits && rows[k].table->FeedsLike(*rows[end].table);
      if (!fits) break;
      ++end;
    }
    const table_row* group = rows.data() + begin;
    const auto value_of = [group](std::size_t t, int c) { return group[t].values[c]; };
    switch (end - begin) {
      case 4:
        zonalstatistic::AddRowToEach(
            std::array<zonalstatistic*, 4>{group[0].table, group[1].table, group[2].table, group[3].table},
            row, first, last, zone_of, value_of);
        break;
      case 3:
        zonalstatistic::AddRowToEach(
            std::array<zonalstatistic*, 3>{group[0].table, group[1].table, group[2].table}, row, first, last,
            zone_of, value_of);
        break;
      case 2:
        zonalstatistic::AddRowToEach(std::array<zonalstatistic*, 2>{group[0].table, group[1].table}, row,
                                     first, last, zone_of, value_of);
        break;
      default: {
        const double* values = group[0].values;
        group[0].table->AddRow(row, first, last, zone_of, [values](int c) { return values[c]; });
        break;
      }
    }
    begin = end;
  }
}

}  // namespace velmo
