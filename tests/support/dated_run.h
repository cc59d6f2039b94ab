// Runs the program's entry point in-process on a control file with a fake
// interpolator that gives the steps' dates: how the application tests drive
// the time loop before real meteorological input is at hand.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/interpolator_slot.h"
#include "app/modappli.h"
#include "framework/types.h"
#include "support/test_support.h"

namespace velmo::test {

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
inline std::vector<model_date> DailySteps(int count) {
  std::vector<model_date> dates;
  for (int day = 1; day <= count; ++day) dates.push_back({0, 24, day, 1, 2000});
  return dates;
}

// Runs the program on `control` in `dir` (which holds it and its grids) with
// `dates` as the steps; returns the exit status, the console text in
// `transcript`. `prepare`, when given, sees the application before its run.
inline int RunWithSteps(const TempDir& dir, const std::string& control, const std::vector<model_date>& dates,
                        std::string& transcript,
                        const std::function<void(ModellApplication&)>& prepare = {}) {
  const ApplicationFactory factory = [&](MessageStream* messages, int argc, char** argv, int position) {
    auto application = std::make_unique<ModellApplication>(messages, argc, argv, position);
    application->InstallInterpolator(std::make_unique<DatedInterpolator>(dates));
    if (prepare) prepare(*application);
    return application;
  };
  std::string program = "velmo";
  std::string control_name = control;
  char* argv[] = {program.data(), control_name.data(), nullptr};

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

}  // namespace velmo::test
