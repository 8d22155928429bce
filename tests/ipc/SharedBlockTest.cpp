// A block handed over in a memory file: taken without a copy, sealed so
// that no process can change it any more, where the file allows; copied
// where the process kept a mapping of its own or the file cannot be
// sealed; refused where the file is not what the process said.
#include "ipc/SharedBlock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "Mappings.h"
#include "TempFolder.h"

namespace kevrale::test {
namespace {

constexpr size_t kSize = 5 * 4096 + 100;

// A memory file that holds kSize bytes of a pattern.
UniqueFd PatternFile() {
  UniqueFd fd(memfd_create("test-block", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  std::string pattern(kSize, '\0');
  for (size_t i = 0; i < kSize; ++i) pattern[i] = char(i * 7 + 1);
  EXPECT_EQ(write(fd.Get(), pattern.data(), kSize), ssize_t(kSize));
  return fd;
}

bool HoldsPattern(const void* p) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < kSize; ++i)
    if (bytes[i] != static_cast<unsigned char>(i * 7 + 1)) return false;
  return true;
}

TEST(SharedBlock, AFileNobodyElseMapsIsSealedAndMappedNotCopied) {
  const UniqueFd file = PatternFile();
  const UniqueFd opened = OpenSharedBlock(getpid(), uint64_t(file.Get()), kSize);
  ASSERT_TRUE(opened);
  const SpiHandle block = TakeSharedBlock(opened.Get(), kSize);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalSize(block), kSize);
  const void* address = LocalLock(block);
  EXPECT_TRUE(HoldsPattern(address));
  const std::string mapping = MappingOf(address);
  EXPECT_NE(mapping.find(" r--s "), std::string::npos) << mapping;
  EXPECT_NE(mapping.find("memfd:test-block"), std::string::npos) << mapping;
  // No one can change it any more, not even through the file.
  errno = 0;
  EXPECT_EQ(pwrite(file.Get(), "x", 1, 0), -1);
  EXPECT_EQ(errno, EPERM);
  EXPECT_EQ(ftruncate(file.Get(), 0), -1);
  EXPECT_EQ(mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, file.Get(), 0), MAP_FAILED);
  LocalUnlock(block);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(MappingOf(address), "");
}

TEST(SharedBlock, AFileThatIsStillMappedWritableIsCopied) {
  const UniqueFd file = PatternFile();
  auto* kept =
      static_cast<char*>(mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, file.Get(), 0));
  ASSERT_NE(kept, MAP_FAILED);
  const SpiHandle block = TakeSharedBlock(file.Get(), kSize);
  ASSERT_NE(block, nullptr);
  const void* address = LocalLock(block);
  EXPECT_TRUE(HoldsPattern(address));
  EXPECT_EQ(MappingOf(address).find("memfd:"), std::string::npos);
  kept[0] = 'X';  // what the process does afterwards is not seen
  EXPECT_TRUE(HoldsPattern(address));
  munmap(kept, kSize);
  LocalUnlock(block);
  LocalFree(block);
}

TEST(SharedBlock, AFileThatCannotBeSealedIsCopiedAndOneTooShortIsRefused) {
  TempFolder folder;
  std::string pattern(kSize, '\0');
  for (size_t i = 0; i < kSize; ++i) pattern[i] = char(i * 7 + 1);
  const UniqueFd plain(open(folder.Write("plain", pattern).c_str(), O_RDWR | O_CLOEXEC));
  const SpiHandle block = TakeSharedBlock(plain.Get(), kSize);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(HoldsPattern(LocalLock(block)));
  LocalUnlock(block);
  LocalFree(block);

  const UniqueFd file = PatternFile();
  EXPECT_FALSE(OpenSharedBlock(getpid(), uint64_t(file.Get()), kSize + 1));
  EXPECT_FALSE(OpenSharedBlock(getpid(), 99999, kSize));
  EXPECT_FALSE(OpenSharedBlock(getpid(), uint64_t(1) << 40, kSize));
  EXPECT_FALSE(OpenSharedBlock(0, uint64_t(file.Get()), kSize));
}

}  // namespace
}  // namespace kevrale::test
