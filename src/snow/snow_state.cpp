// The snow block of the state file: its text, reading it while the module is linked, writing it at clean-up.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "framework/diagnostics.h"
#include "setup/statefile.h"
#include "snow/snowmod.h"

namespace velmo {
namespace {

constexpr const char* kSection = "[snow_model_v2]";
constexpr const char* kOlderSection = "[snow_model]";
// Read modes of the state file that neither read nor write the snow block.
constexpr int kNoStateBlockMode = 2;
constexpr int kNoStateBlockModeToo = 4;
constexpr int kNoReadMode = 0;
// Labels of the permafrost lines.
constexpr const char* kPermafrostCountLabel = " (number of permafrost cells)";
constexpr const char* kPermafrostCellLabel =
    " (row col: thaw_depth/snow_free_days/snow_cover_days/root_depth1/available_soil_moisture)";
// A stored value differs from the run's beyond this relative difference.
constexpr double kStoredValueTolerance = 1e-5;

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using open_file = std::unique_ptr<std::FILE, file_closer>;

std::string Printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Reads lines up to the first that contains `section`; the last line counts
// even without a line end. False at the end of the file.
bool FindLineContaining(std::FILE* file, const std::string& section) {
  std::string line;
  while (ReadWholeLine(file, line))
    if (line.find(section) != std::string::npos) return true;
  return false;
}

}  // namespace

std::string FormatSnowStateBlock(int subbasin_count, double time_interval,
                                 const std::vector<glacier_outflow>& outflows,
                                 const std::vector<permafrost_state_cell>* permafrost) {
  std::string text = std::string(kSection) + "\n";
  text += std::to_string(subbasin_count) + " (number of subasins)\n";
  text += Printed("%.3lf", time_interval) + " (timestep in minutes)\n";
  const bool stored = outflows.size() > static_cast<std::size_t>(subbasin_count);
  for (int i = 1; i <= subbasin_count; ++i) {
    const glacier_outflow q = stored ? outflows[static_cast<std::size_t>(i)] : glacier_outflow{};
    const std::string index = std::to_string(i) + "\t";
    text += index + Printed("%.17g", q.ice) + "(TG code and Qice_slr value)\n";
    text += index + Printed("%.17g", q.firn) + "(TG code and Qfirn_slr value)\n";
    text += index + Printed("%.17g", q.snow) + "(TG code and Qsnow_slr value)\n";
  }
  if (permafrost) {
    text += std::to_string(permafrost->size()) + kPermafrostCountLabel + "\n";
    for (const permafrost_state_cell& p : *permafrost) {
      text += std::to_string(p.row) + " " + std::to_string(p.col);
      for (double value :
           {p.thaw.thaw_depth, p.thaw.snow_free_days, p.thaw.snow_cover_days, p.root_depth, p.capacity})
        text += " " + Printed("%.17g", value);
      text += std::string(kPermafrostCellLabel) + "\n";
    }
  }
  text += "\n";
  return text;
}

bool StoredValueDiffers(double stored, double control) {
  if (stored == 0.0) return control != 0.0;
  return std::fabs((stored - control) / stored) > kStoredValueTolerance;
}

void schneemodellklasse::ReadStorageFile(const std::string& file_name, int read_mode) {
  if (flow_control_parameter == 0) return;
  if (file_name.empty() || read_mode == kNoStateBlockMode || read_mode == kNoStateBlockModeToo) return;
  state_file_name = file_name;
  if (read_mode == kNoReadMode || (glacier_outflows.empty() && !permafrost_on)) return;

  std::string path = file_name;
  PrefixPath(InitialStateDirectory.get(), path);
  open_file file(std::fopen(path.c_str(), "rt"));
  if (!file) {
    *messages << "WARNING: in snow/glacier model: error opening storage content file " << path
              << "[end-entry]";
    *messages << "WARNING: glacier model will be run with cold start initialization values"
              << "[end-entry]";
    return;
  }
  state_file_being_read_ = file.get();
  try {
    ReadStateBlock(file.get(), path);
  } catch (...) {
    state_file_being_read_ = nullptr;
    throw;
  }
  state_file_being_read_ = nullptr;
}

void schneemodellklasse::ReadStateBlock(std::FILE* file, const std::string& path) {
  const bool newer = FindLineContaining(file, kSection);
  if (!newer) {
    *messages << "INFORMATION: couldn't find section [snow_model_v2], looking now for [snow_model] in "
              << path << "[end-entry]";
    std::rewind(file);
    if (!FindLineContaining(file, kOlderSection)) {
      RaiseFatal(messages, "FATAL: error locking for the section [snow_model_v2] or [snow_model] in " + path,
                 kSnowStateFileCode);
    }
  }
  std::string rest;
  auto unreadable = [&](const std::string& item) {
    RaiseFatal(messages,
               "FATAL: (snow model) error in storage file content reading " + item + ": no value in " + path,
               kSnowStateFileCode);
  };
  auto read_integer = [&](const std::string& item) {
    int value = 0;
    if (std::fscanf(file, "%d", &value) != 1) unreadable(item);
    return value;
  };
  auto read_number = [&](const std::string& item) {
    double value = 0.0;
    if (std::fscanf(file, "%lf", &value) != 1 || !std::isfinite(value)) unreadable(item);
    return value;
  };

  const int stored_count = read_integer("number of subbasins");
  ReadRestOfLine(file, rest);
  if (stored_count != subbasin_count)
    ReportStateMismatch("number of subbasins", subbasin_count, stored_count);
  // Outflows are per step: a block of another time interval is rescaled.
  double factor = 1.0;
  if (newer) {
    const double stored_interval = read_number("timestep");
    if (!(stored_interval > 0.0)) unreadable("timestep");
    ReadRestOfLine(file, rest);
    factor = stored_interval / time_interval;
  }
  // Without glaciers the outflows are read past.
  const bool glaciers = !glacier_outflows.empty();
  for (int i = 1; i <= subbasin_count; ++i) {
    glacier_outflow unused;
    glacier_outflow& q = glaciers ? glacier_outflows[static_cast<std::size_t>(i)] : unused;
    for (double* value : {&q.ice, &q.firn, &q.snow}) {
      const int code = read_integer("subbasin code");
      if (code != i) ReportStateMismatch("subbasin code", i, code);
      *value = read_number("outflow") / factor;
      ReadRestOfLine(file, rest);
    }
  }
  if (permafrost_on) ReadPermafrostState(file, path);
}

bool schneemodellklasse::IsPermafrostCell(int r, int c) const {
  return zone_grid[r][c] != nodata_value &&
         !(regions_ && static_cast<int>(regions_[r][c]) != process_index) &&
         thaw_coefficient_[r][c] != nodata_value;
}

std::vector<permafrost_state_cell> schneemodellklasse::PermafrostState() {
  if (!root_zone_found_) FindRootZone();
  std::vector<permafrost_state_cell> cells;
  for (int r = first_row; r <= last_row; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (!IsPermafrostCell(r, c)) continue;
      cells.push_back({r,
                       c,
                       {snow_cover_days_.data[r][c], snow_free_days_.data[r][c], thaw_depth_[r][c]},
                       root_depth_[r][c],
                       root_zone_.capacity ? root_zone_.capacity[r][c] : 0.0});
    }
  }
  return cells;
}

void schneemodellklasse::ReadPermafrostState(std::FILE* file, const std::string& path) {
  std::string line;
  if (!ReadWholeLine(file, line) || line.find(kPermafrostCountLabel) == std::string::npos) {
    // The day counters that were no standard grids start from 0.
    std::string unnamed;
    for (const auto& [grid, name] :
         {std::pair{&snow_free_days_, "SnowFreeDaysGrid"}, std::pair{&snow_cover_days_, "SnowCoverDaysGrid"}})
      if (grid->registered) unnamed += std::string(unnamed.empty() ? "" : " and ") + name;
    *messages << "WARNING: (snow model) the state file " << path
              << " holds no permafrost state: the thaw goes on from the grids PermafrostThawDepth, "
                 "SnowFreeDaysGrid and SnowCoverDaysGrid"
              << (unnamed.empty() ? "" : "; " + unnamed + ", not given as standard grids, start from 0")
              << "[end-entry]";
    return;
  }
  const std::vector<permafrost_state_cell> cells = PermafrostState();
  const int count = std::atoi(line.c_str());
  if (count != static_cast<int>(cells.size()))
    ReportStateMismatch("number of permafrost cells", static_cast<double>(cells.size()), count);
  // The capacity of the cut root zone comes back with its roots: the
  // inactive soil of the soil's state holds what the cut took from it.
  const bool root_zone = root_zone_.capacity != nullptr;
  for (const permafrost_state_cell& cell : cells) {
    permafrost_state_cell stored;
    if (std::fscanf(file, "%d%d%lf%lf%lf%lf%lf", &stored.row, &stored.col, &stored.thaw.thaw_depth,
                    &stored.thaw.snow_free_days, &stored.thaw.snow_cover_days, &stored.root_depth,
                    &stored.capacity) != 7)
      RaiseFatal(
          messages,
          "FATAL: (snow model) error in storage file content reading permafrost cell: no value in " + path,
          kSnowStateFileCode);
    ReadRestOfLine(file, line);
    if (stored.row != cell.row) ReportStateMismatch("permafrost cell row", cell.row, stored.row);
    if (stored.col != cell.col) ReportStateMismatch("permafrost cell column", cell.col, stored.col);
    const int r = cell.row;
    const int c = cell.col;
    thaw_depth_[r][c] = stored.thaw.thaw_depth;
    snow_free_days_.data[r][c] = stored.thaw.snow_free_days;
    snow_cover_days_.data[r][c] = stored.thaw.snow_cover_days;
    root_depth_[r][c] = stored.root_depth;
    if (root_zone) root_zone_.capacity[r][c] = stored.capacity;
  }
}

void schneemodellklasse::WriteStorageFile(int append) {
  if (state_file_name.empty()) return;
  std::string path = state_file_name;
  PrefixPath(DefaultOutputDirectory.get(), path);
  std::FILE* file =
      state_files_ ? state_files_->OpenBlock(path) : std::fopen(path.c_str(), append == 1 ? "a" : "w");
  bool written = false;
  if (file) {
    const std::vector<permafrost_state_cell> permafrost =
        permafrost_on ? PermafrostState() : std::vector<permafrost_state_cell>{};
    const std::string block = FormatSnowStateBlock(subbasin_count, time_interval, glacier_outflows,
                                                   permafrost_on ? &permafrost : nullptr);
    std::fwrite(block.data(), 1, block.size(), file);
    written = state_file_session::CloseBlock(file);
  }
  if (written) return;
  *messages << "ERROR: in snow/glacier model: error writing storage content file " << path
            << ": the snow block of the state file is missing"
            << "[end-entry]";
  if (state_files_) state_files_->ReportFailure(path);
}

void schneemodellklasse::ReportStateMismatch(const std::string& item, double control_value,
                                             double stored_value) {
  *messages << "FATAL: (snow model) error in storage file content reading " << item
            << ":\nvalue in actual control is:   " << control_value
            << "\nbut value in storage file is: " << stored_value << "\nVelmo throws..."
            << "[end-entry]";
  throw ErrorCode{kSnowStateFileCode};
}

void schneemodellklasse::CompareStoredValue(double control_value, const std::string& item) {
  if (!state_file_being_read_) return;
  double stored = 0.0;
  if (std::fscanf(state_file_being_read_, "%lf", &stored) != 1) {
    RaiseFatal(messages, "FATAL: (snow model) error in storage file content reading " + item + ": no value",
               kSnowStateFileCode);
  }
  if (StoredValueDiffers(stored, control_value)) ReportStateMismatch(item, control_value, stored);
}

}  // namespace velmo
