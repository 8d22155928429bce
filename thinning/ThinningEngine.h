// The thinning run: one top-to-bottom sweep over the picture with a ring of
// 20 rows in which up to 18 passes of the deletion test run as a pipeline.
// Every region of the target colour becomes a line one pixel wide; each
// removed pixel is repainted in the surround colour; no other pixel changes.
#pragma once

#include "platform/Color.h"

namespace kevrale {

class TPicture;
class ThinningRows;

// How a run tells the target colour and what it leaves where it removes a
// pixel. The defaults thin exactly the pixels of the target colour and
// repaint them opaque in the surround colour.
struct ThinningOptions {
  // A pixel is the target colour when none of its three channels differs
  // from the target's by more than this (0..kMaxTolerance; 0: only the
  // colour itself).
  int tolerance = 0;
  // Removed pixels become fully transparent instead of opaque; their colour
  // bytes hold the surround colour. A 24-bit picture becomes a 32-bit one
  // (every other pixel opaque) at the first pixel removed, so a run that
  // removes nothing leaves it as it was.
  bool transparent_surround = false;
};

// The largest tolerance that means something: every colour is within 255
// of every other in each channel.
constexpr int kMaxTolerance = 255;

// The widest picture the engine accepts.
constexpr int kMaxThinningWidth = 12500;

// What a run did. The front ends tell the user about a refusal in their
// own way (the desktop's message box, the command line's error).
enum class ThinningResult {
  Thinned,  // the picture was thinned (or had nothing to thin)
  TooWide,  // wider than kMaxThinningWidth: refused, the picture unchanged
};

// Thins the picture in place with the target and surround colours
// (0x00BBGGRR; only the low 24 bits count). In a picture with alpha, a
// fully transparent pixel is never the target colour, and a removed pixel
// becomes opaque unless the surround is transparent. A tolerance above 255
// acts as 255; one below 0 matches no pixel.
[[nodiscard]] ThinningResult RunThinning(TPicture& picture, TColor target, TColor surround,
                                         const ThinningOptions& options = {});

// The sweep of a run over rows that come from elsewhere (ThinningRows.h),
// for a picture `width` x `height` (width at most kMaxThinningWidth; the
// caller checks it). `alpha` tells whether the fourth byte of 32-bit rows is
// alpha, as for a picture that has alpha; with a transparent surround the
// rows that the caller hands out decide whether removed pixels get an
// alpha byte (32-bit rows) or not. Whatever the rows raise goes on.
void ThinRows(ThinningRows& rows, int width, int height, TColor target, TColor surround,
              const ThinningOptions& options, bool alpha);

}  // namespace kevrale
