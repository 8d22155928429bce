#include "app/TToolBar.h"

#include <QPainter>
#include <QToolButton>

namespace kevrale {

namespace {
// The buttons stand between the two edge lines, each two pixels high.
constexpr int kEdge = 2;
}  // namespace

TToolBar::TToolBar(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kHeight);
}

QToolButton* TToolBar::AddButton(const QString& name, const QIcon& glyph, const QString& hint) {
  auto* button = new QToolButton(this);
  button->setObjectName(name);
  button->setAutoRaise(true);
  button->setIcon(glyph);
  button->setIconSize(QSize(16, 16));
  button->setToolTip(hint);
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(next_x_, kEdge, kButtonSize, kButtonSize);
  next_x_ += kButtonSize;
  return button;
}

QWidget* TToolBar::AddSeparator(const QString& name, int width) {
  auto* separator = new QWidget(this);
  separator->setObjectName(name);
  separator->setGeometry(next_x_, kEdge, width, kButtonSize);
  next_x_ += width;
  return separator;
}

void TToolBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor shadow = palette().color(QPalette::Dark);
  const QColor light = palette().color(QPalette::Light);
  const int right = width() - 1;
  painter.setPen(shadow);
  painter.drawLine(0, 0, right, 0);
  painter.drawLine(0, height() - 2, right, height() - 2);
  painter.setPen(light);
  painter.drawLine(0, 1, right, 1);
  painter.drawLine(0, height() - 1, right, height() - 1);
}

}  // namespace kevrale
