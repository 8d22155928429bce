#include "app/ZoomView.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <QCursor>
#include <QKeySequence>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QWheelEvent>

#include "app/TImage.h"

namespace kevrale {

namespace {

// The factors are 2^(k/2) for k from kLowestStep to kHighestStep.
constexpr int kLowestStep = -6;   // 1/8
constexpr int kHighestStep = 10;  // 32
constexpr int kWheelNotch = 120;

double StepZoom(int k) {
  const double power = std::ldexp(1.0, (k - (k & 1)) / 2);
  return (k & 1) != 0 ? power * std::sqrt(2.0) : power;
}

// The scroll position that puts `point` (a picture coordinate) at `centre`
// (a viewport coordinate) at the factor `zoom`, as near as whole screen
// pixels allow, and in any case within the same picture pixel.
int KeptScroll(double point, double zoom, double centre) {
  const int pixel = int(std::floor(point));
  int scroll = int(std::lround(point * zoom - centre));
  while (std::floor((centre + scroll) / zoom) > pixel) --scroll;
  while (std::floor((centre + scroll) / zoom) < pixel) ++scroll;
  return scroll;
}

void AddShortcut(QWidget* window, const QList<QKeySequence>& keys,
                 const std::function<void()>& action) {
  auto* shortcut = new QShortcut(window);
  shortcut->setKeys(keys);
  shortcut->setContext(Qt::WindowShortcut);
  QObject::connect(shortcut, &QShortcut::activated, window, action);
  // The same keys written two ways ("Ctrl++" and "Ctrl+Shift++" for the key
  // that needs Shift) may both match one press.
  QObject::connect(shortcut, &QShortcut::activatedAmbiguously, window, action);
}

}  // namespace

ZoomView::ZoomView(QWidget* window, QScrollArea* area, TImage* image)
    : QObject(window), area_(area), image_(image) {
  setObjectName(QStringLiteral("ZoomView"));
  Note = new QLabel(area);
  Note->setObjectName(QStringLiteral("ZoomNote"));
  Note->setAutoFillBackground(true);
  Note->setMargin(4);
  Note->setFrameShape(QFrame::Box);
  Note->hide();
  note_timer_.setSingleShot(true);
  connect(&note_timer_, &QTimer::timeout, Note, &QWidget::hide);
  area_->viewport()->installEventFilter(this);

  AddShortcut(
      window,
      {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Plus),
       QKeySequence(Qt::CTRL | Qt::Key_Equal),
       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Semicolon)},
      [this] { Step(1, KeyAnchor()); });
  AddShortcut(window, {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { Step(-1, KeyAnchor()); });
  AddShortcut(window, {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { ZoomAt(1, KeyAnchor()); });
}

double ZoomView::Zoom() const {
  return image_->Zoom();
}

double ZoomView::NextZoom(double zoom, int steps) {
  if (!(zoom > 0)) zoom = 1;
  const double exact = 2 * std::log2(zoom);
  const double nearest = std::round(exact);
  const bool on_step = std::abs(exact - nearest) < 1e-6;
  int k = int(on_step ? nearest : steps > 0 ? std::floor(exact) : std::ceil(exact)) + steps;
  k = std::clamp(k, kLowestStep, kHighestStep);
  return StepZoom(k);
}

QString ZoomView::ZoomText(double zoom) {
  const double percent = zoom * 100;
  if (percent >= 100) return QString::number(std::lround(percent)) + QLatin1Char('%');
  return QString::number(percent, 'g', 3) + QLatin1Char('%');
}

void ZoomView::ZoomAt(double zoom, QPoint anchor) {
  const double before = image_->Zoom();
  QScrollBar* horizontal = area_->horizontalScrollBar();
  QScrollBar* vertical = area_->verticalScrollBar();
  // The picture point under the middle of the anchor's screen pixel; the
  // image sits at minus the scroll position in the viewport.
  const QPointF centre = QPointF(anchor) + QPointF(0.5, 0.5);
  const double x = (centre.x() - image_->x()) / before;
  const double y = (centre.y() - image_->y()) / before;
  image_->SetZoom(zoom);
  const double after = image_->Zoom();
  horizontal->setValue(KeptScroll(x, after, centre.x()));
  vertical->setValue(KeptScroll(y, after, centre.y()));
  Note->setText(ZoomText(after));
  Note->adjustSize();
  const QRect viewport = area_->viewport()->geometry();
  Note->move(viewport.topLeft() + QPoint(6, 6));
  Note->raise();
  Note->show();
  note_timer_.start(kNoteMilliseconds);
}

void ZoomView::Step(int steps, QPoint anchor) {
  ZoomAt(NextZoom(image_->Zoom(), steps), anchor);
}

void ZoomView::Reset() {
  image_->SetZoom(1);
  wheel_rest_ = 0;
}

QPoint ZoomView::KeyAnchor() const {
  const QWidget* viewport = area_->viewport();
  const QPoint mouse = viewport->mapFromGlobal(QCursor::pos());
  return viewport->rect().contains(mouse) ? mouse : viewport->rect().center();
}

bool ZoomView::eventFilter(QObject* watched, QEvent* event) {
  // (The type first: while the scroll box is being destroyed its viewport
  // still sends events, and the box may no longer be asked for anything.)
  if (event->type() == QEvent::Wheel && watched == area_->viewport()) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (wheel->modifiers().testFlag(Qt::ControlModifier)) {
      const QPoint delta = wheel->angleDelta();
      wheel_rest_ += delta.y() != 0 ? delta.y() : delta.x();
      const int steps = wheel_rest_ / kWheelNotch;
      wheel_rest_ -= steps * kWheelNotch;
      if (steps != 0) Step(steps, wheel->position().toPoint());
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace kevrale
