// Rows unfiltered a group at a time (PngRowGroupSteps.h says how): in the
// 16 lanes of SSE2, or the 32 of AVX2 where the processor has it.
#include <algorithm>

#include "picture/PngFilters.h"

#if defined(__SSE2__)
#include "picture/PngRowGroupSteps.h"
#endif

namespace kevrale {

namespace {

#if defined(__SSE2__)

struct Sse2 {
  using V = __m128i;
  static constexpr size_t kLanes = 16;
  static V Zero() { return _mm_setzero_si128(); }
  static V Set1(char c) { return _mm_set1_epi8(c); }
  static V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }
  static V Or(V a, V b) { return _mm_or_si128(a, b); }
  static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
  static V Add(V a, V b) { return _mm_add_epi8(a, b); }
  static V Sub(V a, V b) { return _mm_sub_epi8(a, b); }
  static V SubsU8(V a, V b) { return _mm_subs_epu8(a, b); }
  static V AddsU8(V a, V b) { return _mm_adds_epu8(a, b); }
  static V AvgU8(V a, V b) { return _mm_avg_epu8(a, b); }
  static V Equal(V a, V b) { return _mm_cmpeq_epi8(a, b); }
  // Where `mask` is set, `when_set`; elsewhere `otherwise`.
  static V Pick(V mask, V when_set, V otherwise) {
    return Or(And(mask, when_set), AndNot(mask, otherwise));
  }
  static V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V UnpackLo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
  static V UnpackLo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
  static V UnpackHi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
  // Every lane moved one up; lane 0 clear.
  static V LaneUp(V v) { return _mm_slli_si128(v, 1); }
  static V FromLow(__m128i low) { return low; }
  static V LoadLanes(const uint8_t* p, ptrdiff_t) {
    return _mm_loadu_si128(reinterpret_cast<const V*>(p));
  }
  static void StoreLanes(uint8_t* p, ptrdiff_t, V v) {
    _mm_storeu_si128(reinterpret_cast<V*>(p), v);
  }
  static V FromHalves(const __m128i (&h)[1]) { return h[0]; }
  static __m128i Half(V v, size_t) { return v; }
};

#endif

#if defined(KEVRALE_ROW_GROUP_AVX2)
bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

bool UnfilterRowGroup(const uint8_t* stored, size_t stored_stride, const uint8_t* above,
                      uint8_t* out, size_t out_stride, size_t row_bytes, size_t pixel_bytes,
                      int count, RowGroupLanes lanes) {
  const size_t n = row_bytes;
  const size_t rows = size_t(count);
  if (count <= 0 || rows > kMostGroupRows || n > kMostGroupRowBytes ||
      (pixel_bytes != 1 && pixel_bytes != 3 && pixel_bytes != 4))
    return false;
  uint8_t types[kMostGroupRows] = {};
  for (size_t k = 0; k < rows; ++k) {
    types[k] = stored[k * stored_stride];
    if (types[k] > 4) return false;
  }
#if defined(KEVRALE_ROW_GROUP_AVX2)
  if (lanes == RowGroupLanes::Widest && HasAvx2()) {
    RunRowGroupAvx2(pixel_bytes, stored, stored_stride, above, out, out_stride, n, rows, types);
    return true;
  }
#endif
#if defined(__SSE2__)
  // Sixteen rows at a time, each group below the last row of the one before.
  for (size_t done = 0; done < rows; done += Sse2::kLanes) {
    RunStepsOf<Sse2>(pixel_bytes, stored + done * stored_stride, stored_stride,
                     done == 0 ? above : out + (done - 1) * out_stride, out + done * out_stride,
                     out_stride, n, std::min(Sse2::kLanes, rows - done), types + done);
  }
#else
  static_cast<void>(lanes);
  for (size_t k = 0; k < rows; ++k) {
    const uint8_t* row = stored + k * stored_stride;
    uint8_t* made = out + k * out_stride;
    UnfilterRow(row[0], row + 1, above, made, n, pixel_bytes);
    above = made;
  }
#endif
  return true;
}

}  // namespace kevrale
