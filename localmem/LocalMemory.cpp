// The local-memory calls shared by the host and every plug-in. One copy of
// this library is loaded per process, so a handle that a plug-in allocates
// can be locked, measured and freed by the host.
//
// Every live block is kept in a registry keyed by its handle; a call with a
// handle that is not in it is refused without touching the memory the handle
// points to, so a bad plug-in cannot make the host crash here.
#include "kevrale/spi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/LargeBlock.h"

namespace {

// A block. For a moveable block the handle is the address of this record,
// whose first member is the data address (as a Windows moveable handle
// points to a slot holding the address).
struct Block {
  void* data = nullptr;  // null for a moveable block of 0 bytes
  size_t size = 0;
  uint32_t locks = 0;
  bool moveable = false;
};

class Registry {
 public:
  SpiHandle Allocate(uint32_t flags, size_t bytes) {
    if ((flags & ~LMEM_VALID_FLAGS) != 0) return nullptr;
    // Larger requests cannot be met; refuse them before the allocator sees them.
    if (bytes > size_t(PTRDIFF_MAX) / 2) return nullptr;
    const bool moveable = (flags & LMEM_MOVEABLE) != 0;
    const bool zero = (flags & LMEM_ZEROINIT) != 0;

    void* data = nullptr;
    if (bytes > 0 || !moveable) {
      // A fixed block of 0 bytes still needs an address of its own.
      const size_t real = bytes > 0 ? bytes : 1;
      data = zero ? std::calloc(1, real) : std::malloc(real);
      if (data == nullptr) return nullptr;
      // Plug-ins keep whole pictures here.
      kevrale::AdviseLargeBlock(data, real);
    }
    Block* block = new (std::nothrow) Block{data, bytes, 0, moveable};
    if (block == nullptr) {
      std::free(data);
      return nullptr;
    }
    const SpiHandle handle = moveable ? SpiHandle(block) : SpiHandle(data);
    try {
      std::lock_guard<std::mutex> guard(mutex_);
      blocks_.emplace(handle, block);
    } catch (...) {
      std::free(data);
      delete block;
      return nullptr;
    }
    return handle;
  }

  void* Lock(SpiHandle h) {
    std::lock_guard<std::mutex> guard(mutex_);
    Block* block = Find(h);
    if (block == nullptr) return nullptr;
    if (block->moveable && block->data != nullptr && block->locks < UINT32_MAX) ++block->locks;
    return block->data;
  }

  int32_t Unlock(SpiHandle h) {
    std::lock_guard<std::mutex> guard(mutex_);
    Block* block = Find(h);
    if (block == nullptr || !block->moveable || block->locks == 0) return 0;
    --block->locks;
    return block->locks > 0 ? 1 : 0;
  }

  SpiHandle Free(SpiHandle h) {
    if (h == nullptr) return nullptr;
    Block* block = nullptr;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto it = blocks_.find(h);
      if (it == blocks_.end()) return h;
      block = it->second;
      blocks_.erase(it);
    }
    std::free(block->data);
    delete block;
    return nullptr;
  }

  size_t Size(SpiHandle h) {
    std::lock_guard<std::mutex> guard(mutex_);
    Block* block = Find(h);
    return block != nullptr ? block->size : 0;
  }

 private:
  Block* Find(SpiHandle h) const {
    auto it = blocks_.find(h);
    return it != blocks_.end() ? it->second : nullptr;
  }

  std::mutex mutex_;
  std::unordered_map<SpiHandle, Block*> blocks_;
};

// Never destroyed: plug-ins and static destructors of the host may still free
// handles while the process ends.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

extern "C" {

SpiHandle LocalAlloc(uint32_t flags, size_t bytes) {
  return TheRegistry().Allocate(flags, bytes);
}

void* LocalLock(SpiHandle h) {
  return h != nullptr ? TheRegistry().Lock(h) : nullptr;
}

int32_t LocalUnlock(SpiHandle h) {
  return h != nullptr ? TheRegistry().Unlock(h) : 0;
}

SpiHandle LocalFree(SpiHandle h) {
  return TheRegistry().Free(h);
}

size_t LocalSize(SpiHandle h) {
  return h != nullptr ? TheRegistry().Size(h) : 0;
}

}  // extern "C"
