// One interpolation step of a 1000 x 1000 domain from 10 or 50 stations:
// distance weighting (w = 2, all stations valid, and with a third of them
// missing), Thiessen and Thiessen with a lapse rate, statistics off; and the
// distance weighting again with a zone statistics table, whose difference is
// the table's cost. The per-cell station weights and nearest stations are
// built in the first step, outside the timing. Then the regression methods
// (a regression file mixed with distance weighting; the fit to the stations
// alone and mixed, the fit inside the timing) and the mesh methods on a mesh
// of 20 x 20 stations (bilinear, splines, and the splines alone); one step of
// a regional superposition entity with two inputs over three region layers;
// and the precipitation correction of a grid by temperature and wind speed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "meteo/meteoint.h"
#include "meteo/precipcorr.h"
#include "meteo/splines.h"
#include "meteo/superposition.h"
#include "setup/settings.h"

namespace {

using namespace velmo;

constexpr int kSize = 1000;
constexpr double kCell = 100.0;

class Domain : public bench::grid_domain {
 public:
  Domain() : grid_domain("interpolation", kSize) {
    // Ten zones of 100 rows each.
    Grid("zones", 1, [](int r, int) { return static_cast<double>((r - 1) / 100 + 1); });
    Grid("dem", 2, [](int r, int c) { return 200.0 + r + 0.5 * c; });
    Grid("RelCellArea", 3, [](int, int) { return 1.0; });
    Grid("CoordX", 4, [](int, int c) { return (c - 1) * kCell; });
    Grid("CoordY", 5, [](int r, int) { return (kSize - r) * kCell; });
    SquareSettings(kCell, 10);
    settings_.startday = settings_.endday = 1;
    settings_.startmonth = settings_.endmonth = 1;
    settings_.startyear = settings_.endyear = 2000;
    settings_.starthour = 1;
    settings_.endhour = 2;
  }

  // An interpolator of `method` on `stations` stations; a third of the
  // values missing with `gaps`, a statistics table with `statistics`. With
  // `mesh`, the stations form a square mesh over the domain with `stations`
  // stations on a side.
  std::unique_ptr<meteointerpol> Interpolator(int method, int stations, bool gaps, bool statistics,
                                              bool mesh = false) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> where(0.0, kSize * kCell), value(0.0, 20.0), height(200, 2000);
    std::string header[3] = {"YY MM DD HH", "YY MM DD HH", "YY MM DD HH"};
    std::string record = "2000 1 1 1";
    const int count = mesh ? stations * stations : stations;
    const double spacing = mesh ? kSize * kCell / (stations - 1) : 0.0;
    for (int i = 0; i < count; ++i) {
      header[0] += " " + std::to_string(height(random));
      header[1] += " " + std::to_string(mesh ? (i % stations) * spacing : where(random));
      header[2] += " " + std::to_string(mesh ? (i / stations) * spacing : where(random));
      record += gaps && i % 3 == 0 ? " -99999" : " " + std::to_string(value(random));
    }
    std::ofstream(dir_ / "regression.txt")
        << "jr mo dy hr\n2000 1 1 1 12 -0.005 800 11 -0.004 1500 14 -0.006 "
           "10 1e-5 -2e-5\n";
    std::string method_line = "none";
    if (method == kLapseRateMethod) method_line = "-0.0065 1000 0.002";
    if (method == kIdwRegressionMethod) method_line = (dir_ / "regression.txt").string();
    if (method == kStationRegressionMethod || method == kIdwStationRegressionMethod)
      method_line = "800 1500 100 0 50";
    std::ofstream(dir_ / "stations.txt") << "bench\n"
                                         << header[0] << "\n"
                                         << header[1] << "\n"
                                         << header[2] << "\nnames\n"
                                         << record << "\n";
    std::ofstream(dir_ / "bench.ctl") << "[v]\n"
                                      << method << "\n"
                                      << (dir_ / "stations.txt").string() << "\n"
                                      << method_line << "\n"
                                      << "v.asc\n0\n1\n"
                                      << (statistics ? "v.stat 2001" : "v.stat 0") << "\n"
                                      << "999\n2\n1\n1000000\n0\n1\n-1e9\n-1e9\n1e9\n1e9\n0\n";
    for (int i = 6; i < kLastEntry; ++i) table_[i].SetInitialState();
    int error = 0;
    return std::make_unique<meteointerpol>(error, &messages_, "v", settings_, &table_, 6);
  }

  // The correction of the grid "precipitation" by the grids "temperature"
  // (half the cells below the threshold) and "wind_speed".
  std::unique_ptr<precicorrclass> Correction() {
    for (int i = 6; i < kLastEntry; ++i) table_[i].SetInitialState();
    int index = 6;
    auto grid = [&](const char* name, auto value) { Grid(name, index++, value); };
    grid("precipitation", [](int r, int c) { return 0.001 * (r + c); });
    grid("temperature", [](int r, int c) { return 0.01 * (c - r); });
    grid("wind_speed", [](int r, int) { return 0.005 * r; });
    settings_.meteo_names = {""};
    settings_.meteo_count = 0;
    std::ofstream(dir_ / "bench.ctl") << "[precipitation_correction]\n1\n0.0\n1.05\n0.02\n1.2\n0.1\n";
    return std::make_unique<precicorrclass>(&messages_, std::vector<meteointerpol*>{nullptr}, settings_,
                                            &table_);
  }

  // A superposition of two input grids over three regions (columns in
  // thirds), every cell blending its own region with two others.
  std::unique_ptr<RegionalSuperposition> Superposition() {
    for (int i = 6; i < kLastEntry; ++i) table_[i].SetInitialState();
    int index = 6;
    auto grid = [&](const char* name, auto value) { Grid(name, index++, value); };
    auto region = [](int c, int shift) { return static_cast<double>(((c - 1) * 3 / kSize + shift) % 3 + 1); };
    grid("rain", [](int r, int c) { return 0.01 * (r + c); });
    grid("snow", [](int r, int) { return 0.02 * r; });
    grid("regression_regions", [&](int, int c) { return region(c, 0); });
    grid("regression_regions2", [&](int, int c) { return region(c, 1); });
    grid("regression_regions3", [&](int, int c) { return region(c, 2); });
    grid("regression_weights1", [](int, int) { return 0.6; });
    grid("regression_weights2", [](int, int) { return 0.3; });
    grid("regression_weights3", [](int, int) { return 0.1; });
    settings_.region_count = 3;
    settings_.max_region_code = 3;
    settings_.region_code_map = region_map_.data();
    std::ofstream(dir_ / "bench.ctl") << "[RegionalSuperposition]\n1\n60\nNumberOfEntities = 1;\n"
                                      << "sum {\n"
                                      << "entityinputgrid = rain; regions = 1, 2, 3; weights = 1, 1.2, 0.8;\n"
                                      << "entityinputgrid = snow; regions = 1, 2, 3; weights = 0.5, 1, 2;\n"
                                      << "outputgrid = sum.asc; writecode = 0; outputtable = sum.stat; "
                                      << "statcode = 0;\n}\n";
    return std::make_unique<RegionalSuperposition>(&messages_, settings_, &table_);
  }

 private:
  std::vector<int> region_map_ = {0, 1, 2, 3};
  static constexpr int kLastEntry = 30;
};

Domain& TheDomain() {
  static Domain domain;
  return domain;
}

void RunSteps(benchmark::State& state, int method, bool gaps, bool statistics, bool mesh = false) {
  auto interpolator =
      TheDomain().Interpolator(method, static_cast<int>(state.range(0)), gaps, statistics, mesh);
  interpolator->ComputeStationRegression(0);
  interpolator->InterpolateStep(0, 1, 1, 1, 2000);  // builds what the run does not change
  for (auto _ : state) {
    // The application fits the regression of methods 10 and 11 every pass.
    interpolator->ComputeStationRegression(0);
    interpolator->InterpolateStep(0, 1, 1, 1, 2000);
    benchmark::DoNotOptimize(interpolator->ResultGrid()[kSize / 2][kSize / 2]);
  }
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);  // per cell and step
  interpolator->CleanUp();
}

void BM_Idw(benchmark::State& state) { RunSteps(state, kIdwMethod, false, false); }
void BM_IdwWithGaps(benchmark::State& state) { RunSteps(state, kIdwMethod, true, false); }
void BM_Thiessen(benchmark::State& state) { RunSteps(state, kThiessenMethod, false, false); }
void BM_ThiessenLapseRate(benchmark::State& state) { RunSteps(state, kLapseRateMethod, false, false); }
void BM_IdwWithStatistics(benchmark::State& state) { RunSteps(state, kIdwMethod, false, true); }
void BM_RegressionFileIdw(benchmark::State& state) { RunSteps(state, kIdwRegressionMethod, false, false); }
void BM_StationRegression(benchmark::State& state) {
  RunSteps(state, kStationRegressionMethod, false, false);
}
void BM_StationRegressionIdw(benchmark::State& state) {
  RunSteps(state, kIdwStationRegressionMethod, false, false);
}
void BM_Bilinear(benchmark::State& state) { RunSteps(state, kBilinearMethod, false, false, true); }
void BM_Splines(benchmark::State& state) { RunSteps(state, kSplineMethod, false, false, true); }

// Both spline stages and the copy onto the grid, without the interpolator:
// a mesh of n x n points over the domain, cell coordinates at the corners.
void BM_SplinesAlone(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double spacing = kSize * kCell / (n - 1);
  memory_handling memory;
  owned_matrix x(memory.matrix(0, n + 1, 0, n + 1, n + 1));
  owned_matrix y(memory.matrix(0, n + 1, 0, n + 1, n + 1));
  owned_matrix v(memory.matrix(0, n + 1, 0, n + 1, n + 1));
  owned_matrix y2(memory.matrix(0, n + 1, 0, n + 1, n + 1));
  for (int r = 1; r <= n; ++r) {
    for (int c = 1; c <= n; ++c) {
      x[r][c] = (c - 1) * spacing;
      y[r][c] = (n - r) * spacing;
      v[r][c] = std::sin(x[r][c] * 1e-4) + std::cos(y[r][c] * 7e-5);
    }
  }
  owned_matrix cx(memory.matrix(1, kSize, 1, kSize, 0));
  owned_matrix cy(memory.matrix(1, kSize, 1, kSize, 0));
  owned_matrix out(memory.matrix(1, kSize, 1, kSize, 0));
  for (int r = 1; r <= kSize; ++r) {
    for (int c = 1; c <= kSize; ++c) {
      cx[r][c] = (c - 1) * kCell;
      cy[r][c] = (kSize - r) * kCell;
    }
  }
  const grid_header domain{kSize, kSize, 0.0, 0.0, kCell, -9999.0};
  TSplines splines(nullptr, x.get(), y.get(), cx.get(), cy.get(), n, n, x[n][1], y[n][1], spacing, spacing,
                   kMeshMissing, domain, 0.0, 1.0, nullptr, 1, kSize);
  for (auto _ : state) {
    splines.PrepareColumns(v.get(), y2.get());
    splines.Interpolate(v.get(), y2.get(), out.get());
    benchmark::DoNotOptimize(out[kSize / 2][kSize / 2]);
  }
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);
}

void BM_Superposition(benchmark::State& state) {
  auto superposition = TheDomain().Superposition();
  for (auto _ : state) {
    superposition->RunTimeStep(0, 1, 1, 1, 2000);
    benchmark::DoNotOptimize(superposition->entities[0]->OutputGrid()[kSize / 2][kSize / 2]);
  }
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);
  superposition->CleanUp();
}

void BM_CorrectGrid(benchmark::State& state) {
  auto correction = TheDomain().Correction();
  correction->CorrectGrid();  // finds the computed cells
  for (auto _ : state) {
    correction->CorrectGrid();
    benchmark::ClobberMemory();
  }
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);
  correction->CleanUp();
}

BENCHMARK(BM_Idw)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdwWithGaps)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thiessen)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThiessenLapseRate)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdwWithStatistics)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegressionFileIdw)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StationRegression)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StationRegressionIdw)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bilinear)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Splines)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplinesAlone)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Superposition)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CorrectGrid)->Unit(benchmark::kMillisecond);

}  // namespace
