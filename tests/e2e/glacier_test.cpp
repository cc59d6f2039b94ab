// The real program with glaciers: two glacier years of daily steps on an alpine slope, whose glaciers melt
// and are evaluated once a year, with their grids, firn stack and tables written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/control_run.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Station files of daily values from 1 October 1999 to 30 September 2001 at
// the three stations (Alp 1450 m, Ridge 1350 m, Valley 850 m): a seasonal
// temperature with a cold night, and precipitation every third day.
void WriteStations(const TempDir& dir) {
  const std::string head =
      "\nYYYY\tMM\tDD\tHH\t1450\t1350\t850\nYYYY\tMM\tDD\tHH\t680250\t682750\t681250\n"
      "YYYY\tMM\tDD\tHH\t242250\t241750\t240250\nYYYY\tMM\tDD\tHH\tAlp\tRidge\tValley\n";
  std::string precipitation = "precipitation (mm per day)" + head;
  std::string temperature = "daily mean temperature" + head;
  std::string night = "night temperature" + head;
  const int lengths[] = {31, 30, 31, 31, 29, 31, 30, 31, 30, 31, 31, 30};  // October .. September
  char line[200];
  int n = 0;
  for (int year = 0; year < 2; ++year) {
    for (int m = 0; m < 12; ++m) {
      const int month = (m + 9) % 12 + 1;
      const int calendar_year = 1999 + year + (month < 10 ? 1 : 0);
      const int days = month == 2 && calendar_year % 4 != 0 ? 28 : lengths[m];
      for (int d = 1; d <= days; ++d, ++n) {
        // Coldest in mid-January (day 105 from 1 October), warmest in July.
        const double valley = 9.0 - 13.0 * std::cos(2.0 * M_PI * (n - 105) / 365.0) + 1.5 * std::sin(n * 1.7);
        const double p = n % 3 == 0 ? 8.0 + n % 5 : 0.0;
        std::snprintf(line, sizeof line, "%d\t%d\t%d\t24\t%.1f\t%.1f\t%.1f\n", calendar_year, month, d,
                      p * 1.4, p * 1.2, p);
        precipitation += line;
        for (auto [text, t] : {std::pair{&temperature, valley}, std::pair{&night, valley - 6.0}}) {
          std::snprintf(line, sizeof line, "%d\t%d\t%d\t24\t%.2f\t%.2f\t%.2f\n", calendar_year, month, d,
                        t - 4.0, t - 3.5, t);
          *text += line;
        }
      }
    }
  }
  WriteFile(dir / "precipitation.txt", precipitation);
  WriteFile(dir / "temperature.txt", temperature);
  WriteFile(dir / "night.txt", night);
}

TEST(GlacierYears, TwoYearsOfDynamicGlaciersAreEvaluatedOnceAYear) {
  TempDir dir;
  CopyTestData(dir, "snow",
               {"glacier.ctl", "zones.asc", "glacier_dem.asc", "glacier_shares.asc", "glacier_codes.asc"});
  WriteStations(dir);
  ASSERT_EQ(RunVelmo(dir.path().string(), "glacier.ctl", dir / "out.txt"), 0) << ReadFile(dir / "out.txt");
  const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_EQ(diag.find("level=\"1\""), std::string::npos);

  // One evaluation a year, of both glaciers.
  const std::string transcript = ReadFile(dir / "out.txt");
  EXPECT_EQ(Count(transcript, "Glacierbalance"), 2);
  EXPECT_EQ(Count(transcript, "Glacier:\t0\n"), 2);
  EXPECT_EQ(Count(transcript, "Glacier:\t1\n"), 2);
  EXPECT_EQ(Count(transcript, "glaciers changed, updating glaicerlist now..."), 2);

  // Daily rows of both subbasins; the glaciers melt in summer and their
  // runoff goes on after the melt.
  const std::vector<std::vector<double>> ice = TableValues(dir / "qice.stat");
  const std::vector<std::vector<double>> total = TableValues(dir / "qglac.stat");
  ASSERT_EQ(ice.size(), 731u);
  ASSERT_EQ(total.size(), 731u);
  ASSERT_EQ(ice[0].size(), 3u);
  double melted = 0.0, drained = 0.0;
  for (std::size_t day = 0; day < ice.size(); ++day) {
    melted += ice[day][2];
    drained += total[day][2];
  }
  EXPECT_GT(melted, 10.0);
  EXPECT_GT(drained, melted);
  EXPECT_EQ(TableValues(dir / "firn.stat").size(), 731u);
  EXPECT_EQ(TableValues(dir / "balance2.stat").size(), 731u);

  // The grids and the stack of the end of the run.
  for (const char* file : {"firnmelt.sum", "icemelt.sum", "balance.asc", "gtotal.asc", "gmelt.sum"})
    EXPECT_TRUE(std::filesystem::exists(dir / file)) << file;
  // The binary stack: 12 header values, then levels 0..3 of each cell, level
  // 0 their sum.
  const std::string bytes = ReadFile(dir / "firn.stack");
  std::vector<double> stack(bytes.size() / sizeof(double));
  std::memcpy(stack.data(), bytes.data(), stack.size() * sizeof(double));
  ASSERT_EQ(stack.size(), 12u + 12u * 4u);
  EXPECT_EQ(stack[11], 3.0);
  double firn = 0.0;
  for (std::size_t cell = 0; cell < 12; ++cell) {
    const double* levels = stack.data() + 12 + 4 * cell;
    if (levels[0] == -9999.0) continue;
    EXPECT_NEAR(levels[0], levels[1] + levels[2] + levels[3], 1e-9) << cell;
    firn += levels[0];
  }
  EXPECT_GT(firn, 0.0);
}

}  // namespace
}  // namespace velmo::test
