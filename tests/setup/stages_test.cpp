// The set-up object's stage machine on a small complete control file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "setup/setup_stage_fixture.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::StagedSetup;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Index of the first entry named `name`, 0 when there is none (whatever the
// entries before it hold).
int IndexOf(const grid_table& table, const std::string& name) {
  for (int i = 1; i < kGridTableLimit; ++i)
    if (table[i].name == name) return i;
  return 0;
}

TEST_F(StagedSetup, StagesBuildTheGridTableInOrder) {
  RunThrough(6);
  // Stage 6: zone grid, elevation model and "river_links" only.
  const int links = IndexOf(table, "river_links");
  ASSERT_EQ(links, 7);
  double** links_data = table[links].data;
  ASSERT_NE(links_data, nullptr);
  ASSERT_NE(table[1].data, nullptr);
  ASSERT_NE(table[2].data, nullptr);
  for (int i : {3, 4, 5, 6, 8, 9}) EXPECT_EQ(table[i].data, nullptr) << table[i].name;
  EXPECT_EQ(setup->zone_grid, table[1].data);
  EXPECT_EQ(setup->elevation_grid, table[2].data);
  EXPECT_EQ(setup->ncols, 5);
  EXPECT_EQ(setup->nrows, 4);
  EXPECT_EQ(setup->last_row, 4);
  // Stage 8 must not read "river_links" again: its file is gone.
  std::filesystem::remove(dir / "links.asc");

  RunThrough(8);
  EXPECT_EQ(table[links].data, links_data);
  // readcode 0: created without opening its (absent) file.
  const int lake = IndexOf(table, "lake_depth");
  ASSERT_EQ(lake, 5);
  double** lake_data = table[lake].data;
  ASSERT_NE(lake_data, nullptr);
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 5; ++c)
      EXPECT_EQ(lake_data[r][c], table[1].data[r][c] == -9999.0 ? -9999.0 : 2.5) << r << "," << c;
  EXPECT_THAT(console.str(), HasSubstr("before reading variable grids0\n"));

  RunThrough(9);
  EXPECT_EQ(setup->cell_weights, table[IndexOf(table, "RelCellArea")].data);

  FinishSetUp();
  EXPECT_EQ(setup->stage, 23);
  EXPECT_EQ(setup->GetMessageInterval(), 1);  // "[output_interval]" says 24
  EXPECT_EQ(setup->control_file, nullptr);

  // Zone grid, elevation model, standard grids in control-file order (the
  // land-use grid renamed for layer 1), the partitioning grids, then the
  // derived and parameter grids in stage order ("RelCellArea" was read).
  std::vector<std::string> names;
  for (int i = 1; i <= setup->grid_count + 3; ++i) names.push_back(table[i].name);
  EXPECT_THAT(
      names, ElementsAre("[zone_grid]", "[elevation_model]", "landuse1", "soil_types", "lake_depth", "albedo",
                         "river_links", "RelCellArea", "soil_depth", "MPIRegions", "MPIHelper", "MPIHalo",
                         "CellSizeX", "CellSizeY", "CoordX", "CoordY", "SurfaceEvaporationResistance",
                         "root_depth1", "vegetation_coverage_degree1", "leaf_area_index1",
                         "SurfaceCanopyResistance1", "SurfaceIntercepResistance1", "RoughnessLength1",
                         "VegetationStart1", "VegetationStop1", "VegetationDuration1",
                         "available_soil_moisture", "hydraulic_conductivity", "fillable_porosity",
                         "slope_angle", "slope_aspect", "regression_regions", "regression_weights1", ""));
  for (int i = 1; i <= setup->grid_count + 2; ++i)
    EXPECT_NE(table[i].data, nullptr) << i << " " << names[i - 1];
}

TEST_F(StagedSetup, LanduseWithoutMultilayerTableBecomesLayerOne) {
  RunThrough(12);
  double** landuse = table[3].data;
  RunThrough(13);
  EXPECT_EQ(table[3].name, "landuse1");
  EXPECT_EQ(setup->FindGrid("landuse", true), 0);
  EXPECT_EQ(setup->FindGrid("landuse1", true), 3);
  EXPECT_EQ(setup->landuse_layer_count, 1);
  ASSERT_EQ(setup->landuse_layer_grids.size(), 2u);
  EXPECT_EQ(setup->landuse_layer_grids[1], landuse);
  // Codes became table positions: 10 -> 1, 11 -> 2.
  EXPECT_EQ(landuse[1][2], 1.0);
  EXPECT_EQ(landuse[1][4], 2.0);

  console.str("");
  RunThrough(14);
  EXPECT_THAT(console.str(), HasSubstr("generateMultiLayerParameterGrids...\n"));
  EXPECT_THAT(console.str(), HasSubstr("...ok\n"));
  // The parameter grids of one layer.
  EXPECT_GT(setup->FindGrid("root_depth1", true), 0);
  EXPECT_EQ(setup->FindGrid("root_depth2", true), 0);
}

// A standard grid to be read (readcode 1 or more) whose file is missing.
class MissingStandardGridFile : public StagedSetup, public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingStandardGridFile, EndsStageEightWithCode21) {
  // "lake_depth" names a file that does not exist; readcode 0 never opens it.
  EditControlFile("readcode = 0 defaultValue = 2.5", GetParam());
  RunThrough(7);
  console.str("");
  EXPECT_EQ(StageCode(), 21);
  const std::string file = dir / "no_such_file.asc";
  std::string entries;
  for (int left = 5; left >= 1; --left)
    entries += "error opening " + file +
               ". Will try again in 1 ms... (retriesleft = " + std::to_string(left) + ")\n";
  entries += "still error opening " + file + " - no retry.\n";
  EXPECT_THAT(console.str(), HasSubstr(entries));
  // The grids before it were read; it has no data.
  EXPECT_NE(table[IndexOf(table, "soil_types")].data, nullptr);
  EXPECT_EQ(table[IndexOf(table, "lake_depth")].data, nullptr);
}

INSTANTIATE_TEST_SUITE_P(ReadCodes, MissingStandardGridFile,
                         ::testing::Values("readcode = 1 defaultValue = 2.5",
                                           "readcode = 3 defaultValue = 2.5"));

TEST_F(StagedSetup, WriteCodeEightWritesTheFilledGridOnceAfterStageEight) {
  // "soil_depth" has a hole in zone 2 (row 2, column 3); fill code 2 sets it
  // to the default value.
  EditControlFile("soil_depth fillcode = 0 writecode = 312",
                  "soil_depth fillcode = 2 defaultValue = 7 writecode = 8");
  const std::string filled = dir / "out/depth.asc.filled";
  RunThrough(7);
  EXPECT_FALSE(std::filesystem::exists(filled));
  RunThrough(8);
  ASSERT_TRUE(std::filesystem::exists(filled));
  EXPECT_THAT(ReadFile(filled), HasSubstr("\n-9999\t1\t2\t3\t-9999\n1\t1\t7\t3\t3\n1\t1\t5\t3\t-9999\n"));
  EXPECT_EQ(table[IndexOf(table, "soil_depth")].write_code, 0);

  // Later steps write it no more, neither filled nor under its plain name.
  std::filesystem::remove(filled);
  FinishSetUp();
  for (const model_date& d :
       {model_date{0, 23, 12, 11, 2023}, model_date{0, 0, 13, 11, 2023}, model_date{0, 1, 13, 11, 2023}})
    setup->WriteStandardGrids(d.minute, d.hour, d.day, d.month, d.year);
  EXPECT_FALSE(std::filesystem::exists(filled));
  EXPECT_FALSE(std::filesystem::exists(dir / "out/depth.asc"));
}

TEST_F(StagedSetup, CodeGridsOnAnotherRasterKeepTheirCodes) {
  // 3 x 3 cells of 150 m, half a cell off the domain's corner: each code grid
  // must be resampled, and a blend would give codes that name nothing.
  const std::string header =
      "ncols 3\nnrows 3\nxllcorner 950\nyllcorner 1950\ncellsize 150\nnodata_value -9999\n";
  struct code_grid {
    const char* file;
    const char* name;
    const char* values;
    std::set<double> codes;
  };
  const code_grid grids[] = {
      {"landuse.asc", "landuse", "10 11 10\n11 10 11\n10 10 11\n", {10, 11}},
      {"soil.asc", "soil_types", "3 4 3\n4 3 4\n3 3 4\n", {3, 4}},
      {"links.asc", "river_links", "0 1 0\n1 0 1\n0 0 1\n", {0, 1}},
  };
  for (const code_grid& grid : grids) test::WriteFile(dir / grid.file, header + grid.values);
  RunThrough(8);
  double** zones = table[1].data;
  for (const code_grid& grid : grids) {
    double** data = table[IndexOf(table, grid.name)].data;
    for (int r = 1; r <= setup->nrows; ++r) {
      for (int c = 1; c <= setup->ncols; ++c) {
        if (zones[r][c] == setup->nodata_value) continue;
        EXPECT_TRUE(grid.codes.contains(data[r][c]))
            << grid.name << " " << r << "/" << c << ": " << data[r][c];
      }
    }
  }
  FinishSetUp();
}

TEST_F(StagedSetup, ComputedRelCellAreaIsNoCellWeight) {
  EditControlFile("[standard_grids]\n7\n", "[standard_grids]\n6\n");
  EditControlFile("RelCellArea 0\n", "");
  EditControlFile(dir / "rca.asc ", "");
  FinishSetUp();
  const int computed = setup->FindGrid("RelCellArea", true);
  ASSERT_GT(computed, 0);
  EXPECT_EQ(table[computed].data[2][1], 1.0);
  EXPECT_EQ(setup->cell_weights, nullptr);
}

TEST_F(StagedSetup, StagesLogTheirNames) {
  RunThrough(15);
  console.str("");
  RunThrough(22);
  const std::string log = console.str();
  size_t at = 0;
  for (const char* label :
       {"check_SOIL_Codes...", "make_nFK_kWert_and_Na...", "make_Slope_and_Aspect...",
        "check_ice_firn_grid...", "MakeRegionWeightGrids...", "GetCouplingParameters..."}) {
    const size_t found = log.find(std::string(label) + "\n", at);
    ASSERT_NE(found, std::string::npos) << label << " in\n" << log;
    at = found;
  }
}

TEST_F(StagedSetup, ConstructorNamesTheModule) {
  EXPECT_EQ(setup_error, 0);
  EXPECT_EQ(setup->name, "defaults");
  EXPECT_EQ(setup->grids, &table);
  EXPECT_EQ(setup->table_mode, 1);
}

TEST_F(StagedSetup, UnopenableCopyFailsStageOne) {
  RunThrough(0);
  const std::string copy = setup->control_file_name;
  EXPECT_EQ(copy, dir / "control.txt.intern");
  std::filesystem::remove(copy);
  EXPECT_EQ(StageCode(), 28);
  EXPECT_THAT(console.str(), HasSubstr("error opening " + copy + "\n"));
}

// The set-up's control file is replaced by one whose close fails.
class FailingCloseTest : public StagedSetup {
 protected:
  void ExpectCloseFailure() {
    ASSERT_NE(setup->control_file, nullptr);
    std::fclose(setup->control_file);
    setup->control_file = test::WithFailingClose(std::fopen(setup->control_file_name.c_str(), "r"));
    console.str("");
    EXPECT_EQ(StageCode(), 11);
    EXPECT_THAT(console.str(), HasSubstr("error closing " + setup->control_file_name + "\n"));
    EXPECT_EQ(setup->control_file, nullptr);
  }
};

TEST_F(FailingCloseTest, AtStageFive) {
  RunThrough(4);
  ExpectCloseFailure();
}

TEST_F(FailingCloseTest, AtTheClosingCall) {
  RunThrough(22);
  ExpectCloseFailure();
}

TEST_F(StagedSetup, CleanUpReleasesTheSetUpEntries) {
  FinishSetUp();
  const int last = setup->grid_count + 2;
  console.str("");
  setup->CleanUp();
  for (int i = 1; i <= last; ++i) {
    EXPECT_FALSE(table[i].in_use()) << i;
    EXPECT_EQ(table[i].data, nullptr) << i;
  }
  EXPECT_EQ(setup->zone_table, nullptr);
  EXPECT_THAT(console.str(), HasSubstr("deleting module defaults\n"));
}

}  // namespace
}  // namespace velmo
