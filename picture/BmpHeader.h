// The checked facts of a BMP file that come before its pixels: the headers,
// the colour masks and the colour table. The whole-picture reader and the
// row reader both start here, so that a file passes or fails the same
// checks whichever reads it.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/DibLayout.h"
#include "picture/DibRowDecoder.h"
#include "picture/TBitmap.h"
#include "picture/TGraphic.h"
#include "platform/Exception.h"

namespace kevrale {

class TStream;

enum class BmpCoding { Rgb, Rle8, Rle4, Rle24, Bitfields };

struct BmpHeader {
  int32_t width = 0;
  int32_t height = 0;  // the number of rows, never negative
  bool top_down = false;
  uint16_t bit_count = 0;
  BmpCoding coding = BmpCoding::Rgb;
  // Red, green, blue, alpha of 16- and 32-bit pixels, the defaults filled in.
  DibMasks masks{};
  // A 32-bit picture without an alpha mask whose colours leave the top byte
  // free may still carry alpha there: the byte counts as alpha unless it is
  // 0 in every pixel (what writers that mean "unused" store) or 255 in
  // every pixel (nothing transparent). masks[3] then reads that byte; the
  // pixels decide whether the picture keeps it.
  bool alpha_if_any = false;
  std::vector<uint32_t> palette;  // 0x00RRGGBB, for bit counts up to 8
  uint64_t pixels_at = 0;         // where the pixel data begins in the stream
  uint64_t data_size = 0;         // bytes from there to the end of the stream

  bool Rle() const {
    return coding == BmpCoding::Rle8 || coding == BmpCoding::Rle4 || coding == BmpCoding::Rle24;
  }
  uint64_t Pixels() const { return uint64_t(width) * uint64_t(height); }
  // Bytes per stored row of uncompressed data, padded to 4.
  uint64_t Stride() const { return (uint64_t(width) * bit_count + 31) / 32 * 4; }
  // What the pixels are read into: 32 bits where there is an alpha mask.
  TPixelFormat Format() const {
    return masks[3] != 0 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
  }
  // The stored row that row y (from the top) is.
  int32_t StoredRow(int32_t y) const { return top_down ? y : height - 1 - y; }
  // Whether a stored row already has the layout of a bitmap row of `format`
  // (B G R, or B G R A with the usual masks), so that it is copied as it is.
  bool SameLayout(TPixelFormat format) const;
};

// Judges the fourth bytes of a 32-bit picture that carries alpha only if
// any: it does when they differ from one another, or are all the same
// value other than 0 and 255.
class AlphaBytes {
 public:
  // Takes `count` pixels of four bytes, B G R A.
  void Add(const uint8_t* pixels, size_t count) {
    for (size_t x = 0; x < count && !differ_; ++x) {
      const uint8_t a = pixels[4 * x + 3];
      if (!seen_) {
        first_ = a;
        seen_ = true;
      }
      differ_ = a != first_;
    }
  }
  bool Mixed() const { return differ_ || (seen_ && first_ != 0 && first_ != 255); }

 private:
  bool seen_ = false;
  bool differ_ = false;
  uint8_t first_ = 0;
};

// Reads and checks everything from the stream's position up to the pixels.
// A file that is not a valid BMP raises EInvalidBmp with its reason; one
// wider than limits.MaxWidth raises EPictureTooWide before anything past
// its information header is read. Every check that can be made without
// reading the pixels is made: the pixel offset, the size of the pixel
// data, the colour table.
BmpHeader ReadBmpHeader(TStream& stream, const TLoadLimits& limits = {});

// The facts of a device-independent bitmap that CheckDib accepted, as
// ReadBmpHeader finds them in the DIB's BMP form (its pixels at offset 0).
BmpHeader DibHeader(const DibLayout& layout);

// For a read that failed while decoding: a stream that ended sooner than
// its size said (no error number) is a truncated file, raised as
// EInvalidBmp; a device that fails is no fault of the file, and the
// function returns so that the caller raises the read error again.
void RaiseIfTruncated(const EReadError& error);

}  // namespace kevrale
