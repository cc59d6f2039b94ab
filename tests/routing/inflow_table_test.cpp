// Inflows of mode "extern": tables read step by step into the routing, their start search, columns and
// failures.
#include "routing/inflow_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "routing/abfluss.h"
#include "routing/routing_fixture.h"

namespace velmo {
namespace {

using test::kFixedChannel;
using test::ReadFile;
using test::RoutingSection;
using test::section_options;
using test::WriteFile;
using ::testing::HasSubstr;

class ExternalInflow : public test::RoutingFixture {
 protected:
  // Hourly rows of 1.1.2000 from `first_hour` on, each with `values`; row
  // `gap` (from 1) is left out.
  static std::string Table(int first_hour, int rows, const std::string& values, int gap = 0) {
    std::string text = "YY MM DD HH Q1 Q2 Q3\n";
    for (int r = 1; r <= rows; ++r) {
      if (r == gap) continue;
      const int h = first_hour + r - 1;
      text += "2000 1 " + std::to_string(1 + h / 24) + " " + std::to_string(h % 24) + " " + values + "\n";
    }
    return text;
  }
};

TEST_F(ExternalInflow, TableColumnsAddToTheOutletAsConstantInflowsDo) {
  // 3.6 mm per hour on 1 km2 is 1 m3/s. The description's column 7 is the
  // third value column (2 m3/s); column 5 holds the missing value -9999,
  // which is no inflow, from the first row on.
  Zones({1, 2}, {0.5, 0.5}, 2.0);
  WriteFile(dir_ / "q.txt", Table(0, 10, "-9999 7 2"));
  section_options o;
  o.descriptions = "TG 2 (AE = 2, AV = 1) OL 1 " + kFixedChannel + " ZL 1 = extern q.txt 1 7 " +
                   kFixedChannel + " ZL 2 = extern q.txt 1 5 " + kFixedChannel + "\n";
  auto model = Make(RoutingSection(o), 1);
  Runoff(1) = Runoff(2) = 3.6;
  Link(*model);
  for (int step = 1; step <= 3; ++step) Step(*model, step);
  model->CleanUp();
  EXPECT_EQ(LastRow(), "2000\t 1\t 1\t 3\t1.00000\t4.00000\n");

  // With a minute column, column 6 is the first value column.
  WriteFile(dir_ / "q.txt", "YY MM DD HH mm Q\n2000 1 1 1 0 2\n2000 1 1 2 0 2\n2000 1 1 3 0 2\n");
  o.descriptions = "TG 2 (AE = 2, AV = 1) OL 1 " + kFixedChannel + " ZL 1 = extern q.txt 1 6 " +
                   kFixedChannel + " ZL 2 = constant 0 " + kFixedChannel + "\n";
  model = Make(RoutingSection(o), 1);
  Link(*model);
  for (int step = 1; step <= 3; ++step) Step(*model, step);
  model->CleanUp();
  EXPECT_EQ(LastRow(), "2000\t 1\t 1\t 3\t1.00000\t4.00000\n");
}

TEST_F(ExternalInflow, WaterOfTheTableReachesTheOutlet) {
  // Three hours of 5 m3/s after a dry start, then none: all of it leaves at
  // the outlet.
  Zones({1, 2}, {0.5, 0.5}, 2.0);
  std::string table = "YY MM DD HH Q\n";
  for (int h = 1; h <= 300; ++h)
    table += "2000 1 " + std::to_string(1 + h / 24) + " " + std::to_string(h % 24) +
             (h >= 2 && h <= 4 ? " 5\n" : " 0\n");
  WriteFile(dir_ / "q.txt", table);
  section_options o;
  o.descriptions = "TG 2 (AE = 2, AV = 1) ZL 1 = extern q.txt 1 5 " + kFixedChannel + "\n";
  auto model = Make(RoutingSection(o));
  Link(*model);
  // Depths over the outlet's 1 km2.
  const double entered = 3 * DischargeToDepth(5.0, 1.0, 60.0);
  double left = 0.0;
  for (int step = 1; step <= 300; ++step) {
    Step(*model, step);
    left += model->Flows().step[2];
  }
  EXPECT_NEAR(left, entered, 1e-12 * entered);
}

TEST_F(ExternalInflow, StartSearch) {
  // Runs starting at 1:00 on 1.1.1999 / 2000; the table's rows are hourly.
  struct Case {
    std::string what;
    std::string table;
    int start_row;
    int start_year;
    double inflow;  // m3/s taken from the start row
  };
  std::string two_blocks = "YY MM DD HH Q\n";  // 4166 rows fit a block of one value column
  for (int r = 1; r <= 5000; ++r) two_blocks += "2000 1 1 " + std::string(r == 4500 ? "1 4\n" : "0 1\n");
  const Case cases[] = {
      {"first row", Table(1, 3, "3 0 0"), 1, 2000, 3.0},
      {"from the start row on", Table(0, 3, "3 0 0"), 2, 2000, 3.0},
      {"two-digit years are 19xx", "YY MM DD HH Q\n99 1 1 1 6\n", 1, 1999, 6.0},
      {"the start row counts rows across blocks", two_blocks, 4500, 2000, 4.0},
  };
  for (const Case& c : cases) {
    WriteFile(dir_ / "q.txt", c.table);
    settings_.startyear = c.start_year;
    section_options o;
    o.descriptions = "TG 2 (AE = 2, AV = 1) ZL 1 = extern q.txt " + std::to_string(c.start_row) + " 5 " +
                     kFixedChannel + "\n";
    auto model = Make(RoutingSection(o));
    EXPECT_EQ(model->Element(1).Row(1).inflow, c.inflow) << c.what;
  }
}

TEST_F(ExternalInflow, TablesThatCannotBeUsed) {
  struct Case {
    std::string what;
    std::string table;  // empty: no file
    std::string inflow;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"no table", "", "q.txt 1 5", 37, "error opening q.txt for inflow 1\n"},
      {"starts after the run", Table(2, 5, "1 1 1"), "q.txt 1 5", 38,
       "starting date 1.1.2000, 1:0 h in q.txt not found (search started at row 1)\n"},
      {"start date before the start row", Table(0, 5, "1 1 1"), "q.txt 3 5", 38,
       "starting date 1.1.2000, 1:0 h in q.txt not found (search started at row 3)\n"},
      {"start row beyond the table", Table(1, 3, "1 1 1"), "q.txt 9 5", 38,
       "error searching in q.txt for row 9\nactual reached row: 3\n"},
      {"column beyond the table", Table(1, 3, "1 1 1"), "q.txt 1 8", 38,
       "there is not the required number of columns in q.txt for reading ZL[1] and the follwoing 0 "
       "tracer values starting from column 8\n"},
      {"column before the values", Table(1, 3, "1 1 1"), "q.txt 1 4", 38,
       "there is not the required number of columns in q.txt for reading ZL[1]"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "q.txt");
    if (!c.table.empty()) WriteFile(dir_ / "q.txt", c.table);
    section_options o;
    o.descriptions = "TG 2 (AE = 2, AV = 1) ZL 1 = extern " + c.inflow + " " + kFixedChannel + "\n";
    EXPECT_THAT(ExpectCode(c.code, [&] { Make(RoutingSection(o)); }), HasSubstr(c.message)) << c.what;
  }
}

TEST_F(ExternalInflow, StepsThatFindNoRowOfTheirDate) {
  struct Case {
    std::string what;
    std::string table;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"a gap", Table(1, 5, "1 1 1", 3), 36,
       "error comparing dates in q.txt:\n     read: 2000.1.1, 4:0 h,\nshould be: 2000.1.1, 3:0 "
       "h.\n\n"},
      {"the end", Table(1, 2, "1 1 1"), 39,
       "error reading from q.txt (or from its buffer) for inflow 1\nreached end of file!\n"},
      {"a row that cannot be read", "YY MM DD HH Q\n2000 1 1 1 1\n2000 1 1 2 1\n2000 1 1 3 x\n", 39,
       "error reading from q.txt (or from its buffer) for inflow 1\nrow 3 cannot be read!\n"},
  };
  for (const Case& c : cases) {
    WriteFile(dir_ / "q.txt", c.table);
    section_options o;
    o.descriptions = "TG 2 (AE = 2, AV = 1) ZL 1 = extern q.txt 1 5 " + kFixedChannel + "\n";
    auto model = Make(RoutingSection(o));
    Link(*model);
    Step(*model, 1);
    Step(*model, 2);
    EXPECT_THAT(ExpectCode(c.code, [&] { Step(*model, 3); }), HasSubstr(c.message)) << c.what;
  }
}

}  // namespace
}  // namespace velmo
