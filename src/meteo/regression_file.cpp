// Regression files: format test, text and binary records, the start-date
// search and the block reading.
#include "meteo/regression_file.h"

#include <sys/types.h>

#include <cmath>
#include <cstdint>
#include <utility>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/modelobject.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

// Bytes of the format test.
constexpr size_t kFormatHeadBytes = 5;
constexpr int kDateFields = 4;

int ApplyRegressionYearRule(int year) {
  return year < kRegressionYearLimit ? year + kTwoDigitYearBase : year;
}

bool ValidMonthAndDay(int month, int day) { return month >= 1 && month <= 12 && day >= 1 && day <= 31; }

double RegressionNumber(double value, double nodata) { return std::isfinite(value) ? value : -nodata - 1.0; }

// The search logs a dot per month passed.
bool MonthPassed(const model_date& d) { return d.day == 1 && (d.hour > 23 || d.hour == 0); }

bool SameHour(const model_date& a, const model_date& b) {
  return a.day == b.day && a.hour == b.hour && a.month == b.month && a.year == b.year;
}

std::string DayText(const model_date& d) {
  return std::to_string(d.day) + "." + std::to_string(d.month) + "." + std::to_string(d.year);
}

long long Position(std::FILE* file) { return static_cast<long long>(ftello(file)); }
bool Seek(std::FILE* file, long long position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

}  // namespace

regression_format DetectRegressionFormat(std::string_view head) {
  return head.size() >= kFormatHeadBytes && head[0] == 'j' && head[1] == 'r' && head[3] == 'm' &&
                 head[4] == 'o'
             ? regression_format::kText
             : regression_format::kBinary;
}

regression_status ParseRegressionLine(std::string_view line, double nodata, regression_record& record,
                                      record_values& seen) {
  seen = record_values{};
  std::vector<std::string_view> tokens;
  model_date date;
  switch (ParseRecordDate(line, false, date, tokens)) {
    case record_status::kBlank:
      return regression_status::kBlank;
    case record_status::kEndMark:
      return regression_status::kEndMark;
    case record_status::kBadDate:
      return regression_status::kBadDate;
    case record_status::kRecord:
      break;
  }
  date.minute = 0;
  date.year = ApplyRegressionYearRule(date.year);
  record.date = date;
  seen.given = static_cast<int>(tokens.size()) - kDateFields;
  for (size_t k = 0; k < record.values.size(); ++k) {
    const size_t at = kDateFields + k;
    double value = 0.0;
    record.values[k] = RecordValue(tokens, at, value, seen) ? RegressionNumber(value, nodata) : -nodata - 1.0;
  }
  return regression_status::kRecord;
}

regression_status DecodeRegressionRecord(const unsigned char* bytes, double nodata,
                                         regression_record& record) {
  int date[kDateFields];
  for (int k = 0; k < kDateFields; ++k) date[k] = LoadLittleEndian<std::int32_t>(bytes + 4 * k);
  const int year = date[0], month = date[1], day = date[2], hour = date[3];
  if (year == 0 && month == 0 && day == 0) return regression_status::kEndMark;
  if (!ValidMonthAndDay(month, day)) return regression_status::kBadDate;
  record.date = model_date{0, hour, day, month, ApplyRegressionYearRule(year)};
  const unsigned char* values = bytes + 4 * kDateFields;
  for (size_t k = 0; k < record.values.size(); ++k)
    record.values[k] = RegressionNumber(LoadLittleEndian<double>(values + 8 * k), nodata);
  return regression_status::kRecord;
}

regression_file::regression_file(MessageStream* messages, std::string file_name, double nodata)
    : messages_(messages), file_name_(std::move(file_name)), nodata_(nodata) {}

void regression_file::RaiseReadError(const std::string& what) const {
  RaiseFatal(messages_, "FATAL: read error in regression file " + file_name_ + ", " + what, kReadErrorCode);
}

bool regression_file::ReadRecord(std::FILE* in, regression_record& record) {
  if (format_ == regression_format::kBinary) {
    unsigned char bytes[kRegressionRecordBytes];
    const size_t got = std::fread(bytes, 1, sizeof bytes, in);
    if (got == 0) return false;
    ++line_;
    if (got < sizeof bytes)
      RaiseReadError("record " + std::to_string(line_) + ": cut off after " + std::to_string(got) + " of " +
                     std::to_string(kRegressionRecordBytes) + " bytes");
    switch (DecodeRegressionRecord(bytes, nodata_, record)) {
      case regression_status::kRecord:
        return true;
      case regression_status::kEndMark:
        return false;
      default:
        RaiseReadError("record " + std::to_string(line_) + ": no valid month and day");
    }
  }
  while (ReadWholeLine(in, text_)) {
    ++line_;
    switch (ParseRegressionLine(text_, nodata_, record, seen_)) {
      case regression_status::kRecord:
        return true;
      case regression_status::kEndMark:
        return false;
      case regression_status::kBlank:
        continue;
      case regression_status::kBadDate:
        RaiseReadError("line " + std::to_string(line_) +
                       ": the date (year, month, day, hour) cannot be read");
    }
  }
  return false;
}

void regression_file::FindStart(const model_date& start, const std::string& variable) {
  *messages_ << "looking for starting date " << DayText(start) << " for " << variable << " in " << file_name_;
  GridFile in(std::fopen(file_name_.c_str(), "rb"));
  if (!in) {
    *messages_ << "[end-entry]";
    RaiseFatal(messages_, "FATAL: \nerror opening file " + file_name_, kInputFileOpenCode);
  }
  char head[kFormatHeadBytes];
  const size_t got = std::fread(head, 1, sizeof head, in.get());
  format_ = DetectRegressionFormat(std::string_view(head, got));
  Seek(in.get(), 0);
  line_ = 0;
  if (format_ == regression_format::kText) {
    ReadWholeLine(in.get(), text_);
    line_ = 1;
  }

  bool found = false;
  regression_record record;
  while (!found && ReadRecord(in.get(), record)) {
    if (MonthPassed(record.date)) *messages_ << ".";
    found = SameHour(record.date, start);
  }
  *messages_ << "[end-entry]";
  if (!found)
    RaiseFatal(messages_,
               "FATAL: \nEOF reached: " + file_name_ + ", date " + DayText(start) + ", " +
                   std::to_string(start.hour) + ". h not found!",
               kStartDateMissingCode);
  current_ = start_record_ = record;
  unreadable_.Note(line_, seen_);
  next_position_ = start_next_position_ = Position(in.get());
  start_next_line_ = line_;
  if (!in.Close()) RaiseFatal(messages_, "FATAL: error closing " + file_name_, kInputFileCloseCode);
  block_.resize(kRegressionBlockRecords);
  block_count_ = read_index_ = 0;
  data_ended_ = false;
}

void regression_file::Refill() {
  block_count_ = read_index_ = 0;
  if (data_ended_) return;
  GridFile in(std::fopen(file_name_.c_str(), "rb"));
  if (!in)
    RaiseFatal(messages_,
               format_ == regression_format::kBinary
                   ? "FATAL: error opening regression file " + file_name_ + " in binary mode"
                   : "FATAL: \nerror opening file " + file_name_,
               kInputFileOpenCode);
  if (!Seek(in.get(), next_position_))
    RaiseReadError("cannot return to byte " + std::to_string(next_position_));
  while (block_count_ < kRegressionBlockRecords) {
    if (!ReadRecord(in.get(), block_[static_cast<size_t>(block_count_)])) {
      data_ended_ = true;
      break;
    }
    unreadable_.Note(line_, seen_);
    ++block_count_;
  }
  next_position_ = Position(in.get());
  if (!in.Close()) RaiseFatal(messages_, "FATAL: error closing " + file_name_, kInputFileCloseCode);
}

bool regression_file::Next() {
  if (read_index_ >= block_count_) {
    Refill();
    if (block_count_ == 0) return false;
  }
  current_ = block_[static_cast<size_t>(read_index_++)];
  return true;
}

bool regression_file::HasNext() {
  if (read_index_ < block_count_) return true;
  Refill();
  return block_count_ > 0;
}

void regression_file::Rewind() {
  current_ = start_record_;
  next_position_ = start_next_position_;
  line_ = start_next_line_;
  block_count_ = read_index_ = 0;
  data_ended_ = false;
}

}  // namespace velmo
