#include "ipc/WineSetup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "ipc/ChildProcess.h"
#include "platform/FileName.h"

extern char** environ;

namespace kevrale {

namespace {

// Written into the prefix once wineboot has finished with it: a prefix
// whose making was cut short is made again.
constexpr const char* kReadyMark = ".kevrale-ready";

// The ready mark's text when the prefix was made with Wine's 32-bit Windows
// DLLs at hand: its 32-bit system folder is then as whole as Wine makes it.
constexpr const char* kMadeWith32 = "i386\n";

// Making a prefix takes some seconds; this bounds a wineboot that hangs.
constexpr auto kMakeLimit = std::chrono::minutes(5);

bool StartsWith(const char* entry, const char* name) {
  const size_t n = strlen(name);
  return strncmp(entry, name, n) == 0 && entry[n] == '=';
}

// Runs a Wine tool in `prefix` to its end, within kMakeLimit. Its output
// is drained while it runs so that it never blocks on a full pipe; the
// server it starts may keep the pipe open after the tool has ended, so the
// end is seen by waiting for the tool. Empty when it ended with status 0.
std::string Run(const std::vector<std::string>& argv, const std::string& prefix,
                const WineOptions& options) {
  ChildLaunch launch;
  launch.argv = argv;
  launch.environment = WineEnvironment(prefix, options);
  launch.errors_to_output = true;
  std::string reason;
  int code = 0;
  ChildProcess tool = ChildProcess::Start(launch, reason, code);
  if (!tool.IsRunning()) return argv[0] + " cannot be started: " + reason;
  const auto deadline = std::chrono::steady_clock::now() + kMakeLimit;
  char drain[4096];
  std::string how;
  while (!tool.TryReap(how)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      how = tool.Kill();
      break;
    }
    if (read(tool.Output(), drain, sizeof drain) <= 0) usleep(20000);
  }
  return how == "exit status 0" ? std::string() : argv[0] + " ended with " + how;
}

enum class PrefixState { Ready, Missing, Lacks32BitPart };

// A prefix made before Wine's 32-bit Windows DLLs were installed has no
// kernel32.dll in its 32-bit system folder, and no 32-bit program starts in
// it; one made with them is never made again for this.
PrefixState StateOf(const WineOptions& options, const std::string& prefix,
                    const std::string& mark) {
  if (access(mark.c_str(), F_OK) != 0) return PrefixState::Missing;
  if (!HasWine32Dlls(options)) return PrefixState::Ready;
  const std::string kernel32 = prefix + "/drive_c/windows/syswow64/kernel32.dll";
  if (access(kernel32.c_str(), F_OK) == 0) return PrefixState::Ready;
  char text[8] = {};
  const UniqueFd file(open(mark.c_str(), O_RDONLY | O_CLOEXEC));
  const ssize_t n = file ? read(file.Get(), text, sizeof text - 1) : -1;
  return n >= 0 && strcmp(text, kMadeWith32) == 0 ? PrefixState::Ready
                                                  : PrefixState::Lacks32BitPart;
}

}  // namespace

bool HasWine32Dlls(const WineOptions& options) {
  if (options.dlls32.empty()) return false;
  const std::string kernel32 = options.dlls32 + "/i386-windows/kernel32.dll";
  return access(kernel32.c_str(), R_OK) == 0;
}

std::string DefaultWinePrefix() {
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/kevrale/wine";
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/kevrale/wine";
  return std::string();
}

std::vector<std::string> WineEnvironment(const std::string& prefix, const WineOptions& options) {
  static const char* const kReplaced[] = {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "DISPLAY",
                                          "WAYLAND_DISPLAY"};
  const bool dlls32 = HasWine32Dlls(options);
  std::string dll_path = dlls32 ? "WINEDLLPATH=" + options.dlls32 : std::string();
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    bool replaced = false;
    for (const char* name : kReplaced) replaced = replaced || StartsWith(*e, name);
    if (dlls32 && StartsWith(*e, "WINEDLLPATH")) {
      // The user's own folders stay, after the 32-bit DLLs.
      if ((*e)[12] != '\0') dll_path += std::string(":") + (*e + 12);
      replaced = true;
    }
    if (!replaced) env.emplace_back(*e);
  }
  env.push_back("WINEPREFIX=" + prefix);
  env.emplace_back("WINEDEBUG=-all");
  env.emplace_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  if (dlls32) env.push_back(dll_path);
  return env;
}

std::string EnsureWinePrefix(const WineOptions& options, const std::string& loader) {
  const std::string prefix = options.prefix.empty() ? DefaultWinePrefix() : options.prefix;
  if (prefix.empty()) return "no folder for the Wine prefix: neither XDG_DATA_HOME nor HOME is set";
  const std::string mark = prefix + "/" + kReadyMark;
  if (StateOf(options, prefix, mark) == PrefixState::Ready) return std::string();

  std::error_code error;
  const std::filesystem::path parent = std::filesystem::path(prefix).parent_path();
  std::filesystem::create_directories(parent, error);
  const std::string lock_path = prefix + ".lock";
  const UniqueFd lock(open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock) return "the Wine prefix lock " + lock_path + " cannot be made: " + strerror(errno);
  while (flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) {
  }
  // Another process may have made it while this one waited.
  const PrefixState state = StateOf(options, prefix, mark);
  if (state == PrefixState::Ready) return std::string();

  if (options.on_prefix_creation) options.on_prefix_creation(true);
  // Wine fills a prefix's 32-bit system folder only when it makes the
  // prefix (an update does not): one that lacks it is made anew. It holds
  // nothing of the user's; it is moved aside first, as a program of another
  // run may still be using it.
  const std::string old = prefix + ".old";
  if (state == PrefixState::Lacks32BitPart) {
    std::filesystem::remove_all(old, error);
    std::filesystem::rename(prefix, old, error);
  }
  std::string reason = Run({loader, "wineboot", "--init"}, prefix, options);
  // The new registry is written out when the Wine server ends, some seconds
  // after its last program: end it now (nothing else can be using a prefix
  // that is not ready yet), so that a prefix marked ready is on disk whole.
  const std::string server = std::string(ExtractFilePath(loader)) + "wineserver";
  if (reason.empty() && access(server.c_str(), X_OK) == 0)
    reason = Run({server, "-k"}, prefix, options);
  if (state == PrefixState::Lacks32BitPart) std::filesystem::remove_all(old, error);
  if (reason.empty()) {
    const UniqueFd ready(open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const std::string text = HasWine32Dlls(options) ? kMadeWith32 : "";
    if (!ready || write(ready.Get(), text.data(), text.size()) != ssize_t(text.size()))
      reason = "the Wine prefix " + prefix + " cannot be written: " + strerror(errno);
  }
  if (options.on_prefix_creation) options.on_prefix_creation(false);
  return reason.empty() ? std::string() : "the Wine prefix " + prefix + " was not made: " + reason;
}

std::string WineServerFor(const std::string& loader) {
  return std::string(ExtractFilePath(loader)) + "wineserver";
}

namespace {

// Each prefix this program has used: its use lock, held until the program
// ends, and the bridges starting or running there.
struct PrefixUse {
  UniqueFd lock;
  int bridges = 0;
};
std::mutex g_uses_mutex;
std::map<std::string, PrefixUse>& Uses() {
  static std::map<std::string, PrefixUse> uses;
  return uses;
}

}  // namespace

void UseWinePrefix(const std::string& prefix) {
  if (prefix.empty()) return;
  const std::lock_guard<std::mutex> lock(g_uses_mutex);
  PrefixUse& use = Uses()[prefix];
  ++use.bridges;
  if (!use.lock) {
    // In the prefix, so that every name of it (a symbolic link) meets the
    // one lock.
    const std::string path = prefix + "/.kevrale-users";
    use.lock = UniqueFd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  }
  // Taken anew each time: a failed attempt of LeaveWinePrefix to take the
  // lock alone may have let it go for a moment.
  if (use.lock) flock(use.lock.Get(), LOCK_SH);
}

void LeaveWinePrefix(const std::string& server, const std::string& prefix) {
  // Under the lock: a bridge that starts meanwhile waits for the end.
  const std::lock_guard<std::mutex> lock(g_uses_mutex);
  const auto use = Uses().find(prefix);
  if (use == Uses().end() || --use->second.bridges > 0 || !use->second.lock) return;
  if (server.empty() || access(server.c_str(), X_OK) != 0) return;
  // Only the program that holds the lock alone may end the prefix's
  // processes; the others' bridges would go with them.
  // (A failed attempt may have dropped the shared lock: it is taken again
  // in any case.)
  const int fd = use->second.lock.Get();
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) Run({server, "-k"}, prefix, WineOptions());
  flock(fd, LOCK_SH);
}

}  // namespace kevrale
