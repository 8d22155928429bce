#include "thinning/ThinningMask.h"

#include <cstring>
#include <optional>

#include "thinning/Sweep.h"
#include "thinning/ThinningRows.h"

namespace kevrale {

namespace {

// Whether row y changed in the sweep whose changes `changed` holds; rows
// beyond the picture never do.
bool ChangedAt(const std::vector<char>& changed, int y) {
  return y >= 0 && size_t(y) < changed.size() && changed[size_t(y)] != 0;
}

}  // namespace

ThinningMask::ThinningMask(ThinningRows& rows, int width, int height, TColor target,
                           const ThinningOptions& options, bool alpha)
    : width_(width), height_(height) {
  if (width <= 0 || height <= 0) {
    height_ = 0;  // nothing to sweep, nothing to paint
    return;
  }
  const TargetRule rule{
      .target = target & kColorMask, .tolerance = options.tolerance, .alpha = alpha};
  Sweep sweep(width, height);
  stride_ = sweep.Ring().Stride();
  loaded_.assign(size_t(height) * stride_, 0);
  present_.assign(size_t(height) * stride_, 0);
  std::vector<char> changed(size_t(height), 0);

  // The first sweep, on the rows' pixels.
  bool removed = false;
  for (int y = 0; y < height + Sweep::kDelay; ++y) {
    if (y < height) {
      const SweepRow row = rows.Load(y);
      sweep.Ring().Load(sweep.LoadSlot(), row.pixels, row.bytes_per_pixel, rule);
      rows.Done(y, false);
    } else {
      sweep.Ring().LoadEmpty(sweep.LoadSlot());
    }
    const int out = sweep.Advance(false);
    if (out < 0) continue;
    const int slot = RowRing::SlotOf(out);
    std::memcpy(Row(loaded_, out), sweep.Ring().Loaded(slot), stride_ * sizeof(uint64_t));
    std::memcpy(Row(present_, out), sweep.Ring().Present(slot), stride_ * sizeof(uint64_t));
    changed[size_t(out)] = sweep.Removed(out);
    removed |= changed[size_t(out)] != 0;
  }
  sweeps_ = 1;
  any_removed_ = removed;

  const int most = options.sweeps == kSweepsAll ? 0 : options.sweeps;
  while (removed && (most == 0 || sweeps_ < most)) {
    removed = SweepAgain(changed);
    ++sweeps_;
  }
}

bool ThinningMask::SweepAgain(std::vector<char>& changed) {
  Sweep sweep(width_, height_);
  std::vector<char> now(changed.size(), 0);
  bool removed = false;
  for (int y = 0; y < height_ + Sweep::kDelay; ++y) {
    if (y < height_)
      sweep.Ring().LoadBits(sweep.LoadSlot(), Row(present_, y));
    else
      sweep.Ring().LoadEmpty(sweep.LoadSlot());
    const bool settled =
        !ChangedAt(changed, y) && !ChangedAt(changed, y - 1) && !ChangedAt(changed, y - 2);
    const int out = sweep.Advance(settled);
    if (out < 0 || !sweep.Removed(out)) continue;
    // The ring holds what it still needs of the row; the row's cells can
    // take its result at once.
    std::memcpy(Row(present_, out), sweep.Ring().Present(RowRing::SlotOf(out)),
                stride_ * sizeof(uint64_t));
    now[size_t(out)] = 1;
    removed = true;
  }
  changed.swap(now);
  return removed;
}

void ThinningMask::Paint(ThinningRows& rows, TColor surround,
                         const ThinningOptions& options) const {
  const TColor paint = surround & kColorMask;
  const uint8_t removed_alpha = options.transparent_surround ? 0 : 255;
  for (int y = 0; y < height_; ++y) {
    const uint64_t* loaded = Row(loaded_, y);
    const uint64_t* present = Row(present_, y);
    rows.Load(y);
    const bool removes = AnyRemovedCells(loaded, present, stride_);
    const SweepRow row = rows.Output(y, removes);
    if (row.pixels == nullptr) return;
    const bool painted =
        removes &&
        PaintRemovedCells(
            loaded, present, stride_, row.pixels, row.bytes_per_pixel, paint,
            row.bytes_per_pixel == 4 ? std::optional<uint8_t>(removed_alpha) : std::nullopt);
    rows.Done(y, painted);
  }
}

}  // namespace kevrale
