// The state (storage content) file of a warm start. At the end of a run the
// routing, soil and snow models each write one block of it in their
// clean-up, in this order, and the next run reads the blocks back while it
// is built. What the three share lives here:
//
//   Writing. state_file_record (one per run, held by model_settings, so every
//   module built from the run's settings sees the same one) opens the file
//   for a block: the first block of the run creates the file (replacing the
//   file of an earlier run), later blocks of the run append. A file that
//   cannot be opened, written or closed gives an ERROR entry naming the path;
//   the clearing goes on, and the application ends the run with
//   kStateFileWriteErrorCode once its clearing is complete.
//
//     // state_files: the module's copy of settings.state_files
//     state_file_block block = state_files->OpenBlock(path, messages, text);
//     if (!block) return;                       // entry logged, failure noted
//     std::fprintf(block.file(), "[my_block]\n");
//     PutStateValue(block.file(), value, " (label)\n");
//     block.Close();                            // or let it go out of scope
//
//   Values are written with 17 significant digits (kStateValueFormat), so that
//   a warm start reads back exactly the double that was written.
//
//   Reading. state_file_reader reads numbers as scanf's "%d"/"%lf" do (white
//   space, line ends included, is skipped; a number ends where its characters
//   end, so "0.5(label" gives 0.5), skips the rest of a line, finds the line
//   that holds a section name (also a last line without a line end) and counts
//   the lines it has passed for the messages.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velmo {

class MessageStream;

// Name of the state file when the soil model's section names none.
inline constexpr const char* kDefaultStateFileName = "storage.ftz";
// Format of one state value.
inline constexpr const char* kStateValueFormat = "%.17g";
// Code of a run whose state file could not be written: that of any output
// file that cannot be written.
inline constexpr int kStateFileWriteErrorCode = 16;

class state_file_record;

// One block being written: the open file, closed by Close() or when the
// object goes. Empty (false) when the file could not be opened.
class state_file_block {
 public:
  state_file_block() = default;
  state_file_block(state_file_block&& other) noexcept;
  state_file_block& operator=(state_file_block&& other) noexcept;
  state_file_block(const state_file_block&) = delete;
  state_file_block& operator=(const state_file_block&) = delete;
  ~state_file_block();

  explicit operator bool() const { return file_ != nullptr; }
  std::FILE* file() const { return file_; }
  // Closes the file. A write or close that failed gives the ERROR entry
  // "ERROR: error writing the state file " + path and counts as a failure.
  void Close();

 private:
  friend class state_file_record;
  std::FILE* file_ = nullptr;
  std::string path_;
  MessageStream* messages_ = nullptr;
  state_file_record* record_ = nullptr;
};

// The state files one run has written to.
class state_file_record {
 public:
  // Opens `path` for the next block of this run: the run's first block in
  // `path` creates the file (an older one is replaced), later ones append.
  // When the file cannot be opened, logs "ERROR: " + failure_text, notes the
  // failure and returns an empty block.
  state_file_block OpenBlock(const std::string& path, MessageStream* messages,
                             const std::string& failure_text);
  // Whether a block of this run could not be written completely.
  bool WriteFailed() const { return failed_; }

 private:
  friend class state_file_block;
  std::vector<std::string> written_;  // paths, as made absolute
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
