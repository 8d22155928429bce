// Shows the busy cursor for as long as it lives and the default cursor
// afterwards, also when the work it guards fails.
#pragma once

#include "desktop/ScreenCursor.h"

namespace kevrale {

class BusyCursor {
 public:
  BusyCursor() { ScreenCursor::Instance().SetCursor(crHourGlass); }
  ~BusyCursor() { ScreenCursor::Instance().SetCursor(crDefault); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace kevrale
