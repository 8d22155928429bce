// The local-memory calls shared by the host and every plug-in. One copy of
// this library is loaded per process, so a handle that a plug-in allocates
// can be locked, measured and freed by the host.
//
// Every live block is kept in a registry keyed by its handle; a call with a
// handle that is not in it is refused without touching the memory the handle
// points to, so a bad plug-in cannot make the host crash here.
#include "kevrale/spi.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "localmem/LocalMemoryCount.h"
#include "platform/LargeBlock.h"

namespace {

struct FreeBlock {
  void operator()(void* data) const noexcept { std::free(data); }
};

// A block. For a moveable block the handle is the address of this record,
// whose first member is the data address (as a Windows moveable handle
// points to a slot holding the address).
struct Block {
  void* data = nullptr;  // null for a moveable block of 0 bytes
  size_t size = 0;
  uint32_t locks = 0;
  bool moveable = false;
  std::unique_ptr<void, FreeBlock> owned;  // the memory of `data`

  Block(std::unique_ptr<void, FreeBlock> memory, size_t bytes, bool is_moveable)
      : data(memory.get()), size(bytes), moveable(is_moveable), owned(std::move(memory)) {}
};
static_assert(offsetof(Block, data) == 0, "a moveable handle points at the data address");

class Registry {
 public:
  SpiHandle Allocate(uint32_t flags, size_t bytes) {
    if ((flags & ~LMEM_VALID_FLAGS) != 0) return nullptr;
    // Larger requests cannot be met; refuse them before the allocator sees them.
    if (bytes > size_t(PTRDIFF_MAX) / 2) return nullptr;
    const bool moveable = (flags & LMEM_MOVEABLE) != 0;
    const bool zero = (flags & LMEM_ZEROINIT) != 0;

    std::unique_ptr<void, FreeBlock> memory;
    if (bytes > 0 || !moveable) {
      // A fixed block of 0 bytes still needs an address of its own.
      const size_t real = bytes > 0 ? bytes : 1;
      memory.reset(zero ? std::calloc(1, real) : std::malloc(real));
      if (!memory) return nullptr;
      // Plug-ins keep whole pictures here.
      kevrale::AdviseLargeBlock(memory.get(), real);
    }
    try {
      auto block = std::make_unique<Block>(std::move(memory), bytes, moveable);
      const SpiHandle handle = moveable ? SpiHandle(block.get()) : SpiHandle(block->data);
      std::lock_guard<std::mutex> guard(mutex_);
      blocks_.emplace(handle, std::move(block));
      return handle;
    } catch (...) {
      return nullptr;  // out of memory for the record: nothing is kept
    }
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
    std::unique_ptr<Block> block;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto it = blocks_.find(h);
      if (it == blocks_.end()) return h;
      block = std::move(it->second);
      blocks_.erase(it);
    }
    return nullptr;  // the block and its memory go here, outside the lock
  }

  size_t Size(SpiHandle h) {
    std::lock_guard<std::mutex> guard(mutex_);
    Block* block = Find(h);
    return block != nullptr ? block->size : 0;
  }

  size_t Count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return blocks_.size();
  }

 private:
  Block* Find(SpiHandle h) const {
    auto it = blocks_.find(h);
    return it != blocks_.end() ? it->second.get() : nullptr;
  }

  std::mutex mutex_;
  std::unordered_map<SpiHandle, std::unique_ptr<Block>> blocks_;
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

size_t KevraleLocalBlockCount(void) {
  return TheRegistry().Count();
}

}  // extern "C"
