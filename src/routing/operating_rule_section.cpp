// Reading the rule sections of abstractions and reservoirs, and a reservoir's hydraulic connection.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "routing/operating_rule.h"

namespace velmo {
namespace {

// Characters a number of the rule lines may hold; weekdays and hours have
// their own.
constexpr const char* kNumberCharacters = "0123456789.eE+-";
constexpr const char* kWeekdayCharacters = "1234567";
constexpr const char* kHourCharacters = "1234567890";
// Keys of the lines after the rows, in their precedence.
constexpr const char* kCapKey = "TargetCap";
constexpr const char* kWeekdaysKey = "WeekDays";
constexpr const char* kStartHourKey = "start_hour";
constexpr const char* kStopHourKey = "stop_hour";
constexpr const char* kTableIndexKey = "TableIndex";
constexpr const char* kFlowIndexWord = "Flow";
constexpr const char* kConnectionKey = "HydraulicConnection";

// The numbers of `text`: tokens between blanks, tabs or commas,
// each a number as a whole written with `characters` only. The first token
// that does not start as a number ends them; one that starts as a number but
// is none as a whole is kept as the bad token.
struct rule_numbers {
  std::vector<double> values;
  std::string bad_token;
};
rule_numbers Numbers(std::string_view text, const char* characters = kNumberCharacters) {
  rule_numbers numbers;
  size_t at = 0;
  while (true) {
    while (at < text.size() && IsNumberSeparator(text[at])) ++at;
    size_t stop = at;
    while (stop < text.size() && !IsNumberSeparator(text[stop])) ++stop;
    const std::string_view token = text.substr(at, stop - at);
    if (!StartsAsNumber(token)) return numbers;
    double value = 0.0;
    if (token.find_first_not_of(characters) != std::string_view::npos || !ParseNumber(token, value)) {
      numbers.bad_token = std::string(token);
      return numbers;
    }
    numbers.values.push_back(value);
    at = stop;
  }
}

[[noreturn]] void Fail(MessageStream* messages, const std::string& section, const std::string& what) {
  *messages << "FATAL: " << what << " in " << section << "[end-entry]";
  throw ErrorCode{kRuleErrorCode};
}

// The numbers of `text`, a line of the rule or the value of a key line; a bad
// token ends the run, naming it and the line.
std::vector<double> LineNumbers(std::string_view text, const std::string& line, const char* characters,
                                MessageStream* messages, const std::string& section) {
  rule_numbers numbers = Numbers(text, characters);
  if (!numbers.bad_token.empty())
    Fail(messages, section,
         "the value \"" + numbers.bad_token + "\" cannot be read in the line \"" + line + "\"");
  return std::move(numbers.values);
}
std::vector<double> LineNumbers(const std::string& line, MessageStream* messages,
                                const std::string& section) {
  return LineNumbers(line, line, kNumberCharacters, messages, section);
}

bool Ends(const std::string& line) { return line.find('[') != std::string::npos || IsBlankLine(line); }

// The value of a key line, after the first "=" behind its key; empty without
// one.
std::string_view KeyValue(const std::string& line, const char* key) {
  const size_t equals = line.find('=', line.find(key));
  return equals == std::string::npos ? std::string_view() : KeyLineValue(line, equals);
}

// One value per table from a key line.
std::vector<double> KeyValues(const std::string& line, const char* key, const char* characters, int tables,
                              MessageStream* messages, const std::string& section) {
  std::vector<double> values = LineNumbers(KeyValue(line, key), line, characters, messages, section);
  if (static_cast<int>(values.size()) < tables)
    Fail(messages, section,
         "\"" + std::string(key) + "\" holds " + std::to_string(values.size()) + " value(s) for " +
             std::to_string(tables) + " table(s)");
  values.resize(static_cast<size_t>(tables));
  return values;
}

std::string FormatRuleNumber(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

std::vector<int> Whole(const std::vector<double>& values) {
  std::vector<int> whole;
  for (double v : values) whole.push_back(static_cast<int>(std::clamp(v, -1e9, 1e9)));
  return whole;
}

}  // namespace

operating_rule ReadOperatingRule(const control_lines& control, const std::string& section,
                                 MessageStream* messages, bool rows_optional) {
  const std::vector<std::string>& lines = control.lines();
  const int head = control.FindSection(section);
  if (head < 0) {
    *messages << "FATAL: section " << section << " not found in control file"
              << "[end-entry]";
    throw ErrorCode{kRuleSectionMissingCode};
  }
  size_t at = static_cast<size_t>(head) + 1;
  auto line = [&](size_t i) -> const std::string& {
    static const std::string kNone;
    return i < lines.size() ? lines[i] : kNone;
  };

  operating_rule rule;
  const std::vector<double> first = LineNumbers(line(at), messages, section);
  const double row_count = first.empty() ? 0.0 : first[0];
  // A line after the stated rows that holds a row of numbers is a row the
  // count left out: read as a key line it would be lost.
  const auto refuse_row = [&](const std::string& text, int tables) {
    if (text.find(kConnectionKey) == std::string::npos && Numbers(text).values.size() >= tables + 1u)
      Fail(messages, section,
           "more rows than the count (" + FormatRuleNumber(row_count) + "): \"" + text +
               "\" follows the last row; the first line holds the number of rows, then one start day per "
               "table");
  };
  if (rows_optional && row_count == 0.0 && !first.empty()) {
    refuse_row(line(at + 1), first.size() <= 2 ? 1 : static_cast<int>(first.size()) - 1);
    return rule;
  }
  if (!(row_count >= 1.0) || row_count != std::floor(row_count))
    Fail(messages, section, "the rule has no rows (first line: \"" + line(at) + "\")");
  // More rows than lines fail at the end of the file.
  const int rows = static_cast<int>(std::min(row_count, static_cast<double>(lines.size()) + 1.0));
  const int tables = first.size() <= 2 ? 1 : static_cast<int>(first.size()) - 1;
  rule.start_day.assign(static_cast<size_t>(tables), 1);
  for (int t = 1; tables > 1 && t <= tables; ++t) {
    const double day = first[static_cast<size_t>(t)];
    const double previous = t > 1 ? first[static_cast<size_t>(t) - 1] : 0.0;
    if (day != std::floor(day) || day < 1.0 || day > kRuleDaysPerYear || day <= previous)
      Fail(messages, section,
           "the start days of the tables must rise within 1.." + std::to_string(kRuleDaysPerYear) +
               " (first line: \"" + line(at) + "\")");
    rule.start_day[static_cast<size_t>(t) - 1] = static_cast<int>(day);
  }
  ++at;

  rule.y.assign(static_cast<size_t>(tables), {});
  for (int r = 1; r <= rows; ++r, ++at) {
    const std::vector<double> values = LineNumbers(line(at), messages, section);
    if (static_cast<int>(values.size()) < tables + 1)
      Fail(messages, section,
           "row " + std::to_string(r) + " holds " + std::to_string(values.size()) + " value(s), " +
               std::to_string(tables + 1) + " needed (\"" + line(at) + "\")");
    if (r > 1 && values[0] < rule.x.back())
      Fail(messages, section,
           "the first column falls at row " + std::to_string(r) + " (\"" + line(at) + "\")");
    rule.x.push_back(values[0]);
    for (int t = 0; t < tables; ++t)
      rule.y[static_cast<size_t>(t)].push_back(values[static_cast<size_t>(t) + 1]);
  }

  rule.cap.assign(static_cast<size_t>(tables), -1.0);
  rule.weekdays.assign(static_cast<size_t>(tables), -1);
  rule.start_hour.assign(static_cast<size_t>(tables), -1);
  rule.stop_hour.assign(static_cast<size_t>(tables), -1);
  bool in_connection = false;
  for (; at < lines.size() && !Ends(lines[at]); ++at) {
    const std::string& text = lines[at];
    // The lines of a hydraulic connection hold its values, no rows.
    if (text.find(kConnectionKey) != std::string::npos) in_connection = true;
    if (in_connection) {
      in_connection = text.find('}') == std::string::npos;
      continue;
    }
    if (text.find(kCapKey) != std::string::npos) {
      rule.cap = KeyValues(text, kCapKey, kNumberCharacters, tables, messages, section);
    } else if (text.find(kWeekdaysKey) != std::string::npos) {
      rule.weekdays = Whole(KeyValues(text, kWeekdaysKey, kWeekdayCharacters, tables, messages, section));
    } else if (text.find(kStartHourKey) != std::string::npos) {
      rule.start_hour = Whole(KeyValues(text, kStartHourKey, kHourCharacters, tables, messages, section));
    } else if (text.find(kStopHourKey) != std::string::npos) {
      rule.stop_hour = Whole(KeyValues(text, kStopHourKey, kHourCharacters, tables, messages, section));
    } else if (text.find(kTableIndexKey) != std::string::npos) {
      rule.flow_indexed = KeyValue(text, kTableIndexKey).find(kFlowIndexWord) != std::string_view::npos;
    } else {
      refuse_row(text, tables);
    }
  }
  DeriveSlopes(rule);
  return rule;
}

bool ReadHydraulicConnection(const control_lines& control, const std::string& section, int reservoir_code,
                             MessageStream* messages, hydraulic_connection& connection) {
  const std::vector<std::string>& lines = control.lines();
  size_t at = static_cast<size_t>(control.FindSection(section)) + 1;
  // The block may stand anywhere in the section, up to the next section.
  for (; at < lines.size(); ++at) {
    const size_t first = lines[at].find_first_not_of(" \t");
    if (first != std::string::npos && lines[at][first] == '[') return false;
    if (lines[at].find(kConnectionKey) != std::string::npos) break;
  }
  if (at >= lines.size()) return false;
  std::string block;
  for (; at < lines.size(); ++at) {
    block += lines[at] + "\n";
    if (lines[at].find('}') != std::string::npos) break;
  }

  // Each value follows its key, after blanks and an "=" or ":".
  bool complete = true;
  auto value = [&](const char* key) {
    const size_t found = block.find(key);
    if (found == std::string::npos) {
      complete = false;
      return 0.0;
    }
    size_t from = found + std::string(key).size();
    while (from < block.size() &&
           (IsNumberSeparator(block[from]) || block[from] == '=' || block[from] == ':'))
      ++from;
    const rule_numbers numbers = Numbers(block.substr(from, block.find('\n', from) - from));
    if (numbers.values.empty()) complete = false;
    return numbers.values.empty() ? 0.0 : numbers.values[0];
  };
  const double target = value("TargetReservoir");
  connection.width = value("ChannelWidth");
  connection.bottom = value("ChannelBottom");
  connection.length = value("ChannelLength");
  connection.roughness = value("RoughnessCoeff");
  if (!complete || target != std::floor(target) || std::fabs(target) > 1e9) {
    *messages << "FATAL: reading HydraulicConnection parameters for SP " << reservoir_code
              << ": some values could not be read\n"
              << block << "[end-entry]";
    throw ErrorCode{kRuleErrorCode};
  }
  connection.target = static_cast<int>(target);
  if (!(connection.width > 0.0 && connection.length > 0.0 && connection.roughness > 0.0)) {
    *messages << "FATAL: the HydraulicConnection of SP " << reservoir_code
              << " needs a ChannelWidth, ChannelLength and RoughnessCoeff above 0\n"
              << block << "[end-entry]";
    throw ErrorCode{kRuleErrorCode};
  }
  return true;
}

}  // namespace velmo
