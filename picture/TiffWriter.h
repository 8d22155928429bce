// Writes a bitmap as a TIFF file (libtiff): 8-bit RGB, or RGB with an
// unassociated alpha sample when the bitmap carries alpha, deflate-coded
// with horizontal differencing, in strips.
#pragma once

namespace kevrale {

class TBitmap;
class TStream;

// Raises EInvalidGraphic for an empty bitmap, which TIFF cannot hold,
// before anything is written, and the stream's errors when writing fails.
// A stream that cannot seek (a pipe) gets the file built in memory first,
// as TIFF's directory is written last and pointed to from the header.
void WriteTiff(const TBitmap& bitmap, TStream& stream);

}  // namespace kevrale
