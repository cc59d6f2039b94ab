// One interpolation step of a 1000 x 1000 domain from 10 or 50 stations:
// distance weighting (w = 2, all stations valid, and with a third of them
// missing), Thiessen and Thiessen with a lapse rate, statistics off; and the
// distance weighting again with a zone statistics table, whose difference is
// the table's cost. The per-cell station weights and nearest stations are
// built in the first step, outside the timing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "meteo/meteoint.h"
#include "setup/settings.h"

namespace {

using namespace velmo;

constexpr int kSize = 1000;
constexpr double kCell = 100.0;

class Domain {
 public:
  Domain() {
    std::filesystem::create_directories(dir_);
    out_ = dir_.string() + "/";
    auto grid = [this](const char* name, int index, auto value) {
      owned_.emplace_back(memory_.matrix(1, kSize, 1, kSize, 0), 1, kSize, kSize);
      for (int r = 1; r <= kSize; ++r)
        for (int c = 1; c <= kSize; ++c) owned_.back()[r][c] = value(r, c);
      table_[index].name = name;
      table_[index].file_name = name;
      table_[index].data = owned_.back().get();
    };
    // Ten zones of 100 rows each.
    grid("zones", 1, [](int r, int) { return static_cast<double>((r - 1) / 100 + 1); });
    grid("dem", 2, [](int r, int c) { return 200.0 + r + 0.5 * c; });
    grid("RelCellArea", 3, [](int, int) { return 1.0; });
    grid("CoordX", 4, [](int, int c) { return (c - 1) * kCell; });
    grid("CoordY", 5, [](int r, int) { return (kSize - r) * kCell; });
    zones_.resize(11);
    for (int z = 1; z <= 10; ++z) {
      zones_[static_cast<size_t>(z)].code = z;
      zones_[static_cast<size_t>(z)].area_fraction = 0.1;
      zone_map_[static_cast<size_t>(z)] = z;
    }
    ranges_.assign(kSize + 1, row_range{1, kSize});
    settings_.control_file_name = (dir_ / "bench.ctl").string();
    settings_.timestep = 60;
    settings_.zone_table = zones_.data();
    settings_.zone_code_map = zone_map_.data();
    settings_.zone_count = 10;
    settings_.max_zone_code = 10;
    settings_.row_ranges = ranges_.data();
    settings_.ncols = settings_.nrows = kSize;
    settings_.first_row = 1;
    settings_.last_row = kSize;
    settings_.cellsize = kCell;
    settings_.nodata_value = -9999.0;
    settings_.DefaultOutputDirectory = &out_;
    settings_.startday = settings_.endday = 1;
    settings_.startmonth = settings_.endmonth = 1;
    settings_.startyear = settings_.endyear = 2000;
    settings_.starthour = 1;
    settings_.endhour = 2;
  }
  ~Domain() { std::filesystem::remove_all(dir_); }

  // An interpolator of `method` on `stations` stations; a third of the
  // values missing with `gaps`, a statistics table with `statistics`.
  std::unique_ptr<meteointerpol> Interpolator(int method, int stations, bool gaps, bool statistics) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> where(0.0, kSize * kCell), value(0.0, 20.0), height(200, 2000);
    std::string header[3] = {"YY MM DD HH", "YY MM DD HH", "YY MM DD HH"};
    std::string record = "2000 1 1 1";
    for (int i = 0; i < stations; ++i) {
      header[0] += " " + std::to_string(height(random));
      header[1] += " " + std::to_string(where(random));
      header[2] += " " + std::to_string(where(random));
      record += gaps && i % 3 == 0 ? " -99999" : " " + std::to_string(value(random));
    }
    std::ofstream(dir_ / "stations.txt") << "bench\n"
                                         << header[0] << "\n"
                                         << header[1] << "\n"
                                         << header[2] << "\nnames\n"
                                         << record << "\n";
    std::ofstream(dir_ / "bench.ctl") << "[v]\n"
                                      << method << "\n"
                                      << (dir_ / "stations.txt").string() << "\n"
                                      << (method == kLapseRateMethod ? "-0.0065 1000 0.002" : "none") << "\n"
                                      << "v.asc\n0\n1\n"
                                      << (statistics ? "v.stat 2001" : "v.stat 0") << "\n"
                                      << "999\n2\n1\n1000000\n0\n1\n-1e9\n-1e9\n1e9\n1e9\n0\n";
    for (int i = 6; i < 20; ++i) table_[i].SetInitialState();
    int error = 0;
    return std::make_unique<meteointerpol>(error, &messages_, "v", settings_, &table_, 6);
  }

 private:
  std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("velmo_bench_interpolation_" + std::to_string(getpid()));
  std::string out_;
  std::ofstream null_{"/dev/null"};
  MessageStream messages_{(dir_ / "diag.xml").string(), 0, null_};
  grid_table table_{&messages_};
  memory_handling memory_;
  std::vector<owned_matrix> owned_;
  std::vector<zone_record> zones_;
  std::vector<int> zone_map_ = std::vector<int>(11, 0);
  std::vector<row_range> ranges_;
  model_settings settings_;
};

Domain& TheDomain() {
  static Domain domain;
  return domain;
}

void RunSteps(benchmark::State& state, int method, bool gaps, bool statistics) {
  auto interpolator = TheDomain().Interpolator(method, static_cast<int>(state.range(0)), gaps, statistics);
  interpolator->InterpolateStep(0, 1, 1, 1, 2000);  // builds what the run does not change
  for (auto _ : state) {
    interpolator->InterpolateStep(0, 1, 1, 1, 2000);
    benchmark::DoNotOptimize(interpolator->ResultGrid()[kSize / 2][kSize / 2]);
  }
  // Seconds per cell and step ("13n" = 13 ns).
  state.counters["per_cell"] = benchmark::Counter(static_cast<double>(state.iterations()) * kSize * kSize,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  interpolator->CleanUp();
}

void BM_Idw(benchmark::State& state) { RunSteps(state, kIdwMethod, false, false); }
void BM_IdwWithGaps(benchmark::State& state) { RunSteps(state, kIdwMethod, true, false); }
void BM_Thiessen(benchmark::State& state) { RunSteps(state, kThiessenMethod, false, false); }
void BM_ThiessenLapseRate(benchmark::State& state) { RunSteps(state, kLapseRateMethod, false, false); }
void BM_IdwWithStatistics(benchmark::State& state) { RunSteps(state, kIdwMethod, false, true); }

BENCHMARK(BM_Idw)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdwWithGaps)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Thiessen)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThiessenLapseRate)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdwWithStatistics)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
