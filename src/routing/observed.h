// The observed-discharge table of the routing model: opened at
// construction, searched for the start date of the run, and read one row per
// step into a window of 21 rows, row 10 + s holding the observations s steps
// after the row of the current step (s = -10..10).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/timeseries.h"
#include "framework/types.h"
#include "routing/reach.h"

namespace velmo {

class MessageStream;

inline constexpr int kObservedReadErrorCode = 203;
inline constexpr long kObservedBudgetBytes = 1000000;
// Ends of the table met before the comparison stops for good.
inline constexpr int kObservedEndLimit = 10;
inline constexpr int kWindowRows = 21;
inline constexpr int kZeroShiftRow = 10;
inline constexpr int kNextRow = 11;  // the row after the current step's

class observed_discharge : public observed_values {
 public:
  // Opens `file_name` (used as written) and fills the window from the row of
  // the run's start date. A file that cannot be opened is reported as INFO
  // and leaves the table closed; a row that cannot be read is fatal (203),
  // and so is a row from the start on that is not dated one step of
  // `step_minutes` after the row before it (a row missing, doubled or out of
  // order; without a minute column the hours are compared). Column numbers
  // in `column_map` beyond the table's columns become 0.
  observed_discharge(MessageStream* messages, const std::string& file_name, const model_date& start,
                     int step_minutes, std::vector<int>& column_map);

  bool Opened() const { return opened_; }
  // Whether the step is compared: the table is open and has not ended for good.
  bool Comparing() const { return opened_ && end_count_ < kObservedEndLimit; }
  // Value of window row `row` (0..20) in column `column` (1..columns).
  double Value(int row, int column) const {
    return window_[static_cast<size_t>((head_ + row) % kWindowRows) * (columns_ + 1) + column];
  }
  int Columns() const { return columns_; }

  // Moves the window on by one row after a step of date `step`.
  void Advance(const model_date& step);

  // Observations stand in for routed discharge only while they are compared.
  bool HasRecord() const override { return Comparing(); }
  double StepValue(int column) const override { return Value(kZeroShiftRow, column); }

 private:
  // Row `row` of the window takes the reader's current row (missing values
  // once the table has ended).
  void TakeRow(int row);
  // Advances the reader; a row that cannot be read is fatal.
  void NextRow();
  // Advances the reader to the row of the next step: a row read that bears
  // another date is fatal.
  void NextStepRow();

  MessageStream* messages_;
  std::string file_name_;
  std::unique_ptr<TimeSeriesReader> reader_;
  bool opened_ = false;
  int columns_ = 0;
  int end_count_ = 0;
  model_date last_read_;       // date of the table row read last
  long long rows_read_ = 0;    // data rows of the file read so far
  long long due_minutes_ = 0;  // CalendarMinutes of the date due in the row read next
  int step_minutes_ = 0;
  std::vector<double> window_;  // 21 rows of columns_ + 1 values
  int head_ = 0;                // storage row of window row 0
};

}  // namespace velmo
