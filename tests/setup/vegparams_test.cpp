// Vegetation parameter grids: code checks, values by day, dynamic phenology, per-cell formulas.
#include "setup/vegparams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;

constexpr double N = -9999.0;
using test::Rows;

// A set-up object with a hand-made domain: grids registered in the test,
// tables read from a control file of tests/data/vegparams.
class VegParamsTest : public test::SmallDomainTest {
 public:
  VegParamsTest() : SmallDomainTest(test::kNoDomain) {
    setup.DefaultOutputDirectory = std::make_unique<std::string>(dir.path().string() + "/");
  }
  ~VegParamsTest() override { setup.ReleaseVegetationGrids(); }

  void Domain(const Rows& zone, const Rows& elevation) {
    domain.SetZoneGrid(zone);
    Register("[elevation_model]", elevation);
  }
  double** Register(const std::string& name, const Rows& values) {
    return domain.AddGrid(name, values, name + ".asc");
  }
  double** Matrix(double value) { return domain.Matrix(value); }
  void ReadTables(const std::string& file) {
    setup.control_file_name = std::string(VELMO_TEST_DATA) + "/vegparams/" + file;
    setup.OpenControlFile();
    setup.ReadMultilayerLanduse();
    setup.ReadLanduseTable();
    setup.ReadSoilTable();
  }
  // The land-use part of set-up stages 13 and 14.
  void BuildParameterGrids() {
    const int landuse = setup.FindGrid("landuse", true);
    setup.CheckLanduseCodes(landuse);
    if (!setup.multilayer_table.empty()) {
      setup.CreateLanduseLayerGrids();
      setup.landuse_layer_count = setup.multilayer_table[1].LayerCount();
    } else {
      double** data = table[landuse].data;
      setup.landuse_layer_grids.assign({data, data});
      table[landuse].name = "landuse1";
      setup.landuse_layer_count = 1;
    }
    setup.generateMultiLayerParameterGrids(setup.landuse_layer_count);
  }
  double At(const std::string& name, int r, int c) {
    const int index = setup.FindGrid(name, true);
    EXPECT_GT(index, 0) << name;
    return index > 0 ? table[index].data[r][c] : NAN;
  }
  // One time step ending at `hour` of the date, with the soil model's grids.
  void Step(int hour, int day, int month, int year, double minutes) {
    setup.UpdateVegetationParameters(0, hour, day, month, year, minutes, soil_old, saturated,
                                     inactive_capacity, inactive_moisture);
  }
  // Daily steps for the days after (day, month, year) up to and including
  // the `count`th.
  void Days(int& day, int& month, int& year, int count) {
    for (int i = 0; i < count; ++i) {
      if (++day > DaysInMonth(month, year)) {
        day = 1;
        if (++month > 12) {
          month = 1;
          ++year;
        }
      }
      Step(24, day, month, year, 1440.0);
    }
  }
  void SoilGrids(double storage_old, double partition, double capacity, double moisture) {
    soil_old = Matrix(storage_old);
    saturated = Matrix(partition);
    inactive_capacity = Matrix(capacity);
    inactive_moisture = Matrix(moisture);
  }
  int Code(void (*action)(VegParamsTest&)) {
    return test::ThrownCode([&] { action(*this); });
  }

  double** soil_old = nullptr;
  double** saturated = nullptr;
  double** inactive_capacity = nullptr;
  double** inactive_moisture = nullptr;
};

// ---- two land uses, two layers, a soil table

const Rows kZone = {{N, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, N, 1}};
const Rows kElevation = {{N, 400, 1400, 0}, {450, 400, 400, 400}, {400, 400, N, 400}};
// Multilayer codes 20 (forest over meadow) and 30 (meadow only); 77 lies
// outside the catchment and matches nothing.
const Rows kLanduse = {{77, 20, 20, 20}, {20, 30, 30, 20}, {30, 20, 20, 30}};
const Rows kSoil = {{9, 3, 3, 4}, {3, 4, 4, 3}, {4, 3, 4, 4}};

class TwoLayerTest : public VegParamsTest {
 public:
  TwoLayerTest() {
    Domain(kZone, kElevation);
    Register("landuse", kLanduse);
    Register("soil_types", kSoil);
    Register("albedo", {{N, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}, {0.5, 0.5, N, 0.5}});
    // Given as a standard grid; the forest's mask leaves it to the grid.
    Register("root_depth1", {{0.5, 0.5, 0.005, 0.5}, {0.5, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}});
    setup.start_date = model_date{0, 0, 30, 5, 2023};  // day 150
    ReadTables("tables.txt");
    BuildParameterGrids();
    setup.check_SOIL_Codes(setup.FindGrid("soil_types", true));
  }
};

TEST_F(TwoLayerTest, CodesBecomePositionsAndLayerGridsHoldTheLanduseOfEachLayer) {
  const Rows landuse = {{77, 1, 1, 1}, {1, 2, 2, 1}, {2, 1, 1, 2}};
  const Rows layer1 = {{N, 1, 1, 1}, {1, 2, 2, 1}, {2, 1, N, 2}};
  const Rows layer2 = {{N, 2, 2, 2}, {2, N, N, 2}, {N, 2, N, N}};
  const Rows soil = {{9, 1, 1, 2}, {1, 2, 2, 1}, {2, 1, 2, 2}};
  for (int r = 1; r <= 3; ++r) {
    for (int c = 1; c <= 4; ++c) {
      EXPECT_EQ(At("landuse", r, c), landuse[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(At("landuse1", r, c), layer1[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(At("landuse2", r, c), layer2[r - 1][c - 1]) << r << "," << c;
      EXPECT_EQ(At("soil_types", r, c), soil[r - 1][c - 1]) << r << "," << c;
    }
  }
  EXPECT_EQ(setup.multilayer_table[1].layer_codes, (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(setup.multilayer_table[2].layer_codes, (std::vector<int>{2, 2, -9999}));
  EXPECT_EQ(setup.landuse_layer_count, 2);

  const std::string log = console.str();
  for (const char* entry :
       {"1.: checking codes in land use grid", "2.:replacing codes in land use grid landuse.asc",
        "20 replaced by 1 ...", "30 replaced by 2 ...",
        "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #1 from 10 to 1",
        "Code replacement in MultiLayer-Landuse 2: changed Layer-Code #1 from 11 to 2",
        "1.: checking soil type codes", "2.:replacing soil type codes soil_types.asc", "3 replaced by 1 ...",
        "4 replaced by 2 ..."}) {
    EXPECT_NE(log.find(entry), std::string::npos) << entry;
  }
}

TEST_F(TwoLayerTest, ParameterGridsHoldTheStartDateValuesOfEachCell) {
  // Day 150. Forest fix points 20 100 200 300 shifted 0.01 d/m above 400 m;
  // meadow fix points 1 120 240 366 without shift.
  struct expected {
    const char* grid;
    int r, c;
    double value;
  };
  const expected cases[] = {
      {"leaf_area_index1", 1, 2, 4.0},   // forest, 400 m: halfway between 2 (d 100) and 6 (d 200)
      {"leaf_area_index1", 1, 3, 3.6},   // forest, 1400 m: 110..210
      {"leaf_area_index1", 1, 4, 4.16},  // forest, 0 m: 96..196
      {"leaf_area_index1", 2, 1, 4.0},   // forest, 450 m: a shift of 0.5 day is none
      {"leaf_area_index1", 2, 2, 2.25},  // meadow: 2 (d 120) .. 3 (d 240)
      {"leaf_area_index2", 1, 2, 2.25},  // meadow under the forest
      {"leaf_area_index2", 2, 2, N},     // no second layer
      {"root_depth1", 1, 2, 0.5},        // the forest's mask keeps the given grid ...
      {"root_depth1", 1, 3, 0.01},       // ... within its limit
      {"root_depth1", 2, 2, 0.45},       // the meadow's mask takes the table
      {"root_depth2", 1, 2, 0.45},
      {"vegetation_coverage_degree2", 1, 2, 0.9},
      {"RoughnessLength1", 2, 2, 0.0225},
      {"SurfaceCanopyResistance1", 1, 2, 70.0},
      {"SurfaceIntercepResistance1", 1, 2, 20.0},
      {"albedo", 1, 2, 0.13},
      {"albedo", 1, 3, 0.128},
      {"albedo", 2, 2, 0.2625},
      {"albedo", 1, 1, N},  // outside: left as given
      {"SurfaceEvaporationResistance", 1, 2, 300.0},
      {"SurfaceEvaporationResistance", 2, 2, 200.0},
      {"SurfaceEvaporationResistance", 3, 3, N},
      {"VegetationStart1", 1, 2, -1.0},  // forest: the period starts at a fix point, not yet
      {"VegetationStart1", 2, 2, 0.0},   // meadow: no start point
      {"VegetationStop1", 1, 2, -1.0},
      {"VegetationDuration1", 1, 2, 0.0},
      {"VegetationDuration2", 3, 3, N},
  };
  for (const expected& e : cases)
    EXPECT_NEAR(At(e.grid, e.r, e.c), e.value, 1e-9) << e.grid << " " << e.r << "," << e.c;
  // Without a land use that needs them, no phenology grids exist.
  EXPECT_EQ(setup.FindGrid("TemperatureAVG", true), 0);
  EXPECT_EQ(setup.FindGrid("Pheno_start1", true), 0);
}

TEST_F(VegParamsTest, PositionalLanduseGivesItsStartDateValues) {
  // Multilayer code 40: the single-line land use 12 alone, at 400 m and at
  // 1400 m.
  Domain({{1, 1}}, {{400, 1400}});
  Register("landuse", {{40, 40}});
  Register("albedo", {{0.5, 0.5}});
  setup.start_date = model_date{0, 0, 30, 5, 2023};  // day 150
  ReadTables("tables.txt");
  BuildParameterGrids();
  ASSERT_EQ(At("landuse1", 1, 1), 3.0);

  // Fix points 30 110 210 300; the single-line form shifts the first two by
  // +0.025 and the last two by -0.025 day/m above 400 m. Day 150 lies 40/100
  // of the way from fix point 2 to 3 at 400 m, and 15/50 of the way from 135
  // to 185 at 1400 m. The resistances are monthly: on 30 May between May (62,
  // at the 15th) and June (93, at 15 + 31) at 15/31.
  struct expected {
    const char* grid;
    int c;
    double value;
  };
  const expected cases[] = {
      {"leaf_area_index1", 1, 2.0 * 0.6 + 7.0 * 0.4},
      {"leaf_area_index1", 2, 2.0 * 0.7 + 7.0 * 0.3},
      {"vegetation_coverage_degree1", 1, 0.4 * 0.6 + 0.9 * 0.4},
      {"root_depth1", 1, 0.5 * 0.6 + 1.0 * 0.4},
      {"RoughnessLength1", 1, 0.05 * 0.6 + 0.2 * 0.4},
      {"albedo", 1, 0.17},  // one value for the whole year
      {"SurfaceCanopyResistance1", 1, 62.0 * 16.0 / 31.0 + 93.0 * 15.0 / 31.0},
      {"SurfaceEvaporationResistance", 1, 62.0 * 16.0 / 31.0 + 93.0 * 15.0 / 31.0},
      {"SurfaceIntercepResistance1", 1, 20.0},  // the form gives none: the key form's default
      {"VegetationStart1", 1, 0.0},             // no start point
      {"VegetationStop1", 1, -1.0},
      {"VegetationDuration1", 1, 0.0},
      {"leaf_area_index2", 1, N},  // no second layer
  };
  for (const expected& e : cases) EXPECT_NEAR(At(e.grid, 1, e.c), e.value, 1e-9) << e.grid << " " << e.c;
}

TEST_F(TwoLayerTest, ParametersChangeOncePerDayOverTheSummer) {
  SoilGrids(0.0, 0.0, 0.0, 0.0);
  // A step that ends within the day counts the period but changes nothing else.
  Step(12, 31, 5, 2023, 720.0);
  EXPECT_DOUBLE_EQ(At("leaf_area_index1", 1, 2), 4.0);
  EXPECT_EQ(At("VegetationDuration1", 2, 2), 1.0);
  EXPECT_EQ(console.str().find("actual parameters"), std::string::npos);

  int day = 30, month = 5, year = 2023;
  Days(day, month, year, 90);  // 31 May .. 28 August (day 240)
  ASSERT_EQ(day, 28);
  EXPECT_NE(console.str().find("   actual parameters 28.8.2023 24. h"), std::string::npos);
  struct expected {
    const char* grid;
    int r, c;
    double value;
  };
  const expected cases[] = {
      {"leaf_area_index1", 1, 2, 5.2},             // 6 (d 200) .. 4 (d 300)
      {"leaf_area_index1", 1, 3, 5.4},             // 210 .. 310
      {"vegetation_coverage_degree2", 1, 2, 1.0},  // 1.2 at day 240, limited
      {"RoughnessLength1", 2, 2, 0.03},
      {"root_depth1", 1, 2, 1.0},  // the daily update takes the table whatever the mask
      // The forest's period starts on the day of fix point 2 or later: day 200
      // at 400 m, 210 at 1400 m; it counts every step from there.
      {"VegetationStart1", 1, 2, 200.0},
      {"VegetationStart1", 1, 3, 210.0},
      {"VegetationStop1", 1, 2, -1.0},
      {"VegetationDuration1", 1, 2, 41.0},
      {"VegetationDuration1", 1, 3, 31.0},
      // The meadow has neither start nor stop point: every step counts.
      {"VegetationStop1", 2, 2, 0.0},
      {"VegetationDuration1", 2, 2, 91.0},
      {"VegetationDuration1", 1, 1, N},
  };
  for (const expected& e : cases)
    EXPECT_NEAR(At(e.grid, e.r, e.c), e.value, 1e-9) << e.grid << " " << e.r << "," << e.c;
}

TEST_F(TwoLayerTest, RootZoneCapacityGrowsWithTheDeepestRoots) {
  Register("available_soil_moisture", {{N, 100, 100, 100}, {100, 100, 100, 100}, {100, 100, N, 100}});
  Register("soil_storage", {{N, 0.4, 0.4, 0.4}, {0.4, 0.4, 0.4, 0.4}, {0.4, 0.4, N, 0.4}});
  SoilGrids(0.0, 0.2, 150.0, 0.5);
  Step(24, 31, 5, 2023, 1440.0);

  // Forest over meadow: the deepest roots were the forest's 0.5 m (given
  // grid); they now take the table's 1 m, so the capacity doubles and the
  // inactive soil below gives up 100 of its 150 at its moisture 0.5.
  EXPECT_DOUBLE_EQ(At("available_soil_moisture", 1, 2), 200.0);
  EXPECT_DOUBLE_EQ(At("soil_storage", 1, 2), 0.45);
  EXPECT_DOUBLE_EQ(inactive_capacity[1][2], 50.0);
  EXPECT_DOUBLE_EQ(inactive_moisture[1][2], 0.5);
  EXPECT_DOUBLE_EQ(saturated[1][2], 0.6);
  EXPECT_DOUBLE_EQ(soil_old[1][2], 0.45);
  // Meadow alone: 0.45 m on day 150 to its value on day 151.
  const double depth = 0.4 * 89.0 / 120.0 + 0.6 * 31.0 / 120.0;
  EXPECT_DOUBLE_EQ(At("root_depth1", 2, 2), depth);
  EXPECT_NEAR(At("available_soil_moisture", 2, 2), 100.0 * depth / 0.45, 1e-9);
}

// ---- code checks

struct code_case {
  const char* label;
  std::vector<int> landuse_codes;
  std::vector<std::string> multilayer;  // record texts
  std::vector<int> soil_codes;
  Rows landuse;  // one row of three cells, the last outside
  Rows soil;
  int code;             // expected throw, 0 for none
  std::string message;  // part of the entry
  Rows landuse_after;
};

class CodeCheckTest : public VegParamsTest {
 public:
  void Run(const code_case& k) {
    console.str("");
    // A fresh table for every case.
    for (int index = 1; index < kGridTableLimit; ++index) table[index].SetInitialState();
    Domain({{1, 1, N}}, {{400, 400, N}});
    setup.landuse_table.assign(k.landuse_codes.size() + 1, landuse_table_entry{});
    for (size_t i = 0; i < k.landuse_codes.size(); ++i) setup.landuse_table[i + 1].code = k.landuse_codes[i];
    setup.multilayer_table.clear();
    if (!k.multilayer.empty()) setup.multilayer_table.resize(k.multilayer.size() + 1);
    for (size_t i = 0; i < k.multilayer.size(); ++i)
      setup.multilayer_table[i + 1].Parse(&ms, k.multilayer[i]);
    setup.soil_table.assign(k.soil_codes.size() + 1, soil_table_entry{});
    for (size_t i = 0; i < k.soil_codes.size(); ++i) setup.soil_table[i + 1].code = k.soil_codes[i];
    double** landuse = Register("landuse", k.landuse);
    Register("soil_types", k.soil);
    int thrown = 0;
    try {
      setup.CheckLanduseCodes(setup.FindGrid("landuse", true));
      setup.check_SOIL_Codes(setup.FindGrid("soil_types", true));
    } catch (ErrorCode code) {
      thrown = code;
    }
    EXPECT_EQ(thrown, k.code) << k.label << "\n" << console.str();
    EXPECT_NE(console.str().find(k.message), std::string::npos) << k.label << "\n" << console.str();
    if (!k.landuse_after.empty()) {
      for (int c = 1; c <= 3; ++c) EXPECT_EQ(landuse[1][c], k.landuse_after[0][c - 1]) << k.label << " " << c;
    }
  }
};

TEST_F(CodeCheckTest, ReplacesCodesByPositionsOnceAndRefusesUnknownOrFractionalCodes) {
  const std::string sep(71, '-');
  const code_case cases[] = {
      {"codes in order",
       {1, 2},
       {},
       {1},
       {{1, 2, 2}},
       {{1, 1, 1}},
       0,
       "2.:replacing codes in land use grid landuse.asc",
       {{1, 2, 2}}},
      {"codes replaced also outside, unknown outside kept",
       {10, 20},
       {},
       {1},
       {{10, 20, 99}},
       {{1, 1, 1}},
       0,
       "20 replaced by 2 ...",
       {{1, 2, 99}}},
      {"swapped codes are not replaced twice",
       {2, 1},
       {},
       {1},
       {{1, 2, 2}},
       {{1, 1, 1}},
       0,
       "1 replaced by 2 ...",
       {{2, 1, 1}}},
      {"land use missing from the table",
       {10, 11},
       {},
       {1},
       {{10, 12, 99}},
       {{1, 1, 1}},
       31,
       "\n" + sep +
           "\nland use 12 in grid landuse.asc (landuse)\nis not present in the land use table in the control "
           "file \n" +
           sep + "\n\n",
       {{10, 12, 99}}},
      {"fractional land-use code",
       {10, 11},
       {},
       {1},
       {{10.5, 10, 10}},
       {{1, 1, 1}},
       31,
       "land use 10.5 in grid",
       {}},
      {"land use missing from the multilayer table",
       {10, 11},
       {"20 a { Landuse_Layers = 10, 11; }"},
       {1},
       {{20, 21, 20}},
       {{1, 1, 1}},
       311,
       "land use 21 in grid landuse.asc (landuse)\nis not present in the multilayer-landuse-table in the "
       "control file "
       "\n",
       {}},
      {"layer code missing from the land-use table",
       {10, 11},
       {"20 a { Landuse_Layers = 10, 99; }"},
       {1},
       {{20, 20, 20}},
       {{1, 1, 1}},
       312,
       "Error: not all layer codes from landuse 20 from MultiLayer_Landuse-Table\nare present in the "
       "landuse-table in "
       "the control file: Here, code 99 is missing.\n",
       {}},
      {"empty first layer",
       {10, 11},
       {"20 a { Landuse_Layers = 10, 11; }", "30 b { Landuse_Layers = -9999, 10; }"},
       {1},
       {{20, 20, 20}},
       {{1, 1, 1}},
       312,
       "Here, line 2 contains -9999 as first layer code.\n",
       {}},
      {"empty second layer is valid",
       {10, 11},
       {"20 a { Landuse_Layers = 10, -9999; }"},
       {1},
       {{20, 20, 20}},
       {{1, 1, 1}},
       0,
       "20 replaced by 1 ...",
       {{1, 1, 1}}},
      {"soil type missing",
       {1},
       {},
       {3, 4},
       {{1, 1, 1}},
       {{3, 5, 3}},
       32,
       "\n" + sep +
           "\nsoil type 5 in grid soil_types.asc (soil_types)\nis not present in the control file \n" + sep +
           "\n\n",
       {}},
      {"fractional soil code", {1}, {}, {3, 4}, {{1, 1, 1}}, {{3.5, 4, 3}}, 32, "soil type 3.5 in grid", {}},
  };
  for (const code_case& k : cases) Run(k);
}

TEST_F(CodeCheckTest, CodesInOrderWriteNoReplacement) {
  Run({"in order",
       {1, 2},
       {},
       {1, 2},
       {{1, 2, 2}},
       {{2, 1, 7}},
       0,
       "2.:replacing soil type codes soil_types.asc",
       {{1, 2, 2}}});
  EXPECT_EQ(console.str().find("replaced by"), std::string::npos);
}

TEST_F(VegParamsTest, ParameterGridsNeedAnAlbedoGrid) {
  Domain(kZone, kElevation);
  Register("landuse", kLanduse);
  setup.start_date = model_date{0, 0, 30, 5, 2023};
  ReadTables("tables.txt");
  EXPECT_EQ(Code([](VegParamsTest& t) { t.BuildParameterGrids(); }), 12);
  EXPECT_NE(
      console.str().find("Albedo Grid not found for use within Landuse-Table.\n This grid must be read in as "
                         "standard or variable grid (there, it can be created automatically)"),
      std::string::npos);
}

// ---- dynamic phenology

class ForcingTest : public VegParamsTest {
 public:
  ForcingTest() {
    Domain({{1, 1}}, {{400, 400}});
    Register("landuse", {{12, 12}});
    Register("albedo", {{0, 0}});
    setup.start_date = model_date{0, 0, 1, 1, 2023};
    ReadTables("forcing.txt");
    BuildParameterGrids();
    SoilGrids(0.0, 0.0, 0.0, 0.0);
  }
  // Six-hourly steps through the days `first`..`last` of 2023 with the
  // daily mean temperatures of the two cells.
  void Season(int first, int last, double (*temperature)(int day, int cell)) {
    for (int d = first; d <= last; ++d) {
      int day = d, month = 1;
      while (day > DaysInMonth(month, 2023)) day -= DaysInMonth(month++, 2023);
      for (int c = 1; c <= 2; ++c) temperature_grid[1][c] = temperature(d, c);
      for (int hour = 6; hour <= 24; hour += 6) Step(hour, day, month, 2023, 360.0);
    }
  }
  double** temperature_grid = nullptr;
};

TEST_F(ForcingTest, VegetationStartFollowsTheForcingUnitsOfEachCell) {
  temperature_grid = Register("temperature", {{0, 0}});
  // Warmer cell 1 (10 degC) and cooler cell 2 (5 degC) from day 4 on.
  auto weather = [](int day, int cell) {
    if (day <= 3) return cell == 1 ? 3.0 * day + 3.0 : 0.0;  // 6, 9, 12
    return cell == 1 ? 10.0 : 5.0;
  };
  Season(1, 3, weather);
  // The 7-day mean over the three days so far.
  EXPECT_DOUBLE_EQ(At("TemperatureMOVAVG7", 1, 1), 9.0);
  EXPECT_DOUBLE_EQ(At("TemperatureAVG", 1, 1), 0.0);
  // A season without a given state starts with the start not yet found.
  EXPECT_EQ(At("Pheno_start1", 1, 1), -1.0);

  Season(4, 72, weather);
  // Forcing units from day 32: 28.4/(1+exp(-0.185(T-18.4))) a day, 4.956 at
  // 10 degC (above 100 on the 21st day) and 2.197 at 5 degC (46th day).
  EXPECT_EQ(At("Pheno_start1", 1, 1), 52.0);
  EXPECT_EQ(At("Pheno_start1", 1, 2), -1.0);
  // Full leaves 40 days after the start; before it the winter value holds.
  EXPECT_DOUBLE_EQ(At("leaf_area_index1", 1, 1), 0.5 + 3.5 * 20.0 / 40.0);
  EXPECT_DOUBLE_EQ(At("leaf_area_index1", 1, 2), 0.5);

  Season(73, 120, weather);
  EXPECT_EQ(At("Pheno_start1", 1, 2), 77.0);
  EXPECT_NEAR(At("leaf_area_index1", 1, 1), 4.0 - 3.5 * 28.0 / 208.0, 1e-12);
  EXPECT_NEAR(At("leaf_area_index1", 1, 2), 4.0 - 3.5 * 3.0 / 183.0, 1e-12);
  EXPECT_NEAR(At("SumOfForcingUnits1", 1, 1), 21 * SigmoidForcingUnit(10.0, 0.0), 1e-9);
}

TEST_F(ForcingTest, DynamicPhenologyNeedsATemperatureGrid) {
  EXPECT_EQ(Code([](VegParamsTest& t) { t.Step(6, 1, 1, 2023, 360.0); }), 33);
  EXPECT_NE(console.str().find(
                "could not find grid with label \"temperature\". \nThis grid must be present (either "
                "by interpolating or by reading or as standard grid) for using dynamic phenology"),
            std::string::npos);
}

TEST_F(VegParamsTest, LeafFallCountsColdDaysOncePerCellWhateverItsLayers) {
  Domain({{1}}, {{1400}});
  Register("landuse", {{40}});
  Register("albedo", {{0}});
  // A chilling sum carried over from an earlier run: the land use's own
  // season runs, not the first-season forcing.
  Register("SumOfChillingUnits1", {{0}});
  Register("SumOfChillingUnits2", {{0}});
  setup.start_date = model_date{0, 0, 1, 9, 2023};  // day 244, after the latest start
  ReadTables("leaffall.txt");
  BuildParameterGrids();
  ASSERT_FALSE(setup.landuse_table[1].forcing_active);
  // After the latest start day the start counts as found: 200 - 30.
  EXPECT_EQ(At("Pheno_start1", 1, 1), 170.0);
  // The start-time list of the cell: the table's days, fix point 4 shifted
  // by 0.01 day/m at 1400 m.
  const double* q = setup.parameter_grid_lists.start_times[1][1][1];
  EXPECT_EQ(std::vector<double>(q, q + 6), (std::vector<double>{0, 1, -1, 30, 290, 366}));

  double** average = table[setup.FindGrid("TemperatureAVG", true)].data;
  double** moving = table[setup.FindGrid("TemperatureMOVAVG7", true)].data;
  double** leaf_fall = table[setup.FindGrid("StartDayOfLeaveFall", true)].data;
  for (int day = 250; day <= 253; ++day) {
    average[1][1] = 3.0;
    moving[1][1] = 5.0;  // below the xylem-stop bound of 10
    setup.UpdatePhenology(day, 2);
    EXPECT_EQ(leaf_fall[1][1], 0.0) << day;
  }
  setup.UpdatePhenology(254, 2);  // the fifth cold day
  EXPECT_EQ(leaf_fall[1][1], 254.0);
  EXPECT_EQ(setup.parameter_grid_lists.movavg7_stack[1][1][0], 5.0);
  EXPECT_EQ(std::vector<double>(q, q + 6), (std::vector<double>{0, 1, 253, 253, 254, 330}));

  setup.ReleaseVegetationGrids();
  EXPECT_TRUE(std::filesystem::exists(dir / "MultipleStartTimes1_End"));
}

// Forcing thresholds (cell 1), no phenology (cell 2) and a chilling-based
// start (cell 3), from 2 January on.
class PhenologyGridsTest : public VegParamsTest {
 public:
  PhenologyGridsTest() { Domain({{1, 1, 1}}, {{400, 400, 400}}); }
  void Build() {
    Register("landuse", {{14, 15, 16}});
    Register("albedo", {{0, 0, 0}});
    setup.start_date = model_date{0, 0, 2, 1, 2023};
    ReadTables("thresholds.txt");
    BuildParameterGrids();
  }
};

TEST_F(PhenologyGridsTest, SeasonStateWithoutGivenGridsStartsAtZeroWithTheStartNotYetFound) {
  Build();
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(At("SumOfForcingUnits1", 1, c), 0.0) << c;
    EXPECT_EQ(At("SumOfChillingUnits1", 1, c), 0.0) << c;
    EXPECT_EQ(At("Pheno_start1", 1, c), -1.0) << c;
  }
  EXPECT_EQ(At("FStar_ForcingThreshold1", 1, 1), 0.0);
  EXPECT_EQ(At("FStar_ForcingThreshold1", 1, 2), 0.0);
  // A chilling-based land use without a carried-over sum begins with the
  // first-season forcing towards F*.
  EXPECT_EQ(At("FStar_ForcingThreshold1", 1, 3), 100.0);
  EXPECT_TRUE(setup.landuse_table[3].forcing_active);

  // Fix point 2 waits for its threshold of 0, which the forcing sum holds
  // from the start: it is reached on the first day it is searched, even a
  // day without degree-days.
  const double* q = setup.parameter_grid_lists.start_times[1][1][1];
  ASSERT_EQ(std::vector<double>(q, q + 5), (std::vector<double>{0, 1, -1, -1, -1}));
  table[setup.FindGrid("TemperatureAVG", true)].data[1][1] = -2.0;
  setup.UpdatePhenology(2, 1);
  EXPECT_EQ(std::vector<double>(q, q + 5), (std::vector<double>{0, 1, 2, -1, -1}));
}

TEST_F(PhenologyGridsTest, GivenPhenologyGridsKeepTheirValuesAndEmptyEntriesTakeTheNewGrid) {
  // A moving average carried over, with its 8-level stack (levels 0..7).
  double** given = Register("TemperatureMOVAVG7", {{7, 8, 9}});
  owned_stack levels(setup.Matrix3D(1, 1, 1, 3, kMovingAverageDays, 0));
  for (int c = 1; c <= 3; ++c)
    for (int d = 0; d <= kMovingAverageDays; ++d) levels.get()[1][c][d] = d;
  grid_entry& average = table[setup.FindGrid("TemperatureMOVAVG7", true)];
  average.layers = levels.get();
  average.layer_count = kMovingAverageDays;
  // A named entry that holds no grid yet.
  const int empty = table.FirstFreeEntry();
  setup.RegisterGrid(empty, "ser.asc", nullptr, nullptr, 0, "SurfaceEvaporationResistance", 0, 1, 1);
  Build();

  EXPECT_EQ(setup.parameter_grid_lists.temperature_movavg7, given);
  EXPECT_EQ(At("TemperatureMOVAVG7", 1, 2), 8.0);
  ASSERT_EQ(setup.parameter_grid_lists.movavg7_stack, levels.get());
  EXPECT_EQ(levels.get()[1][2][5], 5.0);

  ASSERT_EQ(setup.FindGrid("SurfaceEvaporationResistance", true), empty);
  ASSERT_NE(table[empty].data, nullptr);
  EXPECT_EQ(table[empty].data[1][2], 200.0);  // the meadow's default
  EXPECT_EQ(table[empty].file_name, "ser.asc");
  int named = 0;
  for (int index = 1; index < kGridTableLimit; ++index)
    named += table[index].name == "SurfaceEvaporationResistance" ? 1 : 0;
  EXPECT_EQ(named, 1);
  setup.ReleaseVegetationGrids();  // before the given stack goes
}

TEST_F(PhenologyGridsTest, CreatedMovingAverageWritesItsEightLevels) {
  Build();
  const grid_entry& average = table[setup.FindGrid("TemperatureMOVAVG7", true)];
  ASSERT_NE(average.layers, nullptr);
  setup.WriteStack("movavg7.txt", average.layers, average.layer_count, true, false, false);
  // A header of 12 lines, then every level of every cell on a line.
  std::istringstream text(test::ReadFile(dir / "movavg7.txt"));
  int lines = 0;
  for (std::string line; std::getline(text, line);) ++lines;
  EXPECT_EQ(lines, 12 + 3 * kMovingAverageLevels);
}

// ---- per-cell formulas

using VegetationFormulas = test::MessagesTest;

// A land-use record of the key block form.
landuse_table_entry Record(MessageStream& ms, const std::string& method, const std::string& keys) {
  landuse_table_entry record;
  record.ParseKeyBlock(
      &ms,
      "13 grass method " + method +
          " {\n RootDist = 1; TReduWet = 0.95; HReduDry = 3;\n Albedo = 0.2 0.2 0.2 0.2;\n"
          " rsc = 80 80 80 80; LAI = 1 1 1 1; Z0 = 1 1 1 1; VCF = 1 1 1 1; RootDepth = 1 1 1 1;\n"
          " AltDep = 0 0 0 0;\n" +
          keys + "\n}",
      method);
  return record;
}

TEST_F(VegetationFormulas, ForcingThresholdsMoveTheFixPointsOfMethod5) {
  const landuse_table_entry record =
      Record(ms, "DynamicPhenology_3",
             "JulDays = 1 100 200 366; ForcingThreshold = 0 50 0 0;\n"
             "DP1_t1_dorm = 1; DP1_T_Bf = 0; JDReset_TStart = 1; maxStartJDforDP1 = 1;");
  double forcing_sum = 0.0;
  std::vector<double> q = {0, 1, 100, 200, 366, 0};
  phenology_cell cell;
  cell.temperature = 1.0;  // one degree-day a day
  cell.forcing_sum = &forcing_sum;
  cell.start_times = q.data();
  ForcingThresholdStep(record, 1, cell);
  // Day 1: the fix points with a threshold that lie ahead wait for it.
  EXPECT_EQ(q, (std::vector<double>{0, 1, -1, -1, -1, 0}));
  EXPECT_EQ(forcing_sum, 0.0);
  for (int day = 2; day <= 50; ++day) ForcingThresholdStep(record, day, cell);
  EXPECT_EQ(q[2], -1.0);
  ForcingThresholdStep(record, 51, cell);  // 50 degree-days reach fix point 2
  EXPECT_EQ(q, (std::vector<double>{50, 1, 51, -1, -1, 0}));
  // A threshold of 0 is reached on the first day the search comes to it.
  ForcingThresholdStep(record, 52, cell);
  EXPECT_EQ(q, (std::vector<double>{0, 1, 51, 52, -1, 0}));
}

TEST_F(VegetationFormulas, SeasonResetReturnsTheStartListToTheTableDaysBeforeTheChillingPeriod) {
  const std::string forcing =
      "JulDays = 1 -1 40 300; F* = 100; DP1_t1_dorm = 32; DP1_T_Bf = 0; JDReset_TStart = 330;\n"
      "maxStartJDforDP1 = 200;";
  const std::string chilling =
      "DP2_t0_dorm = 300; DP2_t1_dorm = 32; DP2_T_Bf = 0; DP2_T_Bc = 5; DP2_Par_a = 200; DP2_Par_b = -0.05;";
  // Method 3, and method 4 in its first season; their lists exist when
  // another land use of the run needs start-time lists.
  for (const auto& [method, keys] :
       {std::pair{"DynamicPhenology_1", forcing}, std::pair{"DynamicPhenology_2", forcing + chilling}}) {
    landuse_table_entry record = Record(ms, method, keys);
    record.SetForcingActive(true);
    double forcing_sum = 120.0, pheno_start = 90.0, chilling_sum = 0.0, threshold = 100.0;
    std::vector<double> q = {0, 1, 90, 130, 300, 0};
    phenology_cell cell;
    cell.forcing_sum = &forcing_sum;
    cell.pheno_start = &pheno_start;
    cell.chilling_sum = &chilling_sum;
    cell.forcing_threshold = &threshold;
    cell.start_times = q.data();
    PhenologyStep(record, 330, cell);
    EXPECT_EQ(q, (std::vector<double>{0, 1, -1, 40, 300, 0})) << method;
    EXPECT_EQ(forcing_sum, 0.0) << method;
    EXPECT_EQ(pheno_start, -1.0) << method;
  }
}

TEST_F(VegetationFormulas, ChillingSumOverTheTurnOfTheYearFixesTheThresholdOfMethod4) {
  const landuse_table_entry record =
      Record(ms, "DynamicPhenology_2",
             "JulDays = 1 -1 40 300; F* = 100; DP1_t1_dorm = 32; DP1_T_Bf = 0; JDReset_TStart = 330;\n"
             "maxStartJDforDP1 = 200; DP2_t0_dorm = 300; DP2_t1_dorm = 32; DP2_T_Bf = 0; DP2_T_Bc = 5;\n"
             "DP2_Par_a = 200; DP2_Par_b = -0.05; DP2_Offset_1 = -3.4; DP2_Offset_2 = 12;");
  double forcing_sum = 0.0, pheno_start = 100.0, chilling_sum = 7.0, threshold = 1000.0;
  phenology_cell cell;
  cell.temperature = 5.0;  // a full chilling unit a day
  cell.forcing_sum = &forcing_sum;
  cell.pheno_start = &pheno_start;
  cell.chilling_sum = &chilling_sum;
  cell.forcing_threshold = &threshold;
  for (int day = 299; day <= 365; ++day) ChillingStep(record, day, cell);
  EXPECT_EQ(chilling_sum, 66.0);  // reset the day before 300, then days 300..365
  EXPECT_EQ(pheno_start, -1.0);   // reset on day 330
  for (int day = 1; day <= 31; ++day) ChillingStep(record, day, cell);
  EXPECT_EQ(chilling_sum, 97.0);
  EXPECT_DOUBLE_EQ(threshold, 200.0 * std::exp(-0.05 * 97.0));
  EXPECT_NEAR(threshold, 1.56568, 1e-5);
  EXPECT_EQ(pheno_start, -1.0);
  // Forcing since the reset (days 331..365 and 32) passes the new threshold.
  ChillingStep(record, 32, cell);
  EXPECT_DOUBLE_EQ(forcing_sum, 36 * SigmoidForcingUnit(5.0, 0.0));
  EXPECT_NEAR(forcing_sum, 36 * 2.19656, 1e-3);
  EXPECT_EQ(pheno_start, 32.0);
}

TEST_F(VegetationFormulas, ForcingAndChillingUnits) {
  EXPECT_NEAR(SigmoidForcingUnit(10.0, 0.0), 28.4 / (1.0 + std::exp(-0.185 * (10.0 - 18.4))), 1e-12);
  EXPECT_EQ(SigmoidForcingUnit(-1.0, 0.0), 0.0);
  EXPECT_EQ(SigmoidForcingUnit(0.0, 0.0), 0.0);
  // Hand-computed: half the maximum of 28.4 at 18.4 K above the base, nearly
  // all of it far above.
  struct forcing {
    double t, base, unit, tolerance;
  };
  for (const forcing& k :
       {forcing{18.4, 0.0, 14.2, 1e-12}, forcing{23.4, 5.0, 14.2, 1e-12}, forcing{10.0, 0.0, 4.95606, 1e-5},
        forcing{5.0, 0.0, 2.19656, 1e-5}, forcing{100.0, 0.0, 28.4, 1e-5}}) {
    EXPECT_NEAR(SigmoidForcingUnit(k.t, k.base), k.unit, k.tolerance) << k.t << " over " << k.base;
  }
  // Triangle from -3.4 over 1 at 5 down to 12.
  struct chill {
    double t, unit;
  };
  for (const chill& k : {chill{-5.0, 0.0}, chill{-3.4, 0.0}, chill{0.8, 0.5}, chill{5.0, 1.0},
                         chill{8.5, 0.5}, chill{12.0, 0.0}, chill{20.0, 0.0}}) {
    EXPECT_NEAR(TriangularChillingUnit(k.t, -3.4, 5.0, 12.0), k.unit, 1e-12) << k.t;
  }
  // Slopes without width give no division by zero.
  EXPECT_EQ(TriangularChillingUnit(5.0, 5.0, 5.0, 12.0), 0.0);
  EXPECT_EQ(TriangularChillingUnit(3.0, -3.4, 5.0, 5.0), (3.0 + 3.4) / 8.4);
  EXPECT_EQ(TriangularChillingUnit(6.0, -3.4, 5.0, 5.0), 0.0);
  EXPECT_EQ(ChillingDayThreshold(0.0, 100.0, -10.0), 100.0);
  EXPECT_NEAR(ChillingDayThreshold(std::exp(2.0), 100.0, -10.0), 80.0, 1e-12);
}

TEST_F(VegetationFormulas, RootZoneStepMovesWaterWithTheCapacity) {
  // Shrinking roots hand capacity and its water to the inactive soil.
  root_zone_state s{100.0, 0.6, 50.0, 0.2, 0.5};
  ASSERT_TRUE(RootZoneStep(s, 1.0, 0.5));
  EXPECT_DOUBLE_EQ(s.available, 50.0);
  EXPECT_DOUBLE_EQ(s.inactive_capacity, 100.0);
  EXPECT_DOUBLE_EQ(s.inactive_moisture, (50.0 * 0.6 + 50.0 * 0.2) / 100.0);
  EXPECT_DOUBLE_EQ(s.storage, 0.6);
  EXPECT_DOUBLE_EQ(s.saturated_partition, 0.0);
  // Growth beyond the inactive capacity: the root zone takes the inactive
  // soil with its water, and the rest of its new capacity starts empty.
  s = {100.0, 0.5, 20.0, 0.5, 0.0};
  ASSERT_TRUE(RootZoneStep(s, 1.0, 1.5));
  EXPECT_DOUBLE_EQ(s.available, 150.0);
  EXPECT_DOUBLE_EQ(s.storage, (0.5 * 20.0 + 0.5 * 100.0) / 150.0);
  EXPECT_EQ(s.inactive_capacity, 0.0);
  EXPECT_EQ(s.inactive_moisture, 1.0);
  // No capacity or no depth: nothing moves, nothing divides by zero.
  for (const auto& [available, old_depth, new_depth] :
       {std::tuple{0.0, 1.0, 2.0}, std::tuple{100.0, 0.0, 1.0}, std::tuple{100.0, N, 1.0}}) {
    root_zone_state z{available, 0.5, 10.0, 0.5, 0.5};
    EXPECT_FALSE(RootZoneStep(z, old_depth, new_depth));
    EXPECT_EQ(z.available, available);
    EXPECT_EQ(z.saturated_partition, 0.5);
  }
}

TEST_F(VegetationFormulas, RootZoneStepToFrozenGroundAndBack) {
  // Roots cut to nothing leave no capacity; its water waits in the inactive
  // soil until the roots grow back, by the soil's field capacity.
  root_zone_state s{100.0, 0.6, 50.0, 0.2, 0.5};
  ASSERT_TRUE(RootZoneStep(s, 1.0, 0.0));
  EXPECT_EQ(s.available, 0.0);
  EXPECT_DOUBLE_EQ(s.inactive_capacity, 150.0);
  EXPECT_DOUBLE_EQ(s.inactive_capacity * s.inactive_moisture, 70.0);
  EXPECT_EQ(s.saturated_partition, 0.5);
  // Without a field capacity nothing grows back.
  root_zone_state frozen = s;
  EXPECT_FALSE(RootZoneStep(frozen, 0.0, 1.0));
  EXPECT_EQ(frozen.available, 0.0);
  ASSERT_TRUE(RootZoneStep(s, 0.0, 0.4, 250.0));
  EXPECT_DOUBLE_EQ(s.available, 100.0);
  EXPECT_DOUBLE_EQ(s.inactive_capacity, 50.0);
  EXPECT_NEAR(s.available * s.storage + s.inactive_capacity * s.inactive_moisture, 70.0, 1e-12);
}

TEST_F(VegetationFormulas, RootZoneStepKeepsTheWaterOfRootZoneAndInactiveSoil) {
  // Root-zone water A * Y and inactive water IC * IM; the unsaturated share
  // (1 - SP) of the capacity scales with it.
  const auto water = [](const root_zone_state& s) {
    return s.available * s.storage + s.inactive_capacity * s.inactive_moisture;
  };
  const auto unsaturated = [](const root_zone_state& s) {
    return (1.0 - s.saturated_partition) * s.available;
  };
  struct zone_case {
    const char* what;
    root_zone_state state;
    double old_depth, new_depth;
  };
  const zone_case cases[] = {
      {"roots shrink", {100.0, 0.6, 50.0, 0.2, 0.5}, 1.0, 0.5},
      {"roots shrink above a dry inactive soil", {80.0, 0.9, 0.0, 0.0, 0.3}, 1.0, 0.1},
      {"roots grow within the inactive soil", {100.0, 0.4, 150.0, 0.5, 0.2}, 0.5, 1.0},
      {"roots grow into all of the inactive soil", {100.0, 0.3, 50.0, 0.7, 0.0}, 1.0, 1.5},
  };
  for (const zone_case& k : cases) {
    root_zone_state s = k.state;
    ASSERT_TRUE(RootZoneStep(s, k.old_depth, k.new_depth)) << k.what;
    EXPECT_NEAR(s.available, k.state.available * k.new_depth / k.old_depth, 1e-9) << k.what;
    EXPECT_NEAR(s.available + s.inactive_capacity, k.state.available + k.state.inactive_capacity, 1e-9)
        << k.what;
    EXPECT_NEAR(water(s), water(k.state), 1e-9) << k.what;
    EXPECT_NEAR(unsaturated(s), unsaturated(k.state), 1e-9) << k.what;
  }
  // Roots that outgrow the inactive soil take all of it with its water, and
  // the rest of the new capacity starts empty: the water stays, and the empty
  // pore space grows by that capacity (150 - 100 - 20).
  root_zone_state s{100.0, 0.5, 20.0, 0.5, 0.0};
  ASSERT_TRUE(RootZoneStep(s, 1.0, 1.5));
  EXPECT_NEAR(water(s), 60.0, 1e-9);
  EXPECT_NEAR((1.0 - s.storage) * s.available + (1.0 - s.inactive_moisture) * s.inactive_capacity,
              60.0 + 30.0, 1e-9);
  // Likewise from a root zone without inactive soil.
  s = {80.0, 0.3, 0.0, 1.0, 0.0};
  ASSERT_TRUE(RootZoneStep(s, 1.0, 1.7));
  EXPECT_NEAR(water(s), 24.0, 1e-9);
}

}  // namespace
}  // namespace velmo
