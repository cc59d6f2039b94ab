// The section "[routing_model]" as plain data: the head values, the column
// descriptors of the observed-discharge table and the routing descriptions,
// and the parser of one description text ("TG", "OL", "SUMTRIB", "ZL",
// "AL", "SP" parts). The parser checks the form of a description and the
// inflows of all descriptions; whether their codes name subbasins is checked
// where the elements are built.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "routing/channel_hydraulics.h"
#include "setup/output_settings.h"

namespace velmo {

// Keywords of the routing descriptions.
inline constexpr const char* kOutletKeyword = "TG";
inline constexpr const char* kTributaryKeyword = "OL";
inline constexpr const char* kSummedKeyword = "SUMTRIB";
inline constexpr const char* kJoinKeyword = "&";
inline constexpr const char* kInflowKeyword = "ZL";
inline constexpr const char* kAbstractionKeyword = "AL";
inline constexpr const char* kReservoirKeyword = "SP";

// Position of the first occurrence of `keyword` at or after `from` that
// stands as a word: no letter, digit or underscore before it, and no letter
// or underscore after it (a digit may follow: "OL3"). "&" is found anywhere.
// std::string::npos when there is none.
std::size_t FindKeyword(const std::string& text, const std::string& keyword, std::size_t from = 0);
// Occurrences of `keyword` in `text` as found by FindKeyword.
int CountOccurrences(const std::string& text, const std::string& keyword);
// Whether a line holds any of the keywords that open or continue a
// description ("TG", "OL", "SUMTRIB", "ZL", "AL", "SP").
bool IsDescriptionLine(const std::string& line);

// Keyword counts of a text.
struct keyword_counts {
  int outlets = 0;  // lines with "TG"
  int tributaries = 0;
  int summed = 0;
  int joins = 0;  // "&"
  int inflows = 0;
  int abstractions = 0;
  int reservoirs = 0;
  keyword_counts& operator+=(const keyword_counts& other);
};
// Counts of one text; "TG" counts once however often it occurs.
keyword_counts CountKeywords(const std::string& text);

enum class channel_kind { tributary, summed, inflow };
// Inflow modes; the numbers are those of the state and abstraction records.
enum class inflow_mode { constant = 1, internal = 3, external = 4, unknown = 0 };

// One channel of a description.
struct channel_part {
  channel_kind kind = channel_kind::tributary;
  int code = 0;             // subbasin code; for an inflow its number
  std::vector<int> joined;  // summed channel: the codes after "&"
  inflow_mode mode = inflow_mode::unknown;
  std::string mode_word;  // inflow: the word after "="
  double constant = 0.0;  // inflow of mode "constant", m3/s
  // Inflow of mode "extern": its table, the data row its start search begins
  // at (from 1) and the column it is read from (5 the first value column).
  std::string file;
  int start_row = 0;
  int column = 0;
  std::array<double, kChannelValueCount> values{};
};

// Modes of an abstraction; the numbers are those of the result records.
enum class abstraction_mode {
  none = 0,
  internal = 3,        // "intern": threshold, fraction, maximum; to an internal inflow
  external = 4,        // "extern": the same, out of the system
  from_file = 5,       // "from_file": a column of a table, out of the system
  internal_rule = 6,   // "intern_with_rule": a rule on the outlet flow, to an internal inflow
  external_rule = 7,   // "extern_with_rule": the same, out of the system
  reservoir_rule = 8,  // "intern_with_rule_from_reservoir": a rule on the volume, drawn by the reservoir
};
// The mode of a word, none for a word that names none.
abstraction_mode AbstractionMode(const std::string& word);
// Whether the water goes to an internal inflow.
inline bool IsInternal(abstraction_mode mode) {
  return mode == abstraction_mode::internal || mode == abstraction_mode::internal_rule ||
         mode == abstraction_mode::reservoir_rule;
}

// An "AL" part: "AL n = mode", then by mode the result file, threshold,
// fraction and maximum with a unit, or "input_file" with its column.
struct abstraction_part {
  std::string text;  // from "AL" to the next part
  int number = 0;    // also the number of the internal inflow it feeds
  abstraction_mode mode = abstraction_mode::none;
  std::string mode_word;
  std::string result_file;  // modes 4, 5, 7
  std::string input_file;   // mode 5, used as written
  int column = 0;           // mode 5, from 1
  double threshold = 0.0;   // modes 3, 4: as given (depth per step, or m3/s with the unit)
  double fraction = 0.0;
  double maximum = 0.0;
  bool discharge_unit = false;  // threshold and maximum in m3/s
};

// An "SP" part: the reservoir's code and its keys.
inline constexpr double kDefaultMinimumStep = 60.0;  // s
struct reservoir_part {
  std::string text;  // from "SP" to the next part
  int code = 0;
  std::string result_file;
  double initial_volume = 0.0;                // "V0", m3
  double area = 0.0;                          // "A0", m2
  double level = 0.0;                         // "W0", m a.s.l.
  double minimum_step = kDefaultMinimumStep;  // "dTmin", s
  int running_average_hours = 0;              // "UseRunningAvg"
};

// One routing description: the outlet and the channels that reach it, in row
// order (tributaries, summed channels, inflows), its abstractions and
// reservoirs in the order they stand.
struct routing_description {
  std::string text;  // the lines joined with a blank
  int outlet_code = 0;
  double area = 0.0;     // km2
  double divisor = 0.0;  // area divisor D
  keyword_counts counts;
  std::vector<channel_part> channels;
  std::vector<abstraction_part> abstractions;
  std::vector<reservoir_part> reservoirs;
};

// A description that cannot be parsed: what was looked for, in words
// ("the code after \"OL\"", "value 3 of \"OL 7\"").
struct description_error {
  std::string what;
};
// A part whose form is right but whose content cannot be used: the FATAL
// text (without "FATAL: ") and its code.
struct part_error {
  int code = 0;
  std::string message;
};
inline constexpr int kAbstractionModeCode = 44;
inline constexpr int kReservoirKeyCode = 35;
inline constexpr int kInflowErrorCode = 42;
// Parses a description text; throws description_error, or part_error for an
// abstraction mode that does not exist (44) or a reservoir key that is
// missing or out of range (35).
routing_description ParseRoutingDescription(const std::string& text);
// Checks the inflows ("ZL") of the descriptions, numbered from 1 in their
// order: each inflow number within 1..inflow_count (the "ZL" of the section),
// named in one description only, with a mode that exists. Throws part_error
// (42); `module` names the routing model in the entry of a number beyond the
// count.
void CheckInflows(const std::vector<routing_description>& descriptions, int inflow_count,
                  const std::string& module);

// A column of the observed-discharge table that belongs to a subbasin.
struct column_descriptor {
  int code = 0;
  int column = 0;
};

// The section as read.
struct routing_parameters {
  wq_settings wq;  // line 3
  statistics_file statistics;
  std::string observed_file;
  std::vector<column_descriptor> columns;
  int efficiency_offset = 0;                      // steps left out of the efficiency sums
  std::vector<routing_description> descriptions;  // control-file order
  keyword_counts totals;                          // over every description line of the section
};

// Whether the w-q settings of line 3 can be used: qmin > 0, qmax >= qmin,
// 1 <= n <= 100000, 1 <= S <= 100000, all finite.
inline constexpr double kMaxWqIntervals = 100000.0;
inline constexpr int kMaxSubintervals = 100000;
bool ValidWqSettings(const wq_settings& settings);

}  // namespace velmo
