// Regression regions: per-cell blending weights between a cell's own region
// and up to two neighbouring regions within the transition distance.
#pragma once

namespace velmo {

inline constexpr int kMaxRegionCode = 32767;
inline constexpr int kMaxRegions = 30;
// A transition distance of 0 or less is taken as this (map units).
inline constexpr double kMinTransitionDistance = 0.01;

inline constexpr const char* kRegionGridName = "regression_regions";
inline constexpr const char* kRegionsSuffix = ".intern.r1";
inline constexpr const char* kWeights1Suffix = ".intern.w1";
inline constexpr const char* kRegions2Suffix = ".intern.r2";
inline constexpr const char* kWeights2Suffix = ".intern.w2";
inline constexpr const char* kRegions3Suffix = ".intern.r3";
inline constexpr const char* kWeights3Suffix = ".intern.w3";

// A region value is a valid code when its truncation lies in 1..32767.
constexpr bool IsRegionCode(double value) { return value >= 1.0 && value < kMaxRegionCode + 1.0; }

// Weight of the own region of a cell whose nearest cell of another region
// lies `nearest_distance` cells away (`transition_cells` when none is in
// reach): 0.5 at the border, rising to 1 at the transition distance.
double OwnRegionWeight(double nearest_distance, double transition_cells);

struct region_weights {
  double own = 1.0;
  double second = 0.0;
  double third = 0.0;
};

// Weights of a cell with two other regions in reach, whose nearest cells lie
// `distance2` and `distance3` cells away (not truncated). They sum to 1; when
// every term vanishes the cell belongs wholly to its own region.
region_weights BlendThreeRegions(double distance2, double distance3, double transition_cells);

}  // namespace velmo
