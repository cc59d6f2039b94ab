// One hourly step of the snow model on 1000 x 1000 cells in ten zones, with
// cells that snow, rain and melt: the degree-day method with its eight zone
// statistics tables (daily rows, weighted by "RelCellArea") and without
// them, the rain-on-snow index, and the degree-day method with slides. The
// date moves on an hour per step, so the daily land-use albedo is paid as
// in a run. With every cell glacierised: static glaciers (glacier method 1)
// and dynamic ones (11, with a firn stack of three levels on the upper
// cells), their tables and storages; the yearly update is not timed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "snow/snowmod.h"

namespace {

using namespace velmo;

constexpr int kSize = 1000;
constexpr double kCell = 100.0;
constexpr int kZones = 10;

class Domain {
 public:
  Domain() {
    std::filesystem::create_directories(dir_);
    out_ = dir_.string() + "/";
    grid("zones", [](int r, int) { return static_cast<double>((r - 1) / 100 + 1); });
    grid("dem", [](int r, int c) { return 400.0 + 2.0 * r + c; });
    grid("RelCellArea", [](int, int c) { return 0.95 + 0.0001 * c; });
    grid("MPIRegions", [](int, int) { return 0.0; });
    grid("zonegrid_soilmodel", [](int r, int) { return static_cast<double>((r - 1) / 100 + 1); });
    grid("albedo", [](int, int) { return 0.2; });
    grid("landuse1", [](int, int) { return 1.0; });
    grid("precipitation", [](int r, int c) { return (r + c) % 3 == 0 ? 0.0 : 0.4; });
    grid("temperature", [](int r, int c) { return -3.0 + 6.0 * std::sin(0.01 * r) * std::cos(0.013 * c); });
    grid("wind_speed", [](int, int c) { return 1.0 + 0.002 * c; });
    grid("slope_angle", [](int r, int c) { return static_cast<double>((r * 7 + c * 13) % 60); });
    for (const char* name : {"slidefraction1", "slidefraction2", "slidefraction3", "slidefraction4"})
      grid(name, [](int, int) { return 0.25; });

    zones_.assign(kZones + 1, zone_record{});
    zones_[0].area_fraction = kSize * kCell * kSize * kCell / 1e6;
    for (int z = 1; z <= kZones; ++z) {
      zones_[static_cast<size_t>(z)].code = z;
      zones_[static_cast<size_t>(z)].area_fraction = 0.1;
      zone_map_[static_cast<size_t>(z)] = z;
    }
    landuse_.resize(2);
    landuse_[0].code = 1;
    landuse_[1].ParsePositional(
        &messages_,
        "1 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 "
        "0.03 0.01 0.5 0.8 0.9 0.5 0.1 0.2 0.3 0.1");
    ranges_.assign(kSize + 1, row_range{1, kSize});
    settings_.control_file_name = (dir_ / "bench.ctl").string();
    settings_.timestep = 60;
    settings_.latitude = 47.0;
    settings_.longitude = 8.5;
    settings_.reference_meridian = 15.0;
    settings_.zone_table = zones_.data();
    settings_.zone_code_map = zone_map_.data();
    settings_.zone_count = kZones;
    settings_.max_zone_code = kZones;
    settings_.row_ranges = ranges_.data();
    settings_.ncols = settings_.nrows = kSize;
    settings_.first_row = 1;
    settings_.last_row = kSize;
    settings_.cellsize = kCell;
    settings_.nodata_value = -9999.0;
    settings_.landuse_table = landuse_.data();
    settings_.DefaultOutputDirectory = &out_;
    settings_.startday = settings_.startmonth = 1;
    settings_.startyear = 2000;
    settings_.endday = 31;
    settings_.endmonth = 12;
    settings_.endyear = 2001;
  }
  ~Domain() { std::filesystem::remove_all(dir_); }

  // The snow model of `method` with statistics tables of `code` (0: none),
  // with 50 mm of snow on every cell; glaciers of `glacier_method` (0: none)
  // cover every cell.
  std::unique_ptr<schneemodellklasse> Snow(int method, int code, int glacier_method = 0) {
    const std::string s = " " + std::to_string(code) + "\n";
    std::ofstream control(dir_ / "bench.ctl");
    control << "[snow_model]\n1\n60\n"
            << method << "\n1.0\n0.0\n0.0\n0.1\n0.5\n3\n2\n0.5\n0.01\n1\n3\n0.4\n0.9\n"
            << "rain.asc\n0\nrain.stat" << s << "snow.asc\n0\nsnow.stat" << s << "days.asc\n0\ndays.stat" << s
            << "age.asc\n0\nage.stat" << s << "albedo.stat" << s << "outflow.asc\n0\noutflow.stat" << s
            << "melt.asc\n0\nmelt.stat" << s << "solid.asc\n0\nliquid.asc\n0\nstorage.stat" << s
            << "total.asc\n0\n0\n";
    if (method >= 5)
      control << "st.asc\n0\nst.stat 0\nsf.asc\n0\nsf.stat 0\nin.asc\n0\nin.stat" << s
              << "mob.asc\n0\nmob.stat" << s << "dep.asc\n0\ndep.stat" << s << "55\n1\n30\n0.01\n1\n1\n1\n";
    if (glacier_method > 0) {
      control << "[ice_firn]\n"
              << glacier_method << "\n6\n4\n3\n2\n0.0005\n0.001\n0.0003\n0.0006\n10\n20\n5\n0\n0\n0\n"
              << "firnmelt.asc\n0\nqfirn.stat" << s << "icemelt.asc\n0\nqice.stat" << s << "qglac.stat" << s;
      if (glacier_method > 10) {
        control << "qsnow.stat" << s << "0\n3 2500 0.1\n30 9\n28.5 1.36 2 0\nfirn.stk\n0\nfirn.stat" << s
                << "mb.asc\n0\nmbold.asc\n0\nmb1.stat" << s << "mb2.stat" << s << "1.0\nwithout.stat" << s;
        for (const char* grid : {"gs", "gl", "gt", "gm", "gsurf", "gtemp", "gevap"})
          control << grid << ".asc\n0\n";
        control << "1000 0.25\n";
      }
      const char* shares = glacier_method > 10 ? "GlacierizedCells" : "ice_firn";
      grid(shares, [](int, int) { return 1.0; });
      grid("GlacierCodes", [](int r, int) { return static_cast<double>((r - 1) / 100 + 1); });
    }
    control.close();
    for (int i = first_module_entry_; i < kGridTableLimit; ++i) table_[i].SetInitialState();
    auto snow = std::make_unique<schneemodellklasse>(&messages_, settings_, &table_);
    double** solid = snow->GetSnowStorageGrid();
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) solid[r][c] = 50.0;
    snow->LinkInputGrids(false);
    snow->SetSubbasinRunoff(nullptr);
    return snow;
  }

 private:
  template <typename F>
  void grid(const char* name, F value) {
    owned_.emplace_back(memory_.matrix(1, kSize, 1, kSize, 0), 1, kSize, kSize);
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) owned_.back()[r][c] = value(r, c);
    const int index = first_module_entry_++;
    table_[index].name = name;
    table_[index].file_name = name;
    table_[index].data = owned_.back().get();
  }

  std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("velmo_bench_snow_" + std::to_string(getpid()));
  std::string out_;
  std::ofstream null_{"/dev/null"};
  MessageStream messages_{(dir_ / "diag.xml").string(), 0, null_};
  grid_table table_{&messages_};
  int first_module_entry_ = 1;
  memory_handling memory_;
  std::vector<owned_matrix> owned_;
  std::vector<zone_record> zones_;
  std::vector<int> zone_map_ = std::vector<int>(kZones + 1, 0);
  std::vector<landuse_table_entry> landuse_;
  std::vector<row_range> ranges_;
  model_settings settings_;
};

void RunSteps(benchmark::State& state, int method, int statistics_code, int glacier_method = 0) {
  Domain domain;
  auto snow = domain.Snow(method, statistics_code, glacier_method);
  long step = 0;
  for (auto _ : state) {
    const int hour = static_cast<int>(step % 24) + 1;
    const int day = static_cast<int>(step / 24 % 28) + 1;
    const int month = static_cast<int>(step / (24 * 28) % 12) + 1;
    snow->RunTimeStep(0, hour, day, month, 2000);
    snow->RunGlacierStep(0, hour, day, month, 2000);
    benchmark::DoNotOptimize(snow->GetSnowStorageGrid()[kSize / 2][kSize / 2]);
    ++step;
  }
  // Seconds per cell and step ("20n" = 20 ns).
  state.counters["per_cell"] = benchmark::Counter(static_cast<double>(state.iterations()) * kSize * kSize,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  snow->CleanUp();
}

void BM_DegreeDayWithStatistics(benchmark::State& state) { RunSteps(state, 1, 2024); }
void BM_DegreeDayWithoutStatistics(benchmark::State& state) { RunSteps(state, 1, 0); }
void BM_RainOnSnowWithStatistics(benchmark::State& state) { RunSteps(state, 3, 2024); }
void BM_DegreeDaySlidesWithStatistics(benchmark::State& state) { RunSteps(state, 8, 2024); }
void BM_StaticGlaciersWithStatistics(benchmark::State& state) { RunSteps(state, 1, 2024, 1); }
void BM_DynamicGlaciersWithStatistics(benchmark::State& state) { RunSteps(state, 1, 2024, 11); }

BENCHMARK(BM_DegreeDayWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DegreeDayWithoutStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RainOnSnowWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DegreeDaySlidesWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_StaticGlaciersWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DynamicGlaciersWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
