// List files of the data assimilation: calendar times of dates, "bafu" columns, the line-aware reader.
#include "routing/assimilation_lists.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/test_support.h"

namespace velmo {
namespace {

constexpr std::int64_t kMinutesPerDay = 1440;
// 1 January 2000 is day 10957 after 1 January 1970.
constexpr std::int64_t kFirstOf2000 = 10957 * kMinutesPerDay;

TEST(CalendarMinutes, CountsCalendarDaysAndRefusesWhatIsNoDate) {
  struct Case {
    int year, month, day, hour, shift;
    std::optional<std::int64_t> minutes;
  };
  const Case cases[] = {
      {2000, 1, 1, 0, 0, kFirstOf2000},
      {2000, 1, 1, 24, 0, kFirstOf2000 + kMinutesPerDay},  // the end of the day is the next day's start
      {2000, 1, 2, 0, 0, kFirstOf2000 + kMinutesPerDay},
      {2000, 1, 1, 5, 2, kFirstOf2000 + 3 * 60},               // the module's hour shift
      {2000, 3, 1, 0, 0, kFirstOf2000 + 60 * kMinutesPerDay},  // 2000 is a leap year
      {2024, 2, 29, 12, 0, 19782 * kMinutesPerDay + 12 * 60},
      {1969, 12, 31, 0, 0, -kMinutesPerDay},
      {2023, 2, 29, 0, 0, std::nullopt},
      {2023, 13, 1, 0, 0, std::nullopt},
      {2023, 0, 1, 0, 0, std::nullopt},
      {2023, 4, 31, 0, 0, std::nullopt},
      {2023, 4, 0, 0, 0, std::nullopt},
      {2023, 4, 1, 25, 0, std::nullopt},
      {2023, 4, 1, -1, 0, std::nullopt},
      {-9999, -9999, -9999, -9999, 0, std::nullopt},  // the date of a pass without interpolator
  };
  for (const Case& c : cases)
    EXPECT_EQ(CalendarMinutes(c.year, c.month, c.day, c.hour, c.shift), c.minutes)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << " h";
}

TEST(BafuLine, ColumnsAndFaults) {
  level_record record;
  ASSERT_EQ(ParseBafuLine("2206 Lake gauge       2023.11.13 07:00    889.123\r", record),
            bafu_line_fault::none);
  EXPECT_EQ(record.year, 2023);
  EXPECT_EQ(record.month, 11);
  EXPECT_EQ(record.day, 13);
  EXPECT_EQ(record.hour, 7);
  EXPECT_DOUBLE_EQ(record.level, 889.123);

  struct Case {
    const char* line;
    bafu_line_fault fault;
  };
  const Case cases[] = {
      {"", bafu_line_fault::short_line},
      {"2206 Lake gauge       2023.11.13 07:00", bafu_line_fault::short_line},
      {"2206 Lake gauge       2023.11.13 07:00    ", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 07:00    -", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.1x.13 07:00    889.123", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 --:00    889.123", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 07:00    889.1 2", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 07:00    inf", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 07:00    nan", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 07:00  889.12", bafu_line_fault::none},  // ends inside the field
      {"2206 Lake gauge       2023.11.13 07:00      1250.0x", bafu_line_fault::not_a_number},
      {"2206 Lake gauge       2023.11.13 07:00      1250.0 x", bafu_line_fault::none},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseBafuLine(c.line, record), c.fault) << '"' << c.line << '"';

  // The level is the number that starts in its field, read up to the next
  // blank: stored lists write up to column 50.
  const std::pair<const char*, double> levels[] = {
      {"2206 Lake gauge       2023.11.13 07:00    1250.000", 1250.0},  // columns 43-50
      {"2206 Lake gauge       2023.11.13 07:00    1.25E+03", 1250.0},
      {"2206 Lake gauge       2023.11.13 07:00      1250.4", 1250.4},
      {"2206 Lake gauge       2023.11.13 07:00           1250.4", 0.0},  // starts past the field
  };
  for (const auto& [line, level] : levels) {
    record.level = 0.0;
    const bafu_line_fault fault = ParseBafuLine(line, record);
    EXPECT_EQ(fault, level == 0.0 ? bafu_line_fault::not_a_number : bafu_line_fault::none) << line;
    EXPECT_DOUBLE_EQ(record.level, level) << line;
  }
}

TEST(ListReader, TokensAndLinesKnowTheirLine) {
  test::TempDir dir;
  test::WriteFile(dir / "list.txt", "head line\n1 2\r\n\n  3 4 5\nsix\nseven\neight\n");
  list_reader list;
  ASSERT_TRUE(list.Open(dir / "list.txt"));
  std::string text;
  ASSERT_TRUE(list.Line(text));
  EXPECT_EQ(text, "head line");
  EXPECT_EQ(list.LineNumber(), 1);
  for (auto [token, line] : {std::pair{"1", 2}, {"2", 2}, {"3", 4}}) {
    ASSERT_TRUE(list.Token(text));
    EXPECT_EQ(text, token);
    EXPECT_EQ(list.LineNumber(), line);
  }
  // After a token: the rest of its line, then whole lines.
  list.SkipLines(1);
  ASSERT_TRUE(list.Line(text));
  EXPECT_EQ(text, "seven");
  EXPECT_EQ(list.LineNumber(), 6);
  ASSERT_TRUE(list.Token(text));
  EXPECT_EQ(text, "eight");
  EXPECT_EQ(list.LineNumber(), 7);
  EXPECT_FALSE(list.Token(text));
  EXPECT_FALSE(list.Line(text));
  EXPECT_FALSE(list_reader().Open(dir / "missing.txt"));
}

}  // namespace
}  // namespace velmo
