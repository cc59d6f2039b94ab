// Statistics and clean-up of the grids a land-surface module owns.
#include "landsurface/owned_grid.h"

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "physics/units.h"

namespace velmo {

void CreateOwnedGridStatistics(teilmodellklasse& module, owned_grid& grid, const std::string& file_name,
                               int code, int precision, const std::string& header, const std::string& title) {
  if (!module.zone_table) return;
  grid.zones.assign(module.zone_table, module.zone_table + module.zone_count + 1);
  for (zone_record& zone : grid.zones) {
    zone.weight_sum = 0.0;
    zone.value_sum = 0.0;
  }
  // The writer prefixes the output directory to its own copy of the name.
  std::string file = file_name;
  int error = 0;
  const int* selected = module.output_list.empty() ? nullptr : module.output_list.data();
  grid.statistics = std::make_unique<zonalstatistic>(
      error, module.messages, module.nodata_value, module.cell_weights, module.nrows, module.ncols,
      grid.zones.data(), module.zone_count, code, precision, file, module.DefaultOutputDirectory.get(),
      selected ? module.output_list_count : 0, selected, module.time_interval < kMinutesPerHour);
  if (error != 0) throw ErrorCode{error};
  grid.statistics->WriteHeader(header, title);
}

void ReleaseOwnedGrid(teilmodellklasse& module, owned_grid& grid) {
  if (grid.index > 0 && module.grids && (*module.grids)[grid.index].data == grid.rows())
    module.ReleaseGrid(grid.index);
  grid.index = 0;
  grid.data.reset();
  grid.shared = nullptr;
}

void CleanUpOwnedGrid(teilmodellklasse& module, owned_grid& grid, int& failure) {
  if (grid.statistics) {
    try {
      grid.statistics->CleanUp();
    } catch (ErrorCode code) {
      if (failure == 0) failure = code;
    }
    grid.statistics.reset();
  }
  ReleaseOwnedGrid(module, grid);
}

}  // namespace velmo
