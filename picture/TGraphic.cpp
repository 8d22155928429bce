#include "picture/TGraphic.h"

#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace kevrale {

const TGraphicClassInfo TGraphic::Class("TGraphic", nullptr, nullptr);

void TGraphic::LoadFromFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::Read);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& path) const {
  TReplacingFileStream stream(path);
  try {
    SaveToStream(stream);
  } catch (const EWriteError&) {
    // A full disk or a failing device: the file could not be written.
    throw EFCreateError(Format("ファイル %s を作成できません", {path}));
  }
  stream.Commit();
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent_done, bool redraw_now, const TRect& r,
                        const std::string& msg) {
  if (OnProgress) OnProgress(*this, stage, percent_done, redraw_now, r, msg);
}

}  // namespace kevrale
