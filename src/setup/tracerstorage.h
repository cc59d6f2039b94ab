// Tracer storages of the submodels: for every dissolved substance a module
// carries, the concentration of the water it stores and of the water it
// passes on, and a zone statistics table of the stored concentration. The
// submodel base (setup/teilmod.h) creates and frees them; the modules decide
// what flows where.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/types.h"
#include "framework/zonalstat.h"

namespace velmo {

struct tracer_description;

// Precision of the concentration tables: the general ("%.6g") format.
inline constexpr int kTracerStatisticsPrecision = kGeneralFormatPrecision;
// Modules with shorter steps (minutes) write a minute column.
inline constexpr double kTracerMinuteColumnBelow = 60.0;
// Characters of the tracer name, module name and extensions that make the
// tracer file names.
inline constexpr std::size_t kTracerFileNameChars = 3;
inline constexpr std::size_t kModuleFileNameChars = 5;
inline constexpr std::size_t kExtensionFileNameChars = 3;

// One tracer of one submodel. Move-only: the statistics table points into
// `zones`, whose buffer a move keeps in place.
struct tracer_storage {
  // Accumulators of the concentration statistics: the zone table's codes and
  // area fractions, sums zeroed (records 0..zone_count).
  std::vector<zone_record> zones;
  std::unique_ptr<zonalstatistic> statistics;
  std::string stat_file_name;
  std::string grid_file_name;
  int storage_grid_index = 0;  // grid-table entries; 0: not registered
  int flux_grid_index = 0;
  // Per-step decay of the stored concentration for this module's own time
  // interval: 0.5 ^ (interval / half-life); 1 for a tracer that does not decay.
  double decay_factor = 1.0;
  owned_matrix storage_grid;  // concentration of the water the module stores
  // Concentration of the module's input water; the module sets it (for
  // example to another module's flux grid).
  double** input_grid = nullptr;
  owned_matrix flux_grid;  // concentration of the water the module passes on
};

// Names of tracer `tracer` (1..) of the module `module_name`.
std::string TracerStorageGridName(int tracer, const std::string& module_name);  // "concstor_tracer_<i>_<m>"
std::string TracerFluxGridName(int tracer, const std::string& module_name);     // "concflux_tracer_<i>_<m>"
// Output file name: the tracer's path, then the first 3 characters of its
// name, the first 5 of the module name, "." and the first 3 of `extension`.
std::string TracerFileName(const tracer_description& description, const std::string& module_name,
                           const std::string& extension);

// Mass of a tracer in `volume` of water at `concentration`.
double TracerMassOf(double concentration, double volume);
// Concentration of two waters mixed; 0 when there is no water.
double MixedConcentration(double concentration_a, double concentration_b, double volume_a, double volume_b);
// Concentration after `volume` lost `loss` of pure water; 0 when no water is
// left (loss at or above the volume).
double ConcentrationAfterLoss(double concentration, double volume, double loss);

}  // namespace velmo
