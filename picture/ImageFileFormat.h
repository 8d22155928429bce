// The formats a result is saved in, chosen by the extension of the name it
// is saved under: the raster formats a bitmap is written in, and SVG, the
// centre lines that the thinning layer traces. The one table of extensions
// and formats that the command line, its list mode and the desktop's save
// dialog use.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace kevrale {

enum class TImageFileFormat { Bmp, Png, Tiff, Svg };

struct TImageFileExtension {
  TImageFileFormat format;
  std::string_view extension;  // without its dot, lower case
  // The save dialog's filter name, on the first extension of each format.
  std::string_view filter_name;
};

// Every extension a result may be saved under, BMP first and SVG last; the
// first extension of a format is the one its save names get.
std::span<const TImageFileExtension> ImageFileExtensions();

// PNG and TIFF have no form for a picture without pixels (a BMP has); %s
// is the format's name.
inline constexpr const char* kEmptyPictureMessage = "幅か高さが0の画像は%s形式では保存できません";

// The format of an extension given without its dot ("png", "tif", "tiff",
// ...), letters in any case; nullopt for one not in the table.
std::optional<TImageFileFormat> ImageFileFormatNamed(std::string_view extension);

// The format that a name asks for by its extension; every other name (no
// extension included) gives BMP.
TImageFileFormat ImageFileFormatFor(std::string_view path);

// The extension, without its dot, that save names of the format get.
std::string_view SaveExtension(TImageFileFormat format);

// Whether a result of the format holds the picture's pixels (BMP, PNG,
// TIFF) rather than its centre lines (SVG).
inline bool IsRasterFormat(TImageFileFormat format) {
  return format != TImageFileFormat::Svg;
}

}  // namespace kevrale
