// The time loop with steps that end at midnight: the set-up object's daily
// block runs in the very first pass, before any step has stored its date. The
// program's entry point runs in-process on the control file of tests/data/e2e
// with a fake interpolator that gives the steps' dates.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "framework/types.h"
#include "support/dated_run.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::DailySteps;
using test::ReadFile;
using test::TempDir;

// Hourly steps whose first ends at 24:00 of 1 January 2000, then 2 January.
std::vector<model_date> HourlyStepsFromMidnight() {
  std::vector<model_date> dates = {{0, 24, 1, 1, 2000}};
  for (int hour = 1; hour <= 24; ++hour) dates.push_back({0, hour, 2, 1, 2000});
  return dates;
}

// Runs the program on the control file of tests/data/e2e with `dates` as
// the steps.
int RunWithSteps(const TempDir& dir, const std::vector<model_date>& dates, std::string& transcript) {
  for (const char* file : {"run.ctl", "zones.asc", "dem.asc"})
    std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + file, dir / file);
  return test::RunWithSteps(dir, "run.ctl", dates, transcript);
}

TEST(DailySteps, AFirstStepEndingAtMidnightRunsThrough) {
  struct run_case {
    const char* what;
    std::vector<model_date> dates;
  };
  const run_case cases[] = {
      {"one day of daily steps", DailySteps(1)},
      {"three days of daily steps", DailySteps(3)},
      {"hourly steps from midnight on", HourlyStepsFromMidnight()},
  };
  for (const run_case& c : cases) {
    TempDir dir;
    std::string transcript;
    EXPECT_EQ(RunWithSteps(dir, c.dates, transcript), 0) << c.what << "\n" << transcript;
    EXPECT_NE(transcript.find("end of simulation reached successfully!"), std::string::npos) << c.what;
    EXPECT_EQ(transcript.find("gives no day of the year"), std::string::npos) << c.what;
  }
}

TEST(DailySteps, AStoredDateWithoutDayOfTheYearStillEndsTheRun) {
  // The second step's date is stored at its end and checked in the daily
  // block of the third.
  TempDir dir;
  std::string transcript;
  const std::vector<model_date> dates = {{0, 24, 1, 1, 2000}, {0, 24, 1, 13, 2000}, {0, 24, 2, 1, 2000}};
  EXPECT_EQ(RunWithSteps(dir, dates, transcript), 150) << transcript;
  EXPECT_NE(transcript.find("the date 1.13.2000 gives no day of the year between 0 and 366"),
            std::string::npos)
      << transcript;
}

}  // namespace
}  // namespace velmo
