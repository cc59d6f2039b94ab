// The radiation correction module on a small domain: section, grids, the
// factor of flat, sloped, shaded and night cells, the recompute interval and
// the night temperature.
#include "landsurface/expokorr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "surface_domain.h"

namespace velmo {
namespace {

struct section_values {
  int flow_control = 1;
  int interval = 60;
  int method = 2;
  int temperature_write = 0;
  double scaling = 1.0;
  int correction_write = 0;
  int shadow_write = 0;
  int recompute = 1;
  int sub_steps = 1;
};

std::string Section(const section_values& v) {
  std::ostringstream text;
  text << "[radiation_correction]\n"
       << v.flow_control << "   flow control\n"
       << v.interval << "   minutes\n"
       << v.method << "   method\n"
       << "tkorr.asc   corrected temperature\n"
       << v.temperature_write << "\n"
       << v.scaling << "   scaling\n"
       << "exkorr.asc   factor\n"
       << v.correction_write << "\n"
       << "shadow.asc\n"
       << v.shadow_write << "\n"
       << v.recompute << "   recompute every n steps\n"
       << v.sub_steps << "   sub-steps\n";
  return text.str();
}

class RadiationCorrection : public test::SurfaceDomain {
 protected:
  RadiationCorrection() {
    aspect_ = AddGrid("slope_aspect", 0.0);
    slope_ = AddGrid("slope_angle", 0.0);
  }
  std::unique_ptr<expokorrklasse> Build(const section_values& v) { return Make<expokorrklasse>(Section(v)); }

  double** aspect_ = nullptr;
  double** slope_ = nullptr;
};

TEST_F(RadiationCorrection, MethodsAndGrids) {
  struct Case {
    int method;
    int runs_as;
    bool shadows;
    bool corrects;
  };
  const Case cases[] = {{1, 1, true, false}, {2, 2, true, true}, {3, 3, false, false},
                        {4, 4, false, true}, {0, 2, true, true}, {5, 2, true, true}};
  for (const Case& c : cases) {
    const radiation_correction_method m = RadiationCorrectionMethod(c.method);
    EXPECT_EQ(m.method, c.runs_as) << c.method;
    EXPECT_EQ(m.casts_shadows, c.shadows) << c.method;
    EXPECT_EQ(m.corrects_temperature, c.corrects) << c.method;
  }

  // Method 5 runs as 2; without a temperature grid there is no corrected
  // temperature and no night temperature.
  section_values v;
  v.method = 5;
  v.interval = 1440;
  {
    auto module = Build(v);
    EXPECT_EQ(module->parameters.method, 2);
    EXPECT_GT(Find("radiation_correction"), 0);
    EXPECT_EQ(Find("Shadow"), Find("radiation_correction") + 1);
    EXPECT_EQ(Find("Ieff_max"), Find("Shadow") + 1);
    EXPECT_EQ(Find("corr_temperature"), 0);
    EXPECT_EQ(Find("temperature_night"), 0);
    EXPECT_EQ(module->GetCorrectionGrid(), Data("radiation_correction"));
    module->CleanUp();
    EXPECT_EQ(Find("radiation_correction"), 0);
  }

  AddGrid("temperature", 5.0);
  struct Grids {
    int flow_control, method, interval;
    bool correction, corrected_temperature, night_temperature;
  };
  const Grids grids[] = {
      {1, 2, 1440, true, true, true},   {1, 4, 720, true, true, false},  {1, 3, 1440, true, false, true},
      {0, 2, 1440, false, false, true}, {0, 2, 60, false, false, false}, {2, 1, 60, true, false, false},
  };
  for (const Grids& g : grids) {
    SCOPED_TRACE(::testing::Message() << g.flow_control << " " << g.method << " " << g.interval);
    section_values s;
    s.flow_control = g.flow_control;
    s.method = g.method;
    s.interval = g.interval;
    auto module = Build(s);
    EXPECT_EQ(Find("radiation_correction") > 0, g.correction);
    EXPECT_EQ(Find("corr_temperature") > 0, g.corrected_temperature);
    EXPECT_EQ(Find("temperature_night") > 0, g.night_temperature);
    // Only a flow control parameter of exactly 1 hands the factor on.
    EXPECT_EQ(module->GetCorrectionGrid() != nullptr, g.flow_control == 1);
    module->CleanUp();
    EXPECT_EQ(Find("radiation_correction"), 0);
    EXPECT_EQ(Find("temperature_night"), 0);
  }
}

TEST_F(RadiationCorrection, CountsBelowOneAreTakenAsOne) {
  section_values v;
  v.recompute = 0;
  v.sub_steps = -2;
  auto module = Build(v);
  EXPECT_EQ(module->parameters.recompute_interval, 1);
  EXPECT_EQ(module->parameters.sub_steps, 1);
  EXPECT_NE(console_.str().find("number if timesteps for [radiation_correction] is 0, taken as 1"),
            std::string::npos);
  EXPECT_NE(console_.str().find("number of splittings for [radiation_correction] is -2, taken as 1"),
            std::string::npos);
}

TEST_F(RadiationCorrection, BadSectionAndMissingGridAreFatal) {
  const std::string bad = ExpectCode(17, [&] { Make<expokorrklasse>("[radiation_correction]\n1\n60\nx\n"); });
  EXPECT_NE(bad.find("methode of correction for [radiation_correction]"), std::string::npos) << bad;
  grids_[Find("slope_angle")].name = "no_slope";
  const std::string missing = ExpectCode(33, [&] { Build(section_values{}); });
  EXPECT_NE(missing.find("slope_angle not found in memory"), std::string::npos) << missing;
}

// One hourly sub-step at midday in January: a flat cell gets 1, a slope
// facing south more, one facing north less, and the corrected temperature
// follows ln(factor).
TEST_F(RadiationCorrection, FlatAndSlopedCellsAtMidday) {
  double** t = AddGrid("temperature", 2.0);
  slope_[1][2] = 30.0;
  aspect_[1][2] = 180.0;
  slope_[1][3] = 30.0;
  aspect_[1][3] = 0.0;
  auto module = Build(section_values{});
  module->RunTimeStep(0, 13, 15, 1, 2000);

  double** factor = Data("radiation_correction");
  double** sloped = Data("Ieff_max");
  double** corrected = Data("corr_temperature");
  EXPECT_GT(module->horizontal_radiation, 0.0);
  EXPECT_NEAR(factor[1][1], 1.0, 1e-12);
  EXPECT_GT(factor[1][2], 1.5);
  EXPECT_LT(factor[1][3], 0.2);
  EXPECT_NEAR(sloped[1][1], module->horizontal_radiation, 1e-9);
  EXPECT_NEAR(sloped[1][2], factor[1][2] * module->horizontal_radiation, 1e-9);
  EXPECT_NEAR(corrected[1][1], t[1][1], 1e-12);
  EXPECT_NEAR(corrected[1][2], 2.0 + std::log(factor[1][2]) * 0.5, 1e-12);
  // A factor of 0.2 or less cools by the fixed amount.
  EXPECT_NEAR(corrected[1][3], 2.0 - 1.6094 * 0.5, 1e-12);
  // The cell outside the catchment keeps nodata.
  EXPECT_EQ(factor[3][1], kNodata);
  EXPECT_EQ(corrected[3][1], kNodata);

  // Dull sunshine makes the south slope count like flat ground.
  double** sunshine = AddGrid("sunshine_duration", 0.05);
  auto dull = Build(section_values{});
  (void)sunshine;
  dull->RunTimeStep(0, 13, 15, 1, 2000);
  EXPECT_NEAR(dull->GetCorrectionGrid()[1][2], 1.0, 1e-12);
}

TEST_F(RadiationCorrection, NightThroughoutGivesZeroAndTheTemperature) {
  AddGrid("temperature", -3.0);
  section_values v;
  v.sub_steps = 4;
  auto module = Build(v);
  module->RunTimeStep(0, 2, 15, 1, 2000);
  EXPECT_EQ(module->horizontal_radiation, 0.0);
  EXPECT_EQ(Data("radiation_correction")[1][1], 0.0);
  EXPECT_EQ(Data("Ieff_max")[2][2], 0.0);
  EXPECT_EQ(Data("corr_temperature")[1][1], -3.0);
}

// Evening sun from the west-north-west: a north-south ridge shades the cells
// east of it, the cells west of it count as flat.
TEST_F(RadiationCorrection, RidgeShadesTheCellsBehindIt) {
  SetDomain(3, 7, 100.0);
  aspect_ = AddGrid("slope_aspect", 0.0);
  slope_ = AddGrid("slope_angle", 0.0);
  for (int r = 1; r <= 3; ++r) elevation_[r][3] = 100.0;
  section_values v;
  v.method = 1;
  auto module = Build(v);
  module->RunTimeStep(0, 19, 21, 6, 2000);
  double** factor = Data("radiation_correction");
  double** shadow = Data("Shadow");
  ASSERT_GT(module->horizontal_radiation, 0.0);
  for (int r = 1; r <= 3; ++r) {
    EXPECT_EQ(shadow[r][4], 1.0) << r;
    EXPECT_EQ(factor[r][4], 0.0) << r;
    EXPECT_EQ(shadow[r][2], 0.0) << r;
    EXPECT_NEAR(factor[r][2], 1.0, 1e-12) << r;
  }
  // Without shadows (method 3) the same cells see the sun.
  v.method = 3;
  auto flat = Build(v);
  flat->RunTimeStep(0, 19, 21, 6, 2000);
  EXPECT_NEAR(flat->GetCorrectionGrid()[2][4], 1.0, 1e-12);
}

// With n = 3 the factor is computed and written on steps 1, 4 and 7 only.
TEST_F(RadiationCorrection, RecomputesEveryNthStep) {
  section_values v;
  v.recompute = 3;
  v.correction_write = 1;
  auto module = Build(v);
  std::vector<int> written;
  for (int step = 1; step <= 7; ++step) {
    std::filesystem::remove(dir_ / "exkorr.asc");
    module->RunTimeStep(0, 9 + step, 15, 1, 2000);
    if (Exists("exkorr.asc")) written.push_back(step);
  }
  EXPECT_EQ(written, (std::vector<int>{1, 4, 7}));
}

// The night temperature of daily steps follows the temperature every step,
// also when the module is off.
TEST_F(RadiationCorrection, NightTemperatureOfDailySteps) {
  double** t = AddGrid("temperature", 4.0);
  section_values v;
  v.flow_control = 0;
  v.interval = 1440;
  auto module = Build(v);
  double** night = Data("temperature_night");
  ASSERT_NE(night, nullptr);
  EXPECT_EQ(night[1][1], 0.0);
  EXPECT_EQ(night[3][1], kNodata);
  t[1][1] = 7.5;
  module->RunTimeStep(0, 0, 2, 1, 2000);
  EXPECT_EQ(night[1][1], 7.5);
  EXPECT_EQ(night[2][2], 4.0);
  EXPECT_EQ(night[3][1], kNodata);
}

}  // namespace
}  // namespace velmo
