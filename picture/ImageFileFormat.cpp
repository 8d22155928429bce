#include "picture/ImageFileFormat.h"

#include "platform/FileName.h"

namespace kevrale {

namespace {

constexpr TImageFileExtension kExtensions[] = {
    {TImageFileFormat::Bmp, "bmp", "ビットマップ"}, {TImageFileFormat::Png, "png", "PNG "},
    {TImageFileFormat::Tiff, "tif", "TIFF "},       {TImageFileFormat::Tiff, "tiff", ""},
    {TImageFileFormat::Svg, "svg", "SVG "},
};

}  // namespace

std::span<const TImageFileExtension> ImageFileExtensions() {
  return kExtensions;
}

std::optional<TImageFileFormat> ImageFileFormatNamed(std::string_view extension) {
  for (const TImageFileExtension& e : kExtensions)
    if (SameTextAscii(extension, e.extension)) return e.format;
  return std::nullopt;
}

TImageFileFormat ImageFileFormatFor(std::string_view path) {
  std::string_view extension = ExtractFileExt(path);
  if (extension.empty()) return TImageFileFormat::Bmp;
  extension.remove_prefix(1);
  return ImageFileFormatNamed(extension).value_or(TImageFileFormat::Bmp);
}

std::string_view SaveExtension(TImageFileFormat format) {
  for (const TImageFileExtension& e : kExtensions)
    if (e.format == format) return e.extension;
  return "bmp";
}

}  // namespace kevrale
