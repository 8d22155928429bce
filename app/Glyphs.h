// The two glyphs of the tool bar, drawn for this program at 16 x 16.
#pragma once

#include <QIcon>

namespace kevrale {

QIcon OpenGlyph();  // an opened folder
QIcon RunGlyph();   // a thick stroke that ends as a thin line, with a play mark

}  // namespace kevrale
