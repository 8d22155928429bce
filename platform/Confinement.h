// The kernel's confinement of a process that runs foreign code (a plug-in
// process): no new privileges, Landlock (read only the paths it is given,
// write nowhere, no TCP, no signals or abstract sockets outside its own
// domain where the kernel has those), and a seccomp filter (no network
// socket, no new process or program, no tracing or memory access of other
// processes, signals only to itself). What the kernel lacks is left out and
// said in one line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kevrale {

struct ConfinementRules {
  // Paths (files or folders) the process may read; everything else stays
  // closed to it. Paths that do not exist are skipped.
  std::vector<std::string> readable;
  // Lets the sanitizers' leak check trace the process's threads from a
  // helper process of its own (ptrace, clone without CLONE_THREAD).
  bool relaxed_for_sanitizers = false;
};

// The Landlock ABI version of the running kernel; 0 where it has none.
int LandlockAbi();

// The system folders a plug-in's libraries come from, for `readable`.
std::vector<std::string> SystemLibraryFolders();

// Confines the calling process (and its threads to come) for good. Returns
// an empty string when everything applied, else one line that says what
// the kernel did not allow.
std::string ConfineProcess(const ConfinementRules& rules);

// One line that says what ConfineProcess applies on this kernel.
std::string ConfinementSummary();

// A confinement made ready in the parent and applied in a child between
// fork and exec, where only async-signal-safe calls are allowed: for a
// program that needs more than ConfineProcess allows (Wine runs programs,
// signals its own processes and speaks to its server over a Unix socket),
// it only forbids network sockets and writes outside `writable`.
class PreparedConfinement {
 public:
  explicit PreparedConfinement(const std::vector<std::string>& writable);
  ~PreparedConfinement();
  PreparedConfinement(const PreparedConfinement&) = delete;
  PreparedConfinement& operator=(const PreparedConfinement&) = delete;

  // In the child: no new privileges, the write rules, the socket filter.
  // Async-signal-safe; what the kernel lacks is left out.
  void ApplyInChild() const;

 private:
  int ruleset_ = -1;
  std::vector<uint64_t> filter_;  // the seccomp filter's instructions (sock_filter)
};

// Keeps other processes of the user from reading or writing this process's
// memory through /proc or ptrace (PR_SET_DUMPABLE 0); no core dumps
// either. Nothing in sanitizer builds, whose leak check needs ptrace.
void MakeUndumpable();

}  // namespace kevrale
