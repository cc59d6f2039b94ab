// The glacier share of a cell, as every module reads it from the glacier
// grid ("GlacierizedCells", else "ice_firn"): one reading, so that no cell is
// glacier for one module and soil for another.
#pragma once

namespace velmo {

// The share from a grid value, clamped to 0..1 (nodata and NaN give 0).
inline double CellGlacierShare(double value) { return value > 1.0 ? 1.0 : (value > 0.0 ? value : 0.0); }

// A cell under ice throughout: no soil, no canopy, no glacier-free cover.
inline bool FullyGlacierised(double share) { return share >= 1.0; }

}  // namespace velmo
