// Control-file preprocessing: symbols, comments, joins and the copy.
#include "setup/preprocess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "framework/diagnostics.h"
#include "setup/defltuzr.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kRule = "-----------------------------------------------------------";

// ---- line substitution without files

struct SubstituteLineTest : ::testing::Test {
  std::vector<std::string> names{"$a", "$d", "$x", "$a", "$empty"};
  std::vector<std::string> values{"5", "c:\\x\\", "7", "6", ""};

  std::string Substituted(std::string line) {
    EXPECT_EQ(SubstituteLine(line, names, values, static_cast<int>(names.size())).fault,
              SubstitutionFault::kNone)
        << line;
    return line;
  }
};

TEST_F(SubstituteLineTest, CommentsReferencesAndJoins) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {" value $a\n", " value 5\n"},
      {" file $d//grid.asc\n", " file c:\\x\\grid.asc\n"},
      {" $x;\n", " 7;\n"},
      {" [$a//]\n", " [5]\n"},
      {" $a\t$x $a\n", " 5\t7 5\n"},
      {" a$empty//b\n", " ab\n"},
      {" ab#c\n", " a\n"},
      {" ab #c\n", " ab\n"},
      {" #comment line\n", "\n"},
      {" value 3 # remark $nothing\n", " value 3\n"},
      {" a//b////c/\n", " abc/\n"},
      {" $set $z = $a // kept # cut\n", " $set $z = $a // kept\n"},  // definitions only lose comments
      {"5#x", "\n"},                                                 // a value is cut as well
      {"#x", "#x"},                                                  // but not at its first character
      {" no symbols\n", " no symbols\n"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(Substituted(line), expected) << line;
}

TEST_F(SubstituteLineTest, UndefinedReferences) {
  for (std::string line : {" $ab\n", " [$a]\n", " cost 5$\n", " $A\n"}) {
    EXPECT_EQ(SubstituteLine(line, names, values, 5).fault, SubstitutionFault::kUndefinedSymbol) << line;
  }
  std::string line = " $a\n";
  EXPECT_EQ(SubstituteLine(line, names, values, 0).fault, SubstitutionFault::kUndefinedSymbol);
  // Only the first symbol_count names are searched.
  line = " $x\n";
  EXPECT_EQ(SubstituteLine(line, names, values, 2).fault, SubstitutionFault::kUndefinedSymbol);
}

TEST(SubstituteLine, SelfReferenceEndsInsteadOfLooping) {
  // "$set" values survive pass 1 unexpanded, so a line can re-enter a symbol.
  const std::vector<std::string> names{"$set", "$q", "$r", "$p"};
  const std::vector<std::string> values{"$set", "$set", "x", "a$set"};
  std::string line = " use $q\n";
  SubstitutionOutcome outcome = SubstituteLine(line, names, values, 4);
  EXPECT_EQ(outcome.fault, SubstitutionFault::kSelfReference);
  EXPECT_EQ(outcome.symbol, 1);
  // A value that names the symbol being defined.
  line = "x//$r";
  outcome = SubstituteLine(line, names, values, 3, 3);
  EXPECT_EQ(outcome.fault, SubstitutionFault::kSelfReference);
  EXPECT_EQ(outcome.symbol, 3);
  // The same symbol twice side by side is no self-reference.
  line = " $r$r\n";
  ASSERT_EQ(SubstituteLine(line, names, values, 3).fault,
            SubstitutionFault::kUndefinedSymbol);  // "$r$r" is one word
  line = " $r//$r $r\n";
  EXPECT_EQ(SubstituteLine(line, names, values, 3).fault, SubstitutionFault::kNone);
  EXPECT_EQ(line, " xx x\n");
}

TEST(SubstituteLine, ExpansionBeyondTheLimitIsRefused) {
  const std::vector<std::string> names{"$long", "$s"};
  const std::vector<std::string> values{std::string(1000, 'x'), "y"};
  std::string line = " $long $long\n";
  EXPECT_EQ(SubstituteLine(line, names, values, 2).fault, SubstitutionFault::kNone);
  EXPECT_EQ(line.size(), 2003u);
  line = " $long $long $long\n";
  const SubstitutionOutcome outcome = SubstituteLine(line, names, values, 2);
  EXPECT_EQ(outcome.fault, SubstitutionFault::kLineTooLong);
  EXPECT_EQ(outcome.symbol, 1);
  // A line that is long already may still shrink.
  line = " " + std::string(3000, 'z') + " $s\n";
  EXPECT_EQ(SubstituteLine(line, names, values, 2).fault, SubstitutionFault::kNone);
  EXPECT_EQ(line.size(), 3004u);
}

TEST(DefinitionHelpers, WordsAndNumericValues) {
  EXPECT_EQ(DefinitionWords("$set $a = 5 # five"), (std::array<std::string, 4>{"$set", "$a", "=", "5"}));
  EXPECT_EQ(DefinitionWords("  $set\t$b"), (std::array<std::string, 4>{"$set", "$b", "", ""}));
  for (const char* value : {"1.5", "1e3", "-4", "", "nan", "information", "Infinity", "NAN"}) {
    EXPECT_TRUE(IsNumericSymbolValue(value)) << value;
  }
  for (const char* value : {"abc", "1.5x", "c:\\data\\", "\n"})
    EXPECT_FALSE(IsNumericSymbolValue(value)) << value;
}

// ---- the ".intern" copy

struct CompileSymbolsTest : test::MessagesTest {
  int setup_error = 0;
  std::unique_ptr<defaultini> setup =
      std::make_unique<defaultini>(setup_error, &ms, dir / "control.txt", 1, nullptr);

  CompileSymbolsTest() { console.str(""); }

  std::string Source() const { return dir / "control.txt"; }
  std::string Debug() const { return "compiling symbols in control file " + Source() + "\n"; }

  // Preprocesses `text` and returns the copy.
  std::string Compile(const std::string& text) {
    WriteFile(Source(), text);
    std::string name;
    setup->CompileSymbols(Source(), name);
    EXPECT_EQ(name, Source() + ".intern");
    return ReadFile(name);
  }

  // The code compiling the source throws (0: none).
  int CompileCode() {
    std::string name;
    return test::ThrownCode([&] { setup->CompileSymbols(Source(), name); });
  }

  std::string Fatal(const std::string& what, const std::string& line) const {
    return "\n" + kRule + "\npossible error in control file!\n" + what + ":\n" + line + "\n\n" + kRule +
           "\n\n";
  }
  static std::string Warning(const std::string& earlier, const std::string& later, const std::string& value) {
    return "\n------------------------ WARNING --------------------------\npossible error in control file!\n"
           "content of symbol " +
           earlier + " is the same as symbol " + later + ", \n (which is: " + value +
           ").\nthis may lead to collusions!\n" + kRule + "\n\n";
  }
};

TEST_F(CompileSymbolsTest, FixtureGivesTheExpectedCopy) {
  const std::string data = std::string(VELMO_TEST_DATA) + "/preprocess/";
  std::filesystem::copy_file(data + "control.txt", Source());
  std::string name = Source();
  setup->CompileSymbols(std::string(name), name);
  EXPECT_EQ(name, Source() + ".intern");
  EXPECT_EQ(ReadFile(name), ReadFile(data + "control.txt.intern.expected"));
  EXPECT_EQ(ReadFile(Source()), ReadFile(data + "control.txt"));  // the control file stays as it was
  EXPECT_EQ(console.str(), Debug());
  EXPECT_NE(ReadFile(dir / "diag.xml").find("<line level=\"4\" description= \"compiling symbols"),
            std::string::npos);
}

TEST_F(CompileSymbolsTest, LineEndsAndLongLines) {
  // CR LF ends are line ends; a last line without its end stays without.
  EXPECT_EQ(Compile("$set $a = 5\r\n[x]\r\nvalue $a\r\n\r\nlast $a"), "[x]\nvalue 5\n\nlast 5");
  // A comment on the last line still ends it with a newline.
  EXPECT_EQ(Compile("a b # c"), "a b\n");
  const std::string long_line(5000, 'w');
  EXPECT_EQ(Compile(long_line + "\n"), long_line + "\n");
  // The copy replaces an earlier one.
  EXPECT_EQ(Compile("x\n"), "x\n");
}

TEST_F(CompileSymbolsTest, SymbolOrderAndDuplicates) {
  // A second definition of a name is never found; a value may use an earlier
  // symbol, a line may use a later one.
  EXPECT_EQ(Compile("$set $a = 1\n$set $b = $a\n$set $a = 2\nv $a $b $c\n$set $c = 3\n"), "v 1 1 3\n");
  EXPECT_EQ(console.str(), Debug());

  struct Case {
    std::string text;
    std::string warnings;
  };
  const std::vector<Case> cases = {
      {"$set $a = abc\n$set $b = abc\n", Warning("$a", "$b", "abc")},
      {"$set $a = 1.5\n$set $b = 1.5\n", ""},
      {"$set $a = 1e3\n$set $b = 1e3\n", ""},
      {"$set $a = info\n$set $b = info\n", ""},
      // One notice per new symbol, naming the first with its value, not one
      // per pair.
      {"$set $a = x\n$set $b = x\n$set $c = x\n", Warning("$a", "$b", "x") + Warning("$a", "$c", "x")},
      {"$set $a = y\n$set $b = x\n$set $c = y\n$set $d = x\n$set $e = x\n",
       Warning("$a", "$c", "y") + Warning("$b", "$d", "x") + Warning("$b", "$e", "x")},
      {"$set $a = p\\q\n$set $b = p//\\q\n", Warning("$a", "$b", "p\\q")},  // compared after the joins
  };
  for (const Case& c : cases) {
    console.str("");
    EXPECT_EQ(Compile(c.text), "") << c.text;
    EXPECT_EQ(console.str(), Debug() + c.warnings) << c.text;
  }
}

TEST_F(CompileSymbolsTest, SubstitutionFailures) {
  struct Case {
    std::string text;
    int code;
    std::string entry;
  };
  const std::string long_value(1000, 'v');
  const std::vector<Case> cases = {
      {"[a]\nx $b y\n", 17, Fatal("undefined symbol at line 2", " x $b y\n")},
      {"$set $a = 1\n[$a]\n", 17, Fatal("undefined symbol at line 2", " [$a]\n")},
      {"$set $a = 1\nv $ab\n", 17, Fatal("undefined symbol at line 2", " v $ab\n")},
      {"price 5$\n", 17, Fatal("undefined symbol at line 1", " price 5$\n")},
      {"$set $c = 1\n$set $b = $a\n$set $a = 1\n", 17, Fatal("undefined symbol at line 2", "$a")},
      {"$set $d = x\nv $d//$e\n", 17, Fatal("undefined symbol at line 2", " v x//$e\n")},
      {"\n$set $a = x//$a\n", 117, Fatal("symbol $a refers to itself at line 2", "x//$a")},
      {"$set $p = a$set\n$set $set = $p\n", 117, Fatal("symbol $set refers to itself at line 2", "a$set")},
      {"$set $set = $set\n$set $q = $set\nuse $q\n", 117,
       Warning("$set", "$q", "$set") + Fatal("symbol $set refers to itself at line 3", " use $set\n")},
      {"$set $v = " + long_value + "\n$set $w = $v//$v//$v\n", 118,
       Fatal("substituting symbol $v makes line 2 longer than 2400 characters",
             long_value + "//" + long_value + "//$v")},
      {"$set $v = " + long_value + "\n$v $v $v\n", 118,
       Fatal("substituting symbol $v makes line 2 longer than 2400 characters",
             " " + long_value + " " + long_value + " $v\n")},
  };
  for (const Case& c : cases) {
    console.str("");
    WriteFile(Source(), c.text);
    EXPECT_EQ(CompileCode(), c.code) << c.text;
    EXPECT_EQ(console.str(), Debug() + c.entry) << c.text;
  }
  EXPECT_NE(ReadFile(dir / "diag.xml").find("<line level=\"0\" description= \";--"), std::string::npos);
}

TEST_F(CompileSymbolsTest, FileFailures) {
  // Missing control file, and a directory in its place.
  EXPECT_EQ(CompileCode(), 28);
  EXPECT_EQ(console.str(), Debug() + "error opening " + Source() + "\n");
  std::filesystem::create_directory(Source());
  console.str("");
  EXPECT_EQ(CompileCode(), 28);
  EXPECT_EQ(console.str(), Debug() + "error opening " + Source() + "\n");
  std::filesystem::remove(Source());

  // The copy cannot be created.
  WriteFile(Source(), "a\n");
  std::filesystem::create_directory(Source() + ".intern");
  console.str("");
  EXPECT_EQ(CompileCode(), 28);
  EXPECT_EQ(console.str(), Debug() + "error opening " + Source() + ".intern\n");
  std::filesystem::remove(Source() + ".intern");

  // The copy cannot be written in full. It is written under the name of
  // this process before it takes its own, and goes when it fails.
  if (std::filesystem::exists("/dev/full")) {
    const std::string partial = Source() + ".intern." + std::to_string(static_cast<long>(getpid()));
    std::filesystem::create_symlink("/dev/full", partial);
    console.str("");
    EXPECT_EQ(CompileCode(), 11);
    EXPECT_EQ(console.str(), Debug() + "error closing " + Source() + ".intern\n");
    EXPECT_FALSE(std::filesystem::is_symlink(partial));
    EXPECT_FALSE(std::filesystem::exists(Source() + ".intern"));
  }
}

TEST_F(CompileSymbolsTest, ControlFileThatCannotBeRewound) {
  ASSERT_EQ(mkfifo(Source().c_str(), 0600), 0);
  std::thread writer([this] {
    std::ofstream pipe(Source());
    pipe << "$set $a = 1\nv $a\n";
  });
  const int code = CompileCode();
  writer.join();
  EXPECT_EQ(code, 28);
  EXPECT_EQ(console.str(), Debug() + "error rewinding " + Source() + "\n");
}

}  // namespace
}  // namespace velmo
