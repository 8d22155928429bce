// The file formats a bitmap is written in, chosen by the extension of the
// name it is saved under.
#pragma once

#include <string_view>

namespace kevrale {

enum class TImageFileFormat { Bmp, Png, Tiff };

// PNG and TIFF have no form for a picture without pixels (a BMP has); %s
// is the format's name.
inline constexpr const char* kEmptyPictureMessage = "幅か高さが0の画像は%s形式では保存できません";

// ".png" gives PNG, ".tif" and ".tiff" TIFF, letters in any case; every
// other name (no extension included) gives BMP.
TImageFileFormat ImageFileFormatFor(std::string_view path);

}  // namespace kevrale
