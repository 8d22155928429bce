#include "ipc/PluginProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ipc/LocalBlock.h"
#include "ipc/PluginProcessErrors.h"
#include "ipc/WindowsFileNames.h"
#include "platform/Format.h"
#include "platform/LargeBlock.h"
#include "platform/LittleEndian.h"
#include "runner/SpiProtocol.h"

namespace kevrale {

namespace {

// How long an ending process may take to go by itself before it is killed.
constexpr auto kEndGrace = std::chrono::milliseconds(2000);

// A call that keeps reporting progress may go on for this many times the
// time limit in all, and no longer.
constexpr int kCallLimitFactor = 10;

// Without a time limit, the start of a process and GetPluginInfo are still
// bounded by this: a plug-in that hangs there would hang every start.
constexpr int kStartLimitSeconds = 60;

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

}  // namespace

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
  const ChildProcess& process = launcher_.Process();
  return process.IsRunning() && channel_ != nullptr && !process.HasEnded();
}

std::string PluginProcess::EndProcess(std::chrono::milliseconds grace) {
  return launcher_.End(grace);
}

void PluginProcess::DropKeptInput() {
  holds_input_ = false;
  kept_.clear();
  kept_.shrink_to_fit();
  kept_address_ = 0;
}

void PluginProcess::Forget() {
  blocks_.Detach();
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

void PluginProcess::StartProcess() {
  auto start_failed = [this](const std::string& reason) {
    Forget();
    EndProcess(std::chrono::milliseconds(0));
    return EPluginStartFailed(
        Format("%s: the plug-in process could not be started: %s", {plugin_file_, reason}), reason);
  };

  std::string launch_failure;
  channel_ = launcher_.Launch(picture_, launch_failure);
  if (channel_ == nullptr) throw start_failed(launch_failure);
  const bool windows = launcher_.Windows();
  blocks_.Attach(launcher_.Process().Pid(), channel_.get());
  if (options_.time_limit_seconds <= 0) channel_->StartCall(kStartLimitSeconds);

  uint8_t loaded[SPI_LOADED_FIXED];
  std::string reason;
  try {
    uint32_t type = 0, size = 0;
    channel_->ReadHeader(type, size);
    uint8_t hello[SPI_HELLO_SIZE];
    if (type != SPI_MSG_HELLO || size != SPI_HELLO_SIZE) ProtocolBroken();
    channel_->Read(hello, sizeof hello);
    if (Get32(hello) != SPI_PROTOCOL_VERSION)
      throw start_failed(launcher_.ServerPath() + " speaks another version of the protocol");
    code_page_ = Get32(hello + 4);
    if (windows && names_ == nullptr) names_ = std::make_unique<WindowsFileNames>(code_page_);
    bool in_place = false;
    if (options_.blocks_in_place && !launcher_.Through64BitLoader()) {
      // Blocks are read in place where the probe reads back as it should.
      char probe[SPI_PROBE_SIZE] = {};
      try {
        blocks_.ReadInPlace(Get64(hello + 12), probe, sizeof probe);
        in_place = memcmp(probe, SPI_PROBE_TEXT, SPI_PROBE_SIZE) == 0;
      } catch (const ChannelFailure&) {
        // The pipe serves.
      }
    }

    const std::string name = windows ? names_->ForPlugin(plugin_file_) : plugin_file_;
    uint8_t load[SPI_LOAD_FIXED];
    const bool shared =
        in_place && !windows &&
        (options_.shared_blocks == PluginProcessOptions::SharedBlocks::Always ||
         (options_.shared_blocks == PluginProcessOptions::SharedBlocks::WhereFaster &&
          SharedMemoryHasHugePages()));
    blocks_.SetWays(in_place, shared);
    Put32(load,
          (in_place ? SPI_LOAD_BLOCKS_IN_PLACE : 0u) | (shared ? SPI_LOAD_SHARED_BLOCKS : 0u));
    channel_->WriteFrame(SPI_MSG_LOAD, load, sizeof load, name.data(), name.size());
    channel_->ReadHeader(type, size);
    if (type != SPI_MSG_LOADED || size < SPI_LOADED_FIXED || size > 65536) ProtocolBroken();
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
  if (!options_.confine || launcher_.Windows() || buf == nullptr ||
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
    ProtocolBroken();
  }
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
    if (AwaitResult(nullptr, 0, limit) != 4 + count) ProtocolBroken();
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
    if (AwaitResult(nullptr, 0) != 4) ProtocolBroken();
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
    if (left < sizeof fixed) ProtocolBroken();
    channel_->Read(fixed, sizeof fixed);
    left -= uint32_t(sizeof fixed);
    const uint8_t* block = fixed + 4 + SPI_INFO_FIELDS_SIZE;
    const uint32_t state = Get32(block);
    if (state == SPI_BLOCK_SAME) ProtocolBroken();
    LocalBlock text;
    std::vector<SharedPending> shared;
    bool room = blocks_.ReadBlock(block, *text.Receive(), left, shared);
    if (left != 0) ProtocolBroken();
    room = blocks_.TakeBlocks(shared, state == SPI_BLOCK_DATA) && room;
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
    if (left < sizeof fixed) ProtocolBroken();
    channel_->Read(fixed, sizeof fixed);
    left -= uint32_t(sizeof fixed);
    const int32_t result = int32_t(Get32(fixed));
    const uint32_t info_state = Get32(fixed + 4);
    const uint32_t bits_state = Get32(fixed + 4 + SPI_BLOCK_SIZE);
    if (result != SPI_SUCCESS) {
      // The handles stay as the caller gave them.
      if (left != 0) ProtocolBroken();
      return result;
    }
    if (info_state == SPI_BLOCK_UNCHANGED || info_state == SPI_BLOCK_SAME ||
        bits_state == SPI_BLOCK_UNCHANGED)
      ProtocolBroken();
    LocalBlock info, bits;
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
    bool room = blocks_.ReadBlock(fixed + 4, *info.Receive(), left, shared);
    if ((bits_state == SPI_BLOCK_DATA || bits_state == SPI_BLOCK_SHARED) &&
        Get64(fixed + 4 + SPI_BLOCK_SIZE + 4) > BitsAllowance(info.Handle()))
      return refuse();
    room = blocks_.ReadBlock(fixed + 4 + SPI_BLOCK_SIZE, *bits.Receive(), left, shared) && room;
    if (left != 0) ProtocolBroken();
    room =
        blocks_.TakeBlocks(shared, info_state == SPI_BLOCK_DATA || bits_state == SPI_BLOCK_DATA) &&
        room;
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
