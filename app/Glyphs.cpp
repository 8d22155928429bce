#include "app/Glyphs.h"

#include <functional>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kevrale {

namespace {

// Paints a glyph, drawn on a 16 x 16 grid, at 16 and at 32 pixels.
QIcon Glyph(const std::function<void(QPainter&)>& draw) {
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon OpenGlyph() {
  return Glyph([](QPainter& p) {
    const QPen outline(QColor(0x60, 0x48, 0x00), 1);
    // The back of the folder with its tab.
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(5.5, 3.5);
    back.lineTo(6.5, 4.5);
    back.lineTo(12.5, 4.5);
    back.lineTo(12.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.setPen(outline);
    p.setBrush(QColor(0xD8, 0xA8, 0x20));
    p.drawPath(back);
    // A sheet standing in the folder.
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 2.5, 7, 8));
    // The opened front flap.
    QPainterPath front;
    front.moveTo(1.5, 13.5);
    front.lineTo(4.5, 7.5);
    front.lineTo(15.5, 7.5);
    front.lineTo(12.5, 13.5);
    front.closeSubpath();
    p.setPen(outline);
    p.setBrush(QColor(0xF8, 0xD8, 0x58));
    p.drawPath(front);
  });
}

QIcon RunGlyph() {
  return Glyph([](QPainter& p) {
    // A thick stroke that narrows to a line one pixel wide ...
    QPainterPath stroke;
    stroke.moveTo(0.5, 4.5);
    stroke.lineTo(4.5, 4.5);
    stroke.lineTo(8.0, 7.5);
    stroke.lineTo(8.0, 8.5);
    stroke.lineTo(4.5, 11.5);
    stroke.lineTo(0.5, 11.5);
    stroke.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x40, 0xA0));
    p.drawPath(stroke);
    p.setPen(QPen(QColor(0x20, 0x40, 0xA0), 1));
    p.drawLine(QPointF(8.0, 8.0), QPointF(10.0, 8.0));
    // ... and the mark that starts it.
    QPainterPath play;
    play.moveTo(9.5, 3.5);
    play.lineTo(15.5, 8.0);
    play.lineTo(9.5, 12.5);
    play.closeSubpath();
    p.setPen(QPen(QColor(0x10, 0x60, 0x10), 1));
    p.setBrush(QColor(0x30, 0xB0, 0x30));
    p.drawPath(play);
  });
}

}  // namespace kevrale
