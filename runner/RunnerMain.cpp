// kevrale-spi-runner: serves one native plug-in to the host over its
// standard input and output, so that a plug-in that crashes, hangs or keeps
// static state harms only this process.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "kevrale/spi.h"
#include "localmem/LocalMemoryShare.h"
#include "platform/Confinement.h"
#include "platform/DynamicLibrary.h"
#include "platform/LargeBlock.h"
#include "platform/Sanitizers.h"
#include "runner/SpiServer.h"

// A plug-in that crashes must end the runner by its signal, as it does in
// a plain build, so that the host reports a crash: the sanitizers' own
// handlers would turn the signal into an exit with status 1.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}
#endif

namespace {

struct Channel {
  int in = -1;
  int out = -1;
};

int ReadAll(void* channel, void* buffer, size_t size) {
  const int fd = static_cast<Channel*>(channel)->in;
  auto* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, p + done, size - done);
    if (n > 0) {
      done += size_t(n);
    } else if (n == 0) {
      return done == 0 ? 1 : -1;
    } else if (errno != EINTR) {
      return -1;
    }
  }
  return 0;
}

int WriteAll(void* channel, const void* buffer, size_t size) {
  const int fd = static_cast<Channel*>(channel)->out;
  const auto* p = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    p += n;
    size -= size_t(n);
  }
  return 0;
}

// The plug-in stays loaded until the process ends.
kevrale::DynamicLibrary g_plugin;

template <class F>
void Bind(const char* name, F& slot) {
  slot = reinterpret_cast<F>(g_plugin.Symbol(name));
}

int Load(const char* name, SpiServerEntries* e, char* reason, size_t reason_size) {
  std::string error;
  g_plugin = kevrale::DynamicLibrary::Open(name, &error);
  if (!g_plugin) {
    snprintf(reason, reason_size, "%s", error.c_str());
    return 1;
  }
  Bind("GetPluginInfo", e->GetPluginInfo);
  Bind("ConfigurationDlg", e->ConfigurationDlg);
  Bind("IsSupported", e->IsSupported);
  Bind("GetPictureInfo", e->GetPictureInfo);
  Bind("GetPicture", e->GetPicture);
  Bind("GetPreview", e->GetPreview);
  Bind("GetArchiveInfo", e->GetArchiveInfo);
  Bind("GetFileInfo", e->GetFileInfo);
  Bind("GetFile", e->GetFile);
  return 0;
}

// The channel takes over standard input and output; the plug-in's own
// output goes to standard error and its input reads nothing, so that no
// printf of a plug-in can break a message.
bool TakeChannel(Channel& channel) {
  channel.in = fcntl(0, F_DUPFD_CLOEXEC, 3);
  channel.out = fcntl(1, F_DUPFD_CLOEXEC, 3);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (channel.in < 0 || channel.out < 0 || null < 0) return false;
  if (dup2(null, 0) < 0 || dup2(2, 1) < 0) return false;
  close(null);
  return true;
}

// With --confine (and --read PATH for each path it may read besides the
// system's libraries), the process confines itself before it loads the
// plug-in, whose own code then runs confined from its first instruction.
// What the kernel does not offer is said on standard error.
void Confine(int argc, char** argv) {
  kevrale::ConfinementRules rules;
  bool confine = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--confine") confine = true;
    if (arg == "--read" && i + 1 < argc) rules.readable.emplace_back(argv[++i]);
  }
  if (!confine) return;
  for (std::string& folder : kevrale::SystemLibraryFolders())
    rules.readable.push_back(std::move(folder));
  rules.relaxed_for_sanitizers = kevrale::kReservesShadowMemory;
  const std::string note = kevrale::ConfineProcess(rules);
  if (!note.empty()) fprintf(stderr, "kevrale-spi-runner: %s\n", note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Channel channel;
  if (!TakeChannel(channel)) {
    perror("kevrale-spi-runner");
    return SPI_SERVER_BROKEN;
  }
  Confine(argc, argv);
  SpiServerPlatform platform{};
  platform.channel = &channel;
  platform.Read = &ReadAll;
  platform.Write = &WriteAll;
  platform.Load = &Load;
  platform.Lock = [](void* h) { return LocalLock(h); };
  platform.Unlock = [](void* h) { LocalUnlock(h); };
  platform.Size = [](void* h) { return LocalSize(h); };
  platform.Free = [](void* h) { LocalFree(h); };
  platform.ShareLargeBlocks = [] { KevraleLocalShareLargeBlocks(kevrale::kLargeBlockSize); };
  platform.BlockFd = [](void* h) { return KevraleLocalBlockFd(h); };
  platform.code_page = 0;
  platform.pointer_bits = sizeof(void*) * 8;
  return SpiServe(&platform);
}
