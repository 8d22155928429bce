// The whole-picture reads: the row reader over every row of the picture.
#include "picture/BmpReader.h"

#include "picture/BmpRowReader.h"
#include "picture/TBitmap.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

void ReadAllRows(BmpRowReader& reader, TBitmap& out) {
  reader.Check();
  out.Allocate(reader.Width(), reader.Height(), reader.Format());
  reader.ReadRows(0, out);
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
  BmpRowReader reader(stream, limits);
  ReadAllRows(reader, out);
  // The stream is left after the pixels, as a sequential read leaves it.
  stream.SetPosition(int64_t(reader.PixelsEnd()));
}

void ReadDib(const DibLayout& layout, const uint8_t* bits, TBitmap& out) {
  BmpRowReader reader(layout, bits);
  ReadAllRows(reader, out);
}

}  // namespace kevrale
