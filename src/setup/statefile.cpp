// The state file of a run: which paths its blocks have created so far and whether one failed, the value
// format, and the reader of numbers and section lines.
#include "setup/statefile.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "framework/texthelpers.h"

namespace velmo {
namespace {

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

std::FILE* state_file_session::OpenBlock(const std::string& path) {
  const bool created = std::find(created_.begin(), created_.end(), path) != created_.end();
  std::FILE* file = std::fopen(path.c_str(), created ? "a" : "w");
  if (file && !created) created_.push_back(path);
  return file;
}

void state_file_session::ReportFailure(const std::string& path) {
  failed_ = true;
  // Only a file of this run is removed, not an older one that could not be
  // opened.
  if (std::find(created_.begin(), created_.end(), path) != created_.end() &&
      std::find(incomplete_.begin(), incomplete_.end(), path) == incomplete_.end())
    incomplete_.push_back(path);
}

std::vector<std::string> state_file_session::RemoveIncompleteFiles() {
  std::vector<std::string> removed;
  for (const std::string& path : incomplete_)
    if (std::remove(path.c_str()) == 0) removed.push_back(path);
  incomplete_.clear();
  return removed;
}

bool state_file_session::CloseBlock(std::FILE* file) {
  const bool written = std::ferror(file) == 0;
  return std::fclose(file) == 0 && written;
}

void PutStateValue(std::FILE* file, double value, const char* after) {
  std::fprintf(file, kStateValueFormat, value);
  std::fputs(after, file);
}

// ---------------------------------------------------------------- reading

int state_file_reader::Get() {
  const int c = std::getc(file_);
  if (c == '\n') ++line_;
  return c;
}

void state_file_reader::Unget(int c) {
  if (c == EOF) return;
  if (c == '\n') --line_;
  std::ungetc(c, file_);
}

bool state_file_reader::SkipSpace() {
  int c = Get();
  while (c != EOF && std::isspace(static_cast<unsigned char>(c))) c = Get();
  if (c == EOF) return false;
  Unget(c);
  return true;
}

// The characters of a number at the reader's position: a sign, digits and,
// with `fraction`, a decimal point, more digits and an exponent.
std::string state_file_reader::NumberText(bool fraction) {
  std::string text;
  int c = Get();
  const auto take = [&] {
    text += static_cast<char>(c);
    c = Get();
  };
  const auto take_sign = [&] {
    if (c == '+' || c == '-') take();
  };
  const auto take_digits = [&] {
    while (IsDigit(c)) take();
  };
  take_sign();
  take_digits();
  if (fraction) {
    if (c == '.') {
      take();
      take_digits();
    }
    if ((c == 'e' || c == 'E') && !text.empty()) {
      take();
      take_sign();
      take_digits();
    }
  }
  Unget(c);
  return text;
}

bool state_file_reader::ReadInt(int& value) { return SkipSpace() && ParseNumber(NumberText(false), value); }

bool state_file_reader::ReadDouble(double& value) {
  return SkipSpace() && ParseNumber(NumberText(true), value);
}

void state_file_reader::SkipRestOfLine() {
  int c = Get();
  while (c != EOF && c != '\n') c = Get();
}

bool state_file_reader::ReadLine(std::string& line) {
  line.clear();
  int c = Get();
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    line += static_cast<char>(c);
    c = Get();
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool state_file_reader::PeekLine(std::string& line) {
  const long position = std::ftell(file_);
  const int line_number = line_;
  const bool read = ReadLine(line);
  if (position >= 0) std::fseek(file_, position, SEEK_SET);
  line_ = line_number;
  return read;
}

namespace {

// `text` with every run of blanks, tabs and line ends as one blank,
// none at either end.
std::string OneBlankBetweenWords(std::string_view text) {
  std::string words;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      blank = !words.empty();
      continue;
    }
    if (blank) words += ' ';
    blank = false;
    words += c;
  }
  return words;
}

}  // namespace

bool state_file_reader::ReadLabel(std::string_view label, std::string& rest) {
  if (!ReadLine(rest)) return false;
  return OneBlankBetweenWords(rest) == OneBlankBetweenWords(label);
}

bool state_file_reader::FindLineContaining(const std::string& text) {
  std::string line;
  while (true) {
    line.clear();
    int c = Get();
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
      line += static_cast<char>(c);
      c = Get();
    }
    if (line.find(text) != std::string::npos) return true;
    if (c == EOF) return false;
  }
}

void state_file_reader::Rewind() {
  std::rewind(file_);
  line_ = 1;
}

}  // namespace velmo
