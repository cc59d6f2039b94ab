// Reading "[permafrost]" into the permafrost parameters.
#include "snow/permafrost.h"

#include <string>

#include "framework/diagnostics.h"
#include "setup/section_reader.h"
#include "snow/glacier.h"

namespace velmo {

void ReadPermafrostSection(modelobject& module, permafrost_parameters& p) {
  constexpr const char* kSection = "[permafrost]";
  constexpr int kSquareRootMethod = 1;
  section_reader in(module, kSection);
  p.method = in.Integer("Permafrost-Method for ");
  if (p.method != kSquareRootMethod)
    RaiseFatal(module.messages, "FATAL: method for permafrost melt must be 1 (alpha*sqrt(time))",
               kGlacierSetUpCode);
  p.Min_Snow_Age_Refreeze = in.Number("Min_Snow_Age_Refreeze for ");
  p.Max_SWE_SnowFree = in.Number("Max_SWE_SnowFree for ");
  p.thaw_depth_statistics = in.Statistics("name of thaw depth statistics file ");
  p.reduced_k_sat = in.Number("reduced k_sat (in m/s)");
  in.Close("FATAL: cannot close " + module.control_file_name);
}

}  // namespace velmo
