#include "thinning/TargetPixel.h"

#include <cstring>

#include "thinning/TargetRule.h"

namespace kevrale {

void AppendTargetColumns(const uint8_t* row, int width, int bytes_per_pixel, TColor target,
                         std::vector<int32_t>& columns, int tolerance) {
  if (tolerance < 0) return;  // no difference is that small
  if (tolerance > 0) {
    const TargetRule rule{target & kColorMask, tolerance, bytes_per_pixel == 4};
    for (int x = 0; x < width; ++x)
      if (rule.Matches(row + size_t(x) * size_t(bytes_per_pixel), bytes_per_pixel))
        columns.push_back(int32_t(x));
    return;
  }
  // Line art is mostly background: let memchr skip to the next byte that
  // could begin a target pixel, and check only there.
  const size_t bpp = size_t(bytes_per_pixel);
  const size_t size = size_t(width) * bpp;
  const uint8_t first = GetBValue(target);
  size_t at = 0;
  while (at < size) {
    const void* hit = std::memchr(row + at, first, size - at);
    if (hit == nullptr) break;
    const size_t offset = size_t(static_cast<const uint8_t*>(hit) - row);
    const size_t x = offset / bpp;
    if (offset % bpp == 0 && IsTargetPixel(row + offset, bytes_per_pixel, target))
      columns.push_back(int32_t(x));
    at = (x + 1) * bpp;
  }
}

}  // namespace kevrale
