// A font as a label uses it: face, size and style, and the colour of its
// text.
#pragma once

#include <QColor>
#include <QFont>

namespace kevrale {

struct TFont {
  QFont Font;
  QColor Color = Qt::black;

  bool operator==(const TFont& other) const { return Font == other.Font && Color == other.Color; }
};

}  // namespace kevrale
