#include "platform/LittleEndian.h"

#include <gtest/gtest.h>

namespace kevrale {
namespace {

TEST(LittleEndian, ReadsAndWritesTheLowByteFirst) {
  uint8_t b[4] = {};
  Put32(b, 0x12345678);
  EXPECT_EQ(b[0], 0x78);
  EXPECT_EQ(b[3], 0x12);
  EXPECT_EQ(Get32(b), 0x12345678u);
  EXPECT_EQ(Get16(b), 0x5678);
  Put16(b, 0xBEEF);
  EXPECT_EQ(b[0], 0xEF);
  EXPECT_EQ(b[1], 0xBE);
  EXPECT_EQ(b[2], 0x34);  // a 16-bit write leaves the bytes after it
}

TEST(LittleEndian, HighBitsSurviveWithoutSignExtension) {
  const uint8_t ff[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Get32(ff), 0xFFFFFFFFu);
  EXPECT_EQ(Get16(ff), 0xFFFF);
  EXPECT_EQ(int32_t(Get32(ff)), -1);  // a signed field is cast after the read
  const uint8_t high[4] = {0, 0, 0, 0x80};
  EXPECT_EQ(Get32(high), 0x80000000u);
}

}  // namespace
}  // namespace kevrale
