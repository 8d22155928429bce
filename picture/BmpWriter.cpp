#include "picture/BmpWriter.h"

#include <cstdint>
#include <cstring>

#include "picture/TBitmap.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kLcsSrgb = 0x73524742;      // 'sRGB'
constexpr uint32_t kPelsPerMetre96Dpi = 3780;  // 96 dots per inch

}  // namespace

void WriteBmp(const TBitmap& bitmap, TStream& stream) {
  const bool alpha = bitmap.HasAlpha();
  const uint32_t info_size = alpha ? kV5HeaderSize : kInfoHeaderSize;
  const uint32_t offset = kFileHeaderSize + info_size;
  const uint32_t bits_size = uint32_t(bitmap.BitsSize());

  uint8_t header[kFileHeaderSize + kV5HeaderSize] = {};
  uint8_t* f = header;
  f[0] = 'B';
  f[1] = 'M';
  Put32(f + 2, offset + bits_size);
  Put32(f + 10, offset);

  uint8_t* h = header + kFileHeaderSize;
  Put32(h + 0, info_size);
  Put32(h + 4, uint32_t(bitmap.Width()));
  Put32(h + 8, uint32_t(bitmap.Height()));  // positive: bottom-up rows
  Put16(h + 12, 1);
  Put16(h + 14, uint16_t(bitmap.BytesPerPixel() * 8));
  Put32(h + 16, alpha ? kBiBitfields : kBiRgb);
  Put32(h + 20, bits_size);
  Put32(h + 24, kPelsPerMetre96Dpi);
  Put32(h + 28, kPelsPerMetre96Dpi);
  if (alpha) {
    Put32(h + 40, 0x00FF0000);  // red mask
    Put32(h + 44, 0x0000FF00);  // green
    Put32(h + 48, 0x000000FF);  // blue
    Put32(h + 52, 0xFF000000);  // alpha
    Put32(h + 56, kLcsSrgb);
    Put32(h + 108, 4);  // rendering intent: LCS_GM_IMAGES
  }
  stream.WriteBuffer(header, offset);
  if (bits_size > 0) stream.WriteBuffer(bitmap.Bits(), bits_size);
}

}  // namespace kevrale
