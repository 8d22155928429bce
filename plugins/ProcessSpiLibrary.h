// A plug-in library served by plug-in processes: the native runner for a
// Linux plug-in, the Windows bridge under Wine for a Windows DLL. Each
// thread that calls it gets a process of its own, so the plug-in is never
// entered by two threads at once; a process stays up until the library is
// released, and one that has failed is started afresh by the next call.
//
// A plug-in whose answers to GetPluginInfo were stored in the cache is not
// started until a call needs it: listing its formats starts no process (and
// no Wine); one that hung or crashed while it was asked is not started at
// all until its file changes.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ipc/PeMachine.h"
#include "ipc/PluginInfoCache.h"
#include "ipc/PluginProcess.h"
#include "plugins/SpiLibrary.h"

namespace kevrale {

class ProcessSpiLibrary : public SpiLibrary {
 public:
  // Opens `file_name` (made absolute) in a plug-in process: the calling
  // thread's process is started and loads the plug-in, unless the file is
  // a Windows DLL with a record in `cache`. Raises ESPIFOpenErrorSPI when
  // the plug-in does not load in its process and EPluginProcessError when
  // the process cannot be started or fails; a DLL known from the cache
  // raises EPluginStartFailed only for what can be seen without starting
  // it (Wine or the bridge missing).
  static std::shared_ptr<ProcessSpiLibrary> Open(const std::string& file_name,
                                                 const PluginProcessOptions& options,
                                                 std::shared_ptr<const PluginInfoCache> cache);
  ~ProcessSpiLibrary() override;

  const std::string& FileName() const override { return file_name_; }
  bool Exports(SpiEntry entry) const override;
  const PeMachine& Machine() const { return machine_; }
  // Whether the information came from the cache.
  bool FromCache() const { return cached_.has_value(); }
  // The processes running for this library now.
  size_t RunningProcesses() const;

  // Keeps what GetPluginInfo has answered so far in the cache.
  void StoreInCache() const;
  // Keeps in the cache that the plug-in hung or crashed while it was asked
  // (`message` says so), so that the next start does not start it again.
  void StoreFailure(const std::string& message) const;

  int32_t GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) override;
  int32_t IsSupported(const char* file_name, intptr_t dw) override;
  int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                         SpiPictureInfo* info) override;
  int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) override;
  int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) override;
  void ForgetInput() override;

 private:
  ProcessSpiLibrary(std::string file_name, PluginProcessOptions options,
                    std::shared_ptr<const PluginInfoCache> cache);

  // The calling thread's process client, made on its first call.
  PluginProcess& Client();
  const PluginInfoAnswer* CachedAnswer(int32_t info_no, int32_t buf_len) const;

  std::string file_name_;
  PluginProcessOptions options_;
  std::shared_ptr<const PluginInfoCache> cache_;
  PeMachine machine_;
  uint32_t exports_ = 0;  // SpiEntry bits
  std::optional<PluginInfoRecord> cached_;

  mutable std::mutex mutex_;
  std::unordered_map<std::thread::id, std::unique_ptr<PluginProcess>> clients_;
  std::vector<PluginInfoAnswer> answered_;  // what the plug-in answered, for the cache
};

}  // namespace kevrale
