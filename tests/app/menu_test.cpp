// The interruption menu's answer reading and the grid-table entry an
// interpolator gets.
#include <gtest/gtest.h>

#include <sstream>

#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "support/test_support.h"

namespace velmo {
namespace {

TEST(MenuAnswer, LeadingIntegerOfOneWord) {
  struct Case {
    std::string input;
    int answer;
  };
  const Case cases[] = {
      {"0", 0},
      {"1\n", 1},
      {"  2 ", 2},
      {"3", 3},
      {"+3", 3},
      {"2abc", 2},
      {"7", 0},
      {"-1", 0},
      {"abc", 0},
      {"", 0},
      {"   \n", 0},
      {std::string(5000, '9'), 0},  // too large for an int
      {"1" + std::string(4000, 'x'), 1},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    EXPECT_EQ(ReadMenuAnswer(in), c.answer)
        << "input of " << c.input.size() << " chars: " << c.input.substr(0, 20);
  }
}

TEST(MenuAnswer, OneWordPerMenuAndZeroAtTheEndOfInput) {
  std::istringstream in("1 3\n2");
  EXPECT_EQ(ReadMenuAnswer(in), 1);
  EXPECT_EQ(ReadMenuAnswer(in), 3);
  EXPECT_EQ(ReadMenuAnswer(in), 2);
  // At the end of the input the menu continues instead of repeating an answer.
  EXPECT_EQ(ReadMenuAnswer(in), 0);
  EXPECT_EQ(ReadMenuAnswer(in), 0);
}

TEST(InterpolatorEntry, FirstFreeEntryOrCode12) {
  test::TempDir dir;
  std::ostringstream console;
  MessageStream messages(dir / "diag.xml", kDebug, console);
  grid_table table(&messages);
  for (int i = 1; i < kGridTableLimit; ++i) table[i].name = "g" + std::to_string(i);
  table[5].name.clear();
  EXPECT_EQ(ReserveInterpolatorEntry(table, &messages), 5);

  table[5].name = "g5";
  try {
    ReserveInterpolatorEntry(table, &messages);
    FAIL() << "no free entry must be fatal";
  } catch (ErrorCode code) {
    EXPECT_EQ(code, 12);
  }
  EXPECT_NE(console.str().find("no more free grids in memeory, (max. 1000)!"), std::string::npos);
}

}  // namespace
}  // namespace velmo
