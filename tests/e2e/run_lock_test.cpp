// The lock file of the output folder, on the real program (tests/data/meteo):
// two runs in one folder, a lock left by a process that no longer runs, and
// a run that ends with a fatal error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "e2e/control_run.h"
#include "e2e/fifo_run.h"
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
  ASSERT_TRUE(first.ReadUntil([&] { return std::filesystem::exists(dir / kLock); })) << first.output();
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
           ", which no longer runs, is taken over",
       false},
      {"a lock without a process id", "\n", "", "", 0, "the lock file velmo.lock, which names no process",
       false},
      {"a lock of a running process", live + "\n", "", "", 75,
       "the output folder ./ is in use by the run of process " + live, true},
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

}  // namespace
}  // namespace velmo::test
