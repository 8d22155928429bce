#include "thinning/TargetPixel.h"

#include <cstring>

namespace kevrale {

void AppendTargetColumns(const uint8_t* row, int width, int bytes_per_pixel, TColor target,
                         std::vector<int32_t>& columns) {
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
