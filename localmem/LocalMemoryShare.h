/* Large local-memory blocks handed from a plug-in process to the host
 * without a copy. Not part of the plug-in API: only the program's own
 * processes call these.
 *
 * The runner asks that the large blocks its plug-in allocates live each in
 * a memory file of its own (a memfd that allows sealing). The host opens
 * that file, seals it against every change and maps it, and adopts the
 * mapping as one of its own blocks: LocalLock, LocalSize and LocalFree
 * treat it as any moveable block, and LocalFree hands it back to the
 * release function. An adopted block is read-only. */
#ifndef KEVRALE_LOCAL_MEMORY_SHARE_H
#define KEVRALE_LOCAL_MEMORY_SHARE_H

#include <stddef.h>

#include "kevrale/spi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* From now on, blocks of `from_bytes` or more are memory files. */
SPI_EXPORT void KevraleLocalShareLargeBlocks(size_t from_bytes);

/* The descriptor of the memory file that holds a block (its bytes from
 * offset 0); -1 for a block that is not one, or a handle it did not make. */
SPI_EXPORT int KevraleLocalBlockFd(SpiHandle handle);

/* A moveable block of `size` bytes at `address`, which LocalFree passes to
 * `release`; NULL (and nothing released) when no record can be made. */
SPI_EXPORT SpiHandle KevraleLocalAdopt(void* address, size_t size,
                                       void (*release)(void* address, size_t size));

#ifdef __cplusplus
}
#endif

#endif
