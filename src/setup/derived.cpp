// Grids the set-up object derives from its input grids: cell sizes and the
// relative cell area, cell coordinates, the maximum elevation, three soil
// grids from the soil table, slope and aspect.
#include "setup/derived.h"

#include <cmath>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"

namespace velmo {
namespace {

constexpr const char* kElevationGridName = "[elevation_model]";
constexpr const char* kRootDepthName = "root_depth1";  // root depth of vegetation layer 1
constexpr const char* kIceFirnName = "ice_firn";

constexpr double kPercentToFraction = 0.01;

constexpr int kInvalidSoilPositionCode = 32;
constexpr int kCellSizeErrorCode = 66;

// No-free-entry messages of the derived grids.
constexpr const char* kNoFreeGridTypo = "FATAL: no free grid found in memeory (at position ";
constexpr const char* kNoFreeGridLeft = "FATAL: no free grid left (at position ";

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

// ---------------------------------------------------------------- formulas

std::string DerivedFileName(const std::string& source_file, const std::string& suffix) {
  size_t file_start = 0;
  for (size_t i = source_file.size(); i > 0; --i) {
    if (IsSeparator(source_file[i - 1])) {
      file_start = i;
      break;
    }
  }
  const size_t dot = source_file.rfind('.');
  if (dot == std::string::npos || dot < file_start) return source_file + suffix;
  return source_file.substr(0, dot) + suffix;
}

cell_size_fault CompleteCellSizes(cell_sizes& cell, bool x_given, bool y_given, bool area_given,
                                  double cellsize) {
  const double cell_area = cellsize * cellsize;
  if (x_given) {
    if (cell.x == 0.0) return cell_size_fault::zero_x;
    if (!y_given) {
      // Without a relative area the missing size is the regular one.
      cell.y = area_given ? cell.relative_area * cell_area / cell.x : cellsize;
      if (!area_given) cell.relative_area = cell.x * cell.y / cell_area;
      return cell_size_fault::none;
    }
    const double implied_area = cell.y * cell.x / cell_area;
    if (!area_given) {
      cell.relative_area = implied_area;
    } else if (std::fabs(cell.relative_area - implied_area) > kRelativeAreaTolerance) {
      return cell_size_fault::inconsistent_area;
    }
    return cell_size_fault::none;
  }
  if (y_given) {
    if (cell.y == 0.0) return cell_size_fault::zero_y;
    cell.x = area_given ? cell.relative_area * cell_area / cell.y : cellsize;
    if (!area_given) cell.relative_area = cell.x * cell.y / cell_area;
    return cell_size_fault::none;
  }
  if (!area_given) cell.relative_area = 1.0;
  cell.x = std::sqrt(cell_area * cell.relative_area);
  cell.y = cell.x;
  return cell_size_fault::none;
}

slope_and_aspect SlopeAndAspect(double north, double south, double west, double east, double cellsize) {
  constexpr double kRightAngle = 90.0;      // degrees
  constexpr double kStraightAngle = 180.0;  // degrees
  const double dx = (east - west) / (2.0 * cellsize);
  const double dy = (north - south) / (2.0 * cellsize);
  slope_and_aspect result;
  if (dx != 0.0 || dy != 0.0) result.slope = std::atan(std::sqrt(dx * dx + dy * dy)) * kSlopeDegreesPerRadian;
  if (dx != 0.0) {
    const double sign = dx > 0.0 ? 1.0 : -1.0;
    result.aspect = kStraightAngle - std::atan(dy / dx) * kSlopeDegreesPerRadian + sign * kRightAngle;
  } else {
    result.aspect = dy > 0.0 ? kStraightAngle : 0.0;
  }
  return result;
}

bool NeighbourMeanOf(double** grid, int row, int col, int nrows, int ncols, double nodata, double& mean) {
  // North-east, east, south-east, south, south-west, west, north-west, north.
  constexpr int kRowStep[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
  constexpr int kColStep[8] = {1, 1, 1, 0, -1, -1, -1, 0};
  double sum = 0.0;
  int count = 0;
  for (int n = 0; n < 8; ++n) {
    const int r = row + kRowStep[n];
    const int c = col + kColStep[n];
    if (r < 1 || r > nrows || c < 1 || c > ncols) continue;
    if (grid[r][c] == nodata) continue;
    sum += grid[r][c];
    ++count;
  }
  if (count == 0) return false;
  mean = sum / count;
  return true;
}

// ---------------------------------------------------------------- table helpers

int FreeEntryOrRaise(const grid_table* grids, MessageStream* messages, const char* no_free_message,
                     const char* no_free_end, int code) {
  const int index = grids ? grids->FirstFreeEntry() : kGridTableLimit;
  if (index >= kGridTableLimit) {
    *messages << no_free_message << kGridTableLimit << no_free_end << "[end-entry]";
    throw ErrorCode{code};
  }
  return index;
}

int FindGridWithData(modelobject& object, const std::string& grid_name) {
  const int index = object.FindGrid(grid_name, true);
  return index > 0 && (*object.grids)[index].data ? index : 0;
}

void DetachAndFree(grid_table* grids, std::vector<owned_matrix>& owned) {
  if (grids) {
    for (const owned_matrix& m : owned) {
      if (!m) continue;
      for (int index = 1; index < kGridTableLimit; ++index) {
        if ((*grids)[index].data == m.get()) (*grids)[index].data = nullptr;
      }
    }
  }
  owned.clear();
}

int defaultini::RegisterComputedGrid(const std::string& grid_name, const std::string& file_name,
                                     std::vector<owned_matrix>& owner, const char* no_free_message,
                                     const char* no_free_end) {
  const int index = FreeEntryOrRaise(grids, messages, no_free_message, no_free_end, kNoFreeGridCode);
  owner.emplace_back();
  owner.back() = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  RegisterGrid(index, file_name, owner.back().get(), nullptr, 0, grid_name, 0, 1, nrows);
  ++grid_count;
  return index;
}

void defaultini::WriteGridOnce(int index) {
  // What the per-step writer does for a last write-code digit 1; the entry's
  // write code stays 0, so the grid is never written again.
  const grid_entry& entry = (*grids)[index];
  WriteGrid(entry.outname, entry.data, WriteAsciiGrids, WriteDoubleGrids, WriteNetcdfGrids);
}

void defaultini::ReleaseDerivedGrids() {
  DetachAndFree(grids, derived_grids);
  auto forget = [](double**& data, bool given) {
    if (!given) data = nullptr;
  };
  forget(cell_size_x, cell_size_x_given);
  forget(cell_size_y, cell_size_y_given);
  forget(rel_cell_area, rel_cell_area_given);
  coord_x = coord_y = nullptr;
  slope_angle = slope_aspect = nullptr;
  available_soil_moisture = hydraulic_conductivity = fillable_porosity = nullptr;
}

void defaultini::ReleaseSetUpOnlyGrids() {
  if (!grids) return;
  // The matrix of `data` among those the set-up object owns, freed; false
  // when it owns none of that address.
  auto free_owned = [&](double** data) {
    if (mpi_halo.get() == data) {
      mpi_halo.reset();
      return true;
    }
    for (std::vector<owned_matrix>* owned : {&derived_grids, &input_grids}) {
      for (owned_matrix& m : *owned) {
        if (m.get() != data) continue;
        m.reset();
        return true;
      }
    }
    return false;
  };
  // Another entry may borrow the same matrix.
  auto borrowed = [&](int index, double** data) {
    for (int other = 1; other < kGridTableLimit && (*grids)[other].in_use(); ++other)
      if (other != index && (*grids)[other].data == data) return true;
    return false;
  };
  for (const int index : {mpi_halo_index, cell_size_x_index, cell_size_y_index}) {
    if (index <= 0 || !(*grids)[index].ReleasableAfterSetup()) continue;
    double** data = (*grids)[index].data;
    if (borrowed(index, data) || !free_owned(data)) continue;
    grids->MarkReleased(index);
    if (cell_size_x == data) cell_size_x = nullptr;
    if (cell_size_y == data) cell_size_y = nullptr;
  }
}

// ---------------------------------------------------------------- cell sizes

void defaultini::FindCellWeights() {
  const int index = FindGrid("RelCellArea", false);
  cell_weights = index > 0 ? (*grids)[index].data : nullptr;
}

void defaultini::MakeCellSizes() {
  const std::string zone_file = (*grids)[1].file_name;
  auto given_or_computed = [&](const char* grid_name, const char* suffix, int& index, double**& data,
                               bool& given) {
    index = FindGridWithData(*this, grid_name);
    given = index > 0;
    if (!given)
      index = RegisterComputedGrid(grid_name, DerivedFileName(zone_file, suffix), derived_grids, kNoFreeGrid,
                                   ")");
    data = (*grids)[index].data;
  };
  given_or_computed("CellSizeX", kCellSizeXSuffix, cell_size_x_index, cell_size_x, cell_size_x_given);
  given_or_computed("CellSizeY", kCellSizeYSuffix, cell_size_y_index, cell_size_y, cell_size_y_given);
  rel_cell_area_given = cell_weights != nullptr;
  if (rel_cell_area_given) {
    rel_cell_area = cell_weights;
    rel_cell_area_index = FindGridWithData(*this, "RelCellArea");
  } else {
    rel_cell_area_index = RegisterComputedGrid("RelCellArea", DerivedFileName(zone_file, kRelCellAreaSuffix),
                                               derived_grids, kNoFreeGrid, ")");
    rel_cell_area = (*grids)[rel_cell_area_index].data;
  }
  *messages << "Checking cell sizes for variable Cells..."
            << "[end-entry]";

  auto file_of = [&](int index) { return index > 0 ? (*grids)[index].file_name : std::string(); };
  double** zone = (*grids)[1].data;
  const double c = cellsize;
  for (int r = 1; r <= nrows; ++r) {
    const double* zone_row = zone[r];
    double* x_row = cell_size_x[r];
    double* y_row = cell_size_y[r];
    double* area_row = rel_cell_area[r];
    for (int k = 1; k <= ncols; ++k) {
      if (zone_row[k] == nodata_value) {
        x_row[k] = y_row[k] = area_row[k] = nodata_value;
        continue;
      }
      cell_sizes cell{x_row[k], y_row[k], area_row[k]};
      switch (CompleteCellSizes(cell, cell_size_x_given, cell_size_y_given, rel_cell_area_given, c)) {
        case cell_size_fault::none:
          break;
        case cell_size_fault::zero_x:
          *messages << "FATAL: cell size in x direction is zero at row " << r << ", column " << k
                    << ",\nread from file " << file_of(cell_size_x_index) << "\n"
                    << "[end-entry]";
          throw ErrorCode{kCellSizeErrorCode};
        case cell_size_fault::zero_y:
          *messages << "FATAL: cell size in y direction is zero at row " << r << ", column " << k
                    << ",\nread from file " << file_of(cell_size_y_index) << "[end-entry]";
          throw ErrorCode{kCellSizeErrorCode};
        case cell_size_fault::inconsistent_area:
          *messages << "FATAL: Cell size Y (" << cell.y << ", from " << file_of(cell_size_y_index)
                    << ") times\ncell size X (" << cell.x << ", from " << file_of(cell_size_x_index)
                    << ") \ndivided by the mean cell area is " << cell.y * cell.x / (c * c)
                    << " and differs from \nthe relative grid cell size " << cell.relative_area << " (from "
                    << file_of(rel_cell_area_index) << ") by more than 0.001%%\n"
                    << "[end-entry]";
          throw ErrorCode{kCellSizeErrorCode};
      }
      x_row[k] = cell.x;
      y_row[k] = cell.y;
      area_row[k] = cell.relative_area;
    }
  }
  if (!rel_cell_area_given) WriteGridOnce(rel_cell_area_index);
  if (!cell_size_x_given) WriteGridOnce(cell_size_x_index);
  if (!cell_size_y_given) WriteGridOnce(cell_size_y_index);
}

// ---------------------------------------------------------------- coordinates

void defaultini::MakeCoordinates() {
  const std::string zone_file = (*grids)[1].file_name;
  coord_x_index = RegisterComputedGrid("CoordX", DerivedFileName(zone_file, kCoordXSuffix), derived_grids,
                                       kNoFreeGrid, ")");
  coord_x = (*grids)[coord_x_index].data;
  coord_y_index = RegisterComputedGrid("CoordY", DerivedFileName(zone_file, kCoordYSuffix), derived_grids,
                                       kNoFreeGrid, ")");
  coord_y = (*grids)[coord_y_index].data;

  // Lower-left corners follow the cell sizes; a cell without a size (outside
  // the catchment, or no size grids) counts as a regular cell.
  const double c = cellsize;
  auto size_or_regular = [&](double** sizes, int r, int k) {
    return sizes && sizes[r][k] > nodata_value ? sizes[r][k] : c;
  };
  for (int r = 1; r <= nrows; ++r) {
    double* x_row = coord_x[r];
    x_row[1] = xllcorner;
    for (int k = 2; k <= ncols; ++k) x_row[k] = x_row[k - 1] + size_or_regular(cell_size_x, r, k - 1);
  }
  for (int k = 1; k <= ncols; ++k) coord_y[nrows][k] = yllcorner;
  for (int r = nrows - 1; r >= 1; --r) {
    for (int k = 1; k <= ncols; ++k)
      coord_y[r][k] = coord_y[r + 1][k] + size_or_regular(cell_size_y, r + 1, k);
  }

  double** zone = (*grids)[1].data;
  for (int r = 1; r <= nrows; ++r) {
    for (int k = 1; k <= ncols; ++k) {
      if (zone[r][k] == nodata_value) coord_x[r][k] = coord_y[r][k] = nodata_value;
    }
  }
  WriteGridOnce(coord_x_index);
  WriteGridOnce(coord_y_index);
}

// ---------------------------------------------------------------- maximum

double defaultini::GridMaximum(int index) {
  double maximum = nodata_value;
  if (!grids || index < 1 || index >= kGridTableLimit) return maximum;
  double** grid = (*grids)[index].data;
  if (!grid) return maximum;
  for (int r = first_row; r <= last_row; ++r) {
    const row_range columns = ColumnsOf(row_ranges, r, ncols);
    const double* row = grid[r];
    for (int k = columns.first; k <= columns.last; ++k) {
      if (row[k] > maximum) maximum = row[k];
    }
  }
  return maximum;
}

// ---------------------------------------------------------------- soil grids

void defaultini::make_nFK_kWert_and_Na() {
  const int soil_index = FindGridWithData(*this, kSoilTypesName);
  if (soil_index == 0) return;
  double** soil = (*grids)[soil_index].data;
  const std::string soil_file = (*grids)[soil_index].file_name;
  double** zone = (*grids)[1].data;
  const int record_count = soil_table.empty() ? 0 : static_cast<int>(soil_table.size()) - 1;

  // The code check has replaced soil codes by table positions; a value that
  // names no record (a fractional code is not replaced) must not be used.
  auto record_at = [&](int r, int k) -> const soil_table_entry& {
    const double value = soil[r][k];
    if (!(value >= 1.0 && value < record_count + 1.0)) {
      *messages << "FATAL: soil type " << value << " at row " << r << ", column " << k << " in grid "
                << soil_file << " (" << kSoilTypesName << ") names no record of the soil table\n"
                << "[end-entry]";
      throw ErrorCode{kInvalidSoilPositionCode};
    }
    return soil_table[static_cast<size_t>(value)];
  };

  // Fills one computed grid over the row ranges (cells outside keep 0) and
  // writes it; a grid that was read is taken as it is.
  auto derive = [&](const char* grid_name, const char* suffix, const char* no_free_message,
                    const char* no_free_end, double**& member, auto&& cell_value) {
    int index = FindGridWithData(*this, grid_name);
    if (index > 0) {
      member = (*grids)[index].data;
      return;
    }
    index = RegisterComputedGrid(grid_name, DerivedFileName(soil_file, suffix), derived_grids,
                                 no_free_message, no_free_end);
    member = (*grids)[index].data;
    for (int r = 1; r <= nrows; ++r) {
      const row_range columns = ColumnsOf(row_ranges, r, ncols);
      double* target = member[r];
      for (int k = columns.first; k <= columns.last; ++k) target[k] = cell_value(r, k);
    }
    WriteGridOnce(index);
  };

  // The root depth is needed only when the soil moisture is computed.
  double** root_depth = nullptr;
  if (FindGridWithData(*this, "available_soil_moisture") == 0) root_depth = RequiredGridData(kRootDepthName);
  derive("available_soil_moisture", kSoilMoistureSuffix, kNoFreeGrid, "", available_soil_moisture,
         [&](int r, int k) {
           return zone[r][k] > nodata_value ? record_at(r, k).CapacityPerMetre() * root_depth[r][k]
                                            : nodata_value;
         });
  derive("hydraulic_conductivity", kConductivitySuffix, kNoFreeGridTypo, ")", hydraulic_conductivity,
         [&](int r, int k) {
           return zone[r][k] != nodata_value ? record_at(r, k).ksat_topmodel : nodata_value;
         });
  derive("fillable_porosity", kPorositySuffix, kNoFreeGridTypo, ")", fillable_porosity, [&](int r, int k) {
    return zone[r][k] != nodata_value ? record_at(r, k).mSB * kPercentToFraction : nodata_value;
  });
}

// ---------------------------------------------------------------- slope and aspect

void defaultini::NeighbourMean(int row, int col, double** grid) {
  double mean = 0.0;
  if (NeighbourMeanOf(grid, row, col, nrows, ncols, nodata_value, mean)) grid[row][col] = mean;
}

void defaultini::make_Slope_and_Aspect() {
  const int elevation_index = FindGridWithData(*this, kElevationGridName);
  if (elevation_index == 0) return;
  double** z = (*grids)[elevation_index].data;
  const std::string elevation_file = (*grids)[elevation_index].file_name;

  slope_index = FindGridWithData(*this, "slope_angle");
  aspect_index = FindGridWithData(*this, "slope_aspect");
  const bool slope_computed = slope_index == 0;
  const bool aspect_computed = aspect_index == 0;
  if (slope_computed)
    slope_index = RegisterComputedGrid("slope_angle", DerivedFileName(elevation_file, kSlopeSuffix),
                                       derived_grids, kNoFreeGridTypo, ")");
  if (aspect_computed)
    aspect_index = RegisterComputedGrid("slope_aspect", DerivedFileName(elevation_file, kAspectSuffix),
                                        derived_grids, kNoFreeGridLeft, ")\n");
  slope_angle = (*grids)[slope_index].data;
  slope_aspect = (*grids)[aspect_index].data;
  if (!slope_computed && !aspect_computed) return;
  *messages << "calculating the lokal topography (aspect, slope ...).. "
            << "[end-entry]";

  // Only the computed grids are written to.
  double** slope = slope_computed ? slope_angle : nullptr;
  double** aspect = aspect_computed ? slope_aspect : nullptr;
  auto set = [&](int r, int k, const slope_and_aspect& value) {
    if (slope) slope[r][k] = value.slope;
    if (aspect) aspect[r][k] = value.aspect;
  };
  const slope_and_aspect missing{nodata_value, nodata_value};
  for (int k = 1; k <= ncols; ++k) {
    set(1, k, missing);
    set(nrows, k, missing);
  }
  for (int r = 2; r <= nrows - 1; ++r) {
    set(r, 1, missing);
    set(r, ncols, missing);
    for (int k = 2; k <= ncols - 1; ++k) {
      const double north = z[r - 1][k];
      const double south = z[r + 1][k];
      const double west = z[r][k - 1];
      const double east = z[r][k + 1];
      if (north == nodata_value || south == nodata_value || west == nodata_value || east == nodata_value) {
        set(r, k, missing);
      } else {
        set(r, k, SlopeAndAspect(north, south, west, east, cellsize));
      }
    }
  }

  // Cells of the elevation model without all four neighbours (the border
  // included) take the mean of their neighbours; cells filled earlier in a
  // pass count for later ones.
  constexpr int kFillPasses = 2;
  for (int pass = 0; pass < kFillPasses; ++pass) {
    for (int r = 1; r <= nrows; ++r) {
      for (int k = 1; k <= ncols; ++k) {
        if (z[r][k] == nodata_value) continue;
        if (aspect && aspect[r][k] == nodata_value) NeighbourMean(r, k, aspect);
        if (slope && slope[r][k] == nodata_value) NeighbourMean(r, k, slope);
      }
    }
  }
  if (aspect_computed) WriteGridOnce(aspect_index);
  if (slope_computed) WriteGridOnce(slope_index);
}

// ---------------------------------------------------------------- ice and firn

void defaultini::check_ice_firn_grid() {
  const int first_free = grids->FirstFreeEntry();
  for (int index = 1; index < first_free; ++index) {
    if ((*grids)[index].name == kIceFirnName) return;
  }
  *messages << "INFO: ice-grid not found in memory (at position " << first_free << ")"
            << "[end-entry]";
}

}  // namespace velmo
