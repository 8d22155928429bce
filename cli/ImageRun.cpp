#include "cli/ImageRun.h"

#include "picture/TPicture.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "thinning/ThinningEngine.h"

namespace kevrale::cli {

void ThinImageFile(const std::string& source, const std::string& destination,
                   const Options& options) {
  TPicture picture;
  picture.LoadFromFile(source);

  TColor target = options.target;
  if (options.target_at) {
    const PixelPosition p = *options.target_at;
    if (p.x >= picture.Width() || p.y >= picture.Height())
      throw Exception(Format("%s: pixel (%s, %s) lies outside the picture (%s x %s)",
                             {source, std::to_string(p.x), std::to_string(p.y),
                              std::to_string(picture.Width()), std::to_string(picture.Height())}));
    target = picture.Pixel(p.x, p.y);
  }

  // The engine reports a refused run only through its message.
  std::string refusal;
  ThinningHooks hooks;
  hooks.ShowMessage = [&refusal](const std::string& text) { refusal = text; };
  RunThinning(picture, target, options.surround, hooks);
  if (!refusal.empty()) throw Exception(refusal);

  if (destination == kStandardOutputName)
    picture.SaveToStandardOutput();
  else
    picture.SaveToFile(destination);
}

}  // namespace kevrale::cli
