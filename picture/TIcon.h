// The icon kind of the format registry: a Windows .ico file. The largest
// DIB-coded image of the file is shown; the file is saved back as it came.
// An icon is not a bitmap, so pixel access on a picture holding one fails.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/TGraphic.h"

namespace kevrale {

class TIcon : public TGraphic {
 public:
  static const TGraphicClassInfo Class;

  TGraphicClass ClassType() const override { return &Class; }
  int Width() const override { return image_.width; }
  int Height() const override { return image_.height; }
  // Raises EInvalidGraphic "アイコンイメージが不正です" for anything that
  // is not an icon file with a DIB-coded image.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;
  ArgbImage Render() const override { return image_; }

 private:
  std::vector<uint8_t> file_;
  ArgbImage image_;
};

}  // namespace kevrale
