// Writes a bitmap as a Windows BMP file: 24 bits per pixel, or 32 bits with
// a BITMAPV5HEADER and an alpha mask when the bitmap carries alpha.
#pragma once

namespace kevrale {

class TBitmap;
class TStream;

void WriteBmp(const TBitmap& bitmap, TStream& stream);

}  // namespace kevrale
