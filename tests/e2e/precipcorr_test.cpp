// The real program with the precipitation correction at the stations
// (tests/data/precip): station values corrected by the temperature and wind
// speed at each gauge before the interpolation, and a regression read from a
// file refitted to its corrected values.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "e2e/control_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::RunVelmo;
using test::TempDir;
using test::WriteFile;

// The cells of a one-row ASCII grid file.
std::vector<double> RowOf(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<double> values;
  for (double v; in >> v;) values.push_back(v);
  return values;
}

class PrecipitationRun : public test::ControlRunTest {
 public:
  PrecipitationRun() : ControlRunTest("precip", "precip.ctl") {}
};

TEST_F(PrecipitationRun, StationValuesBeforeTheInterpolation) {
  ASSERT_EQ(Velmo(), 0) << Transcript();
  ASSERT_TRUE(test::WellFormed(dir / "Velmo_Diag.xml"));
  // 10 mm as rain at 6.75 °C (valley, 500 m) and as snow at -3 °C (summit,
  // 2000 m), with 3 m/s of wind.
  for (const char* hour : {"01", "02"}) {
    const std::vector<double> row = RowOf(dir / ("precipitation_20000101." + std::string(hour) + "00"));
    ASSERT_EQ(row.size(), 3u) << hour;
    EXPECT_NEAR(row[0], 11.1, 1e-9) << hour;
    EXPECT_NEAR(row[2], 15.0, 1e-9) << hour;
  }
  EXPECT_NE(Transcript().find("deleting module precipitation_correction\n"), std::string::npos);
}

TEST_F(PrecipitationRun, RegressionRefittedToItsCorrectedValues) {
  // Method 2 from a2 = 2, b2 = 0.002 up to h2 = 1000 m and a3 = 3, b3 =
  // 0.001 above; rain 1.1 below 1538 m, snow 1.4 above; no wind.
  Edit("4       thiessen\nprecipitation.txt       station file\nnone ",
       "2       regression\nunused          station file\nregression.txt");
  Edit("[meteo_data_count]\n3", "[meteo_data_count]\n2");
  Edit("temperature\nwind_speed\n", "temperature\n");
  Edit("1.05    rain constant\n0.02    rain slope per m/s of wind speed\n1.2     snow constant\n0.1 ",
       "1.1\n0\n1.4\n0 ");
  // e is missing either way; the token that is no number is named.
  Edit("regression.txt", "-10000 0 0\n2000 1 1 2", "-1e4x 0 0\n2000 1 1 2");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  EXPECT_NE(Transcript().find("1 value of regression.txt is no number as a whole and taken as missing, "
                              "the first in line 2, column 13"),
            std::string::npos);
  for (const char* hour : {"01", "02"}) {
    const std::vector<double> row = RowOf(dir / ("precipitation_20000101." + std::string(hour) + "00"));
    ASSERT_EQ(row.size(), 3u) << hour;
    EXPECT_NEAR(row[0], 3.3, 1e-9) << hour;   // 2.2 + 0.0022 · 500
    EXPECT_NEAR(row[2], 7.15, 1e-9) << hour;  // 0.968182 + 0.0030909 · 2000
  }
  EXPECT_NE(Transcript().find("wind speed is taken as 0"), std::string::npos);
}

// A gauge whose coordinate cannot lie on the raster's plane is refused with
// the station file's read error, before any value is corrected at it.
TEST_F(PrecipitationRun, StationOffTheRasterPlane) {
  struct Case {
    std::string from, to, message;
  };
  const Case cases[] = {
      {"YY MM DD HH 0 0\n", "YY MM DD HH 0 1e20\n", "line 4: the y coordinate 1e+20 of station 2"},
      {"YY MM DD HH 0 2000\n", "YY MM DD HH -1e308 2000\n", "line 3: the x coordinate -1e+308 of station 1"},
  };
  const std::string original = ReadFile(VELMO_TEST_DATA "/precip/precipitation.txt");
  for (const Case& c : cases) {
    WriteFile(dir / "precipitation.txt", original);
    Edit("precipitation.txt", c.from, c.to);
    EXPECT_EQ(Velmo(), 19) << c.to;
    EXPECT_NE(Transcript().find("read error in precipitation.txt, " + c.message +
                                " cannot lie on the plane of the model's raster"),
              std::string::npos)
        << Transcript();
  }
}

}  // namespace
}  // namespace velmo
