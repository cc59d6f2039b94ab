// Ctrl-C that comes while the program writes a file or builds its run, on
// the real program (tests/data/meteo): a FIFO in place of an output file
// holds the program at the moment the test chooses, the test sends SIGINT
// there, and the menu (answered with 1 from a file) must follow.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "e2e/control_run.h"
#include "e2e/fifo_run.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kMenu = "choose one of the above options:";

TEST(CtrlCPress, APressWhileAGridIsWrittenIsAnsweredAfterTheWrite) {
  TempDir dir;
  CopyMeteoWithGridsLargerThanAPipe(dir);
  // The rain grid of step 5 goes into the FIFO, which the test reads only
  // after its SIGINT: the program is held in the middle of that write.
  FifoRun run(dir, "rain_20000101.0500");
  ASSERT_TRUE(run.HeldInWrite()) << run.output();
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
