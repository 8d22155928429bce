// A plug-in library loaded into this process: its entry points bound by
// their exported names and called directly.
#pragma once

#include <string>

#include "platform/DynamicLibrary.h"
#include "plugins/SpiLibrary.h"

namespace kevrale {

class LoadedSpiLibrary : public SpiLibrary {
 public:
  // Loads the library; ESPIFOpenErrorSPI naming `file_name` as given, with
  // the loader's reason, when it cannot.
  explicit LoadedSpiLibrary(const std::string& file_name);

  const std::string& FileName() const override { return file_name_; }
  void* Handle() const override { return library_.Handle(); }
  bool Exports(SpiEntry entry) const override;

  int32_t GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) override;
  int32_t IsSupported(const char* file_name, intptr_t dw) override;
  int32_t GetPictureInfo(const char* buf, intptr_t len, uint32_t flag,
                         SpiPictureInfo* info) override;
  int32_t GetPicture(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) override;
  int32_t GetPreview(const char* buf, intptr_t len, uint32_t flag, SpiHandle* hbinfo,
                     SpiHandle* hbm, SpiProgressCallback progress, intptr_t data) override;

 private:
  DynamicLibrary library_;
  std::string file_name_;
  SpiGetPluginInfoFunc get_plugin_info_ = nullptr;
  SpiIsSupportedFunc is_supported_ = nullptr;
  SpiGetPictureInfoFunc get_picture_info_ = nullptr;
  SpiGetPictureFunc get_picture_ = nullptr;
  SpiGetPreviewFunc get_preview_ = nullptr;
  uint32_t exports_ = 0;  // SpiEntry bits
};

}  // namespace kevrale
