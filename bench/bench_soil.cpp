// The step of the infiltration and soil models on 1000 x 1000 cells in 100
// subbasins with travel times of 1 to 20 steps: the time per cell and step
// with the statistics tables off, and with the three per-cell tables (drainage
// storage, interflow storage, soil moisture) and the per-subbasin tables on.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "landsurface/infilt.h"
#include "setup/settings.h"
#include "setup/tables.h"

namespace {

constexpr int kSize = 1000;
constexpr int kBlocksPerSide = 10;  // 10 x 10 subbasins of 100 x 100 cells
constexpr int kBlock = kSize / kBlocksPerSide;
constexpr double kNodata = -9999.0;

// The sections of the two models; the per-subbasin tables get
// `subbasin_tables`, the three per-cell tables `cell_tables` as their code.
std::string ControlText(int subbasin_tables, int cell_tables) {
  std::ostringstream t;
  t << "[soil_model]\n1\n60\n2 method\n";
  for (const char* g : {"sd", "suz", "sif", "sbia", "nfkia", "ssp", "qd", "qi"}) t << g << ".asc\n0\n";
  t << "peak.asc\n";
  for (const char* s : {"qd", "qi", "qb", "qbb", "qg"}) t << s << ".stat " << subbasin_tables << "\n";
  for (const char* s : {"sb", "suz", "sif"}) t << s << ".stat " << cell_tables << "\n";
  t << "sd.stat " << subbasin_tables << "\n";
  t << "1 100 codes\n0.02 0.03\n1e-5 2e-5\n1 0.5\n2 3\n10 20\n5 8\n50 80\n0.05 0.08\n0 0\n2 4\n0.5 0.4\n"
       "4 6\n0.5 0.6\n0.3 0.2\n0\nstate.txt\n"
    << "[infiltration_model]\n1\n60\ninfex.asc\n0\ninfex.stat 0\nsat.asc\n0\n0.3\n";
  return t.str();
}

// A catchment of 100 subbasins and the grids the two models read.
struct Catchment {
  std::filesystem::path dir = velmo::bench::ScratchPath("soil");
  std::filesystem::path previous = std::filesystem::current_path();
  std::ostringstream console;
  std::unique_ptr<velmo::MessageStream> messages;
  std::unique_ptr<velmo::grid_table> table;
  velmo::memory_handling memory;
  std::vector<velmo::owned_matrix> grids;
  std::vector<velmo::row_range> ranges = std::vector<velmo::row_range>(kSize + 1, velmo::row_range{1, kSize});
  std::vector<velmo::soil_table_entry> soils = std::vector<velmo::soil_table_entry>(3);
  velmo::model_settings settings;

  Catchment() {
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);  // "modell.log" goes here
    messages = std::make_unique<velmo::MessageStream>((dir / "diag.xml").string(), 1, console);
    table = std::make_unique<velmo::grid_table>(messages.get());
    soils[0].code = 2;
    soils[1].drainable_porosity = 0.2;
    soils[1].suction = 300.0;
    soils[2].drainable_porosity = 0.1;
    soils[2].suction = 100.0;
    settings.soil_table = soils.data();
    settings.nrows = settings.last_row = settings.ncols = kSize;
    settings.first_row = 1;
    settings.nodata_value = kNodata;
    settings.cellsize = 100.0;
    settings.row_ranges = ranges.data();
    settings.message_interval = 0;

    auto block = [](int r, int c) { return (r - 1) / kBlock * kBlocksPerSide + (c - 1) / kBlock + 1; };
    auto within = [](int r, int c) { return ((r - 1) % kBlock) + ((c - 1) % kBlock); };  // 0..198
    Add("[zone_grid]", [&](int r, int c) { return block(r, c); });
    Add("zonegrid_soilmodel", [&](int r, int c) { return block(r, c); });
    Add("RelCellArea", [](int r, int c) { return 0.9 + 0.0002 * ((r * 7 + c) % 1000); });
    Add("hydraulic_conductivity", [](int r, int c) { return 1e-6 * (1 + (r + 3 * c) % 20); });
    Add("topographic_faktor", [&](int r, int c) { return 5.0 + 0.05 * within(r, c); });
    Add("soil_storage", [](int r, int c) { return 0.3 + 0.001 * ((r + c) % 600); });
    Add("available_soil_moisture", [](int r, int c) { return 50.0 + (r * c) % 150; });
    Add("root_depth1", [](int r, int c) { return 0.2 + 0.001 * ((r + 2 * c) % 1000); });
    Add("soil_types", [](int r, int c) { return 1.0 + (r + c) % 2; });
    Add("fillable_porosity", [](int, int) { return 0.3; });
    // Travel times of 1 to 20 steps of an hour, by distance from the outlet corner.
    Add("flow_times", [&](int r, int c) { return 3600.0 * (1 + within(r, c) / 10) - 1.0; });
    Add("precipitation", [](int, int) { return 0.0; });
  }
  ~Catchment() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }

  template <typename F>
  void Add(const std::string& name, F value) {
    grids.emplace_back(memory.matrix(1, kSize, 1, kSize, 0));
    double** data = grids.back().get();
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) data[r][c] = value(r, c);
    const int index = table->FirstFreeEntry();
    (*table)[index].name = name;
    (*table)[index].data = data;
    (*table)[index].file_name = name + ".asc";
  }

  std::unique_ptr<velmo::infiltrationsmodellklasse> Model(int subbasin_tables, int cell_tables) {
    settings.control_file_name = (dir / "control.intern").string();
    std::ofstream(settings.control_file_name) << ControlText(subbasin_tables, cell_tables);
    auto model = std::make_unique<velmo::infiltrationsmodellklasse>(messages.get(), settings, table.get());
    model->LinkInputGrids(false);
    return model;
  }

  // Input of a step: a storm every sixth step (infiltration excess on the
  // tighter soils), drizzle between.
  void Rain(double** water, int step) {
    const double base = step % 6 == 0 ? 30.0 : 0.5;
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) water[r][c] = base + 0.001 * ((r + c) % 100);
  }
};

void Run(benchmark::State& state, int subbasin_tables, int cell_tables) {
  Catchment catchment;
  auto model = catchment.Model(subbasin_tables, cell_tables);
  double** water = model->input_water;
  int step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    catchment.Rain(water, step);
    state.ResumeTiming();
    model->RunTimeStep(0, 1 + step % 23, 1 + step / 24 % 28, 6, 2001);
    ++step;
    benchmark::ClobberMemory();
  }
  model->CleanUp();
  state.counters["time/cell"] =
      benchmark::Counter(static_cast<double>(kSize) * kSize,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Both models, tables off.
void BM_SoilStep(benchmark::State& state) { Run(state, 0, 0); }
BENCHMARK(BM_SoilStep)->Unit(benchmark::kMillisecond);

// With the six per-subbasin tables (a column per subbasin, a row each step).
void BM_SoilStepSubbasinTables(benchmark::State& state) { Run(state, 2001, 0); }
BENCHMARK(BM_SoilStepSubbasinTables)->Unit(benchmark::kMillisecond);

// With the three per-cell tables: each adds a pass over the cells.
void BM_SoilStepCellTables(benchmark::State& state) { Run(state, 0, 2001); }
BENCHMARK(BM_SoilStepCellTables)->Unit(benchmark::kMillisecond);

}  // namespace
