// Matrices and stacks: block sizes, layout, release and allocation failures.
#include "framework/memory.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

TEST(MatrixBlocks, BlockSizes) {
  struct Case {
    int row_lo, row_hi, col_hi;
    std::vector<int> blocks;
  };
  const Case cases[] = {
      {1, 1, 10, {1}},
      {1, 3000, 3000, {2795, 205}},
      {1, 100, 100, {81, 10, 9}},
      {5, 8, 20, {2, 1, 1}},
  };
  for (const Case& c : cases) EXPECT_EQ(MatrixBlockRows(c.row_lo, c.row_hi, c.col_hi), c.blocks) << c.row_hi;
}

TEST(MatrixBlocks, RowsAreContiguousWithinABlockAndStartAtZero) {
  // Small blocks come from the heap, large ones (about 4 MB here) straight
  // from the system; a matrix made where a written one was freed starts at 0
  // all the same.
  for (int n : {100, 700}) {
    memory_handling mh;
    for (int round = 0; round < 2; ++round) {
      double** m = mh.matrix(1, n, 0, n, 0);
      int row = 1;
      for (int rows : MatrixBlockRows(1, n, n)) {
        for (int r = row + 1; r < row + rows; ++r) EXPECT_EQ(m[r], m[r - 1] + n + 1) << n << " " << r;
        row += rows;
      }
      for (int r = 1; r <= n; ++r) {
        for (int c = 0; c <= n; ++c) {
          ASSERT_EQ(m[r][c], 0.0) << n << " " << r << "," << c;
          m[r][c] = -9999.0;
        }
      }
      mh.FreeMatrix(m);
    }
  }
}

TEST(Matrix, PartialRowsWithLargerTable) {
  memory_handling mh;
  double** m = mh.matrix(5, 8, 1, 20, 10);
  for (int r : {0, 1, 2, 3, 4, 9, 10}) EXPECT_EQ(m[r], nullptr) << r;
  for (int r = 5; r <= 8; ++r) {
    ASSERT_NE(m[r], nullptr);
    m[r][0] = r;  // column 0 exists although col_lo is 1
    m[r][20] = r;
  }
  mh.FreeMatrix(m);
  mh.FreeMatrix(nullptr);
  mh.Free3DMatrix(nullptr);
}

TEST(Matrix, TooLongRowsAreFatal) {
  test::TempDir dir;
  std::ostringstream console;
  MessageStream ms(dir / "d.xml", 4, console);
  memory_handling mh(&ms);
  try {
    mh.matrix(1, 2, 0, 300000000, 0);
    FAIL() << "no error";
  } catch (ErrorCode code) {
    EXPECT_EQ(code, 1);
  }
  EXPECT_EQ(console.str(), "too long matrix rows\n");
}

TEST(Matrix3D, LayoutAndRelease) {
  memory_handling mh;
  double*** s = mh.Matrix3D(1, 3, 1, 4, 2, 5);
  EXPECT_EQ(s[0], nullptr);
  EXPECT_EQ(s[4], nullptr);
  EXPECT_EQ(s[5], nullptr);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j) {
      EXPECT_EQ(s[i][j], s[i][0] + j * 3);
      for (int k = 0; k <= 2; ++k) s[i][j][k] = i * 100 + j * 10 + k;
    }
  EXPECT_EQ(s[2][3][1], 231.0);
  mh.Free3DMatrix(s);
}

// Rows of 320 KB: every block of these holds at least one row, so every block
// is mapped from the system.
constexpr int kWideColumns = 40000;

TEST(MappedBlocks, EveryWayOfFreeingReturnsTheWholeMapping) {
  memory_handling mh;
  mh.map_large_blocks = true;  // also under the sanitizer, which keeps the heap otherwise
  test::HeldMemory held;
  double** freed = mh.matrix(3, 12, 1, kWideColumns, 20);
  held.AddMatrix(freed, 3, 12, kWideColumns);
  owned_matrix owned(mh.matrix(0, 4, 0, kWideColumns, 0));
  held.AddMatrix(owned.get(), 0, 4, kWideColumns);
  double*** stack = mh.Matrix3D(2, 4, 1, kWideColumns, 1, 6);
  held.AddStack(stack, 2, 4, kWideColumns, 1);
  owned_stack owned_levels(mh.Matrix3D(1, 2, 1, kWideColumns, 3, 0));
  held.AddStack(owned_levels.get(), 1, 2, kWideColumns, 3);
  ASSERT_EQ(held.StillMapped(), held.size());

  mh.FreeMatrix(freed);
  owned.reset();
  mh.Free3DMatrix(stack);
  owned_levels.reset();
  EXPECT_EQ(held.StillMapped(), 0);
}

TEST(CountHalvings, Values) {
  memory_handling mh;
  EXPECT_EQ(mh.CountHalvings(0.5), 0);
  EXPECT_EQ(mh.CountHalvings(1), 0);
  EXPECT_EQ(mh.CountHalvings(1.5), 1);
  EXPECT_EQ(mh.CountHalvings(1024), 10);
  EXPECT_EQ(mh.CountHalvings(1025), 11);
}

TEST(AllocateZeroed, FailureNamesTheObject) {
  test::TempDir dir;
  std::ostringstream console;
  {
    MessageStream ms(dir / "d.xml", 4, console);
    memory_handling mh(&ms);
    mh.name = "soil_model";
    void* ok = mh.AllocateZeroed(2401, 1);
    EXPECT_EQ(static_cast<char*>(ok)[2400], 0);
    std::free(ok);
    try {
      mh.AllocateZeroed(std::numeric_limits<std::size_t>::max() / 2, 1);
      FAIL() << "no error";
    } catch (ErrorCode code) {
      EXPECT_EQ(code, 81);
    }
  }
  EXPECT_EQ(console.str(), "memory allocation error in soil_model (1\n");
  EXPECT_NE(test::ReadFile(dir / "d.xml").find("description= \"memory allocation error in soil_model (1\"/>"),
            std::string::npos);
}

}  // namespace
}  // namespace velmo
