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
  PngJob() = default;
  ~PngJob() { png_destroy_write_struct(&png, &info); }
  PngJob(const PngJob&) = delete;
  PngJob& operator=(const PngJob&) = delete;

  TStream* stream = nullptr;
  std::exception_ptr write_error;
  png_structp png = nullptr;
  png_infop info = nullptr;
  // What the step in progress works on.
  int width = 0;
  int height = 0;
  bool alpha = false;
  const TBitmap* band = nullptr;
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

void Begin(PngJob& job) {
  png_set_write_fn(job.png, &job, OnWrite, OnFlush);
  png_set_IHDR(job.png, job.info, png_uint_32(job.width), png_uint_32(job.height), 8,
               job.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(job.png, job.info, kPixelsPerMetre96Dpi, kPixelsPerMetre96Dpi, PNG_RESOLUTION_METER);
  png_write_info(job.png, job.info);
  // The bitmap's rows hold blue, green, red (and alpha).
  png_set_bgr(job.png);
}

void Rows(PngJob& job) {
  // png_write_row takes a non-const pointer but only reads the row.
  for (int y = 0; y < job.band->Height(); ++y)
    png_write_row(job.png, const_cast<png_bytep>(job.band->ScanLine(y)));
}

void End(PngJob& job) {
  png_write_end(job.png, nullptr);
}

// Runs one step between setjmp and longjmp, in a frame whose locals have no
// destructors. False when libpng failed.
bool Guarded(PngJob& job, void (*step)(PngJob&)) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  step(job);
  return true;
}

class PngRowWriter final : public ImageRowWriter {
 public:
  PngRowWriter(TStream& stream, int width, int height, TPixelFormat format) {
    job_.stream = &stream;
    job_.width = width;
    job_.height = height;
    job_.alpha = format == TPixelFormat::pf32bit;
    job_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (job_.png != nullptr) job_.info = png_create_info_struct(job_.png);
    Run(job_.info != nullptr ? Begin : nullptr);
  }
  void WriteRows(int, const TBitmap& band) override {
    job_.band = &band;
    Run(Rows);
    job_.band = nullptr;
  }
  void Finish() override { Run(End); }

 private:
  // Runs a step; a failed one raises the stream's error, or a write error
  // of its own where libpng itself failed (out of memory).
  void Run(void (*step)(PngJob&)) {
    if (!failed_ && step != nullptr && Guarded(job_, step)) return;
    failed_ = true;
    if (job_.write_error) std::rethrow_exception(job_.write_error);
    throw EWriteError(kStreamWriteErrorMessage);
  }

  PngJob job_;
  bool failed_ = false;  // libpng's state is undefined after an error
};

}  // namespace

std::unique_ptr<ImageRowWriter> MakePngRowWriter(TStream& stream, int width, int height,
                                                 TPixelFormat format) {
  if (width <= 0 || height <= 0) throw EInvalidGraphic(Format(kEmptyPictureMessage, {"PNG"}));
  return std::make_unique<PngRowWriter>(stream, width, height, format);
}

void WritePng(const TBitmap& bitmap, TStream& stream) {
  WriteImage(TImageFileFormat::Png, bitmap, stream);
}

}  // namespace kevrale
