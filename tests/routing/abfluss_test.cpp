// The routing model on subbasins of its own: building, routing, water balance, observed discharge, lakes.
#include "routing/abfluss.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

#include "routing/routing_fixture.h"

namespace velmo {
namespace {

using test::Channel;
using test::kFixedChannel;
using test::ReadFile;
using test::RoutingSection;
using test::section_options;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kReferenceChannel = Channel("2 10 10 50 10 30 20 0.001 10000 100");

using RoutingModel = test::RoutingFixture;

// ---------------------------------------------------------------- construction

TEST_F(RoutingModel, CountsAndWqTables) {
  section_options o;
  o.wq = "1 1000 30 4";
  o.descriptions = "TG 2 (AE = 100, AV = 1)\nOL 1 " + kReferenceChannel + "\n";
  auto model = Make(RoutingSection(o));
  EXPECT_THAT(console_.str(), HasSubstr("number inbetween areas (routings)    : 1\n"
                                        "number tributaries  total      (OL)  : 1\n"
                                        " - flowing into another at the end   : 1\n"
                                        " - flowing into another at the start : 0\n"
                                        "so the total of routingchannels is   : 1\n"
                                        "number of inflows              (ZL)  : 0\n"
                                        "number of abstractions         (AL)  : 0\n"
                                        "number reservoirs              (SP)  : 0\n"));
  EXPECT_THAT(console_.str(), HasSubstr("reading routing description 1\n"));
  const std::string table = ReadFile(dir_ / "wq_table.001");
  EXPECT_TRUE(
      table.starts_with("waterlevel-discharge-table for the channel of subbasin 1 to the outlet of "
                        "subbasin 2\ninput parameters from the control file:\n"))
      << table;
  for (const char* line : {
           "storage constant mean channel [h] :    2.00\n",
           "slope angle            [1/1]      :  0.0010\n",
           "intervals for w-q-table[-]        :      31\n",
           "sub-intervals (time)   [-]        :       4  \n",
           "number of sub-channels            :      17\n",
           "total number of storage elements  :     140  \n",
           "\n  1  0.004    1.0    0.10   0.06  0.00  0.15   0.15   0.00  18.41    4   0.000\n",
           "\n 31  3.600 1000.0  100.00   5.53  0.00  1.81   1.81   0.00   1.54    0   0.000\n",
       })
    EXPECT_THAT(table, HasSubstr(line));

  // A main channel of 1 m: the flood plain carries 65 % of the highest class.
  o.descriptions = "TG 2 (AE = 100, AV = 1)\nOL 1 " + Channel("2 10 10 50 1 30 20 0.001 10000 100") + "\n";
  Make(RoutingSection(o));
  const std::string shallow = ReadFile(dir_ / "wq_table.001");
  EXPECT_THAT(shallow, HasSubstr("number of sub-channels            :      16\n"));
  EXPECT_THAT(shallow, HasSubstr("total number of storage elements  :     132  \n"));
  EXPECT_THAT(
      shallow,
      HasSubstr("\n 31  3.600 1000.0  100.00   2.58  1.58  1.01   1.35   0.82   2.75    0   0.650\n"));
}

TEST_F(RoutingModel, DescriptionsOverSeveralLinesAndColumnDescriptorsOnOneLine) {
  Zones({3, 5, 6, 9}, {0.25, 0.25, 0.25, 0.25}, 40.0);
  section_options o;
  o.descriptors = {"3 1 5 2"};  // both on one line
  o.descriptor_count = 2;
  o.descriptions = "TG 9 (AE = 10, AV = 1) comments may name the SPeicher\n OL 3 " + kFixedChannel +
                   "\n  SUMTRIB 5 & 6 " + kFixedChannel + "\n";
  auto model = Make(RoutingSection(o));
  EXPECT_EQ(model->ElementCount(), 1);
  EXPECT_EQ(model->Element(1).RowCount(), 2);
  EXPECT_EQ(model->Parameters().descriptions[0].text,
            "TG 9 (AE = 10, AV = 1) comments may name the SPeicher  OL 3 " + kFixedChannel +
                "   SUMTRIB 5 & 6 " + kFixedChannel);
  EXPECT_EQ(model->ColumnMap(), (std::vector<int>{0, 1, 2, 0, 0}));
  // The area found on the zone grid replaces the description's.
  EXPECT_THAT(console_.str(),
              HasSubstr("Basin 9: area in contr.file: 10 <-> zone-grid 40 (adjusted to the latter)"));
  EXPECT_EQ(model->Element(1).Area(), 40.0);
  std::ifstream summed("wq_table.002");
  std::string head;
  std::getline(summed, head);
  EXPECT_EQ(head,
            "waterlevel-discharge-table for the channel of subbasins 5 and 6 to the outlet of subbasin 9");
}

// Blank lines, or lines of blanks and tabs, may stand before, between and
// within descriptions.
TEST_F(RoutingModel, BlankLinesAmongDescriptionsArePassedOver) {
  Zones({1, 2, 3}, {0.3, 0.3, 0.4}, 30.0);
  section_options o;
  o.descriptions = "\nTG 2 (AE = 9, AV = 1)\n\n \t\nOL 1 " + kFixedChannel + "\n\nTG 3 (AE = 21, AV = 1)\n" +
                   "\t\nSUMTRIB 2 " + kFixedChannel + "\n  \nend of the descriptions\n\nno keyword here\n";
  auto model = Make(RoutingSection(o));
  ASSERT_EQ(model->ElementCount(), 2);
  EXPECT_EQ(model->Element(1).RowCount(), 1);
  EXPECT_EQ(model->Element(2).RowCount(), 1);
  EXPECT_EQ(model->Parameters().totals.summed, 1);
  model->CleanUp();
}

TEST_F(RoutingModel, ConstructionFailures) {
  Zones({1, 2, 3}, {0.3, 0.3, 0.4}, 30.0);
  const std::string ol1 = "OL 1 " + kFixedChannel;
  const auto Reservoir = [](int code, const std::string& file) {
    return "SP " + std::to_string(code) + " (file = " + file + ", V0 = 1, A0 = 1, W0 = 1, C0 = 0)";
  };
  // The console shows the entries without their level prefix.
  struct Case {
    std::string what;
    std::function<void(section_options&)> change;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"line 3 with three values", [](section_options& o) { o.wq = "1 1000 30"; }, 17,
       "values for min/max specific discharge and/or discharge and time interval splitting   \n"
       "not found in control file"},
      {"qmin of 0", [](section_options& o) { o.wq = "0 1000 30 2"; }, 17, "values for min/max specific"},
      {"too many column descriptors",
       [](section_options& o) {
         o.descriptors = {"1 1", "2 2", "3 3", "1 4"};
       },
       17, "too much column descriptors (4) in routing model (more than sub basins: 3)"},
      {"descriptor of no subbasin", [](section_options& o) { o.descriptors = {"4 1"}; }, 17,
       "error reading a subbasin index for column indexing in routing model"},
      {"descriptor without column", [](section_options& o) { o.descriptors = {"1 x"}; }, 17,
       "error reading a column number for column indexing in routing model"},
      {"no subbasin 7", [&](section_options& o) { o.descriptions = "TG 7 (AE = 1, AV = 1) " + ol1 + "\n"; },
       41, "there is no subbasin with code 7"},
      {"tributary is the outlet",
       [&](section_options& o) { o.descriptions = "TG 1 (AE = 1, AV = 1) " + ol1 + "\n"; }, 41,
       "subbasin 1: code of tributary 1 (1) is equal to subbasin code!\nIt is not allowed to rout the "
       "outflow of a subbasin back into \nthe same subbasin. Use a reservoir instead.\n"},
      {"joined code is the outlet",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) SUMTRIB 1 & 3 " + kFixedChannel + "\n";
       },
       41, "subbasin 3: code of tributary 1 (3) is equal to subbasin code!"},
      {"tributary of no subbasin",
       [&](section_options& o) { o.descriptions = "TG 3 (AE = 1, AV = 1) OL 8 " + kFixedChannel + "\n"; }, 41,
       "there cant be a tributary with code 8 for no subbasin (according to zones)\n"},
      {"same outlet twice",
       [&](section_options& o) {
         o.descriptions =
             "TG 3 (AE = 1, AV = 1) " + ol1 + "\nTG 3 (AE = 1, AV = 1) OL 2 " + kFixedChannel + "\n";
       },
       41, "subbasin 3 is the outlet (TG) of routing description 1 and again of routing description 2"},
      {"same tributary twice",
       [&](section_options& o) {
         o.descriptions =
             "TG 2 (AE = 1, AV = 1) " + ol1 + "\nTG 3 (AE = 1, AV = 1) SUMTRIB 2 & 1 " + kFixedChannel + "\n";
       },
       41,
       "subbasin 1 is a tributary in routing description 1 (TG 2) and again in routing description 2 (TG 3)"},
      {"joined code named twice",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) SUMTRIB 1 & 2 & 1 " + kFixedChannel + "\n";
       },
       41,
       "subbasin 1 is a tributary in routing description 1 (TG 3) and again in routing description 1 (TG 3)"},
      {"downstream before upstream",
       [&](section_options& o) {
         o.descriptions =
             "TG 3 (AE = 1, AV = 1) OL 2 " + kFixedChannel + "\nTG 2 (AE = 1, AV = 1) " + ol1 + "\n";
       },
       41,
       "routing description 2 for TG 2 comes after routing description 1 (TG 3), which takes its outflow as "
       "a "
       "tributary: the descriptions must be ordered from upstream to downstream"},
      {"area divisor of 0",
       [&](section_options& o) { o.descriptions = "TG 3 (AE = 1, AV = 0) " + ol1 + "\n"; }, 41,
       "the area divisor of TG 3 in routing description 1 must be above 0, not 0"},
      {"abstraction mode",
       [&](section_options& o) { o.descriptions = "TG 3 (AE = 1, AV = 1) " + ol1 + "\nAL 1 = bogus\n"; }, 44,
       "the modus \"bogus\" is not supported for abstraction 1"},
      {"reservoir without V0",
       [&](section_options& o) { o.descriptions = "TG 3 (AE = 1, AV = 1) SP 1 (file = r.txt, C0 = 0)\n"; },
       35, "for reservoir 1: no \"V0 =\" found!"},
      {"same reservoir code twice",
       [&](section_options& o) {
         o.descriptions = "TG 2 (AE = 1, AV = 1) " + ol1 + " " + Reservoir(1, "a.txt") +
                          "\nTG 3 (AE = 1, AV = 1) OL 2 " + kFixedChannel + " " + Reservoir(1, "b.txt") +
                          "\n";
       },
       41,
       "the reservoir code 1 is given twice: SP 1 of routing description 1 (TG 2) and SP 1 of routing "
       "description 2 (TG 3)"},
      {"same result file twice",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) " + ol1 + " " + Reservoir(1, "r.txt") + " " +
                          Reservoir(2, "r.txt") + "\n";
       },
       41,
       "the result file r.txt is given twice: SP 1 of routing description 1 (TG 3) and SP 2 of routing "
       "description 1 (TG 3)"},
      {"an abstraction writes to a reservoir's file",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) " + ol1 +
                          " AL 1 = extern r.txt (Qmin = 1, f = 0.5, Qmax = 2) " + Reservoir(1, "r.txt") +
                          "\n";
       },
       41,
       "the result file r.txt is given twice: SP 1 of routing description 1 (TG 3) and AL 1 of routing "
       "description 1 (TG 3)"},
      {"unknown inflow mode",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) ZL 1 = foo " + kFixedChannel + "\n";
       },
       42, "the modus \"foo\" is not supported for inflow 1"},
      {"inflow number beyond the count",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) ZL 2 = constant 1 " + kFixedChannel + "\n";
       },
       42,
       "there is/are only 1 inflow(s) for the entire basin,\n but the codes ranges from 1 to at least 2! in "
       "routing_model"},
      {"same inflow twice",
       [&](section_options& o) {
         o.descriptions = "TG 3 (AE = 1, AV = 1) ZL 1 = constant 1 " + kFixedChannel +
                          "\nTG 2 (AE = 1, AV = 1) ZL 1 = "
                          "constant 1 " +
                          kFixedChannel + "\n";
       },
       42, "inflow 1 is named in routing description 1 and again in routing description 2"},
      {"end of file before the descriptions",
       [&](section_options& o) {
         o.descriptions = "";
         o.after = "";
       },
       38, "error reading a routing description from control file! (eof reached)."},
      {"description line without a TG before it",
       [&](section_options& o) { o.descriptions = ol1 + "\nTG 3 (AE = 1, AV = 1)\n"; }, 38,
       "routing description line without a \"TG\" line before it in [routing_model]:\n" + ol1},
      {"description after the line that ends them",
       [&](section_options& o) {
         o.descriptions = "TG 2 (AE = 1, AV = 1) " + ol1 + "\n# the outlet\nTG 3 (AE = 1, AV = 1) OL 2 " +
                          kFixedChannel + "\n";
       },
       38,
       "the routing descriptions of [routing_model] end at the line\n# the outlet\nbut the description "
       "line\nTG 3 (AE = 1, AV = 1) OL 2 "},
      {"part of a description after a comment line",
       [&](section_options& o) {
         o.descriptions =
             "TG 3 (AE = 1, AV = 1) " + ol1 + "\n  the reservoir:\n\n  " + Reservoir(1, "r.txt") + "\n";
       },
       38, "end at the line\n  the reservoir:\nbut the description line\n  SP 1 (file = r.txt"},
      {"value that cannot be read",
       [&](section_options& o) { o.descriptions = "TG 3 (AE = 1, AV = 1) OL 1 (kh = 3, kv = x)\n"; }, 38,
       "error reading routing description 1 of [routing_model]: channel value 2 of \"OL 1\" not found in:\n"},
      {"value that only starts as a number",
       [&](section_options& o) { o.descriptions = "TG 3 (AE = 1, AV = 1) OL 1 (kh = 3x, kv = 4)\n"; }, 38,
       "error reading routing description 1 of [routing_model]: channel value 1 of \"OL 1\" not found in:\n"},
      {"outlet code that only starts as a number",
       [&](section_options& o) { o.descriptions = "TG 3x (AE = 1, AV = 1) " + ol1 + "\n"; }, 38,
       "the code after \"TG\" not found"},
  };
  for (const Case& c : cases) {
    section_options o;
    o.descriptions = "TG 3 (AE = 30, AV = 1) " + ol1 + "\n";
    c.change(o);
    const std::string out = ExpectCode(c.code, [&] { Make(RoutingSection(o)); });
    EXPECT_THAT(out, HasSubstr(c.message)) << c.what;
  }
  // The grid table keeps no grid of a model that failed.
  EXPECT_EQ(grids_.FirstFreeEntry(), 1);
}

TEST_F(RoutingModel, GridTableFullOrWqTableUnwritable) {
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  // A w-q table that cannot be created is reported and skipped.
  std::filesystem::create_directory(dir_ / "wq_table.001");
  auto model = Make(RoutingSection(o));
  EXPECT_THAT(console_.str(), HasSubstr("error opening file wq_table.001 (check user rights or disk space)"));
  EXPECT_THAT(ReadFile(dir_ / "diag.xml"),
              HasSubstr("<line level=\"2\" description= \"error opening file wq_table"));
  model->CleanUp();

  for (int i = 1; i < kGridTableLimit; ++i) grids_[i].name = "grid" + std::to_string(i);
  EXPECT_THAT(ExpectCode(12, [&] { Make(RoutingSection(o)); }),
              HasSubstr("no more free grids in memory, (max. 1000)!"));
}

TEST_F(RoutingModel, LinkingFailures) {
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1) ZL 1 = intern " + kFixedChannel + "\n";
  auto intern = Make(RoutingSection(o));
  intern->SetSubbasinRunoff(runoff_rows_);
  EXPECT_THAT(
      ExpectCode(302, [&] { intern->InitializeRouting(); }),
      HasSubstr("\n ---> Error in connecting internal abstractions with internal inflows:\nin routing "
                "description 1 for TG 2:\nInternal Inflow ZL 1 has no conenction to an internal "
                "abstraction.\nthis is not allowed\n"));

  // The soil model off hands no runoff.
  auto model = Make(RoutingSection(section_options{}));
  EXPECT_THAT(ExpectCode(43, [&] { model->SetSubbasinRunoff(nullptr); }),
              HasSubstr("No valid discharges for discharge routing!"));

  // A first data row that cannot be read.
  WriteFile(dir_ / "observed.txt", "YY MM DD HH Q\n2000 1 1 x 3\n");
  EXPECT_THAT(ExpectCode(203, [&] { Make(RoutingSection(section_options{})); }),
              HasSubstr("error analysing or reading observed.txt at row"));
}

TEST_F(RoutingModel, OffOrWithoutSection) {
  section_options off;
  off.flow_control = 0;
  auto model = Make(RoutingSection(off));
  EXPECT_EQ(model->GetFlowControlParameter(), 0);
  Link(*model);
  Step(*model, 1);
  model->CleanUp();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "qstat.txt"));
  EXPECT_THAT(console_.str(), HasSubstr("deleting module routing_model"));

  // The section is required as every module's is: a missing or misspelt one
  // is no routing switched off.
  for (const std::string& control : {std::string(), std::string("[routing_modell]\n0\n60\n")})
    EXPECT_THAT(ExpectCode(17, [&] { Make(control); }),
                HasSubstr("error in control file, [routing_model]; (EOF)not found!"));
}

TEST_F(RoutingModel, DescriptionsThatEndTheControlFileAreRead) {
  // The last description line is the file's last line, with and without its
  // line end.
  for (const std::string end : {"\n", ""}) {
    section_options o;
    o.descriptions = "TG 2 (AE = 100, AV = 1)\nOL 1 " + kFixedChannel + end;
    o.after = "";
    auto model = Make(RoutingSection(o));
    Link(*model);
    EXPECT_EQ(model->Element(1).Row(1).table.delay[1], 7) << end.size();
    model->CleanUp();
  }
}

// ---------------------------------------------------------------- routing

TEST_F(RoutingModel, PulseThroughAFixedClassChannel) {
  section_options o;
  o.descriptions = "TG 2 (AE = 100, AV = 1)\nOL 1 " + kFixedChannel + "\n";
  auto model = Make(RoutingSection(o));
  Link(*model);
  EXPECT_EQ(model->Element(1).Row(1).table.delay[1], 7);
  EXPECT_EQ(model->Element(1).Row(1).table.sub_channels, 1);
  EXPECT_EQ(model->InitializationPasses(), 3);
  EXPECT_THAT(console_.str(), HasSubstr("routing the initialization discharges (3 times)\n...\n"));

  const double expected[] = {0, 0, 0, 0.708672, 1.216457, 0.871630};
  double total = 0;
  for (int step = 1; step <= 300; ++step) {
    Runoff(1) = step == 1 ? 10.0 : 0.0;
    Step(*model, step);
    const double outlet = model->Flows().step[2];
    if (step <= 6) {
      EXPECT_NEAR(outlet, expected[step - 1], 5e-7) << step;
    }
    total += outlet;
  }
  // 10 mm on half of the area reach the outlet as 5 mm over all of it.
  EXPECT_NEAR(total, 5.0, 1e-12);
}

TEST_F(RoutingModel, OutletWithoutChannels) {
  section_options o;
  o.descriptions = "TG 2 (AE = 50, AV = 1)\n";
  auto model = Make(RoutingSection(o));
  Runoff(1) = 3.0;
  Runoff(2) = 1.5;
  Link(*model);
  Step(*model, 1);
  EXPECT_EQ(model->Element(1).RowCount(), 0);
  EXPECT_NEAR(model->Flows().step[2], 1.5, 1e-15);
  EXPECT_NEAR(model->Flows().step[1], 3.0, 1e-15);
}

TEST_F(RoutingModel, ConstantInputLeavesEveryChannelInEquilibrium) {
  section_options o;
  o.wq = "1 1000 30 4";
  o.descriptions = "TG 2 (AE = 100, AV = 1)\nOL 1 " + kReferenceChannel + "\n";
  auto model = Make(RoutingSection(o));
  Runoff(1) = 0.8;
  Runoff(2) = 0.2;
  Link(*model);
  for (int step = 1; step <= 24; ++step) {
    Step(*model, step);
    ASSERT_NEAR(model->Flows().step[2], 0.5, 1e-12) << step;
    ASSERT_NEAR(model->Flows().step[1], 0.8, 1e-15) << step;
  }
}

TEST_F(RoutingModel, WaterBalanceOfTwoElementsInAChain) {
  // Element 1 gathers subbasins 1 and 2 at 3; element 2 takes 3 and the
  // summed channel of 4 and 5 to 6. Every drop of runoff leaves at 6.
  Zones({1, 2, 3, 4, 5, 6}, {0.1, 0.2, 0.15, 0.25, 0.1, 0.2}, 80.0);
  struct Case {
    double upstream_divisor, downstream_divisor;
  };
  for (const Case& c : {Case{1, 1}, Case{2, 0.5}}) {
    section_options o;
    o.descriptions = "TG 3 (AE = 36, AV = " + std::to_string(c.upstream_divisor) + ") OL 1 " + kFixedChannel +
                     " OL 2 " + kFixedChannel +
                     "\nTG 6 (AE = 80, AV = " + std::to_string(c.downstream_divisor) + ") OL 3 " +
                     kFixedChannel + "\nSUMTRIB 4 & 5 " + kFixedChannel + "\n";
    auto model = Make(RoutingSection(o));
    for (int z = 1; z <= 6; ++z) Runoff(z) = 0.0;
    Link(*model);
    double entered = 0, left = 0;
    const std::vector<double>& fraction = model->Areas().fraction;
    for (int step = 1; step <= 400; ++step) {
      for (int z = 1; z <= 6; ++z) {
        Runoff(z) = step <= 5 ? z * 1.5 + step : 0.0;
        entered += Runoff(z) * zones_[static_cast<size_t>(z)].area_fraction * 80.0;
      }
      Step(*model, step);
      left += model->Flows().step[6] * fraction[6] * 80.0 / c.downstream_divisor;
    }
    EXPECT_NEAR(fraction[6], 1.0, 1e-15);
    EXPECT_NEAR(left, entered, 1e-9 * entered) << c.upstream_divisor << " " << c.downstream_divisor;
  }
}

TEST_F(RoutingModel, RoughFloodPlainDelaysStayInsideTheirLines) {
  // Flow times that rise with the discharge: the delay of the highest
  // classes exceeds that of the lowest.
  section_options o;
  o.wq = "1 1000 10 2";
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + Channel("1 1 2 2000 0.2 30 1 0.001 10000 100") + "\n";
  auto model = Make(RoutingSection(o));
  Link(*model);
  const wq_table& table = model->Element(1).Row(1).table;
  ASSERT_GT(*std::max_element(table.delay.begin() + 1, table.delay.begin() + table.classes + 1),
            table.delay[1]);
  for (int step = 1; step <= 400; ++step) {
    Runoff(1) = step <= 20 ? 3.0 : 0.0;
    Step(*model, step);
    ASSERT_TRUE(std::isfinite(model->Flows().step[2])) << step;
  }
}

TEST_F(RoutingModel, DischargeUnitsAndInflows) {
  // 3.6 mm per hour on 1 km2 is 1 m3/s; a constant inflow of 2 m3/s adds 2.
  Zones({1, 2}, {0.5, 0.5}, 2.0);
  struct Case {
    int unit;
    std::string title;
    std::string row;
  };
  const Case cases[] = {
      {0, "routed discharge [mm per subbasin] ", "2000\t 1\t 1\t 3\t3.60000\t7.20000\n"},
      {1, "routed discharge [ m3 per sec ] ", "2000\t 1\t 1\t 3\t1.00000\t4.00000\n"},
      {2, "routed discharge (unknown measure)", "2000\t 1\t 1\t 3\t3.60000\t7.20000\n"},
  };
  for (const Case& c : cases) {
    section_options o;
    o.descriptions =
        "TG 2 (AE = 2, AV = 1) OL 1 " + kFixedChannel + " ZL 1 = constant 2 " + kFixedChannel + "\n";
    auto model = Make(RoutingSection(o), c.unit);
    Runoff(1) = Runoff(2) = 3.6;
    Link(*model);
    for (int step = 1; step <= 3; ++step) Step(*model, step);
    model->CleanUp();
    EXPECT_THAT(Statistics(), HasSubstr("\n" + c.title + "_submodel:routing_model\n")) << c.unit;
    EXPECT_EQ(LastRow(), c.row) << c.unit;
  }
  EXPECT_TRUE(std::filesystem::exists("wq_tabZL.001"));
}

TEST_F(RoutingModel, ObservedDischargeTakesThePlaceOfTheRoutedOne) {
  std::string rows;
  for (int h = 0; h < 240; ++h)
    rows += "2000 1 " + std::to_string(1 + (1 + h) / 24) + " " + std::to_string((1 + h) % 24) + " 4\n";
  WriteFile(dir_ / "observed.txt", "YY MM DD HH Q\n" + rows);
  for (int flow_control : {1, 2}) {
    section_options o;
    o.flow_control = flow_control;
    o.descriptors = {"1 1"};
    o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
    auto model = Make(RoutingSection(o));
    Link(*model);
    for (int step = 1; step <= 150; ++step) Step(*model, step);
    // Half of the area delivers the observed 4 mm instead of no runoff.
    EXPECT_NEAR(model->Flows().step[2], flow_control == 2 ? 2.0 : 0.0, 1e-9) << flow_control;
    model->CleanUp();
  }
}

TEST_F(RoutingModel, ObservedDischargeInCubicMetresEntersAsTheDepthOfItsSubbasin) {
  // An observed 4 m3/s at subbasin 1, routing written in m3/s: the outlet of
  // subbasin 2 (no runoff of its own) carries those 4 m3/s.
  std::string rows;
  for (int h = 0; h < 240; ++h)
    rows += "2000 1 " + std::to_string(1 + (1 + h) / 24) + " " + std::to_string((1 + h) % 24) + " 4\n";
  WriteFile(dir_ / "observed.txt", "YY MM DD HH Q\n" + rows);
  section_options o;
  o.flow_control = 2;
  o.descriptors = {"1 1"};
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  auto model = Make(RoutingSection(o), 1);
  Link(*model);
  for (int step = 1; step <= 150; ++step) Step(*model, step);
  model->CleanUp();
  // The last row before the efficiency block.
  const std::string table = Statistics();
  const std::size_t block = table.find("\n----");
  ASSERT_NE(block, std::string::npos);
  EXPECT_EQ(table.substr(table.rfind('\n', block - 1) + 1, block - table.rfind('\n', block - 1) - 1),
            "2000\t 1\t 7\t 6\t0.00000\t4.00000");
}

TEST_F(RoutingModel, AfterTheObservedTableEndsTheRoutedDischargeReturns) {
  // Five observed hours of 4 mm, then the table ends: neither its last row
  // nor zeros may stand in for the routed 2 mm afterwards.
  std::string rows;
  for (int h = 1; h <= 5; ++h) rows += "2000 1 1 " + std::to_string(h) + " 4\n";
  WriteFile(dir_ / "observed.txt", "YY MM DD HH Q\n" + rows);
  section_options o;
  o.flow_control = 2;
  o.descriptors = {"1 1"};
  o.descriptions = "TG 2 (AE = 100, AV = 1) OL 1 " + kFixedChannel + "\n";
  auto model = Make(RoutingSection(o));
  Runoff(1) = 2.0;
  Link(*model);
  for (int step = 1; step <= 150; ++step) Step(*model, step);
  EXPECT_NEAR(model->Flows().step[2], 1.0, 1e-9);
}

// ---------------------------------------------------------------- observed discharge

class Efficiency : public RoutingModel {
 protected:
  // One subbasin with column 1 of the observed table; the discharge is the
  // runoff itself (no description).
  void Run(const std::vector<double>& simulated, int offset, const std::string& observed) {
    Zones({1}, {1.0}, 10.0);
    WriteFile(dir_ / "observed.txt", observed);
    section_options o;
    o.descriptors = {"1 1"};
    o.offset = offset;
    o.descriptions = "";
    auto model = Make(RoutingSection(o));
    Link(*model);
    for (size_t step = 1; step <= simulated.size(); ++step) {
      Runoff(1) = simulated[step - 1];
      Step(*model, static_cast<int>(step));
    }
    model->CleanUp();
  }
  // Hourly rows from the start date on: `values`, then `more` rows of 1.
  static std::string Observed(const std::vector<double>& values, int more = 20) {
    std::string text = "YY MM DD HH Q\n";
    for (size_t i = 0; i < values.size() + more; ++i) {
      const int h = 1 + static_cast<int>(i);
      text += "2000 1 " + std::to_string(1 + h / 24) + " " + std::to_string(h % 24) + " " +
              std::to_string(i < values.size() ? values[i] : 1.0) + "\n";
    }
    return text;
  }
  std::string ZeroShiftRows() {
    std::string rows;
    std::istringstream lines(Statistics());
    for (std::string line; std::getline(lines, line);)
      if (line.find("\t0\t") != std::string::npos && std::isupper(static_cast<unsigned char>(line[0])))
        rows += line + "\n";
    return rows;
  }
};

TEST_F(Efficiency, ShiftZeroRowsAgainstIndependentFormulas) {
  const std::vector<double> observed = {2, 4, 3, 5, 6}, simulated = {2.5, 3.5, 3, 5.5, 5};
  Run(simulated, 0, Observed(observed));
  // Nash-Sutcliffe of the values and of their logarithms, each also without
  // the mean bias; the logarithmic bias is nearly 0, so both log rows agree.
  EXPECT_EQ(ZeroShiftRows(),
            "LIN. R-SQUARE\t0\t0.8250\nLOG. "
            "R-SQUARE\t0\t0.8539\nCOEFF.VAR.LIN\t0\t0.8300\nCOEFF.VAR.LOG\t0\t0.8539\n");
  double mean = 0, error = 0, spread = 0;
  for (double o : observed) mean += std::log(o) / 5;
  for (size_t i = 0; i < 5; ++i) {
    error += std::pow(std::log(simulated[i]) - std::log(observed[i]), 2);
    spread += std::pow(std::log(observed[i]) - mean, 2);
  }
  EXPECT_NEAR(1 - error / spread, 0.8539, 5e-5);
  // At the first step the rows before the window's start repeat its first row.
  EXPECT_THAT(Statistics(), HasSubstr("lin. R-square\t-1\t"));
}

TEST_F(Efficiency, OffsetAndTooFewPairs) {
  // Five steps of nonsense first, left out by the offset.
  Run({50, 60, 70, 80, 90, 2.5, 3.5, 3, 5.5, 5}, 5, Observed({1, 1, 1, 1, 1, 2, 4, 3, 5, 6}));
  EXPECT_THAT(ZeroShiftRows(), HasSubstr("LIN. R-SQUARE\t0\t0.8250\n"));
  Run({2.5, 3.5}, 0, Observed({2, 4}));
  EXPECT_THAT(ZeroShiftRows(), HasSubstr("LIN. R-SQUARE\t0\t-9999.0000\n"));
}

TEST_F(Efficiency, WithoutObservedTable) {
  // A missing file: routing without comparison and without efficiency block.
  Zones({1}, {1.0}, 10.0);
  auto model = Make(RoutingSection(section_options{}));
  EXPECT_THAT(console_.str(), HasSubstr("error opening observed.txt\nRouting will be done without comparison "
                                        "to observed discharge data!"));
  Link(*model);
  Step(*model, 1);
  model->CleanUp();
  EXPECT_THAT(Statistics(), Not(HasSubstr("R-SQUARE")));

  // A table that does not hold the start date: every step reports it.
  Run({1, 2, 3}, 0, "YY MM DD HH Q\n1999 1 1 0 1\n1999 1 1 1 2\n");
  EXPECT_THAT(console_.str(),
              HasSubstr("observed runoff: actual date 1.1.2000 3h not found (end of discharge "
                        "file at 1.1.1999, 1h)"));
  EXPECT_THAT(ZeroShiftRows(), HasSubstr("LIN. R-SQUARE\t0\t-9999.0000\n"));
}

TEST_F(Efficiency, StartSearchWithMinutes) {
  // Rows at half past the hour: with a minute column the run's start (1:00)
  // is not among them.
  Run({1, 2, 3}, 0, "YY MM DD HH mm Q\n2000 1 1 0 30 1\n2000 1 1 1 30 2\n2000 1 1 2 30 3\n");
  EXPECT_THAT(console_.str(), HasSubstr("observed runoff: actual date 1.1.2000 1h not found"));
  console_.str("");
  std::string on_the_hour = "YY MM DD HH mm Q\n2000 1 1 0 30 1\n";
  for (int h = 1; h <= 20; ++h) on_the_hour += "2000 1 1 " + std::to_string(h) + " 0 2\n";
  Run({1, 2, 3}, 0, on_the_hour);
  EXPECT_THAT(console_.str(), Not(HasSubstr("not found")));
}

TEST_F(Efficiency, EveryRowIsTheRowOfItsStep) {
  // A row left out after the window's first fill: the step that reads the row
  // after it ends the run.
  std::string gap = Observed({2, 4, 3, 5, 6}, 30);
  const std::size_t row = gap.find("2000 1 1 20 ");
  gap.erase(row, gap.find('\n', row) + 1 - row);
  EXPECT_THAT(ExpectCode(203,
                         [&] {
                           Run({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 0, gap);
                         }),
              HasSubstr("error analysing or reading observed.txt at row 20 of its data: it is dated 1.1.2000 "
                        "21:00, but the row of the step after the row before it is due"));
  // Half-hour steps: a table without a minute column stands for whole hours;
  // with one, every row is due at its half hour.
  std::string hours = "YY MM DD HH Q\n", half_hours = "YY MM DD HH mm Q\n";
  for (int k = 2; k <= 60; ++k) {
    const std::string date = "2000 1 1 " + std::to_string(k / 2);
    hours += date + " 1\n";
    half_hours += date + (k % 2 == 0 ? " 0" : " 30") + " 1\n";
  }
  Zones({1}, {1.0}, 10.0);
  for (const std::string& table : {hours, half_hours}) {
    WriteFile(dir_ / "observed.txt", table);
    section_options o;
    o.time_interval = 30;
    o.descriptors = {"1 1"};
    o.descriptions = "";
    auto model = Make(RoutingSection(o));
    Link(*model);
    for (int step = 1; step <= 30; ++step) Step(*model, step);
    EXPECT_THAT(console_.str(), Not(HasSubstr("FATAL"))) << table.substr(0, 40);
  }
}

TEST_F(Efficiency, ReadErrorInALaterBlock) {
  // The first block ends before the start date; the row after it is broken.
  std::string text = "YY MM DD HH Q\n";
  for (int i = 0; i < 41666; ++i) text += "1999 1 1 0 1\n";
  text += "2000 1 1 1 5\n2000 1 1 2 x\n";
  WriteFile(dir_ / "observed.txt", text);
  Zones({1}, {1.0}, 10.0);
  section_options o;
  o.descriptors = {"1 1"};
  EXPECT_THAT(ExpectCode(203, [&] { Make(RoutingSection(o)); }),
              HasSubstr("error analysing or reading observed.txt at row"));
}

// ---------------------------------------------------------------- lakes

TEST_F(RoutingModel, PrecipitationOnLakes) {
  // Two rows of two cells; the lake covers the cells (1,2) and (2,1).
  settings_.nrows = settings_.last_row = 2;
  settings_.ncols = 2;
  ranges_.assign(3, row_range{1, 2});
  settings_.row_ranges = ranges_.data();
  std::vector<std::vector<double>> cells = {{0, 0, 0}, {0, 1, 1}, {0, 1, 1}};
  std::vector<std::vector<double>> lakes = {{0, 0, 0}, {0, -9999, 3}, {0, 3, -9999}};
  std::vector<std::vector<double>> rain = {{0, 0, 0}, {0, 1.5, 2.5}, {0, 3.5, 4.5}};
  std::vector<double*> zone_rows, lake_rows, rain_rows;
  for (int r = 0; r < 3; ++r) {
    zone_rows.push_back(cells[static_cast<size_t>(r)].data());
    lake_rows.push_back(lakes[static_cast<size_t>(r)].data());
    rain_rows.push_back(rain[static_cast<size_t>(r)].data());
  }
  auto put = [&](int index, const char* grid, double** data) {
    grids_[index].name = grid;
    grids_[index].data = data;
  };
  put(1, "zonegrid", zone_rows.data());
  put(2, "lake_codes", lake_rows.data());
  put(3, "ponding_storage", rain_rows.data());
  put(4, "real_transpiration0", rain_rows.data());
  put(5, "precipitation", rain_rows.data());

  section_options o;
  o.after = "\n[lake_model]\n1 lakes on\n1\n2\n3\n0 readgrids\n";
  auto model = Make(RoutingSection(o), 0, 1);
  EXPECT_EQ(model->LakeSwitch(), 1);
  EXPECT_EQ(model->SkipInitialization(), 0);  // from "[lake_model]", not the read mode
  Link(*model);
  EXPECT_THAT(console_.str(), HasSubstr("lakeCellsPerMPIRank[0] 2"));
  EXPECT_THAT(console_.str(), HasSubstr("routing the initialization discharges"));
  Step(*model, 1);
  double** lake_input = grids_[6].data;
  ASSERT_EQ(grids_[6].name, "PrecOnLakes");
  EXPECT_EQ(lake_input[1][1], 0.0);
  EXPECT_EQ(lake_input[1][2], 2.5);
  EXPECT_EQ(lake_input[2][1], 3.5);
  EXPECT_EQ(lake_input[2][2], 0.0);
  model->CleanUp();
  EXPECT_FALSE(grids_[6].in_use());

  // Lake modelling needs the ponding grid.
  grids_[3].name = "other";
  auto without = Make(RoutingSection(o));
  EXPECT_THAT(ExpectCode(33, [&] { without->LinkInputGrids(false); }),
              HasSubstr("ponding_storage not found"));
}

}  // namespace
}  // namespace velmo
