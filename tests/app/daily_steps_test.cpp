// The time loop with steps that end at midnight: the set-up object's daily
// block runs in the very first pass, before any step has stored its date. The
// program's entry point runs in-process on the control file of tests/data/e2e
// with a fake interpolator that gives the steps' dates.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/modappli.h"
#include "framework/types.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;

// One record per date, then the end of the data.
class DatedInterpolator : public interpolator_slot {
 public:
  explicit DatedInterpolator(std::vector<model_date> dates) : dates_(std::move(dates)) {}

  void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) override {
    const model_date& d = dates_[next_ < dates_.size() ? next_ : dates_.size() - 1];
    minute = d.minute;
    hour = d.hour;
    day = d.day;
    month = d.month;
    year = d.year;
  }
  int InterpolationMethod() override { return 1; }
  void ComputeStationRegression(int) override {}
  void InterpolateStep(int, int, int, int, int) override {}
  void WriteOutputs() override {}
  void ReadNextRecord() override { ++next_; }
  bool IsEndOfData() override { return next_ >= dates_.size(); }
  void SetEndDateToCurrent() override {}
  void FlushBuffers() override {}
  void CleanUp() override {}

 private:
  std::vector<model_date> dates_;
  std::size_t next_ = 0;
};

// Daily steps from 1 January 2000 on, each ending at 24:00.
std::vector<model_date> DailySteps(int count) {
  std::vector<model_date> dates;
  for (int day = 1; day <= count; ++day) dates.push_back({0, 24, day, 1, 2000});
  return dates;
}

// Hourly steps whose first ends at 24:00 of 1 January 2000, then 2 January.
std::vector<model_date> HourlyStepsFromMidnight() {
  std::vector<model_date> dates = {{0, 24, 1, 1, 2000}};
  for (int hour = 1; hour <= 24; ++hour) dates.push_back({0, hour, 2, 1, 2000});
  return dates;
}

// Runs the program on the e2e control file in `dir` with `dates` as the
// steps; returns its exit status, the console text in `transcript`.
int RunWithSteps(const TempDir& dir, const std::vector<model_date>& dates, std::string& transcript) {
  for (const char* file : {"run.ctl", "zones.asc", "dem.asc"})
    std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + file, dir / file);
  const ApplicationFactory factory = [&](MessageStream* messages, int argc, char** argv, int position) {
    auto application = std::make_unique<ModellApplication>(messages, argc, argv, position);
    application->InstallInterpolator(std::make_unique<DatedInterpolator>(dates));
    return application;
  };
  std::string program = "velmo";
  std::string control = "run.ctl";
  char* argv[] = {program.data(), control.data(), nullptr};

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  std::ostringstream console;
  std::streambuf* cout_buffer = std::cout.rdbuf(console.rdbuf());
  const int status = VelmoMain(2, argv, factory);
  std::cout.rdbuf(cout_buffer);
  std::filesystem::current_path(previous);
  transcript = console.str();
  return status;
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
