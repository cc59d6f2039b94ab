// The real program with the regression and mesh methods (tests/data/meteo,
// mesh.ctl): a 3 x 4 station mesh interpolated bilinearly and with splines,
// a regression fitted to three stations and one read from a text and a
// binary regression file, and the failures of their input.
#include <gtest/gtest.h>

#include <cmath>
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

constexpr int kCols = 25;
constexpr int kRows = 35;
// Cells are located by their lower-left corners, which start at -50.
double CellX(int c) { return -50.0 + (c - 1) * 100.0; }
double CellY(int r) { return -50.0 + (kRows - r) * 100.0; }

double Linear(double x, double y) { return 10 + 0.002 * x - 0.001 * y; }

// Distance weighting with w = 2 over the mesh stations of mesh.txt.
double MeshIdw(double x, double y) {
  double sum = 0.0, weights = 0.0;
  for (double sx : {50.0, 1050.0, 2050.0}) {
    for (double sy : {50.0, 1050.0, 2050.0, 3050.0}) {
      double d2 = (sx - x) * (sx - x) + (sy - y) * (sy - y);
      if (d2 == 0.0) d2 = 1.0;
      sum += Linear(sx, sy) / d2;
      weights += 1.0 / d2;
    }
  }
  return sum / weights;
}

// The values of an ASCII grid file, [row][col] from 1.
std::vector<std::vector<double>> GridValues(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::string line;
  for (int k = 0; k < 6; ++k) std::getline(in, line);
  std::vector<std::vector<double>> values(kRows + 1, std::vector<double>(kCols + 1, 0.0));
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) in >> values[static_cast<size_t>(r)][static_cast<size_t>(c)];
  return values;
}

class MeteoMethodsRun : public test::ControlRunTest {
 public:
  MeteoMethodsRun() : ControlRunTest("meteo", "mesh.ctl") {}
};

TEST_F(MeteoMethodsRun, MeshesAndRegressions) {
  ASSERT_EQ(Velmo(), 0) << Transcript();
  ASSERT_TRUE(test::WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_EQ(ReadFile(dir / "Velmo_Diag.xml").find("level=\"0\""), std::string::npos);
  EXPECT_NE(Transcript().find("avg. horizontal distance: 1000 m\navg. vertical   distance: 1000 m\n"),
            std::string::npos);

  for (const char* hour : {"0100", "0200"}) {
    const std::string stamp = std::string("_20000101.") + hour;
    const auto bilinear = GridValues(dir / ("bilinear" + stamp));
    const auto spline = GridValues(dir / ("spline" + stamp));
    const auto fitted = GridValues(dir / ("fitted" + stamp));
    // Six significant digits in the files.
    for (int r = 1; r <= kRows; ++r) {
      for (int c = 1; c <= kCols; ++c) {
        const double x = CellX(c), y = CellY(r);
        const bool in_squares = x >= 50 && x < 2050 && y >= 50 && y < 3050;
        const bool in_mesh = x >= 50 && x <= 2050 && y >= 50 && y <= 3050;
        EXPECT_NEAR(bilinear[r][c], in_squares ? Linear(x, y) : MeshIdw(x, y), 1e-4) << x << ", " << y;
        EXPECT_NEAR(spline[r][c], in_mesh ? Linear(x, y) : MeshIdw(x, y), 1e-4) << x << ", " << y;
        EXPECT_EQ(fitted[r][c], x < 1200 ? 8.5 : 3.5) << x << ", " << y;
      }
    }
    EXPECT_EQ(bilinear[22][14], 11.25);  // the cell at (1250, 1250)
    EXPECT_EQ(spline[22][14], 11.25);
    EXPECT_EQ(GridValues(dir / ("square" + stamp))[22][14], 1.5785);
    EXPECT_EQ(ReadFile(dir / ("regress_text" + stamp)), ReadFile(dir / ("regress_binary" + stamp)));
  }
  // At 2000 m the upper line; hour 2 adds the trend 8 + 0.001 x + 0.0005 y - a1.
  EXPECT_EQ(GridValues(dir / "regress_text_20000101.0100")[22][14], 14 - 0.006 * 2000);
  EXPECT_NEAR(GridValues(dir / "regress_text_20000101.0200")[22][14],
              8 + 1.25 + 0.625 - 10 + 14 - 0.006 * 2000, 1e-9);
}

TEST_F(MeteoMethodsRun, InputFailuresEndWithTheirCodes) {
  struct edit {
    std::string file, from, to;
  };
  struct Case {
    std::string what;
    std::vector<edit> edits;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"a station missing in one mesh column",
       {{"mesh.ctl", "mesh_square.txt station file", "mesh_gap.txt station file"}},
       70,
       "Error converting the station coordinates into a grid:\nThe actual version of Velmo-ORB accepts only "
       "station meshs\n"},
      {"regression files at 30 minutes",
       {{"mesh.ctl", "timestep = 60", "timestep = 30"}},
       1302,
       "interpolation method 2 or 3 with externally prepared regression files does not work for time steps "
       "less than one hour"},
      {"no start date in a regression file",
       {{"regression.txt", "2000 1 1 1 ", "2000 1 1 5 "}},
       51,
       "EOF reached: regression.txt, date 1.1.2000, 1. h not found!"},
      {"regression and station dates apart",
       {{"mesh.ctl", "10      EDR from station data\nlow.txt         station file\n800 1500 100 0 50",
         "3       idw+regr\nlow.txt         station file\nregression.txt"},
        {"regression.txt", "2000 1 1 2 ", "2000 1 1 4 "}},
       52,
       "error in date column of fitted for IDW*Regress \n\nDate from station/regress file low.txt:\n1.1.2000 "
       "2 "
       "h\n\nbut date from regres file regression.txt:\n1.1.2000 4 h\n"},
      {"method-6 files whose third station differs",
       {{"mesh.ctl", "5       bilinear\nmesh.txt        station file\n",
         "6       BIGRES\nmesh.txt        station file\nmesh_moved.txt\n"}},
       73,
       "Altitude and/or coordinates of station 3 are different in\nmeteorological station files "
       "mesh_moved.txt\nH: "
       "500,\tX: 2050\tY: 3060\nand\nmesh.txt\nH: 500,\tX: 2050\tY: 3050"},
  };
  for (const Case& c : cases) {
    TempDir case_dir;
    test::CopyTestData(case_dir, "meteo");
    for (const edit& e : c.edits) test::ReplaceInFile(case_dir / e.file, e.from, e.to);
    EXPECT_EQ(RunVelmo(case_dir.path().string(), "mesh.ctl", case_dir / "out.txt"), std::min(c.code, 255))
        << c.what;
    const std::string transcript = ReadFile(case_dir / "out.txt");
    EXPECT_NE(transcript.find(c.message), std::string::npos) << c.what << "\n" << transcript;
    EXPECT_NE(transcript.find("Program aborted with exit code " + std::to_string(c.code)), std::string::npos)
        << c.what;
  }
}

}  // namespace
}  // namespace velmo
