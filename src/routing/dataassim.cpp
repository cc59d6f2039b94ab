// Data assimilation: the module, the list handling every rule shares, grid rules and reservoir rules.
#include "routing/dataassim.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/texthelpers.h"
#include "routing/level_volume.h"
#include "routing/reservoir.h"
#include "routing/snow_split.h"
#include "setup/section_reader.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "dataassim";
constexpr const char* kMpiRegionsName = "MPIRegions";
constexpr const char* kMpiHelperName = "MPIHelper";
constexpr const char* kPondingName = "ponding_storage";
constexpr const char* kLakeCodesName = "lake_codes";
constexpr const char* kLiquidName = "snowstorage_liquid";
constexpr const char* kSolidName = "snowstorage_solid";
constexpr const char* kGlacierTotalName = "TotalSnowStorage_onGlacier";
constexpr const char* kGlacierSolidName = "SolidSnowStorage_onGlacier";
constexpr const char* kGlacierLiquidName = "LiquidSnowStorage_onGlacier";
constexpr const char* kGlacierizedName = "GlacierizedCells";
constexpr const char* kGridType = "grid";
constexpr const char* kReservoirType = "reservoir";
// The region of the cells this process computes.
constexpr double kOwnRegion = 0.0;
// Header items of a list: four of four words and a value.
constexpr int kHeaderItems = 4;
constexpr int kHeaderWords = 4;
// Lines of a "bafu" list's head after its first line.
constexpr int kBafuHeadLinesSkipped = 2;
// Year, month, day and hour of a record.
constexpr int kDateFields = 4;
// Hyphens of the frame of the FATAL entries: before and after the title, and
// the closing line.
constexpr int kFrameLead = 22;
constexpr int kFrameTrail = 19;
constexpr int kFrameClose = 71;

std::string NotAvailableText(const std::string& grid_name) {
  return "entity " + grid_name + " not available as grid in the actual model configuration";
}

// Rows of the domain that the data of a grid-table entry has; every row when
// the entry gives none.
row_range EntryRows(const grid_entry& entry, int nrows) {
  if (entry.last_row < 1) return {1, nrows};
  return {std::max(1, entry.first_row), std::min(nrows, entry.last_row)};
}

std::string DateText(const model_date& date) {
  std::ostringstream text;
  text << std::setfill('0') << std::setw(4) << date.year << '-' << std::setw(2) << date.month << '-'
       << std::setw(2) << date.day << ' ' << std::setw(2) << date.hour << ":00";
  return text.str();
}

}  // namespace

void RaiseAssimilationError(MessageStream* messages, const std::string& text, int code) {
  *messages << "FATAL: \n"
            << std::string(kFrameLead, '-') << " error in data assimilation model "
            << std::string(kFrameTrail, '-') << " \n"
            << text << "\n"
            << std::string(kFrameClose, '-') << "\n"
            << "[end-entry]";
  throw ErrorCode{code};
}

// ============================================================== common part

data_assimilation_entity::data_assimilation_entity(data_assimilation& owner, std::string type,
                                                   std::string text, std::string label)
    : owner_(owner),
      messages_(owner.messages),
      label_(std::move(label)),
      type_(std::move(type)),
      text_(std::move(text)) {
  hour_shift_ = AssimilationHourShift(owner.time_interval, owner.min_to_int_end);
  const model_date& start = owner.start_date;
  const auto start_time = CalendarMinutes(start.year, start.month, start.day, start.hour, hour_shift_);
  // The set-up has checked the start date; an unreadable one passes no record over.
  start_time_ = start_time.value_or(std::numeric_limits<std::int64_t>::min());
}

data_assimilation_entity::~data_assimilation_entity() { list_.Close(); }

void data_assimilation_entity::Fail(const std::string& text, int code) const {
  RaiseAssimilationError(messages_, text, code);
}

std::string data_assimilation_entity::RecordPlace() const {
  return list_name_ + ", line " + std::to_string(list_.LineNumber());
}

void data_assimilation_entity::OpenList(const std::string& file) {
  list_name_ = file;
  if (!list_.Open(file))
    Fail("error opening input list file " + file + " for " + label_, kAssimilationListCode);
}

void data_assimilation_entity::RefuseRecordInHeader(const std::string& record, int line) const {
  Fail("error reading datetime format in " + list_name_ + " for " + label_ + ": line " +
           std::to_string(line) + " holds a dated record (" + record +
           ") where the head of the list is due; a line of the head is "
           "missing",
       kAssimilationDateCode);
}

void data_assimilation_entity::ReadHeader(std::array<double, 3>& numbers, std::string& word) {
  std::string first_line;
  list_.Line(first_line);
  std::string token;
  for (int item = 0; item < kHeaderItems; ++item) {
    // Four words that are a date start a record, not a header item.
    std::array<int, kDateFields> date{};
    bool dated = true;
    std::string words;
    for (int w = 0; w < kHeaderWords; ++w) {
      if (!list_.Token(token))
        Fail("the list file " + list_name_ + " ends in its header (item " + std::to_string(item + 1) +
                 " of four, each four words and a value) for " + label_,
             kAssimilationRuleCode);
      dated = dated && ParseWholeNumber(token, date[static_cast<std::size_t>(w)]);
      words += (w > 0 ? " " : "") + token;
    }
    if (dated && CalendarMinutes(date[0], date[1], date[2], date[3], 0))
      RefuseRecordInHeader(words, list_.LineNumber());
    const bool read = list_.Token(token);
    const bool number = read && (item == kHeaderItems - 1 || ParseDecimalNumber(token, numbers[item]));
    if (!number)
      Fail("header item " + std::to_string(item + 1) + " of the list file " + list_name_ + " (line " +
               std::to_string(list_.LineNumber()) + ") for " + label_ +
               (read ? " ends in \"" + token + "\", not in a number"
                     : " ends before its value: four words and a value are due"),
           kAssimilationRuleCode);
    if (item == kHeaderItems - 1) word = token;
  }
}

bool data_assimilation_entity::ReadTokenRecord(std::string& value) {
  std::array<std::string, kDateFields> fields;
  int read = 0;
  while (read < kDateFields && list_.Token(fields[static_cast<std::size_t>(read)])) ++read;
  const int line = list_.LineNumber();
  if (read < kDateFields || !list_.Token(value)) {
    // The end of the list; a record it cuts short is no record.
    if (read > 0)
      *messages_ << "WARNING: data assimilation: the last record of " << RecordPlace()
                 << " is incomplete and not taken"
                 << "[end-entry]";
    return false;
  }
  std::array<int, kDateFields> date{};
  for (std::size_t i = 0; i < date.size(); ++i) {
    if (!ParseWholeNumber(fields[i], date[i]))
      Fail("error reading datetime format in " + list_name_ + " for " + label_ + " (line " +
               std::to_string(line) + ": " + fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3] +
               ")",
           kAssimilationDateCode);
  }
  SetRecordDate(date[0], date[1], date[2], date[3]);
  return true;
}

void data_assimilation_entity::SetRecordDate(int year, int month, int day, int hour) {
  next_date_ = model_date{0, hour, day, month, year};
  next_line_ = list_.LineNumber();
  const auto time = CalendarMinutes(year, month, day, hour, hour_shift_);
  if (!time)
    Fail("error reading datetime format in " + list_name_ + " for " + label_ + " (line " +
             std::to_string(next_line_) + ": year " + std::to_string(year) + ", month " +
             std::to_string(month) + ", day " + std::to_string(day) + ", hour " + std::to_string(hour) +
             " is no date)",
         kAssimilationDateCode);
  next_time_ = *time;
}

void data_assimilation_entity::Advance() { pending_ = ReadRecord(); }

void data_assimilation_entity::FindFirstRecord(bool progress_dots) {
  Advance();
  std::string dots;
  int month = next_date_.month;
  while (pending_ && next_time_ < start_time_) {
    Advance();
    if (progress_dots && pending_ && next_date_.month != month) dots += '.';
    month = next_date_.month;
  }
  if (!dots.empty()) *messages_ << dots << "[end-entry]";
  if (!pending_)
    *messages_ << "WARNING: data assimilation: the list file " << list_name_
               << " holds no record at or after "
               << "the start of the model; its rule (" << label_ << ") changes nothing"
               << "[end-entry]";
}

void data_assimilation_entity::PassOver() {
  const std::string place = list_name_ + ", line " + std::to_string(next_line_);
  if (!passed_over_reported_) {
    *messages_ << "WARNING: data assimilation: the record of " << DateText(next_date_) << " in " << place
               << " falls on no step of the model and is passed over (" << label_
               << "); records passed over later are listed as DEBUG entries"
               << "[end-entry]";
    passed_over_reported_ = true;
  } else {
    *messages_ << "DEBUG: data assimilation: record of " << DateText(next_date_) << " in " << place
               << " passed over"
               << "[end-entry]";
  }
  Advance();
}

bool data_assimilation_entity::FirstRecordDue(int hour, int day, int month, int year) {
  if (!pending_) return false;
  const auto now = CalendarMinutes(year, month, day, hour, hour_shift_);
  if (!now) return false;
  current_time_ = *now;
  if (next_time_ > current_time_) return false;
  while (pending_ && next_time_ < current_time_) PassOver();
  return pending_ && next_time_ == current_time_;
}

bool data_assimilation_entity::NextRecordDue() {
  if (skip_rows_ > 0) list_.SkipLines(skip_rows_);
  Advance();
  return pending_ && next_time_ == current_time_;
}

// ============================================================== grid rules

data_assimilation_grid_entity::data_assimilation_grid_entity(data_assimilation& owner,
                                                             const std::string& text, const grid_rule& rule)
    : data_assimilation_entity(owner, kGridType, text, "grid-type data assimilation in entity " + rule.grid),
      rule_(rule) {
  target_index_ = owner.FindGrid(rule.grid, true);
  if (target_index_ > 0) target_ = (*owner.grids)[target_index_].data;
  if (!target_) Fail(NotAvailableText(rule.grid), kAssimilationTargetCode);
  (*owner.grids)[target_index_].read_in_steps = true;
  const row_range target_rows = EntryRows((*owner.grids)[target_index_], owner.nrows);
  target_first_row_ = target_rows.first;
  target_last_row_ = target_rows.last;
  split_first_row_ = std::max(owner.first_row, target_first_row_);
  split_last_row_ = std::min(owner.last_row, target_last_row_);
  if (rule.split) {
    liquid_ = StorageGrid(kLiquidName, kAssimilationLiquidCode, false);
    solid_ = StorageGrid(kSolidName, kAssimilationSolidCode, false);
  }
  if (rule.glacier) {
    glacier_total_ = StorageGrid(kGlacierTotalName, kAssimilationGlacierTotalCode, true);
    glacier_solid_ = StorageGrid(kGlacierSolidName, kAssimilationGlacierSolidCode, true);
    glacier_liquid_ = StorageGrid(kGlacierLiquidName, kAssimilationGlacierLiquidCode, true);
    glacierized_ = StorageGrid(kGlacierizedName, kAssimilationGlacierTotalCode, true);
  }
  OpenList(rule.list_file);
  ReadHeader(header_numbers_, header_word_);
  FindFirstRecord(false);
  scratch_ = owned_matrix(owner.matrix(1, owner.nrows, 1, owner.ncols, owner.nrows));
}

double** data_assimilation_grid_entity::StorageGrid(const std::string& grid_name, int code,
                                                    bool glacier_text) {
  const int index = owner_.FindGrid(grid_name, true);
  double** data = index > 0 ? (*owner_.grids)[index].data : nullptr;
  if (!data)
    Fail(NotAvailableText(grid_name) +
             (glacier_text
                  ? "\nset \"weighing-by-glacierized-fraction\" to false when glacier model is inactive "
                  : ""),
         code);
  (*owner_.grids)[index].read_in_steps = true;
  // The split works only on rows every grid it changes has.
  const row_range rows = EntryRows((*owner_.grids)[index], owner_.nrows);
  split_first_row_ = std::max(split_first_row_, rows.first);
  split_last_row_ = std::min(split_last_row_, rows.last);
  return data;
}

bool data_assimilation_grid_entity::ReadRecord() {
  if (!ReadTokenRecord(next_grid_file_)) return false;
  UseSlashes(next_grid_file_);
  return true;
}

void data_assimilation_grid_entity::Apply(int /*minute*/, int hour, int day, int month, int year) {
  if (!FirstRecordDue(hour, day, month, year)) return;
  do {
    ApplyRecord();
  } while (NextRecordDue());
}

void data_assimilation_grid_entity::ApplyRecord() {
  const grid_entry& entry = (*owner_.grids)[target_index_];
  double** grid = scratch_.get();
  owner_.ReadGrid(next_grid_file_, grid, entry.fillcode, false, true, entry.defaultValue, true);
  const double nodata = owner_.nodata_value;
  const int ncols = owner_.ncols;
  // A cell the new grid leaves without value keeps its old one.
  for (int r = target_first_row_; r <= target_last_row_; ++r) {
    const double* from = grid[r];
    double* to = target_[r];
    for (int c = 1; c <= ncols; ++c)
      if (from[c] != nodata) to[c] = from[c];
  }
  if (!rule_.split) return;

  double** zones = owner_.zone_grid;
  double** regions = owner_.mpi_regions_data;
  const double percentage = rule_.liquid_percentage;
  for (int r = split_first_row_; r <= split_last_row_; ++r) {
    const row_range range = owner_.row_ranges ? owner_.row_ranges[r] : row_range{1, ncols};
    for (int c = range.first; c <= range.last; ++c) {
      const double observed = grid[r][c];
      if (zones[r][c] == nodata || (regions && regions[r][c] != kOwnRegion) || observed == nodata) continue;
      // Snow cannot be less than none.
      const double total = std::max(0.0, observed);
      target_[r][c] = total;
      if (!rule_.glacier) {
        const snow_pair split = SplitSnowTotal(total, {liquid_[r][c], solid_[r][c]}, percentage);
        liquid_[r][c] = split.liquid;
        solid_[r][c] = split.solid;
        continue;
      }
      const cell_snow split = SplitSnowTotalOverGlacier(total,
                                                        {{liquid_[r][c], solid_[r][c]},
                                                         {glacier_liquid_[r][c], glacier_solid_[r][c]},
                                                         glacier_total_[r][c]},
                                                        glacierized_[r][c], percentage);
      liquid_[r][c] = split.off_glacier.liquid;
      solid_[r][c] = split.off_glacier.solid;
      glacier_liquid_[r][c] = split.on_glacier.liquid;
      glacier_solid_[r][c] = split.on_glacier.solid;
      glacier_total_[r][c] = split.glacier_total;
    }
  }
}

// ============================================================== reservoir rules

data_assimilation_reservoir_entity::data_assimilation_reservoir_entity(data_assimilation& owner,
                                                                       const std::string& text,
                                                                       const reservoir_rule& rule)
    : data_assimilation_entity(
          owner, kReservoirType, text,
          "reservoir-type data assimilation for reservoir " + std::to_string(rule.reservoir)),
      rule_(rule) {
  skip_rows_ = rule.skip_rows;
  const std::string id = std::to_string(rule.reservoir);
  const auto found = std::find_if(owner.reservoirs.begin(), owner.reservoirs.end(),
                                  [&](const SP_class* r) { return r && r->Code() == rule.reservoir; });
  if (found == owner.reservoirs.end())
    Fail("reservoir " + id + " as defined for data assimilation not found in the actual model configuration",
         kAssimilationReservoirCode);
  reservoir_ = *found;
  if (reservoir_->IsLake()) {
    // A lake's level is the ponded water of its cells.
    if (owner.ponding_index == 0) owner.ponding_index = owner.FindRequiredGrid(kPondingName);
    if (owner.lake_codes_index == 0) owner.lake_codes_index = owner.FindRequiredGrid(kLakeCodesName);
  } else if (reservoir_->Parameters().area <= 0.0) {
    Fail("reservoir " + id +
             " as defined for data assimilation has no level-volume relation: it is no lake, and without an "
             "area (A0) its level gives no volume",
         kAssimilationReservoirCode);
  }
  OpenList(rule.list_file);
  if (rule.format == level_format::bafu) {
    // Lines 1 to 3 are the head; a record there means a head line is missing.
    std::string line;
    for (int k = 0; k <= kBafuHeadLinesSkipped && list_.Line(line); ++k) {
      if (k == 0) header_word_ = line;
      if (level_record record; ParseBafuLine(line, record) == bafu_line_fault::none)
        RefuseRecordInHeader(line, list_.LineNumber());
    }
  } else {
    ReadHeader(header_numbers_, header_word_);
  }
  FindFirstRecord(true);
}

bool data_assimilation_reservoir_entity::ReadRecord() {
  if (rule_.format == level_format::bafu) return ReadBafuRecord();
  std::string value;
  while (ReadTokenRecord(value)) {
    if (ParseDecimalNumber(value, next_level_)) return true;
    *messages_ << "WARNING: data assimilation: the level \"" << value << "\" of " << RecordPlace()
               << " is no number; the record is skipped"
               << "[end-entry]";
  }
  return false;
}

bool data_assimilation_reservoir_entity::ReadBafuRecord() {
  std::string line;
  while (list_.Line(line)) {
    level_record record;
    const bafu_line_fault fault = ParseBafuLine(line, record);
    if (fault == bafu_line_fault::none) {
      SetRecordDate(record.year, record.month, record.day, record.hour);
      next_level_ = record.level;
      return true;
    }
    *messages_
        << "WARNING: data assimilation: line " << list_.LineNumber() << " of " << list_name_
        << (fault == bafu_line_fault::short_line
                ? " ends before its level (columns 40 to 49)"
                : " holds no number in its date (columns 23 to 35) or level (starting in columns 40 to 49)")
        << "; it is skipped"
        << "[end-entry]";
  }
  return false;
}

void data_assimilation_reservoir_entity::Apply(int /*minute*/, int hour, int day, int month, int year) {
  if (!FirstRecordDue(hour, day, month, year)) return;
  do {
    ApplyLevel();
  } while (NextRecordDue());
}

void data_assimilation_reservoir_entity::ApplyLevel() {
  const double level = next_level_;
  if (level <= owner_.nodata_value) return;
  SP_class& reservoir = *reservoir_;
  const reservoir_part& part = reservoir.Parameters();
  double volume = reservoir.IsLake() ? reservoir.LevelToVolume(level)
                                     : PrismaticVolume(level, part.level, part.initial_volume, part.area);
  if (volume < 0.0) {
    *messages_ << "WARNING: data assimilation: the level " << level << " m of reservoir " << rule_.reservoir
               << " on " << DateText(NextDate()) << " lies below the bottom of its level-volume relation; "
               << "its volume is set to 0"
               << "[end-entry]";
    volume = 0.0;
  }
  const double old_level = reservoir.level;
  const double old_volume = reservoir.volume;
  reservoir.SetLevelFromVolume(volume);
  reservoir.volume = volume;
  reservoir.level = level;
  *messages_ << "INFO: data assimilation: reservoir " << rule_.reservoir << " on " << DateText(NextDate())
             << ": level " << old_level << " -> " << level << " m, volume " << old_volume << " -> " << volume
             << " m3"
             << "[end-entry]";
}

// ============================================================== module

data_assimilation::data_assimilation(MessageStream* stream, const model_settings& settings,
                                     grid_table* shared_grids, std::vector<SP_class*> reservoir_list)
    : teilmodellklasse(stream, settings, kDataAssimilationModuleName, shared_grids, false),
      reservoirs(std::move(reservoir_list)) {
  if (flow_control_parameter == 0) return;
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  if (const int regions = FindGrid(kMpiRegionsName, true); regions > 0) {
    mpi_regions_data = (*grids)[regions].data;
    mpi_helper_data = RequiredGridData(kMpiHelperName);
  }
  section_reader in(*this, reading_on{.section_in_prompts = false});
  ReadRules(in);
  in.Close();
  ready = 1;
}

data_assimilation::~data_assimilation() = default;

void data_assimilation::BuildRule(const std::string& block, int number) {
  const std::size_t first = block.find_first_not_of(" \t");
  const std::string_view head =
      first == std::string::npos ? std::string_view{} : std::string_view(block).substr(first);
  try {
    if (head.starts_with(kGridType)) {
      rules.push_back(std::make_unique<data_assimilation_grid_entity>(
          *this, block, ParseGridRule(block, number, messages)));
    } else if (head.starts_with(kReservoirType)) {
      const reservoir_rule rule = ParseReservoirRule(block, number, messages);
      if (process_index == 0)
        rules.push_back(std::make_unique<data_assimilation_reservoir_entity>(*this, block, rule));
    } else {
      *messages << "WARNING: data assimilation rule " << number << " of " << section_buffer
                << " starts neither with \"grid\" nor with \"reservoir\" and is skipped: "
                << block.substr(0, block.find('\n')) << "[end-entry]";
    }
  } catch (ErrorCode) {
    throw;
  } catch (...) {
    RaiseAssimilationError(messages, "rule " + std::to_string(number) + " could not be built",
                           kAssimilationRuleCode);
  }
}

void data_assimilation::RunTimeStep(int minute, int hour, int day, int month, int year) {
  if (flow_control_parameter == 0) return;
  ReportProgress(minute, hour, day, month, year);
  for (auto& rule : rules)
    if (rule->Type() == kGridType) rule->Apply(minute, hour, day, month, year);
  if (process_index != 0) return;
  for (auto& rule : rules)
    if (rule->Type() == kReservoirType) rule->Apply(minute, hour, day, month, year);
}

void data_assimilation::SetUpTracers(int& error, int count,
                                     const std::vector<tracer_description>* descriptions) {
  error = 0;
  if (flow_control_parameter == 0) return;
  teilmodellklasse::SetUpTracers(error, count, descriptions);
  if (error != 0) throw ErrorCode{error};
}

void data_assimilation::FreeTracers() {
  if (flow_control_parameter != 0) teilmodellklasse::FreeTracers();
}

void data_assimilation::CleanUp() {
  if (flow_control_parameter != 0) rules.clear();
  modelobject::CleanUp();
}

}  // namespace velmo
