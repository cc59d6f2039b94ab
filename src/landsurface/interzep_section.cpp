// Reading "[interception_model]" into interception_parameters, and what each
// method number stands for.
#include "framework/diagnostics.h"
#include "landsurface/interzep.h"
#include "setup/section_reader.h"

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
  section_reader in(*this, kReadingOn);
  interception_parameters& p = parameters;

  p.method = in.Integer(" method for ");
  traits = InterceptionMethodTraits(p.method);
  if (!traits.known) {
    *messages << "FATAL: method " << p.method
              << " is not supported in interception model (use one of 1, 2, 11, 12, 21, 22, 31, 32)"
              << "[end-entry]";
    throw ErrorCode{kInterceptionMethodCode};
  }

  const auto output = [&](output_grid& grid, statistics_file& statistics, const std::string& what) {
    grid = in.Grid("name " + what + " grid for ", "write code " + what + " grid for ");
    statistics = in.Statistics("name " + what + " statistics file for ");
  };
  output(p.throughfall_grid, p.throughfall_statistics, "outflow");
  p.evaporation_grid = in.Grid("name potential interception evaporation grid for ",
                               "write code potential interception evaporation grid for ");
  p.evaporation_statistics = in.Statistics("name potential interception statistics file for ");
  output(p.storage_grid, p.storage_statistics, "interception storage");
  p.max_thickness = in.Number("parameter interception storage maximum water layer thickness for ");
  p.read_grids = in.Integer("readgrid parameter for ");
  if (traits.snow_canopy) ReadSnowCanopySection(in);
  in.Close();
}

}  // namespace velmo
