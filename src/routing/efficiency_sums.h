// Sums of the comparison of simulated with observed discharge, from which
// the efficiency block is formed at the end of the run.
#pragma once

#include "framework/routstat.h"

namespace velmo {

// Adds one pair to the linear sums (observations and errors sim - obs) and,
// when the simulated value is positive too, to the logarithmic sums (ln obs
// and ln sim - ln obs). An observation of 0 or less (missing) adds nothing.
void AddComparison(comparison_record& linear, comparison_record& logarithmic, double simulated,
                   double observed);

}  // namespace velmo
