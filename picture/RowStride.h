// How far apart rows are kept that are read or written a group at a time.
#pragma once

#include <cstddef>

namespace kevrale {

// A stride for rows of `bytes`: a whole number of cache lines, and an odd
// number, so that the rows of a group fall in different sets of the
// processor's cache. Rows a multiple of 4 KiB apart (a 4096-pixel RGB row
// is 12 KiB) all compete for the same few places, and a group of them
// keeps evicting itself.
constexpr size_t SpreadRowStride(size_t bytes) {
  constexpr size_t kLine = 64;
  const size_t lines = (bytes + kLine - 1) / kLine;
  return (lines % 2 == 0 ? lines + 1 : lines) * kLine;
}

}  // namespace kevrale
