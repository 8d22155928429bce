#include "app/PictureImage.h"

#include <cstring>

#include "picture/TPicture.h"

namespace kevrale {

QImage PictureToImage(const TPicture& picture) {
  const TGraphic* graphic = picture.Graphic();
  if (graphic == nullptr || graphic->Empty()) return QImage();
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(graphic)) {
    QImage image(bitmap->Width(), bitmap->Height(),
                 bitmap->HasAlpha() ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    if (image.isNull()) return image;
    const size_t row_bytes = size_t(bitmap->Width()) * size_t(bitmap->BytesPerPixel());
    for (int y = 0; y < bitmap->Height(); ++y)
      std::memcpy(image.scanLine(y), bitmap->ScanLine(y), row_bytes);
    return image;
  }
  const ArgbImage rendered = graphic->Render();
  QImage image(rendered.width, rendered.height, QImage::Format_ARGB32);
  if (image.isNull()) return image;
  for (int y = 0; y < rendered.height; ++y)
    std::memcpy(image.scanLine(y), rendered.pixels.data() + size_t(y) * size_t(rendered.width),
                size_t(rendered.width) * 4);
  return image;
}

ArgbImage ImageToArgb(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  ArgbImage out;
  if (image.isNull()) return out;
  out.width = image.width();
  out.height = image.height();
  out.pixels.resize(size_t(out.width) * size_t(out.height));
  for (int y = 0; y < out.height; ++y)
    std::memcpy(out.pixels.data() + size_t(y) * size_t(out.width), image.constScanLine(y),
                size_t(out.width) * 4);
  return out;
}

}  // namespace kevrale
