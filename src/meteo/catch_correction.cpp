// Catch-loss factors of precipitation gauges, their application to a run of
// cells, and the least-squares refit of a corrected altitude line.
#include "meteo/catch_correction.h"

#include <algorithm>
#include <cmath>

namespace velmo {
namespace {

// Slack of the sample count: (end - start) / step of an exact tenth may come
// out just below a whole number.
constexpr double kSampleCountSlack = 1e-9;

// One loop per kind of input, written with selects instead of branches so
// that it runs as vectors.
template <bool kWithTemperature, bool kWithWind>
void CorrectRun(const catch_correction_parameters& p, const catch_missing_limits& limits,
                double* __restrict precipitation, const double* __restrict temperature,
                const double* __restrict wind, int count) {
  const double threshold = p.threshold;
  const double rain_constant = p.rain_constant, rain_slope = p.rain_slope;
  const double snow_constant = p.snow_constant, snow_slope = p.snow_slope;
  const double lowest_precipitation = limits.precipitation;
  const double lowest_temperature = limits.temperature;
  const double lowest_wind = limits.wind;
  for (int k = 0; k < count; ++k) {
    double u = 0.0;
    if constexpr (kWithWind) u = wind[k] >= lowest_wind ? wind[k] : 0.0;
    bool rain = true;
    if constexpr (kWithTemperature) {
      const double t = temperature[k];
      rain = (t > threshold) | (t < lowest_temperature);
    }
    const double constant = rain ? rain_constant : snow_constant;
    const double slope = rain ? rain_slope : snow_slope;
    const double factor = constant + slope * u;
    const double positive = factor > 0.0 ? factor : 0.0;
    const double v = precipitation[k];
    precipitation[k] = v >= lowest_precipitation ? v * positive : v;
  }
}

}  // namespace

double RainFactor(const catch_correction_parameters& p, double wind) {
  return std::max(0.0, p.rain_constant + p.rain_slope * wind);
}

double CatchFactor(const catch_correction_parameters& p, double temperature, double wind) {
  if (temperature > p.threshold) return RainFactor(p, wind);
  return std::max(0.0, p.snow_constant + p.snow_slope * wind);
}

void CorrectCells(const catch_correction_parameters& p, const catch_missing_limits& limits,
                  double* precipitation, const double* temperature, const double* wind, int count) {
  if (temperature && wind) return CorrectRun<true, true>(p, limits, precipitation, temperature, wind, count);
  if (temperature) return CorrectRun<true, false>(p, limits, precipitation, temperature, wind, count);
  if (wind) return CorrectRun<false, true>(p, limits, precipitation, temperature, wind, count);
  CorrectRun<false, false>(p, limits, precipitation, temperature, wind, count);
}

line_fit RefitLine(double intercept, double slope, double start, double step, double end, int max_samples,
                   const std::function<double(double)>& factor) {
  line_fit fit{intercept, slope, 0};
  if (!(step > 0.0) || !std::isfinite(step) || !(end >= start) || max_samples < 1) return fit;
  const double last = std::floor((end - start) / step + kSampleCountSlack);
  const int count = static_cast<int>(std::min(last, static_cast<double>(max_samples) - 1.0)) + 1;
  // Sums about the mean altitude of the samples keep the digits.
  const double z_mean = start + step * (count - 1) / 2.0;
  double sum_y = 0.0, sum_dz_y = 0.0, sum_dz2 = 0.0;
  for (int k = 0; k < count; ++k) {
    const double z = start + k * step;
    const double y = (slope * z + intercept) * factor(z);
    const double dz = z - z_mean;
    sum_y += y;
    sum_dz_y += dz * y;
    sum_dz2 += dz * dz;
  }
  fit.samples = count;
  if (count < 2) return fit;
  fit.slope = sum_dz_y / sum_dz2;
  fit.intercept = sum_y / count - fit.slope * z_mean;
  return fit;
}

altitude_segments RefitSegments(const altitude_segments& segments, double nodata, double max_elevation,
                                const std::function<double(double)>& factor) {
  altitude_segments r = segments;
  auto refit = [&](int segment, double start, double step, double end, int max_samples) {
    const line_fit fit = RefitLine(r.a[segment], r.b[segment], start, step, end, max_samples, factor);
    r.a[segment] = fit.intercept;
    r.b[segment] = fit.slope;
  };
  const double h1 = segments.h1;
  const double h2 = segments.h2;
  if (segments.a[1] >= -nodata) {
    if (h1 > 0.0 && segments.b[1] != 0.0) {
      refit(1, 0.0, h1 / kSegmentDivisions, h1, kSegmentDivisions + 1);
    } else if (h2 >= 0.0) {
      refit(2, 0.0, h2 / kSegmentDivisions, h2, kSegmentDivisions + 1);
    }
    if (segments.b[3] != 0.0 && max_elevation > h2)
      refit(3, h2, (max_elevation - h2) / kSegmentDivisions, std::max(2.0 * h2, max_elevation),
            kMaxUpperSamples);
  }
  if (r.h1 > 0.0) {
    if (r.h2 != r.h1) {
      r.b[2] = ((r.b[3] * r.h2 + r.a[3]) - (r.b[1] * r.h1 + r.a[1])) / (r.h2 - r.h1);
      r.a[2] = (r.b[1] - r.b[2]) * r.h1 + r.a[1];
    }
  } else if (std::fabs(r.b[3] - r.b[2]) > kCrossingSlopeDifference) {
    r.h2 = (r.a[2] - r.a[3]) / (r.b[3] - r.b[2]);
  }
  return r;
}

}  // namespace velmo
