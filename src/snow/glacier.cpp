// Glacier methods, firn stack and yearly turn; the snow model's glacier set-up, storages and yearly update.
#include "snow/glacier.h"

#include <numeric>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "physics/units.h"
#include "setup/section_reader.h"
#include "snow/snow_melt.h"
#include "snow/snowmod.h"

namespace velmo {

glacier_method_kind GlacierMethodKind(int method) {
  glacier_method_kind kind;
  kind.defined = true;
  switch (method) {
    case 1:
      break;
    case 2:
      kind.radiation = true;
      break;
    case 11:
      kind.dynamic = true;
      break;
    case 12:
      kind.dynamic = kind.radiation = true;
      break;
    case 13:
      kind.dynamic = kind.radiation = kind.snow_method = true;
      break;
    default:
      return glacier_method_kind{};
  }
  return kind;
}

glacier_step_constants GlacierStepConstants(const glacier_parameters& p, double steps_per_day, double a_snow,
                                            double a_ice) {
  glacier_step_constants k;
  k.debris_scaling = p.debris_scaling;
  if (p.kind.radiation) {
    // Methods 2, 12 and 13: firn melts like snow, ice by its own radiation factor.
    const double mf = p.MF / steps_per_day;
    k.snow = {mf, a_snow};
    k.firn = {mf, a_snow};
    k.ice = {mf, a_ice};
  } else {
    k.snow = {p.DDFsnow / steps_per_day, 0.0};
    k.firn = {p.DDFfirn / steps_per_day, 0.0};
    k.ice = {p.DDFice / steps_per_day, 0.0};
  }
  return k;
}

double AgeFirnStack(double* levels, int level_count, double youngest, double nodata) {
  for (int l = level_count; l >= 2; --l) levels[l] = levels[l - 1];
  if (level_count >= 1) levels[1] = youngest;
  levels[0] = FirnSum(levels, level_count, nodata);
  return levels[0];
}

double MoveExcessToGlacier(double threshold, double share, double& solid, double& liquid,
                           double& solid_on_glacier, double& liquid_on_glacier) {
  const double total = solid + liquid;
  if (!(total > threshold) || !(share > 0.0)) return 0.0;
  const double excess = total - threshold;
  const double solid_part = solid / total * excess;
  const double liquid_part = excess - solid_part;
  solid -= solid_part;
  liquid -= liquid_part;
  const double scale = (1.0 - share) / share;
  solid_on_glacier += solid_part * scale;
  liquid_on_glacier += liquid_part * scale;
  return excess;
}

bool StepsEndAtMidnight(int interval, int end_shift, int start_minute_of_day) {
  const int target = kMinutesPerDay - end_shift;
  if (interval <= 0 || target < 0) return false;
  // The clock times of the steps run through the start plus multiples of the
  // interval, modulo a day.
  const int step = std::gcd(interval, kMinutesPerDay);
  const int offset = ((target - start_minute_of_day) % step + step) % step;
  return offset == 0;
}

std::string SnowOnGlacierTableName(const std::string& qglac_name) {
  return FileNameWithMarker(qglac_name, "_qsgl_");
}

// ================================================================ the snow model's glaciers

namespace {

constexpr int kMeltPrecision = 5;
constexpr int kFirnPrecision = 4;
constexpr int kStoragePrecision = 3;
constexpr int kThawDepthPrecision = 4;
constexpr int kFillWithDefault = 2;  // cells of the zone grid missing in a file take the default

}  // namespace

void schneemodellklasse::SetUpGlaciers() {
  section_reader in(*this, kGlacierSection);
  ReadGlacierMethod(in, glacier);
  debris_ = OptionalGridData("debris_on_glaciers", true);
  if (glacier.kind.dynamic) {
    storage_first_row = 1;
    storage_last_row = nrows;
    glacier_shares_ = RequiredData("GlacierizedCells");
    const int codes = FindRequiredGrid("GlacierCodes");
    glacier_codes_ = DataOf(codes, "GlacierCodes");
    glacier_codes_file_ = (*grids)[codes].file_name;
    CheckGlacierGrids();
  } else {
    glacier_shares_ = RequiredData("ice_firn");
  }
  const auto subbasins = static_cast<std::size_t>(subbasin_count) + 1;
  glacier_outflows.assign(subbasins, glacier_outflow{});
  glacier_fractions.assign(subbasins, glacier_fraction{});
  glacier_sums_.assign(subbasins, glacier_subbasin_sums{});
  ReadGlacierValues(in, glacier);
  CloseSection(in);
  for (std::size_t i = 1; i < subbasins; ++i)
    glacier_outflows[i] = {glacier.initial_Qice, glacier.initial_Qfirn, glacier.initial_Qsnow};
  CreateGlacierStatistics();
  a_snow_mean_ = glacier.Asnow_min + (glacier.Asnow_max - glacier.Asnow_min) / 2.0;
  a_snow_amplitude_ = (glacier.Asnow_max - glacier.Asnow_min) / 2.0;
  a_ice_mean_ = glacier.Aice_min + (glacier.Aice_max - glacier.Aice_min) / 2.0;
  a_ice_amplitude_ = (glacier.Aice_max - glacier.Aice_min) / 2.0;
  if (glacier.kind.radiation)
    radiation_ =
        DataOf(FindOneOfThreeGrids("global_radiation", "Ieff_max", "!!_no_entry_!!"), "global_radiation");
  ComputeGlacierFractions();
  // The storages start as depths over the shares of the start.
  for (glacier_fraction& f : glacier_fractions) f.drained_share = f.Share();
  const int start = start_date.hour * kMinutesPerHour + start_date.minute;
  if (glacier.kind.dynamic &&
      !StepsEndAtMidnight(static_cast<int>(time_interval), static_cast<int>(min_to_int_end), start)) {
    *messages << "WARNING: " << name << ": no step of " << time_interval
              << " minutes ends at 24:00, so the glacier mass balance of GMBEvalDay " << glacier.GMBEvalDay
              << " and GMBEvalMonth " << glacier.GMBEvalMonth
              << " is never evaluated and the glaciers keep their area"
              << "[end-entry]";
  }
  glaciers_on = true;
}

void schneemodellklasse::CheckGlacierGrids() {
  bool glacierised = false;
  bool coded = false;
  for (int r = 1; r <= nrows; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      const double code = glacier_codes_[r][c];
      if (glacier_shares_[r][c] > 0.0) {
        glacierised = true;
        if (code == nodata_value) {
          *messages
              << "FATAL: \n-----------Fatal Error:----------\nThere is a cell in the GlacierizedCells-grid "
                 "having no valid value in \n"
              << "GlacierCodes"
              << " (must be an integer ID for each separate glacier) at row " << r << " and col " << c
              << "[end-entry]";
          throw ErrorCode{kGlacierSetUpCode};
        }
      }
      if (subbasin_grid_[r][c] != nodata_value && code > 0.0) coded = true;
    }
  }
  if (!glacierised) {
    RaiseFatal(
        messages,
        "FATAL: \n-----------Fatal Error:----------\nThere are no glacierized cells in GlacierizedCells-grid "
        "(all nodata or equal to 0)!",
        kGlacierSetUpCode);
  }
  if (!coded) {
    RaiseFatal(messages,
               std::string("FATAL: \n----------- Fatal Error: ----------\nThe ") + "GlacierCodes" +
                   " grid (" + glacier_codes_file_ + ")contains nodata values only. \n" +
                   "Dynamic glacier modelling will not be possible without \n" +
                   "distinct glacier codes for each glacier",
               kGlacierSetUpCode);
  }
}

void schneemodellklasse::CreateGlacierStatistics() {
  const glacier_parameters& p = glacier;
  firn_melt_table_ =
      AddStatistics(p.firn_melt_statistics, "glacier_melt_from_firn_areas__", kMeltPrecision, true);
  ice_melt_table_ =
      AddStatistics(p.ice_melt_statistics, "glacier_melt_from_ice_areas__", kMeltPrecision, true);
  snow_melt_table_ =
      AddStatistics(p.snow_melt_statistics, "snow_melt_from_ice_areas__", kMeltPrecision, true);
  total_melt_table_ =
      AddStatistics(p.total_melt_statistics, "glacier_melt_total(firn+ice)__", kMeltPrecision, true);
  if (!p.kind.dynamic) return;
  storage_without_glaciers_table_ =
      AddStatistics(p.snow_storage_statistics, "snow_storage_in_mm_WITHOUT_GLACIERS_", kStoragePrecision);
  storage_without_glaciers_sums_.assign(static_cast<std::size_t>(zone_count) + 1, zone_sums{});
  firn_table_ = AddStatistics(p.firn_statistics, "WE_in_firn_[mm_per_subbasin]", kFirnPrecision, true);
  mass_balance_table_ = AddStatistics(p.mass_balance_statistics, "glacier_mass_balance_[mm_per_subbasin]",
                                      kMeltPrecision, true);
  glacier_mass_balance_table_ =
      AddStatistics(p.glacier_mass_balance_statistics, "glacier_mass_balance_[mm_GlacierPartOfSubbasin]",
                    kMeltPrecision, true);
}

int schneemodellklasse::SubbasinOf(double value) const {
  if (!(value > nodata_value)) return 0;
  const int code = ZoneCodeOf(value);
  return code >= 0 && code <= max_subbasin_code_ ? subbasin_code_map_[static_cast<std::size_t>(code)] : 0;
}

void schneemodellklasse::ComputeGlacierFractions() {
  for (glacier_fraction& f : glacier_fractions) f.glacier_area = f.free_area = 0.0;
  for (int r = 1; r <= nrows; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      const int s = SubbasinOf(subbasin_grid_[r][c]);
      if (s == 0) continue;
      glacier_fraction& f = glacier_fractions[static_cast<std::size_t>(s)];
      const double share = CellGlacierShare(glacier_shares_[r][c]);
      if (share > 0.0) f.glacierised = true;
      f.glacier_area += share;
      f.free_area += 1.0 - share;
    }
  }
}

schneemodellklasse::module_grid schneemodellklasse::ReadOrOwnGrid(const std::string& grid_name,
                                                                  const output_grid& output, int rows_first,
                                                                  int rows_last, bool read_initial) {
  if (!read_initial) return OwnGrid(grid_name, output.file, output.write_code, rows_first, rows_last, true);
  double** data = nullptr;
  ReadGrid(output.file, data, kFillWithDefault, true, false, 0.0, false);
  matrices_.emplace_back(data);
  CheckStateGrid(output.file, data);
  const int index = grids->FirstFreeEntry();
  RegisterGrid(index, output.file, data, nullptr, 0, grid_name, output.write_code, rows_first, rows_last);
  return {data, index, true};
}

void schneemodellklasse::RegisterGlacierGrids() {
  const glacier_parameters& p = glacier;
  firn_melt_ = OwnGrid("melt_from_firn", p.firn_melt_grid.file, p.firn_melt_grid.write_code, first_row,
                       last_row, true);
  ice_melt_ =
      OwnGrid("melt_from_ice", p.ice_melt_grid.file, p.ice_melt_grid.write_code, first_row, last_row, true);
  if (!p.kind.dynamic) return;
  const int s0 = storage_first_row;
  const int s1 = storage_last_row;
  const bool read = p.readgrid == 1;
  SetUpFirnStack();
  mass_balance_ = ReadOrOwnGrid("GlacierMassBalance", p.mass_balance_grid, s0, s1, read);
  old_mass_balance_ = ReadOrOwnGrid("OldGlacierMassBalance", p.old_mass_balance_grid, s0, s1, read);
  if (read) {
    // A balance missing in one grid is taken from the other.
    for (int r = s0; r <= s1; ++r)
      for (int c = 1; c <= ncols; ++c) {
        double& balance = mass_balance_.data[r][c];
        double& old_balance = old_mass_balance_.data[r][c];
        if (balance == nodata_value && old_balance != nodata_value) {
          balance = old_balance;
        } else if (old_balance == nodata_value && balance != nodata_value) {
          old_balance = balance;
        }
      }
  }
  solid_on_glacier_ = ReadOrOwnGrid("SolidSnowStorage_onGlacier", p.solid_on_glacier_grid, s0, s1, read);
  liquid_on_glacier_ = ReadOrOwnGrid("LiquidSnowStorage_onGlacier", p.liquid_on_glacier_grid, s0, s1, read);
  total_on_glacier_ = ReadOrOwnGrid("TotalSnowStorage_onGlacier", p.total_on_glacier_grid, s0, s1, read);
  if (EnergyBalance()) RegisterGlacierEnergyBalanceGrids();
  old_shares_ = OwnGrid("GlacierizedCellsOld", "GlacierizedCellsOld", 0, s0, s1, false);
  old_codes_ = OwnGrid("GlacierCodesOld", "GlacierCodesOld", 0, s0, s1, false);
  for (int r = s0; r <= s1; ++r)
    for (int c = 1; c <= ncols; ++c) {
      old_shares_.data[r][c] = glacier_shares_[r][c];
      old_codes_.data[r][c] = glacier_codes_[r][c];
    }
  snow_melt_on_glacier_ = OwnGrid("SnowMelt_onGlacier", p.snow_melt_on_glacier_grid.file,
                                  p.snow_melt_on_glacier_grid.write_code, first_row, last_row, true);
  snow_evaporation_on_glacier_ =
      OwnGrid("SnowEvaporation_onGlacier", p.snow_evaporation_on_glacier_grid.file,
              p.snow_evaporation_on_glacier_grid.write_code, first_row, last_row, true);
  BuildGlacierList();
}

void schneemodellklasse::SetUpFirnStack() {
  const glacier_parameters& p = glacier;
  double*** stack = nullptr;
  if (p.readgrid == 1) {
    firn_levels = ReadStack(p.firn_stack.file, stack);
    firn_stack_ = owned_stack(stack);
  } else {
    firn_levels = p.firn_levels;
    firn_stack_ = owned_stack(Matrix3D(1, nrows, 1, ncols, firn_levels, nrows));
    stack = firn_stack_.get();
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) {
        double* levels = stack[r][c];
        double level = 0.0;
        if (subbasin_grid_[r][c] == nodata_value) {
          level = nodata_value;
        } else if (glacier_shares_[r][c] > 0.0) {
          level = InitialFirnLevel(elevation_[r][c], p.firn_base, p.deltafirnper100m);
        }
        for (int l = 1; l <= firn_levels; ++l) levels[l] = level;
        levels[0] = level == nodata_value ? nodata_value : level * firn_levels;
      }
  }
  glacier.firn_levels = firn_levels;
  double** sums = matrix(1, nrows, 1, ncols, nrows);
  matrices_.emplace_back(sums);
  for (int r = 1; r <= nrows; ++r)
    for (int c = 1; c <= ncols; ++c) sums[r][c] = stack[r][c][0];
  const int index = grids->FirstFreeEntry();
  RegisterGrid(index, p.firn_stack.file, sums, stack, firn_levels, "firn_WE_stack", p.firn_stack.write_code,
               storage_first_row, storage_last_row);
  firn_sum_ = {sums, index, true};
}

void schneemodellklasse::SetUpPermafrost() {
  const output_grid unnamed;
  snow_free_days_ = StorageGrid("SnowFreeDaysGrid", unnamed, first_row, last_row, false);
  snow_cover_days_ = StorageGrid("SnowCoverDaysGrid", unnamed, first_row, last_row, false);
  thaw_coefficient_ = RequiredData("ThawCoeffPermaFrost");
  thaw_depth_ = RequiredData("PermafrostThawDepth");
  root_depth_ = RequiredData("root_depth1");
  ReadPermafrostSection(*this, permafrost);
  thaw_depth_table_ =
      AddStatistics(permafrost.thaw_depth_statistics, "thaw_depth_in_m_", kThawDepthPrecision);
  thaw_depth_sums_.assign(static_cast<std::size_t>(zone_count) + 1, zone_sums{});
  permafrost_on = true;
}

// ---------------------------------------------------------------- glacier list and yearly update

glacier_grids schneemodellklasse::GeometryGrids() {
  glacier_grids g;
  g.nrows = nrows;
  g.ncols = ncols;
  g.row_ranges = row_ranges;
  g.nodata = nodata_value;
  g.cellsize = cellsize;
  g.subbasins = subbasin_grid_;
  g.elevation = elevation_;
  g.shares = glacier_shares_;
  g.codes = glacier_codes_;
  g.old_shares = old_shares_.data;
  g.old_codes = old_codes_.data;
  g.firn_sum = firn_sum_.data;
  g.firn = firn_stack_.get();
  g.firn_levels = firn_levels;
  g.mass_balance = mass_balance_.data;
  g.old_mass_balance = old_mass_balance_.data;
  return g;
}

glacier_geometry_parameters schneemodellklasse::GeometryParameters() const {
  return {glacier.VAscaling, glacier.VAexponent, glacier.numElevBands, glacier.extraWeightFactorBand0,
          glacier.relSizeNewGlacier};
}

void schneemodellklasse::BuildGlacierList() {
  if (glaciers_on && glacier.kind.dynamic)
    ::velmo::BuildGlacierList(GeometryGrids(), GeometryParameters(), glaciers, messages);
}

void schneemodellklasse::UpdateGlacierGeometry() {
  if (glaciers_on && glacier.kind.dynamic)
    ::velmo::UpdateGlacierGeometry(GeometryGrids(), GeometryParameters(), glaciers, messages);
}

void schneemodellklasse::RedistributeGlacierBalance() {
  if (glaciers_on && glacier.kind.dynamic) ::velmo::RedistributeGlacierBalance(GeometryGrids(), glaciers);
}

double schneemodellklasse::SeasonalIceFactor(int day, int month) {
  return SeasonalFactor(a_ice_mean_, a_ice_amplitude_, day, month, month_lengths);
}

double schneemodellklasse::SeasonalSnowFactor(int day, int month) {
  return SeasonalFactor(a_snow_mean_, a_snow_amplitude_, day, month, month_lengths);
}

// ---------------------------------------------------------------- the step

void schneemodellklasse::ClearGlacierFreeCells() {
  glacier_cells_changed_ = false;
  const bool dynamic = glacier.kind.dynamic;
  if (dynamic) {
    for (int r = storage_first_row; r <= storage_last_row; ++r)
      for (int c = 1; c <= ncols; ++c) old_shares_.data[r][c] = glacier_shares_[r][c];
  }
  // Only a cell with a glacier share holds glacier values.
  for (int r = first_row; r <= last_row; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (zone_grid[r][c] == nodata_value || CellGlacierShare(glacier_shares_[r][c]) > 0.0) continue;
      firn_melt_.data[r][c] = ice_melt_.data[r][c] = 0.0;
      if (!dynamic) continue;
      snow_melt_on_glacier_.data[r][c] = 0.0;
      solid_on_glacier_.data[r][c] = liquid_on_glacier_.data[r][c] = total_on_glacier_.data[r][c] = 0.0;
    }
  }
}

void schneemodellklasse::FeedGlacierTables() {
  for (int s = 1; s <= subbasin_count; ++s) {
    const glacier_subbasin_sums& sum = glacier_sums_[static_cast<std::size_t>(s)];
    firn_melt_table_->AddZoneSums(s, sum.cells, sum.firn, sum.divisor);
    ice_melt_table_->AddZoneSums(s, sum.cells, sum.ice, sum.divisor);
    snow_melt_table_->AddZoneSums(s, sum.cells, sum.snow, sum.divisor);
    if (!glacier.kind.dynamic) continue;
    firn_table_->AddZoneSums(s, sum.cells, sum.firn_water, sum.divisor);
    mass_balance_table_->AddZoneSums(s, sum.cells, sum.balance, sum.divisor);
    glacier_mass_balance_table_->AddZoneSums(s, sum.shares, sum.balance, sum.share_divisor);
  }
  if (storage_without_glaciers_table_) {
    for (int z = 1; z <= zone_count; ++z) {
      const zone_sums& sum = storage_without_glaciers_sums_[static_cast<std::size_t>(z)];
      storage_without_glaciers_table_->AddZoneSums(z, sum.cells, sum.value, sum.divisor);
    }
  }
}

double schneemodellklasse::KeepGlacierStorageWater(std::size_t i) {
  glacier_fraction& f = glacier_fractions[i];
  glacier_outflow& q = glacier_outflows[i];
  const double share = f.Share();
  const double drained = f.drained_share;
  f.drained_share = share;
  if (share == drained) return 0.0;
  if (share > 0.0) {
    // The outflows are depths over the glacier share: a share that shrinks
    // or grows spreads the same water over the new one.
    if (drained > 0.0) {
      const double scale = drained / share;
      q = {q.ice * scale, q.firn * scale, q.snow * scale};
    }
    return 0.0;
  }
  // A subbasin whose glaciers are gone hands what their storages held to
  // its runoff.
  const double step_hours = time_interval / kMinutesPerHour;
  const double held = LinearStorageContent(q.ice, StorageRecession(step_hours, glacier.kice_els)) +
                      LinearStorageContent(q.firn, StorageRecession(step_hours, glacier.kfirn_els)) +
                      LinearStorageContent(q.snow, StorageRecession(step_hours, glacier.ksnow_els));
  q = glacier_outflow{};
  return held * drained;
}

void schneemodellklasse::RunGlacierStorages() {
  if (process_index != 0) return;
  const double step_hours = time_interval / kMinutesPerHour;
  const double ice = StorageRecession(step_hours, glacier.kice_els);
  const double firn = StorageRecession(step_hours, glacier.kfirn_els);
  const double snow = StorageRecession(step_hours, glacier.ksnow_els);
  for (int s = 1; s <= subbasin_count; ++s) {
    const auto i = static_cast<std::size_t>(s);
    const glacier_subbasin_sums& sum = glacier_sums_[i];
    double runoff_sum = 0.0;
    const bool weighed = sum.cells > 0.0 && sum.divisor > 0.0;
    if (glacier_fractions[i].glacierised) {
      double runoff = KeepGlacierStorageWater(i);  // a depth over the subbasin
      const double share = glacier_fractions[i].Share();
      if (share > 0.0) {
        // Table means over the whole subbasin, as depths over its glacier share.
        glacier_outflow& q = glacier_outflows[i];
        const double scale = weighed ? 1.0 / (sum.divisor * share) : 0.0;
        q.ice = LinearStorageOutflow(sum.ice * scale, q.ice, ice);
        q.firn = LinearStorageOutflow(sum.firn * scale, q.firn, firn);
        q.snow = LinearStorageOutflow(sum.snow * scale, q.snow, snow);
        runoff = (q.ice + q.firn + q.snow) * share;
      }
      runoff_sum = runoff * sum.divisor;
      if (subbasin_runoff_) {
        // Row 0 is the subbasin's runoff; row 1 hands the glacier's part to
        // the soil step, which adds its own.
        subbasin_runoff_[0][s] = runoff;
        subbasin_runoff_[1][s] = runoff;
      }
    }
    total_melt_table_->AddZoneSums(s, sum.cells, runoff_sum, sum.divisor);
  }
}

void schneemodellklasse::EvaluateGlacierYear() {
  const double threshold = glacier.maxSnowPackToCreateGlacier;
  const double new_share = glacier.relSizeNewGlacier;
  double*** stack = firn_stack_.get();
  for (int r = storage_first_row; r <= storage_last_row; ++r)
    for (int c = 1; c <= ncols; ++c) old_shares_.data[r][c] = glacier_shares_[r][c];

  for (int r = 1; r <= nrows; ++r) {
    const double* region_row = regions_ ? regions_[r] : nullptr;
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (zone_grid[r][c] == nodata_value) continue;
      if (region_row && static_cast<int>(region_row[c]) != process_index) continue;
      double& solid = solid_.data[r][c];
      double& liquid = liquid_.data[r][c];
      double& glacier_solid = solid_on_glacier_.data[r][c];
      double& glacier_liquid = liquid_on_glacier_.data[r][c];
      double* levels = stack[r][c];
      const double share = CellGlacierShare(glacier_shares_[r][c]);
      if (share > 0.0) {
        // The snow of the year turns into firn, the oldest firn into ice.
        if (share < 1.0) {
          mass_balance_.data[r][c] +=
              MoveExcessToGlacier(threshold, share, solid, liquid, glacier_solid, glacier_liquid);
        } else {
          solid = liquid = 0.0;
        }
        old_codes_.data[r][c] = glacier_codes_[r][c];
        firn_sum_.data[r][c] =
            AgeFirnStack(levels, firn_levels, glacier_solid + glacier_liquid, nodata_value);
      } else if (solid + liquid > threshold) {
        // Deep snow on a cell without glacier starts one: a code above 0
        // stays, any other joins a neighbouring glacier or starts a new one.
        if (glacier_codes_[r][c] > 0.0) {
          old_codes_.data[r][c] = glacier_codes_[r][c];
        } else {
          glacier_codes_[r][c] = -1.0;
        }
        glacier_shares_[r][c] = old_shares_.data[r][c] = new_share;
        glacier_solid = solid;
        glacier_liquid = liquid;
        MoveExcessToGlacier(threshold, new_share, solid, liquid, glacier_solid, glacier_liquid);
        for (int l = 1; l <= firn_levels; ++l) levels[l] = 0.0;
        if (firn_levels >= 1) levels[1] = glacier_solid + glacier_liquid;
        levels[0] = firn_levels >= 1 ? levels[1] : 0.0;
        firn_sum_.data[r][c] = levels[0];
        mass_balance_.data[r][c] = old_mass_balance_.data[r][c] = levels[0];
      } else {
        continue;
      }
      glacier_solid = glacier_liquid = total_on_glacier_.data[r][c] = 0.0;
      total_.data[r][c] = solid + liquid;
    }
  }

  if (process_index == 0) {
    UpdateGlacierGeometry();
    RedistributeGlacierBalance();
    EmptyHook(0, 0, 0);
    *messages << "DEBUG: glaciers changed, updating glaicerlist now..."
              << "[end-entry]";
  }
  CarryCoversAcrossShares();
  RecomputeGlacierFractions();
  for (int r = storage_first_row; r <= storage_last_row; ++r)
    for (int c = 1; c <= ncols; ++c) {
      double& balance = mass_balance_.data[r][c];
      double& old_balance = old_mass_balance_.data[r][c];
      if (subbasin_grid_[r][c] > nodata_value && CellGlacierShare(glacier_shares_[r][c]) > 0.0) {
        old_balance = balance;
      } else {
        // Outside the zone grid the balances stay without value.
        balance = old_balance = zone_grid[r][c] == nodata_value ? nodata_value : 0.0;
      }
    }
  glacier_cells_changed_ = true;
}

void schneemodellklasse::CarryCoversAcrossShares() {
  double*** stack = firn_stack_.get();
  for (int r = first_row; r <= last_row; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (zone_grid[r][c] == nodata_value) continue;
      const double before = CellGlacierShare(old_shares_.data[r][c]);
      const double after = CellGlacierShare(glacier_shares_[r][c]);
      if (before == after) continue;
      // The firn is a depth over the glacier share, the ordinary cover and
      // the step's outflow from it depths over the rest.
      double* levels = stack[r][c];
      double& solid = solid_.data[r][c];
      double& liquid = liquid_.data[r][c];
      double& outflow = outflow_.data[r][c];
      const double firn_water = before * firn_sum_.data[r][c];
      if (after > 0.0) {
        ScaleFirnStack(levels, firn_levels, before / after, nodata_value);
      } else if (firn_water > 0.0) {
        // A cell the ice left keeps its firn as snow.
        ScaleFirnStack(levels, firn_levels, 0.0, nodata_value);
        solid += firn_water;
      }
      if (after < 1.0) {
        const double scale = (1.0 - before) / (1.0 - after);
        solid *= scale;
        liquid *= scale;
        outflow *= scale;
      } else {
        // Under ice throughout: the cover and its outflow join the youngest firn.
        const double water = (1.0 - before) * (solid + liquid + outflow);
        if (firn_levels >= 1 && levels[1] != nodata_value) levels[1] += water / after;
        levels[0] = FirnSum(levels, firn_levels, nodata_value);
        solid = liquid = outflow = 0.0;
      }
      firn_sum_.data[r][c] = levels[0];
      total_.data[r][c] = solid + liquid;
    }
  }
}

void schneemodellklasse::RecomputeGlacierFractions() {
  const std::vector<glacier_fraction> before = glacier_fractions;
  ComputeGlacierFractions();
  for (std::size_t i = 1; i < glacier_fractions.size(); ++i) {
    glacier_fraction& f = glacier_fractions[i];
    f.drained_share = before[i].drained_share;
    // A subbasin keeps its flag; one that gained a glacier drains it too,
    // from storages that start empty.
    if (!before[i].glacierised && f.glacier_area > 0.0) glacier_outflows[i] = glacier_outflow{};
    f.glacierised = before[i].glacierised || f.glacier_area > 0.0;
    // The storages keep their water across the new shares, in this step.
    if (!f.glacierised || process_index != 0) continue;
    const double handed = KeepGlacierStorageWater(i);
    if (handed != 0.0 && subbasin_runoff_) {
      subbasin_runoff_[0][i] += handed;
      subbasin_runoff_[1][i] += handed;
    }
  }
}

void schneemodellklasse::WriteGlacierOutputs() {
  for (const module_grid* grid : {&firn_melt_, &ice_melt_}) WriteGridOutput(grid->index, 1, false);
  if (!glacier.kind.dynamic) return;
  WriteStackOutput(firn_sum_.index);
  for (const module_grid* grid :
       {&mass_balance_, &old_mass_balance_, &solid_on_glacier_, &liquid_on_glacier_, &total_on_glacier_,
        &snow_melt_on_glacier_, &surface_temperature_on_glacier_, &snow_temperature_on_glacier_,
        &snow_evaporation_on_glacier_}) {
    if (grid->registered) WriteGridOutput(grid->index, 1, false);
  }
}

}  // namespace velmo
