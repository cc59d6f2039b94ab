// Time-series tables: header and minute column, row layout, blocks of the byte budget, end and read errors.
#include "framework/timeseries.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using test::WriteFile;

// Rows "year 1 1 hour v 10v 100v" for v = 1..count, hourly from 2001-01-01 0h.
std::string HourlyRows(int count) {
  std::string text;
  for (int v = 1; v <= count; ++v)
    text += "2001 1 " + std::to_string(1 + (v - 1) / 24) + " " + std::to_string((v - 1) % 24) + " " +
            std::to_string(v) + " " + std::to_string(10 * v) + " " + std::to_string(100 * v) + "\n";
  return text;
}

struct TimeSeries : ::testing::Test {
  TempDir dir;
  std::string file = dir / "table.txt";
};

TEST(MinuteColumn, DeclaredByTheHeaderLayout) {
  struct Case {
    const char* line;
    bool minutes;
  };
  const Case cases[] = {
      {"YY MM DD HH mm Q_in Q_out", true},
      {"YYYY\tMM\tDD\tHH\tmm\tQ", true},
      {"YY MM DD HH Q_in", false},
      {"YY MM DD HH mm", false},  // nothing after mm
      {"YY MM DD HH mmQ", false},
      {"MM DD HH mm Q", false},  // no YY
      {"discharge of YY MM DD HH mm Q", false},
  };
  for (const Case& c : cases) EXPECT_EQ(DeclaresMinuteColumn(c.line), c.minutes) << c.line;
}

TEST_F(TimeSeries, HeaderMinuteColumnAndValues) {
  WriteFile(file,
            "observed discharge\r\nYY MM DD HH mm Q1 Q2\r\n2001 1 1 0 0 1.5 2.5\r\n2001 1 1 0 10 3 4\r\n");
  TimeSeriesReader reader(file, 0, 1000);
  EXPECT_EQ(reader.GetState(), kSeriesLastBlock);
  EXPECT_TRUE(reader.HasMinuteColumn());
  EXPECT_EQ(reader.GetColumnCount(), 2);
  int y, m, d, h, mi;
  reader.GetDate(y, m, d, h, mi);
  EXPECT_EQ((std::vector<int>{y, m, d, h, mi}), (std::vector<int>{2001, 1, 1, 0, 0}));
  EXPECT_EQ(reader.GetValue(0), 1.5);
  EXPECT_EQ(reader.GetValue(1), 2.5);
  EXPECT_EQ(reader.GetValue(2), kSeriesMissingValue);
  reader.Advance();
  reader.GetDate(y, m, d, h, mi);
  EXPECT_EQ(mi, 10);
  EXPECT_EQ(reader.GetValue(1), 4.0);

  // Open reports the header lines; a reader already open stays as it is.
  TimeSeriesReader later;
  EXPECT_EQ(later.Open(file, 1000), 2);
  EXPECT_EQ(later.Open(dir / "other.txt", 1000), kSeriesLastBlock);
  EXPECT_EQ(later.GetFileName(), file);
}

TEST_F(TimeSeries, BlocksOfTheByteBudget) {
  // 1000 bytes for three columns hold 1000 / (3 * 8 + 16) = 25 rows.
  struct Case {
    int rows;
    std::vector<int> block_rows;  // of each block loaded
    std::vector<int> states;      // after each load
  };
  const Case cases[] = {
      {60, {25, 25, 10}, {kSeriesMoreRows, kSeriesMoreRows, kSeriesLastBlock}},
      // The rows fill two blocks exactly: the third load finds none.
      {50, {25, 25, 0}, {kSeriesMoreRows, kSeriesMoreRows, kSeriesPastEnd}},
  };
  for (const Case& c : cases) {
    WriteFile(file, "YY MM DD HH a b c\n" + HourlyRows(c.rows));
    TimeSeriesReader reader(file, 0, 1000);
    ASSERT_EQ(reader.GetRowCapacity(), 25);
    std::vector<int> block_rows = {reader.GetBlockRows()};
    std::vector<int> states = {reader.GetState()};
    for (int advance = 1; advance < c.rows; ++advance) {
      reader.Advance();
      if (reader.GetRowIndex() == 0) {
        block_rows.push_back(reader.GetBlockRows());
        states.push_back(reader.GetState());
      }
      // Every row once, in order.
      ASSERT_EQ(reader.GetValue(0), advance + 1) << c.rows << " rows, advance " << advance;
      ASSERT_EQ(reader.GetValue(2), 100.0 * (advance + 1));
    }
    reader.Advance();  // past the last row, loading a block when the last one was full
    if (reader.GetRowIndex() == 0) {
      block_rows.push_back(reader.GetBlockRows());
      states.push_back(reader.GetState());
      // An empty block holds no row, and never an old one.
      EXPECT_EQ(reader.GetValue(0), kSeriesMissingValue);
    }
    EXPECT_EQ(reader.GetState(), kSeriesPastEnd) << c.rows;
    EXPECT_EQ(block_rows, c.block_rows) << c.rows;
    EXPECT_EQ(states, c.states) << c.rows;
  }
}

TEST_F(TimeSeries, EndOfTheFile) {
  struct Case {
    const char* what;
    std::string text;
    int state;
    int rows;
  };
  const Case cases[] = {
      {"line end after the last row", "2001 1 1 0 5\n2001 1 1 1 6\n", kSeriesLastBlock, 2},
      {"no line end", "2001 1 1 0 5\n2001 1 1 1 6", kSeriesLastBlock, 2},
      {"twenty blank lines", "2001 1 1 0 5\n2001 1 1 1 6\n" + std::string(20, '\n') + "   \t \n",
       kSeriesLastBlock, 2},
      {"a truncated row", "2001 1 1 0 5\n2001 1 1\n", kSeriesReadError, 1},
      {"a row that is no number", "2001 1 1 0 5\n2001 1 1 1 x\n2001 1 1 2 7\n", kSeriesReadError, 1},
      {"a value that is not finite", "2001 1 1 0 5\nnan\n", kSeriesReadError, 1},
  };
  for (const Case& c : cases) {
    WriteFile(file, c.text);
    TimeSeriesReader reader(file, 0, 1000);
    EXPECT_EQ(reader.GetState(), c.state) << c.what;
    // The rows read before a read error stay in the block.
    EXPECT_EQ(reader.GetBlockRows(), c.rows) << c.what;
    EXPECT_EQ(reader.GetValue(0), 5.0) << c.what;
  }
}

TEST_F(TimeSeries, LayoutFromTheFirstDataRow) {
  // The column count stops at the first token that is no number; the next
  // row then takes that token as its year.
  WriteFile(file, "2001 1 1 0 1.5 x 3.0\n2001 1 1 1 2.5 y 4.0\n");
  TimeSeriesReader reader(file, 0, 1000);
  EXPECT_EQ(reader.GetColumnCount(), 1);
  EXPECT_EQ(reader.GetState(), kSeriesReadError);
  EXPECT_EQ(reader.GetBlockRows(), 1);

  // A table without header lines: Open returns 0 and row 0 is current.
  WriteFile(file, "99 12 31 23 1 2\n");
  TimeSeriesReader two_digit;
  EXPECT_EQ(two_digit.Open(file, 1000), 0);
  int y, m, d, h, mi;
  two_digit.GetDate(y, m, d, h, mi);
  EXPECT_EQ(y, 99);  // as read: the callers place two-digit years
  EXPECT_EQ(mi, 0);
}

TEST_F(TimeSeries, OpenFailures) {
  TimeSeriesReader missing(dir / "missing.txt", 0, 1000);
  EXPECT_EQ(missing.GetState(), kSeriesCannotOpen);
  EXPECT_EQ(missing.GetValue(0), kSeriesMissingValue);

  WriteFile(file, "YY MM DD HH Q\nonly a header\n");
  TimeSeriesReader header_only;
  EXPECT_EQ(header_only.Open(file, 1000), kSeriesReadError);
  EXPECT_EQ(header_only.GetState(), kSeriesReadError);
}

TEST_F(TimeSeries, SetRow) {
  WriteFile(file, HourlyRows(3));
  TimeSeriesReader reader(file, 0, 1000);
  reader.Advance();
  reader.SetRow(-1);
  reader.Advance();
  EXPECT_EQ(reader.GetRowIndex(), 0);
  reader.SetRow(3);  // above the block
  EXPECT_EQ(reader.GetRowIndex(), 0);
  reader.SetRow(2);
  EXPECT_EQ(reader.GetValue(0), 3.0);
}

}  // namespace
}  // namespace velmo
