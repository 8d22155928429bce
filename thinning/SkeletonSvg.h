// The target pixels of a picture as an SVG document of centre lines: traced
// (exactly, or simplified within a tolerance), ordered for a pen, written in
// the target colour.
#pragma once

#include <string>
#include <vector>

#include "picture/PixelPolyline.h"
#include "platform/Color.h"
#include "thinning/TargetRule.h"

namespace kevrale {

class TBitmap;
class TPicture;
class TStream;

struct SvgOptions {
  // Douglas-Peucker tolerance in pixels; 0 keeps the paths exact.
  double simplify = 0;
  // Reorder the paths to shorten the pen's travel between them.
  bool order_for_pen = true;
};

// What a trace gave, for reports and benchmarks.
struct SkeletonPathStats {
  size_t paths = 0;
  size_t points = 0;
  double travel_before = 0;  // pen travel in tracing order
  double travel_after = 0;   // pen travel in the order written
};

// The paths of the target pixels of `bitmap` as they are written.
std::vector<PixelPolyline> SkeletonPaths(const TBitmap& bitmap, const TargetRule& rule,
                                         const SvgOptions& options,
                                         SkeletonPathStats* stats = nullptr);

// Writes the document: the picture's size, one path per traced line,
// stroked in the target colour.
void WriteSkeletonSvg(const TBitmap& bitmap, const TargetRule& rule, const SvgOptions& options,
                      TStream& stream, SkeletonPathStats* stats = nullptr);

// Saves the document to a file; a failed save leaves an old file as it
// was and raises the file's error.
void SaveSkeletonSvg(const TBitmap& bitmap, const TargetRule& rule, const SvgOptions& options,
                     const std::string& path);

// Saves a run's result under `path` in the format that the name asks for
// (ImageFileFormatFor): for SVG the centre lines of the pixels that the run
// counts as the target colour (within `tolerance`), else the picture in
// its raster format. A picture that holds no bitmap has no centre lines:
// EInvalidGraphicOperation "ビットマップを持っている時のみイメージの変更が
// 可能です".
void SaveThinningResult(TPicture& picture, TColor target, int tolerance, const SvgOptions& svg,
                        const std::string& path);

}  // namespace kevrale
