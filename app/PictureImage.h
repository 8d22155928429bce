// The picture as a QImage (for the screen and the clipboard) and a QImage
// as the pixels a picture takes (clipboard paste).
#pragma once

#include <QImage>

#include "picture/ArgbImage.h"

namespace kevrale {

class TPicture;

// A bitmap's rows are copied as they are (24-bit BGR or 32-bit BGRA);
// other graphics are rendered. An empty picture gives a null image.
QImage PictureToImage(const TPicture& picture);

ArgbImage ImageToArgb(const QImage& image);

}  // namespace kevrale
