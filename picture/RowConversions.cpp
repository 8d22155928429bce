#include "picture/RowConversions.h"

#include <cstddef>

#include "platform/VectorClones.h"

namespace kevrale {

namespace {

KEVRALE_VECTOR_CLONES void GreyToThree(const uint8_t* __restrict levels, int width,
                                       uint8_t* __restrict out) {
  for (size_t x = 0; x < size_t(width); ++x) {
    out[3 * x] = levels[x];
    out[3 * x + 1] = levels[x];
    out[3 * x + 2] = levels[x];
  }
}

KEVRALE_VECTOR_CLONES void GreyToFour(const uint8_t* __restrict levels, int width,
                                      uint8_t* __restrict out) {
  for (size_t x = 0; x < size_t(width); ++x) {
    out[4 * x] = levels[x];
    out[4 * x + 1] = levels[x];
    out[4 * x + 2] = levels[x];
    out[4 * x + 3] = 255;
  }
}

KEVRALE_VECTOR_CLONES bool GreyFromThree(const uint8_t* __restrict row, int width,
                                         uint8_t* __restrict levels) {
  unsigned other = 0;
  for (size_t x = 0; x < size_t(width); ++x) {
    const uint8_t b = row[3 * x];
    levels[x] = b;
    other |= unsigned(b ^ row[3 * x + 1]) | unsigned(b ^ row[3 * x + 2]);
  }
  return other == 0;
}

KEVRALE_VECTOR_CLONES bool GreyFromFour(const uint8_t* __restrict row, int width,
                                        uint8_t* __restrict levels) {
  unsigned other = 0;
  for (size_t x = 0; x < size_t(width); ++x) {
    const uint8_t b = row[4 * x];
    levels[x] = b;
    other |= unsigned(b ^ row[4 * x + 1]) | unsigned(b ^ row[4 * x + 2]) |
             unsigned(row[4 * x + 3] ^ 0xFF);
  }
  return other == 0;
}

KEVRALE_VECTOR_CLONES void SwapThree(const uint8_t* __restrict in, int width,
                                     uint8_t* __restrict out) {
  for (size_t i = 0; i < size_t(width) * 3; i += 3) {
    out[i] = in[i + 2];
    out[i + 1] = in[i + 1];
    out[i + 2] = in[i];
  }
}

KEVRALE_VECTOR_CLONES void SwapFour(const uint8_t* __restrict in, int width,
                                    uint8_t* __restrict out) {
  for (size_t i = 0; i < size_t(width) * 4; i += 4) {
    out[i] = in[i + 2];
    out[i + 1] = in[i + 1];
    out[i + 2] = in[i];
    out[i + 3] = in[i + 3];
  }
}

}  // namespace

void PutGreyLevels(const uint8_t* levels, int width, uint8_t* out, int out_bytes) {
  if (out_bytes == 4)
    GreyToFour(levels, width, out);
  else
    GreyToThree(levels, width, out);
}

bool TakeGreyLevels(const uint8_t* row, int width, int bytes_per_pixel, uint8_t* levels) {
  return bytes_per_pixel == 4 ? GreyFromFour(row, width, levels)
                              : GreyFromThree(row, width, levels);
}

bool IsGreyRamp(const std::array<uint32_t, 256>& table) {
  for (uint32_t level = 0; level < table.size(); ++level)
    if (table[level] != (0xFF000000u | level * 0x010101u)) return false;
  return true;
}

void SwapRedBlue(const uint8_t* in, int width, int bytes, uint8_t* out) {
  if (bytes == 4)
    SwapFour(in, width, out);
  else
    SwapThree(in, width, out);
}

}  // namespace kevrale
