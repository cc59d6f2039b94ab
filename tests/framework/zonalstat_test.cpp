// Zone statistics tables: headers, rows per interval, buffering, failures.
#include "framework/zonalstat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <array>
#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/interrupt.h"
#include "framework/memory.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr double kNodata = -9999.0;

// Heap bytes in use, or -1 where the allocator does not tell.
long long HeapInUse() {
#if defined(__GLIBC__)
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long long>(info.uordblks + info.hblkhd);
#else
  return -1;
#endif
}

// One cell of a step: its zone index and value (grid row/column 0 = no cell
// weight).
struct Cell {
  int zone;
  double value;
  int row = 0;
  int col = 0;
};

struct ZonalStatFixture : test::MessagesTest {
  // Zones with codes 10, 20, 30 and area fractions 0.2, 0.3, 0.5.
  std::vector<zone_record> zones = {
      {0, 0, 0, 1.0, 0}, {0, 0, 10, 0.2, 0}, {0, 0, 20, 0.3, 0}, {0, 0, 30, 0.5, 0}};
  std::string output_dir = dir.path().string() + "/";
  std::string file_name;

  struct Options {
    int precision = 3;
    std::vector<int> list;  // output list codes, without the unused index 0
    double** weights = nullptr;
    int nrows = 0;
    int ncols = 0;
    bool minutes = false;
    std::string name = "stat.txt";
  };

  std::unique_ptr<zonalstatistic> Make(int code, const Options& o, int* error = nullptr) {
    file_name = o.name;
    std::vector<int> list = {0};
    list.insert(list.end(), o.list.begin(), o.list.end());
    int code_out = -1;
    auto stat = std::make_unique<zonalstatistic>(
        code_out, &ms, kNodata, o.weights, o.nrows, o.ncols, zones.data(), static_cast<int>(zones.size()) - 1,
        code, o.precision, file_name, &output_dir, static_cast<int>(o.list.size()),
        o.list.empty() ? nullptr : list.data(), o.minutes);
    if (error) {
      *error = code_out;
    } else {
      EXPECT_EQ(code_out, 0);
    }
    return stat;
  }
  std::unique_ptr<zonalstatistic> Make(int code) { return Make(code, Options{}); }

  static int Step(zonalstatistic& stat, int day, const std::vector<Cell>& cells) {
    stat.StartStep();
    for (const Cell& c : cells) stat.AddCell(c.row, c.col, c.zone, c.value, 1.0);
    return stat.EndStep(2000, 1, day, 12, 30, 1);
  }

  std::string Table() const { return ReadFile(file_name); }
  // The table without its three header lines.
  std::string Rows() const {
    const std::string text = Table();
    size_t at = 0;
    for (int i = 0; i < 3 && at != std::string::npos; ++i) at = text.find('\n', at) + 1;
    return text.substr(at);
  }
};

TEST_F(ZonalStatFixture, HeaderLinesAndFileName) {
  auto stat = Make(2001);
  EXPECT_EQ(file_name, output_dir + "stat.txt");  // the caller's name receives the prefix
  ResetInterruptHandler();
  stat->WriteHeader("elevation", "(default)");
  EXPECT_EQ(Table(),
            "YY\tMM\tDD\tHH\t\"10\"\t\"20\"\t\"30\"\ttot_average\n"
            "elevation_submodel:(default)\n"
            "--\t--\t--\t--\t0.2000000\t0.3000000\t0.5000000\t1.0000\n");
  // Writing the header leaves the Ctrl-C handler armed, not SIGINT's default.
  struct sigaction action {};
  sigaction(SIGINT, nullptr, &action);
  EXPECT_EQ(action.sa_handler, &OnInterrupt);

  // A total-only table with minutes; an absolute name keeps its directory.
  Options o;
  o.minutes = true;
  o.name = dir / "abs.txt";
  auto total = Make(3001, o);
  EXPECT_EQ(file_name, dir / "abs.txt");
  total->WriteHeader("snow_model", "snow cover");
  EXPECT_EQ(Table(),
            "YY\tMM\tDD\tHH\tmm\ttot_average\nsnow_model_submodel:snow cover\n--\t--\t--\t--\t--\t1.0000\n");
  Step(*total, 5, {{1, 2.5}});
  total->CleanUp();
  EXPECT_EQ(Rows(), "2000\t 1\t 5\t12\t30\t2.500\n");
}

TEST_F(ZonalStatFixture, CodesBelow1001WriteNothing) {
  for (int code : {1000, 500, 0, -3}) {
    auto stat = Make(code);
    EXPECT_FALSE(stat->IsOn());
    stat->WriteHeader("x", "y");
    EXPECT_EQ(Step(*stat, 1, {{1, 5.0}}), 0);
    stat->FlushRows();
    stat->CleanUp();
    EXPECT_FALSE(std::filesystem::exists(file_name)) << code;
    EXPECT_EQ(zones[1].value_sum, 0.0) << code;  // accumulators left alone
  }
  // Interval 0 writes the header and never a row.
  auto never = Make(2000);
  never->WriteHeader("x", "y");
  for (int day = 1; day <= 5; ++day) Step(*never, day, {{1, 5.0}});
  never->CleanUp();
  EXPECT_EQ(Rows(), "");
}

// Three steps; cells holding the nodata value count for nothing.
//   zone 10: {1, 3}, {4, nodata}, {6, 6}    zone 20: {10}, {nodata}, {20}
const std::vector<std::vector<Cell>> kThreeSteps = {
    {{1, 1.0}, {1, 3.0}, {2, 10.0}, {3, kNodata}},
    {{1, 4.0}, {1, kNodata}, {2, kNodata}},
    {{1, 6.0}, {1, 6.0}, {2, 20.0}},
};

TEST_F(ZonalStatFixture, RowsPerInterval) {
  struct Case {
    int code;
    const char* rows;  // the row written after each of steps 3 and 6
  };
  const Case cases[] = {
      // Mean over the cells of the interval: (1+3+4+6+6)/5, (10+20)/2, 50/7.
      {1003, "2000\t 1\t 3\t12\t7.143\n"},
      {2003, "2000\t 1\t 3\t12\t4.000\t15.000\t-9999.000\t7.143\n"},
      // Sum of the step means: 2+4+6, 10+20 (step 2 adds nothing), 14/3+4+32/3.
      // Zone 30 never holds data: nodata, not a valid-looking 0.
      {3003, "2000\t 1\t 3\t12\t19.333\n"},
      {4003, "2000\t 1\t 3\t12\t12.000\t30.000\t-9999.000\t19.333\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    auto stat = Make(c.code);
    stat->WriteHeader("n", "t");
    for (int day = 1; day <= 6; ++day) {
      EXPECT_EQ(Step(*stat, day, kThreeSteps[static_cast<size_t>((day - 1) % 3)]), day % 3 == 0 ? 1 : 0);
    }
    stat->CleanUp();
    std::string second = c.rows;
    second[9] = '6';  // same values in the second interval, dated day 6
    EXPECT_EQ(Rows(), c.rows + second);
  }

  // Interval 1: one row per step; a zone without data shows nodata.
  auto every = Make(2001);
  every->WriteHeader("n", "t");
  for (int day = 1; day <= 3; ++day) Step(*every, day, kThreeSteps[static_cast<size_t>(day - 1)]);
  every->CleanUp();
  EXPECT_EQ(Rows(),
            "2000\t 1\t 1\t12\t2.000\t10.000\t-9999.000\t4.667\n"
            "2000\t 1\t 2\t12\t4.000\t-9999.000\t-9999.000\t4.000\n"
            "2000\t 1\t 3\t12\t6.000\t20.000\t-9999.000\t10.667\n");
}

TEST_F(ZonalStatFixture, NoDataInTheIntervalShowsNodata) {
  struct Case {
    int code;
    const char* rows;
  };
  // Step 1 holds no data at all, step 2 only zone 10's 4.
  const Case cases[] = {
      {2001,
       "2000\t 1\t 1\t12\t-9999.000\t-9999.000\t-9999.000\t-9999.000\n"
       "2000\t 1\t 2\t12\t4.000\t-9999.000\t-9999.000\t4.000\n"},
      {3001, "2000\t 1\t 1\t12\t-9999.000\n2000\t 1\t 2\t12\t4.000\n"},
      {2002, "2000\t 1\t 2\t12\t4.000\t-9999.000\t-9999.000\t4.000\n"},
      {4002, "2000\t 1\t 2\t12\t4.000\t-9999.000\t-9999.000\t4.000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    auto stat = Make(c.code);
    stat->WriteHeader("n", "t");
    Step(*stat, 1, {{1, kNodata}, {3, kNodata}});
    Step(*stat, 2, {{1, 4.0}, {2, kNodata}});
    stat->CleanUp();
    EXPECT_EQ(Rows(), c.rows);
  }
}

TEST_F(ZonalStatFixture, ColumnIsTheCodeTheCellsBelongTo) {
  // The zone's code is the value of its first cell; its cells belong to the
  // whole part of it.
  zones = {{0, 0, 0, 1.0, 0}, {0, 0, -0.5, 0.25, 0}, {0, 0, 2.7, 0.25, 0}, {0, 0, 30, 0.5, 0}};
  Options o;
  o.list = {2};
  auto stat = Make(2001, o);
  stat->WriteHeader("n", "t");
  EXPECT_THAT(Table(), HasSubstr("YY\tMM\tDD\tHH\t\"0\"\t\"2\"\t\"30\"\ttot_average\n"));
  auto listed = Make(5001, o);
  listed->WriteHeader("n", "t");
  EXPECT_THAT(Table(), HasSubstr("YY\tMM\tDD\tHH\t\"2\"\ttot_average\n"));
}

TEST_F(ZonalStatFixture, OutputListSelectsColumns) {
  struct Case {
    int code;
    const char* header;
    const char* row;
  };
  // Step means: zone 10: 1, zone 20: 2, zone 30: 6; catchment 9/3.
  const Case cases[] = {
      {5001, "YY\tMM\tDD\tHH\t\"20\"\t\"30\"\ttot_average\n", "2000\t 1\t 1\t12\t2.000\t6.000\t3.000\n"},
      {6001, "YY\tMM\tDD\tHH\t\"20\"\t\"30\"\ttot_average\n", "2000\t 1\t 1\t12\t2.000\t6.000\t3.000\n"},
      {7001, "YY\tMM\tDD\tHH\ttot_average\n", "2000\t 1\t 1\t12\t3.000\n"},
      {1001, "YY\tMM\tDD\tHH\ttot_average\n", "2000\t 1\t 1\t12\t3.000\n"},
  };
  Options o;
  o.list = {20, 30};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    auto stat = Make(c.code, o);
    stat->WriteHeader("n", "t");
    Step(*stat, 1, {{1, 1.0}, {2, 2.0}, {3, 6.0}});
    stat->CleanUp();
    EXPECT_EQ(Table().substr(0, Table().find('\n') + 1), c.header);
    EXPECT_EQ(Rows(), c.row);
  }
  // Types 5/6 sum like 3/4 over an interval: zone 20's means 2 and 4.
  auto sums = Make(6002, o);
  sums->WriteHeader("n", "t");
  Step(*sums, 1, {{2, 2.0}});
  Step(*sums, 2, {{2, 4.0}});
  sums->CleanUp();
  EXPECT_EQ(Rows(), "2000\t 1\t 2\t12\t6.000\t-9999.000\t6.000\n");

  // A list longer than the zone table is cut to it.
  o.list = {10, 20, 30, 40};
  auto cut = Make(5001, o);
  cut->WriteHeader("n", "t");
  EXPECT_THAT(Table(), HasSubstr("\"10\"\t\"20\"\t\"30\"\ttot_average\n"));

  // A listed code without a zone fails construction.
  o.list = {20, 25};
  int error = 0;
  console.str("");
  auto bad = Make(5001, o, &error);
  EXPECT_EQ(error, 1);
  EXPECT_THAT(console.str(), HasSubstr("there is a code in the output list which no zone exists for (25)"));
  EXPECT_FALSE(bad->IsOn());
}

TEST_F(ZonalStatFixture, CellWeightsAndPrecision) {
  const owned_matrix weights = test::MatrixOf({{1.0, 3.0, 0.0}, {kCellWeightThreshold, 0.5, 0.0}});
  Options o;
  o.weights = weights.get();
  o.nrows = 2;
  o.ncols = 3;
  o.precision = 99;
  auto stat = Make(2001, o);
  stat->WriteHeader("n", "t");
  // Zone 10: weights 1, 3, ignored (-9999 counts as 1), 0.5, and a cell
  // outside the grid (unweighted): (2 + 18 + 4 + 4 + 10) / 6.5. Zone 20 has
  // only cells of weight 0: its mean is 0, not a division by 0. Zone 30 has
  // no cell: nodata.
  Step(*stat, 1,
       {{1, 2.0, 1, 1},
        {1, 6.0, 1, 2},
        {1, 4.0, 2, 1},
        {1, 8.0, 2, 2},
        {1, 10.0, 0, 0},
        {2, 7.0, 1, 3},
        {2, 9.0, 2, 3}});
  // The cell weight multiplies the weight given with the cell.
  stat->StartStep();
  stat->AddCell(1, 2, 1, 6.0, 2.0);  // divisor 6, sum 36
  stat->AddCell(1, 1, 1, 0.0, 2.0);  // divisor 2, sum 0
  stat->EndStep(2000, 1, 2, 12, 0, 1);
  // Zone 10's cells of the first step summed by the caller give its mean.
  stat->StartStep();
  double count = 0.0, sum = 0.0, divisor = 0.0;
  for (const Cell& c : {Cell{1, 2.0, 1, 1}, Cell{1, 6.0, 1, 2}, Cell{1, 4.0, 2, 1}, Cell{1, 8.0, 2, 2},
                        Cell{1, 10.0, 0, 0}}) {
    const double weight = StatisticsCellWeight(weights.get(), c.row, c.col, 2, 3);
    count += 1.0;
    sum += weight * c.value;
    divisor += weight;
  }
  stat->AddZoneSums(1, count, sum, divisor);
  stat->EndStep(2000, 1, 3, 12, 0, 1);
  stat->CleanUp();
  EXPECT_EQ(Rows(),
            "2000\t 1\t 1\t12\t5.84615\t0\t-9999\t5.84615\n"
            "2000\t 1\t 2\t12\t4.5\t-9999\t-9999\t4.5\n"
            "2000\t 1\t 3\t12\t5.84615\t-9999\t-9999\t5.84615\n");
}

TEST_F(ZonalStatFixture, ARowAddsWhatItsCellsAddOneByOne) {
  // Row 2 of a 2 x 5 grid of cell weights fed through columns 1..7: a weight
  // at the threshold, columns beyond the grid, a nodata value, a cell left
  // out (negative zone), a zone beyond the table and a zone met again; the
  // sums go on from those of an earlier row (a count of cells, or sums of
  // weights that are no whole numbers). Two tables fed side by side take
  // the values and three times the values.
  const owned_matrix weights =
      test::MatrixOf({{1.0, 1.0, 1.0, 1.0, 1.0}, {0.3, kCellWeightThreshold, 0.7, 1.1, 0.9}});
  const std::vector<int> cell_zones = {0, 1, 1, -1, 2, 2, 9, 1};
  const std::vector<double> values = {0.0, 0.1, 0.7, 5.0, 0.3, kNodata, 0.3, 1.0 / 3.0};
  const auto value_of = [&](size_t t, int c) {
    const double v = values[static_cast<size_t>(c)];
    return v == kNodata ? v : v * static_cast<double>(2 * t + 1);
  };
  const auto zone_of = [&](int c) { return cell_zones[static_cast<size_t>(c)]; };
  for (const double start : {7.0, 0.2}) {
    SCOPED_TRACE(start);
    std::array<std::vector<zone_record>, 5>
        records;  // by cell (values, 3 x values), by row, side by side (2)
    std::array<std::unique_ptr<zonalstatistic>, 5> tables;
    for (size_t i = 0; i < records.size(); ++i) {
      records[i] = zones;
      int error = -1;
      std::string name = "stat" + std::to_string(i) + ".txt";
      tables[i] =
          std::make_unique<zonalstatistic>(error, &ms, kNodata, weights.get(), 2, 5, records[i].data(), 3,
                                           2001, 3, name, &output_dir, 0, nullptr, false);
      EXPECT_EQ(error, 0);
      for (zone_record& z : records[i]) z.value_sum = z.weight_sum = z.mean_divisor = start;
    }
    for (int c = 1; c <= 7; ++c)
      for (size_t t = 0; t < 2; ++t) tables[t]->AddCell(2, c, zone_of(c), value_of(t, c), 1.0);
    tables[2]->AddRow(2, 1, 7, zone_of, [&](int c) { return value_of(0, c); });
    ASSERT_TRUE(tables[3]->FeedsLike(*tables[4]));
    zonalstatistic::AddRowToEach(std::array<zonalstatistic*, 2>{tables[3].get(), tables[4].get()}, 2, 1, 7,
                                 zone_of, value_of);
    const auto same = [](const std::vector<zone_record>& a, const std::vector<zone_record>& b,
                         const char* what) {
      for (size_t z = 0; z < a.size(); ++z) {
        EXPECT_EQ(a[z].weight_sum, b[z].weight_sum) << what << " " << z;
        EXPECT_EQ(a[z].mean_divisor, b[z].mean_divisor) << what << " " << z;
        EXPECT_EQ(a[z].value_sum, b[z].value_sum) << what << " " << z;
      }
    };
    same(records[2], records[0], "by row");
    same(records[3], records[0], "side by side, values");
    same(records[4], records[1], "side by side, 3 x values");
    EXPECT_EQ(records[0][1].weight_sum, start + 1.0 + 1.0 + 1.0);
    EXPECT_EQ(records[0][2].weight_sum, start + 1.0);
    EXPECT_EQ(records[0][3].weight_sum, start);
    // Tables that share zone records are fed one after the other.
    EXPECT_FALSE(tables[3]->FeedsLike(*tables[3]));
  }
}

TEST_F(ZonalStatFixture, FullBufferIsWrittenMidRunAndRowsOnlyOnce) {
  EXPECT_EQ(RowCapacity(1, 500, 0), kTotalOnlyRows);
  EXPECT_EQ(RowCapacity(2, 3, 0), 2097152 / 48);
  EXPECT_EQ(RowCapacity(5, 300, 2), 2097152 / 40);
  EXPECT_EQ(RowCapacity(4, 300000, 0), 1);

  Options o;
  o.precision = 0;
  auto stat = Make(1001, o);
  ASSERT_EQ(stat->BufferCapacity(), kTotalOnlyRows);
  stat->WriteHeader("n", "t");
  const std::string header = Table();
  const int total_steps = kTotalOnlyRows + 5;
  for (int s = 1; s <= total_steps; ++s) {
    stat->StartStep();
    stat->AddCell(0, 0, 1, s, 1.0);
    stat->EndStep(2000 + s / 10000, 1, 1, 0, 0, 1);
    if (s == kTotalOnlyRows - 1) {
      ASSERT_EQ(Table(), header);
    }
    if (s == kTotalOnlyRows) {
      ASSERT_EQ(stat->BufferedRows(), 0);
      ASSERT_THAT(console.str(), HasSubstr("write " + file_name + "(1572864 of 2097152 buffer-bytes)"));
    }
  }
  stat->FlushRows();
  stat->CleanUp();
  stat->FlushRows();
  stat->CleanUp();
  std::istringstream rows(Rows());
  std::string line;
  int expected = 0;
  while (std::getline(rows, line)) {
    ++expected;
    ASSERT_EQ(line.substr(line.rfind('\t') + 1), std::to_string(expected));
  }
  EXPECT_EQ(expected, total_steps);

  // Rows still buffered when the object goes without clean-up are dropped.
  auto dropped = Make(1001, o);
  dropped->WriteHeader("n", "t");
  Step(*dropped, 1, {{1, 1.0}});
  dropped.reset();
  EXPECT_EQ(Rows(), "");
}

TEST_F(ZonalStatFixture, RowBufferHoldsAboutItsBudget) {
  // A sanitizer's allocator passes the heap figures by: then nothing can be said.
  const long long start = HeapInUse();
  std::vector<double> probe(kRowBufferBytes / sizeof(double));
  volatile double* touched = probe.data();
  touched[0] = 1.0;
  if (start < 0 || HeapInUse() - start < kRowBufferBytes) GTEST_SKIP() << "heap use cannot be measured here";
  probe = {};

  // The buffer grows with the rows a run writes: a short run holds a few
  // rows, a long one at most 65536 rows of one value each, not a block of
  // memory per row.
  const long long before = HeapInUse();
  auto stat = Make(1001);
  ASSERT_EQ(stat->BufferCapacity(), kTotalOnlyRows);
  EXPECT_LE(HeapInUse() - before, kRowBufferBytes / 64);
  stat->WriteHeader("n", "t");
  for (int s = 1; s < kTotalOnlyRows; ++s) Step(*stat, s, {{1, 1.0}});
  ASSERT_EQ(stat->BufferedRows(), kTotalOnlyRows - 1);
  EXPECT_LE(HeapInUse() - before, kRowBufferBytes);
}

TEST_F(ZonalStatFixture, OpenAndCloseFailures) {
  Options o;
  o.name = "missing/stat.txt";
  auto unopenable = Make(1001, o);
  std::string text = ExpectCode(15, [&] { unopenable->WriteHeader("n", "t"); });
  EXPECT_THAT(text, HasSubstr("error opening \n" + file_name));

  // The directory goes away after the header: the flush fails to open.
  o.name = "sub/stat.txt";
  std::filesystem::create_directory(dir / "sub");
  auto vanished = Make(1001, o);
  vanished->WriteHeader("n", "t");
  Step(*vanished, 1, {{1, 1.0}});
  std::filesystem::remove_all(dir / "sub");
  text = ExpectCode(15, [&] { vanished->FlushRows(); });
  EXPECT_THAT(text, HasSubstr("error opening \n" + file_name));
  EXPECT_THAT(text, Not(HasSubstr("write ")));  // no half entry before the fatal one

  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  o.name = "/dev/full";
  auto full = Make(1001, o);
  text = ExpectCode(16, [&] { full->WriteHeader("n", "t"); });
  EXPECT_THAT(text, HasSubstr("cannot close /dev/full"));
  Step(*full, 1, {{1, 1.0}});
  ExpectCode(16, [&] { full->FlushRows(); });
  EXPECT_EQ(full->BufferedRows(), 0);  // a failed write is not repeated later
}

}  // namespace
}  // namespace velmo
