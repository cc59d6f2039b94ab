// The set-up object: preprocesses the control file and reads everything that
// belongs to no single module (global sections, model time, grids, tables).
#pragma once

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "setup/coupling.h"
#include "setup/partition.h"
#include "setup/settings.h"
#include "setup/tables.h"

namespace velmo {

class defaultini : public modelobject {
 public:
  defaultini(MessageStream* stream, const std::string& control_file_name);
  ~defaultini() override = default;

  // ---- control-file preprocessing (.intern copy)
  // Writes the preprocessed copy "<source_name>.intern" (comments cut, $set
  // symbols substituted, "//" joins removed) and leaves its name in intern_name.
  virtual void CompileSymbols(const std::string& source_name, std::string& intern_name);
  // Comment, references and joins of one line, in place; a fault is logged and
  // thrown with its code. defining_symbol (1-based, 0 for none) is the symbol
  // whose value `line` is: a reference back to it is a self-reference.
  virtual std::string& SubstituteSymbols(std::string& line, int line_number,
                                         const std::vector<std::string>& symbol_names,
                                         const std::vector<std::string>& symbol_values, int symbol_count,
                                         int defining_symbol);

  // ---- global sections, model settings, model time
  // Reads the global sections from the control file `file_name` (opened and
  // closed here) into `globals`, the grid-format switches, the directory
  // prefixes and time_step.
  virtual void ReadGlobalSections(const std::string& file_name);
  // First value of "[radiation_correction]" from the open control file.
  virtual void ReadRadiationSwitch();
  // "[model_time]" from the open control file into start_date and end_date,
  // corrected; February of month_lengths follows the end year.
  virtual void ReadModelTime();
  virtual double GetMaxElevation() { return max_elevation; }
  // The model-wide values, in the order the model application takes them;
  // the tables and lists stay the set-up object's.
  model_settings GetSettings();

  global_sections globals;
  int radiation_switch = 0;    // nothing uses it
  double max_elevation = 0.0;  // maximum of the elevation model over its valid cells

  // ---- land-use, soil and multilayer tables
  // "[multilayer_landuse]" (optional), "[landuse_table]" and "[soil_table]"
  // from the open control file; failures write their entries and throw.
  virtual void ReadMultilayerLanduse(int table_mode = 1);
  virtual void ReadLanduseTable(int table_mode = 1);
  virtual void ReadSoilTable(int table_mode = 1);

  // Records 0..n; record 0 holds n in its code. An empty multilayer table
  // means the section is absent (one vegetation layer).
  std::vector<landuse_table_entry> landuse_table;
  std::vector<soil_table_entry> soil_table;
  std::vector<multilayer_landuse_entry> multilayer_table;

  // ---- stages, grids, partitioning, coupling
  // Grid table entries 3 .. grid_count+2 belong to the set-up object.
  int grid_count = 0;

  // Domain division (setup/partition.cpp), run once zone grid, elevation
  // model and "river_links" are registered: registers "MPIRegions",
  // "MPIHelper" and "MPIHalo" in the first free entries, builds the river
  // links and counts the cells per instance.
  void PartitionDomain(std::vector<int>& cell_counts, std::vector<int>& send_list, std::vector<int>& receive_list,
                       int& row_first, int& row_last);
  // Frees the river links and the three grids and empties the lists. The
  // grids' table entries lose their data here, so the clean-up of the other
  // entries never frees them (the "MPIHelper" rows are wider than a grid's).
  void ReleasePartition();

  std::vector<RiverLink> river_link_list;
  int mpi_regions_index = 0;
  int mpi_helper_index = 0;
  int mpi_halo_index = 0;
  owned_matrix mpi_regions;
  owned_matrix mpi_helper;  // columns 0 .. HelperColumns(ncols)
  owned_matrix mpi_halo;
  std::vector<int> partition_cell_counts;  // index 0 .. process_count-1
  std::vector<int> halo_send_list;
  std::vector<int> halo_receive_list;

  // "[ExternalCoupling]" (setup/coupling.cpp): opens the control-file copy
  // again and leaves it open.
  virtual void GetCouplingParameters();
  // Frees the coupling lists and texts.
  void ReleaseCoupling();
  external_coupling coupling;
};

}  // namespace velmo
