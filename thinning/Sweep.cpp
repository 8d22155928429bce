#include "thinning/Sweep.h"

namespace kevrale {

int Sweep::Advance(bool settled) {
  const int y = step_++;
  if (settled && passes_ == 1) {
    const int row = y - 1;
    if (row >= 0 && row < height_) ring_.SkipPass(RowRing::SlotOf(row));
    return y - kDelay;  // passes_ stays 1: nothing was deleted
  }
  // Pass t on row y - t: each row meets passes 1, 2, ... in order, and the
  // row above it has already had the same pass.
  int highest = 0;
  for (int pass = 1; pass <= passes_; ++pass) {
    const int row = y - pass;
    if (row < 0 || row >= height_) continue;  // border or empty: nothing to delete
    if (ring_.RunPass(pass, RowRing::SlotOf(row - 1), RowRing::SlotOf(row),
                      RowRing::SlotOf(row + 1)))
      highest = pass;
  }
  passes_ = highest + 1 > kMaxPasses ? highest : highest + 1;
  return y - kDelay;
}

}  // namespace kevrale
