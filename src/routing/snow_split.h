// The snow storages of a cell re-split to a new total snow water equivalent,
// as the data assimilation does when it replaces the total: the liquid and
// solid storages keep their proportion, and where there is no solid storage
// the default liquid percentage divides the total. With glaciers, the
// storages on and off the glacier of the cell are split alike, each a depth
// over its own part of the cell. Numbers in, numbers out (mm).
#pragma once

namespace velmo {

inline constexpr double kWholePercentage = 100.0;

struct snow_pair {
  double liquid = 0.0;
  double solid = 0.0;
};

// `current` scaled to `total`: by its own proportion while it holds solid
// snow, else `liquid_percentage` (0..100) of the total is liquid.
snow_pair SplitSnowTotal(double total, snow_pair current, double liquid_percentage);

struct cell_snow {
  snow_pair off_glacier;
  snow_pair on_glacier;
  double glacier_total = 0.0;
};

// Both pairs split to `total` and the glacier total set to it; then a cell
// glacierised wholly (`glacierized` >= 1) keeps no snow off the glacier, and
// one without glacier (<= 0) none on it.
cell_snow SplitSnowTotalOverGlacier(double total, const cell_snow& current, double glacierized,
                                    double liquid_percentage);

}  // namespace velmo
