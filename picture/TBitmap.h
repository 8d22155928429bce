// A bitmap held as a device-independent bitmap: rows bottom-up, each padded
// to 4 bytes, 24 bits per pixel (B, G, R) or 32 bits (B, G, R, A) when the
// picture carries alpha. This is also the layout of a BMP file's pixel
// array, so loading and saving move rows without converting them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "picture/TGraphic.h"
#include "platform/Color.h"

namespace kevrale {

enum class TPixelFormat { pf24bit, pf32bit };

class TBitmap : public TGraphic {
 public:
  static const TGraphicClassInfo Class;

  TBitmap() = default;
  TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);
  TBitmap(TBitmap&&) noexcept = default;
  TBitmap& operator=(TBitmap&&) noexcept = default;

  TGraphicClass ClassType() const override { return &Class; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }

  TPixelFormat PixelFormat() const { return format_; }
  int BytesPerPixel() const { return format_ == TPixelFormat::pf32bit ? 4 : 3; }
  bool HasAlpha() const { return format_ == TPixelFormat::pf32bit; }

  // Resizes to width x height, every pixel black (alpha 255 for pf32bit).
  // Raises EInvalidGraphic "ビットマップイメージが不正です" for an absurd size.
  void SetSize(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
  // Resizes without clearing: for decoders that write every row themselves.
  void Allocate(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);

  // Converts the pixels to `format`, keeping their colours: from 24 to 32
  // bits every pixel becomes opaque (alpha 255), from 32 to 24 bits alpha
  // is dropped. On failure the bitmap keeps what it held.
  void SetPixelFormat(TPixelFormat format);

  // Bytes per row, padded to a multiple of 4.
  size_t Stride() const { return stride_; }
  static size_t StrideOf(int width, TPixelFormat format) {
    return (size_t(width) * (format == TPixelFormat::pf32bit ? 4 : 3) + 3) & ~size_t(3);
  }
  // Row y counted from the top.
  uint8_t* ScanLine(int y) { return bits_.get() + size_t(height_ - 1 - y) * stride_; }
  const uint8_t* ScanLine(int y) const { return bits_.get() + size_t(height_ - 1 - y) * stride_; }
  // The whole pixel array, bottom row first, Stride() * Height() bytes.
  uint8_t* Bits() { return bits_.get(); }
  const uint8_t* Bits() const { return bits_.get(); }
  size_t BitsSize() const { return stride_ * size_t(height_); }

  // Colour 0x00BBGGRR of a pixel inside the bitmap; 0 outside.
  TColor Pixel(int x, int y) const;
  // Writes the low 24 bits of a colour; alpha is kept. Ignored outside.
  void SetPixel(int x, int y, TColor color);
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

  // Reads a BMP; on failure the bitmap keeps what it held.
  void LoadFromStream(TStream& stream) override;
  // Takes `bits` (Stride() * height bytes, rows bottom-up) as the pixels.
  void AdoptBits(int width, int height, TPixelFormat format, std::shared_ptr<uint8_t[]> bits);
  // Writes a BMP file.
  void SaveToStream(TStream& stream) const override;
  // Writes the raster format that the name asks for (ImageFileFormatFor:
  // PNG for ".png", TIFF for ".tif" or ".tiff", in any case), BMP for every
  // other name; alpha is kept in each.
  void SaveToStreamFor(TStream& stream, const std::string& file_name) const override;
  ArgbImage Render() const override;
  // Takes the pixels of an ArgbImage (alpha kept when any pixel is not opaque).
  void AssignImage(const ArgbImage& image);

  void Swap(TBitmap& other) noexcept;

  // Largest pixel count a bitmap may have (about 1 GiB at 32 bits).
  static constexpr int64_t kMaxPixels = int64_t(1) << 28;

 private:
  void Resize(int width, int height, TPixelFormat format, bool clear);

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  size_t stride_ = 0;
  // Shared only to let the pixels live inside a block the bitmap adopted;
  // no two bitmaps ever hold the same pixels.
  std::shared_ptr<uint8_t[]> bits_;
};

}  // namespace kevrale
