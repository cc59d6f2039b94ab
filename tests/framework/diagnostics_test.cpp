// The message stream: console and diagnostics-file sides of entries.
#include "framework/diagnostics.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;

// Lines of the diagnostics file between the start line and the end line.
std::string Body(const std::string& xml) {
  const size_t start = xml.find("Velmo start at ");
  const size_t body = xml.find('\n', start) + 1;
  const size_t end = xml.find("\t<line level=\"3\" description= \"Velmo finished at ");
  return xml.substr(body, end - body);
}

struct StreamFixture : ::testing::Test {
  TempDir dir;
  std::ostringstream console;
  std::string file = dir / "diag.xml";
};

TEST_F(StreamFixture, HeaderStartAndEndLines) {
  { MessageStream ms(file, 0, console); }
  const std::string xml = ReadFile(file);
  EXPECT_TRUE(
      xml.starts_with("<?xml version='1.0' encoding='UTF-8'?>\n<Diag version=\"1.2\" "
                      "xmlns=\"http://www.wldelft.nl/fews/PI\" \n"));
  EXPECT_NE(xml.find("xsi:schemaLocation=\"http://www.wldelft.nl/fews/PI "
                     "http://fews.wldelft.nl/schemas/version1.0/pi-schemas/pi_diag.xsd\">\n"),
            std::string::npos);
  // Start and end lines carry level 3 whatever the maximum level.
  EXPECT_NE(xml.find("\t<line level=\"3\" description= \"Velmo start at "), std::string::npos);
  EXPECT_TRUE(xml.ends_with("\"/>\n</Diag>\n"));
  EXPECT_EQ(Body(xml), "");
}

TEST_F(StreamFixture, LevelFilteringAndConsoleWithoutPrefix) {
  {
    MessageStream ms(file, 1, console);
    ms << "WARNING: careful"
       << "[end-entry]";
    ms << "ERROR: broken " << 42 << "[end-entry]";
    ms << "SKIP: console only"
       << "[end-entry]";
    ms << 7 << " starts with a number"
       << "[end-entry]";
    ms << "no prefix"
       << "[end-entry]";
  }
  EXPECT_EQ(console.str(), "careful\nbroken 42\nconsole only\n7 starts with a number\nno prefix\n");
  EXPECT_EQ(Body(ReadFile(file)), "\t<line level=\"1\" description= \"broken 42\"/>\n");
}

TEST_F(StreamFixture, UnprefixedAndNumericEntriesAreDebug) {
  {
    MessageStream ms(file, 4, console);
    ms << 7 << " apples"
       << "[end-entry]";
    ms << "SKIP: never in the file"
       << "[end-entry]";
    ms << "[end-entry]";
  }
  EXPECT_EQ(Body(ReadFile(file)),
            "\t<line level=\"4\" description= \"7 apples\"/>\n"
            "\t<line level=\"4\" description= \"\"/>\n");
  EXPECT_EQ(console.str(), "7 apples\nnever in the file\n\n");
}

TEST_F(StreamFixture, EscapingAndHyphenRuns) {
  {
    MessageStream ms(file, 4, console);
    ms << "INFO: a & b <c> 'd' \"e\"\nnext"
       << "[end-entry]";
    ms << std::string(76, '-') << "[end-entry]";
    ms << "INFO: x---y--z-w"
       << "[end-entry]";
  }
  EXPECT_EQ(Body(ReadFile(file)),
            "\t<line level=\"3\" description= \"a &amp; b &lt;c&gt; &apos;d&apos; &quot;e&quot;;next\"/>\n"
            "\t<line level=\"4\" description= \"--\"/>\n"
            "\t<line level=\"3\" description= \"x--y--z-w\"/>\n");
  EXPECT_EQ(console.str(), "a & b <c> 'd' \"e\"\nnext\n" + std::string(76, '-') + "\nx---y--z-w\n");
}

TEST(EscapeXml, WhatAnXmlFileCannotHoldBecomesAQuestionMark) {
  struct Case {
    const char* text;
    const char* xml;
  };
  const Case cases[] = {
      {"tab\tkept, h\xc3\xb6he, \xe2\x82\xac, \xf0\x9f\x8c\xa7",
       "tab\tkept, h\xc3\xb6he, \xe2\x82\xac, \xf0\x9f\x8c\xa7"},
      {"latin-1 h\xf6he", "latin-1 h?he"},
      {"nul\x01 bell\x07 cr\r esc\x1b del\x7f", "nul? bell? cr? esc? del?"},
      // One "?" per control character, one per byte that starts no sequence.
      {"c1 \xc2\x85, not a character \xef\xbf\xbe", "c1 ?, not a character ?"},
      {"overlong \xc0\xaf, surrogate \xed\xa0\x80, beyond \xf4\x90\x80\x80",
       "overlong ??, surrogate ???, beyond ????"},
      {"cut \xe2\x82", "cut ??"},
      {"cut \xe2\x82<", "cut ??&lt;"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageStream::EscapeXml(c.text), c.xml) << c.text;
}

TEST_F(StreamFixture, UnendedEntryIsClosedByTheNextPrefixAndByClose) {
  {
    MessageStream ms(file, 4, console);
    ms << "WARNING: first, never ended";
    ms << "INFO: second"
       << "[end-entry]";
    ms << "ERROR: third, open at close";
  }
  EXPECT_EQ(Body(ReadFile(file)),
            "\t<line level=\"2\" description= \"first, never ended\"/>\n"
            "\t<line level=\"3\" description= \"second\"/>\n"
            "\t<line level=\"1\" description= \"third, open at close\"/>\n");
}

TEST_F(StreamFixture, ManipulatorsApplyToBothSinks) {
  {
    MessageStream ms(file, 4, console);
    ms << "INFO: [" << std::setw(4) << std::setfill('0') << 7 << "] " << 2.5 << "[end-entry]";
  }
  EXPECT_EQ(console.str(), "[0007] 2.5\n");
  EXPECT_EQ(Body(ReadFile(file)), "\t<line level=\"3\" description= \"[0007] 2.5\"/>\n");
}

TEST_F(StreamFixture, UnopenableFileFallsBackToDefaultName) {
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    MessageStream ms(dir / "missing/dir/diag.xml", 4, console);
    EXPECT_EQ(ms.DiagFileName(), "Velmo_Diag.xml");
  }
  std::filesystem::current_path(cwd);
  EXPECT_NE(console.str().find("error opening diagnostics output file"), std::string::npos);
  EXPECT_NE(console.str().find("using default name Velmo_Diag.xml"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "Velmo_Diag.xml"));
}

}  // namespace
}  // namespace velmo
