// libFuzzer target: arbitrary bytes through the BMP reader. A clean refusal
// is EInvalidGraphic; anything else escaping is a fault. A picture that
// decodes must also survive a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "picture/BmpReader.h"
#include "picture/BmpWriter.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kevrale;
  TBorrowedMemoryStream stream(data, size);
  TBitmap bitmap;
  try {
    ReadBmp(stream, bitmap);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (bitmap.BitsSize() != bitmap.Stride() * size_t(bitmap.Height())) std::abort();
  if (bitmap.BitsSize() > (size_t(4) << 20)) return 0;  // keep the round trip quick
  TMemoryStream saved;
  WriteBmp(bitmap, saved);
  saved.SetPosition(0);
  TBitmap again;
  ReadBmp(saved, again);
  if (again.Width() != bitmap.Width() || again.Height() != bitmap.Height() ||
      again.PixelFormat() != bitmap.PixelFormat() ||
      (bitmap.BitsSize() > 0 && std::memcmp(again.Bits(), bitmap.Bits(), bitmap.BitsSize()) != 0))
    std::abort();
  return 0;
}
