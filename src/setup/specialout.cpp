// Point time series of the special output: reading "[special_output]", sampling the grids every step and
// writing the rows.
#include "setup/specialout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "framework/texthelpers.h"
#include "framework/zonalstat.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr const char* kSectionName = "special_output";
constexpr const char* kSectionError = "FATAL: Error in section [special_output]: ";
constexpr const char* kFileKeyword = "file";
constexpr const char* kEntityKeyword = "entity";
constexpr const char* kMpiRegionsName = "MPIRegions";
constexpr const char* kMpiHelperName = "MPIHelper";
// Longest text of one value in "%g" with its separator, rounded up.
constexpr std::size_t kMaxValueChars = 32;

[[noreturn]] void SectionError(MessageStream* messages, const std::string& text, int code) {
  RaiseFatal(messages, kSectionError + text, code);
}

// The text value of a key the block must have.
std::string RequiredWord(MessageStream* messages, const std::string& block, const std::string& key,
                         const std::string& where) {
  if (FindKey(block, key) == std::string::npos)
    SectionError(messages, "key " + key + " not found in " + where, kSpecialOutputSectionCode);
  std::string value;
  ReadKeyString(block, key, value);
  return value;
}

// The numbers of a list key of an entity, each a whole token: a number that
// is none as a whole ("1050x", "1,5e") names itself, the key and the entity.
template <typename T>
void ReadNumberList(MessageStream* messages, const std::string& block, const std::string& key,
                    const std::string& entity, std::vector<T>& values) {
  if (FindKey(block, key) == std::string::npos) return;
  std::vector<std::string> tokens;
  SplitTokens(KeyValueText(block, key), kListSeparators, tokens);
  for (const std::string& token : tokens) {
    T value{};
    if (!ParseNumber(token, value))
      SectionError(messages,
                   "the value \"" + token + "\" of " + key + " for entity " + entity + " is no number",
                   kSpecialOutputSectionCode);
    values.push_back(value);
  }
}

std::string Formatted(const char* format, double value) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), format, value);
  return text.data();
}

}  // namespace

int PointColumn(double x, double xllcorner, double cellsize, int ncols) {
  const double column = std::ceil((x - xllcorner) / cellsize);
  return column >= 1.0 && column <= ncols ? static_cast<int>(column) : 0;
}

int PointRow(double y, double yllcorner, double cellsize, int nrows) {
  const double row = nrows - std::floor((y - yllcorner) / cellsize);
  return row >= 1.0 && row <= nrows ? static_cast<int>(row) : 0;
}

int SpecialOutputRowCapacity(int point_count) {
  const long capacity = kSpecialOutputBufferBytes / (8L * point_count + kRowDateBytes);
  return static_cast<int>(std::max(capacity, 1L));
}

bool ReadFileCount(const std::string& line, int& count, std::string& value) {
  const std::size_t key = FindKey(line, "numfiles");
  value = TrimSpace(KeyLineValue(line, key == std::string::npos ? key : line.find('=', key)));
  int parsed = 0;
  if (!ParseNumber(value, parsed) || parsed < 0) return false;
  count = parsed;
  return true;
}

// ---------------------------------------------------------------- point sets

SpecialOutputEntity::SpecialOutputEntity(const std::string& block, SpecialOutputClass& owner)
    : owner_(owner) {
  MessageStream* messages = owner.messages;
  id = RequiredWord(messages, block, "ID", "an entity");
  symbol = RequiredWord(messages, block, "Symbol", "entity " + id);
  ReadNumberList(messages, block, "Xcoords", id, x_coords);
  ReadNumberList(messages, block, "Ycoords", id, y_coords);
  ReadNumberList(messages, block, "Level", id, levels);
  if (x_coords.size() != y_coords.size())
    SectionError(messages,
                 "count of X coordinates dos not match the number of Y coordinates for entity " + id,
                 kCoordinateCountMismatchCode);
  if (!levels.empty() && levels.size() != x_coords.size())
    SectionError(messages,
                 "number of levels dos not match the number of X and Y coordinates for entity " + id +
                     ". EIther each point has a level or none has.",
                 kSpecialOutputFileCode);
  point_count = static_cast<int>(x_coords.size());

  // Every column is checked before the first row.
  for (int k = 0; k < point_count; ++k) {
    const double x = x_coords[static_cast<size_t>(k)];
    const int column = PointColumn(x, owner.xllcorner, owner.cellsize, owner.ncols);
    if (column == 0) {
      *messages << kSectionError << "x-coordinate " << x << ", defined as point " << k << " for entity " << id
                << ", is located outside the actual grid."
                << "[end-entry]";
      throw ErrorCode{kPointOutsideGridCode};
    }
    columns.push_back(column);
  }
  for (int k = 0; k < point_count; ++k) {
    const double y = y_coords[static_cast<size_t>(k)];
    const int row = PointRow(y, owner.yllcorner, owner.cellsize, owner.nrows);
    if (row == 0) {
      *messages << kSectionError << "y-coordinate " << y << ", defined as point " << k << " for entity " << id
                << ", is located outside the actual grid."
                << "[end-entry]";
      throw ErrorCode{kPointOutsideGridCode};
    }
    rows.push_back(row);
  }
  grid_index = owner.FindGrid(id, false);
  if (grid_index > 0) (*owner.grids)[grid_index].read_in_steps = true;
}

int SpecialOutputEntity::CollectValues(double* values, int position) const {
  const grid_entry* entry = grid_index > 0 ? &(*owner_.grids)[grid_index] : nullptr;
  double** data = entry ? entry->data : nullptr;
  double** regions = owner_.mpi_regions_data;
  const bool by_level = !levels.empty() && entry && entry->layers;
  for (int k = 0; k < point_count; ++k, ++position) {
    const int r = rows[static_cast<size_t>(k)];
    const int c = columns[static_cast<size_t>(k)];
    double value = kNoPointValue;
    const bool own_cell = data && regions && std::trunc(regions[r][c]) == owner_.process_index;
    const bool in_rows = r >= owner_.first_row && r <= owner_.last_row && c >= 1 && c <= owner_.ncols;
    if (own_cell && in_rows) {
      if (by_level) {
        const int level = levels[static_cast<size_t>(k)];
        if (level >= 1 && level <= entry->layer_count) value = entry->layers[r][c][level];
      } else {
        value = data[r][c];
      }
    }
    values[position] = value;
  }
  return position;
}

// ---------------------------------------------------------------- files

SpecialOutputFile::SpecialOutputFile(const std::string& block, int file_number, SpecialOutputClass& owner)
    : owner_(owner) {
  const std::string where = "the block of output file " + std::to_string(file_number);
  file_name = RequiredWord(owner.messages, block, "filename", where);
  header = RequiredWord(owner.messages, block, "header", where);
  modelobject::PrefixPath(owner.DefaultOutputDirectory.get(), file_name);

  // Braces that still balance after two faults would hide a block taken
  // into another: a file block must open with "file {", and no entity
  // block may stand inside an entity's.
  const std::size_t open = block.find('{');
  const std::string_view head = TrimSpace(std::string_view(block).substr(0, open));
  const std::size_t last_word = head.find_last_of(" \t\r\n");
  if (open == std::string::npos ||
      head.substr(last_word == std::string_view::npos ? 0 : last_word + 1) != kFileKeyword)
    SectionError(owner.messages,
                 where + " does not open with \"" + kFileKeyword + " {\" (its first line: \"" +
                     block.substr(0, block.find('\n')) + "\")",
                 kSpecialOutputSectionCode);
  std::string rest = block;
  for (std::size_t at = FindKey(rest, kEntityKeyword); at != std::string::npos;
       at = FindKey(rest, kEntityKeyword)) {
    rest.erase(0, at + std::string_view(kEntityKeyword).size());
    if (rest.find('{') == std::string::npos)
      SectionError(owner.messages, "entity without its block in braces in " + where,
                   kSpecialOutputSectionCode);
    const std::string entity = ExtractBraceBlock(rest);
    if (HoldsBlock(entity))
      SectionError(owner.messages,
                   "an entity block stands inside the block of another entity in " + where +
                       " (a \"}\" is missing before the inner one)",
                   kSpecialOutputSectionCode);
    point_sets.emplace_back(entity, owner);
    point_count += point_sets.back().point_count;
  }
  if (point_sets.empty())
    SectionError(owner.messages, "no entity in " + where + " (" + file_name + ")", kSpecialOutputSectionCode);
  row_capacity = SpecialOutputRowCapacity(point_count);
  dates_.resize(static_cast<std::size_t>(row_capacity));
  values_.resize(static_cast<std::size_t>(row_capacity) * static_cast<std::size_t>(point_count));
  WriteHeader();
}

void SpecialOutputFile::WriteHeader() {
  const char* date_columns = owner_.with_minutes ? "YY\tMM\tDD\tHH\tmm" : "YY\tMM\tDD\tHH";
  std::string by_cell = date_columns;
  std::string by_coordinates = date_columns;
  for (const SpecialOutputEntity& set : point_sets) {
    for (int k = 0; k < set.point_count; ++k) {
      const std::size_t i = static_cast<std::size_t>(k);
      const std::string level = set.levels.empty() ? "" : "/" + std::to_string(set.levels[i]);
      by_cell += "\t" + set.symbol + "/" + std::to_string(set.columns[i]) + "/" +
                 std::to_string(set.rows[i]) + level;
      by_coordinates += "\t" + set.symbol + "/" + Formatted("%lg", set.x_coords[i]) + "/" +
                        Formatted("%lg", set.y_coords[i]) + level;
    }
  }
  const std::string text = by_cell + "\n" + header + "\n" + by_coordinates + "\n";
  InterruptGuard no_interrupt;
  GridFile out(std::fopen(file_name.c_str(), "w"));
  if (!out || std::fwrite(text.data(), 1, text.size(), out.get()) != text.size() || !out.Close())
    RaiseFatal(owner_.messages,
               "FATAL: error opening file for special output of file\n" + file_name +
                   "\n-> check file name, disk space or user rights",
               kSpecialOutputFileCode);
}

void SpecialOutputFile::RecordStep(int minute, int hour, int day, int month, int year) {
  const std::size_t row = static_cast<std::size_t>(row_count);
  dates_[row] = {year, month, day, hour, minute};
  double* values = values_.data() + row * static_cast<std::size_t>(point_count);
  int position = 0;
  for (const SpecialOutputEntity& set : point_sets) position = set.CollectValues(values, position);
  ++row_count;
  if (row_count >= row_capacity) WriteRows();
}

void SpecialOutputFile::WriteRows() try {
  if (row_count == 0) return;
  InterruptGuard no_interrupt;
  MessageStream* messages = owner_.messages;
  *messages << "write " << file_name << "[end-entry]";
  const int rows = row_count;
  // Rows are never written twice, even after a failure.
  row_count = 0;
  GridFile out(std::fopen(file_name.c_str(), "a"));
  if (!out) RaiseFatal(messages, "FATAL: \nerror opening file " + file_name, kSpecialOutputWriteCode);

  const int date_fields = owner_.with_minutes ? 5 : 4;
  std::vector<char> text(static_cast<std::size_t>(date_fields + point_count) * kMaxValueChars + 1);
  char* const end = text.data() + text.size();
  const double* values = values_.data();
  for (int r = 0; r < rows; ++r) {
    const std::array<long, 5>& date = dates_[static_cast<std::size_t>(r)];
    char* p = text.data();
    for (int f = 0; f < date_fields; ++f) {
      if (f > 0) *p++ = '\t';
      p += std::snprintf(p, static_cast<std::size_t>(end - p), "%ld", date[static_cast<std::size_t>(f)]);
    }
    for (int k = 0; k < point_count; ++k, ++values) {
      *p++ = '\t';
      p = FormatGeneral(p, end, *values);
    }
    *p++ = '\n';
    const std::size_t length = static_cast<std::size_t>(p - text.data());
    if (std::fwrite(text.data(), 1, length, out.get()) != length)
      RaiseFatal(messages, "FATAL: \nerror writing file " + file_name, kSpecialOutputWriteCode);
  }
  if (!out.Close()) RaiseFatal(messages, "FATAL: \nerror writing file " + file_name, kSpecialOutputWriteCode);
  *messages << "(" << static_cast<long>(point_count + 2) * rows * 8 << " of " << kSpecialOutputBufferBytes
            << " buffer-bytes)"
            << "[end-entry]";
} catch (ErrorCode code) {
  OutputFailed(owner_.messages, code);
}

void SpecialOutputFile::Release() {
  WriteRows();
  point_sets.clear();
  dates_.clear();
  values_.clear();
  row_capacity = 0;
}

// ---------------------------------------------------------------- module

SpecialOutputClass::SpecialOutputClass(MessageStream* stream, const model_settings& settings,
                                       grid_table* shared_grids)
    : teilmodellklasse(stream, settings, kSectionName, shared_grids, false) {
  // The step of the run: the "timestep" key, else the section's interval.
  const double step = settings.timestep > 0 ? settings.timestep : time_interval;
  with_minutes = step > 0.0 && step < kMinutesPerHour;
  if (flow_control_parameter == 0) return;
  section_reader in(*this, kReadingOn);
  ReadFiles(in);
  in.Close();
}

void SpecialOutputClass::ReadFiles(section_reader& in) {
  if (const int regions = FindGrid(kMpiRegionsName, true); regions > 0)
    mpi_regions_data = (*grids)[regions].data;
  if (const int helper = FindGrid(kMpiHelperName, true); helper > 0) mpi_helper_data = (*grids)[helper].data;

  std::string line;
  if (!in.Line(line) || FindKey(line, "numfiles") == std::string::npos)
    SectionError(messages, "key numfiles not found in the line after the time interval",
                 kSpecialOutputSectionCode);
  std::string count;
  if (!ReadFileCount(line, file_count, count))
    SectionError(messages, "numfiles = " + count + " is no whole number of files (0 or more)",
                 kSpecialOutputSectionCode);

  for (int k = 1; k <= file_count; ++k) {
    BraceBlockCollector block;
    while (!block.complete()) {
      if (!in.Line(line))
        SectionError(messages, "the control file ends inside the block of output file " + std::to_string(k),
                     kSpecialOutputSectionCode);
      block.AddLine(line);
    }
    output_files.push_back(std::make_unique<SpecialOutputFile>(block.text(), k, *this));
  }
  // A block beyond numfiles would be left out without a word.
  if (in.FilledLine(line) && !IsSectionHeader(line))
    SectionError(messages,
                 "the line \"" + line + "\" follows the block of the last output file (numfiles = " +
                     std::to_string(file_count) + ")",
                 kSpecialOutputSectionCode);
}

void SpecialOutputClass::RecordStep(int minute, int hour, int day, int month, int year) {
  for (auto& file : output_files) file->RecordStep(minute, hour, day, month, year);
}

void SpecialOutputClass::FlushAll() {
  for (auto& file : output_files) file->WriteRows();
}

void SpecialOutputClass::CleanUp() {
  for (auto& file : output_files) file->Release();
  output_files.clear();
  modelobject::CleanUp();
}

}  // namespace velmo
