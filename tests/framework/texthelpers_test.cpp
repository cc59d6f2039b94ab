// Readers of the key syntax: key values and lists, brace blocks, tokens, file-name helpers.
#include "framework/texthelpers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace velmo {
namespace {

TEST(KeyValueReaders, ReadValuesBetweenEqualsAndSemicolon) {
  int number = -1;
  ReadKeyInt("numfiles = 3; other = 4;", "numfiles", number);
  EXPECT_EQ(number, 3);
  ReadKeyInt("numfiles = 3; other = 4;", "other", number);
  EXPECT_EQ(number, 4);
  ReadKeyInt("numfiles=7", "numfiles", number);  // no blanks, no ";"
  EXPECT_EQ(number, 7);
  ReadKeyInt("n = abc;", "n", number);  // no number: 0
  EXPECT_EQ(number, 0);
  ReadKeyInt("n = 12.9 13;", "n", number);
  EXPECT_EQ(number, 12);

  double real = -1.0;
  ReadKeyDouble("F* = 2.5e2; DP1_T_Bf=5;", "F*", real);
  EXPECT_DOUBLE_EQ(real, 250.0);
  ReadKeyDouble("F* = 2.5e2; DP1_T_Bf=5;", "DP1_T_Bf", real);
  EXPECT_DOUBLE_EQ(real, 5.0);

  std::string word = "old";
  ReadKeyString("filename = out.txt ; x = 1;", "filename", word);
  EXPECT_EQ(word, "out.txt");
  ReadKeyString("header = ;", "header", word);
  EXPECT_EQ(word, "");
  ReadKeyString("entity {\n  ID = temperature;\n  Symbol=T;\n}", "Symbol", word);
  EXPECT_EQ(word, "T");
}

TEST(KeyValueReaders, KeyMatchesOnlyAsWholeWord) {
  int number = 0;
  ReadKeyInt("statcode = 5; code = 6;", "code", number);
  EXPECT_EQ(number, 6);
  double real = 0.0;
  ReadKeyDouble("ksat_topmodel = 1e-5; ksat = 3;", "ksat", real);
  EXPECT_DOUBLE_EQ(real, 3.0);
  ReadKeyDouble("ksat_topmodel = 1e-5; ksat = 3;", "ksat_topmodel", real);
  EXPECT_DOUBLE_EQ(real, 1e-5);
  ReadKeyDouble("x:scale_factor = 0.5 ;", "scale_factor", real);
  EXPECT_DOUBLE_EQ(real, 0.5);
  EXPECT_THROW(ReadKeyInt("statcode = 5;", "code", number), std::out_of_range);
  EXPECT_THROW(ReadKeyDouble("abc", "ab", real), std::out_of_range);
}

TEST(KeyValueReaders, MissingKeyThrowsAndLeavesTarget) {
  int number = 42;
  EXPECT_THROW(ReadKeyInt("a = 1;", "numfiles", number), std::out_of_range);
  EXPECT_EQ(number, 42);
  std::string word = "kept";
  EXPECT_THROW(ReadKeyString("", "filename", word), std::out_of_range);
  EXPECT_EQ(word, "kept");
}

TEST(KeyValueReaders, Lists) {
  std::vector<double> values{9.0};
  EXPECT_EQ(ReadKeyDoubleList("Xcoords = 1.5, 2.5 3.5; Ycoords = 1;", "Xcoords", values), 3);
  EXPECT_EQ(values, (std::vector<double>{9.0, 1.5, 2.5, 3.5}));
  EXPECT_EQ(ReadKeyDoubleList("Ycoords = 1;", "Xcoords", values), 0);
  EXPECT_EQ(values.size(), 4u);

  std::vector<int> levels;
  EXPECT_EQ(ReadKeyIntList("Level =\t1,2 ,, 1 ;", "Level", levels), 3);
  EXPECT_EQ(levels, (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(ReadKeyIntList("Levels = 4 5;", "Level", levels), 0);
  EXPECT_EQ(ReadKeyIntList("Level = ;", "Level", levels), 0);
  EXPECT_EQ(levels.size(), 3u);
}

TEST(ExtractBraceBlock, TakesBlocksInTurn) {
  std::string source = "{a=1;}{b=2;}";
  EXPECT_EQ(ExtractBraceBlock(source), "a=1;}");
  EXPECT_EQ(source, "{b=2;}");
  EXPECT_EQ(ExtractBraceBlock(source), "b=2;}");
  EXPECT_EQ(source, "");
  EXPECT_THROW(ExtractBraceBlock(source), std::out_of_range);

  source = "a { x = 1; } b";
  EXPECT_EQ(ExtractBraceBlock(source), " x = 1; }");
  EXPECT_EQ(source, " b");
}

TEST(ExtractBraceBlock, BraceBeforeTheBlockAndUnclosedBlockEndTheLoop) {
  // A "}" ahead of the first "{" must not hand out the same block twice.
  std::string source = "} entity {ID = a;} entity {ID = b;";
  int blocks = 0;
  std::vector<std::string> found;
  while (source.find("entity") != std::string::npos && blocks++ < 10)
    found.push_back(ExtractBraceBlock(source));
  EXPECT_EQ(found, (std::vector<std::string>{"ID = a;}", "ID = b;"}));
  EXPECT_EQ(source, "");
}

TEST(SplitTokens, Cases) {
  struct Case {
    std::string text, separators;
    std::vector<std::string> tokens;
  };
  const std::vector<Case> cases = {
      {"1, 2;3", "\t ;,", {"1", "2", "3"}},
      {"a, \"b c\" d", "\t ;,", {"a", "\"b c\"", "d"}},
      {"\"x \\\" y\" z", " ", {"\"x \\\" y\"", "z"}},  // escaped quote stays inside
      {"\"x \\\\\" y\"", " ", {"\"x \\\\\"", "y\""}},  // two backslashes end the token
      {"a \"open to the end", " ", {"a", "\"open to the end"}},
      {"a\"b c\"", " \"", {"a", "b", "c"}},  // quote as separator
      {"", "\t ;,", {}},
      {" ;,\t", "\t ;,", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> tokens{"before"};
    EXPECT_EQ(SplitTokens(c.text, c.separators, tokens), static_cast<int>(c.tokens.size()) + 1) << c.text;
    tokens.erase(tokens.begin());
    EXPECT_EQ(tokens, c.tokens) << c.text;
  }
}

TEST(FileNameHelpers, SubstringOffsetAndKeep) {
  EXPECT_EQ(FindSubstringOffset("abc", "x"), 0u);
  EXPECT_EQ(FindSubstringOffset("abc", "a"), 0u);
  EXPECT_EQ(FindSubstringOffset("abc", "c"), 2u);
  EXPECT_EQ(FindSubstringOffset("grid.1.asc", "."), 4u);

  std::string buffer = "in.nc<tair>12";
  KeepSubstring(buffer, 6, 3);
  EXPECT_EQ(buffer, "tair");
  buffer = "abc";
  KeepSubstring(buffer, 1, -1);
  EXPECT_EQ(buffer, "abc");
  KeepSubstring(buffer, 1, 10);  // past the end: what there is
  EXPECT_EQ(buffer, "bc");
  KeepSubstring(buffer, 5, 0);
  EXPECT_EQ(buffer, "");
}

TEST(BraceBlockCollector, GathersLinesUntilTheFirstBraceIsClosed) {
  BraceBlockCollector block;
  for (const char* line : {"} file", "{ a = 1;", "  entity { b = 2; }", "  {", "  }"})
    EXPECT_FALSE(block.AddLine(line));
  EXPECT_TRUE(block.AddLine("} { not counted"));
  EXPECT_TRUE(block.complete());
  EXPECT_EQ(block.text(), "} file\n{ a = 1;\n  entity { b = 2; }\n  {\n  }\n} { not counted\n");
  // A block opened and closed on its first line.
  BraceBlockCollector one;
  EXPECT_TRUE(one.AddLine("file { x = 1; }"));
}

// The numbers a line starts with: whole tokens; a word ends them, a token
// that only begins as a number is kept as the bad one.
TEST(LeadingNumbers, WholeTokensUpToTheComment) {
  struct line_case {
    const char* line;
    std::size_t limit;
    std::vector<double> values;
    const char* bad;
  };
  const line_case cases[] = {
      {"  1\t2.5 -3 +4 .5 -.25 comment 7", 12, {1, 2.5, -3, 4, 0.5, -0.25}, ""},
      {"1 2 3", 2, {1, 2}, ""},
      {"DDF 1 2", 12, {}, ""},
      {"nan 1", 12, {}, ""},
      {"- 1", 12, {}, ""},
      {"", 12, {}, ""},
      {"1 3,5 4", 12, {1}, "3,5"},
      {"3x", 12, {}, "3x"},
      {"12abc", 12, {}, "12abc"},
      {"1.2.3", 12, {}, "1.2.3"},
      {"1e", 12, {}, "1e"},
      {"2 1e309", 12, {2}, "1e309"},
  };
  for (const line_case& c : cases) {
    const leading_numbers numbers = LeadingNumbers(c.line, c.limit);
    EXPECT_EQ(numbers.values, c.values) << c.line;
    EXPECT_EQ(numbers.bad_token, c.bad) << c.line;
  }
}

TEST(LineTests, SectionHeadersBlankLinesAndSpace) {
  EXPECT_TRUE(IsSectionHeader("[snow_model]"));
  EXPECT_TRUE(IsSectionHeader("  [ice_firn]\tcomment"));
  EXPECT_FALSE(IsSectionHeader("[open comment"));
  EXPECT_FALSE(IsSectionHeader("x [snow_model]"));
  EXPECT_TRUE(IsBlankLine(" \t\r"));
  EXPECT_FALSE(IsBlankLine(" x"));
  EXPECT_EQ(SkipSpace(" \t\n x", 0), 4u);
  EXPECT_EQ(SkipSpace("  ", 1), 2u);
}

}  // namespace
}  // namespace velmo
