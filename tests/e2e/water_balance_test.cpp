// The example catchment keeps every drop. After construction and after every
// pass of the time loop the test reads, per subbasin, the precipitation, the
// whole real evapotranspiration, the runoff handed to routing and the water
// of every store (canopy, snow cover, soil, groundwater, direct runoff on its
// way to the outlet, the linear stores of direct runoff and delayed
// baseflow), as means over the subbasin's cells weighted by "RelCellArea".
// Precipitation less evapotranspiration, runoff and the change of the stores
// is round-off in every step and over the run, for soil methods 1 and 2, with
// constant root depths and with a land use whose roots grow and shrink, and
// with the snow held in the forest's canopy before an energy-balance snow
// cover (the canopy's snow a store, its sublimation a loss). The
// terms of every step go to a table beside the run's outputs (kept when the
// test fails); the statistics tables the run wrote must show the same values.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/example_run.h"
#include "landsurface/infilt.h"
#include "landsurface/soil_processes.h"

namespace velmo {
namespace {

using test::example_run;
using test::GridOf;

constexpr int kSubbasins = 3;

enum store : int {
  kCanopy,
  kSnowCanopy,
  kSnow,
  kSoil,
  kGroundwater,
  kTransit,
  kDirectStore,
  kDelayedStore,
  kStoreCount
};
constexpr std::array<const char*, kStoreCount> kStoreNames = {
    "canopy", "snow_canopy", "snow", "soil", "groundwater", "transit", "QD_store", "QBB_store"};

// One subbasin after a pass, in mm over its area.
struct subbasin_water {
  double precipitation = 0.0;
  double evapotranspiration = 0.0;  // "real_transpiration0": transpiration, interception, snow and soil
  double canopy_sublimation = 0.0;  // "Snow_canopy_sublim" of the snow canopy
  double runoff = 0.0;              // row 0 of subbasin_runoff
  std::array<double, kStoreCount> stores{};

  double Stored() const {
    double sum = 0.0;
    for (double s : stores) sum += s;
    return sum;
  }
};
using catchment_water = std::array<subbasin_water, kSubbasins + 1>;  // index 0: the whole catchment

// The water of every subbasin as the modules hold it in memory.
catchment_water Measure(ModellApplication& app) {
  bodenmodellklasse& soil = *app.infiltration;
  double** weights = GridOf(app, "RelCellArea");
  double** precipitation = GridOf(app, "precipitation");
  double** evapotranspiration = GridOf(app, "real_transpiration0");
  double** canopy = GridOf(app, "interception_storage0");
  double** solid = GridOf(app, "snowstorage_solid");
  double** liquid = GridOf(app, "snowstorage_liquid");
  double** canopy_snow = test::OptionalGridOf(app, "Snow_canopy_load");
  double** canopy_sublimation = test::OptionalGridOf(app, "Snow_canopy_sublim");

  catchment_water water{};
  std::array<double, kSubbasins + 1> weight{};
  for (int r = 1; r <= soil.nrows; ++r) {
    for (int c = 1; c <= soil.ncols; ++c) {
      const int i = soil.CellSubbasin(r, c);
      if (i == 0) continue;
      const double w = weights[r][c];
      for (int at : {0, i}) {
        subbasin_water& s = water[static_cast<size_t>(at)];
        weight[static_cast<size_t>(at)] += w;
        s.precipitation += w * precipitation[r][c];
        s.evapotranspiration += w * evapotranspiration[r][c];
        s.stores[kCanopy] += w * canopy[r][c];
        s.stores[kSnow] += w * (solid[r][c] + liquid[r][c]);
        if (canopy_snow) {
          s.stores[kSnowCanopy] += w * canopy_snow[r][c];
          s.canopy_sublimation += w * canopy_sublimation[r][c];
        }
        s.stores[kSoil] += w * test::CellSoilWater(soil, r, c);
      }
    }
  }
  const double dt = soil.time_interval;
  for (int i = 0; i <= kSubbasins; ++i) {
    subbasin_water& s = water[static_cast<size_t>(i)];
    const double w = weight[static_cast<size_t>(i)];
    s.precipitation /= w;
    s.evapotranspiration /= w;
    s.canopy_sublimation /= w;
    for (int k = kCanopy; k <= kSoil; ++k) s.stores[static_cast<size_t>(k)] /= w;
    if (i == 0) continue;
    const subbasin_state& state = soil.states[static_cast<size_t>(i)];
    const subbasin_parameters& p = soil.parameters[static_cast<size_t>(i)];
    s.runoff = soil.subbasin_runoff[0][i];
    s.stores[kGroundwater] = -state.SDmean;
    for (int k = 2; k <= state.maxzeit; ++k) s.stores[kTransit] += soil.zoneFZT(i)[k].sx / w;
    s.stores[kDirectStore] = LinearStoreContent(state.QD, RecessionFactor(dt, p.k_ELS_QD));
    s.stores[kDelayedStore] = LinearStoreContent(state.QBB, RecessionFactor(dt, p.k_ELS_QBB));
  }
  return water;
}

struct balance_variant {
  std::string name;
  int soil_method;
  bool changing_roots;
  bool snow_canopy = false;  // interception method 31 before snow method 5
};
void PrintTo(const balance_variant& variant, std::ostream* out) { *out << variant.name; }

// The forest's roots reach down to 1.4 m and back to 0.5 m within the month.
const char* const kChangingRoots =
    "JulDays = 1 64 70 76 82 88 366;\n"
    "  Albedo = 0.12 0.12 0.12 0.12 0.12 0.12 0.12;\n"
    "  LAI = 5 5 5 5 5 5 5;\n"
    "  Z0 = 1.5 1.5 1.5 1.5 1.5 1.5 1.5;\n"
    "  VCF = 0.9 0.9 0.9 0.9 0.9 0.9 0.9;\n"
    "  RootDepth = 1.0 1.0 0.5 1.4 0.6 1.3 1.0;\n"
    "  AltDep = 0 0 0 0 0 0 0;\n"
    "  rsc = 90 90 90 90 90 90 90;\n"
    "  rs_interception = 10 10 10 10 10 10 10;\n"
    "  rs_evaporation = 300 300 300 300 300 300 300;\n";
const char* const kForestLists =
    "JulDays = 1 120 240 366;\n"
    "  Albedo = 0.12 0.12 0.12 0.12;\n"
    "  LAI = 5 6 7 5;\n"
    "  Z0 = 1.5 1.5 1.5 1.5;\n"
    "  VCF = 0.9 0.9 0.9 0.9;\n"
    "  RootDepth = 1.0 1.0 1.0 1.0;\n"
    "  AltDep = 0 0 0 0;\n"
    "  rsc = 90 80 70 90;\n"
    "  rs_interception = 10 10 10 10;\n"
    "  rs_evaporation = 300 300 300 300;\n";

class WaterBalance : public ::testing::TestWithParam<balance_variant> {};

// The values of a table's zone columns (1..3) and its catchment column (0),
// step by step, as the run held them.
struct table_check {
  const char* file;
  double subbasin_water::*value;
  bool catchment_column;  // the last column is the catchment's mean of the cells
};

TEST_P(WaterBalance, EverySubbasinKeepsItsWaterInEveryStep) {
  const balance_variant& variant = GetParam();
  example_run run;
  if (variant.soil_method == 2)
    run.Change("1       method: without delayed baseflow", "2       method: with delayed");
  if (variant.changing_roots) run.Change(kForestLists, kChangingRoots);
  if (variant.snow_canopy) {
    run.Change("1       method: 1 degree-day", "5       method: energy balance, not 1 degree-day");
    run.Change(test::kSnowReadgridLine, test::kEnergyBalanceLines);
    run.Change("1       method: after the snow model",
               "31      method: the snow canopy before the snow model");
    run.Change(test::kCanopyStoresLine, test::kSnowCanopyLines);
  }

  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> table_file(
      std::fopen((run.dir / "water_balance.txt").c_str(), "w"), &std::fclose);
  ASSERT_NE(table_file, nullptr);
  std::FILE* table = table_file.get();
  std::fprintf(table,
               "YYYY\tMM\tDD\tHH\tsubbasin\tprecipitation\tevapotranspiration\tcanopy_sublimation\trunoff");
  for (const char* name : kStoreNames) std::fprintf(table, "\td_%s", name);
  std::fprintf(table, "\tresidual\trunning_residual\n");

  catchment_water before{};
  std::vector<catchment_water> steps;
  std::array<double, kSubbasins + 1> running{}, precipitation_so_far{};
  double largest_root_change = 0.0, deepest_inactive_soil = 0.0;
  std::vector<double> root_depths;
  int failures = 0;

  const auto after_pass = [&](ModellApplication& app) {
    const catchment_water now = Measure(app);
    const model_date& d = app.current_date;
    for (int i = 1; i <= kSubbasins; ++i) {
      const subbasin_water& a = before[static_cast<size_t>(i)];
      const subbasin_water& b = now[static_cast<size_t>(i)];
      double scale = std::abs(b.precipitation) + std::abs(b.evapotranspiration) + std::abs(b.runoff) +
                     std::abs(b.canopy_sublimation);
      std::fprintf(table, "%d\t%d\t%d\t%d\t%d\t%.12g\t%.12g\t%.12g\t%.12g", d.year, d.month, d.day, d.hour, i,
                   b.precipitation, b.evapotranspiration, b.canopy_sublimation, b.runoff);
      for (int k = 0; k < kStoreCount; ++k) {
        const double change = b.stores[static_cast<size_t>(k)] - a.stores[static_cast<size_t>(k)];
        std::fprintf(table, "\t%.12g", change);
        scale += std::abs(a.stores[static_cast<size_t>(k)]) + std::abs(b.stores[static_cast<size_t>(k)]);
      }
      const double residual = b.precipitation - b.evapotranspiration - b.canopy_sublimation - b.runoff -
                              (b.Stored() - a.Stored());
      double& sum = running[static_cast<size_t>(i)];
      sum += residual;
      precipitation_so_far[static_cast<size_t>(i)] += b.precipitation;
      std::fprintf(table, "\t%.3g\t%.3g\n", residual, sum);
      if (failures < 10 && !(std::abs(residual) <= 1e-10 * scale)) {
        ++failures;
        ADD_FAILURE() << variant.name << ": subbasin " << i << " on " << d.day << "." << d.month << ". "
                      << d.hour << " h: residual " << residual << " mm of terms " << scale << " mm";
      }
      // Before the first millimetre has fallen the bound is that of 1 mm.
      const double so_far = std::max(precipitation_so_far[static_cast<size_t>(i)], 1.0);
      if (failures < 10 && !(std::abs(sum) <= 1e-9 * so_far)) {
        ++failures;
        ADD_FAILURE() << variant.name << ": subbasin " << i << " on " << d.day << "." << d.month << ". "
                      << d.hour << " h: " << sum << " mm made or lost so far, of "
                      << precipitation_so_far[static_cast<size_t>(i)] << " mm of precipitation";
      }
    }
    // How much the roots moved and how much inactive soil they left behind.
    double** roots = GridOf(app, "root_depth1");
    double** inactive = app.infiltration->grid(bodenmodellklasse::kInactiveCapacityGrid);
    std::size_t cell = 0;
    for (int r = 1; r <= app.infiltration->nrows; ++r) {
      for (int c = 1; c <= app.infiltration->ncols; ++c) {
        if (app.infiltration->CellSubbasin(r, c) == 0) continue;
        if (cell < root_depths.size())
          largest_root_change = std::max(largest_root_change, std::abs(roots[r][c] - root_depths[cell]));
        else
          root_depths.push_back(roots[r][c]);
        root_depths[cell++] = roots[r][c];
        deepest_inactive_soil = std::max(deepest_inactive_soil, inactive[r][c]);
      }
    }
    before = now;
    steps.push_back(now);
  };
  ASSERT_EQ(run.Run([&](ModellApplication& app) { before = Measure(app); }, after_pass), 0) << run.transcript;
  std::fflush(table);
  ASSERT_EQ(steps.size(), 744u);

  // The run went through what it is meant to test: snow built up and melted,
  // the canopy held water, soils ran off, and the roots moved or stood still.
  double most_snow = 0.0, most_canopy = 0.0, most_canopy_snow = 0.0, canopy_sublimation = 0.0;
  for (const catchment_water& w : steps) {
    most_snow = std::max(most_snow, w[0].stores[kSnow]);
    most_canopy = std::max(most_canopy, w[0].stores[kCanopy]);
    most_canopy_snow = std::max(most_canopy_snow, w[0].stores[kSnowCanopy]);
    canopy_sublimation += w[0].canopy_sublimation;
  }
  EXPECT_GT(most_snow, 50.0);
  // The energy balance leaves the valley a little more of its snow.
  EXPECT_LT(steps.back()[3].stores[kSnow], variant.snow_canopy ? 2.0 : 1.0);
  EXPECT_GT(most_canopy, 0.3);
  if (variant.snow_canopy) {
    EXPECT_GT(most_canopy_snow, 1.0);
    EXPECT_GT(canopy_sublimation, 0.1);
  }
  EXPECT_EQ(steps.back()[1].stores[kDelayedStore] > 0.0, variant.soil_method == 2);
  if (variant.changing_roots) {
    EXPECT_GT(largest_root_change, 0.1);
    EXPECT_GT(deepest_inactive_soil, 10.0);
  } else {
    EXPECT_LT(largest_root_change, 1e-12);
  }

  // The tables the run wrote hold the values of every step within the
  // decimals they print.
  const table_check checks[] = {
      {"precipitation.stat", &subbasin_water::precipitation, true},
      {"etr.stat", &subbasin_water::evapotranspiration, true},
      {"qges.stat", &subbasin_water::runoff, false},
  };
  for (const table_check& check : checks) {
    const std::vector<test::table_row> rows = test::TableRows(run.dir / check.file);
    ASSERT_EQ(rows.size(), steps.size()) << check.file;
    int wrong = 0;
    for (std::size_t s = 0; s < rows.size() && wrong < 5; ++s) {
      ASSERT_EQ(rows[s].values.size(), static_cast<size_t>(kSubbasins + 1)) << check.file;
      for (int i = 0; i <= kSubbasins; ++i) {
        if (i == 0 && !check.catchment_column) continue;
        const std::string& text = rows[s].values[static_cast<size_t>(i == 0 ? kSubbasins : i - 1)];
        const double expected = steps[s][static_cast<size_t>(i)].*check.value;
        if (std::abs(std::stod(text) - expected) > test::PrintedPrecision(text) * (1.0 + 1e-9)) {
          ++wrong;
          ADD_FAILURE() << check.file << ", step " << s + 1 << ", column " << i << ": " << text << " for "
                        << expected;
        }
      }
    }
  }
  const auto stored_in_table = [&](const char* file, store kind) {
    const std::vector<test::table_row> rows = test::TableRows(run.dir / file);
    ASSERT_EQ(rows.size(), steps.size()) << file;
    for (std::size_t s = 0; s < rows.size(); ++s) {
      for (int i = 0; i <= kSubbasins; ++i) {
        const std::string& text = rows[s].values[static_cast<size_t>(i == 0 ? kSubbasins : i - 1)];
        ASSERT_NEAR(std::stod(text), steps[s][static_cast<size_t>(i)].stores[kind],
                    test::PrintedPrecision(text) * (1.0 + 1e-9))
            << file << ", step " << s + 1 << ", column " << i;
      }
    }
  };
  stored_in_table("si.stat", kCanopy);
  stored_in_table("snowstorage.stat", kSnow);
  if (variant.snow_canopy) stored_in_table("scn_load.stat", kSnowCanopy);

  if (HasFailure()) {
    run.dir.Keep();
    ADD_FAILURE() << "the terms of every step are in " << (run.dir / "water_balance.txt");
  }
}

INSTANTIATE_TEST_SUITE_P(SoilMethodsAndRoots, WaterBalance,
                         ::testing::Values(balance_variant{"method 1, constant roots", 1, false},
                                           balance_variant{"method 2, constant roots", 2, false},
                                           balance_variant{"method 1, growing and shrinking roots", 1, true},
                                           balance_variant{"method 2, growing and shrinking roots", 2, true},
                                           balance_variant{"method 2, snow canopy and energy balance", 2,
                                                           false, true}),
                         [](const auto& info) {
                           return "Method" + std::to_string(info.param.soil_method) +
                                  (info.param.changing_roots ? "ChangingRoots" : "ConstantRoots") +
                                  (info.param.snow_canopy ? "SnowCanopy" : "");
                         });

}  // namespace
}  // namespace velmo
