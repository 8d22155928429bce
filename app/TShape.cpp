#include "app/TShape.h"

#include <QPainter>

namespace kevrale {

TShape::TShape(TColor brush, QWidget* parent) : QWidget(parent), brush_(brush) {}

void TShape::SetBrushColor(TColor color) {
  brush_ = color;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(QColor(GetRValue(brush_), GetGValue(brush_), GetBValue(brush_)));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace kevrale
