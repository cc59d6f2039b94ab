// The land-surface test domain (3 x 4 cells of one zone, cell (3, 1)
// outside) for the canopy tests: a land-use table with interception
// capacities, and the vegetation and evapotranspiration grids of each layer
// registered directly in the table, as the set-up object and the
// evapotranspiration model would.
#pragma once

#include <string>
#include <vector>

#include "interception_section.h"
#include "setup/tables.h"
#include "surface_domain.h"

namespace velmo::test {

// Values of one vegetation layer, the same in every cell.
struct layer_values {
  double landuse = 1.0;  // position in the land-use table; nodata: the layer is absent
  double leaf_area_index = 4.0;
  double coverage = 0.8;
  double potential_transpiration = 0.0;  // mm per step
  double potential_interception = 0.0;   // mm per step
};

class CanopyDomain : public SurfaceDomain {
 protected:
  static constexpr int kRows = 3;
  static constexpr int kCols = 4;

  CanopyDomain() {
    settings_.message_interval = 0;
    // Land uses: 1 holds 0.2 mm per unit leaf area, 2 takes the section's value.
    landuses_.resize(3);
    landuses_[0].code = 2;
    landuses_[1].IntercepCap = 0.2;
    landuses_[2].IntercepCap = -1.0;
    settings_.landuse_table = landuses_.data();
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

  // The value of grid `name` in a cell, by default (1, 1) inside the catchment.
  double At(const std::string& name, int r = 1, int c = 1) {
    double** data = Data(name);
    EXPECT_NE(data, nullptr) << name;
    return data ? data[r][c] : kNodata;
  }
  // Sets the catchment's cells, as a module's step would: the cell outside
  // keeps its nodata.
  void Set(const std::string& name, double value) {
    double** data = Data(name);
    ASSERT_NE(data, nullptr) << name;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c)
        if (r != kRows || c != 1) data[r][c] = value;
  }

  std::vector<landuse_table_entry> landuses_;
  std::vector<multilayer_landuse_entry> multilayer_;
};

}  // namespace velmo::test
