// The section "[lake_model]", which the evapotranspiration, snow, soil and
// routing models each read for their part of the lake set-up:
//
//   [lake_model]
//   1       flow control parameter (0: no lakes, 1: lakes)
//   1       initialization method: 1 grids unchanged, 2 the elevation model
//           lowered by the lake depth
//   0.05    Albedo_OpenWater
//   0.001   z0_OpenWater (m)
//   0       readgrids: not 0, the reservoirs start from the ponding grid
#pragma once

#include <string>

namespace velmo {

class modelobject;

struct lake_section {
  int flow_control = 0;  // 0: lakes off
  int initialization_method = 0;
  double albedo = 0.0;            // of open water
  double roughness_length = 0.0;  // of open water, m
  int readgrids = 0;
};

// The values of the section in their order; a module reads up to the last it
// needs.
enum class lake_values { flow_control, initialization_method, open_water, readgrids };

// Opens the control file of `module`, finds `section` and reads its flow
// control parameter and, when that is not 0, the values up to `last`, then
// closes the file. Failures write their entry and throw: the file not opened
// 28, a missing section or value or a flow control parameter other than 0
// and 1 17, the close 11.
lake_section ReadLakeSection(modelobject& module, const std::string& section, lake_values last);

}  // namespace velmo
