// Withdrawals of evaporation from snow, open water and the soil.
#include "landsurface/evaporation_withdrawal.h"

#include <algorithm>

namespace velmo {

double TakeFromStore(double& store, double& demand) {
  if (!(demand > 0.0) || !(store > 0.0)) return 0.0;
  const double taken = std::min(store, demand);
  store -= taken;
  demand -= taken;
  return taken;
}

double MoistureLimitedTranspiration(double potential, double theta) {
  if (theta >= kUnstressedSoilMoisture) return potential;
  return potential * theta / kUnstressedSoilMoisture;
}

soil_withdrawal WithdrawFromSoil(double demand, double theta, double capacity) {
  soil_withdrawal result{0.0, theta};
  if (!(capacity > 0.0) || !(demand > 0.0) || !(theta > 0.0)) return result;
  result.theta = theta - demand / capacity;
  result.taken = demand;
  if (result.theta < 0.0) {
    // Only what the soil held leaves it.
    result.taken += capacity * result.theta;
    result.theta = 0.0;
  }
  result.taken = std::max(result.taken, 0.0);
  return result;
}

}  // namespace velmo
