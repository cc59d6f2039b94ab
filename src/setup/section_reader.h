// Reading a section of the control file value by value, as every module
// reads its own: each value with its prompt, which ends with the section
// name, so that an error tells the user where to look.
//
// A value is a whole token: it ends at the first blank, tab or line end, and
// the rest of its line is a comment. A number must be a number as a whole and
// finite: "3,5", "3x", "12abc", "1.2.3", "1e", "nan", "inf", "1e309" and whole
// numbers beyond int are refused, never read by their first characters. An
// unreadable value ends the run with the entries of the control-file reader
// (the next token, then "FATAL: error in control file, <prompt>; <module>not
// found!", naming the token that is no number) and code 17.
//
// The reader works on the module's control file (modelobject::control_file):
// the submodel base opens it and reads the head of the section, the module
// reads on, and Close() ends it. Entries and codes that differ between the
// modules are passed in, so that each keeps its own.
#pragma once

#include <limits>
#include <string>

#include "framework/modelobject.h"
#include "framework/texthelpers.h"
#include "setup/output_settings.h"

namespace velmo {

// Flow control parameters: 0 switches a module off, a positive value on. A
// section that lists its values up to a highest one names it.
inline constexpr int kAnyFlowControl = std::numeric_limits<int>::max();

// What a token that is no number should have been, as the entries say it.
inline constexpr const char* kNoWholeNumber = "no whole number";
inline constexpr const char* kNoFiniteNumber = "no finite number";

// How a reader opens its section.
struct section_opening {
  // false: a missing section is no error; Found() tells whether the
  // section is there.
  bool required = true;
  // false: prompts stand as given, without the section after them (the
  // interpolators, the precipitation correction and the data assimilation
  // name the section in their prompts or not at all).
  bool section_in_prompts = true;
  // The entry of a control file that cannot be opened (28) starts with this;
  // the file name follows.
  std::string open_entry = "FATAL: error opening ";
};

// How a reader goes on where the module's open control file stands.
struct reading_on {
  bool section_in_prompts = true;  // as in section_opening
};
inline constexpr reading_on kReadingOn{};

class section_reader {
 public:
  // Opens the module's control file and finds `section` ("[name]"); an
  // empty section reads the file from its start. A file that cannot be
  // opened ends with the opening entry and 28, a missing required section
  // with "FATAL: error in control file, <section>; (EOF)not found!" and 17.
  section_reader(modelobject& module, std::string section, const section_opening& opening = {});
  // Reads on in the module's open control file from where it stands, in the
  // module's own section (section_buffer).
  section_reader(modelobject& module, reading_on how);

  // Whether the section was found (always, when it is required).
  bool Found() const { return found_; }
  const std::string& Section() const { return section_; }
  modelobject& Module() const { return m_; }

  // The next value, then the rest of its line.
  int Integer(const std::string& prompt);
  double Number(const std::string& prompt);
  std::string Word(const std::string& prompt);
  // The section's flow control parameter: a value below 0 or above
  // `highest` ends with "FATAL: the flow control parameter for <section>
  // must be <the values> (on), not <value>" and 17, for a value the section
  // does not list would count as on in one module and as off in another.
  int FlowControl(int highest);
  // A grid's file name and write code, each on its own line.
  output_grid Grid(const std::string& name_prompt, const std::string& code_prompt);
  // A statistics table's file name and code, as a pair.
  statistics_file Statistics(const std::string& prompt);
  // A number that may follow: false, and the file left where it was, when
  // the next token does not start as a number (or there is none).
  bool OptionalNumber(const std::string& prompt, double& value);
  // The same, leaving the rest of the number's line to be read.
  bool FollowingNumber(const std::string& prompt, double& value);

  // The next token, wherever it stands; false at the end of the file.
  bool Token(std::string& token);
  // The next line, or the rest of the current one, without its line end;
  // false at the end of the file.
  bool Line(std::string& line);
  // Whether the file has come to its end (a last line read without a line
  // end).
  bool AtEnd() const;
  // The next line that holds more than white space; false at the end of the
  // file.
  bool FilledLine(std::string& line);
  // Adds the next lines to `block` until its braces close; false when the
  // file, or the section (a line that opens the next), ends first.
  bool Block(BraceBlockCollector& block);
  // Reads on to the end of the section (a line that opens the next one, or
  // the end of the file): true at the first line that `holds`, which is then
  // in `line`. So what follows a count's last block or a list's end is found
  // rather than passed over.
  template <typename Predicate>
  bool LaterLine(Predicate holds, std::string& line) {
    while (Line(line) && !IsSectionHeader(line))
      if (holds(line)) return true;
    return false;
  }

  // Unless `condition` holds: the entry `text` followed by `value`, and `code`.
  void Check(bool condition, const std::string& text, double value, int code);
  // The FATAL entry of a value named by `prompt` that is missing (an empty
  // `token`) or no number (`token`, `what` saying what it should be:
  // kNoWholeNumber, kNoFiniteNumber), 17.
  [[noreturn]] void RaiseUnreadable(const std::string& prompt, const std::string& token,
                                    const std::string& what);

  // Closes the control file: a close that fails writes "FATAL: error closing
  // <file>" (or `entry`) and throws `code`.
  void Close();
  void Close(const std::string& entry, int code = kControlFileCloseErrorCode);

 private:
  // The next token read as a number of type T, then the rest of its line;
  // refused with the entries of an unreadable value.
  template <typename T>
  T Value(const std::string& prompt, const std::string& what, bool debug_entries);
  // The entries of the control-file reader before the FATAL entry: where it
  // stood, the token there.
  [[noreturn]] void RaiseUnreadValue(const std::string& prompt, const std::string& token,
                                     const std::string& what);

  modelobject& m_;
  std::string section_;
  std::string suffix_;  // ends every prompt
  bool found_ = true;
};

}  // namespace velmo
