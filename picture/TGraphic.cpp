#include "picture/TGraphic.h"

#include "platform/Exception.h"
#include "platform/SaveFileStream.h"
#include "platform/Stream.h"

namespace kevrale {

const TGraphicClassInfo TGraphic::Class("TGraphic", nullptr, nullptr);

void TGraphic::LoadFromFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::Read);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& path) const {
  TSaveFileStream stream(path);
  SaveThrough(stream);
}

void TGraphic::SaveToStandardOutput() const {
  TSaveFileStream stream{TSaveFileStream::StandardOutputTag()};
  SaveThrough(stream);
}

void TGraphic::SaveToStreamFor(TStream& stream, const std::string&) const {
  SaveToStream(stream);
}

void TGraphic::SaveThrough(TSaveFileStream& stream) const {
  try {
    SaveToStreamFor(stream, stream.Path());
  } catch (const EWriteError&) {
    // A full disk or a failing device: the file could not be written.
    throw stream.CreateError();
  }
  stream.Commit();
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent_done, bool redraw_now, const TRect& r,
                        const std::string& msg) {
  if (OnProgress) OnProgress(*this, stage, percent_done, redraw_now, r, msg);
}

}  // namespace kevrale
