// The check of a device-independent bitmap that a plug-in handed back, made
// before anything reads it: a plug-in is foreign code, and the sizes in its
// header must agree with the memory blocks that really came back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "picture/DibLayout.h"

namespace kevrale {

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
// indexes past the table. Anything else gives nullopt. The layout carries
// the colour table, so that nothing reads the header again.
std::optional<DibLayout> CheckDib(const void* info, size_t info_size, const void* bits,
                                  size_t bits_size);

}  // namespace kevrale
