// Construction, initialisation stages and clean-up of the set-up object.
#include "setup/defltuzr.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <new>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/regions.h"
#include "setup/zonegrids.h"

namespace velmo {
namespace {

// Allocation failure while the set-up object is built.
constexpr int kConstructionAllocationCode = 81;

// Stage after which InitializeStage only reports that it is done.
constexpr int kClosingStage = 23;
// The set-up object's own progress messages follow this interval.
constexpr int kSetupMessageIntervalHours = 1;

// Write code digit that makes stage 8 write a grid once as "<outname>.filled".
constexpr int kWriteFilledOnce = 8;

constexpr const char* kRelCellAreaName = "RelCellArea";
constexpr const char* kLanduseName = "landuse";

}  // namespace

grid_content ContentOfGrid(const std::string& grid_name) {
  static constexpr std::string_view kCodeGrids[] = {
      kZoneGridName,   "zonegrid_soilmodel", kLanduseName, kSoilTypesName,
      kRegionGridName, kRiverLinksName,      "lake_codes", "GlacierCodes",
  };
  return std::find(std::begin(kCodeGrids), std::end(kCodeGrids), grid_name) != std::end(kCodeGrids)
             ? grid_content::codes
             : grid_content::values;
}

defaultini::defaultini(int& error, MessageStream* stream, const std::string& control_file_name_in,
                       int /*unused*/, grid_table* table)
    : modelobject(stream, control_file_name_in) {
  error = 0;
  try {
    if (messages) *messages << "file defltuzr, compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    name = "defaults";
    table_mode = 1;
    grids = table;
    stage = 0;
    landuse_layer_grids.clear();
  } catch (ErrorCode code) {
    error = code;
  } catch (const std::bad_alloc&) {
    if (messages)
      *messages << "FATAL: memory allocation error in defaults (while it is built)"
                << "[end-entry]";
    error = kConstructionAllocationCode;
  } catch (...) {
    error = kUnexpectedErrorCode;
  }
}

int defaultini::InitializeStage(bool& done) {
  if (stage >= kClosingStage) {
    CloseSetUpFile();
    message_interval = kSetupMessageIntervalHours;
    done = true;
    stage = kClosingStage;
    return stage;
  }
  RunStage(stage);
  ++stage;
  return stage;
}

void defaultini::CloseSetUpFile() {
  const std::string entry = "FATAL: error closing " + control_file_name;
  if (!control_file) RaiseFatal(messages, entry, kControlFileCloseErrorCode);
  CloseControlFile(entry);
}

void defaultini::RunStage(int stage_number) {
  // Logs `label`, runs `step`, logs "...ok".
  auto logged = [this](const char* label, auto step) {
    *messages << label << "[end-entry]";
    step();
    *messages << "...ok"
              << "[end-entry]";
  };

  switch (stage_number) {
    case 0:
      control_file_name_copy = control_file_name;
      CompileSymbols(control_file_name_copy, control_file_name);
      control_file_name_copy = control_file_name;
      ReadGlobalSections(control_file_name_copy);
      min_to_int_end = globals.min_to_int_end;
      interval_end_shift = min_to_int_end / kMinutesPerHour;
      break;
    case 1:
      OpenControlFile(control_file_name_copy);
      if (!control_file) {
        *messages << "FATAL: error opening " << control_file_name_copy << "[end-entry]";
        throw ErrorCode{kControlFileOpenErrorCode};
      }
      ReadGridSections();
      break;
    case 2:
      ReadModelTime();
      end_date_key = date_key(end_date);
      break;
    case 3:
      ReadMultilayerLanduse(table_mode);
      ReadLanduseTable(table_mode);
      break;
    case 4:
      ReadSoilTable(table_mode);
      break;
    case 5:
      ReadRadiationSwitch();
      CloseSetUpFile();
      break;
    case 6: {
      zone_grid = nullptr;
      elevation_grid = nullptr;
      ReadDomainHeader(ncols, nrows, xllcorner, yllcorner, cellsize, nodata_value);
      ReadDomainGrid(1, false, 1);
      zone_grid = (*grids)[1].data;
      ReadDomainGrid(2, true, 1);
      elevation_grid = (*grids)[2].data;
      // The partitioning keeps river links whole, so they are needed now.
      const int links = FindGrid(kRiverLinksName, true);
      if (links > 2 && !(*grids)[links].data) ReadDomainGrid(links, true, 1);
      PartitionDomain(partition_cell_counts, halo_send_list, halo_receive_list, first_row, last_row);
      break;
    }
    case 7:
      RankZones(*grids, grid_header{ncols, nrows, xllcorner, yllcorner, cellsize, nodata_value});
      break;
    case 8:
      for (int i = 3; i <= grid_count + 2; ++i) {
        if (!(*grids)[i].data) ReadOrCreateStandardGrid(i);
      }
      *messages << "before reading variable grids" << process_index << "[end-entry]";
      ReadVariableGrids();
      for (int i = 1; i <= grid_count + 2; ++i) {
        if ((*grids)[i].write_code == kWriteFilledOnce) WriteGridOutput(i, 1, false);
      }
      break;
    case 9:
      FindCellWeights();
      break;
    case 10:
      MakeCellSizes();
      break;
    case 11:
      MakeCoordinates();
      break;
    case 12:
      elevation_grid = (*grids)[2].data;
      max_elevation = GridMaximum(2);
      break;
    case 13: {
      const int landuse = FindGrid(kLanduseName, true);
      CheckLanduseCodes(landuse);
      if (landuse == 0) {
        landuse_layer_grids.clear();
        break;
      }
      if (!multilayer_table.empty()) {
        CreateLanduseLayerGrids();
        landuse_layer_count = multilayer_table[1].LayerCount();
      } else {
        // Modules look up the land use of layer l as "landuse<l>".
        double** data = (*grids)[landuse].data;
        landuse_layer_grids.assign({data, data});
        (*grids)[landuse].name = std::string(kLanduseName) + "1";
        landuse_layer_count = 1;
      }
      break;
    }
    case 14:
      if (!landuse_layer_grids.empty()) {
        logged("generateMultiLayerParameterGrids...",
               [this] { generateMultiLayerParameterGrids(landuse_layer_count); });
      }
      break;
    case 15:
      break;
    case 16:
      logged("check_SOIL_Codes...", [this] { check_SOIL_Codes(FindGrid(kSoilTypesName, true)); });
      break;
    case 17:
      logged("make_nFK_kWert_and_Na...", [this] { make_nFK_kWert_and_Na(); });
      break;
    case 18:
      logged("make_Slope_and_Aspect...", [this] { make_Slope_and_Aspect(); });
      break;
    case 19:
      logged("check_ice_firn_grid...", [this] { check_ice_firn_grid(); });
      break;
    case 20:
      logged("MakeRegionWeightGrids...", [this] { MakeRegionWeightGrids(); });
      break;
    case 21:
      break;
    case 22:
      logged("GetCouplingParameters...", [this] { GetCouplingParameters(); });
      break;
    default:
      break;
  }
}

void defaultini::ReadDomainGrid(int index, bool report_fills, int spare) {
  grid_entry& entry = (*grids)[index];
  const std::string file_name = entry.file_name;
  const std::string grid_name = entry.name;
  double** data = nullptr;
  ReadGrid(file_name, data, 0, true, true, entry.defaultValue, report_fills, true, spare, true,
           ContentOfGrid(grid_name));
  input_grids.emplace_back(data);
  RegisterGrid(index, file_name, data, nullptr, 0, grid_name, entry.write_code, 1, nrows);
}

void defaultini::ReadOrCreateStandardGrid(int index) {
  grid_entry& entry = (*grids)[index];
  const std::string file_name = entry.file_name;
  const std::string grid_name = entry.name;
  double** data = nullptr;
  if (entry.readcode >= 1) {
    ReadGrid(file_name, data, entry.fillcode, true, true, entry.defaultValue, true, true, 0, true,
             ContentOfGrid(grid_name));
    input_grids.emplace_back(data);
  } else {
    data = matrix(1, nrows, 1, ncols, 0);
    input_grids.emplace_back(data);
    FillUnreadGrid(data, zone_grid, nrows, ncols, nodata_value, entry.defaultValue);
  }
  RegisterGrid(index, file_name, data, nullptr, 0, grid_name, entry.write_code, 1, nrows);
  if (!entry.persistent) {
    double** copy = matrix(1, nrows, 1, ncols, 0);
    persistence_copies.emplace_back(copy);
    for (int r = 1; r <= nrows; ++r) std::copy(data[r] + 1, data[r] + ncols + 1, copy[r] + 1);
    entry.persistence_grid = copy;
  }
}

void defaultini::CleanUp() {
  if (cleaned_up) return;
  ReleaseCoupling();
  // Before the entries are released, so that they hold none of its grids.
  ReleasePartition();
  multilayer_table.clear();
  landuse_table.clear();
  soil_table.clear();
  // Writes the "MultipleStartTimes" stack as "<file>_End" and frees the
  // parameter grids it created.
  ReleaseVegetationGrids();
  landuse_layer_grids.clear();
  ReleaseDerivedGrids();
  ReleaseRegions();

  const int last_entry = grids ? std::min(grid_count + 2, kGridTableLimit - 1) : 0;
  for (int i = 2; i <= last_entry; ++i) {
    grid_entry& entry = (*grids)[i];
    if (entry.statistics) entry.statistics->CleanUp();
    entry.statistics = nullptr;
    entry.zone_accumulators.clear();
  }
  grid_statistics.clear();

  for (int i = 1; i <= last_entry; ++i) {
    grid_entry& entry = (*grids)[i];
    entry.persistence_grid = nullptr;
    ReleaseGrid(i);
    entry.outname.clear();
    entry.statfile.clear();
  }
  input_grids.clear();
  persistence_copies.clear();
  zone_grid = nullptr;
  elevation_grid = nullptr;
  cell_weights = nullptr;

  row_ranges = nullptr;
  zone_code_map = nullptr;
  zone_table = nullptr;
  row_range_list.clear();
  zone_codes.clear();
  zone_records.clear();

  InitialStateDirectory.reset();
  DefaultOutputDirectory.reset();
  modelobject::CleanUp();
}

}  // namespace velmo
