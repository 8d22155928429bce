// The local-memory calls shared by the host and every plug-in. One copy of
// this library is loaded per process, so a handle that a plug-in allocates
// can be locked, measured and freed by the host.
//
// Every live block is kept in a registry keyed by its handle; a call with a
// handle that is not in it is refused without touching the memory the handle
// points to, so a bad plug-in cannot make the host crash here.
#include "kevrale/spi.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "localmem/LocalMemoryCount.h"
#include "localmem/LocalMemoryShare.h"
#include "platform/LargeBlock.h"

namespace {

// The memory of a block: from malloc, a memory file mapped here, or an
// adopted mapping that its release function frees.
class Memory {
 public:
  Memory() = default;
  ~Memory() { Reset(); }
  Memory(Memory&& other) noexcept
      : address_(std::exchange(other.address_, nullptr)),
        size_(other.size_),
        fd_(std::exchange(other.fd_, -1)),
        release_(std::exchange(other.release_, nullptr)) {}
  Memory& operator=(Memory&& other) noexcept {
    if (this != &other) {
      Reset();
      address_ = std::exchange(other.address_, nullptr);
      size_ = other.size_;
      fd_ = std::exchange(other.fd_, -1);
      release_ = std::exchange(other.release_, nullptr);
    }
    return *this;
  }
  Memory(const Memory&) = delete;

  static Memory FromMalloc(size_t bytes, bool zero) {
    Memory m;
    m.address_ = zero ? std::calloc(1, bytes) : std::malloc(bytes);
    m.size_ = bytes;
    // Plug-ins keep whole pictures here.
    kevrale::AdviseLargeBlock(m.address_, bytes);
    return m;
  }

  // A memory file of `bytes` (zero-filled), mapped here and faulted in at
  // once, which is cheaper than a fault per page as the plug-in writes.
  static Memory InMemoryFile(size_t bytes) {
    Memory m;
    const int fd = memfd_create("kevrale-block", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return m;
    void* address = MAP_FAILED;
    if (ftruncate(fd, off_t(bytes)) == 0)
      address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
      close(fd);
      return m;
    }
    kevrale::AdviseLargeBlock(address, bytes);
#ifdef MADV_POPULATE_WRITE
    (void)madvise(address, bytes, MADV_POPULATE_WRITE);
#endif
    m.address_ = address;
    m.size_ = bytes;
    m.fd_ = fd;
    return m;
  }

  static Memory Adopted(void* address, size_t size, void (*release)(void*, size_t)) {
    Memory m;
    m.address_ = address;
    m.size_ = size;
    m.release_ = release;
    return m;
  }

  void* Address() const {
    return address_;
  }
  int Fd() const {
    return fd_;
  }
  // Bytes of memory from malloc large enough to be kept for reuse; 0 for
  // any other memory.
  size_t Reusable() const {
    const bool from_malloc = address_ != nullptr && fd_ < 0 && release_ == nullptr;
    return from_malloc && size_ >= kevrale::kLargeBlockSize ? size_ : 0;
  }

 private:
  void Reset() noexcept {
    if (address_ == nullptr) return;
    if (release_ != nullptr) {
      release_(address_, size_);
    } else if (fd_ >= 0) {
      munmap(address_, size_);
      close(fd_);
    } else {
      std::free(address_);
    }
    address_ = nullptr;
  }

  void* address_ = nullptr;
  size_t size_ = 0;
  int fd_ = -1;
  void (*release_)(void*, size_t) = nullptr;
};

// A block. For a moveable block the handle is the address of this record,
// whose first member is the data address (as a Windows moveable handle
// points to a slot holding the address).
struct Block {
  void* data = nullptr;  // null for a moveable block of 0 bytes
  size_t size = 0;
  uint32_t locks = 0;
  bool moveable = false;
  Memory owned;  // the memory of `data`

  Block(Memory memory, size_t bytes, bool is_moveable)
      : data(memory.Address()), size(bytes), moveable(is_moveable), owned(std::move(memory)) {}
};
static_assert(offsetof(Block, data) == 0, "a moveable handle points at the data address");

class Registry {
 public:
  // The largest block kept for reuse once freed.
  static constexpr size_t kMaxSpare = size_t(256) << 20;

  SpiHandle Allocate(uint32_t flags, size_t bytes) {
    if ((flags & ~LMEM_VALID_FLAGS) != 0) return nullptr;
    // Larger requests cannot be met; refuse them before the allocator sees them.
    if (bytes > size_t(PTRDIFF_MAX) / 2) return nullptr;
    const bool moveable = (flags & LMEM_MOVEABLE) != 0;
    const bool zero = (flags & LMEM_ZEROINIT) != 0;

    Memory memory;
    if (bytes > 0 || !moveable) {
      // A fixed block of 0 bytes still needs an address of its own.
      const size_t real = bytes > 0 ? bytes : 1;
      const size_t shared_from = shared_from_.load(std::memory_order_relaxed);
      if (shared_from != 0 && real >= shared_from) memory = Memory::InMemoryFile(real);
      if (memory.Address() == nullptr && real >= kevrale::kLargeBlockSize)
        memory = TakeSpare(real, zero);
      if (memory.Address() == nullptr) memory = Memory::FromMalloc(real, zero);
      if (memory.Address() == nullptr) return nullptr;
    }
    try {
      return Keep(std::make_unique<Block>(std::move(memory), bytes, moveable));
    } catch (...) {
      return nullptr;  // out of memory for the record: nothing is kept
    }
  }

  SpiHandle Adopt(void* address, size_t size, void (*release)(void*, size_t)) {
    if (address == nullptr || release == nullptr) return nullptr;
    // The record is listed before it owns the mapping: a failure on the way
    // leaves the mapping with the caller.
    SpiHandle handle = nullptr;
    try {
      handle = Keep(std::make_unique<Block>(Memory(), size, true));
    } catch (...) {
      return nullptr;
    }
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    Block* block = Find(handle);
    block->data = address;
    block->owned = Memory::Adopted(address, size, release);
    return handle;
  }

  void ShareFrom(size_t bytes) { shared_from_.store(bytes, std::memory_order_relaxed); }

  int Fd(SpiHandle h) {
    std::lock_guard<std::mutex> guard(mutex_);
    Block* block = Find(h);
    return block != nullptr ? block->owned.Fd() : -1;
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
    // The last freed picture is kept for the next one, which is most often
    // of a like size; the memory it replaces goes here, outside the lock.
    if (block->owned.Reusable() != 0 && block->owned.Reusable() <= kMaxSpare) {
      std::lock_guard<std::mutex> guard(mutex_);
      std::swap(block->owned, spare_);
    }
    return nullptr;
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
  // The kept block when it suits `bytes` (no more than twice as large), so
  // that a picture after a picture needs no fresh pages: a fresh page costs
  // a fault and a zero-fill, more than the copy that fills it.
  Memory TakeSpare(size_t bytes, bool zero) {
    Memory memory;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      const size_t capacity = spare_.Reusable();
      if (capacity < bytes || capacity / 2 > bytes) return memory;
      memory = std::move(spare_);
    }
    if (zero) std::memset(memory.Address(), 0, bytes);
    return memory;
  }

  SpiHandle Keep(std::unique_ptr<Block> block) {
    try {
      const SpiHandle handle = block->moveable ? SpiHandle(block.get()) : SpiHandle(block->data);
      std::lock_guard<std::mutex> guard(mutex_);
      blocks_.emplace(handle, std::move(block));
      return handle;
    } catch (...) {
      return nullptr;  // out of memory for the record: nothing is kept
    }
  }

  Block* Find(SpiHandle h) const {
    auto it = blocks_.find(h);
    return it != blocks_.end() ? it->second.get() : nullptr;
  }

  std::mutex mutex_;
  std::unordered_map<SpiHandle, std::unique_ptr<Block>> blocks_;
  std::atomic<size_t> shared_from_{0};  // 0: no block is a memory file
  Memory spare_;                        // the last freed large block, kept for reuse
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

void KevraleLocalShareLargeBlocks(size_t from_bytes) {
  TheRegistry().ShareFrom(from_bytes);
}

int KevraleLocalBlockFd(SpiHandle handle) {
  return handle != nullptr ? TheRegistry().Fd(handle) : -1;
}

SpiHandle KevraleLocalAdopt(void* address, size_t size, void (*release)(void*, size_t)) {
  return TheRegistry().Adopt(address, size, release);
}

}  // extern "C"
