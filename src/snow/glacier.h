// Glaciers of the snow model: the glacier methods, the parameters of
// "[ice_firn]", and the physics of a glacierised cell as plain functions of
// numbers: the rain/snow split and snow melt on the cell's two covers (the
// ordinary cover of its glacier-free share and the snow on its glacier
// share), firn and ice melt, the firn stack, the linear storages of the
// subbasins and the yearly turn of snow into firn.
//
// A cell with glacier share g (0..1) keeps its ordinary cover as a depth over
// 1 − g and its snow on the glacier, its firn and its ice as depths over g;
// each cover receives the whole rain and snowfall of the cell. With the
// static methods the ordinary cover stands for the snow on the glacier too.
//
//   [ice_firn]
//   11      glacier method: 1 static degree-day, 2 static with radiation,
//           11/12 their dynamic forms, 13 dynamic with the snow method's melt
//   6  4  3 DDFice, DDFfirn, DDFsnow (mm/(°C·day)); 2 MF; Aice_min/max,
//           Asnow_min/max (radiation factors); kice_els, kfirn_els, ksnow_els
//           (hours); the initial outflows of the three storages (mm per step)
//   then the melt grids and tables; dynamic methods add the readgrid flag,
//   "firn_levels firn_base deltafirnper100m", "GMBEvalDay GMBEvalMonth",
//   "VAscaling VAexponent numElevBands extraWeightFactorBand0", the firn
//   stack, mass balance and on-glacier snow grids and tables, and optionally
//   "maxSnowPackToCreateGlacier relSizeNewGlacier".
#pragma once

#include <cmath>
#include <string>

#include "physics/glacier_share.h"
#include "snow/snow_melt.h"
#include "snow/snow_section.h"

namespace velmo {

class section_reader;

// A glacier or permafrost value or grid that cannot work.
inline constexpr int kGlacierSetUpCode = 80;

// ---------------------------------------------------------------- methods

// What a glacier method number means.
struct glacier_method_kind {
  bool defined = false;      // methods 1, 2, 11, 12, 13
  bool dynamic = false;      // 11, 12, 13: a firn stack, snow on the glacier share, yearly update
  bool radiation = false;    // 2, 12, 13: radiation index for firn and ice
  bool snow_method = false;  // 13: the snow on the glacier melts by the snow model's method
};

// The one place where glacier method numbers map to what they do.
glacier_method_kind GlacierMethodKind(int method);

// ---------------------------------------------------------------- parameters

struct glacier_parameters {
  int method = 0;
  glacier_method_kind kind;
  double DDFice = 0.0;  // mm/(°C·day)
  double DDFfirn = 0.0;
  double DDFsnow = 0.0;
  double MF = 0.0;  // mm/(°C·day), melt factor of the radiation index
  double Aice_min = 0.0;
  double Aice_max = 0.0;
  double Asnow_min = 0.0;
  double Asnow_max = 0.0;
  double kice_els = 0.0;  // hours; 0 passes the melt on in its step
  double kfirn_els = 0.0;
  double ksnow_els = 0.0;
  double initial_Qice = 0.0;  // mm per step, every subbasin
  double initial_Qfirn = 0.0;
  double initial_Qsnow = 0.0;

  output_grid firn_melt_grid;  // "melt_from_firn"
  statistics_file firn_melt_statistics;
  output_grid ice_melt_grid;  // "melt_from_ice"
  statistics_file ice_melt_statistics;
  statistics_file total_melt_statistics;
  // Dynamic methods: read; static methods: named from the qglac table.
  statistics_file snow_melt_statistics;

  // Dynamic methods.
  int readgrid = 0;  // 1: firn stack, mass balances and on-glacier snow from their files
  int firn_levels = 0;
  double firn_base = 0.0;         // m
  double deltafirnper100m = 0.0;  // mm of firn per level and metre above firn_base
  int GMBEvalDay = 0;
  int GMBEvalMonth = 0;
  double VAscaling = 0.0;  // c of V = c·A^γ (10⁶ m³, km²)
  double VAexponent = 0.0;
  int numElevBands = 0;
  int extraWeightFactorBand0 = 0;
  output_grid firn_stack;  // "firn_WE_stack"
  statistics_file firn_statistics;
  output_grid mass_balance_grid;      // "GlacierMassBalance"
  output_grid old_mass_balance_grid;  // "OldGlacierMassBalance"
  statistics_file mass_balance_statistics;
  statistics_file glacier_mass_balance_statistics;
  double debris_scaling = 1.0;  // σ of the ice melt
  statistics_file snow_storage_statistics;
  output_grid solid_on_glacier_grid;
  output_grid liquid_on_glacier_grid;
  output_grid total_on_glacier_grid;
  output_grid snow_melt_on_glacier_grid;
  output_grid surface_temperature_on_glacier_grid;
  output_grid snow_temperature_on_glacier_grid;
  output_grid snow_evaporation_on_glacier_grid;
  double maxSnowPackToCreateGlacier = 1000.0;  // mm
  double relSizeNewGlacier = 0.25;
};

// Reading "[ice_firn]" with a reader opened at the section: the method, then
// (after the glacier grids are checked) the rest. Failures write their entry
// and throw: a missing value 17, a method or parameter that cannot work 80
// (naming the value). Without line 53 a WARNING keeps the defaults of a new
// glacier.
inline constexpr const char* kGlacierSection = "[ice_firn]";
void ReadGlacierMethod(section_reader& in, glacier_parameters& p);
void ReadGlacierValues(section_reader& in, glacier_parameters& p);

// Name of the static methods' table of snow melt on the glacier share, from
// the qglac table's: "_qsgl_" before the last "." of the file part, or
// appended when there is none ("q.txt" gives "q_qsgl_.txt").
std::string SnowOnGlacierTableName(const std::string& qglac_name);

// ---------------------------------------------------------------- one step of a glacier cell

// A melt index (f + a·I)·X: f the factor per step (DDF/n, or MF/n with the
// radiation term), a the seasonal radiation factor (0 for a degree-day
// index), I the radiation of the step and X the air temperature above T0.
struct melt_index {
  double factor = 0.0;
  double radiation = 0.0;
};
inline double IndexMelt(const melt_index& index, double radiation, double excess_temperature) {
  return (index.factor + index.radiation * radiation) * excess_temperature;
}

// The values of a step the glacier cells share.
struct glacier_step_constants {
  melt_index snow;  // snow on the glacier (methods 1, 2, 11, 12)
  melt_index firn;
  melt_index ice;
  double debris_scaling = 1.0;
  double t0 = 0.0;  // °C
  double t0r = 0.0;
  double transzone = 0.0;
  double cwh = 0.0;
};

// The melt indices of a method for a step of `steps_per_day`, with the
// seasonal factors Asnow and Aice of the day.
glacier_step_constants GlacierStepConstants(const glacier_parameters& p, double steps_per_day, double a_snow,
                                            double a_ice);

// Firn and ice melt of the step (mm over the glacier share).
struct firn_ice_melt {
  double firn = 0.0;
  double ice = 0.0;
};

// Firn or ice melts only with air above T0 and no solid snow left on the
// glacier share; the snow melt m of the step is taken from it, and only a
// positive remainder melts. `firn_surface`: the cell shows firn (static:
// code 2; dynamic: a firn stack above 0), else ice, whose melt the debris
// factor d and the global scaling σ raise or lower.
inline firn_ice_melt FirnAndIceMelt(const glacier_step_constants& k, double t_air, double solid_on_glacier,
                                    bool firn_surface, double debris, double radiation, double snow_melt) {
  firn_ice_melt melt;
  if (!(t_air > k.t0) || solid_on_glacier > 0.0) return melt;
  const double x = t_air - k.t0;
  if (firn_surface) {
    const double firn = IndexMelt(k.firn, radiation, x) - snow_melt;
    if (firn > 0.0) melt.firn = firn;
  } else {
    const double ice = k.debris_scaling * debris * IndexMelt(k.ice, radiation, x) - snow_melt;
    if (ice > 0.0) melt.ice = ice;
  }
  return melt;
}

// A debris grid value is the cell's ice-melt factor when it holds data.
inline double DebrisFactor(double value, double nodata) { return value > nodata + 1.0 ? value : 1.0; }

// The snow of the step on a glacierised cell with an index method (1, 2, 11,
// 12): the whole input water splits into snowfall and rain at T, both reach
// the ordinary cover (with the canopy's unloaded snow) and, for the dynamic
// methods (with `solid_on_glacier`), the snow on the glacier share too. Both
// covers melt by the glacier's snow index; in every step the liquid beyond
// CWH times the solid storage flows out.
struct glacier_cover_result {
  double snowfall = 0.0;
  double rain = 0.0;
  double outflow = 0.0;          // of the ordinary cover: "snowcover_outflow"
  double melt_outflow = 0.0;     // "melt_from_snowcover"
  double glacier_melt = 0.0;     // m: melt of the snow on the glacier share (static: of the ordinary cover)
  double glacier_outflow = 0.0;  // "SnowMelt_onGlacier" (static: the ordinary cover's outflow)
};
inline glacier_cover_result GlacierIndexCovers(const glacier_step_constants& k, double t_air,
                                               double input_water, double canopy_unload, double radiation,
                                               double& solid, double& liquid, double* solid_on_glacier,
                                               double* liquid_on_glacier) {
  glacier_cover_result result;
  const double p = SnowFraction(t_air, k.t0r, k.transzone);
  result.snowfall = input_water * p;
  result.rain = (1.0 - p) * input_water;
  solid += result.snowfall + canopy_unload;
  liquid += result.rain;
  const bool warm = t_air > k.t0;
  const double melt = warm ? IndexMelt(k.snow, radiation, t_air - k.t0) : 0.0;

  const double ordinary_melt = warm && solid + liquid > 0.0 ? (melt < solid ? melt : solid) : 0.0;
  const snow_release release = ReleaseLiquid(ordinary_melt, k.cwh, solid, liquid);
  result.outflow = release.outflow;
  result.melt_outflow = release.melt_outflow;
  if (!solid_on_glacier) {
    // Static methods: the ordinary cover is the snow on the glacier as well.
    result.glacier_melt = ordinary_melt;
    result.glacier_outflow = release.outflow;
    return result;
  }
  double& gs = *solid_on_glacier;
  double& gl = *liquid_on_glacier;
  gs += result.snowfall;
  gl += result.rain;
  result.glacier_melt = warm && gs + gl > 0.0 ? (melt < gs ? melt : gs) : 0.0;
  result.glacier_outflow = ReleaseLiquid(result.glacier_melt, k.cwh, gs, gl).outflow;
  return result;
}

// ---------------------------------------------------------------- the firn stack

// Sum of the firn levels 1..L (nodata levels count as 0).
inline double FirnSum(const double* levels, int level_count, double nodata) {
  double sum = 0.0;
  for (int l = 1; l <= level_count; ++l)
    if (levels[l] != nodata) sum += levels[l];
  return sum;
}

// Takes `melt` from the firn levels 1..L of one cell (level 1, the youngest,
// first; nodata levels hold nothing and stay nodata) and puts the new sum of
// the levels into level 0. Returns what the levels could not supply.
inline double TakeFromFirn(double* levels, int level_count, double melt, double nodata) {
  double rest = melt;
  for (int l = 1; l <= level_count && rest > 0.0; ++l) {
    double& level = levels[l];
    if (level == nodata || !(level > 0.0)) continue;
    const double taken = rest < level ? rest : level;
    level -= taken;
    rest -= taken;
  }
  levels[0] = FirnSum(levels, level_count, nodata);
  return rest;
}

// The yearly turn: every level moves one down (the content of level L leaves
// the firn and becomes ice), level 1 takes `youngest` (the snow of the year),
// level 0 the new sum, which is returned.
double AgeFirnStack(double* levels, int level_count, double youngest, double nodata);

// Multiplies every firn level 1..L of a cell (nodata levels stay) by
// `scale` and puts their new sum into level 0.
inline void ScaleFirnStack(double* levels, int level_count, double scale, double nodata) {
  for (int l = 1; l <= level_count; ++l)
    if (levels[l] != nodata) levels[l] *= scale;
  levels[0] = FirnSum(levels, level_count, nodata);
}

// Initial firn of each level of a glacierised cell:
// max(0, (elevation − firn_base) × deltafirnper100m).
inline double InitialFirnLevel(double elevation, double firn_base, double deltafirnper100m) {
  const double firn = (elevation - firn_base) * deltafirnper100m;
  return firn > 0.0 ? firn : 0.0;
}

// ---------------------------------------------------------------- the yearly evaluation

// Moves what the ordinary cover holds above `threshold` onto the glacier
// share of a cell of share g (solid and liquid in proportion, scaled by
// (1 − g)/g, so the cell keeps its water). Returns the excess S (mm of the
// ordinary cover); nothing moves when the cover is not above the threshold.
double MoveExcessToGlacier(double threshold, double share, double& solid, double& liquid,
                           double& solid_on_glacier, double& liquid_on_glacier);

// ---------------------------------------------------------------- linear storages

// Recession of a linear storage of constant `k_hours` over a step of
// `step_hours`: exp(−Δh/k); a constant of 0 passes the inflow on in its step.
inline double StorageRecession(double step_hours, double k_hours) {
  return k_hours > 0.0 ? std::exp(-step_hours / k_hours) : 0.0;
}
// Outflow of a linear storage after a step with inflow `inflow` (the same
// unit per step), recession e and outflow `previous` before the step.
inline double LinearStorageOutflow(double inflow, double previous, double recession) {
  return (1.0 - recession) * inflow + recession * previous;
}
// Water a linear storage of recession e holds after a step with outflow
// `outflow`: e/(1 − e) times the outflow (nothing for e = 0).
inline double LinearStorageContent(double outflow, double recession) {
  return recession > 0.0 ? outflow * recession / (1.0 - recession) : 0.0;
}

// Whether a run of steps of `interval` minutes, the first carrying the clock
// time `start_minute_of_day` and every time `end_shift` minutes before the
// step's end, has steps that end at 24:00 (the only steps in which the yearly
// evaluation can run): hour·60 + minute + end_shift = 1440.
bool StepsEndAtMidnight(int interval, int end_shift, int start_minute_of_day);

}  // namespace velmo
