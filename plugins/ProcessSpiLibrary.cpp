#include "plugins/ProcessSpiLibrary.h"

#include <algorithm>
#include <cstring>

#include "ipc/PluginProcessErrors.h"
#include "platform/Folders.h"
#include "platform/Format.h"
#include "runner/SpiProtocol.h"

namespace kevrale {

static_assert(uint32_t(SpiEntry::GetPluginInfo) == SPI_EXPORTS_GETPLUGININFO &&
                  uint32_t(SpiEntry::ConfigurationDlg) == SPI_EXPORTS_CONFIGURATIONDLG &&
                  uint32_t(SpiEntry::IsSupported) == SPI_EXPORTS_ISSUPPORTED &&
                  uint32_t(SpiEntry::GetPictureInfo) == SPI_EXPORTS_GETPICTUREINFO &&
                  uint32_t(SpiEntry::GetPicture) == SPI_EXPORTS_GETPICTURE &&
                  uint32_t(SpiEntry::GetPreview) == SPI_EXPORTS_GETPREVIEW &&
                  uint32_t(SpiEntry::GetArchiveInfo) == SPI_EXPORTS_GETARCHIVEINFO &&
                  uint32_t(SpiEntry::GetFileInfo) == SPI_EXPORTS_GETFILEINFO &&
                  uint32_t(SpiEntry::GetFile) == SPI_EXPORTS_GETFILE,
              "the export bits of the protocol are those of SpiEntry");

ProcessSpiLibrary::ProcessSpiLibrary(std::string file_name, PluginProcessOptions options,
                                     std::shared_ptr<const PluginInfoCache> cache)
    : file_name_(std::move(file_name)),
      options_(std::move(options)),
      cache_(std::move(cache)),
      machine_(ReadPeMachine(file_name_)) {}

ProcessSpiLibrary::~ProcessSpiLibrary() = default;

std::shared_ptr<ProcessSpiLibrary> ProcessSpiLibrary::Open(
    const std::string& file_name, const PluginProcessOptions& options,
    std::shared_ptr<const PluginInfoCache> cache) {
  // Named as a library loaded in this process names itself, so that one
  // file is one library whichever way it runs.
  std::shared_ptr<ProcessSpiLibrary> library(
      new ProcessSpiLibrary(AbsoluteName(file_name), options, std::move(cache)));
  if (library->cache_ != nullptr) library->cached_ = library->cache_->Find(library->file_name_);
  if (library->cached_ && !library->cached_->Failure.empty())
    throw EPluginStartFailed(library->cached_->Failure +
                                 " (at an earlier start; it is tried "
                                 "again once the file changes)",
                             library->cached_->Failure);
  if (library->cached_) {
    PluginProcess& client = library->Client();
    const std::string obstacle = client.StartObstacle();
    if (!obstacle.empty())
      throw EPluginStartFailed(Format("%s: the plug-in process could not be started: %s",
                                      {library->file_name_, obstacle}),
                               obstacle);
    library->exports_ = library->cached_->Exports;
  } else {
    library->exports_ = library->Client().Exports();
  }
  return library;
}

PluginProcess& ProcessSpiLibrary::Client() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::unique_ptr<PluginProcess>& client = clients_[std::this_thread::get_id()];
  if (client == nullptr) client = std::make_unique<PluginProcess>(file_name_, options_);
  return *client;
}

size_t ProcessSpiLibrary::RunningProcesses() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return size_t(std::count_if(clients_.begin(), clients_.end(),
                              [](const auto& c) { return c.second->IsRunning(); }));
}

bool ProcessSpiLibrary::Exports(SpiEntry entry) const {
  return (exports_ & uint32_t(entry)) != 0;
}

const PluginInfoAnswer* ProcessSpiLibrary::CachedAnswer(int32_t info_no, int32_t buf_len) const {
  if (!cached_) return nullptr;
  for (const PluginInfoAnswer& a : cached_->Answers)
    if (a.InfoNo == info_no && a.BufLen == buf_len) return &a;
  return nullptr;
}

void ProcessSpiLibrary::StoreInCache() const {
  if (cache_ == nullptr || cached_) return;
  PluginInfoRecord record;
  record.Exports = exports_;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    record.Answers = answered_;
  }
  cache_->Store(file_name_, record);
}

void ProcessSpiLibrary::StoreFailure(const std::string& message) const {
  if (cache_ == nullptr) return;
  PluginInfoRecord record;
  record.Failure = message;
  cache_->Store(file_name_, record);
}

int32_t ProcessSpiLibrary::GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) {
  if (const PluginInfoAnswer* a = CachedAnswer(info_no, buf_len)) {
    // The plug-in stored its text and a NUL where the buffer had room.
    if (buf != nullptr && buf_len > 0) {
      const size_t n = std::min(a->Text.size(), size_t(buf_len));
      memcpy(buf, a->Text.data(), n);
      if (n < size_t(buf_len)) buf[n] = '\0';
    }
    return a->Result;
  }
  const int32_t result = Client().GetPluginInfo(info_no, buf, buf_len);
  PluginInfoAnswer answer{info_no, buf_len, result, std::string()};
  if (buf != nullptr && buf_len > 0) answer.Text.assign(buf, strnlen(buf, size_t(buf_len)));
  const std::lock_guard<std::mutex> lock(mutex_);
  const bool known = std::any_of(answered_.begin(), answered_.end(), [&](const auto& a) {
    return a.InfoNo == info_no && a.BufLen == buf_len;
  });
  if (!known) answered_.push_back(std::move(answer));
  return result;
}

int32_t ProcessSpiLibrary::IsSupported(const char* file_name, intptr_t dw) {
  return Client().IsSupported(file_name, dw);
}

int32_t ProcessSpiLibrary::GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                          SpiPictureInfo* info) {
  return Client().GetPictureInfo(buf, len, flag, info);
}

int32_t ProcessSpiLibrary::GetPicture(const char* buf, intptr_t len, uint32_t flag,
                                      SpiHandle* hbinfo, SpiHandle* hbm,
                                      SpiProgressCallback progress, intptr_t data) {
  return Client().GetPicture(buf, len, flag, hbinfo, hbm, progress, data);
}

int32_t ProcessSpiLibrary::GetPreview(const char* buf, intptr_t len, uint32_t flag,
                                      SpiHandle* hbinfo, SpiHandle* hbm,
                                      SpiProgressCallback progress, intptr_t data) {
  return Client().GetPreview(buf, len, flag, hbinfo, hbm, progress, data);
}

void ProcessSpiLibrary::ForgetInput() {
  PluginProcess* client = nullptr;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = clients_.find(std::this_thread::get_id());
    if (it != clients_.end()) client = it->second.get();
  }
  // Clients stay until the library goes; only this thread uses its own.
  if (client != nullptr) client->ForgetMemoryInput();
}

}  // namespace kevrale
