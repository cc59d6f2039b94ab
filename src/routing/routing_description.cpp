// Routing descriptions: keyword search and counts, and the parser of one description text.
#include "routing/routing_description.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>
#include <utility>

#include "framework/texthelpers.h"

namespace velmo {
namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsLetterOrUnderscore(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }

// A number of a description ends at white space or at one of these, so that
// "3x" or "3.5.1" is no number rather than 3.
constexpr std::string_view kNumberEnds = ",;()&=";

// A number of type T at `at` (after white space), a whole token; `at` moves
// past it.
template <typename T>
bool ReadNumberAt(const std::string& text, std::size_t& at, T& value) {
  at = SkipSpace(text, at);
  std::size_t end = at;
  while (end < text.size() && !IsSpace(text[end]) && kNumberEnds.find(text[end]) == std::string_view::npos)
    ++end;
  if (!ParseNumber(std::string_view(text).substr(at, end - at), value)) return false;
  at = end;
  return true;
}

// A whole number at `at` (after white space); `at` moves past it.
bool ReadInteger(const std::string& text, std::size_t& at, int& value) {
  return ReadNumberAt(text, at, value);
}

// A finite number at `at` (after white space); `at` moves past it.
bool ReadNumber(const std::string& text, std::size_t& at, double& value) {
  return ReadNumberAt(text, at, value);
}

// The number after the next "=" from `at`.
bool ReadValueAfterEquals(const std::string& text, std::size_t& at, double& value) {
  const std::size_t equals = text.find('=', at);
  if (equals == std::string::npos) return false;
  at = equals + 1;
  return ReadNumber(text, at, value);
}

// The run of non-space characters at `at` (after white space).
std::string ReadWord(const std::string& text, std::size_t& at) {
  at = SkipSpace(text, at);
  const std::size_t start = at;
  while (at < text.size() && !IsSpace(text[at])) ++at;
  return text.substr(start, at - start);
}

std::string Quoted(const std::string& keyword, int code) {
  return "\"" + keyword + " " + std::to_string(code) + "\"";
}

// The code after a keyword found at `hit`; `at` moves past it.
int CodeAfter(const std::string& text, std::size_t hit, const std::string& keyword, std::size_t& at) {
  at = hit + keyword.size();
  int code = 0;
  if (!ReadInteger(text, at, code)) throw description_error{"the code after \"" + keyword + "\""};
  return code;
}

void ReadChannelValues(const std::string& text, std::size_t& at, const std::string& part,
                       channel_part& channel) {
  for (int i = 0; i < kChannelValueCount; ++i) {
    if (!ReadValueAfterEquals(text, at, channel.values[static_cast<std::size_t>(i)]))
      throw description_error{"channel value " + std::to_string(i + 1) + " of " + part};
  }
}

// Where the part that starts at `hit` ends: at the next keyword of any part.
std::size_t PartEnd(const std::string& text, std::size_t hit) {
  std::size_t end = text.size();
  for (const char* keyword : {kOutletKeyword, kTributaryKeyword, kSummedKeyword, kInflowKeyword,
                              kAbstractionKeyword, kReservoirKeyword})
    end = std::min(end, FindKeyword(text, keyword, hit + 1));
  return end;
}

// A word of a part (a mode, a file name): it ends at a blank, and a ")" or
// "," ends it too, as at the end of the part's parentheses.
std::string CutWord(std::string word) {
  const std::size_t cut = word.find_first_of("),");
  if (cut != std::string::npos) word.erase(cut);
  return word;
}

// The word after the next "=" from `at`; empty when there is none.
std::string WordAfterEquals(const std::string& text, std::size_t& at) {
  const std::size_t equals = text.find('=', at);
  if (equals == std::string::npos) return {};
  at = equals + 1;
  return CutWord(ReadWord(text, at));
}

// A file name that follows a mode word: the next word itself, or, when that
// word is a label ("file =", "(file=name"), the word after its "=".
std::string FileNameAt(const std::string& text, std::size_t& at) {
  std::size_t after = at;
  std::string word = ReadWord(text, after);
  if (!word.empty() && word.front() == '(') word.erase(0, 1);
  const std::size_t next = SkipSpace(text, after);
  if (word.find('=') != std::string::npos || (next < text.size() && text[next] == '=')) {
    std::string name = WordAfterEquals(text, at);
    return name;
  }
  at = after;
  return CutWord(word);
}

abstraction_part ParseAbstractionPart(const std::string& text, std::size_t hit) {
  abstraction_part a;
  std::size_t at = 0;
  a.number = CodeAfter(text, hit, kAbstractionKeyword, at);
  a.text = text.substr(hit, PartEnd(text, hit) - hit);
  const std::string part = Quoted(kAbstractionKeyword, a.number);
  at -= hit;  // positions within the part from here on
  const std::string& t = a.text;
  // The mode word ends at a blank or a bracket: what follows it is read on.
  const std::size_t equals = t.find('=', at);
  if (equals != std::string::npos) {
    at = SkipSpace(t, equals + 1);
    const std::size_t end = std::min(t.size(), t.find_first_of(" \t\r\n(),", at));
    a.mode_word = t.substr(at, end - at);
    at = end;
  }
  if (a.mode_word.empty()) throw description_error{"the mode of " + part};
  a.mode = AbstractionMode(a.mode_word);
  auto value = [&](double& target, const char* what) {
    if (!ReadValueAfterEquals(t, at, target)) throw description_error{std::string(what) + " of " + part};
  };
  auto file = [&](std::string name, const char* what) {
    if (name.empty()) throw description_error{std::string(what) + " of " + part};
    return name;
  };
  switch (a.mode) {
    case abstraction_mode::none:
      throw part_error{
          kAbstractionModeCode,
          "the modus \"" + a.mode_word + "\" is not supported for abstraction " + std::to_string(a.number)};
    case abstraction_mode::external:
      a.result_file = file(FileNameAt(t, at), "the result file");
      [[fallthrough]];
    case abstraction_mode::internal: {
      value(a.threshold, "the threshold");
      value(a.fraction, "the fraction");
      value(a.maximum, "the maximum");
      // The unit stands after the maximum, up to the end of its parentheses.
      const std::string unit = t.substr(at, t.find(')', at) - at);
      for (const char* word : {"m^3/s", "m3/s", "m3s"})
        if (unit.find(word) != std::string::npos) a.discharge_unit = true;
      break;
    }
    case abstraction_mode::from_file: {
      const std::size_t key = t.find("input_file", at);
      if (key == std::string::npos) throw description_error{"\"input_file\" of " + part};
      at = key;
      a.input_file = file(WordAfterEquals(t, at), "the input file");
      double column = 0.0;
      value(column, "the column of the input file");
      if (column < 1.0 || column != std::floor(column) || column > 1e6)
        throw description_error{"a column of 1 or more of the input file of " + part};
      a.column = static_cast<int>(column);
      a.result_file = file(WordAfterEquals(t, at), "the result file");
      break;
    }
    case abstraction_mode::external_rule:
      a.result_file = file(FileNameAt(t, at), "the result file");
      break;
    case abstraction_mode::internal_rule:
    case abstraction_mode::reservoir_rule:
      break;
  }
  return a;
}

reservoir_part ParseReservoirPart(const std::string& text, std::size_t hit) {
  reservoir_part r;
  std::size_t at = 0;
  r.code = CodeAfter(text, hit, kReservoirKeyword, at);
  r.text = text.substr(hit, PartEnd(text, hit) - hit);
  const std::string& t = r.text;
  const std::string head = "for reservoir " + std::to_string(r.code) + ": ";
  auto missing = [&](const char* key) {
    return part_error{kReservoirKeyCode, head + "no \"" + key + " =\" found!"};
  };
  // Each value follows the next "=" after its key.
  auto find = [&](const char* key, std::size_t& from) {
    const std::size_t found = FindKeyword(t, key, 1);
    if (found == std::string::npos) return false;
    from = found + std::string(key).size();
    return t.find('=', from) != std::string::npos;
  };
  auto number = [&](const char* key, double& target, bool required) {
    std::size_t from = 0;
    if (!find(key, from)) {
      if (required) throw missing(key);
      return;
    }
    if (!ReadValueAfterEquals(t, from, target))
      throw part_error{kReservoirKeyCode, head + "the value of \"" + std::string(key) + "\" cannot be read"};
  };

  std::size_t from = 0;
  if (!find("file", from)) throw missing("file");
  r.result_file = WordAfterEquals(t, from);
  if (r.result_file.empty()) throw missing("file");
  number("V0", r.initial_volume, true);
  if (r.initial_volume < 0.0)
    throw part_error{kReservoirKeyCode,
                     head + "\"V0\" must not be below 0, not " + std::to_string(r.initial_volume)};
  number("A0", r.area, false);
  number("W0", r.level, false);
  if (!find("C0", from)) throw missing("C0");
  number("dTmin", r.minimum_step, false);
  if (!(r.minimum_step > 0.0))
    throw part_error{kReservoirKeyCode,
                     head + "\"dTmin\" must be above 0 s, not " + std::to_string(r.minimum_step)};
  double hours = 0.0;
  number("UseRunningAvg", hours, false);
  r.running_average_hours = static_cast<int>(std::clamp(hours, 0.0, 1e6));
  return r;
}

inflow_mode ModeOf(const std::string& word) {
  if (word == "constant") return inflow_mode::constant;
  if (word == "intern") return inflow_mode::internal;
  if (word == "extern") return inflow_mode::external;
  return inflow_mode::unknown;
}

}  // namespace

std::size_t FindKeyword(const std::string& text, const std::string& keyword, std::size_t from) {
  if (keyword.empty()) return std::string::npos;
  const bool word = IsWordChar(keyword.front());
  for (std::size_t at = text.find(keyword, from); at != std::string::npos; at = text.find(keyword, at + 1)) {
    if (!word) return at;
    const std::size_t end = at + keyword.size();
    const bool starts = at == 0 || !IsWordChar(text[at - 1]);
    const bool ends = end >= text.size() || !IsLetterOrUnderscore(text[end]);
    if (starts && ends) return at;
  }
  return std::string::npos;
}

int CountOccurrences(const std::string& text, const std::string& keyword) {
  int count = 0;
  for (std::size_t at = FindKeyword(text, keyword); at != std::string::npos;
       at = FindKeyword(text, keyword, at + 1))
    ++count;
  return count;
}

bool IsDescriptionLine(const std::string& line) {
  for (const char* keyword : {kOutletKeyword, kTributaryKeyword, kSummedKeyword, kInflowKeyword,
                              kAbstractionKeyword, kReservoirKeyword})
    if (FindKeyword(line, keyword) != std::string::npos) return true;
  return false;
}

keyword_counts& keyword_counts::operator+=(const keyword_counts& other) {
  outlets += other.outlets;
  tributaries += other.tributaries;
  summed += other.summed;
  joins += other.joins;
  inflows += other.inflows;
  abstractions += other.abstractions;
  reservoirs += other.reservoirs;
  return *this;
}

keyword_counts CountKeywords(const std::string& text) {
  keyword_counts counts;
  counts.outlets = FindKeyword(text, kOutletKeyword) != std::string::npos ? 1 : 0;
  counts.tributaries = CountOccurrences(text, kTributaryKeyword);
  counts.summed = CountOccurrences(text, kSummedKeyword);
  counts.joins = CountOccurrences(text, kJoinKeyword);
  counts.inflows = CountOccurrences(text, kInflowKeyword);
  counts.abstractions = CountOccurrences(text, kAbstractionKeyword);
  counts.reservoirs = CountOccurrences(text, kReservoirKeyword);
  return counts;
}

routing_description ParseRoutingDescription(const std::string& text) {
  routing_description d;
  d.text = text;
  d.counts = CountKeywords(text);

  std::size_t at = 0;
  const std::size_t outlet = FindKeyword(text, kOutletKeyword);
  if (outlet == std::string::npos) throw description_error{"\"TG\""};
  d.outlet_code = CodeAfter(text, outlet, kOutletKeyword, at);
  if (!ReadValueAfterEquals(text, at, d.area))
    throw description_error{"the outlet area of " + Quoted(kOutletKeyword, d.outlet_code)};
  if (!ReadValueAfterEquals(text, at, d.divisor))
    throw description_error{"the area divisor of " + Quoted(kOutletKeyword, d.outlet_code)};

  // Each part is taken wherever its keyword stands, so that every keyword
  // counted becomes a part.
  for (std::size_t hit = FindKeyword(text, kTributaryKeyword); hit != std::string::npos;
       hit = FindKeyword(text, kTributaryKeyword, hit + 1)) {
    channel_part channel;
    channel.kind = channel_kind::tributary;
    channel.code = CodeAfter(text, hit, kTributaryKeyword, at);
    ReadChannelValues(text, at, Quoted(kTributaryKeyword, channel.code), channel);
    d.channels.push_back(channel);
  }

  for (std::size_t hit = FindKeyword(text, kSummedKeyword); hit != std::string::npos;
       hit = FindKeyword(text, kSummedKeyword, hit + 1)) {
    channel_part channel;
    channel.kind = channel_kind::summed;
    channel.code = CodeAfter(text, hit, kSummedKeyword, at);
    // The joined codes stand between the code and the value labels, which
    // begin with " (k" or at the latest at the first "=".
    const std::size_t labels = std::min(text.find(" (k", at), text.find('=', at));
    for (std::size_t join = text.find('&', at); join < labels; join = text.find('&', at)) {
      at = join + 1;
      int code = 0;
      if (!ReadInteger(text, at, code))
        throw description_error{"a code after \"&\" of " + Quoted(kSummedKeyword, channel.code)};
      channel.joined.push_back(code);
    }
    ReadChannelValues(text, at, Quoted(kSummedKeyword, channel.code), channel);
    d.channels.push_back(channel);
  }

  for (std::size_t hit = FindKeyword(text, kInflowKeyword); hit != std::string::npos;
       hit = FindKeyword(text, kInflowKeyword, hit + 1)) {
    channel_part channel;
    channel.kind = channel_kind::inflow;
    channel.code = CodeAfter(text, hit, kInflowKeyword, at);
    const std::string part = Quoted(kInflowKeyword, channel.code);
    const std::size_t equals = text.find('=', at);
    if (equals == std::string::npos) throw description_error{"the mode of " + part};
    at = equals + 1;
    channel.mode_word = ReadWord(text, at);
    channel.mode = ModeOf(channel.mode_word);
    if (channel.mode == inflow_mode::constant && !ReadNumber(text, at, channel.constant))
      throw description_error{"the constant inflow of " + part};
    if (channel.mode == inflow_mode::external) {
      channel.file = ReadWord(text, at);
      if (channel.file.empty() || channel.file.front() == '(')
        throw description_error{"the table file of " + part};
      if (!ReadInteger(text, at, channel.start_row)) throw description_error{"the start row of " + part};
      if (!ReadInteger(text, at, channel.column)) throw description_error{"the column of " + part};
    }
    ReadChannelValues(text, at, part, channel);
    d.channels.push_back(channel);
  }

  for (std::size_t hit = FindKeyword(text, kAbstractionKeyword); hit != std::string::npos;
       hit = FindKeyword(text, kAbstractionKeyword, hit + 1))
    d.abstractions.push_back(ParseAbstractionPart(text, hit));
  for (std::size_t hit = FindKeyword(text, kReservoirKeyword); hit != std::string::npos;
       hit = FindKeyword(text, kReservoirKeyword, hit + 1))
    d.reservoirs.push_back(ParseReservoirPart(text, hit));
  return d;
}

void CheckInflows(const std::vector<routing_description>& descriptions, int inflow_count,
                  const std::string& module) {
  std::vector<int> named_in(static_cast<std::size_t>(std::max(inflow_count, 0)) + 1, 0);
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    for (const channel_part& part : descriptions[i].channels) {
      if (part.kind != channel_kind::inflow) continue;
      const int k = part.code;
      if (k > inflow_count)
        throw part_error{kInflowErrorCode,
                         "there is/are only " + std::to_string(inflow_count) +
                             " inflow(s) for the entire basin,\n but the codes ranges from 1 "
                             "to at least " +
                             std::to_string(k) + "! in " + module};
      if (k < 1)
        throw part_error{kInflowErrorCode, "inflow number " + std::to_string(k) + " in routing description " +
                                               std::to_string(number) +
                                               " is not allowed: inflows are numbered from 1"};
      if (const int other = named_in[static_cast<std::size_t>(k)]; other != 0)
        throw part_error{kInflowErrorCode, "inflow " + std::to_string(k) +
                                               " is named in routing description " + std::to_string(other) +
                                               " and again in routing description " + std::to_string(number)};
      if (part.mode == inflow_mode::unknown)
        throw part_error{kInflowErrorCode, "the modus \"" + part.mode_word +
                                               "\" is not supported for inflow " + std::to_string(k)};
      named_in[static_cast<std::size_t>(k)] = number;
    }
  }
}

abstraction_mode AbstractionMode(const std::string& word) {
  static const std::pair<const char*, abstraction_mode> kModes[] = {
      {"intern", abstraction_mode::internal},
      {"extern", abstraction_mode::external},
      {"from_file", abstraction_mode::from_file},
      {"intern_with_rule", abstraction_mode::internal_rule},
      {"extern_with_rule", abstraction_mode::external_rule},
      {"intern_with_rule_from_reservoir", abstraction_mode::reservoir_rule},
  };
  for (const auto& [name, mode] : kModes)
    if (word == name) return mode;
  return abstraction_mode::none;
}

bool ValidWqSettings(const wq_settings& s) {
  return std::isfinite(s.qmin) && std::isfinite(s.qmax) && s.qmin > 0.0 && s.qmax >= s.qmin &&
         s.intervals >= 1.0 && s.intervals <= kMaxWqIntervals && s.subintervals >= 1 &&
         s.subintervals <= kMaxSubintervals;
}

}  // namespace velmo
