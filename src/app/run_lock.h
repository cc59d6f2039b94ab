// The lock file of a run's output folder: two runs that write to one folder
// at the same time would mix their rows in every table, so a run holds
// "velmo.lock" in its output folder from its set-up to its end: the
// system's advisory lock on the open file, which goes with the process
// however it ends. The file holds the process id of its run for the message
// of a second run, which ends at its set-up with code 75; a lock file that
// no process holds (a run that was killed) is taken over with a WARNING.
#pragma once

#include <memory>
#include <string>

namespace velmo {

class MessageStream;

inline constexpr const char* kRunLockName = "velmo.lock";
// Code of a run whose output folder is held by another run.
inline constexpr int kOutputFolderLockedCode = 75;

class run_lock {
 public:
  // Takes the lock of the folder `output_directory` (prefixed to the lock's
  // name as to every output; none: the working directory). Throws 75 when
  // another process holds it; a lock that cannot be created at all is
  // reported with a WARNING and the run goes on without one.
  static std::unique_ptr<run_lock> Take(MessageStream* messages, const std::string* output_directory);
  // Removes the lock file and releases the lock.
  ~run_lock();
  run_lock(const run_lock&) = delete;
  run_lock& operator=(const run_lock&) = delete;

  const std::string& path() const { return path_; }

 private:
  run_lock(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  std::string path_;
  int fd_;
};

}  // namespace velmo
