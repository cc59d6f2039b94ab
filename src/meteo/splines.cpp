// Cubic splines over station meshes: spline fits, the lattice and its window,
// both interpolation stages and the copy onto the model grid.
#include "meteo/splines.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numbers>
#include <sstream>

#include "framework/diagnostics.h"

namespace velmo {
namespace {

// Lattice rows round to the nearest point, with these offsets.
constexpr double kLatticeSizeRounding = 0.49999;
constexpr double kLatticeRowRounding = 0.4999;
// Most lattice rows or columns: more than any grid may have cells; the
// lattice is then refused as a failed allocation.
constexpr double kLargestLattice = 1e7;
constexpr int kLatticeSizeCode = 1;
// Lattice points this close to the first or last knot (relative to the
// lattice step) lie on it: the lattice bounds are the mesh's outermost knots,
// which a turned mesh holds only up to rounding.
constexpr double kOnKnot = 1e-6;
// Clamped end: the coefficient of the second derivative at that end.
constexpr double kClampedEnd = -0.5;

// `at` moved onto the first or last knot when it lies within `tolerance`
// outside them.
double OntoKnots(double at, double first, double last, double tolerance) {
  if (at < first && at >= first - tolerance) return first;
  if (at > last && at <= last + tolerance) return last;
  return at;
}

}  // namespace

int SplineSecondDerivatives(const double* x, const double* y, int lo, int hi, double slope_lo,
                            double slope_hi, double* y2, double* u) {
  for (int k = lo + 1; k <= hi; ++k) {
    if (x[k] == x[k - 1]) return k;
  }
  if (hi <= lo) {
    if (hi == lo) y2[lo] = 0.0;
    return 0;
  }
  if (slope_lo > kNaturalEndAbove) {
    y2[lo] = u[lo] = 0.0;
  } else {
    y2[lo] = kClampedEnd;
    u[lo] = (3.0 / (x[lo + 1] - x[lo])) * ((y[lo + 1] - y[lo]) / (x[lo + 1] - x[lo]) - slope_lo);
  }
  for (int i = lo + 1; i < hi; ++i) {
    const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
    const double p = sig * y2[i - 1] + 2.0;
    y2[i] = (sig - 1.0) / p;
    const double d = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
    u[i] = (6.0 * d / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
  }
  double qn = 0.0;
  double un = 0.0;
  if (slope_hi <= kNaturalEndAbove) {
    qn = -kClampedEnd;
    un = (3.0 / (x[hi] - x[hi - 1])) * (slope_hi - (y[hi] - y[hi - 1]) / (x[hi] - x[hi - 1]));
  }
  y2[hi] = (un - qn * u[hi - 1]) / (qn * y2[hi - 1] + 1.0);
  for (int k = hi - 1; k >= lo; --k) y2[k] = y2[k] * y2[k + 1] + u[k];
  return 0;
}

TSplines::TSplines(MessageStream* messages, double** mesh_x, double** mesh_y, double** cell_x,
                   double** cell_y, int n, int m, double corner_x, double corner_y, double dx, double dy,
                   double missing, const grid_header& domain, double angle, double scale, double** mask,
                   int first_row, int last_row)
    : memory_handling(messages),
      mesh_x_(mesh_x),
      mesh_y_(mesh_y),
      cell_x_(cell_x),
      cell_y_(cell_y),
      mask_(mask),
      n_(n),
      m_(m),
      corner_x_(corner_x),
      corner_y_(corner_y),
      dx_(dx),
      dy_(dy),
      missing_(missing),
      domain_(domain),
      angle_(angle),
      step_(domain.cellsize / scale),
      first_row_(first_row),
      last_row_(last_row) {
  name = "TSplines";
  // A y at or below the missing marker is taken as missing (Abscissa): in a
  // frame of such coordinates the mesh would be bent without a word.
  for (int i = 1; i <= n_ && messages; ++i) {
    for (int j = 1; j <= m_; ++j) {
      if (mesh_y_[i][j] > missing_) continue;
      *messages << "WARNING: the station at row " << i << ", column " << j
                << " of the spline mesh has y = " << mesh_y_[i][j] << ", at or below " << missing_
                << ": it counts as missing, and the splines place the station by the mesh spacing"
                << "[end-entry]";
    }
  }
  // Lattice bounds: the western column, the eastern column, the southern and
  // the northern row of the mesh.
  min_x_ = max_x_ = corner_x_;
  min_y_ = max_y_ = corner_y_;
  for (int i = 1; i <= n_; ++i) {
    min_x_ = std::min(min_x_, mesh_x_[i][1]);
    max_x_ = std::max(max_x_, mesh_x_[i][m_]);
  }
  for (int j = 1; j <= m_; ++j) {
    min_y_ = std::min(min_y_, mesh_y_[n_][j]);
    max_y_ = std::max(max_y_, mesh_y_[1][j]);
  }
  const double rows = std::trunc((max_y_ - min_y_) / step_ + kLatticeSizeRounding) + 1.0;
  const double cols = std::trunc((max_x_ - min_x_) / step_ + kLatticeSizeRounding) + 1.0;
  if (!(rows <= kLargestLattice && cols <= kLargestLattice)) {
    std::ostringstream text;
    text << "FATAL: the station mesh spans " << rows << " x " << cols << " lattice points of " << step_
         << " (mesh and cell coordinates in different units?)";
    RaiseFatal(messages, text.str(), kLatticeSizeCode);
  }
  lattice_rows_ = std::max(1, static_cast<int>(rows));
  lattice_cols_ = std::max(1, static_cast<int>(cols));

  FindSampleWindow();
  if (row_min_ <= row_max_) {
    window_cols_ = col_max_ - col_min_ + 1;
    const size_t points = static_cast<size_t>(row_max_ - row_min_ + 1) * static_cast<size_t>(window_cols_);
    flags_.assign(points, 0);
    samples_.assign(points, domain_.nodata_value);
  }
  MarkSamples();

  w_ = owned_matrix(matrix(0, lattice_rows_ + 1, 0, m_ + 1, lattice_rows_ + 1));
  ylat_ = owned_matrix(matrix(0, lattice_rows_ + 1, 0, m_ + 1, lattice_rows_ + 1));
  xlat_ = owned_matrix(matrix(0, lattice_rows_ + 1, 0, m_ + 1, lattice_rows_ + 1));
  const size_t longest = static_cast<size_t>(std::max(n_, m_)) + 2;
  col_x_.assign(longest, 0.0);
  col_y_.assign(longest, 0.0);
  col_y2_.assign(longest, 0.0);
  row_y2_.assign(longest, 0.0);
  work_.assign(longest, 0.0);
  cubics_.assign(longest, interval_cubic{});

  // Mesh point (n, 1) turned about the domain's lower-left corner: the
  // abscissa of a column point whose y is missing.
  const double ddx = corner_x_ - domain_.xllcorner;
  const double ddy = corner_y_ - domain_.yllcorner;
  const double distance = std::sqrt(ddx * ddx + ddy * ddy);
  const double direction =
      ddx == 0.0 ? (ddy > 0.0 ? std::numbers::pi / 2.0 : -std::numbers::pi / 2.0) : std::atan2(ddy, ddx);
  x0_ = domain_.xllcorner + distance * std::cos(direction - angle_);
  y0_ = domain_.yllcorner + distance * std::sin(direction - angle_);
}

bool TSplines::CellValid(int row, int col) const {
  const double limit = domain_.nodata_value + kMissingMargin;
  return cell_x_[row][col] > limit && cell_y_[row][col] > limit && (!mask_ || mask_[row][col] > limit);
}

bool TSplines::LatticePoint(int row, int col, int& r, int& c) const {
  // Rounded down, so that cells west and south of the mesh stay outside the
  // lattice; checked as doubles first, so that a cell far outside the mesh
  // cannot overflow.
  const double rr = lattice_rows_ - std::floor((cell_y_[row][col] - min_y_) / step_ + kLatticeRowRounding);
  const double cc = std::floor((cell_x_[row][col] - min_x_) / step_) + 1.0;
  if (!(rr >= 1.0 && rr <= lattice_rows_ && cc >= 1.0 && cc <= lattice_cols_)) return false;
  r = static_cast<int>(rr);
  c = static_cast<int>(cc);
  return true;
}

void TSplines::FindSampleWindow() {
  row_min_ = lattice_rows_;
  row_max_ = 1;
  col_min_ = lattice_cols_;
  col_max_ = 1;
  bool any = false;
  for (int row = first_row_; row <= last_row_; ++row) {
    for (int col = 1; col <= domain_.ncols; ++col) {
      int r = 0, c = 0;
      if (!CellValid(row, col) || !LatticePoint(row, col, r, c)) continue;
      any = true;
      row_min_ = std::min(row_min_, r);
      row_max_ = std::max(row_max_, r);
      col_min_ = std::min(col_min_, c);
      col_max_ = std::max(col_max_, c);
    }
  }
  if (!any) {
    row_min_ = col_min_ = 1;
    row_max_ = col_max_ = 0;
    return;
  }
  if (col_min_ > 1) --col_min_;
  if (col_max_ < lattice_cols_) ++col_max_;
  if (row_min_ > 1) --row_min_;
  if (row_max_ < lattice_rows_) ++row_max_;
}

void TSplines::MarkSamples() {
  const size_t cols = static_cast<size_t>(domain_.ncols);
  cell_sample_.assign(static_cast<size_t>(std::max(0, last_row_ - first_row_ + 1)) * cols, -1);
  for (int row = first_row_; row <= last_row_; ++row) {
    for (int col = 1; col <= domain_.ncols; ++col) {
      int r = 0, c = 0;
      if (!CellValid(row, col) || !LatticePoint(row, col, r, c) || !InWindow(r, c)) continue;
      const size_t index = WindowIndex(r, c);
      flags_[index] = 1;
      cell_sample_[static_cast<size_t>(row - first_row_) * cols + static_cast<size_t>(col - 1)] =
          static_cast<int>(index);
    }
  }
}

double TSplines::Abscissa(int mesh_row, int mesh_col) const {
  const double y = mesh_y_[mesh_row][mesh_col];
  return y <= missing_ ? y0_ + (n_ - mesh_row) * dy_ : y;
}

void TSplines::RaiseEqualAbscissae(const double* x, int k) {
  std::ostringstream text;
  text << "The two input coordinates " << x[k - 1] << " (index " << k - 1 << ") \n"
       << "and " << x[k] << " (index " << k << ") for the 1-D-Splineevaluation are the same!";
  std::cout << text.str() << std::endl;
  RaiseFatal(messages, "FATAL: " + text.str(), kEqualAbscissaeCode);
}

void TSplines::Spline(const double* x, const double* y, int lo, int hi, double slope_lo, double slope_hi,
                      double* y2) {
  const int equal = SplineSecondDerivatives(x, y, lo, hi, slope_lo, slope_hi, y2, work_.data());
  if (equal != 0) RaiseEqualAbscissae(x, equal);
}

void TSplines::PrepareColumns(double** values, double** y2) {
  if (n_ <= 1) return;
  const double threshold = missing_ + kMissingMargin;
  for (int c = 1; c <= m_; ++c) {
    for (int r = 1; r <= n_; ++r) {
      col_x_[static_cast<size_t>(r)] = Abscissa(r, c);
      col_y_[static_cast<size_t>(r)] = values[r][c];
    }
    int k = 1;
    while (k <= n_) {
      if (values[k][c] <= threshold) {
        y2[k][c] = domain_.nodata_value;
        ++k;
        continue;
      }
      int end = k;
      while (end < n_ && values[end + 1][c] > threshold) ++end;
      Spline(col_x_.data(), col_y_.data(), k, end, kNaturalEnd, kNaturalEnd, col_y2_.data());
      for (int r = k; r <= end; ++r) y2[r][c] = col_y2_[static_cast<size_t>(r)];
      k = end + 1;
    }
  }
}

void TSplines::ColumnStage(double** values, double** y2) {
  double** w = w_.get();
  double** ylat = ylat_.get();
  double** xlat = xlat_.get();
  double* xa = col_x_.data();
  double* ya = col_y_.data();
  double* y2a = col_y2_.data();
  for (int c = 1; c <= m_; ++c) {
    // Along the column with rising abscissae: position n - r + 1 holds row r.
    for (int r = 1; r <= n_; ++r) {
      const int k = n_ - r + 1;
      xa[k] = Abscissa(r, c);
      ya[k] = values[r][c];
      y2a[k] = y2[r][c];
    }
    xa[n_ + 1] = ya[n_ + 1] = y2a[n_ + 1] = missing_;
    int klo = 1;
    int p = 2;
    for (int s = 1; s <= lattice_rows_; ++s) {
      const double y = min_y_ + (lattice_rows_ - s) * step_;
      ylat[s][c] = y;
      if (n_ < 2) {  // a one-row mesh has no column splines
        xlat[s][c] = mesh_x_[1][c];
        w[s][c] = missing_;
        continue;
      }
      // The column's x at y, linearly between the mesh rows around it.
      while (p < n_ && mesh_y_[p][c] > y) ++p;
      const double y_a = mesh_y_[p - 1][c];
      const double y_b = mesh_y_[p][c];
      const double t = y_b == y_a ? 0.0 : (y - y_a) / (y_b - y_a);
      xlat[s][c] = mesh_x_[p - 1][c] + t * (mesh_x_[p][c] - mesh_x_[p - 1][c]);
      w[s][c] =
          SplineValue(xa, ya, y2a, n_, OntoKnots(y, xa[1], xa[n_], kOnKnot * step_), klo, missing_, missing_);
    }
  }
}

void TSplines::RowStage() {
  if (row_min_ > row_max_) return;
  double** w = w_.get();
  double** xlat = xlat_.get();
  double* y2 = row_y2_.data();
  const double threshold = missing_ + kMissingMargin;
  const double nodata = domain_.nodata_value;
  for (int s = row_min_; s <= row_max_; ++s) {
    double* xa = xlat[s];
    double* ya = w[s];
    // Natural splines over the runs of values along the lattice row.
    int k = 1;
    while (k <= m_) {
      if (ya[k] <= threshold) {
        y2[k++] = missing_;
        continue;
      }
      int end = k;
      while (end < m_ && ya[end + 1] > threshold) ++end;
      Spline(xa, ya, k, end, kNaturalEnd, kNaturalEnd, y2);
      k = end + 1;
    }
    ya[m_ + 1] = missing_;
    const std::int16_t* flags = flags_.data() + WindowIndex(s, col_min_);
    double* samples = samples_.data() + WindowIndex(s, col_min_);
    bool rising = true;
    for (int j = 1; j < m_; ++j) rising = rising && xa[j + 1] > xa[j];
    if (!rising) {
      int klo = 1;
      for (int c = col_min_; c <= col_max_; ++c) {
        if (!flags[c - col_min_]) continue;
        const double x = OntoKnots(min_x_ + (c - 1) * step_, xa[1], xa[m_], kOnKnot * step_);
        samples[c - col_min_] = SplineValue(xa, ya, y2, m_, x, klo, missing_, nodata);
      }
      continue;
    }
    // Rising knots, visited in order: each interval's cubic in powers of the
    // distance from its first knot, the same curve as SplineValue gives.
    for (int j = 1; j < m_; ++j) {
      interval_cubic& q = cubics_[static_cast<size_t>(j)];
      q.valid = ya[j] > threshold && ya[j + 1] > threshold;
      if (!q.valid) continue;
      const double h = xa[j + 1] - xa[j];
      q.c0 = ya[j];
      q.c1 = (ya[j + 1] - ya[j]) / h - h * (2.0 * y2[j] + y2[j + 1]) / 6.0;
      q.c2 = y2[j] / 2.0;
      q.c3 = (y2[j + 1] - y2[j]) / (6.0 * h);
    }
    const double first = xa[1];
    const double last = xa[m_];
    int j = 1;
    for (int c = col_min_; c <= col_max_; ++c) {
      if (!flags[c - col_min_]) continue;
      const double x = OntoKnots(min_x_ + (c - 1) * step_, first, last, kOnKnot * step_);
      double value = nodata;
      if (x >= first && x <= last && m_ > 1) {
        while (j < m_ - 1 && xa[j + 1] <= x) ++j;
        int k = j;
        // A point on the last knot of a run takes the run's last interval.
        if (!cubics_[static_cast<size_t>(k)].valid && x == xa[k] && k > 1) --k;
        const interval_cubic& q = cubics_[static_cast<size_t>(k)];
        if (q.valid) {
          const double t = x - xa[k];
          value = q.c0 + t * (q.c1 + t * (q.c2 + t * q.c3));
        }
      }
      samples[c - col_min_] = value;
    }
  }
}

void TSplines::CopySamplesToGrid(double** out) {
  const double nodata = domain_.nodata_value;
  const size_t cols = static_cast<size_t>(domain_.ncols);
  const double* samples = samples_.data();
  for (int row = first_row_; row <= last_row_; ++row) {
    const int* index = cell_sample_.data() + static_cast<size_t>(row - first_row_) * cols;
    double* target = out[row] + 1;
    for (size_t col = 0; col < cols; ++col) target[col] = index[col] >= 0 ? samples[index[col]] : nodata;
  }
}

void TSplines::Interpolate(double** values, double** y2, double** out) {
  ColumnStage(values, y2);
  RowStage();
  CopySamplesToGrid(out);
}

}  // namespace velmo
