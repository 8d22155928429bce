/* The part that every bundled import plug-in shares: the exported entry
 * points, the input reading (file or memory), the bitmap (DIB) that goes
 * back to the host, and the progress reports. Each plug-in supplies the
 * four format hooks at the end of this header and compiles this code in.
 *
 * Plain C, so that the codecs' longjmp error paths never cross an object
 * with a destructor. */
#ifndef KEVRALE_SPI_PLUGIN_H
#define KEVRALE_SPI_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#include "kevrale/spi.h"

/* The largest picture a plug-in decodes, in pixels: 2^28 (16384 x 16384),
 * 1 GiB as a 32-bit bitmap. A fuzz build lowers it to keep its runs light. */
#ifndef SPI_MAX_PIXELS
#define SPI_MAX_PIXELS (UINT64_C(1) << 28)
#endif

/* The bytes of the head buffer that IsSupported looks at: the host always
 * passes at least this many. */
#define SPI_HEAD_SIZE 2048

/* The image data, whole, in memory. */
typedef struct SpiInput {
  const uint8_t* data;
  size_t size;
} SpiInput;

/* A read cursor over the image data, for codecs that pull their input. */
typedef struct SpiReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
} SpiReader;

void SpiReaderInit(SpiReader* reader, const SpiInput* input);
/* Copies up to `count` bytes to `out`; returns the number copied. */
size_t SpiRead(SpiReader* reader, void* out, size_t count);

/* What GetPictureInfo reports. Densities are pixels per metre, 0 when the
 * file does not say. */
typedef struct SpiImageInfo {
  int32_t width;
  int32_t height;
  int bits; /* bits per pixel of the bitmap that GetPicture would give */
  uint32_t x_ppm;
  uint32_t y_ppm;
} SpiImageInfo;

/* The bitmap under construction: a BITMAPINFOHEADER with colour table and
 * the pixel rows, bottom-up, each padded to 4 bytes. The pixel block is
 * zero-filled when it is made. */
typedef struct SpiDib {
  int32_t width;
  int32_t height;
  int bits;                 /* 1, 4, 8, 24 or 32 (BGRA) */
  uint32_t colors;          /* entries of the colour table (1, 4 and 8 bits only) */
  uint8_t palette[256 * 4]; /* RGBQUAD: blue, green, red, 0 */
  uint32_t x_ppm;
  uint32_t y_ppm;
  size_t stride; /* bytes per row */
  SpiHandle pixels;
  uint8_t* base; /* the locked pixel block */
} SpiDib;

/* SPI_SUCCESS when a picture of this size may be decoded; SPI_BROKEN_DATA
 * for a zero or negative size, SPI_OUT_OF_MEMORY above SPI_MAX_PIXELS.
 * Decoders ask before the codec allocates anything of that size. */
int SpiCheckSize(int64_t width, int64_t height);

void SpiDibInit(SpiDib* dib);
/* Validates the size (positive, at most SPI_MAX_PIXELS) and allocates the
 * zero-filled pixel rows. SPI_SUCCESS, SPI_BROKEN_DATA for a zero or
 * negative size, SPI_OUT_OF_MEMORY for one too large or when memory runs
 * out. `colors` is the size of the colour table (0 for 24 and 32 bits). */
int SpiDibCreate(SpiDib* dib, int64_t width, int64_t height, int bits, uint32_t colors);
/* Row `y` counted from the top of the picture. */
uint8_t* SpiDibRow(const SpiDib* dib, int32_t y);
void SpiDibSetColor(SpiDib* dib, uint32_t index, uint8_t red, uint8_t green, uint8_t blue);
/* Fills the colour table with `colors` evenly spaced greys from black to
 * white, or from white to black when `inverted`. */
void SpiDibSetGreyRamp(SpiDib* dib, int inverted);
/* Replaces pixel values at or above dib->colors in a row of `width` pixels
 * by 0, so that every pixel names an entry of the colour table. Does
 * nothing when the table is full for the bit count. */
void SpiDibClampIndices(const SpiDib* dib, uint8_t* row, int32_t width);
/* Builds the information block and hands both blocks to the caller. */
int SpiDibFinish(SpiDib* dib, SpiHandle* info, SpiHandle* pixels);
/* Frees what the bitmap still holds; safe to call more than once. */
void SpiDibDiscard(SpiDib* dib);

/* Progress reports to the host's callback, `done` out of `total` units,
 * at most about a hundred of them per decode. */
typedef struct SpiProgress {
  SpiProgressCallback callback;
  intptr_t data;
  int32_t total;
  int32_t step;
  int64_t next; /* the next unit that is due */
} SpiProgress;

/* Sets the total and reports 0; non-zero when the callback asks to stop. */
int SpiProgressStart(SpiProgress* progress, int64_t total);
/* Reports `done` (at most the total) when it is due; non-zero when the
 * callback asks to stop. The last unit is always reported. */
int SpiProgressUpdate(SpiProgress* progress, int64_t done);

/* Converts between pixels per metre and per inch. */
uint32_t SpiPpmFromDpi(double dpi);
uint16_t SpiDpiFromPpm(uint32_t ppm);

/* The format hooks that each plug-in defines. */

/* "00IN", the name and version, then pairs of filter and format name, then
 * NULL. */
extern const char* const kSpiPluginInfo[];
/* Non-zero when the first SPI_HEAD_SIZE bytes look like this format. */
int SpiFormatIsSupported(const uint8_t* head, size_t size);
/* Reads the header only. A picture function result code. */
int SpiFormatReadInfo(const SpiInput* input, SpiImageInfo* info);
/* Decodes the picture into `dib` (which it creates with SpiDibCreate),
 * reporting progress. A picture function result code; on failure the
 * caller discards the bitmap. */
int SpiFormatDecode(const SpiInput* input, SpiDib* dib, SpiProgress* progress);

#endif /* KEVRALE_SPI_PLUGIN_H */
