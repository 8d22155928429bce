#include "thinning/ThinningEngine.h"

#include "picture/TPicture.h"

namespace kevrale {

const char* const kThinningWidthMessage =
    "画像の横幅が12000pixelを越えていて実行できません\r\r"
    "横長の画像なら、９０°回転してから実行してください\r\r"
    "縦長なら縮小して実行してください";

void RunThinning(TPicture& picture, TColor, TColor, const ThinningHooks& hooks) {
  // The engine itself is being written; until then a run changes nothing.
  if (hooks.SetCursor) hooks.SetCursor(crHourGlass);
  (void)picture.Bitmap();
  if (hooks.SetCursor) hooks.SetCursor(crDefault);
}

}  // namespace kevrale
