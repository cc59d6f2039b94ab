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
  EXPECT_FALSE(d.has_abstraction);
  EXPECT_FALSE(d.has_reservoir);

  const routing_description modes =
      ParseRoutingDescription(std::string("TG 1 (AE=1, AV=1) ZL 1 = extern q.txt 1 2 ") + kValues +
                              " ZL 2 = foo " + kValues + " AL 1 SP");
  EXPECT_EQ(modes.channels[0].mode, inflow_mode::external);
  EXPECT_EQ(modes.channels[0].file, "q.txt");
  EXPECT_EQ(modes.channels[0].start_row, 1);
  EXPECT_EQ(modes.channels[0].column, 2);
  EXPECT_EQ(modes.channels[0].values[0], 3.0);
  EXPECT_EQ(modes.channels[1].mode, inflow_mode::unknown);
  EXPECT_EQ(modes.channels[1].mode_word, "foo");
  EXPECT_TRUE(modes.has_abstraction);
  EXPECT_TRUE(modes.has_reservoir);
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
