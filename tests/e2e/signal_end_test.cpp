// How the system around a run ends it, on the real program (tests/data/meteo):
// SIGTERM and SIGHUP sent in the middle of a run, a second signal while the
// first is served, and two Ctrl-C presses while the program waits in a read
// that never returns. A FIFO in place of a file holds the program where the
// test wants it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "e2e/control_run.h"
#include "e2e/fifo_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kLock = "velmo.lock";

bool Says(const FifoRun& run, const std::string& text) {
  return run.output().find(text) != std::string::npos;
}

TEST(StopSignal, EndsTheRunAfterItsStepWithEveryTableWritten) {
  struct Case {
    int signal_number;
    const char* name;
    int status;
  };
  for (const Case& c : {Case{SIGTERM, "SIGTERM", 143}, Case{SIGHUP, "SIGHUP", 129}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CopyMeteoWithGridsLargerThanAPipe(dir);
    // The rain grid of step 5 goes into the FIFO, which the test reads only
    // after the signal: the signal comes while the program writes it.
    FifoRun run(dir, "rain_20000101.0500");
    ASSERT_TRUE(run.HeldInWrite()) << run.output();
    run.Signal(c.signal_number);
    ASSERT_TRUE(run.ReadUntil([&] { return Says(run, std::string(c.name) + " received"); })) << run.output();
    EXPECT_EQ(run.Finish(), c.status) << run.output();
    // The grid under way was written whole, its step ended, and every table
    // holds the five steps computed.
    EXPECT_GT(run.fifo_bytes(), 150u * 150u);
    EXPECT_TRUE(run.fifo_tail().ends_with("\n"));
    EXPECT_EQ(StatisticsRows(dir / "rain.stat"), 5);
    EXPECT_EQ(StatisticsRows(dir / "temperature.stat"), 2);  // a row every two steps
    EXPECT_FALSE(std::filesystem::exists(dir / "rain_20000101.0600"));
    const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
    EXPECT_THAT(diag,
                HasSubstr("<line level=\"1\" description= \"the run is ended by " + std::string(c.name)));
    EXPECT_THAT(diag,
                HasSubstr("the run ends with code " + std::to_string(c.status) +
                          " after its step 5: the rows of the steps computed are written to the tables"));
    EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
    EXPECT_FALSE(std::filesystem::exists(dir / kLock));
  }
}

TEST(StopSignal, ASecondOneWhileTheFirstIsServedEndsTheProcessAtOnce) {
  TempDir dir;
  CopyMeteoWithGridsLargerThanAPipe(dir);
  // The FIFO is not read before both signals are sent: the step of the
  // first SIGTERM cannot end.
  FifoRun run(dir, "rain_20000101.0300");
  ASSERT_TRUE(run.HeldInWrite()) << run.output();
  run.Signal(SIGTERM);
  ASSERT_TRUE(run.ReadUntil([&] { return Says(run, "SIGTERM received"); })) << run.output();
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Finish(), 143) << run.output();
  EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_THAT(ReadFile(dir / "Velmo_Diag.xml"), HasSubstr("SIGTERM while the run was being ended"));
  EXPECT_FALSE(std::filesystem::exists(dir / kLock));
}

TEST(CtrlCTwice, EndsARunThatWaitsInAReadThatNeverReturns) {
  TempDir dir;
  CopyTestData(dir, "meteo");
  // The rain stations come from a pipe that no process writes: opening it
  // never returns.
  std::filesystem::remove(dir / "rain.txt");
  FifoRun run(dir, "rain.txt");
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.ReadUntil([&] { return std::filesystem::exists(dir / kLock); })) << run.output();
  run.Interrupt();
  ASSERT_TRUE(run.ReadUntil([&] { return Says(run, "Cntr-C pressed!"); })) << run.output();
  run.Interrupt();
  EXPECT_EQ(run.Finish(), 98) << run.output();
  const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
  EXPECT_THAT(diag,
              HasSubstr("<line level=\"2\" description= \"program killed by pressing Ctrl-C twice!\"/>"));
  EXPECT_THAT(diag, HasSubstr("Program aborted with exit code 98"));
  EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_FALSE(std::filesystem::exists(dir / kLock));
}

}  // namespace
}  // namespace velmo::test
