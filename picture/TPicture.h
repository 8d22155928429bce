// The picture: the one graphic that every command works on, the format
// registry that maps file extensions to graphic kinds, loading by extension,
// saving, the bitmap view and pixel access.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/TBitmap.h"
#include "picture/TGraphic.h"
#include "platform/Color.h"

namespace kevrale {

struct TFileFormat {
  std::string Extension;  // lower case, without the dot
  std::string Description;
  TGraphicClass GraphicClass = nullptr;
  // Who registered it: the file of the plug-in whose format it is; empty
  // for the program's own kinds.
  std::string Origin;
};

class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The current graphic, or nullptr.
  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> graphic);

  // The graphic as a bitmap. A graphic of another kind (or none) is
  // discarded and replaced by an empty 0 x 0 bitmap.
  TBitmap& Bitmap();
  bool HoldsBitmap() const;

  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }

  // Pixel access on the bitmap the picture holds. A graphic of another kind
  // raises EInvalidGraphicOperation
  // "ビットマップを持っている時のみイメージの変更が可能です".
  TColor Pixel(int x, int y);
  void SetPixel(int x, int y, TColor color);

  // Loads by the extension of the path's file name (newest registry entry
  // first, letters compared in lower case). The picture is replaced only when
  // the load succeeds.
  // `limits` lets the load refuse a picture before it is decoded.
  void LoadFromFile(const std::string& path, const TLoadLimits& limits = {});
  // Writes the graphic through TGraphic::SaveToFile: a bitmap as PNG or
  // TIFF when the name ends so, as BMP otherwise; an existing file is
  // replaced.
  void SaveToFile(const std::string& path) const;
  // Writes the graphic to the process's standard output, a bitmap as BMP.
  void SaveToStandardOutput() const;

  // The picture for display and for the clipboard: 0xAARRGGBB, top-down.
  ArgbImage Render() const;
  // Makes the bitmap view take the pixels of an image (clipboard paste).
  void AssignImage(const ArgbImage& image);

  // Tells the listener that the picture's content changed.
  void Changed();
  std::function<void(TPicture&)> OnChange;
  // Progress of the graphic being loaded.
  TProgressEvent OnProgress;

  // The format registry, oldest entry first. It starts with wmf, emf, ico
  // and bmp.
  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 TGraphicClass graphic_class,
                                 const std::string& origin = std::string());
  static void UnregisterGraphicClass(TGraphicClass graphic_class);
  static const std::vector<TFileFormat>& FileFormats();
  // The graphic kind for an extension (without dot, any case); nullptr if none.
  static TGraphicClass FindGraphicClass(const std::string& extension);

  // The extension of a path's file name, as written, without its dot.
  static std::string ExtensionOf(const std::string& path);

 private:
  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace kevrale
