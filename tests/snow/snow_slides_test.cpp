// Snow slides: the elevation order and its grids, deposition limits, and one step of slides on small rows and
// blocks, with the snow of the domain kept.
#include "snow/snow_slides.h"

#include <gtest/gtest.h>

#include <vector>

#include "framework/memory.h"

namespace velmo {
namespace {

constexpr double kNodata = -9999.0;

// Matrices of a rows x cols domain, freed with the test.
class Grids {
 public:
  Grids(int rows, int cols) : rows_(rows), cols_(cols) {}
  double** Make(const std::vector<double>& cells) {
    owned_.emplace_back(memory_.matrix(1, rows_, 1, cols_, rows_));
    double** m = owned_.back().get();
    for (int r = 1; r <= rows_; ++r)
      for (int c = 1; c <= cols_; ++c)
        m[r][c] = cells.size() == 1 ? cells[0] : cells[static_cast<size_t>((r - 1) * cols_ + c - 1)];
    return m;
  }

 private:
  int rows_, cols_;
  memory_handling memory_;
  std::vector<owned_matrix> owned_;
};

TEST(ElevationOrder, HighestFirstAndLaterOfEqualCellsFirst) {
  Grids g(2, 2);
  double** zone = g.Make({1});
  double** dem = g.Make({1, 3, 2, 3});
  const std::vector<slide_cell> order = ElevationOrder(zone, dem, 2, 2, kNodata);
  ASSERT_EQ(order.size(), 4u);
  double** rows = g.Make({0});
  double** cols = g.Make({0});
  WriteElevationOrder(order, zone, 2, 2, kNodata, rows, cols);
  EXPECT_EQ(rows[1][1], 2);
  EXPECT_EQ(rows[1][2], 1);
  EXPECT_EQ(rows[2][1], 2);
  EXPECT_EQ(rows[2][2], 1);
  EXPECT_EQ(cols[1][1], 2);
  EXPECT_EQ(cols[1][2], 2);
  EXPECT_EQ(cols[2][1], 1);
  EXPECT_EQ(cols[2][2], 1);

  // Cells outside the zone grid hold nodata and take no place in the order;
  // neighbours in another zone receive nothing.
  double** zones = g.Make({1, kNodata, 1, 2});
  const std::vector<slide_cell> part = ElevationOrder(zones, dem, 2, 2, kNodata);
  WriteElevationOrder(part, zones, 2, 2, kNodata, rows, cols);
  ASSERT_EQ(part.size(), 3u);
  EXPECT_EQ(rows[1][2], kNodata);
  EXPECT_EQ(rows[2][2], 1);  // the third valid cell holds the lowest, (1, 1)
  EXPECT_EQ(cols[2][2], 1);
  EXPECT_EQ(part[0].neighbours, 0);  // (2, 2) of zone 2 alone
  EXPECT_EQ(part[1].neighbours, 1u << kSlideAbove);
  EXPECT_EQ(part[2].neighbours, 1u << kSlideBelow);
}

TEST(MaxDeposition, FallsWithSlopeToTheMaximumSlope) {
  EXPECT_NEAR(MaxDeposition(40.0, 55.0, 1.0), 0.272727, 1e-6);
  EXPECT_NEAR(MaxDeposition(10.0, 55.0, 2.0), 1.636364, 1e-6);
  EXPECT_EQ(MaxDeposition(55.0, 55.0, 1.0), 0.0);
  EXPECT_EQ(MaxDeposition(0.0, 0.0, 1.0), 0.0);
}

// One row of cells of zone 1 (nodata in `zones` leaves a cell out), all snow
// going right, deposition limits from 55 degrees and factor 1.
struct SlideRow {
  SlideRow(const std::vector<double>& zones, const std::vector<double>& dem,
           const std::vector<double>& slopes, const std::vector<double>& solid,
           const std::vector<double>& liquid)
      : grids(1, static_cast<int>(zones.size())) {
    const int n = static_cast<int>(zones.size());
    g.zone = grids.Make(zones);
    for (int k = 0; k < kSlideNeighbourCount; ++k) g.fraction[k] = grids.Make({k == kSlideRight ? 1.0 : 0.0});
    g.slope = grids.Make(slopes);
    g.max_deposition = grids.Make({0});
    for (int c = 1; c <= n; ++c) g.max_deposition[1][c] = MaxDeposition(g.slope[1][c], 55.0, 1.0);
    g.solid = grids.Make(solid);
    g.liquid = grids.Make(liquid);
    g.total = grids.Make({0});
    g.input_mass = grids.Make({0});
    g.mobile_mass = grids.Make({0});
    g.deposition = grids.Make({0});
    order = ElevationOrder(g.zone, grids.Make(dem), 1, n, kNodata);
  }
  Grids grids;
  slide_grids g;
  std::vector<slide_cell> order;
};

TEST(SnowSlides, MassRunsDownARowUpToEachDepositionLimit) {
  SlideRow row({1, 1, 1}, {300, 200, 100}, {40, 40, 10}, {90, 50, 0}, {10, 0, 0});
  const slide_grids& g = row.g;
  RunSnowSlides(g, {30.0, 0.1}, row.order, 1, 3, nullptr, kNodata);
  const double input[] = {10, 5, 0};
  const double deposition[] = {0, 0.272727, 0.818182};
  const double mobile[] = {0, 0, 13.909091};
  const double total[] = {90, 45.272727, 14.727273};
  for (int c = 1; c <= 3; ++c) {
    EXPECT_NEAR(g.input_mass[1][c], input[c - 1], 1e-6) << c;
    EXPECT_NEAR(g.deposition[1][c], deposition[c - 1], 1e-6) << c;
    EXPECT_NEAR(g.mobile_mass[1][c], mobile[c - 1], 1e-6) << c;
    EXPECT_NEAR(g.total[1][c], total[c - 1], 1e-6) << c;
    EXPECT_NEAR(g.solid[1][c] + g.liquid[1][c], total[c - 1], 1e-6) << c;
  }
  EXPECT_NEAR(g.liquid[1][1], 9.0, 1e-12);
  EXPECT_EQ(g.liquid[1][3], 0.0);
  EXPECT_NEAR(g.solid[1][1] + g.liquid[1][1] + g.solid[1][2] + g.solid[1][3], 150.0, 1e-12);
}

TEST(SnowSlides, SnowWithNowhereToGoStaysAndEdgesAndZonesStopIt) {
  // The lowest cell's right neighbour lies outside the grid; a flat cell
  // releases nothing; a slope exactly at the minimum releases.
  SlideRow row({1, 1, kNodata}, {300, 200, 100}, {30, 20, 50}, {100, 40, 7}, {0, 0, 0});
  const slide_grids& g = row.g;
  RunSnowSlides(g, {30.0, 0.5}, row.order, 1, 3, nullptr, kNodata);
  EXPECT_DOUBLE_EQ(g.input_mass[1][1], 50.0);
  EXPECT_EQ(g.input_mass[1][2], 0.0);
  EXPECT_EQ(g.input_mass[1][3], kNodata);
  // Cell 2 keeps what it cannot pass on (its right neighbour is no cell).
  EXPECT_DOUBLE_EQ(g.mobile_mass[1][2], 50.0 - MaxDeposition(20.0, 55.0, 1.0));
  EXPECT_DOUBLE_EQ(g.solid[1][2], 90.0);
  EXPECT_EQ(g.solid[1][3], 7.0);  // outside the zone grid: untouched
}

TEST(SnowSlides, SharesAreNormalisedOverReachableNeighboursAndNegativeSharesTakeNothing) {
  // A 3 x 3 block of one zone with a steep, high centre whose shares are:
  // above 1, left -1, right 1, below 2; a limit of 0 everywhere leaves all
  // it passes on as mobile snow.
  Grids grids(3, 3);
  slide_grids g;
  g.zone = grids.Make({1});
  // Only the centre passes snow on; the others keep what reaches them.
  g.fraction[kSlideAbove] = grids.Make({0, 0, 0, 0, 1, 0, 0, 0, 0});
  g.fraction[kSlideLeft] = grids.Make({0, 0, 0, 0, -1, 0, 0, 0, 0});
  g.fraction[kSlideRight] = grids.Make({0, 0, 0, 0, 1, 0, 0, 0, 0});
  g.fraction[kSlideBelow] = grids.Make({0, 0, 0, 0, 2, 0, 0, 0, 0});
  g.slope = grids.Make({0, 0, 0, 0, 45, 0, 0, 0, 0});
  g.max_deposition = grids.Make({0});
  g.solid = grids.Make({0, 0, 0, 0, 100, 0, 0, 0, 0});
  g.liquid = grids.Make({0});
  g.total = grids.Make({0});
  g.input_mass = grids.Make({0});
  g.mobile_mass = grids.Make({0});
  g.deposition = grids.Make({0});
  double** dem = grids.Make({1, 1, 1, 1, 9, 1, 1, 1, 1});
  const std::vector<slide_cell> order = ElevationOrder(g.zone, dem, 3, 3, kNodata);
  RunSnowSlides(g, {30.0, 0.2}, order, 3, 3, nullptr, kNodata);
  EXPECT_DOUBLE_EQ(g.solid[2][2], 80.0);
  EXPECT_DOUBLE_EQ(g.solid[1][2], 5.0);
  EXPECT_DOUBLE_EQ(g.solid[2][1], 0.0);
  EXPECT_DOUBLE_EQ(g.solid[2][3], 5.0);
  EXPECT_DOUBLE_EQ(g.solid[3][2], 10.0);
  double sum = 0.0;
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) sum += g.solid[r][c] + g.liquid[r][c];
  EXPECT_DOUBLE_EQ(sum, 100.0);
}

}  // namespace
}  // namespace velmo
