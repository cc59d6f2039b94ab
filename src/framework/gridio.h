// Grid and stack file formats, and the pure pieces of grid input and output:
// format detection, little-endian value coding, number parsing, bilinear
// resampling and hole filling. The file operations themselves are members of
// modelobject (gridread.cpp, gridwrite.cpp).
//
// ASCII header grid: six lines "<word> <number>" in the order ncols, nrows,
// xllcorner, yllcorner, cellsize, nodata_value (the words are not checked),
// then nrows rows of ncols numbers, northernmost row first, west to east.
// Written as "ncols\t%d\n...nodata_value\t%lf\n" and rows of "%g" values
// separated by tabs.
//
// Binary grid: twelve little-endian doubles (or floats) ncols, nrows,
// xllcorner, yllcorner, cellsize, nodata (exactly -9999), count, minimum,
// maximum, sum, mean, standard deviation of the valid cells, then the values
// in the same precision, northernmost row first. No signature: a file is a
// double grid when its sixth double is -9999, else a single grid when its
// sixth float is.
//
// Stacks: the same twelve header values with numlevels as the twelfth (ASCII:
// "stack_ncols\t%lf\n...numlevels\t%lf\n", then one "%lg" value per line),
// then for each row and column the values of levels 0..numlevels together.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/general_format.h"

namespace velmo {

class MessageStream;

// Codes of the grid and stack file operations.
inline constexpr int kGridOpenErrorCode = 21;
inline constexpr int kGridReadErrorCode = 22;
inline constexpr int kGridCloseErrorCode = 23;
inline constexpr int kStackMeasuresErrorCode = 24;
inline constexpr int kTooBigHoleErrorCode = 25;
inline constexpr int kGridCreateErrorCode = 26;
inline constexpr int kWrittenFileCloseErrorCode = 27;
inline constexpr int kModelLogErrorCode = 5;

// Nodata value that binary grids and stacks must carry.
inline constexpr double kBinaryNodata = -9999.0;
// Resampling takes every value at or below this as missing and gives it to
// cells it cannot compute.
inline constexpr double kResampleMissing = -9999.0;
inline constexpr int kBinaryHeaderValues = 12;
inline constexpr size_t kDoubleHeaderBytes = kBinaryHeaderValues * sizeof(double);
// Values of an ASCII grid header: ncols, nrows, xllcorner, yllcorner,
// cellsize, nodata_value.
inline constexpr size_t kAsciiHeaderItems = 6;
// Header values 7..12 (indices 6..11) hold the statistics of a binary grid.
inline constexpr int kBinaryStatisticsIndex = 6;
inline constexpr int kBinaryStatisticsCount = 6;
// Index of numlevels in a stack header.
inline constexpr int kStackLevelsIndex = 11;
// Attempts to open a grid file after the first one failed.
inline constexpr int kGridOpenRetries = 5;
// Largest ring searched for a value to fill a hole with.
inline constexpr int kHoleSearchRadius = 10;
// Largest number of columns or rows a grid file may declare.
inline constexpr double kMaxGridDimension = 1.0e7;

enum class GridFileFormat { kUnknown, kNetcdf, kAscii, kBinaryDouble, kBinarySingle, kGif };
enum class StackFileFormat { kUnknown, kShort, kNetcdf, kAscii, kBinaryDouble, kBinarySingle };

// Format of a grid file from its first (up to 96) bytes.
GridFileFormat DetectGridFormat(std::span<const unsigned char> head);
// Format of a stack file from its first (up to 96) bytes; kShort when the
// file is too short for a binary header.
StackFileFormat DetectStackFormat(std::span<const unsigned char> head);

// --- little-endian values, whatever the host
template <typename T>
T LoadLittleEndian(const unsigned char* bytes) {
  using U = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
  U bits = 0;
  for (size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<U>(bytes[i]) << (8 * i);
  return std::bit_cast<T>(bits);
}
template <typename T>
void StoreLittleEndian(T value, unsigned char* bytes) {
  using U = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;
  const U bits = std::bit_cast<U>(value);
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// Reads `count` little-endian values of type T (float or double) into
// `target` as doubles. Returns false on a short read.
template <typename T>
bool ReadLittleEndianValues(std::FILE* file, double* target, size_t count,
                            std::vector<unsigned char>& scratch);
// Writes `count` doubles as little-endian values of type T.
template <typename T>
bool WriteLittleEndianValues(std::FILE* file, const double* values, size_t count,
                             std::vector<unsigned char>& scratch);

// Parses a whole token as a finite number ("+" allowed in front). A token
// with trailing characters, "nan" or "inf" is no number.
bool ParseGridNumber(std::string_view token, double& value);

// A header value the grid readers take: a size of 1 .. kMaxGridDimension
// cells, or a positive cell size.
bool PlausibleDimension(double value);
bool PlausibleCellsize(double value);

// A file that is closed when it goes (unchecked: only on a failure path);
// a regular end closes it with Close() and checks the result.
class GridFile {
 public:
  explicit GridFile(std::FILE* file = nullptr) : file_(file) {}
  ~GridFile() {
    if (file_) std::fclose(file_);
  }
  GridFile(const GridFile&) = delete;
  GridFile& operator=(const GridFile&) = delete;
  std::FILE* get() const { return file_; }
  explicit operator bool() const { return file_ != nullptr; }
  // Closes the file; false when the close failed.
  bool Close() {
    std::FILE* file = file_;
    file_ = nullptr;
    return file && std::fclose(file) == 0;
  }

 private:
  std::FILE* file_;
};

// Size of an open file in bytes, or -1.
long long FileSize(std::FILE* file);

// Whitespace-delimited tokens of a file read in large blocks, for grids of
// millions of values.
class TokenScanner {
 public:
  explicit TokenScanner(std::FILE* file, size_t block_bytes = 1 << 20);
  // The next token; false at the end of the file. The view stays valid until
  // the next call.
  bool Next(std::string_view& token);
  // Parses the next token as a number (as ParseGridNumber) without copying
  // it; false at the end of the file. `is_number` tells whether the token was
  // one; the token is consumed either way.
  bool NextNumber(double& value, bool& is_number);

 private:
  // Bytes kept ahead of the read position so that a number is never cut by
  // the end of a block.
  static constexpr size_t kLookahead = 256;
  bool Refill();
  std::FILE* file_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool at_eof_ = false;
};

// Reads one "keyword value" pair of an ASCII header per element of `values`;
// returns 0, or the number (from 1) of the first pair that is missing or
// whose value is no number.
int ReadHeaderPairs(TokenScanner& scanner, std::span<double> values);
// The pairs of an ASCII grid header (ncols .. nodata_value) into header[0..5].
inline int ReadAsciiHeaderItems(TokenScanner& scanner, std::array<double, kBinaryHeaderValues>& header) {
  return ReadHeaderPairs(scanner, std::span(header).first(kAsciiHeaderItems));
}

// Fills every cell of the target raster by bilinear interpolation between the
// four nearest source cell centres, sampled at the target cell's lower-left
// corner; beyond the outermost centres the border values are extended. A
// missing neighbour (at or below -9999) gives -9999; where a mask is given and
// holds a value at or below -9999 the target takes that value. Matrices are
// [row][col] from 1, row 1 northernmost; the lower bounds are not used.
void ResampleBilinear(double** source, int source_col_lo, int source_ncols, int source_row_lo,
                      int source_nrows, double source_xllcorner, double source_yllcorner,
                      double source_cellsize, double** target, int target_col_lo, int target_ncols,
                      int target_row_lo, int target_nrows, double target_xllcorner, double target_yllcorner,
                      double target_cellsize, double** mask);

// Fills every target cell with the value of the source cell that holds the
// target cell's lower-left corner (the point ResampleBilinear samples); a
// point on a cell boundary belongs to the cell east or north of it, and
// points beyond the source take the nearest border cell. Missing values and
// the mask work as for ResampleBilinear. For grids of codes, which must not
// be blended.
void ResampleHoldingCell(double** source, int source_ncols, int source_nrows, double source_xllcorner,
                         double source_yllcorner, double source_cellsize, double** target, int target_ncols,
                         int target_nrows, double target_xllcorner, double target_yllcorner,
                         double target_cellsize, double** mask);

// One hole filled from a neighbouring cell.
struct hole_fill {
  int row = 0;
  int col = 0;
  double old_value = 0.0;
  double new_value = 0.0;
};

struct hole_fill_result {
  long hole_count = 0;
  std::vector<hole_fill> fills;  // fill mode 1 with reporting only, in cell order
  bool too_big = false;          // a hole without a value within the search radius
  int too_big_row = 0;
  int too_big_col = 0;
};

// Fills the holes of `grid` (nodata cells where `zone_grid` holds a zone),
// rows 1..nrows, columns 1..ncols. fill_mode 2 gives them default_value;
// fill_mode 1 with report_fills takes the first valid cell found in rings of
// growing size (each ring a triangle with its apex above the hole), without
// report_fills default_value. When a hole is found, cells outside the zone
// grid become nodata as well. Stops at a hole that cannot be filled
// (too_big); the grid is then left unchanged.
hole_fill_result FillHoles(double** grid, double** zone_grid, int nrows, int ncols, double nodata,
                           int fill_mode, double default_value, bool report_fills);

// The last `count` characters of `text` (all of it when shorter).
std::string LastCharacters(const std::string& text, size_t count);

}  // namespace velmo
