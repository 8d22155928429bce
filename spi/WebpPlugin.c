/* WebP import plug-in (libwebp), lossy and lossless; the first frame of an
 * animation. Pictures with alpha come back as 32 bits BGRA, the others as
 * 24 bits. */
#include <string.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include "SpiPlugin.h"

const char* const kSpiPluginInfo[] = {
    SPI_VERSION_IMPORT, "Kevrale WebP plug-in 1.0", "*.webp", "WebP", NULL,
};

int SpiFormatIsSupported(const uint8_t* head, size_t size) {
  if (size < 16 || memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WEBP", 4) != 0) return 0;
  return memcmp(head + 12, "VP8 ", 4) == 0 || memcmp(head + 12, "VP8L", 4) == 0 ||
         memcmp(head + 12, "VP8X", 4) == 0;
}

static int ResultOf(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OK:
      return SPI_SUCCESS;
    case VP8_STATUS_OUT_OF_MEMORY:
      return SPI_OUT_OF_MEMORY;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return SPI_UNKNOWN_FORMAT;
    default: /* broken or cut short */
      return SPI_BROKEN_DATA;
  }
}

static int ReadFeatures(const SpiInput* input, WebPBitstreamFeatures* features) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  return ResultOf(WebPGetFeatures(input->data, input->size, features));
}

int SpiFormatReadInfo(const SpiInput* input, SpiImageInfo* info) {
  WebPBitstreamFeatures features;
  const int result = ReadFeatures(input, &features);
  if (result != SPI_SUCCESS) return result;
  info->width = features.width;
  info->height = features.height;
  info->bits = features.has_alpha || features.has_animation ? 32 : 24;
  return SPI_SUCCESS;
}

/* A still picture, decoded straight into the bitmap (flipped, since the
 * bitmap's rows go bottom-up), fed piece by piece for the progress. */
static int DecodeStill(const SpiInput* input, const WebPBitstreamFeatures* features, SpiDib* dib,
                       SpiProgress* progress) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return SPI_INTERNAL_ERROR;
  config.options.flip = 1;
  config.output.colorspace = features->has_alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.width = dib->width;
  config.output.height = dib->height;
  config.output.u.RGBA.rgba = dib->base;
  config.output.u.RGBA.stride = (int)dib->stride;
  config.output.u.RGBA.size = dib->stride * (size_t)dib->height;

  WebPIDecoder* decoder = WebPIDecode(NULL, 0, &config);
  if (decoder == NULL) return SPI_OUT_OF_MEMORY;
  int result = SpiProgressStart(progress, dib->height) ? SPI_ABORTED : SPI_SUCCESS;
  const size_t piece = input->size / 16 > 65536 ? input->size / 16 : 65536;
  size_t fed = 0;
  VP8StatusCode status = VP8_STATUS_SUSPENDED;
  while (result == SPI_SUCCESS && status == VP8_STATUS_SUSPENDED && fed < input->size) {
    fed = input->size - fed > piece ? fed + piece : input->size;
    /* The data is all in memory: the decoder reads it in place. */
    status = WebPIUpdate(decoder, input->data, fed);
    int rows = 0;
    if (WebPIDecGetRGB(decoder, &rows, NULL, NULL, NULL) != NULL && rows > 0 &&
        SpiProgressUpdate(progress, rows))
      result = SPI_ABORTED;
  }
  WebPIDelete(decoder);
  if (result != SPI_SUCCESS) return result;
  if (status == VP8_STATUS_SUSPENDED) return SPI_BROKEN_DATA; /* the data ends early */
  if (status != VP8_STATUS_OK) return ResultOf(status);
  return SpiProgressUpdate(progress, dib->height) ? SPI_ABORTED : SPI_SUCCESS;
}

/* The first frame of an animation, composed on its canvas. */
static int DecodeFirstFrame(const SpiInput* input, SpiDib* dib, SpiProgress* progress) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return SPI_INTERNAL_ERROR;
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data = {input->data, input->size};
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (decoder == NULL) return SPI_BROKEN_DATA;
  WebPAnimInfo info;
  int result = SPI_SUCCESS;
  uint8_t* canvas = NULL;
  int timestamp = 0;
  if (!WebPAnimDecoderGetInfo(decoder, &info) || (int64_t)info.canvas_width != dib->width ||
      (int64_t)info.canvas_height != dib->height)
    result = SPI_BROKEN_DATA;
  else if (SpiProgressStart(progress, dib->height))
    result = SPI_ABORTED;
  else if (!WebPAnimDecoderGetNext(decoder, &canvas, &timestamp) || canvas == NULL)
    result = SPI_BROKEN_DATA;
  if (result == SPI_SUCCESS) {
    const size_t row_bytes = (size_t)dib->width * 4;
    for (int32_t y = 0; y < dib->height; ++y)
      memcpy(SpiDibRow(dib, y), canvas + (size_t)y * row_bytes, row_bytes);
    if (SpiProgressUpdate(progress, dib->height)) result = SPI_ABORTED;
  }
  WebPAnimDecoderDelete(decoder);
  return result;
}

int SpiFormatDecode(const SpiInput* input, SpiDib* dib, SpiProgress* progress) {
  WebPBitstreamFeatures features;
  int result = ReadFeatures(input, &features);
  if (result != SPI_SUCCESS) return result;
  /* An animation's frames are always composed with alpha. */
  const int bits = features.has_alpha || features.has_animation ? 32 : 24;
  result = SpiDibCreate(dib, features.width, features.height, bits, 0);
  if (result != SPI_SUCCESS) return result;
  if (features.has_animation) return DecodeFirstFrame(input, dib, progress);
  return DecodeStill(input, &features, dib, progress);
}
