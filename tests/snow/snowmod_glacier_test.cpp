// Glaciers and permafrost in the snow model: the set-up's faults and grids, the melt of glacierised cells,
// the glacier storages and the runoff they hand to the soil model, the water of a season on glaciers, the
// yearly evaluation, the permafrost thaw depth and a warm start of the storages through the state block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "physics/moist_air.h"
#include "setup/statefile.h"
#include "snow/glacier_fixture.h"
#include "snow/snow_energy_balance.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// 3 x 2 cells in subbasins 1 (upper row) and 2 (lower row).
class SnowGlacier : public GlacierDomain {
 protected:
  SnowGlacier() { Register("zonegrid_soilmodel", {1, 1, 1, 2, 2, 2}); }

  // Glaciers 5 (upper row) and 8 (lower row) on a slope from 3000 m to 2500 m.
  void DynamicGlaciers() {
    Register("[elevation_model]", {3000, 2900, 2800, 2700, 2600, 2500});
    Register("GlacierizedCells", {1, 0.6, 0, 1, 0.3, 0});
    Register("GlacierCodes", {5, 5, kNodata, 8, 8, kNodata});
  }
  // Static glaciers: ice on (1,1), (1,2), (2,1) and (2,2), firn on (1,3).
  void StaticGlaciers() {
    ice.method = "1";
    Register("ice_firn", {1, 1, 2, 1, 1, kNodata});
  }
  void Reset() {
    SetDomain(3, 2, {1});
    Register("zonegrid_soilmodel", {1, 1, 1, 2, 2, 2});
    section = snow_section_text{};
    ice = ice_firn_text{};
    permafrost.clear();
    console.str("");
  }
  static void Hour(schneemodellklasse& snow, int step, int month = 6) {
    const int hour = step % 24 + 1;
    Step(snow, {0, hour, 1 + step / 24 % 28, month, 2000});
  }
};

TEST_F(SnowGlacier, SetUpFaultsEndWithTheirCodeAndEntry) {
  struct fault {
    std::function<void(SnowGlacier&)> change;
    int code;
    std::string entry;
  };
  const fault faults[] = {
      {[](auto& t) { t.ice.method = "3"; }, 80,
       "Method for glacier melt must be 1(resp 11 for dynamic model"},
      {[](auto& t) {
         t.Register("GlacierCodes", {kNodata, 5, 5, 8, 8, 8});
       },
       80,
       "There is a cell in the GlacierizedCells-grid having no valid value in \nGlacierCodes (must be an "
       "integer "
       "ID for each separate glacier) at row 1 and col 1"},
      {[](auto& t) {
         t.Register("GlacierizedCells", {0, 0, kNodata, 0, 0, 0});
       },
       80, "There are no glacierized cells in GlacierizedCells-grid (all nodata or equal to 0)!"},
      {[](auto& t) {
         t.Register("GlacierCodes", {0, 0, kNodata, 0, 0, kNodata});
       },
       80, "The GlacierCodes grid (GlacierCodes.asc)contains nodata values only."},
      {[](auto& t) {
         t.Register("GlacierCodes", {5, 5, kNodata, 5, 8, kNodata});
       },
       84, "glacier 5 is located in more than one subbasin"},
      {[](auto& t) { t.ice.firn_line = "3 2500   firn_levels firn_base"; }, 80,
       "Could not read the three parameters firn_levels (int),\nfirn_base (double), and deltafirnper100m"},
      {[](auto& t) { t.ice.firn_line = "3.5 2500 0.1"; }, 80, "Could not read the three parameters"},
      {[](auto& t) { t.ice.firn_line = "3 2500x 0.1"; }, 80, "(\"2500x\" is no number as a whole)"},
      {[](auto& t) { t.ice.new_glacier_line = "1000 0.25x"; }, 80,
       "maxSnowPackToCreateGlacier and relSizeNewGlacier cannot be read\n(\"0.25x\" is no number as a "
       "whole)"},
      {[](auto& t) { t.ice.evaluation_line = "x 9"; }, 80, "Could not read the two parameters GMBEvalDay"},
      {[](auto& t) { t.ice.volume_area_line = "28.5 1.36 2"; }, 80, "Could not read the four parameters"},
      {[](auto& t) { t.ice.firn_line = "0 2500 0.1"; }, 80, "firn_levels must be at least 1. Here: 0"},
      {[](auto& t) { t.ice.evaluation_line = "31 4"; }, 80, "GMBEvalDay 31 and GMBEvalMonth 4 name no day"},
      {[](auto& t) { t.ice.evaluation_line = "1 13"; }, 80, "GMBEvalDay 1 and GMBEvalMonth 13"},
      {[](auto& t) { t.ice.volume_area_line = "0 1.36 2 0"; }, 80, "VAscaling must be above 0. Here: 0"},
      {[](auto& t) { t.ice.volume_area_line = "28.5 -1 2 0"; }, 80, "VAexponent must be above 0. Here: -1"},
      {[](auto& t) { t.ice.volume_area_line = "28.5 1.36 0 0"; }, 80, "numElevBands must be at least 1."},
      {[](auto& t) { t.ice.volume_area_line = "28.5 1.36 2 -1"; }, 80, "extraWeightFactorBand0 must not be"},
      {[](auto& t) { t.ice.new_glacier_line = "1000 1.5"; }, 80,
       "relSizeNewGlacier must lie in (0, 1]. Here: 1.5"},
      {[](auto& t) { t.ice.storages = "10\n-1\n10"; }, 80,
       "the storage constant kfirn_els must not be below 0"},
      {[](auto& t) { t.ice.factors = "6\nx\n3\n2"; }, 17, "error in control file, DDFfirn for [ice_firn]"},
      {[](auto& t) { t.ice.method = "12"; }, 33, "global_radiation"},
      {[](auto& t) { t.ice.method = "1"; }, 33, "ice_firn not found in memory"},
      {[](auto& t) {
         t.Register("ThawCoeffPermaFrost", {0.1});
         t.Register("PermafrostThawDepth", {0});
         t.Register("root_depth1", {1});
         t.permafrost = PermafrostText("2");
       },
       80, "method for permafrost melt must be 1 (alpha*sqrt(time))"},
  };
  for (const fault& f : faults) {
    Reset();
    DynamicGlaciers();
    f.change(*this);
    EXPECT_EQ(BuildGlacierCode(), f.code) << f.entry;
    EXPECT_THAT(console.str(), HasSubstr(f.entry));
  }
}

TEST_F(SnowGlacier, DynamicSetUpRegistersItsGridsComputesTheFirnAndTakesDefaults) {
  DynamicGlaciers();
  ice.initial = "0.1\n0.2\n0.3";
  ice.new_glacier_line = "";
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow);
  for (const char* name :
       {"melt_from_firn", "melt_from_ice", "firn_WE_stack", "GlacierMassBalance", "OldGlacierMassBalance",
        "SolidSnowStorage_onGlacier", "LiquidSnowStorage_onGlacier", "TotalSnowStorage_onGlacier",
        "GlacierizedCellsOld", "GlacierCodesOld", "SnowMelt_onGlacier", "SnowEvaporation_onGlacier"})
    EXPECT_EQ(EntriesNamed(name), 1) << name;
  for (const char* name : {"surftemp_onGlacier", "snowtemp_onGlacier", "EnergyBalance_onGlacier"})
    EXPECT_EQ(EntriesNamed(name), 0) << name;
  // Three levels of (elevation - 2500) x 0.1 on glacierised cells.
  double** firn = Grid("firn_WE_stack");
  EXPECT_DOUBLE_EQ(firn[1][1], 150.0);
  EXPECT_DOUBLE_EQ(firn[2][2], 30.0);
  EXPECT_EQ(firn[1][3], 0.0);
  EXPECT_EQ(snow->firn_levels, 3);
  EXPECT_EQ(snow->glaciers.records.size(), 2u);
  EXPECT_DOUBLE_EQ(snow->glacier_fractions[1].glacier_area, 1.6);
  EXPECT_DOUBLE_EQ(snow->glacier_fractions[2].free_area, 1.7);
  EXPECT_TRUE(snow->glacier_fractions[2].glacierised);
  EXPECT_EQ(snow->glacier_outflows[2].firn, 0.2);
  // Without the optional line, new glaciers take 1000 mm and a quarter cell.
  EXPECT_EQ(snow->glacier.maxSnowPackToCreateGlacier, 1000.0);
  EXPECT_EQ(snow->glacier.relSizeNewGlacier, 0.25);
  const std::string log = console.str();
  EXPECT_THAT(log, HasSubstr("Could not read the two optional parameters maxSnowPackToCreateGlacier"));
  EXPECT_EQ(log.find("Could not read"), log.rfind("Could not read"));
  snow->CleanUp();
  EXPECT_EQ(EntriesNamed("firn_WE_stack"), 0);
}

TEST_F(SnowGlacier, ReadgridReadsTheFirnStackTheBalancesAndTheSnowOnTheGlaciers) {
  // Cell (1,1) lies outside the zone grid.
  SetDomain(3, 2, {kNodata, 1, 1, 2, 2, 2});
  Register("zonegrid_soilmodel", {kNodata, 1, 1, 2, 2, 2});
  DynamicGlaciers();
  Register("GlacierCodes", {kNodata, 5, kNodata, 8, 8, kNodata});
  const std::string header = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
  std::string stack =
      "stack_ncols\t3\nnrows\t2\nxll\t0\nyll\t0\ncs\t100\nnodata\t-9999\ncnt\t6\nmin\t0\nmax\t9\nsum\t0\n"
      "average\t0\nnumlevels\t2\n";
  for (int cell = 0; cell < 6; ++cell)
    stack += std::to_string(3 * cell) + "\n" + std::to_string(cell) + "\n" + std::to_string(2 * cell) + "\n";
  WriteFile(dir / "firn.stk", stack);
  WriteFile(dir / "balance.asc", header + "5 -9999 -40\n1 2 3\n");
  WriteFile(dir / "balance_old.asc", header + "-9999 -9999 -30\n1 2 3\n");
  WriteFile(dir / "gsolid.asc", header + "0 12 0\n7 0 0\n");
  WriteFile(dir / "gliquid.asc", header + "0 1 0\n0 0 0\n");
  WriteFile(dir / "gtotal.asc", header + "0 13 0\n7 0 0\n");
  ice.readgrid = "1";
  ice.firn_line = "7 2500 0.1";  // the stack's levels count
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow) << console.str();
  EXPECT_EQ(snow->firn_levels, 2);
  EXPECT_EQ(Grid("firn_WE_stack")[2][1], 9.0);
  EXPECT_EQ(Grid("SolidSnowStorage_onGlacier")[1][2], 12.0);
  double** balance = Grid("GlacierMassBalance");
  double** old_balance = Grid("OldGlacierMassBalance");
  // Inside the zone grid a missing balance is 0, outside it none is kept.
  EXPECT_EQ(balance[1][2], 0.0);
  EXPECT_EQ(balance[1][3], -40.0);
  EXPECT_EQ(balance[1][1], kNodata);
  EXPECT_EQ(old_balance[1][3], -30.0);
}

TEST_F(SnowGlacier, StaticSetUpNamesTheSnowTableFromTheQglacTable) {
  StaticGlaciers();
  ice.qglac = "q.txt";
  ice.statistics_code = "1001";
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow);
  EXPECT_TRUE(std::filesystem::exists(dir / "q_qsgl_.txt"));
  EXPECT_THAT(ReadFile(dir / "q_qsgl_.txt"), HasSubstr("snow_melt_from_ice_areas__"));
  EXPECT_EQ(EntriesNamed("firn_WE_stack"), 0);
  EXPECT_EQ(EntriesNamed("melt_from_ice"), 1);
}

TEST_F(SnowGlacier, StaticCellsMeltSnowThenIceOrFirn) {
  // Hourly at 5 °C: ice (DDFice 6), ice under debris 0.5, firn (DDFfirn 4);
  // 0.3 mm of snow melts away first (DDFsnow 3 could melt 0.625), 5 mm do not.
  StaticGlaciers();
  Register("ice_firn", {1, 1, 2, 1, 1, kNodata});
  Register("debris_on_glaciers", {kNodata, 0.5, kNodata, kNodata, kNodata, kNodata});
  Register("temperature", {5});
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow);
  Fill(snow->GetSnowStorageGrid(), {0, 0, 0, 0.3, 5, 0});
  Hour(*snow, 11);
  double** ice_melt = Grid("melt_from_ice");
  double** firn_melt = Grid("melt_from_firn");
  EXPECT_DOUBLE_EQ(ice_melt[1][1], 1.25);
  EXPECT_DOUBLE_EQ(ice_melt[1][2], 0.625);
  EXPECT_NEAR(firn_melt[1][3], 0.833333333, 1e-9);
  EXPECT_EQ(ice_melt[1][3], 0.0);
  EXPECT_DOUBLE_EQ(ice_melt[2][1], 0.95);
  EXPECT_EQ(ice_melt[2][2], 0.0);
  EXPECT_DOUBLE_EQ(snow->GetSnowStorageGrid()[2][2], 5.0 - 0.625);
  // The cell without glacier melts by the snow model's own method.
  EXPECT_EQ(ice_melt[2][3], 0.0);
}

TEST_F(SnowGlacier, StoragesHandTheGlacierRunoffToTheSoilModel) {
  // Subbasin 1 wholly ice that melts 1 mm a step; kice_els 10 hours.
  StaticGlaciers();
  Register("ice_firn", {1, 1, 1, kNodata, kNodata, kNodata});
  Register("temperature", {5});
  ice.factors = "4.8\n4\n3\n2";
  ice.statistics_code = "2001";
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow);
  double** runoff = Runoff(2);
  runoff[0][2] = 7.0;
  snow->SetSubbasinRunoff(runoff);
  const double expected[] = {0.0951626, 0.1812692, 0.2591818};
  for (int step = 0; step < 3; ++step) {
    Hour(*snow, step);
    EXPECT_NEAR(runoff[0][1], expected[step], 1e-7);
    EXPECT_EQ(runoff[1][1], runoff[0][1]);
  }
  // A subbasin without glacier gets nothing from the glaciers.
  EXPECT_EQ(runoff[0][2], 7.0);
  EXPECT_EQ(runoff[1][2], 0.0);

  // When its glaciers are gone the subbasin's runoff takes what the storage
  // held: e/(1 - e) times its last outflow, over the glacier share it had (all).
  const double e = std::exp(-1.0 / 10.0);
  const double held = snow->glacier_outflows[1].ice * e / (1.0 - e);
  snow->glacier_fractions[1].glacier_area = 0.0;
  Hour(*snow, 3);
  EXPECT_NEAR(runoff[0][1], held, 1e-12);
  EXPECT_EQ(snow->glacier_outflows[1].ice, 0.0);
  Hour(*snow, 4);
  EXPECT_EQ(runoff[0][1], 0.0);

  // The tables: the ice melt of the subbasins and the whole, and the runoff.
  snow->CleanUp();
  EXPECT_THAT(ReadFile(dir / "qice.stat"), HasSubstr("2000\t 6\t 1\t 3\t1.00000\t0.00000\t0.50000"));
  EXPECT_THAT(ReadFile(dir / "qglac.stat"), HasSubstr("2000\t 6\t 1\t 3\t0.25918\t0.00000\t0.12959"));
  EXPECT_THAT(ReadFile(dir / "qglac_qsgl_.stat"), HasSubstr("snow_melt_from_ice_areas__"));
}

// The water of every subbasin over a season of hourly steps: what fell is in
// the covers, the firn or the storages, went to the soil (the glacier-free
// share of the cover's outflow), left as glacier runoff or sublimated from
// either cover (energy-balance methods); melted ice is the only source. Each
// storage alone closes too.
class GlacierSeason : public SnowGlacier {
 protected:
  struct storage_sums {
    double outflow = 0.0;
    double inflow = 0.0;
  };

  void RunSeason(int steps) {
    auto snow = BuildGlacier();
    ASSERT_TRUE(snow) << console.str();
    const bool dynamic = ice.Dynamic();
    double** runoff = Runoff(2);
    snow->SetSubbasinRunoff(runoff);
    Fill(snow->GetSnowStorageGrid(), {40, 0, 10, 120, 5, 0});
    const double start[3] = {0.0, Water(*snow, 1), Water(*snow, 2)};
    glacier_outflow first[3] = {{}, snow->glacier_outflows[1], snow->glacier_outflows[2]};
    double fallen[3] = {}, to_soil[3] = {}, glacier_runoff[3] = {}, ice_melt[3] = {}, sublimated[3] = {};
    double** evaporation = EntriesNamed("snow_evaporation") > 0 ? Grid("snow_evaporation") : nullptr;
    storage_sums sums[3][3] = {};
    double** share_grid = Grid(dynamic ? "GlacierizedCells" : "ice_firn");
    for (int step = 0; step < steps; ++step) {
      const double t = -3.0 + 9.0 * std::sin(step * 0.26) + step * 0.004;
      Register("temperature", {t, t - 0.5, t - 1, t - 1.5, t - 2, t - 2.5});
      Register("precipitation", {step % 7 == 0 ? 2.5 : 0.0});
      Hour(*snow, step);
      for (int r = 1; r <= 2; ++r) {
        double melt[3] = {};
        for (int c = 1; c <= 3; ++c) {
          const double g = CellGlacierShare(share_grid[r][c]);
          fallen[r] += Grid("precipitation")[r][c];
          to_soil[r] += (1.0 - g) * Grid("snowcover_outflow")[r][c];
          if (evaporation) sublimated[r] += (1.0 - g) * evaporation[r][c];
          if (dynamic) sublimated[r] += g * Grid("SnowEvaporation_onGlacier")[r][c];
          // Static glaciers keep no firn: their firn melt comes from outside too.
          ice_melt[r] += g * (Grid("melt_from_ice")[r][c] + (dynamic ? 0.0 : Grid("melt_from_firn")[r][c]));
          const double snow_melt = dynamic   ? Grid("SnowMelt_onGlacier")[r][c]
                                   : g > 0.0 ? Grid("snowcover_outflow")[r][c]
                                             : 0.0;
          const bool firn = dynamic && Grid("firn_WE_stack")[r][c] > 0.0;
          melt[0] += g * Grid("melt_from_ice")[r][c];
          melt[1] += g * (Grid("melt_from_firn")[r][c] + (firn ? snow_melt : 0.0));
          melt[2] += g * (firn ? 0.0 : snow_melt);
        }
        glacier_runoff[r] += 3.0 * runoff[0][r];
        const double v = Share(*snow, r);
        const glacier_outflow& q = snow->glacier_outflows[static_cast<std::size_t>(r)];
        const double now[3] = {q.ice, q.firn, q.snow};
        for (int k = 0; k < 3; ++k) {
          sums[r][k].outflow += now[k];
          sums[r][k].inflow += melt[k] / (3.0 * v);
        }
      }
    }
    for (int s = 1; s <= 2; ++s) {
      const double end = Water(*snow, s);
      const double scale = fallen[s] + start[s];
      EXPECT_GT(glacier_runoff[s], 1.0) << s;
      EXPECT_NEAR(start[s] + fallen[s] + ice_melt[s], end + to_soil[s] + glacier_runoff[s] + sublimated[s],
                  1e-10 * scale)
          << s;
      // Each storage: Σ Q + Q_end·e/(1 − e) = Σ M/V + Q_start·e/(1 − e).
      const glacier_outflow& q = snow->glacier_outflows[static_cast<std::size_t>(s)];
      const double last[3] = {q.ice, q.firn, q.snow};
      const double begun[3] = {first[s].ice, first[s].firn, first[s].snow};
      for (int k = 0; k < 3; ++k) {
        const double e = StorageRecession(1.0, 10.0);
        EXPECT_NEAR(sums[s][k].outflow + last[k] * e / (1.0 - e),
                    sums[s][k].inflow + begun[k] * e / (1.0 - e), 1e-10 * (1.0 + sums[s][k].inflow))
            << s << " " << k;
      }
    }
  }

  double Share(schneemodellklasse& snow, int s) {
    const auto& f = snow.glacier_fractions[static_cast<std::size_t>(s)];
    return f.glacier_area / (f.glacier_area + f.free_area);
  }
  // The water a subbasin holds: covers, firn and the three storages.
  double Water(schneemodellklasse& snow, int s) {
    const bool dynamic = ice.Dynamic();
    double** share_grid = Grid(dynamic ? "GlacierizedCells" : "ice_firn");
    double water = 0.0;
    for (int c = 1; c <= 3; ++c) {
      const double g = CellGlacierShare(share_grid[s][c]);
      const double cover = snow.GetSnowStorageGrid()[s][c] + Grid("snowstorage_liquid")[s][c];
      if (!dynamic) {
        water += cover;
        continue;
      }
      const double on_glacier =
          Grid("SolidSnowStorage_onGlacier")[s][c] + Grid("LiquidSnowStorage_onGlacier")[s][c];
      water += (1.0 - g) * cover + g * (on_glacier + Grid("firn_WE_stack")[s][c]);
    }
    const double e = StorageRecession(1.0, 10.0);
    const glacier_outflow& q = snow.glacier_outflows[static_cast<std::size_t>(s)];
    return water + (q.ice + q.firn + q.snow) * e / (1.0 - e) * Share(snow, s) * 3.0;
  }
};

TEST_F(GlacierSeason, DynamicGlaciersKeepTheWater) {
  DynamicGlaciers();
  ice.initial = "0.05\n0.2\n0.1";
  RunSeason(600);
}

TEST_F(GlacierSeason, DynamicGlaciersWithSlidesKeepTheWater) {
  // Snow slides within a zone; here the zones are the subbasins.
  SetDomain(3, 2, {1, 1, 1, 2, 2, 2});
  Register("zonegrid_soilmodel", {1, 1, 1, 2, 2, 2});
  DynamicGlaciers();
  section.method = "8";
  Register("slope_angle", {40, 35, 20, 45, 10, 5});
  Register("slidefraction1", {0});
  Register("slidefraction2", {0.1});
  Register("slidefraction3", {0.2});
  Register("slidefraction4", {0.7});
  RunSeason(600);
}

TEST_F(GlacierSeason, GlaciersWithTheSnowMethodsMeltKeepTheWater) {
  // Glacier method 13: the snow on both covers melts by the snow model's
  // method (here the temperature-wind index), firn and ice by radiation.
  DynamicGlaciers();
  ice.method = "13";
  section.method = "2";
  Register("global_radiation", {150});
  Register("wind_speed", {2});
  RunSeason(600);
}

TEST_F(GlacierSeason, EnergyBalanceSnowOnGlaciersKeepsTheWater) {
  // Glacier method 13 with the energy balance (snow method 5) on both
  // covers: each sublimates and deposits on its own.
  DynamicGlaciers();
  ice.method = "13";
  section.method = "5";
  Register("global_radiation", {150});
  Register("AspectCorrectedGlobalRadiation", {120, 200, 80, 150, 60, 250});
  Register("air_humidity", {0.6, 0.9, 0.4, 0.75, 0.5, 0.85});
  Register("wind_speed", {2});
  Register("cloudiness", {0.1, 0.7, 0.4, 0.3, 0.9, 0.5});
  Register("snow_evaporation", {0});
  RunSeason(600);
}

TEST_F(GlacierSeason, StaticGlaciersKeepTheWater) {
  StaticGlaciers();
  Register("ice_firn", {1, 0.5, 2, 1, 0.3, kNodata});
  ice.initial = "0.05\n0.2\n0.1";
  RunSeason(600);
}

// The energy balance's weather on the glacier domain.
void EnergyBalanceWeather(SnowGlacier& t) {
  t.Register("global_radiation", {150});
  t.Register("AspectCorrectedGlobalRadiation", {300});
  t.Register("air_humidity", {0.7});
  t.Register("wind_speed", {2});
  t.Register("cloudiness", {0.5});
}

TEST_F(SnowGlacier, EnergyBalanceSnowOnTheGlacierShareHasItsOwnTemperaturesAndSublimation) {
  DynamicGlaciers();
  ice.method = "13";
  section.method = "5";
  section.albedo = "0.6\n0.6";
  ice.on_glacier_write_code = "1";
  EnergyBalanceWeather(*this);
  double** evaporation = Register("snow_evaporation", {9});
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow) << console.str();
  for (const char* name : {"surftemp_onGlacier", "snowtemp_onGlacier", "EnergyBalance_onGlacier"})
    EXPECT_EQ(EntriesNamed(name), 1) << name;

  // Cell (1,1) lies at 3000 m, all glacier: its ordinary cover and the snow
  // on its glacier start from different states.
  Fill(snow->GetSnowStorageGrid(), {50});
  Fill(Grid("snowtemp"), {268});
  double** glacier_solid = Grid("SolidSnowStorage_onGlacier");
  double** glacier_liquid = Grid("LiquidSnowStorage_onGlacier");
  double** glacier_pack = Grid("snowtemp_onGlacier");
  double** glacier_surface = Grid("surftemp_onGlacier");
  double** glacier_evaporation = Grid("SnowEvaporation_onGlacier");
  Fill(glacier_solid, {80});
  Fill(glacier_liquid, {0});
  Fill(glacier_pack, {262});

  // A cold night hour with 1 mm of snow.
  Register("temperature", {-5});
  Register("AspectCorrectedGlobalRadiation", {0});
  Register("precipitation", {1});
  Hour(*snow, 2);
  snow_balance_constants k;
  k.nodata = kNodata;
  snow_balance_forcing f;
  f.t_air = -5.0;
  f.humidity = 0.7;
  f.wind_speed = 2.0;
  f.cloudiness = 0.5;
  f.albedo = 0.6;
  f.input_water = 1.0;
  f.snowfall = 1.0;
  f.air_pressure = AirPressureStandardAtmosphere(3000.0);
  snow_balance_cell ordinary{51.0, 0.0, 268.0, kNodata, 0.0};
  snow_balance_cell on_glacier{81.0, 0.0, 262.0, 0.0, 0.0};
  SnowEnergyBalancePart(k, f, 1.0, ordinary);
  SnowEnergyBalancePart(k, f, 1.0, on_glacier);
  ASSERT_NE(ordinary.pack_temperature, on_glacier.pack_temperature);
  EXPECT_EQ(Grid("snowtemp")[1][1], ordinary.pack_temperature);
  EXPECT_EQ(Grid("surftemp")[1][1], ordinary.surface_temperature);
  EXPECT_EQ(evaporation[1][1], ordinary.evaporation);
  EXPECT_EQ(glacier_pack[1][1], on_glacier.pack_temperature);
  EXPECT_EQ(glacier_surface[1][1], on_glacier.surface_temperature);
  EXPECT_EQ(glacier_evaporation[1][1], on_glacier.evaporation);
  EXPECT_LT(on_glacier.evaporation, 0.0);  // deposition
  EXPECT_EQ(glacier_solid[1][1], on_glacier.solid);

  // A warm sunny hour: the snow on the glacier melts by its own balance,
  // and no ice melts under it.
  Register("temperature", {5});
  Register("AspectCorrectedGlobalRadiation", {300});
  Register("precipitation", {0});
  Fill(glacier_liquid, {7.9});
  Fill(glacier_pack, {273.16});
  Hour(*snow, 12);
  f.t_air = 5.0;
  f.radiation = 300.0;
  f.input_water = f.snowfall = 0.0;
  on_glacier.liquid = 7.9;
  on_glacier.pack_temperature = 273.16;
  const double melt = SnowEnergyBalancePart(k, f, 1.0, on_glacier).melt;
  ASSERT_GT(melt, 0.5);
  const snow_release release = ReleaseLiquid(melt, 0.1, on_glacier.solid, on_glacier.liquid);
  ASSERT_GT(release.outflow, 0.5);
  EXPECT_NEAR(Grid("SnowMelt_onGlacier")[1][1], release.outflow, 1e-12);
  EXPECT_NEAR(glacier_solid[1][1], on_glacier.solid, 1e-12);
  EXPECT_EQ(glacier_pack[1][1], 273.16);
  // Condensation onto melting snow is no sublimation.
  EXPECT_EQ(glacier_evaporation[1][1], 0.0);
  EXPECT_EQ(Grid("melt_from_ice")[1][1], 0.0);
  EXPECT_EQ(Grid("melt_from_firn")[1][1], 0.0);
  // Written every step.
  EXPECT_THAT(ReadFile(dir / "gtemp.asc"), HasSubstr("\n273.16\t"));
  EXPECT_TRUE(std::filesystem::exists(dir / "gsurf.asc"));
  EXPECT_TRUE(std::filesystem::exists(dir / "gevap.asc"));
  snow->CleanUp();
  EXPECT_EQ(EntriesNamed("snowtemp_onGlacier"), 0);
}

TEST_F(SnowGlacier, EnergyBalanceCoversOfGlacierisedCellsKeepTheirWaterInEveryStep) {
  // Both covers of every cell, methods 5 and 11 (deposition index on the
  // ordinary cover only), hourly and daily: the ordinary cover gains the
  // input water as the deposition index raised it, the snow on the glacier
  // share the input water as it fell.
  struct run {
    const char* method;
    int minutes;
  } runs[] = {{"5", 60}, {"11", 60}, {"5", 1440}, {"11", 1440}};
  for (const run& w : runs) {
    SCOPED_TRACE(std::string("method ") + w.method + ", " + std::to_string(w.minutes) + " minutes");
    Reset();
    DynamicGlaciers();
    ice.method = "13";
    section.method = w.method;
    section.interval = std::to_string(w.minutes);
    settings.timestep = w.minutes;
    EnergyBalanceWeather(*this);
    Register("air_humidity", {0.6, 0.9, 0.4, 0.75, 0.3, 0.85});
    Register("cloudiness", {0.1, 0.7, 0.4, 0.3, 0.9, 0.5});
    Register("deposition_index", {0.3, -0.1, 0.2, 0, 0.5, 0.1});
    Register("temperature_night", {0});
    double** evaporation = Register("snow_evaporation", {0});
    auto snow = BuildGlacier();
    ASSERT_TRUE(snow) << console.str();
    Fill(snow->GetSnowStorageGrid(), {40, 0, 10, 120, 5, 0});
    Fill(Grid("SolidSnowStorage_onGlacier"), {30, 60, 0, 5, 0, 0});
    double** solid = snow->GetSnowStorageGrid();
    double** liquid = Grid("snowstorage_liquid");
    double** glacier_solid = Grid("SolidSnowStorage_onGlacier");
    double** glacier_liquid = Grid("LiquidSnowStorage_onGlacier");
    double** water = Grid("precipitation");
    const int steps = w.minutes == 60 ? 24 * 30 : 60;
    double sublimated = 0.0, melted = 0.0;
    for (int step = 0; step < steps; ++step) {
      const double t = -4.0 + 8.0 * std::sin(step * (w.minutes == 60 ? 0.26 : 0.9)) + step * 0.01;
      Register("temperature", {t, t - 0.5, t - 1, t - 1.5, t - 2, t - 2.5});
      Register("temperature_night", {t - 3});
      Register("AspectCorrectedGlobalRadiation", {w.minutes == 60 ? 200.0 * (step % 24 > 8) : 3000.0});
      Register("precipitation", {step % 5 == 0 ? 2.0 * w.minutes / 60.0 : 0.0});
      double before[3][4] = {}, glacier_before[3][4] = {}, fallen[3][4] = {};
      for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) {
          before[r][c] = solid[r][c] + liquid[r][c];
          glacier_before[r][c] = glacier_solid[r][c] + glacier_liquid[r][c];
          fallen[r][c] = water[r][c];
        }
      const int days = w.minutes == 60 ? step / 24 : step;
      const int hour = w.minutes == 60 ? step % 24 + 1 : 24;
      Step(*snow, {0, hour, 1 + days % 30, 5 + days / 30, 2000});
      for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) {
          EXPECT_NEAR(solid[r][c] + liquid[r][c] - before[r][c],
                      water[r][c] - Grid("snowcover_outflow")[r][c] - evaporation[r][c], 1e-12)
              << "step " << step << " cell " << r << "," << c;
          if (CellGlacierShare(Grid("GlacierizedCells")[r][c]) <= 0.0) continue;
          const double glacier_evaporation = Grid("SnowEvaporation_onGlacier")[r][c];
          EXPECT_NEAR(glacier_solid[r][c] + glacier_liquid[r][c] - glacier_before[r][c],
                      fallen[r][c] - Grid("SnowMelt_onGlacier")[r][c] - glacier_evaporation, 1e-12)
              << "step " << step << " glacier cell " << r << "," << c;
          sublimated += glacier_evaporation;
          melted += Grid("SnowMelt_onGlacier")[r][c];
        }
      if (HasFailure()) return;
    }
    EXPECT_GT(sublimated, 0.1);
    EXPECT_GT(melted, 1.0);
    snow->CleanUp();
  }
}

TEST_F(SnowGlacier, TheYearlyEvaluationTurnsSnowIntoFirnAndDeepSnowIntoANewGlacier) {
  DynamicGlaciers();
  Register("temperature", {-5});
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow);
  // 1300 mm on (1,3), which has no glacier; 40 mm of snow on the glacier share
  // of (1,1); 1100 mm on the glacier-free share of (2,2) (share 0.3).
  Fill(snow->GetSnowStorageGrid(), {0, 0, 1200, 0, 1100, 0});
  Fill(Grid("snowstorage_liquid"), {0, 0, 100, 0, 0, 0});
  Grid("SolidSnowStorage_onGlacier")[1][1] = 40.0;
  Step(*snow, {0, 23, 30, 9, 2000});
  EXPECT_EQ(Grid("GlacierizedCells")[1][3], 0.0);
  EXPECT_THAT(console.str(), Not(HasSubstr("Glacierbalance")));

  Step(*snow, {0, 24, 30, 9, 2000});
  double** shares = Grid("GlacierizedCells");
  const double ordinary = snow->GetSnowStorageGrid()[1][3] + Grid("snowstorage_liquid")[1][3];
  EXPECT_DOUBLE_EQ(shares[1][3], 0.25);
  EXPECT_EQ(Grid("GlacierCodes")[1][3], 5.0);  // joined the glacier to its left
  EXPECT_DOUBLE_EQ(ordinary, 1000.0);
  EXPECT_DOUBLE_EQ(Grid("firn_WE_stack")[1][3], 2200.0);
  EXPECT_DOUBLE_EQ(0.75 * ordinary + 0.25 * Grid("firn_WE_stack")[1][3], 1300.0);
  EXPECT_EQ(Grid("GlacierMassBalance")[1][3], 2200.0);
  // The glacier's snow became the youngest firn; the oldest level left.
  EXPECT_DOUBLE_EQ(Grid("firn_WE_stack")[1][1], 40.0 + 50.0 + 50.0);
  EXPECT_EQ(Grid("SolidSnowStorage_onGlacier")[1][1], 0.0);
  // The 100 mm above the threshold went onto the glacier share, 7/3 as deep;
  // the mass balance took them as they were. The update then changed the
  // cell's share: both covers keep their water over the new shares.
  const double share = CellGlacierShare(shares[2][2]);
  EXPECT_NE(share, 0.3);
  EXPECT_NEAR((1.0 - share) * snow->GetSnowStorageGrid()[2][2], 0.7 * 1000.0, 1e-9);
  EXPECT_NEAR(share * Grid("firn_WE_stack")[2][2], 0.3 * (100.0 * 0.7 / 0.3 + 10.0 + 10.0), 1e-9);
  EXPECT_NEAR(Grid("GlacierMassBalance")[2][2], 100.0, 1.0);
  const std::string log = console.str();
  EXPECT_THAT(log, HasSubstr("Glacierbalance"));
  EXPECT_THAT(log, HasSubstr("Glacier:\t1\n"));
  EXPECT_THAT(log, HasSubstr("glaciers changed, updating glaicerlist now..."));
  EXPECT_THAT(log, Not(HasSubstr("is never evaluated")));
}

TEST_F(SnowGlacier, StepsThatNeverEndAtMidnightGiveOneWarning) {
  DynamicGlaciers();
  settings.min_to_int_end = 30;
  auto snow = BuildGlacier();
  ASSERT_TRUE(snow);
  EXPECT_THAT(console.str(), HasSubstr("no step of 60 minutes ends at 24:00, so the glacier mass balance of "
                                       "GMBEvalDay 30 and GMBEvalMonth 9 is never evaluated"));
}

TEST_F(SnowGlacier, PermafrostThawsWithTheSnowFreeDaysAndLimitsTheRoots) {
  Register("ThawCoeffPermaFrost", {0.1});
  Register("PermafrostThawDepth", {0});
  Register("root_depth1", {1});
  // The soil model's root zone: 100 mm of capacity, half full.
  double** capacity = Register("available_soil_moisture", {100});
  double** storage = Register("soil_storage", {0.5});
  // Off the moisture, as if the soil had taken its last input before.
  double** storage_old = Register("soil_storage_old", {0.4});
  double** inactive_capacity = Register("inaktive_field_capacity", {0});
  double** inactive_moisture = Register("inaktive_soil_moisture", {1});
  Register("saturated_soil_partition", {0});
  Register("temperature", {10, 10, 10, -5, -5, -5});
  permafrost = PermafrostText();
  extra_sections = permafrost;
  auto snow = Build();
  ASSERT_TRUE(snow);
  ASSERT_TRUE(snow->permafrost_on);
  EXPECT_EQ(EntriesNamed("SnowFreeDaysGrid"), 1);
  EXPECT_EQ(EntriesNamed("SnowCoverDaysGrid"), 1);
  Fill(snow->GetSnowStorageGrid(), {0, 0, 0, 50, 50, 50});
  for (int step = 0; step < 95; ++step) Hour(*snow, step);
  EXPECT_LE(Grid("root_depth1")[1][1], 0.2);
  // The vegetation update sets the roots anew each day; the thaw depth cuts them.
  Grid("root_depth1")[1][1] = 1.0;
  Hour(*snow, 95);
  EXPECT_NEAR(Grid("PermafrostThawDepth")[1][1], 0.2, 1e-12);
  EXPECT_NEAR(Grid("root_depth1")[1][1], 0.2, 1e-12);
  EXPECT_NEAR(Grid("SnowFreeDaysGrid")[1][2], 4.0, 1e-12);
  // Under snow the days of cover count and the ground stays frozen.
  EXPECT_NEAR(Grid("SnowCoverDaysGrid")[2][1], 4.0, 1e-12);
  EXPECT_EQ(Grid("PermafrostThawDepth")[2][1], 0.0);
  EXPECT_EQ(Grid("root_depth1")[2][1], 0.0);
  // The capacity went with the roots, its water to the inactive soil below:
  // under frozen ground the root zone holds nothing.
  EXPECT_EQ(capacity[2][1], 0.0);
  EXPECT_NEAR(inactive_capacity[2][1], 100.0, 1e-12);
  // A cut is no capillary flow for the soil step: the moisture after the
  // last input follows the root zone's, as with the land use's roots.
  EXPECT_EQ(storage_old[2][1], storage[2][1]);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c)
      EXPECT_NEAR(capacity[r][c] * storage[r][c] + inactive_capacity[r][c] * inactive_moisture[r][c], 50.0,
                  1e-9)
          << r << " " << c;
}

TEST_F(SnowGlacier, AWarmStartContinuesTheStoragesExactly) {
  // Warm hours fill the storages, cold ones let them drain; a run cut after
  // the warm hours and started again from its state block drains alike.
  StaticGlaciers();
  auto forcing = [&](int step) { Register("temperature", {step < 30 ? 6.0 : -4.0}); };
  auto whole = BuildGlacier();
  whole->SetSubbasinRunoff(nullptr);
  for (int step = 0; step < 60; ++step) {
    forcing(step);
    Hour(*whole, step);
  }
  const glacier_outflow expected = whole->glacier_outflows[1];
  whole->CleanUp();
  whole.reset();

  Reset();
  StaticGlaciers();
  state_file_session session;
  settings.state_files = &session;
  auto first = BuildGlacier();
  first->ReadStorageFile("state.txt", 0);
  first->SetSubbasinRunoff(nullptr);
  for (int step = 0; step < 30; ++step) {
    forcing(step);
    Hour(*first, step);
  }
  first->CleanUp();
  first.reset();
  std::filesystem::copy_file(dir / "state.txt", dir / "warm.txt");

  Reset();
  StaticGlaciers();
  settings.state_files = nullptr;
  auto second = BuildGlacier();
  second->ReadStorageFile("warm.txt", 1);
  second->SetSubbasinRunoff(nullptr);
  EXPECT_GT(second->glacier_outflows[1].ice, 0.1);
  for (int step = 30; step < 60; ++step) {
    forcing(step);
    Hour(*second, step);
  }
  EXPECT_EQ(second->glacier_outflows[1].ice, expected.ice);
  EXPECT_EQ(second->glacier_outflows[1].firn, expected.firn);
  EXPECT_EQ(second->glacier_outflows[1].snow, expected.snow);
}

}  // namespace
}  // namespace velmo::test
