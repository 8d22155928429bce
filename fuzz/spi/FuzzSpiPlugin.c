/* A libFuzzer target for one bundled import plug-in, linked in directly:
 * the input is offered to IsSupported, GetPictureInfo and GetPicture on
 * memory input. Whatever comes back must be a result code or a bitmap
 * whose blocks hold what its header promises; everything is freed. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "kevrale/spi.h"

static uint32_t Get32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Stops some decodes part way, so that the abort paths are fuzzed too. */
static int32_t Progress(int32_t num, int32_t denom, intptr_t data) {
  (void)denom;
  return data != 0 && num > 0;
}

static void CheckDib(SpiHandle info, SpiHandle bits) {
  const uint8_t* header = LocalLock(info);
  const uint8_t* rows = LocalLock(bits);
  if (header == NULL || rows == NULL || LocalSize(info) < 40) abort();
  const int32_t width = (int32_t)Get32(header + 4);
  const int32_t height = (int32_t)Get32(header + 8);
  const unsigned bit_count = header[14] | header[15] << 8;
  const uint32_t colors = Get32(header + 32);
  if (Get32(header) != 40 || width <= 0 || height <= 0) abort();
  if (LocalSize(info) < 40 + (size_t)colors * 4) abort();
  const size_t stride = ((size_t)width * bit_count + 31) / 32 * 4;
  if (LocalSize(bits) < stride * (size_t)height) abort();
  /* Read every byte, so that ASan sees any that were never there. */
  volatile uint8_t sum = 0;
  for (size_t i = 0; i < stride * (size_t)height; ++i) sum += rows[i];
  (void)sum;
  LocalUnlock(info);
  LocalUnlock(bits);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t head[2176];
  memset(head, 0, sizeof head);
  memcpy(head, data, size < sizeof head ? size : sizeof head);
  (void)IsSupported("", (intptr_t)head);

  SpiPictureInfo info;
  if (GetPictureInfo((const char*)data, (intptr_t)size, SPI_INPUT_MEMORY, &info) == SPI_SUCCESS &&
      info.hInfo != NULL)
    LocalFree(info.hInfo);

  SpiHandle hinfo = NULL, hbits = NULL;
  const intptr_t stop = size % 7 == 0;
  if (GetPicture((const char*)data, (intptr_t)size, SPI_INPUT_MEMORY, &hinfo, &hbits, Progress,
                 stop) == SPI_SUCCESS) {
    CheckDib(hinfo, hbits);
    LocalFree(hinfo);
    LocalFree(hbits);
  } else if (hinfo != NULL || hbits != NULL) {
    abort(); /* a failed call hands back nothing */
  }
  return 0;
}
