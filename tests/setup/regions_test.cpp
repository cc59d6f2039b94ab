// Regression regions: weight formulas, the region and weight grids, their faults.
#include "setup/regions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using ::testing::HasSubstr;

constexpr double N = -9999.0;
using test::Filled;
using test::Rows;

std::string Fixture(const std::string& name) { return std::string(VELMO_TEST_DATA) + "/derived/" + name; }

// ---- formulas

TEST(RegionWeights, OwnWeightRisesFromHalfAtTheBorderToOne) {
  const struct { double distance, expected; } cases[] = {{0, 0.5}, {1, 0.55}, {4, 0.7}, {10, 1.0}, {15, 1.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(OwnRegionWeight(c.distance, 10.0), c.expected) << c.distance;
}

TEST(RegionWeights, ThreeRegionsBlendToOne) {
  const struct {
    double r2, r3, d;
  } cases[] = {{1, 1, 10}, {1, 5, 10}, {3, 8, 10}, {9.9, 9.9, 10}, {1, 1.4, 2}, {1, 1, 1}};
  for (const auto& c : cases) {
    const region_weights w = BlendThreeRegions(c.r2, c.r3, c.d);
    EXPECT_NEAR(w.own + w.second + w.third, 1.0, 1e-12) << c.r2 << " " << c.r3;
    for (double x : {w.own, w.second, w.third}) {
      EXPECT_GE(x, 0.0);
      EXPECT_LE(x, 1.0);
    }
    EXPECT_GT(w.own, 0.0);
  }
  // The nearer region weighs more.
  const region_weights w = BlendThreeRegions(1, 5, 10);
  EXPECT_GT(w.second, w.third);
  // Every term limited to 0: the cell belongs wholly to its own region.
  const region_weights zero = BlendThreeRegions(2, 2, 0.5);
  EXPECT_EQ(zero.own, 1.0);
  EXPECT_EQ(zero.second, 0.0);
  EXPECT_EQ(zero.third, 0.0);
}

// ---- the set-up object

struct RegionFixture : test::SmallDomainTest {
  RegionFixture() : SmallDomainTest(test::kNoDomain) {
    setup.control_file_name = Fixture("transition_1000.intern");
  }
  ~RegionFixture() override { setup.ReleaseRegions(); }

  std::string Path(const std::string& file) const { return domain.Path(file); }

  double** Add(const std::string& file, const std::string& name, const Rows& values) {
    return domain.AddGrid(name, values, Path(file));
  }

  // A domain of `zone` (cellsize 100); the row ranges span each row's
  // valid cells.
  void Domain(const Rows& zone) {
    domain.SetZoneGrid(zone);
    console.str("");
  }

  double** Data(int index) { return index > 0 ? table[index].data : nullptr; }
  bool Written(const std::string& file) const { return std::filesystem::exists(Path(file)); }
};

TEST_F(RegionFixture, WithoutARegionGridTheCatchmentIsOneRegion) {
  Rows zone = Filled(3, 4, 1.0);
  zone[0][0] = N;
  zone[1][2] = N;  // inside the range of row 2
  Domain(zone);
  setup.MakeRegionWeightGrids();

  EXPECT_EQ(setup.transition_distance, 1000.0);
  EXPECT_EQ(setup.region_count, 1);
  EXPECT_EQ(setup.max_region_code, 1);
  EXPECT_EQ(setup.region_code_map[1], 1);
  EXPECT_EQ(setup.region_table[1].cell_count, 10.0);
  EXPECT_EQ(setup.grid_count, 2);
  EXPECT_EQ(table[2].name, "regression_regions");
  EXPECT_EQ(table[2].file_name, Path("zone.intern.r1"));
  EXPECT_EQ(table[3].name, "regression_weights1");
  EXPECT_EQ(table[3].file_name, Path("zone.intern.intern.w1"));
  EXPECT_TRUE(Written("zone.intern.intern.w1"));
  EXPECT_FALSE(Written("zone.intern.r1"));
  EXPECT_EQ(setup.region_regions2_index, 0);

  double** weights = Data(setup.region_weights1_index);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      const bool valid = zone[r - 1][c - 1] != N;
      EXPECT_EQ(table[2].data[r][c], valid ? 1.0 : N);
      if (r == 1 && c == 1) continue;  // outside the row range: left as made
      EXPECT_EQ(weights[r][c], valid ? 1.0 : N) << r << "," << c;
    }
  EXPECT_EQ(weights[1][1], 0.0);
  EXPECT_THAT(console.str(), HasSubstr("generating region weight grids"));
  EXPECT_THAT(console.str(), HasSubstr("..."));
}

// Codes 5 (columns 1..12) and 2 (columns 13..24) in three rows; the
// transition distance of 1000 is 10 cells.
struct TwoRegions : RegionFixture {
  Rows regions;
  TwoRegions() {
    Rows zone = Filled(3, 24, 1.0);
    zone[0][0] = N;
    Domain(zone);
    regions = Filled(3, 24, 5.0);
    for (auto& row : regions)
      for (size_t c = 12; c < 24; ++c) row[c] = 2.0;
    regions[0][0] = N;
  }
};

TEST_F(TwoRegions, WeightsFallOffOverTheTransitionDistance) {
  Add("regions.asc", "regression_regions", regions);
  setup.MakeRegionWeightGrids();

  EXPECT_EQ(setup.region_count, 2);
  EXPECT_EQ(setup.max_region_code, 5);
  EXPECT_EQ(setup.region_code_map[2], 1);
  EXPECT_EQ(setup.region_code_map[5], 2);
  EXPECT_EQ(setup.region_code_map[3], 0);
  const region_record& east = setup.region_table[1];
  EXPECT_EQ(east.cell_count, 36.0);
  EXPECT_EQ(east.centre_row, 2.0);
  EXPECT_EQ(east.centre_col, 18.5);
  EXPECT_EQ(east.centre_col_index, 18);
  const region_record& west = setup.region_table[2];
  EXPECT_EQ(west.cell_count, 35.0);
  EXPECT_DOUBLE_EQ(west.centre_row, 71.0 / 35.0);
  EXPECT_DOUBLE_EQ(west.centre_col, 233.0 / 35.0);
  EXPECT_EQ(west.centre_row_index, 2);
  EXPECT_EQ(west.centre_col_index, 6);

  for (const char* file : {"regions.intern.w1", "regions.intern.r2", "regions.intern.w2"})
    EXPECT_TRUE(Written(file)) << file;
  EXPECT_FALSE(Written("regions.intern.r3"));

  double** w1 = Data(setup.region_weights1_index);
  double** r2 = Data(setup.region_regions2_index);
  double** w2 = Data(setup.region_weights2_index);
  const struct {
    int col;
    double w1, r2;
  } cases[] = {{9, 0.7, 2}, {12, 0.55, 2}, {13, 0.55, 5}, {2, 1.0, 0}, {24, 1.0, 0}};
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(w1[2][c.col], c.w1) << c.col;
    EXPECT_DOUBLE_EQ(w2[2][c.col], 1.0 - c.w1) << c.col;
    EXPECT_EQ(r2[2][c.col], c.r2) << c.col;
  }
}

TEST_F(TwoRegions, ATransitionDistanceOfZeroOrLessKeepsEveryCellInItsRegion) {
  Add("regions.asc", "regression_regions", regions);
  for (const char* file : {"transition_0.intern", "transition_negative.intern"}) {
    setup.control_file_name = Fixture(file);
    setup.MakeRegionWeightGrids();
    EXPECT_EQ(setup.transition_distance, 0.01) << file;
    double** w1 = Data(setup.region_weights1_index);
    double** w2 = Data(setup.region_weights2_index);
    for (int c = 1; c <= 24; ++c) {
      EXPECT_EQ(w1[2][c], 1.0) << file << " " << c;
      EXPECT_EQ(w2[2][c], 0.0) << file << " " << c;
    }
  }
}

TEST_F(RegionFixture, ThreeRegionsGiveWeightsSummingToOne) {
  Domain(Filled(12, 12, 1.0));
  Rows regions = Filled(12, 12, 1.0);
  for (size_t r = 0; r < 12; ++r)
    for (size_t c = 6; c < 12; ++c) regions[r][c] = r < 6 ? 2.0 : 3.0;
  Add("regions.asc", "regression_regions", regions);
  setup.MakeRegionWeightGrids();

  ASSERT_EQ(setup.region_count, 3);
  EXPECT_TRUE(Written("regions.intern.r3"));
  EXPECT_TRUE(Written("regions.intern.w3"));
  double** w[3] = {Data(setup.region_weights1_index), Data(setup.region_weights2_index),
                   Data(setup.region_weights3_index)};
  double** r2 = Data(setup.region_regions2_index);
  double** r3 = Data(setup.region_regions3_index);
  int three_way = 0;
  for (int r = 1; r <= 12; ++r) {
    for (int c = 1; c <= 12; ++c) {
      const double own = regions[r - 1][c - 1];
      EXPECT_NEAR(w[0][r][c] + w[1][r][c] + w[2][r][c], 1.0, 1e-12) << r << "," << c;
      for (double** grid : w) {
        EXPECT_GE(grid[r][c], 0.0);
        EXPECT_LE(grid[r][c], 1.0);
      }
      EXPECT_NE(r2[r][c], own);
      EXPECT_NE(r3[r][c], own);
      if (r3[r][c] > 0) {
        ++three_way;
        EXPECT_NE(r2[r][c], r3[r][c]);
      }
    }
  }
  EXPECT_GT(three_way, 0);
}

// ---- errors

TEST_F(TwoRegions, InvalidRegionCodesEndTheRunWithCode3) {
  for (double bad : {N, 0.0, 0.5, 32768.0}) {
    Rows values = regions;
    values[1][3] = bad;
    Add("bad.asc", "regression_regions", values);
    EXPECT_THAT(ExpectCode(3, [&] { setup.MakeRegionWeightGrids(); }),
                HasSubstr("invalid region code in " + Path("bad.asc") +
                          "!\n (codes has to be between 1 and 32767)!\n"))
        << bad;
    table[setup.FindGrid("regression_regions", true)].name = "used";
  }
  Rows values = regions;
  values[1][3] = 32767.0;
  Add("max.asc", "regression_regions", values);
  setup.MakeRegionWeightGrids();
  EXPECT_EQ(setup.max_region_code, 32767);
  EXPECT_EQ(setup.region_code_map[32767], 3);
}

TEST_F(TwoRegions, ThirtyRegionsAreAcceptedAndTheThirtyFirstEndsTheRun) {
  Rows values = regions;
  for (int code = 1; code <= 30; ++code) values[1 + (code - 1) / 24][(code - 1) % 24] = code;
  Add("thirty.asc", "regression_regions", values);
  setup.MakeRegionWeightGrids();
  EXPECT_EQ(setup.region_count, 30);
  EXPECT_EQ(setup.region_code_map[30], 30);

  table[setup.FindGrid("regression_regions", true)].name = "used";
  values[2][10] = 31.0;
  Add("more.asc", "regression_regions", values);
  EXPECT_THAT(ExpectCode(4, [&] { setup.MakeRegionWeightGrids(); }),
              HasSubstr("too much zones in " + Path("more.asc") + ", (max. 30)!\n"));
}

TEST_F(TwoRegions, ControlFileAndTableErrors) {
  // No entry for the created region grid.
  const int first_free = table.FirstFreeEntry();
  for (int i = first_free; i < kGridTableLimit; ++i) table[i].name = "filler";
  EXPECT_THAT(ExpectCode(12, [&] { setup.MakeRegionWeightGrids(); }),
              HasSubstr("no free grid found in memory (at position 1000)\n"));
  for (int i = first_free; i < kGridTableLimit; ++i) table[i].name.clear();

  const struct {
    const char* file;
    int code;
    const char* message;
  } cases[] = {
      {"transition_missing_section.intern", 17, "[region_transition_distance]; (EOF)not found"},
      {"transition_missing_value.intern", 17, "transition distance (if or if not using a region grid) "},
      {"transition_nan.intern", 17,
       "transition distance (if or if not using a region grid) ; defaultsnot found"},
      {"transition_inf.intern", 17,
       "transition distance (if or if not using a region grid) ; defaultsnot found"},
      {"no_such_file.intern", 28, "error opening "},
  };
  for (const auto& c : cases) {
    setup.control_file_name = Fixture(c.file);
    EXPECT_THAT(ExpectCode(c.code, [&] { setup.MakeRegionWeightGrids(); }), HasSubstr(c.message)) << c.file;
  }
}

}  // namespace
}  // namespace velmo
