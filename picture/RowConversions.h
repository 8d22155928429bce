// The byte loops between a bitmap's pixels (B G R, or B G R A) and the
// samples of picture files: grey levels and red-first colour. Plain loops
// over rows that do not overlap, which the compiler turns into vector code.
#pragma once

#include <array>
#include <cstdint>

namespace kevrale {

// Writes `width` opaque grey pixels of `out_bytes` (3 or 4), the levels
// of `levels`.
void PutGreyLevels(const uint8_t* levels, int width, uint8_t* out, int out_bytes);

// The grey level of each of `width` pixels of `bytes_per_pixel` into
// `levels`; false when a pixel is not grey, or not opaque.
bool TakeGreyLevels(const uint8_t* row, int width, int bytes_per_pixel, uint8_t* levels);

// Whether the colour of each code is the opaque grey of that level.
bool IsGreyRamp(const std::array<uint32_t, 256>& table);

// Swaps the first and third byte of each of `width` pixels of `bytes`
// (3 or 4): B G R (A) into R G B (A), and back.
void SwapRedBlue(const uint8_t* in, int width, int bytes, uint8_t* out);

}  // namespace kevrale
