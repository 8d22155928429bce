#include "platform/PagePopulator.h"

#include <sys/mman.h>

#include <cstdint>

namespace kevrale {

PagePopulator::PagePopulator(void* data, size_t size, size_t from) {
#ifdef MADV_POPULATE_WRITE
  constexpr uintptr_t kPage = 4096;
  constexpr uintptr_t kStep = uintptr_t(1) << 20;
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t low = (start + from + kPage - 1) & ~(kPage - 1);
  const uintptr_t high = (start + size) & ~(kPage - 1);
  if (high <= low + kStep) return;
  thread_ = std::jthread([low, high](std::stop_token stop) {
    for (uintptr_t end = high; end > low && !stop.stop_requested();) {
      const uintptr_t begin = end - low > kStep ? end - kStep : low;
      // Refused (an old kernel, no memory): the filling faults as before.
      if (::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) != 0) return;
      end = begin;
    }
  });
#else
  static_cast<void>(data);
  static_cast<void>(size);
  static_cast<void>(from);
#endif
}

}  // namespace kevrale
