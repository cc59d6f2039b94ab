// The model-object base: date keys, control-file sections and values, statistics, clean-up.
#include "framework/modelobject.h"

#include <gtest/gtest.h>

#include <sstream>

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
