#include "picture/PngWriter.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <exception>
#include <optional>
#include <vector>

#include "picture/ImageFileFormat.h"
#include "picture/RasterLayout.h"
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
  const RasterLayout* layout = nullptr;
  const TBitmap* band = nullptr;
  // Packed rows of a grey or palette layout, `row_bytes` each, for the band.
  const uint8_t* packed = nullptr;
  size_t row_bytes = 0;
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

// What bench/png-compression.py measured on line art and scans: rows
// differenced from the row above ("up") and zlib's run-length strategy
// give packed samples files a tenth smaller than PIL's default save, in a
// tenth of the time; colour rows compress best differenced from the pixel
// before ("sub"), within 2 % of PIL's size. Large output buffers keep the
// chunks, and the writes, few.
void SetCompression(png_structp png, bool packed) {
  png_set_filter(png, PNG_FILTER_TYPE_BASE, packed ? PNG_FILTER_UP : PNG_FILTER_SUB);
  png_set_compression_strategy(png, Z_RLE);
  png_set_compression_level(png, 1);
  png_set_compression_buffer_size(png, size_t(1) << 17);
}

bool Packed(const PngJob& job) {
  return job.layout->kind == RasterKind::Grey || job.layout->kind == RasterKind::Palette;
}

void Begin(PngJob& job) {
  png_set_write_fn(job.png, &job, OnWrite, OnFlush);
  const RasterLayout& layout = *job.layout;
  int colour_type = job.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  if (layout.kind == RasterKind::Grey) colour_type = PNG_COLOR_TYPE_GRAY;
  if (layout.kind == RasterKind::Palette) colour_type = PNG_COLOR_TYPE_PALETTE;
  const int depth = Packed(job) ? layout.bits : 8;
  png_set_IHDR(job.png, job.info, png_uint_32(job.width), png_uint_32(job.height), depth,
               colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (layout.kind == RasterKind::Palette) {
    png_color entries[256];
    png_byte alpha[256];
    int transparent = 0;
    const int count = int(layout.colours.size());
    for (int i = 0; i < count; ++i) {
      const uint32_t c = layout.colours[size_t(i)];
      entries[i] = {png_byte(c >> 16), png_byte(c >> 8), png_byte(c)};
      alpha[i] = png_byte(c >> 24);
      if (alpha[i] != 255) transparent = i + 1;
    }
    png_set_PLTE(job.png, job.info, entries, count);
    if (transparent > 0) png_set_tRNS(job.png, job.info, alpha, transparent, nullptr);
  }
  const png_uint_32 x_ppm = layout.x_ppm != 0 ? layout.x_ppm : kPixelsPerMetre96Dpi;
  const png_uint_32 y_ppm = layout.y_ppm != 0 ? layout.y_ppm : kPixelsPerMetre96Dpi;
  png_set_pHYs(job.png, job.info, x_ppm, y_ppm, PNG_RESOLUTION_METER);
  SetCompression(job.png, Packed(job));
  png_write_info(job.png, job.info);
  // The bitmap's rows hold blue, green, red (and alpha).
  if (!Packed(job)) png_set_bgr(job.png);
}

void Rows(PngJob& job) {
  // png_write_row takes a non-const pointer but only reads the row.
  for (int y = 0; y < job.band->Height(); ++y)
    png_write_row(job.png, job.packed != nullptr
                               ? const_cast<png_bytep>(job.packed + size_t(y) * job.row_bytes)
                               : const_cast<png_bytep>(job.band->ScanLine(y)));
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
  PngRowWriter(TStream& stream, int width, int height, TPixelFormat format,
               const RasterLayout& layout)
      : layout_(layout) {
    job_.stream = &stream;
    job_.width = width;
    job_.height = height;
    job_.alpha = format == TPixelFormat::pf32bit;
    job_.layout = &layout_;
    if (Packed(job_)) {
      packer_.emplace(layout_);
      job_.row_bytes = packer_->RowBytes(width);
    }
    job_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (job_.png != nullptr) job_.info = png_create_info_struct(job_.png);
    Run(job_.info != nullptr ? Begin : nullptr);
  }
  void WriteRows(int, const TBitmap& band) override {
    if (packer_) {
      packed_.resize(job_.row_bytes * size_t(band.Height()));
      for (int y = 0; y < band.Height(); ++y)
        packer_->Pack(band.ScanLine(y), band.Width(), band.BytesPerPixel(),
                      packed_.data() + size_t(y) * job_.row_bytes);
      job_.packed = packed_.data();
    }
    job_.band = &band;
    Run(Rows);
    job_.band = nullptr;
    job_.packed = nullptr;
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

  RasterLayout layout_;
  std::optional<RowPacker> packer_;
  std::vector<uint8_t> packed_;
  PngJob job_;
  bool failed_ = false;  // libpng's state is undefined after an error
};

}  // namespace

std::unique_ptr<ImageRowWriter> MakePngRowWriter(TStream& stream, int width, int height,
                                                 TPixelFormat format, const RasterLayout& layout) {
  if (width <= 0 || height <= 0) throw EInvalidGraphic(Format(kEmptyPictureMessage, {"PNG"}));
  return std::make_unique<PngRowWriter>(stream, width, height, format, layout);
}

void WritePng(const TBitmap& bitmap, TStream& stream) {
  WriteImage(TImageFileFormat::Png, bitmap, stream);
}

}  // namespace kevrale
