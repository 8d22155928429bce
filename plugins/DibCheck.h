// The check of a device-independent bitmap that a plug-in handed back, made
// before anything reads it: a plug-in is foreign code, and the sizes in its
// header must agree with the memory blocks that really came back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kevrale {

// The facts of a DIB that passed the check.
struct DibLayout {
  int32_t Width = 0;
  int32_t Height = 0;  // as stored: negative for rows stored top-down
  uint16_t BitCount = 0;
  uint32_t ColorCount = 0;  // colour-table entries, the default ones included
  uint32_t InfoSize = 0;    // 40 + 4 * ColorCount
  uint32_t Stride = 0;      // bytes per row, padded to 4
  uint32_t ImageSize = 0;   // Stride * |Height|
};

// The largest width or height accepted.
constexpr int32_t kMaxDibSide = 65535 * 4;

// Checks the info block (`info`, `info_size` bytes: a 40-byte
// BITMAPINFOHEADER followed by the colour table) against the bits block of
// `bits_size` bytes at `bits`. Accepted: header size 40, one plane, width
// 1 .. kMaxDibSide, height non-zero and within the same bound, no more
// pixels than a bitmap may have, 1, 4, 8, 16, 24 or 32 bits per pixel,
// uncompressed (BI_RGB) rows, a colour count that the bit count allows,
// the colour table inside the info block, the rows inside the bits block,
// and (when the table is shorter than the bit count allows) no pixel that
// indexes past the table. Anything else gives nullopt.
std::optional<DibLayout> CheckDib(const void* info, size_t info_size, const void* bits,
                                  size_t bits_size);

}  // namespace kevrale
