/* TIFF import plug-in (libtiff), first page only. Bilevel, grey and
 * paletted pages of 1, 2, 4 or 8 bits come back with their colour table
 * (fax scans included), 8-bit RGB as 24 bits, or 32 bits BGRA with an
 * alpha channel; every other kind that libtiff knows (CMYK, YCbCr, 16-bit
 * samples, separate planes, other orientations) goes through libtiff's RGBA
 * reader. Striped and tiled pages alike. */
#include <stdlib.h>
#include <string.h>
#include <tiffio.h>

#include "SpiPlugin.h"

const char* const kSpiPluginInfo[] = {
    SPI_VERSION_IMPORT, "Kevrale TIFF plug-in 1.0", "*.tif;*.tiff", "TIFF", NULL,
};

/* The largest single allocation libtiff may make (a strip or a tile). */
#ifndef SPI_TIFF_MAX_ALLOC
#define SPI_TIFF_MAX_ALLOC ((tmsize_t)256 * 1024 * 1024)
#endif

int SpiFormatIsSupported(const uint8_t* head, size_t size) {
  if (size < 4) return 0;
  /* Classic TIFF (42) and BigTIFF (43), either byte order. */
  if (head[0] == 'I' && head[1] == 'I') return (head[2] == 42 || head[2] == 43) && head[3] == 0;
  if (head[0] == 'M' && head[1] == 'M') return head[2] == 0 && (head[3] == 42 || head[3] == 43);
  return 0;
}

/* ---- libtiff's input, from memory ---- */

static tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t count) {
  if (count <= 0) return 0;
  return (tmsize_t)SpiRead((SpiReader*)handle, out, (size_t)count);
}

static tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t count) {
  (void)handle;
  (void)data;
  (void)count;
  return 0;
}

static toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  SpiReader* reader = (SpiReader*)handle;
  uint64_t base = 0;
  if (whence == SEEK_CUR)
    base = reader->pos;
  else if (whence == SEEK_END)
    base = reader->size;
  else if (whence != SEEK_SET)
    return (toff_t)-1;
  /* Offsets are unsigned; a backward SEEK_CUR arrives as a wrapped value. */
  const uint64_t target = base + offset;
  if (target > reader->size) return (toff_t)-1;
  reader->pos = (size_t)target;
  return target;
}

static int CloseProc(thandle_t handle) {
  (void)handle;
  return 0;
}

static toff_t SizeProc(thandle_t handle) {
  return ((SpiReader*)handle)->size;
}

static int MapProc(thandle_t handle, void** base, toff_t* size) {
  (void)handle;
  (void)base;
  (void)size;
  return 0;
}

static void UnmapProc(thandle_t handle, void* base, toff_t size) {
  (void)handle;
  (void)base;
  (void)size;
}

/* Messages are dropped here instead of reaching libtiff's process-wide
 * handlers, which write to the terminal. */
static int Quiet(TIFF* tif, void* data, const char* module, const char* format, va_list args) {
  (void)tif;
  (void)data;
  (void)module;
  (void)format;
  (void)args;
  return 1;
}

static TIFF* Open(SpiReader* reader) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == NULL) return NULL;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, SPI_TIFF_MAX_ALLOC);
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, NULL);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, NULL);
  /* "m": no memory mapping (there is no file). */
  TIFF* tif = TIFFClientOpenExt("memory", "rm", reader, ReadProc, WriteProc, SeekProc, CloseProc,
                                SizeProc, MapProc, UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

/* ---- What the page holds ---- */

typedef enum TiffRoute {
  kRouteIndexed, /* 1 sample of 1, 2, 4 or 8 bits: grey or palette */
  kRouteRgb8,    /* 8-bit RGB, maybe with alpha */
  kRouteRgba,    /* libtiff's RGBA reader */
} TiffRoute;

typedef struct TiffPage {
  uint32_t width, height;
  uint16_t bits_per_sample, samples, photometric, planar, orientation;
  int alpha; /* 0 none, else the EXTRASAMPLE_ kind of the first extra */
  int grey;  /* one grey sample */
  TiffRoute route;
  int bits; /* of the bitmap */
  uint32_t colors;
} TiffPage;

static void ReadPage(TIFF* tif, TiffPage* page) {
  memset(page, 0, sizeof *page);
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page->width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page->height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page->bits_per_sample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page->samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page->planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &page->orientation);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page->photometric))
    page->photometric = page->samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  uint16_t extra_count = 0;
  uint16_t* extra = NULL;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) && extra_count > 0 &&
      extra != NULL && (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA))
    page->alpha = extra[0];

  const uint16_t bps = page->bits_per_sample;
  const uint16_t pm = page->photometric;
  const int contig = page->planar == PLANARCONFIG_CONTIG || page->samples == 1;
  const int upright = page->orientation == ORIENTATION_TOPLEFT;
  page->grey = page->samples == 1 && (pm == PHOTOMETRIC_MINISBLACK || pm == PHOTOMETRIC_MINISWHITE);
  if (upright && page->samples == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8) &&
      (page->grey || pm == PHOTOMETRIC_PALETTE)) {
    page->route = kRouteIndexed;
    page->bits = bps == 2 ? 8 : bps;
    page->colors = 1u << bps;
  } else if (upright && contig && pm == PHOTOMETRIC_RGB && bps == 8 && page->samples >= 3) {
    page->route = kRouteRgb8;
    page->bits = page->alpha && page->samples >= 4 ? 32 : 24;
    if (page->bits == 24) page->alpha = 0;
  } else {
    page->route = kRouteRgba;
    page->bits = page->grey ? 8 : page->alpha ? 32 : 24;
    page->colors = page->grey ? 256 : 0;
  }
}

static void ReadDensity(TIFF* tif, uint32_t* x_ppm, uint32_t* y_ppm) {
  float x = 0, y = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) || !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y))
    return;
  if (unit == RESUNIT_INCH) {
    *x_ppm = SpiPpmFromDpi(x);
    *y_ppm = SpiPpmFromDpi(y);
  } else if (unit == RESUNIT_CENTIMETER && x > 0 && y > 0 && x < 1e6 && y < 1e6) {
    *x_ppm = (uint32_t)(x * 100 + 0.5f);
    *y_ppm = (uint32_t)(y * 100 + 0.5f);
  }
}

int SpiFormatReadInfo(const SpiInput* input, SpiImageInfo* info) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  SpiReader reader;
  SpiReaderInit(&reader, input);
  TIFF* tif = Open(&reader);
  if (tif == NULL) return SPI_BROKEN_DATA;
  TiffPage page;
  ReadPage(tif, &page);
  int result = page.width > 0 && page.height > 0 ? SPI_SUCCESS : SPI_BROKEN_DATA;
  if (result == SPI_SUCCESS) {
    info->width = (int32_t)(page.width > INT32_MAX ? INT32_MAX : page.width);
    info->height = (int32_t)(page.height > INT32_MAX ? INT32_MAX : page.height);
    info->bits = page.bits;
    ReadDensity(tif, &info->x_ppm, &info->y_ppm);
  }
  TIFFClose(tif);
  return result;
}

/* ---- Decoding ---- */

/* Un-premultiplies a colour value by its alpha. */
static uint8_t Straight(unsigned value, unsigned alpha) {
  if (alpha == 0) return 0;
  const unsigned v = (value * 255 + alpha / 2) / alpha;
  return (uint8_t)(v > 255 ? 255 : v);
}

/* One row of the page in its own sample layout to one bitmap row. */
static void ConvertRow(const TiffPage* page, const uint8_t* in, uint8_t* out, int32_t width) {
  if (page->route == kRouteIndexed) {
    if (page->bits_per_sample == 2) {
      for (int32_t x = 0; x < width; ++x) out[x] = (in[x / 4] >> (6 - 2 * (x % 4))) & 0x03;
    } else {
      memcpy(out, in, ((size_t)width * page->bits_per_sample + 7) / 8);
    }
    return;
  }
  const int samples = page->samples;
  if (page->bits == 24) {
    for (int32_t x = 0; x < width; ++x, in += samples, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  } else {
    const int premultiplied = page->alpha == EXTRASAMPLE_ASSOCALPHA;
    for (int32_t x = 0; x < width; ++x, in += samples, out += 4) {
      const uint8_t a = in[3];
      out[0] = premultiplied ? Straight(in[2], a) : in[2];
      out[1] = premultiplied ? Straight(in[1], a) : in[1];
      out[2] = premultiplied ? Straight(in[0], a) : in[0];
      out[3] = a;
    }
  }
}

static void SetColorTable(TIFF* tif, const TiffPage* page, SpiDib* dib) {
  if (page->route != kRouteIndexed) { /* grey already made upright by the RGBA reader */
    SpiDibSetGreyRamp(dib, 0);
    return;
  }
  if (page->photometric != PHOTOMETRIC_PALETTE) {
    SpiDibSetGreyRamp(dib, page->photometric == PHOTOMETRIC_MINISWHITE);
    return;
  }
  uint16_t *red = NULL, *green = NULL, *blue = NULL;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue) {
    SpiDibSetGreyRamp(dib, 0);
    return;
  }
  /* Some writers store 8-bit values in the 16-bit table. */
  int eight_bit = 1;
  for (uint32_t i = 0; i < dib->colors; ++i)
    if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eight_bit = 0;
  const int shift = eight_bit ? 0 : 8;
  for (uint32_t i = 0; i < dib->colors; ++i)
    SpiDibSetColor(dib, i, (uint8_t)(red[i] >> shift), (uint8_t)(green[i] >> shift),
                   (uint8_t)(blue[i] >> shift));
}

/* Reads the page band by band (a strip or a row of tiles), in its own
 * sample layout, and converts each row. */
static int DecodeBands(TIFF* tif, const TiffPage* page, SpiDib* dib, SpiProgress* progress) {
  const tmsize_t row_bytes = TIFFScanlineSize(tif);
  if (row_bytes <= 0) return SPI_BROKEN_DATA;
  /* The rows that one band may hold must fit what the page's width needs. */
  const uint64_t needed = ((uint64_t)page->width * page->bits_per_sample * page->samples + 7) / 8;
  if ((uint64_t)row_bytes < needed) return SPI_BROKEN_DATA;

  const int tiled = TIFFIsTiled(tif);
  uint32_t band_rows = 0, tile_width = 0;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &band_rows);
    /* Tiles must start on whole bytes of a row. */
    if (tile_width == 0 || band_rows == 0 ||
        ((uint64_t)tile_width * page->bits_per_sample * page->samples) % 8 != 0)
      return SPI_BROKEN_DATA;
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band_rows);
    if (band_rows == 0) return SPI_BROKEN_DATA;
  }
  if (band_rows > page->height) band_rows = page->height;

  uint8_t* band = malloc((size_t)row_bytes * band_rows);
  if (band == NULL) return SPI_OUT_OF_MEMORY;
  uint8_t* tile = NULL;
  tmsize_t tile_bytes = 0, tile_row_bytes = 0;
  if (tiled) {
    tile_bytes = TIFFTileSize(tif);
    tile_row_bytes = TIFFTileRowSize(tif);
    if (tile_bytes <= 0 || tile_row_bytes <= 0 ||
        (uint64_t)tile_bytes < (uint64_t)tile_row_bytes * band_rows) {
      free(band);
      return SPI_BROKEN_DATA;
    }
    tile = malloc((size_t)tile_bytes);
    if (tile == NULL) {
      free(band);
      return SPI_OUT_OF_MEMORY;
    }
  }

  int result = SpiProgressStart(progress, page->height) ? SPI_ABORTED : SPI_SUCCESS;
  for (uint32_t top = 0; top < page->height && result == SPI_SUCCESS; top += band_rows) {
    const uint32_t rows = page->height - top < band_rows ? page->height - top : band_rows;
    /* Some codecs (the fax ones) leave the padding bits at the end of a row
     * as they found them; cleared, the result never depends on what the
     * memory held before. */
    memset(band, 0, (size_t)row_bytes * band_rows);
    if (tiled) {
      for (uint32_t left = 0; left < page->width; left += tile_width) {
        memset(tile, 0, (size_t)tile_bytes);
        if (TIFFReadTile(tif, tile, left, top, 0, 0) < 0) {
          result = SPI_BROKEN_DATA;
          break;
        }
        const uint64_t offset = (uint64_t)left * page->bits_per_sample * page->samples / 8;
        uint64_t count = (uint64_t)tile_row_bytes;
        if (offset + count > (uint64_t)row_bytes) count = (uint64_t)row_bytes - offset;
        for (uint32_t r = 0; r < rows; ++r)
          memcpy(band + (size_t)r * row_bytes + offset, tile + (size_t)r * tile_row_bytes,
                 (size_t)count);
      }
    } else {
      const uint32_t strip = TIFFComputeStrip(tif, top, 0);
      if (TIFFReadEncodedStrip(tif, strip, band, (tmsize_t)rows * row_bytes) <
          (tmsize_t)rows * row_bytes)
        result = SPI_BROKEN_DATA;
    }
    if (result != SPI_SUCCESS) break;
    for (uint32_t r = 0; r < rows; ++r)
      ConvertRow(page, band + (size_t)r * row_bytes, SpiDibRow(dib, (int32_t)(top + r)),
                 dib->width);
    if (SpiProgressUpdate(progress, top + rows)) result = SPI_ABORTED;
  }
  free(tile);
  free(band);
  return result;
}

/* Every other kind, through libtiff's RGBA reader, band by band. */
static int DecodeRgba(TIFF* tif, const TiffPage* page, SpiDib* dib, SpiProgress* progress) {
  char message[1024];
  if (!TIFFRGBAImageOK(tif, message)) return SPI_UNKNOWN_FORMAT; /* a kind libtiff cannot read */
  TIFFRGBAImage image;
  if (!TIFFRGBAImageBegin(&image, tif, 1, message)) return SPI_BROKEN_DATA;
  image.req_orientation = ORIENTATION_TOPLEFT;

  uint32_t band_rows = 0;
  if (TIFFIsTiled(tif))
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &band_rows);
  else
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band_rows);
  /* Bands are whole strips or tile rows, so that each is decoded once. */
  if (band_rows == 0 || band_rows > page->height) band_rows = page->height;
  /* A page in another orientation is read in one piece. */
  if (page->orientation != ORIENTATION_TOPLEFT) band_rows = page->height;
  uint32_t* band = malloc((size_t)page->width * band_rows * sizeof *band);
  if (band == NULL) {
    TIFFRGBAImageEnd(&image);
    return SPI_OUT_OF_MEMORY;
  }

  int result = SpiProgressStart(progress, page->height) ? SPI_ABORTED : SPI_SUCCESS;
  for (uint32_t top = 0; top < page->height && result == SPI_SUCCESS; top += band_rows) {
    const uint32_t rows = page->height - top < band_rows ? page->height - top : band_rows;
    image.row_offset = (int)top;
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, band, page->width, rows)) {
      result = SPI_BROKEN_DATA;
      break;
    }
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t* in = band + (size_t)r * page->width;
      uint8_t* out = SpiDibRow(dib, (int32_t)(top + r));
      for (uint32_t x = 0; x < page->width; ++x) {
        const uint32_t p = in[x];
        if (dib->bits == 8) {
          out[x] = (uint8_t)TIFFGetR(p);
        } else if (dib->bits == 24) {
          out[x * 3] = (uint8_t)TIFFGetB(p);
          out[x * 3 + 1] = (uint8_t)TIFFGetG(p);
          out[x * 3 + 2] = (uint8_t)TIFFGetR(p);
        } else {
          /* The RGBA reader hands back premultiplied colour. */
          const unsigned a = TIFFGetA(p);
          out[x * 4] = Straight(TIFFGetB(p), a);
          out[x * 4 + 1] = Straight(TIFFGetG(p), a);
          out[x * 4 + 2] = Straight(TIFFGetR(p), a);
          out[x * 4 + 3] = (uint8_t)a;
        }
      }
    }
    if (SpiProgressUpdate(progress, top + rows)) result = SPI_ABORTED;
  }
  free(band);
  TIFFRGBAImageEnd(&image);
  return result;
}

static int DecodePage(TIFF* tif, SpiDib* dib, SpiProgress* progress) {
  TiffPage page;
  ReadPage(tif, &page);
  int result = SpiDibCreate(dib, page.width, page.height, page.bits, page.colors);
  if (result != SPI_SUCCESS) return result;
  ReadDensity(tif, &dib->x_ppm, &dib->y_ppm);
  if (dib->bits <= 8) SetColorTable(tif, &page, dib);
  if (page.route == kRouteRgba) return DecodeRgba(tif, &page, dib, progress);
  return DecodeBands(tif, &page, dib, progress);
}

int SpiFormatDecode(const SpiInput* input, SpiDib* dib, SpiProgress* progress) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  SpiReader reader;
  SpiReaderInit(&reader, input);
  TIFF* tif = Open(&reader);
  if (tif == NULL) return SPI_BROKEN_DATA;
  const int result = DecodePage(tif, dib, progress);
  TIFFClose(tif);
  return result;
}
