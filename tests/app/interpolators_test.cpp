// The application builds an interpolator for every variable of
// "[meteo_names]" and keeps the interpolator itself reachable through its
// slot, as the precipitation correction needs.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "meteo/meteoint.h"
#include "support/test_support.h"

namespace velmo {
namespace {

TEST(Interpolators, BuiltInListOrderAndReachable) {
  test::TempDir dir;
  for (const auto& file : std::filesystem::directory_iterator(VELMO_TEST_DATA "/meteo"))
    std::filesystem::copy_file(file.path(), dir / file.path().filename().string());
  // The control file names its files relative to the working directory.
  const test::WorkingDirectory in_dir(dir.path());
  std::ostringstream console;
  {
    MessageStream messages(dir / "diag.xml", kDebug, console);
    std::string control = "meteo.ctl";
    char* argv[] = {control.data()};
    ModellApplication application(&messages, 1, argv, 0);
    ASSERT_EQ(application.interpolators.size(), 3u);
    meteointerpol* rain = application.interpolators[1]->Interpolator();
    meteointerpol* temperature = application.interpolators[2]->Interpolator();
    ASSERT_TRUE(rain && temperature);
    EXPECT_EQ(rain->GetMethod(), kIdwMethod);
    EXPECT_EQ(temperature->GetMethod(), kLapseRateMethod);
    EXPECT_EQ(rain->GetStationCount(), 3);
    EXPECT_EQ(application.interpolators[1]->InterpolationMethod(), kIdwMethod);
    EXPECT_EQ((*application.grids)[rain->ResultEntry()].name, "rain");
    EXPECT_EQ(rain->ready, 1);
    EXPECT_EQ(application.run(), 0);
    application.ClearMemory();
  }
}

}  // namespace
}  // namespace velmo
