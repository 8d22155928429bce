// The headers of every BMP in use: OS/2 1.x core header, OS/2 2.x, Windows
// 3.x and its BITFIELDS extensions, V4, V5. Every field is checked before it
// is used.
#include "picture/BmpHeader.h"

#include <algorithm>
#include <bit>

#include "picture/BmpReader.h"
#include "picture/LoadOutcome.h"
#include "platform/Exception.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

[[noreturn]] void Invalid(BmpRefusal reason) {
  throw EInvalidBmp(reason);
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

// The fields as stored, while they are checked.
struct StoredHeader {
  uint32_t header_size = 0;
  int32_t width = 0;
  int32_t height = 0;  // rows, always positive after parsing
  bool top_down = false;
  uint16_t planes = 0;
  uint16_t bit_count = 0;
  BmpCoding coding = BmpCoding::Rgb;
  uint32_t colours_used = 0;
  uint32_t masks[4] = {};  // red, green, blue, alpha
  size_t palette_entry_size = 4;
  uint64_t palette_start = 0;  // from the start of the file
  uint64_t pixel_offset = 0;
};

void ParseHeader(const uint8_t* file_header, const uint8_t* info, StoredHeader& h) {
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
        h.coding = BmpCoding::Rgb;
        break;
      case kBiRle8:
        h.coding = BmpCoding::Rle8;
        break;
      case kBiRle4:
        h.coding = BmpCoding::Rle4;
        break;
      case kBiBitfields:
        // In an OS/2 header this value is Huffman 1D, which nothing writes.
        if (os2) Invalid(BmpRefusal::Compression);
        h.coding = BmpCoding::Bitfields;
        break;
      case kOs2Rle24:
        // In a Windows header this value is an embedded JPEG picture.
        if (!os2) Invalid(BmpRefusal::Compression);
        h.coding = BmpCoding::Rle24;
        break;
      case kBiAlphaBitfields:
        if (os2) Invalid(BmpRefusal::Compression);
        h.coding = BmpCoding::Bitfields;
        break;
      default:
        Invalid(BmpRefusal::Compression);
    }
    // The masks: in the header from 52 bytes on (alpha from 56), else
    // after a 40-byte header for the bit-field codings.
    if (h.coding == BmpCoding::Bitfields && size >= 52) {
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
void CheckMasks(const StoredHeader& h) {
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

void ValidateHeader(StoredHeader& h) {
  if (h.planes != 1) Invalid(BmpRefusal::Planes);
  if (h.width < 0) Invalid(BmpRefusal::Width);
  if (int64_t(h.width) * int64_t(h.height) > TBitmap::kMaxPixels) Invalid(BmpRefusal::TooLarge);
  switch (h.coding) {
    case BmpCoding::Rgb:
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
    case BmpCoding::Rle8:
      if (h.bit_count != 8) Invalid(BmpRefusal::BitCount);
      break;
    case BmpCoding::Rle4:
      if (h.bit_count != 4) Invalid(BmpRefusal::BitCount);
      break;
    case BmpCoding::Rle24:
      if (h.bit_count != 24) Invalid(BmpRefusal::BitCount);
      break;
    case BmpCoding::Bitfields:
      if (h.bit_count != 16 && h.bit_count != 32) Invalid(BmpRefusal::BitCount);
      CheckMasks(h);
      break;
  }
  // RLE data is always stored bottom-up.
  if (h.top_down && h.coding != BmpCoding::Rgb && h.coding != BmpCoding::Bitfields)
    Invalid(BmpRefusal::TopDownRle);
  if (h.bit_count <= 8) {
    const uint32_t most = 1u << h.bit_count;
    if (h.colours_used > most) Invalid(BmpRefusal::ColoursUsed);
    if (h.colours_used == 0) h.colours_used = most;
  }
}

// The colour table as 0x00RRGGBB values; the table ends where the pixels
// begin, so an OS/2 file may carry fewer entries than its bit count allows.
std::vector<uint32_t> ReadPalette(const StoredHeader& h, TStream& stream, int64_t start) {
  const uint64_t room = (h.pixel_offset - h.palette_start) / h.palette_entry_size;
  const size_t count = size_t(std::min<uint64_t>(h.colours_used, room));
  if (count == 0) Invalid(BmpRefusal::NoPalette);
  uint8_t table[256 * 4];
  stream.SetPosition(start + int64_t(h.palette_start));
  stream.ReadBuffer(table, count * h.palette_entry_size);
  std::vector<uint32_t> colours(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = table + i * h.palette_entry_size;
    colours[i] = uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
  }
  return colours;
}

// The facts of a checked header that the readers use: its size and
// coding, the default masks of 16- and 32-bit pixels, and a 32-bit picture
// without alpha mask reading the top byte as alpha if the pixels use it.
BmpHeader Facts(StoredHeader& h) {
  BmpHeader out;
  out.width = h.width;
  out.height = h.height;
  out.top_down = h.top_down;
  out.bit_count = h.bit_count;
  out.coding = h.coding;
  out.alpha_if_any = h.bit_count == 32 && h.masks[3] == 0 &&
                     ((h.masks[0] | h.masks[1] | h.masks[2]) & 0xFF000000u) == 0;
  if (out.alpha_if_any) h.masks[3] = 0xFF000000u;
  out.masks = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
  return out;
}

BmpHeader Read(TStream& stream, const TLoadLimits& limits) {
  const int64_t start = stream.Position();
  const int64_t total = stream.Size() - start;
  if (start < 0 || total < int64_t(kFileHeaderSize + 4)) Invalid(BmpRefusal::Truncated);
  const uint64_t available = uint64_t(total);

  uint8_t file_header[kFileHeaderSize];
  stream.ReadBuffer(file_header, sizeof file_header);
  if (file_header[0] != 'B' || file_header[1] != 'M') Invalid(BmpRefusal::Signature);

  StoredHeader h;
  uint8_t info[kMaxInfoHeaderSize] = {};
  stream.ReadBuffer(info, 4);
  h.header_size = Get32(info);
  if (!KnownHeaderSize(h.header_size)) Invalid(BmpRefusal::HeaderSize);
  stream.ReadBuffer(info + 4, h.header_size - 4);
  ParseHeader(file_header, info, h);
  ValidateHeader(h);
  // Refused before a pixel is read or memory is taken.
  if (limits.MaxWidth > 0 && h.width > limits.MaxWidth)
    throw EPictureTooWide(limits.TooWideMessage);

  h.palette_start = kFileHeaderSize + h.header_size;
  if (h.coding == BmpCoding::Bitfields && h.header_size == 40) {
    // Three masks (four with alpha) follow a Windows 3.x header.
    const bool alpha = Get32(info + 16) == kBiAlphaBitfields;
    uint8_t masks[16];
    const size_t n = alpha ? 4 : 3;
    stream.ReadBuffer(masks, n * 4);
    for (size_t i = 0; i < n; ++i) h.masks[i] = Get32(masks + 4 * i);
    h.palette_start += n * 4;
    CheckMasks(h);
  }
  if (h.pixel_offset < h.palette_start || h.pixel_offset > available)
    Invalid(BmpRefusal::PixelOffset);

  BmpHeader out = Facts(h);
  out.pixels_at = uint64_t(start) + h.pixel_offset;
  out.data_size = available - h.pixel_offset;
  if (out.Rle()) {
    const uint64_t pixels = out.Pixels();
    if (pixels > kRleFreePixels &&
        (pixels + kRlePixelsPerByte - 1) / kRlePixelsPerByte > out.data_size)
      Invalid(BmpRefusal::PixelsMissing);
  } else if (h.height > 0 && out.Stride() > out.data_size / uint64_t(h.height)) {
    // The whole pixel array must be in the file before memory is taken.
    Invalid(BmpRefusal::PixelsMissing);
  }

  if (h.bit_count <= 8) out.palette = ReadPalette(h, stream, start);
  return out;
}

}  // namespace

BmpHeader DibHeader(const DibLayout& layout) {
  // A checked DIB is an uncompressed one with a Windows 3.x header.
  StoredHeader h;
  h.width = layout.Width;
  h.height = layout.Rows();
  h.top_down = layout.TopDown();
  h.planes = 1;
  h.bit_count = layout.BitCount;
  h.coding = BmpCoding::Rgb;
  ValidateHeader(h);
  BmpHeader out = Facts(h);
  out.data_size = layout.ImageSize;
  if (h.bit_count <= 8) out.palette = layout.Palette;
  return out;
}

bool BmpHeader::SameLayout(TPixelFormat format) const {
  if (coding != BmpCoding::Rgb && coding != BmpCoding::Bitfields) return false;
  if (bit_count == 24) return format == TPixelFormat::pf24bit;
  return bit_count == 32 && format == TPixelFormat::pf32bit && masks[0] == 0x00FF0000 &&
         masks[1] == 0x0000FF00 && masks[2] == 0x000000FF && masks[3] == 0xFF000000;
}

void RaiseIfTruncated(const EReadError& error) {
  if (error.ErrorNumber() == 0) Invalid(BmpRefusal::Truncated);
}

BmpHeader ReadBmpHeader(TStream& stream, const TLoadLimits& limits) {
  try {
    return Read(stream, limits);
  } catch (const EReadError& e) {
    RaiseIfTruncated(e);
    throw;
  }
}

}  // namespace kevrale
