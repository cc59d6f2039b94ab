// "[model_time]" in both forms, its faults, and the correction of the model time.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "framework/diagnostics.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using test::WriteFile;

bool SameDate(const model_date& a, const model_date& b) {
  return a.minute == b.minute && a.hour == b.hour && a.day == b.day && a.month == b.month && a.year == b.year;
}

std::string Text(const model_date& d) {
  return std::to_string(d.day) + "." + std::to_string(d.month) + "." + std::to_string(d.year) + " " +
         std::to_string(d.hour) + ":" + std::to_string(d.minute);
}

constexpr const char* kLegacy =
    "[model_time]\n6 starting hour\n1 starting day\n10 starting month\n2003 starting year\n"
    "23 end hour\n31 end day\n12 end month\n2005 end year\n";
constexpr const char* kKeys =
    "[model_time]\nendyear = 2005\n  startday=1\nstartminute = 0\nstarthour = 6\n\tstartmonth = 10\n"
    "startyear = 2003\nendminute = 0\nendhour = 23\nendday = 31 last day\nendmonth = 12\n";

struct ModelTimeFixture : test::SmallDomainTest {
  ModelTimeFixture() : SmallDomainTest(test::kNoDomain) {}

  // Reads "[model_time]" from `text`; `timestep` 0 expects the positional form.
  void Read(const std::string& text, int timestep) {
    WriteFile(dir / "control.intern", "[output_interval]\n24\n" + text + "\n[after]\n");
    setup.globals.timestep = timestep;
    setup.OpenControlFile();
    setup.ReadModelTime();
  }

  std::string ExpectCode(int code, const std::string& text, int timestep) {
    const auto read = [&] { Read(text, timestep); };
    return test::ExpectCode(console, code, read, text);
  }
};

TEST_F(ModelTimeFixture, BothFormsGiveTheSameDates) {
  Read(kLegacy, 0);
  const model_date legacy_start = setup.start_date;
  const model_date legacy_end = setup.end_date;
  EXPECT_TRUE(SameDate(legacy_start, {0, 6, 1, 10, 2003})) << Text(legacy_start);
  EXPECT_TRUE(SameDate(legacy_end, {0, 23, 31, 12, 2005})) << Text(legacy_end);

  Read(kKeys, 60);
  EXPECT_TRUE(SameDate(setup.start_date, legacy_start)) << Text(setup.start_date);
  EXPECT_TRUE(SameDate(setup.end_date, legacy_end)) << Text(setup.end_date);
  EXPECT_EQ(console.str(), "");

  // A ";" ends a value as a blank does.
  Read(
      "[model_time]\nendyear = 2005;\nstartday=1 ;\nstartminute = 0;\nstarthour = 6; hours\nstartmonth = "
      "10;\n"
      "startyear = 2003;\nendminute = 0;\nendhour = 23;\nendday = 31; last day\nendmonth = 12\t;\n",
      60);
  EXPECT_TRUE(SameDate(setup.start_date, legacy_start)) << Text(setup.start_date);
  EXPECT_TRUE(SameDate(setup.end_date, legacy_end)) << Text(setup.end_date);

  // The key form carries minutes; a key given twice takes its last value.
  Read(std::string(kKeys) + "endminute = 45\nstartminute=15\n", 60);
  EXPECT_EQ(setup.start_date.minute, 15);
  EXPECT_EQ(setup.end_date.minute, 45);
}

TEST_F(ModelTimeFixture, WrongFormMissingKeysAndUnreadableValues) {
  const std::string key_error =
      "one or more values of start and end time couldn't be read in section [[model_time]]\n"
      "when using the optional parameter timestep in section [output_interval], the start and end date/time "
      "must be provided in the new format of key = value pairs like this:\n"
      "[model_time]\nstartminute = $startminute\nstarthour = $starthour\nstartday = $startday\n"
      "startmonth = $startmonth\nstartyear = $startyear\nendminute = $endminute\nendhour = $endhour\n"
      "endday = $endday\nendmonth = $endmonth\nendyear = $endyear\n"
      "\n(or, of course, by using the actual values without using variables)\n";
  const std::string keys(kKeys);
  struct error_case {
    std::string text;
    int timestep;
    int code;
    std::string message;
  };
  const error_case cases[] = {
      {kLegacy, 60, 1301, key_error},
      // An empty line ends the key lines.
      {keys.substr(0, keys.find("endminute")) + "\n" + keys.substr(keys.find("endminute")), 60, 1301,
       key_error},
      // A value that is there but no whole number is named.
      {keys + "endyear = soon\n", 60, 1301, key_error + "\"endyear\": \"soon\" is no whole number\n"},
      {keys + "startday = 1;x\n", 60, 1301, key_error + "\"startday\": \"1;x\" is no whole number\n"},
      {"[model_time]\nstartday 1\n", 60, 1301, key_error},
      {kKeys, 0, 17,
       "--> In .\n  Next line in Velmo control file: \nendyear\nerror in control file, starting hour in ; "
       "defaultsnot found!\n"},
      {"[model_time]\n6\n1\n10\n2003\n23\n31\n12\n", 0, 17,
       "--> In .\n  Next line in Velmo control file: \n[after]\nerror in control file, end year in ; "
       "defaultsnot found!\n"},
      {"[modeltime]\n", 0, 17, "error in control file, [model_time]; (EOF)not found!\n"},
  };
  for (const error_case& c : cases) {
    EXPECT_EQ(ExpectCode(c.code, c.text, c.timestep), c.message) << c.text;
  }
}

TEST(CorrectModelTime, RangeErrorsAreCorrected) {
  struct correction_case {
    model_date start, end;                    // as read
    model_date expected_start, expected_end;  // corrected
  };
  const correction_case cases[] = {
      // Years below 1000 count from 1900.
      {{0, 0, 1, 1, 95}, {0, 0, 1, 1, 5}, {0, 0, 1, 1, 1995}, {0, 0, 1, 1, 1905}},
      {{0, 0, 1, 13, 2000}, {0, 0, 1, 0, 2001}, {0, 0, 1, 12, 2000}, {0, 0, 1, 1, 2001}},
      // Days are clamped to their month, February by the date's own year.
      {{0, 0, 1, 1, 2000}, {0, 0, 31, 2, 2001}, {0, 0, 1, 1, 2000}, {0, 0, 28, 2, 2001}},
      {{0, 0, 1, 1, 2000}, {0, 0, 30, 2, 2004}, {0, 0, 1, 1, 2000}, {0, 0, 29, 2, 2004}},
      {{0, 0, 1, 1, 2000}, {0, 0, 29, 2, 2000}, {0, 0, 1, 1, 2000}, {0, 0, 29, 2, 2000}},
      {{0, 0, 1, 1, 1899}, {0, 0, 29, 2, 1900}, {0, 0, 1, 1, 1899}, {0, 0, 28, 2, 1900}},
      {{0, 0, 29, 2, 2003}, {0, 0, 1, 3, 2004}, {0, 0, 28, 2, 2003}, {0, 0, 1, 3, 2004}},
      {{0, 0, 29, 2, 2004}, {0, 0, 1, 3, 2005}, {0, 0, 29, 2, 2004}, {0, 0, 1, 3, 2005}},
      {{0, 0, 0, 4, 2000}, {0, 0, 31, 4, 2000}, {0, 0, 1, 4, 2000}, {0, 0, 30, 4, 2000}},
      // The clamped month decides the day: month 14 is December.
      {{0, 0, 31, 14, 2000}, {0, 0, 31, -3, 2000}, {0, 0, 31, 12, 2000}, {0, 0, 31, 1, 2000}},
      // Hours and minutes stay as given.
      {{75, 25, 1, 1, 2000}, {-1, -2, 1, 1, 2000}, {75, 25, 1, 1, 2000}, {-1, -2, 1, 1, 2000}},
  };
  for (const correction_case& c : cases) {
    model_date start = c.start;
    model_date end = c.end;
    CorrectModelTime(start, end);
    EXPECT_TRUE(SameDate(start, c.expected_start)) << Text(c.start) << " became " << Text(start);
    EXPECT_TRUE(SameDate(end, c.expected_end)) << Text(c.end) << " became " << Text(end);
  }
}

TEST_F(ModelTimeFixture, FebruaryOfTheMonthLengthsFollowsTheEndYear) {
  Read("[model_time]\n0\n29\n2\n3\n0\n1\n3\n4\n", 0);
  EXPECT_EQ(setup.start_date.year, 1903);
  EXPECT_EQ(setup.start_date.day, 28);
  EXPECT_EQ(setup.end_date.year, 1904);
  EXPECT_EQ(setup.month_lengths[2], 29);
  Read("[model_time]\n0\n1\n1\n2004\n0\n1\n3\n2100\n", 0);
  EXPECT_EQ(setup.month_lengths[2], 28);
}

}  // namespace
}  // namespace velmo
