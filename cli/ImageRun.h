// Thinning one image file from the command line: load, thin, save.
#pragma once

#include <optional>
#include <string>

#include "cli/Options.h"
#include "picture/ImageRowSource.h"
#include "picture/RasterLayout.h"
#include "picture/TGraphic.h"
#include "platform/Color.h"

namespace kevrale {
class TPicture;
}

namespace kevrale::cli {

// Loads `source` through the picture's format registry, thins it with the
// options' colours, tolerance and surround, prunes it as they ask and saves
// the result to `destination` in ResultFormat(options) ("-": BMP to
// standard output). Raises the picture's errors; raises Exception with the
// width message when the picture is too wide, without writing anything.
// A BMP file is streamed where it can be (StreamedRun.h), with the same
// result.
void ThinImageFile(const std::string& source, const std::string& destination,
                   const Options& options);

// The same with the whole picture in memory, whatever the file.
void ThinWholePicture(const std::string& source, const std::string& destination,
                      const Options& options);

// The name standing for standard output in place of an output file.
inline constexpr const char* kStandardOutputName = "-";

// Where the result of `source` goes: -o's name, or the save name beside
// the source with the extension of the result's format.
std::string DestinationFor(const std::string& source, const Options& options);

// What the colour type of a PNG or TIFF result is decided from
// (ResultLayout.h), taken from the source before the run.
struct SourceColourFacts {
  ColourTable colours;
  SourceFacts facts;
};

// What follows a completed run: the spurs shorter than options.prune go
// (in the surround colour), then the picture is saved to `destination`,
// in its raster format or as the SVG of its `target`-coloured lines. A PNG
// or TIFF result is written in the layout that `colours` gives, where it
// holds the picture, and otherwise in that of the picture's own colours.
void PruneAndSave(TPicture& picture, TColor target, const Options& options,
                  const std::string& destination, const SourceColourFacts* colours = nullptr);

// The command line loads only what the engine can thin: a picture wider
// than it takes is refused with its width message as soon as the width is
// known, before the pixels are decoded.
TLoadLimits ThinnableLimits();

// The pixel that `--target-at` names, checked against the size of the
// picture `source`; none when the option is not given.
std::optional<PixelPosition> TargetPixelIn(const std::string& source, const Options& options,
                                           int width, int height);

}  // namespace kevrale::cli
