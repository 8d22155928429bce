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

void ReadExact(TStream& stream, void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const size_t n = stream.Read(out, count);
    if (n == 0) Invalid(BmpRefusal::Truncated);
    out += n;
    count -= n;
  }
}

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kMaxInfoHeaderSize = 124;

// Header sizes: OS/2 1.x (12), OS/2 2.x (16 or 64), Windows 3.x (40) and
// its extensions with colour masks (52) and an alpha mask (56), V4 (108),
// V5 (124).
bool KnownHeaderSize(uint32_t size) {
  switch (size) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      return true;
    default:
      return false;
  }
}

enum class Coding { Rgb, Rle8, Rle4, Rle24, Bitfields };

// The compression field as Windows writes it, and the values that mean
// something else in an OS/2 2.x header.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;
constexpr uint32_t kOs2Rle24 = 4;

// A compressed picture may describe many more pixels than it has bytes (a
// run of 255 pixels takes two bytes, a skip of 255 rows four), but not
// without limit: allow this many pixels for each byte of coded data, and
// any picture up to a floor size.
constexpr uint64_t kRlePixelsPerByte = 256;
constexpr uint64_t kRleFreePixels = uint64_t(1) << 24;

// Largest buffer between the stream and the bitmap.
constexpr size_t kChunkBytes = size_t(1) << 20;

struct Header {
  uint32_t header_size = 0;
  int32_t width = 0;
  int32_t height = 0;  // rows, always positive after parsing
  bool top_down = false;
  uint16_t planes = 0;
  uint16_t bit_count = 0;
  Coding coding = Coding::Rgb;
  uint32_t colours_used = 0;
  uint32_t masks[4] = {};  // red, green, blue, alpha
  size_t palette_entry_size = 4;
  uint64_t palette_start = 0;  // from the start of the file
  uint64_t pixel_offset = 0;
};

void ParseHeader(const uint8_t* file_header, const uint8_t* info, Header& h) {
  const uint32_t size = h.header_size;
  if (size == 12) {
    // OS/2 1.x: 16-bit unsigned sizes, three-byte palette entries.
    h.width = Get16(info + 4);
    h.height = Get16(info + 6);
    h.planes = Get16(info + 8);
    h.bit_count = Get16(info + 10);
    h.palette_entry_size = 3;
  } else {
    h.width = int32_t(Get32(info + 4));
    const int32_t height = int32_t(Get32(info + 8));
    if (height == INT32_MIN) Invalid(BmpRefusal::Height);
    h.top_down = height < 0;
    h.height = height < 0 ? -height : height;
    h.planes = Get16(info + 12);
    h.bit_count = Get16(info + 14);
    const bool os2 = size == 16 || size == 64;
    const uint32_t compression = size >= 20 ? Get32(info + 16) : kBiRgb;
    h.colours_used = size >= 36 ? Get32(info + 32) : 0;
    switch (compression) {
      case kBiRgb:
        h.coding = Coding::Rgb;
        break;
      case kBiRle8:
        h.coding = Coding::Rle8;
        break;
      case kBiRle4:
        h.coding = Coding::Rle4;
        break;
      case kBiBitfields:
        // In an OS/2 header this value is Huffman 1D, which nothing writes.
        if (os2) Invalid(BmpRefusal::Compression);
        h.coding = Coding::Bitfields;
        break;
      case kOs2Rle24:
        // In a Windows header this value is an embedded JPEG picture.
        if (!os2) Invalid(BmpRefusal::Compression);
        h.coding = Coding::Rle24;
        break;
      case kBiAlphaBitfields:
        if (os2) Invalid(BmpRefusal::Compression);
        h.coding = Coding::Bitfields;
        break;
      default:
        Invalid(BmpRefusal::Compression);
    }
    // The masks: in the header from 52 bytes on (alpha from 56), else
    // after a 40-byte header for the bit-field codings.
    if (h.coding == Coding::Bitfields && size >= 52) {
      for (int i = 0; i < 3; ++i) h.masks[i] = Get32(info + 40 + 4 * i);
      if (size >= 56)
        h.masks[3] = Get32(info + 52);
      else if (compression == kBiAlphaBitfields)
        Invalid(BmpRefusal::Masks);
    }
  }
  h.pixel_offset = Get32(file_header + 10);
}

// Checks that the masks are contiguous runs of bits inside the pixel that
// do not overlap.
void CheckMasks(const Header& h) {
  uint32_t seen = 0;
  for (uint32_t m : h.masks) {
    if (m == 0) continue;
    const uint32_t run = m >> std::countr_zero(m);
    if ((run & (run + 1)) != 0) Invalid(BmpRefusal::Masks);  // holes in the run
    if (h.bit_count == 16 && m > 0xFFFF) Invalid(BmpRefusal::Masks);
    if ((seen & m) != 0) Invalid(BmpRefusal::Masks);
    seen |= m;
  }
}

void ValidateHeader(Header& h) {
  if (h.planes != 1) Invalid(BmpRefusal::Planes);
  if (h.width < 0) Invalid(BmpRefusal::Width);
  if (int64_t(h.width) * int64_t(h.height) > TBitmap::kMaxPixels) Invalid(BmpRefusal::TooLarge);
  switch (h.coding) {
    case Coding::Rgb:
      switch (h.bit_count) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 24:
          break;
        case 16:
          h.masks[0] = 0x7C00;
          h.masks[1] = 0x03E0;
          h.masks[2] = 0x001F;
          break;
        case 32:
          h.masks[0] = 0x00FF0000;
          h.masks[1] = 0x0000FF00;
          h.masks[2] = 0x000000FF;
          break;
        default:
          Invalid(BmpRefusal::BitCount);
      }
      // Masks in a large header do not apply to BI_RGB data.
      h.masks[3] = 0;
      break;
    case Coding::Rle8:
      if (h.bit_count != 8) Invalid(BmpRefusal::BitCount);
      break;
    case Coding::Rle4:
      if (h.bit_count != 4) Invalid(BmpRefusal::BitCount);
      break;
    case Coding::Rle24:
      if (h.bit_count != 24) Invalid(BmpRefusal::BitCount);
      break;
    case Coding::Bitfields:
      if (h.bit_count != 16 && h.bit_count != 32) Invalid(BmpRefusal::BitCount);
      CheckMasks(h);
      break;
  }
  // RLE data is always stored bottom-up.
  if (h.top_down && h.coding != Coding::Rgb && h.coding != Coding::Bitfields)
    Invalid(BmpRefusal::TopDownRle);
  if (h.bit_count <= 8) {
    const uint32_t most = 1u << h.bit_count;
    if (h.colours_used > most) Invalid(BmpRefusal::ColoursUsed);
    if (h.colours_used == 0) h.colours_used = most;
  }
}

// The colour table as 0x00RRGGBB values; the table ends where the pixels
// begin, so an OS/2 file may carry fewer entries than its bit count allows.
std::vector<uint32_t> ReadPalette(const Header& h, TStream& stream, int64_t start) {
  const uint64_t room = (h.pixel_offset - h.palette_start) / h.palette_entry_size;
  const size_t count = size_t(std::min<uint64_t>(h.colours_used, room));
  if (count == 0) Invalid(BmpRefusal::NoPalette);
  uint8_t table[256 * 4];
  stream.SetPosition(start + int64_t(h.palette_start));
  ReadExact(stream, table, count * h.palette_entry_size);
  std::vector<uint32_t> colours(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = table + i * h.palette_entry_size;
    colours[i] = uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
  }
  return colours;
}

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

// Whether the alpha bytes of a 32-bit bitmap differ from one another: all 0
// and all 255 both mean that the picture has no transparency.
bool MixedAlpha(const TBitmap& b) {
  const int first = b.Height() > 0 && b.Width() > 0 ? b.ScanLine(0)[3] : 0;
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x)
      if (p[4 * size_t(x) + 3] != first) return true;
  }
  return first != 0 && first != 255;
}

// The bitmap row that the file's n-th stored row becomes.
uint8_t* RowOfFile(TBitmap& out, const Header& h, int n) {
  return h.top_down ? out.ScanLine(n) : out.ScanLine(h.height - 1 - n);
}

void ReadUncompressed(TStream& stream, const Header& h, const std::vector<uint32_t>& palette,
                      TBitmap& out) {
  const uint64_t stride = (uint64_t(h.width) * h.bit_count + 31) / 32 * 4;
  const int out_bpp = out.BytesPerPixel();

  // The pixel array has the bitmap's own layout: read it in one piece.
  const bool same_layout =
      (h.bit_count == 24) ||
      (h.bit_count == 32 && out_bpp == 4 && h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 &&
       h.masks[2] == 0x000000FF && h.masks[3] == 0xFF000000);
  if (same_layout) {
    if (out.BitsSize() > 0) ReadExact(stream, out.Bits(), out.BitsSize());
    if (h.top_down) FlipRows(out);
    ZeroPadding(out);
    return;
  }

  const DibMasks masks = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
  const DibRowDecoder decoder(h.bit_count, palette, masks, out_bpp);
  const auto convert = [&decoder](const uint8_t* src, size_t count, uint8_t* dst) {
    if (!decoder.Decode(src, count, dst)) Invalid(BmpRefusal::PaletteIndex);
  };
  if (stride <= kChunkBytes) {
    const size_t rows_per_chunk = std::min<size_t>(kChunkBytes / stride, size_t(h.height));
    std::vector<uint8_t> buffer(rows_per_chunk * stride);
    for (int row = 0; row < h.height;) {
      const int rows = int(std::min<size_t>(rows_per_chunk, size_t(h.height - row)));
      ReadExact(stream, buffer.data(), size_t(rows) * stride);
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
      ReadExact(stream, buffer.data(), (count * h.bit_count + 7) / 8);
      convert(buffer.data(), count, dst + x * size_t(out_bpp));
    }
    uint8_t padding[4];
    ReadExact(stream, padding, size_t(stride - row_bytes));
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
void ReadRle(TStream& stream, const Header& h, const std::vector<uint32_t>& palette, TBitmap& out) {
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
      if (h.coding == Coding::Rle24) {
        const uint8_t b = in.Must(), g = in.Must(), r = in.Must();
        for (int i = 0; i < count; ++i, p += 3) {
          p[0] = b;
          p[1] = g;
          p[2] = r;
        }
      } else if (h.coding == Coding::Rle8) {
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
      if (h.coding == Coding::Rle24) {
        for (int i = 0; i < escape; ++i, p += 3) {
          p[0] = in.Must();
          p[1] = in.Must();
          p[2] = in.Must();
        }
        bytes = size_t(escape) * 3;
      } else if (h.coding == Coding::Rle8) {
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
  const int64_t start = stream.Position();
  const int64_t total = stream.Size() - start;
  if (start < 0 || total < int64_t(kFileHeaderSize + 4)) Invalid(BmpRefusal::Truncated);
  const uint64_t available = uint64_t(total);

  uint8_t file_header[kFileHeaderSize];
  ReadExact(stream, file_header, sizeof file_header);
  if (file_header[0] != 'B' || file_header[1] != 'M') Invalid(BmpRefusal::Signature);

  Header h;
  uint8_t info[kMaxInfoHeaderSize] = {};
  ReadExact(stream, info, 4);
  h.header_size = Get32(info);
  if (!KnownHeaderSize(h.header_size)) Invalid(BmpRefusal::HeaderSize);
  ReadExact(stream, info + 4, h.header_size - 4);
  ParseHeader(file_header, info, h);
  ValidateHeader(h);
  // Refused before a pixel is read or memory is taken.
  if (limits.MaxWidth > 0 && h.width > limits.MaxWidth)
    throw EPictureTooWide(limits.TooWideMessage);

  h.palette_start = kFileHeaderSize + h.header_size;
  if (h.coding == Coding::Bitfields && h.header_size == 40) {
    // Three masks (four with alpha) follow a Windows 3.x header.
    const bool alpha = Get32(info + 16) == kBiAlphaBitfields;
    uint8_t masks[16];
    const size_t n = alpha ? 4 : 3;
    ReadExact(stream, masks, n * 4);
    for (size_t i = 0; i < n; ++i) h.masks[i] = Get32(masks + 4 * i);
    h.palette_start += n * 4;
    CheckMasks(h);
  }
  if (h.pixel_offset < h.palette_start || h.pixel_offset > available)
    Invalid(BmpRefusal::PixelOffset);

  const bool rle =
      h.coding == Coding::Rle8 || h.coding == Coding::Rle4 || h.coding == Coding::Rle24;
  const uint64_t pixels = uint64_t(h.width) * uint64_t(h.height);
  const uint64_t data = available - h.pixel_offset;
  if (rle) {
    if (pixels > kRleFreePixels && (pixels + kRlePixelsPerByte - 1) / kRlePixelsPerByte > data)
      Invalid(BmpRefusal::PixelsMissing);
  } else {
    // The whole pixel array must be in the file before memory is taken.
    const uint64_t stride = (uint64_t(h.width) * h.bit_count + 31) / 32 * 4;
    if (h.height > 0 && stride > data / uint64_t(h.height)) Invalid(BmpRefusal::PixelsMissing);
  }

  std::vector<uint32_t> palette;
  if (h.bit_count <= 8) palette = ReadPalette(h, stream, start);

  // A 32-bit picture without an alpha mask whose colours leave the top byte
  // free may still carry alpha there: the byte counts as alpha unless it is
  // 0 in every pixel (what writers that mean "unused" store) or 255 in every
  // pixel (nothing transparent). It is read as alpha and judged after.
  const bool alpha_if_any = h.bit_count == 32 && h.masks[3] == 0 &&
                            ((h.masks[0] | h.masks[1] | h.masks[2]) & 0xFF000000u) == 0;
  if (alpha_if_any) h.masks[3] = 0xFF000000u;
  const TPixelFormat format = h.masks[3] != 0 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
  if (pixels == 0) {
    out.Allocate(h.width, h.height, alpha_if_any ? TPixelFormat::pf24bit : format);
    return;
  }
  stream.SetPosition(start + int64_t(h.pixel_offset));
  if (rle) {
    out.SetSize(h.width, h.height, format);
    ReadRle(stream, h, palette, out);
  } else {
    if (store != nullptr && *store && h.bit_count == 24 && !h.top_down &&
        format == TPixelFormat::pf24bit) {
      const uint64_t stride = (uint64_t(h.width) * 24 + 31) / 32 * 4;
      if (std::shared_ptr<uint8_t[]> rows =
              (*store)(uint64_t(start) + h.pixel_offset, size_t(stride * uint64_t(h.height)))) {
        out.AdoptBits(h.width, h.height, format, std::move(rows));
        ZeroPadding(out);
        return;
      }
    }
    out.Allocate(h.width, h.height, format);
    ReadUncompressed(stream, h, palette, out);
    if (alpha_if_any && !MixedAlpha(out)) out.SetPixelFormat(TPixelFormat::pf24bit);
  }
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
    // A device that fails is no fault of the file; a stream that ends
    // sooner than its size said is.
    if (e.ErrorNumber() != 0) throw;
    Invalid(BmpRefusal::Truncated);
  }
}

}  // namespace kevrale
