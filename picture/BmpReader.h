// Reads a whole Windows BMP file (14-byte file header, information header,
// optional colour table, pixel array) from the stream's current position,
// or the rows of a checked DIB, into a bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include "picture/DibLayout.h"
#include "picture/TGraphic.h"
#include "platform/Exception.h"

namespace kevrale {

// Why the reader refused a file. The user sees one message for all of them
// ("ビットマップイメージが不正です"); the reason is for the tests and the
// diagnostics.
enum class BmpRefusal {
  Truncated,      // the data ends before what the headers promise
  Signature,      // no "BM"
  HeaderSize,     // an information header of no known size
  Planes,         // planes other than 1
  Width,          // a negative width
  Height,         // a height that cannot be negated
  TooLarge,       // more pixels than a bitmap may have
  Compression,    // a compression unknown, or unknown to this kind of header
  BitCount,       // a bit count that the compression does not take
  TopDownRle,     // RLE data stored top-down
  ColoursUsed,    // more colours than the bit count can index
  Masks,          // bit-field masks with holes, overlaps or past the pixel
  PixelOffset,    // pixels that begin inside the headers or past the end
  PixelsMissing,  // a pixel array larger than the data that holds it
  NoPalette,      // no room for a colour table
  PaletteIndex,   // a pixel indexing past the colour table
  RleOutside,     // a run or skip that leaves the picture
  RleEnd,         // RLE data that ends before the picture is complete
};

// The text of a reason, for diagnostics ("truncated", "bad signature", ...).
const char* BmpRefusalText(BmpRefusal reason);

// A file that is not a valid BMP: EInvalidGraphic with the one message and
// the guard that refused it.
class EInvalidBmp : public EInvalidGraphic {
 public:
  explicit EInvalidBmp(BmpRefusal reason)
      : EInvalidGraphic("ビットマップイメージが不正です"), reason_(reason) {}
  const char* ClassName() const noexcept override { return "EInvalidGraphic"; }
  BmpRefusal Reason() const noexcept { return reason_; }

 private:
  BmpRefusal reason_;
};

class TBitmap;
class TStream;

// Decodes into `out`. Anything that is not a valid BMP raises EInvalidBmp
// with its reason; `out` may then hold anything, so callers decode into a
// fresh bitmap.
void ReadBmp(TStream& stream, TBitmap& out, const TLoadLimits& limits = {});

// Decodes the rows of a device-independent bitmap that CheckDib accepted
// (`bits` holds its pixel rows) into `out`, as ReadBmp decodes the DIB's
// BMP form, without writing that form.
void ReadDib(const DibLayout& layout, const uint8_t* bits, TBitmap& out);

}  // namespace kevrale
