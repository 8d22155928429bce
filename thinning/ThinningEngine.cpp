#include "thinning/ThinningEngine.h"

#include <optional>

#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "thinning/RowRing.h"

namespace kevrale {

// The text names 12000 pixels while pictures up to 12500 wide are thinned:
// the limit follows from the ring's largest size (12502 columns), the text
// is the one users have always seen, and both stay as they are.
const char* const kThinningWidthMessage =
    "画像の横幅が12000pixelを越えていて実行できません\r\r"
    "横長の画像なら、９０°回転してから実行してください\r\r"
    "縦長なら縮小して実行してください";

namespace {

// Most passes in one step, and so most passes any row gets: the ring keeps
// the newest row and the 19 above it, and pass t works t rows up, with the
// row above its own still in the ring.
constexpr int kMaxPasses = RowRing::kSlots - 2;
// The output row lies this many rows above the newest one.
constexpr int kWriteBackDistance = RowRing::kSlots - 1;

void Sweep(TBitmap& bitmap, TColor target, TColor surround, const ThinningOptions& options,
           bool& changed) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (width == 0 || height == 0) return;
  const TargetRule rule{
      .target = target, .tolerance = options.tolerance, .alpha = bitmap.HasAlpha()};
  // What a removed pixel's alpha byte becomes.
  const uint8_t removed_alpha = options.transparent_surround ? 0 : 255;

  RowRing ring(width);  // every slot clear, the top border row included
  int passes = 1;       // the active pass count
  for (int step = 0;; ++step) {
    const int y = step;
    const int slot = RowRing::SlotOf(y);
    // Read afresh: a transparent surround may have widened the pixels.
    const int bytes_per_pixel = bitmap.BytesPerPixel();
    if (y < height)
      ring.Load(slot, bitmap.ScanLine(y), bytes_per_pixel, rule);
    else
      ring.LoadEmpty(slot);

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
      // Transparency needs an alpha channel: the picture gets one, all
      // opaque, just before its first pixel is removed. The rows below are
      // loaded from the widened pixels; the ring holds no pixels.
      if (options.transparent_surround && !bitmap.HasAlpha() && ring.AnyRemoved(out_slot))
        bitmap.SetPixelFormat(TPixelFormat::pf32bit);
      if (ring.WriteBack(out_slot, bitmap.ScanLine(out), bitmap.BytesPerPixel(), surround,
                         bitmap.HasAlpha() ? std::optional<uint8_t>(removed_alpha) : std::nullopt))
        changed = true;
      if (out + 1 > height - 1) break;
    }
  }
}

}  // namespace

void RunThinning(TPicture& picture, TColor target, TColor surround, const ThinningHooks& hooks,
                 const ThinningOptions& options) {
  // The default cursor comes back after the width message has been closed,
  // and after a run that fails.
  const BusyCursorScope busy(hooks);
  TBitmap& bitmap = picture.Bitmap();
  if (bitmap.Width() > kMaxThinningWidth) {
    if (hooks.ShowMessage) hooks.ShowMessage(kThinningWidthMessage);
    return;
  }
  bool changed = false;
  try {
    Sweep(bitmap, target & kColorMask, surround & kColorMask, options, changed);
  } catch (...) {
    // Only running out of memory can get here; the rows written so far
    // stay and are shown.
    if (changed) picture.Changed();
    throw;
  }
  if (changed) picture.Changed();
}

}  // namespace kevrale
