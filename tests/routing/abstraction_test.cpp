// Abstractions on their own: amounts as depths over the outlet area, rule rates, windows, the result table.
#include "routing/abstraction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "routing/flow_arrays.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;

class Abstraction : public test::MessagesTest {
 protected:
  Abstraction() {
    context_.messages = &ms;
    context_.area = 25.0;
    context_.dt = 60.0;
    context_.output_directory = dir.path().string() + "/";
    context_.start = {0, 1, 3, 1, 2000};
    flows_.Allocate(2, 0, 1);
  }
  std::unique_ptr<AL_class> Make(const std::string& part, const std::string& rule = "") {
    auto a = std::make_unique<AL_class>(
        context_, ParseRoutingDescription("TG 1 (AE = 1, AV = 1) " + part).abstractions.at(0));
    a->Open();
    std::vector<std::string> lines;
    std::istringstream in("[abstraction_rule_abstraction_1]\n" + rule);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    a->ReadRules(control_lines(lines));
    return a;
  }
  abstraction_context context_;
  flow_arrays flows_;
};

TEST_F(Abstraction, AmountsAreDepthsOverTheOutletArea) {
  // 2 m3/s threshold, half of the rest, at most 3 m3/s, over 25 km2.
  auto a = Make("AL 1 = extern a.txt (Qmin = 2, f = 0.5, Qmax = 3 m3/s)");
  EXPECT_NEAR(a->Threshold(), 0.288, 1e-15);
  double taken = 0.0;
  const model_date date{0, 1, 3, 1, 2000};
  EXPECT_NEAR(a->Abstract(flows_, taken, 3.6, date), 0.432, 1e-15);  // 25 m3/s at the outlet
  EXPECT_NEAR(taken, 0.432, 1e-15);
  // The outlet area follows the zone grid from 25 to 20 km2.
  auto b = Make("AL 1 = extern b.txt (Qmin = 1.5, f = 0.5, Qmax = 3 m3/s)");
  b->RescaleArea(20.0);
  EXPECT_NEAR(b->Threshold(), 0.270, 1e-15);
  EXPECT_EQ(b->Area(), 20.0);
  // In mm the values stand as given.
  EXPECT_EQ(Make("AL 1 = intern (Qmin = 0.5, f = 1, Qmax = 2, unit = mm)")->Maximum(), 2.0);
}

TEST_F(Abstraction, RuleRates) {
  const std::string rule = "3\n0 0\n10 2\n20 5\n";
  auto a = Make("AL 1 = extern_with_rule r.txt", rule);
  const model_date date{0, 1, 3, 1, 2000};
  EXPECT_NEAR(a->EvaluateRule(flows_, 15.0, date), 0.504, 1e-15);  // 3.5 m3/s over 25 km2
  // From an outlet of 3.6 mm (25 m3/s, above the last row: 5 m3/s), no more
  // than what the earlier abstractions left.
  double taken = 0.0;
  EXPECT_NEAR(a->Abstract(flows_, taken, 3.6, date), 0.72, 1e-9);
  taken = 3.3;
  EXPECT_NEAR(a->Abstract(flows_, taken, 3.6, date), 0.3, 1e-12);

  // Drawn from a reservoir on Mondays from 8 to 17 h (3 January 2000 was a Monday).
  auto timed =
      Make("AL 1 = intern_with_rule_from_reservoir", rule + "WeekDays = 1\nstart_hour = 8\nstop_hour = 17\n");
  EXPECT_EQ(timed->EvaluateTimedRule(flows_, 15.0, {0, 7, 3, 1, 2000}), 0.0);
  EXPECT_DOUBLE_EQ(timed->EvaluateTimedRule(flows_, 15.0, {0, 8, 3, 1, 2000}), 3.5);
  EXPECT_EQ(timed->EvaluateTimedRule(flows_, 15.0, {0, 8, 4, 1, 2000}), 0.0);
  EXPECT_EQ(timed->EvaluateTimedRule(flows_, 15.0, {0, 8, 3, 0, 0}), 0.0);  // no month: closed
  // Without windows: always open; mode 8 takes nothing by itself.
  auto open = Make("AL 1 = intern_with_rule_from_reservoir", rule);
  EXPECT_DOUBLE_EQ(open->EvaluateTimedRule(flows_, 15.0, {0, 3, 9, 1, 2000}), 3.5);
  taken = 0.0;
  EXPECT_EQ(open->Abstract(flows_, taken, 10.0, date), 0.0);
}

TEST_F(Abstraction, ResultTableWithMinutes) {
  context_.dt = 15.0;
  auto a = Make("AL 3 = extern q.txt (Qmin = 0, f = 1, Qmax = 1)");
  a->AddResultRow({45, 1, 3, 1, 2000}, 0.25);
  a->FlushResults(0);  // not forced: nothing
  EXPECT_EQ(test::ReadFile(dir / "q.txt"),
            "YY\tMM\tDD\tHH\tmm\tm^3/s\nabstraction_3\nYY\tMM\tDD\tHH\tmm\tm^3/s\n");
  a->FlushResults(1);
  EXPECT_THAT(test::ReadFile(dir / "q.txt"), testing::EndsWith("\n2000\t 1\t 3\t 1\t45\t0.25\n"));
  // Internal abstractions write no table.
  auto internal = Make("AL 1 = intern (Qmin = 0, f = 1, Qmax = 1)");
  EXPECT_FALSE(internal->WritesResults());
  EXPECT_TRUE(internal->ResultPath().empty());
  context_.output_directory = (dir / "missing") + "/";
  EXPECT_THAT(ExpectCode(37, [&] { Make("AL 2 = extern x.txt (Qmin = 0, f = 1, Qmax = 1)"); }),
              HasSubstr("error opening " + (dir / "missing/x.txt") + " for abstraction 2"));
}

}  // namespace
}  // namespace velmo
