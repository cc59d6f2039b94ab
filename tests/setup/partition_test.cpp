// Division of the domain: row runs, river links, regions and halo, the whole division.
#include "setup/partition.h"

#include <gtest/gtest.h>

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

using test::Rows;

constexpr double N = -9999.0;

// ---- runs of a row

struct row_runs_case {
  const char* label;
  std::vector<double> regions;  // columns 1..n
  std::vector<double> helper;   // columns 0..2n
  int runs;
};

TEST(RowRuns, EveryPatternFitsItsHelperRow) {
  const row_runs_case cases[] = {
      {"nodata gaps", {N, 0, 0, N, 0, 0}, {1, 0, 2, N, 1, 0, 2, 0, 0, 0, 0, 0, 0}, 3},
      // A run per cell after a valid first cell: the widest row there is.
      {"alternating from valid", {0, N, 0, N, 0}, {0, 0, 1, N, 1, 0, 1, N, 1, 0, 1}, 5},
      {"two instances alternating", {0, 1, 0, 1}, {0, 0, 1, 1, 1, 0, 1, 1, 1}, 4},
      {"all nodata", {N, N, N}, {3, 0, 0, 0, 0, 0, 0}, 0},
      {"all valid", {0, 0, 0, 0}, {0, 0, 4, 0, 0, 0, 0, 0, 0}, 1},
  };
  constexpr double kSentinel = 12345.0;
  for (const row_runs_case& c : cases) {
    const int n = static_cast<int>(c.regions.size());
    std::vector<double> regions{0.0};
    regions.insert(regions.end(), c.regions.begin(), c.regions.end());
    ASSERT_EQ(static_cast<int>(c.helper.size()), HelperColumns(n) + 1) << c.label;
    // Stale values from an earlier row and a sentinel just past the row.
    std::vector<double> helper(static_cast<size_t>(HelperColumns(n)) + 2, 7.0);
    helper.back() = kSentinel;
    EXPECT_EQ(WriteRowRuns(regions.data(), n, N, helper.data()), c.runs) << c.label;
    EXPECT_EQ(std::vector<double>(helper.begin(), helper.end() - 1), c.helper) << c.label;
    EXPECT_EQ(helper.back(), kSentinel) << c.label;
  }
}

// ---- river links

river_link_record Cell(int code, double elevation, int row) {
  river_link_record r;
  r.link_code = code;
  r.elevation = elevation;
  r.row = row;
  return r;
}

TEST(RiverLinks, LinksListLargestFirstAndCellsFromTheTopDown) {
  std::vector<river_link_record> records;
  for (int i = 0; i < 5; ++i) records.push_back(Cell(2, 100.0 + i, i));
  for (int i = 0; i < 9; ++i) records.push_back(Cell(6, 50.0, i));  // equal elevations
  for (int i = 0; i < 7; ++i) records.push_back(Cell(8, 10.0, i));
  for (int i = 0; i < 7; ++i) records.push_back(Cell(4, 10.0, i));
  const std::vector<RiverLink> links = GroupRiverLinks(records);

  std::vector<int> codes, sizes;
  for (const RiverLink& link : links) {
    codes.push_back(link.link_code);
    sizes.push_back(link.cell_count);
    EXPECT_EQ(link.partition, 0);
  }
  EXPECT_EQ(codes, (std::vector<int>{6, 4, 8, 2}));
  EXPECT_EQ(sizes, (std::vector<int>{9, 7, 7, 5}));
  // Highest first; equal elevations keep their scan order.
  std::vector<int> rows;
  for (const river_link_record& r : links[3].cells) rows.push_back(r.row);
  EXPECT_EQ(rows, (std::vector<int>{4, 3, 2, 1, 0}));
  rows.clear();
  for (const river_link_record& r : links[0].cells) rows.push_back(r.row);
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(RiverLinks, BudgetTakesLinksWhileTheRestStaysPositive) {
  struct budget_case {
    int total;
    std::vector<int> sizes;
    int budget;
    int taken;
  };
  const budget_case cases[] = {
      {10, {}, 10, 0},
      {14, {4, 3}, 7, 2},
      {7, {4, 3}, 3, 1},  // no regular cell: the last link would empty the budget
      {3, {3}, 1, 1},     // an emptied budget is raised to 1
  };
  for (const budget_case& c : cases) {
    std::vector<RiverLink> links;
    for (int size : c.sizes) {
      links.emplace_back(static_cast<int>(links.size()) + 1);
      for (int i = 0; i < size; ++i) links.back().AddCell(river_link_record{});
    }
    const link_assignment a = AssignRiverLinks(links, c.total, 0);
    EXPECT_EQ(a.budget, c.budget) << c.total;
    EXPECT_EQ(a.links_taken, c.taken) << c.total;
  }
}

// ---- regions, halo and counts on two instances

TEST(Regions, HaloMarksOtherInstancesNextToOwnCellsAndCountsPerInstance) {
  const Rows region_rows = {{0, 0, 1}, {0, N, 1}, {N, N, 1}};
  const owned_matrix zone = test::MatrixOf({{1, 1, 1}, {1, N, 1}, {N, N, 1}});
  const owned_matrix regions = test::MatrixOf(region_rows);
  const owned_matrix halo = test::MatrixOf(test::Filled(3, 3, N));
  FillHalo(regions.get(), halo.get(), 3, 3, N, 0);
  const Rows expected = {{N, N, 1}, {N, N, 1}, {N, N, N}};
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(halo[r][c], expected[r - 1][c - 1]) << r << "," << c;

  EXPECT_EQ(CountPartitionCells(zone.get(), regions.get(), 3, 3, N, 2), (std::vector<int>{3, 3}));
  // A region value outside the instances is not counted anywhere.
  regions[3][3] = 5.0;
  EXPECT_EQ(CountPartitionCells(zone.get(), regions.get(), 3, 3, N, 2), (std::vector<int>{3, 2}));
}

// ---- the whole division on the set-up object

constexpr int kRows = 4;
constexpr int kCols = 5;

// Valid cells: 3 + 4 + 5 + 2 = 14.
const Rows kZone = {{N, 1, 1, 1, N}, {1, 1, 2, 2, N}, {1, 2, 2, 2, 2}, {N, N, 2, 2, N}};
// Link 5: three cells; link 3 (3.7 truncates): four cells. The 7 and the 9
// lie outside the catchment, the -1 is a regular cell.
const Rows kLinks = {{0, 5, 0, 0, 7}, {0, 5, 5, 0, 0}, {3, 3, 3, 0, -1}, {9, 0, 3.7, 0, 0}};
const Rows kElevation = {{0, 800, 0, 0, 0}, {0, 900, 700, 0, 0}, {500, 500, 600, 0, 0}, {0, 0, 400, 0, 0}};

struct PartitionFixture : test::SmallDomainTest {
  PartitionFixture()
      : SmallDomainTest(
            {.zone = kZone, .elevation = kElevation, .landuse = {}, .soil = {}, .set_up = false}) {}
  ~PartitionFixture() override { setup.ReleasePartition(); }

  // Zone grid, elevation model, optionally "river_links", and a standard
  // grid that is listed but not yet read.
  void Prepare(bool with_links) {
    int next = 3;
    if (with_links) {
      domain.AddGrid("river_links", kLinks, "links.asc");
      ++next;
    }
    setup.RegisterGrid(next, "landuse.asc", nullptr, nullptr, 0, "landuse", 0, 1, kRows);
    setup.grid_count = next - 2;
  }

  void Divide() {
    setup.first_row = 0;
    setup.last_row = 0;
    setup.PartitionDomain(setup.partition_cell_counts, setup.halo_send_list, setup.halo_receive_list,
                          setup.first_row, setup.last_row);
  }
};

TEST_F(PartitionFixture, DividesTheCatchmentWithItsRiverLinks) {
  Prepare(true);
  Divide();

  EXPECT_EQ(setup.first_row, 1);
  EXPECT_EQ(setup.last_row, kRows);
  EXPECT_EQ(setup.grid_count, 2 + 3);
  EXPECT_EQ(setup.partition_cell_counts, (std::vector<int>{14}));
  EXPECT_TRUE(setup.halo_send_list.empty());
  EXPECT_TRUE(setup.halo_receive_list.empty());

  // The three grids follow the standard grids, are never written and can be
  // found by name.
  const char* names[] = {"MPIRegions", "MPIHelper", "MPIHalo"};
  for (int i = 0; i < 3; ++i) {
    const grid_entry& e = table[5 + i];
    EXPECT_EQ(e.name, names[i]);
    EXPECT_EQ(e.file_name, "");
    EXPECT_EQ(e.write_code, 0);
    EXPECT_EQ(e.period_code, 0);
    EXPECT_NE(e.data, nullptr);
    EXPECT_EQ(setup.FindGrid(names[i], true), 5 + i);
  }
  EXPECT_EQ(setup.mpi_regions_data, table[5].data);
  EXPECT_EQ(setup.mpi_helper_data, table[6].data);

  double** regions = table[5].data;
  double** helper = table[6].data;
  double** halo = table[7].data;
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      EXPECT_EQ(regions[r][c], kZone[r - 1][c - 1] > N ? 0.0 : N) << r << "," << c;
      EXPECT_EQ(halo[r][c], N);
    }
  }
  const std::vector<double> helper_row4(helper[4], helper[4] + HelperColumns(kCols) + 1);
  EXPECT_EQ(helper_row4, (std::vector<double>{2, 0, 2, N, 1, 0, 0, 0, 0, 0, 0}));

  ASSERT_EQ(setup.river_link_list.size(), 2u);
  const RiverLink& first = setup.river_link_list[0];
  EXPECT_EQ(first.link_code, 3);
  struct cell {
    int row, col;
    double elevation;
  };
  const cell order[] = {{3, 3, 600}, {3, 1, 500}, {3, 2, 500}, {4, 3, 400}};
  ASSERT_EQ(first.cells.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const river_link_record& r = first.cells[static_cast<size_t>(i)];
    EXPECT_EQ(r.row, order[i].row) << i;
    EXPECT_EQ(r.col, order[i].col) << i;
    EXPECT_EQ(r.elevation, order[i].elevation) << i;
    EXPECT_EQ(r.link_code, 3);
    EXPECT_EQ(r.position, i);
    EXPECT_EQ(r.cell_partition, 0);
    EXPECT_EQ(r.link_partition, 0);
  }
  EXPECT_EQ(setup.river_link_list[1].link_code, 5);
  EXPECT_EQ(setup.river_link_list[1].cell_count, 3);
  EXPECT_EQ(setup.river_link_list[1].cells.front().elevation, 900);

  EXPECT_EQ(console.str(),
            "MPI regular cells: 7\nMPI river cells: 7\n"
            "MPI num cells: 7 for instance: 0\n"
            " + link cells: 4 for river link 3\n"
            " + link cells: 3 for river link 5\n"
            "        total: 14 for instance 0\n");
}

TEST_F(PartitionFixture, WithoutRiverLinksEveryCellIsRegular) {
  Prepare(false);
  Divide();
  EXPECT_TRUE(setup.river_link_list.empty());
  EXPECT_EQ(table[4].name, "MPIRegions");
  EXPECT_EQ(setup.grid_count, 1 + 3);
  EXPECT_EQ(setup.partition_cell_counts, (std::vector<int>{14}));
  EXPECT_EQ(console.str(), "MPI regular cells: 14\nMPI river cells: 0\nMPI num cells: 14 for instance: 0\n");
}

TEST_F(PartitionFixture, FullTableIsFatal) {
  Prepare(false);
  for (int i = 4; i < kGridTableLimit; ++i) table[i].name = "filler";
  try {
    Divide();
    ADD_FAILURE() << "no code thrown";
  } catch (ErrorCode code) {
    EXPECT_EQ(code, kNoFreeGridCode);
  }
  EXPECT_EQ(console.str(),
            "when trying to create MPI-Regions: no free grid found in memory (at position 1000)\n");
}

TEST_F(PartitionFixture, LinkValueBeyondAWholeNumberIsFatal) {
  Prepare(true);
  table[3].data[2][2] = 1e10;  // inside the catchment
  EXPECT_EQ(test::ThrownCode([&] { Divide(); }), 3);
  EXPECT_EQ(console.str(), "invalid river link code 1e+10 at row 2, column 2 in grid river_links!\n");
}

TEST_F(PartitionFixture, ReleaseTakesTheGridsOutOfTheirEntries) {
  Prepare(true);
  Divide();
  setup.ReleasePartition();
  for (int i = 5; i <= 7; ++i) EXPECT_EQ(table[i].data, nullptr);
  EXPECT_EQ(setup.mpi_regions_data, nullptr);
  EXPECT_EQ(setup.mpi_helper_data, nullptr);
  EXPECT_TRUE(setup.river_link_list.empty());
  EXPECT_TRUE(setup.partition_cell_counts.empty());
  setup.ReleasePartition();  // a second release does nothing
}

}  // namespace
}  // namespace velmo
