// The steps of PngRowGroup.cpp, written once for vectors of 16 bytes (SSE2)
// and of 32 (AVX2, two halves of 16). Lane k of a vector holds row k, a
// pixel behind row k - 1: at step s it makes byte s - k * p of row k (p
// bytes a pixel), whose byte to the left is its own lane's result of p
// steps before, whose byte above is lane k - 1's result of p steps before
// (row k - 1 made that byte then) and whose corner is the byte above of p
// steps before. Lane 0 takes its bytes above from the row above the group.
// With more than one byte a pixel, a step waits only for results p steps
// old, so p steps are under way at once. Sixteen steps at a time, the
// stored bytes come in (and the results go out) through a transposition of
// sixteen rows of sixteen bytes in each half, each row shifted by its lag,
// so that every step has a vector of its own; only the pieces at either
// end of a row go through a small buffer.
//
// Everything here has internal linkage: each file that includes it builds
// its own copy, for the instructions it is compiled for.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace kevrale {
namespace {

constexpr size_t kHalfLanes = 16;

// The sixteen bytes of `row` (`n` long) from byte `at` on, which may lie
// before or past it: zeros there.
inline __m128i LoadPart(const uint8_t* row, ptrdiff_t at, size_t n) {
  if (at >= 0 && size_t(at) + kHalfLanes <= n)
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at));
  alignas(16) uint8_t part[kHalfLanes] = {};
  for (size_t i = 0; i < kHalfLanes; ++i) {
    const ptrdiff_t x = at + ptrdiff_t(i);
    if (x >= 0 && size_t(x) < n) part[i] = row[x];
  }
  return _mm_load_si128(reinterpret_cast<const __m128i*>(part));
}

// Stores the bytes of `v` that fall within `row` (`n` long) from byte `at`.
inline void StorePart(uint8_t* row, ptrdiff_t at, size_t n, __m128i v) {
  if (at >= 0 && size_t(at) + kHalfLanes <= n) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + at), v);
    return;
  }
  alignas(16) uint8_t part[kHalfLanes];
  _mm_store_si128(reinterpret_cast<__m128i*>(part), v);
  for (size_t i = 0; i < kHalfLanes; ++i) {
    const ptrdiff_t x = at + ptrdiff_t(i);
    if (x >= 0 && size_t(x) < n) row[x] = part[i];
  }
}

// Each half of the sixteen vectors as the rows of a 16 x 16 matrix of
// bytes, transposed (the unpacking instructions work within halves).
template <typename Ops, typename V = typename Ops::V>
[[gnu::always_inline]] inline void Transpose(V (&m)[16]) {
  V a[16], b[4][4];
  for (int i = 0; i < 8; ++i) {
    a[i] = Ops::UnpackLo8(m[2 * i], m[2 * i + 1]);      // rows 2i, 2i+1: columns 0..7
    a[8 + i] = Ops::UnpackHi8(m[2 * i], m[2 * i + 1]);  // columns 8..15
  }
  // b[g][q]: rows 4q..4q+3, columns 4g..4g+3, four bytes a column.
  for (int q = 0; q < 4; ++q) {
    b[0][q] = Ops::UnpackLo16(a[2 * q], a[2 * q + 1]);
    b[1][q] = Ops::UnpackHi16(a[2 * q], a[2 * q + 1]);
    b[2][q] = Ops::UnpackLo16(a[8 + 2 * q], a[8 + 2 * q + 1]);
    b[3][q] = Ops::UnpackHi16(a[8 + 2 * q], a[8 + 2 * q + 1]);
  }
  for (int g = 0; g < 4; ++g) {
    // Rows 0..7 and 8..15 of columns 4g, 4g+1 (low) and 4g+2, 4g+3 (high).
    const V top_low = Ops::UnpackLo32(b[g][0], b[g][1]);
    const V top_high = Ops::UnpackHi32(b[g][0], b[g][1]);
    const V bottom_low = Ops::UnpackLo32(b[g][2], b[g][3]);
    const V bottom_high = Ops::UnpackHi32(b[g][2], b[g][3]);
    m[4 * g] = Ops::UnpackLo64(top_low, bottom_low);
    m[4 * g + 1] = Ops::UnpackHi64(top_low, bottom_low);
    m[4 * g + 2] = Ops::UnpackLo64(top_high, bottom_high);
    m[4 * g + 3] = Ops::UnpackHi64(top_high, bottom_high);
  }
}

template <typename Ops, typename V = typename Ops::V>
inline V AbsDiff(V x, V y) {
  return Ops::Or(Ops::SubsU8(x, y), Ops::SubsU8(y, x));
}
// 0xFF where x <= y.
template <typename Ops, typename V = typename Ops::V>
inline V AtMost(V x, V y) {
  return Ops::Equal(Ops::SubsU8(x, y), Ops::Zero());
}
// Paeth's prediction in byte lanes. The prediction left + up - corner lies
// |up - corner| from left and |left - corner| from up; from the corner it
// lies the sum of the two where left and up lie on the same side of the
// corner, else their difference. A sum past 255 compares the same when
// held at 255: it is only ever compared with the other two.
template <typename Ops, typename V = typename Ops::V>
inline V Paeth(V left, V up, V corner) {
  const V to_left = AbsDiff<Ops>(up, corner);
  const V to_up = AbsDiff<Ops>(left, corner);
  const V same_side = Ops::Equal(AtMost<Ops>(corner, left), AtMost<Ops>(corner, up));
  const V to_corner =
      Ops::Pick(same_side, Ops::AddsU8(to_left, to_up), AbsDiff<Ops>(to_left, to_up));
  const V take_left = Ops::And(AtMost<Ops>(to_left, to_up), AtMost<Ops>(to_left, to_corner));
  return Ops::Pick(take_left, left, Ops::Pick(AtMost<Ops>(to_up, to_corner), up, corner));
}

// The rounded-down mean of left and up (the instruction rounds up).
template <typename Ops, typename V = typename Ops::V>
inline V Average(V left, V up) {
  const V odd = Ops::And(Ops::Xor(left, up), Ops::Set1(1));
  return Ops::Sub(Ops::AvgU8(left, up), odd);
}

// Runs the steps of `rows` rows (at most Ops::kLanes) of kPixel bytes a
// pixel: row k's filter type in types[k], its bytes at `stored` + k *
// `stored_stride` + 1, its results at `out` + k * `out_stride`.
template <typename Ops, size_t kPixel, typename V = typename Ops::V>
void RunSteps(const uint8_t* stored, size_t stored_stride, const uint8_t* above, uint8_t* out,
              size_t out_stride, size_t n, size_t rows, const uint8_t* types) {
  constexpr size_t kHalves = Ops::kLanes / kHalfLanes;
  const V kind = Ops::Load(types);
  const V sub = Ops::Equal(kind, Ops::Set1(1));
  const V up_only = Ops::Equal(kind, Ops::Set1(2));
  const V average = Ops::Equal(kind, Ops::Set1(3));
  const V paeth = Ops::Equal(kind, Ops::Set1(4));
  const __m128i lane_zero = _mm_cvtsi32_si128(0xFF);

  // The results and the bytes above of the last kPixel steps, oldest
  // first. A row's bytes before its first are zeros, and so are their
  // results.
  V made[kPixel], ups[kPixel];
  for (size_t i = 0; i < kPixel; ++i) made[i] = ups[i] = Ops::Zero();
  // Row k + 16 (the upper half) lies a half step after row k.
  const ptrdiff_t half_step =
      ptrdiff_t(kHalfLanes * stored_stride) - ptrdiff_t(kHalfLanes * kPixel);
  const ptrdiff_t out_half_step =
      ptrdiff_t(kHalfLanes * out_stride) - ptrdiff_t(kHalfLanes * kPixel);
  // The last row's last byte comes at step n - 1 + kPixel * (rows - 1).
  for (size_t s0 = 0; s0 < n + kPixel * (rows - 1); s0 += kHalfLanes) {
    V block[kHalfLanes];
    // Within every row of a full group: whole loads, no checks.
    const bool inside = rows == Ops::kLanes && s0 >= kPixel * (rows - 1) && s0 + kHalfLanes <= n;
    if (inside) {
      for (size_t k = 0; k < kHalfLanes; ++k)
        block[k] = Ops::LoadLanes(stored + k * stored_stride + 1 + s0 - k * kPixel, half_step);
    } else {
      for (size_t k = 0; k < kHalfLanes; ++k) {
        __m128i halves[kHalves];
        for (size_t h = 0; h < kHalves; ++h) {
          const size_t row = h * kHalfLanes + k;
          halves[h] = row < rows ? LoadPart(stored + row * stored_stride + 1,
                                            ptrdiff_t(s0) - ptrdiff_t(row * kPixel), n)
                                 : _mm_setzero_si128();
        }
        block[k] = Ops::FromHalves(halves);
      }
    }
    Transpose<Ops>(block);
    __m128i above_bytes = LoadPart(above, ptrdiff_t(s0), n);
    for (size_t j = 0; j < kHalfLanes; ++j) {
      const V left = made[0];
      const V corner = ups[0];
      const V up = Ops::Or(Ops::LaneUp(left), Ops::FromLow(_mm_and_si128(above_bytes, lane_zero)));
      above_bytes = _mm_srli_si128(above_bytes, 1);
      // None of the four: no prediction (filter 0).
      const V prediction = Ops::Pick(
          paeth, Paeth<Ops>(left, up, corner),
          Ops::Pick(average, Average<Ops>(left, up), Ops::Pick(up_only, up, Ops::And(sub, left))));
      block[j] = Ops::Add(block[j], prediction);
      for (size_t i = 0; i + 1 < kPixel; ++i) {
        made[i] = made[i + 1];
        ups[i] = ups[i + 1];
      }
      made[kPixel - 1] = block[j];
      ups[kPixel - 1] = up;
    }
    Transpose<Ops>(block);
    if (inside) {
      for (size_t k = 0; k < kHalfLanes; ++k)
        Ops::StoreLanes(out + k * out_stride + s0 - k * kPixel, out_half_step, block[k]);
      continue;
    }
    for (size_t k = 0; k < kHalfLanes; ++k)
      for (size_t h = 0; h < kHalves; ++h) {
        const size_t row = h * kHalfLanes + k;
        if (row < rows)
          StorePart(out + row * out_stride, ptrdiff_t(s0) - ptrdiff_t(row * kPixel), n,
                    Ops::Half(block[k], h));
      }
  }
}

// RunSteps for 1, 3 or 4 bytes a pixel.
template <typename Ops>
void RunStepsOf(size_t pixel_bytes, const uint8_t* stored, size_t stored_stride,
                const uint8_t* above, uint8_t* out, size_t out_stride, size_t n, size_t rows,
                const uint8_t* types) {
  if (pixel_bytes == 1)
    RunSteps<Ops, 1>(stored, stored_stride, above, out, out_stride, n, rows, types);
  else if (pixel_bytes == 3)
    RunSteps<Ops, 3>(stored, stored_stride, above, out, out_stride, n, rows, types);
  else
    RunSteps<Ops, 4>(stored, stored_stride, above, out, out_stride, n, rows, types);
}

}  // namespace

// The AVX2 build of the steps, for up to 32 rows; from PngRowGroupAvx2.cpp.
void RunRowGroupAvx2(size_t pixel_bytes, const uint8_t* stored, size_t stored_stride,
                     const uint8_t* above, uint8_t* out, size_t out_stride, size_t n, size_t rows,
                     const uint8_t* types);

}  // namespace kevrale
