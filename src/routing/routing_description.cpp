// Routing descriptions: keyword search and counts, and the parser of one description text.
#include "routing/routing_description.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

namespace velmo {
namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsLetterOrUnderscore(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void SkipSpace(const std::string& text, std::size_t& at) {
  while (at < text.size() && IsSpace(text[at])) ++at;
}

// A whole number at `at` (after white space); `at` moves past it.
bool ReadInteger(const std::string& text, std::size_t& at, int& value) {
  SkipSpace(text, at);
  const char* first = text.data() + at;
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc{}) return false;
  at = static_cast<std::size_t>(result.ptr - text.data());
  return true;
}

// A finite number at `at` (after white space); `at` moves past it.
bool ReadNumber(const std::string& text, std::size_t& at, double& value) {
  SkipSpace(text, at);
  const char* first = text.data() + at;
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc{} || !std::isfinite(value)) return false;
  at = static_cast<std::size_t>(result.ptr - text.data());
  return true;
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
  SkipSpace(text, at);
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

  d.has_abstraction = d.counts.abstractions > 0;
  d.has_reservoir = d.counts.reservoirs > 0;
  return d;
}

bool ValidWqSettings(const wq_settings& s) {
  return std::isfinite(s.qmin) && std::isfinite(s.qmax) && s.qmin > 0.0 && s.qmax >= s.qmin &&
         s.intervals >= 1.0 && s.intervals <= kMaxWqIntervals && s.subintervals >= 1 &&
         s.subintervals <= kMaxSubintervals;
}

}  // namespace velmo
