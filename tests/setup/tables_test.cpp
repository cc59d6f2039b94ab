// Land-use, soil and multilayer tables: reading, failures, values by day on every record.
#include "setup/tables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

#include "framework/diagnostics.h"
#include "setup/defltuzr.h"
#include "support/test_support.h"

namespace velmo {
namespace {

// What a parameter of a land use is looked up as.
enum class look_up { value, resistance, start, stop };
struct parameter {
  landuse_table_entry::value_list list;
  look_up kind;
};
constexpr parameter kAlbedo{&landuse_fix_point_lists::Albedo, look_up::value};
constexpr parameter kLeafAreaIndex{&landuse_fix_point_lists::LAI, look_up::value};
constexpr parameter kVegetationCover{&landuse_fix_point_lists::VCF, look_up::value};
constexpr parameter kRootDepth{&landuse_fix_point_lists::RootDepth, look_up::value};
constexpr parameter kRoughnessLength{&landuse_fix_point_lists::Z0, look_up::value};
constexpr parameter kCanopyResistance{&landuse_fix_point_lists::rsc, look_up::resistance};
constexpr parameter kInterceptionResistance{&landuse_fix_point_lists::rs_interception, look_up::resistance};
constexpr parameter kEvaporationResistance{&landuse_fix_point_lists::rs_evaporation, look_up::resistance};
constexpr parameter kVegetationStart{nullptr, look_up::start};
constexpr parameter kVegetationStop{nullptr, look_up::stop};

// A land use's parameter at a cell on a date, as the vegetation grids look
// it up: the cell's day (a root depth names the cell when its fix-point days
// fail), then the value; the monthly resistances need no fix-point days.
double LookUp(MessageStream* messages, const landuse_table_entry& record, parameter p, int day, int month,
              int year, double altitude, int layer = 1, int row = 1, int col = 1) {
  const landuse_cell_day date = LanduseDay(day, month, year);
  if (p.kind == look_up::resistance && record.Method() == kMethodMonthly)
    return record.ResistanceOn(p.list, LanduseMonthDay(messages, record, date, year));
  if (p.kind == look_up::start && record.veg_start_point == 0) return 0.0;
  if (p.kind == look_up::stop && record.veg_stop_point == 0) return 0.0;
  std::vector<int> days(record.fix_days.size() + 1);
  const landuse_cell_day at = LanduseCellDay(messages, record, date, year, layer, row, col, altitude, days,
                                             p.list == &landuse_fix_point_lists::RootDepth);
  switch (p.kind) {
    case look_up::value:
      return record.ValueOn(p.list, at);
    case look_up::resistance:
      return record.ResistanceOn(p.list, at);
    case look_up::start:
      return record.VegetationStartOn(at);
    case look_up::stop:
      return record.VegetationStopOn(at);
  }
  return 0.0;
}
// The same for a day of the year of 2001.
double LookUpDay(MessageStream* messages, const landuse_table_entry& record, parameter p, int day_of_year,
                 int layer, int row, int col, double altitude) {
  const std::array<int, 13> lengths = LanduseMonthLengths(2001);
  int month = 1;
  int day = day_of_year;
  while (month < 12 && day > lengths[static_cast<std::size_t>(month)])
    day -= lengths[static_cast<std::size_t>(month++)];
  return LookUp(messages, record, p, day, month, 2001, altitude, layer, row, col);
}

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kFixtureDir = std::string(VELMO_TEST_DATA) + "/tables/";

struct TablesTest : test::MessagesTest {
  std::unique_ptr<defaultini> WithControlText(const std::string& text) {
    WriteFile(dir / "control.intern", text);
    int error = 0;
    auto setup = std::make_unique<defaultini>(error, &ms, dir / "control.intern", 1, nullptr);
    console.str("");
    setup->OpenControlFile();
    return setup;
  }
  std::unique_ptr<defaultini> WithFixture(const std::string& name) {
    return WithControlText(ReadFile(kFixtureDir + name));
  }
  // The fixture's tables, read as the set-up does.
  std::unique_ptr<defaultini> FixtureTables() {
    auto setup = WithFixture("control.txt");
    try {
      setup->ReadMultilayerLanduse();
      setup->ReadLanduseTable();
      setup->ReadSoilTable();
    } catch (ErrorCode code) {
      ADD_FAILURE() << "code " << code << ": " << console.str();
    }
    return setup;
  }
};

// ---------------------------------------------------------------- reading

TEST_F(TablesTest, FixtureReadsIntoRecords) {
  auto setup = FixtureTables();
  EXPECT_THAT(console.str(), Not(HasSubstr("FATAL")));

  const auto& multi = setup->multilayer_table;
  ASSERT_EQ(multi.size(), 3u);
  EXPECT_EQ(multi[0].Code(), 2);
  EXPECT_EQ(multi[1].Code(), 1);
  EXPECT_EQ(multi[1].name, "mixed_stand");
  EXPECT_EQ(multi[1].LayerCount(), 2);
  EXPECT_THAT(multi[1].layer_codes, ElementsAre(2, 30, 20));
  EXPECT_EQ(multi[1].layer_codes_read, multi[1].layer_codes);
  EXPECT_EQ(multi[1].LayerCode(3), kNoLayerCode);
  EXPECT_EQ(multi[1].LayerCode(0), kNoLayerCode);
  EXPECT_DOUBLE_EQ(multi[1].k_extinct, 0.5);
  EXPECT_DOUBLE_EQ(multi[1].LAI_scale, 8.0);
  EXPECT_THAT(multi[2].layer_codes, ElementsAre(2, 11, -9999));
  EXPECT_DOUBLE_EQ(multi[2].k_extinct, 0.3);
  EXPECT_DOUBLE_EQ(multi[2].LAI_scale, 10.0);

  const auto& land = setup->landuse_table;
  ASSERT_EQ(land.size(), 5u);
  EXPECT_EQ(land[0].Code(), 4);
  // The positional first record gives the reset day 1, the grass the write day.
  EXPECT_EQ(land[0].veg_reset_day, 1);
  EXPECT_EQ(land[0].veg_write_day, 300);

  const landuse_table_entry& conifer = land[1];
  EXPECT_EQ(conifer.Code(), 10);
  EXPECT_EQ(conifer.Name(), "conifer");
  EXPECT_EQ(conifer.Method(), kMethodMonthly);
  EXPECT_EQ(conifer.FixPointCount(), 4);
  EXPECT_THAT(conifer.fix_days, ElementsAre(0, 1, 120, 240, 366));
  EXPECT_THAT(conifer.lists.Albedo, ElementsAre(0.12, 0.12, 0.12, 0.12, 0.12));
  EXPECT_THAT(conifer.lists.rsc, ElementsAre(100, 40, 100, 90, 80, 70, 60, 60, 70, 80, 90, 100, 100, 40));
  EXPECT_EQ(conifer.lists.rs_evaporation, conifer.lists.rsc);
  EXPECT_THAT(conifer.lists.rs_interception, ElementsAreArray(std::vector<double>(14, 20.0)));
  EXPECT_THAT(conifer.lists.LAI, ElementsAre(7, 4, 5, 6, 7));
  EXPECT_THAT(conifer.lists.RootDepth, ElementsAre(1.8, 1.5, 1.6, 1.7, 1.8));
  EXPECT_THAT(conifer.lists.AltDep, ElementsAre(-0.025, 0.025, 0.025, -0.025, -0.025));
  EXPECT_DOUBLE_EQ(conifer.TReduWet, 0.95);
  EXPECT_DOUBLE_EQ(conifer.ETPHamonFactor, 1.0);
  EXPECT_EQ(conifer.veg_write_day, 0);
  EXPECT_EQ(land[2].Name(), "meadow");
  EXPECT_THAT(land[2].lists.VCF, ElementsAre(0.5, 0.5, 0.8, 0.9, 0.5));

  const landuse_table_entry& grass = land[3];
  EXPECT_EQ(grass.Code(), 20);
  EXPECT_EQ(grass.Method(), kMethodVariableDayCount);
  EXPECT_DOUBLE_EQ(grass.RootDist, 1.0);
  EXPECT_DOUBLE_EQ(grass.TReduWet, 0.9);
  EXPECT_DOUBLE_EQ(grass.LimitReduWet, 0.5);
  EXPECT_DOUBLE_EQ(grass.HReduDry, 3.45);
  EXPECT_EQ(grass.internal_mask, 48);
  EXPECT_EQ(grass.internal_mask_text, "00110000");
  EXPECT_EQ(grass.UsesInternalParameter(kMaskLeafAreaIndex), kMaskLeafAreaIndex);
  EXPECT_EQ(grass.UsesInternalParameter(kMaskAlbedo), 0);
  EXPECT_DOUBLE_EQ(grass.IntercepCap, 0.35);
  EXPECT_EQ(grass.veg_start_point, 2);
  EXPECT_EQ(grass.veg_stop_point, 4);
  EXPECT_EQ(grass.veg_reset_day, 90);
  EXPECT_THAT(grass.fix_days, ElementsAre(-66, 1, 100, 200, 300));
  EXPECT_THAT(grass.lists.LAI, ElementsAre(1.5, 1, 2, 4, 1.5));
  EXPECT_THAT(grass.lists.rs_interception, ElementsAre(20, 20, 20, 20, 20));
  EXPECT_THAT(grass.lists.rs_evaporation, ElementsAre(200, 200, 200, 200, 200));
  EXPECT_EQ(grass.tillage_day_count, 2);
  EXPECT_THAT(grass.tillage_days, ElementsAre(-116, 100, 250));
  EXPECT_EQ(grass.cultivation, 2);  // "nonconserving" also holds "conserving"
  EXPECT_THAT(grass.SR_rough_coeff1, ElementsAre(0, 0.1, 0.2, 0.3));
  EXPECT_THAT(grass.SR_rough_coeff2, ElementsAre(0, 0.0198, 0.712, 0.142));
  EXPECT_DOUBLE_EQ(grass.SR_CropDistX, 0.3);
  EXPECT_DOUBLE_EQ(grass.SR_K_ST, 10.0);
  EXPECT_THAT(grass.lists.n_factor, ElementsAre(-9999.9, -9999.9, -9999.9, -9999.9, -9999.9));
  EXPECT_DOUBLE_EQ(grass.nf_thawing, -9999.9);
  EXPECT_DOUBLE_EQ(grass.ETPHamonFactor, 1.0);
  EXPECT_EQ(grass.ForcingThresholdAt(1), -1.0);
  EXPECT_EQ(grass.FixPointDay(5), -1);
  EXPECT_EQ(grass.AltitudeDependence(-1), 0.0);

  const landuse_table_entry& beech = land[4];
  EXPECT_EQ(beech.Method(), kMethodDynamicPhenology1);
  EXPECT_EQ(beech.start_point, 2);
  EXPECT_EQ(beech.StartOffset(), -1);
  EXPECT_DOUBLE_EQ(beech.FStar(), 250.0);
  EXPECT_EQ(beech.DP1_t1_dorm, 32);
  EXPECT_EQ(beech.maxStartJDforDP1, 150);
  EXPECT_DOUBLE_EQ(beech.ETPHamonFactor, 1.2);
  EXPECT_FALSE(beech.forcing_active);

  const auto& soil = setup->soil_table;
  ASSERT_EQ(soil.size(), 3u);
  EXPECT_EQ(soil[0].Code(), 2);
  EXPECT_EQ(soil[1].Code(), 3);
  EXPECT_EQ(soil[1].name, "loam");
  EXPECT_EQ(soil[1].LayerCount(), 0);
  EXPECT_DOUBLE_EQ(soil[1].DrainablePorosity(), 0.1);
  EXPECT_DOUBLE_EQ(soil[2].ksat_topmodel, 0.0001);
  EXPECT_DOUBLE_EQ(soil[2].suction, 100.0);
  EXPECT_DOUBLE_EQ(soil[2].DrainablePorosity(), 0.2);
}

TEST_F(TablesTest, SoilHorizonsGiveLayerValues) {
  auto setup = WithFixture("soil_horizons.txt");
  setup->ReadSoilTable();
  EXPECT_THAT(console.str(), HasSubstr("Soil layers for soil type 5 will be scaled by a factor of 2\n"));
  const auto& soil = setup->soil_table;
  ASSERT_EQ(soil.size(), 3u);

  const soil_table_entry& podzol = soil[1];
  EXPECT_EQ(podzol.horizon_count, 2);
  EXPECT_EQ(podzol.LayerCount(), 5);
  EXPECT_THAT(podzol.horizon_layers, ElementsAre(5, 2, 3));
  // "ksat" is not read from "ksat_topmodel", which stands before it.
  EXPECT_THAT(podzol.ksat, ElementsAre(0.00001, 0.00001, 0.00001, 0.000002, 0.000002, 0.000002));
  EXPECT_THAT(podzol.theta_sat, ElementsAre(0.45, 0.45, 0.45, 0.45, 0.45, 0.45));
  EXPECT_THAT(podzol.thickness, ElementsAre(0.2, 0.2, 0.2, 0.4, 0.4, 0.4));
  EXPECT_DOUBLE_EQ(podzol.total_depth, 1.6);
  EXPECT_DOUBLE_EQ(podzol.EvapMaxDepth, 0.1);  // thickness of layer 1 before scaling
  EXPECT_DOUBLE_EQ(podzol.Par_m[1], 0.2);
  EXPECT_DOUBLE_EQ(podzol.Par_m[5], 0.5);
  EXPECT_DOUBLE_EQ(podzol.log_KMinFrozenSoil, -27.631);
  EXPECT_THAT(podzol.grain_fractions, ElementsAre(0.3, 0.3, 0.3, 0.1, 0, 0, 0));
  EXPECT_DOUBLE_EQ(podzol.SU_PAR[3], 7.0);
  EXPECT_DOUBLE_EQ(podzol.PMacroThresh, 0.00001);
  EXPECT_DOUBLE_EQ(podzol.ksat_topmodel, 0.0002);
  EXPECT_DOUBLE_EQ(podzol.DrainablePorosity(), 0.2);
  EXPECT_DOUBLE_EQ(podzol.DryDensity[3], -1.0);
  EXPECT_DOUBLE_EQ(podzol.k_recession[0], 1.0);

  const soil_table_entry& clay = soil[2];
  EXPECT_EQ(clay.LayerCount(), 5);
  EXPECT_DOUBLE_EQ(clay.DrainablePorosity(), 0.1);
  EXPECT_DOUBLE_EQ(clay.ksat_topmodel, 0.00001);
  EXPECT_DOUBLE_EQ(clay.suction, 300.0);
  EXPECT_DOUBLE_EQ(clay.KMinFrozenSoil, -1.0);
  EXPECT_DOUBLE_EQ(clay.log_KMinFrozenSoil, -20.0);
  EXPECT_DOUBLE_EQ(clay.PMacroThresh, 1000.0 / 3600000.0);
  EXPECT_DOUBLE_EQ(clay.Par_tau[4], 0.4);
  EXPECT_DOUBLE_EQ(clay.MaxInterflowDepth, 2.0);
  EXPECT_DOUBLE_EQ(clay.ThicknessScaling, 1.0);
  EXPECT_THAT(console.str(), Not(HasSubstr("soil type 6 will be scaled")));
}

TEST_F(TablesTest, EmptyAndAbsentSections) {
  auto setup = WithControlText("[landuse_table]\n0\n[soil_table]\n\n  0  soil types\n");
  setup->ReadMultilayerLanduse();
  setup->ReadLanduseTable();
  setup->ReadSoilTable();
  EXPECT_TRUE(setup->multilayer_table.empty());
  ASSERT_EQ(setup->landuse_table.size(), 1u);
  EXPECT_EQ(setup->landuse_table[0].Code(), 0);
  EXPECT_EQ(setup->landuse_table[0].veg_reset_day, 1);
  EXPECT_EQ(setup->landuse_table[0].veg_write_day, 365);
  ASSERT_EQ(setup->soil_table.size(), 1u);
  EXPECT_EQ(console.str(), "");
}

// ---------------------------------------------------------------- failures

enum class table { landuse, soil, multilayer };

struct failure_case {
  const char* what;
  table reader;
  std::string text;
  int code;
  std::vector<std::string> entries;  // pieces of the console text, in order
};

const std::string kGrassHead = "[landuse_table]\n1\n20 grass method VariableDayCount {\n";
const std::string kGrassBody =
    "RootDist = 1; TReduWet = 0.9; HReduDry = 3;\n JulDays = 1 100 200 300;\n"
    " Albedo = 0.2 0.2 0.2 0.2; rsc = 80 80 80 80; LAI = 1 2 3 1; Z0 = 0.1 0.1 0.1 0.1;\n"
    " VCF = 1 1 1 1; RootDepth = 0.2 0.2 0.2 0.2; AltDep = 0 0 0 0;\n";
const std::string kPhenologyKeys =
    "F* = 100; DP1_t1_dorm = 30; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 150;\n";

std::string Grass(const std::string& body) { return kGrassHead + body + "}\n"; }
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t pos = text.find(from);
  return pos == std::string::npos ? text : text.replace(pos, from.size(), to);
}
std::string Phenology(const std::string& keyword, const std::string& days, const std::string& extra) {
  return Replaced(Replaced(Grass(kGrassBody + extra), "VariableDayCount", keyword), "1 100 200 300", days);
}
const std::string kHorizonRecord =
    "5 podzol method MultipleHorizons { layers = 1; ksat = 1e-5; theta_sat = 0.4; theta_res = 0.05;\n"
    " alpha = 1; Par_n = 1.5; thickness = 0.3; }\n";

std::vector<failure_case> FailureCases() {
  return {
      {"missing required key",
       table::landuse,
       Grass(Replaced(kGrassBody, "RootDist = 1; ", "")),
       29,
       {"parameter \"RootDist\" not found for land use 20\n",
        "landuse table code 20: some values could not be read\n{\nTReduWet"}},
      {"short list",
       table::landuse,
       Grass(Replaced(kGrassBody, "LAI = 1 2 3 1", "LAI = 1 2")),
       29,
       {"parameter \"LAI\" for land use 20 holds 2 values, but 4 are needed"}},
      {"not a number",
       table::landuse,
       Grass(Replaced(kGrassBody, "TReduWet = 0.9", "TReduWet = abc")),
       29,
       {"parameter \"TReduWet\" for land use 20 is not a number: \"abc\""}},
      {"mask without 0 or 1",
       table::landuse,
       Grass(kGrassBody + "useInternalParameters = x;\n"),
       29,
       {"must be a mask of the digits 0 and 1"}},
      {"fix point out of range",
       table::landuse,
       Grass(kGrassBody + "StopVegetationPeriodForBalance = 7;\n"),
       29,
       {"\"StopVegetationPeriodForBalance\" for land use 20 is 7, but it must be a fix point 0..4"}},
      {"cultivation",
       table::landuse,
       Grass(kGrassBody + "SR_cultivation = ploughed;\n"),
       29,
       {"no valid value for parameter \"SR_cultivation\" for land use 20\n",
        "some values could not be read"}},
      {"method 5 last day",
       table::landuse,
       Phenology("DynamicPhenology_3", "1 100 200 300", kPhenologyKeys + "ForcingThreshold = 0 10 20 0;"),
       29,
       {"Error in Landuse Table (Code: 20): for Method DynamicPhenology_3 the last sample day (JulDay) must "
        "be 366 "
        "and not 300\n"}},
      {"phenology key missing",
       table::landuse,
       Phenology("DynamicPhenology_1", "1 -1 30 300", Replaced(kPhenologyKeys, "F* = 100; ", "")),
       29,
       {"parameter \"F*\" not found for land use 20\n"}},
      {"phenology without start point",
       table::landuse,
       Phenology("DynamicPhenology_1", "1 100 200 300", kPhenologyKeys),
       29,
       {"for Method DynamicPhenology_1 one of the sample days (JulDays) before the last must be negative"}},
      {"positional entry too short",
       table::landuse,
       "[landuse_table]\n1\n10 conifer 0.12 40 100\n",
       29,
       {"value 6 (canopy resistance of month 3) of land use 10 is missing\n",
        "landuse table code 10: some values could not be read\n10 conifer 0.12 40 100\n"}},
      {"positional albedo",
       table::landuse,
       "[landuse_table]\n1\n10 conifer x 40\n",
       29,
       {"value 3 (albedo) of land use 10 is not a number: \"x\""}},
      {"section shorter than its count",
       table::landuse,
       Replaced(Grass(kGrassBody), "\n1\n", "\n3\n") + "[soil_table]\n0\n",
       29,
       {"[landuse_table]: the section ends after 1 of 3 records (record 2 is missing)\n"}},
      // A huge count is only a claim: the tables grow as records arrive, so
      // these end in the count error, not in an allocation of that size.
      {"huge count, one record",
       table::landuse,
       Replaced(Grass(kGrassBody), "\n1\n", "\n1000000000\n"),
       29,
       {"[landuse_table]: the section ends after 1 of 1000000000 records (record 2 is missing)\n"}},
      {"huge soil count",
       table::soil,
       "[soil_table]\n2147483647\n3 loam 25 35 0.00001 300\n",
       29,
       {"[soil_table]: the section ends after 1 of 2147483647 records (record 2 is missing)\n"}},
      {"huge multilayer count",
       table::multilayer,
       "[multilayer_landuse]\n1000000000\n1 a { Landuse_Layers = 10, 11; }\n",
       29,
       {"[multilayer_landuse]: the section ends after 1 of 1000000000 records (record 2 is missing)\n"}},
      {"block without closing brace",
       table::landuse,
       kGrassHead + kGrassBody + "[soil_table]\n",
       29,
       {"[landuse_table]: record 1 has no closing \"}\" before the end of the section\n"}},
      {"count is no number",
       table::landuse,
       "[landuse_table]\nfour land uses\n",
       29,
       {"[landuse_table]: the number of records must be a whole number of 0 or more, not \"four\""}},
      {"soil value missing",
       table::soil,
       "[soil_table]\n1\n3 loam 25 35 0.00001\n",
       29,
       {"value \"suction\" of soil type 3 is missing\n",
        "Soil table code 3: some values could not be read\n3 loam 25 35 0.00001\n"}},
      {"soil key missing",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "ksat = 1e-5; ", ""),
       29,
       {"parameter \"ksat\" not found for soil type 5\n",
        "Soil table code 5: some values could not be read\n{"}},
      // Layer counts that would overflow or take gigabytes per cell.
      {"soil layers overflow",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "layers = 1", "layers = 1 2147483647"),
       29,
       {"parameter \"layers\" of soil type 5: more than 1000 layers in all (horizon 2 adds \"2147483647\")\n",
        "Soil table code 5: some values could not be read\n{"}},
      {"soil layers huge",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "layers = 1", "layers = 100000000"),
       29,
       {"parameter \"layers\" of soil type 5: more than 1000 layers in all (horizon 1 adds "
        "\"100000000\")\n"}},
      {"soil layers above the limit in all",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "layers = 1", "layers = 600 401"),
       29,
       {"more than 1000 layers in all (horizon 2 adds \"401\")\n"}},
      {"soil method unknown",
       table::soil,
       "[soil_table]\n1\n5 podzol method Layers { layers = 1; }\n",
       29,
       {"soil table definition method unknown 5 podzol method Layers { layers = 1; }\n"}},
      {"soil thickness zero",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "thickness = 0.3", "thickness = 0"),
       29,
       {"parameter \"thickness\" of soil type 5 must be greater than 0"}},
      {"grain sizes sum",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "}", "GrainSizeDist = 0.3 0.3 0.3 0 0 0 0; }"),
       110,
       {"Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) must be 1.0\n soil "
        "type: 5\n{"}},
      {"grain sizes sand",
       table::soil,
       "[soil_table]\n1\n" + Replaced(kHorizonRecord, "}", "GrainSizeDist = 0 0.5 0.5 0 0 0 0; }"),
       110,
       {"Grainsize distribution: fraction of sand must be > 0 \nsoil type: 5\n"}},
      {"soil layer counts differ",
       table::soil,
       "[soil_table]\n2\n3 loam 25 35 0.00001 300\n" + kHorizonRecord,
       30,
       {"the numbers of soil layers has to be equal for all soil types\n(here: soil type 5: 1 layers, but "
        "soil type "
        "3: 0 layers)\n\n\n"}},
      {"soil section missing",
       table::soil,
       "[landuse_table]\n0\n",
       17,
       {"error in control file, [soil_table]; (EOF)not found!\n"}},
      {"multilayer without layer list",
       table::multilayer,
       "[multilayer_landuse]\n1\n1 forest { k_extinct = 0.5; }\n",
       29,
       {"[multilayer_landuse]: record 1 holds no \"Landuse_Layers\"\n1 forest { k_extinct = 0.5; }\n"}},
      {"multilayer layer code",
       table::multilayer,
       "[multilayer_landuse]\n1\n1 forest { Landuse_Layers = 10, ten; }\n",
       29,
       {"multilayer-landuse type 1: \"Landuse_Layers\" holds an item that is no whole number: \"ten\""}},
      {"multilayer layer counts differ",
       table::multilayer,
       "[multilayer_landuse]\n2\n1 a { Landuse_Layers = 10, 11; }\n2 b { Landuse_Layers = 10, 11, 12; }\n",
       111,
       {"\nThe numbers of landuse layers has to be equal for all multilayer-landuse types\n(here: "
        "multilayer-landuse "
        "type 2: 3 layers, but multilayer-landuse type 1: 2 layers)\n\n\n"}},
      {"multilayer without records",
       table::multilayer,
       "[multilayer_landuse]\n0\n",
       111,
       {"the table holds no multilayer-landuse type"}},
  };
}

TEST_F(TablesTest, FailuresGiveTheirEntriesAndCodes) {
  for (const failure_case& failure : FailureCases()) {
    SCOPED_TRACE(failure.what);
    auto setup = WithControlText(failure.text);
    const std::string output = ExpectCode(failure.code, [&] {
      switch (failure.reader) {
        case table::landuse:
          setup->ReadLanduseTable();
          break;
        case table::soil:
          setup->ReadSoilTable();
          break;
        case table::multilayer:
          setup->ReadMultilayerLanduse();
          break;
      }
    });
    std::size_t from = 0;
    for (const std::string& entry : failure.entries) {
      const std::size_t at = output.find(entry, from);
      EXPECT_NE(at, std::string::npos) << "missing: " << entry << "\nin: " << output;
      if (at != std::string::npos) from = at + entry.size();
    }
  }
}

TEST_F(TablesTest, LongTablesAndDeepProfilesAreRead) {
  // More records than are reserved up front: the table grows as they arrive.
  std::string text = "[soil_table]\n100\n";
  for (int i = 1; i <= 100; ++i)
    text += std::to_string(i) + " loam 25 35 0.00001 " + std::to_string(i) + "\n";
  auto setup = WithControlText(text);
  setup->ReadSoilTable();
  ASSERT_EQ(setup->soil_table.size(), 101u);
  EXPECT_EQ(setup->soil_table[0].Code(), 100);
  EXPECT_EQ(setup->soil_table[100].Code(), 100);
  EXPECT_DOUBLE_EQ(setup->soil_table[100].suction, 100.0);

  // The deepest profile taken: 1000 layers in all.
  setup = WithControlText("[soil_table]\n1\n" + Replaced(kHorizonRecord, "layers = 1", "layers = 600 400"));
  setup->ReadSoilTable();
  EXPECT_EQ(setup->soil_table[1].LayerCount(), 1000);
  EXPECT_EQ(setup->soil_table[1].ksat.size(), 1001u);
}

// ---------------------------------------------------------------- parameters by day

TEST(LanduseDays, DayOfYearFollowsTheCalendar) {
  landuse_table_entry record;
  struct {
    int day, month, year, expected;
  } const cases[] = {{29, 2, 2000, 60}, {31, 12, 2000, 366}, {31, 12, 1900, 365},
                     {1, 3, 2024, 61},  {31, 12, 2023, 365}, {1, 1, 2001, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(record.DayOfYear(nullptr, c.day, c.month, c.year), c.expected) << c.day << "." << c.month;
  }
}

TEST(LanduseDays, AltitudeCorrectionTruncatesTowardZero) {
  struct {
    int fix_day;
    double alt_dep, altitude, expected;
  } const cases[] = {{100, 0.025, 400.0, 100}, {100, 0.025, 1000.0, 115}, {100, 0.025, 0.0, 90},
                     {100, 0.025, 999.6, 114}, {100, 0.025, 0.4, 91},     {100, 0.01, 1400.0, 110},
                     {100, 0.01, 450.0, 100}};
  for (const auto& c : cases) {
    EXPECT_EQ(AltitudeCorrectedDay(c.fix_day, c.alt_dep, c.altitude), c.expected) << c.altitude;
  }
}

TEST_F(TablesTest, ParametersByDayWithAltitudeCorrection) {
  auto setup = FixtureTables();
  auto& land = setup->landuse_table;
  struct {
    const char* what;
    int record;
    parameter get;
    int day, month, year;
    double altitude, expected;
  } const cases[] = {
      // Fix days 1 120 240 366 shifted by 15 days at 1000 m: 16 135 225 351.
      {"between shifted fix points", 1, kLeafAreaIndex, 10, 4, 2001, 1000.0, 560.0 / 119.0},
      {"unshifted at 400 m", 1, kLeafAreaIndex, 10, 4, 2001, 400.0, 575.0 / 119.0},
      // After the last shifted fix point the value holds until the year's first
      // one instead of running past the fix-point values.
      {"no extrapolation over the year end", 1, kLeafAreaIndex, 26, 12, 2001, 1000.0, 7.0},
      {"root depth", 1, kRootDepth, 10, 4, 2001, 400.0, (1.5 * 20 + 1.6 * 99) / 119.0},
      // Day 350 between V[4] at -66 and V[1] at 1, d' = -16.
      {"across the year end", 3, kLeafAreaIndex, 16, 12, 2001, 400.0, 75.5 / 67.0},
      {"key block at 1000 m", 3, kLeafAreaIndex, 30, 5, 2001, 1000.0, 3.0},
      {"on a fix point", 3, kAlbedo, 10, 4, 2001, 400.0, 0.25},
      {"fix-point resistances", 3, kCanopyResistance, 30, 5, 2001, 400.0, 55.0},
      {"default interception resistance", 3, kInterceptionResistance, 30, 5, 2001, 400.0, 20.0},
      {"held before the vegetation start", 4, kLeafAreaIndex, 19, 2, 2001, 400.0, 0.3},
      {"held until the start day", 4, kLeafAreaIndex, 1, 9, 2001, 400.0, 0.3},
      // Monthly values at the 15th of each month.
      {"monthly on the 15th", 1, kCanopyResistance, 15, 3, 2001, 400.0, 90.0},
      {"monthly halfway", 1, kCanopyResistance, 1, 3, 2001, 400.0, 95.0},
      {"monthly from December", 1, kCanopyResistance, 14, 1, 2001, 400.0, 1300.0 / 31.0},
      {"monthly in a leap year", 1, kEvaporationResistance, 1, 3, 2000, 400.0, 2750.0 / 29.0},
      {"monthly interception", 1, kInterceptionResistance, 1, 3, 2001, 400.0, 20.0},
  };
  for (const auto& c : cases) {
    landuse_table_entry& record = land[static_cast<std::size_t>(c.record)];
    EXPECT_NEAR(LookUp(&ms, record, c.get, c.day, c.month, c.year, c.altitude), c.expected, 1e-12) << c.what;
  }
  EXPECT_THAT(console.str(), Not(HasSubstr("FATAL")));
}

TEST_F(TablesTest, PhenologyStartFromTheCellGrid) {
  auto setup = FixtureTables();
  landuse_table_entry& beech = setup->landuse_table[4];
  // Vegetation start on day 120 at cell (1, 2): the fix point after it lies
  // 30 days later.
  std::vector<double> row = {0.0, -1.0, 120.0};
  std::vector<double*> rows = {nullptr, row.data()};
  const layer_grid_list pheno = {nullptr, rows.data()};
  beech.SetPhenoStartGrids(&pheno);
  EXPECT_DOUBLE_EQ(LookUpDay(&ms, beech, kLeafAreaIndex, 135, 1, 1, 2, 400.0), 0.6 * 0.5 + 5.0 * 0.5);
  EXPECT_DOUBLE_EQ(LookUpDay(&ms, beech, kLeafAreaIndex, 100, 1, 1, 2, 400.0), 0.3);
  EXPECT_DOUBLE_EQ(LookUpDay(&ms, beech, kLeafAreaIndex, 135, 1, 1, 1, 400.0), 0.3);  // start not yet found

  // A model start after maxStartJDforDP1 (150) puts the start 30 days before it.
  beech.InitializeStart(&ms, 1, 3, 2001);
  EXPECT_TRUE(beech.forcing_active);
  EXPECT_EQ(beech.StartOffset(), -1);
  beech.InitializeStart(&ms, 1, 6, 2001);
  EXPECT_EQ(beech.StartOffset(), 120);
}

TEST_F(TablesTest, StartTimeListsOfTheCell) {
  auto setup = WithControlText(
      Phenology("DynamicPhenology_3", "1 100 200 366", kPhenologyKeys + "ForcingThreshold = 0 50 0 0;"));
  setup->ReadLanduseTable();
  landuse_table_entry& larch = setup->landuse_table[1];  // LAI 1 2 3 1
  // Cell (1, 1): level 0 the last threshold reached, levels 1..4 the fix-point
  // days, -1 = not yet reached.
  std::vector<double> start_times = {0.0, 1.0, -1.0, 200.0, 366.0};
  double* cells[] = {nullptr, start_times.data()};
  double** rows[] = {nullptr, cells};
  const layer_stack_list stacks = {nullptr, rows};
  std::vector<double> forcing_row = {0.0, 25.0};
  double* forcing_rows[] = {nullptr, forcing_row.data()};
  const layer_grid_list forcing = {nullptr, forcing_rows};
  larch.SetStartTimeLists(&stacks, 4);
  larch.SetForcingSumGrids(&forcing);

  // Fix point 2 follows the forcing sum: halfway to its threshold 50.
  EXPECT_DOUBLE_EQ(LookUpDay(&ms, larch, kLeafAreaIndex, 80, 1, 1, 1, 400.0), 1.5);
  // Reached on day 120: fix point 3 is interpolated by day.
  start_times[0] = 50.0;
  start_times[2] = 120.0;
  EXPECT_DOUBLE_EQ(LookUpDay(&ms, larch, kLeafAreaIndex, 160, 1, 1, 1, 400.0), 2.5);
  // A fix point not yet reached holds the value before it.
  start_times[3] = -1.0;
  EXPECT_DOUBLE_EQ(LookUpDay(&ms, larch, kLeafAreaIndex, 160, 1, 1, 1, 400.0), 2.0);
}

TEST_F(TablesTest, VegetationPeriodDays) {
  auto setup = FixtureTables();
  landuse_table_entry& grass = setup->landuse_table[3];  // start fix point 2 (day 100), stop 4 (day 300)
  EXPECT_EQ(LookUp(&ms, grass, kVegetationStart, 10, 4, 2001, 400.0, 1, 1, 1), 100.0);
  EXPECT_EQ(LookUp(&ms, grass, kVegetationStart, 9, 4, 2001, 400.0, 1, 1, 1), -1.0);
  EXPECT_EQ(LookUp(&ms, grass, kVegetationStart, 11, 4, 2001, 400.0, 1, 1, 1), -1.0);
  EXPECT_EQ(LookUp(&ms, grass, kVegetationStop, 27, 10, 2001, 400.0, 1, 1, 1), 300.0);
  EXPECT_EQ(LookUp(&ms, grass, kVegetationStop, 26, 10, 2001, 400.0, 1, 1, 1), -1.0);
  // The positional form names no start fix point.
  EXPECT_EQ(LookUp(&ms, setup->landuse_table[1], kVegetationStart, 10, 4, 2001, 400.0, 1, 1, 1), 0.0);
  EXPECT_EQ(LookUp(&ms, setup->landuse_table[1], kVegetationStop, 10, 4, 2001, 400.0, 1, 1, 1), -1.0);
}

TEST_F(TablesTest, EvaluationFailuresSayWhatIsWrong) {
  auto setup = FixtureTables();
  landuse_table_entry& conifer = setup->landuse_table[1];
  EXPECT_EQ(ExpectCode(150, [&] { conifer.DayOfYear(&ms, 33, 12, 2001); }),
            "land use 10: the date 33.12.2001 gives no day of the year between 0 and 366\n");
  EXPECT_THAT(ExpectCode(150, [&] { LookUp(&ms, conifer, kLeafAreaIndex, 1, 13, 2001, 400.0, 1, 1, 1); }),
              HasSubstr("the date 1.13.2001 gives no day of the year"));
  EXPECT_EQ(
      ExpectCode(154, [&] { LookUp(&ms, conifer, kCanopyResistance, 1, 13, 2001, 400.0, 1, 1, 1); }),
      "land use 10: the month 13 of the date 1.13.2001 lies outside 1..12 for the monthly resistances\n");
  // Fix day 1 shifted by -10 days at 0 m lies before day -1.
  EXPECT_EQ(ExpectCode(152, [&] { LookUp(&ms, conifer, kLeafAreaIndex, 10, 4, 2001, 0.0, 1, 1, 1); }),
            "\n---ERROR--\naltitude correction resulted in a Julian day of -9 for fix point 1 (JD should be "
            "between 1 and 366)\n");
  // A nan altitude gives no day at all.
  EXPECT_THAT(ExpectCode(152, [&] { LookUp(&ms, conifer, kLeafAreaIndex, 10, 4, 2001, NAN, 1, 1, 1); }),
              HasSubstr("Julian day of nan for fix point 1"));
  EXPECT_THAT(
      ExpectCode(152, [&] { LookUp(&ms, conifer, kRootDepth, 10, 4, 2001, 0.0, 1, 3, 4); }),
      HasSubstr("Julian day of -9 for fix point 1 (JD should be between 1 and 366)\nCoordinates: i=3, "
                "j=4\nLayer=1\nAltitude=0m\nJulday=100\nLanduse Code=10\nTStart=0\n"));
}

TEST(LanduseDays, InterpolationHoldsOutsideItsFixPoints) {
  EXPECT_DOUBLE_EQ(InterpolateByDay(10, 1.0, 20, 3.0, 15), 2.0);
  EXPECT_DOUBLE_EQ(InterpolateByDay(10, 1.0, 20, 3.0, 5), 1.0);
  EXPECT_DOUBLE_EQ(InterpolateByDay(10, 1.0, 20, 3.0, 25), 3.0);
  EXPECT_DOUBLE_EQ(InterpolateByDay(10, 1.0, 10, 3.0, 10), 1.0);  // coinciding fix points
  EXPECT_DOUBLE_EQ(InterpolateByDay(10, 1.0, -1, 3.0, 12), 1.0);  // next fix point not yet reached
}

// ---------------------------------------------------------------- every record, every day

// Digest of a series of evaluations: FNV-1a over the bits of each value, a
// thrown code counting as a word of its own.
class series_digest {
 public:
  void Add(double value) { Mix(std::bit_cast<std::uint64_t>(value)); }
  void AddCode(int code) { Mix(kCodeMark + static_cast<std::uint64_t>(code)); }
  std::string Hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
    return text;
  }

 private:
  static constexpr std::uint64_t kCodeMark = 0xC0DE000000000000ull;
  void Mix(std::uint64_t word) {
    for (int byte = 0; byte < 8; ++byte) {
      hash_ ^= (word >> (8 * byte)) & 0xffu;
      hash_ *= 1099511628211ull;
    }
  }
  std::uint64_t hash_ = 14695981039346656037ull;
};

// The land-use tables of the test data, and the cells they are evaluated at:
// altitudes below, at and above the reference (0 m moves some fix points out
// of the year), a vegetation start not yet found and one on day 120, and a
// leap and a common year.
const char* const kTableFiles[] = {"tables/control.txt", "vegparams/tables.txt", "vegparams/forcing.txt",
                                   "vegparams/leaffall.txt", "vegparams/thresholds.txt"};
constexpr double kAltitudes[] = {0.0, 400.0, 1000.0, 1537.5};
constexpr int kYears[] = {2000, 2001};
constexpr int kFoundStart = 120;

// The parameters of a record.
const parameter kOperations[] = {
    kAlbedo,           kLeafAreaIndex,          kVegetationCover,       kRootDepth,       kRoughnessLength,
    kCanopyResistance, kInterceptionResistance, kEvaporationResistance, kVegetationStart, kVegetationStop,
};

// A value of a record at a cell of `altitude` with the vegetation start
// `start` (-1: not yet found) on a date; throws the code of a failure.
using evaluation = std::function<double(landuse_table_entry& record, const parameter& operation, int day,
                                        int month, int year, double altitude, int start)>;

// The record's look-up, as the vegetation grids take it, reading the start
// from the cell grid.
double RecordLookUp(landuse_table_entry& record, const parameter& operation, int day, int month, int year,
                    double altitude, int /*start*/) {
  return LookUp(nullptr, record, operation, day, month, year, altitude);
}

// The pure functions, as a module looks a value up: the cell's fix-point
// days, then the value of the day.
double PureLookUp(landuse_table_entry& record, const parameter& operation, int day, int month, int year,
                  double altitude, int start) {
  if (operation.kind == look_up::resistance && record.Method() == kMethodMonthly) {
    return MonthlyValue(record.lists.*operation.list, LanduseMonthLengths(year), day, month);
  }
  if (operation.kind == look_up::start && record.veg_start_point == 0) return 0.0;
  if (operation.kind == look_up::stop && record.veg_stop_point == 0) return 0.0;
  std::vector<int> days(record.fix_days.size());
  const fix_point_day_failure failure = CorrectFixPointDays(record.fix_days, record.lists.AltDep, altitude,
                                                            record.StartHoldPoint(), start, days);
  if (failure.point > 0) throw ErrorCode{kAltitudeCorrectionErrorCode};
  const int day_of_year = DayOfYearOfDate(day, month, year);
  switch (operation.kind) {
    case look_up::start:
      return VegetationStartOnDay(days, day_of_year, record.veg_start_point, record.veg_stop_point);
    case look_up::stop:
      return VegetationStopOnDay(days, day_of_year, record.veg_stop_point);
    default:
      return FixPointValue(record.lists.*operation.list, days, day_of_year, record.StartHoldPoint());
  }
}

// One line per record, altitude, vegetation start and year: the digest of
// each operation's values on every day of the year.
std::string Digests(const evaluation& evaluate) {
  std::ostringstream out;
  for (const char* file : kTableFiles) {
    TempDir dir;
    WriteFile(dir / "control.intern", ReadFile(std::string(VELMO_TEST_DATA) + "/" + file));
    std::ostringstream console;
    MessageStream ms{dir / "diag.xml", 4, console};
    int error = 0;
    defaultini setup(error, &ms, dir / "control.intern", 1, nullptr);
    setup.OpenControlFile();
    setup.ReadLanduseTable();
    for (std::size_t k = 1; k < setup.landuse_table.size(); ++k) {
      landuse_table_entry& record = setup.landuse_table[k];
      std::vector<int> starts = {-1};
      if (record.UsesStartHold()) starts.push_back(kFoundStart);
      for (const double altitude : kAltitudes) {
        for (const int start : starts) {
          // The cell (1, 1) of layer 1 holds the vegetation start.
          std::vector<double> start_row = {0.0, static_cast<double>(start)};
          std::vector<double*> start_rows = {nullptr, start_row.data()};
          const layer_grid_list start_grids = {nullptr, start_rows.data()};
          record.SetPhenoStartGrids(start >= 0 ? &start_grids : nullptr);
          for (const int year : kYears) {
            out << file << " " << k << " " << altitude << " " << start << " " << year;
            for (const parameter& operation : kOperations) {
              series_digest digest;
              for (int month = 1; month <= 12; ++month) {
                for (int day = 1; day <= DaysInMonth(month, year); ++day) {
                  try {
                    digest.Add(evaluate(record, operation, day, month, year, altitude, start));
                  } catch (ErrorCode code) {
                    digest.AddCode(code);
                  }
                }
              }
              out << " " << digest.Hex();
            }
            out << "\n";
          }
          record.SetPhenoStartGrids(nullptr);
        }
      }
    }
  }
  return out.str();
}

const std::string kDigestFile = std::string(VELMO_TEST_DATA) + "/tables/landuse_days.txt";

// The digests were taken from the record's date operations before they gave
// way to the look-up of a cell's day; the record's look-up and the pure
// functions must still give those values bit for bit.
TEST(LanduseDays, EveryRecordOfTheTestTablesGivesItsKnownValuesOnEveryDay) {
  const std::string known = ReadFile(kDigestFile);
  for (const auto& [what, evaluate] : {std::pair<const char*, evaluation>{"record look-up", RecordLookUp},
                                       std::pair<const char*, evaluation>{"pure look-up", PureLookUp}}) {
    const std::string computed = Digests(evaluate);
    EXPECT_EQ(computed, known) << what << ", computed digests:\n" << computed;
  }
}

}  // namespace
}  // namespace velmo
