// The evapotranspiration model's section built from its values, and a small
// domain with the meteorological and vegetation grids of one layer (two on
// request) that the model looks up.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "landsurface/etpetr.h"
#include "landsurface/layer_names.h"
#include "setup/tables.h"
#include "surface_domain.h"

namespace velmo::test {

struct et_section {
  int flow_control = 1;
  int interval = 1440;
  int method = 1;
  std::string hamon = "1 1 1 1 1 1 1 1 1 1 1 1";
  std::string haude = "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3";
  std::string coast = "1.0   coast factor";
  int write_code = 0;
  int stat_code = 0;
  std::string radiation = "0.23 0.29 0.28 0.2   a0..a3";
  std::string sunshine = "0.072 -0.808 1.749 -0.239   CS";
  std::string transmissivity = "0.7 0.05";
  std::string scale_height = "1000   m";
  std::string amplitudes = "10 10 10 10 10 10 10 10 10 10 10 10  K";
  std::string shares = "0.6 0.0   day share, variability";
  std::string cloudiness = "";
  std::string open_water = "HamonCorrectionOpenWater = 1.5";
};

inline std::string Section(const et_section& v) {
  std::ostringstream t;
  const auto output = [&](const char* stem) {
    t << stem << ".grd   grid\n"
      << v.write_code << "   write code\n"
      << stem << ".stat " << v.stat_code << "\n";
  };
  t << "[evapotranspiration]\n"
    << v.flow_control << "\n"
    << v.interval << "\n"
    << v.method << "   method\n"
    << v.hamon << "\n"
    << v.haude << "\n"
    << v.coast << "\n";
  for (const char* stem : {"etp", "etr", "evap", "evar", "esnow", "eip"}) output(stem);
  t << "rgex.stat " << v.stat_code << "\n"
    << v.radiation << "\n"
    << v.sunshine << "\n"
    << v.transmissivity << "\n"
    << v.scale_height << "\n"
    << v.amplitudes << "\n"
    << v.shares << "\n"
    << v.cloudiness << "\n"
    << v.open_water << "\n"
    << "[next_section]\n";
  return t.str();
}

class Evapotranspiration : public test::SurfaceDomain {
 protected:
  Evapotranspiration() {
    landuse_table_.resize(2);
    landuse_table_[0].code = 1;
    landuse_table_[1].code = 1;
    landuse_table_[1].ETPHamonFactor = 1.2;
    settings_.landuse_table = landuse_table_.data();
    AddInputs();
  }

  // Meteorological and vegetation grids of one layer.
  void AddInputs() {
    temperature_ = AddGrid("temperature", 20.0);
    AddGrid("temperature_night", 20.0);  // of the radiation correction for daily steps
    AddGrid("wind_speed", 2.0);
    AddGrid("air_humidity", 0.5);
    radiation_ = AddGrid("global_radiation", 3000.0);
    AddGrid("albedo", 0.2);
    AddGrid("SurfaceEvaporationResistance", 300.0);
    AddLayer(1);
  }
  void AddLayer(int l) {
    AddGrid(LayerGridName("landuse", l), 1.0);
    AddGrid(LayerGridName("leaf_area_index", l), 3.0);
    AddGrid(LayerGridName("root_depth", l), 0.5);
    AddGrid(LayerGridName("vegetation_coverage_degree", l), 0.7);
    AddGrid(LayerGridName("SurfaceCanopyResistance", l), 50.0);
    AddGrid(LayerGridName("SurfaceIntercepResistance", l), 10.0);
    AddGrid(LayerGridName("RoughnessLength", l), 0.1);
  }
  void UseTwoLayers() {
    multilayer_table_.resize(2);
    multilayer_table_[0].code = 1;
    multilayer_table_[1].layer_code_count = 2;
    settings_.multilayer_table = multilayer_table_.data();
    AddGrid("landuse", 1.0);
    AddLayer(2);
  }

  std::unique_ptr<verdunstungsmodellklasse> Build(const et_section& v) {
    return Make<verdunstungsmodellklasse>(Section(v));
  }
  double Cell(const std::string& grid, int r = 1, int c = 1) { return Data(grid)[r][c]; }

  std::vector<landuse_table_entry> landuse_table_;
  std::vector<multilayer_landuse_entry> multilayer_table_;
  double** temperature_ = nullptr;
  double** radiation_ = nullptr;
};

}  // namespace velmo::test
