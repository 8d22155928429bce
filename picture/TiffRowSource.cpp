// The rows of the first page of a TIFF file, decoded with libtiff as the
// bundled TIFF plug-in decodes them and as the bitmap then takes them: grey
// and palette pages of 1, 2, 4 or 8 bits through their colour table, 8-bit
// RGB (with alpha where it varies), and every other kind through libtiff's
// RGBA reader. A strip, or a row of tiles, is decoded at a time.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "picture/BmpHeader.h"
#include "picture/RasterLayout.h"
#include "picture/RowConversions.h"
#include "picture/RowDecoders.h"
#include "picture/TiffClient.h"
#include "platform/Stream.h"

namespace kevrale {

namespace {

// The largest single allocation libtiff may make, as in the plug-in.
constexpr tmsize_t kMaxAlloc = tmsize_t(256) * 1024 * 1024;

struct TiffInput {
  TStream* stream;
  int64_t position;
  int64_t size;
};

tmsize_t ReadProc(thandle_t handle, void* data, tmsize_t size) {
  auto* in = static_cast<TiffInput*>(handle);
  if (size <= 0) return 0;
  size_t got = 0;
  try {
    got = in->stream->ReadAt(data, size_t(size), in->position);
  } catch (...) {
    return -1;
  }
  in->position += int64_t(got);
  return tmsize_t(got);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* in = static_cast<TiffInput*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR)
    base = uint64_t(in->position);
  else if (whence == SEEK_END)
    base = uint64_t(in->size);
  else if (whence != SEEK_SET)
    return toff_t(-1);
  // Offsets are unsigned; a backward SEEK_CUR arrives as a wrapped value.
  const uint64_t target = base + offset;
  if (target > uint64_t(in->size)) return toff_t(-1);
  in->position = int64_t(target);
  return target;
}

toff_t SizeProc(thandle_t handle) {
  return toff_t(static_cast<TiffInput*>(handle)->size);
}

enum class Route { Indexed, Rgb8, Rgba };

// The page as the plug-in sees it.
struct Page {
  uint32_t width = 0, height = 0;
  uint16_t bits_per_sample = 0, samples = 0, photometric = 0, planar = 0, orientation = 0;
  int alpha = 0;  // 0 none, else the EXTRASAMPLE_ kind of the first extra sample
  bool grey = false;
  Route route = Route::Rgba;
  int bits = 24;  // of the plug-in's bitmap
  std::vector<uint32_t> table;
  SourceFacts facts;
};

uint32_t PpmFromDpi(double dpi) {
  if (!(dpi > 0) || dpi > 1e6) return 0;
  return uint32_t(std::lround(dpi / 0.0254));
}

void ReadDensity(TIFF* tif, SourceFacts& facts) {
  float x = 0, y = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) || !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y))
    return;
  if (unit == RESUNIT_INCH) {
    facts.x_ppm = PpmFromDpi(x);
    facts.y_ppm = PpmFromDpi(y);
  } else if (unit == RESUNIT_CENTIMETER && x > 0 && y > 0 && x < 1e6 && y < 1e6) {
    facts.x_ppm = uint32_t(x * 100 + 0.5f);
    facts.y_ppm = uint32_t(y * 100 + 0.5f);
  }
}

uint32_t Opaque(uint32_t r, uint32_t g, uint32_t b) {
  return 0xFF000000u | r << 16 | g << 8 | b;
}

std::vector<uint32_t> ColourTable(TIFF* tif, const Page& page) {
  const uint32_t n = 1u << page.bits_per_sample;
  if (page.photometric != PHOTOMETRIC_PALETTE)
    return GreyRamp(n, page.photometric == PHOTOMETRIC_MINISWHITE);
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
    return GreyRamp(n, false);
  // Some writers store 8-bit values in the 16-bit table.
  bool eight_bit = true;
  for (uint32_t i = 0; i < n; ++i)
    if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eight_bit = false;
  const int shift = eight_bit ? 0 : 8;
  std::vector<uint32_t> table;
  for (uint32_t i = 0; i < n; ++i)
    table.push_back(
        Opaque(red[i] >> shift & 0xFF, green[i] >> shift & 0xFF, blue[i] >> shift & 0xFF));
  return table;
}

Page ReadPage(TIFF* tif) {
  Page page;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page.bits_per_sample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &page.orientation);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric))
    page.photometric = page.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  uint16_t extra_count = 0;
  uint16_t* extra = nullptr;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) && extra_count > 0 &&
      extra != nullptr &&
      (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA))
    page.alpha = extra[0];

  const uint16_t bps = page.bits_per_sample;
  const uint16_t pm = page.photometric;
  const bool contig = page.planar == PLANARCONFIG_CONTIG || page.samples == 1;
  const bool upright = page.orientation == ORIENTATION_TOPLEFT;
  page.grey = page.samples == 1 && (pm == PHOTOMETRIC_MINISBLACK || pm == PHOTOMETRIC_MINISWHITE);
  if (upright && page.samples == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8) &&
      (page.grey || pm == PHOTOMETRIC_PALETTE)) {
    page.route = Route::Indexed;
    page.bits = 8;
    page.table = ColourTable(tif, page);
  } else if (upright && contig && pm == PHOTOMETRIC_RGB && bps == 8 && page.samples >= 3) {
    page.route = Route::Rgb8;
    page.bits = page.alpha && page.samples >= 4 ? 32 : 24;
    if (page.bits == 24) page.alpha = 0;
  } else {
    page.route = Route::Rgba;
    page.bits = page.grey ? 8 : page.alpha ? 32 : 24;
    if (page.grey) page.table = GreyRamp(256);
  }
  if (page.bits == 8) page.facts.colours = page.table;
  ReadDensity(tif, page.facts);
  return page;
}

TiffHandle Open(TiffInput& input) {
  return OpenTiffClient("r", &input, ReadProc, WriteProc, SeekProc, SizeProc, kMaxAlloc);
}

// Un-premultiplies a colour value by its alpha, as the plug-in does.
uint8_t Straight(unsigned value, unsigned alpha) {
  if (alpha == 0) return 0;
  const unsigned v = (value * 255 + alpha / 2) / alpha;
  return uint8_t(v > 255 ? 255 : v);
}

[[noreturn]] void Broken() {
  throw ERowSourceFailed("TIFF: the page cannot be decoded");
}

class TiffRowSource final : public ImageRowSource {
 public:
  TiffRowSource(std::unique_ptr<TiffInput> input, TiffHandle tif, Page page)
      : input_(std::move(input)), tif_(std::move(tif)), page_(std::move(page)) {
    width_ = int(page_.width);
    height_ = int(page_.height);
    facts_ = page_.facts;
    format_ = page_.bits == 32 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
    if (page_.route == Route::Indexed) {
      codes_ = CodeColours(page_.table, page_.table.empty() ? 0xFF000000u : page_.table[0]);
      for (uint32_t& c : codes_) c |= 0xFF000000u;
      grey_ramp_ = IsGreyRamp(codes_);
    }
    Prepare();
  }

  ~TiffRowSource() override {
    if (rgba_begun_) TIFFRGBAImageEnd(&rgba_image_);
  }
  TiffRowSource(const TiffRowSource&) = delete;
  TiffRowSource& operator=(const TiffRowSource&) = delete;

  void Check() override {
    if (checked_) return;
    checked_ = true;
    if (page_.bits != 32) return;
    // The bitmap keeps the alpha of the plug-in's 32-bit rows only where
    // it varies, or is one value other than 0 and 255.
    AlphaBytes alpha;
    std::vector<uint8_t> row(size_t(width_) * 4);
    for (int y = 0; y < height_ && !alpha.Mixed(); ++y) {
      ConvertRow(y, row.data(), 4, true);
      alpha.Add(row.data(), size_t(width_));
    }
    if (!alpha.Mixed()) format_ = TPixelFormat::pf24bit;
  }

  void ReadRows(int y0, TBitmap& band) override {
    if (!checked_ || band.Width() != width_ || y0 < 0 || band.Height() > height_ - y0)
      throw std::logic_error("TiffRowSource: rows outside the picture");
    const int out_bytes = band.BytesPerPixel();
    const bool keep_alpha = out_bytes == 4 && format_ == TPixelFormat::pf32bit;
    for (int i = 0; i < band.Height(); ++i) {
      uint8_t* out = band.ScanLine(i);
      ConvertRow(y0 + i, out, out_bytes, keep_alpha);
      const size_t used = size_t(width_) * size_t(out_bytes);
      std::memset(out + used, 0, band.Stride() - used);
    }
  }

 private:
  // The band layout of the page, checked as the plug-in checks it.
  void Prepare() {
    TIFF* tif = tif_.get();
    const bool tiled = TIFFIsTiled(tif) != 0;
    if (page_.route == Route::Rgba) {
      char message[1024];
      if (!TIFFRGBAImageOK(tif, message)) Broken();
      if (tiled)
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &band_rows_);
      else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band_rows_);
      if (band_rows_ == 0 || band_rows_ > page_.height) band_rows_ = page_.height;
      // A page in another orientation is read in one piece.
      if (page_.orientation != ORIENTATION_TOPLEFT) band_rows_ = page_.height;
      rgba_.resize(size_t(page_.width) * band_rows_);
      return;
    }
    row_bytes_ = TIFFScanlineSize(tif);
    if (row_bytes_ <= 0) Broken();
    const uint64_t needed = (uint64_t(page_.width) * page_.bits_per_sample * page_.samples + 7) / 8;
    if (uint64_t(row_bytes_) < needed) Broken();
    if (tiled) {
      TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width_);
      TIFFGetField(tif, TIFFTAG_TILELENGTH, &band_rows_);
      if (tile_width_ == 0 || band_rows_ == 0 ||
          (uint64_t(tile_width_) * page_.bits_per_sample * page_.samples) % 8 != 0)
        Broken();
    } else {
      TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band_rows_);
      if (band_rows_ == 0) Broken();
    }
    if (band_rows_ > page_.height) band_rows_ = page_.height;
    band_.resize(size_t(row_bytes_) * band_rows_);
    if (tiled) {
      tile_bytes_ = TIFFTileSize(tif);
      tile_row_bytes_ = TIFFTileRowSize(tif);
      if (tile_bytes_ <= 0 || tile_row_bytes_ <= 0 ||
          uint64_t(tile_bytes_) < uint64_t(tile_row_bytes_) * band_rows_)
        Broken();
      tile_.resize(size_t(tile_bytes_));
    }
  }

  // Makes the band that holds row y the decoded one.
  void Hold(int y) {
    const uint32_t top = uint32_t(y) / band_rows_ * band_rows_;
    if (held_ && top == top_) return;
    held_ = false;
    const uint32_t rows = std::min(band_rows_, page_.height - top);
    TIFF* tif = tif_.get();
    if (page_.route == Route::Rgba) {
      if (!rgba_begun_) {
        char message[1024];
        if (!TIFFRGBAImageBegin(&rgba_image_, tif, 1, message)) Broken();
        rgba_begun_ = true;
        rgba_image_.req_orientation = ORIENTATION_TOPLEFT;
      }
      rgba_image_.row_offset = int(top);
      rgba_image_.col_offset = 0;
      if (!TIFFRGBAImageGet(&rgba_image_, rgba_.data(), page_.width, rows)) Broken();
    } else {
      // Some codecs (the fax ones) leave a row's padding bits as they found
      // them; cleared, the rows never depend on what the memory held. Rows
      // of whole bytes have no padding, and every byte of them is decoded.
      if (uint64_t(page_.width) * page_.bits_per_sample * page_.samples % 8 != 0)
        std::fill(band_.begin(), band_.end(), 0);
      if (TIFFIsTiled(tif)) {
        for (uint32_t left = 0; left < page_.width; left += tile_width_) {
          std::fill(tile_.begin(), tile_.end(), 0);
          if (TIFFReadTile(tif, tile_.data(), left, top, 0, 0) < 0) Broken();
          const uint64_t offset = uint64_t(left) * page_.bits_per_sample * page_.samples / 8;
          uint64_t count = uint64_t(tile_row_bytes_);
          if (offset + count > uint64_t(row_bytes_)) count = uint64_t(row_bytes_) - offset;
          for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(band_.data() + size_t(r) * size_t(row_bytes_) + offset,
                        tile_.data() + size_t(r) * size_t(tile_row_bytes_), size_t(count));
        }
      } else {
        const uint32_t strip = TIFFComputeStrip(tif, top, 0);
        const tmsize_t want = tmsize_t(rows) * row_bytes_;
        if (TIFFReadEncodedStrip(tif, strip, band_.data(), want) < want) Broken();
      }
    }
    top_ = top;
    held_ = true;
  }

  // Row y in B G R, or B G R A (`out_bytes` 4): the alpha of the page where
  // `keep_alpha`, else 255.
  void ConvertRow(int y, uint8_t* out, int out_bytes, bool keep_alpha) {
    Hold(y);
    const uint32_t r = uint32_t(y) - top_;
    const int width = width_;
    const auto put = [&](uint8_t*& o, uint32_t c, unsigned a) {
      o[0] = uint8_t(c);
      o[1] = uint8_t(c >> 8);
      o[2] = uint8_t(c >> 16);
      if (out_bytes == 4) o[3] = uint8_t(keep_alpha ? a : 255);
      o += out_bytes;
    };
    if (page_.route == Route::Rgba) {
      const uint32_t* in = rgba_.data() + size_t(r) * page_.width;
      for (int x = 0; x < width; ++x) {
        const uint32_t p = in[x];
        if (page_.bits == 8) {
          put(out, page_.table[TIFFGetR(p)], 255);
        } else if (page_.bits == 24) {
          put(out, Opaque(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)), 255);
        } else {
          // The RGBA reader hands back premultiplied colour.
          const unsigned a = TIFFGetA(p);
          put(out,
              Opaque(Straight(TIFFGetR(p), a), Straight(TIFFGetG(p), a), Straight(TIFFGetB(p), a)),
              a);
        }
      }
      return;
    }
    const uint8_t* in = band_.data() + size_t(r) * size_t(row_bytes_);
    if (page_.route == Route::Indexed) {
      const int bps = page_.bits_per_sample;
      if (bps == 8) {
        if (grey_ramp_)
          PutGreyLevels(in, width, out, out_bytes);
        else
          PutCodedColours(in, width, codes_, out, out_bytes);
        return;
      }
      for (int x = 0; x < width; ++x) {
        const size_t bit = size_t(x) * size_t(bps);
        const unsigned index = (in[bit / 8] >> (8 - bps - bit % 8)) & ((1u << bps) - 1);
        put(out, page_.table[index], 255);
      }
      return;
    }
    const int samples = page_.samples;
    if (page_.bits == 24 && samples == 3 && out_bytes == 3) {
      SwapRedBlue(in, width, 3, out);  // R G B samples into B G R pixels
      return;
    }
    if (page_.bits == 24) {
      // R G B samples into opaque B G R (A) pixels; a 3-byte pixel that
      // another follows is stored as 4 bytes, the fourth overwritten next.
      int x = 0;
      for (; x + (out_bytes == 3) < width; ++x, in += samples, out += out_bytes)
        PutWord(out, Opaque(in[0], in[1], in[2]));
      if (x < width) put(out, Opaque(in[0], in[1], in[2]), 255);
      return;
    }
    const bool premultiplied = page_.alpha == EXTRASAMPLE_ASSOCALPHA;
    for (int x = 0; x < width; ++x, in += samples) {
      if (page_.bits == 24) {
        put(out, Opaque(in[0], in[1], in[2]), 255);
      } else {
        const uint8_t a = in[3];
        put(out,
            premultiplied ? Opaque(Straight(in[0], a), Straight(in[1], a), Straight(in[2], a))
                          : Opaque(in[0], in[1], in[2]),
            a);
      }
    }
  }

  std::unique_ptr<TiffInput> input_;
  TiffHandle tif_;
  Page page_;
  // An indexed page's colour of each 8-bit code, and whether it is the
  // plain grey of that level.
  std::array<uint32_t, 256> codes_{};
  bool grey_ramp_ = false;
  bool checked_ = false;
  uint32_t band_rows_ = 0;
  uint32_t tile_width_ = 0;
  tmsize_t row_bytes_ = 0;
  tmsize_t tile_bytes_ = 0;
  tmsize_t tile_row_bytes_ = 0;
  std::vector<uint8_t> band_;
  std::vector<uint8_t> tile_;
  std::vector<uint32_t> rgba_;
  TIFFRGBAImage rgba_image_{};
  bool rgba_begun_ = false;
  bool held_ = false;
  uint32_t top_ = 0;
};

struct OpenedPage {
  std::unique_ptr<TiffInput> input;  // libtiff keeps a pointer to it
  TiffHandle tif;
  Page page;
};

std::optional<OpenedPage> OpenPage(TStream& stream) {
  OpenedPage opened{std::make_unique<TiffInput>(TiffInput{&stream, 0, 0}), nullptr, {}};
  try {
    opened.input->size = stream.Size();
  } catch (const std::exception&) {
    return std::nullopt;
  }
  opened.tif = Open(*opened.input);
  if (!opened.tif) return std::nullopt;
  opened.page = ReadPage(opened.tif.get());
  return opened;
}

}  // namespace

std::unique_ptr<ImageRowSource> OpenTiffRowSource(TStream& stream, const TLoadLimits& limits) {
  std::optional<OpenedPage> opened = OpenPage(stream);
  if (!opened) return nullptr;
  const Page& page = opened->page;
  if (!StreamableSize(page.width, page.height, limits)) return nullptr;
  try {
    return std::make_unique<TiffRowSource>(std::move(opened->input), std::move(opened->tif),
                                           std::move(opened->page));
  } catch (const ERowSourceFailed&) {
    return nullptr;
  }
}

std::optional<SourceFacts> ReadTiffFacts(TStream& stream) {
  std::optional<OpenedPage> opened = OpenPage(stream);
  if (!opened) return std::nullopt;
  return opened->page.facts;
}

}  // namespace kevrale
