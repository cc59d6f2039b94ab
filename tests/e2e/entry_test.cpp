// Runs the real program on its command line and checks exit codes and the
// diagnostics file.
#include <gtest/gtest.h>

#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;
using test::WriteFile;

// A control file that runs (tests/data/e2e) under `name` in `dir`, with its grids.
void WriteRunnableControlFile(const TempDir& dir, const std::string& name) {
  const std::string data = VELMO_TEST_DATA "/e2e/";
  WriteFile(dir / name, ReadFile(data + "run.ctl"));
  for (const char* grid : {"zones.asc", "dem.asc"}) WriteFile(dir / grid, ReadFile(data + grid));
}

TEST(Entry, NoArgumentsGiveUsageAndCode2) {
  TempDir dir;
  EXPECT_EQ(RunVelmo(dir.path().string(), ""), 2);
  const std::string diag = dir / "Velmo_Diag.xml";
  ASSERT_TRUE(WellFormed(diag));
  const std::string xml = ReadFile(diag);
  EXPECT_NE(
      xml.find("<line level=\"0\" description= \";usage: velmovc[o]&lt;32|64&gt; &lt;1st cntrl-file&gt;"),
      std::string::npos);
  EXPECT_NE(xml.find("<line level=\"0\" description= \"Execption 2 caught at top level!\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<line level=\"0\" description= \"Program aborted with exit code 2\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<line level=\"4\" description= \"--\"/>"), std::string::npos);  // banner rule
  EXPECT_NE(xml.find("<line level=\"4\" description= \"Version: 0.1\"/>"), std::string::npos);
  EXPECT_NE(xml.find("Velmo finished at"), std::string::npos);
}

TEST(Entry, OnlyOptionsRunNothing) {
  TempDir dir;
  EXPECT_EQ(RunVelmo(dir.path().string(), "-diagfile:d.xml -diaglevel:info"), 0);
  const std::string xml = ReadFile(dir / "d.xml");
  ASSERT_TRUE(WellFormed(dir / "d.xml"));
  // At level 3 the banner and the final entries (level 4) are left out.
  EXPECT_EQ(xml.find("level=\"4\""), std::string::npos);
  EXPECT_EQ(RunVelmo(dir.path().string(), "-diagfile:d.xml"), 0);
  EXPECT_NE(ReadFile(dir / "d.xml").find("description= \"exitcode 0\"/>"), std::string::npos);
}

TEST(Entry, LevelNames) {
  struct Case {
    std::string option;
    bool debug_written, warning_written;
  };
  const Case cases[] = {
      {"-diaglevel:warning", false, true}, {"-diaglevel:WARN", true, true},    {"-diaglevel:", true, true},
      {"-diaglevel:DEBUG", true, true},    {"-diaglevel:fatal", false, false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    RunVelmo(dir.path().string(), c.option + " -diagfile:d.xml missing.ctl");
    const std::string xml = ReadFile(dir / "d.xml");
    EXPECT_EQ(xml.find("level=\"4\"") != std::string::npos, c.debug_written) << c.option;
    EXPECT_NE(xml.find("error opening missing.ctl"), std::string::npos) << c.option;
  }
}

TEST(Entry, OptionRules) {
  TempDir dir;
  WriteRunnableControlFile(dir, "a.ctl");
  // The option name is case-sensitive: in capitals it is a control file.
  EXPECT_EQ(RunVelmo(dir.path().string(), "-DIAGLEVEL:INFO"), 28);
  EXPECT_NE(ReadFile(dir / "Velmo_Diag.xml").find("error opening -DIAGLEVEL:INFO"), std::string::npos);

  // The last option counts; the earlier one is taken as a control file.
  EXPECT_EQ(RunVelmo(dir.path().string(), "-diagfile:first.xml a.ctl -diagfile:second.xml"), 28);
  EXPECT_NE(ReadFile(dir / "second.xml").find("error opening -diagfile:first.xml"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "first.xml"));

  // An empty file option gives the default name; an unopenable one falls back to it.
  std::filesystem::remove(dir / "Velmo_Diag.xml");
  EXPECT_EQ(RunVelmo(dir.path().string(), "-diagfile: a.ctl"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "Velmo_Diag.xml"));
  std::filesystem::remove(dir / "Velmo_Diag.xml");
  EXPECT_EQ(RunVelmo(dir.path().string(), "-diagfile:no/such/dir/d.xml a.ctl"), 0);
  EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
}

TEST(Entry, FatalErrorStopsLaterControlFiles) {
  TempDir dir;
  WriteRunnableControlFile(dir, "good.ctl");
  const std::string out = dir / "out.txt";
  EXPECT_EQ(RunVelmo(dir.path().string(), "missing.ctl good.ctl", out), 28);
  const std::string transcript = ReadFile(out);
  EXPECT_NE(transcript.find("Program aborted with exit code 28"), std::string::npos);
  EXPECT_EQ(transcript.find("good.ctl"), std::string::npos);
  EXPECT_EQ(RunVelmo(dir.path().string(), "good.ctl good.ctl", out), 0);
}

}  // namespace
}  // namespace velmo
