#include "picture/PngFilters.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kevrale {

namespace {

// The byte nearest to left + above - above_left of the three; ties go to
// left, then above.
inline uint8_t Paeth(int left, int above, int above_left) {
  const int to_left = std::abs(above - above_left);
  const int to_above = std::abs(left - above_left);
  const int to_above_left = std::abs(left + above - 2 * above_left);
  if (to_left <= to_above && to_left <= to_above_left) return uint8_t(left);
  return uint8_t(to_above <= to_above_left ? above : above_left);
}

void UnfilterUp(const uint8_t* __restrict raw, const uint8_t* __restrict above,
                uint8_t* __restrict out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(raw[i] + above[i]);
}

void Scalar(uint8_t type, const uint8_t* raw, const uint8_t* above, uint8_t* out, size_t n,
            size_t bpp, size_t from) {
  for (size_t i = from; i < n; ++i) {
    const int left = i >= bpp ? out[i - bpp] : 0;
    const int above_left = i >= bpp ? above[i - bpp] : 0;
    int prediction = 0;
    if (type == 1) prediction = left;
    if (type == 3) prediction = (left + above[i]) / 2;
    if (type == 4) prediction = Paeth(left, above[i], above_left);
    out[i] = uint8_t(raw[i] + prediction);
  }
}

#if defined(__SSE2__)
// 16-bit lanes of bytes, and Paeth's choice among them.
struct Lanes {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low_bytes = _mm_set1_epi16(0xFF);

  // 4 bytes from p, a lane each.
  __m128i Load(const uint8_t* p) const {
    int v;
    std::memcpy(&v, p, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
  }
  __m128i Abs(__m128i v) const { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); }
  // Where `mask` is set, `when_set`; elsewhere `otherwise`.
  static __m128i Pick(__m128i mask, __m128i when_set, __m128i otherwise) {
    return _mm_or_si128(_mm_and_si128(mask, when_set), _mm_andnot_si128(mask, otherwise));
  }
  // How far left + up - corner lies from each: |up - corner| from left,
  // |left - corner| from up, the sum's size from the corner; the nearest
  // wins, left before up before the corner.
  __m128i Paeth(__m128i left, __m128i up, __m128i corner) const {
    const __m128i from_left = _mm_sub_epi16(up, corner);
    const __m128i from_above = _mm_sub_epi16(left, corner);
    const __m128i to_left = Abs(from_left);
    const __m128i to_above = Abs(from_above);
    const __m128i to_corner = Abs(_mm_add_epi16(from_left, from_above));
    const __m128i not_left =
        _mm_or_si128(_mm_cmpgt_epi16(to_left, to_above), _mm_cmpgt_epi16(to_left, to_corner));
    return Pick(not_left, Pick(_mm_cmpgt_epi16(to_above, to_corner), corner, up), left);
  }
};

// Pixels of 3 or 4 bytes a pixel at a time, as 16-bit lanes: the byte to
// the left is the pixel just made, so the row goes pixel by pixel, but the
// bytes of a pixel together. Returns where the bytes left to the scalar
// loop begin (a 3-byte pixel is loaded as 4 bytes, so the last one waits).
template <uint8_t kType>
size_t Vector(const uint8_t* raw, const uint8_t* above, uint8_t* out, size_t n, size_t bpp) {
  const Lanes lanes;
  __m128i left = lanes.zero, corner = lanes.zero;
  size_t i = 0;
  for (; i + 4 <= n; i += bpp) {
    const __m128i up = lanes.Load(above + i);
    __m128i prediction;
    if constexpr (kType == 1)
      prediction = left;
    else if constexpr (kType == 3)
      prediction = _mm_srli_epi16(_mm_add_epi16(left, up), 1);
    else
      prediction = lanes.Paeth(left, up, corner);
    const __m128i made =
        _mm_and_si128(_mm_add_epi16(lanes.Load(raw + i), prediction), lanes.low_bytes);
    const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(made, lanes.zero));
    std::memcpy(out + i, &bytes, bpp == 4 ? 4 : 3);
    left = made;
    corner = up;
  }
  return i;
}

#endif

}  // namespace

bool UnfilterRow(uint8_t type, const uint8_t* raw, const uint8_t* above, uint8_t* out,
                 size_t row_bytes, size_t pixel_bytes) {
  switch (type) {
    case 0:
      std::memcpy(out, raw, row_bytes);
      return true;
    case 2:
      UnfilterUp(raw, above, out, row_bytes);
      return true;
    case 1:
    case 3:
    case 4: {
      size_t from = 0;
#if defined(__SSE2__)
      if (pixel_bytes == 3 || pixel_bytes == 4)
        from = type == 1   ? Vector<1>(raw, above, out, row_bytes, pixel_bytes)
               : type == 3 ? Vector<3>(raw, above, out, row_bytes, pixel_bytes)
                           : Vector<4>(raw, above, out, row_bytes, pixel_bytes);
#endif
      Scalar(type, raw, above, out, row_bytes, pixel_bytes, from);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace kevrale
