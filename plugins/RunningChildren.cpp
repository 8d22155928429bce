#include "plugins/RunningChildren.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <mutex>
#include <set>

namespace kevrale {

namespace {

std::mutex g_mutex;
std::set<pid_t> g_running;
bool g_ending = false;

}  // namespace

void EndChildProcessesNow() {
  std::lock_guard lock(g_mutex);
  g_ending = true;
  for (const pid_t pid : g_running) ::kill(pid, SIGKILL);
}

void AddRunningChild(pid_t pid) {
  std::lock_guard lock(g_mutex);
  g_running.insert(pid);
  if (g_ending) ::kill(pid, SIGKILL);
}

pid_t ReapChild(pid_t pid, int* status, int options) {
  if ((options & WNOHANG) == 0) {
    // Waits for the end without reaping, so that the lock is held only for
    // a reap that returns at once.
    siginfo_t info;
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
  }
  std::lock_guard lock(g_mutex);
  const pid_t done = ::waitpid(pid, status, options | WNOHANG);
  if (done == pid) g_running.erase(pid);
  return done;
}

}  // namespace kevrale
