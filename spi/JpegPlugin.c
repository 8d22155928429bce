/* JPEG import plug-in (libjpeg-turbo). Greyscale pictures come back as 8
 * bits with a grey colour table, everything else (YCbCr, RGB, CMYK, YCCK)
 * as 24 bits. A file that ends before its picture does, or whose scan
 * data libjpeg finds missing or corrupt, is refused. */
#include <setjmp.h>
#include <stdio.h> /* jpeglib.h needs FILE */
#include <string.h>

#include <jerror.h>
#include <jpeglib.h>

#include "SpiPlugin.h"

const char* const kSpiPluginInfo[] = {
    SPI_VERSION_IMPORT, "Kevrale JPEG plug-in 1.0", "*.jpg;*.jpeg;*.jpe;*.jfif", "JPEG", NULL,
};

/* The most memory that libjpeg may take for one picture (a progressive
 * picture keeps all its coefficients), on top of the bitmap. */
#ifndef SPI_JPEG_MAX_MEMORY
#define SPI_JPEG_MAX_MEMORY (1536L * 1024 * 1024)
#endif

int SpiFormatIsSupported(const uint8_t* head, size_t size) {
  /* Start of image, then the first marker. */
  return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

/* libjpeg leaves through error_exit on every error; the state lives here,
 * out of the frame that calls setjmp. */
typedef struct JpegJob {
  struct jpeg_decompress_struct cinfo;
  struct jpeg_error_mgr error;
  jmp_buf escape;
  int code; /* the result that the escape returns */
  const SpiInput* input;
  SpiImageInfo image;
  SpiDib* dib;
  SpiProgress* progress;
} JpegJob;

static void OnErrorExit(j_common_ptr cinfo) {
  JpegJob* job = (JpegJob*)cinfo->client_data;
  const int code = cinfo->err->msg_code;
  job->code = code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? SPI_OUT_OF_MEMORY
                                                                          : SPI_BROKEN_DATA;
  longjmp(job->escape, 1);
}

/* The warnings by which libjpeg says that scan data is missing or corrupt.
 * It goes on regardless and fills what it lacks with grey, so a picture
 * decoded past one of them is not the file's picture. */
static int MeansBrokenData(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:      /* the data ends before the picture */
    case JWRN_HIT_MARKER:    /* a marker stands inside the scan data */
    case JWRN_HUFF_BAD_CODE: /* entropy-coded data that decodes to nothing */
    case JWRN_MUST_RESYNC:   /* a restart marker is missing */
      return 1;
    default:
      return 0;
  }
}

static void OnMessage(j_common_ptr cinfo, int level) {
  /* Other warnings (extra bytes between segments, odd markers) leave the
   * picture whole. */
  if (level < 0 && MeansBrokenData(cinfo->err->msg_code)) {
    JpegJob* job = (JpegJob*)cinfo->client_data;
    job->code = SPI_BROKEN_DATA;
    longjmp(job->escape, 1);
  }
}

static void OnOutput(j_common_ptr cinfo) {
  (void)cinfo;
}

static void Begin(JpegJob* job) {
  struct jpeg_decompress_struct* cinfo = &job->cinfo;
  cinfo->mem->max_memory_to_use = SPI_JPEG_MAX_MEMORY;
  jpeg_mem_src(cinfo, job->input->data, (unsigned long)job->input->size);
  jpeg_read_header(cinfo, TRUE);

  const int grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
  job->image.width = (int32_t)cinfo->image_width;
  job->image.height = (int32_t)cinfo->image_height;
  job->image.bits = grey ? 8 : 24;
  if (cinfo->saw_JFIF_marker && cinfo->density_unit == 1) {
    job->image.x_ppm = SpiPpmFromDpi(cinfo->X_density);
    job->image.y_ppm = SpiPpmFromDpi(cinfo->Y_density);
  } else if (cinfo->saw_JFIF_marker && cinfo->density_unit == 2) {
    job->image.x_ppm = cinfo->X_density * 100u;
    job->image.y_ppm = cinfo->Y_density * 100u;
  }
}

static int ReadInfoSteps(JpegJob* job) {
  Begin(job);
  return SPI_SUCCESS;
}

/* Adobe's CMYK files store inverted inks; others store them plainly. */
static void CmykToBgr(const JSAMPLE* in, uint8_t* out, int32_t width, int inverted) {
  for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = (uint8_t)((y * k + 127) / 255);
    out[1] = (uint8_t)((m * k + 127) / 255);
    out[2] = (uint8_t)((c * k + 127) / 255);
  }
}

static int DecodeSteps(JpegJob* job) {
  struct jpeg_decompress_struct* cinfo = &job->cinfo;
  Begin(job);
  int result = SpiCheckSize(job->image.width, job->image.height);
  if (result != SPI_SUCCESS) return result;

  const int cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  if (job->image.bits == 8)
    cinfo->out_color_space = JCS_GRAYSCALE;
  else
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(cinfo);
  if ((int32_t)cinfo->output_width != job->image.width ||
      (int32_t)cinfo->output_height != job->image.height)
    return SPI_INTERNAL_ERROR;

  SpiDib* dib = job->dib;
  result = SpiDibCreate(dib, job->image.width, job->image.height, job->image.bits,
                        job->image.bits == 8 ? 256 : 0);
  if (result != SPI_SUCCESS) return result;
  dib->x_ppm = job->image.x_ppm;
  dib->y_ppm = job->image.y_ppm;
  if (dib->bits == 8) SpiDibSetGreyRamp(dib, 0);

  /* CMYK rows go through a row of libjpeg's pool, which it frees itself
   * also on the error path. */
  JSAMPARRAY cmyk_row = NULL;
  if (cmyk)
    cmyk_row =
        (*cinfo->mem->alloc_sarray)((j_common_ptr)cinfo, JPOOL_IMAGE, cinfo->output_width * 4, 1);

  if (SpiProgressStart(job->progress, dib->height)) return SPI_ABORTED;
  while (cinfo->output_scanline < cinfo->output_height) {
    const int32_t y = (int32_t)cinfo->output_scanline;
    if (cmyk) {
      if (jpeg_read_scanlines(cinfo, cmyk_row, 1) != 1) return SPI_BROKEN_DATA;
      CmykToBgr(cmyk_row[0], SpiDibRow(dib, y), dib->width, cinfo->saw_Adobe_marker);
    } else {
      /* Several rows a call: the bitmap's rows lie bottom-up in memory. */
      JSAMPROW rows[16];
      int32_t count = dib->height - y < 16 ? dib->height - y : 16;
      for (int32_t i = 0; i < count; ++i) rows[i] = SpiDibRow(dib, y + i);
      if (jpeg_read_scanlines(cinfo, rows, (JDIMENSION)count) == 0) return SPI_BROKEN_DATA;
    }
    if (SpiProgressUpdate(job->progress, cinfo->output_scanline)) return SPI_ABORTED;
  }
  return SPI_SUCCESS;
}

/* Calls setjmp and nothing else, so that no local of this frame changes
 * between setjmp and longjmp. */
static int RunGuarded(JpegJob* job, int (*steps)(JpegJob*)) {
  if (setjmp(job->escape)) return job->code;
  return steps(job);
}

static int Run(const SpiInput* input, JpegJob* job, int (*steps)(JpegJob*)) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  job->input = input;
  job->cinfo.err = jpeg_std_error(&job->error);
  job->error.error_exit = OnErrorExit;
  job->error.emit_message = OnMessage;
  job->error.output_message = OnOutput;
  job->cinfo.client_data = job;
  job->code = SPI_OUT_OF_MEMORY; /* the one error jpeg_create_decompress has */
  int result;
  if (setjmp(job->escape)) {
    result = job->code;
  } else {
    jpeg_create_decompress(&job->cinfo);
    result = RunGuarded(job, steps);
  }
  jpeg_destroy_decompress(&job->cinfo);
  return result;
}

int SpiFormatReadInfo(const SpiInput* input, SpiImageInfo* info) {
  JpegJob job;
  memset(&job, 0, sizeof job);
  const int result = Run(input, &job, ReadInfoSteps);
  if (result == SPI_SUCCESS) *info = job.image;
  return result;
}

int SpiFormatDecode(const SpiInput* input, SpiDib* dib, SpiProgress* progress) {
  JpegJob job;
  memset(&job, 0, sizeof job);
  job.dib = dib;
  job.progress = progress;
  return Run(input, &job, DecodeSteps);
}
