// Regression regions: the region grid (read or created as one region), the
// region table with its code map, and the weights by which regression
// results of neighbouring regions are blended near region borders.
#include "setup/regions.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/controlcopy.h"
#include "setup/defltuzr.h"
#include "setup/derived.h"
#include "setup/zonegrids.h"

namespace velmo {
namespace {

constexpr const char* kTransitionSection = "[region_transition_distance]";
constexpr const char* kTransitionPrompt = "transition distance (if or if not using a region grid) ";

constexpr int kInvalidRegionCode = 3;
constexpr int kTooManyRegionsCode = 4;

// Blend of three regions: the weight offset falls from 0.9 - 0.5 at the
// border to 0.9 at a quarter turn (radians) of the transition distance.
constexpr double kBlendOffset = 0.9;
constexpr double kBlendAmplitude = 0.5;
constexpr double kQuarterTurn = 1.5707963;  // radians

// Region count, code map, table and grid links set to none.
void ForgetRegions(defaultini& setup) {
  setup.region_records.clear();
  setup.region_codes.clear();
  setup.region_table = nullptr;
  setup.region_code_map = nullptr;
  setup.region_count = setup.max_region_code = 0;
  setup.region_grid_index = setup.region_weights1_index = 0;
  setup.region_regions2_index = setup.region_weights2_index = 0;
  setup.region_regions3_index = setup.region_weights3_index = 0;
}

}  // namespace

// ---------------------------------------------------------------- formulas

double OwnRegionWeight(double nearest_distance, double transition_cells) {
  return std::clamp(nearest_distance / (2.0 * transition_cells) + 0.5, 0.5, 1.0);
}

region_weights BlendThreeRegions(double distance2, double distance3, double transition_cells) {
  const double d = transition_cells;
  auto positive_or_one = [](double x) { return x > 0.0 ? x : 1.0; };
  const double a = positive_or_one(d - std::min(distance2, distance3));
  const double b = positive_or_one(distance2 + d);
  const double c = positive_or_one(distance3 + d);
  const double m = std::min({a, b, c});
  const double t = (kBlendOffset - kBlendAmplitude * std::cos(m / d * kQuarterTurn)) / (2.0 * d);
  const double w1 = std::max(0.0, 1.0 / a - t);
  const double w2 = std::max(0.0, 1.0 / b - t);
  const double w3 = std::max(0.0, 1.0 / c - t);
  const double sum = w1 + w2 + w3;
  region_weights weights;
  if (!(sum > 0.0)) return weights;  // every term vanished: the own region alone
  weights.own = w1 / sum;
  weights.second = w2 / sum;
  if (weights.own + weights.second > 1.0) weights.second = 1.0 - weights.own;
  weights.third = 1.0 - (weights.own + weights.second);
  return weights;
}

// ---------------------------------------------------------------- set-up object

void defaultini::ReleaseRegions() {
  DetachAndFree(grids, region_grids);
  ForgetRegions(*this);
}

void defaultini::MakeRegionWeightGrids() {
  // The regions of an earlier call are forgotten; its grids stay in the table.
  ForgetRegions(*this);

  double** zone = (*grids)[1].data;
  region_grid_index = FindGridWithData(*this, kRegionGridName);
  if (region_grid_index == 0) {
    // Without a region grid the catchment is one region with code 1.
    region_grid_index =
        RegisterComputedGrid(kRegionGridName, DerivedFileName((*grids)[1].file_name, kRegionsSuffix),
                             region_grids, kNoFreeGrid, ")\n");
    FillUnreadGrid((*grids)[region_grid_index].data, zone, nrows, ncols, nodata_value, 1.0);
  }

  // The transition distance, from a copy of the control file opened for this
  // alone; a control file the caller holds open stays as it is.
  ControlFileCopy copy(*this);
  FindSection(kTransitionSection, true);
  std::string rest;
  ReadValue(copy.file(), transition_distance, kTransitionPrompt, rest);
  if (!copy.Close()) {
    *messages << "FATAL: error closing " << control_file_name << "[end-entry]";
    throw ErrorCode{kControlFileCloseErrorCode};
  }
  // nan or inf would reach the whole-number conversions of the weights.
  if (!std::isfinite(transition_distance)) RaiseControlFileError(kTransitionPrompt, name);
  if (transition_distance <= 0.0) transition_distance = kMinTransitionDistance;

  RankRegions(region_grid_index);

  const std::string region_file = (*grids)[region_grid_index].file_name;
  auto add = [&](const char* grid_name, const char* suffix) {
    return RegisterComputedGrid(grid_name, DerivedFileName(region_file, suffix), region_grids, kNoFreeGrid,
                                ")");
  };
  region_weights1_index = add("regression_weights1", kWeights1Suffix);
  if (region_count >= 2) {
    region_regions2_index = add("regression_regions2", kRegions2Suffix);
    region_weights2_index = add("regression_weights2", kWeights2Suffix);
  }
  if (region_count >= 3) {
    region_regions3_index = add("regression_regions3", kRegions3Suffix);
    region_weights3_index = add("regression_weights3", kWeights3Suffix);
  }

  MakeRegionWeights();

  for (int index : {region_weights1_index, region_regions2_index, region_weights2_index,
                    region_regions3_index, region_weights3_index}) {
    if (index > 0) WriteGridOnce(index);
  }
}

void defaultini::RankRegions(int index) {
  const grid_entry& entry = (*grids)[index];
  double** regions = entry.data;
  double** zone = (*grids)[1].data;
  *messages << "ranking regions from " << entry.file_name << " for " << name << "[end-entry]";

  std::vector<int> code_map(static_cast<size_t>(kMaxRegionCode) + 1, 0);
  std::vector<int> codes{0};  // by region index; index 0 carries no region
  int max_code = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int k = 1; k <= ncols; ++k) {
      if (zone[r][k] == nodata_value) continue;
      const double value = regions[r][k];
      if (!IsRegionCode(value)) {
        *messages << "FATAL: invalid region code in " << entry.file_name
                  << "!\n (codes has to be between 1 and " << kMaxRegionCode << ")!\n"
                  << "[end-entry]";
        throw ErrorCode{kInvalidRegionCode};
      }
      const int code = static_cast<int>(value);
      if (code_map[static_cast<size_t>(code)] != 0) continue;
      if (static_cast<int>(codes.size()) - 1 == kMaxRegions) {
        *messages << "FATAL: too much zones in " << entry.file_name << ", (max. " << kMaxRegions << ")!\n"
                  << "[end-entry]";
        throw ErrorCode{kTooManyRegionsCode};
      }
      codes.push_back(code);
      code_map[static_cast<size_t>(code)] = static_cast<int>(codes.size()) - 1;
      max_code = std::max(max_code, code);
    }
  }

  // Regions are indexed in ascending order of their codes.
  std::sort(codes.begin() + 1, codes.end());
  const int count = static_cast<int>(codes.size()) - 1;
  for (int i = 1; i <= count; ++i) code_map[static_cast<size_t>(codes[static_cast<size_t>(i)])] = i;

  // Centres: mean row and column of each region's cells.
  std::vector<long long> row_sums(static_cast<size_t>(count) + 1, 0);
  std::vector<long long> col_sums(static_cast<size_t>(count) + 1, 0);
  region_records.assign(static_cast<size_t>(count) + 1, region_record{});
  for (int r = 1; r <= nrows; ++r) {
    for (int k = 1; k <= ncols; ++k) {
      if (zone[r][k] == nodata_value || regions[r][k] == nodata_value) continue;
      const size_t i = static_cast<size_t>(code_map[static_cast<size_t>(regions[r][k])]);
      row_sums[i] += r;
      col_sums[i] += k;
      region_records[i].cell_count += 1.0;
    }
  }
  for (size_t i = 1; i < region_records.size(); ++i) {
    region_record& region = region_records[i];
    if (region.cell_count <= 0.0) continue;
    const long long cells = static_cast<long long>(region.cell_count);
    region.centre_row_index = static_cast<int>(row_sums[i] / cells);
    region.centre_col_index = static_cast<int>(col_sums[i] / cells);
    region.centre_row = static_cast<double>(row_sums[i]) / region.cell_count;
    region.centre_col = static_cast<double>(col_sums[i]) / region.cell_count;
  }

  region_codes.assign(code_map.begin(), code_map.begin() + max_code + 1);
  region_table = region_records.data();
  region_code_map = region_codes.data();
  region_count = count;
  max_region_code = max_code;
}

void defaultini::MakeRegionWeights() {
  *messages << "generating region weight grids"
            << "[end-entry]";
  auto data_of = [&](int index) { return index > 0 ? (*grids)[index].data : nullptr; };
  double** zone = (*grids)[1].data;
  double** region1 = data_of(region_grid_index);
  double** weights1 = data_of(region_weights1_index);
  double** region2 = data_of(region_regions2_index);
  double** weights2 = data_of(region_weights2_index);
  double** region3 = data_of(region_regions3_index);
  double** weights3 = data_of(region_weights3_index);
  const int n = region_count;
  const double d = transition_distance / cellsize;  // cells
  // Reaches beyond the domain change nothing; capping them keeps a huge
  // transition distance from overflowing the whole-number conversions.
  const int reach = static_cast<int>(std::min(d, static_cast<double>(nrows)));
  if (!region1 || !weights1) return;  // no region grid ranked yet

  for (int r = 1; r <= nrows; ++r) {
    for (int k = 1; k <= ncols; ++k) {
      if (!(zone[r][k] > nodata_value)) region1[r][k] = nodata_value;
    }
  }

  for (int i = 1; i <= nrows; ++i) {
    const row_range columns = ColumnsOf(row_ranges, i, ncols);
    for (int j = columns.first; j <= columns.last; ++j) {
      if (!(zone[i][j] > nodata_value)) {
        for (double** grid : {region1, weights1, region2, weights2, region3, weights3}) {
          if (grid) grid[i][j] = nodata_value;
        }
        continue;
      }
      const double own = region1[i][j];
      double w1 = d, w2 = d, w3 = d;
      double r2 = 0.0, r3 = 0.0;
      int near2_row = i, near2_col = j, near3_row = i, near3_col = j;
      if (n >= 2) {
        // The circle of the transition distance around the cell.
        for (int row = std::max(1, i - reach); row <= std::min(nrows, i + reach); ++row) {
          const int w = i - row;
          const int h = static_cast<int>(std::min(std::sqrt(d * d - w * w), static_cast<double>(ncols)));
          const double* region_row = region1[row];
          for (int col = std::max(1, j - h); col <= std::min(ncols, j + h); ++col) {
            const double v = region_row[col];
            if (!(v > nodata_value) || v == own) continue;
            const double dist =
                static_cast<int>(std::sqrt(static_cast<double>((j - col) * (j - col) + w * w)));
            if (r2 == 0.0) r2 = v;
            if (v == r2) {
              if (dist <= w1) {
                w1 = w2 = dist;
                near2_row = row;
                near2_col = col;
              }
              continue;
            }
            if (r3 == 0.0) r3 = v;
            if (v == r3) {
              if (dist <= w3) {
                w3 = dist;
                near3_row = row;
                near3_col = col;
              }
            } else if (w3 <= w2) {  // a fourth region replaces the farther of the two
              if (dist < w2) {
                r2 = v;
                w2 = dist;
                near2_row = row;
                near2_col = col;
              }
            } else if (dist < w3) {
              r3 = v;
              w3 = dist;
              near3_row = row;
              near3_col = col;
            }
          }
        }
      }

      region_weights weights;
      if (n == 2) {
        weights.own = OwnRegionWeight(w1, d);
        weights.second = 1.0 - weights.own;
      } else if (n >= 3) {
        weights.own = OwnRegionWeight(w1, d);
        if (!(r3 > 0.0)) {
          weights.second = r2 > 0.0 ? 1.0 - weights.own : 0.0;
          weights.third = 0.0;
        } else {
          const double distance2 = std::hypot(i - near2_row, j - near2_col);
          const double distance3 = std::hypot(i - near3_row, j - near3_col);
          weights = BlendThreeRegions(distance2, distance3, d);
        }
      }
      weights1[i][j] = weights.own;
      if (n >= 2) {
        region2[i][j] = r2;
        weights2[i][j] = weights.second;
      }
      if (n >= 3) {
        region3[i][j] = r3;
        weights3[i][j] = weights.third;
      }
    }
    *messages << ".";
  }
  *messages << "[end-entry]";
}

}  // namespace velmo
