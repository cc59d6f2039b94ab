// Runs the real program on the example, which routes its subbasins: the state file it leaves (routing block,
// soil block, snow block), a warm start from it, and a state file that cannot be written.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::ReplaceInFile;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;

struct RoutedExample {
  RoutedExample() {
    // The example's subbasin 1 flows to the outlet of subbasin 2 through a channel of 2 km.
    test::CopyExample(dir);
  }
  int Velmo(const std::string& out = "out.txt") {
    return RunVelmo(dir.path().string(), "example.ctl", dir / out);
  }
  void Edit(const std::string& from, const std::string& to) { ReplaceInFile(dir / "example.ctl", from, to); }
  // The values of the discharge table's row of `hour` on 1.1.2000.
  std::vector<double> RoutedAt(int hour) {
    std::istringstream table(ReadFile(dir / "qrout.stat"));
    const std::string start = "2000\t 1\t 1\t" + std::to_string(hour) + "\t";
    for (std::string line; std::getline(table, line);) {
      if (!line.starts_with(start)) continue;
      std::istringstream values(line.substr(start.size()));
      std::vector<double> row;
      for (double v; values >> v;) row.push_back(v);
      return row;
    }
    return {};
  }

  TempDir dir;
};

TEST(StateFileRun, RoutingSoilAndSnowBlocksAndAWarmStartFromThem) {
  RoutedExample continuous;
  ASSERT_EQ(continuous.Velmo(), 0) << ReadFile(continuous.dir / "out.txt");
  const std::vector<double> expected = continuous.RoutedAt(13);
  ASSERT_EQ(expected.size(), 2u);

  // The first half of the day, then the second from its state.
  RoutedExample run;
  run.Edit("endhour = 0\nendday = 2", "endhour = 12\nendday = 1");
  ASSERT_EQ(run.Velmo(), 0) << ReadFile(run.dir / "out.txt");
  const std::string state = ReadFile(run.dir / "state.ftz");
  EXPECT_TRUE(
      state.starts_with("[routing_model_v2]\n60.000 (timestep in minutes)\n2 (routing subbasin with "
                        "tributaries 1)\n"))
      << state;
  const size_t soil = state.find("\n[soil_model]\n2 (number of subasins)\n1\t2\t(code)\n");
  EXPECT_NE(soil, std::string::npos);
  EXPECT_LT(state.find("1 (number of reservoirs)\n"), soil);
  EXPECT_LT(soil, state.find("\n[snow_model_v2]\n"));
  EXPECT_EQ(state.find("[routing_model_v2]", 1), std::string::npos);

  run.Edit("starthour = 1\n", "starthour = 13\n");
  run.Edit("endhour = 12\nendday = 1", "endhour = 0\nendday = 2");
  run.Edit("0       read mode of the stored state: none", "1       read mode: the stored state");
  ASSERT_EQ(run.Velmo("warm.txt"), 0) << ReadFile(run.dir / "warm.txt");
  // Not exact: the soil rebuilds some of its state from its grids (a cold
  // start from the section's values gives three times the discharge).
  const std::vector<double> warm = run.RoutedAt(13);
  ASSERT_EQ(warm.size(), 2u);
  for (size_t i = 0; i < 2; ++i) EXPECT_NEAR(warm[i], expected[i], 0.05 * expected[i]) << i;
}

TEST(StateFileRun, AnUnwritableStateFileEndsTheRunWith16OnceEverythingIsCleared) {
  RoutedExample run;
  run.Edit("state.ftz       state file",
           "missing/state.ftz       state file in a directory that is not there");
  EXPECT_EQ(run.Velmo(), 16);
  const std::string out = ReadFile(run.dir / "out.txt");
  // Both blocks are reported; the clearing goes on to its end.
  const std::string entry =
      "couldn't open file \"missing/state.ftz\" \n(model version doesn't support this feature or "
      "write access error)\n";
  const size_t routing = out.find(entry);
  ASSERT_NE(routing, std::string::npos) << out;
  EXPECT_NE(out.find(entry, routing + 1), std::string::npos);
  const size_t end = out.find("o.k.\n\nthe end.\n");
  EXPECT_LT(routing, end);
  EXPECT_LT(end, out.find("Exception in Modellapplication::ClearMemory() caught!"));
  EXPECT_NE(out.find("Program aborted with exit code 16"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(run.dir / "peakflow.asc"));  // written by the soil model's clean-up
  ASSERT_TRUE(WellFormed(run.dir / "Velmo_Diag.xml"));
  EXPECT_NE(
      ReadFile(run.dir / "Velmo_Diag.xml").find("<line level=\"1\" description= \"couldn&apos;t open file"),
      std::string::npos);
}

}  // namespace
}  // namespace velmo
