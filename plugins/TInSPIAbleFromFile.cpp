#include "plugins/TInSPIAbleFromFile.h"

#include "platform/Exception.h"
#include "platform/Stream.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TInSPI.h"

namespace kevrale {

void TInSPIAbleFromFile::ReadHead(uint8_t* buffer, size_t count) {
  try {
    TFileStream file(SourceName(), TFileStream::Mode::Read);
    size_t done = 0;
    while (done < count) {
      const size_t n = file.Read(buffer + done, count - done);
      if (n == 0) break;  // the end of the file, or a read error
      done += n;
    }
  } catch (const EStreamError&) {
    // The plug-ins are asked all the same; GetPicture reads the file itself.
  }
}

void TInSPIAbleFromFile::QueryInfo(const TInSPI& plugin, intptr_t offset, SpiPictureInfo& info,
                                   bool& ok) {
  ok = plugin.GetPictureInfo(SourceName().c_str(), offset, SPI_INPUT_FILE, &info) == 0;
}

void TInSPIAbleFromFile::QueryPicture(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                                      SpiHandle& bits) {
  if (plugin.GetPicture(SourceName().c_str(), offset, SPI_INPUT_FILE, &info, &bits, &PluginProgress,
                        ProgressData()) != 0) {
    info = nullptr;
    bits = nullptr;
  }
}

void TInSPIAbleFromFile::QueryPreview(const TInSPI& plugin, intptr_t offset, SpiHandle& info,
                                      SpiHandle& bits) {
  try {
    if (plugin.GetPreview(SourceName().c_str(), offset, SPI_INPUT_FILE, &info, &bits,
                          &PluginProgress, ProgressData()) == 0)
      return;
  } catch (const ESPIInvalidAPI&) {
    // The plug-in has no GetPreview: there is no preview.
  }
  info = nullptr;
  bits = nullptr;
}

}  // namespace kevrale
