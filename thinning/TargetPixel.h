// Which pixels of a bitmap have the target colour, and how a removed pixel
// is painted, for the work done on a thinned picture (tracing, pruning).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Color.h"

namespace kevrale {

// A pixel (B, G, R[, A]) has the target colour when its low 24 bits equal
// `target` (0x00BBGGRR); a fully transparent pixel of a picture with alpha
// never has it, whatever colour it stores.
inline bool IsTargetPixel(const uint8_t* p, int bytes_per_pixel, TColor target) {
  return p[0] == GetBValue(target) && p[1] == GetGValue(target) && p[2] == GetRValue(target) &&
         (bytes_per_pixel < 4 || p[3] != 0);
}

// Appends the columns of the target pixels of one row, left to right. With
// a tolerance above 0 a pixel counts when none of its channels differs from
// the target's by more than the tolerance (the engine's rule, TargetRule).
void AppendTargetColumns(const uint8_t* row, int width, int bytes_per_pixel, TColor target,
                         std::vector<int32_t>& columns, int tolerance = 0);

// Paints a removed pixel in the surround colour as the thinning run does:
// the three colour bytes, the alpha byte kept.
inline void PaintSurround(uint8_t* p, TColor surround) {
  p[0] = GetBValue(surround);
  p[1] = GetGValue(surround);
  p[2] = GetRValue(surround);
}

}  // namespace kevrale
