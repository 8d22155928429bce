// The host's end of the framed messages of runner/SpiProtocol.h: writes
// requests to a plug-in process and reads its messages, each wait bounded
// by a time limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kevrale {

class ChildProcess;

// Why the channel stopped: the process closed it or ended, it did not
// answer within the time limit, its call went on past the limit of a whole
// call, or it broke the protocol.
struct ChannelFailure {
  enum class Kind { Closed, TimedOut, TooLong, Broken };
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
  // The process at the other end: a wait ends as soon as it has ended,
  // even while something it started holds the pipes open, and its
  // standard error is drained (and dropped) while the channel waits.
  MessageChannel(const ChildProcess& process, int time_limit_seconds);

  // Bounds the waits of the call now starting by `seconds` in all, however
  // often the process reports progress (0: no bound); EndCall lifts it.
  void StartCall(int seconds);
  void EndCall() { call_deadline_.reset(); }

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
  void DrainErrors();

  int to_;
  int from_;
  int time_limit_seconds_;
  const ChildProcess* process_ = nullptr;
  int errors_ = -1;
  std::optional<std::chrono::steady_clock::time_point> call_deadline_;
};

}  // namespace kevrale
