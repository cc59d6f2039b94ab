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

}  // namespace velmo::test
