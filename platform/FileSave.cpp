#include "platform/FileSave.h"

#include "platform/Exception.h"
#include "platform/SaveFileStream.h"

namespace kevrale {

namespace {

void WriteAndCommit(TSaveFileStream& stream, const std::function<void(TStream&)>& write) {
  try {
    write(stream);
  } catch (const EWriteError&) {
    // A full disk or a failing device: the file could not be written.
    throw stream.CreateError();
  }
  stream.Commit();
}

}  // namespace

void SaveFileWith(const std::string& path, const std::function<void(TStream&)>& write) {
  TSaveFileStream stream(path);
  WriteAndCommit(stream, write);
}

void SaveStandardOutputWith(const std::function<void(TStream&)>& write) {
  TSaveFileStream stream{TSaveFileStream::StandardOutputTag()};
  WriteAndCommit(stream, write);
}

}  // namespace kevrale
