// Fresh memory costs on its first touch: the system zeroes each page as
// it is first written, which for a block filled in one pass (an unpacked
// picture) costs as much as filling it. A PagePopulator has the block's
// pages put in place from its end backwards, on a thread of its own, while
// the caller fills it from the start; each side then meets only part of
// the faults. The contents are left as they are: a page already in place
// stays untouched.
#pragma once

#include <cstddef>
#include <thread>

namespace kevrale {

class PagePopulator {
 public:
  // Begins with the pages of [data + from, data + size); nothing where the
  // system cannot populate pages.
  PagePopulator(void* data, size_t size, size_t from);
  // Stops at the next megabyte and joins.
  ~PagePopulator() = default;
  PagePopulator(const PagePopulator&) = delete;
  PagePopulator& operator=(const PagePopulator&) = delete;

 private:
  std::jthread thread_;
};

}  // namespace kevrale
