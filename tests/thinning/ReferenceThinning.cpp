#include "ReferenceThinning.h"

#include <algorithm>
#include <cstdlib>

namespace kevrale::test {

namespace {

// Nc over a1..a8 with a9 = a1: sum over k = 1, 3, 5, 7 of
// (1 - a_k) * max(a_k+1, a_k+2).
int Connectivity(const int (&a)[10]) {
  int n = 0;
  for (int k = 1; k <= 7; k += 2) n += (1 - a[k]) * std::max(a[k + 1], a[k + 2]);
  return n;
}

// The test on the eight cell values x[1..8] in pass t.
bool DeletesNeighbourhood(const int (&x)[9], int t) {
  // Step 1: the pass view a and the remaining view b.
  int a[10];
  int b[10];
  for (int k = 1; k <= 8; ++k) {
    a[k] = (x[k] == 1 || x[k] == -t) ? 1 : 0;
    b[k] = x[k] == 1 ? 1 : 0;
  }
  a[9] = a[1];
  a[0] = b[0] = b[9] = 0;
  // Step 2: interior point.
  if (a[1] + a[3] + a[5] + a[7] == 4) return false;
  // Step 3.
  int A = 0;
  int B = 0;
  for (int k = 1; k <= 8; ++k) {
    A += a[k] == 1;
    B += b[k] == 1;
  }
  // Step 4: end point.
  if (A < 2) return false;
  // Step 5: isolated point.
  if (B == 0) return false;
  // Step 6: connectivity.
  if (Connectivity(a) != 1) return false;
  // Step 7: north neighbour deleted in this pass.
  if (x[3] == -t) {
    a[3] = 0;
    if (Connectivity(a) != 1) return false;
    a[3] = 1;
  }
  // Step 8: west neighbour deleted in this pass.
  if (x[5] == -t) {
    a[5] = 0;
    if (Connectivity(a) != 1) return false;
  }
  // Step 9.
  return true;
}

// Repaints a removed pixel: the surround colour, opaque, or fully
// transparent; a picture without alpha gets an opaque alpha channel first.
void PaintRemoved(TBitmap& bitmap, int x, int y, TColor surround, const ThinningOptions& options) {
  if (options.transparent_surround && !bitmap.HasAlpha()) {
    TBitmap widened(bitmap.Width(), bitmap.Height(), TPixelFormat::pf32bit);
    for (int v = 0; v < bitmap.Height(); ++v)
      for (int u = 0; u < bitmap.Width(); ++u) {
        widened.SetPixel(u, v, bitmap.Pixel(u, v));
        widened.ScanLine(v)[u * 4 + 3] = 255;
      }
    bitmap = widened;
  }
  bitmap.SetPixel(x, y, surround);
  if (bitmap.HasAlpha()) bitmap.ScanLine(y)[x * 4 + 3] = options.transparent_surround ? 0 : 255;
}

}  // namespace

bool IsTargetPixel(const TBitmap& bitmap, int x, int y, TColor target, int tolerance) {
  if (bitmap.HasAlpha() && bitmap.ScanLine(y)[x * 4 + 3] == 0) return false;
  const TColor c = bitmap.Pixel(x, y);
  int largest = 0;
  for (int shift = 0; shift < 24; shift += 8)
    largest = std::max(largest, std::abs(int((c >> shift) & 0xFF) - int((target >> shift) & 0xFF)));
  return largest <= tolerance;
}

bool ReferenceRing::Deletes(int pass, int column, int above, int slot, int below) {
  int x[9];
  x[0] = 0;
  x[1] = Cell(slot, column + 1);
  x[2] = Cell(above, column + 1);
  x[3] = Cell(above, column);
  x[4] = Cell(above, column - 1);
  x[5] = Cell(slot, column - 1);
  x[6] = Cell(below, column - 1);
  x[7] = Cell(below, column);
  x[8] = Cell(below, column + 1);
  return DeletesNeighbourhood(x, pass);
}

ThinningResult ReferenceThinning(TPicture& picture, TColor target, TColor surround,
                                 const ThinningOptions& options) {
  const int W = picture.Bitmap().Width();
  if (W + 1 > 12501) return ThinningResult::TooWide;
  ReferenceRing ring(W);
  for (int slot = 0; slot < 20; ++slot) ring.Cell(slot, 0) = ring.Cell(slot, W + 1) = 0;
  for (int column = 1; column <= W; ++column) ring.Cell(18, column) = 0;
  const TColor T = target & 0xFFFFFF;
  const TColor S = surround & 0xFFFFFF;
  TBitmap& bitmap = picture.Bitmap();
  const auto is_target = [&](int x, int y) {
    return IsTargetPixel(bitmap, x, y, T, options.tolerance);
  };

  int P = 1;
  int read = 0;
  int write = 0;
  for (int k = 0;; ++k) {
    const int y = read;
    const int H = picture.Height();
    // Load.
    const int load_slot = (y + 19) % 20;
    for (int x = 0; x < W; ++x) ring.Cell(load_slot, x + 1) = (y < H && is_target(x, y)) ? 1 : 0;
    ++read;
    // Passes.
    int s = 0;
    for (int t = 1; t <= P; ++t) {
      const int r = y - t;
      const int slot = (r + 19) % 20;
      const int above = (r - 1 + 19) % 20;
      const int below = (r + 1 + 19) % 20;
      for (int x = 0; x < W; ++x) {
        if (ring.Cell(slot, x + 1) != 1) continue;
        if (ring.Deletes(t, x + 1, above, slot, below)) {
          ring.Cell(slot, x + 1) = -t;
          s = t;
        }
      }
    }
    // Active pass count.
    P = s + 1 >= 19 ? s : s + 1;
    // Write-back.
    if (k >= 19) {
      const int out = write;
      const int slot = (out + 19) % 20;
      if (out < picture.Height()) {
        for (int x = 0; x < W; ++x)
          if (is_target(x, out) && ring.Cell(slot, x + 1) != 1)
            PaintRemoved(bitmap, x, out, S, options);
      }
      ++write;
      if (write > picture.Height() - 1) break;
    }
  }
  return ThinningResult::Thinned;
}

int WholeImageThinning(TPicture& picture, TColor target, TColor surround,
                       const ThinningOptions& options) {
  TBitmap& bitmap = picture.Bitmap();
  const int W = bitmap.Width();
  const int H = bitmap.Height();
  if (W == 0 || H == 0) return 0;
  // Rows -1..H+18 and columns -1..W, all background outside the picture.
  const int rows = H + 20;
  std::vector<int> grid(size_t(rows) * (W + 2), 0);
  auto cell = [&](int x, int y) -> int& { return grid[size_t(y + 1) * (W + 2) + size_t(x + 1)]; };
  std::vector<char> removed(size_t(W) * size_t(H), 0);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      cell(x, y) = IsTargetPixel(bitmap, x, y, target & 0xFFFFFF, options.tolerance) ? 1 : 0;

  // Each sweep starts from the cells that the one before kept.
  const int most = options.sweeps == kSweepsAll ? 0 : std::max(options.sweeps, 1);
  int sweeps = 0;
  for (bool deleted = true; deleted && (most == 0 || sweeps < most);) {
    ++sweeps;
    deleted = false;
    int P = 1;
    for (int k = 0; k <= H + 18; ++k) {
      int s = 0;
      for (int t = 1; t <= P; ++t) {
        const int r = k - t;
        if (r < 0 || r >= H) continue;
        for (int x = 0; x < W; ++x) {
          if (cell(x, r) != 1) continue;
          const int n[9] = {0,
                            cell(x + 1, r),
                            cell(x + 1, r - 1),
                            cell(x, r - 1),
                            cell(x - 1, r - 1),
                            cell(x - 1, r),
                            cell(x - 1, r + 1),
                            cell(x, r + 1),
                            cell(x + 1, r + 1)};
          if (DeletesNeighbourhood(n, t)) {
            cell(x, r) = -t;
            s = t;
          }
        }
      }
      P = s + 1 >= 19 ? s : s + 1;
    }
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (cell(x, y) < 0) {
          cell(x, y) = 0;
          removed[size_t(y) * size_t(W) + size_t(x)] = 1;
          deleted = true;
        }
  }
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (removed[size_t(y) * size_t(W) + size_t(x)])
        PaintRemoved(bitmap, x, y, surround & 0xFFFFFF, options);
  return sweeps;
}

}  // namespace kevrale::test
