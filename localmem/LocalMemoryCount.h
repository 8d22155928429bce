/* The number of live local-memory blocks of the process: what the host and
 * the plug-ins have allocated and not yet freed. Not part of the plug-in
 * API; the tests use it to see that nothing a plug-in handed over is lost. */
#ifndef KEVRALE_LOCAL_MEMORY_COUNT_H
#define KEVRALE_LOCAL_MEMORY_COUNT_H

#include <stddef.h>

#include "kevrale/spi.h"

#ifdef __cplusplus
extern "C" {
#endif

SPI_EXPORT size_t KevraleLocalBlockCount(void);

#ifdef __cplusplus
}
#endif

#endif
