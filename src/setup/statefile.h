// The state file of a run: the routing, soil and snow models each write their
// block into it while they are cleaned up (in this order), and the next run
// reads the blocks back while it is built. The first block written in a run
// creates (replaces) the file, every later block of the run is appended, so
// a warm start never reads blocks left over from an older run. A block that
// cannot be written is reported by its module with an ERROR entry; the
// clearing goes on, and once it is complete the run ends with code 16.
//
// Usage (a module's block writer):
//   std::FILE* file = state_files ? state_files->OpenBlock(path) : std::fopen(path.c_str(), mode);
//   if (!file) { ERROR entry naming path; if (state_files) state_files->ReportFailure(path); return; }
//   ... write, state values with PutStateValue ...;
//   if (!state_file_session::CloseBlock(file)) { ERROR entry; state_files->ReportFailure(path); }
// The model application owns the session of a run and hands it to the
// modules through model_settings::state_files; after the clearing it throws
// kStateFileWriteErrorCode when Failed().
//
// State values are written with 17 significant digits (kStateValueFormat), so
// that a warm start reads back exactly the double that was written.
//
// Reading: state_file_reader reads numbers as scanf's "%d" and "%lf" do
// (white space, line ends included, is skipped; a number ends where its
// characters end, so "0.5(label" gives 0.5), skips the rest of a line, finds
// the line that holds a section name (also a last line without a line end)
// and counts the lines it has passed for the messages.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// Code of a run whose state file could not be written completely (the code of
// an output file that cannot be written).
inline constexpr int kStateFileWriteErrorCode = 16;
// Name of the state file when the soil model's section names none (the
// routing block alone is written to it).
inline constexpr const char* kDefaultStateFileName = "storage.ftz";
// Format of one state value.
inline constexpr const char* kStateValueFormat = "%.17g";

class state_file_session {
 public:
  // Opens `path` (with its directory already prefixed) for the next block: "w"
  // for the first block written to that path in this run, "a" afterwards.
  // Null when it cannot be opened; the caller reports it.
  std::FILE* OpenBlock(const std::string& path);
  // Closes a block; false when a write or the close failed (the caller
  // reports it).
  static bool CloseBlock(std::FILE* file);
  // A block of `path` could not be written: the run ends with code 16 after
  // clearing.
  void ReportFailure(const std::string& path);
  bool Failed() const { return failed_; }
  // Removes every file this run created and could not write completely (a
  // warm start must not read a cut file); returns their names.
  std::vector<std::string> RemoveIncompleteFiles();

 private:
  std::vector<std::string> created_;
  std::vector<std::string> incomplete_;
  bool failed_ = false;
};

// Writes `value` with kStateValueFormat, then `after`.
void PutStateValue(std::FILE* file, double value, const char* after = "");

// Reads a state file opened by the caller (not owned).
class state_file_reader {
 public:
  explicit state_file_reader(std::FILE* file) : file_(file) {}

  // Reads lines from the current position until one contains `text`; the
  // reader then stands at the start of the line after it. A last line
  // without a line end is tested too. False at the end of the file.
  bool FindLineContaining(const std::string& text);
  // Back to the start of the file (line 1).
  void Rewind();
  // An integer, as "%d" reads it; false when none stands there or it does
  // not fit an int.
  bool ReadInt(int& value);
  // A finite number, as "%lf" reads it; false when none stands there.
  bool ReadDouble(double& value);
  // Skips to the start of the next line.
  void SkipRestOfLine();
  // The rest of the current line, without its line end; the reader then
  // stands at the start of the next line. False at the end of the file.
  bool ReadLine(std::string& line);
  // The same, but the reader stays where it was (older blocks lack lines
  // that newer ones have).
  bool PeekLine(std::string& line);
  // Reads the rest of the current line into `rest` (as ReadLine does) and
  // tells whether it is the label `label`, blanks, tabs and line ends
  // around and inside either taken as one blank. The label that ends a line
  // of a block says what its numbers are, so that a line left out, or
  // numbers of the line after it, are not read as its values.
  bool ReadLabel(std::string_view label, std::string& rest);
  // Number of the line the reader stands in, from 1.
  int Line() const { return line_; }

 private:
  int Get();
  void Unget(int c);
  bool SkipSpace();
  std::string NumberText(bool fraction);

  std::FILE* file_;
  int line_ = 1;
};

}  // namespace velmo
