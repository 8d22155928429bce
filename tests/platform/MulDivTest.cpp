#include "platform/MulDiv.h"

#include <gtest/gtest.h>

#include <climits>

namespace kevrale {
namespace {

TEST(MulDivTest, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(1, 97, 2), 49);  // 48.5
  EXPECT_EQ(MulDiv(-1, 97, 2), -49);
  EXPECT_EQ(MulDiv(1, 97, -2), -49);
  EXPECT_EQ(MulDiv(-1, 97, -2), 49);
  EXPECT_EQ(MulDiv(1, 1, 3), 0);  // 0.33
  EXPECT_EQ(MulDiv(2, 1, 3), 1);  // 0.67
  EXPECT_EQ(MulDiv(-2, 1, 3), -1);
  EXPECT_EQ(MulDiv(100, 97, 100), 97);
  EXPECT_EQ(MulDiv(0, 97, 5), 0);
}

TEST(MulDivTest, UsesA64BitProduct) {
  EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);
  EXPECT_EQ(MulDiv(INT_MIN, INT_MIN, INT_MIN), INT_MIN);
  EXPECT_EQ(MulDiv(1 << 30, 1 << 30, 1 << 30), 1 << 30);
  EXPECT_EQ(MulDiv(1 << 30, 1 << 30, 1 << 29), -1);  // 2^31 does not fit
  EXPECT_EQ(MulDiv(1 << 30, 4, 2), -1);
  EXPECT_EQ(MulDiv(1 << 30, -4, 2), INT_MIN);
}

TEST(MulDivTest, ZeroDivisorAndOverflowGiveMinusOne) {
  EXPECT_EQ(MulDiv(5, 97, 0), -1);
  EXPECT_EQ(MulDiv(0, 0, 0), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT_MIN, -1, 1), -1);
  EXPECT_EQ(MulDiv(INT_MIN, 1, -1), -1);
}

}  // namespace
}  // namespace kevrale
