// Inflow tables of mode "extern": opening, start search, dates and values, advancing across blocks.
#include "routing/inflow_table.h"

namespace velmo {
namespace {

// Two-digit years of the tables are 19xx.
constexpr int kCenturyBelow = 1000;
constexpr int kCenturyAdded = 1900;

bool SameDate(const model_date& a, const model_date& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute;
}

}  // namespace

bool inflow_table::Open(const std::string& file) {
  file_ = file;
  reader_.Open(file, kInflowBudgetBytes);
  if (reader_.GetState() == kSeriesCannotOpen) return false;
  unreadable_ = reader_.GetState() == kSeriesReadError && !HasRow();
  rows_reached_ = HasRow() ? 1 : 0;
  return true;
}

model_date inflow_table::CurrentDate() const {
  model_date d;
  reader_.GetDate(d.year, d.month, d.day, d.hour, d.minute);
  if (d.year < kCenturyBelow) d.year += kCenturyAdded;
  return d;
}

void inflow_table::Advance() {
  if (!HasRow()) return;
  // The reader forgets a read error once it has gone past the rows before it.
  const bool read_error = reader_.GetState() == kSeriesReadError;
  reader_.Advance();
  if (HasRow()) {
    ++rows_reached_;
    return;
  }
  unreadable_ = read_error || reader_.GetState() == kSeriesReadError;
}

inflow_table::start_result inflow_table::FindStart(int start_row, const model_date& start, int column,
                                                   int tracers) {
  while (HasRow() && rows_reached_ < start_row) Advance();
  if (!HasRow()) return start_result::row_not_reached;
  while (HasRow() && !SameDate(CurrentDate(), start)) Advance();
  if (!HasRow()) return start_result::date_not_found;
  value_column_ = column - kFirstValueColumn - (reader_.HasMinuteColumn() ? 1 : 0);
  if (value_column_ < 0 || reader_.GetColumnCount() < value_column_ + tracers + 1)
    return start_result::too_few_columns;
  return start_result::found;
}

}  // namespace velmo
