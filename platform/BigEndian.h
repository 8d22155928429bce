// Big-endian reads and writes of the 32-bit fields of the file formats
// that store them so (PNG).
#pragma once

#include <cstdint>

namespace kevrale {

constexpr uint32_t GetBig32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

constexpr void PutBig32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}

}  // namespace kevrale
