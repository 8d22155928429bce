#include "app/TImage.h"

#include <QMouseEvent>
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

void TImage::paintEvent(QPaintEvent*) {
  const QImage& image = ShownImage();
  if (image.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

void TImage::mousePressEvent(QMouseEvent* event) {
  event->accept();
  const QPoint at = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

}  // namespace kevrale
