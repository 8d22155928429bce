/* GIF import plug-in (giflib), first frame only. The frame is placed on the
 * logical screen. A frame with a transparent colour comes back as 32 bits
 * BGRA (the transparent pixels and the screen around the frame with alpha
 * 0); otherwise 8 bits with the frame's colour table when that table also
 * describes the screen around it, and 24 bits when it does not. */
#include <gif_lib.h>
#include <stdlib.h>
#include <string.h>

#include "SpiPlugin.h"

const char* const kSpiPluginInfo[] = {
    SPI_VERSION_IMPORT, "Kevrale GIF plug-in 1.0", "*.gif", "GIF", NULL,
};

int SpiFormatIsSupported(const uint8_t* head, size_t size) {
  return size >= 6 && (memcmp(head, "GIF87a", 6) == 0 || memcmp(head, "GIF89a", 6) == 0);
}

static int ReadBytes(GifFileType* gif, GifByteType* out, int count) {
  if (count <= 0) return 0;
  return (int)SpiRead((SpiReader*)gif->UserData, out, (size_t)count);
}

static int ResultOf(int gif_error) {
  switch (gif_error) {
    case D_GIF_ERR_NOT_ENOUGH_MEM:
      return SPI_OUT_OF_MEMORY;
    case D_GIF_ERR_NOT_GIF_FILE:
      return SPI_UNKNOWN_FORMAT;
    default:
      return SPI_BROKEN_DATA;
  }
}

/* The first frame's description and where it lies on the screen. */
typedef struct GifFrame {
  int transparent; /* index of the transparent colour, or -1 */
  const ColorMapObject* colors;
  int64_t screen_width;
  int64_t screen_height;
  int covers; /* the frame covers the whole screen */
  int bits;
} GifFrame;

/* Reads up to the first frame's image descriptor; the frame's pixels come
 * next. A giflib error code, or D_GIF_SUCCEEDED. */
/* The error of a failed giflib call. A failure that left no error code
 * still counts as one, so that a half-read frame is never used. */
static int ErrorOf(const GifFileType* gif) {
  return gif->Error != D_GIF_SUCCEEDED ? gif->Error : D_GIF_ERR_READ_FAILED;
}

static int SeekFirstFrame(GifFileType* gif, GifFrame* frame) {
  frame->transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return ErrorOf(gif);
    if (type == TERMINATE_RECORD_TYPE) return D_GIF_ERR_NO_IMAG_DSCR;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = NULL;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return ErrorOf(gif);
      /* The last graphic control block before the frame applies to it. */
      if (code == GRAPHICS_EXT_FUNC_CODE && block != NULL && block[0] >= 4)
        frame->transparent = (block[1] & 0x01) ? block[4] : -1;
      while (block != NULL)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return ErrorOf(gif);
      continue;
    }
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) return ErrorOf(gif);
      break;
    }
    return D_GIF_ERR_WRONG_RECORD;
  }

  const GifImageDesc* desc = &gif->Image;
  frame->colors = desc->ColorMap != NULL ? desc->ColorMap : gif->SColorMap;
  if (frame->colors == NULL || frame->colors->ColorCount <= 0 || desc->Width <= 0 ||
      desc->Height <= 0 || desc->Left < 0 || desc->Top < 0)
    return D_GIF_ERR_DATA_TOO_BIG; /* any broken-data code */
  if (frame->transparent >= frame->colors->ColorCount) frame->transparent = -1;
  /* A screen smaller than its frame is grown to hold it. */
  const int64_t right = (int64_t)desc->Left + desc->Width;
  const int64_t bottom = (int64_t)desc->Top + desc->Height;
  frame->screen_width = gif->SWidth > right ? gif->SWidth : right;
  frame->screen_height = gif->SHeight > bottom ? gif->SHeight : bottom;
  frame->covers = desc->Left == 0 && desc->Top == 0 && desc->Width == frame->screen_width &&
                  desc->Height == frame->screen_height;
  if (frame->transparent >= 0)
    frame->bits = 32;
  else if (frame->covers || frame->colors == gif->SColorMap)
    frame->bits = 8;
  else
    frame->bits = 24;
  return D_GIF_SUCCEEDED;
}

static GifFileType* Open(const SpiInput* input, SpiReader* reader, int* result) {
  SpiReaderInit(reader, input);
  int error = D_GIF_SUCCEEDED;
  GifFileType* gif = DGifOpen(reader, ReadBytes, &error);
  *result = gif != NULL ? SPI_SUCCESS : ResultOf(error);
  return gif;
}

static void Close(GifFileType* gif) {
  int error = 0;
  DGifCloseFile(gif, &error);
}

int SpiFormatReadInfo(const SpiInput* input, SpiImageInfo* info) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  SpiReader reader;
  int result;
  GifFileType* gif = Open(input, &reader, &result);
  if (gif == NULL) return result;
  GifFrame frame = {0};
  const int error = SeekFirstFrame(gif, &frame);
  if (error == D_GIF_SUCCEEDED) {
    result = SpiCheckSize(frame.screen_width, frame.screen_height);
    if (result != SPI_BROKEN_DATA) {
      info->width = (int32_t)frame.screen_width;
      info->height = (int32_t)frame.screen_height;
      info->bits = frame.bits;
      result = SPI_SUCCESS;
    }
  } else {
    result = ResultOf(error);
  }
  Close(gif);
  return result;
}

/* Puts one decoded line of the frame (colour indices) on the screen. */
static void PutLine(SpiDib* dib, const GifFrame* frame, const GifImageDesc* desc, int32_t y,
                    GifPixelType* line) {
  const GifColorType* colors = frame->colors->Colors;
  const int count = frame->colors->ColorCount;
  uint8_t* row = SpiDibRow(dib, desc->Top + y);
  for (int x = 0; x < desc->Width; ++x)
    if (line[x] >= count) line[x] = 0; /* giflib does not check the indices */
  if (dib->bits == 8) {
    memcpy(row + desc->Left, line, (size_t)desc->Width);
    return;
  }
  const int step = dib->bits / 8;
  uint8_t* out = row + (size_t)desc->Left * step;
  for (int x = 0; x < desc->Width; ++x, out += step) {
    const GifColorType* c = &colors[line[x]];
    out[0] = c->Blue;
    out[1] = c->Green;
    out[2] = c->Red;
    if (step == 4) out[3] = line[x] == frame->transparent ? 0 : 255;
  }
}

static void FillScreen(SpiDib* dib, const GifFileType* gif, const GifFrame* frame) {
  if (frame->covers || frame->bits == 32) return; /* nothing shows, or alpha 0 */
  int background = gif->SBackGroundColor;
  const ColorMapObject* screen_colors = gif->SColorMap;
  if (screen_colors == NULL || background >= screen_colors->ColorCount) background = 0;
  for (int32_t y = 0; y < dib->height; ++y) {
    uint8_t* row = SpiDibRow(dib, y);
    if (dib->bits == 8) {
      memset(row, background, (size_t)dib->width);
    } else if (screen_colors != NULL) {
      const GifColorType* c = &screen_colors->Colors[background];
      for (int32_t x = 0; x < dib->width; ++x) {
        row[x * 3] = c->Blue;
        row[x * 3 + 1] = c->Green;
        row[x * 3 + 2] = c->Red;
      }
    }
  }
}

static int DecodeFrame(GifFileType* gif, SpiDib* dib, SpiProgress* progress) {
  GifFrame frame = {0};
  int error = SeekFirstFrame(gif, &frame);
  if (error != D_GIF_SUCCEEDED) return ResultOf(error);
  int result = SpiDibCreate(dib, frame.screen_width, frame.screen_height, frame.bits,
                            frame.bits == 8 ? (uint32_t)frame.colors->ColorCount : 0);
  if (result != SPI_SUCCESS) return result;
  if (dib->bits == 8)
    for (int i = 0; i < frame.colors->ColorCount; ++i) {
      const GifColorType* c = &frame.colors->Colors[i];
      SpiDibSetColor(dib, (uint32_t)i, c->Red, c->Green, c->Blue);
    }
  FillScreen(dib, gif, &frame);

  const GifImageDesc desc = gif->Image;
  GifPixelType* line = malloc((size_t)desc.Width);
  if (line == NULL) return SPI_OUT_OF_MEMORY;

  /* An interlaced frame comes in four passes: every 8th line from 0, every
   * 8th from 4, every 4th from 2, every 2nd from 1. */
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  const int passes = desc.Interlace ? 4 : 1;
  result = SpiProgressStart(progress, desc.Height) ? SPI_ABORTED : SPI_SUCCESS;
  int32_t done = 0;
  for (int pass = 0; pass < passes && result == SPI_SUCCESS; ++pass) {
    const int start = desc.Interlace ? kStart[pass] : 0;
    const int step = desc.Interlace ? kStep[pass] : 1;
    for (int y = start; y < desc.Height; y += step) {
      if (DGifGetLine(gif, line, desc.Width) == GIF_ERROR) {
        result = ResultOf(gif->Error);
        break;
      }
      PutLine(dib, &frame, &desc, y, line);
      if (SpiProgressUpdate(progress, ++done)) {
        result = SPI_ABORTED;
        break;
      }
    }
  }
  free(line);
  return result;
}

int SpiFormatDecode(const SpiInput* input, SpiDib* dib, SpiProgress* progress) {
  if (!SpiFormatIsSupported(input->data, input->size)) return SPI_UNKNOWN_FORMAT;
  SpiReader reader;
  int result;
  GifFileType* gif = Open(input, &reader, &result);
  if (gif == NULL) return result;
  result = DecodeFrame(gif, dib, progress);
  Close(gif);
  return result;
}
