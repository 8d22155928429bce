// The font of the windows: "ＭＳ Ｐゴシック" is asked for first; where it is
// not installed (on Linux it rarely is) an installed Japanese face stands in,
// so that no Japanese text shows as boxes.
#pragma once

#include <QFont>

namespace kevrale {

QFont UiFont(int pixel_size);

}  // namespace kevrale
