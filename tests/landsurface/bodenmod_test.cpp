// The soil model through its object: construction from the section and the
// grids, the failures of construction, and the step on small domains.
#include "landsurface/bodenmod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "landsurface/infilt.h"
#include "landsurface/soil_fixture.h"

namespace velmo::test {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One subbasin of four equal cells with topographic indices 6, 8, 10, 12.
void FourCells(soil_domain& d) {
  d.Domain(1, 4, {1, 1, 1, 1});
  d.Grid("topographic_faktor", {6, 8, 10, 12});
  d.StandardGrids();
}

TEST(SoilConstruction, SubbasinMeansAndCellDeficits) {
  soil_domain d;
  FourCells(d);
  auto model = d.Build(soil_control{});
  ASSERT_EQ(model->subbasin_count, 1);
  const subbasin_state& s = model->states[1];
  EXPECT_NEAR(s.lambda, 9.0, 1e-12);
  EXPECT_NEAR(s.Q0, 4.44275, 1e-5);
  EXPECT_NEAR(s.SDmean, 50.0, 1e-12);
  EXPECT_NEAR(s.QB, 0.364683, 1e-6);
  const double deficits[] = {110, 70, 30, -10};
  for (int c = 1; c <= 4; ++c) {
    EXPECT_NEAR(model->grid(bodenmodellklasse::kDeficitGrid)[1][c], deficits[c - 1], 1e-12) << c;
    // Converted in place: m (TI - lambda) and mm per step.
    EXPECT_NEAR(d.Find("topographic_faktor")[1][c], 20.0 * (2 * c + 4 - 9.0), 1e-12);
    EXPECT_NEAR(d.Find("hydraulic_conductivity")[1][c], 3.6, 1e-12);
  }
  EXPECT_NEAR(model->subbasin_runoff[0][1], 0.364683, 1e-6);
  EXPECT_EQ(model->GetSubbasinRunoff(), model->subbasin_runoff.get());
  EXPECT_EQ(*model->GetStorageFileName(), "state.txt");

  // An initial interflow storage of 5 mm drains with a recession of 1 h.
  soil_domain e;
  FourCells(e);
  soil_control control;
  control.columns[0].SUZini = 5.0;
  control.columns[0].k_ELS_QI = 1.0;
  control.flow = 2;
  auto with_interflow = e.Build(control);
  EXPECT_NEAR(with_interflow->subbasin_runoff[0][1], 3.52529, 1e-5);
  // Flow control 2 runs the model but hands no runoff to routing and snow.
  EXPECT_EQ(with_interflow->GetSubbasinRunoff(), nullptr);
}

TEST(SoilConstruction, StoredStateGridsAreReadWithReadModeOne) {
  for (int read_mode : {1, 2}) {
    soil_domain d;
    FourCells(d);
    // The six state grids as a warm start would hand them over.
    const char* names[] = {"sd", "suz", "sif", "sbia", "nfkia", "ssp"};
    for (int g = 0; g < 6; ++g)
      WriteFile(d.dir / (std::string(names[g]) + ".asc"),
                "ncols 4\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n" +
                    std::to_string(10 * (g + 1)) + " " + std::to_string(10 * (g + 1) + 2) + " 0 1\n");
    soil_control control;
    // Every read mode but 0 also reads the soil block of the state file.
    std::string state;
    {
      soil_domain writer;
      FourCells(writer);
      state = writer.WrittenState(control);
    }
    WriteFile(d.dir / "state.txt", state);
    control.read_mode = read_mode;
    auto model = d.Build(control);
    SCOPED_TRACE("read mode " + std::to_string(read_mode));
    const double* suz = model->grid(bodenmodellklasse::kDrainageGrid)[1];
    const double* sd = model->grid(bodenmodellklasse::kDeficitGrid)[1];
    if (read_mode == 1) {
      EXPECT_EQ(suz[1], 20.0);
      EXPECT_EQ(suz[2], 22.0);
      // The deficit takes its mean from the grid read, its spread from the
      // topographic index.
      EXPECT_NEAR(model->states[1].SDmean, (10.0 + 12.0 + 0.0 + 1.0) / 4.0, 1e-12);
      EXPECT_NEAR(sd[1], 5.75 + 60.0, 1e-12);
    } else {
      EXPECT_EQ(suz[1], 0.0);
      EXPECT_NEAR(model->states[1].SDmean, 50.0, 1e-12);
    }
  }
}

TEST(SoilConstruction, ParameterColumnsFollowTheCodeRow) {
  struct Case {
    std::string codes;
    std::vector<double> m;           // per column
    std::vector<double> expected_m;  // per subbasin code 1..8
  };
  const Case cases[] = {
      {"1 8", {0.01, 0.08}, {10, 10, 10, 10, 10, 10, 10, 80}},
      {"3 8", {0.03, 0.08}, {30, 30, 30, 30, 30, 30, 30, 80}},
      {"2 5 8", {0.02, 0.05, 0.08}, {20, 20, 20, 20, 50, 50, 50, 80}},
      {"1 2 3 4 5 6 7 8", {0.01, 0.02, 0.03, 0.04, 0.05, 0.06, 0.07, 0.08}, {10, 20, 30, 40, 50, 60, 70, 80}},
  };
  for (const Case& c : cases) {
    soil_domain d;
    d.Domain(2, 4, {1, 2, 3, 4, 5, 6, 7, 8});
    d.StandardGrids();
    soil_control control;
    control.codes = c.codes;
    control.columns.clear();
    for (double m : c.m) {
      soil_column column;
      column.m = m;
      column.k_ELS_QD = 0.0;
      column.Pgrenz = 1.0;
      control.columns.push_back(column);
    }
    control.interval = 1440.0;
    auto model = d.Build(control);
    for (int i = 1; i <= 8; ++i) {
      EXPECT_DOUBLE_EQ(model->parameters[static_cast<size_t>(i)].m, c.expected_m[static_cast<size_t>(i - 1)])
          << c.codes << ", subbasin " << i;
      // Storage constant 0 h counts as one hour; the threshold grows with the day step.
      EXPECT_EQ(model->parameters[static_cast<size_t>(i)].k_ELS_QD, 60.0);
      EXPECT_NEAR(model->parameters[static_cast<size_t>(i)].Pgrenz, 6.73173, 1e-5);
      EXPECT_EQ(model->code[static_cast<size_t>(i)], i);
    }
  }
}

TEST(SoilConstruction, AnInitialDelayedBaseflowIsNotUsedAndSaysSo) {
  for (const double qbb : {0.0, 3.5}) {
    soil_domain d;
    d.Domain(2, 4, {1, 1, 1, 1, 2, 2, 2, 2});
    d.StandardGrids();
    soil_control control;
    control.codes = "1 2";
    control.columns.assign(2, soil_column{});
    control.columns[1].QBBini = qbb;
    d.console.str("");
    d.Build(control);
    const std::string warning =
        "QBBini of subbasin 2 is 3.5 in [soil_model], but the delayed baseflow storage "
        "starts empty: QBBini is not used";
    EXPECT_EQ(d.console.str().find(warning) != std::string::npos, qbb != 0.0) << d.console.str();
  }
}

TEST(SoilConstruction, TravelTimeZones) {
  soil_domain d;
  d.Domain(2, 3, {1, 1, 1, 2, 2, N});
  // Travel times of 1, 2 and 3 steps in subbasin 1; 0 s and nodata in subbasin 2.
  d.Grid("flow_times", {3600, 3601, 10000, 0, N, N});
  d.StandardGrids();
  soil_control control;
  control.codes = "1 2";
  control.columns = {soil_column{}, soil_column{}};
  auto model = d.Build(control);
  EXPECT_EQ(model->states[1].maxzeit, 3);
  EXPECT_EQ(model->states[2].maxzeit, 1);
  const double steps[] = {1, 2, 3, 1, 1};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(d.Find("flow_times")[1 + k / 3][1 + k % 3], steps[k]) << k;
  EXPECT_TRUE(Contains(d.console.str(), "2 cells of the grid flow_times hold no travel time"));
  // Cumulative from the far end: the area in transit when runoff starts.
  const travel_zone* zones = model->zoneFZT(1);
  EXPECT_EQ(zones[1].n, 3.0);
  EXPECT_EQ(zones[2].n, 2.0);
  EXPECT_EQ(zones[3].RelCellSum, 1.0);
  EXPECT_NEAR(zones[2].rel, 1.0 / 3.0, 1e-15);
  EXPECT_EQ(ReadFile(d.dir / "modell.log"),
            "Fliesszeitverteilung:\nTG\t   1\t(  3\tZonen):\t0.333\t0.333\t0.333\nTG\t   2\t(  "
            "1\tZonen):\t1.000\n");
}

TEST(SoilConstruction, FailuresNameWhatIsWrong) {
  struct Case {
    std::string what;
    std::function<void(soil_domain&, soil_control&)> change;
    int code;
    std::vector<std::string> messages;  // in the console (without level prefix) or in "modell.log"
    std::string from = {}, to = {};     // an edit of the control file
  };
  auto rename = [](soil_domain& d, const std::string& grid_name) {
    for (int i = 1; i < kGridTableLimit; ++i)
      if (d.table[i].name == grid_name) d.table[i].name = "renamed";
  };
  const Case cases[] = {
      {"no flow-time grid (not an error)",
       [](soil_domain&, soil_control&) {},
       0,
       {"------------------------------------------------------------------------\n\nWarning! There was no "
        "flow "
        "travel time grid for surface runoff read in\nAll surface runoof",
        "Fliesszeitverteilung wird nicht berechnet (kein FZT-Grid eingelesen)\n"}},
      {"m of 0",
       [](soil_domain&, soil_control& c) { c.columns[0].m = 0.0; },
       1,
       {"recession parameter m for subbasin 1 must be above 0 (0)\npossible error by using the same"}},
      {"Tkorr of 0",
       [](soil_domain&, soil_control& c) { c.columns[0].Tkorr = 0.0; },
       1,
       {"transmissivity scaling Tkorr for subbasin 1 is not positive! (0)"}},
      {"a code of no subbasin",
       [](soil_domain&, soil_control& c) { c.codes = "9"; },
       10,
       {"error! there is no code 9 (from ",
        ") for a subbasin in soil_model\npossible error by using the same parameters\nfor groups of "
        "subbasins:"}},
      {"a code row that is no number",
       [](soil_domain&, soil_control& c) { c.codes = "x"; },
       10,
       {"-----------------error------------\nerror reading code[0] for soil_model\npossible error"}},
      {"an unreadable parameter",
       [](soil_domain&, soil_control&) {},
       10,
       {"error reading Kkorr[1] for soil_model"},
       "0.5 Kkorr",
       "x.5 Kkorr"},
      {"a parameter that only starts as a number",
       [](soil_domain&, soil_control&) {},
       10,
       {"error reading Kkorr[1] for soil_model", "(\"0.5x\" is no finite number)"},
       "0.5 Kkorr",
       "0.5x Kkorr"},
      {"a parameter beyond the doubles",
       [](soil_domain&, soil_control&) {},
       10,
       {"(\"1e309\" is no finite number)"},
       "0.5 Kkorr",
       "1e309 Kkorr"},
      {"infiltration while the soil model is off",
       [](soil_domain&, soil_control& c) {
         c.flow = 0;
         c.infiltration = 1;
       },
       47,
       {"------------ Fehler in der Steuerdatei! ----------------\nDas Infiltrationsmodell kann nur"}},
      {"intervals differ",
       [](soil_domain&, soil_control& c) {
         c.infiltration = 2;
         c.infiltration_interval = 30.0;
       },
       67,
       {"the time interval of [infiltration_model] (30 minutes) differs from the time interval of "
        "[soil_model] (60 minutes)"}},
      {"macropore fraction above 1",
       [](soil_domain&, soil_control& c) {
         c.infiltration = 1;
         c.P = 1.5;
       },
       17,
       {"error in control file, Durch Makroporen versickernder Anteil P fuer [infiltration_model] (between 0 "
        "and 1)"}},
      {"lake method 3",
       [](soil_domain& d, soil_control& c) {
         d.Grid("lake_codes", {N, N, 1, N});
         c.lake = "1\n3\n";
       },
       211,
       {"\n\n=======================================\n!!!! ERROR !!!! \n\n Error in initialization method "
        "for [lake_model].\n"}},
      {"a missing grid",
       [&](soil_domain& d, soil_control&) { rename(d, "topographic_faktor"); },
       33,
       {"topographic_faktor not found in memory,\nThese data are needed within soil_model"}},
      {"a topographic index of nodata",
       [](soil_domain& d, soil_control&) { d.Find("topographic_faktor")[1][2] = N; },
       68,
       {"the grid topographic_faktor holds no value (nodata) at row 1, column 2"}},
      {"a soil type without record",
       [](soil_domain& d, soil_control&) { d.Find("soil_types")[1][3] = 3.0; },
       68,
       {"the grid soil_types names no record of the soil table at row 1, column 3 (3)"}},
      {"a subbasin without weight",
       [](soil_domain& d, soil_control& c) {
         d.Grid("RelCellArea", {1.0, 1.0, 0.0, 0.0});
         d.Find("zonegrid_soilmodel")[1][3] = d.Find("zonegrid_soilmodel")[1][4] = 2.0;
         c.codes = "1 2";
         c.columns.push_back(soil_column{});
       },
       1,
       {"the cells of subbasin 2 of soil_model carry no weight (RelCellArea)"}},
      {"an empty first travel-time zone",
       [](soil_domain& d, soil_control&) { d.Grid("flow_times", {7200.0}); },
       61,
       {"Error in flow-travel-time grid: the first time zone of subbasin 1 has no cells!"}},
  };
  for (const Case& c : cases) {
    soil_domain d;
    d.Domain(1, 4, {1, 1, 1, 1});
    d.StandardGrids();
    soil_control control;
    c.change(d, control);
    std::string text = SoilControlText(control);
    if (!c.from.empty()) text.replace(text.find(c.from), c.from.size(), c.to);
    WriteFile(d.settings.control_file_name, text);
    const int code = ThrownCode([&] { infiltrationsmodellklasse model(&d.ms, d.settings, &d.table); });
    EXPECT_EQ(code, c.code) << c.what << "\n" << d.console.str();
    const std::string log = std::filesystem::exists("modell.log") ? ReadFile("modell.log") : "";
    for (const std::string& message : c.messages)
      EXPECT_TRUE(Contains(d.console.str(), message) || Contains(log, message)) << c.what << ": " << message;
  }
}

// ---- the step

TEST(SoilStep, LakeCellsTakeNoWater) {
  soil_domain d;
  // One subbasin of three cells, the middle one a lake: its input water
  // goes to its ponded water.
  d.Domain(1, 3, {1, 1, 1});
  d.Grid("lake_codes", {N, 5, N});
  double** pond = d.Grid("ponding_storage_top", {0.0});
  double** ponding = d.Grid("max_ponding_storage", {N, 2.0, 0.5});
  d.Grid("snowstorage_solid", {20.0});  // a share of the input runs off directly
  d.Grid("hydraulic_conductivity", {1.0e-7});
  d.StandardGrids(12.0);
  soil_control control;
  control.columns[0].k_ELS_QD = 0.0;  // one hour
  control.lake = "1 lakes on\n1 grids unchanged\n";
  control.infiltration = 1;
  auto model = d.Build(control);
  // Depths in mm where there is one; nodata stays nodata.
  EXPECT_EQ(ponding[1][1], N);
  EXPECT_EQ(ponding[1][2], 2000.0);
  EXPECT_EQ(ponding[1][3], 500.0);
  model->RunTimeStep(0, 1, 1, 1, 2001);

  // Infiltration excess (12 mm on 0.36 mm per step) runs off from soil cells only.
  EXPECT_GT(model->excess_grid[1][1], 0.0);
  EXPECT_EQ(model->excess_grid[1][2], 0.0);
  EXPECT_EQ(model->grid(bodenmodellklasse::kDeficitGrid)[1][2], 0.0);
  EXPECT_EQ(d.Find("soil_storage")[1][2], 1.0);
  EXPECT_EQ(model->grid(bodenmodellklasse::kDirectflowGrid)[1][2], 0.0);
  EXPECT_EQ(pond[1][2], 12.0);
  EXPECT_EQ(pond[1][1], 0.0);
  // The lake cell counts in the travel-time zone with its area, not its water.
  const double* direct = model->grid(bodenmodellklasse::kDirectflowGrid)[1];
  EXPECT_NEAR(model->states[1].QDin, (direct[1] + direct[3]) / 3.0, 1e-15);
  EXPECT_GT(model->states[1].QDin, 0.0);
  EXPECT_NEAR(model->states[1].QD, (1.0 - std::exp(-1.0)) * model->states[1].QDin, 1e-15);
  // The baseflow comes from the two soil cells of the three.
  EXPECT_DOUBLE_EQ(model->states[1].soil_share, 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(
      model->subbasin_runoff[0][1],
      model->states[1].QD + model->states[1].QI + 2.0 / 3.0 * (model->states[1].QB + model->states[1].QBB));
}

TEST(SoilStep, ADryStepAfterAStormClearsTheDirectRunoffGrid) {
  // The grid keeps a cell's value where it does not change: a storm's
  // direct runoff must still give way to the 0 of the dry step after it.
  soil_domain d;
  d.Domain(1, 2, {1, 1});
  double** rain = d.Grid("precipitation", {12.0});
  d.Grid("hydraulic_conductivity", {1.0e-7});
  d.StandardGrids();
  soil_control control;
  control.infiltration = 1;
  auto model = d.Build(control);
  const double* direct = model->grid(bodenmodellklasse::kDirectflowGrid)[1];
  model->RunTimeStep(0, 1, 1, 1, 2001);
  ASSERT_GT(direct[1], 0.0);
  ASSERT_GT(direct[2], 0.0);
  rain[1][1] = rain[1][2] = 0.0;
  model->RunTimeStep(0, 2, 1, 1, 2001);
  EXPECT_EQ(direct[1], 0.0);
  EXPECT_EQ(direct[2], 0.0);
  // The peak keeps the storm's.
  EXPECT_GT(model->grid(bodenmodellklasse::kPeakflowGrid)[1][1], 0.0);
}

TEST(SoilStep, GlacierisedCellsTakeTheirGlacierFreeShareAndTheGlacierRunoffJoinsRowZero) {
  // Shares 0, 0.5 and 1 of "GlacierizedCells" (the fully glacierised cell
  // has no soil) give the same soil as glacier-free cells with half and no
  // input water; the snow model's glacier runoff in row 1 joins row 0 once.
  auto build = [](soil_domain& d, bool glaciers) {
    d.Domain(1, 4, {1, 1, 1, 1});
    if (glaciers) {
      d.Grid("GlacierizedCells", {N, 0.0, 0.5, 1.0});
      d.Grid("ice_firn", {1, 1, 1, 1});  // the shares come from "GlacierizedCells"
      d.Grid("soil_types", {1, 1, 1, N});
    }
    d.StandardGrids(12.0);
    return d.Build(soil_control{});
  };
  soil_domain glacier_domain, plain_domain;
  auto glacier = build(glacier_domain, true);
  auto plain = build(plain_domain, false);
  double** plain_water = plain_domain.Find("precipitation");
  plain_water[1][3] = 6.0;
  plain_water[1][4] = 0.0;
  plain_domain.Find("soil_storage")[1][4] = 1.0;
  glacier->subbasin_runoff[1][1] = 0.7;
  for (int step = 1; step <= 3; ++step) {
    glacier->RunTimeStep(0, step, 1, 6, 2001);
    plain->RunTimeStep(0, step, 1, 6, 2001);
    for (int c = 1; c <= 3; ++c)
      EXPECT_EQ(glacier->grid(bodenmodellklasse::kDirectflowGrid)[1][c],
                plain->grid(bodenmodellklasse::kDirectflowGrid)[1][c])
          << c;
    EXPECT_EQ(glacier->grid(bodenmodellklasse::kDirectflowGrid)[1][4], 0.0);
    EXPECT_EQ(glacier->subbasin_runoff[1][1], 0.0);
    if (step > 1) continue;
    // The fully glacierised cell is in the subbasin's area, but without
    // water; the baseflow comes from the three soil cells.
    const double soil = glacier->states[1].QD + glacier->states[1].QI + 0.75 * glacier->states[1].QB;
    EXPECT_DOUBLE_EQ(glacier->subbasin_runoff[0][1], soil + 0.7);
    EXPECT_GT(glacier->states[1].QB, 0.0);
  }
}

TEST(SoilStep, CellsWithoutSoilTakeNoPartInTheGroundwater) {
  // Three soil cells alone, and beside a fully glacierised cell whose
  // topographic index is their mean: the soil cells keep the same deficit
  // and baseflow, and the subbasin's runoff is theirs over its larger area.
  // Under ice alone a subbasin has no baseflow.
  auto build = [](soil_domain& d, int glacier_cells) {
    const int cells = 3 + glacier_cells;
    d.Domain(1, cells, std::vector<double>(static_cast<size_t>(cells), 1.0));
    std::vector<double> index = {8, 10, 12, 10}, shares = {0, 0, 0, 1}, soils = {1, 1, 1, N};
    if (glacier_cells == 1) {
      d.Grid("GlacierizedCells", shares);
      d.Grid("ice_firn", {1, 1, 1, 1});
      d.Grid("soil_types", soils);
    }
    index.resize(static_cast<size_t>(cells));
    d.Grid("topographic_faktor", index);
    d.StandardGrids(3.0);
    return d.Build(soil_control{});
  };
  soil_domain alone_domain, beside_domain;
  auto alone = build(alone_domain, 0);
  auto beside = build(beside_domain, 1);
  for (int step = 1; step <= 24; ++step) {
    alone->RunTimeStep(0, step, 1, 6, 2001);
    beside->RunTimeStep(0, step, 1, 6, 2001);
    EXPECT_DOUBLE_EQ(beside->states[1].SDmean, alone->states[1].SDmean) << step;
    EXPECT_DOUBLE_EQ(beside->states[1].QB, alone->states[1].QB) << step;
    EXPECT_DOUBLE_EQ(beside->subbasin_runoff[0][1], 0.75 * alone->subbasin_runoff[0][1]) << step;
  }
  EXPECT_GT(alone->states[1].QB, 0.0);

  soil_domain ice;
  ice.Domain(1, 2, {1, 1});
  ice.Grid("GlacierizedCells", {1, 1.2});
  ice.Grid("ice_firn", {1, 1});
  ice.Grid("soil_types", {N});
  ice.StandardGrids(3.0);
  auto glacier = ice.Build(soil_control{});
  glacier->subbasin_runoff[1][1] = 0.4;
  glacier->RunTimeStep(0, 1, 1, 6, 2001);
  EXPECT_EQ(glacier->states[1].soil_share, 0.0);
  EXPECT_EQ(glacier->states[1].QB, 0.0);
  EXPECT_EQ(glacier->subbasin_runoff[0][1], 0.4);
}

TEST(SoilStep, LakeMethodTwoLowersTheElevationModel) {
  for (int method : {1, 2}) {
    soil_domain d;
    d.Domain(1, 4, {1, 1, 1, 1});
    d.Grid("lake_codes", {N, 0, -1, 3});
    d.Grid("ponding_storage_top", {0.0});
    d.Grid("max_ponding_storage", {1.5, 2.0, 2.0, N});
    d.StandardGrids();
    soil_control control;
    control.lake = "1\n" + std::to_string(method) + "\n";
    auto model = d.Build(control);
    // Only lake cells (code 0 or more) with a depth are lowered.
    const double expected[] = {500.0, method == 2 ? 498.0 : 500.0, 500.0, 500.0};
    for (int c = 1; c <= 4; ++c)
      EXPECT_EQ(d.table[2].data[1][c], expected[c - 1]) << "method " << method << ", cell " << c;
  }
}

TEST(SoilStep, InputWaterComesFromTheFirstGridPresent) {
  struct Case {
    std::vector<std::string> grids;
    bool interception_first;
    std::string chosen;  // empty: none (code 33)
  };
  const Case cases[] = {
      {{"precipitation", "snowcover_outflow", "throughfall0"}, false, "throughfall0"},
      {{"precipitation", "snowcover_outflow", "throughfall0"}, true, "snowcover_outflow"},
      {{"precipitation", "throughfall0"}, true, "throughfall0"},
      {{"precipitation"}, true, "precipitation"},
      {{"temperature"}, false, ""},
  };
  for (const Case& c : cases) {
    soil_domain d;
    d.Domain(1, 2, {1, 1});
    for (const std::string& grid_name : c.grids) d.Grid(grid_name, {1.0});
    d.StandardGrids();
    d.table[d.table.FirstFreeEntry() - 1].name = "no_precipitation";  // the fixture's own one
    WriteFile(d.settings.control_file_name, SoilControlText(soil_control{}));
    infiltrationsmodellklasse model(&d.ms, d.settings, &d.table);
    const int code = ThrownCode([&] { model.LinkInputGrids(c.interception_first); });
    if (c.chosen.empty()) {
      EXPECT_EQ(code, 33);
      EXPECT_TRUE(Contains(d.console.str(), "Wether"));
    } else {
      EXPECT_EQ(model.input_water, d.Find(c.chosen)) << c.chosen;
    }
  }
}

TEST(SoilStep, InfiltrationSwitches) {
  // K 1 mm per step, fillable porosity 0.1 (drainable porosity 0.1 of a
  // full root zone), suction 300 mm, 10 mm of input.
  auto domain = [](soil_domain& d) {
    d.soil_records[1].drainable_porosity = 0.1;
    d.Domain(1, 2, {1, 1});
    d.Grid("hydraulic_conductivity", {1.0 / ConductivityPerStep(1.0, 60.0)});
    d.Grid("soil_storage", {1.0});
    d.StandardGrids(10.0);
  };
  for (int infiltration : {0, 2}) {
    soil_domain d;
    domain(d);
    soil_control control;
    control.infiltration = infiltration;
    auto model = d.Build(control);
    EXPECT_EQ(model->FindGrid("infiltration_excess", true) > 0, infiltration == 2);
    model->RunTimeStep(0, 1, 1, 1, 2001);
    // Nothing is computed: the fillable porosity stays, no excess.
    EXPECT_EQ(d.Find("fillable_porosity")[1][1], 0.3);
    if (infiltration == 2) {
      EXPECT_EQ(model->excess_grid[1][1], 0.0);
    }
  }

  soil_domain d;
  domain(d);
  soil_control control;
  control.infiltration = 1;
  auto model = d.Build(control);
  model->RunTimeStep(0, 1, 1, 1, 2001);
  EXPECT_NEAR(d.Find("fillable_porosity")[1][1], 0.1, 1e-15);
  EXPECT_NEAR(model->excess_grid[1][1], 2.35610, 1e-5);
  EXPECT_EQ(model->saturation_grid[1][1], 1.0);
  EXPECT_NEAR(d.Find("precipitation")[1][1], 7.64390, 1e-5);
  // The excess runs off directly with the cell's other direct runoff.
  EXPECT_NEAR(model->grid(bodenmodellklasse::kDirectflowGrid)[1][1], 2.35610, 1e-5);
  // Marked saturated: the next step ponds from its start.
  d.Find("precipitation")[1][1] = 10.0;
  model->RunTimeStep(0, 2, 1, 1, 2001);
  const double fp = d.Find("fillable_porosity")[1][1];
  EXPECT_NEAR(model->excess_grid[1][1], GreenAmptStep(10.0, 1.0, fp, 300.0, true, 0.0).excess, 1e-12);
}

TEST(SoilStep, CapillaryFailureIsLoggedWithItsCell) {
  soil_domain d;
  d.Domain(1, 2, {1, 1});
  d.Grid("root_depth1", {1.0});
  d.StandardGrids();
  auto model = d.Build(soil_control{});
  // A saturated share that is no number: the rise cannot be computed.
  model->grid(bodenmodellklasse::kSaturatedPartitionGrid)[1][2] = std::nan("");
  const std::string text = ExpectCode(d.console, 55, [&] { model->RunTimeStep(0, 1, 1, 1, 2001); });
  EXPECT_TRUE(Contains(text, "Fehler bei Kapillarflow in Zelle 1,2dump: SSPneu = 0.5, kapillarflow = "))
      << text;
  EXPECT_TRUE(Contains(ReadFile("modell.log"),
                       "\nFehler bei Kapillarflow in Zelle 1, 2\ndump: SSPneu = 0.500000, kapillarflow = "));
}

}  // namespace
}  // namespace velmo::test
