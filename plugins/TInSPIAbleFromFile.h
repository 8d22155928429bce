// A file given by name as the data of the import plug-ins: they read it
// themselves (file input), the head once read here for IsSupported.
#pragma once

#include <string>

#include "plugins/TInSPIAbleData.h"

namespace kevrale {

class TInSPIAbleFromFile : public TInSPIAbleData {
 public:
  TInSPIAbleFromFile(TSPIGraphic* owner, std::string file_name)
      : TInSPIAbleData(owner, std::move(file_name)) {}

 protected:
  // Reads up to `count` bytes from the start of the file. A file that
  // cannot be opened or read leaves the buffer as it was.
  void ReadHead(uint8_t* buffer, size_t count) override;
  void QueryInfo(const TInSPI& plugin, intptr_t offset, SpiPictureInfo& info, bool& ok) override;
  void QueryPreview(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                    SpiHandle& bits) override;
  void QueryPicture(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                    SpiHandle& bits) override;
};

}  // namespace kevrale
