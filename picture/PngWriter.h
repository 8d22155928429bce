// Writes a bitmap as a PNG file (chunks of its own, zlib for the image
// data) in the smallest colour type that holds its colours
// (RasterLayout.h).
#pragma once

#include <memory>

#include "picture/ImageRowWriter.h"

namespace kevrale {

class TBitmap;
class TStream;
struct RasterLayout;

// Raises EInvalidGraphic for an empty bitmap, which PNG cannot hold, before
// anything is written, and the stream's errors when writing fails.
void WritePng(const TBitmap& bitmap, TStream& stream);

// The row writer of PNG files in `layout`; the rows are written as they
// come. RGB and RGBA follow the rows' format.
std::unique_ptr<ImageRowWriter> MakePngRowWriter(TStream& stream, int width, int height,
                                                 TPixelFormat format, const RasterLayout& layout);

}  // namespace kevrale
