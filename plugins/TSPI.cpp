#include "plugins/TSPI.h"

#include <cstring>

#include "platform/Format.h"
#include "plugins/SPIExceptions.h"

namespace kevrale {

namespace {

// The information buffer: 256 bytes, of which the plug-in is offered 255.
constexpr int32_t kInfoBufferSize = 256;
constexpr int32_t kInfoOffered = 255;

}  // namespace

const TSPIClassInfo TSPI::Class("TSPI", nullptr, &MakeInstance<TSPI, TSPI, const SpiSource&>);

TSPI::TSPI(const SpiSource& source) : TSPI(source, &TSPI::Checks) {}

TSPI::TSPI(const SpiSource& source, Checker check)
    : library_(source.Open()), file_name_(library_->FileName()) {
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
  Require(spi, SpiEntry::GetPluginInfo, "GetPluginInfo");
}

void TSPI::Require(const TSPI& spi, SpiEntry entry, const char* api) {
  if (!spi.Exports(entry))
    throw ESPIInvalidAPI(Format("%sは[%s]では使えないSusie Plugin APIです", {api, spi.file_name_}));
}

int32_t TSPI::GetPluginInfo(int32_t info_no, char* buf, int32_t buf_len) const {
  Require(*this, SpiEntry::GetPluginInfo, "GetPluginInfo");
  return library_->GetPluginInfo(info_no, buf, buf_len);
}

bool TSPI::ReadInfo(int32_t info_no, std::string& text) const {
  char buffer[kInfoBufferSize] = {};
  if (GetPluginInfo(info_no, buffer, kInfoOffered) <= 0) return false;
  text.assign(buffer, strnlen(buffer, size_t(kInfoOffered)));
  return true;
}

}  // namespace kevrale
