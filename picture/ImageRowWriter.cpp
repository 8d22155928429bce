#include "picture/ImageRowWriter.h"

#include <stdexcept>

#include "picture/BmpWriter.h"
#include "picture/PngWriter.h"
#include "picture/TiffWriter.h"

namespace kevrale {

void ImageRowWriter::WritePackedRow(int, const uint8_t*) {
  throw std::logic_error("ImageRowWriter: packed rows for a file without them");
}

std::unique_ptr<ImageRowWriter> MakeImageRowWriter(TImageFileFormat format, TStream& stream,
                                                   int width, int height, TPixelFormat pixel_format,
                                                   const RasterLayout& layout) {
  switch (format) {
    case TImageFileFormat::Png:
      return MakePngRowWriter(stream, width, height, pixel_format, layout);
    case TImageFileFormat::Tiff:
      return MakeTiffRowWriter(stream, width, height, pixel_format, layout);
    case TImageFileFormat::Bmp:
    case TImageFileFormat::Svg:  // no raster form: BMP
      break;
  }
  return MakeBmpRowWriter(stream, width, height, pixel_format);
}

void WriteImage(TImageFileFormat format, const TBitmap& bitmap, TStream& stream) {
  WriteImage(format, bitmap, stream,
             format == TImageFileFormat::Bmp ? RasterLayout{} : LayoutOf(bitmap, format));
}

void WriteImage(TImageFileFormat format, const TBitmap& bitmap, TStream& stream,
                const RasterLayout& layout) {
  const std::unique_ptr<ImageRowWriter> writer = MakeImageRowWriter(
      format, stream, bitmap.Width(), bitmap.Height(), bitmap.PixelFormat(), layout);
  writer->WriteRows(0, bitmap);
  writer->Finish();
}

}  // namespace kevrale
