// The message stream: console transcript and diagnostics XML file.
#include "framework/diagnostics.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <iostream>
#include <utility>

#include "framework/interrupt.h"

namespace velmo {
namespace {

constexpr std::string_view kPrefixes[] = {"FATAL: ", "ERROR: ", "WARNING: ", "INFO: ", "DEBUG: ", "SKIP: "};
constexpr int kDiagOpenError = 320;

}  // namespace

void RaiseFatal(MessageStream* messages, const std::string& text, int code) {
  if (messages) *messages << text << "[end-entry]";
  throw ErrorCode{code};
}

void OutputFailed(MessageStream* messages, ErrorCode code) {
  if (!messages || !messages->Closing()) throw ErrorCode{code};
  messages->NoteOutputFailure(code);
}

std::string LocalTimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
  return buffer;
}

int MessageStream::PrefixLevel(std::string_view text, size_t* prefix_length) {
  for (int level = kFatal; level <= kSkip; ++level) {
    if (text.starts_with(kPrefixes[level])) {
      if (prefix_length) *prefix_length = kPrefixes[level].size();
      return level;
    }
  }
  if (prefix_length) *prefix_length = 0;
  return -1;
}

namespace {

// One character at the start of a text: how many bytes it takes and
// whether an XML file may hold it. A byte that starts no well-formed UTF-8
// sequence (malformed, overlong, surrogate, beyond U+10FFFF) is a character
// of its own that is not allowed; so are the control characters other than
// tab and newline, and U+FFFE/U+FFFF.
struct xml_character {
  size_t length;
  bool allowed;
};

xml_character NextXmlCharacter(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  constexpr xml_character kBadByte{1, false};
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {1, (lead >= 0x20 && lead != 0x7f) || lead == '\t' || lead == '\n'};
  size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return kBadByte;
  }
  if (text.size() < length) return kBadByte;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0u) != 0x80u) return kBadByte;
    code = (code << 6) | (byte(i) & 0x3fu);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10ffff) return kBadByte;  // overlong or beyond Unicode
  if (code >= 0xd800 && code <= 0xdfff) return kBadByte;             // surrogate halves
  const bool c1_control = code <= 0x9f;
  return {length, !c1_control && code != 0xfffe && code != 0xffff};
}

}  // namespace

std::string MessageStream::EscapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    // Input bytes echoed into a message (file names, control-file lines) may
    // be anything; the file must stay readable as XML, so whatever it cannot
    // hold becomes "?".
    const xml_character next = NextXmlCharacter(text.substr(at));
    if (!next.allowed || next.length > 1) {
      if (next.allowed)
        out.append(text.substr(at, next.length));
      else
        out += '?';
      at += next.length - 1;
      continue;
    }
    const char c = text[at];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '\n':
        out += ';';
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      // XML comments may not hold runs of hyphens: every run of three or more
      // becomes exactly two.
      case '-':
        if (out.size() >= 2 && out[out.size() - 1] == '-' && out[out.size() - 2] == '-') break;
        out += c;
        break;
      default:
        out += c;
    }
  }
  return out;
}

MessageStream::MessageStream(const std::string& file_name, int max_level)
    : MessageStream(file_name, max_level, std::cout) {}

MessageStream::MessageStream(const std::string& file_name, int max_level, std::ostream& console)
    : console_(console), max_level_(max_level) {
  diag_file_name_ = file_name.empty() ? std::string(kDefaultDiagFileName) : file_name;
  if (process_index_ != 0) return;
  Open(diag_file_name_);
}

namespace {

// The name of a run's own diagnostics file when `name` is held by another
// run: the process id before the extension ("Velmo_Diag_4711.xml").
std::string OwnDiagFileName(const std::string& name) {
  const std::string pid = "_" + std::to_string(static_cast<long>(getpid()));
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return name + pid;
  return name.substr(0, dot) + pid + name.substr(dot);
}

// Opens `name` for the stream's lock: no other run's file is truncated.
int OpenForLock(const std::string& name) {
  return open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

}  // namespace

bool MessageStream::OpenLocked(const std::string& file_name) {
  std::string name = file_name;
  int fd = OpenForLock(name);
  if (fd < 0) return false;
  // Another live run writes this file: this run's entries get a file of
  // their own, so that neither file is mixed or cut. A file system without
  // locks leaves the file to this run, as before.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    held_by_other_run_ = name;
    name = OwnDiagFileName(file_name);
    std::cerr << "velmo: the diagnostics file " << file_name
              << " is in use by another run; the diagnostics of this run (process "
              << static_cast<long>(getpid()) << ") go to " << name << std::endl;
    fd = OpenForLock(name);
    if (fd < 0) return false;
    flock(fd, LOCK_EX | LOCK_NB);
  }
  file_.open(name, std::ios::out | std::ios::trunc);
  if (!file_.is_open()) {
    close(fd);
    return false;
  }
  lock_fd_ = fd;
  diag_file_name_ = name;
  return true;
}

void MessageStream::Open(const std::string& file_name) {
  if (!OpenLocked(file_name)) {
    auto rank = [this]() -> std::ostream& {
      return console_ << "(mpi-rank " << std::setw(2) << process_index_ << ") ";
    };
    rank() << "\n ----- Warning -----\n error opening diagnostics output file " << file_name << "\n";
    rank() << "\nusing default name Velmo_Diag.xml in actual working directory\n -------------------\n\n"
           << "\n";
    diag_file_name_ = kDefaultDiagFileName;
    file_.clear();
    if (!OpenLocked(diag_file_name_)) {
      rank() << "Error opening diagnostics output file " << diag_file_name_ << "\n";
      console_.flush();
      throw ErrorCode{kDiagOpenError};
    }
  }
  file_ << "<?xml version='1.0' encoding='UTF-8'?>\n"
        << "<Diag version=\"1.2\" xmlns=\"http://www.wldelft.nl/fews/PI\" \n"
        << "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" \n"
        << "xsi:schemaLocation=\"http://www.wldelft.nl/fews/PI "
           "http://fews.wldelft.nl/schemas/version1.0/pi-schemas/pi_diag.xsd\">\n";
  file_ << "\t<line level=\"3\" description= \"Velmo start at " << LocalTimeStamp() << "\"/>\n";
  file_.flush();
  RegisterDiagnosticsFile(lock_fd_, static_cast<long long>(file_.tellp()));
  if (!held_by_other_run_.empty())
    *this << "WARNING: the diagnostics file " << held_by_other_run_
          << " is in use by another run; this run's entries are written to " << diag_file_name_
          << "[end-entry]";
}

MessageStream::~MessageStream() { Close(); }

void MessageStream::Close() {
  if (closed_) return;
  closed_ = true;
  ForgetDiagnosticsFile(lock_fd_);
  if (FileWritable()) {
    if (element_open_) file_ << "\"/>\n";
    element_open_ = false;
    file_ << "\t<line level=\"3\" description= \"Velmo finished at " << LocalTimeStamp() << "\"/>\n";
    file_ << "</Diag>\n";
    file_.close();
  }
  // Lets the next run have the file.
  if (lock_fd_ >= 0) close(lock_fd_);
  lock_fd_ = -1;
  piece_xml_.clear();
}

void MessageStream::BeginClosing() {
  closing_ = true;
  first_output_failure_ = 0;
  output_failure_count_ = 0;
}

int MessageStream::EndClosing() {
  closing_ = false;
  return std::exchange(first_output_failure_, 0);
}

void MessageStream::NoteOutputFailure(int code) {
  ++output_failure_count_;
  if (first_output_failure_ == 0) first_output_failure_ = code;
}

void MessageStream::WriteDiagPiece(const std::string* piece) {
  std::string text;
  if (piece) {
    size_t prefix_length = 0;
    int level = PrefixLevel(*piece, &prefix_length);
    if (level >= 0) {
      // The closing goes on after a failed file: not a fatal entry.
      if (level == kFatal && closing_) level = kError;
      entry_level_ = level;
      if (!at_entry_start_) {
        if (element_open_ && FileWritable()) file_ << "\"/>\n";
        element_open_ = false;
        at_entry_start_ = true;
      }
      text = piece->substr(prefix_length);
    } else {
      if (at_entry_start_) entry_level_ = kDebug;
      text = *piece;
    }
  } else if (at_entry_start_) {
    entry_level_ = kDebug;
  }
  entry_suppressed_ = entry_level_ > max_level_;
  if (at_entry_start_) {
    if (!entry_suppressed_ && FileWritable()) {
      file_ << "\t<line level=\"" << entry_level_ << "\" description= \"";
      element_open_ = true;
    }
    at_entry_start_ = false;
  }
  if (!piece) {
    piece_xml_.clear();
    return;
  }
  std::string escaped = EscapeXml(text);
  size_t marker = escaped.find(kEndEntry);
  if (marker != std::string::npos) {
    escaped.erase(escaped.size() - kEndEntry.size());
    escaped += "\"/>";
  }
  piece_xml_ = std::move(escaped);
}

void MessageStream::TextPiece(const std::string& piece) {
  std::string console_text = piece;
  bool ends_entry = false;
  if (console_text.find(kEndEntry) != std::string::npos) {
    console_text.erase(console_text.size() - kEndEntry.size());
    ends_entry = true;
  }
  size_t prefix_length = 0;
  if (PrefixLevel(console_text, &prefix_length) >= 0) console_text.erase(0, prefix_length);
  if (!console_text.empty()) console_ << console_text;

  WriteDiagPiece(&piece);
  if (!entry_suppressed_ && FileWritable()) file_ << piece_xml_;

  if (ends_entry) {
    console_ << "\n";
    console_.flush();
    if (!entry_suppressed_ && FileWritable()) {
      file_ << "\n";
      file_.flush();
      NoteDiagnosticsComplete(lock_fd_, static_cast<long long>(file_.tellp()));
    }
    element_open_ = false;
    at_entry_start_ = true;
    entry_suppressed_ = false;
  }
}

MessageStream& MessageStream::operator<<(const char* piece) {
  TextPiece(piece ? std::string(piece) : std::string());
  return *this;
}

MessageStream& MessageStream::operator<<(const std::string& piece) {
  TextPiece(piece);
  return *this;
}

template <typename T>
MessageStream& MessageStream::Formatted(const T& item) {
  console_ << item;
  WriteDiagPiece(nullptr);
  if (!entry_suppressed_ && FileWritable()) file_ << item;
  return *this;
}

MessageStream& MessageStream::operator<<(int value) { return Formatted(value); }
MessageStream& MessageStream::operator<<(long value) { return Formatted(value); }
MessageStream& MessageStream::operator<<(long long value) { return Formatted(value); }
MessageStream& MessageStream::operator<<(double value) { return Formatted(value); }
MessageStream& MessageStream::operator<<(decltype(std::setw(0)) width) { return Formatted(width); }
MessageStream& MessageStream::operator<<(decltype(std::setfill('0')) fill) { return Formatted(fill); }

}  // namespace velmo
