// Point time series ("[special_output]"): the values of chosen grids at
// chosen map coordinates, one row per model step, in text files.
//
//   [special_output]
//   1       flow control parameter (0: off)
//   60      time interval in minutes
//   numfiles = 1;
//   file {
//     filename = points.txt;     relative names go to the output directory
//     header = text;             the file's second line (one word)
//     entity {
//       ID = [elevation_model];  name of the grid to sample
//       Symbol = elev;           label in the headers
//       Xcoords = 681250 682250; map coordinates of the points
//       Ycoords = 241750 240250;
//       Level = 1 2;             optional: layer of a stacked grid per point
//     }
//   }
//
// Each file has two header lines naming every point by symbol/column/row
// and symbol/x/y (with "/level" for points with levels), the header text
// between them, and a row "YY MM DD HH [mm] values..." per step; the minute
// column appears when the run's step is shorter than an hour.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework/zonalstat.h"
#include "setup/teilmod.h"

namespace velmo {

// Codes of the special output.
inline constexpr int kCoordinateCountMismatchCode = 1006;  // X and Y lists differ in length
// Level list of the wrong length, or a file that cannot be created.
inline constexpr int kSpecialOutputFileCode = 1007;
inline constexpr int kPointOutsideGridCode = 1008;
// The section cannot be read (a missing key, a block that does not end).
inline constexpr int kSpecialOutputSectionCode = 104;
// Rows cannot be appended to their file.
inline constexpr int kSpecialOutputWriteCode = 65;
// Bytes of the row buffer of each file, as for the statistics tables.
inline constexpr long kSpecialOutputBufferBytes = kRowBufferBytes;
// Value of a point that has none this step.
inline constexpr double kNoPointValue = -9999.0;

// Grid column of the map x coordinate, ceil((x - xllcorner) / cellsize);
// 0 when it lies outside columns 1..ncols.
int PointColumn(double x, double xllcorner, double cellsize, int ncols);
// Grid row of the map y coordinate, nrows - floor((y - yllcorner) /
// cellsize); 0 when it lies outside rows 1..nrows.
int PointRow(double y, double yllcorner, double cellsize, int nrows);
// Rows a file buffers: 2 MB over the bytes of one row, at least 1.
int SpecialOutputRowCapacity(int point_count);
// The count of "numfiles = n;" on `line`; false, with the value as written
// in `value`, when it is not one whole number of 0 or more.
bool ReadFileCount(const std::string& line, int& count, std::string& value);

class SpecialOutputClass;
class section_reader;

// One "entity" block: points on one grid.
class SpecialOutputEntity {
 public:
  // Reads the block's keys and places the points on the domain of `owner`;
  // throws 104 (missing ID or Symbol), 1006, 1007 or 1008 after its entry.
  SpecialOutputEntity(const std::string& block, SpecialOutputClass& owner);
  // Writes the value of every point at values[position], values[position
  // + 1], ...; returns the next free position.
  int CollectValues(double* values, int position) const;

  std::string id;
  std::string symbol;
  int grid_index = 0;  // 0: no grid of that name
  std::vector<double> x_coords;
  std::vector<double> y_coords;
  std::vector<int> levels;  // empty, or one per point
  std::vector<int> columns;
  std::vector<int> rows;
  int point_count = 0;

 private:
  const SpecialOutputClass& owner_;
};

// One output file with its buffered rows.
class SpecialOutputFile {
 public:
  // Reads the block of one file, its entities, and creates the file with
  // its three header lines (1007 when it cannot be created).
  SpecialOutputFile(const std::string& block, int file_number, SpecialOutputClass& owner);
  // Adds the row of one step; a full buffer is written out.
  void RecordStep(int minute, int hour, int day, int month, int year);
  // Appends the buffered rows to the file (65 when that fails).
  void WriteRows();
  // Writes what is left and frees the point sets and rows.
  void Release();

  std::string header;
  std::string file_name;
  std::vector<SpecialOutputEntity> point_sets;
  int point_count = 0;
  int row_capacity = 0;
  int row_count = 0;

 private:
  void WriteHeader();
  SpecialOutputClass& owner_;
  std::vector<std::array<long, 5>> dates_;  // year, month, day, hour, minute of each row
  std::vector<double> values_;              // row_capacity x point_count
};

class SpecialOutputClass : public teilmodellklasse {
 public:
  // Reads "[special_output]" (optional: without it, or with flow control
  // 0, the module is off) and creates the files. Failures throw their code;
  // the application turns any other exception into 104.
  SpecialOutputClass(MessageStream* stream, const model_settings& settings, grid_table* shared_grids);

  // Samples every file's points for the step of the date.
  void RecordStep(int minute, int hour, int day, int month, int year);
  // Writes the buffered rows of every file.
  void FlushAll();
  // Releases every file (writing what is left), then the model object.
  void CleanUp() override;

  std::vector<std::unique_ptr<SpecialOutputFile>> output_files;
  int file_count = 0;
  // The run's step is shorter than an hour: rows carry the minute.
  bool with_minutes = false;

 private:
  void ReadFiles(section_reader& in);
};

}  // namespace velmo
