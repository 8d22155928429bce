// The image control: shows the picture at its top-left corner, unscaled at
// first, and takes the picture's size (times the zoom factor) whenever both
// sides are above 0 (an empty picture leaves the control as large as it
// was). A point of the control is the pixel under it, the pixel of the same
// coordinates at 100 %. A picture with transparency is drawn over a light
// checkerboard, so that transparent pixels show as such.
#pragma once

#include <functional>
#include <vector>

#include <QImage>
#include <QWidget>

namespace kevrale {

class TPicture;

class TImage : public QWidget {
  Q_OBJECT
 public:
  explicit TImage(QWidget* parent = nullptr);

  void SetPicture(const TPicture* picture);
  // Called whenever the picture changes: sizes the control and schedules a
  // repaint. Cheap, as the thinning run calls it for every pixel it writes.
  void PictureChanged();
  // The picture as it is drawn now, before the checkerboard, unscaled.
  const QImage& ShownImage();

  // The zoom factor, kMinZoom to kMaxZoom: above 1 every pixel is drawn as
  // a sharp square, below 1 the picture is drawn smoothed. Only the part
  // that needs painting is drawn, at any factor.
  double Zoom() const { return zoom_; }
  void SetZoom(double zoom);
  static constexpr double kMinZoom = 0.125;
  static constexpr double kMaxZoom = 32;
  // The picture pixel under a point of the control: the one whose square
  // holds the centre of the screen pixel at `at` (may lie outside the
  // picture).
  QPoint PixelAt(QPointF at) const;

  // The checkerboard: squares of kCheckerSize pixels in two light greys,
  // the square at the picture's top-left corner in kCheckerLight.
  static constexpr int kCheckerSize = 8;
  static constexpr QRgb kCheckerLight = 0xFFFFFFFF;
  static constexpr QRgb kCheckerDark = 0xFFCCCCCC;

  std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y)>
      OnMouseDown;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // The control's size for the picture at the zoom factor.
  QSize ZoomedSize(int width, int height) const;
  // The picture halved `level` times (smoothed), made when first needed.
  const QImage& Reduced(int level);

  const TPicture* picture_ = nullptr;
  QImage shown_;
  bool stale_ = true;
  double zoom_ = 1;
  std::vector<QImage> reduced_;
};

}  // namespace kevrale
