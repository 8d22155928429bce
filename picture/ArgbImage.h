// A plain top-down picture of 0xAARRGGBB pixels, the form in which graphics
// hand themselves to the display and the clipboard.
#pragma once

#include <cstdint>
#include <vector>

namespace kevrale {

struct ArgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // width * height, row by row from the top

  uint32_t& At(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

}  // namespace kevrale
