#include "desktop/DialogOwner.h"

#include <QApplication>
#include <QWidget>

namespace kevrale {

namespace {

bool StaysOnTop(const QWidget* window) {
  return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// A window on top that the user can see: a minimised one covers nothing, and
// a box that belonged to it would be minimised with it.
bool ShownOnTop(const QWidget* window) {
  const Qt::WindowType type = window->windowType();
  return (type == Qt::Window || type == Qt::Dialog || type == Qt::Tool) && StaysOnTop(window) &&
         window->isVisible() && !window->isMinimized();
}

}  // namespace

QWidget* DialogOwner(QWidget* requested) {
  QWidget* base = requested != nullptr ? requested->window() : QApplication::activeWindow();
  if (base != nullptr && ShownOnTop(base)) return base;
  QWidget* active = QApplication::activeWindow();
  if (active != nullptr && ShownOnTop(active)) return active;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (ShownOnTop(window)) return window;
  if (base != nullptr) return base;
  // No window is active just after a dialog has closed, until the window
  // manager activates the next one: the box is then the main window's.
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->windowType() == Qt::Window && window->isVisible()) return window;
  return nullptr;
}

void StayAboveOwner(QWidget& box) {
  const QWidget* owner = box.parentWidget();
  if (owner != nullptr && StaysOnTop(owner->window()))
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

}  // namespace kevrale
