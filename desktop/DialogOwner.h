// The window that a modal box or dialog is shown for. While a window that
// stays on top of the others is shown (the colour settings), a box shown for
// any other window would open under it, half or wholly unseen, and still
// hold all of the program's input. Such a box therefore belongs to the
// window on top: window managers keep a box above the window it belongs to,
// and the box takes that window's stay-on-top hint as well, for those that
// keep it above only within the same layer.
#pragma once

class QWidget;

namespace kevrale {

// The owner for a box asked for by `requested` (any widget of a window, or
// nullptr for the active window): a shown stay-on-top window if there is
// one, else the window of `requested`, else the shown main window.
QWidget* DialogOwner(QWidget* requested);

// Gives a box that belongs to a stay-on-top window the same hint; call it
// before the box is shown.
void StayAboveOwner(QWidget& box);

}  // namespace kevrale
