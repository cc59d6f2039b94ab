// Runs with a "[data_assimilation]" section: faulty rules end the real program with their full code
// (exit status 255); in the example, run in-process, an observed level sets the reservoir of the routing
// model in the pass of its date, before the reservoir's balance of that step.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/modappli.h"
#include "e2e/control_run.h"
#include "e2e/example_run.h"
#include "e2e/xml_check.h"
#include "routing/reservoir.h"
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
      // A rule beyond the count would never be applied.
      {"grid { grid-ID = [elevation_model]; listfilename = list.txt; }\n"
       "grid { grid-ID = snow_storage_total; listfilename = list.txt; }",
       1299,
       "more rules than the count (1): \"grid { grid-ID = snow_storage_total; listfilename = list.txt; }\" "
       "follows the last rule in [data_assimilation]"},
      // Without a routing model there are no reservoirs.
      {"reservoir { lake-ID = 9; AverageWaterTable = 500; listfilename = list.txt; }", 1220,
       "reservoir 9 as defined for data assimilation not found in the actual model configuration"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    test::CopyTestData(dir, "e2e", {"run.ctl", "zones.asc", "dem.asc"});
    WriteFile(dir / "run.ctl", ReadFile(dir / "run.ctl") + Section(c.rule));
    WriteFile(dir / "list.txt", kListHead);
    EXPECT_EQ(RunVelmo(dir.path().string(), "run.ctl", dir / "out.txt"), 255) << c.rule;
    const std::string transcript = ReadFile(dir / "out.txt");
    EXPECT_THAT(transcript, HasSubstr(c.message)) << c.rule;
    EXPECT_THAT(transcript, HasSubstr("Program aborted with exit code " + std::to_string(c.code))) << c.rule;
    EXPECT_TRUE(test::WellFormed(dir / "Velmo_Diag.xml")) << c.rule;
  }
}

// A list that has lost a line of its head would give its first record to the
// head: the record's date is refused there, naming the list and the line.
TEST(AssimilationRun, AListThatLostAHeadLineEndsTheRun) {
  const std::string bafu_record = "2206 Reservoir gauge  2000.03.02 07:00    1250.300\n";
  struct Case {
    std::string rule, list, message;
  };
  const Case cases[] = {
      {"grid { grid-ID = snow_storage_total; listfilename = list.txt; }",
       "observed values\nnumber of grid columns 20\nnumber of grid rows 15\ncell size in metres 100\n"
       "2000 3 1 12 swe.asc\n",
       "error reading datetime format in list.txt for grid-type data assimilation in entity "
       "snow_storage_total: "
       "line 5 holds a dated record (2000 3 1 12) where the head of the list is due; a line of the head is "
       "missing"},
      {"reservoir { lake-ID = 1; AverageWaterTable = 1250; listfilename = list.txt; }",
       "observed values\nnumber of grid columns 20\nnumber of grid rows 15\ncell size in metres 100\n"
       "2000 3 1 18 1250.5\n2000 3 2 3 1250.2\n",
       "for reservoir-type data assimilation for reservoir 1: line 5 holds a dated record (2000 3 1 18)"},
      {"reservoir { lake-ID = 1; AverageWaterTable = 1250; listfilename = list.txt;\n"
       "  options { format = bafu; skiprows = 0; } }",
       "2206 Reservoir gauge, levels in m a.s.l.\nsecond line of head\n" + bafu_record + bafu_record,
       "for reservoir 1: line 3 holds a dated record (" + bafu_record.substr(0, bafu_record.size() - 1) +
           ") where the head of the list is due"},
  };
  for (const Case& c : cases) {
    test::ControlRun run("example.ctl");
    test::CopyExample(run.dir);
    WriteFile(run.dir / "example.ctl", ReadFile(run.dir / "example.ctl") + Section(c.rule));
    WriteFile(run.dir / "list.txt", c.list);
    EXPECT_EQ(run.Velmo(), 255) << c.rule;
    EXPECT_THAT(run.Transcript(), HasSubstr(c.message)) << c.rule;
    EXPECT_THAT(run.Transcript(), HasSubstr("Program aborted with exit code 1205")) << c.rule;
  }
}

// A "bafu" level is the number that starts in its field (columns 40 to 49),
// read up to the next blank: a level running on to column 50 keeps its digits.
TEST(AssimilationRun, BafuLevelsAreReadWhole) {
  test::ControlRun run("example.ctl");
  test::CopyExample(run.dir);
  WriteFile(run.dir / "example.ctl",
            ReadFile(run.dir / "example.ctl") +
                Section("reservoir { lake-ID = 1; AverageWaterTable = 1250; listfilename = list.txt;\n"
                        "  options { format = bafu; skiprows = 0; } }"));
  WriteFile(run.dir / "list.txt",
            "2206 Reservoir gauge, levels in m a.s.l.\nsecond line of head\nthird line of head\n"
            "2206 Reservoir gauge  2000.03.10 12:00    1.25E+03\n"
            "2206 Reservoir gauge  2000.03.10 13:00      1250.4\n"
            "2206 Reservoir gauge  2000.03.10 14:00    1250.000\n");
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
  const std::string transcript = run.Transcript();
  for (const auto& [date, level] : {std::pair{"12:00", " -> 1250 m, "}, std::pair{"13:00", " -> 1250.4 m, "},
                                    std::pair{"14:00", " -> 1250 m, "}}) {
    const size_t at = transcript.find(std::string("reservoir 1 on 2000-03-10 ") + date + ": level ");
    ASSERT_NE(at, std::string::npos) << date << "\n" << transcript;
    const std::string line = transcript.substr(at, transcript.find('\n', at) - at);
    EXPECT_NE(line.find(level), std::string::npos) << line;
  }
}

// An "options {" line misspelt leaves the rule without its split: the keys
// read by nothing are named.
TEST(AssimilationRun, KeysOfAMisspeltOptionsLineAreNamed) {
  test::ControlRun run("example.ctl");
  test::CopyExample(run.dir);
  WriteFile(run.dir / "example.ctl",
            ReadFile(run.dir / "example.ctl") +
                Section("grid { grid-ID = snow_storage_total; listfilename = list.txt;\n"
                        "  option { split-into-liquid-and-solid = true; weighing-by-glacierized-fraction = "
                        "false; default-liquid-percentage = 10; } }"));
  WriteFile(run.dir / "list.txt", kListHead);
  EXPECT_EQ(run.Velmo(), 0) << run.Transcript();
  for (const char* key :
       {"split-into-liquid-and-solid", "weighing-by-glacierized-fraction", "default-liquid-percentage"})
    EXPECT_THAT(run.Transcript(),
                HasSubstr("rule 1 of [data_assimilation] (grid snow_storage_total) does not "
                          "know the key \"" +
                          std::string(key) + "\", which is ignored"));
  // Warnings, at level 2.
  EXPECT_NE(
      ReadFile(run.dir / "Velmo_Diag.xml")
          .find("<line level=\"2\" description= \"rule 1 of [data_assimilation] (grid snow_storage_total)"),
      std::string::npos);
}

TEST(AssimilationRun, AnObservedLevelSetsTheReservoirOfTheExample) {
  test::example_run example;
  // Reservoir 1: V0 2e4 m3 at W0 1250 m, area 1e4 m2.
  WriteFile(example.dir / "example.ctl",
            ReadFile(example.dir / "example.ctl") +
                Section("reservoir { lake-ID = 1; AverageWaterTable = 1250; listfilename = levels.txt; }"));
  WriteFile(example.dir / "levels.txt", kListHead + "2000 3 10 12 1250.5\n");
  int steps = 0;
  int observed_steps = 0;
  double previous_volume = 0.0;
  const auto after_pass = [&](ModellApplication& application) {
    ASSERT_EQ(application.reservoirs.size(), 1u);
    const SP_class& reservoir = *application.reservoirs[0];
    const double change = reservoir.Term(kVolumeChangeTerm).volume;
    const model_date& d = application.current_date;
    // The step of the observation starts from its volume and level; every
    // other step goes on from the one before.
    if (d.month == 3 && d.day == 10 && d.hour == 12) {
      EXPECT_NEAR(reservoir.volume - change, 2.5e4, 1e-9 * 2.5e4);
      EXPECT_NEAR(reservoir.level - change / 1e4, 1250.5, 1e-9);
      ++observed_steps;
    } else if (steps > 0) {
      EXPECT_NEAR(reservoir.volume - change, previous_volume, 1e-9 * previous_volume)
          << d.day << " " << d.hour;
    }
    previous_volume = reservoir.volume;
    ++steps;
  };
  EXPECT_EQ(example.Run({}, after_pass), 0);
  EXPECT_EQ(observed_steps, 1);
  EXPECT_THAT(example.transcript, HasSubstr("data assimilation: reservoir 1 on 2000-03-10 12:00: level "));
  EXPECT_THAT(example.transcript, HasSubstr(" -> 1250.5 m, volume "));
  EXPECT_THAT(example.transcript, HasSubstr(" -> 25000 m3"));
}

}  // namespace
}  // namespace velmo
