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
// One object is used by one thread at a time (a host keeps one per worker
// thread): the calls are not locked, and the progress callback is called on
// the calling thread, inside the call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ipc/ChildProcess.h"
#include "ipc/MessageChannel.h"
#include "ipc/PeMachine.h"
#include "ipc/WineSetup.h"
#include "kevrale/spi.h"
#include "runner/SpiProtocol.h"  // the SPI_EXPORTS_* bits of Exports()

namespace kevrale {

class WindowsFileNames;

// The address-space limit of a plug-in process: half the machine's memory
// plus 4 GiB for what Wine and the C runtime reserve without using it. 0
// (no limit) in builds with AddressSanitizer, whose shadow memory is
// reserved address space too.
uint64_t DefaultPluginMemoryLimit();

struct PluginProcessOptions {
  // The folder of kevrale-spi-runner and the bridges; empty: the program's.
  std::string program_folder;
  // Seconds that a call may wait for the process between two of its
  // messages; 0: no limit.
  int time_limit_seconds = 60;
  // Seconds that one call may take in all, however often it reports
  // progress; 0: ten times time_limit_seconds (no limit when that is 0).
  int call_limit_seconds = 0;
  // Bytes of address space of the process; 0: no limit.
  uint64_t memory_limit = DefaultPluginMemoryLimit();
  // The blocks of a picture are copied straight out of the process's memory
  // (one copy, no pipe) where the system lets this process read its
  // child's memory; else, or when this is false, they come through the pipe.
  bool blocks_in_place = true;
  // Whether the native runner hands large blocks over in memory files,
  // without any copy (blocks read in place only). Where shared memory gets
  // no huge pages, filling such a file costs the plug-in more than the copy
  // saves, so by default only where it does.
  enum class SharedBlocks { Never, WhereFaster, Always };
  SharedBlocks shared_blocks = SharedBlocks::WhereFaster;
  WineOptions wine;
  // Whether a Linux plug-in's process is confined by the kernel (see
  // platform/Confinement.h) and gets a reduced environment. It then reads
  // the one picture it decodes by name, so that a picture of another file
  // starts a fresh process.
  bool confine = true;
};

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
  std::string StartObstacle() const;

  // Starts the process and loads the plug-in, unless that is done. Raises
  // EPluginStartFailed, or ESPIFOpenErrorSPI when the plug-in does not load
  // (LoadFailure() then holds the loader's reason).
  void Start();
  const std::string& LoadFailure() const { return load_failure_; }
  // The running process's id (for measurements); -1 when none runs.
  pid_t ProcessId() const { return process_.Pid(); }
  // Whether the running process's blocks are read in place.
  bool BlocksInPlace() const { return in_place_; }
  // Whether a 32-bit DLL runs through Wine's 64-bit loader: where 32-bit
  // Wine's loader is missing or the machine cannot run it, Wine runs the
  // 32-bit code itself, given its 32-bit Windows DLLs. The bridge is then
  // not the process started but one that Wine starts, so its blocks always
  // come through the pipe.
  bool Through64BitLoader() const { return through_loader64_; }
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
  struct Input;

  void StartProcess();
  // The loader that starts the bridge of this Windows DLL.
  const std::string& WineLoader() const;
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
  // A block handed over in a memory file, opened, waiting to be taken.
  struct SharedPending {
    UniqueFd file;
    size_t size;
    SpiHandle* target;
  };
  // Reads a block of the RESULT (its 20-byte description at `field`) into a
  // new local-memory handle; false when there is no room for it here. A
  // shared block is opened and left in `shared` for TakeBlocks.
  bool ReadBlock(const uint8_t* field, SpiHandle& handle, uint32_t& left,
                 std::vector<SharedPending>& shared);
  // Tells the process that its blocks have been read (in place) or opened
  // (shared), and takes the shared ones; false when there is no room for
  // one of them.
  bool TakeBlocks(std::vector<SharedPending>& shared, bool in_place_read);
  // Copies `size` bytes at `address` in the process into `target`.
  void ReadInPlace(uint64_t address, void* target, size_t size);
  // Tells the process that the blocks it keeps in place have been read.
  void ReleaseBlocks();
  int32_t PictureCall(uint32_t type, const char* buf, intptr_t len, uint32_t flag,
                      SpiHandle* hbinfo, SpiHandle* hbm, SpiProgressCallback progress,
                      intptr_t data);
  // Ends the process after a failure of the channel, or after it reported a
  // fault, and raises the error that says what happened.
  [[noreturn]] void Fail(const ChannelFailure& failure);
  [[noreturn]] void FailWithFault(uint32_t code);
  // Forgets the process's state after it has ended.
  void Forget();
  // Ends the process (process_.End) and, after the last Windows plug-in
  // process of the program, what runs in Wine's prefix.
  std::string EndProcess(std::chrono::milliseconds grace);
  // The limit of one call in all, however often it reports progress.
  int CallLimitSeconds() const;
  void DropKeptInput();
  std::string ProgramPath(const char* name) const;

  std::string plugin_file_;
  PluginProcessOptions options_;
  PeMachine machine_;
  ChildProcess process_;
  std::unique_ptr<MessageChannel> channel_;
  std::unique_ptr<WindowsFileNames> names_;
  uint32_t code_page_ = 0;
  bool in_place_ = false;
  bool shared_ = false;  // large blocks come in memory files
  bool through_loader64_ = false;
  uint32_t exports_ = 0;
  std::string load_failure_;
  std::string picture_;      // the file a confined process may read
  std::string wine_server_;  // of the loader that runs the bridge
  std::string wine_prefix_;
  bool uses_prefix_ = false;  // UseWinePrefix was called for the process
  // The memory input that the process holds: where it was in the caller's
  // memory, and a copy to tell whether the caller's bytes are still the same.
  uintptr_t kept_address_ = 0;
  std::vector<uint8_t> kept_;
  bool holds_input_ = false;
};

}  // namespace kevrale
