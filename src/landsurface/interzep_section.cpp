// Reading "[interception_model]" into interception_parameters, and what each
// method number stands for.
#include <cstdio>

#include "framework/diagnostics.h"
#include "landsurface/interzep.h"

namespace velmo {

interception_method_traits InterceptionMethodTraits(int method) {
  interception_method_traits t;
  switch (method) {
    case 1:
    case 2:
    case 11:
    case 12:
    case 21:
    case 22:
    case 31:
    case 32:
      break;
    default:
      return t;
  }
  const int a = method / 10;
  const int b = method % 10;
  t.known = true;
  t.input = a == 0 ? interception_input::after_snow : interception_input::before_snow;
  t.limit = b == 1 ? interception_limit::potential_transpiration : interception_limit::potential_interception;
  t.snow_canopy = a >= 2;
  t.energy_balance = a >= 3;
  return t;
}

void interzeptionsmodellklasse::ReadSection() {
  std::FILE* file = control_file;
  const std::string& s = section_buffer;
  interception_parameters& p = parameters;
  std::string rest;

  ReadValue(file, p.method, " method for " + s, rest);
  traits = InterceptionMethodTraits(p.method);
  if (!traits.known) {
    *messages << "FATAL: method " << p.method
              << " is not supported in interception model (use one of 1, 2, 11, 12, 21, 22, 31, 32)"
              << "[end-entry]";
    throw ErrorCode{kInterceptionMethodCode};
  }

  const auto output = [&](interception_output& out, const std::string& what) {
    ReadValue(file, out.grid_file, "name " + what + " grid for " + s, rest);
    ReadValue(file, out.write_code, "write code " + what + " grid for " + s, rest);
    ReadTwoValues(file, "%s%d", &out.stat_file, &out.stat_code, "name " + what + " statistics file for " + s,
                  rest);
  };
  output(p.throughfall, "outflow");
  ReadValue(file, p.evaporation.grid_file, "name potential interception evaporation grid for " + s, rest);
  ReadValue(file, p.evaporation.write_code, "write code potential interception evaporation grid for " + s,
            rest);
  ReadTwoValues(file, "%s%d", &p.evaporation.stat_file, &p.evaporation.stat_code,
                "name potential interception statistics file for " + s, rest);
  output(p.storage, "interception storage");
  ReadValue(file, p.max_thickness, "parameter interception storage maximum water layer thickness for " + s,
            rest);
  ReadValue(file, p.read_grids, "readgrid parameter for " + s, rest);
  if (traits.snow_canopy) ReadSnowCanopySection();
  CloseSection();
}

void interzeptionsmodellklasse::CloseSection() {
  if (!control_file) return;
  const int result = std::fclose(control_file);
  control_file = nullptr;
  if (result != 0) {
    *messages << "FATAL: error closing " << control_file_name << "[end-entry]";
    throw ErrorCode{kControlFileCloseErrorCode};
  }
}

}  // namespace velmo
