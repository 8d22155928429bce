// Writes a bitmap as a PNG file (libpng): 8-bit RGB, or RGBA when the
// bitmap carries alpha.
#pragma once

#include <memory>

#include "picture/ImageRowWriter.h"

namespace kevrale {

class TBitmap;
class TStream;

// Raises EInvalidGraphic for an empty bitmap, which PNG cannot hold, before
// anything is written, and the stream's errors when writing fails.
void WritePng(const TBitmap& bitmap, TStream& stream);

// The row writer of PNG files; the rows are written as they come.
std::unique_ptr<ImageRowWriter> MakePngRowWriter(TStream& stream, int width, int height,
                                                 TPixelFormat format);

}  // namespace kevrale
