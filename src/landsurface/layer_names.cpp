// Per-layer grid and file names of the vegetation-layer modules.
#include "landsurface/layer_names.h"

#include "framework/gridtable.h"

namespace velmo {

std::string LayerGridName(const std::string& base, int layer) { return base + std::to_string(layer); }

std::string LayerFileName(const std::string& name, int layer) {
  return FileNameWithMarker(name, "_Layer_" + std::to_string(layer));
}

}  // namespace velmo
