// Which pixels of a row are the target colour: the rule the engine applies
// when it loads a row, for 24-bit pixels (B G R) and 32-bit ones (B G R A).
#pragma once

#include <cstdint>

namespace kevrale {

struct TargetRule {
  uint32_t target = 0;  // 0x00BBGGRR
  // The largest difference of any one channel from the target's that still
  // counts as the target colour, 0..255.
  int tolerance = 0;
  // The fourth byte of 32-bit pixels is alpha: a fully transparent pixel
  // (alpha 0) is never the target colour, whatever colour it stores.
  bool alpha = false;

  bool Matches(const uint8_t* pixel, int bytes_per_pixel) const;
};

// Sets bit x + 1 of `bits` (bit i of word i / 64) for every pixel x of the
// row `pixels`, `width` pixels of `bytes_per_pixel` (3 or 4) bytes, that
// the rule counts as the target colour. Other bits are left as they are.
// `bits` holds (width + 2 + 63) / 64 words and one more, which it may write
// zeros into.
void MarkTargetPixels(const TargetRule& rule, const uint8_t* pixels, int width, int bytes_per_pixel,
                      uint64_t* bits);

}  // namespace kevrale
