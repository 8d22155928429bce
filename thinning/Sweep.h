// One sweep of the engine as a stage that rows are fed into one at a time:
// step y loads row y and runs the step's passes, after which row y - 19 is
// final. Sweeps can so run one after another over the same rows, each on
// the result of the one before, a few rows apart.
#pragma once

#include "thinning/RowRing.h"

namespace kevrale {

class Sweep {
 public:
  // How many rows a row's result follows its loading.
  static constexpr int kDelay = RowRing::kSlots - 1;
  // The most passes any row gets: the ring keeps the newest row and the 19
  // above it, and pass t works t rows up, with the row above its own still
  // in the ring.
  static constexpr int kMaxPasses = RowRing::kSlots - 2;

  // A sweep over a picture `width` x `height`.
  Sweep(int width, int height) : ring_(width), height_(height) {}

  // The step about to run: the row to load next.
  int Step() const { return step_; }
  // Where the next row goes; load it (or clear it, past the bottom) and
  // then Advance.
  int LoadSlot() const { return RowRing::SlotOf(step_); }
  RowRing& Ring() { return ring_; }
  const RowRing& Ring() const { return ring_; }

  // Runs the passes of the step and returns the row that is then final:
  // the step minus kDelay, which may lie above the top or past the bottom.
  //
  // `settled`: the rows step - 2 .. step are, cell for cell, what the sweep
  // before this one loaded there, and that sweep deleted none of them. If
  // no pass of this sweep's previous step deleted anything either, only
  // pass 1 runs, it sees what the sweep before saw when it ran pass 1 on
  // the same row, and so deletes nothing; it is skipped.
  int Advance(bool settled);

  // Whether the final row `row` lost any cell.
  bool Removed(int row) const { return ring_.AnyRemoved(RowRing::SlotOf(row)); }

 private:
  RowRing ring_;
  int height_;
  int step_ = 0;
  int passes_ = 1;  // the active pass count
};

}  // namespace kevrale
