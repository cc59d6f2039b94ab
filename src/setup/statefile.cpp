// State file blocks: opening for a run's blocks, value format, and the reader of numbers and section lines.
#include "setup/statefile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <utility>

#include "framework/diagnostics.h"

namespace velmo {
namespace {

// The path as one spelling, so that two modules naming the same file meet.
std::string Canonical(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

// ---------------------------------------------------------------- writing

state_file_block::state_file_block(state_file_block&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      messages_(other.messages_),
      record_(other.record_) {}

state_file_block& state_file_block::operator=(state_file_block&& other) noexcept {
  if (this != &other) {
    Close();
    file_ = std::exchange(other.file_, nullptr);
    path_ = std::move(other.path_);
    messages_ = other.messages_;
    record_ = other.record_;
  }
  return *this;
}

state_file_block::~state_file_block() { Close(); }

void state_file_block::Close() {
  if (!file_) return;
  const bool write_failed = std::ferror(file_) != 0;
  const bool close_failed = std::fclose(file_) != 0;
  file_ = nullptr;
  if (!write_failed && !close_failed) return;
  if (record_) record_->failed_ = true;
  if (messages_) *messages_ << "ERROR: error writing the state file " << path_ << "[end-entry]";
}

state_file_block state_file_record::OpenBlock(const std::string& path, MessageStream* messages,
                                              const std::string& failure_text) {
  const std::string key = Canonical(path);
  const bool first = std::find(written_.begin(), written_.end(), key) == written_.end();
  state_file_block block;
  block.file_ = std::fopen(path.c_str(), first ? "w" : "a");
  if (!block.file_) {
    failed_ = true;
    if (messages) *messages << "ERROR: " << failure_text << "[end-entry]";
    return block;
  }
  if (first) written_.push_back(key);
  block.path_ = path;
  block.messages_ = messages;
  block.record_ = this;
  return block;
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
  if (c == '+' || c == '-') {
    text += static_cast<char>(c);
    c = Get();
  }
  while (IsDigit(c)) {
    text += static_cast<char>(c);
    c = Get();
  }
  if (fraction) {
    if (c == '.') {
      text += static_cast<char>(c);
      c = Get();
      while (IsDigit(c)) {
        text += static_cast<char>(c);
        c = Get();
      }
    }
    if ((c == 'e' || c == 'E') && !text.empty()) {
      text += static_cast<char>(c);
      c = Get();
      if (c == '+' || c == '-') {
        text += static_cast<char>(c);
        c = Get();
      }
      while (IsDigit(c)) {
        text += static_cast<char>(c);
        c = Get();
      }
    }
  }
  Unget(c);
  return text;
}

bool state_file_reader::ReadInt(int& value) {
  if (!SkipSpace()) return false;
  const std::string text = NumberText(false);
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  int parsed = 0;
  const auto result = std::from_chars(first, last, parsed);
  if (result.ec != std::errc{} || result.ptr != last) return false;
  value = parsed;
  return true;
}

bool state_file_reader::ReadDouble(double& value) {
  if (!SkipSpace()) return false;
  const std::string text = NumberText(true);
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  double parsed = 0.0;
  const auto result = std::from_chars(first, last, parsed);
  if (result.ec != std::errc{} || result.ptr != last || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

void state_file_reader::SkipRestOfLine() {
  int c = Get();
  while (c != EOF && c != '\n') c = Get();
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
