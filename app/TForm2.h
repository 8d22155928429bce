// The colour settings window: the target colour and the surround colour as
// the brush colours of two swatches, the buttons that start a pick from the
// picture, and the colour chooser for the surround colour; below them, how
// near a colour must be to count as the target colour, whether removed
// pixels become transparent, and whether the sweep repeats until the lines
// are thin. Not modal, always on top, no close box: "OK"
// hides it.
#pragma once

#include <QDialog>

#include "app/TColorDialog.h"
#include "platform/Color.h"
#include "thinning/ThinningEngine.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace kevrale {

class TShape;

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  TColor TargetColor() const;
  TColor SurroundColor() const;
  // The tolerance, the transparent surround and the repeated sweeps as they
  // are set now; like the two colours they live for the program's run.
  ThinningOptions Options() const;

  // "対象色" and "周辺色": the next press on the picture fills that swatch.
  void Button1Click();
  void Button2Click();
  // "OK": no pick pending any more; the window hides.
  void Button3Click();
  // "ﾊﾟﾚｯﾄ": the colour chooser; a confirmed colour becomes the surround
  // colour. A pending pick is left alone.
  void Button4Click();
  // A pick on the picture has ended: "OK" takes the focus and the window the
  // keyboard, so that Enter closes it.
  void PickEnded();

  QLabel* Label1;
  QLabel* Label2;
  QPushButton* Button1;
  TShape* Shape1;
  QPushButton* Button2;
  TShape* Shape2;
  QPushButton* Button4;
  QPushButton* Button3;
  // The row below: "許容差" 0..255, "周辺色を透明にする" and
  // "細くなるまで繰り返す" (sweeps until one removes nothing).
  QLabel* ToleranceLabel;
  QSpinBox* ToleranceSpin;
  QCheckBox* TransparentSurroundCheck;
  QCheckBox* RepeatSweepsCheck;
  TColorDialog ColorDialog1;

  // The client area without the row below, and the row's height.
  static constexpr QSize kColourArea{165, 182};
  static constexpr int kOptionsRowHeight = 88;

 protected:
  void showEvent(QShowEvent* event) override;
  // Escape does not close the window; "OK" does.
  void reject() override {}
};

}  // namespace kevrale
