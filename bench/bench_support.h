// Pieces the benchmarks share: a scratch directory of the process, the
// per-cell counter, and a model object on a square domain writing there.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "framework/diagnostics.h"
#include "framework/modelobject.h"

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

}  // namespace velmo::bench
