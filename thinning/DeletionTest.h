// Hilditch's deletion test for one target pixel in one thinning pass, on the
// cell values of its eight neighbours as the row ring holds them:
//   1   a target pixel still present
//   0   background (also the borders and the empty rows past the bottom)
//  -t   a target pixel deleted by pass t
//
// The neighbours are numbered counter-clockwise from east; rows grow
// downwards, so x3 is the pixel above:
//
//      x4 x3 x2
//      x5  P x1
//      x6 x7 x8
#pragma once

#include <array>
#include <cstdint>

namespace kevrale {

// The cell values x1..x8 (index 0 holds x1).
using Neighbourhood = std::array<int32_t, 8>;

// True when pass `pass` (1..18) deletes a present pixel with these
// neighbours. Steps in order; the first that says keep decides.
constexpr bool DeletionTestDeletes(const Neighbourhood& x, int pass) {
  const int32_t mark = -pass;
  // a: present in this pass (still there, or deleted earlier in this very
  // pass); b: still there. A mark of any other pass is background in both.
  int a[10] = {};
  int b[10] = {};
  for (int k = 1; k <= 8; ++k) {
    const int32_t v = x[size_t(k - 1)];
    a[k] = (v == 1 || v == mark) ? 1 : 0;
    b[k] = v == 1 ? 1 : 0;
  }
  a[9] = a[1];

  // Interior point: all four 4-neighbours present.
  if (a[1] + a[3] + a[5] + a[7] == 4) return false;

  int count_a = 0;
  int count_b = 0;
  for (int k = 1; k <= 8; ++k) {
    count_a += a[k];
    count_b += b[k];
  }
  // End point, or nothing around at all.
  if (count_a < 2) return false;
  // Isolated: the last pixel of a piece whose others this pass removed.
  if (count_b == 0) return false;

  // The 8-connectivity number: removing the pixel must not split or join.
  const auto connectivity = [](const int(&v)[10]) {
    int n = 0;
    for (int k = 1; k <= 7; k += 2) n += (1 - v[k]) * ((v[k + 1] | v[k + 2]) ? 1 : 0);
    return n;
  };
  if (connectivity(a) != 1) return false;

  // A two-pixel-wide line whose upper row went in this pass keeps its lower
  // row: look again as if the pixel above were gone for good.
  if (x[2] == mark) {
    int c[10];
    for (int k = 0; k < 10; ++k) c[k] = a[k];
    c[3] = 0;
    if (connectivity(c) != 1) return false;
  }
  // The same for the pixel to the left, deleted just before in this pass.
  if (x[4] == mark) {
    int c[10];
    for (int k = 0; k < 10; ++k) c[k] = a[k];
    c[5] = 0;
    if (connectivity(c) != 1) return false;
  }
  return true;
}

}  // namespace kevrale
