#include "ipc/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "ipc/PluginProcessGroups.h"
#include "platform/Confinement.h"

namespace kevrale {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  return std::exchange(fd_, -1);
}

void UniqueFd::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

namespace {

// A pipe of the given descriptors, both closed on exec.
bool MakePipe(UniqueFd& read_end, UniqueFd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end = UniqueFd(fds[0]);
  write_end = UniqueFd(fds[1]);
  // Whole pictures cross these pipes: a larger buffer means fewer switches
  // between the processes. The system may refuse; the default then serves.
  fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
  return true;
}

std::string Describe(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* name = strsignal(sig);
    return "signal " + std::to_string(sig) + (name != nullptr ? ": " + std::string(name) : "");
  }
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return "an unknown end";
}

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return int(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// Closes every descriptor from `first` on. Async-signal-safe.
void CloseFrom(int first, int open_max) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, unsigned(first), ~0u, 0u) == 0) return;
#endif
  for (int fd = first; fd < open_max; ++fd) close(fd);
}

// A descriptor of the child's moved to `target` (0, 1 or 2), where it is
// inherited. Async-signal-safe.
bool Place(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)),
      errors_(std::move(other.errors_)),
      end_notice_(std::move(other.end_notice_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = std::exchange(other.pid_, -1);
    input_ = std::move(other.input_);
    output_ = std::move(other.output_);
    errors_ = std::move(other.errors_);
    end_notice_ = std::move(other.end_notice_);
  }
  return *this;
}

ChildProcess ChildProcess::Start(const ChildLaunch& launch, std::string& error, int& error_code) {
  ChildProcess child;
  UniqueFd child_in, child_out, child_err, report_read, report_write;
  const bool made = !launch.argv.empty() && MakePipe(child_in, child.input_) &&
                    MakePipe(child.output_, child_out) &&
                    (launch.errors_to_output || MakePipe(child.errors_, child_err)) &&
                    MakePipe(report_read, report_write);
  if (!made) {
    error_code = launch.argv.empty() ? EINVAL : errno;
    error = strerror(error_code);
    return ChildProcess();
  }

  // Everything the child needs is made before the fork: between fork and
  // exec it may only make async-signal-safe calls.
  std::vector<char*> argv, envp;
  for (const std::string& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : launch.environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const long open_max_value = sysconf(_SC_OPEN_MAX);
  const int open_max = open_max_value > 0 && open_max_value < 65536 ? int(open_max_value) : 65536;
  const rlimit limit{launch.address_space_limit, launch.address_space_limit};
  const pid_t parent = getpid();
  const int in = child_in.Get(), out = child_out.Get();
  const int err = launch.errors_to_output ? out : child_err.Get();
  const int report = report_write.Get();

  const pid_t pid = fork();
  if (pid < 0) {
    error_code = errno;
    error = strerror(error_code);
    return ChildProcess();
  }
  if (pid == 0) {
    // Its own group, which the parent kills as a whole; killed itself when
    // the parent's thread ends, and at once when that happened already.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // No blocked signals and SIGPIPE's default, whatever the parent set.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &default_action, nullptr);
    // The pipes land above 2 first, so that placing one never overwrites
    // another; the report pipe goes to 3 and closes itself on exec.
    const int high_in = fcntl(in, F_DUPFD, 4), high_out = fcntl(out, F_DUPFD, 4);
    const int high_err = fcntl(err, F_DUPFD, 4), high_report = fcntl(report, F_DUPFD_CLOEXEC, 4);
    int code = 0;
    if (high_in < 0 || high_out < 0 || high_err < 0 || high_report < 0 || !Place(high_in, 0) ||
        !Place(high_out, 1) || !Place(high_err, 2) || dup3(high_report, 3, O_CLOEXEC) != 3)
      code = errno != 0 ? errno : EBADF;
    if (code == 0 && !launch.working_folder.empty() && chdir(launch.working_folder.c_str()) != 0)
      code = errno;
    if (code == 0) {
      // Before the descriptors close: the confinement's own is among them.
      if (launch.confinement != nullptr) launch.confinement->ApplyInChild();
      CloseFrom(4, open_max);
      if (launch.address_space_limit != 0) setrlimit(RLIMIT_AS, &limit);
      execve(argv[0], argv.data(), envp.data());
      code = errno;
    }
    const int report_fd = code == 0 || high_report < 0 ? report : 3;
    [[maybe_unused]] const ssize_t written = write(report_fd, &code, sizeof code);
    _exit(127);
  }

  setpgid(pid, pid);  // either side may come first; the other's call fails
  child.pid_ = pid;
  RegisterPluginProcessGroup(pid);
  child_in.Reset();
  child_out.Reset();
  child_err.Reset();
  report_write.Reset();
  // The report pipe closes without a word when exec succeeded.
  int code = 0;
  ssize_t n = 0;
  while ((n = read(report_read.Get(), &code, sizeof code)) < 0 && errno == EINTR) {
  }
  if (n == ssize_t(sizeof code)) {
    child.Finish(true);
    error_code = code;
    error = strerror(code);
    return ChildProcess();
  }
  child.end_notice_ = UniqueFd(PidfdOpen(pid));
  if (child.end_notice_) fcntl(child.end_notice_.Get(), F_SETFD, FD_CLOEXEC);
  fcntl(child.input_.Get(), F_SETFL, O_NONBLOCK);
  fcntl(child.output_.Get(), F_SETFL, O_NONBLOCK);
  if (child.errors_) fcntl(child.errors_.Get(), F_SETFL, O_NONBLOCK);
  return child;
}

bool ChildProcess::HasEnded() const {
  if (pid_ <= 0) return false;
  siginfo_t info{};
  return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

std::string ChildProcess::Finish(bool ended) {
  // The group is killed while its leader, ended or not, is not reaped yet:
  // its id cannot have been given to another process.
  kill(-pid_, SIGKILL);
  if (!ended) kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  UnregisterPluginProcessGroup(pid_);
  pid_ = -1;
  input_.Reset();
  output_.Reset();
  errors_.Reset();
  end_notice_.Reset();
  return ended ? Describe(status) : "killed";
}

bool ChildProcess::TryReap(std::string& how) {
  if (!HasEnded()) return false;
  how = Finish(true);
  return true;
}

std::string ChildProcess::End(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return std::string();
  input_.Reset();
  const auto deadline = std::chrono::steady_clock::now() + grace;
  auto pause = std::chrono::microseconds(200);
  bool ended = HasEnded();
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    if (end_notice_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{end_notice_.Get(), POLLIN, 0};
      poll(&p, 1, int(std::max<int64_t>(left.count(), 0)));
    } else {
      std::this_thread::sleep_for(pause);
      if (pause < std::chrono::milliseconds(20)) pause *= 2;
    }
    ended = HasEnded();
  }
  return Finish(ended);
}

}  // namespace kevrale
