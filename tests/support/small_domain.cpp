// The small test domain: grids from rows, and the set-up run on them in memory.
#include "support/small_domain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace velmo::test {
namespace {

constexpr const char* kZoneGridSection = "[zone_grid]";
constexpr const char* kElevationSection = "[elevation_model]";
constexpr const char* kLanduseGrid = "landuse";
constexpr const char* kAlbedoGrid = "albedo";
// The stage that reads the grid files: in memory here.
constexpr int kGridReadingStage = 6;

// Global sections and model time (one day) of the control file; the output
// directory and the time step follow.
constexpr const char* kGlobalSections =
    "[output_interval]\n24\n1\n0\n0\nWriteAsciiGrids = 1\n"
    "DefaultOutputDirectory = ";
constexpr const char* kTimeSections =
    "\n[output_list]\n0\n\n[coordinates]\n47.25\n8.5\n15.0\n-1.0\n\n"
    "[meteo_data_count]\n1\n\n[meteo_names]\nprecipitation\n\n[radiation_correction]\n1\n\n"
    "[model_time]\nstartminute = 0\nstarthour = 0\nstartday = 1\nstartmonth = 6\nstartyear = 2023\n"
    "endminute = 0\nendhour = 0\nendday = 2\nendmonth = 6\nendyear = 2023\n";

}  // namespace

SmallDomain::SmallDomain(small_domain_options options)
    : grid_directory_(options.grid_directory),
      control_file_(dir() / (options.set_up ? "control.txt" : "control.intern")),
      table_(&capture_.ms),
      setup_(setup_error_, &capture_.ms, control_file_, 1, &table_),
      cellsize_(options.cellsize),
      xllcorner_(options.xllcorner),
      yllcorner_(options.yllcorner) {
  if (!grid_directory_.empty()) std::filesystem::create_directories(dir() / grid_directory_);
  setup_.open_retry_wait_ms = 0;
  if (options.set_up) {
    RunSetUp(options);
  } else {
    if (!options.zone.empty()) SetZoneGrid(options.zone);
    if (!options.elevation.empty()) AddGrid(kElevationSection, options.elevation, Path("dem.asc"));
    if (!options.landuse.empty()) AddGrid(kLanduseGrid, options.landuse);
    if (!options.soil.empty()) AddGrid(kSoilTypesName, options.soil);
    for (const named_grid& grid : options.inputs) AddGrid(grid.name, grid.values);
  }
  console().str("");
}

SmallDomain::~SmallDomain() = default;

std::string SmallDomain::Path(const std::string& file) const {
  return grid_directory_.empty() ? dir() / file : dir() / (grid_directory_ + "/" + file);
}

double** SmallDomain::AddGrid(const std::string& name, const Rows& values, const std::string& file) {
  EXPECT_EQ(static_cast<int>(values.size()), setup_.nrows) << name;
  double** data = Matrix(values);
  const int index = table_.FirstFreeEntry();
  setup_.RegisterGrid(index, file.empty() ? Path(name + ".asc") : file, data, nullptr, 0, name, 0, 1,
                      setup_.nrows);
  if (index > 2) ++setup_.grid_count;
  return data;
}

double** SmallDomain::Matrix(const Rows& values) {
  owned_.push_back(MatrixOf(values));
  return owned_.back().get();
}

double** SmallDomain::Matrix(double value) { return Matrix(Filled(value)); }

void SmallDomain::SetSize(const Rows& zone) {
  setup_.nrows = static_cast<int>(zone.size());
  setup_.ncols = static_cast<int>(zone[0].size());
  setup_.first_row = 1;
  setup_.last_row = setup_.nrows;
  setup_.cellsize = cellsize_;
  setup_.xllcorner = xllcorner_;
  setup_.yllcorner = yllcorner_;
  setup_.nodata_value = kNodata;
}

void SmallDomain::SetZoneGrid(const Rows& zone) {
  SetSize(zone);
  row_ranges_.assign(zone.size() + 1, row_range{0, -1});
  for (int r = 1; r <= setup_.nrows; ++r) {
    for (int c = 1; c <= setup_.ncols; ++c) {
      if (zone[r - 1][c - 1] == kNodata) continue;
      row_range& range = row_ranges_[r];
      if (range.first == 0) range.first = c;
      range.last = c;
    }
  }
  setup_.row_ranges = row_ranges_.data();
  setup_.RegisterGrid(1, Path("zone.asc"), Matrix(zone), nullptr, 0, kZoneGridSection, 0, 1, setup_.nrows);
}

void SmallDomain::RunSetUp(const small_domain_options& options) {
  if (options.zone.empty() || options.elevation.empty()) {
    ADD_FAILURE() << "the set-up of the small domain needs a zone grid and an elevation model";
    return;
  }
  // The grids as the control file lists them, in table order.
  std::vector<named_grid> grids = {{kZoneGridSection, options.zone}, {kElevationSection, options.elevation}};
  if (!options.landuse.empty()) grids.push_back({kLanduseGrid, options.landuse});
  if (!options.soil.empty()) grids.push_back({kSoilTypesName, options.soil});
  grids.insert(grids.end(), options.inputs.begin(), options.inputs.end());

  std::ostringstream control;
  control << kGlobalSections << dir().path().string() << "/\ntimestep = " << options.timestep << "\n"
          << kTimeSections << "\n"
          << kZoneGridSection << "\n"
          << Path("zone.asc") << "\n\n"
          << kElevationSection << "\n"
          << Path("dem.asc") << "\n\n[standard_grids]\n";
  // The land-use tables need an albedo grid; unless given, the set-up makes
  // it (read code 0).
  const bool made_albedo =
      !options.landuse.empty() &&
      std::none_of(grids.begin(), grids.end(), [](const named_grid& g) { return g.name == kAlbedoGrid; });
  control << grids.size() - 2 + (made_albedo ? 1 : 0) << "\n";
  for (size_t i = 2; i < grids.size(); ++i)
    control << Path(grids[i].name + ".asc") << " " << grids[i].name << " 1\n";
  if (made_albedo) control << Path("albedo.asc") << " albedo fillcode = 0 readcode = 0 defaultValue = 0.2\n";
  control << "\n[variable_grids]\n0\n\n"
          << options.tables << "\n[region_transition_distance]\n1000\n\n"
          << options.section << "\n";
  WriteFile(control_file_, control.str());

  try {
    bool done = false;
    while (!done) {
      if (setup_.stage != kGridReadingStage) {
        setup_.InitializeStage(done);
        continue;
      }
      // What stage 6 reads from the files, the rows give; the division of the
      // domain follows as there (the ranking of stage 7 sets the row ranges).
      SetSize(options.zone);
      for (size_t i = 0; i < grids.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        grid_entry& entry = table_[index];
        setup_.input_grids.push_back(MatrixOf(grids[i].values));
        setup_.RegisterGrid(index, entry.file_name, setup_.input_grids.back().get(), nullptr, 0, entry.name,
                            entry.write_code, 1, setup_.nrows);
      }
      setup_.zone_grid = table_[1].data;
      setup_.elevation_grid = table_[2].data;
      setup_.PartitionDomain(setup_.partition_cell_counts, setup_.halo_send_list, setup_.halo_receive_list,
                             setup_.first_row, setup_.last_row);
      ++setup_.stage;
    }
  } catch (ErrorCode code) {
    ADD_FAILURE() << "the set-up of the small domain ended with code " << code << " in stage " << setup_.stage
                  << ":\n"
                  << console().str();
  }
}

}  // namespace velmo::test
