/* The import plug-in of the DIB fuzz target: it takes any memory input and
 * hands it back as a bitmap, the way a careless or hostile plug-in might.
 *
 *   byte 0      flags: bit 0 the info block is moveable, bit 1 the bits
 *               block is moveable (else fixed); bit 2 no bits block at all
 *   bytes 1, 2  the length n of the info block (little-endian)
 *   then        n bytes of the info block (fewer when the input ends), the
 *               rest of the input is the bits block
 */
#include <stdint.h>
#include <string.h>

#include "kevrale/spi.h"

#define FLAG_INFO_MOVEABLE 1u
#define FLAG_BITS_MOVEABLE 2u
#define FLAG_NO_BITS 4u

SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen) {
  const char* text = infono == 0 ? "00IN" : infono == 1 ? "DIB fuzz plug-in" : NULL;
  if (text == NULL || buf == NULL || buflen <= 0) return 0;
  int32_t n = 0;
  for (; text[n] != '\0' && n < buflen - 1; ++n) buf[n] = text[n];
  buf[n] = '\0';
  return n;
}

SPI_EXPORT int32_t IsSupported(const char* filename, intptr_t dw) {
  (void)filename;
  (void)dw;
  return 1;
}

SPI_EXPORT int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                  SpiPictureInfo* info) {
  (void)buf;
  (void)len;
  (void)flag;
  (void)info;
  return SPI_UNKNOWN_FORMAT;
}

static SpiHandle Block(const uint8_t* data, size_t size, int moveable) {
  SpiHandle h = LocalAlloc(moveable ? LMEM_MOVEABLE : LMEM_FIXED, size);
  if (h == NULL) return NULL;
  void* p = LocalLock(h);
  if (p != NULL && size > 0) memcpy(p, data, size);
  LocalUnlock(h);
  return h;
}

SPI_EXPORT int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                              SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  if ((flag & SPI_INPUT_MASK) != SPI_INPUT_MEMORY || len < 3) return SPI_UNKNOWN_FORMAT;
  const uint8_t* in = (const uint8_t*)buf;
  const size_t size = (size_t)len;
  const unsigned flags = in[0];
  size_t info_size = (size_t)in[1] | (size_t)in[2] << 8;
  if (info_size > size - 3) info_size = size - 3;
  if (progress != NULL && progress(0, 1, data) != 0) return SPI_ABORTED;
  *hbinfo = Block(in + 3, info_size, flags & FLAG_INFO_MOVEABLE);
  *hbm = (flags & FLAG_NO_BITS) != 0
             ? NULL
             : Block(in + 3 + info_size, size - 3 - info_size, flags & FLAG_BITS_MOVEABLE);
  if (progress != NULL) progress(1, 1, data);
  return SPI_SUCCESS;
}
