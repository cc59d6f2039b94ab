// Block-buffered reader of dated tables: header, minute column, row layout, blocks.
#include "framework/timeseries.h"

#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"

namespace velmo {
namespace {

// Bookkeeping bytes counted per row besides its values, and bytes per value.
constexpr long kRowOverheadBytes = 16;
constexpr long kBytesPerValue = 8;
constexpr int kDateColumns = 4;  // year, month, day, hour; the minute comes on top

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// A character read from a file that is white space (EOF is none).
bool IsSpaceRead(int c) { return c != EOF && IsSpace(static_cast<char>(c)); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Skips white space in `file`; returns false at the end of the file.
bool SkipSpaceInFile(std::FILE* file) {
  int c = std::getc(file);
  while (IsSpaceRead(c)) c = std::getc(file);
  if (c == EOF) return false;
  std::ungetc(c, file);
  return true;
}

// The next run of non-space characters; false at the end of the file.
bool ReadToken(std::FILE* file, std::string& token) {
  token.clear();
  if (!SkipSpaceInFile(file)) return false;
  int c = std::getc(file);
  while (c != EOF && !IsSpaceRead(c)) {
    token += static_cast<char>(c);
    c = std::getc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  return true;
}

bool ReadInt(std::FILE* file, std::string& token, int& value) {
  return ReadToken(file, token) && ParseNumber(token, value);
}
bool ReadDouble(std::FILE* file, std::string& token, double& value) {
  return ReadToken(file, token) && ParseNumber(token, value);
}

// The rest of the line without its line end (a carriage return is dropped).
void ReadLine(std::FILE* file, std::string& line) {
  line.clear();
  int c = std::getc(file);
  while (c != EOF && c != '\n') {
    line += static_cast<char>(c);
    c = std::getc(file);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

// Numbers at the start of `text`, counted up to the first token that is none.
int CountLeadingNumbers(const std::string& text) {
  int count = 0;
  size_t at = 0;
  while (true) {
    at = text.find_first_not_of(" \t\r\v\f", at);
    if (at == std::string::npos) return count;
    const size_t end = std::min(text.find_first_of(" \t\r\v\f", at), text.size());
    double value = 0.0;
    if (!ParseNumber(text.substr(at, end - at), value)) return count;
    ++count;
    at = end;
  }
}

// Removes the leading run of characters of `set`, then the blanks and tabs
// after it; false when nothing is left.
bool DropRun(std::string_view& text, std::string_view set) {
  size_t at = text.find_first_not_of(set);
  if (at == std::string_view::npos) return false;
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (at >= text.size()) return false;
  text.remove_prefix(at);
  return true;
}

}  // namespace

bool DeclaresMinuteColumn(const std::string& line) {
  for (const char* key : {"YY", "MM", "DD", "HH"})
    if (line.find(key) == std::string::npos) return false;
  std::string_view rest = line;
  for (int run = 0; run < kDateColumns; ++run)
    if (!DropRun(rest, "YMDH")) return false;
  return rest.size() > 2 && rest.starts_with("mm") && IsBlank(rest[2]);
}

TimeSeriesReader::TimeSeriesReader(const std::string& file_name, int /*unused*/, long budget_bytes) {
  Open(file_name, budget_bytes);
}

int TimeSeriesReader::Open(const std::string& file_name, long budget_bytes) {
  if (state_ != kSeriesNotOpened) return state_;
  file_name_ = file_name;
  budget_bytes_ = budget_bytes;
  // Binary: line ends stay as stored and positions are byte counts.
  file_handle file(std::fopen(file_name.c_str(), "rb"));
  if (!file) {
    state_ = kSeriesCannotOpen;
    return state_;
  }

  int header_lines = 0;
  std::string line;
  int c = std::getc(file.get());
  for (; c != EOF && !IsDigit(c); c = std::getc(file.get())) {
    std::ungetc(c, file.get());
    ReadLine(file.get(), line);
    ++header_lines;
    if (DeclaresMinuteColumn(line)) with_minutes_ = true;
  }
  if (c == EOF) {
    state_ = kSeriesReadError;
    return state_;
  }
  // The loop stopped on the first digit of the first data row.
  std::ungetc(c, file.get());
  const off_t first_row = ftello(file.get());
  if (first_row < 0) throw ErrorCode{kSeriesPositionErrorCode};
  next_position_ = first_row;

  std::string token;
  int date_value = 0;
  for (int i = 0; i < kDateColumns + (with_minutes_ ? 1 : 0); ++i) {
    if (!ReadInt(file.get(), token, date_value)) {
      state_ = kSeriesReadError;
      return state_;
    }
  }
  ReadLine(file.get(), line);
  column_count_ = CountLeadingNumbers(line);
  file.reset();

  const long row_bytes = kBytesPerValue * column_count_ + kRowOverheadBytes;
  // At least one row, so that every block makes progress.
  row_capacity_ = static_cast<int>(std::max(budget_bytes_ / row_bytes, 1L));
  rows_.assign(static_cast<size_t>(row_capacity_), dated_row{});
  for (dated_row& row : rows_) row.values.assign(static_cast<size_t>(column_count_), 0.0);
  block_rows_ = row_capacity_;
  state_ = kSeriesMoreRows;
  LoadBlock();
  return header_lines;
}

void TimeSeriesReader::LoadBlock() {
  if (state_ != kSeriesMoreRows) return;
  current_row_ = 0;
  file_handle file(std::fopen(file_name_.c_str(), "rb"));
  if (!file || fseeko(file.get(), static_cast<off_t>(next_position_), SEEK_SET) != 0) {
    state_ = kSeriesReadError;
    block_rows_ = 0;
    return;
  }

  std::string token;
  int read = 0;
  bool end_met = false;
  bool failed = false;
  while (read < row_capacity_) {
    // Trailing white space of any length ends the file.
    if (!SkipSpaceInFile(file.get())) {
      end_met = true;
      break;
    }
    dated_row& row = rows_[static_cast<size_t>(read)];
    row.minute = 0;
    bool ok = ReadInt(file.get(), token, row.year) && ReadInt(file.get(), token, row.month) &&
              ReadInt(file.get(), token, row.day) && ReadInt(file.get(), token, row.hour) &&
              (!with_minutes_ || ReadInt(file.get(), token, row.minute));
    for (int c = 0; ok && c < column_count_; ++c)
      ok = ReadDouble(file.get(), token, row.values[static_cast<size_t>(c)]);
    if (!ok) {
      failed = true;
      break;
    }
    ++read;
  }

  // After a read error the rows read before it stay usable.
  block_rows_ = read;
  current_row_ = 0;
  if (failed) {
    state_ = kSeriesReadError;
    return;
  }
  state_ = end_met ? kSeriesLastBlock : kSeriesMoreRows;
  next_position_ = ftello(file.get());
}

void TimeSeriesReader::Advance() {
  if (current_row_ + 1 < block_rows_) {
    ++current_row_;
    return;
  }
  if (state_ == kSeriesMoreRows) {
    LoadBlock();
    // A file whose rows filled the earlier blocks exactly leaves this block
    // empty: that is the end, not a row.
    if (block_rows_ == 0 && state_ != kSeriesReadError) state_ = kSeriesPastEnd;
    return;
  }
  state_ = kSeriesPastEnd;
}

void TimeSeriesReader::SetRow(int row) {
  if (row >= -1 && row < block_rows_) current_row_ = row;
}

void TimeSeriesReader::GetDate(int& year, int& month, int& day, int& hour, int& minute) const {
  if (!HasCurrentRow()) {
    year = month = day = hour = minute = 0;
    return;
  }
  const dated_row& row = rows_[static_cast<size_t>(current_row_)];
  year = row.year;
  month = row.month;
  day = row.day;
  hour = row.hour;
  minute = row.minute;
}

double TimeSeriesReader::GetValue(int column) const {
  if (!HasCurrentRow() || column < 0 || column >= column_count_) return kSeriesMissingValue;
  return rows_[static_cast<size_t>(current_row_)].values[static_cast<size_t>(column)];
}

void TimeSeriesReader::FreeBuffers() {
  rows_ = {};
  block_rows_ = 0;
  current_row_ = -1;
}

}  // namespace velmo
