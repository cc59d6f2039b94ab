// Reading "[lake_model]" for the modules that join the lakes.
#include "setup/lake_section.h"

#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr int kLakesOn = 1;

}  // namespace

lake_section ReadLakeSection(modelobject& module, const std::string& section, lake_values last) {
  section_reader in(module, section);
  lake_section lake;
  // The lakes are on or off alike in every module that joins them.
  lake.flow_control = in.FlowControl(kLakesOn);
  if (lake.flow_control != 0 && last >= lake_values::initialization_method)
    lake.initialization_method = in.Integer("initialization method for ");
  if (lake.flow_control != 0 && last >= lake_values::open_water) {
    lake.albedo = in.Number("Albedo_OpenWater for ");
    lake.roughness_length = in.Number("z0_OpenWater for ");
  }
  if (lake.flow_control != 0 && last >= lake_values::readgrids) lake.readgrids = in.Integer("readgrids for ");
  in.Close("FATAL: error closing " + module.control_file_name + "after reading initialization method for " +
           section);
  return lake;
}

}  // namespace velmo
