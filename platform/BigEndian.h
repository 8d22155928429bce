// Big-endian writes of the 32-bit fields of the file formats that store
// them so (PNG).
#pragma once

#include <cstdint>

namespace kevrale {

constexpr void PutBig32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}

}  // namespace kevrale
