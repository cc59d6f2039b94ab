// Scenario values blended between the middles of the months, and the row
// nearest to a cell.
#include "meteo/scenarios.h"

#include <gtest/gtest.h>

namespace velmo {
namespace {

TEST(Scenario, DayValueBlendsNeighbouringMonths) {
  scenario_row row;
  for (int m = 1; m <= kMonths; ++m) row.month[static_cast<size_t>(m)] = 100.0 * m;
  // 1 June: (1 + 31 - 16) / 31 of June and (16 - 1) / 31 of May.
  EXPECT_DOUBLE_EQ(ScenarioDayValue(row, 1, 6), 16.0 / 31 * 600 + 15.0 / 31 * 500);
  // 20 June: (30 - 20 + 15) / 30 of June and (20 - 15) / 30 of July.
  EXPECT_DOUBLE_EQ(ScenarioDayValue(row, 20, 6), 25.0 / 30 * 600 + 5.0 / 30 * 700);
  // December before January and January after December.
  EXPECT_DOUBLE_EQ(ScenarioDayValue(row, 1, 1), 16.0 / 31 * 100 + 15.0 / 31 * 1200);
  EXPECT_DOUBLE_EQ(ScenarioDayValue(row, 31, 12), 15.0 / 31 * 1200 + 16.0 / 31 * 100);
}

TEST(Scenario, NearestRowTheLaterOnATie) {
  std::vector<scenario_row> rows(3);
  rows[0] = {0, 0, {}, 1.0};
  rows[1] = {200, 0, {}, 2.0};
  rows[2] = {0, 200, {}, 3.0};
  EXPECT_EQ(NearestScenarioValue(rows, 10, 0), 1.0);
  EXPECT_EQ(NearestScenarioValue(rows, 100, 100), 3.0);  // rows 2 and 3 at the same distance
  EXPECT_EQ(NearestScenarioValue({}, 0, 0), 0.0);
  EXPECT_EQ(ApplyScenario(10.0, 1.1, kPercentScenarioMethod), 11.0);
  EXPECT_EQ(ApplyScenario(10.0, 2.0, kAddingScenarioMethod), 12.0);
}

}  // namespace
}  // namespace velmo
