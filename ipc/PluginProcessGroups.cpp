#include "ipc/PluginProcessGroups.h"

#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace kevrale {

namespace {

constexpr int kSlots = 512;
// A slot holds a group's id; 0 when free.
std::atomic<pid_t> g_groups[kSlots];
// Set once the run is ending: a group that registers then is killed at once.
std::atomic<bool> g_ending{false};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

int SignalIndex(int signal_number) {
  for (int i = 0; i < 3; ++i)
    if (kSignals[i] == signal_number) return i;
  return -1;
}

// Ends the plug-in processes, puts the action from before back and raises
// the signal again, which that action meets as soon as this handler returns.
extern "C" void EndPluginsAndHandOn(int signal_number) {
  KillPluginProcesses();
  const int i = SignalIndex(signal_number);
  if (i >= 0) ::sigaction(signal_number, &g_previous[i], nullptr);
  ::raise(signal_number);
}

void KillAtExit() {
  KillPluginProcesses();
}

}  // namespace

void RegisterPluginProcessGroup(pid_t group) {
  static std::once_flag at_exit;
  std::call_once(at_exit, [] { std::atexit(KillAtExit); });
  for (std::atomic<pid_t>& slot : g_groups) {
    pid_t free_slot = 0;
    if (slot.compare_exchange_strong(free_slot, group)) break;
  }
  if (g_ending.load()) ::kill(-group, SIGKILL);
}

void UnregisterPluginProcessGroup(pid_t group) {
  for (std::atomic<pid_t>& slot : g_groups) {
    pid_t entry = group;
    if (slot.compare_exchange_strong(entry, 0)) return;
  }
}

void KillPluginProcesses() {
  for (std::atomic<pid_t>& slot : g_groups) {
    const pid_t group = slot.load();
    if (group != 0) ::kill(-group, SIGKILL);
  }
}

void EndPluginProcessesNow() {
  g_ending.store(true);
  KillPluginProcesses();
}

void EndPluginProcessesOnSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < 3; ++i) {
      struct sigaction current {};
      if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) continue;
      g_previous[i] = current;
      struct sigaction action {};
      action.sa_handler = EndPluginsAndHandOn;
      sigemptyset(&action.sa_mask);
      ::sigaction(kSignals[i], &action, nullptr);
    }
  });
}

}  // namespace kevrale
