#include "thinning/TargetRule.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kevrale {

namespace {

// ORs `value` into the bitset, its bit 0 at bit `at`.
inline void OrBits(uint64_t* bits, int at, uint64_t value) {
  const size_t word = size_t(at) >> 6;
  const unsigned shift = unsigned(at) & 63;
  bits[word] |= value << shift;
  if (shift != 0) bits[word + 1] |= value >> (64 - shift);
}

#if defined(__SSE2__)

// For every 12-bit value, its bits 0, 3, 6 and 9 packed into bits 0..3.
struct EveryThirdBit {
  uint8_t pack[1 << 12];
  constexpr EveryThirdBit() : pack() {
    for (int v = 0; v < (1 << 12); ++v)
      pack[v] = uint8_t((v & 1) | (v >> 2 & 2) | (v >> 4 & 4) | (v >> 6 & 8));
  }
};
constexpr EveryThirdBit kEveryThirdBit;

// Sixteen 24-bit pixels from the 48 byte results of their bytes (bit i set
// when byte i passed): bit j set when all three bytes of pixel j passed.
inline uint32_t PixelsOfBytes(uint64_t bytes) {
  const uint64_t pixels = bytes & bytes >> 1 & bytes >> 2;
  return uint32_t(kEveryThirdBit.pack[pixels & 0xFFF]) |
         uint32_t(kEveryThirdBit.pack[pixels >> 12 & 0xFFF]) << 4 |
         uint32_t(kEveryThirdBit.pack[pixels >> 24 & 0xFFF]) << 8 |
         uint32_t(kEveryThirdBit.pack[pixels >> 36 & 0xFFF]) << 12;
}

inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// 0xFF in each byte of v within `limit` of the same byte of `key`.
inline __m128i Near(__m128i v, __m128i key, __m128i limit) {
  const __m128i diff = _mm_or_si128(_mm_subs_epu8(v, key), _mm_subs_epu8(key, v));
  return _mm_cmpeq_epi8(_mm_subs_epu8(diff, limit), _mm_setzero_si128());
}

// Sixteen 24-bit pixels from the byte results of their 48 bytes (0xFF where
// a byte passed). Most groups of a picture have no byte that passes at all,
// and one test of the three vectors together skips them.
struct Bytes48 {
  __m128i v[3];
};
inline uint32_t PixelsOf24(const Bytes48& passed) {
  const __m128i any = _mm_or_si128(passed.v[0], _mm_or_si128(passed.v[1], passed.v[2]));
  if (_mm_movemask_epi8(any) == 0) return 0;
  const auto mask = [&](int i) { return uint64_t(uint32_t(_mm_movemask_epi8(passed.v[i]))); };
  return PixelsOfBytes(mask(0) | mask(1) << 16 | mask(2) << 32);
}

// The key and limit bytes for sixteen 24-bit pixels, in three vectors.
struct Pattern24 {
  __m128i v[3];
  Pattern24(uint8_t b, uint8_t g, uint8_t r) {
    alignas(16) uint8_t bytes[48];
    for (int i = 0; i < 48; i += 3) {
      bytes[i] = b;
      bytes[i + 1] = g;
      bytes[i + 2] = r;
    }
    for (int i = 0; i < 3; ++i) v[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes) + i);
  }
};

// Runs `match` on every whole group of sixteen pixels; returns how many
// pixels it covered.
template <size_t kBytes, typename Match>
int MarkGroups(uint64_t* bits, const uint8_t* pixels, int width, Match match) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const uint32_t found = match(pixels + size_t(x) * kBytes);
    if (found != 0) OrBits(bits, x + 1, found);
  }
  return x;
}

// The constants for 32-bit pixels.
struct Key32 {
  __m128i key, colour, alpha, near;
  Key32(uint8_t b, uint8_t g, uint8_t r, uint8_t limit)
      : key(_mm_set1_epi32(int(uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16))),
        colour(_mm_set1_epi32(0x00FFFFFF)),
        alpha(_mm_set1_epi32(int(0xFF000000u))),
        // The limit's fourth byte lets every alpha byte pass; alpha has a
        // check of its own.
        near(_mm_set1_epi32(int(uint32_t(limit) * 0x010101u | 0xFF000000u))) {}
};

// Sixteen 32-bit pixels against the target: exactly, or within the limit
// (kNear); with kAlpha a pixel of alpha 0 never matches.
template <bool kNear, bool kAlpha>
struct Sixteen32 {
  const Key32& k;
  uint32_t Four(const uint8_t* p) const {
    const __m128i v = Load16(p);
    __m128i found = kNear ? _mm_cmpeq_epi32(Near(v, k.key, k.near), _mm_cmpeq_epi32(v, v))
                          : _mm_cmpeq_epi32(_mm_and_si128(v, k.colour), k.key);
    if (kAlpha)
      found =
          _mm_andnot_si128(_mm_cmpeq_epi32(_mm_and_si128(v, k.alpha), _mm_setzero_si128()), found);
    return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(found)));
  }
  uint32_t operator()(const uint8_t* p) const {
    return Four(p) | Four(p + 16) << 4 | Four(p + 32) << 8 | Four(p + 48) << 12;
  }
};

int MarkVector(const TargetRule& rule, const uint8_t* pixels, int width, int bytes_per_pixel,
               uint64_t* bits) {
  const uint8_t b = uint8_t(rule.target >> 16), g = uint8_t(rule.target >> 8),
                r = uint8_t(rule.target);
  const uint8_t limit = uint8_t(std::min(rule.tolerance, 255));
  if (bytes_per_pixel == 3) {
    const Pattern24 key(b, g, r);
    if (limit == 0)
      return MarkGroups<3>(bits, pixels, width, [&key](const uint8_t* p) {
        return PixelsOf24({_mm_cmpeq_epi8(Load16(p), key.v[0]),
                           _mm_cmpeq_epi8(Load16(p + 16), key.v[1]),
                           _mm_cmpeq_epi8(Load16(p + 32), key.v[2])});
      });
    const __m128i near = _mm_set1_epi8(char(limit));
    return MarkGroups<3>(bits, pixels, width, [&key, near](const uint8_t* p) {
      return PixelsOf24({Near(Load16(p), key.v[0], near), Near(Load16(p + 16), key.v[1], near),
                         Near(Load16(p + 32), key.v[2], near)});
    });
  }

  // 32-bit pixels: four to a vector.
  const Key32 key(b, g, r, limit);
  if (limit == 0)
    return rule.alpha ? MarkGroups<4>(bits, pixels, width, Sixteen32<false, true>{key})
                      : MarkGroups<4>(bits, pixels, width, Sixteen32<false, false>{key});
  return rule.alpha ? MarkGroups<4>(bits, pixels, width, Sixteen32<true, true>{key})
                    : MarkGroups<4>(bits, pixels, width, Sixteen32<true, false>{key});
}

#else

int MarkVector(const TargetRule&, const uint8_t*, int, int, uint64_t*) {
  return 0;
}

#endif

}  // namespace

bool TargetRule::Matches(const uint8_t* pixel, int bytes_per_pixel) const {
  if (alpha && bytes_per_pixel == 4 && pixel[3] == 0) return false;
  const auto near = [this](uint8_t value, uint32_t wanted) {
    return std::abs(int(value) - int(wanted & 0xFF)) <= tolerance;
  };
  return near(pixel[0], target >> 16) && near(pixel[1], target >> 8) && near(pixel[2], target);
}

void MarkTargetPixels(const TargetRule& rule, const uint8_t* pixels, int width, int bytes_per_pixel,
                      uint64_t* bits) {
  if (rule.tolerance < 0) return;  // no difference is that small
  int x = MarkVector(rule, pixels, width, bytes_per_pixel, bits);
  for (; x < width; ++x)
    if (rule.Matches(pixels + size_t(x) * size_t(bytes_per_pixel), bytes_per_pixel))
      bits[size_t(x + 1) >> 6] |= uint64_t(1) << ((x + 1) & 63);
}

}  // namespace kevrale
