// The data assimilation in the time loop: a grid rule on a standard grid replaces it in the pass of its
// record, before the grid is written; switched off or without its section the run is that of no rule.
// The program's entry point runs in-process on the control file of tests/data/e2e with a fake
// interpolator that gives hourly steps.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "framework/types.h"
#include "support/dated_run.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The cells of an ASCII grid, row by row from the north.
std::vector<double> GridCells(const std::string& path) {
  std::istringstream in(test::ReadFile(path));
  std::string line;
  for (int i = 0; i < 6; ++i) std::getline(in, line);
  std::vector<double> cells;
  for (double v; in >> v;) cells.push_back(v);
  return cells;
}

// "[data_assimilation]" with flow control `on` and one grid rule on the
// standard grid "observed_swe".
std::string Section(int on) {
  return "\n[data_assimilation]\n" + std::to_string(on) +
         "       flow control parameter\n60      time interval (minutes)\n1       number of rules\n"
         "grid { grid-ID = observed_swe; listfilename = swe_list.txt; }\n";
}

TEST(AssimilationRun, TheGridOfTheRecordsStepHoldsItsValues) {
  struct Case {
    const char* what;
    std::string section;
    std::vector<double> at_record;  // the grid written in the record's step
  };
  const std::vector<double> defaults = {0, 0, 0, -9999, 0, 0};
  const Case cases[] = {
      {"on", Section(1), {10, 20, 30, -9999, 40, 50}},
      {"off", Section(0), defaults},
      {"without section", "", defaults},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    for (const char* file : {"run.ctl", "zones.asc", "dem.asc"})
      std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + file, dir / file);
    test::ReplaceInFile(
        dir / "run.ctl", "[standard_grids]\n0       no standard grids",
        "[standard_grids]\n1\nswe.asc observed_swe fillcode = 0 readcode = 0 defaultValue = 0 "
        "writecode = 2");
    test::WriteFile(dir / "run.ctl", test::ReadFile(dir / "run.ctl") + c.section);
    test::WriteFile(dir / "swe_list.txt",
                    "observed snow water equivalent\nnumber of grid columns 3\nnumber of grid rows 2\n"
                    "cell size in metres 100\nunit of the values mm\n2000 1 1 2 swe_obs.asc\n");
    test::WriteFile(dir / "swe_obs.asc",
                    "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
                    "10 20 30\n-9999 40 50\n");

    std::string transcript;
    const std::vector<model_date> hours = {{0, 1, 1, 1, 2000}, {0, 2, 1, 1, 2000}, {0, 3, 1, 1, 2000}};
    ASSERT_EQ(test::RunWithSteps(dir, "run.ctl", hours, transcript), 0) << c.what << "\n" << transcript;
    EXPECT_EQ(GridCells(dir / "swe_20000101.0100"), defaults) << c.what;
    EXPECT_EQ(GridCells(dir / "swe_20000101.0200"), c.at_record) << c.what;
    EXPECT_EQ(GridCells(dir / "swe_20000101.0300"), c.at_record) << c.what;
    if (c.section.empty())
      EXPECT_THAT(transcript, HasSubstr("no section [data_assimilation] in "));
    else
      EXPECT_THAT(transcript, Not(HasSubstr("no section [data_assimilation]")));
  }
}

}  // namespace
}  // namespace velmo
