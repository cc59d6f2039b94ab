// Cost of one land-use value of a day (the albedo a snow module needs per
// snow-free cell and step): the pure look-up from fix-point days cached per
// land use and cell altitude, the same with the days found on every call, and
// the look-up of a date, which also finds the day of the year and the cell's
// day.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/types.h"
#include "setup/tables.h"

namespace {

using velmo::landuse_table_entry;

constexpr double kAltitude = 1250.0;  // m
constexpr int kYear = 2001;
constexpr int kDaysInYear = 365;

// Land uses of the key block and positional forms, one holding its value
// until the vegetation start.
std::vector<landuse_table_entry> Landuses() {
  const std::string common =
      " RootDist = 1; TReduWet = 0.95; HReduDry = 3;\n rsc = 80 60 50 80; LAI = 1 2 4 1.5;\n"
      " Z0 = 0.02 0.03 0.05 0.02; VCF = 0.5 0.7 0.9 0.5; RootDepth = 0.2 0.3 0.4 0.2;\n";
  std::vector<landuse_table_entry> table(4);
  table[0].ParseKeyBlock(nullptr,
                         "20 grass method VariableDayCount {\n" + common +
                             " JulDays = 1 100 200 300; Albedo = 0.2 0.25 0.3 0.2;\n"
                             " AltDep = 0.025 0.025 -0.025 -0.025;\n}",
                         "VariableDayCount");
  table[1].ParseKeyBlock(nullptr,
                         "21 field method VariableDayCount {\n" + common +
                             " JulDays = 60 120 240 330; Albedo = 0.15 0.2 0.25 0.18;\n"
                             " AltDep = 0.01 0.01 0.01 0.01;\n}",
                         "VariableDayCount");
  table[2].ParseKeyBlock(nullptr,
                         "30 beech method DynamicPhenology_1 {\n" + common +
                             " JulDays = 1 -1 30 300; Albedo = 0.15 0.15 0.18 0.15; AltDep = 0 0 0 0;\n"
                             " F* = 250; DP1_t1_dorm = 32; DP1_T_Bf = 5; JDReset_TStart = 300;\n"
                             " maxStartJDforDP1 = 150;\n}",
                         "DynamicPhenology_1");
  table[3].ParsePositional(nullptr,
                           "10 conifer 0.12 40 100 90 80 70 60 60 70 80 90 100 100 1 120 240 366 4 5 6 7 "
                           "1.0 1.1 1.2 1.3 0.9 0.9 0.9 0.9 1.5 1.6 1.7 1.8");
  return table;
}

// Fix-point days of each land use at the cell, as a module caches them.
std::vector<std::vector<int>> CachedDays(const std::vector<landuse_table_entry>& table) {
  std::vector<std::vector<int>> days;
  for (const landuse_table_entry& record : table) {
    days.emplace_back(static_cast<std::size_t>(record.FixPointCount()) + 1);
    record.CorrectDays(kAltitude, -1, days.back());
  }
  return days;
}

// Land use and day of the year of the i-th call: every land use on every day.
struct call {
  std::size_t landuse;
  int day_of_year;
};
call CallNumber(std::size_t i, std::size_t landuses) {
  return {i % landuses, static_cast<int>((i / landuses) % kDaysInYear) + 1};
}

void BM_CachedFixPointValue(benchmark::State& state) {
  const std::vector<landuse_table_entry> table = Landuses();
  const std::vector<std::vector<int>> days = CachedDays(table);
  std::size_t i = 0;
  for (auto _ : state) {
    const call c = CallNumber(i++, table.size());
    const landuse_table_entry& record = table[c.landuse];
    benchmark::DoNotOptimize(
        velmo::FixPointValue(record.lists.Albedo, days[c.landuse], c.day_of_year, record.StartHoldPoint()));
  }
}
BENCHMARK(BM_CachedFixPointValue);

void BM_FixPointDaysAndValue(benchmark::State& state) {
  const std::vector<landuse_table_entry> table = Landuses();
  std::vector<int> days(16);
  std::size_t i = 0;
  for (auto _ : state) {
    const call c = CallNumber(i++, table.size());
    const landuse_table_entry& record = table[c.landuse];
    record.CorrectDays(kAltitude, -1, days);
    benchmark::DoNotOptimize(
        velmo::FixPointValue(record.lists.Albedo, days, c.day_of_year, record.StartHoldPoint()));
  }
}
BENCHMARK(BM_FixPointDaysAndValue);

void BM_RecordAlbedoOfDate(benchmark::State& state) {
  const std::vector<landuse_table_entry> table = Landuses();
  std::vector<int> days(16);
  // The date of each day of the year.
  std::vector<std::pair<int, int>> dates(kDaysInYear + 1);
  for (int month = 1, day_of_year = 1; month <= 12; ++month)
    for (int day = 1; day <= velmo::DaysInMonth(month, kYear); ++day) dates[day_of_year++] = {day, month};
  std::size_t i = 0;
  for (auto _ : state) {
    const call c = CallNumber(i++, table.size());
    const auto [day, month] = dates[static_cast<std::size_t>(c.day_of_year)];
    const landuse_table_entry& record = table[c.landuse];
    const velmo::landuse_cell_day at = velmo::LanduseCellDay(
        nullptr, record, velmo::LanduseDay(day, month, kYear), kYear, 1, 1, 1, kAltitude, days, false);
    benchmark::DoNotOptimize(record.ValueOn(&velmo::landuse_fix_point_lists::Albedo, at));
  }
}
BENCHMARK(BM_RecordAlbedoOfDate);

}  // namespace
