// Zooming the main window's view of the picture: Ctrl + mouse wheel, and
// Ctrl + "+", Ctrl + "-" and Ctrl + "0" on the window, from 1/8 to 32 times
// by steps of the square root of 2, keeping the picture pixel under the
// mouse (or, with the mouse elsewhere, under the middle of the scroll box)
// in place. A short note in the scroll box's top-left corner shows the new
// factor for a moment. Neither the menus nor the tool bar change.
#pragma once

#include <QObject>
#include <QPoint>
#include <QTimer>

class QLabel;
class QScrollArea;
class QWidget;

namespace kevrale {

class TImage;

class ZoomView : public QObject {
  Q_OBJECT
 public:
  // `window` takes the keys; the view is `image` in `area`.
  ZoomView(QWidget* window, QScrollArea* area, TImage* image);

  double Zoom() const;
  // Sets the factor (kept within the image's limits) so that the picture
  // point under `anchor`, a point of the scroll box's viewport, stays there,
  // and shows the note.
  void ZoomAt(double zoom, QPoint anchor);
  // `steps` steps up (above 0) or down from the current factor.
  void Step(int steps, QPoint anchor);
  // Back to 100 % without a note, for a new picture.
  void Reset();
  // Where a key zooms around: the mouse when it is over the viewport, else
  // the middle of the viewport.
  QPoint KeyAnchor() const;

  // The factor after `zoom` going `steps` steps along 2^(k/2); a factor
  // between two steps goes to the next one in that direction.
  static double NextZoom(double zoom, int steps);
  // The note's text: "100%", "141%", "12.5%".
  static QString ZoomText(double zoom);

  // The note, shown after a zoom for kNoteMilliseconds.
  QLabel* Note;
  static constexpr int kNoteMilliseconds = 1200;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QScrollArea* area_;
  TImage* image_;
  QTimer note_timer_;
  // Wheel turns below one notch, kept until they add up to one.
  int wheel_rest_ = 0;
};

}  // namespace kevrale
