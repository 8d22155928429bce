/* The protocol side of a plug-in process: reads the host's requests, calls
 * the plug-in's entry points and sends the answers. The native runner and
 * the Windows bridge share it; each gives it the platform's calls (the
 * channel, the loader, the local-memory calls).
 *
 * Plain C: the Windows bridge is a C program.
 */
#ifndef KEVRALE_SPI_SERVER_H
#define KEVRALE_SPI_SERVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of the entry points: stdcall for 32-bit Windows
 * plug-ins; the platform's only one elsewhere. */
#if defined(_WIN32) && defined(__i386__)
#define SPI_CALL __stdcall
#else
#define SPI_CALL
#endif

/* The picture information record as the plug-in fills it: 26 bytes on
 * 32-bit Windows, 30 on 64-bit machines, the handle at byte 22. */
#pragma pack(push, 1)
typedef struct SpiServerPictureInfo {
  int32_t left, top, width, height;
  uint16_t x_density, y_density;
  int16_t colorDepth;
  void* hInfo;
} SpiServerPictureInfo;
#pragma pack(pop)

typedef int32_t(SPI_CALL* SpiServerProgress)(int32_t num, int32_t denom, intptr_t data);
/* GetPicture and GetPreview */
typedef int32_t(SPI_CALL* SpiServerGetPicture)(const char* buf, intptr_t len, uint32_t flag,
                                               void** hbinfo, void** hbm,
                                               SpiServerProgress progress, intptr_t data);

/* The entry points; NULL when the plug-in does not export one. Only the
 * first six are called; the others are reported. */
typedef struct SpiServerEntries {
  int32_t(SPI_CALL* GetPluginInfo)(int32_t infono, char* buf, int32_t buflen);
  void* ConfigurationDlg;
  int32_t(SPI_CALL* IsSupported)(const char* filename, intptr_t dw);
  int32_t(SPI_CALL* GetPictureInfo)(const char* buf, intptr_t len, uint32_t flag,
                                    SpiServerPictureInfo* info);
  SpiServerGetPicture GetPicture;
  SpiServerGetPicture GetPreview;
  void* GetArchiveInfo;
  void* GetFileInfo;
  void* GetFile;
} SpiServerEntries;

/* What the platform gives the server. */
typedef struct SpiServerPlatform {
  void* channel;
  /* Reads exactly `size` bytes; 0 on success, 1 at the end of the input
   * before the first byte, -1 on any other failure. */
  int (*Read)(void* channel, void* buffer, size_t size);
  /* Writes all `size` bytes; 0 on success. */
  int (*Write)(void* channel, const void* buffer, size_t size);
  /* Loads the plug-in and binds its entry points; 0 on success, else the
   * loader's reason in `reason` (NUL-terminated, at most reason_size). */
  int (*Load)(const char* name, SpiServerEntries* entries, char* reason, size_t reason_size);
  /* The local-memory calls of the plug-in's process. */
  void* (*Lock)(void* handle);
  void (*Unlock)(void* handle);
  size_t (*Size)(void* handle);
  void (*Free)(void* handle);
  /* Where the platform can (NULL where not): makes the large blocks that
   * the plug-in allocates from now on memory files, and gives the
   * descriptor of the one that holds a block (-1 for others). */
  void (*ShareLargeBlocks)(void);
  int (*BlockFd)(void* handle);
  uint32_t code_page;    /* of file names, as HELLO reports it */
  uint32_t pointer_bits; /* 32 or 64 */
} SpiServerPlatform;

/* Serves the host until it closes the channel. One request at a time, on
 * this thread; a plug-in calls its progress callback inside its call, on
 * the same thread, as the published API has it (the channel is not locked).
 * Returns the process's exit status: 0 after a regular end,
 * SPI_SERVER_BROKEN when the channel failed or a message broke the protocol. */
int SpiServe(const SpiServerPlatform* platform);

/* Sends CRASHED with `code`; for a fault handler that ends the process. */
void SpiServerReportCrash(const SpiServerPlatform* platform, uint32_t code);

#define SPI_SERVER_BROKEN 2

#ifdef __cplusplus
}
#endif

#endif /* KEVRALE_SPI_SERVER_H */
