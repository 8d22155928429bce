#include "cli/ImageRun.h"

#include "batch/BatchRun.h"
#include "batch/SaveName.h"
#include "cli/ResultLayout.h"
#include "cli/StreamedRun.h"
#include "picture/ImageFileFormat.h"
#include "picture/ImageRowWriter.h"
#include "picture/LoadOutcome.h"
#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "platform/FileSave.h"
#include "platform/Format.h"
#include "platform/Stream.h"
#include "thinning/SkeletonSvg.h"
#include "thinning/SpurPruning.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {

namespace {

// The file format of a raster result; BMP for standard output.
TImageFileFormat RasterFormatOf(const std::string& destination) {
  return destination == kStandardOutputName ? TImageFileFormat::Bmp
                                            : ImageFileFormatFor(destination);
}

// The source's colours as the streamed run finds them: those its file
// declares, else those of its pixels, here the loaded bitmap's.
std::optional<SourceColourFacts> ColourFactsOf(const std::string& source, TPicture& picture) {
  if (!picture.HoldsBitmap()) return std::nullopt;
  const bool bmp = TPicture::FindGraphicClass(TPicture::ExtensionOf(source)) == &TBitmap::Class;
  SourceColourFacts out;
  out.facts = ReadSourceFacts(source, bmp ? RowSourceKind::Bmp : RowSourceKind::Codec)
                  .value_or(SourceFacts{});
  const TBitmap& bitmap = picture.Bitmap();
  out.colours = SourceColours(out.facts, [&bitmap](ColourTable& table) {
    for (int y = 0; y < bitmap.Height() && !table.Overflowed(); ++y)
      table.AddRow(bitmap.ScanLine(y), bitmap.Width(), bitmap.BytesPerPixel());
  });
  return out;
}

// Whether every pixel of the bitmap has a colour of a grey or palette
// layout; RGB and RGBA hold every colour.
bool Holds(const RasterLayout& layout, const TBitmap& bitmap) {
  if (layout.kind != RasterKind::Grey && layout.kind != RasterKind::Palette) return true;
  ColourTable table;
  for (uint32_t c : layout.colours) table.Add(c);
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* p = bitmap.ScanLine(y);
    uint32_t last = ~ColourAt(p, bitmap.BytesPerPixel());
    for (int x = 0; x < bitmap.Width(); ++x, p += bitmap.BytesPerPixel()) {
      const uint32_t c = ColourAt(p, bitmap.BytesPerPixel());
      if (c != last && table.Find(c) < 0) return false;
      last = c;
    }
  }
  return true;
}

}  // namespace

TLoadLimits ThinnableLimits() {
  return TLoadLimits{kMaxThinningWidth, kThinningWidthMessage};
}

void ThinImageFile(const std::string& source, const std::string& destination,
                   const Options& options) {
  if (StreamingAllowed(source, options)) {
    // (TPicture checks the file as it loads it.)
    CheckPictureFile(source);
    if (ThinStreamed(source, destination, options, StreamThreads(options, source, destination)))
      return;
  }
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

  std::optional<SourceColourFacts> colours;
  if (ResultFormat(options) != TImageFileFormat::Svg &&
      RasterFormatOf(destination) != TImageFileFormat::Bmp)
    colours = ColourFactsOf(source, picture);

  if (RunThinning(picture, target, options.surround, options.thinning) == ThinningResult::TooWide)
    throw Exception(kThinningWidthMessage);

  PruneAndSave(picture, target, options, destination, colours ? &*colours : nullptr);
}

std::string DestinationFor(const std::string& source, const Options& options) {
  if (options.output) return *options.output;
  return SaveNameFor(source, SaveExtension(ResultFormat(options)));
}

void PruneAndSave(TPicture& picture, TColor target, const Options& options,
                  const std::string& destination, const SourceColourFacts* colours) {
  // The pixels that the run counted as the target colour, and kept.
  const TargetRule rule{.target = target & kColorMask,
                        .tolerance = options.thinning.tolerance,
                        .alpha = picture.Bitmap().HasAlpha()};
  if (options.prune > 0 && PruneSpurs(picture.Bitmap(), rule, options.surround,
                                      options.thinning.transparent_surround, options.prune) > 0)
    picture.Changed();
  if (destination == kStandardOutputName) {
    picture.SaveToStandardOutput();
  } else if (colours != nullptr) {
    // The layout that the streamed run of the same file chooses; a picture
    // that the file's facts do not describe (a plug-in other than the
    // bundled one decoded it) gets the layout of its own pixels.
    const TBitmap& bitmap = picture.Bitmap();
    const TImageFileFormat format = RasterFormatOf(destination);
    RasterLayout layout =
        ResultLayout(colours->colours, colours->facts, options, bitmap.HasAlpha(), format);
    if (!Holds(layout, bitmap)) {
      layout = LayoutOf(bitmap, format);
      layout.x_ppm = colours->facts.x_ppm;
      layout.y_ppm = colours->facts.y_ppm;
    }
    SaveFileWith(destination, [&](TStream& out) { WriteImage(format, bitmap, out, layout); });
  } else {
    SvgOptions svg;
    svg.simplify = options.simplify;
    SaveThinningResult(picture, target, options.thinning.tolerance, svg, destination);
  }
}

}  // namespace kevrale::cli
