// Routing descriptions: keywords as words, parts in row order, what cannot be read, w-q settings.
#include "routing/routing_description.h"

#include <gtest/gtest.h>

#include <string>

namespace velmo {
namespace {

constexpr const char* kValues =
    "(kh = 3, kv = 3, Bm = 10, Bv = 50, Tm = 5, Mm = 30, Mv = 20, I = 0.001, L = 9, AE = 50)";

TEST(Keywords, CountOnlyAsWords) {
  struct Case {
    const char* text;
    const char* keyword;
    int count;
  };
  const Case cases[] = {
      {"OL 3 (...) OL4 (...)", "OL", 2},  // a digit may follow
      {"VOL = 3, OLx, _OL", "OL", 0},
      {"TG 2 (see the SPeicher notes)", "SP", 0},
      {"SP_class, SPs", "SP", 0},
      {"(SP) SP1", "SP", 2},
      {"SUMTRIB 1 & 2&3", "&", 2},
      {"xSUMTRIB 1, SUMTRIB2", "SUMTRIB", 1},
      {"TG2 TG 3", "TG", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(CountOccurrences(c.text, c.keyword), c.count) << c.text;

  EXPECT_TRUE(IsDescriptionLine("   OL 3 (kh = 1)"));
  EXPECT_TRUE(IsDescriptionLine("ZL 1 = constant 2"));
  EXPECT_FALSE(IsDescriptionLine("a comment on the Speicher and SPs"));
  EXPECT_FALSE(IsDescriptionLine("[lake_model]"));
  EXPECT_FALSE(IsDescriptionLine(""));

  const keyword_counts counts = CountKeywords("TG 1 TG 2 OL 3 SUMTRIB 4 & 5 & 6 ZL 1 AL 2 SP 1");
  EXPECT_EQ(counts.outlets, 1);  // a line counts once as an outlet
  EXPECT_EQ(counts.tributaries, 1);
  EXPECT_EQ(counts.summed, 1);
  EXPECT_EQ(counts.joins, 2);
  EXPECT_EQ(counts.inflows, 1);
  EXPECT_EQ(counts.abstractions, 1);
  EXPECT_EQ(counts.reservoirs, 1);
}

TEST(Description, PartsInRowOrder) {
  const std::string text = std::string("TG 7 (AE = 120.5, AV = 2) ZL 2 = constant 2.5 ") + kValues +
                           " SUMTRIB 4 & 5 & 6 " + kValues + " OL3 " + kValues + " ZL 1 = intern " + kValues;
  const routing_description d = ParseRoutingDescription(text);
  EXPECT_EQ(d.outlet_code, 7);
  EXPECT_EQ(d.area, 120.5);
  EXPECT_EQ(d.divisor, 2.0);
  ASSERT_EQ(d.channels.size(), 4u);
  // Tributaries, then summed channels, then inflows, each in text order.
  EXPECT_EQ(d.channels[0].kind, channel_kind::tributary);
  EXPECT_EQ(d.channels[0].code, 3);
  EXPECT_EQ(d.channels[0].values[8], 9.0);
  EXPECT_EQ(d.channels[1].kind, channel_kind::summed);
  EXPECT_EQ(d.channels[1].code, 4);
  EXPECT_EQ(d.channels[1].joined, (std::vector<int>{5, 6}));
  EXPECT_EQ(d.channels[1].values[0], 3.0);
  EXPECT_EQ(d.channels[2].kind, channel_kind::inflow);
  EXPECT_EQ(d.channels[2].code, 2);
  EXPECT_EQ(d.channels[2].mode, inflow_mode::constant);
  EXPECT_EQ(d.channels[2].constant, 2.5);
  EXPECT_EQ(d.channels[2].values[9], 50.0);
  EXPECT_EQ(d.channels[3].mode, inflow_mode::internal);
  EXPECT_TRUE(d.abstractions.empty());
  EXPECT_TRUE(d.reservoirs.empty());

  const routing_description modes = ParseRoutingDescription(
      std::string("TG 1 (AE=1, AV=1) ZL 1 = extern q.txt 1 2 ") + kValues + " ZL 2 = foo " + kValues +
      " AL 1 = intern_with_rule SP 4 (file = r.txt, V0 = 1, C0 = 0)");
  EXPECT_EQ(modes.channels[0].mode, inflow_mode::external);
  EXPECT_EQ(modes.channels[0].file, "q.txt");
  EXPECT_EQ(modes.channels[0].start_row, 1);
  EXPECT_EQ(modes.channels[0].column, 2);
  EXPECT_EQ(modes.channels[0].values[0], 3.0);
  EXPECT_EQ(modes.channels[1].mode, inflow_mode::unknown);
  EXPECT_EQ(modes.channels[1].mode_word, "foo");
  ASSERT_EQ(modes.abstractions.size(), 1u);
  EXPECT_EQ(modes.abstractions[0].mode, abstraction_mode::internal_rule);
  ASSERT_EQ(modes.reservoirs.size(), 1u);
  EXPECT_EQ(modes.reservoirs[0].code, 4);
}

TEST(Description, AbstractionParts) {
  struct Case {
    std::string part;
    abstraction_mode mode;
    std::string result_file, input_file;
    int column;
    double threshold, fraction, maximum;
    bool discharge_unit;
  };
  const Case cases[] = {
      // The file name follows the mode word, or a label and its "=".
      {"AL 1 = extern abstraction_1.txt (Qmin = 2, f = 0.5, Qmax = 3 m3/s)", abstraction_mode::external,
       "abstraction_1.txt", "", 0, 2, 0.5, 3, true},
      {"AL 1 = extern (file = out.txt, Qmin = 2, f = 0.5, Qmax = 3, unit = m^3/s)",
       abstraction_mode::external, "out.txt", "", 0, 2, 0.5, 3, true},
      {"AL 2 = intern (Qmin = 0.1, f = 1, Qmax = 4, unit = mm)", abstraction_mode::internal, "", "", 0, 0.1,
       1, 4, false},
      {"AL 3 = intern (Qmin = 0.1, f = 1, Qmax = 4) m3/s", abstraction_mode::internal, "", "", 0, 0.1, 1, 4,
       false},
      {"AL 4 = from_file (input_file = in.txt, column = 3, file = taken.txt)", abstraction_mode::from_file,
       "taken.txt", "in.txt", 3, 0, 0, 0, false},
      {"AL 5 = extern_with_rule(file=rule.txt)", abstraction_mode::external_rule, "rule.txt", "", 0, 0, 0, 0,
       false},
      {"AL 6 = intern_with_rule_from_reservoir)", abstraction_mode::reservoir_rule, "", "", 0, 0, 0, 0,
       false},
  };
  for (const Case& c : cases) {
    const routing_description d =
        ParseRoutingDescription("TG 1 (AE = 1, AV = 1) " + c.part + " OL 2 " + kValues);
    ASSERT_EQ(d.abstractions.size(), 1u) << c.part;
    const abstraction_part& a = d.abstractions[0];
    EXPECT_EQ(a.text, c.part + " ") << c.part;  // up to the next part
    EXPECT_EQ(a.mode, c.mode) << c.part;
    EXPECT_EQ(a.result_file, c.result_file) << c.part;
    EXPECT_EQ(a.input_file, c.input_file) << c.part;
    EXPECT_EQ(a.column, c.column) << c.part;
    EXPECT_EQ(a.threshold, c.threshold) << c.part;
    EXPECT_EQ(a.fraction, c.fraction) << c.part;
    EXPECT_EQ(a.maximum, c.maximum) << c.part;
    EXPECT_EQ(a.discharge_unit, c.discharge_unit) << c.part;
  }
}

TEST(Description, ReservoirParts) {
  const routing_description d = ParseRoutingDescription(
      "TG 1 (AE = 1, AV = 1) SP 3 (file = res.txt, V0 = 1.5e6, A0 = 1e5, W0 = 400, C0 = 0 0, dTmin = 30, "
      "UseRunningAvg = 24) SP 4 (file = b.txt, V0 = 0, C0 = 0)");
  ASSERT_EQ(d.reservoirs.size(), 2u);
  const reservoir_part& r = d.reservoirs[0];
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.result_file, "res.txt");
  EXPECT_EQ(r.initial_volume, 1.5e6);
  EXPECT_EQ(r.area, 1e5);
  EXPECT_EQ(r.level, 400.0);
  EXPECT_EQ(r.minimum_step, 30.0);
  EXPECT_EQ(r.running_average_hours, 24);
  // Keys are looked for in the reservoir's own part: the defaults hold.
  EXPECT_EQ(d.reservoirs[1].area, 0.0);
  EXPECT_EQ(d.reservoirs[1].minimum_step, 60.0);
  EXPECT_EQ(d.reservoirs[1].running_average_hours, 0);

  struct Case {
    std::string part;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"AL 1 = bogus", 44, "the modus \"bogus\" is not supported for abstraction 1"},
      {"SP 2 (V0 = 1, C0 = 0)", 35, "for reservoir 2: no \"file =\" found!"},
      {"SP 2 (file = a.txt, C0 = 0)", 35, "for reservoir 2: no \"V0 =\" found!"},
      {"SP 2 (file = a.txt, V0 = 1)", 35, "for reservoir 2: no \"C0 =\" found!"},
      {"SP 2 (file = a.txt, V0 = -1, C0 = 0)", 35, "for reservoir 2: \"V0\" must not be below 0"},
      {"SP 2 (file = a.txt, V0 = 1, C0 = 0, dTmin = 0)", 35, "for reservoir 2: \"dTmin\" must be above 0 s"},
  };
  for (const Case& c : cases) {
    try {
      ParseRoutingDescription("TG 1 (AE = 1, AV = 1) " + c.part);
      ADD_FAILURE() << "no error for " << c.part;
    } catch (const part_error& error) {
      EXPECT_EQ(error.code, c.code) << c.part;
      EXPECT_EQ(error.message.rfind(c.message, 0), 0u) << c.part << ": " << error.message;
    }
  }
}

TEST(Description, WhatCannotBeRead) {
  struct Case {
    std::string text;
    std::string what;
  };
  const Case cases[] = {
      {"TG (AE = 1, AV = 1)", "the code after \"TG\""},
      {"TG 5 (AE = 1)", "the area divisor of \"TG 5\""},
      {"TG 5 (AE = x, AV = 1)", "the outlet area of \"TG 5\""},
      {"TG 5 (AE = 1, AV = 1) OL 3 (kh = 1, kv = 2)", "channel value 3 of \"OL 3\""},
      {"TG 5 (AE = 1, AV = 1) OL 3 (kh = nan, kv = 2)", "channel value 1 of \"OL 3\""},
      {"TG 5 (AE = 1, AV = 1) OL (kh = 1)", "the code after \"OL\""},
      {"TG 5 (AE = 1, AV = 1) SUMTRIB 1 & x " + std::string(kValues), "a code after \"&\" of \"SUMTRIB 1\""},
      {"TG 5 (AE = 1, AV = 1) ZL 1 = constant " + std::string(kValues), "the constant inflow of \"ZL 1\""},
      {"TG 5 (AE = 1, AV = 1) ZL 1 constant", "the mode of \"ZL 1\""},
      {"TG 5 (AE = 1, AV = 1) ZL 1 = extern " + std::string(kValues), "the table file of \"ZL 1\""},
      {"TG 5 (AE = 1, AV = 1) ZL 1 = extern q.txt 1 " + std::string(kValues), "the column of \"ZL 1\""},
      {"TG 5 (AE = 1, AV = 1) ZL 1 = extern q.txt x 5 " + std::string(kValues), "the start row of \"ZL 1\""},
      {"TG 5 (AE = 1, AV = 1) AL 1 extern", "the mode of \"AL 1\""},
      {"TG 5 (AE = 1, AV = 1) AL 1 = intern (Qmin = 1, f = 2)", "the maximum of \"AL 1\""},
      {"TG 5 (AE = 1, AV = 1) AL 1 = from_file (file = x.txt)", "\"input_file\" of \"AL 1\""},
      {"TG 5 (AE = 1, AV = 1) AL 1 = from_file (input_file = x.txt, column = 0, file = y)",
       "a column of 1 or more of the input file of \"AL 1\""},
      {"TG 5 (AE = 1, AV = 1) SP (file = a)", "the code after \"SP\""},
  };
  for (const Case& c : cases) {
    try {
      ParseRoutingDescription(c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const description_error& error) {
      EXPECT_EQ(error.what, c.what) << c.text;
    }
  }
}

TEST(Description, WqSettings) {
  struct Case {
    wq_settings settings;
    bool valid;
  };
  const Case cases[] = {{{1, 1000, 30, 4}, true}, {{100, 100, 1, 1}, true},     {{0, 100, 30, 2}, false},
                        {{10, 5, 30, 2}, false},  {{1, 10, 0.5, 2}, false},     {{1, 10, 30, 0}, false},
                        {{1, 10, 1e9, 2}, false}, {{1, 10, 30, 1000000}, false}};
  for (const Case& c : cases)
    EXPECT_EQ(ValidWqSettings(c.settings), c.valid) << c.settings.qmin << " " << c.settings.qmax << " "
                                                    << c.settings.intervals << " " << c.settings.subintervals;
}

}  // namespace
}  // namespace velmo
