// The section "[interception_model]" of a test, with the output names
// tf.asc, ei.asc and si.asc and their tables tf.sta, ei.sta and si.sta.
#pragma once

#include <sstream>
#include <string>

namespace velmo::test {

inline std::string InterceptionSection(int method, double thickness = 1.0, int read_grids = 0,
                                       int stat_code = 0, int flow_control = 1) {
  std::ostringstream s;
  s << "[interception_model]\n"
    << flow_control << "  flow control\n60  time interval\n"
    << method << "  method\n"
    << "tf.asc  outflow grid\n0\ntf.sta " << stat_code << "\n"
    << "ei.asc  interception evaporation grid\n0\nei.sta " << stat_code << "\n"
    << "si.asc  interception storage grid\n0\nsi.sta " << stat_code << "\n"
    << thickness << "  maximum water layer thickness\n"
    << read_grids << "  readgrid\n";
  return s.str();
}

// The lines of the snow canopy after the read-grid line (methods 21 and
// above): grids and tables scn_<name>.asc and scn_<name>.sta, and from
// method 31 on those of the energy balance, ceb_<name>.
inline std::string SnowCanopyLines(int method, double min_lai = 1.0, double min_z0 = 0.05,
                                   double lai_scale = 1.0, int stat_code = 0) {
  std::ostringstream s;
  for (const char* name : {"temperature", "rh", "rad", "wind", "load", "age", "albedo", "sublim",
                           "unload_solid", "unload_liquid"})
    s << "scn_" << name << ".asc\n0\nscn_" << name << ".sta " << stat_code << "\n";
  s << min_lai << "  minimum LAI\n" << min_z0 << "  minimum z0\n" << lai_scale << "  LAI scaling\n";
  if (method >= 31)
    for (const char* name : {"balance", "temperature", "temperature_old", "dummy"})
      s << "ceb_" << name << ".asc\n0\nceb_" << name << ".sta " << stat_code << "\n";
  return s.str();
}

}  // namespace velmo::test
