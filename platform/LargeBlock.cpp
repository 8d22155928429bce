#include "platform/LargeBlock.h"

#include <sys/mman.h>

#include <fstream>
#include <string>

namespace kevrale {

void AdviseLargeBlock(void* data, size_t size) noexcept {
  if (data == nullptr || size < kLargeBlockSize) return;
  // madvise wants a page-aligned start; the part before it stays as it is.
  constexpr uintptr_t kPage = 4096;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kPage - 1);
  if (end <= begin) return;
#ifdef MADV_HUGEPAGE
  (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

std::unique_ptr<uint8_t[]> NewLargeBlock(size_t size) {
  std::unique_ptr<uint8_t[]> block = std::make_unique_for_overwrite<uint8_t[]>(size);
  AdviseLargeBlock(block.get(), size);
  return block;
}

bool SharedMemoryHasHugePages() {
  // "always within_size advise [never] deny force": the chosen one in brackets.
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/shmem_enabled");
  std::string text;
  std::getline(setting, text);
  const size_t open = text.find('[');
  const size_t close = text.find(']', open);
  if (open == std::string::npos || close == std::string::npos) return false;
  const std::string chosen = text.substr(open + 1, close - open - 1);
  return chosen == "always" || chosen == "within_size" || chosen == "advise" || chosen == "force";
}

}  // namespace kevrale
