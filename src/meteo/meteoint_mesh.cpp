// The interpolator's station meshes: spacing, the corner stations of every
// cell for the bilinear methods, the mesh columns and splines of the spline
// methods, and their values per record.
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "meteo/meteoint.h"

namespace velmo {
namespace {

constexpr const char* kRegionsName = "MPIRegions";
// Region of the cells this process computes.
constexpr double kOwnRegion = 0.0;
// Scale of the spline lattice: one lattice step per cell.
constexpr double kLatticeScale = 1.0;

}  // namespace

void meteointerpol::ComputeStationSpacing(int index) {
  *messages << "calculating average horizontal and vertical distance to the next station..."
            << "[end-entry]";
  const station_file& file = files[static_cast<size_t>(index)];
  spacing = velmo::ComputeStationSpacing({file.rotated_x.data(), file.rotated_y.data(), file.count});
  *messages << "avg. horizontal distance: " << spacing.horizontal << " m"
            << "[end-entry]";
  *messages << "avg. vertical   distance: " << spacing.vertical << " m"
            << "[end-entry]";
}

void meteointerpol::ChooseLookupStations(int file_count) {
  if (!mpi_regions_data) {
    mpi_regions_data = OptionalGridData(kRegionsName, true);
  }
  *messages << "choosing look-up-stations...";
  // The station files of one interpolator hold the same stations, so one
  // table of corners serves them all.
  const station_file& file = files[0];
  corners = std::make_unique<corner_lookup>(
      station_xy{file.rotated_x.data(), file.rotated_y.data(), file.count}, spacing);
  corner_keys.assign(static_cast<size_t>(last_row - first_row + 1) * static_cast<size_t>(ncols), 0);
  for (int r = first_row; r <= last_row; ++r) {
    for (int c = row_ranges[r].first; c <= row_ranges[r].last; ++c) {
      if (zone_grid[r][c] == nodata_value || (mpi_regions_data && mpi_regions_data[r][c] != kOwnRegion))
        continue;
      corner_keys[static_cast<size_t>(r - first_row) * static_cast<size_t>(ncols) +
                  static_cast<size_t>(c - 1)] = corners->KeyAt(weighting_x[r][c], weighting_y[r][c]);
    }
    *messages << ".";
  }
  *messages << "[end-entry]";
  for (int j = 0; j < file_count; ++j)
    squares[static_cast<size_t>(j)].assign(static_cast<size_t>(corners->KeyCount()), {});
}

int meteointerpol::CornerKey(int row, int col) const {
  if (!corners || row < first_row || row > last_row || col < 1 || col > ncols) return 0;
  return corner_keys[static_cast<size_t>(row - first_row) * static_cast<size_t>(ncols) +
                     static_cast<size_t>(col - 1)];
}

void meteointerpol::BuildSplineMesh(int index) {
  const station_file& file = files[static_cast<size_t>(index)];
  if (!velmo::BuildSplineMesh({file.rotated_x.data(), file.rotated_y.data(), file.count}, spacing,
                              spline_mesh))
    RaiseFatal(
        messages,
        "FATAL: Error converting the station coordinates into a grid:\nThe actual version of Velmo-ORB "
        "accepts only station meshs\nwith an equal number of more or less equally spaced stations\nin each "
        "column, whereas the total number of both, rows \nand columns, are each virtually unlimited\n",
        kUnevenMeshCode);
  const int rows = spline_mesh.rows;
  const int cols = spline_mesh.cols;
  auto mesh_matrix = [&] { return owned_matrix(matrix(1, rows, 1, cols, rows)); };
  mesh_x = mesh_matrix();
  mesh_y = mesh_matrix();
  mesh_values = mesh_matrix();
  mesh_y2 = mesh_matrix();
  for (int r = 1; r <= rows; ++r) {
    for (int c = 1; c <= cols; ++c) {
      const int station = spline_mesh.station(r, c);
      mesh_x[r][c] = file.rotated_x[static_cast<size_t>(station)];
      mesh_y[r][c] = file.rotated_y[static_cast<size_t>(station)];
    }
  }
  if (section.method == kSplineGradientMethod)
    second_spline_grid = owned_matrix(matrix(first_row, last_row, 1, ncols, 0));
  const grid_header domain{ncols, nrows, xllcorner, yllcorner, cellsize, nodata_value};
  splines = std::make_unique<TSplines>(messages, mesh_x.get(), mesh_y.get(), weighting_x, weighting_y, rows,
                                       cols, mesh_x[rows][1], mesh_y[rows][1], spacing.horizontal,
                                       spacing.vertical, kMeshMissing, domain, section.anisotropy_slope,
                                       kLatticeScale, zone_grid, first_row, last_row);
}

double meteointerpol::Bilinear(int index, int row, int col, double x, double y, double* scratch) {
  const int key = CornerKey(row, col);
  const station_file& file = files[static_cast<size_t>(index)];
  double value = 0.0;
  if (key > 0 && velmo::Bilinear({file.rotated_x.data(), file.rotated_y.data(), file.count},
                                 file.values.data(), section.nodata, corners->Corners(key), x, y, value))
    return value;
  return AnisotropicInverseDistance(index, x, y, scratch);
}

double meteointerpol::CellInverseDistance(int index, double x, double y) {
  const station_file& file = files[static_cast<size_t>(index)];
  if (section.anisotropy_ratio < 1.0)
    return velmo::AnisotropicInverseDistance(file.RotatedArrays(), x, y, section.anisotropy_ratio,
                                             weight_code, section.idw_weight, section.max_distance,
                                             section.nodata);
  return velmo::InverseDistance(file.Arrays(), x, y, weight_code, section.idw_weight, section.max_distance,
                                section.nodata);
}

void meteointerpol::WeightingPoint(int row, int col, double& x, double& y) const {
  if (row >= first_row && row <= last_row && col >= row_ranges[row].first && col <= row_ranges[row].last &&
      weighting_x[row][col] != nodata_value) {
    x = weighting_x[row][col];
    y = weighting_y[row][col];
    return;
  }
  // The cell's corner as the set-up object places it.
  const double gx = xllcorner + (col - 1) * cellsize;
  const double gy = yllcorner + (nrows - row) * cellsize;
  if (section.anisotropy_ratio < 1.0) {
    RotatePoint(gx, gy, xllcorner, yllcorner, section.anisotropy_slope, x, y);
  } else {
    x = gx;
    y = gy;
  }
}

void meteointerpol::PrepareSquares() {
  for (size_t j = 0; j < files.size() && j < squares.size(); ++j) {
    const station_file& file = files[j];
    const station_xy xy{file.rotated_x.data(), file.rotated_y.data(), file.count};
    std::vector<bilinear_square>& file_squares = squares[j];
    for (size_t key = 0; key < file_squares.size(); ++key)
      file_squares[key] =
          PrepareSquare(xy, file.values.data(), section.nodata, corners->Corners(static_cast<int>(key)));
  }
}

void meteointerpol::FillMeshValues(int index) {
  const station_file& file = files[static_cast<size_t>(index)];
  for (int r = 1; r <= spline_mesh.rows; ++r) {
    for (int c = 1; c <= spline_mesh.cols; ++c) {
      const double v = file.values[static_cast<size_t>(spline_mesh.station(r, c))];
      // Whatever N is, the splines know one missing marker.
      mesh_values[r][c] = IsValidValue(v, section.nodata) ? v : kMeshMissing;
    }
  }
}

void meteointerpol::RunSplines() {
  FillMeshValues(0);
  splines->PrepareColumns(mesh_values.get(), mesh_y2.get());
  splines->Interpolate(mesh_values.get(), mesh_y2.get(), result.get());
  if (section.method != kSplineGradientMethod) return;
  FillMeshValues(1);
  splines->PrepareColumns(mesh_values.get(), mesh_y2.get());
  splines->Interpolate(mesh_values.get(), mesh_y2.get(), second_spline_grid.get());
}

}  // namespace velmo
