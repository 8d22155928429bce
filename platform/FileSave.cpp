#include "platform/FileSave.h"

#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace kevrale {

void SaveFileWith(const std::string& path, const std::function<void(TStream&)>& write) {
  TReplacingFileStream stream(path);
  try {
    write(stream);
  } catch (const EWriteError&) {
    throw EFCreateError(Format("ファイル %s を作成できません", {path}));
  }
  stream.Commit();
}

}  // namespace kevrale
