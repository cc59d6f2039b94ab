// Parsing of station files and grid lists: header lines and dated records.
#include "meteo/station_files.h"

#include <algorithm>
#include <charconv>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/texthelpers.h"

namespace velmo {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr int kDateLabels = 4;  // year, month, day, hour
constexpr std::string_view kLabelLetters = "YMDH";
constexpr std::string_view kMinuteLabel = "mm";

void StripBlanks(std::string_view& text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
}

void StripToken(std::string_view& text) {
  while (!text.empty() && !IsBlank(text.front())) text.remove_prefix(1);
  StripBlanks(text);
}

bool ParseWhole(std::string_view token, int& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  long long whole = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), whole);
  if (error != std::errc() || end != token.data() + token.size()) return false;
  if (whole < -2147483647LL || whole > 2147483647LL) return false;
  value = static_cast<int>(whole);
  return true;
}

}  // namespace

int StationBlockCapacity(int station_count) {
  const long capacity = kStationBlockBytes / (8L * std::max(station_count, 0) + kStationRecordBytes);
  return static_cast<int>(std::max(capacity, 1L));
}

std::vector<std::string_view> SplitStationLine(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t at = line.find_first_not_of(kBlanks);
  while (at != std::string_view::npos) {
    const size_t end = line.find_first_of(kBlanks, at);
    tokens.push_back(line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    at = end == std::string_view::npos ? end : line.find_first_not_of(kBlanks, end);
  }
  return tokens;
}

station_columns ParseStationCountLine(std::string_view line, int additional_columns) {
  station_columns columns;
  for (int label = 0; label < kDateLabels; ++label) {
    while (!line.empty() && kLabelLetters.find(line.front()) != std::string_view::npos) line.remove_prefix(1);
    StripBlanks(line);
  }
  if (line.starts_with(kMinuteLabel) && line.size() > kMinuteLabel.size() &&
      IsBlank(line[kMinuteLabel.size()])) {
    columns.has_minutes = true;
    while (!line.empty() && line.front() == 'm') line.remove_prefix(1);
    StripBlanks(line);
  }
  for (int k = 0; k < additional_columns; ++k) StripToken(line);
  columns.count = static_cast<int>(SplitStationLine(line).size());
  return columns;
}

int ParseStationNumbers(std::string_view line, const station_columns& columns, int additional_columns,
                        double* values) {
  const std::vector<std::string_view> tokens = SplitStationLine(line);
  const size_t first = static_cast<size_t>(FirstValueToken(columns.has_minutes, additional_columns));
  for (int i = 1; i <= columns.count; ++i) {
    const size_t at = first + static_cast<size_t>(i) - 1;
    if (at >= tokens.size() || !ParseGridNumber(tokens[at], values[i])) return i;
  }
  return 0;
}

record_status ParseRecordDate(std::string_view line, bool has_minutes, model_date& date,
                              std::vector<std::string_view>& tokens) {
  tokens = SplitStationLine(line);
  if (tokens.empty()) return record_status::kBlank;
  const size_t fields = has_minutes ? 5 : 4;
  if (tokens.size() < fields) return record_status::kBadDate;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  if (!ParseWhole(tokens[0], year) || !ParseWhole(tokens[1], month) || !ParseWhole(tokens[2], day) ||
      !ParseWhole(tokens[3], hour) || (has_minutes && !ParseWhole(tokens[4], minute)))
    return record_status::kBadDate;
  if (year == 0 && month == 0 && day == 0) return record_status::kEndMark;
  // Months and days index the calendar tables.
  if (month < 1 || month > 12 || day < 1 || day > 31) return record_status::kBadDate;
  date = model_date{minute, hour, day, month, ApplyYearRule(year)};
  return record_status::kRecord;
}

record_status ParseStationRecord(std::string_view line, bool has_minutes, int additional_columns, int count,
                                 double nodata, model_date& date, double* values,
                                 std::vector<std::string_view>& tokens, record_values& seen) {
  seen = record_values{};
  const record_status status = ParseRecordDate(line, has_minutes, date, tokens);
  if (status != record_status::kRecord) return status;
  const size_t date_fields = static_cast<size_t>(FirstValueToken(has_minutes, 0));
  seen.given = static_cast<int>(tokens.size() - date_fields);
  const size_t first = date_fields + static_cast<size_t>(additional_columns);
  for (int i = 0; i < count; ++i) {
    const size_t at = first + static_cast<size_t>(i);
    double value = 0.0;
    values[i] = RecordValue(tokens, at, value, seen) ? StationValue(value, nodata) : -nodata - 1.0;
  }
  return status;
}

bool RecordValue(const std::vector<std::string_view>& tokens, size_t at, double& value, record_values& seen) {
  if (at >= tokens.size()) return false;
  if (ParseGridNumber(tokens[at], value)) return true;
  if (seen.unreadable++ == 0) seen.first_unreadable = static_cast<int>(at) + 1;
  return false;
}

void unreadable_values::Report(MessageStream* messages, const std::string& file) {
  if (count_ == 0 || reported_) return;
  reported_ = true;
  *messages << "WARNING: " << count_ << (count_ == 1 ? " value of " : " values of ") << file
            << (count_ == 1 ? " is" : " are")
            << " no number as a whole and taken as missing, the first in line " << first_line_ << ", column "
            << first_column_ << "[end-entry]";
}

record_status ParseGridListRecord(std::string_view line, bool has_minutes, int additional_columns,
                                  model_date& date, std::string& grid_name,
                                  std::vector<std::string_view>& tokens) {
  const record_status status = ParseRecordDate(line, has_minutes, date, tokens);
  if (status != record_status::kRecord) return status;
  const size_t at = static_cast<size_t>(FirstValueToken(has_minutes, additional_columns));
  grid_name = at < tokens.size() ? std::string(tokens[at]) : std::string();
  UseSlashes(grid_name);
  return status;
}

}  // namespace velmo
