// netCDF grids of 1000 x 1000 cells: appending a single-precision record, and
// reading one record of an open file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/modelobject.h"
#include "framework/netcdfgrid.h"

namespace velmo {
namespace {

constexpr int kSide = 1000;
constexpr double kCells = static_cast<double>(kSide) * kSide;
// Records of the file the reading benchmark cycles through.
constexpr int kStoredRecords = 8;

// One model object on a 1000 x 1000 domain with a smooth temperature-like
// field, and a file of kStoredRecords records of it.
struct Setup : bench::square_object {
  double** grid = nullptr;

  Setup() : square_object("netcdf", kSide, 100) {
    grid = object->matrix(1, kSide, 1, kSide, kSide);
    for (int r = 1; r <= kSide; ++r)
      for (int c = 1; c <= kSide; ++c)
        grid[r][c] = 8.0 + 6.0 * std::sin(r / 57.0) * std::cos(c / 83.0) + 0.01 * ((r * 31 + c * 17) % 97);
    for (int k = 0; k < kStoredRecords; ++k) object->WriteGrid("stored.asc", grid, false, false, true);
  }
  ~Setup() {
    object->FreeMatrix(grid);
    object->netcdf_reader->CloseAll();
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// Time per cell.
void CountCells(benchmark::State& state) { bench::CountPerCell(state, kCells); }

void BM_AppendFloatRecord(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) s.object->WriteGrid("append.asc", s.grid, false, false, true);
  CountCells(state);
}

void BM_ReadRecordOfOpenFile(benchmark::State& state) {
  Setup& s = Shared();
  const std::string file = s.directory.string() + "/stored.asc.nc";
  std::vector<double> values;
  netcdf_record_info info;
  int record = 0;
  for (auto _ : state) {
    std::string record_path = file;
    s.object->netcdf_reader->ReadRecord(values, record_path, info, record);
    record = (record + 1) % kStoredRecords;
    benchmark::DoNotOptimize(values.data());
  }
  CountCells(state);
}

void BM_ReadGridFromNetcdf(benchmark::State& state) {
  Setup& s = Shared();
  int record = 0;
  for (auto _ : state) {
    double** m = nullptr;
    s.object->ReadGrid("stored.asc.nc<stored>" + std::to_string(record), m, 0, true, false, 0.0, false);
    record = (record + 1) % kStoredRecords;
    benchmark::DoNotOptimize(m[kSide][kSide]);
    s.object->FreeMatrix(m);
  }
  CountCells(state);
}

BENCHMARK(BM_AppendFloatRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecordOfOpenFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadGridFromNetcdf)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmo
