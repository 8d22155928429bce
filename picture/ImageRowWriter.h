// Writing a picture file band by band, top down, without holding the
// picture: the writers of BMP, PNG and TIFF files take their rows here, and
// a whole bitmap is written as one band. Bands of rows, however they are
// cut, give the same file as the whole bitmap.
#pragma once

#include <cstdint>
#include <memory>

#include "picture/ImageFileFormat.h"
#include "picture/RasterLayout.h"
#include "picture/TBitmap.h"

namespace kevrale {

class TStream;

class ImageRowWriter {
 public:
  virtual ~ImageRowWriter() = default;
  // Writes the band's rows as rows y0 .. y0 + band.Height() - 1 of the
  // picture. Bands come top down, each starting where the one before ended;
  // they are as wide as the picture and in its pixel format. Raises the
  // stream's write errors.
  virtual void WriteRows(int y0, const TBitmap& band) = 0;
  // Writes row y of a Grey or Palette layout given as its packed samples
  // (RasterLayout.h: a code a pixel, high bits first), in the same order as
  // WriteRows; raises std::logic_error for a writer of other rows.
  virtual void WritePackedRow(int y, const uint8_t* samples);
  // Completes the file once every row has been written.
  virtual void Finish() = 0;
};

// A writer of a `width` x `height` picture in `pixel_format` (alpha kept
// with 32 bits) as `format`, from the stream's position on; PNG and TIFF
// in `layout`, which must hold every colour of the rows (the default: RGB
// or RGBA, as the rows are). PNG and TIFF have no form for an empty
// picture: EInvalidGraphic before anything is written.
std::unique_ptr<ImageRowWriter> MakeImageRowWriter(TImageFileFormat format, TStream& stream,
                                                   int width, int height, TPixelFormat pixel_format,
                                                   const RasterLayout& layout = {});

// Writes a whole bitmap through its format's row writer, PNG and TIFF in
// the smallest layout that holds its colours.
void WriteImage(TImageFileFormat format, const TBitmap& bitmap, TStream& stream);
// The same in a layout of the caller's.
void WriteImage(TImageFileFormat format, const TBitmap& bitmap, TStream& stream,
                const RasterLayout& layout);

}  // namespace kevrale
