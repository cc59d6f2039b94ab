// The section "[ExternalCoupling]": a complete section, empty lists, absent sections and faults.
#include "setup/coupling.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using test::WriteFile;

constexpr double N = -9999.0;
constexpr int kRows = 2;
constexpr int kCols = 3;

// Values up to the first count; the tail follows.
constexpr const char* kHead = "[ExternalCoupling]\n1\nready.sem\n30\nH\n60\n";
constexpr const char* kPossibleReason =
    "defaults\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block\n";

struct CouplingFixture : test::SmallDomainTest {
  CouplingFixture()
      : SmallDomainTest(
            {.zone = {{N, 4, 4}, {4, 5, N}}, .elevation = {}, .landuse = {}, .soil = {}, .set_up = false}) {}
  ~CouplingFixture() override { setup.ReleaseCoupling(); }

  double** zone = table[1].data;

  void Read(const std::string& text) {
    WriteFile(dir / "control.intern", text);
    setup.GetCouplingParameters();
  }

  // Reads `text`, expects `code` and returns the console text.
  std::string ExpectCode(int code, const std::string& text) {
    const auto read = [&] { Read(text); };
    return test::ExpectCode(console, code, read, text);
  }
};

TEST_F(CouplingFixture, CompleteSectionIsReadWithItsAccumulationGrids) {
  setup.control_file_name = VELMO_TEST_DATA "/coupling/complete.txt";
  setup.GetCouplingParameters();
  EXPECT_NE(setup.control_file, nullptr);  // left open for the closing stage
  EXPECT_EQ(console.str(), "");

  const external_coupling& k = setup.coupling;
  EXPECT_EQ(k.coupling_mode, 1);
  EXPECT_EQ(k.semaphore_file, "C:\\ext\\ready.sem");
  EXPECT_EQ(k.scan_wait_interval, 30);
  EXPECT_EQ(k.exchange_unit, 'D');
  EXPECT_EQ(k.external_time_step, 1440);

  ASSERT_EQ(k.read_grids.size(), 2u);
  EXPECT_EQ(k.read_grids[0].grid_name, "gw_table");
  EXPECT_EQ(k.read_grids[0].entity, "GW");
  EXPECT_EQ(k.read_grids[0].fill_code, 1);
  EXPECT_EQ(k.read_grids[0].rename_code, 0);
  EXPECT_EQ(k.read_grids[1].grid_name, "gw_recharge");
  EXPECT_EQ(k.read_grids[1].entity, "GW2");
  EXPECT_EQ(k.read_grids[1].fill_code, 2);
  EXPECT_EQ(k.read_grids[1].rename_code, 1);

  ASSERT_EQ(k.write_grids.size(), 3u);
  EXPECT_EQ(k.write_grids[1].grid_name, "runoff");
  EXPECT_EQ(k.write_grids[1].entity, "RO");
  EXPECT_EQ(k.write_grids[1].write_code_word, "SumTotal_DM");
  EXPECT_EQ(k.write_grids[2].write_code_word, "Max");
  EXPECT_FALSE(k.write_grids[2].accumulation);
  for (int i : {0, 1}) {
    ASSERT_TRUE(k.write_grids[static_cast<size_t>(i)].accumulation) << i;
    double** acc = k.write_grids[static_cast<size_t>(i)].accumulation.get();
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) EXPECT_EQ(acc[r][c], zone[r][c] == N ? N : 0.0) << r << "," << c;
  }

  ASSERT_EQ(k.statistics.size(), 1u);
  EXPECT_EQ(k.statistics[0].file_name, "stat.txt");
  EXPECT_EQ(k.statistics[0].entity, "ST");
  EXPECT_EQ(k.statistics[0].write_code_word, "Sum");
  EXPECT_EQ(k.inform_semaphore_file, "inform.sem");
  EXPECT_EQ(k.inform_semaphore_content, "go_on");
}

TEST_F(CouplingFixture, EmptyListsReadNoGroupsAndCrLfLinesAreTaken) {
  setup.control_file_name = VELMO_TEST_DATA "/coupling/crlf_empty_lists.txt";
  setup.GetCouplingParameters();
  const external_coupling& k = setup.coupling;
  EXPECT_EQ(k.exchange_unit, 'Y');
  EXPECT_TRUE(k.read_grids.empty());
  EXPECT_TRUE(k.write_grids.empty());
  EXPECT_TRUE(k.statistics.empty());
  EXPECT_EQ(k.inform_semaphore_file, "inform.sem");
  EXPECT_EQ(k.inform_semaphore_content, "go");
}

TEST_F(CouplingFixture, AbsentSectionOrModeZeroReadsNothing) {
  const char* texts[] = {
      "[output_interval]\n24\n",
      "[ExternalCoupling]\n0  no coupling\nwhatever follows\n is not read\n",
  };
  for (const char* text : texts) {
    console.str("");
    Read(text);
    EXPECT_EQ(console.str(), "") << text;
    EXPECT_EQ(setup.coupling.coupling_mode, 0) << text;
    EXPECT_TRUE(setup.coupling.semaphore_file.empty()) << text;
    EXPECT_EQ(setup.coupling.exchange_unit, 'I') << text;
  }
}

TEST_F(CouplingFixture, MalformedSectionsNameTheirFault) {
  const std::string head = kHead;
  const std::string unit_head = "[ExternalCoupling]\n1\nready.sem\n30\n";
  struct fault_case {
    std::string text;
    int code;
    std::string message;
  };
  const fault_case cases[] = {
      {unit_head + " D\n60\n0\n0\n0\ni\nc\n", kCouplingFormatErrorCode,
       "-----------------error------------\nerror reading Coupling Mode (I, H, D, M or Y) for external gw "
       "table "
       "grid " +
           std::string(kPossibleReason)},
      {unit_head + "d\n60\n0\n0\n0\ni\nc\n", kCouplingFormatErrorCode, "error reading Coupling Mode"},
      {head + "2\ngw GW 1 0\ngw2 GW2 one 0\n0\n0\ni\nc\n", kCouplingFormatErrorCode,
       "-----------------error------------\nerror reading external (read) grid name/entity/fill code/rename "
       "code " +
           std::string(kPossibleReason)},
      {head + "0\n2\nsm SM Mean\nro RO\n", kCouplingFormatErrorCode,
       "-----------------error------------\nerror reading external (write) grid name/entity/Writecode" +
           std::string(kPossibleReason)},
      {head + "0\n0\n1\nstat.txt ST\n", kCouplingFormatErrorCode,
       "-----------------error------------\nerror reading external (write) Statfile name/entity/writecode" +
           std::string(kPossibleReason)},
      {"[ExternalCoupling]\n1\n", kControlFileErrorCode, "name of the semaphore file"},
      {"[ExternalCoupling]\n1\nready.sem\nsoon\n", kControlFileErrorCode,
       "wait interval for scanning for external grids"},
      {head + "0\n0\n0\ninform.sem\n", kControlFileErrorCode,
       "semaphore Content for informing the external model"},
      {head + "-1\n0\n0\ni\nc\n", kControlFileErrorCode, "number external grids (to read)"},
  };
  for (const fault_case& c : cases) {
    setup.ReleaseCoupling();
    const std::string shown = ExpectCode(c.code, c.text);
    EXPECT_NE(shown.find(c.message), std::string::npos) << c.text << "\n--- shown:\n" << shown;
  }
}

TEST_F(CouplingFixture, UnreadableCopyIsFatal) {
  setup.control_file_name = dir / "missing.intern";
  try {
    setup.GetCouplingParameters();
    ADD_FAILURE() << "no code thrown";
  } catch (ErrorCode code) {
    EXPECT_EQ(code, kCouplingOpenErrorCode);
  }
  EXPECT_EQ(console.str(), "error opening " + (dir / "missing.intern") + "\n");
}

TEST(CouplingWords, SumsAndMeansAccumulate) {
  const std::pair<const char*, bool> cases[] = {
      {"Mean", true}, {"Sum", true},   {"SumTotal", true}, {"SumTotal_DM", true},
      {"Max", false}, {"mean", false}, {"Sums", false},    {"MeanDaily", false},
  };
  for (const auto& [word, expected] : cases) EXPECT_EQ(NeedsAccumulationGrid(word), expected) << word;
}

}  // namespace
}  // namespace velmo
