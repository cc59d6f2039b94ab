// Runs the real program on the soil model with infiltration (tests/data/soil):
// its tables, grids and "modell.log", and the construction failures that end
// the run with their codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "e2e/control_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;
using test::WriteFile;

const std::string kData = VELMO_TEST_DATA "/soil/";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(SoilRun, WritesTablesGridsAndTheTravelTimeLog) {
  TempDir dir;
  test::CopyTestData(dir, "soil");
  const std::string out = dir / "out.txt";
  ASSERT_EQ(RunVelmo(dir.path().string(), "soil.ctl", out), 0) << ReadFile(out);
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_FALSE(Contains(ReadFile(dir / "Velmo_Diag.xml"), "level=\"0\""));
  const std::string transcript = ReadFile(out);
  const size_t soil = transcript.find("deleting module soil_model\n");
  EXPECT_NE(soil, std::string::npos);
  EXPECT_LT(soil, transcript.find("deleting module tracer_ini\n"));

  const std::pair<const char*, const char*> tables[] = {
      {"qd.stat", "gebildeter Direktabfluss in mm je Zone (QD)_submodel:soil_model\n"},
      {"qi.stat", "gebildeter Interflow in mm je Zone (Summe aus QBB, QB und QI)_submodel:soil_model\n"},
      {"qb.stat",
       "gebildeter schneller Basisabfluss in mm je Zone (Summe aus QBB und QB)_submodel:soil_model\n"},
      {"qbb.stat", "gebildeter verzoegerter Basisabfluss in mm je Zone (QBB)_submodel:soil_model\n"},
      {"qges.stat",
       "gebildeter Gesamtabfluss in mm je Zone (Summe aus QBB, QB, QI und QD)_submodel:soil_model\n"},
      {"sb.stat", "Bodenspeicher in 1/1 je Zone _submodel:soil_model\n"},
      {"suz.stat", "Drainspeicher in mm je Zone _submodel:soil_model\n"},
      {"sif.stat", "Interflowspeicher in mm je Zone _submodel:soil_model\n"},
      {"sd.stat", "Saettigungsdefizit in mm je Zone  _submodel:soil_model\n"},
      {"infex.stat", "Infiltrationueberschuss in mm je Zone  _submodel:infiltration_model\n"},
  };
  for (const auto& [file, title] : tables) {
    const std::string table = ReadFile(dir / file);
    // Header, title, area fractions of the two subbasins (5 cells each),
    // and the one step of a run without meteorological input.
    EXPECT_TRUE(
        table.starts_with("YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\n" + std::string(title) +
                          "--\t--\t--\t--\t0.5000000\t0.5000000\t1.0000\n-9999\t-9999\t-9999\t-9999\t"))
        << file << ":\n"
        << table;
  }
  for (const char* grid : {"sd.asc", "suz.asc", "sif.asc", "sbia.asc", "nfkia.asc", "ssp.asc", "qd.asc",
                           "qi.asc", "infex.asc", "infsat.asc"})
    EXPECT_TRUE(ReadFile(dir / grid).starts_with("ncols\t4\nnrows\t3\n")) << grid;
  EXPECT_EQ(ReadFile(dir / "modell.log"),
            "Fliesszeitverteilung:\nTG\t   1\t(  3\tZonen):\t0.400\t0.400\t0.200\n"
            "TG\t   2\t(  3\tZonen):\t0.200\t0.400\t0.400\n");
}

TEST(SoilRun, TheExampleRunsTheSoilModelThroughItsMonth) {
  TempDir dir;
  test::CopyExample(dir);
  const std::string out = dir / "out.txt";
  ASSERT_EQ(RunVelmo(dir.path().string(), "example.ctl", out), 0) << ReadFile(out);
  // Travel times of 1 to 4 steps: the head of the valley reaches its outlet
  // within two hours, the lower valley within four.
  EXPECT_EQ(ReadFile(dir / "modell.log"),
            "Fliesszeitverteilung:\nTG\t   1\t(  2\tZonen):\t0.562\t0.438\n"
            "TG\t   2\t(  3\tZonen):\t0.506\t0.443\t0.051\n"
            "TG\t   3\t(  4\tZonen):\t0.138\t0.415\t0.308\t0.138\n");
  // 744 hourly rows after the three header lines, the last at the month's end.
  std::istringstream table(ReadFile(dir / "qges.stat"));
  std::vector<std::string> rows;
  for (std::string line; std::getline(table, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 747u);
  EXPECT_TRUE(rows.back().starts_with("2000\t 3\t31\t24\t")) << rows.back();
  // The peaks of direct runoff, written at the end of the run: the wet valley
  // cells ran off.
  std::istringstream peakflow(ReadFile(dir / "peakflow.asc"));
  std::string line;
  for (int header = 0; header < 6; ++header) std::getline(peakflow, line);
  double largest = 0.0;
  for (double value; peakflow >> value;) largest = std::max(largest, value);
  EXPECT_GT(largest, 0.1);
}

TEST(SoilRun, ConstructionFailuresEndTheRunWithTheirCode) {
  struct Case {
    std::string what;
    std::string from, to;  // an edit of the control file
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"no soil section", "[soil_model]", "[soil]", 17,
       "error in control file, [soil_model]; (EOF)not found!"},
      {"m of 0", "0.02    0.03    m", "0.02    0       m", 1,
       "recession parameter m for subbasin 2 must be above 0 (0)"},
      {"infiltration without soil model", "1       flow control\n60      minutes\n2       method",
       "0       flow control\n60      minutes\n", 47, "Das Infiltrationsmodell kann nur ausgefuehrt werden"},
      {"intervals differ", "1       on\n60      minutes", "1       on\n30      minutes", 67,
       "differs from the time interval of [soil_model]"},
      {"a missing grid", "topo.asc topographic_faktor", "topo.asc topographic_index", 33,
       "topographic_faktor not found in memory"},
  };
  const std::string original = ReadFile(kData + "soil.ctl");
  for (const Case& c : cases) {
    TempDir dir;
    test::CopyTestData(dir, "soil");
    std::string control = original;
    const size_t at = control.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.what;
    control.replace(at, c.from.size(), c.to);
    WriteFile(dir / "soil.ctl", control);
    const std::string out = dir / "out.txt";
    EXPECT_EQ(RunVelmo(dir.path().string(), "soil.ctl", out), c.code) << c.what;
    const std::string transcript = ReadFile(out);
    EXPECT_TRUE(Contains(transcript, c.message)) << c.what << "\n" << transcript;
    EXPECT_TRUE(Contains(transcript, "Program aborted with exit code " + std::to_string(c.code))) << c.what;
    EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml")) << c.what;
  }
}

}  // namespace
}  // namespace velmo
