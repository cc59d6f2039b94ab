// The interpolator's input files: station file headers, the search for the
// start date, record blocks read by reopening the file at the stored
// position, and the grid list of method 9, which stays open between steps.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "meteo/meteoint.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

// The start date as the search entries show it: day.month.year hour:minute,
// the two-digit fields right-aligned.
std::string SearchDate(const model_date& d, const char* between) {
  char text[96];
  std::snprintf(text, sizeof text, "%2d.%2d.%d%s%2d:%2d", d.day, d.month, d.year, between, d.hour, d.minute);
  return text;
}

bool SameDate(const model_date& a, const model_date& b) {
  return a.minute == b.minute && a.hour == b.hour && a.day == b.day && a.month == b.month && a.year == b.year;
}

// The search logs a dot per month passed.
bool MonthPassed(const model_date& d) {
  return d.day == 1 && (d.hour > 23 || (d.hour == 0 && d.minute == 0));
}

long long Position(std::FILE* file) { return static_cast<long long>(ftello(file)); }
bool Seek(std::FILE* file, long long position) {
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

}  // namespace

void meteointerpol::RaiseRecordError(const station_file& file, long long line) const {
  RaiseFatal(messages,
             "FATAL: read error in " + file.name + ", line " + std::to_string(line) +
                 ": the date (year, month, day, hour" + (file.has_minutes ? ", minute" : "") +
                 ") cannot be read",
             kReadErrorCode);
}

void meteointerpol::RaiseShortRecord(const station_file& file, long long line, int given) const {
  std::string declared = std::to_string(file.count) + " stations";
  if (file.additional_columns > 0)
    declared += " and " + std::to_string(file.additional_columns) + " additional columns";
  RaiseFatal(messages,
             "FATAL: read error in " + file.name + ", line " + std::to_string(line) + ": the record holds " +
                 std::to_string(given) + " values after its date, the file has " + declared,
             kReadErrorCode);
}

void meteointerpol::ReadStationHeader(int index) {
  station_file& file = files[static_cast<size_t>(index)];
  *messages << "analyzing station data for interpolator " << name << " from " << file.name << " ..."
            << "[end-entry]";
  GridFile in(std::fopen(file.name.c_str(), "rb"));
  if (!in) RaiseFatal(messages, "FATAL: \nerror opening " + file.name, kInputFileOpenCode);

  std::string lines[4];
  for (std::string& line : lines) {
    if (!ReadWholeLine(in.get(), line)) line.clear();
  }
  const station_columns columns = ParseStationCountLine(lines[1], file.additional_columns);
  if (columns.count < 1)
    RaiseFatal(messages, "FATAL: read error in " + file.name + ", line 2: no station after the labels",
               kReadErrorCode);
  file.has_minutes = columns.has_minutes;
  file.count = columns.count;
  const size_t size = static_cast<size_t>(file.count) + 1;
  file.altitude.assign(size, 0.0);
  file.x.assign(size, 0.0);
  file.y.assign(size, 0.0);
  file.values.assign(size, MissingResult(section.nodata));
  *messages << " (" << file.count << ") Stationen "
            << "[end-entry]";

  std::vector<double>* rows[3] = {&file.altitude, &file.x, &file.y};
  for (int k = 0; k < 3; ++k) {
    const int missing = ParseStationNumbers(lines[k + 1], columns, file.additional_columns, rows[k]->data());
    if (missing != 0)
      RaiseFatal(messages,
                 "FATAL: read error in " + file.name + ", line " + std::to_string(k + 2) +
                     ": no number for station " + std::to_string(missing),
                 kReadErrorCode);
  }
  // Cell numbers are counted from the raster's corner as ints.
  for (int k = 1; k <= file.count; ++k) {
    const std::size_t s = static_cast<std::size_t>(k);
    for (const auto& [coordinate, corner, line] :
         {std::tuple{file.x[s], xllcorner, 3}, std::tuple{file.y[s], yllcorner, 4}}) {
      if (OnRasterPlane(coordinate, corner, cellsize)) continue;
      *messages << "FATAL: read error in " << file.name << ", line " << line << ": the "
                << (line == 3 ? "x" : "y") << " coordinate " << coordinate << " of station " << k
                << " cannot lie on the plane of the model's raster"
                << "[end-entry]";
      throw ErrorCode{kReadErrorCode};
    }
  }
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing " + file.name, kInputFileCloseCode);
}

void meteointerpol::FindStationStart(int index) {
  station_file& file = files[static_cast<size_t>(index)];
  *messages << "looking for starting date " << SearchDate(start_date, " ") << " for " << name << " in "
            << file.name;
  GridFile in(std::fopen(file.name.c_str(), "rb"));
  if (!in) {
    *messages << "[end-entry]";
    RaiseFatal(messages, "FATAL: \nerror opening file " + file.name, kInputFileOpenCode);
  }
  std::string line;
  long long line_number = 0;
  for (int k = 0; k < kStationHeaderLines && ReadWholeLine(in.get(), line); ++k) ++line_number;

  std::vector<std::string_view> tokens;
  bool found = false;
  long long position = 0;
  model_date date;
  while (!found) {
    position = Position(in.get());
    if (!ReadWholeLine(in.get(), line)) break;
    ++line_number;
    const record_status status = ParseRecordDate(line, file.has_minutes, date, tokens);
    if (status == record_status::kBlank) continue;
    // A last record cut off at the file's end is no record.
    if (status == record_status::kEndMark || (std::feof(in.get()) && file.ShortRecord(tokens.size()))) break;
    if (status == record_status::kBadDate) {
      *messages << "[end-entry]";
      RaiseRecordError(file, line_number);
    }
    if (MonthPassed(date)) *messages << ".";
    found = SameDate(date, start_date);
  }
  *messages << "[end-entry]";
  if (!found)
    RaiseFatal(
        messages,
        "FATAL: \nfile " + file.name + " dosnt contain date " + SearchDate(start_date, ", ") + "(feof)!",
        kStartDateMissingCode);

  record_values seen;
  ParseStationRecord(line, file.has_minutes, file.additional_columns, file.count, section.nodata, date,
                     file.values.data() + 1, tokens, seen);
  if (file.ShortRecord(tokens.size())) RaiseShortRecord(file, line_number, seen.given);
  file.unreadable.Note(line_number, seen);
  file.date = date;
  file.all_valid_equal = false;
  file.start_position = position;
  file.next_position = Position(in.get());
  file.next_line = line_number;
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing " + file.name, kInputFileCloseCode);
}

void meteointerpol::StationValuesChanged() {
  if (files.empty()) return;
  station_file& file = files[0];
  file.all_valid_equal = AllValidValuesEqual(file.values.data() + 1, file.count, section.nodata);
}

void meteointerpol::RefillStationBlock(int index) {
  station_file& file = files[static_cast<size_t>(index)];
  file.block_count = 0;
  file.read_index = 0;
  if (file.data_ended) return;
  GridFile in(std::fopen(file.name.c_str(), "rb"));
  if (!in) RaiseFatal(messages, "FATAL: \nerror opening file " + file.name, kInputFileOpenCode);
  if (!Seek(in.get(), file.next_position)) RaiseRecordError(file, file.next_line + 1);

  std::string line;
  std::vector<std::string_view> tokens;
  record_values seen;
  const size_t count = static_cast<size_t>(file.count);
  while (file.block_count < file.capacity) {
    if (!ReadWholeLine(in.get(), line)) {
      file.data_ended = true;
      break;
    }
    ++file.next_line;
    const size_t at = static_cast<size_t>(file.block_count);
    const record_status status =
        ParseStationRecord(line, file.has_minutes, file.additional_columns, file.count, section.nodata,
                           file.block_dates[at], file.block_values.data() + at * count, tokens, seen);
    if (status == record_status::kBlank) continue;
    // A last record cut off at the file's end (a file still being written)
    // ends the data with the record before it.
    const bool cut = std::feof(in.get()) && file.ShortRecord(tokens.size());
    if (status == record_status::kEndMark || cut) {
      file.data_ended = true;
      break;
    }
    if (status == record_status::kBadDate) RaiseRecordError(file, file.next_line);
    if (file.ShortRecord(tokens.size())) RaiseShortRecord(file, file.next_line, seen.given);
    file.unreadable.Note(file.next_line, seen);
    ++file.block_count;
  }
  file.next_position = Position(in.get());
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing " + file.name, kInputFileCloseCode);
}

void meteointerpol::NextStationRecord(int index) {
  station_file& file = files[static_cast<size_t>(index)];
  if (AtOrAfter(file.date, end_date)) {
    end_of_data = 1;
    return;
  }
  if (file.read_index >= file.block_count) {
    RefillStationBlock(index);
    if (file.block_count == 0) {
      end_of_data = 1;
      return;
    }
  }
  const size_t at = static_cast<size_t>(file.read_index);
  const size_t count = static_cast<size_t>(file.count);
  file.date = file.block_dates[at];
  const double* record = file.block_values.data() + at * count;
  std::copy(record, record + count, file.values.begin() + 1);
  file.all_valid_equal = AllValidValuesEqual(record, file.count, section.nodata);
  ++file.read_index;
}

bool meteointerpol::StationFileHasNextRecord(int index) {
  station_file& file = files[static_cast<size_t>(index)];
  if (file.read_index < file.block_count) return true;
  // The current record's values were copied out of the block.
  RefillStationBlock(index);
  return file.block_count > 0;
}

bool meteointerpol::GridListHasNextRecord() const {
  const station_file& list = files[0];
  // A file that cannot be read again is reported when the record is taken.
  GridFile in(std::fopen(list.name.c_str(), "rb"));
  if (!in || !Seek(in.get(), list.next_position)) return true;
  std::string line;
  std::string grid_name;
  std::vector<std::string_view> tokens;
  model_date date;
  while (ReadWholeLine(in.get(), line)) {
    const record_status status =
        ParseGridListRecord(line, list.has_minutes, list.additional_columns, date, grid_name, tokens);
    if (status == record_status::kBlank) continue;
    return status != record_status::kEndMark;
  }
  return false;
}

void meteointerpol::FindGridListStart() {
  station_file& list = files[0];
  char date_text[64];
  std::snprintf(date_text, sizeof date_text, "%d.%d.%d", start_date.day, start_date.month, start_date.year);
  *messages << "looking for starting date " << date_text << " for " << name << " in " << list.name;
  GridFile in(std::fopen(list.name.c_str(), "rb"));
  if (!in) {
    *messages << "[end-entry]";
    RaiseFatal(messages, "FATAL: \nerror opening file " + list.name, kInputFileOpenCode);
  }
  std::string line;
  long long line_number = 0;
  for (int k = 0; k < kStationHeaderLines && ReadWholeLine(in.get(), line); ++k) ++line_number;

  std::vector<std::string_view> tokens;
  bool found = false;
  model_date date;
  std::string grid_name;
  while (!found) {
    if (!ReadWholeLine(in.get(), line)) break;
    ++line_number;
    const record_status status =
        ParseGridListRecord(line, list.has_minutes, list.additional_columns, date, grid_name, tokens);
    if (status == record_status::kBlank) continue;
    if (status == record_status::kEndMark) break;
    if (status == record_status::kBadDate || grid_name.empty()) {
      *messages << "[end-entry]";
      RaiseRecordError(list, line_number);
    }
    if (MonthPassed(date)) *messages << ".";
    found = SameDate(date, start_date);
  }
  *messages << "[end-entry]";
  if (!found)
    RaiseFatal(messages,
               "FATAL: \nfile " + list.name + " dosnt contain date " + date_text + ", hour " +
                   std::to_string(start_date.hour) + "(feof)!",
               kStartDateMissingCode);
  list.date = date;
  current_grid_name = grid_name;
  list.next_position = Position(in.get());
  list.next_line = line_number;
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing " + list.name, kInputFileCloseCode);
}

void meteointerpol::NextGridListRecord() {
  station_file& list = files[0];
  if (AtOrAfter(list.date, end_date)) {
    end_of_data = 1;
    CloseGridList();
  }
  if (end_of_data != 0) return;
  if (!grid_list) {
    grid_list = std::fopen(list.name.c_str(), "rb");
    if (!grid_list) RaiseFatal(messages, "FATAL: \nerror opening file " + list.name, kInputFileOpenCode);
    if (!Seek(grid_list, list.next_position)) RaiseRecordError(list, list.next_line + 1);
  }
  std::string line;
  std::vector<std::string_view> tokens;
  model_date date;
  std::string grid_name;
  while (true) {
    if (!ReadWholeLine(grid_list, line)) {
      end_of_data = 1;
      CloseGridList();
      return;
    }
    ++list.next_line;
    const record_status status =
        ParseGridListRecord(line, list.has_minutes, list.additional_columns, date, grid_name, tokens);
    if (status == record_status::kBlank) continue;
    if (status == record_status::kEndMark) {
      end_of_data = 1;
      CloseGridList();
      return;
    }
    if (status == record_status::kBadDate || grid_name.empty()) RaiseRecordError(list, list.next_line);
    break;
  }
  list.date = date;
  current_grid_name = grid_name;
  list.next_position = Position(grid_list);
}

void meteointerpol::CloseGridList() {
  if (grid_list) std::fclose(grid_list);
  grid_list = nullptr;
}

}  // namespace velmo
