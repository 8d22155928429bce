// Starting the process of one plug-in: the native runner for a Linux
// plug-in, the Windows bridge under Wine for a Windows DLL (chosen by the
// file's header), with its command line, environment, address-space limit
// and confinement, and the message channel to it. What the process says
// once it runs is its client's business (PluginProcess).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "ipc/ChildProcess.h"
#include "ipc/PeMachine.h"
#include "ipc/WineSetup.h"

namespace kevrale {

class MessageChannel;

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

class PluginLauncher {
 public:
  // `plugin_file`, `machine` and `options` belong to the caller and outlive
  // the launcher.
  PluginLauncher(const std::string& plugin_file, const PeMachine& machine,
                 const PluginProcessOptions& options)
      : plugin_file_(plugin_file), machine_(machine), options_(options) {}
  PluginLauncher(const PluginLauncher&) = delete;
  PluginLauncher& operator=(const PluginLauncher&) = delete;

  // Why the process cannot be started here (its program or Wine is
  // missing), found without starting anything; empty when nothing stands
  // in the way that can be seen beforehand.
  std::string StartObstacle() const;

  // Starts the process; a confined native one may read `picture` besides
  // the plug-in (empty: nothing else). Returns the channel to it, or
  // nullptr with the reason in `reason`.
  std::unique_ptr<MessageChannel> Launch(const std::string& picture, std::string& reason);

  const ChildProcess& Process() const { return process_; }
  // Whether the plug-in is a Windows DLL, run through Wine.
  bool Windows() const { return machine_.kind != PeMachine::Kind::NotPe; }
  // The program that serves the plug-in: the runner or the bridge.
  std::string ServerPath() const;
  // Whether a 32-bit DLL runs through Wine's 64-bit loader: where 32-bit
  // Wine's loader is missing or the machine cannot run it, Wine runs the
  // 32-bit code itself, given its 32-bit Windows DLLs.
  bool Through64BitLoader() const { return through_loader64_; }

  // Ends the process (ChildProcess::End) and, after the last Windows
  // plug-in process of the program, what runs in Wine's prefix.
  std::string End(std::chrono::milliseconds grace);

 private:
  std::string ProgramPath(const char* name) const;
  // The loader that starts the bridge of this Windows DLL.
  const std::string& WineLoader() const;

  const std::string& plugin_file_;
  const PeMachine& machine_;
  const PluginProcessOptions& options_;
  ChildProcess process_;
  bool through_loader64_ = false;
  std::string wine_server_;  // of the loader that runs the bridge
  std::string wine_prefix_;
  bool uses_prefix_ = false;  // UseWinePrefix was called for the process
};

}  // namespace kevrale
