#include "app/TImage.h"

#include <QBrush>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "app/PictureImage.h"
#include "picture/TPicture.h"

namespace kevrale {

TImage::TImage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Image"));
  // The size the control has in the layout until a picture gives it another.
  resize(473, 257);
}

void TImage::SetPicture(const TPicture* picture) {
  picture_ = picture;
  PictureChanged();
}

void TImage::PictureChanged() {
  if (picture_ != nullptr) {
    const int width = picture_->Width();
    const int height = picture_->Height();
    if (width > 0 && height > 0 && (width != this->width() || height != this->height()))
      resize(width, height);
  }
  if (!stale_) {
    stale_ = true;
    update();
  }
}

const QImage& TImage::ShownImage() {
  if (stale_) {
    shown_ = picture_ != nullptr ? PictureToImage(*picture_) : QImage();
    stale_ = false;
  }
  return shown_;
}

namespace {

// Two squares of each grey, tiled from the control's top-left corner.
QBrush CheckerBrush() {
  // An image, not a pixmap: it may outlive the application.
  static const QImage tile = [] {
    constexpr int n = TImage::kCheckerSize;
    QImage image(2 * n, 2 * n, QImage::Format_RGB32);
    for (int y = 0; y < 2 * n; ++y)
      for (int x = 0; x < 2 * n; ++x)
        image.setPixel(x, y, (x < n) == (y < n) ? TImage::kCheckerLight : TImage::kCheckerDark);
    return image;
  }();
  return QBrush(tile);
}

}  // namespace

void TImage::paintEvent(QPaintEvent* event) {
  const QImage& image = ShownImage();
  if (image.isNull()) return;
  QPainter painter(this);
  // Only the part that needs painting: the run repaints after every change.
  const QRect area = event->rect() & image.rect();
  if (image.hasAlphaChannel()) painter.fillRect(area, CheckerBrush());
  painter.drawImage(area.topLeft(), image, area);
}

void TImage::mousePressEvent(QMouseEvent* event) {
  event->accept();
  const QPoint at = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

}  // namespace kevrale
