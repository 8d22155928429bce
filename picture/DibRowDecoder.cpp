#include "picture/DibRowDecoder.h"

#include <bit>

#include "platform/LittleEndian.h"

namespace kevrale {

namespace {

// A channel of `bits` bits widened to 8, rounded to the nearest value.
uint8_t Scale(uint32_t value, int bits) {
  if (bits == 0) return 0;
  if (bits == 8) return uint8_t(value);
  const uint64_t max = (uint64_t(1) << bits) - 1;
  return uint8_t((uint64_t(value) * 255 + max / 2) / max);
}

}  // namespace

DibRowDecoder::DibRowDecoder(int bit_count, const std::vector<uint32_t>& palette,
                             const DibMasks& masks, int out_bytes)
    : bit_count_(bit_count), out_bytes_(out_bytes) {
  if (bit_count <= 8) {
    palette_.assign(256, kBadIndex);
    for (size_t i = 0; i < palette.size() && i < palette_.size(); ++i)
      palette_[i] = palette[i] & 0xFFFFFF;
  }
  for (size_t i = 0; i < 4; ++i) {
    Channel& c = channels_[i];
    c.mask = masks[i];
    if (c.mask == 0) continue;
    c.shift = std::countr_zero(c.mask);
    c.bits = std::popcount(c.mask);
  }
  if (bit_count == 16) {
    table16_.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) table16_[v] = Widen(v);
  }
}

DibMasks DibRowDecoder::DefaultMasks(int bit_count) {
  if (bit_count == 16) return {0x7C00, 0x03E0, 0x001F, 0};
  return {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
}

uint32_t DibRowDecoder::Widen(uint32_t pixel) const {
  uint32_t argb =
      channels_[3].mask != 0
          ? uint32_t(Scale((pixel & channels_[3].mask) >> channels_[3].shift, channels_[3].bits))
                << 24
          : 0xFF000000u;
  for (int i = 0; i < 3; ++i) {
    const Channel& c = channels_[size_t(i)];
    argb |= uint32_t(Scale((pixel & c.mask) >> c.shift, c.bits)) << (16 - 8 * i);
  }
  return argb;
}

void DibRowDecoder::Put(uint8_t* d, uint32_t argb) const {
  d[0] = uint8_t(argb);
  d[1] = uint8_t(argb >> 8);
  d[2] = uint8_t(argb >> 16);
  if (out_bytes_ == 4) d[3] = uint8_t(argb >> 24);
}

bool DibRowDecoder::Decode(const uint8_t* src, size_t count, uint8_t* dst) const {
  const size_t step = size_t(out_bytes_);
  switch (bit_count_) {
    case 1:
    case 2:
    case 4:
    case 8: {
      const uint32_t* colours = palette_.data();
      uint32_t seen = 0;
      if (bit_count_ == 8) {
        for (size_t x = 0; x < count; ++x, dst += step) {
          const uint32_t c = colours[src[x]];
          seen |= c;
          Put(dst, c | 0xFF000000u);
        }
      } else {
        const size_t per_byte = size_t(8 / bit_count_);
        const uint32_t low = (1u << bit_count_) - 1;
        for (size_t x = 0; x < count; ++x, dst += step) {
          const int shift = 8 - bit_count_ * (int(x % per_byte) + 1);
          const uint32_t c = colours[(src[x / per_byte] >> shift) & low];
          seen |= c;
          Put(dst, c | 0xFF000000u);
        }
      }
      // A bad entry's colour bytes are zero: the pixel was written black.
      return (seen & kBadIndex) == 0;
    }
    case 16:
      for (size_t x = 0; x < count; ++x, dst += step) Put(dst, table16_[Get16(src + 2 * x)]);
      return true;
    case 24:
      for (size_t x = 0; x < count; ++x, dst += step, src += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        if (out_bytes_ == 4) dst[3] = 0xFF;
      }
      return true;
    case 32:
      for (size_t x = 0; x < count; ++x, dst += step) Put(dst, Widen(Get32(src + 4 * x)));
      return true;
    default:
      return false;
  }
}

}  // namespace kevrale
