// The parts of a pass of the time loop report their ends in pass order, each
// once per pass (the per-variable parts once per interpolator), so that a
// clock on the hook accounts for the whole pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/modappli.h"
#include "support/dated_run.h"
#include "support/test_support.h"

namespace velmo {
namespace {

TEST(PassPhases, EveryPartOfAPassReportsItsEndOnceInPassOrder) {
  test::TempDir dir;
  for (const char* file : {"run.ctl", "zones.asc", "dem.asc"})
    std::filesystem::copy_file(std::string(VELMO_TEST_DATA "/e2e/") + file, dir / file);
  std::vector<std::pair<pass_phase, int>> reported;
  std::string transcript;
  const int status =
      test::RunWithSteps(dir, "run.ctl", test::DailySteps(2), transcript, [&](ModellApplication& app) {
        app.phase_done = [&](pass_phase phase, int index) { reported.emplace_back(phase, index); };
      });
  ASSERT_EQ(status, 0) << transcript;

  // The control file has no interpolator; the fake one is the first.
  using p = pass_phase;
  const std::vector<std::pair<pass_phase, int>> pass = {{p::kStationRegressionAndCorrection, 0},
                                                        {p::kInterpolation, 1},
                                                        {p::kSuperpositionAndGridCorrection, 0},
                                                        {p::kSetupUpdate, 0},
                                                        {p::kAssimilation, 0},
                                                        {p::kInterpolatorOutput, 1},
                                                        {p::kSuperpositionOutput, 0},
                                                        {p::kRadiationCorrection, 0},
                                                        {p::kPotentialEvapotranspiration, 0},
                                                        {p::kSnowEvaporation, 0},
                                                        {p::kSnow, 0},
                                                        {p::kInterception, 0},
                                                        {p::kSoil, 0},
                                                        {p::kRealEvapotranspiration, 0},
                                                        {p::kRouting, 0},
                                                        {p::kSetupOutput, 0},
                                                        {p::kSpecialOutput, 0},
                                                        {p::kNextRecord, 1}};
  std::vector<std::pair<pass_phase, int>> two_passes = pass;
  two_passes.insert(two_passes.end(), pass.begin(), pass.end());
  EXPECT_EQ(reported, two_passes);
}

}  // namespace
}  // namespace velmo
