/* PNG import plug-in (libpng). Paletted and grey pictures come back with
 * their colour table at 1, 4 or 8 bits, colour at 24 bits, and anything
 * with transparency (an alpha channel or a tRNS chunk) at 32 bits BGRA.
 * Sixteen-bit samples are scaled to eight. */
#include <png.h>
#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

#include "SpiPlugin.h"

const char* const kSpiPluginInfo[] = {
    SPI_VERSION_IMPORT, "Kevrale PNG plug-in 1.0", "*.png", "PNG", NULL,
};

int SpiFormatIsSupported(const uint8_t* head, size_t size) {
  return size >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

/* One decode. libpng leaves through longjmp on every error, so the state
 * lives here, where the function that called setjmp can still see it. */
typedef struct PngJob {
  SpiReader reader;
  png_structp png;
  png_infop info;
  int out_of_memory;
  SpiImageInfo image;
  /* What the reading needs: */
  SpiDib* dib;
  SpiProgress* progress;
} PngJob;

static void ReadData(png_structp png, png_bytep out, size_t count) {
  PngJob* job = png_get_io_ptr(png);
  if (SpiRead(&job->reader, out, count) != count) png_error(png, "unexpected end of data");
}

static void OnError(png_structp png, png_const_charp message) {
  (void)message;
  png_longjmp(png, 1);
}

static void OnWarning(png_structp png, png_const_charp message) {
  (void)png;
  (void)message;
}

static png_voidp Allocate(png_structp png, png_alloc_size_t size) {
  png_voidp p = malloc(size);
  if (p == NULL) {
    PngJob* job = png_get_error_ptr(png);
    if (job != NULL) job->out_of_memory = 1;
  }
  return p;
}

static void Release(png_structp png, png_voidp p) {
  (void)png;
  free(p);
}

/* Reads the header and chooses the bitmap: sets job->image and, when
 * `transform` is set, the libpng transformations that produce its rows.
 * Returns the size of the colour table. */
static uint32_t ChooseOutput(PngJob* job, int transform) {
  png_structp png = job->png;
  png_infop info = job->info;
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int color_type = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  int bits = 24;
  uint32_t colors = 0;
  if (color_type == PNG_COLOR_TYPE_PALETTE && !has_trns) {
    png_colorp palette = NULL;
    int count = 0;
    if (!png_get_PLTE(png, info, &palette, &count) || count <= 0) png_error(png, "no palette");
    bits = depth == 2 ? 8 : depth; /* a bitmap has no 2-bit form */
    colors = (uint32_t)count;
    if (colors > (1u << depth)) colors = 1u << depth;
    if (transform && depth == 2) png_set_packing(png);
  } else if (color_type == PNG_COLOR_TYPE_GRAY && !has_trns) {
    bits = depth == 2 || depth == 16 ? 8 : depth;
    colors = 1u << (depth == 16 ? 8 : depth);
    if (transform) {
      if (depth == 2) png_set_packing(png);
      if (depth == 16) png_set_scale_16(png);
    }
  } else {
    const int alpha = has_trns || (color_type & PNG_COLOR_MASK_ALPHA) != 0;
    bits = alpha ? 32 : 24;
    if (transform) {
      png_set_expand(png); /* palette to RGB, grey to 8 bits, tRNS to alpha */
      png_set_gray_to_rgb(png);
      png_set_scale_16(png);
      png_set_bgr(png);
    }
  }

  png_uint_32 x_ppm = 0, y_ppm = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x_ppm, &y_ppm, &unit) && unit == PNG_RESOLUTION_METER) {
    job->image.x_ppm = x_ppm;
    job->image.y_ppm = y_ppm;
  }
  job->image.width = (int32_t)(width > INT32_MAX ? INT32_MAX : width);
  job->image.height = (int32_t)(height > INT32_MAX ? INT32_MAX : height);
  job->image.bits = bits;
  return colors;
}

static int ReadInfoSteps(PngJob* job) {
  ChooseOutput(job, 0);
  return SPI_SUCCESS;
}

static int DecodeSteps(PngJob* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  SpiDib* dib = job->dib;
  const uint32_t colors = ChooseOutput(job, 1);
  /* Before libpng allocates its row buffers. */
  int result = SpiCheckSize(job->image.width, job->image.height);
  if (result != SPI_SUCCESS) return result;
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  result = SpiDibCreate(dib, job->image.width, job->image.height, job->image.bits, colors);
  if (result != SPI_SUCCESS) return result;
  dib->x_ppm = job->image.x_ppm;
  dib->y_ppm = job->image.y_ppm;
  /* The transformed rows must be exactly the bitmap's rows. */
  const size_t row_bytes = ((size_t)dib->width * (size_t)dib->bits + 7) / 8;
  if (png_get_rowbytes(png, info) != row_bytes) return SPI_INTERNAL_ERROR;

  const int color_type = png_get_color_type(png, info);
  if (dib->bits <= 8) {
    if (color_type == PNG_COLOR_TYPE_PALETTE) {
      png_colorp palette = NULL;
      int count = 0;
      png_get_PLTE(png, info, &palette, &count);
      for (uint32_t i = 0; i < colors; ++i)
        SpiDibSetColor(dib, i, palette[i].red, palette[i].green, palette[i].blue);
    } else {
      SpiDibSetGreyRamp(dib, 0);
    }
  }

  const int64_t units = (int64_t)passes * dib->height;
  if (SpiProgressStart(job->progress, units)) return SPI_ABORTED;
  for (int pass = 0; pass < passes; ++pass) {
    for (int32_t y = 0; y < dib->height; ++y) {
      png_read_row(png, SpiDibRow(dib, y), NULL);
      if (SpiProgressUpdate(job->progress, (int64_t)pass * dib->height + y + 1)) return SPI_ABORTED;
    }
  }
  if (color_type == PNG_COLOR_TYPE_PALETTE)
    for (int32_t y = 0; y < dib->height; ++y)
      SpiDibClampIndices(dib, SpiDibRow(dib, y), dib->width);
  return SPI_SUCCESS;
}

/* Calls setjmp and nothing else, so that no local variable of this frame
 * changes between setjmp and a longjmp. */
static int RunGuarded(PngJob* job, int (*steps)(PngJob*)) {
  if (setjmp(png_jmpbuf(job->png))) return job->out_of_memory ? SPI_OUT_OF_MEMORY : SPI_BROKEN_DATA;
  return steps(job);
}

static int Run(const SpiInput* input, PngJob* job, int (*steps)(PngJob*)) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  SpiReaderInit(&job->reader, input);
  job->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, job, OnError, OnWarning, job, Allocate,
                                      Release);
  if (job->png == NULL) return SPI_OUT_OF_MEMORY;
  job->info = png_create_info_struct(job->png);
  if (job->info == NULL) {
    png_destroy_read_struct(&job->png, NULL, NULL);
    return SPI_OUT_OF_MEMORY;
  }
  png_set_read_fn(job->png, job, ReadData);
  /* Our own size check comes after the header; libpng's would stop at a
   * million pixels a side. */
  png_set_user_limits(job->png, 0x7fffffff, 0x7fffffff);
  /* A chunk with a bad CRC is read as it is; the checksum of the image
   * data is not computed either, which costs a sixth of the decoding. */
  png_set_crc_action(job->png, PNG_CRC_DEFAULT, PNG_CRC_WARN_USE);
  png_set_option(job->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  const int result = RunGuarded(job, steps);
  png_destroy_read_struct(&job->png, &job->info, NULL);
  return result;
}

int SpiFormatReadInfo(const SpiInput* input, SpiImageInfo* info) {
  PngJob job;
  memset(&job, 0, sizeof job);
  const int result = Run(input, &job, ReadInfoSteps);
  if (result == SPI_SUCCESS) *info = job.image;
  return result;
}

int SpiFormatDecode(const SpiInput* input, SpiDib* dib, SpiProgress* progress) {
  PngJob job;
  memset(&job, 0, sizeof job);
  job.dib = dib;
  job.progress = progress;
  return Run(input, &job, DecodeSteps);
}
