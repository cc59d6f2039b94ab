// The land-surface steps on 1000 x 1000 cells of hilly terrain: the
// radiation correction per cell and sub-step with and without shadows, the
// potential evapotranspiration per cell and step with Penman-Monteith (one
// layer, hourly steps through a summer day) and Hamon (daily steps), and the
// steps that turn the potential rates into water taken from snow, canopy and
// soil (snow evaporation, interception, real evapotranspiration).
// Statistics are off unless the benchmark says so; with them the difference
// is the cost of the tables.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "landsurface/etpetr.h"
#include "landsurface/expokorr.h"
#include "landsurface/interzep.h"
#include "landsurface/layer_names.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "setup/teilmod.h"

namespace velmo {
namespace {

constexpr int kSize = 1000;
constexpr double kCellSize = 100.0;  // m
constexpr double kNodata = -9999.0;
constexpr double kCells = static_cast<double>(kSize) * kSize;

class Domain {
 public:
  Domain()
      : directory_(velmo::bench::ScratchPath("et")),
        stream_((std::filesystem::create_directories(directory_), (directory_ / "diag.xml").string()), kFatal,
                console_),
        grids_(&stream_) {
    output_directory_ = directory_.string() + "/";
    settings_.control_file_name = (directory_ / "control.intern").string();
    settings_.DefaultOutputDirectory = &output_directory_;
    settings_.message_interval = 0;
    settings_.latitude = 47.0;
    settings_.longitude = 8.0;
    settings_.reference_meridian = 15.0;
    settings_.endyear = 2001;
    settings_.endmonth = 1;
    settings_.endday = 1;
    settings_.nrows = settings_.last_row = settings_.ncols = kSize;
    settings_.first_row = 1;
    settings_.nodata_value = kNodata;
    settings_.cellsize = kCellSize;
    ranges_.assign(kSize + 1, row_range{1, kSize});
    settings_.row_ranges = ranges_.data();

    // Ten zones of bands from north to south; hills of 300 m relief.
    double** zone = Add("zone", 0.0);
    double** elevation = Add("[elevation_model]", 0.0);
    double** slope = Add("slope_angle", 0.0);
    double** aspect = Add("slope_aspect", 0.0);
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        zone[r][c] = 1 + (r - 1) / (kSize / 10);
        elevation[r][c] = 800.0 + 150.0 * std::sin(r * 0.031) + 150.0 * std::cos(c * 0.023);
      }
    for (int r = 2; r < kSize; ++r)
      for (int c = 2; c < kSize; ++c) {
        const double east = (elevation[r][c + 1] - elevation[r][c - 1]) / (2.0 * kCellSize);
        const double north = (elevation[r - 1][c] - elevation[r + 1][c]) / (2.0 * kCellSize);
        slope[r][c] = std::atan(std::hypot(east, north)) * kDegreesPerRadian;
        aspect[r][c] = std::fmod(std::atan2(-east, -north) * kDegreesPerRadian + 360.0, 360.0);
      }
    RankZones(zone, kSize, kSize, ranges_.data(), kNodata, nullptr, kCellSize, ranking_);
    settings_.zone_table = ranking_.zones.data();
    settings_.zone_code_map = ranking_.code_map.data();
    settings_.zone_count = ranking_.zone_count;
    settings_.max_zone_code = ranking_.max_code;

    landuse_table_.resize(2);
    landuse_table_[0].code = 1;
    landuse_table_[1].ETPHamonFactor = 1.1;
    settings_.landuse_table = landuse_table_.data();

    Add("temperature", 18.0);
    Add("temperature_night", 18.0);
    Add("wind_speed", 2.5);
    Add("air_humidity", 0.6);
    double** radiation = Add("global_radiation", 0.0);
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) radiation[r][c] = 300.0 + 0.2 * ((r * 7 + c * 13) % 1000);
    Add("albedo", 0.2);
    Add("SurfaceEvaporationResistance", 250.0);
    Add("soil_storage", 0.5);
    Add("available_soil_moisture", 150.0);
    // Rain on half the cells, snow on a tenth.
    double** rain = Add("precipitation", 0.0);
    double** snow = Add("snow_storage", 0.0);
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        rain[r][c] = (r + c) % 2 == 0 ? 0.8 : 0.0;
        snow[r][c] = (r * 3 + c) % 10 == 0 ? 2.0 : 0.0;
      }
    for (const auto& [name, value] : {std::pair<const char*, double>{"landuse", 1.0},
                                      {"leaf_area_index", 3.0},
                                      {"root_depth", 0.6},
                                      {"vegetation_coverage_degree", 0.8},
                                      {"SurfaceCanopyResistance", 60.0},
                                      {"SurfaceIntercepResistance", 10.0},
                                      {"RoughnessLength", 0.1}})
      Add(LayerGridName(name, 1), value);
  }
  ~Domain() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  template <typename Module>
  std::unique_ptr<Module> Make(const std::string& control) {
    std::ofstream(settings_.control_file_name) << control;
    return std::make_unique<Module>(&stream_, settings_, &grids_);
  }

  double** Find(const std::string& name) {
    for (int i = 1; i < kGridTableLimit && grids_[i].in_use(); ++i)
      if (grids_[i].name == name) return grids_[i].data;
    return nullptr;
  }

 private:
  double** Add(const std::string& name, double value) {
    owned_.emplace_back(memory_.matrix(1, kSize, 1, kSize, 0));
    double** data = owned_.back().get();
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) data[r][c] = value;
    const int index = grids_.FirstFreeEntry();
    grids_[index].name = name;
    grids_[index].data = data;
    return data;
  }

  std::filesystem::path directory_;
  std::ostringstream console_;
  MessageStream stream_;
  grid_table grids_;
  model_settings settings_;
  std::string output_directory_;
  std::vector<row_range> ranges_;
  zone_ranking ranking_;
  memory_handling memory_;
  std::deque<owned_matrix> owned_;
  std::vector<landuse_table_entry> landuse_table_;
};

Domain& SharedDomain() {
  static Domain domain;
  return domain;
}

std::string RadiationSection(int method, int sub_steps) {
  std::ostringstream t;
  t << "[radiation_correction]\n1\n60\n"
    << method << "\ntk.asc\n0\n1.0\nex.asc\n0\nsh.asc\n0\n1\n"
    << sub_steps << "\n";
  return t.str();
}

std::string EvapotranspirationSection(int method, int interval, int stat_code) {
  std::ostringstream t;
  t << "[evapotranspiration]\n1\n"
    << interval << "\n"
    << method << "\n1 1 1 1 1 1 1 1 1 1 1 1\n0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3\n1.0\n";
  for (const char* stem : {"etp", "etr", "evap", "evar", "esnow", "eip"})
    t << stem << ".asc\n0\n" << stem << ".stat " << stat_code << "\n";
  t << "rgex.stat " << stat_code << "\n0.23 0.29 0.28 0.2\n0.072 -0.808 1.749 -0.239\n0.7 0.05\n1000\n"
    << "10 10 10 10 10 10 10 10 10 10 10 10\n0.6 0.0\ncloud.stat " << stat_code << "\n\n";
  return t.str();
}

// Radiation correction of an hourly step around noon in June with four
// sub-steps: time per cell and sub-step. Argument: 1 casts shadows.
void BM_RadiationCorrection(benchmark::State& state) {
  const bool shadows = state.range(0) != 0;
  constexpr int kSubSteps = 4;
  auto module = SharedDomain().Make<expokorrklasse>(RadiationSection(shadows ? 1 : 3, kSubSteps));
  for (auto _ : state) {
    module->RunTimeStep(0, 13, 21, 6, 2000);
    benchmark::DoNotOptimize(module->horizontal_radiation);
  }
  state.counters["per_cell_substep"] = benchmark::Counter(
      kCells * kSubSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  module->CleanUp();
}
BENCHMARK(BM_RadiationCorrection)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Penman-Monteith, one layer, the 24 hourly steps of 21 June in turn (day,
// night and the steps around sunrise and sunset): time per cell and step.
// Argument: 1 writes the statistics tables (eight with this method).
void BM_PenmanMonteithHourly(benchmark::State& state) {
  const int stat_code = state.range(0) != 0 ? 1001 : 0;
  auto module = SharedDomain().Make<verdunstungsmodellklasse>(EvapotranspirationSection(1, 60, stat_code));
  int hour = 0;
  for (auto _ : state) {
    hour = hour % 24 + 1;
    module->PotentialEvapotranspiration(0, hour, 21, 6, 2000);
  }
  state.counters["per_cell_step"] =
      benchmark::Counter(kCells, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  module->CleanUp();
}
BENCHMARK(BM_PenmanMonteithHourly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Hamon, daily steps through June: time per cell and step.
void BM_HamonDaily(benchmark::State& state) {
  auto module = SharedDomain().Make<verdunstungsmodellklasse>(EvapotranspirationSection(2, 1440, 0));
  int day = 0;
  for (auto _ : state) {
    day = day % 30 + 1;
    module->PotentialEvapotranspiration(0, 24, day, 6, 2000);
  }
  state.counters["per_cell_step"] =
      benchmark::Counter(kCells, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  module->CleanUp();
}
BENCHMARK(BM_HamonDaily)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string InterceptionSection(int method) {
  std::ostringstream t;
  t << "[interception_model]\n1\n1440\n"
    << method << "\ntf.asc\n0\ntf.stat 0\nei.asc\n0\nei.stat 0\nsi.asc\n0\nsi.stat 0\n0.2\n0\n";
  return t.str();
}

// Daily steps through June, one layer: snow evaporation, interception and
// real evapotranspiration, time per cell and step. Argument: 0 times the
// three together, 1 snow evaporation, 2 interception, 3 real
// evapotranspiration alone (the others run untimed). Between the steps (not
// timed) Hamon renews the potential rates and the snow and soil get their
// water back, so that every step meets snow, wet canopies and moist soils.
void BM_CanopySnowAndRealEvapotranspiration(benchmark::State& state) {
  const int timed = static_cast<int>(state.range(0));
  Domain& domain = SharedDomain();
  auto evapotranspiration = domain.Make<verdunstungsmodellklasse>(EvapotranspirationSection(2, 1440, 0));
  evapotranspiration->LinkSoilGrids();
  double** snow = domain.Find("snow_storage");
  double** theta = domain.Find("soil_storage");
  evapotranspiration->SetSnowStorageGrid(snow);
  evapotranspiration->SetSnowMethod(1);
  auto interception = domain.Make<interzeptionsmodellklasse>(InterceptionSection(1));
  // Runs operation `k` (1..3), timed when the argument asks for it.
  const auto run = [&](int k, int day) {
    const bool untimed = timed != 0 && timed != k;
    if (untimed) state.PauseTiming();
    switch (k) {
      case 1:
        evapotranspiration->SnowEvaporation(0, 24, day, 6, 2000);
        break;
      case 2:
        interception->RunTimeStep(0, 24, day, 6, 2000);
        break;
      case 3:
        evapotranspiration->RealEvapotranspiration(0, 24, day, 6, 2000);
        break;
    }
    if (untimed) state.ResumeTiming();
  };
  int day = 0;
  for (auto _ : state) {
    state.PauseTiming();
    day = day % 30 + 1;
    evapotranspiration->PotentialEvapotranspiration(0, 24, day, 6, 2000);
    for (int r = 1; r <= kSize; ++r)
      for (int c = 1; c <= kSize; ++c) {
        if ((r * 3 + c) % 10 == 0) snow[r][c] = 2.0;
        theta[r][c] = 0.3 + 0.001 * ((r + 2 * c) % 400);
      }
    state.ResumeTiming();
    for (int k = 1; k <= 3; ++k) run(k, day);
  }
  state.counters["per_cell_step"] =
      benchmark::Counter(kCells, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  interception->CleanUp();
  evapotranspiration->CleanUp();
}
BENCHMARK(BM_CanopySnowAndRealEvapotranspiration)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace velmo
