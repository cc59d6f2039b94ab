// The section "[routing_model]" as plain data: the head values, the column
// descriptors of the observed-discharge table and the routing descriptions,
// and the parser of one description text ("TG", "OL", "SUMTRIB", "ZL",
// "AL", "SP" parts). The parser checks the form of a description; whether
// its codes name subbasins is checked where the elements are built.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "routing/channel_hydraulics.h"

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

// One routing description: the outlet and the channels that reach it, in row
// order (tributaries, summed channels, inflows).
struct routing_description {
  std::string text;  // the lines joined with a blank
  int outlet_code = 0;
  double area = 0.0;     // km2
  double divisor = 0.0;  // area divisor D
  keyword_counts counts;
  std::vector<channel_part> channels;
  bool has_abstraction = false;
  bool has_reservoir = false;
};

// A description that cannot be parsed: what was looked for, in words
// ("the code after \"OL\"", "value 3 of \"OL 7\"").
struct description_error {
  std::string what;
};
// Parses a description text; throws description_error.
routing_description ParseRoutingDescription(const std::string& text);

// A column of the observed-discharge table that belongs to a subbasin.
struct column_descriptor {
  int code = 0;
  int column = 0;
};

// The section as read.
struct routing_parameters {
  wq_settings wq;  // line 3
  std::string statistics_file;
  int statistics_code = 0;
  std::string observed_file;
  std::vector<column_descriptor> columns;
  int efficiency_offset = 0;              // steps left out of the efficiency sums
  std::vector<std::string> descriptions;  // texts, control-file order
  keyword_counts totals;                  // over every description line of the section
};

// Whether the w-q settings of line 3 can be used: qmin > 0, qmax >= qmin,
// 1 <= n <= 100000, 1 <= S <= 100000, all finite.
inline constexpr double kMaxWqIntervals = 100000.0;
inline constexpr int kMaxSubintervals = 100000;
bool ValidWqSettings(const wq_settings& settings);

}  // namespace velmo
