#include "cli/ResultLayout.h"

#include "cli/Options.h"

namespace kevrale::cli {

RasterLayout ResultLayout(ColourTable colours, const SourceFacts& facts, const Options& options,
                          bool alpha, TImageFileFormat format) {
  // TColor is 0x00BBGGRR; the table holds 0xAARRGGBB.
  const TColor s = options.surround;
  const uint32_t removed_alpha = options.thinning.transparent_surround && alpha ? 0x00 : 0xFF;
  colours.Add(removed_alpha << 24 | (s & 0xFF) << 16 | (s & 0xFF00) | (s >> 16 & 0xFF));
  RasterLayout layout = ChooseLayout(colours, alpha, format);
  layout.x_ppm = facts.x_ppm;
  layout.y_ppm = facts.y_ppm;
  return layout;
}

}  // namespace kevrale::cli
