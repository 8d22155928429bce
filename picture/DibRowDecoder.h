// Turns the stored pixels of one row of a device-independent bitmap into
// the bitmap's own layout: B, G, R per pixel, and A as well for 4 bytes
// per pixel. The BMP reader, the icon kind and the plug-in graphic all
// decode their rows here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevrale {

// Colour masks of 16- and 32-bit pixels: red, green, blue, alpha. A zero
// alpha mask means every pixel is opaque.
using DibMasks = std::array<uint32_t, 4>;

class DibRowDecoder {
 public:
  // Marks a palette entry that lies past the colour table.
  static constexpr uint32_t kBadIndex = 0x01000000;

  // `bit_count` 1, 2, 4 or 8: indices into `palette` (0x00RRGGBB values;
  // an index at or past its size is a bad index). 16 and 32: bit fields
  // after `masks`. 24: B, G, R bytes. `out_bytes` is 3 or 4.
  DibRowDecoder(int bit_count, const std::vector<uint32_t>& palette, const DibMasks& masks,
                int out_bytes);

  // The masks that a 16- or 32-bit DIB without masks of its own uses:
  // 5-5-5 and 8-8-8, no alpha.
  static DibMasks DefaultMasks(int bit_count);

  // Decodes `count` pixels from `src`, which starts on a byte (for fewer
  // than 8 bits per pixel, at a pixel whose bit offset is a multiple of 8),
  // into `dst`. Returns false when a pixel indexes past the colour table;
  // such a pixel is written black.
  bool Decode(const uint8_t* src, size_t count, uint8_t* dst) const;

 private:
  uint32_t Widen(uint32_t pixel) const;
  void Put(uint8_t* d, uint32_t argb) const;

  int bit_count_;
  int out_bytes_;
  // 256 entries; those past the colour table hold kBadIndex.
  std::vector<uint32_t> palette_;
  struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
  };
  std::array<Channel, 4> channels_;
  // Every 16-bit value once, as 0xAARRGGBB.
  std::vector<uint32_t> table16_;
};

}  // namespace kevrale
