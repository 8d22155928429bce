#include "thinning/ThinningEngine.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "thinning/Sweep.h"
#include "thinning/ThinningMask.h"
#include "thinning/ThinningRows.h"

namespace kevrale {

namespace {

// The number of sweeps that a run goes through, kSweepsAll aside.
int SweepCount(const ThinningOptions& options) {
  return std::max(options.sweeps, 1);
}

// The picture's own rows, thinned in place. Transparency needs an alpha
// channel: the picture gets one, all opaque, just before its first pixel
// is removed, and the rows below are loaded from the widened pixels.
class BitmapRows final : public ThinningRows {
 public:
  BitmapRows(TBitmap& bitmap, bool widen) : bitmap_(bitmap), widen_(widen) {}

  SweepRow Load(int y) override { return Row(y); }
  SweepRow Output(int y, bool removes) override {
    if (widen_ && removes && !bitmap_.HasAlpha()) bitmap_.SetPixelFormat(TPixelFormat::pf32bit);
    return Row(y);
  }
  void Done(int, bool changed) override { changed_ |= changed; }

  bool Changed() const { return changed_; }

 private:
  SweepRow Row(int y) { return {bitmap_.ScanLine(y), bitmap_.BytesPerPixel()}; }

  TBitmap& bitmap_;
  bool widen_;
  bool changed_ = false;
};

}  // namespace

ThinningResult RunThinning(TPicture& picture, TColor target, TColor surround,
                           const ThinningOptions& options) {
  TBitmap& bitmap = picture.Bitmap();
  if (bitmap.Width() > kMaxThinningWidth) return ThinningResult::TooWide;
  BitmapRows rows(bitmap, options.transparent_surround);
  try {
    ThinRows(rows, bitmap.Width(), bitmap.Height(), target, surround, options, bitmap.HasAlpha());
  } catch (...) {
    // Only running out of memory can get here; the rows written so far
    // stay and are shown.
    if (rows.Changed()) picture.Changed();
    throw;
  }
  if (rows.Changed()) picture.Changed();
  return ThinningResult::Thinned;
}

bool ThinsInTwoReadings(const ThinningOptions& options, int height) {
  if (options.sweeps == kSweepsAll) return true;
  const int sweeps = SweepCount(options);
  return sweeps > 1 && sweeps > height / kRowsPerChainedSweep;
}

int RowsHeldBySweeps(int sweeps) {
  return Sweep::kDelay * std::max(sweeps, 1);
}

namespace {

// `count` sweeps chained: sweep k runs kDelay rows behind sweep k - 1 and
// loads the rows that one has just finished; the last one's rows are
// written back, painted with `paint` (and `removed_alpha` in 32-bit rows).
void ThinChained(ThinningRows& rows, int width, int height, const TargetRule& rule, TColor paint,
                 uint8_t removed_alpha, int count) {
  std::vector<Sweep> sweeps;
  sweeps.reserve(size_t(count));
  for (int k = 0; k < count; ++k) sweeps.emplace_back(width, height);
  const size_t stride = sweeps.front().Ring().Stride();
  // The source's target cells of each row, from its loading until its
  // result, when the first sweep's ring cannot keep them that long.
  const int span = RowsHeldBySweeps(count) + 1;
  std::vector<uint64_t> source(count > 1 ? size_t(span) * stride : 0);
  // Per sweep, whether each of its latest final rows lost a cell: bit 0 the
  // newest. Rows above the top and past the bottom never do.
  std::vector<uint32_t> changed(size_t(count), 0);

  for (int step = 0;; ++step) {
    const uint64_t* finished = nullptr;  // the row that the sweep before has just finished
    for (int k = 0; k < count; ++k) {
      Sweep& sweep = sweeps[size_t(k)];
      const int y = step - Sweep::kDelay * k;
      if (y < 0) break;  // this sweep and those after it have not begun
      RowRing& ring = sweep.Ring();
      bool settled = false;
      if (y >= height) {
        ring.LoadEmpty(sweep.LoadSlot());
        settled = k > 0 && (changed[size_t(k - 1)] & 7) == 0;
      } else if (k == 0) {
        const SweepRow row = rows.Load(y);
        ring.Load(sweep.LoadSlot(), row.pixels, row.bytes_per_pixel, rule);
        if (count > 1)
          std::memcpy(source.data() + size_t(y % span) * stride, ring.Loaded(sweep.LoadSlot()),
                      stride * sizeof(uint64_t));
      } else {
        ring.LoadBits(sweep.LoadSlot(), finished);
        settled = (changed[size_t(k - 1)] & 7) == 0;
      }
      const int out = sweep.Advance(settled);
      finished = nullptr;
      if (out < 0) continue;
      const bool removed = out < height && sweep.Removed(out);
      changed[size_t(k)] = changed[size_t(k)] << 1 | uint32_t(removed);
      if (out >= height) continue;
      const int out_slot = RowRing::SlotOf(out);
      finished = ring.Present(out_slot);
      if (k + 1 < count) continue;

      // The last sweep's row: paint what it lost since the source.
      const uint64_t* loaded =
          count > 1 ? source.data() + size_t(out % span) * stride : ring.Loaded(out_slot);
      const bool removes = count > 1 ? AnyRemovedCells(loaded, finished, stride) : removed;
      const SweepRow row = rows.Output(out, removes);
      if (row.pixels == nullptr) return;
      // 32-bit pixels carry alpha: a removed one gets its alpha byte too.
      const bool painted =
          removes &&
          PaintRemovedCells(
              loaded, finished, stride, row.pixels, row.bytes_per_pixel, paint,
              row.bytes_per_pixel == 4 ? std::optional<uint8_t>(removed_alpha) : std::nullopt);
      rows.Done(out, painted);
      if (out + 1 > height - 1) return;
    }
  }
}

}  // namespace

void ThinRows(ThinningRows& rows, int width, int height, TColor target, TColor surround,
              const ThinningOptions& options, bool alpha) {
  if (width <= 0 || height <= 0) return;
  if (ThinsInTwoReadings(options, height)) {
    const ThinningMask mask(rows, width, height, target, options, alpha);
    mask.Paint(rows, surround, options);
    return;
  }
  const TargetRule rule{
      .target = target & kColorMask, .tolerance = options.tolerance, .alpha = alpha};
  // What a removed pixel's alpha byte becomes.
  const uint8_t removed_alpha = options.transparent_surround ? 0 : 255;
  ThinChained(rows, width, height, rule, surround & kColorMask, removed_alpha, SweepCount(options));
}

}  // namespace kevrale
