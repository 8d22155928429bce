#include "platform/Confinement.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Sanitizers.h"

namespace kevrale {

namespace {

// The access rights of the Landlock ABI versions newer than the system's
// headers may know.
constexpr uint64_t kFsExecute = 1ULL << 0;
constexpr uint64_t kFsReadFile = 1ULL << 2;
constexpr uint64_t kFsReadDir = 1ULL << 3;
constexpr uint64_t kFsRefer = 1ULL << 13;           // ABI 2
constexpr uint64_t kFsTruncate = 1ULL << 14;        // ABI 3
constexpr uint64_t kFsIoctlDev = 1ULL << 15;        // ABI 5
constexpr uint64_t kNetBindTcp = 1ULL << 0;         // ABI 4
constexpr uint64_t kNetConnectTcp = 1ULL << 1;      // ABI 4
constexpr uint64_t kScopeAbstractUnix = 1ULL << 0;  // ABI 6
constexpr uint64_t kScopeSignal = 1ULL << 1;        // ABI 6

struct RulesetAttr {
  uint64_t handled_access_fs;
  uint64_t handled_access_net;
  uint64_t scoped;
};

struct PathBeneathAttr {
  uint64_t allowed_access;
  int32_t parent_fd;
} __attribute__((packed));

constexpr int kRulePathBeneath = 1;

uint64_t HandledFs(int abi) {
  uint64_t fs = (1ULL << 13) - 1;  // ABI 1: execute .. make_sym
  if (abi >= 2) fs |= kFsRefer;
  if (abi >= 3) fs |= kFsTruncate;
  if (abi >= 5) fs |= kFsIoctlDev;
  return fs;
}

size_t RulesetSize(int abi) {
  if (abi >= 6) return sizeof(RulesetAttr);
  if (abi >= 4) return offsetof(RulesetAttr, scoped);
  return offsetof(RulesetAttr, handled_access_net);
}

// Landlock: read only the given paths, nothing else.
std::string ApplyLandlock(const ConfinementRules& rules) {
  const int abi = LandlockAbi();
  if (abi <= 0) return "no Landlock in this kernel: the file system stays open to plug-ins";
  RulesetAttr attr{HandledFs(abi), abi >= 4 ? kNetBindTcp | kNetConnectTcp : 0,
                   abi >= 6 ? kScopeAbstractUnix | kScopeSignal : 0};
  const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attr, RulesetSize(abi), 0u));
  if (ruleset < 0) return "Landlock refused a ruleset: the file system stays open to plug-ins";
  for (const std::string& path : rules.readable) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) continue;
    // A file takes only the rights of a file.
    PathBeneathAttr beneath{kFsReadFile | kFsReadDir, fd};
    if (syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &beneath, 0u) != 0) {
      beneath.allowed_access = kFsReadFile;
      syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &beneath, 0u);
    }
    close(fd);
  }
  const long done = syscall(SYS_landlock_restrict_self, ruleset, 0u);
  close(ruleset);
  return done == 0 ? std::string() : "Landlock could not be applied";
}

// seccomp: a filter of system calls, for x86-64.
#define KV_LOAD_NR BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr))
#define KV_LOAD_ARG0_LO BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0]))
#define KV_LOAD_ARG0_HI \
  BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0]) + 4)
#define KV_RETURN(value) BPF_STMT(BPF_RET | BPF_K, (value))
#define KV_DENY KV_RETURN(SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA))

std::string ApplySeccomp(const ConfinementRules& rules) {
#if defined(__x86_64__)
  const uint32_t self = uint32_t(getpid());
  std::vector<sock_filter> f;
  auto add = [&](sock_filter s) { f.push_back(s); };
  auto deny_call = [&](long nr) {
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, 1));
    add(KV_DENY);
  };
  add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
  add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
  add(KV_RETURN(SECCOMP_RET_KILL_PROCESS));
  add(KV_LOAD_NR);
  // The x32 calls, another road to the same kernel functions.
  add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));
  add(KV_DENY);
  // No network: the process needs no socket at all.
  deny_call(SYS_socket);
  // No other process or program: a plug-in that forks leaves nothing that
  // outlives its process; threads (clone with CLONE_THREAD) are fine.
  deny_call(SYS_fork);
  deny_call(SYS_vfork);
  deny_call(SYS_execve);
  deny_call(SYS_execveat);
  deny_call(SYS_setsid);
  deny_call(SYS_setpgid);
  add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 0, 1));
  add(KV_RETURN(SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)));  // glibc falls back to clone
  if (!rules.relaxed_for_sanitizers) {
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 3));
    add(KV_LOAD_ARG0_LO);
    add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 1, 0));
    add(KV_DENY);
    add(KV_LOAD_NR);
    // No tracing and no access to the memory of others (the sanitizers'
    // leak check traces its own threads).
    deny_call(SYS_ptrace);
  }
  deny_call(SYS_process_vm_writev);
  deny_call(SYS_process_vm_readv);
  deny_call(SYS_pidfd_getfd);
  deny_call(SYS_pidfd_send_signal);
  deny_call(SYS_kcmp);
  // Nothing that widens what the process may do or bypasses this filter.
  deny_call(SYS_io_uring_setup);
  deny_call(SYS_io_uring_enter);
  deny_call(SYS_io_uring_register);
  deny_call(SYS_unshare);
  deny_call(SYS_setns);
  deny_call(SYS_mount);
  deny_call(SYS_bpf);
  deny_call(SYS_perf_event_open);
  deny_call(SYS_userfaultfd);
  deny_call(SYS_keyctl);
  deny_call(SYS_add_key);
  deny_call(SYS_request_key);
  deny_call(SYS_tkill);
  // Signals only to itself: kill and tgkill with its own process id (or 0,
  // its group, which holds nothing but itself).
  for (const long nr :
       {long(SYS_kill), long(SYS_tgkill), long(SYS_rt_sigqueueinfo), long(SYS_rt_tgsigqueueinfo)}) {
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, 7));
    add(KV_LOAD_ARG0_HI);
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3));
    add(KV_LOAD_ARG0_LO);
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, self, 2, 0));
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0));
    add(KV_DENY);
    add(KV_RETURN(SECCOMP_RET_ALLOW));
  }
  add(KV_RETURN(SECCOMP_RET_ALLOW));
  const sock_fprog program{static_cast<unsigned short>(f.size()), f.data()};
  if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
    return "no seccomp filter in this kernel: sockets, tracing and signals stay open to plug-ins";
  return std::string();
#else
  (void)rules;
  return "no seccomp filter for this machine: sockets, tracing and signals stay open to plug-ins";
#endif
}

#if defined(__x86_64__)
// Ends the filter `f` (the call's number loaded): the socket call numbered
// `socket_nr` may make Unix sockets only; everything else is allowed.
void UnixSocketsOnly(std::vector<sock_filter>& f, uint32_t socket_nr) {
  f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, socket_nr, 0, 3));
  f.push_back(KV_LOAD_ARG0_LO);
  f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_UNIX, 1, 0));
  f.push_back(KV_RETURN(SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)));
  f.push_back(KV_RETURN(SECCOMP_RET_ALLOW));
}
#endif

// Network sockets refused (Unix sockets stay), for Wine.
std::vector<sock_filter> NetworkFilter() {
  std::vector<sock_filter> f;
#if defined(__x86_64__)
  // 32-bit Wine makes i386 calls: their socket calls are filtered the same
  // way, but socketcall, whose domain the filter cannot see and which Wine
  // needs for its server's socket, is let through (Landlock's network
  // rules, where the kernel has them, still refuse TCP).
  constexpr uint32_t kI386Socket = 359;
  f.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
  f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 8, 0));
  f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 1, 0));
  f.push_back(KV_RETURN(SECCOMP_RET_KILL_PROCESS));
  f.push_back(KV_LOAD_NR);
  UnixSocketsOnly(f, kI386Socket);
  f.push_back(KV_LOAD_NR);
  f.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));
  f.push_back(KV_DENY);
  for (const long nr : {long(SYS_io_uring_setup), long(SYS_bpf), long(SYS_perf_event_open)}) {
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(nr), 0, 1));
    f.push_back(KV_DENY);
  }
  UnixSocketsOnly(f, SYS_socket);
#endif
  return f;
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "; " + b;
}

}  // namespace

int LandlockAbi() {
  const long abi =
      syscall(SYS_landlock_create_ruleset, nullptr, 0, uint32_t(LANDLOCK_CREATE_RULESET_VERSION));
  return abi > 0 ? int(abi) : 0;
}

std::vector<std::string> SystemLibraryFolders() {
  return {"/usr",
          "/lib",
          "/lib64",
          "/lib32",
          "/etc/ld.so.cache",
          "/etc/localtime",
          "/dev/null",
          "/dev/zero",
          "/dev/urandom",
          "/proc/self",
          "/sys/devices/system/cpu"};
}

std::string ConfineProcess(const ConfinementRules& rules) {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    return "no_new_privs refused: the plug-in process is not confined";
  return Join(ApplyLandlock(rules), ApplySeccomp(rules));
}

std::string ConfinementSummary() {
  const int abi = LandlockAbi();
  std::string text = "no_new_privs";
  if (abi > 0) {
    text += ", Landlock ABI " + std::to_string(abi) +
            " (reads the picture, the plug-in and the system's libraries only; writes nothing";
    if (abi >= 4) text += "; no TCP";
    if (abi >= 6) text += "; no signals or abstract sockets outside itself";
    text += ")";
  } else {
    text += "; no Landlock in this kernel: the file system stays open to plug-ins";
  }
#if defined(__x86_64__)
  if (prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0)
    text += ", seccomp (no sockets, no new processes, no tracing, signals only to itself)";
  else
    text += "; no seccomp in this kernel: sockets, tracing and signals stay open to plug-ins";
#else
  text += "; no seccomp filter for this machine";
#endif
  return text;
}

PreparedConfinement::PreparedConfinement(const std::vector<std::string>& writable) {
  static_assert(sizeof(sock_filter) == sizeof(uint64_t));
  const std::vector<sock_filter> filter = NetworkFilter();
  filter_.resize(filter.size());
  if (!filter.empty()) memcpy(filter_.data(), filter.data(), filter.size() * sizeof(sock_filter));
  const int abi = LandlockAbi();
  if (abi <= 0) return;
  // Only the rights of writing are handled: reading and running programs
  // stay as they are.
  const uint64_t writes = HandledFs(abi) & ~(kFsExecute | kFsReadFile | kFsReadDir);
  // No TCP at all where the kernel has network rules.
  RulesetAttr attr{writes, abi >= 4 ? kNetBindTcp | kNetConnectTcp : 0, 0};
  ruleset_ = int(syscall(
      SYS_landlock_create_ruleset, &attr,
      abi >= 4 ? offsetof(RulesetAttr, scoped) : offsetof(RulesetAttr, handled_access_net), 0u));
  if (ruleset_ < 0) return;
  for (const std::string& path : writable) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) continue;
    PathBeneathAttr beneath{writes, fd};
    if (syscall(SYS_landlock_add_rule, ruleset_, kRulePathBeneath, &beneath, 0u) != 0) {
      beneath.allowed_access = writes & (kFsTruncate | (1ULL << 1));  // a file: write, truncate
      syscall(SYS_landlock_add_rule, ruleset_, kRulePathBeneath, &beneath, 0u);
    }
    close(fd);
  }
}

PreparedConfinement::~PreparedConfinement() {
  if (ruleset_ >= 0) close(ruleset_);
}

void PreparedConfinement::ApplyInChild() const {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return;
  if (ruleset_ >= 0) syscall(SYS_landlock_restrict_self, ruleset_, 0u);
  if (!filter_.empty()) {
    const sock_fprog program{static_cast<unsigned short>(filter_.size()),
                             reinterpret_cast<sock_filter*>(const_cast<uint64_t*>(filter_.data()))};
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
  }
}

void MakeUndumpable() {
  // The sanitizers' leak check traces the program's own threads, which a
  // process that is not dumpable forbids.
  if (kReservesShadowMemory) return;
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace kevrale
