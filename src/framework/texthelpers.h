// Readers for the newer control-file syntax: "key = value;" pairs, value
// lists, brace blocks and token lists, and the small tests of characters,
// lines and tokens every text reader shares. They work on text, never on
// files.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace velmo {

// The whole of `text` as a number, a leading plus sign taken as scanf takes
// it; a floating-point number must be finite. `value` changes only when the
// text is such a number.
template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return false;
  }
  T parsed{};
  const auto result = std::from_chars(first, last, parsed);
  if (result.ec != std::errc{} || result.ptr != last) return false;
  if constexpr (std::is_floating_point_v<T>)
    if (!std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// A blank or a tab: what separates the values of a line.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// Any white space, line ends included (blank, and tab to carriage return).
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// A blank, a tab, a carriage return or a comma: what separates the numbers
// of an operating rule's lines.
inline bool IsNumberSeparator(char c) { return IsBlank(c) || c == '\r' || c == ','; }
// The first position at or after `at` that holds no white space (the size of
// `text` when there is none).
inline std::size_t SkipSpace(std::string_view text, std::size_t at) {
  while (at < text.size() && IsSpace(text[at])) ++at;
  return at;
}
// A line of nothing but white space.
inline bool IsBlankLine(std::string_view line) { return SkipSpace(line, 0) == line.size(); }
// `text` without the white space around it.
inline std::string_view TrimSpace(std::string_view text) {
  text.remove_prefix(SkipSpace(text, 0));
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}
// A word in brackets: the name of a section.
inline bool IsSectionName(std::string_view word) {
  return word.size() >= 2 && word.front() == '[' && word.back() == ']';
}
// A line whose first word is a section name opens the next section.
bool IsSectionHeader(std::string_view line);
// Whether a line opens or holds a block in braces.
inline bool HoldsBlock(const std::string& line) { return line.find('{') != std::string::npos; }

// Whether `token` begins as a number does: a digit, or a sign or point
// before one ("-.5"). Such a token must be a number as a whole; any other
// ends a list of numbers and starts the comment after it.
bool StartsAsNumber(std::string_view token);

// The numbers a line starts with, at most `limit`: whole tokens between
// blanks and tabs, each a finite number. The first token that does not
// start as a number ends them (it and the rest are the line's comment). A
// token that starts as a number but is none as a whole ("3,5", "12abc",
// "1e309") ends them too and is kept in `bad_token`.
struct leading_numbers {
  std::vector<double> values;
  std::string bad_token;  // empty when every number read whole
};
leading_numbers LeadingNumbers(std::string_view line, std::size_t limit);

// Separators of the items of a value list.
inline constexpr const char* kListSeparators = "\t ;,";

// Position of the first occurrence of `key` in `text` at or after `from` that
// stands as a whole word: the characters around it are no letter, digit or
// underscore. std::string::npos when there is none.
std::size_t FindKey(const std::string& text, const std::string& key, std::size_t from = 0);

// The raw value of `key`: the text after the first "=" that follows the key,
// up to but not including the next ";" (to the end without one). Empty when no
// "=" follows. Throws std::out_of_range when the key does not occur.
std::string KeyValueText(const std::string& text, const std::string& key);

// The value of a key line whose "=" stands at `equals`: the text after the
// "=" up to the ";" that ends it, or to the end of the line. A ";" ends the
// value where it ends a token ("timestep = 60;", "timestep = 60 ;"), as a
// blank does; what follows it on the line is comment. A ";" inside a token
// ("60;x") belongs to the token, which a reader then takes or refuses whole.
// Empty when `equals` is npos (the line has no "=").
std::string_view KeyLineValue(std::string_view line, std::size_t equals);

// The first run of characters of `text` that are no white space; empty when
// there is none.
std::string_view FirstToken(std::string_view text);

// Single values. The first item of the value is read; a value that does not
// start with a number gives 0, one without a word gives "". A missing key
// throws std::out_of_range (callers that allow it catch it).
void ReadKeyInt(const std::string& text, const std::string& key, int& value);
void ReadKeyDouble(const std::string& text, const std::string& key, double& value);
void ReadKeyString(const std::string& text, const std::string& key, std::string& value);

// Value lists separated by tabs, blanks, semicolons or commas: the numbers are
// appended to `values`; returns the number of tokens (0 for a missing key,
// which leaves the list alone).
int ReadKeyDoubleList(const std::string& text, const std::string& key, std::vector<double>& values);
int ReadKeyIntList(const std::string& text, const std::string& key, std::vector<int>& values);

// The next block in braces: the text after the first "{" through its closing
// "}" (to the end without one). `source` loses everything up to and including
// that block. Throws std::out_of_range when `source` holds no "{".
std::string ExtractBraceBlock(std::string& source);

// Gathers the lines of one block in braces from a file read line by line,
// nested blocks included. Lines before the block's first "{" are kept; the
// block is complete when that "{" has met its "}". A "}" before the first
// "{" is no brace of the block.
class BraceBlockCollector {
 public:
  // Appends `line` and a line end; true once the block is complete (the
  // rest of the line is kept but no longer counted).
  bool AddLine(const std::string& line);
  bool complete() const { return complete_; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  int depth_ = 0;
  bool complete_ = false;
};

// Appends the tokens of `text` to `tokens`; a token that starts with a double
// quote runs to the next unescaped double quote and keeps its quotes (unless
// the quote is a separator). Returns the size of `tokens` afterwards.
int SplitTokens(const std::string& text, const std::string& separators, std::vector<std::string>& tokens);

// A file path as this system takes it: a backslash (as control files and
// lists written on other systems hold them, "meteo\precipitation.txt") is a
// folder separator.
void UseSlashes(std::string& path);

// Offset of the first occurrence of `pattern`; 0 when it does not occur.
std::size_t FindSubstringOffset(const std::string& text, const std::string& pattern);

// Keeps the characters start .. start + last_offset (both included) of
// `buffer`; a negative last_offset leaves it unchanged.
void KeepSubstring(std::string& buffer, std::size_t start, long last_offset);

}  // namespace velmo
