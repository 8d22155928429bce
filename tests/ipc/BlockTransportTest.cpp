// The size checks of the blocks that a plug-in process hands over, and the
// block owner that keeps them until they are handed on.
#include <gtest/gtest.h>

#include <cstring>

#include "ipc/BlockTransport.h"
#include "ipc/LocalBlock.h"
#include "platform/LittleEndian.h"

namespace kevrale {
namespace {

constexpr uint64_t kSlack = uint64_t(1) << 20;

// A local-memory block holding a BITMAPINFOHEADER of the given size fields.
LocalBlock Header(int32_t width, int32_t height, uint16_t bit_count, size_t size = 40) {
  LocalBlock block(LocalAlloc(LMEM_MOVEABLE, size));
  auto* p = static_cast<uint8_t*>(block.Lock());
  memset(p, 0, size);
  if (size >= 16) {
    Put32(p, 40);
    Put32(p + 4, uint32_t(width));
    Put32(p + 8, uint32_t(height));
    Put16(p + 12, 1);
    Put16(p + 14, bit_count);
  }
  return block;
}

TEST(BlockTransport, BitsAllowanceIsTwiceTheRowsAndASlackForEitherRowOrder) {
  // 10 pixels of 24 bits: 30 bytes, padded to 32 a row.
  EXPECT_EQ(BitsAllowance(Header(10, 3, 24).Handle()), 2 * 32 * 3 + kSlack);
  EXPECT_EQ(BitsAllowance(Header(10, -3, 24).Handle()), 2 * 32 * 3 + kSlack);
  EXPECT_EQ(BitsAllowance(Header(33, 2, 1).Handle()), 2 * 8 * 2 + kSlack);
  // The largest header fields stay within 64 bits.
  EXPECT_EQ(BitsAllowance(Header(0x7FFFFFFF, int32_t(0x80000000), 32).Handle()),
            2 * (uint64_t(0x7FFFFFFF) * 4) * (uint64_t(1) << 31) + kSlack);
}

TEST(BlockTransport, BitsAllowanceIsTheSlackWhereTheHeaderTellsNothing) {
  EXPECT_EQ(BitsAllowance(nullptr), kSlack);
  EXPECT_EQ(BitsAllowance(Header(10, 3, 24, 39).Handle()), kSlack);  // too short
  EXPECT_EQ(BitsAllowance(Header(0, 3, 24).Handle()), kSlack);
  EXPECT_EQ(BitsAllowance(Header(-1, 3, 24).Handle()), kSlack);
  EXPECT_EQ(BitsAllowance(Header(10, 0, 24).Handle()), kSlack);
  EXPECT_EQ(BitsAllowance(Header(10, 3, 0).Handle()), kSlack);
  EXPECT_EQ(BitsAllowance(Header(10, 3, 33).Handle()), kSlack);
}

TEST(LocalBlock, ReleaseHandsTheBlockOnAndReceiveFreesTheOldOne) {
  LocalBlock owner;
  *owner.Receive() = LocalAlloc(LMEM_MOVEABLE, 16);
  ASSERT_TRUE(owner);
  const SpiHandle handed = owner.Release();
  EXPECT_FALSE(owner);
  EXPECT_EQ(LocalSize(handed), 16u);
  LocalBlock next(handed);  // the new owner frees it
  *next.Receive() = LocalAlloc(LMEM_MOVEABLE, 8);
  EXPECT_EQ(next.Size(), 8u);
}

}  // namespace
}  // namespace kevrale
