// Snow model steps on a small domain: the cells of an hourly degree-day step, the night and day parts of
// daily steps, thresholds of snow days, age and albedo, the land-use albedo, lakes, statistics and outputs,
// tracers, the energy-balance cells, and the water of the cover over a winter for every method, with and
// without slides.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "physics/moist_air.h"
#include "setup/tracers.h"
#include "snow/snow_fixture.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

using SnowStep = SnowDomain;

TEST_F(SnowStep, HourlyDegreeDayCells) {
  // (1,1) 100 mm of snow at 5 °C; (1,2) bare, 10 mm at 5 °C; (1,3) 4 mm at
  // 0.5 °C; (2,1) 4 mm at 1 °C; (2,2) 100 mm at T0; (2,3) 5 mm of cover
  // at -5 °C, exactly the snow-cover threshold.
  Register("temperature", {5, 5, 0.5, 1, 0, -5});
  Register("precipitation", {0, 10, 4, 4, 0, 0});
  auto snow = Build();
  ASSERT_TRUE(snow);
  Fill(snow->GetSnowStorageGrid(), {100, 0, 0, 0, 100, 5});
  Fill(Grid("snow_age"), {0, 0, 0, 0, 0, 2});
  Step(*snow, {0, 12, 10, 1, 2000});

  double** solid = snow->GetSnowStorageGrid();
  double** liquid = Grid("snowstorage_liquid");
  double** outflow = Grid("snowcover_outflow");
  double** melt = Grid("melt_from_snowcover");
  double** snowfall = Grid("snow_fraction");
  double** rain = Grid("rain_fraction");
  EXPECT_DOUBLE_EQ(liquid[1][1], 0.625);
  EXPECT_DOUBLE_EQ(solid[1][1], 99.375);
  EXPECT_EQ(outflow[1][1], 0.0);
  EXPECT_EQ(rain[1][2], 10.0);
  EXPECT_EQ(outflow[1][2], 10.0);
  EXPECT_EQ(melt[1][2], 0.0);
  EXPECT_EQ(snowfall[1][3], 1.0);
  EXPECT_EQ(rain[1][3], 3.0);
  EXPECT_EQ(snowfall[2][1], 0.0);
  EXPECT_EQ(solid[2][2], 100.0);
  EXPECT_EQ(liquid[2][2], 0.0);
  EXPECT_DOUBLE_EQ(Grid("snow_storage_total")[1][1], 100.0);

  // Snow days, age and albedo: 100 mm is a cover, exactly 5 mm is none.
  double** days = Grid("days_snow");
  double** age = Grid("snow_age");
  double** albedo = Grid("albedo");
  EXPECT_DOUBLE_EQ(days[1][1], 1.0 / 24.0);
  EXPECT_EQ(days[2][3], 0.0);
  EXPECT_DOUBLE_EQ(age[2][3], 2.0 + 1.0 / 24.0);
  EXPECT_DOUBLE_EQ(albedo[1][1], SnowAlbedo(0.4, 0.9, 1.0 / 24.0, 5.0));
  EXPECT_DOUBLE_EQ(albedo[2][3], 0.2);
  EXPECT_DOUBLE_EQ(albedo[1][2], 0.2);
}

TEST_F(SnowStep, ADailyStepRunsANightAndADayPartAndHalfADayOnePart) {
  section.interval = "1440";
  Register("temperature", {6});
  Register("temperature_night", {-2});
  Register("precipitation", {10});
  auto snow = Build();
  ASSERT_TRUE(snow);
  Fill(snow->GetSnowStorageGrid(), {50});
  Step(*snow, {0, 24, 21, 3, 2000});
  ASSERT_GT(snow->night_fraction, 0.3);
  ASSERT_LT(snow->night_fraction, 0.7);

  snow_step_constants k;
  k.kind = SnowMethodKind(1);
  k.transzone = 1.0;
  k.ddf = 3.0;
  k.steps_per_day = 1.0;
  snow_cell_forcing f;
  f.input_water = 10.0;
  f.t_air = -2.0;
  double solid = 50.0, liquid = 0.0;
  double expected_melt = SnowStepPart(k, f, snow->night_fraction, solid, liquid).melt;
  f.t_air = 6.0;
  expected_melt += SnowStepPart(k, f, snow->day_fraction, solid, liquid).melt;
  const snow_release release = ReleaseLiquid(expected_melt, 0.1, solid, liquid);
  EXPECT_DOUBLE_EQ(snow->GetSnowStorageGrid()[1][1], solid);
  EXPECT_DOUBLE_EQ(Grid("snowstorage_liquid")[1][1], liquid);
  EXPECT_DOUBLE_EQ(Grid("snowcover_outflow")[1][1], release.outflow);
  // The step's fall is that of both parts: snow by the night at -2 °C, rain
  // by the day at 6 °C.
  EXPECT_DOUBLE_EQ(Grid("snow_fraction")[1][1], 10.0 * snow->night_fraction);
  EXPECT_DOUBLE_EQ(Grid("rain_fraction")[1][1], 10.0 * snow->day_fraction);

  // 720 minutes: one part at the air temperature, no night grid needed.
  snow.reset();
  SetDomain(3, 2, {1});
  section.interval = "720";
  Register("temperature", {6});
  Register("precipitation", {10});
  snow = Build();
  ASSERT_TRUE(snow);
  Fill(snow->GetSnowStorageGrid(), {50});
  Step(*snow, {0, 12, 21, 3, 2000});
  EXPECT_DOUBLE_EQ(snow->GetSnowStorageGrid()[1][1], 50.0 - 3.0 * 6.0 / 2.0);
}

TEST_F(SnowStep, TheDepositionIndexGainIsAGridAndATableBesideTheSnowfall) {
  // Method 10 on a day of 10 mm: snow by the night at -5 °C, rain by the
  // day at 5 °C; the index 0.5 adds half the night's snowfall. Methods
  // without the index have no such grid.
  section.interval = "1440";
  section.statistics_code = "2001";
  Register("temperature_night", {-5});
  auto plain = Build();
  ASSERT_TRUE(plain);
  EXPECT_EQ(EntriesNamed("deposition_index_gain"), 0);
  plain.reset();

  SetDomain(3, 2, {1});
  section.method = "10";
  section.ddf = "0";  // no melt
  Register("temperature", {5});
  Register("temperature_night", {-5});
  double** water = Register("precipitation", {10});
  Register("deposition_index", {0.5});
  auto snow = Build();
  ASSERT_TRUE(snow) << console.str();
  Step(*snow, {0, 24, 21, 3, 2000});
  snow->FlushBuffers();
  const double gain = 0.5 * 10.0 * snow->night_fraction;
  EXPECT_DOUBLE_EQ(Grid("deposition_index_gain")[1][1], gain);
  EXPECT_DOUBLE_EQ(water[1][1], 10.0 + gain);
  EXPECT_DOUBLE_EQ(snow->GetSnowStorageGrid()[1][1], Grid("snow_fraction")[1][1] + gain);
  char row[64];
  std::snprintf(row, sizeof row, "\t%.3f\n", gain);
  const std::string table = ReadFile(dir / "snow_deposition_index.stat");
  EXPECT_THAT(table, HasSubstr("deposition_index_gain_____submodel:snow_model"));
  EXPECT_THAT(table, HasSubstr(row));
}

TEST_F(SnowStep, RainOnSnowMeltOfMarchWithAndWithoutRadiationCorrection) {
  section.method = "3";
  section.rmf = "1\n3";
  Register("temperature", {2, 2, 2, -4, -4, -4});
  Register("precipitation", {5, 0, 0, 0, 0, 0});
  Register("wind_speed", {3});
  double** correction = Register("radiation_correction_factor", {1.4});
  auto snow = Build();
  ASSERT_TRUE(snow);
  EXPECT_NEAR(snow->SeasonalMeltFactor(10, 3), 1.86272, 1e-5);
  EXPECT_DOUBLE_EQ(snow->SaturationVapourPressureIce(0.0), 6.1078);
  snow->SetRadiationCorrectionGrid(correction);
  Fill(snow->GetSnowStorageGrid(), {20});
  Fill(Grid("snowstorage_liquid"), {0, 0, 0, 0.1, 0.1, 0.1});
  Step(*snow, {0, 12, 10, 3, 2000});
  double** liquid = Grid("snowstorage_liquid");
  // 5 mm of rain at 2 °C with the wind index; no input: the seasonal index
  // with f = (1 + 1.4)/2; at -4 °C the 0.1 mm refreeze.
  EXPECT_NEAR(liquid[1][1] + Grid("snowcover_outflow")[1][1], 5.0 + 0.640246, 1e-6);
  EXPECT_NEAR(liquid[1][2], 0.186272, 1e-6);
  EXPECT_EQ(liquid[2][1], 0.0);
  EXPECT_DOUBLE_EQ(snow->GetSnowStorageGrid()[2][1], 20.1);
}

TEST_F(SnowStep, LakeCellsTakeAllAsRain) {
  Register("temperature", {-10});
  Register("precipitation", {5});
  auto snow = Build();
  Register("lake_codes", {1, 0, 0, 0, 0, 0});
  Register("ponding_storage", {1});
  extra_sections = "[lake_model]\n1\n";
  WriteControlFile();
  snow->InitLakeModel("[lake_model]");
  Step(*snow, {0, 1, 1, 1, 2000});
  EXPECT_EQ(Grid("rain_fraction")[1][1], 5.0);
  EXPECT_EQ(Grid("snowcover_outflow")[1][1], 5.0);
  EXPECT_EQ(Grid("snow_fraction")[1][2], 5.0);
}

TEST_F(SnowStep, WithInterceptionFirstTheThroughfallIsTheInput) {
  Register("temperature", {-5});
  Register("precipitation", {5});
  Register("throughfall0", {3});
  auto snow = Build();
  snow->LinkInputGrids(true);
  snow->LinkInputGrids(false);  // linked once
  Step(*snow, {0, 1, 1, 1, 2000});
  EXPECT_EQ(Grid("snow_fraction")[1][1], 3.0);
}

TEST_F(SnowStep, CellsOfAnotherRegionAreLeftAlone) {
  Register("MPIRegions", {0, 0, 0, 1, 0, 0});
  Register("temperature", {-10});
  Register("precipitation", {5});
  auto snow = Build();
  Step(*snow, {0, 1, 1, 1, 2000});
  EXPECT_EQ(snow->GetSnowStorageGrid()[1][1], 5.0);
  EXPECT_EQ(snow->GetSnowStorageGrid()[2][1], 0.0);
  EXPECT_EQ(Grid("snow_fraction")[2][1], 0.0);
}

TEST_F(SnowStep, SnowFreeAlbedoFollowsTheLandUseOfEachCell) {
  // Land use 1 shifts its fix points with altitude, land use 2 does not.
  landuse.resize(3);
  landuse[0].code = 2;
  const std::string keys =
      "RootDist = 1; TReduWet = 0.9; HReduDry = 3; JulDays = 1 100 200 300; Albedo = 0.2 0.25 0.3 0.2;\n"
      "rsc = 80 60 50 80; LAI = 1 2 4 1.5; Z0 = 0.02 0.03 0.05 0.02; VCF = 0.5 0.7 0.9 0.5;\n"
      "RootDepth = 0.2 0.3 0.4 0.2; ";
  landuse[1] = landuse_table_entry{};
  landuse[1].ParseKeyBlock(
      &ms, "20 grass method VariableDayCount {\n" + keys + "AltDep = 0.025 0.025 -0.025 0;\n}",
      "VariableDayCount");
  landuse[2].ParseKeyBlock(&ms, "21 lawn method VariableDayCount {\n" + keys + "AltDep = 0 0 0 0;\n}",
                           "VariableDayCount");
  settings.landuse_table = landuse.data();
  SetDomain(3, 2, {1}, {400, 800, 1600, 400, 800, 1600});
  Register("landuse1", {1, 1, 1, 2, 2, kNodata});
  Register("temperature", {10});
  auto snow = Build();
  ASSERT_TRUE(snow);
  for (const model_date& d :
       {model_date{0, 1, 20, 4, 2000}, model_date{0, 2, 20, 4, 2000}, model_date{0, 1, 5, 8, 2001}}) {
    Step(*snow, d);
    for (int r = 1; r <= 2; ++r)
      for (int c = 1; c <= 3; ++c) {
        if (r == 2 && c == 3) {
          EXPECT_EQ(Grid("albedo")[r][c], kNodata);
          continue;
        }
        const landuse_table_entry& record = landuse[static_cast<size_t>(r)];
        std::vector<int> days(record.fix_days.size());
        const landuse_cell_day at = LanduseCellDay(&ms, record, LanduseDay(d.day, d.month, d.year), d.year, 1,
                                                   r, c, Grid("[elevation_model]")[r][c], days, false);
        const double expected = record.ValueOn(&landuse_fix_point_lists::Albedo, at);
        EXPECT_DOUBLE_EQ(Grid("albedo")[r][c], expected) << r << " " << c << " " << d.day << "." << d.month;
      }
  }
  EXPECT_NE(Grid("albedo")[1][1], Grid("albedo")[1][3]);
}

TEST_F(SnowStep, StatisticsRowsWeightedByCellAreaAndOutputGrids) {
  section.statistics_code = "2001";
  section.total_write_code = "1";
  SetDomain(3, 2, {1, 1, 2, 2, 2, kNodata});
  Register("temperature", {-3});
  Register("precipitation", {1, 3, 2, 4, 4, 4});
  Register("RelCellArea", {1, 3, 1, 1, 1, kNodata});
  Register("landuse1", {1, 1, 1, 1, kNodata, kNodata});  // (2,2) has no snow-free albedo
  auto snow = Build();
  ASSERT_TRUE(snow);
  Step(*snow, {0, 1, 1, 1, 2000});
  Step(*snow, {0, 2, 1, 1, 2000});
  snow->FlushBuffers();
  const std::string storage = ReadFile(dir / "storage.stat");
  EXPECT_THAT(storage, HasSubstr("snow_storage_in_mm____submodel:snow_model\n"));
  // After two steps of snow zone 1 holds 2 and 6 mm (weights 1 and 3), zone
  // 2 4, 8 and 8 mm.
  EXPECT_THAT(storage, HasSubstr("2000\t 1\t 1\t 2\t5.000\t6.667\t5.714\n"));
  EXPECT_THAT(ReadFile(dir / "outflow.stat"), HasSubstr("2000\t 1\t 1\t 1\t0.0000\t0.0000\t0.0000\n"));
  // A cell without albedo is left out of the albedo means only.
  const std::string albedo = ReadFile(dir / "albedo.stat");
  EXPECT_THAT(albedo, HasSubstr("albedo_____submodel:snow_model"));
  EXPECT_THAT(albedo, HasSubstr("2000\t 1\t 1\t 1\t0.200\t0.200\t0.200\n"));
  EXPECT_THAT(ReadFile(dir / "snow.stat"), HasSubstr("2000\t 1\t 1\t 1\t2.500\t3.333\t2.857\n"));
  for (const char* file : {"rain.stat", "snowdays.stat", "snowage.stat", "melt.stat"})
    EXPECT_TRUE(std::filesystem::exists(dir / file)) << file;
  EXPECT_FALSE(std::filesystem::exists(dir / "input_mass.stat"));
  // The total storage grid is written every step.
  EXPECT_THAT(ReadFile(dir / "total.asc"), HasSubstr("\n2\t6\t4\n8\t8\t-9999\n"));
}

TEST_F(SnowStep, AStepWithoutDateComputesNothing) {
  Register("temperature", {-3});
  Register("precipitation", {2});
  auto snow = Build();
  Step(*snow, {-9999, -9999, -9999, -9999, -9999});
  Step(*snow, {-9999, -9999, -9999, -9999, -9999});
  EXPECT_EQ(snow->GetSnowStorageGrid()[1][1], 0.0);
  const std::string text = console.str();
  EXPECT_THAT(text, HasSubstr("snow_model: the step of -9999.-9999 has no date of the year"));
  EXPECT_EQ(text.find("has no date"), text.rfind("has no date"));
}

TEST_F(SnowStep, TracersPassThroughBareCellsAndStayInTheCover) {
  std::vector<tracer_description> tracers(2);
  tracers[1].name = "chl";
  tracers[1].max_conc = 1e6;
  tracers[1].statext = "stat";
  tracers[1].gridext = "asc";
  Register("temperature", {5, 5, 5, -5, -5, -5});
  Register("precipitation", {4});
  auto snow = Build();
  int error = 0;
  EXPECT_EQ(ThrownCode([&] { snow->SetUpTracers(error, 1, &tracers); }), 33);
  Register("concflux_tracer_1_input", {0.5});
  snow->SetUpTracers(error, 1, &tracers);
  ASSERT_EQ(error, 0);
  Step(*snow, {0, 1, 1, 1, 2000});
  double** flux = Grid("concflux_tracer_1_snow_model");
  double** stored = Grid("concstor_tracer_1_snow_model");
  EXPECT_DOUBLE_EQ(flux[1][1], 0.5);
  EXPECT_DOUBLE_EQ(stored[1][1], 0.0);
  EXPECT_EQ(flux[2][1], 0.0);
  EXPECT_DOUBLE_EQ(stored[2][1], 2.0);  // mass of 4 mm at 0.5
  snow->FreeTracers();
}

TEST_F(SnowStep, EnergyBalanceCellsOfAnHourUnderTheCanopy) {
  // (1,1) a warm wet cover, (1,2) a cold night, (1,3) dry warm air, (2,1) a
  // bare warm cell, (2,2) a missing temperature, (2,3) a bare cold cell.
  // The canopy's grids are the model's input; the open-air ones must not be
  // taken.
  section.method = "5";
  section.albedo = "0.6\n0.6";
  section.statistics_code = "2001";
  SetDomain(3, 2, {1}, {1000});
  Register("Snow_canopy_temperature", {5, -5, 1, 4, -9999, -3});
  Register("Snow_canopy_rh", {0.7, 0.8, 0.3, 0.5, 0.5, 0.5});
  Register("air_humidity", {0.05});
  Register("Snow_canopy_rad", {300, 0, 400, 100, 0, 0});
  Register("AspectCorrectedGlobalRadiation", {1000});
  Register("Snow_canopy_IR_radiation", {0});
  Register("Snow_canopy_wind", {2, 1, 2, 2, 2, 2});
  Register("cloudiness", {0.5, 0.3, 0.5, 0.5, 0.5, 0.5});
  // Left from the evapotranspiration model's step: replaced by the
  // sublimation of this step.
  double** evaporation = Register("snow_evaporation", {9});
  auto snow = Build();
  ASSERT_TRUE(snow) << console.str();
  Fill(snow->GetSnowStorageGrid(), {100, 50, 100, 0, 0, 0});
  Fill(Grid("snowstorage_liquid"), {5, 0, 0, 0, 0, 0});
  Fill(Grid("snowtemp"), {273.16, 268, 273.16, 270, kNodata, 268});
  Fill(Grid("surftemp"), {270, kNodata, 273.16, 269, kNodata, 266});
  Step(*snow, {0, 12, 10, 1, 2000});

  double** solid = snow->GetSnowStorageGrid();
  double** liquid = Grid("snowstorage_liquid");
  double** pack = Grid("snowtemp");
  double** surface = Grid("surftemp");
  EXPECT_NEAR(solid[1][1], 100.0 - 0.973876, 5e-7);
  EXPECT_NEAR(liquid[1][1], 5.0 + 0.973876, 5e-7);
  EXPECT_EQ(evaporation[1][1], 0.0);
  EXPECT_EQ(pack[1][1], 273.16);
  EXPECT_NEAR(surface[1][2], 260.399038, 5e-7);
  EXPECT_NEAR(pack[1][2], 267.061824, 5e-7);
  EXPECT_NEAR(evaporation[1][2], -0.013720, 5e-7);
  EXPECT_NEAR(evaporation[1][3], 0.100997, 5e-7);
  EXPECT_NEAR(solid[1][3], 100.0 - 0.100997, 5e-7);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(pack[2][c], kNodata) << c;
    EXPECT_EQ(surface[2][c], kNodata) << c;
    EXPECT_EQ(evaporation[2][c], 0.0) << c;
  }
  // The albedo the balance took is the snow's before the melt, and the cell's
  // after it; bare cells have their land use's.
  EXPECT_DOUBLE_EQ(Grid("albedo")[1][1], 0.6);
  EXPECT_DOUBLE_EQ(Grid("albedo")[2][1], 0.2);
  snow->FlushBuffers();
  // Only the covers with temperatures are in the means.
  const double mean_pack = (273.16 + pack[1][2] + 273.16) / 3.0;
  char row[64];
  std::snprintf(row, sizeof row, "\t%.3f\t%.3f\n", mean_pack, mean_pack);
  EXPECT_THAT(ReadFile(dir / "snowtemp.stat"), HasSubstr(row));
}

TEST_F(SnowStep, EnergyBalanceOfADailyStepReportsTheSublimationOfBothParts) {
  section.method = "5";
  section.interval = "1440";
  section.albedo = "0.6\n0.6";
  SetDomain(3, 2, {1}, {1000});
  Register("temperature", {1});
  Register("temperature_night", {2});
  Register("air_humidity", {0.3});
  Register("AspectCorrectedGlobalRadiation", {7200});
  Register("wind_speed", {2});
  Register("cloudiness", {0.5});
  double** evaporation = Register("snow_evaporation", {0});
  auto snow = Build();
  ASSERT_TRUE(snow) << console.str();
  Fill(snow->GetSnowStorageGrid(), {100});
  Fill(Grid("snowtemp"), {273.16});
  Step(*snow, {0, 24, 21, 3, 2000});
  ASSERT_GT(snow->night_fraction, 0.3);

  snow_balance_constants k;
  k.step_minutes = 1440.0;
  snow_balance_forcing f;
  f.humidity = 0.3;
  f.radiation = 7200.0;
  f.wind_speed = 2.0;
  f.cloudiness = 0.5;
  f.albedo = 0.6;
  f.air_pressure = AirPressureStandardAtmosphere(1000.0);
  snow_balance_cell cell{100.0, 0.0, 273.16, kNodata, 0.0};
  f.t_air = 2.0;
  SnowEnergyBalancePart(k, f, snow->night_fraction, cell);
  const double night = cell.evaporation;
  f.t_air = 1.0;
  SnowEnergyBalancePart(k, f, snow->day_fraction, cell);
  EXPECT_GT(night, 0.0);
  EXPECT_GT(cell.evaporation, night);
  EXPECT_DOUBLE_EQ(evaporation[1][1], cell.evaporation);
  EXPECT_DOUBLE_EQ(snow->GetSnowStorageGrid()[1][1], 100.0 - cell.evaporation);
}

// ---- the water of the cover over a winter

// Forcing of step `k` at cell (r, c): a cold and a mild spell, showers every
// few steps, cells differing by altitude.
struct winter_forcing {
  double temperature, night, precipitation, unload, radiation;
};
winter_forcing Weather(int k, int steps_per_day, int r, int c) {
  const double day = static_cast<double>(k) / steps_per_day;
  const double season = -6.0 + 10.0 * day / 90.0;  // from -6 °C to +4 °C over 90 days
  const double daily = 4.0 * std::sin(2.0 * M_PI * (k % steps_per_day) / steps_per_day);
  const double t = season + daily - 0.8 * (r + c);
  const double p = (k % 5 == 0 || k % 7 == 0) ? 0.5 + 0.3 * ((k + r * c) % 4) : 0.0;
  // Sunshine of the step, Wh/m²: a day's 3000 over the hours of daylight.
  const double sun = steps_per_day == 1 ? 3000.0 : std::max(0.0, 100.0 * daily);
  return {t, t - 5.0, p * 24.0 / steps_per_day, (k % 11 == 0) ? 0.05 * c : 0.0, sun * (1.0 + 0.1 * r)};
}

struct winter_totals {
  double outflow = 0.0;      // of all cells and steps
  double peak_cover = 0.0;   // largest cover of a cell
  double evaporation = 0.0;  // sublimation less deposition, of all cells and steps
};

// Runs `steps` steps and checks the balance of the cover cell by cell (or of
// the domain, with slides) at every step.
winter_totals RunWinter(SnowDomain& t, schneemodellklasse& snow, int steps, int steps_per_day,
                        bool per_cell) {
  double** solid = snow.GetSnowStorageGrid();
  double** liquid = t.Grid("snowstorage_liquid");
  double** outflow = t.Grid("snowcover_outflow");
  double** water = t.Grid("precipitation");
  double** temperature = t.Grid("temperature");
  double** unload = t.Grid("Snow_canopy_unload_solid");
  double** evaporation = t.Grid("snow_evaporation");
  double** radiation = t.Grid("AspectCorrectedGlobalRadiation");
  double** night = steps_per_day == 1 ? t.Grid("temperature_night") : nullptr;
  double** zone = t.Grid("[zone_grid]");
  winter_totals totals;
  const int minutes = 1440 / steps_per_day;
  for (int k = 0; k < steps; ++k) {
    double before = 0.0, gained = 0.0;
    std::vector<double> cell_before;
    for (int r = 1; r <= t.nrows; ++r)
      for (int c = 1; c <= t.ncols; ++c) {
        if (zone[r][c] == kNodata) continue;
        const winter_forcing w = Weather(k, steps_per_day, r, c);
        temperature[r][c] = w.temperature;
        water[r][c] = w.precipitation;
        unload[r][c] = w.unload;
        radiation[r][c] = w.radiation;
        if (night) night[r][c] = w.night;
        cell_before.push_back(solid[r][c] + liquid[r][c]);
        before += cell_before.back();
      }
    // Step k ends (k + 1) steps after the start of the year; midnight is hour
    // 24 of the day before.
    const int end = (k + 1) * minutes;
    int day = end / 1440 + 1;
    int hour = end % 1440 / 60;
    if (hour == 0) {
      hour = 24;
      --day;
    }
    int month = 1;
    while (day > kMonthLengths[static_cast<size_t>(month)])
      day -= kMonthLengths[static_cast<size_t>(month++)];
    SnowDomain::Step(snow, {0, hour, day, month, 2001});

    double after = 0.0;
    size_t i = 0;
    for (int r = 1; r <= t.nrows; ++r)
      for (int c = 1; c <= t.ncols; ++c) {
        if (zone[r][c] == kNodata) continue;
        ++i;
        const double cell_gain = water[r][c] + unload[r][c] - outflow[r][c] - evaporation[r][c];
        const double cover = solid[r][c] + liquid[r][c];
        if (per_cell) {
          EXPECT_NEAR(cover - cell_before[i - 1], cell_gain, 1e-12)
              << "step " << k << " cell " << r << "," << c;
          if (::testing::Test::HasFailure()) return totals;
        }
        EXPECT_GE(solid[r][c], 0.0);
        EXPECT_GE(liquid[r][c], 0.0);
        gained += cell_gain;
        after += cover;
        totals.outflow += outflow[r][c];
        totals.evaporation += evaporation[r][c];
        totals.peak_cover = std::max(totals.peak_cover, cover);
      }
    EXPECT_NEAR(after - before, gained, 1e-11) << "step " << k;
    if (::testing::Test::HasFailure()) return totals;
  }
  return totals;
}

TEST_F(SnowStep, TheCoverKeepsItsWaterOverAWinterWithEveryMethod) {
  struct run {
    int method;
    int steps_per_day;
  };
  const run runs[] = {{1, 24}, {2, 24}, {3, 24},  {4, 24}, {10, 24}, {13, 24}, {1, 1},   {3, 1},
                      {4, 1},  {10, 1}, {13, 1},  {8, 24}, {9, 24},  {12, 24}, {14, 24}, {9, 1},
                      {14, 1}, {5, 24}, {11, 24}, {5, 1},  {11, 1},  {6, 24},  {7, 24},  {7, 1}};
  for (const run& w : runs) {
    SCOPED_TRACE("method " + std::to_string(w.method) + ", steps per day " + std::to_string(w.steps_per_day));
    const bool slides = SnowMethodKind(w.method).slides;
    SetDomain(4, 3, {1, 1, 2, 2, 1, 1, 2, 2, 1, kNodata, 2, 2},
              {2000, 1900, 1950, 1800, 1850, 1700, 1600, 1500, 1500, 1400, 1300, 1200});
    section = snow_section_text{};
    section.method = std::to_string(w.method);
    section.interval = std::to_string(1440 / w.steps_per_day);
    section.cwh = "0.08";
    section.ddf = "2 2.5 3 3.5 4 4 4 4 4 3.5 3 2";
    section.slide_mass_fraction = "0.2";
    Register("Snow_canopy_unload_solid", {0});
    Register("wind_speed", {1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2});
    Register("vapor_pressure", {5.5});
    Register("deposition_index", {0.3, -0.1, 0.2, 0, 0.5, 0.1, 0.2, 0.3, 0, 0, 0.4, 0.2});
    Register("temperature_night", {0});
    Register("slope_angle", {45, 40, 35, 50, 20, 38, 31, 29, 30, 0, 60, 10});
    Register("slidefraction1", {0.1});
    Register("slidefraction2", {0.2});
    Register("slidefraction3", {0.3});
    Register("slidefraction4", {0.4});
    // The energy balance's: the temperature-index methods leave the snow
    // evaporation at 0.
    Register("air_humidity", {0.9, 0.6, 0.3, 0.8, 0.7, 0.5, 0.95, 0.4, 0.6, 0, 0.85, 1.0});
    Register("AspectCorrectedGlobalRadiation", {0});
    Register("cloudiness", {0.1, 0.5, 0.9, 0.3, 0.7, 0.2, 0.6, 0.4, 0.8, 0.0, 1.0, 0.5});
    Register("snow_evaporation", {0});
    auto snow = Build();
    ASSERT_TRUE(snow);
    const int days = 120;
    const winter_totals totals = RunWinter(*this, *snow, days * w.steps_per_day, w.steps_per_day, !slides);
    if (HasFailure()) return;
    // The winter built a cover and the spring melted it.
    EXPECT_GT(totals.peak_cover, 20.0);
    EXPECT_GT(totals.outflow, 100.0);
    if (SnowMethodKind(w.method).melt == snow_melt_kind::energy_balance) {
      EXPECT_GT(totals.evaporation, 1.0);
    } else {
      EXPECT_EQ(totals.evaporation, 0.0);
    }
  }
}

}  // namespace
}  // namespace velmo::test
