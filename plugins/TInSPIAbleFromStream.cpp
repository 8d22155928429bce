#include "plugins/TInSPIAbleFromStream.h"

#include <algorithm>
#include <cstring>

#include "platform/Stream.h"

namespace kevrale {

namespace {

// The address handed to a plug-in for empty data: never null.
const uint8_t kNoData[1] = {0};

}  // namespace

TInSPIAbleFromStream::TInSPIAbleFromStream(TSPIGraphic* owner, TSPIs* host, std::string name,
                                           TStream& stream)
    : TInSPIAbleData(owner, host, std::move(name)) {
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

}  // namespace kevrale
