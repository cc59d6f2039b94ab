// A run that fails in its time loop: the program's entry point runs on the
// control file of tests/data/e2e with one standard grid that has an hourly
// statistics table, over ten hourly steps, and fails at the end of its
// seventh step with a code or a failed allocation. The rows of the steps
// computed reach the table; nothing else of the clearing is done.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>

#include "support/dated_run.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kFailingStep = 7;

TEST(FailedRun, TheTablesGetTheRowsOfTheStepsComputed) {
  struct Case {
    bool allocation;
    int status;
    std::string entry;
  };
  const Case cases[] = {
      {false, 27, "the run ends with code 27 in its step 7"},
      {true, 81, "memory allocation error in meteorological interpolator (in its step of 1.1.2000 07:00)"},
  };
  std::vector<model_date> hours;
  for (int hour = 1; hour <= 10; ++hour) hours.push_back({0, hour, 1, 1, 2000});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    test::TempDir dir;
    std::string control = ReadFile(VELMO_TEST_DATA "/e2e/run.ctl");
    test::Replace(
        control, "[standard_grids]\n0       no standard grids\n",
        "[standard_grids]\n1\ncover.asc cover fillcode = 0 readcode = 0 defaultValue = 0.5 writecode = 3 "
        "outname = cover_end.asc statfile = cover.stat statcode = 1001\n");
    test::WriteFile(dir / "steps.ctl", control);
    for (const char* grid : {"zones.asc", "dem.asc"})
      std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + grid, dir / grid);
    int pass = 0;
    const auto fail_in_step_7 = [&](ModellApplication& application) {
      application.InstallPassObserver([&](ModellApplication&) {
        if (++pass != kFailingStep) return;
        if (c.allocation) throw std::bad_alloc();
        throw ErrorCode{27};
      });
    };
    std::string transcript;
    EXPECT_EQ(test::RunWithSteps(dir, "steps.ctl", hours, transcript, fail_in_step_7), c.status);

    EXPECT_EQ(test::StatisticsRows(dir / "cover.stat"), kFailingStep);
    const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
    EXPECT_THAT(diag, HasSubstr(c.entry));
    EXPECT_THAT(diag, HasSubstr("no state file is written"));
    // Not cleared: no end-of-run output.
    EXPECT_THAT(diag, Not(HasSubstr("end of simulation reached successfully!")));
    EXPECT_FALSE(std::filesystem::exists(dir / "cover_end.asc"));
  }
}

}  // namespace
}  // namespace velmo
