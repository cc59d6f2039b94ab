// Snow evaporation and real evapotranspiration of the evapotranspiration
// model on a small domain: the potential rates set by hand meet the snow,
// the glacier's snow, the soil and a lake's ponded water.
#include <gtest/gtest.h>

#include "landsurface/et_fixture.h"

namespace velmo {
namespace {

using test::et_section;
using test::Evapotranspiration;

constexpr double kTol = 1e-12;
constexpr double kNone = -1.0;  // the grid is not there

// ---------------------------------------------------------------- snow evaporation

struct snow_case {
  const char* label;
  int snow_method;
  double snow, glacier_share, glacier_snow;
  double evaporation, snow_after, transpiration_after, soil_after, glacier_evaporation, glacier_snow_after;
};
void PrintTo(const snow_case& k, std::ostream* os) { *os << k.label; }

class SnowEvaporation : public Evapotranspiration, public ::testing::WithParamInterface<snow_case> {};

// Potential transpiration 3 mm and soil evaporation 1 mm.
TEST_P(SnowEvaporation, TakesTheRatesFromTheSnowFirst) {
  const snow_case& k = GetParam();
  double** snow = AddGrid("snow", k.snow);
  if (k.glacier_share != kNone) {
    AddGrid("GlacierizedCells", k.glacier_share);
    AddGrid("SnowEvaporation_onGlacier", 0.0);
    AddGrid("TotalSnowStorage_onGlacier", 0.0);
    if (k.glacier_snow != kNone) AddGrid("SolidSnowStorage_onGlacier", k.glacier_snow);
  }
  et_section v;
  v.method = 2;
  auto module = Build(v);
  module->SetSnowStorageGrid(snow);
  module->SetSnowMethod(k.snow_method);
  Data("pot_transpiration1")[1][1] = 3.0;
  Data("potential_evaporation")[1][1] = 1.0;
  module->SnowEvaporation(0, 24, 15, 1, 2000);

  EXPECT_NEAR(Cell("snow_evaporation"), k.evaporation, kTol);
  EXPECT_NEAR(snow[1][1], k.snow_after, kTol);
  EXPECT_NEAR(Cell("pot_transpiration1"), k.transpiration_after, kTol);
  EXPECT_NEAR(Cell("potential_evaporation"), k.soil_after, kTol);
  if (k.glacier_share != kNone) {
    EXPECT_NEAR(Cell("SnowEvaporation_onGlacier"), k.glacier_evaporation, kTol);
    if (k.glacier_snow != kNone) {
      EXPECT_NEAR(Cell("SolidSnowStorage_onGlacier"), k.glacier_snow_after, kTol);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnowEvaporation,
    ::testing::Values(snow_case{"snow 2 mm", 1, 2.0, kNone, kNone, 2.0, 0.0, 1.0, 1.0, 0.0, 0.0},
                      snow_case{"snow 5 mm", 1, 5.0, kNone, kNone, 4.0, 1.0, 0.0, 0.0, 0.0, 0.0},
                      snow_case{"method 6 with snow", 6, 2.0, kNone, kNone, 0.0, 2.0, 0.0, 0.0, 0.0, 0.0},
                      snow_case{"method 6 without snow", 6, 0.0, kNone, kNone, 0.0, 0.0, 3.0, 1.0, 0.0, 0.0},
                      // The glacier's snow meets what the snow left, without lowering it.
                      snow_case{"half glacierised", 1, 2.0, 0.5, 10.0, 2.0, 0.0, 1.0, 1.0, 2.0, 8.0},
                      snow_case{"under ice", 1, 2.0, 1.0, 10.0, 0.0, 2.0, 3.0, 1.0, 4.0, 6.0},
                      // Without snow of its own on the glacier share the
                      // cover lies over the whole cell; only its glacier-free
                      // half evaporates from it.
                      snow_case{"no glacier snow grid", 1, 2.0, 0.5, kNone, 3.0, 0.5, 1.0, 0.0, 0.0, 0.0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// ---------------------------------------------------------------- real evapotranspiration

struct real_case {
  const char* label;
  bool two_layers;
  double theta, capacity, transpiration, soil, ponding, glacier_share;
  double real1, real2, evaporation, theta_after, ponding_after;
};
void PrintTo(const real_case& k, std::ostream* os) { *os << k.label; }

class RealEvapotranspiration : public Evapotranspiration, public ::testing::WithParamInterface<real_case> {};

// Each present layer has the same potential; the cell has 0.3 mm of
// interception evaporation and 0.2 mm of snow evaporation.
TEST_P(RealEvapotranspiration, SoilMoistureAndOpenWaterLimitTheRates) {
  const real_case& k = GetParam();
  if (k.two_layers) UseTwoLayers();
  AddGrid("soil_storage", k.theta);
  AddGrid("available_soil_moisture", k.capacity);
  if (k.ponding != kNone) {
    AddGrid("lake_codes", 1.0);
    AddGrid("ponding_storage", k.ponding);
  }
  if (k.glacier_share != kNone) AddGrid("GlacierizedCells", k.glacier_share);
  AddGrid("interception_evaporation0", 0.3);
  et_section v;
  v.method = 1;
  auto module = Make<verdunstungsmodellklasse>(Section(v) + "[lake_model]\n1\n1\n0.05\n0.001\n");
  module->LinkSoilGrids();
  module->InitLakeModel("[lake_model]");
  const int layers = k.two_layers ? 2 : 1;
  for (int l = 1; l <= layers; ++l) Data(LayerGridName("pot_transpiration", l))[1][1] = k.transpiration;
  Data("potential_evaporation")[1][1] = k.soil;
  Data("snow_evaporation")[1][1] = 0.2;
  module->RealEvapotranspiration(0, 24, 15, 7, 2000);

  EXPECT_NEAR(Cell("real_transpiration1"), k.real1, kTol);
  if (k.two_layers) {
    EXPECT_NEAR(Cell("real_transpiration2"), k.real2, kTol);
  }
  EXPECT_NEAR(Cell("real_evaporation"), k.evaporation, kTol);
  EXPECT_NEAR(Cell("soil_storage"), k.theta_after, kTol);
  const double transpiration = k.real1 + k.real2;
  if (k.glacier_share < 1.0) {
    EXPECT_NEAR(Cell("real_transpiration0"), transpiration + 0.3 + 0.2 + k.evaporation, kTol);
  } else {
    EXPECT_EQ(Cell("real_transpiration0"), 0.0);  // a cell under ice keeps the zeros of the potential step
  }
  // What left the soil and the pond is what evaporated from them, the rates
  // of a glacierised cell being depths over its glacier-free share.
  double ponded = 0.0;
  if (k.ponding != kNone) {
    EXPECT_NEAR(Cell("ponding_storage"), k.ponding_after, kTol);
    ponded = k.ponding - k.ponding_after;
  }
  const double free = k.glacier_share == kNone ? 1.0 : 1.0 - k.glacier_share;
  EXPECT_NEAR((k.theta - Cell("soil_storage")) * k.capacity + ponded, free * (transpiration + k.evaporation),
              kTol);
  EXPECT_EQ(Cell("real_transpiration0", settings_.nrows, 1), kNodata);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RealEvapotranspiration,
    ::testing::Values(
        real_case{"theta 0.3 halves the potential", false, 0.3, 100.0, 2.0, 0.5, kNone, kNone, 1.0, 0.0, 0.5,
                  0.285, 0.0},
        real_case{"theta 0.005", false, 0.005, 100.0, 2.0, 0.0, kNone, kNone, 1.0 / 60.0, 0.0, 0.0,
                  0.005 - 1.0 / 6000.0, 0.0},
        real_case{"the soil runs dry", false, 0.005, 100.0, 60.0, 0.5, kNone, kNone, 0.5, 0.0, 0.0, 0.0, 0.0},
        real_case{"no capacity", false, 0.4, 0.0, 2.0, 0.5, kNone, kNone, 0.0, 0.0, 0.0, 0.4, 0.0},
        real_case{"lake cell", false, 0.3, 100.0, 4.0, 0.5, 10.0, kNone, 4.0, 0.0, 0.0, 0.3, 6.0},
        // A lake's bed is no store of the soil: it evaporates nothing.
        real_case{"lake cell running low", false, 0.3, 100.0, 4.0, 0.5, 1.5, kNone, 1.5, 0.0, 0.0, 0.3, 0.0},
        real_case{"lake cell with 1 mm", false, 0.3, 100.0, 4.0, 0.5, 1.0, kNone, 0.0, 0.0, 0.0, 0.3, 1.0},
        real_case{"two layers, the soil evaporates once", true, 0.7, 100.0, 1.0, 0.5, kNone, kNone, 1.0, 1.0,
                  0.5, 0.675, 0.0},
        // The soil of a half glacierised cell feeds the glacier-free half's rates.
        real_case{"half glacierised", false, 0.3, 100.0, 2.0, 0.5, kNone, 0.5, 1.0, 0.0, 0.5, 0.2925, 0.0},
        real_case{"under ice", false, 0.3, 100.0, 2.0, 0.5, kNone, 1.0, 0.0, 0.0, 0.0, 0.3, 0.0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(Evapotranspiration, TotalCountsTheInterceptionOnceItsGridExists) {
  AddGrid("soil_storage", 0.8);
  AddGrid("available_soil_moisture", 100.0);
  auto module = Build(et_section{});
  module->LinkSoilGrids();
  Data("pot_transpiration1")[1][1] = 1.0;
  module->RealEvapotranspiration(0, 24, 15, 7, 2000);
  EXPECT_NEAR(Cell("real_transpiration0"), 1.0, kTol);
  AddGrid("interception_evaporation0", 0.3);
  module->RealEvapotranspiration(0, 24, 16, 7, 2000);
  EXPECT_NEAR(Cell("real_transpiration0"), 1.3, kTol);
}

TEST_F(Evapotranspiration, EnergyBalanceSnowShowsItsSublimationInTheSnowEvaporationTable) {
  // The snow step of method 5 sublimates 0.4 mm, after the snow
  // evaporation step: the table shows it, and the total counts it once.
  AddGrid("soil_storage", 0.8);
  AddGrid("available_soil_moisture", 100.0);
  double** snow = AddGrid("snow", 20.0);
  et_section v;
  v.stat_code = 1001;
  auto module = Build(v);
  module->LinkSoilGrids();
  module->SetSnowStorageGrid(snow);
  module->SetSnowMethod(5);
  double** evaporation = Data("snow_evaporation");
  for (int step = 1; step <= 2; ++step) {
    module->SnowEvaporation(0, 24, step, 2, 2000);
    for (int r = 1; r <= settings_.nrows; ++r)
      for (int c = 1; c <= settings_.ncols; ++c) evaporation[r][c] = step == 1 ? 0.4 : -0.1;
    module->RealEvapotranspiration(0, 24, step, 2, 2000);
    EXPECT_NEAR(Cell("real_transpiration0"), evaporation[1][1], kTol);
  }
  module->FlushBuffers();
  const std::string table = test::ReadFile(dir_ / "esnow.stat");
  EXPECT_NE(table.find("2000\t 2\t 1\t24\t0.40000"), std::string::npos) << table;
  EXPECT_NE(table.find("2000\t 2\t 2\t24\t-0.10000"), std::string::npos) << table;
}

TEST_F(Evapotranspiration, SnowEvaporationOfAGlacierisedCellCountsOverItsGlacierFreeShare) {
  // A quarter of every cell under ice, a cover over the whole cell: 1 mm
  // evaporates over the rest, which the cover and the table count as 0.75 mm.
  double** snow = AddGrid("snow", 20.0);
  AddGrid("GlacierizedCells", 0.25);
  et_section v;
  v.method = 2;
  v.stat_code = 1001;
  auto module = Build(v);
  module->SetSnowStorageGrid(snow);
  module->SetSnowMethod(1);
  for (int r = 1; r <= settings_.nrows; ++r)
    for (int c = 1; c <= settings_.ncols; ++c) Data("pot_transpiration1")[r][c] = 1.0;
  module->SnowEvaporation(0, 24, 15, 1, 2000);
  module->FlushBuffers();
  EXPECT_NEAR(Cell("snow_evaporation"), 1.0, kTol);
  EXPECT_NEAR(snow[1][1], 19.25, kTol);
  EXPECT_NE(test::ReadFile(dir_ / "esnow.stat").find("\t0.75000\n"), std::string::npos);
}

TEST_F(Evapotranspiration, TablesCountAGlacierisedShareAsZero) {
  // Every cell transpires its 1 mm; a glacierised share adds its weight to a
  // table with the value 0.
  AddGrid("soil_storage", 0.8);
  AddGrid("available_soil_moisture", 100.0);
  double** glacier = AddGrid("GlacierizedCells", 0.0);
  for (const double share : {0.0, 0.25}) {
    SCOPED_TRACE(share);
    for (int r = 1; r <= settings_.nrows; ++r)
      for (int c = 1; c <= settings_.ncols; ++c) glacier[r][c] = share;
    et_section v;
    v.stat_code = 1001;
    auto module = Build(v);
    module->LinkSoilGrids();
    for (int r = 1; r <= settings_.nrows; ++r)
      for (int c = 1; c <= settings_.ncols; ++c) Data("pot_transpiration1")[r][c] = 1.0;
    module->RealEvapotranspiration(0, 24, 15, 7, 2000);
    module->FlushBuffers();
    const std::string mean = share == 0.0 ? "\t1.00000\n" : "\t0.75000\n";
    for (const char* table : {"etr.stat", "etr_Layer_1.stat"})
      EXPECT_NE(test::ReadFile(dir_ / table).find(mean), std::string::npos) << table;
    module->CleanUp();
  }
}

}  // namespace
}  // namespace velmo
