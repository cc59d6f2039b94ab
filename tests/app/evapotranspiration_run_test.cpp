// The radiation correction and the evapotranspiration model in the model
// application: a daily Hamon run of tests/data/evapotranspiration with the
// temperature corrected for exposure, its grids and its statistics table.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "physics/moist_air.h"
#include "support/dated_run.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr double kNodata = -9999.0;

// The cell values of an ASCII grid, row by row, after its six header lines.
std::vector<double> AsciiCells(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::string line;
  for (int i = 0; i < 6; ++i) std::getline(in, line);
  std::vector<double> cells;
  double value = 0.0;
  while (in >> value) cells.push_back(value);
  return cells;
}

// Table rows after the three header lines.
int TableRows(const std::string& path) { return test::StatisticsRows(path); }

TEST(EvapotranspirationRun, DailyHamonWithCorrectedTemperature) {
  TempDir dir;
  std::filesystem::copy_file(VELMO_TEST_DATA "/evapotranspiration/hamon.ctl", dir / "hamon.ctl");
  for (const char* grid : {"zones.asc", "dem.asc"})
    std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + grid, dir / grid);
  std::string transcript;
  ASSERT_EQ(test::RunWithSteps(dir, "hamon.ctl", test::DailySteps(3), transcript), 0) << transcript;
  EXPECT_NE(transcript.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_NE(transcript.find("pot. evaptranspir. 3.1.2000 24. h"), std::string::npos) << transcript;

  const std::vector<double> factor = AsciiCells(dir / "exkorr.asc");
  const std::vector<double> temperature = AsciiCells(dir / "tkorr.asc");
  const std::vector<double> etp = AsciiCells(dir / "etp.asc");
  const std::vector<double> soil = AsciiCells(dir / "evap.asc");
  ASSERT_EQ(etp.size(), 6u);
  ASSERT_EQ(temperature.size(), 6u);
  ASSERT_EQ(soil.size(), 6u);
  ASSERT_EQ(factor.size(), 6u);

  // The cell outside the catchment (row 2, column 1) stays nodata.
  EXPECT_EQ(etp[3], kNodata);
  EXPECT_EQ(temperature[3], kNodata);
  // Slopes change the factor and so the temperature of 10 °C.
  bool corrected = false;
  for (std::size_t i : {0u, 1u, 2u, 4u, 5u}) {
    EXPECT_GT(factor[i], 0.0) << i;
    corrected = corrected || std::fabs(temperature[i] - 10.0) > 1e-3;
  }
  EXPECT_TRUE(corrected);

  // Every cell has the same day length and land use: Hamon's rate follows
  // es(T)/(T + 273.3) of the corrected temperature, and the soil takes the
  // same share of it everywhere.
  const auto hamon_shape = [](double t) { return SaturationVapourPressureTetens(t) / (t + 273.3); };
  const double scale = etp[0] / hamon_shape(temperature[0]);
  for (std::size_t i : {0u, 1u, 2u, 4u, 5u}) {
    EXPECT_GT(etp[i], 0.0) << i;
    EXPECT_NEAR(etp[i] / hamon_shape(temperature[i]), scale, 2e-5 * scale) << i;
    EXPECT_NEAR(soil[i] / etp[i], soil[0] / etp[0], 1e-5) << i;
  }
  EXPECT_GT(soil[0], 0.0);
  EXPECT_LT(soil[0], etp[0]);

  EXPECT_EQ(TableRows(dir / "etp.stat"), 3);
}

}  // namespace
}  // namespace velmo
