// Abstractions and reservoirs in the routing model: amounts, deliveries to internal inflows, tables,
// connections, water balance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "routing/abfluss.h"
#include "routing/routing_fixture.h"

namespace velmo {
namespace {

using test::Channel;
using test::kFixedChannel;
using test::ReadFile;
using test::RoutingSection;
using test::section_options;
using test::WriteFile;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Storages : public test::RoutingFixture {
 protected:
  // Builds and links the model of `descriptions` with the sections `after`.
  std::unique_ptr<abflussmodellklasse> Run(const std::string& descriptions, const std::string& after = "",
                                           const std::string& wq = "100 100 30 2") {
    section_options o;
    o.wq = wq;
    o.descriptions = descriptions;
    o.after = "\n" + after;
    auto model = Make(RoutingSection(o));
    Link(*model);
    return model;
  }
  // Runoff giving `discharge` m3/s from subbasin `zone` of `area` km2 in an hour.
  void Discharge(int zone, double discharge, double area) { Runoff(zone) = discharge * 3.6 / area; }
};

TEST_F(Storages, ExternalAbstractionFromTheOutlet) {
  // Two subbasins of 12.5 km2; 2 m3/s threshold, half of the rest, at most 3 m3/s.
  Zones({1, 2}, {0.5, 0.5}, 25.0);
  Discharge(1, 12.5, 12.5);
  Discharge(2, 12.5, 12.5);
  auto model = Run("TG 2 (AE = 25, AV = 1) OL 1 " + kFixedChannel +
                   " AL 1 = extern abstraction_1.txt (Qmin = 2, f = 0.5, Qmax = 3 m3/s)\n");
  const AL_class& abstraction = model->Element(1).Abstraction(1);
  EXPECT_NEAR(abstraction.Threshold(), 0.288, 1e-12);
  for (int step = 1; step <= 12; ++step) Step(*model, step);
  EXPECT_NEAR(abstraction.discharge, 3.0, 1e-9);
  EXPECT_NEAR(model->Flows().step[2], 3.6 - 0.432, 1e-9);
  EXPECT_NEAR(model->Element(1).GetAbstractedDepth(), 0.432, 1e-12);
  model->FlushBuffers();
  const std::string table = ReadFile(dir_ / "abstraction_1.txt");
  EXPECT_THAT(table, StartsWith("YY\tMM\tDD\tHH\tm^3/s\nabstraction_1\nYY\tMM\tDD\tHH\tm^3/s\n"));
  // The initialisation passes write rows of year 0.
  EXPECT_THAT(table, HasSubstr("\n 0\t 1\t 1\t 1\t"));
  EXPECT_THAT(table, EndsWith("\n2000\t 1\t 1\t12\t3\n"));
  model->CleanUp();
  EXPECT_THAT(console_.str(), HasSubstr(" free memory TG 2, OL 1 (Subb. 1), --> ALs... 1, Rest... ok"));

  // Thresholds keep their discharge when the outlet area follows the zone grid.
  Zones({1, 2}, {0.5, 0.5}, 20.0);
  model = Run("TG 2 (AE = 25, AV = 1) OL 1 " + kFixedChannel +
              " AL 1 = extern a.txt (Qmin = 1.5, f = 0.5, Qmax = 3, unit = m3/s)\n");
  EXPECT_NEAR(model->Element(1).Abstraction(1).Threshold(), 0.270, 1e-12);
}

TEST_F(Storages, InternalAbstractionsFeedTheirInflowAndRulesAreCapped) {
  // Subbasins of 10 km2: 2 gives 15 m3/s at its outlet, 3 gives 4 m3/s to the
  // first tributary of the receiving element.
  Zones({1, 2, 3, 4}, {0.25, 0.25, 0.25, 0.25}, 40.0);
  const std::string rule = "[abstraction_rule_abstraction_1]\n3\n0 0\n10 2\n20 5\nTargetCap = 6\n";
  struct Case {
    std::string mode;
    double taken;
  };
  for (const Case& c : {Case{"intern_with_rule", 2.0}, Case{"extern_with_rule ex.txt", 3.5}}) {
    const bool internal = c.mode.starts_with("intern");
    Discharge(2, 15, 10);
    Discharge(3, 4, 10);
    auto model =
        Run("TG 2 (AE = 10, AV = 1) AL 1 = " + c.mode + "\nTG 4 (AE = 20, AV = 1) OL 3 " + kFixedChannel +
                (internal ? " ZL 1 = intern " + Channel("3 3 10 50 5 30 20 0.001 10000 5") : "") + "\n",
            rule);
    Step(*model, 1);
    const AL_class& abstraction = model->Element(1).Abstraction(1);
    EXPECT_NEAR(abstraction.discharge, c.taken, 1e-7) << c.mode;
    if (internal) {
      // Delivered as a discharge, routed as a depth over the inflow's 5 km2.
      EXPECT_NEAR(model->Flows().step[4 + 1], c.taken, 1e-7);
      EXPECT_NEAR(model->Flows().Sub(4 + 1)[1], c.taken * 0.06 * 60 / 5, 1e-7);
    }
    EXPECT_NEAR(model->Flows().step[2], (15 - c.taken) * 3.6 / 10, 1e-7) << c.mode;
  }
}

TEST_F(Storages, AbstractionsAndInflowsMustPair) {
  Zones({1, 2, 3}, {0.3, 0.3, 0.4}, 30.0);
  const std::string zl = " ZL 1 = intern " + kFixedChannel;
  const std::string head = "\n ---> Error in connecting internal abstractions with internal inflows:\n";
  struct Case {
    std::string descriptions;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"TG 1 (AE = 9, AV = 1) AL 1 = intern (Qmin = 0, f = 1, Qmax = 1)\nTG 2 (AE = 9, AV = 1) AL 1 = intern "
       "(Qmin = 0, f = 1, Qmax = 1)\nTG 3 (AE = 12, AV = 1)" +
           zl + "\n",
       300,
       head + "in routing description 2 for TG 2:\nInflow 1 is already connected to an internal "
              "abstraction.\nEach "
              "abstaction (AL-element) must be conencted to exactly one internal inflow(ZL-element)\n"},
      {"TG 3 (AE = 12, AV = 1)" + zl + " AL 1 = intern (Qmin = 0, f = 1, Qmax = 1)\n", 301,
       head + "Abstraction AL 1 from routing description 1 and inflow ZL 1 are both defined for the same "
              "routing-subbasin TG 3.\nthis is not allowed\n"},
      {"TG 3 (AE = 12, AV = 1)" + zl + "\n", 302,
       head + "in routing description 1 for TG 3:\nInternal Inflow ZL 1 has no conenction to an internal "
              "abstraction.\nthis is not allowed\n"},
      {"TG 3 (AE = 12, AV = 1) AL 2 = intern_with_rule\n", 303,
       head +
           "in routing description 1 for TG 3:\nInternal abstraction AL 2 is not connected to any internal "
           "inflow.\n"},
  };
  for (const Case& c : cases) {
    section_options o;
    o.descriptions = c.descriptions;
    o.after = "\n[abstraction_rule_abstraction_2]\n1\n0 0\n";
    auto model = Make(RoutingSection(o));
    model->SetSubbasinRunoff(runoff_rows_);
    EXPECT_THAT(ExpectCode(c.code, [&] { model->InitializeRouting(); }), HasSubstr(c.message)) << c.code;
  }
}

// A discharge no table can hold ends the run before it is written.
TEST_F(Storages, ARoutedDischargeThatIsNotFiniteEndsTheRun) {
  Zones({1}, {1.0}, 10.0);
  auto model = Run("TG 1 (AE = 10, AV = 1)\n");
  Runoff(1) = INFINITY;
  EXPECT_THAT(
      ExpectCode(69, [&] { Step(*model, 1); }),
      HasSubstr("the routed discharge of subbasin 1 is inf, which is not a number the water balance"));
}

TEST_F(Storages, AbstractionFromATable) {
  Zones({1}, {1.0}, 10.0);
  Discharge(1, 10, 10);
  auto rows = [](const std::vector<std::string>& values) {
    std::string text = "YY MM DD HH Q1 Q2\n2000 1 1 0 9 9\n";
    for (size_t i = 0; i < values.size(); ++i)
      text += "2000 1 1 " + std::to_string(i + 1) + " 0 " + values[i] + "\n";
    return text;
  };
  const std::string description =
      "TG 1 (AE = 10, AV = 1) AL 1 = from_file (input_file = in.txt, column = 2, file = taken.txt)\n";
  // Values in m3/s; missing and negative values take nothing, no more than
  // the outlet holds is taken.
  WriteFile(dir_ / "in.txt", rows({"2", "-9999", "-1", "25", "4"}));
  auto model = Run(description);
  const double taken[] = {2, 0, 0, 10, 4};
  for (int step = 1; step <= 5; ++step) {
    Step(*model, step);
    EXPECT_NEAR(model->Element(1).Abstraction(1).discharge, taken[step - 1], 1e-9) << step;
  }
  // The table has ended.
  EXPECT_THAT(
      ExpectCode(39, [&] { Step(*model, 6); }),
      HasSubstr("error reading from in.txt (or from its buffer) for abstraction 1\nreached end of file!"));

  // A row of another date than the step.
  WriteFile(dir_ / "in.txt", "YY MM DD HH Q\n2000 1 1 1 1\n2000 1 1 3 1\n");
  model = Run(description.substr(0, description.find("column = 2")) + "column = 1, file = taken.txt)\n");
  Step(*model, 1);
  EXPECT_THAT(
      ExpectCode(36, [&] { Step(*model, 2); }),
      HasSubstr(
          "error comparing dates in in.txt:\n     read: 2000.1.1, 3:0 h,\nshould be: 2000.1.1, 2:0 h.\n"));

  section_options o;
  o.descriptions = description;
  WriteFile(dir_ / "in.txt", "YY MM DD HH Q\n2000 1 1 5 1\n");
  EXPECT_THAT(ExpectCode(38, [&] { Make(RoutingSection(o)); }),
              HasSubstr("starting date 1.1.2000, 1. h in in.txt not found."));
  std::filesystem::remove(dir_ / "in.txt");
  EXPECT_THAT(ExpectCode(37, [&] { Make(RoutingSection(o)); }),
              HasSubstr("error opening in.txt for abstraction 1"));
}

TEST_F(Storages, ReservoirOnTheOutletWithAnAbstraction) {
  // Subbasin 1 (10 km2) routes into a reservoir at the outlet of 2 (10 km2),
  // which releases by its rule; an abstraction takes 1 m3/s of its volume.
  Zones({1, 2}, {0.5, 0.5}, 20.0);
  Discharge(1, 5, 10);
  Discharge(2, 5, 10);
  auto model = Run("TG 2 (AE = 20, AV = 1) OL 1 " + kFixedChannel +
                       " AL 1 = extern out.txt (Qmin = 0, f = 1, Qmax = 1 m3/s)\n"
                       "SP 1 (file = reservoir_1.txt, V0 = 1.5e6, A0 = 1e5, W0 = 400, C0 = 0, dTmin = 60)\n",
                   "[abstraction_rule_reservoir_1]\n3\n0 0\n1e6 5\n2e6 20\n");
  std::vector<SP_class*> reservoirs;
  model->CollectReservoirs(reservoirs);
  ASSERT_EQ(reservoirs.size(), 1u);
  SP_class& reservoir = *reservoirs[0];
  // The initialisation passes leave the volume as it was.
  EXPECT_EQ(reservoir.volume, 1.5e6);
  double volume = reservoir.volume;
  for (int step = 1; step <= 3; ++step) {
    Step(*model, step);
    // Its inflow: both subbasins' 10 m3/s, its outflow the outlet's depth.
    EXPECT_NEAR(reservoir.Term(kInflowTerm).rate, 10, 1e-9);
    EXPECT_NEAR(reservoir.Term(kAbstractionTerm).rate, 1, 1e-9);
    EXPECT_NEAR(model->Flows().step[2], reservoir.outflow * 3.6 / 20, 1e-12);
    EXPECT_NEAR(reservoir.volume - volume, 3600 * (10 - 1 - reservoir.outflow), 1e-6);
    volume = reservoir.volume;
  }
  model->FlushBuffers();
  const std::string table = ReadFile(dir_ / "reservoir_1.txt");
  EXPECT_THAT(table, HasSubstr("\nreservoir_1\n"));
  EXPECT_THAT(table, HasSubstr("\n 0\t 1\t 1\t 1\t400\t100000\t1.5e+06\t"));
  EXPECT_THAT(table, HasSubstr("\n2000\t 1\t 1\t 3\t"));
  model->CleanUp();
  EXPECT_THAT(console_.str(), HasSubstr(", --> ALs... 1,, --> SPs... 1  Rest... ok"));
}

TEST_F(Storages, ConnectedReservoirsSkipTheChannelBetweenThem) {
  // Reservoir 1 at the outlet of 1 leads through a channel to reservoir 2
  // at the outlet of 2; the channel from 1 to 2 then passes its input on.
  Zones({1, 2}, {0.5, 0.5}, 20.0);
  auto model =
      Run("TG 1 (AE = 10, AV = 1) SP 1 (file = a.txt, V0 = 1e6, A0 = 1e5, W0 = 101, C0 = 0)\n"
          "TG 2 (AE = 20, AV = 1) OL 1 " +
              kFixedChannel + " SP 2 (file = b.txt, V0 = 5e5, A0 = 1e5, W0 = 100.5, C0 = 0)\n",
          "[abstraction_rule_reservoir_1]\n1\n0 0\nHydraulicConnection {\nTargetReservoir = 2\n"
          "ChannelWidth = 10\nChannelBottom = 100\nChannelLength = 1000\nRoughnessCoeff = 30\n}\n"
          "[abstraction_rule_reservoir_2]\n2\n0 0\n1e9 0\n");
  Step(*model, 1);
  const SP_class& upper = model->Element(1).Reservoir(1);
  const SP_class& lower = model->Element(2).Reservoir(1);
  EXPECT_GT(upper.outflow, 4.0);
  // Its flow arrives at the lower reservoir in the same step, undelayed.
  EXPECT_NEAR(lower.Term(kInflowTerm).rate, upper.outflow, 1e-9);
  EXPECT_NEAR(model->Element(2).Row(1).delay_line[1], model->Flows().Sub(1)[1], 1e-15);

  // A connection to a reservoir that does not exist.
  section_options o;
  o.descriptions = "TG 1 (AE = 10, AV = 1) SP 1 (file = a.txt, V0 = 1e6, A0 = 1e5, W0 = 101, C0 = 0)\n";
  o.after =
      "\n[abstraction_rule_reservoir_1]\n1\n0 0\nHydraulicConnection {\nTargetReservoir = 7\n"
      "ChannelWidth = 10\nChannelBottom = 100\nChannelLength = 1000\nRoughnessCoeff = 30\n}\n";
  EXPECT_THAT(ExpectCode(29, [&] { Make(RoutingSection(o)); }),
              HasSubstr("leads to reservoir 7, which is no reservoir of the routing"));
}

TEST_F(Storages, ReservoirDrawsIntoAnInternalInflow) {
  Zones({1, 2, 3}, {0.25, 0.25, 0.5}, 40.0);
  Discharge(1, 2, 10);
  auto model =
      Run("TG 1 (AE = 10, AV = 1) AL 1 = intern_with_rule_from_reservoir "
          "SP 1 (file = r.txt, V0 = 1e6, C0 = 0)\n"
          "TG 3 (AE = 20, AV = 1) ZL 1 = intern " +
              Channel("3 3 10 50 5 30 20 0.001 10000 5") + "\n",
          "[abstraction_rule_reservoir_1]\n2\n0 0\n1e9 0\n"
          "[abstraction_rule_abstraction_1]\n2\n0 3\n1e9 3\n");
  Step(*model, 1);
  const AL_class& draw = model->Element(1).Abstraction(1);
  EXPECT_NEAR(draw.discharge, 3.0, 1e-12);
  EXPECT_NEAR(model->Flows().step[3 + 1], 3.0, 1e-12);
  const SP_class& reservoir = model->Element(1).Reservoir(1);
  EXPECT_NEAR(reservoir.volume, 1e6 + 3600 * (2 - 3), 1e-6);
}

TEST_F(Storages, WaterBalanceWithReservoirAndAbstractions) {
  // Upstream element: subbasin 1 routed to 2, an internal abstraction to the
  // inflow of the downstream element, an external one, a reservoir; the
  // downstream element takes 2 and the inflow to 3. Every drop that enters
  // leaves at 3, leaves through the external abstraction or stays in the
  // reservoir.
  Zones({1, 2, 3}, {0.3, 0.3, 0.4}, 30.0);
  auto model =
      Run("TG 2 (AE = 18, AV = 1) OL 1 " + kFixedChannel +
              " AL 1 = intern (Qmin = 0.1, f = 0.3, Qmax = 0.5) AL 2 = extern ex.txt (Qmin = 0, f = 0.2, "
              "Qmax = 0.4) SP 1 (file = r.txt, V0 = 0, A0 = 1e5, W0 = 400, C0 = 0, dTmin = 300)\n"
              "TG 3 (AE = 30, AV = 1) OL 2 " +
              kFixedChannel + " ZL 1 = intern " + Channel("3 3 10 50 5 30 20 0.001 10000 5") + "\n",
          "[abstraction_rule_reservoir_1]\n3 1 150\n0 0 0\n1e5 2 1\n5e5 30 10\n");
  const SP_class& reservoir = model->Element(1).Reservoir(1);
  const AL_class& external = model->Element(1).Abstraction(2);
  double entered = 0, left = 0, abstracted = 0, stored = 0;
  const std::vector<double>& fraction = model->Areas().fraction;
  for (int step = 1; step <= 600; ++step) {
    for (int z = 1; z <= 3; ++z) {
      Runoff(z) = step <= 8 ? 2.0 * z + step : 0.0;
      entered += Runoff(z) * zones_[static_cast<size_t>(z)].area_fraction * 30.0 * 1000;
    }
    Step(*model, step);
    left += model->Flows().step[3] * fraction[3] * 30.0 * 1000;
    abstracted += external.discharge * 3600;
    stored = std::max(stored, reservoir.volume);
  }
  EXPECT_GT(abstracted, 0.05 * entered);
  EXPECT_GT(stored, 0.05 * entered);
  EXPECT_NEAR(left + abstracted + reservoir.volume, entered, 1e-9 * entered);
}

TEST_F(Storages, LakeOfTheRoutingModel) {
  // One row of three 100 m cells; the lake covers the first two, at 500 and
  // 500.5 m, full at 502 m, and holds 1 m and 0.5 m of water.
  settings_.ncols = 3;
  settings_.cellsize = 100.0;
  ranges_.assign(2, row_range{1, 3});
  settings_.row_ranges = ranges_.data();
  Zones({1}, {1.0}, 0.03);
  std::vector<owned_matrix> grids;
  auto put = [&](const char* name, const test::Rows& rows) {
    grids.push_back(test::MatrixOf(rows));
    const int index = grids_.FirstFreeEntry();
    grids_[index].name = name;
    grids_[index].data = grids.back().get();
  };
  put("zonegrid", {{1, 1, 1}});
  put("[elevation_model]", {{500, 500.5, 510}});
  put("lake_codes", {{1, 1, -9999}});
  put("ponding_storage", {{1000, 500, 0}});
  put("max_ponding_storage", {{2000, 1500, 0}});
  put("zonegrid_soilmodel", {{1, 1, 1}});
  put("real_transpiration0", {{0, 0, 0}});
  put("precipitation", {{2, 2, 2}});
  double** ponding = grids[3].get();
  section_options o;
  o.descriptions = "TG 1 (AE = 0.03, AV = 1) SP 1 (file = lake.txt, V0 = 0, C0 = 0)\n";
  o.after =
      "\n[abstraction_rule_reservoir_1]\n2\n0 0\n2e4 1\n[lake_model]\n1 lakes on\n1\n2\n3\n1 readgrids\n";
  auto model = Make(RoutingSection(o));
  Link(*model);
  const SP_class& lake = model->Element(1).Reservoir(1);
  ASSERT_TRUE(lake.IsLake());
  EXPECT_NEAR(lake.volume, 15000, 1e-9);  // from the ponding grid
  EXPECT_NEAR(lake.level, 501.0, 1e-9);
  EXPECT_DOUBLE_EQ(lake.area, 2e4);

  Step(*model, 1);
  EXPECT_LT(lake.volume, 15000);
  EXPECT_NEAR(lake.volume, 15000 - 3600 * lake.outflow, 1e-6);
  EXPECT_NEAR(ponding[1][1], (lake.level - 500) * 1000, 1e-9);
  EXPECT_NEAR(ponding[1][2], (lake.level - 500.5) * 1000, 1e-9);
  EXPECT_EQ(ponding[1][3], 0.0);
  // The rain on the lake is a flux of its balance; the ponding grid did not
  // receive it, so it stands in the error.
  EXPECT_NEAR(lake.Term(kPrecipitationTerm).volume, 40, 1e-9);
  EXPECT_NEAR(lake.Term(kBalanceErrorTerm).volume, -40, 1e-6);
  model->CleanUp();

  grids_[5].name = "other";  // no "max_ponding_storage"
  EXPECT_THAT(ExpectCode(33, [&] { Make(RoutingSection(o)); }), HasSubstr("max_ponding_storage not found"));
}

}  // namespace
}  // namespace velmo
