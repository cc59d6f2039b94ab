// Re-splitting a cell's snow storages to a new total, off and on its glacier.
#include "routing/snow_split.h"

namespace velmo {

snow_pair SplitSnowTotal(double total, snow_pair current, double liquid_percentage) {
  // A negative liquid storage (none should be) could leave no sum to divide by.
  if (current.solid > 0.0 && current.liquid + current.solid > 0.0) {
    const double liquid_share = current.liquid / (current.liquid + current.solid);
    return {total * liquid_share, total * (1.0 - liquid_share)};
  }
  return {total * liquid_percentage / kWholePercentage,
          total * (kWholePercentage - liquid_percentage) / kWholePercentage};
}

cell_snow SplitSnowTotalOverGlacier(double total, const cell_snow& current, double glacierized,
                                    double liquid_percentage) {
  cell_snow result{SplitSnowTotal(total, current.off_glacier, liquid_percentage),
                   SplitSnowTotal(total, current.on_glacier, liquid_percentage), total};
  if (glacierized >= 1.0) result.off_glacier = {};
  if (glacierized <= 0.0) {
    result.on_glacier = {};
    result.glacier_total = 0.0;
  }
  return result;
}

}  // namespace velmo
