// The lock file of a run's output folder: an advisory lock on the open file,
// the run's process id written in it for the message of a refused run,
// removed at the run's end.
#include "app/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "framework/diagnostics.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"

namespace velmo {
namespace {

// A run that has just taken the lock may not have written its process id
// yet: the file is read again this often, this long apart, for the message.
constexpr int kReadAttempts = 20;
constexpr auto kReadPause = std::chrono::milliseconds(50);
// A run that ends removes its lock file, which another run may have opened
// just before: the lock is tried on the new file this often.
constexpr int kTakeAttempts = 3;

// The process id written in an open lock file; 0 when it holds none.
long ProcessInLock(int fd) {
  char text[64] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  const long pid = std::strtol(text, nullptr, 10);
  return pid > 0 ? pid : 0;
}

long ProcessOfHolder(int fd) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (const long pid = ProcessInLock(fd)) return pid;
    std::this_thread::sleep_for(kReadPause);
  }
  return 0;
}

// Whether `fd` is still the file that `path` names (not removed by the run
// that held it, nor replaced since).
bool StillNamed(int fd, const std::string& path) {
  struct stat open_file {};
  struct stat named {};
  return fstat(fd, &open_file) == 0 && stat(path.c_str(), &named) == 0 && open_file.st_dev == named.st_dev &&
         open_file.st_ino == named.st_ino;
}

std::string FolderName(const std::string* output_directory) {
  return output_directory && !output_directory->empty() ? *output_directory : std::string("./");
}

}  // namespace

std::unique_ptr<run_lock> run_lock::Take(MessageStream* messages, const std::string* output_directory) {
  std::string path = kRunLockName;
  modelobject::PrefixPath(output_directory, path);
  const std::string folder = FolderName(output_directory);
  for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (messages)
        *messages << "WARNING: the lock file " << path << " cannot be created (" << std::strerror(errno)
                  << "); another run writing to " << folder << " at the same time is not detected"
                  << "[end-entry]";
      return nullptr;
    }
    // The lock is the system's advisory lock on the open file: it goes with
    // its process, however that ends.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error != EWOULDBLOCK) {
        close(fd);
        if (messages)
          *messages << "WARNING: the lock file " << path << " cannot be locked (" << std::strerror(error)
                    << "); another run writing to " << folder << " at the same time is not detected"
                    << "[end-entry]";
        return nullptr;
      }
      const long holder = ProcessOfHolder(fd);
      close(fd);
      if (messages)
        *messages << "FATAL: the output folder " << folder << " is in use by the run of process " << holder
                  << " (lock file " << path << "); two runs must not write to one output folder at once"
                  << "[end-entry]";
      throw ErrorCode{kOutputFolderLockedCode};
    }
    if (!StillNamed(fd, path)) {
      close(fd);
      continue;
    }
    // A file that no process holds: left by a run that ended without
    // removing it.
    const long previous = ProcessInLock(fd);
    struct stat file {};
    if (fstat(fd, &file) == 0 && file.st_size > 0 && messages) {
      *messages << "WARNING: the lock file " << path;
      if (previous > 0) {
        *messages << " of process " << previous << ", whose run has ended,";
      } else {
        *messages << ", which names no process,";
      }
      *messages << " is taken over by this run"
                << "[end-entry]";
    }
    const std::string pid = std::to_string(static_cast<long>(getpid())) + "\n";
    const bool written =
        ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    if (!written && messages)
      *messages << "WARNING: the process id could not be written to the lock file " << path << "[end-entry]";
    RegisterRunLock(path.c_str());
    return std::unique_ptr<run_lock>(new run_lock(path, fd));
  }
  if (messages)
    *messages << "FATAL: the lock file " << path << " of the output folder " << folder
              << " keeps being taken by other runs"
              << "[end-entry]";
  throw ErrorCode{kOutputFolderLockedCode};
}

run_lock::~run_lock() {
  ForgetRunLock();
  // Removed while still held, so that no run takes a file about to go.
  unlink(path_.c_str());
  close(fd_);
}

}  // namespace velmo
