// Tracer storages of a submodel: set-up, grids, statistics and the mixing formulas.
#include "setup/tracerstorage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/teilmod.h"
#include "setup/tracers.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr double kNodata = -9999.0;

tracer_description Tracer(const std::string& name, int radioactive, double half_time, int statcode,
                          int gridcode, const std::string& path = "out/") {
  tracer_description d;
  d.name = name;
  d.radioactive = radioactive;
  d.half_time = half_time;
  d.path = path;
  d.statext = "stat";  // cut to three characters
  d.gridext = "grd";
  d.statcode = statcode;
  d.gridcode = gridcode;
  return d;
}

// A 2 x 3 catchment of the zones 10 and 20 with one cell outside; the set-up
// object's grids fill the table up to entry 39.
class TracerStorages : public test::ModuleSettingsTest {
 protected:
  TracerStorages() {
    std::filesystem::create_directory(dir_.path() / "out");
    settings_.message_interval = 1;
    settings_.nrows = settings_.last_row = 2;
    settings_.ncols = 3;
    settings_.first_row = 1;
    settings_.nodata_value = kNodata;
    settings_.cellsize = 100.0;
    ranges_.assign(3, row_range{1, 3});
    settings_.row_ranges = ranges_.data();
    settings_.zone_table = zones_.data();
    settings_.zone_count = 2;
    code_map_.assign(21, 0);
    code_map_[10] = 1;
    code_map_[20] = 2;
    settings_.zone_code_map = code_map_.data();
    settings_.max_zone_code = 20;
    settings_.DefaultOutputDirectory = &output_directory_;

    grids_[1].name = "[zone_grid]";
    grids_[1].data = zone_grid_.get();
    FillEntries(2, 39);

    descriptions_ = {tracer_description{}, Tracer("cl_", 1, 1.0, 2001, 11),
                     Tracer("no_", 0, kNoHalfTime, 1001, 0)};
  }

  void FillEntries(int from, int to) {
    for (int i = from; i <= to; ++i) {
      grids_[i].name = "grid" + std::to_string(i);
      grids_[i].file_name = grids_[i].name;
      grids_[i].data = zone_grid_.get();
    }
  }

  std::unique_ptr<teilmodellklasse> Make(double interval = 1440.0) {
    WriteFile(settings_.control_file_name, "[snow_model]\n1\n" + std::to_string(interval) + "\n");
    return std::make_unique<teilmodellklasse>(&stream_, settings_, "snow_model", &grids_);
  }

  // weight_sum, value_sum, code, area_fraction, mean_divisor
  std::vector<zone_record> zones_ = {{5, 5, 1, 0.05, 5}, {2, 2, 10, 0.4, 2}, {3, 3, 20, 0.6, 3}};
  std::vector<int> code_map_;
  owned_matrix zone_grid_ = test::MatrixOf({{10, 10, kNodata}, {20, 20, 20}});
  std::vector<tracer_description> descriptions_;
};

TEST_F(TracerStorages, TwoTracersGetGridsNamesFilesAndDecay) {
  auto module = Make();
  int error = -1;
  module->SetUpTracers(error, 2, &descriptions_);
  ASSERT_EQ(error, 0) << console_.str();
  ASSERT_EQ(module->tracer_count, 2);
  ASSERT_EQ(module->tracer_storages.size(), 3u);

  struct Expected {
    int storage_index, flux_index;
    const char *storage_name, *flux_name;
    int write_code;
    const char* stat_file;
    const char* header;
  };
  const Expected expected[] = {
      {40, 41, "concstor_tracer_1_snow_model", "concflux_tracer_1_snow_model", 1, "out/cl_snow_.sta",
       "YY\tMM\tDD\tHH\t\"10\"\t\"20\"\ttot_average\n"
       "tracer concentration for tracer 1 (cl_) _submodel:snow_model\n"
       "--\t--\t--\t--\t0.4000000\t0.6000000\t1.0000\n"},
      {42, 43, "concstor_tracer_2_snow_model", "concflux_tracer_2_snow_model", 0, "out/no_snow_.sta",
       "YY\tMM\tDD\tHH\ttot_average\n"
       "tracer concentration for tracer 2 (no_) _submodel:snow_model\n"
       "--\t--\t--\t--\t1.0000\n"},
  };
  for (int i = 1; i <= 2; ++i) {
    SCOPED_TRACE(i);
    const Expected& e = expected[i - 1];
    const tracer_storage& s = module->tracer_storages[static_cast<size_t>(i)];
    EXPECT_EQ(s.storage_grid_index, e.storage_index);
    EXPECT_EQ(s.flux_grid_index, e.flux_index);
    const grid_entry& storage = grids_[e.storage_index];
    const grid_entry& flux = grids_[e.flux_index];
    EXPECT_EQ(storage.name, e.storage_name);
    EXPECT_EQ(flux.name, e.flux_name);
    EXPECT_EQ(storage.data, s.storage_grid.get());
    EXPECT_EQ(flux.data, s.flux_grid.get());
    EXPECT_EQ(storage.file_name, std::string(e.stat_file).replace(13, 3, "grd"));
    EXPECT_EQ(flux.file_name, storage.file_name);
    EXPECT_EQ(storage.write_code, e.write_code);
    EXPECT_EQ(flux.write_code, 0);
    EXPECT_EQ(storage.sum_grid != nullptr, i == 1);  // tracer 1 asks for period files
    EXPECT_EQ(module->FindRequiredGrid(e.flux_name), e.flux_index);
    // Stored concentration 0 in the catchment, nodata outside; the flux is 0 everywhere.
    EXPECT_EQ(s.storage_grid[1][2], 0.0);
    EXPECT_EQ(s.storage_grid[1][3], kNodata);
    EXPECT_EQ(s.storage_grid[2][1], 0.0);
    EXPECT_EQ(s.flux_grid[1][3], 0.0);

    EXPECT_EQ(s.stat_file_name, dir_ / e.stat_file);
    EXPECT_EQ(ReadFile(s.stat_file_name), e.header);
    // The table keeps the zone table's codes and areas, not its sums.
    EXPECT_EQ(s.zones[2].code, 20.0);
    EXPECT_EQ(s.zones[2].area_fraction, 0.6);
    EXPECT_EQ(s.zones[2].value_sum, 0.0);
  }
  // A half-life of one day halves a daily step; a stable tracer keeps its concentration.
  EXPECT_NEAR(module->tracer_storages[1].decay_factor, 0.5, 1e-9);
  EXPECT_EQ(module->tracer_storages[2].decay_factor, 1.0);
  // The mixing formulas of the base.
  EXPECT_DOUBLE_EQ(module->TracerMass(2.0, 3.0), 6.0);
  EXPECT_DOUBLE_EQ(module->MixConcentration(2.0, 4.0, 1.0, 3.0), 3.5);
  EXPECT_DOUBLE_EQ(module->ConcentrateByLoss(2.0, 10.0, 5.0), 4.0);
  // The shared descriptions are not written.
  EXPECT_EQ(&(*module->tracer_descriptions)[1], &descriptions_[1]);

  module->FreeTracers();
  EXPECT_EQ(module->tracer_count, 0);
  EXPECT_TRUE(module->tracer_storages.empty());
  for (int i = 40; i <= 43; ++i) {
    EXPECT_FALSE(grids_[i].in_use()) << i;
    EXPECT_EQ(grids_[i].data, nullptr) << i;
    EXPECT_EQ(grids_[i].sum_grid, nullptr) << i;
  }
  EXPECT_EQ(grids_.FirstFreeEntry(), 40);
  module->FreeTracers();  // nothing left to free
}

TEST_F(TracerStorages, EachModuleDecaysWithItsOwnInterval) {
  // Hourly and sub-hourly modules: 0.5 ^ (step / half-life); short steps get a minute column.
  struct Case {
    double interval;
    double half_time;
    const char* first_header_line;
  };
  const Case cases[] = {
      {60.0, 1.0, "YY\tMM\tDD\tHH\t\"10\"\t\"20\"\ttot_average"},
      {30.0, 2.0, "YY\tMM\tDD\tHH\tmm\t\"10\"\t\"20\"\ttot_average"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval);
    descriptions_[1].half_time = c.half_time;
    auto module = Make(c.interval);
    int error = -1;
    module->SetUpTracers(error, 1, &descriptions_);
    ASSERT_EQ(error, 0) << console_.str();
    const tracer_storage& s = module->tracer_storages[1];
    EXPECT_NEAR(s.decay_factor, std::pow(0.5, c.interval / 1440.0 / c.half_time), 1e-9);
    const std::string header = ReadFile(s.stat_file_name);
    EXPECT_EQ(header.substr(0, header.find('\n')), c.first_header_line);
    module->FreeTracers();
  }
}

TEST_F(TracerStorages, FluxGridTakesTheNextFreeEntry) {
  grids_[41].name = "held_by_another_module";
  grids_[41].file_name = "held";
  grids_[41].data = zone_grid_.get();
  auto module = Make();
  int error = -1;
  module->SetUpTracers(error, 2, &descriptions_);
  ASSERT_EQ(error, 0) << console_.str();
  EXPECT_EQ(module->tracer_storages[1].storage_grid_index, 40);
  EXPECT_EQ(module->tracer_storages[1].flux_grid_index, 42);
  EXPECT_EQ(module->tracer_storages[2].storage_grid_index, 43);
  EXPECT_EQ(module->tracer_storages[2].flux_grid_index, 44);
  EXPECT_EQ(grids_[41].name, "held_by_another_module");
  module->FreeTracers();
  EXPECT_EQ(grids_[41].name, "held_by_another_module");
  EXPECT_EQ(grids_.FirstFreeEntry(), 40);
}

TEST_F(TracerStorages, StatisticsRowsAreWrittenWhenFreed) {
  auto module = Make();
  int error = -1;
  module->SetUpTracers(error, 1, &descriptions_);
  ASSERT_EQ(error, 0) << console_.str();
  tracer_storage& s = module->tracer_storages[1];
  // The module's step: concentrations 1, 3 in zone 10 and 2, 4, 6 in zone 20.
  const double values[3][4] = {{0, 0, 0, 0}, {0, 1, 3, 99}, {0, 2, 4, 6}};
  s.statistics->StartStep();
  for (int r = 1; r <= 2; ++r) {
    for (int c = 1; c <= 3; ++c) {
      s.storage_grid[r][c] = zone_grid_[r][c] == kNodata ? kNodata : values[r][c];
      const double zone = zone_grid_[r][c];
      if (zone == kNodata) continue;
      s.statistics->AddCell(r, c, code_map_[static_cast<size_t>(zone)], s.storage_grid[r][c], 1.0);
    }
  }
  s.statistics->EndStep(2024, 3, 5, 24, 0, 0);
  const std::string file = s.stat_file_name;
  module->FreeTracers();
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.substr(text.rfind("1.0000\n") + 7), "2024\t 3\t 5\t24\t2\t4\t3.2\n");
}

TEST_F(TracerStorages, NoTracersSetsUpNothing) {
  auto module = Make();
  for (int count : {0, -1}) {
    int error = -1;
    module->SetUpTracers(error, count, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(module->tracer_count, 0);
    EXPECT_TRUE(module->tracer_storages.empty());
    EXPECT_EQ(grids_.FirstFreeEntry(), 40);
    module->FreeTracers();
  }
}

TEST_F(TracerStorages, FailuresReturnTheirCodeAndLeaveNothingBehind) {
  struct Case {
    const char* what;
    int free_from;  // first free grid-table entry
    int count;
    int output_list_code;  // 0: no output list
    const char* path;      // of tracer 1
    int expected_code;
    const char* message;  // as the console shows it, without the level
  };
  const Case cases[] = {
      {"table full", 1000, 1, 0, "out/", 12,
       "no free grid left. Please contact the author to set the number of available grids to a larger "
       "value 1000"},
      {"room for the storage grid only", 999, 1, 0, "out/", 12, "no free grid left."},
      {"listed code without zone", 40, 1, 15, "out/", 1, "there is a code in the output list which no zone"},
      {"statistics file cannot be made", 40, 1, 0, "missing_dir/", 15, "error opening"},
      {"fewer descriptions than tracers", 40, 3, 0, "out/", 103,
       "3 tracers to set up in snow_model, but 2 tracer descriptions"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FillEntries(2, c.free_from - 1);
    settings_.output_list_count = c.output_list_code ? 1 : 0;
    settings_.output_list = c.output_list_code ? std::vector<int>{0, c.output_list_code} : std::vector<int>{};
    descriptions_[1].path = c.path;
    auto module = Make();
    console_.str("");
    int error = 0;
    module->SetUpTracers(error, c.count, &descriptions_);
    EXPECT_EQ(error, c.expected_code);
    EXPECT_NE(console_.str().find(c.message), std::string::npos) << console_.str();
    module->FreeTracers();
    EXPECT_EQ(grids_.FirstFreeEntry(), c.free_from);
    for (int i = 40; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
  }
}

TEST(TracerFormulas, MassMixingAndLoss) {
  struct Case {
    const char* what;
    double result, expected;
  };
  const Case cases[] = {
      {"mass", TracerMassOf(2.0, 3.0), 6.0},
      {"mix", MixedConcentration(2.0, 4.0, 1.0, 3.0), 3.5},
      {"mix without water", MixedConcentration(2.0, 4.0, 0.0, 0.0), 0.0},
      {"loss", ConcentrationAfterLoss(2.0, 10.0, 5.0), 4.0},
      {"all water lost", ConcentrationAfterLoss(2.0, 10.0, 10.0), 0.0},
      {"more lost than held", ConcentrationAfterLoss(2.0, 10.0, 12.0), 0.0},
      {"water gained", ConcentrationAfterLoss(2.0, 10.0, -10.0), 1.0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(c.result, c.expected) << c.what;
}

TEST(TracerFormulas, FileNamesCutTracerModuleAndExtension) {
  tracer_description d = Tracer("cl_", 0, kNoHalfTime, 0, 0, "out/");
  EXPECT_EQ(TracerFileName(d, "snow_model", "sta"), "out/cl_snow_.sta");
  EXPECT_EQ(TracerFileName(d, "snow", "grids"), "out/cl_snow.gri");
  d.path = "";
  EXPECT_EQ(TracerFileName(d, "interception_model", "s"), "cl_inter.s");
}

}  // namespace
}  // namespace velmo
