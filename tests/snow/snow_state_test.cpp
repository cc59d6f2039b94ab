// The snow block of the state file: its text, reading it with rescaling and its mismatches, the older block,
// read modes, and the run's state file session that creates the file with the first block.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "setup/statefile.h"
#include "snow/snow_fixture.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Three subbasins (codes 1, 2, 5) on a 3 x 2 domain.
class SnowState : public SnowDomain {
 protected:
  SnowState() { Register("zonegrid_soilmodel", {1, 2, 5, 1, 2, 5}); }

  // Builds the module and gives it glacier outflows (index 1..3) to read into.
  std::unique_ptr<schneemodellklasse> BuildWithOutflows() {
    auto snow = Build();
    if (snow) snow->glacier_outflows.assign(4, glacier_outflow{-1.0, -1.0, -1.0});
    return snow;
  }
  static std::string Block(const std::string& head, const std::vector<int>& indices) {
    std::string text = head;
    for (int i : indices)
      for (const char* kind : {"Qice_slr", "Qfirn_slr", "Qsnow_slr"})
        text += std::to_string(i) + "\t0.5(TG code and " + std::string(kind) + " value)\n";
    return text + "\n";
  }
};

TEST_F(SnowState, TheBlockIsWrittenAtCleanUpWithSeventeenDigits) {
  state_file_session session;
  settings.state_files = &session;
  WriteFile(dir / "state.txt", "left over from an older run\n");
  auto snow = Build();
  ASSERT_TRUE(snow);
  EXPECT_EQ(snow->subbasin_count, 3);
  snow->ReadStorageFile("state.txt", 0);
  snow->SetSubbasinRunoff(nullptr);
  snow->CleanUp();
  EXPECT_THAT(ReadFile(dir / "state.txt"),
              StartsWith("[snow_model_v2]\n3 (number of subasins)\n60.000 (timestep in "
                         "minutes)\n1\t0(TG code and Qice_slr value)\n1\t0(TG code and "
                         "Qfirn_slr value)\n"));

  std::vector<glacier_outflow> outflows(3);
  outflows[1] = {0.1, 2.0, 1e-20};
  outflows[2] = {1.0 / 3.0, 0.0, 7.25};
  EXPECT_EQ(FormatSnowStateBlock(2, 1440.0, outflows),
            "[snow_model_v2]\n2 (number of subasins)\n1440.000 (timestep in minutes)\n"
            "1\t0.10000000000000001(TG code and Qice_slr value)\n1\t2(TG code and Qfirn_slr value)\n"
            "1\t9.9999999999999995e-21(TG code and Qsnow_slr value)\n"
            "2\t0.33333333333333331(TG code and Qice_slr value)\n2\t0(TG code and Qfirn_slr value)\n"
            "2\t7.25(TG code and Qsnow_slr value)\n\n");
}

TEST(SnowStateBlock, ARunWithPermafrostAddsItsCellsBeforeTheEmptyLine) {
  std::vector<permafrost_state_cell> cells = {
      {2, 3, {0.0, 12.0, 0.1 * std::sqrt(12.0)}, 0.1 * std::sqrt(12.0), 45.5},
      {4, 1, {7.0, 0.0, 0.0}, 0.0, 0.0}};
  EXPECT_EQ(FormatSnowStateBlock(1, 1440.0, {}, &cells),
            "[snow_model_v2]\n1 (number of subasins)\n1440.000 (timestep in minutes)\n"
            "1\t0(TG code and Qice_slr value)\n1\t0(TG code and Qfirn_slr value)\n"
            "1\t0(TG code and Qsnow_slr value)\n"
            "2 (number of permafrost cells)\n"
            "2 3 0.34641016151377546 12 0 0.34641016151377546 45.5 (row col: "
            "thaw_depth/snow_free_days/snow_cover_days/root_depth1/available_soil_moisture)\n"
            "4 1 0 0 7 0 0 (row col: "
            "thaw_depth/snow_free_days/snow_cover_days/root_depth1/available_soil_moisture)\n\n");
  // A run with permafrost on no cell still says so.
  cells.clear();
  EXPECT_THAT(FormatSnowStateBlock(1, 60.0, {}, &cells),
              ::testing::EndsWith("value)\n0 (number of permafrost cells)\n\n"));
}

TEST_F(SnowState, ABlockIsReadBackBitForBitAndRescaledToTheStep) {
  std::vector<glacier_outflow> outflows(4);
  outflows[1] = {0.1, 1.0 / 3.0, 2.5e-7};
  outflows[2] = {1e300, 0.0, 42.0};
  outflows[3] = {5.0, 6.0, 7.0};
  WriteFile(dir / "state.txt", "[routing_model_v2]\n60.000\n\n" + FormatSnowStateBlock(3, 60.0, outflows));
  auto snow = BuildWithOutflows();
  snow->ReadStorageFile("state.txt", 1);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(snow->glacier_outflows[static_cast<size_t>(i)].ice, outflows[static_cast<size_t>(i)].ice);
    EXPECT_EQ(snow->glacier_outflows[static_cast<size_t>(i)].firn, outflows[static_cast<size_t>(i)].firn);
    EXPECT_EQ(snow->glacier_outflows[static_cast<size_t>(i)].snow, outflows[static_cast<size_t>(i)].snow);
  }

  // A block of 60 minutes read by a run of 1440 minutes: 24 times the outflow.
  snow.reset();
  SetDomain(3, 2, {1});
  Register("zonegrid_soilmodel", {1, 2, 5, 1, 2, 5});
  Register("temperature_night", {0});
  section.interval = "1440";
  snow = BuildWithOutflows();
  snow->ReadStorageFile("state.txt", 1);
  EXPECT_DOUBLE_EQ(snow->glacier_outflows[3].firn, 144.0);
  EXPECT_EQ(snow->state_file_name, "state.txt");
}

TEST_F(SnowState, TheOlderBlockHasNoStepAndASectionOnTheLastLineIsFound) {
  WriteFile(dir / "state.txt", Block("[snow_model]\n3\n", {1, 2, 3}));
  auto snow = BuildWithOutflows();
  snow->ReadStorageFile("state.txt", 1);
  EXPECT_EQ(snow->glacier_outflows[2].snow, 0.5);
  EXPECT_THAT(console.str(), HasSubstr("INFORMATION: couldn't find section [snow_model_v2], looking now for "
                                       "[snow_model] in " +
                                       dir / "state.txt"));

  // The section on the last line, without a line end: found, but no count follows.
  WriteFile(dir / "state.txt", "x\n[snow_model_v2]");
  console.str("");
  EXPECT_EQ(ThrownCode([&] { snow->ReadStorageFile("state.txt", 1); }), 71);
  EXPECT_THAT(console.str(),
              HasSubstr("(snow model) error in storage file content reading number of subbasins: no "
                        "value in "));
}

TEST_F(SnowState, MismatchesAndMissingSectionsEndTheRunWith71) {
  auto snow = BuildWithOutflows();
  const std::string path = dir / "state.txt";
  struct mismatch {
    std::string file;
    std::string entry;
  };
  const mismatch cases[] = {
      {Block("[snow_model_v2]\n2 (number of subasins)\n60.0\n", {1, 2}),
       "(snow model) error in storage file content reading number of subbasins:\nvalue in actual control is: "
       "  "
       "3\nbut value in storage file is: 2\nVelmo throws..."},
      {Block("[snow_model_v2]\n3 (number of subasins)\n60.0\n", {1, 2, 4}),
       "reading subbasin code:\nvalue in actual control is:   3\nbut value in storage file is: 4\n"},
      {"[soil_model]\n1\n", "error locking for the section [snow_model_v2] or [snow_model] in " + path},
      {"[snow_model_v2]\n3\n60\n1\tx\n", "reading outflow: no value in " + path},
      {"[snow_model_v2]\n3\n0\n", "reading timestep: no value in " + path},
  };
  for (const mismatch& m : cases) {
    WriteFile(path, m.file);
    console.str("");
    EXPECT_EQ(ThrownCode([&] { snow->ReadStorageFile("state.txt", 1); }), 71) << m.entry;
    EXPECT_THAT(console.str(), HasSubstr(m.entry));
  }
}

TEST_F(SnowState, ReadModesAndAMissingFile) {
  auto snow = BuildWithOutflows();
  snow->SetSubbasinRunoff(nullptr);
  // A missing file: two warnings, the cold-start outflows stay.
  snow->ReadStorageFile("none.txt", 1);
  EXPECT_EQ(snow->glacier_outflows[1].ice, -1.0);
  EXPECT_THAT(console.str(), HasSubstr("in snow/glacier model: error opening storage content file " +
                                       dir / "none.txt" + "\nglacier model will be run with cold start"));
  // Modes 2 and 4 keep no name: nothing is written at the end.
  for (int mode : {2, 4}) {
    snow->state_file_name.clear();
    snow->ReadStorageFile("state.txt", mode);
    EXPECT_TRUE(snow->state_file_name.empty()) << mode;
  }
  // Mode 0 reads nothing, not even a broken file, and writes at the end.
  WriteFile(dir / "state.txt", "broken");
  snow->ReadStorageFile("state.txt", 0);
  EXPECT_EQ(snow->glacier_outflows[1].ice, -1.0);
  snow->CleanUp();
  EXPECT_THAT(ReadFile(dir / "state.txt"), StartsWith("broken[snow_model_v2]\n3 (number"));
}

TEST_F(SnowState, TheFirstBlockOfARunCreatesTheFileAndAFailureIsKept) {
  state_file_session session;
  const std::string path = dir / "state.txt";
  WriteFile(path, "old");
  for (const char* block : {"routing\n", "soil\n"}) {
    std::FILE* file = session.OpenBlock(path);
    ASSERT_NE(file, nullptr);
    std::fputs(block, file);
    EXPECT_TRUE(state_file_session::CloseBlock(file));
  }
  EXPECT_EQ(ReadFile(path), "routing\nsoil\n");
  EXPECT_FALSE(session.Failed());

  settings.state_files = &session;
  auto snow = Build();
  snow->ReadStorageFile("missing/state.txt", 0);
  snow->SetSubbasinRunoff(nullptr);
  snow->CleanUp();
  EXPECT_TRUE(session.Failed());
  EXPECT_THAT(console.str(), HasSubstr("in snow/glacier model: error writing storage content file " +
                                       dir / "missing/state.txt"));
  EXPECT_THAT(console.str(), HasSubstr("deleting module snow_model"));
}

TEST(StoredValue, AStoredZeroTakesNoOtherValueElseFiveMillionthsRelative) {
  struct {
    double stored, control;
    bool differs;
  } cases[] = {{0.0, 0.0, false},    {0.0, 0.001, true},      {1.0, 1.000005, false},
               {1.0, 1.00002, true}, {-2.0, -2.00001, false}, {-2.0, -1.9, true}};
  for (const auto& c : cases) EXPECT_EQ(StoredValueDiffers(c.stored, c.control), c.differs) << c.control;
}

}  // namespace
}  // namespace velmo::test
