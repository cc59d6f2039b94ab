// Values given per month and the value of a day between them: the snow
// model's degree-day factors and the Hamon factors of the evapotranspiration.
#pragma once

#include <array>
#include <cstddef>

namespace velmo {

// Monthly values indexed 0..13: 1..12 January..December, 0 a copy of
// December and 13 a copy of January, for interpolation across the year end.
using monthly_table = std::array<double, 14>;

// Fills indices 0 and 13 from 12 and 1.
inline void WrapMonthlyTable(monthly_table& table) {
  table[0] = table[12];
  table[13] = table[1];
}

// Linear interpolation between (x1, y1) and (x2, y2) at x; y1 when x1 = x2.
inline double LinearBetween(double x1, double y1, double x2, double y2, double x) {
  if (x2 - x1 == 0.0) return y1;
  return (x2 - x) / (x2 - x1) * y1 + (x - x1) / (x2 - x1) * y2;
}

// A month's value holds on its 16th day.
inline constexpr int kMonthValueDay = 16;

// The value of day `day` of month `month` (1..12): linear between the
// mid-month days, the month before counting 30 days to this month's middle
// and this month `month_lengths[month]` days to the next one's.
inline double MidMonthValue(const monthly_table& table, int day, int month,
                            const std::array<int, 13>& month_lengths) {
  const auto m = static_cast<std::size_t>(month);
  constexpr double kHalfMonth = kMonthValueDay - 1;  // days from the previous middle to the 1st
  if (day < kMonthValueDay) return LinearBetween(-kHalfMonth, table[m - 1], kHalfMonth, table[m], day);
  return LinearBetween(kMonthValueDay, table[m], kMonthValueDay + month_lengths[m], table[m + 1], day);
}

}  // namespace velmo
