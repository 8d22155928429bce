#include "picture/TiffWriter.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "picture/DeflateStream.h"
#include "picture/ImageFileFormat.h"
#include "picture/RasterLayout.h"
#include "picture/RowConversions.h"
#include "picture/TBitmap.h"
#include "picture/TiffClient.h"
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

toff_t SizeProc(thandle_t handle) {
  auto* sink = static_cast<TiffSink*>(handle);
  const int64_t size = sink->stream->Size();
  return size < sink->start ? 0 : toff_t(size - sink->start);
}

// Bytes of samples a deflate-coded strip holds before it is compressed, as
// PIL's: few strips, and none too large for a reader's memory.
constexpr size_t kStripBytes = size_t(64) << 10;
// One strip in this many is compressed both ways to choose the strategy.
constexpr int kStrategyTrialEvery = 8;

// Compresses each strip as a zlib stream of its own. Line art compresses
// best with zlib's run-length strategy, fast; smooth shading, with the
// default one. Every eighth strip is compressed both ways, and the smaller
// way is kept for the strips up to the next trial.
class StripDeflater {
 public:
  // The compressed strip; valid until the next call.
  std::pair<const uint8_t*, size_t> Compress(const uint8_t* data, size_t size) {
    const bool trial = strips_++ % kStrategyTrialEvery == 0;
    if (trial || rle_wins_) Run(rle_, data, size, out_);
    if (!trial && rle_wins_) return {out_.data(), out_.size()};
    Run(plain_, data, size, trial ? trial_ : out_);
    if (!trial) return {out_.data(), out_.size()};
    rle_wins_ = out_.size() <= trial_.size();
    const std::vector<uint8_t>& smaller = rle_wins_ ? out_ : trial_;
    return {smaller.data(), smaller.size()};
  }

 private:
  static void Run(DeflateStream& z, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    z.Reset();
    out.resize(z.Bound(size));
    z->next_in = const_cast<Bytef*>(data);
    z->avail_in = uInt(size);
    z->next_out = out.data();
    z->avail_out = uInt(out.size());
    // The bound holds the whole stream: one call ends it.
    if (z.Deflate(Z_FINISH) != Z_STREAM_END) throw EWriteError(kStreamWriteErrorMessage);
    out.resize(out.size() - z->avail_out);
  }

  DeflateStream rle_{1, Z_RLE};
  DeflateStream plain_{1, Z_DEFAULT_STRATEGY};
  std::vector<uint8_t> out_;
  std::vector<uint8_t> trial_;
  int strips_ = 0;
  bool rle_wins_ = true;
};

// Writes the file on a stream that can seek.
class SeekableTiff {
 public:
  SeekableTiff(TStream& stream, int64_t start, int width, int height, TPixelFormat format,
               const RasterLayout& layout)
      : sink_{&stream, start, nullptr},
        width_(width),
        height_(height),
        samples_(format == TPixelFormat::pf32bit ? 4 : 3) {
    const bool packed = layout.kind == RasterKind::Grey || layout.kind == RasterKind::Palette;
    // Black and white is a fax page: one bit, white 0, Group 4 coded.
    bilevel_ = layout.kind == RasterKind::Grey && layout.bits == 1;
    if (packed) {
      packer_.emplace(layout);
      row_.resize(packer_->RowBytes(width));
    } else {
      row_.resize(size_t(width) * size_t(samples_));
    }
    tif_ = OpenTiffClient("w", &sink_, ReadProc, WriteProc, SeekProc, SizeProc);
    if (!tif_) Fail();

    TIFF* t = tif_.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (packed) {
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, layout.bits);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    } else {
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples_);
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    }
    if (!packed && samples_ == 4) {
      const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (bilevel_) {
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    } else {
      if (layout.kind == RasterKind::Grey)
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      if (layout.kind == RasterKind::Palette) SetColourMap(t, layout);
      // Compressed here, a strip at a time (StripDeflater).
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      // Differences between neighbours help colour samples; grey line art,
      // palette indices and packed samples compress better as they are.
      if (!packed) {
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        predicted_ = true;
      }
      deflater_.emplace();
      strip_rows_ = int(std::clamp<size_t>(kStripBytes / row_.size(), 1, size_t(height)));
      strip_.resize(row_.size() * size_t(strip_rows_));
    }
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    // 96 dots per inch, as the BMP writer says, where the picture says nothing.
    TIFFSetField(t, TIFFTAG_XRESOLUTION, DotsPerInch(layout.x_ppm));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, DotsPerInch(layout.y_ppm));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP,
                 deflater_ ? uint32_t(strip_rows_) : TIFFDefaultStripSize(t, 0));
  }

  void WriteRows(int y0, const TBitmap& band) {
    if (!tif_ || band.Width() != width_) Fail();
    for (int i = 0; i < band.Height(); ++i) {
      const uint8_t* in = band.ScanLine(i);
      if (packer_) {
        packer_->Pack(in, width_, band.BytesPerPixel(), row_.data());
        if (bilevel_)
          for (uint8_t& b : row_) b = uint8_t(~b);
      } else {
        // TIFF wants red first; the bitmap's rows hold blue first.
        SwapRedBlue(in, width_, samples_, row_.data());
      }
      WriteRow(y0 + i);
    }
  }

  void WritePackedRow(int y, const uint8_t* samples) {
    if (!tif_) Fail();
    if (!packer_) throw std::logic_error("TIFF: packed rows for a colour file");
    std::memcpy(row_.data(), samples, row_.size());
    if (bilevel_)
      for (uint8_t& b : row_) b = uint8_t(~b);
    WriteRow(y);
  }

  // Writes row_ as row y: a scanline, or a row of the strip.
  void WriteRow(int y) {
    if (!deflater_) {
      if (TIFFWriteScanline(tif_.get(), row_.data(), uint32_t(y), 0) < 0) Fail();
      return;
    }
    const int in_strip = y % strip_rows_;
    std::memcpy(strip_.data() + size_t(in_strip) * row_.size(), row_.data(), row_.size());
    if (in_strip == strip_rows_ - 1 || y == height_ - 1) WriteStrip(y / strip_rows_, in_strip + 1);
  }

  void Finish() {
    if (!tif_ || !TIFFWriteDirectory(tif_.get())) Fail();
    tif_.reset();
    if (sink_.write_error) Fail();
  }

 private:
  // Compresses the strip's first `rows` rows and writes them as strip
  // `index`, the colour samples differenced from the pixel before.
  void WriteStrip(int index, int rows) {
    const size_t row_bytes = row_.size();
    if (predicted_) {
      const size_t samples = size_t(samples_);
      for (int r = 0; r < rows; ++r) {
        uint8_t* row = strip_.data() + size_t(r) * row_bytes;
        for (size_t k = row_bytes; k-- > samples;) row[k] = uint8_t(row[k] - row[k - samples]);
      }
    }
    const auto [data, size] = deflater_->Compress(strip_.data(), row_bytes * size_t(rows));
    if (TIFFWriteRawStrip(tif_.get(), uint32_t(index), const_cast<uint8_t*>(data), tmsize_t(size)) <
        0)
      Fail();
  }

  // Raises the stream's error, or a write error of its own where libtiff
  // itself failed; libtiff is not used again.
  [[noreturn]] void Fail() {
    tif_.reset();
    if (sink_.write_error) std::rethrow_exception(sink_.write_error);
    throw EWriteError(kStreamWriteErrorMessage);
  }

  // The 16-bit colour map of a palette layout: every entry the bit count
  // allows, those past the colours black.
  static void SetColourMap(TIFF* t, const RasterLayout& layout) {
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    const size_t entries = size_t(1) << layout.bits;
    std::vector<uint16_t> red(entries), green(entries), blue(entries);
    for (size_t i = 0; i < layout.colours.size() && i < entries; ++i) {
      const uint32_t c = layout.colours[i];
      red[i] = uint16_t((c >> 16 & 0xFF) * 257);
      green[i] = uint16_t((c >> 8 & 0xFF) * 257);
      blue[i] = uint16_t((c & 0xFF) * 257);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }

  // Dots per inch of a density in pixels per metre: a whole number of dots
  // where the metre's whole pixels come within their rounding of one (300
  // dpi is 11811 pixels per metre, which is 299.9994 dpi).
  static float DotsPerInch(uint32_t ppm) {
    if (ppm == 0) return 96.0f;
    const double dpi = ppm * 0.0254;
    const double whole = std::round(dpi);
    return float(std::abs(dpi - whole) <= 0.0127 ? whole : dpi);
  }

  TiffSink sink_;
  int width_;
  int height_;
  int samples_;
  bool bilevel_ = false;
  // Deflate-coded files: rows gathered into strips and compressed here.
  std::optional<StripDeflater> deflater_;
  bool predicted_ = false;
  int strip_rows_ = 0;
  std::vector<uint8_t> strip_;
  std::optional<RowPacker> packer_;
  std::vector<uint8_t> row_;
  TiffHandle tif_;
};

// TIFF's directory is written last and pointed to from the header: a
// stream that cannot seek (a pipe) gets the file built in memory first.
class TiffRowWriter final : public ImageRowWriter {
 public:
  TiffRowWriter(TStream& stream, int width, int height, TPixelFormat format,
                const RasterLayout& layout)
      : stream_(stream), in_memory_(!stream.WritesAtPosition()) {
    if (in_memory_)
      file_.emplace(memory_, 0, width, height, format, layout);
    else
      file_.emplace(stream, stream.Position(), width, height, format, layout);
  }

  void WriteRows(int y0, const TBitmap& band) override { file_->WriteRows(y0, band); }
  void WritePackedRow(int y, const uint8_t* samples) override { file_->WritePackedRow(y, samples); }

  void Finish() override {
    file_->Finish();
    if (in_memory_) stream_.WriteBuffer(memory_.Memory(), size_t(memory_.Size()));
  }

 private:
  TStream& stream_;
  bool in_memory_;
  TMemoryStream memory_;
  std::optional<SeekableTiff> file_;
};

}  // namespace

std::unique_ptr<ImageRowWriter> MakeTiffRowWriter(TStream& stream, int width, int height,
                                                  TPixelFormat format, const RasterLayout& layout) {
  if (width <= 0 || height <= 0) throw EInvalidGraphic(Format(kEmptyPictureMessage, {"TIFF"}));
  return std::make_unique<TiffRowWriter>(stream, width, height, format, layout);
}

void WriteTiff(const TBitmap& bitmap, TStream& stream) {
  WriteImage(TImageFileFormat::Tiff, bitmap, stream);
}

}  // namespace kevrale
