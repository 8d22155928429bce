#include "app/TForm2.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include "app/ErrorHandler.h"
#include "app/TShape.h"
#include "desktop/ScreenCursor.h"
#include "desktop/UiFont.h"
#include "desktop/WindowFrame.h"

namespace kevrale {

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QPoint at) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(at);
  label->adjustSize();
  return label;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("色の設定"));
  setFont(UiFont(12));
  setModal(false);
  setFixedSize(kColourArea.width(), kColourArea.height() + kOptionsRowHeight);

  Label1 = MakeLabel(this, "Label1", QStringLiteral("対象色は画像から選択"), {8, 8});
  Label2 = MakeLabel(this, "Label2", QStringLiteral("周辺色は画像かﾊﾟﾚｯﾄから"), {8, 32});
  Button1 = MakeButton(this, "Button1", QStringLiteral("対象色"), {8, 64, 73, 25});
  Shape1 = new TShape(clBlack, this);
  Shape1->setObjectName(QStringLiteral("Shape1"));
  Shape1->setGeometry(88, 64, 25, 25);
  Button2 = MakeButton(this, "Button2", QStringLiteral("周辺色"), {8, 104, 73, 25});
  Shape2 = new TShape(clWhite, this);
  Shape2->setObjectName(QStringLiteral("Shape2"));
  Shape2->setGeometry(88, 104, 25, 25);
  Button4 = MakeButton(this, "Button4", QStringLiteral("ﾊﾟﾚｯﾄ"), {120, 104, 41, 25});
  Button3 = MakeButton(this, "Button3", QStringLiteral("OK"), {40, 136, 73, 33});
  // Enter presses "OK" unless another button has the focus.
  Button3->setDefault(true);

  // The row below the colours, in the height the window grew by: the
  // tolerance on one line, the transparent surround and the repeated sweeps
  // on a line each below it.
  const int row = kColourArea.height();
  ToleranceSpin = new QSpinBox(this);
  ToleranceSpin->setObjectName(QStringLiteral("ToleranceSpin"));
  ToleranceSpin->setRange(0, kMaxTolerance);
  ToleranceSpin->setValue(0);
  ToleranceSpin->setGeometry(56, row + 2, 57, 26);
  ToleranceLabel = MakeLabel(this, "ToleranceLabel", QStringLiteral("許容差"), {8, row});
  ToleranceLabel->move(8, ToleranceSpin->geometry().center().y() - ToleranceLabel->height() / 2);
  ToleranceLabel->setBuddy(ToleranceSpin);
  TransparentSurroundCheck = new QCheckBox(QStringLiteral("周辺色を透明にする"), this);
  TransparentSurroundCheck->setObjectName(QStringLiteral("TransparentSurroundCheck"));
  TransparentSurroundCheck->setGeometry(8, row + 30, 153, 24);
  RepeatSweepsCheck = new QCheckBox(QStringLiteral("細くなるまで繰り返す"), this);
  RepeatSweepsCheck->setObjectName(QStringLiteral("RepeatSweepsCheck"));
  RepeatSweepsCheck->setGeometry(8, row + 56, 153, 24);

  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, Button4);
  setTabOrder(Button4, ToleranceSpin);
  setTabOrder(ToleranceSpin, TransparentSurroundCheck);
  setTabOrder(TransparentSurroundCheck, RepeatSweepsCheck);

  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
  connect(Button4, &QPushButton::clicked, this, [this] { Guarded([this] { Button4Click(); }); });

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TColor TForm2::TargetColor() const {
  return Shape1->BrushColor();
}
TColor TForm2::SurroundColor() const {
  return Shape2->BrushColor();
}

ThinningOptions TForm2::Options() const {
  ThinningOptions options;
  options.tolerance = ToleranceSpin->value();
  options.transparent_surround = TransparentSurroundCheck->isChecked();
  if (RepeatSweepsCheck->isChecked()) options.sweeps = kSweepsAll;
  return options;
}

void TForm2::Button1Click() {
  ScreenCursor::Instance().SetCursor(crDrag);
}

void TForm2::Button2Click() {
  ScreenCursor::Instance().SetCursor(crMultiDrag);
}

void TForm2::Button3Click() {
  ScreenCursor::Instance().SetCursor(crDefault);
  hide();
}

void TForm2::Button4Click() {
  if (ColorDialog1.Execute(this)) Shape2->SetBrushColor(ColorDialog1.Color);
}

void TForm2::PickEnded() {
  if (!isVisible()) return;
  Button3->setFocus(Qt::OtherFocusReason);
  activateWindow();
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Before the window is mapped, so that the window manager frames it so.
  RequestFrameWithoutButtons(*this);
  Button3->setFocus(Qt::OtherFocusReason);
}

}  // namespace kevrale
