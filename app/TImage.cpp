#include "app/TImage.h"

#include <algorithm>
#include <cmath>

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

QSize TImage::ZoomedSize(int width, int height) const {
  if (zoom_ == 1) return QSize(width, height);
  const auto side = [this](int length) {
    return int(std::clamp(std::ceil(length * zoom_), 1.0, double(QWIDGETSIZE_MAX)));
  };
  return QSize(side(width), side(height));
}

void TImage::SetZoom(double zoom) {
  zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
  // A control is at most QWIDGETSIZE_MAX pixels long: a very long picture
  // zooms in only as far as it still fits whole.
  const int longest = picture_ != nullptr ? std::max(picture_->Width(), picture_->Height()) : 0;
  if (zoom > 1 && longest > 0 && longest * zoom > QWIDGETSIZE_MAX)
    zoom = std::max(1.0, std::floor(double(QWIDGETSIZE_MAX) / longest * 1000) / 1000);
  if (zoom == zoom_) return;
  zoom_ = zoom;
  if (picture_ != nullptr && picture_->Width() > 0 && picture_->Height() > 0)
    resize(ZoomedSize(picture_->Width(), picture_->Height()));
  update();
}

QPoint TImage::PixelAt(QPointF at) const {
  if (zoom_ == 1) return at.toPoint();
  return QPoint(int(std::floor((at.x() + 0.5) / zoom_)), int(std::floor((at.y() + 0.5) / zoom_)));
}

void TImage::PictureChanged() {
  if (picture_ != nullptr) {
    const int width = picture_->Width();
    const int height = picture_->Height();
    const QSize size = ZoomedSize(width, height);
    if (width > 0 && height > 0 && size != this->size()) resize(size);
  }
  if (!stale_) {
    stale_ = true;
    update();
  }
}

const QImage& TImage::ShownImage() {
  if (stale_) {
    shown_ = picture_ != nullptr ? PictureToImage(*picture_) : QImage();
    reduced_.clear();
    stale_ = false;
  }
  return shown_;
}

namespace {

// The image at half its width and height (rounded down, at least 1), each
// pixel the mean of a 2 x 2 block, so that a one-pixel line stays visible,
// only lighter. Works on 3- and 4-byte pixels whose bytes average as they
// are (colour channels, or premultiplied colour and alpha).
QImage Halved(const QImage& image) {
  const int width = std::max(1, image.width() / 2);
  const int height = std::max(1, image.height() / 2);
  QImage half(width, height, image.format());
  if (half.isNull()) return half;
  const int bytes = image.depth() / 8;
  const int last_x = image.width() - 1;
  const int last_y = image.height() - 1;
  for (int y = 0; y < height; ++y) {
    const uchar* top = image.constScanLine(std::min(2 * y, last_y));
    const uchar* bottom = image.constScanLine(std::min(2 * y + 1, last_y));
    uchar* out = half.scanLine(y);
    for (int x = 0; x < width; ++x) {
      const int left = std::min(2 * x, last_x) * bytes;
      const int right = std::min(2 * x + 1, last_x) * bytes;
      for (int b = 0; b < bytes; ++b)
        out[x * bytes + b] =
            uchar((top[left + b] + top[right + b] + bottom[left + b] + bottom[right + b] + 2) / 4);
    }
  }
  return half;
}

}  // namespace

const QImage& TImage::Reduced(int level) {
  if (reduced_.empty()) {
    // Colours weighted by their alpha, so that transparent pixels do not
    // darken their neighbours.
    const QImage& shown = ShownImage();
    reduced_.push_back(shown.hasAlphaChannel()
                           ? shown.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                           : shown);
  }
  while (int(reduced_.size()) <= level) reduced_.push_back(Halved(reduced_.back()));
  return reduced_[size_t(level)];
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
  // Only the part that needs painting: the run repaints after every change,
  // and a zoomed picture is mostly outside the scroll box.
  const QSize zoomed = ZoomedSize(image.width(), image.height());
  const QRect area = event->rect() & QRect(QPoint(0, 0), zoomed);
  if (area.isEmpty()) return;
  if (image.hasAlphaChannel()) painter.fillRect(area, CheckerBrush());
  if (zoom_ == 1) {
    painter.drawImage(area.topLeft(), image, area);
    return;
  }
  // Below 100 % from the halving nearest above the factor, smoothed; above
  // it from the picture itself, each pixel a square.
  int level = 0;
  while (level < 3 && zoom_ * double(1 << (level + 1)) <= 1.0 + 1e-9) ++level;
  const QImage& source = zoom_ < 1 ? Reduced(level) : image;
  // The scale from the source's pixels to the control's.
  const double sx = zoom_ * image.width() / source.width();
  const double sy = zoom_ * image.height() / source.height();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ < 1);
  painter.drawImage(QRectF(area), source,
                    QRectF(area.x() / sx, area.y() / sy, area.width() / sx, area.height() / sy));
}

void TImage::mousePressEvent(QMouseEvent* event) {
  event->accept();
  const QPoint at = PixelAt(event->position());
  if (OnMouseDown) OnMouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

}  // namespace kevrale
