// A copy of the control file opened for one reader, apart from the file the
// caller may hold open.
#pragma once

#include <cstdio>

#include "framework/diagnostics.h"
#include "framework/modelobject.h"

namespace velmo {

// Opens the object's control file afresh and puts it in the object's
// control_file (which FindSection reads); the former file goes back into the
// slot when the copy is closed or goes. A file that cannot be opened is
// fatal.
class ControlFileCopy {
 public:
  explicit ControlFileCopy(modelobject& object)
      : slot_(object.control_file),
        held_(object.control_file),
        file_(std::fopen(object.control_file_name.c_str(), "rt")) {
    if (!file_) {
      *object.messages << "FATAL: error opening " << object.control_file_name << "[end-entry]";
      throw ErrorCode{kControlFileOpenErrorCode};
    }
    slot_ = file_;
  }
  ~ControlFileCopy() { Close(); }
  ControlFileCopy(const ControlFileCopy&) = delete;
  ControlFileCopy& operator=(const ControlFileCopy&) = delete;

  std::FILE* file() const { return file_; }
  // Gives the slot its former file back and closes the copy; false when the
  // closing fails.
  bool Close() {
    if (!file_) return true;
    slot_ = held_;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }

 private:
  std::FILE*& slot_;
  std::FILE* held_;
  std::FILE* file_;
};

}  // namespace velmo
