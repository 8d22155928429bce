#include "plugins/DibCheck.h"

#include <cstring>

#include "picture/TBitmap.h"
#include "platform/LittleEndian.h"

namespace kevrale {

namespace {

constexpr size_t kHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;

// True when every pixel of every row indexes an entry below `count`.
bool IndicesInside(const DibLayout& d, const uint8_t* bits) {
  const int rows = d.Height < 0 ? -d.Height : d.Height;
  const int bpp = d.BitCount;
  for (int y = 0; y < rows; ++y) {
    const uint8_t* row = bits + size_t(y) * d.Stride;
    for (int x = 0; x < d.Width; ++x) {
      const size_t bit = size_t(x) * size_t(bpp);
      const unsigned shift = unsigned(8 - bpp - int(bit % 8));
      const uint32_t index = (row[bit / 8] >> shift) & ((1u << bpp) - 1);
      if (index >= d.ColorCount) return false;
    }
  }
  return true;
}

}  // namespace

std::optional<DibLayout> CheckDib(const void* info_block, size_t info_size, const void* bits_block,
                                  size_t bits_size) {
  if (info_block == nullptr || bits_block == nullptr) return std::nullopt;
  if (info_size < kHeaderSize) return std::nullopt;
  const auto* info = static_cast<const uint8_t*>(info_block);
  if (Get32(info) != kHeaderSize) return std::nullopt;

  DibLayout d;
  d.Width = int32_t(Get32(info + 4));
  d.Height = int32_t(Get32(info + 8));
  const uint16_t planes = Get16(info + 12);
  d.BitCount = Get16(info + 14);
  const uint32_t compression = Get32(info + 16);
  const uint32_t colours_used = Get32(info + 32);

  if (planes != 1 || compression != kBiRgb) return std::nullopt;
  // Bounds first, so that negating the height below cannot overflow.
  if (d.Width <= 0 || d.Width > kMaxDibSide) return std::nullopt;
  if (d.Height == 0 || d.Height < -kMaxDibSide || d.Height > kMaxDibSide) return std::nullopt;
  const int64_t rows = d.Height < 0 ? -int64_t(d.Height) : int64_t(d.Height);
  if (int64_t(d.Width) * rows > TBitmap::kMaxPixels) return std::nullopt;

  uint64_t most_colours = 0;  // 0: the bit count has no colour table of its own
  switch (d.BitCount) {
    case 1:
    case 4:
    case 8:
      most_colours = uint64_t(1) << d.BitCount;
      break;
    case 16:
    case 24:
    case 32:
      break;
    default:
      return std::nullopt;
  }
  uint64_t colours = colours_used;
  if (most_colours != 0) {
    if (colours > most_colours) return std::nullopt;
    if (colours == 0) colours = most_colours;
  }
  // The table must lie inside the info block, which also bounds it.
  const uint64_t table_end = kHeaderSize + 4 * colours;
  if (table_end > info_size) return std::nullopt;

  // Width * 32 fits easily in 64 bits after the bounds above.
  const uint64_t stride = (uint64_t(d.Width) * d.BitCount + 31) / 32 * 4;
  const uint64_t image_size = stride * uint64_t(rows);
  if (image_size > bits_size) return std::nullopt;
  // The BMP form of the image carries its sizes in 32 bits.
  if (14 + table_end + image_size > UINT32_MAX) return std::nullopt;

  d.ColorCount = uint32_t(colours);
  d.Palette.resize(d.ColorCount);
  for (size_t i = 0; i < d.Palette.size(); ++i) {
    const uint8_t* quad = info + kHeaderSize + 4 * i;  // blue, green, red, reserved
    d.Palette[i] = uint32_t(quad[2]) << 16 | uint32_t(quad[1]) << 8 | quad[0];
  }
  d.InfoSize = uint32_t(table_end);
  d.Stride = uint32_t(stride);
  d.ImageSize = uint32_t(image_size);
  if (most_colours != 0 && colours < most_colours &&
      !IndicesInside(d, static_cast<const uint8_t*>(bits_block)))
    return std::nullopt;
  return d;
}

}  // namespace kevrale
