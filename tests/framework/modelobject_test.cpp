// The model-object base: date keys, control-file sections and values, statistics, clean-up.
#include "framework/modelobject.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using test::WriteFile;

struct ModelObjectFixture : test::MessagesTest {
  std::unique_ptr<modelobject> WithControlFile(const std::string& text) {
    WriteFile(dir / "control.intern", text);
    auto object = std::make_unique<modelobject>(&ms, dir / "control.intern");
    object->name = "snow_model";
    object->OpenControlFile();
    return object;
  }
};

TEST(DateKey, OrdersDatesButIsNoDuration) {
  EXPECT_LT(date_key(2000, 12, 31, 23, 59), date_key(2001, 1, 1, 0, 0));
  EXPECT_EQ(date_key(2001, 3, 1, 0, 0) - date_key(2001, 2, 28, 0, 0), 44640 - 27 * 1440);
  // The placeholder date of a run without meteorological input, and far years.
  EXPECT_LT(date_key(-9999, -9999, -9999, -9999, -9999), date_key(2001, 1, 1, 0, 0));
  EXPECT_GT(date_key(9999, 12, 31, 23, 59), date_key(4009, 1, 1, 0, 0));
}

TEST(CalendarTime, DatesCompareInRealTime) {
  struct Case {
    model_date date, end;
    bool at_or_after;
  };
  const Case cases[] = {
      // 24:00 of the last day of a month of 30 or 28 days is 00:00 of the 1st.
      {{0, 24, 30, 4, 2023}, {0, 0, 1, 5, 2023}, true},
      {{0, 23, 30, 4, 2023}, {0, 0, 1, 5, 2023}, false},
      {{0, 24, 28, 2, 2023}, {0, 0, 1, 3, 2023}, true},
      {{0, 24, 28, 2, 2024}, {0, 0, 1, 3, 2024}, false},  // 29 February comes first
      {{0, 24, 29, 2, 2024}, {0, 0, 1, 3, 2024}, true},
      {{0, 24, 31, 12, 2023}, {0, 0, 1, 1, 2024}, true},
      {{0, 1, 1, 5, 2023}, {0, 0, 1, 5, 2023}, true},
      {{59, 23, 31, 12, 1999}, {0, 0, 1, 1, 2000}, false},
      // The date of a run without meteorological input lies before any end.
      {{-9999, -9999, -9999, -9999, -9999}, {0, 0, 1, 1, 2000}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.date.day) + "." + std::to_string(c.date.month) + "." +
                 std::to_string(c.date.year) + " " + std::to_string(c.date.hour));
    EXPECT_EQ(AtOrAfter(c.date, c.end), c.at_or_after);
  }
  EXPECT_EQ(CalendarMinutes({0, 0, 1, 3, 2024}) - CalendarMinutes({0, 0, 28, 2, 2024}), 2 * 1440);
  EXPECT_EQ(CalendarMinutes({30, 0, 1, 1, 2001}) - CalendarMinutes({0, 0, 1, 1, 2000}), 366 * 1440 + 30);
}

TEST(CalendarTime, StepsEndingAtMidnightBelongToTheDayBefore) {
  struct Case {
    model_date step;
    double shift;  // hours from the data time to the end of the step
    model_date day_form;
  };
  const Case cases[] = {
      {{0, 0, 2, 3, 2000}, 0.0, {0, 24, 1, 3, 2000}},
      {{0, 0, 1, 3, 2000}, 0.0, {0, 24, 29, 2, 2000}},
      {{0, 0, 1, 3, 2001}, 0.0, {0, 24, 28, 2, 2001}},
      {{0, 0, 1, 1, 2001}, 0.0, {0, 24, 31, 12, 2000}},
      // Other steps keep their date: one stamped 24:00, one that ends later,
      // and a 00:00 record that the shift moves to 01:00.
      {{0, 24, 1, 3, 2000}, 0.0, {0, 24, 1, 3, 2000}},
      {{30, 0, 2, 3, 2000}, 0.0, {30, 0, 2, 3, 2000}},
      {{0, 0, 2, 3, 2000}, 1.0, {0, 0, 2, 3, 2000}},
      {{-9999, -9999, -9999, -9999, -9999}, 0.0, {-9999, -9999, -9999, -9999, -9999}},
  };
  for (const Case& c : cases) {
    const model_date d = EndOfDayForm(c.step, c.shift);
    EXPECT_EQ(std::make_tuple(d.minute, d.hour, d.day, d.month, d.year),
              std::make_tuple(c.day_form.minute, c.day_form.hour, c.day_form.day, c.day_form.month,
                              c.day_form.year))
        << c.step.day << "." << c.step.month << "." << c.step.year << " " << c.step.hour << ":"
        << c.step.minute;
  }
}

TEST_F(ModelObjectFixture, FindSection) {
  auto object = WithControlFile("[model_time]\n1 2 3\n[snow_model_x]\n5\n[snow_model] comment\n1\n[last]");
  EXPECT_TRUE(object->FindSection("[snow_model]", true));
  std::string rest;
  int value = 0;
  object->ReadValue(object->control_file, value, "flow control", rest);
  EXPECT_EQ(value, 1);
  EXPECT_FALSE(object->FindSection("[absent]", false));
  EXPECT_EQ(console.str(), "");
  // A header on the last line without a line end is not found.
  EXPECT_FALSE(object->FindSection("[last]", false));
  EXPECT_EQ(ExpectCode(17, [&] { object->FindSection("[absent]", true); }),
            "error in control file, [absent]; (EOF)not found!\n");
}

TEST_F(ModelObjectFixture, ReadValuesAndComments) {
  auto object =
      WithControlFile("[s]\r\n  12   time interval\r\n2.5 factor\nword-of-any-length  the name\n3 4 pair\n");
  ASSERT_TRUE(object->FindSection("[s]", true));
  std::string rest, word;
  int i = 0;
  double d = 0, a = 0, b = 0;
  EXPECT_EQ(object->ReadValue(object->control_file, i, "interval", rest), 1);
  EXPECT_EQ(i, 12);
  EXPECT_EQ(rest, "   time interval");
  object->ReadValue(object->control_file, d, "factor", rest);
  EXPECT_EQ(d, 2.5);
  object->ReadValue(object->control_file, word, "name", rest);
  EXPECT_EQ(word, "word-of-any-length");
  EXPECT_EQ(object->ReadTwoValues(object->control_file, "%lf", &a, &b, "pair", rest), 2);
  EXPECT_EQ(a + b, 7.0);
}

TEST_F(ModelObjectFixture, TwoConversionFormatsAndOverflowingNumbers) {
  auto object = WithControlFile("[s]\nq.stat 2001 name and code\n1.5 2.5 pair\n99999999999 too big\n");
  ASSERT_TRUE(object->FindSection("[s]", true));
  std::string rest, file;
  int code = 0;
  EXPECT_EQ(object->ReadTwoValues(object->control_file, "%s%d", &file, &code, "statfile", rest), 2);
  EXPECT_EQ(file, "q.stat");
  EXPECT_EQ(code, 2001);
  double a = 0, b = 0;
  EXPECT_EQ(object->ReadTwoValues(object->control_file, "%lf%lf", &a, &b, "pair", rest), 2);
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, 2.5);
  // A whole number beyond int is malformed, never wrapped.
  int i = 0;
  EXPECT_EQ(ExpectCode(17, [&] { object->ReadValue(object->control_file, i, "count", rest); }),
            "--> In .\n  Next line in Velmo control file: \n99999999999\n"
            "error in control file, count; snow_modelnot found!\n");
}

TEST_F(ModelObjectFixture, WordsOfAnyLength) {
  const std::string long_name(3000, 'x');
  auto object = WithControlFile("[s]\n" + long_name + " a long file name\n");
  ASSERT_TRUE(object->FindSection("[s]", true));
  std::string rest, word;
  object->ReadValue(object->control_file, word, "file name", rest);
  EXPECT_EQ(word, long_name);
  EXPECT_EQ(rest, " a long file name");
}

TEST_F(ModelObjectFixture, MalformedValueNamesPromptAndObject) {
  auto object = WithControlFile("[s]\nabc comment\n");
  ASSERT_TRUE(object->FindSection("[s]", true));
  std::string rest;
  int i = 0;
  const std::string out =
      ExpectCode(17, [&] { object->ReadValue(object->control_file, i, "time interval", rest); });
  EXPECT_EQ(out,
            "--> In .\n  Next line in Velmo control file: \nabc\n"
            "error in control file, time interval; snow_modelnot found!\n");

  auto two = WithControlFile("[s]\n1 x\n");
  ASSERT_TRUE(two->FindSection("[s]", true));
  double a, b;
  EXPECT_EQ(ExpectCode(17, [&] { two->ReadTwoValues(two->control_file, "%lf", &a, &b, "pair", rest); }),
            "error in control file, pair; snow_modelnot found!\n");
}

TEST_F(ModelObjectFixture, ReadAndWriteErrors) {
  modelobject object(&ms, "none");
  EXPECT_EQ(ExpectCode(18, [&] { object.RaiseWriteError("a.asc", 18); }), "write error a.asc ! (18)\n");
  EXPECT_EQ(ExpectCode(19, [&] { object.RaiseReadError("b.asc", 7); }), "read error b.asc ! (7)\n");
}

TEST_F(ModelObjectFixture, RunningStatistics) {
  modelobject object(&ms, "none");
  double w, mn, mx, sum, mean, dev;
  object.ResetStatistics(-9999);
  object.GetStatistics(w, mn, mx, sum, mean, dev);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(mean, -9999);
  EXPECT_EQ(dev, -9999);

  for (double v : {-9999.0, -9998.0, 2.0, 4.0, 6.0}) object.AddToStatistics(v, 1.0);
  object.GetStatistics(w, mn, mx, sum, mean, dev);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(mn, 2);
  EXPECT_EQ(mx, 6);
  EXPECT_EQ(sum, 12);
  EXPECT_EQ(mean, 4);
  EXPECT_DOUBLE_EQ(dev, 2.0);

  // Equal values: a variance that rounds below zero still gives 0.
  object.ResetStatistics(-9999);
  for (int i = 0; i < 10; ++i) object.AddToStatistics(0.1, 0.3);
  object.GetStatistics(w, mn, mx, sum, mean, dev);
  EXPECT_GE(dev, 0.0);
  EXPECT_LT(dev, 1e-6);
}

TEST(ModelObject, InterpolateAndPrefixPath) {
  modelobject object(nullptr, "none");
  EXPECT_EQ(object.Interpolate(2, 5, 2, 7, 3), 5);
  EXPECT_EQ(object.Interpolate(0, 0, 10, 100, 2.5), 25);

  const std::string out = "out/";
  struct Case {
    const std::string* dir;
    std::string name, expected;
  };
  const Case cases[] = {
      {&out, "a.asc", "out/a.asc"},
      {&out, "c:\\data\\a.asc", "c:\\data\\a.asc"},
      {&out, "c:/data/a.asc", "c:/data/a.asc"},
      {&out, "\\\\server\\a.asc", "\\\\server\\a.asc"},
      {&out, "/abs/a.asc", "/abs/a.asc"},
      {&out, "sub/a:\\x", "out/sub/a:\\x"},
      {nullptr, "a.asc", "a.asc"},
  };
  for (const Case& c : cases) {
    std::string name = c.name;
    modelobject::PrefixPath(c.dir, name);
    EXPECT_EQ(name, c.expected) << c.name;
  }
}

TEST_F(ModelObjectFixture, EndDateCleanUpAndLog) {
  modelobject object(&ms, "none");
  object.name = "radiation_correction";
  object.SetEndDate(2001, 2, 3, 4, 5);
  EXPECT_EQ(object.end_date_key, date_key(2001, 2, 3, 4, 5));
  EXPECT_EQ(object.end_date.minute, 5);
  console.str("");
  object.CleanUp();
  EXPECT_EQ(console.str(), "deleting module radiation_correction\n");

  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  object.WriteModelLog("hello");
  std::filesystem::current_path(cwd);
  const std::string log = test::ReadFile(dir / "modell_0.log");
  EXPECT_TRUE(log.ends_with(": hello\n")) << log;
}

}  // namespace
}  // namespace velmo
