#include "ipc/PluginProcess.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "ipc/PluginProcessErrors.h"
#include "ipc/PluginProcessGroups.h"
#include "ipc/SharedBlock.h"
#include "ipc/WindowsFileNames.h"
#include "platform/Confinement.h"
#include "platform/Folders.h"
#include "platform/Format.h"
#include "platform/LargeBlock.h"
#include "platform/LittleEndian.h"
#include "platform/Sanitizers.h"
#include "runner/SpiProtocol.h"

extern char** environ;

namespace kevrale {

namespace {

constexpr const char* kRunner = "kevrale-spi-runner";
constexpr const char* kBridge64 = "kevrale-spi-bridge64.exe";
constexpr const char* kBridge32 = "kevrale-spi-bridge32.exe";

// How long an ending process may take to go by itself before it is killed.
constexpr auto kEndGrace = std::chrono::milliseconds(2000);

// A call that keeps reporting progress may go on for this many times the
// time limit in all, and no longer.
constexpr int kCallLimitFactor = 10;

// Without a time limit, the start of a process and GetPluginInfo are still
// bounded by this: a plug-in that hangs there would hang every start.
constexpr int kStartLimitSeconds = 60;

// A local-memory block that is freed unless it is handed on.
class OwnedBlock {
 public:
  OwnedBlock() = default;
  ~OwnedBlock() {
    if (handle_ != nullptr) LocalFree(handle_);
  }
  OwnedBlock(const OwnedBlock&) = delete;
  OwnedBlock& operator=(const OwnedBlock&) = delete;
  SpiHandle& Get() { return handle_; }
  SpiHandle Release() { return std::exchange(handle_, nullptr); }

 private:
  SpiHandle handle_ = nullptr;
};

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

void PutInfoFields(uint8_t* p, const SpiPictureInfo& info) {
  Put32(p, uint32_t(info.left));
  Put32(p + 4, uint32_t(info.top));
  Put32(p + 8, uint32_t(info.width));
  Put32(p + 12, uint32_t(info.height));
  Put16(p + 16, info.x_density);
  Put16(p + 18, info.y_density);
  Put16(p + 20, uint16_t(info.colorDepth));
}

void GetInfoFields(const uint8_t* p, SpiPictureInfo& info) {
  info.left = int32_t(Get32(p));
  info.top = int32_t(Get32(p + 4));
  info.width = int32_t(Get32(p + 8));
  info.height = int32_t(Get32(p + 12));
  info.x_density = Get16(p + 16);
  info.y_density = Get16(p + 18);
  info.colorDepth = int16_t(Get16(p + 20));
}

[[noreturn]] void Broken() {
  throw ChannelFailure{ChannelFailure::Kind::Broken};
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

PluginProcess::PluginProcess(std::string plugin_file, PluginProcessOptions options)
    : plugin_file_(std::move(plugin_file)),
      options_(std::move(options)),
      machine_(ReadPeMachine(plugin_file_)) {}

PluginProcess::~PluginProcess() {
  Stop();
}

bool PluginProcess::IsRunning() const {
  // A process ends between calls too: when the thread that started it has
  // ended (the parent-death signal), or when it died by itself while idle.
  return process_.IsRunning() && channel_ != nullptr && !process_.HasEnded();
}

std::string PluginProcess::EndProcess(std::chrono::milliseconds grace) {
  std::string how = process_.End(grace);
  // What a Windows plug-in started lives on in Wine's server and services
  // of the prefix: they are ended with the last bridge that uses it.
  if (std::exchange(uses_prefix_, false)) LeaveWinePrefix(wine_server_, wine_prefix_);
  return how;
}

std::string PluginProcess::ProgramPath(const char* name) const {
  const std::string folder =
      options_.program_folder.empty() ? ProgramFolder() : options_.program_folder;
  return folder + "/" + name;
}

void PluginProcess::DropKeptInput() {
  holds_input_ = false;
  kept_.clear();
  kept_.shrink_to_fit();
  kept_address_ = 0;
}

void PluginProcess::Forget() {
  channel_.reset();
  DropKeptInput();
}

void PluginProcess::Stop() {
  Forget();
  EndProcess(kEndGrace);
}

void PluginProcess::Start() {
  if (IsRunning()) return;
  Forget();
  EndProcess(std::chrono::milliseconds(0));
  StartProcess();
}

std::string PluginProcess::StartObstacle() const {
  if (machine_.kind == PeMachine::Kind::NotPe) {
    const std::string runner = ProgramPath(kRunner);
    return access(runner.c_str(), X_OK) == 0 ? std::string() : runner + " is missing";
  }
  const bool i386 = machine_.kind == PeMachine::Kind::I386;
  if (!i386 && machine_.kind != PeMachine::Kind::Amd64)
    return "it is a DLL for " + PeMachineName(machine_) + ", which no bridge runs";
  const WineOptions& wine = options_.wine;
  const std::string bridge = ProgramPath(i386 ? kBridge32 : kBridge64);
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

const std::string& PluginProcess::WineLoader() const {
  return machine_.kind == PeMachine::Kind::I386 && !through_loader64_ ? options_.wine.loader32
                                                                      : options_.wine.loader64;
}

void PluginProcess::StartProcess() {
  auto start_failed = [this](const std::string& reason) {
    Forget();
    EndProcess(std::chrono::milliseconds(0));
    return EPluginStartFailed(
        Format("%s: the plug-in process could not be started: %s", {plugin_file_, reason}), reason);
  };

  if (const std::string obstacle = StartObstacle(); !obstacle.empty()) throw start_failed(obstacle);
  const bool windows = machine_.kind != PeMachine::Kind::NotPe;
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
    if (!picture_.empty()) launch.argv.insert(launch.argv.end(), {"--read", picture_});
    launch.environment = ReducedEnvironment();
  } else {
    const bool i386 = machine_.kind == PeMachine::Kind::I386;
    if (i386 && !Executable(options_.wine.loader32)) through_loader64_ = true;
    const std::string& loader = WineLoader();
    const std::string bridge = ProgramPath(i386 ? kBridge32 : kBridge64);
    // The prefix is made by the 64-bit loader where there is one, so that
    // both machine types share it.
    const std::string& maker =
        access(options_.wine.loader64.c_str(), X_OK) == 0 ? options_.wine.loader64 : loader;
    const std::string reason = EnsureWinePrefix(options_.wine, maker);
    if (!reason.empty()) throw start_failed(reason);
    const std::string prefix =
        options_.wine.prefix.empty() ? DefaultWinePrefix() : options_.wine.prefix;
    launch.argv = {loader, bridge};
    // Wine's 64-bit loader starts a 32-bit program as a process of its own,
    // below the one started here; it stays in the group, which ends as one.
    launch.environment = WineEnvironment(prefix, options_.wine);
    wine_server_ = WineServerFor(loader);
    wine_prefix_ = prefix;
    UseWinePrefix(prefix);
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
        return StartProcess();
      }
      throw start_failed(
          "it is a 32-bit DLL and this machine cannot run 32-bit programs, and Wine's 64-bit "
          "loader cannot run it instead: " +
          (dlls32 ? loader64 + " is missing"
                  : "Wine's 32-bit Windows DLLs are not installed (" + options_.wine.dlls32 +
                        "/i386-windows is missing)"));
    }
    throw start_failed(launch.argv[0] + ": " + error);
  }
  channel_ = std::make_unique<MessageChannel>(process_, options_.time_limit_seconds);
  if (options_.time_limit_seconds <= 0) channel_->StartCall(kStartLimitSeconds);

  uint8_t loaded[SPI_LOADED_FIXED];
  std::string reason;
  try {
    uint32_t type = 0, size = 0;
    channel_->ReadHeader(type, size);
    uint8_t hello[SPI_HELLO_SIZE];
    if (type != SPI_MSG_HELLO || size != SPI_HELLO_SIZE) Broken();
    channel_->Read(hello, sizeof hello);
    if (Get32(hello) != SPI_PROTOCOL_VERSION)
      throw start_failed(launch.argv.back() + " speaks another version of the protocol");
    code_page_ = Get32(hello + 4);
    if (windows && names_ == nullptr) names_ = std::make_unique<WindowsFileNames>(code_page_);
    in_place_ = false;
    if (options_.blocks_in_place && !through_loader64_) {
      // Blocks are read in place where the probe reads back as it should.
      char probe[SPI_PROBE_SIZE] = {};
      try {
        ReadInPlace(Get64(hello + 12), probe, sizeof probe);
        in_place_ = memcmp(probe, SPI_PROBE_TEXT, SPI_PROBE_SIZE) == 0;
      } catch (const ChannelFailure&) {
        // The pipe serves.
      }
    }

    const std::string name = windows ? names_->ForPlugin(plugin_file_) : plugin_file_;
    uint8_t load[SPI_LOAD_FIXED];
    shared_ = in_place_ && !windows &&
              (options_.shared_blocks == PluginProcessOptions::SharedBlocks::Always ||
               (options_.shared_blocks == PluginProcessOptions::SharedBlocks::WhereFaster &&
                SharedMemoryHasHugePages()));
    Put32(load,
          (in_place_ ? SPI_LOAD_BLOCKS_IN_PLACE : 0u) | (shared_ ? SPI_LOAD_SHARED_BLOCKS : 0u));
    channel_->WriteFrame(SPI_MSG_LOAD, load, sizeof load, name.data(), name.size());
    channel_->ReadHeader(type, size);
    if (type != SPI_MSG_LOADED || size < SPI_LOADED_FIXED || size > 65536) Broken();
    channel_->Read(loaded, sizeof loaded);
    reason.resize(size - SPI_LOADED_FIXED);
    channel_->Read(reason.data(), reason.size());
  } catch (const ChannelFailure& failure) {
    const bool timed_out = failure.kind == ChannelFailure::Kind::TimedOut ||
                           failure.kind == ChannelFailure::Kind::TooLong;
    const std::string how = failure.kind == ChannelFailure::Kind::Closed
                                ? EndProcess(kEndGrace)
                                : EndProcess(std::chrono::milliseconds(0));
    const int limit =
        options_.time_limit_seconds > 0 ? options_.time_limit_seconds : kStartLimitSeconds;
    throw start_failed(timed_out ? Format("it gave no answer within %d s", {std::to_string(limit)})
                       : failure.kind == ChannelFailure::Kind::Broken
                           ? std::string("it broke the protocol")
                           : "it ended before it was ready (" + how + ")");
  }
  channel_->EndCall();
  if (int32_t(Get32(loaded)) != 0) {
    Stop();
    load_failure_ = reason;
    throw ESPIFOpenErrorSPI(Format("%s:Susie Pluginがロードできませんでした", {plugin_file_}),
                            reason);
  }
  exports_ = Get32(loaded + 4);
}

uint32_t PluginProcess::Exports() {
  Start();
  return exports_;
}

void PluginProcess::AllowPicture(const char* buf, uint32_t flag) {
  if (!options_.confine || machine_.kind != PeMachine::Kind::NotPe || buf == nullptr ||
      (flag & SPI_INPUT_FORM_MASK) == SPI_INPUT_MEMORY_FORM || picture_ == buf)
    return;
  // The process is idle between calls: it is killed at once rather than
  // waited for.
  Forget();
  EndProcess(std::chrono::milliseconds(0));
  picture_ = buf;
}

void PluginProcess::Require(uint32_t entry, const char* name) {
  Start();
  if ((exports_ & entry) == 0)
    throw ESPIInvalidAPI(Format("%sは[%s]では使えないSusie Plugin APIです", {name, plugin_file_}));
}

void PluginProcess::Fail(const ChannelFailure& failure) {
  Forget();
  if (failure.kind == ChannelFailure::Kind::TimedOut) {
    EndProcess(std::chrono::milliseconds(0));
    const std::string limit = std::to_string(options_.time_limit_seconds) + " s";
    throw EPluginNoAnswer(Format("%s: the plug-in gave no answer within %s", {plugin_file_, limit}),
                          limit);
  }
  if (failure.kind == ChannelFailure::Kind::TooLong) {
    EndProcess(std::chrono::milliseconds(0));
    const int seconds = CallLimitSeconds() > 0 ? CallLimitSeconds() : kStartLimitSeconds;
    const std::string limit = std::to_string(seconds) + " s";
    throw EPluginNoAnswer(
        Format("%s: the plug-in did not finish within %s in all", {plugin_file_, limit}), limit);
  }
  const std::string how =
      failure.kind == ChannelFailure::Kind::Broken
          ? (EndProcess(std::chrono::milliseconds(0)), std::string("it broke the protocol"))
          : EndProcess(kEndGrace);
  if (how.rfind("exit status ", 0) == 0)
    throw EPluginCrashed(
        Format("%s: the plug-in ended without an answer (%s)", {plugin_file_, how}), how);
  throw EPluginCrashed(Format("%s: the plug-in crashed (%s)", {plugin_file_, how}), how);
}

int PluginProcess::CallLimitSeconds() const {
  if (options_.call_limit_seconds > 0) return options_.call_limit_seconds;
  return options_.time_limit_seconds <= 0 ? 0 : options_.time_limit_seconds * kCallLimitFactor;
}

void PluginProcess::FailWithFault(uint32_t code) {
  Forget();
  EndProcess(std::chrono::milliseconds(0));
  char text[32];
  snprintf(text, sizeof text, "exception 0x%08X", unsigned(code));
  throw EPluginCrashed(Format("%s: the plug-in crashed (%s)", {plugin_file_, text}), text);
}

uint32_t PluginProcess::AwaitResult(SpiProgressCallback progress, intptr_t data, int call_limit) {
  channel_->StartCall(call_limit >= 0 ? call_limit : CallLimitSeconds());
  for (;;) {
    uint32_t type = 0, size = 0;
    channel_->ReadHeader(type, size);
    if (type == SPI_MSG_RESULT) {
      channel_->EndCall();
      return size;
    }
    if (type == SPI_MSG_PROGRESS && size == SPI_PROGRESS_SIZE && progress != nullptr) {
      uint8_t body[SPI_PROGRESS_SIZE];
      channel_->Read(body, sizeof body);
      int32_t answer = 0;
      try {
        answer = progress(int32_t(Get32(body)), int32_t(Get32(body + 4)), data);
      } catch (...) {
        // The plug-in waits inside its call for an answer that will not
        // come: the process is ended and the error goes on.
        Forget();
        EndProcess(std::chrono::milliseconds(0));
        throw;
      }
      uint8_t reply[SPI_PROGRESS_REPLY_SIZE];
      Put32(reply, uint32_t(answer));
      channel_->WriteFrame(SPI_MSG_PROGRESS_REPLY, reply, sizeof reply);
      continue;
    }
    if (type == SPI_MSG_CRASHED && size == SPI_CRASHED_SIZE) {
      uint8_t body[SPI_CRASHED_SIZE];
      channel_->Read(body, sizeof body);
      FailWithFault(Get32(body));
    }
    Broken();
  }
}

namespace {

// Copies `size` bytes at `address` in process `pid` into `target`; 0 on
// success, else the errno of the failure (0 read counts as EFAULT).
int CopyFromProcess(pid_t pid, uint64_t address, uint8_t* target, size_t size) {
  while (size > 0) {
    const iovec local{target, size};
    const iovec remote{reinterpret_cast<void*>(uintptr_t(address)), size};
    const ssize_t n = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EFAULT;
    target += n;
    address += uint64_t(n);
    size -= size_t(n);
  }
  return 0;
}

// The largest info block taken: a header and a colour table need 1064 bytes.
constexpr uint64_t kMaxInfoBlock = uint64_t(1) << 20;

// The largest bits block taken for the DIB whose info block is `info`: twice
// what its rows need and 1 MiB more, for plug-ins that round their sizes
// up; 1 MiB where the header tells nothing (the DIB's check refuses it).
uint64_t BitsAllowance(SpiHandle info) {
  constexpr uint64_t kSlack = uint64_t(1) << 20;
  const size_t size = info != nullptr ? LocalSize(info) : 0;
  if (size < 40) return kSlack;
  const auto* header = static_cast<const uint8_t*>(LocalLock(info));
  const int64_t width = int32_t(Get32(header + 4));
  const int64_t height = int32_t(Get32(header + 8));
  const uint64_t bit_count = Get16(header + 14);
  LocalUnlock(info);
  if (width <= 0 || height == 0 || bit_count == 0 || bit_count > 32) return kSlack;
  const uint64_t stride = (uint64_t(width) * bit_count + 31) / 32 * 4;
  const uint64_t needed = stride * uint64_t(height < 0 ? -height : height);
  return 2 * needed + kSlack;
}

// From this size on a block is copied in two halves at once: the process
// waits meanwhile, so a second core has nothing better to do.
constexpr size_t kSplitCopy = size_t(8) << 20;

}  // namespace

void PluginProcess::ReadInPlace(uint64_t address, void* target, size_t size) {
  auto* p = static_cast<uint8_t*>(target);
  int failed = 0;
  if (size >= kSplitCopy) {
    const size_t half = size / 2 / 4096 * 4096;
    int second = 0;
    std::thread helper(
        [&] { second = CopyFromProcess(process_.Pid(), address + half, p + half, size - half); });
    failed = CopyFromProcess(process_.Pid(), address, p, half);
    helper.join();
    if (failed == 0) failed = second;
  } else {
    failed = CopyFromProcess(process_.Pid(), address, p, size);
  }
  // A process that is gone has crashed; an address that it cannot have
  // given breaks the protocol.
  if (failed != 0)
    throw ChannelFailure{failed == ESRCH ? ChannelFailure::Kind::Closed
                                         : ChannelFailure::Kind::Broken};
}

void PluginProcess::ReleaseBlocks() {
  if (in_place_) channel_->WriteFrame(SPI_MSG_RELEASE, nullptr, 0);
}

bool PluginProcess::ReadBlock(const uint8_t* field, SpiHandle& handle, uint32_t& left,
                              std::vector<SharedPending>& shared) {
  const uint32_t state = Get32(field);
  if (state == SPI_BLOCK_SHARED) {
    const uint64_t size = Get64(field + 4);
    if (!shared_ || size == 0 || size > SPI_FRAME_MAX_BODY) Broken();
    // Opened now, while the process still holds its descriptor.
    UniqueFd file = OpenSharedBlock(process_.Pid(), Get64(field + 12), size_t(size));
    if (!file) Broken();
    shared.push_back({std::move(file), size_t(size), &handle});
    return true;
  }
  if (state != SPI_BLOCK_DATA) return true;
  const uint64_t size = Get64(field + 4);
  if (size > SPI_FRAME_MAX_BODY || (!in_place_ && size > left)) Broken();
  if (!in_place_) left -= uint32_t(size);
  handle = LocalAlloc(LMEM_MOVEABLE, size_t(size));
  if (handle == nullptr) {
    // No room here: the caller hears "out of memory".
    if (!in_place_) channel_->Skip(size);
    return false;
  }
  if (size > 0) {
    void* address = LocalLock(handle);
    if (in_place_)
      ReadInPlace(Get64(field + 12), address, size_t(size));
    else
      channel_->Read(address, size_t(size));
    LocalUnlock(handle);
  }
  return true;
}

bool PluginProcess::TakeBlocks(std::vector<SharedPending>& shared, bool in_place_read) {
  if (shared.empty()) {
    if (in_place_read) ReleaseBlocks();
    return true;
  }
  // The process lets go of its mappings first: a file that it could still
  // write cannot be sealed.
  channel_->WriteFrame(SPI_MSG_HAND_OVER, nullptr, 0);
  uint32_t type = 0, size = 0;
  channel_->ReadHeader(type, size);
  if (type != SPI_MSG_RELEASED || size != 0) Broken();
  bool room = true;
  for (SharedPending& block : shared) {
    *block.target = TakeSharedBlock(block.file.Get(), block.size);
    room = room && *block.target != nullptr;
  }
  return room;
}

std::vector<uint8_t> PluginProcess::MakeInput(const char* buf, intptr_t len, uint32_t flag,
                                              size_t fixed) {
  std::vector<uint8_t> body(fixed);
  Put32(body.data(), flag);
  Put64(body.data() + 4, uint64_t(int64_t(len)));
  if ((flag & SPI_INPUT_FORM_MASK) != SPI_INPUT_MEMORY_FORM) {
    std::string name = buf != nullptr ? buf : "";
    if (names_ != nullptr) name = names_->ForPlugin(name);
    body.insert(body.end(), name.begin(), name.end());
    return body;
  }
  const size_t size = len > 0 && buf != nullptr ? size_t(len) : 0;
  if (size > SPI_FRAME_MAX_BODY) throw std::bad_alloc();
  const uintptr_t address = reinterpret_cast<uintptr_t>(buf);
  // The bytes the process holds serve again when the caller's are the same
  // (the calls of one picture, and its second start offset): compared, not
  // assumed from the address, since memory is reused.
  const bool held = holds_input_ && address >= kept_address_ &&
                    address - kept_address_ <= kept_.size() &&
                    size <= kept_.size() - (address - kept_address_) &&
                    (size == 0 || memcmp(buf, kept_.data() + (address - kept_address_), size) == 0);
  uint64_t start = address - kept_address_;
  if (!held) {
    holds_input_ = false;
    kept_.assign(buf, buf + size);
    channel_->WriteFrame(SPI_MSG_SET_DATA, buf, size);
    kept_address_ = address;
    holds_input_ = true;
    start = 0;
  }
  Put64(body.data() + 12, start);
  return body;
}

int32_t PluginProcess::GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) {
  Require(SPI_EXPORTS_GETPLUGININFO, "GetPluginInfo");
  const uint32_t count =
      buf_len <= 0 ? 0u : std::min(uint32_t(buf_len), uint32_t(SPI_INFO_MAX_BUFFER));
  std::vector<uint8_t> body(8 + size_t(count));
  Put32(body.data(), uint32_t(info_no));
  Put32(body.data() + 4, uint32_t(buf_len));
  if (buf != nullptr) memcpy(body.data() + 8, buf, count);
  try {
    channel_->WriteFrame(SPI_MSG_GET_PLUGIN_INFO, body.data(), body.size());
    const int limit = CallLimitSeconds() > 0 ? CallLimitSeconds() : kStartLimitSeconds;
    if (AwaitResult(nullptr, 0, limit) != 4 + count) Broken();
    uint8_t result[4];
    channel_->Read(result, sizeof result);
    channel_->Read(buf != nullptr ? reinterpret_cast<uint8_t*>(buf) : body.data() + 8, count);
    return int32_t(Get32(result));
  } catch (const ChannelFailure& failure) {
    Fail(failure);
  }
}

int32_t PluginProcess::IsSupported(const char* file_name, intptr_t dw) {
  Require(SPI_EXPORTS_ISSUPPORTED, "IsSupported");
  std::string name = file_name != nullptr ? file_name : "";
  if (names_ != nullptr) name = names_->ForPlugin(name);
  std::vector<uint8_t> body(4 + name.size() + SPI_HEAD_SIZE);
  Put32(body.data(), uint32_t(name.size()));
  memcpy(body.data() + 4, name.data(), name.size());
  if (dw != 0)
    memcpy(body.data() + 4 + name.size(), reinterpret_cast<const void*>(dw), SPI_HEAD_SIZE);
  try {
    channel_->WriteFrame(SPI_MSG_IS_SUPPORTED, body.data(), body.size());
    if (AwaitResult(nullptr, 0) != 4) Broken();
    uint8_t result[4];
    channel_->Read(result, sizeof result);
    return int32_t(Get32(result));
  } catch (const ChannelFailure& failure) {
    Fail(failure);
  }
}

int32_t PluginProcess::GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                      SpiPictureInfo* info) {
  AllowPicture(buf, flag);
  Require(SPI_EXPORTS_GETPICTUREINFO, "GetPictureInfo");
  try {
    std::vector<uint8_t> body;
    try {
      body = MakeInput(buf, len, flag, SPI_PICTURE_INFO_REQUEST_FIXED);
    } catch (const std::bad_alloc&) {
      return SPI_OUT_OF_MEMORY;
    }
    PutInfoFields(body.data() + SPI_INPUT_SIZE, *info);
    Put32(body.data() + SPI_INPUT_SIZE + SPI_INFO_FIELDS_SIZE, info->hInfo != nullptr ? 1 : 0);
    channel_->WriteFrame(SPI_MSG_GET_PICTURE_INFO, body.data(), body.size());
    uint32_t left = AwaitResult(nullptr, 0);
    uint8_t fixed[SPI_PICTURE_INFO_RESULT_FIXED];
    if (left < sizeof fixed) Broken();
    channel_->Read(fixed, sizeof fixed);
    left -= uint32_t(sizeof fixed);
    const uint8_t* block = fixed + 4 + SPI_INFO_FIELDS_SIZE;
    const uint32_t state = Get32(block);
    if (state == SPI_BLOCK_SAME) Broken();
    OwnedBlock text;
    std::vector<SharedPending> shared;
    bool room = ReadBlock(block, text.Get(), left, shared);
    if (left != 0) Broken();
    room = TakeBlocks(shared, state == SPI_BLOCK_DATA) && room;
    int32_t result = int32_t(Get32(fixed));
    GetInfoFields(fixed + 4, *info);
    if (state == SPI_BLOCK_NULL) info->hInfo = nullptr;
    if (state == SPI_BLOCK_DATA || state == SPI_BLOCK_SHARED) {
      info->hInfo = text.Release();
      if (!room) result = SPI_OUT_OF_MEMORY;
    }
    return result;
  } catch (const ChannelFailure& failure) {
    Fail(failure);
  }
}

int32_t PluginProcess::PictureCall(uint32_t type, const char* buf, intptr_t len, uint32_t flag,
                                   SpiHandle* hbinfo, SpiHandle* hbm, SpiProgressCallback progress,
                                   intptr_t data) {
  try {
    std::vector<uint8_t> body;
    try {
      body = MakeInput(buf, len, flag, SPI_PICTURE_REQUEST_FIXED);
    } catch (const std::bad_alloc&) {
      return SPI_OUT_OF_MEMORY;
    }
    Put32(body.data() + SPI_INPUT_SIZE, progress != nullptr ? 1 : 0);
    channel_->WriteFrame(type, body.data(), body.size());
    uint32_t left = AwaitResult(progress, data);
    uint8_t fixed[SPI_PICTURE_RESULT_FIXED];
    if (left < sizeof fixed) Broken();
    channel_->Read(fixed, sizeof fixed);
    left -= uint32_t(sizeof fixed);
    const int32_t result = int32_t(Get32(fixed));
    const uint32_t info_state = Get32(fixed + 4);
    const uint32_t bits_state = Get32(fixed + 4 + SPI_BLOCK_SIZE);
    if (result != SPI_SUCCESS) {
      // The handles stay as the caller gave them.
      if (left != 0) Broken();
      return result;
    }
    if (info_state == SPI_BLOCK_UNCHANGED || info_state == SPI_BLOCK_SAME ||
        bits_state == SPI_BLOCK_UNCHANGED)
      Broken();
    OwnedBlock info, bits;
    std::vector<SharedPending> shared;
    // A block far larger than its picture needs is refused before it is
    // copied: the plug-in's process goes, and the caller hears "memory
    // error".
    const auto refuse = [this] {
      Forget();
      EndProcess(std::chrono::milliseconds(0));
      return SPI_MEMORY_ERROR;
    };
    if (info_state != SPI_BLOCK_NULL && Get64(fixed + 4 + 4) > kMaxInfoBlock) return refuse();
    bool room = ReadBlock(fixed + 4, info.Get(), left, shared);
    if ((bits_state == SPI_BLOCK_DATA || bits_state == SPI_BLOCK_SHARED) &&
        Get64(fixed + 4 + SPI_BLOCK_SIZE + 4) > BitsAllowance(info.Get()))
      return refuse();
    room = ReadBlock(fixed + 4 + SPI_BLOCK_SIZE, bits.Get(), left, shared) && room;
    if (left != 0) Broken();
    room = TakeBlocks(shared, info_state == SPI_BLOCK_DATA || bits_state == SPI_BLOCK_DATA) && room;
    if (!room) return SPI_OUT_OF_MEMORY;
    *hbinfo = info.Release();
    // One block handed back twice stays one block, as the plug-in gave it.
    *hbm = bits_state == SPI_BLOCK_SAME ? *hbinfo : bits.Release();
    return SPI_SUCCESS;
  } catch (const ChannelFailure& failure) {
    Fail(failure);
  }
}

int32_t PluginProcess::GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                                  SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  AllowPicture(buf, flag);
  Require(SPI_EXPORTS_GETPICTURE, "GetPicture");
  return PictureCall(SPI_MSG_GET_PICTURE, buf, len, flag, hbinfo, hbm, progress, data);
}

int32_t PluginProcess::GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                                  SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) {
  AllowPicture(buf, flag);
  Require(SPI_EXPORTS_GETPREVIEW, "GetPreview");
  return PictureCall(SPI_MSG_GET_PREVIEW, buf, len, flag, hbinfo, hbm, progress, data);
}

void PluginProcess::ForgetMemoryInput() {
  if (holds_input_ && IsRunning()) {
    try {
      channel_->WriteFrame(SPI_MSG_SET_DATA, nullptr, 0);  // the process lets its copy go
    } catch (const ChannelFailure&) {
      // The next call finds out what became of the process.
    }
  }
  DropKeptInput();
}

}  // namespace kevrale
