// Plain models of the thinning run for the tests to hold the engine to:
// the row ring of int cells and the deletion test, step by step, as the
// program's rules describe them, with nothing done for speed.
#pragma once

#include <vector>

#include "picture/TPicture.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::test {

// The cell values of one ring (20 slots x (W + 2) columns, column by
// column) and the deletion test on it, as the engine calls it.
class ReferenceRing {
 public:
  explicit ReferenceRing(int width) : columns_(width + 2), cells_(size_t(20) * (width + 2), 0) {}
  int& Cell(int slot, int column) { return cells_[size_t(column) * 20 + size_t(slot)]; }
  int Columns() const { return columns_; }

  // True when pass `pass` deletes the pixel at ring column `column` of
  // `slot`, with the rows above and below in `above` and `below`.
  bool Deletes(int pass, int column, int above, int slot, int below);

 private:
  int columns_;
  std::vector<int> cells_;
};

// The run, through pixel reads and writes on the picture.
ThinningResult ReferenceThinning(TPicture& picture, TColor target, TColor surround,
                                 const ThinningOptions& options = {});

// The same schedule of passes on a grid of the whole picture instead of a
// ring: a check on the ring's bookkeeping, not on the passes. Repeats the
// sweep as options.sweeps asks, each time on the cells the sweep before
// kept, and paints the removed pixels at the end; returns how many sweeps
// ran.
int WholeImageThinning(TPicture& picture, TColor target, TColor surround,
                       const ThinningOptions& options = {});

// Whether pixel (x, y) counts as the target colour: never when fully
// transparent, else when no channel differs from the target's by more
// than the tolerance.
bool IsTargetPixel(const TBitmap& bitmap, int x, int y, TColor target, int tolerance);

}  // namespace kevrale::test
