// Processes of abstractions and reservoirs that need no object: the amount of
// a threshold abstraction and the flow through the channel of a hydraulic
// connection. Numbers in, numbers out.
#pragma once

namespace velmo {

// Amount of an abstraction of threshold Qmin, fraction f and maximum Qmax
// (all depths per step) from the base b, of which `taken` is gone already:
// f times what exceeds the threshold, no more than leaves the threshold in
// place, at most the maximum and never below 0.
double ThresholdAbstraction(double base, double taken, double threshold, double fraction, double maximum);

// Manning-Strickler flow (m3/s) through a rectangular channel of width
// `width`, bottom `bottom` and length `length` with Strickler coefficient
// `roughness` between a reservoir at level `level` and another at
// `target_level`. Negative when the water flows back from the other one; 0
// while neither level is above the bottom.
inline constexpr double kConnectionExponent = 2.0 / 3.0;
double ConnectionFlow(double level, double target_level, double bottom, double length, double width,
                      double roughness);

}  // namespace velmo
