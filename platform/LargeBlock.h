// Large memory blocks (whole pictures) backed by huge pages where the kernel
// offers them on request. A picture of 4096 x 4096 pixels is 48 MiB: with
// ordinary pages its first write takes 12 288 page faults, which costs as
// much as copying it. The advice is only a hint; without it nothing changes
// but the speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kevrale {

// Blocks from this size up are worth the advice.
constexpr size_t kLargeBlockSize = size_t(4) << 20;

// Advises the kernel to back the untouched block [data, data + size) with
// huge pages. Does nothing for small blocks or where the advice is refused.
void AdviseLargeBlock(void* data, size_t size) noexcept;

// An uninitialised byte array of `size` bytes, advised as above.
std::unique_ptr<uint8_t[]> NewLargeBlock(size_t size);

// Whether shared memory (memory files, tmpfs) may be backed by huge pages
// here, as the kernel's setting for it says. Without them a large block
// of shared memory costs a fault per small page, several times what
// private memory costs.
bool SharedMemoryHasHugePages();

}  // namespace kevrale
