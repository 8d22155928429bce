// The BMP reader. It takes every information header in use (OS/2 1.x core
// header, OS/2 2.x, Windows 3.x and its BITFIELDS extensions, V4, V5), every
// bit count from 1 to 32, uncompressed, RLE and bit-field pixel data, stored
// bottom-up or top-down. Every header field is checked before it is used,
// and memory is reserved only for what the file can really fill.
#include "picture/BmpReader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "picture/BmpHeader.h"
#include "picture/DibRowDecoder.h"
#include "picture/LoadOutcome.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

[[noreturn]] void Invalid(BmpRefusal reason) {
  throw EInvalidBmp(reason);
}

// Largest buffer between the stream and the bitmap.
constexpr size_t kChunkBytes = size_t(1) << 20;

void PutBgr(uint8_t* d, uint32_t c) {
  d[0] = uint8_t(c);
  d[1] = uint8_t(c >> 8);
  d[2] = uint8_t(c >> 16);
}

// Reverses the order of the rows in place.
void FlipRows(TBitmap& out) {
  const size_t stride = out.Stride();
  std::vector<uint8_t> tmp(stride);
  for (int top = 0, bottom = out.Height() - 1; top < bottom; ++top, --bottom) {
    uint8_t* a = out.ScanLine(top);
    uint8_t* b = out.ScanLine(bottom);
    std::memcpy(tmp.data(), a, stride);
    std::memcpy(a, b, stride);
    std::memcpy(b, tmp.data(), stride);
  }
}

void ZeroPadding(TBitmap& out) {
  const size_t used = size_t(out.Width()) * size_t(out.BytesPerPixel());
  if (used == out.Stride()) return;
  for (int y = 0; y < out.Height(); ++y)
    std::memset(out.ScanLine(y) + used, 0, out.Stride() - used);
}

bool MixedAlpha(const TBitmap& b) {
  AlphaBytes alpha;
  for (int y = 0; y < b.Height() && !alpha.Mixed(); ++y)
    alpha.Add(b.ScanLine(y), size_t(b.Width()));
  return alpha.Mixed();
}

// The bitmap row that the file's n-th stored row becomes.
uint8_t* RowOfFile(TBitmap& out, const BmpHeader& h, int n) {
  return out.ScanLine(h.StoredRow(n));
}

void ReadUncompressed(TStream& stream, const BmpHeader& h, TBitmap& out) {
  const uint64_t stride = h.Stride();
  const int out_bpp = out.BytesPerPixel();

  // The pixel array has the bitmap's own layout: read it in one piece.
  if (h.SameLayout(out.PixelFormat())) {
    if (out.BitsSize() > 0) stream.ReadBuffer(out.Bits(), out.BitsSize());
    if (h.top_down) FlipRows(out);
    ZeroPadding(out);
    return;
  }

  const DibRowDecoder decoder(h.bit_count, h.palette, h.masks, out_bpp);
  const auto convert = [&decoder](const uint8_t* src, size_t count, uint8_t* dst) {
    if (!decoder.Decode(src, count, dst)) Invalid(BmpRefusal::PaletteIndex);
  };
  if (stride <= kChunkBytes) {
    const size_t rows_per_chunk = std::min<size_t>(kChunkBytes / stride, size_t(h.height));
    std::vector<uint8_t> buffer(rows_per_chunk * stride);
    for (int row = 0; row < h.height;) {
      const int rows = int(std::min<size_t>(rows_per_chunk, size_t(h.height - row)));
      stream.ReadBuffer(buffer.data(), size_t(rows) * stride);
      for (int i = 0; i < rows; ++i)
        convert(buffer.data() + size_t(i) * stride, size_t(h.width), RowOfFile(out, h, row + i));
      row += rows;
    }
    return;
  }
  // A row longer than the buffer goes through it piece by piece; each
  // piece is a whole number of bytes (a multiple of 8 pixels).
  const size_t piece_pixels = kChunkBytes * 8 / h.bit_count / 8 * 8;
  std::vector<uint8_t> buffer(piece_pixels * h.bit_count / 8);
  const uint64_t row_bytes = (uint64_t(h.width) * h.bit_count + 7) / 8;
  for (int row = 0; row < h.height; ++row) {
    uint8_t* dst = RowOfFile(out, h, row);
    for (size_t x = 0; x < size_t(h.width); x += piece_pixels) {
      const size_t count = std::min(piece_pixels, size_t(h.width) - x);
      stream.ReadBuffer(buffer.data(), (count * h.bit_count + 7) / 8);
      convert(buffer.data(), count, dst + x * size_t(out_bpp));
    }
    uint8_t padding[4];
    stream.ReadBuffer(padding, size_t(stride - row_bytes));
  }
}

// Bytes of RLE data, read through a bounded buffer.
class ByteSource {
 public:
  explicit ByteSource(TStream& stream) : stream_(stream), buffer_(64 * 1024) {}
  // False at the end of the stream.
  bool Next(uint8_t& byte) {
    if (pos_ == len_) {
      len_ = stream_.Read(buffer_.data(), buffer_.size());
      pos_ = 0;
      if (len_ == 0) return false;
    }
    byte = buffer_[pos_++];
    return true;
  }
  // Like Next, but the data must go on.
  uint8_t Must() {
    uint8_t byte;
    if (!Next(byte)) Invalid(BmpRefusal::RleEnd);
    return byte;
  }

 private:
  TStream& stream_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
};

// Decodes RLE8, RLE4 or RLE24 data into a bitmap that starts black; pixels
// that the data skips stay black. Any run or skip beyond the picture is
// refused. The data may end without its end-of-bitmap mark only once every
// row is complete.
void ReadRle(TStream& stream, const BmpHeader& h, TBitmap& out) {
  const std::vector<uint32_t>& palette = h.palette;
  ByteSource in(stream);
  const int width = h.width;
  const int height = h.height;
  int x = 0;
  int y = 0;  // stored row, from the bottom
  auto index_colour = [&](uint32_t index) {
    if (index >= palette.size()) Invalid(BmpRefusal::PaletteIndex);
    return palette[index];
  };
  auto target = [&](int count) {
    if (y >= height || count > width - x) Invalid(BmpRefusal::RleOutside);
    uint8_t* p = out.ScanLine(height - 1 - y) + size_t(x) * 3;
    x += count;
    return p;
  };
  for (;;) {
    uint8_t count;
    if (!in.Next(count)) {
      if (y >= height || (y == height - 1 && x == width)) return;
      Invalid(BmpRefusal::RleEnd);
    }
    if (count > 0) {
      // An encoded run: one colour, or two alternating ones in RLE4.
      uint8_t* p = target(count);
      if (h.coding == BmpCoding::Rle24) {
        const uint8_t b = in.Must(), g = in.Must(), r = in.Must();
        for (int i = 0; i < count; ++i, p += 3) {
          p[0] = b;
          p[1] = g;
          p[2] = r;
        }
      } else if (h.coding == BmpCoding::Rle8) {
        const uint32_t c = index_colour(in.Must());
        for (int i = 0; i < count; ++i, p += 3) PutBgr(p, c);
      } else {
        const uint8_t pair = in.Must();
        const uint32_t c[2] = {index_colour(pair >> 4), index_colour(pair & 0x0F)};
        for (int i = 0; i < count; ++i, p += 3) PutBgr(p, c[i & 1]);
      }
      continue;
    }
    const uint8_t escape = in.Must();
    if (escape == 0) {  // end of line
      if (y >= height) Invalid(BmpRefusal::RleOutside);
      x = 0;
      ++y;
    } else if (escape == 1) {  // end of bitmap
      return;
    } else if (escape == 2) {  // skip right and up
      const uint8_t dx = in.Must(), dy = in.Must();
      if (dx > width - x || dy > height - y) Invalid(BmpRefusal::RleOutside);
      x += dx;
      y += dy;
    } else {  // a literal run of `escape` pixels, padded to 16 bits
      uint8_t* p = target(escape);
      size_t bytes = 0;
      if (h.coding == BmpCoding::Rle24) {
        for (int i = 0; i < escape; ++i, p += 3) {
          p[0] = in.Must();
          p[1] = in.Must();
          p[2] = in.Must();
        }
        bytes = size_t(escape) * 3;
      } else if (h.coding == BmpCoding::Rle8) {
        for (int i = 0; i < escape; ++i, p += 3) PutBgr(p, index_colour(in.Must()));
        bytes = escape;
      } else {
        uint8_t pair = 0;
        for (int i = 0; i < escape; ++i, p += 3) {
          if ((i & 1) == 0) pair = in.Must();
          PutBgr(p, index_colour((i & 1) == 0 ? pair >> 4 : pair & 0x0F));
        }
        bytes = (size_t(escape) + 1) / 2;
      }
      if (bytes & 1) in.Must();
    }
  }
}

void Decode(TStream& stream, TBitmap& out, const BmpPixelStore* store, const TLoadLimits& limits) {
  BmpHeader h = ReadBmpHeader(stream, limits);
  if (h.Pixels() == 0) {
    out.Allocate(h.width, h.height, h.alpha_if_any ? TPixelFormat::pf24bit : h.Format());
    return;
  }
  stream.SetPosition(int64_t(h.pixels_at));
  if (h.Rle()) {
    out.SetSize(h.width, h.height, h.Format());
    ReadRle(stream, h, out);
    return;
  }
  if (store != nullptr && *store && h.bit_count == 24 && !h.top_down) {
    if (std::shared_ptr<uint8_t[]> rows =
            (*store)(h.pixels_at, size_t(h.Stride() * uint64_t(h.height)))) {
      out.AdoptBits(h.width, h.height, TPixelFormat::pf24bit, std::move(rows));
      ZeroPadding(out);
      return;
    }
  }
  out.Allocate(h.width, h.height, h.Format());
  ReadUncompressed(stream, h, out);
  if (h.alpha_if_any && !MixedAlpha(out)) out.SetPixelFormat(TPixelFormat::pf24bit);
}

}  // namespace

const char* BmpRefusalText(BmpRefusal reason) {
  switch (reason) {
    case BmpRefusal::Truncated:
      return "the data ends too soon";
    case BmpRefusal::Signature:
      return "no BM signature";
    case BmpRefusal::HeaderSize:
      return "an unknown header size";
    case BmpRefusal::Planes:
      return "planes other than 1";
    case BmpRefusal::Width:
      return "a negative width";
    case BmpRefusal::Height:
      return "an impossible height";
    case BmpRefusal::TooLarge:
      return "too many pixels";
    case BmpRefusal::Compression:
      return "an unknown compression";
    case BmpRefusal::BitCount:
      return "a bit count the compression does not take";
    case BmpRefusal::TopDownRle:
      return "RLE rows stored top-down";
    case BmpRefusal::ColoursUsed:
      return "more colours than the bit count allows";
    case BmpRefusal::Masks:
      return "unusable colour masks";
    case BmpRefusal::PixelOffset:
      return "a pixel offset outside the file";
    case BmpRefusal::PixelsMissing:
      return "fewer pixel data than the size needs";
    case BmpRefusal::NoPalette:
      return "no room for the colour table";
    case BmpRefusal::PaletteIndex:
      return "a pixel past the colour table";
    case BmpRefusal::RleOutside:
      return "RLE data leaving the picture";
    case BmpRefusal::RleEnd:
      return "RLE data ending too soon";
  }
  return "invalid";
}

void ReadBmp(TStream& stream, TBitmap& out, const TLoadLimits& limits) {
  ReadBmp(stream, out, BmpPixelStore(), limits);
}

void ReadBmp(TStream& stream, TBitmap& out, const BmpPixelStore& store, const TLoadLimits& limits) {
  try {
    Decode(stream, out, &store, limits);
  } catch (const EReadError& e) {
    RaiseIfTruncated(e);
    throw;
  }
}

}  // namespace kevrale
