// Regression files of the interpolation methods 2 and 3: one elevation
// regression per date, as text (a header line beginning with the labels jr
// and mo, then "year month day hour a1 b1 h1 a2 b2 h2 a3 b3 e f g" per line)
// or as 104-byte little-endian records (four 32-bit integers, eleven
// doubles). The file is positioned at the model start date once and then
// read in blocks, reopened at the stored position for each block.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "framework/types.h"
#include "meteo/regression.h"
#include "meteo/station_files.h"

namespace velmo {

class MessageStream;

// Records per block.
inline constexpr int kRegressionBlockRecords = 18078;
// Bytes of a binary record: year, month, day, hour, then the eleven values.
inline constexpr int kRegressionRecordBytes = 4 * 4 + kRegressionRecordValues * 8;
// Years below this get 1900 added (995 is 2895).
inline constexpr int kRegressionYearLimit = 1000;

enum class regression_format { kText, kBinary };
// Text when the first five bytes read 'j', 'r', any byte, 'm', 'o'.
regression_format DetectRegressionFormat(std::string_view head);

struct regression_record {
  model_date date;  // minute 0
  std::array<double, kRegressionRecordValues> values{};
};

enum class regression_status {
  kRecord,
  kEndMark,  // year, month and day 0: the data end here
  kBlank,    // an empty text line
  kBadDate,  // a date that cannot be read, or a month or day out of range
};
// A text record; a value that is missing, unreadable or not finite is -N - 1.
regression_status ParseRegressionLine(std::string_view line, double nodata, regression_record& record,
                                      record_values& seen);
// A binary record of kRegressionRecordBytes bytes; a value that is not
// finite is -N - 1.
regression_status DecodeRegressionRecord(const unsigned char* bytes, double nodata,
                                         regression_record& record);

class regression_file {
 public:
  regression_file(MessageStream* messages, std::string file_name, double nodata);

  // Positions the file at the record whose day, hour, month and year are
  // those of `start` (the minute is not compared); that record becomes the
  // current one. Logs the search for `variable`.
  void FindStart(const model_date& start, const std::string& variable);
  // Takes the next record; false when the data have ended.
  bool Next();
  // Whether a record follows the current one (reads the next block when the
  // current one is used up).
  bool HasNext();
  // Back to the start record.
  void Rewind();
  // The WARNING on values that were no number and taken as missing, if any.
  void ReportUnreadableValues() { unreadable_.Report(messages_, file_name_); }

  const regression_record& Current() const { return current_; }
  regression_format Format() const { return format_; }
  const std::string& FileName() const { return file_name_; }

 private:
  void Refill();
  // Reads one record from `in` at the file position; false at the end of the
  // data (end of file or end mark).
  bool ReadRecord(std::FILE* in, regression_record& record);
  [[noreturn]] void RaiseReadError(const std::string& what) const;

  MessageStream* messages_;
  std::string file_name_;
  double nodata_;
  regression_format format_ = regression_format::kText;
  regression_record current_;
  regression_record start_record_;
  long long start_next_position_ = 0;
  long long start_next_line_ = 0;
  long long next_position_ = 0;
  long long line_ = 0;  // lines (text) or records (binary) read so far
  std::vector<regression_record> block_;
  int block_count_ = 0;
  int read_index_ = 0;
  bool data_ended_ = false;
  std::string text_;
  record_values seen_;  // of the last text record read
  unreadable_values unreadable_;
};

}  // namespace velmo
