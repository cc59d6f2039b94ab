// The one message stream of a run: console transcript plus the diagnostics
// XML file (Delft-FEWS PI diagnostics schema 1.2).
#pragma once

#include <fstream>
#include <iomanip>
#include <ostream>
#include <string>
#include <string_view>

namespace velmo {

enum MessageLevel { kFatal = 0, kError = 1, kWarning = 2, kInfo = 3, kDebug = 4, kSkip = 5 };

inline constexpr const char* kDefaultDiagFileName = "Velmo_Diag.xml";
inline constexpr std::string_view kEndEntry = "[end-entry]";

// Thrown integer code of a fatal condition.
using ErrorCode = int;
// Code of any exception that is not a thrown ErrorCode.
inline constexpr int kUnexpectedErrorCode = 103;

class MessageStream {
 public:
  // Opens the diagnostics file (falling back to the default name); throws 320
  // when neither can be opened. `console` is where the transcript goes.
  MessageStream(const std::string& file_name, int max_level, std::ostream& console);
  MessageStream(const std::string& file_name, int max_level);
  ~MessageStream();
  MessageStream(const MessageStream&) = delete;
  MessageStream& operator=(const MessageStream&) = delete;

  MessageStream& operator<<(const char* piece);
  MessageStream& operator<<(const std::string& piece);
  MessageStream& operator<<(int value);
  MessageStream& operator<<(long value);
  MessageStream& operator<<(long long value);
  MessageStream& operator<<(unsigned value) { return *this << static_cast<long long>(value); }
  MessageStream& operator<<(unsigned long value) { return *this << static_cast<long long>(value); }
  MessageStream& operator<<(double value);
  MessageStream& operator<<(decltype(std::setw(0)) width);
  MessageStream& operator<<(decltype(std::setfill('0')) fill);

  // The diagnostics-file side of one piece; nullptr stands for a number or
  // manipulator.
  void WriteDiagPiece(const std::string* piece);
  void Close();

  const std::string& DiagFileName() const { return diag_file_name_; }
  int MaxLevel() const { return max_level_; }

  // While a run is being closed (its clearing, or its tables written after a
  // fatal error) a failed output file must not stop the closing: its FATAL
  // entry is kept as an ERROR entry, the writer notes its code here
  // (WriteOutputFile) and the closing goes on with the next file.
  // EndClosing returns the first code noted, 0 when every file was written.
  void BeginClosing();
  int EndClosing();
  bool Closing() const { return closing_; }
  void NoteOutputFailure(int code);
  // The number of output files noted as failed since BeginClosing.
  int OutputFailureCount() const { return output_failure_count_; }

  // Level of a prefix at the start of `text`, or -1 when it has none.
  static int PrefixLevel(std::string_view text, size_t* prefix_length = nullptr);
  // The XML escaping of one text piece (without the end-marker handling);
  // bytes that are not UTF-8 and control characters other than tab and
  // newline (which becomes ";") become "?", so that the file stays
  // well-formed whatever a message echoes.
  static std::string EscapeXml(std::string_view text);

 private:
  void Open(const std::string& file_name);
  // Opens `file_name` under an advisory lock, or the run's own file when
  // another run holds it; false when neither can be opened.
  bool OpenLocked(const std::string& file_name);
  bool FileWritable() const { return file_.is_open() && file_.good(); }
  void TextPiece(const std::string& piece);
  template <typename T>
  MessageStream& Formatted(const T& item);

  int process_index_ = 0;
  std::ofstream file_;
  // The file's lock, held while the stream writes it; also where an end at
  // once from a signal handler writes.
  int lock_fd_ = -1;
  std::string held_by_other_run_;  // the file another run holds, when this one writes its own
  std::ostream& console_;
  bool at_entry_start_ = true;
  bool entry_suppressed_ = false;
  bool element_open_ = false;  // an element has been started in the file and not closed
  int entry_level_ = 0;
  std::string piece_xml_;
  std::string diag_file_name_;
  int max_level_ = kDebug;
  bool closed_ = false;
  bool closing_ = false;
  int first_output_failure_ = 0;
  int output_failure_count_ = 0;
};

// Writes `text` as one entry (when there is a stream) and throws `code`.
[[noreturn]] void RaiseFatal(MessageStream* messages, const std::string& text, int code);

// A failed output file (its entry written): while the run is being closed
// its code is noted with the message stream, so that the closing goes on;
// otherwise the code is thrown on.
void OutputFailed(MessageStream* messages, ErrorCode code);

// Runs `write`, the writing of one output file whose failures throw their
// code after their entry, and hands a failure to OutputFailed.
template <typename Write>
void WriteOutputFile(MessageStream* messages, Write&& write) {
  try {
    write();
  } catch (ErrorCode code) {
    OutputFailed(messages, code);
  }
}

// Local time as YYYY-MM-DDTHH:MM:SS.
std::string LocalTimeStamp();

}  // namespace velmo
