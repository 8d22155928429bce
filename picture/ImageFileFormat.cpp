#include "picture/ImageFileFormat.h"

#include "platform/FileName.h"

namespace kevrale {

TImageFileFormat ImageFileFormatFor(std::string_view path) {
  const std::string_view extension = ExtractFileExt(path);
  if (SameTextAscii(extension, ".png")) return TImageFileFormat::Png;
  if (SameTextAscii(extension, ".tif") || SameTextAscii(extension, ".tiff"))
    return TImageFileFormat::Tiff;
  return TImageFileFormat::Bmp;
}

}  // namespace kevrale
