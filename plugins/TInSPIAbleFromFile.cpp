#include "plugins/TInSPIAbleFromFile.h"

#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {

void TInSPIAbleFromFile::ReadHead(uint8_t* buffer, size_t count) {
  try {
    TFileStream file(SourceName(), TFileStream::Mode::Read);
    size_t done = 0;
    while (done < count) {
      const size_t n = file.Read(buffer + done, count - done);
      if (n == 0) break;  // the end of the file
      done += n;
    }
  } catch (const EStreamError& error) {
    // The plug-ins are asked all the same; GetPicture reads the file itself.
    NoteUnreadable(error);
  }
}

}  // namespace kevrale
