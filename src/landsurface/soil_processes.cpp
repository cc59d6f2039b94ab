// Parameter conversions, slope stability and the parameter columns of the soil model.
#include "landsurface/soil_processes.h"

namespace velmo {

double StorageConstantMinutes(double hours) {
  return hours < kShortestStorageHours ? kDefaultStorageMinutes : hours * kMinutesPerHour;
}

double RecessionFactor(double dt, double storage_minutes) { return std::exp(-dt / storage_minutes); }

double RatePerStep(double per_hour, double dt) { return per_hour * dt / kMinutesPerHour; }

double MacroporeThresholdPerStep(double per_hour, double dt) {
  return per_hour * std::pow(dt / kMinutesPerHour, kMacroporeThresholdExponent);
}

double ConductivityPerStep(double metres_per_second, double dt) {
  return metres_per_second * dt * kConductivityToMillimetres;
}

double TravelTimeSteps(double seconds, double dt) { return std::ceil(seconds / kSecondsPerMinute / dt); }

double BaseflowAtZeroDeficit(double tkorr, double lambda, double dt) {
  return std::exp(std::log(dt * kTransmissivityToMillimetres * tkorr) - lambda);
}

double SlopeStabilityIndex(double slope_degrees, double friction_angle, double soil_depth, double wet_density,
                           double soil_cohesion, double root_cohesion, double deficit,
                           double drainable_porosity) {
  constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
  constexpr double kRightAngle = std::numbers::pi / 2.0;
  const double beta = slope_degrees * kRadiansPerDegree;
  const double d = soil_depth;
  if (d <= 0.0 || wet_density <= 0.0 || beta <= 0.0 || beta >= kRightAngle) return kNoStabilityIndex;
  // Saturated thickness above the failure plane: the water table lies
  // SD/DP below the surface.
  const double hw =
      drainable_porosity > 0.0
          ? std::min(d, std::max(0.0, d - (deficit / kMillimetresPerMetre) / drainable_porosity))
          : 0.0;
  const double friction =
      std::cos(beta) * (1.0 - (hw / d) * kWaterDensity / wet_density) * std::tan(friction_angle);
  const double cohesion = (soil_cohesion + root_cohesion) / (d * kGravity * wet_density);
  return (friction + cohesion) / std::sin(beta);
}

code_row::code_row(const int* code_map, int subbasin_count, int largest_code)
    : code_map_(code_map), largest_(largest_code), reads_(static_cast<size_t>(subbasin_count) + 1, false) {}

code_row::result code_row::Add(int code) {
  if (code < 1 || code > largest_ || code_map_[code] <= 0) return result::no_subbasin;
  const int index = code_map_[code];
  if (columns_ == 0) {
    // The first column also serves every subbasin below the first listed code.
    reads_[1] = true;
  } else {
    if (index <= previous_index_) return result::not_rising;
    reads_[static_cast<size_t>(index)] = true;
  }
  ++columns_;
  previous_index_ = index;
  return code >= largest_ ? result::complete : result::more;
}

}  // namespace velmo
