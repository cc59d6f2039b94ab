// Monthly values: the value of a day between the mid-month days, across the
// year end, for the Hamon factors and the snow model's degree-day factors.
#include "physics/monthly.h"

#include <gtest/gtest.h>

#include "framework/types.h"

namespace velmo {
namespace {

TEST(MidMonthValue, LinearBetweenTheMiddlesOfTheMonths) {
  // The Hamon factors: 1 all year, 0.9 in December and 1.3 in February.
  monthly_table pec{};
  for (int m = 1; m <= 12; ++m) pec[static_cast<std::size_t>(m)] = 1.0;
  pec[12] = 0.9;
  pec[2] = 1.3;
  WrapMonthlyTable(pec);
  EXPECT_NEAR(MidMonthValue(pec, 1, 1, kMonthLengths), 0.95333, 5e-6);
  EXPECT_NEAR(MidMonthValue(pec, 31, 1, kMonthLengths), 1.14516, 5e-6);
  EXPECT_NEAR(MidMonthValue(pec, 1, 2, kMonthLengths), 1.16, 5e-6);
  EXPECT_NEAR(MidMonthValue(pec, 16, 1, kMonthLengths), 1.0, 1e-12);

  // Degree-day factors 1 to 12, January to December.
  monthly_table ddf{};
  for (int m = 1; m <= 12; ++m) ddf[static_cast<std::size_t>(m)] = m;
  WrapMonthlyTable(ddf);
  EXPECT_EQ(ddf[0], 12.0);
  EXPECT_EQ(ddf[13], 1.0);
  EXPECT_NEAR(MidMonthValue(ddf, 20, 1, kMonthLengths), 1.129032, 1e-6);
  EXPECT_NEAR(MidMonthValue(ddf, 10, 1, kMonthLengths), 2.833333, 1e-6);
  EXPECT_NEAR(MidMonthValue(ddf, 20, 12, kMonthLengths), 10.580645, 1e-6);
  EXPECT_EQ(MidMonthValue(ddf, 16, 6, kMonthLengths), 6.0);
}

TEST(LinearBetween, EqualEndsGiveTheFirstValue) {
  EXPECT_EQ(LinearBetween(2.0, 5.0, 2.0, 7.0, 3.0), 5.0);
  EXPECT_EQ(LinearBetween(0.0, 1.0, 4.0, 3.0, 1.0), 1.5);
}

}  // namespace
}  // namespace velmo
