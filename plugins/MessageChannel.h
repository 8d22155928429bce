// The host's end of the framed messages of runner/SpiProtocol.h: writes
// requests to a plug-in process and reads its messages, each wait bounded
// by a time limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevrale {

// Why the channel stopped: the process closed it (it ended, most likely),
// it did not answer within the time limit, or it broke the protocol.
struct ChannelFailure {
  enum class Kind { Closed, TimedOut, Broken };
  Kind kind;
};

class MessageChannel {
 public:
  // `to` and `from` are non-blocking descriptors owned elsewhere.
  // `time_limit_seconds` bounds every wait for the process (0: no bound);
  // each byte that moves starts the limit anew, so a long decode that keeps
  // reporting progress is not cut off.
  MessageChannel(int to, int from, int time_limit_seconds)
      : to_(to), from_(from), time_limit_seconds_(time_limit_seconds) {}

  // Each raises ChannelFailure.
  void WriteFrame(uint32_t type, const void* body, size_t size);
  // A frame whose body is written in two parts.
  void WriteFrame(uint32_t type, const void* head, size_t head_size, const void* tail,
                  size_t tail_size);
  // The next frame's type and body size.
  void ReadHeader(uint32_t& type, uint32_t& size);
  void Read(void* buffer, size_t size);
  // Reads and drops `size` bytes.
  void Skip(uint64_t size);

 private:
  void Write(const void* buffer, size_t size);
  // Waits until the descriptor is ready for `events`, within the limit.
  void Wait(int fd, short events);

  int to_;
  int from_;
  int time_limit_seconds_;
};

}  // namespace kevrale
