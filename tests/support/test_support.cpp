// Shared test helpers: temporary directories, files and runs of the velmo binary.
#include "support/test_support.h"

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace velmo::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("velmo_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

int RunVelmo(const std::string& directory, const std::string& arguments, const std::string& stdout_path,
             const std::string& stdin_path) {
  std::string command = "cd '" + directory + "' && '" VELMO_BINARY "' " + arguments;
  command += " > " + (stdout_path.empty() ? std::string("/dev/null") : "'" + stdout_path + "'");
  command += " 2>&1";
  command += " < " + (stdin_path.empty() ? std::string("/dev/null") : "'" + stdin_path + "'");
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace velmo::test
