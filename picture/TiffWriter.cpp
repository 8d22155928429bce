#include "picture/TiffWriter.h"

#include <tiffio.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "picture/ImageFileFormat.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// libtiff's view of the output: a stream, with offsets counted from where
// the file starts in it. A failed write is kept and raised again once
// libtiff has given up; no C++ exception passes through libtiff.
struct TiffSink {
  TStream* stream;
  int64_t start;
  std::exception_ptr write_error;
};

tmsize_t ReadProc(thandle_t handle, void* data, tmsize_t size) {
  auto* sink = static_cast<TiffSink*>(handle);
  return size <= 0 ? 0 : tmsize_t(sink->stream->Read(data, size_t(size)));
}

tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size) {
  auto* sink = static_cast<TiffSink*>(handle);
  if (size <= 0 || sink->write_error) return sink->write_error ? -1 : 0;
  try {
    sink->stream->WriteBuffer(data, size_t(size));
    return size;
  } catch (...) {
    sink->write_error = std::current_exception();
    return -1;
  }
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* sink = static_cast<TiffSink*>(handle);
  int64_t position;
  if (whence == SEEK_SET)
    position = sink->stream->Seek(sink->start + int64_t(offset), SeekOrigin::Beginning);
  else if (whence == SEEK_CUR)
    position = sink->stream->Seek(int64_t(offset), SeekOrigin::Current);
  else if (whence == SEEK_END)
    position = sink->stream->Seek(int64_t(offset), SeekOrigin::End);
  else
    return toff_t(-1);
  return position < sink->start ? toff_t(-1) : toff_t(position - sink->start);
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  auto* sink = static_cast<TiffSink*>(handle);
  const int64_t size = sink->stream->Size();
  return size < sink->start ? 0 : toff_t(size - sink->start);
}

int MapProc(thandle_t, void**, toff_t*) {
  return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages would go to the terminal; a failure shows in the
// results of its calls.
int Quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// Writes the whole file to a stream that can seek; false when libtiff
// failed.
bool WriteTo(const TBitmap& bitmap, TiffSink& sink) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return false;
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  // "m": no memory mapping, the output is a stream.
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("output", "wm", &sink, ReadProc,
                                                          WriteProc, SeekProc, CloseProc, SizeProc,
                                                          MapProc, UnmapProc, options));
  TIFFOpenOptionsFree(options);
  if (!tif) return false;

  const bool alpha = bitmap.HasAlpha();
  const int samples = alpha ? 4 : 3;
  TIFF* t = tif.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(bitmap.Width()));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(bitmap.Height()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  if (alpha) {
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 96.0f);  // as the BMP writer says
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 96.0f);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

  // TIFF wants red first; the bitmap's rows hold blue first.
  std::vector<uint8_t> row(size_t(bitmap.Width()) * size_t(samples));
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* in = bitmap.ScanLine(y);
    for (size_t i = 0; i < row.size(); i += size_t(samples)) {
      row[i] = in[i + 2];
      row[i + 1] = in[i + 1];
      row[i + 2] = in[i];
      if (alpha) row[i + 3] = in[i + 3];
    }
    if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) return false;
  }
  if (!TIFFWriteDirectory(t)) return false;
  return !sink.write_error;
}

void WriteSeekable(const TBitmap& bitmap, TStream& stream, int64_t start) {
  TiffSink sink{&stream, start, nullptr};
  const bool written = WriteTo(bitmap, sink);
  if (sink.write_error) std::rethrow_exception(sink.write_error);
  if (!written) throw EWriteError(kStreamWriteErrorMessage);
}

}  // namespace

void WriteTiff(const TBitmap& bitmap, TStream& stream) {
  if (bitmap.Empty()) throw EInvalidGraphic(Format(kEmptyPictureMessage, {"TIFF"}));
  const int64_t start = stream.Position();
  if (start >= 0) {
    WriteSeekable(bitmap, stream, start);
    return;
  }
  TMemoryStream memory;
  WriteSeekable(bitmap, memory, 0);
  stream.WriteBuffer(memory.Memory(), size_t(memory.Size()));
}

}  // namespace kevrale
