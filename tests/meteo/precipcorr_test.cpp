// The precipitation correction on a 3 x 2 domain: its section and failures,
// the choice between station and grid mode, the grid correction with missing
// inputs, and the correction of the station values of an interpolator.
#include "meteo/precipcorr.h"

#include <gtest/gtest.h>

#include <array>

#include "meteo/meteo_fixture.h"

namespace velmo {
namespace {

using test::kColumns;
using test::kRows;
using test::MeteoDomain;
using test::station;
using test::ThrownCode;
using test::WriteFile;

constexpr double kNodata = -9999.0;

// Rain 1.05 + 0.02·u, snow 1.2 + 0.1·u, threshold 0 °C.
const std::string kFactors =
    "0.0  threshold\n1.05 rain constant\n0.02 rain slope\n1.2 snow constant\n0.1 snow slope\n";

class PrecipitationCorrection : public MeteoDomain {
 public:
  static std::string Correction(int do_it = 1, const std::string& factors = kFactors) {
    return "[precipitation_correction]\n" + std::to_string(do_it) + "  do_it\n" + factors;
  }
  // Interpolators of `variables` (their sections in the control file).
  void BuildInterpolators(const std::vector<std::string>& variables) {
    settings.meteo_names = {""};
    interpolators = {nullptr};
    for (const std::string& v : variables) {
      settings.meteo_names.push_back(v);
      built.push_back(Build(v));
      interpolators.push_back(built.back().get());
    }
    settings.meteo_count = static_cast<int>(variables.size());
  }
  std::unique_ptr<precicorrclass> Correct() {
    return std::make_unique<precicorrclass>(&ms, interpolators, settings, &table);
  }
  void TearDown() override {
    for (auto& m : built) m->CleanUp();
  }

  std::vector<std::unique_ptr<meteointerpol>> built;
  std::vector<meteointerpol*> interpolators{nullptr};
};

TEST_F(PrecipitationCorrection, GridCellsByTheirTemperatureAndWind) {
  // Row 1: 5 °C, -3 °C, 0 °C; row 2: missing temperature, missing wind at
  // -3 °C, missing precipitation.
  double** p = AddGrid("precipitation", [](int r, int c) { return r == 2 && c == 3 ? kNodata : 10.0; });
  const double t_row1[] = {5, -3, 0}, t_row2[] = {kNodata, -3, -3};
  AddGrid("temperature", [&](int r, int c) { return (r == 1 ? t_row1 : t_row2)[c - 1]; });
  AddGrid("wind_speed", [](int r, int c) { return r == 2 && c == 2 ? kNodata : 3.0; });
  WriteControlFile(Correction());
  const auto correction = Correct();
  EXPECT_TRUE(correction->GridMode());  // no interpolator made "precipitation"
  correction->CorrectGrid();
  const double expected[kRows][kColumns] = {{11.1, 15.0, 15.0}, {11.1, 12.0, kNodata}};
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kColumns; ++c) EXPECT_NEAR(p[r][c], expected[r - 1][c - 1], 1e-12) << r << ", " << c;

  // "MPIRegions" is looked up at every call until it exists; then cell (1, 3)
  // is another process's. Cell (2, 1) is outside the catchment.
  AddGrid("MPIRegions", [](int r, int c) { return r == 1 && c == 3 ? 1.0 : 0.0; });
  table[1].data[2][1] = kNodata;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kColumns; ++c) p[r][c] = 10.0;
  correction->CorrectGrid();
  EXPECT_NEAR(p[1][1], 11.1, 1e-12);
  EXPECT_EQ(p[1][3], 10.0);
  EXPECT_EQ(p[2][1], 10.0);
  correction->CleanUp();
}

TEST_F(PrecipitationCorrection, MissingSourcesOfTemperatureOrWind) {
  struct setup {
    const char* what;
    bool temperature, wind;
    double expected;  // 10 mm at -3 °C and 3 m/s
  };
  const setup setups[] = {
      {"no temperature: the rain pair", false, true, 11.1},
      {"no wind speed: the constant", true, false, 12.0},
      {"neither", false, false, 10.5},
  };
  for (const setup& s : setups) {
    for (int i = 6; i < kGridTableSize; ++i) table[i].SetInitialState();
    double** p = AddGrid("precipitation", [](int, int) { return 10.0; });
    if (s.temperature) AddGrid("temperature", [](int, int) { return -3.0; });
    if (s.wind) AddGrid("wind_speed", [](int, int) { return 3.0; });
    WriteControlFile(Correction());
    console.str("");
    const auto correction = Correct();
    EXPECT_EQ(correction->NoTemperature(), !s.temperature) << s.what;
    EXPECT_EQ(correction->NoWind(), !s.wind) << s.what;
    // Each rule is named once.
    EXPECT_EQ(console.str().find("rain factors") != std::string::npos, !s.temperature) << console.str();
    EXPECT_EQ(console.str().find("wind speed is taken as 0") != std::string::npos, !s.wind) << console.str();
    correction->CorrectGrid();
    EXPECT_NEAR(p[2][2], s.expected, 1e-12) << s.what;
  }
}

TEST_F(PrecipitationCorrection, SwitchedOffChangesAndAllocatesNothing) {
  // Not even a missing "precipitation" grid matters.
  WriteControlFile(Correction(0));
  const auto off = Correct();
  EXPECT_FALSE(off->GridMode());
  off->CorrectStationValues();
  off->CorrectGrid();
  off->CleanUp();

  // The routing-only switch turns it off as well.
  double** p = AddGrid("precipitation", [](int, int) { return 10.0; });
  WriteControlFile(Correction(1));
  const auto routing_only = std::make_unique<precicorrclass>(&ms, interpolators, settings, &table, true);
  routing_only->CorrectGrid();
  EXPECT_EQ(p[1][1], 10.0);
}

TEST_F(PrecipitationCorrection, SectionAndGridFailures) {
  struct failure {
    std::string what, control;
    bool precipitation_grid;
    int code;
    std::string text;
  };
  const failure failures[] = {
      {"no section", "[other]\n1\n", true, kControlFileErrorCode, "[precipitation_correction]; (EOF)"},
      {"a value missing", "[precipitation_correction]\n1\n0.0\n1.05\n0.02\n1.2\n", true,
       kControlFileErrorCode, "Anstieg Schnee fuer ; precipitation_correction"},
      {"a value no number", Correction(1, "0.0\nnan\n0.02\n1.2\n0.1\n"), true, kControlFileErrorCode,
       "Konstante Regen fuer "},
      {"a comma in a value", Correction(1, "0.0\n1,05\n0.02\n1.2\n0.1\n"), true, kControlFileErrorCode,
       "Konstante Regen fuer ; precipitation_correctionnot found! (\"1,05\" is no finite number)"},
      {"no precipitation grid", Correction(), false, kMissingGridCode, "precipitation not found in memory"},
  };
  for (const failure& f : failures) {
    for (int i = 6; i < kGridTableSize; ++i) table[i].SetInitialState();
    if (f.precipitation_grid) AddGrid("precipitation", [](int, int) { return 1.0; });
    WriteControlFile(f.control);
    const std::string text = ExpectCode(
        f.code, [&] { Correct(); }, f.what);
    EXPECT_NE(text.find(f.text), std::string::npos) << f.what << "\n" << text;
  }
  settings.control_file_name = dir / "missing.ctl";
  EXPECT_EQ(ThrownCode([&] { Correct(); }), kControlFileOpenErrorCode);
}

// Precipitation from stations at 500 and 2000 m, 10 mm each; temperature 10 -
// 0.0065·z (a lapse rate from one station at 0 m); wind 3 m/s from one station.
class StationCorrection : public PrecipitationCorrection {
 public:
  const std::vector<std::string> kAll = {"precipitation", "temperature", "wind_speed"};

  void WriteInputs(int precipitation_method, const std::string& precipitation_records,
                   const std::vector<std::string>& variables, const std::string& method_line = "none\n") {
    WriteFile(dir / "p.txt", StationFile({{500, 1500, 500}, {2500, 500, 2000}}, precipitation_records));
    WriteFile(dir / "t.txt", StationFile({{1500, 1000, 0}}, "2000 1 1 1 10\n2000 1 1 2 10\n"));
    WriteFile(dir / "u.txt", StationFile({{1500, 1000, 0}}, "2000 1 1 1 3\n2000 1 1 2 3\n"));
    std::string precipitation_lines = dir / "p.txt" + "\n" + method_line;
    if (precipitation_method == kGridListMethod) {
      WriteFile(dir / "g.asc",
                "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1000\n"
                "nodata_value -9999\n1 2 3\n4 5 6\n");
      WriteFile(dir / "p.txt", StationFile({{0, 0, 1000}}, "2000 1 1 1 " + dir / "g.asc" + "\n"));
      precipitation_lines = dir / "p.txt" + "\n8.9e-5 0.0767 127 6e-6 0.098\n";
    }
    WriteControlFile(Section("precipitation", precipitation_method, precipitation_lines) +
                     Section("temperature", kLapseRateMethod, dir / "t.txt" + "\n-0.0065\n") +
                     Section("wind_speed", kThiessenMethod, dir / "u.txt" + "\nnone\n") + Correction());
    BuildInterpolators(variables);
  }
};

TEST_F(StationCorrection, StationValuesBeforeTheInterpolation) {
  WriteInputs(kThiessenMethod, "2000 1 1 1 10 10\n2000 1 1 2 10 -99999\n", kAll);
  const auto correction = Correct();
  ASSERT_FALSE(correction->GridMode());
  meteointerpol& p = *built[0];
  correction->CorrectStationValues();
  EXPECT_NEAR(p.GetStationValues()[1], 11.1, 1e-12);
  EXPECT_NEAR(p.GetStationValues()[2], 15.0, 1e-12);
  // Equal raw values are no longer equal: each cell takes its station's.
  Step(p);
  EXPECT_NEAR(p.ResultGrid()[1][1], 11.1, 1e-12);
  EXPECT_NEAR(p.ResultGrid()[2][3], 15.0, 1e-12);

  for (auto& m : built) m->ReadNextRecord();
  correction->CorrectStationValues();
  EXPECT_NEAR(p.GetStationValues()[1], 11.1, 1e-12);
  EXPECT_EQ(p.GetStationValues()[2], -10000.0);  // missing stays missing
  correction->CleanUp();
}

TEST_F(StationCorrection, GridModeDecisions) {
  struct decision {
    const char* what;
    int precipitation_method;
    std::vector<std::string> variables;
    const char* extra_grid;  // a grid of the set-up, or none
    bool grid_mode;
  };
  const decision decisions[] = {
      {"three interpolators on stations", kThiessenMethod, kAll, nullptr, false},
      {"no wind at all", kThiessenMethod, {"precipitation", "temperature"}, nullptr, false},
      {"temperature only a grid", kThiessenMethod, {"precipitation", "wind_speed"}, "temperature", true},
      {"wind speed only a grid", kThiessenMethod, {"precipitation", "temperature"}, "wind_speed", true},
      {"precipitation read from grids", kGridListMethod, kAll, nullptr, true},
  };
  for (const decision& d : decisions) {
    for (auto& m : built) m->CleanUp();
    built.clear();
    for (int i = 6; i < kGridTableSize; ++i) table[i].SetInitialState();
    WriteInputs(d.precipitation_method, "2000 1 1 1 1 2\n", d.variables);
    if (d.extra_grid) AddGrid(d.extra_grid, [](int, int) { return 3.0; });
    EXPECT_EQ(Correct()->GridMode(), d.grid_mode) << d.what;
  }
}

TEST_F(StationCorrection, WhatEachMethodCorrects) {
  // Methods 10 and 11 fit their regression to the stations; 10 interpolates
  // the regression alone, so only the regression is refitted.
  struct method_case {
    int method;
    bool values_corrected, regression_refitted;
  };
  const method_case cases[] = {{kThiessenMethod, true, false},
                               {kStationRegressionMethod, false, true},
                               {kIdwStationRegressionMethod, true, true}};
  for (const method_case& m : cases) {
    for (auto& built_one : built) built_one->CleanUp();
    built.clear();
    for (int i = 6; i < kGridTableSize; ++i) table[i].SetInitialState();
    WriteInputs(m.method, "2000 1 1 1 10 12\n", kAll,
                m.method == kThiessenMethod ? "none\n" : "800 1500 100 0 50\n");
    meteointerpol& p = *built[0];
    p.ComputeStationRegression(0);
    double h1 = 0, h2 = 0;
    std::array<double, 4> a{}, b{};
    p.GetRegression(1, h1, h2, a, b);
    const auto correction = Correct();
    correction->SetMaxElevation(2000.0);
    correction->CorrectStationValues();
    EXPECT_EQ(p.GetStationValues()[1] != 10.0, m.values_corrected) << m.method;
    double h1_after = 0, h2_after = 0;
    std::array<double, 4> a_after{}, b_after{};
    p.GetRegression(1, h1_after, h2_after, a_after, b_after);
    EXPECT_EQ(a_after != a, m.regression_refitted) << m.method;
    EXPECT_EQ(h1_after, h1) << m.method;  // never written back
  }
}

}  // namespace
}  // namespace velmo
