// Tracer descriptions of "[substance_transport]": accepted lines, faults, decay.
#include "setup/tracers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <vector>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A good tracer line that the cases below vary.
const std::string kChloride =
    "Chloride non_radioactive non_evaporating min_conc = 0.1 max_conc = 5.5 mg/l soilini = 1.5 gwini = 2.5 "
    "statcode = 1001 gridcode = 1 path = out/ statext = sta gridext = grd";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A preprocessed control file with the section between two others.
std::string ControlFile(const std::string& count, const std::vector<std::string>& lines) {
  std::string text = "[output_interval]\n1 hours\n[substance_transport]\n" + count + " number of tracers\n";
  for (const std::string& line : lines) text += line + "\n";
  return text + "[model_time]\n0 start hour\n";
}

class TracerSection : public ::testing::Test {
 protected:
  TracerSection() : stream_(dir_ / "diag.xml", kDebug, console_) {}

  std::unique_ptr<tracer_ini_class> ReadFrom(const std::string& file) {
    return std::make_unique<tracer_ini_class>(error_, &stream_, file);
  }
  std::unique_ptr<tracer_ini_class> Read(const std::string& content) {
    WriteFile(dir_ / "control.txt.intern", content);
    return ReadFrom(dir_ / "control.txt.intern");
  }
  std::string Diagnostics() {
    stream_.Close();
    return ReadFile(dir_ / "diag.xml");
  }

  TempDir dir_;
  std::ostringstream console_;
  MessageStream stream_;
  int error_ = -1;
};

TEST_F(TracerSection, CountsWithoutTracersNeedNoTracerLines) {
  for (const std::string count : {"0", "-2"}) {
    auto tracers = Read(ControlFile(count, {}));
    EXPECT_EQ(error_, 0) << count;
    EXPECT_EQ(tracers->tracer_count, 0) << count;
    EXPECT_TRUE(tracers->tracer_descriptions.empty()) << count;
    EXPECT_EQ(tracers->name, "tracer_ini");
  }
}

TEST_F(TracerSection, OneTracerKeepsEveryField) {
  auto tracers = Read(ControlFile("1", {kChloride}));
  ASSERT_EQ(error_, 0) << console_.str();
  ASSERT_EQ(tracers->tracer_count, 1);
  ASSERT_EQ(tracers->tracer_descriptions.size(), 2u);
  const tracer_description& d = tracers->tracer_descriptions[1];
  EXPECT_EQ(d.name, "chl");
  EXPECT_EQ(d.radioactive, 0);
  EXPECT_EQ(d.evaporating, 0);
  EXPECT_DOUBLE_EQ(d.half_time, kNoHalfTime);
  EXPECT_DOUBLE_EQ(d.min_conc, 0.1);
  EXPECT_DOUBLE_EQ(d.max_conc, 5.5);
  EXPECT_DOUBLE_EQ(d.soilini, 1.5);
  EXPECT_DOUBLE_EQ(d.gwini, 2.5);
  EXPECT_EQ(d.statcode, 1001);
  EXPECT_EQ(d.gridcode, 1);
  EXPECT_EQ(d.path, "out/");
  EXPECT_EQ(d.statext, "sta");
  EXPECT_EQ(d.gridext, "grd");
  EXPECT_NE(console_.str().find("reading parameters for tracer 1 ...\ndone.\n"), std::string::npos);

  tracers->CleanUp();
  EXPECT_EQ(tracers->tracer_count, 0);
  EXPECT_TRUE(tracers->tracer_descriptions.empty());
  EXPECT_NE(console_.str().find("deleting module tracer_ini\n"), std::string::npos);
}

TEST_F(TracerSection, NineTracersInAnyKeywordOrderUnitAndLineEnd) {
  auto tracers = ReadFrom(std::string(VELMO_TEST_DATA) + "/tracers/nine_tracers.intern");
  ASSERT_EQ(error_, 0) << console_.str();
  ASSERT_EQ(tracers->tracer_count, 9);
  const auto& d = tracers->tracer_descriptions;
  const std::vector<std::string> names = {"", "chl", "tri", "nit", "o18", "n__", "cs1", "sr9", "bro", "dx_"};
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(d[i].name, names[i]) << i;

  EXPECT_EQ(d[2].radioactive, 1);
  EXPECT_DOUBLE_EQ(d[2].half_time, 4500.0);
  EXPECT_EQ(d[2].evaporating, 1);
  EXPECT_DOUBLE_EQ(d[2].max_conc, 1.5);  // g/l: checked, not converted
  // Keywords in reverse order.
  EXPECT_EQ(d[4].path, "isotopes/");
  EXPECT_EQ(d[4].statcode, 3001);
  EXPECT_EQ(d[4].gridcode, 2);
  EXPECT_DOUBLE_EQ(d[4].min_conc, -50.0);
  EXPECT_DOUBLE_EQ(d[4].gwini, -10.5);
  EXPECT_EQ(d[4].evaporating, 1);
  // max_conc last on its line and without a unit.
  EXPECT_DOUBLE_EQ(d[5].max_conc, 7.5);
  EXPECT_EQ(d[5].statcode, 1001);
  EXPECT_EQ(d[5].statext, "st2");
  // Tab-separated, CR LF line end.
  EXPECT_DOUBLE_EQ(d[6].half_time, 11000.0);
  EXPECT_EQ(d[6].gridext, "grd");
  // "half_time=" without blanks is fine: the value follows the first "=".
  EXPECT_DOUBLE_EQ(d[7].half_time, 10500.0);
  EXPECT_EQ(d[8].path, "c:\\data\\out\\");
  EXPECT_EQ(d[9].gridcode, -1);
}

TEST_F(TracerSection, LineVariantsThatAreAccepted) {
  struct Case {
    std::string line;
    double half_time;
    double max_conc;
    std::string path;
  };
  const std::string long_path(kMaxTracerTextLength, 'p');
  const std::vector<Case> cases = {
      // "non_radioactive" wins over a half-life given as well.
      {Replace(kChloride, "non_evaporating", "non_evaporating half_time = 5 d"), kNoHalfTime, 5.5, "out/"},
      {Replace(kChloride, "non_radioactive", "radioactive half_time = 12.5 d"), 12.5, 5.5, "out/"},
      {Replace(kChloride, "max_conc = 5.5 mg/l ", "") + " max_conc = 0.5", kNoHalfTime, 0.5, "out/"},
      {Replace(kChloride, "5.5 mg/l", "5.5 Kg/Kg"), kNoHalfTime, 5.5, "out/"},
      {Replace(kChloride, "path = out/", "path = " + long_path), kNoHalfTime, 5.5, long_path},
  };
  for (const Case& c : cases) {
    auto tracers = Read(ControlFile("1", {c.line}));
    ASSERT_EQ(error_, 0) << c.line << "\n" << console_.str();
    const tracer_description& d = tracers->tracer_descriptions[1];
    EXPECT_DOUBLE_EQ(d.half_time, c.half_time) << c.line;
    EXPECT_DOUBLE_EQ(d.max_conc, c.max_conc) << c.line;
    EXPECT_EQ(d.path, c.path) << c.line;
  }
}

struct FaultCase {
  std::string what;
  std::string content;  // the control file
  int code;
  std::string entry;  // console text of the FATAL entry (the prefix is not shown there)
};

std::vector<FaultCase> FaultCases() {
  return {
      {"ten tracers", ControlFile("10", std::vector<std::string>(10, kChloride)), 58,
       "not more than 9 tracer species are allowed at one time"},
      {"Nitrate and nitrogen",
       ControlFile("3", {kChloride, Replace(kChloride, "Chloride", "Nitrate"),
                         Replace(kChloride, "Chloride", "nitrogen")}),
       59,
       "\n----------- ERROR in substance_transport ---------\n\nsubstance #3 and substance #2 have the same\n"
       "first 3 chars (lowercase) in its name (nit <-> "
       "nit)\n\n--------------------------------------------------"
       "\n"},
      {"N and n",
       ControlFile("2", {Replace(kChloride, "Chloride", "N"), Replace(kChloride, "Chloride", "n")}), 59,
       "in its name (n__ <-> n__)"},
      {"wrong unit", ControlFile("1", {Replace(kChloride, "5.5 mg/l", "0.5 ppm")}), 56,
       "error reading max_conc for tracer 1:\nwrong measure (only mg/l, g/l or kg/kg resp. no measure are "
       "allowed!)\nread here: ppm\n"},
      {"next keyword taken as unit", ControlFile("1", {Replace(kChloride, " mg/l", "")}), 56,
       "read here: soilini\n"},
      {"unreadable statcode of tracer 2",
       ControlFile("2", {kChloride, Replace(Replace(kChloride, "Chloride", "Br"), "1001", "abc")}), 56,
       "error reading statcode for tracer 2!\n"},
      {"statcode without blank", ControlFile("1", {Replace(kChloride, "statcode = ", "statcode=")}), 56,
       "error reading statcode for tracer 1:\nneed a key word \"statcode = xxxx\"\n"},
      {"missing section", "[output_interval]\n1 hours\n[model_time]\n0\n", 17,
       "error in control file, [substance_transport]; (EOF)not found!\n"},
      {"unreadable count", ControlFile("many", {}), 17,
       "error in control file,  number of tracers in ; tracer_ininot found!\n"},
      {"no radioactivity keyword", ControlFile("1", {Replace(kChloride, "non_radioactive ", "")}), 56,
       "error reading parameters for tracer 1:\n need a key word \"radioactive\" or \"non_radioactive\"\n"
       "(may be, the number of tracers (1) is wrong?\n\n"},
      {"count larger than the lines", ControlFile("2", {kChloride}), 56,
       "error reading parameters for tracer 2:\n need a key word \"radioactive\" or \"non_radioactive\"\n"
       "(may be, the number of tracers (2) is wrong?\n"},
      {"file ends before the last tracer", "[substance_transport]\n2\n" + kChloride + "\n", 56,
       "error reading parameters for tracer 2:\nthe control file ends in [substance_transport] before the "
       "line "
       "of this tracer\n(may be, the number of tracers (2) is wrong?\n"},
      {"radioactive without half_time",
       ControlFile("1", {Replace(kChloride, "non_radioactive", "radioactive")}), 56,
       "error in tracer_info_table tracer 1: need a \"half_time = xxxx d\" sequence!\n"},
      {"half_time in days",
       ControlFile("1", {Replace(kChloride, "non_radioactive", "radioactive half_time = 30 days")}), 56,
       "error reading half_time for tracer 1: no \"d\" for measure found!\n"},
      {"half_time without word",
       ControlFile("1", {Replace(kChloride, "non_radioactive", "radioactive") + " half_time = 30"}), 56,
       "error reading half_time for tracer 1\n"},
      {"half_time zero",
       ControlFile("1", {Replace(kChloride, "non_radioactive", "radioactive half_time = 0 d")}), 56,
       "error in half_time for tracer 1: must be greater than 0!\n"},
      {"no evaporation keyword", ControlFile("1", {Replace(kChloride, "non_evaporating ", "")}), 56,
       "error reading parameters for tracer 1:\n need a key word \"evaporating\" or \"non_evaporating\"\n"
       "(may be, the number of tracers (1) is wrong?\n"},
      {"missing gwini", ControlFile("1", {Replace(kChloride, "gwini = 2.5 ", "")}), 56,
       "error reading parameters for tracer 1:\nneed a key word \"gwini = xxxx\"\n"},
      {"no = after min_conc", ControlFile("1", {Replace(kChloride, "min_conc = 0.1 ", "") + " min_conc 0.1"}),
       56, "error reading min_conc for tracer 1: no \"min_conc =\" found!\n"},
      {"unreadable min_conc", ControlFile("1", {Replace(kChloride, "min_conc = 0.1", "min_conc = x")}), 56,
       "error reading min_conc for tracer 1\n"},
      {"unreadable max_conc", ControlFile("1", {Replace(kChloride, "max_conc = 5.5", "max_conc = x")}), 56,
       "error reading max_conc for tracer 1\n"},
      {"unreadable soilini", ControlFile("1", {Replace(kChloride, "soilini = 1.5", "soilini = x")}), 56,
       "error reading soilini for tracer 1!\n"},
      {"missing gridext", ControlFile("1", {Replace(kChloride, " gridext = grd", "")}), 56,
       "error reading gridext for tracer 1:\nneed a key word \"gridext = xxxx\"\n"},
      {"gridext without value", ControlFile("1", {Replace(kChloride, "gridext = grd", "gridext =")}), 56,
       "error reading gridext for tracer 1!\n"},
      {"path too long",
       ControlFile(
           "1", {Replace(kChloride, "path = out/", "path = " + std::string(kMaxTracerTextLength + 1, 'p'))}),
       56, "error reading path for tracer 1: more than 299 characters!\n"},
  };
}

TEST_F(TracerSection, FaultsGiveTheirEntryAndCode) {
  for (const FaultCase& c : FaultCases()) {
    console_.str("");
    auto tracers = Read(c.content);
    EXPECT_EQ(error_, c.code) << c.what;
    EXPECT_NE(console_.str().find(c.entry), std::string::npos)
        << c.what << "\nexpected: " << c.entry << "\nconsole: " << console_.str();
    // A failed section hands out no half-read table.
    EXPECT_EQ(tracers->tracer_count, 0) << c.what;
    EXPECT_TRUE(tracers->tracer_descriptions.empty()) << c.what;
  }
  EXPECT_NE(Diagnostics().find("<line level=\"0\" description= \"error reading path for tracer 1"),
            std::string::npos);
}

TEST_F(TracerSection, ControlFileThatCannotBeOpened) {
  const std::string missing = dir_ / "absent.intern";
  auto tracers = ReadFrom(missing);
  EXPECT_EQ(error_, 28);
  EXPECT_NE(console_.str().find("error opening " + missing + "\n"), std::string::npos);
}

TEST(TracerDecay, FactorIsHalfPowerOfStepOverHalfLife) {
  EXPECT_NEAR(TracerDecayFactor(1.0, 1440.0), 0.5, 1e-9);
  EXPECT_NEAR(TracerDecayFactor(2.0, 1440.0), std::sqrt(0.5), 1e-9);
  EXPECT_NEAR(TracerDecayFactor(1.0, 60.0), std::pow(0.5, 1.0 / 24.0), 1e-9);
  // Each module derives its own factor from the one half-life.
  EXPECT_NE(TracerDecayFactor(4500.0, 60.0), TracerDecayFactor(4500.0, 1440.0));
}

}  // namespace
}  // namespace velmo
