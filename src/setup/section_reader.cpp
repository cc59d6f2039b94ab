// The section reader: opening, values read whole, checks and closing.
#include "setup/section_reader.h"

#include <cstdio>
#include <utility>

#include "framework/diagnostics.h"

namespace velmo {
section_reader::section_reader(modelobject& module, std::string section, const section_opening& opening)
    : m_(module), section_(std::move(section)), suffix_(opening.section_in_prompts ? section_ : "") {
  m_.OpenControlFile();
  if (!m_.control_file)
    RaiseFatal(m_.messages, opening.open_entry + m_.control_file_name, kControlFileOpenErrorCode);
  found_ = section_.empty() || m_.FindSection(section_, opening.required);
}

section_reader::section_reader(modelobject& module, reading_on how)
    : m_(module), section_(module.section_buffer), suffix_(how.section_in_prompts ? section_ : "") {}

int section_reader::Integer(const std::string& prompt) { return Value<int>(prompt, kNoWholeNumber, true); }

double section_reader::Number(const std::string& prompt) {
  return Value<double>(prompt, kNoFiniteNumber, true);
}

std::string section_reader::Word(const std::string& prompt) {
  std::string word;
  if (!Token(word)) RaiseUnreadValue(prompt, word, {});
  std::string comment;
  Line(comment);
  return word;
}

output_grid section_reader::Grid(const std::string& name_prompt, const std::string& code_prompt) {
  output_grid grid;
  grid.file = Word(name_prompt);
  grid.write_code = Integer(code_prompt);
  return grid;
}

statistics_file section_reader::Statistics(const std::string& prompt) {
  statistics_file table;
  // The pair's entry names no token before it.
  if (!Token(table.file)) RaiseUnreadable(prompt, {}, {});
  table.code = Value<int>(prompt, kNoWholeNumber, false);
  return table;
}

bool section_reader::OptionalNumber(const std::string& prompt, double& value) {
  if (!FollowingNumber(prompt, value)) return false;
  std::string comment;
  Line(comment);
  return true;
}

bool section_reader::FollowingNumber(const std::string& prompt, double& value) {
  std::FILE* file = m_.control_file;
  if (!file) return false;
  const long start = std::ftell(file);
  std::string token;
  if (!Token(token) || !StartsAsNumber(token)) {
    if (start >= 0) std::fseek(file, start, SEEK_SET);
    return false;
  }
  if (!ParseNumber(token, value)) RaiseUnreadValue(prompt, token, kNoFiniteNumber);
  return true;
}

bool section_reader::Token(std::string& token) {
  token.clear();
  return m_.control_file && ReadToken(m_.control_file, token);
}

bool section_reader::Line(std::string& line) {
  line.clear();
  return m_.control_file && ReadWholeLine(m_.control_file, line);
}

bool section_reader::AtEnd() const { return !m_.control_file || std::feof(m_.control_file); }

bool section_reader::FilledLine(std::string& line) {
  while (Line(line))
    if (!IsBlankLine(line)) return true;
  return false;
}

bool section_reader::Block(BraceBlockCollector& block) {
  std::string line;
  while (!block.complete()) {
    if (!Line(line) || IsSectionHeader(line)) return false;
    block.AddLine(line);
  }
  return true;
}

template <typename T>
T section_reader::Value(const std::string& prompt, const std::string& what, bool debug_entries) {
  std::string token;
  T value{};
  if (!Token(token) || !ParseNumber(token, value)) {
    if (debug_entries) RaiseUnreadValue(prompt, token, what);
    RaiseUnreadable(prompt, token, what);
  }
  std::string comment;
  Line(comment);
  return value;
}

void section_reader::RaiseUnreadValue(const std::string& prompt, const std::string& token,
                                      const std::string& what) {
  *m_.messages << "--> In .\n  Next line in Velmo control file: "
               << "[end-entry]";
  *m_.messages << token << "[end-entry]";
  RaiseUnreadable(prompt, token, what);
}

void section_reader::RaiseUnreadable(const std::string& prompt, const std::string& token,
                                     const std::string& what) {
  if (token.empty() || what.empty()) m_.RaiseControlFileError(prompt + suffix_, m_.name);
  RaiseFatal(m_.messages,
             "FATAL: error in control file, " + prompt + suffix_ + "; " + m_.name + "not found! (\"" + token +
                 "\" is " + what + ")",
             kControlFileErrorCode);
}

void section_reader::Check(bool condition, const std::string& text, double value, int code) {
  if (condition) return;
  *m_.messages << text << value << "[end-entry]";
  throw ErrorCode{code};
}

namespace {

// The flow control parameters a section lists, as its entry names them.
std::string FlowControlValues(int highest) {
  if (highest == kAnyFlowControl) return "0 (off) or a positive whole number (on)";
  std::string values = "0 (off)";
  for (int v = 1; v <= highest; ++v) values += (v == highest ? " or " : ", ") + std::to_string(v);
  return values + " (on)";
}

}  // namespace

int section_reader::FlowControl(int highest) {
  const int value = Integer("flow control parameter for ");
  Check(value >= 0 && value <= highest,
        "FATAL: the flow control parameter for " + section_ + " must be " + FlowControlValues(highest) +
            ", not ",
        value, kControlFileErrorCode);
  return value;
}

void section_reader::Close() { Close("FATAL: error closing " + m_.control_file_name); }

void section_reader::Close(const std::string& entry, int code) { m_.CloseControlFile(entry, code); }

}  // namespace velmo
