#include "CodecDecode.h"

#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <jpeglib.h>

/* The output buffer of the codec alone, allocated as the plug-ins' pixels
 * are: untouched memory advised for huge pages, so that the comparison
 * measures the decoding and the copies, not the page faults. */
static uint8_t* NewPixels(size_t size) {
  uint8_t* pixels = malloc(size);
  if (pixels != NULL && size >= ((size_t)4 << 20)) {
    const uintptr_t page = 4096;
    const uintptr_t begin = ((uintptr_t)pixels + page - 1) & ~(page - 1);
    const uintptr_t end = ((uintptr_t)pixels + size) & ~(page - 1);
    if (end > begin) (void)madvise((void*)begin, end - begin, MADV_HUGEPAGE);
  }
  return pixels;
}

uint8_t* BenchPicture(int width, int height) {
  uint8_t* rgb = malloc((size_t)width * height * 3);
  if (rgb == NULL) return NULL;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = rgb + ((size_t)y * width + x) * 3;
      const int line = x % 97 < 4 || y % 89 < 4 || (x + y) % 211 < 3;
      const int shade = (x / 512 + y / 512) % 3 == 0;
      if (line) {
        p[0] = p[1] = p[2] = 0;
      } else if (shade) {
        p[0] = (uint8_t)(x / 16);
        p[1] = (uint8_t)(y / 16);
        p[2] = 160;
      } else {
        p[0] = p[1] = p[2] = 255;
      }
    }
  return rgb;
}

/* ---- PNG ---- */

typedef struct Buffer {
  uint8_t* data;
  size_t size, capacity;
  size_t pos;
} Buffer;

static void PngWrite(png_structp png, png_bytep data, size_t count) {
  Buffer* b = png_get_io_ptr(png);
  if (b->size + count > b->capacity) {
    size_t capacity = b->capacity ? b->capacity * 2 : 1 << 20;
    while (capacity < b->size + count) capacity *= 2;
    uint8_t* bigger = realloc(b->data, capacity);
    if (bigger == NULL) png_error(png, "out of memory");
    b->data = bigger;
    b->capacity = capacity;
  }
  memcpy(b->data + b->size, data, count);
  b->size += count;
}

static void PngFlush(png_structp png) {
  (void)png;
}

static int PngEncodeRows(png_structp png, png_infop info, Buffer* out, const uint8_t* rgb,
                         int width, int height) {
  if (setjmp(png_jmpbuf(png))) return -1;
  png_set_write_fn(png, out, PngWrite, PngFlush);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, rgb + (size_t)y * width * 3);
  png_write_end(png, info);
  return 0;
}

uint8_t* BenchEncodePng(const uint8_t* rgb, int width, int height, size_t* size) {
  Buffer out = {NULL, 0, 0, 0};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  png_infop info = png ? png_create_info_struct(png) : NULL;
  const int ok = info != NULL && PngEncodeRows(png, info, &out, rgb, width, height) == 0;
  png_destroy_write_struct(&png, &info);
  if (!ok) {
    free(out.data);
    return NULL;
  }
  *size = out.size;
  return out.data;
}

static void PngRead(png_structp png, png_bytep out, size_t count) {
  Buffer* b = png_get_io_ptr(png);
  if (b->size - b->pos < count) png_error(png, "truncated");
  memcpy(out, b->data + b->pos, count);
  b->pos += count;
}

typedef struct PngDecode {
  png_structp png;
  png_infop info;
  Buffer in;
  uint8_t* pixels;
  unsigned checksum;
} PngDecode;

static int PngDecodeRows(PngDecode* d) {
  if (setjmp(png_jmpbuf(d->png))) return -1;
  png_set_read_fn(d->png, &d->in, PngRead);
  png_read_info(d->png, d->info);
  png_set_expand(d->png);
  png_set_gray_to_rgb(d->png);
  png_set_scale_16(d->png);
  png_set_bgr(d->png);
  const int passes = png_set_interlace_handling(d->png);
  png_read_update_info(d->png, d->info);
  const png_uint_32 height = png_get_image_height(d->png, d->info);
  const size_t stride = png_get_rowbytes(d->png, d->info);
  d->pixels = NewPixels(stride * height);
  if (d->pixels == NULL) return -1;
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(d->png, d->pixels + y * stride, NULL);
  d->checksum = d->pixels[stride * height / 2];
  return 0;
}

int BenchDecodePng(const uint8_t* data, size_t size, unsigned* checksum) {
  PngDecode d;
  memset(&d, 0, sizeof d);
  d.in.data = (uint8_t*)data;
  d.in.size = size;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
  d.info = d.png ? png_create_info_struct(d.png) : NULL;
  const int result = d.info != NULL ? PngDecodeRows(&d) : -1;
  png_destroy_read_struct(&d.png, &d.info, NULL);
  free(d.pixels);
  *checksum = d.checksum;
  return result;
}

/* ---- JPEG ---- */

typedef struct JpegError {
  struct jpeg_error_mgr mgr;
  jmp_buf escape;
} JpegError;

static void JpegExit(j_common_ptr cinfo) {
  longjmp(((JpegError*)cinfo->err)->escape, 1);
}

uint8_t* BenchEncodeJpeg(const uint8_t* rgb, int width, int height, int quality, size_t* size) {
  struct jpeg_compress_struct cinfo;
  JpegError error;
  unsigned char* out = NULL;
  unsigned long out_size = 0;
  cinfo.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = JpegExit;
  if (setjmp(error.escape)) {
    jpeg_destroy_compress(&cinfo);
    free(out);
    return NULL;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out, &out_size);
  cinfo.image_width = (JDIMENSION)width;
  cinfo.image_height = (JDIMENSION)height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = (JSAMPROW)(rgb + (size_t)cinfo.next_scanline * width * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  *size = out_size;
  return out;
}

typedef struct JpegDecode {
  struct jpeg_decompress_struct cinfo;
  JpegError error;
  uint8_t* pixels;
  unsigned checksum;
} JpegDecode;

static int JpegDecodeRows(JpegDecode* d, const uint8_t* data, size_t size) {
  if (setjmp(d->error.escape)) return -1;
  jpeg_create_decompress(&d->cinfo);
  jpeg_mem_src(&d->cinfo, data, (unsigned long)size);
  jpeg_read_header(&d->cinfo, TRUE);
  d->cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&d->cinfo);
  const size_t stride = (size_t)d->cinfo.output_width * 3;
  d->pixels = NewPixels(stride * d->cinfo.output_height);
  if (d->pixels == NULL) return -1;
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW rows[16];
    const JDIMENSION left = d->cinfo.output_height - d->cinfo.output_scanline;
    const JDIMENSION count = left < 16 ? left : 16;
    for (JDIMENSION i = 0; i < count; ++i)
      rows[i] = d->pixels + (size_t)(d->cinfo.output_scanline + i) * stride;
    jpeg_read_scanlines(&d->cinfo, rows, count);
  }
  d->checksum = d->pixels[stride * d->cinfo.output_height / 2];
  return 0;
}

int BenchDecodeJpeg(const uint8_t* data, size_t size, unsigned* checksum) {
  JpegDecode d;
  memset(&d, 0, sizeof d);
  d.cinfo.err = jpeg_std_error(&d.error.mgr);
  d.error.mgr.error_exit = JpegExit;
  const int result = JpegDecodeRows(&d, data, size);
  jpeg_destroy_decompress(&d.cinfo);
  free(d.pixels);
  *checksum = d.checksum;
  return result;
}
