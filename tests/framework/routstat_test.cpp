// Discharge statistics tables: efficiencies from the sums, rows without catchment column, the efficiency
// block.
#include "framework/routstat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <sstream>
#include <vector>

#include "framework/diagnostics.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::TempDir;

// The six sums of pairs of observed and simulated values.
comparison_record Sums(const std::vector<double>& observed, const std::vector<double>& simulated) {
  comparison_record r{};
  for (size_t i = 0; i < observed.size(); ++i) {
    const double e = simulated[i] - observed[i];
    r[kPairCount] += 1;
    r[kErrorSum] += e;
    r[kSquaredErrorSum] += e * e;
    r[kObservedCount] += 1;
    r[kObservedSum] += observed[i];
    r[kSquaredObservedSum] += observed[i] * observed[i];
  }
  return r;
}

// Nash-Sutcliffe efficiency and its form without the mean bias, from the
// series themselves.
double NashSutcliffe(const std::vector<double>& o, const std::vector<double>& s) {
  const double mean = std::accumulate(o.begin(), o.end(), 0.0) / o.size();
  double error = 0, spread = 0;
  for (size_t i = 0; i < o.size(); ++i) {
    error += (s[i] - o[i]) * (s[i] - o[i]);
    spread += (o[i] - mean) * (o[i] - mean);
  }
  return 1 - error / spread;
}
double BiasFree(const std::vector<double>& o, const std::vector<double>& s) {
  std::vector<double> shifted = s;
  double bias = 0;
  for (size_t i = 0; i < o.size(); ++i) bias += (s[i] - o[i]) / o.size();
  for (double& v : shifted) v -= bias;
  return NashSutcliffe(o, shifted);
}

TEST(Efficiency, FromTheSums) {
  struct Case {
    const char* what;
    std::vector<double> observed, simulated;
    double efficiency, bias_free;  // NaN: the independent formulas
  };
  const double kFormula = std::nan("");
  const Case cases[] = {
      {"constant error", {1, 2, 3}, {2, 3, 4}, -0.5, 1.0},
      {"five pairs", {2, 4, 3, 5, 6}, {2.5, 3.5, 3, 5.5, 5}, kFormula, kFormula},
      {"perfect fit", {1, 5, 2}, {1, 5, 2}, 1.0, 1.0},
      {"two pairs", {1, 2}, {1.5, 2.5}, kNoEfficiency, kNoEfficiency},
      {"no pair", {}, {}, kNoEfficiency, kNoEfficiency},
      {"constant observations", {3, 3, 3}, {2, 3, 4}, kNoEfficiency, kNoEfficiency},
      {"constant observations with rounding",
       {0.1, 0.1, 0.1, 0.1},
       {0.2, 0.1, 0.3, 0.1},
       kNoEfficiency,
       kNoEfficiency},
  };
  for (const Case& c : cases) {
    const comparison_record r = Sums(c.observed, c.simulated);
    const double efficiency =
        std::isnan(c.efficiency) ? NashSutcliffe(c.observed, c.simulated) : c.efficiency;
    const double bias_free = std::isnan(c.bias_free) ? BiasFree(c.observed, c.simulated) : c.bias_free;
    EXPECT_NEAR(EfficiencyFromSums(r), efficiency, 1e-12) << c.what;
    EXPECT_NEAR(BiasFreeEfficiencyFromSums(r), bias_free, 1e-12) << c.what;
  }
  EXPECT_NEAR(EfficiencyFromSums(Sums({2, 4, 3, 5, 6}, {2.5, 3.5, 3, 5.5, 5})), 0.825, 1e-12);
  EXPECT_NEAR(BiasFreeEfficiencyFromSums(Sums({2, 4, 3, 5, 6}, {2.5, 3.5, 3, 5.5, 5})), 0.83, 1e-12);
}

struct DischargeTable : ::testing::Test {
  TempDir dir;
  std::ostringstream console;
  MessageStream ms{dir / "diag.xml", 4, console};
  std::string output_dir = dir.path().string() + "/";
  // Subbasins 10, 20, 30; the column values are their upstream fractions.
  std::vector<zone_record> zones = {
      {0, 0, 1, 50, 0}, {0, 0, 10, 0.2, 0}, {0, 0, 20, 0.3, 0}, {0, 0, 30, 0.5, 0}};
  std::vector<double> column_values = {50, 0.2, 0.5, 1.0};
  std::vector<int> listed = {2, 20, 30};

  std::unique_ptr<routstatistic> Make(int code, bool minutes = false) {
    std::string name = "q.txt";
    int error = -1;
    auto table = std::make_unique<routstatistic>(error, &ms, zones.data(), 3, code, name, &output_dir, 2,
                                                 listed.data(), minutes, column_values.data());
    EXPECT_EQ(error, 0);
    table->WriteHeader("routed discharge [ m3 per sec ] ", "routing_model");
    return table;
  }
  void Step(routstatistic& table, int hour, const std::vector<double>& values) {
    table.StartStep();
    for (size_t z = 0; z < values.size(); ++z) table.AddDischarge(static_cast<int>(z) + 1, values[z]);
    table.EndStepDischarge(2000, 1, 1, hour, 0);
  }
  std::string File() { return ReadFile(dir / "q.txt"); }
};

TEST_F(DischargeTable, HeaderAndRowsWithoutCatchmentColumn) {
  auto table = Make(2001);
  Step(*table, 1, {1.5, -2.25, 1e-6});
  table->CleanUp();
  EXPECT_EQ(File(),
            "YY\tMM\tDD\tHH\t\"10\"\t\"20\"\t\"30\"\n"
            "routed discharge [ m3 per sec ] _submodel:routing_model\n"
            "--\t--\t--\t--\t0.2000000\t0.5000000\t1.0000000\n"
            "2000\t 1\t 1\t 1\t1.50000\t-2.25000\t0.00000\n");
}

TEST_F(DischargeTable, IntervalMeansSumsAndListedColumns) {
  struct Case {
    int code;
    bool minutes;
    std::string head;  // first header line
    std::string row;   // the one row of two steps
  };
  const Case cases[] = {
      {2002, false, "YY\tMM\tDD\tHH\t\"10\"\t\"20\"\t\"30\"\n",
       "2000\t 1\t 1\t 2\t2.00000\t5.00000\t0.50000\n"},
      {4002, false, "YY\tMM\tDD\tHH\t\"10\"\t\"20\"\t\"30\"\n",
       "2000\t 1\t 1\t 2\t4.00000\t10.00000\t1.00000\n"},
      {5002, true, "YY\tMM\tDD\tHH\tmm\t\"20\"\t\"30\"\n", "2000\t 1\t 1\t 2\t 0\t5.00000\t0.50000\n"},
      {1002, false, "YY\tMM\tDD\tHH\n", "2000\t 1\t 1\t 2\n"},
  };
  for (const Case& c : cases) {
    auto table = Make(c.code, c.minutes);
    Step(*table, 1, {1, 4, 0});
    Step(*table, 2, {3, 6, 1});
    table->CleanUp();
    const std::string text = File();
    EXPECT_TRUE(text.starts_with(c.head)) << c.code << "\n" << text;
    EXPECT_TRUE(text.ends_with(c.row)) << c.code << "\n" << text;
  }
}

TEST_F(DischargeTable, EfficiencyBlock) {
  auto table = Make(2001);
  Step(*table, 1, {1, 1, 1});
  comparison_sums linear(3), logarithmic(3);
  for (int row = 0; row < kShiftRows; ++row) {
    linear.at(row, 1) = Sums({1, 2, 3}, {2, 3, 4});
    logarithmic.at(row, 1) = Sums({1, 2, 3}, {1, 2, 3});
  }
  linear.at(kLargestShift, 2) = Sums({2, 4, 3, 5, 6}, {2.5, 3.5, 3, 5.5, 5});
  table->WriteEfficiency(linear, logarithmic);
  table->CleanUp();

  std::istringstream lines(File());
  std::string line;
  for (int i = 0; i < 4; ++i) std::getline(lines, line);  // header and the row
  const char* labels[] = {"lin. R-square", "log. R-square", "coeff.var.lin", "coeff.var.log"};
  const char* capitals[] = {"LIN. R-SQUARE", "LOG. R-SQUARE", "COEFF.VAR.LIN", "COEFF.VAR.LOG"};
  const char* first_zone[] = {"-0.5000", "1.0000", "1.0000", "1.0000"};
  const char* second_zone_at_0[] = {"0.8250", "-9999.0000", "0.8300", "-9999.0000"};
  for (int block = 0; block < 4; ++block) {
    std::getline(lines, line);
    EXPECT_EQ(line, "----------------------");
    for (int shift = -kLargestShift; shift <= kLargestShift; ++shift) {
      std::getline(lines, line);
      const std::string second = shift == 0 ? second_zone_at_0[block] : "-9999.0000";
      EXPECT_EQ(line, std::string(shift == 0 ? capitals[block] : labels[block]) + "\t" +
                          std::to_string(shift) + "\t" + first_zone[block] + "\t" + second + "\t-9999.0000");
    }
  }
  std::getline(lines, line);
  EXPECT_EQ(line, "----------------------");
  EXPECT_FALSE(std::getline(lines, line));
}

}  // namespace
}  // namespace velmo
