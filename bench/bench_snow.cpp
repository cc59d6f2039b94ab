// One hourly step of the snow model on 1000 x 1000 cells in ten zones, with
// cells that snow, rain and melt: the degree-day method with its eight zone
// statistics tables (daily rows, weighted by "RelCellArea") and without
// them, the rain-on-snow index, and the degree-day method with slides. The
// date moves on an hour per step, so the daily land-use albedo is paid as
// in a run. With every cell glacierised: static glaciers (glacier method 1)
// and dynamic ones (11, with a firn stack of three levels on the upper
// cells), their tables and storages; the yearly update is not timed. The
// energy balance (method 5) runs on a cover of 50 mm renewed before every
// step, once with cold air (surface iteration, pack, deposition) and once
// with warm air (melt, wet bulb). The interception model's step runs with the
// snow canopy (method 21), with its energy balance over snow (31), on a
// canopy too small to hold snow (21), and without the snow canopy (11) as
// the reference.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "landsurface/interzep.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "snow/snowmod.h"

namespace {

using namespace velmo;

constexpr int kSize = 1000;
constexpr double kCell = 100.0;
constexpr int kZones = 10;

class Domain : public bench::grid_domain {
 public:
  Domain() : grid_domain("snow", kSize) {
    grid("zones", [](int r, int) { return static_cast<double>((r - 1) / 100 + 1); });
    grid("[elevation_model]", [](int r, int c) { return 400.0 + 2.0 * r + c; });
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
    // The energy balance's and the snow canopy's weather.
    grid("air_humidity", [](int r, int) { return 0.6 + 0.0003 * r; });
    grid("AspectCorrectedGlobalRadiation", [](int, int c) { return 100.0 + 0.2 * c; });
    grid("cloudiness", [](int r, int c) { return 0.001 * ((r + c) % 1000); });
    grid("snow_evaporation", [](int, int) { return 0.0; });
    // One layer of trees and what the evapotranspiration model leaves for
    // the interception; the snow model's cover for the canopy balance.
    // Patches of forest 100 cells wide, each of its own leaf area.
    grid("leaf_area_index1", [](int, int c) { return 2.0 + 0.1 * ((c - 1) / 100); });
    grid("vegetation_coverage_degree1", [](int, int) { return 0.8; });
    grid("RoughnessLength1", [](int, int) { return 1.5; });
    grid("SurfaceCanopyResistance1", [](int, int) { return 80.0; });
    grid("SurfaceIntercepResistance1", [](int, int) { return 0.0; });
    for (const char* name : {"pot_transpiration0", "pot_transpiration1", "potential_InterceptionEvap0",
                             "potential_InterceptionEvap1", "real_transpiration0", "real_transpiration1"})
      grid(name, [](int, int) { return 0.05; });
    grid("snow_storage_total", [](int r, int) { return r % 4 == 0 ? 0.0 : 50.0; });
    grid("surftemp", [](int, int) { return 268.0; });

    SquareSettings(kCell, kZones);
    zones_[0].area_fraction = kSize * kCell * kSize * kCell / 1e6;
    landuse_.resize(2);
    landuse_[0].code = 1;
    landuse_[1].ParsePositional(
        &messages_,
        "1 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 "
        "0.03 0.01 0.5 0.8 0.9 0.5 0.1 0.2 0.3 0.1");
    settings_.latitude = 47.0;
    settings_.longitude = 8.5;
    settings_.reference_meridian = 15.0;
    settings_.landuse_table = landuse_.data();
    settings_.startday = settings_.startmonth = 1;
    settings_.startyear = 2000;
    settings_.endday = 31;
    settings_.endmonth = 12;
    settings_.endyear = 2001;
  }

  // Sets every cell of grid `name` to value(r, c).
  template <typename F>
  void Set(const char* name, F value) {
    for (int i = 1; i < first_module_entry_; ++i) {
      if (table_[i].name != name) continue;
      for (int r = 1; r <= kSize; ++r)
        for (int c = 1; c <= kSize; ++c) table_[i].data[r][c] = value(r, c);
    }
  }

  // The interception model of `method` with the snow canopy's thresholds.
  std::unique_ptr<interzeptionsmodellklasse> Interception(int method, double min_leaf_area) {
    std::ofstream control(dir_ / "bench.ctl");
    control << "[interception_model]\n1\n60\n"
            << method << "\ntf.asc\n0\ntf.stat 0\nei.asc\n0\nei.stat 0\nsi.asc\n0\nsi.stat 0\n0.2\n0\n";
    if (method > 20) {
      for (int k = 0; k < 10; ++k) control << "scn.asc\n0\nscn.stat 0\n";
      control << min_leaf_area << "\n0.1\n1.0\n";
      if (method > 30)
        for (int k = 0; k < 4; ++k) control << "ceb.asc\n0\nceb.stat 0\n";
    }
    control.close();
    for (int i = first_module_entry_; i < kGridTableLimit; ++i) table_[i].SetInitialState();
    auto interception = std::make_unique<interzeptionsmodellklasse>(&messages_, settings_, &table_);
    interception->SetSnowParameters(1.0, 0.0);
    return interception;
  }

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
      control << "st.asc\n0\nst.stat" << s << "sf.asc\n0\nsf.stat" << s << "in.asc\n0\nin.stat" << s
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
    Grid(name, first_module_entry_++, value);
  }

  int first_module_entry_ = 1;
  std::vector<landuse_table_entry> landuse_;
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
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);
  snow->CleanUp();
}

void BM_DegreeDayWithStatistics(benchmark::State& state) { RunSteps(state, 1, 2024); }
void BM_DegreeDayWithoutStatistics(benchmark::State& state) { RunSteps(state, 1, 0); }
void BM_RainOnSnowWithStatistics(benchmark::State& state) { RunSteps(state, 3, 2024); }
void BM_DegreeDaySlidesWithStatistics(benchmark::State& state) { RunSteps(state, 8, 2024); }
void BM_StaticGlaciersWithStatistics(benchmark::State& state) { RunSteps(state, 1, 2024, 1); }
void BM_DynamicGlaciersWithStatistics(benchmark::State& state) { RunSteps(state, 1, 2024, 11); }

// The energy balance on a cover renewed before each step, in air of `t_air`
// °C (± 2 K across the domain).
void EnergyBalanceSteps(benchmark::State& state, double t_air) {
  Domain domain;
  domain.Set("temperature",
             [t_air](int r, int c) { return t_air + 2.0 * std::sin(0.01 * r) * std::cos(0.013 * c); });
  domain.Set("precipitation", [](int r, int c) { return (r + c) % 7 == 0 ? 0.4 : 0.0; });
  auto snow = domain.Snow(5, 0);
  double** solid = snow->GetSnowStorageGrid();
  long step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) solid[r][c] = 50.0;
    state.ResumeTiming();
    const int hour = static_cast<int>(step % 24) + 1;
    snow->RunTimeStep(0, hour, 10, 1, 2000);
    snow->RunGlacierStep(0, hour, 10, 1, 2000);
    benchmark::DoNotOptimize(solid[kSize / 2][kSize / 2]);
    ++step;
  }
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);
  snow->CleanUp();
}

void BM_EnergyBalanceCold(benchmark::State& state) { EnergyBalanceSteps(state, -6.0); }
void BM_EnergyBalanceWarm(benchmark::State& state) { EnergyBalanceSteps(state, 4.0); }

void InterceptionSteps(benchmark::State& state, int method, double min_leaf_area) {
  Domain domain;
  auto interception = domain.Interception(method, min_leaf_area);
  long step = 0;
  for (auto _ : state) {
    const int hour = static_cast<int>(step % 24) + 1;
    interception->RunTimeStep(0, hour, 10, 1, 2000);
    ++step;
  }
  bench::CountPerCell(state, static_cast<double>(kSize) * kSize);
  interception->CleanUp();
}

void BM_InterceptionWithoutSnowCanopy(benchmark::State& state) { InterceptionSteps(state, 11, 1.0); }
void BM_SnowCanopy(benchmark::State& state) { InterceptionSteps(state, 21, 1.0); }
void BM_SnowCanopyEnergyBalance(benchmark::State& state) { InterceptionSteps(state, 31, 1.0); }
void BM_SnowCanopyTooSmall(benchmark::State& state) { InterceptionSteps(state, 21, 100.0); }

BENCHMARK(BM_DegreeDayWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DegreeDayWithoutStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RainOnSnowWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DegreeDaySlidesWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_StaticGlaciersWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DynamicGlaciersWithStatistics)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EnergyBalanceCold)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EnergyBalanceWarm)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_InterceptionWithoutSnowCanopy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SnowCanopy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SnowCanopyEnergyBalance)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SnowCanopyTooSmall)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
