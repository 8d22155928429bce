// The frame that the window manager draws around a window.
#pragma once

class QWidget;

namespace kevrale {

// Asks for a dialog frame with a title bar to move the window by and no
// buttons in it: no close box, no minimise or maximise. Qt's window flags
// cannot ask for that (without a button flag they leave every function to
// the window manager), so the request is written as the Motif window
// manager hints that window managers read on X11. Call it each time before
// the window is shown; elsewhere it does nothing. Some window managers keep
// their buttons whatever a window asks.
void RequestFrameWithoutButtons(QWidget& window);

}  // namespace kevrale
