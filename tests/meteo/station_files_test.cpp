// Station-file and grid-list parsing: labels and station count, block
// capacity, record dates with the year rule, the missing-value rule.
#include "meteo/station_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmo {
namespace {

TEST(StationFile, LabelsMinutesAndStationCount) {
  struct Case {
    const char* line;
    int additional_columns;
    bool minutes;
    int count;
  };
  const Case cases[] = {
      {"YY MM DD HH mm 500 600 700", 0, true, 3},
      {"YYYY\tMM\tDD\tHH\t500\t600", 0, false, 2},
      {"YY MM DD HH mm id flag 500 600 700", 2, true, 3},
      {"YY MM DD HH 500 600 700 \r", 0, false, 3},
      {"YY MM DD HH", 0, false, 0},
  };
  for (const Case& c : cases) {
    const station_columns columns = ParseStationCountLine(c.line, c.additional_columns);
    EXPECT_EQ(columns.has_minutes, c.minutes) << c.line;
    EXPECT_EQ(columns.count, c.count) << c.line;
  }
  std::vector<double> x(4, 0.0);
  const station_columns three{true, 3};
  EXPECT_EQ(ParseStationNumbers("YY MM DD HH mm id flag 1 2.5 -3", three, 2, x.data()), 0);
  EXPECT_EQ(x[2], 2.5);
  EXPECT_EQ(ParseStationNumbers("YY MM DD HH mm id flag 1 x -3", three, 2, x.data()), 2);
  EXPECT_EQ(ParseStationNumbers("YY MM DD HH mm id flag 1 2", three, 2, x.data()), 3);
}

TEST(StationFile, BlockCapacity) {
  EXPECT_EQ(StationBlockCapacity(10), 19418);  // 2097152 / 108
  EXPECT_EQ(StationBlockCapacity(1), 58254);
  EXPECT_EQ(StationBlockCapacity(1000000), 1);
}

TEST(StationFile, Records) {
  std::vector<std::string_view> tokens;
  double values[3];
  model_date date;
  record_values seen;
  const double n = 9999.0;
  // Year rule, the missing-value rule, an unreadable and an absent value.
  ASSERT_EQ(ParseStationRecord("95 6 1 13 -10000 12000 5.5", false, 0, 3, n, date, values, tokens, seen),
            record_status::kRecord);
  EXPECT_EQ(date.year, 1995);
  EXPECT_EQ(date.hour, 13);
  EXPECT_EQ(values[0], -10000.0);
  EXPECT_EQ(values[1], -10000.0);
  EXPECT_EQ(values[2], 5.5);
  ASSERT_EQ(ParseStationRecord("2001 6 1 13 30 x 7 nan", true, 1, 3, n, date, values, tokens, seen),
            record_status::kRecord);
  EXPECT_EQ(date.minute, 30);
  EXPECT_EQ(values[0], 7.0);  // the additional column "x" is skipped
  EXPECT_EQ(values[1], -10000.0);
  EXPECT_EQ(values[2], -10000.0);
  // Three value tokens where the header declares four (one additional
  // column, three stations); "nan" in column 8 is no number, the absent
  // third value is not counted as one.
  EXPECT_EQ(seen.given, 3);
  EXPECT_EQ(seen.unreadable, 1);
  EXPECT_EQ(seen.first_unreadable, 8);
  ASSERT_EQ(ParseStationRecord("2001 6 1 13 -8.2x 1/2 1500x", false, 0, 3, n, date, values, tokens, seen),
            record_status::kRecord);
  EXPECT_EQ(seen.unreadable, 3);
  EXPECT_EQ(seen.first_unreadable, 5);
  EXPECT_EQ(values[0], -10000.0);
  EXPECT_EQ(ParseStationRecord("0 0 0 0 1 2 3", false, 0, 3, n, date, values, tokens, seen),
            record_status::kEndMark);
  EXPECT_EQ(ParseStationRecord("0 3 1 0 1 2 3", false, 0, 3, n, date, values, tokens, seen),
            record_status::kRecord);
  EXPECT_EQ(date.year, 1900);
  EXPECT_EQ(ParseStationRecord(" \t", false, 0, 3, n, date, values, tokens, seen), record_status::kBlank);
  for (const char* bad : {"2000 1 x 1 5", "2000 1 1", "2000 13 1 1 5", "2000 1 1.5 1 5"})
    EXPECT_EQ(ParseStationRecord(bad, false, 0, 1, n, date, values, tokens, seen), record_status::kBadDate)
        << bad;

  std::string grid;
  ASSERT_EQ(ParseGridListRecord("2000 1 1 2 0 grids/p_2000010102.asc rest", true, 0, date, grid, tokens),
            record_status::kRecord);
  EXPECT_EQ(grid, "grids/p_2000010102.asc");
  ASSERT_EQ(ParseGridListRecord("2000 1 1 2", false, 0, date, grid, tokens), record_status::kRecord);
  EXPECT_TRUE(grid.empty());
}

}  // namespace
}  // namespace velmo
