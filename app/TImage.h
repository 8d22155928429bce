// The image control: shows the picture unscaled at its top-left corner and
// takes the picture's size whenever both sides are above 0 (an empty picture
// leaves the control as large as it was). A point of the control is the
// pixel of the same coordinates. A picture with transparency is drawn over
// a light checkerboard, so that transparent pixels show as such.
#pragma once

#include <functional>

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
  // The picture as it is drawn now, before the checkerboard.
  const QImage& ShownImage();

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
  const TPicture* picture_ = nullptr;
  QImage shown_;
  bool stale_ = true;
};

}  // namespace kevrale
