// A set-up object on the small complete control file of tests/data/setup,
// copied with its grids into a fresh directory (the derived grids are
// written beside their sources).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "support/test_support.h"

namespace velmo::test {

class StagedSetup : public ::testing::Test {
 protected:
  StagedSetup() {
    const std::filesystem::path source = std::filesystem::path(VELMO_TEST_DATA) / "setup";
    for (const auto& file : std::filesystem::directory_iterator(source)) {
      std::string text = ReadFile(file.path().string());
      for (size_t at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@", at))
        text.replace(at, 5, dir.path().string());
      WriteFile(dir / file.path().filename().string(), text);
    }
    std::filesystem::create_directories(dir / "out");
    setup = std::make_unique<defaultini>(setup_error, &ms, dir / "control.txt", 1, &table);
    setup->open_retry_wait_ms = 1;
  }

  // Replaces `from` by `to` in the control file (before stage 0).
  void EditControlFile(const std::string& from, const std::string& to) {
    ReplaceInFile(dir / "control.txt", from, to);
  }

  // Runs the stages up to and including `last_stage`; a thrown code fails
  // the test.
  void RunThrough(int last_stage) {
    bool done = false;
    while (setup->stage <= last_stage && !done) {
      try {
        setup->InitializeStage(done);
      } catch (ErrorCode code) {
        FAIL() << "stage " << setup->stage << " threw " << code << ":\n" << console.str();
      }
    }
  }
  // Runs the remaining stages and the closing call.
  void FinishSetUp() {
    bool done = false;
    try {
      while (!done) setup->InitializeStage(done);
    } catch (ErrorCode code) {
      FAIL() << "stage " << setup->stage << " threw " << code << ":\n" << console.str();
    }
  }
  // Runs the next stage and returns the code it throws (0: none).
  int StageCode() {
    bool done = false;
    return ThrownCode([&] { setup->InitializeStage(done); });
  }

  TempDir dir;
  std::ostringstream console;
  MessageStream ms{dir / "diag.xml", 4, console};
  grid_table table{&ms};
  int setup_error = -1;
  std::unique_ptr<defaultini> setup;
};

}  // namespace velmo::test
