// Per-layer grid and file names of the vegetation-layer modules.
#include "landsurface/layer_names.h"

namespace velmo {

std::string LayerGridName(const std::string& base, int layer) { return base + std::to_string(layer); }

std::string LayerFileName(const std::string& name, int layer) {
  const std::string marker = "_Layer_" + std::to_string(layer);
  const std::size_t separator = name.find_last_of("/\\");
  const std::size_t file_start = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot < file_start) return name + marker;
  return name.substr(0, dot) + marker + name.substr(dot);
}

}  // namespace velmo
