// Owners of the local-memory blocks that a plug-in hands to the host: the
// info and bits blocks of a decoded picture and the text information of
// its picture information. A block is locked once, when first read, and
// unlocked and freed when its owner lets it go. The local-memory library
// refuses handles that it did not make, so a foreign handle from a bad
// plug-in is dropped here, never freed.
#pragma once

#include <cstddef>
#include <utility>

#include "kevrale/spi.h"

namespace kevrale {

class LocalBlock {
 public:
  LocalBlock() = default;
  explicit LocalBlock(SpiHandle handle) : handle_(handle) {}
  ~LocalBlock() { Reset(); }
  LocalBlock(LocalBlock&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)),
        address_(std::exchange(other.address_, nullptr)) {}
  LocalBlock& operator=(LocalBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
      address_ = std::exchange(other.address_, nullptr);
    }
    return *this;
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;

  SpiHandle Handle() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // The block's address, locked on the first call; nullptr for a handle
  // that the library does not know.
  void* Lock() {
    if (address_ == nullptr && handle_ != nullptr) address_ = LocalLock(handle_);
    return address_;
  }
  bool Locked() const { return address_ != nullptr; }
  // The size the block was allocated with; 0 for a foreign handle.
  size_t Size() const { return handle_ != nullptr ? LocalSize(handle_) : 0; }

  // Unlocks and frees the block; the owner is empty afterwards.
  void Reset() {
    if (address_ != nullptr) LocalUnlock(handle_);
    if (handle_ != nullptr) LocalFree(handle_);
    handle_ = nullptr;
    address_ = nullptr;
  }

  // Forgets the block without freeing it and returns its handle: another
  // owner holds it and frees it.
  SpiHandle Release() {
    address_ = nullptr;
    return std::exchange(handle_, nullptr);
  }

  // Empties the owner and gives the place where a plug-in stores a new
  // handle (an out-argument of GetPicture or GetPictureInfo).
  SpiHandle* Receive() {
    Reset();
    return &handle_;
  }

 private:
  SpiHandle handle_ = nullptr;
  void* address_ = nullptr;
};

// The two blocks of a decoded picture: the info block (header and colour
// table) and the pixel bits.
struct DibBlocks {
  LocalBlock Info;
  LocalBlock Bits;

  bool Empty() const { return !Info || !Bits; }
  // Frees both; a handle given for both blocks is freed once, so that a
  // block another thread has allocated meanwhile at the same address is
  // never freed by mistake.
  void Reset() {
    if (Bits.Handle() == Info.Handle()) Bits.Release();
    Info.Reset();
    Bits.Reset();
  }
};

}  // namespace kevrale
