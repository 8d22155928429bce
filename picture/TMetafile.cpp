#include "picture/TMetafile.h"

#include "platform/Exception.h"

namespace kevrale {

const TGraphicClassInfo TMetafile::Class("TMetafile", &TGraphic::Class,
                                         &MakeInstance<TMetafile, TGraphic>);

void TMetafile::LoadFromStream(TStream&) {
  throw EInvalidGraphic("メタファイルは表示できません");
}

}  // namespace kevrale
