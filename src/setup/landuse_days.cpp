// The land-use records evaluated: the parameters of a cell on a day, from its
// fix-point days corrected for altitude and vegetation start, its start-time
// list or the monthly values, leaving the record unchanged.
#include <algorithm>
#include <climits>
#include <cmath>

#include "framework/diagnostics.h"
#include "framework/types.h"
#include "setup/tables.h"

namespace velmo {
namespace {

constexpr int kFirstValidCorrectedDay = -1;  // -1: vegetation start not yet found
constexpr int kMonthlyValueDay = 15;         // a monthly value stands for the 15th of its month

}  // namespace

// ---------------------------------------------------------------- pure helpers

int CellInteger(double value) {
  if (!(value > static_cast<double>(INT_MIN))) return INT_MIN;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(value);
}

int DayOfYearFrom(const std::array<int, 13>& month_lengths, int day, int month) {
  int day_of_year = day;
  for (int m = 1; m < month && m <= 11; ++m) day_of_year += month_lengths[static_cast<std::size_t>(m)];
  return day_of_year;
}

std::array<int, 13> LanduseMonthLengths(int year) {
  std::array<int, 13> lengths = kMonthLengths;
  lengths[0] = kMonthLengths[12];  // December of the previous year
  lengths[2] = DaysInMonth(2, year);
  return lengths;
}

int DayOfYearOfDate(int day, int month, int year) {
  const int day_of_year = DayOfYearFrom(LanduseMonthLengths(year), day, month);
  if (month < 1 || month > 12 || day_of_year < 0 || day_of_year > kLastValidDay) return kNoDayOfYear;
  return day_of_year;
}

double AltitudeCorrectedDay(int fix_day, double alt_dep, double altitude) {
  return fix_day + std::trunc(alt_dep * (altitude - kFixPointReferenceAltitude));
}

double InterpolateByDay(double day_a, double value_a, double day_b, double value_b, double day) {
  if (!(day_b > day_a)) return value_a;
  if (day <= day_a) return value_a;
  if (day >= day_b) return value_b;
  return value_a * (day_b - day) / (day_b - day_a) + value_b * (day - day_a) / (day_b - day_a);
}

double MonthlyValue(const std::vector<double>& values, const std::array<int, 13>& month_lengths, int day,
                    int month) {
  int left_month = month;
  int position = day;
  if (day < kMonthlyValueDay) {
    left_month = month - 1;
    position = month_lengths[static_cast<std::size_t>(left_month)] + day;
  }
  const int right_node = month_lengths[static_cast<std::size_t>(left_month)] + kMonthlyValueDay;
  return InterpolateByDay(kMonthlyValueDay, values[static_cast<std::size_t>(left_month)], right_node,
                          values[static_cast<std::size_t>(left_month) + 1], position);
}

fix_point_day_failure CorrectFixPointDays(std::span<const int> fix_days, std::span<const double> alt_dep,
                                          double altitude, int hold_point, int start_day,
                                          std::span<int> corrected) {
  if (fix_days.empty()) return {};
  const std::size_t n = fix_days.size() - 1;
  for (std::size_t i = 1; i <= n; ++i) {
    double day = 0.0;
    if (hold_point > 0 && i == static_cast<std::size_t>(hold_point)) {
      day = start_day;
    } else if (hold_point > 0 && i == static_cast<std::size_t>(hold_point) + 1) {
      day = static_cast<double>(fix_days[i]) + start_day;  // counts from the vegetation start
    } else {
      day = AltitudeCorrectedDay(fix_days[i], i < alt_dep.size() ? alt_dep[i] : 0.0, altitude);
    }
    // Written so that a nan day (from a nan altitude or altitude dependence)
    // is refused too.
    if (!(day >= kFirstValidCorrectedDay && day <= kLastValidDay)) return {static_cast<int>(i), day};
    corrected[i] = static_cast<int>(day);
  }
  corrected[0] = fix_days[n] - kDaysPerYearWrap;
  return {};
}

int FixPointInterval(std::span<const int> fix_point_days, int day_of_year) {
  const std::size_t n = fix_point_days.empty() ? 0 : fix_point_days.size() - 1;
  for (std::size_t i = 1; i <= n; ++i) {
    const int day = fix_point_days[i];
    // A negative day (a vegetation start not yet found) ends the search.
    if (day_of_year <= day || day < 0) return static_cast<int>(i);
  }
  return static_cast<int>(n) + 1;
}

double FixPointValue(std::span<const double> values, std::span<const int> fix_point_days, int day_of_year,
                     int hold_point) {
  if (fix_point_days.size() < 2) return 0.0;
  std::size_t i = static_cast<std::size_t>(FixPointInterval(fix_point_days, day_of_year));
  int day = day_of_year;
  if (i == fix_point_days.size()) {
    i = 1;
    day -= kDaysPerYearWrap;
  }
  // Before the vegetation start the value of the fix point before it holds.
  if (i == static_cast<std::size_t>(hold_point)) return values[i - 1];
  return InterpolateByDay(fix_point_days[i - 1], values[i - 1], fix_point_days[i], values[i], day);
}

namespace {

// The fix point of the day with the year wrap: i in 1..n, and the day moved
// back by a year when it lies after the last fix point.
std::size_t WrappedInterval(std::span<const int> fix_point_days, int& day_of_year) {
  const auto i = static_cast<std::size_t>(FixPointInterval(fix_point_days, day_of_year));
  if (i < fix_point_days.size()) return i;
  day_of_year -= kDaysPerYearWrap;
  return 1;
}

}  // namespace

double VegetationStartOnDay(std::span<const int> fix_point_days, int day_of_year, int start_point,
                            int stop_point) {
  const int P = start_point;
  const int Q = stop_point;
  if (fix_point_days.size() < 2) return -1.0;
  const std::size_t i = WrappedInterval(fix_point_days, day_of_year);
  const int corrected = fix_point_days[i];
  const int point = static_cast<int>(i);
  const bool started = point >= P && (point < Q || Q < P) && day_of_year >= corrected && corrected > 0;
  return started ? day_of_year : -1.0;
}

double VegetationStopOnDay(std::span<const int> fix_point_days, int day_of_year, int stop_point) {
  if (fix_point_days.size() < 2) return -1.0;
  const std::size_t i = WrappedInterval(fix_point_days, day_of_year);
  if (static_cast<int>(i) != stop_point) return -1.0;
  return day_of_year == fix_point_days[i] ? day_of_year : -1.0;
}

void WriteDayOfYearFailure(MessageStream* messages, int code, int day, int month, int year) {
  if (!messages) return;
  *messages << "FATAL: land use " << code << ": the date " << day << "." << month << "." << year
            << " gives no day of the year between 0 and 366"
            << "[end-entry]";
}

void WriteFixPointDayFailure(MessageStream* messages, const fix_point_day_failure& failure) {
  if (!messages) return;
  *messages << "FATAL: \n---ERROR--\naltitude correction resulted in a Julian day of " << failure.day
            << " for fix point " << failure.point << " (JD should be between 1 and 366)"
            << "[end-entry]";
}

// ---------------------------------------------------------------- a record on a day

int landuse_table_entry::DayOfYear(MessageStream* messages, int day, int month, int year) {
  month_lengths[2] = DaysInMonth(2, year);
  const int day_of_year = DayOfYearOfDate(day, month, year);
  if (day_of_year == kNoDayOfYear) {
    WriteDayOfYearFailure(messages, code, day, month, year);
    throw ErrorCode{kDayOfYearErrorCode};
  }
  return day_of_year;
}

int landuse_table_entry::StartHoldPoint() const {
  return UsesStartHold() && start_point >= 1 && start_point < fix_point_count ? start_point : 0;
}

fix_point_day_failure landuse_table_entry::CorrectDays(double altitude, int start_day,
                                                       std::span<int> corrected) const {
  const auto n = static_cast<std::size_t>(fix_point_count);
  if (fix_point_count < 1 || fix_days.size() < n + 1 || corrected.size() < n + 1) return {};
  return CorrectFixPointDays(std::span<const int>(fix_days).first(n + 1), lists.AltDep, altitude,
                             StartHoldPoint(), start_day, corrected.first(n + 1));
}

int landuse_table_entry::CellStartDay(int layer, int row, int col) const {
  if (!UsesStartHold() || !pheno_start_grids || layer < 1 ||
      static_cast<std::size_t>(layer) >= pheno_start_grids->size()) {
    return -1;
  }
  double** grid = (*pheno_start_grids)[static_cast<std::size_t>(layer)];
  return grid ? CellInteger(grid[row][col]) : -1;
}

const double* landuse_table_entry::CellStartTimes(int layer, int row, int col) const {
  if ((method != kMethodDynamicPhenology3 && method != kMethodDynamicPhenology4) || !start_time_lists ||
      start_time_levels < fix_point_count || layer < 1 ||
      static_cast<std::size_t>(layer) >= start_time_lists->size()) {
    return nullptr;
  }
  double*** stack = (*start_time_lists)[static_cast<std::size_t>(layer)];
  return stack ? stack[row][col] : nullptr;
}

double landuse_table_entry::CellForcingSum(int layer, int row, int col) const {
  if (!forcing_sum_grids || layer < 1 || static_cast<std::size_t>(layer) >= forcing_sum_grids->size()) {
    return 0.0;
  }
  double** grid = (*forcing_sum_grids)[static_cast<std::size_t>(layer)];
  return grid ? grid[row][col] : 0.0;
}

fix_point_day_failure landuse_table_entry::AtCell(int layer, int row, int col, double altitude,
                                                  std::span<int> days, landuse_cell_day& at) const {
  at.start_times = CellStartTimes(layer, row, col);
  at.forcing_sum = 0.0;
  at.fix_point_days = {};
  if (at.start_times) {
    // Only the forcing thresholds of method 5 read the forcing sum.
    if (method == kMethodDynamicPhenology3) at.forcing_sum = CellForcingSum(layer, row, col);
    return {};
  }
  const auto n = static_cast<std::size_t>(fix_point_count);
  if (fix_point_count < 1 || fix_days.size() < n + 1 || days.size() < n + 1) return {};
  const std::span<int> corrected = days.first(n + 1);
  const fix_point_day_failure failure = CorrectDays(altitude, CellStartDay(layer, row, col), corrected);
  if (failure.point == 0) at.fix_point_days = corrected;
  return failure;
}

int landuse_table_entry::StartTimeInterval(const double* start_times, int day_of_year) const {
  const int n = fix_point_count;
  int i = 1;
  if (start_times[1] <= day_of_year) {
    while (i < n && start_times[i] > 0) {
      const bool passed = day_of_year >= start_times[i + 1];
      ++i;
      if (!passed) break;
    }
  }
  return i;
}

double landuse_table_entry::ValueFromStartTimes(value_list list, const double* start_times, int day_of_year,
                                                double forcing_sum) const {
  const std::vector<double>& values = lists.*list;
  const int n = fix_point_count;
  const int i = StartTimeInterval(start_times, day_of_year);
  const auto index = static_cast<std::size_t>(i);
  if (method == kMethodDynamicPhenology3 && i <= n && lists.ForcingThreshold[index] > 0.0) {
    // The value follows the forcing sum from the last threshold reached.
    return InterpolateByDay(start_times[0], values[index - 1], lists.ForcingThreshold[index], values[index],
                            forcing_sum);
  }
  // A fix point not yet reached holds the value before it; before the first
  // fix point the left node is the last fix point of the previous year.
  if (start_times[i] <= 0) return values[index - 1];
  const double left_day =
      i == 1 ? fix_days[static_cast<std::size_t>(n)] - kDaysPerYearWrap : start_times[i - 1];
  return InterpolateByDay(left_day, values[index - 1], start_times[i], values[index], day_of_year);
}

double landuse_table_entry::ValueOn(value_list list, const landuse_cell_day& at) const {
  const std::vector<double>& values = lists.*list;
  if (fix_point_count < 1) return 0.0;
  if (HoldsMonthlyValues(values)) return MonthlyValue(values, at.month_lengths, at.day, at.month);
  if (at.start_times) return ValueFromStartTimes(list, at.start_times, at.day_of_year, at.forcing_sum);
  return FixPointValue(values, at.fix_point_days, at.day_of_year, StartHoldPoint());
}

double landuse_table_entry::ResistanceOn(value_list list, const landuse_cell_day& at) const {
  if (method == kMethodMonthly) return MonthlyValue(lists.*list, at.month_lengths, at.day, at.month);
  return ValueOn(list, at);
}

double landuse_table_entry::VegetationStartOn(const landuse_cell_day& at) const {
  const int P = veg_start_point;
  const int Q = veg_stop_point;
  if (P == 0) return 0.0;
  if (at.start_times) {
    const int i = StartTimeInterval(at.start_times, at.day_of_year);
    const bool started = P <= i - 1 && (i - 1 < Q || Q < P) && at.day_of_year >= at.start_times[i - 1];
    return started ? at.day_of_year : -1.0;
  }
  return VegetationStartOnDay(at.fix_point_days, at.day_of_year, P, Q);
}

double landuse_table_entry::VegetationStopOn(const landuse_cell_day& at) const {
  const int Q = veg_stop_point;
  if (Q == 0) return 0.0;
  if (at.start_times) {
    const int i = StartTimeInterval(at.start_times, at.day_of_year);
    return i - 1 == Q && at.day_of_year == at.start_times[i - 1] ? at.day_of_year : -1.0;
  }
  return VegetationStopOnDay(at.fix_point_days, at.day_of_year, Q);
}

bool landuse_table_entry::HoldsMonthlyValues(const std::vector<double>& values) const {
  return method == kMethodMonthly && values.size() == static_cast<std::size_t>(kMonthlyListSize);
}

void landuse_table_entry::WriteCellEntry(MessageStream* messages, int row, int col, int layer,
                                         double altitude, int day_of_year) const {
  if (!messages) return;
  *messages << "FATAL: Coordinates: i=" << row << ", j=" << col << "\nLayer=" << layer
            << "\nAltitude=" << altitude << "m\nJulday=" << day_of_year << "\nLanduse Code=" << code
            << "\nTStart=" << start_offset << "[end-entry]";
}

void landuse_table_entry::InitializeStart(MessageStream* messages, int day, int month, int year) {
  if (!UsesStartHold() || start_point < 1 || start_point >= fix_point_count) return;
  forcing_active = true;
  if (DayOfYear(messages, day, month, year) > maxStartJDforDP1) {
    start_offset = maxStartJDforDP1 - fix_days[static_cast<std::size_t>(start_point) + 1];
  }
}

landuse_cell_day LanduseDay(int day, int month, int year) {
  landuse_cell_day date;
  date.day = day;
  date.month = month;
  date.day_of_year = DayOfYearOfDate(day, month, year);
  date.month_lengths = LanduseMonthLengths(year);
  return date;
}

const landuse_cell_day& LanduseMonthDay(MessageStream* messages, const landuse_table_entry& record,
                                        const landuse_cell_day& date, int year) {
  if (date.month < 1 || date.month > 12) {
    if (messages) {
      *messages << "FATAL: land use " << record.Code() << ": the month " << date.month << " of the date "
                << date.day << "." << date.month << "." << year
                << " lies outside 1..12 for the monthly resistances"
                << "[end-entry]";
    }
    throw ErrorCode{kMonthErrorCode};
  }
  return date;
}

landuse_cell_day LanduseCellDay(MessageStream* messages, const landuse_table_entry& record,
                                const landuse_cell_day& date, int year, int layer, int row, int col,
                                double altitude, std::span<int> days, bool name_cell) {
  if (date.day_of_year == kNoDayOfYear) {
    WriteDayOfYearFailure(messages, record.Code(), date.day, date.month, year);
    throw ErrorCode{kDayOfYearErrorCode};
  }
  landuse_cell_day at = date;
  const fix_point_day_failure failure = record.AtCell(layer, row, col, altitude, days, at);
  if (failure.point > 0) {
    WriteFixPointDayFailure(messages, failure);
    if (name_cell) record.WriteCellEntry(messages, row, col, layer, altitude, date.day_of_year);
    throw ErrorCode{kAltitudeCorrectionErrorCode};
  }
  return at;
}

}  // namespace velmo
