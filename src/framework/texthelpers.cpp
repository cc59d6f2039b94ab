// Readers of the key syntax: "key = value;" pairs, value lists, brace blocks and token lists.
#include "framework/texthelpers.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace velmo {
namespace {

bool IsWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Reads the first item of `value` with a string stream; 0 (or "") when the
// value does not start with one.
template <typename T>
T FirstItem(const std::string& value) {
  std::istringstream stream(value);
  T item{};
  stream >> item;
  if (stream.fail()) return T{};
  return item;
}

template <typename T>
int ReadKeyList(const std::string& text, const std::string& key, std::vector<T>& values) {
  if (FindKey(text, key) == std::string::npos) return 0;
  std::vector<std::string> tokens;
  SplitTokens(KeyValueText(text, key), kListSeparators, tokens);
  for (const std::string& token : tokens) values.push_back(FirstItem<T>(token));
  return static_cast<int>(tokens.size());
}

}  // namespace

bool IsSectionHeader(std::string_view line) {
  const std::size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return false;
  std::size_t end = begin;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  return IsSectionName(line.substr(begin, end - begin));
}

bool StartsAsNumber(std::string_view token) {
  const auto digit = [&](std::size_t i) { return i < token.size() && token[i] >= '0' && token[i] <= '9'; };
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  if (digit(i)) return true;
  return i < token.size() && token[i] == '.' && digit(i + 1);
}

leading_numbers LeadingNumbers(std::string_view line, std::size_t limit) {
  leading_numbers result;
  std::size_t at = 0;
  while (result.values.size() < limit) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    std::size_t end = at;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    const std::string_view token = line.substr(at, end - at);
    if (!StartsAsNumber(token)) break;
    double value = 0.0;
    if (!ParseNumber(token, value)) {
      result.bad_token = std::string(token);
      break;
    }
    result.values.push_back(value);
    at = end;
  }
  return result;
}

std::size_t FindKey(const std::string& text, const std::string& key, std::size_t from) {
  if (key.empty()) return std::string::npos;
  for (std::size_t pos = text.find(key, from); pos != std::string::npos; pos = text.find(key, pos + 1)) {
    const std::size_t end = pos + key.size();
    const bool free_before = pos == 0 || !IsWordCharacter(text[pos - 1]);
    const bool free_after = end == text.size() || !IsWordCharacter(text[end]);
    if (free_before && free_after) return pos;
  }
  return std::string::npos;
}

std::string KeyValueText(const std::string& text, const std::string& key) {
  const std::size_t pos = FindKey(text, key);
  if (pos == std::string::npos) throw std::out_of_range("key " + key + " not found");
  const std::size_t equals = text.find('=', pos + key.size());
  if (equals == std::string::npos) return {};
  const std::size_t semicolon = text.find(';', equals + 1);
  return text.substr(equals + 1, semicolon == std::string::npos ? std::string::npos : semicolon - equals - 1);
}

std::string_view KeyLineValue(std::string_view line, std::size_t equals) {
  if (equals >= line.size()) return {};
  const std::string_view value = line.substr(equals + 1);
  for (std::size_t at = value.find(';'); at != std::string_view::npos; at = value.find(';', at + 1)) {
    if (at + 1 == value.size() || IsSpace(value[at + 1])) return value.substr(0, at);
  }
  return value;
}

std::string_view FirstToken(std::string_view text) {
  const std::size_t begin = SkipSpace(text, 0);
  std::size_t end = begin;
  while (end < text.size() && !IsSpace(text[end])) ++end;
  return text.substr(begin, end - begin);
}

void ReadKeyInt(const std::string& text, const std::string& key, int& value) {
  value = FirstItem<int>(KeyValueText(text, key));
}

void ReadKeyDouble(const std::string& text, const std::string& key, double& value) {
  value = FirstItem<double>(KeyValueText(text, key));
}

void ReadKeyString(const std::string& text, const std::string& key, std::string& value) {
  value = FirstItem<std::string>(KeyValueText(text, key));
}

int ReadKeyDoubleList(const std::string& text, const std::string& key, std::vector<double>& values) {
  return ReadKeyList(text, key, values);
}

int ReadKeyIntList(const std::string& text, const std::string& key, std::vector<int>& values) {
  return ReadKeyList(text, key, values);
}

std::string ExtractBraceBlock(std::string& source) {
  const std::size_t open = source.find('{');
  if (open == std::string::npos) throw std::out_of_range("no brace block");
  const std::size_t close = source.find('}', open);
  if (close == std::string::npos) {
    // An unclosed block takes the rest, so that callers looping over the
    // remaining text come to an end.
    std::string block = source.substr(open + 1);
    source.clear();
    return block;
  }
  std::string block = source.substr(open + 1, close - open);
  source.erase(0, close + 1);
  return block;
}

bool BraceBlockCollector::AddLine(const std::string& line) {
  for (char c : line) {
    if (complete_) break;
    if (c == '{') {
      ++depth_;
    } else if (c == '}' && depth_ > 0) {
      complete_ = --depth_ == 0;
    }
  }
  text_ += line;
  text_ += '\n';
  return complete_;
}

int SplitTokens(const std::string& text, const std::string& separators, std::vector<std::string>& tokens) {
  const bool quotes_allowed = separators.find('"') == std::string::npos;
  std::size_t pos = text.find_first_not_of(separators);
  while (pos != std::string::npos) {
    std::size_t end;  // one past the token
    if (quotes_allowed && text[pos] == '"') {
      // A quote escaped by a single backslash does not end the token; one
      // behind two backslashes does.
      std::size_t quote = text.find('"', pos + 1);
      while (quote != std::string::npos && text[quote - 1] == '\\' && text[quote - 2] != '\\') {
        quote = text.find('"', quote + 1);
      }
      if (quote == std::string::npos) {
        tokens.push_back(text.substr(pos));
        break;
      }
      end = quote + 1;
    } else {
      end = text.find_first_of(separators, pos);
      if (end == std::string::npos) end = text.size();
    }
    tokens.push_back(text.substr(pos, end - pos));
    pos = text.find_first_not_of(separators, end);
  }
  return static_cast<int>(tokens.size());
}

std::size_t FindSubstringOffset(const std::string& text, const std::string& pattern) {
  const std::size_t pos = text.find(pattern);
  return pos == std::string::npos ? 0 : pos;
}

void KeepSubstring(std::string& buffer, std::size_t start, long last_offset) {
  if (last_offset < 0) return;
  if (start >= buffer.size()) {
    buffer.clear();
    return;
  }
  buffer = buffer.substr(start, static_cast<std::size_t>(last_offset) + 1);
}

void UseSlashes(std::string& path) { std::replace(path.begin(), path.end(), '\\', '/'); }

}  // namespace velmo
