// The state file of a run: which paths its blocks have created so far, and whether one failed.
#include "setup/statefile.h"

#include <algorithm>

namespace velmo {

std::FILE* state_file_session::OpenBlock(const std::string& path) {
  const bool created = std::find(created_.begin(), created_.end(), path) != created_.end();
  std::FILE* file = std::fopen(path.c_str(), created ? "a" : "w");
  if (file && !created) created_.push_back(path);
  return file;
}

bool state_file_session::CloseBlock(std::FILE* file) {
  const bool written = std::ferror(file) == 0;
  return std::fclose(file) == 0 && written;
}

}  // namespace velmo
