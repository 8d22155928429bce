// The colour chooser component: it opens on the colour of its last
// confirmation (black the first time), not on the colour being replaced.
#pragma once

#include "platform/Color.h"

class QWidget;

namespace kevrale {

class TColorDialog {
 public:
  // Shows the chooser; on confirmation Color takes the chosen colour and
  // the result is true.
  bool Execute(QWidget* parent);

  TColor Color = clBlack;
};

}  // namespace kevrale
