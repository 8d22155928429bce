/* Kevrale import plug-in interface for Linux.
 *
 * A plug-in is an ELF shared object with the file name extension ".spi"
 * that exports the entry points below under exactly these names. The host
 * loads it with dlopen and calls the entry points with the platform's
 * ordinary C calling convention. Values that the Windows form of this API
 * passes as 32 bits stay 32 bits; values that carry an address, and the
 * length argument of the picture functions, are pointer-sized.
 *
 * Memory that a plug-in hands to the host (the bitmap information and the
 * pixel rows of GetPicture, the text information of GetPictureInfo) must
 * come from LocalAlloc, which the shared library libkevrale-localmem
 * provides to the host and to every plug-in. Link the plug-in with it
 * (-lkevrale-localmem).
 */
#ifndef KEVRALE_SPI_H
#define KEVRALE_SPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Marks an entry point as exported even when the plug-in is built with
 * -fvisibility=hidden. */
#define SPI_EXPORT __attribute__((visibility("default")))

/* A local-memory handle (see LocalAlloc below). */
typedef void* SpiHandle;

#pragma pack(push, 1)
/* Filled by GetPictureInfo. */
typedef struct SpiPictureInfo {
  int32_t left, top;     /* where the image is placed */
  int32_t width, height; /* pixels */
  uint16_t x_density;    /* pixels per unit, horizontal */
  uint16_t y_density;    /* vertical */
  int16_t colorDepth;    /* bits per pixel */
  SpiHandle hInfo;       /* text information, or NULL; the caller frees it */
} SpiPictureInfo;
#pragma pack(pop)

#if defined(__x86_64__)
#ifdef __cplusplus
static_assert(sizeof(SpiPictureInfo) == 30, "SpiPictureInfo is 30 bytes");
static_assert(offsetof(SpiPictureInfo, hInfo) == 22, "hInfo lies at byte 22");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(SpiPictureInfo) == 30, "SpiPictureInfo is 30 bytes");
_Static_assert(offsetof(SpiPictureInfo, hInfo) == 22, "hInfo lies at byte 22");
#endif
#endif

/* Called by GetPicture and GetPreview with num going from 0 to denom.
 * Return 0 to continue, non-zero to abort (the plug-in then returns
 * SPI_ABORTED). data is the caller's datum, passed on unchanged. */
typedef int32_t (*SpiProgressCallback)(int32_t num, int32_t denom, intptr_t data);

/* Input forms of the picture functions (bits 0..2 of flag). */
#define SPI_INPUT_FILE 0x0000u   /* buf: NUL-terminated file name; len: offset of the image */
#define SPI_INPUT_MEMORY 0x0001u /* buf: the image data in memory; len: its size in bytes */
#define SPI_INPUT_MASK 0x0007u   /* the other bits are reserved and passed as 0 */

/* Results of the picture functions. */
#define SPI_SUCCESS 0
#define SPI_NOT_IMPLEMENTED (-1)
#define SPI_ABORTED 1 /* the progress callback asked to stop */
#define SPI_UNKNOWN_FORMAT 2
#define SPI_BROKEN_DATA 3
#define SPI_OUT_OF_MEMORY 4
#define SPI_MEMORY_ERROR 5
#define SPI_FILE_READ_ERROR 6
#define SPI_INTERNAL_ERROR 8

/* Version strings of information number 0. */
#define SPI_VERSION_IMPORT "00IN"
#define SPI_VERSION_ARCHIVE "00AM"
#define SPI_VERSION_XN "00XN"

/* Information 0 is the API version, 1 the plug-in's name and version,
 * 2n+2 a filter string such as "*.jpg;*.jpeg", 2n+3 the format name of that
 * filter. Stores at most buflen characters into buf and returns the number
 * stored (without the NUL); 0 when there is no such information. */
typedef int32_t (*SpiGetPluginInfoFunc)(int32_t infono, char* buf, int32_t buflen);
/* filename: the file's name (may be empty); dw: the address of a buffer
 * holding at least 2 KB of the start of the data. Non-zero: supported. */
typedef int32_t (*SpiIsSupportedFunc)(const char* filename, intptr_t dw);
typedef int32_t (*SpiGetPictureInfoFunc)(const char* buf, intptr_t len, uint32_t flag,
                                         SpiPictureInfo* info);
/* On success stores two handles, both owned by the caller from then on:
 * *hbinfo holds a BITMAPINFOHEADER (40 bytes, biSize = 40) followed by the
 * colour table, *hbm the pixel rows (bottom-up unless the height is
 * negative, each row padded to 4 bytes). */
typedef int32_t (*SpiGetPictureFunc)(const char* buf, intptr_t len, uint32_t flag,
                                     SpiHandle* hbinfo, SpiHandle* hbm,
                                     SpiProgressCallback progress, intptr_t data);
typedef SpiGetPictureFunc SpiGetPreviewFunc;
/* Bound by the host, never called. */
typedef int32_t (*SpiConfigurationDlgFunc)(void* parent, int32_t fnc);
/* Archive plug-ins ("00AM"): bound and checked for presence only. */
typedef int32_t (*SpiGetArchiveInfoFunc)(const char* buf, intptr_t len, uint32_t flag,
                                         SpiHandle* lphInf);
typedef int32_t (*SpiGetFileInfoFunc)(const char* buf, intptr_t len, const char* filename,
                                      uint32_t flag, void* lpInfo);
typedef int32_t (*SpiGetFileFunc)(const char* src, intptr_t len, char* dest, uint32_t flag,
                                  SpiProgressCallback progress, intptr_t data);

/* The entry points a plug-in defines. Which ones it must define depends on
 * its kind: every plug-in GetPluginInfo; an import plug-in also IsSupported,
 * GetPictureInfo and GetPicture (GetPreview is optional); an archive plug-in
 * IsSupported, GetArchiveInfo, GetFileInfo and GetFile. */
SPI_EXPORT int32_t GetPluginInfo(int32_t infono, char* buf, int32_t buflen);
SPI_EXPORT int32_t IsSupported(const char* filename, intptr_t dw);
SPI_EXPORT int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                  SpiPictureInfo* info);
SPI_EXPORT int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                              SpiHandle* hbm, SpiProgressCallback progress, intptr_t data);
SPI_EXPORT int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                              SpiHandle* hbm, SpiProgressCallback progress, intptr_t data);
SPI_EXPORT int32_t ConfigurationDlg(void* parent, int32_t fnc);
SPI_EXPORT int32_t GetArchiveInfo(const char* buf, intptr_t len, uint32_t flag, SpiHandle* lphInf);
SPI_EXPORT int32_t GetFileInfo(const char* buf, intptr_t len, const char* filename, uint32_t flag,
                               void* lpInfo);
SPI_EXPORT int32_t GetFile(const char* src, intptr_t len, char* dest, uint32_t flag,
                           SpiProgressCallback progress, intptr_t data);

/* Local memory, with the meaning of the Windows calls of these names.
 *
 * LocalAlloc returns a fixed block (LMEM_FIXED: the handle is the block's
 * address) or a moveable one (LMEM_MOVEABLE: lock it to get the address),
 * zero-filled with LMEM_ZEROINIT; NULL when the flags are not valid or the
 * memory is not available. A moveable block of 0 bytes has no memory:
 * locking it gives NULL, as on Windows. The other calls recognise handles that this
 * library did not make, and refuse them: LocalLock returns NULL,
 * LocalUnlock 0, LocalFree the handle itself, LocalSize 0. */
#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_NOCOMPACT 0x0010u /* accepted, no effect */
#define LMEM_NODISCARD 0x0020u /* accepted, no effect */
#define LMEM_ZEROINIT 0x0040u
#define LMEM_DISCARDABLE 0x0F00u /* accepted, no effect */
#define LMEM_VALID_FLAGS 0x0F72u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)

SPI_EXPORT SpiHandle LocalAlloc(uint32_t flags, size_t bytes);
/* The block's address; a moveable block's lock count goes up by one. */
SPI_EXPORT void* LocalLock(SpiHandle h);
/* Lowers a moveable block's lock count; non-zero while still locked. */
SPI_EXPORT int32_t LocalUnlock(SpiHandle h);
/* Frees the block, locked or not: NULL on success, h on failure. */
SPI_EXPORT SpiHandle LocalFree(SpiHandle h);
/* The size that LocalAlloc was asked for; 0 for a handle it did not make. */
SPI_EXPORT size_t LocalSize(SpiHandle h);

#ifdef __cplusplus
}
#endif

#endif /* KEVRALE_SPI_H */
