// Colour values as the program exchanges them: 0x00BBGGRR, red in the low
// byte. Comparisons that matter use the low 24 bits only.
#pragma once

#include <cstdint>

namespace kevrale {

using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor kColorMask = 0xFFFFFF;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr uint8_t GetRValue(TColor c) {
  return uint8_t(c);
}
constexpr uint8_t GetGValue(TColor c) {
  return uint8_t(c >> 8);
}
constexpr uint8_t GetBValue(TColor c) {
  return uint8_t(c >> 16);
}

}  // namespace kevrale
