// The lock file of the output folder, on the real program (tests/data/meteo):
// two runs in one folder, also started at the same moment, a lock file left
// by a process that no longer holds it, and a run that ends with a fatal
// error.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <sstream>
#include <string>

#include "e2e/control_run.h"
#include "e2e/fifo_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kLock = "velmo.lock";

// The number of lines of `path` that hold `text`.
int LinesWith(const std::string& path, const std::string& text) {
  std::istringstream in(ReadFile(path));
  int count = 0;
  for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos;
  return count;
}

TEST(RunLock, TwoRunsInOneFolder) {
  TempDir dir;
  CopyTestData(dir, "meteo");
  // The first run holds its lock and waits at the FIFO of its rain table
  // while the second one starts in the same folder.
  FifoRun first(dir, "rain.stat");
  ASSERT_TRUE(first.started());
  // The lock file exists a moment before its holder has written its id.
  ASSERT_TRUE(first.ReadUntil([&] {
    const std::string lock = std::filesystem::exists(dir / kLock) ? ReadFile(dir / kLock) : "";
    return !lock.empty() && lock.back() == '\n';
  })) << first.output();
  const std::string holder = ReadFile(dir / kLock);
  ASSERT_FALSE(holder.empty());

  EXPECT_EQ(RunVelmo(dir.path().string(), "meteo.ctl -diagfile:second.xml", dir / "second.txt"), 75);
  EXPECT_THAT(
      ReadFile(dir / "second.xml"),
      HasSubstr("<line level=\"0\" description= \"the output folder ./ is in use by the run of process " +
                holder.substr(0, holder.find('\n')) + " (lock file velmo.lock)"));
  EXPECT_EQ(ReadFile(dir / kLock), holder);

  first.OpenFifo();
  EXPECT_EQ(first.Finish(), 0) << first.output();
  // The tables hold the first run's rows alone.
  EXPECT_EQ(StatisticsRows(dir / "temperature.stat"), 5);
  EXPECT_EQ(LinesWith(dir / "temperature.stat", "_submodel:"), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / kLock));
}

TEST(RunLock, LeftLocksAndFatalErrors) {
  // A process that has ended, and one that runs (this test).
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  struct Case {
    std::string what;
    std::string lock;  // content of a lock left in the folder; empty: none
    std::string edit_from, edit_to;
    int status;
    std::string entry;
    bool lock_afterwards;
  };
  const std::string live = std::to_string(getpid());
  const Case cases[] = {
      {"a lock of a process that no longer runs", std::to_string(ended) + "\n", "", "", 0,
       "the lock file velmo.lock of process " + std::to_string(ended) +
           ", whose run has ended, is taken over",
       false},
      {"a lock without a process id", "\n", "", "", 0, "the lock file velmo.lock, which names no process",
       false},
      // After a reboot, or in a container, the id may belong to another
      // process by now: only a process that holds the lock keeps it.
      {"a lock naming a running process that does not hold it", live + "\n", "", "", 0,
       "the lock file velmo.lock of process " + live + ", whose run has ended, is taken over", false},
      {"a fatal error once the lock is taken", "", "1       idw\nrain.txt", "1       idw\nnone.txt", 49,
       "error opening none.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ControlRun run("meteo.ctl");
    CopyTestData(run.dir, "meteo");
    if (!c.lock.empty()) WriteFile(run.dir / kLock, c.lock);
    if (!c.edit_from.empty()) run.Edit(c.edit_from, c.edit_to);
    EXPECT_EQ(run.Velmo(), c.status) << run.Transcript();
    EXPECT_THAT(ReadFile(run.dir / "Velmo_Diag.xml"), HasSubstr(c.entry));
    EXPECT_EQ(std::filesystem::exists(run.dir / kLock), c.lock_afterwards);
    // A lock that this run did not take stays as it was.
    if (c.lock_afterwards) {
      EXPECT_EQ(ReadFile(run.dir / kLock), c.lock);
    }
  }
}

// Two runs of meteo.ctl started together in one folder, many times: the
// diagnostics file and the working copy of the control file are written
// before the lock can be taken.
TEST(RunLock, RunsStartedTogetherInOneFolder) {
  constexpr int kPairs = 20;
  for (int pair = 0; pair < kPairs; ++pair) {
    SCOPED_TRACE("pair " + std::to_string(pair));
    TempDir dir;
    CopyTestData(dir, "meteo");
    // Both children wait for the end of this pipe, then start at once.
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::array<ChildProcess, 2> runs;
    std::array<pid_t, 2> pids{};
    for (int k = 0; k < 2; ++k) {
      pids[k] = runs[k].Fork();
      if (pids[k] == 0) {
        close(start[1]);
        char byte;
        if (read(start[0], &byte, 1) != 0 || chdir(dir.path().c_str()) != 0) _exit(200);
        const int out =
            open(("out" + std::to_string(k) + ".txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0) _exit(201);
        execl(VELMO_BINARY, "velmo", "meteo.ctl", static_cast<char*>(nullptr));
        _exit(202);
      }
    }
    close(start[0]);
    close(start[1]);
    std::array<int, 2> status{};
    for (int k = 0; k < 2; ++k) {
      status[k] = runs[k].Wait(std::chrono::milliseconds(kFifoWaitMilliseconds));
      // One runs; the other, if it met the first one's lock, is refused.
      EXPECT_TRUE(status[k] == 0 || status[k] == 75) << status[k] << "\n"
                                                     << ReadFile(dir / ("out" + std::to_string(k) + ".txt"));
    }
    EXPECT_FALSE(status[0] == 75 && status[1] == 75);
    // Each diagnostics file is whole and tells the end of the run it belongs
    // to: a run that found the file held by the other writes its own.
    const auto ends_with_status = [](const std::string& diag, int code) {
      return code == 0 ? diag.find("exitcode 0\"/>") != std::string::npos
                       : diag.find("Program aborted with exit code " + std::to_string(code) + "\"") !=
                             std::string::npos;
    };
    int own_files = 0;
    for (int k = 0; k < 2; ++k) {
      const std::string own = dir / ("Velmo_Diag_" + std::to_string(pids[k]) + ".xml");
      if (!std::filesystem::exists(own)) continue;
      ++own_files;
      EXPECT_TRUE(WellFormed(own));
      EXPECT_TRUE(ends_with_status(ReadFile(own), status[k]));
      EXPECT_TRUE(ends_with_status(ReadFile(dir / "Velmo_Diag.xml"), status[1 - k]));
    }
    EXPECT_LE(own_files, 1);
    EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
    const std::string shared = ReadFile(dir / "Velmo_Diag.xml");
    EXPECT_EQ(shared.find("Velmo start at"), shared.rfind("Velmo start at"));
    EXPECT_FALSE(std::filesystem::exists(dir / kLock));
  }
}

}  // namespace
}  // namespace velmo::test
