// The soil model keeps each subbasin's water, step by step, on a small
// domain of two subbasins that takes every path of the cell step: saturated
// and dry cells, capillary rise, macropores, overflow, interflow, snowmelt
// runoff, travel times of one to three steps, weighted cells, a cell without
// root-zone capacity, both methods, with and without infiltration, and root
// depths that change as the daily root-zone update of the set-up changes them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "landsurface/et_fixture.h"
#include "landsurface/infilt.h"
#include "landsurface/interception_section.h"
#include "landsurface/interzep.h"
#include "landsurface/soil_fixture.h"
#include "setup/vegparams.h"

namespace velmo::test {
namespace {

constexpr int kRows = 4;
constexpr int kCols = 5;

// Two subbasins, codes 3 and 7, and two cells outside.
void TwoSubbasins(soil_domain& d) {
  d.Domain(kRows, kCols, {3, 3, 3, 7, N, 3, 3, 7, 7, 7, 3, 3, 7, 7, 7, N, 3, 3, 7, 7});
  d.Grid("RelCellArea",
         {1.0, 0.8, 1.2, 0.9, N, 1.1, 1.0, 0.7, 1.3, 1.0, 0.9, 1.0, 1.1, 1.0, 0.8, N, 1.2, 1.0, 1.0, 0.9});
  d.Grid("topographic_faktor", {5, 6, 9, 7, N, 8, 11, 6, 9, 12, 10, 14, 8, 13, 9, N, 13, 12, 11, 14});
  // One cell of subbasin 3 has no root-zone capacity.
  d.Grid("available_soil_moisture",
         {120, 80, 0, 150, N, 100, 60, 200, 90, 110, 140, 70, 100, 50, 130, N, 100, 90, 160, 120});
  d.Grid("soil_storage",
         {0.3, 0.5, 0.7, 0.9, N, 0.4, 0.6, 0.8, 0.5, 0.2, 1.0, 0.5, 0.6, 0.7, 0.3, N, 0.9, 0.5, 0.4, 0.6});
  d.Grid("root_depth1",
         {0.2, 0.5, 1.0, 1.5, N, 0.3, 0.8, 1.2, 0.4, 0.6, 1.4, 0.2, 0.9, 1.1, 0.5, N, 0.7, 1.3, 0.3, 1.0});
  d.Grid("soil_types", {1, 2, 1, 2, N, 1, 1, 2, 2, 1, 2, 1, 1, 2, 1, N, 2, 2, 1, 1});
  d.Grid("hydraulic_conductivity", {1e-6, 5e-6, 2e-7, 1e-5, N,    3e-6, 1e-6, 8e-6, 2e-6, 5e-7,
                                    1e-6, 4e-6, 6e-7, 2e-6, 1e-5, N,    3e-6, 1e-6, 7e-7, 2e-6});
  d.Grid("flow_times", {0,     3600, 7200, 3600, N,    3600, 7200, 10800, 7200, 3600,
                        10800, 7200, 3600, 3600, 7200, N,    3600, 10800, 7200, 3600});
  d.Grid("snowstorage_solid", {0, 20, 0, 0, N, 50, 0, 15, 0, 0, 0, 0, 30, 0, 0, N, 0, 0, 0, 12});
  d.StandardGrids();
}

soil_control TwoSubbasinControl(int method, int infiltration) {
  soil_control control;
  control.method = method;
  control.codes = "3 7";
  soil_column wet;
  wet.SDini = 0.3;
  wet.Pgrenz = 2.0;
  wet.Rrueck = 0.8;
  wet.SUZini = 3.0;
  soil_column dry;
  dry.m = 0.03;
  dry.SDini = 0.8;
  dry.SHmax = 0.0005;  // no reinfiltration
  dry.k_ELS_QD = 1.0;
  dry.Kkorr = 2.0;
  control.columns = {wet, dry};
  control.infiltration = infiltration;
  control.P = 0.3;
  return control;
}

// Input water of step `step` at a cell: bursts every fifth step, drizzle
// between them, and dry steps.
double InputWater(int step, int r, int c) {
  if (step % 5 == 1) return 30.0 + 4.0 * r + c;
  if (step % 7 == 3) return 0.0;
  return 0.3 * ((r + c + step) % 4);
}

// Water of subbasin i as the soil step keeps it: the cell stores (the
// inactive soil counted by its water) less the mean deficit, the water in
// transit and the content of the two linear stores.
double SubbasinWater(bodenmodellklasse& m, int i) {
  double weight = 0.0, stores = 0.0;
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      if (m.CellSubbasin(r, c) != i) continue;
      const double w = m.cell_weights[r][c];
      const double V = m.soil_storage[r][c] * m.available_soil_moisture[r][c] +
                       m.grid(bodenmodellklasse::kDrainageGrid)[r][c] +
                       m.grid(bodenmodellklasse::kInterflowStoreGrid)[r][c] +
                       m.grid(bodenmodellklasse::kInactiveMoistureGrid)[r][c] *
                           m.grid(bodenmodellklasse::kInactiveCapacityGrid)[r][c];
      stores += V * w;
      weight += w;
    }
  }
  const subbasin_state& s = m.states[static_cast<size_t>(i)];
  const subbasin_parameters& p = m.parameters[static_cast<size_t>(i)];
  double transit = 0.0;
  for (int k = 2; k <= s.maxzeit; ++k) transit += m.zoneFZT(i)[k].sx;
  const double dt = m.time_interval;
  return stores / weight - s.SDmean + transit / weight +
         LinearStoreContent(s.QD, RecessionFactor(dt, p.k_ELS_QD)) +
         LinearStoreContent(s.QBB, RecessionFactor(dt, p.k_ELS_QBB));
}

// Root-zone water of subbasin i counted by water: SB nFK + SBia nFKia.
double RootZoneWater(bodenmodellklasse& m, int i) {
  double weight = 0.0, water = 0.0;
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      if (m.CellSubbasin(r, c) != i) continue;
      const double w = m.cell_weights[r][c];
      water += (m.soil_storage[r][c] * m.available_soil_moisture[r][c] +
                m.grid(bodenmodellklasse::kInactiveMoistureGrid)[r][c] *
                    m.grid(bodenmodellklasse::kInactiveCapacityGrid)[r][c]) *
               w;
      weight += w;
    }
  }
  return water / weight;
}

// The daily root-zone update of the set-up object, cell by cell: the root
// depth takes `factor` times its value and the soil follows.
void ChangeRootDepths(soil_domain& d, bodenmodellklasse& m, const std::function<double(int, int)>& factor) {
  double** depth = d.Find("root_depth1");
  const root_zone_grids grids{m.available_soil_moisture,
                              m.soil_storage,
                              m.grid(bodenmodellklasse::kSoilStorageOldGrid),
                              m.grid(bodenmodellklasse::kInactiveCapacityGrid),
                              m.grid(bodenmodellklasse::kInactiveMoistureGrid),
                              m.grid(bodenmodellklasse::kSaturatedPartitionGrid)};
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      if (m.CellSubbasin(r, c) == 0) continue;
      const double old_depth = depth[r][c];
      depth[r][c] *= factor(r, c);
      UpdateRootZone(grids, r, c, old_depth, depth[r][c]);
    }
  }
}

// Runs `steps` steps and checks every subbasin's balance in each: the mean
// input water before infiltration equals the runoff plus the change of the
// subbasin's water. `before_step` may change the domain between steps (it
// moves water, so it belongs to the step's balance).
void RunAndBalance(soil_domain& d, infiltrationsmodellklasse& m, int steps,
                   const std::function<void(int)>& before_step = {}) {
  double** water = d.Find("precipitation");
  for (int step = 1; step <= steps; ++step) {
    double input[3] = {0.0, 0.0, 0.0}, weight[3] = {0.0, 0.0, 0.0}, stored[3] = {0.0, 0.0, 0.0};
    for (int i = 1; i <= 2; ++i) stored[i] = SubbasinWater(m, i);
    if (before_step) before_step(step);
    for (int r = 1; r <= kRows; ++r) {
      for (int c = 1; c <= kCols; ++c) {
        water[r][c] = InputWater(step, r, c);
        const int i = m.CellSubbasin(r, c);
        if (i == 0) continue;
        input[i] += water[r][c] * m.cell_weights[r][c];
        weight[i] += m.cell_weights[r][c];
      }
    }
    m.RunTimeStep(0, step % 24, 1 + step / 24, 6, 2001);
    for (int i = 1; i <= 2; ++i) {
      const subbasin_state& s = m.states[static_cast<size_t>(i)];
      const double runoff = s.QD + s.QI + s.QB + s.QBB;
      EXPECT_DOUBLE_EQ(m.subbasin_runoff[0][i], runoff);
      const double now = SubbasinWater(m, i);
      const double residual = input[i] / weight[i] - runoff - (now - stored[i]);
      const double scale = std::max({std::abs(now), std::abs(stored[i]), input[i] / weight[i], runoff});
      EXPECT_LE(std::abs(residual), 1e-10 * scale) << "subbasin " << i << ", step " << step;
      ASSERT_TRUE(std::isfinite(now)) << "subbasin " << i << ", step " << step;
    }
  }
}

TEST(SoilBalance, EverySubbasinKeepsItsWaterInEveryStep) {
  for (int method : {1, 2}) {
    for (int infiltration : {0, 1}) {
      SCOPED_TRACE("method " + std::to_string(method) + ", infiltration " + std::to_string(infiltration));
      soil_domain d;
      TwoSubbasins(d);
      auto model = d.Build(TwoSubbasinControl(method, infiltration));
      double excess = 0.0;
      RunAndBalance(d, *model, 40, [&](int) {
        if (infiltration == 1)
          for (int r = 1; r <= kRows; ++r)
            for (int c = 1; c <= kCols; ++c) excess = std::max(excess, model->excess_grid[r][c]);
      });
      // The run went through the paths it is meant to test.
      EXPECT_GT(model->states[1].QD, 0.0);
      EXPECT_GT(model->states[2].QI, 0.0);
      EXPECT_EQ(model->states[1].QBB > 0.0, method == 2);
      EXPECT_EQ(excess > 0.0, infiltration == 1);
    }
  }
}

TEST(SoilBalance, RootDepthChangesMoveWaterButMakeNone) {
  soil_domain d;
  TwoSubbasins(d);
  auto model = d.Build(TwoSubbasinControl(2, 1));
  RunAndBalance(d, *model, 30, [&](int step) {
    if (step % 10 != 0) return;
    // Roots grow on some cells and shrink on others; on their first change
    // the growing roots outgrow the inactive soil (none yet).
    const double before[3] = {0.0, RootZoneWater(*model, 1), RootZoneWater(*model, 2)};
    ChangeRootDepths(d, *model, [&](int r, int c) { return (r + c + step / 10) % 2 == 0 ? 1.6 : 0.55; });
    for (int i = 1; i <= 2; ++i)
      EXPECT_NEAR(RootZoneWater(*model, i), before[i], 1e-12 * before[i])
          << "subbasin " << i << ", step " << step;
  });
}

// Weighted mean of grid `name` over the cells of subbasin i.
double SubbasinMean(soil_domain& d, bodenmodellklasse& m, const std::string& name, int i) {
  double** grid = d.Find(name);
  double weight = 0.0, sum = 0.0;
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      if (m.CellSubbasin(r, c) != i) continue;
      sum += grid[r][c] * m.cell_weights[r][c];
      weight += m.cell_weights[r][c];
    }
  }
  return sum / weight;
}

// Interception runs before the soil, the real evapotranspiration after it:
// the precipitation of every subbasin becomes runoff, the change of the
// water in soil and canopy, and the cells' whole real evapotranspiration
// "real_transpiration0". Potential rates of up to 8.5 mm per step dry some
// soils out; one cell has no land use and one no root-zone capacity.
TEST(SoilBalance, WithInterceptionAndEvapotranspiration) {
  soil_domain d;
  TwoSubbasins(d);
  std::vector<landuse_table_entry> landuses(3);
  landuses[0].code = 2;
  landuses[1].IntercepCap = 0.3;  // mm per unit leaf area; land use 2 takes the section's
  d.settings.landuse_table = landuses.data();
  d.Grid("landuse1", {1, 2, 1, N, N, 1, 1, 2, 2, 1, 2, 1, 1, 2, 1, N, 2, 2, 1, 1});
  d.Grid("leaf_area_index1", {3, 5, 1, 4, N, 2, 6, 3, 4, 1, 5, 2, 3, 4, 6, N, 2, 3, 5, 4});
  d.Grid("vegetation_coverage_degree1",
         {0.8, 0.6, 0.9, 0.5, N, 0.7, 0.4, 1.0, 0.8, 0.6, 0.9, 0.7, 0.5, 0.8, 0.6, N, 0.9, 0.7, 0.8, 0.6});
  d.Grid("RoughnessLength1", {0.1});
  d.Grid("SurfaceCanopyResistance1", {50.0});
  d.Grid("SurfaceIntercepResistance1", {10.0});
  d.Grid("temperature", {15.0});
  et_section hamon;
  hamon.method = 2;
  hamon.interval = 60;
  WriteFile(d.settings.control_file_name, Section(hamon) + InterceptionSection(11, 0.2));
  verdunstungsmodellklasse evapotranspiration(&d.ms, d.settings, &d.table);
  evapotranspiration.LinkSoilGrids();
  interzeptionsmodellklasse interception(&d.ms, d.settings, &d.table);
  auto soil = d.Build(TwoSubbasinControl(1, 1));

  double** precipitation = d.Find("precipitation");
  double** theta = d.Find("soil_storage");
  double** capacity = d.Find("available_soil_moisture");
  double** transpiration = d.Find("real_transpiration1");
  double** evaporation = d.Find("real_evaporation");
  double** total = d.Find("real_transpiration0");
  double** interception_evaporation = d.Find("interception_evaporation0");
  double canopy_held = 0.0;
  for (int step = 1; step <= 40; ++step) {
    for (int r = 1; r <= kRows; ++r) {
      for (int c = 1; c <= kCols; ++c) {
        precipitation[r][c] = InputWater(step, r, c);
        const double rate = 0.5 + 2.0 * ((r * c + step) % 5);
        for (const char* grid : {"pot_transpiration0", "pot_transpiration1"}) d.Find(grid)[r][c] = rate;
        for (const char* grid : {"potential_InterceptionEvap0", "potential_InterceptionEvap1"})
          d.Find(grid)[r][c] = 0.8 * rate;
        d.Find("potential_evaporation")[r][c] = 0.3 * rate;
      }
    }
    double input[3] = {}, stored[3] = {};
    for (int i = 1; i <= 2; ++i) {
      input[i] = SubbasinMean(d, *soil, "precipitation", i);
      stored[i] = SubbasinWater(*soil, i) + SubbasinMean(d, *soil, "interception_storage0", i);
    }
    const model_date date{0, step % 24, 1 + step / 24, 6, 2001};
    interception.RunTimeStep(date.minute, date.hour, date.day, date.month, date.year);
    soil->RunTimeStep(date.minute, date.hour, date.day, date.month, date.year);
    std::vector<double> theta_before;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) theta_before.push_back(theta[r][c]);
    evapotranspiration.RealEvapotranspiration(date.minute, date.hour, date.day, date.month, date.year);

    // The soil of every cell loses what transpired and evaporated from it.
    for (int r = 1; r <= kRows; ++r) {
      for (int c = 1; c <= kCols; ++c) {
        if (soil->CellSubbasin(r, c) == 0) continue;
        const double before = theta_before[static_cast<size_t>((r - 1) * kCols + c - 1)];
        EXPECT_NEAR((before - theta[r][c]) * capacity[r][c], transpiration[r][c] + evaporation[r][c], 1e-12)
            << r << " " << c << ", step " << step;
        EXPECT_NEAR(total[r][c], transpiration[r][c] + interception_evaporation[r][c] + evaporation[r][c],
                    1e-12);
      }
    }
    for (int i = 1; i <= 2; ++i) {
      const subbasin_state& s = soil->states[static_cast<size_t>(i)];
      const double runoff = s.QD + s.QI + s.QB + s.QBB;
      const double now = SubbasinWater(*soil, i) + SubbasinMean(d, *soil, "interception_storage0", i);
      const double losses = SubbasinMean(d, *soil, "real_transpiration0", i);
      const double residual = input[i] - runoff - losses - (now - stored[i]);
      const double scale = std::max({std::abs(now), std::abs(stored[i]), input[i], runoff, losses});
      EXPECT_LE(std::abs(residual), 1e-10 * scale) << "subbasin " << i << ", step " << step;
      canopy_held = std::max(canopy_held, now - SubbasinWater(*soil, i));
    }
  }
  // The run went through the limits it is meant to test.
  double driest = 1.0;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c)
      if (soil->CellSubbasin(r, c) != 0 && capacity[r][c] > 0.0) driest = std::min(driest, theta[r][c]);
  EXPECT_LT(driest, 0.1);
  EXPECT_GT(canopy_held, 0.0);
  interception.CleanUp();
  evapotranspiration.CleanUp();
}

TEST(SoilBalance, DrySpellRecedesTheBaseflow) {
  // No input, no drainage or interflow storage, the water table below the
  // roots: only the baseflow leaves, QB(t+1) = QB(t) exp(-QB(t)/m).
  soil_domain d;
  d.Domain(1, 2, {1, 1});
  d.Grid("root_depth1", {0.01});
  d.Grid("hydraulic_conductivity", {0.0});
  d.StandardGrids();
  soil_control control;
  const double m = 20.0, first = 0.5;
  const double Q0 = BaseflowAtZeroDeficit(1.0e-5, 8.0, 60.0);
  control.columns[0].SDini = m * std::log(Q0 / first) / 100.0;
  auto model = d.Build(control);
  double expected = first;
  for (int step = 1; step <= 100; ++step) {
    model->RunTimeStep(0, step % 24, 1, 1, 2001);
    EXPECT_NEAR(model->states[1].QB, expected, 1e-12) << step;
    expected *= std::exp(-expected / m);
  }
  model->RunTimeStep(0, 5, 5, 1, 2001);
  EXPECT_NEAR(model->states[1].QB, 0.142215, 1e-6);
  // 0.45 % below the continuous recession 1/QB = 1/QB(1) + (t - 1)/m.
  const double continuous = 1.0 / (1.0 / first + 100.0 / m);
  EXPECT_NEAR((continuous - model->states[1].QB) / continuous, 0.0045, 0.0001);
}

}  // namespace
}  // namespace velmo::test
