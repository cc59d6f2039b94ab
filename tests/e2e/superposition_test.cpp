// The real program with the regional superposition switched on
// (tests/data/superposition): two regions blended over 300 m on 100 m cells,
// the entity's dated grids and statistics table, and a section without its
// entity count.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/control_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;
using test::WriteFile;

class RegionalRun : public test::ControlRunTest {
 public:
  RegionalRun() : ControlRunTest("superposition", "regional.ctl") {}
};

TEST_F(RegionalRun, RegionsBlendAcrossTheirBorder) {
  ASSERT_EQ(Velmo(), 0) << Transcript();
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_EQ(ReadFile(dir / "Velmo_Diag.xml").find("level=\"0\""), std::string::npos);
  // 10 mm weighted 1 in region 1 and 3 in region 2: cells 3, 2 and 1 cells
  // from the border (columns 2 to 4) keep 1, 5/6 and 2/3 of their own weight.
  const std::string row = "10\t10\t13.3333\t16.6667\t23.3333\t26.6667\t30\t30\n";
  for (const char* hour : {"01", "02", "03"}) {
    const std::string grid = ReadFile(dir / ("precipitation_20000101." + std::string(hour) + "00"));
    EXPECT_TRUE(grid.ends_with(row + row)) << hour << "\n" << grid;
  }
  const std::string statistics = ReadFile(dir / "precipitation.stat");
  EXPECT_TRUE(
      statistics.starts_with("YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\n"
                             "precipitation_submodel:RegionalSuperposition\n"))
      << statistics;
  EXPECT_TRUE(statistics.ends_with("2000\t 1\t 1\t 3\t12.5000\t27.5000\t20.0000\n")) << statistics;
  EXPECT_NE(Transcript().find("deleting module RegionalSuperposition\n"), std::string::npos);
}

TEST_F(RegionalRun, PrecipitationCorrectedOnTheEntityGrid) {
  // No temperature and no wind speed: every value is raised by the rain
  // constant, after the superposition and before the grid and table are
  // written.
  Edit(
      "0       do_it: 0 = precipitation is not corrected for the catch loss of the gauges\n0.0     "
      "threshold temperature (degrees C): snow at or below it\n1.0",
      "1\n0.0\n1.1");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  const std::string row = "11\t11\t14.6667\t18.3333\t25.6667\t29.3333\t33\t33\n";
  const std::string grid = ReadFile(dir / "precipitation_20000101.0300");
  EXPECT_TRUE(grid.ends_with(row + row)) << grid;
  const std::string statistics = ReadFile(dir / "precipitation.stat");
  EXPECT_TRUE(statistics.ends_with("2000\t 1\t 1\t 3\t13.7500\t30.2500\t22.0000\n")) << statistics;
  EXPECT_NE(Transcript().find("deleting module precipitation_correction\n"), std::string::npos);
}

TEST_F(RegionalRun, MissingEntityCountEndsTheConstruction) {
  Edit("NumberOfEntities = 1;", "Entities = 1;");
  EXPECT_EQ(Velmo(), 133);
  const std::string transcript = Transcript();
  const std::size_t entry =
      transcript.find("could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]");
  EXPECT_NE(entry, std::string::npos) << transcript;
  EXPECT_LT(entry, transcript.find("exceptions in ModellApplication::init() caught!"));
  EXPECT_NE(transcript.find("Program aborted with exit code 133"), std::string::npos);
}

// An entity beyond the count would be no grid at all, its statistics never written.
TEST_F(RegionalRun, EntityBeyondTheCountEndsTheConstruction) {
  Edit("NumberOfEntities = 1;", "NumberOfEntities = 0;");
  EXPECT_EQ(Velmo(), 133);
  EXPECT_NE(Transcript().find("more entities than the count (NumberOfEntities = 0): \"precipitation {\" "
                              "follows the last entity in [RegionalSuperposition]"),
            std::string::npos)
      << Transcript();
  EXPECT_NE(Transcript().find("Program aborted with exit code 133"), std::string::npos);
}

// An entity without any input grid would be a precipitation of 0 all run long.
TEST_F(RegionalRun, EntityWithoutInputGridEndsTheConstruction) {
  Edit("  entityinputgrid = rain; regions = 1, 2; weights = 1, 3;\n", "");
  EXPECT_EQ(Velmo(), 134);
  EXPECT_NE(
      Transcript().find("error reading regions in RegionalSuperposition entity: precipitation\nThe entity "
                        "has no input grid: each needs at least one \"entityinputgrid = <grid>; regions "
                        "= <codes>; weights = <weights>;\""),
      std::string::npos)
      << Transcript();
  EXPECT_NE(Transcript().find("Program aborted with exit code 134"), std::string::npos);
}

}  // namespace
}  // namespace velmo
