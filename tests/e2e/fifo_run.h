// The real program on a copy of a test case, with a FIFO in place of one of
// its output files: the FIFO holds the program at the moment a test chooses
// (it cannot open the FIFO until the test does, nor write past what the test
// has read). Its answers to the Ctrl-C menu come from "answers.txt" (1).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "support/test_support.h"

namespace velmo::test {

inline constexpr int kFifoWaitMilliseconds = 60000;

// An ASCII grid of `n` x `n` cells of 10 m, all `value`.
inline std::string SquareGrid(int n, double value) {
  std::string text = "ncols " + std::to_string(n) + "\nnrows " + std::to_string(n) +
                     "\nxllcorner 0\nyllcorner 0\ncellsize 10\nnodata_value -9999\n";
  const std::string cell = std::to_string(value) + " ";
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) text += cell;
    text += "\n";
  }
  return text;
}

// The meteo case in `dir` on 150 x 150 cells: the rain grid of a step is
// larger than a pipe holds, so that a FIFO the test does not read holds the
// program in the middle of that write.
inline void CopyMeteoWithGridsLargerThanAPipe(const TempDir& dir) {
  CopyTestData(dir, "meteo");
  WriteFile(dir / "zones.asc", SquareGrid(150, 1));
  WriteFile(dir / "dem.asc", SquareGrid(150, 500));
}

// The program on "meteo.ctl" in `dir`, its output on a pipe; the test reads
// the output and the FIFO `fifo` of the run.
class FifoRun {
 public:
  FifoRun(const TempDir& dir, const std::string& fifo) {
    std::signal(SIGPIPE, SIG_IGN);
    WriteFile(dir / "answers.txt", "1\n");
    fifo_path_ = dir / fifo;
    if (mkfifo(fifo_path_.c_str(), 0644) != 0 || pipe(out_) != 0) return;
    started_ = true;
    if (child_.Fork() == 0) {
      const int in = open((dir / "answers.txt").c_str(), O_RDONLY);
      if (chdir(dir.path().c_str()) != 0 || in < 0) _exit(200);
      dup2(out_[1], STDOUT_FILENO);
      dup2(out_[1], STDERR_FILENO);
      dup2(in, STDIN_FILENO);
      close(out_[0]);
      execl(VELMO_BINARY, "velmo", "meteo.ctl", static_cast<char*>(nullptr));
      _exit(201);
    }
    close(out_[1]);
  }
  ~FifoRun() {
    if (out_[0] >= 0) close(out_[0]);
    if (fifo_ >= 0) close(fifo_);
  }

  // Opens the FIFO for reading without waiting for a writer.
  void OpenFifo() { fifo_ = open(fifo_path_.c_str(), O_RDONLY | O_NONBLOCK); }
  // Opens the FIFO and waits until the program writes into it: a file larger
  // than a pipe holds keeps it there until the test drains the FIFO. False
  // when the program did not start or never got there.
  bool HeldInWrite() {
    if (!started_) return false;
    OpenFifo();
    return ReadUntil([&] { return fifo_seen_; });
  }
  // Reads output and FIFO until `done` holds; false when the program ended
  // or the time ran out first.
  template <typename Done>
  bool ReadUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFifoWaitMilliseconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd fds[2] = {{out_[0], POLLIN, 0}, {fifo_, POLLIN, 0}};
      if (poll(fds, fifo_ >= 0 ? 2 : 1, 100) < 0) return false;
      if (fds[0].revents & (POLLIN | POLLHUP)) {
        char buffer[65536];
        const ssize_t n = read(out_[0], buffer, sizeof buffer);
        if (n <= 0) return done();
        output_.append(buffer, static_cast<std::size_t>(n));
      }
      if (fifo_ >= 0 && (fds[1].revents & POLLIN)) {
        fifo_seen_ = true;
        if (draining_) DrainFifo();
      }
    }
    return true;
  }
  // From now on the FIFO is read, and the program can go on writing it.
  void Drain() {
    draining_ = true;
    DrainFifo();
  }
  void Interrupt() { child_.Signal(SIGINT); }
  void Signal(int signal_number) { child_.Signal(signal_number); }
  int Finish() {
    Drain();
    ReadUntil([] { return false; });
    return child_.Wait(std::chrono::milliseconds(kFifoWaitMilliseconds));
  }

  bool started() const { return started_; }
  const std::string& output() const { return output_; }
  std::size_t fifo_bytes() const { return fifo_bytes_; }
  const std::string& fifo_tail() const { return fifo_tail_; }

 private:
  void DrainFifo() {
    char buffer[65536];
    for (ssize_t n; (n = read(fifo_, buffer, sizeof buffer)) > 0;) {
      fifo_bytes_ += static_cast<std::size_t>(n);
      fifo_tail_.assign(buffer, static_cast<std::size_t>(n));
    }
  }

  std::string fifo_path_;
  int out_[2] = {-1, -1};
  int fifo_ = -1;
  bool started_ = false;
  bool fifo_seen_ = false;
  bool draining_ = false;
  std::string output_;
  std::size_t fifo_bytes_ = 0;
  std::string fifo_tail_;
  ChildProcess child_;
};

}  // namespace velmo::test
