// The example with its key lines ended by ";", on the real program: every
// output is that of the plain form, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/control_run.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

// The last row of the reservoir's rule, the end of the control file.
constexpr const char* kLastRuleRow = "1e5     3\n";

TEST(KeyLines, ASemicolonAfterTheValuesWritesTheOutputsOfThePlainForm) {
  // The plain form, with two keys of the reservoir's rule added.
  TempDir plain;
  CopyExample(plain);
  ReplaceInFile(plain / "example.ctl", kLastRuleRow,
                std::string(kLastRuleRow) + "TargetCap = 5\nWeekDays = 1234567\n");
  ASSERT_EQ(RunVelmo(plain.path().string(), "example.ctl", plain / "out.txt"), 0)
      << ReadFile(plain / "out.txt");

  // Every key line of the output interval, the model time, the
  // evapotranspiration and the rule ended by ";", after a blank too, with a
  // comment after it, and a symbol cut by the ";".
  TempDir ended;
  CopyExample(ended);
  const std::string control = ended / "example.ctl";
  ReplaceInFile(control, "WriteAsciiGrids = 1\ntimestep = 60\n",
                "WriteAsciiGrids = 1;\ntimestep = 60; minutes\n");
  ReplaceInFile(control, "HamonCorrectionOpenWater = 1.0", "HamonCorrectionOpenWater = 1.0;");
  ReplaceInFile(control,
                "startminute = 0\nstarthour = 1\nstartday = 1\nstartmonth = 3\nstartyear = $year\n"
                "endminute = 0\nendhour = 0\nendday = 1\nendmonth = 4\nendyear = $year\n",
                "startminute = 0;\nstarthour = 1 ;\nstartday = 1;\nstartmonth = 3;\nstartyear = $year;\n"
                "endminute = 0;\nendhour = 0;\nendday = 1;\nendmonth = 4; April\nendyear = $year ;\n");
  ReplaceInFile(control, kLastRuleRow, std::string(kLastRuleRow) + "TargetCap = 5;\nWeekDays = 1234567;\n");
  ASSERT_EQ(RunVelmo(ended.path().string(), "example.ctl", ended / "out.txt"), 0)
      << ReadFile(ended / "out.txt");

  const std::vector<std::string> outputs = Outputs(plain);
  ASSERT_EQ(Outputs(ended), outputs);
  EXPECT_GE(outputs.size(), 250u);
  for (const std::string& name : outputs) EXPECT_EQ(ReadFile(ended / name), ReadFile(plain / name)) << name;
}

}  // namespace
}  // namespace velmo::test
