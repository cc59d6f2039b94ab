// Comparison sums of simulated against observed discharge.
#include "routing/efficiency_sums.h"

#include <cmath>

namespace velmo {
namespace {

void AddPair(comparison_record& r, double simulated, double observed) {
  const double error = simulated - observed;
  r[kObservedCount] += 1.0;
  r[kObservedSum] += observed;
  r[kSquaredObservedSum] += observed * observed;
  r[kPairCount] += 1.0;
  r[kErrorSum] += error;
  r[kSquaredErrorSum] += error * error;
}

}  // namespace

void AddComparison(comparison_record& linear, comparison_record& logarithmic, double simulated,
                   double observed) {
  if (!(observed > 0.0)) return;
  AddPair(linear, simulated, observed);
  if (simulated > 0.0) AddPair(logarithmic, std::log(simulated), std::log(observed));
}

}  // namespace velmo
