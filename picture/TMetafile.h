// The metafile kind of the format registry (wmf, emf). Metafiles are
// vector drawings that this program cannot render; loading one is refused
// with a clear message so that the registry's entries stay honest.
#pragma once

#include "picture/TGraphic.h"

namespace kevrale {

class TMetafile : public TGraphic {
 public:
  static const TGraphicClassInfo Class;

  TGraphicClass ClassType() const override { return &Class; }
  int Width() const override { return 0; }
  int Height() const override { return 0; }
  // Raises EInvalidGraphic "メタファイルは表示できません".
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream&) const override {}
  ArgbImage Render() const override { return {}; }
};

}  // namespace kevrale
