// Sweeps that go on until one removes nothing: their number is known only
// at the end, so no row's result is known before the last row has been
// through every sweep. They run on the target cells of the whole picture,
// two bits a pixel (as loaded, and still present), in two readings of the
// rows: the first takes the cells and runs the sweeps, the second paints
// the removed pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Color.h"
#include "thinning/ThinningEngine.h"

namespace kevrale {

class ThinningRows;

class ThinningMask {
 public:
  // The first reading: rows.Load(y) and rows.Done(y, false) for every row
  // in order (no Output), then sweeps on the cells until one removes
  // nothing (it is counted) or, for options.sweeps = N, N have run. The
  // target colour and `alpha` are those of ThinRows. Width at most
  // kMaxThinningWidth; the caller checks it.
  ThinningMask(ThinningRows& rows, int width, int height, TColor target,
               const ThinningOptions& options, bool alpha);

  // The second reading: rows.Load(y), rows.Output(y, removes) and
  // rows.Done(y, changed) for every row in order, painting the removed
  // pixels as ThinRows does. A row whose pixels are null ends it.
  void Paint(ThinningRows& rows, TColor surround, const ThinningOptions& options) const;

  // How many sweeps ran.
  int Sweeps() const { return sweeps_; }
  // Whether any pixel is removed.
  bool AnyRemoved() const { return any_removed_; }

 private:
  const uint64_t* Row(const std::vector<uint64_t>& cells, int y) const {
    return cells.data() + size_t(y) * stride_;
  }
  uint64_t* Row(std::vector<uint64_t>& cells, int y) { return cells.data() + size_t(y) * stride_; }
  // One more sweep on `present_`, after the one that changed the rows in
  // `changed`; returns whether it removed anything, its rows in `changed`.
  bool SweepAgain(std::vector<char>& changed);

  int width_;
  int height_;
  size_t stride_ = 0;
  std::vector<uint64_t> loaded_;   // the target cells of the source
  std::vector<uint64_t> present_;  // those still present
  int sweeps_ = 0;
  bool any_removed_ = false;
};

}  // namespace kevrale
