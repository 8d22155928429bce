#include "plugins/TSPI.h"

#include <cstring>

#include "platform/Format.h"
#include "plugins/SPIExceptions.h"

namespace kevrale {

namespace {

// The information buffer: 256 bytes, of which the plug-in is offered 255.
constexpr int32_t kInfoBufferSize = 256;
constexpr int32_t kInfoOffered = 255;

template <class F>
void Bind(const DynamicLibrary& library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(library.Symbol(name));
}

}  // namespace

const TSPIClassInfo TSPI::Class("TSPI", nullptr, &MakeInstance<TSPI, TSPI, const std::string&>);

TSPI::TSPI(const std::string& file_name) : TSPI(file_name, &TSPI::Checks) {}

TSPI::TSPI(const std::string& file_name, Checker check) {
  std::string loader_error;
  library_ = DynamicLibrary::Open(file_name, &loader_error);
  // The loader's own text (a missing dependency, a wrong machine type) is
  // kept beside the message.
  if (!library_)
    throw ESPIFOpenErrorSPI(Format("%s:Susie Pluginがロードできませんでした", {file_name}),
                            loader_error);
  file_name_ = library_.Path();
  if (file_name_.empty()) file_name_ = file_name;

  Bind(library_, "GetPluginInfo", entry_points_.GetPluginInfo);
  Bind(library_, "ConfigurationDlg", entry_points_.ConfigurationDlg);
  Bind(library_, "IsSupported", entry_points_.IsSupported);
  Bind(library_, "GetPictureInfo", entry_points_.GetPictureInfo);
  Bind(library_, "GetPicture", entry_points_.GetPicture);
  Bind(library_, "GetPreview", entry_points_.GetPreview);
  Bind(library_, "GetArchiveInfo", entry_points_.GetArchiveInfo);
  Bind(library_, "GetFileInfo", entry_points_.GetFileInfo);
  Bind(library_, "GetFile", entry_points_.GetFile);

  check(*this);

  ReadInfo(0, api_version_);
  ReadInfo(1, plugin_name_);
  std::string filter;
  std::string description;
  for (int32_t n = 2; extensions_.size() < size_t(kMaxFilterPairs); n += 2) {
    if (!ReadInfo(n, filter) || !ReadInfo(n + 1, description)) break;
    extensions_.push_back(filter);
    descriptions_.push_back(description);
  }
}

TSPI::~TSPI() = default;

void TSPI::CheckAPIs() const {
  Checks(*this);
}

void TSPI::Checks(const TSPI& spi) {
  Require(spi, spi.entry_points_.GetPluginInfo != nullptr, "GetPluginInfo");
}

void TSPI::Require(const TSPI& spi, bool present, const char* api) {
  if (!present)
    throw ESPIInvalidAPI(Format("%sは[%s]では使えないSusie Plugin APIです", {api, spi.file_name_}));
}

int32_t TSPI::GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) const {
  Require(*this, entry_points_.GetPluginInfo != nullptr, "GetPluginInfo");
  return entry_points_.GetPluginInfo(info_no, buf, buf_len);
}

bool TSPI::ReadInfo(int32_t info_no, std::string& text) const {
  char buffer[kInfoBufferSize] = {};
  if (GetPluginInfo(info_no, buffer, kInfoOffered) <= 0) return false;
  text.assign(buffer, strnlen(buffer, size_t(kInfoOffered)));
  return true;
}

}  // namespace kevrale
