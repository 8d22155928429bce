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
  TInSPIAbleFromStream(TSPIGraphic* owner, std::string name, TStream& stream);
  ~TInSPIAbleFromStream() override;

  const uint8_t* Memory() const { return memory_; }
  intptr_t DataSize() const { return data_size_; }
  // The copy of a stream that is not a memory stream; nullptr otherwise.
  const TMemoryStream* OwnCopy() const { return own_copy_.get(); }

 protected:
  void ReadHead(uint8_t* buffer, size_t count) override;
  void QueryInfo(const TInSPI& plugin, intptr_t offset, SpiPictureInfo& info, bool& ok) override;
  void QueryPreview(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                    SpiHandle& bits) override;
  void QueryPicture(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                    SpiHandle& bits) override;
  // Data shorter than the offset gives a negative length: no attempt.
  bool HasDataAt(intptr_t offset) const override { return offset <= data_size_; }

 private:
  const char* At(intptr_t offset) const { return reinterpret_cast<const char*>(memory_) + offset; }

  const uint8_t* memory_ = nullptr;
  intptr_t data_size_ = 0;
  std::unique_ptr<TMemoryStream> own_copy_;
};

}  // namespace kevrale
