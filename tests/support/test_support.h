// Helpers shared by the test programs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "framework/diagnostics.h"

namespace velmo::test {

// A fresh, empty directory under the system's temporary directory, removed
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Runs the velmo binary with `arguments` in `directory`; returns its exit
// status. Standard output goes to `stdout_path` when given.
int RunVelmo(const std::string& directory, const std::string& arguments, const std::string& stdout_path = "",
             const std::string& stdin_path = "");

// Runs `action`, expects it to throw `code`, and returns what `console` got
// meanwhile. `label` names the case in a failure.
template <typename F>
std::string ExpectCode(std::ostringstream& console, int code, F action, const std::string& label = {}) {
  console.str("");
  try {
    action();
    ADD_FAILURE() << "no code thrown, expected " << code << (label.empty() ? "" : " for:\n") << label;
  } catch (ErrorCode thrown) {
    EXPECT_EQ(thrown, code) << label;
  }
  return console.str();
}

// The code `action` throws; 0 when it throws none.
template <typename F>
int ThrownCode(F action) {
  try {
    action();
  } catch (ErrorCode code) {
    return code;
  }
  return 0;
}

// A temporary directory and a message stream whose diagnostics file lies in
// it; the console transcript goes to `console`.
struct MessageCapture {
  TempDir dir;
  std::ostringstream console;
  MessageStream ms{dir / "diag.xml", 4, console};

  // Runs `action`, expects it to throw `code`, and returns what the console
  // got meanwhile.
  template <typename F>
  std::string ExpectCode(int code, F action, const std::string& label = {}) {
    return test::ExpectCode(console, code, action, label);
  }
};

// The same as a test fixture.
struct MessagesTest : ::testing::Test, MessageCapture {};

}  // namespace velmo::test
