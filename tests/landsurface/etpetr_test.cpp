// The evapotranspiration model on a small domain: its section with the
// checks and codes, its grids and files per layer, the lake set-up and the
// potential rates of the four methods.
#include "landsurface/etpetr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "landsurface/et_fixture.h"
#include "landsurface/layer_names.h"
#include "setup/tables.h"

namespace velmo {
namespace {

using test::et_section;
using test::Evapotranspiration;
using test::Section;

TEST_F(Evapotranspiration, SectionValues) {
  et_section v;
  v.hamon = "1 2 3 4 5 6 7 8 9 10 11 12";
  v.cloudiness = "cloud.stat 0";
  auto module = Build(v);
  const etp_parameters& p = module->parameters;
  EXPECT_EQ(p.method, 1);
  EXPECT_EQ(p.hamon_factors[0], 12.0);
  EXPECT_EQ(p.hamon_factors[13], 1.0);
  EXPECT_EQ(p.haude_factors[6], 0.3);
  EXPECT_EQ(p.coast_factor, 1.0);
  EXPECT_EQ(p.potential_transpiration_grid.file, "etp.grd");
  EXPECT_EQ(p.interception_statistics.file, "eip.stat");
  EXPECT_EQ(p.radiation_statistics.file, "rgex.stat");
  EXPECT_NEAR(p.sunshine_threshold, 0.24310, 5e-6);
  EXPECT_EQ(p.transmissivity_amplitude, 0.05);
  EXPECT_EQ(p.amplitudes[0], 10.0);
  EXPECT_NEAR(p.amplitude_night_share, 0.4, 1e-12);
  EXPECT_EQ(p.cloudiness_statistics.file, "cloud.stat");
  EXPECT_EQ(p.hamon_open_water_factor, 1.5);
  EXPECT_EQ(module->Availability(), kWindSpeedBit | kHumidityBit | kRadiationBit | kTemperatureBit);
  EXPECT_FALSE(module->NetRadiation());

  // Short lines keep their defaults: no cloudiness table, factor 1.
  v.cloudiness = "";
  v.open_water = "";
  auto plain = Build(v);
  EXPECT_EQ(plain->parameters.cloudiness_statistics.file, "cloudiness");
  EXPECT_EQ(plain->parameters.cloudiness_statistics.code, 0);
  EXPECT_EQ(plain->parameters.hamon_open_water_factor, 1.0);
}

TEST_F(Evapotranspiration, SectionErrors) {
  struct Case {
    const char* label;
    void (*change)(et_section&);
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"a0 too small", [](et_section& v) { v.radiation = "0.04 0.36 0.4 0.2"; }, 10,
       "fraction of diffuse radiation is too small: 0.04"},
      {"a0 too large", [](et_section& v) { v.radiation = "0.6 0.4 0 0"; }, 10, "is too large: 0.6"},
      {"sum 1.1", [](et_section& v) { v.radiation = "0.2 0.3 0.3 0.3"; }, 10,
       "derzeitige Summe: 0.2 + 0.3 + 0.3 + 0.3 = 1.1"},
      // A line of numbers holds all of them: one left out is no 0.
      {"absent coefficients", [](et_section& v) { v.radiation = "radiation coefficients"; }, 17,
       "coefficients a0..a3 of the global radiation for [evapotranspiration]: 4 numbers are due, not 0"},
      {"three CS values", [](et_section& v) { v.sunshine = "0.072 -0.808 1.749   CS"; }, 17,
       "coefficients CS of the relative sunshine for [evapotranspiration]: 4 numbers are due, not 3"},
      {"transmissivity without amplitude", [](et_section& v) { v.transmissivity = "0.7"; }, 17,
       "atmospheric transmissivity (mean and amplitude) for [evapotranspiration]: 2 numbers are due, not 1"},
      {"no scale height", [](et_section& v) { v.scale_height = "m"; }, 17,
       "elevation scale of the daily temperature amplitude for [evapotranspiration]: 1 number is due, not 0"},
      {"no root", [](et_section& v) { v.sunshine = "0.5 1 0 0"; }, 10, "No null point (root) was found"},
      {"no relationship", [](et_section& v) { v.sunshine = "0.3 0 0 0"; }, 10,
       "at minimum a linear relationship"},
      {"day share", [](et_section& v) { v.shares = "1.5 0"; }, 10, "read: amplitude_fraction_day: 1.5"},
      {"one share", [](et_section& v) { v.shares = "0.5"; }, 10,
       "error reading fraction for temperature amplitude"},
      {"scale height", [](et_section& v) { v.scale_height = "0"; }, 10, "must be above 0 m"},
      {"transmissivity", [](et_section& v) { v.transmissivity = "0.9 -0.2"; }, 10,
       "transmissivity of [evapotranspiration] must stay within 0..1 over the year, read: mean 0.9, "
       "amplitude -0.2"},
      {"comment after Hamon", [](et_section& v) { v.hamon += " PEC"; }, 45,
       "fh-parameter for \nHAUDE-evaporation"},
      {"eleven Hamon values", [](et_section& v) { v.hamon = "1 1 1 1 1 1 1 1 1 1 1 x"; }, 45,
       "PEC-parameter for \nHAMON-evaporation"},
      {"cloudiness without code", [](et_section& v) { v.cloudiness = "cloud.stat"; }, 17,
       "statistics file and code of the cloudiness"},
      {"open-water factor", [](et_section& v) { v.open_water = "HamonCorrectionOpenWater = x"; }, 17,
       "HamonCorrectionOpenWater for [evapotranspiration]"},
      // Numbers read whole: a token that is none is named.
      {"Hamon value with a letter", [](et_section& v) { v.hamon = "1 1 1 1 1 1 1 1 1 1 1 1x"; }, 45,
       "HAMON-evaporation in the control file.\n\"1x\" is no finite number."},
      {"comma between coefficients", [](et_section& v) { v.radiation = "0.23,0.29 0.28 0.2"; }, 17,
       "coefficients a0..a3 of the global radiation for [evapotranspiration]; evapotranspirationnot found! "
       "(\"0.23,0.29\" is no finite number)"},
      {"amplitude with a letter", [](et_section& v) { v.amplitudes = "10 10 10x"; }, 17,
       "daily temperature amplitudes for [evapotranspiration]; evapotranspirationnot found! (\"10x\""},
      {"eleven amplitudes", [](et_section& v) { v.amplitudes = "10 10 10 10 10 10 10 10 10 10 10  K"; }, 17,
       "daily temperature amplitudes for [evapotranspiration]: 12 numbers, one per month, are due, not 11"},
      {"day share with a letter", [](et_section& v) { v.shares = "0.6x 0.0"; }, 10,
       "or the annual variability\n\"0.6x\" is no finite number"},
      {"cloudiness code with a letter", [](et_section& v) { v.cloudiness = "cloud.stat 20x1"; }, 17,
       "statistics file and code of the cloudiness for [evapotranspiration]; evapotranspirationnot found! "
       "(\"20x1\" is no whole number)"},
      {"open-water factor with a letter",
       [](et_section& v) { v.open_water = "HamonCorrectionOpenWater = 1.5x"; }, 17, "(\"1.5x\" is no finite"},
      {"method 0", [](et_section& v) { v.method = 0; }, 46, "erlative sunshine duration"},
      {"method 5", [](et_section& v) { v.method = 5; }, 46, "erlative sunshine duration"},
  };
  for (const Case& c : cases) {
    et_section v;
    c.change(v);
    const std::string text = ExpectCode(
        c.code, [&] { Build(v); }, c.label);
    EXPECT_NE(text.find(c.message), std::string::npos) << c.label << ":\n" << text;
  }
  // The scale height matters only with the daily temperature cycle.
  et_section hourly;
  hourly.scale_height = "0";
  hourly.interval = 60;
  EXPECT_NO_THROW(Build(hourly));
}

TEST_F(Evapotranspiration, RequiredInputs) {
  grids_[Find("global_radiation")].name = "no_radiation";
  EXPECT_NE(ExpectCode(46, [&] { Build(et_section{}); }).find("either RG or RN"), std::string::npos);
  AddGrid("net_radiation", 100.0);
  auto net = Build(et_section{});
  EXPECT_TRUE(net->NetRadiation());

  grids_[Find("air_humidity")].name = "no_humidity";
  EXPECT_NE(ExpectCode(46, [&] { Build(et_section{}); }).find("vapor pressure (e, in mbar)"),
            std::string::npos);
  AddGrid("vapor_pressure", 10.0);
  EXPECT_EQ(Build(et_section{})->Availability() & kVapourPressureBit, kVapourPressureBit);

  // The soil grids are linked once the module is built.
  const std::string soil = ExpectCode(33, [&] { net->LinkSoilGrids(); });
  EXPECT_NE(soil.find("soil_storage not found in memory"), std::string::npos) << soil;
  AddGrid("soil_storage", 0.5);
  AddGrid("available_soil_moisture", 120.0);
  EXPECT_NO_THROW(net->LinkSoilGrids());

  grids_[Find("wind_speed")].name = "no_wind";
  EXPECT_NE(ExpectCode(33, [&] { Build(et_section{}); }).find("wind_speed not found in memory"),
            std::string::npos);
  // Hamon needs neither wind nor humidity, but the night temperature of
  // daily steps is needed by Penman-Monteith only.
  et_section hamon;
  hamon.method = 2;
  EXPECT_NO_THROW(Build(hamon));
  grids_[Find("temperature")].name = "no_temperature";
  EXPECT_NE(ExpectCode(33, [&] { Build(hamon); }).find("Wether "), std::string::npos);
}

TEST_F(Evapotranspiration, LayeredMethodsAndShortSteps) {
  et_section v;
  v.method = 2;
  v.interval = 60;
  auto hourly = Build(v);
  EXPECT_NE(console_.str().find("should only be used\nfor daily time steps or larger"), std::string::npos);
  EXPECT_NE(console_.str().find("method: 2, timestep: 60 minutes"), std::string::npos);

  UseTwoLayers();
  const std::string text = ExpectCode(44, [&] { Build(v); });
  EXPECT_NE(text.find("method: 2, number of layers: 2"), std::string::npos) << text;
}

// Two layers: grids of layers 0, 1 and 2 with the layer in their file names.
TEST_F(Evapotranspiration, GridsAndFilesPerLayer) {
  UseTwoLayers();
  et_section v;
  v.interval = 60;
  v.write_code = 1;
  v.stat_code = 1001;
  auto module = Build(v);
  EXPECT_EQ(module->LayerCount(), 2);
  const int first = Find("pot_transpiration0");
  const char* order[] = {"pot_transpiration0",
                         "real_transpiration0",
                         "potential_InterceptionEvap0",
                         "pot_transpiration1",
                         "real_transpiration1",
                         "potential_InterceptionEvap1",
                         "pot_transpiration2",
                         "real_transpiration2",
                         "potential_InterceptionEvap2",
                         "potential_evaporation",
                         "real_evaporation",
                         "snow_evaporation",
                         "AspectCorrectedGlobalRadiation",
                         "cloudiness",
                         "SSDTemp"};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(grids_[first + i].name, order[i]);
  EXPECT_EQ(grids_[Find("pot_transpiration2")].file_name, "etp_Layer_2.grd");
  EXPECT_EQ(Cell("SSDTemp"), 0.5);
  EXPECT_EQ(Cell("SSDTemp", 3, 1), kNodata);

  module->PotentialEvapotranspiration(0, 12, 15, 6, 2000);
  for (const char* file : {"etp.grd", "etp_Layer_1.grd", "etp_Layer_2.grd", "eip_Layer_2.grd", "evap.grd"})
    EXPECT_TRUE(Exists(file)) << file;
  EXPECT_FALSE(Exists("etr.grd"));  // written by the real evapotranspiration
  for (const char* file : {"etp.stat", "etp_Layer_1.stat", "etr_Layer_2.stat", "rgex.stat", "esnow.stat"})
    EXPECT_TRUE(Exists(file)) << file;
  EXPECT_NE(test::ReadFile(dir_ / "etp_Layer_1.stat").find("pot_transpiration1(Penman/Monteith)__submodel:"),
            std::string::npos);
  module->FlushBuffers();
  EXPECT_NE(test::ReadFile(dir_ / "etp.stat").find("2000"), std::string::npos);
  module->CleanUp();
  EXPECT_EQ(Find("pot_transpiration0"), 0);
  EXPECT_EQ(Find("SSDTemp"), 0);
}

// A model that goes without its clean-up takes its grids out of the table,
// which would otherwise point at freed rows.
TEST_F(Evapotranspiration, GridsLeaveTheTableWithoutCleanUp) {
  UseTwoLayers();
  et_section v;
  v.interval = 60;
  auto module = Build(v);
  ASSERT_GT(Find("pot_transpiration2"), 0);
  module.reset();
  for (const char* name :
       {"pot_transpiration0", "pot_transpiration2", "potential_InterceptionEvap1", "real_evaporation",
        "snow_evaporation", "AspectCorrectedGlobalRadiation", "SSDTemp"})
    EXPECT_EQ(Find(name), 0) << name;
}

// With one layer the totals that always hold the layer's values are the
// layer's matrix: both names show one matrix, still written to their own
// files and tables, and both leave the table with or without clean-up.
// Penman-Monteith's potential transpiration total adds the soil's rate and
// every method's real total the soil, snow and canopy: they keep a matrix of
// their own, as every total of two layers does.
TEST_F(Evapotranspiration, OneLayerSharesTheTotalsThatAreTheLayer) {
  AddGrid("temperature_14", 20.0);  // Haude's
  AddGrid("air_humidity_14", 0.5);
  struct total {
    const char* grid;
    const char* stem;
    bool penman_monteith;  // shared by Penman-Monteith
    bool others;           // shared by Hamon, Wendling and Haude
  };
  const total totals[] = {{"potential_InterceptionEvap", "eip", true, true},
                          {"pot_transpiration", "etp", false, true},
                          {"real_transpiration", "etr", false, false}};
  const auto rows = [&](const std::string& name) { return grids_[Find(name)].data; };
  const auto layer = [](const total& t, int l) { return LayerGridName(t.grid, l); };
  et_section v;
  v.interval = 60;
  v.write_code = 1;
  v.stat_code = 1001;
  Data("landuse1")[1][2] = kNodata;
  for (int method : {1, 2, 3, 4}) {
    SCOPED_TRACE("method " + std::to_string(method));
    v.method = method;
    const auto shared = [method](const total& t) { return method == 1 ? t.penman_monteith : t.others; };
    std::vector<std::string> files;
    for (const total& t : totals)
      for (const char* tail : {".grd", "_Layer_1.grd", ".stat", "_Layer_1.stat"})
        if (shared(t)) files.push_back(std::string(t.stem) + tail);
    for (const std::string& file : files) std::filesystem::remove(dir_ / file);
    auto module = Build(v);
    for (const total& t : totals) EXPECT_EQ(rows(layer(t, 0)) == rows(layer(t, 1)), shared(t)) << t.grid;
    module->PotentialEvapotranspiration(0, 13, 15, 6, 2000);
    for (const total& t : {totals[0], totals[1]}) {
      EXPECT_GT(Cell(layer(t, 0)), 0.0) << t.grid;
      if (method == 1) {
        EXPECT_EQ(Cell(layer(t, 1), 1, 2), 0.0) << t.grid;
      }
      EXPECT_EQ(Cell(layer(t, 1), 3, 1), kNodata) << t.grid;
    }
    for (const std::string& file : files) EXPECT_TRUE(Exists(file)) << file;
    module->CleanUp();
    for (const total& t : totals)
      for (int l : {0, 1}) EXPECT_EQ(Find(layer(t, l)), 0) << layer(t, l);

    module = Build(v);
    module.reset();
    for (const total& t : totals)
      for (int l : {0, 1}) EXPECT_EQ(Find(layer(t, l)), 0) << layer(t, l);
  }

  UseTwoLayers();
  v.method = 1;
  auto module = Build(v);
  for (const total& t : totals) EXPECT_NE(rows(layer(t, 0)), rows(layer(t, 1))) << t.grid;
  module->CleanUp();
}

TEST_F(Evapotranspiration, LakeSetUp) {
  auto module = Build(et_section{});
  module->InitLakeModel("[lake_model]");
  EXPECT_NE(console_.str().find("no LAKE-grid was found in evapotranspiration"), std::string::npos);
  module->CleanUp();

  AddGrid("lake_codes", 1.0);
  const std::string good = "1\n1\n0.05\n0.001\n";
  const auto lake_module = [&](const std::string& lake) {
    return Make<verdunstungsmodellklasse>(Section(et_section{}) + "[lake_model]\n" + lake);
  };
  {
    auto lake = lake_module(good);
    const std::string text = ExpectCode(211, [&] { lake->InitLakeModel("[lake_model]"); });
    EXPECT_NE(text.find("LAKE-grid was found, but no POND-Grid"), std::string::npos) << text;
    lake->CleanUp();
  }
  AddGrid("ponding_storage", 10.0);
  struct Case {
    const char* lake;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"1\n1\n0.05\n0\n", 211, "z0_OpenWater for [lake_model] must be above 0 m, read: 0"},
      {"1\n3\n0.05\n0.001\n", 211, "Error in initialization method for [lake_model]"},
      {"1\nx\n", 17, "initialization method for [lake_model]"},
  };
  for (const Case& c : cases) {
    auto lake = lake_module(c.lake);
    const std::string text = ExpectCode(
        c.code, [&] { lake->InitLakeModel("[lake_model]"); }, c.lake);
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    lake->CleanUp();
  }
  auto lake = lake_module(good);
  lake->InitLakeModel("[lake_model]");
  EXPECT_EQ(lake->lake.flow_control, 1);
  EXPECT_EQ(lake->lake.initialization_method, 1);
  EXPECT_EQ(lake->lake.albedo, 0.05);
  EXPECT_EQ(lake->lake.roughness_length, 0.001);
}

// Hamon, daily: the land-use factor, the soil share and the open-water factor.
TEST_F(Evapotranspiration, HamonStep) {
  double** ponding = AddGrid("ponding_storage", 0.0);
  double** lake_codes = AddGrid("lake_codes", kNodata);
  landuse_table_.emplace_back();
  landuse_table_[0].code = 2;  // land use 2 has the factor 1
  settings_.landuse_table = landuse_table_.data();
  Data("landuse1")[2][2] = 2.0;
  Data("landuse1")[2][3] = 2.0;
  ponding[2][3] = 10.0;
  lake_codes[2][3] = 0.0;
  et_section v;
  v.method = 2;
  v.hamon = "1 1 1 1 1 1 1.1 1 1 1 1 1";  // July
  auto module = Make<verdunstungsmodellklasse>(Section(v) + "[lake_model]\n1\n1\n0.05\n0.001\n");
  module->InitLakeModel("[lake_model]");
  module->PotentialEvapotranspiration(0, 24, 16, 7, 2000);

  const double e = HamonPotentialEvapotranspiration(20.0, module->day_fraction, 1.1, 1440.0);
  EXPECT_GT(module->day_fraction, 0.6);
  EXPECT_NEAR(Cell("pot_transpiration0"), 1.2 * e, 1e-12);
  EXPECT_NEAR(Cell("pot_transpiration1"), 1.2 * e, 1e-12);
  EXPECT_NEAR(Cell("potential_InterceptionEvap0"), 1.2 * e, 1e-12);
  EXPECT_NEAR(Cell("potential_evaporation"), 0.3 * 1.2 * e, 1e-12);
  EXPECT_NEAR(Cell("pot_transpiration0", 2, 2), e, 1e-12);
  EXPECT_NEAR(Cell("pot_transpiration0", 2, 3), 1.5 * e, 1e-12);  // open water
  // Hamon runs as a night step for the radiation: none, cloudiness 0.5.
  EXPECT_EQ(Cell("AspectCorrectedGlobalRadiation"), 0.0);
  EXPECT_EQ(Cell("cloudiness"), 0.5);
  EXPECT_EQ(Cell("pot_transpiration0", 3, 1), kNodata);
  EXPECT_EQ(Cell("potential_evaporation", 3, 1), kNodata);
}

TEST_F(Evapotranspiration, HaudeAndWendlingSteps) {
  AddGrid("temperature_14", 20.0);
  double** humidity = AddGrid("air_humidity_14", 0.5);
  et_section haude;
  haude.method = 4;
  auto module = Build(haude);
  module->PotentialEvapotranspiration(0, 24, 10, 5, 2000);
  EXPECT_NEAR(Cell("pot_transpiration0"), 3.4977, 5e-5);
  EXPECT_NEAR(Cell("potential_evaporation"), 0.3 * 3.4977, 5e-5);
  humidity[1][2] = 1.2;  // supersaturated: no negative evaporation
  module->PotentialEvapotranspiration(0, 24, 11, 5, 2000);
  EXPECT_EQ(Cell("pot_transpiration0", 1, 2), 0.0);
  EXPECT_EQ(Cell("potential_evaporation", 1, 2), 0.0);
  module->CleanUp();

  grids_[Find("air_humidity_14")].name = "no_humidity";
  AddGrid("vapor_pressure_14", 0.25 * SaturationVapourPressureHaude(20.0));
  auto vapour = Build(haude);
  vapour->PotentialEvapotranspiration(0, 24, 10, 5, 2000);
  EXPECT_NEAR(Cell("pot_transpiration0"), 0.3 * SaturationVapourPressureHaude(20.0) * 0.75, 1e-9);
  vapour->CleanUp();

  temperature_[1][1] = 15.0;
  radiation_[1][1] = 5000.0;
  et_section wendling;
  wendling.method = 3;
  auto w = Build(wendling);
  w->PotentialEvapotranspiration(0, 24, 10, 5, 2000);
  EXPECT_EQ(Cell("AspectCorrectedGlobalRadiation"), 5000.0);
  EXPECT_NEAR(Cell("pot_transpiration0"), 3.06188, 5e-6);
}

TEST_F(Evapotranspiration, HourlyAndDailyWendlingOfTheSameDayAgree) {
  // 10 May at 15 °C, 4000 Wh/m² of radiation over the hours from 8 to 16.
  std::vector<double> radiation(25, 0.0);
  for (int hour = 9; hour <= 16; ++hour) radiation[static_cast<size_t>(hour)] = 500.0;
  const auto fill = [&](double** grid, double value) {
    for (int r = 1; r <= settings_.nrows; ++r)
      for (int c = 1; c <= settings_.ncols; ++c) grid[r][c] = value;
  };
  fill(temperature_, 15.0);
  et_section v;
  v.method = 3;
  v.interval = 60;
  auto hourly = Build(v);
  double by_the_hour = 0.0;
  for (int hour = 1; hour <= 24; ++hour) {
    fill(radiation_, radiation[static_cast<size_t>(hour)]);
    hourly->PotentialEvapotranspiration(0, hour, 10, 5, 2000);
    by_the_hour += Cell("pot_transpiration0");
  }
  hourly->CleanUp();
  v.interval = 1440;
  auto daily = Build(v);
  fill(radiation_, 4000.0);
  daily->PotentialEvapotranspiration(0, 24, 10, 5, 2000);
  EXPECT_NEAR(by_the_hour / Cell("pot_transpiration0"), 1.0, 0.05)
      << by_the_hour << " mm by the hour, " << Cell("pot_transpiration0") << " mm by the day";
}

// Penman-Monteith, daily: the temperature cycle in the shared grids, the
// radiation correction applied to the radiation grid, and the totals.
TEST_F(Evapotranspiration, PenmanMonteithDailyStep) {
  AddGrid("sunshine_duration", 1.0);
  auto module = Build(et_section{});
  const owned_matrix factor = test::MatrixOf(test::Filled(3, 4, 1.0));
  factor[1][2] = 1.5;
  module->SetRadiationCorrectionGrid(factor.get());
  module->PotentialEvapotranspiration(0, 24, 10, 5, 2000);

  // Relative sunshine 1: ratio 1, x = 10 K; day +0.6 x, night -0.4 x.
  EXPECT_NEAR(temperature_[1][1], 26.0, 1e-12);
  EXPECT_NEAR(Cell("temperature_night"), 16.0, 1e-12);
  EXPECT_EQ(temperature_[3][1], 20.0);
  // With radiation and sunshine grids the radiation is corrected by the factor.
  EXPECT_EQ(radiation_[1][1], 3000.0);
  EXPECT_NEAR(radiation_[1][2], ((1.0 - 0.23) * 1.0 * 0.5 + 1.0) * 3000.0, 1e-9);
  EXPECT_NEAR(Cell("AspectCorrectedGlobalRadiation", 1, 2), radiation_[1][2], 1e-9);
  EXPECT_NEAR(Cell("cloudiness"), 0.997 + 0.4473 - 1.4059, 1e-12);

  for (int c = 1; c <= 2; ++c) {
    const double soil = Cell("potential_evaporation", 1, c);
    EXPECT_GT(soil, 0.0);
    EXPECT_GT(Cell("pot_transpiration1", 1, c), 0.0);
    EXPECT_GT(Cell("potential_InterceptionEvap1", 1, c), Cell("pot_transpiration1", 1, c));
    EXPECT_NEAR(Cell("pot_transpiration0", 1, c), Cell("pot_transpiration1", 1, c) + soil, 1e-12);
    EXPECT_EQ(Cell("potential_InterceptionEvap0", 1, c), Cell("potential_InterceptionEvap1", 1, c));
  }
  EXPECT_GT(Cell("pot_transpiration1", 1, 2), Cell("pot_transpiration1", 1, 1));
  EXPECT_EQ(Cell("real_transpiration0"), 0.0);
  EXPECT_EQ(Cell("pot_transpiration1", 3, 1), kNodata);
}

// Penman-Monteith, hourly, two layers: a cell without a lower layer, a cell
// without an upper layer, a roughness length of 0 and an open-water cell.
TEST_F(Evapotranspiration, PenmanMonteithLayersAndSpecialCells) {
  UseTwoLayers();
  Data("landuse2")[1][2] = kNodata;
  Data("leaf_area_index2")[1][2] = kNodata;
  Data("landuse1")[1][3] = kNodata;
  Data("RoughnessLength1")[2][2] = 0.0;
  double** ponding = AddGrid("ponding_storage", 0.0);
  double** lake_codes = AddGrid("lake_codes", 0.0);
  ponding[2][3] = 50.0;
  lake_codes[2][3] = 3.0;
  et_section v;
  v.interval = 60;
  auto module = Make<verdunstungsmodellklasse>(Section(v) + "[lake_model]\n1\n1\n0.05\n0.001\n");
  module->InitLakeModel("[lake_model]");
  module->PotentialEvapotranspiration(0, 13, 15, 6, 2000);

  const auto total = [&](int r, int c) {
    return Cell("pot_transpiration1", r, c) + Cell("pot_transpiration2", r, c) +
           Cell("potential_evaporation", r, c);
  };
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 4; ++c) {
      EXPECT_TRUE(std::isfinite(Cell("pot_transpiration0", r, c))) << r << " " << c;
      EXPECT_NEAR(Cell("pot_transpiration0", r, c), total(r, c), 1e-12) << r << " " << c;
    }
  // No lower layer: the upper one stands on the soil.
  EXPECT_EQ(Cell("pot_transpiration2", 1, 2), 0.0);
  EXPECT_GT(Cell("potential_evaporation", 1, 2), 0.0);
  // No upper layer: the lower one takes the radiation.
  EXPECT_EQ(Cell("pot_transpiration1", 1, 3), 0.0);
  EXPECT_GT(Cell("pot_transpiration2", 1, 3), Cell("pot_transpiration2", 1, 1));
  // A roughness length of 0 gives numbers and one warning.
  EXPECT_GT(Cell("pot_transpiration1", 2, 2), 0.0);
  EXPECT_NE(console_.str().find("1 cells of evapotranspiration have a RoughnessLength1 of 0 m or less"),
            std::string::npos);
  // Open water: neither interception nor soil evaporation in its layer.
  EXPECT_EQ(Cell("potential_evaporation", 2, 3), 0.0);
  EXPECT_EQ(Cell("potential_InterceptionEvap2", 2, 3), 0.0);
  EXPECT_GT(Cell("pot_transpiration2", 2, 3), 0.0);
}

// A night step: no radiation, cloudiness 0.5, and the night part alone.
TEST_F(Evapotranspiration, NightStepAndStepWithoutDate) {
  et_section v;
  v.interval = 60;
  auto module = Build(v);
  module->PotentialEvapotranspiration(0, 2, 15, 1, 2000);
  EXPECT_EQ(module->is_night, 1);
  EXPECT_EQ(Cell("AspectCorrectedGlobalRadiation"), 0.0);
  EXPECT_EQ(Cell("cloudiness"), 0.5);
  EXPECT_TRUE(std::isfinite(Cell("pot_transpiration0")));
  EXPECT_GE(Cell("pot_transpiration0"), 0.0);

  Data("pot_transpiration0")[1][1] = 123.0;
  module->PotentialEvapotranspiration(-9999, -9999, -9999, -9999, -9999);
  EXPECT_EQ(Cell("pot_transpiration0"), 123.0);
  EXPECT_NE(console_.str().find("has no calendar date for the step"), std::string::npos);
}

TEST(LayerNames, FileNameOfALayer) {
  EXPECT_EQ(LayerFileName("etp.grd", 1), "etp_Layer_1.grd");
  EXPECT_EQ(LayerFileName("out/et.v2.asc", 12), "out/et.v2_Layer_12.asc");
  EXPECT_EQ(LayerFileName("etp", 2), "etp_Layer_2");
  EXPECT_EQ(LayerFileName("./out/etp", 1), "./out/etp_Layer_1");
  EXPECT_EQ(LayerGridName("landuse", 0), "landuse0");
}

}  // namespace
}  // namespace velmo
