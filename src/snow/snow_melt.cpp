// Snow physics of the temperature-index methods: the method table, monthly and seasonal values of the day.
#include "snow/snow_melt.h"

#include <cmath>

namespace velmo {
namespace {

// A month's value holds on this day; interpolation runs between such days.
constexpr int kMonthMiddle = 16;
constexpr int kLastDayBeforeMiddle = 15;
constexpr int kMonthsPerYear = 12;

double Interpolate(double x1, double y1, double x2, double y2, double x) {
  if (x2 - x1 == 0.0) return y1;
  return (x2 - x) / (x2 - x1) * y1 + (x - x1) / (x2 - x1) * y2;
}

}  // namespace

snow_method_kind SnowMethodKind(int method) {
  using enum snow_melt_kind;
  snow_method_kind kind;
  kind.defined = true;
  switch (method) {
    case 1:
      kind.melt = degree_day;
      break;
    case 2:
      kind.melt = temperature_wind;
      break;
    case 3:
      kind.melt = rain_on_snow;
      kind.refreezes = true;
      break;
    case 4:
      kind.melt = rain_on_snow_humidity;
      kind.refreezes = true;
      break;
    case 5:
      kind.melt = energy_balance;
      break;
    case 6:
      kind.melt = energy_balance;
      kind.slides = true;
      break;
    case 7:
      kind.melt = energy_balance;
      kind.slides = kind.deposition_index = true;
      break;
    case 8:
      kind.melt = degree_day;
      kind.slides = true;
      break;
    case 9:
      kind.melt = degree_day;
      kind.slides = kind.deposition_index = true;
      break;
    case 10:
      kind.melt = degree_day;
      kind.deposition_index = true;
      break;
    case 11:
      kind.melt = energy_balance;
      kind.deposition_index = true;
      break;
    case 12:
      kind.melt = temperature_wind;
      kind.slides = true;
      break;
    case 13:
      kind.melt = temperature_wind;
      kind.deposition_index = true;
      break;
    case 14:
      kind.melt = temperature_wind;
      kind.slides = kind.deposition_index = true;
      break;
    default:
      return snow_method_kind{};
  }
  kind.needs_wind = kind.melt != degree_day;
  return kind;
}

bool FillMonthlyTable(const double* numbers, int count, monthly_table& table) {
  if (count <= 0) return false;
  if (count >= kMonthsPerYear) {
    for (int m = 1; m <= kMonthsPerYear; ++m) table[static_cast<std::size_t>(m)] = numbers[m - 1];
    table[0] = table[kMonthsPerYear];
    table[kMonthsPerYear + 1] = table[1];
  } else {
    table.fill(numbers[0]);
  }
  return true;
}

double MonthlyValueOfDay(const monthly_table& table, int day, int month,
                         const std::array<int, 13>& month_lengths) {
  const auto m = static_cast<std::size_t>(month);
  if (day > kLastDayBeforeMiddle) {
    const double next_middle = kMonthMiddle + month_lengths[m];
    return Interpolate(kMonthMiddle, table[m], next_middle, table[m + 1], day);
  }
  return Interpolate(-kLastDayBeforeMiddle, table[m - 1], kLastDayBeforeMiddle, table[m], day);
}

double SeasonalFactor(double mean, double amplitude, int day, int month,
                      const std::array<int, 13>& month_lengths) {
  const double n = day + (month - 1) * month_lengths[static_cast<std::size_t>(month)];
  return mean + amplitude * std::sin((n + kSeasonalPhase) * kSeasonalAngularFrequency);
}

}  // namespace velmo
