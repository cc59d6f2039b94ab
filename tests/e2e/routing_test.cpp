// Runs the real program with a routing section (tests/data/routing): the
// routing model is built, writes its w-q table and the head of its discharge
// table and opens the observed discharge; without a soil model to hand it the
// runoff, the run then ends with code 43. The example routes the soil model's
// runoff into a reservoir with an abstraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

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

const std::string kData = VELMO_TEST_DATA "/routing/";

class RoutingRun : public test::ControlRunTest {
 protected:
  RoutingRun()
      : ControlRunTest("routing", "routing.ctl", {"routing.ctl", "zones.asc", "dem.asc", "observed.txt"}) {}
};

// Whether `pieces` occur in `text` in this order.
bool InOrder(const std::string& text, const std::vector<std::string>& pieces) {
  size_t at = 0;
  for (const std::string& piece : pieces) {
    at = text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
  }
  return true;
}

TEST_F(RoutingRun, BuiltThenEndedWithoutRunoff) {
  EXPECT_EQ(Velmo(), 43);
  EXPECT_TRUE(
      InOrder(Transcript(),
              {"number inbetween areas (routings)    : 1\n", "so the total of routingchannels is   : 1\n",
               "reading routing description 1\n", "looking for starting date in observed.txt\n",
               "No valid discharges for discharge routing!",
               "exceptions in ModellApplication::init() caught!", "Program aborted with exit code 43"}))
      << Transcript();
  EXPECT_TRUE(
      ReadFile(dir / "wq_table.001")
          .starts_with(
              "waterlevel-discharge-table for the channel of subbasin 1 to the outlet of subbasin 2\n"));
  // Subbasin 2 is the outlet of the whole catchment.
  EXPECT_EQ(ReadFile(dir / "qstat.txt"),
            "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\nrouted discharge [ m3 per sec ] _submodel:routing_model\n"
            "--\t--\t--\t--\t0.4000000\t1.0000000\n");
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_NE(ReadFile(dir / "Velmo_Diag.xml").find("<line level=\"0\" description= \"No valid discharges"),
            std::string::npos);
}

TEST_F(RoutingRun, SwitchedOff) {
  Edit("1       flow control parameter", "0       flow control parameter");
  EXPECT_EQ(Velmo(), 0) << Transcript();
  EXPECT_FALSE(std::filesystem::exists(dir / "wq_table.001"));
  EXPECT_TRUE(
      InOrder(Transcript(), {"end of simulation reached successfully!", "deleting module routing_model"}));
  EXPECT_EQ(ReadFile(dir / "Velmo_Diag.xml").find("level=\"0\""), std::string::npos);
}

// Every value the routing does not list, and every interval but the run's
// step, ends the run before anything is routed.
TEST_F(RoutingRun, HeadValuesOutsideWhatTheRoutingTakes) {
  struct Case {
    std::string flow_control, interval;
    int code;
    std::string message;
  };
  const std::string values = "must be 0 (off), 1 or 2 (on), not ";
  const std::string minutes =
      "must be a positive number of minutes, a whole one equal to the time step of the run (timestep = 60), "
      "not ";
  const Case cases[] = {
      {"-1", "60", 17, values + "-1"},     {"-5", "60", 17, values + "-5"},
      {"3", "60", 17, values + "3"},       {"1", "6e7", 63, minutes + "6e+07"},
      {"1", "60.5", 63, minutes + "60.5"}, {"1", "1440", 63, minutes + "1440"},
  };
  const std::string original = ReadFile(kData + "routing.ctl");
  for (const Case& c : cases) {
    WriteFile(dir / "routing.ctl", original);
    Edit("[routing_model]\n1       flow control parameter\n60 ",
         "[routing_model]\n" + c.flow_control + "       flow control parameter\n" + c.interval + " ");
    EXPECT_EQ(Velmo(), c.code) << c.flow_control << " " << c.interval;
    EXPECT_TRUE(InOrder(Transcript(),
                        {"the " + std::string(c.code == 17 ? "flow control parameter" : "time interval") +
                             " for [routing_model] " + c.message,
                         "Program aborted with exit code " + std::to_string(c.code)}))
        << Transcript();
    EXPECT_FALSE(std::filesystem::exists(dir / "wq_table.001"));
  }
}

// A qmin so small that qmax / qmin overflows gives a w-q table of no finite
// values: refused as a channel too long for its delay line, naming the line.
TEST_F(RoutingRun, WqTableOfNoFiniteValues) {
  const std::pair<std::string, std::string> cases[] = {{"1e-310", "1e-310"}, {"1e-320", "9.99989e-321"}};
  for (const auto& [qmin, shown] : cases) {
    WriteFile(dir / "routing.ctl", ReadFile(kData + "routing.ctl"));
    Edit("1 1000 30 4     qmin", qmin + " 1000 30 4     qmin");
    EXPECT_EQ(Velmo(), 1) << qmin;
    EXPECT_TRUE(InOrder(
        Transcript(), {"the channel of subbasin 1 to the outlet of subbasin 2 would need more than 100000000 "
                       "storage elements",
                       "the w-q line of [routing_model]: qmin " + shown +
                           ", qmax 1000, 30 intervals, 4 "
                           "sub-intervals",
                       "Program aborted with exit code 1"}))
        << Transcript();
    EXPECT_FALSE(std::filesystem::exists(dir / "wq_table.001"));
  }
}

TEST_F(RoutingRun, DescriptionThatNamesNoSubbasin) {
  Edit("TG 2", "TG 7");
  EXPECT_EQ(Velmo(), 41);
  EXPECT_TRUE(
      InOrder(Transcript(), {"there is no subbasin with code 7", "Program aborted with exit code 41"}));
  EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
}

TEST_F(RoutingRun, AbstractionAndReservoirFailuresEndTheRun) {
  struct Case {
    std::string what, from, to;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"abstraction mode", "   OL 1", "   AL 1 = bogus OL 1", 44,
       "the modus \"bogus\" is not supported for abstraction 1"},
      {"reservoir without V0", "   OL 1", "   SP 1 (file = r.txt, C0 = 0) OL 1", 35,
       "for reservoir 1: no \"V0 =\" found!"},
      {"reservoir without rule", "   OL 1", "   SP 1 (file = r.txt, V0 = 1, C0 = 0) OL 1", 34,
       "section [abstraction_rule_reservoir_1] not found in control file"},
  };
  const std::string original = ReadFile(kData + "routing.ctl");
  for (const Case& c : cases) {
    WriteFile(dir / "routing.ctl", original);
    Edit(c.from, c.to);
    EXPECT_EQ(Velmo(), c.code) << c.what;
    EXPECT_TRUE(
        InOrder(Transcript(), {c.message, "Program aborted with exit code " + std::to_string(c.code)}))
        << c.what << "\n"
        << Transcript();
    EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml")) << c.what;
  }
}

class RoutingExample : public test::ControlRunTest {
 protected:
  RoutingExample() : ControlRunTest("", "example.ctl") {}
};

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

TEST_F(RoutingExample, ReservoirAndAbstractionTables) {
  ASSERT_EQ(Velmo(), 0) << Transcript();
  const std::string abstraction = ReadFile(dir / "abstraction_1.txt");
  EXPECT_TRUE(abstraction.starts_with("YY\tMM\tDD\tHH\tm^3/s\nabstraction_1\nYY\tMM\tDD\tHH\tm^3/s\n"))
      << abstraction;
  const std::string reservoir = ReadFile(dir / "reservoir_1.txt");
  const std::string head =
      "YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout[m3s]\tIrrig["
      "m3]"
      "\tIrrig[mm]\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR[m3s]\tPREC[m3]\tPREC[mm]"
      "\tPREC[m3s]\tdV[m3]\tdV[mm]\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr[m3s]\tErr[m3]\tErr[mm]\tErr[m3s]\n";
  EXPECT_TRUE(reservoir.starts_with(head + "reservoir_1\n" + head)) << reservoir;

  // The initialisation passes write rows of year 0 that leave the volume as
  // it was; then one row per hour of March, in which the volume changes by dV.
  const auto rows = Rows(reservoir);
  const auto taken = Rows(abstraction);
  constexpr size_t kHours = 744;
  ASSERT_GT(rows.size(), kHours);
  ASSERT_EQ(taken.size(), rows.size());
  const size_t first = rows.size() - kHours;
  double volume = 2e4;
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 4u + 3u + 27u) << i;
    EXPECT_EQ(rows[i][0], i < first ? 0.0 : 2000.0) << i;
    const double v = rows[i][6], dv = rows[i][25];
    EXPECT_NEAR(v - volume, i < first ? 0.0 : dv, 1e-5 * v) << i;
    // What the abstraction wrote is what the reservoir gave up.
    EXPECT_NEAR(taken[i][4], rows[i][30], 1e-5) << i;
    volume = v;
  }
  EXPECT_EQ(rows.back()[3], 24.0);
  EXPECT_TRUE(
      InOrder(Transcript(),
              {"number of abstractions         (AL)  : 1\n", "number reservoirs              (SP)  : 1\n",
               "flushing to disk: ", "abstraction_1.txt (2097152 buffersize)",
               "free memory TG 2, OL 1 (Subb. 1), --> ALs... 1,, --> SPs... 1  Rest... ok"}))
      << Transcript();
}

// A blank line among the descriptions ended them: the abstraction, the
// reservoir and the outlet's element after it were lost without a word.
TEST_F(RoutingExample, BlankLinesAmongTheDescriptionsChangeNothing) {
  ASSERT_EQ(Velmo(), 0) << Transcript();
  const std::string discharge = ReadFile(dir / "qrout.stat");
  const std::string reservoir = ReadFile(dir / "reservoir_1.txt");
  Edit("   AL 1 = extern", "\n \t\n   AL 1 = extern");
  Edit("TG 3 (AE", "\nTG 3 (AE");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  EXPECT_EQ(ReadFile(dir / "qrout.stat"), discharge);
  EXPECT_EQ(ReadFile(dir / "reservoir_1.txt"), reservoir);
}

// A description after the line that ends them would be lost.
TEST_F(RoutingExample, DescriptionAfterTheEndOfTheDescriptions) {
  Edit("TG 3 (AE", "the outlet:\nTG 3 (AE");
  EXPECT_EQ(Velmo(), 38);
  EXPECT_TRUE(
      InOrder(Transcript(), {"the routing descriptions of [routing_model] end at the line\nthe outlet:\n"
                             "but the description line\nTG 3 (AE = 2.08, AV = 1) SUMTRIB 2",
                             "Program aborted with exit code 38"}))
      << Transcript();
}

// A routing section that is missing or misspelt is no routing switched off.
TEST_F(RoutingExample, MissingRoutingSectionEndsTheRun) {
  Edit("[routing_model]", "[routing_modell]");
  EXPECT_EQ(Velmo(), 17);
  EXPECT_TRUE(InOrder(Transcript(), {"error in control file, [routing_model]; (EOF)not found!",
                                     "Program aborted with exit code 17"}))
      << Transcript();
}

// Each row of the observed discharge is the row of its step: a row missing
// or out of order would shift every later observation by a step.
TEST_F(RoutingExample, ObservedRowMissingOrOutOfOrder) {
  struct Case {
    std::string what, from, to, message;
  };
  const Case cases[] = {
      {"missing", "2000 3 5 12 0.03593\n", "",
       "error analysing or reading discharge/observed.txt at row 108 of its data: it is dated 5.3.2000 "
       "13:00, "
       "but the row of the step after the row before it is due (a row missing, doubled or out of order)"},
      {"out of order", "2000 3 5 12 0.03593\n2000 3 5 13 0.03969\n",
       "2000 3 5 13 0.03969\n2000 3 5 12 0.03593\n", "at row 108 of its data: it is dated 5.3.2000 13:00"},
      {"doubled", "2000 3 5 12 0.03593\n", "2000 3 5 12 0.03593\n2000 3 5 12 0.03593\n",
       "at row 109 of its data: it is dated 5.3.2000 12:00"},
  };
  const std::string original = ReadFile(dir / "discharge/observed.txt");
  for (const Case& c : cases) {
    WriteFile(dir / "discharge/observed.txt", original);
    Edit("discharge/observed.txt", c.from, c.to);
    EXPECT_EQ(Velmo(), 203) << c.what;
    EXPECT_TRUE(InOrder(Transcript(), {c.message, "Program aborted with exit code 203"})) << c.what << "\n"
                                                                                          << Transcript();
  }
}

// Rows beyond the count of an operating rule are not passed over: the
// reservoir would release by the first rows alone.
TEST_F(RoutingExample, RuleWithMoreRowsThanItsCount) {
  Edit("[abstraction_rule_reservoir_1]\n3 ", "[abstraction_rule_reservoir_1]\n1 ");
  EXPECT_EQ(Velmo(), 29);
  EXPECT_TRUE(
      InOrder(Transcript(), {"more rows than the count (1): \"2e4     0.1\" follows the last row",
                             "in [abstraction_rule_reservoir_1]", "Program aborted with exit code 29"}))
      << Transcript();
}

TEST_F(RoutingExample, UnconnectedInflowEndsWithAFullCode) {
  std::string control = ReadFile(dir / "example.ctl");
  const std::string abstraction = "   AL 1 = extern";
  control.insert(
      control.find(abstraction),
      "   ZL 1 = intern (kh = 2, kv = 10, Bm = 5, Bv = 20, Tm = 1, Mm = 30, Mv = 20, I = 0.01, L = 2000, "
      "AE = 1)\n");
  WriteFile(dir / "example.ctl", control);
  // Codes above 255 leave the program with 255.
  EXPECT_EQ(Velmo(), 255);
  EXPECT_TRUE(InOrder(Transcript(), {"Internal Inflow ZL 1 has no conenction to an internal abstraction.",
                                     "Program aborted with exit code 302"}))
      << Transcript();
  EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
}

}  // namespace
}  // namespace velmo
