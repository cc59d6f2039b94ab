// Per-cell formulas of the grids the set-up object derives from its input
// grids: file names beside the source grid, cell sizes, slope and aspect,
// and the neighbour mean that fills cells at the grid border.
#pragma once

#include <string>
#include <vector>

#include "framework/types.h"

namespace velmo {

class grid_table;
class MessageStream;
class modelobject;
class owned_matrix;

// Degrees per radian of slope and aspect; this rounded value, not 180/pi,
// keeps the slope grids as they have always been computed.
inline constexpr double kSlopeDegreesPerRadian = 57.29577951307855;
// Largest relative difference between a given relative cell area and the
// one its given cell sizes imply.
inline constexpr double kRelativeAreaTolerance = 0.00001;

// Start of the message when no table entry is free for a computed grid; the
// position and the closing text follow.
inline constexpr const char* kNoFreeGrid = "FATAL: no free grid found in memory (at position ";

// Suffixes of the derived grid files.
inline constexpr const char* kCellSizeXSuffix = ".intern.csx";
inline constexpr const char* kCellSizeYSuffix = ".intern.csy";
inline constexpr const char* kRelCellAreaSuffix = ".intern.rca";
inline constexpr const char* kCoordXSuffix = ".intern.cx";
inline constexpr const char* kCoordYSuffix = ".intern.cy";
inline constexpr const char* kSoilMoistureSuffix = ".intern.fk";
inline constexpr const char* kConductivitySuffix = ".intern.k";
inline constexpr const char* kPorositySuffix = ".intern.na";
inline constexpr const char* kSlopeSuffix = ".intern.sl";
inline constexpr const char* kAspectSuffix = ".intern.ex";

// `source_file` up to, not including, the last "." of its file part, then
// `suffix`; a file part without "." keeps its whole name. A "." in a
// directory ("/" or "\" separate directories) never cuts the name.
std::string DerivedFileName(const std::string& source_file, const std::string& suffix);

// Width, height and area relative to cellsize² of one cell.
struct cell_sizes {
  double x = 0.0;
  double y = 0.0;
  double relative_area = 0.0;
};

enum class cell_size_fault { none, zero_x, zero_y, inconsistent_area };

// Completes the values of one valid cell from those that were given (read
// from grids). `cellsize` is the model's cell size. With only one of the two
// sizes given and no relative area, the other size is the regular one and the
// relative area follows from both. A fault leaves `cell` partly completed.
cell_size_fault CompleteCellSizes(cell_sizes& cell, bool x_given, bool y_given, bool area_given,
                                  double cellsize);

// Slope (degrees) and aspect (degrees clockwise from north, the downslope
// direction) of a cell from its four neighbours' elevations; `cellsize` in
// the elevations' unit. A flat cell has slope 0 and aspect 0.
struct slope_and_aspect {
  double slope = 0.0;
  double aspect = 0.0;
};
slope_and_aspect SlopeAndAspect(double north, double south, double west, double east, double cellsize);

// Mean of the neighbours of cell (row, col) among its eight that lie in rows
// 1..nrows and columns 1..ncols and are not `nodata`. Returns false when no
// neighbour counts (`mean` is then unchanged).
bool NeighbourMeanOf(double** grid, int row, int col, int nrows, int ncols, double nodata, double& mean);

// ---- grid-table helpers of the set-up object's derived grids

// First free entry of `grids`. With none below the limit (or no table),
// `no_free_message` + the limit + `no_free_end` is fatal with `code`.
int FreeEntryOrRaise(const grid_table* grids, MessageStream* messages, const char* no_free_message,
                     const char* no_free_end, int code);
// Index of a grid of that name that holds data, or 0.
int FindGridWithData(modelobject& object, const std::string& grid_name);
// Columns of `row` a cell loop visits: the row's range, or the whole row when
// there are no row ranges yet.
inline row_range ColumnsOf(const row_range* ranges, int row, int ncols) {
  return ranges ? ranges[row] : row_range{1, ncols};
}
// Takes the data of `owned` out of every table entry that holds it, then
// frees the matrices.
void DetachAndFree(grid_table* grids, std::vector<owned_matrix>& owned);

}  // namespace velmo
