// Little-endian reads and writes of the 16-, 32- and 64-bit fields of the
// file formats, memory blocks and messages the program exchanges (BMP, DIB,
// icon, the plug-in processes' messages).
#pragma once

#include <cstdint>

namespace kevrale {

constexpr uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

constexpr uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint64_t Get64(const uint8_t* p) {
  return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32;
}

constexpr void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

constexpr void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

constexpr void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace kevrale
