// Ranking a 2000 x 2000 zone grid of 400 zones with a nodata border, as the
// set-up object does once per run: two passes over the cells.
#include <benchmark/benchmark.h>

#include "framework/memory.h"
#include "setup/zonegrids.h"

namespace {

constexpr int kSize = 2000;
constexpr int kZonesPerSide = 20;
constexpr int kBorder = 100;  // nodata cells around the catchment
constexpr double kNodata = -9999.0;

struct ZoneField {
  velmo::memory_handling mh;
  double** zones = mh.matrix(1, kSize, 1, kSize, 0);

  ZoneField() {
    const int block = kSize / kZonesPerSide;
    for (int r = 1; r <= kSize; ++r) {
      for (int c = 1; c <= kSize; ++c) {
        const bool outside = r <= kBorder || c <= kBorder || r > kSize - kBorder || c > kSize - kBorder;
        zones[r][c] =
            outside ? kNodata : static_cast<double>(((r - 1) / block) * kZonesPerSide + (c - 1) / block + 1);
      }
    }
  }
  ~ZoneField() { mh.FreeMatrix(zones); }
};

void BM_RankZoneGrid(benchmark::State& state) {
  ZoneField field;
  velmo::zone_grid_ranking ranking;
  for (auto _ : state) {
    const velmo::zone_ranking_error error =
        velmo::RankZoneGrid(field.zones, kSize, kSize, kNodata, 100.0, ranking);
    benchmark::DoNotOptimize(error);
    benchmark::DoNotOptimize(ranking.zones.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kSize) * kSize);
}
BENCHMARK(BM_RankZoneGrid)->Unit(benchmark::kMillisecond);

}  // namespace
