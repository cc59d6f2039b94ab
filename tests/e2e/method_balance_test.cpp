// Every method keeps its water. The example catchment runs once per
// configuration, each changing the example's set-up in one respect (six days
// of hourly steps with snowfall, frost, a thaw and rain on snow; the month in
// daily steps), and after every pass the test closes the balance of each
// subbasin: what fell (and what the deposition index added to the snowfall,
// and what the glaciers' ice gave), less what evaporated, ran off and left
// for a lake, is the change of every store (canopy, snow canopy, snow cover
// with its part on glaciers, firn, soil, groundwater, direct runoff on its
// way to the outlet, the linear stores, the glaciers' storages, the ponded
// water of lake cells). The terms of every step go to a table beside the
// run's outputs, kept when the test fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/example_run.h"
#include "landsurface/infilt.h"
#include "landsurface/soil_processes.h"
#include "routing/abfluss.h"
#include "routing/reservoir.h"
#include "snow/glacier.h"
#include "snow/snowmod.h"

namespace velmo {
namespace {

using test::example_run;
using test::GridOf;
using test::OptionalGridOf;
using test::ReadFile;
using test::Replace;
using test::WriteFile;

constexpr int kSubbasins = 3;
constexpr double kCubicMetresPerMillimetreSquareMetre = 1.0e-3;

// Terms of a step, mm over the subbasin; the first ones bring water in.
enum term : int {
  kPrecipitation,
  kDepositionGain,  // snowfall the deposition index adds
  kGlacierMelt,     // melt of ice (static glaciers: of firn too), which no store holds
  kLakeExchange,    // what the routing brought into a lake less what it took out
  kEvapotranspiration,
  kGlacierSnowEvaporation,
  kCanopySublimation,
  kRunoff,
  kFirnToIce,  // the oldest firn level, which the yearly evaluation turns into ice
  kTermCount
};
constexpr int kFirstLoss = kEvapotranspiration;
constexpr std::array<const char*, kTermCount> kTermNames = {
    "precipitation",      "deposition_gain",          "glacier_melt",       "lake_exchange",
    "evapotranspiration", "glacier_snow_evaporation", "canopy_sublimation", "runoff",
    "firn_to_ice"};

enum store : int {
  kCanopy,
  kSnowCanopy,
  kSnow,
  kFirn,
  kSoil,
  kGroundwater,
  kTransit,
  kDirectStore,
  kDelayedStore,
  kGlacierStores,
  kPonding,
  kStoreCount
};
constexpr std::array<const char*, kStoreCount> kStoreNames = {
    "canopy",  "snow_canopy", "snow",      "firn",           "soil",   "groundwater",
    "transit", "QD_store",    "QBB_store", "glacier_stores", "ponding"};

struct subbasin_water {
  std::array<double, kTermCount> terms{};
  std::array<double, kStoreCount> stores{};
  // The evaporation of the step over the glacier-free share that the yearly
  // evaluation changed (mm over the subbasin): the snow evaporation before
  // the snow step took the old share, the real evapotranspiration after it
  // the new one, and the outputs do not tell the two apart.
  double unsplit_evaporation = 0.0;
  double Stored() const {
    double sum = 0.0;
    for (double s : stores) sum += s;
    return sum;
  }
  double Net() const {
    double sum = 0.0;
    for (int t = 0; t < kTermCount; ++t) sum += (t < kFirstLoss ? 1.0 : -1.0) * terms[static_cast<size_t>(t)];
    return sum;
  }
};
using catchment_water = std::array<subbasin_water, kSubbasins + 1>;  // index 0 unused

// Per subbasin the precipitation of the pass, taken before the snow model
// can raise the grid by the deposition index.
using subbasin_sums = std::array<double, kSubbasins + 1>;
subbasin_sums Precipitation(ModellApplication& app) {
  bodenmodellklasse& soil = *app.infiltration;
  double** weights = GridOf(app, "RelCellArea");
  double** precipitation = GridOf(app, "precipitation");
  subbasin_sums sums{};
  for (int r = 1; r <= soil.nrows; ++r)
    for (int c = 1; c <= soil.ncols; ++c)
      if (const int i = soil.CellSubbasin(r, c); i != 0)
        sums[static_cast<size_t>(i)] += weights[r][c] * precipitation[r][c];
  return sums;
}

// The layers of the stack grid `name`, or null without it.
double*** StackOf(ModellApplication& app, const std::string& name) {
  const grid_table& table = *app.grids;
  for (int i = 1; i < kGridTableLimit && table[i].in_use(); ++i)
    if (table[i].name == name) return table[i].layers;
  return nullptr;
}

// The water of every subbasin as the modules hold it in memory, as means
// over the subbasin's cells weighted by "RelCellArea". `last` holds the
// firn of every cell at the last measurement and takes that of this one:
// the yearly evaluation shifts the firn levels down, and what the oldest
// level held (what the step's melt left of the old firn, less what the
// levels below the youngest now hold) turns into ice.
catchment_water Measure(ModellApplication& app, const subbasin_sums& precipitation,
                        std::vector<double>& last) {
  bodenmodellklasse& soil = *app.infiltration;
  schneemodellklasse& snow = *app.snow;
  double** weights = GridOf(app, "RelCellArea");
  double** evapotranspiration = GridOf(app, "real_transpiration0");
  double** canopy = GridOf(app, "interception_storage0");
  double** solid = GridOf(app, "snowstorage_solid");
  double** liquid = GridOf(app, "snowstorage_liquid");
  double** canopy_snow = OptionalGridOf(app, "Snow_canopy_load");
  double** canopy_sublimation = OptionalGridOf(app, "Snow_canopy_sublim");
  double** deposition_gain = OptionalGridOf(app, "deposition_index_gain");
  double** shares = OptionalGridOf(app, "GlacierizedCells");
  if (!shares) shares = OptionalGridOf(app, "ice_firn");
  const bool dynamic = shares && snow.glacier.kind.dynamic;
  double** ice_melt = OptionalGridOf(app, "melt_from_ice");
  double** firn_melt = OptionalGridOf(app, "melt_from_firn");
  double** firn = OptionalGridOf(app, "firn_WE_stack");
  double** glacier_solid = OptionalGridOf(app, "SolidSnowStorage_onGlacier");
  double** glacier_liquid = OptionalGridOf(app, "LiquidSnowStorage_onGlacier");
  double** glacier_evaporation = OptionalGridOf(app, "SnowEvaporation_onGlacier");
  double** ponding = OptionalGridOf(app, "ponding_storage");
  double** aged_shares = OptionalGridOf(app, "GlacierizedCellsOld");
  double*** firn_levels = StackOf(app, "firn_WE_stack");
  const model_date& d = app.current_date;
  const bool evaluation = dynamic && d.day == snow.glacier.GMBEvalDay &&
                          d.month == snow.glacier.GMBEvalMonth && d.hour == 24 && !last.empty();
  last.resize(static_cast<size_t>((soil.nrows + 1) * (soil.ncols + 1)));

  catchment_water water{};
  subbasin_sums weight{}, soil_weight{};
  for (int r = 1; r <= soil.nrows; ++r) {
    for (int c = 1; c <= soil.ncols; ++c) {
      const int i = soil.CellSubbasin(r, c);
      if (i == 0) continue;
      const double w = weights[r][c];
      const double g = shares ? CellGlacierShare(shares[r][c]) : 0.0;
      const bool lake = soil.IsLakeCell(r, c);
      subbasin_water& s = water[static_cast<size_t>(i)];
      weight[static_cast<size_t>(i)] += w;
      // The glacier-free share's values are depths over that share.
      const double free = w * (1.0 - g);
      s.terms[kEvapotranspiration] += free * evapotranspiration[r][c];
      s.stores[kCanopy] += free * canopy[r][c];
      if (canopy_snow) {
        s.stores[kSnowCanopy] += free * canopy_snow[r][c];
        s.terms[kCanopySublimation] += free * canopy_sublimation[r][c];
      }
      if (deposition_gain) s.terms[kDepositionGain] += w * deposition_gain[r][c];
      // A static glacier's cover is the cell's whole cover.
      s.stores[kSnow] += (dynamic ? free : w) * (solid[r][c] + liquid[r][c]);
      // The step's melt and sublimation are depths over the share the snow
      // step computed with, before the yearly evaluation changed it.
      const double aged_share = dynamic ? CellGlacierShare(aged_shares[r][c]) : g;
      if (aged_share > 0.0) {
        s.terms[kGlacierMelt] += w * aged_share * (ice_melt[r][c] + (dynamic ? 0.0 : firn_melt[r][c]));
        if (dynamic) s.terms[kGlacierSnowEvaporation] += w * aged_share * glacier_evaporation[r][c];
      }
      if (g > 0.0 && dynamic) {
        s.stores[kSnow] += w * g * (glacier_solid[r][c] + glacier_liquid[r][c]);
        s.stores[kFirn] += w * g * firn[r][c];
      }
      if (dynamic) {
        double& before = last[static_cast<size_t>(r * (soil.ncols + 1) + c)];
        if (evaluation && aged_share > 0.0) {
          // The levels below the youngest hold the old ones over the new share.
          double shifted = 0.0;
          for (int l = 2; l <= snow.firn_levels; ++l)
            if (firn_levels[r][c][l] != -9999.0) shifted += firn_levels[r][c][l];
          s.terms[kFirnToIce] += w * (aged_share * (before - firn_melt[r][c]) - g * shifted);
        }
        if (evaluation) s.unsplit_evaporation += w * std::abs(aged_share - g) * evapotranspiration[r][c];
        before = firn[r][c];
      }
      if (lake && ponding) s.stores[kPonding] += w * ponding[r][c];
      // Cells without a soil (fully glacierised, lakes) hold fixed states.
      if (g >= 1.0 || lake) continue;
      soil_weight[static_cast<size_t>(i)] += w;
      s.stores[kSoil] += w * test::CellSoilWater(soil, r, c);
    }
  }

  const double dt = soil.time_interval;
  for (int i = 1; i <= kSubbasins; ++i) {
    subbasin_water& s = water[static_cast<size_t>(i)];
    const double w = weight[static_cast<size_t>(i)];
    for (double& t : s.terms) t /= w;
    for (double& v : s.stores) v /= w;
    s.unsplit_evaporation /= w;
    s.terms[kPrecipitation] = precipitation[static_cast<size_t>(i)] / w;
    const subbasin_state& state = soil.states[static_cast<size_t>(i)];
    const subbasin_parameters& p = soil.parameters[static_cast<size_t>(i)];
    // The groundwater lies under the soil cells.
    const double soil_share = soil_weight[static_cast<size_t>(i)] / w;
    s.terms[kRunoff] = soil.subbasin_runoff[0][i];
    s.stores[kGroundwater] = -soil_share * state.SDmean;
    for (int k = 2; k <= state.maxzeit; ++k) s.stores[kTransit] += soil.zoneFZT(i)[k].sx / w;
    s.stores[kDirectStore] = LinearStoreContent(state.QD, RecessionFactor(dt, p.k_ELS_QD));
    s.stores[kDelayedStore] = soil_share * LinearStoreContent(state.QBB, RecessionFactor(dt, p.k_ELS_QBB));
    if (!snow.glacier_outflows.empty() && snow.glacier_fractions[static_cast<size_t>(i)].glacierised) {
      // The outflows are depths over the share the storages drained.
      const double share = snow.glacier_fractions[static_cast<size_t>(i)].drained_share;
      const glacier_outflow& q = snow.glacier_outflows[static_cast<size_t>(i)];
      const double hours = dt / 60.0;
      const auto content = [&](double outflow, double k) {
        const double e = StorageRecession(hours, k);
        return outflow * e / (1.0 - e);
      };
      s.stores[kGlacierStores] =
          share * (content(q.ice, snow.glacier.kice_els) + content(q.firn, snow.glacier.kfirn_els) +
                   content(q.snow, snow.glacier.ksnow_els));
    }
  }

  // A lake of a subbasin exchanges water with the routing.
  const abflussmodellklasse& routing = *app.routing;
  for (int e = 1; e <= routing.ElementCount(); ++e) {
    const routingclass& element = routing.Element(e);
    for (int k = 1; k <= element.ReservoirCount(); ++k) {
      const SP_class& reservoir = element.Reservoir(k);
      if (!reservoir.IsLake()) continue;
      const int i = soil.SubbasinIndex(element.OutletCode());
      const double volume = reservoir.Term(kInflowTerm).volume - reservoir.Term(kOutflowTerm).volume -
                            reservoir.Term(kAbstractionTerm).volume - reservoir.Term(kIrrigationTerm).volume;
      const double area = weight[static_cast<size_t>(i)] * soil.cellsize * soil.cellsize;
      water[static_cast<size_t>(i)].terms[kLakeExchange] +=
          volume / area / kCubicMetresPerMillimetreSquareMetre;
    }
  }
  return water;
}

// ---------------------------------------------------------------- configurations

void ReplaceAll(example_run& run, const std::string& from, const std::string& to) {
  std::string text = ReadFile(run.dir / "example.ctl");
  std::size_t count = 0;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
    ++count;
  }
  ASSERT_GT(count, 0u) << from;
  WriteFile(run.dir / "example.ctl", text);
}

// Adds standard grids (lines as in the section) to "[standard_grids]".
void AddStandardGrids(example_run& run, const std::vector<std::string>& lines) {
  std::string text = ReadFile(run.dir / "example.ctl");
  const std::string head = "[standard_grids]\n";
  const std::size_t at = text.find(head);
  ASSERT_NE(at, std::string::npos);
  const std::size_t count_end = text.find_first_of(" \t", at + head.size());
  const int count = std::stoi(text.substr(at + head.size(), count_end - at - head.size()));
  std::string added;
  for (const std::string& line : lines) added += line + "\n";
  const std::size_t next_line = text.find('\n', at + head.size()) + 1;
  text.insert(next_line, added);
  text.replace(at + head.size(), count_end - at - head.size(),
               std::to_string(count + static_cast<int>(lines.size())));
  WriteFile(run.dir / "example.ctl", text);
}

// Writes grid `file` from the grid `from` of the example: a cell's value v
// becomes `value_at(row, col, v)`, nodata stays.
void RewriteGrid(example_run& run, const std::string& from, const std::string& file,
                 const std::function<double(int, int, double)>& value_at) {
  std::istringstream in(ReadFile(run.dir / from));
  std::string out, line;
  for (int k = 0; k < 6 && std::getline(in, line); ++k) out += line + "\n";
  for (int r = 1; std::getline(in, line); ++r) {
    std::istringstream cells(line);
    double v = 0.0;
    for (int c = 1; cells >> v; ++c) {
      char value[32];
      std::snprintf(value, sizeof value, "%.10g", v == -9999.0 ? -9999.0 : value_at(r, c, v));
      out += (c > 1 ? " " : "") + std::string(value);
    }
    out += "\n";
  }
  WriteFile(run.dir / file, out);
}

// A grid of the example's domain: `value_at(row, col)` where the subbasin
// grid has a cell, nodata elsewhere.
void WriteGrid(example_run& run, const std::string& file, const std::function<double(int, int)>& value_at) {
  RewriteGrid(run, "grids/subbasins.asc", file, [&](int r, int c, double) { return value_at(r, c); });
}

void SnowMethod(example_run& run, int method) {
  run.Change("1       method: 1 degree-day", std::to_string(method) + "       method:");
  if (method >= 5) run.Change(test::kSnowReadgridLine, test::kEnergyBalanceLines);
  const snow_method_kind kind = SnowMethodKind(method);
  if (kind.slides)
    AddStandardGrids(run, {"sf1.asc slidefraction1 fillcode = 0 readcode = 0 defaultValue = 0.25",
                           "sf2.asc slidefraction2 fillcode = 0 readcode = 0 defaultValue = 0.25",
                           "sf3.asc slidefraction3 fillcode = 0 readcode = 0 defaultValue = 0.25",
                           "sf4.asc slidefraction4 fillcode = 0 readcode = 0 defaultValue = 0.25"});
  if (kind.deposition_index)
    AddStandardGrids(run, {"di.asc deposition_index fillcode = 0 readcode = 0 defaultValue = 0.5"});
  if (method == 4)
    AddStandardGrids(run, {"vp.asc vapor_pressure fillcode = 0 readcode = 0 defaultValue = 4"});
}

void Interception(example_run& run, int method) {
  run.Change("1       method: after the snow model", std::to_string(method) + "      method:");
  if (method > 20) run.Change(test::kCanopyStoresLine, test::kSnowCanopyLines);
  // The canopy's energy balance takes the snow cover's surface temperature.
  if (method > 30) SnowMethod(run, 5);
}

// Copies the section of variable `from` as variable `to`, with its own result files.
void CopyMeteoVariable(example_run& run, const std::string& from, const std::string& to) {
  std::string text = ReadFile(run.dir / "example.ctl");
  const std::size_t at = text.find("[" + from + "]\n");
  const std::size_t end = text.find("\n[", at + 1);
  std::string section = text.substr(at, end - at + 1);
  Replace(section, "[" + from + "]", "[" + to + "]");
  Replace(section, from + ".asc", to + ".asc");
  Replace(section, from + ".stat", to + ".stat");
  text.insert(end + 1, section);
  WriteFile(run.dir / "example.ctl", text);
}

void Evapotranspiration(example_run& run, int method) {
  run.Change("1       method: Penman-Monteith", std::to_string(method) + "       method:");
  if (method != 4) return;
  CopyMeteoVariable(run, "temperature", "temperature_14");
  CopyMeteoVariable(run, "air_humidity", "air_humidity_14");
  run.Change("5       meteorological variables", "7       meteorological variables");
  run.Change("global_radiation\n\n", "global_radiation\ntemperature_14\nair_humidity_14\n\n");
}

void Soil(example_run& run, int method, bool infiltration) {
  if (method == 2) run.Change("1       method: without delayed baseflow", "2       method: with delayed");
  if (!infiltration) run.Change("1       infiltration on", "0       infiltration off");
}

// The station records of each day, summed (precipitation, radiation) or
// averaged, at the day's end.
void DailyStations(example_run& run) {
  for (const char* variable :
       {"precipitation", "temperature", "air_humidity", "wind_speed", "global_radiation"}) {
    const bool summed =
        std::string(variable) == "precipitation" || std::string(variable) == "global_radiation";
    std::istringstream in(ReadFile(run.dir / ("meteo/" + std::string(variable) + ".txt")));
    std::string out, line;
    for (int k = 0; k < 5 && std::getline(in, line); ++k) out += line + "\n";
    std::map<int, std::array<double, 3>> days;
    std::map<int, int> hours;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      int y = 0, m = 0, d = 0, h = 0;
      std::array<double, 3> v{};
      if (!(fields >> y >> m >> d >> h >> v[0] >> v[1] >> v[2])) continue;
      for (int k = 0; k < 3; ++k) days[d][static_cast<size_t>(k)] += v[static_cast<size_t>(k)];
      ++hours[d];
    }
    for (const auto& [d, sums] : days) {
      char row[128];
      const double n = summed ? 1.0 : hours[d];
      std::snprintf(row, sizeof row, "2000\t3\t%d\t24\t%.4f\t%.4f\t%.4f\n", d, sums[0] / n, sums[1] / n,
                    sums[2] / n);
      out += row;
    }
    WriteFile(run.dir / ("meteo/" + std::string(variable) + ".txt"), out);
  }
}

// Every module steps a day (its radiation may sum up to 30000 Wh/m2).
void DailySteps(example_run& run) {
  ReplaceAll(run, "timestep = 60", "timestep = 1440");
  ReplaceAll(run, "\n60      time interval", "\n1440    time interval");
  ReplaceAll(run, "\n60      minutes per step", "\n1440    minutes per step");
  run.Change("1500     upper limit of results\n1500", "30000    upper limit of results\n30000");
  run.Change("starthour = 1", "starthour = 24");
  // The observed discharge at each day's end: a row for every step.
  std::istringstream in(ReadFile(run.dir / "discharge/observed.txt"));
  std::string observed, line;
  for (int y = 0, m = 0, d = 0, h = 0; std::getline(in, line);)
    if (observed.empty() || (std::istringstream(line) >> y >> m >> d >> h && h == 24))
      observed += line + "\n";
  WriteFile(run.dir / "discharge/observed.txt", observed);
}

void Daily(example_run& run) {
  DailyStations(run);
  DailySteps(run);
  run.Change("endhour = 0\nendday = 7\nendmonth = 3", "endhour = 24\nendday = 31\nendmonth = 3");
}

// A day of the synthetic weather (from 1 January 2000 on).
struct calendar_day {
  int day = 1;
  int month = 1;
  int year = 2000;
};

// Weather of the days from `first` to `last` at the example's stations,
// daily or hourly, and the model time set to them: a seasonal temperature
// (coldest in mid-January, warmest in July) that falls by 0.6 K per 100 m
// (hourly: warmest at 15 h), rain or snow every third day (hourly: spread
// over the day), radiation that follows the sun. No grid of every step is
// written.
void SyntheticWeather(example_run& run, calendar_day first, calendar_day last, bool hourly) {
  constexpr double kPi = 3.14159265358979;
  constexpr double kDailyAmplitude = 3.0;  // K
  const double heights[] = {1780.0, 1420.0, 940.0};
  std::map<std::string, std::string> files;
  const char* const variables[] = {"precipitation", "temperature", "air_humidity", "wind_speed",
                                   "global_radiation"};
  for (const char* variable : variables) {
    std::istringstream in(ReadFile(run.dir / ("meteo/" + std::string(variable) + ".txt")));
    std::string line;
    for (int k = 0; k < 5 && std::getline(in, line); ++k) files[variable] += line + "\n";
  }
  // The sun's share of the day's radiation in each hour.
  std::array<double, 25> sun{};
  double sun_sum = 0.0;
  for (int h = 1; h <= 24; ++h)
    sun_sum += sun[static_cast<size_t>(h)] = std::max(0.0, std::sin(kPi * (h - 6) / 12.0));
  const auto key = [](int year, int month, int day) { return (year * 100 + month) * 100 + day; };
  const int from = key(first.year, first.month, first.day);
  const int to = key(last.year, last.month, last.day);
  int n = 0;
  for (int year = 2000; year <= last.year; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const int lengths[] = {31, year % 4 == 0 ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      for (int day = 1; day <= lengths[month - 1]; ++day, ++n) {
        const int today = key(year, month, day);
        if (today < from || today > to) continue;
        const double season = std::cos(2.0 * kPi * (n - 15) / 366.0);
        std::array<std::array<double, 3>, 5> values{};
        for (int k = 0; k < 3; ++k) {
          values[0][static_cast<size_t>(k)] = n % 3 == 0 ? 6.0 + n % 7 : 0.0;
          values[1][static_cast<size_t>(k)] =
              10.0 - 11.0 * season - 0.006 * (heights[k] - 940.0) + 2.0 * std::sin(n * 1.3);
          values[2][static_cast<size_t>(k)] = n % 3 == 0 ? 0.95 : 0.7;
          values[3][static_cast<size_t>(k)] = 2.0 + n % 4;
          values[4][static_cast<size_t>(k)] = (n % 3 == 0 ? 0.4 : 1.0) * (4500.0 - 3000.0 * season);
        }
        for (int h = hourly ? 1 : 24; h <= 24; ++h) {
          for (int v = 0; v < 5; ++v) {
            std::array<double, 3> x = values[static_cast<size_t>(v)];
            for (double& value : x) {
              if (!hourly) break;
              if (v == 0) value /= 24.0;
              if (v == 1) value += kDailyAmplitude * std::sin(2.0 * kPi * (h - 9) / 24.0);
              if (v == 4) value *= sun[static_cast<size_t>(h)] / sun_sum;
            }
            char row[128];
            std::snprintf(row, sizeof row, "%d\t%d\t%d\t%d\t%.3f\t%.3f\t%.3f\n", year, month, day, h, x[0],
                          x[1], x[2]);
            files[variables[v]] += row;
          }
        }
      }
    }
  }
  for (const auto& [variable, text] : files) WriteFile(run.dir / ("meteo/" + variable + ".txt"), text);
  for (const char* code :
       {"15      write code", "85      write code", "80      write code", "45      write code"})
    run.Change(code, "0       write code");
  run.Change("startday = 1\nstartmonth = 3\nstartyear = $year",
             "startday = " + std::to_string(first.day) + "\nstartmonth = " + std::to_string(first.month) +
                 "\nstartyear = " + std::to_string(first.year));
  run.Change("endhour = 0\nendday = 1\nendmonth = 4\nendyear = $year",
             "endhour = 24\nendday = " + std::to_string(last.day) +
                 "\nendmonth = " + std::to_string(last.month) + "\nendyear = " + std::to_string(last.year));
  if (!hourly) DailySteps(run);
}

// The year 2000 in daily steps.
void DailyYear(example_run& run) { SyntheticWeather(run, {1, 1, 2000}, {31, 12, 2000}, false); }

void RadiationCorrectionOff(example_run& run) {
  run.Change("1       flow control parameter: on\n60      time interval (minutes)\n3       method: slope",
             "0       flow control parameter: off\n60      time interval (minutes)\n3       method: slope");
}

// A glacier (code 1) on the lowest cells of the valley: its lower row
// wholly under ice, the row above it partly. Its storages drain the melt of
// earlier days. In the week of 12 March its cells have no snow at the start,
// so its ice and firn melt. The static methods (1, 2) take the shares from
// "ice_firn" (fractions count as ice). With `upper`, a second glacier (code
// 2) lies under the crest of subbasin 1.
void Glacier(example_run& run, int method, bool thaw = true, bool upper = false) {
  if (thaw) {
    run.Change("startday = 1", "startday = 12");
    run.Change("endday = 7", "endday = 18");
  }
  const auto share = [upper](int r, int c) {
    if (upper && r == 2 && c >= 4 && c <= 9) return 1.0;
    if (upper && r == 3 && c >= 3 && c <= 9) return 0.5;
    return r == 14 && c >= 7 && c <= 12 ? 1.0 : r == 13 && c >= 6 && c <= 12 ? 0.4 : 0.0;
  };
  WriteGrid(run, "glacier_shares.asc", share);
  std::string section = "[ice_firn]\n" + std::to_string(method) +
                        "\n6.0\n4.5\n3.0\n2.0\n0.0005\n0.001\n0.0003\n0.0006\n20\n40\n10\n0.5\n0.2\n0.1\n"
                        "firnmelt.asc\n0\nqfirn.stat 0\nicemelt.asc\n0\nqice.stat 0\nqglac.stat 0\n";
  if (method < 10) {
    AddStandardGrids(run, {"glacier_shares.asc ice_firn fillcode = 0"});
  } else {
    WriteGrid(run, "glacier_codes.asc",
              [&](int r, int c) { return share(r, c) > 0.0 ? (r < 10 ? 2.0 : 1.0) : 0.0; });
    AddStandardGrids(run, {"glacier_shares.asc GlacierizedCells fillcode = 0",
                           "glacier_codes.asc GlacierCodes fillcode = 0"});
    section +=
        "qsnowglac.stat 0\n0\n3 1050 0.5\n30 9\n28.5 1.36 2 0\nfirn.stack\n0\nfirn.stat 0\nbalance.asc\n0\n"
        "balance_old.asc\n0\nbalance1.stat 0\nbalance2.stat 0\n1.0\nsnow_without_glaciers.stat 0\n"
        "gsolid.asc\n0\ngliquid.asc\n0\ngtotal.asc\n0\ngmelt.asc\n0\ngsurf.asc\n0\ngtemp.asc\n0\n"
        "gevap.asc\n0\n1000 0.25\n";
  }
  run.Change("[RegionalSuperposition]", section + "\n[RegionalSuperposition]");
}

// Permafrost under the whole valley: snow-free ground thaws 0.1 m a day at
// first, and `refreeze_days` under more than 5 mm of snow freeze it again.
void Permafrost(example_run& run, double refreeze_days = 0.5) {
  AddStandardGrids(run, {"thaw.asc ThawCoeffPermaFrost fillcode = 0 readcode = 0 defaultValue = 0.1",
                         "thawdepth.asc PermafrostThawDepth fillcode = 0 readcode = 0 defaultValue = 0"});
  run.Change("[RegionalSuperposition]", "[permafrost]\n1\n" + std::to_string(refreeze_days) +
                                            "\n5\nthaw.stat 0\n1e-7\n\n[RegionalSuperposition]");
}

// The reservoir at the outlet of subbasin 2 becomes a lake, full at
// 1375.4 m: each cell's bed (m a.s.l., written into the elevation model)
// and its ponded water at the start (mm).
struct lake_cell {
  int row;
  int col;
  double bed;
  double ponding;
};
constexpr double kLakeTop = 1375.4;
void Lake(example_run& run, const std::vector<lake_cell>& cells) {
  const auto find = [&cells](int r, int c) -> const lake_cell* {
    for (const lake_cell& cell : cells)
      if (cell.row == r && cell.col == c) return &cell;
    return nullptr;
  };
  WriteGrid(run, "lakes.asc", [&](int r, int c) { return find(r, c) ? 1.0 : -9999.0; });
  WriteGrid(run, "pond.asc", [&](int r, int c) { return find(r, c) ? find(r, c)->ponding : 0.0; });
  WriteGrid(run, "maxpond.asc", [&](int r, int c) { return find(r, c) ? kLakeTop - find(r, c)->bed : 0.0; });
  RewriteGrid(run, "grids/elevation.asc", "grids/elevation.asc",
              [&](int r, int c, double elevation) { return find(r, c) ? find(r, c)->bed : elevation; });
  run.Change("lakes.asc lake_codes fillcode = 0 readcode = 0 defaultValue = -9999   no lake",
             "lakes.asc lake_codes fillcode = 0");
  AddStandardGrids(run, {"pond.asc ponding_storage fillcode = 0", "pond.asc ponding_storage_top fillcode = 0",
                         "maxpond.asc max_ponding_storage fillcode = 0"});
  run.Change(
      "[lake_model]\n0       no lakes in the soil model",
      "[lake_model]\n1       lakes on\n1       method: no change of grids\n0.08    albedo of open water\n"
      "0.001   roughness length of open water\n1       lake volumes from the ponding grid");
}
// One cell at the elevation model's value.
void OneCellLake(example_run& run) { Lake(run, {{8, 10, 1373.4, 800.0}}); }
// Three cells whose beds lie between the levels of the level-volume table,
// the water at the start 1.7 mm above the highest bed.
void ThreeCellLake(example_run& run) {
  Lake(run, {{8, 9, 1373.6537, 474.3}, {8, 10, 1373.4, 728.0}, {8, 11, 1374.1263, 1.7}});
}

struct method_case {
  std::string name;
  std::function<void(example_run&)> set_up;
  // Terms and stores the configuration must have used (besides
  // precipitation, runoff, evapotranspiration and the canopy, snow and soil).
  std::vector<term> terms = {};
  std::vector<store> stores = {};
  bool daily = false;
};
void PrintTo(const method_case& c, std::ostream* out) { *out << c.name; }

std::vector<method_case> Cases() {
  std::vector<method_case> cases = {
      {"reservoir and abstraction (the example)", [](example_run&) {}, {}, {kTransit, kDirectStore}},
      {"radiation correction off", RadiationCorrectionOff},
      {"soil method 2", [](example_run& run) { Soil(run, 2, true); }, {}, {kDelayedStore}},
      {"soil method 1 without infiltration", [](example_run& run) { Soil(run, 1, false); }},
      {"soil method 2 without infiltration",
       [](example_run& run) { Soil(run, 2, false); },
       {},
       {kDelayedStore}},
      {"daily steps", Daily, {}, {}, true},
      {"daily steps, energy balance",
       [](example_run& run) {
         Daily(run);
         SnowMethod(run, 5);
       },
       {},
       {},
       true},
      {"daily steps, deposition index",
       [](example_run& run) {
         Daily(run);
         SnowMethod(run, 10);
       },
       {kDepositionGain},
       {},
       true},
      {"daily steps, glacier method 13",
       [](example_run& run) {
         Daily(run);
         Glacier(run, 13, false);
       },
       {kGlacierMelt},
       {kFirn, kGlacierStores},
       true},
      {"permafrost", [](example_run& run) { Permafrost(run); }},
      {"lake", OneCellLake, {kLakeExchange}, {kPonding}},
      {"lake of three cells", ThreeCellLake, {kLakeExchange}, {kPonding}},
      {"daily steps, lake of three cells",
       [](example_run& run) {
         Daily(run);
         ThreeCellLake(run);
       },
       {kLakeExchange},
       {kPonding},
       true},
  };
  for (int m : {1, 2, 11, 12, 13})
    cases.push_back(
        {"glacier method " + std::to_string(m),
         [m](example_run& run) { Glacier(run, m); },
         {kGlacierMelt},
         m > 10 ? std::vector<store>{kFirn, kGlacierStores} : std::vector<store>{kGlacierStores}});
  cases.push_back({"glacier method 11, interception before the snow",
                   [](example_run& run) {
                     Glacier(run, 11);
                     Interception(run, 11);
                   },
                   {kGlacierMelt},
                   {kFirn, kGlacierStores}});
  cases.push_back({"glacier method 13, deposition index",
                   [](example_run& run) {
                     Glacier(run, 13, false);
                     SnowMethod(run, 10);
                   },
                   {kDepositionGain},
                   {kGlacierStores}});
  cases.push_back({"glacier method 13, energy balance",
                   [](example_run& run) {
                     Glacier(run, 13, false);
                     SnowMethod(run, 5);
                   },
                   {kGlacierSnowEvaporation},
                   {kGlacierStores}});
  for (int m = 2; m <= 14; ++m) {
    std::vector<term> terms;
    if (SnowMethodKind(m).deposition_index) terms.push_back(kDepositionGain);
    cases.push_back(
        {"snow method " + std::to_string(m), [m](example_run& run) { SnowMethod(run, m); }, terms});
  }
  for (int m : {2, 11, 12, 21, 22, 31, 32}) {
    std::vector<store> stores;
    if (m > 20) stores.push_back(kSnowCanopy);
    cases.push_back({"interception method " + std::to_string(m),
                     [m](example_run& run) { Interception(run, m); },
                     m > 20 ? std::vector<term>{kCanopySublimation} : std::vector<term>{}, stores});
  }
  for (int m = 2; m <= 4; ++m)
    cases.push_back({"evapotranspiration method " + std::to_string(m),
                     [m](example_run& run) { Evapotranspiration(run, m); }});
  return cases;
}

// Runs the example in `run` and closes every subbasin's balance (and every
// lake's) after every pass; `also` sees the application after each pass.
// The terms of every step go to "method_balance.txt" in the run's
// directory, which is kept when the test fails.
class balance_run {
 public:
  balance_run(example_run& run, std::string name) : run_(run), name_(std::move(name)) {}

  int Run(const std::function<void(ModellApplication&)>& also = {},
          const std::function<void(ModellApplication&)>& at_start = {}) {
    table_.reset(std::fopen((run_.dir / "method_balance.txt").c_str(), "w"));
    if (!table_) {
      ADD_FAILURE() << "cannot write the balance table";
      return -1;
    }
    std::fprintf(table_.get(), "YYYY\tMM\tDD\tHH\tsubbasin");
    for (const char* name : kTermNames) std::fprintf(table_.get(), "\t%s", name);
    for (const char* name : kStoreNames) std::fprintf(table_.get(), "\td_%s", name);
    std::fprintf(table_.get(), "\tresidual\n");
    const auto built = [&](ModellApplication& app) {
      if (at_start) at_start(app);
      before_ = Measure(app, precipitation_, firn_);
      app.phase_done = [&](pass_phase phase, int) {
        if (phase == pass_phase::kPotentialEvapotranspiration) precipitation_ = Precipitation(app);
      };
    };
    const int result = run_.Run(built, [&](ModellApplication& app) {
      Check(app);
      if (also) also(app);
    });
    std::fflush(table_.get());
    return result;
  }
  // Keeps the run's files when the test has failed.
  void KeepOnFailure() const {
    if (!::testing::Test::HasFailure()) return;
    run_.dir.Keep();
    ADD_FAILURE() << "the terms of every step are in " << (run_.dir / "method_balance.txt");
  }

  int steps = 0;
  // What the run went through: every term's largest value, every store's
  // largest change.
  std::array<double, kTermCount> largest_term{};
  std::array<double, kStoreCount> largest_change{};

 private:
  void Failure(const model_date& d, const std::string& what) {
    if (failures_++ < 5)
      ADD_FAILURE() << name_ << ": " << d.day << "." << d.month << "." << d.year << " " << d.hour
                    << " h: " << what;
  }
  void Check(ModellApplication& app) {
    const catchment_water now = Measure(app, precipitation_, firn_);
    const model_date& d = app.current_date;
    std::FILE* table = table_.get();
    ++steps;
    for (int i = 1; i <= kSubbasins; ++i) {
      const subbasin_water& a = before_[static_cast<size_t>(i)];
      const subbasin_water& b = now[static_cast<size_t>(i)];
      double scale = 0.0;
      std::fprintf(table, "%d\t%d\t%d\t%d\t%d", d.year, d.month, d.day, d.hour, i);
      for (int t = 0; t < kTermCount; ++t) {
        const double value = b.terms[static_cast<size_t>(t)];
        std::fprintf(table, "\t%.12g", value);
        scale += std::abs(value);
        largest_term[static_cast<size_t>(t)] =
            std::max(largest_term[static_cast<size_t>(t)], std::abs(value));
      }
      for (int k = 0; k < kStoreCount; ++k) {
        const double change = b.stores[static_cast<size_t>(k)] - a.stores[static_cast<size_t>(k)];
        std::fprintf(table, "\t%.12g", change);
        scale += std::abs(a.stores[static_cast<size_t>(k)]) + std::abs(b.stores[static_cast<size_t>(k)]);
        largest_change[static_cast<size_t>(k)] =
            std::max(largest_change[static_cast<size_t>(k)], std::abs(change));
      }
      const double residual = b.Net() - (b.Stored() - a.Stored());
      std::fprintf(table, "\t%.3g\n", residual);
      if (!(std::abs(residual) <= 1e-9 * scale + b.unsplit_evaporation))
        Failure(d, "subbasin " + std::to_string(i) + ": residual " + std::to_string(residual) +
                       " mm of terms and stores " + std::to_string(scale) + " mm");
    }
    // A lake's own balance (its error column) closes as well.
    const abflussmodellklasse& routing = *app.routing;
    for (int e = 1; e <= routing.ElementCount(); ++e) {
      for (int k = 1; k <= routing.Element(e).ReservoirCount(); ++k) {
        const SP_class& reservoir = routing.Element(e).Reservoir(k);
        if (!reservoir.IsLake()) continue;
        double scale = reservoir.volume;
        for (int t = 0; t < kBalanceTerms; ++t)
          scale += std::abs(reservoir.Term(static_cast<balance_term>(t)).volume);
        const double error = reservoir.Term(kBalanceErrorTerm).volume;
        if (!(std::abs(error) <= 1e-9 * scale))
          Failure(d, "lake " + std::to_string(reservoir.Code()) + ": balance error " + std::to_string(error) +
                         " m3 of " + std::to_string(scale) + " m3");
      }
    }
    before_ = now;
  }

  example_run& run_;
  std::string name_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> table_{nullptr, &std::fclose};
  subbasin_sums precipitation_{};
  catchment_water before_{};
  std::vector<double> firn_;
  int failures_ = 0;
};

class MethodBalance : public ::testing::TestWithParam<method_case> {};

TEST_P(MethodBalance, EverySubbasinKeepsItsWaterInEveryStep) {
  const method_case& c = GetParam();
  example_run run;
  run.Change("endhour = 0\nendday = 1\nendmonth = 4", "endhour = 0\nendday = 7\nendmonth = 3");
  c.set_up(run);
  if (HasFailure()) return;
  balance_run balance(run, c.name);
  ASSERT_EQ(balance.Run(), 0) << run.transcript;
  EXPECT_EQ(balance.steps, c.daily ? 31 : 144);
  std::vector<term> terms = {kPrecipitation, kEvapotranspiration, kRunoff};
  terms.insert(terms.end(), c.terms.begin(), c.terms.end());
  for (term t : terms) EXPECT_GT(balance.largest_term[t], 0.0) << kTermNames[t];
  std::vector<store> stores = {kCanopy, kSnow, kSoil, kGroundwater};
  stores.insert(stores.end(), c.stores.begin(), c.stores.end());
  for (store k : stores) EXPECT_GT(balance.largest_change[k], 0.0) << kStoreNames[k];
  balance.KeepOnFailure();
}

// Dynamic glaciers over their yearly evaluation (30 September), in daily
// and hourly steps and over two years: the evaluation changes the glacier
// shares of two subbasins (and with them cells between soil and glacier),
// and every subbasin keeps its water across it.
struct glacier_year_case {
  std::string name;
  int method = 0;
  calendar_day first, last;
  bool hourly = false;
  int steps = 0;
};
void PrintTo(const glacier_year_case& c, std::ostream* out) { *out << c.name; }

std::vector<glacier_year_case> GlacierYearCases() {
  std::vector<glacier_year_case> cases;
  for (int m : {11, 12, 13}) {
    const std::string method = "glacier method " + std::to_string(m);
    cases.push_back({method + ", daily over the evaluation", m, {1, 9, 2000}, {10, 10, 2000}, false, 40});
    cases.push_back({method + ", hourly over the evaluation", m, {1, 9, 2000}, {5, 10, 2000}, true, 840});
    cases.push_back({method + ", two years", m, {1, 1, 2000}, {31, 12, 2001}, false, 731});
  }
  return cases;
}

class GlacierYear : public ::testing::TestWithParam<glacier_year_case> {};

TEST_P(GlacierYear, EverySubbasinKeepsItsWaterAcrossTheEvaluation) {
  const glacier_year_case& c = GetParam();
  example_run run;
  Glacier(run, c.method, false, true);
  SyntheticWeather(run, c.first, c.last, c.hourly);
  if (HasFailure()) return;
  balance_run balance(run, c.name);
  // Steps in which a subbasin's glacier share changed; cells the ice left
  // to the soil.
  int share_changes = 0, cells_to_soil = 0;
  std::vector<double> shares_before;
  std::vector<double> areas_before;
  const auto observe = [&](ModellApplication& app) {
    const schneemodellklasse& snow = *app.snow;
    std::vector<double> areas;
    for (const auto& f : snow.glacier_fractions) areas.push_back(f.glacier_area);
    if (!areas_before.empty() && areas != areas_before) ++share_changes;
    areas_before = areas;
    double** grid = GridOf(app, "GlacierizedCells");
    std::vector<double> shares;
    for (int r = 1; r <= snow.nrows; ++r)
      for (int col = 1; col <= snow.ncols; ++col) shares.push_back(CellGlacierShare(grid[r][col]));
    for (std::size_t k = 0; k < shares.size() && !shares_before.empty(); ++k)
      cells_to_soil += shares_before[k] >= 1.0 && shares[k] < 1.0;
    shares_before = shares;
  };
  ASSERT_EQ(balance.Run(observe, observe), 0) << run.transcript;
  EXPECT_EQ(balance.steps, c.steps);
  EXPECT_GE(share_changes, c.first.year == c.last.year ? 0 : 1);
  EXPECT_LE(share_changes, c.last.year - c.first.year + 1);
  if (c.first.year != c.last.year) {
    EXPECT_GT(cells_to_soil, 0);
  }
  for (term t : {kPrecipitation, kEvapotranspiration, kRunoff})
    EXPECT_GT(balance.largest_term[t], 0.0) << kTermNames[t];
  EXPECT_GT(balance.largest_term[kGlacierMelt] + balance.largest_term[kFirnToIce], 0.0);
  for (store k : {kFirn, kSoil, kGlacierStores}) EXPECT_GT(balance.largest_change[k], 0.0) << kStoreNames[k];
  balance.KeepOnFailure();
}

INSTANTIATE_TEST_SUITE_P(Evaluations, GlacierYear, ::testing::ValuesIn(GlacierYearCases()),
                         [](const auto& info) {
                           std::string name;
                           for (char ch : info.param.name)
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           return name;
                         });

TEST(PermafrostYear, TheRootZoneFollowsTheThawDepthToNothingAndBack) {
  // A year of daily steps: the ground thaws in spring, ten days of snow
  // freeze it in autumn. The root zone loses its capacity with the thaw
  // depth and regains it, never beyond the field capacity of its roots.
  example_run run;
  DailyYear(run);
  Permafrost(run, 10.0);
  balance_run balance(run, "permafrost over a year");
  // Per cell: its capacity before the first step, the field capacity of the
  // roots of its land use, and its thaw depth and capacity of the last step.
  std::vector<double> full_capacity, last_thaw, last_capacity;
  int frozen = 0, thawed = 0, emptied = 0, refilled = 0;
  const auto each_cell = [](ModellApplication& app, auto&& visit) {
    bodenmodellklasse& soil = *app.infiltration;
    std::size_t cell = 0;
    for (int r = 1; r <= soil.nrows; ++r)
      for (int c = 1; c <= soil.ncols; ++c)
        if (soil.CellSubbasin(r, c) != 0) visit(cell++, r, c);
  };
  const auto at_start = [&](ModellApplication& app) {
    double** thaw = GridOf(app, "PermafrostThawDepth");
    each_cell(app, [&](std::size_t, int r, int c) {
      full_capacity.push_back(app.infiltration->available_soil_moisture[r][c]);
      last_thaw.push_back(thaw[r][c]);
      last_capacity.push_back(full_capacity.back());
    });
  };
  const int result = balance.Run(
      [&](ModellApplication& app) {
        double** thaw = GridOf(app, "PermafrostThawDepth");
        each_cell(app, [&](std::size_t cell, int r, int c) {
          const double capacity = app.infiltration->available_soil_moisture[r][c];
          EXPECT_LE(capacity, full_capacity[cell] * (1.0 + 1e-12)) << r << " " << c;
          frozen += last_thaw[cell] > 0.0 && thaw[r][c] == 0.0;
          thawed += last_thaw[cell] == 0.0 && thaw[r][c] > 0.0;
          emptied += last_capacity[cell] > 0.0 && capacity == 0.0;
          refilled += last_capacity[cell] == 0.0 && capacity > 0.0;
          last_thaw[cell] = thaw[r][c];
          last_capacity[cell] = capacity;
        });
      },
      at_start);
  ASSERT_EQ(result, 0) << run.transcript;
  EXPECT_EQ(balance.steps, 366);
  EXPECT_GT(frozen, 0);
  EXPECT_GT(thawed, 0);
  EXPECT_GT(emptied, 0);
  EXPECT_GT(refilled, 0);
  balance.KeepOnFailure();
}

TEST(PermafrostYear, AWarmStartGoesOnWithTheThawAndTheRootZoneWhereTheyStopped) {
  // The year of daily steps under permafrost, once through (A) and once
  // stopped on 15 July in the thaw (B1) and started again from its state
  // (B2). The water B1 leaves is the water B2 starts with, and every step of
  // both closes; B2 thaws on from where B1 stopped, to A's thaw depth at the
  // end. The day counters are no standard grids: the state file holds them.
  const auto configure = [](example_run& run) {
    test::WarmStartConfiguration(run);
    DailyYear(run);
    Permafrost(run, 10.0);
  };
  const auto thaw_depths = [](ModellApplication& app, std::vector<double>& depths) {
    depths.clear();
    double** thaw = GridOf(app, "PermafrostThawDepth");
    const bodenmodellklasse& soil = *app.infiltration;
    for (int r = 1; r <= soil.nrows; ++r)
      for (int c = 1; c <= soil.ncols; ++c)
        if (soil.CellSubbasin(r, c) != 0) depths.push_back(thaw[r][c]);
  };
  // Every store, the groundwater too: the deficit grid B1 writes holds the
  // last step's groundwater fluxes, so its mean is the mean deficit.
  const auto stored = [](ModellApplication& app) {
    std::vector<double> last;
    return Measure(app, {}, last);
  };

  example_run a;
  configure(a);
  balance_run continuous(a, "permafrost year");
  std::vector<double> thaw_a;
  ASSERT_EQ(continuous.Run([&](ModellApplication& app) { thaw_depths(app, thaw_a); }), 0) << a.transcript;
  ASSERT_EQ(continuous.steps, 366);
  continuous.KeepOnFailure();

  example_run b;
  configure(b);
  b.Change("endhour = 24\nendday = 31\nendmonth = 12", "endhour = 24\nendday = 15\nendmonth = 7");
  balance_run first(b, "permafrost year to 15 July");
  std::vector<double> thaw_b;
  catchment_water left{};
  ASSERT_EQ(first.Run([&](ModellApplication& app) {
    thaw_depths(app, thaw_b);
    left = stored(app);
  }),
            0)
      << b.transcript;
  // The thaw is under way on the day B1 stops.
  EXPECT_GT(*std::max_element(thaw_b.begin(), thaw_b.end()), 0.0);
  first.KeepOnFailure();

  b.Change("startday = 1\nstartmonth = 1", "startday = 16\nstartmonth = 7");
  b.Change("endhour = 24\nendday = 15\nendmonth = 7", "endhour = 24\nendday = 31\nendmonth = 12");
  test::ReadStoredState(b);
  balance_run second(b, "permafrost year from 16 July");
  ASSERT_EQ(second.Run([&](ModellApplication& app) { thaw_depths(app, thaw_b); },
                       [&](ModellApplication& app) {
                         const catchment_water found = stored(app);
                         for (int i = 1; i <= kSubbasins; ++i) {
                           const subbasin_water& x = left[static_cast<size_t>(i)];
                           const subbasin_water& y = found[static_cast<size_t>(i)];
                           for (int k = 0; k < kStoreCount; ++k)
                             EXPECT_NEAR(y.stores[static_cast<size_t>(k)], x.stores[static_cast<size_t>(k)],
                                         1e-9 * std::abs(x.Stored()))
                                 << "subbasin " << i << ", " << kStoreNames[static_cast<size_t>(k)];
                         }
                       }),
            0)
      << b.transcript;
  EXPECT_EQ(continuous.steps, first.steps + second.steps);
  EXPECT_EQ(b.transcript.find("holds no permafrost state"), std::string::npos) << b.transcript;
  EXPECT_EQ(thaw_b, thaw_a);
  second.KeepOnFailure();

  // A state file without the permafrost (of a run without it) leaves the
  // thaw to the grids, which the warning names; one of other permafrost
  // cells does not fit.
  b.Change("endhour = 24\nendday = 31\nendmonth = 12", "endhour = 24\nendday = 16\nendmonth = 7");
  const std::string state = ReadFile(b.dir / "state.ftz");
  const std::size_t count = state.find(" (number of permafrost cells)\n");
  ASSERT_NE(count, std::string::npos);
  const std::size_t line = state.rfind('\n', count) + 1;
  WriteFile(b.dir / "state.ftz", state.substr(0, line) + "\n");
  ASSERT_EQ(b.Velmo(), 0) << ReadFile(b.dir / "out.txt");
  EXPECT_NE(ReadFile(b.dir / "out.txt")
                .find("holds no permafrost state: the thaw goes on from the grids PermafrostThawDepth, "
                      "SnowFreeDaysGrid and SnowCoverDaysGrid; SnowFreeDaysGrid and SnowCoverDaysGrid, not "
                      "given as standard grids, start from 0"),
            std::string::npos)
      << ReadFile(b.dir / "out.txt");
  WriteFile(b.dir / "state.ftz", state.substr(0, line) + "1" + state.substr(count));
  EXPECT_EQ(b.Velmo(), 71);
  EXPECT_NE(
      ReadFile(b.dir / "out.txt").find("reading number of permafrost cells:\nvalue in actual control is:"),
      std::string::npos)
      << ReadFile(b.dir / "out.txt");
}

TEST(LakeSwitch, AFlowControlOtherThanOffAndOnEndsTheSetUp) {
  // With 2 the soil and the routing would take the lake for on and the
  // evapotranspiration for off, and the lake cells would evaporate from a
  // soil that holds nothing.
  example_run run;
  OneCellLake(run);
  run.Change("1       lakes on", "2       lakes on");
  int code = 0;
  run.Run({}, {}, {}, &code);
  EXPECT_EQ(code, kControlFileErrorCode);
  EXPECT_NE(run.transcript.find("the flow control parameter for [lake_model] must be 0 (off) or 1 (on), "
                                "not 2"),
            std::string::npos)
      << run.transcript;
}

TEST(NotFinite, AValueThatIsNoNumberEndsTheRunWithItsEntryAndCode) {
  // A NaN in an input of the soil, or of the snow, on cell (8, 10): the
  // first module that computes water from it stops the run, naming itself,
  // the grid and the cell.
  struct poison_case {
    const char* grid;
    pass_phase phase;   // the NaN comes after it; kNextRecord: before the first pass
    const char* entry;  // the FATAL entry as the console shows it
  };
  const poison_case cases[] = {
      {"topographic_faktor", pass_phase::kNextRecord,
       "soil_model: the grid saturation_deficite holds nan at row 8, column 10"},
      {"precipitation", pass_phase::kInterpolatorOutput,
       "snow_model: the grid snowstorage_solid holds nan at row 8, column 10"},
  };
  for (const poison_case& k : cases) {
    example_run run;
    const auto poison = [&](ModellApplication& app) { GridOf(app, k.grid)[8][10] = std::nan(""); };
    const auto built = [&](ModellApplication& app) {
      if (k.phase == pass_phase::kNextRecord) poison(app);
      app.phase_done = [&, &app = app](pass_phase phase, int) {
        if (phase == k.phase) poison(app);
      };
    };
    int code = 0;
    run.Run(built, {}, {}, &code);
    EXPECT_EQ(code, kNotFiniteCode) << k.grid;
    EXPECT_NE(run.transcript.find(k.entry), std::string::npos) << k.grid << "\n" << run.transcript;
  }
}

INSTANTIATE_TEST_SUITE_P(Configurations, MethodBalance, ::testing::ValuesIn(Cases()), [](const auto& info) {
  std::string name;
  for (char ch : info.param.name)
    if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
  return name;
});

}  // namespace
}  // namespace velmo
