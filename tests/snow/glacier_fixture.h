// Glaciers on the snow model's small test domain: the section "[ice_firn]"
// as text a test can change, "[permafrost]", and the runoff matrix the soil
// model would hand over.
#pragma once

#include <string>
#include <vector>

#include "snow/snow_fixture.h"

namespace velmo::test {

// The values of "[ice_firn]" as text, line by line.
struct ice_firn_text {
  std::string method = "11";
  std::string factors = "6\n4\n3\n2";  // DDFice, DDFfirn, DDFsnow, MF
  std::string radiation = "0.0005\n0.001\n0.0003\n0.0006";
  std::string storages = "10\n10\n10";  // kice_els, kfirn_els, ksnow_els
  std::string initial = "0\n0\n0";
  std::string statistics_code = "0";
  std::string qglac = "qglac.stat";
  std::string readgrid = "0";
  std::string firn_line = "3 2500 0.1   firn_levels firn_base deltafirnper100m";
  std::string evaluation_line = "30 9   GMBEvalDay GMBEvalMonth";
  std::string volume_area_line = "28.5 1.36 2 0   VAscaling VAexponent numElevBands extraWeightFactorBand0";
  std::string debris_scaling = "1.0";
  std::string new_glacier_line = "1000 0.25   maxSnowPackToCreateGlacier relSizeNewGlacier";

  bool Dynamic() const { return std::stoi(method) > 10; }
  std::string Text() const {
    const std::string s = " " + statistics_code + "\n";
    std::string text = "[ice_firn]\n" + method + "   glacier method\n" + factors + "\n" + radiation + "\n" +
                       storages + "\n" + initial + "\n";
    text += "firnmelt.asc\n0\nqfirn.stat" + s + "icemelt.asc\n0\nqice.stat" + s + qglac + s;
    if (!Dynamic()) return text;
    text += "qsnow.stat" + s + readgrid + "   readgrid\n" + firn_line + "\n" + evaluation_line + "\n" +
            volume_area_line + "\n";
    text += "firn.stk\n0\nfirn.stat" + s + "balance.asc\n0\nbalance_old.asc\n0\nbalance1.stat" + s +
            "balance2.stat" + s + debris_scaling + "\nwithout.stat" + s;
    for (const char* grid : {"gsolid", "gliquid", "gtotal", "gmelt", "gsurf", "gtemp", "gevap"})
      text += std::string(grid) + ".asc\n0\n";
    return text + new_glacier_line + "\n";
  }
};

inline std::string PermafrostText(const std::string& method = "1") {
  return "[permafrost]\n" + method +
         "   method\n10   Min_Snow_Age_Refreeze\n5   Max_SWE_SnowFree\nthaw.stat 0\n" +
         "1e-7   reduced k_sat\n";
}

class GlacierDomain : public SnowDomain {
 public:
  // Writes "[ice_firn]" (and `permafrost`) behind the snow section.
  std::unique_ptr<schneemodellklasse> BuildGlacier() {
    extra_sections = ice.Text() + permafrost;
    return Build();
  }
  int BuildGlacierCode() {
    extra_sections = ice.Text() + permafrost;
    return BuildCode();
  }
  // The soil model's runoff per subbasin: rows 0..1, columns 0..n+1.
  double** Runoff(int subbasins) {
    const auto width = static_cast<std::size_t>(subbasins) + 2;
    runoff_values.assign(2 * width, 0.0);
    runoff_rows = {runoff_values.data(), runoff_values.data() + width};
    return runoff_rows.data();
  }

  ice_firn_text ice;
  std::string permafrost;
  std::vector<double> runoff_values;
  std::vector<double*> runoff_rows;
};

}  // namespace velmo::test
