// Ctrl-C and the interruption menu, end to end: the program's entry point runs
// in a child process on a control file copied from tests/data/e2e, with a
// fake interpolator installed that gives ten hourly steps and stops at chosen
// steps until the test lets it go. There the test sends a real SIGINT; the
// child reads its menu answers from a file on standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include "app/entry.h"
#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int kRecordCount = 10;          // hourly steps 01:00 .. 10:00 of 1 Jan 2000, the model time
constexpr int kWaitMilliseconds = 30000;  // bound of every wait for the child

// Gives kRecordCount hourly records and, at the steps in `gates`, tells the
// test it has arrived and waits for it.
class FakeInterpolator : public interpolator_slot {
 public:
  FakeInterpolator(MessageStream* messages, std::set<int> gates, int ready_fd, int go_fd)
      : messages_(messages), gates_(std::move(gates)), ready_fd_(ready_fd), go_fd_(go_fd) {}

  void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) override {
    minute = 0;
    hour = record_;
    day = 1;
    month = 1;
    year = 2000;
  }
  int InterpolationMethod() override { return 1; }
  void ComputeStationRegression(int) override {}
  void InterpolateStep(int, int hour, int, int, int) override {
    *messages_ << "fake interpolator: step " << hour << "[end-entry]";
    if (gates_.count(record_)) WaitForTest();
  }
  void WriteOutputs() override {}
  void ReadNextRecord() override { ++record_; }
  bool IsEndOfData() override { return record_ > last_record_; }
  void SetEndDateToCurrent() override { last_record_ = record_; }
  void FlushBuffers() override {
    *messages_ << "fake interpolator: FlushBuffers"
               << "[end-entry]";
  }
  void CleanUp() override {
    *messages_ << "fake interpolator: CleanUp"
               << "[end-entry]";
  }

 private:
  void WaitForTest() {
    char byte = 'r';
    while (write(ready_fd_, &byte, 1) < 0 && errno == EINTR) {
    }
    // The SIGINT sent before the go byte interrupts or precedes this read;
    // either way its handler has run when the read returns the byte.
    while (read(go_fd_, &byte, 1) < 0 && errno == EINTR) {
    }
  }

  MessageStream* messages_;
  std::set<int> gates_;
  int ready_fd_;
  int go_fd_;
  int record_ = 1;
  int last_record_ = kRecordCount;
};

// The e2e control file with one standard grid that is written at the end of
// the run ("cover_end.asc") and has an hourly statistics table ("cover.stat").
std::string StepsControlFile() {
  std::string text = ReadFile(VELMO_TEST_DATA "/e2e/run.ctl");
  const std::string none = "[standard_grids]\n0       no standard grids\n";
  const std::size_t at = text.find(none);
  if (at == std::string::npos) return {};
  text.replace(
      at, none.size(),
      "[standard_grids]\n1\ncover.asc cover fillcode = 0 readcode = 0 defaultValue = 0.5 writecode = 3 "
      "outname = cover_end.asc statfile = cover.stat statcode = 1001\n");
  return text;
}

void CopyGrids(const TempDir& dir) {
  for (const char* grid : {"zones.asc", "dem.asc"})
    std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + grid, dir / grid);
}

using test::StatisticsRows;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// One run of the program in a child process.
class ChildRun {
 public:
  // Runs `control_files` in `dir` with `answers` on standard input. The fake
  // interpolator of application number `gated_application` (0 = the first)
  // stops at the steps in `gates`.
  ChildRun(const TempDir& dir, std::vector<std::string> control_files, const std::string& answers,
           std::set<int> gates, int gated_application = 0)
      : transcript_path_(dir / "transcript.txt") {
    WriteFile(dir / "answers.txt", answers);
    // A child that ended early must fail the test, not kill it on a write to
    // its closed pipe.
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe(ready_) != 0 || pipe(go_) != 0) return;
    std::cout.flush();
    std::fflush(nullptr);
    if (child_.Fork() == 0) RunChild(dir, std::move(control_files), std::move(gates), gated_application);
    close(ready_[1]);
    close(go_[0]);
  }
  ~ChildRun() {
    close(ready_[0]);
    close(go_[1]);
  }

  // Waits until the child stops at its next gate; false when it ends first
  // or does not arrive in time.
  bool WaitAtGate() {
    pollfd ready{ready_[0], POLLIN, 0};
    if (poll(&ready, 1, kWaitMilliseconds) != 1) return false;
    char byte = 0;
    return read(ready_[0], &byte, 1) == 1;
  }
  void Interrupt() { child_.Signal(SIGINT); }
  void Release() {
    const char byte = 'g';
    EXPECT_EQ(write(go_[1], &byte, 1), 1);
  }
  // Exit status of the child, -1 when it did not end in time or was killed.
  int Finish() {
    close(go_[1]);  // a child still waiting at a gate goes on
    go_[1] = -1;
    return child_.Wait(std::chrono::milliseconds(kWaitMilliseconds));
  }
  std::string Transcript() const { return ReadFile(transcript_path_); }

 private:
  [[noreturn]] void RunChild(const TempDir& dir, std::vector<std::string> control_files, std::set<int> gates,
                             int gated_application) {
    close(ready_[0]);
    close(go_[1]);
    if (chdir(dir.path().c_str()) != 0) _exit(200);
    const int out = open("transcript.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("answers.txt", O_RDONLY);
    if (out < 0 || in < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0 ||
        dup2(in, STDIN_FILENO) < 0)
      _exit(201);

    int application_count = 0;
    const ApplicationFactory factory = [&](MessageStream* messages, int argc, char** argv, int position) {
      auto application = std::make_unique<ModellApplication>(messages, argc, argv, position);
      const bool gated = application_count++ == gated_application;
      application->InstallInterpolator(
          std::make_unique<FakeInterpolator>(messages, gated ? gates : std::set<int>{}, ready_[1], go_[0]));
      return application;
    };
    std::vector<std::string> arguments{"velmo"};
    arguments.insert(arguments.end(), control_files.begin(), control_files.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int status = VelmoMain(static_cast<int>(arguments.size()), argv.data(), factory);
    std::cout.flush();
    std::fflush(nullptr);
    _exit(status);
  }

  std::string transcript_path_;
  int ready_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  test::ChildProcess child_;
};

class Interrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string control = StepsControlFile();
    ASSERT_FALSE(control.empty());
    WriteFile(dir / "steps.ctl", control);
    CopyGrids(dir);
  }
  // Sends Ctrl-C while step `step` is computed, answers with `answers`.
  int RunInterruptedAt(int step, const std::string& answers) {
    ChildRun run(dir, {"steps.ctl"}, answers, {step});
    EXPECT_TRUE(run.WaitAtGate());
    run.Interrupt();
    run.Release();
    const int status = run.Finish();
    transcript = run.Transcript();
    return status;
  }

  TempDir dir;
  std::string transcript;
};

TEST_F(Interrupt, CancelAfterStepEndsWith99AndWritesOutputs) {
  // Ctrl-C during step 3: the menu comes before step 4, which becomes the last.
  EXPECT_EQ(RunInterruptedAt(3, "1\n"), 99);
  EXPECT_NE(transcript.find("Cntr-C pressed! please wait..."), std::string::npos);
  const std::size_t menu = transcript.find("choose one of the above options:");
  ASSERT_NE(menu, std::string::npos);
  EXPECT_LT(transcript.find("fake interpolator: step 3"), menu);
  EXPECT_GT(transcript.find("fake interpolator: step 4"), menu);
  EXPECT_EQ(transcript.find("fake interpolator: step 5"), std::string::npos);
  // Cleared like a finished run: the end-of-run grid and every table row.
  EXPECT_NE(transcript.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_NE(transcript.find("fake interpolator: CleanUp"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "cover_end.asc"));
  EXPECT_EQ(StatisticsRows(dir / "cover.stat"), 4);
  EXPECT_NE(transcript.find("exitcode 99"), std::string::npos);
}

TEST_F(Interrupt, CancelNowEndsWith98WithoutWriting) {
  EXPECT_EQ(RunInterruptedAt(3, "2\n"), 98);
  const std::size_t killed = transcript.find("program manually killed by pressing Ctrl-C and selecting 2!");
  const std::size_t run_line = transcript.find("Exception in Modellapplication::run() caught!");
  const std::size_t top = transcript.find("Execption 98 caught at top level!");
  ASSERT_NE(killed, std::string::npos);
  ASSERT_NE(run_line, std::string::npos);
  ASSERT_NE(top, std::string::npos);
  EXPECT_LT(killed, run_line);
  EXPECT_LT(run_line, top);
  EXPECT_EQ(transcript.find("fake interpolator: step 4"), std::string::npos);
  EXPECT_EQ(transcript.find("end of simulation reached"), std::string::npos);
  EXPECT_EQ(transcript.find("FlushBuffers"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "cover_end.asc"));
  EXPECT_EQ(StatisticsRows(dir / "cover.stat"), 0);
}

TEST_F(Interrupt, FlushAndGoOn) {
  ChildRun run(dir, {"steps.ctl"}, "3\n", {3, 5});
  ASSERT_TRUE(run.WaitAtGate());
  EXPECT_EQ(StatisticsRows(dir / "cover.stat"), 0);  // rows stay buffered
  run.Interrupt();
  run.Release();
  // The menu before step 4 wrote the rows of steps 1 to 3.
  ASSERT_TRUE(run.WaitAtGate());
  EXPECT_EQ(StatisticsRows(dir / "cover.stat"), 3);
  run.Release();
  EXPECT_EQ(run.Finish(), 0);
  const std::string transcript = run.Transcript();
  EXPECT_NE(transcript.find("fake interpolator: step 10"), std::string::npos);
  EXPECT_EQ(Count(transcript, "fake interpolator: FlushBuffers"), 2u);  // menu and clearing
  EXPECT_EQ(StatisticsRows(dir / "cover.stat"), kRecordCount);
  EXPECT_TRUE(std::filesystem::exists(dir / "cover_end.asc"));
}

TEST_F(Interrupt, OtherAnswersContinue) {
  // A number outside 0..3, a word that is no number, and the end of the input.
  for (const std::string answers : {"0\n", "7\n", "continue\n", ""}) {
    EXPECT_EQ(RunInterruptedAt(4, answers), 0) << answers;
    EXPECT_NE(transcript.find("choose one of the above options:"), std::string::npos) << answers;
    EXPECT_NE(transcript.find("fake interpolator: step 10"), std::string::npos) << answers;
    EXPECT_EQ(StatisticsRows(dir / "cover.stat"), kRecordCount) << answers;
  }
}

TEST_F(Interrupt, CtrlCInTheLastPassGives1) {
  EXPECT_EQ(RunInterruptedAt(kRecordCount, "1\n"), 1);
  EXPECT_EQ(transcript.find("choose one of the above options:"), std::string::npos);
  EXPECT_NE(transcript.find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_EQ(StatisticsRows(dir / "cover.stat"), kRecordCount);
}

TEST_F(Interrupt, ExitCodeIsThatOfTheLastControlFile) {
  struct Case {
    int cancelled_application;
    int exit_code;
  };
  for (const Case c : {Case{0, 0}, Case{1, 99}}) {
    ChildRun run(dir, {"steps.ctl", "steps.ctl"}, "1\n", {3}, c.cancelled_application);
    ASSERT_TRUE(run.WaitAtGate());
    run.Interrupt();
    run.Release();
    EXPECT_EQ(run.Finish(), c.exit_code);
    EXPECT_EQ(Count(run.Transcript(), "end of simulation reached successfully!"), 2u);
  }
}

}  // namespace
}  // namespace velmo
