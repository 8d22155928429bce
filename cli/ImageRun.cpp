#include "cli/ImageRun.h"

#include "batch/BatchRun.h"
#include "batch/SaveName.h"
#include "cli/StreamedRun.h"
#include "picture/LoadOutcome.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "thinning/SkeletonSvg.h"
#include "thinning/SpurPruning.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {

TLoadLimits ThinnableLimits() {
  return TLoadLimits{kMaxThinningWidth, kThinningWidthMessage};
}

void ThinImageFile(const std::string& source, const std::string& destination,
                   const Options& options) {
  if (StreamingAllowed(source, options) &&
      ThinStreamed(source, destination, options, StreamThreads(options)))
    return;
  ThinWholePicture(source, destination, options);
}

std::optional<PixelPosition> TargetPixelIn(const std::string& source, const Options& options,
                                           int width, int height) {
  if (!options.target_at) return std::nullopt;
  const PixelPosition p = *options.target_at;
  if (p.x >= width || p.y >= height)
    throw Exception(Format("%s: pixel (%s, %s) lies outside the picture (%s x %s)",
                           {source, std::to_string(p.x), std::to_string(p.y), std::to_string(width),
                            std::to_string(height)}));
  return p;
}

void ThinWholePicture(const std::string& source, const std::string& destination,
                      const Options& options) {
  TPicture picture;
  picture.LoadFromFile(source, ThinnableLimits());

  TColor target = options.target;
  if (const auto p = TargetPixelIn(source, options, picture.Width(), picture.Height()))
    target = picture.Pixel(p->x, p->y);

  if (RunThinning(picture, target, options.surround, options.thinning) == ThinningResult::TooWide)
    throw Exception(kThinningWidthMessage);

  PruneAndSave(picture, target, options, destination);
}

std::string DestinationFor(const std::string& source, const Options& options) {
  if (options.output) return *options.output;
  return SaveNameFor(source, SaveExtension(ResultFormat(options)));
}

void PruneAndSave(TPicture& picture, TColor target, const Options& options,
                  const std::string& destination) {
  // The pixels that the run counted as the target colour, and kept.
  const TargetRule rule{.target = target & kColorMask,
                        .tolerance = options.thinning.tolerance,
                        .alpha = picture.Bitmap().HasAlpha()};
  if (options.prune > 0 && PruneSpurs(picture.Bitmap(), rule, options.surround,
                                      options.thinning.transparent_surround, options.prune) > 0)
    picture.Changed();
  if (destination == kStandardOutputName) {
    picture.SaveToStandardOutput();
  } else {
    SvgOptions svg;
    svg.simplify = options.simplify;
    SaveThinningResult(picture, target, options.thinning.tolerance, svg, destination);
  }
}

}  // namespace kevrale::cli
