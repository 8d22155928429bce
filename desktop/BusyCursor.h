// Shows the busy cursor for as long as it lives and the default cursor
// afterwards, also when the work it guards fails.
#pragma once

#include <functional>

#include "desktop/ScreenCursor.h"

namespace kevrale {

class BusyCursor {
 public:
  BusyCursor() { ScreenCursor::Instance().SetCursor(crHourGlass); }
  ~BusyCursor() { ScreenCursor::Instance().SetCursor(crDefault); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// A switch for work that a lower layer announces by its start (true) and
// its end (false), such as making the Wine prefix: the busy cursor in
// between, and afterwards the cursor that was shown before it.
inline std::function<void(bool busy)> BusyCursorSwitch() {
  return [before = crDefault](bool busy) mutable {
    ScreenCursor& cursor = ScreenCursor::Instance();
    if (busy) {
      before = cursor.Cursor();
      cursor.SetCursor(crHourGlass);
    } else {
      cursor.SetCursor(before);
    }
  };
}

}  // namespace kevrale
