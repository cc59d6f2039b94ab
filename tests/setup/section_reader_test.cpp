// The section reader: values read whole with their comments, optional
// numbers, reading on after the head, and the faults every module reports
// through it.
#include "setup/section_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::WriteFile;
using ::testing::HasSubstr;

class SectionReader : public test::MessagesTest {
 protected:
  SectionReader() { module.name = "snow_model"; }
  section_reader Open(const std::string& text, const section_opening& opening = {}) {
    WriteFile(module.control_file_name, text);
    return section_reader(module, "[s]", opening);
  }
  modelobject module{&ms, dir / "control.intern"};
};

TEST_F(SectionReader, ValuesAreWholeTokensAndTheRestOfTheLineIsComment) {
  section_reader in = Open(
      "[other]\n9\n[s]\n+12\ttab comment\n-0.5e1 comment\n.25\nq.stat 2001 pair\n"
      "grid.asc name\n1000 code\n-3\n\n4 after an empty line\n1.5x\n[next]\n");
  EXPECT_EQ(in.Integer("count for "), 12);
  EXPECT_EQ(in.Number("factor for "), -5.0);
  EXPECT_EQ(in.Number("share for "), 0.25);
  const statistics_file table = in.Statistics("table for ");
  EXPECT_EQ(table.file, "q.stat");
  EXPECT_EQ(table.code, 2001);
  const output_grid grid = in.Grid("grid for ", "code for ");
  EXPECT_EQ(grid.file, "grid.asc");
  EXPECT_EQ(grid.write_code, 1000);
  EXPECT_EQ(in.Integer("negative for "), -3);
  EXPECT_EQ(in.Integer("after for "), 4);
  std::string line;
  ASSERT_TRUE(in.Line(line));
  EXPECT_EQ(line, "1.5x");
  in.Close();
  EXPECT_EQ(module.control_file, nullptr);
  EXPECT_EQ(console.str(), "");
}

TEST_F(SectionReader, OptionalNumberOnlyWhereANumberStands) {
  double value = 7.0;
  section_reader in = Open("[s]\n2.5 comment\nword\n");
  EXPECT_TRUE(in.OptionalNumber("x for ", value));
  EXPECT_EQ(value, 2.5);
  // A word, a section header or the end of the file is no number and stays.
  EXPECT_FALSE(in.OptionalNumber("x for ", value));
  EXPECT_EQ(in.Word("word for "), "word");
  EXPECT_FALSE(in.OptionalNumber("x for ", value));
  EXPECT_EQ(value, 2.5);
  section_reader header = Open("[s]\n[next]\n");
  EXPECT_FALSE(header.OptionalNumber("x for ", value));
  EXPECT_EQ(header.Word("section for "), "[next]");
  section_reader nan = Open("[s]\nnan\n");
  EXPECT_FALSE(nan.OptionalNumber("x for ", value));
  EXPECT_EQ(console.str(), "");
}

TEST_F(SectionReader, ReadsOnAfterTheHeadAndMayNameNoSection) {
  WriteFile(module.control_file_name, "[snow_model]\n1\n60\n3 method\n");
  module.section_buffer = "[snow_model]";
  {
    section_reader head(module, "[snow_model]");
    EXPECT_EQ(head.Integer("flow for "), 1);
    EXPECT_EQ(head.Integer("interval for "), 60);
  }
  section_reader in(module, kReadingOn);
  EXPECT_EQ(in.Integer("method for "), 3);
  EXPECT_EQ(ExpectCode(17, [&] { in.Integer("readgrid for "); }),
            "--> In .\n  Next line in Velmo control file: \n\n"
            "error in control file, readgrid for [snow_model]; snow_modelnot found!\n");
}

TEST_F(SectionReader, OptionalSectionAndPromptsWithoutSection) {
  section_reader absent = Open("[t]\n1\n", {.required = false});
  EXPECT_FALSE(absent.Found());
  absent.Close();
  section_reader plain = Open("[s]\nx\n", {.section_in_prompts = false});
  EXPECT_EQ(ExpectCode(17, [&] { plain.Number("nodata value in "); }),
            "--> In .\n  Next line in Velmo control file: \nx\n"
            "error in control file, nodata value in ; snow_modelnot found! (\"x\" is no finite number)\n");
}

// Every fault ends with its entry and code; a token that is no number as a
// whole is named in the FATAL entry.
TEST_F(SectionReader, Faults) {
  const std::string next = "--> In .\n  Next line in Velmo control file: \n";
  struct fault {
    std::string what;
    std::string text;  // after "[s]\n"
    std::function<void(section_reader&)> read;
    int code;
    std::string entries;
  };
  const auto integer = [](section_reader& in) { in.Integer("count for "); };
  const auto number = [](section_reader& in) { in.Number("factor for "); };
  const auto whole = [&](const std::string& token) {
    return next + token + "\nerror in control file, count for [s]; snow_modelnot found! (\"" + token +
           "\" is no whole number)\n";
  };
  const auto finite = [&](const std::string& token) {
    return next + token + "\nerror in control file, factor for [s]; snow_modelnot found! (\"" + token +
           "\" is no finite number)\n";
  };
  const fault faults[] = {
      {"missing value", "", integer, 17,
       next + "\nerror in control file, count for [s]; snow_modelnot found!\n"},
      {"missing word", "", [](section_reader& in) { in.Word("name for "); }, 17,
       next + "\nerror in control file, name for [s]; snow_modelnot found!\n"},
      {"not a number", "abc comment\n", number, 17, finite("abc")},
      {"comma", "3,5\n", number, 17, finite("3,5")},
      {"trailing letter", "3x\n", integer, 17, whole("3x")},
      {"trailing letters", "12abc\n", integer, 17, whole("12abc")},
      {"two points", "1.2.3\n", number, 17, finite("1.2.3")},
      {"no exponent", "1e\n", number, 17, finite("1e")},
      {"nan", "nan\n", number, 17, finite("nan")},
      {"inf", "inf\n", number, 17, finite("inf")},
      {"out of range", "1e309\n", number, 17, finite("1e309")},
      {"out of range for a whole number", "1e309\n", integer, 17, whole("1e309")},
      {"fraction for a whole number", "2.5\n", integer, 17, whole("2.5")},
      {"integer overflow", "99999999999\n", integer, 17, whole("99999999999")},
      {"two signs", "+-5\n", integer, 17, whole("+-5")},
      {"negative overflow", "-2147483649\n", integer, 17, whole("-2147483649")},
      {"statistics code", "q.stat 20x1\n", [](section_reader& in) { in.Statistics("table for "); }, 17,
       "error in control file, table for [s]; snow_modelnot found! (\"20x1\" is no whole number)\n"},
      {"statistics pair", "", [](section_reader& in) { in.Statistics("table for "); }, 17,
       "error in control file, table for [s]; snow_modelnot found!\n"},
      {"optional number", "2,5\n",
       [](section_reader& in) {
         double value = 0.0;
         in.OptionalNumber("scaling for ", value);
       },
       17,
       next + "2,5\nerror in control file, scaling for [s]; snow_modelnot found! (\"2,5\" is no finite "
              "number)\n"},
      {"check", "-1\n",
       [](section_reader& in) {
         const int value = in.Integer("count for ");
         in.Check(value >= 0, "FATAL: the count must not be below 0, read: ", value, 63);
       },
       63, "the count must not be below 0, read: -1\n"},
      {"failed close", "1\n",
       [&](section_reader& in) {
         std::fclose(module.control_file);
         module.control_file = test::WithFailingClose(std::fopen(module.control_file_name.c_str(), "r"));
         in.Close("FATAL: cannot close " + module.control_file_name);
       },
       11, "cannot close " + module.control_file_name + "\n"},
  };
  for (const fault& f : faults) {
    section_reader in = Open("[s]\n" + f.text);
    EXPECT_EQ(ExpectCode(
                  f.code, [&] { f.read(in); }, f.what),
              f.entries)
        << f.what;
  }

  WriteFile(module.control_file_name, "[t]\n");
  EXPECT_EQ(ExpectCode(17, [&] { section_reader in(module, "[s]"); }),
            "error in control file, [s]; (EOF)not found!\n");
  module.control_file_name = dir / "none.intern";
  EXPECT_EQ(
      ExpectCode(28, [&] { section_reader in(module, "[s]", {.open_entry = "ERROR: error opening "}); }),
      "error opening " + module.control_file_name + "\n");
}

}  // namespace
}  // namespace velmo
