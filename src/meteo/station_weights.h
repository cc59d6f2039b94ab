// Point methods of the meteorological interpolator: inverse-distance
// weighting (plain and anisotropic), Thiessen, Thiessen with a lapse rate, the
// rotation into the frame of the anisotropy ellipse, the range checks of the
// anisotropy and the orientation of a regular station mesh. Numbers in,
// numbers out.
//
// Station arrays count stations from 1 (element 0 is not used). A station
// value v is valid when v >= -N, N being the interpolator's nodata value; a
// missing result is -N - 1.
#pragma once

#include <cmath>

namespace velmo {

// Weight codes: trunc(floor(1000 w)) of the inverse-distance weight w.
inline constexpr int kSquareWeightCode = 2000;  // w = 2: distances compared squared
inline constexpr int kLinearWeightCode = 1000;  // w = 1
// A squared distance of 0 counts as 1 (a station on the point).
inline constexpr double kZeroDistanceSubstitute = 1.0;
// Thiessen ignores stations whose squared distance exceeds this (m²).
inline constexpr double kThiessenFarthest = 1e20;
// Inversion height or upper lapse rate at or below this: no inversion.
inline constexpr double kNoInversionBelow = -9998.0;
inline constexpr double kNoInversion = -9999.0;
// Largest anisotropy slope in radians (90 degrees).
inline constexpr double kMaxAnisotropySlope = 1.570796326795;
inline constexpr double kRadiansPerDegree = 0.017453292519944444;

// The stations of one station file; arrays 1..count.
struct station_arrays {
  const double* x = nullptr;
  const double* y = nullptr;
  const double* altitude = nullptr;
  const double* values = nullptr;
  int count = 0;
};

inline double MissingResult(double nodata) { return -nodata - 1.0; }
inline bool IsValidValue(double value, double nodata) { return value >= -nodata; }
// Whether the valid values among values[0..count-1] are all equal (also when
// none is valid): every cell then takes that value.
bool AllValidValuesEqual(const double* values, int count, double nodata);

int WeightCode(double weight_exponent);
// Largest inverse-distance weight by its size: its code, 1000 w, fits an int.
inline constexpr double kLargestIdwWeight = 1.0e6;

// Weight of a station at squared distance d2 from the point; 0 beyond the
// maximum distance. `max_distance` is squared for kSquareWeightCode.
inline double InverseDistanceWeight(double d2, int code, double exponent, double max_distance);

// Squared distances; the anisotropic one shrinks the x offset by `ratio` in
// the rotated frame.
inline double SquaredDistance(double xs, double ys, double x, double y) {
  const double dx = xs - x;
  const double dy = ys - y;
  return dx * dx + dy * dy;
}
inline double AnisotropicSquaredDistance(double xs, double ys, double x, double y, double ratio) {
  const double dy = ys - y;
  const double dx = (xs - x) * ratio;
  return dy * dy + dx * dx;
}

// Σ wᵢvᵢ / Σ wᵢ over the valid stations with a positive weight, or the
// missing result when no station is in reach. `weights` (1..count), when
// given, receives every station's weight (0 for a missing value). The
// anisotropic variant takes rotated station and point coordinates.
double InverseDistance(const station_arrays& stations, double x, double y, int code, double exponent,
                       double max_distance, double nodata, double* weights = nullptr);
double AnisotropicInverseDistance(const station_arrays& stations, double x, double y, double ratio, int code,
                                  double exponent, double max_distance, double nodata,
                                  double* weights = nullptr);

// Value of the nearest valid station (the later one at equal distance), or
// the missing result. `squared_distances` (1..count), when given, receives
// the squared distance of every valid station.
double Thiessen(const station_arrays& stations, double x, double y, double nodata,
                double* squared_distances = nullptr);

// A station value carried from the station's altitude to `altitude` with the
// lapse rate, and above an inversion height with the upper lapse rate.
double LapseRateValue(double station_value, double station_altitude, double altitude, double lapse_rate,
                      double inversion_height, double upper_lapse_rate);
// The nearest valid station (the earlier one at equal distance) carried to
// `altitude`; with `p_type` a station value of 0 stays 0. Missing result when
// no station has a valid value.
double ThiessenLapseRate(const station_arrays& stations, double x, double y, double altitude,
                         double lapse_rate, double inversion_height, double upper_lapse_rate, bool p_type,
                         double nodata);

// (x, y) turned about (x0, y0) by -slope (radians).
void RotatePoint(double x, double y, double x0, double y0, double slope, double& rotated_x,
                 double& rotated_y);

// Which anisotropy value is out of range, if any.
enum class anisotropy_fault { kNone, kSlope, kRatio };
anisotropy_fault CheckAnisotropyRange(double slope_radians, double ratio);

// Main direction of a regular station mesh, from the links of every station
// to its neighbour: slope in degrees (-45..45) and ratio 0.995 when the mesh
// is turned, else slope 0 and ratio 1.
struct mesh_orientation {
  double slope_degrees = 0.0;
  double ratio = 1.0;
};
mesh_orientation DetectMeshOrientation(const double* x, const double* y, int count);

// ---------------------------------------------------------------- inline

inline double InverseDistanceWeight(double d2, int code, double exponent, double max_distance) {
  switch (code) {
    case kSquareWeightCode:
      if (d2 == 0.0) d2 = kZeroDistanceSubstitute;
      return d2 <= max_distance ? 1.0 / d2 : 0.0;
    case kLinearWeightCode: {
      const double d = d2 == 0.0 ? kZeroDistanceSubstitute : std::sqrt(d2);
      return d <= max_distance ? 1.0 / d : 0.0;
    }
    default: {
      if (d2 <= 0.0) d2 = kZeroDistanceSubstitute;
      const double d = std::sqrt(d2);
      return d <= max_distance ? std::pow(d, -exponent) : 0.0;
    }
  }
}

}  // namespace velmo
