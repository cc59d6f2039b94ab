// Tests of the interception model on a small domain: the section and its
// faults, the bucket of one and of several layers, the glacierised share,
// the input water of each method, the output names, the start from grid
// files, the water balance over several steps and the tracers.
#include "landsurface/interzep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "landsurface/canopy_domain.h"
#include "physics/glacier_share.h"
#include "setup/tracers.h"

namespace velmo {
namespace {

using test::layer_values;
using ::testing::HasSubstr;

constexpr double kTol = 1e-12;

class Interception : public test::CanopyDomain {
 protected:
  std::unique_ptr<interzeptionsmodellklasse> Build(const std::string& control) {
    return Make<interzeptionsmodellklasse>(control);
  }
  static void Step(interzeptionsmodellklasse& model, int hour = 12) {
    model.RunTimeStep(0, hour, 1, 6, 2000);
  }

  // Over several steps with changing input and potentials, in cells of
  // different glacierised shares (with `shares`, those of columns 1..4 in
  // each step): input = throughfall0 + (1 - w)·(total store + total
  // evaporation) - (1 - w before)·(total store before), and every layer
  // closes by itself.
  static constexpr int kSteps = 6;
  using share_steps = std::array<std::array<double, kCols>, kSteps>;
  void ExpectBalanceOverSteps(interzeptionsmodellklasse& model, int layers,
                              const share_steps* shares = nullptr) {
    const double inputs[] = {5.0, 0.0, 0.3, 12.0, 0.0, 1.7};
    const double potentials[] = {0.2, 1.5, 0.1, 0.0, 3.0, 0.4};
    double** precipitation = Data("precipitation");
    double** glacier = Data("GlacierizedCells");
    for (int step = 0; step < kSteps; ++step) {
      std::array<double, kCols + 1> share_before{};
      for (int c = 1; c <= kCols; ++c) {
        share_before[static_cast<size_t>(c)] = CellGlacierShare(glacier[1][c]);
        if (shares) glacier[1][c] = (*shares)[static_cast<size_t>(step)][static_cast<size_t>(c - 1)];
      }
      std::vector<std::vector<double>> before(static_cast<size_t>(layers) + 1,
                                              std::vector<double>(kCols + 1));
      for (int c = 1; c <= kCols; ++c) {
        precipitation[1][c] = inputs[step] * c;
        for (int l = 0; l <= layers; ++l) {
          before[static_cast<size_t>(l)][static_cast<size_t>(c)] =
              Data("interception_storage" + std::to_string(l))[1][c];
          const double potential = l == 0 ? potentials[step] * layers : potentials[step];
          Data("pot_transpiration" + std::to_string(l))[1][c] = potential;
          Data("potential_InterceptionEvap" + std::to_string(l))[1][c] = potential;
        }
      }
      model.RunTimeStep(0, step, 1, 6, 2000);
      for (int c = 1; c <= kCols; ++c) {
        SCOPED_TRACE("step " + std::to_string(step) + ", column " + std::to_string(c));
        const double w = CellGlacierShare(glacier[1][c]);
        const double w_before = share_before[static_cast<size_t>(c)];
        const auto at = [&](const std::string& name, int l) { return Data(name + std::to_string(l))[1][c]; };
        const double input = precipitation[1][c];
        EXPECT_NEAR(input,
                    at("throughfall", 0) +
                        (1.0 - w) * (at("interception_storage", 0) + at("interception_evaporation", 0)) -
                        (1.0 - w_before) * before[0][static_cast<size_t>(c)],
                    1e-13 * (1.0 + input));
        if (w >= 1.0) continue;
        double reaching = input;
        for (int l = 1; l <= layers; ++l) {
          // The layer's store before, over the share of this step.
          const double layer_change =
              at("interception_storage", l) -
              (1.0 - w_before) / (1.0 - w) * before[static_cast<size_t>(l)][static_cast<size_t>(c)];
          EXPECT_NEAR(reaching, at("throughfall", l) + layer_change + at("interception_evaporation", l),
                      1e-13 * (1.0 + input))
              << "layer " << l;
          reaching = at("throughfall", l);
        }
      }
    }
  }
};

// ---------------------------------------------------------------- section

TEST_F(Interception, SectionFaults) {
  AddLayers({layer_values{}});
  AddGrid("precipitation", 5.0);
  EXPECT_THAT(
      ExpectCode(kInterceptionMethodCode, [&] { Build(Section(5)); }),
      HasSubstr("method 5 is not supported in interception model (use one of 1, 2, 11, 12, 21, 22, 31, "
                "32)"));
  // The snow canopy's lines missing, or cut short.
  EXPECT_THAT(ExpectCode(kControlFileErrorCode, [&] { Build(Section(21)); }),
              HasSubstr("name sub-canopy temperature grid for [interception_model]"));
  std::string canopy = test::SnowCanopyLines(32);
  canopy.resize(canopy.find("ceb_temperature_old"));
  EXPECT_THAT(ExpectCode(kControlFileErrorCode, [&] { Build(Section(32) + canopy); }),
              HasSubstr("name canopy energy balance grid for [interception_model]"));
  // The read-grid line is missing.
  std::string text = Section(11);
  text.resize(text.rfind("0  readgrid"));
  EXPECT_THAT(ExpectCode(kControlFileErrorCode, [&] { Build(text); }), HasSubstr("readgrid parameter for "));
  EXPECT_THAT(ExpectCode(kControlFileErrorCode, [&] { Build("[snow_model]\n0\n60\n"); }),
              HasSubstr("[interception_model]"));
  // A thickness that is no finite number, a write code that is no whole
  // number: named with their token.
  EXPECT_THAT(
      ExpectCode(kControlFileErrorCode, [&] { Build(Section(1, std::nan(""))); }),
      HasSubstr("maximum water layer thickness for [interception_model]; interception_modelnot found! "
                "(\"nan\" is no finite number)"));
  text = Section(1);
  test::Replace(text, "outflow grid\n0\n", "outflow grid\n3,5\n");
  EXPECT_THAT(ExpectCode(kControlFileErrorCode, [&] { Build(text); }),
              HasSubstr("write code outflow grid for [interception_model]; interception_modelnot found! "
                        "(\"3,5\" is no whole number)"));
}

TEST_F(Interception, MissingGridsAndAFullTableEndConstruction) {
  AddLayers({layer_values{}});
  // Without precipitation neither method finds its input water.
  for (int method : {1, 11})
    EXPECT_THAT(ExpectCode(kMissingGridCode, [&] { Build(Section(method)); }), HasSubstr("precipitation"));
  AddGrid("precipitation", 5.0);
  grids_[Find("pot_transpiration1")].name = "renamed";
  EXPECT_THAT(ExpectCode(kMissingGridCode, [&] { Build(Section(11)); }), HasSubstr("pot_transpiration1"));
  grids_[Find("renamed")].name = "pot_transpiration1";
  // No entry left for the module's own grids.
  for (int i = grids_.FirstFreeEntry(); i < kGridTableLimit; ++i) grids_[i].name = "taken";
  EXPECT_THAT(ExpectCode(kNoFreeGridCode, [&] { Build(Section(11)); }), HasSubstr("no free grid left"));
}

TEST_F(Interception, SwitchedOffModuleDoesNothing) {
  auto model = Build(Section(11, 1.0, 0, 0, 0));
  EXPECT_EQ(model->GetMethod(), 0);
  Step(*model);
  model->FlushBuffers();
  EXPECT_EQ(Find("throughfall0"), 0);
  model->CleanUp();
}

// ---------------------------------------------------------------- one layer

struct bucket_case {
  const char* label;
  int method;
  double landuse;  // position in the land-use table; nodata: none
  double thickness;
  double input, storage_before, transpiration, interception;
  double throughfall, storage, evaporation, transpiration_after;
};

void PrintTo(const bucket_case& k, std::ostream* os) { *os << k.label; }

// With the second parameter the layer's potential transpiration and the
// total's are one matrix, as the evapotranspiration model may register them:
// the cut is taken once.
class OneLayerBucket : public Interception,
                       public ::testing::WithParamInterface<std::tuple<bucket_case, bool>> {};

TEST_P(OneLayerBucket, FillsSpillsAndEvaporates) {
  const auto& [k, shared_transpiration] = GetParam();
  AddLayers({{k.landuse, 4.0, 0.8, k.transpiration, k.interception}});
  AddGrid("precipitation", k.input);
  if (shared_transpiration) grids_[Find("pot_transpiration0")].data = Data("pot_transpiration1");
  auto model = Build(Section(k.method, k.thickness));
  ASSERT_EQ(model->GetMethod(), k.method);
  Set("interception_storage1", k.storage_before);
  Step(*model);
  for (const char* l : {"0", "1"}) {
    SCOPED_TRACE(std::string("layer ") + l);
    EXPECT_NEAR(At(std::string("throughfall") + l), k.throughfall, kTol);
    EXPECT_NEAR(At(std::string("interception_storage") + l), k.storage, kTol);
    EXPECT_NEAR(At(std::string("interception_evaporation") + l), k.evaporation, kTol);
    EXPECT_NEAR(At(std::string("pot_transpiration") + l), k.transpiration_after, kTol);
  }
  // Outside the catchment nothing is computed.
  for (const char* grid : {"throughfall0", "interception_evaporation1", "interception_storage0"})
    EXPECT_EQ(At(grid, kRows, 1), kNodata) << grid;
}

const bucket_case kBucketCases[] = {
    bucket_case{"fill, spill, b = 1", 11, 1.0, 1.0, 5.0, 0.0, 0.5, 9.0, 4.2, 0.3, 0.5, 0.0},
    bucket_case{"IntercepCap -1 takes the section's thickness", 1, 2.0, 0.5, 5.0, 0.0, 0.0, 0.0, 3.0, 2.0,
                0.0, 0.0},
    bucket_case{"b = 2, the store empties", 12, 1.0, 1.0, 0.0, 0.6, 0.2, 1.0, 0.0, 0.0, 0.6, 0.0},
    bucket_case{"b = 2, the potential limits", 12, 1.0, 1.0, 0.0, 0.6, 0.2, 0.25, 0.0, 0.35, 0.25, 0.0},
    bucket_case{"no land use passes the input on", 11, -9999.0, 1.0, 5.0, 0.0, 0.5, 0.0, 5.0, 0.0, 0.0, 0.5}};

INSTANTIATE_TEST_SUITE_P(Cases, OneLayerBucket,
                         ::testing::Combine(::testing::ValuesIn(kBucketCases), ::testing::Bool()),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// ---------------------------------------------------------------- two layers

struct layers_case {
  const char* label;
  layer_values upper, lower;
  double throughfall1, throughfall2, storage1, storage2, throughfall0, storage0, evaporation0;
  double transpiration0_after;
};

void PrintTo(const layers_case& k, std::ostream* os) { *os << k.label; }

class TwoLayers : public Interception, public ::testing::WithParamInterface<layers_case> {};

TEST_P(TwoLayers, LowerLayerTakesTheThroughfallOfTheUpper) {
  const layers_case& k = GetParam();
  AddLayers({k.upper, k.lower});
  AddGrid("precipitation", 5.0);
  auto model = Build(Section(11));
  ASSERT_EQ(model->LayerCount(), 2);
  Step(*model);
  EXPECT_NEAR(At("throughfall1"), k.throughfall1, kTol);
  EXPECT_NEAR(At("throughfall2"), k.throughfall2, kTol);
  EXPECT_NEAR(At("interception_storage1"), k.storage1, kTol);
  EXPECT_NEAR(At("interception_storage2"), k.storage2, kTol);
  EXPECT_NEAR(At("throughfall0"), k.throughfall0, kTol);
  EXPECT_NEAR(At("interception_storage0"), k.storage0, kTol);
  EXPECT_NEAR(At("interception_evaporation0"), k.evaporation0, kTol);
  EXPECT_NEAR(At("pot_transpiration0"), k.transpiration0_after, kTol);
  EXPECT_NEAR(At("interception_evaporation1") + At("interception_evaporation2"), k.evaporation0, kTol);
}

constexpr double kAbsent = -9999.0;
INSTANTIATE_TEST_SUITE_P(
    Cases, TwoLayers,
    ::testing::Values(
        layers_case{"both present", {1.0, 4.0, 0.8}, {1.0, 2.0, 0.5}, 4.2, 3.8, 0.8, 0.4, 3.8, 1.2, 0.0, 0.0},
        layers_case{
            "upper absent", {kAbsent, 4.0, 0.8}, {1.0, 2.0, 0.5}, 5.0, 4.6, 0.0, 0.4, 4.6, 0.4, 0.0, 0.0},
        layers_case{
            "lower absent", {1.0, 4.0, 0.8}, {kAbsent, 2.0, 0.5}, 4.2, 4.2, 0.8, 0.0, 4.2, 0.8, 0.0, 0.0},
        // 0.5 and 0.2 mm evaporate and use up the total potential of 0.7.
        layers_case{"both evaporate",
                    {1.0, 4.0, 0.8, 0.5},
                    {1.0, 2.0, 0.5, 0.2},
                    4.2,
                    3.8,
                    0.3,
                    0.2,
                    3.8,
                    0.5,
                    0.7,
                    0.0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// ---------------------------------------------------------------- glacier, input water, names

TEST_F(Interception, GlacierisedShareThrowsItsInputOn) {
  struct Case {
    const char* grid;
    double share;
    double throughfall0, throughfall1, storage, evaporation;
  };
  const Case cases[] = {
      {"GlacierizedCells", 0.5, 4.6, 4.2, 0.8, 0.0},
      {"ice_firn", 1.0, 5.0, 0.0, 0.0, 0.0},
      // Just below 1 the cell keeps a canopy, as it keeps a soil and a cover.
      {"GlacierizedCells", 0.999995, 5.0 * 0.999995 + (1.0 - 0.999995) * 4.2, 4.2, 0.8, 0.0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.grid) + " " + std::to_string(k.share));
    for (int i = 3; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
    AddLayers({{1.0, 4.0, 0.8, 0.0, 0.0}});
    AddGrid("precipitation", 5.0);
    AddGrid(k.grid, k.share);
    auto model = Build(Section(11));
    Step(*model);
    EXPECT_NEAR(At("throughfall0"), k.throughfall0, kTol);
    EXPECT_NEAR(At("throughfall1"), k.throughfall1, kTol);
    EXPECT_NEAR(At("interception_storage0"), k.storage, kTol);
    EXPECT_NEAR(At("interception_evaporation0"), k.evaporation, kTol);
  }
}

TEST_F(Interception, EachMethodTakesItsInputWater) {
  struct Case {
    int method;
    bool snow_outflow;
    double throughfall;  // of a cell without canopy
  };
  const Case cases[] = {{1, true, 3.0}, {2, false, 5.0}, {11, true, 5.0}, {12, true, 5.0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.method);
    for (int i = 3; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
    AddLayers({{kAbsent}});
    AddGrid("precipitation", 5.0);
    if (k.snow_outflow) AddGrid("snowcover_outflow", 3.0);
    auto model = Build(Section(k.method));
    Step(*model);
    EXPECT_NEAR(At("throughfall0"), k.throughfall, kTol);
  }
}

TEST_F(Interception, GridsStatisticsAndFilesOfEachLayer) {
  AddLayers({{1.0, 4.0, 0.8}, {1.0, 2.0, 0.5}});
  AddGrid("precipitation", 5.0);
  auto model = Build(Section(11, 1.0, 0, 1001));
  // Three consecutive entries per layer: storage, evaporation, throughfall.
  const int first = Find("interception_storage0");
  ASSERT_GT(first, 0);
  const char* names[] = {"interception_storage", "interception_evaporation", "throughfall"};
  const char* files[] = {"si", "ei", "tf"};
  for (int l = 0; l <= 2; ++l) {
    for (int k = 0; k < 3; ++k) {
      const grid_entry& entry = grids_[first + 3 * l + k];
      EXPECT_EQ(entry.name, names[k] + std::to_string(l));
      const std::string layer = l == 0 ? "" : "_Layer_" + std::to_string(l);
      EXPECT_EQ(entry.file_name, files[k] + layer + ".asc");
    }
  }
  Step(*model);
  model->FlushBuffers();
  const std::string table = test::ReadFile(dir_ / "tf_Layer_2.sta");
  EXPECT_THAT(table, HasSubstr("throughfall_in_mm_layer_2__submodel:interception_model\n"));
  EXPECT_THAT(table, HasSubstr("\t3.80000\n"));
  EXPECT_THAT(test::ReadFile(dir_ / "si.sta"), HasSubstr("\t1.20000\n"));
  EXPECT_THAT(test::ReadFile(dir_ / "ei_Layer_1.sta"), HasSubstr("interception_evaporation_in_mm_layer_1_"));

  model->CleanUp();
  EXPECT_EQ(Find("throughfall0"), 0);
  EXPECT_THAT(console_.str(), HasSubstr("deleting module interception_model"));
}

TEST_F(Interception, TotalsTablesOfOneLayerShowItsRows) {
  // One layer: the totals' tables show the layer's rows, also with a
  // glacierised share (it adds nothing to the tables of either).
  const auto rows = [&](const std::string& file) {
    const std::string text = test::ReadFile(dir_ / file);
    std::size_t at = 0;
    for (int line = 0; line < 3 && at != std::string::npos; ++line) at = text.find('\n', at) + 1;
    return text.substr(at);
  };
  for (const double share : {0.0, 0.5}) {
    SCOPED_TRACE(share);
    for (int i = 3; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
    AddLayers({{1.0, 4.0, 0.8, 0.3, 0.3}});
    AddGrid("precipitation", 0.0);
    if (share > 0.0) AddGrid("GlacierizedCells", share);
    auto model = Build(Section(11, 1.0, 0, 1001));
    double** precipitation = Data("precipitation");
    for (int step = 0; step < 3; ++step) {
      for (int r = 1; r <= kRows; ++r)
        for (int c = 1; c <= kCols; ++c) precipitation[r][c] = (step == 1 ? 0.0 : 1.0) * (r + 2 * c);
      Step(*model, step);
    }
    model->FlushBuffers();
    EXPECT_EQ(rows("si.sta"), rows("si_Layer_1.sta"));
    EXPECT_EQ(rows("ei.sta"), rows("ei_Layer_1.sta"));
    EXPECT_EQ(rows("tf.sta"), rows("tf_Layer_1.sta"));
    // Each table takes its own grid's sums.
    EXPECT_NE(rows("si.sta"), rows("ei.sta"));
    EXPECT_NE(rows("ei.sta"), rows("tf.sta"));
    EXPECT_NE(rows("si.sta"), rows("tf.sta"));
    model->CleanUp();
  }
}

TEST_F(Interception, StoresStartFromTheirGridFiles) {
  settings_.InitialStateDirectory = &output_directory_;
  const std::string grid =
      "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nNODATA_value -9999\n"
      "0.5 0.5 -9999 0.5\n0.5 0.5 0.5 0.5\n-9999 0.5 0.5 0.5\n";
  test::WriteFile(dir_ / "si.asc", grid);
  test::WriteFile(dir_ / "si_Layer_1.asc", grid);
  AddLayers({{1.0, 4.0, 0.8, 0.2}});
  AddGrid("precipitation", 0.0);
  auto model = Build(Section(11, 1.0, 1));
  EXPECT_EQ(At("interception_storage1"), 0.5);
  EXPECT_EQ(At("interception_storage1", 1, 3), 0.0);  // a hole inside the catchment
  EXPECT_EQ(At("interception_storage1", kRows, 1), kNodata);
  Step(*model);
  EXPECT_NEAR(At("interception_storage1"), 0.3, kTol);
  // A model that goes without its clean-up takes its grids out of the table.
  model.reset();
  EXPECT_EQ(Find("interception_storage1"), 0);
}

// ---------------------------------------------------------------- water balance

TEST_F(Interception, WaterBalanceOfOneLayer) {
  AddLayers({{1.0, 3.0, 0.7}});
  AddGrid("precipitation", 0.0);
  double** glacier = AddGrid("GlacierizedCells", 0.0);
  glacier[1][2] = 0.3;
  glacier[1][3] = 1.0;
  auto model = Build(Section(11));
  ExpectBalanceOverSteps(*model, 1);
}

TEST_F(Interception, WaterBalanceOfThreeLayers) {
  AddLayers({{1.0, 3.0, 0.7}, {kAbsent}, {2.0, 1.5, 0.4}});
  AddGrid("precipitation", 0.0);
  double** glacier = AddGrid("GlacierizedCells", 0.0);
  glacier[1][2] = 0.3;
  glacier[1][3] = 1.0;
  auto model = Build(Section(12, 0.3));
  ExpectBalanceOverSteps(*model, 3);
}

// The glacier shares change between steps as the yearly glacier evaluation
// changes them, also with full stores: a share that appears, widens,
// narrows, covers the cell (its canopy water leaves with the throughfall)
// and leaves it.
TEST_F(Interception, WaterBalanceAcrossChangingGlacierShares) {
  const share_steps shares = {{{0.0, 0.3, 1.0, 0.0},
                               {0.0, 0.3, 1.0, 0.0},
                               {0.4, 0.6, 1.0, 0.0},
                               {0.4, 0.6, 1.0, 0.0},
                               {0.1, 1.0, 0.2, 0.5},
                               {0.1, 0.0, 0.2, 0.5}}};
  for (int layers : {1, 3}) {
    SCOPED_TRACE(std::to_string(layers) + " layers");
    for (int i = 3; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
    if (layers == 1) {
      AddLayers({{1.0, 3.0, 0.7}});
    } else {
      AddLayers({{1.0, 3.0, 0.7}, {kAbsent}, {2.0, 1.5, 0.4}});
    }
    AddGrid("precipitation", 0.0);
    double** glacier = AddGrid("GlacierizedCells", 0.0);
    for (int c = 1; c <= kCols; ++c) glacier[1][c] = shares[0][static_cast<size_t>(c - 1)];
    auto model = Build(Section(layers == 1 ? 11 : 12, 0.3));
    ExpectBalanceOverSteps(*model, layers, &shares);
    // The cell the ice covered in the fifth step had a full canopy.
    EXPECT_GT(Data("throughfall0")[1][2], 0.0);
  }
}

// ---------------------------------------------------------------- tracers

class InterceptionTracers : public Interception {
 protected:
  static tracer_description Tracer(const char* name, int evaporating, int radioactive,
                                   double half_time_days) {
    tracer_description d;
    d.name = name;
    d.evaporating = evaporating;
    d.radioactive = radioactive;
    d.half_time = half_time_days;
    d.max_conc = 100.0;
    d.statext = "sta";
    d.gridext = "asc";
    return d;
  }
  // Evaporating at 2, carried as mass at 3, evaporating and halving each
  // hour at 4: the input concentrations.
  void SetUp() override {
    descriptions_ = {tracer_description{}, Tracer("eva", 1, 0, kNoHalfTime), Tracer("mas", 0, 0, kNoHalfTime),
                     Tracer("dec", 1, 1, 1.0 / 24.0)};
    AddLayers({{1.0, 4.0, 0.8}});
    AddGrid("precipitation", 5.0);
    double** glacier = AddGrid("GlacierizedCells", 0.0);
    glacier[1][2] = 0.5;
    glacier[1][3] = 1.0;
  }
  void AddInputConcentrations() {
    AddGrid("concflux_tracer_1_snow_model", 2.0);
    AddGrid("concflux_tracer_2_irrigation", 3.0);
    AddGrid("concflux_tracer_3_input", 4.0);
  }
  double Stored(int tracer, int c) {
    return Data("concstor_tracer_" + std::to_string(tracer) + "_interception_model")[1][c];
  }
  double Flux(int tracer, int c) {
    return Data("concflux_tracer_" + std::to_string(tracer) + "_interception_model")[1][c];
  }

  std::vector<tracer_description> descriptions_;
};

TEST_F(InterceptionTracers, WithoutInputConcentrationGrid) {
  AddGrid("concflux_tracer_1_input", 2.0);
  auto model = Build(Section(11));
  int error = 0;
  model->SetUpTracers(error, 3, &descriptions_);
  EXPECT_EQ(error, kMissingGridCode);
  EXPECT_THAT(console_.str(), HasSubstr("concflux_tracer_2_"));
}

TEST_F(InterceptionTracers, EvaporationMassAndDecay) {
  AddInputConcentrations();
  auto model = Build(Section(11));
  int error = 0;
  model->SetUpTracers(error, 3, &descriptions_);
  ASSERT_EQ(error, 0);
  const double decay = model->tracer_storages[3].decay_factor;
  EXPECT_NEAR(decay, 0.5, 1e-9);

  // Rain, then dry steps in which the store evaporates or just waits.
  struct weather {
    double input, transpiration;
  };
  const weather steps[] = {{5.0, 0.3}, {0.2, 0.1}, {3.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
  double mass_before[kCols + 1] = {};
  double previous_decaying = 0.0;
  for (int s = 0; s < 5; ++s) {
    SCOPED_TRACE("step " + std::to_string(s));
    Set("precipitation", steps[s].input);
    Set("pot_transpiration1", steps[s].transpiration);
    Step(*model, s);
    for (int c = 1; c <= kCols; ++c) {
      const double w = CellGlacierShare(Data("GlacierizedCells")[1][c]);
      const double throughfall = At("throughfall0", 1, c);
      // The evaporating tracer leaves in the throughfall as it came.
      if (throughfall > 0.0) {
        EXPECT_NEAR(Flux(1, c), 2.0, kTol) << c;
      }
      // The other keeps its mass: input = throughfall + change of the store.
      EXPECT_NEAR(3.0 * steps[s].input,
                  Flux(2, c) * throughfall + (1.0 - w) * (Stored(2, c) - mass_before[c]), 1e-12)
          << c;
      mass_before[c] = Stored(2, c);
    }
    // A cell under ice passes the input on as it came.
    if (steps[s].input > 0.0) {
      EXPECT_NEAR(Flux(2, 3), 3.0, kTol);
    }
    // Without input the decaying tracer's store falls by its factor (a half) each step.
    if (steps[s].input == 0.0) {
      EXPECT_NEAR(Stored(3, 1), decay * previous_decaying, kTol);
    }
    previous_decaying = Stored(3, 1);
  }
  EXPECT_GT(previous_decaying, 0.0);
  model->FreeTracers();
  EXPECT_EQ(Find("concstor_tracer_1_interception_model"), 0);
}

}  // namespace
}  // namespace velmo
