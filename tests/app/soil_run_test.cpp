// The soil model in the time loop of the model application: the control file
// of tests/data/soil, with a routing section, runs through 30 hourly steps (a
// day's end among them, so the set-up object's daily root-zone update runs on
// the soil model's grids), driven by a fake interpolator that rains on the
// precipitation grid and notes the direct runoff of each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int kSteps = 30;  // 1 Jan 2000 01:00 to 2 Jan 06:00

double** GridData(grid_table& table, const std::string& name) {
  for (int i = 1; i < kGridTableLimit && table[i].in_use(); ++i)
    if (table[i].name == name) return table[i].data;
  return nullptr;
}

// Hourly records; rain falls as a storm in steps 3 and 4 and as drizzle in
// between, and the largest direct runoff of every cell is kept.
class RainyHours : public interpolator_slot {
 public:
  RainyHours(double** rain, double** directflow, int nrows, int ncols)
      : rain_(rain),
        directflow_(directflow),
        nrows_(nrows),
        ncols_(ncols),
        peak_(static_cast<size_t>(nrows + 1) * (ncols + 1), 0.0) {}

  void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) override {
    minute = 0;
    hour = (record_ - 1) % 24 + 1;
    day = 1 + (record_ - 1) / 24;
    month = 1;
    year = 2000;
  }
  int InterpolationMethod() override { return 1; }
  void ComputeStationRegression(int) override {}
  void InterpolateStep(int, int, int, int, int) override {
    const double amount = record_ == 3 || record_ == 4 ? 25.0 : 0.4 * (record_ % 3);
    for (int r = 1; r <= nrows_; ++r)
      for (int c = 1; c <= ncols_; ++c)
        if (rain_[r][c] != -9999.0) rain_[r][c] = amount;
  }
  void WriteOutputs() override {}
  void ReadNextRecord() override {
    for (int r = 1; r <= nrows_; ++r)
      for (int c = 1; c <= ncols_; ++c) {
        double& peak = peak_[static_cast<size_t>(r) * (ncols_ + 1) + c];
        peak = std::max(peak, directflow_[r][c]);
      }
    ++record_;
  }
  bool IsEndOfData() override { return record_ > kSteps; }
  void SetEndDateToCurrent() override {}
  void FlushBuffers() override {}
  void CleanUp() override {}

  double Peak(int r, int c) const { return peak_[static_cast<size_t>(r) * (ncols_ + 1) + c]; }

 private:
  double** rain_;
  double** directflow_;
  int nrows_;
  int ncols_;
  std::vector<double> peak_;
  int record_ = 1;
};

TEST(SoilInTheTimeLoop, ThirtyStepsWithTablesAndPeakflow) {
  TempDir dir;
  for (const auto& file : std::filesystem::directory_iterator(VELMO_TEST_DATA "/soil"))
    std::filesystem::copy_file(file.path(), dir / file.path().filename().string());
  std::string control = ReadFile(dir / "soil.ctl");
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"endhour = 10", "endhour = 6"},
                                 std::pair<std::string, std::string>{"endday = 1", "endday = 2"}})
    control.replace(control.find(from), from.size(), to);
  // The routing model takes the subbasins' runoff: subbasin 1 flows through
  // a channel into subbasin 2, the outlet.
  const std::string routing = ReadFile(VELMO_TEST_DATA "/routing/routing.ctl");
  const size_t section = routing.find("[routing_model]");
  // Its descriptions end at the next section.
  control.insert(control.find("[soil_model]"),
                 routing.substr(section, routing.find("\n\n", section) - section + 2));
  std::filesystem::copy_file(VELMO_TEST_DATA "/routing/observed.txt", dir / "observed.txt");
  WriteFile(dir / "soil.ctl", control);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());

  std::ostringstream console;
  RainyHours* hours = nullptr;
  {
    MessageStream ms(dir / "diag.xml", kDebug, console);
    std::string program = "velmo", file = "soil.ctl";
    char* argv[] = {program.data(), file.data(), nullptr};
    ModellApplication app(&ms, 2, argv, 1);
    auto fake = std::make_unique<RainyHours>(GridData(*app.grids, "precipitation"),
                                             GridData(*app.grids, "directflow"), 3, 4);
    hours = fake.get();
    app.InstallInterpolator(std::move(fake));
    EXPECT_EQ(app.run(), 0);
    // The peaks the soil model kept are those the loop saw.
    double** peakflow = GridData(*app.grids, "peakflow");
    for (int r = 1; r <= 3; ++r)
      for (int c = 1; c <= 4; ++c)
        if (peakflow[r][c] != -9999.0) {
          EXPECT_EQ(peakflow[r][c], hours->Peak(r, c)) << r << "," << c;
        }
    EXPECT_GT(peakflow[1][1], 0.0);
    app.ClearMemory();
  }
  std::filesystem::current_path(previous);

  // One row per step, the last at 06:00 of 2 January.
  std::istringstream table(ReadFile(dir / "qges.stat"));
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(table, line)) rows.push_back(line);
  ASSERT_EQ(rows.size(), 3u + kSteps);
  EXPECT_TRUE(rows[3].starts_with("2000\t 1\t 1\t 1\t")) << rows[3];
  EXPECT_TRUE(rows.back().starts_with("2000\t 1\t 2\t 6\t")) << rows.back();
  // Written at the end of the run.
  EXPECT_TRUE(ReadFile(dir / "peakflow.asc").starts_with("ncols\t4\nnrows\t3\n"));
  // The routed discharge at both outlets, every step.
  std::istringstream discharge(ReadFile(dir / "qstat.txt"));
  std::vector<std::string> discharge_rows;
  while (std::getline(discharge, line)) discharge_rows.push_back(line);
  ASSERT_GE(discharge_rows.size(), 3u + kSteps);
  const std::string& last = discharge_rows[3 + kSteps - 1];
  EXPECT_TRUE(last.starts_with("2000\t 1\t 2\t 6\t")) << last;
  std::istringstream fields(last);
  std::vector<double> values;
  for (double value; fields >> value;) values.push_back(value);
  ASSERT_EQ(values.size(), 6u) << last;  // date, then the two outlets
  EXPECT_GT(values[4], 0.0) << last;
  EXPECT_GT(values[5], values[4]) << last;  // the outlet of both subbasins
  EXPECT_NE(console.str().find("deleting module soil_model"), std::string::npos);
}

}  // namespace
}  // namespace velmo
