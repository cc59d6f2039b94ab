// Hydraulics of one channel reach: Manning velocity, the water
// level-discharge table of log-spaced discharge classes with its flow times,
// sub-channels and translation delays, the class of a depth, the linear
// storage step. Numbers in, numbers out. Depths and discharges convert with
// DischargeToDepth and DepthToDischarge of physics/units.h.
#pragma once

#include <array>
#include <vector>

#include "physics/units.h"

namespace velmo {

// Manning's formula solved for the velocity of a rectangular section by a
// fixed-point iteration.
inline constexpr int kManningIterations = 50;
inline constexpr double kManningTolerance = 0.005;  // m/s
inline constexpr double kManningExponent = 0.66667;
struct manning_result {
  double depth = 0.0;             // m
  double hydraulic_radius = 0.0;  // m
  double velocity = 0.0;          // m/s
};
// Starts from `velocity` (m/s); discharge in m3/s, width in m, Manning
// coefficient in m^(1/3)/s.
manning_result ManningVelocity(double discharge, double width, double velocity, double manning,
                               double slope_root, int iterations = kManningIterations,
                               double tolerance = kManningTolerance);

// The ten values of a channel as they stand in a routing description, with
// their replacements for values of 0 or less.
struct channel_values {
  double storage_main = 0.01;   // h
  double storage_flood = 0.01;  // h
  double width_main = 0.1;      // m
  double width_flood = 0.1;     // m
  double depth_main = 0.1;      // m
  double manning_main = 1.0;    // m^(1/3)/s
  double manning_flood = 1.0;   // m^(1/3)/s
  double slope_root = 0.0316;   // square root of the slope (1/1)
  double length = 1.0;          // m
  double area = 1e-06;          // km2
};
inline constexpr int kChannelValueCount = 10;
// The values in description order (the slope as it is, not its root); a
// value of 0 or less keeps its replacement.
channel_values ChannelValues(const std::array<double, kChannelValueCount>& values);

// Settings of the w-q tables: specific discharges in l/s/km2, the number of
// intervals n (classes 1..n+1) and the sub-intervals of a step.
struct wq_settings {
  double qmin = 0.0;
  double qmax = 0.0;
  double intervals = 0.0;
  int subintervals = 1;
};

// The w-q table of one channel, classes 1..n+1 (index 0 unused).
struct wq_table {
  int classes = 0;    // n + 1
  double dlog = 0.0;  // ln(qmax/qmin) / n
  double qmin = 0.0;  // l/s/km2
  double dt = 0.0;    // minutes
  int subintervals = 1;
  std::vector<double> q_ls;   // specific discharge, l/s/km2
  std::vector<double> q_mm;   // the same as mm per step
  std::vector<double> Q;      // m3/s
  std::vector<double> v;      // mean velocity, m/s
  std::vector<double> vm;     // main channel, m/s
  std::vector<double> vf;     // flood plain, m/s
  std::vector<double> t;      // flow time through the channel, h
  std::vector<double> Rm;     // hydraulic radius of the main channel, m
  std::vector<double> Rf;     // hydraulic radius of the flood plain, m
  std::vector<double> dm;     // depth in the main channel, m
  std::vector<double> df;     // depth on the flood plain, m
  std::vector<double> share;  // flood-plain share of the discharge
  std::vector<int> delay;     // translation delay of one sub-channel, sub-intervals
  // Specific discharges at the upper ends of classes 1..n (l/s/km2), for the
  // class look-up without a logarithm.
  std::vector<double> class_bounds;
  int sub_channels = 1;
  // The longest delay of all classes. It is delay[1] unless a rough flood
  // plain makes high discharges slower than the lowest; the delay line is
  // sized for it so that no class can run past its end.
  int max_delay = 0;
  int storage_elements = 0;  // (S + max_delay) * sub-channels
  // The channel would need more than kMaxStorageElements elements, or a
  // value of the table is no finite positive number; nothing after the flow
  // times is filled in.
  bool oversized = false;
};

// Largest delay line a channel may have (elements).
inline constexpr double kMaxStorageElements = 1e8;

// Builds the table of a channel. The channel's discharges are divided by
// `area_divisor` (the outlet's divisor for tributary and summed channels, 1
// for an inflow's channel).
wq_table BuildWqTable(const channel_values& channel, const wq_settings& settings, double dt_minutes,
                      double area_divisor);

// The smallest number of sub-channels over which the spread of the flow
// times at the lowest and highest class stays within one step.
int SubChannelCount(double slowest_hours, double fastest_hours, double dt_minutes);

// Class 1..n+1 of a depth x in mm per step: ceil(ln(qs / qmin) / dlog) for the
// specific discharge qs = 16666.668 / dt * x (at least 1e-07), limited to
// 1..n+1; class 1 for every depth when qmin = qmax.
inline constexpr double kDepthToSpecificDischarge = 16666.668;  // (l/s/km2) per (mm/min)
inline constexpr double kSmallestSpecificDischarge = 1e-07;     // l/s/km2
int ClassIndex(const wq_table& table, double depth);

// Recession factor of a linear storage over one step, exp(-1/k), k in steps.
double RecessionFactor(double storage_constant);
// Storage constant back from its recession factor (0 for 1, -9999 for <= 0).
double StorageConstant(double recession_factor);

// One sub-interval of the two linear storages of a sub-channel: inflow x is
// split by the flood-plain share of its class, the previous outflow by the
// share it had; each part recedes with its own factor.
inline double LinearStoreOutflow(double inflow, double share, double previous_outflow, double previous_share,
                                 double recession_main, double recession_flood) {
  return (1.0 - recession_main) * (1.0 - share) * inflow +
         recession_main * (1.0 - previous_share) * previous_outflow +
         (1.0 - recession_flood) * share * inflow + recession_flood * previous_share * previous_outflow;
}

}  // namespace velmo
