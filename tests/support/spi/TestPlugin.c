/* A Susie plug-in for the tests, its behaviour chosen when it is built:
 *
 *   SPI_VERSION="00IN"    information 0 (none when not defined)
 *   SPI_INFO2 .. SPI_INFO9  information 2 .. 9; "|" stands for ";"
 *   SPI_ENDLESS           answers every information number from 2 on
 *   SPI_NO_GETPLUGININFO, SPI_NO_ISSUPPORTED, SPI_NO_GETPICTUREINFO,
 *   SPI_NO_GETPICTURE, SPI_NO_GETPREVIEW   leave that entry point out
 *   SPI_ARCHIVE           exports the archive entry points
 *
 * IsSupported takes data that begins with "KVSPI". GetPicture returns a
 * 2 x 1 24-bit picture (blue, red), GetPreview a 1 x 1 one (green), both in
 * moveable local-memory blocks, calling the progress callback with 0/1 and
 * 1/1 and stopping when it asks to.
 */
#include <stdio.h>
#include <string.h>

#include "kevrale/spi.h"

#ifndef SPI_NAME
#define SPI_NAME "Kevrale test plug-in"
#endif

#define MAYBE_UNUSED __attribute__((unused))

static const char kMagic[] = "KVSPI";

MAYBE_UNUSED static int32_t Store(const char* text, char* buf, int32_t buflen) {
  if (buf == NULL || buflen <= 0) return 0;
  int32_t n = 0;
  for (; text[n] != '\0' && n < buflen - 1; ++n) buf[n] = text[n] == '|' ? ';' : text[n];
  buf[n] = '\0';
  return n;
}

#ifndef SPI_NO_GETPLUGININFO
static const char* Info(int32_t n) {
  switch (n) {
#ifdef SPI_VERSION
    case 0:
      return SPI_VERSION;
#endif
    case 1:
      return SPI_NAME;
#ifdef SPI_INFO2
    case 2:
      return SPI_INFO2;
#endif
#ifdef SPI_INFO3
    case 3:
      return SPI_INFO3;
#endif
#ifdef SPI_INFO4
    case 4:
      return SPI_INFO4;
#endif
#ifdef SPI_INFO5
    case 5:
      return SPI_INFO5;
#endif
#ifdef SPI_INFO6
    case 6:
      return SPI_INFO6;
#endif
#ifdef SPI_INFO7
    case 7:
      return SPI_INFO7;
#endif
#ifdef SPI_INFO8
    case 8:
      return SPI_INFO8;
#endif
#ifdef SPI_INFO9
    case 9:
      return SPI_INFO9;
#endif
    default:
      return NULL;
  }
}

int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
#ifdef SPI_ENDLESS
  if (infono >= 2) {
    char text[32];
    snprintf(text, sizeof text, infono % 2 == 0 ? "*.e%d" : "E%d", (int)infono);
    return Store(text, buf, buflen);
  }
#endif
  const char* text = Info(infono);
  return text != NULL ? Store(text, buf, buflen) : 0;
}
#endif

/* The first bytes of the data: from memory, or from the file at offset len. */
MAYBE_UNUSED static int ReadHead(const char* buf, intptr_t len, uint32_t flag, char* head,
                                 size_t count) {
  memset(head, 0, count);
  if ((flag & SPI_INPUT_MASK) == SPI_INPUT_MEMORY) {
    if (len < (intptr_t)count) return 0;
    memcpy(head, buf, count);
    return 1;
  }
  FILE* f = fopen(buf, "rb");
  if (f == NULL) return 0;
  int ok = fseek(f, (long)len, SEEK_SET) == 0 && fread(head, 1, count, f) == count;
  fclose(f);
  return ok;
}

MAYBE_UNUSED static int Recognised(const char* buf, intptr_t len, uint32_t flag) {
  char head[sizeof kMagic - 1];
  return ReadHead(buf, len, flag, head, sizeof head) && memcmp(head, kMagic, sizeof head) == 0;
}

#ifndef SPI_NO_ISSUPPORTED
int32_t IsSupported(const char* filename, intptr_t dw) {
  (void)filename;
  return memcmp((const void*)dw, kMagic, sizeof kMagic - 1) == 0;
}
#endif

#ifndef SPI_NO_GETPICTUREINFO
int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag, SpiPictureInfo* info) {
  if (!Recognised(buf, len, flag)) return SPI_UNKNOWN_FORMAT;
  memset(info, 0, sizeof *info);
  info->width = 2;
  info->height = 1;
  info->colorDepth = 24;
  return SPI_SUCCESS;
}
#endif

/* A 24-bit DIB of `width` x 1 pixels in the colours given (B, G, R each). */
MAYBE_UNUSED static int32_t MakeDib(int32_t width, const unsigned char* pixels, SpiHandle* hbinfo,
                                    SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  if (progress != NULL && progress(0, 1, data) != 0) return SPI_ABORTED;
  SpiHandle info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 40);
  SpiHandle bits = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 4 * (size_t)((width * 3 + 3) / 4));
  if (info == NULL || bits == NULL) {
    LocalFree(info);
    LocalFree(bits);
    return SPI_OUT_OF_MEMORY;
  }
  unsigned char* h = (unsigned char*)LocalLock(info);
  const int32_t height = 1;
  const int16_t planes = 1, bit_count = 24;
  const int32_t size = 40;
  memcpy(h + 0, &size, 4);
  memcpy(h + 4, &width, 4);
  memcpy(h + 8, &height, 4);
  memcpy(h + 12, &planes, 2);
  memcpy(h + 14, &bit_count, 2);
  LocalUnlock(info);
  unsigned char* b = (unsigned char*)LocalLock(bits);
  memcpy(b, pixels, (size_t)width * 3);
  LocalUnlock(bits);
  if (progress != NULL && progress(1, 1, data) != 0) {
    LocalFree(info);
    LocalFree(bits);
    return SPI_ABORTED;
  }
  *hbinfo = info;
  *hbm = bits;
  return SPI_SUCCESS;
}

#ifndef SPI_NO_GETPICTURE
int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo, SpiHandle* hbm,
                   SpiProgressCallback progress, intptr_t data) {
  static const unsigned char kPixels[] = {255, 0, 0, 0, 0, 255}; /* blue, red */
  if (!Recognised(buf, len, flag)) return SPI_UNKNOWN_FORMAT;
  return MakeDib(2, kPixels, hbinfo, hbm, progress, data);
}
#endif

#ifndef SPI_NO_GETPREVIEW
int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo, SpiHandle* hbm,
                   SpiProgressCallback progress, intptr_t data) {
  static const unsigned char kPixels[] = {0, 255, 0}; /* green */
  if (!Recognised(buf, len, flag)) return SPI_UNKNOWN_FORMAT;
  return MakeDib(1, kPixels, hbinfo, hbm, progress, data);
}
#endif

int32_t ConfigurationDlg(void* parent, int32_t fnc) {
  (void)parent;
  (void)fnc;
  return SPI_NOT_IMPLEMENTED;
}

#ifdef SPI_ARCHIVE
int32_t GetArchiveInfo(const char* buf, intptr_t len, uint32_t flag, SpiHandle* lphInf) {
  (void)buf, (void)len, (void)flag, (void)lphInf;
  return SPI_NOT_IMPLEMENTED;
}

int32_t GetFileInfo(const char* buf, intptr_t len, const char* filename, uint32_t flag,
                    void* lpInfo) {
  (void)buf, (void)len, (void)filename, (void)flag, (void)lpInfo;
  return SPI_NOT_IMPLEMENTED;
}

int32_t GetFile(const char* src, intptr_t len, char* dest, uint32_t flag,
                SpiProgressCallback progress, intptr_t data) {
  (void)src, (void)len, (void)dest, (void)flag, (void)progress, (void)data;
  return SPI_NOT_IMPLEMENTED;
}
#endif
