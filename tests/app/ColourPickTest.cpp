// The colour settings window and colour picking on the picture through the
// pick mode that the application-wide cursor holds.
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest/QTest>

#include "MainWindowFixture.h"
#include "app/TImage.h"
#include "app/TShape.h"
#include "picture/TIcon.h"

namespace kevrale::test {
namespace {

class ColourPickTest : public MainWindowFixture {
 protected:
  // A picture whose pixel (1, 1) is red and (4, 3) green, on white.
  void OpenColouredPicture() {
    TBitmap bitmap(8, 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) bitmap.SetPixel(x, y, clWhite);
    bitmap.SetPixel(1, 1, kRed);
    bitmap.SetPixel(4, 3, kGreen);
    const QString path = Path("colours.bmp");
    bitmap.SaveToFile(path.toStdString());
    services_->file_answers = {path};
    form1_->Open1->trigger();
    ASSERT_EQ(form1_->Picture().Width(), 8);
  }
  void Press(Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QTest::mousePress(form1_->Image, button, keys, at);
    QTest::mouseRelease(form1_->Image, button, keys, at);
  }
  TCursor Mode() const { return ScreenCursor::Instance().Cursor(); }
};

// The next widget that the Tab key reaches; the parts of a compound
// widget (the text field of a spin box) are not stops of their own.
QWidget* NextTabStop(QWidget* widget) {
  QWidget* next = widget->nextInFocusChain();
  while (next != widget && (!(next->focusPolicy() & Qt::TabFocus) || widget->isAncestorOf(next)))
    next = next->nextInFocusChain();
  return next;
}

TEST_F(ColourPickTest, WindowLayoutKeepsItsPlacesAndSizes) {
  EXPECT_EQ(form2_->windowTitle(), "色の設定");
  // 165 x 182 for the colours, grown by the row of the thinning options.
  EXPECT_EQ(form2_->size(), QSize(165, 182 + TForm2::kOptionsRowHeight));
  const Qt::WindowFlags flags = form2_->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  // A dialog frame without any title-bar button.
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(form2_->isVisible());

  EXPECT_EQ(form2_->Label1->text(), "対象色は画像から選択");
  EXPECT_EQ(form2_->Label1->pos(), QPoint(8, 8));
  EXPECT_EQ(form2_->Label2->text(), "周辺色は画像かﾊﾟﾚｯﾄから");
  EXPECT_EQ(form2_->Label2->pos(), QPoint(8, 32));
  EXPECT_EQ(form2_->Button1->text(), "対象色");
  EXPECT_EQ(form2_->Button1->geometry(), QRect(8, 64, 73, 25));
  EXPECT_EQ(form2_->Shape1->geometry(), QRect(88, 64, 25, 25));
  EXPECT_EQ(form2_->Button2->text(), "周辺色");
  EXPECT_EQ(form2_->Button2->geometry(), QRect(8, 104, 73, 25));
  EXPECT_EQ(form2_->Shape2->geometry(), QRect(88, 104, 25, 25));
  EXPECT_EQ(form2_->Button4->text(), "ﾊﾟﾚｯﾄ");
  EXPECT_EQ(form2_->Button4->geometry(), QRect(120, 104, 41, 25));
  EXPECT_EQ(form2_->Button3->text(), "OK");
  EXPECT_EQ(form2_->Button3->geometry(), QRect(40, 136, 73, 33));
  EXPECT_EQ(form2_->TargetColor(), clBlack);
  EXPECT_EQ(form2_->SurroundColor(), clWhite);

  // Tab order 0 to 3: 対象色, 周辺色, OK, ﾊﾟﾚｯﾄ, then the row below; OK has
  // the focus on opening.
  EXPECT_EQ(NextTabStop(form2_->Button1), form2_->Button2);
  EXPECT_EQ(NextTabStop(form2_->Button2), form2_->Button3);
  EXPECT_EQ(NextTabStop(form2_->Button3), form2_->Button4);
  EXPECT_EQ(NextTabStop(form2_->Button4), form2_->ToleranceSpin);
  EXPECT_EQ(NextTabStop(form2_->ToleranceSpin), form2_->TransparentSurroundCheck);
  EXPECT_EQ(NextTabStop(form2_->TransparentSurroundCheck), form2_->RepeatSweepsCheck);
  EXPECT_EQ(NextTabStop(form2_->RepeatSweepsCheck), form2_->Button1);
  form1_->N2->trigger();
  EXPECT_EQ(form2_->focusWidget(), form2_->Button3);
}

TEST_F(ColourPickTest, DragAndMultiDragShapesDifferFromEachOtherAndTheDefault) {
  const QImage drag = ScreenCursor::ShapeOf(crDrag).pixmap().toImage();
  const QImage multi = ScreenCursor::ShapeOf(crMultiDrag).pixmap().toImage();
  EXPECT_EQ(ScreenCursor::ShapeOf(crDrag).shape(), Qt::BitmapCursor);
  EXPECT_EQ(ScreenCursor::ShapeOf(crMultiDrag).shape(), Qt::BitmapCursor);
  EXPECT_FALSE(drag.isNull());
  EXPECT_NE(drag, multi);
  EXPECT_EQ(ScreenCursor::ShapeOf(crDefault).shape(), Qt::ArrowCursor);
  EXPECT_EQ(ScreenCursor::ShapeOf(crHourGlass).shape(), Qt::WaitCursor);

  // The pick mode shows over every window through the override cursor.
  form2_->Button1->click();
  EXPECT_EQ(Mode(), crDrag);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->pixmap().toImage(), drag);
  form2_->Button2->click();
  EXPECT_EQ(Mode(), crMultiDrag);
  EXPECT_EQ(QGuiApplication::overrideCursor()->pixmap().toImage(), multi);
  form2_->Button3->click();
  EXPECT_EQ(Mode(), crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ColourPickTest, TargetPickWithTheLeftButtonAndSurroundPickWithTheRight) {
  OpenColouredPicture();
  form2_->Button1->click();
  Press(Qt::LeftButton, {1, 1});
  EXPECT_EQ(form2_->TargetColor(), kRed);
  EXPECT_EQ(form2_->SurroundColor(), clWhite);
  EXPECT_EQ(Mode(), crDefault);

  form2_->Button2->click();
  Press(Qt::RightButton, {1, 1}, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(form2_->SurroundColor(), kRed);
  EXPECT_EQ(form2_->TargetColor(), kRed);
  EXPECT_EQ(Mode(), crDefault);
  EXPECT_TRUE(services_->messages.empty());
}

// Clicks a button of the colour settings with the mouse, which also gives it
// the focus, as a user's click does.
void ClickWithMouse(QPushButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

TEST_F(ColourPickTest, AfterAPickOkIsTheDefaultButtonAndEnterClosesTheWindow) {
  OpenColouredPicture();
  form1_->N2->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form2_.get()));
  // The palette, then a target pick: each button takes the focus, and with
  // it the default-button frame, as it is clicked.
  services_->color_answers = {0x123456u};
  ClickWithMouse(form2_->Button4);
  ClickWithMouse(form2_->Button1);
  ASSERT_EQ(form2_->focusWidget(), form2_->Button1);
  ASSERT_EQ(Mode(), crDrag);
  form1_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1_.get()));
  Press(Qt::LeftButton, {1, 1});
  ASSERT_EQ(form2_->TargetColor(), kRed);

  // The colour settings have the keyboard again, with "OK" framed.
  EXPECT_TRUE(QTest::qWaitForWindowActive(form2_.get()));
  EXPECT_EQ(form2_->focusWidget(), form2_->Button3);
  EXPECT_TRUE(form2_->Button3->isDefault());
  EXPECT_FALSE(form2_->Button1->isDefault());
  EXPECT_FALSE(form2_->Button4->isDefault());
  QTest::keyClick(form2_.get(), Qt::Key_Return);
  EXPECT_FALSE(form2_->isVisible());
  EXPECT_EQ(Mode(), crDefault);
  EXPECT_EQ(form2_->TargetColor(), kRed);
}

TEST_F(ColourPickTest, AClickOnThePictureWithoutAPickLeavesTheKeyboardWhereItIs) {
  OpenColouredPicture();
  form1_->N2->trigger();
  form1_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1_.get()));
  Press(Qt::LeftButton, {1, 1});
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::activeWindow(), form1_.get());
}

TEST_F(ColourPickTest, PressingTheOtherButtonSwitchesThePendingPick) {
  OpenColouredPicture();
  form2_->Button1->click();
  form2_->Button2->click();
  Press(Qt::MiddleButton, {4, 3});
  EXPECT_EQ(form2_->SurroundColor(), kGreen);
  EXPECT_EQ(form2_->TargetColor(), clBlack);
}

TEST_F(ColourPickTest, AClickWithoutAPendingPickChangesNoColour) {
  OpenColouredPicture();
  Press(Qt::LeftButton, {1, 1});
  EXPECT_EQ(form2_->TargetColor(), clBlack);
  EXPECT_EQ(form2_->SurroundColor(), clWhite);
  EXPECT_EQ(Mode(), crDefault);
}

TEST_F(ColourPickTest, OkEndsThePickAndHidesTheWindow) {
  OpenColouredPicture();
  form1_->N2->trigger();
  form2_->Button1->click();
  form2_->Button3->click();
  EXPECT_FALSE(form2_->isVisible());
  EXPECT_EQ(Mode(), crDefault);
  Press(Qt::LeftButton, {1, 1});
  EXPECT_EQ(form2_->TargetColor(), clBlack);
}

TEST_F(ColourPickTest, PaletteWhileATargetPickIsPendingSetsOnlyTheSurroundColour) {
  form2_->Button1->click();
  services_->color_answers = {0x123456u, std::nullopt, 0x00FF00u};
  form2_->Button4->click();
  EXPECT_EQ(form2_->SurroundColor(), 0x123456u);
  EXPECT_EQ(form2_->TargetColor(), clBlack);
  EXPECT_EQ(Mode(), crDrag);

  form2_->Shape2->SetBrushColor(clWhite);
  form2_->Button4->click();  // cancelled
  EXPECT_EQ(form2_->SurroundColor(), clWhite);
  form2_->Button4->click();
  EXPECT_EQ(form2_->SurroundColor(), 0x00FF00u);
  // The chooser opens on its last confirmed colour, black at first, not on
  // the surround colour.
  EXPECT_EQ(services_->color_requests, (std::vector<TColor>{clBlack, 0x123456u, 0x123456u}));
  EXPECT_EQ(Mode(), crDrag);
}

TEST_F(ColourPickTest, APickBesideTheEmptyPictureChangesNothingAndEndsThePick) {
  ASSERT_EQ(form1_->Picture().Width(), 0);
  form2_->Button1->click();
  Press(Qt::LeftButton, {100, 100});
  EXPECT_EQ(form2_->TargetColor(), clBlack);
  EXPECT_EQ(Mode(), crDefault);

  // Also beside a picture smaller than the control.
  OpenColouredPicture();
  form1_->Image->resize(50, 50);
  form2_->Button2->click();
  Press(Qt::LeftButton, {20, 20});
  EXPECT_EQ(form2_->SurroundColor(), clWhite);
  EXPECT_EQ(Mode(), crDefault);
  EXPECT_TRUE(services_->messages.empty());
}

TEST_F(ColourPickTest, APickOnAGraphicThatIsNotABitmapFailsAndStaysPending) {
  form1_->Picture().SetGraphic(std::make_unique<TIcon>());
  form2_->Button2->click();
  Press(Qt::LeftButton, {0, 0});
  ASSERT_EQ(services_->messages.size(), 1u);
  EXPECT_EQ(services_->messages[0].text, "ビットマップを持っている時のみイメージの変更が可能です");
  EXPECT_EQ(form2_->SurroundColor(), clWhite);
  EXPECT_EQ(Mode(), crMultiDrag);
}

TEST_F(ColourPickTest, RunningTheThinningEndsAPendingPick) {
  OpenColouredPicture();
  form2_->Button1->click();
  form1_->N4->trigger();
  EXPECT_EQ(Mode(), crDefault);
  Press(Qt::LeftButton, {1, 1});
  EXPECT_EQ(form2_->TargetColor(), clBlack);
}

}  // namespace
}  // namespace kevrale::test
