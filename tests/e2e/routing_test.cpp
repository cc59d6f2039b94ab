// Runs the real program with a routing section (tests/data/routing): the
// routing model is built, writes its w-q table and the head of its discharge
// table and opens the observed discharge; without a soil model to hand it the
// runoff, the run then ends with code 43.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;
using test::WriteFile;

const std::string kData = VELMO_TEST_DATA "/routing/";

class RoutingRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"routing.ctl", "zones.asc", "dem.asc", "observed.txt"})
      std::filesystem::copy_file(kData + file, dir / file);
  }
  void Edit(const std::string& from, const std::string& to) {
    test::ReplaceInFile(dir / "routing.ctl", from, to);
  }
  int Velmo() { return RunVelmo(dir.path().string(), "routing.ctl", dir / "out.txt"); }
  std::string Transcript() const { return ReadFile(dir / "out.txt"); }

  TempDir dir;
};

// Whether `pieces` occur in `text` in this order.
bool InOrder(const std::string& text, const std::vector<std::string>& pieces) {
  size_t at = 0;
  for (const std::string& piece : pieces) {
    at = text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
  }
  return true;
}

TEST_F(RoutingRun, BuiltThenEndedWithoutRunoff) {
  EXPECT_EQ(Velmo(), 43);
  EXPECT_TRUE(
      InOrder(Transcript(),
              {"number inbetween areas (routings)    : 1\n", "so the total of routingchannels is   : 1\n",
               "reading routing description 1\n", "looking for starting date in observed.txt\n",
               "No valid discharges for discharge routing!",
               "exceptions in ModellApplication::init() caught!", "Program aborted with exit code 43"}))
      << Transcript();
  EXPECT_TRUE(
      ReadFile(dir / "wq_table.001")
          .starts_with(
              "waterlevel-discharge-table for the channel of subbasin 1 to the outlet of subbasin 2\n"));
  // Subbasin 2 is the outlet of the whole catchment.
  EXPECT_EQ(ReadFile(dir / "qstat.txt"),
            "YY\tMM\tDD\tHH\t\"1\"\t\"2\"\nrouted discharge [ m3 per sec ] _submodel:routing_model\n"
            "--\t--\t--\t--\t0.4000000\t1.0000000\n");
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_NE(ReadFile(dir / "Velmo_Diag.xml").find("<line level=\"0\" description= \"No valid discharges"),
            std::string::npos);
}

TEST_F(RoutingRun, SwitchedOff) {
  Edit("1       flow control parameter", "0       flow control parameter");
  EXPECT_EQ(Velmo(), 0) << Transcript();
  EXPECT_FALSE(std::filesystem::exists(dir / "wq_table.001"));
  EXPECT_TRUE(
      InOrder(Transcript(), {"end of simulation reached successfully!", "deleting module routing_model"}));
  EXPECT_EQ(ReadFile(dir / "Velmo_Diag.xml").find("level=\"0\""), std::string::npos);
}

TEST_F(RoutingRun, DescriptionThatNamesNoSubbasin) {
  Edit("TG 2", "TG 7");
  EXPECT_EQ(Velmo(), 41);
  EXPECT_TRUE(
      InOrder(Transcript(), {"there is no subbasin with code 7", "Program aborted with exit code 41"}));
  EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
}

}  // namespace
}  // namespace velmo
