// Zone grid, elevation model and standard grids of the set-up object.
#include "setup/zonegrids.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <span>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "framework/texthelpers.h"
#include "setup/defltuzr.h"

namespace velmo {
namespace {

// The words and the old form's fill code at the start of a standard grid
// line, read one after another as a scanf would read them: blanks before a
// value are skipped, a number ends at the first character that cannot
// continue it, a word at the next blank.
class ValueCursor {
 public:
  explicit ValueCursor(const char* text) : p_(text) {}

  bool Read(int& value) {
    SkipBlanks();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(p_, &end, 10);
    if (end == p_ || errno == ERANGE || number < INT_MIN || number > INT_MAX) return false;
    value = static_cast<int>(number);
    p_ = end;
    return true;
  }

  bool Read(std::string& word) {
    SkipBlanks();
    const char* start = p_;
    while (*p_ != '\0' && !IsSpace(*p_)) ++p_;
    if (p_ == start) return false;
    word.assign(start, p_);
    return true;
  }

  // Reads every target in turn; false at the first that cannot be read.
  template <typename... T>
  bool ReadAll(T&... targets) {
    return (Read(targets) && ...);
  }

  const char* position() const { return p_; }

 private:
  void SkipBlanks() {
    while (IsSpace(*p_)) ++p_;
  }
  const char* p_;
};

// One token of a key's value read whole into its target.
bool ReadWholeToken(std::string_view token, int& value) { return ParseNumber(token, value); }
bool ReadWholeToken(std::string_view token, double& value) { return ParseNumber(token, value); }
bool ReadWholeToken(std::string_view token, std::string& word) {
  word = std::string(token);
  return !token.empty();
}

// Reads the values of `key` from `text` into `targets`, one whole token each:
// the tokens of its value after the first "=" that follows the key, up to the
// ";" that may end it (KeyLineValue); tokens after them are comment. A key
// with no "=" anywhere after it is comment text like any other word and
// `present` is false. Returns false, with `bad` naming the key and the token,
// when a value is missing or is no number as a whole ("0,2", "0.5x").
template <typename... T>
bool ReadKeyValues(const std::string& text, const char* key, bool& present, grid_key_fault& bad,
                   T&... targets) {
  const size_t at = FindKey(text, key);
  const size_t equals = at == std::string::npos ? at : text.find('=', at + std::string_view(key).size());
  present = equals != std::string::npos;
  if (!present) return true;
  std::string_view value = KeyLineValue(text, equals);
  std::string_view token;
  const auto read = [&](auto& target) {
    value.remove_prefix(SkipSpace(value, 0));
    token = FirstToken(value);
    value.remove_prefix(token.size());
    return ReadWholeToken(token, target);
  };
  if ((read(targets) && ...)) return true;
  bad = {key, std::string(token)};
  return false;
}

// Reads the next line of `file` that holds anything but blanks, without its
// line end. False at the end of the file.
bool ReadNextFilledLine(std::FILE* file, std::string& line) {
  while (ReadWholeLine(file, line)) {
    if (std::any_of(line.begin(), line.end(), [](char ch) { return !IsSpace(ch); })) return true;
  }
  return false;
}

// True when the four bytes start an ASCII grid header; the keyword is taken
// in any case, as the grid reader takes it.
bool IsAsciiHeader(std::span<const unsigned char> head) {
  return DetectGridFormat(head) == GridFileFormat::kAscii;
}

// A header the domain can be built from: sizes of at least one cell, a
// positive cell size, finite corners and nodata value.
bool PlausibleHeader(const std::array<double, kBinaryHeaderValues>& h) {
  return PlausibleDimension(h[0]) && PlausibleDimension(h[1]) && std::isfinite(h[2]) && std::isfinite(h[3]) &&
         PlausibleCellsize(h[4]) && std::isfinite(h[5]);
}

// Number (1..12) of the first implausible value of a single-precision header.
int FirstImplausibleItem(const std::array<double, kBinaryHeaderValues>& h) {
  if (!PlausibleDimension(h[0])) return 1;
  if (!PlausibleDimension(h[1])) return 2;
  if (!std::isfinite(h[2])) return 3;
  if (!std::isfinite(h[3])) return 4;
  if (!PlausibleCellsize(h[4])) return 5;
  return 6;
}

// The control-file error text of a faulty standard grid line.
std::string GridLineFaultText(grid_line_fault fault, int number, const grid_key_fault& bad) {
  const std::string n = std::to_string(number);
  switch (fault) {
    case grid_line_fault::missing_words:
      return "\nerror reading a grid name or identifier " + n + " in\n";
    case grid_line_fault::missing_fillcode:
      return "\nerror reading the fillcode for standard grid " + n +
             " (found neither in old nor in new style standard grid definition) in\n";
    case grid_line_fault::bad_value:
      return "\nerror reading the value of the key " + bad.key +
             (bad.token.empty() ? std::string() : " (\"" + bad.token + "\")") + " for standard grid " + n +
             " in\n";
    case grid_line_fault::none:
      break;
  }
  return {};
}

}  // namespace

grid_line_fault ParseStandardGridLine(const std::string& line, standard_grid_definition& grid,
                                      grid_key_fault& bad) {
  grid = standard_grid_definition{};
  ValueCursor cursor(line.c_str());
  if (!cursor.ReadAll(grid.file_name, grid.identifier)) return grid_line_fault::missing_words;

  // Old form: a whole number follows the identifier; the comment after it
  // may still hold keys.
  ValueCursor old_form(cursor.position());
  grid.has_fillcode = old_form.Read(grid.fillcode);
  const std::string rest(grid.has_fillcode ? old_form.position() : cursor.position());

  bool present = false;
  if (!ReadKeyValues(rest, "fillcode", present, bad, grid.fillcode)) return grid_line_fault::bad_value;
  grid.has_fillcode = grid.has_fillcode || present;
  if (!grid.has_fillcode) return grid_line_fault::missing_fillcode;
  if (!ReadKeyValues(rest, "readcode", present, bad, grid.readcode) ||
      !ReadKeyValues(rest, "defaultValue", present, bad, grid.default_value) ||
      !ReadKeyValues(rest, "writecode", present, bad, grid.write_code) ||
      !ReadKeyValues(rest, "outname", present, bad, grid.outname) ||
      !ReadKeyValues(rest, "statfile", present, bad, grid.statfile) ||
      !ReadKeyValues(rest, "statcode", present, bad, grid.statcode))
    return grid_line_fault::bad_value;

  int length = -1, offset = -1;
  std::string unit;
  if (!ReadKeyValues(rest, "periodicity", grid.periodic, bad, length, unit, offset))
    return grid_line_fault::bad_value;
  if (!grid.periodic) return grid_line_fault::none;
  grid.period_length = length;
  grid.period_unit = unit;
  grid.period_offset = offset;

  // Persistence only matters for grids that are re-read. The duration
  // counts only for temporary values: a persistent grid may leave it out.
  int flag = 1;
  if (!ReadKeyValues(rest, "persistent", present, bad, flag)) return grid_line_fault::bad_value;
  if (!present) return grid_line_fault::none;
  grid.persistent = flag != 0;
  int steps = 0;
  grid_key_fault without_duration;
  if (ReadKeyValues(rest, "persistent", present, without_duration, flag, steps)) {
    grid.persistence_steps = steps;
  } else if (!grid.persistent) {
    bad = without_duration;
    return grid_line_fault::bad_value;
  }
  return grid_line_fault::none;
}

zone_ranking_error RankZoneGrid(double** zones, int nrows, int ncols, double nodata_value, double cellsize,
                                zone_grid_ranking& result) {
  result = zone_grid_ranking{};
  result.zones.push_back(zone_record{});
  result.rows.assign(static_cast<size_t>(std::max(nrows, 0)) + 1, row_range{0, -1});
  std::vector<int> code_map(static_cast<size_t>(kLargestZoneCode) + 1, 0);

  for (int r = 1; zones && r <= nrows; ++r) {
    const double* row = zones[r];
    row_range& range = result.rows[static_cast<size_t>(r)];
    for (int c = 1; c <= ncols; ++c) {
      const double v = row[c];
      if (v == nodata_value) continue;
      if (range.first == 0) range.first = c;
      range.last = c;
      const double code = std::trunc(v);
      if (!(code >= 0.0 && code <= kLargestZoneCode)) return zone_ranking_error::invalid_code;  // NaN too
      int& zone = code_map[static_cast<size_t>(code)];
      if (zone != 0) continue;
      if (result.zone_count == kZoneLimit) return zone_ranking_error::too_many_zones;
      zone = ++result.zone_count;
      result.max_zone_code = std::max(result.max_zone_code, static_cast<int>(code));
      result.zones.push_back(zone_record{0.0, 0.0, v, 0.0, 0.0});
    }
  }

  // The zones' truncated codes differ, so their stored cell values order
  // them like their codes and the order is unique.
  std::sort(result.zones.begin() + 1, result.zones.end(),
            [](const zone_record& a, const zone_record& b) { return a.code < b.code; });
  for (int z = 1; z <= result.zone_count; ++z)
    code_map[static_cast<size_t>(std::trunc(result.zones[static_cast<size_t>(z)].code))] = z;
  result.code_map.assign(code_map.begin(), code_map.begin() + result.max_zone_code + 1);

  for (int r = 1; zones && r <= nrows; ++r) {
    const double* row = zones[r];
    const row_range range = result.rows[static_cast<size_t>(r)];
    for (int c = range.first; c <= range.last; ++c) {
      if (row[c] == nodata_value) continue;
      zone_record& zone =
          result.zones[static_cast<size_t>(result.code_map[static_cast<size_t>(std::trunc(row[c]))])];
      zone.weight_sum += 1.0;
      zone.value_sum += 1.0;
      zone.mean_divisor += 1.0;
    }
  }

  double total = 0.0;
  for (int z = 1; z <= result.zone_count; ++z) total += result.zones[static_cast<size_t>(z)].weight_sum;
  if (result.zone_count == 0 || total == 0.0) return zone_ranking_error::no_valid_cell;
  for (int z = 1; z <= result.zone_count; ++z) {
    zone_record& zone = result.zones[static_cast<size_t>(z)];
    zone.area_fraction = zone.weight_sum / total;
  }
  result.zones[0].area_fraction = cellsize * total * cellsize / kSquareMetresPerKm2;
  return zone_ranking_error::none;
}

void FillUnreadGrid(double** grid, double** zone_grid, int nrows, int ncols, double nodata_value,
                    double default_value) {
  for (int r = 1; r <= nrows; ++r) {
    const double* zones = zone_grid[r];
    double* row = grid[r];
    for (int c = 1; c <= ncols; ++c) row[c] = zones[c] == nodata_value ? nodata_value : default_value;
  }
}

void defaultini::ReadGridSections() {
  grid_table& table = *grids;
  std::string rest;

  const std::array<const char*, 2> fixed_sections = {kZoneGridName, kElevationModelName};
  for (size_t i = 0; i < fixed_sections.size(); ++i) {
    grid_entry& entry = table[static_cast<int>(i) + 1];
    FindSection(fixed_sections[i], true);
    ReadValue(control_file, entry.file_name, " Name for ", rest);
    entry.name = fixed_sections[i];
  }

  FindSection(kStandardGridsSection, true);
  int count = 0;
  ReadValue(control_file, count, "counter/number of grids ", rest);
  count = std::max(count, 0);
  // Entries 1 and 2 come first; entry 1000 can hold no grid.
  if (count + 2 >= kGridTableLimit) {
    *messages << "FATAL: no free grid in memory,(max. " << kGridTableLimit << ")!"
              << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }

  std::string line;
  for (int i = 1; i <= count; ++i) {
    standard_grid_definition grid;
    grid_key_fault bad;
    const grid_line_fault fault = ReadNextFilledLine(control_file, line)
                                      ? ParseStandardGridLine(line, grid, bad)
                                      : grid_line_fault::missing_words;
    if (fault != grid_line_fault::none) RaiseControlFileError(GridLineFaultText(fault, i, bad), name);

    grid_entry& entry = table[i + 2];
    entry.file_name = grid.file_name;
    entry.name = grid.identifier;
    entry.fillcode = grid.fillcode;
    entry.readcode = grid.readcode;
    entry.defaultValue = grid.default_value;
    entry.write_code = grid.write_code;  // split when the grid is registered
    entry.outname = grid.outname.empty() ? grid.file_name : grid.outname;
    entry.outname_owned = 0;
    entry.statfile = grid.statfile;
    entry.statcode = grid.statcode;
    entry.period_length = grid.period_length;
    entry.period_unit = grid.period_unit;
    entry.period_offset = grid.period_offset;
    entry.persistent = grid.persistent;
    entry.persistence_steps = grid.persistence_steps;
    entry.elapsed_periods = 0;
    entry.elapsed_units = 0;
    entry.last_unit_value = kInitialLastUnitValue;
    entry.persistence_running = false;

    grid_entry& zone_entry = table[1];
    if (grid.identifier == "latitude") {
      *messages << "found latitude grid on position: " << i << "[end-entry]";
      zone_entry.has_latitude_grid = true;
      zone_entry.latitude_grid_index = i + 2;
    } else if (grid.identifier == "longitude") {
      *messages << "found longitude grid on position: " << i << "[end-entry]";
      zone_entry.has_longitude_grid = true;
      zone_entry.longitude_grid_index = i + 2;
    }
  }
  grid_count = count;
}

void defaultini::ReadDomainHeader(int& header_ncols, int& header_nrows, double& header_xllcorner,
                                  double& header_yllcorner, double& header_cellsize,
                                  double& header_nodata_value) {
  InterruptGuard no_interrupt;
  // The same file the grid reader will open for the zone grid.
  std::string file = grids ? (*grids)[1].file_name : std::string();
  PrefixPath(InitialStateDirectory.get(), file);
  GridFile in(std::fopen(file.c_str(), "rb"));
  if (!in) RaiseFatal(messages, "FATAL: error opening " + file, kGridOpenErrorCode);

  constexpr size_t kNodataIndex = 5;
  std::array<unsigned char, kDoubleHeaderBytes> head{};
  const size_t head_size = std::fread(head.data(), 1, head.size(), in.get());
  const std::span<const unsigned char> bytes(head.data(), head_size);
  const auto value_fits = [&](size_t index, size_t width) { return (index + 1) * width <= head_size; };
  const bool is_double = value_fits(kBinaryHeaderValues - 1, sizeof(double)) &&
                         LoadLittleEndian<double>(&head[kNodataIndex * sizeof(double)]) == kBinaryNodata;
  const bool is_single =
      !is_double && value_fits(kNodataIndex, sizeof(float)) &&
      LoadLittleEndian<float>(&head[kNodataIndex * sizeof(float)]) == static_cast<float>(kBinaryNodata);

  std::array<double, kBinaryHeaderValues> header{};
  if (IsAsciiHeader(bytes)) {
    const std::string failure = "FATAL: error reading " + file;
    std::rewind(in.get());
    TokenScanner scanner(in.get());
    if (ReadAsciiHeaderItems(scanner, header) != 0 || !PlausibleHeader(header))
      RaiseFatal(messages, failure, kGridReadErrorCode);
  } else if (is_double) {
    for (size_t i = 0; i < kBinaryHeaderValues; ++i)
      header[i] = LoadLittleEndian<double>(&head[i * sizeof(double)]);
    if (!PlausibleHeader(header))
      RaiseFatal(messages, "FATAL: error reading double value from the header of " + file,
                 kGridReadErrorCode);
  } else if (is_single) {
    // A small single-precision grid may be shorter than a double header.
    int bad_item = 0;
    for (size_t i = 0; i < kBinaryHeaderValues && bad_item == 0; ++i) {
      if (value_fits(i, sizeof(float)))
        header[i] = LoadLittleEndian<float>(&head[i * sizeof(float)]);
      else
        bad_item = static_cast<int>(i) + 1;
    }
    if (bad_item == 0 && !PlausibleHeader(header)) bad_item = FirstImplausibleItem(header);
    if (bad_item != 0)
      RaiseFatal(
          messages,
          "FATAL: error reading double value #" + std::to_string(bad_item) + " from the header of " + file,
          kGridReadErrorCode);
  } else if (head_size < kDoubleHeaderBytes) {
    RaiseFatal(messages, "FATAL: error reading double value from the header of " + file, kGridReadErrorCode);
  } else {
    RaiseFatal(messages, "FATAL: could not recognise file format (ascii, float or double) for " + file,
               kGridReadErrorCode);
  }
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing grid " + file, kGridCloseErrorCode);

  header_ncols = static_cast<int>(std::floor(header[0]));
  header_nrows = static_cast<int>(std::floor(header[1]));
  header_xllcorner = header[2];
  header_yllcorner = header[3];
  header_cellsize = header[4];
  header_nodata_value = header[5];
}

void defaultini::RankZones(grid_table& table, const grid_header& domain) {
  const grid_entry& zone_entry = table[1];
  *messages << "ranking zones from " << zone_entry.file_name << " for " << name << "[end-entry]";

  zone_grid_ranking ranking;
  switch (RankZoneGrid(zone_entry.data, domain.nrows, domain.ncols, domain.nodata_value, domain.cellsize,
                       ranking)) {
    case zone_ranking_error::none:
      break;
    case zone_ranking_error::invalid_code:
      *messages << "FATAL: invalid zone code in " << zone_entry.file_name
                << "!\n (codes has to be between 0 and " << kLargestZoneCode << ")!"
                << "[end-entry]";
      throw ErrorCode{kInvalidZoneCodeError};
    case zone_ranking_error::too_many_zones:
      *messages << "FATAL: too much zones in " << zone_entry.file_name << ", (max. " << kZoneLimit << ")!"
                << "[end-entry]";
      throw ErrorCode{kTooManyZonesError};
    case zone_ranking_error::no_valid_cell:
      *messages << "FATAL: all cells in the zone grid " << zone_entry.file_name << " are NODATA!"
                << "[end-entry]";
      throw ErrorCode{kAllZonesNodataError};
  }

  zone_records = std::move(ranking.zones);
  zone_codes = std::move(ranking.code_map);
  row_range_list = std::move(ranking.rows);
  zone_table = zone_records.data();
  zone_code_map = zone_codes.data();
  row_ranges = row_range_list.data();
  zone_count = ranking.zone_count;
  max_zone_code = ranking.max_zone_code;
}

}  // namespace velmo
