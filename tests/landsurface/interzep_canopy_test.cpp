// The interception model's snow canopy on a small domain: the inputs the energy balance needs and the table
// limit, the grids with their files, tables and initial values, a snowfall through the module beside a
// glacier, a cell of small trees and a missing temperature, the water of the canopy over changing steps, and
// the canopy energy balance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "landsurface/canopy_domain.h"
#include "landsurface/interzep.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;

constexpr double kTol = 1e-12;

class SnowCanopyModel : public test::CanopyDomain {
 protected:
  // One layer of leaf area 2 (effective 2 with the scaling 1) and the
  // weather grids; with the energy balance also the snow model's grids.
  void AddInputs(bool energy_balance) {
    AddLayers({{1.0, 2.0, 0.8}});
    AddGrid("precipitation", 0.0);
    AddGrid("temperature", 0.0);
    AddGrid("AspectCorrectedGlobalRadiation", 0.0);
    AddGrid("wind_speed", 1.0);
    AddGrid("air_humidity", 0.8);
    AddGrid("cloudiness", 0.5);
    if (!energy_balance) return;
    AddGrid("albedo", 0.8);
    AddGrid("snow_storage_total", 10.0);
    AddGrid("surftemp", 270.0);
  }
  std::unique_ptr<interzeptionsmodellklasse> Build(int method, int read_grids = 0, int stat_code = 0) {
    auto model = Make<interzeptionsmodellklasse>(Section(method, 1.0, read_grids, stat_code) +
                                                 test::SnowCanopyLines(method, 1.0, 0.05, 1.0, stat_code));
    // What the model application hands over from the snow model.
    model->SetSnowParameters(1.0, 0.0);
    return model;
  }
  static void Step(interzeptionsmodellklasse& model, int hour) { model.RunTimeStep(0, hour, 10, 1, 2000); }
};

TEST_F(SnowCanopyModel, InputsOfTheEnergyBalanceAndTheTableLimit) {
  AddInputs(false);
  const std::string text = Section(31) + test::SnowCanopyLines(31);
  EXPECT_THAT(ExpectCode(kCanopyBalanceInputCode, [&] { Make<interzeptionsmodellklasse>(text); }),
              HasSubstr("Albedo not available in advanced snow interception model with canopy energy "
                        "balance (should be available when an extended snow model is used)"));
  AddGrid("albedo", 0.8);
  EXPECT_THAT(ExpectCode(kCanopyBalanceInputCode, [&] { Make<interzeptionsmodellklasse>(text); }),
              HasSubstr("total snow storage not available in advanced snow interception model with "
                        "canopy energy balance (use any snow model to have this grid been created for you)"));
  AddGrid("snow_storage_total", 0.0);
  EXPECT_THAT(ExpectCode(kCanopyBalanceInputCode, [&] { Make<interzeptionsmodellklasse>(text); }),
              HasSubstr("snow surface temperatur not available in advanced snow interception model with "
                        "canopy energy balance (in snow model, an energy balance approach should be used)"));
  AddGrid("surftemp", 270.0);
  // The method 21 needs no grid of the snow model, but the weather.
  grids_[Find("cloudiness")].name = "renamed";
  EXPECT_THAT(ExpectCode(kMissingGridCode, [&] { Build(21); }), HasSubstr("cloudiness"));
  grids_[Find("renamed")].name = "cloudiness";

  // The canopy's grids need a first free entry below 986 after the six of
  // the layers.
  const int first = grids_.FirstFreeEntry();
  for (int i = first; i < 980; ++i) grids_[i].name = "taken";
  EXPECT_THAT(ExpectCode(kNoFreeGridCode, [&] { Build(31); }), HasSubstr("no free grid left"));
  for (int i = first; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
  for (int i = first; i < 979; ++i) grids_[i].name = "taken";
  auto model = Build(31);
  EXPECT_EQ(Find("CEB_DUMMY"), 999);
  model->CleanUp();
}

TEST_F(SnowCanopyModel, GridsFilesTablesAndInitialValues) {
  AddInputs(true);
  auto model = Build(32, 0, 1001);
  const char* names[] = {"Snow_canopy_load",
                         "Snow_canopy_albedo",
                         "Snow_canopy_age",
                         "Snow_canopy_sublim",
                         "Snow_canopy_unload_solid",
                         "Snow_canopy_unload_liquid",
                         "Snow_canopy_temperature",
                         "Snow_canopy_rh",
                         "Snow_canopy_rad",
                         "Snow_canopy_wind",
                         "Snow_canopy_IR_radiation",
                         "Canopy_Energy_balance",
                         "CEB_Canopy_Temperature",
                         "CEB_Canopy_Temperature_Old",
                         "CEB_DUMMY"};
  const char* files[] = {"scn_load.asc",
                         "scn_albedo.asc",
                         "scn_age.asc",
                         "scn_sublim.asc",
                         "scn_unload_solid.asc",
                         "scn_unload_liquid.asc",
                         "scn_temperature.asc",
                         "scn_rh.asc",
                         "scn_rad.asc",
                         "scn_wind.asc",
                         "SCN_IR",
                         "ceb_balance.asc",
                         "ceb_temperature.asc",
                         "ceb_temperature_old.asc",
                         "ceb_dummy.asc"};
  const int first = Find(names[0]);
  ASSERT_GT(first, Find("throughfall1"));
  for (int k = 0; k < 15; ++k) {
    EXPECT_EQ(grids_[first + k].name, names[k]);
    EXPECT_EQ(grids_[first + k].file_name, files[k]);
    EXPECT_EQ(At(names[k]), k == 1 ? 0.2 : 0.0) << names[k];
    EXPECT_EQ(At(names[k], kRows, 1), kNodata) << names[k];
  }
  Step(*model, 12);
  model->FlushBuffers();
  EXPECT_THAT(test::ReadFile(dir_ / "scn_load.sta"), HasSubstr("SCN_LOAD_in_mm_submodel:interception_model"));
  EXPECT_THAT(test::ReadFile(dir_ / "scn_temperature.sta"), HasSubstr("SCN_sub-canopy_temperature_"));
  EXPECT_THAT(test::ReadFile(dir_ / "ceb_dummy.sta"), HasSubstr("CEB_dummy_"));
  EXPECT_FALSE(Exists("SCN_IR.sta"));
  model->CleanUp();
  for (const char* name : names) EXPECT_EQ(Find(name), 0) << name;

  // Load, albedo, age and the last canopy temperature start from their files.
  settings_.InitialStateDirectory = &output_directory_;
  const std::string header = "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nNODATA_value -9999\n";
  const auto grid = [&](const char* file, double value) {
    const std::string v = std::to_string(value);
    test::WriteFile(dir_ / file, header + v + " -9999 " + v + " " + v + "\n" + v + " " + v + " " + v + " " +
                                     v + "\n-9999 " + v + " " + v + " " + v + "\n");
  };
  grid("si.asc", 0.0);
  grid("si_Layer_1.asc", 0.0);
  grid("scn_load.asc", 3.0);
  grid("scn_albedo.asc", 0.7);
  grid("scn_age.asc", 2.0);
  grid("ceb_temperature_old.asc", 268.0);
  model = Build(31, 1);
  EXPECT_EQ(At("Snow_canopy_load"), 3.0);
  EXPECT_EQ(At("Snow_canopy_albedo"), 0.7);
  EXPECT_EQ(At("Snow_canopy_albedo", 1, 2), 0.2);  // a hole inside the catchment
  EXPECT_EQ(At("Snow_canopy_age"), 2.0);
  EXPECT_EQ(At("CEB_Canopy_Temperature_Old"), 268.0);
  EXPECT_EQ(At("Snow_canopy_sublim"), 0.0);
}

TEST_F(SnowCanopyModel, SnowfallBesideAGlacierAndSmallTrees) {
  AddInputs(false);
  AddGrid("GlacierizedCells", 0.0)[1][2] = 1.0;
  Data("leaf_area_index1")[1][3] = 0.5;  // below the minimum of 1
  auto model = Build(21);
  // An hour at 0 °C makes the day's mean of the next hour -1 °C.
  Step(*model, 11);
  Set("temperature", -2.0);
  Set("precipitation", 5.0);
  Set("AspectCorrectedGlobalRadiation", 100.0);
  Set("wind_speed", 3.0);
  Step(*model, 12);

  EXPECT_NEAR(At("Snow_canopy_load"), 2.644043, 5e-7);
  EXPECT_NEAR(At("Snow_canopy_sublim"), 0.025980, 5e-7);
  EXPECT_NEAR(At("Snow_canopy_unload_solid"), 2.329976, 5e-7);
  EXPECT_EQ(At("Snow_canopy_unload_liquid"), 0.0);
  EXPECT_NEAR(At("Snow_canopy_temperature"), 271.5605 - 273.16, 5e-5);
  EXPECT_NEAR(At("Snow_canopy_rh"), 0.860081, 5e-7);
  EXPECT_NEAR(At("Snow_canopy_wind"), 1.460257, 5e-7);
  EXPECT_NEAR(At("Snow_canopy_IR_radiation"), 287.802, 5e-4);
  EXPECT_NEAR(At("Snow_canopy_rad"), 100.0 * std::exp(-0.82), kTol);
  EXPECT_DOUBLE_EQ(At("Snow_canopy_albedo"), 0.8);
  EXPECT_EQ(At("Snow_canopy_age"), 0.0);
  EXPECT_EQ(At("throughfall0"), 0.0);
  // The glacier and the small trees hold no snow: the weather passes.
  for (int c : {2, 3}) {
    SCOPED_TRACE(c);
    EXPECT_EQ(At("Snow_canopy_unload_liquid", 1, c), 5.0);
    EXPECT_EQ(At("Snow_canopy_unload_solid", 1, c), 0.0);
    EXPECT_EQ(At("Snow_canopy_load", 1, c), 0.0);
    EXPECT_EQ(At("Snow_canopy_temperature", 1, c), -2.0);
    EXPECT_EQ(At("Snow_canopy_rh", 1, c), 0.8);
    EXPECT_EQ(At("Snow_canopy_rad", 1, c), 100.0);
    EXPECT_EQ(At("Snow_canopy_wind", 1, c), 3.0);
    EXPECT_EQ(At("Snow_canopy_IR_radiation", 1, c), 0.0);
    EXPECT_EQ(At("Snow_canopy_albedo", 1, c), 0.2);
  }
  EXPECT_EQ(At("throughfall0", 1, 2), 5.0);

  // A missing air temperature passes the weather on; the canopy's snow falls.
  Data("temperature")[1][1] = -9999.0;
  Step(*model, 13);
  EXPECT_NEAR(At("Snow_canopy_unload_solid"), 2.644043, 5e-7);
  EXPECT_EQ(At("Snow_canopy_load"), 0.0);
  EXPECT_EQ(At("Snow_canopy_unload_liquid"), 5.0);
  EXPECT_EQ(At("Snow_canopy_temperature"), -9999.0);
}

TEST_F(SnowCanopyModel, TheCanopyKeepsItsWaterOverChangingSteps) {
  struct weather {
    double t, precipitation, radiation, wind, humidity, leaf_area;
  };
  const weather steps[] = {{-4, 6, 0, 2, 0.9, 2},     {-6, 2, 50, 5, 0.5, 2},  {-1, 0, 300, 1, 0.4, 2},
                           {0.5, 3, 200, 3, 0.95, 2}, {4, 0, 500, 2, 0.6, 2},  {-3, 8, 0, 0, 0.8, 2},
                           {-3, 1, 100, 4, 0.7, 0.5}, {-2, 2, 0, 1, 0.8, 0.5}, {-1, 3, 0, 1, 0.8, 0.5},
                           {2, 4, 300, 2, 0.9, 3},    {6, 0, 600, 6, 0.3, 3}};
  for (int method : {21, 32}) {
    SCOPED_TRACE(method);
    for (int i = 3; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
    AddInputs(method >= 31);
    auto model = Build(method);
    const int last_column = kCols;
    for (std::size_t k = 0; k < std::size(steps); ++k) {
      const weather& w = steps[k];
      std::vector<double> load(last_column + 1), storage(last_column + 1);
      for (int c = 1; c <= last_column; ++c) {
        Data("temperature")[1][c] = w.t + 0.3 * c;
        Data("precipitation")[1][c] = w.precipitation * c / 2.0;
        Data("AspectCorrectedGlobalRadiation")[1][c] = w.radiation;
        Data("wind_speed")[1][c] = w.wind;
        Data("air_humidity")[1][c] = w.humidity;
        // The trees of column 4 lose their leaves for steps 7 to 9 while they hold snow.
        Data("leaf_area_index1")[1][c] = c == 4 ? w.leaf_area : 2.0;
        if (method >= 31) Data("snow_storage_total")[1][c] = c == 2 ? 0.0 : 20.0;
        load[c] = At("Snow_canopy_load", 1, c);
        storage[c] = At("interception_storage0", 1, c);
      }
      Step(*model, static_cast<int>(k) + 1);
      for (int c = 1; c <= last_column; ++c) {
        SCOPED_TRACE("step " + std::to_string(k) + ", column " + std::to_string(c));
        const double input = Data("precipitation")[1][c];
        const double liquid = At("Snow_canopy_unload_liquid", 1, c);
        EXPECT_NEAR(input,
                    At("Snow_canopy_unload_solid", 1, c) + liquid + At("Snow_canopy_load", 1, c) - load[c] +
                        At("Snow_canopy_sublim", 1, c),
                    kTol);
        // The layers receive the water leaving the canopy.
        EXPECT_NEAR(liquid,
                    At("throughfall0", 1, c) + At("interception_storage0", 1, c) - storage[c] +
                        At("interception_evaporation0", 1, c),
                    kTol);
      }
    }
    EXPECT_GT(At("Snow_canopy_sublim", 1, 1) + At("Snow_canopy_load", 1, 1), 0.0);
    model->CleanUp();
  }
}

TEST_F(SnowCanopyModel, CanopyEnergyBalanceWhereTheGroundHasSnow) {
  AddInputs(true);
  Data("snow_storage_total")[1][2] = 0.0;
  Data("leaf_area_index1")[1][3] = 0.5;
  auto model = Build(31);
  Set("temperature", -5.0);
  Set("wind_speed", 3.0);
  Set("AspectCorrectedGlobalRadiation", 200.0);
  Set("CEB_Canopy_Temperature_Old", 268.66);
  Step(*model, 12);
  // Above snow: the canopy temperature closes the balance.
  EXPECT_NEAR(At("CEB_Canopy_Temperature"), 268.654785, 5e-7);
  EXPECT_EQ(At("CEB_Canopy_Temperature_Old"), At("CEB_Canopy_Temperature"));
  EXPECT_NEAR(At("Canopy_Energy_balance"), -0.339, 5e-4);
  EXPECT_NEAR(At("CEB_DUMMY"), 268.654785 - 268.16, 5e-7);
  EXPECT_NEAR(At("Snow_canopy_IR_radiation"), 255.517, 5e-4);
  // Above bare ground: the air below the canopy, no balance.
  EXPECT_EQ(At("Canopy_Energy_balance", 1, 2), 0.0);
  EXPECT_DOUBLE_EQ(At("CEB_Canopy_Temperature", 1, 2), At("Snow_canopy_temperature", 1, 2) + 273.16);
  EXPECT_EQ(At("CEB_DUMMY", 1, 2), 0.0);
  // Without a snowy canopy: the air temperature in kelvin.
  EXPECT_DOUBLE_EQ(At("CEB_Canopy_Temperature", 1, 3), -5.0 + 273.15);
  EXPECT_DOUBLE_EQ(At("CEB_Canopy_Temperature_Old", 1, 3), -5.0 + 273.15);
  EXPECT_EQ(At("Canopy_Energy_balance", 1, 3), 0.0);
}

}  // namespace
}  // namespace velmo
