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

#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class StateFile : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(StateFile, EachRunReplacesTheFileAndAFailedWriteIsNoticed) {
  const std::string path = dir_ / "state.ftz";
  auto write = [&](state_file_session& run, const char* text) {
    std::FILE* file = run.OpenBlock(path);
    ASSERT_NE(file, nullptr);
    std::fputs(text, file);
    EXPECT_TRUE(state_file_session::CloseBlock(file));
  };
  state_file_session run;
  write(run, "routing\n");
  write(run, "soil\n");
  EXPECT_EQ(ReadFile(path), "routing\nsoil\n");
  // The soil block alone, in the next run (routing off), is the whole file.
  state_file_session next_run;
  write(next_run, "soil\n");
  EXPECT_EQ(ReadFile(path), "soil\n");

  // Writes that fail only when they reach the disk.
  std::FILE* full = run.OpenBlock("/dev/full");
  ASSERT_NE(full, nullptr);
  PutStateValue(full, 1.0, "\n");
  EXPECT_FALSE(state_file_session::CloseBlock(full));
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
    state_file_session run;
    std::FILE* file = run.OpenBlock(path);
    for (double v : values) PutStateValue(file, v, "\t(label)\n");
    ASSERT_TRUE(state_file_session::CloseBlock(file));
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

TEST_F(StateFile, LinesReadOrPeeked) {
  const std::string path = dir_ / "lines.txt";
  WriteFile(path, "1.5 (volume)\n4 (useRunningAvg)\r\n1 2 3\nlast");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  state_file_reader reader(file.get());
  double d = 0;
  ASSERT_TRUE(reader.ReadDouble(d));
  std::string line;
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line, " (volume)");
  // A peeked line is read again, and the line count stays.
  ASSERT_TRUE(reader.PeekLine(line));
  EXPECT_EQ(line, "4 (useRunningAvg)");
  EXPECT_EQ(reader.Line(), 2);
  int i = 0;
  ASSERT_TRUE(reader.ReadInt(i));
  EXPECT_EQ(i, 4);
  reader.SkipRestOfLine();
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line, "1 2 3");
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(reader.PeekLine(line));
}

}  // namespace
}  // namespace velmo
