// A run that fails in its time loop: the program's entry point runs on the
// control file of tests/data/e2e with one standard grid that has an hourly
// statistics table, driven by a fake interpolator of ten hourly steps that
// fails in a chosen step with a code or a failed allocation. The rows of the
// steps computed reach the table; nothing else of the clearing is done.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>

#include "app/entry.h"
#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kRecordCount = 10;

enum class failure { code, allocation };

class FailingInterpolator : public interpolator_slot {
 public:
  FailingInterpolator(int failing_step, failure kind) : failing_step_(failing_step), kind_(kind) {}
  void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) override {
    minute = 0;
    hour = record_;
    day = 1;
    month = 1;
    year = 2000;
  }
  int InterpolationMethod() override { return 1; }
  void ComputeStationRegression(int) override {}
  void InterpolateStep(int, int, int, int, int) override {
    if (record_ != failing_step_) return;
    if (kind_ == failure::allocation) throw std::bad_alloc();
    throw ErrorCode{27};
  }
  void WriteOutputs() override {}
  void ReadNextRecord() override { ++record_; }
  bool IsEndOfData() override { return record_ > kRecordCount; }
  void SetEndDateToCurrent() override {}
  void FlushBuffers() override {}
  void CleanUp() override {}

 private:
  int failing_step_;
  failure kind_;
  int record_ = 1;
};

TEST(FailedRun, TheTablesGetTheRowsOfTheStepsComputed) {
  struct Case {
    failure kind;
    int status;
    std::string entry;
  };
  const Case cases[] = {
      {failure::code, 27, "the run ends with code 27 after 6 steps"},
      {failure::allocation, 81,
       "memory allocation error in meteorological interpolator (in its step of 1.1.2000 07:00)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    TempDir dir;
    std::string control = ReadFile(VELMO_TEST_DATA "/e2e/run.ctl");
    test::Replace(
        control, "[standard_grids]\n0       no standard grids\n",
        "[standard_grids]\n1\ncover.asc cover fillcode = 0 readcode = 0 defaultValue = 0.5 writecode = 3 "
        "outname = cover_end.asc statfile = cover.stat statcode = 1001\n");
    WriteFile(dir / "steps.ctl", control);
    for (const char* grid : {"zones.asc", "dem.asc"})
      std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + grid, dir / grid);
    test::WorkingDirectory in_dir(dir.path());
    const ApplicationFactory factory = [&](MessageStream* messages, int argc, char** argv, int position) {
      auto application = std::make_unique<ModellApplication>(messages, argc, argv, position);
      application->InstallInterpolator(std::make_unique<FailingInterpolator>(7, c.kind));
      return application;
    };
    std::string program = "velmo", file = "steps.ctl";
    char* argv[] = {program.data(), file.data(), nullptr};
    EXPECT_EQ(VelmoMain(2, argv, factory), c.status);

    EXPECT_EQ(test::StatisticsRows(dir / "cover.stat"), 6);
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
