// Operating rules: the blend of the seasons, table values, windows, weekdays, the cap, and the section
// reader.
#include "routing/operating_rule.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "support/test_support.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;

// A rule of one or more tables over the index values `x`.
operating_rule Rule(std::vector<double> x, std::vector<std::vector<double>> y, std::vector<int> starts = {1},
                    bool flow_indexed = false) {
  operating_rule rule;
  rule.x = std::move(x);
  rule.y = std::move(y);
  rule.start_day = std::move(starts);
  const size_t tables = rule.y.size();
  rule.cap.assign(tables, -1.0);
  rule.weekdays.assign(tables, -1);
  rule.start_hour.assign(tables, -1);
  rule.stop_hour.assign(tables, -1);
  rule.flow_indexed = flow_indexed;
  DeriveSlopes(rule);
  return rule;
}

TEST(OperatingRule, TableValues) {
  const operating_rule rule = Rule({0, 10, 20}, {{0, 2, 5}});
  const day_blend one;
  struct Case {
    double argument, value;
  };
  for (const Case& c :
       {Case{15, 3.5}, Case{10, 2.0}, Case{25, 5.0}, Case{0, 0.0}, Case{-3, 0.0}, Case{20, 5.0}})
    EXPECT_DOUBLE_EQ(RuleValue(rule, one, c.argument), c.value) << c.argument;
  // Flow-indexed, the same rows read as the rate against the flow.
  const operating_rule inverted = Rule({0, 10, 20}, {{0, 2, 5}}, {1}, true);
  EXPECT_DOUBLE_EQ(RuleValue(inverted, one, 3.5), 15.0);
  EXPECT_DOUBLE_EQ(RuleValue(inverted, one, 1.0), 5.0);
  EXPECT_DOUBLE_EQ(RuleValue(inverted, one, 0.0), 0.0);
  // Above the top the last interval goes on.
  EXPECT_DOUBLE_EQ(RuleValueAboveTop(rule, one, 30), 8.0);
  // Equal index values have no slope and cannot divide by 0.
  EXPECT_DOUBLE_EQ(RuleValue(Rule({0, 10, 10, 20}, {{0, 2, 4, 5}}), one, 15), 4.5);
}

TEST(OperatingRule, SeasonsBlend) {
  // Three tables of 10, 20, 30 at x = 100, starting on days 1, 121, 274.
  const operating_rule rule = Rule({0, 100}, {{0, 10}, {0, 20}, {0, 30}}, {1, 121, 274});
  auto value = [&](int day) { return RuleValue(rule, BlendOfDay(rule.start_day, day), 50); };
  EXPECT_NEAR(value(200), 12.5817, 5e-5);  // 79/153 of table 3, 74/153 of table 2
  EXPECT_DOUBLE_EQ(value(121), 10.0);      // table 2 alone
  EXPECT_DOUBLE_EQ(value(1), 5.0);
  // After the last start day the year turns towards table 1 of the next one.
  const day_blend late = BlendOfDay(rule.start_day, 300);
  EXPECT_EQ(late.lower, 2);
  EXPECT_EQ(late.upper, 0);
  EXPECT_DOUBLE_EQ(late.weight, 26.0 / 92.0);
  EXPECT_DOUBLE_EQ(value(300), 66.0 / 92.0 * 15 + 26.0 / 92.0 * 5);
  EXPECT_NEAR(value(365), 5.0, 0.2);
  // Above the last row the tables blend too.
  EXPECT_DOUBLE_EQ(RuleValue(rule, BlendOfDay(rule.start_day, 200), 150), 79.0 / 153 * 30 + 74.0 / 153 * 20);
  // Before a first start day after 1: table 1 alone.
  EXPECT_DOUBLE_EQ(BlendOfDay({60, 200}, 10).weight, 1.0);
  EXPECT_EQ(BlendOfDay({60, 200}, 10).upper, 0);
  EXPECT_EQ(RuleDayOfYear(3, 1), 60);
  EXPECT_EQ(RuleDayOfYear(12, 31), 365);
}

TEST(OperatingRule, WindowsWeekdaysAndCap) {
  operating_rule rule = Rule({0, 1}, {{0, 1}, {0, 1}});
  rule.weekdays = {135, -1};
  rule.start_hour = {8, 22};
  rule.stop_hour = {17, 4};
  struct Case {
    int table, weekday, hour;
    bool open;
  };
  const Case cases[] = {{0, 1, 8, true},   {0, 3, 17, true}, {0, 5, 12, true}, {0, 2, 12, false},
                        {0, 1, 18, false}, {1, 7, 23, true}, {1, 6, 3, true},  {1, 6, 12, false}};
  for (const Case& c : cases)
    EXPECT_EQ(RuleTableOpen(rule, c.table, c.weekday, c.hour), c.open)
        << c.table << " " << c.weekday << " " << c.hour;
  // Without weekdays and hours a table is always open; with only a start
  // hour it is open to the end of the day.
  rule.weekdays = {-1, -1};
  rule.start_hour = {-1, 6};
  rule.stop_hour = {-1, -1};
  EXPECT_TRUE(RuleTableOpen(rule, 0, 4, 0));
  EXPECT_TRUE(RuleTableOpen(rule, 1, 4, 24));
  EXPECT_FALSE(RuleTableOpen(rule, 1, 4, 5));

  // 3 January 2000 was a Monday; a step stamped at 0:00 with a shift of an
  // hour belongs to the Sunday before.
  EXPECT_EQ(RuleWeekday(2000, 1, 3, 12, 0, 0.0, false), 1);
  EXPECT_EQ(RuleWeekday(2000, 1, 3, 0, 0, 1.0, false), 7);
  EXPECT_EQ(RuleWeekday(2024, 2, 29, 23, 30, 0.0, true), 4);

  EXPECT_DOUBLE_EQ(CappedRate(3.5, 6, 4), 2.0);
  EXPECT_DOUBLE_EQ(CappedRate(3.5, 6, 7), 0.0);
  EXPECT_DOUBLE_EQ(CappedRate(3.5, 10, 4), 3.5);
  EXPECT_DOUBLE_EQ(CappedRate(3.5, -1, 400), 3.5);  // no cap
}

class RuleSection : public test::MessagesTest {
 protected:
  operating_rule Read(const std::string& text, bool rows_optional = false) {
    std::vector<std::string> lines;
    std::istringstream in("[other]\n1\n" + text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return ReadOperatingRule(control_lines(lines), "[abstraction_rule_abstraction_1]", &ms, rows_optional);
  }
};

TEST_F(RuleSection, TablesStartDaysAndKeys) {
  const operating_rule rule = Read(
      "[abstraction_rule_abstraction_1]   the rule\n"
      "3 1 121 274   rows and start days\n"
      "0 0 0 0\n"
      "1e6\t5 6 7   comment\n"
      "2e6 20 21 22\n"
      "TargetCap = 30 -1 25\n"
      "WeekDays = 12345, 67 1234567\n"
      "start_hour = 6 0 22\n"
      "stop_hour = 18 23 4\n"
      "TableIndex = Flow\n"
      "\n"
      "TargetCap = 1 1 1   after the end\n");
  ASSERT_EQ(rule.Rows(), 3);
  ASSERT_EQ(rule.Tables(), 3);
  EXPECT_EQ(rule.start_day, (std::vector<int>{1, 121, 274}));
  EXPECT_EQ(rule.x, (std::vector<double>{0, 1e6, 2e6}));
  EXPECT_EQ(rule.y[1], (std::vector<double>{0, 6, 21}));
  EXPECT_EQ(rule.cap, (std::vector<double>{30, -1, 25}));
  EXPECT_EQ(rule.weekdays, (std::vector<int>{12345, 67, 1234567}));
  EXPECT_EQ(rule.start_hour, (std::vector<int>{6, 0, 22}));
  EXPECT_EQ(rule.stop_hour, (std::vector<int>{18, 23, 4}));
  EXPECT_TRUE(rule.flow_indexed);
  EXPECT_DOUBLE_EQ(rule.slope[0][0], 1e6 / 5);  // flow-indexed: dx/dy

  // One or two numbers: one table from day 1; defaults without key lines.
  const operating_rule one = Read("[abstraction_rule_abstraction_1]\n2 200\n0 0\n10 4\n");
  EXPECT_EQ(one.start_day, (std::vector<int>{1}));
  EXPECT_EQ(one.cap, (std::vector<double>{-1}));
  EXPECT_EQ(one.weekdays, (std::vector<int>{-1}));
  EXPECT_FALSE(one.flow_indexed);
  EXPECT_DOUBLE_EQ(one.slope[0][0], 0.4);
  EXPECT_EQ(Read("[abstraction_rule_abstraction_1]\n0\n", true).Rows(), 0);
  // The lines of a hydraulic connection are no rows.
  EXPECT_EQ(Read("[abstraction_rule_abstraction_1]\n1\n0 0\nHydraulicConnection {\n  TargetReservoir = 3\n"
                 "  ChannelWidth 10\n  3 4 }\n")
                .Rows(),
            1);
  // A rule without rows may not be a count left out.
  EXPECT_THAT(ExpectCode(29, [&] { Read("[abstraction_rule_abstraction_1]\n0 0\n10 1\n", true); }),
              HasSubstr("more rows than the count (0): \"10 1\" follows the last row"));
}

TEST_F(RuleSection, Failures) {
  struct Case {
    std::string text;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"", 34, "section [abstraction_rule_abstraction_1] not found in control file"},
      {"[abstraction_rule_abstraction_1]\n0\n", 29, "the rule has no rows (first line: \"0\")"},
      {"[abstraction_rule_abstraction_1]\nrows\n", 29, "the rule has no rows"},
      {"[abstraction_rule_abstraction_1]\n2\n0 0\n", 29, "row 2 holds 0 value(s), 2 needed"},
      {"[abstraction_rule_abstraction_1]\n2 1 100\n0 0 0\n5 1\n", 29, "row 2 holds 2 value(s), 3 needed"},
      {"[abstraction_rule_abstraction_1]\n2\n5 0\n1 1\n", 29, "the first column falls at row 2 (\"1 1\")"},
      {"[abstraction_rule_abstraction_1]\n2 100 50\n0 0 0\n1 1 1\n", 29,
       "the start days of the tables must rise"},
      {"[abstraction_rule_abstraction_1]\n2 1 400\n0 0 0\n1 1 1\n", 29,
       "the start days of the tables must rise"},
      {"[abstraction_rule_abstraction_1]\n1 1 100\n0 0 0\nTargetCap = 5\n", 29,
       "\"TargetCap\" holds 1 value(s) for 2 table(s) in [abstraction_rule_abstraction_1]"},
      // Numbers read whole: one that only starts as a number is named with its line.
      {"[abstraction_rule_abstraction_1]\n2x\n0 0\n1 1\n", 29,
       "the value \"2x\" cannot be read in the line \"2x\" in [abstraction_rule_abstraction_1]"},
      {"[abstraction_rule_abstraction_1]\n2\n0 0\n1e5 3.5.1 comment\n", 29,
       "the value \"3.5.1\" cannot be read in the line \"1e5 3.5.1 comment\""},
      {"[abstraction_rule_abstraction_1]\n1\n0 0\nWeekDays = 128\n", 29,
       "the value \"128\" cannot be read in the line \"WeekDays = 128\""},
      {"[abstraction_rule_abstraction_1]\n1\n0 0\nstart_hour = 6.5\n", 29,
       "the value \"6.5\" cannot be read"},
      // Rows beyond the count are no key lines to pass over.
      {"[abstraction_rule_abstraction_1]\n1\n0 0\n1e5 2\n1e6 30\n", 29,
       "more rows than the count (1): \"1e5 2\" follows the last row"},
      {"[abstraction_rule_abstraction_1]\n2 1 100\n0 0 0\n1 1 1\nTargetCap = 5 5\n2 2 2\n", 29,
       "more rows than the count (2): \"2 2 2\" follows the last row"},
  };
  for (const Case& c : cases)
    EXPECT_THAT(ExpectCode(
                    c.code, [&] { Read(c.text); }, c.text),
                HasSubstr(c.message))
        << c.text;
}

TEST_F(RuleSection, HydraulicConnection) {
  auto read = [&](const std::string& block, hydraulic_connection& connection) {
    std::vector<std::string> lines;
    std::istringstream in("[abstraction_rule_reservoir_2]\n1\n0 0\n\n" + block +
                          "[next]\nTargetReservoir = 9\n");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return ReadHydraulicConnection(control_lines(lines), "[abstraction_rule_reservoir_2]", 2, &ms,
                                   connection);
  };
  hydraulic_connection c;
  ASSERT_TRUE(
      read("HydraulicConnection {\n  TargetReservoir = 3\n  ChannelWidth = 10\n  ChannelBottom: 100\n"
           "  ChannelLength 1000\n  RoughnessCoeff = 30\n}\n",
           c));
  EXPECT_EQ(c.target, 3);
  EXPECT_EQ(c.width, 10.0);
  EXPECT_EQ(c.bottom, 100.0);
  EXPECT_EQ(c.length, 1000.0);
  EXPECT_EQ(c.roughness, 30.0);
  // No block within the section: no connection.
  EXPECT_FALSE(read("", c));
  EXPECT_THAT(
      ExpectCode(29, [&] { read("HydraulicConnection {\n TargetReservoir = 3\n ChannelWidth = x\n}\n", c); }),
      HasSubstr("reading HydraulicConnection parameters for SP 2: some values could not be read\n"
                "HydraulicConnection {\n TargetReservoir = 3\n ChannelWidth = x\n}\n"));
  EXPECT_THAT(ExpectCode(29,
                         [&] {
                           read(
                               "HydraulicConnection {\nTargetReservoir = 3\nChannelWidth = 10\n"
                               "ChannelBottom = 1\nChannelLength = 0\nRoughnessCoeff = 30\n}\n",
                               c);
                         }),
              HasSubstr("needs a ChannelWidth, ChannelLength and RoughnessCoeff above 0"));
}

}  // namespace
}  // namespace velmo
