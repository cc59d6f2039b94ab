// The interpolation step: the current record onto the result grid, by
// method, then scaling, limits, scenarios, the scaling grid and the zone
// statistics; and the value of the current record at one point.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <numeric>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/zonalstat.h"
#include "meteo/meteoint.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

constexpr const char* kRegionsName = "MPIRegions";
constexpr const char* kHelperName = "MPIHelper";
constexpr int kProgressNameWidth = 20;
// Region of the cells this process computes.
constexpr double kOwnRegion = 0.0;

// What a step does to the active cells.
enum step_kind {
  kKeepPrevious,
  kFillEqual,
  kIdwStep,
  kThiessenStep,
  kLapseRateStep,
  kGridStep,
  kRegressionStep,     // methods 2 and 10
  kRegressionIdwStep,  // methods 3 and 11
  kBilinearStep,       // methods 5 and 6
  kSplineStep,         // methods 7 and 8
};

// The warnings of cells without a station in reach: method 1, and the
// regression methods that mix in distance weighting.
constexpr const char* kIdwWarning = "WARNING:  at x=";
constexpr const char* kMixedWarning = "WARNING: at x=";

std::string DateText(const model_date& d) {
  return std::to_string(d.day) + "." + std::to_string(d.month) + "." + std::to_string(d.year) + " " +
         std::to_string(d.hour) + ":" + std::to_string(d.minute);
}

}  // namespace

int meteointerpol::InterpolateStep(int minute, int hour, int day, int month, int year) {
  const model_date pass{minute, hour, day, month, year};
  CheckStepDate(pass);
  current_date = pass;
  if (first_step) {
    mpi_regions_data = OptionalGridData(kRegionsName, true);
    const int helper = FindGrid(kHelperName, true);
    mpi_helper_data = helper > 0 ? (*grids)[helper].data : nullptr;
    BuildActiveCells();
    first_step = false;
  }
  WriteProgressLine();
  UpdateScenarios();
  if (section.method == kGridListMethod) ReadListedGrid();
  if (statistics) statistics->StartStep();

  int kind = kGridStep;
  double equal_value = 0.0;
  regression_usable = !IsRegressionMissing(regression, section.nodata);
  if (section.method == kRegressionMethod || section.method == kStationRegressionMethod) {
    // A missing regression leaves every cell as it was.
    kind = regression_usable ? kRegressionStep : kKeepPrevious;
  } else if (section.method != kGridListMethod) {
    const station_file& file = files[0];
    const double nodata = section.nodata;
    const auto first_valid = std::find_if(file.values.begin() + 1, file.values.end(),
                                          [nodata](double v) { return IsValidValue(v, nodata); });
    if (first_valid == file.values.end()) {
      kind = kKeepPrevious;
    } else if (file.all_valid_equal && section.method != kLapseRateMethod) {
      kind = kFillEqual;
      equal_value = *first_valid;
    } else {
      switch (section.method) {
        case kIdwMethod:
          kind = kIdwStep;
          break;
        case kThiessenMethod:
          kind = kThiessenStep;
          break;
        case kIdwRegressionMethod:
        case kIdwStationRegressionMethod:
          kind = kRegressionIdwStep;
          break;
        case kBilinearMethod:
        case kBilinearGradientMethod:
          kind = kBilinearStep;
          break;
        case kSplineMethod:
        case kSplineGradientMethod:
          kind = kSplineStep;
          break;
        default:
          kind = kLapseRateStep;
          break;
      }
    }
  }
  if (kind == kBilinearStep) PrepareSquares();
  if (kind == kSplineStep) RunSplines();
  if (kind == kIdwStep || kind == kRegressionIdwStep) {
    if (!weight_cache_checked) BuildWeightCache();
    const station_file& file = files[0];
    step_values.resize(static_cast<size_t>(file.count));
    step_mask.resize(static_cast<size_t>(file.count));
    step_all_valid = true;
    for (int i = 1; i <= file.count; ++i) {
      const bool valid = IsValidValue(file.values[i], section.nodata);
      step_values[static_cast<size_t>(i) - 1] = valid ? file.values[i] : 0.0;
      step_mask[static_cast<size_t>(i) - 1] = valid ? 1.0 : 0.0;
      step_all_valid = step_all_valid && valid;
    }
  }
  if ((kind == kThiessenStep || kind == kLapseRateStep) && nearest_depth == 0)
    BuildNearestCache(kind == kThiessenStep);

  for (int r = first_row; r <= last_row; ++r) StepRow(r, kind, equal_value);
  return statistics ? statistics->EndStep(record_date.year, record_date.month, record_date.day,
                                          record_date.hour, record_date.minute, 1)
                    : 0;
}

void meteointerpol::CheckStepDate(const model_date& pass) const {
  const model_date& d = record_date;
  if (d.minute == pass.minute && d.hour == pass.hour && d.day == pass.day && d.month == pass.month &&
      d.year == pass.year)
    return;
  RaiseFatal(
      messages,
      "FATAL: -----------------------------------------------------------------------------\nerror in date "
      "columns of " +
          name + "\n\nfirst Meteo data set (this is the set from which data is get:\n" + DateText(pass) +
          " h\n\nbut in " + name + ":\n" + DateText(d) +
          " h\n\n-----------------------------------------------------------------------------\n",
      kStepDateCode);
}

void meteointerpol::WriteProgressLine() const {
  const model_date& d = record_date;
  if (!InterpolatorProgressDue(message_interval, interval_end_shift, d.minute, d.hour)) return;
  *messages << std::setw(kProgressNameWidth) << name << " " << d.day << "." << d.month << "." << d.year << " "
            << d.hour;
  if (time_step >= kMinutesPerHour) {
    *messages << ". h ";
  } else {
    *messages << ":" << d.minute << " h ";
  }
  if (section.scenario_use == 1) *messages << "using scenarios!";
  *messages << "[end-entry]";
}

void meteointerpol::UpdateScenarios() {
  if (section.scenario_use != 1) return;
  if (IsGridScenario(section.scenario_method)) {
    if (record_date.month == scenario_month) return;
    ReleaseScenarioGrid();
    RegisterScenarioGrid(record_date.month);
    return;
  }
  for (scenario_row& row : section.scenario_rows)
    row.day_value = ScenarioDayValue(row, record_date.day, record_date.month);
}

void meteointerpol::ReadListedGrid() {
  // The grid reader ignores Ctrl-C while it reads and re-arms the handler.
  double** grid = result.get();
  if (current_grid_name != kNoGridName) {
    ReadGrid(current_grid_name, grid, 0, false, false, 0.0, false);
    last_valid_grid_name = current_grid_name;
  } else if (!last_valid_grid_name.empty()) {
    ReadGrid(last_valid_grid_name, grid, 0, false, false, 0.0, false);
  } else {
    RaiseFatal(
        messages,
        "FATAL: interpolation method 9 (read from grid) no valid grid name was found (-9999 as input) and "
        "no last valid grid name present (i.e., simulation starts, when input list file contains -9999 "
        "only)",
        kNoGridNameCode);
  }
}

// ---------------------------------------------------------------- what the run does not change

void meteointerpol::BuildActiveCells() {
  auto built = std::make_shared<interpolated_cells>();
  interpolated_cells& lists = *built;
  const int rows = last_row - first_row + 1;
  lists.first_row = first_row;
  lists.active_begin.assign(static_cast<size_t>(std::max(rows, 0)) + 1, 0);
  lists.inactive_begin.assign(static_cast<size_t>(std::max(rows, 0)) + 1, 0);
  for (int r = first_row; r <= last_row; ++r) {
    const size_t at = static_cast<size_t>(r - first_row);
    lists.active_begin[at] = static_cast<int>(lists.active_cols.size());
    lists.inactive_begin[at] = static_cast<int>(lists.inactive_cols.size());
    for (int c = row_ranges[r].first; c <= row_ranges[r].last; ++c) {
      const bool outside =
          zone_grid[r][c] == nodata_value || (mpi_regions_data && mpi_regions_data[r][c] != kOwnRegion);
      (outside ? lists.inactive_cols : lists.active_cols).push_back(c);
    }
  }
  lists.active_begin.back() = static_cast<int>(lists.active_cols.size());
  lists.inactive_begin.back() = static_cast<int>(lists.inactive_cols.size());
  cells = std::move(built);
  if (!shared_pool) return;
  for (const std::weak_ptr<const interpolated_cells>& offered : shared_pool->cells) {
    std::shared_ptr<const interpolated_cells> same = offered.lock();
    if (!same || *same != *cells) continue;
    cells = std::move(same);
    return;
  }
  shared_pool->cells.push_back(cells);
}

void meteointerpol::BuildWeightCache() {
  const station_file& file = files[0];
  const size_t n = static_cast<size_t>(file.count);
  const size_t cell_count = cells->active_cols.size();
  const long long bytes = static_cast<long long>(cell_count) * static_cast<long long>(n + 1) *
                          static_cast<long long>(sizeof(double));
  weight_cache_checked = true;
  weights_cached = bytes <= kWeightCacheBudgetBytes;
  if (!weights_cached) return;
  const bool anisotropic = section.anisotropy_ratio < 1.0;
  const station_arrays s = anisotropic ? file.RotatedArrays() : file.Arrays();
  idw_weight_cache::inputs from{cells,
                                std::vector<double>(s.x + 1, s.x + 1 + n),
                                std::vector<double>(s.y + 1, s.y + 1 + n),
                                weighting_x,
                                weighting_y,
                                section.anisotropy_ratio,
                                weight_code,
                                section.idw_weight,
                                section.max_distance};
  if (shared_pool) {
    for (const std::weak_ptr<const idw_weight_cache>& offered : shared_pool->weights) {
      std::shared_ptr<const idw_weight_cache> cache = offered.lock();
      if (!cache || cache->from != from) continue;
      weight_cache = std::move(cache);
      return;
    }
  }
  auto cache = std::make_shared<idw_weight_cache>();
  cache->from = std::move(from);
  cache->weights.assign(cell_count * n, 0.0);
  cache->sums.assign(cell_count, 0.0);
  for (int r = first_row; r <= last_row; ++r) {
    const size_t row = static_cast<size_t>(r - first_row);
    const size_t begin = static_cast<size_t>(cells->active_begin[row]);
    const size_t m = static_cast<size_t>(cells->active_begin[row + 1]) - begin;
    double* block = cache->weights.data() + begin * n;
    for (size_t k = 0; k < m; ++k) {
      const int c = cells->active_cols[begin + k];
      const double x = weighting_x[r][c];
      const double y = weighting_y[r][c];
      double sum = 0.0;
      for (size_t i = 0; i < n; ++i) {
        const int station = static_cast<int>(i) + 1;
        const double d2 = anisotropic ? AnisotropicSquaredDistance(s.x[station], s.y[station], x, y,
                                                                   section.anisotropy_ratio)
                                      : SquaredDistance(s.x[station], s.y[station], x, y);
        const double w = InverseDistanceWeight(d2, weight_code, section.idw_weight, section.max_distance);
        block[i * m + k] = w;
        sum += w;
      }
      cache->sums[begin + k] = sum;
    }
  }
  weight_cache = cache;
  if (shared_pool) shared_pool->weights.push_back(weight_cache);
}

void meteointerpol::BuildNearestCache(bool later_wins) {
  const station_file& file = files[0];
  const int n = file.count;
  const size_t cell_count = cells->active_cols.size();
  nearest_depth = std::min(n, kNearestStationsKept);
  nearest_stations.assign(cell_count * static_cast<size_t>(nearest_depth), 0);
  std::vector<int> order(static_cast<size_t>(n));
  std::vector<double> d2(static_cast<size_t>(n) + 1);
  for (int r = first_row; r <= last_row; ++r) {
    const size_t row = static_cast<size_t>(r - first_row);
    for (size_t cell = static_cast<size_t>(cells->active_begin[row]);
         cell < static_cast<size_t>(cells->active_begin[row + 1]); ++cell) {
      const int c = cells->active_cols[cell];
      for (int i = 1; i <= n; ++i)
        d2[static_cast<size_t>(i)] = SquaredDistance(file.x[i], file.y[i], coord_x[r][c], coord_y[r][c]);
      std::iota(order.begin(), order.end(), 1);
      // Nearest first; at equal distance the later station first for
      // Thiessen, the earlier one for the lapse-rate method.
      std::partial_sort(order.begin(), order.begin() + nearest_depth, order.end(), [&](int a, int b) {
        const double da = d2[static_cast<size_t>(a)];
        const double db = d2[static_cast<size_t>(b)];
        if (da != db) return da < db;
        return later_wins ? a > b : a < b;
      });
      for (int rank = 0; rank < nearest_depth; ++rank) {
        const int station = order[static_cast<size_t>(rank)];
        if (later_wins && d2[static_cast<size_t>(station)] > kThiessenFarthest) break;
        nearest_stations[static_cast<size_t>(rank) * cell_count + cell] = station;
      }
    }
  }
}

// ---------------------------------------------------------------- rows

void meteointerpol::StepRow(int r, int kind, double equal_value) {
  const size_t row = static_cast<size_t>(r - first_row);
  double* out = result[r];
  for (int k = cells->inactive_begin[row]; k < cells->inactive_begin[row + 1]; ++k)
    out[cells->inactive_cols[static_cast<size_t>(k)]] = nodata_value;
  // The method's values of the row's active cells go to row_values first, so
  // that the grid row is written once, adjusted.
  const int begin = cells->active_begin[row];
  const int count = cells->active_begin[row + 1] - begin;
  row_values.resize(static_cast<size_t>(count));
  switch (kind) {
    case kKeepPrevious:
      break;
    case kFillEqual:
      std::fill(row_values.begin(), row_values.end(), equal_value);
      break;
    case kIdwStep:
      IdwRow(r, kIdwWarning);
      break;
    case kRegressionStep:
      RegressionRow(r, row_values.data());
      break;
    case kRegressionIdwStep:
      RegressionIdwRow(r);
      break;
    case kBilinearStep:
      BilinearRow(r);
      break;
    case kSplineStep:
      SplineRow(r);
      break;
    case kThiessenStep:
      NearestRow(r, false);
      break;
    case kLapseRateStep:
      NearestRow(r, true);
      break;
    case kGridStep:
      for (int k = 0; k < count; ++k)
        row_values[static_cast<size_t>(k)] = out[cells->active_cols[static_cast<size_t>(begin + k)]];
      break;
  }
  // A cell without a valid station value keeps its value of the step before,
  // unadjusted.
  if (kind != kKeepPrevious) StoreRow(r);
  if (statistics && statistics->IsOn()) CountRow(r);
}

void meteointerpol::IdwRow(int r, const char* warning) {
  const size_t row = static_cast<size_t>(r - first_row);
  const size_t begin = static_cast<size_t>(cells->active_begin[row]);
  const size_t m = static_cast<size_t>(cells->active_begin[row + 1]) - begin;
  const int* cols = cells->active_cols.data() + begin;
  double* __restrict values = row_values.data();
  const double missing = MissingResult(section.nodata);
  const station_file& file = files[0];

  if (weights_cached) {
    const size_t n = static_cast<size_t>(file.count);
    row_numerator.assign(m, 0.0);
    double* __restrict numerator = row_numerator.data();
    const double* block = weight_cache->weights.data() + begin * n;
    // Each cell's sums run over its stations in station order, exactly as
    // the direct computation; a missing value weighs 0 and adds 0.
    const double* denominator = weight_cache->sums.data() + begin;
    if (step_all_valid) {
      // Four stations per pass over the row, still added in station order.
      size_t i = 0;
      for (; i + 4 <= n; i += 4) {
        const double v0 = step_values[i], v1 = step_values[i + 1], v2 = step_values[i + 2],
                     v3 = step_values[i + 3];
        const double* __restrict w0 = block + i * m;
        const double* __restrict w1 = w0 + m;
        const double* __restrict w2 = w1 + m;
        const double* __restrict w3 = w2 + m;
        for (size_t k = 0; k < m; ++k)
          numerator[k] = numerator[k] + w0[k] * v0 + w1[k] * v1 + w2[k] * v2 + w3[k] * v3;
      }
      for (; i < n; ++i) {
        const double v = step_values[i];
        const double* __restrict w = block + i * m;
        for (size_t k = 0; k < m; ++k) numerator[k] += w[k] * v;
      }
    } else {
      row_denominator.assign(m, 0.0);
      double* __restrict sums = row_denominator.data();
      size_t i = 0;
      for (; i + 2 <= n; i += 2) {
        const double v0 = step_values[i], v1 = step_values[i + 1];
        const double valid0 = step_mask[i], valid1 = step_mask[i + 1];
        const double* __restrict w0 = block + i * m;
        const double* __restrict w1 = w0 + m;
        for (size_t k = 0; k < m; ++k) {
          numerator[k] = numerator[k] + w0[k] * v0 + w1[k] * v1;
          sums[k] = sums[k] + w0[k] * valid0 + w1[k] * valid1;
        }
      }
      for (; i < n; ++i) {
        const double v = step_values[i];
        const double valid = step_mask[i];
        const double* __restrict w = block + i * m;
        for (size_t k = 0; k < m; ++k) {
          numerator[k] += w[k] * v;
          sums[k] += w[k] * valid;
        }
      }
      denominator = sums;
    }
    for (size_t k = 0; k < m; ++k)
      values[k] = denominator[k] == 0.0 ? missing : numerator[k] / denominator[k];
  } else {
    const bool anisotropic = section.anisotropy_ratio < 1.0;
    const station_arrays s = anisotropic ? file.RotatedArrays() : file.Arrays();
    for (size_t k = 0; k < m; ++k) {
      const int c = cols[k];
      const double x = weighting_x[r][c];
      const double y = weighting_y[r][c];
      values[k] = anisotropic ? velmo::AnisotropicInverseDistance(s, x, y, section.anisotropy_ratio,
                                                                  weight_code, section.idw_weight,
                                                                  section.max_distance, section.nodata)
                              : velmo::InverseDistance(s, x, y, weight_code, section.idw_weight,
                                                       section.max_distance, section.nodata);
    }
  }
  if (station_warning == 0) return;
  for (size_t k = 0; k < m; ++k) {
    const int c = cols[k];
    if (IsValidValue(values[k], section.nodata)) continue;
    *messages << warning << weighting_x[r][c] << ", y=" << weighting_y[r][c] << " "
              << "no station within the specified search radius!"
              << "[end-entry]";
  }
}

void meteointerpol::RegressionRow(int r, double* __restrict values) {
  const size_t row = static_cast<size_t>(r - first_row);
  const size_t begin = static_cast<size_t>(cells->active_begin[row]);
  const size_t m = static_cast<size_t>(cells->active_begin[row + 1]) - begin;
  const int* cols = cells->active_cols.data() + begin;
  const station_regression& g = regression;
  const double h1 = g.h1, h2 = g.h2;
  const double a1 = g.a[1], a2 = g.a[2], a3 = g.a[3];
  const double b1 = g.b[1], b2 = g.b[2], b3 = g.b[3];
  // The segment by altitude, chosen without branches: altitudes jump
  // between valleys and ridges from cell to cell.
  auto segment = [=](double z) {
    const double a = z > h2 ? a3 : (z < h1 ? a1 : a2);
    const double b = z > h2 ? b3 : (z < h1 ? b1 : b2);
    return a + b * z;
  };
  // Rows whose active cells are one run are read straight along.
  const bool run = m > 0 && static_cast<size_t>(cols[m - 1] - cols[0]) == m - 1;
  if (run) {
    const double* __restrict z = elevation[r] + cols[0];
    for (size_t k = 0; k < m; ++k) values[k] = segment(z[k]);
  } else {
    const double* __restrict z = elevation[r];
    for (size_t k = 0; k < m; ++k) values[k] = segment(z[cols[k]]);
  }
  if (!HasTrend(g, section.nodata)) return;
  // The trend plane carries a1; a cell without coordinates has none.
  const double e = g.e - a1, f = g.f, gy = g.g;
  const double nodata = nodata_value;
  auto trend = [=](double x, double y) { return x != nodata && y != nodata ? e + f * x + gy * y : 0.0; };
  if (located_rows.empty()) FindLocatedRows();
  if (run && located_rows[row]) {
    const double* __restrict x = coord_x[r] + cols[0];
    const double* __restrict y = coord_y[r] + cols[0];
    for (size_t k = 0; k < m; ++k) values[k] += e + f * x[k] + gy * y[k];
  } else {
    const double* __restrict x = coord_x[r];
    const double* __restrict y = coord_y[r];
    for (size_t k = 0; k < m; ++k) values[k] += trend(x[cols[k]], y[cols[k]]);
  }
}

void meteointerpol::FindLocatedRows() {
  located_rows.assign(cells->active_begin.size(), 1);
  for (int r = first_row; r <= last_row; ++r) {
    const size_t row = static_cast<size_t>(r - first_row);
    for (int k = cells->active_begin[row]; k < cells->active_begin[row + 1]; ++k) {
      const int c = cells->active_cols[static_cast<size_t>(k)];
      if (coord_x[r][c] == nodata_value || coord_y[r][c] == nodata_value) located_rows[row] = 0;
    }
  }
}

void meteointerpol::RegressionIdwRow(int r) {
  // The distance weighting first (with its warnings), then mixed with the
  // regression where both have a value.
  IdwRow(r, kMixedWarning);
  if (!regression_usable) return;
  row_regression.resize(row_values.size());
  RegressionRow(r, row_regression.data());
  double* __restrict values = row_values.data();
  const double* __restrict from_regression = row_regression.data();
  const double f = section.idw_fraction;
  const double lowest_valid = -section.nodata;
  for (size_t k = 0; k < row_values.size(); ++k) {
    const double from_stations = values[k];
    values[k] = from_stations >= lowest_valid ? (1.0 - f) * from_regression[k] + f * from_stations
                                              : from_regression[k];
  }
}

void meteointerpol::BilinearRow(int r) {
  const size_t row = static_cast<size_t>(r - first_row);
  const size_t begin = static_cast<size_t>(cells->active_begin[row]);
  const size_t m = static_cast<size_t>(cells->active_begin[row + 1]) - begin;
  const int* cols = cells->active_cols.data() + begin;
  double* __restrict values = row_values.data();
  const int* keys = corner_keys.data() + row * static_cast<size_t>(ncols) - 1;
  const double* x = weighting_x[r];
  const double* y = weighting_y[r];
  const bilinear_square* first = squares[0].data();
  auto at = [&](int file, const bilinear_square& q, int c) {
    return q.usable
               ? BilinearValue(q, x[c], y[c])
               : velmo::AnisotropicInverseDistance(files[static_cast<size_t>(file)].RotatedArrays(), x[c],
                                                   y[c], section.anisotropy_ratio, weight_code,
                                                   section.idw_weight, section.max_distance, section.nodata);
  };
  if (section.method == kBilinearMethod) {
    for (size_t k = 0; k < m; ++k) {
      const int c = cols[k];
      values[k] = at(0, first[keys[c]], c);
    }
    return;
  }
  // The first file's value plus the second's times the elevation; a part
  // without value leaves the cell without one.
  const bilinear_square* second = squares[1].data();
  const double missing = MissingResult(section.nodata);
  const double* z = elevation[r];
  for (size_t k = 0; k < m; ++k) {
    const int c = cols[k];
    const double part1 = at(0, first[keys[c]], c);
    const double part2 = at(1, second[keys[c]], c);
    values[k] = IsValidValue(part1, section.nodata) && IsValidValue(part2, section.nodata)
                    ? part1 + part2 * z[c]
                    : missing;
  }
}

void meteointerpol::SplineRow(int r) {
  const size_t row = static_cast<size_t>(r - first_row);
  const size_t begin = static_cast<size_t>(cells->active_begin[row]);
  const size_t m = static_cast<size_t>(cells->active_begin[row + 1]) - begin;
  const int* cols = cells->active_cols.data() + begin;
  double* __restrict values = row_values.data();
  const double* first = result[r];
  const double* second = second_spline_grid ? second_spline_grid[r] : nullptr;
  const double* z = elevation[r];
  for (size_t k = 0; k < m; ++k) {
    const int c = cols[k];
    const bool missing = first[c] == nodata_value || (second && second[c] == nodata_value);
    if (missing)
      values[k] = CellInverseDistance(0, weighting_x[r][c], weighting_y[r][c]);
    else
      values[k] = second ? first[c] + z[c] * second[c] : first[c];
  }
}

void meteointerpol::NearestRow(int r, bool lapse) {
  const size_t row = static_cast<size_t>(r - first_row);
  const size_t cell_count = cells->active_cols.size();
  const station_file& file = files[0];
  const station_arrays s = file.Arrays();
  const double* values = file.values.data();
  const double nodata = section.nodata;
  const bool inversion = section.upper_lapse_rate > kNoInversionBelow;
  const double height = inversion ? section.inversion_height : kNoInversion;
  const double upper = inversion ? section.upper_lapse_rate : kNoInversion;
  const size_t begin = static_cast<size_t>(cells->active_begin[row]);
  double* cell_values = row_values.data();
  for (size_t cell = static_cast<size_t>(cells->active_begin[row]);
       cell < static_cast<size_t>(cells->active_begin[row + 1]); ++cell) {
    const int c = cells->active_cols[cell];
    int nearest = 0;
    for (int rank = 0; rank < nearest_depth; ++rank) {
      const int station = nearest_stations[static_cast<size_t>(rank) * cell_count + cell];
      if (station == 0) break;
      if (IsValidValue(values[station], nodata)) {
        nearest = station;
        break;
      }
    }
    if (!lapse) {
      cell_values[cell - begin] =
          nearest != 0 ? values[nearest] : velmo::Thiessen(s, coord_x[r][c], coord_y[r][c], nodata);
    } else if (nearest == 0) {
      cell_values[cell - begin] =
          velmo::ThiessenLapseRate(s, coord_x[r][c], coord_y[r][c], elevation[r][c], section.lapse_rate,
                                   height, upper, section.p_type, nodata);
    } else {
      const double v = values[nearest];
      cell_values[cell - begin] =
          section.p_type && v == 0.0
              ? 0.0
              : LapseRateValue(v, file.altitude[nearest], elevation[r][c], section.lapse_rate, height, upper);
    }
  }
}

double meteointerpol::AdjustValue(double value, int r, int c, double x, double y) {
  // A missing result is never scaled or changed by scenarios: only the
  // limits apply, so the marker never turns into a fake value.
  if (!IsValidValue(value, section.nodata)) return ApplyLimits(value, section.limits);
  value = ApplyLimits(value * section.scaling_factor, section.limits);
  if (section.scenario_use == 1)
    value = ApplyScenario(value, ScenarioValue(r, c, x, y), section.scenario_method);
  if (scaling_grid) value *= scaling_grid[r][c];
  return value;
}

void meteointerpol::StoreRow(int r) {
  const size_t row = static_cast<size_t>(r - first_row);
  double* out = result[r];
  const int* cols = cells->active_cols.data() + cells->active_begin[row];
  const int count = cells->active_begin[row + 1] - cells->active_begin[row];
  const double* values = row_values.data();
  if (section.scenario_use != 1 && !scaling_grid) {
    // Scaling and limits alone: the common case, kept free of calls.
    const double lowest_valid = -section.nodata;
    const double factor = section.scaling_factor;
    const result_limits limits = section.limits;
    for (int k = 0; k < count; ++k) {
      const double v = values[k];
      out[cols[k]] = ApplyLimits(v >= lowest_valid ? v * factor : v, limits);
    }
    return;
  }
  for (int k = 0; k < count; ++k) {
    const int c = cols[k];
    out[c] = AdjustValue(values[k], r, c, coord_x[r][c], coord_y[r][c]);
  }
}

// Every cell of the zone means weighs 1.
void meteointerpol::CountRow(int r) {
  const size_t row = static_cast<size_t>(r - first_row);
  const double* out = result[r];
  const int* cols = cells->active_cols.data();
  if (active_zones.size() != cells->active_cols.size()) FindActiveZones();
  const int* zones = active_zones.data();
  const double missing = section.nodata;
  // The cells are walked by their index k among the active cells, so that
  // a cell's zone is one look-up; the table takes each cell's column.
  statistics->AddCells(
      r, cells->active_begin[row], cells->active_begin[row + 1],
      // A cell still missing after the limits stays out of the zone means.
      [&](int k) { return IsValidValue(out[cols[k]], missing) ? zones[k] : -1; },
      [out, cols](int k) { return out[cols[k]]; }, [cols](int k) { return cols[k]; });
}

void meteointerpol::FindActiveZones() {
  active_zones.assign(cells->active_cols.size(), 0);
  if (!zone_code_map) return;
  for (int r = first_row; r <= last_row; ++r) {
    const size_t row = static_cast<size_t>(r - first_row);
    const double* zones = zone_grid[r];
    for (int k = cells->active_begin[row]; k < cells->active_begin[row + 1]; ++k)
      active_zones[static_cast<size_t>(k)] =
          zone_code_map[static_cast<int>(zones[cells->active_cols[static_cast<size_t>(k)]])];
  }
}

double meteointerpol::ScenarioValue(int r, int c, double x, double y) {
  const int method = section.scenario_method;
  if (IsGridScenario(method)) return scenario_grid ? scenario_grid[r][c] : ScenarioIdentity(method);
  if (section.scenario_rows.empty()) return ScenarioIdentity(method);
  return NearestScenarioValue(section.scenario_rows, x, y);
}

// ---------------------------------------------------------------- point operations

double meteointerpol::InverseDistance(int index, double x, double y, double* scratch) {
  return velmo::InverseDistance(files[static_cast<size_t>(index)].Arrays(), x, y, weight_code,
                                section.idw_weight, section.max_distance, section.nodata, scratch);
}

double meteointerpol::AnisotropicInverseDistance(int index, double x, double y, double* scratch) {
  return velmo::AnisotropicInverseDistance(files[static_cast<size_t>(index)].RotatedArrays(), x, y,
                                           section.anisotropy_ratio, weight_code, section.idw_weight,
                                           section.max_distance, section.nodata, scratch);
}

double meteointerpol::Thiessen(int index, double x, double y, double* scratch) {
  return velmo::Thiessen(files[static_cast<size_t>(index)].Arrays(), x, y, section.nodata, scratch);
}

double meteointerpol::ThiessenLapseRate(double x, double y, double z, double lapse_rate, double height,
                                        double upper) {
  return velmo::ThiessenLapseRate(files[0].Arrays(), x, y, z, lapse_rate, height, upper, section.p_type,
                                  section.nodata);
}

double meteointerpol::InterpolateAtPoint(double* scratch, double x, double y, double z) {
  if (section.scenario_use == 1 && !IsGridScenario(section.scenario_method))
    for (scenario_row& row : section.scenario_rows)
      row.day_value = ScenarioDayValue(row, record_date.day, record_date.month);

  // A point without location (x or y nodata) has no distance terms.
  const bool located = x != nodata_value && y != nodata_value;
  double px = x;
  double py = y;
  if (section.anisotropy_ratio < 1.0 && located)
    RotatePoint(x, y, xllcorner, yllcorner, section.anisotropy_slope, px, py);

  const int row = std::clamp(nrows - static_cast<int>(std::trunc((y - yllcorner) / cellsize)), 1, nrows);
  const int col = std::clamp(static_cast<int>(std::trunc((x - xllcorner) / cellsize)) + 1, 1, ncols);

  double value = MissingResult(section.nodata);
  const bool inversion = section.upper_lapse_rate > kNoInversionBelow;
  switch (section.method) {
    case kIdwMethod:
      value = section.anisotropy_ratio < 1.0 ? AnisotropicInverseDistance(0, px, py, scratch)
                                             : InverseDistance(0, px, py, scratch);
      break;
    case kThiessenMethod:
      value = Thiessen(0, x, y, scratch);
      break;
    case kRegressionMethod:
    case kStationRegressionMethod:
      value = RegressionValue(row, col, x, y, z);
      break;
    case kIdwRegressionMethod:
    case kIdwStationRegressionMethod: {
      const double from_regression = RegressionValue(row, col, x, y, z);
      if (!located) {
        value = from_regression;
        break;
      }
      const double from_stations = section.anisotropy_ratio < 1.0
                                       ? AnisotropicInverseDistance(0, px, py, scratch)
                                       : InverseDistance(0, px, py, scratch);
      if (!IsValidValue(from_regression, section.nodata))
        value = from_stations;
      else if (!IsValidValue(from_stations, section.nodata))
        value = from_regression;
      else
        value = (1.0 - section.idw_fraction) * from_regression + section.idw_fraction * from_stations;
      break;
    }
    case kBilinearMethod:
    case kBilinearGradientMethod: {
      // Without location, the point of its (clamped) cell.
      if (!located) WeightingPoint(row, col, px, py);
      value = Bilinear(0, row, col, px, py, scratch);
      if (section.method == kBilinearGradientMethod) {
        const double part2 = Bilinear(1, row, col, px, py, scratch);
        value = IsValidValue(value, section.nodata) && IsValidValue(part2, section.nodata)
                    ? value + part2 * z
                    : MissingResult(section.nodata);
      }
      break;
    }
    case kSplineMethod:
    case kSplineGradientMethod: {
      // The nearest station to the point's cell, in the stations' own frame.
      double cx = coord_x[row][col];
      double cy = coord_y[row][col];
      if (cx == nodata_value || cy == nodata_value) {
        cx = xllcorner + (col - 1) * cellsize;
        cy = yllcorner + (nrows - row) * cellsize;
      }
      value = Thiessen(0, cx, cy, scratch);
      break;
    }
    case kGridListMethod:
      value = result[row][col];
      break;
    case kLapseRateMethod:
      value =
          ThiessenLapseRate(x, y, z, section.lapse_rate, inversion ? section.inversion_height : kNoInversion,
                            inversion ? section.upper_lapse_rate : kNoInversion);
      break;
    default:
      break;
  }
  if (!IsValidValue(value, section.nodata)) return value;
  value = ApplyLimits(value * section.scaling_factor, section.limits);
  if (section.scenario_use == 1)
    value = ApplyScenario(value, ScenarioValue(row, col, x, y), section.scenario_method);
  return value;
}

}  // namespace velmo
