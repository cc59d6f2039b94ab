// Reservoirs and lakes: outflow by rule and by connection, the balance of a step, draws, result table, lakes.
#include "routing/reservoir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>

#include "framework/diagnostics.h"
#include "routing/abstraction.h"
#include "routing/flow_arrays.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ThrownCode;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Reservoir : public test::MessagesTest {
 protected:
  Reservoir() {
    context_.messages = &ms;
    context_.outlet_code = 1;
    context_.dt = 60.0;
    context_.output_directory = dir.path().string() + "/";
    flows_.Allocate(2, 0, 1);
  }

  static control_lines Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return control_lines(lines);
  }
  // Reservoir `code` with its part and its rule section.
  std::unique_ptr<SP_class> Make(const std::string& part, const std::string& rule, int code = 1) {
    reservoir_part p =
        ParseRoutingDescription("TG 1 (AE = 1, AV = 1) SP " + std::to_string(code) + " " + part)
            .reservoirs.at(0);
    auto reservoir = std::make_unique<SP_class>(context_, p);
    reservoir->SetUp();
    reservoir->ReadRules(Lines("[abstraction_rule_reservoir_" + std::to_string(code) + "]\n" + rule));
    reservoir->RegisterReservoir(map_);
    return reservoir;
  }
  static model_date Hour(int step) { return model_date{0, step % 24, 3 + step / 24, 1, 2000}; }

  reservoir_context context_;
  flow_arrays flows_;
  reservoir_map map_;
};

const std::string kPart = "(file = reservoir_1.txt, V0 = 1.5e6, A0 = 1e5, W0 = 400, C0 = 0, dTmin = 60)";
const std::string kRule = "3\n0 0\n1e6 5\n2e6 20\n";

TEST_F(Reservoir, RuleOutflowAndBalanceOfThreeSteps) {
  auto r = Make(kPart, kRule);
  r->InitOutflow(flows_, model_date{0, 1, 3, 1, 2000});
  EXPECT_DOUBLE_EQ(r->outflow, 12.5);
  EXPECT_EQ(r->SubSteps(), 60);
  const double q[] = {12.44353, 12.31502, 12.19327};
  const double v[] = {1491203.29, 1482869.21, 1474973.42};
  const double w[] = {399.912033, 399.828692, 399.749734};
  double previous = r->volume;
  for (int step = 1; step <= 3; ++step) {
    r->Balance(0, 0, flows_, 10.0, {}, Hour(step));
    EXPECT_NEAR(r->outflow, q[step - 1], 5e-6) << step;
    EXPECT_NEAR(r->volume, v[step - 1], 5e-3) << step;
    EXPECT_NEAR(r->level, w[step - 1], 5e-7) << step;
    EXPECT_NEAR(r->volume - previous, r->Term(kVolumeChangeTerm).volume, 1e-9 * r->volume) << step;
    EXPECT_DOUBLE_EQ(r->Term(kInflowTerm).volume, 36000.0);
    EXPECT_DOUBLE_EQ(r->Term(kOutflowTerm).rate, r->outflow);
    EXPECT_DOUBLE_EQ(r->Term(kOutflowTerm).depth, 1000 * r->Term(kOutflowTerm).volume / 1e5);
    previous = r->volume;
    r->AddResultRow(Hour(step));
  }
  r->FlushResults(1);
  const std::string table = test::ReadFile(dir / "reservoir_1.txt");
  EXPECT_THAT(table, StartsWith("YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]"));
  EXPECT_THAT(table, HasSubstr("\tErr[m3]\tErr[mm]\tErr[m3s]\nreservoir_1\nYY\tMM\tDD\tHH\tW[m]"));
  EXPECT_THAT(table, HasSubstr("\n2000\t 1\t 3\t 1\t399.912\t100000\t1.4912e+06\t36000\t360\t10\t"));
  EXPECT_THAT(console.str(),
              HasSubstr("flushing to disk: " + (dir / "reservoir_1.txt") + " (2097152 buffersize)"));

  // Above the top the inflow passes.
  r->volume = 2.5e6;
  r->Balance(0, 0, flows_, 30.0, {}, Hour(4));
  EXPECT_DOUBLE_EQ(r->outflow, 30.0);
  EXPECT_DOUBLE_EQ(r->volume, 2.5e6);
}

TEST_F(Reservoir, ClosedTablesCapsAndTheRunningAverage) {
  // Open on Tuesdays only (3 January 2000 is a Monday), capped at 8 m3/s.
  auto closed = Make(kPart, kRule + "WeekDays = 2\nTargetCap = 8\n");
  closed->Balance(0, 0, flows_, 10.0, {}, Hour(1));
  EXPECT_EQ(closed->outflow, 0.0);
  EXPECT_DOUBLE_EQ(closed->volume, 1.5e6 + 36000);
  closed->volume = 2.5e6;  // above the top the inflow passes, but no more than the cap
  closed->Balance(0, 0, flows_, 10.0, {}, Hour(2));
  EXPECT_DOUBLE_EQ(closed->outflow, 8.0);
  closed->volume = 1.5e6;
  closed->Balance(0, 0, flows_, 0.0, {}, Hour(24));  // Tuesday
  EXPECT_DOUBLE_EQ(closed->outflow, 8.0);

  // Over 3 hours the rule sees the mean of the last three volumes.
  auto averaged = Make("(file = avg.txt, V0 = 1.5e6, C0 = 0, UseRunningAvg = 3)", kRule, 2);
  EXPECT_EQ(averaged->RunningAverageLength(), 3);
  const double volumes[] = {1.2e6, 1.4e6, 1.5e6, 1.7e6};
  for (int step = 0; step < 4; ++step) {
    averaged->volume = volumes[step];
    averaged->Balance(0, 0, flows_, 0.0, {}, Hour(step + 1));
  }
  // Mean of 1.4e6, 1.5e6 and 1.7e6: 1.5333e6, and 5 + 15e-6 (V - 1e6).
  EXPECT_NEAR(averaged->outflow, 5 + 15e-6 * (4.6e6 / 3 - 1e6), 1e-9);
  EXPECT_EQ(averaged->running_average.size(), 3u);
}

TEST_F(Reservoir, SubStepLongerThanTheStep) {
  auto r = Make("(file = r.txt, V0 = 1.5e6, C0 = 0, dTmin = 7200)", kRule);
  EXPECT_THAT(console.str(),
              HasSubstr("dTmin of reservoir 1 (7200 s) is longer than the time step (3600 s)"));
  EXPECT_EQ(r->SubSteps(), 1);
  r->Balance(0, 0, flows_, 0.0, {}, Hour(1));
  EXPECT_DOUBLE_EQ(r->outflow, 12.5);
}

TEST_F(Reservoir, HydraulicConnection) {
  const std::string connection =
      "1\n0 0\nHydraulicConnection {\nTargetReservoir = 2\nChannelWidth = 10\nChannelBottom = 100\n"
      "ChannelLength = 1000\nRoughnessCoeff = 30\n}\n";
  auto upper = Make("(file = a.txt, V0 = 1e6, A0 = 1e5, W0 = 101, C0 = 0)", connection);
  auto lower = Make("(file = b.txt, V0 = 5e5, A0 = 1e5, W0 = 100.5, C0 = 0)", kRule, 2);
  ASSERT_TRUE(upper->Connected());
  upper->CheckConnection(map_);
  EXPECT_NEAR(upper->ComputeOutflow(flows_, {}, 0.0, Hour(1)), 4.66962, 5e-6);
  upper->level = 100.2;
  EXPECT_NEAR(upper->ComputeOutflow(flows_, {}, 0.0, Hour(1)), -1.46628, 5e-6);
  // Water flowing back is no more than the other reservoir holds.
  lower->volume = 1000.0;
  EXPECT_DOUBLE_EQ(upper->ComputeOutflow(flows_, {}, 0.0, Hour(1)), -1000.0 / 3600);
  const double before = upper->volume;
  upper->Balance(0, 0, flows_, 0.0, {}, Hour(1));
  EXPECT_DOUBLE_EQ(upper->volume, before + 1000.0);
  EXPECT_NEAR(upper->level, 100.2 + 1000.0 / 1e5, 1e-12);

  // A connection must lead to another reservoir.
  auto self = Make("(file = c.txt, V0 = 1, C0 = 0)",
                   "1\n0 0\nHydraulicConnection {\nTargetReservoir = 3\n"
                   "ChannelWidth = 1\nChannelBottom = 0\nChannelLength = 1\nRoughnessCoeff = 1\n}\n",
                   3);
  EXPECT_THAT(
      ExpectCode(29, [&] { self->CheckConnection(map_); }),
      HasSubstr("the HydraulicConnection of SP 3 leads to reservoir 3, which is the reservoir itself"));
  map_.erase(2);
  EXPECT_THAT(ExpectCode(29, [&] { upper->CheckConnection(map_); }),
              HasSubstr("leads to reservoir 2, which is no reservoir of the routing"));
}

TEST_F(Reservoir, DrawsOfMode8KeepTheirShareAndTheBalance) {
  abstraction_context ac;
  ac.messages = &ms;
  ac.area = 1.0;
  ac.dt = 60.0;
  ac.output_directory = context_.output_directory;
  auto draw_of = [&](double rate) {
    auto draw = std::make_unique<AL_class>(
        ac, ParseRoutingDescription("TG 1 (AE = 1, AV = 1) AL 1 = intern_with_rule_from_reservoir")
                .abstractions.at(0));
    draw->ReadRules(Lines("[abstraction_rule_abstraction_1]\n2\n0 " + std::to_string(rate) + "\n1e9 " +
                          std::to_string(rate) + "\n"));
    return draw;
  };
  // 30 m3/s from a reservoir of 1e5 m3 that receives 10 m3/s and releases
  // nothing: all of it.
  auto draw = draw_of(30);
  auto r = Make("(file = r.txt, V0 = 1e5, C0 = 0)", "2\n0 0\n1e9 0\n");
  r->Balance(0, 0, flows_, 10.0, {draw.get()}, Hour(1));
  EXPECT_DOUBLE_EQ(draw->discharge, 30.0);
  EXPECT_NEAR(r->volume, 1e5 + 36000 - 108000, 1e-6);
  EXPECT_DOUBLE_EQ(r->Term(kAbstractionTerm).volume, 108000);
  EXPECT_NEAR(r->Term(kVolumeChangeTerm).volume, 36000 - 108000, 1e-6);
  // 1000 m3/s: each minute's draw leaves 90 % of the volume.
  auto greedy = draw_of(1000);
  r->volume = 1e5;
  r->Balance(0, 0, flows_, 0.0, {greedy.get()}, Hour(2));
  EXPECT_NEAR(r->volume, 1e5 * std::pow(0.9, 60), 1e-6);
  EXPECT_NEAR(greedy->discharge * 3600, 1e5 - r->volume, 1e-6);

  // What the element's abstractions took comes off the volume and counts.
  r->volume = 1e5;
  r->Balance(0, 2e4, flows_, 0.0, {}, Hour(3));
  EXPECT_DOUBLE_EQ(r->volume, 8e4);
  EXPECT_DOUBLE_EQ(r->Term(kAbstractionTerm).volume, 2e4);
  EXPECT_DOUBLE_EQ(r->Term(kVolumeChangeTerm).volume, -2e4);
}

TEST_F(Reservoir, MissingSectionAndFilesThatCannotBeWritten) {
  reservoir_part p =
      ParseRoutingDescription("TG 1 (AE = 1, AV = 1) SP 4 (file = r.txt, V0 = 1, C0 = 0)").reservoirs.at(0);
  SP_class r(context_, p);
  EXPECT_THAT(ExpectCode(34, [&] { r.ReadRules(Lines("[other]\n")); }),
              HasSubstr("section [abstraction_rule_reservoir_4] not found in control file"));
  // A result table that cannot be appended to: the rows are not kept for a
  // second attempt.
  r.SetUp();
  r.AddResultRow(Hour(1));
  std::filesystem::remove(dir / "r.txt");
  std::filesystem::create_directory(dir / "r.txt");
  EXPECT_THAT(ExpectCode(65, [&] { r.FlushResults(1); }),
              HasSubstr("error opening reservoir file " + (dir / "r.txt")));
  EXPECT_EQ(ThrownCode([&] { r.FlushResults(1); }), 0);

  context_.output_directory = (dir / "missing") + "/";
  SP_class unwritable(context_, p);
  EXPECT_THAT(ExpectCode(37, [&] { unwritable.SetUp(); }), HasSubstr(" for reservoir 4"));
}

// A lake of three 100 m cells in a row of four, at 500.0, 500.5 and 501.2 m,
// full at 503 m; the fourth cell is no lake.
class Lake : public Reservoir {
 protected:
  Lake() {
    lake_.codes = codes_.get();
    lake_.ponding = ponding_.get();
    lake_.max_ponding = max_ponding_.get();
    lake_.zones = zones_.get();
    lake_.elevation = elevation_.get();
    lake_.transpiration = transpiration_.get();
    lake_.precipitation = rain_.get();
    lake_.nrows = 1;
    lake_.ncols = 4;
    lake_.cellsize = 100.0;
    context_.lake = &lake_;
  }

  test::WorkingDirectory here_{dir.path()};  // the level-volume table goes there
  owned_matrix codes_ = test::MatrixOf({{1, 1, 1, -9999}});
  owned_matrix ponding_ = test::MatrixOf(test::Filled(1, 4, 0.0));
  owned_matrix max_ponding_ = test::MatrixOf({{3000, 2500, 1800, 0}});
  owned_matrix zones_ = test::MatrixOf(test::Filled(1, 4, 1.0));
  owned_matrix elevation_ = test::MatrixOf({{500.0, 500.5, 501.2, 510}});
  owned_matrix transpiration_ = test::MatrixOf(test::Filled(1, 4, 0.0));
  owned_matrix rain_ = test::MatrixOf(test::Filled(1, 4, 0.0));
  lake_grids lake_;
};

TEST_F(Lake, LevelVolumeTableAndPonding) {
  auto lake = Make("(file = lake.txt, V0 = 43000, C0 = 0)", "2\n0 0\n73000 10\n");
  const std::string table = test::ReadFile(dir / "W_V_Table_01.dat");
  EXPECT_THAT(
      table,
      StartsWith(
          "waterlevel-volume-table lake 1\nLevel[m a.s.l.]\tVolume[m^3]\n503\t73000\n502.99\t72700\n"));
  EXPECT_THAT(table, testing::EndsWith("\n500\t0\n"));
  EXPECT_EQ(lake->LevelVolume().Entries(), 301);
  EXPECT_NEAR(lake->LevelToVolume(501.555), 29650, 1e-6);
  // V0 sets the level and the ponding below it.
  EXPECT_NEAR(lake->level, 502.0, 1e-9);
  EXPECT_NEAR(ponding_[1][1], 2000, 1e-6);
  EXPECT_NEAR(ponding_[1][3], 800, 1e-6);
  EXPECT_EQ(ponding_[1][4], 0.0);
  EXPECT_DOUBLE_EQ(lake->area, 3e4);

  // The ponding changed by the other modules is the lake's water: rain on
  // the lake and evaporation from it are its fluxes, and the error shows
  // what they do not explain. The canopy's evaporation over the lake is not
  // the lake's.
  const owned_matrix interception = test::MatrixOf(test::Filled(1, 4, 0.5));
  lake_.interception = interception.get();
  for (int c = 1; c <= 3; ++c) {
    ponding_[1][c] += 10.0;
    rain_[1][c] = 12.0;
    transpiration_[1][c] = 2.5;
  }
  lake->Balance(0, 0, flows_, 0.0, {}, Hour(1));
  EXPECT_NEAR(lake->Term(kPrecipitationTerm).volume, 360.0, 1e-9);
  EXPECT_NEAR(lake->Term(kEvaporationTerm).volume, 60.0, 1e-9);
  EXPECT_NEAR(lake->Term(kBalanceErrorTerm).volume, 0.0, 1e-6);
  EXPECT_NEAR(lake->volume + 3600 * lake->outflow, 43300, 1e-6);
  EXPECT_NEAR(lake->level, VolumeToLevel(lake->LevelVolume(), lake->volume), 1e-12);
}

TEST_F(Lake, CellsThatDoNotFit) {
  struct Case {
    std::function<void()> change;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {[this] { max_ponding_[1][2] = 2520; }, 213,
       "Error in initialization for lake 1.All Cells for a lake must have the same Altitude value for DEM + "
       "MAXPOND\nValue at row 1, col 2 is 503.02\nbut first value of dhm for this lake was 503\n"},
      {[this] { zones_[1][3] = 2; }, 224,
       "error in routing description or LAKE grid:\n Lake 1 must be located completely within subbasin 1."},
      {[this] { std::fill(codes_[1] + 1, codes_[1] + 5, 2.0); }, 224, "lake 1 of subbasin 1 has no cell"},
  };
  const reservoir_part p =
      ParseRoutingDescription("TG 1 (AE = 1, AV = 1) SP 1 (file = l.txt, V0 = 1, C0 = 0)").reservoirs.at(0);
  for (const Case& c : cases) {
    // Each case changes the lake above once.
    max_ponding_[1][2] = 2500;
    zones_[1][3] = 1;
    for (int col = 1; col <= 4; ++col) codes_[1][col] = col < 4 ? 1 : -9999;
    c.change();
    SP_class lake(context_, p);
    EXPECT_THAT(ExpectCode(c.code, [&] { lake.SetUp(); }), HasSubstr(c.message));
  }
}

}  // namespace
}  // namespace velmo
