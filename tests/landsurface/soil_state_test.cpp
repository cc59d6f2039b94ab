// The soil block of the state file: its layout, a warm start that takes the water in transit and the direct
// runoff back exactly, the checks against the section, and the file of each run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "landsurface/bodenmod.h"
#include "landsurface/soil_fixture.h"
#include "setup/statefile.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Two subbasins of three cells with travel times of up to three steps.
void Cells(soil_domain& d, const std::vector<double>& zones = {1, 1, 1, 2, 2, 2},
           const std::vector<double>& flow_times = {0, 3600, 7200, 3600, 7200, 10800}) {
  d.Domain(2, 3, zones);
  d.Grid("flow_times", flow_times);
  d.StandardGrids();
}

soil_control TwoColumns() {
  soil_control control;
  control.codes = "1 2";
  soil_column wet;
  wet.SDini = 0.0;  // saturated: direct runoff from the start
  soil_column dry;
  dry.m = 0.03;
  dry.SDini = 0.8;
  dry.QDsnow = 0.0;
  control.columns = {wet, dry};
  return control;
}

// Rain of `mm` on every cell.
void Rain(soil_domain& d, double mm) {
  double** input = d.Find("precipitation");
  for (int r = 1; r <= d.Rows(); ++r)
    for (int c = 1; c <= d.Cols(); ++c) input[r][c] = mm;
}

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

TEST(SoilState, StoredValuesMatchWithinAShareOfTheStoredValue) {
  struct Case {
    double stored, control;
    bool match;
  };
  const Case cases[] = {{1.0, 1.00002, false}, {1.0, 1.000005, true}, {0.0, 0.001, false},
                        {0.0, 0.0, true},      {0.001, 0.0, false},   {-2.0, -2.00001, true}};
  for (const Case& c : cases)
    EXPECT_EQ(StoredValueMatches(c.stored, c.control), c.match) << c.stored << " " << c.control;
}

TEST(SoilState, LayoutAndAWarmStartThatTakesTheStateBackExactly) {
  soil_control control = TwoColumns();
  std::string written;
  std::vector<std::uint64_t> state;  // zoneFZT fields and QD, subbasin by subbasin
  auto capture = [](bodenmodellklasse& m) {
    std::vector<std::uint64_t> bits;
    for (int i = 1; i <= m.subbasin_count; ++i) {
      for (int k = 1; k <= m.states[static_cast<size_t>(i)].maxzeit; ++k) {
        const travel_zone& z = m.zoneFZT(i)[k];
        for (double v : {z.n, z.sx, z.zonenwert, z.rel, z.RelCellSum}) bits.push_back(Bits(v));
      }
      bits.push_back(Bits(m.states[static_cast<size_t>(i)].QD));
    }
    return bits;
  };
  {
    soil_domain d;
    Cells(d);
    auto model = d.Build(control);
    model->SetReady(1);
    for (int step = 1; step <= 4; ++step) {
      Rain(d, step % 2 == 0 ? 40.0 : 1.0);
      model->RunTimeStep(0, step, 1, 1, 2001);
    }
    ASSERT_EQ(model->states[2].maxzeit, 3);
    ASSERT_GT(model->zoneFZT(1)[2].sx, 0.0);  // water still in transit
    ASSERT_GT(model->states[1].QD, 0.0);
    state = capture(*model);
    model->CleanUp();
    written = ReadFile(d.dir / "state.txt");
  }
  EXPECT_THAT(written,
              StartsWith("[soil_model]\n2 (number of subasins)\n1\t2\t(code)\n20\t30\t(m:\trecession "
                         "constant)\n1e-05\t1e-05\t(Tkorr:\ttransmissivity scaling for saturated zone)\n"));
  size_t at = 0;
  for (const char* label : {"(Kkorr:\t", "(k_ELS_QD:\t", "(SD_QI_lim:\t", "(k_ELS_QI:\t", "(anffuell:\t",
                            "(anfdefi:\t", "(Pgrenz:\t", "(rueck:\t",
                            "(SR_Anteil:\tsurface runoff fraction of snowmelt)\n1 2 (zone 1 and maxzeit)\n",
                            " (zoneFZT.n/.sx/.zonenwert/.rel/.RelCellSum)\n",
                            " (QD[1])\n2 3 (zone 2 and maxzeit)\n", " (QD[2])\n\n"}) {
    at = written.find(label, at);
    ASSERT_NE(at, std::string::npos) << label;
  }
  EXPECT_TRUE(written.ends_with(" (QD[2])\n\n"));

  // Read mode 2 takes the block (not the state grids); the state comes back
  // bit for bit, and writing it again gives the same bytes.
  soil_domain d;
  Cells(d);
  state_file_session session;  // the warm run's: its block replaces the file
  d.settings.state_files = &session;
  WriteFile(d.dir / "state.txt", written);
  control.read_mode = 2;
  auto warm = d.Build(control);
  EXPECT_EQ(capture(*warm), state);
  warm->SetReady(1);
  warm->CleanUp();
  EXPECT_EQ(ReadFile(d.dir / "state.txt"), written);
}

TEST(SoilState, ChecksAgainstTheSection) {
  std::string stored;
  {
    soil_domain d;
    Cells(d);
    stored = d.WrittenState(TwoColumns());
  }
  struct Case {
    std::string what;
    std::function<void(soil_domain&, soil_control&, std::string&)> change;
    int code;  // 0: read without a fault
    std::string message;
  };
  const Case cases[] = {
      {"a third subbasin",
       [](soil_domain& d, soil_control& c, std::string&) {
         Cells(d, {1, 1, 2, 2, 3, 3}, {0, 3600, 0, 3600, 0, 3600});
         c.codes = "1 2 3";
         c.columns.push_back(soil_column{});
       },
       71,
       "error in storage file content reading number of subbasins:\nvalue in actual control is:   3\nbut "
       "value in "
       "storage file is: 2\nVelmo throws...\n"},
      {"another code",
       [](soil_domain& d, soil_control& c, std::string&) {
         Cells(d, {1, 1, 1, 5, 5, 5});
         c.codes = "1 5";
       },
       71, "reading subbasin code:\nvalue in actual control is:   5\nbut value in storage file is: 2\n"},
      {"Tkorr beyond 1e-5 of the stored",
       [](soil_domain& d, soil_control& c, std::string&) {
         Cells(d);
         c.columns[1].Tkorr = 1.00002e-5;
       },
       71, "reading Tkorr:\n"},
      {"Tkorr within 1e-5 of the stored",
       [](soil_domain& d, soil_control& c, std::string&) {
         Cells(d);
         c.columns[1].Tkorr = 1.000005e-5;
       },
       0, ""},
      {"alpha, k_ELS_QBB and QBBini are not checked",
       [](soil_domain& d, soil_control& c, std::string&) {
         Cells(d);
         c.columns[0].alpha = 0.5;
         c.columns[0].k_ELS_QBB = 7.0;
         c.columns[0].QBBini = 2.0;
       },
       0, ""},
      {"a stored 0 against 0.001",
       [](soil_domain& d, soil_control& c, std::string&) {
         Cells(d);
         c.columns[1].QDsnow = 0.001;
       },
       71, "reading SR_Anteil:\nvalue in actual control is:   0.001\nbut value in storage file is: 0\n"},
      {"other travel times",
       [](soil_domain& d, soil_control&, std::string&) {
         Cells(d, {1, 1, 1, 2, 2, 2}, {0, 3600, 7200, 0, 0, 0});
       },
       71,
       "reading maxzeit of actual subbasin:\nvalue in actual control is:   1\nbut value in storage file is: "
       "3\n"},
      {"a zone of four fields",
       [](soil_domain& d, soil_control&, std::string& text) {
         Cells(d);
         const size_t end = text.find(" (zoneFZT");
         text.erase(text.rfind(' ', end - 1), end - text.rfind(' ', end - 1));
       },
       71,
       "reading number of fields for zonal statistics QD:\nvalue in actual control is:   5\nbut value in "
       "storage file is: 4\n"},
      {"a file cut short",
       [](soil_domain& d, soil_control&, std::string& text) {
         Cells(d);
         text.erase(text.rfind('\n', text.find("(QD[2])")) + 1);  // before the value of QD[2]
       },
       71, "reading QD:\nno value in storage file state.txt"},
      {"no soil block",
       [](soil_domain& d, soil_control&, std::string& text) {
         Cells(d);
         text = "[routing_model_v2]\n60.000 (timestep in minutes)\n";
       },
       71, "error locking for the section soil_model in state.txt\n"},
      {"no file",
       [](soil_domain& d, soil_control&, std::string& text) {
         Cells(d);
         text.clear();
       },
       64, "error opening storage content file state.txt\n"},
  };
  for (const Case& c : cases) {
    soil_domain d;
    soil_control control = TwoColumns();
    control.read_mode = 2;
    std::string text = stored;
    c.change(d, control, text);
    if (!text.empty()) WriteFile(d.dir / "state.txt", text);
    std::string console;
    EXPECT_EQ(d.BuildCode(control, console), c.code) << c.what << "\n" << console;
    EXPECT_THAT(console, HasSubstr(c.message)) << c.what;
  }
}

TEST(SoilState, EachRunWritesAFreshFile) {
  soil_domain d;
  Cells(d);
  WriteFile(d.dir / "state.txt", "[soil_model]\nthe block of an older run\n");
  // Two runs with the routing model off: one soil block, this run's.
  for (int run = 1; run <= 2; ++run) {
    state_file_session run_session;
    d.settings.state_files = &run_session;
    const std::string text = d.WrittenState(TwoColumns());
    EXPECT_EQ(text.find("[soil_model]"), 0u) << run;
    EXPECT_EQ(text.find("[soil_model]", 1), std::string::npos) << run;
  }

  // A state file that cannot be written: an ERROR entry, noted for the end of
  // the run; the clean-up goes on.
  soil_control control = TwoColumns();
  state_file_session session;
  d.settings.state_files = &session;
  std::filesystem::remove(d.dir / "state.txt");
  std::filesystem::create_directory(d.dir / "state.txt");
  auto model = d.Build(control);
  model->SetReady(1);
  d.console.str("");
  model->CleanUp();
  EXPECT_THAT(d.console.str(),
              HasSubstr("couldn't open file \"state.txt\" \n(model version doesn't support this "
                        "feature or write access error)\n"));
  EXPECT_THAT(d.console.str(), HasSubstr("deleting module"));
  EXPECT_TRUE(session.Failed());
}

}  // namespace
}  // namespace velmo::test
