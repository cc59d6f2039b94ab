// Snow physics of the temperature-index methods: monthly lines and seasonal values of the day.
#include "snow/snow_melt.h"

#include <cmath>

namespace velmo {
namespace {

constexpr int kMonthsPerYear = 12;

}  // namespace

bool FillMonthlyTable(const double* numbers, int count, monthly_table& table) {
  if (count >= kMonthsPerYear) {
    for (int m = 1; m <= kMonthsPerYear; ++m) table[static_cast<std::size_t>(m)] = numbers[m - 1];
    WrapMonthlyTable(table);
    return true;
  }
  if (count != 1) return false;
  table.fill(numbers[0]);
  return true;
}

double SeasonalFactor(double mean, double amplitude, int day, int month,
                      const std::array<int, 13>& month_lengths) {
  const double n = day + (month - 1) * month_lengths[static_cast<std::size_t>(month)];
  return mean + amplitude * std::sin((n + kSeasonalPhase) * kSeasonalAngularFrequency);
}

}  // namespace velmo
