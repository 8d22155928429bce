// A plug-in run in a process of its own: the native runner for a Linux
// plug-in, the Windows bridge under Wine for a Windows DLL (chosen by the
// file's header). It offers the plug-in's calls with the signatures and
// results of the module wrappers (TSPI::GetPluginInfo, TLoaderSPI::
// IsSupported, TInSPI's picture functions); the blocks that the plug-in
// hands back arrive as the caller's own local-memory blocks.
//
// A process that crashes, or that does not answer within the time limit, is
// ended and the call raises EPluginCrashed or EPluginNoAnswer; one that
// cannot be started raises EPluginStartFailed. The next call starts a fresh
// process.
//
// The process is contained: it leads a process group of its own that ends
// whole with it and with the program, inherits no descriptor but its
// pipes, and is confined by the kernel (options.confine; see
// docs/plugins.md for what it may and may not do).
//
// The client makes the calls and turns what the process does into results
// and errors; PluginLauncher starts the process and BlockTransport brings
// its blocks over.
//
// One object is used by one thread at a time (a host keeps one per worker
// thread): the calls are not locked, and the progress callback is called on
// the calling thread, inside the call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ipc/BlockTransport.h"
#include "ipc/ChildProcess.h"
#include "ipc/MessageChannel.h"
#include "ipc/PeMachine.h"
#include "ipc/PluginLauncher.h"
#include "ipc/WineSetup.h"
#include "kevrale/spi.h"
#include "runner/SpiProtocol.h"  // the SPI_EXPORTS_* bits of Exports()

namespace kevrale {

class WindowsFileNames;

class PluginProcess {
 public:
  // Reads the file's machine type; starts nothing yet.
  PluginProcess(std::string plugin_file, PluginProcessOptions options);
  ~PluginProcess();
  PluginProcess(const PluginProcess&) = delete;
  PluginProcess& operator=(const PluginProcess&) = delete;

  const std::string& PluginFile() const { return plugin_file_; }
  const PeMachine& Machine() const { return machine_; }

  // Why the process cannot be started here (its program or Wine is
  // missing), found without starting anything; empty when nothing stands
  // in the way that can be seen beforehand.
  std::string StartObstacle() const { return launcher_.StartObstacle(); }

  // Starts the process and loads the plug-in, unless that is done. Raises
  // EPluginStartFailed, or ESPIFOpenErrorSPI when the plug-in does not load
  // (LoadFailure() then holds the loader's reason).
  void Start();
  const std::string& LoadFailure() const { return load_failure_; }
  // The running process's id (for measurements); -1 when none runs.
  pid_t ProcessId() const { return launcher_.Process().Pid(); }
  // Whether the running process's blocks are read in place.
  bool BlocksInPlace() const { return blocks_.InPlace(); }
  // Whether a 32-bit DLL runs through Wine's 64-bit loader: where 32-bit
  // Wine's loader is missing or the machine cannot run it, Wine runs the
  // 32-bit code itself, given its 32-bit Windows DLLs. The bridge is then
  // not the process started but one that Wine starts, so its blocks always
  // come through the pipe.
  bool Through64BitLoader() const { return launcher_.Through64BitLoader(); }
  // Ends the process; the next call starts a fresh one.
  void Stop();
  bool IsRunning() const;

  // The entry points the plug-in exports (SPI_EXPORTS_* bits); starts the
  // process when needed.
  uint32_t Exports();

  // The calls. A call of an entry point that the plug-in does not export
  // raises ESPIInvalidAPI, as the module wrappers do.
  int32_t GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len);
  // `dw`: the address of at least 2048 bytes of the head of the data.
  int32_t IsSupported(const char* file_name, intptr_t dw);
  int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag, SpiPictureInfo* info);
  int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data);
  int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data);

  // Drops the memory input that the process keeps for the calls of one
  // picture (it is sent once, not once per call).
  void ForgetMemoryInput();

 private:
  using SharedPending = BlockTransport::SharedPending;

  void StartProcess();
  // Before a picture call: a confined process may read only the file named
  // when it started; a file input of another file starts a fresh one.
  void AllowPicture(const char* buf, uint32_t flag);
  void Require(uint32_t entry, const char* name);
  // Converts the input of a picture call into its fields; sends memory
  // input first unless the process holds it.
  std::vector<uint8_t> MakeInput(const char* buf, intptr_t len, uint32_t flag, size_t fixed);
  // Waits for the RESULT of the request just sent, answering PROGRESS on
  // the way, for `call_limit` seconds in all (-1: CallLimitSeconds());
  // returns its body size.
  uint32_t AwaitResult(SpiProgressCallback progress, intptr_t data, int call_limit = -1);
  int32_t PictureCall(uint32_t type, const char* buf, intptr_t len, uint32_t flag,
                      SpiHandle* hbinfo, SpiHandle* hbm, SpiProgressCallback progress,
                      intptr_t data);
  // Ends the process after a failure of the channel, or after it reported a
  // fault, and raises the error that says what happened.
  [[noreturn]] void Fail(const ChannelFailure& failure);
  [[noreturn]] void FailWithFault(uint32_t code);
  // Forgets the process's state after it has ended.
  void Forget();
  // Ends the process and, after the last Windows plug-in process of the
  // program, what runs in Wine's prefix.
  std::string EndProcess(std::chrono::milliseconds grace);
  // The limit of one call in all, however often it reports progress.
  int CallLimitSeconds() const;
  void DropKeptInput();

  std::string plugin_file_;
  PluginProcessOptions options_;
  PeMachine machine_;
  PluginLauncher launcher_{plugin_file_, machine_, options_};
  std::unique_ptr<MessageChannel> channel_;
  BlockTransport blocks_;
  std::unique_ptr<WindowsFileNames> names_;
  uint32_t code_page_ = 0;
  uint32_t exports_ = 0;
  std::string load_failure_;
  std::string picture_;  // the file a confined process may read
  // The memory input that the process holds: where it was in the caller's
  // memory, and a copy to tell whether the caller's bytes are still the same.
  uintptr_t kept_address_ = 0;
  std::vector<uint8_t> kept_;
  bool holds_input_ = false;
};

}  // namespace kevrale
