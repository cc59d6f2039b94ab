// Small value types shared by every subsystem.
#pragma once

#include <array>
#include <cstddef>

// The clock units (kMinutesPerHour, kHoursPerDay, kMinutesPerDay) come with
// the physics units.
#include "physics/units.h"

namespace velmo {

// A calendar date of the model: minute, hour, day, month, year.
struct model_date {
  int minute = 0;
  int hour = 0;
  int day = 0;
  int month = 0;
  int year = 0;
};

// Factors of the date key: a month counts 31 days and a year 12 such months,
// so keys order dates but their difference is no duration.
inline constexpr std::array<int, 5> kDateKeyFactors = {535680, 44640, 1440, 60, 1};

// Date keys are 64-bit: the placeholder date -9999 of a run without
// meteorological input and far years must not overflow.
using date_key_t = long long;

constexpr date_key_t date_key(int year, int month, int day, int hour, int minute,
                              const std::array<int, 5>& factors = kDateKeyFactors) {
  return static_cast<date_key_t>(year) * factors[0] + static_cast<date_key_t>(month) * factors[1] +
         static_cast<date_key_t>(day) * factors[2] + static_cast<date_key_t>(hour) * factors[3] +
         static_cast<date_key_t>(minute) * factors[4];
}
constexpr date_key_t date_key(const model_date& d, const std::array<int, 5>& factors = kDateKeyFactors) {
  return date_key(d.year, d.month, d.day, d.hour, d.minute, factors);
}

// Days per month, index 1..12 (index 0 unused); February as in a common year.
inline constexpr std::array<int, 13> kMonthLengths = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
constexpr int DaysInMonth(int month, int year) {
  return month == 2 && IsLeapYear(year) ? 29 : kMonthLengths[static_cast<size_t>(month)];
}

// Minutes from a fixed origin of the Gregorian calendar to a date: the real
// time, so that 24:00 of a day is 00:00 of the next one and a month counts its
// own days. Days, hours and minutes beyond their range count on (day 31 of
// April is 1 May). Used where a date is compared with the end of the run.
constexpr long long CalendarMinutes(const model_date& d) {
  // Days from 1 March of year 0, months counted from March so that the leap
  // day comes last (a year of 365 or 366 days, a 400-year cycle of 146097).
  const long long year = static_cast<long long>(d.year) - (d.month <= 2 ? 1 : 0);
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long year_of_era = year - era * 400;
  const long long month = d.month > 2 ? d.month - 3 : d.month + 9;
  const long long day_of_year = (153 * month + 2) / 5 + d.day - 1;
  const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const long long days = era * 146097 + day_of_era;
  return (days * kHoursPerDay + d.hour) * kMinutesPerHour + d.minute;
}

// Whether `date` lies at or after `end` in real time.
constexpr bool AtOrAfter(const model_date& date, const model_date& end) {
  return CalendarMinutes(date) >= CalendarMinutes(end);
}

// The date that the day-based terms of a step take (the sun of the day, the
// end of a day, month or year): a step that ends at 00:00 ends the day
// before, as one stamped 24:00 does, so it becomes hour 24 of that day. Every
// other date stays as it is. `interval_end_shift` (hours) moves the data time
// to the end of the step.
constexpr model_date EndOfDayForm(const model_date& step, double interval_end_shift) {
  const int end_of_step =
      static_cast<int>(step.minute + kMinutesPerHour * interval_end_shift) + kMinutesPerHour * step.hour;
  if (end_of_step != 0 || step.month < 1 || step.month > 12) return step;
  model_date day_before = step;
  day_before.hour += kHoursPerDay;
  if (--day_before.day >= 1) return day_before;
  if (--day_before.month < 1) {
    day_before.month = 12;
    --day_before.year;
  }
  day_before.day = DaysInMonth(day_before.month, day_before.year);
  return day_before;
}

// Georeference of a raster as in the ASCII header; row 1 is the northernmost.
struct grid_header {
  int ncols = 0;
  int nrows = 0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 0.0;
  double nodata_value = -9999.0;
};

// One zone of a zone table; record 0 holds the totals.
struct zone_record {
  double weight_sum = 0.0;
  double value_sum = 0.0;
  double code = 0.0;
  double area_fraction = 0.0;
  double mean_divisor = 0.0;
};

// First and last valid column of one grid row.
struct row_range {
  int first = 0;
  int last = 0;
};

// One regression region: centre as mean row and column (also truncated to
// whole numbers), and its cell count.
struct region_record {
  int centre_row_index = 0;
  int centre_col_index = 0;
  double centre_row = 0.0;
  double centre_col = 0.0;
  double cell_count = 0.0;
};

}  // namespace velmo
