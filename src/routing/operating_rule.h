// Operating rules of abstractions and reservoirs: tables of a rate against an
// index value (a flow or a stored volume), one table per season that applies
// from its start day and is blended with its neighbour, each open on given
// weekdays and hours and capped so that the receiving side stays below a
// target. Numbers in, numbers out; the sections are read by
// ReadOperatingRule (operating_rule_section.cpp).
#pragma once

#include <string>
#include <vector>

namespace velmo {

class MessageStream;

// Days of the year of the rules: no leap day.
inline constexpr int kRuleDaysPerYear = 365;

// One rule: R rows of an index value x and, per table k, a value y_k.
// Without flow index x is the argument (flow in m3/s, or a reservoir volume
// in m3) and y_k the rate (m3/s); flow-indexed the columns y_k hold the
// argument and x the rate.
struct operating_rule {
  std::vector<double> x;                   // rows 0..R-1, never falling
  std::vector<std::vector<double>> y;      // per table, rows 0..R-1
  std::vector<std::vector<double>> slope;  // per table, rows 0..R-1 (the last 0)
  std::vector<int> start_day;              // per table, rising, 1..365
  std::vector<double> cap;                 // per table, m3/s; 0 or less: none
  std::vector<int> weekdays;               // per table, digits 1 (Monday) .. 7; 0 or less: every day
  std::vector<int> start_hour;             // per table; below 0: from the day's start
  std::vector<int> stop_hour;              // per table; below 0: to the day's end
  bool flow_indexed = false;

  int Rows() const { return static_cast<int>(x.size()); }
  int Tables() const { return static_cast<int>(y.size()); }
};

// Slopes of every table between its rows: dy/dx, or dx/dy flow-indexed; 0
// where the divisor is 0 and for the last row.
void DeriveSlopes(operating_rule& rule);

// Day of the year of a date, February with 28 days.
int RuleDayOfYear(int month, int day);

// The two tables a day falls between: value = w * upper + (1 - w) * lower.
// Up to the first start day table 1 alone; between two start days the
// blend from the earlier to the later; after the last start day the blend
// from the last table towards table 1 of the next year. `upper` is the table
// whose cap and windows apply.
struct day_blend {
  int lower = 0;
  int upper = 0;
  double weight = 1.0;  // of `upper`
};
day_blend BlendOfDay(const std::vector<int>& start_days, int day_of_year);

// Table value for the argument `argument`. Without flow index: 0 at or below
// the first row, linear between rows, the last row above it; flow-indexed:
// the rate at which the blended argument column is first exceeded from the
// top, 0 below its first row.
double RuleValue(const operating_rule& rule, const day_blend& blend, double argument);
// Without flow index, above the last row: the last row continued with the
// slope of the last interval.
double RuleValueAboveTop(const operating_rule& rule, const day_blend& blend, double argument);

// Whether table `table` is open at ISO weekday `weekday` (1 Monday .. 7
// Sunday) and hour `hour`. A window with start > stop runs over midnight.
bool RuleTableOpen(const operating_rule& rule, int table, int weekday, int hour);

// ISO weekday of a step's date with the hour moved back by the whole hours
// of `shift_hours` (the data stamp at the end of an interval names the day it
// ends), minutes counted with `with_minutes`.
int RuleWeekday(int year, int month, int day, int hour, int minute, double shift_hours, bool with_minutes);

// A rate limited by the cap of the receiving side: with a cap above 0 the
// rate and the flow already there together stay at or below it.
double CappedRate(double rate, double cap, double receiving_flow);

// Reads "[abstraction_rule_...]" sections from the lines of the control
// file; every failure logs its FATAL entry and throws its code.
class control_lines {
 public:
  explicit control_lines(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  // Index of the line whose first word is `section`, or -1.
  int FindSection(const std::string& section) const;
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// A channel that connects a reservoir with another: its outflow is the
// Manning flow driven by the two levels.
struct hydraulic_connection {
  int target = 0;          // code of the other reservoir
  double width = 0.0;      // m
  double bottom = 0.0;     // m a.s.l.
  double length = 0.0;     // m
  double roughness = 0.0;  // Strickler coefficient, m^(1/3)/s
};

// Codes of the rule sections.
inline constexpr int kRuleSectionMissingCode = 34;
inline constexpr int kRuleErrorCode = 29;

// The rule of section `section`: first line R and the start days, R rows,
// the key lines. A missing section is code 34; a section without rows (unless
// `rows_optional`), a falling index column, a short row, start days that do
// not rise within 1..365, a key line with fewer values than tables, or a row
// after the stated rows (a line of at least a row's numbers that is no key
// line and no line of a hydraulic connection) are code 29.
operating_rule ReadOperatingRule(const control_lines& control, const std::string& section,
                                 MessageStream* messages, bool rows_optional = false);

// The "HydraulicConnection" block of a reservoir's rule section, when there
// is one: the lines from the one holding the word up to one holding "}".
// A value that cannot be read, or a width, length or roughness not above 0,
// is code 29. The section must exist (ReadOperatingRule checks it).
bool ReadHydraulicConnection(const control_lines& control, const std::string& section, int reservoir_code,
                             MessageStream* messages, hydraulic_connection& connection);

}  // namespace velmo
