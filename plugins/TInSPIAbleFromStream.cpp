#include "plugins/TInSPIAbleFromStream.h"

#include <algorithm>
#include <cstring>

#include "platform/Stream.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TInSPI.h"

namespace kevrale {

namespace {

// The address handed to a plug-in for empty data: never null.
const uint8_t kNoData[1] = {0};

}  // namespace

TInSPIAbleFromStream::TInSPIAbleFromStream(TSPIGraphic* owner, std::string name, TStream& stream)
    : TInSPIAbleData(owner, std::move(name)) {
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    memory_ = memory->Memory();
  } else {
    own_copy_ = std::make_unique<TMemoryStream>();
    own_copy_->CopyFrom(stream, 0);
    memory_ = own_copy_->Memory();
  }
  data_size_ = intptr_t(stream.Size());
  if (memory_ == nullptr) memory_ = kNoData;
}

// The copy goes first, then the handles (the base).
TInSPIAbleFromStream::~TInSPIAbleFromStream() {
  own_copy_.reset();
}

void TInSPIAbleFromStream::ReadHead(uint8_t* buffer, size_t count) {
  const size_t n = std::min(count, size_t(std::max<intptr_t>(data_size_, 0)));
  if (n > 0) std::memcpy(buffer, memory_, n);
}

void TInSPIAbleFromStream::QueryInfo(const TInSPI& plugin, intptr_t offset, SpiPictureInfo& info,
                                     bool& ok) {
  ok = plugin.GetPictureInfo(At(offset), data_size_ - offset, SPI_INPUT_MEMORY, &info) == 0;
}

void TInSPIAbleFromStream::QueryPicture(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                                        SpiHandle& bits) {
  if (plugin.GetPicture(At(offset), data_size_ - offset, SPI_INPUT_MEMORY, &info, &bits,
                        &PluginProgress, ProgressData()) != 0) {
    info = nullptr;
    bits = nullptr;
  }
}

void TInSPIAbleFromStream::QueryPreview(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                                        SpiHandle& bits) {
  try {
    if (plugin.GetPreview(At(offset), data_size_ - offset, SPI_INPUT_MEMORY, &info, &bits,
                          &PluginProgress, ProgressData()) == 0)
      return;
  } catch (const ESPIInvalidAPI&) {
    // The plug-in has no GetPreview: there is no preview.
  }
  info = nullptr;
  bits = nullptr;
}

}  // namespace kevrale
