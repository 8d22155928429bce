#include "desktop/ScreenCursor.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kevrale {

namespace {

// An arrow pointer with its tip at (0, 0), drawn white on black like the
// desktop's own arrow.
void DrawArrow(QPainter& p) {
  QPainterPath arrow;
  arrow.moveTo(0.5, 0.5);
  arrow.lineTo(0.5, 15.5);
  arrow.lineTo(4.5, 11.5);
  arrow.lineTo(7.5, 17.5);
  arrow.lineTo(9.5, 16.5);
  arrow.lineTo(6.5, 10.5);
  arrow.lineTo(11.5, 10.5);
  arrow.closeSubpath();
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawPath(arrow);
}

// A small sheet of paper below the arrow: what the pointer "carries".
void DrawSheet(QPainter& p, int x, int y) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(x + 0.5, y + 0.5, 9, 11));
  p.drawLine(QPointF(x + 2.5, y + 3.5), QPointF(x + 7.5, y + 3.5));
  p.drawLine(QPointF(x + 2.5, y + 6.5), QPointF(x + 7.5, y + 6.5));
}

QCursor DragCursor(int sheets) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  DrawArrow(p);
  // Several sheets are drawn back to front, each a little up and left.
  for (int i = sheets - 1; i >= 0; --i) DrawSheet(p, 8 + 3 * i, 18 - 3 * i);
  p.end();
  return QCursor(pixmap, 0, 0);
}

}  // namespace

ScreenCursor& ScreenCursor::Instance() {
  static ScreenCursor instance;
  return instance;
}

QCursor ScreenCursor::ShapeOf(TCursor cursor) {
  switch (cursor) {
    case crDefault:
      return QCursor(Qt::ArrowCursor);
    case crHourGlass:
      return QCursor(Qt::WaitCursor);
    case crDrag:
      return DragCursor(1);
    case crMultiDrag:
      return DragCursor(3);
    default:
      return QCursor(Qt::ArrowCursor);
  }
}

void ScreenCursor::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (cursor == crDefault) {
    if (overriding_) QGuiApplication::restoreOverrideCursor();
    overriding_ = false;
    return;
  }
  if (overriding_) {
    QGuiApplication::changeOverrideCursor(ShapeOf(cursor));
  } else {
    QGuiApplication::setOverrideCursor(ShapeOf(cursor));
    overriding_ = true;
  }
}

}  // namespace kevrale
