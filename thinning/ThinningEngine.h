// The thinning run: one top-to-bottom sweep over the picture with a ring of
// 20 rows in which up to 18 passes of the deletion test run as a pipeline.
// Every region of the target colour becomes a line one pixel wide; each
// removed pixel is repainted in the surround colour; no other pixel changes.
// One sweep gives a row at most 18 passes, so shapes much wider than 36
// pixels keep a thick core; further sweeps, each on the result of the one
// before, thin them on.
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
  // How many sweeps run, each on the result of the one before; kSweepsAll
  // repeats them until a sweep removes nothing (that sweep included). The
  // target cells are those of the source: a pixel that is the target colour
  // at the start stays it for every sweep, a kept pixel keeps its colour,
  // and a removed one is painted once, at the end. Below 0 acts as 1.
  int sweeps = 1;
};

// ThinningOptions::sweeps: repeat until a sweep removes nothing.
constexpr int kSweepsAll = 0;

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

// Whether ThinRows goes over the rows twice for these options and a picture
// `height` rows tall: for kSweepsAll, and for more sweeps than it pays to
// chain one behind the other (a picture of fewer than
// kRowsPerChainedSweep rows a sweep), it keeps the target cells of the
// whole picture (ThinningMask.h). Otherwise the sweeps run chained, and
// memory depends on their number, not on the height.
bool ThinsInTwoReadings(const ThinningOptions& options, int height);
constexpr int kRowsPerChainedSweep = 320;

// The sweeps of a run over rows that come from elsewhere (ThinningRows.h),
// for a picture `width` x `height` (width at most kMaxThinningWidth; the
// caller checks it). `alpha` tells whether the fourth byte of 32-bit rows is
// alpha, as for a picture that has alpha; with a transparent surround the
// rows that the caller hands out decide whether removed pixels get an
// alpha byte (32-bit rows) or not. Whatever the rows raise goes on.
// With chained sweeps, Output(y) comes RowsHeldBySweeps(sweeps) rows after
// Load(y). In two readings (see ThinsInTwoReadings) every row goes through
// Load and Done(y, false) first, then through Load, Output and Done.
void ThinRows(ThinningRows& rows, int width, int height, TColor target, TColor surround,
              const ThinningOptions& options, bool alpha);

// The rows between Load(y) and Output(y) when `sweeps` run chained.
int RowsHeldBySweeps(int sweeps);

}  // namespace kevrale
