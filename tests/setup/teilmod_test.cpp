// The submodel base: section head, settings, solar geometry, progress line, subbasin ranking.
#include "setup/teilmod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <sstream>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr double kDeg = kPi / 180.0;

using test::Filled;
using test::MatrixOf;

class Submodel : public test::ModuleSettingsTest {
 protected:
  Submodel() {
    settings_.message_interval = 1;
    settings_.latitude = 47.0;
    settings_.longitude = 8.0;
    settings_.reference_meridian = 15.0;
    SetDomain(2, 3);
  }

  void SetDomain(int nrows, int ncols) {
    settings_.nrows = settings_.last_row = nrows;
    settings_.ncols = ncols;
    settings_.first_row = 1;
    settings_.nodata_value = -9999.0;
    settings_.cellsize = 100.0;
    ranges_.assign(static_cast<size_t>(nrows) + 1, row_range{1, ncols});
    settings_.row_ranges = ranges_.data();
  }

  std::unique_ptr<teilmodellklasse> Make(const std::string& control, const std::string& module = "snow_model",
                                         bool required = true) {
    WriteFile(settings_.control_file_name, control);
    return std::make_unique<teilmodellklasse>(&stream_, settings_, module, &grids_, required);
  }

  std::string Diagnostics() {
    stream_.Close();
    return ReadFile(dir_ / "diag.xml");
  }

  void Register(int index, const std::string& name, double** data, const std::string& file = "") {
    grids_[index].name = name;
    grids_[index].data = data;
    grids_[index].file_name = file;
  }
};

// ---------------------------------------------------------------- section head

TEST_F(Submodel, SectionHeadOfAModuleThatIsOn) {
  auto module =
      Make("[model_time]\n1\n2\n[snow_model] comment\n1 flow control\n60 minutes\n2.5 next value\n");
  EXPECT_EQ(module->GetFlowControlParameter(), 1);
  EXPECT_EQ(module->GetTimeInterval(), 60);
  EXPECT_EQ(module->time_step, 60);
  EXPECT_DOUBLE_EQ(module->steps_per_day, 24.0);
  EXPECT_EQ(module->GetModuleFlag(), 1);
  EXPECT_EQ(module->section_buffer, "[snow_model]");
  EXPECT_NE(console_.str().find("initializing module snow_model"), std::string::npos);
  // The file stays open after the head, ready for the module's own values.
  ASSERT_NE(module->control_file, nullptr);
  double next = 0.0;
  std::string rest;
  module->ReadValue(module->control_file, next, "next", rest);
  EXPECT_EQ(next, 2.5);
}

TEST_F(Submodel, SectionHeadTable) {
  struct Case {
    const char* control;
    double min_to_int_end;
    int code;              // 0: built
    int flow_control;      // when built
    double time_interval;  // when built
    const char* message;   // part of the console text when a code is expected
  };
  const Case cases[] = {
      {"[snow_model]\n0\n1440\n", 0.0, 0, 0, 1440.0, ""},
      {"[snow_model]\r\n1\r\n60\r\n", 60.0, 0, 1, 60.0, ""},
      {"[snow_model]\n1\n30\n", 60.0, 63, 0, 0.0,
       "the time step 30 minutes as given in the section for the module snow_model \n"
       "is shorter than the parameter min_to_int_end with 60 minutes\n"},
      // A module that is off may carry any interval; one that is on needs a positive one.
      {"[snow_model]\n0\n0\n", 0.0, 0, 0, 0.0, ""},
      {"[snow_model]\n1\n0\n", 0.0, 63, 0, 0.0, "time interval for [snow_model] must be a positive number"},
      {"[snow_model]\n1\nabc\n", 0.0, 17, 0, 0.0,
       "abc\nerror in control file, time interval for [snow_model]; snow_modelnot found!"},
      {"[snow_model]\nx\n60\n", 0.0, 17, 0, 0.0,
       "flow control parameter for [snow_model]; snow_modelnot found!"},
      {"[snow_model_x]\n1\n60\n", 0.0, 17, 0, 0.0, "[snow_model]; (EOF)not found!"},
      // Read whole: never a flow control of 1 from 1e309, nor an interval of 60 from 60x.
      {"[snow_model]\n1e309\n60\n", 0.0, 17, 0, 0.0,
       "flow control parameter for [snow_model]; snow_modelnot found! (\"1e309\" is no whole number)"},
      {"[snow_model]\n1\n60x\n", 0.0, 17, 0, 0.0,
       "time interval for [snow_model]; snow_modelnot found! (\"60x\" is no finite number)"},
      {"[snow_model]\n1\ninf\n", 0.0, 17, 0, 0.0, "(\"inf\" is no finite number)"},
      // Only listed flow controls; a module that is on steps whole minutes, at
      // most a year without a time step of the run. One that is off may carry
      // any finite interval.
      {"[snow_model]\n-1\n60\n", 0.0, 17, 0, 0.0,
       "the flow control parameter for [snow_model] must be 0 (off) or a positive whole number (on), not -1"},
      {"[snow_model]\n1\n60.5\n", 0.0, 63, 0, 0.0,
       "the time interval for [snow_model] must be a positive number of minutes, a whole one of a year at "
       "most (525600), not 60.5"},
      {"[snow_model]\n1\n6e7\n", 0.0, 63, 0, 0.0, "a year at most (525600), not 6e+07"},
      {"[snow_model]\n0\n1e12\n", 0.0, 0, 0, 1e12, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    settings_.min_to_int_end = c.min_to_int_end;
    if (c.code == 0) {
      auto module = Make(c.control);
      EXPECT_EQ(module->flow_control_parameter, c.flow_control);
      EXPECT_EQ(module->time_interval, c.time_interval);
      EXPECT_EQ(module->GetTimeInterval(), c.time_interval < 1e9 ? static_cast<int>(c.time_interval) : 0);
      EXPECT_DOUBLE_EQ(module->interval_end_shift, c.min_to_int_end / 60.0);
      // A module that is off has its file closed.
      EXPECT_EQ(module->control_file == nullptr, c.flow_control == 0);
    } else {
      const std::string text = ExpectCode(c.code, [&] { Make(c.control); });
      EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
  }
}

TEST_F(Submodel, UnreadableControlFileIsCode28) {
  settings_.control_file_name = dir_ / "absent.intern";
  const std::string text =
      ExpectCode(28, [&] { std::make_unique<teilmodellklasse>(&stream_, settings_, "snow_model", &grids_); });
  EXPECT_NE(text.find("error opening " + settings_.control_file_name), std::string::npos);
}

TEST_F(Submodel, MissingOptionalSectionSwitchesTheModuleOffWithoutFatalEntry) {
  auto module = Make("[snow_model]\n1\n60\n", "data_assimilation", false);
  EXPECT_EQ(module->GetFlowControlParameter(), 0);
  EXPECT_EQ(module->control_file, nullptr);
  const std::string diagnostics = Diagnostics();
  EXPECT_EQ(diagnostics.find("level=\"0\""), std::string::npos) << diagnostics;
  EXPECT_NE(diagnostics.find("level=\"3\" description= \"no section [data_assimilation]"), std::string::npos)
      << diagnostics;
  // A module that is off writes no progress lines and keeps its date.
  module->ReportProgress(0, 13, 12, 11, 2023);
  EXPECT_EQ(module->current_date.year, 0);
}

TEST_F(Submodel, CopiesTheSettings) {
  const owned_matrix zones = MatrixOf(Filled(2, 3, 1.0));
  const owned_matrix weights = MatrixOf(Filled(2, 3, 0.5));
  Register(1, "zone grid", zones.get());
  Register(2, "RelCellArea", weights.get());
  settings_.output_list_count = 2;
  settings_.output_list = {0, 11, 12};
  settings_.endminute = 30;
  settings_.endhour = 23;
  settings_.endday = 31;
  settings_.endmonth = 12;
  settings_.endyear = 2001;
  settings_.time_shift = 1.5;
  auto module = Make("[snow_model]\n1\n60\n");
  EXPECT_EQ(module->output_list, (std::vector<int>{2, 11, 12}));
  EXPECT_EQ(module->end_date_key, date_key(2001, 12, 31, 23, 30));
  EXPECT_EQ(module->zone_grid, zones.get());
  EXPECT_EQ(module->cell_weights, weights.get());
  EXPECT_EQ(module->row_ranges, ranges_.data());
  EXPECT_EQ(module->time_shift, 1.5);
  EXPECT_EQ(module->latitude, 47.0);
}

TEST_F(Submodel, ZoneIndexRowsGiveTheZoneOfEveryCellsRoundedCode) {
  // Codes 2 and 3 are zones 1 and 2; 4 and 5 have no zone; 7 is above the largest code.
  const owned_matrix zones = MatrixOf({{2.4, 3.0, -9999.0}, {7.0, 2.6, 4.0}});
  Register(1, "zone grid", zones.get());
  std::vector<int> code_map = {0, 0, 1, 2, 0, 0};
  settings_.zone_code_map = code_map.data();
  settings_.max_zone_code = 5;
  auto module = Make("[snow_model]\n1\n60\n");
  const int* first = module->ZoneIndexRow(1);
  const int* second = module->ZoneIndexRow(2);
  EXPECT_EQ(std::vector<int>(first + 1, first + 4), (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(std::vector<int>(second + 1, second + 4), (std::vector<int>{0, 2, 0}));
}

// ---------------------------------------------------------------- solar geometry

// Spencer's Fourier series (1971), independent of the model's formulas.
double SpencerAngle(int day_of_year) { return 2.0 * kPi / 365.0 * (day_of_year - 1); }
double SpencerDeclinationDegrees(int n) {
  const double g = SpencerAngle(n);
  return (0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) - 0.006758 * std::cos(2 * g) +
          0.000907 * std::sin(2 * g) - 0.002697 * std::cos(3 * g) + 0.00148 * std::sin(3 * g)) /
         kDeg;
}
double SpencerEquationOfTimeMinutes(int n) {
  const double g = SpencerAngle(n);
  return 229.18 * (0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) - 0.014615 * std::cos(2 * g) -
                   0.040849 * std::sin(2 * g));
}

TEST(SolarGeometry, DeclinationAndEquationOfTimeFollowTheAlmanacThroughTheYear) {
  // The cosine declination and the monthly table stay within these of Spencer's series.
  constexpr double kDeclinationTolerance = 1.5;  // degrees
  constexpr double kEotTolerance = 2.0;          // minutes
  for (int month = 1; month <= 12; ++month) {
    for (int day = 1; day <= kMonthLengths[static_cast<size_t>(month)]; ++day) {
      const int n = DayOfYear(day, month, kMonthLengths);
      EXPECT_NEAR(SolarDeclinationDegrees(n), SpencerDeclinationDegrees(n), kDeclinationTolerance)
          << day << "." << month;
      EXPECT_NEAR(EquationOfTimeHours(day, month, kMonthLengths) * 60.0, SpencerEquationOfTimeMinutes(n),
                  kEotTolerance)
          << day << "." << month;
    }
  }
  // The table's own points and the line between them.
  EXPECT_DOUBLE_EQ(EquationOfTimeHours(1, 1, kMonthLengths), -3.2 / 60.0);
  EXPECT_DOUBLE_EQ(EquationOfTimeHours(16, 1, kMonthLengths),
                   16.0 / 31 * (-3.2 / 60) + 15.0 / 31 * (-13.6 / 60));
  EXPECT_DOUBLE_EQ(EquationOfTimeHours(31, 12, kMonthLengths),
                   1.0 / 31 * (11.3 / 60) + 30.0 / 31 * (-3.2 / 60));
  EXPECT_EQ(DayOfYear(21, 6, kMonthLengths), 172);
  EXPECT_NEAR(SolarDeclinationDegrees(172), 23.4, 0.01);
  EXPECT_NEAR(SolarDeclinationDegrees(DayOfYear(21, 12, kMonthLengths)), -23.4, 0.01);
}

TEST_F(Submodel, SunriseAndSunsetMatchAnIndependentGeometricSunrise) {
  auto module = Make("[snow_model]\n1\n60\n");
  // Up to 47° the model's declination and equation of time keep the
  // geometric sunrise (sun centre on the horizon) within 8 minutes.
  constexpr double kTolerance = 8.0 / 60.0;  // hours
  for (double latitude : {-45.0, 0.0, 30.0, 47.0}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= kMonthLengths[static_cast<size_t>(month)]; day += 3) {
        const int n = DayOfYear(day, month, kMonthLengths);
        const double half_day =
            std::acos(-std::tan(latitude * kDeg) * std::tan(SpencerDeclinationDegrees(n) * kDeg)) / kDeg /
            15.0;
        const double noon = 12.0 + (15.0 - 8.0) / 15.0 - SpencerEquationOfTimeMinutes(n) / 60.0;
        double rise = 0.0, set = 0.0;
        module->SunriseSunset(day, month, latitude, 8.0, rise, set);
        EXPECT_NEAR(rise, noon - half_day, kTolerance) << latitude << " " << day << "." << month;
        EXPECT_NEAR(set, noon + half_day, kTolerance) << latitude << " " << day << "." << month;
      }
    }
  }
  // At the equator the day lasts 12 hours all year.
  double rise = 0.0, set = 0.0;
  module->SunriseSunset(21, 6, 0.0, 15.0, rise, set);
  EXPECT_DOUBLE_EQ(set - rise, 12.0);
}

TEST_F(Submodel, PolarDayIsFullDaylightAndPolarNightNone) {
  auto module = Make("[snow_model]\n1\n60\n");
  struct Case {
    double latitude;
    int day, month;
    double sunrise, sunset;
  };
  const Case cases[] = {{70.0, 21, 6, 0.0, 24.0},
                        {70.0, 21, 12, 24.0, 0.0},
                        {-70.0, 21, 6, 24.0, 0.0},
                        {-70.0, 21, 12, 0.0, 24.0}};
  for (const Case& c : cases) {
    double rise = -1.0, set = -1.0;
    module->SunriseSunset(c.day, c.month, c.latitude, 8.0, rise, set);
    EXPECT_EQ(rise, c.sunrise) << c.latitude << " " << c.month;
    EXPECT_EQ(set, c.sunset) << c.latitude << " " << c.month;
  }
}

// Smallest angle between two directions.
double AngleBetween(double a, double b) {
  const double d = std::fmod(std::fabs(a - b), 2.0 * kPi);
  return std::min(d, 2.0 * kPi - d);
}

TEST_F(Submodel, SunPositionMatchesTheSunVector) {
  auto module = Make("[snow_model]\n1\n60\n");
  struct Case {
    double latitude;
    int day, month;
    double hour;
  };
  const double longitude = 8.0;
  // At exact solar noon on 21 June the sun stands due north at -30° and 10°, due south at 47°.
  const double noon = 12.0 + (15.0 - longitude) / 15.0 - module->EquationOfTime(21, 6);
  const Case cases[] = {{47.0, 21, 6, 6.0},   {47.0, 21, 6, 9.5},   {47.0, 21, 6, 15.0}, {47.0, 21, 6, 20.0},
                        {47.0, 21, 12, 10.0}, {47.0, 21, 12, 23.0}, {-30.0, 3, 2, 7.0},  {-30.0, 21, 6, noon},
                        {10.0, 21, 6, noon},  {47.0, 21, 6, noon},  {60.0, 21, 3, 2.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.latitude << " " << c.day << "." << c.month << " " << c.hour);
    const double delta = module->SolarDeclination(c.day, c.month) * kDeg;
    const double solar_time = c.hour - (15.0 - longitude) / 15.0 + module->EquationOfTime(c.day, c.month);
    const double hour_angle = (solar_time - 12.0) * 15.0 * kDeg;  // positive in the afternoon
    const double phi = c.latitude * kDeg;
    const double east = -std::cos(delta) * std::sin(hour_angle);
    const double north =
        std::cos(phi) * std::sin(delta) - std::sin(phi) * std::cos(delta) * std::cos(hour_angle);
    const double up =
        std::sin(phi) * std::sin(delta) + std::cos(phi) * std::cos(delta) * std::cos(hour_angle);

    double azimuth = 0.0, elevation = 0.0;
    module->SunPosition(c.day, c.month, c.latitude, longitude, c.hour, azimuth, elevation);
    EXPECT_NEAR(elevation, std::asin(up), 1e-9);
    EXPECT_NEAR(AngleBetween(azimuth, std::atan2(east, north)), 0.0, 1e-6);
    EXPECT_GE(azimuth, 0.0);
    EXPECT_LE(azimuth, 2.0 * kPi);
    // SolarElevation gives the angle to the horizon on either side of it.
    EXPECT_NEAR(module->SolarElevation(c.day, c.month, c.latitude, longitude, c.hour),
                std::fabs(std::asin(up)) / kDeg, 1e-7);
  }
}

TEST_F(Submodel, DaylightFractionOfTheCurrentStep) {
  settings_.latitude = 70.0;
  auto module = Make("[snow_model]\n1\n1440\n");
  module->current_date = model_date{0, 24, 21, 6, 2023};
  module->DaylightFraction();
  EXPECT_EQ(module->day_fraction, 1.0);
  EXPECT_EQ(module->sunset, 24.0);
  module->current_date = model_date{0, 24, 21, 12, 2023};
  module->DaylightFraction();
  EXPECT_EQ(module->day_fraction, 0.0);
  EXPECT_EQ(module->is_night, 1);
  // Near the equinox a mid-latitude day is about half the step.
  module->latitude = 47.0;
  module->current_date = model_date{0, 24, 21, 3, 2023};
  module->DaylightFraction();
  EXPECT_NEAR(module->day_fraction, 0.5, 0.02);
  EXPECT_NEAR(module->night_before_sunrise, module->sunrise, 1e-12);
  // A daily record stamped 00:00 of the next day is the same day, not a night.
  const double day_fraction = module->day_fraction;
  module->current_date = model_date{0, 0, 22, 3, 2023};
  module->DaylightFraction();
  EXPECT_EQ(module->day_fraction, day_fraction);
  EXPECT_EQ(module->is_night, 0);
}

// ---------------------------------------------------------------- progress line

TEST(ProgressLine, WhenItIsDue) {
  struct Case {
    int message_interval;
    double time_interval, shift;
    int minute, hour;
    bool due;
  };
  const Case cases[] = {
      {0, 60.0, 0.0, 0, 24, false},   {-3, 1440.0, 0.0, 0, 24, false}, {1, 15.0, 0.0, 0, 0, true},
      {24, 1440.0, 0.0, 0, 24, true}, {24, 1440.0, 0.0, 0, 12, false}, {24, 1440.0, 24.0, 0, 0, true},
      {6, 60.0, 0.0, 0, 6, true},     {6, 60.0, 0.0, 0, 7, false},     {2, 15.0, 0.0, 0, 2, true},
      {2, 15.0, 0.0, 0, 0, false},    {2, 15.0, 0.0, 15, 2, false},    {2, 15.0, 0.25, 45, 1, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressLineDue(c.message_interval, c.time_interval, c.shift, c.minute, c.hour), c.due)
        << c.message_interval << " " << c.time_interval << " " << c.shift << " " << c.minute << " " << c.hour;
  }
}

TEST_F(Submodel, ProgressLines) {
  auto soil = Make("[soil_model]\n1\n60\n", "soil_model");
  console_.str("");
  soil->ReportProgress(0, 13, 12, 11, 2023);
  EXPECT_EQ(console_.str(), "          soil_model 12.11.2023 13. h (time of meteo data)\n");
  EXPECT_EQ(soil->current_date.day, 12);

  auto snow = Make("[snow_model]\n1\n15\n");
  console_.str("");
  snow->ReportProgress(30, 7, 1, 2, 2000, "snow", " extra");
  EXPECT_EQ(console_.str(), "                snow 1.2.2000 7:30 h (time of meteo data) extra\n");

  // An interval of 0 shows no lines but still follows the date.
  snow->SetMessageInterval(0);
  console_.str("");
  for (int hour = 0; hour <= 24; ++hour) snow->ReportProgress(0, hour, 2, 2, 2000);
  EXPECT_EQ(console_.str(), "");
  EXPECT_EQ(snow->current_date.hour, 24);
}

// ---------------------------------------------------------------- subbasin ranking

class SubbasinRanking : public Submodel {
 protected:
  // A zone grid in entry 1 and the subbasin grid in entry 2.
  std::unique_ptr<teilmodellklasse> WithSubbasins(const owned_matrix& subbasins,
                                                  const owned_matrix* weights = nullptr) {
    Register(1, "zone grid", subbasins.get());
    Register(2, "zonegrid_soilmodel", subbasins.get(), "sub.asc");
    if (weights) Register(3, "RelCellArea", weights->get());
    return Make("[soil_model]\n1\n60\n", "soil_model");
  }

  struct Result {
    double** data = nullptr;
    std::vector<zone_record> zones;
    std::vector<int> map;
    int count = 0, max_code = 0;
  };
  Result Rank(teilmodellklasse& module) {
    Result r;
    module.RankZoneGrid(r.data, r.zones, r.map, r.count, r.max_code);
    return r;
  }
};

TEST_F(SubbasinRanking, RanksCodesInAscendingOrder) {
  // Column 3 of row 2 lies outside the catchment.
  const owned_matrix grid = MatrixOf({{7, 3, 4.6}, {5, -9999.0, 3}});
  ranges_[2] = {1, 2};
  auto module = WithSubbasins(grid);
  console_.str("");
  const Result r = Rank(*module);
  EXPECT_EQ(console_.str(), "ranking zones from sub.asc for soil_model\n");
  EXPECT_EQ(r.data, grid.get());
  ASSERT_EQ(r.count, 3);
  EXPECT_EQ(r.max_code, 7);
  ASSERT_EQ(r.zones.size(), 4u);
  EXPECT_EQ(r.map, (std::vector<int>{0, 0, 0, 1, 0, 2, 0, 3}));
  // 4.6 counts as code 5 and keeps its value as the zone's code.
  const double codes[] = {1.0, 3.0, 4.6, 7.0};
  const double cells[] = {0.0, 1.0, 2.0, 1.0};
  for (int z = 0; z <= 3; ++z) {
    EXPECT_EQ(r.zones[z].code, codes[z]) << z;
    EXPECT_EQ(r.zones[z].value_sum, z == 0 ? 0.0 : cells[z]) << z;
    EXPECT_EQ(r.zones[z].weight_sum, r.zones[z].value_sum) << z;
    EXPECT_EQ(r.zones[z].mean_divisor, r.zones[z].value_sum) << z;
  }
  EXPECT_DOUBLE_EQ(r.zones[2].area_fraction, 0.5);
  EXPECT_DOUBLE_EQ(r.zones[0].area_fraction, 100.0 * 4 * 100.0 / 1e6);
}

TEST_F(SubbasinRanking, FractionalWeightsGiveFractionsSummingToOne) {
  const owned_matrix grid = MatrixOf({{1, 1, 1}, {2, 2, 2}});
  const owned_matrix weights = MatrixOf(Filled(2, 3, 0.5));
  auto module = WithSubbasins(grid, &weights);
  const Result r = Rank(*module);
  ASSERT_EQ(r.count, 2);
  EXPECT_DOUBLE_EQ(r.zones[1].weight_sum, 1.5);
  EXPECT_DOUBLE_EQ(r.zones[1].mean_divisor, 1.5);
  EXPECT_DOUBLE_EQ(r.zones[1].value_sum, 3.0);
  EXPECT_DOUBLE_EQ(r.zones[1].area_fraction, 0.5);
  EXPECT_DOUBLE_EQ(r.zones[2].area_fraction, 0.5);
  EXPECT_DOUBLE_EQ(r.zones[0].area_fraction, 100.0 * 3.0 * 100.0 / 1e6);
}

TEST_F(SubbasinRanking, Faults) {
  struct Case {
    const char* what;
    double value;  // put into cell (1, 1)
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"largest code", 32767.0, 0, ""},
      {"code above the range", 32767.5, 3,
       "wrong zone index in sub.asc!\n Zones have to range from 0 to 32767!"},
      {"negative code", -0.7, 3, "wrong zone index in sub.asc!"},
      {"not a number", std::nan(""), 3, "wrong zone index in sub.asc!"},
      {"half rounds up to 0", -0.5, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const owned_matrix grid = MatrixOf(Filled(2, 3, 1.0));
    grid[1][1] = c.value;
    auto module = WithSubbasins(grid);
    if (c.code == 0) {
      EXPECT_EQ(Rank(*module).count, 2);
    } else {
      EXPECT_NE(ExpectCode(c.code, [&] { Rank(*module); }).find(c.message), std::string::npos);
    }
  }

  const owned_matrix nodata = MatrixOf(Filled(2, 3, -9999.0));
  auto module = WithSubbasins(nodata);
  EXPECT_NE(ExpectCode(7, [&] { Rank(*module); }).find("all cells in sub.asc are NODATA!"),
            std::string::npos);

  grids_[2].name = "other";
  EXPECT_NE(ExpectCode(33, [&] { Rank(*module); }).find("zonegrid_soilmodel not found in memory"),
            std::string::npos);
}

TEST_F(SubbasinRanking, ZoneCountLimits) {
  struct Case {
    int distinct_codes;
    const char* message;
  };
  const Case cases[] = {
      {10000, ""},
      {10001, "too much subbasins (10001) in soil_model (max. 10000). Ende!"},
      {16001, "too much zones in sub.asc, (max. 16000!)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.distinct_codes);
    SetDomain(1, c.distinct_codes);
    const owned_matrix grid = MatrixOf(Filled(1, c.distinct_codes, 0.0));
    std::iota(grid[1] + 1, grid[1] + 1 + c.distinct_codes, 0.0);
    auto module = WithSubbasins(grid);
    if (*c.message == '\0') {
      EXPECT_EQ(Rank(*module).count, c.distinct_codes);
    } else {
      EXPECT_NE(ExpectCode(4, [&] { Rank(*module); }).find(c.message), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace velmo
