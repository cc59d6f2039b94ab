// Reservoirs: the outflow of a daily step in 1440 sub-steps of a minute from
// a rule of three seasonal tables of 20 rows, and the balance of a lake of
// 100 x 100 cells (its fluxes, its water from the ponding grid, the level and
// the ponding of every cell, twice a step).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/memory.h"
#include "routing/flow_arrays.h"
#include "routing/reservoir.h"

namespace {

struct Bench {
  std::filesystem::path directory = velmo::bench::ScratchPath("reservoirs");
  std::filesystem::path previous = std::filesystem::current_path();
  std::ostringstream console;
  std::unique_ptr<velmo::MessageStream> messages;
  velmo::flow_arrays flows;

  Bench() {
    std::filesystem::create_directories(directory);
    std::filesystem::current_path(directory);  // the level-volume table goes there
    messages =
        std::make_unique<velmo::MessageStream>((directory / "diag.xml").string(), velmo::kFatal, console);
    flows.Allocate(1, 0, 1);
  }
  ~Bench() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(directory);
  }
  velmo::reservoir_context Context(double dt) const {
    velmo::reservoir_context context;
    context.messages = messages.get();
    context.outlet_code = 1;
    context.dt = dt;
    context.output_directory = directory.string() + "/";
    return context;
  }
  static velmo::reservoir_part Part(const std::string& text) {
    return velmo::ParseRoutingDescription("TG 1 (AE = 1, AV = 1) SP 1 " + text).reservoirs.at(0);
  }
  // Three tables from days 1, 121 and 274, 20 rows up to 2e7 m3.
  static velmo::control_lines Rule() {
    std::vector<std::string> lines = {"[abstraction_rule_reservoir_1]", "20 1 121 274"};
    for (int r = 0; r < 20; ++r) {
      const double v = r * 1e6;
      lines.push_back(std::to_string(v) + " " + std::to_string(r * 0.5) + " " + std::to_string(r * r * 0.05) +
                      " " + std::to_string(r * 0.8));
    }
    return velmo::control_lines(lines);
  }
};

void BM_ReservoirOutflow1440SubSteps(benchmark::State& state) {
  Bench bench;
  velmo::SP_class reservoir(
      bench.Context(1440.0),
      Bench::Part("(file = r.txt, V0 = 8.5e6, A0 = 1e6, W0 = 400, C0 = 0, dTmin = 60)"));
  reservoir.SetUp();
  reservoir.ReadRules(Bench::Rule());
  int day = 0;
  for (auto _ : state) {
    day = day % 365 + 1;
    const velmo::model_date date{0, 0, 1 + (day - 1) % 28, 1 + (day - 1) / 31, 2001};
    // Volumes and inflows within the tables, so that every sub-step looks up a row.
    reservoir.volume = 8.5e6 + 4e6 * std::sin(day * 0.3);
    reservoir.Balance(0.0, 0.0, bench.flows, 6.0 + 4.0 * std::sin(day * 0.1), {}, date);
    benchmark::DoNotOptimize(reservoir.outflow);
  }
}
BENCHMARK(BM_ReservoirOutflow1440SubSteps)->Unit(benchmark::kMicrosecond);

void BM_LakeBalance(benchmark::State& state) {
  Bench bench;
  constexpr int kSide = 100;
  constexpr double kNodata = -9999.0;
  auto grid = [&](double value) {
    velmo::owned_matrix m(velmo::memory_handling().matrix(1, kSide, 1, kSide, 0));
    for (int r = 1; r <= kSide; ++r)
      for (int c = 1; c <= kSide; ++c) m[r][c] = value;
    return m;
  };
  velmo::owned_matrix codes = grid(1), ponding = grid(0), max_ponding = grid(0), zones = grid(1),
                      elevation = grid(0), transpiration = grid(0.1), rain = grid(0.5);
  for (int r = 1; r <= kSide; ++r)
    for (int c = 1; c <= kSide; ++c) {
      elevation.get()[r][c] = 500.0 + 0.001 * ((r * 37 + c * 11) % 400);
      max_ponding.get()[r][c] = (510.0 - elevation.get()[r][c]) * 1000.0;
    }
  velmo::lake_grids lake;
  lake.codes = codes.get();
  lake.ponding = ponding.get();
  lake.max_ponding = max_ponding.get();
  lake.zones = zones.get();
  lake.elevation = elevation.get();
  lake.transpiration = transpiration.get();
  lake.precipitation = rain.get();
  lake.nrows = lake.ncols = kSide;
  lake.cellsize = 10.0;
  lake.nodata = kNodata;
  velmo::reservoir_context context = bench.Context(60.0);
  context.lake = &lake;
  velmo::SP_class reservoir(context, Bench::Part("(file = r.txt, V0 = 5e5, C0 = 0, dTmin = 3600)"));
  reservoir.SetUp();
  reservoir.ReadRules(velmo::control_lines({"[abstraction_rule_reservoir_1]", "2", "0 0", "1e6 2"}));
  int hour = 0;
  for (auto _ : state) {
    hour = hour % 24 + 1;
    reservoir.Balance(0.0, 0.0, bench.flows, 1.5, {}, velmo::model_date{0, hour % 24, 3, 1, 2001});
    benchmark::DoNotOptimize(reservoir.level);
  }
  state.counters["time/cell"] =
      benchmark::Counter(static_cast<double>(kSide) * kSide,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LakeBalance)->Unit(benchmark::kMicrosecond);

}  // namespace
