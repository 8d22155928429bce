// Pages put in place beside the filling of a block never change what the
// filling wrote, whichever side reaches a page first, nor what the block
// held before.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/PagePopulator.h"

namespace kevrale {
namespace {

uint8_t Pattern(size_t i) {
  return uint8_t(i * 2654435761u >> 13);
}

TEST(PagePopulator, WhatTheBlockHoldsStaysAsItIsWritten) {
  constexpr size_t kSize = (size_t(48) << 20) + 4321;  // not a whole number of pages
  std::unique_ptr<uint8_t[]> block(new uint8_t[kSize]);
  // The last megabyte written before, the rest while the pages come.
  constexpr size_t kWrittenBefore = kSize - (size_t(1) << 20);
  for (size_t i = kWrittenBefore; i < kSize; ++i) block[i] = Pattern(i);
  {
    const PagePopulator populator(block.get(), kSize, kSize / 3);
    for (size_t i = 0; i < kWrittenBefore; ++i) block[i] = Pattern(i);
  }
  size_t wrong = 0;
  for (size_t i = 0; i < kSize; ++i) wrong += block[i] != Pattern(i);
  EXPECT_EQ(wrong, 0u);
}

TEST(PagePopulator, ASmallBlockOrAnEmptyRangeIsLeftAlone) {
  uint8_t small[100] = {1, 2, 3};
  { const PagePopulator populator(small, sizeof small, 0); }
  EXPECT_EQ(small[2], 3);
  std::unique_ptr<uint8_t[]> block(new uint8_t[size_t(8) << 20]);
  block[0] = 7;
  { const PagePopulator populator(block.get(), size_t(8) << 20, size_t(8) << 20); }
  EXPECT_EQ(block[0], 7);
}

}  // namespace
}  // namespace kevrale
