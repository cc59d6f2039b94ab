// A small model domain for the land-surface module tests: message stream,
// grid table with the zone grid and elevation model, settings with the zone
// ranking, and grids registered directly in the table.
#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/settings.h"
#include "setup/teilmod.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo::test {

class SurfaceDomain : public ModuleSettingsTest {
 protected:
  static constexpr double kNodata = -9999.0;

  SurfaceDomain() {
    settings_.DefaultOutputDirectory = &output_directory_;
    settings_.WriteAsciiGrids = true;
    settings_.message_interval = 1;
    settings_.latitude = 47.0;
    settings_.longitude = 8.0;
    settings_.reference_meridian = 15.0;
    settings_.endyear = 2000;
    settings_.endmonth = 12;
    settings_.endday = 31;
    SetDomain(3, 4, 100.0);
  }

  // A failed test shows what the modules logged.
  void TearDown() override {
    if (HasFailure()) std::cerr << "---- messages of the modules:\n" << console_.str();
  }

  // A domain of one zone (code 1) at elevation 0; cell (nrows, 1) lies outside.
  void SetDomain(int nrows, int ncols, double cellsize) {
    settings_.nrows = settings_.last_row = nrows;
    settings_.ncols = ncols;
    settings_.first_row = 1;
    settings_.nodata_value = kNodata;
    settings_.cellsize = cellsize;
    ranges_.assign(static_cast<size_t>(nrows) + 1, row_range{1, ncols});
    settings_.row_ranges = ranges_.data();
    for (int i = 1; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
    owned_.clear();
    zone_ = AddGrid("zone", 1.0);
    zone_[nrows][1] = kNodata;
    elevation_ = AddGrid("[elevation_model]", 0.0);
    Rank();
  }

  // Registers a grid of one value in the first free entry.
  double** AddGrid(const std::string& name, double value) {
    owned_.push_back(MatrixOf(Filled(settings_.nrows, settings_.ncols, value)));
    const int index = grids_.FirstFreeEntry();
    grids_[index].name = name;
    grids_[index].data = owned_.back().get();
    grids_[index].first_row = 1;
    grids_[index].last_row = settings_.nrows;
    return owned_.back().get();
  }

  void Rank() {
    RankZones(zone_, settings_.nrows, settings_.ncols, ranges_.data(), kNodata, nullptr, settings_.cellsize,
              ranking_);
    settings_.zone_table = ranking_.zones.data();
    settings_.zone_code_map = ranking_.code_map.data();
    settings_.zone_count = ranking_.zone_count;
    settings_.max_zone_code = ranking_.max_code;
  }

  void WriteControl(const std::string& text) { WriteFile(settings_.control_file_name, text); }

  template <typename Module>
  std::unique_ptr<Module> Make(const std::string& control) {
    WriteControl(control);
    return std::make_unique<Module>(&stream_, settings_, &grids_);
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
  bool Exists(const std::string& file) const { return std::filesystem::exists(dir_ / file); }

  zone_ranking ranking_;
  std::vector<owned_matrix> owned_;
  double** zone_ = nullptr;
  double** elevation_ = nullptr;
};

}  // namespace velmo::test
