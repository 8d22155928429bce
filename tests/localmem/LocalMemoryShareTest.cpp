// The program's own ways with large blocks: a freed picture's memory serves
// the next picture (zero-filled when asked), large blocks as memory files
// for a plug-in process, and mappings adopted as blocks that LocalFree
// hands back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "kevrale/spi.h"
#include "localmem/LocalMemoryShare.h"

namespace {

constexpr size_t kLarge = size_t(8) << 20;

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

std::string LinkOf(int fd) {
  char target[256] = {};
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

TEST(LocalMemoryShareTest, AFreedLargeBlockServesTheNextOneZeroFilledWhenAsked) {
  SpiHandle first = LocalAlloc(LMEM_MOVEABLE, kLarge);
  ASSERT_NE(first, nullptr);
  void* memory = LocalLock(first);
  std::memset(memory, 0xAB, kLarge);
  LocalUnlock(first);
  ASSERT_EQ(LocalFree(first), nullptr);

  SpiHandle second = LocalAlloc(LHND, kLarge - 4096);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(LocalLock(second), memory);  // no fresh pages
  EXPECT_EQ(LocalSize(second), kLarge - 4096);
  EXPECT_TRUE(AllZero(LocalLock(second), kLarge - 4096));
  LocalUnlock(second);
  LocalUnlock(second);
  ASSERT_EQ(LocalFree(second), nullptr);

  // Far smaller, or larger: fresh memory, the kept block stays kept.
  SpiHandle small = LocalAlloc(LPTR, kLarge / 4);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(LocalLock(small), memory);
  EXPECT_TRUE(AllZero(small, kLarge / 4));
  SpiHandle large = LocalAlloc(LPTR, kLarge * 2);
  ASSERT_NE(large, nullptr);
  EXPECT_TRUE(AllZero(large, kLarge * 2));
  LocalFree(small);
  LocalFree(large);
}

TEST(LocalMemoryShareTest, LargeBlocksBecomeMemoryFilesWhenAsked) {
  KevraleLocalShareLargeBlocks(kLarge);
  SpiHandle shared = LocalAlloc(LHND, kLarge);
  SpiHandle fixed = LocalAlloc(LPTR, kLarge);
  SpiHandle small = LocalAlloc(LHND, kLarge - 1);
  KevraleLocalShareLargeBlocks(0);
  SpiHandle later = LocalAlloc(LHND, kLarge);
  ASSERT_TRUE(shared != nullptr && fixed != nullptr && small != nullptr && later != nullptr);

  const int fd = KevraleLocalBlockFd(shared);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(LinkOf(fd).rfind("/memfd:kevrale-block", 0), 0u) << LinkOf(fd);
  EXPECT_GE(KevraleLocalBlockFd(fixed), 0);
  EXPECT_EQ(KevraleLocalBlockFd(small), -1);
  EXPECT_EQ(KevraleLocalBlockFd(later), -1);
  EXPECT_EQ(KevraleLocalBlockFd(nullptr), -1);
  int foreign = 0;
  EXPECT_EQ(KevraleLocalBlockFd(&foreign), -1);

  // Zero-filled and writable; the file holds what is written.
  auto* bytes = static_cast<unsigned char*>(LocalLock(shared));
  EXPECT_TRUE(AllZero(bytes, kLarge));
  std::memcpy(bytes + 100, "seen", 4);
  char read_back[4] = {};
  ASSERT_EQ(pread(fd, read_back, 4, 100), 4);
  EXPECT_EQ(std::string(read_back, 4), "seen");
  LocalUnlock(shared);

  // Freeing the block closes its file.
  ASSERT_EQ(LocalFree(shared), nullptr);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  for (SpiHandle h : {fixed, small, later}) LocalFree(h);
}

std::vector<std::pair<void*, size_t>> g_released;

void Release(void* address, size_t size) {
  g_released.emplace_back(address, size);
  munmap(address, size);
}

TEST(LocalMemoryShareTest, AnAdoptedMappingIsABlockUntilLocalFreeHandsItBack) {
  g_released.clear();
  const size_t size = 3 * 4096;
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  std::memcpy(mapping, "adopted", 7);
  SpiHandle h = KevraleLocalAdopt(mapping, size, &Release);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(h, mapping);  // moveable: the handle is not the address
  EXPECT_EQ(LocalLock(h), mapping);
  EXPECT_EQ(LocalSize(h), size);
  EXPECT_EQ(LocalUnlock(h), 0);
  EXPECT_TRUE(g_released.empty());
  EXPECT_EQ(LocalFree(h), nullptr);
  ASSERT_EQ(g_released.size(), 1u);
  EXPECT_EQ(g_released[0], std::make_pair(mapping, size));
  EXPECT_EQ(LocalFree(h), h);  // gone: refused, not released again
  EXPECT_EQ(g_released.size(), 1u);
  EXPECT_EQ(KevraleLocalAdopt(nullptr, size, &Release), nullptr);
  EXPECT_EQ(KevraleLocalAdopt(mapping, size, nullptr), nullptr);
}

}  // namespace
