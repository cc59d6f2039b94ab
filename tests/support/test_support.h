// Helpers shared by the test programs.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace velmo::test
