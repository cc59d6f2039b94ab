// Adjustments of an interpolated value: scaling and limits, and climate
// scenarios given as monthly values at points (blended to the day) or as
// monthly grids. Numbers in, numbers out.
#pragma once

#include <array>
#include <vector>

namespace velmo {

// Scenario methods: 1 and 6 add the scenario value, the others multiply;
// 3 gives percentages; 5 and 6 take monthly grids instead of rows.
inline constexpr int kAddingScenarioMethod = 1;
inline constexpr int kPercentScenarioMethod = 3;
inline constexpr int kGridScenarioMethod = 5;
inline constexpr int kAddingGridScenarioMethod = 6;
inline constexpr int kMonths = 12;
// Days of the month at which a monthly value holds alone.
inline constexpr int kMidMonthDay = 15;
// Starting distance of the nearest-row search (m²); rows farther away are
// never taken.
inline constexpr double kScenarioFarthest = 1e15;

inline bool IsGridScenario(int method) {
  return method == kGridScenarioMethod || method == kAddingGridScenarioMethod;
}
inline bool IsAddingScenario(int method) {
  return method == kAddingScenarioMethod || method == kAddingGridScenarioMethod;
}

// One scenario row: a point and its value per month (1..12).
struct scenario_row {
  double x = 0.0;
  double y = 0.0;
  std::array<double, kMonths + 1> month{};
  double day_value = 0.0;  // the value of the current day
};

// The row's value for `day` of `month`: the monthly values blended linearly
// between the middles of the months (February counted with 28 days).
double ScenarioDayValue(const scenario_row& row, int day, int month);
// The day value of the row nearest to (x, y) (the later one at equal
// distance); 0 without rows.
double NearestScenarioValue(const std::vector<scenario_row>& rows, double x, double y);

// The scenario value that changes nothing: 0 for the adding methods, 1 for
// the multiplying ones. It stands in where a scenario gives no value.
inline double ScenarioIdentity(int method) { return IsAddingScenario(method) ? 0.0 : 1.0; }

inline double ApplyScenario(double value, double scenario, int method) {
  return IsAddingScenario(method) ? value + scenario : value * scenario;
}

// Lower limit and its replacement, upper limit and its replacement.
struct result_limits {
  double lower = 0.0;
  double lower_replacement = 0.0;
  double upper = 0.0;
  double upper_replacement = 0.0;
};
inline double ApplyLimits(double value, const result_limits& limits) {
  if (value < limits.lower) return limits.lower_replacement;
  if (value > limits.upper) return limits.upper_replacement;
  return value;
}

}  // namespace velmo
