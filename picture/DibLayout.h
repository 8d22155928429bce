// The facts of a device-independent bitmap (DIB) that has been checked
// against the memory that holds it: its size, how its rows are stored and
// its colour table. Whoever checked it hands this on, so that nothing reads
// the header again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevrale {

struct DibLayout {
  int32_t Width = 0;
  int32_t Height = 0;  // as stored: negative for rows stored top-down
  uint16_t BitCount = 0;
  uint32_t ColorCount = 0;  // colour-table entries, the default ones included
  uint32_t InfoSize = 0;    // 40 + 4 * ColorCount
  uint32_t Stride = 0;      // bytes per row, padded to 4
  uint32_t ImageSize = 0;   // Stride * Rows()
  // The colour table as 0x00RRGGBB values, ColorCount entries.
  std::vector<uint32_t> Palette;

  bool TopDown() const { return Height < 0; }
  int32_t Rows() const { return Height < 0 ? -Height : Height; }
  // Where the row shown as row y (from the top) is stored in the bits.
  size_t RowOffset(int32_t y) const {
    return size_t(TopDown() ? y : Rows() - 1 - y) * size_t(Stride);
  }
};

}  // namespace kevrale
