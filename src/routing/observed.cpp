// Observed-discharge table: start-date search and the window of 21 rows.
#include "routing/observed.h"

#include <algorithm>
#include <limits>

#include "framework/diagnostics.h"

namespace velmo {
namespace {

// Two-digit years of the tables are 19xx.
constexpr int kCenturyBelow = 1000;
constexpr int kCenturyAdded = 1900;
// Window value of a row after the end of the table: below every nodata
// value and never compared.
constexpr double kNoObservation = std::numeric_limits<double>::lowest();

model_date ReaderDate(const TimeSeriesReader& reader) {
  model_date d;
  reader.GetDate(d.year, d.month, d.day, d.hour, d.minute);
  if (d.year < kCenturyBelow) d.year += kCenturyAdded;
  return d;
}

}  // namespace

observed_discharge::observed_discharge(MessageStream* messages, const std::string& file_name,
                                       const model_date& start, int step_minutes,
                                       std::vector<int>& column_map)
    : messages_(messages), file_name_(file_name), step_minutes_(step_minutes) {
  reader_ = std::make_unique<TimeSeriesReader>(file_name, 0, kObservedBudgetBytes);
  if (reader_->GetState() == kSeriesCannotOpen) {
    *messages_ << "INFO: error opening " << file_name
               << "\nRouting will be done without comparison to observed discharge data!"
               << "[end-entry]";
    end_count_ = kObservedEndLimit;
    reader_.reset();
    return;
  }
  if (reader_->GetState() == kSeriesReadError) NextRow();  // reports the read error
  opened_ = true;

  *messages_ << "INFO: looking for starting date in " << file_name;
  columns_ = reader_->GetColumnCount();
  for (int& column : column_map)
    if (column > columns_) column = 0;

  // The start is searched by hour, and by minute too when the table has a
  // minute column.
  const bool minutes = reader_->HasMinuteColumn();
  auto at_start = [&](const model_date& d) {
    return d.year == start.year && d.month == start.month && d.day == start.day && d.hour == start.hour &&
           (!minutes || d.minute == start.minute);
  };
  reader_->SetRow(-1);
  model_date found{};
  while (!at_start(found)) {
    const int previous_day = found.day;
    NextRow();
    if (reader_->GetState() == kSeriesPastEnd) {
      ++end_count_;
      break;
    }
    found = ReaderDate(*reader_);
    if (found.day < previous_day) *messages_ << ".";  // one dot per month passed
  }
  *messages_ << "[end-entry]";
  last_read_ = found;
  due_minutes_ = CalendarMinutes(start);

  window_.assign(static_cast<size_t>(kWindowRows) * (columns_ + 1), 0.0);
  for (int row = kZeroShiftRow; row < kWindowRows; ++row) {
    TakeRow(row);
    if (reader_->GetState() == kSeriesPastEnd) ++end_count_;
    NextStepRow();
  }
  for (int row = 0; row < kZeroShiftRow; ++row)
    std::copy_n(&window_[static_cast<size_t>(kZeroShiftRow) * (columns_ + 1)], columns_ + 1,
                &window_[static_cast<size_t>(row) * (columns_ + 1)]);
}

void observed_discharge::TakeRow(int row) {
  double* values = &window_[static_cast<size_t>((head_ + row) % kWindowRows) * (columns_ + 1)];
  const bool ended = reader_->GetState() == kSeriesPastEnd;
  for (int c = 1; c <= columns_; ++c) values[c] = ended ? kNoObservation : reader_->GetValue(c - 1);
}

void observed_discharge::NextStepRow() {
  if (reader_->GetState() == kSeriesPastEnd) return;
  NextRow();
  due_minutes_ += step_minutes_;
  if (reader_->GetState() == kSeriesPastEnd) return;
  model_date read = ReaderDate(*reader_);
  long long due = due_minutes_;
  // Without a minute column a row stands for its hour.
  if (!reader_->HasMinuteColumn()) {
    read.minute = 0;
    due -= due % kMinutesPerHour;
  }
  if (CalendarMinutes(read) == due) return;
  *messages_ << "FATAL: error analysing or reading " << file_name_ << " at row " << rows_read_
             << " of its data: it is dated " << read.day << "." << read.month << "." << read.year << " "
             << read.hour << ":" << (read.minute < 10 ? "0" : "") << read.minute
             << ", but the row of the step after the row before it is due (a row missing, doubled or out "
                "of order)"
             << "[end-entry]";
  throw ErrorCode{kObservedReadErrorCode};
}

void observed_discharge::NextRow() {
  if (reader_->GetState() != kSeriesReadError) reader_->Advance();
  if (reader_->GetState() != kSeriesReadError && reader_->GetState() != kSeriesPastEnd) ++rows_read_;
  if (reader_->GetState() != kSeriesReadError) return;
  *messages_
      << "FATAL: error analysing or reading " << file_name_ << " at row " << reader_->GetRowIndex()
      << " or before \n(e.g. due to wrong formatting or wrong number of columns or start date not found)"
      << "[end-entry]";
  throw ErrorCode{kObservedReadErrorCode};
}

void observed_discharge::Advance(const model_date& step) {
  if (!opened_) return;
  if (end_count_ >= kObservedEndLimit) {
    *messages_ << "INFO: observed runoff: actual date " << step.day << "." << step.month << "." << step.year
               << " " << step.hour << "h not found (end of discharge file at " << last_read_.day << "."
               << last_read_.month << "." << last_read_.year << ", " << last_read_.hour << "h)"
               << "[end-entry]";
  }
  head_ = (head_ + 1) % kWindowRows;  // the old row 0 becomes row 20
  const int last = kWindowRows - 1;
  if (end_count_ < kObservedEndLimit) {
    TakeRow(last);
    NextStepRow();
    if (reader_->GetState() == kSeriesPastEnd) {
      *messages_ << "INFO: end of discharge file reached!"
                 << "[end-entry]";
      ++end_count_;
    } else {
      last_read_ = ReaderDate(*reader_);
    }
  } else {
    double* values = &window_[static_cast<size_t>((head_ + last) % kWindowRows) * (columns_ + 1)];
    std::fill(values + 1, values + columns_ + 1, 0.0);
  }
}

}  // namespace velmo
