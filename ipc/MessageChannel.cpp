#include "ipc/MessageChannel.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "ipc/ChildProcess.h"
#include "platform/LittleEndian.h"
#include "runner/SpiProtocol.h"

namespace kevrale {

namespace {

// Blocks SIGPIPE for this thread while it writes, so that a process that
// is gone makes the write fail with EPIPE instead of ending the host; a
// SIGPIPE raised meanwhile is taken before the mask is restored.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeBlock() {
    if (raised_ && !was_pending_) {
      const timespec no_wait{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void Raised() { raised_ = true; }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
  bool raised_ = false;
};

}  // namespace

MessageChannel::MessageChannel(const ChildProcess& process, int time_limit_seconds)
    : to_(process.Input()),
      from_(process.Output()),
      time_limit_seconds_(time_limit_seconds),
      process_(&process),
      errors_(process.Errors()) {}

void MessageChannel::StartCall(int seconds) {
  if (seconds > 0)
    call_deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  else
    call_deadline_.reset();
}

void MessageChannel::DrainErrors() {
  char drop[4096];
  for (;;) {
    const ssize_t n = read(errors_, drop, sizeof drop);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errors_ = -1;  // closed: nothing more to watch
    return;
  }
}

void MessageChannel::Wait(int fd, short events) {
  using Clock = std::chrono::steady_clock;
  const auto limit = std::chrono::seconds(time_limit_seconds_);
  const auto deadline = Clock::now() + limit;
  const int end_notice = process_ != nullptr ? process_->EndNotice() : -1;
  // Without an end notice the process is looked at now and then.
  const bool look = process_ != nullptr && end_notice < 0;
  for (;;) {
    int timeout = -1;
    bool whole_call = false;
    if (time_limit_seconds_ > 0 || call_deadline_) {
      auto until = deadline;
      if (time_limit_seconds_ <= 0 || (call_deadline_ && *call_deadline_ < deadline)) {
        until = *call_deadline_;
        whole_call = true;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
      if (left.count() <= 0)
        throw ChannelFailure{whole_call ? ChannelFailure::Kind::TooLong
                                        : ChannelFailure::Kind::TimedOut};
      timeout = left.count() > INT_MAX ? INT_MAX : int(left.count());
    }
    if (look && (timeout < 0 || timeout > 200)) timeout = 200;
    pollfd p[3] = {{fd, events, 0}, {errors_, POLLIN, 0}, {end_notice, POLLIN, 0}};
    const int n = poll(p, 3, timeout);
    if (n < 0 && errno != EINTR) throw ChannelFailure{ChannelFailure::Kind::Closed};
    if (n <= 0) {
      if (look && process_->HasEnded()) throw ChannelFailure{ChannelFailure::Kind::Closed};
      continue;
    }
    if (p[0].revents != 0) return;  // ready, or closed: the read or write tells which
    if (p[1].revents != 0) DrainErrors();
    if (p[2].revents != 0) throw ChannelFailure{ChannelFailure::Kind::Closed};
  }
}

void MessageChannel::Write(const void* buffer, size_t size) {
  SigpipeBlock block;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (size > 0) {
    const ssize_t n = write(to_, p, size);
    if (n > 0) {
      p += n;
      size -= size_t(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      Wait(to_, POLLOUT);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (errno == EPIPE) block.Raised();
      throw ChannelFailure{ChannelFailure::Kind::Closed};
    }
  }
}

void MessageChannel::Read(void* buffer, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const ssize_t n = read(from_, p, size);
    if (n > 0) {
      p += n;
      size -= size_t(n);
    } else if (n == 0) {
      throw ChannelFailure{ChannelFailure::Kind::Closed};
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      Wait(from_, POLLIN);
    } else if (errno != EINTR) {
      throw ChannelFailure{ChannelFailure::Kind::Closed};
    }
  }
}

void MessageChannel::Skip(uint64_t size) {
  uint8_t chunk[65536];
  while (size > 0) {
    const size_t n = size < sizeof chunk ? size_t(size) : sizeof chunk;
    Read(chunk, n);
    size -= n;
  }
}

void MessageChannel::WriteFrame(uint32_t type, const void* body, size_t size) {
  WriteFrame(type, body, size, nullptr, 0);
}

void MessageChannel::WriteFrame(uint32_t type, const void* head, size_t head_size, const void* tail,
                                size_t tail_size) {
  if (head_size + tail_size > SPI_FRAME_MAX_BODY)
    throw ChannelFailure{ChannelFailure::Kind::Broken};
  uint8_t header[SPI_FRAME_HEADER];
  Put32(header, uint32_t(head_size + tail_size));
  Put32(header + 4, type);
  Write(header, sizeof header);
  if (head_size > 0) Write(head, head_size);
  if (tail_size > 0) Write(tail, tail_size);
}

void MessageChannel::ReadHeader(uint32_t& type, uint32_t& size) {
  uint8_t header[SPI_FRAME_HEADER];
  Read(header, sizeof header);
  size = Get32(header);
  type = Get32(header + 4);
  if (size > SPI_FRAME_MAX_BODY) throw ChannelFailure{ChannelFailure::Kind::Broken};
}

}  // namespace kevrale
