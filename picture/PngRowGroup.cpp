// Sixteen rows unfiltered together. Lane k of a vector holds row k, a pixel
// behind row k - 1: at step s it makes byte s - k * p of row k (p bytes a
// pixel), whose byte to the left is its own lane's result of p steps
// before, whose byte above is lane k - 1's result of p steps before (row
// k - 1 made that byte then) and whose corner is the byte above of p steps
// before. Lane 0 takes its bytes above from the row above the group. With
// more than one byte a pixel, a step waits only for results p steps old,
// so p steps are under way at once. Sixteen steps at a time, the stored
// bytes come in (and the results go out) through a transposition of
// sixteen rows of sixteen bytes, each row shifted by its lag, so that
// every step has a vector of its own; only the pieces at either end of a
// row go through a small buffer.
#include <algorithm>
#include <cstring>

#include "picture/PngFilters.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kevrale {

#if defined(__SSE2__)

namespace {

constexpr size_t kLanes = 16;

// The sixteen vectors as the rows of a 16 x 16 matrix of bytes, transposed.
void Transpose(__m128i (&m)[16]) {
  __m128i a[16], b[4][4];
  for (int i = 0; i < 8; ++i) {
    a[i] = _mm_unpacklo_epi8(m[2 * i], m[2 * i + 1]);      // rows 2i, 2i+1: columns 0..7
    a[8 + i] = _mm_unpackhi_epi8(m[2 * i], m[2 * i + 1]);  // columns 8..15
  }
  // b[g][q]: rows 4q..4q+3, columns 4g..4g+3, four bytes a column.
  for (int q = 0; q < 4; ++q) {
    b[0][q] = _mm_unpacklo_epi16(a[2 * q], a[2 * q + 1]);
    b[1][q] = _mm_unpackhi_epi16(a[2 * q], a[2 * q + 1]);
    b[2][q] = _mm_unpacklo_epi16(a[8 + 2 * q], a[8 + 2 * q + 1]);
    b[3][q] = _mm_unpackhi_epi16(a[8 + 2 * q], a[8 + 2 * q + 1]);
  }
  for (int g = 0; g < 4; ++g) {
    // Rows 0..7 and 8..15 of columns 4g, 4g+1 (low) and 4g+2, 4g+3 (high).
    const __m128i top_low = _mm_unpacklo_epi32(b[g][0], b[g][1]);
    const __m128i top_high = _mm_unpackhi_epi32(b[g][0], b[g][1]);
    const __m128i bottom_low = _mm_unpacklo_epi32(b[g][2], b[g][3]);
    const __m128i bottom_high = _mm_unpackhi_epi32(b[g][2], b[g][3]);
    m[4 * g] = _mm_unpacklo_epi64(top_low, bottom_low);
    m[4 * g + 1] = _mm_unpackhi_epi64(top_low, bottom_low);
    m[4 * g + 2] = _mm_unpacklo_epi64(top_high, bottom_high);
    m[4 * g + 3] = _mm_unpackhi_epi64(top_high, bottom_high);
  }
}

inline __m128i AbsDiff(__m128i x, __m128i y) {
  return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
}
// 0xFF where x <= y.
inline __m128i AtMost(__m128i x, __m128i y) {
  return _mm_cmpeq_epi8(_mm_subs_epu8(x, y), _mm_setzero_si128());
}
// Where `mask` is set, `when_set`; elsewhere `otherwise`.
inline __m128i Pick(__m128i mask, __m128i when_set, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(mask, when_set), _mm_andnot_si128(mask, otherwise));
}

// Paeth's prediction in byte lanes. The prediction left + up - corner lies
// |up - corner| from left and |left - corner| from up; from the corner it
// lies the sum of the two where left and up lie on the same side of the
// corner, else their difference. A sum past 255 compares the same when
// held at 255: it is only ever compared with the other two.
inline __m128i Paeth(__m128i left, __m128i up, __m128i corner) {
  const __m128i to_left = AbsDiff(up, corner);
  const __m128i to_up = AbsDiff(left, corner);
  const __m128i same_side = _mm_cmpeq_epi8(AtMost(corner, left), AtMost(corner, up));
  const __m128i to_corner = Pick(same_side, _mm_adds_epu8(to_left, to_up), AbsDiff(to_left, to_up));
  const __m128i take_left = _mm_and_si128(AtMost(to_left, to_up), AtMost(to_left, to_corner));
  return Pick(take_left, left, Pick(AtMost(to_up, to_corner), up, corner));
}

// The rounded-down mean of left and up (pavgb rounds up).
inline __m128i Average(__m128i left, __m128i up) {
  const __m128i odd = _mm_and_si128(_mm_xor_si128(left, up), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(left, up), odd);
}

// The sixteen bytes of `row` (`n` long) from byte `at` on, which may lie
// before or past it: zeros there.
inline __m128i LoadPart(const uint8_t* row, ptrdiff_t at, size_t n) {
  if (at >= 0 && size_t(at) + kLanes <= n)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at));
  alignas(16) uint8_t part[kLanes] = {};
  for (size_t i = 0; i < kLanes; ++i) {
    const ptrdiff_t x = at + ptrdiff_t(i);
    if (x >= 0 && size_t(x) < n) part[i] = row[x];
  }
  return _mm_load_si128(reinterpret_cast<const __m128i*>(part));
}

// Stores the bytes of `v` that fall within `row` (`n` long) from byte `at`.
inline void StorePart(uint8_t* row, ptrdiff_t at, size_t n, __m128i v) {
  if (at >= 0 && size_t(at) + kLanes <= n) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + at), v);
    return;
  }
  alignas(16) uint8_t part[kLanes];
  _mm_store_si128(reinterpret_cast<__m128i*>(part), v);
  for (size_t i = 0; i < kLanes; ++i) {
    const ptrdiff_t x = at + ptrdiff_t(i);
    if (x >= 0 && size_t(x) < n) row[x] = part[i];
  }
}

template <size_t kPixel>
void RunSteps(const uint8_t* stored, size_t stored_stride, const uint8_t* above, uint8_t* out,
              size_t out_stride, size_t n, size_t rows, const uint8_t (&types)[kLanes]) {
  const __m128i kind = _mm_loadu_si128(reinterpret_cast<const __m128i*>(types));
  const __m128i sub = _mm_cmpeq_epi8(kind, _mm_set1_epi8(1));
  const __m128i up_only = _mm_cmpeq_epi8(kind, _mm_set1_epi8(2));
  const __m128i average = _mm_cmpeq_epi8(kind, _mm_set1_epi8(3));
  const __m128i paeth = _mm_cmpeq_epi8(kind, _mm_set1_epi8(4));
  const __m128i lane_zero = _mm_cvtsi32_si128(0xFF);

  // The results and the bytes above of the last kPixel steps, oldest
  // first. A row's bytes before its first are zeros, and so are their
  // results.
  __m128i made[kPixel], ups[kPixel];
  for (size_t i = 0; i < kPixel; ++i) made[i] = ups[i] = _mm_setzero_si128();
  // The last row's last byte comes at step n - 1 + kPixel * (rows - 1).
  for (size_t s0 = 0; s0 < n + kPixel * (rows - 1); s0 += kLanes) {
    __m128i block[kLanes];
    for (size_t k = 0; k < kLanes; ++k)
      block[k] = k < rows ? LoadPart(stored + k * stored_stride + 1,
                                     ptrdiff_t(s0) - ptrdiff_t(k * kPixel), n)
                          : _mm_setzero_si128();
    Transpose(block);
    __m128i above_bytes = LoadPart(above, ptrdiff_t(s0), n);
    for (size_t j = 0; j < kLanes; ++j) {
      const __m128i left = made[0];
      const __m128i corner = ups[0];
      const __m128i up =
          _mm_or_si128(_mm_slli_si128(left, 1), _mm_and_si128(above_bytes, lane_zero));
      above_bytes = _mm_srli_si128(above_bytes, 1);
      const __m128i prediction =
          _mm_or_si128(_mm_or_si128(_mm_and_si128(sub, left), _mm_and_si128(up_only, up)),
                       _mm_or_si128(_mm_and_si128(average, Average(left, up)),
                                    _mm_and_si128(paeth, Paeth(left, up, corner))));
      block[j] = _mm_add_epi8(block[j], prediction);
      for (size_t i = 0; i + 1 < kPixel; ++i) {
        made[i] = made[i + 1];
        ups[i] = ups[i + 1];
      }
      made[kPixel - 1] = block[j];
      ups[kPixel - 1] = up;
    }
    Transpose(block);
    for (size_t k = 0; k < rows; ++k)
      StorePart(out + k * out_stride, ptrdiff_t(s0) - ptrdiff_t(k * kPixel), n, block[k]);
  }
}

}  // namespace

bool UnfilterRowGroup(const uint8_t* stored, size_t stored_stride, const uint8_t* above,
                      uint8_t* out, size_t out_stride, size_t row_bytes, size_t pixel_bytes,
                      int count) {
  const size_t n = row_bytes;
  const size_t rows = size_t(count);
  if (count <= 0 || count > int(kLanes) || n > kMostGroupRowBytes ||
      (pixel_bytes != 1 && pixel_bytes != 3 && pixel_bytes != 4))
    return false;
  uint8_t types[kLanes] = {};
  for (size_t k = 0; k < rows; ++k) {
    types[k] = stored[k * stored_stride];
    if (types[k] > 4) return false;
  }
  if (pixel_bytes == 1)
    RunSteps<1>(stored, stored_stride, above, out, out_stride, n, rows, types);
  else if (pixel_bytes == 3)
    RunSteps<3>(stored, stored_stride, above, out, out_stride, n, rows, types);
  else
    RunSteps<4>(stored, stored_stride, above, out, out_stride, n, rows, types);
  return true;
}

#else

bool UnfilterRowGroup(const uint8_t* stored, size_t stored_stride, const uint8_t* above,
                      uint8_t* out, size_t out_stride, size_t row_bytes, size_t pixel_bytes,
                      int count) {
  for (int k = 0; k < count; ++k) {
    const uint8_t* row = stored + size_t(k) * stored_stride;
    uint8_t* made = out + size_t(k) * out_stride;
    if (!UnfilterRow(row[0], row + 1, above, made, row_bytes, pixel_bytes)) return false;
    above = made;
  }
  return true;
}

#endif

}  // namespace kevrale
