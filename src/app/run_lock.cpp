// The lock file of a run's output folder: created exclusively with the run's
// process id, taken over from a process that no longer runs, removed at the
// run's end.
#include "app/run_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "framework/diagnostics.h"
#include "framework/modelobject.h"

namespace velmo {
namespace {

// A lock that another run has just created may not hold its process id yet:
// it is read again this often, this long apart.
constexpr int kReadAttempts = 20;
constexpr auto kReadPause = std::chrono::milliseconds(50);
// A stale lock may be taken over by another run at the same moment: the
// creation is tried this often.
constexpr int kCreateAttempts = 3;

// The process id in a lock file; 0 when it holds none (yet).
long ProcessOfLock(const std::string& path) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return errno == ENOENT ? -1 : 0;
    char text[64] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n > 0) {
      const long pid = std::strtol(text, nullptr, 10);
      if (pid > 0) return pid;
    }
    std::this_thread::sleep_for(kReadPause);
  }
  return 0;
}

bool Runs(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

std::string FolderName(const std::string* output_directory) {
  return output_directory && !output_directory->empty() ? *output_directory : std::string("./");
}

}  // namespace

std::unique_ptr<run_lock> run_lock::Take(MessageStream* messages, const std::string* output_directory) {
  std::string path = kRunLockName;
  modelobject::PrefixPath(output_directory, path);
  const std::string folder = FolderName(output_directory);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
      const std::string pid = std::to_string(static_cast<long>(getpid())) + "\n";
      const bool written = write(fd, pid.data(), pid.size()) == static_cast<ssize_t>(pid.size());
      close(fd);
      if (!written && messages)
        *messages << "WARNING: the process id could not be written to the lock file " << path
                  << "[end-entry]";
      return std::unique_ptr<run_lock>(new run_lock(path));
    }
    if (errno != EEXIST) {
      if (messages)
        *messages << "WARNING: the lock file " << path << " cannot be created (" << std::strerror(errno)
                  << "); another run writing to " << folder << " at the same time is not detected"
                  << "[end-entry]";
      return nullptr;
    }
    const long holder = ProcessOfLock(path);
    if (holder < 0) continue;  // removed meanwhile
    if (holder != getpid() && Runs(holder)) {
      if (messages)
        *messages << "FATAL: the output folder " << folder << " is in use by the run of process " << holder
                  << " (lock file " << path << "); two runs must not write to one output folder at once"
                  << "[end-entry]";
      throw ErrorCode{kOutputFolderLockedCode};
    }
    if (messages) {
      *messages << "WARNING: the lock file " << path;
      if (holder > 0) {
        *messages << " of process " << holder << ", which no longer runs,";
      } else {
        *messages << ", which names no process,";
      }
      *messages << " is taken over by this run"
                << "[end-entry]";
    }
    unlink(path.c_str());
  }
  if (messages)
    *messages << "FATAL: the lock file " << path << " of the output folder " << folder
              << " keeps being taken by other runs"
              << "[end-entry]";
  throw ErrorCode{kOutputFolderLockedCode};
}

run_lock::~run_lock() { unlink(path_.c_str()); }

}  // namespace velmo
