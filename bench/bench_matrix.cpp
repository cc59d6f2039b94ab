// Allocating and sweeping a 4000 x 4000 field: the sweep should run at memory
// speed because rows of a block are contiguous.
#include <benchmark/benchmark.h>

#include "framework/memory.h"

namespace {

constexpr int kSize = 4000;

void BM_AllocateMatrix(benchmark::State& state) {
  velmo::memory_handling mh;
  for (auto _ : state) {
    double** m = mh.matrix(1, kSize, 0, kSize, 0);
    benchmark::DoNotOptimize(m);
    mh.FreeMatrix(m);
  }
}
BENCHMARK(BM_AllocateMatrix)->Unit(benchmark::kMillisecond);

void BM_SweepMatrix(benchmark::State& state) {
  velmo::memory_handling mh;
  double** m = mh.matrix(1, kSize, 0, kSize, 0);
  for (auto _ : state) {
    for (int r = 1; r <= kSize; ++r) {
      double* row = m[r];
      for (int c = 1; c <= kSize; ++c) row[c] = row[c] * 0.5 + 1.0;
    }
    benchmark::ClobberMemory();
  }
  const double cells = static_cast<double>(kSize) * kSize;
  state.counters["cells/s"] = benchmark::Counter(cells, benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(cells) * 16);
  mh.FreeMatrix(m);
}
BENCHMARK(BM_SweepMatrix)->Unit(benchmark::kMillisecond);

}  // namespace
