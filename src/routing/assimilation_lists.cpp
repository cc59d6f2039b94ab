// List files of the data assimilation: calendar times, "bafu" columns and the line-aware list reader.
#include "routing/assimilation_lists.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>

#include "framework/gridio.h"
#include "framework/texthelpers.h"
#include "physics/units.h"

namespace velmo {
namespace {

constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;
constexpr int kLastMonth = 12;
constexpr int kLongestMonth = 31;
constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// The field of `line` (which may end inside it).
std::string_view Field(std::string_view line, column_field field) {
  const std::size_t first = static_cast<std::size_t>(field.first - 1);
  if (first >= line.size()) return {};
  return line.substr(first, static_cast<std::size_t>(field.width));
}

// The level: the token that starts in its field, read up to the next blank
// even where it runs past the field (stored lists write "1250.000" up to
// column 50). Empty when the field is blank or holds a second token.
std::string_view LevelToken(std::string_view line) {
  const std::string_view field = Field(line, kBafuLevel);
  const std::size_t start = field.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  const std::size_t first = static_cast<std::size_t>(kBafuLevel.first - 1) + start;
  const std::size_t end = std::min(line.find_first_of(kBlanks, first), line.size());
  const std::size_t field_end = static_cast<std::size_t>(kBafuLevel.first - 1 + kBafuLevel.width);
  if (end < field_end && !Trimmed(line.substr(end, field_end - end)).empty()) return {};
  return line.substr(first, end - first);
}

}  // namespace

std::optional<std::int64_t> CalendarMinutes(int year, int month, int day, int hour, int hour_shift) {
  if (year < kFirstYear || year > kLastYear || month < 1 || month > kLastMonth || day < 1 ||
      day > kLongestMonth || hour < 0 || hour > kHoursPerDay)
    return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  const std::int64_t days = std::chrono::sys_days{date}.time_since_epoch().count();
  return days * kMinutesPerDay + static_cast<std::int64_t>(hour - hour_shift) * kMinutesPerHour;
}

int AssimilationHourShift(double time_interval, double min_to_int_end) {
  return static_cast<int>((time_interval - min_to_int_end) / kMinutesPerHour);
}

bool ParseWholeNumber(std::string_view text, int& value) { return ParseNumber(Trimmed(text), value); }

bool ParseDecimalNumber(std::string_view text, double& value) {
  text = Trimmed(text);
  // An infinite level would give the reservoir an infinite volume.
  double parsed = 0.0;
  if (text.empty() || !ParseGridNumber(text, parsed) || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bafu_line_fault ParseBafuLine(std::string_view line, level_record& record) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() < static_cast<std::size_t>(kBafuLevel.first)) return bafu_line_fault::short_line;
  const bool numbers = ParseWholeNumber(Field(line, kBafuYear), record.year) &&
                       ParseWholeNumber(Field(line, kBafuMonth), record.month) &&
                       ParseWholeNumber(Field(line, kBafuDay), record.day) &&
                       ParseWholeNumber(Field(line, kBafuHour), record.hour) &&
                       ParseDecimalNumber(LevelToken(line), record.level);
  return numbers ? bafu_line_fault::none : bafu_line_fault::not_a_number;
}

// ============================================================== list reader

bool list_reader::Open(const std::string& path) {
  in_.open(path, std::ios::binary);
  line_ = 1;
  item_line_ = 0;
  inside_line_ = false;
  return in_.is_open();
}

void list_reader::Close() {
  if (in_.is_open()) in_.close();
}

bool list_reader::Token(std::string& token) {
  token.clear();
  int c = in_.peek();
  while (c != std::char_traits<char>::eof() && std::isspace(c)) {
    in_.get();
    if (c == '\n') {
      ++line_;
      inside_line_ = false;
    }
    c = in_.peek();
  }
  if (c == std::char_traits<char>::eof()) return false;
  item_line_ = line_;
  while (c != std::char_traits<char>::eof() && !std::isspace(c)) {
    token += static_cast<char>(in_.get());
    c = in_.peek();
  }
  inside_line_ = true;
  return true;
}

void list_reader::SkipRestOfLine() {
  if (!inside_line_) return;
  for (int c = in_.get(); c != std::char_traits<char>::eof(); c = in_.get()) {
    if (c == '\n') {
      ++line_;
      break;
    }
  }
  inside_line_ = false;
}

bool list_reader::Line(std::string& line) {
  SkipRestOfLine();
  line.clear();
  if (in_.peek() == std::char_traits<char>::eof()) return false;
  std::getline(in_, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  item_line_ = line_++;
  return true;
}

void list_reader::SkipLines(int count) {
  SkipRestOfLine();
  std::string line;
  for (int i = 0; i < count && Line(line); ++i) {
  }
}

}  // namespace velmo
