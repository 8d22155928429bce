// The local-memory library: Windows' meaning of fixed and moveable blocks,
// lock counts and sizes, and refusal of handles it did not make.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kevrale/spi.h"

namespace {

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

TEST(LocalMemoryTest, FixedBlockIsItsOwnAddress) {
  SpiHandle h = LocalAlloc(LMEM_FIXED, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LocalLock(h), h);
  EXPECT_EQ(LocalLock(h), h);  // no lock count for a fixed block
  EXPECT_EQ(LocalUnlock(h), 0);
  EXPECT_EQ(LocalSize(h), 100u);
  std::memset(h, 0xAB, 100);  // usable as memory without locking
  EXPECT_EQ(LocalFree(h), nullptr);
}

TEST(LocalMemoryTest, MoveableBlockCountsLocks) {
  SpiHandle h = LocalAlloc(LMEM_MOVEABLE, 64);
  ASSERT_NE(h, nullptr);
  void* p = LocalLock(h);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p, h);
  EXPECT_EQ(*static_cast<void**>(h), p);  // the handle points to the address, as on Windows
  EXPECT_EQ(LocalLock(h), p);             // the same address while the block lives
  EXPECT_EQ(LocalUnlock(h), 1);           // still locked once
  EXPECT_EQ(LocalUnlock(h), 0);           // now unlocked
  EXPECT_EQ(LocalUnlock(h), 0);           // not locked at all
  EXPECT_EQ(LocalSize(h), 64u);
  std::memset(p, 0x5A, 64);
  EXPECT_EQ(LocalFree(h), nullptr);
}

TEST(LocalMemoryTest, ZeroInitFillsBothKinds) {
  SpiHandle fixed = LocalAlloc(LPTR, 4096);
  SpiHandle moveable = LocalAlloc(LHND, 4096);
  ASSERT_NE(fixed, nullptr);
  ASSERT_NE(moveable, nullptr);
  EXPECT_TRUE(AllZero(LocalLock(fixed), 4096));
  EXPECT_TRUE(AllZero(LocalLock(moveable), 4096));
  EXPECT_EQ(LocalFree(moveable), nullptr);  // freed although still locked
  EXPECT_EQ(LocalFree(fixed), nullptr);
}

TEST(LocalMemoryTest, ZeroByteBlocks) {
  SpiHandle fixed = LocalAlloc(LMEM_FIXED, 0);
  SpiHandle moveable = LocalAlloc(LMEM_MOVEABLE, 0);
  ASSERT_NE(fixed, nullptr);
  ASSERT_NE(moveable, nullptr);
  EXPECT_EQ(LocalLock(fixed), fixed);
  EXPECT_EQ(LocalLock(moveable), nullptr);  // no memory behind it
  EXPECT_EQ(LocalSize(fixed), 0u);
  EXPECT_EQ(LocalSize(moveable), 0u);
  EXPECT_EQ(LocalFree(fixed), nullptr);
  EXPECT_EQ(LocalFree(moveable), nullptr);
}

TEST(LocalMemoryTest, RefusesHandlesItDidNotMake) {
  int on_stack[4] = {1, 2, 3, 4};
  void* from_malloc = std::malloc(16);
  SpiHandle mine = LocalAlloc(LMEM_FIXED, 16);
  SpiHandle moveable = LocalAlloc(LMEM_MOVEABLE, 16);
  void* moveable_data = LocalLock(moveable);
  ASSERT_NE(mine, nullptr);
  ASSERT_NE(moveable_data, nullptr);

  // None of these is a handle of the library; reading through them would be
  // wrong (the last one points at nothing at all).
  for (void* foreign :
       {static_cast<void*>(on_stack), from_malloc, static_cast<void*>(static_cast<char*>(mine) + 1),
        moveable_data, reinterpret_cast<void*>(uintptr_t(0x10))}) {
    SCOPED_TRACE(foreign);
    EXPECT_EQ(LocalLock(foreign), nullptr);
    EXPECT_EQ(LocalUnlock(foreign), 0);
    EXPECT_EQ(LocalSize(foreign), 0u);
    EXPECT_EQ(LocalFree(foreign), foreign);
  }
  EXPECT_EQ(on_stack[0], 1);
  std::free(from_malloc);
  EXPECT_EQ(LocalFree(mine), nullptr);
  EXPECT_EQ(LocalFree(moveable), nullptr);
}

TEST(LocalMemoryTest, FreedHandleIsForeign) {
  SpiHandle h = LocalAlloc(LMEM_MOVEABLE, 8);
  ASSERT_EQ(LocalFree(h), nullptr);
  EXPECT_EQ(LocalFree(h), h);  // a second free fails instead of freeing twice
  EXPECT_EQ(LocalLock(h), nullptr);
  EXPECT_EQ(LocalSize(h), 0u);
}

TEST(LocalMemoryTest, NullAndBadRequests) {
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  EXPECT_EQ(LocalLock(nullptr), nullptr);
  EXPECT_EQ(LocalUnlock(nullptr), 0);
  EXPECT_EQ(LocalSize(nullptr), 0u);
  EXPECT_EQ(LocalAlloc(0x8000u, 16), nullptr);  // not a local-memory flag
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, SIZE_MAX / 2), nullptr);
}

}  // namespace
