// Writes a bitmap as a Windows BMP file: 24 bits per pixel, or 32 bits with
// a BITMAPV5HEADER and an alpha mask when the bitmap carries alpha.
#pragma once

#include <memory>

#include "picture/ImageRowWriter.h"

namespace kevrale {

class TBitmap;
class TStream;

void WriteBmp(const TBitmap& bitmap, TStream& stream);

// The row writer of BMP files. A BMP file stores its rows bottom-up: on a
// stream that can seek each band goes straight to its place; on one that
// cannot (a pipe) the rows are held until the last one has come, unless
// the first band is the whole picture.
std::unique_ptr<ImageRowWriter> MakeBmpRowWriter(TStream& stream, int width, int height,
                                                 TPixelFormat format);

}  // namespace kevrale
