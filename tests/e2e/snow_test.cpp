// The real program with the snow model: the example's month of snow, a winter of daily steps (night and day
// parts) whose snow cover grows and melts with every drop of water accounted for, and a control file without
// a snow section.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;
using test::WriteFile;
using ::testing::HasSubstr;

constexpr double kNodata = -9999.0;

// The cells of a binary double grid (rows from the north, 12 header values).
std::vector<double> DoubleGrid(const std::string& path) {
  const std::string bytes = ReadFile(path);
  std::vector<double> values(bytes.size() / sizeof(double));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
  return values.size() > 12 ? std::vector<double>(values.begin() + 12, values.end()) : std::vector<double>{};
}

// The values of the rows of a statistics table (after its three header
// lines), the date columns left out.
std::vector<std::vector<double>> TableRows(const std::string& path, int date_columns = 4) {
  std::istringstream in(ReadFile(path));
  std::vector<std::vector<double>> rows;
  std::string line;
  for (int header = 0; header < 3 && std::getline(in, line); ++header) {
  }
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::vector<double> row;
    double v = 0.0;
    for (int i = 0; cells >> v; ++i)
      if (i >= date_columns) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

struct ExampleCopy {
  ExampleCopy() { test::CopyExample(dir); }
  void Change(const std::string& from, const std::string& to) {
    test::ReplaceInFile(dir / "example.ctl", from, to);
  }
  int Velmo() { return RunVelmo(dir.path().string(), "example.ctl", dir / "out.txt"); }
  std::string Transcript() const { return ReadFile(dir / "out.txt"); }
  TempDir dir;
};

TEST(SnowExample, SnowBuildsUpOnTheHeightsAndAllWaterIsAccountedFor) {
  ExampleCopy run;
  run.Change("WriteAsciiGrids = 1", "WriteDoubleGrids = 1");
  run.Change("esnow.asc       snow evaporation (with a snow model)\n0", "esnow.asc\n10");
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
  EXPECT_THAT(run.Transcript(), HasSubstr("deleting module snow_model"));
  ASSERT_TRUE(WellFormed(run.dir / "Velmo_Diag.xml"));
  const std::string diag = ReadFile(run.dir / "Velmo_Diag.xml");
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_EQ(diag.find("level=\"1\""), std::string::npos);

  // Every cell, over the month: what fell is in the cover, has flowed out of
  // it or has evaporated from it.
  const std::vector<double> precipitation = DoubleGrid(run.dir / "precipitation.sum");
  const std::vector<double> outflow = DoubleGrid(run.dir / "snowoutflow.sum");
  const std::vector<double> evaporation = DoubleGrid(run.dir / "esnow.sum");
  const std::vector<double> cover = DoubleGrid(run.dir / "snowtotal.asc");
  ASSERT_EQ(cover.size(), 300u);
  ASSERT_EQ(precipitation.size(), 300u);
  ASSERT_EQ(outflow.size(), 300u);
  ASSERT_EQ(evaporation.size(), 300u);
  int valid = 0;
  for (std::size_t i = 0; i < cover.size(); ++i) {
    if (cover[i] == kNodata) continue;
    ++valid;
    EXPECT_NEAR(cover[i] + outflow[i] + evaporation[i], precipitation[i], 1e-11) << i;
  }
  EXPECT_GT(*std::max_element(evaporation.begin(), evaporation.end()), 0.0);
  EXPECT_EQ(valid, 208);
  // The head of the valley (row 2) keeps snow at the end of March; the
  // valley floor near the outlet (row 14) has lost its cover.
  EXPECT_GT(cover[1 * 20 + 4], 50.0);
  EXPECT_EQ(cover[13 * 20 + 9], 0.0);
  EXPECT_GT(outflow[13 * 20 + 9], 100.0);
  EXPECT_EQ(TableRows(run.dir / "snowstorage.stat").size(), 744u);
}

// A winter of daily steps from 1 November to 30 April at the example's three
// stations: cold spells with snow, a thaw in January, a warm spring.
struct winter_day {
  int year, month, day;
  double valley, night, precipitation;
};
std::vector<winter_day> Winter() {
  std::vector<winter_day> days;
  const int lengths[] = {30, 31, 31, 29, 31, 30};  // November .. April, 2000 a leap year
  const int months[] = {11, 12, 1, 2, 3, 4};
  int n = 0;
  for (int m = 0; m < 6; ++m) {
    for (int d = 1; d <= lengths[m]; ++d, ++n) {
      const double season = 4.0 - 9.0 * std::sin(M_PI * n / 150.0) + (n > 150 ? 0.25 * (n - 150) : 0.0);
      const double thaw = (n >= 75 && n < 80) ? 7.0 : 0.0;
      const double valley = season + thaw + 1.5 * std::sin(n * 1.7);
      const double precipitation = n % 4 == 0 ? 6.0 + (n % 3) : (n % 7 == 0 ? 2.0 : 0.0);
      days.push_back({months[m] > 10 ? 1999 : 2000, months[m], d, valley, valley - 6.0, precipitation});
    }
  }
  return days;
}

std::string StationFile(const std::string& title, const std::vector<winter_day>& days, int what) {
  std::string text = title +
                     "\nYYYY\tMM\tDD\tHH\t1450\t1350\t850\nYYYY\tMM\tDD\tHH\t680250\t682750\t681250\n"
                     "YYYY\tMM\tDD\tHH\t242250\t241750\t240250\nYYYY\tMM\tDD\tHH\tAlp\tRidge\tValley\n";
  char line[200];
  for (const winter_day& d : days) {
    const double t = what == 1 ? d.valley : d.night;
    if (what == 0)
      std::snprintf(line, sizeof line, "%d\t%d\t%d\t24\t%.1f\t%.1f\t%.1f\n", d.year, d.month, d.day,
                    d.precipitation * 1.4, d.precipitation * 1.2, d.precipitation);
    else
      std::snprintf(line, sizeof line, "%d\t%d\t%d\t24\t%.2f\t%.2f\t%.2f\n", d.year, d.month, d.day, t - 4.0,
                    t - 3.5, t);
    text += line;
  }
  return text;
}

TEST(SnowWinter, DailyStepsBuildAndMeltACoverAndKeepTheWater) {
  TempDir dir;
  for (const char* file : {"winter.ctl", "zones.asc", "dem.asc"})
    std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/snow/") + file, dir / file);
  const std::vector<winter_day> days = Winter();
  WriteFile(dir / "precipitation.txt", StationFile("precipitation (mm per day)", days, 0));
  WriteFile(dir / "temperature.txt", StationFile("daily mean temperature", days, 1));
  WriteFile(dir / "night.txt", StationFile("night temperature", days, 2));
  ASSERT_EQ(RunVelmo(dir.path().string(), "winter.ctl", dir / "out.txt"), 0) << ReadFile(dir / "out.txt");
  const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_EQ(diag.find("level=\"1\""), std::string::npos);

  // Every cell: what fell over the winter is in the cover or has flowed out.
  const std::vector<double> precipitation = DoubleGrid(dir / "precipitation.sum");
  const std::vector<double> outflow = DoubleGrid(dir / "snowoutflow.sum");
  const std::vector<double> cover = DoubleGrid(dir / "snowtotal.asc");
  ASSERT_EQ(cover.size(), 12u);
  for (std::size_t i = 0; i < cover.size(); ++i) {
    if (cover[i] == kNodata) continue;
    EXPECT_GT(precipitation[i], 200.0) << i;
    EXPECT_NEAR(cover[i] + outflow[i], precipitation[i], 1e-10) << i;
  }

  // One row a day: the cover of both subbasins grows into the winter and is
  // gone by the end of April.
  const std::vector<std::vector<double>> storage = TableRows(dir / "snowstorage.stat");
  ASSERT_EQ(storage.size(), days.size());
  double peak = 0.0;
  for (const auto& row : storage) peak = std::max(peak, row.back());
  EXPECT_GT(peak, 50.0);
  EXPECT_LT(storage.back().back(), 1e-9);
  EXPECT_GT(storage[120].front(), storage[20].front());
}

TEST(SnowExample, AControlFileWithoutSnowSectionEndsWith17) {
  ExampleCopy run;
  run.Change("[snow_model]", "[snow_model_off]");
  EXPECT_EQ(run.Velmo(), 17);
  EXPECT_THAT(run.Transcript(), HasSubstr("error in control file, [snow_model]; (EOF)not found!"));
}

}  // namespace
}  // namespace velmo
