// The steps of a row group in 32 lanes, for processors with AVX2: the
// 32 rows in the two halves of each vector, the lower half's last row
// above the upper half's first. Built with -mavx2; called only where the
// processor has it.
#include <immintrin.h>

#include "picture/PngRowGroupSteps.h"

namespace kevrale {

namespace {

struct Avx2 {
  using V = __m256i;
  static constexpr size_t kLanes = 32;
  static V Zero() { return _mm256_setzero_si256(); }
  static V Set1(char c) { return _mm256_set1_epi8(c); }
  static V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  static V Add(V a, V b) { return _mm256_add_epi8(a, b); }
  static V Sub(V a, V b) { return _mm256_sub_epi8(a, b); }
  static V SubsU8(V a, V b) { return _mm256_subs_epu8(a, b); }
  static V AddsU8(V a, V b) { return _mm256_adds_epu8(a, b); }
  static V AvgU8(V a, V b) { return _mm256_avg_epu8(a, b); }
  static V Equal(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
  // Where `mask` is set, `when_set`; elsewhere `otherwise`.
  static V Pick(V mask, V when_set, V otherwise) {
    return _mm256_blendv_epi8(otherwise, when_set, mask);
  }
  static V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V UnpackLo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
  static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
  static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
  // Every lane moved one up, across the halves; lane 0 clear.
  static V LaneUp(V v) { return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15); }
  static V FromLow(__m128i low) { return _mm256_zextsi128_si256(low); }
  // Sixteen bytes at `p` in the lower half, sixteen at `p` + `step` in the
  // upper.
  static V LoadLanes(const uint8_t* p, ptrdiff_t step) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + step),
                               reinterpret_cast<const __m128i*>(p));
  }
  static void StoreLanes(uint8_t* p, ptrdiff_t step, V v) {
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(p + step), reinterpret_cast<__m128i*>(p), v);
  }
  static V FromHalves(const __m128i (&h)[2]) { return _mm256_set_m128i(h[1], h[0]); }
  static __m128i Half(V v, size_t h) {
    return h == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
  }
};

}  // namespace

void RunRowGroupAvx2(size_t pixel_bytes, const uint8_t* stored, size_t stored_stride,
                     const uint8_t* above, uint8_t* out, size_t out_stride, size_t n, size_t rows,
                     const uint8_t* types) {
  RunStepsOf<Avx2>(pixel_bytes, stored, stored_stride, above, out, out_stride, n, rows, types);
}

}  // namespace kevrale
