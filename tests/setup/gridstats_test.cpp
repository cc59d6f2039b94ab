// Per-step output and zone statistics of the set-up object's grids, driven
// the way the time loop drives them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "framework/gridtable.h"
#include "framework/types.h"
#include "framework/zonalstat.h"
#include "setup/defltuzr.h"
#include "setup/setup_stage_fixture.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::StagedSetup;

class GridStatisticsTest : public StagedSetup {
 protected:
  void SetUp() override {
    FinishSetUp();
    setup->CreateGridStatistics();
  }

  // One pass of the time loop's end-of-step outputs.
  void Step(const model_date& d) {
    setup->WriteStandardGrids(d.minute, d.hour, d.day, d.month, d.year);
    setup->WriteVariableGrids(d.minute, d.hour, d.day, d.month, d.year);
    for (zonalstatistic* s : Statistics()) s->StartStep();
    setup->AccumulateGridStatistics();
    for (zonalstatistic* s : Statistics()) s->EndStep(d.year, d.month, d.day, d.hour, d.minute, 1);
  }
  void Run() {
    for (const model_date& d : kSteps) Step(d);
    setup->FlushBuffers();
  }
  std::vector<zonalstatistic*> Statistics() {
    std::vector<zonalstatistic*> list;
    for (int i = 2; i <= setup->grid_count + 2; ++i)
      if (table[i].statistics) list.push_back(table[i].statistics);
    return list;
  }
  std::string Out(const std::string& name) const { return dir / ("out/" + name); }

  // The fixture's run: 12 Nov 2023 23:00 to 13 Nov 01:00, hourly.
  const std::vector<model_date> kSteps = {{0, 23, 12, 11, 2023}, {0, 0, 13, 11, 2023}, {0, 1, 13, 11, 2023}};
};

TEST_F(GridStatisticsTest, OnlyGridsWithAStatisticsFileGetATable) {
  std::vector<std::string> with_statistics;
  for (int i = 1; i <= setup->grid_count + 2; ++i)
    if (table[i].statistics) with_statistics.push_back(table[i].name);
  // "albedo" has a statistics code but no file.
  EXPECT_THAT(with_statistics, ::testing::ElementsAre("lake_depth", "soil_depth"));
  EXPECT_FALSE(std::filesystem::exists(Out("albedo")));
}

TEST_F(GridStatisticsTest, StatisticsTablesHaveTheirHeadersAndOneRowPerStep) {
  Run();
  // Zone columns; the weighted means leave out the nodata cell of zone 2:
  // zone 1 (1+2*2+1+1+1+1+2)/8, zone 2 (3+3+3+5+3+3)/6, total 31/14.
  const std::string depth_row = "\t1.37500\t3.33333\t2.21429\n";
  EXPECT_EQ(ReadFile(Out("depth_stat.txt")),
            "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\n"
            "soil_depth_submodel:(default)\n"
            "--\t--\t--\t--\t0.5000000\t0.5000000\t1.0000\n"
            "2023\t11\t12\t23" +
                depth_row + "2023\t11\t13\t 0" + depth_row + "2023\t11\t13\t 1" + depth_row);
  // Statistics type 5 lists the zones of an output list; these tables get
  // none, so only the total.
  EXPECT_EQ(ReadFile(Out("lake_stat.txt")),
            "YY\tMM\tDD\tHH\ttot_average\n"
            "lake_depth_submodel:(default)\n"
            "--\t--\t--\t--\t1.0000\n"
            "2023\t11\t12\t23\t2.50000\n"
            "2023\t11\t13\t 0\t2.50000\n"
            "2023\t11\t13\t 1\t2.50000\n");
}

TEST_F(GridStatisticsTest, StandardGridsAreWrittenWithDateStampsAndPeriodFiles) {
  Run();
  // Write code 312: date-stamped every step, the plain name at the run end,
  // the run sum, minimum and maximum beside the input file.
  for (const char* name : {"depth_20231112.2300", "depth_20231113.0000", "depth_20231113.0100", "depth.asc"})
    EXPECT_TRUE(std::filesystem::exists(Out(name))) << name;
  for (const char* name : {"soil_depth.sum", "soil_depth.min", "soil_depth.max"})
    EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  EXPECT_FALSE(std::filesystem::exists(Out("depth_20231113.0100_001")));  // each grid once per step
  // The run sum of three steps.
  EXPECT_THAT(ReadFile(dir / "soil_depth.sum"), ::testing::HasSubstr("\n-9999\t3\t6\t9\t-9999\n"));
}

TEST_F(GridStatisticsTest, TheLastGridsOfTheSetUpObjectAreWrittenToo) {
  // The last two entries of the set-up object, given a write code as a
  // parameter grid may carry one.
  const int last = setup->grid_count + 2;
  for (int i : {last - 1, last}) {
    SplitWriteCode(1, table[i]);
    std::filesystem::remove(table[i].outname);
  }
  Step(kSteps[0]);
  for (int i : {last - 1, last}) EXPECT_TRUE(std::filesystem::exists(table[i].outname)) << table[i].outname;
}

}  // namespace
}  // namespace velmo
