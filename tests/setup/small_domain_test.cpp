// The small test domain: the set-up's steps on grids given in memory, as a
// module test starts from it.
#include "support/small_domain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "setup/teilmod.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(SmallDomain, GivesAModuleItsSectionGridsAndTables) {
  test::SmallDomain domain(
      {.section = "[snow_model]\n1\n30\n",
       .inputs = {{"snow_depth", test::Filled(3, 4, 0.5)}, {"albedo", test::Filled(3, 4, 0.3)}},
       .timestep = 30});
  const model_settings s = domain.settings();
  teilmodellklasse module(&domain.messages(), s, "snow_model", &domain.grids());
  EXPECT_EQ(module.GetFlowControlParameter(), 1);
  EXPECT_EQ(module.GetTimeInterval(), 30);
  EXPECT_THAT(domain.console().str(), Not(HasSubstr("FATAL")));

  EXPECT_EQ(s.ncols, 4);
  EXPECT_EQ(s.nrows, 3);
  EXPECT_EQ(s.timestep, 30);
  EXPECT_EQ(s.zone_count, 2);
  EXPECT_EQ(s.row_ranges[3].first, 2);
  EXPECT_EQ(s.row_ranges[3].last, 3);
  ASSERT_NE(s.landuse_table, nullptr);
  EXPECT_EQ(s.landuse_table[0].code, 2);
  ASSERT_NE(s.soil_table, nullptr);
  EXPECT_EQ(s.soil_table[2].code, 4);

  // Codes became table positions and the vegetation grids exist. The given
  // grids are found by name; the given albedo stands in place of a made one
  // (which would hold nodata outside the catchment).
  defaultini& setup = domain.setup();
  grid_table& grids = domain.grids();
  const int landuse = setup.FindGrid("landuse1", true);
  ASSERT_GT(landuse, 0);
  EXPECT_EQ(grids[landuse].data[2][2], 2.0);
  EXPECT_EQ(grids[setup.FindGrid("soil_types", true)].data[2][2], 2.0);
  EXPECT_GT(setup.FindGrid("leaf_area_index1", true), 0);
  EXPECT_EQ(grids[setup.FindGrid("snow_depth", true)].data[1][2], 0.5);
  EXPECT_EQ(grids[setup.FindGrid("albedo", true)].data[1][1], 0.3);
}

}  // namespace
}  // namespace velmo
