// Snow model construction: the section's values and faults, the grids it needs, registers or keeps, the
// initial cover read from files, the switched-off module, lakes and the links.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "e2e/xml_check.h"
#include "snow/snow_fixture.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using SnowConstruction = SnowDomain;

TEST_F(SnowConstruction, MonthlyLinesFillAllFourteenEntries) {
  section.ddf = "4";
  section.c0 = "1 2 3 4 5 6 7 8 9 10 11 12";
  section.c1 = "0.5 x";  // one value and a comment: the same for every month
  auto snow = Build();
  ASSERT_TRUE(snow);
  for (double v : snow->parameters.DDF) EXPECT_EQ(v, 4.0);
  for (double v : snow->parameters.c1) EXPECT_EQ(v, 0.5);
  EXPECT_EQ(snow->parameters.c0[0], 12.0);
  EXPECT_EQ(snow->parameters.c0[13], 1.0);
  EXPECT_EQ(snow->parameters.c0[6], 6.0);
  EXPECT_EQ(snow->GetMethod(), 1);
  EXPECT_THAT(console.str(), HasSubstr("file snowmod, compiled at "));
}

TEST_F(SnowConstruction, SectionFaultsEndWithTheirCodeAndEntry) {
  struct fault {
    std::function<void(snow_section_text&)> change;
    int code;
    std::string entry;
  };
  const std::string control = dir / "control.intern";
  const fault faults[] = {
      {[](auto& s) { s.method = "0"; }, 17, "snow method 0 is not defined (methods 1 to 14)"},
      {[](auto& s) { s.method = "15"; }, 17, "snow method 15 is not defined"},
      {[](auto& s) { s.ddf = ""; }, 17, "error in control file, DDF (a line of 12 monthly values) for "},
      {[](auto& s) { s.c1 = "x 1 2"; }, 17, "c1 (a line of 12 monthly values)"},
      {[](auto& s) { s.c0 = "1 2"; }, 17,
       "c0 (a line of 12 monthly values) for [snow_model]: the line \"1 2   c0\" holds one value for every "
       "month or twelve, one per month, not 2"},
      {[](auto& s) { s.cwh = "x"; }, 17, "error in control file, CWH for [snow_model]; snow_modelnot found!"},
      {[](auto& s) { s.t0 = "nan"; }, 17, "T0 for [snow_model]"},
      {[](auto& s) { s.readgrid = ""; }, 17, "readgrid forr storage grids for [snow_model]"},
      {[](auto& s) {
         s.method = "8";
         s.snow_temperature_line = "";
       },
       404, "cannot read additional parameters for snow model methods 5 to 11 from " + control},
      {[](auto& s) {
         s.method = "8";
         s.max_deposition_slope = "91";
       },
       405, "maxDepositionSlope not within parameter bounds of [0...90] Here: 91"},
      {[](auto& s) {
         s.method = "9";
         s.max_deposition_factor = "0";
       },
       406, "maxDepositionFactor not within parameter bounds of (0...inf). Here: 0"},
      {[](auto& s) {
         s.method = "12";
         s.min_slide_slope = "0";
       },
       407, "minSlideSlope not within parameter bounds of [0...90]. Here: 0"},
      {[](auto& s) {
         s.method = "8";
         s.slide_mass_fraction = "1.5";
       },
       408, "slideMassFrac not within parameter bounds of (0...1.0]. Here: 1.5"},
      {[](auto& s) {
         s.method = "10";
         s.lw_in = "3.5";
       },
       408, "LWINcorr not within parameter bounds of (0...3.0]. Here: 3.5"},
      {[](auto& s) {
         s.method = "13";
         s.lw_out = "0";
       },
       408, "LWOUTcorr not within parameter bounds of (0...3.0]. Here: 0"},
  };
  for (const fault& f : faults) {
    section = snow_section_text{};
    f.change(section);
    const int code = BuildCode();
    EXPECT_EQ(code, f.code) << f.entry;
    EXPECT_THAT(console.str(), HasSubstr(f.entry));
    console.str("");
  }

  // A missing section.
  WriteFile(dir / "control.intern", "[snow_model_v2]\n1\n60\n");
  EXPECT_EQ(ThrownCode([&] { schneemodellklasse snow(&ms, settings, &table); }), 17);
  EXPECT_THAT(console.str(), HasSubstr("error in control file, [snow_model]; (EOF)not found!"));
}

TEST_F(SnowConstruction, MethodLinesAcceptAFlatMaximumAndAMissingScalingWarns) {
  section.method = "10";
  section.max_deposition_slope = "0";
  section.enbal_scaling = "";
  Register("deposition_index", {0.2});
  auto snow = Build();
  ASSERT_TRUE(snow);
  EXPECT_EQ(snow->parameters.maxDepositionSlope, 0.0);
  EXPECT_EQ(snow->parameters.EnBalScaling, 1.0);
  EXPECT_THAT(console.str(), HasSubstr("for snow melt methods with energy ba\xC3\xB6"
                                       "ance that will be used"));
  ms.Close();
  EXPECT_TRUE(WellFormed(dir / "diag.xml"));
  EXPECT_THAT(ReadFile(dir / "diag.xml"), HasSubstr("energy ba\xC3\xB6"
                                                    "ance"));
}

TEST_F(SnowConstruction, T0RBelowT0IsRaisedWithOneError) {
  section.t0r = "-1.0";
  section.t0 = "0.5";
  auto snow = Build();
  ASSERT_TRUE(snow);
  EXPECT_EQ(snow->GetT0R(), 0.5);
  EXPECT_EQ(snow->GetTransZone(), 1.0);
  const std::string text = console.str();
  EXPECT_THAT(text, HasSubstr("T0R was set to T0!"));
  EXPECT_EQ(text.find("T0R was set to T0!"), text.rfind("T0R was set to T0!"));

  console.str("");
  section.t0r = "0.5";
  snow.reset();
  SetDomain(3, 2, {1});
  snow = Build();
  EXPECT_EQ(snow->GetT0R(), 0.5);
  EXPECT_THAT(console.str(), Not(HasSubstr("T0R was set")));
}

TEST_F(SnowConstruction, MissingGridsAndTheSectionsGlacierOrPermafrostGridsAskForEndTheConstruction) {
  struct missing {
    std::function<void(SnowConstruction&)> change;
    int code;
    std::string entry;
  };
  const missing cases[] = {
      {[](auto& t) { t.table[4].name = "no_albedo"; }, 33, "albedo not found in memory"},
      {[](auto& t) { t.table[5].name = "landuse"; }, 33, "landuse1 not found in memory"},
      {[](auto& t) { t.section.method = "4"; }, 33, "vapor_pressure not found in memory"},
      {[](auto& t) { t.section.interval = "1440"; }, 33, "temperature_night not found in memory"},
      {[](auto& t) { t.section.method = "8"; }, 33, "slidefraction1 not found in memory"},
      {[](auto& t) { t.section.method = "13"; }, 33, "deposition_index not found in memory"},
      {[](auto& t) { t.section.method = "5"; }, 33, "cloudiness not found in memory"},
      {[](auto& t) { t.Register("ice_firn", {0}); }, 17,
       "error in control file, [ice_firn]; (EOF)not found!"},
      {[](auto& t) { t.Register("GlacierizedCells", {0}); }, 17, "[ice_firn]; (EOF)not found!"},
      {[](auto& t) {
         t.Register("ThawCoeffPermaFrost", {0});
         t.Register("PermafrostThawDepth", {0});
       },
       33, "root_depth1 not found in memory"},
      {[](auto& t) {
         t.Register("ThawCoeffPermaFrost", {0});
         t.Register("PermafrostThawDepth", {0});
         t.Register("root_depth1", {1});
       },
       17, "error in control file, [permafrost]; (EOF)not found!"},
  };
  for (const missing& m : cases) {
    SetDomain(3, 2, {1});
    section = snow_section_text{};
    m.change(*this);
    EXPECT_EQ(BuildCode(), m.code) << m.entry;
    EXPECT_THAT(console.str(), HasSubstr(m.entry));
    console.str("");
  }
  // One permafrost grid alone asks for nothing.
  SetDomain(3, 2, {1});
  section = snow_section_text{};
  Register("PermafrostThawDepth", {0});
  EXPECT_EQ(BuildCode(), 0) << console.str();
}

TEST_F(SnowConstruction, RegistersItsGridsAndKeepsAStandardGridOfTheSameName) {
  double** given = Register("snowstorage_solid", {7.0});
  auto snow = Build();
  ASSERT_TRUE(snow);
  EXPECT_EQ(snow->GetSnowStorageGrid(), given);
  EXPECT_EQ(EntriesNamed("snowstorage_solid"), 1);
  for (const char* name : {"snowstorage_liquid", "snow_storage_total", "days_snow", "snow_age",
                           "snow_fraction", "rain_fraction", "snowcover_outflow", "melt_from_snowcover"})
    EXPECT_EQ(EntriesNamed(name), 1) << name;
  for (const char* name : {"max_deposition", "elev_order_row", "input_mass", "snowtemp"})
    EXPECT_EQ(EntriesNamed(name), 0) << name;
  EXPECT_EQ(Grid("snowstorage_liquid")[1][1], 0.0);

  // Clean-up releases what the module registered, not the standard grid.
  snow->CleanUp();
  EXPECT_THAT(console.str(), HasSubstr("deleting module snow_model"));
  EXPECT_EQ(EntriesNamed("snowstorage_solid"), 1);
  EXPECT_EQ(EntriesNamed("snowstorage_liquid"), 0);
}

TEST_F(SnowConstruction, ReadgridReadsTheInitialCoverFromItsFiles) {
  SetDomain(3, 2, {kNodata, 1, 1, 1, 1, 1});
  const std::string header = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
  WriteFile(dir / "solid.asc", header + "-9999 40 -9999\n1 2 3\n");
  WriteFile(dir / "liquid.asc", header + "-9999 4 0\n0.1 0.2 0.3\n");
  WriteFile(dir / "total.asc", header + "-9999 44 0\n1.1 2.2 3.3\n");
  WriteFile(dir / "snowdays.asc", header + "-9999 1 1\n1 1 1\n");
  WriteFile(dir / "snowage.asc", header + "-9999 3 3\n3 3 3\n");
  section.readgrid = "1";
  auto snow = Build();
  ASSERT_TRUE(snow) << console.str();
  double** solid = snow->GetSnowStorageGrid();
  EXPECT_EQ(solid[1][2], 40.0);
  EXPECT_EQ(solid[1][3], 0.0);  // no data in the file, inside the zone grid
  EXPECT_EQ(solid[2][3], 3.0);
  EXPECT_EQ(solid[1][1], kNodata);
  EXPECT_EQ(Grid("snowstorage_liquid")[2][2], 0.2);
  EXPECT_EQ(Grid("snow_age")[1][2], 3.0);
}

TEST_F(SnowConstruction, EnergyBalanceMethodsHaveTemperatureGridsAndTables) {
  section.method = "5";
  section.statistics_code = "2001";
  SetDomain(3, 2, {kNodata, 1, 1, 1, 1, 1});
  Register("cloudiness", {0.5});
  auto snow = Build();
  ASSERT_TRUE(snow) << console.str();
  for (const char* name : {"snowtemp", "surftemp", "EnergyBalance"}) EXPECT_EQ(EntriesNamed(name), 1) << name;
  // No cover has a temperature yet; the energy balance is 0 everywhere.
  EXPECT_EQ(Grid("snowtemp")[2][2], kNodata);
  EXPECT_EQ(Grid("surftemp")[2][2], kNodata);
  EXPECT_EQ(Grid("EnergyBalance")[1][1], 0.0);
  EXPECT_THAT(ReadFile(dir / "snowtemp.stat"), HasSubstr("snowtemp_____submodel:snow_model"));
  EXPECT_THAT(ReadFile(dir / "surftemp.stat"), HasSubstr("surftemp_____submodel:snow_model"));
  // Linking takes the humidity and the radiation, of the canopy or the open air.
  Register("wind_speed", {1});
  console.str("");
  EXPECT_EQ(ThrownCode([&] { snow->LinkInputGrids(false); }), 33);
  EXPECT_THAT(console.str(), HasSubstr("air_humidity not found in memory"));
  Register("air_humidity", {0.8});
  console.str("");
  EXPECT_EQ(ThrownCode([&] { snow->LinkInputGrids(false); }), 33);
  EXPECT_THAT(console.str(), HasSubstr("AspectCorrectedGlobalRadiation not found in memory"));
  snow->CleanUp();
  for (const char* name : {"snowtemp", "surftemp", "EnergyBalance"}) EXPECT_EQ(EntriesNamed(name), 0) << name;

  // Read from their files, a cell without a value starts at melt.
  snow.reset();
  SetDomain(3, 2, {kNodata, 1, 1, 1, 1, 1});
  Register("cloudiness", {0.5});
  const std::string header = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
  for (const char* file : {"solid.asc", "liquid.asc", "total.asc", "snowdays.asc", "snowage.asc"})
    WriteFile(dir / file, header + "-9999 0 0\n0 0 0\n");
  WriteFile(dir / "snowtemp.asc", header + "-9999 265 -9999\n270 271 272\n");
  WriteFile(dir / "surftemp.asc", header + "-9999 260 261\n262 263 -9999\n");
  section.readgrid = "1";
  section.statistics_code = "0";
  snow = Build();
  ASSERT_TRUE(snow) << console.str();
  EXPECT_EQ(Grid("snowtemp")[1][2], 265.0);
  EXPECT_EQ(Grid("snowtemp")[1][3], 273.16);
  EXPECT_EQ(Grid("surftemp")[2][3], 273.16);
  EXPECT_EQ(Grid("surftemp")[2][1], 262.0);
}

TEST_F(SnowConstruction, ASwitchedOffModuleHasNothingAndDoesNothing) {
  section.flow = "0";
  section.method = "99";  // not read
  auto snow = Build();
  ASSERT_TRUE(snow);
  EXPECT_EQ(snow->GetMethod(), 0);
  EXPECT_EQ(snow->GetSnowStorageGrid(), nullptr);
  EXPECT_EQ(EntriesNamed("snowcover_outflow"), 0);
  snow->SetSubbasinRunoff(nullptr);
  EXPECT_EQ(snow->ready, 0);
  Step(*snow, {0, 1, 1, 1, 2000});
  snow->InitLakeModel("[lake_model]");
  snow->CleanUp();
  EXPECT_THAT(console.str(), HasSubstr("deleting module snow_model"));
}

TEST_F(SnowConstruction, LakeCouplingNeedsAPondGridWhenLakesAreOn) {
  auto snow = Build();
  snow->InitLakeModel("[lake_model]");
  EXPECT_THAT(console.str(), HasSubstr("no LAKE-grid was found in snow_model\nLake modelling is switched off "
                                       "for snow_model."));

  // A lake section switched off looks for no pond grid.
  Register("lake_codes", {1});
  extra_sections = "[lake_model]\n0\n";
  WriteControlFile();
  snow->InitLakeModel("[lake_model]");

  extra_sections = "[lake_model]\n1\n";
  WriteControlFile();
  console.str("");
  EXPECT_EQ(ThrownCode([&] { snow->InitLakeModel("[lake_model]"); }), 28);
  EXPECT_THAT(console.str(), HasSubstr("LAKE-grid was found, but no POND-Grid."));

  extra_sections = "";
  WriteControlFile();
  EXPECT_EQ(ThrownCode([&] { snow->InitLakeModel("[lake_model]"); }), 17);
}

}  // namespace
}  // namespace velmo::test
