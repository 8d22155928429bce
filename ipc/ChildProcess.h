// A program started with pipes of its own: the parent writes to its standard
// input and reads its standard output and its standard error (or the two
// joined); it inherits no other descriptor of the parent's.
// The process leads a process group of its own, and the system kills it
// when the thread that started it ends (the parent-death signal), so that
// neither it nor what it starts outlives the program.
// The owner ends the process: destroying it kills its whole group.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kevrale {

class PreparedConfinement;

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
  std::string working_folder;            // empty: the parent's
  // Applied in the child before the program starts; nullptr: none.
  const PreparedConfinement* confinement = nullptr;
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
  // Our end of its standard error, non-blocking; -1 when it joins the output.
  int Errors() const { return errors_.Get(); }
  // A descriptor that becomes readable when the process ends (a pidfd);
  // -1 where the system has none (HasEnded then tells).
  int EndNotice() const { return end_notice_.Get(); }
  // Whether the process has ended (it is not reaped).
  bool HasEnded() const;

  // Closes the process's standard input, waits up to `grace` for it to end
  // by itself, then kills it; whatever it started in its group is killed
  // in any case. Returns how it ended ("signal 11:
  // Segmentation fault", "exit status 3", "killed"); empty when no process
  // was running.
  std::string End(std::chrono::milliseconds grace);
  // True when the process has ended by itself; it is then reaped and `how`
  // says how it ended. Does not wait.
  bool TryReap(std::string& how);
  // Kills the process at once and reaps it; returns how it ended.
  std::string Kill() { return End(std::chrono::milliseconds(0)); }

 private:
  // Kills the group, reaps the process and lets go of its descriptors.
  std::string Finish(bool ended);

  pid_t pid_ = -1;
  UniqueFd input_;
  UniqueFd output_;
  UniqueFd errors_;
  UniqueFd end_notice_;
};

}  // namespace kevrale
