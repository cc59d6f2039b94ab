// The list files of the data assimilation: the calendar time of their dates,
// the fixed columns of a "bafu" level series, and a reader that takes a list
// by whitespace-separated tokens or by whole lines and knows the line it
// stands in, so that every fault can name its line.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace velmo {

// Minutes since 1 January 1970 of a date on the whole hour, the hour lowered
// by `hour_shift` first; the machine's time zone plays no part. Hour 24 is the
// end of the day. nullopt when the date is no calendar date (month 1..12, day
// within its month in its year, hour 0..24, year 1..9999).
std::optional<std::int64_t> CalendarMinutes(int year, int month, int day, int hour, int hour_shift);

// Hours by which a module with this time interval lowers its dates (both in
// minutes): the interval less the shift of the time stamps, whole hours.
int AssimilationHourShift(double time_interval, double min_to_int_end);

// A whole number (blanks around it allowed, nothing else).
bool ParseWholeNumber(std::string_view text, int& value);
// A finite decimal number (blanks around it allowed, nothing else).
bool ParseDecimalNumber(std::string_view text, double& value);

// One observed level with its date.
struct level_record {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  double level = 0.0;  // m a.s.l.
};

// Columns (from 1) of a "bafu" line: year 23-26, month 28-29, day 31-32, hour
// 34-35, level 40-49 (where its number starts; it is read up to the next
// blank).
struct column_field {
  int first;
  int width;
};
inline constexpr column_field kBafuYear{23, 4};
inline constexpr column_field kBafuMonth{28, 2};
inline constexpr column_field kBafuDay{31, 2};
inline constexpr column_field kBafuHour{34, 2};
inline constexpr column_field kBafuLevel{40, 10};

enum class bafu_line_fault { none, short_line, not_a_number };

// Reads the date and the level of a "bafu" line (a line end of CR is no
// character of it). A line that ends before the first column of the level is
// short; a field of the date that is no number, a level field that is blank
// or holds more than one token, or a level token that is no number as a
// whole is not_a_number. On a fault `record` is incomplete.
bafu_line_fault ParseBafuLine(std::string_view line, level_record& record);

// A list file read by tokens and lines. Lines count from 1.
class list_reader {
 public:
  bool Open(const std::string& path);
  void Close();
  // The next whitespace-separated token; false at the end of the file.
  bool Token(std::string& token);
  // The next whole line, without its line end: after a token, the line after
  // the one the token stands in. False at the end of the file.
  bool Line(std::string& line);
  // After a token, the rest of its line, then `count` whole lines.
  void SkipLines(int count);
  // Line of the last token or line read.
  int LineNumber() const { return item_line_; }

 private:
  void SkipRestOfLine();

  std::ifstream in_;
  int line_ = 1;  // the line the reader stands in
  int item_line_ = 0;
  bool inside_line_ = false;  // a token of the current line has been read
};

}  // namespace velmo
