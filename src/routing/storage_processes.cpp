// Threshold abstraction and the flow of a hydraulic connection.
#include "routing/storage_processes.h"

#include <algorithm>
#include <cmath>

namespace velmo {

double ThresholdAbstraction(double base, double taken, double threshold, double fraction, double maximum) {
  const double available = base - taken;
  double amount = threshold <= available ? (base - threshold) * fraction : 0.0;
  if (threshold > available - amount) amount = available - threshold;
  return std::max(0.0, std::min(maximum, amount));
}

double ConnectionFlow(double level, double target_level, double bottom, double length, double width,
                      double roughness) {
  double depth = 0.0;
  double slope = 0.0;
  if (level > bottom && target_level > bottom) {
    slope = (level - target_level) / length;
    depth = std::max(level, target_level) - bottom;
  } else if (level > bottom) {
    depth = level - bottom;
    slope = depth / length;
  } else if (target_level > bottom) {
    depth = target_level - bottom;
    slope = -depth / length;
  }
  if (depth <= 0.0 || slope == 0.0) return 0.0;
  const double area = depth * width;
  const double radius = area / (width + 2.0 * depth);
  const double flow = std::pow(radius, kConnectionExponent) * roughness * area * std::sqrt(std::fabs(slope));
  return slope > 0.0 ? flow : -flow;
}

}  // namespace velmo
