// How the pixels of a PNG or TIFF file are stored: the smallest colour type
// that holds every colour the picture may have without loss (one bit for
// black and white, 2, 4 or 8 bits of grey, a palette of up to 256 colours,
// RGB, or RGBA where alpha is needed), and the density the file states.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picture/ImageFileFormat.h"
#include "platform/LittleEndian.h"

namespace kevrale {

class TBitmap;

enum class RasterKind { Rgb, Rgba, Grey, Palette };

struct RasterLayout {
  RasterKind kind = RasterKind::Rgb;
  // Bits per pixel of Grey and Palette: 1, 2, 4 or 8 (8 for Rgb and Rgba).
  int bits = 8;
  // Grey and Palette: every colour that the rows may hold, as 0xAARRGGBB;
  // a palette's entries in this order (those with alpha below 255 first).
  std::vector<uint32_t> colours;
  // Pixels per metre; 0: the file says 96 dots per inch.
  uint32_t x_ppm = 0;
  uint32_t y_ppm = 0;
};

// The colour of a pixel of a bitmap row, 0xAARRGGBB; a 3-byte pixel is
// opaque.
inline uint32_t ColourAt(const uint8_t* p, int bytes_per_pixel) {
  const uint32_t a = bytes_per_pixel == 4 ? p[3] : 0xFFu;
  return a << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// The end of the run of pixels (kBytes bytes each) equal to pixel `start`
// of `row`, no further than `width`: each pixel compared with the one
// before it, sixteen at a time in vectors, then one by one.
template <int kBytes>
inline int RunEnd(const uint8_t* row, int start, int width) {
  int x = start + 1;
#if defined(__SSE2__)
  constexpr uint64_t kAll = kBytes == 4 ? ~uint64_t(0) : (uint64_t(1) << (16 * kBytes)) - 1;
  for (; x + 16 <= width; x += 16) {
    const uint8_t* p = row + size_t(x) * kBytes;
    uint64_t equal = 0;  // bit i: byte i of the sixteen pixels is that of the pixel before
    for (int i = 0; i < kBytes; ++i) {
      const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i - kBytes));
      equal |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(now, before)))) << (16 * i);
    }
    if (equal != kAll) return x + std::countr_zero(~equal & kAll) / kBytes;
  }
#endif
  const uint8_t* first = row + size_t(start) * kBytes;
  for (; x < width && std::memcmp(row + size_t(x) * kBytes, first, kBytes) == 0; ++x) {
  }
  return x;
}

// Stores a 32-bit word at p, least significant byte first.
inline void PutWord(uint8_t* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(p, &v, 4);
  else
    Put32(p, v);
}

// A colour for each code of a byte: table[code] for the codes of `colours`,
// `missing` for the others.
std::array<uint32_t, 256> CodeColours(const std::vector<uint32_t>& colours, uint32_t missing);

// Writes `width` pixels, the colour codes[x] stands for in `table`, as
// bitmap pixels of `out_bytes` (B G R, and A from the colour's top byte).
void PutCodedColours(const uint8_t* codes, int width, const std::array<uint32_t, 256>& table,
                     uint8_t* out, int out_bytes);

// Packs `count` codes of `bits` each (1, 2, 4 or 8; each code below
// 1 << bits) into bytes, high bits first, the last byte padded with zero
// bits.
void PackCodes(const uint8_t* codes, int count, int bits, uint8_t* out);

// The reverse of PackCodes: `count` codes of `bits` each, a byte each.
void UnpackCodes(const uint8_t* packed, int count, int bits, uint8_t* codes);

// A set of up to 256 colours with a small code for each, found in a hash
// table; colours past the 256th only mark the set as full.
class ColourTable {
 public:
  static constexpr size_t kMostColours = 256;

  // Adds a colour (nothing when it is there already) with the next code.
  void Add(uint32_t colour);
  // Adds every pixel of `count` pixels of a bitmap row.
  void AddRow(const uint8_t* row, int count, int bytes_per_pixel);
  // Whether more than kMostColours colours were added.
  bool Overflowed() const { return overflowed_; }
  // The colours, in the order they were added.
  const std::vector<uint32_t>& Colours() const { return colours_; }
  // The code of a colour: its place in Colours(), or -1.
  int Find(uint32_t colour) const;

 private:
  static constexpr size_t kSlots = 1024;  // a power of two, 4 times the most colours
  static size_t SlotOf(uint32_t colour) { return (colour * 0x9E3779B1u) >> 22; }

  std::array<uint32_t, kSlots> keys_{};
  std::array<int16_t, kSlots> codes_ = Empty();
  std::vector<uint32_t> colours_;
  bool overflowed_ = false;
  // The last colour added, which line art repeats for long runs.
  uint32_t last_ = 0;
  bool has_last_ = false;

  static std::array<int16_t, kSlots> Empty() {
    std::array<int16_t, kSlots> codes;
    codes.fill(-1);
    return codes;
  }
};

// The smallest layout in `format` (PNG or TIFF) that holds every colour of
// `colours` (opaque ones only, for a picture without alpha). Grey wins over
// a palette of as many bits; black and white alone is one bit of grey.
// TIFF has no palette with alpha: such a picture is RGBA there. A table
// that overflowed gives RGB, or RGBA for a picture with alpha.
RasterLayout ChooseLayout(const ColourTable& colours, bool alpha, TImageFileFormat format);

// ChooseLayout for the colours of a whole bitmap.
RasterLayout LayoutOf(const TBitmap& bitmap, TImageFileFormat format);

// Turns bitmap rows into the packed samples of a Grey or Palette layout:
// each pixel's code, `bits` per pixel, high bits first, rows padded to a
// byte. A grey layout takes each pixel's level as it is. A pixel that the
// layout cannot hold (outside the palette, not grey, a level between those
// of the bits) raises std::logic_error rather than be written as another
// colour.
class RowPacker {
 public:
  explicit RowPacker(const RasterLayout& layout);
  // Bytes of one packed row of `width` pixels.
  size_t RowBytes(int width) const { return (size_t(width) * size_t(bits_) + 7) / 8; }
  void Pack(const uint8_t* row, int width, int bytes_per_pixel, uint8_t* out) const;

 private:
  void PackGrey(const uint8_t* row, int width, int bytes_per_pixel, uint8_t* out) const;

  int bits_;
  bool grey_;
  ColourTable table_;
  std::vector<uint8_t> codes_;  // the sample of each colour of the table
};

}  // namespace kevrale
