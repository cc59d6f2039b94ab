// Data assimilation ("[data_assimilation]"): at the dates of its list files,
// observed grids replace grids of the grid table and observed levels set the
// level and volume of reservoirs and lakes.
//
//   [data_assimilation]
//   1       flow control parameter
//   60      time interval in minutes
//   2       number of data-assimilation rules
//   grid {
//     grid-ID = snow_storage_total; listfilename = swe.txt;
//     options { split-into-liquid-and-solid = true; weighing-by-glacierized-fraction = false;
//               default-liquid-percentage = 10; }
//   }
//   reservoir { lake-ID = 3; AverageWaterTable = 501.2; listfilename = levels.txt;
//               options { format = bafu; skiprows = 0; } }
//
// A rule block starts with "grid" or "reservoir" and ends where its braces
// close. A grid rule replaces the grid "grid-ID"; with the split it also
// scales the liquid and solid snow storages (and with the glacier weighting
// those on the glacier) to the new total (snow_split.h). A reservoir rule
// sets a reservoir's level and its volume by the lake's level-volume table,
// or a reservoir's prismatic relation V = V0 + (W - W0)·A0.
//
// A grid list, and a "velmo" level list: a line of text, four header items of
// four words and a value (three numbers, then a word), then the records:
// year, month, day, hour and a grid file or a level. A "bafu" level list:
// three lines of head, then a record a line in fixed columns
// (assimilation_lists.h). Records apply at the step whose date, on the whole
// hour, is theirs; records between steps are passed over with a WARNING, and
// records of one date apply in list order, the last winning.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "routing/assimilation_lists.h"
#include "setup/teilmod.h"

namespace velmo {

class section_reader;
class SP_class;
class data_assimilation;

inline constexpr const char* kDataAssimilationModuleName = "data_assimilation";

// Codes of the data assimilation.
inline constexpr int kAssimilationListCode = 1200;    // list file cannot be opened
inline constexpr int kAssimilationDateCode = 1205;    // a record's date is no date
inline constexpr int kAssimilationTargetCode = 1210;  // "grid-ID" is no grid
inline constexpr int kAssimilationLiquidCode = 1211;  // "snowstorage_liquid" missing
inline constexpr int kAssimilationSolidCode = 1212;   // "snowstorage_solid" missing
inline constexpr int kAssimilationGlacierTotalCode =
    1214;  // "TotalSnowStorage_onGlacier" or "GlacierizedCells"
inline constexpr int kAssimilationGlacierSolidCode = 1215;   // "SolidSnowStorage_onGlacier" missing
inline constexpr int kAssimilationGlacierLiquidCode = 1216;  // "LiquidSnowStorage_onGlacier" missing
inline constexpr int kAssimilationReservoirCode = 1220;      // no such reservoir, unknown format, no relation
inline constexpr int kAssimilationRuleCode = 1299;           // any other fault of a rule

// Writes `text` in the frame of the data assimilation's FATAL entries and
// throws `code`.
[[noreturn]] void RaiseAssimilationError(MessageStream* messages, const std::string& text, int code);

// ---------------------------------------------------------------- rules as read

struct grid_rule {
  std::string grid;                // "grid-ID"
  std::string list_file;           // "listfilename"
  bool split = false;              // "split-into-liquid-and-solid"
  bool glacier = false;            // "weighing-by-glacierized-fraction"
  double liquid_percentage = 0.0;  // "default-liquid-percentage", 0..100
};

enum class level_format { velmo, bafu };

struct reservoir_rule {
  int reservoir = 0;                 // "lake-ID"
  double average_water_table = 0.0;  // "AverageWaterTable", m (kept, not used)
  std::string list_file;             // "listfilename"
  std::string format_name;           // "format" as given; empty without "options"
  level_format format = level_format::velmo;
  int skip_rows = 0;  // "skiprows": lines skipped after each applied record
};

// The body of a rule block: the text inside its outer braces (nested blocks
// included). Empty without a "{".
std::string RuleBody(const std::string& block);

// Reads the keys of rule `number`. A missing key, a value that is no number
// where one is due and a percentage outside 0..100 are 1299; a format that
// names neither "velmo" nor "bafu" is 1220. Each writes its entry first.
grid_rule ParseGridRule(const std::string& block, int number, MessageStream* messages);
reservoir_rule ParseReservoirRule(const std::string& block, int number, MessageStream* messages);

// ---------------------------------------------------------------- rules

// What every rule shares: its list file, read record by record in step with
// the model's dates.
class data_assimilation_entity {
 public:
  // `label` names the rule in entries ("grid-type data assimilation in
  // entity <grid>").
  data_assimilation_entity(data_assimilation& owner, std::string type, std::string text, std::string label);
  // Closes the list file.
  virtual ~data_assimilation_entity();
  data_assimilation_entity(const data_assimilation_entity&) = delete;
  data_assimilation_entity& operator=(const data_assimilation_entity&) = delete;

  // Applies the records of the step of this date.
  virtual void Apply(int minute, int hour, int day, int month, int year) = 0;

  const std::string& Type() const { return type_; }
  const std::string& Text() const { return text_; }
  // Whether a record waits in the list, and its date.
  bool Pending() const { return pending_; }
  const model_date& NextDate() const { return next_date_; }

 protected:
  // Opens the list file (1200).
  void OpenList(const std::string& file);
  // The four header items after the first line (1299 when they are not four
  // items of four words and a value, the first three numbers; 1205 when the
  // four words of an item are a date, the first record in the place of a
  // head line that is missing).
  void ReadHeader(std::array<double, 3>& numbers, std::string& word);
  // A head line of the list holds the dated record `record`: 1205 naming the
  // list and the line.
  [[noreturn]] void RefuseRecordInHeader(const std::string& record, int line) const;
  // The next record into next_date_ and the rule's own value; false at the
  // end of the list.
  virtual bool ReadRecord() = 0;
  // A record of tokens: year, month, day, hour and `value`; false at the end
  // of the list (a record cut short by it gets a WARNING). A date that is no
  // date is 1205.
  bool ReadTokenRecord(std::string& value);
  // Takes the date of the record just read (1205 when it is none).
  void SetRecordDate(int year, int month, int day, int hour);
  // Makes the first record at or after the start the next one; records
  // before it are passed over (with a dot at each new month when asked).
  void FindFirstRecord(bool progress_dots);
  // Whether a record is due at the step of this date: records before it are
  // passed over first.
  bool FirstRecordDue(int hour, int day, int month, int year);
  // After a record has been applied: skips the rows, reads the next record
  // and says whether it is due at the same step.
  bool NextRecordDue();
  // "<file>, line <n>" of the record just read.
  std::string RecordPlace() const;
  [[noreturn]] void Fail(const std::string& text, int code) const;

  data_assimilation& owner_;
  MessageStream* messages_;
  std::string label_;
  list_reader list_;
  std::string list_name_;
  int skip_rows_ = 0;

 private:
  void Advance();
  void PassOver();

  std::string type_;
  std::string text_;
  model_date next_date_{};  // year, month, day, hour of the next record
  int next_line_ = 0;
  bool pending_ = false;
  bool passed_over_reported_ = false;
  int hour_shift_ = 0;
  std::int64_t start_time_ = 0;  // minutes of the calendar (assimilation_lists.h)
  std::int64_t current_time_ = 0;
  std::int64_t next_time_ = 0;
};

class data_assimilation_grid_entity : public data_assimilation_entity {
 public:
  // Looks up the target and the storages the switches need (1210 to 1216),
  // opens the list (1200), reads its header and finds the first record.
  data_assimilation_grid_entity(data_assimilation& owner, const std::string& text, const grid_rule& rule);

  void Apply(int minute, int hour, int day, int month, int year) override;

 private:
  bool ReadRecord() override;
  // Reads the record's grid and puts it in place.
  void ApplyRecord();
  double** StorageGrid(const std::string& grid_name, int code, bool glacier_text);

  grid_rule rule_;
  int target_index_ = 0;
  double** target_ = nullptr;
  double** liquid_ = nullptr;          // "snowstorage_liquid"
  double** solid_ = nullptr;           // "snowstorage_solid"
  double** glacier_total_ = nullptr;   // "TotalSnowStorage_onGlacier"
  double** glacier_solid_ = nullptr;   // "SolidSnowStorage_onGlacier"
  double** glacier_liquid_ = nullptr;  // "LiquidSnowStorage_onGlacier"
  double** glacierized_ = nullptr;     // "GlacierizedCells"
  int target_first_row_ = 1;           // rows of the target grid
  int target_last_row_ = 0;
  int split_first_row_ = 1;  // rows every grid of the split has
  int split_last_row_ = 0;
  std::array<double, 3> header_numbers_{};
  std::string header_word_;
  std::string next_grid_file_;
  owned_matrix scratch_;  // the record's grid as read
};

class data_assimilation_reservoir_entity : public data_assimilation_entity {
 public:
  // Finds the reservoir (1220; also for a reservoir that is no lake and has
  // no area, whose level gives no volume), opens the list (1200), reads its
  // head and finds the first record.
  data_assimilation_reservoir_entity(data_assimilation& owner, const std::string& text,
                                     const reservoir_rule& rule);

  void Apply(int minute, int hour, int day, int month, int year) override;

 private:
  bool ReadRecord() override;
  bool ReadBafuRecord();
  void ApplyLevel();

  reservoir_rule rule_;
  SP_class* reservoir_ = nullptr;
  std::array<double, 3> header_numbers_{};
  std::string header_word_;  // the fourth "velmo" item, or a "bafu" list's first line
  double next_level_ = 0.0;  // m a.s.l.
};

// ---------------------------------------------------------------- module

class data_assimilation : public teilmodellklasse {
 public:
  // Reads the section head and, when on, the rules; `reservoir_list` holds
  // the routing model's reservoirs and lakes. A failure writes its entry and
  // throws its code.
  data_assimilation(MessageStream* stream, const model_settings& settings, grid_table* shared_grids,
                    std::vector<SP_class*> reservoir_list);
  ~data_assimilation() override;

  // Deletes the rules (which closes their lists).
  void CleanUp() override;
  // Tracer storages of the base, when on; SetUpTracers throws a code it gets.
  void SetUpTracers(int& error, int count, const std::vector<tracer_description>* descriptions) override;
  void FreeTracers() override;

  // The grid rules of the step in rule order, then the reservoir rules.
  virtual void RunTimeStep(int minute, int hour, int day, int month, int year);
  // Nothing is buffered.
  virtual void FlushBuffers() {}

  int rule_count = 0;
  std::vector<std::unique_ptr<data_assimilation_entity>> rules;  // in control-file order
  std::vector<SP_class*> reservoirs;                             // borrowed
  // "ponding_storage" and "lake_codes", needed once a rule sets a lake.
  int ponding_index = 0;
  int lake_codes_index = 0;

 private:
  void ReadRules(section_reader& in);
  void BuildRule(const std::string& block, int number);
};

}  // namespace velmo
