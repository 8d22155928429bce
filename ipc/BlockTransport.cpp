#include "ipc/BlockTransport.h"

#include <sys/uio.h>

#include <cerrno>
#include <thread>

#include "ipc/MessageChannel.h"
#include "ipc/SharedBlock.h"
#include "platform/LittleEndian.h"
#include "runner/SpiProtocol.h"

namespace kevrale {

namespace {

// Copies `size` bytes at `address` in process `pid` into `target`; 0 on
// success, else the errno of the failure (0 read counts as EFAULT).
int CopyFromProcess(pid_t pid, uint64_t address, uint8_t* target, size_t size) {
  while (size > 0) {
    const iovec local{target, size};
    const iovec remote{reinterpret_cast<void*>(uintptr_t(address)), size};
    const ssize_t n = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EFAULT;
    target += n;
    address += uint64_t(n);
    size -= size_t(n);
  }
  return 0;
}

// From this size on a block is copied in two halves at once: the process
// waits meanwhile, so a second core has nothing better to do.
constexpr size_t kSplitCopy = size_t(8) << 20;

}  // namespace

void ProtocolBroken() {
  throw ChannelFailure{ChannelFailure::Kind::Broken};
}

uint64_t BitsAllowance(SpiHandle info) {
  constexpr uint64_t kSlack = uint64_t(1) << 20;
  const size_t size = info != nullptr ? LocalSize(info) : 0;
  if (size < 40) return kSlack;
  const auto* header = static_cast<const uint8_t*>(LocalLock(info));
  const int64_t width = int32_t(Get32(header + 4));
  const int64_t height = int32_t(Get32(header + 8));
  const uint64_t bit_count = Get16(header + 14);
  LocalUnlock(info);
  if (width <= 0 || height == 0 || bit_count == 0 || bit_count > 32) return kSlack;
  const uint64_t stride = (uint64_t(width) * bit_count + 31) / 32 * 4;
  const uint64_t needed = stride * uint64_t(height < 0 ? -height : height);
  return 2 * needed + kSlack;
}

void BlockTransport::Attach(pid_t pid, MessageChannel* channel) {
  pid_ = pid;
  channel_ = channel;
  in_place_ = false;
  shared_ = false;
}

void BlockTransport::SetWays(bool in_place, bool shared) {
  in_place_ = in_place;
  shared_ = shared;
}

void BlockTransport::ReadInPlace(uint64_t address, void* target, size_t size) const {
  auto* p = static_cast<uint8_t*>(target);
  int failed = 0;
  if (size >= kSplitCopy) {
    const size_t half = size / 2 / 4096 * 4096;
    int second = 0;
    std::thread helper(
        [&] { second = CopyFromProcess(pid_, address + half, p + half, size - half); });
    failed = CopyFromProcess(pid_, address, p, half);
    helper.join();
    if (failed == 0) failed = second;
  } else {
    failed = CopyFromProcess(pid_, address, p, size);
  }
  // A process that is gone has crashed; an address that it cannot have
  // given breaks the protocol.
  if (failed != 0)
    throw ChannelFailure{failed == ESRCH ? ChannelFailure::Kind::Closed
                                         : ChannelFailure::Kind::Broken};
}

void BlockTransport::ReleaseBlocks() {
  if (in_place_) channel_->WriteFrame(SPI_MSG_RELEASE, nullptr, 0);
}

bool BlockTransport::ReadBlock(const uint8_t* field, SpiHandle& handle, uint32_t& left,
                               std::vector<SharedPending>& shared) {
  const uint32_t state = Get32(field);
  if (state == SPI_BLOCK_SHARED) {
    const uint64_t size = Get64(field + 4);
    if (!shared_ || size == 0 || size > SPI_FRAME_MAX_BODY) ProtocolBroken();
    // Opened now, while the process still holds its descriptor.
    UniqueFd file = OpenSharedBlock(pid_, Get64(field + 12), size_t(size));
    if (!file) ProtocolBroken();
    shared.push_back({std::move(file), size_t(size), &handle});
    return true;
  }
  if (state != SPI_BLOCK_DATA) return true;
  const uint64_t size = Get64(field + 4);
  if (size > SPI_FRAME_MAX_BODY || (!in_place_ && size > left)) ProtocolBroken();
  if (!in_place_) left -= uint32_t(size);
  handle = LocalAlloc(LMEM_MOVEABLE, size_t(size));
  if (handle == nullptr) {
    // No room here: the caller hears "out of memory".
    if (!in_place_) channel_->Skip(size);
    return false;
  }
  if (size > 0) {
    void* address = LocalLock(handle);
    if (in_place_)
      ReadInPlace(Get64(field + 12), address, size_t(size));
    else
      channel_->Read(address, size_t(size));
    LocalUnlock(handle);
  }
  return true;
}

bool BlockTransport::TakeBlocks(std::vector<SharedPending>& shared, bool in_place_read) {
  if (shared.empty()) {
    if (in_place_read) ReleaseBlocks();
    return true;
  }
  // The process lets go of its mappings first: a file that it could still
  // write cannot be sealed.
  channel_->WriteFrame(SPI_MSG_HAND_OVER, nullptr, 0);
  uint32_t type = 0, size = 0;
  channel_->ReadHeader(type, size);
  if (type != SPI_MSG_RELEASED || size != 0) ProtocolBroken();
  bool room = true;
  for (SharedPending& block : shared) {
    *block.target = TakeSharedBlock(block.file.Get(), block.size);
    room = room && *block.target != nullptr;
  }
  return room;
}

}  // namespace kevrale
