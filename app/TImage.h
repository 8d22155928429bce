// The image control: shows the picture unscaled at its top-left corner and
// takes the picture's size whenever both sides are above 0 (an empty picture
// leaves the control as large as it was). A point of the control is the
// pixel of the same coordinates.
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
  // The picture as it is drawn now.
  const QImage& ShownImage();

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
