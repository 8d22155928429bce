#include "picture/TBitmap.h"

#include <cstring>
#include <utility>

#include "picture/BmpReader.h"
#include "picture/BmpWriter.h"
#include "picture/ImageFileFormat.h"
#include "picture/ImageRowWriter.h"
#include "platform/Exception.h"
#include "platform/LargeBlock.h"
#include "platform/Stream.h"

namespace kevrale {

const TGraphicClassInfo TBitmap::Class("TBitmap", &TGraphic::Class,
                                       &MakeInstance<TBitmap, TGraphic>);

namespace {

// Bytes per row of a bitmap of that size and format, padded to 4; raises
// EInvalidGraphic for a size no bitmap may have.
size_t CheckedStride(int width, int height, TPixelFormat format) {
  if (width < 0 || height < 0 || int64_t(width) * int64_t(height) > TBitmap::kMaxPixels)
    throw EInvalidGraphic("ビットマップイメージが不正です");
  return TBitmap::StrideOf(width, format);
}

}  // namespace

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
  SetSize(width, height, format);
}

TBitmap::TBitmap(const TBitmap& other) : TGraphic() {
  *this = other;
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this == &other) return *this;
  Resize(other.width_, other.height_, other.format_, false);
  if (BitsSize() > 0) std::memcpy(bits_.get(), other.bits_.get(), BitsSize());
  return *this;
}

void TBitmap::SetSize(int width, int height, TPixelFormat format) {
  Resize(width, height, format, true);
}

void TBitmap::Allocate(int width, int height, TPixelFormat format) {
  Resize(width, height, format, false);
}

void TBitmap::Resize(int width, int height, TPixelFormat format, bool clear) {
  const size_t size = CheckedStride(width, height, format) * size_t(height);
  AdoptBits(width, height, format, size > 0 ? NewLargeBlock(size) : nullptr);
  const int bpp = BytesPerPixel();
  if (clear && size > 0) {
    std::memset(bits_.get(), 0, size);
    if (bpp == 4)
      for (size_t i = 3; i < size; i += 4) bits_[i] = 0xFF;
  } else if (const size_t used = size_t(width) * size_t(bpp); used < stride_) {
    // Row padding is never drawn, but it is saved: keep it zero.
    for (int y = 0; y < height; ++y)
      std::memset(bits_.get() + size_t(y) * stride_ + used, 0, stride_ - used);
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  TBitmap converted;
  converted.Allocate(width_, height_, format);
  const int from = BytesPerPixel();
  const int to = converted.BytesPerPixel();
  for (int y = 0; y < height_; ++y) {
    const uint8_t* p = ScanLine(y);
    uint8_t* q = converted.ScanLine(y);
    for (int x = 0; x < width_; ++x, p += from, q += to) {
      q[0] = p[0];
      q[1] = p[1];
      q[2] = p[2];
      if (to == 4) q[3] = 0xFF;
    }
  }
  Swap(converted);
}

TColor TBitmap::Pixel(int x, int y) const {
  if (!Contains(x, y)) return 0;
  const uint8_t* p = ScanLine(y) + size_t(x) * size_t(BytesPerPixel());
  return RGB(p[2], p[1], p[0]);
}

void TBitmap::SetPixel(int x, int y, TColor color) {
  if (!Contains(x, y)) return;
  uint8_t* p = ScanLine(y) + size_t(x) * size_t(BytesPerPixel());
  p[0] = GetBValue(color);
  p[1] = GetGValue(color);
  p[2] = GetRValue(color);
}

void TBitmap::LoadFromStream(TStream& stream) {
  TBitmap loaded;
  ReadBmp(stream, loaded, Limits);
  Swap(loaded);
}

void TBitmap::AdoptBits(int width, int height, TPixelFormat format,
                        std::shared_ptr<uint8_t[]> bits) {
  stride_ = CheckedStride(width, height, format);
  width_ = width;
  height_ = height;
  format_ = format;
  bits_ = std::move(bits);
}

void TBitmap::SaveToStream(TStream& stream) const {
  WriteBmp(*this, stream);
}

void TBitmap::SaveToStreamFor(TStream& stream, const std::string& file_name) const {
  // A bitmap has no centre lines to write: a name asking for SVG gets BMP,
  // as every other name does.
  const TImageFileFormat format = ImageFileFormatFor(file_name);
  WriteImage(IsRasterFormat(format) ? format : TImageFileFormat::Bmp, *this, stream);
}

ArgbImage TBitmap::Render() const {
  ArgbImage image;
  image.width = width_;
  image.height = height_;
  image.pixels.resize(size_t(width_) * size_t(height_));
  const int bpp = BytesPerPixel();
  for (int y = 0; y < height_; ++y) {
    const uint8_t* p = ScanLine(y);
    uint32_t* out = image.pixels.data() + size_t(y) * size_t(width_);
    for (int x = 0; x < width_; ++x, p += bpp) {
      const uint32_t a = bpp == 4 ? p[3] : 0xFF;
      out[x] = (a << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
  }
  return image;
}

void TBitmap::AssignImage(const ArgbImage& image) {
  // An image whose pixel list does not match its size would be read past
  // its end.
  if (image.width < 0 || image.height < 0 ||
      image.pixels.size() != size_t(image.width) * size_t(image.height))
    throw EInvalidGraphic("ビットマップイメージが不正です");
  bool alpha = false;
  for (uint32_t px : image.pixels)
    if ((px >> 24) != 0xFF) {
      alpha = true;
      break;
    }
  TBitmap bitmap;
  bitmap.Allocate(image.width, image.height, alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  const int bpp = bitmap.BytesPerPixel();
  for (int y = 0; y < image.height; ++y) {
    uint8_t* p = bitmap.ScanLine(y);
    std::memset(p, 0, bitmap.Stride());
    for (int x = 0; x < image.width; ++x, p += bpp) {
      const uint32_t px = image.At(x, y);
      p[0] = uint8_t(px);
      p[1] = uint8_t(px >> 8);
      p[2] = uint8_t(px >> 16);
      if (bpp == 4) p[3] = uint8_t(px >> 24);
    }
  }
  Swap(bitmap);
}

void TBitmap::Swap(TBitmap& other) noexcept {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(stride_, other.stride_);
  std::swap(bits_, other.bits_);
}

}  // namespace kevrale
