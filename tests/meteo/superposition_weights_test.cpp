// Weights of the regional superposition: region ranks of cell values, an
// input's weight in a cell of up to three regions, runs of cells and the
// check of an input's region list.
#include "meteo/superposition_weights.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmo {
namespace {

// Codes 3, 7 and 9 are the regions of ranks 1, 2 and 3.
constexpr int kMaxCode = 9;
const int kCodeMap[kMaxCode + 1] = {0, 0, 0, 1, 0, 0, 0, 2, 0, 3};

TEST(SuperpositionWeights, RegionRankOfCellValues) {
  const struct {
    double value;
    int rank;
  } cases[] = {{3.0, 1},  {7.9, 2},  {9.0, 3},  {5.0, 0},    {0.0, 0},
               {-3.0, 0}, {-0.5, 0}, {10.0, 0}, {-9999.0, 0}};
  for (const auto& c : cases) EXPECT_EQ(RegionRank(c.value, kCodeMap, kMaxCode), c.rank) << c.value;
}

TEST(SuperpositionWeights, CellsBlendTheWeightsOfTheirRegions) {
  // Inputs 10 and 2 with weights (1, 0.5, 4) and (0, 2, 1) for the regions 3,
  // 7 and 9.
  const std::vector<double> first = WeightsByRank({1.0, 0.5, 4.0});
  const std::vector<double> second = WeightsByRank({0.0, 2.0, 1.0});
  struct cell {
    const char* what;
    double codes[kMaxRegionLayers];
    double layer_weights[kMaxRegionLayers];
    int layers;
    double expected;
  };
  const cell cells[] = {
      {"region 7 (0.8) with region 3 (0.2)", {7, 3, 0}, {0.8, 0.2, 0.0}, 2, 9.2},
      {"three regions", {3, 7, 9}, {0.6, 0.3, 0.1}, 3, 12.9},
      {"the same cell with two layers", {3, 7, 9}, {0.6, 0.3, 0.1}, 2, 8.7},
      {"second layer code 0 adds nothing", {7, 0, 0}, {0.8, 0.2, 0.0}, 2, 7.2},
      {"own code without rank adds nothing", {5, 3, 0}, {0.8, 0.2, 0.0}, 2, 2.0},
  };
  for (const cell& c : cells) {
    int ranks[kMaxRegionLayers];
    for (int l = 0; l < kMaxRegionLayers; ++l) ranks[l] = RegionRank(c.codes[l], kCodeMap, kMaxCode);
    const double w1 = CellInputWeight(first.data(), ranks, c.layer_weights, c.layers);
    const double w2 = CellInputWeight(second.data(), ranks, c.layer_weights, c.layers);
    EXPECT_NEAR(10.0 * w1 + 2.0 * w2, c.expected, 1e-12) << c.what;
  }
}

TEST(SuperpositionWeights, AMissingInputMakesTheCellNodata) {
  const double nodata = -9999.0;
  const double a[] = {1.0, nodata, 3.0, -10000.0};
  const double b[] = {2.0, 2.0, nodata, 1.0};
  const double wa[] = {1.0, 1.0, 0.0, 1.0};  // a weight of 0 does not hide a missing value
  const double wb[] = {0.5, 0.5, 0.5, 0.0};
  const double* values[] = {a, b};
  const double* weights[] = {wa, wb};
  double out[4];
  SuperposeCells(values, weights, 2, 4, nodata, out);
  EXPECT_EQ(out[0], 2.0);
  EXPECT_EQ(out[1], nodata);
  EXPECT_EQ(out[2], nodata);
  EXPECT_EQ(out[3], -10000.0);  // only the domain's nodata value marks a missing cell

  SuperposeCells(values, weights, 0, 4, nodata, out);  // no inputs: 0 everywhere
  EXPECT_EQ(out[1], 0.0);
}

TEST(SuperpositionWeights, RegionListFollowsTheRanks) {
  struct list_case {
    std::vector<int> codes;
    region_list_fault::kind_t kind;
    int position, code_read, expected_code;
  };
  const list_case cases[] = {
      {{3, 7, 9}, region_list_fault::kNone, 0, 0, 0},
      {{3, 7}, region_list_fault::kCount, 0, 0, 0},
      {{3, 7, 9, 9}, region_list_fault::kCount, 0, 0, 0},
      {{3, 9, 7}, region_list_fault::kOrder, 2, 9, 7},
      {{7, 3, 9}, region_list_fault::kOrder, 1, 7, 3},
      {{3, 5, 9}, region_list_fault::kNoRegion, 2, 5, 0},
      {{3, 7, 12}, region_list_fault::kNoRegion, 3, 12, 0},
      {{-1, 7, 9}, region_list_fault::kNoRegion, 1, -1, 0},
  };
  for (const list_case& c : cases) {
    const region_list_fault fault = CheckRegionList(c.codes, 3, kCodeMap, kMaxCode);
    const std::string label = testing::PrintToString(c.codes);
    EXPECT_EQ(fault.kind, c.kind) << label;
    if (c.kind == region_list_fault::kCount || c.kind == region_list_fault::kNone) continue;
    EXPECT_EQ(fault.position, c.position) << label;
    EXPECT_EQ(fault.code_read, c.code_read) << label;
    if (c.kind == region_list_fault::kOrder) {
      EXPECT_EQ(fault.expected_code, c.expected_code) << label;
    }
  }
}

}  // namespace
}  // namespace velmo
