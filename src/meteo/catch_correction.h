// Correction of the catch loss of precipitation gauges: a factor linear in
// wind speed, one pair of coefficients for rain and one for snow, chosen by
// the air temperature; and the least-squares refit of a precipitation-altitude
// line whose values are corrected by that factor. Numbers in, numbers out.
#pragma once

#include <array>
#include <functional>

namespace velmo {

// The values of "[precipitation_correction]".
struct catch_correction_parameters {
  int do_it = 1;               // 0: no correction
  double threshold = 0.0;      // °C; at or below it precipitation is snow
  double rain_constant = 1.0;  // factor = constant + slope × wind speed
  double rain_slope = 0.0;     // per unit of the wind-speed data
  double snow_constant = 1.0;
  double snow_slope = 0.0;
};

// Factor of rain at wind speed `wind`; a negative factor (negative slope,
// strong wind) is 0.
double RainFactor(const catch_correction_parameters& p, double wind);
// Factor at `temperature` and `wind`: the rain pair above the threshold, the
// snow pair at or below it.
double CatchFactor(const catch_correction_parameters& p, double temperature, double wind);

// A value below `lowest_valid` is missing and stays as it is.
inline double CorrectedPrecipitation(double precipitation, double factor, double lowest_valid) {
  return precipitation >= lowest_valid ? precipitation * factor : precipitation;
}

// Where a cell's inputs count as missing: values below these.
struct catch_missing_limits {
  double precipitation;  // not corrected
  double temperature;    // counts as rain
  double wind;           // counts as calm
};

// Corrects precipitation[0..count-1] in place by the temperature and wind
// speed of each cell. Without temperatures (null) the rain pair applies,
// without wind speeds (null) the speed is 0.
void CorrectCells(const catch_correction_parameters& p, const catch_missing_limits& limits,
                  double* precipitation, const double* temperature, const double* wind, int count);

// A line a + b·z fitted by least squares.
struct line_fit {
  double intercept = 0.0;
  double slope = 0.0;
  int samples = 0;
};

// Samples the altitudes z = start + k·step (k = 0, 1, ... while z <= end, at
// most max_samples of them; k is whole, so rounding never decides whether
// `end` is sampled), takes y(z) = (slope·z + intercept) × factor(z) and fits
// a line through them. A step that is not above 0 samples nothing (samples
// 0, the line as given).
line_fit RefitLine(double intercept, double slope, double start, double step, double end, int max_samples,
                   const std::function<double(double)>& factor);

// The three altitude segments of a precipitation regression: below h1 the
// line a1 + b1·z, from h1 to h2 a2 + b2·z, above h2 a3 + b3·z (index 0 is
// carried along unused).
struct altitude_segments {
  double h1 = 0.0;
  double h2 = 0.0;
  std::array<double, 4> a{};
  std::array<double, 4> b{};
};

// Segments are sampled in tenths; the upper one, which runs to twice h2 or
// to the highest cell, takes at most this many samples.
inline constexpr int kSegmentDivisions = 10;
inline constexpr int kMaxUpperSamples = 101;
// Slopes of the middle and upper segments closer than this do not cross.
inline constexpr double kCrossingSlopeDifference = 0.0001;

// Refits the segments to their values corrected by factor(z). Unless the
// regression is missing (a1 below -N): the lower segment (segment 1 from 0
// to h1 when h1 > 0 and b1 != 0, else segment 2 from 0 to h2) and, when
// b3 != 0 and the highest cell lies above h2, the upper segment from h2 to
// twice h2 or the highest cell, whichever is higher. Then the middle segment
// joins the outer two (h1 > 0 and h1 != h2), or h2 moves to where segments 2
// and 3 cross (h1 <= 0, slopes apart).
altitude_segments RefitSegments(const altitude_segments& segments, double nodata, double max_elevation,
                                const std::function<double(double)>& factor);

}  // namespace velmo
