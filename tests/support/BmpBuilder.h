// Builds BMP files byte by byte, header field by header field, so that tests
// and the fuzzer's seed generator can make every variant of the format and
// break any field on purpose. It does not share code with the reader.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kevrale::test {

struct BmpSpec {
  uint32_t header_size = 40;  // 12, 16, 40, 52, 56, 64, 108, 124 (or anything)
  int32_t width = 0;
  int32_t height = 0;  // negative: rows stored top-down
  uint16_t planes = 1;
  uint16_t bit_count = 24;
  uint32_t compression = 0;
  uint32_t colours_used = 0;
  // Red, green, blue(, alpha): in the header from 52 bytes on, else written
  // after the header (for BI_BITFIELDS / BI_ALPHABITFIELDS).
  std::vector<uint32_t> masks;
  std::vector<uint32_t> palette;   // 0x00RRGGBB, 3 bytes each in a 12-byte header
  uint32_t gap = 0;                // unused bytes between palette and pixels
  std::optional<uint32_t> offset;  // bfOffBits; computed when empty
  std::vector<uint8_t> pixels;     // the pixel data exactly as stored
};

inline void PutLe(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
  if (bytes < 0 || at > out.size() || size_t(bytes) > out.size() - at)
    throw std::out_of_range("PutLe outside the file");
  for (int i = 0; i < bytes; ++i) out[at + size_t(i)] = uint8_t(value >> (8 * i));
}

inline std::vector<uint8_t> BuildBmp(const BmpSpec& s) {
  const bool core = s.header_size == 12;
  const bool masks_after = s.header_size < 52 && !s.masks.empty();
  const size_t entry = core ? 3 : 4;
  const size_t palette_at = 14 + s.header_size + (masks_after ? 4 * s.masks.size() : 0);
  const size_t pixels_at = palette_at + entry * s.palette.size() + s.gap;
  std::vector<uint8_t> f(pixels_at + s.pixels.size());
  f[0] = 'B';
  f[1] = 'M';
  PutLe(f, 2, uint32_t(f.size()), 4);
  PutLe(f, 10, s.offset.value_or(uint32_t(pixels_at)), 4);
  // The header fields that fit into header_size bytes.
  std::vector<uint8_t> h(std::max<size_t>(s.header_size, 124));
  PutLe(h, 0, s.header_size, 4);
  if (core) {
    PutLe(h, 4, uint32_t(s.width), 2);
    PutLe(h, 6, uint32_t(s.height), 2);
    PutLe(h, 8, s.planes, 2);
    PutLe(h, 10, s.bit_count, 2);
  } else {
    PutLe(h, 4, uint32_t(s.width), 4);
    PutLe(h, 8, uint32_t(s.height), 4);
    PutLe(h, 12, s.planes, 2);
    PutLe(h, 14, s.bit_count, 2);
    PutLe(h, 16, s.compression, 4);
    PutLe(h, 20, uint32_t(s.pixels.size()), 4);
    PutLe(h, 24, 2835, 4);
    PutLe(h, 28, 2835, 4);
    PutLe(h, 32, s.colours_used, 4);
    if (s.header_size >= 52 && s.header_size != 64)
      for (size_t i = 0; i < s.masks.size() && 40 + 4 * i + 4 <= s.header_size; ++i)
        PutLe(h, 40 + 4 * i, s.masks[i], 4);
    if (s.header_size >= 108) PutLe(h, 56, 0x73524742, 4);  // sRGB
  }
  std::copy(h.begin(), h.begin() + s.header_size, f.begin() + 14);
  size_t at = 14 + s.header_size;
  if (masks_after)
    for (uint32_t m : s.masks) PutLe(f, (at += 4) - 4, m, 4);
  for (uint32_t c : s.palette) {
    PutLe(f, at, c & 0xFF, 1);              // blue
    PutLe(f, at + 1, (c >> 8) & 0xFF, 1);   // green
    PutLe(f, at + 2, (c >> 16) & 0xFF, 1);  // red
    at += entry;
  }
  std::copy(s.pixels.begin(), s.pixels.end(), f.begin() + long(pixels_at));
  return f;
}

// Packs rows of `bits`-per-pixel values, padded to 4 bytes, in file order
// (bottom row first unless top_down). value(x, y) counts y from the top;
// 16-, 24- and 32-bit values are stored little-endian.
inline std::vector<uint8_t> PackRows(int width, int height, int bits, bool top_down,
                                     const std::function<uint32_t(int, int)>& value) {
  const size_t stride = (size_t(width) * size_t(bits) + 31) / 32 * 4;
  std::vector<uint8_t> out(stride * size_t(height));
  for (int n = 0; n < height; ++n) {
    const int y = top_down ? n : height - 1 - n;
    uint8_t* row = out.data() + size_t(n) * stride;
    for (int x = 0; x < width; ++x) {
      const uint32_t v = value(x, y);
      if (bits < 8) {
        const int per_byte = 8 / bits;
        const int shift = 8 - bits * (x % per_byte + 1);
        row[x / per_byte] = uint8_t(row[x / per_byte] | ((v & ((1u << bits) - 1)) << shift));
      } else {
        for (int b = 0; b < bits / 8; ++b)
          row[size_t(x) * size_t(bits / 8) + size_t(b)] = uint8_t(v >> (8 * b));
      }
    }
  }
  return out;
}

// One DIB-coded icon image: a 40-byte header whose height counts the colour
// rows and the mask rows, the palette, the colour rows and the 1-bit AND
// mask rows (both bottom-up).
inline std::vector<uint8_t> BuildIconDib(int width, int height, int bits,
                                         const std::vector<uint32_t>& palette,
                                         const std::function<uint32_t(int, int)>& value,
                                         const std::function<bool(int, int)>& transparent) {
  BmpSpec s;
  s.width = width;
  s.height = 2 * height;
  s.bit_count = uint16_t(bits);
  s.palette = palette;
  s.colours_used = uint32_t(palette.size());
  s.pixels = PackRows(width, height, bits, false, value);
  const std::vector<uint8_t> mask =
      PackRows(width, height, 1, false, [&](int x, int y) { return transparent(x, y) ? 1u : 0u; });
  s.pixels.insert(s.pixels.end(), mask.begin(), mask.end());
  std::vector<uint8_t> bmp = BuildBmp(s);
  bmp.erase(bmp.begin(), bmp.begin() + 14);  // an icon image has no file header
  return bmp;
}

// An .ico file holding the given images (width and height of each given
// for the directory entry).
struct IconImage {
  int width = 0;
  int height = 0;
  int bits = 0;
  std::vector<uint8_t> data;
};

inline std::vector<uint8_t> BuildIco(const std::vector<IconImage>& images) {
  std::vector<uint8_t> f(6 + 16 * images.size());
  PutLe(f, 2, 1, 2);  // type: icon
  PutLe(f, 4, uint32_t(images.size()), 2);
  for (size_t i = 0; i < images.size(); ++i) {
    const IconImage& im = images[i];
    const size_t e = 6 + 16 * i;
    PutLe(f, e, uint32_t(im.width & 0xFF), 1);
    PutLe(f, e + 1, uint32_t(im.height & 0xFF), 1);
    PutLe(f, e + 4, 1, 2);  // planes
    PutLe(f, e + 6, uint32_t(im.bits), 2);
    PutLe(f, e + 8, uint32_t(im.data.size()), 4);
    PutLe(f, e + 12, uint32_t(f.size()), 4);
    f.insert(f.end(), im.data.begin(), im.data.end());
  }
  return f;
}

}  // namespace kevrale::test
