// A picture with transparency in the main window: drawn over a light
// checkerboard, picked by its stored colour, and copied and pasted through
// the real clipboard with its alpha.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QtTest/QTest>

#include <cstdlib>

#include "MainWindowFixture.h"
#include "app/TImage.h"
#include "app/TShape.h"
#include "desktop/QtDesktopServices.h"

namespace kevrale::test {
namespace {

using TransparencyTest = MainWindowFixture;

// A 32-bit bitmap in which every pixel is (colour, alpha).
TBitmap FilledArgb(int width, int height, TColor colour, uint8_t alpha) {
  TBitmap bitmap(width, height, TPixelFormat::pf32bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y, colour);
      bitmap.ScanLine(y)[4 * x + 3] = alpha;
    }
  return bitmap;
}

void SetAlpha(TBitmap& bitmap, int x, int y, uint8_t alpha) {
  bitmap.ScanLine(y)[4 * x + 3] = alpha;
}

uint8_t AlphaOf(const TBitmap& bitmap, int x, int y) {
  return bitmap.HasAlpha() ? bitmap.ScanLine(y)[4 * x + 3] : 0xFF;
}

// What the control shows on screen.
QImage Rendered(TImage& image) {
  return image.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool Near(QRgb a, QRgb b, int slack = 2) {
  return std::abs(qRed(a) - qRed(b)) <= slack && std::abs(qGreen(a) - qGreen(b)) <= slack &&
         std::abs(qBlue(a) - qBlue(b)) <= slack;
}

TEST_F(TransparencyTest, ATransparentPngShowsTheCheckerboardBehindItsTransparentPixels) {
  // Transparent pixels that store black, as line-art exports often do.
  QImage art(24, 16, QImage::Format_ARGB32);
  art.fill(QColor(0, 0, 0, 0));
  art.setPixelColor(1, 1, QColor(255, 0, 0));
  art.setPixelColor(12, 2, QColor(0, 0, 0, 128));
  const QString path = Path("art.png");
  ASSERT_TRUE(art.save(path));
  services_->file_answers = {path};
  form1_->Open1->trigger();
  ASSERT_TRUE(services_->messages.empty()) << services_->messages[0].text.toStdString();
  ASSERT_TRUE(form1_->Picture().Bitmap().HasAlpha());

  const QImage shown = Rendered(*form1_->Image);
  ASSERT_EQ(shown.size(), QSize(24, 16));
  const int n = TImage::kCheckerSize;
  // Squares of two light greys, the top-left one the lighter.
  EXPECT_EQ(shown.pixel(0, 0), TImage::kCheckerLight);
  EXPECT_EQ(shown.pixel(n, 0), TImage::kCheckerDark);
  EXPECT_EQ(shown.pixel(0, n), TImage::kCheckerDark);
  EXPECT_EQ(shown.pixel(n, n), TImage::kCheckerLight);
  EXPECT_EQ(shown.pixel(2 * n + 3, n - 1), TImage::kCheckerLight);
  EXPECT_NE(TImage::kCheckerLight, TImage::kCheckerDark);
  // An opaque pixel covers it, a half transparent one is blended over it.
  EXPECT_EQ(shown.pixel(1, 1), qRgb(255, 0, 0));
  EXPECT_TRUE(Near(shown.pixel(12, 2), qRgb(0x66, 0x66, 0x66))) << std::hex << shown.pixel(12, 2);
}

TEST_F(TransparencyTest, AnOpaquePictureShowsNoCheckerboard) {
  services_->file_answers = {WriteBmp("white.bmp", 24, 16, clWhite)};
  form1_->Open1->trigger();
  const QImage shown = Rendered(*form1_->Image);
  EXPECT_EQ(shown.pixel(TImage::kCheckerSize, 0), qRgb(255, 255, 255));
  EXPECT_EQ(shown.pixel(1, 1), qRgb(0, 0, 0));
}

TEST_F(TransparencyTest, APickReadsTheStoredColourOfATransparentPixel) {
  TBitmap bitmap = FilledArgb(10, 10, 0xFF0000, 0);  // blue, fully transparent
  form1_->Picture().SetGraphic(std::make_unique<TBitmap>(bitmap));
  form2_->Button2->click();
  QTest::mouseClick(form1_->Image, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
  EXPECT_EQ(form2_->SurroundColor(), 0xFF0000u);
}

class TransparencyClipboardTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    scripted_ = SetServices(std::make_unique<QtDesktopServices>());
  }
  void TearDown() override {
    SetServices(std::move(scripted_));
    MainWindowFixture::TearDown();
  }
  std::unique_ptr<DesktopServices> scripted_;
};

TEST_F(TransparencyClipboardTest, CopyAndPasteKeepTheAlphaOfEveryPixel) {
  TBitmap bitmap = FilledArgb(5, 3, clWhite, 0);
  bitmap.SetPixel(1, 1, clBlack);
  SetAlpha(bitmap, 1, 1, 0xFF);
  bitmap.SetPixel(3, 2, 0x0000FF);
  SetAlpha(bitmap, 3, 2, 100);
  form1_->Picture().SetGraphic(std::make_unique<TBitmap>(bitmap));
  form1_->copy2->trigger();

  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(5, 3));
  ASSERT_TRUE(copied.hasAlphaChannel());
  const QImage argb = copied.convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(argb.pixel(0, 0)), 0);
  EXPECT_EQ(argb.pixel(1, 1), qRgba(0, 0, 0, 255));
  EXPECT_EQ(qAlpha(argb.pixel(3, 2)), 100);

  form1_->Picture().SetGraphic(std::make_unique<TBitmap>(2, 2));
  form1_->paste1->trigger();
  const TBitmap& pasted = form1_->Picture().Bitmap();
  ASSERT_EQ(pasted.Width(), 5);
  ASSERT_TRUE(pasted.HasAlpha());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(AlphaOf(pasted, x, y), AlphaOf(bitmap, x, y));
  EXPECT_EQ(pasted.Pixel(1, 1), clBlack);
  EXPECT_EQ(pasted.Pixel(3, 2), 0x0000FFu);
}

TEST_F(TransparencyClipboardTest, AnImageWithAlphaFromAnotherProgramIsPastedWithIt) {
  // Other programs' images often arrive premultiplied.
  QImage image(4, 2, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0, 0, 0, 0));
  image.setPixelColor(2, 1, QColor(255, 0, 0, 128));
  QGuiApplication::clipboard()->setImage(image);
  form1_->paste1->trigger();
  const TBitmap& pasted = form1_->Picture().Bitmap();
  ASSERT_EQ(pasted.Width(), 4);
  ASSERT_TRUE(pasted.HasAlpha());
  EXPECT_EQ(AlphaOf(pasted, 0, 0), 0);
  EXPECT_EQ(AlphaOf(pasted, 2, 1), 128);
  EXPECT_EQ(pasted.Pixel(2, 1) & 0xFF, 0xFFu);  // red, unpremultiplied
}

TEST_F(TransparencyClipboardTest, AnOpaqueImageIsPastedWithoutAlpha) {
  QImage image(3, 3, QImage::Format_RGB32);
  image.fill(QColor(0, 255, 0));
  QGuiApplication::clipboard()->setImage(image);
  form1_->paste1->trigger();
  EXPECT_EQ(form1_->Picture().Width(), 3);
  EXPECT_FALSE(form1_->Picture().Bitmap().HasAlpha());
  EXPECT_EQ(form1_->Picture().Pixel(1, 1), 0x00FF00u);
}

}  // namespace
}  // namespace kevrale::test
