// Tracer storages of the submodels: their grids and statistics, the mixing formulas, the release.
#include "setup/tracerstorage.h"

#include <algorithm>
#include <exception>
#include <new>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/coupling.h"
#include "setup/derived.h"
#include "setup/teilmod.h"
#include "setup/tracers.h"

namespace velmo {
namespace {

// Number in the allocation-error entry of the tracer set-up.
constexpr int kTracerAllocationNumber = 1;

// First free grid-table entry; none below the limit is fatal.
int FreeGridEntry(teilmodellklasse& module) {
  return FreeEntryOrRaise(
      module.grids, module.messages,
      "FATAL: no free grid left. Please contact the author to set the number of available "
      "grids to a larger value ",
      "", kNoFreeGridCode);
}

// The stored concentration starts at 0 in the catchment and holds the nodata
// value outside it.
void InitialiseStorageGrid(const teilmodellklasse& module, double** grid) {
  ClearAccumulationGrid(grid, module.zone_grid, std::max(module.first_row, 1),
                        std::min(module.last_row, module.nrows), module.ncols, module.nodata_value);
}

void SetUpTracer(teilmodellklasse& module, int tracer, const tracer_description& description,
                 tracer_storage& storage) {
  storage.decay_factor =
      description.radioactive == 1 ? TracerDecayFactor(description.half_time, module.time_interval) : 1.0;

  storage.zones.assign(static_cast<size_t>(std::max(module.zone_count, 0)) + 1, zone_record{});
  if (module.zone_table) {
    for (size_t k = 0; k < storage.zones.size(); ++k) {
      storage.zones[k].code = module.zone_table[k].code;
      storage.zones[k].area_fraction = module.zone_table[k].area_fraction;
    }
  }

  storage.stat_file_name = TracerFileName(description, module.name, description.statext);
  int error = 0;
  storage.statistics = std::make_unique<zonalstatistic>(
      error, module.messages, module.nodata_value, module.cell_weights, module.nrows, module.ncols,
      storage.zones.data(), module.zone_count, description.statcode, kTracerStatisticsPrecision,
      storage.stat_file_name, module.DefaultOutputDirectory.get(), module.output_list_count,
      module.output_list.empty() ? nullptr : module.output_list.data(),
      module.time_interval < kTracerMinuteColumnBelow);
  if (error != 0) throw ErrorCode{error};
  storage.statistics->WriteHeader(
      "tracer concentration for tracer " + std::to_string(tracer) + " (" + description.name + ") ",
      module.name);

  const int storage_index = FreeGridEntry(module);
  storage.grid_file_name = TracerFileName(description, module.name, description.gridext);
  storage.storage_grid = owned_matrix(module.matrix(1, module.nrows, 1, module.ncols, 0));
  InitialiseStorageGrid(module, storage.storage_grid.get());
  module.RegisterGrid(storage_index, storage.grid_file_name, storage.storage_grid.get(), nullptr, 0,
                      TracerStorageGridName(tracer, module.name), description.gridcode, 1, module.nrows);
  storage.storage_grid_index = storage_index;

  // The entry after the storage grid may already be in use: take the next free one.
  const int flux_index = FreeGridEntry(module);
  storage.flux_grid = owned_matrix(module.matrix(1, module.nrows, 1, module.ncols, 0));
  module.RegisterGrid(flux_index, storage.grid_file_name, storage.flux_grid.get(), nullptr, 0,
                      TracerFluxGridName(tracer, module.name), 0, 1, module.nrows);
  storage.flux_grid_index = flux_index;
}

// Releases the entry only while it still holds this grid.
void ReleaseTracerGrid(teilmodellklasse& module, int index, owned_matrix& grid) {
  if (index > 0 && module.grids && (*module.grids)[index].data == grid.get()) module.ReleaseGrid(index);
  grid.reset();
}

}  // namespace

std::string TracerStorageGridName(int tracer, const std::string& module_name) {
  return "concstor_tracer_" + std::to_string(tracer) + "_" + module_name;
}

std::string TracerFluxGridName(int tracer, const std::string& module_name) {
  return "concflux_tracer_" + std::to_string(tracer) + "_" + module_name;
}

std::string TracerFileName(const tracer_description& description, const std::string& module_name,
                           const std::string& extension) {
  return description.path + description.name.substr(0, kTracerFileNameChars) +
         module_name.substr(0, kModuleFileNameChars) + "." + extension.substr(0, kExtensionFileNameChars);
}

double TracerMassOf(double concentration, double volume) { return concentration * volume; }

double MixedConcentration(double concentration_a, double concentration_b, double volume_a, double volume_b) {
  const double volume = volume_a + volume_b;
  if (volume == 0.0) return 0.0;
  return (concentration_a * volume_a + concentration_b * volume_b) / volume;
}

double ConcentrationAfterLoss(double concentration, double volume, double loss) {
  const double remaining = volume - loss;
  // Losing all the water (or more than there is) leaves no concentration to speak of.
  if (!(remaining > 0.0)) return 0.0;
  return concentration * volume / remaining;
}

void teilmodellklasse::SetUpTracers(int& error, int count,
                                    const std::vector<tracer_description>* descriptions) {
  error = 0;
  try {
    try {
      teilmodellklasse::FreeTracers();  // a repeated set-up replaces the earlier storages
      tracer_count = std::max(count, 0);
      if (count <= 0) return;
      if (!descriptions || descriptions->size() < static_cast<size_t>(count) + 1) {
        *messages << "FATAL: " << count << " tracers to set up in " << name << ", but "
                  << (descriptions && !descriptions->empty() ? descriptions->size() - 1 : 0)
                  << " tracer descriptions"
                  << "[end-entry]";
        tracer_count = 0;
        error = kTracerSetUpErrorCode;
        return;
      }
      tracer_descriptions = descriptions;
      tracer_storages.resize(static_cast<size_t>(count) + 1);
      for (int i = 1; i <= count; ++i) {
        SetUpTracer(*this, i, (*descriptions)[static_cast<size_t>(i)],
                    tracer_storages[static_cast<size_t>(i)]);
      }
    } catch (const std::bad_alloc&) {
      RaiseAllocationError(kTracerAllocationNumber);
    }
  } catch (ErrorCode code) {
    error = code;
  } catch (const std::exception& failure) {
    *messages << "FATAL: error setting up the tracer storages of " << name << ": " << failure.what()
              << "[end-entry]";
    error = kTracerSetUpErrorCode;
  } catch (...) {
    *messages << "FATAL: error setting up the tracer storages of " << name << "[end-entry]";
    error = kTracerSetUpErrorCode;
  }
}

double teilmodellklasse::TracerMass(double concentration, double volume) {
  return TracerMassOf(concentration, volume);
}

double teilmodellklasse::MixConcentration(double ca, double cb, double va, double vb) {
  return MixedConcentration(ca, cb, va, vb);
}

double teilmodellklasse::ConcentrateByLoss(double concentration, double volume, double loss) {
  return ConcentrationAfterLoss(concentration, volume, loss);
}

void teilmodellklasse::FreeTracers() {
  // Everything is released even when a table cannot be written; the first
  // such failure is reported afterwards.
  ErrorCode failure = 0;
  for (size_t i = 1; i < tracer_storages.size(); ++i) {
    tracer_storage& storage = tracer_storages[i];
    ReleaseTracerGrid(*this, storage.storage_grid_index, storage.storage_grid);
    storage.storage_grid_index = 0;
    ReleaseTracerGrid(*this, storage.flux_grid_index, storage.flux_grid);
    storage.flux_grid_index = 0;
    storage.input_grid = nullptr;
    storage.grid_file_name.clear();
    if (storage.statistics) {
      try {
        storage.statistics->CleanUp();
      } catch (ErrorCode code) {
        if (failure == 0) failure = code;
      }
      storage.statistics.reset();
    }
    storage.stat_file_name.clear();
  }
  std::vector<tracer_storage>().swap(tracer_storages);
  tracer_count = 0;
  tracer_descriptions = nullptr;
  if (failure != 0) throw ErrorCode{failure};
}

}  // namespace velmo
