// Writes a bitmap as a TIFF file (libtiff), in strips, in the smallest
// colour type that holds its colours (RasterLayout.h): black and white as a
// one-bit page coded in CCITT Group 4; grey, palette, 8-bit RGB, or RGB
// with an unassociated alpha sample deflate-coded, 8-bit samples with
// horizontal differencing.
#pragma once

#include <memory>

#include "picture/ImageRowWriter.h"

namespace kevrale {

class TBitmap;
class TStream;
struct RasterLayout;

// Raises EInvalidGraphic for an empty bitmap, which TIFF cannot hold,
// before anything is written, and the stream's errors when writing fails.
// A stream that cannot seek (a pipe) gets the file built in memory first,
// as TIFF's directory is written last and pointed to from the header.
void WriteTiff(const TBitmap& bitmap, TStream& stream);

// The row writer of TIFF files in `layout` (RGB and RGBA follow the rows'
// format); a stream that cannot seek gets the whole file once it is
// complete.
std::unique_ptr<ImageRowWriter> MakeTiffRowWriter(TStream& stream, int width, int height,
                                                  TPixelFormat format, const RasterLayout& layout);

}  // namespace kevrale
