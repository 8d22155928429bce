/* The codecs alone, for comparison with the plug-ins: a 4096 x 4096 test
 * picture encoded as PNG and JPEG, and decoded with the same library calls
 * that the plug-ins make, into a plain buffer of BGR rows. */
#ifndef KEVRALE_BENCH_CODEC_DECODE_H
#define KEVRALE_BENCH_CODEC_DECODE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A line drawing on white with gradients, `width` x `height` RGB. The
 * result is malloc'd; the caller frees it. NULL when memory runs out. */
uint8_t* BenchPicture(int width, int height);

/* Encoded files, malloc'd; NULL on failure. */
uint8_t* BenchEncodePng(const uint8_t* rgb, int width, int height, size_t* size);
uint8_t* BenchEncodeJpeg(const uint8_t* rgb, int width, int height, int quality, size_t* size);

/* Decodes to BGR rows in a buffer of its own, which it frees; 0 on success.
 * `checksum` gets a byte of the result so that nothing is optimised away. */
int BenchDecodePng(const uint8_t* data, size_t size, unsigned* checksum);
int BenchDecodeJpeg(const uint8_t* data, size_t size, unsigned* checksum);

#ifdef __cplusplus
}
#endif

#endif
