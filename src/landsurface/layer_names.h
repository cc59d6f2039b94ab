// Names of the per-layer grids and files of the vegetation-layer modules
// (evapotranspiration, interception): a grid name carries the layer number
// ("pot_transpiration" + 0), and the files of layer l >= 1 are those of
// layer 0 with "_Layer_<l>" before the extension.
#pragma once

#include <string>

namespace velmo {

// Grid name of layer `layer`: the base name followed by the number.
std::string LayerGridName(const std::string& base, int layer);

// File name of layer `layer` (>= 1) from the name of layer 0: the part before
// the last "." of the file part, "_Layer_", the layer, then the rest from that
// "." on ("et.grd" gives "et_Layer_1.grd"). A file part without "." gets
// "_Layer_<l>" appended.
std::string LayerFileName(const std::string& name, int layer);

}  // namespace velmo
