// The table of an inflow of mode "extern": a dated table (TimeSeriesReader)
// whose rows give the inflow in m3/s step by step. It is opened while the
// routing description is read, positioned at the run's start date, and
// moved on by one row per step.
#pragma once

#include <string>

#include "framework/timeseries.h"
#include "framework/types.h"

namespace velmo {

// Block of an inflow table held in memory.
inline constexpr long kInflowBudgetBytes = 100000;
// Column of the description that names the first value column of a table
// without a minute column (year, month, day and hour stand before it).
inline constexpr int kFirstValueColumn = 5;
// Table values at or below this count as missing.
inline constexpr double kMissingInflowBelow = -9998.0;

// Inflow of a table value: missing values (-9998 or less) are no inflow.
inline double InflowValue(double value) { return value <= kMissingInflowBelow ? 0.0 : value; }

class inflow_table {
 public:
  enum class start_result { found, row_not_reached, date_not_found, too_few_columns };

  // Opens `file` (used as written); false when it cannot be opened.
  bool Open(const std::string& file);
  // Moves to data row `start_row` (from 1, counted from the start of the
  // file across blocks) and from there to the first row dated `start` in
  // all five fields. There, the value column that `column` names (5 the
  // first, 6 with a minute column) and the `tracers` columns after it must
  // exist.
  start_result FindStart(int start_row, const model_date& start, int column, int tracers);
  // Data rows that have been current so far (the row reached, from 1).
  int RowsReached() const { return rows_reached_; }

  // The table has no row left; Unreadable tells whether a row that cannot
  // be read ended it.
  bool Ended() const { return !HasRow(); }
  bool Unreadable() const { return unreadable_; }
  // Date of the current row; two-digit years are 19xx.
  model_date CurrentDate() const;
  // Inflow of the current row in m3/s (0 for a missing value).
  double Discharge() const { return InflowValue(reader_.GetValue(value_column_)); }
  // On to the next row, across blocks.
  void Advance();

  const std::string& FileName() const { return file_; }

 private:
  // The reader keeps its last row current when it goes past the end.
  bool HasRow() const {
    return reader_.GetState() != kSeriesPastEnd && reader_.GetRowIndex() >= 0 &&
           reader_.GetRowIndex() < reader_.GetBlockRows();
  }

  std::string file_;
  TimeSeriesReader reader_;
  int rows_reached_ = 0;
  int value_column_ = 0;  // from 0, among the value columns
  bool unreadable_ = false;
};

}  // namespace velmo
