// The state file of a run: the routing, soil and snow models each write their
// block into it while they are cleaned up. The first block written in a run
// creates (replaces) the file, every later block of the run is appended, so
// a warm start never reads blocks left over from an older run. A block that
// cannot be written is reported by its module with an ERROR entry; the
// clearing goes on, and once it is complete the run ends with code 16.
//
// Usage (a module's block writer):
//   std::FILE* file = state_files ? state_files->OpenBlock(path) : std::fopen(path.c_str(), mode);
//   if (!file) { ERROR entry naming path; if (state_files) state_files->ReportFailure(); return; }
//   ... write ...;
//   if (!state_files->CloseBlock(file)) { ERROR entry; ... }
// The model application owns the session of a run and hands it to the
// modules through model_settings::state_files; after the clearing it throws
// kStateFileWriteErrorCode when Failed().
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace velmo {

// Code of a run whose state file could not be written completely (the code of
// an output file that cannot be written).
inline constexpr int kStateFileWriteErrorCode = 16;

class state_file_session {
 public:
  // Opens `path` (with its directory already prefixed) for the next block: "w"
  // for the first block written to that path in this run, "a" afterwards.
  // Null when it cannot be opened; the caller reports it.
  std::FILE* OpenBlock(const std::string& path);
  // Closes a block; false when a write or the close failed (the caller
  // reports it).
  static bool CloseBlock(std::FILE* file);
  // A block could not be written: the run ends with code 16 after clearing.
  void ReportFailure() { failed_ = true; }
  bool Failed() const { return failed_; }

 private:
  std::vector<std::string> created_;
  bool failed_ = false;
};

}  // namespace velmo
