// A file given by name as the data of the import plug-ins: they read it
// themselves (file input), the head once read here for IsSupported.
#pragma once

#include <string>

#include "plugins/TInSPIAbleData.h"

namespace kevrale {

class TInSPIAbleFromFile : public TInSPIAbleData {
 public:
  TInSPIAbleFromFile(TSPIGraphic* owner, TSPIs* host, std::string file_name)
      : TInSPIAbleData(owner, host, std::move(file_name)) {}

 protected:
  // The file's name and the offset of the image in it.
  Input InputAt(intptr_t offset) const override {
    return {SourceName().c_str(), offset, SPI_INPUT_FILE};
  }
  // Reads up to `count` bytes from the start of the file. A file that
  // cannot be opened or read leaves the buffer as it was.
  void ReadHead(uint8_t* buffer, size_t count) override;
};

}  // namespace kevrale
