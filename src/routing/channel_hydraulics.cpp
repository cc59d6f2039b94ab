// Channel hydraulics: Manning velocity, w-q tables, class look-up, linear storages.
#include "routing/channel_hydraulics.h"

#include <algorithm>
#include <cmath>

namespace velmo {
namespace {

constexpr double kSpecificDischargeToMmPerHour = 0.0036;  // (mm/h) per (l/s/km2)
constexpr double kLitresPerCubicMetre = 1000.0;
constexpr double kSecondsPerHour = 3600.0;
// Flood plain: levels closer than this count as equal (m), and the number of
// level balancing rounds.
constexpr double kLevelTolerance = 0.01;
constexpr int kLevelIterations = 50;
constexpr double kStartVelocity = 1.0;  // m/s
// Relative distance from a class end within which the class is taken from
// the formula (its rounding errors are below 1e-13 in the class number).
constexpr double kClassBoundMargin = 1e-9;

// Replacements of channel values of 0 or less, in description order.
constexpr double kReplacements[kChannelValueCount] = {0.01, 0.01, 0.1,    0.1, 0.1,
                                                      1.0,  1.0,  0.0316, 1.0, 1e-06};

}  // namespace

manning_result ManningVelocity(double discharge, double width, double velocity, double manning,
                               double slope_root, int iterations, double tolerance) {
  manning_result result;
  for (int i = 0; i < iterations; ++i) {
    const double area = velocity > 0.0 ? discharge / velocity : 0.0;
    result.depth = area / width;
    const double perimeter = 2.0 * result.depth + width;
    result.hydraulic_radius = perimeter > 0.0 ? area / perimeter : 0.0;
    const double next = result.hydraulic_radius > 0.0
                            ? std::pow(result.hydraulic_radius, kManningExponent) * manning * slope_root
                            : 0.0;
    const double change = std::fabs(velocity - next);
    velocity = next;
    if (change <= tolerance) break;
  }
  result.velocity = velocity;
  return result;
}

channel_values ChannelValues(const std::array<double, kChannelValueCount>& values) {
  double v[kChannelValueCount];
  for (int i = 0; i < kChannelValueCount; ++i)
    v[i] = values[static_cast<size_t>(i)] > 0.0 ? values[static_cast<size_t>(i)] : kReplacements[i];
  channel_values c;
  c.storage_main = v[0];
  c.storage_flood = v[1];
  c.width_main = v[2];
  c.width_flood = v[3];
  c.depth_main = v[4];
  c.manning_main = v[5];
  c.manning_flood = v[6];
  c.slope_root = values[7] > 0.0 ? std::sqrt(values[7]) : kReplacements[7];
  c.length = v[8];
  c.area = v[9];
  return c;
}

int SubChannelCount(double slowest_hours, double fastest_hours, double dt_minutes) {
  const double step_hours = dt_minutes / kMinutesPerHour;
  auto fits = [&](double c) { return slowest_hours / c - fastest_hours / c <= step_hours; };
  const double spread = slowest_hours - fastest_hours;
  if (!std::isfinite(spread) || fits(1.0)) return 1;
  double count = std::ceil(spread / step_hours);
  if (count > kMaxStorageElements) return static_cast<int>(kMaxStorageElements) + 1;
  // The estimate can be off by one through rounding.
  while (count > 1.0 && fits(count - 1.0)) count -= 1.0;
  while (!fits(count)) count += 1.0;
  return static_cast<int>(count);
}

wq_table BuildWqTable(const channel_values& channel, const wq_settings& settings, double dt_minutes,
                      double area_divisor) {
  wq_table table;
  const int n = static_cast<int>(settings.intervals);
  table.classes = n + 1;
  table.dlog = std::log(settings.qmax / settings.qmin) / settings.intervals;
  table.qmin = settings.qmin;
  table.dt = dt_minutes;
  table.subintervals = settings.subintervals;
  const size_t size = static_cast<size_t>(n) + 2;
  for (std::vector<double>* column : {&table.q_ls, &table.q_mm, &table.Q, &table.v, &table.vm, &table.vf,
                                      &table.t, &table.Rm, &table.Rf, &table.dm, &table.df, &table.share})
    column->assign(size, 0.0);
  table.delay.assign(size, 0);

  const double depth = channel.depth_main;
  const double bm = channel.width_main;
  const double bf = channel.width_flood;
  double x = std::log(settings.qmax) + table.dlog;
  double vm = kStartVelocity;  // carried from class to class as the next start
  for (int j = table.classes; j >= 1; --j) {
    x -= table.dlog;
    const double q_ls = std::exp(x);
    const double discharge = q_ls / kLitresPerCubicMetre * channel.area / area_divisor;
    table.q_ls[j] = q_ls;
    table.q_mm[j] = q_ls * kSpecificDischargeToMmPerHour * dt_minutes / kMinutesPerHour;
    table.Q[j] = discharge;

    double qm = discharge;
    double qf = 0.0;
    double vf = 0.0;
    double df = 0.0;
    double rf = 0.0;
    manning_result main = ManningVelocity(qm, bm, vm, channel.manning_main, channel.slope_root);
    double dm = main.depth;
    double rm = main.hydraulic_radius;
    vm = main.velocity;
    if (dm > depth) {
      // Water above the bank spreads onto the flood plain until both levels agree.
      vf = vm;
      for (int i = 0; i < kLevelIterations && std::fabs(dm - df - depth) > kLevelTolerance; ++i) {
        const double level = (df + dm + depth) * 0.5;
        const double old_dm = dm;
        dm = level;
        df = level - depth;
        if (old_dm > level) {
          const double dq = std::min((old_dm - level) * bm * vm, (old_dm - level) * bf * vf);
          qm -= dq;
          qf += dq;
        } else {
          const double dq = std::min(bm * (level - old_dm) * vm, bf * (level - old_dm) * vf);
          qm += dq;
          qf -= dq;
        }
        main = ManningVelocity(qm, bm, vm, channel.manning_main, channel.slope_root);
        dm = main.depth;
        rm = main.hydraulic_radius;
        vm = main.velocity;
        const manning_result flood = ManningVelocity(qf, bf, vf, channel.manning_flood, channel.slope_root);
        df = flood.depth;
        rf = flood.hydraulic_radius;
        vf = flood.velocity;
      }
    }
    const double total = qm + qf;
    table.vm[j] = vm;
    table.vf[j] = vf;
    table.v[j] = qm / total * vm + qf / total * vf;
    table.Rm[j] = rm;
    table.Rf[j] = rf;
    table.dm[j] = dm;
    table.df[j] = df;
    table.share[j] = qf / (qf + qm);
    table.t[j] = channel.length / table.v[j] / kSecondsPerHour;
  }

  // A table value that is no finite positive number (a qmin so small that
  // qmax/qmin overflows, a channel value of inf or nan) would make delays of
  // no size at all.
  const auto usable = [](double value) { return std::isfinite(value) && value > 0.0; };
  bool finite = std::isfinite(table.dlog);
  for (int j = 1; j <= table.classes && finite; ++j)
    finite = usable(table.q_ls[j]) && usable(table.q_mm[j]) && usable(table.Q[j]) && usable(table.v[j]) &&
             usable(table.t[j]);
  if (!finite) {
    table.oversized = true;
    return table;
  }

  table.class_bounds.resize(static_cast<size_t>(n));
  for (int j = 1; j <= n; ++j)
    table.class_bounds[static_cast<size_t>(j) - 1] = settings.qmin * std::exp(j * table.dlog);

  const int sub_channels = SubChannelCount(table.t[1], table.t[table.classes], dt_minutes);
  const double s = settings.subintervals;
  double max_delay = 0.0;
  for (int j = 1; j <= table.classes; ++j)
    max_delay = std::max(max_delay, std::trunc(table.t[j] / sub_channels / dt_minutes * kMinutesPerHour * s));
  if (!((s + max_delay) * sub_channels + s <= kMaxStorageElements)) {
    table.oversized = true;
    return table;
  }
  table.sub_channels = sub_channels;
  for (int j = 1; j <= table.classes; ++j)
    table.delay[j] = static_cast<int>(table.t[j] / sub_channels / dt_minutes * kMinutesPerHour * s);
  table.max_delay = static_cast<int>(max_delay);
  table.storage_elements = (settings.subintervals + table.max_delay) * sub_channels;
  return table;
}

namespace {

// The class by the formula itself.
int ClassByLogarithm(const wq_table& table, double specific) {
  const double index = std::ceil(std::log(specific / table.qmin) / table.dlog);
  return static_cast<int>(std::clamp(index, 1.0, static_cast<double>(table.classes)));
}

}  // namespace

int ClassIndex(const wq_table& table, double depth) {
  if (!(table.dlog > 0.0)) return 1;
  const double specific = std::max(kSmallestSpecificDischarge, kDepthToSpecificDischarge / table.dt * depth);
  const std::vector<double>& bounds = table.class_bounds;
  if (bounds.empty()) return ClassByLogarithm(table, specific);
  // The class is that of the first upper end at or above the discharge. Only
  // next to an end can the rounding of the formula place it in the other
  // class; there the formula decides.
  const size_t above =
      static_cast<size_t>(std::lower_bound(bounds.begin(), bounds.end(), specific) - bounds.begin());
  const bool near_end = (above < bounds.size() && specific >= bounds[above] * (1.0 - kClassBoundMargin)) ||
                        (above > 0 && specific <= bounds[above - 1] * (1.0 + kClassBoundMargin));
  return near_end ? ClassByLogarithm(table, specific) : static_cast<int>(above) + 1;
}

double RecessionFactor(double storage_constant) { return std::exp(-1.0 / storage_constant); }

double StorageConstant(double recession_factor) {
  if (recession_factor <= 0.0) return -9999.0;
  if (recession_factor == 1.0) return 0.0;
  return -1.0 / std::log(recession_factor);
}

}  // namespace velmo
