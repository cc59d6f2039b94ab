// Zone statistics of one 1000 x 1000 field per step into 100 zones, as the
// set-up object and the modules do for every statistics grid: the cost per
// cell of AddCell plus EndStep, and the cost of formatting a full row buffer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/zonalstat.h"

namespace {

constexpr int kSize = 1000;
constexpr int kZonesPerSide = 10;  // 10 x 10 blocks of 100 x 100 cells
constexpr int kZoneCount = kZonesPerSide * kZonesPerSide;
constexpr double kNodata = -9999.0;

struct Field {
  velmo::memory_handling mh;
  double** values = mh.matrix(1, kSize, 0, kSize, 0);
  double** weights = mh.matrix(1, kSize, 0, kSize, 0);
  std::vector<int> zone_of_cell = std::vector<int>(static_cast<size_t>(kSize + 1) * (kSize + 1), 0);
  std::vector<velmo::zone_record> zones = std::vector<velmo::zone_record>(kZoneCount + 1);
  std::string file_name = (std::filesystem::temp_directory_path() /
                           ("velmo_bench_zonalstat_" + std::to_string(getpid()) + ".txt"))
                              .string();

  // Every `nodata_every`-th cell holds the nodata value (0: none).
  explicit Field(int nodata_every) {
    for (int z = 1; z <= kZoneCount; ++z) zones[static_cast<size_t>(z)].code = 100 + z;
    long n = 0;
    for (int r = 1; r <= kSize; ++r) {
      for (int c = 1; c <= kSize; ++c, ++n) {
        values[r][c] =
            (nodata_every > 0 && n % nodata_every == 0) ? kNodata : 0.001 * static_cast<double>(n % 977);
        weights[r][c] = 0.9 + 0.0001 * static_cast<double>(c % 1000);
        zone_of_cell[static_cast<size_t>(r) * (kSize + 1) + static_cast<size_t>(c)] =
            (r - 1) / (kSize / kZonesPerSide) * kZonesPerSide + (c - 1) / (kSize / kZonesPerSide) + 1;
      }
    }
  }
  ~Field() {
    mh.FreeMatrix(values);
    mh.FreeMatrix(weights);
    std::filesystem::remove(file_name);
  }

  std::unique_ptr<velmo::zonalstatistic> Table(int code, bool with_weights) {
    int error = 0;
    std::string name = file_name;
    auto stat = std::make_unique<velmo::zonalstatistic>(
        error, nullptr, kNodata, with_weights ? weights : nullptr, kSize, kSize, zones.data(), kZoneCount,
        code, 5, name, nullptr, 0, nullptr, false);
    stat->WriteHeader("bench", "(default)");
    return stat;
  }
};

// One step: every cell into its zone, then the end of the step (a row of 100
// zone means each step; the buffer is written every 2545 steps). `by_row`
// feeds each row with AddRow instead of cell by cell.
void Step(velmo::zonalstatistic& stat, const Field& f, int step, bool by_row) {
  stat.StartStep();
  for (int r = 1; r <= kSize; ++r) {
    const double* row = f.values[r];
    const int* zone = &f.zone_of_cell[static_cast<size_t>(r) * (kSize + 1)];
    if (by_row) {
      stat.AddRow(
          r, 1, kSize, [zone](int c) { return zone[c]; }, [row](int c) { return row[c]; });
    } else {
      for (int c = 1; c <= kSize; ++c) stat.AddCell(r, c, zone[c], row[c], 1.0);
    }
  }
  stat.EndStep(2000, 1, 1 + step % 28, step % 24, 0, 1);
}

void BM_ZonalStatisticsStep(benchmark::State& state) {
  const bool with_weights = state.range(0) != 0;
  const int nodata_every = static_cast<int>(state.range(1));
  const bool by_row = state.range(2) != 0;
  Field field(nodata_every);
  auto stat = field.Table(2001, with_weights);
  int step = 0;
  for (auto _ : state) {
    Step(*stat, field, step++, by_row);
    benchmark::ClobberMemory();
  }
  stat->CleanUp();
  // Seconds per cell (shown as e.g. "1.5n" for 1.5 ns).
  state.counters["time/cell"] =
      benchmark::Counter(static_cast<double>(kSize) * kSize,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ZonalStatisticsStep)
    ->ArgNames({"weights", "nodata_every", "by_row"})
    ->Args({1, 0, 0})
    ->Args({0, 0, 0})
    ->Args({1, 10, 0})
    ->Args({1, 0, 1})
    ->Args({1, 10, 1})
    ->Unit(benchmark::kMillisecond);

// Four tables of one module fed from the same cells (each with zone records
// of its own), as a module's cell loop feeds its tables: time per cell for
// the four. Argument: 0 AddCell of the four in turn for every cell, 1 AddRow
// table by table, 2 AddRowToEach.
void BM_FourTablesStep(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  Field field(0);
  std::array<std::vector<velmo::zone_record>, 4> records;
  std::array<std::unique_ptr<velmo::zonalstatistic>, 4> owned;
  std::array<velmo::zonalstatistic*, 4> tables{};
  for (size_t t = 0; t < 4; ++t) {
    records[t] = field.zones;
    int error = 0;
    std::string name = field.file_name + std::to_string(t);
    owned[t] = std::make_unique<velmo::zonalstatistic>(error, nullptr, kNodata, field.weights, kSize, kSize,
                                                       records[t].data(), kZoneCount, 2001, 5, name, nullptr,
                                                       0, nullptr, false);
    owned[t]->WriteHeader("bench", "(default)");
    tables[t] = owned[t].get();
  }
  int step = 0;
  for (auto _ : state) {
    for (auto* table : tables) table->StartStep();
    for (int r = 1; r <= kSize; ++r) {
      const double* row = field.values[r];
      const int* zone = &field.zone_of_cell[static_cast<size_t>(r) * (kSize + 1)];
      const auto zone_of = [zone](int c) { return zone[c]; };
      if (mode == 0) {
        for (int c = 1; c <= kSize; ++c)
          for (size_t t = 0; t < 4; ++t)
            tables[t]->AddCell(r, c, zone[c], row[c] + static_cast<double>(t), 1.0);
      } else if (mode == 1) {
        for (size_t t = 0; t < 4; ++t)
          tables[t]->AddRow(r, 1, kSize, zone_of,
                            [row, t](int c) { return row[c] + static_cast<double>(t); });
      } else {
        velmo::zonalstatistic::AddRowToEach(
            tables, r, 1, kSize, zone_of, [row](size_t t, int c) { return row[c] + static_cast<double>(t); });
      }
    }
    for (auto* table : tables) table->EndStep(2000, 1, 1 + step % 28, step % 24, 0, 1);
    ++step;
    benchmark::ClobberMemory();
  }
  for (size_t t = 0; t < 4; ++t) {
    tables[t]->CleanUp();
    std::filesystem::remove(field.file_name + std::to_string(t));
  }
  state.counters["time/cell"] =
      benchmark::Counter(static_cast<double>(kSize) * kSize,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FourTablesStep)->ArgName("mode")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Formatting and appending one full buffer of 2545 rows of 101 values.
void BM_FlushFullBuffer(benchmark::State& state) {
  Field field(0);
  auto stat = field.Table(2001, true);
  const int capacity = stat->BufferCapacity();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::resize_file(field.file_name, 0);
    for (int s = 0; s < capacity - 1; ++s) {
      stat->StartStep();
      for (int z = 1; z <= kZoneCount; ++z) stat->AddCell(0, 0, z, 0.37 * z + s, 1.0);
      stat->EndStep(2000, 1, 1, 0, 0, 1);
    }
    stat->StartStep();
    state.ResumeTiming();
    stat->EndStep(2000, 1, 2, 0, 0, 1);  // the last row fills the buffer
  }
  stat->CleanUp();
}
BENCHMARK(BM_FlushFullBuffer)->Unit(benchmark::kMillisecond);

}  // namespace
