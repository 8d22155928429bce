// Blocks that a plug-in process hands over in memory files: the host opens
// the file through the process's descriptor, and once the process has let
// go of it, seals it against every change, maps it and adopts the mapping
// as one of its own local-memory blocks. Nothing is copied, and whatever
// checks the block afterwards reads memory that no process can change.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "ipc/ChildProcess.h"
#include "kevrale/spi.h"

namespace kevrale {

// Opens descriptor `fd` of process `pid` (a child of this one) for reading
// and writing; an empty UniqueFd when it cannot, or when it is not a file
// of at least `size` bytes that a memory file could be.
UniqueFd OpenSharedBlock(pid_t pid, uint64_t fd, size_t size);

// The file's first `size` bytes as a local-memory block of this process:
// sealed and mapped read-only where the file can be sealed, else copied
// (a process that kept a mapping of its own, or a file that cannot be
// sealed, cannot change what is checked). nullptr when there is no room.
SpiHandle TakeSharedBlock(int fd, size_t size);

}  // namespace kevrale
