// A stream as the data of the import plug-ins (memory input). A memory
// stream is used in place; any other stream is copied into memory once.
#pragma once

#include <memory>
#include <string>

#include "plugins/TInSPIAbleData.h"

namespace kevrale {

class TMemoryStream;
class TStream;

class TInSPIAbleFromStream : public TInSPIAbleData {
 public:
  // A stream that is not a TMemoryStream is read whole from its first byte,
  // which leaves it at its end. The memory stream's block must not change
  // while this source lives.
  TInSPIAbleFromStream(TSPIGraphic* owner, TSPIs* host, std::string name, TStream& stream);
  ~TInSPIAbleFromStream() override;

  const uint8_t* Memory() const { return memory_; }
  intptr_t DataSize() const { return data_size_; }
  // The copy of a stream that is not a memory stream; nullptr otherwise.
  const TMemoryStream* OwnCopy() const { return own_copy_.get(); }

 protected:
  // The data's address at the offset and the size from there.
  Input InputAt(intptr_t offset) const override {
    return {reinterpret_cast<const char*>(memory_) + offset, data_size_ - offset, SPI_INPUT_MEMORY};
  }
  void ReadHead(uint8_t* buffer, size_t count) override;
  // Data shorter than the offset gives a negative length: no attempt.
  bool HasDataAt(intptr_t offset) const override { return offset <= data_size_; }

 private:
  const uint8_t* memory_ = nullptr;
  intptr_t data_size_ = 0;
  std::unique_ptr<TMemoryStream> own_copy_;
};

}  // namespace kevrale
