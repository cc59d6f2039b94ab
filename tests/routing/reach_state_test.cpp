// The routing block of the state file: its layout, warm starts that go on exactly, resampling, read modes,
// and blocks that do not fit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <vector>

#include "routing/abfluss.h"
#include "routing/routing_fixture.h"
#include "setup/statefile.h"

namespace velmo {
namespace {

using test::kFixedChannel;
using test::ReadFile;
using test::RoutingSection;
using test::section_options;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

class RoutingState : public test::RoutingFixture {
 protected:
  RoutingState() {
    settings_.InitialStateDirectory = &output_directory_;
    settings_.state_files = &session_;
  }

  // Builds and links a model as a new run does, reading the state file
  // `name` under `read_mode`.
  std::unique_ptr<abflussmodellklasse> Start(const std::string& section, const std::string& name,
                                             int read_mode) {
    session_ = state_file_session{};
    auto model = Make(section, 0, read_mode);
    model->LinkInputGrids(false);
    model->SetSubbasinRunoff(runoff_rows_);
    model->InitializeRouting();
    model->ReadStorageFile(name, read_mode);
    model->SetReady(1);
    return model;
  }
  std::string State(const std::string& name = "state.ftz") { return ReadFile(dir_ / name); }
  state_file_session session_;  // of the run
  static std::string Text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
  }

  // Two elements in a chain: 3 gathers 1 and 2; 6 takes 3, the summed
  // channel of 4 and 5, a constant inflow and one from the table "q.txt".
  void Chain(section_options& o) {
    Zones({1, 2, 3, 4, 5, 6}, {0.1, 0.2, 0.15, 0.25, 0.1, 0.2}, 80.0);
    o.descriptions = "TG 3 (AE = 36, AV = 1) OL 1 " + kFixedChannel + " OL 2 " + kFixedChannel +
                     "\nTG 6 (AE = 80, AV = 2) OL 3 " + kFixedChannel + "\nSUMTRIB 4 & 5 " + kFixedChannel +
                     "\nZL 1 = constant 1.5 " + kFixedChannel + "\nZL 2 = extern q.txt 1 5 " + kFixedChannel +
                     "\n";
    std::string table = "YY MM DD HH Q\n";
    for (int h = 1; h <= 60; ++h)
      table += "2000 1 " + std::to_string(1 + h / 24) + " " + std::to_string(h % 24) + " " +
               std::to_string(0.5 + (h % 7) * 0.3) + "\n";
    WriteFile(dir_ / "q.txt", table);
  }
  void ChainRunoff(int step) {
    for (int z = 1; z <= 6; ++z) Runoff(z) = 0.2 * z + (step % 5) * 0.37 + (step == 9 ? 4.0 : 0.0);
  }
};

TEST_F(RoutingState, LayoutWithoutAName) {
  Runoff(1) = Runoff(2) = 0.1;
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  auto model = Start(RoutingSection(o), "", 0);
  const channel_row& row = model->Element(1).Row(1);
  ASSERT_EQ(row.SegmentLength(), 9);  // S = 2 and a delay of 7
  const std::string v = "0.10000000000000001";
  std::string expected =
      "[routing_model_v2]\n60.000 (timestep in minutes)\n2 (routing subbasin with tributaries 1)\n"
      "\n0 1 2 7 1 (tracer/flow index and tributary subbasin, subint, maxdelta, num-subchannels)\n" +
      v + "\t" + v + "\t\n";
  for (int e = 0; e < 9; ++e) expected += v + "\t";
  expected += "\n\n" + Text(row.Outflow(1, 1)) + " " + Text(row.Outflow(1, 2)) +
              "  (wqtab[local tributary 1].Qaus[subchannel 1][1..2])\n" + Text(row.outflow_share[1]) +
              " (wqtab[local tributary 1].qvzuq[subchannel 1])\n0 (number of reservoirs)\n\n\n\n";
  model->CleanUp();
  EXPECT_EQ(State("storage.ftz"), expected);
}

TEST_F(RoutingState, WarmStartGoesOnAsTheContinuousRun) {
  section_options o;
  Chain(o);
  const std::string section = RoutingSection(o);
  constexpr int kSteps = 40, kFirstPart = 15;

  ChainRunoff(0);
  auto continuous = Start(section, "", 0);
  std::vector<double> expected;
  for (int step = 1; step <= kSteps; ++step) {
    ChainRunoff(step);
    Step(*continuous, step);
    expected.push_back(continuous->Flows().step[6]);
  }
  continuous->CleanUp();

  ChainRunoff(0);
  auto first = Start(section, "state.ftz", 0);
  for (int step = 1; step <= kFirstPart; ++step) {
    ChainRunoff(step);
    Step(*first, step);
  }
  first->CleanUp();
  const std::string written = State();
  EXPECT_THAT(written, HasSubstr("6 (routing subbasin with tributaries 3)\n"));
  // Positions in block order: the joined code, the summed row's own code, the inflows.
  EXPECT_TRUE(written.find("\n0 5 2 ") < written.find("\n0 4 2 ") &&
              written.find("\n0 4 2 ") < written.find("\n0 7 2 ") &&
              written.find("\n0 7 2 ") < written.find("\n0 8 2 "));
  EXPECT_THAT(written, HasSubstr("(wqtab[inflow 2].qvzuq[subchannel 1])\n0 (number of reservoirs)\n\n\n"));

  // The second part starts at the step after the first; its initial runoff
  // differs, but the state replaces what it would start from.
  settings_.starthour += kFirstPart;
  ChainRunoff(99);
  console_.str("");
  auto second = Start(section, "state.ftz", 1);
  EXPECT_THAT(console_.str(), Not(HasSubstr("routing the initialization discharges")));
  for (int step = kFirstPart + 1; step <= kSteps; ++step) {
    ChainRunoff(step);
    Step(*second, step - kFirstPart);
    ASSERT_EQ(second->Flows().step[6], expected[static_cast<size_t>(step) - 1]) << step;
  }
}

TEST_F(RoutingState, ReservoirsGoOnAsInTheContinuousRun) {
  // 3 gathers 1 and 2 into a reservoir with a running average of 4 hours,
  // from which an abstraction takes water out of the valley and another
  // feeds the inflow of 6; 6 takes 3 and the inflow into a second reservoir.
  Zones({1, 2, 3, 6}, {0.2, 0.3, 0.25, 0.25}, 40.0);
  section_options o;
  o.descriptions =
      "TG 3 (AE = 30, AV = 1) OL 1 " + kFixedChannel + " OL 2 " + kFixedChannel +
      " AL 1 = intern (Qmin = 0.1, f = 0.3, Qmax = 0.4)"
      " AL 2 = extern ex.txt (Qmin = 0, f = 0.2, Qmax = 0.5)"
      " SP 1 (file = upper.txt, V0 = 2e5, A0 = 1e5, W0 = 400, C0 = 0, dTmin = 300, UseRunningAvg = 4)\n"
      "TG 6 (AE = 40, AV = 1) OL 3 " +
      kFixedChannel + " ZL 1 = intern " + test::Channel("3 3 10 50 5 30 20 0.001 10000 5") +
      " SP 2 (file = lower.txt, V0 = 5e4, A0 = 2e4, W0 = 300, C0 = 0)\n";
  o.after =
      "\n[abstraction_rule_reservoir_1]\n3\n0 0\n1e5 2\n1e6 30\n"
      "[abstraction_rule_reservoir_2]\n2\n0 0\n1e5 5\n";
  const std::string section = RoutingSection(o);
  constexpr int kSteps = 30, kFirstPart = 12;
  auto runoff = [&](int step) {
    for (int z = 1; z <= 4; ++z) Runoff(z) = 0.5 * z + (step % 4) * 0.7 + (step == 5 ? 6.0 : 0.0);
  };
  // Every reservoir's volume, level and outflow after each step.
  auto state = [](const abflussmodellklasse& m) {
    std::vector<double> values;
    for (int e = 1; e <= 2; ++e) {
      const SP_class& r = m.Element(e).Reservoir(1);
      values.insert(values.end(), {r.volume, r.level, r.outflow});
    }
    values.push_back(m.Flows().step[4]);
    return values;
  };

  runoff(0);
  auto continuous = Start(section, "", 0);
  std::vector<std::vector<double>> expected;
  for (int step = 1; step <= kSteps; ++step) {
    runoff(step);
    Step(*continuous, step);
    expected.push_back(state(*continuous));
  }
  continuous->CleanUp();
  const std::string whole_table = ReadFile(dir_ / "upper.txt");

  runoff(0);
  auto first = Start(section, "state.ftz", 0);
  for (int step = 1; step <= kFirstPart; ++step) {
    runoff(step);
    Step(*first, step);
  }
  const SP_class& stored = first->Element(1).Reservoir(1);
  ASSERT_EQ(stored.running_average.size(), 4u);
  // Each element's block ends with its reservoirs.
  std::string upper =
      "1 (number of reservoirs)\n" + Text(stored.volume) + "  (reservoir 1)\n4 (useRunningAvg reservoir 1)\n";
  for (double v : stored.running_average) upper += Text(v) + " ";
  const std::string lower = "1 (number of reservoirs)\n" + Text(first->Element(2).Reservoir(1).volume) +
                            "  (reservoir 1)\n0 (useRunningAvg reservoir 1)\n\n\n";
  first->CleanUp();
  EXPECT_THAT(State(), HasSubstr(upper + "\n\n\n6 (routing subbasin"));
  EXPECT_TRUE(State().ends_with(lower + "\n")) << State();

  settings_.starthour += kFirstPart;
  runoff(99);
  auto second = Start(section, "state.ftz", 1);
  for (int step = kFirstPart + 1; step <= kSteps; ++step) {
    runoff(step);
    Step(*second, step - kFirstPart);
    const std::vector<double> values = state(*second);
    for (size_t i = 0; i < values.size(); ++i)
      ASSERT_NEAR(values[i], expected[static_cast<size_t>(step) - 1][i], 1e-12 * std::fabs(values[i]))
          << step << " " << i;
  }
  const double lower_volume = second->Element(2).Reservoir(1).volume;
  second->CleanUp();
  // The second part's rows are the continuous run's last rows.
  const std::string part = ReadFile(dir_ / "upper.txt");
  const std::string rows = part.substr(part.find("\n2000\t"));
  EXPECT_TRUE(whole_table.ends_with(rows)) << rows;

  // An older block without the running-average lines leaves the line after
  // each volume to what follows.
  std::string older =
      std::regex_replace(State(), std::regex("4 \\(useRunningAvg reservoir 1\\)\n[^\n]*\n"), "");
  older = std::regex_replace(older, std::regex("0 \\(useRunningAvg reservoir 1\\)\n"), "");
  ASSERT_EQ(older.find("useRunningAvg"), std::string::npos);
  WriteFile(dir_ / "older.ftz", older);
  console_.str("");
  auto from_older = Start(section, "older.ftz", 1);
  EXPECT_THAT(console_.str(), Not(HasSubstr("FATAL")));
  EXPECT_EQ(from_older->Element(2).Reservoir(1).volume, lower_volume);
  EXPECT_TRUE(from_older->Element(1).Reservoir(1).running_average.empty());
}

TEST_F(RoutingState, ReadingAndWritingAgainGivesTheSameBytes) {
  section_options o;
  Chain(o);
  const std::string section = RoutingSection(o);
  ChainRunoff(0);
  auto first = Start(section, "state.ftz", 0);
  for (int step = 1; step <= 12; ++step) {
    ChainRunoff(step);
    Step(*first, step);
  }
  first->CleanUp();
  const std::string written = State();

  auto again = Start(section, "state.ftz", 1);
  again->CleanUp();
  EXPECT_EQ(State(), written);

  // The older block, without time step and channel sizes, is read as if the
  // sizes were those of the channels.
  std::string older = "[routing_model]\n" + written.substr(written.find("3 (routing subbasin"));
  older =
      std::regex_replace(older, std::regex("\n0 ([0-9]+) [0-9]+ [0-9]+ [0-9]+ \\(tracer"), "\n0 $1 (tracer");
  ASSERT_TRUE(older.starts_with("[routing_model]\n3 (routing subbasin with tributaries 1 2)\n\n0 1 (tracer"))
      << older.substr(0, 120);
  WriteFile(dir_ / "older.ftz", older);
  auto from_older = Start(section, "older.ftz", 1);
  EXPECT_THAT(console_.str(),
              HasSubstr("INFORMATION: couldn't find section [routing_model_v2], looking now for "
                        "[routing_model] in " +
                        (dir_ / "older.ftz")));
  from_older->CleanUp();
  EXPECT_EQ(State("older.ftz"), written);
}

TEST_F(RoutingState, ChannelsOfOtherSizesAreResampled) {
  // A channel in equilibrium at 0.8 mm per hour on both subbasins, stored
  // with two sub-intervals per hour; read with one sub-interval, and with
  // half-hour steps (other delays and sub-channels, half the depth per step).
  struct Case {
    std::string what;
    std::string wq;
    int interval;
    double depth;  // equilibrium depth per step
  };
  const Case cases[] = {{"one sub-interval", "100 100 30 1", 60, 0.8},
                        {"half-hour steps", "100 100 30 2", 30, 0.4}};
  for (const Case& c : cases) {
    section_options o;
    o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
    Runoff(1) = Runoff(2) = 0.8;
    auto stored = Start(RoutingSection(o), "state.ftz", 0);
    stored->CleanUp();

    o.wq = c.wq;
    o.time_interval = c.interval;
    Runoff(1) = Runoff(2) = 0.0;  // the state alone brings the water
    auto resampled = Start(RoutingSection(o), "state.ftz", 1);
    const channel_row& row = resampled->Element(1).Row(1);
    EXPECT_TRUE(row.SegmentLength() != 9 || row.table.sub_channels != 1) << c.what;
    EXPECT_THAT(console_.str(), Not(HasSubstr("FATAL"))) << c.what;
    EXPECT_THAT(console_.str(), Not(HasSubstr("INFORMATION"))) << c.what;
    Runoff(1) = Runoff(2) = c.depth;
    Step(*resampled, 1);
    EXPECT_NEAR(resampled->Flows().step[2], c.depth, 1e-12) << c.what;
    resampled->CleanUp();
  }
}

TEST_F(RoutingState, ReadModes) {
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  // Modes 0, 2 and 4 read nothing, not even a missing file, and still write.
  for (int mode : {0, 2, 4}) {
    std::filesystem::remove(dir_ / "state.ftz");
    auto model = Start(RoutingSection(o), "state.ftz", mode);
    EXPECT_EQ(model->StateFileName(), "state.ftz");
    model->CleanUp();
    EXPECT_TRUE(State().starts_with("[routing_model_v2]\n")) << mode;
  }
  // Mode 1 without the file.
  std::filesystem::remove(dir_ / "state.ftz");
  session_ = state_file_session{};
  auto model = Make(RoutingSection(o), 0, 1);
  model->SetSubbasinRunoff(runoff_rows_);
  model->InitializeRouting();
  EXPECT_THAT(ExpectCode(64, [&] { model->ReadStorageFile("state.ftz", 1); }),
              HasSubstr("error opening storage content file " + (dir_ / "state.ftz")));

  // "storage.ftz" of a run without a name, named in the next run.
  Start(RoutingSection(o), "", 0)->CleanUp();
  console_.str("");
  Start(RoutingSection(o), "storage.ftz", 1)->CleanUp();
  EXPECT_THAT(console_.str(), Not(HasSubstr("INFORMATION")));
  EXPECT_THAT(console_.str(), Not(HasSubstr("FATAL")));
}

TEST_F(RoutingState, BlocksThatDoNotFit) {
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  const std::string section = RoutingSection(o);
  Runoff(1) = Runoff(2) = 0.1;
  Start(section, "good.ftz", 0)->CleanUp();
  const std::string good = State("good.ftz");
  const std::string path = dir_ / "state.ftz";
  const std::string v = "0.10000000000000001";
  struct Case {
    std::string from, to;  // "" to "": a file without any routing section
    std::string message;
  };
  const Case cases[] = {
      {"", "",
       "INFORMATION: couldn't find section [routing_model_v2], looking now for [routing_model] in " + path +
           "\nerror locking for the section [routing_model_v2] or [routing_model] in " + path},
      {"60.000 (timestep", "x (timestep", "error reading the time step of [routing_model_v2] in " + path},
      {"2 (routing subbasin", "3 (routing subbasin",
       "error reading subbasin code in file " + path + " (position 3)"},
      {"\n0 1 2 7 1 (", "\n1 1 2 7 1 (", "error reading tracer code (expected 0, read 1) in file " + path},
      {"\n0 1 2 7 1 (", "\n0 5 2 7 1 (",
       "error reading tributary index (expected 1, read 5) in file " + path},
      {"\n0 1 2 7 1 (", "\n0 1 2 7 (",
       "error reading routing_model_v2 extensions src_subint, src_maxdelta and src_numchannels for routing "
       "channel 1 in file " +
           path},
      {v + "\t" + v + "\t" + v + "\t\n\n", "",
       "error reading the state of routing channel 1 in file " + path + " (position 7)"},
      {"0 (number of reservoirs)", "1 (number of reservoirs)",
       "error reading reservoir code in file " + path},
      // Each line ends in its label: a line left out, or one of another
      // sub-channel, is not read as the line that should stand there.
      {"[subchannel 1][1..2])", "[subchannel 2][1..2])",
       "error reading the state of routing channel 1: the line ends in \"  "
       "(wqtab[local tributary 1].Qaus[subchannel 2][1..2])\", not in "
       "\"(wqtab[local tributary 1].Qaus[subchannel 1][1..2])\" in file " +
           path + " (position 9)"},
      {" (wqtab[local tributary 1].qvzuq[subchannel 1])\n0 (number", " (number",
       "error reading the state of routing channel 1: the line ends in \" (number of reservoirs)\", not in "
       "\"(wqtab[local tributary 1].qvzuq[subchannel 1])\""},
      {"0 (number of reservoirs)", "0 (number of lakes)",
       "error reading reservoir code: the line ends in \" (number of lakes)\", not in \"(number of "
       "reservoirs)\""},
      {"(routing subbasin with tributaries 1)", "(routing subbasin with tributaries 3)",
       "error reading subbasin code: the line ends in \" (routing subbasin with tributaries 3)\""},
  };
  for (const Case& c : cases) {
    std::string text = good;
    if (c.from.empty()) {
      text = "[soil_model]\n2 (number of subasins)\n";
    } else {
      const size_t at = text.find(c.from);
      ASSERT_NE(at, std::string::npos) << c.from;
      text.replace(at, c.from.size(), c.to);
      if (c.to.empty()) text.erase(at);  // the file ends there
    }
    WriteFile(path, text);
    session_ = state_file_session{};
    auto model = Make(section, 0, 1);
    model->SetSubbasinRunoff(runoff_rows_);
    model->InitializeRouting();
    EXPECT_THAT(ExpectCode(71, [&] { model->ReadStorageFile("state.ftz", 1); }), HasSubstr(c.message))
        << c.message;
  }
  EXPECT_THAT(console_.str(), Not(HasSubstr("INFORMATION")));
}

TEST_F(RoutingState, UnwritableStateFile) {
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  auto model = Start(RoutingSection(o), "missing/state.ftz", 0);
  model->CleanUp();
  const std::string path = dir_ / "missing/state.ftz";
  EXPECT_THAT(console_.str(),
              HasSubstr("couldn't open file \"" + path +
                        "\" \n(model version doesn't support this feature or write access error)\n"));
  EXPECT_TRUE(session_.Failed());
  // The rest of the clean-up went on.
  EXPECT_THAT(console_.str(), HasSubstr("deleting module routing_model"));

  // A directory where "storage.ftz" should be.
  std::filesystem::create_directory(dir_ / "storage.ftz");
  auto unnamed = Start(RoutingSection(o), "", 0);
  console_.str("");
  unnamed->CleanUp();
  EXPECT_THAT(console_.str(),
              HasSubstr("couldn't open file " + output_directory_ +
                        "storage.ftz \n(no filename was given or model version \ndoesn't support "
                        "this feature or the current user has no write access)\n"));
}

}  // namespace
}  // namespace velmo
