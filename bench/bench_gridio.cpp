// Reading and writing a 2000 x 2000 grid as ASCII and as binary doubles.
#include <benchmark/benchmark.h>

#include "bench_support.h"

namespace velmo {
namespace {

constexpr int kSide = 2000;
constexpr double kCells = static_cast<double>(kSide) * kSide;

// One model object on a 2000 x 2000 domain with a grid of elevation-like
// values and both files written once.
struct Setup : bench::square_object {
  double** grid = nullptr;

  Setup() : square_object("gridio", kSide, 25) {
    grid = object->matrix(1, kSide, 1, kSide, kSide);
    for (int r = 1; r <= kSide; ++r)
      for (int c = 1; c <= kSide; ++c) grid[r][c] = 400.0 + ((r * 7919 + c * 104729) % 300000) * 0.01;
    object->WriteGrid("grid.asc", grid, true, false, false);
    object->WriteGrid("grid.dbl", grid, false, true, false);
  }
  ~Setup() { object->FreeMatrix(grid); }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void CountCells(benchmark::State& state) {
  state.counters["cells_per_second"] =
      benchmark::Counter(kCells * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Read(benchmark::State& state, const char* file) {
  Setup& s = Shared();
  for (auto _ : state) {
    double** m = nullptr;
    s.object->ReadGrid(file, m, 0, true, false, 0.0, false);
    benchmark::DoNotOptimize(m[kSide][kSide]);
    s.object->FreeMatrix(m);
  }
  CountCells(state);
}

void Write(benchmark::State& state, const char* file, bool ascii) {
  Setup& s = Shared();
  for (auto _ : state) s.object->WriteGrid(file, s.grid, ascii, true, false);
  CountCells(state);
}

void BM_ReadAsciiGrid(benchmark::State& state) { Read(state, "grid.asc"); }
void BM_ReadBinaryGrid(benchmark::State& state) { Read(state, "grid.dbl"); }
void BM_WriteAsciiGrid(benchmark::State& state) { Write(state, "out.asc", true); }
void BM_WriteBinaryGrid(benchmark::State& state) { Write(state, "out.dbl", false); }

BENCHMARK(BM_ReadAsciiGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBinaryGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteAsciiGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBinaryGrid)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmo
