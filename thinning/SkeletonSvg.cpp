#include "thinning/SkeletonSvg.h"

#include "picture/ImageFileFormat.h"
#include "picture/SvgWriter.h"
#include "picture/TBitmap.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "platform/FileSave.h"
#include "thinning/PathOrder.h"
#include "thinning/PathSimplify.h"
#include "thinning/SkeletonGraph.h"
#include "thinning/SkeletonTrace.h"

namespace kevrale {

std::vector<PixelPolyline> SkeletonPaths(const TBitmap& bitmap, const TargetRule& rule,
                                         const SvgOptions& options, SkeletonPathStats* stats) {
  std::vector<PixelPolyline> paths = TraceSkeleton(SkeletonGraph(bitmap, rule));
  if (options.simplify > 0)
    for (PixelPolyline& p : paths) SimplifyPolyline(p, options.simplify);
  const double before = stats ? PenTravel(paths) : 0;
  if (options.order_for_pen) OrderForPen(paths);
  if (stats) {
    stats->paths = paths.size();
    stats->points = 0;
    for (const PixelPolyline& p : paths) stats->points += p.points.size();
    stats->travel_before = before;
    stats->travel_after = PenTravel(paths);
  }
  return paths;
}

void WriteSkeletonSvg(const TBitmap& bitmap, const TargetRule& rule, const SvgOptions& options,
                      TStream& stream, SkeletonPathStats* stats) {
  WriteSvg(stream, bitmap.Width(), bitmap.Height(), rule.target & kColorMask,
           SkeletonPaths(bitmap, rule, options, stats));
}

void SaveSkeletonSvg(const TBitmap& bitmap, const TargetRule& rule, const SvgOptions& options,
                     const std::string& path) {
  // Traced before the file is touched: nothing is replaced if tracing fails.
  const std::vector<PixelPolyline> paths = SkeletonPaths(bitmap, rule, options);
  SaveFileWith(path, [&](TStream& stream) {
    WriteSvg(stream, bitmap.Width(), bitmap.Height(), rule.target & kColorMask, paths);
  });
}

void SaveThinningResult(TPicture& picture, TColor target, int tolerance, const SvgOptions& svg,
                        const std::string& path) {
  if (IsRasterFormat(ImageFileFormatFor(path))) {
    picture.SaveToFile(path);
    return;
  }
  const auto* bitmap = dynamic_cast<const TBitmap*>(picture.Graphic());
  if (bitmap == nullptr)
    throw EInvalidGraphicOperation("ビットマップを持っている時のみイメージの変更が可能です");
  const TargetRule rule{
      .target = target & kColorMask, .tolerance = tolerance, .alpha = bitmap->HasAlpha()};
  SaveSkeletonSvg(*bitmap, rule, svg, path);
}

}  // namespace kevrale
