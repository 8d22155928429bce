// How the blocks of a plug-in's answer reach the program: copied straight
// out of the process's memory (in place), handed over in sealed memory
// files (shared), or sent through the pipe, with the checks of their
// sizes. One object serves one process at a time, on the thread of its
// client.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ipc/ChildProcess.h"
#include "kevrale/spi.h"

namespace kevrale {

class MessageChannel;

// The largest info block taken: a header and a colour table need 1064 bytes.
inline constexpr uint64_t kMaxInfoBlock = uint64_t(1) << 20;

// The largest bits block taken for the DIB whose info block is `info`: twice
// what its rows need and 1 MiB more, for plug-ins that round their sizes
// up; 1 MiB where the header tells nothing (the DIB's check refuses it).
uint64_t BitsAllowance(SpiHandle info);

// Raises the ChannelFailure of a process that broke the protocol.
[[noreturn]] void ProtocolBroken();

class BlockTransport {
 public:
  // A block handed over in a memory file, opened, waiting to be taken.
  struct SharedPending {
    UniqueFd file;
    size_t size;
    SpiHandle* target;
  };

  // The process whose blocks come next, and its channel; the ways are
  // chosen by SetWays once the process has said where it can be read.
  void Attach(pid_t pid, MessageChannel* channel);
  void SetWays(bool in_place, bool shared);
  // Forgets the process (it has ended); the ways stay as they were.
  void Detach() {
    pid_ = -1;
    channel_ = nullptr;
  }
  bool InPlace() const { return in_place_; }
  bool Shared() const { return shared_; }

  // Copies `size` bytes at `address` in the process into `target`; raises
  // ChannelFailure (Closed when the process is gone).
  void ReadInPlace(uint64_t address, void* target, size_t size) const;
  // Reads a block of the RESULT (its 20-byte description at `field`) into a
  // new local-memory handle; false when there is no room for it here. A
  // shared block is opened and left in `shared` for TakeBlocks. `left`: the
  // bytes of the RESULT still in the pipe.
  bool ReadBlock(const uint8_t* field, SpiHandle& handle, uint32_t& left,
                 std::vector<SharedPending>& shared);
  // Tells the process that its blocks have been read (in place) or opened
  // (shared), and takes the shared ones; false when there is no room for
  // one of them.
  bool TakeBlocks(std::vector<SharedPending>& shared, bool in_place_read);

 private:
  // Tells the process that the blocks it keeps in place have been read.
  void ReleaseBlocks();

  pid_t pid_ = -1;
  MessageChannel* channel_ = nullptr;
  bool in_place_ = false;
  bool shared_ = false;  // large blocks come in memory files
};

}  // namespace kevrale
