#include "ipc/PluginLauncher.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "ipc/MessageChannel.h"
#include "platform/Confinement.h"
#include "platform/Folders.h"
#include "platform/Sanitizers.h"

extern char** environ;

namespace kevrale {

namespace {

constexpr const char* kRunner = "kevrale-spi-runner";
constexpr const char* kBridge64 = "kevrale-spi-bridge64.exe";
constexpr const char* kBridge32 = "kevrale-spi-bridge32.exe";

bool Executable(const std::string& program) {
  return access(program.c_str(), X_OK) == 0;
}

std::vector<std::string> OwnEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
  return env;
}

// What a confined plug-in process gets of the environment: the language
// and time zone, the library path, and the sanitizers' options; no home,
// no user, no display, no secrets of the session.
std::vector<std::string> ReducedEnvironment() {
  static const char* const kKept[] = {
      "LANG=",          "LC_",           "TZ=",          "LD_LIBRARY_PATH=", "ASAN_OPTIONS=",
      "UBSAN_OPTIONS=", "LSAN_OPTIONS=", "TSAN_OPTIONS="};
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    for (const char* kept : kKept)
      if (strncmp(*e, kept, strlen(kept)) == 0) {
        env.emplace_back(*e);
        break;
      }
  env.emplace_back("PATH=/usr/bin:/bin");
  return env;
}

}  // namespace

uint64_t DefaultPluginMemoryLimit() {
  if (kReservesShadowMemory) return 0;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  const uint64_t physical = uint64_t(pages) * uint64_t(page_size);
  return std::min(physical, physical / 2 + (uint64_t(4) << 30));
}

std::string PluginLauncher::ProgramPath(const char* name) const {
  const std::string folder =
      options_.program_folder.empty() ? ProgramFolder() : options_.program_folder;
  return folder + "/" + name;
}

std::string PluginLauncher::ServerPath() const {
  if (!Windows()) return ProgramPath(kRunner);
  return ProgramPath(machine_.kind == PeMachine::Kind::I386 ? kBridge32 : kBridge64);
}

const std::string& PluginLauncher::WineLoader() const {
  return machine_.kind == PeMachine::Kind::I386 && !through_loader64_ ? options_.wine.loader32
                                                                      : options_.wine.loader64;
}

std::string PluginLauncher::End(std::chrono::milliseconds grace) {
  std::string how = process_.End(grace);
  // What a Windows plug-in started lives on in Wine's server and services
  // of the prefix: they are ended with the last bridge that uses it.
  if (std::exchange(uses_prefix_, false)) LeaveWinePrefix(wine_server_, wine_prefix_);
  return how;
}

std::string PluginLauncher::StartObstacle() const {
  if (!Windows()) {
    const std::string runner = ProgramPath(kRunner);
    return access(runner.c_str(), X_OK) == 0 ? std::string() : runner + " is missing";
  }
  const bool i386 = machine_.kind == PeMachine::Kind::I386;
  if (!i386 && machine_.kind != PeMachine::Kind::Amd64)
    return "it is a DLL for " + PeMachineName(machine_) + ", which no bridge runs";
  const WineOptions& wine = options_.wine;
  const std::string bridge = ServerPath();
  const bool runs64 = Executable(wine.loader64);
  if (!runs64 && !Executable(i386 ? wine.loader32 : wine.loader64))
    return "Wine is not installed (" + wine.loader64 + " is missing)";
  if (!i386 && !runs64) return "64-bit Wine is not installed (" + wine.loader64 + " is missing)";
  // Without the 32-bit loader, the 64-bit one runs a 32-bit DLL given
  // Wine's 32-bit Windows DLLs.
  if (i386 && !Executable(wine.loader32) && !HasWine32Dlls(wine))
    return "it is a 32-bit DLL and 32-bit Wine is not installed (" + wine.loader32 + " is missing)";
  if (access(bridge.c_str(), R_OK) != 0) return bridge + " is missing";
  return std::string();
}

std::unique_ptr<MessageChannel> PluginLauncher::Launch(const std::string& picture,
                                                       std::string& reason) {
  reason = StartObstacle();
  if (!reason.empty()) return nullptr;
  const bool windows = Windows();
  ChildLaunch launch;
  launch.address_space_limit = options_.memory_limit;
  // Nothing in the root folder is the user's: no library or DLL that lies
  // where the program was started is found there.
  launch.working_folder = "/";
  if (!windows && !options_.confine) {
    launch.argv = {ProgramPath(kRunner)};
    launch.environment = OwnEnvironment();
  } else if (!windows) {
    launch.argv = {ProgramPath(kRunner), "--confine", "--read", plugin_file_};
    if (!picture.empty()) launch.argv.insert(launch.argv.end(), {"--read", picture});
    launch.environment = ReducedEnvironment();
  } else {
    const bool i386 = machine_.kind == PeMachine::Kind::I386;
    if (i386 && !Executable(options_.wine.loader32)) through_loader64_ = true;
    const std::string& loader = WineLoader();
    // The prefix is made by the 64-bit loader where there is one, so that
    // both machine types share it.
    const std::string& maker =
        access(options_.wine.loader64.c_str(), X_OK) == 0 ? options_.wine.loader64 : loader;
    reason = EnsureWinePrefix(options_.wine, maker);
    if (!reason.empty()) return nullptr;
    const std::string prefix =
        options_.wine.prefix.empty() ? DefaultWinePrefix() : options_.wine.prefix;
    launch.argv = {loader, ServerPath()};
    // Wine's 64-bit loader starts a 32-bit program as a process of its own,
    // below the one started here; it stays in the group, which ends as one.
    launch.environment = WineEnvironment(prefix, options_.wine);
    wine_server_ = WineServerFor(loader);
    wine_prefix_ = prefix;
    // Counted once per process, also when a second attempt starts it.
    if (!uses_prefix_) UseWinePrefix(prefix);
    uses_prefix_ = true;
  }

  // Wine runs programs, signals its own processes and needs its server's
  // socket: a bridge gets no network and writes only in the prefix and the
  // temporary folder, where Wine makes its server's folder under a name of
  // its choosing.
  std::optional<PreparedConfinement> wine_confinement;
  if (windows && options_.confine) {
    std::vector<std::string> writable{wine_prefix_, "/tmp", "/dev"};
    if (const char* temporary = getenv("TMPDIR"); temporary != nullptr && temporary[0] == '/')
      writable.emplace_back(temporary);
    wine_confinement.emplace(writable);
    launch.confinement = &*wine_confinement;
  }
  std::string error;
  int error_code = 0;
  process_ = ChildProcess::Start(launch, error, error_code);
  if (!process_.IsRunning()) {
    if (error_code == ENOEXEC && machine_.kind == PeMachine::Kind::I386 && !through_loader64_) {
      // The kernel runs no 32-bit programs: the 64-bit loader stands in.
      const std::string& loader64 = options_.wine.loader64;
      const bool dlls32 = HasWine32Dlls(options_.wine);
      if (dlls32 && Executable(loader64)) {
        through_loader64_ = true;
        return Launch(picture, reason);
      }
      reason =
          "it is a 32-bit DLL and this machine cannot run 32-bit programs, and Wine's 64-bit "
          "loader cannot run it instead: " +
          (dlls32 ? loader64 + " is missing"
                  : "Wine's 32-bit Windows DLLs are not installed (" + options_.wine.dlls32 +
                        "/i386-windows is missing)");
      return nullptr;
    }
    reason = launch.argv[0] + ": " + error;
    return nullptr;
  }
  return std::make_unique<MessageChannel>(process_, options_.time_limit_seconds);
}

}  // namespace kevrale
