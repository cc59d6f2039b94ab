// Operating rules: slopes, the blend of the seasons, table values, windows, the cap.
#include "routing/operating_rule.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace velmo {
namespace {

constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int kWindowEnd = 24;  // the latest hour of a step stamp

// Value of `table` at `row` continued to `argument` along its slope.
double Along(const operating_rule& rule, int table, int row, double argument) {
  const size_t t = static_cast<size_t>(table);
  const size_t r = static_cast<size_t>(row);
  return rule.slope[t][r] * (argument - rule.x[r]) + rule.y[t][r];
}

double Blend(const day_blend& blend, double lower, double upper) {
  return blend.weight * upper + (1.0 - blend.weight) * lower;
}

}  // namespace

void DeriveSlopes(operating_rule& rule) {
  const int rows = rule.Rows();
  rule.slope.assign(rule.y.size(), std::vector<double>(static_cast<size_t>(rows), 0.0));
  for (size_t t = 0; t < rule.y.size(); ++t) {
    for (size_t r = 0; r + 1 < static_cast<size_t>(rows); ++r) {
      const double dx = rule.x[r + 1] - rule.x[r];
      const double dy = rule.y[t][r + 1] - rule.y[t][r];
      if (rule.flow_indexed)
        rule.slope[t][r] = dy != 0.0 ? dx / dy : 0.0;
      else
        rule.slope[t][r] = dx != 0.0 ? dy / dx : 0.0;
    }
  }
}

int RuleDayOfYear(int month, int day) {
  int days = day;
  for (int m = 1; m < month && m <= 12; ++m) days += kMonthDays[m - 1];
  return days;
}

day_blend BlendOfDay(const std::vector<int>& start_days, int day_of_year) {
  const int tables = static_cast<int>(start_days.size());
  if (tables <= 1 || day_of_year <= start_days[0]) return {};
  auto start = [&](int table) { return static_cast<double>(start_days[static_cast<size_t>(table)]); };
  int upper = 1;
  while (upper < tables - 1 && start(upper) < day_of_year) ++upper;
  if (start(upper) >= day_of_year)
    return {upper - 1, upper, (day_of_year - start(upper - 1)) / (start(upper) - start(upper - 1))};
  // After the last start day: towards table 1 of the next year, so that the
  // year ends where it began.
  const int last = tables - 1;
  return {last, 0, (day_of_year - start(last)) / (start(0) + kRuleDaysPerYear - start(last))};
}

double RuleValue(const operating_rule& rule, const day_blend& blend, double argument) {
  const int rows = rule.Rows();
  if (rows == 0) return 0.0;
  const size_t lower = static_cast<size_t>(blend.lower);
  const size_t upper = static_cast<size_t>(blend.upper);
  if (!rule.flow_indexed) {
    const size_t last = static_cast<size_t>(rows) - 1;
    if (argument > rule.x[last]) return Blend(blend, rule.y[lower][last], rule.y[upper][last]);
    // The highest row below the argument, by bisection over rows 0..R-2.
    const auto end = rule.x.begin() + static_cast<std::ptrdiff_t>(last);
    const int row = static_cast<int>(std::lower_bound(rule.x.begin(), end, argument) - rule.x.begin()) - 1;
    if (row < 0) return 0.0;
    return Blend(blend, Along(rule, blend.lower, row, argument), Along(rule, blend.upper, row, argument));
  }
  // Flow-indexed: the blended argument column need not rise, so it is
  // searched from the top.
  for (size_t r = static_cast<size_t>(rows) - 1; r-- > 0;) {
    const double edge = Blend(blend, rule.y[lower][r], rule.y[upper][r]);
    if (argument > edge)
      return (argument - edge) * Blend(blend, rule.slope[lower][r], rule.slope[upper][r]) + rule.x[r];
  }
  return 0.0;
}

double RuleValueAboveTop(const operating_rule& rule, const day_blend& blend, double argument) {
  const int rows = rule.Rows();
  if (rows == 0) return 0.0;
  const size_t last = static_cast<size_t>(rows) - 1;
  auto extended = [&](int table) {
    const size_t t = static_cast<size_t>(table);
    const double slope = last > 0 ? rule.slope[t][last - 1] : 0.0;
    return rule.y[t][last] + slope * (argument - rule.x[last]);
  };
  return Blend(blend, extended(blend.lower), extended(blend.upper));
}

bool RuleTableOpen(const operating_rule& rule, int table, int weekday, int hour) {
  const size_t t = static_cast<size_t>(table);
  if (const int days = rule.weekdays[t]; days > 0) {
    bool found = false;
    for (int rest = days; rest > 0 && !found; rest /= 10) found = rest % 10 == weekday;
    if (!found) return false;
  }
  const int start = rule.start_hour[t] >= 0 ? rule.start_hour[t] : 0;
  const int stop = rule.stop_hour[t] >= 0 ? rule.stop_hour[t] : kWindowEnd;
  if (start <= stop) return start <= hour && hour <= stop;
  return hour >= start || hour <= stop;
}

int RuleWeekday(int year, int month, int day, int hour, int minute, double shift_hours, bool with_minutes) {
  using namespace std::chrono;
  const sys_days date{year_month_day{std::chrono::year{year},
                                     std::chrono::month{static_cast<unsigned>(month)},
                                     std::chrono::day{static_cast<unsigned>(day)}}};
  const auto moment = date + hours{hour - static_cast<int>(shift_hours)} + minutes{with_minutes ? minute : 0};
  return static_cast<int>(weekday{floor<days>(moment)}.iso_encoding());
}

double CappedRate(double rate, double cap, double receiving_flow) {
  if (cap > 0.0 && cap < receiving_flow + rate) return std::max(0.0, cap - receiving_flow);
  return rate;
}

int control_lines::FindSection(const std::string& section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& line = lines_[i];
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    const size_t end = line.find_first_of(" \t\r", first);
    if (line.compare(first, end == std::string::npos ? std::string::npos : end - first, section) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace velmo
