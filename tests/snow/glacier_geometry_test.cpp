// The glacier list and its yearly update: volume by the mass balance, area by the volume-area relation, the
// change spread over the elevation bands (lower bands more), the smallest glacier, cells that leave or join
// a glacier, growth onto bare neighbours, a glacier in two subbasins, and the mass balance of lost shares.
#include "snow/glacier_geometry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

constexpr double kNodata = -9999.0;

// A domain of `rows` x `cols` cells of 100 m in one subbasin, without
// glacier; tests put glaciers on it.
class GlacierGeometry : public ::testing::Test {
 protected:
  void SetDomain(int rows, int cols) {
    nrows = rows;
    ncols = cols;
    for (owned_matrix* m : {&subbasins, &elevation, &shares, &codes, &old_shares, &old_codes, &firn_sum,
                            &balance, &old_balance}) {
      *m = MatrixOf(Filled(rows, cols, 0.0));
    }
    for (int r = 1; r <= rows; ++r)
      for (int c = 1; c <= cols; ++c) {
        subbasins[r][c] = 1.0;
        codes[r][c] = old_codes[r][c] = kNodata;
      }
    firn = owned_stack(memory.Matrix3D(1, rows, 1, cols, kLevels, rows));
  }
  // Glacier `code` of share `share` on rows r0..r1, columns c0..c1.
  void PutGlacier(int code, double share, int r0, int r1, int c0, int c1) {
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) {
        shares[r][c] = old_shares[r][c] = share;
        codes[r][c] = old_codes[r][c] = code;
      }
  }
  glacier_grids Grids() {
    glacier_grids g;
    g.nrows = nrows;
    g.ncols = ncols;
    g.cellsize = 100.0;
    g.subbasins = subbasins.get();
    g.elevation = elevation.get();
    g.shares = shares.get();
    g.codes = codes.get();
    g.old_shares = old_shares.get();
    g.old_codes = old_codes.get();
    g.firn_sum = firn_sum.get();
    g.firn = firn.get();
    g.firn_levels = kLevels;
    g.mass_balance = balance.get();
    g.old_mass_balance = old_balance.get();
    return g;
  }
  double ShareSum() const {
    double sum = 0.0;
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) sum += shares[r][c] > 0.0 ? shares[r][c] : 0.0;
    return sum;
  }

  static constexpr int kLevels = 3;
  TempDir dir;
  std::ostringstream console;
  MessageStream messages{dir / "diag.xml", kDebug, console};
  memory_handling memory;
  int nrows = 0;
  int ncols = 0;
  owned_matrix subbasins, elevation, shares, codes, old_shares, old_codes, firn_sum, balance, old_balance;
  owned_stack firn;
  glacier_geometry_parameters parameters;
  glacier_list list;
};

// A glacier of 10 x 10 full cells (rows and columns 2..11 of 12 x 12) on a
// slope from 3000 m down by 50 m a row, in two bands, that loses 1000 mm.
class ShrinkingGlacier : public GlacierGeometry {
 protected:
  ShrinkingGlacier() {
    SetDomain(12, 12);
    PutGlacier(7, 1.0, 2, 11, 2, 11);
    for (int r = 1; r <= 12; ++r)
      for (int c = 1; c <= 12; ++c) {
        elevation[r][c] = 3000.0 - 50.0 * (r - 2);
        if (codes[r][c] == 7) balance[r][c] = -1000.0;
      }
    parameters.numElevBands = 2;
  }
  void ExpectBorderShares(double lower, double upper) {
    for (int r = 2; r <= 11; ++r)
      for (int c = 2; c <= 11; ++c) {
        const bool border = r == 2 || r == 11 || c == 2 || c == 11;
        const double expected = !border ? 1.0 : (r >= 7 ? lower : upper);
        EXPECT_NEAR(shares[r][c], expected, 1e-6) << r << " " << c;
      }
  }
};

TEST_F(ShrinkingGlacier, VolumeAreaAndTheBandsOfTheLoss) {
  BuildGlacierList(Grids(), parameters, list, &messages);
  ASSERT_EQ(list.records.size(), 1u);
  glacier_record& glacier = list.records[0];
  EXPECT_DOUBLE_EQ(glacier.area, 1.0);
  EXPECT_NEAR(glacier.volume, 28.5, 1e-12);
  EXPECT_DOUBLE_EQ(glacier.old_area, 1.0);
  EXPECT_EQ(glacier.min_elevation, 2550.0);
  EXPECT_EQ(glacier.max_elevation, 3000.0);
  // Only the 36 border cells can change: 18 in each band.
  ASSERT_EQ(glacier.bands.size(), 2u);
  EXPECT_EQ(glacier.bands[0].cell_count, 18);
  EXPECT_EQ(glacier.bands[1].cell_count, 18);

  UpdateGlacierGeometry(Grids(), parameters, list, &messages);
  EXPECT_NEAR(glacier.volume, 27.323529, 1e-6);
  EXPECT_NEAR(glacier.area, 0.969479, 1e-6);
  EXPECT_NEAR(glacier.cells_to_change, -3.052149, 1e-6);
  EXPECT_EQ(glacier.old_volume, glacier.volume);
  // Band 0 takes the loss twice, band 1 once.
  ExpectBorderShares(0.886957, 0.943479);
  EXPECT_NEAR(ShareSum(), 96.9479, 1e-4);
  const std::string log = console.str();
  EXPECT_THAT(log, HasSubstr("Glacierbalance\n"));
  EXPECT_THAT(log, HasSubstr("Glacier:\t0\nOld Volume:\t28.5\nNew Volume:\t27.3235"));
  EXPECT_THAT(log, HasSubstr("number of changeable cells: \t36"));
}

TEST_F(ShrinkingGlacier, AnExtraWeightMakesBandZeroTakeMore) {
  parameters.extraWeightFactorBand0 = 1;
  BuildGlacierList(Grids(), parameters, list, &messages);
  UpdateGlacierGeometry(Grids(), parameters, list, &messages);
  ExpectBorderShares(0.864349, 0.966087);
  EXPECT_NEAR(ShareSum(), 96.9479, 1e-4);
}

TEST_F(ShrinkingGlacier, CellsThatShrinkAwayLeaveTheGlacier) {
  // A loss of 75 % of the volume leaves the lower border without share.
  for (int r = 2; r <= 11; ++r)
    for (int c = 2; c <= 11; ++c) balance[r][c] = -0.85 * 1000.0 * 28.5 * 0.75 / 1.0;
  BuildGlacierList(Grids(), parameters, list, &messages);
  UpdateGlacierGeometry(Grids(), parameters, list, &messages);
  const glacier_record& glacier = list.records[0];
  EXPECT_NEAR(ShareSum(), glacier.area * 100.0, 1e-4);
  int left = 0;
  for (int r = 1; r <= 12; ++r)
    for (int c = 1; c <= 12; ++c)
      if (codes[r][c] == kLeftGlacierCode) {
        ++left;
        EXPECT_EQ(shares[r][c], 0.0);
      }
  EXPECT_GT(left, 18);
}

TEST_F(GlacierGeometry, ASmallGlacierKeepsTheSmallestArea) {
  SetDomain(3, 3);
  PutGlacier(2, 1.0, 2, 2, 2, 2);  // 0.01 km²
  BuildGlacierList(Grids(), parameters, list, &messages);
  glacier_record& glacier = list.records[0];
  EXPECT_NEAR(glacier.old_volume, 0.542216, 1e-6);
  EXPECT_EQ(glacier.old_area, kMinimumGlacierArea);
  balance[2][2] = -5000.0;
  UpdateGlacierGeometry(Grids(), parameters, list, &messages);
  EXPECT_NEAR(glacier.volume, 0.542216, 1e-6);
  EXPECT_EQ(glacier.area, kMinimumGlacierArea);
  EXPECT_EQ(console.str().find("melted more than its volume"), std::string::npos);

  // A year whose melt exceeds that volume: one warning names the glacier,
  // however many such years follow.
  for (int year = 0; year < 2; ++year) {
    balance[2][2] -= 1.0e6;
    UpdateGlacierGeometry(Grids(), parameters, list, &messages);
    EXPECT_EQ(glacier.area, kMinimumGlacierArea);
  }
  const std::string text = console.str();
  const std::string warning = "glacier 2 melted more than its volume";
  const std::size_t first = text.find(warning);
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find(warning, first + warning.size()), std::string::npos) << text;
}

TEST_F(GlacierGeometry, NewCellsJoinTheFirstNeighbouringGlacierOrStartOne) {
  // Glacier 4 above, glacier 9 to the right of cell (2,2), which is to join
  // one; cell (5,5) has no glacier around it. Code 0 is no glacier.
  SetDomain(5, 5);
  PutGlacier(4, 1.0, 1, 1, 1, 3);
  PutGlacier(9, 1.0, 2, 3, 3, 3);
  BuildGlacierList(Grids(), parameters, list, &messages);
  const double volume_4 = list.Find(4)->old_volume;
  codes[2][2] = codes[5][5] = -1.0;
  codes[4][1] = 0.0;
  shares[2][2] = shares[5][5] = 0.25;
  CollectGlacierCells(Grids(), parameters, list, -1, false);
  EXPECT_EQ(codes[2][2], 4.0);
  EXPECT_EQ(old_codes[2][2], 4.0);
  EXPECT_EQ(codes[5][5], 10.0);
  EXPECT_EQ(codes[4][1], 0.0);
  ASSERT_NE(list.Find(10), nullptr);
  EXPECT_EQ(list.records.size(), 3u);
  // Glacier 4 grows by a quarter cell of old area and the volume that goes with it.
  const glacier_record& four = *list.Find(4);
  EXPECT_NEAR(four.old_area, kMinimumGlacierArea + 0.0025, 1e-12);
  EXPECT_NEAR(four.old_volume - volume_4,
              28.5 * (std::pow(four.old_area, 1.36) - std::pow(kMinimumGlacierArea, 1.36)), 1e-12);
}

TEST_F(GlacierGeometry, AGrowingGlacierTakesBareNeighboursOfItsFullCells) {
  // A full glacier of 4 x 4 cells gains a quarter of its volume: its full
  // cells cannot grow, so its bare neighbours join and take the gain.
  SetDomain(8, 8);
  PutGlacier(3, 1.0, 3, 6, 3, 6);
  for (int r = 1; r <= 8; ++r)
    for (int c = 1; c <= 8; ++c) elevation[r][c] = 2000.0 + r;
  BuildGlacierList(Grids(), parameters, list, &messages);
  const double volume = list.records[0].old_volume;
  for (int r = 3; r <= 6; ++r)
    for (int c = 3; c <= 6; ++c) balance[r][c] = 0.85 * 1000.0 * volume * 0.25 / 0.16;
  UpdateGlacierGeometry(Grids(), parameters, list, &messages);
  const glacier_record& glacier = list.records[0];
  EXPECT_NEAR(glacier.volume, 1.25 * volume, 1e-9);
  EXPECT_NEAR(ShareSum(), glacier.area * 100.0, 1e-4);
  EXPECT_GT(ShareSum(), 16.0);
  EXPECT_THAT(console.str(), HasSubstr("growing the glacier..."));
  int joined = 0;
  for (int r = 1; r <= 8; ++r)
    for (int c = 1; c <= 8; ++c)
      joined += codes[r][c] == 3.0 && shares[r][c] > 0.0 && (r < 3 || r > 6 || c < 3 || c > 6);
  EXPECT_EQ(joined, 16);
}

TEST_F(GlacierGeometry, ANeighbourJoinsWithTheFirnOfTheCellItGrowsFrom) {
  // A full glacier cell with 30 mm of firn in three levels grows: without a
  // firn-free neighbour its bare neighbours take its firn sum, a third a level.
  SetDomain(1, 3);
  PutGlacier(4, 1.0, 1, 1, 2, 2);
  firn_sum[1][2] = 30.0;
  for (int l = 0; l <= kLevels; ++l) firn.get()[1][2][l] = l == 0 ? 30.0 : 10.0;
  BuildGlacierList(Grids(), parameters, list, &messages);
  GrowGlacier(Grids(), list, 4);
  for (int c : {1, 3}) {
    EXPECT_EQ(codes[1][c], 4.0) << c;
    EXPECT_EQ(shares[1][c], 0.0) << c;
    EXPECT_EQ(firn_sum[1][c], 30.0) << c;
    EXPECT_EQ(firn.get()[1][c][0], 30.0) << c;
    EXPECT_EQ(firn.get()[1][c][2], 10.0) << c;
  }
  EXPECT_EQ(list.records[0].band_cell_count, 2);
}

TEST_F(GlacierGeometry, AGlacierInTwoSubbasinsEndsTheRunWith84) {
  SetDomain(2, 3);
  PutGlacier(5, 1.0, 1, 1, 1, 3);
  subbasins[1][3] = 2.0;
  EXPECT_EQ(ThrownCode([&] { BuildGlacierList(Grids(), parameters, list, &messages); }), 84);
  EXPECT_THAT(console.str(),
              HasSubstr("glacier 5 is located in more than one subbasin:\nFirst cell was found in "
                        "subbasin 1,\nwhereas the cell in row 1 and col 3 belongs to subbasin 2."));
}

TEST_F(GlacierGeometry, TheBalanceOfLostSharesGoesToTheCellsTheGlacierKeeps) {
  // Cell (1,1) lost half its share, (1,2) left the glacier; (1,3) kept all.
  SetDomain(1, 4);
  PutGlacier(6, 1.0, 1, 1, 1, 3);
  shares[1][1] = 0.5;
  shares[1][2] = 0.0;
  codes[1][2] = kLeftGlacierCode;
  for (int c = 1; c <= 3; ++c) balance[1][c] = -100.0 * c;
  BuildGlacierList(Grids(), parameters, list, &messages);
  const double before = 1.0 * balance[1][1] + 1.0 * balance[1][2] + 1.0 * balance[1][3];
  RedistributeGlacierBalance(Grids(), list);
  // Removed: 0.5·(-100) + 1·(-200) over the new share sum 1.5.
  EXPECT_DOUBLE_EQ(list.records[0].balance_per_share, -250.0 / 1.5);
  EXPECT_DOUBLE_EQ(0.5 * balance[1][1] + 1.0 * balance[1][3], before);
  EXPECT_EQ(balance[1][2], -200.0);
}

}  // namespace
}  // namespace velmo::test
