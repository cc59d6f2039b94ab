// Ctrl-C that comes while the program writes a file or builds its run, on
// the real program (tests/data/meteo): a FIFO in place of an output file
// holds the program at the moment the test chooses, the test sends SIGINT
// there, and the menu (answered with 1 from a file) must follow.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "e2e/control_run.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kMenu = "choose one of the above options:";
constexpr int kWaitMilliseconds = 60000;

// The program on "meteo.ctl" in `dir`, its answers from "answers.txt", its
// output on a pipe; the test reads the output and a FIFO of the run.
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
  // Reads output and FIFO until `done` holds; false when the program ended
  // or the time ran out first.
  template <typename Done>
  bool ReadUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMilliseconds);
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
  int Finish() {
    Drain();
    ReadUntil([] { return false; });
    return child_.Wait(std::chrono::milliseconds(kWaitMilliseconds));
  }

  bool started() const { return started_; }
  bool fifo_seen() const { return fifo_seen_; }
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

// An ASCII grid of `n` x `n` cells of 10 m, all `value`.
std::string SquareGrid(int n, double value) {
  std::string text = "ncols " + std::to_string(n) + "\nnrows " + std::to_string(n) +
                     "\nxllcorner 0\nyllcorner 0\ncellsize 10\nnodata_value -9999\n";
  const std::string cell = std::to_string(value) + " ";
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) text += cell;
    text += "\n";
  }
  return text;
}

TEST(CtrlCPress, APressWhileAGridIsWrittenIsAnsweredAfterTheWrite) {
  TempDir dir;
  CopyTestData(dir, "meteo");
  // 150 x 150 cells: the rain grid of a step is larger than a pipe holds.
  WriteFile(dir / "zones.asc", SquareGrid(150, 1));
  WriteFile(dir / "dem.asc", SquareGrid(150, 500));
  // The rain grid of step 5 goes into the FIFO, which the test reads only
  // after its SIGINT: the program is held in the middle of that write.
  FifoRun run(dir, "rain_20000101.0500");
  ASSERT_TRUE(run.started());
  run.OpenFifo();
  ASSERT_TRUE(run.ReadUntil([&] { return run.fifo_seen(); })) << run.output();
  run.Interrupt();
  EXPECT_EQ(run.Finish(), 99) << run.output();
  // The grid was written whole, then the menu came before step 6, which
  // ended the run.
  EXPECT_GT(run.fifo_bytes(), 150u * 150u);
  EXPECT_TRUE(run.fifo_tail().ends_with("\n"));
  EXPECT_THAT(run.output(), HasSubstr(kMenu));
  EXPECT_EQ(StatisticsRows(dir / "rain.stat"), 6);
}

TEST(CtrlCPress, APressDuringTheSetUpIsAnsweredAtTheFirstStep) {
  TempDir dir;
  CopyTestData(dir, "meteo");
  // The header of the rain table goes into the FIFO while the interpolator
  // is built: until the test opens the FIFO the set-up cannot end.
  FifoRun run(dir, "rain.stat");
  ASSERT_TRUE(run.started());
  // The banner comes after the handler is installed.
  ASSERT_TRUE(run.ReadUntil([&] { return run.output().find("Velmo - distributed") != std::string::npos; }))
      << run.output();
  run.Interrupt();
  run.OpenFifo();
  EXPECT_EQ(run.Finish(), 99) << run.output();
  const std::string& output = run.output();
  ASSERT_THAT(output, HasSubstr(kMenu));
  // The menu comes before the first step, which is then the last.
  EXPECT_LT(output.find("Cntr-C pressed!"), output.find("initializing interpolator for temperature"));
  EXPECT_GT(output.find(kMenu), output.find("initializing module data_assimilation"));
  EXPECT_THAT(output, HasSubstr("end of simulation reached successfully!"));
  EXPECT_EQ(output.find(kMenu), output.rfind(kMenu));
}

}  // namespace
}  // namespace velmo::test
