#include "picture/PngWriter.h"

#include <png.h>

#include <csetjmp>
#include <exception>

#include "picture/ImageFileFormat.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

constexpr png_uint_32 kPixelsPerMetre96Dpi = 3780;  // as the BMP writer says

// libpng leaves through longjmp on every error. Its callbacks never let a
// C++ exception pass through its C frames: a failed write is kept here and
// raised again once libpng has given up.
struct PngJob {
  const TBitmap* bitmap;
  TStream* stream;
  std::exception_ptr write_error;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

void OnWrite(png_structp png, png_bytep data, size_t size) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  bool failed = false;
  try {
    job->stream->WriteBuffer(data, size);
  } catch (...) {
    job->write_error = std::current_exception();
    failed = true;
  }
  // Out of the handler first: longjmp must not leave a catch block.
  if (failed) png_error(png, "write failed");
}

void OnFlush(png_structp) {}

extern "C" void OnError(png_structp png, png_const_charp) {
  longjmp(png_jmpbuf(png), 1);
}

extern "C" void OnWarning(png_structp, png_const_charp) {}

// Everything between setjmp and longjmp, in a frame whose locals have no
// destructors. False when libpng failed.
bool WriteAll(PngJob& job) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  const TBitmap& bitmap = *job.bitmap;
  png_set_write_fn(job.png, &job, OnWrite, OnFlush);
  png_set_IHDR(job.png, job.info, png_uint_32(bitmap.Width()), png_uint_32(bitmap.Height()), 8,
               bitmap.HasAlpha() ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(job.png, job.info, kPixelsPerMetre96Dpi, kPixelsPerMetre96Dpi, PNG_RESOLUTION_METER);
  png_write_info(job.png, job.info);
  // The bitmap's rows hold blue, green, red (and alpha).
  png_set_bgr(job.png);
  for (int y = 0; y < bitmap.Height(); ++y) png_write_row(job.png, bitmap.ScanLine(y));
  png_write_end(job.png, nullptr);
  return true;
}

}  // namespace

void WritePng(const TBitmap& bitmap, TStream& stream) {
  if (bitmap.Empty()) throw EInvalidGraphic(Format(kEmptyPictureMessage, {"PNG"}));
  PngJob job{&bitmap, &stream, nullptr};
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (job.png != nullptr) job.info = png_create_info_struct(job.png);
  const bool written = job.info != nullptr && WriteAll(job);
  png_destroy_write_struct(&job.png, &job.info);
  if (job.write_error) std::rethrow_exception(job.write_error);
  if (!written) throw EWriteError(kStreamWriteErrorMessage);
}

}  // namespace kevrale
