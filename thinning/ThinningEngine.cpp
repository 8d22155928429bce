#include "thinning/ThinningEngine.h"

#include <optional>

#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "thinning/RowRing.h"
#include "thinning/ThinningRows.h"

namespace kevrale {

namespace {

// Most passes in one step, and so most passes any row gets: the ring keeps
// the newest row and the 19 above it, and pass t works t rows up, with the
// row above its own still in the ring.
constexpr int kMaxPasses = RowRing::kSlots - 2;
// The output row lies this many rows above the newest one.
constexpr int kWriteBackDistance = RowRing::kSlots - 1;

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

void ThinRows(ThinningRows& rows, int width, int height, TColor target, TColor surround,
              const ThinningOptions& options, bool alpha) {
  if (width <= 0 || height <= 0) return;
  const TargetRule rule{
      .target = target & kColorMask, .tolerance = options.tolerance, .alpha = alpha};
  const TColor paint = surround & kColorMask;
  // What a removed pixel's alpha byte becomes.
  const uint8_t removed_alpha = options.transparent_surround ? 0 : 255;

  RowRing ring(width);  // every slot clear, the top border row included
  int passes = 1;       // the active pass count
  for (int step = 0;; ++step) {
    const int y = step;
    const int slot = RowRing::SlotOf(y);
    if (y < height) {
      const SweepRow row = rows.Load(y);
      ring.Load(slot, row.pixels, row.bytes_per_pixel, rule);
    } else {
      ring.LoadEmpty(slot);
    }

    // Pass t on row y - t: each row meets passes 1, 2, ... in order, and the
    // row above it has already had the same pass.
    int highest = 0;
    for (int pass = 1; pass <= passes; ++pass) {
      const int row = y - pass;
      if (row < 0 || row >= height) continue;  // border or empty: nothing to delete
      if (ring.RunPass(pass, RowRing::SlotOf(row - 1), RowRing::SlotOf(row),
                       RowRing::SlotOf(row + 1)))
        highest = pass;
    }
    passes = highest + 1 > kMaxPasses ? highest : highest + 1;

    if (step >= kWriteBackDistance) {
      const int out = step - kWriteBackDistance;
      const int out_slot = RowRing::SlotOf(out);
      const bool removes = ring.AnyRemoved(out_slot);
      const SweepRow row = rows.Output(out, removes);
      if (row.pixels == nullptr) return;
      // 32-bit pixels carry alpha: a removed one gets its alpha byte too.
      const bool painted =
          removes && ring.WriteBack(out_slot, row.pixels, row.bytes_per_pixel, paint,
                                    row.bytes_per_pixel == 4 ? std::optional<uint8_t>(removed_alpha)
                                                             : std::nullopt);
      rows.Done(out, painted);
      if (out + 1 > height - 1) return;
    }
  }
}

}  // namespace kevrale
