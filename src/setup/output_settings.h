// What a module's section says about the files it writes: a grid with its
// write code, a statistics table with its code.
#pragma once

#include <string>

namespace velmo {

// A grid the module writes: its file name and four-digit write code.
struct output_grid {
  std::string file;
  int write_code = 0;
};

// A statistics table: its file name and statistics code (below 1001: none).
struct statistics_file {
  std::string file;
  int code = 0;
};

}  // namespace velmo
