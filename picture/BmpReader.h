// Reads a Windows BMP file (14-byte file header, information header,
// optional colour table, pixel array) from the stream's current position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

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

// Hands out the `size` bytes at `offset` of the stream as a block the
// bitmap may keep, or nullptr when it cannot.
using BmpPixelStore = std::function<std::shared_ptr<uint8_t[]>(uint64_t offset, size_t size)>;

// As ReadBmp, but where the stored rows already have the bitmap's layout
// (24 bits, bottom-up, no coding) they are taken from `store` in place
// instead of being copied. The result is the same.
void ReadBmp(TStream& stream, TBitmap& out, const BmpPixelStore& store,
             const TLoadLimits& limits = {});

}  // namespace kevrale
