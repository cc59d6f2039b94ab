// The text formats of the interpolators' input: station files (four date
// labels, optionally "mm", the labels of additional columns, then one column
// per station; lines 2 to 4 hold altitude, x and y of every station, line 5
// their names, records follow) and the grid list of method 9 (the same
// layout with one column that names a grid file per record). Parsing only;
// the interpolator opens, positions and reads the files.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "framework/types.h"

namespace velmo {

class MessageStream;

// Codes of the input files.
inline constexpr int kInputFileOpenCode = 49;
inline constexpr int kInputFileCloseCode = 50;
inline constexpr int kStartDateMissingCode = 51;
inline constexpr int kStepDateCode = 52;
inline constexpr int kInputFilesDifferCode = 73;

// Record blocks: about this many bytes per station file, each record costing
// its values and the bookkeeping bytes below.
inline constexpr long kStationBlockBytes = 2097152;
inline constexpr long kStationRecordBytes = 28;
// Years below this get 1900 added.
inline constexpr int kTwoDigitYearLimit = 100;
inline constexpr int kTwoDigitYearBase = 1900;
// Header lines before the records: free text, altitudes, x, y, station names.
inline constexpr int kStationHeaderLines = 5;
// Grid name of a grid-list record that gives no new grid.
inline constexpr const char* kNoGridName = "-9999";

// Cells from the raster's corner within which a coordinate lies on its plane:
// its cell numbers fit an int.
inline constexpr double kRasterPlaneCells = 1e9;
inline bool OnRasterPlane(double coordinate, double corner, double cellsize) {
  return std::fabs((coordinate - corner) / cellsize) <= kRasterPlaneCells;
}

// Records per block of a file with `station_count` stations (at least 1).
int StationBlockCapacity(int station_count);

inline int ApplyYearRule(int year) { return year < kTwoDigitYearLimit ? year + kTwoDigitYearBase : year; }

// A station value after the missing-value rule: outside [-N, N] it becomes
// -N - 1.
inline double StationValue(double value, double nodata) {
  return (value < -nodata || value > nodata) ? -nodata - 1.0 : value;
}

// Splits a line into its blank- or tab-separated tokens.
std::vector<std::string_view> SplitStationLine(std::string_view line);

// Line 2 of a station file: whether the "mm" label switches the minute
// column on, and the number of stations (tokens after the labels).
struct station_columns {
  bool has_minutes = false;
  int count = 0;
};
station_columns ParseStationCountLine(std::string_view line, int additional_columns);

// Lines 2 to 4: the `count` numbers after the labels into values[1..count].
// Returns 0, or the number (from 1) of the first station without a number.
int ParseStationNumbers(std::string_view line, const station_columns& columns, int additional_columns,
                        double* values);

enum class record_status {
  kRecord,   // a dated record
  kEndMark,  // year, month and day 0: the data end here
  kBlank,    // no token: not a record
  kBadDate,  // a date field that is missing or no whole number, or no month or day
};

// The date of a record line (year rule applied) and, from `first_value_token`
// on, its tokens; `tokens` receives every token of the line.
record_status ParseRecordDate(std::string_view line, bool has_minutes, model_date& date,
                              std::vector<std::string_view>& tokens);
// Index of the first value token of a record.
inline int FirstValueToken(bool has_minutes, int additional_columns) {
  return 4 + (has_minutes ? 1 : 0) + additional_columns;
}

// What a record's value tokens held: their number (additional columns
// included) and the values that are no finite number as a whole.
struct record_values {
  int given = 0;
  int unreadable = 0;
  int first_unreadable = 0;  // token column of the line, from 1; 0 for none
};

// The value of token `at` (from 0): false when the line has no such token or
// when it is no finite number as a whole, which `seen` counts.
bool RecordValue(const std::vector<std::string_view>& tokens, size_t at, double& value, record_values& seen);

// A station record: its date and values[0..count-1] after the missing-value
// rule; a missing or unreadable value becomes -N - 1.
record_status ParseStationRecord(std::string_view line, bool has_minutes, int additional_columns, int count,
                                 double nodata, model_date& date, double* values,
                                 std::vector<std::string_view>& scratch, record_values& seen);

// Values of one file that were no finite number and were taken as missing:
// how many, and where the first one stands. The file gets one WARNING.
class unreadable_values {
 public:
  void Note(long long line, const record_values& seen) {
    if (seen.unreadable == 0) return;
    if (count_ == 0) {
      first_line_ = line;
      first_column_ = seen.first_unreadable;
    }
    count_ += seen.unreadable;
  }
  // The WARNING, once, if the file held any.
  void Report(MessageStream* messages, const std::string& file);

 private:
  long long count_ = 0;
  long long first_line_ = 0;
  int first_column_ = 0;
  bool reported_ = false;
};

// A grid-list record: its date and grid name (empty when the line has none).
record_status ParseGridListRecord(std::string_view line, bool has_minutes, int additional_columns,
                                  model_date& date, std::string& grid_name,
                                  std::vector<std::string_view>& scratch);

}  // namespace velmo
