// Glacier records, elevation bands and the yearly volume-area update of the glacier shares.
#include "snow/glacier_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/diagnostics.h"

namespace velmo {
namespace {

constexpr double kMillimetresPerMetre = 1000.0;

// Code of a cell value; values far outside the codes count as no glacier.
int CodeOf(double value) {
  constexpr double kLargestCode = 1.0e9;
  if (!(value > -kLargestCode && value < kLargestCode)) return std::numeric_limits<int>::min();
  return static_cast<int>(std::lround(value));
}

// The cells with a subbasin value, row by row.
template <typename F>
void ForEachCell(const glacier_grids& g, F&& f) {
  for (int r = 1; r <= g.nrows; ++r) {
    const row_range cols = g.row_ranges ? g.row_ranges[r] : row_range{1, g.ncols};
    const double* zone = g.subbasins[r];
    for (int c = cols.first; c <= cols.last; ++c)
      if (zone[c] > g.nodata) f(r, c);
  }
}

bool Inside(const glacier_grids& g, int r, int c) { return r >= 1 && r <= g.nrows && c >= 1 && c <= g.ncols; }

// Neighbours in the order a cell looks for a glacier to join: above, right,
// below, left, then above-right, below-right, below-left, above-left.
constexpr int kNeighbourRows[8] = {-1, 0, 1, 0, -1, 1, 1, -1};
constexpr int kNeighbourCols[8] = {0, 1, 0, -1, 1, 1, -1, -1};
constexpr int kSideNeighbours = 4;

// Whether a 4-neighbour inside the grid carries another code.
bool OnBorder(const glacier_grids& g, int r, int c) {
  for (int k = 0; k < kSideNeighbours; ++k) {
    const int nr = r + kNeighbourRows[k];
    const int nc = c + kNeighbourCols[k];
    if (Inside(g, nr, nc) && g.codes[nr][nc] != g.codes[r][c]) return true;
  }
  return false;
}

// The code of the first neighbour in the same subbasin that belongs to a
// glacier, or 0.
int NeighbourGlacier(const glacier_grids& g, int r, int c) {
  for (int k = 0; k < 8; ++k) {
    const int nr = r + kNeighbourRows[k];
    const int nc = c + kNeighbourCols[k];
    if (!Inside(g, nr, nc) || g.subbasins[nr][nc] != g.subbasins[r][c]) continue;
    const int code = CodeOf(g.codes[nr][nc]);
    if (code > 0) return code;
  }
  return 0;
}

glacier_record NewRecord(int code, const glacier_grids& g, const glacier_geometry_parameters& p,
                         double zone) {
  glacier_record record;
  record.code = code;
  record.cell_size = g.cellsize;
  record.subbasin = CodeOf(zone);
  record.band_count = p.numElevBands;
  record.extra_weight_band0 = p.extraWeightFactorBand0;
  record.c = p.VAscaling;
  record.gamma = p.VAexponent;
  return record;
}

glacier_record& AddRecord(glacier_list& list, glacier_record record) {
  list.positions[record.code] = static_cast<int>(list.records.size());
  list.records.push_back(std::move(record));
  return list.records.back();
}

bool HasNoFirn(const glacier_grids& g, int r, int c) { return !(g.firn_sum[r][c] > 0.0); }

// A cell of share `share` that joins a glacier which already has a volume
// adds its area to the old area and the matching volume.
void JoinGlacier(glacier_record& record, double share) {
  if (!(record.volume > 0.0)) return;
  const double before = record.c * std::pow(record.old_area, record.gamma);
  record.old_area += share * record.CellArea();
  const double change = record.c * std::pow(record.old_area, record.gamma) - before;
  record.volume += change;
  record.old_volume += change;
}

// Count, area and elevation of a collected cell.
void CountCell(glacier_record& record, const glacier_grids& g, int r, int c, bool extend) {
  record.area += g.shares[r][c] * record.CellArea();
  record.TakeElevation(g.elevation[r][c], extend || HasNoFirn(g, r, c));
  ++record.cell_count;
}

}  // namespace

// ---------------------------------------------------------------- bands

int elevation_band::CountChangeable(double change) {
  int count = 0;
  for (std::size_t i = 0; i < shares.size(); ++i) {
    const double share = *shares[i];
    const bool changeable = (change < 0.0 && share > 0.0) || (change > 0.0 && share < 1.0);
    marked[i] = changeable ? 0 : 1;
    count += changeable ? 1 : 0;
  }
  return count;
}

double elevation_band::DistributeAreaChange(double per_cell, MessageStream* messages) {
  int cells = 0;
  for (unsigned char mark : marked) cells += mark ? 0 : 1;
  double target = cells * per_cell;
  for (int pass = 1; pass <= kBandSeriesPasses; ++pass) {
    if (pass == kBandSeriesPasses && messages) {
      *messages << "WARNING: error: could not remove or add the required number of cells for the glacier"
                << "[end-entry]";
    }
    const double h = cells >= 1 ? target / cells : 0.0;
    const double before = target;
    int unclamped = 0;
    for (std::size_t i = 0; i < shares.size(); ++i) {
      if (marked[i] || *codes[i] < 0.0) continue;
      const double l = *shares[i] + h;
      if (l < 0.0) {
        *shares[i] = 0.0;
        *codes[i] = kLeftGlacierCode;
        target -= h - l;
      } else if (l > 1.0) {
        *shares[i] = 1.0;
        target -= h - (l - 1.0);
      } else {
        *shares[i] = l;
        target -= h;
        ++unclamped;
      }
    }
    cells = unclamped;
    if (!(std::fabs(target) > kPlacedCellChange && std::fabs(target - before) > kPlacedCellChange)) break;
  }
  return target;
}

// ---------------------------------------------------------------- records

void glacier_record::InitialVolume() {
  volume = c * std::pow(std::max(area, kSmallestInitialGlacierArea), gamma);
}

void glacier_record::ClampMinimumArea() {
  const double smallest = c * std::pow(kMinimumGlacierArea, gamma);
  if (smallest >= old_volume) {
    old_volume = smallest;
    old_area = kMinimumGlacierArea;
  } else {
    old_area = std::pow(old_volume / c, 1.0 / gamma);
  }
}

void glacier_record::BuildBands() {
  const bool has_range = max_elevation >= min_elevation;
  const double width = has_range ? (max_elevation - min_elevation) / band_count : 0.0;
  bands.assign(static_cast<std::size_t>(std::max(band_count, 1)), elevation_band{});
  for (std::size_t k = 0; k < bands.size(); ++k) {
    bands[k].width = width;
    bands[k].lower = min_elevation + static_cast<double>(k) * width;
    bands[k].upper = min_elevation + static_cast<double>(k + 1) * width;
  }
  band_cell_count = 0;
}

void glacier_record::ClearBands() {
  for (elevation_band& band : bands) {
    band.cell_count = 0;
    band.shares.clear();
    band.codes.clear();
    band.marked.clear();
  }
  band_cell_count = 0;
}

void glacier_record::AddBandCell(double* share, double* code, double elevation) {
  if (bands.empty()) return;
  std::size_t k = 0;
  while (k < bands.size() && !(elevation >= bands[k].lower && elevation < bands[k].upper)) ++k;
  if (k == bands.size())
    k = elevation >= max_elevation || !(elevation <= min_elevation) ? bands.size() - 1 : 0;
  elevation_band& band = bands[k];
  band.shares.push_back(share);
  band.codes.push_back(code);
  band.marked.push_back(0);
  ++band.cell_count;
  ++band_cell_count;
}

double glacier_record::DistributeAreaChange(double per_cell, int m, MessageStream* messages) {
  double rest = 0.0;
  for (int i = 0; i <= m && i < static_cast<int>(bands.size()); ++i) {
    const int series = i == 0 ? 1 + extra_weight_band0 : 1;
    for (int s = 0; s < series; ++s)
      rest += bands[static_cast<std::size_t>(i)].DistributeAreaChange(per_cell, messages);
  }
  return rest;
}

void glacier_record::TakeElevation(double elevation, bool extend) {
  if (cell_count == 0) {
    min_elevation = max_elevation = elevation;
  } else if (extend) {
    min_elevation = std::min(min_elevation, elevation);
    max_elevation = std::max(max_elevation, elevation);
  }
}

void glacier_record::ResetCollection() {
  cell_count = 0;
  area = 0.0;
  min_elevation = 10000.0;
  max_elevation = -10000.0;
}

glacier_record* glacier_list::Find(int code) {
  const auto it = positions.find(code);
  return it == positions.end() ? nullptr : &records[static_cast<std::size_t>(it->second)];
}

// ---------------------------------------------------------------- the list

void BuildGlacierList(const glacier_grids& g, const glacier_geometry_parameters& p, glacier_list& list,
                      MessageStream* messages) {
  list.records.clear();
  list.positions.clear();
  ForEachCell(g, [&](int r, int c) {
    const int code = CodeOf(g.codes[r][c]);
    if (code <= 0) return;
    glacier_record* record = list.Find(code);
    if (!record) {
      record = &AddRecord(list, NewRecord(code, g, p, g.subbasins[r][c]));
    } else if (record->subbasin != CodeOf(g.subbasins[r][c])) {
      *messages << "FATAL: \n\n=======================================\n"
                << "!!!! ERROR !!!! \n\n"
                << "glacier " << code << " is located in more than one subbasin:\n"
                << "First cell was found in subbasin " << record->subbasin << ",\n"
                << "whereas the cell in row " << r << " and col " << c << " belongs to subbasin "
                << g.subbasins[r][c]
                << ".\nPlease make sure that each single glacier belongs to one specific subbasin only."
                << "[end-entry]";
      throw ErrorCode{kGlacierSubbasinsCode};
    }
    // A code on a cell without a share counts no area until a share is given to it.
    const double share = g.shares[r][c] > 0.0 ? g.shares[r][c] : 0.0;
    record->area += share * record->CellArea();
    record->TakeElevation(g.elevation[r][c], HasNoFirn(g, r, c));
    ++record->cell_count;
  });
  for (glacier_record& record : list.records) {
    record.InitialVolume();
    record.old_volume = record.volume;
    record.ClampMinimumArea();
    record.BuildBands();
  }
  AssignBandCells(g, list, -1);
}

void CollectGlacierCells(const glacier_grids& g, const glacier_geometry_parameters& p, glacier_list& list,
                         int code, bool extend) {
  ForEachCell(g, [&](int r, int c) {
    const int d = CodeOf(g.codes[r][c]);
    if (d < -1) return;
    glacier_record* record = list.Find(d);
    if (!record) {
      // Code 0 marks a cell without glacier; −1 one to join a glacier.
      if (d == 0) return;
      int joined = d;
      if (d == -1) {
        joined = NeighbourGlacier(g, r, c);
        if (joined == 0) joined = list.LargestCode() + 1;
      }
      g.codes[r][c] = joined;
      g.old_codes[r][c] = joined;
      g.shares[r][c] = p.relSizeNewGlacier;
      record = list.Find(joined);
      if (!record) record = &AddRecord(list, NewRecord(joined, g, p, g.subbasins[r][c]));
      JoinGlacier(*record, g.shares[r][c]);
      CountCell(*record, g, r, c, extend);
      return;
    }
    if (code >= 0 && code != d) return;
    if (g.shares[r][c] == g.nodata) {
      g.shares[r][c] = p.relSizeNewGlacier;
      g.old_codes[r][c] = d;
      JoinGlacier(*record, g.shares[r][c]);
    }
    CountCell(*record, g, r, c, extend);
  });
}

void AssignBandCells(const glacier_grids& g, glacier_list& list, int code) {
  auto selected = [&](int d) -> glacier_record* {
    if (d <= 0 || (code >= 0 && d != code)) return nullptr;
    return list.Find(d);
  };
  for (glacier_record& record : list.records)
    if (code < 0 || record.code == code) record.ClearBands();
  ForEachCell(g, [&](int r, int c) {
    glacier_record* record = selected(CodeOf(g.codes[r][c]));
    const double share = g.shares[r][c];
    if (!record || !(share > 0.0) || g.firn_sum[r][c] > 0.0) return;
    if (share < 1.0 || OnBorder(g, r, c))
      record->AddBandCell(&g.shares[r][c], &g.codes[r][c], g.elevation[r][c]);
  });
  // A glacier without such cells takes its partly covered and border cells, firn or not.
  std::vector<unsigned char> without(list.records.size(), 0);
  bool any = false;
  for (std::size_t i = 0; i < list.records.size(); ++i) {
    const glacier_record& record = list.records[i];
    without[i] = (code < 0 || record.code == code) && record.band_cell_count == 0;
    any = any || without[i];
  }
  if (!any) return;
  ForEachCell(g, [&](int r, int c) {
    glacier_record* record = selected(CodeOf(g.codes[r][c]));
    if (!record || !without[static_cast<std::size_t>(record - list.records.data())]) return;
    const double share = g.shares[r][c];
    if ((share >= 0.0 && share < 1.0) || OnBorder(g, r, c))
      record->AddBandCell(&g.shares[r][c], &g.codes[r][c], g.elevation[r][c]);
  });
}

void GrowGlacier(const glacier_grids& g, glacier_list& list, int code) {
  glacier_record* record = list.Find(code);
  if (!record) return;
  record->ClearBands();
  const int levels = g.firn_levels;
  // Passes 1 and 3 need a neighbour without firn and take none, passes 2
  // and 4 take the neighbour's; passes 3 and 4 also take cells below 0.
  for (int pass = 1; pass <= 4; ++pass) {
    const bool firn_free = pass % 2 == 1;
    const bool zero_only = pass <= 2;
    bool added = false;
    ForEachCell(g, [&](int r, int c) {
      const double share = g.shares[r][c];
      if (zero_only ? share != 0.0 : share > 0.0) return;
      if (firn_free && !(g.codes[r][c] < 0.0)) return;
      for (int k = 0; k < kSideNeighbours; ++k) {
        const int nr = r + kNeighbourRows[k];
        const int nc = c + kNeighbourCols[k];
        if (!Inside(g, nr, nc) || g.subbasins[nr][nc] != g.subbasins[r][c]) continue;
        if (!(g.shares[nr][nc] >= 1.0) || CodeOf(g.codes[nr][nc]) != code) continue;
        if (firn_free && !(g.firn_sum[nr][nc] < kNoFirn)) continue;
        const double firn = firn_free ? 0.0 : g.firn_sum[nr][nc];
        g.shares[r][c] = 0.0;
        g.codes[r][c] = code;
        g.firn_sum[r][c] = firn;
        if (g.firn && g.firn[r]) {
          double* stack = g.firn[r][c];
          stack[0] = firn;
          for (int l = 1; l <= levels; ++l) stack[l] = levels > 0 ? firn / levels : 0.0;
        }
        record->AddBandCell(&g.shares[r][c], &g.codes[r][c], g.elevation[r][c]);
        added = true;
        break;
      }
    });
    if (added || record->band_cell_count > 0) break;
  }
}

// ---------------------------------------------------------------- the yearly update

void UpdateGlacierGeometry(const glacier_grids& g, const glacier_geometry_parameters& p, glacier_list& list,
                           MessageStream* messages) {
  // 1. The cells as they are now, and the bands over them.
  for (glacier_record& record : list.records) {
    record.ResetCollection();
    record.volume = record.old_volume;
  }
  CollectGlacierCells(g, p, list, -1, false);
  for (std::size_t j = 0; j < list.records.size(); ++j) {
    if (list.records[j].cell_count > 0) continue;
    list.records[j].ResetCollection();
    CollectGlacierCells(g, p, list, list.records[j].code, true);
  }
  for (glacier_record& record : list.records) record.BuildBands();
  AssignBandCells(g, list, -1);

  // 2. Volume by the mass balance of the year.
  ForEachCell(g, [&](int r, int c) {
    const double share = g.shares[r][c];
    const int code = CodeOf(g.codes[r][c]);
    if (!(share >= 0.0) || code < 0) return;
    glacier_record* record = list.Find(code);
    if (!record) return;
    record->volume += (g.mass_balance[r][c] - g.old_mass_balance[r][c]) / kIceToWaterDensity * share /
                      kMillimetresPerMetre * record->CellArea();
  });
  *messages << "DEBUG: Glacierbalance\n"
            << "[end-entry]";

  // 3. Area by the volume-area relation, the change spread over the bands.
  for (std::size_t j = 0; j < list.records.size(); ++j) {
    glacier_record* record = &list.records[j];
    const int code = record->code;
    if (record->volume == 0.0) {
      record->old_area = record->area;
      const double area = record->area > 0.0 ? record->area : kMinimumGlacierArea;
      record->volume = record->old_volume = record->c * std::pow(area, record->gamma);
    }
    const double smallest = record->c * std::pow(kMinimumGlacierArea, record->gamma);
    double new_area = kMinimumGlacierArea;
    if (smallest >= record->volume) {
      // Held at its minimum area, a glacier that melted more than it had
      // goes on with ice the year did not leave it: said once.
      if (record->volume < 0.0 && !record->melt_beyond_volume_reported) {
        record->melt_beyond_volume_reported = true;
        *messages << "WARNING: glacier " << code << " melted more than its volume in the year up to this "
                  << "evaluation (" << -record->volume << " 10^6 m3 of ice beyond it); it is held at its "
                  << "minimum area of " << kMinimumGlacierArea << " km2 with " << smallest
                  << " 10^6 m3 of ice, which its melt does not count"
                  << "[end-entry]";
      }
      record->volume = smallest;
    } else {
      new_area = std::pow(record->volume / record->c, 1.0 / record->gamma);
    }
    record->area = new_area;
    double change = (record->area - record->old_area) * 1.0e6 / (record->cell_size * record->cell_size);
    record->cells_to_change = change;
    for (elevation_band& band : record->bands) band.CountChangeable(change);
    *messages << "DEBUG: "
              << "Glacier:\t" << static_cast<int>(j) << "\n"
              << "Old Volume:\t" << record->old_volume << "\n"
              << "New Volume:\t" << record->volume << "\n"
              << "Old Area:\t" << record->old_area << "\n"
              << "New Area:\t" << record->area << "\n"
              << "[end-entry]";

    for (int k = 0; std::fabs(change) > kPlacedCellChange; ++k) {
      const int bands = static_cast<int>(record->bands.size());
      double changeable = 0.0;
      double weighted = 0.0;
      for (int m = 0; m < bands; ++m) {
        const int h = record->bands[static_cast<std::size_t>(m)].CountChangeable(change);
        changeable += h;
        weighted += static_cast<double>(bands - m) * h;
        if (m == 0) weighted += static_cast<double>(bands) * record->extra_weight_band0 * h;
      }
      double rest = change;
      if (changeable > 0.0) {
        const double per_cell = change / weighted;
        *messages << "DEBUG: "
                  << "number of cells to add: \t" << change << "\n"
                  << "number of changeable cells: \t" << changeable << "\n"
                  << "fraction of cells to add per iteration: \t" << per_cell << "[end-entry]";
        rest = 0.0;
        for (int m = 0; m < bands; ++m) rest += record->DistributeAreaChange(per_cell, m, messages);
      }
      if (std::fabs(rest) > kPlacedCellChange) {
        record->ResetCollection();
        *messages << "DEBUG: " << (rest > 0.0 ? "growing the glacier..." : "shrinking the glacier...")
                  << "[end-entry]";
        if (rest > 0.0) GrowGlacier(g, list, code);
        CollectGlacierCells(g, p, list, code, false);
        record = list.Find(code);
        if (record->cell_count == 0) {
          record->ResetCollection();
          CollectGlacierCells(g, p, list, code, true);
          record = list.Find(code);
        }
        record->BuildBands();
        AssignBandCells(g, list, code);
      }
      if (std::fabs(rest) <= kPlacedCellChange) break;
      if (k >= kLastGeometryIteration) {
        *messages
            << "WARNING: \n----------- WARNING: ----------\nThere were too many iterations when trying to "
               "remove or add glacier areas for glacier"
            << static_cast<int>(j) << "\n-----------------------------\n"
            << "[end-entry]";
        break;
      }
      change = rest;
    }
    *messages << "DEBUG: "
              << "---------------------------------\n\n"
              << "[end-entry]";
    // A change placed after the cells were collected again leaves the
    // collected area behind: the glacier's area is the one of its volume.
    record->area = new_area;
    record->old_area = record->area;
    record->old_volume = record->volume;
  }
}

void RedistributeGlacierBalance(const glacier_grids& g, glacier_list& list) {
  for (glacier_record& record : list.records) record.removed_balance = record.new_share_sum = 0.0;
  auto share_of = [&](double value) { return value > 0.0 ? value : 0.0; };
  ForEachCell(g, [&](int r, int c) {
    const int code = CodeOf(g.codes[r][c]);
    const int old_code = CodeOf(g.old_codes[r][c]);
    const double share = share_of(g.shares[r][c]);
    if (glacier_record* before = old_code > 0 ? list.Find(old_code) : nullptr) {
      const double old_share = share_of(g.old_shares[r][c]);
      before->removed_balance += (code != old_code ? old_share : old_share - share) * g.mass_balance[r][c];
    }
    if (glacier_record* now = code > 0 ? list.Find(code) : nullptr) now->new_share_sum += share;
  });
  for (glacier_record& record : list.records)
    record.balance_per_share =
        record.new_share_sum != 0.0 ? record.removed_balance / record.new_share_sum : 0.0;
  ForEachCell(g, [&](int r, int c) {
    const int code = CodeOf(g.codes[r][c]);
    if (glacier_record* record = code > 0 ? list.Find(code) : nullptr)
      g.mass_balance[r][c] += record->balance_per_share;
  });
}

}  // namespace velmo
