// Pieces the benchmarks share: a scratch directory of the process, the
// per-cell counter, a model object on a square domain writing there, and a
// grid table of square grids the benchmark fills.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "framework/modelobject.h"
#include "setup/settings.h"

namespace velmo::bench {

// "velmo_bench_<name>_<pid>" under the system's temporary directory.
inline std::filesystem::path ScratchPath(const std::string& name) {
  return std::filesystem::temp_directory_path() / ("velmo_bench_" + name + "_" + std::to_string(getpid()));
}

// Seconds per cell and iteration ("13n" = 13 ns) under "per_cell".
inline void CountPerCell(benchmark::State& state, double cells) {
  state.counters["per_cell"] = benchmark::Counter(cells * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A model object on a side x side domain from (600000, 200000) whose output
// and state directories are a scratch directory, removed when this goes.
struct square_object {
  square_object(const std::string& name, int side, double cellsize) : directory(ScratchPath(name)) {
    std::filesystem::create_directories(directory);
    messages = std::make_unique<MessageStream>((directory / "diag.xml").string(), 0, console);
    object = std::make_unique<modelobject>(messages.get(), "none");
    object->ncols = object->nrows = object->last_row = side;
    object->xllcorner = 600000;
    object->yllcorner = 200000;
    object->cellsize = cellsize;
    object->DefaultOutputDirectory = std::make_unique<std::string>(directory.string() + "/");
    object->InitialStateDirectory = std::make_unique<std::string>(directory.string() + "/");
  }
  ~square_object() { std::filesystem::remove_all(directory); }
  square_object(const square_object&) = delete;
  square_object& operator=(const square_object&) = delete;

  std::filesystem::path directory;
  std::ostringstream console;
  std::unique_ptr<MessageStream> messages;
  std::unique_ptr<modelobject> object;
};

// A scratch directory (removed when this goes) with a message stream that
// writes nowhere and a grid table of side x side grids entered by name.
class grid_domain {
 public:
  grid_domain(const std::string& name, int side) : dir_(ScratchPath(name)), side_(side) {
    std::filesystem::create_directories(dir_);
    out_ = dir_.string() + "/";
  }
  ~grid_domain() { std::filesystem::remove_all(dir_); }
  grid_domain(const grid_domain&) = delete;
  grid_domain& operator=(const grid_domain&) = delete;

 protected:
  // A grid of cells value(r, c) in entry `index` of the table.
  template <typename F>
  void Grid(const char* name, int index, F value) {
    owned_.emplace_back(memory_.matrix(1, side_, 1, side_, 0));
    for (int r = 1; r <= side_; ++r)
      for (int c = 1; c <= side_; ++c) owned_.back()[r][c] = value(r, c);
    table_[index].name = name;
    table_[index].file_name = name;
    table_[index].data = owned_.back().get();
  }

  // Settings of the square: `zone_count` zones (codes 1.., area fraction 0.1
  // each), every row whole, hourly steps, the control file "bench.ctl" and
  // the output in the directory.
  void SquareSettings(double cellsize, int zone_count) {
    zones_.assign(static_cast<std::size_t>(zone_count) + 1, zone_record{});
    zone_map_.assign(static_cast<std::size_t>(zone_count) + 1, 0);
    for (int z = 1; z <= zone_count; ++z) {
      zones_[static_cast<std::size_t>(z)].code = z;
      zones_[static_cast<std::size_t>(z)].area_fraction = 0.1;
      zone_map_[static_cast<std::size_t>(z)] = z;
    }
    ranges_.assign(static_cast<std::size_t>(side_) + 1, row_range{1, side_});
    settings_.control_file_name = (dir_ / "bench.ctl").string();
    settings_.timestep = 60;
    settings_.zone_table = zones_.data();
    settings_.zone_code_map = zone_map_.data();
    settings_.zone_count = zone_count;
    settings_.max_zone_code = zone_count;
    settings_.row_ranges = ranges_.data();
    settings_.ncols = settings_.nrows = side_;
    settings_.first_row = 1;
    settings_.last_row = side_;
    settings_.cellsize = cellsize;
    settings_.nodata_value = -9999.0;
    settings_.DefaultOutputDirectory = &out_;
  }

  std::filesystem::path dir_;
  std::string out_;  // the directory with its separator
  std::ofstream null_{"/dev/null"};
  MessageStream messages_{(dir_ / "diag.xml").string(), 0, null_};
  grid_table table_{&messages_};
  std::vector<zone_record> zones_;
  std::vector<int> zone_map_;
  std::vector<row_range> ranges_;
  model_settings settings_;

 private:
  int side_;
  memory_handling memory_;
  std::vector<owned_matrix> owned_;
};

}  // namespace velmo::bench
