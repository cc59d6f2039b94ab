// One routing step of 500 elements in a chain: subbasin k flows through the
// channel 2, 10, 10, 50, 10, 30, 20, 0.001, 10000, 100 (31 classes, 17
// sub-channels, 140 storage elements) to the outlet of subbasin k + 1. The
// runoff varies from step to step, so classes and delays change; the step
// includes the discharge table of the 501 subbasins.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "routing/abfluss.h"

namespace {

constexpr int kElements = 500;
constexpr int kSubbasins = kElements + 1;
constexpr const char* kChannel =
    "(kh = 2, kv = 10, Bm = 10, Bv = 50, Tm = 10, Mm = 30, Mv = 20, I = 0.001, L = 10000, AE = 100)";

struct Chain {
  std::filesystem::path directory = velmo::bench::ScratchPath("routing");
  std::filesystem::path previous = std::filesystem::current_path();
  std::ostringstream console;
  std::unique_ptr<velmo::MessageStream> messages;
  std::unique_ptr<velmo::grid_table> grids;
  velmo::model_settings settings;
  std::string output_directory;
  std::vector<velmo::row_range> ranges{2, velmo::row_range{1, 1}};
  std::vector<velmo::zone_record> zones;
  std::vector<int> code_map;
  std::vector<double> runoff;
  double* runoff_rows[1] = {nullptr};
  std::unique_ptr<velmo::abflussmodellklasse> model;

  Chain() {
    std::filesystem::create_directories(directory);
    std::filesystem::current_path(directory);  // the w-q tables go to the working directory
    output_directory = directory.string() + "/";
    messages =
        std::make_unique<velmo::MessageStream>((directory / "diag.xml").string(), velmo::kFatal, console);
    grids = std::make_unique<velmo::grid_table>(messages.get());

    std::ofstream control(directory / "control.intern");
    control << "[output_interval]\n0\n0\n1\n0\n[routing_model]\n1\n60\n1 1000 30 4\nqstat.txt "
               "2001\nnone.txt\n0\n0\n";
    for (int k = 1; k <= kElements; ++k)
      control << "TG " << k + 1 << " (AE = 1, AV = 1) OL " << k << " " << kChannel << "\n";
    control << "\n";
    control.close();

    zones.push_back(velmo::zone_record{0, 0, 1, 1000.0 * kSubbasins, 0});
    code_map.push_back(0);
    for (int k = 1; k <= kSubbasins; ++k) {
      zones.push_back(velmo::zone_record{0, 0, static_cast<double>(k), 1.0 / kSubbasins, 0});
      code_map.push_back(k);
    }
    settings.control_file_name = (directory / "control.intern").string();
    settings.nrows = settings.last_row = settings.ncols = settings.first_row = 1;
    settings.nodata_value = -9999.0;
    settings.row_ranges = ranges.data();
    settings.startyear = 2000;
    settings.startmonth = settings.startday = settings.starthour = 1;
    settings.DefaultOutputDirectory = &output_directory;
    const velmo::subbasin_zones subbasins{zones.data(), code_map.data(), kSubbasins, kSubbasins};
    model = std::make_unique<velmo::abflussmodellklasse>(messages.get(), settings, grids.get(), subbasins, 0);
    runoff.assign(kSubbasins + 1, 0.1);
    runoff_rows[0] = runoff.data();
    model->SetSubbasinRunoff(runoff_rows);
    model->InitializeRouting();
    model->SetReady(1);
  }
  ~Chain() {
    model->CleanUp();
    model.reset();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(directory);
  }
};

void BM_RoutingStepOfAChain(benchmark::State& state) {
  Chain chain;
  const velmo::wq_table& table = chain.model->Element(1).Row(1).table;
  if (table.sub_channels != 17 || table.storage_elements + 4 != 140)
    state.SkipWithError("unexpected channel");
  int step = 0;
  for (auto _ : state) {
    // Between 0.02 and 0.38 mm per hour: several classes of the table.
    for (int k = 1; k <= kSubbasins; ++k) chain.runoff[k] = 0.2 + 0.18 * std::sin(0.1 * step + 0.01 * k);
    chain.model->RunTimeStep(0, step % 24, 1 + (step / 24) % 28, 1, 2000);
    ++step;
  }
  state.counters["elements"] = kElements;
}
BENCHMARK(BM_RoutingStepOfAChain)->Unit(benchmark::kMicrosecond);

}  // namespace
