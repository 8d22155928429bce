// Writes a bitmap as a PNG file (libpng): 8-bit RGB, or RGBA when the
// bitmap carries alpha.
#pragma once

namespace kevrale {

class TBitmap;
class TStream;

// Raises EInvalidGraphic for an empty bitmap, which PNG cannot hold, before
// anything is written, and the stream's errors when writing fails.
void WritePng(const TBitmap& bitmap, TStream& stream);

}  // namespace kevrale
