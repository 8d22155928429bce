#include "plugins/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "plugins/RunningChildren.h"

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

class Spawn {
 public:
  Spawn() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~Spawn() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
};

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      group_(other.group_),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = std::exchange(other.pid_, -1);
    group_ = other.group_;
    input_ = std::move(other.input_);
    output_ = std::move(other.output_);
  }
  return *this;
}

ChildProcess ChildProcess::Start(const ChildLaunch& launch, std::string& error, int& error_code) {
  ChildProcess child;
  UniqueFd child_in, child_out;
  if (launch.argv.empty() || !MakePipe(child_in, child.input_) ||
      !MakePipe(child.output_, child_out)) {
    error_code = launch.argv.empty() ? EINVAL : errno;
    error = strerror(error_code);
    return ChildProcess();
  }

  Spawn spawn;
  posix_spawn_file_actions_adddup2(&spawn.actions, child_in.Get(), 0);
  posix_spawn_file_actions_adddup2(&spawn.actions, child_out.Get(), 1);
  if (launch.errors_to_output) posix_spawn_file_actions_adddup2(&spawn.actions, child_out.Get(), 2);
  // The child starts with no blocked signals and with SIGPIPE's default,
  // whatever this thread has set.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&spawn.attr, &none);
  posix_spawnattr_setsigdefault(&spawn.attr, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (launch.own_process_group) {
    posix_spawnattr_setpgroup(&spawn.attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&spawn.attr, flags);

  std::vector<char*> argv, envp;
  for (const std::string& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : launch.environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int failed =
      posix_spawn(&pid, argv[0], &spawn.actions, &spawn.attr, argv.data(), envp.data());
  if (failed != 0) {
    error_code = failed;
    error = strerror(failed);
    return ChildProcess();
  }
  child.pid_ = pid;
  child.group_ = launch.own_process_group;
  AddRunningChild(pid);
  if (launch.address_space_limit != 0) {
    // Set from outside: the limit holds from the runner's first request on,
    // before it has loaded anything large.
    const rlimit limit{launch.address_space_limit, launch.address_space_limit};
    prlimit(pid, RLIMIT_AS, &limit, nullptr);
  }
  fcntl(child.input_.Get(), F_SETFL, O_NONBLOCK);
  fcntl(child.output_.Get(), F_SETFL, O_NONBLOCK);
  return child;
}

bool ChildProcess::TryReap(std::string& how) {
  if (pid_ <= 0) return false;
  int status = 0;
  if (ReapChild(pid_, &status, WNOHANG) != pid_) return false;
  how = Describe(status);
  pid_ = -1;
  input_.Reset();
  output_.Reset();
  return true;
}

std::string ChildProcess::End(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return std::string();
  input_.Reset();
  int status = 0;
  pid_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + grace;
  auto pause = std::chrono::microseconds(200);
  while ((done = ReapChild(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(20)) pause *= 2;
  }
  std::string how;
  if (done == pid_) {
    how = Describe(status);
  } else {
    // The group is still there: its leader is not reaped yet.
    kill(group_ ? -pid_ : pid_, SIGKILL);
    done = ReapChild(pid_, &status, 0);
    how = "killed";
  }
  pid_ = -1;
  output_.Reset();
  return how;
}

}  // namespace kevrale
