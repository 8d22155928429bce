// The zoom of the main window's view: the steps, the pixel under the mouse
// staying in place, the colour pick through the zoom, sharp squares above
// 100 % and smoothing below, and a new picture at 100 %.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "MainWindowFixture.h"
#include "app/TImage.h"
#include "app/TShape.h"
#include "app/ZoomView.h"

namespace kevrale::test {
namespace {

// A colour of its own for every pixel of a picture up to 256 x 256.
TColor ColourOf(int x, int y) {
  return RGB(uint8_t(x), uint8_t(y), uint8_t(x * 7 + y * 3));
}

class ZoomTest : public MainWindowFixture {
 protected:
  void OpenDistinct(int width, int height) {
    TBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, ColourOf(x, y));
    const QString path = Path("distinct.bmp");
    bitmap.SaveToFile(path.toStdString());
    services_->file_answers = {path};
    form1_->Open1->trigger();
    ASSERT_EQ(form1_->Picture().Width(), width);
  }
  // Turns the mouse wheel by `notches` with Ctrl held, at a point of the
  // scroll box's viewport.
  void CtrlWheel(QPoint at, int notches, Qt::KeyboardModifiers keys = Qt::ControlModifier) {
    QWidget* viewport = form1_->ScrollBox1->viewport();
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, keys, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
  }
  // The picture pixel under a point of the viewport.
  QPoint PixelUnder(QPoint at) const {
    return form1_->Image->PixelAt(QPointF(at - form1_->Image->pos()));
  }
  TImage& Image() const { return *form1_->Image; }
  double Zoom() const { return form1_->ImageZoom->Zoom(); }
};

TEST(ZoomSteps, GoBySquareRootOfTwoBetweenAnEighthAndThirtyTwo) {
  double zoom = 1;
  QStringList up;
  for (int i = 0; i < 11; ++i) up << ZoomView::ZoomText(zoom = ZoomView::NextZoom(zoom, 1));
  EXPECT_EQ(up, QStringList({"141%", "200%", "283%", "400%", "566%", "800%", "1131%", "1600%",
                             "2263%", "3200%", "3200%"}));
  zoom = 1;
  QStringList down;
  for (int i = 0; i < 7; ++i) down << ZoomView::ZoomText(zoom = ZoomView::NextZoom(zoom, -1));
  EXPECT_EQ(down, QStringList({"70.7%", "50%", "35.4%", "25%", "17.7%", "12.5%", "12.5%"}));
  EXPECT_EQ(ZoomView::NextZoom(2, 2), 4);
  EXPECT_EQ(ZoomView::NextZoom(0.25, -2), 0.125);
  // A factor between two steps goes to the next step in either direction.
  EXPECT_EQ(ZoomView::NextZoom(3.0, 1), 4);
  EXPECT_NEAR(ZoomView::NextZoom(3.0, -1), 2.828, 1e-3);
  EXPECT_EQ(ZoomView::NextZoom(1000, -1), 32);
}

TEST_F(ZoomTest, CtrlWheelKeepsThePixelUnderTheMouseInPlace) {
  OpenDistinct(700, 500);
  for (const QPoint mouse : {QPoint(150, 90), QPoint(3, 370), QPoint(580, 1)}) {
    SCOPED_TRACE(testing::Message() << mouse.x() << "," << mouse.y());
    for (const int notches : {1, 1, 3, 2, 1, -1, -4, -3, -2, -4, 1, 6}) {
      SCOPED_TRACE(notches);
      const QPoint under = PixelUnder(mouse);
      const double before = Zoom();
      CtrlWheel(mouse, notches);
      // Below 100 % the picture fits the scroll box and sits at its top-left
      // corner: there is nothing to scroll by.
      if (before >= 1 && Zoom() >= 1) {
        EXPECT_EQ(PixelUnder(mouse), under) << before << " to " << Zoom();
      }
    }
    CtrlWheel(mouse, -6);
  }
  form1_->ImageZoom->Reset();
  CtrlWheel(QPoint(150, 90), 6);
  EXPECT_EQ(Zoom(), 8);
  EXPECT_EQ(Image().size(), QSize(5600, 4000));
  EXPECT_TRUE(form1_->ImageZoom->Note->isVisible());
  EXPECT_EQ(form1_->ImageZoom->Note->text(), "800%");

  // Without Ctrl the wheel scrolls as before.
  form1_->ScrollBox1->verticalScrollBar()->setValue(0);
  CtrlWheel(QPoint(5, 5), -1, Qt::NoModifier);
  EXPECT_GT(form1_->ScrollBox1->verticalScrollBar()->value(), 0);
  EXPECT_EQ(Zoom(), 8);
}

TEST_F(ZoomTest, CtrlPlusMinusAndZeroOnTheWindow) {
  OpenDistinct(40, 30);
  form1_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form1_.get()));
  QTest::keyClick(form1_.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_NEAR(Zoom(), 1.414, 1e-3);
  QTest::keyClick(form1_.get(), Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(Zoom(), 2);
  EXPECT_EQ(Image().size(), QSize(80, 60));
  QTest::keyClick(form1_.get(), Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(form1_.get(), Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(form1_.get(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_NEAR(Zoom(), 0.707, 1e-3);
  QTest::keyClick(form1_.get(), Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(Zoom(), 1);
  EXPECT_EQ(Image().size(), QSize(40, 30));
  // The menus gained nothing.
  EXPECT_EQ(form1_->copy1->actions().size(), 2);
  EXPECT_EQ(form1_->File1->actions().size(), 6);
}

TEST_F(ZoomTest, APickTakesThePixelUnderTheMouseAtAnyZoom) {
  OpenDistinct(64, 48);
  const struct {
    double zoom;
    QPoint at;        // a point of the image control
    QPoint expected;  // the pixel picked
  } kCases[] = {
      // (QTest takes the point (0, 0) for the control's middle.)
      {1, {0, 1}, {0, 1}},         {1, {63, 47}, {63, 47}},      {1, {17, 9}, {17, 9}},
      {0.125, {0, 1}, {4, 12}},    {0.125, {3, 2}, {28, 20}},    {0.125, {7, 5}, {60, 44}},
      {3.0, {1, 1}, {0, 0}},       {3.0, {2, 2}, {0, 0}},        {3.0, {3, 5}, {1, 1}},
      {3.0, {191, 143}, {63, 47}}, {3.0, {100, 50}, {33, 16}},   {32, {31, 31}, {0, 0}},
      {32, {32, 0}, {1, 0}},       {32, {2047, 1535}, {63, 47}}, {32, {1000, 700}, {31, 21}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.zoom << " at " << c.at.x() << "," << c.at.y());
    Image().SetZoom(c.zoom);
    ASSERT_EQ(Image().PixelAt(c.at), c.expected);
    form2_->Button1->click();
    QTest::mousePress(&Image(), Qt::LeftButton, Qt::NoModifier, c.at);
    QTest::mouseRelease(&Image(), Qt::LeftButton, Qt::NoModifier, c.at);
    EXPECT_EQ(form2_->TargetColor(), ColourOf(c.expected.x(), c.expected.y()));
    // At 100 % and above the pixel picked is the one drawn there.
    if (c.zoom >= 1) {
      const QColor drawn = Image().grab(QRect(c.at, QSize(1, 1))).toImage().pixelColor(0, 0);
      EXPECT_EQ(RGB(uint8_t(drawn.red()), uint8_t(drawn.green()), uint8_t(drawn.blue())),
                form2_->TargetColor());
    }
  }
  // Beside the picture nothing is picked, also when zoomed.
  Image().SetZoom(2);
  form2_->Shape1->SetBrushColor(clBlack);
  form2_->Button1->click();
  QTest::mouseClick(&Image(), Qt::LeftButton, Qt::NoModifier, QPoint(-3, 5));
  EXPECT_EQ(form2_->TargetColor(), clBlack);
}

// A one-pixel black line on white: above 100 % each pixel is a square with
// sharp edges; below, the line is smoothed into grey, not dropped.
TEST_F(ZoomTest, SharpSquaresAboveOneHundredAndSmoothBelow) {
  TBitmap bitmap(64, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) bitmap.SetPixel(x, y, x == 9 ? clBlack : clWhite);
  bitmap.SaveToFile(Path("line.bmp").toStdString());
  services_->file_answers = {Path("line.bmp")};
  form1_->Open1->trigger();

  Image().SetZoom(4);
  QImage shown = Image().grab(QRect(0, 0, 64, 8)).toImage();
  for (int x = 32; x < 44; ++x) {
    SCOPED_TRACE(x);
    const int grey = qGray(shown.pixel(x, 4));
    EXPECT_EQ(grey, x >= 36 && x < 40 ? 0 : 255);
  }
  for (const double zoom : {0.5, 0.125}) {
    SCOPED_TRACE(zoom);
    Image().SetZoom(zoom);
    shown = Image().grab(QRect(QPoint(0, 0), Image().size())).toImage();
    int darkest = 255;
    for (int x = 0; x < shown.width(); ++x) darkest = std::min(darkest, qGray(shown.pixel(x, 1)));
    EXPECT_GT(darkest, 0);
    EXPECT_LT(darkest, 250);
  }
}

// A control cannot be longer than QWIDGETSIZE_MAX: a picture of 600000
// pixels zooms in only as far as it fits whole, and its last pixel is
// still picked.
TEST_F(ZoomTest, AVeryLongPictureZoomsInOnlyAsFarAsItFits) {
  QImage strip(600000, 1, QImage::Format_RGB32);
  strip.fill(Qt::white);
  strip.setPixel(599999, 0, qRgb(255, 0, 0));
  services_->clipboard_has_image = true;
  services_->clipboard_image = strip;
  form1_->paste1->trigger();
  Image().SetZoom(32);
  EXPECT_GT(Zoom(), 20);
  EXPECT_LT(Zoom(), 32);
  EXPECT_LE(Image().width(), QWIDGETSIZE_MAX);
  EXPECT_EQ(Image().PixelAt(QPointF(Image().width() - 1, 0)), QPoint(599999, 0));
}

TEST_F(ZoomTest, ANewPictureStartsAtOneHundredPercentAtItsTopLeft) {
  OpenDistinct(300, 200);
  CtrlWheel(QPoint(100, 80), 4);
  ASSERT_EQ(Zoom(), 4);
  ASSERT_GT(form1_->ScrollBox1->horizontalScrollBar()->value(), 0);
  services_->file_answers = {WriteBmp("next.bmp", 30, 20, kGreen)};
  form1_->Open1->trigger();
  EXPECT_EQ(Zoom(), 1);
  EXPECT_EQ(Image().size(), QSize(30, 20));
  EXPECT_EQ(form1_->ScrollBox1->horizontalScrollBar()->value(), 0);
  // A pasted picture too.
  CtrlWheel(QPoint(10, 10), 2);
  QImage pasted(7, 2, QImage::Format_RGB32);
  pasted.fill(Qt::blue);
  services_->clipboard_has_image = true;
  services_->clipboard_image = pasted;
  form1_->paste1->trigger();
  EXPECT_EQ(Zoom(), 1);
  EXPECT_EQ(Image().size(), QSize(7, 2));
}

}  // namespace
}  // namespace kevrale::test
