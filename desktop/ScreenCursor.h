// The application-wide cursor: one cursor code (crDefault, crHourGlass,
// crDrag, crMultiDrag) shown over every window of the program through Qt's
// override cursor. Colour picking reads its pick mode from this value.
#pragma once

#include <QCursor>

#include "platform/Cursor.h"

namespace kevrale {

class ScreenCursor {
 public:
  static ScreenCursor& Instance();

  TCursor Cursor() const { return cursor_; }
  // Shows the shape of `cursor` over all windows; crDefault removes the
  // override so that each widget shows its own shape again.
  void SetCursor(TCursor cursor);

  // The shape shown for a cursor code.
  static QCursor ShapeOf(TCursor cursor);

 private:
  ScreenCursor() = default;

  TCursor cursor_ = crDefault;
  bool overriding_ = false;
};

}  // namespace kevrale
