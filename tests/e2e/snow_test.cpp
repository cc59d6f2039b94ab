// The real program with the snow model: the example's month of snow, a winter of daily steps (night and day
// parts) whose snow cover grows and melts with every drop of water accounted for, a winter of hourly steps
// under a snow canopy with the energy balance, and a control file without a snow section.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/control_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;

constexpr double kNodata = -9999.0;

// The cells of a binary double grid (rows from the north, 12 header values).
std::vector<double> DoubleGrid(const std::string& path) {
  const std::string bytes = ReadFile(path);
  std::vector<double> values(bytes.size() / sizeof(double));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
  return values.size() > 12 ? std::vector<double>(values.begin() + 12, values.end()) : std::vector<double>{};
}

// A copy of the example, run on "example.ctl".
class SnowExample : public ControlRunTest {
 protected:
  SnowExample() : ControlRunTest("", "example.ctl") {}
};

TEST_F(SnowExample, SnowBuildsUpOnTheHeightsAndAllWaterIsAccountedFor) {
  Edit("WriteAsciiGrids = 1", "WriteDoubleGrids = 1");
  Edit("esnow.asc       snow evaporation (with a snow model)\n0", "esnow.asc\n10");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  EXPECT_THAT(Transcript(), HasSubstr("deleting module snow_model"));
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_EQ(diag.find("level=\"1\""), std::string::npos);

  // Every cell, over the month: what fell is in the cover, has flowed out of
  // it or has evaporated from it.
  const std::vector<double> precipitation = DoubleGrid(dir / "precipitation.sum");
  const std::vector<double> outflow = DoubleGrid(dir / "snowoutflow.sum");
  const std::vector<double> evaporation = DoubleGrid(dir / "esnow.sum");
  const std::vector<double> cover = DoubleGrid(dir / "snowtotal.asc");
  ASSERT_EQ(cover.size(), 300u);
  ASSERT_EQ(precipitation.size(), 300u);
  ASSERT_EQ(outflow.size(), 300u);
  ASSERT_EQ(evaporation.size(), 300u);
  int valid = 0;
  for (std::size_t i = 0; i < cover.size(); ++i) {
    if (cover[i] == kNodata) continue;
    ++valid;
    EXPECT_NEAR(cover[i] + outflow[i] + evaporation[i], precipitation[i], 1e-11) << i;
  }
  EXPECT_GT(*std::max_element(evaporation.begin(), evaporation.end()), 0.0);
  EXPECT_EQ(valid, 208);
  // The head of the valley (row 2) keeps snow at the end of March; the
  // valley floor near the outlet (row 14) has lost its cover.
  EXPECT_GT(cover[1 * 20 + 4], 50.0);
  EXPECT_EQ(cover[13 * 20 + 9], 0.0);
  EXPECT_GT(outflow[13 * 20 + 9], 100.0);
  EXPECT_EQ(TableValues(dir / "snowstorage.stat").size(), 744u);
}

// A winter of daily steps from 1 November to 30 April at the example's three
// stations: cold spells with snow, a thaw in January, a warm spring.
struct winter_day {
  int year, month, day;
  double valley, night, precipitation;
};
std::vector<winter_day> Winter() {
  std::vector<winter_day> days;
  const int lengths[] = {30, 31, 31, 29, 31, 30};  // November .. April, 2000 a leap year
  const int months[] = {11, 12, 1, 2, 3, 4};
  int n = 0;
  for (int m = 0; m < 6; ++m) {
    for (int d = 1; d <= lengths[m]; ++d, ++n) {
      const double season = 4.0 - 9.0 * std::sin(M_PI * n / 150.0) + (n > 150 ? 0.25 * (n - 150) : 0.0);
      const double thaw = (n >= 75 && n < 80) ? 7.0 : 0.0;
      const double valley = season + thaw + 1.5 * std::sin(n * 1.7);
      const double precipitation = n % 4 == 0 ? 6.0 + (n % 3) : (n % 7 == 0 ? 2.0 : 0.0);
      days.push_back({months[m] > 10 ? 1999 : 2000, months[m], d, valley, valley - 6.0, precipitation});
    }
  }
  return days;
}

std::string StationFile(const std::string& title, const std::vector<winter_day>& days, int what) {
  std::string text = title +
                     "\nYYYY\tMM\tDD\tHH\t1450\t1350\t850\nYYYY\tMM\tDD\tHH\t680250\t682750\t681250\n"
                     "YYYY\tMM\tDD\tHH\t242250\t241750\t240250\nYYYY\tMM\tDD\tHH\tAlp\tRidge\tValley\n";
  char line[200];
  for (const winter_day& d : days) {
    const double t = what == 1 ? d.valley : d.night;
    if (what == 0)
      std::snprintf(line, sizeof line, "%d\t%d\t%d\t24\t%.1f\t%.1f\t%.1f\n", d.year, d.month, d.day,
                    d.precipitation * 1.4, d.precipitation * 1.2, d.precipitation);
    else
      std::snprintf(line, sizeof line, "%d\t%d\t%d\t24\t%.2f\t%.2f\t%.2f\n", d.year, d.month, d.day, t - 4.0,
                    t - 3.5, t);
    text += line;
  }
  return text;
}

TEST(SnowWinter, DailyStepsBuildAndMeltACoverAndKeepTheWater) {
  TempDir dir;
  CopyTestData(dir, "snow", {"winter.ctl", "zones.asc", "dem.asc"});
  const std::vector<winter_day> days = Winter();
  WriteFile(dir / "precipitation.txt", StationFile("precipitation (mm per day)", days, 0));
  WriteFile(dir / "temperature.txt", StationFile("daily mean temperature", days, 1));
  WriteFile(dir / "night.txt", StationFile("night temperature", days, 2));
  ASSERT_EQ(RunVelmo(dir.path().string(), "winter.ctl", dir / "out.txt"), 0) << ReadFile(dir / "out.txt");
  const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_EQ(diag.find("level=\"1\""), std::string::npos);

  // Every cell: what fell over the winter is in the cover or has flowed out.
  const std::vector<double> precipitation = DoubleGrid(dir / "precipitation.sum");
  const std::vector<double> outflow = DoubleGrid(dir / "snowoutflow.sum");
  const std::vector<double> cover = DoubleGrid(dir / "snowtotal.asc");
  ASSERT_EQ(cover.size(), 12u);
  for (std::size_t i = 0; i < cover.size(); ++i) {
    if (cover[i] == kNodata) continue;
    EXPECT_GT(precipitation[i], 200.0) << i;
    EXPECT_NEAR(cover[i] + outflow[i], precipitation[i], 1e-10) << i;
  }

  // One row a day: the cover of both subbasins grows into the winter and is
  // gone by the end of April.
  const std::vector<std::vector<double>> storage = TableValues(dir / "snowstorage.stat");
  ASSERT_EQ(storage.size(), days.size());
  double peak = 0.0;
  for (const auto& row : storage) peak = std::max(peak, row.back());
  EXPECT_GT(peak, 50.0);
  EXPECT_LT(storage.back().back(), 1e-9);
  EXPECT_GT(storage[120].front(), storage[20].front());
}

// A winter of hourly steps from 1 December to 31 March at the three stations:
// snow every fifth day, a cold January, a warm and saturated last day.
std::string HourlyStationFile(const std::string& title, int what) {
  std::string text = title +
                     "\nYYYY\tMM\tDD\tHH\t1450\t1350\t850\nYYYY\tMM\tDD\tHH\t680250\t682750\t681250\n"
                     "YYYY\tMM\tDD\tHH\t242250\t241750\t240250\nYYYY\tMM\tDD\tHH\tAlp\tRidge\tValley\n";
  const int lengths[] = {31, 31, 29, 31};  // December .. March, 2000 a leap year
  const int months[] = {12, 1, 2, 3};
  const int days = 31 + 31 + 29 + 31;
  char line[200];
  int n = 0;
  for (int m = 0; m < 4; ++m) {
    for (int d = 1; d <= lengths[m]; ++d) {
      for (int h = 1; h <= 24; ++h, ++n) {
        const double day = n / 24.0;
        const bool last = day >= days - 1;
        const double diurnal = 3.0 * std::sin(2.0 * M_PI * (h - 9) / 24.0);
        const double t =
            last ? 9.0 + diurnal
                 : -3.0 - 5.0 * std::sin(M_PI * day / 90.0) + (day > 90 ? 0.12 * (day - 90) : 0.0) + diurnal;
        double p = ((n / 24) % 5 == 0 && h >= 6 && h <= 15 ? 1.5 : 0.0) + (n % 37 == 0 ? 0.4 : 0.0);
        double humidity = 0.75 + 0.2 * std::sin(n / 13.0);
        if (last) {
          p = 0.0;
          humidity = 1.0;
        }
        const double wind = 2.5 + 2.0 * std::sin(n / 29.0);
        const double sun = h > 8 && h < 17
                               ? std::max(0.0, std::sin(M_PI * (h - 8) / 9.0)) * (150.0 + 250.0 * day / 120.0)
                               : 0.0;
        const int year = months[m] == 12 ? 1999 : 2000;
        // Alp, Ridge and Valley of each variable.
        const double stations[5][3] = {{p * 1.3, p * 1.2, p},
                                       {t - 4.0, t - 3.5, t},
                                       {humidity, humidity, humidity},
                                       {wind + 1.0, wind + 0.5, wind},
                                       {sun * 1.1, sun, sun * 0.9}};
        const double* values = stations[what];
        std::snprintf(line, sizeof line, "%d\t%d\t%d\t%d\t%.3f\t%.3f\t%.3f\n", year, months[m], d, h,
                      values[0], values[1], values[2]);
        text += line;
      }
    }
  }
  return text;
}

TEST(SnowWinter, UnderASnowCanopyTheEnergyBalanceKeepsTheWater) {
  TempDir dir;
  CopyTestData(dir, "snow", {"canopy_winter.ctl", "zones.asc", "dem.asc"});
  const char* variables[] = {"precipitation", "temperature", "air_humidity", "wind_speed",
                             "global_radiation"};
  for (int k = 0; k < 5; ++k)
    WriteFile(dir / (std::string(variables[k]) + ".txt"), HourlyStationFile(variables[k], k));
  ASSERT_EQ(RunVelmo(dir.path().string(), "canopy_winter.ctl", dir / "out.txt"), 0)
      << ReadFile(dir / "out.txt");
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  const std::string diag = ReadFile(dir / "Velmo_Diag.xml");
  EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  EXPECT_EQ(diag.find("level=\"1\""), std::string::npos);

  // Every cell: what fell is in the snow cover, in the canopy's snow or
  // store, has flowed out of the cover, has sublimated from the canopy, or
  // has evaporated (the real evapotranspiration over a dry soil: the
  // interception evaporation and the sublimation of the cover).
  const std::vector<double> precipitation = DoubleGrid(dir / "precipitation.sum");
  const std::vector<double> cover = DoubleGrid(dir / "snowtotal.asc");
  const std::vector<double> load = DoubleGrid(dir / "scn_load.asc");
  const std::vector<double> store = DoubleGrid(dir / "si.asc");
  const std::vector<double> sublimation = DoubleGrid(dir / "scn_sublim.sum");
  const std::vector<double> outflow = DoubleGrid(dir / "snowoutflow.sum");
  const std::vector<double> evaporation = DoubleGrid(dir / "etr.sum");
  ASSERT_EQ(cover.size(), 12u);
  for (const auto* grid : {&precipitation, &load, &store, &sublimation, &outflow, &evaporation})
    ASSERT_EQ(grid->size(), 12u);
  double canopy_sublimation = 0.0;
  double outflows = 0.0;
  for (std::size_t i = 0; i < cover.size(); ++i) {
    if (cover[i] == kNodata) continue;
    EXPECT_GT(precipitation[i], 300.0) << i;
    EXPECT_NEAR(precipitation[i],
                cover[i] + load[i] + store[i] + sublimation[i] + outflow[i] + evaporation[i], 1e-10)
        << i;
    canopy_sublimation += sublimation[i];
    outflows += outflow[i];
  }
  EXPECT_GT(canopy_sublimation, 100.0);
  EXPECT_GT(outflows, 100.0);

  // The pack is never warmer than melting snow; the canopy temperatures and
  // the daily tables of both modules are written.
  for (double t : DoubleGrid(dir / "snowtemp.asc"))
    EXPECT_TRUE(t == kNodata || (t > 200.0 && t <= 273.16)) << t;
  for (double t : DoubleGrid(dir / "ceb_temperature.asc")) EXPECT_TRUE(t == kNodata || t > 240.0) << t;
  for (const char* table : {"snowtemp.stat", "surftemp.stat", "scn_load.stat", "scn_sublim.stat",
                            "scn_temperature.stat", "ceb_temperature.stat"})
    EXPECT_EQ(TableValues(dir / table).size(), 122u) << table;
  EXPECT_THAT(ReadFile(dir / "scn_load.stat"), HasSubstr("SCN_LOAD_in_mm_submodel:interception_model"));
}

// A monthly line holds one value for the whole year or twelve: a month left
// out is never taken as one value for all months.
TEST_F(SnowExample, MonthlyLineWithAMonthLeftOut) {
  Edit("1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0 1.6 ", "1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0 ");
  EXPECT_EQ(Velmo(), 17);
  EXPECT_THAT(Transcript(),
              HasSubstr("error in control file, DDF (a line of 12 monthly values) for [snow_model]: "
                        "the line \"1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0     DDF"));
  EXPECT_THAT(Transcript(), HasSubstr("holds one value for every month or twelve, one per month, not 11"));
}

TEST_F(SnowExample, AControlFileWithoutSnowSectionEndsWith17) {
  Edit("[snow_model]", "[snow_model_off]");
  EXPECT_EQ(Velmo(), 17);
  EXPECT_THAT(Transcript(), HasSubstr("error in control file, [snow_model]; (EOF)not found!"));
}

}  // namespace
}  // namespace velmo::test
