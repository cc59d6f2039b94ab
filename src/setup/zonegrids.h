// Zone grid, elevation model and standard grids: the pure pieces of reading
// their control-file sections and of ranking the zones. The file and
// grid-table work is done by defaultini (setup/zonegrids.cpp).
//
// "[standard_grids]" holds the number of grids, then one line per grid in
// one of two forms:
//   old: <file> <identifier> <fillcode> [comment with optional keys]
//   new: <file> <identifier> fillcode = <n> [further keys]
// Keys (whole words, first occurrence, any order, mixed with comment text;
// a key with no "=" anywhere after it is comment text); each value is a
// whole token after the first "=" following its key, and a ";" that ends a
// token ends the value: fillcode,
// readcode, defaultValue, writecode, outname, statfile, statcode,
// periodicity = <count> <unit> <offset>, and only with periodicity
// persistent = <0|1> <steps>.
#pragma once

#include <string>
#include <vector>

#include "framework/types.h"

namespace velmo {

inline constexpr const char* kZoneGridName = "[zone_grid]";
inline constexpr const char* kElevationModelName = "[elevation_model]";
inline constexpr const char* kStandardGridsSection = "[standard_grids]";

// Limits and codes of the zone ranking of the set-up object.
inline constexpr int kLargestZoneCode = 32767;
inline constexpr int kZoneLimit = 16000;
inline constexpr double kSquareMetresPerKm2 = 1.0e6;
inline constexpr int kInvalidZoneCodeError = 3;
inline constexpr int kTooManyZonesError = 4;
inline constexpr int kAllZonesNodataError = 7;

// Re-read state every standard grid starts with.
inline constexpr int kInitialLastUnitValue = 9999;

// One line of "[standard_grids]" as read.
struct standard_grid_definition {
  std::string file_name;
  std::string identifier;
  bool has_fillcode = false;
  int fillcode = 0;
  int readcode = 1;  // 1 or more: read the file; 0 or less: create the grid with default_value
  double default_value = 0.0;
  int write_code = 0;    // raw four-digit code
  std::string outname;   // empty: the file name
  std::string statfile;  // empty: no statistics
  int statcode = 0;
  bool periodic = false;
  int period_length = -1;
  std::string period_unit;
  int period_offset = -1;
  bool persistent = true;
  int persistence_steps = 0;
};

enum class grid_line_fault {
  none,
  missing_words,     // fewer than a file name and an identifier
  missing_fillcode,  // new form without the key fillcode
  bad_value,         // a value that cannot be read
};

// The key whose value cannot be read, and that value's token as written
// (empty when the value is missing).
struct grid_key_fault {
  std::string key;
  std::string token;
};

// Parses one standard grid line. On bad_value, `bad` names the key and token.
grid_line_fault ParseStandardGridLine(const std::string& line, standard_grid_definition& grid,
                                      grid_key_fault& bad);

// Zone table, code map and row ranges of a zone grid.
struct zone_grid_ranking {
  std::vector<zone_record> zones;  // 0..zone_count; record 0 holds the totals
  std::vector<int> code_map;       // 0..max_zone_code: index of the zone of each code, 0 for none
  std::vector<row_range> rows;     // 1..nrows (index 0 unused); {0, -1} for a row without valid cells
  int zone_count = 0;
  int max_zone_code = 0;
};

enum class zone_ranking_error { none, invalid_code, too_many_zones, no_valid_cell };

// Ranks the cells of `zones` (rows 1..nrows, columns 1..ncols) that are not
// `nodata_value`: the code of a cell is its value truncated toward zero and
// must lie in 0..kLargestZoneCode, with at most kZoneLimit distinct codes;
// zones are numbered 1.. in ascending order of code. Each zone counts its
// cells; record 0's area_fraction is the total area in km². On an error
// `result` is incomplete.
zone_ranking_error RankZoneGrid(double** zones, int nrows, int ncols, double nodata_value, double cellsize,
                                zone_grid_ranking& result);

// default_value wherever the zone grid holds a zone, nodata_value elsewhere:
// the grid of a standard grid that is not read from its file, or the one
// region of a catchment without a region grid.
void FillUnreadGrid(double** grid, double** zone_grid, int nrows, int ncols, double nodata_value,
                    double default_value);

}  // namespace velmo
