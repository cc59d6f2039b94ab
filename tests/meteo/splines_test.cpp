// Cubic splines: the fit against an independent natural spline, the bracket
// rules, and both stages of the mesh interpolation on small meshes whose
// exact values are known.
#include "meteo/splines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::Filled;
using test::MatrixOf;

constexpr double kMeshMissing = -9999.0;

// Natural spline by the moment equations, solved densely, evaluated in the
// power form of each interval: a different route to the same curve.
class reference_spline {
 public:
  reference_spline(std::vector<double> x, std::vector<double> y) : x_(std::move(x)), y_(std::move(y)) {
    const size_t n = x_.size();
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    a[0][0] = a[n - 1][n - 1] = 1.0;
    for (size_t i = 1; i + 1 < n; ++i) {
      const double h0 = x_[i] - x_[i - 1];
      const double h1 = x_[i + 1] - x_[i];
      a[i][i - 1] = h0;
      a[i][i] = 2 * (h0 + h1);
      a[i][i + 1] = h1;
      a[i][n] = 6 * ((y_[i + 1] - y_[i]) / h1 - (y_[i] - y_[i - 1]) / h0);
    }
    for (size_t c = 0; c < n; ++c) {
      for (size_t r = c + 1; r < n; ++r) {
        const double f = a[r][c] / a[c][c];
        for (size_t k = c; k <= n; ++k) a[r][k] -= f * a[c][k];
      }
    }
    moments_.assign(n, 0.0);
    for (size_t r = n; r-- > 0;) {
      double sum = a[r][n];
      for (size_t k = r + 1; k < n; ++k) sum -= a[r][k] * moments_[k];
      moments_[r] = sum / a[r][r];
    }
  }
  double operator()(double x) const {
    size_t i = 0;
    while (i + 2 < x_.size() && x > x_[i + 1]) ++i;
    const double h = x_[i + 1] - x_[i];
    const double t = x - x_[i];
    const double slope = (y_[i + 1] - y_[i]) / h - h * (2 * moments_[i] + moments_[i + 1]) / 6;
    return y_[i] + slope * t + moments_[i] / 2 * t * t +
           (moments_[i + 1] - moments_[i]) / (6 * h) * t * t * t;
  }

 private:
  std::vector<double> x_, y_, moments_;
};

// Arrays counted from 1.
std::vector<double> From1(std::vector<double> v) {
  v.insert(v.begin(), 0.0);
  v.push_back(kMeshMissing);
  return v;
}

TEST(Spline, NaturalSplineMatchesAnIndependentSolution) {
  const std::vector<double> x{0, 1, 2.5, 4, 4.5, 7};
  const std::vector<double> y{1, 3, 2, 5, 4, 0.5};
  const reference_spline reference(x, y);
  std::vector<double> xa = From1(x), ya = From1(y), y2(8), work(8);
  ASSERT_EQ(
      SplineSecondDerivatives(xa.data(), ya.data(), 1, 6, kNaturalEnd, kNaturalEnd, y2.data(), work.data()),
      0);

  int klo = 1;
  EXPECT_NEAR(SplineValue(xa.data(), ya.data(), y2.data(), 6, 3.2, klo, kMeshMissing, -1), 3.690750606, 1e-9);
  // Rising, then falling abscissae with the bracket kept between calls.
  for (int k = 0; k <= 140; ++k) {
    const double at = k * 0.05;
    EXPECT_NEAR(SplineValue(xa.data(), ya.data(), y2.data(), 6, at, klo, kMeshMissing, -1), reference(at),
                1e-12)
        << at;
  }
  for (int k = 140; k >= 0; --k) {
    const double at = k * 0.05;
    EXPECT_NEAR(SplineValue(xa.data(), ya.data(), y2.data(), 6, at, klo, kMeshMissing, -1), reference(at),
                1e-12)
        << at;
  }
  // Outside the knots: the fallback.
  EXPECT_EQ(SplineValue(xa.data(), ya.data(), y2.data(), 6, -0.01, klo, kMeshMissing, -1), -1);
  EXPECT_EQ(SplineValue(xa.data(), ya.data(), y2.data(), 6, 7.01, klo, kMeshMissing, -1), -1);

  // The same knots with falling abscissae give the same second derivatives.
  std::vector<double> xr(x.rbegin(), x.rend()), yr(y.rbegin(), y.rend());
  std::vector<double> xra = From1(xr), yra = From1(yr), y2r(8);
  SplineSecondDerivatives(xra.data(), yra.data(), 1, 6, kNaturalEnd, kNaturalEnd, y2r.data(), work.data());
  for (int k = 1; k <= 6; ++k)
    EXPECT_NEAR(y2r[static_cast<size_t>(k)], y2[static_cast<size_t>(7 - k)], 1e-12);
}

TEST(Spline, ClampedEndsReproduceACubic) {
  auto f = [](double x) { return x * x * x - 2 * x; };
  std::vector<double> xa = From1({0, 1, 3, 4}), ya = From1({f(0), f(1), f(3), f(4)}), y2(6), work(6);
  SplineSecondDerivatives(xa.data(), ya.data(), 1, 4, -2.0, 46.0, y2.data(), work.data());
  int klo = 1;
  for (double at : {0.3, 2.2, 3.9})
    EXPECT_NEAR(SplineValue(xa.data(), ya.data(), y2.data(), 4, at, klo, kMeshMissing, -1), f(at), 1e-12)
        << at;
}

TEST(Spline, KnotsMissingValuesAndEqualAbscissae) {
  std::vector<double> xa = From1({0, 1, 2, 3, 4}), ya = From1({1, 2, 4, kMeshMissing, 3}), y2(7), work(7);
  SplineSecondDerivatives(xa.data(), ya.data(), 1, 3, kNaturalEnd, kNaturalEnd, y2.data(), work.data());
  y2[4] = kMeshMissing;
  y2[5] = 0.0;  // a run of one knot
  int klo = 1;
  auto at = [&](double x) {
    return SplineValue(xa.data(), ya.data(), y2.data(), 5, x, klo, kMeshMissing, -7);
  };
  EXPECT_EQ(at(0.0), 1.0);
  EXPECT_EQ(at(2.0), 4.0);  // the last knot of a run keeps its value
  EXPECT_EQ(at(2.5), -7);   // an interval with a missing knot
  EXPECT_EQ(at(4.0), -7);   // a run of a single knot has no interval
  EXPECT_EQ(at(1.0), 2.0);

  std::vector<double> equal = From1({0, 1, 1, 2});
  EXPECT_EQ(SplineSecondDerivatives(equal.data(), ya.data(), 1, 4, kNaturalEnd, kNaturalEnd, y2.data(),
                                    work.data()),
            3);
}

// A mesh of n rows and m columns over a domain of 100 m cells whose cell
// coordinates are the cell centres.
struct mesh_case {
  int n, m;
  grid_header domain;
  owned_matrix x, y, v, y2;
  owned_matrix cell_x, cell_y, mask, out;

  mesh_case(int rows, int cols, int domain_cols, int domain_rows, double nodata)
      : n(rows),
        m(cols),
        domain{domain_cols, domain_rows, 0.0, 0.0, 100.0, nodata},
        x(MatrixOf(Filled(rows, cols, 0.0))),
        y(MatrixOf(Filled(rows, cols, 0.0))),
        v(MatrixOf(Filled(rows, cols, 0.0))),
        y2(MatrixOf(Filled(rows, cols, 0.0))),
        cell_x(MatrixOf(Filled(domain_rows, domain_cols, 0.0))),
        cell_y(MatrixOf(Filled(domain_rows, domain_cols, 0.0))),
        mask(MatrixOf(Filled(domain_rows, domain_cols, 1.0))),
        out(MatrixOf(Filled(domain_rows, domain_cols, 0.0))) {
    for (int r = 1; r <= domain_rows; ++r) {
      for (int c = 1; c <= domain_cols; ++c) {
        cell_x[r][c] = (c - 0.5) * 100.0;
        cell_y[r][c] = (domain_rows - r + 0.5) * 100.0;
      }
    }
  }
  // A regular mesh: column c at x0 + (c - 1) dx, row r at ytop - (r - 1) dy.
  void Regular(double x0, double ytop, double dx, double dy) {
    for (int r = 1; r <= n; ++r) {
      for (int c = 1; c <= m; ++c) {
        x[r][c] = x0 + (c - 1) * dx;
        y[r][c] = ytop - (r - 1) * dy;
      }
    }
  }
  void Field(const std::function<double(double, double)>& f) {
    for (int r = 1; r <= n; ++r) {
      for (int c = 1; c <= m; ++c) v[r][c] = f(x[r][c], y[r][c]);
    }
  }
  std::unique_ptr<TSplines> Build(MessageStream* messages = nullptr) {
    return std::make_unique<TSplines>(messages, x.get(), y.get(), cell_x.get(), cell_y.get(), n, m, x[n][1],
                                      y[n][1], 1000.0, 1000.0, kMeshMissing, domain, 0.0, 1.0, mask.get(), 1,
                                      domain.nrows);
  }
  void Run(TSplines& splines) {
    splines.PrepareColumns(v.get(), y2.get());
    splines.Interpolate(v.get(), y2.get(), out.get());
  }
  // The grid value at the cell whose centre is (cx, cy).
  double At(double cx, double cy) {
    const int c = static_cast<int>(cx / 100.0) + 1;
    const int r = domain.nrows - static_cast<int>(cy / 100.0);
    return out[r][c];
  }
};

TEST(TSplines, LinearAndQuadraticFieldsOnARegularMesh) {
  mesh_case mesh(4, 3, 25, 35, -9999.0);
  mesh.Regular(50, 3050, 1000, 1000);
  auto linear = [](double x, double y) { return 10 + 0.002 * x - 0.001 * y; };
  mesh.Field(linear);
  mesh.mask[35 - 11][13] = -9999.0;  // the cell at (1250, 1150) is outside the zones
  auto splines = mesh.Build();
  EXPECT_EQ(splines->LatticeRows(), 31);
  EXPECT_EQ(splines->LatticeCols(), 21);
  mesh.Run(*splines);
  EXPECT_NEAR(mesh.At(1250, 1250), 11.25, 1e-9);
  for (double cy = 50; cy < 3500; cy += 100) {
    for (double cx = 50; cx < 2500; cx += 100) {
      const bool inside = cx <= 2050 && cy <= 3050 && !(cx == 1250 && cy == 1150);
      if (inside)
        EXPECT_NEAR(mesh.At(cx, cy), linear(cx, cy), 1e-9) << cx << ", " << cy;
      else
        EXPECT_EQ(mesh.At(cx, cy), -9999.0) << cx << ", " << cy;
    }
  }

  mesh.Field([](double x, double) { return (x / 1000) * (x / 1000); });
  mesh.Run(*splines);
  EXPECT_NEAR(mesh.At(1250, 1250), 1.5785, 1e-9);
}

TEST(TSplines, MissingMeshValuesReachTheGridAsTheDomainsNodata) {
  // A domain nodata other than the mesh's missing marker.
  mesh_case mesh(4, 3, 25, 35, -99.0);
  mesh.Regular(50, 3050, 1000, 1000);
  auto linear = [](double x, double y) { return 10 + 0.002 * x - 0.001 * y; };
  mesh.Field(linear);
  mesh.v[2][3] = kMeshMissing;  // (2050, 2050)
  auto splines = mesh.Build();
  mesh.Run(*splines);
  for (double cy = 50; cy < 3500; cy += 100) {
    for (double cx = 50; cx < 2500; cx += 100) {
      const double value = mesh.At(cx, cy);
      const bool inside = cx <= 2050 && cy <= 3050;
      // Column 3 has no values between 1050 and 3050 m, so the lattice rows
      // there end at column 2.
      const bool reached = inside && (cy <= 1050 || cx <= 1050);
      if (reached)
        EXPECT_NEAR(value, linear(cx, cy), 1e-9) << cx << ", " << cy;
      else
        EXPECT_EQ(value, -99.0) << cx << ", " << cy;
    }
  }

  // A one-row mesh has no column splines: every cell is nodata.
  mesh_case row(1, 3, 10, 10, -99.0);
  row.Regular(50, 450, 400, 1000);
  row.Field(linear);
  auto flat = row.Build();
  row.Run(*flat);
  for (int r = 1; r <= 10; ++r) {
    for (int c = 1; c <= 10; ++c) EXPECT_EQ(row.out[r][c], -99.0);
  }
}

TEST(TSplines, MeshCoordinatesTakenAsMissingAreReported) {
  mesh_case mesh(4, 3, 25, 35, -9999.0);
  mesh.Regular(50, 3050, 1000, 1000);
  mesh.y[4][2] = -9999.0;
  test::MessageCapture capture;
  mesh.Build(&capture.ms);
  EXPECT_EQ(
      capture.console.str(),
      "the station at row 4, column 2 of the spline mesh has y = -9999, at or below -9999: it counts as "
      "missing, and the splines place the station by the mesh spacing\n");
}

TEST(TSplines, ColumnsFinerAndBentFollowTheirMeshRows) {
  // Mesh rows 30 m apart under 100 m cells, columns 1000 m apart that bend
  // 300 m east between the last two rows; every column holds its number, so
  // a lattice row is the line through (column x at that y, number).
  mesh_case mesh(6, 3, 40, 2, -9999.0);
  for (int r = 1; r <= 6; ++r) {
    for (int c = 1; c <= 3; ++c) {
      mesh.x[r][c] = 1000.0 * c + (r == 6 ? 300.0 : 0.0);
      mesh.y[r][c] = 150.0 - 30.0 * (r - 1);
      mesh.v[r][c] = c;
    }
  }
  auto splines = mesh.Build();
  mesh.Run(*splines);
  // Lattice row y = 0 lies on mesh row 6, lattice row y = 100 between rows 2
  // and 3; cells at y 50 and 150 take them.
  EXPECT_NEAR(mesh.At(2050, 50), (2000 - 300) / 1000.0, 1e-12);
  EXPECT_NEAR(mesh.At(2050, 150), 2000 / 1000.0, 1e-12);
}

TEST(TSplines, EqualAbscissaeInAColumnEndTheRun) {
  test::MessageCapture capture;
  mesh_case mesh(3, 2, 10, 10, -9999.0);
  mesh.Regular(50, 850, 500, 400);
  mesh.y[2][2] = mesh.y[1][2];
  mesh.Field([](double x, double) { return x; });
  auto splines = mesh.Build(&capture.ms);
  testing::internal::CaptureStdout();
  EXPECT_EQ(test::ThrownCode([&] { mesh.Run(*splines); }), kEqualAbscissaeCode);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("The two input coordinates 850 (index 1) \nand 850 (index 2) for the "
                     "1-D-Splineevaluation are the same!"),
            std::string::npos)
      << out;
  capture.ms.Close();
  EXPECT_NE(test::ReadFile(capture.dir / "diag.xml")
                .find("<line level=\"0\" description= \"The two input coordinates 850"),
            std::string::npos);
}

}  // namespace
}  // namespace velmo
