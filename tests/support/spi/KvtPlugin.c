/* An import plug-in for the decoding tests. It decodes the KVT test format:
 *
 *   "KVT1", width (uint32 LE), height (uint32 LE), then height rows from the
 *   top, each width pixels of R, G, B bytes, no padding.
 *
 * Its behaviour is chosen when it is built:
 *
 *   TEST_SPI_NAME="kvt"     the name it writes into the call log
 *   KVT_FILTER="*.kvt"      its filter string (none when not defined)
 *   KVT_MAGIC="KVT1"        the first four bytes of the data it takes (a
 *                           fault decoder with a magic of its own leaves
 *                           the files of the others alone)
 *   KVT_SUPPORT_NEVER, KVT_SUPPORT_ALWAYS   IsSupported says no / yes to
 *                           everything (else: yes to data that begins "KVT1")
 *   KVT_PICTURE_FAILS       GetPicture returns SPI_UNKNOWN_FORMAT
 *   KVT_BITS=24             bits per pixel of the DIB: 1, 4, 8, 16, 24 or 32
 *   KVT_ALPHA               a 32-bit DIB's fourth byte is alpha: 0 where the
 *                           pixel is pure blue, 255 elsewhere (else it is 0)
 *   KVT_EXACT_COLORS        an indexed DIB lists only the colours it uses
 *                           (colours-used = their number, else 0)
 *   KVT_TOPDOWN             rows stored top-down (negative height)
 *   KVT_NO_GETPREVIEW       no GetPreview; else GetPreview gives a 1 x 1
 *                           24-bit DIB of the top-left pixel's colour
 *   KVT_PROGRESS_ZERO       the progress callback is called once with 0/0
 *   KVT_TEXT_INFO           GetPictureInfo hands back a text-information block
 *   Faults of a bad plug-in, each still returning success:
 *   KVT_LIE_BITS            the bits block is one byte short of the rows
 *   KVT_LIE_TABLE           the info block ends after the 40-byte header
 *   KVT_LIE_SIZE            the header claims 40000 x 40000 pixels
 *   KVT_BAD_INDEX           an 8-bit DIB with a 2-entry table and index 200
 *   KVT_FOREIGN             the handles are static buffers, not LocalAlloc's
 *   KVT_ONE_HANDLE          only the info handle is handed back
 *   KVT_SAME_HANDLE         the info handle is handed back as both blocks
 *   KVT_STORE_THEN_FAIL     GetPicture decodes, stores both handles and then
 *                           returns SPI_BROKEN_DATA without freeing them
 *   Faults that harm the process that loads the plug-in:
 *   KVT_CRASH               GetPicture writes through a null pointer
 *   KVT_HANG                GetPicture never returns
 *   KVT_STATIC              GetPicture passes the pixels through one static
 *                           buffer and pauses there, so that two threads
 *                           decoding at once mix their pictures
 *   KVT_CHATTY              every call prints a line on standard output
 *   KVT_HOG                 GetPicture first asks malloc for 8 GiB and
 *                           returns SPI_OUT_OF_MEMORY when it is refused
 *   KVT_HOSTILE             GetPicture first tries a misdeed (Hostile.h)
 *   KVT_INFO_HANG           GetPluginInfo never returns
 *
 * When the environment variable KEVRALE_KVT_LOG names a file, every call of
 * IsSupported, GetPictureInfo, GetPicture and GetPreview appends one line
 * to it.
 */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "kevrale/spi.h"

#ifdef KVT_HOSTILE
#include "Hostile.h"
#endif

#ifndef TEST_SPI_NAME
#define TEST_SPI_NAME "kvt"
#endif
#ifndef KVT_BITS
#define KVT_BITS 24
#endif
#ifndef KVT_MAGIC
#define KVT_MAGIC "KVT1"
#endif

#define KVT_HEADER 12
#define KVT_MAX_SIDE 4096

typedef struct Image {
  uint32_t width, height;
  uint8_t* rgb; /* width * height * 3, top row first */
} Image;

static void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

static void Log(const char* format, ...) {
  const char* path = getenv("KEVRALE_KVT_LOG");
  if (path == NULL || path[0] == '\0') return;
  FILE* f = fopen(path, "a");
  if (f == NULL) return;
  fputs(TEST_SPI_NAME " ", f);
  va_list args;
  va_start(args, format);
  vfprintf(f, format, args);
  va_end(args);
  fputc('\n', f);
  fclose(f);
}

#ifdef KVT_CHATTY
#define CHAT(text) (printf("%s\n", text), fflush(stdout))
#else
#define CHAT(text) ((void)0)
#endif

static void LogInput(const char* call, const char* buf, intptr_t len, uint32_t flag) {
  if ((flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY)
    Log("%s mem=%p len=%ld", call, (const void*)buf, (long)len);
  else
    Log("%s file=%s offset=%ld", call, buf, (long)len);
}

static uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
static void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

static int HasMagic(const uint8_t* p) {
  return memcmp(p, KVT_MAGIC, 4) == 0;
}

/* The whole input: memory as given, or the file from the offset on. */
static uint8_t* ReadInput(const char* buf, intptr_t len, uint32_t flag, size_t* size) {
  if ((flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY) {
    if (len < 0) return NULL;
    uint8_t* copy = malloc((size_t)len + 1);
    if (copy == NULL) return NULL;
    memcpy(copy, buf, (size_t)len);
    *size = (size_t)len;
    return copy;
  }
  FILE* f = fopen(buf, "rb");
  if (f == NULL) return NULL;
  if (fseek(f, 0, SEEK_END) != 0) {
    fclose(f);
    return NULL;
  }
  const long end = ftell(f);
  if (end < 0 || (long)len > end || fseek(f, (long)len, SEEK_SET) != 0) {
    fclose(f);
    return NULL;
  }
  const size_t n = (size_t)(end - (long)len);
  uint8_t* data = malloc(n + 1);
  if (data != NULL && fread(data, 1, n, f) != n) {
    free(data);
    data = NULL;
  }
  fclose(f);
  *size = n;
  return data;
}

/* Parses the input into `image` (its rgb points into `data`); 0 on success. */
static int Parse(uint8_t* data, size_t size, Image* image) {
  if (size < KVT_HEADER || !HasMagic(data)) return SPI_UNKNOWN_FORMAT;
  image->width = Get32(data + 4);
  image->height = Get32(data + 8);
  if (image->width == 0 || image->height == 0 || image->width > KVT_MAX_SIDE ||
      image->height > KVT_MAX_SIDE)
    return SPI_BROKEN_DATA;
  if ((size - KVT_HEADER) / 3 / image->width < image->height) return SPI_BROKEN_DATA;
  image->rgb = data + KVT_HEADER;
  return SPI_SUCCESS;
}

static const uint8_t* PixelAt(const Image* image, uint32_t x, uint32_t y) {
  return image->rgb + ((size_t)y * image->width + x) * 3;
}

#ifdef KVT_FOREIGN
static uint8_t g_foreign_info[40 + 1024];
static uint8_t g_foreign_bits[1 << 16];
#endif

/* A moveable block of `bytes`, zero-filled; its address in *address. A
 * foreign build hands out a static buffer instead (the bits one when
 * `for_bits`). */
static SpiHandle Alloc(size_t bytes, uint8_t** address, int for_bits) {
#ifdef KVT_FOREIGN
  uint8_t* block = for_bits ? g_foreign_bits : g_foreign_info;
  const size_t room = for_bits ? sizeof g_foreign_bits : sizeof g_foreign_info;
  *address = bytes <= room ? block : NULL;
  if (*address != NULL) memset(*address, 0, bytes);
  return *address;
#else
  (void)for_bits;
  SpiHandle h = LocalAlloc(LHND, bytes);
  *address = h != NULL ? LocalLock(h) : NULL;
  return h;
#endif
}

static void Release(SpiHandle h) {
#ifndef KVT_FOREIGN
  if (h != NULL) {
    LocalUnlock(h);
    LocalFree(h);
  }
#else
  (void)h;
#endif
}

static void Unlock(SpiHandle h) {
#ifndef KVT_FOREIGN
  LocalUnlock(h);
#else
  (void)h;
#endif
}

/* The index of a colour in the table, adding it when new; -1 when full. */
static int IndexOf(uint32_t* table, uint32_t* count, uint32_t most, uint32_t colour) {
  for (uint32_t i = 0; i < *count; ++i)
    if (table[i] == colour) return (int)i;
  if (*count >= most) return -1;
  table[*count] = colour;
  return (int)(*count)++;
}

/* Builds the DIB of `image` with `bits` bits per pixel. */
static int MakeDib(const Image* image, int bits, SpiHandle* hbinfo, SpiHandle* hbm,
                   SpiProgressCallback progress, intptr_t data) {
  const uint32_t w = image->width, h = image->height;
  const uint32_t most = bits <= 8 ? 1u << bits : 0;
  uint32_t table[256];
  uint32_t used = 0;
  if (most != 0) {
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t* p = PixelAt(image, x, y);
        if (IndexOf(table, &used, most, (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2]) < 0)
          return SPI_BROKEN_DATA;
      }
  }
#ifdef KVT_EXACT_COLORS
  const uint32_t colours_used = used;
  const uint32_t entries = used;
#else
  const uint32_t colours_used = 0;
  const uint32_t entries = most;
#endif
  size_t info_size = 40 + 4 * (size_t)entries;
#ifdef KVT_LIE_TABLE
  info_size = 40;
#endif
  const size_t stride = ((size_t)w * (size_t)bits + 31) / 32 * 4;
  size_t bits_size = stride * h;
#ifdef KVT_LIE_BITS
  bits_size -= 1;
#endif

  uint8_t* info = NULL;
  uint8_t* pixels = NULL;
  SpiHandle info_handle = Alloc(info_size, &info, 0);
  SpiHandle bits_handle = Alloc(bits_size, &pixels, 1);
  if (info == NULL || pixels == NULL) {
    Release(info_handle);
    Release(bits_handle);
    return SPI_OUT_OF_MEMORY;
  }
  Put32(info, 40);
  Put32(info + 4, w);
#ifdef KVT_TOPDOWN
  Put32(info + 8, (uint32_t) - (int32_t)h);
#else
  Put32(info + 8, h);
#endif
#ifdef KVT_LIE_SIZE
  Put32(info + 4, 40000);
  Put32(info + 8, 40000);
#endif
  Put16(info + 12, 1);
  Put16(info + 14, (uint32_t)bits);
  Put32(info + 32, colours_used);
#ifdef KVT_BAD_INDEX
  Put32(info + 32, 2);
#endif
  if (info_size >= 40 + 4 * (size_t)entries)
    for (uint32_t i = 0; i < used; ++i) {
      info[40 + 4 * i] = (uint8_t)table[i];             /* blue */
      info[40 + 4 * i + 1] = (uint8_t)(table[i] >> 8);  /* green */
      info[40 + 4 * i + 2] = (uint8_t)(table[i] >> 16); /* red */
    }

#ifdef KVT_PROGRESS_ZERO
  if (progress != NULL && progress(0, 0, data) != 0) goto aborted;
#else
  if (progress != NULL && progress(0, (int32_t)h, data) != 0) goto aborted;
#endif
  for (uint32_t y = 0; y < h; ++y) {
#ifdef KVT_TOPDOWN
    const uint32_t row = y;
#else
    const uint32_t row = h - 1 - y;
#endif
    uint8_t* out = pixels + (size_t)row * stride;
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* p = PixelAt(image, x, y);
      const uint32_t colour = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
      const size_t at = (size_t)x * (size_t)bits;
      if (out + (at + (size_t)bits + 7) / 8 > pixels + bits_size) continue; /* lying block */
      switch (bits) {
        case 1:
        case 4:
        case 8: {
          uint32_t index = (uint32_t)IndexOf(table, &used, most, colour);
#ifdef KVT_BAD_INDEX
          index = 200;
#endif
          out[at / 8] |= (uint8_t)(index << (8 - bits - (int)(at % 8)));
          break;
        }
        case 16:
          Put16(out + at / 8,
                (uint32_t)(p[0] >> 3) << 10 | (uint32_t)(p[1] >> 3) << 5 | (uint32_t)(p[2] >> 3));
          break;
        case 24:
        case 32:
          out[at / 8] = p[2];
          out[at / 8 + 1] = p[1];
          out[at / 8 + 2] = p[0];
#ifdef KVT_ALPHA
          if (bits == 32) out[at / 8 + 3] = (p[0] == 0 && p[1] == 0 && p[2] == 255) ? 0 : 255;
#endif
          break;
      }
    }
#ifndef KVT_PROGRESS_ZERO
    if (progress != NULL && progress((int32_t)(y + 1), (int32_t)h, data) != 0) goto aborted;
#endif
  }
  Unlock(info_handle);
  Unlock(bits_handle);
  *hbinfo = info_handle;
#if defined(KVT_ONE_HANDLE)
  Release(bits_handle);
  *hbm = NULL;
#elif defined(KVT_SAME_HANDLE)
  Release(bits_handle);
  *hbm = info_handle;
#else
  *hbm = bits_handle;
#endif
  return SPI_SUCCESS;

aborted:
  Release(info_handle);
  Release(bits_handle);
  return SPI_ABORTED;
}

SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
#ifdef KVT_INFO_HANG
  for (;;) sleep(1000);
#endif
  const char* text = NULL;
  switch (infono) {
    case 0:
      text = "00IN";
      break;
    case 1:
      text = "KVT test decoder " TEST_SPI_NAME;
      break;
#ifdef KVT_FILTER
    case 2:
      text = KVT_FILTER;
      break;
    case 3:
      text = "KVT test image";
      break;
#endif
    default:
      return 0;
  }
  if (buf == NULL || buflen <= 0) return 0;
  int32_t n = 0;
  for (; text[n] != '\0' && n < buflen - 1; ++n) buf[n] = text[n];
  buf[n] = '\0';
  return n;
}

SPI_EXPORT int32_t IsSupported(const char* filename, intptr_t dw) {
  CHAT("IsSupported");
  const uint8_t* head = (const uint8_t*)dw;
  unsigned long sum = 0;
  for (int i = 0; i < 2048; ++i) sum += head[i];
  Log("IsSupported name=%s sum=%lu", filename != NULL ? filename : "(null)", sum);
#if defined(KVT_SUPPORT_NEVER)
  return 0;
#elif defined(KVT_SUPPORT_ALWAYS)
  return 1;
#else
  return HasMagic(head) ? 1 : 0;
#endif
}

SPI_EXPORT int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                  SpiPictureInfo* info) {
  LogInput("GetPictureInfo", buf, len, flag);
  CHAT("GetPictureInfo");
  size_t size = 0;
  uint8_t* data = ReadInput(buf, len, flag, &size);
  if (data == NULL) return SPI_FILE_READ_ERROR;
  Image image;
  const int result = Parse(data, size, &image);
  if (result == SPI_SUCCESS) {
    memset(info, 0, sizeof *info);
    info->width = (int32_t)image.width;
    info->height = (int32_t)image.height;
    info->colorDepth = KVT_BITS;
#ifdef KVT_TEXT_INFO
    static const char kText[] = "KVT test image";
    info->hInfo = LocalAlloc(LPTR, sizeof kText);
    if (info->hInfo != NULL) memcpy(info->hInfo, kText, sizeof kText);
#endif
  }
  free(data);
  return result;
}

#ifdef KVT_STATIC
/* Not reentrant on purpose: one buffer for every caller. */
static uint8_t g_shared_pixels[64 * 64 * 3];
#endif

SPI_EXPORT int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                              SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  LogInput("GetPicture", buf, len, flag);
  CHAT("GetPicture");
#ifdef KVT_HOSTILE
  Misdeed(buf, flag, progress, data);
#endif
#ifdef KVT_CRASH
  // A store into the first page, which is never mapped: a real SIGSEGV in
  // every build (a null pointer would be caught as undefined behaviour
  // first where the sanitizers check it).
  *(volatile int*)(intptr_t)16 = 1;
#endif
#ifdef KVT_HANG
  for (;;) sleep(1000);
#endif
#ifdef KVT_HOG
  void* hog = malloc((size_t)8 << 30);
  if (hog == NULL) return SPI_OUT_OF_MEMORY;
  free(hog);
#endif
#ifdef KVT_PICTURE_FAILS
  (void)hbinfo;
  (void)hbm;
  (void)progress;
  (void)data;
  return SPI_UNKNOWN_FORMAT;
#else
  size_t size = 0;
  uint8_t* input = ReadInput(buf, len, flag, &size);
  if (input == NULL) return SPI_FILE_READ_ERROR;
  Image image;
  int result = Parse(input, size, &image);
#ifdef KVT_STATIC
  const size_t bytes = (size_t)image.width * image.height * 3;
  if (result == SPI_SUCCESS && bytes <= sizeof g_shared_pixels) {
    memcpy(g_shared_pixels, image.rgb, bytes);
    usleep(2000);
    image.rgb = g_shared_pixels;
  }
#endif
  if (result == SPI_SUCCESS) result = MakeDib(&image, KVT_BITS, hbinfo, hbm, progress, data);
#ifdef KVT_OVERSIZE
  if (result == SPI_SUCCESS) Oversize(hbm);
#endif
  free(input);
#ifdef KVT_STORE_THEN_FAIL
  if (result == SPI_SUCCESS) result = SPI_BROKEN_DATA;
#endif
  return result;
#endif
}

#ifndef KVT_NO_GETPREVIEW
SPI_EXPORT int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                              SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  LogInput("GetPreview", buf, len, flag);
  size_t size = 0;
  uint8_t* input = ReadInput(buf, len, flag, &size);
  if (input == NULL) return SPI_FILE_READ_ERROR;
  Image image;
  int result = Parse(input, size, &image);
  if (result == SPI_SUCCESS) {
    image.width = 1;
    image.height = 1;
    result = MakeDib(&image, 24, hbinfo, hbm, progress, data);
  }
  free(input);
  return result;
}
#endif
