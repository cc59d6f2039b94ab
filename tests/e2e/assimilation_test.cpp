// Runs the real program with a "[data_assimilation]" section: faulty rules end the run with their full
// code (exit status 255), and in the example an observed level sets the reservoir of the routing model
// in the pass of its date, before the reservoir's balance of that step.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
using test::WriteFile;
using ::testing::HasSubstr;

const std::string kListHead =
    "observed values\nnumber of grid columns 3\nnumber of grid rows 2\ncell size in metres 100\n"
    "unit of the values mm\n";

std::string Section(const std::string& rule) {
  return "\n[data_assimilation]\n1       flow control parameter\n60      time interval (minutes)\n"
         "1       number of data-assimilation rules\n" +
         rule + "\n";
}

TEST(AssimilationRun, FaultyRulesEndTheRunWithTheirCode) {
  struct Case {
    std::string rule;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"grid { grid-ID = nosuchgrid; listfilename = list.txt; }", 1210,
       "\n---------------------- error in data assimilation model ------------------- \n"
       "entity nosuchgrid not available as grid in the actual model configuration\n"
       "-----------------------------------------------------------------------\n"},
      {"grid { grid-ID = [elevation_model]; listfilename = none.txt; }", 1200,
       "error opening input list file none.txt for grid-type data assimilation in entity [elevation_model]"},
      {"grid { grid-ID = [elevation_model]; listfilename = list.txt;\n"
       "  options { split-into-liquid-and-solid = false; } }",
       1299, "key \"weighing-by-glacierized-fraction\" not found in the options of rule 1"},
      // Without a routing model there are no reservoirs.
      {"reservoir { lake-ID = 9; AverageWaterTable = 500; listfilename = list.txt; }", 1220,
       "reservoir 9 as defined for data assimilation not found in the actual model configuration"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const char* file : {"run.ctl", "zones.asc", "dem.asc"})
      std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + file, dir / file);
    WriteFile(dir / "run.ctl", ReadFile(dir / "run.ctl") + Section(c.rule));
    WriteFile(dir / "list.txt", kListHead);
    EXPECT_EQ(RunVelmo(dir.path().string(), "run.ctl", dir / "out.txt"), 255) << c.rule;
    const std::string transcript = ReadFile(dir / "out.txt");
    EXPECT_THAT(transcript, HasSubstr(c.message)) << c.rule;
    EXPECT_THAT(transcript, HasSubstr("Program aborted with exit code " + std::to_string(c.code))) << c.rule;
    EXPECT_TRUE(test::WellFormed(dir / "Velmo_Diag.xml")) << c.rule;
  }
}

// Rows of a table after its three head lines, split at tabs.
std::vector<std::vector<double>> Rows(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream lines(text);
  std::string line;
  for (int head = 0; head < 3; ++head) std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream values(line);
    rows.emplace_back();
    for (double v; values >> v;) rows.back().push_back(v);
  }
  return rows;
}

TEST(AssimilationRun, AnObservedLevelSetsTheReservoirOfTheExample) {
  TempDir dir;
  test::CopyExample(dir);
  // Reservoir 1: V0 1e5 m3 at W0 450 m, area 5e4 m2.
  WriteFile(dir / "example.ctl",
            ReadFile(dir / "example.ctl") +
                Section("reservoir { lake-ID = 1; AverageWaterTable = 450; listfilename = levels.txt; }"));
  WriteFile(dir / "levels.txt", kListHead + "2000 1 1 12 450.5\n");
  ASSERT_EQ(RunVelmo(dir.path().string(), "example.ctl", dir / "out.txt"), 0) << ReadFile(dir / "out.txt");
  EXPECT_THAT(ReadFile(dir / "out.txt"),
              HasSubstr("data assimilation: reservoir 1 on 2000-01-01 12:00: level "));
  EXPECT_THAT(ReadFile(dir / "out.txt"), HasSubstr(" -> 450.5 m, volume "));

  // The row of 12 h starts from the assimilated volume and level; every other
  // step goes on from the row before.
  const auto rows = Rows(ReadFile(dir / "reservoir_1.txt"));
  ASSERT_GT(rows.size(), 24u);
  for (size_t i = rows.size() - 24; i < rows.size(); ++i) {
    const double hour = rows[i][3], level = rows[i][4], volume = rows[i][6], change = rows[i][25];
    const double start = hour == 12 ? 1.25e5 : rows[i - 1][6];
    EXPECT_NEAR(volume - change, start, 1e-5 * volume) << hour;
    // The table holds six digits.
    if (hour == 12) EXPECT_NEAR(level - change / 5e4, 450.5, 1e-3);
  }
}

}  // namespace
}  // namespace velmo
