// A program started with two pipes: the parent writes to its standard input
// and reads its standard output; standard error is shared with the parent
// unless it is asked to join the output.
// The owner ends the process: destroying it kills what is still running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kevrale {

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();
  void Reset();

 private:
  int fd_ = -1;
};

struct ChildLaunch {
  std::vector<std::string> argv;         // argv[0] is the program's path
  std::vector<std::string> environment;  // "NAME=value", the whole environment
  uint64_t address_space_limit = 0;      // bytes; 0: none
  bool errors_to_output = false;         // standard error joins standard output
  // The process leads a process group of its own, and killing it kills the
  // group: what it starts, and leaves in its group, goes with it.
  bool own_process_group = false;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program. On failure returns a process that is not running
  // and stores the system's reason in `error` (the errno in `error_code`).
  static ChildProcess Start(const ChildLaunch& launch, std::string& error, int& error_code);

  bool IsRunning() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Our ends: the process's standard input and output, both non-blocking.
  int Input() const { return input_.Get(); }
  int Output() const { return output_.Get(); }

  // Closes the process's standard input, waits up to `grace` for it to end
  // by itself, then kills it. Returns how it ended ("signal 11:
  // Segmentation fault", "exit status 3", "killed"); empty when no process
  // was running.
  std::string End(std::chrono::milliseconds grace);
  // True when the process has ended by itself; it is then reaped and `how`
  // says how it ended. Does not wait.
  bool TryReap(std::string& how);
  // Kills the process at once and reaps it; returns how it ended.
  std::string Kill() { return End(std::chrono::milliseconds(0)); }

 private:
  pid_t pid_ = -1;
  bool group_ = false;
  UniqueFd input_;
  UniqueFd output_;
};

}  // namespace kevrale
