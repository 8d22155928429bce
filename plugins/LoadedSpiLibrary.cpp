#include "plugins/LoadedSpiLibrary.h"

#include "platform/Format.h"
#include "plugins/SPIExceptions.h"

namespace kevrale {

LoadedSpiLibrary::LoadedSpiLibrary(const std::string& file_name) {
  std::string loader_error;
  library_ = DynamicLibrary::Open(file_name, &loader_error);
  // The loader's own text (a missing dependency, a wrong machine type) is
  // kept beside the message.
  if (!library_)
    throw ESPIFOpenErrorSPI(Format("%s:Susie Pluginがロードできませんでした", {file_name}),
                            loader_error);
  file_name_ = library_.Path();
  if (file_name_.empty()) file_name_ = file_name;

  // Every name is looked up, so that Exports answers for all nine; only
  // the entry points that the host calls are kept.
  const auto bind = [this](const char* name, SpiEntry entry) {
    void* address = library_.Symbol(name);
    if (address != nullptr) exports_ |= uint32_t(entry);
    return address;
  };
  get_plugin_info_ =
      reinterpret_cast<SpiGetPluginInfoFunc>(bind("GetPluginInfo", SpiEntry::GetPluginInfo));
  bind("ConfigurationDlg", SpiEntry::ConfigurationDlg);
  is_supported_ = reinterpret_cast<SpiIsSupportedFunc>(bind("IsSupported", SpiEntry::IsSupported));
  get_picture_info_ =
      reinterpret_cast<SpiGetPictureInfoFunc>(bind("GetPictureInfo", SpiEntry::GetPictureInfo));
  get_picture_ = reinterpret_cast<SpiGetPictureFunc>(bind("GetPicture", SpiEntry::GetPicture));
  get_preview_ = reinterpret_cast<SpiGetPreviewFunc>(bind("GetPreview", SpiEntry::GetPreview));
  bind("GetArchiveInfo", SpiEntry::GetArchiveInfo);
  bind("GetFileInfo", SpiEntry::GetFileInfo);
  bind("GetFile", SpiEntry::GetFile);
}

bool LoadedSpiLibrary::Exports(SpiEntry entry) const {
  return (exports_ & uint32_t(entry)) != 0;
}

int32_t LoadedSpiLibrary::GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) {
  return get_plugin_info_(info_no, buf, buf_len);
}

int32_t LoadedSpiLibrary::IsSupported(const char* file_name, intptr_t dw) {
  return is_supported_(file_name, dw);
}

int32_t LoadedSpiLibrary::GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                                         SpiPictureInfo* info) {
  return get_picture_info_(buf, len, flag, info);
}

int32_t LoadedSpiLibrary::GetPicture(const char* buf, intptr_t len, uint32_t flag,
                                     SpiHandle* hbinfo, SpiHandle* hbm,
                                     SpiProgressCallback progress, intptr_t data) {
  return get_picture_(buf, len, flag, hbinfo, hbm, progress, data);
}

int32_t LoadedSpiLibrary::GetPreview(const char* buf, intptr_t len, uint32_t flag,
                                     SpiHandle* hbinfo, SpiHandle* hbm,
                                     SpiProgressCallback progress, intptr_t data) {
  return get_preview_(buf, len, flag, hbinfo, hbm, progress, data);
}

}  // namespace kevrale
