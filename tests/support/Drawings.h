// Small line drawings that tests in several suites open, thin and compare.
#pragma once

#include "picture/TBitmap.h"

namespace kevrale::drawing {

// Crossing strokes three and four pixels wide in black on white, 40 x 30.
inline TBitmap CrossingStrokes() {
  TBitmap b(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool bar = y >= 5 && y < 8 && x >= 3 && x < 37;
      const bool post = x >= 18 && x < 22 && y >= 2 && y < 27;
      b.SetPixel(x, y, bar || post ? clBlack : clWhite);
    }
  return b;
}

}  // namespace kevrale::drawing
