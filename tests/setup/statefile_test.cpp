// State file blocks of a run: create then append, failures, exact values, and the reader of numbers and
// sections.
#include "setup/statefile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

class StateFile : public ::testing::Test {
 protected:
  StateFile() : stream_(dir_ / "diag.xml", kDebug, console_) {}

  void WriteBlock(state_file_record& record, const std::string& path, const std::string& text) {
    state_file_block block = record.OpenBlock(path, &stream_, "couldn't open file " + path);
    if (block) std::fputs(text.c_str(), block.file());
  }

  TempDir dir_;
  std::ostringstream console_;
  MessageStream stream_;
};

TEST_F(StateFile, FirstBlockOfARunReplacesLaterBlocksAppend) {
  const std::string path = dir_ / "state.ftz";
  WriteFile(path, "[soil_model]\nstale block of an older run\n");
  state_file_record run;
  WriteBlock(run, path, "routing\n");
  // The same file under another spelling is the same file.
  WriteBlock(run, dir_.path().string() + "/./state.ftz", "soil\n");
  WriteBlock(run, path, "snow\n");
  EXPECT_EQ(ReadFile(path), "routing\nsoil\nsnow\n");
  EXPECT_FALSE(run.WriteFailed());

  // The soil block alone, in the next run, is the whole file.
  state_file_record next_run;
  WriteBlock(next_run, path, "soil\n");
  EXPECT_EQ(ReadFile(path), "soil\n");
}

TEST_F(StateFile, UnwritableFileIsReportedAndRemembered) {
  state_file_record run;
  const std::string missing = dir_ / "no/such/dir/state.ftz";
  state_file_block block = run.OpenBlock(missing, &stream_, "couldn't open file \"" + missing + "\"");
  EXPECT_FALSE(block);
  EXPECT_TRUE(run.WriteFailed());
  EXPECT_THAT(console_.str(), HasSubstr("couldn't open file \"" + missing + "\""));
  EXPECT_THAT(ReadFile(dir_ / "diag.xml"),
              HasSubstr("<line level=\"1\" description= \"couldn&apos;t open file"));

  // Writes that fail only when they reach the disk.
  state_file_record full;
  block = full.OpenBlock("/dev/full", &stream_, "couldn't open file /dev/full");
  ASSERT_TRUE(block);
  PutStateValue(block.file(), 1.0, "\n");
  block.Close();
  EXPECT_TRUE(full.WriteFailed());
  EXPECT_THAT(console_.str(), HasSubstr("error writing the state file /dev/full"));
}

TEST_F(StateFile, ValuesComeBackBitForBit) {
  const double values[] = {0.1,
                           1.0 / 3.0,
                           -2.5e-300,
                           1.7976931348623157e308,
                           std::numeric_limits<double>::denorm_min(),
                           123456789.123456789,
                           0.0};
  const std::string path = dir_ / "values.txt";
  {
    state_file_record run;
    state_file_block block = run.OpenBlock(path, &stream_, "");
    for (double v : values) PutStateValue(block.file(), v, "\t(label)\n");
  }
  EXPECT_THAT(ReadFile(path), ::testing::StartsWith("0.10000000000000001\t(label)\n"));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  state_file_reader reader(file.get());
  for (double v : values) {
    double read = -1.0;
    ASSERT_TRUE(reader.ReadDouble(read));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(v)) << v;
    reader.SkipRestOfLine();
  }
}

TEST_F(StateFile, ReaderTakesNumbersAsScanfDoes) {
  const std::string path = dir_ / "numbers.txt";
  WriteFile(path, "header\n[snow_model_v2]\n  12 \t-7\n\n0.5(label) +3e2 x\n1.5x\n2147483648\n");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  state_file_reader reader(file.get());
  ASSERT_TRUE(reader.FindLineContaining("[snow_model_v2]"));
  EXPECT_EQ(reader.Line(), 3);
  int i = 0;
  double d = 0;
  ASSERT_TRUE(reader.ReadInt(i));
  EXPECT_EQ(i, 12);
  ASSERT_TRUE(reader.ReadInt(i));
  EXPECT_EQ(i, -7);
  // Empty lines are white space; a number ends where its characters end.
  ASSERT_TRUE(reader.ReadDouble(d));
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(reader.Line(), 5);
  EXPECT_FALSE(reader.ReadDouble(d));  // "(label)"
  reader.SkipRestOfLine();
  ASSERT_TRUE(reader.ReadDouble(d));
  EXPECT_EQ(d, 1.5);
  reader.SkipRestOfLine();
  EXPECT_FALSE(reader.ReadInt(i));  // beyond an int
  reader.SkipRestOfLine();
  EXPECT_FALSE(reader.ReadDouble(d));  // end of file
  EXPECT_FALSE(reader.FindLineContaining("[snow_model_v2]"));
  reader.Rewind();
  EXPECT_EQ(reader.Line(), 1);
  EXPECT_TRUE(reader.FindLineContaining("header"));
}

TEST_F(StateFile, SectionOnTheLastLineWithoutLineEnd) {
  const std::string path = dir_ / "last.txt";
  WriteFile(path, "[routing_model_v2]\n60.000 (timestep in minutes)\n[soil_model]");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  state_file_reader reader(file.get());
  EXPECT_TRUE(reader.FindLineContaining("soil_model"));
  EXPECT_FALSE(reader.FindLineContaining("soil_model"));
}

}  // namespace
}  // namespace velmo
