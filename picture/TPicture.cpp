#include "picture/TPicture.h"

#include <algorithm>

#include "picture/TIcon.h"
#include "picture/TMetafile.h"
#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

std::vector<TFileFormat>& Registry() {
  static std::vector<TFileFormat> formats = {
      {"wmf", "メタファイル", &TMetafile::Class, {}},
      {"emf", "エンハンス メタファイル", &TMetafile::Class, {}},
      {"ico", "アイコン", &TIcon::Class, {}},
      {"bmp", "ビットマップ", &TBitmap::Class, {}},
  };
  return formats;
}

[[noreturn]] void NotABitmap() {
  throw EInvalidGraphicOperation("ビットマップを持っている時のみイメージの変更が可能です");
}

}  // namespace

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  Changed();
}

bool TPicture::HoldsBitmap() const {
  return dynamic_cast<const TBitmap*>(graphic_.get()) != nullptr;
}

TBitmap& TPicture::Bitmap() {
  if (!HoldsBitmap()) SetGraphic(std::make_unique<TBitmap>());
  return static_cast<TBitmap&>(*graphic_);
}

TColor TPicture::Pixel(int x, int y) {
  if (graphic_ && !HoldsBitmap()) NotABitmap();
  return Bitmap().Pixel(x, y);
}

void TPicture::SetPixel(int x, int y, TColor color) {
  if (graphic_ && !HoldsBitmap()) NotABitmap();
  Bitmap().SetPixel(x, y, color);
  Changed();
}

void TPicture::LoadFromFile(const std::string& path, const TLoadLimits& limits) {
  const std::string extension = ExtensionOf(path);
  const TGraphicClass graphic_class = FindGraphicClass(extension);
  if (graphic_class == nullptr || !graphic_class->CanCreate())
    throw EInvalidGraphic(Format("拡張子 .%s の画像形式は処理できません", {extension}));
  // Neither a reader of ours nor a plug-in is handed a FIFO or a device.
  CheckPictureFile(path);
  std::unique_ptr<TGraphic> graphic = graphic_class->Create();
  graphic->OnProgress = [this](TGraphic& sender, TProgressStage stage, uint8_t percent, bool redraw,
                               const TRect& r, const std::string& msg) {
    if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
  };
  graphic->Limits = limits;
  graphic->LoadFromFile(path);
  graphic->OnProgress = nullptr;
  SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& path) const {
  if (graphic_) graphic_->SaveToFile(path);
}

void TPicture::SaveToStandardOutput() const {
  if (graphic_) graphic_->SaveToStandardOutput();
}

ArgbImage TPicture::Render() const {
  return graphic_ ? graphic_->Render() : ArgbImage{};
}

void TPicture::AssignImage(const ArgbImage& image) {
  Bitmap().AssignImage(image);
  Changed();
}

void TPicture::Changed() {
  if (OnChange) OnChange(*this);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphic_class, const std::string& origin) {
  Registry().push_back({AsciiLowerCase(extension), description, graphic_class, origin});
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphic_class) {
  auto& formats = Registry();
  std::erase_if(formats, [&](const TFileFormat& f) { return f.GraphicClass == graphic_class; });
}

const std::vector<TFileFormat>& TPicture::FileFormats() {
  return Registry();
}

TGraphicClass TPicture::FindGraphicClass(const std::string& extension) {
  const std::string wanted = AsciiLowerCase(extension);
  const auto& formats = Registry();
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    if (it->Extension == wanted) return it->GraphicClass;
  return nullptr;
}

std::string TPicture::ExtensionOf(const std::string& path) {
  const std::string_view extension = ExtractFileExt(path);
  return std::string(extension.empty() ? extension : extension.substr(1));
}

}  // namespace kevrale
