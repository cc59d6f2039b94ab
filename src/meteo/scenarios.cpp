// Scenario values of a day and at a point.
#include "meteo/scenarios.h"

#include <cstddef>

#include "framework/types.h"

namespace velmo {
namespace {

int MonthBefore(int month) { return month == 1 ? kMonths : month - 1; }
int MonthAfter(int month) { return month == kMonths ? 1 : month + 1; }

}  // namespace

double ScenarioDayValue(const scenario_row& row, int day, int month) {
  const auto& v = row.month;
  if (day > kMidMonthDay) {
    const double length = kMonthLengths[static_cast<std::size_t>(month)];
    return (length - day + kMidMonthDay) / length * v[static_cast<std::size_t>(month)] +
           (day - kMidMonthDay) / length * v[static_cast<std::size_t>(MonthAfter(month))];
  }
  const int before = MonthBefore(month);
  const double length = kMonthLengths[static_cast<std::size_t>(before)];
  return (day + length - (kMidMonthDay + 1)) / length * v[static_cast<std::size_t>(month)] +
         ((kMidMonthDay + 1) - day) / length * v[static_cast<std::size_t>(before)];
}

double NearestScenarioValue(const std::vector<scenario_row>& rows, double x, double y) {
  double best = kScenarioFarthest;
  double value = 0.0;
  for (const scenario_row& row : rows) {
    const double dx = row.x - x;
    const double dy = row.y - y;
    const double d2 = dx * dx + dy * dy;
    if (d2 <= best) {
      best = d2;
      value = row.day_value;
    }
  }
  return value;
}

}  // namespace velmo
