// Placeholder reader: uncompressed 24- and 32-bit BITMAPINFOHEADER files.
#include "picture/BmpReader.h"

#include <cstdint>
#include <vector>

#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {
[[noreturn]] void Invalid() { throw EInvalidGraphic("ビットマップイメージが不正です"); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
}  // namespace

void ReadBmp(TStream& stream, TBitmap& out) {
  const int64_t start = stream.Position();
  uint8_t h[54];
  if (stream.Read(h, sizeof h) != sizeof h) Invalid();
  if (h[0] != 'B' || h[1] != 'M') Invalid();
  const uint32_t offset = Get32(h + 10);
  const int32_t width = int32_t(Get32(h + 18));
  const int32_t height = int32_t(Get32(h + 22));
  const int bpp = h[28];
  if (Get32(h + 14) != 40 || (bpp != 24 && bpp != 32) || Get32(h + 30) != 0) Invalid();
  if (width < 0 || height <= 0) Invalid();
  out.Allocate(width, height, TPixelFormat::pf24bit);
  stream.SetPosition(start + offset);
  std::vector<uint8_t> row((size_t(width) * size_t(bpp / 8) + 3) & ~size_t(3));
  for (int y = height - 1; y >= 0; --y) {
    if (stream.Read(row.data(), row.size()) != row.size()) Invalid();
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) d[x * 3 + c] = row[size_t(x) * size_t(bpp / 8) + size_t(c)];
  }
}

}  // namespace kevrale
