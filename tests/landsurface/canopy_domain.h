// A small domain for the canopy tests: message stream, grid table with the
// zone grid and elevation model, settings with the zone ranking and a
// land-use table, and the vegetation and evapotranspiration grids of each
// layer registered directly in the table, as the set-up object and the
// evapotranspiration model would.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "interception_section.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "setup/teilmod.h"
#include "support/test_support.h"

namespace velmo::test {

// A grid addressed [row][col] from 1, filled with one value.
class cell_grid {
 public:
  cell_grid(int nrows, int ncols, double value)
      : cells_(static_cast<size_t>(nrows + 1) * static_cast<size_t>(ncols + 1), value),
        rows_(static_cast<size_t>(nrows + 1)) {
    for (int r = 0; r <= nrows; ++r)
      rows_[static_cast<size_t>(r)] = cells_.data() + static_cast<size_t>(r) * static_cast<size_t>(ncols + 1);
  }
  double** data() { return rows_.data(); }

 private:
  std::vector<double> cells_;
  std::vector<double*> rows_;
};

// Values of one vegetation layer, the same in every cell.
struct layer_values {
  double landuse = 1.0;  // position in the land-use table; nodata: the layer is absent
  double leaf_area_index = 4.0;
  double coverage = 0.8;
  double potential_transpiration = 0.0;  // mm per step
  double potential_interception = 0.0;   // mm per step
};

class CanopyDomain : public ::testing::Test {
 protected:
  static constexpr double kNodata = -9999.0;
  static constexpr int kRows = 2;
  static constexpr int kCols = 3;

  CanopyDomain() : stream_(dir_ / "diag.xml", kDebug, console_), grids_(&stream_) {
    settings_.control_file_name = dir_ / "control.intern";
    output_directory_ = dir_.path().string() + "/";
    settings_.DefaultOutputDirectory = &output_directory_;
    settings_.WriteAsciiGrids = true;
    settings_.message_interval = 0;
    settings_.nrows = settings_.last_row = kRows;
    settings_.ncols = kCols;
    settings_.first_row = 1;
    settings_.nodata_value = kNodata;
    settings_.cellsize = 100.0;
    settings_.endyear = 2000;
    settings_.endmonth = 12;
    settings_.endday = 31;
    ranges_.assign(kRows + 1, row_range{1, kCols});
    settings_.row_ranges = ranges_.data();
    // Land uses: 1 holds 0.2 mm per unit leaf area, 2 takes the section's value.
    landuses_.resize(3);
    landuses_[0].code = 2;
    landuses_[1].IntercepCap = 0.2;
    landuses_[2].IntercepCap = -1.0;
    settings_.landuse_table = landuses_.data();

    zone_ = AddGrid("[zone_grid]", 1.0);
    zone_[kRows][1] = kNodata;  // one cell outside the catchment
    AddGrid("[elevation_model]", 500.0);
    RankZones(zone_, kRows, kCols, ranges_.data(), kNodata, nullptr, settings_.cellsize, ranking_);
    settings_.zone_table = ranking_.zones.data();
    settings_.zone_code_map = ranking_.code_map.data();
    settings_.zone_count = ranking_.zone_count;
    settings_.max_zone_code = ranking_.max_code;
  }

  void TearDown() override {
    if (HasFailure()) std::cerr << "---- messages of the modules:\n" << console_.str();
  }

  // Registers a grid of one value in the first free entry.
  double** AddGrid(const std::string& name, double value) {
    owned_.emplace_back(kRows, kCols, value);
    const int index = grids_.FirstFreeEntry();
    grids_[index].name = name;
    grids_[index].data = owned_.back().data();
    grids_[index].first_row = 1;
    grids_[index].last_row = kRows;
    return owned_.back().data();
  }

  // The grids of the set-up object and the evapotranspiration model for the
  // given layers (top first); layer 0 holds the totals of the potentials.
  void AddLayers(const std::vector<layer_values>& layers) {
    if (layers.size() > 1) {
      multilayer_.resize(2);
      multilayer_[0].code = 1;
      multilayer_[1].layer_code_count = static_cast<int>(layers.size());
      settings_.multilayer_table = multilayer_.data();
    }
    for (size_t k = 0; k < layers.size(); ++k) {
      const std::string l = std::to_string(k + 1);
      AddGrid("landuse" + l, layers[k].landuse);
      AddGrid("leaf_area_index" + l, layers[k].leaf_area_index);
      AddGrid("vegetation_coverage_degree" + l, layers[k].coverage);
      AddGrid("RoughnessLength" + l, 0.1);
      AddGrid("SurfaceCanopyResistance" + l, 50.0);
      AddGrid("SurfaceIntercepResistance" + l, 0.0);
    }
    double transpiration = 0.0;
    double interception = 0.0;
    for (const layer_values& layer : layers) {
      transpiration += layer.potential_transpiration;
      interception += layer.potential_interception;
    }
    for (size_t k = 0; k <= layers.size(); ++k) {
      const std::string l = std::to_string(k);
      AddGrid("pot_transpiration" + l, k == 0 ? transpiration : layers[k - 1].potential_transpiration);
      AddGrid("potential_InterceptionEvap" + l, k == 0 ? interception : layers[k - 1].potential_interception);
      AddGrid("real_transpiration" + l, 0.0);
    }
  }

  static std::string Section(int method, double thickness = 1.0, int read_grids = 0, int stat_code = 0,
                             int flow_control = 1) {
    return InterceptionSection(method, thickness, read_grids, stat_code, flow_control);
  }

  template <typename Module>
  std::unique_ptr<Module> Make(const std::string& control) {
    WriteFile(settings_.control_file_name, control);
    return std::make_unique<Module>(&stream_, settings_, &grids_);
  }

  template <typename F>
  std::string ExpectCode(int code, F action, const std::string& label = {}) {
    return test::ExpectCode(console_, code, action, label);
  }

  int Find(const std::string& name) const {
    for (int i = 1; i < kGridTableLimit && grids_[i].in_use(); ++i)
      if (grids_[i].name == name) return i;
    return 0;
  }
  double** Data(const std::string& name) {
    const int i = Find(name);
    return i > 0 ? grids_[i].data : nullptr;
  }
  // The value of grid `name` in cell (1, 1), inside the catchment.
  double At(const std::string& name, int r = 1, int c = 1) {
    double** data = Data(name);
    EXPECT_NE(data, nullptr) << name;
    return data ? data[r][c] : kNodata;
  }
  void Set(const std::string& name, double value) {
    double** data = Data(name);
    ASSERT_NE(data, nullptr) << name;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) data[r][c] = value;
  }

  TempDir dir_;
  std::ostringstream console_;
  MessageStream stream_;
  grid_table grids_;
  model_settings settings_;
  std::string output_directory_;
  std::vector<row_range> ranges_;
  zone_ranking ranking_;
  std::vector<landuse_table_entry> landuses_;
  std::vector<multilayer_landuse_entry> multilayer_;
  std::deque<cell_grid> owned_;
  double** zone_ = nullptr;
};

}  // namespace velmo::test
