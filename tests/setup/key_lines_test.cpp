// Every reader of a "key = value" line: a ";" ends the value as a blank does,
// and what follows it on the line is no part of the value; a token that holds
// more than a number is refused whole, named.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/texthelpers.h"
#include "landsurface/etpetr.h"
#include "meteo/superposition.h"
#include "routing/operating_rule.h"
#include "setup/settings.h"
#include "setup/specialout.h"
#include "setup/zonegrids.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;

// What a reader made of a line: the value as text, or "refused" and what
// the reader said (the token it names).
constexpr const char* kRefused = "refused: ";

template <typename T>
std::string Text(const T& value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

template <typename T>
std::string Text(const std::vector<T>& values) {
  std::string text;
  for (const T& value : values) text += (text.empty() ? "" : " ") + Text(value);
  return text;
}

class KeyLines : public test::MessagesTest {
 protected:
  // A reader, given the whole line.
  using reader = std::function<std::string(const std::string& line)>;

  // The rule of one table (two with `two_tables`) whose key line is `line`.
  operating_rule Rule(const std::string& line, bool two_tables = false) {
    std::vector<std::string> lines = {"[abstraction_rule_abstraction_1]", two_tables ? "1 1 100" : "1",
                                      two_tables ? "0 0 0" : "0 0", line};
    return ReadOperatingRule(control_lines(lines), "[abstraction_rule_abstraction_1]", &ms, false);
  }
  // A rule reader: the member of the rule read from the line, or what the
  // refusal said.
  template <typename F>
  reader RuleKey(F member, bool two_tables = false) {
    return [this, member, two_tables](const std::string& line) {
      console.str("");
      try {
        return Text(member(Rule(line, two_tables)));
      } catch (ErrorCode) {
        return kRefused + console.str();
      }
    };
  }
  // A standard grid reader: `member` of the grid read from the line.
  template <typename F>
  static reader GridKey(F member) {
    return [member](const std::string& line) {
      standard_grid_definition grid;
      grid_key_fault bad;
      if (ParseStandardGridLine(line, grid, bad) != grid_line_fault::none)
        return kRefused + bad.key + " \"" + bad.token + "\"";
      return member(grid);
    };
  }

  // The line of each reader, "@" standing for the value and what ends it;
  // the value as written is the value read.
  struct reader_case {
    const char* name;
    std::string line;
    std::string value;
    reader read;
  };
  std::vector<reader_case> Readers() {
    return {
        {"output interval, model time: a whole number", "timestep = @", "60",
         [](const std::string& line) {
           int value = 0;
           std::string word;
           return ReadKeyInteger(line, value, word) ? Text(value) : kRefused + ("\"" + word + "\"");
         }},
        {"output interval: a directory", "DefaultOutputDirectory = @", "out/run_1/",
         [](const std::string& line) {
           std::string word;
           return ReadKeyWord(line, word) ? word : kRefused;
         }},
        {"evapotranspiration: open-water factor", "HamonCorrectionOpenWater = @", "1.5",
         [](const std::string& line) {
           double factor = 0.0;
           std::string token;
           return ReadOpenWaterFactor(line, factor, token) ? Text(factor) : kRefused + ("\"" + token + "\"");
         }},
        {"rule: TargetCap, two tables", "TargetCap = @", "5 7",
         RuleKey([](const operating_rule& r) { return r.cap; }, true)},
        {"rule: WeekDays", "WeekDays = @", "1234567",
         RuleKey([](const operating_rule& r) { return r.weekdays; })},
        {"rule: start_hour", "start_hour = @", "6",
         RuleKey([](const operating_rule& r) { return r.start_hour; })},
        {"rule: stop_hour", "stop_hour = @", "18",
         RuleKey([](const operating_rule& r) { return r.stop_hour; })},
        {"rule: TableIndex", "TableIndex = @", "Flow",
         RuleKey([](const operating_rule& r) { return r.flow_indexed ? "Flow" : "Volume"; })},
        {"standard grid: fillcode", "g.asc x fillcode = @", "2",
         GridKey([](const standard_grid_definition& g) { return Text(g.fillcode); })},
        {"standard grid: readcode", "g.asc x 1 readcode = @", "0",
         GridKey([](const standard_grid_definition& g) { return Text(g.readcode); })},
        {"standard grid: defaultValue", "g.asc x 1 defaultValue = @", "0.2",
         GridKey([](const standard_grid_definition& g) { return Text(g.default_value); })},
        {"standard grid: writecode", "g.asc x 1 writecode = @", "1238",
         GridKey([](const standard_grid_definition& g) { return Text(g.write_code); })},
        {"standard grid: outname", "g.asc x 1 outname = @", "out/alb.asc",
         GridKey([](const standard_grid_definition& g) { return g.outname; })},
        {"standard grid: statfile", "g.asc x 1 statfile = @", "alb.stat",
         GridKey([](const standard_grid_definition& g) { return g.statfile; })},
        {"standard grid: statcode", "g.asc x 1 statcode = @", "3",
         GridKey([](const standard_grid_definition& g) { return Text(g.statcode); })},
        {"standard grid: periodicity", "g.asc x 1 periodicity = @", "12 M -1",
         GridKey([](const standard_grid_definition& g) {
           return Text(g.period_length) + " " + g.period_unit + " " + Text(g.period_offset);
         })},
        {"standard grid: persistent", "g.asc x 1 periodicity = 1 D 0; persistent = @", "0 5",
         GridKey([](const standard_grid_definition& g) {
           return Text(g.persistent ? 1 : 0) + " " + Text(g.persistence_steps);
         })},
        {"regional superposition: NumberOfEntities", "NumberOfEntities = @", "3",
         [](const std::string& line) {
           int count = -1;
           return ReadEntityCount(line, count) ? Text(count) : kRefused;
         }},
        {"special output: numfiles", "numfiles = @", "2",
         [](const std::string& line) {
           int count = -1;
           std::string value;
           return ReadFileCount(line, count, value) ? Text(count) : kRefused + ("\"" + value + "\"");
         }},
        // The readers of brace blocks.
        {"block: whole number", "entity { Level = @", "4",
         [](const std::string& line) {
           int value = 0;
           ReadKeyInt(line, "Level", value);
           return Text(value);
         }},
        {"block: number", "entity { Xcoords = @", "0.25",
         [](const std::string& line) {
           double value = 0.0;
           ReadKeyDouble(line, "Xcoords", value);
           return Text(value);
         }},
        {"block: word", "filename = @", "points.txt",
         [](const std::string& line) {
           std::string value;
           ReadKeyString(line, "filename", value);
           return value;
         }},
        {"block: list of numbers", "Ycoords = @", "1.5 2.5",
         [](const std::string& line) {
           std::vector<double> values;
           ReadKeyDoubleList(line, "Ycoords", values);
           return Text(values);
         }},
        {"block: list of whole numbers", "Levels = @", "1 2",
         [](const std::string& line) {
           std::vector<int> values;
           ReadKeyIntList(line, "Levels", values);
           return Text(values);
         }},
    };
  }

  static std::string Line(const std::string& form, const std::string& value) {
    std::string line = form;
    line.replace(line.find('@'), 1, value);
    return line;
  }
};

TEST_F(KeyLines, ASemicolonEndsTheValueOfEveryReader) {
  // Nothing, a ";" right after the value, one after a blank or a tab, and a
  // comment after it that holds a "=" and a ";" of its own.
  const char* const endings[] = {"", ";", " ;", "\t;", "; the rest = 9; is comment"};
  for (const reader_case& c : Readers()) {
    for (const char* ending : endings) {
      const std::string line = Line(c.line, c.value + ending);
      EXPECT_EQ(c.read(line), c.value) << c.name << ": " << line;
    }
  }
}

TEST_F(KeyLines, ATokenThatHoldsMoreThanANumberIsRefusedAndNamed) {
  // What a ";" inside a token, a comma or a letter makes of a number: the
  // token, without the ";" that ends it.
  struct refused_value {
    const char* written;
    const char* named;
  };
  const refused_value values[] = {{"60;x", "60;x"}, {"1,5;", "1,5"}, {"3x;", "3x"}, {"60;;", "60;"}};
  const std::vector<std::string> number_readers = {"output interval, model time: a whole number",
                                                   "evapotranspiration: open-water factor",
                                                   "rule: start_hour",
                                                   "standard grid: fillcode",
                                                   "standard grid: defaultValue",
                                                   "standard grid: statcode",
                                                   "special output: numfiles"};
  for (const reader_case& c : Readers()) {
    if (std::find(number_readers.begin(), number_readers.end(), c.name) == number_readers.end()) continue;
    for (const refused_value& v : values) {
      // In a rule's lines a comma separates the values of the tables.
      if (c.line.starts_with("start_hour") && v.written == std::string("1,5;")) continue;
      const std::string line = Line(c.line, v.written);
      const std::string read = c.read(line);
      EXPECT_THAT(read, HasSubstr(kRefused)) << c.name << ": " << line;
      EXPECT_THAT(read, HasSubstr(std::string("\"") + v.named + "\"")) << c.name << ": " << line;
    }
  }
  // The count of entities is refused without its token (its entry names the
  // keyword).
  for (const refused_value& v : values) {
    int count = -1;
    EXPECT_FALSE(ReadEntityCount(std::string("NumberOfEntities = ") + v.written, count)) << v.written;
  }
}

TEST(KeyLineValue, EndsAtTheSemicolonThatEndsAToken) {
  struct value_case {
    const char* line;
    const char* value;
  };
  const value_case cases[] = {
      {"k = 60", " 60"},
      {"k = 60;", " 60"},
      {"k = 60 ;", " 60 "},
      {"k = 60;\r", " 60"},
      {"k = 60; x = 1;", " 60"},
      {"k = 60;x", " 60;x"},
      {"k = 60;x 7;", " 60;x 7"},
      {"k = ;", " "},
      {"k =", ""},
  };
  for (const value_case& c : cases) {
    const std::string line = c.line;
    EXPECT_EQ(KeyLineValue(line, line.find('=')), c.value) << c.line;
  }
  EXPECT_EQ(KeyLineValue("no key", std::string::npos), "");
  EXPECT_EQ(FirstToken(" \t60; x"), "60;");
  EXPECT_EQ(FirstToken("  "), "");
}

}  // namespace
}  // namespace velmo
