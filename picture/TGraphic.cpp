#include "picture/TGraphic.h"

#include "platform/FileSave.h"
#include "platform/Stream.h"

namespace kevrale {

const TGraphicClassInfo TGraphic::Class("TGraphic", nullptr, nullptr);

void TGraphic::LoadFromFile(const std::string& path) {
  TFileStream stream(path, TFileStream::Mode::Read);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& path) const {
  SaveFileWith(path, [this, &path](TStream& stream) { SaveToStreamFor(stream, path); });
}

void TGraphic::SaveToStandardOutput() const {
  SaveStandardOutputWith([this](TStream& stream) { SaveToStreamFor(stream, "-"); });
}

void TGraphic::SaveToStreamFor(TStream& stream, const std::string&) const {
  SaveToStream(stream);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent_done, bool redraw_now, const TRect& r,
                        const std::string& msg) {
  if (OnProgress) OnProgress(*this, stage, percent_done, redraw_now, r, msg);
}

}  // namespace kevrale
