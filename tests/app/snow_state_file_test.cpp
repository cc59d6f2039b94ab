// The application and the snow block of the state file: the linked snow model appends its block when it is
// cleared, and a state file that cannot be written ends the run with code 16 once the clearing is complete.
// The program's entry point runs in-process on the example; the state file is named to the snow model as the
// soil model would name it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "app/entry.h"
#include "app/modappli.h"
#include "snow/snowmod.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Runs the example in `dir` with the state file `state_file` named to the
// snow model; returns the exit status and the console text.
int RunExample(const TempDir& dir, const std::string& state_file, std::string& transcript) {
  test::CopyExample(dir);
  const ApplicationFactory factory = [&](MessageStream* messages, int argc, char** argv, int position) {
    auto application = std::make_unique<ModellApplication>(messages, argc, argv, position);
    application->snow->ReadStorageFile(state_file, 0);
    return application;
  };
  std::string program = "velmo";
  std::string control = "example.ctl";
  char* argv[] = {program.data(), control.data(), nullptr};
  const test::WorkingDirectory working(dir.path());
  std::ostringstream console;
  std::streambuf* cout_buffer = std::cout.rdbuf(console.rdbuf());
  const int status = VelmoMain(2, argv, factory);
  std::cout.rdbuf(cout_buffer);
  transcript = console.str();
  return status;
}

TEST(SnowStateFile, TheLinkedSnowModelWritesItsBlockAtTheEnd) {
  TempDir dir;
  test::WriteFile(dir / "state.txt", "[snow_model_v2] of an older run\n");
  std::string transcript;
  ASSERT_EQ(RunExample(dir, "state.txt", transcript), 0) << transcript;
  // The first block of the run replaces the file.
  EXPECT_THAT(
      ReadFile(dir / "state.txt"),
      StartsWith("[snow_model_v2]\n3 (number of subasins)\n60.000 (timestep in minutes)\n1\t0(TG code and "
                 "Qice_slr value)\n"));
}

TEST(SnowStateFile, AnUnwritableStateFileEndsTheRunWith16AfterTheClearing) {
  TempDir dir;
  std::string transcript;
  EXPECT_EQ(RunExample(dir, "no_such_directory/state.txt", transcript), 16);
  const std::size_t error = transcript.find(
      "in snow/glacier model: error writing storage content file no_such_directory/state.txt");
  ASSERT_NE(error, std::string::npos) << transcript;
  // The modules cleared after the snow model are still cleared, then the
  // clearing ends and fails.
  const std::size_t later = transcript.find("deleting module special_output", error);
  const std::size_t end = transcript.find("the end.", error);
  ASSERT_NE(later, std::string::npos) << transcript;
  ASSERT_NE(end, std::string::npos) << transcript;
  EXPECT_NE(transcript.find("Exception in Modellapplication::ClearMemory() caught!", end), std::string::npos);
}

}  // namespace
}  // namespace velmo
