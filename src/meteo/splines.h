// Cubic splines over a curvilinear mesh of points (for example the cell
// centres of an atmospheric model read as stations) onto the model grid, in
// two stages over a regular lattice whose step is the cell size: natural
// splines along every mesh column evaluated at the lattice rows, then natural
// splines along every lattice row evaluated at the lattice columns that model
// cells use. Each model cell takes the value of its lattice point.
//
// Mesh row 1 is the northern edge and column 1 the western edge; along a
// column y falls with the row number.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/memory.h"
#include "framework/types.h"

namespace velmo {

// Code of two equal abscissae in one spline.
inline constexpr int kEqualAbscissaeCode = 82;
// An end slope above this makes that end of a spline natural; callers pass
// kNaturalEnd.
inline constexpr double kNaturalEndAbove = 9.9e29;
inline constexpr double kNaturalEnd = 1e30;
// A value at most this far above a missing marker counts as missing.
inline constexpr double kMissingMargin = 0.01;

// Second derivatives y2[lo..hi] of the cubic spline through (x[k], y[k]),
// k = lo..hi; an end slope above kNaturalEndAbove makes that end natural,
// any other clamps it. The abscissae run the same way (up or down); `work`
// holds hi + 1 doubles. Returns 0, or the first k > lo whose abscissa equals
// the one before (no spline then).
int SplineSecondDerivatives(const double* x, const double* y, int lo, int hi, double slope_lo,
                            double slope_hi, double* y2, double* work);

// The spline through knots 1..count (rising abscissae xa, values ya, second
// derivatives y2a) at x, or `fallback` outside the knots and where a knot of
// the interval is missing (ya at most missing + kMissingMargin). `klo` is the
// bracket of the previous call and is kept for the next one, so that visiting
// abscissae in order costs O(1) each. A point on the last knot of a run of
// knots takes the run's last interval.
inline double SplineValue(const double* xa, const double* ya, const double* y2a, int count, double x,
                          int& klo, double missing, double fallback) {
  if (klo > count) klo = count;
  if (klo < 0) klo = 0;
  while (klo > 0 && x < xa[klo]) --klo;
  while (klo < count && xa[klo + 1] <= x) ++klo;
  const double threshold = missing + kMissingMargin;
  int khi = klo + 1;
  // A point on the last knot of a run takes the run's last interval.
  if (klo > 1 && x == xa[klo] && (khi > count || ya[khi] <= threshold)) khi = klo--;
  if (klo < 1 || khi > count) return fallback;
  if (ya[klo] <= threshold || ya[khi] <= threshold) return fallback;
  const double step = xa[khi] - xa[klo];
  if (step == 0.0) return fallback;  // refused when the spline was fitted
  const double a = (xa[khi] - x) / step;
  const double b = (x - xa[klo]) / step;
  return a * ya[klo] + b * ya[khi] +
         ((a * a * a - a) * y2a[klo] + (b * b * b - b) * y2a[khi]) * (step * step) / 6.0;
}

class TSplines final : public memory_handling {
 public:
  // The mesh (X, Y: rows 1..n, columns 1..m) and the cell coordinate grids
  // (rows first_row..last_row, columns 1..domain.ncols) stay owned by the
  // caller and must outlive the object; so must the mask (null for none). A
  // cell is valid when both coordinates and its mask value exceed
  // domain.nodata_value + kMissingMargin. (corner_x, corner_y) is mesh point
  // (n, 1); dx and dy the mesh spacing; `missing` the mesh's missing marker;
  // the lattice step is cellsize / scale.
  TSplines(MessageStream* messages, double** mesh_x, double** mesh_y, double** cell_x, double** cell_y, int n,
           int m, double corner_x, double corner_y, double dx, double dy, double missing,
           const grid_header& domain, double angle, double scale, double** mask, int first_row, int last_row);

  // Second derivatives along every mesh column into y2 (mesh-sized); missing
  // values split a column into runs.
  virtual void PrepareColumns(double** values, double** y2);
  // Both stages into `out` (rows first_row..last_row): every valid cell
  // inside the lattice gets its lattice point's value, every other cell and
  // every point without a spline value the domain's nodata value.
  virtual void Interpolate(double** values, double** y2, double** out);

  // Natural or clamped spline through points lo..hi; two equal abscissae end
  // the run with code 82.
  virtual void Spline(const double* x, const double* y, int lo, int hi, double slope_lo, double slope_hi,
                      double* y2);
  virtual void FindSampleWindow();
  virtual void MarkSamples();
  virtual void CopySamplesToGrid(double** out);

  int LatticeRows() const { return lattice_rows_; }
  int LatticeCols() const { return lattice_cols_; }
  double LatticeMinX() const { return min_x_; }
  double LatticeMinY() const { return min_y_; }
  // The window of lattice points that cells use: rows, then columns.
  int WindowRowMin() const { return row_min_; }
  int WindowRowMax() const { return row_max_; }
  int WindowColMin() const { return col_min_; }
  int WindowColMax() const { return col_max_; }

 private:
  bool CellValid(int row, int col) const;
  // The lattice point of a cell; false when it lies outside the lattice.
  bool LatticePoint(int row, int col, int& r, int& c) const;
  double Abscissa(int mesh_row, int mesh_col) const;
  bool InWindow(int r, int c) const {
    return r >= row_min_ && r <= row_max_ && c >= col_min_ && c <= col_max_;
  }
  size_t WindowIndex(int r, int c) const {
    return static_cast<size_t>(r - row_min_) * static_cast<size_t>(window_cols_) +
           static_cast<size_t>(c - col_min_);
  }
  void ColumnStage(double** values, double** y2);
  void RowStage();
  [[noreturn]] void RaiseEqualAbscissae(const double* x, int k);

  double** mesh_x_;
  double** mesh_y_;
  double** cell_x_;
  double** cell_y_;
  double** mask_;
  int n_;
  int m_;
  double corner_x_;
  double corner_y_;
  double dx_;
  double dy_;
  double missing_;
  grid_header domain_;
  double angle_;
  double step_;  // lattice step h
  int first_row_;
  int last_row_;

  double min_x_ = 0.0;
  double max_x_ = 0.0;
  double min_y_ = 0.0;
  double max_y_ = 0.0;
  int lattice_rows_ = 1;
  int lattice_cols_ = 1;
  double x0_ = 0.0;  // mesh point (n, 1) turned about the domain's lower-left corner
  double y0_ = 0.0;

  int row_min_ = 1;
  int row_max_ = 0;
  int col_min_ = 1;
  int col_max_ = 0;
  int window_cols_ = 0;
  std::vector<std::int16_t> flags_;  // per window point: a cell takes its value
  std::vector<double> samples_;      // S over the window
  std::vector<int> cell_sample_;     // per cell: index into samples_, or -1

  // Lattice rows 0..R+1 by mesh columns 0..m+1: values along the columns,
  // the lattice y and the column's x at that y.
  owned_matrix w_;
  owned_matrix ylat_;
  owned_matrix xlat_;
  std::vector<double> col_x_, col_y_, col_y2_, row_y2_, work_;
  // The intervals of one lattice row as cubics in powers of the distance
  // from their first knot.
  struct interval_cubic {
    bool valid = false;
    double c0 = 0.0, c1 = 0.0, c2 = 0.0, c3 = 0.0;
  };
  std::vector<interval_cubic> cubics_;
};

}  // namespace velmo
