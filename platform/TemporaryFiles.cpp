#include "platform/TemporaryFiles.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace kevrale {

namespace {

// One slot a save in progress: more than the most jobs a list run has.
constexpr int kSlots = 1024;
std::atomic<const char*> g_names[kSlots];
// Set by the handler before it reads the table; a name given up after that
// is never freed, since the handler may be reading it.
std::atomic<bool> g_removing{false};

// The signals whose default action ends the process and that may come
// from outside while a save runs (SIGQUIT also dumps core, as before).
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

extern "C" void RemoveTemporaryFilesAndEnd(int signal_number) {
  g_removing.store(true);
  for (auto& name : g_names)
    if (const char* path = name.load()) ::unlink(path);
  // SA_RESETHAND put the default action back; the signal, blocked while the
  // handler runs, ends the process as soon as it returns.
  ::raise(signal_number);
}

}  // namespace

void InstallTemporaryFileCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal_number : kSignals) {
      struct sigaction current {};
      if (::sigaction(signal_number, nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = RemoveTemporaryFilesAndEnd;
      action.sa_flags = SA_RESETHAND;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal_number, &action, nullptr);
    }
  });
}

TemporaryFileName::TemporaryFileName(const std::string& path)
    : path_(std::make_unique<char[]>(path.size() + 1)) {
  std::memcpy(path_.get(), path.c_str(), path.size() + 1);
  for (int i = 0; i < kSlots; ++i) {
    const char* empty = nullptr;
    if (g_names[i].compare_exchange_strong(empty, path_.get())) {
      slot_ = i;
      break;
    }
  }
}

TemporaryFileName::~TemporaryFileName() {
  if (slot_ < 0) return;
  g_names[slot_].store(nullptr);
  // The process is ending by a signal whose handler may still hold the name.
  if (g_removing.load()) static_cast<void>(path_.release());
}

}  // namespace kevrale
